// Inserting the pause line and the temperature lines at the current row.

#include "core/gcode/CommandLines.h"
#include "core/gcode/Insertion.h"
#include "core/machine/PauseIndex.h"
#include "core/printer/PauseBlock.h"
#include "core/printer/PauseMessage.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/PrintModel.h"
#include "gui/PrinterChoice.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QRadioButton>

void TEditorForBorvane5_Form1::pressInEveryPart(const std::function<void()>& press)
{
    if (cboxEveryPart->isChecked() && m_partChoices.size() > 1 && m_partChoices.front().row == CurrentRow) {
        const int selected = CurrentRow;
        for (std::size_t i = m_partChoices.size() - 1; i > 0; --i) {
            CurrentRow = m_partChoices[i].row;
            press();
        }
        CurrentRow = selected;
        m_partChoices.clear(); // the later parts' rows have moved
    }
    press();
}

void TEditorForBorvane5_Form1::btnPauseClick()
{
    if (!InsertEnabled)
        return;
    // The message is checked as --message checks it, before anything goes in.
    const QString message = leditPauseMessage->text().trimmed().isEmpty() ? QString() : leditPauseMessage->text();
    if (const QString problem = message.isEmpty() ? QString() : PauseMessage::problem(message); !problem.isEmpty()) {
        Dialogs::ShowError(QStringLiteral("Message on the printer's screen"),
                           problem + QStringLiteral(" Nothing was inserted."));
        leditPauseMessage->setFocus();
        return;
    }
    pressInEveryPart([this, &message] { pressPause(message); });
}

void TEditorForBorvane5_Form1::pressPause(const QString& message)
{
    const int row = Insertion::insertionRow(CurrentRow, rbtnBefore->isChecked(), Memo1->lineCount());
    std::function<QString(const QString& where)> told;
    std::optional<double> restoringLift;
    const QStringList lines = pauseLines(row, message, told, restoringLift);
    if (lines.isEmpty())
        return; // no park position given where one was asked for
    // The default printer's one line is told plainly; a chosen printer's block by its summary,
    // with the file's pauses of another family.
    const bool chosenPrinter = bool(told);
    if (!chosenPrinter) {
        const QString pause = m_printerChoice->profile().pauseLine;
        told = [pause, row, shown = message.isEmpty() ? QString() : PauseMessage::line(message)](const QString& where) {
            return shown.isEmpty() ? QStringLiteral("Pause line %1 inserted %2, row %3.").arg(pause, where).arg(row)
                                   : QStringLiteral("Pause line %1 inserted %2, row %3, after %4.")
                                         .arg(pause, where)
                                         .arg(row)
                                         .arg(shown);
        };
    }
    // Where the lines go, with the time into the print there (the pause adds none before it).
    const QString place = placeOf(row);
    const QString summary = withWhen(row, [place, told](const QString& when) {
        return told(when.isEmpty() ? place : place + QStringLiteral(", ") + when);
    });
    const bool indexCurrent = m_pauseIndexRevision == Memo1->revision();
    const qsizetype pauseLine = PauseMessage::pauseLineAt(lines, m_printerChoice->profile().pauseLine);
    // A pause of another family in the file: the printer chosen here may not know it.
    const auto otherFamilies = [this, count = int(lines.size())] {
        QList<Warning> notes;
        const QString family =
            PauseBlocks::pauseFamily(PauseBlocks::commandWord(m_printerChoice->profile().pauseLine));
        int others = 0;
        std::optional<int> first;
        QString otherWord;
        for (const PrintEvents::Event& event : m_print->events()) {
            if (event.command.kind != PrintEvents::Kind::Pause ||
                (event.row >= CurrentRow && event.row < CurrentRow + count))
                continue;
            const QString word = PauseBlocks::commandWord(Memo1->rowText(event.row).trimmed());
            if (PauseBlocks::pauseFamily(word) == family)
                continue;
            if (others++ == 0)
                first = event.row, otherWord = word;
        }
        if (first)
            notes.append(
                {QStringLiteral("The file also pauses %1 with another command than %2 (%3 on row %4): "
                                "check that %5 knows it.")
                     .arg(others == 1 ? QStringLiteral("once") : QStringLiteral("%1 times").arg(others))
                     .arg(family, otherWord)
                     .arg(*first)
                     .arg(m_printerChoice->profile().title),
                 *first});
        return notes;
    };
    insertLines(lines, summary, restoringLift,
                lines.size() > 1 && pauseLine >= 0 ? std::optional<qsizetype>(pauseLine) : std::nullopt,
                chosenPrinter ? std::function<QList<Warning>()>(otherFamilies) : nullptr);
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
}

