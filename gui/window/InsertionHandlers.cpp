// Inserting the pause line and the temperature lines at the current row.

#include "core/gcode/CommandLines.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

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
    const QStringList lines = CommandLines::temperatureLines(
        leditT0Temperature->text(), leditT1Temperature->text(), leditBedTemperature->text());
    if (lines.isEmpty())
        return;
    insertLines(lines);
}

void TEditorForBorvane5_Form1::insertLines(const QStringList& lines)
{
    CurrentRow = CommandLines::insertionRow(CurrentRow, rbtnBefore->isChecked());
    // An index that matched the text before still matches it with the later rows moved down, as
    // none of these lines is a move: the next search needs no new pass over the text.
    const bool layersCurrent = Memo1->revision() == m_layerIndexRevision;
    // Each line goes in at the same row, so the last inserted ends on top: insert bottom first.
    // One undo step takes back the lines of one click.
    const quint64 revision = Memo1->revision();
    Memo1->beginUndoAction();
    for (auto line = lines.crbegin(); line != lines.crend(); ++line)
        Memo1->insertRow(CurrentRow, *line);
    Memo1->endUndoAction();
    if (layersCurrent) {
        m_layerIndex.rowsInserted(CurrentRow, int(lines.size()));
        m_layerIndexRevision = Memo1->revision();
    }
    followInsertedRows(revision, CurrentRow, int(lines.size()));
    Memo1->PlaceCaretAtRow(CurrentRow);
    Memo1->setFocus();
    warnAfterInsertion(CurrentRow, int(lines.size()));
}
