#include "core/gcode/Insertion.h"

#include "core/text/RowSource.h"

#include <limits>

namespace Insertion {

QString defaultOutputFileName()
{
    return QStringLiteral("Borvane.gx");
}

bool canInsertAt(const RowSource& rows, int row)
{
    return row != kNotFoundRow && rows.hasRow(row);
}

int insertionRow(int currentRow, bool before, int lineCount)
{
    const int row = before || currentRow == std::numeric_limits<int>::max() ? currentRow : currentRow + 1;
    return qMin(row, lineCount);
}

QList<Press> pressAll(int currentRow, bool before, int lineCount, const QList<QStringList>& lines)
{
    QList<Press> presses;
    for (const QStringList& pressed : lines) {
        currentRow = insertionRow(currentRow, before, lineCount);
        presses.append({currentRow, pressed});
        lineCount += int(pressed.size());
    }
    return presses;
}

QStringList mergedBlock(const QList<Press>& presses)
{
    QStringList block;
    if (presses.isEmpty())
        return block;
    // Every press lands inside the block the first one made: the current row stays on its rows.
    const int first = presses.front().row;
    for (const Press& press : presses) {
        const qsizetype at = qBound(qsizetype(0), qsizetype(press.row - first), block.size());
        for (qsizetype i = 0; i < press.lines.size(); ++i)
            block.insert(at + i, press.lines[i]);
    }
    return block;
}

std::optional<Placement> place(const RowSource& rows, int row, const QStringList& lines,
                               LineBreaks::Style lineBreak)
{
    const int count = rows.lineCount();
    if (row < 0 || row > count || lines.isEmpty())
        return std::nullopt;
    const QByteArrayView breakBytes = LineBreaks::bytesOf(lineBreak);
    const auto length = qsizetype(rows.bytes().size());
    Placement placement;
    // At the end of a text whose last row has no line break, the break goes in front.
    const bool breakInFront = row == count && length > 0 && count == rows.physicalRowCount();
    placement.offset = row < count ? rows.rowStart(row) : length;
    if (breakInFront)
        placement.bytes += breakBytes;
    for (const QString& line : lines) {
        placement.lineStarts.append(placement.bytes.size());
        placement.bytes += line.toLatin1();
        placement.bytes += breakBytes;
    }
    if (breakInFront)
        placement.bytes.chop(breakBytes.size());
    return placement;
}

} // namespace Insertion
