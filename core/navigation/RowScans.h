#pragma once

// Scans over the rows of the edit buffer that need no widget. Each one searches the
// text where it lies and looks at a row only around a hit, so a scan over millions of
// rows costs about one pass of a byte search. The handlers apply the results to the
// controls in their own order.
//
// Rows are those of a RowSource: numbered from 0, and a row the text does not have
// reads as empty. Matching is byte for byte (Latin-1) and case-sensitive; a text with a
// character above U+00FF or a line break can stand in no row.

#include "core/text/RowSource.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

namespace RowScans {

// A Z line holds "G1 " and "Z", each anywhere in the row: "Z" may stand before "G1 " or
// in a comment. "G0 Z1", "g1 z1", "G01 Z1" and "G1<tab>Z1" are not Z lines.
bool isZLine(std::string_view row);
// The number after the row's first "Z", as NumberAfterKey reads it with the key "Z".
double zOf(std::string_view row);

// The keyword scan. Starting at row from and adding step (+1 or -1), the first row that
// contains keyword and, when exclusion is not empty, does not contain exclusion anywhere.
// A row above lineCount or below 0 ends the scan with no row. The keyword must not be empty.
std::optional<int> findKeywordRow(const RowSource& rows, const QString& keyword, const QString& exclusion,
                                  int from, int step, int lineCount);

// The backward Z lookup: the nearest Z line at or before row, down to row 1. Row 0 is
// never examined, so examined is false exactly when row is 0 or less.
struct ZLookup
{
    std::optional<int> row;
    double z = 0.0;
    bool examined = false;
};
ZLookup findZLineAtOrBefore(const RowSource& rows, int row);

// The walk from a keyword row to the print start: the first row after from (step +1) or
// before it (step -1) that contains "Z" anywhere. None when the walk reaches an end.
std::optional<int> findRowWithZ(const RowSource& rows, int from, int step);

// The last Z line, walking back from row lineCount to row 0.
std::optional<int> findLastZLine(const RowSource& rows, int lineCount);

// The height search over the Z lines from startRow on, below lineCount, with target in nanometres. The row is
// the last Z line whose Z is below target; when the first Z line already reaches the target, that line
// itself. No row when no Z line reaches the target. Examined is false when startRow is at or past lineCount,
// so that no row was looked at.
struct HeightSearch
{
    std::optional<int> row;
    double z = 0.0;
    bool examined = false;
};
HeightSearch searchHeight(const RowSource& rows, int startRow, int lineCount, std::int64_t target);

} // namespace RowScans
