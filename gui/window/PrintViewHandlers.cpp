// Seeing the print: the layer ruler beside the editor, the layer labels in the editor's margin,
// and the warnings after an insertion or a height search. The scans are PrintEvents'; these
// handlers only show what they find.

#include "core/gcode/PrintEvents.h"
#include "core/text/Utility.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/LayerRuler.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>

namespace {

// Milliseconds from the last paint that lacked layers or marks to finding them.
constexpr int kPrintViewRefreshDelay = 250;

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
    m_printViewTimer = new QTimer(this);
    m_printViewTimer->setSingleShot(true);
    m_printViewTimer->setInterval(kPrintViewRefreshDelay);
    connect(m_printViewTimer, &QTimer::timeout, this, [this] {
        layerIndex();
        printEvents();
        m_layerRuler->update();
        Memo1->viewport()->update();
    });
    m_layerRuler->setSource([this] { return rulerView(); });
    connect(m_layerRuler, &LayerRuler::heightChosen, this, &TEditorForBorvane5_Form1::rulerHeightChosen);
    connect(Memo1, &EditBuffer::cursorPositionChanged, m_layerRuler, qOverload<>(&QWidget::update));
    Memo1->setLayerLabels([this](int first, int last) {
        std::vector<std::pair<int, QString>> labels;
        if (!printViewIsCurrent(false))
            return labels;
        const std::vector<Layer>& layers = m_layerIndex.layers();
        auto layer = std::lower_bound(layers.begin(), layers.end(), first,
                                      [](const Layer& l, int row) { return l.row < row; });
        for (; layer != layers.end() && layer->row <= last; ++layer)
            labels.emplace_back(
                layer->row, QStringLiteral("%1  %2").arg(layer - layers.begin() + 1).arg(zText(layer->z)));
        return labels;
    });
}

const std::vector<PrintEvents::Event>& TEditorForBorvane5_Form1::printEvents()
{
    const quint64 revision = Memo1->revision();
    if (revision != m_printEventsRevision) {
        m_printEvents = PrintEvents::findEvents(*Memo1);
        m_printEventsRevision = revision;
    }
    return m_printEvents;
}

void TEditorForBorvane5_Form1::followInsertedRows(quint64 revision, int row, int count)
{
    if (m_printEventsRevision == revision) {
        std::vector<QByteArray> texts;
        for (int r = row; r < row + count; ++r)
            texts.push_back(Memo1->rowText(r).toLatin1());
        std::vector<std::string_view> rows;
        for (const QByteArray& text : texts)
            rows.emplace_back(text.constData(), std::size_t(text.size()));
        PrintEvents::insertRows(m_printEvents, row, rows);
        m_printEventsRevision = Memo1->revision();
    }
    // Command lines hold no move: the layer view's checkpoints only shift.
    if (m_checkpointsRevision == revision) {
        m_moveCheckpoints.rowsInserted(row, count);
        m_checkpointsRevision = Memo1->revision();
    }
}

bool TEditorForBorvane5_Form1::printViewIsCurrent(bool withMarks)
{
    const quint64 revision = Memo1->revision();
    if (m_layerIndexRevision == revision && (!withMarks || m_printEventsRevision == revision))
        return true;
    // Layers and marks are found once the text has been still for a moment, so that a load, an
    // undo or typing does not wait for them; the margins and the ruler show them then.
    if (revision != m_printViewPendingRevision || !m_printViewTimer->isActive()) {
        m_printViewPendingRevision = revision;
        m_printViewTimer->start();
    }
    return false;
}

LayerRuler::View TEditorForBorvane5_Form1::rulerView()
{
    if (!printViewIsCurrent(false))
        return {};
    const LayerIndex& index = m_layerIndex;
    const quint64 revision = Memo1->revision();
    if (!printViewIsCurrent(true))
        return {&index.layers(), nullptr, index.layerAt(Memo1->CaretRow()), index.layerAt(StartRow)};
    if (revision != m_rulerMarksRevision) {
        m_rulerMarks.clear();
        for (const PrintEvents::Event& event : printEvents()) {
            if (const std::optional<std::size_t> layer = index.layerAt(event.row))
                m_rulerMarks.push_back({*layer, event.command.kind, Memo1->isInsertedRow(event.row)});
        }
        for (const int row : Memo1->insertedRows()) {
            if (const std::optional<std::size_t> layer = index.layerAt(row))
                m_rulerMarks.push_back({*layer, PrintEvents::Kind::None, true});
        }
        m_rulerMarksRevision = revision;
    }
    return {&index.layers(), &m_rulerMarks, index.layerAt(Memo1->CaretRow()), index.layerAt(StartRow),
            &m_hollowLayers};
}

