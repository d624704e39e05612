#pragma once

// The "Printer" choice beside the pause button: the profiles (shipped and the user's own), the
// chosen one and its pause settings, both remembered between runs, and the settings dialog.

#include "core/printer/PrinterProfiles.h"

#include <QObject>
#include <QString>

#include <functional>

class QComboBox;
class QDialog;
class QLabel;
class QPushButton;
class QRect;
class QToolButton;
class QWidget;

class PrinterChoice : public QObject
{
    Q_OBJECT

public:
    // Puts the combo box (cboxPrinter) and its settings button (sbtnPauseSettings) on parent, at
    // geometry, and its caption (lblPrinter) above it;
    // pauseButton's caption follows the chosen printer's pause command.
    PrinterChoice(QWidget* parent, const QRect& geometry, QPushButton* pauseButton);

    const PrinterProfile& profile() const;
    // The chosen printer's pause settings: as last set in the window, else its defaults.
    PauseSettings settings() const;
    void setSettings(const PauseSettings& settings);
    // Asks for a park position in the settings dialog, saying why; true when one was set.
    bool askPark(const QString& why);
    // While an asker is set, askPark hands it the dialog, open, instead of waiting for the user:
    // it sets the fields and accepts or rejects. Tests set one.
    using ParkAsker = std::function<void(QDialog& dialog)>;
    static void setParkAsker(ParkAsker asker);
    // Every profile file mistake, one per line; empty when there is none.
    QString problemText() const;
    // The caption of the pause button for a profile: "Pause Insert (M25)".
    static QString pauseCaption(const PrinterProfile& profile);
    // The file the choice and the settings are kept in.
    static QString settingsPath();

    QComboBox* combo() const { return m_combo; }
    QToolButton* settingsButton() const { return m_settingsButton; }

private:
    void chosen(int index);
    void editSettings();

    PrinterProfiles m_profiles;
    QComboBox* m_combo = nullptr;
    QLabel* m_label = nullptr;
    QToolButton* m_settingsButton = nullptr;
    QPushButton* m_pauseButton = nullptr;
};
