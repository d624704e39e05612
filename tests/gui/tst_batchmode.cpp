// The command-line batch mode, run as a script runs it: the built program started with
// QProcess, no display. Its output must be the bytes the window writes for the same edit,
// and every refusal must leave the folder as it was.

#include "GeneratedPrints.h"
#include "GuiTestSupport.h"
#include "TestPaths.h"
#include "ZipFixture.h"

#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/PrinterChoice.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using GuiTest::MessageBoxAnswers;

namespace {

const QByteArray kHeader(";FLAVOR:Marlin\n;Generated with a test\n");

// A report without the time each line gives ("…, 12 min 5 s into the print, input row …"), for the
// checks of rows and lines; the times are checked against the slicers' own figures in tst_batch.
QByteArray withoutTimes(const QByteArray& report)
{
    static const QRegularExpression time(QStringLiteral(", [^,:]* into the print"));
    return QString::fromUtf8(report).remove(time).toUtf8();
}

QByteArray joined(const QList<QByteArray>& lines, const QByteArray& lineBreak)
{
    QByteArray text;
    for (const QByteArray& line : lines)
        text += line + lineBreak;
    return text;
}

const QList<QByteArray> kBody = {
    ";LAYER_COUNT:3", // row 0
    "G28",            // row 1
    ";LAYER:0",       // row 2
    "G1 Z0.300 F420", // row 3
    "G1 X10 Y10 E1",  // row 4
    ";LAYER:1",       // row 5
    "G1 Z0.500 F420", // row 6
    "G1 X11 Y11 E2",  // row 7
    "",               // row 8: a blank row
    ";LAYER:2",       // row 9
    "G1 Z0.700 F420", // row 10
    "G1 X12 Y12 E3",  // row 11
    "M104 S0",        // row 12
};

const QList<QByteArray>& kStructuredBody = GuiTest::kStructuredBody;

struct Edit
{
    int row = 0;
    bool pause = false;
    QString t0 = QString();
    QString t1 = QString();
    QString bed = QString();
    bool after = false;
    bool removeHeader = false;
    QString height = QString(); // typed into "Insert Height" instead of the row number

    QStringList arguments() const
    {
        QStringList list = height.isEmpty() ? QStringList{QStringLiteral("--row"), QString::number(row)}
                                            : QStringList{QStringLiteral("--height"), height};
        if (pause)
            list << QStringLiteral("--pause");
        if (!t0.isEmpty())
            list << QStringLiteral("--t0") << t0;
        if (!t1.isEmpty())
            list << QStringLiteral("--t1") << t1;
        if (!bed.isEmpty())
            list << QStringLiteral("--bed") << bed;
        if (after)
            list << QStringLiteral("--after");
        if (removeHeader)
            list << QStringLiteral("--remove-header");
        return list;
    }
};

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// How a test starts the program besides its arguments.
struct Start
{
    QString display = QString();     // DISPLAY; none by default
    QByteArray input = QByteArray(); // written to its standard input, which is then closed
    // A shell line that runs the program as "$0" "$@", to set limits or redirect it.
    QString shell = QString();
    // Runs in the child before the program starts (limits set with setrlimit).
    std::function<void()> inChild = {};
};

// Runs the program as a script would, with no display to connect to (or the one named).
Run runProgram(const QStringList& arguments, const Start& start = {})
{
    QProcess process;
    if (start.inChild)
        process.setChildProcessModifier(start.inChild);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    if (!start.display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), start.display);
    process.setProcessEnvironment(environment);
    if (start.shell.isEmpty())
        process.start(QStringLiteral(BORVANE_PROGRAM_PATH), arguments);
    else
        process.start(QStringLiteral("/bin/sh"),
                      QStringList{QStringLiteral("-c"), start.shell, QStringLiteral(BORVANE_PROGRAM_PATH)} +
                          arguments);
    if (!process.waitForStarted(60000))
        return {};
    process.write(start.input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// A shell word that gives these bytes, whatever they are: printf of each byte in octal.
QString shellBytes(const QByteArray& bytes)
{
    QString format;
    for (const char c : bytes)
        format += QStringLiteral("\\%1").arg(uint(uchar(c)), 3, 8, QChar(u'0'));
    return QStringLiteral("\"$(printf '%1')\"").arg(format);
}

// How a name reads in a message: each byte from 0x80 on as \xE9 (the names here hold no UTF-8).
QByteArray escapedName(const QByteArray& bytes)
{
    QByteArray text;
    for (const char c : bytes)
        text += uchar(c) < 0x80 ? QByteArray(1, c) : "\\x" + QByteArray::number(uchar(c), 16).toUpper();
    return text;
}

// Every file under folder with its bytes, to see that a refusal wrote nothing.
QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, GuiTest::readFile(path));
    }
    return files;
}

} // namespace

Q_DECLARE_METATYPE(Edit)

class TestBatchMode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void printersListed();
    void unknownPrinterWritesNothing();
    void printerBlocksSameAsTheWindow_data();
    void printerBlocksSameAsTheWindow();
    void blockNotesAndUnclearParks_data();
    void blockNotesAndUnclearParks();

    void sameBytesAsTheWindow_data();
    void sameBytesAsTheWindow();
    void realFilesSameBytesAsTheWindow_data();
    void realFilesSameBytesAsTheWindow();
    void realFilesHeightByTheSlicersComments_data();
    void realFilesHeightByTheSlicersComments();
    void pauseAndTemperaturesInTheWindowsOrder_data();
    void pauseAndTemperaturesInTheWindowsOrder();
    void outputOption();
    void rowsLongerThanTheWindowTakes();
    void refusedWritesNothing_data();
    void refusedWritesNothing();
    void existingOutputNeedsForce();
    void namesThatAreNoUtf8_data();
    void namesThatAreNoUtf8();
    void namesThatAreNoUtf8InMessages_data();
    void namesThatAreNoUtf8InMessages();
    void pipeAsInputIsRefusedAtOnce();
    void linksAndSpecialFilesAsOutput_data();
    void linksAndSpecialFilesAsOutput();
    void overItsLimits_data();
    void overItsLimits();
    void diskFullSaysSo();
    void helpAndVersion_data();
    void helpAndVersion();
    void severalPositionsOnRealFiles_data();
    void severalPositionsOnRealFiles();
    void hollowsListedAndPausedBefore();
    void dryRunReportsAndWritesNothing();
    void inPlace();
    void inPlaceFailureLeavesTheFile();
    void standardOutput();
    void standardOutputThatFails();
    void reportThatCannotBeWritten_data();
    void reportThatCannotBeWritten();
    void standardInputToStandardOutput();
    void windowWithoutDisplay_data();
    void windowWithoutDisplay();

private:
    // The edit made in the window: drop, "Row Number" or "Insert Height", insertions, header
    // option, "Create". Returns the bytes written; empty or "<cannot read>" when that failed.
    QByteArray editInTheWindow(const QString& file, const Edit& edit);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestBatchMode::initTestCase()
{
    // The window's printer choice is remembered in the test's own configuration folder.
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(PrinterChoice::settingsPath());
    // The shipped profiles beside the test, where the window looks for them beside the program.
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/TempFile");
    QVERIFY(QDir().mkpath(folder));
    QFile::remove(folder + QStringLiteral("/PrinterProfiles.json"));
    QVERIFY(QFile::copy(QStringLiteral(BORVANE_RESOURCES_DIR "/PrinterProfiles.json"),
                        folder + QStringLiteral("/PrinterProfiles.json")));
}

void TestBatchMode::init()
{
    QVERIFY(QFileInfo(QStringLiteral(BORVANE_PROGRAM_PATH)).isExecutable());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestBatchMode::cleanup()
{
#ifdef Q_OS_UNIX
    GuiTest::removeRawTree(QFile::encodeName(m_dir->path())); // names QTemporaryDir cannot remove
#endif
    QFile::remove(PrinterChoice::settingsPath());
    m_dir.reset();
}

QByteArray TestBatchMode::editInTheWindow(const QString& file, const Edit& edit)
{
    TEditorForBorvane5_Form1 window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window) || !GuiTest::dropFile(&window, file))
        return {};
    if (edit.height.isEmpty()) {
        window.lbleRow->clear();
        QTest::keyClicks(window.lbleRow, QString::number(edit.row));
        QTest::mouseClick(window.sbtnGoRowNumber, Qt::LeftButton);
    } else {
        QTest::keyClicks(window.leditPause, edit.height);
        QTest::mouseClick(window.bbtnHeightSearch, Qt::LeftButton);
    }
    QTest::mouseClick(edit.after ? window.rbtnAfter : window.rbtnBefore, Qt::LeftButton);
    QTest::keyClicks(window.leditT0Temperature, edit.t0);
    QTest::keyClicks(window.leditT1Temperature, edit.t1);
    QTest::keyClicks(window.leditBedTemperature, edit.bed);
    if (!edit.t0.isEmpty() || !edit.t1.isEmpty() || !edit.bed.isEmpty())
        QTest::mouseClick(window.TemperarureInsert, Qt::LeftButton);
    if (edit.pause)
        QTest::mouseClick(window.btnPause, Qt::LeftButton);
    if (edit.removeHeader)
        QTest::mouseClick(window.cboxHeader, Qt::LeftButton);

    MessageBoxAnswers answers({QMessageBox::Ok});
    QTimer::singleShot(0, &window, [&window] { QTest::mouseClick(window.btnCreate, Qt::LeftButton); });
    // Bound to this window: a run that ended in time leaves no timer to end a later run's loop.
    QTimer::singleShot(30000, &window, [] { qApp->exit(99); });
    if (qApp->exec() != 0)
        return {};
    return GuiTest::readFile(QFileInfo(file).dir().filePath(window.leditFileName->text()));
}

