// The compact store of layers against a plain list of the same layers: reading back, walking,
// halving, and moving the rows from a layer on, at the edges of its blocks and of its chunks.

#include "core/layers/LayerStore.h"

#include <QTest>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

namespace {

Layer layerOf(int row, std::int64_t nanometres)
{
    Layer layer;
    layer.row = row;
    layer.nanometres = std::int32_t(nanometres);
    return layer;
}

// The layers the rows of a case are made of.
enum class Shape {
    SpiralVase,    // a layer a row, Z written with four decimals: steps of 600 or 700 nm
    SlicerLayers,  // a few hundred rows a layer, 0.2 mm apart
    BigJumps,      // rows a million apart, heights up to 5 mm apart, to the bounds of a row and a height
    Mixed,         // vase steps, now and then a long jump of rows or height
    EqualHeights,  // the same height for a run of layers, as a store may be given
    FallingValues, // rows and heights that fall: the steps' signs
};

std::vector<Layer> makeLayers(Shape shape, int count, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<Layer> layers;
    int row = 3;
    std::int64_t nanometres = 200'000;
    for (int i = 0; i < count; ++i) {
        layers.push_back(layerOf(row, nanometres));
        switch (shape) {
        case Shape::SpiralVase:
            row += 1;
            nanometres += random() % 3 == 0 ? 600 : 700;
            break;
        case Shape::SlicerLayers:
            row += 150 + int(random() % 400);
            nanometres += 200'000;
            break;
        case Shape::BigJumps:
            row += 1'000'000 + int(random() % 1000);
            nanometres += 1 + std::int64_t(random() % 5'000'000);
            break;
        case Shape::Mixed:
            row += random() % 50 == 0 ? 5000 + int(random() % 100'000) : 1 + int(random() % 3);
            nanometres += random() % 40 == 0 ? std::int64_t(random() % 1'000'000) : 100 * (random() % 20);
            break;
        case Shape::EqualHeights:
            row += 1 + int(random() % 5);
            nanometres += random() % 10 == 0 ? 1 : 0;
            break;
        case Shape::FallingValues:
            row += random() % 2 ? 7 : -3;
            nanometres += random() % 2 ? 1'234 : -567'891;
            break;
        }
    }
    if (shape == Shape::BigJumps && !layers.empty()) {
        // The very last rows and heights a layer can hold.
        layers.push_back(layerOf(INT_MAX - 1, INT32_MAX - 1));
        layers.push_back(layerOf(INT_MAX, INT32_MAX));
    }
    return layers;
}

LayerStore storeOf(const std::vector<Layer>& layers)
{
    LayerStore store;
    for (const Layer& layer : layers)
        store.append(layer);
    return store;
}

bool same(const Layer& a, const Layer& b)
{
    return a.row == b.row && a.nanometres == b.nanometres;
}

// The first index where store and reference differ, by each way of reading; empty when none.
// step: every how many layers each is read on its own and walked back to (each such read decodes
// up to a block).
QString firstDifference(const LayerStore& store, const std::vector<Layer>& reference, std::size_t step = 1)
{
    if (store.size() != reference.size())
        return QStringLiteral("size %1, expected %2").arg(store.size()).arg(reference.size());
    for (std::size_t i = 0; i < reference.size(); i += step) {
        if (!same(store[i], reference[i]))
            return QStringLiteral("[%1]: row %2 nm %3, expected row %4 nm %5")
                .arg(i)
                .arg(store[i].row)
                .arg(store[i].nanometres)
                .arg(reference[i].row)
                .arg(reference[i].nanometres);
    }
    std::size_t i = 0;
    for (const Layer layer : store) {
        if (!same(layer, reference[i]))
            return QStringLiteral("walking, at %1").arg(i);
        ++i;
    }
    // Backwards, which never reads the next layer of a block.
    auto it = store.end();
    for (std::size_t k = reference.size(); k-- > 0;) {
        --it;
        if (k % step == 0 && (!same(*it, reference[k]) || it->row != reference[k].row))
            return QStringLiteral("walking back, at %1").arg(k);
    }
    return QString();
}

// Indexes at and around every block edge, and the ends.
std::vector<std::size_t> edgeIndexes(std::size_t size)
{
    std::vector<std::size_t> indexes{0, 1, size / 2};
    for (std::size_t edge = LayerStore::kBlockLayers; edge <= size + 1; edge += LayerStore::kBlockLayers) {
        indexes.push_back(edge - 1);
        indexes.push_back(edge);
        indexes.push_back(edge + 1);
    }
    indexes.push_back(size - 1);
    indexes.push_back(size);
    std::erase_if(indexes, [size](std::size_t i) { return i > size; });
    return indexes;
}

} // namespace

class TestLayerStore : public QObject
{
    Q_OBJECT

private slots:
    void readsBack_data();
    void readsBack();
    void halving_data();
    void halving();
    void shiftRows_data();
    void shiftRows();
    void manyShiftsInsideBlocks();
    void takesLittleMemory();
};

void TestLayerStore::readsBack_data()
{
    QTest::addColumn<int>("shape");
    QTest::addColumn<int>("count");

    QTest::newRow("empty") << int(Shape::SpiralVase) << 0;
    QTest::newRow("one layer") << int(Shape::SpiralVase) << 1;
    QTest::newRow("one short of a block: all plain") << int(Shape::SpiralVase) << 63;
    QTest::newRow("one block exactly") << int(Shape::SpiralVase) << 64;
    QTest::newRow("one block and one layer") << int(Shape::SpiralVase) << 65;
    QTest::newRow("spiral vase, many blocks") << int(Shape::SpiralVase) << 5000;
    QTest::newRow("slicer layers") << int(Shape::SlicerLayers) << 700;
    QTest::newRow("big jumps, to the bounds of row and height") << int(Shape::BigJumps) << 300;
    QTest::newRow("more than a chunk: long steps") << int(Shape::Mixed) << 40'000;
    QTest::newRow("equal heights") << int(Shape::EqualHeights) << 500;
    QTest::newRow("falling rows and heights") << int(Shape::FallingValues) << 1000;
}

void TestLayerStore::readsBack()
{
    QFETCH(int, shape);
    QFETCH(int, count);
    const std::vector<Layer> reference = makeLayers(Shape(shape), count, 11);
    const LayerStore store = storeOf(reference);
    const QString difference = firstDifference(store, reference);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    // Jumps in both directions from a walk under way.
    if (!reference.empty()) {
        LayerStore::Iterator it = store.begin();
        std::mt19937 random(5);
        for (int jump = 0; jump < 2000; ++jump) {
            const std::ptrdiff_t to = std::ptrdiff_t(random() % reference.size());
            it += to - (it - store.begin());
            QVERIFY(same(*it, reference[std::size_t(to)]));
            if (std::size_t(to) + 1 < reference.size())
                QVERIFY(same(it[1], reference[std::size_t(to) + 1]));
            ++it;
            if (std::size_t(to) + 1 < reference.size())
                QVERIFY(same(*it, reference[std::size_t(to) + 1]));
        }
    }
    // A copy reads the same, a cleared store nothing.
    const LayerStore copy = store;
    QVERIFY(firstDifference(copy, reference).isEmpty());
    LayerStore cleared = store;
    cleared.clear();
    QVERIFY(firstDifference(cleared, {}).isEmpty());
    cleared.append(layerOf(9, 9));
    QVERIFY(firstDifference(cleared, {layerOf(9, 9)}).isEmpty());
}

void TestLayerStore::halving_data()
{
    readsBack_data();
}

// The point where a condition on the rows or heights stops holding, against the plain list's,
// for every row and height in it and beside it; std::upper_bound over the store's iterators too.
void TestLayerStore::halving()
{
    QFETCH(int, shape);
    QFETCH(int, count);
    if (Shape(shape) == Shape::FallingValues)
        QSKIP("halving needs rising rows and heights");
    const std::vector<Layer> reference = makeLayers(Shape(shape), count, 23);
    const LayerStore store = storeOf(reference);
    const auto walk = [&](auto holds) {
        return std::size_t(std::partition_point(reference.begin(), reference.end(), holds) -
                           reference.begin());
    };
    std::vector<std::int64_t> rows{INT_MIN, -1, 0};
    std::vector<std::int64_t> heights{INT32_MIN, 0};
    for (std::size_t i = 0; i<reference.size(); i += reference.size()> 3000 ? 7 : 1) {
        for (const int d : {-1, 0, 1}) {
            rows.push_back(std::int64_t(reference[i].row) + d);
            heights.push_back(std::int64_t(reference[i].nanometres) + d);
        }
    }
    for (const std::int64_t row : rows) {
        const auto atOrBefore = [row](const Layer& l) { return l.row <= row; };
        QCOMPARE(store.partitionPoint(atOrBefore), walk(atOrBefore));
        const auto after = std::upper_bound(store.begin(), store.end(), row,
                                            [](std::int64_t r, const Layer& l) { return r < l.row; });
        QCOMPARE(std::size_t(after - store.begin()), walk(atOrBefore));
    }
    for (const std::int64_t height : heights) {
        const auto below = [height](const Layer& l) { return l.nanometres < height; };
        QCOMPARE(store.partitionPoint(below), walk(below));
    }
}

void TestLayerStore::shiftRows_data()
{
    QTest::addColumn<int>("shape");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("by");

    QTest::newRow("vase, a pause: one row down") << int(Shape::SpiralVase) << 300 << 1;
    QTest::newRow("vase, a pause block: a step too long for a byte") << int(Shape::SpiralVase) << 300 << 12;
    QTest::newRow("vase, a row taken out") << int(Shape::SpiralVase) << 300 << -1;
    QTest::newRow("vase, a block short of one") << int(Shape::SpiralVase) << 63 << 5;
    QTest::newRow("slicer layers, many rows down") << int(Shape::SlicerLayers) << 200 << 70'000;
    QTest::newRow("slicer layers, rows taken out") << int(Shape::SlicerLayers) << 200 << -100;
    QTest::newRow("big jumps") << int(Shape::BigJumps) << 130 << 3;
    QTest::newRow("mixed, over chunk edges") << int(Shape::Mixed) << 20'000 << 200;
}

// Moving the rows from each block edge on, one move after another on the same store.
void TestLayerStore::shiftRows()
{
    QFETCH(int, shape);
    QFETCH(int, count);
    QFETCH(int, by);
    std::vector<Layer> reference = makeLayers(Shape(shape), count, 37);
    if (Shape(shape) == Shape::BigJumps)
        reference.resize(reference.size() - 2); // room above the rows to move them
    LayerStore store = storeOf(reference);
    for (const std::size_t first : edgeIndexes(reference.size())) {
        store.shiftRows(first, by);
        for (std::size_t i = first; i < reference.size(); ++i)
            reference[i].row += by;
        const QString difference = firstDifference(store, reference, 61);
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("moved from %1: ").arg(first) + difference));
    }
    const QString difference = firstDifference(store, reference);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

