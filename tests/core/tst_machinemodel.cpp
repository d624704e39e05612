// Every reader of the rows fed the same command sequences: the layer index, the layer view's
// moves, the pause block's state (as a firmware reads the rows, and its copy of the layer pass)
// and the time estimate. Where they must agree they do: the layers the index and the view find,
// the printing height at a row as the layer rule reads it, the position and E mode at a row as the
// firmware documents them, and the moves the estimate times. Each row's expectations are worked
// out by hand, from the documented commands:
//   G28 "G28 [X] [Y] [Z]": the named axes, or all (Marlin G028, Klipper G-Codes); where home is,
//       the file cannot know.
//   G92 sets the named axes; without a word nothing on Marlin and RepRapFirmware ("a G92 without
//       coordinates does nothing"); Klipper's zeroes every axis, as the layer rule reads it.
//   G91 "all coordinates ... relative ... includes the extruder position"; M83 E alone.
//   G2/G3 with Z: a helix (Marlin G002-G003); the layer rule takes heights from G0/G1 only.
//   G20 "set units to inches": the lengths and F of the words that follow are inches.
// A position "?" is one the rows do not tell.

#include "core/layers/LayerIndex.h"
#include "core/layers/MoveReader.h"
#include "core/machine/MachineTracker.h"
#include "core/machine/PrintTimes.h"

#include <QStringList>
#include <QTest>

#include <cmath>
#include <numbers>
#include <optional>

