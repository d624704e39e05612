// The layer index and the print analysis over it: small bodies in the shapes that slicers
// write, and every real slicer file beside the repository, checked against the slicer's own
// layer comments.

#include "core/layers/BackgroundLayerIndex.h"
#include "core/layers/LayerIndex.h"
#include "core/file/SlicedFile.h"
#include "core/navigation/PrintAnalysis.h"
#include "core/text/RowSource.h"
#include "core/text/Utility.h"

#include "RealFileRows.h"
#include "ReferenceLayers.h"
#include "TestPaths.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

std::string_view view(const QByteArray& bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

// Layers written "row:z row:z ...".
QList<Layer> parseLayers(const char* text)
{
    QList<Layer> layers;
    for (const QByteArray& item : QByteArray(text).split(' ')) {
        if (item.isEmpty())
            continue;
        const QList<QByteArray> parts = item.split(':');
        layers.append({parts[0].toInt(), parts[1].toDouble()});
    }
    return layers;
}

QList<Layer> toList(const LayerIndex& index)
{
    return QList<Layer>(index.layers().begin(), index.layers().end());
}

QString describe(const QList<Layer>& layers)
{
    QStringList items;
    for (const Layer& layer : layers)
        items << QStringLiteral("%1:%2").arg(layer.row).arg(layer.z());
    return items.join(u' ');
}

// Micrometres as the decimal text a slicer writes: 3400 -> "3.400", -200 -> "-0.200".
QString micrometresText(int micrometres)
{
    return QStringLiteral("%1%2.%3")
        .arg(micrometres < 0 ? "-" : "")
        .arg(std::abs(micrometres) / 1000)
        .arg(std::abs(micrometres) % 1000, 3, 10, QLatin1Char('0'));
}

// A body of count layers from first, step apart (micrometres): a prime line row, then per layer
// a Z move and an extrusion. relative writes the Z moves as G91 steps. The change rows go to rows.
QByteArray layeredBody(int first, int step, int count, bool relative, QList<int>& rows)
{
    QByteArray body = relative ? "M83\nG91\n" : "M83\n";
    int row = relative ? 2 : 1;
    for (int k = 0; k < count; ++k) {
        const int z = relative ? (k == 0 ? first : step) : first + k * step;
        body += "G1 Z" + micrometresText(z).toLatin1() + " F600\nG1 X" + QByteArray::number(k % 7 + 1) +
                " Y5 E0.5\n";
        rows.append(row);
        row += 2;
    }
    return body;
}

} // namespace

class TestLayerIndex : public QObject
{
    Q_OBJECT

private slots:
    void layers_data();
    void layers();
    void layerAt_data();
    void layerAt();
    void rowsInserted_data();
    void rowsInserted();
    void rowsMovedInAVase_data();
    void rowsMovedInAVase();
    void layerForHeight_data();
    void layerForHeight();
    void printStart_data();
    void printStart();
    void heightChoice_data();
    void heightChoice();
    void exactHeights_data();
    void exactHeights();
    void realFile_data();
    void realFile();
};

