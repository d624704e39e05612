#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

// Cells that extrusions passed, each with the stretch of the text where it was first passed:
// a dense grid that grows to hold them (a long extrusion passes a cell every half millimetre, and
// a hash lookup per step would cost seconds on a large file), and a map for cells far outside it.
class CellGrid
{
public:
    // Marks the cell with stretch unless an earlier stretch marked it; true when it was not marked yet.
    bool mark(std::int32_t cx, std::int32_t cy, std::uint32_t stretch)
    {
        const std::int64_t x = std::int64_t(cx) - m_x0;
        const std::int64_t y = std::int64_t(cy) - m_y0;
        if (x < 0 || y < 0 || x >= m_width || y >= m_height)
            return markOutside(cx, cy, stretch);
        std::uint32_t& first = m_first[std::size_t(y * m_width + x)];
        const bool unmarked = first == kUnmarked;
        first = first < stretch ? first : stretch;
        return unmarked;
    }
    // Whether the grid holds every cell of the box from (x0, y0) to (x1, y1).
    bool holds(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) const
    {
        return x0 >= m_x0 && y0 >= m_y0 && x1 < m_x0 + m_width && y1 < m_y0 + m_height;
    }
    // mark() for a cell the grid holds.
    void markInside(std::int32_t cx, std::int32_t cy, std::uint32_t stretch)
    {
        std::uint32_t& first = m_first[std::size_t((cy - m_y0) * m_width + (cx - m_x0))];
        first = first < stretch ? first : stretch;
    }
    // markInside() for the cells of count points in whole 2^-20 cells, from (fx, fy) on by (dx, dy).
    void markInsideAlong(std::int64_t fx, std::int64_t fy, std::int64_t dx, std::int64_t dy, int count,
                         std::uint32_t stretch)
    {
        std::uint32_t* const cells = m_first.data();
        const std::int64_t x0 = m_x0, y0 = m_y0, width = m_width;
        for (int i = 0; i < count; ++i, fx += dx, fy += dy) {
            std::uint32_t& first = cells[std::size_t(((fy >> 20) - y0) * width + ((fx >> 20) - x0))];
            first = first < stretch ? first : stretch;
        }
    }
    // f(cell key, stretch) for every marked cell.
    template <typename F> void forEach(F f) const
    {
        for (std::int64_t y = 0; y < m_height; ++y) {
            for (std::int64_t x = 0; x < m_width; ++x) {
                const std::uint32_t stretch = m_first[std::size_t(y * m_width + x)];
                if (stretch != kUnmarked)
                    f(key(std::int32_t(m_x0 + x), std::int32_t(m_y0 + y)), stretch);
            }
        }
        for (const auto& [cell, stretch] : m_far)
            f(cell, stretch);
    }
    static std::uint64_t key(std::int32_t cx, std::int32_t cy)
    {
        return (std::uint64_t(std::uint32_t(cx)) << 32) | std::uint32_t(cy);
    }

private:
    static constexpr std::uint32_t kUnmarked = ~std::uint32_t(0);
    static constexpr std::int64_t kMostCells = 2048 * 2048;
    bool markOutside(std::int32_t cx, std::int32_t cy, std::uint32_t stretch);
    bool grow(std::int32_t cx, std::int32_t cy);

    std::int64_t m_x0 = 0, m_y0 = 0, m_width = 0, m_height = 0;
    std::vector<std::uint32_t> m_first;
    std::unordered_map<std::uint64_t, std::uint32_t> m_far;
};
