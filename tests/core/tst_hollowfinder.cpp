// Finding where hollows get their roof, on boxes generated here with hollows of known size and
// height, and on the real slicer files.

#include "GeneratedPrints.h"
#include "TestPaths.h"

#include "core/layers/HollowFinder.h"
#include "core/layers/LayerIndex.h"
#include "core/file/SlicedFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>

using GeneratedPrints::Box;
using GeneratedPrints::Hole;

namespace {

// What a test expects of one hollow: the 0-based roof layer of the generated box, the opening.
struct Expected
{
    int roofLayer = 0;
    double area = 0, x = 0, y = 0;
};

Expected square(const Hole& hole)
{
    return {hole.lastLayer + 1, (hole.x1 - hole.x0) * (hole.y1 - hole.y0), (hole.x0 + hole.x1) / 2,
            (hole.y0 + hole.y1) / 2};
}

QByteArray bodyOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return bytes.mid(SlicedFile::headerLength(bytes));
}

// Whether point p lies inside the polygon (even-odd rule).
bool inside(const std::vector<Hollow::Point>& polygon, double px, double py)
{
    bool in = false;
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const Hollow::Point& a = polygon[i];
        const Hollow::Point& b = polygon[j];
        if ((a.y > py) != (b.y > py) && px < (b.x - a.x) * (py - a.y) / (b.y - a.y) + a.x)
            in = !in;
    }
    return in;
}

} // namespace

Q_DECLARE_METATYPE(Box)
Q_DECLARE_METATYPE(std::vector<Expected>)

class TestHollowFinder : public QObject
{
    Q_OBJECT

private slots:
    void generatedBoxes_data();
    void generatedBoxes();
    void piecesGiveTheSameHollows();
    void realFiles_data();
    void realFiles();
    void slicedModels_data();
    void slicedModels();
    void everyHollowOfAManyLoopLayer();
    void cancelledSearchStops();
};

void TestHollowFinder::generatedBoxes_data()
{
    QTest::addColumn<Box>("box");
    QTest::addColumn<std::vector<Expected>>("expected");

    const Hole middle{20, 20, 30, 28, 5, 14};
    Box box;
    box.holes = {middle};
    QTest::newRow("box with a 10 x 8 mm hollow from layer 6 to 15, roof at 16")
        << box << std::vector{square(middle)};

    box.relative = true;
    QTest::newRow("the same box in relative moves (G91, M83)") << box << std::vector{square(middle)};

    Box round;
    round.holes = {{18, 18, 30, 30, 4, 9, true}};
    QTest::newRow("round hollow of 12 mm, its walls full-turn arcs (G3 I J)")
        << round << std::vector<Expected>{{10, std::numbers::pi * 36.0, 24, 24}};

    Box cup;
    cup.holes = {{20, 20, 30, 30, 5, cup.layers - 1}};
    QTest::newRow("cup open at the top") << cup << std::vector<Expected>{};

    Box small;
    small.holes = {{24, 24, 25.8, 25.8, 5, 12}}; // 3.24 mm², though its inner wall encloses 5 mm²
    QTest::newRow("hollow of 1.8 x 1.8 mm, under 4 mm²") << small << std::vector<Expected>{};

    Box justOver;
    const Hole over{24, 24, 26.2, 26.2, 5, 12}; // 4.84 mm²
    justOver.holes = {over};
    QTest::newRow("hollow of 2.2 x 2.2 mm, just over 4 mm²") << justOver << std::vector{square(over)};

    Box two;
    two.layers = 40;
    const Hole low{14, 14, 22, 22, 3, 9};
    const Hole high{27, 27, 36, 35, 6, 29};
    two.holes = {low, high};
    QTest::newRow("two hollows, roofs at layers 11 and 31") << two << std::vector{square(low), square(high)};

    Box sparse;
    sparse.sparseSpacing = 2.5;
    QTest::newRow("box with sparse infill and no hollow") << sparse << std::vector<Expected>{};

    // Cells of sparse infill are no hollows, though the infill closes them layer after layer and
    // the first top layer covers them: by the slicer's feature names where the file has them, by
    // the infill's lines crossing where it has none.
    Box crossed;
    crossed.crossedCell = true;
    QTest::newRow("a cell the infill closes with crossing lines, no features named")
        << crossed << std::vector<Expected>{};
    crossed.namedFeatures = true;
    QTest::newRow("the same, its features named (;TYPE:FILL)") << crossed << std::vector<Expected>{};
    crossed.holes = {middle};
    QTest::newRow("the same with a hollow, its walls named (;TYPE:WALL-INNER)")
        << crossed << std::vector{square(middle)};
}

