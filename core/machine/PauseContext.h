#pragma once

#include "core/machine/MachineState.h"
#include "core/printer/PointXY.h"

#include <optional>
#include <string_view>

struct BedShape;

// The state and the default park position at the end of bytes (the rows before a pause).
struct PauseContext
{
    // A park this far from every printed cell, as the 2 mm cells measure it, is at least 5 mm from
    // every extrusion: the cells' distance may exceed the true one by 8 % (their diagonal steps),
    // the park and an extrusion's sample each lie up to a half diagonal (1.4 mm) from their cell's
    // centre, and an extrusion up to 1 mm from its nearest sample: 5 mm + 3.8 mm, plus 8 %.
    static constexpr double kClearOfPrint = 10.0;
    // A park on the bed keeps this far from its edge (clips, the frame).
    static constexpr double kClearOfEdge = 10.0;

    MachineState state;
    std::optional<PointXY> park;
    double parkClearance = 0.0; // the park's distance from the print on the 2 mm cells
    bool parkClear = false;     // parkClearance is at least kClearOfPrint (or nothing is printed)
    bool parkOnBed = false;     // the park is a point of the bed, as no visited position is clear
    bool bedRefused = false;    // a bed was given but the print lies outside it: not used
};
// bed: where to park when no visited position is clear of the print; may be null.
PauseContext pauseContextAt(std::string_view bytesBefore, const BedShape* bed = nullptr);
