#include "core/gcode/LayerIndex.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isBreak(char c)
{
    return c == '\n' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Bytes that may stand in a number after its sign: digits and the decimal point.
constexpr std::array<bool, 256> kNumberBytes = [] {
    std::array<bool, 256> table{};
    for (int c = '0'; c <= '9'; ++c)
        table[std::size_t(c)] = true;
    table[std::size_t('.')] = true;
    return table;
}();

bool isNumberByte(char c)
{
    return kNumberBytes[static_cast<unsigned char>(c)];
}

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

// The first line break (CR or LF) in [p, end), or end.
const char* findBreak(const char* p, const char* end)
{
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
    const char* limit = lf ? lf : end;
    const auto* cr = static_cast<const char*>(std::memchr(p, '\r', std::size_t(limit - p)));
    return cr ? cr : limit;
}

// Whether the command letter and number end here: "G1 X1", "G1X1", "G1;", not "G1-".
bool endsCommand(const char* p, const char* end)
{
    if (p == end)
        return true;
    const char c = upper(*p);
    return isBlank(c) || isBreak(c) || c == ';' || c == '(' || (c >= 'A' && c <= 'Z');
}

// A command's number ("1" in "G1", "01" in "G01"); -1 when it has none or a fraction ("G29.1").
int commandNumber(const char*& p, const char* end)
{
    int number = 0;
    const char* start = p;
    while (p < end && isDigit(*p) && p - start < 6)
        number = number * 10 + (*p++ - '0');
    if (p == start || (p < end && (isDigit(*p) || *p == '.')))
        return -1;
    return number;
}

// The words of one command: which letters stand in it, and the Z and E numbers.
struct Words
{
    bool any = false;
    bool x = false, y = false, z = false, e = false, i = false, j = false;
    double zValue = 0.0, eValue = 0.0;
};

// Reads words up to the row's end or its comment; returns where it stopped.
const char* readWords(const char* p, const char* end, Words& words)
{
    while (p < end) {
        const char c = *p;
        if (isBlank(c)) {
            ++p;
            continue;
        }
        if (c == ';' || isBreak(c) || c == '*')
            return p;
        if (c == '(') {
            while (p < end && *p != ')' && !isBreak(*p))
                ++p;
            if (p < end && *p == ')')
                ++p;
            continue;
        }
        const char letter = upper(c);
        ++p;
        if (letter < 'A' || letter > 'Z')
            continue;
        if (p < end && *p == '+')
            ++p;
        if (letter != 'Z' && letter != 'E') {
            // Only whether the word stands here matters, so its number is skipped, not read.
            if (p < end && *p == '-')
                ++p;
            const char* number = p;
            while (p < end && isNumberByte(*p))
                ++p;
            if (p == number || (p == number + 1 && *number == '.'))
                continue; // a letter without a number is no word
            words.any = true;
            words.x |= letter == 'X';
            words.y |= letter == 'Y';
            words.i |= letter == 'I';
            words.j |= letter == 'J';
            continue;
        }
        double value = 0.0;
        const auto [next, error] = std::from_chars(p, end, value, std::chars_format::fixed);
        if (error != std::errc())
            continue; // a letter without a number is no word
        p = next;
        words.any = true;
        if (letter == 'Z')
            words.z = true, words.zValue = value;
        else
            words.e = true, words.eValue = value;
    }
    return p;
}

// The state of the machine that the rows drive, as far as layers need it.
class Scanner
{
public:
    explicit Scanner(std::vector<Layer>& changes) : m_changes(changes) { m_zSets.reserve(64); }

    // One row's command (p at its first non-blank byte); returns where the command ends.
    const char* command(const char* p, const char* end, int row)
    {
        const char letter = upper(*p++);
        if (letter == 'N') { // a line number before the command
            while (p < end && isDigit(*p))
                ++p;
            while (p < end && isBlank(*p))
                ++p;
            if (p == end || (upper(*p) != 'G' && upper(*p) != 'M'))
                return p;
            return command(p, end, row);
        }
        const int number = commandNumber(p, end);
        if (letter == 'M') {
            if (number == 82)
                m_relativeE = false;
            else if (number == 83)
                m_relativeE = true;
            return p;
        }
        if (number < 0 || !endsCommand(p, end))
            return p;
        switch (number) {
        case 0:
        case 1:
        case 2:
        case 3:
            return move(number, p, end, row);
        case 90:
            m_relativeAxes = false;
            return p;
        case 91:
            m_relativeAxes = true;
            return p;
        case 92: {
            Words words;
            p = readWords(p, end, words);
            if (words.e || !words.any)
                m_e = words.e ? words.eValue : 0.0;
            return p;
        }
        default:
            return p;
        }
    }

private:
    const char* move(int number, const char* p, const char* end, int row)
    {
        Words words;
        p = readWords(p, end, words);
        if (words.z && number <= 1) {
            const double z = m_relativeAxes ? m_z + words.zValue : words.zValue;
            if (!m_zKnown || z != m_z || m_zSets.empty())
                m_zSets.push_back({row, z});
            m_z = z;
            m_zKnown = true;
        }
        if (!words.e)
            return p;
        const bool relative = m_relativeE || m_relativeAxes;
        const bool grows = relative ? words.eValue > 0.0 : words.eValue > m_e;
        m_e = relative ? m_e + words.eValue : words.eValue;
        const bool travels = words.x || words.y || (number >= 2 && (words.i || words.j));
        if (number >= 1 && grows && travels && m_zKnown)
            extrusion(row);
        return p;
    }

    void extrusion(int row)
    {
        if (m_changes.empty() || m_changes.back().z != m_z) {
            // The first move that set this height since the last extrusion; without one (the
            // height was set before it), the extruding row itself.
            const auto set = std::find_if(m_zSets.begin(), m_zSets.end(),
                                          [this](const Layer& zSet) { return zSet.z == m_z; });
            m_changes.push_back({set != m_zSets.end() ? set->row : row, m_z});
        }
        m_zSets.clear();
    }

    std::vector<Layer>& m_changes; // every change of the printing height, in row order
    std::vector<Layer> m_zSets;    // Z set by moves since the last extrusion, in row order
    double m_z = 0.0;
    double m_e = 0.0;
    bool m_zKnown = false;
    bool m_relativeE = false;
    bool m_relativeAxes = false;
};

// Keeps the changes that start a layer: from the first one at the lowest height, each that
// rises above the layer before it.
void keepLayers(std::vector<Layer>& changes)
{
    if (changes.empty())
        return;
    const auto lowest = std::min_element(changes.begin(), changes.end(),
                                         [](const Layer& a, const Layer& b) { return a.z < b.z; });
    std::size_t kept = 0;
    for (auto it = lowest; it != changes.end(); ++it) {
        if (kept == 0 || it->z > changes[kept - 1].z)
            changes[kept++] = *it;
    }
    changes.resize(kept);
}

} // namespace

