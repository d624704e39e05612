// The row scans, which search bytes where they lie, agree with a plain scan that walks every
// row of a text split at LF, CR LF and lone CR, over both row indexes.

#include "core/navigation/RowScans.h"
#include "core/text/RowSource.h"

#include <QByteArray>
#include <QList>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

// The rows of text, split plainly; like the editor, a text ending in a line break has an empty last row.
QList<QByteArray> plainRows(const QByteArray& text)
{
    QList<QByteArray> rows{QByteArray()};
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            rows.append(QByteArray());
        } else {
            rows.back() += c;
        }
    }
    return rows;
}

std::string_view view(const QByteArray& row)
{
    return {row.constData(), std::size_t(row.size())};
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Bytes 0-3 of the input: start row, step and target.
void checkScans(const RowSource& rows, const QByteArray& text, const QByteArray& key, const uint8_t* data)
{
    const QList<QByteArray> plain = plainRows(text);
    const int physical = int(plain.size());
    const int lineCount = plain.back().isEmpty() && physical > 0 && !text.isEmpty() ? physical - 1
                          : text.isEmpty()                                          ? 0
                                                                                    : physical;
    check(rows.physicalRowCount() == physical);
    check(rows.lineCount() == lineCount);
    for (int row = 0; row < physical; ++row)
        check(rows.rowBytes(row) == view(plain[row]));
    // Every offset lies in the row that the next break ends: the break's bytes belong to it.
    int row = 0;
    for (qsizetype offset = 0; offset <= text.size(); ++offset) {
        check(rows.rowAt(offset) == row);
        const bool breakEnds =
            offset < text.size() && (text[offset] == '\n' || text[offset] == '\r') &&
            !(text[offset] == '\r' && offset + 1 < text.size() && text[offset + 1] == '\n');
        row += breakEnds;
    }

    const int from = int(data[1] % (physical + 3)) - 1;
    const int step = data[2] & 1 ? 1 : -1;
    const std::int64_t targetNanometres = std::int64_t(data[3] % 64) * 100'000; // tenths of a mm

    // Keyword scan: a keyword holding a line break stands in no row.
    const QString keyword = QString::fromLatin1(key);
    std::optional<int> expected;
    if (!key.contains('\n') && !key.contains('\r')) {
        for (int row = from; row >= 0 && row <= lineCount && from <= lineCount; row += step) {
            if (row < physical && plain[row].contains(key)) {
                expected = row;
                break;
            }
        }
    }
    check(RowScans::findKeywordRow(rows, keyword, QString(), from, step, lineCount) == expected);

    // The nearest Z line at or before a row, down to row 1.
    std::optional<int> zLine;
    for (int row = qMin(from, physical - 1); row >= 1; --row) {
        if (RowScans::isZLine(view(plain[row]))) {
            zLine = row;
            break;
        }
    }
    check(RowScans::findZLineAtOrBefore(rows, from).row == zLine);

    // The last Z line from row lineCount down.
    std::optional<int> last;
    for (int row = qMin(lineCount, physical - 1); row >= 0; --row) {
        if (RowScans::isZLine(view(plain[row]))) {
            last = row;
            break;
        }
    }
    check(RowScans::findLastZLine(rows, lineCount) == last);

    // The walk to the next or previous row holding "Z".
    std::optional<int> withZ;
    for (int row = from + step; step > 0 ? row < physical : row >= 0; row += step) {
        if (row >= 0 && row < physical && plain[row].contains('Z')) {
            withZ = row;
            break;
        }
    }
    check(RowScans::findRowWithZ(rows, from, step) == withZ);

    // The height search: the last Z line below target, or the first that reaches it, heights
    // compared in whole nanometres.
    std::optional<int> height;
    std::optional<int> below;
    for (int row = qMax(from, 0); row < lineCount; ++row) {
        if (!RowScans::isZLine(view(plain[row])))
            continue;
        // Rounded in doubles, so a Z far beyond any printer (6e40) still reaches the target.
        if (std::round(RowScans::zOf(view(plain[row])) * 1e6) >= double(targetNanometres)) {
            height = below ? below : row;
            break;
        }
        below = row;
    }
    check(RowScans::searchHeight(rows, from, lineCount, targetNanometres).row == height);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    // Bytes 0-3: keyword length, start row, step and target; then the keyword; then the text.
    const std::size_t keyLength = 1 + data[0] % 8;
    if (size < 4 + keyLength)
        return 0;
    const QByteArray key(reinterpret_cast<const char*>(data) + 4, qsizetype(keyLength));
    const QByteArray text(reinterpret_cast<const char*>(data) + 4 + keyLength,
                          qsizetype(size - 4 - keyLength));
    checkScans(TextRows(text), text, key, data);
    checkScans(CountedRows(text), text, key, data);
    return 0;
}
