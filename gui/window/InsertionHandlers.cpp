// Inserting the pause line and the temperature lines at the current row.

#include "core/gcode/CommandLines.h"
#include "core/gcode/Insertion.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/PrintModel.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QPlainTextEdit>
#include <QRadioButton>

void TEditorForBorvane5_Form1::btnPauseClick()
{
    if (!InsertEnabled)
        return;
    insertLines({CommandLines::pauseLine()});
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

void TEditorForBorvane5_Form1::insertLines(const QStringList& lines)
{
    const int rowBefore = CurrentRow;
    CurrentRow = Insertion::insertionRow(CurrentRow, rbtnBefore->isChecked(), Memo1->lineCount());
    // The layer view's checkpoints of the text before follow the lines, as none of them is a move.
    const quint64 revision = Memo1->revision();
    // One undo step takes back the lines of one click, and with them the row they moved to.
    Memo1->beginUndoAction();
    Memo1->markUndoStep(int(m_insertionSteps.size()));
    InsertionStep step{rowBefore, CurrentRow, memoMessage->toPlainText(), m_warningRows, {}, {}};
    Memo1->insertRows(CurrentRow, lines);
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