void TestBatchMode::printersListed()
{
    const Run run = runProgram({QStringLiteral("--list-printers")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QByteArray("borvane5\tBorvane 5\nmarlin\tMarlin\nmarlin-m600\tMarlin, filament change\n"
                                 "klipper\tKlipper\nreprapfirmware\tRepRapFirmware\nprusa\tPrusa\n"
                                 "octoprint\tOctoPrint host\n"));
}

void TestBatchMode::unknownPrinterWritesNothing()
{
    const QString file = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + GuiTest::joinLines(kBody)));
    const QMap<QString, QByteArray> before = snapshot(m_dir->path());
    const Run run = runProgram({QStringLiteral("--row"), QStringLiteral("6"), QStringLiteral("--pause"),
                                QStringLiteral("--printer"), QStringLiteral("marlin2"), file});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("borvane5, marlin, marlin-m600, klipper, reprapfirmware, prusa, octoprint"),
             run.err);
    QCOMPARE(snapshot(m_dir->path()), before);
    for (const QStringList& wrong :
         {QStringList{"--lift", "0.5"}, QStringList{"--park", "10"}, QStringList{"--standby", "hot"}}) {
        const Run refused =
            runProgram(QStringList{QStringLiteral("--row"), QStringLiteral("6"), QStringLiteral("--pause"),
                                   QStringLiteral("--printer"), QStringLiteral("marlin")} +
                       wrong + QStringList{file});
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.startsWith("--" + wrong.front().mid(2).toLatin1()), refused.err);
        QCOMPARE(snapshot(m_dir->path()), before);
    }
}

void TestBatchMode::printerBlocksSameAsTheWindow_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("printer");
    QTest::addColumn<QStringList>("settings"); // the batch's options; the window is given the same
    QTest::addColumn<int>("layer");
    for (const char* file :
         {"cura_basic_256k.gcode", "kisslicer_crlf-small_22k.gcode", "prusaslicer_z-hop-large_3939k.gcode",
          "simplify3d_dual-extruder-t0-t1_2352k.gcode"}) {
        QTest::newRow(QByteArray(file) + ", marlin") << file << "marlin" << QStringList{} << 5;
        QTest::newRow(QByteArray(file) + ", klipper, own settings")
            << file << "klipper" << QStringList{"--lift", "5", "--park", "1,2.5", "--standby", "160"} << 5;
        QTest::newRow(QByteArray(file) + ", prusa") << file << "prusa" << QStringList{} << 5;
    }
    // Megabytes into the file, where the batch reads on from a state the thread beside the read
    // left, and the window from its own checkpoints.
    for (const char* file :
         {"prusaslicer_z-hop-large_3939k.gcode", "simplify3d_dual-extruder-t0-t1_2352k.gcode",
          "bambustudio_multicolor-t0-t3-z-hop_3222k.gcode"})
        QTest::newRow(QByteArray(file) + ", marlin, layer 30") << file << "marlin" << QStringList{} << 30;
}

// The batch mode and the window make the same block for a printer: the output files are equal.
void TestBatchMode::printerBlocksSameAsTheWindow()
{
    QFETCH(QString, name);
    QFETCH(QString, printer);
    QFETCH(QStringList, settings);
    QFETCH(int, layer);
    const QString source = QDir(QStringLiteral(BORVANE_REAL_FIXTURES_DIR)).filePath(name);
    if (!QFileInfo::exists(source))
        QSKIP("The real slicer files are not beside the repository.");
    const QString file = m_dir->filePath(name);
    QVERIFY(QFile::copy(source, file));
    const QString output = m_dir->filePath(QStringLiteral("batch.gcode"));
    const Run run = runProgram(QStringList{QStringLiteral("--layer"), QString::number(layer),
                                           QStringLiteral("--pause"), QStringLiteral("--printer"), printer} +
                               settings + QStringList{QStringLiteral("-o"), output, file});
    QCOMPARE(run.exitCode, 0);
    const qsizetype at = run.out.indexOf("input row ");
    QVERIFY2(at >= 0, run.out);
    const int row = run.out.mid(at + 10, run.out.indexOf(':', at) - at - 10).toInt();

    {
        // The window remembers the printer and its settings for the next window.
        TEditorForBorvane5_Form1 chooser;
        QComboBox* printers = chooser.printerChoice()->combo();
        printers->setCurrentIndex(printers->findData(printer));
        QCOMPARE(chooser.printerChoice()->profile().name, printer);
        PauseSettings pause = chooser.printerChoice()->profile().defaults;
        for (qsizetype i = 0; i + 1 < settings.size(); i += 2) {
            const QString value = settings[i + 1];
            if (settings[i] == u"--lift")
                pause.lift = value.toDouble();
            else if (settings[i] == u"--park")
                pause.park =
                    PointXY{value.section(u',', 0, 0).toDouble(), value.section(u',', 1, 1).toDouble()};
            else if (settings[i] == u"--standby")
                pause.standby = value.toInt();
        }
        chooser.printerChoice()->setSettings(pause);
    }
    const QByteArray window = editInTheWindow(file, Edit{.row = row, .pause = true});
    QVERIFY(!window.isEmpty());
    const QByteArray batch = GuiTest::readFile(output);
    QVERIFY(batch != GuiTest::readFile(file));
    QCOMPARE(batch, window);
}

void TestBatchMode::blockNotesAndUnclearParks_data()
{
    // A body that heats at row 3, prints a square whose corners are all the positions it visits
    // (no G28: a start macro homes), and switches the nozzle off at its end.
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("end"); // rows after the print
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("said"); // a part of standard error; in the JSON notes too when 0
    QTest::newRow("a standby before any M104: the note says why there is none")
        << QStringList{"--row", "3", "--standby", "150", "--park", "0,0"} << QByteArray() << 0
        << QByteArray("no standby temperature");
    QTest::newRow("cold, before the heating: no E move, and the note says why")
        << QStringList{"--row", "3", "--park", "0,0"} << QByteArray() << 0
        << QByteArray("below the cold-extrusion limit of 170");
    QTest::newRow("the head's place not known yet: the pause line alone, and a note")
        << QStringList{"--row", "2"} << QByteArray() << 0 << QByteArray("pause line stands alone");
    QTest::newRow("after M104 S0: no standby, no reheat")
        << QStringList{"--row", "19", "--standby", "170", "--park", "0,0"} << QByteArray() << 0
        << QByteArray("switched the nozzle off");
    QTest::newRow("every visited position on the print, no bed: refused")
        << QStringList{"--row", "15"} << QByteArray() << 1 << QByteArray("set a park position");
    QTest::newRow("the same with the file's bed: parks on it, and says so")
        << QStringList{"--row", "15"} << QByteArray("; bed_shape = 0x0,220x0,220x220,0x220\n") << 0
        << QByteArray("is a point of the bed");
}

void TestBatchMode::blockNotesAndUnclearParks()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, end);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, said);
    const QByteArray body = "G90\n"                     // row 0
                            "M82\n"                     // row 1
                            "G1 X100 Y100 Z0.2 F3000\n" // row 2
                            "M104 S210\n"               // row 3
                            "G92 E0\n"                  // row 4
                            ";LAYER:0\n"                // row 5
                            "G1 X130 Y100 E1.5 F1800\n"
                            "G1 X130 Y130 E3\n"
                            "G1 X100 Y130 E4.5\n"
                            "G1 X100 Y100 E6\n" // row 9
                            ";LAYER:1\n"        // row 10
                            "G1 Z0.4 F600\n"
                            "G1 X130 Y100 E7.5 F1800\n"
                            "G1 X130 Y130 E9\n"
                            "G1 X100 Y130 E10.5\n"
                            "G1 X100 Y100 E12\n" // row 15
                            "G1 E11.2 F2400\n"
                            "G1 Z10.4 F600\n"
                            "M104 S0\n" // row 18
                            "M140 S0\n" // row 19
                            + end;
    const QString file = m_dir->filePath(QStringLiteral("square.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + body));
    const QString output = m_dir->filePath(QStringLiteral("out.gcode"));
    const Run run = runProgram(QStringList{QStringLiteral("--pause"), QStringLiteral("--printer"),
                                           QStringLiteral("marlin"), QStringLiteral("--json"),
                                           QStringLiteral("-o"), output} +
                               options + QStringList{file});
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(said), run.err);
    if (exitCode != 0) {
        QVERIFY(!QFileInfo::exists(output));
        return;
    }
    const QJsonArray insertions = QJsonDocument::fromJson(run.out).object().value("insertions").toArray();
    QCOMPARE(insertions.size(), 1);
    const QJsonArray notes = insertions.first().toObject().value("notes").toArray();
    QVERIFY(!notes.isEmpty());
    bool found = false;
    for (const QJsonValue& note : notes) {
        found = found || note.toString().toUtf8().contains(said);
        // Each note on standard error as well.
        QVERIFY2(run.err.contains(note.toString().toUtf8()), run.err);
    }
    QVERIFY2(found, run.out);
}