void TestHollowFinder::generatedBoxes()
{
    QFETCH(Box, box);
    QFETCH(std::vector<Expected>, expected);

    GeneratedPrints::Writer writer(box);
    const QByteArray body = writer.body();
    const std::string_view bytes(body.constData(), std::size_t(body.size()));
    const LayerIndex layers = LayerIndex::build(bytes);
    QCOMPARE(layers.layers().size(), std::size_t(box.layers));

    const std::vector<Hollow> hollows = HollowFinder::find(bytes, layers);
    QCOMPARE(hollows.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const Hollow& found = hollows[k];
        const Expected& want = expected[k];
        QCOMPARE(found.layer, std::size_t(want.roofLayer));
        QCOMPARE(found.row, writer.layerRows()[std::size_t(want.roofLayer)]);
        QCOMPARE(found.z, writer.zOf(want.roofLayer));
        QVERIFY2(std::abs(found.area - want.area) <= 0.04 * want.area,
                 qPrintable(QStringLiteral("area %1, expected %2").arg(found.area).arg(want.area)));
        QVERIFY2(std::abs(found.x - want.x) < 0.1 && std::abs(found.y - want.y) < 0.1,
                 qPrintable(QStringLiteral("centre %1 %2").arg(found.x).arg(found.y)));
        QVERIFY(inside(found.outline, want.x, want.y));
    }
}

void TestHollowFinder::piecesGiveTheSameHollows()
{
    Box box;
    box.holes = {{14, 14, 22, 22, 3, 9}, {27, 27, 36, 35, 6, 20}};
    GeneratedPrints::Writer writer(box);
    const QByteArray body = writer.body();
    const std::string_view bytes(body.constData(), std::size_t(body.size()));
    const LayerIndex layers = LayerIndex::build(bytes);
    const std::vector<Hollow> whole = HollowFinder::find(bytes, layers);
    QCOMPARE(whole.size(), std::size_t(2));
    for (const std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(4096)}) {
        HollowFinder::Builder builder;
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            builder.add(bytes.substr(at, piece));
        const std::vector<Hollow> pieces = builder.finish(layers);
        QCOMPARE(pieces.size(), whole.size());
        for (std::size_t k = 0; k < whole.size(); ++k) {
            QCOMPARE(pieces[k].row, whole[k].row);
            QCOMPARE(pieces[k].area, whole[k].area);
        }
    }
}

void TestHollowFinder::realFiles_data()
{
    QTest::addColumn<QString>("path");
    const QDir dir(QStringLiteral(BORVANE_REAL_FIXTURES_DIR));
    const QStringList files = dir.entryList({QStringLiteral("*.gcode")}, QDir::Files, QDir::Name);
    if (files.isEmpty())
        QSKIP("the real files are not beside the worktree");
    for (const QString& name : files)
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
}

// What is found in the real files is listed; each must be an opening that holds nothing in the
// layer below its roof and that the roof layer really covers: the roof's extrusion over it is
// the slicer's solid, top or bridge infill by its own feature comments, never sparse infill.
void TestHollowFinder::realFiles()
{
    QFETCH(QString, path);
    const QByteArray body = bodyOf(path);
    QVERIFY(!body.isEmpty());
    const std::string_view bytes(body.constData(), std::size_t(body.size()));
    const LayerIndex layers = LayerIndex::build(bytes);
    const std::vector<Hollow> hollows = HollowFinder::find(bytes, layers);
    for (const Hollow& hollow : hollows)
        qInfo("layer %zu, Z %.3f, row %d: hollow of %.1f mm² at X %.2f Y %.2f", hollow.layer + 1, hollow.z,
              hollow.row, hollow.area, hollow.x, hollow.y);
    if (hollows.empty())
        qInfo("no hollow");

    const QList<QByteArray> rows = body.split('\n');
    for (const Hollow& hollow : hollows) {
        const int end = hollow.layer + 1 < layers.layers().size() ? layers.layers()[hollow.layer + 1].row
                                                                  : int(rows.size());
        QByteArray feature;
        int sparse = 0, other = 0;
        double x = 0, y = 0;
        for (int row = hollow.row; row < end; ++row) {
            const QByteArray text = rows[row].trimmed();
            if (text.startsWith(";TYPE:") || text.startsWith("; FEATURE:") || text.startsWith("; feature") ||
                text.startsWith(";structure:"))
                feature = text.toLower();
            if (!text.startsWith("G1 ") && !text.startsWith("G0 "))
                continue;
            double nx = x, ny = y;
            bool extrudes = false;
            for (const QByteArray& word : text.split(' ')) {
                if (word.startsWith('X'))
                    nx = word.mid(1).toDouble();
                else if (word.startsWith('Y'))
                    ny = word.mid(1).toDouble();
                else if (word.startsWith('E'))
                    extrudes = text.startsWith("G1 ");
            }
            bool over = false;
            for (int k = 0; k <= 50 && !over; ++k)
                over = inside(hollow.outline, x + (nx - x) * k / 50, y + (ny - y) * k / 50);
            if (extrudes && over)
                (feature.contains("sparse") || feature.contains("internal infill") || feature == ";type:fill"
                     ? sparse
                     : other)++;
            x = nx, y = ny;
        }
        QVERIFY2(other > sparse, qPrintable(QStringLiteral("layer %1: %2 sparse infill moves, %3 others")
                                                .arg(hollow.layer + 1)
                                                .arg(sparse)
                                                .arg(other)));
    }
}

