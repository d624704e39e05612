// Finding the row to edit: keyword scan, print analysis, height search, row number, click.
// The scans themselves are in RowScans and PrintAnalysis, the layers in LayerIndex; these
// handlers apply their results to the controls in the order the user sees them happen.

#include "core/gcode/Insertion.h"
#include "core/navigation/PrintAnalysis.h"
#include "core/navigation/RowScans.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/PrintModel.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QComboBox>
#include <QLocale>
#include <QPlainTextEdit>

namespace {

using Insertion::kNotFoundRow;

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
    const int row = RowScans::findKeywordRow(*Memo1, keyword, exclusion, CurrentRow + step, step, lineCount)
                        .value_or(kNotFoundRow);
    selectRow(row);
    ShowCurrentZ(row);
}

void TEditorForBorvane5_Form1::selectRow(int row, std::optional<double> z, std::optional<std::size_t> layer)
{
    CurrentRow = row;
    if (z) {
        leditCurrentZ->setText(zText(*z));
        InsertEnabled = true;
        SetInsertionControlsEnabled(true);
        explainHeightChoice(row, *z, layer);
    }
    lbleRow->setText(Utility::IntToPadded(row, 1));
    Memo1->SelectRow(row);
    Memo1->setReadOnly(true);
    Memo1->setFocus();
    if (z)
        warnAfterHeightSearch();
}

double TEditorForBorvane5_Form1::ShowCurrentZ(int row)
{
    if (row == -1)
        row = CurrentRow;
    const LayerIndex& layers = layerIndex();
    if (layers.isEmpty()) {
        const RowScans::ZLookup found = RowScans::findZLineAtOrBefore(*Memo1, row);
        if (found.examined)
            leditCurrentZ->clear();
        if (!found.row)
            return 0.0;
        leditCurrentZ->setText(zText(found.z));
        return found.z;
    }
    // With layers, the height of the layer the row belongs to, and nothing before the first
    // layer. As with Z lines, row 0 is never examined and leaves the field as it is.
    if (row <= 0)
        return 0.0;
    const std::optional<std::size_t> layer = layers.layerAt(row);
    if (!layer) {
        leditCurrentZ->clear();
        return 0.0;
    }
    const double z = layers.layers()[*layer].z;
    leditCurrentZ->setText(zText(z));
    return z;
}

const LayerIndex& TEditorForBorvane5_Form1::layerIndex()
{
    return m_print->layers();
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
    const LayerIndex& layers = layerIndex();
    const PrintStart start = findPrintStart(*Memo1, layers);
    if (!start.row) {
        // Nothing found: row 1 selected, and nothing of an earlier file shown or used.
        StartRow = 0;
        leditStartH->clear();
        leditMaxZ->clear();
        leditMaxZ->setToolTip(QString());
        selectRow(kNotFoundRow);
        ShowCurrentZ(kNotFoundRow);
        return 0.0;
    }

    // The Z field shows what the keyword scan leaves there: the height at the structure comment,
    // or at the first layer.
    ShowCurrentZ(start.keywordRow.value_or(*start.row));
    StartRow = *start.row;
    leditStartH->setText(zText(start.height));

    // The max is the Z of the last Z line: a lift above the finished print, or a Z in a comment
    // below it. Where that is not the top layer's height, the field's tooltip tells the top layer.
    // Without any Z line the field says nothing.
    QString topLayer;
    if (const std::optional<int> lastRow = RowScans::findLastZLine(*Memo1, Memo1->lineCount())) {
        const double max = RowScans::zOf(Memo1->rowBytes(*lastRow));
        leditMaxZ->setText(zText(max - start.height) + u'+' + zText(start.height) + u'=' + zText(max));
        if (!layers.isEmpty() && zText(max) != zText(layers.layers().back().z)) {
            const double top = layers.layers().back().z;
            topLayer =
                QStringLiteral("Top layer at Z %1 (%2 above the start). The last Z line, on row %3, is at "
                               "Z %4.")
                    .arg(zText(top), zText(top - start.height))
                    .arg(*lastRow)
                    .arg(zText(max));
        }
    } else {
        leditMaxZ->clear();
    }
    leditMaxZ->setToolTip(topLayer);

    lbleRow->setText(Utility::IntToPadded(kNotFoundRow, 1));
    goToRow(kNotFoundRow);
    return start.height;
}

void TEditorForBorvane5_Form1::bbtnHeightSearchClick()
{
    const std::optional<double> typed =
        Utility::TypedNumber(leditPause->text(), QLocale::system().decimalPoint());
    if (!typed) {
        Dialogs::ShowError(QStringLiteral("Insert Height"),
                           QStringLiteral("\"%1\" is not a height. Type a number such as %2.")
                               .arg(leditPause->text(), u'2' + QLocale::system().decimalPoint() + u'4'));
        return;
    }
    searchHeight(*typed + StartHeight);
}

void TEditorForBorvane5_Form1::searchHeight(double target)
{
    const HeightChoice found = chooseRowForHeight(*Memo1, layerIndex(), StartRow, target);
    if (found.examined)
        leditCurrentZ->clear();
    if (found.row) {
        selectRow(*found.row, found.z, found.layer);
    } else {
        Dialogs::ShowNotice(QStringLiteral("That height was not found."));
        selectRow(StartRow);
    }
}

void TEditorForBorvane5_Form1::explainHeightChoice(int row, double z, std::optional<std::size_t> layer)
{
    // Two short lines: the area shows no more above the editor.
    QString text;
    if (layer) {
        const std::vector<Layer>& layers = layerIndex().layers();
        text = QStringLiteral("Layer %1 of %2 at Z %3, row %4.\n")
                   .arg(*layer + 1)
                   .arg(layers.size())
                   .arg(zText(z))
                   .arg(row);
        text += *layer == 0
                    ? QStringLiteral("A pause here stops before layer 1.")
                    : QStringLiteral("A pause here stops after Z %1.").arg(zText(layers[*layer - 1].z));
    } else {
        text = QStringLiteral("Z line at Z %1, row %2.\nA pause here stops before this move.")
                   .arg(zText(z))
                   .arg(row);
    }
    memoMessage->setPlainText(text);
}

void TEditorForBorvane5_Form1::sbtnGoRowNumberClick()
{
    goToRow(Utility::TruncateToInt(Utility::TextToNumber(lbleRow->text(), 1)));
}

void TEditorForBorvane5_Form1::goToRow(int row)
{
    CurrentRow = row;
    Memo1->PlaceCaretAtRow(CurrentRow);
    // Lines go before or after a row the editor has (the empty row after a last line break
    // included); past its end there is none to insert at.
    InsertEnabled = Insertion::canInsertAt(*Memo1, CurrentRow);
    SetInsertionControlsEnabled(InsertEnabled);
    Memo1->setReadOnly(CurrentRow == kNotFoundRow);
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