void TestBatchMode::sameBytesAsTheWindow_data()
{
    QTest::addColumn<QByteArray>("lineBreak");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<bool>("lastLineBroken");
    QTest::addColumn<Edit>("edit");

    for (const QByteArray& lineBreak : {QByteArray("\n"), QByteArray("\r\n"), QByteArray("\r")}) {
        const QByteArray name = lineBreak == "\n" ? "LF" : lineBreak == "\r" ? "CR" : "CR LF";
        const auto row = [&](const char* what, const QList<QByteArray>& lines = kBody) -> QTestData& {
            return QTest::newRow(name + ", " + what) << lineBreak << lines;
        };
        row("pause before row 6") << true << Edit{.row = 6, .pause = true};
        row("pause after row 6") << true << Edit{.row = 6, .pause = true, .after = true};
        row("temperatures and pause before")
            << true << Edit{.row = 7, .pause = true, .t0 = "210", .t1 = "205", .bed = "60"};
        row("temperatures and pause after")
            << true << Edit{.row = 7, .pause = true, .t0 = "210", .t1 = "205", .bed = "60", .after = true};
        row("one temperature and pause after")
            << true << Edit{.row = 3, .pause = true, .t0 = "215", .after = true};
        row("bed only, header removed") << true << Edit{.row = 4, .bed = "55", .removeHeader = true};
        row("before the blank row") << true << Edit{.row = 8, .pause = true};
        row("row 0") << true << Edit{.row = 0, .pause = true, .t0 = "200"};
        row("after the last row") << true << Edit{.row = 12, .pause = true, .t0 = "200", .after = true};
        row("after the empty row behind the last break: the end")
            << true << Edit{.row = 13, .pause = true, .after = true};
        row("no break at the end, after the last row")
            << false << Edit{.row = 12, .pause = true, .t0 = "200", .bed = "60", .after = true};
        row("no break at the end, before the last row")
            << false << Edit{.row = 12, .pause = true, .t1 = "190"};
        row("height of the third layer", kStructuredBody) << true << Edit{.pause = true, .height = "0.4"};
        row("height between layers, temperature after", kStructuredBody)
            << true << Edit{.pause = true, .t0 = "210", .after = true, .height = "0.25"};
        row("height 0: the first layer", kStructuredBody) << true << Edit{.pause = true, .height = "0"};
    }
}

void TestBatchMode::sameBytesAsTheWindow()
{
    QFETCH(QByteArray, lineBreak);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(bool, lastLineBroken);
    QFETCH(Edit, edit);
    QByteArray body = joined(lines, lineBreak);
    if (!lastLineBroken)
        body.chop(lineBreak.size());
    const QString file = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + body));

    const QByteArray byWindow = editInTheWindow(file, edit);
    QVERIFY(byWindow.size() > body.size());
    const QString output =
        m_dir->filePath(edit.removeHeader ? QStringLiteral("Borvane.g") : QStringLiteral("Borvane.gx"));
    QVERIFY(QFile::remove(output));

    const Run run = runProgram(edit.arguments() << file);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(GuiTest::readFile(output), byWindow);
    const int presses =
        int(edit.pause) + int(!edit.t0.isEmpty() || !edit.t1.isEmpty() || !edit.bed.isEmpty());
    QCOMPARE(run.out.count('\n'), presses);
}

void TestBatchMode::realFilesSameBytesAsTheWindow_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<Edit>("edit");
    const QDir real(QStringLiteral(BORVANE_REAL_FIXTURES_DIR));
    const auto row = [&](const char* name) -> QTestData& {
        return QTest::newRow(name) << real.filePath(QString::fromLatin1(name));
    };
    row("kisslicer_crlf-small_22k.gcode")
        << Edit{.row = 400, .pause = true, .t0 = "210", .bed = "60", .after = true};
    row("simplify3d_latin1-non-utf8_284k.gcode")
        << Edit{.row = 5000, .pause = true, .t0 = "200", .t1 = "190"};
    row("prusaslicer_spiral-vase-blank-lines_306k.gcode")
        << Edit{.row = 3000, .pause = true, .bed = "65", .after = true, .removeHeader = true};
    row("cura_basic_256k.gcode") << Edit{.pause = true, .t0 = "205", .after = true, .height = "2"};
    row("simplify3d_dual-extruder-t0-t1_2352k.gcode") << Edit{.pause = true, .t1 = "215", .height = "10.5"};
    row("prusaslicer_z-hop-large_3939k.gcode")
        << Edit{.pause = true, .bed = "70", .after = true, .height = "4.1"};
    row("slic3r_small_16k.gcode") << Edit{.pause = true, .height = "1"};
    row("ideamaker_basic_747k.gcode") << Edit{.pause = true, .t0 = "200", .after = true, .height = "3"};
    row("bambustudio_multicolor-t0-t3-z-hop_3222k.gcode") << Edit{.pause = true, .bed = "60", .height = "3"};
    row("prusaslicer_utf8-comments-thumbnail_3306k.gcode")
        << Edit{.pause = true, .t0 = "240", .after = true, .removeHeader = true, .height = "3"};
    row("cura-lulzbot_small_79k.gcode") << Edit{.pause = true, .t1 = "0", .height = "3"};
    row("cura_utf8-mesh-name_320k.gcode") << Edit{.row = 6000, .pause = true};
    row("simplify3d_spiral-vase-crlf_3452k.gcode") << Edit{.row = 40000, .t0 = "230", .after = true};
}

void TestBatchMode::realFilesSameBytesAsTheWindow()
{
    QFETCH(QString, file);
    QFETCH(Edit, edit);
    if (!QFileInfo(file).isFile())
        QSKIP("The real slicer files are not beside the repository.");
    const QString copy = m_dir->filePath(QFileInfo(file).fileName());
    QVERIFY(QFile::copy(file, copy));

    const QByteArray byWindow = editInTheWindow(copy, edit);
    QVERIFY(byWindow.size() > QFileInfo(file).size() / 2);
    const QString output = m_dir->filePath(QStringLiteral("batch.out"));
    const Run run = runProgram(edit.arguments() << QStringLiteral("-o") << output << copy);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(GuiTest::readFile(output), byWindow);
}

void TestBatchMode::realFilesHeightByTheSlicersComments_data()
{
    // Slicers that write ";LAYER_CHANGE" or ";LAYER:n", then ";Z:<height>", ahead of each layer's moves.
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("layerMark");
    QTest::addColumn<double>("height");
    const QDir real(QStringLiteral(BORVANE_REAL_FIXTURES_DIR));
    QTest::newRow("PrusaSlicer with Z lifts")
        << real.filePath(QStringLiteral("prusaslicer_z-hop-large_3939k.gcode")) << QByteArray(";LAYER_CHANGE")
        << 10.0;
    QTest::newRow("PrusaSlicer, height on a layer")
        << real.filePath(QStringLiteral("prusaslicer_z-hop-large_3939k.gcode")) << QByteArray(";LAYER_CHANGE")
        << 2.0;
    QTest::newRow("ideaMaker") << real.filePath(QStringLiteral("ideamaker_basic_747k.gcode"))
                               << QByteArray(";LAYER:") << 5.0;
    // Exactly a layer's height above the start, where the doubles of height and start add up
    // above the layer's own: the layer below it all the same.
    QTest::newRow("PrusaSlicer, exactly on the layer at Z 3.4")
        << real.filePath(QStringLiteral("prusaslicer_z-hop-large_3939k.gcode")) << QByteArray(";LAYER_CHANGE")
        << 3.2;
    QTest::newRow("PrusaSlicer, exactly on the layer at Z 38.4")
        << real.filePath(QStringLiteral("prusaslicer_z-hop-large_3939k.gcode")) << QByteArray(";LAYER_CHANGE")
        << 38.2;
    QTest::newRow("ideaMaker, exactly on the layer at Z 2.4")
        << real.filePath(QStringLiteral("ideamaker_basic_747k.gcode")) << QByteArray(";LAYER:") << 2.16;
}

void TestBatchMode::realFilesHeightByTheSlicersComments()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, layerMark);
    QFETCH(double, height);
    if (!QFileInfo(file).isFile())
        QSKIP("The real slicer files are not beside the repository.");
    const QString output = m_dir->filePath(QStringLiteral("out.g"));
    const Run run =
        runProgram({QStringLiteral("--height"), QString::number(height), QStringLiteral("--pause"),
                    QStringLiteral("--remove-header"), QStringLiteral("-o"), output, file});
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);

    // The output is the body with one line more: find it, and take it out again.
    QByteArray input = GuiTest::readFile(file);
    input.remove(0, input.indexOf('\n', input.indexOf('\n') + 1) + 1);
    const QList<QByteArray> before = input.split('\n');
    QList<QByteArray> after = GuiTest::readFile(output).split('\n');
    QCOMPARE(after.size(), before.size() + 1);
    qsizetype row = 0;
    while (row < before.size() && before[row] == after[row])
        ++row;
    QCOMPARE(after[row], QByteArray("M25"));
    after.remove(row);
    QVERIFY(after == before);

    // The layers by the slicer's own comments: the n-th mark starts layer n, its ";Z:" gives the height.
    QList<double> layerZ;
    int layersBefore = 0;
    for (qsizetype i = 0; i < before.size(); ++i) {
        if (before[i].startsWith(layerMark)) {
            layersBefore += i < row ? 1 : 0;
            for (qsizetype j = i + 1; j < before.size(); ++j) {
                if (before[j].startsWith(";Z:")) {
                    layerZ << before[j].mid(3).trimmed().toDouble();
                    break;
                }
            }
        }
    }
    QVERIFY(layersBefore >= 1 && layersBefore < layerZ.size());
    const double z = layerZ[layersBefore - 1];
    // These prints start at their first layer; heights compared exactly, as whole micrometres.
    const auto micrometres = [](double millimetres) { return std::llround(millimetres * 1000); };
    const qint64 target = micrometres(height) + micrometres(layerZ.front());
    QVERIFY2(micrometres(z) < target && micrometres(layerZ[layersBefore]) >= target,
             qPrintable(QString::number(z)));

    const QString expected = QStringLiteral("row %1, layer %2, Z %3, input row %1: M25\n")
                                 .arg(row)
                                 .arg(layersBefore)
                                 .arg(z, 0, 'f', 3);
    QCOMPARE(QString::fromLocal8Bit(withoutTimes(run.out)), expected);
}

