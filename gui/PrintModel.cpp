#include "gui/PrintModel.h"

#include "gui/EditBuffer.h"

#include <QTimer>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// Milliseconds from the last paint that lacked layers or events to finding them.
constexpr int kRefreshDelay = 250;

// An edit of more rows than this (a whole body cleared or pasted) is cheaper to find again.
constexpr int kMostRowsFollowed = 4096;

} // namespace

PrintModel::PrintModel(EditBuffer& text, QObject* parent) : QObject(parent), m_text(text)
{
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(kRefreshDelay);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] {
        layers();
        events();
        emit refreshed();
    });
    connect(&m_text, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char*, int length, int, int, int, int, int, int) {
                if (type & (QsciScintillaBase::SC_MOD_BEFOREINSERT | QsciScintillaBase::SC_MOD_BEFOREDELETE))
                    beforeEdit(position, length, type & QsciScintillaBase::SC_MOD_BEFOREDELETE);
            });
}

std::string_view PrintModel::rowView(int row, QByteArray& storage) const
{
    storage = m_text.rowHead(row, std::numeric_limits<qsizetype>::max());
    return {storage.constData(), std::size_t(storage.size())};
}

void PrintModel::beforeEdit(qsizetype position, qsizetype length, bool deletes)
{
    followEdit();
    if (!m_layersValid && !m_eventsValid)
        return;
    Edit edit;
    edit.first = m_text.rowAt(position);
    edit.last = deletes ? m_text.rowAt(position + length) : edit.first;
    edit.rowsBefore = m_text.physicalRowCount();
    edit.insertsRows = !deletes && edit.first < edit.rowsBefore && position == m_text.rowStart(edit.first);
    edit.restoringLift = std::exchange(m_restoringLift, std::nullopt);
    if (edit.last - edit.first > kMostRowsFollowed) {
        m_layersValid = m_eventsValid = false;
        return;
    }
    if (m_layersValid) {
        QByteArray storage;
        for (int row = edit.first; row <= edit.last; ++row)
            edit.effects.push_back(LayerIndex::rowEffect(rowView(row, storage)));
    }
    m_edit = std::move(edit);
}

void PrintModel::followEdit()
{
    if (!m_edit)
        return;
    const Edit edit = std::move(*m_edit);
    m_edit.reset();
    ++m_changes;
    const int shift = m_text.physicalRowCount() - edit.rowsBefore;
    const int newLast = edit.last + shift;
    if (newLast < edit.first || newLast - edit.first > kMostRowsFollowed) {
        m_layersValid = m_eventsValid = false;
        return;
    }
    QByteArray storage;
    if (m_layersValid) {
        std::vector<std::string> effects;
        for (int row = edit.first; row <= newLast; ++row)
            effects.push_back(LayerIndex::rowEffect(rowView(row, storage)));
        const auto none = [](const std::vector<std::string>& list) {
            return std::all_of(list.begin(), list.end(), [](const std::string& e) { return e.empty(); });
        };
        // The same commands row by row, or none on either side: the pass would find the same
        // layers, the ones below the edit moved by its rows.
        if (effects == edit.effects || (none(effects) && none(edit.effects)))
            m_layers.rowsShifted(edit.last, shift);
        else if (insertedRowsKeepLayers(edit, effects))
            m_layers.rowsInserted(edit.first, shift);
        else
            m_layersValid = false;
    }
    if (m_eventsValid) {
        const auto byRow = [](const PrintEvents::Event& event, int row) { return event.row < row; };
        auto from = std::lower_bound(m_events.begin(), m_events.end(), edit.first, byRow);
        auto to = std::lower_bound(from, m_events.end(), edit.last + 1, byRow);
        for (auto it = to; it != m_events.end(); ++it)
            it->row += shift;
        std::vector<PrintEvents::Event> found;
        for (int row = edit.first; row <= newLast; ++row) {
            const PrintEvents::Command command = PrintEvents::parse(rowView(row, storage));
            if (command.kind != PrintEvents::Kind::None)
                found.push_back({row, command});
        }
        from = m_events.erase(from, to);
        m_events.insert(from, found.begin(), found.end());
    }
}

bool PrintModel::insertedRowsKeepLayers(const Edit& edit, const std::vector<std::string>& effects) const
{
    const std::size_t count = effects.size() - 1;
    if (!edit.insertsRows || count == 0 || effects.back() != edit.effects.front())
        return false;
    // Rows the pass passes over change nothing it finds, only where the rows below lie.
    if (std::all_of(effects.begin(), effects.end() - 1, [](const std::string& e) { return e.empty(); }))
        return true;
    // A block that restores the machine extrudes nothing, so the extrusions and their heights stay;
    // a layer's change row is the first move setting its height since the extrusion before it. The
    // block sets the height it found, which a move before it set first, and its lift: that could
    // take the change only of the first extrusion after it, where no move since the extrusion
    // before set that height, which is then the first layer changing at or after the block.
    return edit.restoringLift && !m_layers.nextLayerIsAt(edit.first, *edit.restoringLift);
}

const LayerIndex& PrintModel::layers()
{
    followEdit();
    if (!m_layersValid) {
        m_layers = LayerIndex::build(m_text.bytes());
        m_layersValid = true;
        ++m_changes;
    }
    return m_layers;
}

const std::vector<PrintEvents::Event>& PrintModel::events()
{
    followEdit();
    if (!m_eventsValid) {
        m_events = PrintEvents::findEvents(m_text);
        m_eventsValid = true;
        ++m_changes;
    }
    return m_events;
}

const std::vector<LayerRuler::Mark>& PrintModel::rulerMarks()
{
    const LayerIndex& index = layers();
    const std::vector<PrintEvents::Event>& found = events();
    if (m_changes != m_rulerMarksChanges) {
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
        m_rulerMarksChanges = m_changes;
    }
    return m_rulerMarks;
}

void PrintModel::adoptLayers(LayerIndex layers)
{
    m_edit.reset();
    m_layers = std::move(layers);
    m_layersValid = true;
    m_eventsValid = false;
    ++m_changes;
}

bool PrintModel::current(bool withEvents)
{
    followEdit();
    if (m_layersValid && (!withEvents || m_eventsValid))
        return true;
    // Found once the text has been still for a moment, so that a load, an undo or typing does
    // not wait for them.
    if (m_changes != m_pendingChanges || !m_refreshTimer->isActive()) {
        m_pendingChanges = m_changes;
        m_refreshTimer->start();
    }
    return false;
}
