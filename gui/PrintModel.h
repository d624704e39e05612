#pragma once

// What the print does in the editor's current text: its layers, the rows that pause, set a
// temperature or change tool, and the ruler's marks of them. Every edit (the program's lines,
// typing, pasting, undo and redo) is followed on the rows it touched: the marks of those rows are
// read again and the layers move with the rows below. Only an edit that changes what the layers
// are made of (a move's height or extrusion, a mode) leaves the layers to be found again by a
// pass over the text; painting asks whether they are current, and when not they are found once the
// text has been still for a moment and refreshed() tells the views.

#include "core/layers/LayerIndex.h"
#include "core/gcode/PrintEvents.h"
#include "gui/LayerRuler.h"

#include <QObject>

#include <optional>
#include <string>
#include <string_view>
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

    // Takes layers built from the text the editor holds now (a load's background index, right
    // after the editor took the new body); the marks are found again.
    void adoptLayers(LayerIndex layers);

    // The next edit puts in rows that extrude nothing and leave the height, E and the modes as
    // they found them, lifting on the way to liftedTo (a pause's park-and-resume block); none:
    // no such rows are expected. Their moves then change no layer unless one lies at liftedTo,
    // where the lift could take its change: the layers below only move down.
    void expectRestoringRows(std::optional<double> liftedTo) { m_restoringLift = liftedTo; }

    // Whether the layers (and, withEvents, the events) match the text without a pass over it;
    // when not, they are found shortly and refreshed() is sent.
    bool current(bool withEvents);

signals:
    void refreshed();

private:
    // An edit Scintilla is about to make: the rows it touches and what they did to the layers.
    struct Edit
    {
        int first = 0;
        int last = 0;
        int rowsBefore = 0; // the editor's row count before the edit
        std::vector<std::string> effects;
        bool insertsRows = false;            // text put in at the start of row first, nothing taken out
        std::optional<double> restoringLift; // see expectRestoringRows
    };
    // Whether the rows the insertion put in front of edit.first leave the layers as they were.
    bool insertedRowsKeepLayers(const Edit& edit, const std::vector<std::string>& effects) const;
    void beforeEdit(qsizetype position, qsizetype length, bool deletes);
    // Follows the edit noted last, now that the text holds its result.
    void followEdit();
    std::string_view rowView(int row, QByteArray& storage) const;

    EditBuffer& m_text;
    LayerIndex m_layers;
    bool m_layersValid = false;
    std::vector<PrintEvents::Event> m_events;
    bool m_eventsValid = false;
    std::vector<LayerRuler::Mark> m_rulerMarks;
    quint64 m_changes = 0; // counts every edit followed and every new finding
    quint64 m_rulerMarksChanges = ~quint64(0);
    std::optional<Edit> m_edit;
    std::optional<double> m_restoringLift;
    quint64 m_pendingChanges = ~quint64(0);
    QTimer* m_refreshTimer = nullptr;
};
