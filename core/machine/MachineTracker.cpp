#include "core/machine/MachineTracker.h"

#include "core/printer/BedShape.h"
#include "core/text/LineBreaks.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using Command = MachineTracker::RowCommand;

// --- Cells of 2 mm -----------------------------------------------------------------------------

// Cells of 2 mm: a long extrusion is sampled once per cell length, which keeps a pass over a large
// file short; the park's distance from the print is then known to about 3 mm.
constexpr double kCell = 2.0;
constexpr std::int64_t kCellLimit = 1 << 30;

// floor(v) as a whole number, for |v| below 2^62: the library's floor is a call on the target
// this is built for, and a pass over a large file takes several per move.
std::int64_t floorToInt(double v)
{
    const auto i = std::int64_t(v);
    return double(i) > v ? i - 1 : i;
}

std::int32_t cellOf(double v)
{
    const double c = v / kCell;
    if (std::abs(c) < double(kCellLimit))
        return std::int32_t(floorToInt(c));
    return std::int32_t(std::clamp<double>(std::floor(c), -double(kCellLimit), double(kCellLimit)));
}

std::uint64_t keyOf(std::int32_t cx, std::int32_t cy)
{
    return (std::uint64_t(std::uint32_t(cx)) << 32) | std::uint32_t(cy);
}

} // namespace

void MachineTracker::rows(std::string_view bytes)
{
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = LineBreaks::nextBreak(bytes, start);
        row(bytes.substr(start, end - start));
        if (end == bytes.size())
            return;
        start = end + (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n' ? 2 : 1);
    }
}

void MachineTracker::row(std::string_view text)
{
    Command& command = m_command;
    command.letter = 0;
    command.number = -1;
    command.words.present = 0;
    GCodeWords::Reader reader(text);
    const GCodeWords::Command head = GCodeWords::readCommand(reader);
    if (head.letter != 'G' && head.letter != 'M' && head.letter != 'T')
        return;
    command.letter = head.letter;
    command.number = head.number;
    Motion::readWords(reader, head, command.words);
    MachineState& s = m_state;
    if (head.letter != 'T') {
        // The layer pass reads a command only from a row that starts with one of these.
        std::size_t first = 0;
        while (first < text.size() && GCodeWords::isBlank(text[first]))
            ++first;
        const char c = first < text.size() ? GCodeWords::upper(text[first]) : 0;
        if (c == 'G' || c == 'M' || c == 'N' || c == '(') {
            GCodeWords::Words words = command.words;
            Motion::step<Motion::kLayerRule>(s.layerPass, head, words);
        }
    }
    const std::optional<double> fromX = s.x, fromY = s.y, fromZ = s.z;
    const Motion::Change change = Motion::step<Motion::kFirmware>(s, head, command.words);
    if (change.move) {
        move(head.number, change, fromX, fromY, fromZ);
        return;
    }
    const GCodeWords::Words& words = command.words;
    if (head.letter == 'G') {
        // Where X and Y home is reachable, and the file's frame calls it X0 Y0 on printers that
        // home to their minimum and on deltas (the centre). Only a park candidate: the axes stay
        // unknown, as the file moves them before it prints.
        const bool homesAll = !words.has('X') && !words.has('Y') && !words.has('Z');
        if (head.number == 28 && m_marking && (homesAll || (words.has('X') && words.has('Y'))))
            markVisited(0.0, 0.0);
        return;
    }
    if (head.letter != 'M')
        return;
    const auto sWord = words['S'];
    switch (head.number) {
    case 104:
    case 109: {
        const std::optional<double> value = sWord ? sWord : words['R'];
        if (!value)
            return;
        const auto t = words['T'];
        s.toolTargets[t ? int(*t) : s.tool] = *value;
        return;
    }
    case 140:
    case 190: {
        const std::optional<double> value = sWord ? sWord : words['R'];
        if (value)
            s.bedTarget = *value;
        return;
    }
    case 106: {
        const auto p = words['P'];
        s.fans[p ? int(*p) : 0] = sWord ? *sWord : 255.0;
        return;
    }
    case 107: {
        const auto p = words['P'];
        s.fans[p ? int(*p) : 0] = 0.0;
        return;
    }
    default:
        return;
    }
}

