// The edit without a window, run in core as a request on files in a temporary folder: no process,
// no window. The expected output is the input's own bytes with the lines spliced in at the row
// the test finds by reading the slicer's layer comments; a refused request writes nothing.

#include "core/batch/Batch.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace {

const QByteArray kHeader(";FLAVOR:Marlin\n;Generated with a test\n");

// A small print in the shape Cura writes: ";LAYER:n" (from 0) ahead of each layer, whose first
// move sets the layer's Z; a lift before the first layer and after the last, which are no layers.
const QList<QByteArray> kBody = {
    ";LAYER_COUNT:3",        // row 0
    "G28",                   // row 1
    "G1 Z5 F3000",           // row 2: the start lift
    ";LAYER:0",              // row 3
    "G0 F3000 X10 Y10 Z0.2", // row 4
    "G1 X20 Y10 E1",         // row 5
    ";LAYER:1",              // row 6
    "G0 X20 Y20 Z0.4",       // row 7
    "G1 X10 Y20 E2",         // row 8
    "",                      // row 9: a blank row
    ";LAYER:2",              // row 10
    "G0 X10 Y10 Z0.6",       // row 11
    "G1 X20 Y10 E3",         // row 12
    "G1 Z10",                // row 13: the end lift
    "M104 S0",               // row 14
};

QByteArray joined(const QList<QByteArray>& lines, const QByteArray& lineBreak)
{
    QByteArray text;
    for (const QByteArray& line : lines)
        text += line + lineBreak;
    return text;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<cannot read>");
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The byte where body row `row` starts, by counting LF bytes; the body's size past its last row.
qsizetype rowStart(const QByteArray& body, int row)
{
    qsizetype at = 0;
    for (int r = 0; r < row; ++r) {
        at = body.indexOf('\n', at);
        if (at < 0)
            return body.size();
        ++at;
    }
    return at;
}

struct SlicerLayer
{
    int number = 0;  // as the slicer counts, from 0
    int moveRow = 0; // the row after the comment that sets the layer's Z
    double z = 0.0;
};

// The layers as the slicer's ";LAYER:n" comments announce them, each with the Z of the move
// that follows its comment.
QList<SlicerLayer> slicerLayers(const QList<QByteArray>& rows)
{
    QList<SlicerLayer> layers;
    for (int row = 0; row + 1 < rows.size(); ++row) {
        if (!rows[row].startsWith(";LAYER:"))
            continue;
        const QByteArray move = rows[row + 1];
        const qsizetype z = move.indexOf(" Z");
        if (z >= 0)
            layers.append({rows[row].mid(7).toInt(), row + 1, move.mid(z + 2).split(' ').front().toDouble()});
    }
    return layers;
}

QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, readAll(path));
    }
    return files;
}

} // namespace

Q_DECLARE_METATYPE(Batch::Request)
Q_DECLARE_METATYPE(Batch::Insertion)

class TestBatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void rowChosenByRow_data();
    void rowChosenByRow();
    void rowChosenByHeight_data();
    void rowChosenByHeight();
    void outputBesideTheFile_data();
    void outputBesideTheFile();
    void refusedWritesNothing_data();
    void refusedWritesNothing();
    void forceReplacesTheOutput();
    void reportLine_data();
    void reportLine();

private:
    QString fixture(const QByteArray& bytes, const QString& name = QStringLiteral("part.gcode"));

    std::optional<QTemporaryDir> m_dir;
};

void TestBatch::init()
{
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
}

void TestBatch::cleanup()
{
    m_dir.reset();
}

QString TestBatch::fixture(const QByteArray& bytes, const QString& name)
{
    const QString path = m_dir->filePath(name);
    return writeAll(path, bytes) ? path : QString();
}

