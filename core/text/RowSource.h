#pragma once

// Read access to the rows of a Latin-1 text, for scans that search the bytes where
// they lie and look at rows only around a hit. Rows break at LF, CR LF or a lone CR,
// as in the editor; the break belongs to no row.

#include <QByteArray>
#include <QString>

#include <string_view>
#include <vector>

class RowSource
{
public:
    virtual ~RowSource() = default;

    // Rows counted the way the user sees lines: an empty last row after the final
    // line break is not counted, so an empty text has 0.
    virtual int lineCount() const = 0;
    // Rows including that empty last row (at least 1).
    virtual int physicalRowCount() const = 0;
    // The whole text; valid until the text changes.
    virtual std::string_view bytes() const = 0;
    // Offset of the first character of row (0 <= row < physicalRowCount()).
    virtual qsizetype rowStart(int row) const = 0;
    // Offset just past the last character of row, before its line break.
    virtual qsizetype rowEnd(int row) const = 0;
    // The row that holds offset (0 <= offset <= text size).
    virtual int rowAt(qsizetype offset) const = 0;

    bool hasRow(int row) const { return row >= 0 && row < physicalRowCount(); }
    // The bytes of a row without its line break; empty for a row the text does not have.
    std::string_view rowBytes(int row) const;
    // The row as text (byte n is character n); empty for a row the text does not have.
    QString rowText(int row) const;

protected:
    // The bytes from start for length; an editor overrides it to reach them without first
    // moving everything after its gap, which bytes() may cost.
    virtual std::string_view rangeBytes(qsizetype start, qsizetype length) const
    {
        return bytes().substr(std::size_t(start), std::size_t(length));
    }
};

// Rows of a text held in memory, indexed once.
class TextRows : public RowSource
{
public:
    explicit TextRows(QByteArray text);

    int lineCount() const override;
    int physicalRowCount() const override { return int(m_starts.size()); }
    std::string_view bytes() const override { return {m_text.constData(), std::size_t(m_text.size())}; }
    qsizetype rowStart(int row) const override { return m_starts[std::size_t(row)]; }
    qsizetype rowEnd(int row) const override;
    int rowAt(qsizetype offset) const override;

private:
    QByteArray m_text;
    std::vector<qsizetype> m_starts;
};

// Rows of a text held in memory, for a pass that looks at a few rows only: it keeps one count of
// breaks per block of bytes and finds a row by counting breaks from the start of its block. The
// index is one counting pass and 4 bytes per 4 KiB of text, where TextRows takes 8 bytes a row.
class CountedRows : public RowSource
{
public:
    explicit CountedRows(QByteArray text);

    int lineCount() const override;
    int physicalRowCount() const override { return m_breaks + 1; }
    std::string_view bytes() const override { return {m_text.constData(), std::size_t(m_text.size())}; }
    qsizetype rowStart(int row) const override;
    qsizetype rowEnd(int row) const override;
    int rowAt(qsizetype offset) const override;

private:
    // The breaks that end in [from, to): each LF, and each CR that no LF follows.
    int breaksIn(qsizetype from, qsizetype to) const;

    QByteArray m_text;
    bool m_hasCr = false;
    std::vector<int> m_breaksBefore; // [b]: the breaks that end before block b starts
    int m_breaks = 0;
};
