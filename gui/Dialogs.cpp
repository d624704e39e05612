#include "gui/Dialogs.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QSaveFile>

namespace Dialogs {

namespace {

Answerer& answerer()
{
    static Answerer instance;
    return instance;
}

int showBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
            QMessageBox::StandardButtons buttons)
{
    const QPointer<QWidget> owner = QApplication::activeWindow();
    if (answerer())
        return answerer()(BoxRequest{caption, text, icon, buttons, owner});
    QMessageBox box(icon, caption, text, buttons, owner);
    const int answer = box.exec();
    // Not every window system gives the activation back when a modal box closes.
    if (owner)
        owner->activateWindow();
    return answer;
}

void showOpenError(const QString& path)
{
    showBox(QMessageBox::NoIcon, QStringLiteral("File Open Error"), QStringLiteral("No Open ") + path,
            QMessageBox::Ok);
}

} // namespace

bool OpenForRead(QFile& file, const QString& path)
{
    file.setFileName(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        showOpenError(path);
        return false;
    }
    return true;
}

bool OpenForWrite(QSaveFile& file, const QString& path)
{
    file.setFileName(path);
    if (path.isEmpty() || !file.open(QIODevice::WriteOnly)) {
        showOpenError(path);
        return false;
    }
    return true;
}

qint64 FileLength(const QFile& file)
{
    return file.isOpen() ? file.size() : -1;
}

void ShowNotice(const QString& text)
{
    showBox(QMessageBox::NoIcon, QStringLiteral("Message"), text, QMessageBox::Ok);
}

int AskOkCancel(const QString& text)
{
    const int answer =
        showBox(QMessageBox::NoIcon, QStringLiteral("Message"), text, QMessageBox::Ok | QMessageBox::Cancel);
    return answer == QMessageBox::Ok ? 1 : 2;
}

void ShowError(const QString& caption, const QString& text)
{
    showBox(QMessageBox::Warning, caption, text, QMessageBox::Ok);
}

void ShowCritical(const QString& caption, const QString& text)
{
    showBox(QMessageBox::Critical, caption, text, QMessageBox::Ok);
}

void setAnswerer(Answerer next)
{
    answerer() = std::move(next);
}

} // namespace Dialogs
