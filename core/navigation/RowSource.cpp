#include "core/navigation/RowSource.h"

#include "core/text/LineBreaks.h"

#include <algorithm>

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
    const qsizetype n = m_text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype breakLength = LineBreaks::breakLength(m_text, i);
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