// Thousands of edits inside blocks, each moving a block's bytes where it no longer fits: the store
// still reads right, and its bytes stay near what a fresh store of the same layers takes.
void TestLayerStore::manyShiftsInsideBlocks()
{
    std::vector<Layer> reference = makeLayers(Shape::SpiralVase, 20'000, 41);
    LayerStore store = storeOf(reference);
    std::mt19937 random(43);
    for (int edit = 0; edit < 3000; ++edit) {
        std::size_t first = 1 + random() % (reference.size() - 1);
        if (first % LayerStore::kBlockLayers == 0)
            ++first; // inside a block
        const int by = 4 + int(random() % 20);
        store.shiftRows(first, by);
        for (std::size_t i = first; i < reference.size(); ++i)
            reference[i].row += by;
    }
    const QString difference = firstDifference(store, reference);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    const std::size_t fresh = storeOf(reference).memoryBytes();
    QVERIFY2(store.memoryBytes() < 2 * fresh + LayerStore::kChunkBytes,
             qPrintable(QStringLiteral("%1 bytes, a fresh store %2").arg(store.memoryBytes()).arg(fresh)));
}

// A spiral vase's layers in about two bytes each, not the eight of a plain list.
void TestLayerStore::takesLittleMemory()
{
    const std::vector<Layer> reference = makeLayers(Shape::SpiralVase, 200'000, 47);
    const LayerStore store = storeOf(reference);
    QVERIFY2(
        store.memoryBytes() < reference.size() * 2,
        qPrintable(QStringLiteral("%1 bytes for %2 layers").arg(store.memoryBytes()).arg(reference.size())));
}

QTEST_GUILESS_MAIN(TestLayerStore)
#include "tst_layerstore.moc"
