#include "core/layers/HollowFinder.h"
#include "core/container/BinaryGCode.h"

#include "core/file/SlicedFile.h"
#include "core/text/LineBreaks.h"

#include <QBuffer>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace {

using Moves::Feature;
using Moves::Move;

struct Segment
{
    float x0, y0, x1, y1, width;
};

// A closed loop of extrusion: the segments [first, last) of its layer, and the feature its
// chain was extruded as.
struct Loop
{
    std::size_t first = 0, last = 0;
    Feature feature = Feature::Unnamed;
    bool alone = false; // its chain of extrusion is this loop alone (a seam's overlap aside)
};

// A rectangle of the bed cut into square cells, each standing for the point at its centre.
struct Grid
{
    double ox = 0, oy = 0, cell = 1;
    int width = 0, height = 0;

    double cx(int i) const { return ox + (i + 0.5) * cell; }
    double cy(int j) const { return oy + (j + 0.5) * cell; }
    double xMax() const { return ox + width * cell; }
    double yMax() const { return oy + height * cell; }
    std::size_t cells() const { return std::size_t(width) * std::size_t(height); }
    bool contains(double x, double y) const { return x >= ox && y >= oy && x < xMax() && y < yMax(); }
    std::size_t indexOf(double x, double y) const
    {
        const int i = std::clamp(int((x - ox) / cell), 0, width - 1);
        const int j = std::clamp(int((y - oy) / cell), 0, height - 1);
        return std::size_t(j) * std::size_t(width) + std::size_t(i);
    }
};

// A cell index along one axis for a coordinate, kept within [0, count) even for coordinates far off.
int cellIndex(double offset, double cell, int count)
{
    const double k = std::floor(offset / cell);
    if (!(k >= 0))
        return 0;
    return k >= count - 1 ? count - 1 : int(k);
}

// Calls f with the index of each cell whose centre lies within radius of the segment's line.
// Along each row of cell centres those points make one stretch (the bead is convex): the union of
// what its two round ends and its straight band take of the row, worked out, not tried cell by cell.
template <typename F> void forCellsNear(const Grid& grid, const Segment& s, double radius, F f)
{
    if (std::max(s.x0, s.x1) + radius < grid.ox || std::min(s.x0, s.x1) - radius > grid.xMax() ||
        std::max(s.y0, s.y1) + radius < grid.oy || std::min(s.y0, s.y1) - radius > grid.yMax())
        return;
    const int j0 = cellIndex(std::min(s.y0, s.y1) - radius - grid.oy, grid.cell, grid.height);
    const int j1 = cellIndex(std::max(s.y0, s.y1) + radius - grid.oy, grid.cell, grid.height);
    const double x0 = s.x0, y0 = s.y0, x1 = s.x1, y1 = s.y1;
    const double dx = x1 - x0, dy = y1 - y0;
    const double lengthSquared = dx * dx + dy * dy;
    const double r2 = radius * radius;
    const double rl = radius * std::sqrt(lengthSquared);
    for (int j = j0; j <= j1; ++j) {
        const double y = grid.cy(j);
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        const auto end = [&](double px, double py) {
            const double h = r2 - (y - py) * (y - py);
            if (h >= 0) {
                const double w = std::sqrt(h);
                lo = std::min(lo, px - w), hi = std::max(hi, px + w);
            }
        };
        end(x0, y0);
        end(x1, y1);
        if (lengthSquared > 0) {
            // Within radius of the line: |dx (y - y0) - dy (x - x0)| <= r L; beside the segment:
            // 0 <= dx (x - x0) + dy (y - y0) <= L².
            double bandLo = -HUGE_VAL, bandHi = HUGE_VAL;
            const double across = dx * (y - y0);
            if (dy != 0) {
                const double a = x0 + (across - rl) / dy, b = x0 + (across + rl) / dy;
                bandLo = std::min(a, b), bandHi = std::max(a, b);
            } else if (std::abs(across) > rl) {
                bandLo = HUGE_VAL;
            }
            const double along = dy * (y - y0);
            if (dx != 0) {
                const double a = x0 - along / dx, b = x0 + (lengthSquared - along) / dx;
                bandLo = std::max(bandLo, std::min(a, b)), bandHi = std::min(bandHi, std::max(a, b));
            } else if (along < 0 || along > lengthSquared) {
                bandLo = HUGE_VAL;
            }
            if (bandLo <= bandHi)
                lo = std::min(lo, bandLo), hi = std::max(hi, bandHi);
        }
        if (!(lo <= hi))
            continue;
        const double first = std::ceil((lo - grid.ox) / grid.cell - 0.5);
        const double last = std::floor((hi - grid.ox) / grid.cell - 0.5);
        const int i0 = first < 0 ? 0 : int(std::min(first, double(grid.width)));
        const int i1 = last >= grid.width - 1 ? grid.width - 1 : int(std::max(last, -1.0));
        const std::size_t row = std::size_t(j) * std::size_t(grid.width);
        for (int i = i0; i <= i1; ++i)
            f(row + std::size_t(i));
    }
}

