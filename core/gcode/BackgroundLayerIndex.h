#pragma once

// A layer index built on a thread of its own while the body is read, so that a drop costs the
// time of the slower of loading and indexing, not of both. It works on copies of the pieces,
// and holds only a few of them at a time.

#include "core/gcode/LayerIndex.h"

#include <QByteArray>
#include <QByteArrayView>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

class BackgroundLayerIndex
{
public:
    // expectedBytes: about how long the body is (see LayerIndex::Builder).
    explicit BackgroundLayerIndex(std::size_t expectedBytes = 0);
    ~BackgroundLayerIndex();
    BackgroundLayerIndex(const BackgroundLayerIndex&) = delete;
    BackgroundLayerIndex& operator=(const BackgroundLayerIndex&) = delete;

    // Hands over the next piece of the body; waits while the thread is several pieces behind.
    void add(QByteArrayView bytes);
    // Waits for the thread to read every piece and returns the index of the whole body.
    LayerIndex finish();

private:
    void run();

    static constexpr std::size_t kMaxWaiting = 2;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_waiting;
    bool m_ended = false;
    LayerIndex::Builder m_builder; // used by the thread only, until it ends
    std::thread m_thread;
};
