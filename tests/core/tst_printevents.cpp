#include "core/layers/LayerIndex.h"
#include "core/gcode/PrintEvents.h"

#include "TestPaths.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace PrintEvents;

Q_DECLARE_METATYPE(PrintEvents::Kind)

namespace {

// A reference reading of one row with regular expressions: kind, heater, value.
struct Reference
{
    Kind kind = Kind::None;
    int heater = kActiveTool;
    std::optional<int> value;
};

Reference referenceRead(const QString& row)
{
    static const QRegularExpression command(
        QStringLiteral("^[ \\t]*(?:[Nn]\\d+[ \\t]*)?([MmTt])(\\d+)(?![\\d.eE])([^;]*)"));
    static const QRegularExpression parameter(QStringLiteral("([SsRrTt])(-?\\d+(?:\\.\\d*)?)"));
    const QRegularExpressionMatch m = command.match(row);
    if (!m.hasMatch())
        return {};
    const int number = m.captured(2).toInt();
    if (m.captured(1).toUpper() == u"T")
        return {Kind::ToolChange, number, std::nullopt};
    if (QList<int>{0, 1, 25, 600, 601}.contains(number))
        return {Kind::Pause, kActiveTool, std::nullopt};
    const bool tool = number == 104 || number == 109;
    if (!tool && number != 140 && number != 190)
        return {};
    Reference r{Kind::Temperature, tool ? kActiveTool : kBed, std::nullopt};
    std::optional<int> rValue;
    for (auto it = parameter.globalMatch(m.captured(3)); it.hasNext();) {
        const auto p = it.next();
        const QString letter = p.captured(1).toUpper();
        const int value = int(p.captured(2).toDouble());
        if (letter == u"S")
            r.value = value;
        else if (letter == u"R")
            rValue = value;
        else if (tool && !p.captured(2).contains(u'.') && !p.captured(2).startsWith(u'-'))
            r.heater = value;
    }
    if (!r.value)
        r.value = rValue;
    return r;
}

QByteArray realFile(const QString& name)
{
    QFile file(QDir(QStringLiteral(BORVANE_REAL_FIXTURES_DIR)).filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestPrintEvents : public QObject
{
    Q_OBJECT

private slots:
    void parseRow_data();
    void parseRow();
    void eventsOfRows_data();
    void eventsOfRows();
    void eventsOfRealFiles_data();
    void eventsOfRealFiles();
    void activeTool();
    void nextSetting_data();
    void nextSetting();
    void pausesApart();
    void insertedRowsMatchAFreshScan_data();
    void insertedRowsMatchAFreshScan();
};

void TestPrintEvents::parseRow_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("heater");
    QTest::addColumn<int>("value"); // -1: none

    QTest::newRow("M25") << QByteArray("M25") << Kind::Pause << kActiveTool << -1;
    QTest::newRow("M0 with comment") << QByteArray("M0 ; wait") << Kind::Pause << kActiveTool << -1;
    QTest::newRow("M1") << QByteArray("M1") << Kind::Pause << kActiveTool << -1;
    QTest::newRow("M600 indented") << QByteArray("  M600") << Kind::Pause << kActiveTool << -1;
    QTest::newRow("m601 lower case") << QByteArray("m601") << Kind::Pause << kActiveTool << -1;
    QTest::newRow("M125 park") << QByteArray("M125") << Kind::Pause << kActiveTool << -1;
    QTest::newRow("M226 RepRapFirmware") << QByteArray("M226") << Kind::Pause << kActiveTool << -1;
    QTest::newRow("Klipper PAUSE") << QByteArray("PAUSE") << Kind::Pause << kActiveTool << -1;
    QTest::newRow("pause with a comment") << QByteArray("  pause ; swap") << Kind::Pause << kActiveTool << -1;
    QTest::newRow("OctoPrint @pause") << QByteArray("@pause") << Kind::Pause << kActiveTool << -1;
    QTest::newRow("PAUSE_BASE is another macro")
        << QByteArray("PAUSE_BASE") << Kind::None << kActiveTool << -1;
    QTest::newRow("@pauses is no pause") << QByteArray("@pauses") << Kind::None << kActiveTool << -1;
    QTest::newRow("M104 is not M1") << QByteArray("M104") << Kind::Temperature << kActiveTool << -1;
    QTest::newRow("M250 is no pause") << QByteArray("M250") << Kind::None << kActiveTool << -1;
    QTest::newRow("M0.5 is no command") << QByteArray("M0.5") << Kind::None << kActiveTool << -1;
    QTest::newRow("M25 in a comment") << QByteArray("; M25") << Kind::None << kActiveTool << -1;
    QTest::newRow("M25 after G1") << QByteArray("G1 X1 ; M25") << Kind::None << kActiveTool << -1;
    QTest::newRow("line number") << QByteArray("N12 M25*33") << Kind::Pause << kActiveTool << -1;
    QTest::newRow("M104 S T1") << QByteArray("M104 S215 T1") << Kind::Temperature << 1 << 215;
    QTest::newRow("M104 T before S") << QByteArray("M104 T0 S200") << Kind::Temperature << 0 << 200;
    QTest::newRow("M109 R only") << QByteArray("M109 R190") << Kind::Temperature << kActiveTool << 190;
    QTest::newRow("M109 S wins over R")
        << QByteArray("M109 R190 S205") << Kind::Temperature << kActiveTool << 205;
    QTest::newRow("M104 decimal S") << QByteArray("M104 S210.0") << Kind::Temperature << kActiveTool << 210;
    QTest::newRow("no spaces") << QByteArray("M104S200T1") << Kind::Temperature << 1 << 200;
    QTest::newRow("parenthesised comment before S")
        << QByteArray("M104 (heat) S200") << Kind::Temperature << kActiveTool << 200;
    QTest::newRow("S in parentheses") << QByteArray("M104 (S180) S200 T1") << Kind::Temperature << 1 << 200;
    QTest::newRow("parenthesised comment first")
        << QByteArray("(pause) M600") << Kind::Pause << kActiveTool << -1;
    QTest::newRow("tab and lower case") << QByteArray("\tm140\ts60") << Kind::Temperature << kBed << 60;
    QTest::newRow("S in the comment") << QByteArray("M104 ; S200") << Kind::Temperature << kActiveTool << -1;
    QTest::newRow("M140 with T stays bed") << QByteArray("M140 S60 T0") << Kind::Temperature << kBed << 60;
    QTest::newRow("M190") << QByteArray("M190 S70") << Kind::Temperature << kBed << 70;
    // RepRapFirmware's G10: P is the tool, S its active temperature, R its standby one; a G10
    // without P and S or R is a firmware retraction or a tool offset.
    QTest::newRow("G10 P S R") << QByteArray("G10 P1 S205 R150") << Kind::Temperature << 1 << 205;
    QTest::newRow("G10 R before S") << QByteArray("G10 P0 R175 S195") << Kind::Temperature << 0 << 195;
    QTest::newRow("G10 standby only") << QByteArray("G10 P2 R140") << Kind::Temperature << 2 << -1;
    QTest::newRow("g010 lower case, glued") << QByteArray("g010p0s200") << Kind::Temperature << 0 << 200;
    QTest::newRow("G10 after a line number")
        << QByteArray("N7 G10 P0 S190*12") << Kind::Temperature << 0 << 190;
    QTest::newRow("bare G10 is a retraction") << QByteArray("G10") << Kind::None << kActiveTool << -1;
    QTest::newRow("G10 with S but no P") << QByteArray("G10 S200") << Kind::None << kActiveTool << -1;
    QTest::newRow("G10 P X Y is a tool offset")
        << QByteArray("G10 P1 X-0.3 Y0.2 Z0") << Kind::None << kActiveTool << -1;
    QTest::newRow("G10 S in a comment") << QByteArray("G10 P0 ; S200") << Kind::None << kActiveTool << -1;
    QTest::newRow("G1 is no G10") << QByteArray("G1 P0 S200") << Kind::None << kActiveTool << -1;
    QTest::newRow("G100 is no G10") << QByteArray("G100 P0 S200") << Kind::None << kActiveTool << -1;
    QTest::newRow("M109 S") << QByteArray("M109 S215 T0") << Kind::Temperature << 0 << 215;
    QTest::newRow("T1") << QByteArray("T1") << Kind::ToolChange << 1 << -1;
    QTest::newRow("T1000") << QByteArray("T1000 ; load") << Kind::ToolChange << 1000 << -1;
    QTest::newRow("t0 lower case") << QByteArray("t0") << Kind::ToolChange << 0 << -1;
    QTest::newRow("bare T") << QByteArray("T") << Kind::None << kActiveTool << -1;
    QTest::newRow("G1") << QByteArray("G1 X1 Y2 E3") << Kind::None << kActiveTool << -1;
    QTest::newRow("empty") << QByteArray() << Kind::None << kActiveTool << -1;
}

void TestPrintEvents::parseRow()
{
    QFETCH(QByteArray, row);
    QFETCH(Kind, kind);
    QFETCH(int, heater);
    QFETCH(int, value);
    const Command command = parse(std::string_view(row.constData(), std::size_t(row.size())));
    QCOMPARE(command.kind, kind);
    if (kind == Kind::Temperature || kind == Kind::ToolChange)
        QCOMPARE(command.heater, heater);
    QCOMPARE(command.value.value_or(-1), value);
}

void TestPrintEvents::eventsOfRows_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<int>>("eventRows");

    QTest::newRow("LF") << QByteArray("G1 Z1\nM25\nG1 X1\nT1\nM104 S200\n") << QList<int>{1, 3, 4};
    QTest::newRow("CR LF") << QByteArray("G1 Z1\r\nM25\r\nG1 X1\r\nT1\r\n") << QList<int>{1, 3};
    QTest::newRow("lone CR starts a row") << QByteArray("G1 Z1\rM25\nT0") << QList<int>{1, 2};
    QTest::newRow("G10 tool temperatures, not G1, G100 or a bare G10")
        << QByteArray("G1 X1\nG10 P0 S200\nG100 P0 S1\nG10\n g10 p1 r150\nG010 P1 S1\nG10.5 P0 S1\n")
        << QList<int>{1, 4, 5};
    QTest::newRow("indented, tabbed and parenthesised rows")
        << QByteArray("  M25\n\tT1\n(heat) M104 S200\nG1 (M25) X1\n") << QList<int>{0, 1, 2};
    QTest::newRow("blank lines") << QByteArray("\n\nM600\n\n\rM140 S1") << QList<int>{2, 5};
    QTest::newRow("command first, no final break") << QByteArray("M0") << QList<int>{0};
    QTest::newRow("empty") << QByteArray() << QList<int>{};
}

void TestPrintEvents::eventsOfRows()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<int>, eventRows);
    const TextRows rows(text);
    QList<int> found;
    for (const Event& e : findEvents(rows))
        found << e.row;
    QCOMPARE(found, eventRows);
}

