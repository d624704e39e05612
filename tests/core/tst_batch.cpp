// The edit without a window, run in core as a request on files in a temporary folder or on
// buffers: no process, no window. The expected output is the input's own bytes with the lines
// spliced in at the rows the test finds by reading the slicer's layer comments; a refused request
// writes nothing.

#include "core/batch/Batch.h"

#include "TestPaths.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <optional>

using Batch::Position;
using By = Batch::Position::By;

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

QByteArray joined(const QList<QByteArray>& lines, const QByteArray& lineBreak = "\n")
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
    int number = 0;  // as the margin counts, from 1 (the slicer's ";LAYER:n" plus 1)
    int moveRow = 0; // the row after the comment: the move that sets the layer's Z
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
            layers.append(
                {rows[row].mid(7).toInt() + 1, row + 1, move.mid(z + 2).split(' ').front().toDouble()});
    }
    return layers;
}

// By the comments: the print starts at the first layer's Z; a height selects the move of the last
// layer below start + height, or the first layer when none is below.
SlicerLayer layerForHeight(double height)
{
    const QList<SlicerLayer> layers = slicerLayers(kBody);
    SlicerLayer chosen = layers.front();
    for (const SlicerLayer& layer : layers) {
        if (layer.z < layers.front().z + height)
            chosen = layer;
    }
    return chosen;
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

// Standard input as a pipe gives it: no seeking, and at most `piece` bytes per read.
class Pipe : public QIODevice
{
public:
    Pipe(QByteArray bytes, qint64 piece) : m_bytes(std::move(bytes)), m_piece(piece)
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 n = qMin(qMin(maxSize, m_piece), qint64(m_bytes.size()) - m_done);
        std::copy_n(m_bytes.constData() + m_done, n, data);
        m_done += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_piece = 0;
    qint64 m_done = 0;
};

Position height(double h)
{
    return {.by = By::Height, .height = h};
}
Position row(int n)
{
    return {.by = By::Row, .number = n};
}
Position layer(int n)
{
    return {.by = By::Layer, .number = n};
}

// One block the test expects: its lines go in front of input row `before`.
struct Expected
{
    int before = 0;
    QList<QByteArray> lines;
};

} // namespace

Q_DECLARE_METATYPE(Batch::Request)
Q_DECLARE_METATYPE(Batch::Insertion)
Q_DECLARE_METATYPE(Expected)

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
    void severalPositionsFromTheTopDown_data();
    void severalPositionsFromTheTopDown();
    void printStartAndTopLayer();
    void dryRunWritesNothing();
    void inPlaceKeepsPermissions();
    void standardOutput();
    void standardInput_data();
    void standardInput();
    void outputBesideTheFile_data();
    void outputBesideTheFile();
    void refusedWritesNothing_data();
    void refusedWritesNothing();
    void forceReplacesTheOutput();
    void reportLines_data();
    void reportLines();
    void timesAgainstTheSlicer_data();
    void timesAgainstTheSlicer();
    void timeChoosesTheLayer();
    void messageBeforeThePause();

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
    QTest::addColumn<QList<int>>("pressRows");       // where each press's first line went

    for (const QByteArray& lineBreak : {QByteArray("\n"), QByteArray("\r\n")}) {
        const QByteArray name = lineBreak == "\n" ? "LF, " : "CR LF, ";
        const auto newRow = [&](const char* what) -> QTestData& {
            return QTest::newRow(name + what) << lineBreak;
        };
        newRow("pause before row 7") << true << Batch::Request{.positions = {row(7)}, .pause = true} << 7
                                     << QList<QByteArray>{"M25"} << QList<int>{7};
        newRow("pause after row 7") << true
                                    << Batch::Request{.positions = {row(7)}, .pause = true, .after = true}
                                    << 8 << QList<QByteArray>{"M25"} << QList<int>{8};
        // Before: the pause goes in front of the temperature lines, where the caret stayed.
        newRow("temperatures and pause before")
            << true
            << Batch::Request{.positions = {row(11)},
                              .pause = true,
                              .temperatureLines = {"M140 S60 T0", "M104 S210 T0", "M104 S205 T1"}}
            << 11 << QList<QByteArray>{"M25", "M140 S60 T0", "M104 S210 T0", "M104 S205 T1"}
            << QList<int>{11, 11};
        // After: the pause goes behind the first temperature line, where the caret went.
        newRow("temperatures and pause after")
            << true
            << Batch::Request{.positions = {row(11)},
                              .pause = true,
                              .temperatureLines = {"M140 S60 T0", "M104 S210 T0"},
                              .after = true}
            << 12 << QList<QByteArray>{"M140 S60 T0", "M25", "M104 S210 T0"} << QList<int>{12, 13};
        newRow("before the blank row")
            << true << Batch::Request{.positions = {row(9)}, .temperatureLines = {"M104 S0 T1"}} << 9
            << QList<QByteArray>{"M104 S0 T1"} << QList<int>{9};
        newRow("row 0") << true << Batch::Request{.positions = {row(0)}, .pause = true} << 0
                        << QList<QByteArray>{"M25"} << QList<int>{0};
        newRow("after the last row") << true
                                     << Batch::Request{.positions = {row(14)}, .pause = true, .after = true}
                                     << 15 << QList<QByteArray>{"M25"} << QList<int>{15};
        newRow("no break at the end, before the last row")
            << false << Batch::Request{.positions = {row(14)}, .pause = true} << 14
            << QList<QByteArray>{"M25"} << QList<int>{14};
    }
}

