// The printer profiles, the machine state at a row and the park-and-resume block. The blocks are
// run on a G-code machine written from the firmware documentation (tests/support/GCodeMachine.h),
// on handmade rows and on every real slicer file beside the repository, at three heights each.

#include "GCodeMachine.h"
#include "RealFileRows.h"
#include "ReferenceLayers.h"
#include "TestPaths.h"

#include "core/gcode/LayerIndex.h"
#include "core/gcode/MachineState.h"
#include "core/gcode/PauseBlock.h"
#include "core/gcode/PrinterProfiles.h"
#include "core/gcode/SlicedFile.h"
#include "core/text/RowSource.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <string>

class TestPauseBlock : public QObject
{
    Q_OBJECT

private slots:
    void shippedProfiles_data();
    void shippedProfiles();
    void profileFiles_data();
    void profileFiles();
    void userFileOverrides();
    void numbers_data();
    void numbers();
    void handmadeBlock_data();
    void handmadeBlock();
    void parkKeepsClearOfArcs_data();
    void parkKeepsClearOfArcs();
    void printedCellsFollowTheExtrusions_data();
    void printedCellsFollowTheExtrusions();
    void realFile_data();
    void realFile();
};

namespace {

PrinterProfiles shipped()
{
    PrinterProfiles profiles;
    profiles.addFile(QStringLiteral(BORVANE_RESOURCES_DIR "/PrinterProfiles.json"));
    return profiles;
}

} // namespace

void TestPauseBlock::shippedProfiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("command"); // the pause line's first word
    QTest::addColumn<bool>("parks");
    QTest::newRow("borvane5") << "borvane5"
                              << "Borvane 5"
                              << "M25" << false;
    QTest::newRow("marlin") << "marlin"
                            << "Marlin"
                            << "M0" << true;
    QTest::newRow("marlin-m600") << "marlin-m600"
                                 << "Marlin, filament change"
                                 << "M600" << false;
    QTest::newRow("klipper") << "klipper"
                             << "Klipper"
                             << "PAUSE" << true;
    QTest::newRow("reprapfirmware") << "reprapfirmware"
                                    << "RepRapFirmware"
                                    << "M226" << false;
    QTest::newRow("prusa") << "prusa"
                           << "Prusa"
                           << "M601" << false;
    QTest::newRow("octoprint") << "octoprint"
                               << "OctoPrint host"
                               << "@pause" << true;
}

void TestPauseBlock::shippedProfiles()
{
    QFETCH(QString, name);
    QFETCH(QString, title);
    QFETCH(QString, command);
    QFETCH(bool, parks);
    const PrinterProfiles profiles = shipped();
    QVERIFY2(profiles.problems().isEmpty(), qPrintable(profiles.problems().value(0).text()));
    QCOMPARE(profiles.names().size(), 7);
    const PrinterProfile* profile = profiles.find(name);
    QVERIFY(profile);
    QCOMPARE(profile->title, title);
    QCOMPARE(PauseBlocks::commandWord(profile->pauseLine), command);
    QCOMPARE(profile->parks, parks);
    QCOMPARE(profile->defaults.lift, 10.0);
    QVERIFY(!profile->defaults.standby);
    QVERIFY(!profile->defaults.park);
    if (name == u"borvane5")
        QCOMPARE(profile->pauseLine, QStringLiteral("M25")); // today's line, byte for byte
}