void TestBatch::rowChosenByRow_data()
{
    QTest::addColumn<QByteArray>("lineBreak");
    QTest::addColumn<bool>("lastRowBroken");
    QTest::addColumn<Batch::Request>("request");
    QTest::addColumn<int>("spliceRow");              // the body row the lines go in front of
    QTest::addColumn<QList<QByteArray>>("inserted"); // top to bottom
    QTest::addColumn<QList<int>>("reportedRows");    // one per press

    for (const QByteArray& lineBreak : {QByteArray("\n"), QByteArray("\r\n")}) {
        const QByteArray name = lineBreak == "\n" ? "LF, " : "CR LF, ";
        const auto row = [&](const char* what) -> QTestData& {
            return QTest::newRow(name + what) << lineBreak;
        };
        row("pause before row 7") << true << Batch::Request{.row = 7, .pause = true} << 7
                                  << QList<QByteArray>{"M25"} << QList<int>{7};
        row("pause after row 7") << true << Batch::Request{.row = 7, .pause = true, .after = true} << 8
                                 << QList<QByteArray>{"M25"} << QList<int>{8};
        // Before: the pause goes in front of the temperature lines, where the caret stayed.
        row("temperatures and pause before")
            << true << Batch::Request{.row = 11, .pause = true, .t0 = "210", .t1 = "205", .bed = "60"} << 11
            << QList<QByteArray>{"M25", "M140 S60 T0", "M104 S210 T0", "M104 S205 T1"} << QList<int>{11, 11};
        // After: the pause goes behind the first temperature line, where the caret went.
        row("temperatures and pause after")
            << true << Batch::Request{.row = 11, .pause = true, .t0 = "210", .bed = "60", .after = true} << 12
            << QList<QByteArray>{"M140 S60 T0", "M25", "M104 S210 T0"} << QList<int>{12, 13};
        row("before the blank row") << true << Batch::Request{.row = 9, .t1 = "0"} << 9
                                    << QList<QByteArray>{"M104 S0 T1"} << QList<int>{9};
        row("row 0") << true << Batch::Request{.row = 0, .pause = true} << 0 << QList<QByteArray>{"M25"}
                     << QList<int>{0};
        row("after the last row") << true << Batch::Request{.row = 14, .pause = true, .after = true} << 15
                                  << QList<QByteArray>{"M25"} << QList<int>{15};
        row("no break at the end, before the last row") << false << Batch::Request{.row = 14, .pause = true}
                                                        << 14 << QList<QByteArray>{"M25"} << QList<int>{14};
    }
}

void TestBatch::rowChosenByRow()
{
    QFETCH(QByteArray, lineBreak);
    QFETCH(bool, lastRowBroken);
    QFETCH(Batch::Request, request);
    QFETCH(int, spliceRow);
    QFETCH(QList<QByteArray>, inserted);
    QFETCH(QList<int>, reportedRows);
    QByteArray body = joined(kBody, lineBreak);
    if (!lastRowBroken)
        body.chop(lineBreak.size());
    request.file = fixture(kHeader + body);

    const Batch::Outcome outcome = Batch::run(request);
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.outputPath, m_dir->filePath(QStringLiteral("Borvane.gx")));
    QByteArray expected = body;
    expected.insert(rowStart(body, spliceRow), joined(inserted, lineBreak));
    if (!lastRowBroken)
        expected += lineBreak; // as "Create" writes it: every row ends with a break
    QCOMPARE(readAll(outcome.outputPath), kHeader + expected);
    QCOMPARE(outcome.insertions.size(), reportedRows.size());
    for (qsizetype i = 0; i < reportedRows.size(); ++i)
        QCOMPARE(outcome.insertions[i].row, reportedRows[i]);
}

void TestBatch::rowChosenByHeight_data()
{
    QTest::addColumn<double>("height"); // above the print start
    QTest::addColumn<bool>("after");
    // Between layers, so that no rounding of a sum decides the case.
    QTest::newRow("0: the first layer") << 0.0 << false;
    QTest::newRow("inside the first layer") << 0.1 << false;
    QTest::newRow("between the second and third layer") << 0.3 << false;
    QTest::newRow("between the second and third layer, after") << 0.3 << true;
}

void TestBatch::rowChosenByHeight()
{
    QFETCH(double, height);
    QFETCH(bool, after);
    const QString file = fixture(kHeader + joined(kBody, "\n"));
    const Batch::Request request{.file = file, .height = height, .pause = true, .after = after};

    // By the comments: the print starts at the first layer's Z; the row is the move of the last
    // layer below start + height, or of the first layer when none is below.
    const QList<SlicerLayer> layers = slicerLayers(kBody);
    QCOMPARE(layers.size(), 3);
    const double target = layers.front().z + height;
    SlicerLayer expected = layers.front();
    for (const SlicerLayer& layer : layers) {
        if (layer.z < target)
            expected = layer;
    }

    const Batch::Outcome outcome = Batch::run(request);
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.insertions.size(), 1);
    const Batch::Insertion& insertion = outcome.insertions.front();
    QCOMPARE(insertion.row, expected.moveRow + (after ? 1 : 0));
    QCOMPARE(insertion.layer, std::optional<int>(expected.number + 1));
    QVERIFY(insertion.z);
    QCOMPARE(*insertion.z, expected.z);
    const QByteArray body = joined(kBody, "\n");
    QByteArray bytes = body;
    bytes.insert(rowStart(body, insertion.row), "M25\n");
    QCOMPARE(readAll(outcome.outputPath), kHeader + bytes);
}

void TestBatch::outputBesideTheFile_data()
{
    QTest::addColumn<bool>("removeHeader");
    QTest::addColumn<QString>("output"); // relative to the folder; empty for the default
    QTest::addColumn<QString>("written");
    QTest::newRow("with the header: Borvane.gx") << false << QString() << "Borvane.gx";
    QTest::newRow("without the header: Borvane.g") << true << QString() << "Borvane.g";
    QTest::newRow("a named output") << true << "edited.gcode"
                                    << "edited.gcode";
    QTest::newRow("FILE itself") << false << "part.gcode"
                                 << "part.gcode";
}