void TestBatch::rowChosenByRow()
{
    QFETCH(QByteArray, lineBreak);
    QFETCH(bool, lastRowBroken);
    QFETCH(Batch::Request, request);
    QFETCH(int, spliceRow);
    QFETCH(QList<QByteArray>, inserted);
    QFETCH(QList<int>, pressRows);
    QByteArray body = joined(kBody, lineBreak);
    if (!lastRowBroken)
        body.chop(lineBreak.size());
    request.file = fixture(kHeader + body);

    const Batch::Outcome outcome = Batch::run(request);
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QVERIFY(outcome.written);
    QCOMPARE(outcome.outputPath, m_dir->filePath(QStringLiteral("Borvane.gx")));
    QByteArray expected = body;
    expected.insert(rowStart(body, spliceRow), joined(inserted, lineBreak));
    if (!lastRowBroken)
        expected += lineBreak; // as "Create" writes it: every row ends with a break
    QCOMPARE(readAll(outcome.outputPath), kHeader + expected);
    QCOMPARE(outcome.insertions.size(), 1);
    const Batch::Insertion& insertion = outcome.insertions.front();
    QCOMPARE(insertion.inputRow, request.positions.front().number);
    QCOMPARE(insertion.outputRow, spliceRow);
    QCOMPARE(insertion.presses.size(), pressRows.size());
    for (qsizetype i = 0; i < pressRows.size(); ++i)
        QCOMPARE(insertion.presses[i].row, pressRows[i]);
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
    const QString file = fixture(kHeader + joined(kBody));
    const SlicerLayer expected = layerForHeight(height);

    const Batch::Outcome outcome =
        Batch::run({.file = file, .positions = {::height(height)}, .pause = true, .after = after});
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.insertions.size(), 1);
    const Batch::Insertion& insertion = outcome.insertions.front();
    QCOMPARE(insertion.inputRow, expected.moveRow);
    QCOMPARE(insertion.outputRow, expected.moveRow + (after ? 1 : 0));
    QCOMPARE(insertion.layer, std::optional<int>(expected.number));
    QVERIFY(insertion.z);
    QCOMPARE(*insertion.z, expected.z);
    const QByteArray body = joined(kBody);
    QByteArray bytes = body;
    bytes.insert(rowStart(body, insertion.outputRow), "M25\n");
    QCOMPARE(readAll(outcome.outputPath), kHeader + bytes);
}

