#include "core/machine/MachineState.h"

#include "core/printer/BedShape.h"
#include "core/gcode/GCodeWords.h"
#include "core/text/LineBreaks.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

// --- The words of a row, through the project's one word reader --------------------------------

using Command = MachineTracker::RowCommand;

void readCommand(std::string_view text, Command& command)
{
    command.letter = 0;
    command.number = -1;
    command.words.present = 0;
    command.anyWord = false;
    GCodeWords::Reader reader(text);
    const GCodeWords::Command head = GCodeWords::readCommand(reader);
    if (head.letter != 'G' && head.letter != 'M' && head.letter != 'T')
        return;
    command.letter = head.letter;
    command.number = head.number;
    if (head.letter == 'M' &&
        (head.number == 0 || head.number == 1 || head.number == 117 || head.number == 118))
        return; // a message follows, not words
    while (reader.next()) {
        const char letter = reader.letter();
        const std::optional<double> value = reader.value();
        if (value)
            command.words.set(letter, *value);
        command.anyWord = command.anyWord || value || (letter != 'Z' && letter != 'E');
    }
}

std::optional<double> word(const Command& command, char letter)
{
    return command.words[letter];
}

// G92: logical positions.
void setPosition(MachineState& s, const Command& command)
{
    if (const auto& v = word(command, 'X'))
        s.x = *v;
    if (const auto& v = word(command, 'Y'))
        s.y = *v;
    if (const auto& v = word(command, 'Z'))
        s.z = *v;
    if (const auto& v = word(command, 'E'))
        s.e = *v;
}

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

