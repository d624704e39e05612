#include "core/print/PrintModel.h"

#include "core/printer/BedShape.h"
#include "core/text/RowSource.h"

#include <algorithm>
#include <utility>

namespace {

// A change of more rows than this (a whole body cleared or pasted) is cheaper to find again.
constexpr int kMostRowsFollowed = 4096;

bool allEmpty(const std::vector<std::string>& effects)
{
    return std::all_of(effects.begin(), effects.end(), [](const std::string& e) { return e.empty(); });
}

} // namespace

PrintModel::PrintModel(const RowSource& text) : m_text(text) {}

int PrintModel::RowShift::moved(int row) const
{
    if (insertsRows ? row >= first : row > last)
        return row + newLast - last;
    return row > newLast ? newLast : row; // a row taken out: the row that took its place
}

void PrintModel::aboutToChange(qsizetype position, qsizetype length, bool removes)
{
    followEdit();
    ++m_version;
    Edit edit;
    edit.position = position;
    edit.length = length;
    edit.first = m_text.rowAt(position);
    edit.last = removes ? m_text.rowAt(position + length) : edit.first;
    edit.rowsBefore = m_text.physicalRowCount();
    edit.insertsRows = !removes && edit.first < edit.rowsBefore && position == m_text.rowStart(edit.first);
    edit.expected = std::exchange(m_expected, std::nullopt);
    if (m_layersValid && edit.last - edit.first <= kMostRowsFollowed) {
        for (int row = edit.first; row <= edit.last; ++row)
            edit.effects.push_back(LayerIndex::rowEffect(m_text.rowBytes(row)));
    }
    m_edit = std::move(edit);
}

void PrintModel::followEdit()
{
    if (!m_edit)
        return;
    const Edit edit = std::move(*m_edit);
    m_edit.reset();
    const int shift = m_text.physicalRowCount() - edit.rowsBefore;
    const int newLast = edit.last + shift;
    const RowShift rows{edit.first, edit.last, newLast, edit.insertsRows};

    // The hollows' roofs move with their rows; found again against the layers when asked.
    for (Hollow& hollow : m_hollowRoofs)
        hollow.roofRow = rows.moved(hollow.roofRow);
    m_hollowsValid = false;
    if (m_hollowsAwaited)
        m_shiftsSinceReplaced.push_back(rows);

    // Rows put in that leave the machine as it was: the state's checkpoints after them move with
    // the bytes. Any other change may alter the state at every row below it.
    if (m_pauseIndexValid) {
        if (edit.insertsRows && edit.expected && edit.expected->keepsMachine)
            m_pauseIndex.bytesInserted(std::size_t(edit.position), std::size_t(edit.length));
        else
            m_pauseIndexValid = false;
    }
    // The program's rows hold no move of the head that they do not take back.
    if (m_movesValid) {
        if (edit.insertsRows && edit.expected && shift > 0)
            m_moveCheckpoints.rowsInserted(edit.first, shift);
        else
            m_movesValid = false;
    }

    if (newLast < edit.first || newLast - edit.first > kMostRowsFollowed ||
        edit.last - edit.first > kMostRowsFollowed) {
        m_layersValid = m_eventsValid = false;
        return;
    }
    if (m_layersValid) {
        std::vector<std::string> effects;
        for (int row = edit.first; row <= newLast; ++row)
            effects.push_back(LayerIndex::rowEffect(m_text.rowBytes(row)));
        // The same commands row by row, or none on either side: the pass would find the same
        // layers, the ones below the edit moved by its rows.
        if (effects == edit.effects || (allEmpty(effects) && allEmpty(edit.effects)))
            m_layers.rowsShifted(edit.last, shift);
        else if (insertedRowsKeepLayers(edit, effects))
            m_layers.rowsInserted(edit.first, shift);
        else
            m_layersValid = false;
    }
    if (m_eventsValid) {
        const auto byRow = [](const PrintEvents::Event& event, int row) { return event.row < row; };
        auto from = std::lower_bound(m_events.begin(), m_events.end(), edit.first, byRow);
        auto to = std::lower_bound(from, m_events.end(), edit.last + 1, byRow);
        for (auto it = to; it != m_events.end(); ++it)
            it->row += shift;
        std::vector<PrintEvents::Event> found;
        for (int row = edit.first; row <= newLast; ++row) {
            const PrintEvents::Command command = PrintEvents::parse(m_text.rowBytes(row));
            if (command.kind != PrintEvents::Kind::None)
                found.push_back({row, command});
        }
        from = m_events.erase(from, to);
        m_events.insert(from, found.begin(), found.end());
    }
}

