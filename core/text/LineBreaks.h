#pragma once

// Where rows break, for every reader of rows: the row index, the scans, the keyword list
// and the body reader. A row ends at LF, CR LF or a lone CR, as in the editor; the break
// belongs to no row.

#include <QChar>
#include <QtGlobal>

namespace LineBreaks {

constexpr bool isBreak(char c)
{
    return c == '\n' || c == '\r';
}
constexpr bool isBreak(QChar c)
{
    return c == u'\n' || c == u'\r';
}

// The length of the break that starts at i (2 for CR LF, 1 for LF or a lone CR), 0 where none
// starts. Text is anything indexed by qsizetype with size(): QByteArray, QString, a view.
template <typename Text>
qsizetype breakLength(const Text& text, qsizetype i)
{
    if (!isBreak(text[i]))
        return 0;
    return text[i] == '\r' && i + 1 < qsizetype(text.size()) && text[i + 1] == '\n' ? 2 : 1;
}

} // namespace LineBreaks