void TestHollowFinder::slicedModels_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("hollows"); // 0, or 1: the cavity from Z 3 to 8 under the box's centre
    QTest::addColumn<double>("centre"); // the box's centre, in X and Y alike
    // The commands that made each are in tests/fixtures/sliced/README.md.
    QTest::newRow("PrusaSlicer, tower 10 x 10 x 40, 20% stars infill") << "prusaslicer_tower-stars.gcode" << 0 << 0.0;
    QTest::newRow("Slic3r, the same tower (no feature comments)") << "slic3r_tower-stars.gcode" << 0 << 0.0;
    QTest::newRow("Cura, the same tower, 20% grid infill") << "cura_tower-grid.gcode" << 0 << 0.0;
    QTest::newRow("PrusaSlicer, solid cylinder") << "prusaslicer_cylinder.gcode" << 0 << 0.0;
    QTest::newRow("PrusaSlicer, box with a closed cavity") << "prusaslicer_cavity-box.gcode" << 1 << 100.0;
    QTest::newRow("Slic3r, box with a closed cavity (no feature comments)") << "slic3r_cavity-box.gcode" << 1 << 100.0;
    QTest::newRow("Cura, box with a closed cavity (2.85 mm filament it does not name)")
        << "cura_cavity-box.gcode" << 1 << 110.0;
}

// Files real slicers wrote from models of known shape: no hollow in a solid model, and the
// closed cavity at the first layer the slicer prints above its top (Z 8), by the file's own
// "G0"/"G1" lines that set Z from its first layer on.
void TestHollowFinder::slicedModels()
{
    QFETCH(QString, name);
    QFETCH(int, hollows);
    QFETCH(double, centre);
    const QByteArray body = bodyOf(QStringLiteral(BORVANE_SLICED_FIXTURES_DIR "/") + name);
    QVERIFY(!body.isEmpty());
    const std::string_view bytes(body.constData(), std::size_t(body.size()));
    const LayerIndex layers = LayerIndex::build(bytes);
    const std::vector<Hollow> found = HollowFinder::find(bytes, layers);
    for (const Hollow& hollow : found)
        qInfo("layer %zu, Z %.3f: hollow of %.1f mm² at X %.2f Y %.2f", hollow.layer + 1, hollow.z, hollow.area,
              hollow.x, hollow.y);
    QCOMPARE(int(found.size()), hollows);
    if (hollows == 0)
        return;
    // From the first layer on (a start block may lift the nozzle higher first).
    double roofZ = 0;
    bool firstLayer = false;
    for (const QByteArray& row : body.split('\n')) {
        if (!row.startsWith("G1 ") && !row.startsWith("G0 "))
            continue;
        for (const QByteArray& word : row.split(' ')) {
            if (!word.startsWith('Z'))
                continue;
            const double z = word.mid(1).toDouble();
            firstLayer = firstLayer || z < 1.0;
            if (firstLayer && z > 8.0)
                roofZ = z;
        }
        if (roofZ > 0)
            break;
    }
    QVERIFY(roofZ > 8.0);
    const Hollow& cavity = found.front();
    QCOMPARE(cavity.z, roofZ);
    QVERIFY2(std::abs(cavity.area - 64.0) <= 0.05 * 64.0, qPrintable(QString::number(cavity.area)));
    QVERIFY(std::abs(cavity.x - centre) < 0.2 && std::abs(cavity.y - centre) < 0.2);
}

