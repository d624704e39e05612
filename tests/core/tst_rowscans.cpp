// The scans over rows: Z line rule, keyword scan, backward Z lookup, the walks of the
// print analysis and the height search, on texts held in memory.

#include "core/navigation/RowScans.h"
#include "core/text/RowSource.h"
#include "core/text/Utility.h"

#include <QMap>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A body of count rows of extrusion moves (no "Z" anywhere), with the given rows replaced.
QByteArray body(int count, const QMap<int, QByteArray>& rows)
{
    QByteArray text;
    for (int row = 0; row < count; ++row)
        text += rows.value(row, QByteArrayLiteral("G1 X10.5 Y20.25 E0.0123")) + '\n';
    return text;
}

// The layers of the worked example: Z 0.3 on row 37, 0.5 on row 60, 0.7 on row 90.
QByteArray threeLayers()
{
    return body(100, {{37, "G1 Z0.3 F420"}, {60, "G1 Z0.5 F420"}, {90, "G1 Z0.7 F420"}});
}

constexpr int kNone = -1;

} // namespace

class TestRowScans : public QObject
{
    Q_OBJECT

private slots:
    void zLineRule_data();
    void zLineRule();
    void zOfRow_data();
    void zOfRow();
    void keywordScan_data();
    void keywordScan();
    void keywordScanOverManyBlocks_data();
    void keywordScanOverManyBlocks();
    void backwardZLookup_data();
    void backwardZLookup();
    void walkToRowWithZ_data();
    void walkToRowWithZ();
    void lastZLine_data();
    void lastZLine();
    void heightSearch_data();
    void heightSearch();
    void scansOverAnEmptyView();
};

void TestRowScans::zLineRule_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<bool>("isZLine");

    QTest::newRow("layer change") << QByteArray("G1 Z0.3 F420") << true;
    QTest::newRow("vase-mode move") << QByteArray("G1 X1 Y2 Z0.3 E1.2") << true;
    QTest::newRow("Z before G1") << QByteArray(";Z next: G1 X1") << true;
    QTest::newRow("Z only in a comment") << QByteArray("G1 X1 E2 ;Zone 4") << true;
    QTest::newRow("G1 at the end of the row") << QByteArray("Z G1 ") << true;
    QTest::newRow("G0 move with Z") << QByteArray("G0 Z0.6") << false;
    QTest::newRow("lower case") << QByteArray("g1 z0.3") << false;
    QTest::newRow("lower-case z") << QByteArray("G1 z0.3") << false;
    QTest::newRow("G01") << QByteArray("G01 Z0.3") << false;
    QTest::newRow("tab after G1") << QByteArray("G1\tZ0.3") << false;
    QTest::newRow("G1 without Z") << QByteArray("G1 X10 Y5 E0.2") << false;
    QTest::newRow("G1 at the end without its space") << QByteArray("Z lift G1") << false;
    QTest::newRow("empty row") << QByteArray() << false;
}

void TestRowScans::zLineRule()
{
    QFETCH(QByteArray, row);
    QFETCH(bool, isZLine);
    QCOMPARE(RowScans::isZLine(std::string_view(row.constData(), std::size_t(row.size()))), isZLine);
}

void TestRowScans::zOfRow_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<double>("z");

    QTest::newRow("layer change") << QByteArray("G1 Z0.3 F420") << 0.3;
    QTest::newRow("vase-mode move: E after Z is no exponent") << QByteArray("G1 X1 Y2 Z0.3 E1.2") << 0.3;
    QTest::newRow("first Z counts, even in a comment") << QByteArray("G1 X1 ;Z2 then Z5") << 2.0;
    QTest::newRow("blanks inside the number") << QByteArray("G1 Z 1 0") << 10.0;
    QTest::newRow("Z with no number") << QByteArray("G1 Z") << 0.0;
}

void TestRowScans::zOfRow()
{
    QFETCH(QByteArray, row);
    QFETCH(double, z);
    QCOMPARE(RowScans::zOf(std::string_view(row.constData(), std::size_t(row.size()))), z);
}

