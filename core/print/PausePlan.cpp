#include "core/print/PausePlan.h"

#include "core/gcode/CommandLines.h"
#include "core/printer/BedShape.h"
#include "core/printer/PauseMessage.h"
#include "core/text/Utility.h"

namespace Pauses {

bool needsState(const PrinterProfile& printer)
{
    return printer.parks;
}

PausePlan plan(const PauseRequest& request, const PauseContext& context, const BedShape* bed)
{
    const PrinterProfile& printer = request.printer;
    PausePlan plan;
    plan.printerTitle = printer.title;
    plan.commandShown = PauseBlocks::commandWord(printer.pauseLine);
    if (!request.message.isEmpty())
        plan.commandShown = PauseMessage::line(request.message) + QStringLiteral(", ") + plan.commandShown;
    // The default printer pauses with the one line it always wrote, and is told plainly.
    plan.ofPrinter = !(printer.name == QLatin1String(PrinterProfiles::kDefaultName) &&
                       printer.pauseLine == CommandLines::pauseLine());
    if (!plan.ofPrinter) {
        plan.lines = PauseMessage::withMessage({CommandLines::pauseLine()}, CommandLines::pauseLine(),
                                               request.message);
        plan.keepsMachine = plan.lines.size() == 1;
        return plan;
    }
    const PauseContext state = needsState(printer) ? context : PauseContext();
    plan.block = PauseBlocks::build(printer, request.settings, state);
    plan.notes = plan.block.notes;
    if (state.bedRefused && bed)
        plan.notes << QStringLiteral("%1 does not hold the print: it is not used").arg(bed->source);
    plan.lines = PauseMessage::withMessage(plan.block.lines, printer.pauseLine, request.message);
    // Where the layer pass reads the rows before as this state does, the block leaves it as it
    // found it; elsewhere (a G92 Z, relative heights, ...) the layers are found again.
    if (plan.block.parked && state.state.layerPassAgrees())
        plan.restoringLift = plan.block.parkZ;
    // A park on the bed is a position the file never visited: once the block is in, a pause below
    // it finds it among the visited ones, which checkpoints only moved on would not know.
    const bool parkedOnBed = plan.block.parked && !request.settings.park && state.parkOnBed;
    plan.keepsMachine = (plan.restoringLift || plan.lines.size() == 1) && !parkedOnBed;
    if (plan.lines.size() > 1)
        plan.pauseLine = PauseMessage::pauseLineAt(plan.lines, printer.pauseLine);
    return plan;
}

} // namespace Pauses

QString PausePlan::description() const
{
    const QString what = block.parked
                             ? QStringLiteral("park at X%1 Y%2 Z%3, %4, back")
                                   .arg(PauseBlocks::number(block.park.x), PauseBlocks::number(block.park.y),
                                        Utility::FormatFixed(block.parkZ, 3), commandShown)
                             : commandShown;
    QString text = QStringLiteral("%1; %2 %3")
                       .arg(what)
                       .arg(lines.size())
                       .arg(lines.size() == 1 ? QStringLiteral("line") : QStringLiteral("lines"));
    for (const QString& note : notes)
        text += QStringLiteral(". Note: ") + note;
    if (!notes.isEmpty())
        text += u'.';
    return text;
}

QString PausePlan::summary(const QString& where) const
{
    return QStringLiteral("Pause for %1 %2: %3").arg(printerTitle, where, description());
}
