#include "core/layers/LayerIndex.h"

#include "core/gcode/GCodeWords.h"
#include "core/machine/Motion.h"
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

// The numbers the layer pass reads; the other words count by standing there.
constexpr std::uint32_t kLayerNumbers = GCodeWords::letterBit('Z') | GCodeWords::letterBit('E');

// Whether the layer rule reads anything from the command: the moves, the modes, G28 and G92.
GCODEWORDS_INLINE bool movesOrModes(GCodeWords::Command command)
{
    if (command.letter == 'G')
        return command.number <= 3 || command.number == 28 || (command.number >= 90 && command.number <= 92);
    return command.letter == 'M' && (command.number == 82 || command.number == 83);
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

// The layers the rows make, on the machine the rows drive read by the layer rule (Motion.h).
class Scanner
{
public:
    explicit Scanner(ChangeList& changes) : m_changes(changes) { m_zSets.reserve(64); }

    // One row's command (p at its first non-blank byte); returns where reading stopped.
    const char* command(const char* p, const char* end, int row)
    {
        GCodeWords::Reader reader(p, end);
        const GCodeWords::Command command = GCodeWords::readCommand(reader);
        GCodeWords::Words words;
        const std::optional<double> zBefore = m_state.z;
        Motion::Change change;
        if (command.letter == 'G' && command.number <= 3) {
            // Most rows are moves: the model's move straight away.
            words.read(reader, kLayerNumbers);
            change = Motion::move<Motion::kLayerRule>(m_state, command.number, words);
        } else {
            if (!movesOrModes(command))
                return reader.position();
            Motion::readWords(reader, command, words, kLayerNumbers);
            change = Motion::step<Motion::kLayerRule>(m_state, command, words);
        }
        if (change.zSet) {
            const double z = *m_state.z;
            if (!zBefore || z != *zBefore || m_zSets.empty())
                m_zSets.push_back({row, z});
        }
        if (change.extrudes)
            extrusion(row);
        return reader.position();
    }

private:
    void extrusion(int row)
    {
        const double z = *m_state.z;
        const Layer change(0, z);
        if (m_changes.empty() || m_changes.back().nanometres != change.nanometres) {
            // The first move that set this height since the last extrusion; without one (the
            // height was set before it), the extruding row itself.
            const auto set = std::find_if(m_zSets.begin(), m_zSets.end(),
                                          [z](const ZSet& zSet) { return zSet.z == z; });
            m_changes.push_back({set != m_zSets.end() ? set->row : row, z});
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
    Motion::State m_state;
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
    if (!movesOrModes(command))
        return {};
    std::string effect = "G" + std::to_string(number);
    if (number <= 3 || number == 28 || number == 92) {
        GCodeWords::Words words;
        Motion::readWords(reader, command, words, kLayerNumbers);
        // The letters that stand and the numbers' bits: a number the pass reads differently is a
        // different effect.
        const double z = words.has('Z') && number != 28 ? words.value('Z') : 0.0;
        const double e = words.has('E') ? words.value('E') : 0.0;
        char bits[sizeof words.present + 2 * sizeof(double)];
        std::memcpy(bits, &words.present, sizeof words.present);
        std::memcpy(bits + sizeof words.present, &z, sizeof(double));
        std::memcpy(bits + sizeof words.present + sizeof(double), &e, sizeof(double));
        effect.append(bits, sizeof bits);
    }
    return effect;
}
