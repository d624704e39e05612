// Finding the row to edit: keyword scan, print analysis, height search, row number, click.
// The scans themselves are in RowScans and PrintAnalysis, the layers in LayerIndex; these
// handlers apply their results to the controls in the order the user sees them happen.

#include "core/gcode/Insertion.h"
#include "core/navigation/PrintAnalysis.h"
#include "core/navigation/RowScans.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/EditorPrint.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
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
    if (keyword.isEmpty())
        return;
    const int lineCount = Memo1->lineCount();
    const int from = CurrentRow;
    const std::optional<int> found =
        RowScans::findKeywordRow(*Memo1, keyword, exclusion, from + step, step, lineCount);
    if (found) {
        showRow(*found, RowShown::Select, Insertable::Keep);
        return;
    }
    showRow(kNotFoundRow, RowShown::Select, Insertable::Keep, std::nullopt,
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

void TEditorForBorvane5_Form1::showRow(int row, RowShown how, Insertable insertable, std::optional<double> z,
                                       std::optional<QString> message)
{
    CurrentRow = row;
    switch (how) {
    case RowShown::Select:
        Memo1->SelectRow(row);
        Memo1->setReadOnly(true);
        break;
    case RowShown::Jump:
        Memo1->PlaceCaretAtRow(row);
        Memo1->setReadOnly(row == kNotFoundRow);
        break;
    case RowShown::Place:
        Memo1->PlaceCaretAtRow(row);
        break;
    case RowShown::Follow:
        break;
    }
    if (insertable != Insertable::Keep) {
        InsertEnabled = insertable == Insertable::On || Insertion::canInsertAt(*Memo1, row);
        SetInsertionControlsEnabled(InsertEnabled);
    }
    // Setting the text also ends the field's own undo history: Ctrl+Z there cannot bring back
    // a number that names another row than the one shown.
    lbleRow->setText(Utility::IntToPadded(row, 1));
    if (!z)
        z = heightAt(row);
    if (z)
        leditCurrentZ->setText(zText(*z));
    else
        leditCurrentZ->clear();
    // The same words again are not set again: the area keeps its layout and its height.
    // With no file open (a folder dropped) the hint stays.
    const QString text = message ? *message : FileLoaded ? rowDescription(row, z) : m_dropHint;
    m_warningRows.clear();
    if (memoMessage->toPlainText() != text)
        memoMessage->setPlainText(text);
    // The hollows' names stay at the end of the area while the file is open: each a way to its layer.
    if (!m_hollowMessage.isEmpty() && !memoMessage->toPlainText().contains(m_hollowMessage))
        memoMessage->appendPlainText(m_hollowMessage);
}

void TEditorForBorvane5_Form1::selectRow(int row, std::optional<double> z, std::optional<std::size_t> layer)
{
    if (!z) {
        showRow(row, RowShown::Select, Insertable::Keep);
        return;
    }
    showRow(row, RowShown::Select, Insertable::On, z, rowDescription(row, z, layer));
    warnAfterHeightSearch();
}

std::optional<double> TEditorForBorvane5_Form1::heightAt(int row)
{
    if (!Memo1->hasRow(row))
        return std::nullopt;
    const LayerIndex& layers = layerIndex();
    if (layers.isEmpty()) {
        const RowScans::ZLookup found = RowScans::findZLineAtOrBefore(*Memo1, row);
        return found.row ? std::optional<double>(found.z) : std::nullopt;
    }
    if (row < 0)
        return std::nullopt;
    const std::optional<std::size_t> layer = layers.layerAt(row);
    return layer ? std::optional<double>(layers.layers()[*layer].z()) : std::nullopt;
}

double TEditorForBorvane5_Form1::ShowCurrentZ(int row)
{
    const std::optional<double> z = heightAt(row == -1 ? CurrentRow : row);
    if (z)
        leditCurrentZ->setText(zText(*z));
    else
        leditCurrentZ->clear();
    return z.value_or(0.0);
}

QString TEditorForBorvane5_Form1::rowDescription(int row, std::optional<double> z, std::optional<std::size_t> layer)
{
    // Two short lines: the area shows no more above the editor.
    const LayerIndex& index = layerIndex();
    const LayerSpan layers = index.layers();
    if (!layers.empty()) {
        if (!layer && row >= 0)
            layer = index.layerAt(row);
        if (layer && *layer < layers.size()) {
            const Layer& at = layers[*layer];
            // In a file of several parts, layers are counted within their part.
            const std::size_t part = index.partOf(*layer);
            const std::size_t first = index.partBegin(part);
            const QString of = index.partCount() > 1
                                   ? QStringLiteral("%1 in part %2 of %3").arg(index.partEnd(part) - first).arg(part + 1).arg(index.partCount())
                                   : QString::number(layers.size());
            // The time into the print ends the first line once it is there.
            const auto timed = [](const QString& when) { return when.isEmpty() ? QString() : QStringLiteral(": ") + when; };
            // By value: the text may be completed after the layers were found again.
            const Layer shown = at;
            const std::size_t number = *layer - first + 1;
            if (at.row != row)
                return withWhen(row, [=](const QString& when) {
                    return QStringLiteral("Row %1, in layer %2 of %3 at Z %4 (from row %5)%6.\n"
                                          "A pause here stops within this layer.")
                        .arg(row)
                        .arg(number)
                        .arg(of)
                        .arg(zText(shown.z()))
                        .arg(shown.row)
                        .arg(timed(when));
                });
            const QString next =
                *layer == first ? (index.partCount() > 1 ? QStringLiteral("A pause here stops before the part's layer 1.")
                                                         : QStringLiteral("A pause here stops before layer 1."))
                                : QStringLiteral("A pause here stops after Z %1.").arg(zText(layers[*layer - 1].z()));
            return withWhen(row, [=](const QString& when) {
                return QStringLiteral("Layer %1 of %2 at Z %3, row %4%5.\n")
                           .arg(number)
                           .arg(of)
                           .arg(zText(shown.z()))
                           .arg(row)
                           .arg(timed(when)) +
                       next;
            });
        }
        return QStringLiteral("Row %1, before layer 1 (Z %2).\nA pause here stops before the print starts.")
            .arg(row)
            .arg(zText(layers.front().z()));
    }
    if (!Memo1->hasRow(row))
        return QStringLiteral("Row %1 is past the end of the text (%2 rows): there is no row to insert at.")
            .arg(row)
            .arg(Memo1->lineCount());
    if (z && RowScans::isZLine(Memo1->rowBytes(row)))
        return QStringLiteral("Z line at Z %1, row %2.\nA pause here stops before this move.")
            .arg(zText(*z))
            .arg(row);
    if (z)
        return QStringLiteral("Row %1, at Z %2.").arg(row).arg(zText(*z));
    return QStringLiteral("Row %1, before the first Z line.").arg(row);
}

QString TEditorForBorvane5_Form1::placeOf(int row)
{
    const LayerIndex& index = layerIndex();
    if (const std::optional<std::size_t> layer = index.layerAt(row)) {
        const Layer& at = index.layers()[*layer];
        return QStringLiteral("%1 layer %2 (Z %3)")
            .arg(at.row == row ? QStringLiteral("before") : QStringLiteral("in"))
            .arg(*layer + 1)
            .arg(zText(at.z()));
    }
    if (!index.isEmpty() && row <= index.layers().front().row)
        return QStringLiteral("before layer 1 (Z %1)").arg(zText(index.layers().front().z()));
    return QStringLiteral("at row %1").arg(row);
}

void TEditorForBorvane5_Form1::followCaret()
{
    if (!FileLoaded)
        return;
    const int row = Memo1->CaretRow();
    if (row != CurrentRow)
        showRow(row, RowShown::Follow, Insertable::Keep);
}

void TEditorForBorvane5_Form1::textTakenBack(bool redo)
{
    const std::optional<int> token = std::exchange(m_takenStep, std::nullopt);
    if (token && *token >= 0 && std::size_t(*token) < m_insertionSteps.size()) {
        const InsertionStep& step = m_insertionSteps[std::size_t(*token)];
        if (redo) {
            // The lines come back without their marks (or with a neighbour's): they get their own.
            Memo1->markInsertedRows(step.rowAfter, step.count, step.blockMark);
            showRow(step.rowAfter, RowShown::Place, Insertable::On, std::nullopt, step.messageAfter);
            m_warningRows = step.warningRowsAfter;
        } else {
            showRow(step.rowBefore, RowShown::Place, Insertable::ByRow);
        }
        return;
    }
    // Typing taken back or done again: the row where it happened.
    showRow(Memo1->CaretRow(), RowShown::Place, Insertable::Keep);
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
    if (!layers.isEmpty()) {
        // The margin is as wide as the longest label ("120  24.800"): the highest layer has it.
        const LayerSpan all = layers.layers();
        double highest = 0.0;
        for (const Layer& layer : all)
            highest = std::max(highest, layer.z());
        Memo1->setLayerLabelChars(int(QString::number(all.size()).size() + 2 + zText(highest).size()));
    } else {
        Memo1->setLayerLabelChars(0);
    }
    if (!start.row) {
        // Nothing found: row 1 selected, and nothing of an earlier file shown or used.
        StartRow = 0;
        cboxEveryPart->hide();
        cboxEveryPart->setFocusPolicy(Qt::NoFocus);
        leditStartH->clear();
        leditMaxZ->clear();
        leditMaxZ->setToolTip(QString());
        showRow(kNotFoundRow, RowShown::Select, Insertable::Keep, std::nullopt, fileSummary());
        return 0.0;
    }
    StartRow = *start.row;
    leditStartH->setText(zText(start.height));

    showMaxHeight(layers, start.height);
    cboxEveryPart->setVisible(layers.partCount() > 1);
    cboxEveryPart->setFocusPolicy(layers.partCount() > 1 ? Qt::StrongFocus : Qt::NoFocus);
    showRow(kNotFoundRow, RowShown::Jump, Insertable::ByRow, std::nullopt, fileSummary());
    return start.height;
}

QString TEditorForBorvane5_Form1::fileSummary()
{
    // In place of the drop hint: which file is open and what to do next.
    if (!FileLoaded)
        return m_dropHint;
    const LayerSpan layers = layerIndex().layers();
    QString text = QStringLiteral("%1: %2 rows").arg(QFileInfo(DroppedPath).fileName()).arg(Memo1->lineCount());
    if (!layers.empty())
        text += QStringLiteral(", %1 layers from Z %2 to Z %3")
                    .arg(layers.size())
                    .arg(zText(layers.front().z()), zText(layers.back().z()));
    return text + QStringLiteral(".\nChoose a row to insert at.");
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
    if (m_searchByTime) {
        searchTime();
        return;
    }
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
    m_partChoices.clear();
    if (found.row && layerIndex().partCount() > 1) {
        // The same height in every part that spans it: the first is selected, the others listed.
        for (const HeightChoice& choice : chooseRowsForHeight(*Memo1, layerIndex(), StartRow, target))
            m_partChoices.push_back({*choice.row, choice.z, *choice.layer});
    }
    if (found.row) {
        selectRow(*found.row, found.z, found.layer);
        return;
    }
    const LayerIndex& index = layerIndex();
    QString top;
    if (!index.isEmpty()) {
        // The tallest part's top: a file that prints its objects one after another ends on any.
        double highest = index.layers().front().z();
        for (const Layer& layer : index.layers())
            highest = std::max(highest, layer.z());
        top = QStringLiteral(" The top layer is at Z %1 (%2 above the start).").arg(zText(highest), zText(highest - StartHeight));
    }
    else if (const std::optional<int> last = RowScans::findLastZLine(*Memo1, Memo1->lineCount()))
        top = QStringLiteral(" The last Z line is at Z %1.").arg(zText(RowScans::zOf(Memo1->rowBytes(*last))));
    Dialogs::ShowNotice(QStringLiteral("That height was not found.") + top);
    showRow(StartRow, RowShown::Select, Insertable::Keep);
}

void TEditorForBorvane5_Form1::sbtnGoRowNumberClick()
{
    goToRow(Utility::TruncateToInt(Utility::TextToNumber(lbleRow->text(), 1)));
}

void TEditorForBorvane5_Form1::goToRow(int row)
{
    // Lines go before or after a row the editor has (the empty row after a last line break
    // included); past its end there is none to insert at.
    showRow(row, RowShown::Jump, Insertable::ByRow);
}

void TEditorForBorvane5_Form1::Memo1Click()
{
    Memo1->setReadOnly(false);
    showRow(Memo1->CaretRow(), RowShown::Follow, Insertable::On);
    Memo1->setFocus();
}