LayerIndex LayerIndex::build(std::string_view body)
{
    LayerIndex index;
    Scanner scanner(index.m_layers);
    const char* p = body.data();
    const char* const end = p + body.size();
    for (int row = 0; p < end; ++row) {
        while (p < end && isBlank(*p))
            ++p;
        if (p < end) {
            const char c = upper(*p);
            if (c == 'G' || c == 'M' || c == 'N')
                p = scanner.command(p, end, row);
            if (p < end && !isBreak(*p))
                p = findBreak(p, end);
        }
        if (p == end)
            break;
        p += (*p == '\r' && p + 1 < end && p[1] == '\n') ? 2 : 1;
    }
    keepLayers(index.m_layers);
    return index;
}

std::optional<std::size_t> LayerIndex::layerAt(int row) const
{
    const auto after = std::upper_bound(m_layers.begin(), m_layers.end(), row,
                                        [](int r, const Layer& layer) { return r < layer.row; });
    if (after == m_layers.begin())
        return std::nullopt;
    return std::size_t(after - m_layers.begin()) - 1;
}

std::optional<std::size_t> LayerIndex::layerForHeight(double target) const
{
    // Heights rise from layer to layer, so the first layer reaching target is found by halving.
    const auto reaching = std::lower_bound(m_layers.begin(), m_layers.end(), target,
                                           [](const Layer& layer, double t) { return layer.z < t; });
    if (reaching == m_layers.end())
        return std::nullopt;
    if (reaching == m_layers.begin())
        return 0;
    return std::size_t(reaching - m_layers.begin()) - 1;
}
