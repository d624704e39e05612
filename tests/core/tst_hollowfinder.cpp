// Finding where hollows get their roof, on boxes generated here with hollows of known size and
// height, and on the real slicer files.

#include "GeneratedPrints.h"
#include "TestPaths.h"

#include "core/gcode/HollowFinder.h"
#include "core/gcode/LayerIndex.h"
#include "core/gcode/SlicedFile.h"

#include <QDir>
#include <QFile>
#include <QTest>

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

QTEST_GUILESS_MAIN(TestHollowFinder)
#include "tst_hollowfinder.moc"