void TestBatchMode::pauseAndTemperaturesInTheWindowsOrder_data()
{
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<QList<QByteArray>>("inserted"); // the body rows from row 7 on that precede kBody[7]
    QTest::addColumn<QStringList>("report");
    // Before: each press goes in front of the row the last one left the caret on.
    QTest::newRow("before") << Edit{.row = 7, .pause = true, .t0 = "210", .bed = "60"}
                            << QList<QByteArray>{"M25", "M140 S60 T0", "M104 S210 T0"}
                            << QStringList{"row 7: M140 S60 T0 | M104 S210 T0", "row 7: M25"};
    // After: the pause goes behind the first temperature line, where the caret was.
    QTest::newRow("after") << Edit{.row = 6, .pause = true, .t0 = "210", .bed = "60", .after = true}
                           << QList<QByteArray>{"M140 S60 T0", "M25", "M104 S210 T0"}
                           << QStringList{"row 7: M140 S60 T0 | M104 S210 T0", "row 8: M25"};
}

void TestBatchMode::pauseAndTemperaturesInTheWindowsOrder()
{
    QFETCH(Edit, edit);
    QFETCH(QList<QByteArray>, inserted);
    QFETCH(QStringList, report);
    const QString file = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + joined(kBody, "\n")));

    const Run run = runProgram(edit.arguments() << file);
    QCOMPARE(run.exitCode, 0);
    QList<QByteArray> expected = kBody;
    for (qsizetype i = 0; i < inserted.size(); ++i)
        expected.insert(7 + i, inserted[i]);
    QCOMPARE(GuiTest::readFile(m_dir->filePath(QStringLiteral("Borvane.gx"))),
             kHeader + joined(expected, "\n"));

    const QStringList lines = QString::fromLocal8Bit(run.out).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), report.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString where = report[i].section(u':', 0, 0);
        QVERIFY2(lines[i].startsWith(where + u',') || lines[i].startsWith(where + u':'),
                 qPrintable(lines[i]));
        QVERIFY2(lines[i].endsWith(u':' + report[i].section(u':', 1)), qPrintable(lines[i]));
    }
}

void TestBatchMode::outputOption()
{
    const QString file = m_dir->filePath(QStringLiteral("in/part.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + joined(kBody, "\n")));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("out")));
    // A relative OUT is taken from the working folder, as any command-line tool takes it.
    QProcess process;
    process.setWorkingDirectory(m_dir->filePath(QStringLiteral("out")));
    process.start(QStringLiteral(BORVANE_PROGRAM_PATH),
                  {QStringLiteral("--row"), QStringLiteral("4"), QStringLiteral("--pause"),
                   QStringLiteral("--remove-header"), QStringLiteral("-o"), QStringLiteral("edited.gcode"),
                   file});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
    QList<QByteArray> expected = kBody;
    expected.insert(4, "M25");
    QCOMPARE(GuiTest::readFile(m_dir->filePath(QStringLiteral("out/edited.gcode"))), joined(expected, "\n"));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("in/Borvane.g"))));
}

// The window refuses rows over 64 KiB, since it cannot paint them in time; a batch edit paints
// nothing and edits such a file as any other.
void TestBatchMode::rowsLongerThanTheWindowTakes()
{
    QList<QByteArray> body = kBody;
    body.insert(5, ';' + QByteArray(100000, 'x')); // between the layers at Z 0.3 and Z 0.5
    const QString file = m_dir->filePath(QStringLiteral("long-row.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + joined(body, "\n")));
    // The print starts at Z 0.3; 0.3 mm above it, the last layer below is the one at Z 0.5, now row 7.
    const Run run =
        runProgram({QStringLiteral("--height"), QStringLiteral("0.3"), QStringLiteral("--pause"), file});
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(withoutTimes(run.out), QByteArray("row 7, layer 2, Z 0.500, input row 7: M25\n"));
    body.insert(7, "M25");
    QCOMPARE(GuiTest::readFile(m_dir->filePath(QStringLiteral("Borvane.gx"))), kHeader + joined(body, "\n"));
}

void TestBatchMode::refusedWritesNothing_data()
{
    QTest::addColumn<QStringList>("arguments"); // "FILE" stands for the fixture, "DIR" for the folder
    QTest::addColumn<QString>("reason");
    const QStringList pause{"--pause", "FILE"};
    QTest::newRow("no FILE") << QStringList{"--row", "4", "--pause"} << "FILE is missing";
    QTest::newRow("two files") << QStringList{"--row", "4", "--pause", "FILE", "FILE"} << "one FILE";
    QTest::newRow("no row chosen") << pause << "--height H, --row N, --layer N, --hollow K or --time T";
    // The print starts at Z 0.3; 0.25 above it, the last layer below is the one at Z 0.5, row 6.
    QTest::newRow("a height and a row on one row") << QStringList{"--height", "0.25", "--row", "6"} + pause
                                                   << "--height 0.25 and --row 6 both choose row 6";
    QTest::newRow("a layer and its first row")
        << QStringList{"--layer", "3", "--row", "10"} + pause << "--row 10 and --layer 3 both choose row 10";
    QTest::newRow("one of three heights above the print")
        << QStringList{"--height", "0.1", "--height", "5", "--height", "0.3"} + pause
        << "--height 5: the height 5 mm above the print start (Z 5.300) was not found";
    QTest::newRow("layer 0") << QStringList{"--layer", "0"} + pause << "--layer \"0\" is not a layer number";
    QTest::newRow("a time that is no time") << QStringList{"--time", "1h30"} + pause
                                            << "--time \"1h30\" is not a time into the print";
    QTest::newRow("a time past the print's end") << QStringList{"--time", "100h"} + pause << "prints for";
    QTest::newRow("a message with a semicolon")
        << QStringList{"--row", "4", "--message", "Insert; now"} + pause << "read the rest of the line as a comment";
    QTest::newRow("a message the screen cannot show")
        << QStringList{"--row", "4", "--message", QString::fromUtf8("Einsätze")} + pause << "printable ASCII";
    QTest::newRow("a message without a pause")
        << QStringList{"--row", "4", "--t0", "200", "--message", "Go", "FILE"} << "--message goes with --pause";
    QTest::newRow("layer above the top") << QStringList{"--layer", "4"} + pause << "has 3 layers";
    QTest::newRow("in place and an output")
        << QStringList{"--row", "4", "--in-place", "-o", "DIR/x.gx"} + pause << "leave -o out";
    QTest::newRow("in place on standard input")
        << QStringList{"--row", "4", "--pause", "--in-place", "-"} << "--in-place needs FILE by name";
    QTest::newRow("standard input without an output")
        << QStringList{"--row", "4", "--pause", "-"} << "give -o OUT, or -o - for standard output";
    QTest::newRow("dry run: output exists")
        << QStringList{"--row", "4", "--pause", "--dry-run", "-o", "DIR/old.gx", "FILE"}
        << "exists; give --force";
    QTest::newRow("row not a number")
        << QStringList{"--row", "four"} + pause << "--row \"four\" is not a row number";
    QTest::newRow("negative row") << QStringList{"--row=-4"} + pause << "--row \"-4\" is not a row number";
    QTest::newRow("row 1") << QStringList{"--row", "1"} + pause << "--row 1 takes no insertion";
    QTest::newRow("row past the end") << QStringList{"--row", "14"} + pause << "Row 14 is past the end";
    QTest::newRow("row beyond any file")
        << QStringList{"--row", "99999999999", "--after"} + pause
        << "--row \"99999999999\" is out of range: give a row from 0 to 2147483647.";
    QTest::newRow("largest row") << QStringList{"--row", "2147483647"} + pause
                                 << "Row 2147483647 is past the end";
    QTest::newRow("height far above any printer")
        << QStringList{"--height", "1e300"} + pause
        << "--height \"1e300\" is out of range: give a height from 0 to 100000 mm.";
    QTest::newRow("infinite height") << QStringList{"--height", "inf"} + pause
                                     << "--height \"inf\" is out of range";
    // A park a bed could have: X and Y from -2000 to 2000 mm, as a profile's "park".
    const QStringList marlin{"--row", "4", "--printer", "marlin"};
    QTest::newRow("park at 1e308") << marlin + QStringList{"--park", "1e308,0"} + pause
                                   << "--park \"1e308,0\" is out of range: X and Y lie from -2000 to 2000 mm.";
    QTest::newRow("park past the range") << marlin + QStringList{"--park", "0,-2000.5"} + pause
                                         << "--park \"0,-2000.5\" is out of range";
    QTest::newRow("lift of 1e308") << marlin + QStringList{"--lift", "1e308"} + pause
                                   << "--lift \"1e308\" is not a lift in mm";
    QTest::newRow("standby of 1000") << marlin + QStringList{"--standby", "1000"} + pause
                                     << "--standby \"1000\" is not a temperature";
    QTest::newRow("after the last row's end")
        << QStringList{"--row", "14", "--after"} + pause << "Row 14 is past the end";
    QTest::newRow("height not a number")
        << QStringList{"--height", "high"} + pause << "--height \"high\" is not a height";
    QTest::newRow("negative height") << QStringList{"--height=-1"} + pause
                                     << "--height \"-1\" is not a height";
    QTest::newRow("temperature too high")
        << QStringList{"--row", "4", "--t0", "1000", "FILE"} << "--t0 \"1000\" is not a temperature";
    QTest::newRow("temperature with a fraction")
        << QStringList{"--row", "4", "--bed", "60.5", "FILE"} << "--bed \"60.5\" is not a temperature";
    QTest::newRow("temperature with letters")
        << QStringList{"--row", "4", "--t1", "hot", "FILE"} << "--t1 \"hot\" is not a temperature";
    QTest::newRow("height above the print") << QStringList{"--height", "5"} + pause << "was not found";
    QTest::newRow("nothing to insert") << QStringList{"--row", "4", "FILE"} << "Nothing to insert";
    QTest::newRow("blank temperature inserts nothing")
        << QStringList{"--row", "4", "--t0", " ", "FILE"} << "Nothing to insert";
    QTest::newRow("unknown option") << QStringList{"--row", "4", "--paws", "FILE"} << "Unknown option 'paws'";
    QTest::newRow("option without its value")
        << QStringList{"FILE", "--row"} << "Missing value after '--row'";
    QTest::newRow("missing file") << QStringList{"--row", "4", "--pause", "DIR/missing.gcode"}
                                  << "Cannot open";
    QTest::newRow("folder as FILE") << QStringList{"--row", "4", "--pause", "DIR"} << "is a folder";
    // No one writes into the pipe: reading it would wait for ever.
    QTest::newRow("a named pipe as FILE")
        << QStringList{"--row", "4", "--pause", "DIR/pipe.gcode"} << "Only regular files are read";
    QTest::newRow("one line: no header")
        << QStringList{"--row", "4", "--pause", "DIR/one-line.gcode"} << "fewer than two lines";
    QTest::newRow("header too long") << QStringList{"--row", "4", "--pause", "DIR/long-header.gcode"}
                                     << "longer than 35000 bytes";
    QTest::newRow("output exists") << QStringList{"--row", "4", "--pause", "-o", "DIR/old.gx", "FILE"}
                                   << "exists; give --force";
    QTest::newRow("header only: no move")
        << QStringList{"--row", "0", "--pause", "DIR/header-only.gcode"} << "has no G0 or G1 move";
    QTest::newRow("text without a move")
        << QStringList{"--row", "0", "--pause", "DIR/notes.gcode"} << "has no G0 or G1 move";
    QTest::newRow("a PNG image") << QStringList{"--row", "0", "--pause", "DIR/picture.png"}
                                 << "This is a PNG image, not G-code";
    QTest::newRow("a 3MF project")
        << QStringList{"--row", "0", "--pause", "DIR/plate.3mf"}
        << "This is a 3MF project without G-code (no Metadata/plate_N.gcode): export the plate's G-code";
    QTest::newRow("output folder missing")
        << QStringList{"--row", "4", "--pause", "-o", "DIR/no/such.gx", "FILE"} << "Cannot write";
    QTest::newRow("output is a folder")
        << QStringList{"--row", "4", "--pause", "--force", "-o", "DIR", "FILE"} << "is a folder, not a file";
}

void TestBatchMode::refusedWritesNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    const QString file = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + joined(kBody, "\n")));
    QVERIFY(GuiTest::writeFile(m_dir->filePath(QStringLiteral("one-line.gcode")), "G28\n"));
    QVERIFY(GuiTest::writeFile(m_dir->filePath(QStringLiteral("long-header.gcode")),
                               ";a\n" + QByteArray(35000, 'x') + "\nG28\n"));
    QVERIFY(GuiTest::writeFile(m_dir->filePath(QStringLiteral("old.gx")), "an older output\n"));
    QVERIFY(GuiTest::writeFile(m_dir->filePath(QStringLiteral("header-only.gcode")), kHeader));
    QVERIFY(GuiTest::writeFile(m_dir->filePath(QStringLiteral("notes.gcode")),
                               kHeader + "G28 homes\nM104 S200 ; then G1 moves\n"));
    QVERIFY(GuiTest::writeFile(m_dir->filePath(QStringLiteral("picture.png")),
                               QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\nG1 X1\n", 24)));
    QVERIFY(GuiTest::writeFile(m_dir->filePath(QStringLiteral("plate.3mf")),
                               ZipFixture::make({{"3D/3dmodel.model", "<model/>\nG1 X1\nG1 X2\n"}}).bytes));
    QCOMPARE(::mkfifo(QFile::encodeName(m_dir->filePath(QStringLiteral("pipe.gcode"))).constData(), 0600), 0);
    for (QString& argument : arguments) {
        argument.replace(QStringLiteral("FILE"), file);
        argument.replace(QStringLiteral("DIR"), m_dir->path());
    }
    const QMap<QString, QByteArray> before = snapshot(m_dir->path());

    const Run run = runProgram(arguments);
    QVERIFY2(run.exitCode > 0, qPrintable(QString::number(run.exitCode)));
    QVERIFY2(QString::fromLocal8Bit(run.err).contains(reason), run.err.constData());
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(snapshot(m_dir->path()), before);
}

void TestBatchMode::existingOutputNeedsForce()
{
    const QString file = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + joined(kBody, "\n")));
    const QString output = m_dir->filePath(QStringLiteral("Borvane.gx"));
    const QByteArray old("an older output\n");
    QVERIFY(GuiTest::writeFile(output, old));
    const QStringList arguments{QStringLiteral("--row"), QStringLiteral("4"), QStringLiteral("--pause"),
                                file};

    const Run refused = runProgram(arguments);
    QCOMPARE(refused.exitCode, 1);
    QVERIFY(refused.err.contains("--force"));
    QCOMPARE(GuiTest::readFile(output), old);

    const Run forced = runProgram(QStringList{QStringLiteral("--force")} + arguments);
    QCOMPARE(forced.exitCode, 0);
    QList<QByteArray> expected = kBody;
    expected.insert(4, "M25");
    QCOMPARE(GuiTest::readFile(output), kHeader + joined(expected, "\n"));

    // Replacing FILE itself is allowed with --force: it was read whole before the write.
    const Run inPlace = runProgram({QStringLiteral("--row"), QStringLiteral("4"), QStringLiteral("--pause"),
                                    QStringLiteral("--force"), QStringLiteral("-o"), file, file});
    QCOMPARE(inPlace.exitCode, 0);
    QCOMPARE(GuiTest::readFile(file), kHeader + joined(expected, "\n"));
}

