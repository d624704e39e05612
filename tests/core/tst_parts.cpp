// Files that print their objects one after another, read as parts: the part rule on small
// bodies, the parts of files real slicers wrote in their "complete individual objects" modes (and
// the two-extruder file beside the repository), checked against the slicers' own layer comments,
// and the batch mode's heights and layers in every part.

#include "core/batch/Batch.h"
#include "core/layers/LayerIndex.h"
#include "core/printer/PrinterProfiles.h"
#include "core/file/SlicedFile.h"
#include "core/navigation/PrintAnalysis.h"
#include "core/text/RowSource.h"
#include "core/text/Utility.h"

#include "ReferenceLayers.h"
#include "TestPaths.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRectF>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

std::string_view view(const QByteArray& bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

QString sequential(const char* name)
{
    return QDir(QStringLiteral(BORVANE_TEST_FIXTURES_DIR "/sequential")).filePath(QString::fromLatin1(name));
}

QString real(const char* name)
{
    return QDir(QStringLiteral(BORVANE_REAL_FIXTURES_DIR)).filePath(QString::fromLatin1(name));
}

const char* const kFourBoxes = "prusaslicer-complete-objects-4boxes.gcode";
const char* const kRafts = "prusaslicer-complete-objects-raft-2boxes.gcode";
const char* const kSlic3r = "slic3r-complete-objects-3boxes.gcode";
const char* const kTwoExtruders = "simplify3d_dual-extruder-t0-t1_2352k.gcode";

// A file's body as its rows, and what the slicer's comments announce in it.
struct Read
{
    QByteArray body;
    QList<Reference::LayerRow> announced; // bottom to top within each part, parts in print order
    QList<int> partStarts;                // the index in announced of each part's first layer

    // The announced layers of part p (from 0).
    QList<Reference::LayerRow> part(qsizetype p) const
    {
        const qsizetype end = p + 1 < partStarts.size() ? partStarts[p + 1] : announced.size();
        return announced.mid(partStarts[p], end - partStarts[p]);
    }
};

std::optional<Read> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    Read read;
    read.body = bytes.mid(SlicedFile::headerLength(bytes));
    const TextRows rows(read.body);
    read.announced = Reference::announcedLayers(rows, Reference::referenceEffects(rows), &read.partStarts);
    return read;
}

struct Layers
{
    QList<Layer> layers;
    QList<int> partStarts;
};

QString describe(const QList<Layer>& layers, const QList<int>& starts)
{
    QStringList items;
    for (qsizetype i = 0; i < layers.size(); ++i)
        items << QStringLiteral("%1%2:%3").arg(starts.contains(int(i)) ? "|" : "").arg(layers[i].row).arg(layers[i].z());
    return items.join(u' ');
}

QString describe(const LayerIndex& index)
{
    QList<int> starts;
    for (std::size_t part = 0; part < index.partCount(); ++part)
        starts.append(int(index.partBegin(part)));
    return describe(QList<Layer>(index.layers().begin(), index.layers().end()), starts);
}

// Layers written "row:z row:z |row:z ...", a bar before each part's first layer after the first.
QString expectedText(const char* text)
{
    QString out;
    bool first = true;
    for (const QByteArray& item : QByteArray(text).split(' ')) {
        if (item.isEmpty())
            continue;
        out += (first ? QStringLiteral("|") : QStringLiteral(" ")) + QString::fromLatin1(item);
        first = false;
    }
    return out;
}

} // namespace

class TestParts : public QObject
{
    Q_OBJECT

private slots:
    void partRule_data();
    void partRule();
    void slicedParts_data();
    void slicedParts();
    void heightInEveryPart_data();
    void heightInEveryPart();
    void layerAndPartChosen_data();
    void layerAndPartChosen();
    void reportNamesTheParts();
    void pauseInALaterPart();
    void onePartReportsOnePart();
};