void TestPauseBlock::profileFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("loaded"); // names besides the built-in default
    QTest::addColumn<int>("line");           // of the one problem; 0 for none
    QTest::addColumn<QString>("message");    // a part of the problem's text

    QTest::newRow("two good profiles")
        << QByteArray("{ \"printers\": [\n"
                      "  { \"name\": \"a\", \"title\": \"A\", \"pause\": \"M0\", \"parks\": true },\n"
                      "  { \"name\": \"b-2\", \"title\": \"B\", \"pause\": \"M601\" }\n"
                      "] }\n")
        << QStringList{"a", "b-2"} << 0 << QString();
    QTest::newRow("a missing comma on line 3")
        << QByteArray("{ \"printers\": [\n"
                      "  { \"name\": \"a\", \"title\": \"A\", \"pause\": \"M0\" }\n"
                      "  { \"name\": \"b\", \"title\": \"B\", \"pause\": \"M0\" }\n"
                      "] }\n")
        << QStringList{} << 3 << QString();
    QTest::newRow("the second of three entries wrong, the others load")
        << QByteArray("{\n"
                      "  \"printers\": [\n"
                      "    { \"name\": \"a\", \"title\": \"A\", \"pause\": \"M0\" },\n"
                      "    {\n"
                      "      \"name\": \"b\", \"title\": \"B\", \"pause\": \"M0\", \"lift\": 0.2\n"
                      "    },\n"
                      "    { \"name\": \"c\", \"title\": \"C\", \"pause\": \"M0\" }\n"
                      "  ]\n"
                      "}\n")
        << QStringList{"a", "c"} << 4 << QStringLiteral("\"lift\"");
    QTest::newRow("an unknown key")
        << QByteArray("{\"printers\":[{\"name\":\"a\",\"title\":\"A\",\"pause\":\"M0\",\"lfit\":3}]}")
        << QStringList{} << 1 << QStringLiteral("lfit");
    QTest::newRow("a name with a capital")
        << QByteArray("{\"printers\":[\n{\"name\":\"Mine\",\"title\":\"A\",\"pause\":\"M0\"}]}")
        << QStringList{} << 2 << QStringLiteral("\"name\"");
    QTest::newRow("a pause of two lines")
        << QByteArray("{\"printers\":[{\"name\":\"a\",\"title\":\"A\",\"pause\":\"M0\\nM0\"}]}")
        << QStringList{} << 1 << QStringLiteral("\"pause\"");
    QTest::newRow("a standby that is no whole degree")
        << QByteArray("{\"printers\":[{\"name\":\"a\",\"title\":\"A\",\"pause\":\"M0\",\"standby\":150.5}]}")
        << QStringList{} << 1 << QStringLiteral("\"standby\"");
    QTest::newRow("a park of one number")
        << QByteArray("{\"printers\":[{\"name\":\"a\",\"title\":\"A\",\"pause\":\"M0\",\"park\":[3]}]}")
        << QStringList{} << 1 << QStringLiteral("\"park\"");
    QTest::newRow("no printers array")
        << QByteArray("{\"printer\": []}") << QStringList{} << 1 << QStringLiteral("printers");
}

void TestPauseBlock::profileFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, loaded);
    QFETCH(int, line);
    QFETCH(QString, message);
    PrinterProfiles profiles;
    profiles.addBytes(bytes, QStringLiteral("/home/u/.config/EditorForBorvane5/printers/mine.json"));
    QCOMPARE(profiles.names(), QStringList{"borvane5"} + loaded);
    QCOMPARE(profiles.problems().size(), line == 0 ? 0 : 1);
    if (line == 0)
        return;
    const ProfileProblem& problem = profiles.problems().front();
    QCOMPARE(problem.line, line);
    QVERIFY2(problem.text().startsWith(QDir::toNativeSeparators(problem.path) + u':' + QString::number(line) +
                                       u':'),
             qPrintable(problem.text()));
    QVERIFY2(problem.message.contains(message), qPrintable(problem.message));
}