void TestBatch::severalPositionsFromTheTopDown_data()
{
    QTest::addColumn<Batch::Request>("request");
    QTest::addColumn<QList<Expected>>("expected"); // top to bottom, in input rows
    const SlicerLayer second = layerForHeight(0.3);
    QCOMPARE(second.number, 2);
    const SlicerLayer third = slicerLayers(kBody).back();

    QTest::newRow("two rows, given bottom first")
        << Batch::Request{.positions = {row(12), row(5)}, .pause = true}
        << QList<Expected>{{5, {"M25"}}, {12, {"M25"}}};
    QTest::newRow("a height, a row and a layer")
        << Batch::Request{.positions = {layer(3), height(0.3), row(2)}, .pause = true}
        << QList<Expected>{{2, {"M25"}}, {second.moveRow, {"M25"}}, {third.moveRow, {"M25"}}};
    QTest::newRow("temperatures and pause at each, after")
        << Batch::Request{.positions = {layer(1), layer(2)},
                          .pause = true,
                          .temperatureLines = {"M104 S215 T0"},
                          .after = true}
        << QList<Expected>{{slicerLayers(kBody).front().moveRow + 1, {"M104 S215 T0", "M25"}},
                           {second.moveRow + 1, {"M104 S215 T0", "M25"}}};
    QTest::newRow("neighbouring rows")
        << Batch::Request{.positions = {row(7), row(8)}, .temperatureLines = {"M104 S180 T1"}}
        << QList<Expected>{{7, {"M104 S180 T1"}}, {8, {"M104 S180 T1"}}};
    QTest::newRow("after the start lift and at the end of the text")
        << Batch::Request{.positions = {row(14), row(2)}, .pause = true, .after = true}
        << QList<Expected>{{3, {"M25"}}, {15, {"M25"}}};
}

// Every position is chosen on the input; the output is the input with each block spliced in,
// and each block's output row counts the lines put in above it.
void TestBatch::severalPositionsFromTheTopDown()
{
    QFETCH(Batch::Request, request);
    QFETCH(QList<Expected>, expected);
    const QByteArray body = joined(kBody);
    request.file = fixture(kHeader + body);

    const Batch::Outcome outcome = Batch::run(request);
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QByteArray bytes = body;
    for (qsizetype i = expected.size() - 1; i >= 0; --i) // from the bottom, so rows stay the input's
        bytes.insert(rowStart(body, expected[i].before), joined(expected[i].lines));
    QCOMPARE(readAll(outcome.outputPath), kHeader + bytes);

    QCOMPARE(outcome.insertions.size(), expected.size());
    const QList<QByteArray> output = bytes.split('\n');
    int above = 0;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const Batch::Insertion& insertion = outcome.insertions[i];
        const int inputRow = expected[i].before - (request.after ? 1 : 0);
        QCOMPARE(insertion.inputRow, inputRow);
        QCOMPARE(insertion.outputRow, expected[i].before + above);
        QCOMPARE(output.mid(insertion.outputRow, expected[i].lines.size()), expected[i].lines);
        QCOMPARE(output[inputRow + above + (request.after ? 0 : int(expected[i].lines.size()))],
                 kBody[inputRow]); // the chosen row itself, moved down
        QCOMPARE(insertion.lines.size(), expected[i].lines.size());
        above += int(expected[i].lines.size());
    }
}

void TestBatch::printStartAndTopLayer()
{
    const QList<SlicerLayer> layers = slicerLayers(kBody);
    const QString file = fixture(kHeader + joined(kBody));
    const Batch::Outcome outcome = Batch::run({.file = file, .positions = {layer(2)}, .pause = true});
    QVERIFY2(outcome.ok, qPrintable(outcome.error));

    // Through the JSON text, as a script reads it.
    const QJsonObject json = QJsonDocument::fromJson(QJsonDocument(Batch::toJson(outcome)).toJson()).object();
    QCOMPARE(json.keys(), (QStringList{"input", "insertions", "output", "parts", "printStart", "printTime", "timeSource",
                                       "topLayer", "written"}));
    // The test's file carries no slicer's figures: the program's estimate, a time for its few moves.
    QCOMPARE(json[u"timeSource"].toString(), QStringLiteral("estimate"));
    QVERIFY(json[u"printTime"].toDouble() > 0);
    QCOMPARE(json[u"input"].toString(), file);
    QCOMPARE(json[u"output"].toString(), m_dir->filePath(QStringLiteral("Borvane.gx")));
    QCOMPARE(json[u"written"].toBool(), true);
    QCOMPARE(json[u"printStart"][u"row"].toInt(), layers.front().moveRow);
    QCOMPARE(json[u"printStart"][u"z"].toDouble(), layers.front().z);
    QCOMPARE(json[u"topLayer"][u"layer"].toInt(), layers.back().number);
    QCOMPARE(json[u"topLayer"][u"row"].toInt(), layers.back().moveRow);
    QCOMPARE(json[u"topLayer"][u"z"].toDouble(), layers.back().z);
    const QJsonArray insertions = json[u"insertions"].toArray();
    QCOMPARE(insertions.size(), 1);
    const QJsonObject insertion = insertions.first().toObject();
    QCOMPARE(insertion.keys(),
             (QStringList{"elapsed", "inputRow", "layer", "lines", "notes", "outputRow", "part", "z"}));
    QVERIFY(insertion[u"elapsed"].toDouble() > 0);
    QVERIFY(insertion[u"elapsed"].toDouble() < json[u"printTime"].toDouble());
    QCOMPARE(insertion[u"inputRow"].toInt(), layers[1].moveRow);
    QCOMPARE(insertion[u"outputRow"].toInt(), layers[1].moveRow);
    QCOMPARE(insertion[u"layer"].toInt(), 2);
    QCOMPARE(insertion[u"part"].toInt(), 1);
    const QJsonArray parts = json[u"parts"].toArray();
    QCOMPARE(parts.size(), 1);
    QCOMPARE(parts[0][u"part"].toInt(), 1);
    QCOMPARE(parts[0][u"firstRow"].toInt(), layers.front().moveRow);
    QCOMPARE(parts[0][u"topLayer"].toObject(), json[u"topLayer"].toObject());
    QCOMPARE(insertion[u"z"].toDouble(), layers[1].z);
    QCOMPARE(insertion[u"lines"].toArray(), QJsonArray{"M25"});
}

