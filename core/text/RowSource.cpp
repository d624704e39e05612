#include "core/text/RowSource.h"

#include "core/text/LineBreaks.h"

#include <algorithm>
#include <cstring>

std::string_view RowSource::rowBytes(int row) const
{
    if (!hasRow(row))
        return {};
    const qsizetype start = rowStart(row);
    return rangeBytes(start, rowEnd(row) - start);
}

QString RowSource::rowText(int row) const
{
    const std::string_view bytes = rowBytes(row);
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

TextRows::TextRows(QByteArray text) : m_text(std::move(text))
{
    m_starts.push_back(0);
    const QByteArrayView bytes(m_text);
    m_starts.reserve(std::size_t(bytes.size() / 24) + 1); // G-code rows are rarely shorter
    // Without a CR every break is an LF, and a byte search finds them all.
    if (!bytes.contains('\r')) {
        const char* const begin = bytes.data();
        const char* const end = begin + bytes.size();
        // An empty text may have no storage at all, and memchr takes no null pointer.
        for (const char* p = begin;
             p < end && (p = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p))));)
            m_starts.push_back(++p - begin);
        return;
    }
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const qsizetype breakLength = LineBreaks::breakLength(bytes, i);
        if (breakLength == 0)
            continue;
        i += breakLength - 1;
        m_starts.push_back(i + 1);
    }
}

int TextRows::lineCount() const
{
    const int rows = physicalRowCount();
    return rowStart(rows - 1) == m_text.size() ? rows - 1 : rows;
}

qsizetype TextRows::rowEnd(int row) const
{
    qsizetype end = (row + 1 < physicalRowCount()) ? m_starts[std::size_t(row + 1)] : m_text.size();
    // Step back over the break that ends the row: LF, CR LF or a lone CR.
    if (end > m_starts[std::size_t(row)] && m_text[end - 1] == '\n')
        --end;
    if (end > m_starts[std::size_t(row)] && m_text[end - 1] == '\r')
        --end;
    return end;
}

int TextRows::rowAt(qsizetype offset) const
{
    const auto it = std::upper_bound(m_starts.begin(), m_starts.end(), offset);
    return int(it - m_starts.begin()) - 1;
}

namespace {

// The text is counted in blocks, and a block in runs short enough for a count in a byte. Loops of
// a fixed length are what the compiler turns into vector code: 85 MB are counted in 10 ms.
constexpr qsizetype kBlockBytes = 4096;
constexpr int kRunBytes = 128;
static_assert(kBlockBytes % kRunBytes == 0 && kRunBytes < 256);

// How many bytes of the block at p are Byte.
template <char Byte> int countInBlock(const char* p)
{
    int count = 0;
    for (qsizetype run = 0; run < kBlockBytes; run += kRunBytes) {
        unsigned char inRun = 0;
        for (int i = 0; i < kRunBytes; ++i)
            inRun += p[run + i] == Byte;
        count += inRun;
    }
    return count;
}

// How many CR LF pairs start in the block at p; the block's last byte pairs with p[kBlockBytes].
int crLfInBlock(const char* p)
{
    int count = 0;
    for (qsizetype run = 0; run < kBlockBytes; run += kRunBytes) {
        unsigned char inRun = 0;
        for (int i = 0; i < kRunBytes; ++i)
            inRun += (p[run + i] == '\r') & (p[run + i + 1] == '\n');
        count += inRun;
    }
    return count;
}

// Whether a break ends at p: an LF, or a CR that no LF follows.
bool endsBreak(const char* p, const char* end)
{
    return *p == '\n' || (*p == '\r' && (p + 1 == end || p[1] != '\n'));
}

} // namespace

CountedRows::CountedRows(QByteArray text) : m_text(std::move(text))
{
    const qsizetype size = m_text.size();
    m_hasCr = size > 0 && std::memchr(m_text.constData(), '\r', std::size_t(size));
    m_breaksBefore.reserve(std::size_t(size / kBlockBytes + 1));
    m_breaksBefore.push_back(0);
    for (qsizetype from = 0; from + kBlockBytes <= size; from += kBlockBytes) {
        m_breaks += breaksIn(from, from + kBlockBytes);
        m_breaksBefore.push_back(m_breaks);
    }
    m_breaks += breaksIn(size - size % kBlockBytes, size);
}

int CountedRows::breaksIn(qsizetype from, qsizetype to) const
{
    const char* const p = m_text.constData();
    const qsizetype size = m_text.size();
    // A CR counts unless an LF follows it: the LF counts that CR LF.
    if (to - from == kBlockBytes && to < size) {
        const int lf = countInBlock<'\n'>(p + from);
        return m_hasCr ? lf + countInBlock<'\r'>(p + from) - crLfInBlock(p + from) : lf;
    }
    int breaks = 0;
    for (qsizetype i = from; i < to; ++i)
        breaks += endsBreak(p + i, p + size);
    return breaks;
}

int CountedRows::lineCount() const
{
    const qsizetype size = m_text.size();
    const bool endsWithBreak = size > 0 && LineBreaks::isBreak(m_text.at(size - 1));
    return endsWithBreak || size == 0 ? m_breaks : m_breaks + 1;
}

qsizetype CountedRows::rowStart(int row) const
{
    if (row <= 0)
        return 0;
    // The last block that starts before the break that ends row - 1.
    const auto after = std::upper_bound(m_breaksBefore.begin(), m_breaksBefore.end(), row - 1);
    const auto block = std::size_t(after - m_breaksBefore.begin()) - 1;
    int left = row - m_breaksBefore[block];
    const char* const begin = m_text.constData();
    const char* const end = begin + m_text.size();
    for (const char* p = begin + qsizetype(block) * kBlockBytes; p < end; ++p) {
        if (!m_hasCr) {
            p = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
            if (!p)
                break;
        }
        if (endsBreak(p, end) && --left == 0)
            return p + 1 - begin;
    }
    return m_text.size(); // no such row: past the end, as the last row's end
}

qsizetype CountedRows::rowEnd(int row) const
{
    const qsizetype start = rowStart(row);
    const char* const begin = m_text.constData();
    const char* const end = begin + m_text.size();
    for (const char* p = begin + start; p < end; ++p) {
        if (LineBreaks::isBreak(*p))
            return p - begin;
    }
    return m_text.size();
}

int CountedRows::rowAt(qsizetype offset) const
{
    const qsizetype block = offset / kBlockBytes;
    return m_breaksBefore[std::size_t(block)] + breaksIn(block * kBlockBytes, offset);
}