// The user's folder holds files of the same form: one replaces a shipped profile, one adds a
// profile, one is broken and is reported while the others load.
void TestPauseBlock::userFileOverrides()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto write = [&](const char* name, const QByteArray& bytes) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    write(
        "a.json",
        "{\"printers\":[{\"name\":\"marlin\",\"title\":\"My Marlin\",\"pause\":\"M125\",\"parks\":false}]}");
    write("b.json", "{\"printers\":[\n{\"name\":\"mine\",\"title\":\"Mine\",\"pause\":\"M0\",\"parks\":true,"
                    "\"park\":[5,200],\"standby\":150,\"prime\":2,\"lift\":4}]}");
    write("c.json", "{\"printers\":[\n\n{\"name\":\"broken\",]}");
    PrinterProfiles profiles = shipped();
    for (const char* name : {"a.json", "b.json", "c.json"})
        profiles.addFile(dir.filePath(QString::fromLatin1(name)));
    QCOMPARE(profiles.names().size(), 8);
    const PrinterProfile* marlin = profiles.find(QStringLiteral("marlin"));
    QVERIFY(marlin);
    QCOMPARE(marlin->title, QStringLiteral("My Marlin"));
    QCOMPARE(marlin->pauseLine, QStringLiteral("M125"));
    QVERIFY(!marlin->parks);
    const PrinterProfile* mine = profiles.find(QStringLiteral("mine"));
    QVERIFY(mine);
    QCOMPARE(mine->defaults.lift, 4.0);
    QCOMPARE(mine->defaults.standby, std::optional<int>(150));
    QCOMPARE(mine->defaults.prime, 2.0);
    QVERIFY(mine->defaults.park && mine->defaults.park->x == 5 && mine->defaults.park->y == 200);
    QCOMPARE(profiles.problems().size(), 1);
    QCOMPARE(profiles.problems().front().path, dir.filePath(QStringLiteral("c.json")));
    QCOMPARE(profiles.problems().front().line, 3);
}

void TestPauseBlock::numbers_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole") << 200.0 << "200";
    QTest::newRow("a slicer's decimals") << 12.6 << "12.6";
    // Computed as the exact decimals the file holds: no binary noise of the sum.
    QTest::newRow("a sum of relative moves") << 0.1 + 0.2 << "0.3";
    QTest::newRow("a retraction and its prime") << 1.65814 - 0.8 + 0.8 << "1.65814";
    QTest::newRow("six decimals kept") << 0.123456 << "0.123456";
    QTest::newRow("small, never in exponent form") << 1e-5 << "0.00001";
    QTest::newRow("negative") << -0.8 << "-0.8";
    QTest::newRow("negative zero") << -0.0 << "0";
}

void TestPauseBlock::numbers()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(PauseBlocks::number(value), text);
    QVERIFY(std::abs(text.toDouble() - value) <= 0.5e-6); // the same length to the nanometre
}

