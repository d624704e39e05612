#include "core/layers/MoveReader.h"

#include "core/gcode/GCodeWords.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace Moves {

namespace {

using GCodeWords::isBlank;
using GCodeWords::isDigit;
using GCodeWords::upper;

// The words of one command up to its comment: which letters stand in it and their numbers.
struct Words
{
    std::uint32_t present = 0;
    double value[26]; // only the letters in present are set

    // Reads the rest of a row's words, the command already read.
    explicit Words(GCodeWords::Reader& reader)
    {
        while (reader.next()) {
            const int k = reader.letter() - 'A';
            if (const std::optional<double> number = reader.value()) {
                present |= 1u << k;
                value[k] = *number;
            }
        }
    }

    bool has(char letter) const { return present & (1u << (letter - 'A')); }
    // A letter's number; 0 where the letter does not stand.
    double operator[](char letter) const { return has(letter) ? value[letter - 'A'] : 0.0; }
};

bool startsWithNoCase(const char* p, const char* end, std::string_view prefix)
{
    if (std::size_t(end - p) < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (upper(p[i]) != prefix[i])
            return false;
    }
    return true;
}

// A width comment's number: ";WIDTH:0.42" or "; LINE_WIDTH: 0.5".
std::optional<double> widthComment(const char* p, const char* end)
{
    ++p; // the ';'
    while (p < end && isBlank(*p))
        ++p;
    for (const std::string_view key : {std::string_view("WIDTH:"), std::string_view("LINE_WIDTH:")}) {
        if (!startsWithNoCase(p, end, key))
            continue;
        p += key.size();
        while (p < end && isBlank(*p))
            ++p;
        double value = 0.0;
        if (std::from_chars(p, end, value, std::chars_format::fixed).ec == std::errc() && value > 0.0 &&
            value < 10.0)
            return value;
        return std::nullopt;
    }
    return std::nullopt;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return upper(x) == upper(y); });
}

// Whether name is one of names, case aside.
bool oneOf(std::string_view name, std::initializer_list<std::string_view> names)
{
    return std::any_of(names.begin(), names.end(), [&](std::string_view n) { return equalNoCase(name, n); });
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && (isBlank(text.back()) || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// Simplify3D's feature names, as it writes them alone (up to 4.0) or after "feature " (4.1).
Feature simplifyFeature(std::string_view name)
{
    if (oneOf(name, {"outer perimeter", "inner perimeter"}))
        return Feature::Wall;
    if (oneOf(name, {"infill", "solid layer", "gap fill", "bridge", "skirt", "support", "dense support", "raft",
                     "prime pillar", "ooze shield"}))
        return Feature::Other;
    return Feature::Unnamed;
}

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kThinnestLayer = 0.04;

// The angle an arc sweeps from start to end around its centre: negative clockwise; a full turn
// where start and end meet.
double sweepOf(double a0, double a1, bool clockwise)
{
    double sweep = a1 - a0;
    if (clockwise) {
        if (sweep >= 0.0)
            sweep -= kTwoPi;
    } else if (sweep <= 0.0) {
        sweep += kTwoPi;
    }
    return sweep;
}

} // namespace

Feature featureComment(std::string_view comment)
{
    std::string_view text = trimmed(comment.substr(1));
    if (text.empty())
        return Feature::Unnamed;
    if (startsWithNoCase(text.data(), text.data() + text.size(), "TYPE:")) {
        const std::string_view name = trimmed(text.substr(5));
        return oneOf(name, {"WALL-OUTER", "WALL-INNER", "External perimeter", "Perimeter", "Overhang perimeter"})
                   ? Feature::Wall
                   : Feature::Other;
    }
    if (text.starts_with("FEATURE:")) {
        const std::string_view name = trimmed(text.substr(8));
        return oneOf(name, {"Outer wall", "Inner wall", "Overhang wall"}) ? Feature::Wall : Feature::Other;
    }
    if (text.starts_with("feature "))
        return simplifyFeature(trimmed(text.substr(8)));
    if (text.front() == '\'') {
        // KISSlicer: "; 'Perimeter', 0.4 [feed mm/s], 20.0 [head mm/s]"; a name alone is no feature.
        const std::size_t close = text.find('\'', 1);
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ',')
            return Feature::Unnamed;
        const std::string_view name = text.substr(1, close - 1);
        return oneOf(name, {"Perimeter", "Loop"}) ? Feature::Wall : Feature::Other;
    }
    return simplifyFeature(text);
}

MoveReader::MoveReader(double filamentDiameter, MachineState start)
    : m_state(start), m_filamentArea(std::numbers::pi / 4.0 * filamentDiameter * filamentDiameter)
{
}