bool CellGrid::markOutside(std::int32_t cx, std::int32_t cy, std::uint32_t part)
{
    if (grow(cx, cy))
        return mark(cx, cy, part);
    const auto [at, added] = m_far.emplace(key(cx, cy), part);
    if (!added)
        at->second = std::min(at->second, part);
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

bool MachineState::layerPassAgrees() const
{
    return z && layerPass.zKnown && layerPass.z == *z && !relativeXyz && !layerPass.relativeAxes &&
           layerPass.e == e && layerPass.relativeE == relativeE;
}

std::optional<double> MachineState::activeTarget() const
{
    const auto found = toolTargets.find(tool);
    if (found == toolTargets.end())
        return std::nullopt;
    return found->second;
}

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

void MachineTracker::followLayerPass(char letter, int number, const WordValues& words, bool anyWord)
{
    MachineState::LayerPass& pass = m_state.layerPass;
    const auto at = [&](char l) { return words[l]; };
    if (letter == 'M') {
        if (number == 82 || number == 83)
            pass.relativeE = number == 83;
        return;
    }
    if (letter != 'G')
        return;
    if (number >= 0 && number <= 3) {
        if (const auto& z = at('Z'); z && number <= 1) {
            pass.z = pass.relativeAxes ? std::round((pass.z + *z) * 1e6) / 1e6 : *z;
            pass.zKnown = true;
        }
        if (const auto& e = at('E'))
            pass.e = pass.relativeE || pass.relativeAxes ? pass.e + *e : *e;
    } else if (number == 90 || number == 91) {
        pass.relativeAxes = number == 91;
    } else if (number == 92) {
        if (const auto& e = at('E'))
            pass.e = *e;
        else if (!anyWord)
            pass.e = 0.0;
    }
}

void MachineTracker::row(std::string_view text)
{
    readCommand(text, m_command);
    const Command& command = m_command;
    MachineState& s = m_state;
    if (command.letter == 'G' || command.letter == 'M') {
        // The layer pass reads a command only from a row that starts with one of these.
        std::size_t first = 0;
        while (first < text.size() && GCodeWords::isBlank(text[first]))
            ++first;
        const char c = first < text.size() ? GCodeWords::upper(text[first]) : 0;
        if (c == 'G' || c == 'M' || c == 'N' || c == '(')
            followLayerPass(command.letter, command.number, command.words, command.anyWord);
    }
    if (command.letter == 'T') {
        s.tool = command.number;
        return;
    }
    if (command.letter == 'G') {
        // Under G20 the lengths of a move or a G92 are inches, which the firmware turns into mm.
        if (s.inches && (command.number <= 3 || command.number == 92)) {
            Command inMm = command;
            for (const char letter : {'X', 'Y', 'Z', 'E', 'F', 'I', 'J', 'R'}) {
                if (const std::optional<double> v = command.words[letter])
                    inMm.words.set(letter, *v * MachineState::kMmPerInch);
            }
            return command.number == 92 ? setPosition(s, inMm) : move(inMm.number, inMm.words);
        }
        switch (command.number) {
        case 0:
        case 1:
        case 2:
        case 3:
            move(command.number, command.words);
            return;
        case 10:
            // RepRapFirmware's G10 P/L sets tool offsets and temperatures; without them it retracts.
            if (word(command, 'P') || word(command, 'L'))
                return;
            s.firmwareRetraction = true;
            s.firmwareRetracted = true;
            return;
        case 11:
            s.firmwareRetraction = true;
            s.firmwareRetracted = false;
            return;
        case 28: {
            const bool any = word(command, 'X') || word(command, 'Y') || word(command, 'Z');
            if (!any || word(command, 'X'))
                s.x.reset();
            if (!any || word(command, 'Y'))
                s.y.reset();
            if (!any || word(command, 'Z'))
                s.z.reset();
            // Where X and Y home is reachable, and the file's frame calls it X0 Y0 on printers that
            // home to their minimum and on deltas (the centre). Only a park candidate: the axes
            // stay unknown, as the file moves them before it prints.
            if (m_marking && (!any || (word(command, 'X') && word(command, 'Y'))))
                markVisited(0.0, 0.0);
            return;
        }
        case 20:
        case 21:
            s.inches = command.number == 20;
            return;
        case 90:
            s.relativeXyz = false;
            s.relativeE = false;
            s.eModeStated = true;
            return;
        case 91:
            s.relativeXyz = true;
            s.relativeE = true;
            s.eModeStated = true;
            return;
        case 92:
            setPosition(s, command);
            return;
        default:
            return;
        }
    }
    if (command.letter != 'M')
        return;
    const auto& sWord = word(command, 'S');
    switch (command.number) {
    case 82:
        s.relativeE = false;
        s.eModeStated = true;
        return;
    case 83:
        s.relativeE = true;
        s.eModeStated = true;
        return;
    case 104:
    case 109: {
        const std::optional<double> value = sWord ? sWord : word(command, 'R');
        if (!value)
            return;
        const auto& t = word(command, 'T');
        s.toolTargets[t ? int(*t) : s.tool] = *value;
        return;
    }
    case 140:
    case 190: {
        const std::optional<double> value = sWord ? sWord : word(command, 'R');
        if (value)
            s.bedTarget = *value;
        return;
    }
    case 106: {
        const auto& p = word(command, 'P');
        s.fans[p ? int(*p) : 0] = sWord ? *sWord : 255.0;
        return;
    }
    case 107: {
        const auto& p = word(command, 'P');
        s.fans[p ? int(*p) : 0] = 0.0;
        return;
    }
    default:
        return;
    }
}

void MachineTracker::move(int command, const WordValues& words)
{
    MachineState& s = m_state;
    const auto at = [&](char letter) { return words[letter]; };
    if (const auto& f = at('F'))
        s.feed = *f;
    const std::optional<double> fromX = s.x;
    const std::optional<double> fromY = s.y;
    const std::optional<double> fromZ = s.z;
    const auto axis = [&](std::optional<double>& position, char letter) {
        if (const auto& v = at(letter)) {
            if (!s.relativeXyz)
                position = *v;
            else if (position)
                position = *position + *v;
        }
    };
    axis(s.x, 'X');
    axis(s.y, 'Y');
    axis(s.z, 'Z');
    double delta = 0.0;
    if (const auto& v = at('E')) {
        delta = s.relativeE ? *v : *v - s.e;
        s.e = s.relativeE ? s.e + *v : *v;
    }
    const auto change = [](const std::optional<double>& from, const std::optional<double>& to) {
        return from && to ? *to - *from : 0.0;
    };
    m_move = {command, change(fromX, s.x), change(fromY, s.y), change(fromZ, s.z), delta};
    const bool movesXy = at('X') || at('Y') || (command >= 2 && (at('I') || at('J')));
    if (delta < 0) {
        s.retracted += -delta;
        s.retractLength = s.retracted;
        s.retractFeed = s.feed;
    } else if (delta > 0) {
        s.retracted = std::max(0.0, s.retracted - delta);
    }
    if (!m_marking) {
        if (movesXy && delta > 0 && s.z) {
            s.lastExtrusionZ = s.z;
            s.topZ = std::max(s.topZ, *s.z);
        }
        return;
    }
    if (s.x && s.y)
        markVisited(*s.x, *s.y);
    if (movesXy && delta > 0 && s.z) {
        if (fromX && fromY && s.x && s.y) {
            if (command >= 2)
                markArcMove(command, *fromX, *fromY, *s.x, *s.y, words);
            else
                markPrinted(*fromX, *fromY, *s.x, *s.y);
        }
        s.lastExtrusionZ = s.z;
        s.topZ = std::max(s.topZ, *s.z);
    }
}

void MachineTracker::adopt(const std::vector<Visited>& visited, const CellGrid& printed, std::uint32_t part)
{
    for (const Visited& v : visited) {
        if (v.part >= part)
            break;
        const auto cx = std::int32_t(std::uint32_t(v.cell >> 32));
        const auto cy = std::int32_t(std::uint32_t(v.cell));
        if (m_visitedCells.mark(cx, cy, m_part))
            m_visitedOrder.push_back({v.cell, v.point, m_part});
    }
    printed.forEach([&](std::uint64_t cell, std::uint32_t first) {
        if (first < part)
            m_printed.mark(std::int32_t(std::uint32_t(cell >> 32)), std::int32_t(std::uint32_t(cell)),
                           m_part);
    });
}

void MachineTracker::markVisited(double x, double y)
{
    const std::int32_t cx = cellOf(x), cy = cellOf(y);
    const std::uint64_t key = keyOf(cx, cy);
    if (key == m_lastVisited)
        return;
    m_lastVisited = key;
    if (m_visitedCells.mark(cx, cy, m_part))
        m_visitedOrder.push_back({key, PointXY{x, y}, m_part});
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
            m_printed.markInsideAlong(fx0, fy0, dx, dy, steps, m_part);
            m_printed.markInside(cx1, cy1, m_part);
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
            m_printed.mark(cx, cy, m_part);
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
        m_printed.mark(cx, cy, m_part);
    }
}

// Arcs as Marlin documents them (G2 clockwise, G3 counter-clockwise): I and J offset the centre
// from the start, and with neither X nor Y given, or P whole circles, the arc is a whole circle;
// R gives the radius, of which two centres fit, and as which one a firmware takes is not agreed,
// both arcs are marked: the park keeps clear of either.
void MachineTracker::markArcMove(int command, double x0, double y0, double x1, double y1,
                                 const WordValues& words)
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
            m_tracker.setPart(std::uint32_t(m_checkpoints.size()));
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
    const auto [from, part] = checkpointFor(offset);
    MachineTracker tracker(from->state);
    tracker.adopt(m_visited, m_printed, part);
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
