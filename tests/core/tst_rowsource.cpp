// The two row indexes of a text in memory, the one with a start per row and the one that counts
// breaks from the start of a block, against a plain split of the same bytes: LF, CR LF and lone
// CR breaks, empty rows, a missing last break, and breaks on and across 4 KiB block edges.

#include "core/text/RowSource.h"

#include <QRandomGenerator>
#include <QTest>

#include <vector>

namespace {

struct Row
{
    qsizetype start = 0;
    qsizetype end = 0; // before its break
};

// The rows of text, split byte by byte: a row ends at LF, at CR LF or at a CR alone.
std::vector<Row> plainSplit(const QByteArray& text)
{
    std::vector<Row> rows{{0, 0}};
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r')
            continue;
        rows.back().end = i;
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        rows.push_back({i + 1, i + 1});
    }
    rows.back().end = text.size();
    return rows;
}

// A row of length bytes with its position in it, so that no two rows read alike.
QByteArray filler(qsizetype length, qsizetype at)
{
    QByteArray row = "G1 X" + QByteArray::number(at) + " E1 ";
    row = row.repeated(length / row.size() + 1);
    row.truncate(length);
    return row;
}

// Rows of length 0 to 299 bytes with every kind of break, from a fixed seed.
QByteArray mixedRows(qsizetype size, bool withCr)
{
    const char* const breaks[] = {"\n", "\r\n", "\r"};
    QRandomGenerator random(20261210);
    QByteArray text;
    while (text.size() < size) {
        text += filler(random.bounded(300), text.size());
        text += breaks[withCr ? random.bounded(3) : 0];
    }
    return text;
}

// A row of edge - 1 bytes, then breakBytes from offset edge - 1 on, then tail.
QByteArray breakAt(qsizetype edge, QByteArray breakBytes, QByteArray tail = "G1 Z1\n")
{
    return filler(edge - 1, 0) + breakBytes + tail;
}

} // namespace

class TestRowSource : public QObject
{
    Q_OBJECT

private slots:
    void rowsAsAPlainSplit_data();
    void rowsAsAPlainSplit();
};

void TestRowSource::rowsAsAPlainSplit_data()
{
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one row without a break") << QByteArray("G1 Z0.3");
    QTest::newRow("LF at the end") << QByteArray("G1 Z0.3\n");
    QTest::newRow("LF rows") << QByteArray("G28\nG1 Z0.3\n\nM25");
    QTest::newRow("CR LF rows") << QByteArray("G28\r\nG1 Z0.3\r\n\r\nM25\r\n");
    QTest::newRow("lone CR rows") << QByteArray("G28\rG1 Z0.3\r\rM25\r");
    QTest::newRow("a break alone: LF") << QByteArray("\n");
    QTest::newRow("a break alone: CR") << QByteArray("\r");
    QTest::newRow("a break alone: CR LF") << QByteArray("\r\n");
    QTest::newRow("CR then CR LF") << QByteArray("a\r\r\nb");
    QTest::newRow("LF then CR") << QByteArray("a\n\rb\n\r");
    QTest::newRow("NUL and 0xFF bytes in rows") << QByteArray("G1\0X1\n\xff;\xe9\r\n", 12);
    // The block edge: breaks just before, on and across it.
    QTest::newRow("LF last in a 4 KiB block") << breakAt(4096, "\n");
    QTest::newRow("LF first in a 4 KiB block") << breakAt(4097, "\n");
    QTest::newRow("CR LF across 4 KiB") << breakAt(4096, "\r\n");
    QTest::newRow("lone CR last in a 4 KiB block") << breakAt(4096, "\r");
    QTest::newRow("CR LF ending the text at 4 KiB") << breakAt(4095, "\r\n", "");
    QTest::newRow("lone CR ending the text at 4 KiB") << breakAt(4096, "\r", "");
    QTest::newRow("exactly 8 KiB of LF rows") << QByteArray(8192, '\n');
    QTest::newRow("a row over three blocks") << (filler(10000, 0) + "\nM25\n");
    QTest::newRow("60 KB of LF rows") << mixedRows(60000, false);
    QTest::newRow("60 KB of mixed breaks") << mixedRows(60000, true);
}

void TestRowSource::rowsAsAPlainSplit()
{
    QFETCH(QByteArray, text);
    const std::vector<Row> expected = plainSplit(text);
    const int physicalRows = int(expected.size());
    // The empty row after a final break is not a line; an empty text has none.
    const int lines = expected.back().start == text.size() ? physicalRows - 1 : physicalRows;

    const TextRows perRow(text);
    const CountedRows counted(text);
    for (const RowSource* rows : std::initializer_list<const RowSource*>{&perRow, &counted}) {
        const char* const index = rows == &perRow ? "TextRows" : "CountedRows";
        QVERIFY2(rows->bytes() == std::string_view(text.constData(), std::size_t(text.size())), index);
        QCOMPARE(rows->physicalRowCount(), physicalRows);
        QCOMPARE(rows->lineCount(), lines);
        for (int row = 0; row < physicalRows; ++row) {
            const Row& want = expected[std::size_t(row)];
            if (rows->rowStart(row) != want.start || rows->rowEnd(row) != want.end)
                QFAIL(qPrintable(QStringLiteral("%1: row %2 is [%3, %4), expected [%5, %6)")
                                     .arg(index)
                                     .arg(row)
                                     .arg(rows->rowStart(row))
                                     .arg(rows->rowEnd(row))
                                     .arg(want.start)
                                     .arg(want.end)));
        }
        // Every offset, breaks included, lies in the row that the break ends.
        int row = 0;
        for (qsizetype offset = 0; offset <= text.size(); ++offset) {
            while (row + 1 < physicalRows && expected[std::size_t(row + 1)].start <= offset)
                ++row;
            if (rows->rowAt(offset) != row)
                QFAIL(qPrintable(QStringLiteral("%1: offset %2 is in row %3, expected %4")
                                     .arg(index)
                                     .arg(offset)
                                     .arg(rows->rowAt(offset))
                                     .arg(row)));
        }
    }
}

QTEST_GUILESS_MAIN(TestRowSource)
#include "tst_rowsource.moc"
