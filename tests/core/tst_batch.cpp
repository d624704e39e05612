// The edit without a window, run in core as a request on files in a temporary folder or on
// buffers: no process, no window. The expected output is the input's own bytes with the lines
// spliced in at the rows the test finds by reading the slicer's layer comments; a refused request
// writes nothing.

#include "core/batch/Batch.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
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
    QCOMPARE(json.keys(),
             (QStringList{"input", "insertions", "output", "parts", "printStart", "topLayer", "written"}));
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
    QCOMPARE(insertion.keys(), (QStringList{"inputRow", "layer", "lines", "outputRow", "part", "z"}));
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
    QTest::newRow("in a layer") << Batch::Insertion{7, 9, 2, 0.4, {"M25"}, {{9, {"M25"}}}}
                                << QStringList{"row 9, layer 2, Z 0.400, input row 7: M25"};
    QTest::newRow("two presses")
        << Batch::Insertion{11, 12, 3, 0.6, {}, {{12, {"M140 S60 T0", "M104 S210 T0"}}, {13, {"M25"}}}}
        << QStringList{"row 12, layer 3, Z 0.600, input row 11: M140 S60 T0 | M104 S210 T0",
                       "row 13, layer 3, Z 0.600, input row 11: M25"};
    QTest::newRow("before the first layer, below a Z line")
        << Batch::Insertion{3, 3, std::nullopt, 5.0, {}, {{3, {"M25"}}}}
        << QStringList{"row 3, Z 5.000, input row 3: M25"};
    QTest::newRow("no layer, no Z") << Batch::Insertion{0, 0, std::nullopt, std::nullopt, {}, {{0, {"M25"}}}}
                                    << QStringList{"row 0, input row 0: M25"};
}

void TestBatch::reportLines()
{
    QFETCH(Batch::Insertion, insertion);
    QFETCH(QStringList, lines);
    QCOMPARE(Batch::describe(insertion), lines);
}

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