QStringList TEditorForBorvane5_Form1::pauseLines(int row, const QString& message,
                                                 std::function<QString(const QString& where)>& summary,
                                                 std::optional<double>& restoringLift)
{
    const PrinterProfile& printer = m_printerChoice->profile();
    if (printer.name == QLatin1String(PrinterProfiles::kDefaultName) &&
        printer.pauseLine == CommandLines::pauseLine())
        return PauseMessage::withMessage({CommandLines::pauseLine()}, CommandLines::pauseLine(), message);
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
    block.lines = PauseMessage::withMessage(block.lines, printer.pauseLine, message);
    // Where the layer pass reads the rows before as this state does, the block leaves it as it
    // found it; elsewhere (a G92 Z, relative heights, ...) the layers are found again.
    if (block.parked && context.state.layerPassAgrees())
        restoringLift = block.parkZ;

    QString command = PauseBlocks::commandWord(printer.pauseLine);
    if (!message.isEmpty())
        command = PauseMessage::line(message) + QStringLiteral(", ") + command;
    const QString what = block.parked
                             ? QStringLiteral("park at X%1 Y%2 Z%3, %4, back")
                                   .arg(PauseBlocks::number(block.park.x), PauseBlocks::number(block.park.y),
                                        Utility::FormatFixed(block.parkZ, 3), command)
                             : command;
    QString tail = QStringLiteral("%1; %2 %3")
                       .arg(what)
                       .arg(block.lines.size())
                       .arg(block.lines.size() == 1 ? QStringLiteral("line") : QStringLiteral("lines"));
    for (const QString& note : block.notes)
        tail += QStringLiteral(". Note: ") + note;
    if (!block.notes.isEmpty())
        tail += u'.';
    summary = [title = printer.title, tail](const QString& where) {
        return QStringLiteral("Pause for %1 %2: %3").arg(title, where, tail);
    };
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
    if (check.lines.isEmpty()) {
        showNote(QStringLiteral("Nothing was inserted: type a temperature for T0, T1 or the bed first."));
        return;
    }
    pressInEveryPart([this, &check] {
        const int row = Insertion::insertionRow(CurrentRow, rbtnBefore->isChecked(), Memo1->lineCount());
        // One short line (the warnings under it need the room): one line named, more counted.
        insertLines(check.lines, QStringLiteral("Inserted at row %1: %2.")
                                     .arg(row)
                                     .arg(check.lines.size() == 1 ? check.lines.front()
                                                                  : QStringLiteral("%1 lines").arg(check.lines.size())));
    });
}

void TEditorForBorvane5_Form1::insertLines(const QStringList& lines, const QString& summary,
                                           std::optional<double> restoringLift,
                                           std::optional<qsizetype> blockMark,
                                           const std::function<QList<Warning>()>& notes)
{
    const int rowBefore = CurrentRow;
    const int row = Insertion::insertionRow(CurrentRow, rbtnBefore->isChecked(), Memo1->lineCount());
    // The layer view's checkpoints of the text before follow the lines, as none of them is a move.
    const quint64 revision = Memo1->revision();
    // One undo step takes back the lines of one click, and with them the row they moved to.
    Memo1->beginUndoAction();
    Memo1->markUndoStep(int(m_insertionSteps.size()));
    InsertionStep step{rowBefore, row, int(lines.size()), blockMark, {}, {}};
    m_print->expectRestoringRows(restoringLift);
    Memo1->insertRows(row, lines, blockMark);
    m_print->expectRestoringRows(std::nullopt);
    Memo1->endUndoAction();
    followInsertedMoves(revision, row, int(lines.size()));
    // The first of the lines is the row shown, told by what went in; the warnings follow.
    showRow(row, RowShown::Place, Insertable::On, std::nullopt, summary);
    m_warningRows[0] = row; // the summary goes to the lines
    warnAfterInsertion(row, int(lines.size()));
    if (notes)
        showWarnings(notes(), true);
    step.messageAfter = memoMessage->toPlainText();
    step.warningRowsAfter = m_warningRows;
    m_insertionSteps.push_back(std::move(step));
}