void MachineTracker::move(int command, const Motion::Change& change, const std::optional<double>& fromX,
                          const std::optional<double>& fromY, const std::optional<double>& fromZ)
{
    MachineState& s = m_state;
    const double delta = change.pushed;
    const auto difference = [](const std::optional<double>& from, const std::optional<double>& to) {
        return from && to ? *to - *from : 0.0;
    };
    m_move = {command, difference(fromX, s.x), difference(fromY, s.y), difference(fromZ, s.z), delta};
    if (delta < 0) {
        s.retracted += -delta;
        s.retractLength = s.retracted;
        s.retractFeed = s.feed;
    } else if (delta > 0) {
        s.retracted = std::max(0.0, s.retracted - delta);
    }
    if (m_marking && s.x && s.y)
        markVisited(*s.x, *s.y);
    if (!change.extrudes)
        return;
    if (m_marking && fromX && fromY && s.x && s.y) {
        if (command >= 2)
            markArcMove(command, *fromX, *fromY, *s.x, *s.y, m_command.words);
        else
            markPrinted(*fromX, *fromY, *s.x, *s.y);
    }
    s.lastExtrusionZ = s.z;
    s.topZ = std::max(s.topZ, *s.z);
}

void MachineTracker::adopt(const std::vector<Visited>& visited, const CellGrid& printed, std::uint32_t stretch)
{
    for (const Visited& v : visited) {
        if (v.stretch >= stretch)
            break;
        const auto cx = std::int32_t(std::uint32_t(v.cell >> 32));
        const auto cy = std::int32_t(std::uint32_t(v.cell));
        if (m_visitedCells.mark(cx, cy, m_stretch))
            m_visitedOrder.push_back({v.cell, v.point, m_stretch});
    }
    printed.forEach([&](std::uint64_t cell, std::uint32_t first) {
        if (first < stretch)
            m_printed.mark(std::int32_t(std::uint32_t(cell >> 32)), std::int32_t(std::uint32_t(cell)),
                           m_stretch);
    });
}

void MachineTracker::markVisited(double x, double y)
{
    const std::int32_t cx = cellOf(x), cy = cellOf(y);
    const std::uint64_t key = keyOf(cx, cy);
    if (key == m_lastVisited)
        return;
    m_lastVisited = key;
    if (m_visitedCells.mark(cx, cy, m_stretch))
        m_visitedOrder.push_back({key, PointXY{x, y}, m_stretch});
}