int MoveReader::read(std::string_view rows, int firstRow, const Sink& sink)
{
    const char* p = rows.data();
    const char* const end = p + rows.size();
    int row = firstRow;
    while (p < end) {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        // A lone CR breaks a row too; such files are rare, so they are looked for only here.
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', std::size_t(lineEnd - p)));
        if (cr && cr + 1 < lineEnd)
            lineEnd = cr;
        const char* text = cr && cr + 1 == lineEnd ? cr : lineEnd; // "…\r\n": the text ends at the CR
        this->row(p, text, row, sink);
        if (lineEnd == end)
            return row + (p < end ? 1 : 0);
        p = lineEnd + 1;
        ++row;
    }
    return row;
}

void MoveReader::row(const char* p, const char* end, int row, const Sink& sink)
{
    while (p < end && isBlank(*p))
        ++p;
    if (p == end)
        return;
    if (*p == ';') {
        if (const std::optional<double> width = widthComment(p, end))
            m_state.commentWidth = *width;
        else if (const Feature feature = featureComment({p, std::size_t(end - p)}); feature != Feature::Unnamed)
            m_state.feature = feature;
        return;
    }
    GCodeWords::Reader reader(p, end);
    const GCodeWords::Command command = GCodeWords::readCommand(reader);
    const char letter = command.letter;
    const int number = command.number;
    if (letter == 'T') {
        m_state.tool = number;
        return;
    }
    if (letter == 'M') {
        if (number == 82) {
            m_state.relativeE = false;
        } else if (number == 83) {
            m_state.relativeE = true;
        } else if (number == 200) {
            const Words words(reader);
            if (words.has('D'))
                m_state.volumetricDiameter = words['D'];
        }
        return;
    }
    if (letter != 'G')
        return;
    switch (number) {
    case 0:
    case 1:
    case 2:
    case 3:
        move(number, reader, row, sink);
        return;
    case 28: { // homing: the named axes, or all, go to 0
        // The axes stand as bare letters ("G28 XY"), which are no words, or with a number ("G28 X0").
        bool named[3] = {false, false, false};
        for (const char* q = reader.position(); q < end && *q != ';'; ++q) {
            const char c = upper(*q);
            if (c >= 'X' && c <= 'Z')
                named[c - 'X'] = true;
        }
        const bool all = !named[0] && !named[1] && !named[2];
        if (all || named[0])
            m_state.x = 0.0;
        if (all || named[1])
            m_state.y = 0.0;
        if (all || named[2])
            m_state.z = 0.0, m_state.zKnown = true;
        return;
    }
    case 90:
        m_state.relativeAxes = false;
        return;
    case 91:
        m_state.relativeAxes = true;
        return;
    case 92: {
        const Words words(reader);
        if (words.present == 0) {
            m_state.x = m_state.y = m_state.z = m_state.e = 0.0;
            return;
        }
        if (words.has('X'))
            m_state.x = words['X'];
        if (words.has('Y'))
            m_state.y = words['Y'];
        if (words.has('Z'))
            m_state.z = words['Z'], m_state.zKnown = true;
        if (words.has('E'))
            m_state.e = words['E'];
        return;
    }
    default:
        return;
    }
}

