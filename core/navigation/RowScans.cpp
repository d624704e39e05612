#include "core/navigation/RowScans.h"

#include "core/text/LineBreaks.h"
#include "core/text/Utility.h"

#include <QByteArray>

#include <cstring>

namespace RowScans {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// The bytes of a text as they would stand in a row; none when it holds a character
// above U+00FF or a line break, which no row can hold.
std::optional<QByteArray> rowPattern(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() > 0xFF || LineBreaks::isBreak(c))
            return std::nullopt;
        bytes += char(c.unicode());
    }
    return bytes;
}

// The last offset in [from, to) that holds c. Searches blocks from the end with memchr,
// since the standard library offers no fast reverse byte search.
std::size_t lastByte(std::string_view text, std::size_t from, std::size_t to, char c)
{
    constexpr std::size_t kBlock = 64 * 1024;
    while (to > from) {
        const std::size_t blockStart = to - from > kBlock ? to - kBlock : from;
        const char* p = text.data() + blockStart;
        const char* const end = text.data() + to;
        std::size_t last = kNone;
        while (p < end) {
            const auto* hit = static_cast<const char*>(std::memchr(p, c, std::size_t(end - p)));
            if (!hit)
                break;
            last = std::size_t(hit - text.data());
            p = hit + 1;
        }
        if (last != kNone)
            return last;
        to = blockStart;
    }
    return kNone;
}

// A non-empty byte pattern searched forward or backward in a text, without looking at rows.
// A pattern of one byte is found with memchr. A longer one is found by testing its first,
// middle and last bytes over blocks of the text in a loop without early exit, which the
// compiler turns into vector instructions; only a block with a candidate is looked at
// closely. Three bytes apart keep the candidates rare even where every byte of the pattern
// stands on every row, as in "G1 X999." among G1 moves.
class Pattern
{
public:
    explicit Pattern(QByteArray bytes)
        : m_bytes(std::move(bytes)), m_length(std::size_t(m_bytes.size())), m_middle(m_length / 2),
          m_firstByte(static_cast<unsigned char>(m_bytes.front())),
          m_middleByte(static_cast<unsigned char>(m_bytes[qsizetype(m_middle)])),
          m_lastByte(static_cast<unsigned char>(m_bytes.back()))
    {
    }

    // The first offset in [from, to) where the whole pattern lies before to.
    std::size_t first(std::string_view text, std::size_t from, std::size_t to) const
    {
        if (to < from || to - from < m_length)
            return kNone;
        const auto* base = reinterpret_cast<const unsigned char*>(text.data());
        if (m_length == 1) {
            const void* hit = std::memchr(base + from, m_firstByte, to - from);
            return hit ? std::size_t(static_cast<const unsigned char*>(hit) - base) : kNone;
        }
        const std::size_t starts = to - m_length + 1; // start offsets lie in [from, starts)
        std::size_t i = from;
        for (; starts - i >= kBlock; i += kBlock) {
            if (!blockHasCandidate(base + i))
                continue;
            for (std::size_t k = 0; k < kBlock; ++k) {
                if (matchesAt(base + i + k))
                    return i + k;
            }
        }
        for (; i < starts; ++i) {
            if (matchesAt(base + i))
                return i;
        }
        return kNone;
    }

    // The last offset in [from, to) where the whole pattern lies before to.
    std::size_t last(std::string_view text, std::size_t from, std::size_t to) const
    {
        if (to < from || to - from < m_length)
            return kNone;
        if (m_length == 1)
            return lastByte(text, from, to, char(m_firstByte));
        const auto* base = reinterpret_cast<const unsigned char*>(text.data());
        std::size_t starts = to - m_length + 1;
        for (; starts - from >= kBlock; starts -= kBlock) {
            const std::size_t i = starts - kBlock;
            if (!blockHasCandidate(base + i))
                continue;
            for (std::size_t k = kBlock; k-- > 0;) {
                if (matchesAt(base + i + k))
                    return i + k;
            }
        }
        while (starts > from) {
            if (matchesAt(base + --starts))
                return starts;
        }
        return kNone;
    }

private:
    static constexpr std::size_t kBlock = 64;

    // Whether a start in [p, p + kBlock) has the first, middle and last byte in place.
    bool blockHasCandidate(const unsigned char* p) const
    {
        unsigned char any = 0;
        for (std::size_t k = 0; k < kBlock; ++k)
            any |= (p[k] == m_firstByte) & (p[k + m_middle] == m_middleByte) &
                   (p[k + m_length - 1] == m_lastByte);
        return any != 0;
    }

    bool matchesAt(const unsigned char* p) const
    {
        return p[0] == m_firstByte && p[m_length - 1] == m_lastByte &&
               std::memcmp(p, m_bytes.constData(), m_length) == 0;
    }

    QByteArray m_bytes;
    std::size_t m_length;
    std::size_t m_middle;
    unsigned char m_firstByte;
    unsigned char m_middleByte;
    unsigned char m_lastByte;
};

bool contains(std::string_view row, const QByteArray& bytes)
{
    return row.find(std::string_view(bytes.constData(), std::size_t(bytes.size()))) != kNone;
}

// Offset of the first character of row, for a row at or past the end: the end of the text.
std::size_t startOf(const RowSource& rows, int row)
{
    if (row <= 0)
        return 0;
    return rows.hasRow(row) ? std::size_t(rows.rowStart(row)) : rows.bytes().size();
}