void TestRowScans::keywordScan_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("exclusion");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("row");

    const QByteArray markers = "M104 S200\nG1 X1\nM25\nG1 X2\nM25\nG1 X3\n";
    QTest::newRow("forward: the start row itself can match") << markers << "M25" << QString() << 2 << 1 << 2;
    QTest::newRow("forward: next match") << markers << "M25" << QString() << 3 << 1 << 4;
    QTest::newRow("forward: none left") << markers << "M25" << QString() << 5 << 1 << kNone;
    QTest::newRow("forward: start at the line count") << markers << "M25" << QString() << 6 << 1 << kNone;
    QTest::newRow("forward: start past the line count") << markers << "G1" << QString() << 7 << 1 << kNone;
    QTest::newRow("backward: previous match") << markers << "M25" << QString() << 3 << -1 << 2;
    QTest::newRow("backward: match on row 0") << markers << "M104" << QString() << 3 << -1 << 0;
    QTest::newRow("backward: start below row 0") << markers << "M104" << QString() << -1 << -1 << kNone;
    QTest::newRow("backward: start past the line count") << markers << "G1" << QString() << 7 << -1 << kNone;
    QTest::newRow("backward: start at the line count") << markers << "G1" << QString() << 6 << -1 << 5;
    QTest::newRow("keyword at the very end, no final break")
        << QByteArray("G1 X1\nM25") << "M25" << QString() << 0 << 1 << 1;
    QTest::newRow("match reaching the row's end, CR LF breaks")
        << QByteArray("G1 X1\r\nG1 X2 M25\r\nM26\r\n") << "M25" << QString() << 0 << 1 << 1;
    QTest::newRow("case-sensitive") << QByteArray("g1 x1\nG1 X1\n") << "G1 X" << QString() << 0 << 1 << 1;
    QTest::newRow("lower-case keyword finds no capitals")
        << QByteArray("M25\nM25\n") << "m25" << QString() << 0 << 1 << kNone;

    const QByteArray shells = "G1 X1\n;shells and one shell\n;structure:shell-inner\n;shell\n";
    QTest::newRow("exclusion tested on the whole line")
        << shells << "shell" << QStringLiteral("shells") << 0 << 1 << 2;
    QTest::newRow("exclusion going backward past excluded rows")
        << QByteArray(";shell\n;shells\n;shells\nG1\n") << "shell" << QStringLiteral("shells") << 3 << -1
        << 0;
    QTest::newRow("every match excluded")
        << QByteArray(";shells\n;shells shell\n") << "shell" << QStringLiteral("shells") << 0 << 1 << kNone;
    QTest::newRow("empty exclusion excludes nothing") << shells << "shell" << QString() << 0 << 1 << 1;

    // A keyword that cannot stand in a row matches none, also where its Latin-1 form would.
    QTest::newRow("character above U+00FF")
        << QByteArray("G1 X1 ;what?\n") << QStringLiteral("what\u0100") << QString() << 0 << 1 << kNone;
    QTest::newRow("Latin-1 character") << QByteArray("G1 X1\nM117 200\xb0") + "C\n"
                                       << QStringLiteral("200\u00b0") << QString() << 0 << 1 << 1;
    QTest::newRow("keyword holding a line break")
        << QByteArray("G1 X1\nM25\n") << "X1\nM25" << QString() << 0 << 1 << kNone;
    QTest::newRow("keyword holding a CR")
        << QByteArray("G1 X1\r\nM25\r\n") << "X1\r" << QString() << 0 << 1 << kNone;
    QTest::newRow("exclusion above U+00FF excludes nothing")
        << QByteArray(";shell?\n") << "shell" << QStringLiteral("shell\u0100") << 0 << 1 << 0;
}

void TestRowScans::keywordScan()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, keyword);
    QFETCH(QString, exclusion);
    QFETCH(int, from);
    QFETCH(int, step);
    QFETCH(int, row);

    const TextRows rows(text);
    QCOMPARE(RowScans::findKeywordRow(rows, keyword, exclusion, from, step, rows.lineCount()).value_or(kNone),
             row);
}

// Long texts, where the search tests whole blocks of bytes before it looks at a place.
void TestRowScans::keywordScanOverManyBlocks_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("row");

    // Row 97 has the first, middle and last bytes of "G1 X999." in place, but not the others.
    const QByteArray rows =
        body(300, {{97, "G1 X909.5 Y1"}, {131, "M25 ;pause"}, {203, "G1 X999.5 Y2"}, {299, "M25 ;last"}});
    QTest::newRow("forward") << rows << u"M25"_s << 0 << 1 << 131;
    QTest::newRow("forward to the last row") << rows << u"M25"_s << 132 << 1 << 299;
    QTest::newRow("forward, none left") << rows << u"M25 ;pause"_s << 132 << 1 << kNone;
    QTest::newRow("backward") << rows << u"M25"_s << 298 << -1 << 131;
    QTest::newRow("backward from the last row") << rows << u"M25"_s << 299 << -1 << 299;
    QTest::newRow("backward, none left") << rows << u"M25 ;last"_s << 298 << -1 << kNone;
    QTest::newRow("forward past a near miss") << rows << u"G1 X999."_s << 0 << 1 << 203;
    QTest::newRow("backward past a near miss") << rows << u"G1 X999."_s << 299 << -1 << 203;
    QTest::newRow("backward to a row before the start") << rows << u"G1 X909"_s << 299 << -1 << 97;
    QTest::newRow("in the last bytes, no final break") << rows + "M26" << u"M26"_s << 0 << 1 << 300;
    QTest::newRow("in the first bytes") << "M26\n" + rows << u"M26"_s << 250 << -1 << 0;
}