void TestParts::partRule_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("layers"); // "|row:z", a bar before each part's first layer

    const QByteArray tower = "G1 Z0.2\nG1 X1 Y1 E1\nG1 Z0.4\nG1 X2 Y1 E2\nG1 Z0.6\nG1 X3 Y1 E3\nG1 Z0.8\nG1 X4 Y1 E4\n";
    QTest::newRow("a second object from its first layer")
        << tower + "G1 Z5\nG1 X20 Y20\nG1 Z0.2\nG1 X21 Y20 E5\nG1 Z0.4\nG1 X22 Y20 E6\n"
        << expectedText("0:0.2 2:0.4 4:0.6 6:0.8 |10:0.2 12:0.4");
    QTest::newRow("a drop of exactly 0.5 mm is no part")
        << tower + "G1 Z0.3\nG1 X5 Y1 E5\nG1 Z1\nG1 X6 Y1 E6\n" << expectedText("0:0.2 2:0.4 4:0.6 6:0.8 10:1");
    QTest::newRow("a drop just over 0.5 mm is a part")
        << tower + "G1 Z0.299\nG1 X5 Y1 E5\nG1 Z1\nG1 X6 Y1 E6\n"
        << expectedText("0:0.2 2:0.4 4:0.6 6:0.8 |8:0.299 10:1");
    QTest::newRow("bed levelling lowers Z by hundredths along a layer")
        << tower + "G1 X5 Y1 Z0.78 E5\nG1 X6 Y1 Z0.76 E6\nG1 Z1\nG1 X7 Y1 E7\n"
        << expectedText("0:0.2 2:0.4 4:0.6 6:0.8 10:1");
    QTest::newRow("a Z-hop travel")
        << tower + "G1 Z1.8\nG1 X9 Y9\nG1 Z0.8\nG1 X8 Y9 E5\nG1 Z1\nG1 X9 Y8 E6\n"
        << expectedText("0:0.2 2:0.4 4:0.6 6:0.8 12:1");
    QTest::newRow("a third part starts below the second's top, above the first's")
        << tower + "G1 Z0.2\nG1 X1 Y9 E5\nG1 Z0.4\nG1 X2 Y9 E6\nG1 Z0.6\nG1 X3 Y9 E7\nG1 Z0.8\nG1 X4 Y9 E8\n"
                   "G1 Z1.6\nG1 X4 Y9 E9\nG1 Z1\nG1 X4 Y8 E10\n"
        << expectedText("0:0.2 2:0.4 4:0.6 6:0.8 |8:0.2 10:0.4 12:0.6 14:0.8 16:1.6 |18:1");
    QTest::newRow("relative moves down to the next object")
        << QByteArray("G91\nM83\nG1 Z0.2\nG1 X1 E1\nG1 Z0.2\nG1 X1 E1\nG1 Z0.2\nG1 X1 E1\nG1 Z0.2\nG1 X1 E1\nG1 Z-0.6\nG1 Y1 E1\n")
        << expectedText("2:0.2 4:0.4 6:0.6 8:0.8 |10:0.2");
}

// The index's layers and parts are those the rule gives, written out by hand.
void TestParts::partRule()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, layers);
    const LayerIndex index = LayerIndex::build(view(body));
    QCOMPARE(describe(index), layers);
    // The plain reading of the rule in the tests' reference agrees.
    const TextRows rows(body);
    QList<int> starts;
    QList<Layer> reference;
    for (const Reference::LayerRow& layer : Reference::allLayers(Reference::referenceEffects(rows), &starts))
        reference.append({layer.row, layer.z});
    QCOMPARE(describe(reference, starts), layers);
}

void TestParts::slicedParts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("parts"); // as the file was made: one object or process after another
    QTest::newRow("PrusaSlicer, four boxes") << sequential(kFourBoxes) << 4;
    QTest::newRow("PrusaSlicer, two boxes on rafts") << sequential(kRafts) << 2;
    QTest::newRow("Slic3r, three boxes") << sequential(kSlic3r) << 3;
    if (QFile::exists(real(kTwoExtruders))) {
        QTest::newRow("Simplify3D, two extruders") << real(kTwoExtruders) << 3;
        QTest::newRow("PrusaSlicer, Z-hops") << real("prusaslicer_z-hop-large_3939k.gcode") << 1;
        QTest::newRow("PrusaSlicer, spiral vase") << real("prusaslicer_spiral-vase-blank-lines_306k.gcode") << 1;
        QTest::newRow("Simplify3D, spiral vase") << real("simplify3d_spiral-vase-crlf_3452k.gcode") << 1;
        QTest::newRow("Cura") << real("cura_basic_256k.gcode") << 1;
        QTest::newRow("multicolour, Z-hops and arc lifts")
            << real("bambustudio_multicolor-t0-t3-z-hop_3222k.gcode") << 1;
    }
}