void MachineTracker::markPrinted(double x0, double y0, double x1, double y1)
{
    // Only the number of steps hangs on it: the square root is enough, where hypot is careful.
    const double length = std::sqrt((x1 - x0) * (x1 - x0) + (y1 - y0) * (y1 - y0));
    const int steps = int(std::min(1e6, std::ceil(length / kCell)));
    // The points i/steps of the way, in whole 2^-20 cells: a cell is then the point shifted right,
    // which is what floor(v / kCell) gives, for a fraction of the cost; far out, the plain way.
    constexpr double kFraction = double(1 << 20) / kCell;
    constexpr double kFar = 1e9;
    if (std::abs(x0) < kFar && std::abs(y0) < kFar && std::abs(x1) < kFar && std::abs(y1) < kFar) {
        const auto fixed = [](double v) { return floorToInt(v * kFraction); };
        const std::int64_t fx0 = fixed(x0), fy0 = fixed(y0), fx1 = fixed(x1), fy1 = fixed(y1);
        const std::int64_t dx = steps ? (fx1 - fx0) / steps : 0;
        const std::int64_t dy = steps ? (fy1 - fy0) / steps : 0;
        // The points before the last lie between the ends, as the steps round towards the start:
        // where the grid holds both ends' cells, every step is marked without a look outside it.
        const auto cx0 = std::int32_t(fx0 >> 20), cy0 = std::int32_t(fy0 >> 20);
        const auto cx1 = std::int32_t(fx1 >> 20), cy1 = std::int32_t(fy1 >> 20);
        if (m_printed.holds(std::min(cx0, cx1), std::min(cy0, cy1), std::max(cx0, cx1), std::max(cy0, cy1))) {
            m_printed.markInsideAlong(fx0, fy0, dx, dy, steps, m_stretch);
            m_printed.markInside(cx1, cy1, m_stretch);
            m_lastPrinted = keyOf(cx1, cy1);
            return;
        }
        for (int i = 0; i <= steps; ++i) {
            const auto cx = std::int32_t(i == steps ? cx1 : (fx0 + dx * i) >> 20);
            const auto cy = std::int32_t(i == steps ? cy1 : (fy0 + dy * i) >> 20);
            const std::uint64_t key = keyOf(cx, cy);
            if (key == m_lastPrinted)
                continue;
            m_lastPrinted = key;
            m_printed.mark(cx, cy, m_stretch);
        }
        return;
    }
    const double dx = steps ? (x1 - x0) / steps : 0.0;
    const double dy = steps ? (y1 - y0) / steps : 0.0;
    double x = x0;
    double y = y0;
    for (int i = 0; i <= steps; ++i, x += dx, y += dy) {
        const std::int32_t cx = cellOf(i == steps ? x1 : x);
        const std::int32_t cy = cellOf(i == steps ? y1 : y);
        const std::uint64_t key = keyOf(cx, cy);
        if (key == m_lastPrinted)
            continue;
        m_lastPrinted = key;
        m_printed.mark(cx, cy, m_stretch);
    }
}

// Arcs as Marlin documents them (G2 clockwise, G3 counter-clockwise): I and J offset the centre
// from the start, and with neither X nor Y given, or P whole circles, the arc is a whole circle;
// R gives the radius, of which two centres fit, and as which one a firmware takes is not agreed,
// both arcs are marked: the park keeps clear of either.
void MachineTracker::markArcMove(int command, double x0, double y0, double x1, double y1,
                                 const GCodeWords::Words& words)
{
    const auto at = [&](char letter) { return words[letter]; };
    const bool clockwise = command == 2;
    if (at('I') || at('J')) {
        const bool whole = (!at('X') && !at('Y')) || (at('P') && *at('P') >= 1);
        markArc(x0, y0, x1, y1, x0 + at('I').value_or(0.0), y0 + at('J').value_or(0.0), clockwise, whole);
        return;
    }
    const std::optional<double>& r = at('R');
    const double dx = (x1 - x0) / 2, dy = (y1 - y0) / 2;
    const double half = std::hypot(dx, dy);
    if (!r || half == 0.0 || !std::isfinite(*r)) {
        markPrinted(x0, y0, x1, y1);
        return;
    }
    // The centres lie on the perpendicular bisector, h from the chord's middle.
    const double h = std::sqrt(std::max(0.0, (*r - half) * (*r + half)));
    const double ux = -dy / half, uy = dx / half;
    for (const double side : {1.0, -1.0})
        markArc(x0, y0, x1, y1, x0 + dx + side * h * ux, y0 + dy + side * h * uy, clockwise, false);
}

void MachineTracker::markArc(double x0, double y0, double x1, double y1, double cx, double cy, bool clockwise,
                             bool whole)
{
    constexpr double kTurn = 2 * 3.14159265358979323846;
    const double radius = std::hypot(x0 - cx, y0 - cy);
    const double from = std::atan2(y0 - cy, x0 - cx);
    const double to = std::atan2(y1 - cy, x1 - cx);
    // The angle swept, in (0, a turn]: the whole turn when the arc ends where it starts.
    double sweep = clockwise ? from - to : to - from;
    sweep = std::fmod(sweep, kTurn);
    if (sweep <= 1e-12)
        sweep += kTurn;
    if (whole)
        sweep = kTurn;
    // Chords of at most half a cell: they stay within a tenth of a cell of the arc.
    const double pieces = std::ceil(sweep * radius / (kCell / 2));
    if (!std::isfinite(pieces) || pieces > 1e6) {
        markPrinted(x0, y0, x1, y1);
        return;
    }
    const int n = std::max(1, int(pieces));
    const double step = (clockwise ? -sweep : sweep) / n;
    double x = x0, y = y0;
    for (int i = 1; i <= n; ++i) {
        const bool last = i == n && !whole;
        const double nx = last ? x1 : cx + radius * std::cos(from + step * i);
        const double ny = last ? y1 : cy + radius * std::sin(from + step * i);
        markPrinted(x, y, nx, ny);
        x = nx, y = ny;
    }
}