void TestBatchMode::namesThatAreNoUtf8_data()
{
    QTest::addColumn<QByteArray>("folder"); // in the test folder; the program runs in it
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("output"); // -o's name; empty for none, "--in-place" for that
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QList<QByteArray>>("names"); // the folder's names afterwards

    QTest::newRow("Latin-1 input, output beside it")
        << QByteArray("in") << QByteArray("lat\xe9n.gcode") << QByteArray() << QByteArray("Borvane.gx")
        << QList<QByteArray>{"Borvane.gx", "lat\xe9n.gcode"};
    QTest::newRow("Latin-1 folder") << QByteArray("d\xe9p") << QByteArray("part.gcode") << QByteArray()
                                    << QByteArray("Borvane.gx")
                                    << QList<QByteArray>{"Borvane.gx", "part.gcode"};
    QTest::newRow("-o with 0xFE") << QByteArray("in") << QByteArray("part.gcode") << QByteArray("o\xfe.gx")
                                  << QByteArray("o\xfe.gx") << QList<QByteArray>{"o\xfe.gx", "part.gcode"};
    QTest::newRow("-o with 0xFE, Latin-1 input in a Latin-1 folder")
        << QByteArray("d\xe9p") << QByteArray("lat\xe9n.gcode") << QByteArray("o\xfe.gx")
        << QByteArray("o\xfe.gx") << QList<QByteArray>{"lat\xe9n.gcode", "o\xfe.gx"};
    QTest::newRow("--in-place on a Latin-1 name")
        << QByteArray("in") << QByteArray("lat\xe9n.gcode") << QByteArray("--in-place")
        << QByteArray("lat\xe9n.gcode") << QList<QByteArray>{"lat\xe9n.gcode"};
}

// A file name is bytes: one that is no UTF-8 (a Latin-1 system's) names the input read and the
// output written, relative to a working folder that may be such a name too, and the report
// shows each such byte as \xE9.
void TestBatchMode::namesThatAreNoUtf8()
{
#ifdef Q_OS_UNIX
    QFETCH(QByteArray, folder);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, written);
    QFETCH(QList<QByteArray>, names);
    const QByteArray dir = QFile::encodeName(m_dir->path()) + '/' + folder;
    QCOMPARE(::mkdir(dir.constData(), 0700), 0);
    QVERIFY(GuiTest::writeRawFile(dir + '/' + input, kHeader + joined(kBody, "\n")));

    QString shell = QStringLiteral("cd %1 && exec \"$0\" \"$@\"").arg(shellBytes(dir));
    if (output == "--in-place")
        shell += QStringLiteral(" --in-place");
    else if (!output.isEmpty())
        shell += QStringLiteral(" -o ") + shellBytes(output);
    shell += u' ' + shellBytes(input);
    const Run run = runProgram(
        {QStringLiteral("--json"), QStringLiteral("--row"), QStringLiteral("4"), QStringLiteral("--pause")},
        {.shell = shell});
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);

    QCOMPARE(GuiTest::rawNames(dir), names);
    QList<QByteArray> expected = kBody;
    expected.insert(4, "M25");
    QCOMPARE(GuiTest::readRawFile(dir + '/' + written), kHeader + joined(expected, "\n"));
    const QJsonObject report = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(report.value(QStringLiteral("input")).toString().toUtf8(), escapedName(dir + '/' + input));
    QCOMPARE(report.value(QStringLiteral("output")).toString().toUtf8(), escapedName(dir + '/' + written));
#else
    QSKIP("file names are bytes on Unix only");
#endif
}

void TestBatchMode::namesThatAreNoUtf8InMessages_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("output"); // -o's name, made beforehand when not empty
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("no such Latin-1 input") << QByteArray("lat\xe9n.gcode") << QByteArray()
                                           << QByteArray("lat\\xE9n.gcode: No such file or directory");
    QTest::newRow("an output with 0xFE that exists")
        << QByteArray("part.gcode") << QByteArray("o\xfe.gx") << QByteArray("o\\xFE.gx exists; give --force");
    QTest::newRow("an input that is no sliced file")
        << QByteArray("x\xff.gcode") << QByteArray()
        << QByteArray("x\\xFF.gcode is not a sliced G-code file");
}

