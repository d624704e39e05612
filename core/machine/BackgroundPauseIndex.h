#pragma once

// The machine's state read on a thread of its own while a body is read into one buffer that does
// not move, so that the batch mode's first pause block costs a read on from a checkpoint, not a
// pass from the top after the read. The thread reads the rows as they come and stops once it has
// passed the row it is told.

#include "core/machine/MachineState.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

class BackgroundPauseIndex
{
public:
    // text: the buffer the body is read into; it must not move until finishAt() returns.
    explicit BackgroundPauseIndex(const char* text);
    ~BackgroundPauseIndex();
    BackgroundPauseIndex(const BackgroundPauseIndex&) = delete;
    BackgroundPauseIndex& operator=(const BackgroundPauseIndex&) = delete;

    // The first bytes of the buffer that hold the body so far.
    void filled(std::size_t bytes);
    // Waits until every row before offset (a row start) is read, or the body's end when the read
    // is over, and returns the checkpoints: their contexts are exact up to offset.
    // bodyBytes: the body's whole length, now that the read is over.
    PauseIndex finishAt(std::size_t offset, std::size_t bodyBytes);

private:
    void run();

    const char* m_text;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_filled = 0;
    bool m_complete = false;
    std::size_t m_stopAt = ~std::size_t(0);
    bool m_stop = false;
    bool m_outOfMemory = false;
    PauseIndex::Builder m_builder; // the thread's alone until it ends
    std::thread m_thread;
};