// Each part's layers are those its slicer announces for it, on the change rows the definition gives.
void TestParts::slicedParts()
{
    QFETCH(QString, path);
    QFETCH(int, parts);
    const std::optional<Read> read = readFile(path);
    QVERIFY(read);
    QCOMPARE(read->partStarts.size(), parts);
    const LayerIndex index = LayerIndex::build(view(read->body));
    QCOMPARE(index.partCount(), std::size_t(parts));
    const LayerSpan layers = index.layers();
    for (int p = 0; p < parts; ++p) {
        const QList<Reference::LayerRow> announced = read->part(p);
        const std::size_t begin = index.partBegin(std::size_t(p));
        const std::size_t end = index.partEnd(std::size_t(p));
        if (p > 0)
            QCOMPARE(layers[begin].row, announced.front().row);
        for (const Reference::LayerRow& layer : announced) {
            const auto match = std::find_if(layers.begin() + std::ptrdiff_t(begin), layers.begin() + std::ptrdiff_t(end),
                                            [&](const Layer& l) { return Reference::sameZ(l.z(), layer.z); });
            QVERIFY2(match != layers.begin() + std::ptrdiff_t(end),
                     qPrintable(QStringLiteral("part %1: no layer at %2").arg(p + 1).arg(layer.z)));
            QCOMPARE(match->row, layer.row);
            QCOMPARE(index.partOf(std::size_t(match - layers.begin())), std::size_t(p));
        }
        // A prime line below the first announced layer is the one layer more a part may have.
        if (!path.contains(u"spiral-vase"))
            QVERIFY(end - begin == std::size_t(announced.size()) ||
                    (p == 0 && end - begin == std::size_t(announced.size()) + 1));
    }
}

void TestParts::heightInEveryPart_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<double>("height");  // above the print start
    QTest::addColumn<QList<int>>("only"); // --part, empty for every part
    // The parts that span the height, each with its last announced layer below it (as its height).
    QTest::addColumn<QList<int>>("parts");
    QTest::addColumn<QList<double>>("z");

    // Four boxes of 3, 6, 4.5 and 1.5 mm, from Z 0.3 in steps of 0.3.
    const QString boxes = sequential(kFourBoxes);
    QTest::newRow("1.5 mm: the three boxes that reach Z 1.8")
        << boxes << 1.5 << QList<int>{} << QList<int>{1, 2, 3} << QList<double>{1.5, 1.5, 1.5};
    QTest::newRow("1.2 mm: the lowest box's top is Z 1.5, not below it")
        << boxes << 1.2 << QList<int>{} << QList<int>{1, 2, 3, 4} << QList<double>{1.2, 1.2, 1.2, 1.2};
    QTest::newRow("4 mm: the two tallest") << boxes << 4.0 << QList<int>{} << QList<int>{2, 3}
                                            << QList<double>{4.2, 4.2};
    QTest::newRow("5 mm: the tallest only, which the first part is not")
        << boxes << 5.0 << QList<int>{} << QList<int>{2} << QList<double>{5.1};
    QTest::newRow("0 mm: before the first layer of the first part")
        << boxes << 0.0 << QList<int>{} << QList<int>{1} << QList<double>{0.3};
    QTest::newRow("--part 2 --part 4") << boxes << 1.0 << QList<int>{4, 2} << QList<int>{2, 4}
                                       << QList<double>{1.2, 1.2};
    // Three boxes of 1.5, 3 and 4.5 mm, from Z 0.25 in steps of 0.25.
    QTest::newRow("Slic3r, 2 mm") << sequential(kSlic3r) << 2.0 << QList<int>{} << QList<int>{2, 3}
                                  << QList<double>{2.0, 2.0};
    // On rafts of 0.3 and 0.6 mm, each box from Z 1.0: the raft makes no part.
    QTest::newRow("rafts, 1 mm") << sequential(kRafts) << 1.0 << QList<int>{} << QList<int>{1, 2}
                                 << QList<double>{1.0, 1.0};
    if (QFile::exists(real(kTwoExtruders))) {
        // As its comments announce: the first part to Z 36.5 and then one layer at 37.75; the
        // second from 36.75 to 40.25 and then one layer at 45.25; the third from 40.5 to 48. A
        // part spans a height up to its top layer, over its last gap.
        QTest::newRow("two extruders, Z 42") << real(kTwoExtruders) << 41.5 << QList<int>{} << QList<int>{2, 3}
                                             << QList<double>{40.25, 41.75};
        QTest::newRow("two extruders, Z 37.75") << real(kTwoExtruders) << 37.25 << QList<int>{}
                                                << QList<int>{1, 2} << QList<double>{36.5, 37.5};
    }
}