void TestRowScans::keywordScanOverManyBlocks()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, keyword);
    QFETCH(int, from);
    QFETCH(int, step);
    QFETCH(int, row);

    const TextRows rows(text);
    QCOMPARE(RowScans::findKeywordRow(rows, keyword, QString(), from, step, rows.lineCount()).value_or(kNone),
             row);
}

void TestRowScans::backwardZLookup_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("zRow");
    QTest::addColumn<double>("z");
    QTest::addColumn<bool>("examined");

    const QByteArray layers = threeLayers();
    QTest::newRow("Z line on the start row") << layers << 60 << 60 << 0.5 << true;
    QTest::newRow("nearest Z line above") << layers << 89 << 60 << 0.5 << true;
    QTest::newRow("down to row 1") << layers << 37 << 37 << 0.3 << true;
    QTest::newRow("above the first Z line") << layers << 36 << kNone << 0.0 << true;
    QTest::newRow("start row past the end") << layers << 500 << 90 << 0.7 << true;

    const QByteArray rowsZeroAndSeven = body(10, {{0, "G1 Z0.2"}, {7, "G1 Z0.4"}});
    QTest::newRow("row 0 is never examined") << rowsZeroAndSeven << 5 << kNone << 0.0 << true;
    QTest::newRow("start row 0") << rowsZeroAndSeven << 0 << kNone << 0.0 << false;
    QTest::newRow("start row below 0") << rowsZeroAndSeven << -1 << kNone << 0.0 << false;
    QTest::newRow("Z rows that are not Z lines are passed")
        << body(10, {{2, "G1 Z0.9"}, {4, "G0 Z5"}, {5, "g1 z3"}, {6, ";Zone"}}) << 6 << 2 << 0.9 << true;
    QTest::newRow("one-row buffer") << QByteArray("G1 Z1\n") << 1 << kNone << 0.0 << true;
    QTest::newRow("vase-mode line") << body(4, {{2, "G1 X1 Y2 Z0.3 E1.2"}}) << 3 << 2 << 0.3 << true;
}

void TestRowScans::backwardZLookup()
{
    QFETCH(QByteArray, text);
    QFETCH(int, row);
    QFETCH(int, zRow);
    QFETCH(double, z);
    QFETCH(bool, examined);

    const RowScans::ZLookup found = RowScans::findZLineAtOrBefore(TextRows(text), row);
    QCOMPARE(found.row.value_or(kNone), zRow);
    QCOMPARE(found.z, z);
    QCOMPARE(found.examined, examined);
}

void TestRowScans::walkToRowWithZ_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("row");

    const QByteArray start =
        body(50, {{37, "G1 Z0.3 F420"}, {40, ";structure:shell-inner Z"}, {45, ";Zone"}});
    QTest::newRow("backward to the layer change") << start << 40 << -1 << 37;
    QTest::newRow("forward to a comment holding Z") << start << 40 << 1 << 45;
    QTest::newRow("backward reaching row 0") << body(10, {{5, ";structure:shell-inner"}}) << 5 << -1 << kNone;
    QTest::newRow("backward finds row 0") << body(10, {{0, "G0 Z1"}}) << 5 << -1 << 0;
    QTest::newRow("forward reaching the end") << body(10, {{2, "G1 Z1"}, {5, ";shell"}}) << 5 << 1 << kNone;
    QTest::newRow("forward from the last row") << body(10, {{9, ";shell Z"}}) << 9 << 1 << kNone;
    QTest::newRow("lower-case z does not stop the walk")
        << body(10, {{3, "G1 z1"}, {2, "M104 Z"}}) << 5 << -1 << 2;
}

void TestRowScans::walkToRowWithZ()
{
    QFETCH(QByteArray, text);
    QFETCH(int, from);
    QFETCH(int, step);
    QFETCH(int, row);
    QCOMPARE(RowScans::findRowWithZ(TextRows(text), from, step).value_or(kNone), row);
}

void TestRowScans::lastZLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("row");

    QTest::newRow("last layer") << threeLayers() << 90;
    QTest::newRow("lift after the print, not the greatest Z")
        << body(10, {{2, "G1 Z20.1"}, {8, "G1 Z5 F600"}}) << 8;
    QTest::newRow("Z rows that are not Z lines are passed")
        << body(10, {{2, "G1 Z1"}, {7, "G0 Z30"}, {8, ";Z end"}, {9, "M84 Z"}}) << 2;
    QTest::newRow("Z line on the last row, no final break") << QByteArray("G1 Z1\nG1 X1\nG1 Z2") << 2;
    QTest::newRow("Z line on row 0") << body(5, {{0, "G1 Z1"}}) << 0;
    QTest::newRow("no Z line") << body(5, {{3, ";Z"}}) << kNone;
    QTest::newRow("empty buffer") << QByteArray() << kNone;
}

