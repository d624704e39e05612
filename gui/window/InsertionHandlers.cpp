// Inserting the pause line and the temperature lines at the current row.

#include "core/gcode/CommandLines.h"
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
    QString checked[3];
    const std::pair<LabeledEdit*, const char*> fields[] = {
        {leditT0Temperature, "T0"}, {leditT1Temperature, "T1"}, {leditBedTemperature, "Bed"}};
    for (int i = 0; i < 3; ++i) {
        const QString text = fields[i].first->text();
        if (Utility::StripBlanks(text).isEmpty())
            continue;
        const std::optional<int> value = CommandLines::checkedTemperature(text);
        if (!value) {
            Dialogs::ShowError(QStringLiteral("Temperature Error"),
                               QStringLiteral("The %1 temperature \"%2\" is not a whole number from 0 to 999 "
                                              "(\u00B0C). Nothing was inserted.")
                                   .arg(QLatin1String(fields[i].second), text));
            fields[i].first->setFocus();
            return;
        }
        checked[i] = QString::number(*value);
    }
    const QStringList lines = CommandLines::temperatureLines(checked[0], checked[1], checked[2]);
    if (lines.isEmpty())
        return;
    insertLines(lines);
}

void TEditorForBorvane5_Form1::insertLines(const QStringList& lines)
{
    const int rowBefore = CurrentRow;
    // After the empty row that follows a last line break is the end of the text.
    CurrentRow = qMin(CommandLines::insertionRow(CurrentRow, rbtnBefore->isChecked()), Memo1->lineCount());
    // What was found of the text before follows the lines, so the next search needs no new pass.
    const quint64 revision = m_print->revision();
    // Each line goes in at the same row, so the last inserted ends on top: insert bottom first.
    // One undo step takes back the lines of one click, and with them the row they moved to.
    Memo1->beginUndoAction();
    Memo1->markUndoStep(int(m_insertionSteps.size()));
    InsertionStep step{rowBefore, CurrentRow, memoMessage->toPlainText(), m_warningRows, {}, {}};
    for (auto line = lines.crbegin(); line != lines.crend(); ++line)
        Memo1->insertRow(CurrentRow, *line);
    Memo1->endUndoAction();
    m_print->rowsInserted(revision, CurrentRow, int(lines.size()));
    Memo1->PlaceCaretAtRow(CurrentRow);
    Memo1->setFocus();
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
