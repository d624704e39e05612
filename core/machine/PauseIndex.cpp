#include "core/machine/PauseIndex.h"

#include "core/text/LineBreaks.h"

#include <algorithm>

PauseIndex::Builder::Builder()
{
    m_checkpoints.push_back({0, m_tracker.state()});
}

void PauseIndex::Builder::advance(std::string_view text, bool complete)
{
    while (m_start < text.size()) {
        const std::size_t end = LineBreaks::nextBreak(text, m_start);
        // A row whose break has not come yet, or a CR that may be the first half of a CR LF.
        if (!complete && (end == text.size() || (text[end] == '\r' && end + 1 == text.size())))
            return;
        m_tracker.row(text.substr(m_start, end - m_start));
        if (end == text.size()) {
            m_start = end;
            return;
        }
        m_start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
        if (m_start >= m_next && m_start < text.size()) {
            m_tracker.setStretch(std::uint32_t(m_checkpoints.size()));
            m_checkpoints.push_back({m_start, m_tracker.state()});
            m_next = m_start + kSpacing;
        }
    }
}

PauseIndex PauseIndex::Builder::finish()
{
    PauseIndex index;
    index.m_checkpoints = std::move(m_checkpoints);
    index.m_visited = m_tracker.visited();
    index.m_printed = m_tracker.printed();
    return index;
}

PauseIndex PauseIndex::build(std::string_view body)
{
    Builder builder;
    builder.advance(body, true);
    return builder.finish();
}

std::pair<const PauseIndex::Checkpoint*, std::uint32_t> PauseIndex::checkpointFor(std::size_t offset) const
{
    const auto after =
        std::upper_bound(m_checkpoints.begin(), m_checkpoints.end(), offset,
                         [](std::size_t value, const Checkpoint& c) { return value < c.offset; });
    return {&*(after - 1), std::uint32_t(after - 1 - m_checkpoints.begin())};
}

MachineTracker PauseIndex::trackerAt(std::string_view body, std::size_t offset) const
{
    if (m_checkpoints.empty()) {
        MachineTracker tracker;
        tracker.rows(body.substr(0, offset));
        return tracker;
    }
    const auto [from, stretch] = checkpointFor(offset);
    MachineTracker tracker(from->state);
    tracker.adopt(m_visited, m_printed, stretch);
    tracker.rows(body.substr(from->offset, offset - from->offset));
    return tracker;
}

PauseContext PauseIndex::contextAt(std::string_view body, std::size_t offset, const BedShape* bed) const
{
    return trackerAt(body, offset).pauseContext(bed);
}

void PauseIndex::bytesInserted(std::size_t offset, std::size_t count)
{
    for (Checkpoint& checkpoint : m_checkpoints) {
        if (checkpoint.offset >= offset && checkpoint.offset > 0)
            checkpoint.offset += count;
    }
}