// What the batch mode tells of such a name reads each stray byte as \xE9, never as a "?" or a
// replacement character, and nothing is written.
void TestBatchMode::namesThatAreNoUtf8InMessages()
{
#ifdef Q_OS_UNIX
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, message);
    const QByteArray dir = QFile::encodeName(m_dir->path());
    QVERIFY(GuiTest::writeRawFile(dir + "/part.gcode", kHeader + joined(kBody, "\n")));
    QVERIFY(GuiTest::writeRawFile(dir + "/x\xff.gcode", "G28\n"));
    if (!output.isEmpty())
        QVERIFY(GuiTest::writeRawFile(dir + '/' + output, "an older output\n"));
    const QList<QByteArray> before = GuiTest::rawNames(dir);

    QString shell = QStringLiteral("exec \"$0\" \"$@\"");
    if (!output.isEmpty())
        shell += QStringLiteral(" -o ") + shellBytes(dir + '/' + output);
    shell += u' ' + shellBytes(dir + '/' + input);
    const Run run = runProgram({QStringLiteral("--row"), QStringLiteral("4"), QStringLiteral("--pause")},
                               {.shell = shell});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(message), run.err.constData());
    QVERIFY2(!run.err.contains("\xef\xbf\xbd") && !run.err.contains('?'), run.err.constData());
    QCOMPARE(GuiTest::rawNames(dir), before);
    if (!output.isEmpty())
        QCOMPARE(GuiTest::readRawFile(dir + '/' + output), QByteArray("an older output\n"));
#else
    QSKIP("file names are bytes on Unix only");
#endif
}

void TestBatchMode::helpAndVersion_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QStringList>("shows");
    QTest::newRow("--help")
        << "--help"
        << QStringList{"--height <H>", "--row <N>", "--layer <N>", "--pause",         "--t0 <C>",
                       "--t1 <C>",     "--bed <C>", "--after",     "--remove-header", "-o, --output <OUT>",
                       "--in-place",   "--force",   "--dry-run",   "--json",          "FILE"};
    QTest::newRow("--help-all") << "--help-all" << QStringList{"--height <H>", "--row <N>"};
    // The one version, the project's in CMake; the window's caption says "Ver1.6" of it.
    QTest::newRow("--version") << "--version" << QStringList{"EditorForBorvane5 1.6.0\n"};
}

void TestBatchMode::helpAndVersion()
{
    QFETCH(QString, option);
    QFETCH(QStringList, shows);
    const Run run = runProgram({option});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    for (const QString& text : shows)
        QVERIFY2(run.out.contains(text.toUtf8()), qPrintable(text));
}

void TestBatchMode::pipeAsInputIsRefusedAtOnce()
{
#ifdef Q_OS_UNIX
    const QString fifo = m_dir->filePath(QStringLiteral("pipe.gcode"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QElapsedTimer timer;
    timer.start();
    // No writer comes: a program that waited for one would be killed after a minute and fail.
    const Run run =
        runProgram({QStringLiteral("--row"), QStringLiteral("4"), QStringLiteral("--pause"), fifo});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("is not a sliced G-code file: Only regular files are read"),
             run.err.constData());
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("Borvane.gx"))));
#else
    QSKIP("pipes in the file system are a Unix thing");
#endif
}

void TestBatchMode::linksAndSpecialFilesAsOutput_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("force");
    QTest::addColumn<QString>("reason");

    QTest::newRow("dangling link named like the output")
        << "dangling" << false
        << "Borvane.gx is a symbolic link to TARGET; the output is not written through a link.";
    QTest::newRow("dangling link named like the output, with --force")
        << "dangling" << true
        << "Borvane.gx is a symbolic link to TARGET; the output is not written through a link.";
    QTest::newRow("link to a file, with --force")
        << "link" << true
        << "Borvane.gx is a symbolic link to TARGET; the output is not written through a link.";
    QTest::newRow("pipe named like the output, with --force")
        << "pipe" << true
        << "Borvane.gx is a pipe, not a file; only a regular file is replaced by the output.";
}

void TestBatchMode::linksAndSpecialFilesAsOutput()
{
#ifdef Q_OS_UNIX
    QFETCH(QString, kind);
    QFETCH(bool, force);
    QFETCH(QString, reason);
    const QString file = m_dir->filePath(QStringLiteral("out/part.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + joined(kBody, "\n")));
    const QString output = m_dir->filePath(QStringLiteral("out/Borvane.gx"));
    const QString target = m_dir->filePath(QStringLiteral("elsewhere/planted.txt"));
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("elsewhere"))));
    if (kind == u"link")
        QVERIFY(GuiTest::writeFile(target, "planted\n"));
    if (kind == u"pipe")
        QCOMPARE(::mkfifo(QFile::encodeName(output).constData(), 0600), 0);
    else
        QVERIFY(QFile::link(QStringLiteral("../elsewhere/planted.txt"), output));

    QStringList arguments{QStringLiteral("--row"), QStringLiteral("4"), QStringLiteral("--pause"), file};
    if (force)
        arguments.prepend(QStringLiteral("--force"));
    const Run run = runProgram(arguments);

    QCOMPARE(run.exitCode, 1);
    QVERIFY2(QString::fromLocal8Bit(run.err).contains(reason.replace(QStringLiteral("TARGET"), target)),
             run.err.constData());
    if (kind == u"link")
        QCOMPARE(GuiTest::readFile(target), QByteArray("planted\n"));
    else
        QVERIFY(!QFileInfo::exists(target));
    const QFileInfo left(output);
    QCOMPARE(left.isSymLink(), kind != u"pipe");
    if (kind == u"pipe") {
        struct stat status
        {
        };
        QCOMPARE(::lstat(QFile::encodeName(output).constData(), &status), 0);
        QVERIFY(S_ISFIFO(status.st_mode));
    }
#else
    QSKIP("links and pipes as Unix has them");
#endif
}

void TestBatchMode::overItsLimits_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("addressSpace"); // 0 for no limit
    QTest::addColumn<QString>("reason");

    QTest::newRow("a sparse body over 2000 MB") << qint64(2'200'000'000) << qint64(0)
                                                << "is too large: It is too large: its body is 2199 MB, 199 "
                                                   "MB more than the 2000 MB the editor holds.";
    QTest::newRow("a 1.9 GB body under a 1 GiB address space")
        << qint64(1'900'000'000) << (qint64(1) << 30) << "There is not enough memory to hold it.";
}

void TestBatchMode::overItsLimits()
{
#ifdef Q_OS_UNIX
    QFETCH(qint64, size);
    QFETCH(qint64, addressSpace);
    QFETCH(QString, reason);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer reserves terabytes of shadow memory, so no program of it starts under an
    // address-space limit; the limit is tried on the plain build.
    if (addressSpace > 0)
        QSKIP("an address-space limit leaves no room for AddressSanitizer");
#endif
    const QString file = m_dir->filePath(QStringLiteral("big.gcode"));
    {
        QFile big(file);
        QVERIFY(big.open(QIODevice::WriteOnly));
        const QByteArray start = kHeader + joined(kBody, "\n");
        QCOMPARE(big.write(start), start.size());
        if (!big.resize(size))
            QSKIP("this file system cannot hold a sparse file this big");
    }
    const Run run =
        runProgram({QStringLiteral("--row"), QStringLiteral("4"), QStringLiteral("--pause"), file},
                   Start{.inChild = [addressSpace] {
                       if (addressSpace > 0) {
                           const rlimit limit{rlim_t(addressSpace), rlim_t(addressSpace)};
                           ::setrlimit(RLIMIT_AS, &limit);
                       }
                   }});
    // A message of the program's own and status 1: no abort (134) on the way.
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(QString::fromLocal8Bit(run.err).contains(reason), run.err.constData());
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("Borvane.gx"))));
#else
    QSKIP("sets limits with setrlimit");
#endif
}

void TestBatchMode::diskFullSaysSo()
{
#ifdef Q_OS_LINUX
    if (geteuid() != 0)
        QSKIP("mounting a small tmpfs as a full disk needs root");
    const QString full = m_dir->filePath(QStringLiteral("full"));
    QVERIFY(QDir().mkpath(full));
    if (::mount("tmpfs", QFile::encodeName(full).constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("this machine does not let a test mount a tmpfs");
    const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(full).constData(), MNT_DETACH); });
    QList<QByteArray> rows = kBody;
    for (int i = 0; i < 3000; ++i)
        rows.append("G1 X" + QByteArray(96, '1'));
    const QString file = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + joined(rows, "\n")));
    const QString output = full + QStringLiteral("/out.gx");

    const Run run = runProgram({QStringLiteral("--row"), QStringLiteral("4"), QStringLiteral("--pause"),
                                QStringLiteral("-o"), output, file});

    QCOMPARE(run.exitCode, 1);
    // The window's words for the same fault (tst_dropcreate diskFullSaysSo).
    QVERIFY2(run.err.startsWith("Cannot write " + output.toUtf8() +
                                ": The disk is full: the file could not be written to its end ("),
             run.err.constData());
    QCOMPARE(QDir(full).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
#else
    QSKIP("mounts a Linux tmpfs");
#endif
}

void TestBatchMode::windowWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments"); // "FILE" stands for the fixture
    QTest::addColumn<QString>("display");       // DISPLAY, or none set
    QTest::addColumn<QString>("says");
    QTest::newRow("no arguments") << QStringList{} << QString() << "none is set";
    QTest::newRow("a file to open") << QStringList{"FILE"} << QString() << "none is set";
    // No X server listens there: Qt finds the display named but cannot reach it.
    QTest::newRow("a display that is not there") << QStringList{"FILE"} << ":987"
                                                 << "none could be reached";
}

