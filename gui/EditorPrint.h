#pragma once

// The print model of the editor's text (core/print/PrintModel): the editor's modification
// notifications tell it of every change (the program's lines, typing, pasting, undo and redo),
// before the change is made. What a view paints is asked with current(): when the layers or the
// events would take a pass over the text, they are found once the text has been still for a
// moment and refreshed() tells the views. The ruler's marks, which read the editor's markers of
// inserted rows, are made here.

#include "core/print/PrintModel.h"
#include "gui/LayerRuler.h"

#include <QObject>

#include <vector>

class EditBuffer;
class QTimer;

class EditorPrint : public QObject
{
    Q_OBJECT

public:
    explicit EditorPrint(EditBuffer& text, QObject* parent = nullptr);

    // The model, for every answer about the print.
    PrintModel& model() { return m_model; }

    const LayerIndex& layers() { return m_model.layers(); }
    const std::vector<PrintEvents::Event>& events() { return m_model.events(); }
    // The ruler's marks: the events and the inserted lines by layer. Only while current(true).
    const std::vector<LayerRuler::Mark>& rulerMarks();

    // The editor took a new body; layers: built from it beside the read.
    void textReplaced(std::optional<LayerIndex> layers = std::nullopt);

    // Whether the layers (and, withEvents, the events) match the text without a pass over it;
    // when not, they are found shortly and refreshed() is sent.
    bool current(bool withEvents);

signals:
    void refreshed();

private:
    EditBuffer& m_text;
    PrintModel m_model;
    std::vector<LayerRuler::Mark> m_rulerMarks;
    quint64 m_rulerMarksVersion = ~quint64(0);
    quint64 m_pendingVersion = ~quint64(0);
    QTimer* m_refreshTimer = nullptr;
};
