#pragma once

// What the print does in the editor's current text: its layers, the rows that pause, set a
// temperature or change tool, and the ruler's marks of them. Each is found again only when the
// text changed since it was found (rows inserted, taken back or typed), and rows the program
// inserts are followed instead of found again. Painting asks whether they are current; when not,
// they are found once the text has been still for a moment and refreshed() tells the views.

#include "core/gcode/LayerIndex.h"
#include "core/gcode/PrintEvents.h"
#include "gui/LayerRuler.h"

#include <QObject>

#include <vector>

class EditBuffer;
class QTimer;

class PrintModel : public QObject
{
    Q_OBJECT

public:
    explicit PrintModel(EditBuffer& text, QObject* parent = nullptr);

    // The layers of the current text, built now when they are not current.
    const LayerIndex& layers();
    // The marked rows of the current text, found now when they are not current.
    const std::vector<PrintEvents::Event>& events();
    // The ruler's marks: the events and the inserted lines by layer. Only while current(true).
    const std::vector<LayerRuler::Mark>& rulerMarks();

    // Takes layers built from the text the editor holds now (a load's background index).
    void adoptLayers(LayerIndex layers);
    // The editor's revision, to be handed to rowsInserted after an insertion.
    quint64 revision() const;
    // After count rows went in at row on the text of revisionBefore: what was found for that
    // text follows them (none of the program's lines is a move, so the layers only shift).
    void rowsInserted(quint64 revisionBefore, int row, int count);

    // Whether the layers (and, withEvents, the events) match the text without a pass over it;
    // when not, they are found shortly and refreshed() is sent.
    bool current(bool withEvents);

signals:
    void refreshed();

private:
    EditBuffer& m_text;
    static constexpr quint64 kNever = ~quint64(0);
    LayerIndex m_layers;
    quint64 m_layersRevision = kNever;
    std::vector<PrintEvents::Event> m_events;
    quint64 m_eventsRevision = kNever;
    std::vector<LayerRuler::Mark> m_rulerMarks;
    quint64 m_rulerMarksRevision = kNever;
    QTimer* m_refreshTimer = nullptr;
    quint64 m_pendingRevision = kNever;
};