// The window needs a display; without one the program says so and how to edit without it,
// and ends with status 1 instead of Qt's abort.
void TestBatchMode::windowWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(QString, says);
    const QString file = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + joined(kBody, "\n")));
    arguments.replaceInStrings(QStringLiteral("FILE"), file);
    const QMap<QString, QByteArray> before = snapshot(m_dir->path());

    const Run run = runProgram(arguments, {.display = display});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QByteArray());
    // Qt may have warned about the display it could not reach; the program's own line is the last.
    const QList<QByteArray> lines = run.err.trimmed().split('\n');
    if (display.isEmpty())
        QCOMPARE(lines.size(), 1);
    const QString last = QString::fromLocal8Bit(lines.back());
    QVERIFY2(last.startsWith(QStringLiteral("The window needs a display")) && last.contains(says) &&
                 last.endsWith(QStringLiteral("The batch options work without one: see --help.")),
             qPrintable(QString::fromLocal8Bit(run.err)));
    QCOMPARE(snapshot(m_dir->path()), before);
}

void TestBatchMode::severalPositionsOnRealFiles_data()
{
    // Slicers that write a mark ahead of each layer and ";Z:<height>" after it.
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("layerMark");
    QTest::addColumn<QList<double>>("heights");
    QTest::addColumn<int>("layer"); // given as --layer too
    const QDir real(QStringLiteral(BORVANE_REAL_FIXTURES_DIR));
    QTest::newRow("PrusaSlicer with Z lifts")
        << real.filePath(QStringLiteral("prusaslicer_z-hop-large_3939k.gcode")) << QByteArray(";LAYER_CHANGE")
        << QList<double>{10.05, 1.05, 4.15} << 30;
    QTest::newRow("ideaMaker") << real.filePath(QStringLiteral("ideamaker_basic_747k.gcode"))
                               << QByteArray(";LAYER:") << QList<double>{2.05, 5.05, 3.05} << 2;
}

// Three heights and a layer in one run, the report read as JSON: every inserted line stands
// where the report says, the rest is the input, and each layer is the slicer's.
void TestBatchMode::severalPositionsOnRealFiles()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, layerMark);
    QFETCH(QList<double>, heights);
    QFETCH(int, layer);
    if (!QFileInfo(file).isFile())
        QSKIP("The real slicer files are not beside the repository.");
    const QString output = m_dir->filePath(QStringLiteral("out.g"));
    QStringList arguments{QStringLiteral("--pause"),
                          QStringLiteral("--remove-header"),
                          QStringLiteral("--json"),
                          QStringLiteral("--layer"),
                          QString::number(layer),
                          QStringLiteral("-o"),
                          output};
    for (const double height : heights)
        arguments << QStringLiteral("--height") << QString::number(height);
    const Run run = runProgram(arguments << file);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);
    QJsonParseError error;
    const QJsonObject report = QJsonDocument::fromJson(run.out, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);

    QByteArray input = GuiTest::readFile(file);
    input.remove(0, input.indexOf('\n', input.indexOf('\n') + 1) + 1);
    const QList<QByteArray> before = input.split('\n');
    QList<QByteArray> after = GuiTest::readFile(output).split('\n');

    // The layers by the slicer's own comments: the n-th mark starts layer n, its ";Z:" gives the height.
    QList<int> markRows;
    QList<double> layerZ;
    for (qsizetype i = 0; i < before.size(); ++i) {
        if (!before[i].startsWith(layerMark))
            continue;
        markRows << int(i);
        for (qsizetype j = i + 1; j < before.size(); ++j) {
            if (before[j].startsWith(";Z:")) {
                layerZ << before[j].mid(3).trimmed().toDouble();
                break;
            }
        }
    }
    QCOMPARE(layerZ.size(), markRows.size());
    QList<int> expectedLayers{layer};
    for (const double height : heights) {
        const double target = height + layerZ.front(); // these prints start at their first layer
        int below = 0;
        while (below < layerZ.size() && layerZ[below] < target)
            ++below;
        expectedLayers << below;
    }
    std::sort(expectedLayers.begin(), expectedLayers.end());

    QCOMPARE(report[u"input"].toString(), QFileInfo(file).absoluteFilePath());
    QCOMPARE(report[u"output"].toString(), output);
    QCOMPARE(report[u"written"].toBool(), true);
    QCOMPARE(report[u"printStart"][u"z"].toDouble(), layerZ.front());
    QCOMPARE(report[u"topLayer"][u"layer"].toInt(), layerZ.size());
    QCOMPARE(report[u"topLayer"][u"z"].toDouble(), layerZ.back());
    const QJsonArray insertions = report[u"insertions"].toArray();
    QCOMPARE(insertions.size(), expectedLayers.size());
    QCOMPARE(after.size(), before.size() + insertions.size());
    for (qsizetype i = 0; i < insertions.size(); ++i) {
        const QJsonObject insertion = insertions[i].toObject();
        const int inputRow = insertion[u"inputRow"].toInt();
        const int outputRow = insertion[u"outputRow"].toInt();
        QCOMPARE(outputRow, inputRow + int(i)); // one line above for every insertion before
        QCOMPARE(insertion[u"lines"].toArray(), QJsonArray{"M25"});
        QCOMPARE(after[outputRow], QByteArray("M25"));
        QCOMPARE(after[outputRow + 1], before[inputRow]);
        const auto layersAbove =
            int(std::count_if(markRows.begin(), markRows.end(), [&](int mark) { return mark < inputRow; }));
        QCOMPARE(insertion[u"layer"].toInt(), expectedLayers[i]);
        QCOMPARE(layersAbove, expectedLayers[i]);
        QCOMPARE(insertion[u"z"].toDouble(), layerZ[expectedLayers[i] - 1]);
    }
    for (qsizetype i = insertions.size() - 1; i >= 0; --i)
        after.remove(insertions[i].toObject()[u"outputRow"].toInt());
    QVERIFY(after == before);
}

// A generated box with two hollows, their roofs at layers 11 and 31 (0-based 10 and 30): the
// listing names each roof layer's change row as the generator wrote it, and --hollow K pauses there.
void TestBatchMode::hollowsListedAndPausedBefore()
{
    GeneratedPrints::Box box;
    box.layers = 40;
    box.holes = {{14, 14, 22, 22, 3, 9}, {27, 27, 36, 35, 6, 29}};
    GeneratedPrints::Writer writer(box);
    const QString file = m_dir->filePath(QStringLiteral("box.gcode"));
    QVERIFY(GuiTest::writeFile(file, writer.file()));
    const int roofRows[] = {writer.layerRows()[10], writer.layerRows()[30]};
    const double areas[] = {8.0 * 8.0, 9.0 * 8.0};
    const double centres[][2] = {{18.0, 18.0}, {31.5, 31.0}};

    const QMap<QString, QByteArray> before = snapshot(m_dir->path());
    const Run listed = runProgram({QStringLiteral("--list-hollows"), file});
    QCOMPARE(listed.exitCode, 0);
    const QList<QByteArray> lines = listed.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    const char* const starts[] = {"layer 11, Z 2.200, row ", "layer 31, Z 6.200, row "};
    for (int k = 0; k < 2; ++k) {
        const QByteArray start = starts[k] + QByteArray::number(roofRows[k]) + ": hollow of ";
        QVERIFY2(lines[k].startsWith(start), lines[k].constData());
        const double area = lines[k].mid(start.size()).split(' ').front().toDouble();
        QVERIFY2(std::abs(area - areas[k]) <= 0.04 * areas[k], lines[k].constData());
    }

    const Run json = runProgram({QStringLiteral("--list-hollows"), QStringLiteral("--json"), file});
    QCOMPARE(json.exitCode, 0);
    const QJsonArray hollows =
        QJsonDocument::fromJson(json.out).object().value(QStringLiteral("hollows")).toArray();
    QCOMPARE(hollows.size(), 2);
    // A listing writes no file and names none; its numbers carry no binary noise (at most the six
    // decimals of a nanometre, where a centre computed in doubles would print 31.000000000000014).
    QVERIFY(QJsonDocument::fromJson(json.out).object().value(QStringLiteral("output")).isNull());
    const QRegularExpression noise(QStringLiteral("\"(?:z|area|x|y)\": ?-?[0-9]+\\.[0-9]{7,}"));
    QVERIFY2(!noise.match(QString::fromUtf8(json.out)).hasMatch(), json.out.constData());
    for (int k = 0; k < 2; ++k) {
        const QJsonObject hollow = hollows[k].toObject();
        QCOMPARE(hollow.value(QStringLiteral("layer")).toInt(), k == 0 ? 11 : 31);
        QCOMPARE(hollow.value(QStringLiteral("row")).toInt(), roofRows[k]);
        QVERIFY(std::abs(hollow.value(QStringLiteral("z")).toDouble() - writer.zOf(k == 0 ? 10 : 30)) < 1e-9);
        QVERIFY(std::abs(hollow.value(QStringLiteral("area")).toDouble() - areas[k]) <= 0.04 * areas[k]);
        QVERIFY(std::abs(hollow.value(QStringLiteral("x")).toDouble() - centres[k][0]) < 0.1);
        QVERIFY(std::abs(hollow.value(QStringLiteral("y")).toDouble() - centres[k][1]) < 0.1);
    }
    QCOMPARE(snapshot(m_dir->path()), before); // listing writes nothing

    const QString output = m_dir->filePath(QStringLiteral("paused.gcode"));
    const Run paused = runProgram({QStringLiteral("--hollow"), QStringLiteral("2"), QStringLiteral("--pause"),
                                   QStringLiteral("--remove-header"), QStringLiteral("-o"), output, file});
    QCOMPARE(paused.exitCode, 0);
    QList<QByteArray> expected = writer.body().split('\n');
    expected.insert(roofRows[1], "M25");
    QCOMPARE(GuiTest::readFile(output), expected.join('\n'));

    const Run tooFar =
        runProgram({QStringLiteral("--hollow"), QStringLiteral("3"), QStringLiteral("--pause"),
                    QStringLiteral("-o"), m_dir->filePath(QStringLiteral("never.gcode")), file});
    QCOMPARE(tooFar.exitCode, 1);
    QVERIFY2(tooFar.err.contains("has 2 hollow(s)"), tooFar.err.constData());
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("never.gcode"))));
}

