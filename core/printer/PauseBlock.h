#pragma once

// The lines a pause inserts for a printer profile. For a profile that parks: pull the filament
// back, lift, travel to the park position, optionally cool to a standby temperature, pause; on
// resume heat back (before anything extrudes), optionally prime at the park position, travel
// back over the resume point at the lifted height, go down, push the filament back and restore
// the feed rate, the E and XYZ modes and the logical E. No line moves X or Y while it extrudes.
// For any other profile, the pause line alone.
//
// What the firmware refuses or forgets is kept out: no E move where the nozzle's target is below
// the profile's cold-extrusion limit (Marlin's EXTRUDE_MINTEMP and Klipper's min_extrude_temp are
// 170 °C by default); no standby and no reheat where the nozzle is off; the block's numbers are in
// the units in force (G20 inches); where the file never states its E mode, the block states M83
// for its own E moves and gives the firmware's default back after them (absolute, M82); where
// the profile says how, the motors are held for the pause and the firmware's idle timeout is
// given back after it.

#include "core/machine/MachineState.h"
#include "core/printer/PrinterProfiles.h"

#include <QString>
#include <QStringList>

#include <optional>

struct PauseBlock
{
    QStringList lines;
    bool parked = false; // the block travels to a park position
    PointXY park;        // where, when parked
    double parkZ = 0.0;  // the lifted height
    // The park is clear of the print (see PauseContext::kClearOfPrint) or was given; a block that
    // is not is never written in silence: the window asks for a park, the batch mode refuses.
    bool parkClear = true;
    QStringList notes; // what was left out or chosen, and why (a standby with no target to return to, ...)
};

namespace PauseBlocks {

constexpr double kTravelFeed = 6000.0;  // mm/min for X/Y travel
constexpr double kZFeed = 600.0;        // mm/min for the lift and the way down
constexpr double kRetractFeed = 2100.0; // when the file shows no retraction of its own
constexpr double kPrimeFeed = 300.0;
constexpr double kDefaultRetraction = 1.0; // mm, when the file shows no retraction of its own

PauseBlock build(const PrinterProfile& profile, const PauseSettings& settings, const PauseContext& context);

// The bed a pause in body may park on: the one the file's comments describe, else the profile's.
std::optional<BedShape> bedFor(const PrinterProfile& profile, std::string_view body);

// A number as the file would write it: the exact decimal of its whole nanometres (Utility::DecimalText).
QString number(double value);

// The command word of a pause line ("M0" of "M0 Click to resume", "@pause", "PAUSE").
QString commandWord(const QString& pauseLine);

// The family of a pause command word: the word in capitals, M1 counted with M0 (its alias).
QString pauseFamily(const QString& commandWord);

} // namespace PauseBlocks
