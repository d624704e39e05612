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
    CurrentRow = CommandLines::insertionRow(CurrentRow, rbtnBefore->isChecked());
    insertKeepingLayers(CurrentRow, 1, [this] { Memo1->insertRow(CurrentRow, CommandLines::pauseLine()); });
    Memo1->PlaceCaretAtRow(CurrentRow);
    Memo1->setFocus();
}

void TEditorForBorvane5_Form1::TemperarureInsertClick()
{
    if (!InsertEnabled)
        return;
    const QStringList lines = CommandLines::temperatureLines(
        leditT0Temperature->text(), leditT1Temperature->text(), leditBedTemperature->text());
    if (lines.isEmpty())
        return;
    CurrentRow = CommandLines::insertionRow(CurrentRow, rbtnBefore->isChecked());
    // Each line goes in at the same row, so the last inserted ends on top: insert bottom first.
    insertKeepingLayers(CurrentRow, int(lines.size()), [&] {
        for (auto line = lines.crbegin(); line != lines.crend(); ++line)
            Memo1->insertRow(CurrentRow, *line);
    });
    Memo1->PlaceCaretAtRow(CurrentRow);
    Memo1->setFocus();
}

void TEditorForBorvane5_Form1::insertKeepingLayers(int row, int count, const std::function<void()>& insert)
{
    // An index that matched the text before still matches it with the later rows moved down, so
    // the next search needs no new pass over the text.
    const bool layersCurrent = Memo1->revision() == m_layerIndexRevision;
    Memo1->beginUndoAction();
    insert();
    Memo1->endUndoAction();
    if (layersCurrent) {
        m_layerIndex.rowsInserted(row, count);
        m_layerIndexRevision = Memo1->revision();
    }
}