// The batch mode's --height inserts at the change row each spanning part's slicer announced for
// its last layer below the height, and names the part and the layer within it.
void TestParts::heightInEveryPart()
{
    QFETCH(QString, path);
    QFETCH(double, height);
    QFETCH(QList<int>, only);
    QFETCH(QList<int>, parts);
    QFETCH(QList<double>, z);
    const std::optional<Read> read = readFile(path);
    QVERIFY(read);

    const Batch::Outcome outcome = Batch::run({.file = path,
                                               .positions = {{.by = Batch::Position::By::Height, .height = height}},
                                               .parts = only,
                                               .pause = true,
                                               .dryRun = true});
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.insertions.size(), parts.size());
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QList<Reference::LayerRow> announced = read->part(parts[i] - 1);
        const auto layer = std::find_if(announced.begin(), announced.end(),
                                        [&](const Reference::LayerRow& l) { return Reference::sameZ(l.z, z[i]); });
        const Batch::Insertion& insertion = outcome.insertions[i];
        QVERIFY2(layer != announced.end(), qPrintable(QStringLiteral("part %1 announces no layer at %2; chosen: part %3, Z %4")
                                                          .arg(parts[i]).arg(z[i]).arg(insertion.part.value_or(0))
                                                          .arg(insertion.z.value_or(-1))));
        QCOMPARE(insertion.inputRow, layer->row);
        QCOMPARE(insertion.part, std::optional<int>(parts[i]));
        QCOMPARE(insertion.layer, std::optional<int>(int(layer - announced.begin()) + 1));
        QVERIFY(insertion.z && Reference::sameZ(*insertion.z, z[i]));
    }

    // The height choice the window makes: the same rows, the first of them its selection.
    const TextRows rows(read->body);
    const LayerIndex index = LayerIndex::build(view(read->body));
    const std::int64_t target = Utility::ToNanometres(height) + index.layers().front().nanometres;
    const std::vector<HeightChoice> choices = chooseRowsForHeight(rows, index, index.layers().front().row, target);
    if (only.isEmpty()) {
        QCOMPARE(qsizetype(choices.size()), parts.size());
        for (qsizetype i = 0; i < parts.size(); ++i)
            QCOMPARE(*choices[std::size_t(i)].row, outcome.insertions[i].inputRow);
        QCOMPARE(chooseRowForHeight(rows, index, index.layers().front().row, target).row, choices.front().row);
    }
}

void TestParts::layerAndPartChosen_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("layer");
    QTest::addColumn<QList<int>>("only");
    QTest::addColumn<QList<int>>("parts"); // where it inserts; empty when refused
    QTest::addColumn<QString>("error");

    const QString boxes = sequential(kFourBoxes);
    QTest::newRow("--layer 3 counts in the first part") << boxes << 3 << QList<int>{} << QList<int>{1} << QString();
    QTest::newRow("--layer 3 --part 2") << boxes << 3 << QList<int>{2} << QList<int>{2} << QString();
    QTest::newRow("--layer 5 --part 4 --part 1") << boxes << 5 << QList<int>{4, 1} << QList<int>{1, 4} << QString();
    QTest::newRow("--layer 11 is past the first part's top") << boxes << 11 << QList<int>{} << QList<int>{}
                                                             << QStringLiteral("--layer 11: part 1 of");
    QTest::newRow("--layer 6 --part 4 is past its top") << boxes << 6 << QList<int>{4} << QList<int>{}
                                                         << QStringLiteral("has 5 layers");
    QTest::newRow("--part 5 of four") << boxes << 1 << QList<int>{5} << QList<int>{}
                                      << QStringLiteral("--part 5: ");
    QTest::newRow("--part 2 of a file of one part")
        << real("cura_basic_256k.gcode") << 1 << QList<int>{2} << QList<int>{} << QStringLiteral("has 1 part(s)");
}

// --layer N is the change row the slicer announced for the N-th layer of each part asked for.
void TestParts::layerAndPartChosen()
{
    QFETCH(QString, path);
    QFETCH(int, layer);
    QFETCH(QList<int>, only);
    QFETCH(QList<int>, parts);
    QFETCH(QString, error);
    if (!QFile::exists(path))
        QSKIP("The real slicer files are not beside the repository.");
    const std::optional<Read> read = readFile(path);
    QVERIFY(read);
    const Batch::Outcome outcome = Batch::run({.file = path,
                                               .positions = {{.by = Batch::Position::By::Layer, .number = layer}},
                                               .parts = only,
                                               .pause = true,
                                               .dryRun = true});
    if (parts.isEmpty()) {
        QVERIFY(!outcome.ok);
        QVERIFY2(outcome.error.contains(error), qPrintable(outcome.error));
        return;
    }
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.insertions.size(), parts.size());
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QCOMPARE(outcome.insertions[i].inputRow, read->part(parts[i] - 1)[layer - 1].row);
        QCOMPARE(outcome.insertions[i].part, std::optional<int>(parts[i]));
        QCOMPARE(outcome.insertions[i].layer, std::optional<int>(layer));
    }
}

