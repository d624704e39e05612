// The printer profiles, the machine state at a row and the park-and-resume block. The blocks are
// run on a G-code machine written from the firmware documentation (tests/support/GCodeMachine.h),
// on handmade rows and on every real slicer file beside the repository, at three heights each.

#include "GCodeMachine.h"
#include "RealFileRows.h"
#include "ReferenceLayers.h"
#include "TestPaths.h"

#include "core/printer/BedShape.h"
#include "core/layers/LayerIndex.h"
#include "core/machine/MachineState.h"
#include "core/printer/PauseBlock.h"
#include "core/printer/PrinterProfiles.h"
#include "core/file/SlicedFile.h"
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

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

class TestPauseBlock : public QObject
{
    Q_OBJECT

private slots:
    void shippedProfiles_data();
    void shippedProfiles();
    void profileFiles_data();
    void profileFiles();
    void userFileOverrides();
    void specialFilesAreNotRead();
    void manyProfilesEachFoundByName();
    void numbers_data();
    void numbers();
    void handmadeBlock_data();
    void handmadeBlock();
    void parkClearOfThePrint_data();
    void parkClearOfThePrint();
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

    // A pause line goes into the file as it stands: each of these would put something there
    // that is no G-code line (JSON escapes, as a file would hold them; the entry is on line 2).
    const auto pause = [](const char* escaped) {
        return QByteArray("{\"printers\":[\n{\"name\":\"a\",\"title\":\"A\",\"pause\":\"") + escaped +
               "\"}]}";
    };
    QTest::newRow("a pause with a NUL") << pause("M0\\u0000G28") << QStringList{} << 2 << "U+0000";
    QTest::newRow("a pause with a vertical tab") << pause("M0\\u000bG28") << QStringList{} << 2 << "U+000B";
    QTest::newRow("a pause with a form feed") << pause("M0\\fG28") << QStringList{} << 2 << "U+000C";
    QTest::newRow("a pause with a tab") << pause("M0\\tG28") << QStringList{} << 2 << "U+0009";
    QTest::newRow("a pause with NEL (U+0085)") << pause("M0\\u0085G28") << QStringList{} << 2 << "U+0085";
    QTest::newRow("a pause with a line separator (U+2028)")
        << pause("M0\\u2028G28") << QStringList{} << 2 << "U+2028";
    QTest::newRow("a pause with a paragraph separator (U+2029)")
        << pause("M0\\u2029G28") << QStringList{} << 2 << "U+2029";
    QTest::newRow("a pause with an escape") << pause("M117 \\u001b[2J") << QStringList{} << 2 << "U+001B";
    QTest::newRow("a pause with a zero-width joiner (a format character)")
        << pause("M0\\u200d") << QStringList{} << 2 << "U+200D";
    QTest::newRow("a pause of 97 bytes")
        << pause(("M117 " + QByteArray(92, 'x')).constData()) << QStringList{} << 2 << "97 bytes";
    QTest::newRow("a pause of 96 bytes, its longest")
        << pause(("M117 " + QByteArray(91, 'x')).constData()) << QStringList{"a"} << 0 << QString();
    QTest::newRow("a pause with a degree sign, printable")
        << pause("M117 Cool to 50\\u00b0C") << QStringList{"a"} << 0 << QString();
    QTest::newRow("a pause that is no text") << QByteArray("{\"printers\":[{\"name\":\"a\",\"title\":\"A\",\"pause\":25}]}")
                                             << QStringList{} << 1 << "\"pause\"";
    const auto title = [](const char* escaped) {
        return QByteArray("{\"printers\":[\n\n{\"name\":\"a\",\"title\":\"") + escaped +
               "\",\"pause\":\"M0\"}]}";
    };
    QTest::newRow("a title with an escape sequence") << title("\\u001b]0;owned\\u0007") << QStringList{} << 3
                                                     << "U+001B";
    QTest::newRow("a title with a bell") << title("A\\u0007") << QStringList{} << 3 << "U+0007";
    QTest::newRow("a title of 81 characters") << title(QByteArray(81, 'T').constData()) << QStringList{} << 3
                                              << "81 characters";
    QTest::newRow("a title in Greek, printable") << title("\\u0395\\u03BA\\u03C4\\u03C5\\u03C0\\u03C9\\u03C4\\u03AE\\u03C2")
                                                 << QStringList{"a"} << 0 << QString();
    QTest::newRow("an unknown key with an escape, shown escaped")
        << QByteArray("{\"printers\":[{\"name\":\"a\",\"title\":\"A\",\"pause\":\"M0\",\"\\u001b[31m\":1}]}")
        << QStringList{} << 1 << "\\u001b[31m";

