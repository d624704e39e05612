#include "core/gcode/PrintEvents.h"

#include "core/gcode/GCodeWords.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace PrintEvents {

namespace {

int toInt(double number)
{
    return int(std::clamp(number, -1e9, 1e9));
}

Command temperature(GCodeWords::Reader& words, int heater)
{
    Command command{Kind::Temperature, heater, std::nullopt};
    std::optional<int> r;
    while (words.next()) {
        const char letter = words.letter();
        if (letter == 'S' || letter == 'R') {
            if (const std::optional<double> value = words.value())
                (letter == 'S' ? command.value : r) = toInt(*value);
        } else if (letter == 'T' && heater != kBed) {
            if (const std::optional<int> tool = words.whole())
                command.heater = *tool;
        }
    }
    if (!command.value)
        command.value = r;
    return command;
}

// RepRapFirmware's tool temperatures, "G10 P<tool> S<active> R<standby>": a G10 with a P and an S
// or R. Without them a G10 is a firmware retraction or sets a tool's offsets. The active
// temperature is the setting; a standby one alone sets none.
Command toolTemperatures(GCodeWords::Reader& words)
{
    std::optional<int> tool;
    std::optional<int> active;
    bool standby = false;
    while (words.next()) {
        const char letter = words.letter();
        if (letter == 'P') {
            tool = words.whole();
        } else if (letter == 'S') {
            if (const std::optional<double> value = words.value())
                active = toInt(*value);
        } else if (letter == 'R') {
            standby = true;
        }
    }
    if (!tool || (!active && !standby))
        return {};
    return {Kind::Temperature, *tool, active};
}

// Whether a row whose first byte (at p) is "G" may hold a G10, the one G command that is an event:
// "G10", "G010", "g10 P0", not "G1", "G100" or "G10.5".
bool mayBeG10(const char* p, const char* end)
{
    ++p;
    while (p < end && *p == '0')
        ++p;
    return end - p >= 2 && p[0] == '1' && p[1] == '0' && (end - p == 2 || !GCodeWords::isNumberByte(p[2]));
}

} // namespace

// Klipper's PAUSE and OctoPrint's @pause: a word of their own, not a letter and a number.
bool isNamedPause(std::string_view row)
{
    std::size_t i = 0;
    while (i < row.size() && GCodeWords::isBlank(row[i]))
        ++i;
    if (i < row.size() && row[i] == '@')
        ++i;
    constexpr std::string_view kPause = "PAUSE";
    if (row.size() - i < kPause.size())
        return false;
    for (std::size_t k = 0; k < kPause.size(); ++k) {
        if (GCodeWords::upper(row[i + k]) != kPause[k])
            return false;
    }
    i += kPause.size();
    return i == row.size() || GCodeWords::isBlank(row[i]) || row[i] == ';';
}

Command parse(std::string_view row)
{
    if (isNamedPause(row))
        return {Kind::Pause, kActiveTool, std::nullopt};
    GCodeWords::Reader words(row);
    const GCodeWords::Command command = GCodeWords::readCommand(words);
    const int number = command.number;
    if (command.letter == 'T')
        return {Kind::ToolChange, number, std::nullopt};
    if (command.letter == 'G')
        return number == 10 ? toolTemperatures(words) : Command{};
    if (command.letter != 'M')
        return {};
    switch (number) {
    case 0:
    case 1:
    case 25:
    case 125:
    case 226:
    case 600:
    case 601:
        return {Kind::Pause, kActiveTool, std::nullopt};
    case 104:
    case 109:
        return temperature(words, kActiveTool);
    case 140:
    case 190:
        return temperature(words, kBed);
    default:
        return {};
    }
}

std::vector<Event> findEvents(const RowSource& rows)
{
    std::vector<Event> events;
    const std::string_view text = rows.bytes();
    const char* p = text.data();
    const char* const end = text.data() + text.size();
    for (int row = 0; p < end; ++row) {
        const auto* lf = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        if (!lf)
            lf = end;
        const auto* cr = static_cast<const char*>(std::memchr(p, '\r', std::size_t(lf - p)));
        const char* rowEnd = cr ? cr : lf;
        const char* first = p;
        while (first < rowEnd && GCodeWords::isBlank(*first))
            ++first;
        // Only these may begin a row whose command is an M, a T or a G10, or a PAUSE or @pause.
        const char c = first < rowEnd ? GCodeWords::upper(*first) : 0;
        if (c == 'M' || c == 'T' || c == 'N' || c == '(' || c == 'P' || c == '@' ||
            (c == 'G' && mayBeG10(first, rowEnd))) {
            const Command command = parse(std::string_view(first, std::size_t(rowEnd - first)));
            if (command.kind != Kind::None)
                events.push_back({row, command});
        }
        if (cr && cr + 1 < end && cr[1] == '\n')
            p = cr + 2;
        else if (cr)
            p = cr + 1;
        else
            p = lf + 1;
    }
    return events;
}

void insertRows(std::vector<Event>& events, int row, const std::vector<std::string_view>& newRows)
{
    const int count = int(newRows.size());
    auto from =
        std::lower_bound(events.begin(), events.end(), row, [](const Event& e, int r) { return e.row < r; });
    for (auto e = from; e != events.end(); ++e)
        e->row += count;
    std::vector<Event> added;
    for (int i = 0; i < count; ++i) {
        const Command command = parse(newRows[std::size_t(i)]);
        if (command.kind != Kind::None)
            added.push_back({row + i, command});
    }
    events.insert(from, added.begin(), added.end());
}

int activeToolAt(const std::vector<Event>& events, int row)
{
    const auto atRow =
        std::lower_bound(events.begin(), events.end(), row, [](const Event& e, int r) { return e.row < r; });
    for (auto e = std::make_reverse_iterator(atRow); e != events.rend(); ++e) {
        if (e->command.kind == Kind::ToolChange)
            return e->command.heater;
    }
    return 0;
}

std::optional<Event> nextSetting(const std::vector<Event>& events, int from, int heater, int activeTool)
{
    auto e =
        std::lower_bound(events.begin(), events.end(), from, [](const Event& e, int r) { return e.row < r; });
    for (; e != events.end(); ++e) {
        const Command& command = e->command;
        if (command.kind == Kind::ToolChange) {
            activeTool = command.heater;
            continue;
        }
        if (command.kind != Kind::Temperature || !command.value)
            continue;
        const int sets = command.heater == kActiveTool ? activeTool : command.heater;
        if (sets == heater)
            return *e;
    }
    return std::nullopt;
}

Pauses pausesApart(const std::vector<Event>& events, int first, int last)
{
    Pauses pauses;
    for (const Event& e : events) {
        if (e.command.kind != Kind::Pause || (e.row >= first && e.row <= last))
            continue;
        ++pauses.count;
        const auto distance = [first](int row) { return std::abs(row - first); };
        if (!pauses.nearest || distance(e.row) < distance(*pauses.nearest))
            pauses.nearest = e.row;
    }
    return pauses;
}

} // namespace PrintEvents