// Calls f with the index of each cell the segment's line passes, sampled finer than a cell.
template <typename F> void forCellsOnLine(const Grid& grid, const Segment& s, F f)
{
    // Only the part inside the grid is sampled (Liang-Barsky clipping).
    double t0 = 0.0, t1 = 1.0;
    const double dx = s.x1 - s.x0, dy = s.y1 - s.y0;
    const double xMax = grid.xMax(), yMax = grid.yMax();
    const auto clip = [&](double p, double q) {
        if (p == 0.0)
            return q >= 0.0;
        const double r = q / p;
        if (p < 0.0) {
            if (r > t1)
                return false;
            t0 = std::max(t0, r);
        } else {
            if (r < t0)
                return false;
            t1 = std::min(t1, r);
        }
        return true;
    };
    if (!clip(-dx, s.x0 - grid.ox) || !clip(dx, xMax - s.x0) || !clip(-dy, s.y0 - grid.oy) ||
        !clip(dy, yMax - s.y0))
        return;
    const double length = std::hypot(dx, dy) * (t1 - t0);
    const int steps = std::max(1, int(std::ceil(length / (grid.cell * 0.5))));
    for (int k = 0; k <= steps; ++k) {
        const double t = t0 + (t1 - t0) * k / steps;
        const double x = s.x0 + t * dx, y = s.y0 + t * dy;
        if (grid.contains(x, y))
            f(grid.indexOf(x, y));
    }
}

// The segments of one layer by the square cells of the bed they come near (within half their
// width): which segments may touch a rectangle, without looking at the others. The cells are
// about as many as the segments, so that building and asking both take time in proportion to
// what is found.
class SegmentIndex
{
public:
    void build(const std::vector<Segment>& segments)
    {
        m_seen.assign(segments.size(), 0);
        m_stamp = 0;
        m_start.clear();
        m_items.clear();
        m_grid = Grid();
        double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
        for (const Segment& s : segments) {
            if (!finite(s))
                continue;
            const double r = s.width / 2.0;
            minX = std::min(minX, std::min(s.x0, s.x1) - r), maxX = std::max(maxX, std::max(s.x0, s.x1) + r);
            minY = std::min(minY, std::min(s.y0, s.y1) - r), maxY = std::max(maxY, std::max(s.y0, s.y1) + r);
        }
        if (!(minX <= maxX))
            return;
        const double spanX = std::max(maxX - minX, 1e-3), spanY = std::max(maxY - minY, 1e-3);
        m_grid.cell = std::max(kLeastCell, std::sqrt(spanX * spanY / double(segments.size())));
        m_grid.ox = minX, m_grid.oy = minY;
        m_grid.width = int(std::min(std::ceil(spanX / m_grid.cell), 1e6)) + 1;
        m_grid.height = int(std::min(std::ceil(spanY / m_grid.cell), 1e6)) + 1;

        // (cell, segment) pairs, a segment's cells each once, then sorted by cell.
        std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
        entries.reserve(segments.size() * 4);
        std::vector<std::uint32_t> cells;
        for (std::size_t k = 0; k < segments.size(); ++k) {
            const Segment& s = segments[k];
            if (!finite(s))
                continue;
            cells.clear();
            const double r = s.width / 2.0;
            const double length = std::hypot(double(s.x1) - s.x0, double(s.y1) - s.y0);
            // In pieces no longer than a cell: a long diagonal line is near a strip of cells only.
            const int pieces = std::max(1, int(std::min(std::ceil(length / m_grid.cell), 4e6)));
            for (int p = 0; p < pieces; ++p) {
                const double a = double(p) / pieces, b = double(p + 1) / pieces;
                const double xa = s.x0 + a * (s.x1 - s.x0), xb = s.x0 + b * (s.x1 - s.x0);
                const double ya = s.y0 + a * (s.y1 - s.y0), yb = s.y0 + b * (s.y1 - s.y0);
                const int i0 = cellIndex(std::min(xa, xb) - r - m_grid.ox, m_grid.cell, m_grid.width);
                const int i1 = cellIndex(std::max(xa, xb) + r - m_grid.ox, m_grid.cell, m_grid.width);
                const int j0 = cellIndex(std::min(ya, yb) - r - m_grid.oy, m_grid.cell, m_grid.height);
                const int j1 = cellIndex(std::max(ya, yb) + r - m_grid.oy, m_grid.cell, m_grid.height);
                for (int j = j0; j <= j1; ++j) {
                    for (int i = i0; i <= i1; ++i)
                        cells.push_back(std::uint32_t(j) * std::uint32_t(m_grid.width) + std::uint32_t(i));
                }
            }
            std::sort(cells.begin(), cells.end());
            cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
            for (const std::uint32_t cell : cells)
                entries.emplace_back(cell, std::uint32_t(k));
        }
        m_start.assign(m_grid.cells() + 1, 0);
        for (const auto& entry : entries)
            ++m_start[entry.first + 1];
        for (std::size_t c = 1; c < m_start.size(); ++c)
            m_start[c] += m_start[c - 1];
        m_items.resize(entries.size());
        std::vector<std::uint32_t> next(m_start.begin(), m_start.end() - 1);
        for (const auto& entry : entries)
            m_items[next[entry.first]++] = entry.second;
    }