void TestBatch::dryRunWritesNothing()
{
    const QString file = fixture(kHeader + joined(kBody));
    const QMap<QString, QByteArray> before = snapshot(m_dir->path());
    const Batch::Outcome outcome =
        Batch::run({.file = file, .positions = {layer(3), row(5)}, .pause = true, .dryRun = true});
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QVERIFY(!outcome.written);
    QCOMPARE(outcome.outputPath, m_dir->filePath(QStringLiteral("Borvane.gx")));
    QCOMPARE(outcome.insertions.size(), 2);
    QCOMPARE(outcome.insertions[0].outputRow, 5);
    QCOMPARE(outcome.insertions[1].inputRow, slicerLayers(kBody).back().moveRow);
    QCOMPARE(outcome.insertions[1].outputRow, slicerLayers(kBody).back().moveRow + 1);
    QCOMPARE(Batch::toJson(outcome)[u"written"].toBool(), false);
    QCOMPARE(snapshot(m_dir->path()), before);
}

// FILE is replaced through a save file beside it: the edited bytes, the file's permissions, no
// other file left in the folder.
void TestBatch::inPlaceKeepsPermissions()
{
    const QByteArray body = joined(kBody);
    const QString file = fixture(kHeader + body);
    // rw-r-----: not what a new file gets here (rw-r--r--).
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ReadUser | QFileDevice::WriteUser |
                                            QFileDevice::ReadGroup));
    const QFileDevice::Permissions permissions = QFileInfo(file).permissions();

    const Batch::Outcome outcome =
        Batch::run({.file = file, .positions = {row(5)}, .pause = true, .inPlace = true});
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.outputPath, file);
    QByteArray expected = body;
    expected.insert(rowStart(body, 5), "M25\n");
    QCOMPARE(readAll(file), kHeader + expected);
    QCOMPARE(QFileInfo(file).permissions(), permissions);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"part.gcode"});
}

void TestBatch::standardOutput()
{
    const QByteArray body = joined(kBody, "\r\n");
    const QString file = fixture(kHeader + body);
    QBuffer out;
    QVERIFY(out.open(QIODevice::WriteOnly));
    const Batch::Outcome outcome = Batch::run({.file = file,
                                               .positions = {row(3)},
                                               .temperatureLines = {"M140 S70 T0"},
                                               .removeHeader = true,
                                               .output = Batch::kStandardStream},
                                              {.in = nullptr, .out = &out});
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.outputPath, Batch::kStandardStream);
    QByteArray expected = body;
    expected.insert(rowStart(body, 3), "M140 S70 T0\r\n");
    QCOMPARE(out.data(), expected);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"part.gcode"});
}

void TestBatch::standardInput_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<qint64>("piece");        // bytes the pipe gives per read
    QTest::addColumn<QString>("output");      // "-", or a name in the folder
    QTest::addColumn<QByteArray>("expected"); // empty when refused
    const QByteArray body = joined(kBody, "\r\n");
    QByteArray edited = body;
    edited.insert(rowStart(body, 7), "M25\r\n");
    QTest::newRow("to standard output") << kHeader + body << qint64(65536) << "-" << kHeader + edited;
    QTest::newRow("to a file") << kHeader + body << qint64(65536) << "edited.gcode" << kHeader + edited;
    QTest::newRow("the header over several reads") << kHeader + body << qint64(7) << "-" << kHeader + edited;
    QTest::newRow("one line: no header") << QByteArray("G28\n") << qint64(65536) << "-" << QByteArray();
}