namespace {

// The lines of a block, run on the machine; every rule the block must keep is checked on the way.
// Returns the machine after the block.
struct BlockRun
{
    Reference::Machine after;
    int pauses = 0;
    bool failed = false;
};

struct Segment
{
    double x0, y0, x1, y1;
};

double distanceToSegment(double px, double py, const Segment& s)
{
    const double dx = s.x1 - s.x0, dy = s.y1 - s.y0;
    const double length2 = dx * dx + dy * dy;
    double t = length2 > 0 ? ((px - s.x0) * dx + (py - s.y0) * dy) / length2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(px - (s.x0 + t * dx), py - (s.y0 + t * dy));
}

const QStringList kPauseCommands{"M0", "M1", "M25", "M125", "M226", "M600", "M601", "PAUSE", "@PAUSE"};

// Checks one block from the machine before it; lastLayer: the extrusions of the last printed layer.
void checkBlock(const PrinterProfile& profile, const PauseSettings& settings, const QStringList& lines,
                const Reference::Machine& before, const QList<Segment>& lastLayer)
{
    Reference::Machine m = before;
    int pauses = 0;
    bool standbySet = false;
    bool heatedBack = false;
    std::optional<double> target;
    if (before.toolTargets.contains(before.tool))
        target = before.toolTargets.value(before.tool);
    for (const QString& line : lines) {
        const QString word = PauseBlocks::commandWord(line).toUpper();
        if (kPauseCommands.contains(word)) {
            QCOMPARE(line, profile.pauseLine);
            ++pauses;
            if (profile.parks) {
                QVERIFY2(m.z && *m.z >= *before.z + 1.0 - 1e-9, qPrintable(line));
                QVERIFY(m.retracted());
                for (const Segment& s : lastLayer)
                    QVERIFY2(distanceToSegment(*m.x, *m.y, s) >= 5.0,
                             qPrintable(QStringLiteral("park X%1 Y%2 is %3 mm from a line of the last layer")
                                            .arg(*m.x)
                                            .arg(*m.y)
                                            .arg(distanceToSegment(*m.x, *m.y, s))));
            }
            continue;
        }
        const Reference::Machine::Step step = m.run(line);
        QVERIFY2(!step.command.isEmpty(), qPrintable(QStringLiteral("not a command: ") + line));
        if (step.command == u"M104" && target && m.toolTargets.value(m.tool) != *target)
            standbySet = true;
        if (step.command == u"M109" && target && m.toolTargets.value(m.tool) == *target)
            heatedBack = true;
        if (step.moved) {
            QVERIFY2(!(step.movedXy && step.extruded != 0.0),
                     qPrintable(QStringLiteral("extrudes while moving: ") + line));
            if (step.extruded > 0)
                QVERIFY2(!standbySet || heatedBack,
                         qPrintable(QStringLiteral("extrudes before M109: ") + line));
            if (step.fromZ && step.toZ && *step.toZ < *step.fromZ) {
                // Down only straight over the resume point.
                QVERIFY2(!step.movedXy && step.fromX == before.x && step.fromY == before.y,
                         qPrintable(QStringLiteral("goes down away from the resume point: ") + line));
            }
        }
    }
    QCOMPARE(pauses, 1);
    QCOMPARE(m.x, before.x);
    QCOMPARE(m.y, before.y);
    QCOMPARE(m.z, before.z);
    QCOMPARE(m.e, before.e);
    QCOMPARE(m.shiftX, before.shiftX);
    QCOMPARE(m.shiftY, before.shiftY);
    QCOMPARE(m.shiftZ, before.shiftZ);
    // Primed filament went out of the nozzle: the logical E is as before, the physical one ahead.
    QVERIFY2(std::abs(m.shiftE - before.shiftE - (profile.parks ? settings.prime : 0.0)) < 1e-6,
             qPrintable(QString::number(m.shiftE - before.shiftE, 'g', 17)));
    QCOMPARE(m.relativeXyz, before.relativeXyz);
    QCOMPARE(m.relativeE, before.relativeE);
    if (before.feed)
        QCOMPARE(m.feed, before.feed);
    QCOMPARE(m.tool, before.tool);
    QCOMPARE(m.toolTargets, before.toolTargets);
    QCOMPARE(m.bed, before.bed);
    QCOMPARE(m.fans, before.fans);
    QCOMPARE(m.firmwareRetracted, before.firmwareRetracted);
    QCOMPARE(m.retracted(), before.retracted());
}

// The machine after rows, and the extrusions at the height of the latest one.
struct Walk
{
    Reference::Machine machine;
    QList<Segment> lastLayer;
    std::optional<double> lastZ;

    void run(const QString& line)
    {
        const Reference::Machine::Step step = machine.run(line);
        if (!(step.movedXy && step.extruded > 0 && step.toZ && step.fromX && step.fromY && step.toX &&
              step.toY))
            return;
        if (lastZ != step.toZ)
            lastLayer.clear();
        lastZ = step.toZ;
        lastLayer.append({*step.fromX, *step.fromY, *step.toX, *step.toY});
    }
};

// Empty when two contexts agree on everything a block is built from; else what differs.
QString sameContext(const PauseContext& a, const PauseContext& b, bool withRetraction = true)
{
    const MachineState& s = a.state;
    const MachineState& t = b.state;
    if (s.x != t.x || s.y != t.y || s.z != t.z || s.e != t.e)
        return QStringLiteral("position");
    if (s.relativeXyz != t.relativeXyz || s.relativeE != t.relativeE || s.feed != t.feed || s.tool != t.tool)
        return QStringLiteral("modes, feed or tool");
    if (s.toolTargets != t.toolTargets || s.bedTarget != t.bedTarget || s.fans != t.fans)
        return QStringLiteral("temperatures or fans");
    if (s.firmwareRetraction != t.firmwareRetraction || s.isRetracted() != t.isRetracted() ||
        s.topZ != t.topZ)
        return QStringLiteral("retraction or top");
    // What the rows showed of the file's own retraction; a block's retraction adds to it.
    if (withRetraction && (s.retractLength != t.retractLength || s.retractFeed != t.retractFeed))
        return QStringLiteral("the file's retraction");
    if (a.park.has_value() != b.park.has_value() ||
        (a.park && (a.park->x != b.park->x || a.park->y != b.park->y)))
        return QStringLiteral("park");
    return QString();
}

} // namespace