// A layer of many small round walls, each covered by the next layer: every one is listed, not
// the first few hundred, with its own centre.
void TestHollowFinder::everyHollowOfAManyLoopLayer()
{
    constexpr int kSide = 40; // 1600 hollows
    QByteArray body = "G90\nM82\nG92 E0\n;WIDTH:0.4\n";
    double e = 0;
    const auto g1 = [&](double x, double y) {
        e += 0.05;
        body += "G1 X" + QByteArray::number(x, 'f', 3) + " Y" + QByteArray::number(y, 'f', 3) + " E" +
                QByteArray::number(e, 'f', 5) + '\n';
    };
    const auto centre = [](int k) { return 10.0 + 5.0 * k; };
    body += "G1 Z0.2\n";
    for (int i = 0; i < kSide; ++i) {
        for (int j = 0; j < kSide; ++j) {
            body += "G0 X" + QByteArray::number(centre(i) + 2, 'f', 3) + " Y" + QByteArray::number(centre(j), 'f', 3) + '\n';
            for (int k = 1; k <= 24; ++k)
                g1(centre(i) + 2 * std::cos(k * std::numbers::pi / 12), centre(j) + 2 * std::sin(k * std::numbers::pi / 12));
        }
    }
    body += "G1 Z0.4\n"; // a roof over each: lines 0.4 apart across its square
    for (int i = 0; i < kSide; ++i) {
        for (int j = 0; j < kSide; ++j) {
            body += "G0 X" + QByteArray::number(centre(i) - 2, 'f', 3) + " Y" + QByteArray::number(centre(j) - 2, 'f', 3) + '\n';
            for (int k = 0; k <= 10; ++k) {
                g1(k % 2 ? centre(i) - 2 : centre(i) + 2, centre(j) - 2 + 0.4 * k);
                if (k < 10)
                    g1(k % 2 ? centre(i) - 2 : centre(i) + 2, centre(j) - 2 + 0.4 * (k + 1));
            }
        }
    }
    const std::string_view bytes(body.constData(), std::size_t(body.size()));
    const LayerIndex layers = LayerIndex::build(bytes);
    QCOMPARE(layers.layers().size(), std::size_t(2));
    const std::vector<Hollow> hollows = HollowFinder::find(bytes, layers);
    QCOMPARE(hollows.size(), std::size_t(kSide * kSide));
    std::vector<std::pair<int, int>> centres;
    for (const Hollow& hollow : hollows) {
        QCOMPARE(hollow.layer, std::size_t(1));
        const int i = int(std::lround((hollow.x - 10.0) / 5.0)), j = int(std::lround((hollow.y - 10.0) / 5.0));
        QVERIFY(std::abs(hollow.x - centre(i)) < 0.1 && std::abs(hollow.y - centre(j)) < 0.1);
        centres.emplace_back(i, j);
    }
    std::sort(centres.begin(), centres.end());
    QVERIFY(std::adjacent_find(centres.begin(), centres.end()) == centres.end()); // each once
}

// The window stops a search it no longer needs (another file dropped, the window closed): a set
// cancel stops the search within the layer it is in, and the file's hollows are not given.
void TestHollowFinder::cancelledSearchStops()
{
    Box box;
    box.holes = {{14, 14, 22, 22, 15, 20}}; // in the last third of the body
    GeneratedPrints::Writer writer(box);
    QByteArray file = writer.file();
    QBuffer device(&file);
    QVERIFY(device.open(QIODevice::ReadOnly));
    std::atomic<bool> cancel{false};
    const std::optional<std::vector<Hollow>> found = HollowFinder::findInFile(device, cancel);
    QVERIFY(found);
    QCOMPARE(found->size(), std::size_t(1));

    cancel = true;
    QVERIFY(device.seek(0));
    QVERIFY(!HollowFinder::findInFile(device, cancel));
    // Set while the body is read: the builder looks at nothing more.
    const QByteArray body = writer.body();
    std::atomic<bool> later{false};
    HollowFinder::Builder builder(Moves::kDefaultFilamentDiameter, &later);
    builder.add(std::string_view(body.constData(), std::size_t(body.size() / 3)));
    later = true;
    builder.add(std::string_view(body.constData() + body.size() / 3, std::size_t(body.size() - body.size() / 3)));
    QVERIFY(builder.finish().empty());
}

QTEST_GUILESS_MAIN(TestHollowFinder)
#include "tst_hollowfinder.moc"