void TestLayerIndex::layers_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("layers"); // row:z for each layer, bottom to top

    QTest::newRow("Cura: G0 layer changes, start lift, prime blob, end lift")
        << QByteArray("M82 ;absolute extrusion mode\n"
                      "G28 ;Home\n"
                      "G1 Z15.0 F9000 ;move the platform down 15mm\n"
                      "G92 E0\n"
                      "G1 F200 E3 ;extrude 3mm of feed stock\n"
                      "G92 E0\n"
                      ";LAYER:0\n"
                      "G0 F3600 X10 Y10 Z0.3\n"
                      "G1 F1500 X20 Y10 E1.0\n"
                      "G1 X20 Y20 E2.0\n"
                      ";LAYER:1\n"
                      "G0 F3600 X10 Y10 Z0.5\n"
                      "G1 X20 Y10 E3.0\n"
                      ";LAYER:2\n"
                      "G0 F960 Z0.7\n"
                      "G0 X30 Y30\n"
                      "G1 X40 Y30 E4.0\n"
                      "G1 Z15 E-1 ;end lift\n")
        << "7:0.3 11:0.5 14:0.7";
    QTest::newRow("PrusaSlicer: Z-hop pairs inside layers") << QByteArray("M83\n"
                                                                          "G1 Z.2 F720\n"
                                                                          "G1 X10 Y10 E1\n"
                                                                          "G1 E-.8 F2100\n"
                                                                          "G1 Z.4 F720\n"
                                                                          "G1 X50 Y50 F7200\n"
                                                                          "G1 Z.2 F720\n"
                                                                          "G1 E.8 F2100\n"
                                                                          "G1 X60 Y50 E1\n"
                                                                          ";LAYER_CHANGE\n"
                                                                          ";Z:0.4\n"
                                                                          "G1 E-.8\n"
                                                                          "G1 Z.6 F720\n"
                                                                          "G1 X10 Y10\n"
                                                                          "G1 Z.4 F720\n"
                                                                          "G1 E.8\n"
                                                                          "G1 X20 Y10 E1\n")
                                                            << "1:0.2 14:0.4";
    QTest::newRow("a hop to the next height before the layer change starts that layer")
        << QByteArray("M83\nG1 Z.2\nG1 X1 Y1 E1\nG1 Z.4\nG1 X5 Y5\nG1 Z.4 F720\nG1 X2 Y2 E1\n")
        << "1:0.2 3:0.4";
    QTest::newRow("Bambu Studio: arc lifts, travel at the lifted height")
        << QByteArray("M83\n"
                      "G1 Z.2\n"
                      "G1 X10 Y10 E1\n"
                      "G17\n"
                      "G3 Z.6 I-.8 J.9 P1 F30000\n"
                      "G1 X50 Y50 Z.6\n"
                      "G1 Z.4\n"
                      "G1 X60 Y50 E1\n"
                      "G2 Z.8 I.86 J.86 P1 F20000 ; spiral lift a little\n"
                      "G1 X70 Y70\n"
                      "G2 Z.4 I.86 J.86 P1\n"
                      "G1 X80 Y70 E1\n"
                      "G3 X80 Y90 I0 J10 E1\n")
        << "1:0.2 6:0.4";
    QTest::newRow("start G-code lifts before the first layer, final lift after the last")
        << QByteArray("G28\n"
                      "G1 Z15.0 F9000 ;move the platform down 15mm\n"
                      "G92 E0\n"
                      "G1 F200 E3 ;extrude 3mm of feed stock\n"
                      "G92 E0\n"
                      "G1 Z5 F3000\n"
                      "G1 X10 Y10 Z0.3 F3000\n"
                      "G1 X20 Y10 E1\n"
                      "G1 Z0.6\n"
                      "G1 X20 Y20 E2\n"
                      "G1 Z10 F3000 ;lift\n"
                      "G1 X0 Y200\n")
        << "6:0.3 8:0.6";
    QTest::newRow("comments holding G1 Z5") << QByteArray("; start_gcode = G1 Z5 F5000\\nG1 X0 E5\n"
                                                          "G1 Z0.2 F600 ; not G1 Z5\n"
                                                          "G1 X10 Y10 E1 ; G1 Z5 E9\n"
                                                          ";G1 Z5\n"
                                                          "  ; G1 Z5 X1 E20\n"
                                                          "G1 Z0.4 (G1 Z5)\n"
                                                          "G1 X20 Y20 E2 (Z9)\n")
                                            << "1:0.2 5:0.4";
    QTest::newRow("M83 relative extrusion")
        << QByteArray("M83\nG1 Z0.2\nG1 X10 Y10 E0.5\nG1 Z0.4\nG1 X20 Y10 E0.5\nG1 Z0.6\n"
                      "G1 X30 Y10 E-0.2 ;wipe\nG1 X30 Y20 E0.3\n")
        << "1:0.2 3:0.4 5:0.6";
    QTest::newRow("M82 after M83: absolute again")
        << QByteArray("M83\nG1 Z0.2\nG1 X1 Y1 E2\nM82\nG1 Z0.4\nG1 X2 Y2 E1.5\nG1 Z0.6\nG1 X3 Y3 E2.5\n")
        << "1:0.2 6:0.6";
    QTest::newRow("G92 resets the absolute E")
        << QByteArray("M82\nG1 Z0.2\nG1 X10 Y10 E5\nG92 E0\nG1 Z0.4\nG1 X20 Y10 E1\nG92 E10\nG1 Z0.6\n"
                      "G1 X30 Y10 E8 ;travel while retracted\nG1 Z0.8\nG1 X40 Y10 E10.5\n")
        << "1:0.2 4:0.4 9:0.8";
    QTest::newRow("G91 relative moves")
        << QByteArray("G1 Z0.2\nG1 X1 Y1 E1\nG91\nG1 Z0.2\nG1 X1 Y0 E1\nG1 Z0.2\nG1 X1 E0.5\nG90\n")
        << "0:0.2 3:0.4 5:0.6";
    // 0.3 + 0.1 - 0.1 is not 0.3 in binary; a hop undone by relative moves must not start a layer.
    QTest::newRow("G91 hop up and back down between extrusions at one height")
        << QByteArray("G1 Z0.3\nG1 X1 Y1 E1\nG91\nG1 Z0.1\nG1 Z-0.1\nG90\nG1 X2 Y2 E2\n"
                      "G91\nG1 Z0.7\nG1 Z-0.7\nG90\nG1 X3 Y3 E3\n")
        << "0:0.3";
    QTest::newRow("CR LF") << QByteArray("G1 Z0.2\r\nG1 X1 Y1 E1\r\n;c\r\nG1 Z0.4\r\nG1 X2 Y2 E2\r\n")
                           << "0:0.2 3:0.4";
    QTest::newRow("lone CR and blank rows count as rows")
        << QByteArray("G1 Z0.2\rG1 X1 Y1 E1\n\n;c\rG1 Z0.4\r\n\r\nG1 X2 Y2 E2") << "0:0.2 4:0.4";
    QTest::newRow("spiral vase: a layer per line")
        << QByteArray("G1 Z0.2\nG1 X10 Y10 E1\nG1 X11 Y10 Z0.21 E1.1\nG1 X12 Y10 Z0.22 E1.2\n"
                      "G1 X13 Y10 Z0.23 E1.3\nG1 Z5 ;final lift\n")
        << "0:0.2 2:0.21 3:0.22 4:0.23";
    QTest::newRow("no extrusion: Z lines only")
        << QByteArray("G1 Z0.3 F420\nG1 X10 Y10\nG1 Z0.5 F420\nG1 X10 Y20\nG1 E5\nG0 X1 Y1 Z1 E9\n") << "";
    QTest::newRow("extrusion only before any Z is set")
        << QByteArray("G1 X10.5 Y20.25 E0.0123\nG1 X10.5 Y20.25 E0.0123\nG1 Z0.3 F420\n"
                      "G1 X10.5 Y20.25 E0.0123\nG1 Z0.5 F420\nG1 X10.5 Y20.25 E0.0123\n")
        << "";
    QTest::newRow("prime line at a greater height before the lowest printing height")
        << QByteArray(
               "G1 Z0.8\nG1 X0 Y0 E10 ;purge\nG92 E0\nG1 Z0.2\nG1 X10 Y10 E1\nG1 Z0.4\nG1 X10 Y20 E2\n")
        << "3:0.2 5:0.4";
    QTest::newRow("a lower object later does not start a layer")
        << QByteArray("G1 Z0.2\nG1 X1 Y1 E1\nG1 Z0.4\nG1 X2 Y2 E2\nG1 Z0.2\nG1 X3 Y3 E3\nG1 Z0.4\n"
                      "G1 X4 Y4 E4\nG1 Z0.6\nG1 X5 Y5 E5\n")
        << "0:0.2 2:0.4 8:0.6";
    QTest::newRow("lower case, G00/G01, line numbers, words without blanks")
        << QByteArray("g1 z0.2\ng01 x1 y1 e1\nG00 Z0.4\nN12 G01 X2 Y2 E2*71\nG1Z0.6\nG1X3Y3E3\n")
        << "0:0.2 2:0.4 4:0.6";
    QTest::newRow("parenthesised comments: skipped between words, a row may start with one")
        << QByteArray(
               "G1 (first) Z0.2\nG1 X1 Y1 (Z5) E1\n(lift)G1 Z0.4\nG1 X2\tY2(x)E2\nG1 Z0.6 (no close E9\n"
               "G1 X3 Y3 E3\n")
        << "0:0.2 2:0.4 4:0.6";
    QTest::newRow("not moves: G10, G28, G1.5, Z without a number, T0")
        << QByteArray("G1 Z0.2\nG1 X1 Y1 E1\nG10 Z5\nG28 Z0\nG1.5 Z7\nT0\nG1 Z\nG1 X2 Y2 E2\nG1 Z0.4\n"
                      "G1 X3 Y3 E3\n")
        << "0:0.2 8:0.4";
    QTest::newRow("G0 with E and G1 with E but no X or Y extrude nothing")
        << QByteArray("G1 Z0.2\nG1 X1 Y1 E1\nG1 Z0.4\nG0 X2 Y2 E2\nG1 E3\nG1 Z0.6\nG1 X3 Y3 E4\n")
        << "0:0.2 5:0.6";
    QTest::newRow("empty body") << QByteArray() << "";
}