void TestPauseBlock::handmadeBlock_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<std::optional<int>>("standby");
    QTest::addColumn<double>("prime");
    QTest::addColumn<double>("lift");
    QTest::addColumn<QString>("block");

    QTest::newRow("absolute E, Marlin: the file's retraction, park at the far travel point")
        << "G90\nM82\nM104 S210\nG1 X10 Y10 Z0.2 F3000\nG1 X50 Y10 E5 F1200\nG1 E4.2 F2400\n"
           "G1 X200 Y200 F6000\nG1 X10 Y10\nG1 E5\nG1 X50 Y20 E6 F1200\n"
        << "marlin" << std::optional<int>() << 0.0 << 10.0
        << "G1 E5.2 F2400\nG1 Z10.2 F600\nG1 X200 Y200 F6000\nM0 Click to resume\n"
           "G1 X50 Y20 F6000\nG1 Z0.2 F600\nG1 E6 F2400\nG1 F1200";
    QTest::newRow("relative XYZ and E, Klipper: G90 then M83 again, standby, prime at the park")
        << "M104 S200\nG92 X0 Y0 Z0 E0\nG91\nG1 X10 Y10 Z0.3 F3000\nG1 X40 E2 F1200\nG1 E-1.5 F1800\n"
           "G1 X150 Y190 F6000\nG1 X-150 Y-190\nG1 E1.5\nG1 Y10 E0.5 F1200\n"
        << "klipper" << std::optional<int>(150) << 2.0 << 10.0
        << "G1 E-1.5 F1800\nG90\nM83\nG1 Z10.3 F600\nG1 X200 Y200 F6000\nM104 S150\nPAUSE\nM109 S200\n"
           "G1 E3.5 F300\nG1 E-1.5 F1800\nG1 X50 Y20 F6000\nG1 Z0.3 F600\nG1 E1.5 F1800\nG92 E2.5\nG91\nM83\n"
           "G1 F1200";
    QTest::newRow("firmware retraction already pulled back: no second G10, no G11")
        << "G90\nM83\nM104 S215\nG1 X0 Y0 Z0.2 F3000\nG1 X20 Y0 E1 F1000\nG10\nG1 X100 Y100 F6000\nG1 X10 "
           "Y5\n"
        << "octoprint" << std::optional<int>() << 0.0 << 10.0
        << "G1 Z10.2 F600\nG1 X100 Y100 F6000\n@pause\nG1 X10 Y5 F6000\nG1 Z0.2 F600\nG1 F6000";
    QTest::newRow("firmware retraction, a lift below 1 mm lifts 1 mm")
        << "G90\nM82\nG1 X0 Y0 Z0.4 F3000\nG1 X20 Y0 E1 F1000\nG10\nG1 X30 Y80 F6000\nG1 X30 Y30\nG11\n"
           "G1 X40 Y30 E2 F1000\n"
        << "marlin" << std::optional<int>() << 0.0 << 0.5
        << "G10\nG1 Z1.4 F600\nG1 X30 Y80 F6000\nM0 Click to resume\nG1 X40 Y30 F6000\nG1 Z0.4 F600\nG11\nG1 "
           "F1000";
    QTest::newRow("no retraction in the file: 1 mm; a standby with no target is left out")
        << "G90\nM82\nG1 X0 Y0 Z0.2 F3000\nG1 X0 Y100 F3000\nG1 X0 Y0\nG1 X20 Y0 E1 F1000\n"
        << "klipper" << std::optional<int>(150) << 0.0 << 10.0
        << "G1 E0 F2100\nG1 Z10.2 F600\nG1 X0 Y100 F6000\nPAUSE\nG1 X20 Y0 F6000\nG1 Z0.2 F600\nG1 E1 F2100\n"
           "G1 F1000";
    QTest::newRow("a profile that does not park: its line alone")
        << "G90\nG1 X0 Y0 Z0.2 F3000\nG1 X20 Y0 E1 F1000\n"
        << "prusa" << std::optional<int>(150) << 2.0 << 10.0 << "M601";
}

