#include "core/gcode/BackgroundLayerIndex.h"

BackgroundLayerIndex::BackgroundLayerIndex(std::size_t expectedBytes)
    : m_builder(expectedBytes), m_thread(&BackgroundLayerIndex::run, this)
{
}

BackgroundLayerIndex::~BackgroundLayerIndex()
{
    if (m_thread.joinable())
        finish();
}

void BackgroundLayerIndex::add(QByteArrayView bytes)
{
    QByteArray copy(bytes.data(), bytes.size());
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_waiting.size() < kMaxWaiting; });
    m_waiting.push_back(std::move(copy));
    m_changed.notify_all();
}

LayerIndex BackgroundLayerIndex::finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
    m_thread.join();
    return m_builder.finish();
}

void BackgroundLayerIndex::run()
{
    for (;;) {
        QByteArray piece;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_waiting.empty() || m_ended; });
            if (m_waiting.empty())
                return;
            piece = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        m_changed.notify_all();
        m_builder.add({piece.constData(), std::size_t(piece.size())});
    }
}