void TestLayerIndex::layers()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, layers);

    const LayerIndex index = LayerIndex::build(view(body));
    const QList<Layer> expected = parseLayers(layers.toLatin1().constData());
    QCOMPARE(describe(toList(index)), describe(expected));
    QCOMPARE(index.isEmpty(), expected.isEmpty());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(index.layers()[std::size_t(i)].row, expected[i].row);
        QCOMPARE(index.layers()[std::size_t(i)].z(), expected[i].z());
    }

    // Handed over in pieces, as a file is read: in two at every byte, and in pieces of 1 to 5.
    const auto inPieces = [&](const QList<qsizetype>& cuts) {
        LayerIndex::Builder builder;
        qsizetype from = 0;
        for (const qsizetype cut : cuts) {
            builder.add(view(body.mid(from, cut - from)));
            from = cut;
        }
        builder.add(view(body.mid(from)));
        return describe(toList(builder.finish()));
    };
    for (qsizetype cut = 0; cut <= body.size(); ++cut)
        QVERIFY2(inPieces({cut}) == describe(expected), qPrintable(QStringLiteral("cut at %1").arg(cut)));
    for (qsizetype size = 1; size <= 5; ++size) {
        QList<qsizetype> cuts;
        for (qsizetype cut = size; cut < body.size(); cut += size)
            cuts.append(cut);
        QVERIFY2(inPieces(cuts) == describe(expected), qPrintable(QStringLiteral("pieces of %1").arg(size)));
    }
}