    // Calls f with each segment that may come near the rectangle, once, while f returns true.
    template <typename F> void forNear(double x0, double y0, double x1, double y1, F f)
    {
        if (m_grid.width == 0 || x1 < m_grid.ox || y1 < m_grid.oy || x0 > m_grid.xMax() || y0 > m_grid.yMax())
            return;
        if (++m_stamp == 0) {
            std::fill(m_seen.begin(), m_seen.end(), 0);
            m_stamp = 1;
        }
        const int i0 = cellIndex(x0 - m_grid.ox, m_grid.cell, m_grid.width);
        const int i1 = cellIndex(x1 - m_grid.ox, m_grid.cell, m_grid.width);
        const int j0 = cellIndex(y0 - m_grid.oy, m_grid.cell, m_grid.height);
        const int j1 = cellIndex(y1 - m_grid.oy, m_grid.cell, m_grid.height);
        for (int j = j0; j <= j1; ++j) {
            for (int i = i0; i <= i1; ++i) {
                const std::size_t cell = std::size_t(j) * std::size_t(m_grid.width) + std::size_t(i);
                for (std::uint32_t at = m_start[cell]; at < m_start[cell + 1]; ++at) {
                    const std::uint32_t k = m_items[at];
                    if (m_seen[k] == m_stamp)
                        continue;
                    m_seen[k] = m_stamp;
                    if (!f(std::size_t(k)))
                        return;
                }
            }
        }
    }

private:
    static constexpr double kLeastCell = 1.0; // mm

    static bool finite(const Segment& s)
    {
        return std::isfinite(s.x0) && std::isfinite(s.y0) && std::isfinite(s.x1) && std::isfinite(s.y1) &&
               std::abs(s.x0) < 1e9 && std::abs(s.y0) < 1e9 && std::abs(s.x1) < 1e9 && std::abs(s.y1) < 1e9;
    }

    Grid m_grid;
    std::vector<std::uint32_t> m_start; // each cell's first item; one more at the end
    std::vector<std::uint32_t> m_items;
    std::vector<std::uint32_t> m_seen; // the query that last met each segment
    std::uint32_t m_stamp = 0;
};

// Cells of a row of a grid, [first, last].
struct Run
{
    int row = 0, first = 0, last = 0;
};

// A hollow of one layer, waiting for a later layer to cover it. Its opening is kept as runs of
// cells along the rows, a few bytes a row, and drawn out into a scratch grid when it is looked at.
struct Candidate
{
    Grid grid;
    std::vector<Run> runs;
    std::size_t openingCells = 0;
    double area = 0, x = 0, y = 0;
    std::vector<Hollow::Point> outline;

    // Whether the two openings' bounds overlap by half the smaller one: the same hollow, a
    // layer on, even where its sides slope or its opening is a ring.
    bool overlaps(const Candidate& other) const
    {
        const Grid& a = grid;
        const Grid& b = other.grid;
        const double w = std::min(a.xMax(), b.xMax()) - std::max(a.ox, b.ox);
        const double h = std::min(a.yMax(), b.yMax()) - std::max(a.oy, b.oy);
        if (w <= 0 || h <= 0)
            return false;
        const double smaller =
            std::min(a.width * a.cell * a.height * a.cell, b.width * b.cell * b.height * b.cell);
        return w * h >= 0.5 * smaller;
    }
};

struct Closed
{
    Candidate candidate;
    int closingRow = 0; // the first extrusion of the covering layer
};