// FILE "-": the sliced file comes from a pipe, which cannot seek and whose size is not known.
void TestBatch::standardInput()
{
    QFETCH(QByteArray, input);
    QFETCH(qint64, piece);
    QFETCH(QString, output);
    QFETCH(QByteArray, expected);
    Pipe in(input, piece);
    QBuffer out;
    QVERIFY(out.open(QIODevice::WriteOnly));
    const QString outputPath = output == Batch::kStandardStream ? output : m_dir->filePath(output);
    const Batch::Outcome outcome = Batch::run(
        {.file = Batch::kStandardStream, .positions = {layer(2)}, .pause = true, .output = outputPath},
        {.in = &in, .out = &out});
    QCOMPARE(outcome.inputPath, Batch::kStandardStream);
    if (expected.isEmpty()) {
        QVERIFY(!outcome.ok);
        QVERIFY2(outcome.error.contains(QStringLiteral("fewer than two lines")), qPrintable(outcome.error));
        QCOMPARE(out.data(), QByteArray());
        return;
    }
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.insertions.front().inputRow, slicerLayers(kBody)[1].moveRow);
    QCOMPARE(output == Batch::kStandardStream ? out.data() : readAll(outputPath), expected);
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
    const QByteArray body = joined(kBody);
    Batch::Request request{.positions = {row(4)}, .pause = true, .removeHeader = removeHeader, .force = true};
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
    const QString part = QStringLiteral("part.gcode");
    QTest::newRow("no position") << Batch::Request{.file = part, .pause = true} << "No row chosen";
    QTest::newRow("row past the end")
        << Batch::Request{.file = part, .positions = {row(16)}, .pause = true} << "Row 16 is past the end";
    QTest::newRow("after a row past the end")
        << Batch::Request{.file = part, .positions = {row(16)}, .pause = true, .after = true}
        << "Row 16 is past the end";
    QTest::newRow("one good row, one past the end")
        << Batch::Request{.file = part, .positions = {row(4), row(40)}, .pause = true}
        << "Row 40 is past the end";
    // Z 0.7: above the top layer (Z 0.6), below the end lift.
    QTest::newRow("height above the top layer")
        << Batch::Request{.file = part, .positions = {height(0.5)}, .pause = true} << "was not found";
    QTest::newRow("layer 0") << Batch::Request{.file = part, .positions = {layer(0)}, .pause = true}
                             << "--layer 0: ";
    QTest::newRow("layer above the top")
        << Batch::Request{.file = part, .positions = {layer(4)}, .pause = true} << "has 3 layers";
    QTest::newRow("a layer and its first row")
        << Batch::Request{.file = part, .positions = {layer(2), row(7)}, .pause = true}
        << "--layer 2 and --row 7 both choose row 7";
    QTest::newRow("a height and the same layer")
        << Batch::Request{.file = part, .positions = {height(0.3), layer(2)}, .pause = true}
        << "--height 0.3 and --layer 2 both choose row 7";
    QTest::newRow("missing file") << Batch::Request{.file = "missing.gcode",
                                                    .positions = {row(4)},
                                                    .pause = true}
                                  << "Cannot open";
    QTest::newRow("folder") << Batch::Request{.file = ".", .positions = {row(4)}, .pause = true}
                            << "is a folder";
    QTest::newRow("one line: no header")
        << Batch::Request{.file = "one-line.gcode", .positions = {row(0)}, .pause = true}
        << "fewer than two lines";
    QTest::newRow("output exists") << Batch::Request{.file = part,
                                                     .positions = {row(4)},
                                                     .pause = true,
                                                     .output = "old.gx"}
                                   << "exists; give --force";
    QTest::newRow("output exists, dry run") << Batch::Request{.file = part,
                                                              .positions = {row(4)},
                                                              .pause = true,
                                                              .output = "old.gx",
                                                              .dryRun = true}
                                            << "exists; give --force";
    QTest::newRow("output folder missing")
        << Batch::Request{.file = part, .positions = {row(4)}, .pause = true, .output = "no/such.gx"}
        << "Cannot write";
    QTest::newRow("in place, height not found")
        << Batch::Request{.file = part, .positions = {height(9)}, .pause = true, .inPlace = true}
        << "was not found";
}

