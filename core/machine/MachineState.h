#pragma once

// What the printer's state is at a row of a sliced body, read from the rows before it as a
// Marlin-style firmware reads them (Motion.h, kFirmware): positions and modes, the feed rate and
// the tool, and besides them the temperatures, the fans and the retraction. This is what a
// park-and-resume block needs to leave the machine as it found it.

#include "core/machine/Motion.h"

#include <map>
#include <optional>

struct MachineState : Motion::State
{
    std::map<int, double> toolTargets; // M104/M109 per tool
    std::optional<double> bedTarget;   // M140/M190
    std::map<int, double> fans;        // M106/M107 per fan index

    double retracted = 0.0;              // mm of filament the E moves have pulled back since the last push
    std::optional<double> retractLength; // the file's own retraction: the latest retraction's depth
    std::optional<double> retractFeed;   // the feed rate of that retraction

    // The same rows as the layer pass reads them (Motion.h, kLayerRule). A block whose rows leave
    // this as they found it, and extrude nothing, moves no layer the pass finds after it.
    Motion::State layerPass;

    std::optional<double> lastExtrusionZ; // the printing height of the latest extrusion
    double topZ = 0.0;                    // the highest printing height so far

    bool isRetracted() const { return firmwareRetracted || retracted > kRetractedAtLeast; }
    // Whether the layer pass reads the head's height, E and modes as this state has them, with
    // absolute X, Y and Z: then a block written from this state leaves the pass's state as it found it.
    bool layerPassAgrees() const;
    std::optional<double> activeTarget() const;

    static constexpr double kRetractedAtLeast = 1e-6;
    static constexpr double kMmPerInch = Motion::kMmPerInch;
};
