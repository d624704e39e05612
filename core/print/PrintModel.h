#pragma once

// What the print does in a text that is being edited, for every view of it: the layers, the rows
// that pause, set a temperature or change tool, the machine's state by checkpoints (a pause's
// block), the moves by checkpoints (the layer view), the hollows and the times into the print.
//
// The model is told once of each change of the text, before the text changes (aboutToChange:
// rows inserted, removed, typed over, undone or redone alike), and follows it on the rows it
// touched when it is next asked: the marks of those rows are read again and whatever lies below
// moves with the rows. An answer that a change could have altered is found again by a pass over
// the text when it is next asked for. Whoever changes the text tells the model; every view asks
// the model; so no view can describe another text than the others.

#include "core/gcode/PrintEvents.h"
#include "core/layers/HollowFinder.h"
#include "core/layers/LayerIndex.h"
#include "core/layers/MoveReader.h"
#include "core/machine/PauseIndex.h"
#include "core/machine/PrintTimes.h"
#include "core/print/PausePlan.h"

#include <QString>
#include <QtGlobal>

#include <optional>
#include <string>
#include <vector>

class RowSource;

class PrintModel
{
public:
    // text: the text followed; it outlives the model and tells it of each change.
    explicit PrintModel(const RowSource& text);

    // ---- Told of the text.

    // The text is about to change at position: length bytes taken out (removes) or put in.
    void aboutToChange(qsizetype position, qsizetype length, bool removes);
    // The text was replaced whole (a file opened); layers: those built from it beside the read.
    void textReplaced(std::optional<LayerIndex> layers = std::nullopt);

    // What the program's next insertion of whole rows is, when it knows: rows that hold no move
    // of the head that it does not undo (command lines, a pause's park-and-resume block), so the
    // moves after them only move down. restoringLift: the rows extrude nothing and leave the
    // height, E and the modes as they found them, lifting on the way to it: their moves change no
    // layer unless one lies at that height, where the lift could take its change. keepsMachine:
    // the machine's state after them is the state before, and their park a visited position.
    struct InsertedRows
    {
        std::optional<double> restoringLift;
        bool keepsMachine = false;
    };
    // Said right before the insertion; the next change takes it, whatever it is.
    void expectInsertedRows(const InsertedRows& rows) { m_expected = rows; }

    // Counts the changes told: a finding made elsewhere (a thread's) is kept only for the count it
    // was made at, and a view's drawing is redrawn when it moved.
    quint64 version() const { return m_version; }

    // ---- Answers.

    // The layers, built now when an edit changed what they are made of.
    const LayerIndex& layers();
    // The marked rows (pauses, temperatures, tool changes), found now when not current.
    const std::vector<PrintEvents::Event>& events();
    // Whether the layers (and, withEvents, the events) are there without a pass over the text.
    bool current(bool withEvents);

    // The pause request planned at row: the machine's state there read from the checkpoints,
    // which are built now when a change since made them stale.
    PausePlan pauseAt(int row, const PauseRequest& request);

    // The moves by checkpoints for reading any stretch of the text, and the filament diameter
    // they were read with, built now when not current.
    const Moves::Checkpoints& moveCheckpoints();
    double filamentDiameter();

    // Hollows found in the text as it was replaced (their roof rows only, see HollowFinder): the
    // changes since move their rows. hollows(): each with its layer, change row and height in
    // the text as it is, lowest closing layer first.
    // Hollows found for an earlier text's generation are dropped.
    void setHollows(std::vector<Hollow> foundInReplacedText, quint64 generation);
    const std::vector<Hollow>& hollows();

    // The times into the print are read on another thread from a copy of the text, for a printer's
    // limits, one reading at a time; the model keeps a reading only for the text it was made of.
    struct TimesReading
    {
        quint64 version = 0;
        QString printer;
    };
    // The reading to start now for printer, which the model then counts as under way: none when
    // the times held are for the text as it is and printer, or while a reading is under way (the
    // next is wanted when it ends).
    std::optional<TimesReading> timesToRead(const QString& printer);
    // A reading ended; it is kept when the text is still the one it read. Whether it was kept.
    bool timesRead(PrintTimes times, const TimesReading& reading);
    // The times for the text as it is and printer, or none.
    const PrintTimes* times(const QString& printer) const;

    // Counts the texts replaced: what was found in an earlier one's file (its hollows) is not taken.
    quint64 textGeneration() const { return m_generation; }

private:
    // A change told, to be followed once the text holds its result.
    struct Edit
    {
        int first = 0;
        int last = 0;       // the last row it touched, in the text before it
        int rowsBefore = 0; // the text's row count before it
        qsizetype position = 0;
        qsizetype length = 0;
        bool insertsRows = false;         // text put in at the start of row first, nothing taken out
        std::vector<std::string> effects; // each touched row's effect on the layers, when followed
        std::optional<InsertedRows> expected;
    };
    // How a followed change moved the rows: rows after last moved by newLast - last.
    struct RowShift
    {
        int first = 0;
        int last = 0;
        int newLast = 0;
        bool insertsRows = false;
        int moved(int row) const;
    };
    void followEdit();
    bool insertedRowsKeepLayers(const Edit& edit, const std::vector<std::string>& effects) const;

    const RowSource& m_text;
    quint64 m_version = 0;
    quint64 m_generation = 0;
    std::optional<Edit> m_edit;
    std::optional<InsertedRows> m_expected;

    LayerIndex m_layers;
    bool m_layersValid = false;
    std::vector<PrintEvents::Event> m_events;
    bool m_eventsValid = false;

    PauseIndex m_pauseIndex;
    bool m_pauseIndexValid = false;

    Moves::Checkpoints m_moveCheckpoints;
    double m_filamentDiameter = Moves::kDefaultFilamentDiameter;
    bool m_movesValid = false;

    std::vector<Hollow> m_hollowRoofs; // roof rows followed through the changes
    std::vector<Hollow> m_hollows;     // resolved against the layers
    bool m_hollowsValid = true;
    bool m_hollowsAwaited = false;               // the text was replaced and its hollows are not here
    std::vector<RowShift> m_shiftsSinceReplaced; // while they are awaited

    std::optional<PrintTimes> m_times;
    TimesReading m_timesRead;
    bool m_timesUnderWay = false;
};
