#pragma once

// "Pause at this row", written once for the window and the batch mode: given the printer, its
// pause settings, the message for the printer's screen and the machine's state at the row, the
// lines that go in, the notes on what was chosen or left out, what the message area says of
// them, and whether they leave the machine as they found it. The state at the row comes from
// the caller: the print model's checkpoints (the window) or a pass down the file with the lines
// put in above (the batch mode).

#include "core/machine/PauseContext.h"
#include "core/printer/PauseBlock.h"
#include "core/printer/PrinterProfiles.h"

#include <QString>
#include <QStringList>

#include <optional>

struct BedShape;

struct PauseRequest
{
    PrinterProfile printer;
    PauseSettings settings;
    QString message; // the text on the printer's screen while it waits; empty: none
};

struct PausePlan
{
    QStringList lines; // top to bottom, the message's line before the pause line
    // The printer's own block and summary; false for the default printer's lone pause line,
    // which the message area tells plainly.
    bool ofPrinter = false;
    PauseBlock block;  // how it was built: parked, where, the lifted height
    QStringList notes; // what was chosen or left out, and a bed that does not hold the print
    // The block leaves the machine as it found it, lifting to this height on the way, as the layer
    // pass reads it too: the layers below it only move (see PrintModel::expectInsertedRows).
    std::optional<double> restoringLift;
    // The state after the lines is the state before them, and the park was a position the file
    // already visited: the machine's checkpoints after them only move.
    bool keepsMachine = false;
    qsizetype pauseLine = -1; // the index of the pause line among lines, when there are more

    // False when the park lies over the print and none was given: such a block never goes in
    // silently (the window asks for a park, the batch mode refuses); refusal() says why. Its
    // lines are made all the same.
    bool parkClear() const { return block.parkClear; }
    QString refusal() const { return block.notes.value(0); }
    // "park at X10 Y200 Z12.400, M117 Change, M0, back; 14 lines. Note: ..." of a printer's
    // block, or "M0; 1 line" of a lone pause line of a chosen printer.
    QString description() const;
    // The message area's first line for the printer's block: "Pause for <printer> <where>: ...".
    QString summary(const QString& where) const;

    QString printerTitle;
    QString commandShown; // the pause command, after the message's line when there is one
};

namespace Pauses {

// Whether a pause for this printer needs the machine's state at its row (a parking block).
bool needsState(const PrinterProfile& printer);

// The pause for request at a row whose state is context (ignored unless needsState); bed: where
// the block may park when no visited position is clear (the one that made context), may be null.
PausePlan plan(const PauseRequest& request, const PauseContext& context, const BedShape* bed);

} // namespace Pauses