// The open hollows, found by where they lie: in squares of the bed, each hollow under every
// square its bounds touch, so that a new hollow meets only the ones near it.
class OpenHollows
{
public:
    void insert(Candidate candidate)
    {
        std::uint32_t slot;
        if (!m_free.empty()) {
            slot = m_free.back();
            m_free.pop_back();
            m_slots[slot] = std::move(candidate);
        } else {
            slot = std::uint32_t(m_slots.size());
            m_slots.push_back(std::move(candidate));
            m_alive.push_back(false);
            m_ids.push_back(0);
        }
        m_alive[slot] = true;
        m_ids[slot] = ++m_lastId;
        ++m_count;
        const Grid& g = m_slots[slot].grid;
        if (!forSquares(g, [&](std::uint64_t key) {
                m_squares[key].push_back({slot, m_ids[slot]});
                ++m_entries;
            })) {
            m_large.push_back({slot, m_ids[slot]});
            ++m_entries;
        }
        if (m_entries > 4 * m_count + 1024)
            compact();
    }

    // The slots of the open hollows whose bounds may overlap the grid's, each once.
    std::vector<std::uint32_t> near(const Grid& grid)
    {
        std::vector<std::uint32_t> found;
        const auto take = [&](std::vector<Entry>& entries) {
            for (std::size_t k = 0; k < entries.size();) {
                if (!live(entries[k])) {
                    entries[k] = entries.back(); // gone: the entry goes with it
                    entries.pop_back();
                    continue;
                }
                found.push_back(entries[k].slot);
                ++k;
            }
        };
        if (!forSquares(grid, [&](std::uint64_t key) {
                if (const auto it = m_squares.find(key); it != m_squares.end())
                    take(it->second);
            })) {
            // Bounds too large for squares: every hollow is near.
            for (std::uint32_t slot = 0; slot < m_slots.size(); ++slot) {
                if (m_alive[slot])
                    found.push_back(slot);
            }
        } else {
            take(m_large);
        }
        std::sort(found.begin(), found.end());
        found.erase(std::unique(found.begin(), found.end()), found.end());
        return found;
    }

    Candidate take(std::uint32_t slot)
    {
        m_alive[slot] = false;
        m_free.push_back(slot);
        --m_count;
        return std::move(m_slots[slot]);
    }
    void erase(std::uint32_t slot) { take(slot); }

    std::size_t slotCount() const { return m_slots.size(); }
    bool alive(std::uint32_t slot) const { return m_alive[slot]; }
    const Candidate& at(std::uint32_t slot) const { return m_slots[slot]; }

private:
    struct Entry
    {
        std::uint32_t slot;
        std::uint64_t id;
    };
    static constexpr double kSquare = 8.0; // mm
    static constexpr double kMostSquares = 1024;

    bool live(const Entry& entry) const { return m_alive[entry.slot] && m_ids[entry.slot] == entry.id; }

    // Calls f with the key of each square the grid's bounds touch; false, calling nothing, when
    // they touch too many.
    template <typename F> static bool forSquares(const Grid& grid, F f)
    {
        const double i0 = std::floor(grid.ox / kSquare), i1 = std::floor(grid.xMax() / kSquare);
        const double j0 = std::floor(grid.oy / kSquare), j1 = std::floor(grid.yMax() / kSquare);
        if (!((i1 - i0 + 1) * (j1 - j0 + 1) <= kMostSquares) || std::abs(i0) > 1e9 || std::abs(i1) > 1e9 ||
            std::abs(j0) > 1e9 || std::abs(j1) > 1e9)
            return false;
        for (auto j = std::int64_t(j0); j <= std::int64_t(j1); ++j) {
            for (auto i = std::int64_t(i0); i <= std::int64_t(i1); ++i)
                f((std::uint64_t(std::uint32_t(std::int32_t(i))) << 32) | std::uint32_t(std::int32_t(j)));
        }
        return true;
    }

    // Entries of hollows gone are dropped.
    void compact()
    {
        for (auto it = m_squares.begin(); it != m_squares.end();) {
            std::erase_if(it->second, [&](const Entry& e) { return !live(e); });
            it = it->second.empty() ? m_squares.erase(it) : std::next(it);
        }
        std::erase_if(m_large, [&](const Entry& e) { return !live(e); });
        m_entries = m_large.size();
        for (const auto& square : m_squares)
            m_entries += square.second.size();
    }

    std::vector<Candidate> m_slots;
    std::vector<bool> m_alive;
    std::vector<std::uint64_t> m_ids; // tells a slot's hollow from a later one in the same slot
    std::vector<std::uint32_t> m_free;
    std::unordered_map<std::uint64_t, std::vector<Entry>> m_squares;
    std::vector<Entry> m_large;
    std::uint64_t m_lastId = 0;
    std::size_t m_count = 0;
    std::size_t m_entries = 0;
};

class Finder
{
public:
    explicit Finder(const std::atomic<bool>* cancel) : m_cancel(cancel) {}