void TestBatch::refusedWritesNothing()
{
    QFETCH(Batch::Request, request);
    QFETCH(QString, reason);
    QVERIFY(!fixture(kHeader + joined(kBody)).isEmpty());
    QVERIFY(!fixture("G28\n", QStringLiteral("one-line.gcode")).isEmpty());
    QVERIFY(!fixture("an older output\n", QStringLiteral("old.gx")).isEmpty());
    request.file = QDir::cleanPath(m_dir->filePath(request.file));
    if (!request.output.isEmpty())
        request.output = m_dir->filePath(request.output);
    const QMap<QString, QByteArray> before = snapshot(m_dir->path());

    const Batch::Outcome outcome = Batch::run(request);
    QVERIFY(!outcome.ok);
    QVERIFY(!outcome.written);
    QVERIFY2(outcome.error.contains(reason), qPrintable(outcome.error));
    QCOMPARE(snapshot(m_dir->path()), before);
}

void TestBatch::forceReplacesTheOutput()
{
    const QByteArray body = joined(kBody);
    const QString file = fixture(kHeader + body);
    const QString old = fixture("an older output\n", QStringLiteral("Borvane.gx"));
    const Batch::Outcome outcome =
        Batch::run({.file = file, .positions = {row(4)}, .pause = true, .force = true});
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QByteArray expected = body;
    expected.insert(rowStart(body, 4), "M25\n");
    QCOMPARE(readAll(old), kHeader + expected);
    QCOMPARE(readAll(file), kHeader + body);
}

void TestBatch::reportLines_data()
{
    QTest::addColumn<Batch::Insertion>("insertion");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("in a layer")
        << Batch::Insertion{7, 9, 2, 0.4, {"M25"}, {{9, {"M25"}}}, 4335.4}
        << QStringList{"row 9, layer 2, Z 0.400, 1 h 12 min into the print, input row 7: M25"};
    QTest::newRow("two presses")
        << Batch::Insertion{11, 12, 3, 0.6, {}, {{12, {"M140 S60 T0", "M104 S210 T0"}}, {13, {"M25"}}}, 725.0}
        << QStringList{"row 12, layer 3, Z 0.600, 12 min 5 s into the print, input row 11: M140 S60 T0 | "
                       "M104 S210 T0",
                       "row 13, layer 3, Z 0.600, 12 min 5 s into the print, input row 11: M25"};
    QTest::newRow("before the first layer, below a Z line")
        << Batch::Insertion{3, 3, std::nullopt, 5.0, {}, {{3, {"M25"}}}}
        << QStringList{"row 3, Z 5.000, 0 s into the print, input row 3: M25"};
    QTest::newRow("no layer, no Z") << Batch::Insertion{0, 0, std::nullopt, std::nullopt, {}, {{0, {"M25"}}}}
                                    << QStringList{"row 0, 0 s into the print, input row 0: M25"};
}

void TestBatch::reportLines()
{
    QFETCH(Batch::Insertion, insertion);
    QFETCH(QStringList, lines);
    QCOMPARE(Batch::describe(insertion), lines);
}

namespace {

// A real file's body rows and the slicer's own times: ";TIME_ELAPSED:" (to the second) or
// "M73 P.. R.." against the total in words (to the minute), each the time at the start of its row.
struct SlicerClock
{
    QList<QByteArray> rows;
    QMap<int, double> marks; // by row
    double total = 0.0;
    double resolution = 1.0;