// The JSON report lists every part with its first row and top layer, the top layer is the
// tallest part's, and each insertion names its part; the report lines name it too.
void TestParts::reportNamesTheParts()
{
    const QString path = sequential(kFourBoxes);
    const std::optional<Read> read = readFile(path);
    QVERIFY(read);
    const Batch::Outcome outcome = Batch::run({.file = path,
                                               .positions = {{.by = Batch::Position::By::Height, .height = 1.0}},
                                               .pause = true,
                                               .dryRun = true});
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    const QJsonObject json = Batch::toJson(outcome);
    const QJsonArray parts = json[QStringLiteral("parts")].toArray();
    QCOMPARE(parts.size(), 4);
    for (qsizetype p = 0; p < 4; ++p) {
        const QList<Reference::LayerRow> announced = read->part(p);
        const QJsonObject part = parts[p].toObject();
        QCOMPARE(part[QStringLiteral("part")].toInt(), int(p) + 1);
        QCOMPARE(part[QStringLiteral("firstRow")].toInt(), announced.front().row);
        const QJsonObject top = part[QStringLiteral("topLayer")].toObject();
        QCOMPARE(top[QStringLiteral("layer")].toInt(), int(announced.size()));
        QCOMPARE(top[QStringLiteral("row")].toInt(), announced.back().row);
        QVERIFY(Reference::sameZ(top[QStringLiteral("z")].toDouble(), announced.back().z));
    }
    // The 6 mm box, second, has 20 layers.
    const QJsonObject top = json[QStringLiteral("topLayer")].toObject();
    QCOMPARE(top[QStringLiteral("layer")].toInt(), 20);
    QCOMPARE(top[QStringLiteral("row")].toInt(), read->part(1).back().row);
    QVERIFY(Reference::sameZ(top[QStringLiteral("z")].toDouble(), 6.0));

    const QJsonArray insertions = json[QStringLiteral("insertions")].toArray();
    QCOMPARE(insertions.size(), 4);
    for (qsizetype i = 0; i < 4; ++i)
        QCOMPARE(insertions[i].toObject()[QStringLiteral("part")].toInt(), int(i) + 1);
    const QStringList lines = Batch::describe(outcome.insertions[1]);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.front().contains(QStringLiteral(", part 2, layer 4, Z 1.200, ")), qPrintable(lines.front()));
}

// A file of one part has one part in the report, and its lines name none.
void TestParts::onePartReportsOnePart()
{
    const QByteArray body = "G1 Z0.2\nG1 X1 Y1 E1\nG1 Z0.4\nG1 X2 Y1 E2\nG1 Z0.6\nG1 X3 Y1 E3\n";
    QBuffer in;
    in.setData(";FLAVOR:Marlin\n;Generated with a test\n" + body);
    QBuffer out;
    QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
    const Batch::Outcome outcome = Batch::run({.file = Batch::kStandardStream,
                                               .positions = {{.by = Batch::Position::By::Height, .height = 0.3}},
                                               .pause = true,
                                               .output = Batch::kStandardStream},
                                              {&in, &out});
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    const QJsonObject json = Batch::toJson(outcome);
    const QJsonArray parts = json[QStringLiteral("parts")].toArray();
    QCOMPARE(parts.size(), 1);
    QCOMPARE(parts[0].toObject()[QStringLiteral("firstRow")].toInt(), 0);
    QCOMPARE(parts[0].toObject()[QStringLiteral("topLayer")].toObject()[QStringLiteral("row")].toInt(), 4);
    QCOMPARE(outcome.insertions.size(), 1);
    QCOMPARE(outcome.insertions[0].part, std::optional<int>(1));
    const QStringList lines = Batch::describe(outcome.insertions[0]);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.front().startsWith(QStringLiteral("row 2, layer 2, Z 0.400, ")) &&
                 lines.front().endsWith(QStringLiteral(", input row 2: M25")),
             qPrintable(lines.front()));
}

