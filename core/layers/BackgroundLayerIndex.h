#pragma once

// A layer index built on a thread of its own while the body is read, so that a read costs the
// time of the slower of loading and indexing, not of both. It reads each piece either where it
// lies, when the reader keeps it there until finish(), or from a copy, of which it holds only a
// few at a time.

#include "core/layers/LayerIndex.h"

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

    // Hands over a copy of the next piece of the body; waits while the thread is several copies behind.
    void add(QByteArrayView bytes);
    // Hands over a copy of the next piece that others share too; it must never change.
    void addShared(QByteArray piece);
    // Hands over the next piece of the body where it lies; the bytes must stay there, unchanged,
    // until finish() returns.
    void addInPlace(QByteArrayView bytes);
    // Waits for the thread to read every piece and returns the index of the whole body; throws
    // std::bad_alloc when the memory ran out on the thread.
    LayerIndex finish();

private:
    void run();
    void push(QByteArray piece, bool copy);

    static constexpr std::size_t kMaxCopiesWaiting = 2;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::pair<QByteArray, bool>> m_waiting; // a piece, and whether it is a copy
    std::size_t m_copiesWaiting = 0;
    bool m_ended = false;
    bool m_outOfMemory = false;
    LayerIndex::Builder m_builder; // used by the thread only, until it ends
    std::thread m_thread;
};