void TestLayerIndex::layerAt_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("layer"); // -1: none

    // Layers change on rows 2 (0.2), 5 (0.4) and 8 (0.6).
    QTest::newRow("before the first layer") << 1 << -1;
    QTest::newRow("on the first change row") << 2 << 0;
    QTest::newRow("inside the first layer") << 4 << 0;
    QTest::newRow("on a later change row") << 5 << 1;
    QTest::newRow("past the last row") << 100 << 2;
    QTest::newRow("negative row") << -1 << -1;
}

void TestLayerIndex::layerAt()
{
    QFETCH(int, row);
    QFETCH(int, layer);
    const QByteArray body =
        "G28\nG92 E0\nG1 Z0.2\nG1 X1 Y1 E1\nG0 X5 Y5\nG1 Z0.4\nG1 X1 Y2 E2\nG0 X5\nG1 Z0.6\n"
        "G1 X3 Y3 E3\n";
    const LayerIndex index = LayerIndex::build(view(body));
    QCOMPARE(index.layers().size(), std::size_t(3));
    const std::optional<std::size_t> found = index.layerAt(row);
    QCOMPARE(found ? int(*found) : -1, layer);
}

void TestLayerIndex::rowsInserted_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("count");

    QTest::newRow("a pause before the first change row") << 2 << 1;
    QTest::newRow("three temperatures inside the first layer") << 4 << 3;
    QTest::newRow("a pause before the last change row") << 8 << 1;
    QTest::newRow("after the last layer") << 10 << 2;
    QTest::newRow("before row 0") << 0 << 1;
}