    void add(const Move& move)
    {
        if (move.kind != Move::Kind::Extrusion) {
            endChain();
            return;
        }
        if (move.startsLayer) {
            endChain();
            finishLayer();
            m_layerRow = move.row;
        }
        if (m_chainOpen && (move.tool != m_chainTool || move.feature != m_chainFeature))
            endChain();
        if (!m_chainOpen) {
            m_chainOpen = true;
            m_chainTool = move.tool;
            m_chainFeature = move.feature;
            m_chainFirst = m_segments.size();
            m_chainStartSegment = m_segments.size();
            m_chainLoops = m_loops.size();
            m_chainLength = 0.0;
            m_chainX = move.x0, m_chainY = move.y0;
        }
        appendSegments(move);
        const double half = move.width / 2.0;
        const double back = std::hypot(move.x1 - m_chainX, move.y1 - m_chainY);
        if (back <= half && m_segments.size() - m_chainFirst >= 3 && m_chainLength >= kShortestLoop) {
            m_loops.push_back({m_chainFirst, m_segments.size(), move.feature});
            m_chainFirst = m_segments.size();
            m_chainLength = 0.0;
            m_chainX = move.x1, m_chainY = move.y1;
        }
    }

    std::vector<Closed> finish()
    {
        endChain();
        finishLayer();
        return std::move(m_closed);
    }

    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }

