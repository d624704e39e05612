// Where the lines of an insertion button go: the rule the window and the batch mode share.

#include "core/gcode/Insertion.h"
#include "core/text/RowSource.h"

#include <QTest>

#include <climits>

class TestInsertion : public QObject
{
    Q_OBJECT

private slots:
    void insertionRow_data();
    void insertionRow();
    void canInsertAt_data();
    void canInsertAt();
    void place_data();
    void place();
    void placeOnlyWhereTheTextHasTheRow();
    void severalPresses_data();
    void severalPresses();
};

void TestInsertion::insertionRow_data()
{
    QTest::addColumn<int>("currentRow");
    QTest::addColumn<bool>("before");
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<int>("expected");

    QTest::newRow("before") << 5 << true << 10 << 5;
    QTest::newRow("after") << 5 << false << 10 << 6;
    QTest::newRow("after the last row: the end of the text") << 9 << false << 10 << 10;
    QTest::newRow("after the empty row behind a last line break: still the end") << 10 << false << 10 << 10;
    // A typed row number is clamped to the int range; the row after it does not wrap round.
    QTest::newRow("after the largest int") << INT_MAX << false << INT_MAX << INT_MAX;
    QTest::newRow("before the largest int") << INT_MAX << true << INT_MAX << INT_MAX;
}

void TestInsertion::insertionRow()
{
    QFETCH(int, currentRow);
    QFETCH(bool, before);
    QFETCH(int, lineCount);
    QFETCH(int, expected);
    QCOMPARE(Insertion::insertionRow(currentRow, before, lineCount), expected);
}

void TestInsertion::canInsertAt_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("expected");

    QTest::newRow("first row") << QByteArray("G28\nG1 Z1\nM84\n") << 0 << true;
    QTest::newRow("row 1 is where searches land when they find nothing")
        << QByteArray("G28\nG1 Z1\nM84\n") << 1 << false;
    QTest::newRow("the empty row after the last line break") << QByteArray("G28\nG1 Z1\nM84\n") << 3 << true;
    QTest::newRow("past the end") << QByteArray("G28\nG1 Z1\nM84\n") << 4 << false;
    QTest::newRow("no line break at the end: no row after the last")
        << QByteArray("G28\nG1 Z1\nM84") << 3 << false;
    QTest::newRow("negative") << QByteArray("G28\n") << -1 << false;
}

void TestInsertion::canInsertAt()
{
    QFETCH(QByteArray, text);
    QFETCH(int, row);
    QFETCH(bool, expected);
    QCOMPARE(Insertion::canInsertAt(TextRows(text), row), expected);
}

void TestInsertion::place_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<LineBreaks::Style>("lineBreak");
    QTest::addColumn<QByteArray>("expected");

    using LineBreaks::Style;
    const QStringList pause{"M25"};
    const QStringList two{"M140 S60 T0", "M104 S215 T0"};
    QTest::newRow("LF, in the middle")
        << QByteArray("G28\nG1 Z1\nM84\n") << 1 << pause << Style::LF << QByteArray("G28\nM25\nG1 Z1\nM84\n");
    QTest::newRow("LF, two lines in front of the first row")
        << QByteArray("G28\nM84\n") << 0 << two << Style::LF
        << QByteArray("M140 S60 T0\nM104 S215 T0\nG28\nM84\n");
    QTest::newRow("LF, at the end after a last line break")
        << QByteArray("G28\nM84\n") << 2 << two << Style::LF
        << QByteArray("G28\nM84\nM140 S60 T0\nM104 S215 T0\n");
    QTest::newRow("LF, at the end of a last row without a line break")
        << QByteArray("G28\nM84") << 2 << two << Style::LF
        << QByteArray("G28\nM84\nM140 S60 T0\nM104 S215 T0");
    QTest::newRow("empty text") << QByteArray() << 0 << pause << Style::LF << QByteArray("M25\n");
    QTest::newRow("CR LF body") << QByteArray("G28\r\nG1 Z1\r\n") << 1 << two << Style::CRLF
                                << QByteArray("G28\r\nM140 S60 T0\r\nM104 S215 T0\r\nG1 Z1\r\n");
    QTest::newRow("CR LF, at the end of a last row without a line break")
        << QByteArray("G28\r\nM84") << 2 << pause << Style::CRLF << QByteArray("G28\r\nM84\r\nM25");
    QTest::newRow("CR alone") << QByteArray("G28\rG1 Z1\rM84\r") << 2 << two << Style::CR
                              << QByteArray("G28\rG1 Z1\rM140 S60 T0\rM104 S215 T0\rM84\r");
    QTest::newRow("CR alone, at the end")
        << QByteArray("G28\rM84\r") << 2 << pause << Style::CR << QByteArray("G28\rM84\rM25\r");
    QTest::newRow("a blank row is a row")
        << QByteArray("G28\n\nM84\n") << 2 << pause << Style::LF << QByteArray("G28\n\nM25\nM84\n");
}

