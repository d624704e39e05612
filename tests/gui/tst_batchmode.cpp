// The command-line batch mode, run as a script runs it: the built program started with
// QProcess, no display. Its output must be the bytes the window writes for the same edit,
// and every refusal must leave the folder as it was.

#include "GuiTestSupport.h"
#include "TestPaths.h"

#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

using GuiTest::MessageBoxAnswers;

namespace {

const QByteArray kHeader(";FLAVOR:Marlin\n;Generated with a test\n");

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

// Runs the program as a script would, with no display to connect to.
Run runProgram(const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BORVANE_PROGRAM_PATH), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
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
    void init();
    void cleanup();

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
    void helpAndVersion_data();
    void helpAndVersion();

private:
    // The edit made in the window: drop, "Row Number" or "Insert Height", insertions, header
    // option, "Create". Returns the bytes written; empty or "<cannot read>" when that failed.
    QByteArray editInTheWindow(const QString& file, const Edit& edit);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestBatchMode::init()
{
    QVERIFY(QFileInfo(QStringLiteral(BORVANE_PROGRAM_PATH)).isExecutable());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestBatchMode::cleanup()
{
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
    QTimer::singleShot(30000, qApp, [] { qApp->exit(99); });
    if (qApp->exec() != 0)
        return {};
    return GuiTest::readFile(QFileInfo(file).dir().filePath(window.leditFileName->text()));
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
        row("header only: the pause is the body", {}) << true << Edit{.row = 0, .pause = true};
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
    const double target = height + layerZ.front(); // these prints start at their first layer
    QVERIFY2(z < target && layerZ[layersBefore] >= target, qPrintable(QString::number(z)));

    const QString expected =
        QStringLiteral("row %1, layer %2, Z %3: M25\n").arg(row).arg(layersBefore).arg(z, 0, 'f', 3);
    QCOMPARE(QString::fromLocal8Bit(run.out), expected);
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
    QCOMPARE(run.out, QByteArray("row 7, layer 2, Z 0.500: M25\n"));
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
    QTest::newRow("no row chosen") << pause << "--height H or --row N";
    QTest::newRow("both height and row")
        << QStringList{"--height", "1", "--row", "4"} + pause << "--height H or --row N";
    QTest::newRow("row not a number")
        << QStringList{"--row", "four"} + pause << "--row \"four\" is not a row number";
    QTest::newRow("negative row") << QStringList{"--row=-4"} + pause << "--row \"-4\" is not a row number";
    QTest::newRow("row 1") << QStringList{"--row", "1"} + pause << "--row 1 takes no insertion";
    QTest::newRow("row past the end") << QStringList{"--row", "14"} + pause << "Row 14 is past the end";
    QTest::newRow("row beyond any file")
        << QStringList{"--row", "99999999999", "--after"} + pause << "Row 2147483647 is past the end";
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
    QTest::newRow("one line: no header")
        << QStringList{"--row", "4", "--pause", "DIR/one-line.gcode"} << "fewer than two lines";
    QTest::newRow("header too long") << QStringList{"--row", "4", "--pause", "DIR/long-header.gcode"}
                                     << "longer than 35000 bytes";
    QTest::newRow("output exists") << QStringList{"--row", "4", "--pause", "-o", "DIR/old.gx", "FILE"}
                                   << "exists; give --force";
    QTest::newRow("output folder missing")
        << QStringList{"--row", "4", "--pause", "-o", "DIR/no/such.gx", "FILE"} << "Cannot write";
    QTest::newRow("output is a folder")
        << QStringList{"--row", "4", "--pause", "--force", "-o", "DIR", "FILE"} << "Cannot write";
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

void TestBatchMode::helpAndVersion_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QStringList>("shows");
    QTest::newRow("--help") << "--help"
                            << QStringList{"--height <H>",       "--row <N>", "--pause", "--t0 <C>",
                                           "--t1 <C>",           "--bed <C>", "--after", "--remove-header",
                                           "-o, --output <OUT>", "--force",   "FILE"};
    QTest::newRow("--help-all") << "--help-all" << QStringList{"--height <H>", "--row <N>"};
    QTest::newRow("--version") << "--version" << QStringList{"EditorForBorvane5 1.3"};
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

QTEST_MAIN(TestBatchMode)
#include "tst_batchmode.moc"