private:
    // A loop around kMinArea is at least this long.
    static constexpr double kShortestLoop = 2.0 * 4.0; // a 2 by 2 square
    // Cells per opening, at most: enough that a 4 mm² opening is measured to a few percent.
    static constexpr double kMostCells = 40000.0;
    static constexpr double kFinestCell = 0.025;
    // Extrusion past a loop's end in the same chain that still leaves the loop standing alone
    // (a seam's overlap): mm.
    static constexpr double kSeamOverlap = 2.0;

    // The chain ends (a travel, another tool or feature, a new layer). In a file that names no
    // features, a loop is a wall only when its chain is that loop alone: an infill pattern that
    // closes a cell goes on from it (or came to it) without a travel.
    void endChain()
    {
        if (!m_chainOpen)
            return;
        m_chainOpen = false;
        const std::size_t loops = m_loops.size() - m_chainLoops;
        if (loops == 1) {
            Loop& loop = m_loops.back();
            const bool startsTheChain = m_chainStartSegment == loop.first;
            const bool endsTheChain = m_segments.size() == loop.last || m_chainLength <= kSeamOverlap;
            loop.alone = startsTheChain && endsTheChain;
        }
    }

    // Where the file names its features, a wall is what it names so; where it names none, a
    // loop that is its whole chain and does not cross itself (see the header).
    bool isWall(const Loop& loop)
    {
        if (loop.feature != Feature::Unnamed)
            return loop.feature == Feature::Wall;
        return loop.alone && !crossesItself(loop);
    }

    // Whether two segments of the loop that do not follow one another cross.
    bool crossesItself(const Loop& loop)
    {
        const auto side = [](const Segment& s, double x, double y) {
            const double cross = (double(s.x1) - s.x0) * (y - s.y0) - (double(s.y1) - s.y0) * (x - s.x0);
            return (cross > 0) - (cross < 0);
        };
        const auto cross = [&](const Segment& a, const Segment& b) {
            return side(a, b.x0, b.y0) * side(a, b.x1, b.y1) < 0 && side(b, a.x0, a.y0) * side(b, a.x1, a.y1) < 0;
        };
        const std::size_t count = loop.last - loop.first;
        for (std::size_t k = loop.first; k < loop.last; ++k) {
            const Segment& a = m_segments[k];
            bool crossed = false;
            m_index.forNear(std::min(a.x0, a.x1), std::min(a.y0, a.y1), std::max(a.x0, a.x1),
                            std::max(a.y0, a.y1), [&](std::size_t j) {
                                if (j <= k || j >= loop.last)
                                    return true;
                                const std::size_t apart = j - k;
                                if (apart == 1 || apart + 1 == count)
                                    return true; // neighbours along the loop meet at a corner
                                crossed = cross(a, m_segments[j]);
                                return !crossed;
                            });
            if (crossed)
                return true;
        }
        return false;
    }

    void appendSegments(const Move& move)
    {
        const float w = move.width;
        if (!move.arc) {
            m_segments.push_back({move.x0, move.y0, move.x1, move.y1, w});
            m_chainLength += std::hypot(move.x1 - move.x0, move.y1 - move.y0);
            return;
        }
        const double r = std::hypot(move.x0 - move.cx, move.y0 - move.cy);
        const double a0 = std::atan2(move.y0 - move.cy, move.x0 - move.cx);
        double sweep = std::atan2(move.y1 - move.cy, move.x1 - move.cx) - a0;
        constexpr double kTwoPi = 6.283185307179586;
        if (move.clockwise && sweep >= 0)
            sweep -= kTwoPi;
        else if (!move.clockwise && sweep <= 0)
            sweep += kTwoPi;
        const int pieces = std::clamp(int(std::ceil(std::abs(sweep) * r / 0.3)), 1, 256);
        float px = move.x0, py = move.y0;
        for (int k = 1; k <= pieces; ++k) {
            const double a = a0 + sweep * k / pieces;
            const float qx = k == pieces ? move.x1 : float(move.cx + r * std::cos(a));
            const float qy = k == pieces ? move.y1 : float(move.cy + r * std::sin(a));
            m_segments.push_back({px, py, qx, qy, w});
            px = qx, py = qy;
        }
        m_chainLength += std::abs(sweep) * r;
    }

    void finishLayer()
    {
        if (!m_segments.empty() && !cancelled()) {
            m_index.build(m_segments);
            closeCovered();
            std::vector<Candidate> found;
            for (const Loop& loop : m_loops) {
                if (cancelled())
                    break;
                if (!isWall(loop))
                    continue;
                if (std::optional<Candidate> candidate = openingOf(loop))
                    found.push_back(std::move(*candidate));
            }
            for (Candidate& candidate : found)
                keepOpen(std::move(candidate));
        }
        m_segments.clear();
        m_loops.clear();
        m_chainOpen = false;
    }

    // Draws a candidate's opening into m_dense: 1 on each of its cells.
    void draw(const Candidate& candidate)
    {
        const Grid& grid = candidate.grid;
        m_dense.assign(grid.cells(), 0);
        for (const Run& run : candidate.runs) {
            std::uint8_t* row = m_dense.data() + std::size_t(run.row) * std::size_t(grid.width);
            std::fill(row + run.first, row + run.last + 1, std::uint8_t(1));
        }
    }

    // The open hollows this layer covers close here.
    void closeCovered()
    {
        for (std::uint32_t slot = 0; slot < m_open.slotCount(); ++slot) {
            if (!m_open.alive(slot))
                continue;
            if ((slot & 63) == 0 && cancelled())
                return;
            const Candidate& candidate = m_open.at(slot);
            const Grid& grid = candidate.grid;
            bool drawn = false;
            std::size_t covered = 0;
            m_index.forNear(grid.ox, grid.oy, grid.xMax(), grid.yMax(), [&](std::size_t k) {
                if (!drawn) {
                    draw(candidate);
                    drawn = true;
                }
                const Segment& s = m_segments[k];
                forCellsNear(grid, s, s.width / 2.0, [&](std::size_t cell) {
                    if (m_dense[cell] == 1) {
                        m_dense[cell] = 2;
                        ++covered;
                    }
                });
                return true;
            });
            if (drawn && double(covered) >= HollowFinder::kCoveredShare * double(candidate.openingCells))
                m_closed.push_back({m_open.take(slot), m_layerRow});
        }
    }

    // The opening a loop encloses, when it is a hollow of this layer.
    std::optional<Candidate> openingOf(const Loop& loop)
    {
        std::vector<Hollow::Point> points;
        points.reserve(loop.last - loop.first);
        double area2 = 0.0;
        float minX = m_segments[loop.first].x0, maxX = minX, minY = m_segments[loop.first].y0, maxY = minY;
        for (std::size_t k = loop.first; k < loop.last; ++k) {
            const Segment& s = m_segments[k];
            points.push_back({s.x0, s.y0});
            area2 += double(s.x0) * s.y1 - double(s.x1) * s.y0;
            minX = std::min(minX, s.x0), maxX = std::max(maxX, s.x0);
            minY = std::min(minY, s.y0), maxY = std::max(maxY, s.y0);
        }
        if (!(std::abs(area2) / 2.0 >= HollowFinder::kMinArea))
            return std::nullopt;

        Candidate candidate;
        Grid& grid = candidate.grid;
        const double spanX = double(maxX) - minX, spanY = double(maxY) - minY;
        grid.cell = std::max(kFinestCell, std::sqrt(spanX * spanY / kMostCells));
        grid.ox = minX, grid.oy = minY;
        grid.width = std::max(1, int(std::min(std::ceil(spanX / grid.cell), 1e6)));
        grid.height = std::max(1, int(std::min(std::ceil(spanY / grid.cell), 1e6)));
        if (grid.cells() > std::size_t(4 * kMostCells))
            return std::nullopt; // a sliver no opening fits in
        m_dense.assign(grid.cells(), 0);

        // Inside the loop's line (crossings of each row of cell centres)...
        std::vector<double> crossings;
        for (int j = 0; j < grid.height; ++j) {
            const double y = grid.cy(j);
            crossings.clear();
            for (std::size_t k = 0; k < points.size(); ++k) {
                const Hollow::Point& a = points[k];
                const Hollow::Point& b = points[(k + 1) % points.size()];
                if ((a.y <= y) != (b.y <= y))
                    crossings.push_back(a.x + (y - a.y) * (double(b.x) - a.x) / (double(b.y) - a.y));
            }
            std::sort(crossings.begin(), crossings.end());
            for (std::size_t k = 0; k + 1 < crossings.size(); k += 2) {
                const int i0 = std::max(0, int(std::ceil((crossings[k] - grid.ox) / grid.cell - 0.5)));
                const int i1 =
                    std::min(grid.width - 1, int(std::floor((crossings[k + 1] - grid.ox) / grid.cell - 0.5)));
                for (int i = i0; i <= i1; ++i)
                    m_dense[std::size_t(j) * std::size_t(grid.width) + std::size_t(i)] = 1;
            }
        }
        // ...and beyond half a width from it.
        for (std::size_t k = loop.first; k < loop.last; ++k)
            forCellsNear(grid, m_segments[k], m_segments[k].width / 2.0,
                         [&](std::size_t cell) { m_dense[cell] = 0; });

        // Kept as runs along the rows, counted and centred as they are found.
        double sumX = 0, sumY = 0;
        for (int j = 0; j < grid.height; ++j) {
            const std::uint8_t* row = m_dense.data() + std::size_t(j) * std::size_t(grid.width);
            const std::uint8_t* const rowEnd = row + grid.width;
            for (const std::uint8_t* p = row; p < rowEnd;) {
                p = std::find(p, rowEnd, std::uint8_t(1));
                if (p == rowEnd)
                    break;
                const std::uint8_t* q = std::find(p, rowEnd, std::uint8_t(0));
                const int first = int(p - row), last = int(q - row) - 1;
                const double cells = double(last - first + 1);
                candidate.runs.push_back({j, first, last});
                candidate.openingCells += std::size_t(last - first + 1);
                sumX += cells * (grid.ox + (first + last + 1) * 0.5 * grid.cell);
                sumY += cells * grid.cy(j);
                p = q;
            }
        }
        candidate.area = double(candidate.openingCells) * grid.cell * grid.cell;
        if (candidate.area < HollowFinder::kMinArea)
            return std::nullopt;
        candidate.x = sumX / double(candidate.openingCells);
        candidate.y = sumY / double(candidate.openingCells);

        // No other extrusion of the layer in it, but for a touch: an end or a seam reaching in.
        std::size_t hits = 0;
        const std::size_t allowed = candidate.openingCells / 100;
        m_index.forNear(grid.ox, grid.oy, grid.xMax(), grid.yMax(), [&](std::size_t k) {
            if (k >= loop.first && k < loop.last)
                return true;
            forCellsOnLine(grid, m_segments[k], [&](std::size_t cell) {
                if (m_dense[cell] == 1) {
                    m_dense[cell] = 2;
                    ++hits;
                }
            });
            return hits <= allowed;
        });
        if (hits > allowed)
            return std::nullopt;

        candidate.runs.shrink_to_fit();
        candidate.outline = std::move(points);
        return candidate;
    }

    // A hollow that goes on from a lower layer takes the place of the lower one.
    void keepOpen(Candidate candidate)
    {
        for (const std::uint32_t slot : m_open.near(candidate.grid)) {
            if (candidate.overlaps(m_open.at(slot)))
                m_open.erase(slot);
        }
        m_open.insert(std::move(candidate));
    }

    const std::atomic<bool>* m_cancel = nullptr;
    std::vector<Segment> m_segments; // the current layer's extrusion, arcs in short pieces
    std::vector<Loop> m_loops;
    SegmentIndex m_index;
    int m_layerRow = 0;
    bool m_chainOpen = false;
    std::uint16_t m_chainTool = 0;
    Feature m_chainFeature = Feature::Unnamed;
    std::size_t m_chainFirst = 0;
    std::size_t m_chainStartSegment = 0;
    std::size_t m_chainLoops = 0;
    double m_chainLength = 0;
    float m_chainX = 0, m_chainY = 0;
    OpenHollows m_open;
    std::vector<Closed> m_closed;
    std::vector<std::uint8_t> m_dense; // a scratch grid
};

} // namespace