void TestBatch::outputBesideTheFile()
{
    QFETCH(bool, removeHeader);
    QFETCH(QString, output);
    QFETCH(QString, written);
    const QByteArray body = joined(kBody, "\n");
    Batch::Request request{.row = 4, .pause = true, .removeHeader = removeHeader, .force = true};
    request.file = fixture(kHeader + body);
    if (!output.isEmpty())
        request.output = m_dir->filePath(output);

    const Batch::Outcome outcome = Batch::run(request);
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.outputPath, m_dir->filePath(written));
    QByteArray expected = body;
    expected.insert(rowStart(body, 4), "M25\n");
    QCOMPARE(readAll(outcome.outputPath), removeHeader ? expected : kHeader + expected);
}

void TestBatch::refusedWritesNothing_data()
{
    QTest::addColumn<Batch::Request>("request"); // file and output relative to the folder
    QTest::addColumn<QString>("reason");
    QTest::newRow("row past the end")
        << Batch::Request{.file = "part.gcode", .row = 16, .pause = true} << "Row 16 is past the end";
    QTest::newRow("after the last row's end")
        << Batch::Request{.file = "part.gcode", .row = 15, .pause = true, .after = true}
        << "Row 16 is past the end";
    // Z 0.7: above the top layer (Z 0.6), below the end lift.
    QTest::newRow("height above the top layer")
        << Batch::Request{.file = "part.gcode", .height = 0.5, .pause = true} << "was not found";
    QTest::newRow("missing file") << Batch::Request{.file = "missing.gcode", .row = 4, .pause = true}
                                  << "Cannot open";
    QTest::newRow("folder") << Batch::Request{.file = ".", .row = 4, .pause = true} << "is a folder";
    QTest::newRow("one line: no header")
        << Batch::Request{.file = "one-line.gcode", .row = 0, .pause = true} << "fewer than two lines";
    QTest::newRow("output exists") << Batch::Request{.file = "part.gcode",
                                                     .row = 4,
                                                     .pause = true,
                                                     .output = "old.gx"}
                                   << "exists; give --force";
    QTest::newRow("output folder missing")
        << Batch::Request{.file = "part.gcode", .row = 4, .pause = true, .output = "no/such.gx"}
        << "Cannot write";
}

void TestBatch::refusedWritesNothing()
{
    QFETCH(Batch::Request, request);
    QFETCH(QString, reason);
    QVERIFY(!fixture(kHeader + joined(kBody, "\n")).isEmpty());
    QVERIFY(!fixture("G28\n", QStringLiteral("one-line.gcode")).isEmpty());
    QVERIFY(!fixture("an older output\n", QStringLiteral("old.gx")).isEmpty());
    request.file = QDir::cleanPath(m_dir->filePath(request.file));
    if (!request.output.isEmpty())
        request.output = m_dir->filePath(request.output);
    const QMap<QString, QByteArray> before = snapshot(m_dir->path());

    const Batch::Outcome outcome = Batch::run(request);
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.error.contains(reason), qPrintable(outcome.error));
    QCOMPARE(snapshot(m_dir->path()), before);
}

void TestBatch::forceReplacesTheOutput()
{
    const QByteArray body = joined(kBody, "\n");
    const QString file = fixture(kHeader + body);
    const QString old = fixture("an older output\n", QStringLiteral("Borvane.gx"));
    const Batch::Outcome outcome = Batch::run({.file = file, .row = 4, .pause = true, .force = true});
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QByteArray expected = body;
    expected.insert(rowStart(body, 4), "M25\n");
    QCOMPARE(readAll(old), kHeader + expected);
    QCOMPARE(readAll(file), kHeader + body);
}

void TestBatch::reportLine_data()
{
    QTest::addColumn<Batch::Insertion>("insertion");
    QTest::addColumn<QString>("line");
    QTest::newRow("in a layer") << Batch::Insertion{7, {"M25"}, 2, 0.4} << "row 7, layer 2, Z 0.400: M25";
    QTest::newRow("temperatures") << Batch::Insertion{11, {"M140 S60 T0", "M104 S210 T0"}, 3, 0.6}
                                  << "row 11, layer 3, Z 0.600: M140 S60 T0 | M104 S210 T0";
    QTest::newRow("before the first layer, below a Z line")
        << Batch::Insertion{3, {"M25"}, std::nullopt, 5.0} << "row 3, Z 5.000: M25";
    QTest::newRow("no layer, no Z") << Batch::Insertion{0, {"M25"}, std::nullopt, std::nullopt}
                                    << "row 0: M25";
}

void TestBatch::reportLine()
{
    QFETCH(Batch::Insertion, insertion);
    QFETCH(QString, line);
    QCOMPARE(Batch::describe(insertion), line);
}

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