    // Every number of a block has its range: a bed is not a kilometre wide.
    const auto settings = [](const char* members) {
        return QByteArray("{\"printers\":[{\"name\":\"a\",\"title\":\"A\",\"pause\":\"M0\",") + members +
               "}]}";
    };
    QTest::newRow("a park of 1e308") << settings("\"park\":[1e308,-1e308]") << QStringList{} << 1 << "\"park\"";
    QTest::newRow("a park past 2000 mm") << settings("\"park\":[0,2000.5]") << QStringList{} << 1 << "\"park\"";
    QTest::newRow("a park at the ends of its range")
        << settings("\"park\":[-2000,2000]") << QStringList{"a"} << 0 << QString();
    QTest::newRow("a lift of 1e308") << settings("\"lift\":1e308") << QStringList{} << 1 << "\"lift\"";
    QTest::newRow("a standby of 1000") << settings("\"standby\":1000") << QStringList{} << 1 << "\"standby\"";
    QTest::newRow("a standby below 0") << settings("\"standby\":-1") << QStringList{} << 1 << "\"standby\"";
    QTest::newRow("a prime of 1e308") << settings("\"prime\":1e308") << QStringList{} << 1 << "\"prime\"";
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

// A pipe nobody writes would hold the read for ever, /dev/zero would never end, and neither is a
// profile file: a link to either is reported and passed over, as is a file past the size limit.
void TestPauseBlock::specialFilesAreNotRead()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(QFile::link(fifo, dir.filePath(QStringLiteral("a.json"))));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), dir.filePath(QStringLiteral("b.json"))));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("c.json"))));
    {
        QFile large(dir.filePath(QStringLiteral("d.json")));
        QVERIFY(large.open(QIODevice::WriteOnly));
        QVERIFY(large.resize(PrinterProfiles::kLargestFile + 1)); // sparse: no disk space taken
    }
    QFile good(dir.filePath(QStringLiteral("e.json")));
    QVERIFY(good.open(QIODevice::WriteOnly));
    good.write("{\"printers\":[{\"name\":\"mine\",\"title\":\"Mine\",\"pause\":\"M0\"}]}");
    good.close();

    PrinterProfiles profiles; // a read that waits on the pipe never ends, and the test times out
    for (const char* name : {"a.json", "b.json", "c.json", "d.json", "e.json"})
        profiles.addFile(dir.filePath(QString::fromLatin1(name)));
    QCOMPARE(profiles.names(), (QStringList{"borvane5", "mine"}));
    QCOMPARE(profiles.problems().size(), 4);
    for (int k = 0; k < 3; ++k)
        QVERIFY2(profiles.problems()[k].message.contains(u"not a regular file"),
                 qPrintable(profiles.problems()[k].text()));
    QVERIFY2(profiles.problems()[3].message.contains(u"larger than 4 MB"), qPrintable(profiles.problems()[3].text()));
#else
    QSKIP("makes a pipe and links to devices");
#endif
}