void MoveReader::move(int number, GCodeWords::Reader& reader, int row, const Sink& sink)
{
    const Words words(reader);
    MachineState& s = m_state;
    const bool relative = s.relativeAxes;
    const double x0 = s.x, y0 = s.y;
    const auto axis = [&](char letter, double current) {
        return words.has(letter) ? (relative ? current + words[letter] : words[letter]) : current;
    };
    const double x1 = axis('X', s.x), y1 = axis('Y', s.y);
    if (words.has('Z')) {
        // Relative heights are summed to the nanometre, as the layer index sums them, so that a
        // lift and its return come back to the same height.
        s.z = relative ? std::round((s.z + words['Z']) * 1e6) / 1e6 : words['Z'];
        s.zKnown = true;
    }
    bool grows = false;
    double used = 0.0;
    if (words.has('E')) {
        const bool relativeE = s.relativeE || s.relativeAxes;
        used = relativeE ? words['E'] : words['E'] - s.e;
        grows = used > 0.0;
        s.e = relativeE ? s.e + words['E'] : words['E'];
    }
    s.x = x1;
    s.y = y1;
    const bool arc = number >= 2 && (words.has('I') || words.has('J') || words.has('R'));
    const bool travels = words.has('X') || words.has('Y') || (arc && (words.has('I') || words.has('J')));
    if (!travels)
        return;

    Move m;
    m.row = row;
    m.tool = std::uint16_t(std::clamp(s.tool, 0, 0xFFFF));
    m.feature = s.feature;
    m.x0 = float(x0), m.y0 = float(y0), m.x1 = float(x1), m.y1 = float(y1);
    m.z = float(s.z);
    double length = -1.0; // worked out only where a width needs it
    if (arc) {
        m.arc = true;
        m.clockwise = number == 2;
        double cx = x0 + words['I'], cy = y0 + words['J'];
        if (words.has('R') && !words.has('I') && !words.has('J')) {
            // The centre on the side the sign of R asks for: the shorter arc for R > 0.
            const double r = words['R'], dx = x1 - x0, dy = y1 - y0, d = std::hypot(dx, dy);
            if (d == 0.0 || r == 0.0) {
                m.arc = false;
            } else {
                const double side = (m.clockwise != (r < 0.0)) ? -1.0 : 1.0;
                const double h2 = (r - 0.5 * d) * (r + 0.5 * d);
                const double h = h2 > 0.0 ? std::sqrt(h2) : 0.0;
                cx = x0 + dx / 2 + side * h * (-dy / d);
                cy = y0 + dy / 2 + side * h * (dx / d);
            }
        }
        if (m.arc) {
            m.cx = float(cx), m.cy = float(cy);
            const double radius = std::hypot(x0 - cx, y0 - cy);
            const double sweep =
                sweepOf(std::atan2(y0 - cy, x0 - cx), std::atan2(y1 - cy, x1 - cx), m.clockwise);
            length = std::abs(sweep) * radius;
        }
    }
    if (grows && number >= 1 && s.zKnown) {
        m.kind = Move::Kind::Extrusion;
        if (!s.inLayer || s.z > s.layerZ) {
            m.startsLayer = true;
            // A spiral vase rises a little on every move; its height is the layers' before it.
            const double rise = s.inLayer ? s.z - s.layerZ : s.z;
            if (rise >= kThinnestLayer || s.layerHeight == 0.0)
                s.layerHeight = rise;
            s.layerZ = s.z;
            s.inLayer = true;
        }
        const double volume = s.volumetricDiameter > 0.0 ? used : used * m_filamentArea;
        if (s.commentWidth > 0.0) {
            m.width = float(s.commentWidth);
        } else {
            if (length < 0.0)
                length = std::hypot(x1 - x0, y1 - y0);
            m.width = widthOf(volume, length);
        }
    }
    sink(m);
}

float MoveReader::widthOf(double volume, double length) const
{
    constexpr double kUnknownHeight = 0.2;
    const double h = m_state.layerHeight > 0.0 ? m_state.layerHeight : kUnknownHeight;
    if (length <= 1e-6)
        return float(h);
    const double width = volume / (length * h) + h * (1.0 - std::numbers::pi / 4.0);
    return float(std::clamp(width, 0.05, 5.0));
}

double filamentDiameter(std::string_view body)
{
    constexpr std::size_t kLooked = 1024 * 1024;
    const auto lookIn = [](std::string_view text) -> std::optional<double> {
        for (std::size_t at = text.find("iameter"); at != std::string_view::npos;
             at = text.find("iameter", at + 1)) {
            // "filament_diameter", "Filament Diameter", "filamentDiameter(s)", "material_diameter"
            const std::size_t from = at >= 10 ? at - 10 : 0;
            std::string before(text.substr(from, at - from));
            for (char& c : before)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            if (before.find("filament") == std::string::npos && before.find("material") == std::string::npos)
                continue;
            const char* p = text.data() + at + 7;
            const char* const end = text.data() + std::min(text.size(), at + 7 + 16);
            if (p < end && *p == 's')
                ++p;
            while (p < end &&
                   (isBlank(*p) || *p == '#' || isDigit(*p) || *p == ':' || *p == '=' || *p == ',')) {
                if (*p == '#') { // ";Filament Diameter #1: 1.750": the slot number is no diameter
                    ++p;
                    while (p < end && isDigit(*p))
                        ++p;
                    continue;
                }
                if (isDigit(*p))
                    break;
                ++p;
            }
            double value = 0.0;
            if (std::from_chars(p, end, value, std::chars_format::fixed).ec == std::errc() && value >= 1.0 &&
                value <= 3.5)
                return value;
        }
        // KISSlicer: "; fiber_dia_mm = 2.85".
        if (const std::size_t at = text.find("fiber_dia_mm = "); at != std::string_view::npos) {
            const char* p = text.data() + at + 15;
            double value = 0.0;
            if (std::from_chars(p, text.data() + text.size(), value, std::chars_format::fixed).ec == std::errc() &&
                value >= 1.0 && value <= 3.5)
                return value;
        }
        return std::nullopt;
    };
    if (const std::optional<double> head = lookIn(body.substr(0, kLooked)))
        return *head;
    if (body.size() > kLooked) {
        if (const std::optional<double> tail = lookIn(body.substr(body.size() - kLooked)))
            return *tail;
    }
    std::string_view head = body.substr(0, kLooked);
    if (head.size() < body.size())
        head = head.substr(0, head.rfind('\n') + 1); // whole rows only
    return diameterFromExtrusion(head);
}

