// Finding the row to edit: keyword scan, print analysis, height search, row number, click.

#include "app/EditBuffer.h"
#include "app/LabeledEdit.h"
#include "app/TEditorForBorvane5_Form1.h"
#include "util/Utility.h"

void TEditorForBorvane5_Form1::ScanForKeyword(const QString& keyword, const QString& exclusion, int step)
{
    Q_UNUSED(keyword);
    Q_UNUSED(exclusion);
    Q_UNUSED(step);
}

double TEditorForBorvane5_Form1::ShowCurrentZ(int row)
{
    Q_UNUSED(row);
    return 0.0;
}

void TEditorForBorvane5_Form1::sbtnGoClick() {}

void TEditorForBorvane5_Form1::sbtnBackClick() {}

double TEditorForBorvane5_Form1::AnalysePrint()
{
    return 0.0;
}

void TEditorForBorvane5_Form1::bbtnHeightSearchClick() {}

void TEditorForBorvane5_Form1::sbtnGoRowNumberClick()
{
    CurrentRow = int(Utility::TextToNumber(lbleRow->text(), 1));
    Memo1->PlaceCaretAtRow(CurrentRow);
    InsertEnabled = CurrentRow != 1;
    SetInsertionControlsEnabled(InsertEnabled);
    Memo1->setReadOnly(!InsertEnabled);
    Memo1->setFocus();
}

void TEditorForBorvane5_Form1::Memo1Click() {}
