#pragma once

#include "core/machine/MachineTracker.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

struct BedShape;

// The state at every row of a body without reading it from the start each time: the state
// at a row start every kSpacing bytes, and the visited positions and printed cells by the stretch
// of the body they were first met in. A row's state is the nearest checkpoint's, read on to it.
class PauseIndex
{
    struct Checkpoint
    {
        std::size_t offset;
        MachineState state;
    };

public:
    static constexpr std::size_t kSpacing = 256 * 1024;

    static PauseIndex build(std::string_view body);

    // The same pass over a text that grows at its end, as it is read: the rows are read as their
    // breaks come.
    class Builder
    {
    public:
        Builder();
        // Reads on through the rows of text (the whole text so far, from its first byte) whose
        // break it holds, or through its end when it is complete.
        void advance(std::string_view text, bool complete);
        // Where the next row to read starts.
        std::size_t position() const { return m_start; }
        PauseIndex finish();

    private:
        MachineTracker m_tracker;
        std::vector<Checkpoint> m_checkpoints;
        std::size_t m_start = 0;
        std::size_t m_next = kSpacing;
    };

    // The context at offset (a row start) of body, the text the index was built on (or followed).
    PauseContext contextAt(std::string_view body, std::size_t offset, const BedShape* bed = nullptr) const;
    // A tracker that has read body up to offset (a row start), as if from the first row: the state,
    // the visited positions and the printed cells there, read on from the nearest checkpoint.
    MachineTracker trackerAt(std::string_view body, std::size_t offset) const;
    // For count bytes put in at offset that leave the machine as it was (a pause block): the
    // checkpoints after offset move with the text.
    void bytesInserted(std::size_t offset, std::size_t count);
    bool isEmpty() const { return m_checkpoints.empty(); }

private:
    // The checkpoint at or before offset, and its stretch.
    std::pair<const Checkpoint*, std::uint32_t> checkpointFor(std::size_t offset) const;

    std::vector<Checkpoint> m_checkpoints;
    std::vector<MachineTracker::Visited> m_visited;
    CellGrid m_printed;
};