    // The slicer's figures around a row: the latest mark at or above it (the start, 0 s, when none)
    // and the first at or below it (the end, the total, when none).
    std::pair<double, double> around(int row) const
    {
        const auto below = marks.lowerBound(row);
        const double upper = below == marks.end() ? total : below.value();
        auto above = marks.upperBound(row);
        const double lower = above == marks.begin() ? 0.0 : (--above).value();
        return {lower, upper};
    }
};

SlicerClock slicerClock(const QByteArray& file)
{
    SlicerClock clock;
    const qsizetype bodyStart = file.indexOf('\n', file.indexOf('\n') + 1) + 1;
    clock.rows = file.mid(bodyStart).split('\n');
    static const QRegularExpression totalInWords(
        QStringLiteral("(?:estimated printing time \\(normal mode\\) =|total estimated time:) (?:(\\d+)h "
                       ")?(?:(\\d+)m )?(\\d+)s"));
    const QRegularExpressionMatch m = totalInWords.match(QString::fromLatin1(file));
    if (m.hasMatch())
        clock.total =
            m.captured(1).toDouble() * 3600 + m.captured(2).toDouble() * 60 + m.captured(3).toDouble();
    static const QRegularExpression cura(QStringLiteral("^;TIME:(\\d+)"),
                                         QRegularExpression::MultilineOption);
    if (const QRegularExpressionMatch c = cura.match(QString::fromLatin1(file.left(200))); c.hasMatch())
        clock.total = c.captured(1).toDouble();
    static const QRegularExpression m73(QStringLiteral("^M73 P\\d+ R(\\d+)"));
    for (int row = 0; row < clock.rows.size(); ++row) {
        const QByteArray& text = clock.rows[row];
        if (text.startsWith(";TIME_ELAPSED:")) {
            clock.marks.insert(row, text.mid(14).toDouble());
        } else if (const QRegularExpressionMatch r = m73.match(QString::fromLatin1(text));
                   r.hasMatch() && clock.total > 0) {
            clock.marks.insert(row, clock.total - r.captured(1).toDouble() * 60);
            clock.resolution = 60.0;
        }
    }
    return clock;
}

QString realFile(const QString& name)
{
    return QDir(QStringLiteral(BORVANE_REAL_FIXTURES_DIR)).filePath(name);
}

} // namespace

void TestBatch::timesAgainstTheSlicer_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QList<int>>("layers");
    QTest::newRow("Cura") << "cura_basic_256k.gcode" << QList<int>{2, 20, 40, 80};
    QTest::newRow("Cura LulzBot") << "cura-lulzbot_small_79k.gcode" << QList<int>{3, 10};
    QTest::newRow("PrusaSlicer, M73") << "prusaslicer_z-hop-large_3939k.gcode" << QList<int>{5, 60, 120, 200};
    QTest::newRow("Bambu Studio, M73")
        << "bambustudio_multicolor-t0-t3-z-hop_3222k.gcode" << QList<int>{2, 20, 39};
}

// --dry-run at layers across a real file, and at rows of the slicer's own marks: each insertion's
// time lies between the slicer's figures around its row, and is the figure itself at a mark, within
// the figure's resolution; with --estimate the source says so.
void TestBatch::timesAgainstTheSlicer()
{
    QFETCH(QString, file);
    QFETCH(QList<int>, layers);
    QFile source(realFile(file));
    if (!source.open(QIODevice::ReadOnly))
        QSKIP("The real slicer files are not beside the repository.");
    const SlicerClock clock = slicerClock(source.readAll());
    QVERIFY(clock.marks.size() > 4);
    Batch::Request request{.file = realFile(file), .pause = true, .dryRun = true};
    for (const int layer : layers)
        request.positions.append({.by = By::Layer, .number = layer});
    const QList<int> markRows = clock.marks.keys();
    for (const qsizetype k : {qsizetype(1), markRows.size() / 3, markRows.size() - 2})
        request.positions.append({.by = By::Row, .number = markRows[k]});
    const Batch::Outcome outcome = Batch::run(request);
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.timeSource, QStringLiteral("slicer"));
    QCOMPARE(outcome.printTime, clock.total);
    for (const Batch::Insertion& insertion : outcome.insertions) {
        const auto [lower, upper] = clock.around(insertion.inputRow);
        const QString figures = QStringLiteral("row %1: %2 s, the slicer's %3 s to %4 s")
                                    .arg(insertion.inputRow)
                                    .arg(insertion.elapsed)
                                    .arg(lower)
                                    .arg(upper);
        QVERIFY2(insertion.elapsed >= lower - clock.resolution &&
                     insertion.elapsed <= upper + clock.resolution,
                 qPrintable(figures));
        if (clock.marks.contains(insertion.inputRow))
            QVERIFY2(std::abs(insertion.elapsed - clock.marks.value(insertion.inputRow)) <= clock.resolution,
                     qPrintable(figures));
    }
    request.estimate = true;
    const Batch::Outcome estimated = Batch::run(request);
    QVERIFY2(estimated.ok, qPrintable(estimated.error));
    QCOMPARE(estimated.timeSource, QStringLiteral("estimate"));
    QVERIFY(estimated.printTime != outcome.printTime);
    const QJsonObject json = Batch::toJson(estimated);
    QCOMPARE(json[u"timeSource"].toString(), QStringLiteral("estimate"));
    QCOMPARE(json[u"printTime"].toDouble(), estimated.printTime);
}