// Many profiles in one file, each a distinct name, then the same file again: each replaces its
// own, in its place, as found by its name.
void TestPauseBlock::manyProfilesEachFoundByName()
{
    QByteArray bytes = "{\"printers\":[\n";
    constexpr int kCount = 5000;
    for (int i = 0; i < kCount; ++i)
        bytes += "{\"name\":\"p" + QByteArray::number(i) + "\",\"title\":\"P\",\"pause\":\"M0\"}" +
                 (i + 1 < kCount ? ",\n" : "\n");
    bytes += "]}\n";
    PrinterProfiles profiles;
    profiles.addBytes(bytes, QStringLiteral("many.json"));
    profiles.addBytes(bytes, QStringLiteral("again.json"));
    QCOMPARE(profiles.profiles().size(), kCount + 1);
    QCOMPARE(profiles.problems().size(), 0);
    const PrinterProfile* last = profiles.find(QStringLiteral("p4999"));
    QVERIFY(last);
    QCOMPARE(last->source, QStringLiteral("again.json"));
    QCOMPARE(profiles.profiles().back().name, QStringLiteral("p4999"));
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
    int holds = 0, releases = 0;
    for (const QString& line : lines) {
        const QString word = PauseBlocks::commandWord(line).toUpper();
        // The profile's lines that hold the motors for the pause and give the idle timeout back.
        if (!profile.motorsHold.isEmpty() && line == profile.motorsHold) {
            QVERIFY2(pauses == 0, "the motors are held after the pause");
            ++holds;
            continue;
        }
        if (!profile.motorsRelease.isEmpty() && line == profile.motorsRelease) {
            QVERIFY2(pauses == 1, "the idle timeout is given back before the pause");
            ++releases;
            continue;
        }
        if (kPauseCommands.contains(word)) {
            QCOMPARE(line, profile.pauseLine);
            ++pauses;
            if (profile.parks) {
                QVERIFY2(m.z && *m.z >= *before.z + 1.0 - 1e-9, qPrintable(line));
                // Pulled back, unless the nozzle is too cold for any E move.
                QVERIFY(m.retracted() || m.toolTargets.value(m.tool, 0.0) < 170.0);
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
        // Marlin refuses an E move below EXTRUDE_MINTEMP (170 °C), Klipper below min_extrude_temp
        // (170 °C by default); G10 and G11 move E too.
        if ((step.moved && step.extruded != 0.0) || step.command == u"G10" || step.command == u"G11")
            QVERIFY2(m.toolTargets.value(m.tool, 0.0) >= 170.0,
                     qPrintable(QStringLiteral("moves E on a nozzle below 170 \u00B0C: ") + line));
        // A nozzle the file switched off (or never set) is neither set to a standby nor heated back.
        if (step.command == u"M104" || step.command == u"M109")
            QVERIFY2(target && *target > 0,
                     qPrintable(QStringLiteral("heats a nozzle that is off: ") + line));
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
    QCOMPARE(holds, profile.parks && !profile.motorsHold.isEmpty() ? 1 : 0);
    QCOMPARE(releases, holds);
    QCOMPARE(m.inches, before.inches);
    QCOMPARE(m.x, before.x);
    QCOMPARE(m.y, before.y);
    QCOMPARE(m.z, before.z);
    QCOMPARE(m.e, before.e);
    QCOMPARE(m.shiftX, before.shiftX);
    QCOMPARE(m.shiftY, before.shiftY);
    QCOMPARE(m.shiftZ, before.shiftZ);
    // Primed filament went out of the nozzle: the logical E is as before, the physical one ahead.
    // No prime on a nozzle below the cold-extrusion limit.
    const bool primes = profile.parks && before.x && before.y && before.z && target && *target >= 170.0;
    QVERIFY2(std::abs(m.shiftE - before.shiftE - (primes ? settings.prime : 0.0)) < 1e-6,
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

// The machine after rows, the extrusions at the height of the latest one, and all of them.
// Arcs count by their chord here: the fixtures that check every extrusion print none.
struct Walk
{
    Reference::Machine machine;
    QList<Segment> lastLayer;
    QList<Segment> printed;
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
        printed.append(lastLayer.back());
    }

    // The nearest extrusion so far to X Y.
    double distance(double x, double y) const
    {
        double nearest = std::numeric_limits<double>::infinity();
        for (const Segment& segment : printed)
            nearest = std::min(nearest, distanceToSegment(x, y, segment));
        return nearest;
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
        << "G1 E5.2 F2400\nG1 Z10.2 F600\nG1 X200 Y200 F6000\nM84 S0\nM0 Click to resume\n"
           "G1 X50 Y20 F6000\nG1 Z0.2 F600\nG1 E6 F2400\nG1 F1200\nM84 S120";
    QTest::newRow("relative XYZ and E, Klipper: G90 then M83 again, standby, prime at the park")
        << "M104 S200\nG92 X0 Y0 Z0 E0\nG91\nG1 X10 Y10 Z0.3 F3000\nG1 X40 E2 F1200\nG1 E-1.5 F1800\n"
           "G1 X150 Y190 F6000\nG1 X-150 Y-190\nG1 E1.5\nG1 Y10 E0.5 F1200\n"
        << "klipper" << std::optional<int>(150) << 2.0 << 10.0
        << "G1 E-1.5 F1800\nG90\nM83\nG1 Z10.3 F600\nG1 X200 Y200 F6000\nM104 S150\n"
           "SET_IDLE_TIMEOUT TIMEOUT=86400\nPAUSE\nM109 S200\n"
           "G1 E3.5 F300\nG1 E-1.5 F1800\nG1 X50 Y20 F6000\nG1 Z0.3 F600\nG1 E1.5 F1800\nG92 E2.5\nG91\nM83\n"
           "G1 F1200\nSET_IDLE_TIMEOUT TIMEOUT=600";
    QTest::newRow("firmware retraction already pulled back: no second G10, no G11")
        << "G90\nM83\nM104 S215\nG1 X0 Y0 Z0.2 F3000\nG1 X20 Y0 E1 F1000\nG10\nG1 X100 Y100 F6000\nG1 X10 "
           "Y5\n"
        << "octoprint" << std::optional<int>() << 0.0 << 10.0
        << "G1 Z10.2 F600\nG1 X100 Y100 F6000\nM84 S0\n@pause\nG1 X10 Y5 F6000\nG1 Z0.2 F600\nG1 F6000\nM84 "
           "S120";
    QTest::newRow("firmware retraction, a lift below 1 mm lifts 1 mm")
        << "G90\nM82\nM104 S205\nG1 X0 Y0 Z0.4 F3000\nG1 X20 Y0 E1 F1000\nG10\nG1 X30 Y80 F6000\nG1 X30 Y30\n"
           "G11\nG1 X40 Y30 E2 F1000\n"
        << "marlin" << std::optional<int>() << 0.0 << 0.5
        << "G10\nG1 Z1.4 F600\nG1 X30 Y80 F6000\nM84 S0\nM0 Click to resume\nG1 X40 Y30 F6000\nG1 Z0.4 F600\n"
           "G11\nG1 F1000\nM84 S120";
    QTest::newRow("no retraction in the file: 1 mm")
        << "G90\nM82\nM104 S200\nG1 X0 Y0 Z0.2 F3000\nG1 X0 Y100 F3000\nG1 X0 Y0\nG1 X20 Y0 E1 F1000\n"
        << "klipper" << std::optional<int>() << 0.0 << 10.0
        << "G1 E0 F2100\nG1 Z10.2 F600\nG1 X0 Y100 F6000\nSET_IDLE_TIMEOUT TIMEOUT=86400\nPAUSE\n"
           "G1 X20 Y0 F6000\nG1 Z0.2 F600\nG1 E1 F2100\nG1 F1000\nSET_IDLE_TIMEOUT TIMEOUT=600";
    QTest::newRow("cold, before any heating: no E move, and a standby with no target is left out")
        << "G90\nM82\nG1 X0 Y0 Z0.2 F3000\nG1 X0 Y100 F3000\nG1 X0 Y0\nG1 X20 Y0 E1 F1000\n"
        << "klipper" << std::optional<int>(150) << 0.0 << 10.0
        << "G1 Z10.2 F600\nG1 X0 Y100 F6000\nSET_IDLE_TIMEOUT TIMEOUT=86400\nPAUSE\nG1 X20 Y0 F6000\n"
           "G1 Z0.2 F600\nG1 F1000\nSET_IDLE_TIMEOUT TIMEOUT=600";
    QTest::newRow("a nozzle set to 140 \u00B0C, below the limit: no E move, no prime")
        << "G90\nM82\nM104 S140\nG1 X0 Y0 Z0.2 F3000\nG1 X0 Y100 F3000\nG1 X0 Y0\nG1 X20 Y0 E1 F1000\n"
        << "marlin" << std::optional<int>() << 2.0 << 10.0
        << "G1 Z10.2 F600\nG1 X0 Y100 F6000\nM84 S0\nM0 Click to resume\nG1 X20 Y0 F6000\nG1 Z0.2 F600\n"
           "G1 F1000\nM84 S120";
    QTest::newRow("after the end code's M104 S0: no standby, no M109 S0, no E move")
        << "G90\nM82\nM104 S210\nG1 X0 Y0 Z0.2 F3000\nG1 X0 Y100 F3000\nG1 X0 Y0\nG1 X20 Y0 E1 F1000\n"
           "M104 S0\n"
        << "marlin" << std::optional<int>(170) << 0.0 << 10.0
        << "G1 Z10.2 F600\nG1 X0 Y100 F6000\nM84 S0\nM0 Click to resume\nG1 X20 Y0 F6000\nG1 Z0.2 F600\n"
           "G1 F1000\nM84 S120";
    // 0.01 in = 0.254 mm; the lift of 10 mm to 10.254 mm = 0.403700787 in, 600 and 6000 mm/min =
    // 23.622047244 and 236.220472441 in/min, written to the millionth as every number of a block
    // (0.403701, 23.622047, 236.220472); the file's retraction 0.02 in.
    QTest::newRow("G20 in force: the block in inches")
        << "G21\nG90\nM82\nM104 S210\nG20\nG1 X0 Y0 Z0.01 F100\nG1 X4 Y0 E0.04 F50\nG1 E0.02 F90\n"
           "G1 X0 Y4 F200\nG1 X1 Y1\nG1 E0.04\n"
        << "marlin" << std::optional<int>() << 0.0 << 10.0
        << "G1 E0.02 F90\nG1 Z0.403701 F23.622047\nG1 X0 Y4 F236.220472\nM84 S0\nM0 Click to "
           "resume\n"
           "G1 X1 Y1 F236.220472\nG1 Z0.01 F23.622047\nG1 E0.04 F90\nG1 F200\nM84 S120";
    // Relative E values with no M83 (nor M82, G90, G91): read as absolute they look pulled back
    // by 1 mm; the block says M83 for its own moves and gives Marlin's default, absolute, back.
    QTest::newRow("an E mode never stated: M83 for the block, M82 after")
        << "M104 S210\nG1 X0 Y100 Z0.2 F3000\nG1 X0 Y0\nG1 X20 Y0 E1.5 F1200\nG1 X40 Y0 E1.25\n"
           "G1 X40 Y20 E0.5\n"
        << "marlin" << std::optional<int>() << 0.0 << 10.0
        << "M83\nG1 E-1 F2100\nG1 Z10.2 F600\nG1 X0 Y100 F6000\nM84 S0\nM0 Click to resume\n"
           "G1 X40 Y20 F6000\nG1 Z0.2 F600\nG1 E1 F2100\nM82\nG1 F1200\nM84 S120";
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

void TestPauseBlock::parkClearOfThePrint_data()
{
    // A file whose start macro homes the head: every position it visits is a corner of the square
    // it prints (30 mm, three layers), so none is clear of the print. The bed is read from the
    // slicer's own comment, in each slicer's form, before the rows (top) or after them (end).
    QTest::addColumn<QString>("top");
    QTest::addColumn<QString>("end");
    QTest::addColumn<double>("corner"); // the square's lower-left X and Y
    QTest::addColumn<bool>("profileBed");
    // The bed as the comment gives it: a box, or (round) within a circle of radius x1 round X0 Y0.
    QTest::addColumn<double>("x0");
    QTest::addColumn<double>("y0");
    QTest::addColumn<double>("x1");
    QTest::addColumn<double>("y1");
    QTest::addColumn<bool>("round");
    QTest::addColumn<bool>("clear");
    QTest::newRow("PrusaSlicer bed_shape, at the end")
        << ""
        << "; bed_shape = 0x0,220x0,220x220,0x220\n"
        << 100.0 << false << 0.0 << 0.0 << 220.0 << 220.0 << false << true;
    QTest::newRow("BambuStudio printable_area, at the top")
        << "; printable_area = 0x0,256x0,256x256,0x256\n"
        << "" << 110.0 << false << 0.0 << 0.0 << 256.0 << 256.0 << false << true;
    QTest::newRow("Simplify3D stroke, origin in the middle")
        << ";   strokeXoverride,200\n;   strokeYoverride,180\n;   originOffsetXoverride,100\n"
           ";   originOffsetYoverride,90\n"
        << "" << -15.0 << false << -100.0 << -90.0 << 100.0 << 90.0 << false << true;
    QTest::newRow("KISSlicer bed_size, centred on its offset")
        << "; bed_size_x_mm = 200\r\n; bed_size_y_mm = 160\r\n; bed_offset_x_mm = 0\r\n; bed_offset_y_mm = "
           "0\r\n"
        << "" << -15.0 << false << -100.0 << -80.0 << 100.0 << 80.0 << false << true;
    QTest::newRow("ideaMaker Dimension")
        << ";Dimension: 225.000 225.000 240.000 0.400\n"
        << "" << 95.0 << false << 0.0 << 0.0 << 225.0 << 225.0 << false << true;
    QTest::newRow("Cura machine size among the changed settings")
        << ""
        << ";SETTING_3 {\"global_quality\": \"[general]\\\\nversion = 4\\\\n[values]\\\\nmachine_depth = 210"
           "\\\\nmachine_width = 200\\\\n\"}\n"
        << 85.0 << false << 0.0 << 0.0 << 200.0 << 210.0 << false << true;
    // The octagon's corners lie 100 mm from its centre: a point 10 mm inside it lies within 90 mm.
    QTest::newRow("a delta's round bed, an octagon")
        << ""
        << "; bed_shape = 100x0,70.7107x70.7107,0x100,-70.7107x70.7107,-100x0,-70.7107x-70.7107,0x-100,"
           "70.7107x-70.7107\n"
        << -15.0 << false << 0.0 << 0.0 << 100.0 << 0.0 << true << true;
    QTest::newRow("no bed in the file: the printer profile's")
        << ""
        << "" << 100.0 << true << 0.0 << 0.0 << 200.0 << 200.0 << false << true;
    QTest::newRow("a bed the print is not on: not used")
        << ""
        << "; bed_shape = 0x0,50x0,50x50,0x50\n"
        << 100.0 << false << 0.0 << 0.0 << 0.0 << 0.0 << false << false;
    QTest::newRow("no bed at all: not clear, and the block says so")
        << ""
        << "" << 100.0 << false << 0.0 << 0.0 << 0.0 << 0.0 << false << false;
}

void TestPauseBlock::parkClearOfThePrint()
{
    QFETCH(QString, top);
    QFETCH(QString, end);
    QFETCH(double, corner);
    QFETCH(bool, profileBed);
    QFETCH(double, x0);
    QFETCH(double, y0);
    QFETCH(double, x1);
    QFETCH(double, y1);
    QFETCH(bool, round);
    QFETCH(bool, clear);
    const auto at = [](double v) { return QString::number(v, 'f', 3); };
    const double a = corner, b = corner + 30;
    QString rows = top + QStringLiteral("M104 S210\nG90\nM82\nG92 E0\n");
    double e = 0;
    for (int layer = 1; layer <= 3; ++layer) {
        rows += QStringLiteral("G1 Z%1 F600\nG1 X%2 Y%2 F6000\n").arg(at(0.2 * layer), at(a));
        for (const auto& [x, y] : {std::pair{b, a}, std::pair{b, b}, std::pair{a, b}, std::pair{a, a}})
            rows += QStringLiteral("G1 X%1 Y%2 E%3 F1800\n").arg(at(x), at(y), at(e += 1.5));
        rows += QStringLiteral("G1 E%1 F2400\n").arg(at(e - 0.8));
        rows += QStringLiteral("G1 E%1\n").arg(at(e));
    }
    const QByteArray before = rows.toLatin1();
    const QByteArray whole = before + end.toLatin1();
    const PrinterProfiles profiles = shipped();
    PrinterProfile marlin = *profiles.find(QStringLiteral("marlin"));
    if (profileBed)
        marlin.bed = BedShape::box(x0, y0, x1, y1, QStringLiteral("the printer's bed"));
    const std::optional<BedShape> bed =
        PauseBlocks::bedFor(marlin, std::string_view(whole.constData(), std::size_t(whole.size())));
    const PauseContext context = pauseContextAt(
        std::string_view(before.constData(), std::size_t(before.size())), bed ? &*bed : nullptr);
    const PauseBlock block = PauseBlocks::build(marlin, marlin.defaults, context);
    QCOMPARE(block.parkClear, clear);
    Walk walk;
    for (const QString& line : rows.split(u'\n'))
        walk.run(line);
    if (!clear) {
        // Never in silence: the note names the park's distance and asks for one.
        QVERIFY(!block.notes.isEmpty());
        QVERIFY2(block.notes.front().contains(QStringLiteral("set a park position")),
                 qPrintable(block.notes.front()));
        return;
    }
    QVERIFY(context.parkOnBed);
    checkBlock(marlin, marlin.defaults, block.lines, walk.machine, walk.lastLayer);
    const double px = block.park.x, py = block.park.y;
    QVERIFY2(walk.distance(px, py) >= 5.0, qPrintable(QStringLiteral("park X%1 Y%2 is %3 mm from the print")
                                                          .arg(px)
                                                          .arg(py)
                                                          .arg(walk.distance(px, py))));
    // On the bed, clear of its edge.
    if (round)
        QVERIFY2(std::hypot(px - x0, py - y0) <= x1 - 10.0,
                 qPrintable(QStringLiteral("X%1 Y%2").arg(px).arg(py)));
    else
        QVERIFY2(px >= x0 + 10 && px <= x1 - 10 && py >= y0 + 10 && py <= y1 - 10,
                 qPrintable(QStringLiteral("X%1 Y%2").arg(px).arg(py)));
    // The same park written in the block, and the batch and the window are told it is on the bed.
    QVERIFY(block.lines.contains(
        QStringLiteral("G1 X%1 Y%2 F6000").arg(PauseBlocks::number(px), PauseBlocks::number(py))));
    QVERIFY(!block.notes.isEmpty());
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
    // The bed the file's comments describe, where they do.
    const std::optional<BedShape> bed = BedShape::fromFile(rows.bytes());
    const BedShape* const onBed = bed ? &*bed : nullptr;
    Walk walk;
    int walked = 0;
    for (const int quarter : {1, 2, 3}) {
        const Layer& layer = index.layers()[index.layers().size() * std::size_t(quarter) / 4];
        for (; walked < layer.row; ++walked)
            walk.run(rows.rowText(walked));
        const std::string_view before = rows.bytes().substr(0, std::size_t(rows.rowStart(layer.row)));
        const PauseContext context = pauseContextAt(before, onBed);
        QVERIFY(walk.machine.z);
        // The tracker and the machine agree on where the head is.
        QCOMPARE(context.state.x, walk.machine.x);
        QCOMPARE(context.state.y, walk.machine.y);
        QCOMPARE(context.state.z, walk.machine.z);
        QCOMPARE(context.state.e, walk.machine.e);
        // From the nearest checkpoint, the index finds what the pass from the start finds.
        const PauseContext indexed = pauseIndex.contextAt(rows.bytes(), before.size(), onBed);
        QCOMPARE(sameContext(indexed, context), QString());
        // A block put in at the row leaves the machine as it was: the index follows it, and the
        // next quarter's row finds the same as a pass over the text with the block in it.
        // (A park on the bed adds a visited position: the window reads the index anew after one.)
        if (quarter < 3) {
            const PauseBlock block =
                PauseBlocks::build(*profiles.find(QStringLiteral("marlin")),
                                   profiles.find(QStringLiteral("marlin"))->defaults, pauseContextAt(before));
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
                // A park that is not clear is never written in silence (the window asks, the batch
                // refuses); one that is keeps 5 mm from every extrusion so far, on every layer.
                if (block.parked && block.parkClear)
                    QVERIFY2(walk.distance(block.park.x, block.park.y) >= 5.0,
                             qPrintable(QStringLiteral("park X%1 Y%2 is %3 mm from the print")
                                            .arg(block.park.x)
                                            .arg(block.park.y)
                                            .arg(walk.distance(block.park.x, block.park.y))));
                // Where the file describes a bed that holds the print, a park is always found.
                if (block.parked && bed && !context.bedRefused)
                    QVERIFY2(block.parkClear, qPrintable(block.notes.join(u'\n')));
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