void TestInsertion::place()
{
    QFETCH(QByteArray, text);
    QFETCH(int, row);
    QFETCH(QStringList, lines);
    QFETCH(LineBreaks::Style, lineBreak);
    QFETCH(QByteArray, expected);

    const TextRows rows(text);
    const std::optional<Insertion::Placement> placement = Insertion::place(rows, row, lines, lineBreak);
    QVERIFY(placement);
    QByteArray edited = text;
    edited.insert(placement->offset, placement->bytes);
    QCOMPARE(edited, expected);
    // Each line starts where the bytes say, for the marks beside inserted lines.
    QCOMPARE(placement->lineStarts.size(), lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i)
        QCOMPARE(placement->bytes.mid(placement->lineStarts[i], lines[i].size()), lines[i].toLatin1());
}

void TestInsertion::placeOnlyWhereTheTextHasTheRow()
{
    const TextRows rows(QByteArray("G28\nM84\n"));
    QVERIFY(!Insertion::place(rows, 3, {"M25"}, LineBreaks::Style::LF));
    QVERIFY(!Insertion::place(rows, -1, {"M25"}, LineBreaks::Style::LF));
    QVERIFY(!Insertion::place(rows, 0, {}, LineBreaks::Style::LF));
}

void TestInsertion::severalPresses_data()
{
    QTest::addColumn<int>("currentRow");
    QTest::addColumn<bool>("before");
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QStringList>("block");

    // Pressing "Temperarure Insert" (two lines) and then "Pause Insert (M25)": each press goes to
    // the row the press before left current, the first of its lines.
    QTest::newRow("before: the pause goes on top of the temperatures")
        << 5 << true << QList<int>{5, 5} << QStringList{"M25", "M140 S60 T0", "M104 S215 T0"};
    QTest::newRow("after: the pause goes behind the first temperature line")
        << 5 << false << QList<int>{6, 7} << QStringList{"M140 S60 T0", "M25", "M104 S215 T0"};
    QTest::newRow("after, at the end of the text")
        << 10 << false << QList<int>{10, 11} << QStringList{"M140 S60 T0", "M25", "M104 S215 T0"};
}

void TestInsertion::severalPresses()
{
    QFETCH(int, currentRow);
    QFETCH(bool, before);
    QFETCH(QList<int>, rows);
    QFETCH(QStringList, block);

    const QList<QStringList> pressed{{"M140 S60 T0", "M104 S215 T0"}, {"M25"}};
    const QList<Insertion::Press> presses = Insertion::pressAll(currentRow, before, 10, pressed);
    QCOMPARE(presses.size(), 2);
    QCOMPARE((QList<int>{presses[0].row, presses[1].row}), rows);
    QCOMPARE(presses[0].lines, pressed[0]);
    QCOMPARE(presses[1].lines, pressed[1]);
    QCOMPARE(Insertion::mergedBlock(presses), block);
}

QTEST_GUILESS_MAIN(TestInsertion)
#include "tst_insertion.moc"
