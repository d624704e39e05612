#include "gui/EditorPrint.h"

#include "gui/EditBuffer.h"

#include <QTimer>

namespace {

// Milliseconds from the last paint that lacked layers or events to finding them.
constexpr int kRefreshDelay = 250;

} // namespace

EditorPrint::EditorPrint(EditBuffer& text, QObject* parent) : QObject(parent), m_text(text), m_model(text)
{
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(kRefreshDelay);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] {
        m_model.layers();
        m_model.events();
        emit refreshed();
    });
    // The one entry point of every change: Scintilla tells of each insertion and deletion, undo
    // and redo included, before it makes it.
    connect(&m_text, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char*, int length, int, int, int, int, int, int) {
                if (type & (QsciScintillaBase::SC_MOD_BEFOREINSERT | QsciScintillaBase::SC_MOD_BEFOREDELETE))
                    m_model.aboutToChange(position, length, type & QsciScintillaBase::SC_MOD_BEFOREDELETE);
            });
}

const std::vector<LayerRuler::Mark>& EditorPrint::rulerMarks()
{
    const LayerIndex& index = m_model.layers();
    const std::vector<PrintEvents::Event>& found = m_model.events();
    if (m_model.version() != m_rulerMarksVersion) {
        m_rulerMarks.clear();
        for (const PrintEvents::Event& event : found) {
            if (m_text.isUnmarkedBlockRow(event.row))
                continue; // a pause block's standby and reheat: the block is marked once, as a pause
            if (const std::optional<std::size_t> layer = index.layerAt(event.row))
                m_rulerMarks.push_back({*layer, event.command.kind, m_text.isInsertedRow(event.row)});
        }
        for (const int row : m_text.insertedRows()) {
            if (const std::optional<std::size_t> layer = index.layerAt(row))
                m_rulerMarks.push_back({*layer, PrintEvents::Kind::None, true});
        }
        m_rulerMarksVersion = m_model.version();
    }
    return m_rulerMarks;
}

void EditorPrint::textReplaced(std::optional<LayerIndex> layers)
{
    m_model.textReplaced(std::move(layers));
    m_rulerMarksVersion = ~quint64(0);
}

bool EditorPrint::current(bool withEvents)
{
    if (m_model.current(withEvents))
        return true;
    // Found once the text has been still for a moment, so that a load, an undo or typing does
    // not wait for them.
    if (m_model.version() != m_pendingVersion || !m_refreshTimer->isActive()) {
        m_pendingVersion = m_model.version();
        m_refreshTimer->start();
    }
    return false;
}