// Moving the change rows gives the index of the text with the rows inserted.
void TestLayerIndex::rowsInserted()
{
    QFETCH(int, row);
    QFETCH(int, count);
    const QByteArray body =
        "G28\nG92 E0\nG1 Z0.2\nG1 X1 Y1 E1\nG0 X5 Y5\nG1 Z0.4\nG1 X1 Y2 E2\nG0 X5\nG1 Z0.6\n"
        "G1 X3 Y3 E3\n";
    QList<QByteArray> lines = body.split('\n');
    for (int i = 0; i < count; ++i)
        lines.insert(row, i == 0 ? "M25" : "M104 S200 T0");
    LayerIndex index = LayerIndex::build(view(body));
    index.rowsInserted(row, count);
    QCOMPARE(describe(toList(index)), describe(toList(LayerIndex::build(view(lines.join('\n'))))));
}

namespace {

// A spiral vase of count layers, one a row, rising 0.7 um a row; three comment rows stand before
// the change row of each layer in commented.
QByteArray vaseBody(int count, const QList<int>& commented)
{
    QByteArray body = "M83\n";
    char row[96];
    for (int k = 0; k < count; ++k) {
        if (commented.contains(k))
            body += ";TYPE:WALL-OUTER\n;WIDTH:0.45\n;HEIGHT:0.2\n";
        const int n = std::snprintf(row, sizeof row, "G1 X%d Y5 Z%.4f E0.02\n", k % 9 + 1, 0.2 + k * 0.0007);
        body.append(row, n);
    }
    return body;
}

QString describe(const QList<Reference::LayerRow>& layers)
{
    QStringList items;
    for (const Reference::LayerRow& layer : layers)
        items << QStringLiteral("%1:%2").arg(layer.row).arg(layer.z);
    return items.join(u' ');
}

} // namespace

void TestLayerIndex::rowsMovedInAVase_data()
{
    QTest::addColumn<int>("layer"); // the layer whose change row the edit is next to
    QTest::addColumn<int>("rows");  // rows put in front of it; negative: its comment rows taken out

    // The index keeps its layers in blocks of 64: the edges of the first blocks.
    for (const int layer : {0, 1, 63, 64, 65, 127, 128, 200}) {
        QTest::addRow("a pause before layer %d", layer) << layer << 1;
        QTest::addRow("a pause block of 12 rows before layer %d", layer) << layer << 12;
        QTest::addRow("the comments before layer %d taken out", layer) << layer << -3;
    }
}

