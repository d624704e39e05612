// Seeing the print: the layer ruler beside the editor, the layer labels in the editor's margin,
// and the warnings after an insertion or a height search. The scans are PrintEvents'; these
// handlers only show what they find.

#include "core/gcode/PrintEvents.h"
#include "core/text/Utility.h"
#include "gui/EditBuffer.h"
#include "gui/EditorPrint.h"
#include "gui/LabeledEdit.h"
#include "gui/LayerRuler.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QWheelEvent>

#include <algorithm>
#include <set>

namespace {

QString zText(double z)
{
    return Utility::FormatFixed(z, 3);
}

QString timesText(int count)
{
    return count == 1 ? QStringLiteral("once") : QStringLiteral("%1 times").arg(count);
}

QString heaterName(int heater)
{
    return heater == PrintEvents::kBed ? QStringLiteral("the bed") : QStringLiteral("T%1").arg(heater);
}

} // namespace

void TEditorForBorvane5_Form1::buildPrintView()
{
    m_layerRuler = new LayerRuler(pnlRight);
    m_print = new EditorPrint(*Memo1, this);
    connect(m_print, &EditorPrint::refreshed, this, [this] {
        m_layerRuler->update();
        Memo1->viewport()->update();
    });
    m_layerRuler->setSource([this] { return rulerView(); });
    connect(m_layerRuler, &LayerRuler::heightChosen, this, &TEditorForBorvane5_Form1::rulerHeightChosen);
    connect(m_layerRuler, &LayerRuler::layerChosen, this, &TEditorForBorvane5_Form1::rulerLayerChosen);
    connect(Memo1, &EditBuffer::cursorPositionChanged, m_layerRuler, qOverload<>(&QWidget::update));
    Memo1->setLayerLabels([this](int first, int last) {
        std::vector<std::pair<int, QString>> labels;
        if (!m_print->current(false))
            return labels;
        const LayerIndex& index = m_print->layers();
        const LayerSpan layers = index.layers();
        auto layer = std::lower_bound(layers.begin(), layers.end(), first,
                                      [](const Layer& l, int row) { return l.row < row; });
        // In a file of several parts, the part before the layer within it: "2·25  5.000".
        const bool parts = index.partCount() > 1;
        for (; layer != layers.end() && layer->row <= last; ++layer) {
            const auto at = std::size_t(layer - layers.begin());
            const std::size_t part = parts ? index.partOf(at) : 0;
            const QString number = parts ? QStringLiteral("%1\u00B7%2").arg(part + 1).arg(at - index.partBegin(part) + 1)
                                         : QString::number(at + 1);
            labels.emplace_back(layer->row, QStringLiteral("%1  %2").arg(number, zText(layer->z())));
        }
        return labels;
    });
}

LayerRuler::View TEditorForBorvane5_Form1::rulerView()
{
    if (!m_print->current(false))
        return {};
    const LayerIndex& index = m_print->layers();
    const std::vector<LayerRuler::Mark>* marks = m_print->current(true) ? &m_print->rulerMarks() : nullptr;
    // The layers the hollows close at in the text as it is, each once.
    m_hollowLayers.clear();
    for (const Hollow& hollow : m_print->model().hollows()) {
        if (m_hollowLayers.empty() || m_hollowLayers.back() != hollow.layer)
            m_hollowLayers.push_back(hollow.layer);
    }
    std::vector<std::size_t> partBegins;
    for (std::size_t part = 0; part < index.partCount(); ++part)
        partBegins.push_back(index.partBegin(part));
    return {index.layers(),
            marks,
            index.layerAt(Memo1->CaretRow()),
            index.layerAt(StartRow),
            &m_hollowLayers,
            [this](std::size_t layer) { return layerTimeTip(layer); },
            std::move(partBegins)};
}

void TEditorForBorvane5_Form1::rulerLayerChosen(std::size_t layer)
{
    if (!bbtnHeightSearch->isEnabled())
        return;
    const LayerSpan layers = layerIndex().layers();
    if (layer < layers.size())
        selectRow(layers[layer].row, layers[layer].z(), layer);
}

