#include "core/layers/LayerIndex.h"

#include "core/gcode/GCodeWords.h"
#include "core/text/LineBreaks.h"
#include "core/text/Utility.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

using LineBreaks::isBreak;

// The first line break (CR or LF) in [p, end), or end.
const char* findBreak(const char* p, const char* end)
{
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
    const char* limit = lf ? lf : end;
    const auto* cr = static_cast<const char*>(std::memchr(p, '\r', std::size_t(limit - p)));
    return cr ? cr : limit;
}

// A height reached by a relative move. Sums of decimal steps drift in binary (3.8 + 5 + 13 + 3.5
// + 5 is not 3.8 + 5 + 13 + 3.5 + 5 + 3.5 + 3.5 - 7), so the sum is taken to the nanometre: the
// same height reached twice is then the same double, and the one its decimal text would give.
double sumOfHeights(double z, double step)
{
    constexpr double kPerMillimetre = 1e6;
    return std::round((z + step) * kPerMillimetre) / kPerMillimetre;
}

// The words of one command: which letters stand in it, and the Z and E numbers.
struct Words
{
    std::uint32_t letters = 0; // bit n: the letter 'A' + n

    bool any() const { return letters != 0; }
    bool has(char letter) const { return letters & (1u << (letter - 'A')); }
    double zValue = 0.0, eValue = 0.0;
};

// Reads the command's words from p up to the row's end or its comment; returns where reading
// stopped. A reader of its own keeps its place in registers, where one handed in by reference is
// written to memory at every byte.
const char* readWords(const char* p, const char* end, Words& words)
{
    GCodeWords::Reader reader(p, end);
    while (reader.next()) {
        const char letter = reader.letter();
        // Only these two numbers are needed; the other words count by standing there.
        if (letter == 'Z' || letter == 'E') {
            const std::optional<double> value = reader.value();
            if (!value)
                continue; // a number out of a double's range is no word
            (letter == 'Z' ? words.zValue : words.eValue) = *value;
        }
        words.letters |= 1u << (letter - 'A');
    }
    return reader.position();
}

// Every change of the printing height, in row order. A spiral vase has one per line; the layers
// are picked out as the changes come, so that no list of the changes is ever held.
class ChangeList
{
public:
    bool empty() const { return !m_any; }
    const Layer& back() const { return m_last; }
    // The layers start at the first change at the lowest height, and from there at each change
    // that rises above the layer before it: a change below all before it starts them anew. A
    // change more than a part's drop below the last layer kept starts a part.
    void push_back(const Layer& change)
    {
        if (!m_any || change.nanometres < m_lowest) {
            m_layers.clear();
            m_partStarts.clear();
            m_lowest = change.nanometres;
            keep(change);
        } else if (change.nanometres > m_top.nanometres) {
            keep(change);
        } else if (std::int64_t(change.nanometres) < std::int64_t(m_top.nanometres) - LayerIndex::kPartDrop) {
            m_partStarts.push_back(m_layers.size());
            keep(change);
        }
        m_last = change;
        m_any = true;
    }

    // Room in the store's list of blocks for the layers of a body of about bytes: a spiral vase
    // line is hardly shorter than "G1 X1.1 Y1.1 Z0.1 E0.1" and its break. The pages of the room
    // are only taken from the system as layers fill them.
    void reserveFor(std::size_t bytes) { m_layers.reserve(bytes / kFewestBytesPerChange); }

    LayerStore takeLayers()
    {
        m_any = false;
        return std::move(m_layers);
    }
    std::vector<std::size_t> takePartStarts() { return std::move(m_partStarts); }

private:
    void keep(const Layer& layer)
    {
        m_layers.append(layer);
        m_top = layer;
    }

    static constexpr std::size_t kFewestBytesPerChange = 24;

    LayerStore m_layers;
    std::vector<std::size_t> m_partStarts; // the first layer of each part after the first
    Layer m_last; // the last change
    Layer m_top;  // the last layer kept
    std::int32_t m_lowest = 0;
    bool m_any = false;
};

// The state of the machine that the rows drive, as far as layers need it.
class Scanner
{
public:
    explicit Scanner(ChangeList& changes) : m_changes(changes) { m_zSets.reserve(64); }