void TestBatchMode::dryRunReportsAndWritesNothing()
{
    const QString file = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + joined(kBody, "\n")));
    const QMap<QString, QByteArray> before = snapshot(m_dir->path());
    // --layer 2 starts at row 6 (G1 Z0.500); --row 11 is the third layer's extrusion.
    const Run run = runProgram({QStringLiteral("--dry-run"), QStringLiteral("--row"), QStringLiteral("11"),
                                QStringLiteral("--layer"), QStringLiteral("2"), QStringLiteral("--t0"),
                                QStringLiteral("200"), QStringLiteral("--pause"), file});
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(withoutTimes(run.out), QByteArray("row 6, layer 2, Z 0.500, input row 6: M104 S200 T0\n"
                                 "row 6, layer 2, Z 0.500, input row 6: M25\n"
                                 "row 13, layer 3, Z 0.700, input row 11: M104 S200 T0\n"
                                 "row 13, layer 3, Z 0.700, input row 11: M25\n"));
    QCOMPARE(snapshot(m_dir->path()), before);
}

void TestBatchMode::inPlace()
{
    const QString file = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + joined(kBody, "\r\n")));
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ReadUser | QFileDevice::WriteUser |
                                            QFileDevice::ReadGroup)); // rw-r-----
    const QFileDevice::Permissions permissions = QFileInfo(file).permissions();
    // As a slicer's post-processing step calls it: options, then the file's path last.
    const Run run =
        runProgram({QStringLiteral("--in-place"), QStringLiteral("--height"), QStringLiteral("0.25"),
                    QStringLiteral("--layer"), QStringLiteral("3"), QStringLiteral("--pause"), file});
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);
    QList<QByteArray> expected = kBody;
    expected.insert(10, "M25"); // layer 3: G1 Z0.700
    expected.insert(6, "M25");  // 0.25 above the start at Z 0.3: the layer at Z 0.5
    QCOMPARE(GuiTest::readFile(file), kHeader + joined(expected, "\r\n"));
    QCOMPARE(QFileInfo(file).permissions(), permissions);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"part.gcode"});
}

// The save file beside FILE cannot be written whole (the file size limit stands for a full disk):
// FILE stays byte for byte, nothing is left beside it, and the status says it failed.
void TestBatchMode::inPlaceFailureLeavesTheFile()
{
    const QString file = m_dir->filePath(QStringLiteral("part.gcode"));
    QList<QByteArray> body = kBody;
    body.insert(1, ';' + QByteArray(200000, 'x'));
    const QByteArray bytes = kHeader + joined(body, "\n");
    QVERIFY(GuiTest::writeFile(file, bytes));
    // 64 blocks of 512 bytes: the limit cuts the write; XFSZ ignored, so the write fails instead.
    const Run run = runProgram({QStringLiteral("--in-place"), QStringLiteral("--row"), QStringLiteral("4"),
                                QStringLiteral("--pause"), file},
                               {.shell = QStringLiteral("trap '' XFSZ; ulimit -f 64; exec \"$0\" \"$@\"")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith("Cannot write " + file.toLocal8Bit()), run.err.constData());
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(GuiTest::readFile(file), bytes);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"part.gcode"});
}

void TestBatchMode::standardOutput()
{
    const QString file = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + joined(kBody, "\n")));
    const Run run = runProgram({QStringLiteral("--row"), QStringLiteral("4"), QStringLiteral("--bed"),
                                QStringLiteral("60"), QStringLiteral("-o"), QStringLiteral("-"), file});
    QCOMPARE(run.exitCode, 0);
    QList<QByteArray> expected = kBody;
    expected.insert(4, "M140 S60 T0");
    QCOMPARE(run.out, kHeader + joined(expected, "\n"));
    QCOMPARE(withoutTimes(run.err), QByteArray("row 4, layer 1, Z 0.300, input row 4: M140 S60 T0\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"part.gcode"});
}

void TestBatchMode::standardOutputThatFails()
{
    const QString file = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(file, kHeader + joined(kBody, "\n")));
    const Run run = runProgram({QStringLiteral("--row"), QStringLiteral("4"), QStringLiteral("--pause"),
                                QStringLiteral("-o"), QStringLiteral("-"), file},
                               {.shell = QStringLiteral("exec \"$0\" \"$@\" > /dev/full")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith("Cannot write to standard output"), run.err.constData());
}

// Standard output full or closed, in every output mode: the status says what became of the file.
// 0 when it was written (the lost report is a warning on standard error), 1 when nothing was;
// an --in-place run that said 1 after replacing FILE would be run again and pause twice.
void TestBatchMode::reportThatCannotBeWritten_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("redirect");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("error"); // how standard error starts
    const char* const redirects[][2] = {{"full", "> /dev/full"}, {"closed", ">&-"}};
    for (const auto& [name, redirect] : redirects) {
        const auto row = [&](const char* mode, int status, const QByteArray& error) {
            QTest::addRow("%s, standard output %s", mode, name)
                << QString::fromLatin1(mode) << QString::fromLatin1(redirect) << status << error;
        };
        row("-o FILE", 0, "Warning: ");
        row("default output", 0, "Warning: ");
        row("--in-place", 0, "Warning: ");
        row("--json -o FILE", 0, "Warning: ");
        row("-o -", 1, "Cannot write to standard output: ");
        row("--dry-run", 1, "Cannot write the report to standard output: ");
        row("--list-hollows", 1, "Cannot write the report to standard output: ");
        row("--list-printers", 1, "Cannot write to standard output: ");
    }
}

void TestBatchMode::reportThatCannotBeWritten()
{
    QFETCH(QString, mode);
    QFETCH(QString, redirect);
    QFETCH(int, status);
    QFETCH(QByteArray, error);
    const QString file = m_dir->filePath(QStringLiteral("part.gcode"));
    GeneratedPrints::Box box; // a hollow to list
    box.holes = {{14, 14, 22, 22, 3, 9}};
    const QByteArray input =
        mode == u"--list-hollows" ? GeneratedPrints::Writer(box).file() : kHeader + joined(kBody, "\n");
    QVERIFY(GuiTest::writeFile(file, input));
    QList<QByteArray> edited = kBody;
    edited.insert(4, "M25");
    const QByteArray output = kHeader + joined(edited, "\n");
    const QString named = m_dir->filePath(QStringLiteral("out.gx"));
    const QString beside = m_dir->filePath(QStringLiteral("Borvane.gx"));

    QStringList arguments{QStringLiteral("--row"), QStringLiteral("4"), QStringLiteral("--pause")};
    if (mode == u"-o FILE")
        arguments << QStringLiteral("-o") << named;
    else if (mode == u"--in-place")
        arguments << QStringLiteral("--in-place");
    else if (mode == u"--json -o FILE")
        arguments << QStringLiteral("--json") << QStringLiteral("-o") << named;
    else if (mode == u"-o -")
        arguments << QStringLiteral("-o") << QStringLiteral("-");
    else if (mode == u"--dry-run")
        arguments << QStringLiteral("--dry-run");
    else if (mode == u"--list-hollows")
        arguments = QStringList{QStringLiteral("--list-hollows")};
    else if (mode == u"--list-printers")
        arguments = QStringList{QStringLiteral("--list-printers")};
    if (mode != u"--list-printers")
        arguments << file;

    const Run run = runProgram(arguments, {.shell = QStringLiteral("exec \"$0\" \"$@\" ") + redirect});
    QCOMPARE(run.exitCode, status);
    QVERIFY2(run.err.startsWith(error), run.err.constData());
    if (status == 0)
        QVERIFY2(run.err.contains("its report could not be written to standard output"), run.err.constData());
    QCOMPARE(run.out, QByteArray());

    // The file as the status tells: written once, or nothing written at all.
    QStringList files{QStringLiteral("part.gcode")};
    if (mode == u"--in-place") {
        QCOMPARE(GuiTest::readFile(file), output);
    } else {
        QCOMPARE(GuiTest::readFile(file), input);
        if (mode == u"-o FILE" || mode == u"--json -o FILE") {
            QCOMPARE(GuiTest::readFile(named), output);
            files << QStringLiteral("out.gx");
        } else if (mode == u"default output") {
            QCOMPARE(GuiTest::readFile(beside), output);
            files << QStringLiteral("Borvane.gx");
        }
    }
    files.sort();
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), files);
}

// In a pipe: the sliced file on standard input, the edited file on standard output, the report
// (here JSON) on standard error.
void TestBatchMode::standardInputToStandardOutput()
{
    const QByteArray input = kHeader + joined(kBody, "\r\n");
    const Run run =
        runProgram({QStringLiteral("--layer"), QStringLiteral("2"), QStringLiteral("--pause"),
                    QStringLiteral("--json"), QStringLiteral("-o"), QStringLiteral("-"), QStringLiteral("-")},
                   {.input = input});
    QCOMPARE(run.exitCode, 0);
    QList<QByteArray> expected = kBody;
    expected.insert(6, "M25"); // layer 2 starts at G1 Z0.500
    QCOMPARE(run.out, kHeader + joined(expected, "\r\n"));
    const QJsonObject report = QJsonDocument::fromJson(run.err).object();
    QCOMPARE(report[u"input"].toString(), QStringLiteral("-"));
    QCOMPARE(report[u"output"].toString(), QStringLiteral("-"));
    QCOMPARE(report[u"insertions"][0][u"inputRow"].toInt(), 6);
    QCOMPARE(report[u"insertions"][0][u"layer"].toInt(), 2);
}

QTEST_MAIN(TestBatchMode)
#include "tst_batchmode.moc"