void TestPrintEvents::eventsOfRealFiles_data()
{
    QTest::addColumn<QString>("name");
    for (const char* name :
         {"simplify3d_dual-extruder-t0-t1_2352k.gcode", "bambustudio_multicolor-t0-t3-z-hop_3222k.gcode",
          "prusaslicer_z-hop-large_3939k.gcode", "kisslicer_crlf-small_22k.gcode", "cura_basic_256k.gcode"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

// Every row of a real file, read by regular expressions, against the one-pass scan.
void TestPrintEvents::eventsOfRealFiles()
{
    QFETCH(QString, name);
    const QByteArray text = realFile(name);
    if (text.isEmpty())
        QSKIP("the real slicer files do not stand beside the repository");
    const TextRows rows(text);
    std::vector<Event> expected;
    for (int row = 0; row < rows.physicalRowCount(); ++row) {
        const Reference r = referenceRead(rows.rowText(row));
        if (r.kind != Kind::None)
            expected.push_back({row, {r.kind, r.heater, r.value}});
    }
    const std::vector<Event> events = findEvents(rows);
    QCOMPARE(events.size(), expected.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        QCOMPARE(events[i].row, expected[i].row);
        QCOMPARE(events[i].command.kind, expected[i].command.kind);
        QCOMPARE(events[i].command.heater, expected[i].command.heater);
        QCOMPARE(events[i].command.value, expected[i].command.value);
    }
    QVERIFY(!events.empty());
}

void TestPrintEvents::activeTool()
{
    const TextRows rows(QByteArray("M104 S200\nT1\nG1 X1\nT0\nG1 X2\n"));
    const std::vector<Event> events = findEvents(rows);
    QCOMPARE(activeToolAt(events, 0), 0); // none before: the first tool
    QCOMPARE(activeToolAt(events, 1), 0); // the change on row 1 is not before row 1
    QCOMPARE(activeToolAt(events, 2), 1);
    QCOMPARE(activeToolAt(events, 4), 0);
}

void TestPrintEvents::nextSetting_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("heater");
    QTest::addColumn<int>("activeTool");
    QTest::addColumn<int>("row"); // -1: none
    QTest::addColumn<int>("value");

    const QByteArray dual("M104 S200 T1\n" // 0
                          "G1 X1\n"        // 1
                          "M104 S210\n"    // 2: the active tool
                          "T1\n"           // 3
                          "M109 S220\n"    // 4: now T1
                          "M140 S60\n"     // 5
                          "M104 S0 T0\n"   // 6
                          "M190 S0\n");    // 7
    QTest::newRow("T0 set without T while T0 is active") << dual << 1 << 0 << 0 << 2 << 210;
    QTest::newRow("T1 without T after a tool change") << dual << 1 << 1 << 0 << 4 << 220;
    QTest::newRow("T1 while T1 is active") << dual << 1 << 1 << 1 << 2 << 210;
    QTest::newRow("explicit T0 after the change") << dual << 3 << 0 << 0 << 6 << 0;
    QTest::newRow("bed") << dual << 0 << kBed << 0 << 5 << 60;
    QTest::newRow("bed M190") << dual << 6 << kBed << 0 << 7 << 0;
    QTest::newRow("from the setting row itself") << dual << 2 << 0 << 0 << 2 << 210;
    QTest::newRow("nothing after") << dual << 8 << 0 << 0 << -1 << 0;
    // M109 sets as M104 does, and waits; G10 P<tool> S sets the tool's active temperature whichever
    // tool is active, R alone (standby) sets none.
    const QByteArray waitsAndG10("M109 S200 T0\n" // 0
                                 "G10 P1 R150\n"  // 1: standby only
                                 "G10 P0 S0\n"    // 2
                                 "T1\n"           // 3
                                 "G10 P1 S225\n"  // 4
                                 "M109 S230\n");  // 5: now T1
    QTest::newRow("M109 with T") << waitsAndG10 << 0 << 0 << 0 << 0 << 200;
    QTest::newRow("G10 P0 S for T0") << waitsAndG10 << 1 << 0 << 0 << 2 << 0;
    QTest::newRow("G10 P1 R is no setting, G10 P1 S is") << waitsAndG10 << 0 << 1 << 0 << 4 << 225;
    QTest::newRow("M109 without T after a tool change") << waitsAndG10 << 5 << 1 << 1 << 5 << 230;
    QTest::newRow("G10 for another tool is no setting for T0") << waitsAndG10 << 3 << 0 << 0 << -1 << 0;
    QTest::newRow("M104 without S is no setting")
        << QByteArray("M104 T0\nM104 S1 T0\n") << 0 << 0 << 0 << 1 << 1;
}

void TestPrintEvents::nextSetting()
{
    QFETCH(QByteArray, text);
    QFETCH(int, from);
    QFETCH(int, heater);
    QFETCH(int, activeTool);
    QFETCH(int, row);
    QFETCH(int, value);
    const TextRows rows(text);
    const std::optional<Event> found = PrintEvents::nextSetting(findEvents(rows), from, heater, activeTool);
    QCOMPARE(found ? found->row : -1, row);
    if (found)
        QCOMPARE(found->command.value.value_or(-1), value);
}

void TestPrintEvents::pausesApart()
{
    const TextRows rows(QByteArray("M25\nG1\nG1\nM25\nM600\nG1\nG1\nG1\nM0\n"));
    const std::vector<Event> events = findEvents(rows);
    // The pause on row 4 was just inserted: the others are rows 0, 3 and 8; 3 is nearest.
    const Pauses pauses = PrintEvents::pausesApart(events, 4, 4);
    QCOMPARE(pauses.count, 3);
    QCOMPARE(pauses.nearest.value_or(-1), 3);
    // Rows 4 and 8 are as near to row 6: the earlier one.
    const Pauses tie = PrintEvents::pausesApart(events, 6, 6);
    QCOMPARE(tie.count, 4);
    QCOMPARE(tie.nearest.value_or(-1), 4);
    QCOMPARE(PrintEvents::pausesApart(findEvents(TextRows("G1\nM25\n")), 1, 1).count, 0);
}

void TestPrintEvents::insertedRowsMatchAFreshScan_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("where"); // the insertion row, as a fraction of the rows
    QTest::newRow("dual extruder, low") << "simplify3d_dual-extruder-t0-t1_2352k.gcode" << 0.1;
    QTest::newRow("dual extruder, at the end") << "simplify3d_dual-extruder-t0-t1_2352k.gcode" << 1.0;
    QTest::newRow("spiral vase, CR LF, middle") << "simplify3d_spiral-vase-crlf_3452k.gcode" << 0.5;
    QTest::newRow("z-hops, first row") << "prusaslicer_z-hop-large_3939k.gcode" << 0.0;
}

// Pause and temperature lines put into a real file: the layers and marks of the text before,
// following the new rows, equal those found afresh in the text after.
void TestPrintEvents::insertedRowsMatchAFreshScan()
{
    QFETCH(QString, name);
    QFETCH(double, where);
    const QByteArray text = realFile(name);
    if (text.isEmpty())
        QSKIP("the real slicer files do not stand beside the repository");
    const TextRows before(text);
    const int row = int(where * (before.lineCount() - 1));
    const QByteArray lineBreak = text.contains("\r\n") ? "\r\n" : "\n";
    const QList<QByteArray> lines{"M140 S70 T0", "M104 S215 T0", "M25"};
    QByteArray edited = text;
    edited.insert(before.rowStart(row), lines.join(lineBreak) + lineBreak);
    const TextRows after(edited);

    std::vector<Event> events = findEvents(before);
    std::vector<std::string_view> newRows;
    for (const QByteArray& line : lines)
        newRows.emplace_back(line.constData(), std::size_t(line.size()));
    insertRows(events, row, newRows);
    const std::vector<Event> fresh = findEvents(after);
    QCOMPARE(events.size(), fresh.size());
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        QCOMPARE(events[i].row, fresh[i].row);
        QCOMPARE(events[i].command.kind, fresh[i].command.kind);
        QCOMPARE(events[i].command.value, fresh[i].command.value);
    }

    LayerIndex layers = LayerIndex::build(before.bytes());
    layers.rowsInserted(row, int(lines.size()));
    const LayerIndex freshLayers = LayerIndex::build(after.bytes());
    QVERIFY(!freshLayers.isEmpty());
    QCOMPARE(layers.layers().size(), freshLayers.layers().size());
    for (std::size_t i = 0; i < freshLayers.layers().size(); ++i) {
        QCOMPARE(layers.layers()[i].row, freshLayers.layers()[i].row);
        QCOMPARE(layers.layers()[i].z(), freshLayers.layers()[i].z());
    }
}

QTEST_GUILESS_MAIN(TestPrintEvents)
#include "tst_printevents.moc"