void TEditorForBorvane5_Form1::rulerHeightChosen(double height)
{
    if (!bbtnHeightSearch->isEnabled())
        return;
    const LayerIndex& index = layerIndex();
    const LayerSpan layers = index.layers();
    if (layers.empty())
        return;
    // The layer whose band holds the height, as a height search for it finds it; above the top
    // layer's height, which no height search reaches, the top layer.
    const std::size_t layer = index.layerForHeight(height).value_or(layers.size() - 1);
    selectRow(layers[layer].row, layers[layer].z(), layer);
}

void TEditorForBorvane5_Form1::warnAfterInsertion(int firstRow, int count)
{
    const std::vector<PrintEvents::Event>& events = m_print->events();
    const LayerIndex& index = layerIndex();
    const int lastRow = firstRow + count - 1;
    const auto layerNumber = [&](int row) { return index.layerAt(row) ? long(*index.layerAt(row)) : -1L; };
    const auto heightAt = [&](int row) {
        const std::optional<std::size_t> layer = index.layerAt(row);
        return layer ? zText(index.layers()[*layer].z()) : QStringLiteral("-");
    };
    QList<Warning> warnings;
    // A pause block's standby and reheat leave the nozzle's target as it was: no warning for them.
    bool insertedPause = false;
    for (int row = firstRow; row <= lastRow; ++row)
        insertedPause = insertedPause || PrintEvents::isPause(Memo1->rowBytes(row));
    const int activeTool = PrintEvents::activeToolAt(events, firstRow);
    for (int row = firstRow; row <= lastRow && !insertedPause; ++row) {
        const QByteArray bytes = Memo1->rowText(row).toLatin1();
        const PrintEvents::Command command =
            PrintEvents::parse(std::string_view(bytes.constData(), bytes.size()));
        if (command.kind != PrintEvents::Kind::Temperature || !command.value)
            continue;
        const int heater = command.heater == PrintEvents::kActiveTool ? activeTool : command.heater;
        const std::optional<PrintEvents::Event> again =
            PrintEvents::nextSetting(events, lastRow + 1, heater, activeTool);
        // The end code switching the heaters off once the last layer is printed undoes nothing.
        if (!again ||
            (again->command.value == 0 && !index.isEmpty() && again->row > index.layers().back().row))
            continue;
        // Counted from the layer that the rows after the inserted ones belong to.
        const long layers = layerNumber(again->row) - layerNumber(lastRow + 1);
        warnings.append(
            {QStringLiteral("%1 %2 on row %3 is set again on row %4 (Z %5) to %6: it holds for %7 layers.")
                 .arg(heaterName(heater))
                 .arg(*command.value)
                 .arg(row)
                 .arg(again->row)
                 .arg(heightAt(again->row))
                 .arg(again->command.value.value_or(0))
                 .arg(layers),
             again->row});
    }
    if (insertedPause) {
        for (const int beside : {firstRow - 1, lastRow + 1}) {
            if (PrintEvents::isPause(Memo1->rowBytes(beside)) && !(beside >= firstRow && beside <= lastRow))
                warnings.append(
                    {QStringLiteral("The pause on row %1 stands directly beside another pause on row %2.")
                         .arg(firstRow)
                         .arg(beside),
                     beside});
        }
        const PrintEvents::Pauses pauses = PrintEvents::pausesApart(events, firstRow, lastRow);
        if (pauses.count > 0)
            warnings.append({QStringLiteral("The file already pauses %1; the nearest on row %2 (Z %3).")
                                 .arg(timesText(pauses.count))
                                 .arg(*pauses.nearest)
                                 .arg(heightAt(*pauses.nearest)),
                             *pauses.nearest});
    }
    // Lines inserted earlier right above or below: a pause beside a temperature is the usual
    // pair, but a second line of the same kind likely repeats or contradicts the first.
    const auto kindsOf = [this](int from, int to) {
        std::set<PrintEvents::Kind> kinds;
        for (int row = from; row <= to; ++row)
            kinds.insert(PrintEvents::parse(Memo1->rowBytes(row)).kind);
        kinds.erase(PrintEvents::Kind::None);
        return kinds;
    };
    const std::set<PrintEvents::Kind> inserted = kindsOf(firstRow, lastRow);
    for (const int step : {-1, +1}) {
        const int beside = step < 0 ? firstRow - 1 : lastRow + 1;
        int end = beside;
        while (Memo1->isInsertedRow(end + step))
            end += step;
        if (!Memo1->isInsertedRow(beside))
            continue;
        const std::set<PrintEvents::Kind> there = kindsOf(qMin(beside, end), qMax(beside, end));
        if (std::any_of(there.begin(), there.end(),
                        [&](PrintEvents::Kind kind) { return inserted.count(kind); })) {
            warnings.append(
                {QStringLiteral("Row %1 already had lines inserted: this is a second insertion there.")
                     .arg(firstRow),
                 beside});
            break;
        }
    }
    showWarnings(warnings, true);
}

