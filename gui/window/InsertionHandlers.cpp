// Inserting the pause line and the temperature lines at the current row.

#include "core/gcode/CommandLines.h"
#include "core/gcode/Insertion.h"
#include "core/gcode/MachineState.h"
#include "core/gcode/PauseBlock.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/PrintModel.h"
#include "gui/PrinterChoice.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QPlainTextEdit>
#include <QRadioButton>

void TEditorForBorvane5_Form1::btnPauseClick()
{
    if (!InsertEnabled)
        return;
    const int row = Insertion::insertionRow(CurrentRow, rbtnBefore->isChecked(), Memo1->lineCount());
    QString summary;
    std::optional<double> restoringLift;
    const QStringList lines = pauseLines(row, summary, restoringLift);
    if (lines.isEmpty())
        return; // no park position given where one was asked for
    const bool indexCurrent = m_pauseIndexRevision == Memo1->revision();
    const qsizetype pauseLine = lines.indexOf(m_printerChoice->profile().pauseLine);
    insertLines(lines, restoringLift,
                lines.size() > 1 && pauseLine >= 0 ? std::optional<qsizetype>(pauseLine) : std::nullopt);
    // A lone pause line, or a block that leaves the machine as it found it as both readers see it:
    // the checkpoints after them only move. Another block is read again at the next pause.
    if (indexCurrent && (restoringLift || lines.size() == 1)) {
        const std::size_t offset = std::size_t(Memo1->rowStart(CurrentRow));
        const int next = CurrentRow + int(lines.size());
        const std::size_t end =
            next < Memo1->physicalRowCount() ? std::size_t(Memo1->rowStart(next)) : Memo1->bytes().size();
        m_pauseIndex.bytesInserted(offset, end - offset);
        m_pauseIndexRevision = Memo1->revision();
    }
    if (summary.isEmpty())
        return;
    QList<Warning> notes{{summary, CurrentRow}};
    // A pause of another family in the file: the printer chosen here may not know it.
    const QString family =
        PauseBlocks::pauseFamily(PauseBlocks::commandWord(m_printerChoice->profile().pauseLine));
    int others = 0;
    std::optional<int> first;
    QString otherWord;
    for (const PrintEvents::Event& event : m_print->events()) {
        if (event.command.kind != PrintEvents::Kind::Pause ||
            (event.row >= CurrentRow && event.row < CurrentRow + int(lines.size())))
            continue;
        const QString word = PauseBlocks::commandWord(Memo1->rowText(event.row).trimmed());
        if (PauseBlocks::pauseFamily(word) == family)
            continue;
        if (others++ == 0)
            first = event.row, otherWord = word;
    }
    if (first)
        notes.append({QStringLiteral("The file also pauses %1 with another command than %2 (%3 on row %4): "
                                     "check that %5 knows it.")
                          .arg(others == 1 ? QStringLiteral("once") : QStringLiteral("%1 times").arg(others))
                          .arg(family, otherWord)
                          .arg(*first)
                          .arg(m_printerChoice->profile().title),
                      *first});
    showWarnings(notes, true);
}

QStringList TEditorForBorvane5_Form1::pauseLines(int row, QString& summary,
                                                 std::optional<double>& restoringLift)
{
    const PrinterProfile& printer = m_printerChoice->profile();
    if (printer.name == QLatin1String(PrinterProfiles::kDefaultName) &&
        printer.pauseLine == CommandLines::pauseLine())
        return {CommandLines::pauseLine()};
    PauseSettings settings = m_printerChoice->settings();
    PauseContext context;
    std::optional<BedShape> bed;
    if (printer.parks) {
        const std::string_view bytes = Memo1->bytes();
        const std::size_t before =
            row < Memo1->physicalRowCount() ? std::size_t(Memo1->rowStart(row)) : bytes.size();
        if (m_pauseIndexRevision != Memo1->revision()) {
            m_pauseIndex = PauseIndex::build(bytes);
            m_pauseIndexRevision = Memo1->revision();
        }
        bed = PauseBlocks::bedFor(printer, bytes);
        context = m_pauseIndex.contextAt(bytes, before, bed ? &*bed : nullptr);
    }
    PauseBlock block = PauseBlocks::build(printer, settings, context);
    if (!block.parkClear) {
        // Never over the print in silence: the printer's settings dialog asks for a park.
        if (!m_printerChoice->askPark(block.notes.value(0)))
            return {};
        settings = m_printerChoice->settings();
        block = PauseBlocks::build(printer, settings, context);
    }
    // A park on the bed is a position the file never visited: once the block is in, the next
    // pause finds it among the visited ones, which the index, only moved on, would not know.
    if (block.parked && !settings.park && context.parkOnBed)
        m_pauseIndexRevision = ~quint64(0);
    if (context.bedRefused && bed)
        block.notes << QStringLiteral("%1 does not hold the print: it is not used").arg(bed->source);
    // Where the layer pass reads the rows before as this state does, the block leaves it as it
    // found it; elsewhere (a G92 Z, relative heights, ...) the layers are found again.
    if (block.parked && context.state.layerPassAgrees())
        restoringLift = block.parkZ;

    QString where = QStringLiteral("at row %1").arg(row);
    const LayerIndex& index = layerIndex();
    if (const std::optional<std::size_t> layer = index.layerAt(row)) {
        const Layer& at = index.layers()[*layer];
        where = QStringLiteral("%1 layer %2 (Z %3)")
                    .arg(at.row == row ? QStringLiteral("before") : QStringLiteral("in"))
                    .arg(*layer + 1)
                    .arg(Utility::FormatFixed(at.z(), 3));
    } else if (!index.isEmpty() && row <= index.layers().front().row) {
        where =
            QStringLiteral("before layer 1 (Z %1)").arg(Utility::FormatFixed(index.layers().front().z(), 3));
    }
    const QString command = PauseBlocks::commandWord(printer.pauseLine);
    const QString what = block.parked
                             ? QStringLiteral("park at X%1 Y%2 Z%3, %4, back")
                                   .arg(PauseBlocks::number(block.park.x), PauseBlocks::number(block.park.y),
                                        Utility::FormatFixed(block.parkZ, 3), command)
                             : command;
    summary = QStringLiteral("Pause for %1 %2: %3; %4 %5")
                  .arg(printer.title, where, what)
                  .arg(block.lines.size())
                  .arg(block.lines.size() == 1 ? QStringLiteral("line") : QStringLiteral("lines"));
    for (const QString& note : block.notes)
        summary += QStringLiteral(". Note: ") + note;
    if (!block.notes.isEmpty())
        summary += u'.';
    return block.lines;
}

