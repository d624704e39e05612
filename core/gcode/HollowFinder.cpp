#include "core/gcode/HollowFinder.h"
#include "core/container/BinaryGCode.h"

#include "core/gcode/SlicedFile.h"
#include "core/text/LineBreaks.h"

#include <QBuffer>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <string>

namespace {

using Moves::Move;

struct Segment
{
    float x0, y0, x1, y1, width;
};

// A closed loop of extrusion: the segments [first, last) of its layer.
struct Loop
{
    std::size_t first = 0, last = 0;
};

// Cells over a rectangle of the bed, each standing for the point at its centre.
struct Grid
{
    double ox = 0, oy = 0, cell = 1;
    int width = 0, height = 0;
    std::vector<std::uint8_t> cells;

    double cx(int i) const { return ox + (i + 0.5) * cell; }
    double cy(int j) const { return oy + (j + 0.5) * cell; }
    bool contains(double x, double y) const
    {
        return x >= ox && y >= oy && x < ox + width * cell && y < oy + height * cell;
    }
    std::size_t indexOf(double x, double y) const
    {
        const int i = std::clamp(int((x - ox) / cell), 0, width - 1);
        const int j = std::clamp(int((y - oy) / cell), 0, height - 1);
        return std::size_t(j) * std::size_t(width) + std::size_t(i);
    }
};

double distanceSquared(double px, double py, const Segment& s)
{
    const double dx = s.x1 - s.x0, dy = s.y1 - s.y0;
    const double lengthSquared = dx * dx + dy * dy;
    double t = lengthSquared > 0 ? ((px - s.x0) * dx + (py - s.y0) * dy) / lengthSquared : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    const double ex = s.x0 + t * dx - px, ey = s.y0 + t * dy - py;
    return ex * ex + ey * ey;
}

// Calls f with the index of each cell whose centre lies within radius of the segment's line.
template <typename F> void forCellsNear(const Grid& grid, const Segment& s, double radius, F f)
{
    const int i0 = std::max(0, int(std::floor((std::min(s.x0, s.x1) - radius - grid.ox) / grid.cell)));
    const int i1 =
        std::min(grid.width - 1, int(std::floor((std::max(s.x0, s.x1) + radius - grid.ox) / grid.cell)));
    const int j0 = std::max(0, int(std::floor((std::min(s.y0, s.y1) - radius - grid.oy) / grid.cell)));
    const int j1 =
        std::min(grid.height - 1, int(std::floor((std::max(s.y0, s.y1) + radius - grid.oy) / grid.cell)));
    const double r2 = radius * radius;
    for (int j = j0; j <= j1; ++j) {
        for (int i = i0; i <= i1; ++i) {
            if (distanceSquared(grid.cx(i), grid.cy(j), s) <= r2)
                f(std::size_t(j) * std::size_t(grid.width) + std::size_t(i));
        }
    }
}

// Calls f with the index of each cell the segment's line passes, sampled finer than a cell.
template <typename F> void forCellsOnLine(const Grid& grid, const Segment& s, F f)
{
    // Only the part inside the grid is sampled (Liang-Barsky clipping).
    double t0 = 0.0, t1 = 1.0;
    const double dx = s.x1 - s.x0, dy = s.y1 - s.y0;
    const double xMax = grid.ox + grid.width * grid.cell, yMax = grid.oy + grid.height * grid.cell;
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

// A hollow of one layer, waiting for a later layer to cover it.
struct Candidate
{
    Grid opening; // 1 on each cell of the opening
    std::size_t openingCells = 0;
    double area = 0, x = 0, y = 0;
    std::vector<Hollow::Point> outline;

    // Whether the two openings' bounds overlap by half the smaller one: the same hollow, a
    // layer on, even where its sides slope or its opening is a ring.
    bool overlaps(const Candidate& other) const
    {
        const Grid& a = opening;
        const Grid& b = other.opening;
        const double w = std::min(a.ox + a.width * a.cell, b.ox + b.width * b.cell) - std::max(a.ox, b.ox);
        const double h = std::min(a.oy + a.height * a.cell, b.oy + b.height * b.cell) - std::max(a.oy, b.oy);
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

class Finder
{
public:
    void add(const Move& move)
    {
        if (move.kind != Move::Kind::Extrusion) {
            m_chainOpen = false;
            return;
        }
        if (move.startsLayer) {
            finishLayer();
            m_layerRow = move.row;
        }
        if (!m_chainOpen || move.tool != m_chainTool) {
            m_chainOpen = true;
            m_chainTool = move.tool;
            m_chainFirst = m_segments.size();
            m_chainLength = 0.0;
            m_chainX = move.x0, m_chainY = move.y0;
        }
        appendSegments(move);
        const double half = move.width / 2.0;
        const double back = std::hypot(move.x1 - m_chainX, move.y1 - m_chainY);
        if (back <= half && m_segments.size() - m_chainFirst >= 3 && m_chainLength >= kShortestLoop) {
            m_loops.push_back({m_chainFirst, m_segments.size()});
            m_chainFirst = m_segments.size();
            m_chainLength = 0.0;
            m_chainX = move.x1, m_chainY = move.y1;
        }
    }

    std::vector<Closed> finish()
    {
        finishLayer();
        return std::move(m_closed);
    }

private:
    // A loop around kMinArea is at least this long.
    static constexpr double kShortestLoop = 2.0 * 4.0; // a 2 by 2 square
    // Cells per opening, at most: enough that a 4 mm² opening is measured to a few percent.
    static constexpr double kMostCells = 40000.0;
    static constexpr double kFinestCell = 0.025;
    // Open hollows kept at once; the oldest go first beyond it.
    static constexpr std::size_t kMostOpen = 512;

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
        if (!m_segments.empty()) {
            closeCovered();
            std::vector<Candidate> found;
            for (const Loop& loop : m_loops) {
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

    // The open hollows this layer covers close here.
    void closeCovered()
    {
        for (auto it = m_open.begin(); it != m_open.end();) {
            const Grid& grid = it->opening;
            m_scratch.assign(grid.cells.size(), 0);
            std::size_t covered = 0;
            const double xMax = grid.ox + grid.width * grid.cell, yMax = grid.oy + grid.height * grid.cell;
            for (const Segment& s : m_segments) {
                const double r = s.width / 2.0;
                if (std::max(s.x0, s.x1) + r < grid.ox || std::min(s.x0, s.x1) - r > xMax ||
                    std::max(s.y0, s.y1) + r < grid.oy || std::min(s.y0, s.y1) - r > yMax)
                    continue;
                forCellsNear(grid, s, r, [&](std::size_t cell) {
                    if (grid.cells[cell] && !m_scratch[cell]) {
                        m_scratch[cell] = 1;
                        ++covered;
                    }
                });
            }
            if (double(covered) >= HollowFinder::kCoveredShare * double(it->openingCells)) {
                m_closed.push_back({std::move(*it), m_layerRow});
                it = m_open.erase(it);
            } else {
                ++it;
            }
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
        if (std::abs(area2) / 2.0 < HollowFinder::kMinArea)
            return std::nullopt;

        Candidate candidate;
        Grid& grid = candidate.opening;
        const double spanX = double(maxX) - minX, spanY = double(maxY) - minY;
        grid.cell = std::max(kFinestCell, std::sqrt(spanX * spanY / kMostCells));
        grid.ox = minX, grid.oy = minY;
        grid.width = std::max(1, int(std::ceil(spanX / grid.cell)));
        grid.height = std::max(1, int(std::ceil(spanY / grid.cell)));
        grid.cells.assign(std::size_t(grid.width) * std::size_t(grid.height), 0);

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
                    grid.cells[std::size_t(j) * std::size_t(grid.width) + std::size_t(i)] = 1;
            }
        }
        // ...and beyond half a width from it.
        for (std::size_t k = loop.first; k < loop.last; ++k)
            forCellsNear(grid, m_segments[k], m_segments[k].width / 2.0,
                         [&](std::size_t cell) { grid.cells[cell] = 0; });

        double sumX = 0, sumY = 0;
        for (int j = 0; j < grid.height; ++j) {
            for (int i = 0; i < grid.width; ++i) {
                if (grid.cells[std::size_t(j) * std::size_t(grid.width) + std::size_t(i)]) {
                    ++candidate.openingCells;
                    sumX += grid.cx(i), sumY += grid.cy(j);
                }
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
        m_scratch.assign(grid.cells.size(), 0);
        for (std::size_t k = 0; k < m_segments.size() && hits <= allowed; ++k) {
            if (k >= loop.first && k < loop.last)
                continue;
            forCellsOnLine(grid, m_segments[k], [&](std::size_t cell) {
                if (grid.cells[cell] && !m_scratch[cell]) {
                    m_scratch[cell] = 1;
                    ++hits;
                }
            });
        }
        if (hits > allowed)
            return std::nullopt;
        candidate.outline = std::move(points);
        return candidate;
    }

    // A hollow that goes on from a lower layer takes the place of the lower one.
    void keepOpen(Candidate candidate)
    {
        std::erase_if(m_open, [&](const Candidate& lower) { return candidate.overlaps(lower); });
        if (m_open.size() >= kMostOpen)
            m_open.pop_front();
        m_open.push_back(std::move(candidate));
    }

    std::vector<Segment> m_segments; // the current layer's extrusion, arcs in short pieces
    std::vector<Loop> m_loops;
    int m_layerRow = 0;
    bool m_chainOpen = false;
    std::uint16_t m_chainTool = 0;
    std::size_t m_chainFirst = 0;
    double m_chainLength = 0;
    float m_chainX = 0, m_chainY = 0;
    std::deque<Candidate> m_open;
    std::vector<Closed> m_closed;
    std::vector<std::uint8_t> m_scratch;
};

} // namespace

struct HollowFinder::Builder::State
{
    explicit State(double filamentDiameter) : reader(filamentDiameter) {}

    Moves::MoveReader reader;
    Finder finder;
    Moves::MoveReader::Sink sink = [this](const Move& move) { finder.add(move); };
    std::string carry; // the start of a row whose break has not come yet
    int row = 0;
};

HollowFinder::Builder::Builder(double filamentDiameter) : m_state(std::make_unique<State>(filamentDiameter))
{
}

HollowFinder::Builder::~Builder() = default;

void HollowFinder::Builder::add(std::string_view bytes)
{
    State& state = *m_state;
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
    m_state = std::make_unique<State>(Moves::kDefaultFilamentDiameter);
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
                hollows.emplace(Moves::filamentDiameter(bytes));
            hollows->add(bytes);
        });
        if (!body.ok || body.tooLarge || body.rowTooLong)
            return std::nullopt;
    } catch (const Cancelled&) {
        return std::nullopt;
    }
    if (!hollows)
        return std::vector<Hollow>{};
    return hollows->finish();
}
