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

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLocale>
#include <QPlainTextEdit>
#include <QStyle>

#include <algorithm>

namespace {

using Insertion::kNotFoundRow;

QString zText(double z)
{
    return Utility::FormatFixed(z, 3);
}

// Shrinks the field's font from the size it inherits until its whole text fits (down to 6 points),
// so that a field laid out for "9.700+0.300=10.000" also shows "199.700+0.300=200.000" whole, and
// shows the text from its first character.
void fitText(QLineEdit* edit)
{
    edit->setFont(QFont()); // back to the inherited font
    QFont font = edit->font();
    const int frame = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit);
    const QMargins margins = edit->textMargins();
    // QLineEdit keeps 2 pixels beside the text on either side, within the frame.
    const int room = edit->width() - 2 * frame - margins.left() - margins.right() - 2 * 2;
    const bool points = font.pointSizeF() > 0;
    const auto size = [&] { return points ? font.pointSizeF() : qreal(font.pixelSize()); };
    const qreal smallest = points ? 6.0 : 8.0;
    while (QFontMetrics(font).horizontalAdvance(edit->text()) > room && size() > smallest) {
        if (points)
            font.setPointSizeF(std::max(smallest, size() - 0.5));
        else
            font.setPixelSize(int(std::max(smallest, size() - 1)));
    }
    if (font != edit->font())
        edit->setFont(font);
    edit->setCursorPosition(0);
}

} // namespace

void TEditorForBorvane5_Form1::ScanForKeyword(const QString& keyword, const QString& exclusion, int step)
{
    CurrentRow = Memo1->CaretRow();
    if (keyword.isEmpty())
        return;
    const int lineCount = Memo1->lineCount();
    const int from = CurrentRow;
    const std::optional<int> found =
        RowScans::findKeywordRow(*Memo1, keyword, exclusion, from + step, step, lineCount);
    const int row = found.value_or(kNotFoundRow);
    selectRow(row);
    ShowCurrentZ(row);
    if (!found)
        showNote(
            QStringLiteral("\"%1\" was not found %2 row %3. Row %4 is selected: choose a row to insert at.")
                .arg(keyword, step > 0 ? QStringLiteral("below") : QStringLiteral("above"))
                .arg(from)
                .arg(kNotFoundRow));
}