// Rows put in or taken out next to a layer's change row give the layers of the text so edited,
// as the tests' plain reading finds them.
void TestLayerIndex::rowsMovedInAVase()
{
    QFETCH(int, layer);
    QFETCH(int, rows);
    const QList<int> commented{0, 1, 63, 64, 65, 127, 128, 200};
    const QByteArray body = vaseBody(201, commented);
    LayerIndex index = LayerIndex::build(view(body));
    QCOMPARE(index.layers().size(), std::size_t(201));
    const int changeRow = index.layers()[std::size_t(layer)].row;
    QList<QByteArray> lines = body.split('\n');
    if (rows > 0) {
        for (int i = 0; i < rows; ++i)
            lines.insert(changeRow, i == 0 ? "M25" : "M104 S200 T0");
        index.rowsInserted(changeRow, rows);
    } else {
        lines.remove(changeRow + rows, -rows);
        index.rowsShifted(changeRow - 1, rows);
    }
    const TextRows edited(lines.join('\n'));
    const QList<Reference::LayerRow> expected = Reference::allLayers(Reference::referenceEffects(edited));
    QCOMPARE(describe(toList(index)), describe(expected));
    for (int row = 0; row < edited.physicalRowCount(); ++row) {
        std::optional<std::size_t> at;
        for (qsizetype i = 0; i < expected.size() && expected[i].row <= row; ++i)
            at = std::size_t(i);
        QCOMPARE(index.layerAt(row), at);
    }
}

void TestLayerIndex::layerForHeight_data()
{
    QTest::addColumn<double>("target");
    QTest::addColumn<int>("layer"); // -1: none

    // Layers at 0.2, 0.4 and 0.6.
    QTest::newRow("below the first layer: the first") << 0.1 << 0;
    QTest::newRow("at the first layer: the first") << 0.2 << 0;
    QTest::newRow("halfway between first and second") << 0.3 << 0;
    QTest::newRow("at the second: the one below") << 0.4 << 0;
    QTest::newRow("just above the second") << 0.41 << 1;
    QTest::newRow("at the top layer") << 0.6 << 1;
    QTest::newRow("above the top: none reaches it") << 0.7 << -1;
}

void TestLayerIndex::layerForHeight()
{
    QFETCH(double, target);
    QFETCH(int, layer);
    const QByteArray body = "G1 Z0.2\nG1 X1 Y1 E1\nG1 Z0.4\nG1 X1 Y2 E2\nG1 Z0.6\nG1 X3 Y3 E3\nG1 Z10\n";
    const LayerIndex index = LayerIndex::build(view(body));
    const std::optional<std::size_t> found = index.layerForHeight(target);
    QCOMPARE(found ? int(*found) : -1, layer);
    QVERIFY(LayerIndex().layerForHeight(target) == std::nullopt);
}

void TestLayerIndex::printStart_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("row"); // -1: none
    QTest::addColumn<double>("height");

    QTest::newRow("shell-inner: the Z row before it, not the first layer")
        << QByteArray("G1 Z0.2\nG1 X1 Y1 E1\nG1 Z0.4\nG1 X1 Y2 E2\n;structure:shell-inner\nG1 X3 Y3 E3\n")
        << 2 << 0.4;
    QTest::newRow("no shell-inner: the first layer")
        << QByteArray("G28\nG1 Z15 ;lift\n;TYPE:shell\nG1 Z0.3\nG1 X1 Y1 E1\nG1 Z0.6\nG1 X2 Y2 E2\n") << 3
        << 0.3;
    QTest::newRow("settings comment holding shell is no start")
        << QByteArray("G28\n; bottom_shell_layers = 3\nG1 Z0.3\nG1 Z0.5\n") << -1 << 0.0;
    QTest::newRow("shell fallback on a command row")
        << QByteArray("G28\n;TYPE:shell\nM117 shell\nG1 X1\nG1 Z0.25\nG1 Z0.45\n") << 4 << 0.25;
    QTest::newRow("shell-inner whose walk back finds no Z, with layers: the first layer")
        << QByteArray("G28\nG1 X1\n;structure:shell-inner\nG1 Z0.2\nG1 X1 Y1 E1\n") << 3 << 0.2;
    QTest::newRow("nothing") << QByteArray("G28\nG1 X1\nM84\n") << -1 << 0.0;
}