struct HollowFinder::Builder::State
{
    State(double filamentDiameter, const std::atomic<bool>* cancel) : reader(filamentDiameter), finder(cancel) {}

    Moves::MoveReader reader;
    Finder finder;
    Moves::MoveReader::Sink sink = [this](const Move& move) { finder.add(move); };
    std::string carry; // the start of a row whose break has not come yet
    int row = 0;
};

HollowFinder::Builder::Builder(double filamentDiameter, const std::atomic<bool>* cancel)
    : m_cancel(cancel), m_state(std::make_unique<State>(filamentDiameter, cancel))
{
}

HollowFinder::Builder::~Builder() = default;

void HollowFinder::Builder::add(std::string_view bytes)
{
    State& state = *m_state;
    if (state.finder.cancelled())
        return;
    if (!state.carry.empty()) {
        const std::size_t firstBreak = bytes.find_first_of("\r\n");
        const std::size_t upTo =
            firstBreak == std::string_view::npos ? 0 : std::min(firstBreak + 2, bytes.size());
        const std::size_t complete = LineBreaks::completeRowsLength(bytes.substr(0, upTo));
        if (complete == 0) {
            state.carry.append(bytes);
            return;
        }
        state.carry.append(bytes.substr(0, complete));
        state.row = state.reader.read(state.carry, state.row, state.sink);
        state.carry.clear();
        bytes.remove_prefix(complete);
    }
    const std::size_t complete = LineBreaks::completeRowsLength(bytes);
    state.row = state.reader.read(bytes.substr(0, complete), state.row, state.sink);
    state.carry.assign(bytes.substr(complete));
}

