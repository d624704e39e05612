#include "core/machine/BackgroundPauseIndex.h"

#include <algorithm>
#include <new>
#include <string_view>

namespace {

// Rows read between looks at whether to stop.
constexpr std::size_t kStep = 1 << 20;

} // namespace

BackgroundPauseIndex::BackgroundPauseIndex(const char* text)
    : m_text(text), m_thread(&BackgroundPauseIndex::run, this)
{
}

BackgroundPauseIndex::~BackgroundPauseIndex()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void BackgroundPauseIndex::filled(std::size_t bytes)
{
    {
        std::lock_guard lock(m_mutex);
        m_filled = bytes;
    }
    m_changed.notify_all();
}

PauseIndex BackgroundPauseIndex::finishAt(std::size_t offset, std::size_t bodyBytes)
{
    {
        std::lock_guard lock(m_mutex);
        m_filled = bodyBytes;
        m_complete = true;
        m_stopAt = offset;
    }
    m_changed.notify_all();
    m_thread.join();
    if (m_outOfMemory)
        throw std::bad_alloc();
    return m_builder.finish();
}

void BackgroundPauseIndex::run()
{
    try {
        std::size_t tried = 0; // the bytes there were when the last look found no whole row
        for (;;) {
            std::size_t filled = 0;
            bool complete = false;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] {
                    return m_stop || m_builder.position() >= m_stopAt || m_complete ||
                           (m_filled > tried && m_filled >= m_builder.position() + kStep);
                });
                if (m_stop || m_builder.position() >= m_stopAt)
                    return;
                filled = m_filled;
                complete = m_complete;
            }
            // A step at a time, so that a stop is seen soon; a row longer than a step is read whole.
            const std::size_t before = m_builder.position();
            const std::size_t limit = std::min(filled, before + kStep);
            m_builder.advance(std::string_view(m_text, limit), complete && limit == filled);
            if (m_builder.position() == before && limit < filled)
                m_builder.advance(std::string_view(m_text, filled), complete);
            if (complete && m_builder.position() >= filled)
                return;
            tried = m_builder.position() == before ? filled : 0;
        }
    } catch (const std::bad_alloc&) {
        m_outOfMemory = true;
    }
}