// A parking pause in the third of four boxes, printed after a 3 mm and a 6 mm box: walked line by
// line, the block travels only above the tallest box printed so far and parks clear of every box
// printed so far (each box's extruded outline, read from the file's own moves).
void TestParts::pauseInALaterPart()
{
    const QString path = sequential(kFourBoxes);
    const std::optional<Read> read = readFile(path);
    QVERIFY(read);
    PrinterProfiles profiles;
    profiles.addFile(QStringLiteral(BORVANE_RESOURCES_DIR "/PrinterProfiles.json"));
    const PrinterProfile* marlin = profiles.find(QStringLiteral("marlin"));
    QVERIFY(marlin && marlin->parks);
    // The least lift, 1 mm over the pause's Z 1.2: far below the 6 mm box printed before.
    PauseSettings settings = marlin->defaults;
    settings.lift = PauseSettings::kLeastLift;
    const Batch::Outcome outcome = Batch::run({.file = path,
                                               .positions = {{.by = Batch::Position::By::Height, .height = 1.0}},
                                               .parts = {3},
                                               .pause = true,
                                               .dryRun = true,
                                               .printer = *marlin,
                                               .pauseSettings = settings});
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.insertions.size(), 1);
    const Batch::Insertion& insertion = outcome.insertions.front();
    QCOMPARE(insertion.part, std::optional<int>(3));

    // The outline and top of each box printed before the pause, from the extrusions before its row.
    const TextRows rows(read->body);
    const QList<Reference::RowEffect> effects = Reference::referenceEffects(rows);
    static const QRegularExpression word(QStringLiteral("([XY])([-+]?[0-9]*\\.?[0-9]+)"));
    QList<QRectF> printed;
    double tallest = 0.0;
    double x = 0.0, y = 0.0;
    for (int row = 0; row < insertion.inputRow; ++row) {
        const QString text = rows.rowText(row).section(u';', 0, 0);
        const double fromX = x, fromY = y;
        for (const QRegularExpressionMatch& match : word.globalMatch(text))
            (match.captured(1) == u"X" ? x : y) = match.captured(2).toDouble();
        if (!text.startsWith(u"G1") || !effects[row].extrusionAtZ)
            continue;
        qsizetype part = 0;
        while (part + 1 < read->partStarts.size() && read->announced[read->partStarts[part + 1]].row <= row)
            ++part;
        while (printed.size() <= part)
            printed.append(QRectF());
        const QRectF move = QRectF(QPointF(fromX, fromY), QPointF(x, y)).normalized();
        printed[part] = printed[part].isNull() ? move : printed[part].united(move);
        tallest = std::max(tallest, *effects[row].extrusionAtZ);
    }
    QCOMPARE(printed.size(), 3);
    QVERIFY(Reference::sameZ(tallest, 6.0));

    // The block walked: every travel in X or Y is above the tallest box, and the park is clear of each.
    static const QRegularExpression move(QStringLiteral("^G[01] "));
    static const QRegularExpression zWord(QStringLiteral(" Z([-+]?[0-9]*\\.?[0-9]+)"));
    double z = *insertion.z;
    int travels = 0;
    std::optional<QPointF> park;
    for (const QString& line : insertion.lines) {
        if (!move.match(line).hasMatch())
            continue;
        if (const QRegularExpressionMatch match = zWord.match(line); match.hasMatch())
            z = match.captured(1).toDouble();
        QPointF to(std::nan(""), std::nan(""));
        bool travelsXY = false;
        for (const QRegularExpressionMatch& match : word.globalMatch(line)) {
            travelsXY = true;
            (match.captured(1) == u"X" ? to.rx() : to.ry()) = match.captured(2).toDouble();
        }
        if (!travelsXY)
            continue;
        ++travels;
        QVERIFY2(z > tallest, qPrintable(QStringLiteral("\"%1\" travels at Z %2").arg(line).arg(z)));
        if (!park)
            park = to;
    }
    QVERIFY(travels >= 2); // to the park and back
    QVERIFY(park && !std::isnan(park->x()) && !std::isnan(park->y()));
    for (const QRectF& box : printed)
        QVERIFY2(!box.adjusted(-1, -1, 1, 1).contains(*park),
                 qPrintable(QStringLiteral("park X %1 Y %2 is over a printed box").arg(park->x()).arg(park->y())));
}

QTEST_GUILESS_MAIN(TestParts)
#include "tst_parts.moc"