void TestLayerIndex::printStart()
{
    QFETCH(QByteArray, body);
    QFETCH(int, row);
    QFETCH(double, height);
    const TextRows rows(body);
    const PrintStart start = findPrintStart(rows, LayerIndex::build(view(body)));
    QCOMPARE(start.row.value_or(-1), row);
    QCOMPARE(start.height, height);
}

void TestLayerIndex::heightChoice_data()
{
    QTest::addColumn<int>("startRow");
    QTest::addColumn<double>("target");
    QTest::addColumn<int>("row"); // -1: none
    QTest::addColumn<double>("z");

    // Layers: row 2 at 0.2, 7 at 0.4 (after a hop to 0.6 on row 4), 10 at 0.6; a final lift on row 12.
    QTest::newRow("halfway into the second layer") << 2 << 0.5 << 7 << 0.4;
    QTest::newRow("halfway into the first layer") << 2 << 0.3 << 2 << 0.2;
    QTest::newRow("at or below the first layer: the first") << 2 << 0.1 << 2 << 0.2;
    QTest::newRow("above the top layer: none, the lift is no layer") << 2 << 0.7 << -1 << 0.0;
    QTest::newRow("from a start row inside the first layer") << 3 << 0.3 << 7 << 0.4;
    QTest::newRow("start row past the end") << 50 << 0.3 << -1 << 0.0;
}

void TestLayerIndex::heightChoice()
{
    QFETCH(int, startRow);
    QFETCH(double, target);
    QFETCH(int, row);
    QFETCH(double, z);
    const QByteArray body = "G28\nG1 Z5\nG1 Z0.2\nG1 X1 Y1 E1\nG1 Z0.6 ;hop\nG1 X9 Y9\nG1 Z0.2\nG1 Z0.4\n"
                            "G1 X2 Y2 E2\n;next\nG1 Z0.6\nG1 X3 Y3 E3\nG1 Z20\n";
    const TextRows rows(body);
    const HeightChoice choice =
        chooseRowForHeight(rows, LayerIndex::build(view(body)), startRow, Utility::ToNanometres(target));
    QCOMPARE(choice.row.value_or(-1), row);
    QCOMPARE(choice.z, z);
    QCOMPARE(choice.examined, startRow < rows.lineCount());
}

void TestLayerIndex::exactHeights_data()
{
    QTest::addColumn<int>("first"); // micrometres
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("relative");

    QTest::newRow("start 0.2, layers 0.1 apart (0.2 + 3.2 is above 3.4 in doubles)")
        << 200 << 100 << 120 << false;
    QTest::newRow("start 0.3, layers 0.1 apart") << 300 << 100 << 120 << false;
    QTest::newRow("start 0.1, layers 0.1 apart") << 100 << 100 << 120 << false;
    QTest::newRow("start 0.3, layers 0.15 apart") << 300 << 150 << 120 << false;
    QTest::newRow("start 0.3, layers 0.2 apart as G91 steps") << 300 << 200 << 120 << true;
}

