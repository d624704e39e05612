#include "gui/PrintModel.h"

#include "gui/EditBuffer.h"

#include <QTimer>

#include <string_view>

namespace {

// Milliseconds from the last paint that lacked layers or events to finding them.
constexpr int kRefreshDelay = 250;

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
}

const LayerIndex& PrintModel::layers()
{
    const quint64 now = m_text.revision();
    if (now != m_layersRevision) {
        m_layers = LayerIndex::build(m_text.bytes());
        m_layersRevision = now;
    }
    return m_layers;
}

const std::vector<PrintEvents::Event>& PrintModel::events()
{
    const quint64 now = m_text.revision();
    if (now != m_eventsRevision) {
        m_events = PrintEvents::findEvents(m_text);
        m_eventsRevision = now;
    }
    return m_events;
}

const std::vector<LayerRuler::Mark>& PrintModel::rulerMarks()
{
    const quint64 now = m_text.revision();
    if (now != m_rulerMarksRevision) {
        const LayerIndex& index = layers();
        m_rulerMarks.clear();
        for (const PrintEvents::Event& event : events()) {
            if (const std::optional<std::size_t> layer = index.layerAt(event.row))
                m_rulerMarks.push_back({*layer, event.command.kind, m_text.isInsertedRow(event.row)});
        }
        for (const int row : m_text.insertedRows()) {
            if (const std::optional<std::size_t> layer = index.layerAt(row))
                m_rulerMarks.push_back({*layer, PrintEvents::Kind::None, true});
        }
        m_rulerMarksRevision = now;
    }
    return m_rulerMarks;
}

void PrintModel::adoptLayers(LayerIndex layers)
{
    m_layers = std::move(layers);
    m_layersRevision = m_text.revision();
}

quint64 PrintModel::revision() const
{
    return m_text.revision();
}

void PrintModel::rowsInserted(quint64 revisionBefore, int row, int count)
{
    const quint64 now = m_text.revision();
    if (m_layersRevision == revisionBefore) {
        m_layers.rowsInserted(row, count);
        m_layersRevision = now;
    }
    if (m_eventsRevision == revisionBefore) {
        std::vector<QByteArray> texts;
        for (int r = row; r < row + count; ++r)
            texts.push_back(m_text.rowText(r).toLatin1());
        std::vector<std::string_view> rows;
        for (const QByteArray& text : texts)
            rows.emplace_back(text.constData(), std::size_t(text.size()));
        PrintEvents::insertRows(m_events, row, rows);
        m_eventsRevision = now;
    }
}

bool PrintModel::current(bool withEvents)
{
    const quint64 now = m_text.revision();
    if (m_layersRevision == now && (!withEvents || m_eventsRevision == now))
        return true;
    // Found once the text has been still for a moment, so that a load, an undo or typing does
    // not wait for them.
    if (now != m_pendingRevision || !m_refreshTimer->isActive()) {
        m_pendingRevision = now;
        m_refreshTimer->start();
    }
    return false;
}
