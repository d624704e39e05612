#pragma once

// The rows that change how a print goes on, as the editor marks them and warns about them:
// a pause or filament change (M25, M0, M1, M125, M226, M600, M601, and the named pauses PAUSE of
// Klipper and @pause of OctoPrint, in either case), a temperature (M104 or M109 for a tool,
// RepRapFirmware's G10 P<tool> S<temperature> for a tool, M140 or M190 for the bed) and a tool
// change (T0, T1, ...).
//
// A row's command and its words are read as GCodeWords reads them: the first word after an
// optional line number ("N12"), a letter (either case) and a whole number, so "M1" is not "M104"
// and "M0.5" is no command; parenthesised comments are skipped, ";" ends the words.

#include "core/text/RowSource.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace PrintEvents {

enum class Kind : std::uint8_t { None, Pause, Temperature, ToolChange };

// The heater a temperature row sets: a tool number, the bed, or the tool active at that row.
constexpr int kBed = -1;
constexpr int kActiveTool = -2;

struct Command
{
    Kind kind = Kind::None;
    // Temperature: kBed, a tool number (its T word) or kActiveTool. Tool change: the new tool.
    int heater = kActiveTool;
    // Temperature: the S value, or for M104/M109/M140/M190 R where there is no S; none when the
    // row names neither (a G10 with R only sets a standby temperature, which is no setting here).
    std::optional<int> value;
};

Command parse(std::string_view row);

inline bool isPause(std::string_view row)
{
    return parse(row).kind == Kind::Pause;
}

// A marked row of a text: its row and its command.
struct Event
{
    int row = 0;
    Command command;
};

// Every marked row of the text, rows ascending. One pass over the bytes; a row is looked at
// only where a line starts, after blanks, with "M", "T", "N", "(" or "G10" (either case).
std::vector<Event> findEvents(const RowSource& rows);

// Follows count rows put in at row: the later events move down, and the new rows' own events
// (newRows, top to bottom) join them.
void insertRows(std::vector<Event>& events, int row, const std::vector<std::string_view>& newRows);

// The tool active at row: the tool of the last tool change before row; 0 when there is none.
int activeToolAt(const std::vector<Event>& events, int row);

// The first temperature row at or after from that sets heater (a tool number or kBed) with a
// value: M104/M109 for that tool, with or without a T word (without one it sets the tool active
// there, following tool changes from activeTool at row from), G10 P<that tool> S, or M140/M190
// for the bed.
std::optional<Event> nextSetting(const std::vector<Event>& events, int from, int heater, int activeTool);

// The pauses of a text apart from the rows first to last (the rows just inserted): how many,
// and the one nearest to first (the earlier one where two are as near).
struct Pauses
{
    int count = 0;
    std::optional<int> nearest;
};
Pauses pausesApart(const std::vector<Event>& events, int first, int last);

} // namespace PrintEvents