std::optional<PointXY> MachineTracker::farthestVisited(double* clearance) const
{
    std::vector<PointXY> candidates;
    candidates.reserve(m_visitedOrder.size());
    for (const Visited& visited : m_visitedOrder)
        candidates.push_back(visited.point);
    std::vector<std::uint64_t> cells;
    m_printed.forEach([&](std::uint64_t cell, std::uint32_t) { cells.push_back(cell); });
    return farthest(candidates, cells, clearance);
}

std::optional<PointXY> MachineTracker::farthest(const std::vector<PointXY>& candidates,
                                                const std::vector<std::uint64_t>& printedCells,
                                                double* clearance)
{
    const auto cellKey = [](const PointXY& p) { return keyOf(cellOf(p.x), cellOf(p.y)); };
    if (candidates.empty())
        return std::nullopt;
    if (printedCells.empty()) {
        if (clearance)
            *clearance = std::numeric_limits<double>::infinity();
        return candidates.front();
    }
    // The distance of every cell to the nearest printed cell, by two chamfer passes over the
    // box that holds both sets: linear in its cells where a candidate-by-cell search is quadratic.
    std::int32_t minX = std::numeric_limits<std::int32_t>::max(), minY = minX;
    std::int32_t maxX = std::numeric_limits<std::int32_t>::min(), maxY = maxX;
    const auto grow = [&](std::uint64_t key) {
        const auto cx = std::int32_t(std::uint32_t(key >> 32));
        const auto cy = std::int32_t(std::uint32_t(key));
        minX = std::min(minX, cx), maxX = std::max(maxX, cx);
        minY = std::min(minY, cy), maxY = std::max(maxY, cy);
    };
    for (const PointXY& point : candidates)
        grow(cellKey(point));
    for (const std::uint64_t key : printedCells)
        grow(key);
    const std::int64_t width = std::int64_t(maxX) - minX + 1;
    const std::int64_t height = std::int64_t(maxY) - minY + 1;
    constexpr std::int64_t kMostCells = 16 * 1024 * 1024;
    if (width * height > kMostCells) {
        // Coordinates far apart (a stray move to X100000): the nearest printed cell by a plain search.
        const PointXY* best = nullptr;
        double bestDistance = -1;
        for (const PointXY& point : candidates) {
            double nearest = std::numeric_limits<double>::infinity();
            for (const std::uint64_t printed : printedCells) {
                const double px = std::int32_t(std::uint32_t(printed >> 32)) + 0.5;
                const double py = std::int32_t(std::uint32_t(printed)) + 0.5;
                nearest = std::min(nearest, std::hypot(point.x - px, point.y - py));
            }
            if (nearest > bestDistance)
                bestDistance = nearest, best = &point;
        }
        if (clearance)
            *clearance = bestDistance;
        return *best;
    }
    std::vector<float> distance(std::size_t(width * height), std::numeric_limits<float>::infinity());
    const auto index = [&](std::int64_t cx, std::int64_t cy) {
        return std::size_t((cy - minY) * width + (cx - minX));
    };
    for (const std::uint64_t key : printedCells)
        distance[index(std::int32_t(std::uint32_t(key >> 32)), std::int32_t(std::uint32_t(key)))] = 0.0f;
    constexpr float kDiagonal = 1.41421356f;
    for (std::int64_t y = 0; y < height; ++y) {
        for (std::int64_t x = 0; x < width; ++x) {
            float& d = distance[std::size_t(y * width + x)];
            if (x > 0)
                d = std::min(d, distance[std::size_t(y * width + x - 1)] + 1.0f);
            if (y > 0) {
                d = std::min(d, distance[std::size_t((y - 1) * width + x)] + 1.0f);
                if (x > 0)
                    d = std::min(d, distance[std::size_t((y - 1) * width + x - 1)] + kDiagonal);
                if (x + 1 < width)
                    d = std::min(d, distance[std::size_t((y - 1) * width + x + 1)] + kDiagonal);
            }
        }
    }
    for (std::int64_t y = height - 1; y >= 0; --y) {
        for (std::int64_t x = width - 1; x >= 0; --x) {
            float& d = distance[std::size_t(y * width + x)];
            if (x + 1 < width)
                d = std::min(d, distance[std::size_t(y * width + x + 1)] + 1.0f);
            if (y + 1 < height) {
                d = std::min(d, distance[std::size_t((y + 1) * width + x)] + 1.0f);
                if (x + 1 < width)
                    d = std::min(d, distance[std::size_t((y + 1) * width + x + 1)] + kDiagonal);
                if (x > 0)
                    d = std::min(d, distance[std::size_t((y + 1) * width + x - 1)] + kDiagonal);
            }
        }
    }
    const PointXY* best = &candidates.front();
    float bestDistance = -1.0f;
    for (const PointXY& point : candidates) {
        const std::uint64_t key = cellKey(point);
        const float d =
            distance[index(std::int32_t(std::uint32_t(key >> 32)), std::int32_t(std::uint32_t(key)))];
        if (d > bestDistance)
            bestDistance = d, best = &point;
    }
    if (clearance)
        *clearance = double(bestDistance) * kCell;
    return *best;
}

