#pragma once

// Where the lines of an insertion button go, for the window and the batch mode alike: the row,
// before or after the current one, the end of the text, several presses one after another, and
// the bytes that put them there with the body's own line end.

#include "core/text/LineBreaks.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class RowSource;

namespace Insertion {

// The row a search that finds nothing selects; nothing is inserted there.
constexpr int kNotFoundRow = 1;

// Whether a press may insert at row: a row the text has (the empty row after a last line break
// included), other than the not-found row.
bool canInsertAt(const RowSource& rows, int row);

// The output's name until the user types another.
QString defaultOutputFileName();

// The row that the lines of a press go to: the current row, or the one after it; after the
// empty row that follows a last line break is the end of the text (lineCount). No row follows
// the largest int; the answer stays there (a row no text has).
int insertionRow(int currentRow, bool before, int lineCount);

// One press of an insertion button: the row its first line went to, its lines top to bottom.
struct Press
{
    int row = 0;
    QStringList lines;
};
// The presses of one edit made one after another from currentRow, each from the row the one
// before left current (its first line).
QList<Press> pressAll(int currentRow, bool before, int lineCount, const QList<QStringList>& lines);
// What the presses leave in the text: one block of lines that starts at the first press's row.
QStringList mergedBlock(const QList<Press>& presses);

// The bytes that make lines rows row, row+1, ... of the text, and where they go; none when the
// text has no such row (0 <= row <= lineCount()).
struct Placement
{
    qsizetype offset = 0;
    QByteArray bytes;
    // Where each line starts within bytes, top to bottom.
    QList<qsizetype> lineStarts;
};
std::optional<Placement> place(const RowSource& rows, int row, const QStringList& lines,
                               LineBreaks::Style lineBreak);

} // namespace Insertion
