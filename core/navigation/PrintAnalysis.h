#pragma once

// Where the print starts and which row a typed height or time selects. The window and the batch mode
// both ask these, so both choose the same row.

#include "core/layers/LayerIndex.h"
#include "core/machine/PrintTimes.h"
#include "core/text/RowSource.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct PrintStart
{
    std::optional<int> row;
    double height = 0.0;
    // The structure comment row the start was found from; none when it is the first layer.
    std::optional<int> keywordRow;
};

// The ";structure:shell-inner" rule where that comment exists (from row 2 on, the nearest row
// holding "Z" before it); otherwise the first layer; otherwise the first row from row 2 on that
// holds "shell" but not "shells" and is no comment row, walked forward to the next row holding
// "Z". None when neither finds a start.
PrintStart findPrintStart(const RowSource& rows, const LayerIndex& layers);
// The same with the structure row already found by findStructureRow.
PrintStart findPrintStart(const RowSource& rows, const LayerIndex& layers, std::optional<int> structureRow);
// The first ";structure:shell-inner" row from row 2 on, where findPrintStart looks first. It needs
// no layer index, so a caller can find it while the index is built.
std::optional<int> findStructureRow(const RowSource& rows);

struct HeightChoice
{
    std::optional<int> row;
    double z = 0.0;
    std::optional<std::size_t> layer;
    std::size_t part = 0; // the part of the layer, from 0
    bool examined = false; // false when startRow is at or past the last row, so nothing was looked at
};
// target is the typed height plus the start height, in nanometres (Utility::TypedNanometres), so
// that a height typed exactly on a layer selects the layer below it. With a layer index: the change row of
// the last layer below target from startRow on (the first such layer when it already reaches target; none
// when no layer reaches it); without one, the Z line rule.
HeightChoice chooseRowForHeight(const RowSource& rows, const LayerIndex& layers, int startRow,
                                std::int64_t target);
// The same in every part that spans target (LayerIndex::layersForHeight), in part order: one
// choice for a file of one part, as chooseRowForHeight chooses it; none when no part spans target.
// The first is the one chooseRowForHeight gives.
std::vector<HeightChoice> chooseRowsForHeight(const RowSource& rows, const LayerIndex& layers, int startRow,
                                              std::int64_t target);

// The time from the start of the print to row's start (the body's end for a row past the last),
// by the slicer's figures where the file has them, else (or with preferEstimate) the estimate.
double timeAtRow(const RowSource& rows, const PrintTimes& times, int row, bool preferEstimate = false);
// The layer a time chooses, as --time and the window's "Insert Time" choose it: the last layer
// whose change row starts at or before seconds into the print. None when seconds is past the whole
// print, before the first layer's start, or the text has no layers.
std::optional<std::size_t> chooseLayerForTime(const RowSource& rows, const LayerIndex& layers,
                                              const PrintTimes& times, double seconds,
                                              bool preferEstimate = false);