void TEditorForBorvane5_Form1::rulerHeightChosen(double height)
{
    if (!bbtnHeightSearch->isEnabled())
        return;
    const LayerIndex& index = layerIndex();
    const std::vector<Layer>& layers = index.layers();
    const std::optional<std::size_t> layer = index.layerForHeight(height);
    if (layers.empty())
        return;
    if (!layer) {
        // Above the top layer's height, which no height search reaches: its change row, shown
        // as a height search shows the row it finds.
        selectRulerRow(layers.size() - 1);
        return;
    }
    const double bottom = layers[*layer].z;
    const double top = *layer + 1 < layers.size() ? layers[*layer + 1].z : height;
    // The shortest typed height that a height search takes to this layer.
    QString text;
    for (int decimals = 1; decimals <= 9; ++decimals) {
        text = Utility::FormatFixed(height - StartHeight, decimals);
        const double target = Utility::TextToNumber(text, 1) + StartHeight;
        if (target > bottom && target <= top)
            break;
    }
    leditPause->setText(text);
    bbtnHeightSearchClick();
}

void TEditorForBorvane5_Form1::selectRulerRow(std::size_t layer)
{
    const Layer chosen = layerIndex().layers()[layer];
    CurrentRow = chosen.row;
    leditCurrentZ->setText(zText(chosen.z));
    InsertEnabled = true;
    SetInsertionControlsEnabled(true);
    lbleRow->setText(Utility::IntToPadded(CurrentRow, 1));
    Memo1->SelectRow(CurrentRow);
    Memo1->setReadOnly(true);
    Memo1->setFocus();
    explainHeightChoice(CurrentRow, chosen.z, layer);
    warnAfterHeightSearch();
}

void TEditorForBorvane5_Form1::warnAfterInsertion(int firstRow, int count)
{
    const std::vector<PrintEvents::Event>& events = printEvents();
    const LayerIndex& index = layerIndex();
    const int lastRow = firstRow + count - 1;
    const auto layerNumber = [&](int row) { return index.layerAt(row) ? long(*index.layerAt(row)) : -1L; };
    const auto heightAt = [&](int row) {
        const std::optional<std::size_t> layer = index.layerAt(row);
        return layer ? zText(index.layers()[*layer].z) : QStringLiteral("-");
    };
    QList<Warning> warnings;
    bool insertedPause = false;
    const int activeTool = PrintEvents::activeToolAt(events, firstRow);
    for (int row = firstRow; row <= lastRow; ++row) {
        const QByteArray bytes = Memo1->rowText(row).toLatin1();
        const PrintEvents::Command command =
            PrintEvents::parse(std::string_view(bytes.constData(), bytes.size()));
        insertedPause = insertedPause || command.kind == PrintEvents::Kind::Pause;
        if (command.kind != PrintEvents::Kind::Temperature || !command.value)
            continue;
        const int heater = command.heater == PrintEvents::kActiveTool ? activeTool : command.heater;
        const std::optional<PrintEvents::Event> again =
            PrintEvents::nextSetting(events, lastRow + 1, heater, activeTool);
        if (!again)
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
    for (const int beside : {firstRow - 1, lastRow + 1}) {
        if (Memo1->isInsertedRow(beside)) {
            warnings.append(
                {QStringLiteral("Row %1 already had lines inserted: this is a second insertion there.")
                     .arg(firstRow),
                 beside});
            break;
        }
    }
    showWarnings(warnings, false);
}

void TEditorForBorvane5_Form1::warnAfterHeightSearch()
{
    const PrintEvents::Pauses pauses = PrintEvents::pausesApart(printEvents(), CurrentRow, CurrentRow - 1);
    QList<Warning> warnings;
    if (pauses.count > 0) {
        const LayerIndex& index = layerIndex();
        const std::optional<std::size_t> layer = index.layerAt(*pauses.nearest);
        warnings.append({QStringLiteral("The file already pauses %1; the nearest on row %2 (Z %3).")
                             .arg(timesText(pauses.count))
                             .arg(*pauses.nearest)
                             .arg(layer ? zText(index.layers()[*layer].z) : QStringLiteral("-")),
                         *pauses.nearest});
    }
    showWarnings(warnings, true);
}

void TEditorForBorvane5_Form1::showWarnings(const QList<Warning>& warnings, bool append)
{
    // Warnings of an earlier action go; a height search adds to what the search itself said.
    const bool earlierWarnings = !m_warningRows.empty();
    m_warningRows.clear();
    if (!append && (earlierWarnings || !warnings.isEmpty()))
        memoMessage->clear();
    for (const Warning& warning : warnings) {
        memoMessage->appendPlainText(warning.text);
        if (warning.row)
            m_warningRows[memoMessage->document()->blockCount() - 1] = *warning.row;
    }
    // The area shows two lines: the warnings, last, stay in view; the wheel scrolls back.
    if (!warnings.isEmpty())
        memoMessage->verticalScrollBar()->setValue(memoMessage->verticalScrollBar()->maximum());
}

bool TEditorForBorvane5_Form1::messageScrolled(QObject* watched, QEvent* event)
{
    // The message area is disabled, so that nothing can be typed there; its scroll bar takes
    // the wheel all the same.
    if (event->type() != QEvent::Wheel || watched != memoMessage->viewport())
        return false;
    QScrollBar* bar = memoMessage->verticalScrollBar();
    const int notches = static_cast<QWheelEvent*>(event)->angleDelta().y() / 120;
    bar->setValue(bar->value() - notches * bar->singleStep());
    return true;
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
    lbleRow->setText(Utility::IntToPadded(row->second, 1));
    sbtnGoRowNumberClick();
    ShowCurrentZ(CurrentRow);
    return true;
}
