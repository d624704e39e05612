// The one reading of a G-code row into a command and words, which the layer index and the print
// events share: the same row gives both the same words.

#include "core/gcode/GCodeWords.h"
#include "core/layers/LayerIndex.h"
#include "core/gcode/PrintEvents.h"

#include <QByteArray>
#include <QStringList>
#include <QTest>

#include <cmath>

namespace {

std::string_view view(const QByteArray& bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

// The command as "G1", or "" when the row has none; then each word "Z0.3" as it stands.
QStringList readRow(const QByteArray& row)
{
    GCodeWords::Reader reader(view(row));
    const GCodeWords::Command command = GCodeWords::readCommand(reader);
    QStringList read{command.letter ? QString(QChar(command.letter)) + QString::number(command.number)
                                    : QString()};
    while (reader.next()) {
        const std::string_view number = reader.text();
        read << QChar(reader.letter()) + QString::fromLatin1(number.data(), qsizetype(number.size()));
    }
    return read;
}

} // namespace

class TestGCodeWords : public QObject
{
    Q_OBJECT

private slots:
    void row_data();
    void row();
    void numbers_data();
    void numbers();
    void parenthesisedCommentInEveryReader();
};

void TestGCodeWords::row_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QStringList>("read"); // the command, then the words after it

    QTest::newRow("plain move") << QByteArray("G1 X10 Y20.5 E0.3")
                                << QStringList{"G1", "X10", "Y20.5", "E0.3"};
    QTest::newRow("G00 is G0") << QByteArray("G00 Z1") << QStringList{"G0", "Z1"};
    QTest::newRow("lower case") << QByteArray("g1 z0.2 e-1") << QStringList{"G1", "Z0.2", "E-1"};
    QTest::newRow("glued words") << QByteArray("G1Z0.3E1.5") << QStringList{"G1", "Z0.3", "E1.5"};
    QTest::newRow("tabs and blanks") << QByteArray("\t G1 \tX1\t\tZ2  ") << QStringList{"G1", "X1", "Z2"};
    QTest::newRow("semicolon comment") << QByteArray("G1 X1 ; Z5 E3") << QStringList{"G1", "X1"};
    QTest::newRow("comment glued to the command") << QByteArray("M82;absolute") << QStringList{"M82"};
    QTest::newRow("parenthesised comment between words")
        << QByteArray("G1 (lift) Z0.4") << QStringList{"G1", "Z0.4"};
    QTest::newRow("parenthesised comment holding words")
        << QByteArray("G1 X1 (Z9 E9) E2") << QStringList{"G1", "X1", "E2"};
    QTest::newRow("parenthesised comment glued to words")
        << QByteArray("G1(a)Z1(b)E2") << QStringList{"G1", "Z1", "E2"};
    QTest::newRow("parenthesised comment before the command")
        << QByteArray("(heat) M104 S200") << QStringList{"M104", "S200"};
    QTest::newRow("unclosed parenthesis runs to the row's end")
        << QByteArray("G1 X1 (Z9 E9") << QStringList{"G1", "X1"};
    QTest::newRow("semicolon inside parentheses is part of them")
        << QByteArray("G1 (a;b) Z1") << QStringList{"G1", "Z1"};
    QTest::newRow("line number and checksum")
        << QByteArray("N12 G1 X2 E2*71") << QStringList{"G1", "X2", "E2"};
    QTest::newRow("line number glued") << QByteArray("N3M25") << QStringList{"M25"};
    QTest::newRow("tool change") << QByteArray("T1 ; load") << QStringList{"T1"};
    QTest::newRow("M104 is not M1") << QByteArray("M104 S215 T1") << QStringList{"M104", "S215", "T1"};
    QTest::newRow("plus sign") << QByteArray("G1 Z+10") << QStringList{"G1", "Z+10"};
    QTest::newRow("point first and last") << QByteArray("G1 Z.5 E5.") << QStringList{"G1", "Z.5", "E5."};
    QTest::newRow("no exponent: 1e5 is 1 and E5") << QByteArray("G1 X1e5") << QStringList{"G1", "X1", "E5"};
    QTest::newRow("letter without a number is no word")
        << QByteArray("G1 Z X. E1") << QStringList{"G1", "E1"};
    QTest::newRow("stray bytes are skipped") << QByteArray("G1 #Z1 -E2") << QStringList{"G1", "Z1", "E2"};
    QTest::newRow("a second point stays in the word")
        << QByteArray("G1 Z1.2.3 E1") << QStringList{"G1", "Z1.2.3", "E1"};
    QTest::newRow("words stop at a line break") << QByteArray("G1 X1\nZ5") << QStringList{"G1", "X1"};
    QTest::newRow("CR ends the row") << QByteArray("G1 X1\rZ5") << QStringList{"G1", "X1"};
    QTest::newRow("fraction is no command") << QByteArray("G29.1 Z1") << QStringList{"", "Z1"};
    QTest::newRow("M0.5 is no command") << QByteArray("M0.5") << QStringList{""};
    QTest::newRow("sign glued to the command") << QByteArray("G1-5") << QStringList{""};
    QTest::newRow("negative command number") << QByteArray("G-1 X1") << QStringList{"", "X1"};
    QTest::newRow("comment row") << QByteArray(";LAYER:3") << QStringList{""};
    QTest::newRow("blank row") << QByteArray(" \t ") << QStringList{""};
    QTest::newRow("empty row") << QByteArray() << QStringList{""};
    QTest::newRow("bare T") << QByteArray("T") << QStringList{""};
    QTest::newRow("command number too long for an int")
        << QByteArray("M99999999999 S1") << QStringList{"", "S1"};
}