namespace {

std::string_view view(const QByteArray& bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

// The bytes of rows 0 .. row - 1.
QByteArray rowsBefore(const QByteArray& body, int row)
{
    qsizetype at = 0;
    for (int i = 0; i < row && at >= 0; ++i) {
        at = body.indexOf('\n', at);
        if (at >= 0)
            ++at;
    }
    return at < 0 ? body : body.left(at);
}

QString number(const std::optional<double>& value)
{
    if (!value)
        return QStringLiteral("?");
    // To the nanometre, as heights are compared.
    const double rounded = std::round(*value * 1e6) / 1e6;
    return QString::number(rounded == 0.0 ? 0.0 : rounded, 'g', 12);
}

QString position(const Motion::State& s)
{
    return QStringLiteral("X%1 Y%2 Z%3 E%4 T%5").arg(number(s.x), number(s.y), number(s.z), number(s.e)).arg(s.tool);
}

QStringList layersOf(const LayerIndex& index)
{
    QStringList layers;
    for (const Layer& layer : index.layers())
        layers << QStringLiteral("%1@%2").arg(layer.row).arg(number(layer.nanometres / 1e6));
    return layers;
}

} // namespace

class TestMachineModel : public QObject
{
    Q_OBJECT

private slots:
    void everyReaderAgrees_data();
    void everyReaderAgrees();
};

void TestMachineModel::everyReaderAgrees_data()
{
    QTest::addColumn<QByteArray>("body");
    // The layers: each change row and its height.
    QTest::addColumn<QStringList>("layers");
    // The tools of the extrusions, in row order.
    QTest::addColumn<QString>("tools");
    // The state before this row: as the firmware reads the rows, and the printing height as the
    // layer rule reads them.
    QTest::addColumn<int>("probe");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QString>("layerZ");
    QTest::addColumn<bool>("firmwareRelativeE");
    QTest::addColumn<bool>("layerRelativeE");
    // The moves timed at their own feed rates, seconds.
    QTest::addColumn<double>("feedSeconds");

    // G28 Z: Z unknown, so the extrusion on row 5 has no printing height; the relative lift on
    // row 7 counts from 0 by the layer rule, from an unknown height by the firmware. "G28 X" homes
    // X alone: Y is still known.
    QTest::newRow("homing mid-file")
        << QByteArray("G92 X0 Y0 Z0 E0\nG1 Z0.2 F600\nG1 X10 E1\nG28 Z\nG1 X20 E2\nG91\nG1 Z0.4\nG90\n"
                      "G1 X30 E3\nG28 X\n")
        << QStringList{"1@0.2", "6@0.4"} << QStringLiteral("0,0") << 10 << QStringLiteral("X? Y0 Z? E3 T0")
        << QStringLiteral("0.4") << false << false
        // 0.02 s up, 1 s and 1 s along X; the lift and the last move start from an unknown Z.
        << 0.02 + 1.0 + 1.0 + 1.0;
    // A bare G92 sets nothing on Marlin: E stays 5, row 4 pulls back 4 mm and row 6 pushes 1 back.
    // The layer rule zeroes E, as Klipper does, so both rows extrude.
    QTest::newRow("bare G92")
        << QByteArray("G92 X0 Y0 Z0 E0\nG1 Z0.2 F600\nG1 X10 E5\nG92\nG1 X20 E1\nG1 Z0.4\nG1 X30 E2\n")
        << QStringList{"1@0.2", "5@0.4"} << QStringLiteral("0,0,0") << 5 << QStringLiteral("X20 Y0 Z0.2 E1 T0")
        << QStringLiteral("0.2") << false << false << 0.02 + 1.0 + 1.0 + 0.02 + 1.0;
    // G92 X0 E0 sets those two alone: Y and Z stay, the next extrusion counts from E0.
    QTest::newRow("partial G92")
        << QByteArray("G92 X0 Y0 Z0 E0\nG1 Z0.3 F600\nG1 X10 Y10 E1\nG92 X0 E0\nG1 X5 E0.5\nG1 Z0.5\nG1 X0 E1\n")
        << QStringList{"1@0.3", "5@0.5"} << QStringLiteral("0,0,0") << 5 << QStringLiteral("X5 Y10 Z0.3 E0.5 T0")
        << QStringLiteral("0.3") << false << false
        << 0.03 + std::hypot(10.0, 10.0) / 10 + 0.5 + 0.02 + 0.5;
    // G91: every axis relative, E too; then G90 and M83: E alone relative.
    QTest::newRow("relative moves, G91 and M83")
        << QByteArray("G92 X0 Y0 Z0 E0\nG91\nG1 Z0.2 F600\nG1 X30 E1\nG1 Y40 E1\nG90\nM83\nG1 Z0.4\n"
                      "G1 X0 Y0 E2\n")
        << QStringList{"2@0.2", "7@0.4"} << QStringLiteral("0,0,0") << 5 << QStringLiteral("X30 Y40 Z0.2 E2 T0")
        << QStringLiteral("0.2") << true << true << 0.02 + 3.0 + 4.0 + 0.02 + 5.0;
    // A helix up to Z0.6 extrudes at the layer of 0.2 by the layer rule; the firmware's head is at
    // 0.6 after it. Its length: a half turn of radius 5 and a rise of 0.4.
    QTest::newRow("helical arc")
        << QByteArray("G92 X0 Y0 Z0 E0\nG1 Z0.2 F600\nG1 X10 E1\nG2 X20 Y0 I5 J0 Z0.6 E2\nG1 Z0.4\nG1 X30 E3\n")
        << QStringList{"1@0.2", "4@0.4"} << QStringLiteral("0,0,0") << 4 << QStringLiteral("X20 Y0 Z0.6 E2 T0")
        << QStringLiteral("0.2") << false << false
        << 0.02 + 1.0 + std::hypot(5 * std::numbers::pi, 0.4) / 10 + 0.02 + 1.0;
    // Tool changes: the extrusions carry their tool; E counts on (G92 E0 at the change).
    QTest::newRow("tool changes")
        << QByteArray("G92 X0 Y0 Z0 E0\nT0\nG1 Z0.2 F600\nG1 X10 E1\nT1\nG92 E0\nG1 X20 E1\nG1 Z0.4\nT0\n"
                      "G1 X30 E2\n")
        << QStringList{"2@0.2", "7@0.4"} << QStringLiteral("0,1,0") << 8 << QStringLiteral("X20 Y0 Z0.4 E1 T1")
        << QStringLiteral("0.4") << false << false << 0.02 + 1.0 + 1.0 + 0.02 + 1.0;
    // G20: Z0.01 is 0.254 mm and X1 25.4 mm to the firmware, F24 24 inches a minute (10.16 mm/s);
    // the layer rule compares the file's numbers as they stand. After G21 the words are mm again
    // and the feed rate stays 10.16 mm/s.
    QTest::newRow("G20 inches")
        << QByteArray("G20\nG92 X0 Y0 Z0 E0\nG1 Z0.01 F24\nG1 X1 E0.04\nG21\nG1 Z0.5\nG1 X40 E2\n")
        << QStringList{"2@0.01", "5@0.5"} << QStringLiteral("0,0") << 4 << QStringLiteral("X25.4 Y0 Z0.254 E1.016 T0")
        << QStringLiteral("0.01") << false << false
        << (0.254 + 25.4 + (0.5 - 0.254) + (40 - 25.4)) / 10.16;
}

void TestMachineModel::everyReaderAgrees()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, layers);
    QFETCH(QString, tools);
    QFETCH(int, probe);
    QFETCH(QString, firmware);
    QFETCH(QString, layerZ);
    QFETCH(bool, firmwareRelativeE);
    QFETCH(bool, layerRelativeE);
    QFETCH(double, feedSeconds);

    // The layer index.
    const LayerIndex index = LayerIndex::build(view(body));
    QCOMPARE(layersOf(index), layers);

    // The layer view: its layers start at the index's heights, each within the index's layer.
    Moves::MoveReader reader;
    QStringList viewLayers;
    QStringList viewTools;
    reader.read(view(body), 0, [&](const Moves::Move& m) {
        if (m.kind != Moves::Move::Kind::Extrusion)
            return;
        viewTools << QString::number(m.tool);
        if (!m.startsLayer)
            return;
        const std::optional<std::size_t> layer = index.layerAt(m.row);
        QVERIFY2(layer, qPrintable(QStringLiteral("row %1").arg(m.row)));
        viewLayers << QStringLiteral("%1@%2").arg(index.layers()[*layer].row).arg(number(double(m.z)));
    });
    QCOMPARE(viewLayers, layers);
    QCOMPARE(viewTools.join(u','), tools);

    // The state before the probe row: the firmware's, and the layer rule's printing height as the
    // pause block's copy of the layer pass and the view read it.
    const QByteArray before = rowsBefore(body, probe);
    MachineTracker tracker;
    tracker.rows(view(before));
    const MachineState& state = tracker.state();
    QCOMPARE(position(state), firmware);
    QCOMPARE(state.relativeExtrusion<Motion::kFirmware>(), firmwareRelativeE);
    QCOMPARE(number(state.layerPass.z), layerZ);
    QCOMPARE(state.layerPass.relativeExtrusion<Motion::kLayerRule>(), layerRelativeE);
    Moves::MoveReader upTo;
    upTo.read(view(before), 0, [](const Moves::Move&) {});
    QCOMPARE(number(upTo.state().z), layerZ);
    QCOMPARE(upTo.state().relativeExtrusion<Motion::kLayerView>(), layerRelativeE);

    // The time estimate plans the moves the firmware makes.
    const PrintTimes times = PrintTimes::compute({}, view(body), MotionLimits());
    QVERIFY2(std::abs(times.feedRateTotal() - feedSeconds) < 1e-6,
             qPrintable(QStringLiteral("%1 s, expected %2 s").arg(times.feedRateTotal(), 0, 'f', 6).arg(feedSeconds, 0, 'f', 6)));
}

QTEST_GUILESS_MAIN(TestMachineModel)
#include "tst_machinemodel.moc"
