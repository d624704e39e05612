// Inserting the pause line and the temperature lines at the current row.

#include "core/gcode/CommandLines.h"
#include "core/gcode/Insertion.h"
#include "core/machine/PauseIndex.h"
#include "core/printer/PauseBlock.h"
#include "core/printer/PauseMessage.h"
#include "core/print/PausePlan.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/EditorPrint.h"
#include "gui/LabeledEdit.h"
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
    const std::optional<PausePlan> plan = pausePlan(row, message);
    if (!plan)
        return; // no park position given where one was asked for
    // The default printer's one line is told plainly; a chosen printer's block by its summary,
    // with the file's pauses of another family.
    std::function<QString(const QString& where)> told;
    if (plan->ofPrinter) {
        told = [plan = *plan](const QString& where) { return plan.summary(where); };
    } else {
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
    const QStringList& lines = plan->lines;
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
    insertLines(lines, summary, PrintModel::InsertedRows{plan->restoringLift, plan->keepsMachine},
                plan->pauseLine >= 0 ? std::optional<qsizetype>(plan->pauseLine) : std::nullopt,
                plan->ofPrinter ? std::function<QList<Warning>()>(otherFamilies) : nullptr);
}

std::optional<PausePlan> TEditorForBorvane5_Form1::pausePlan(int row, const QString& message)
{
    PauseRequest request{m_printerChoice->profile(), m_printerChoice->settings(), message};
    PausePlan plan = m_print->model().pauseAt(row, request);
    if (!plan.parkClear()) {
        // Never over the print in silence: the printer's settings dialog asks for a park.
        if (!m_printerChoice->askPark(plan.refusal()))
            return std::nullopt;
        request.settings = m_printerChoice->settings();
        plan = m_print->model().pauseAt(row, request);
    }
    return plan;
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
                                           const PrintModel::InsertedRows& rows,
                                           std::optional<qsizetype> blockMark,
                                           const std::function<QList<Warning>()>& notes)
{
    const int rowBefore = CurrentRow;
    const int row = Insertion::insertionRow(CurrentRow, rbtnBefore->isChecked(), Memo1->lineCount());
    // One undo step takes back the lines of one click, and with them the row they moved to.
    Memo1->beginUndoAction();
    Memo1->markUndoStep(int(m_insertionSteps.size()));
    InsertionStep step{rowBefore, row, int(lines.size()), blockMark, {}, {}};
    // The print model hears of the rows as every change reaches it, knowing what they are.
    m_print->model().expectInsertedRows(rows);
    Memo1->insertRows(row, lines, blockMark);
    Memo1->endUndoAction();
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