void TestGCodeWords::row()
{
    QFETCH(QByteArray, row);
    QFETCH(QStringList, read);
    QCOMPARE(readRow(row), read);
}

void TestGCodeWords::numbers_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("whole"); // -1: not a whole number

    QTest::newRow("decimal") << QByteArray("Z0.3") << 0.3 << -1;
    QTest::newRow("negative") << QByteArray("Z-0.25") << -0.25 << -1;
    QTest::newRow("plus") << QByteArray("Z+10") << 10.0 << -1;
    QTest::newRow("point first") << QByteArray("Z.5") << 0.5 << -1;
    QTest::newRow("whole") << QByteArray("T12") << 12.0 << 12;
    QTest::newRow("leading zero") << QByteArray("G01") << 1.0 << 1;
    QTest::newRow("second point ends the value") << QByteArray("Z1.2.3") << 1.2 << -1;
    QTest::newRow("points without a digit: a word without a value") << QByteArray("Z..") << qQNaN() << -1;
    QTest::newRow("nine digits are whole") << QByteArray("M123456789") << 123456789.0 << 123456789;
    QTest::newRow("ten digits are not") << QByteArray("M1234567890") << 1234567890.0 << -1;
    QTest::newRow("trailing point is not whole") << QByteArray("S200.") << 200.0 << -1;
    // The nearest double to the text, however many digits it has.
    QTest::newRow("sixteen digits") << QByteArray("Z1234567.891234567") << 1234567.891234567 << -1;
    QTest::newRow("nineteen digits") << QByteArray("Z0.1234567890123456789") << 0.1234567890123456789 << -1;
    QTest::newRow("twenty digits") << QByteArray("E12345678901234567890") << 12345678901234567890.0 << -1;
    QTest::newRow("whole number past 2^53 rounds to even")
        << QByteArray("E9007199254740993") << 9007199254740992.0 << -1;
    QTest::newRow("2^53 itself") << QByteArray("E9007199254740992") << 9007199254740992.0 << -1;
    QTest::newRow("twenty-two decimals") << QByteArray("Z0.0000000000000000000001") << 1e-22 << -1;
    QTest::newRow("twenty-three decimals") << QByteArray("Z0.00000000000000000000001") << 1e-23 << -1;
    QTest::newRow("twenty leading zeros") << QByteArray("Z-00000000000000000000.25") << -0.25 << -1;
    QTest::newRow("halfway between two doubles")
        << QByteArray("Z0.30000000000000004") << 0.30000000000000004 << -1;
}

void TestGCodeWords::numbers()
{
    QFETCH(QByteArray, row);
    QFETCH(double, value);
    QFETCH(int, whole);

    // Each reading of the number alone, and the reader goes on past it. The reader reads the
    // bytes where they lie, so they must outlive it.
    const QByteArray rowAndMore = row + " X1";
    GCodeWords::Reader byValue(view(rowAndMore));
    QVERIFY(byValue.next());
    QCOMPARE(byValue.value(), std::isnan(value) ? std::nullopt : std::optional<double>(value));
    QVERIFY(byValue.next());
    QCOMPARE(byValue.letter(), 'X');
    QVERIFY(!byValue.next());

    GCodeWords::Reader byWhole(view(rowAndMore));
    QVERIFY(byWhole.next());
    QCOMPARE(byWhole.whole(), whole < 0 ? std::nullopt : std::optional<int>(whole));
    QVERIFY(byWhole.next());
    QCOMPARE(byWhole.letter(), 'X');
    QVERIFY(!byWhole.next());
}

// The two readers that once disagreed: a parenthesised comment hides neither a height from the
// layer index nor a temperature from the print events.
void TestGCodeWords::parenthesisedCommentInEveryReader()
{
    const LayerIndex index = LayerIndex::build("G1 Z0.2\nG1 X1 Y1 E1\nG1 (lift) Z0.4\nG1 X2 Y2 (print) E2\n");
    QCOMPARE(index.layers().size(), std::size_t(2));
    QCOMPARE(index.layers()[1].row, 2);
    QCOMPARE(index.layers()[1].z(), 0.4);

    const PrintEvents::Command heat = PrintEvents::parse("M104 (heat) S200");
    QCOMPARE(heat.kind, PrintEvents::Kind::Temperature);
    QCOMPARE(heat.value, std::optional<int>(200));
    const PrintEvents::Command tool = PrintEvents::parse("M104 S210 (tool) T1");
    QCOMPARE(tool.heater, 1);
    QCOMPARE(tool.value, std::optional<int>(210));
}

QTEST_GUILESS_MAIN(TestGCodeWords)
#include "tst_gcodewords.moc"