void TestRowScans::lastZLine()
{
    QFETCH(QByteArray, text);
    QFETCH(int, row);
    const TextRows rows(text);
    QCOMPARE(RowScans::findLastZLine(rows, rows.lineCount()).value_or(kNone), row);
}

void TestRowScans::heightSearch_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("startRow");
    QTest::addColumn<double>("target");
    QTest::addColumn<int>("row");
    QTest::addColumn<double>("z");
    QTest::addColumn<bool>("examined");

    const QByteArray layers = threeLayers();
    QTest::newRow("target 0.6: last Z line below it") << layers << 37 << 0.3 + 0.3 << 60 << 0.5 << true;
    QTest::newRow("target 0.5: equal Z reaches it") << layers << 37 << 0.3 + 0.2 << 37 << 0.3 << true;
    QTest::newRow("target 1.3: not reached") << layers << 37 << 0.3 + 1.0 << kNone << 0.0 << true;
    QTest::newRow("target 0.3: first Z line reaches it") << layers << 37 << 0.3 + 0.0 << 37 << 0.3 << true;
    QTest::newRow("target below every Z") << layers << 37 << -5.0 << 37 << 0.3 << true;
    QTest::newRow("Z lines before the start row are not walked") << layers << 38 << 0.5 << 60 << 0.5 << true;
    QTest::newRow("start row at the line count") << layers << 100 << 0.6 << kNone << 0.0 << false;
    QTest::newRow("start row past the line count") << layers << 250 << 0.6 << kNone << 0.0 << false;
    QTest::newRow("Z rows that are not Z lines are passed")
        << body(10, {{1, "G1 Z0.2"}, {3, "G0 Z9"}, {4, ";Z 9"}, {5, "G1 Z0.4"}, {7, "G1 Z0.6"}}) << 0 << 0.5
        << 5 << 0.4 << true;
    QTest::newRow("vase-mode lines") << body(5, {{1, "G1 X1 Y2 Z0.3 E1.2"},
                                                 {2, "G1 X2 Y2 Z0.31 E1.3"},
                                                 {3, "G1 X3 Y2 Z0.32 E1.4"}})
                                     << 0 << 0.315 << 2 << 0.31 << true;
    QTest::newRow("reaching Z line on the last row, no final break")
        << QByteArray("G1 Z0.2\nG1 X1\nG1 Z0.4") << 0 << 0.4 << 0 << 0.2 << true;
}

void TestRowScans::heightSearch()
{
    QFETCH(QByteArray, text);
    QFETCH(int, startRow);
    QFETCH(double, target);
    QFETCH(int, row);
    QFETCH(double, z);
    QFETCH(bool, examined);

    const TextRows rows(text);
    const RowScans::HeightSearch found =
        RowScans::searchHeight(rows, startRow, rows.lineCount(), Utility::ToNanometres(target));
    QCOMPARE(found.row.value_or(kNone), row);
    QCOMPARE(found.z, z);
    QCOMPARE(found.examined, examined);
}

namespace {

// No text at all, its bytes an empty view without storage, as an empty editor gives them.
class NoText : public RowSource
{
public:
    int lineCount() const override { return 0; }
    int physicalRowCount() const override { return 1; }
    std::string_view bytes() const override { return {}; }
    qsizetype rowStart(int) const override { return 0; }
    qsizetype rowEnd(int) const override { return 0; }
    int rowAt(qsizetype) const override { return 0; }
};

} // namespace

// Every scan on no text finds nothing, and reads no byte (the sanitizer build checks that).
void TestRowScans::scansOverAnEmptyView()
{
    const NoText rows;
    for (const int step : {1, -1}) {
        for (const int from : {-1, 0, 1, 5}) {
            for (const QString& keyword : {u"Z"_s, u"G1 "_s, u"M117 mark"_s})
                QVERIFY(!RowScans::findKeywordRow(rows, keyword, u"x"_s, from, step, 0));
            QVERIFY(!RowScans::findRowWithZ(rows, from, step));
        }
    }
    for (const int row : {-1, 0, 1, 5}) {
        QVERIFY(!RowScans::findZLineAtOrBefore(rows, row).row);
        QVERIFY(!RowScans::findLastZLine(rows, row));
        QVERIFY(!RowScans::searchHeight(rows, row, 1, 1'000'000).row);
        QVERIFY(!RowScans::searchHeight(rows, 0, row, 0).row);
    }
}

QTEST_GUILESS_MAIN(TestRowScans)
#include "tst_rowscans.moc"