// A height typed as exactly a layer's height above the print start selects the layer below it,
// however the doubles of the typed height and the start add up.
void TestLayerIndex::exactHeights()
{
    QFETCH(int, first);
    QFETCH(int, step);
    QFETCH(int, count);
    QFETCH(bool, relative);
    QList<int> changeRows;
    const QByteArray body = layeredBody(first, step, count, relative, changeRows);
    const TextRows rows(body);
    const LayerIndex index = LayerIndex::build(view(body));
    const PrintStart start = findPrintStart(rows, index);
    QCOMPARE(start.row.value_or(-1), changeRows.first());
    QCOMPARE(start.height, micrometresText(first).toDouble());

    int roundedOver = 0; // heights where typed + start in doubles lands above the layer's own double
    for (int k = 0; k < count; ++k) {
        const QString typed = micrometresText(k * step);
        const double layerZ = micrometresText(first + k * step).toDouble();
        roundedOver += typed.toDouble() + start.height > layerZ;

        const std::int64_t target =
            *Utility::TypedNanometres(typed, QStringLiteral(".")) + Utility::ToNanometres(start.height);
        const HeightChoice choice = chooseRowForHeight(rows, index, *start.row, target);
        const int below = std::max(k - 1, 0); // at the first layer's height: the first layer
        QVERIFY2(choice.row == changeRows[below], qPrintable(QStringLiteral("typed %1: row %2, expected %3")
                                                                 .arg(typed)
                                                                 .arg(choice.row.value_or(-1))
                                                                 .arg(changeRows[below])));
        QCOMPARE(choice.layer, std::optional<std::size_t>(below));
        QCOMPARE(choice.z, micrometresText(first + below * step).toDouble());
    }
    // The fixture holds heights whose doubles add up above the layer, which a comparison of
    // doubles takes to the layer itself.
    QVERIFY(roundedOver > 0);
}

void TestLayerIndex::realFile_data()
{
    if (!Reference::addRealFileRows(QStringLiteral(BORVANE_REAL_FIXTURES_DIR), "path"))
        QSKIP("The real slicer files are not beside the repository.");
}

// The index equals the plain reading of the definition, and every layer the slicer announces
// in its comments is one of its layers, on the change row the definition gives. Apart from those,
// only a prime line below the first announced layer and the lines of a spiral vase are layers.
void TestLayerIndex::realFile()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const qsizetype headerLength = SlicedFile::headerLength(bytes);
    QVERIFY(headerLength > 0);
    const TextRows rows(bytes.mid(headerLength));
    const LayerIndex index = LayerIndex::build(rows.bytes());
    QVERIFY(!index.isEmpty());

    // Built on another thread from pieces as a read hands them over, with rows cut anywhere.
    BackgroundLayerIndex background;
    const qsizetype length = qsizetype(rows.bytes().size());
    for (qsizetype from = 0, size = 1; from < length; from += size, size = size * 3 + 1)
        background.add(QByteArrayView(rows.bytes().data() + from, std::min(size, length - from)));
    QCOMPARE(describe(toList(background.finish())), describe(toList(index)));

    const QList<Reference::RowEffect> effects = Reference::referenceEffects(rows);
    QList<Layer> expected;
    for (const Reference::LayerRow& layer : Reference::allLayers(effects))
        expected.append({layer.row, layer.z});
    QCOMPARE(describe(toList(index)), describe(expected));

    const QList<Reference::LayerRow> announced = Reference::announcedLayers(rows, effects);
    if (Reference::commentLayers(rows).isEmpty()) {
        QVERIFY(path.contains(u"slic3r_")); // the one file tried without layer comments
        return;
    }
    QVERIFY(!announced.isEmpty());
    const LayerSpan layers = index.layers();
    // In row order: a file that prints its objects one after another has each height once per part.
    auto from = layers.begin();
    for (const Reference::LayerRow& layer : announced) {
        const auto match = std::find_if(from, layers.end(),
                                        [&](const Layer& l) { return Reference::sameZ(l.z(), layer.z); });
        QVERIFY2(match != layers.end(), qPrintable(QStringLiteral("no layer at %1").arg(layer.z)));
        QCOMPARE(match->row, layer.row);
        from = match + 1;
    }
    if (!path.contains(u"spiral-vase")) {
        const std::size_t count = std::size_t(announced.size());
        QVERIFY2(layers.size() == count || (layers.size() == count + 1 && layers[0].z() < announced[0].z),
                 qPrintable(QStringLiteral("%1 layers, %2 announced").arg(layers.size()).arg(count)));
    }
}

QTEST_GUILESS_MAIN(TestLayerIndex)
#include "tst_layerindex.moc"
