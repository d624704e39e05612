#pragma once

// The machine the rows drive, read row by row: where the head and the filament are and how the
// next row's numbers count. Every reader of moves and modes steps this one model: the layer
// index, the state a pause block starts from (MachineTracker), the layer view's moves
// (MoveReader) and the time estimate (PrintTimes). A row's command and words are read by
// GCodeWords, through readWords() below, and then step() applies them.
//
// What each command does, as the firmwares document it:
//   G0/G1   a move to X Y Z, E pushing filament, F the feed rate (mm/min), kept for the moves
//           after it. Marlin: G0 and G1 are the same move ("G0-G1: Linear Move",
//           marlinfw.org/docs/gcode/G000-G001.html); Klipper: "G1 [X<pos>] [Y<pos>] [Z<pos>]
//           [E<pos>] [F<speed>]" (klipper3d.org/G-Codes.html).
//   G2/G3   an arc, clockwise and counter-clockwise, I J its centre's offset from the start or R
//           its radius; with a Z the arc is a helix, ending at that Z (marlinfw.org/docs/gcode/G002-G003.html).
//   G10/G11 firmware retraction and its undoing (marlinfw.org/docs/gcode/G010.html, G011.html);
//           with P or L, RepRapFirmware's G10 sets a tool's offsets and temperatures instead
//           (docs.duet3d.com, "G10: Tool Temperature and Offset").
//   G20/G21 the words of a move or G92 that follow are inches / millimetres; Marlin keeps its
//           positions in millimetres (marlinfw.org/docs/gcode/G020.html, G021.html).
//   G28     homes the axes it names ("G28 X", "G28 X0 Y0": the letters are flags, their numbers
//           unread), or all three without one (marlinfw.org/docs/gcode/G028.html; Klipper
//           "G28 [X] [Y] [Z]"). Where home lies is the printer's (its end stops, a probe's offset),
//           not the file's: after it the file does not know the homed axes.
//   G90/G91 absolute / relative coordinates, E's included until an M83 / M82 says otherwise
//           (marlinfw.org/docs/gcode/G090.html, G091.html).
//   M82/M83 absolute / relative E alone (marlinfw.org/docs/gcode/M082.html, M083.html).
//   G92     sets the named axes' logical positions without moving (marlinfw.org/docs/gcode/G092.html).
//           Without a word it sets nothing on Marlin (its G92 sets each axis "seen" with a value)
//           and on RepRapFirmware ("a G92 without coordinates does nothing", docs.duet3d.com);
//           Klipper's sets X Y Z E to 0 (klippy/gcode_move.py, cmd_G92), as the RepRap wiki's G92
//           once said every firmware did.
//   T<n>    selects tool n.
//
// Where a reader must read a command otherwise on purpose, the difference stands in this one
// table, a Reading each (kFirmware, kLayerRule, kLayerView below):
//
//   command         firmware (pause block, time)     layer rule (layer index; the      why the layer rule differs
//                                                     layer view reads it too)
//   --------------  -------------------------------  --------------------------------  ---------------------------------
//   G2/G3 with Z    Z ends at the arc's Z (helix)    Z unchanged: heights come from    Bambu Studio lifts by a helical
//                                                    G0/G1 moves alone                 arc and comes down by a G1; the
//                                                                                      layer's change row is a G0/G1
//   G92 Z           sets Z                           Z unchanged                       a height is where a move took
//                                                                                      the nozzle, in the file's numbers
//   bare G92        nothing (Marlin, RepRapFirmware) X Y E to 0 (Klipper); Z kept,     a reset meant for E keeps later
//                                                    as G92 Z is                       extrusions found as extrusions
//   G90/G91 and E   the last of G90/G91/M82/M83      E relative under M83 or G91       as Klipper reads it
//                   decides (Marlin)                 alike (Klipper's gcode_move.py)
//   relative move   stays unknown                    counts from 0, where the          a file written all in G91 has
//   from unknown                                     firmware starts counting          layers too
//   G0 with E       extrudes                         no extrusion: only G1-G3 print    a travel is no layer's print
//   G20             words in inches, kept in mm      the numbers as they stand         heights are compared with the
//                                                                                      file's own numbers, exactly
//   X, Y and F      followed                         not read (the view reads them)    the layer pass reads Z and E alone
//
// G28 reads the same everywhere: the homed axes are unknown until a move or G92 sets them (the
// layer view draws an unknown X or Y at 0), so an extrusion after homing Z and before a move
// sets Z has no printing height. Relative X, Y and Z are summed to the nanometre (sumOfHeights),
// E as it comes.

#include "core/gcode/GCodeWords.h"