void TestPauseBlock::handmadeBlock()
{
    QFETCH(QString, rows);
    QFETCH(QString, profile);
    QFETCH(std::optional<int>, standby);
    QFETCH(double, prime);
    QFETCH(double, lift);
    QFETCH(QString, block);
    const PrinterProfiles profiles = shipped();
    const PrinterProfile* printer = profiles.find(profile);
    QVERIFY(printer);
    PauseSettings settings = printer->defaults;
    settings.standby = standby;
    settings.prime = prime;
    settings.lift = lift;
    const QByteArray bytes = rows.toLatin1();
    const PauseContext context =
        pauseContextAt(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    const PauseBlock built = PauseBlocks::build(*printer, settings, context);
    QCOMPARE(built.lines.join(u'\n'), block);

    Walk walk;
    for (const QString& line : rows.split(u'\n'))
        walk.run(line);
    checkBlock(*printer, settings, built.lines, walk.machine, walk.lastLayer);
}

void TestPauseBlock::parkKeepsClearOfArcs_data()
{
    // The head visits X100 Y128 and X100 Y72, 28 mm above and below X100 Y100, then prints an arc
    // of radius 30 around X100 Y100 from X130 Y100. The straight line from start to end is not what
    // is printed: the park is the visited point on the side the arc does not pass.
    QTest::addColumn<QString>("arc");
    QTest::addColumn<double>("parkX");
    QTest::addColumn<double>("parkY");
    QTest::newRow("G2 I J: clockwise, by the bottom") << "G2 X70 Y100 I-30 J0 E5" << 100.0 << 128.0;
    QTest::newRow("G3 I J: counter-clockwise, by the top") << "G3 X70 Y100 I-30 J0 E5" << 100.0 << 72.0;
    QTest::newRow("G2 R: a half circle has one centre") << "G2 X70 Y100 R30 E5" << 100.0 << 128.0;
    // Ending where it starts, the arc is a whole circle: the centre, 30 mm from all of it.
    QTest::newRow("G3 whole circle") << "G3 X130 Y100 I-30 J0 E5" << 100.0 << 100.0;
    QTest::newRow("G2 without X and Y: a whole circle") << "G2 I-30 J0 E5" << 100.0 << 100.0;
}

void TestPauseBlock::parkKeepsClearOfArcs()
{
    QFETCH(QString, arc);
    QFETCH(double, parkX);
    QFETCH(double, parkY);
    const QByteArray bytes = ("G90\nM82\nG1 X100 Y128 Z0.2 F6000\nG1 X100 Y72\nG1 X100 Y100\nG1 X130 Y100\n" +
                              arc + "\nG1 X130 Y100 F6000\n")
                                 .toLatin1();
    const PauseContext context =
        pauseContextAt(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    QVERIFY(context.park);
    QCOMPARE(context.park->x, parkX);
    QCOMPARE(context.park->y, parkY);
}

void TestPauseBlock::printedCellsFollowTheExtrusions_data()
{
    // Random extrusions and travels in a box of the bed (mm), from a fixed seed.
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<int>("moves");
    QTest::newRow("a bed from zero") << 0.0 << 220.0 << 300;
    QTest::newRow("a delta bed round zero") << -120.0 << 120.0 << 300;
    QTest::newRow("short moves in a corner") << 40.0 << 46.0 << 300;
    // Wider than the dense grid the cells are kept in: the far ones go elsewhere.
    QTest::newRow("metres apart") << -3000.0 << 6000.0 << 12;
}

// The cells of 2 mm the tracker marks as printed, checked against the extrusions themselves: each
// marked cell touches an extrusion, and each point of an extrusion lies in a marked cell or next to
// one (an extrusion is sampled once per cell length).
void TestPauseBlock::printedCellsFollowTheExtrusions()
{
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(int, moves);
    struct Segment
    {
        double x0, y0, x1, y1;
    };
    std::mt19937 random(20261211);
    std::uniform_real_distribution<double> along(low, high);
    std::string rows = "G90\nM82\nG1 Z0.2 F3000\n";
    std::vector<Segment> printed;
    double x = along(random), y = along(random), e = 0.0;
    rows += "G1 X" + std::to_string(x) + " Y" + std::to_string(y) + "\n";
    for (int i = 0; i < moves; ++i) {
        // std::to_string writes six decimals: the segment is taken as the text says.
        const double nx = std::stod(std::to_string(along(random)));
        const double ny = std::stod(std::to_string(along(random)));
        const bool extrudes = i % 3 != 0;
        rows += "G1 X" + std::to_string(nx) + " Y" + std::to_string(ny);
        if (extrudes) {
            e += 1.0;
            rows += " E" + std::to_string(e);
            printed.push_back({x, y, nx, ny});
        }
        rows += "\n";
        x = nx, y = ny;
    }
    MachineTracker tracker;
    tracker.rows(rows);

    const auto distanceToSegment = [](double px, double py, const Segment& s) {
        const double dx = s.x1 - s.x0, dy = s.y1 - s.y0;
        const double length2 = dx * dx + dy * dy;
        const double t =
            length2 > 0 ? std::clamp(((px - s.x0) * dx + (py - s.y0) * dy) / length2, 0.0, 1.0) : 0.0;
        return std::hypot(px - (s.x0 + t * dx), py - (s.y0 + t * dy));
    };
    std::set<std::pair<std::int32_t, std::int32_t>> marked;
    tracker.printed().forEach([&](std::uint64_t cell, std::uint32_t) {
        marked.insert({std::int32_t(std::uint32_t(cell >> 32)), std::int32_t(std::uint32_t(cell))});
    });
    for (const auto& [cx, cy] : marked) {
        // A segment touches the 2 mm cell only if it passes within half its diagonal of the centre.
        const double centreX = 2.0 * cx + 1.0, centreY = 2.0 * cy + 1.0;
        double nearest = std::numeric_limits<double>::infinity();
        for (const Segment& segment : printed)
            nearest = std::min(nearest, distanceToSegment(centreX, centreY, segment));
        QVERIFY2(
            nearest <= std::sqrt(2.0) + 1e-3,
            qPrintable(
                QStringLiteral("cell %1 %2 is %3 mm from every extrusion").arg(cx).arg(cy).arg(nearest)));
    }
    QVERIFY(!marked.empty());
    for (const Segment& segment : printed) {
        const double length = std::hypot(segment.x1 - segment.x0, segment.y1 - segment.y0);
        const int points = int(std::ceil(length / 0.5)) + 1;
        for (int i = 0; i <= points; ++i) {
            const double t = double(i) / points;
            const auto cx = std::int32_t(std::floor((segment.x0 + t * (segment.x1 - segment.x0)) / 2.0));
            const auto cy = std::int32_t(std::floor((segment.y0 + t * (segment.y1 - segment.y0)) / 2.0));
            bool near = false;
            for (std::int32_t ox = -1; ox <= 1 && !near; ++ox)
                for (std::int32_t oy = -1; oy <= 1 && !near; ++oy)
                    near = marked.count({cx + ox, cy + oy}) > 0;
            QVERIFY2(near, qPrintable(QStringLiteral("no marked cell next to cell %1 %2").arg(cx).arg(cy)));
        }
    }
}

void TestPauseBlock::realFile_data()
{
    if (!Reference::addRealFileRows(QStringLiteral(BORVANE_REAL_FIXTURES_DIR), "path"))
        QSKIP("The real slicer files are not beside the repository.");
}

// Every profile, with its defaults and with a standby, a prime and a lift of its own, before the
// layers at a quarter, a half and three quarters of the print.
void TestPauseBlock::realFile()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const qsizetype headerLength = SlicedFile::headerLength(bytes);
    QVERIFY(headerLength > 0);
    const TextRows rows(bytes.mid(headerLength));
    const LayerIndex index = LayerIndex::build(rows.bytes());
    QVERIFY(index.layers().size() >= 4);
    const PrinterProfiles profiles = shipped();

    const PauseIndex pauseIndex = PauseIndex::build(rows.bytes());
    Walk walk;
    int walked = 0;
    for (const int quarter : {1, 2, 3}) {
        const Layer& layer = index.layers()[index.layers().size() * std::size_t(quarter) / 4];
        for (; walked < layer.row; ++walked)
            walk.run(rows.rowText(walked));
        const std::string_view before = rows.bytes().substr(0, std::size_t(rows.rowStart(layer.row)));
        const PauseContext context = pauseContextAt(before);
        QVERIFY(walk.machine.z);
        // The tracker and the machine agree on where the head is.
        QCOMPARE(context.state.x, walk.machine.x);
        QCOMPARE(context.state.y, walk.machine.y);
        QCOMPARE(context.state.z, walk.machine.z);
        QCOMPARE(context.state.e, walk.machine.e);
        // From the nearest checkpoint, the index finds what the pass from the start finds.
        const PauseContext indexed = pauseIndex.contextAt(rows.bytes(), before.size());
        QCOMPARE(sameContext(indexed, context), QString());
        // A block put in at the row leaves the machine as it was: the index follows it, and the
        // next quarter's row finds the same as a pass over the text with the block in it.
        if (quarter < 3) {
            const PauseBlock block =
                PauseBlocks::build(*profiles.find(QStringLiteral("marlin")),
                                   profiles.find(QStringLiteral("marlin"))->defaults, context);
            const std::string blockBytes = (block.lines.join(u'\n') + u'\n').toStdString();
            std::string text(rows.bytes());
            text.insert(before.size(), blockBytes);
            PauseIndex followed = pauseIndex;
            followed.bytesInserted(before.size(), blockBytes.size());
            const Layer& next = index.layers()[index.layers().size() * std::size_t(quarter + 1) / 4];
            const std::size_t nextOffset = std::size_t(rows.rowStart(next.row)) + blockBytes.size();
            QCOMPARE(sameContext(followed.contextAt(text, nextOffset),
                                 pauseContextAt(std::string_view(text).substr(0, nextOffset)), false),
                     QString());
        }
        for (const PrinterProfile& profile : profiles.profiles()) {
            PauseSettings own = profile.defaults;
            own.standby = 150;
            own.prime = 2.5;
            own.lift = 3;
            for (const PauseSettings& settings : {profile.defaults, own}) {
                const PauseBlock block = PauseBlocks::build(profile, settings, context);
                if (!profile.parks)
                    QCOMPARE(block.lines, QStringList{profile.pauseLine});
                QVERIFY(profile.parks == block.parked);
                checkBlock(profile, settings, block.lines, walk.machine, walk.lastLayer);
                if (QTest::currentTestFailed()) {
                    qWarning("%s at row %d, layer %d of %d, %s:\n%s", qPrintable(path), layer.row,
                             int(index.layers().size() * std::size_t(quarter) / 4) + 1,
                             int(index.layers().size()), qPrintable(profile.name),
                             qPrintable(block.lines.join(u'\n')));
                    return;
                }
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestPauseBlock)
#include "tst_pauseblock.moc"
