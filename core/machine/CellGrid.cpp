#include "core/machine/CellGrid.h"

#include <algorithm>

bool CellGrid::markOutside(std::int32_t cx, std::int32_t cy, std::uint32_t stretch)
{
    if (grow(cx, cy))
        return mark(cx, cy, stretch);
    const auto [at, added] = m_far.emplace(key(cx, cy), stretch);
    if (!added)
        at->second = std::min(at->second, stretch);
    return added;
}

// Makes the grid hold the cell, with room around it; false when that would take too many cells.
bool CellGrid::grow(std::int32_t cx, std::int32_t cy)
{
    constexpr std::int64_t kMargin = 64;
    const std::int64_t x0 = m_width ? std::min<std::int64_t>(m_x0, cx - kMargin) : cx - kMargin;
    const std::int64_t y0 = m_height ? std::min<std::int64_t>(m_y0, cy - kMargin) : cy - kMargin;
    const std::int64_t x1 = m_width ? std::max<std::int64_t>(m_x0 + m_width, cx + kMargin) : cx + kMargin;
    const std::int64_t y1 = m_height ? std::max<std::int64_t>(m_y0 + m_height, cy + kMargin) : cy + kMargin;
    if ((x1 - x0) * (y1 - y0) > kMostCells)
        return false;
    std::vector<std::uint32_t> first(std::size_t((x1 - x0) * (y1 - y0)), kUnmarked);
    for (std::int64_t y = 0; y < m_height; ++y)
        std::copy_n(m_first.begin() + std::ptrdiff_t(y * m_width), m_width,
                    first.begin() + std::ptrdiff_t((m_y0 + y - y0) * (x1 - x0) + (m_x0 - x0)));
    m_first = std::move(first);
    m_x0 = x0, m_y0 = y0, m_width = x1 - x0, m_height = y1 - y0;
    return true;
}