double diameterFromExtrusion(std::string_view rows)
{
    // The extrusion's widths as 1.75 mm filament would make them, against the layer height.
    std::vector<double> widths, ratios;
    MoveReader reader(kDefaultFilamentDiameter);
    reader.read(rows, 0, [&](const Move& move) {
        const MachineState& state = reader.state();
        // A spiral vase's rise along its turn is no layer height.
        constexpr double kThinnestLayer = 0.04;
        if (move.kind != Move::Kind::Extrusion || move.arc || state.commentWidth > 0.0 ||
            state.volumetricDiameter > 0.0 || state.layerHeight < kThinnestLayer ||
            std::hypot(move.x1 - move.x0, move.y1 - move.y0) < 1.0)
            return;
        widths.push_back(move.width);
        ratios.push_back(move.width / state.layerHeight);
    });
    constexpr std::size_t kEnough = 50;
    if (widths.size() < kEnough)
        return kDefaultFilamentDiameter;
    const auto median = [](std::vector<double>& values) {
        std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(values.size() / 2), values.end());
        return values[values.size() / 2];
    };
    return median(ratios) < 1.0 || median(widths) < kNarrowestWidth ? kOtherFilamentDiameter
                                                                       : kDefaultFilamentDiameter;
}

Checkpoints Checkpoints::build(std::string_view body, double filamentDiameter, int spacing)
{
    Checkpoints points;
    points.m_points.push_back({0, MachineState{}});
    MoveReader reader(filamentDiameter);
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    // The model's: from the second layer's first extrusion on.
    int layersStarted = 0;
    int secondLayerRow = -1;
    QRectF upper;
    const auto extend = [](QRectF& box, const Move& m) {
        const QRectF line = QRectF(QPointF(m.x0, m.y0), QPointF(m.x1, m.y1)).normalized();
        box = box.isNull() ? line.adjusted(0, 0, 1e-9, 1e-9) : box.united(line);
    };
    const MoveReader::Sink ignore = [&](const Move& m) {
        if (m.kind != Move::Kind::Extrusion)
            return;
        minX = std::min({minX, double(m.x0), double(m.x1)}),
        maxX = std::max({maxX, double(m.x0), double(m.x1)});
        minY = std::min({minY, double(m.y0), double(m.y1)}),
        maxY = std::max({maxY, double(m.y0), double(m.y1)});
        if (m.startsLayer && ++layersStarted == 2)
            secondLayerRow = m.row;
        if (secondLayerRow >= 0)
            extend(upper, m);
    };
    // Pieces of spacing rows, each read on from the state the last one left.
    const char* p = body.data();
    const char* const end = p + body.size();
    int row = 0;
    while (p < end) {
        const char* pieceEnd = p;
        for (int n = 0; n < spacing && pieceEnd < end; ++n) {
            const char* lf =
                static_cast<const char*>(std::memchr(pieceEnd, '\n', std::size_t(end - pieceEnd)));
            pieceEnd = lf ? lf + 1 : end;
        }
        row = reader.read(std::string_view(p, std::size_t(pieceEnd - p)), row, ignore);
        p = pieceEnd;
        if (p < end)
            points.m_points.push_back({row, reader.state()});
    }
    if (maxX >= minX)
        points.m_extent = QRectF(QPointF(minX, minY), QPointF(maxX, maxY));
    points.m_modelExtent = points.m_extent;
    if (secondLayerRow >= 0) {
        // The first layer read again, its extrusion near the layers above kept.
        const QRectF near = upper.adjusted(-kModelReach, -kModelReach, kModelReach, kModelReach);
        QRectF model = upper;
        // The rows before the second layer's first extrusion.
        const char* q = body.data();
        for (int n = 0; n < secondLayerRow && q < end; ++n) {
            const char* lf = static_cast<const char*>(std::memchr(q, '\n', std::size_t(end - q)));
            q = lf ? lf + 1 : end;
        }
        const std::size_t to = std::size_t(q - body.data());
        MoveReader first(filamentDiameter);
        first.read(body.substr(0, to), 0, [&](const Move& m) {
            if (m.kind == Move::Kind::Extrusion && m.row < secondLayerRow && near.contains(QPointF(m.x0, m.y0)) &&
                near.contains(QPointF(m.x1, m.y1)))
                extend(model, m);
        });
        points.m_modelExtent = model;
    }
    return points;
}

const Checkpoint& Checkpoints::before(int row) const
{
    const auto after = std::upper_bound(m_points.begin(), m_points.end(), row,
                                        [](int r, const Checkpoint& point) { return r < point.row; });
    return after == m_points.begin() ? m_points.front() : *(after - 1);
}

void Checkpoints::rowsInserted(int row, int count)
{
    for (Checkpoint& point : m_points) {
        if (point.row > row)
            point.row += count;
    }
}

} // namespace Moves