void TEditorForBorvane5_Form1::TemperarureInsertClick()
{
    if (!InsertEnabled)
        return;
    // A field that is not blank must hold a whole number of degrees from 0 to 999: pasted text
    // such as "abc" would otherwise switch a heater off, and a huge number is no temperature.
    const CommandLines::TemperatureCheck check = CommandLines::checkTemperatures(
        leditT0Temperature->text(), leditT1Temperature->text(), leditBedTemperature->text());
    if (check.wrong) {
        const std::pair<LabeledEdit*, const char*> fields[] = {
            {leditT0Temperature, "T0"}, {leditT1Temperature, "T1"}, {leditBedTemperature, "Bed"}};
        const auto& [field, name] = fields[int(*check.wrong)];
        Dialogs::ShowError(QStringLiteral("Temperature Error"),
                           QStringLiteral("The %1 temperature \"%2\" is not a whole number from 0 to 999 "
                                          "(\u00B0C). Nothing was inserted.")
                               .arg(QLatin1String(name), field->text()));
        field->setFocus();
        return;
    }
    if (check.lines.isEmpty())
        return;
    insertLines(check.lines);
}

void TEditorForBorvane5_Form1::insertLines(const QStringList& lines, std::optional<double> restoringLift,
                                           std::optional<qsizetype> blockMark)
{
    const int rowBefore = CurrentRow;
    CurrentRow = Insertion::insertionRow(CurrentRow, rbtnBefore->isChecked(), Memo1->lineCount());
    // The layer view's checkpoints of the text before follow the lines, as none of them is a move.
    const quint64 revision = Memo1->revision();
    // One undo step takes back the lines of one click, and with them the row they moved to.
    Memo1->beginUndoAction();
    Memo1->markUndoStep(int(m_insertionSteps.size()));
    InsertionStep step{rowBefore, CurrentRow, memoMessage->toPlainText(), m_warningRows, {}, {}};
    m_print->expectRestoringRows(restoringLift);
    Memo1->insertRows(CurrentRow, lines, blockMark);
    m_print->expectRestoringRows(std::nullopt);
    Memo1->endUndoAction();
    followInsertedMoves(revision, CurrentRow, int(lines.size()));
    Memo1->PlaceCaretAtRow(CurrentRow);
    warnAfterInsertion(CurrentRow, int(lines.size()));
    step.messageAfter = memoMessage->toPlainText();
    step.warningRowsAfter = m_warningRows;
    m_insertionSteps.push_back(std::move(step));
}

void TEditorForBorvane5_Form1::insertionTakenBack(int step)
{
    if (step < 0 || std::size_t(step) >= m_insertionSteps.size())
        return;
    const InsertionStep& taken = m_insertionSteps[std::size_t(step)];
    CurrentRow = taken.rowBefore;
    // Its warnings go with it, unless something else has been said since.
    if (memoMessage->toPlainText() == taken.messageAfter)
        showMessageOf(taken.messageBefore, taken.warningRowsBefore);
}

void TEditorForBorvane5_Form1::insertionRedone(int step)
{
    if (step < 0 || std::size_t(step) >= m_insertionSteps.size())
        return;
    const InsertionStep& redone = m_insertionSteps[std::size_t(step)];
    CurrentRow = redone.rowAfter;
    if (memoMessage->toPlainText() == redone.messageBefore)
        showMessageOf(redone.messageAfter, redone.warningRowsAfter);
}

void TEditorForBorvane5_Form1::showMessageOf(const QString& text, const std::map<int, int>& warningRows)
{
    memoMessage->setPlainText(text);
    m_warningRows = warningRows;
}
