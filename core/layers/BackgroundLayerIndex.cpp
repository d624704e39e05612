#include "core/layers/BackgroundLayerIndex.h"

#include <new>

BackgroundLayerIndex::BackgroundLayerIndex(std::size_t expectedBytes)
    : m_builder(expectedBytes), m_thread(&BackgroundLayerIndex::run, this)
{
}

BackgroundLayerIndex::~BackgroundLayerIndex()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_ended = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
}

void BackgroundLayerIndex::add(QByteArrayView bytes)
{
    push(QByteArray(bytes.data(), bytes.size()), true);
}

void BackgroundLayerIndex::addShared(QByteArray piece)
{
    push(std::move(piece), true);
}

void BackgroundLayerIndex::addInPlace(QByteArrayView bytes)
{
    push(QByteArray::fromRawData(bytes.data(), bytes.size()), false);
}

void BackgroundLayerIndex::push(QByteArray piece, bool copy)
{
    std::unique_lock lock(m_mutex);
    if (copy) {
        m_changed.wait(lock, [this] { return m_copiesWaiting < kMaxCopiesWaiting; });
        ++m_copiesWaiting;
    }
    m_waiting.emplace_back(std::move(piece), copy);
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
    if (m_outOfMemory)
        throw std::bad_alloc();
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
            piece = std::move(m_waiting.front().first);
            if (m_waiting.front().second)
                --m_copiesWaiting;
            m_waiting.pop_front();
        }
        m_changed.notify_all();
        if (m_outOfMemory)
            continue; // the reader is told at finish(); the pieces still coming are let go unread
        try {
            m_builder.add({piece.constData(), std::size_t(piece.size())});
        } catch (const std::bad_alloc&) {
            m_outOfMemory = true;
        }
    }
}