#include <cmath>
#include <cstdint>
#include <optional>

namespace Motion {

// Which reading of the commands a reader takes (see the table above).
struct Reading
{
    bool tracksXy;            // X and Y positions and the feed rate are followed
    bool arcsMoveZ;           // a G2/G3's Z moves the head
    bool g92SetsZ;            // G92 Z sets Z
    bool bareG92Zeroes;       // a G92 without words sets X Y E to 0
    bool g90SetsE;            // G90/G91 set E's mode too, until an M82/M83 (else E is relative under M83 or G91)
    bool relativeFromUnknown; // a relative move from an unknown position counts from 0
    bool g0Extrudes;          // a G0 that pushes filament while moving extrudes
    bool inches;              // G20/G21 are followed
};

// As a Marlin-style firmware reads the rows: what a pause block must leave as it found it, and
// what the moves the time estimate plans are.
inline constexpr Reading kFirmware{.tracksXy = true,
                                   .arcsMoveZ = true,
                                   .g92SetsZ = true,
                                   .bareG92Zeroes = false,
                                   .g90SetsE = true,
                                   .relativeFromUnknown = false,
                                   .g0Extrudes = true,
                                   .inches = true};
// As the layer pass reads them (LayerIndex.h).
inline constexpr Reading kLayerRule{.tracksXy = false,
                                    .arcsMoveZ = false,
                                    .g92SetsZ = false,
                                    .bareG92Zeroes = true,
                                    .g90SetsE = false,
                                    .relativeFromUnknown = true,
                                    .g0Extrudes = false,
                                    .inches = false};
// The layer rule with X and Y followed: the layer view draws the moves and finds the layers as
// the layer index finds them, which the hollow finder groups its moves by.
inline constexpr Reading kLayerView = [] {
    Reading reading = kLayerRule;
    reading.tracksXy = true;
    return reading;
}();

inline constexpr double kMmPerInch = 25.4;

// A position reached by a relative move. Sums of decimal steps drift in binary (3.8 + 5 + 13 + 3.5
// + 5 is not 3.8 + 5 + 13 + 3.5 + 5 + 3.5 + 3.5 - 7), so the sum is taken to the nanometre: the
// same height reached twice is then the same double, and the one its decimal text would give.
inline double sumOfHeights(double from, double step)
{
    constexpr double kPerMillimetre = 1e6;
    return std::round((from + step) * kPerMillimetre) / kPerMillimetre;
}

// Positions and modes. An axis is unknown until a move or G92 sets it (and again after G28 homes it).
struct State
{
    std::optional<double> x, y, z; // logical positions, mm (under kLayerRule, X and Y stay unknown)
    double e = 0.0;                // logical E
    std::optional<double> feed;    // mm/min, the last F (not under kLayerRule)
    int tool = 0;
    bool relativeXyz = false; // G91
    bool relativeE = false;   // M83 (under kFirmware also G91, until an M82 or G90)
    bool eModeStated = false; // an M82 or M83 (under kFirmware also G90 or G91) has said what E is
    bool inches = false;      // G20 in force (kFirmware): the words are inches, positions here mm
    bool firmwareRetraction = false; // the rows use G10/G11
    bool firmwareRetracted = false;  // a G10 not yet undone by G11

