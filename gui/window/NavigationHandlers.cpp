// Finding the row to edit: keyword scan, print analysis, height search, row number, click.
// The scans themselves are in RowScans; these handlers apply their results to the
// controls in the order the user sees them happen.

#include "core/navigation/RowScans.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QComboBox>

namespace {

const QString kShellInner = QStringLiteral(";structure:shell-inner");
const QString kShell = QStringLiteral("shell");
const QString kShells = QStringLiteral("shells");
// The row where scans leave the caret when they find nothing.
constexpr int kNotFoundRow = 1;

QString zText(double z)
{
    return Utility::FormatFixed(z, 3);
}

} // namespace

void TEditorForBorvane5_Form1::ScanForKeyword(const QString& keyword, const QString& exclusion, int step)
{
    CurrentRow = Memo1->CaretRow();
    if (keyword.isEmpty())
        return;
    const int lineCount = Memo1->lineCount();
    CurrentRow = RowScans::findKeywordRow(*Memo1, keyword, exclusion, CurrentRow + step, step, lineCount)
                     .value_or(kNotFoundRow);

    lbleRow->setText(Utility::IntToPadded(CurrentRow, 1));
    Memo1->SelectRow(CurrentRow);
    Memo1->setReadOnly(true);
    Memo1->setFocus();
    ShowCurrentZ(CurrentRow);
}

double TEditorForBorvane5_Form1::ShowCurrentZ(int row)
{
    if (row == -1)
        row = CurrentRow;
    const RowScans::ZLookup found = RowScans::findZLineAtOrBefore(*Memo1, row);
    if (found.examined)
        leditCurrentZ->clear();
    if (!found.row)
        return 0.0;
    leditCurrentZ->setText(zText(found.z));
    return found.z;
}

void TEditorForBorvane5_Form1::sbtnGoClick()
{
    ScanForKeyword(cboxKeyword->currentText(), QString(), +1);
}

void TEditorForBorvane5_Form1::sbtnBackClick()
{
    ScanForKeyword(cboxKeyword->currentText(), QString(), -1);
}

double TEditorForBorvane5_Form1::AnalysePrint()
{
    // Nothing found, or a walk that reached an end of the buffer: the caret goes to row 1 and
    // the start row, the start height and the max height keep what they showed.
    const auto notFound = [this] {
        CurrentRow = kNotFoundRow;
        lbleRow->setText(Utility::IntToPadded(kNotFoundRow, 1));
        Memo1->SelectRow(kNotFoundRow);
        return 0.0;
    };

    int direction = -1;
    ScanForKeyword(kShellInner, QString(), +1);
    if (CurrentRow == kNotFoundRow) {
        ScanForKeyword(kShell, kShells, +1);
        direction = +1;
    }
    if (CurrentRow == kNotFoundRow)
        return notFound();

    const std::optional<int> startRow = RowScans::findRowWithZ(*Memo1, CurrentRow, direction);
    if (!startRow)
        return notFound();
    CurrentRow = *startRow;
    StartRow = *startRow;
    const double start = RowScans::zOf(Memo1->rowBytes(StartRow));
    leditStartH->setText(zText(start));
    lbleRow->setText(Utility::IntToPadded(CurrentRow, 1));
    sbtnGoRowNumberClick();

    // The max is the Z of the last Z line, which may be a lift above the finished print.
    // Without any Z line the print has no known top, and the field says nothing.
    if (const std::optional<int> lastRow = RowScans::findLastZLine(*Memo1, Memo1->lineCount())) {
        const double max = RowScans::zOf(Memo1->rowBytes(*lastRow));
        leditMaxZ->setText(zText(max - start) + u'+' + zText(start) + u'=' + zText(max));
    } else {
        leditMaxZ->clear();
    }

    lbleRow->setText(Utility::IntToPadded(kNotFoundRow, 1));
    sbtnGoRowNumberClick();
    return start;
}

void TEditorForBorvane5_Form1::bbtnHeightSearchClick()
{
    const double target = Utility::TextToNumber(leditPause->text(), 1) + StartHeight;
    const int fallbackRow = StartRow;
    const RowScans::HeightSearch found = RowScans::searchHeight(*Memo1, StartRow, Memo1->lineCount(), target);
    if (found.examined)
        leditCurrentZ->clear();
    if (found.row) {
        CurrentRow = *found.row;
        leditCurrentZ->setText(zText(found.z));
        InsertEnabled = true;
        SetInsertionControlsEnabled(true);
    } else {
        Dialogs::ShowNotice(QStringLiteral("That height was not found."));
        CurrentRow = fallbackRow;
    }

    lbleRow->setText(Utility::IntToPadded(CurrentRow, 1));
    Memo1->SelectRow(CurrentRow);
    Memo1->setReadOnly(true);
    Memo1->setFocus();
    if (found.row)
        warnAfterHeightSearch();
}

void TEditorForBorvane5_Form1::sbtnGoRowNumberClick()
{
    CurrentRow = Utility::TruncateToInt(Utility::TextToNumber(lbleRow->text(), 1));
    Memo1->PlaceCaretAtRow(CurrentRow);
    InsertEnabled = CurrentRow != 1;
    SetInsertionControlsEnabled(InsertEnabled);
    Memo1->setReadOnly(!InsertEnabled);
    Memo1->setFocus();
}

void TEditorForBorvane5_Form1::Memo1Click()
{
    Memo1->setReadOnly(false);
    InsertEnabled = true;
    SetInsertionControlsEnabled(true);
    CurrentRow = Memo1->CaretRow();
    if (CurrentRow == 0)
        CurrentRow = 1;
    lbleRow->setText(Utility::IntToPadded(CurrentRow, 1));
    ShowCurrentZ(-1);
    Memo1->setFocus();
}