    // One row's command (p at its first non-blank byte); returns where reading stopped.
    const char* command(const char* p, const char* end, int row)
    {
        GCodeWords::Reader reader(p, end);
        const GCodeWords::Command command = GCodeWords::readCommand(reader);
        if (command.letter == 'M') {
            if (command.number == 82)
                m_relativeE = false;
            else if (command.number == 83)
                m_relativeE = true;
        } else if (command.letter == 'G') {
            switch (command.number) {
            case 0:
            case 1:
            case 2:
            case 3:
                return move(command.number, reader.position(), end, row);
            case 90:
                m_relativeAxes = false;
                break;
            case 91:
                m_relativeAxes = true;
                break;
            case 92: {
                Words words;
                p = readWords(reader.position(), end, words);
                if (words.has('E') || !words.any())
                    m_e = words.has('E') ? words.eValue : 0.0;
                return p;
            }
            default:
                break;
            }
        }
        return reader.position();
    }

private:
    const char* move(int number, const char* p, const char* end, int row)
    {
        Words words;
        p = readWords(p, end, words);
        if (words.has('Z') && number <= 1) {
            const double z = m_relativeAxes ? sumOfHeights(m_z, words.zValue) : words.zValue;
            if (!m_zKnown || z != m_z || m_zSets.empty())
                m_zSets.push_back({row, z});
            m_z = z;
            m_zKnown = true;
        }
        if (!words.has('E'))
            return p;
        const bool relative = m_relativeE || m_relativeAxes;
        const bool grows = relative ? words.eValue > 0.0 : words.eValue > m_e;
        m_e = relative ? m_e + words.eValue : words.eValue;
        const bool travels =
            words.has('X') || words.has('Y') || (number >= 2 && (words.has('I') || words.has('J')));
        if (number >= 1 && grows && travels && m_zKnown)
            extrusion(row);
        return p;
    }

    void extrusion(int row)
    {
        const Layer change(0, m_z);
        if (m_changes.empty() || m_changes.back().nanometres != change.nanometres) {
            // The first move that set this height since the last extrusion; without one (the
            // height was set before it), the extruding row itself.
            const auto set = std::find_if(m_zSets.begin(), m_zSets.end(),
                                          [this](const ZSet& zSet) { return zSet.z == m_z; });
            m_changes.push_back({set != m_zSets.end() ? set->row : row, m_z});
        }
        m_zSets.clear();
    }

    ChangeList& m_changes; // every change of the printing height, in row order
    struct ZSet
    {
        int row;
        double z;
    };
    std::vector<ZSet> m_zSets; // Z set by moves since the last extrusion, in row order
    double m_z = 0.0;
    double m_e = 0.0;
    bool m_zKnown = false;
    bool m_relativeE = false;
    bool m_relativeAxes = false;
};

// Walks the rows in [p, end), counting them in row. Rows whose break is not in [p, end) are
// read to end; a caller handing pieces over passes complete rows only.
void walkRows(Scanner& scanner, const char* p, const char* const end, int& row)
{
    while (p < end) {
        while (p < end && GCodeWords::isBlank(*p))
            ++p;
        if (p < end) {
            // Only these may begin a row that holds a G or M command.
            const char c = GCodeWords::upper(*p);
            if (c == 'G' || c == 'M' || c == 'N' || c == '(')
                p = scanner.command(p, end, row);
            if (p < end && !isBreak(*p))
                p = findBreak(p, end);
        }
        if (p == end)
            return;
        p += (*p == '\r' && p + 1 < end && p[1] == '\n') ? 2 : 1;
        ++row;
    }
}

} // namespace

Layer::Layer(int changeRow, double height)
    : row(changeRow),
      nanometres(std::int32_t(std::clamp<std::int64_t>(Utility::ToNanometres(height), INT32_MIN, INT32_MAX)))
{
}

namespace {

// Just past the first break of piece and the byte after it (the LF of a CR LF); 0 without a break.
std::size_t firstBreakEnd(std::string_view piece)
{
    const std::size_t first = piece.find_first_of("\r\n");
    return first == std::string_view::npos ? 0 : std::min(first + 2, piece.size());
}

} // namespace

struct LayerIndex::Builder::State
{
    explicit State(std::size_t expectedBytes) { changes.reserveFor(expectedBytes); }

    ChangeList changes;
    Scanner scanner{changes};
    std::string carry; // the start of a row whose break has not come yet
    int row = 0;
};

LayerIndex::Builder::Builder(std::size_t expectedBytes) : m_state(std::make_unique<State>(expectedBytes)) {}

LayerIndex::Builder::~Builder() = default;

void LayerIndex::Builder::add(std::string_view bytes)
{
    State& state = *m_state;
    if (!state.carry.empty()) {
        // The carried row ends at the first break of this piece.
        const std::size_t complete = LineBreaks::completeRowsLength(bytes.substr(0, firstBreakEnd(bytes)));
        if (complete == 0) {
            state.carry.append(bytes);
            return;
        }
        state.carry.append(bytes.substr(0, complete));
        walkRows(state.scanner, state.carry.data(), state.carry.data() + state.carry.size(), state.row);
        state.carry.clear();
        bytes.remove_prefix(complete);
    }
    const std::size_t complete = LineBreaks::completeRowsLength(bytes);
    walkRows(state.scanner, bytes.data(), bytes.data() + complete, state.row);
    state.carry.assign(bytes.substr(complete));
}