// --time T chooses the change row of the last layer that starts at or before T. Cura raises Z for
// the next layer a travel or two before it writes ";TIME_ELAPSED:": a moment after the 30th mark
// chooses that raise, a moment after the 29th the raise before it, and so does a time a few seconds
// before the 30th mark; past the print's end it is refused with the print's time.
void TestBatch::timeChoosesTheLayer()
{
    const QString file = realFile(QStringLiteral("cura_basic_256k.gcode"));
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly))
        QSKIP("The real slicer files are not beside the repository.");
    const SlicerClock clock = slicerClock(source.readAll());
    const QList<int> markRows = clock.marks.keys();
    QVERIFY(markRows.size() > 30);
    const int mark29 = markRows[28], mark30 = markRows[29];
    const auto chosen = [&](double seconds) {
        const Batch::Outcome outcome = Batch::run({.file = file,
                                                   .positions = {{.by = By::Time, .seconds = seconds}},
                                                   .pause = true,
                                                   .dryRun = true});
        return outcome.ok ? outcome.insertions.front() : Batch::Insertion{-1};
    };
    const Batch::Insertion after30 = chosen(clock.marks.value(mark30) + 0.5);
    QVERIFY2(after30.inputRow < mark30 && mark30 - after30.inputRow <= 4,
             qPrintable(QString::number(after30.inputRow)));
    QVERIFY2(clock.rows[after30.inputRow].contains(" Z"), clock.rows[after30.inputRow].constData());
    QVERIFY(after30.elapsed <= clock.marks.value(mark30));
    const Batch::Insertion after29 = chosen(clock.marks.value(mark29) + 0.5);
    QVERIFY(after29.inputRow < mark29 && mark29 - after29.inputRow <= 4);
    QCOMPARE(*after29.layer, *after30.layer - 1);
    QCOMPARE(chosen(clock.marks.value(mark30) - 5).inputRow, after29.inputRow);
    const Batch::Outcome past = Batch::run(
        {.file = file, .positions = {{.by = By::Time, .seconds = 2000}}, .pause = true, .dryRun = true});
    QVERIFY(!past.ok);
    QVERIFY2(past.error.contains(QStringLiteral("16 min 50 s")), qPrintable(past.error)); // ";TIME:1010"
}

// A message goes in just before the pause line, or into an M0's own text; the rest of the block is
// as without it.
void TestBatch::messageBeforeThePause()
{
    PrinterProfiles profiles;
    profiles.addFile(QStringLiteral(BORVANE_RESOURCES_DIR "/PrinterProfiles.json"));
    for (const char* name : {"marlin", "prusa", "klipper", "octoprint"}) {
        const PrinterProfile* printer = profiles.find(QString::fromLatin1(name));
        QVERIFY(printer);
        Batch::Request request{.file = fixture(kHeader + joined(kBody)),
                               .positions = {{.by = By::Layer, .number = 2}},
                               .pause = true,
                               .dryRun = true,
                               .printer = *printer};
        const Batch::Outcome plain = Batch::run(request);
        request.message = QStringLiteral("Insert the magnets");
        const Batch::Outcome with = Batch::run(request);
        QVERIFY2(plain.ok && with.ok, qPrintable(plain.error + with.error));
        QStringList expected = plain.insertions.front().lines;
        const qsizetype pause = expected.indexOf(printer->pauseLine);
        QVERIFY(pause >= 0);
        // Marlin's M0 shows its own text while it waits, in place of an M117's: the message is
        // that text. Every other pause line keeps the screen an M117 sets.
        if (printer->pauseLine.startsWith(QStringLiteral("M0 ")))
            expected[pause] = QStringLiteral("M0 Insert the magnets");
        else
            expected.insert(pause, QStringLiteral("M117 Insert the magnets"));
        QCOMPARE(with.insertions.front().lines, expected);
    }
    Batch::Request refused{.file = fixture(kHeader + joined(kBody)),
                           .positions = {{.by = By::Layer, .number = 2}},
                           .pause = true,
                           .dryRun = true,
                           .message = QStringLiteral("two\nlines")};
    const Batch::Outcome outcome = Batch::run(refused);
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.error.contains(QStringLiteral("line break")), qPrintable(outcome.error));
}

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
