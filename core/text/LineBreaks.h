#pragma once

// Where rows break, for every reader of rows: the row index, the scans, the keyword list
// and the body reader. A row ends at LF, CR LF or a lone CR, as in the editor; the break
// belongs to no row.

#include <QByteArrayView>
#include <QChar>
#include <QtGlobal>

#include <cstddef>
#include <string_view>

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
template <typename Text> qsizetype breakLength(const Text& text, qsizetype i)
{
    if (!isBreak(text[i]))
        return 0;
    return text[i] == '\r' && i + 1 < qsizetype(text.size()) && text[i + 1] == '\n' ? 2 : 1;
}

// The index of the first break (CR or LF) at or after from, or text.size(): LF found first, so a
// body of LF rows is searched once for each kind of byte.
inline std::size_t nextBreak(std::string_view text, std::size_t from)
{
    const std::size_t lf = text.find('\n', from);
    const std::size_t limit = lf == std::string_view::npos ? text.size() : lf;
    const std::size_t cr = text.substr(0, limit).find('\r', from);
    return cr == std::string_view::npos ? limit : cr;
}

// The line end a body uses, found at its first break; new rows get the same.
enum class Style { LF, CRLF, CR };

constexpr QByteArrayView bytesOf(Style style)
{
    return style == Style::CRLF ? QByteArrayView("\r\n", 2)
           : style == Style::CR ? QByteArrayView("\r", 1)
                                : QByteArrayView("\n", 1);
}

// Finds the style of a text's first break from the text handed over in pieces, in order: a CR
// at the end of a piece is told apart from CR LF by the next piece's first byte. A text
// without a break is LF.
class StyleFinder
{
public:
    void add(QByteArrayView piece)
    {
        if (m_found || piece.isEmpty())
            return;
        if (m_afterCr) {
            settle(piece.front() == '\n' ? Style::CRLF : Style::CR);
            return;
        }
        const qsizetype lf = piece.indexOf('\n');
        const qsizetype cr = piece.first(lf < 0 ? piece.size() : lf).indexOf('\r');
        if (cr < 0) {
            if (lf >= 0)
                settle(Style::LF);
        } else if (cr + 1 == piece.size()) {
            m_afterCr = true;
        } else {
            settle(cr + 1 == lf ? Style::CRLF : Style::CR);
        }
    }
    // The style of the text handed over so far, taken as whole.
    Style style() const { return m_found ? m_style : m_afterCr ? Style::CR : Style::LF; }

private:
    void settle(Style style)
    {
        m_style = style;
        m_found = true;
    }
    Style m_style = Style::LF;
    bool m_found = false;
    bool m_afterCr = false;
};

inline Style styleOf(QByteArrayView text)
{
    StyleFinder finder;
    finder.add(text);
    return finder.style();
}

// The length of the rows of piece whose breaks are surely whole: a CR as the last byte may be the
// first half of a CR LF.
inline std::size_t completeRowsLength(std::string_view piece)
{
    for (std::size_t i = piece.size(); i-- > 0;) {
        if (piece[i] == '\n' || (piece[i] == '\r' && i + 1 < piece.size()))
            return i + 1 + (piece[i] == '\r' && piece[i + 1] == '\n' ? 1 : 0);
    }
    return 0;
}

} // namespace LineBreaks