LayerIndex LayerIndex::Builder::finish()
{
    State& state = *m_state;
    walkRows(state.scanner, state.carry.data(), state.carry.data() + state.carry.size(), state.row);
    LayerIndex index;
    index.m_partStarts = state.changes.takePartStarts();
    index.m_layers = state.changes.takeLayers();
    m_state = std::make_unique<State>(0);
    return index;
}

LayerIndex LayerIndex::build(std::string_view body)
{
    Builder builder(body.size());
    builder.add(body);
    return builder.finish();
}

std::optional<std::size_t> LayerIndex::layerAt(int row) const
{
    const std::size_t after = m_layers.partitionPoint([row](const Layer& layer) { return layer.row <= row; });
    if (after == 0)
        return std::nullopt;
    return after - 1;
}

std::size_t LayerIndex::partOf(std::size_t layer) const
{
    return std::size_t(std::upper_bound(m_partStarts.begin(), m_partStarts.end(), layer) - m_partStarts.begin());
}

std::vector<std::size_t> LayerIndex::layersForHeight(std::int64_t target, std::size_t fromLayer) const
{
    std::vector<std::size_t> chosen;
    const LayerSpan all = layers();
    for (std::size_t part = 0; part < partCount(); ++part) {
        const std::size_t end = partEnd(part);
        const std::size_t begin = std::max(partBegin(part), fromLayer);
        if (begin >= end)
            continue;
        // Heights rise within a part, so the first layer reaching target is found by halving.
        const auto reaching = std::partition_point(all.begin() + std::ptrdiff_t(begin), all.begin() + std::ptrdiff_t(end),
                                                   [target](const Layer& layer) { return layer.nanometres < target; });
        const auto at = std::size_t(reaching - all.begin());
        if (at == end)
            continue; // the part's top is below target
        if (at > begin)
            chosen.push_back(at - 1);
        else if (part == 0)
            chosen.push_back(begin);
    }
    return chosen;
}

std::optional<std::size_t> LayerIndex::layerForHeight(double target) const
{
    if (!m_partStarts.empty()) {
        const std::vector<std::size_t> chosen = layersForHeight(Utility::ToNanometres(target));
        return chosen.empty() ? std::nullopt : std::optional<std::size_t>(chosen.front());
    }

    // Heights rise from layer to layer, so the first layer reaching target is found by halving.
    // Compared as whole nanometres, as a height search compares them.
    const std::int64_t nanometres = Utility::ToNanometres(target);
    const std::size_t reaching =
        m_layers.partitionPoint([nanometres](const Layer& layer) { return layer.nanometres < nanometres; });
    if (reaching == m_layers.size())
        return std::nullopt;
    if (reaching == 0)
        return 0;
    return reaching - 1;
}

bool LayerIndex::nextLayerIsAt(int row, double height) const
{
    const std::size_t next = m_layers.partitionPoint([row](const Layer& layer) { return layer.row < row; });
    return next < m_layers.size() && m_layers[next].nanometres == Layer(0, height).nanometres;
}

void LayerIndex::rowsInserted(int row, int count)
{
    m_layers.shiftRows(m_layers.partitionPoint([row](const Layer& layer) { return layer.row < row; }), count);
}

void LayerIndex::rowsShifted(int last, int by)
{
    if (by == 0)
        return;
    m_layers.shiftRows(m_layers.partitionPoint([last](const Layer& layer) { return layer.row <= last; }), by);
}

std::string LayerIndex::rowEffect(std::string_view row)
{
    const char* p = row.data();
    const char* const end = p + row.size();
    while (p < end && GCodeWords::isBlank(*p))
        ++p;
    // The rows the pass reads a command from, as walkRows picks them.
    if (p == end)
        return {};
    const char first = GCodeWords::upper(*p);
    if (first != 'G' && first != 'M' && first != 'N' && first != '(')
        return {};
    GCodeWords::Reader reader(p, end);
    const GCodeWords::Command command = GCodeWords::readCommand(reader);
    const int number = command.number;
    if (command.letter == 'M')
        return number == 82 || number == 83 ? "M" + std::to_string(number) : std::string();
    if (command.letter != 'G' || !(number <= 3 || (number >= 90 && number <= 92)))
        return {};
    std::string effect = "G" + std::to_string(number);
    if (number <= 3 || number == 92) {
        Words words;
        readWords(reader.position(), end, words);
        // The letters that stand and the numbers' bits: a number the pass reads differently is a
        // different effect.
        char bits[sizeof words.letters + 2 * sizeof(double)];
        std::memcpy(bits, &words.letters, sizeof words.letters);
        std::memcpy(bits + sizeof words.letters, &words.zValue, sizeof(double));
        std::memcpy(bits + sizeof words.letters + sizeof(double), &words.eValue, sizeof(double));
        effect.append(bits, sizeof bits);
    }
    return effect;
}
