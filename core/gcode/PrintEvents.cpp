#include "core/gcode/PrintEvents.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace PrintEvents {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool isLetter(char c)
{
    const char u = upper(c);
    return u >= 'A' && u <= 'Z';
}

// A word: a letter and the number after it. The reader stops at a ";" comment.
struct Word
{
    char letter = 0;
    double number = 0.0;
    bool whole = false; // digits only, no sign, point or exponent
};

class WordReader
{
public:
    explicit WordReader(std::string_view row) : m_p(row.data()), m_end(row.data() + row.size()) {}

    std::optional<Word> next()
    {
        while (m_p < m_end && isBlank(*m_p))
            ++m_p;
        if (m_p == m_end || *m_p == ';' || !isLetter(*m_p))
            return std::nullopt;
        Word word;
        word.letter = upper(*m_p++);
        const char* start = m_p;
        const auto [end, error] = std::from_chars(start, m_end, word.number, std::chars_format::fixed);
        if (error != std::errc())
            return word; // a letter without a number: no whole number, and the reader stops here
        m_p = end;
        word.whole = std::all_of(start, end, isDigit);
        return word;
    }

private:
    const char* m_p;
    const char* m_end;
};

int toInt(double number)
{
    return int(std::clamp(number, -1e9, 1e9));
}

Command temperature(WordReader& words, int heater)
{
    Command command{Kind::Temperature, heater, std::nullopt};
    std::optional<int> r;
    while (const std::optional<Word> word = words.next()) {
        if (word->letter == 'S')
            command.value = toInt(word->number);
        else if (word->letter == 'R')
            r = toInt(word->number);
        else if (word->letter == 'T' && heater != kBed && word->whole)
            command.heater = toInt(word->number);
    }
    if (!command.value)
        command.value = r;
    return command;
}

bool mayStartCommand(char c)
{
    const char u = upper(c);
    return isBlank(c) || u == 'M' || u == 'T' || u == 'N';
}

} // namespace

Command parse(std::string_view row)
{
    WordReader words(row);
    std::optional<Word> word = words.next();
    if (word && word->letter == 'N')
        word = words.next();
    if (!word || !word->whole)
        return {};
    const int number = toInt(word->number);
    if (word->letter == 'T')
        return {Kind::ToolChange, number, std::nullopt};
    if (word->letter != 'M')
        return {};
    switch (number) {
    case 0:
    case 1:
    case 25:
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
        if (mayStartCommand(*p)) {
            const Command command = parse(std::string_view(p, std::size_t(rowEnd - p)));
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