PauseContext MachineTracker::pauseContext(const BedShape* bed) const
{
    PauseContext context;
    context.state = m_state;
    context.park = farthestVisited(&context.parkClearance);
    if (context.park && context.parkClearance < PauseContext::kClearOfPrint && bed && !bed->corners.empty()) {
        std::vector<std::uint64_t> cells;
        m_printed.forEach([&](std::uint64_t cell, std::uint32_t) { cells.push_back(cell); });
        // A bed that the print does not lie on is in another frame than the file's: not used.
        const double slack = 2 * kCell;
        const bool printOnBed = std::all_of(cells.begin(), cells.end(), [&](std::uint64_t cell) {
            const double x = std::int32_t(std::uint32_t(cell >> 32)) * kCell;
            const double y = std::int32_t(std::uint32_t(cell)) * kCell;
            return x >= bed->minX() - slack && x + kCell <= bed->maxX() + slack && y >= bed->minY() - slack &&
                   y + kCell <= bed->maxY() + slack;
        });
        context.bedRefused = !printOnBed;
        if (printOnBed) {
            // The centres of the cells of the bed, clear of its edge, from the front left on.
            std::vector<PointXY> points;
            const double step =
                std::max(kCell, std::max(bed->maxX() - bed->minX(), bed->maxY() - bed->minY()) / 1000);
            for (double y = (std::floor(bed->minY() / kCell) + 0.5) * kCell; y <= bed->maxY(); y += step) {
                for (double x = (std::floor(bed->minX() / kCell) + 0.5) * kCell; x <= bed->maxX();
                     x += step) {
                    if (bed->holds({x, y}, PauseContext::kClearOfEdge))
                        points.push_back({x, y});
                }
            }
            double clearance = 0.0;
            const std::optional<PointXY> onBed = farthest(points, cells, &clearance);
            if (onBed && clearance > context.parkClearance) {
                context.park = onBed;
                context.parkClearance = clearance;
                context.parkOnBed = true;
            }
        }
    }
    context.parkClear = context.park && context.parkClearance >= PauseContext::kClearOfPrint;
    return context;
}

PauseContext pauseContextAt(std::string_view bytesBefore, const BedShape* bed)
{
    MachineTracker tracker;
    tracker.rows(bytesBefore);
    return tracker.pauseContext(bed);
}
