// The time into the print: read on a thread of its own after a drop and after each edit, by the
// same core function as the batch mode (PrintTimes::compute), and told in the message area, the
// layer ruler's tooltip and the margin's layer labels. "Serch" by "Insert Time" chooses the layer
// as --time does (chooseLayerForTime).

#include "core/navigation/PrintAnalysis.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/EditorPrint.h"
#include "gui/LabeledEdit.h"
#include "gui/PrinterChoice.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QFutureWatcher>
#include <QHelpEvent>
#include <QPlainTextEdit>
#include <QToolTip>
#include <QtConcurrent/QtConcurrentRun>

#include <string>

namespace {

// What the times count, where they are shown.
const QString kWhatTimesCount = QStringLiteral("Waits for heating count as nothing: a file cannot tell how long they take.");

} // namespace

void TEditorForBorvane5_Form1::startPrintTimes()
{
    if (!FileLoaded)
        return;
    if (!m_timesWatcher) {
        m_timesWatcher = new QFutureWatcher<PrintTimes>(this);
        connect(m_timesWatcher, &QFutureWatcher<PrintTimes>::finished, this,
                &TEditorForBorvane5_Form1::printTimesRead);
    }
    // One reading at a time: a newer text is read when the running one ends.
    const std::optional<PrintModel::TimesReading> reading =
        m_print->model().timesToRead(m_printerChoice->profile().name);
    if (!reading)
        return;
    m_timesReading = *reading;
    // A copy of the text, read while the user goes on editing.
    const std::string_view bytes = Memo1->bytes();
    std::string body(bytes.begin(), bytes.end());
    QByteArray header(HeaderBuffer.data(), HeaderLength);
    const MotionLimits limits = MotionLimits::forFirmware(reading->printer);
    m_timesWatcher->setFuture(
        QtConcurrent::run([body = std::move(body), header = std::move(header), limits]() {
            return PrintTimes::compute({header.constData(), std::size_t(header.size())}, body, limits);
        }));
}

void TEditorForBorvane5_Form1::printTimesRead()
{
    m_print->model().timesRead(m_timesWatcher->result(), m_timesReading);
    if (!printTimes())
        return; // another reading started for the text as it is now
    m_layerRuler->update();
    // A message said while the times were not there is completed, if its row is still shown.
    if (const std::optional<PendingWhen> pending = std::exchange(m_pendingWhen, std::nullopt)) {
        const QString said = memoMessage->toPlainText();
        if (pending->row == CurrentRow && said.startsWith(pending->shown)) {
            const QString when = whenText(pending->row);
            if (!when.isEmpty()) {
                const QString completed = pending->text(when);
                // The time goes within the first line: the lines a click on leads from keep their rows.
                if (completed.count(u'\n') == pending->shown.count(u'\n')) {
                    const QString message = completed + said.mid(pending->shown.size());
                    memoMessage->setPlainText(message);
                    // A redo of the insertion that said it says it with its time.
                    if (!m_insertionSteps.empty() && m_insertionSteps.back().messageAfter == said)
                        m_insertionSteps.back().messageAfter = message;
                }
            }
        }
    }
}

const PrintTimes* TEditorForBorvane5_Form1::printTimes()
{
    if (!FileLoaded)
        return nullptr;
    if (const PrintTimes* times = m_print->model().times(m_printerChoice->profile().name))
        return times;
    startPrintTimes();
    return nullptr;
}

QString TEditorForBorvane5_Form1::whenText(int row)
{
    const PrintTimes* times = printTimes();
    if (!times || times->source() == PrintTimes::Source::None)
        return {};
    return QStringLiteral("%1 into the print, of %2 (%3)")
        .arg(formatDuration(timeAtRow(*Memo1, *times, row)), formatDuration(times->total()),
             PrintTimes::sourceText(times->source()));
}

QString TEditorForBorvane5_Form1::withWhen(int row, std::function<QString(const QString& when)> text)
{
    const QString when = whenText(row);
    const QString said = text(when);
    if (when.isEmpty() && FileLoaded)
        m_pendingWhen = PendingWhen{row, said, std::move(text)};
    return said;
}

QString TEditorForBorvane5_Form1::layerTimeTip(std::size_t layer)
{
    const LayerSpan layers = layerIndex().layers();
    if (layer >= layers.size())
        return {};
    const QString when = whenText(layers[layer].row);
    return when.isEmpty() ? QString() : u'\n' + when + u'\n' + kWhatTimesCount;
}

bool TEditorForBorvane5_Form1::marginToolTip(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ToolTip || !FileLoaded || watched != Memo1->viewport())
        return false;
    auto* help = static_cast<QHelpEvent*>(event);
    if (help->pos().x() >= Memo1->marginsWidth())
        return false;
    for (const EditBuffer::MarginLine& line : Memo1->marginLines()) {
        if (line.layer.isEmpty() || help->pos().y() < line.top || help->pos().y() >= line.top + line.height)
            continue;
        const std::optional<std::size_t> layer = layerIndex().layerAt(line.row);
        if (!layer)
            break;
        const Layer& at = layerIndex().layers()[*layer];
        QString tip = QStringLiteral("Layer %1 at Z %2, row %3")
                          .arg(*layer + 1)
                          .arg(Utility::FormatFixed(at.z(), 3))
                          .arg(at.row);
        const QString time = layerTimeTip(*layer);
        tip += time.isEmpty() ? QStringLiteral("\nThe time into the print is being read.") : time;
        QToolTip::showText(help->globalPos(), tip, Memo1->viewport(),
                           QRect(0, line.top, Memo1->marginsWidth(), line.height));
        return true;
    }
    QToolTip::hideText();
    return true;
}

void TEditorForBorvane5_Form1::searchTime()
{
    const QByteArray typed = leditTime->text().trimmed().toUtf8();
    const std::optional<double> seconds = parseDuration({typed.constData(), std::size_t(typed.size())});
    if (!seconds) {
        Dialogs::ShowError(QStringLiteral("Insert Time"),
                           QStringLiteral("\"%1\" is not a time. Type seconds (5400), 90m, 1h30m or 1:30:00.")
                               .arg(leditTime->text()));
        return;
    }
    const PrintTimes* times = printTimes();
    if (!times) {
        showNote(QStringLiteral("The time into the print is still being read: press Serch again in a moment."));
        return;
    }
    const LayerIndex& index = layerIndex();
    const std::optional<std::size_t> layer = chooseLayerForTime(*Memo1, index, *times, *seconds);
    if (!layer) {
        const LayerSpan layers = index.layers();
        QString why = QStringLiteral("No layer starts at %1 into the print: it prints for %2 (%3)")
                          .arg(formatDuration(*seconds), formatDuration(times->total()),
                               PrintTimes::sourceText(times->source()));
        if (layers.empty())
            why += QStringLiteral(" and has no layers");
        else if (*seconds <= times->total())
            why += QStringLiteral("; its first layer starts at %1")
                       .arg(formatDuration(timeAtRow(*Memo1, *times, layers.front().row)));
        Dialogs::ShowNotice(why + u'.');
        return;
    }
    const Layer& at = index.layers()[*layer];
    selectRow(at.row, at.z(), *layer);
}