void TEditorForBorvane5_Form1::warnAfterHeightSearch()
{
    const PrintEvents::Pauses pauses =
        PrintEvents::pausesApart(m_print->events(), CurrentRow, CurrentRow - 1);
    QList<Warning> warnings;
    // The same height in the other parts that span it, each line a link to its row.
    if (m_partChoices.size() > 1 && m_partChoices.front().row == CurrentRow) {
        const LayerIndex& index = layerIndex();
        warnings.append({QStringLiteral("The height is also in %1 more part(s); \"in every part\" inserts at each:")
                             .arg(m_partChoices.size() - 1),
                         std::nullopt});
        for (std::size_t i = 1; i < m_partChoices.size(); ++i) {
            const PartChoice& choice = m_partChoices[i];
            const std::size_t part = index.partOf(choice.layer);
            warnings.append({QStringLiteral("part %1, layer %2 at Z %3, row %4")
                                 .arg(part + 1)
                                 .arg(choice.layer - index.partBegin(part) + 1)
                                 .arg(zText(choice.z))
                                 .arg(choice.row),
                             choice.row});
        }
    }
    if (pauses.count > 0) {
        const LayerIndex& index = layerIndex();
        const std::optional<std::size_t> layer = index.layerAt(*pauses.nearest);
        warnings.append({QStringLiteral("The file already pauses %1; the nearest on row %2 (Z %3).")
                             .arg(timesText(pauses.count))
                             .arg(*pauses.nearest)
                             .arg(layer ? zText(index.layers()[*layer].z()) : QStringLiteral("-")),
                         *pauses.nearest});
    }
    showWarnings(warnings, true);
}

void TEditorForBorvane5_Form1::showWarnings(const QList<Warning>& warnings, bool append)
{
    // Warnings of an earlier action go; a height search adds to what the search itself said.
    if (!append) {
        m_warningRows.clear();
        memoMessage->clear();
    }
    for (const Warning& warning : warnings) {
        memoMessage->appendPlainText(warning.text);
        if (warning.row)
            m_warningRows[memoMessage->document()->blockCount() - 1] = *warning.row;
    }
    // The area grows to a third of the panel; beyond that the warnings, last, stay in view.
    if (!warnings.isEmpty())
        memoMessage->verticalScrollBar()->setValue(memoMessage->verticalScrollBar()->maximum());
}

bool TEditorForBorvane5_Form1::warningClicked(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::MouseButtonRelease || watched != memoMessage->viewport())
        return false;
    const auto* click = static_cast<QMouseEvent*>(event);
    const int block = memoMessage->cursorForPosition(click->position().toPoint()).blockNumber();
    const auto row = m_warningRows.find(block);
    if (click->button() != Qt::LeftButton || row == m_warningRows.end())
        return false;
    // The list stays, each line a way to its row; the row chosen is shown as a jump shows it.
    const QString list = memoMessage->toPlainText();
    const std::map<int, int> rows = m_warningRows;
    const int scrolled = memoMessage->verticalScrollBar()->value();
    showRow(row->second, RowShown::Jump, Insertable::ByRow, std::nullopt, list);
    m_warningRows = rows;
    memoMessage->verticalScrollBar()->setValue(scrolled);
    return true;
}

void TEditorForBorvane5_Form1::listTypedRows()
{
    const std::vector<int> rows = Memo1->typedRows();
    if (rows.empty())
        return;
    // A run of rows is one line; the area scrolls when there are many.
    QList<Warning> lines{{QStringLiteral("Typed by hand, written as they stand:"), std::nullopt}};
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        lines.append({rows[i] == rows[j]
                          ? QStringLiteral("row %1: %2").arg(rows[i]).arg(Memo1->rowText(rows[i]))
                          : QStringLiteral("rows %1 to %2").arg(rows[i]).arg(rows[j]),
                      rows[i]});
        i = j + 1;
    }
    showWarnings(lines, false);
    memoMessage->repaint();
}