bool PrintModel::insertedRowsKeepLayers(const Edit& edit, const std::vector<std::string>& effects) const
{
    const std::size_t count = effects.size() - 1;
    if (!edit.insertsRows || count == 0 || effects.back() != edit.effects.front())
        return false;
    // Rows the pass passes over change nothing it finds, only where the rows below lie.
    if (std::all_of(effects.begin(), effects.end() - 1, [](const std::string& e) { return e.empty(); }))
        return true;
    // A block that restores the machine extrudes nothing, so the extrusions and their heights stay;
    // a layer's change row is the first move setting its height since the extrusion before it. The
    // block sets the height it found, which a move before it set first, and its lift: that could
    // take the change only of the first extrusion after it, where no move since the extrusion
    // before set that height, which is then the first layer changing at or after the block.
    const std::optional<double> lift = edit.expected ? edit.expected->restoringLift : std::nullopt;
    return lift && !m_layers.nextLayerIsAt(edit.first, *lift);
}

void PrintModel::textReplaced(std::optional<LayerIndex> layers)
{
    m_edit.reset();
    m_expected.reset();
    ++m_version;
    ++m_generation;
    m_layersValid = bool(layers);
    if (layers)
        m_layers = std::move(*layers);
    m_eventsValid = false;
    m_pauseIndexValid = false;
    m_pauseIndex = PauseIndex();
    m_movesValid = false;
    m_moveCheckpoints = Moves::Checkpoints();
    m_hollowRoofs.clear();
    m_hollows.clear();
    m_hollowsValid = true;
    m_hollowsAwaited = true;
    m_shiftsSinceReplaced.clear();
    m_times.reset();
}

const LayerIndex& PrintModel::layers()
{
    followEdit();
    if (!m_layersValid) {
        m_layers = LayerIndex::build(m_text.bytes());
        m_layersValid = true;
        m_hollowsValid = false;
    }
    return m_layers;
}

const std::vector<PrintEvents::Event>& PrintModel::events()
{
    followEdit();
    if (!m_eventsValid) {
        m_events = PrintEvents::findEvents(m_text);
        m_eventsValid = true;
    }
    return m_events;
}

bool PrintModel::current(bool withEvents)
{
    followEdit();
    return m_layersValid && (!withEvents || m_eventsValid);
}

PausePlan PrintModel::pauseAt(int row, const PauseRequest& request)
{
    followEdit();
    PauseContext context;
    std::optional<BedShape> bed;
    if (Pauses::needsState(request.printer)) {
        const std::string_view bytes = m_text.bytes();
        const std::size_t before = m_text.hasRow(row) ? std::size_t(m_text.rowStart(row)) : bytes.size();
        if (!m_pauseIndexValid) {
            m_pauseIndex = PauseIndex::build(bytes);
            m_pauseIndexValid = true;
        }
        bed = PauseBlocks::bedFor(request.printer, bytes);
        context = m_pauseIndex.contextAt(bytes, before, bed ? &*bed : nullptr);
    }
    return Pauses::plan(request, context, bed ? &*bed : nullptr);
}

const Moves::Checkpoints& PrintModel::moveCheckpoints()
{
    followEdit();
    if (!m_movesValid) {
        const std::string_view bytes = m_text.bytes();
        m_filamentDiameter = Moves::filamentDiameter(bytes);
        m_moveCheckpoints = Moves::Checkpoints::build(bytes, m_filamentDiameter);
        m_movesValid = true;
    }
    return m_moveCheckpoints;
}

double PrintModel::filamentDiameter()
{
    moveCheckpoints();
    return m_filamentDiameter;
}

void PrintModel::setHollows(std::vector<Hollow> foundInReplacedText, quint64 generation)
{
    if (generation != m_generation)
        return;
    followEdit();
    for (Hollow& hollow : foundInReplacedText) {
        for (const RowShift& shift : m_shiftsSinceReplaced)
            hollow.roofRow = shift.moved(hollow.roofRow);
    }
    m_hollowsAwaited = false;
    m_shiftsSinceReplaced.clear();
    m_hollowRoofs = std::move(foundInReplacedText);
    m_hollowsValid = false;
}

const std::vector<Hollow>& PrintModel::hollows()
{
    const LayerIndex& index = layers();
    if (!m_hollowsValid) {
        m_hollows = m_hollowRoofs;
        HollowFinder::resolve(m_hollows, index);
        m_hollowsValid = true;
    }
    return m_hollows;
}

std::optional<PrintModel::TimesReading> PrintModel::timesToRead(const QString& printer)
{
    if (m_timesUnderWay || times(printer))
        return std::nullopt;
    m_timesUnderWay = true;
    return TimesReading{m_version, printer};
}

bool PrintModel::timesRead(PrintTimes times, const TimesReading& reading)
{
    m_timesUnderWay = false;
    if (reading.version != m_version)
        return false;
    m_times = std::move(times);
    m_timesRead = reading;
    return true;
}

const PrintTimes* PrintModel::times(const QString& printer) const
{
    return m_times && m_timesRead.version == m_version && m_timesRead.printer == printer ? &*m_times
                                                                                         : nullptr;
}
