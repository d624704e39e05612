// The layer view beside the ruler (F3 or its button), and the hollows found after a drop: marked on
// the ruler, named in the message area, outlined in the view.

#include "core/layers/HollowFinder.h"
#include "core/file/SlicedFileReader.h"
#include "core/text/Utility.h"
#include "gui/EditBuffer.h"
#include "gui/EditorPrint.h"
#include "gui/LayerRuler.h"
#include "gui/LayerView.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QFile>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QTextBlock>
#include <QTimer>
#include <QScreen>
#include <QToolButton>

namespace {

// Milliseconds from a drop to the start of the hollow search.
constexpr int kHollowSearchDelay = 300;
// The view's property that holds what the window grew by as the view opened.
constexpr const char* kWindowGrewBy = "windowGrewBy";

} // namespace

void TEditorForBorvane5_Form1::buildLayerView()
{
    m_layerView = new LayerView(m_editorSplit);
    m_layerView->hide();
    m_layerView->setMinimumWidth(kLayerViewLeast);
    m_layerView->setSource([this] { return layerViewFrame(); });
    // A small button in the ruler's top corner opens the view beside it.
    m_layerViewButton = new QToolButton(m_layerRuler);
    m_layerViewButton->setObjectName(QStringLiteral("btnLayerView"));
    m_layerViewButton->setText(QStringLiteral("▸"));
    m_layerViewButton->setGeometry(m_layerRuler->sizeHint().width() - 18, 0, 18, 14);
    m_editorSplit->addWidget(m_layerView);
    m_editorSplit->setStretchFactor(1, 0);
    m_layerViewButton->setToolTip(QStringLiteral("Show the selected layer from above (F3)"));
    m_layerViewButton->setCheckable(true);
    m_layerViewButton->setFocusPolicy(Qt::NoFocus);
    connect(m_layerViewButton, &QToolButton::toggled, this, &TEditorForBorvane5_Form1::setLayerViewShown);
    auto* f3 = new QShortcut(QKeySequence(Qt::Key_F3), this);
    connect(f3, &QShortcut::activated, m_layerViewButton, &QToolButton::toggle);
    // It follows the selected row as the margins and the ruler do.
    connect(Memo1, &EditBuffer::cursorPositionChanged, m_layerView, qOverload<>(&QWidget::update));
    connect(m_print, &EditorPrint::refreshed, m_layerView, qOverload<>(&QWidget::update));
    // A new file has margins of its own width.
    connect(m_print, &EditorPrint::refreshed, this, &TEditorForBorvane5_Form1::limitLayerViewShare);
}

int TEditorForBorvane5_Form1::editorPaneLeast() const
{
    // The text's width as Scintilla draws it, in the editor's font.
    const QByteArray characters(kReadableCharacters, '0');
    const long text = Memo1->SendScintilla(QsciScintillaBase::SCI_TEXTWIDTH, long(QsciScintillaBase::STYLE_DEFAULT),
                                           characters.constData());
    return 2 * Memo1->frameWidth() + Memo1->marginsWidth() + int(text) +
           Memo1->verticalScrollBar()->sizeHint().width() + m_layerRuler->sizeHint().width();
}

void TEditorForBorvane5_Form1::limitLayerViewShare()
{
    if (m_layerView->isHidden())
        return;
    const int room = m_editorSplit->width() - m_editorSplit->handleWidth();
    const int most = qMax(kLayerViewLeast, room - editorPaneLeast());
    if (m_layerView->maximumWidth() != most)
        m_layerView->setMaximumWidth(most);
}

void TEditorForBorvane5_Form1::setLayerViewShown(bool shown)
{
    // Where the screen has room, the window grows as the view opens (and gives it back as it
    // closes), so that the editor keeps its readable width beside the view.
    const int wanted = editorPaneLeast() + m_editorSplit->handleWidth() + m_layerView->sizeHint().width();
    if (shown && !isMaximized() && !isFullScreen() && screen()) {
        const int room = screen()->availableGeometry().right() - frameGeometry().right();
        const int grown = qBound(0, qMin(room, wanted - m_editorSplit->width()), wanted);
        m_layerView->setProperty(kWindowGrewBy, grown);
        if (grown > 0)
            resize(width() + grown, height());
    }
    if (shown) {
        m_layerView->setMaximumWidth(QWIDGETSIZE_MAX);
        m_layerView->show();
        layoutPanels();
        limitLayerViewShare();
        const int room = m_editorSplit->width() - m_editorSplit->handleWidth();
        const int view = qBound(kLayerViewLeast, m_layerView->sizeHint().width(), m_layerView->maximumWidth());
        m_editorSplit->setSizes({room - view, view});
    } else {
        m_layerView->hide();
    }
    m_layerViewButton->setText(shown ? QStringLiteral("◂") : QStringLiteral("▸"));
    if (!shown) {
        const int grown = m_layerView->property(kWindowGrewBy).toInt();
        if (grown > 0 && !isMaximized() && !isFullScreen())
            resize(qMax(minimumWidth(), width() - grown), height());
        m_layerView->setProperty(kWindowGrewBy, 0);
    }
    layoutPanels();
}