std::vector<Hollow> HollowFinder::Builder::finish()
{
    State& state = *m_state;
    state.reader.read(state.carry, state.row, state.sink);
    std::vector<Closed> closed = state.finder.finish();
    std::vector<Hollow> hollows;
    for (Closed& c : closed) {
        Hollow hollow;
        hollow.roofRow = c.closingRow;
        hollow.area = c.candidate.area;
        hollow.x = c.candidate.x;
        hollow.y = c.candidate.y;
        hollow.outline = std::move(c.candidate.outline);
        hollows.push_back(std::move(hollow));
    }
    m_state = std::make_unique<State>(Moves::kDefaultFilamentDiameter, m_cancel);
    return hollows;
}

std::vector<Hollow> HollowFinder::Builder::finish(const LayerIndex& layers)
{
    std::vector<Hollow> hollows = finish();
    resolve(hollows, layers);
    return hollows;
}

void HollowFinder::resolve(std::vector<Hollow>& hollows, const LayerIndex& layers)
{
    std::erase_if(hollows, [&](Hollow& hollow) {
        const std::optional<std::size_t> layer = layers.layerAt(hollow.roofRow);
        if (!layer)
            return true;
        hollow.layer = *layer;
        hollow.row = layers.layers()[*layer].row;
        hollow.z = layers.layers()[*layer].z();
        return false;
    });
    std::stable_sort(hollows.begin(), hollows.end(), [](const Hollow& a, const Hollow& b) {
        return a.layer != b.layer ? a.layer < b.layer : (a.x != b.x ? a.x < b.x : a.y < b.y);
    });
}

std::vector<Hollow> HollowFinder::find(std::string_view body, const LayerIndex& layers)
{
    Builder builder(Moves::filamentDiameter(body));
    builder.add(body);
    return builder.finish(layers);
}

std::optional<std::vector<Hollow>> HollowFinder::findInFile(QIODevice& device,
                                                            const std::atomic<bool>& cancel)
{
    if (BinaryGCode::startsBinary(device)) {
        // Binary G-code: its text, searched as a plain file of it.
        BinaryGCode::Decoded decoded = BinaryGCode::decode(device, SlicedFile::kMaxBodyBytes, SlicedFile::kMaxBodyBytes);
        if (!decoded.ok() || cancel.load(std::memory_order_relaxed))
            return std::nullopt;
        QBuffer text(&decoded.text);
        text.open(QIODevice::ReadOnly);
        return findInFile(text, cancel);
    }
    if (SlicedFile::readHeader(device).check != SlicedFile::HeaderCheck::Fits)
        return std::nullopt;
    struct Cancelled
    {
    };
    std::optional<Builder> hollows;
    try {
        const SlicedFile::BodyRead body = SlicedFile::readBody(device, [&](QByteArrayView piece) {
            if (cancel.load(std::memory_order_relaxed))
                throw Cancelled{};
            const std::string_view bytes(piece.data(), std::size_t(piece.size()));
            if (!hollows)
                hollows.emplace(Moves::filamentDiameter(bytes), &cancel);
            hollows->add(bytes);
        });
        if (!body.ok || body.tooLarge || body.rowTooLong)
            return std::nullopt;
    } catch (const Cancelled&) {
        return std::nullopt;
    }
    if (!hollows)
        return std::vector<Hollow>{};
    std::vector<Hollow> found = hollows->finish();
    if (cancel.load(std::memory_order_relaxed))
        return std::nullopt;
    return found;
}