    // Whether the next move's E counts from the last E, as reading reads the modes.
    template <const Reading& R> bool relativeExtrusion() const
    {
        return R.g90SetsE ? relativeE : relativeE || relativeXyz;
    }
};

// What one row did.
struct Change
{
    bool move = false;      // a G0-G3
    bool zSet = false;      // the move set Z (a Z word, as the reading takes an arc's)
    bool travels = false;   // the move names X or Y, or an arc's I or J
    bool extrudes = false;  // it travels, pushes filament and its height is known (see Reading::g0Extrudes)
    double pushed = 0.0;    // the filament the move pushed, mm of E (negative: pulled back)
};

// Reads the words of a row whose command was just read from reader, for step(): the letters in
// numbers with their numbers (see GCodeWords::Words::read). G28's axes are flags that may stand
// without a number ("G28 X Y"), so they are read as letters; M0, M1, M117 and M118 carry a
// message, not words.
GCODEWORDS_INLINE void readWords(GCodeWords::Reader& reader, GCodeWords::Command command,
                                 GCodeWords::Words& words, std::uint32_t numbers = GCodeWords::kEveryLetter)
{
    words.present = 0;
    if (command.letter == 'M' &&
        (command.number == 0 || command.number == 1 || command.number == 117 || command.number == 118))
        return;
    if (command.letter == 'G' && command.number == 28) {
        for (const char* p = reader.position(); p < reader.end() && !GCodeWords::endsWords(*p); ++p) {
            if (*p == '(') {
                while (p < reader.end() && *p != ')' && *p != '\n' && *p != '\r')
                    ++p;
                if (p == reader.end())
                    break;
                continue;
            }
            const char c = GCodeWords::upper(*p);
            if (c == 'X' || c == 'Y' || c == 'Z')
                words.present |= GCodeWords::letterBit(c);
        }
        return;
    }
    words.read(reader, numbers);
}

namespace Detail {

template <const Reading& R>
GCODEWORDS_INLINE void moveAxis(const State& s, std::optional<double>& position, const GCodeWords::Words& words,
                                char letter)
{
    if (!words.has(letter))
        return;
    const double value = words.value(letter);
    if (!s.relativeXyz)
        position = value;
    else if (position)
        position = sumOfHeights(*position, value);
    else if (R.relativeFromUnknown)
        position = sumOfHeights(0.0, value);
}

} // namespace Detail

// A G0-G3 (number) and its words, as step() applies it; a reader whose rows are mostly moves
// may call it for them directly.
template <const Reading& R>
GCODEWORDS_INLINE Change move(State& s, int number, const GCodeWords::Words& words)
{
    Change change;
    change.move = true;
    if (R.tracksXy && words.has('F'))
        s.feed = words.value('F');
    if (R.tracksXy) {
        Detail::moveAxis<R>(s, s.x, words, 'X');
        Detail::moveAxis<R>(s, s.y, words, 'Y');
    }
    if (words.has('Z') && (number <= 1 || R.arcsMoveZ)) {
        Detail::moveAxis<R>(s, s.z, words, 'Z');
        change.zSet = true;
    }
    change.travels = words.has('X') || words.has('Y') || (number >= 2 && (words.has('I') || words.has('J')));
    if (words.has('E')) {
        const double value = words.value('E');
        const bool relative = s.relativeExtrusion<R>();
        change.pushed = relative ? value : value - s.e;
        s.e = relative ? s.e + value : value;
        change.extrudes = change.pushed > 0.0 && change.travels && s.z && (number >= 1 || R.g0Extrudes);
    }
    return change;
}

// Applies one row's command and words (read by readWords) to s as reading R reads them. Under
// G20 (kFirmware) the words' lengths are turned into millimetres in words.
template <const Reading& R>
GCODEWORDS_INLINE Change step(State& s, GCodeWords::Command command, GCodeWords::Words& words)
{
    Change change;
    if (command.letter == 'T') {
        s.tool = command.number;
        return change;
    }
    if (command.letter == 'M') {
        if (command.number == 82 || command.number == 83) {
            s.relativeE = command.number == 83;
            s.eModeStated = true;
        }
        return change;
    }
    if (command.letter != 'G')
        return change;
    const int number = command.number;
    if (R.inches && s.inches && (number <= 3 || number == 92)) {
        for (const char letter : {'X', 'Y', 'Z', 'E', 'F', 'I', 'J', 'R'}) {
            if (words.has(letter))
                words.set(letter, words.value(letter) * kMmPerInch);
        }
    }
    switch (number) {
    case 0:
    case 1:
    case 2:
    case 3:
        return move<R>(s, number, words);
    case 10:
        if (words.has('P') || words.has('L'))
            return change;
        s.firmwareRetraction = true;
        s.firmwareRetracted = true;
        return change;
    case 11:
        s.firmwareRetraction = true;
        s.firmwareRetracted = false;
        return change;
    case 20:
    case 21:
        if (R.inches)
            s.inches = number == 20;
        return change;
    case 28: {
        const bool all = !words.has('X') && !words.has('Y') && !words.has('Z');
        if (all || words.has('X'))
            s.x.reset();
        if (all || words.has('Y'))
            s.y.reset();
        if (all || words.has('Z'))
            s.z.reset();
        return change;
    }
    case 90:
    case 91:
        s.relativeXyz = number == 91;
        if (R.g90SetsE) {
            s.relativeE = number == 91;
            s.eModeStated = true;
        }
        return change;
    case 92:
        if (!words.any()) {
            if (R.bareG92Zeroes) {
                if (R.tracksXy)
                    s.x = 0.0, s.y = 0.0;
                s.e = 0.0;
            }
            return change;
        }
        if (R.tracksXy) {
            if (words.has('X'))
                s.x = words.value('X');
            if (words.has('Y'))
                s.y = words.value('Y');
        }
        if (R.g92SetsZ && words.has('Z'))
            s.z = words.value('Z');
        if (words.has('E'))
            s.e = words.value('E');
        return change;
    default:
        return change;
    }
}

} // namespace Motion