LayerView::Frame TEditorForBorvane5_Form1::layerViewFrame()
{
    LayerView::Frame frame;
    if (!FileLoaded || !m_print->current(false))
        return frame;
    PrintModel& print = m_print->model();
    frame.rows = Memo1;
    frame.layers = &print.layers();
    frame.checkpoints = &print.moveCheckpoints();
    frame.filamentDiameter = print.filamentDiameter();
    frame.extent = frame.checkpoints->modelExtent();
    frame.file = print.textGeneration();
    frame.revision = print.version();
    frame.row = Memo1->CaretRow();
    frame.hollows = &print.hollows();
    return frame;
}

void TEditorForBorvane5_Form1::startHollowSearch(const QString& path)
{
    stopHollowSearch();
    m_hollowLayers.clear();
    m_hollowMessage.clear();
    const quint64 generation = m_print->model().textGeneration();
    m_hollowSearchEnded = false;
    // The search waits for the window to show the file first.
    QTimer::singleShot(kHollowSearchDelay, this, [this, path, generation] {
        if (generation == m_print->model().textGeneration() && !m_hollowThread.joinable())
            runHollowSearch(path, generation);
    });
}

void TEditorForBorvane5_Form1::runHollowSearch(const QString& path, quint64 generation)
{
    // A 3MF's hollows are those of the plate shown.
    const int plate = m_archive ? m_archive->plate : 1;
    m_hollowThread = std::thread([this, path, generation, plate] {
        QFile file;
        // By the name's bytes, as the drop read it.
        if (SlicedFile::openRegularFile(file, path) != SlicedFile::Opened::Yes)
            return;
        std::optional<std::vector<Hollow>> found = HollowFinder::findInFile(file, m_hollowCancel, plate);
        if (!found)
            return;
        m_hollowSearchEnded = true;
        QMetaObject::invokeMethod(
            this,
            [this, generation, hollows = std::move(*found)]() mutable {
                hollowsFound(generation, std::move(hollows));
            },
            Qt::QueuedConnection);
    });
}

bool TEditorForBorvane5_Form1::stopHollowSearch()
{
    if (!m_hollowThread.joinable())
        return !m_hollowSearchEnded && !DroppedPath.isEmpty() && FileLoaded;
    m_hollowCancel = true;
    m_hollowThread.join();
    m_hollowCancel = false;
    return !m_hollowSearchEnded;
}

void TEditorForBorvane5_Form1::hollowsFound(quint64 generation, std::vector<Hollow> hollows)
{
    if (generation != m_print->model().textGeneration() || !FileLoaded)
        return;
    // Found in the file as it was opened: the model moves them by the edits since.
    m_print->model().setHollows(std::move(hollows), generation);
    const std::vector<Hollow>& found = m_print->model().hollows();
    m_hollowLayers.clear();
    for (const Hollow& hollow : found) {
        if (m_hollowLayers.empty() || m_hollowLayers.back() != hollow.layer)
            m_hollowLayers.push_back(hollow.layer);
    }
    m_layerRuler->update();
    m_layerView->update();
    if (m_hollowLayers.empty())
        return;

    // "Hollows close at layer 23 (Z 4.600) and layer 57 (Z 11.400): a pause there lets you fill them."
    QString text = m_hollowLayers.size() == 1 ? QStringLiteral("A hollow closes at ")
                                              : QStringLiteral("Hollows close at ");
    m_hollowMessageLayers.clear();
    for (std::size_t k = 0; k < m_hollowLayers.size(); ++k) {
        if (k > 0)
            text += k + 1 == m_hollowLayers.size() ? QStringLiteral(" and ") : QStringLiteral(", ");
        const std::size_t layer = m_hollowLayers[k];
        const auto hollow =
            std::find_if(found.begin(), found.end(), [&](const Hollow& h) { return h.layer == layer; });
        text += QStringLiteral("layer %1 (Z %2)").arg(layer + 1).arg(Utility::FormatFixed(hollow->z, 3));
        m_hollowMessageLayers.emplace_back(int(text.size()), layer);
    }
    text += m_hollowLayers.size() == 1 ? QStringLiteral(": a pause there lets you fill it.")
                                       : QStringLiteral(": a pause there lets you fill them.");
    m_hollowMessage = text;
    memoMessage->appendPlainText(text);
    memoMessage->verticalScrollBar()->setValue(memoMessage->verticalScrollBar()->maximum());
}

bool TEditorForBorvane5_Form1::hollowClicked(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::MouseButtonRelease || watched != memoMessage->viewport() ||
        m_hollowMessage.isEmpty())
        return false;
    const auto* click = static_cast<QMouseEvent*>(event);
    const QTextCursor cursor = memoMessage->cursorForPosition(click->position().toPoint());
    if (click->button() != Qt::LeftButton || cursor.block().text() != m_hollowMessage)
        return false;
    // The layer whose name was clicked; the last one after all names.
    const int at = cursor.positionInBlock();
    std::size_t layer = m_hollowMessageLayers.back().second;
    for (const auto& [end, named] : m_hollowMessageLayers) {
        if (at <= end) {
            layer = named;
            break;
        }
    }
    // As a height search selects a layer: its change row, its height told and explained.
    const LayerSpan layers = layerIndex().layers();
    if (layer < layers.size())
        selectRow(layers[layer].row, layers[layer].z(), layer);
    return true;
}
