// The layer view drawn into an image offscreen, on a small file written here: where each square of
// extrusion lands, the layer below, travel, arcs and the nozzle at the selected row.

#include "GeneratedPrints.h"
#include "GuiTestSupport.h"

#include "core/layers/LayerIndex.h"
#include "core/layers/MoveReader.h"
#include "core/text/RowSource.h"
#include "gui/EditBuffer.h"
#include "gui/LayerRuler.h"
#include "gui/LayerView.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QImage>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

namespace {

// Layer 1 (Z 0.2): a square from 10,10 to 20,20 with T0. Layer 2 (Z 0.4): a travel to 30,30 and a
// square from 30,30 to 40,40 with T1, 0.5 mm wide, each side in pieces moves. Layer 3 (Z 0.6): a
// half circle from 10,40 to 20,40 around 15,40, clockwise, so over the top.
QByteArray printBody(int pieces)
{
    QByteArray body =
        "G90\nM83\nG28\n"
        "G1 Z0.2\n;WIDTH:0.5\nG0 X10 Y10\nG1 X20 Y10 E1\nG1 X20 Y20 E1\nG1 X10 Y20 E1\nG1 X10 Y10 E1\n"
        "G1 Z0.4\nT1\nG0 X30 Y30\n";
    const double corners[5][2] = {{30, 30}, {40, 30}, {40, 40}, {30, 40}, {30, 30}};
    for (int side = 0; side < 4; ++side) {
        for (int k = 1; k <= pieces; ++k) {
            const double t = double(k) / pieces;
            const double x = corners[side][0] + (corners[side + 1][0] - corners[side][0]) * t;
            const double y = corners[side][1] + (corners[side + 1][1] - corners[side][1]) * t;
            body +=
                "G1 X" + QByteArray::number(x, 'f', 4) + " Y" + QByteArray::number(y, 'f', 4) + " E0.01\n";
        }
    }
    return body + "G1 Z0.6\nT0\nG0 X10 Y40\nG2 X20 Y40 I5 J0 E1\n";
}
constexpr int kLayer2Row = 10; // "G1 Z0.4"
// The row that starts the square's second side: a pause there stops at 40,30.
int secondSideRow(int pieces)
{
    return 13 + pieces;
}
int layer3Row(int pieces)
{
    return 13 + 4 * pieces;
}
const QRectF kExtent(0, 0, 50, 50);

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
           std::abs(a.blue() - b.blue()) < 40;
}

} // namespace

class TestLayerView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void squareDrawnWhereItIsAndNowhereElse_data();
    void squareDrawnWhereItIsAndNowhereElse();
    void travelCanBeHidden();
    void arcDrawnAsAnArc();
    void windowNamesTheHollowsAndShowsTheirLayers();

private:
    void load(int pieces);
    QImage draw(int row);
    QPoint at(double x, double y) const { return m_view->toWidget(QPointF(x, y)).toPoint(); }

    std::unique_ptr<TextRows> m_rows;
    LayerIndex m_layers;
    Moves::Checkpoints m_points;
    std::unique_ptr<LayerView> m_view;
};

void TestLayerView::load(int pieces)
{
    const QByteArray body = printBody(pieces);
    m_rows = std::make_unique<TextRows>(body);
    m_layers = LayerIndex::build(m_rows->bytes());
    m_points = Moves::Checkpoints::build(m_rows->bytes(), 1.75, 4);
    QCOMPARE(m_layers.layers().size(), std::size_t(3));
}

void TestLayerView::init()
{
    load(1);
    m_view = std::make_unique<LayerView>();
    m_view->resize(524, 524); // 10 pixels a millimetre: (524 - 2 * 12) / 50
}

QImage TestLayerView::draw(int row)
{
    m_view->setSource([this, row] {
        LayerView::Frame frame;
        frame.rows = m_rows.get();
        frame.layers = &m_layers;
        frame.checkpoints = &m_points;
        frame.extent = kExtent;
        frame.revision = 1;
        frame.row = row;
        return frame;
    });
    QImage image(m_view->size(), QImage::Format_RGB32);
    QPainter painter(&image);
    m_view->render(painter, image.rect());
    return image;
}

void TestLayerView::squareDrawnWhereItIsAndNowhereElse_data()
{
    QTest::addColumn<int>("pieces");
    QTest::newRow("one move a side") << 1;
    QTest::newRow("1500 moves a side, as many as a dense layer has") << 1500;
}