void TEditorForBorvane5_Form1::showNote(const QString& text)
{
    m_warningRows.clear();
    memoMessage->setPlainText(text);
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
    const double z = layers.layers()[*layer].z();
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
    m_partChoices.clear();
    const PrintStart start = findPrintStart(*Memo1, layers);
    if (!start.row) {
        // Nothing found: row 1 selected, and nothing of an earlier file shown or used.
        StartRow = 0;
        cboxEveryPart->hide();
        cboxEveryPart->setFocusPolicy(Qt::NoFocus);
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

    showMaxHeight(layers, start.height);
    cboxEveryPart->setVisible(layers.partCount() > 1);
    cboxEveryPart->setFocusPolicy(layers.partCount() > 1 ? Qt::StrongFocus : Qt::NoFocus);

    lbleRow->setText(Utility::IntToPadded(kNotFoundRow, 1));
    goToRow(kNotFoundRow);
    return start.height;
}

void TEditorForBorvane5_Form1::showMaxHeight(const LayerIndex& layers, double startHeight)
{
    // The max is the top layer's height; the last Z line is most often the end code's lift or a
    // relative move, so it stands only for a file with no layers, as in the height search. Where
    // the last Z line says something else, the tooltip tells it.
    const std::optional<int> lastRow = RowScans::findLastZLine(*Memo1, Memo1->lineCount());
    const std::optional<double> lastZ =
        lastRow ? std::optional<double>(RowScans::zOf(Memo1->rowBytes(*lastRow))) : std::nullopt;
    std::optional<double> max = lastZ;
    QString tooltip;
    if (!layers.isEmpty()) {
        // The tallest part's top (the first of equals); a file of one part has one.
        std::size_t tallest = 0;
        for (std::size_t part = 1; part < layers.partCount(); ++part) {
            if (layers.layers()[layers.partEnd(part) - 1].nanometres >
                layers.layers()[layers.partEnd(tallest) - 1].nanometres)
                tallest = part;
        }
        const Layer top = layers.layers()[layers.partEnd(tallest) - 1];
        max = top.z();
        tooltip = layers.partCount() > 1
                      ? QStringLiteral("Top layer %1 of part %2 of %3 at Z %4, row %5.")
                            .arg(layers.partEnd(tallest) - layers.partBegin(tallest))
                            .arg(tallest + 1)
                            .arg(layers.partCount())
                            .arg(zText(top.z()))
                            .arg(top.row)
                      : QStringLiteral("Top layer %1 at Z %2, row %3.")
                            .arg(layers.layers().size())
                            .arg(zText(top.z()))
                            .arg(top.row);
        if (lastZ && zText(*lastZ) != zText(top.z()))
            tooltip +=
                QStringLiteral(" The last Z line, on row %1, is at Z %2.").arg(*lastRow).arg(zText(*lastZ));
    }
    if (max)
        leditMaxZ->setText(zText(*max - startHeight) + u'+' + zText(startHeight) + u'=' + zText(*max));
    else
        leditMaxZ->clear();
    leditMaxZ->setToolTip(tooltip);
    fitText(leditMaxZ);
}

void TEditorForBorvane5_Form1::bbtnHeightSearchClick()
{
    const std::optional<std::int64_t> typed =
        Utility::TypedNanometres(leditPause->text(), QLocale::system().decimalPoint());
    if (!typed) {
        Dialogs::ShowError(QStringLiteral("Insert Height"),
                           QStringLiteral("\"%1\" is not a height. Type a number such as %2.")
                               .arg(leditPause->text(), u'2' + QLocale::system().decimalPoint() + u'4'));
        return;
    }
    searchHeight(*typed + Utility::ToNanometres(StartHeight));
}

void TEditorForBorvane5_Form1::searchHeight(std::int64_t target)
{
    const HeightChoice found = chooseRowForHeight(*Memo1, layerIndex(), StartRow, target);
    if (found.examined)
        leditCurrentZ->clear();
    m_partChoices.clear();
    if (found.row && layerIndex().partCount() > 1) {
        // The same height in every part that spans it: the first is selected, the others listed.
        for (const HeightChoice& choice : chooseRowsForHeight(*Memo1, layerIndex(), StartRow, target))
            m_partChoices.push_back({*choice.row, choice.z, *choice.layer});
    }
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
    if (layer && layerIndex().partCount() > 1) {
        // Counted within the layer's part.
        const LayerIndex& index = layerIndex();
        const std::size_t part = index.partOf(*layer);
        const std::size_t begin = index.partBegin(part);
        text = QStringLiteral("Layer %1 of %2 in part %3 of %4 at Z %5, row %6.\n")
                   .arg(*layer - begin + 1)
                   .arg(index.partEnd(part) - begin)
                   .arg(part + 1)
                   .arg(index.partCount())
                   .arg(zText(z))
                   .arg(row);
        text += *layer == begin ? QStringLiteral("A pause here stops before the part's layer 1.")
                                : QStringLiteral("A pause here stops after Z %1.")
                                      .arg(zText(index.layers()[*layer - 1].z()));
    } else if (layer) {
        const LayerSpan layers = layerIndex().layers();
        text = QStringLiteral("Layer %1 of %2 at Z %3, row %4.\n")
                   .arg(*layer + 1)
                   .arg(layers.size())
                   .arg(zText(z))
                   .arg(row);
        text += *layer == 0
                    ? QStringLiteral("A pause here stops before layer 1.")
                    : QStringLiteral("A pause here stops after Z %1.").arg(zText(layers[*layer - 1].z()));
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
}

void TEditorForBorvane5_Form1::Memo1Click()
{
    Memo1->setReadOnly(false);
    InsertEnabled = true;
    SetInsertionControlsEnabled(true);
    CurrentRow = qMax(1, Memo1->CaretRow());
    lbleRow->setText(Utility::IntToPadded(CurrentRow, 1));
    ShowCurrentZ(-1);
    Memo1->setFocus();
}
