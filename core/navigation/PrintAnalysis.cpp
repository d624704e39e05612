#include "core/navigation/PrintAnalysis.h"

#include "core/gcode/GCodeWords.h"
#include "core/navigation/RowScans.h"
#include "core/text/Utility.h"

#include <QString>

#include <algorithm>

namespace {

// Print analysis scans from the row after the one a drop leaves the caret on.
constexpr int kFirstScannedRow = 2;

// A row whose first byte after blanks is ";": a slicer's comment or setting, never a command.
bool isCommentRow(std::string_view row)
{
    const auto first = std::find_if_not(row.begin(), row.end(), GCodeWords::isBlank);
    return first != row.end() && *first == ';';
}

PrintStart startAtZRow(const RowSource& rows, int keywordRow, std::optional<int> zRow)
{
    PrintStart start;
    if (!zRow)
        return start;
    start.row = zRow;
    start.height = RowScans::zOf(rows.rowBytes(*zRow));
    start.keywordRow = keywordRow;
    return start;
}

} // namespace

std::optional<int> findStructureRow(const RowSource& rows)
{
    return RowScans::findKeywordRow(rows, QStringLiteral(";structure:shell-inner"), QString(),
                                    kFirstScannedRow, +1, rows.lineCount());
}

PrintStart findPrintStart(const RowSource& rows, const LayerIndex& layers)
{
    return findPrintStart(rows, layers, findStructureRow(rows));
}

PrintStart findPrintStart(const RowSource& rows, const LayerIndex& layers, std::optional<int> structureRow)
{
    const int lineCount = rows.lineCount();
    if (structureRow) {
        const PrintStart start =
            startAtZRow(rows, *structureRow, RowScans::findRowWithZ(rows, *structureRow, -1));
        if (start.row || layers.isEmpty())
            return start;
    }
    if (!layers.isEmpty()) {
        const Layer& first = layers.layers().front();
        return PrintStart{first.row, first.z(), std::nullopt};
    }
    for (int from = kFirstScannedRow;;) {
        const std::optional<int> shell = RowScans::findKeywordRow(
            rows, QStringLiteral("shell"), QStringLiteral("shells"), from, +1, lineCount);
        if (!shell)
            return {};
        if (!isCommentRow(rows.rowBytes(*shell)))
            return startAtZRow(rows, *shell, RowScans::findRowWithZ(rows, *shell, +1));
        from = *shell + 1;
    }
}

HeightChoice chooseRowForHeight(const RowSource& rows, const LayerIndex& layers, int startRow,
                                std::int64_t target)
{
    HeightChoice choice;
    const int lineCount = rows.lineCount();
    if (layers.isEmpty()) {
        const RowScans::HeightSearch found = RowScans::searchHeight(rows, startRow, lineCount, target);
        choice.row = found.row;
        choice.z = found.z;
        choice.examined = found.examined;
        return choice;
    }
    if (startRow >= lineCount)
        return choice;
    choice.examined = true;
    if (layers.partCount() > 1) {
        const std::vector<HeightChoice> all = chooseRowsForHeight(rows, layers, startRow, target);
        return all.empty() ? choice : all.front();
    }

    // The layers from startRow on; heights rise with the rows, so both ends are found by halving.
    const LayerSpan all = layers.layers();
    const auto first = std::lower_bound(all.begin(), all.end(), startRow,
                                        [](const Layer& layer, int row) { return layer.row < row; });
    const auto reaching = std::lower_bound(first, all.end(), target, [](const Layer& layer, std::int64_t t) {
        return std::int64_t(layer.nanometres) < t;
    });
    if (reaching == all.end())
        return choice;
    const auto chosen = reaching == first ? first : reaching - 1;
    choice.row = chosen->row;
    choice.z = chosen->z();
    choice.layer = std::size_t(chosen - all.begin());
    return choice;
}

std::vector<HeightChoice> chooseRowsForHeight(const RowSource& rows, const LayerIndex& layers, int startRow,
                                              std::int64_t target)
{
    if (layers.partCount() <= 1) {
        const HeightChoice one = chooseRowForHeight(rows, layers, startRow, target);
        return one.row ? std::vector<HeightChoice>{one} : std::vector<HeightChoice>{};
    }
    std::vector<HeightChoice> choices;
    if (startRow >= rows.lineCount())
        return choices;
    const LayerSpan all = layers.layers();
    const std::size_t first = all.partitionPoint([startRow](const Layer& layer) { return layer.row < startRow; });
    for (const std::size_t layer : layers.layersForHeight(target, first)) {
        HeightChoice choice;
        choice.row = all[layer].row;
        choice.z = all[layer].z();
        choice.layer = layer;
        choice.part = layers.partOf(layer);
        choice.examined = true;
        choices.push_back(choice);
    }
    return choices;
}

double timeAtRow(const RowSource& rows, const PrintTimes& times, int row, bool preferEstimate)
{
    const std::size_t offset =
        row < rows.physicalRowCount() ? std::size_t(rows.rowStart(std::max(row, 0))) : rows.bytes().size();
    return times.at(offset, preferEstimate);
}

std::optional<std::size_t> chooseLayerForTime(const RowSource& rows, const LayerIndex& layers,
                                              const PrintTimes& times, double seconds, bool preferEstimate)
{
    if (seconds > times.total(preferEstimate))
        return std::nullopt;
    const LayerSpan all = layers.layers();
    std::optional<std::size_t> chosen;
    for (std::size_t k = 0; k < all.size(); ++k) {
        if (timeAtRow(rows, times, all[k].row, preferEstimate) > seconds)
            break;
        chosen = k;
    }
    return chosen;
}
