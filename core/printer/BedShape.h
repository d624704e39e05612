#pragma once

// The printer's bed as the sliced file describes it in its own comments, or as a printer profile
// gives it: a polygon in the file's X/Y frame, in mm. A pause parks on it, clear of the print,
// where no position the file visits is. The forms read, each as its slicer writes it:
//
//   ; bed_shape = 0x0,250x0,250x210,0x210          PrusaSlicer, Slic3r, SuperSlicer (config at the end)
//   ; printable_area = 0x0,256x0,256x256,0x256     BambuStudio, OrcaSlicer, CrealityPrint (config at the top)
//   ;   strokeXoverride,220 / strokeYoverride,210  Simplify3D, with originOffsetXoverride/...Y (the
//                                                  G-code origin's place from the front-left corner);
//                                                  buildVolumeX/Y are taken the same way
//   ; bed_size_x_mm = 200 / bed_size_y_mm = 200    KISSlicer: a bed centred on bed_offset_x_mm/_y_mm
//   ;Dimension: 225.000 225.000 240.000 0.400      ideaMaker: X, Y, Z of the volume from 0, and the nozzle
//   machine_width = 220 / machine_depth = 220      Cura's ;SETTING_3 lines, when the machine's size is
//                                                  among the changed settings (machine_center_is_zero too)
//
// Slicers write their settings at the top or the end of the file: the first and the last
// kScanBytes are read, never the whole of a large file.

#include "core/machine/MachineState.h"

#include <QString>

#include <optional>
#include <string_view>
#include <vector>

struct BedShape
{
    std::vector<PointXY> corners; // in order round the bed
    QString source;               // where it came from, for notes: "the file's bed_shape", ...

    // The box that holds the corners.
    double minX() const;
    double maxX() const;
    double minY() const;
    double maxY() const;
    // Whether p lies inside, at least margin mm from every edge.
    bool holds(PointXY p, double margin) const;

    static constexpr std::size_t kScanBytes = 1024 * 1024;

    // The bed the file's comments describe; none when they describe none (or one of fewer than
    // three corners or no area).
    static std::optional<BedShape> fromFile(std::string_view bytes);
    // A box from (x0, y0) to (x1, y1).
    static BedShape box(double x0, double y0, double x1, double y1, const QString& source);
};
