#include "core/navigation/RowSource.h"

#include "core/text/LineBreaks.h"

#include <algorithm>
#include <cstring>

std::string_view RowSource::rowBytes(int row) const
{
    if (!hasRow(row))
        return {};
    const qsizetype start = rowStart(row);
    return bytes().substr(std::size_t(start), std::size_t(rowEnd(row) - start));
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