void TestLayerView::squareDrawnWhereItIsAndNowhereElse()
{
    QFETCH(int, pieces);
    load(pieces);
    const QImage image = draw(secondSideRow(pieces));
    const QColor tool = LayerView::toolColour(1);
    // The four sides of the square, in the middle of each.
    for (const auto& [x, y] : {std::pair{35.0, 30.0}, {40.0, 35.0}, {35.0, 40.0}, {30.0, 35.0}})
        QVERIFY2(near(image.pixelColor(at(x, y)), tool),
                 qPrintable(QStringLiteral("side at %1 %2").arg(x).arg(y)));
    QCOMPARE(image.pixelColor(at(35, 35)), QColor(Qt::white));
    // The tool's colour nowhere but within the line's half width (2.5 pixels) and a pixel of its
    // edge around the square's sides, or under the nozzle.
    const QPoint corner00 = at(30, 30), corner11 = at(40, 40);
    const QRect outer = QRect(corner00, corner11).normalized().adjusted(-4, -4, 4, 4);
    const QRect inner = QRect(corner00, corner11).normalized().adjusted(4, 4, -4, -4);
    int stray = 0;
    for (int y = 30; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (near(image.pixelColor(x, y), tool) && (!outer.contains(x, y) || inner.contains(x, y)))
                ++stray;
        }
    }
    QCOMPARE(stray, 0);
    // The layer below in light grey, on each side of its square.
    for (const auto& [x, y] : {std::pair{15.0, 10.0}, {20.0, 15.0}, {15.0, 20.0}, {10.0, 15.0}})
        QCOMPARE(image.pixelColor(at(x, y)), LayerView::belowColour());
    // The nozzle, before the row that draws the second side: at the end of the first.
    QVERIFY(m_view->nozzle());
    QCOMPARE(m_view->nozzle()->toPoint(), at(40, 30));
    QCOMPARE(image.pixelColor(at(40, 30)), QColor(200, 0, 0));

    // At the layer's change row the nozzle is where the layer below ended.
    draw(kLayer2Row);
    QCOMPARE(m_view->nozzle()->toPoint(), at(10, 10));
}

void TestLayerView::travelCanBeHidden()
{
    // The travel from 10,10 to 30,30 passes 20,20 at... 25,25, away from both squares.
    QImage image = draw(secondSideRow(1));
    const QPoint middle = at(25, 25);
    bool dotted = false;
    for (int dx = -6; dx <= 6; ++dx)
        dotted = dotted || image.pixelColor(middle + QPoint(dx, -dx)) != QColor(Qt::white) ||
                 image.pixelColor(middle + QPoint(dx, dx)) != QColor(Qt::white);
    QVERIFY(dotted);
    m_view->setTravelShown(false);
    image = draw(secondSideRow(1));
    for (int dy = -6; dy <= 6; ++dy) {
        for (int dx = -6; dx <= 6; ++dx)
            QCOMPARE(image.pixelColor(middle + QPoint(dx, dy)), QColor(Qt::white));
    }
}

void TestLayerView::arcDrawnAsAnArc()
{
    const QImage image = draw(layer3Row(1) + 3);
    const QColor tool = LayerView::toolColour(0);
    QVERIFY(near(image.pixelColor(at(15, 45)), tool));  // the top of the half circle
    QVERIFY(!near(image.pixelColor(at(15, 35)), tool)); // not the bottom
    QVERIFY(!near(image.pixelColor(at(15, 40)), tool)); // nor the chord
}

// A drop of a file with two hollows: the message area names the layers that close them, a click
// on a name selects that layer's change row, and F3 opens the view on it, the outline drawn.
void TestLayerView::windowNamesTheHollowsAndShowsTheirLayers()
{
    GeneratedPrints::Box box;
    box.layers = 40;
    box.holes = {{14, 14, 22, 22, 3, 9}, {27, 27, 36, 35, 6, 29}}; // roofs at layers 11 and 31
    GeneratedPrints::Writer writer(box);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("box.gcode"));
    QVERIFY(GuiTest::writeFile(path, writer.file()));

    TEditorForBorvane5_Form1 window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(GuiTest::dropFile(&window, path));
    const QString expected = QStringLiteral(
        "Hollows close at layer 11 (Z 2.200) and layer 31 (Z 6.200): a pause there lets you fill them.");
    QTRY_VERIFY2(GuiTest::withoutTime(window.memoMessage->toPlainText()).contains(expected),
                 qPrintable(GuiTest::withoutTime(window.memoMessage->toPlainText())));

    // A click on "layer 31" selects the change row of that layer.
    QPlainTextEdit* message = window.memoMessage;
    QTextBlock block = message->document()->begin();
    while (block.isValid() && block.text() != expected)
        block = block.next();
    QVERIFY(block.isValid());
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + int(expected.indexOf(QStringLiteral("layer 31"))) + 3);
    QTest::mouseClick(message->viewport(), Qt::LeftButton, {}, message->cursorRect(cursor).center());
    QCOMPARE(window.CurrentRow, writer.layerRows()[30]);
    QCOMPARE(window.Memo1->CaretRow(), writer.layerRows()[30]);

    // F3 opens the view right of the ruler, on the selected layer, the hollow's outline drawn.
    auto* view = window.findChild<LayerView*>(QStringLiteral("LayerView"));
    QVERIFY(view && !view->isVisible());
    QTest::keyClick(&window, Qt::Key_F3);
    QVERIFY(view->isVisible());
    auto* ruler = window.findChild<LayerRuler*>();
    QVERIFY(view->geometry().left() >= ruler->geometry().right());
    QImage image(view->size(), QImage::Format_RGB32);
    QPainter painter(&image);
    view->render(painter, image.rect());
    // The opening's wall runs along x 27 - 0.225 from y 27 to 35: the outline is there.
    const QPoint onOutline = view->toWidget(QPointF(27 - 0.225, 31)).toPoint();
    bool outlined = false;
    for (int dy = -12; dy <= 12; ++dy) { // the line is dashed
        for (int dx = -2; dx <= 2; ++dx)
            outlined = outlined || near(image.pixelColor(onOutline + QPoint(dx, dy)), QColor(220, 0, 120));
    }
    QVERIFY(outlined);
    QTest::keyClick(&window, Qt::Key_F3);
    QVERIFY(!view->isVisible());
}

QTEST_MAIN(TestLayerView)
#include "tst_layerview.moc"