// Offset just past the characters of row, for a row at or past the end: the end of the text.
std::size_t endOf(const RowSource& rows, int row)
{
    if (row < 0)
        return 0;
    return rows.hasRow(row) ? std::size_t(rows.rowEnd(row)) : rows.bytes().size();
}

} // namespace

bool isZLine(std::string_view row)
{
    return row.find("G1 ") != kNone && row.find('Z') != kNone;
}

double zOf(std::string_view row)
{
    return Utility::NumberAfterKey(QString::fromLatin1(row.data(), qsizetype(row.size())),
                                   QStringLiteral("Z"));
}

std::optional<int> findKeywordRow(const RowSource& rows, const QString& keyword, const QString& exclusion,
                                  int from, int step, int lineCount)
{
    Q_ASSERT(!keyword.isEmpty());
    Q_ASSERT(step == 1 || step == -1);
    if (keyword.isEmpty() || from < 0 || from > lineCount)
        return std::nullopt;
    std::optional<QByteArray> key = rowPattern(keyword);
    if (!key)
        return std::nullopt;
    // An exclusion that no row can hold excludes nothing.
    const std::optional<QByteArray> excluded = exclusion.isEmpty() ? std::nullopt : rowPattern(exclusion);
    const auto isExcluded = [&](int row) { return excluded && contains(rows.rowBytes(row), *excluded); };

    // The keyword holds no line break, so a hit lies inside one row; rows past the text read as
    // empty and never match, so the ends of the text are the ends of the scan.
    const Pattern pattern(std::move(*key));
    const std::string_view text = rows.bytes();
    if (step > 0) {
        for (std::size_t from_i = startOf(rows, from);;) {
            const std::size_t hit = pattern.first(text, from_i, text.size());
            if (hit == kNone)
                return std::nullopt;
            const int row = rows.rowAt(qsizetype(hit));
            if (!isExcluded(row))
                return row;
            from_i = std::size_t(rows.rowEnd(row));
        }
    }
    for (std::size_t to = endOf(rows, from);;) {
        const std::size_t hit = pattern.last(text, 0, to);
        if (hit == kNone)
            return std::nullopt;
        const int row = rows.rowAt(qsizetype(hit));
        if (!isExcluded(row))
            return row;
        to = std::size_t(rows.rowStart(row));
    }
}

ZLookup findZLineAtOrBefore(const RowSource& rows, int row)
{
    ZLookup result;
    if (row <= 0)
        return result;
    result.examined = true;
    if (!rows.hasRow(1))
        return result;
    const std::string_view text = rows.bytes();
    const std::size_t limit = std::size_t(rows.rowStart(1));
    for (std::size_t to = endOf(rows, row);;) {
        const std::size_t hit = lastByte(text, limit, to, 'Z');
        if (hit == kNone)
            return result;
        const int zRow = rows.rowAt(qsizetype(hit));
        const std::string_view bytes = rows.rowBytes(zRow);
        if (isZLine(bytes)) {
            result.row = zRow;
            result.z = zOf(bytes);
            return result;
        }
        to = std::size_t(rows.rowStart(zRow));
    }
}

std::optional<int> findRowWithZ(const RowSource& rows, int from, int step)
{
    Q_ASSERT(step == 1 || step == -1);
    const std::string_view text = rows.bytes();
    std::size_t hit = kNone;
    if (step > 0) {
        const std::size_t from_i = startOf(rows, from + 1);
        const char* const found =
            from_i < text.size()
                ? static_cast<const char*>(std::memchr(text.data() + from_i, 'Z', text.size() - from_i))
                : nullptr;
        hit = found ? std::size_t(found - text.data()) : kNone;
    } else if (from > 0) {
        hit = lastByte(text, 0, startOf(rows, from), 'Z');
    }
    if (hit == kNone)
        return std::nullopt;
    return rows.rowAt(qsizetype(hit));
}

std::optional<int> findLastZLine(const RowSource& rows, int lineCount)
{
    const std::string_view text = rows.bytes();
    for (std::size_t to = endOf(rows, lineCount);;) {
        const std::size_t hit = lastByte(text, 0, to, 'Z');
        if (hit == kNone)
            return std::nullopt;
        const int row = rows.rowAt(qsizetype(hit));
        if (isZLine(rows.rowBytes(row)))
            return row;
        to = std::size_t(rows.rowStart(row));
    }
}

HeightSearch searchHeight(const RowSource& rows, int startRow, int lineCount, std::int64_t target)
{
    HeightSearch result;
    if (startRow >= lineCount)
        return result;
    result.examined = true;

    // "Z" is much rarer than "G1 " in G-code: find each "Z", then test its row.
    const std::string_view text = rows.bytes();
    const std::size_t to = endOf(rows, lineCount - 1);
    std::optional<int> belowRow; // the last Z line met so far, all of them below the target
    double belowZ = 0.0;
    for (std::size_t from_i = startOf(rows, startRow); from_i < to;) {
        const auto* found = static_cast<const char*>(std::memchr(text.data() + from_i, 'Z', to - from_i));
        if (!found)
            return result;
        const int row = rows.rowAt(qsizetype(found - text.data()));
        const std::string_view bytes = rows.rowBytes(row);
        from_i = std::size_t(rows.rowEnd(row));
        if (!isZLine(bytes))
            continue;
        const double z = zOf(bytes);
        if (Utility::ToNanometres(z) >= target) {
            // With no Z line below the target, the reaching line is the row.
            result.row = belowRow ? *belowRow : row;
            result.z = belowRow ? belowZ : z;
            return result;
        }
        belowRow = row;
        belowZ = z;
    }
    return result;
}

} // namespace RowScans
