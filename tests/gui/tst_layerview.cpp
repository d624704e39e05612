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
#include <QWheelEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSplitter>
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
    void viewBesideTheEditorKeepsItsTextReadable();
    void fitsTheModelAndKeepsTheUsersZoom();
    void spiralVaseShowsTheTurnOfTheRow();

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

// F3 opens the view behind a handle the user drags: the editor keeps 40 characters of a long row in
// view (the column Scintilla finds at its text area's right edge), at 100 % and, run again under
// QT_SCALE_FACTOR=1.25, at 125 % on a 1366 x 768 screen; the handle moves the share between them,
// never past the editor's 40 characters.
void TestLayerView::viewBesideTheEditorKeepsItsTextReadable()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.gcode"));
    const QByteArray longRow = ";" + QByteArray(99, '0');
    QVERIFY(GuiTest::writeFile(path, "header 1\nheader 2\n" + longRow + "\n" +
                                         GuiTest::joinLines(GuiTest::kStructuredBody)));
    TEditorForBorvane5_Form1 window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(GuiTest::dropFile(&window, path));
    EditBuffer* memo = window.Memo1;
    QCOMPARE(memo->rowText(0), QString::fromLatin1(longRow));
    // The last column of row 0 that the editor shows whole, counted from 0: the character at the
    // text area's right edge is cut, the one before it is the last in view.
    const auto columnsInView = [memo] {
        memo->SendScintilla(QsciScintillaBase::SCI_SETFIRSTVISIBLELINE, 0L);
        memo->SendScintilla(QsciScintillaBase::SCI_SETXOFFSET, 0L);
        const long y = memo->SendScintilla(QsciScintillaBase::SCI_POINTYFROMPOSITION, 0UL, 0L);
        const long atEdge = memo->SendScintilla(QsciScintillaBase::SCI_POSITIONFROMPOINT,
                                                (unsigned long)(memo->viewport()->width() - 1), y);
        return int(atEdge);
    };

    auto* view = window.findChild<LayerView*>(QStringLiteral("LayerView"));
    auto* split = window.findChild<QSplitter*>(QStringLiteral("splitEditor"));
    QVERIFY(view && split);
    QTest::keyClick(&window, Qt::Key_F3);
    QVERIFY(view->isVisible());
    QTRY_VERIFY(view->width() > 0);
    // Within the screen, and the editor keeps its 40 characters beside the view.
    QVERIFY(window.screen()->availableGeometry().contains(window.frameGeometry()));
    QVERIFY2(columnsInView() >= 40, qPrintable(QString::number(columnsInView())));
    QVERIFY(split->widget(1) == view);

    // The handle dragged toward the view: the view narrower by as much, the editor wider. (Where
    // the screen leaves the view no more than its least, there is nothing to give back.)
    QSplitterHandle* handle = split->handle(1);
    QTRY_VERIFY(handle->isVisible() && handle->geometry().right() < view->geometry().left());
    const auto drag = [handle](int by) {
        const QPoint from = handle->rect().center();
        const QPoint global = handle->mapToGlobal(from);
        QTest::mousePress(handle, Qt::LeftButton, {}, from);
        // Moves with the button held, as the window system sends them during a drag; the handle
        // moves under the pointer.
        for (const int step : {by / 2, by}) {
            const QPoint to = global + QPoint(step, 0);
            QMouseEvent move(QEvent::MouseMove, handle->mapFromGlobal(to), to, Qt::NoButton, Qt::LeftButton,
                             Qt::NoModifier);
            QCoreApplication::sendEvent(handle, &move);
        }
        QTest::mouseRelease(handle, Qt::LeftButton, {}, handle->mapFromGlobal(global + QPoint(by, 0)));
    };
    const int viewBefore = view->width(), editorBefore = memo->width();
    const int by = qMin(60, viewBefore - view->minimumWidth());
    if (by > 0) {
        drag(by);
        QTRY_COMPARE(view->width(), viewBefore - by);
        QCOMPARE(memo->width(), editorBefore + by);
    }
    // Dragged far the other way: the view widens until the editor has its 40 characters left, and
    // no further.
    drag(-window.width());
    QTRY_VERIFY(view->width() >= viewBefore);
    QVERIFY2(columnsInView() >= 40, qPrintable(QString::number(columnsInView())));
    // (The room of the scroll bar, which so short a file does not show, is kept all the same.)
    if (view->width() > view->minimumWidth())
        QVERIFY2(columnsInView() <= 42, qPrintable(QString::number(columnsInView())));
    // The corner's text wraps within the view, never cut at its right edge.
    QImage image(view->size(), QImage::Format_RGB32);
    QPainter painter(&image);
    view->render(painter, image.rect());
    for (int y = 0; y < 40; ++y)
        QCOMPARE(image.pixelColor(image.width() - 2, y), QColor(Qt::white));

    // Closed, the editor has the row to itself again.
    QTest::keyClick(&window, Qt::Key_F3);
    QVERIFY(!view->isVisible());
    QTRY_COMPARE(memo->width() + window.findChild<LayerRuler*>()->width(), split->width());
}

// A prime line along the bed's front edge before the model, in its first layer, as slicers' start
// code lays one: the view fits the model (its skirt, 5 mm out, included) and leaves the line
// outside. The user's zoom then holds from layer to layer of the file, and another file is fitted.
void TestLayerView::fitsTheModelAndKeepsTheUsersZoom()
{
    const QByteArray square = "G1 X110 Y100 E1\nG1 X110 Y110 E1\nG1 X100 Y110 E1\nG1 X100 Y100 E1\n";
    const QByteArray body = "G90\nM83\nG28\n"
                            "G1 Z0.2 F720\nG0 X0 Y-3\nG1 X180 Y-3 E12\n"                     // the prime line
                            "G0 X95 Y95\nG1 X115 Y95 E1\nG1 X115 Y115 E1\nG1 X95 Y115 E1\nG1 X95 Y95 E1\n" // skirt
                            "G0 X100 Y100\n" + square +
                            "G1 Z0.4\n" + square + // row 16
                            "G1 Z0.6\n" + square;  // row 21
    m_rows = std::make_unique<TextRows>(body);
    m_layers = LayerIndex::build(m_rows->bytes());
    QCOMPARE(m_layers.layers().size(), std::size_t(3));
    m_points = Moves::Checkpoints::build(m_rows->bytes(), 1.75, 4);
    // From the bytes: the skirt's corners bound the model; the prime line runs from 0 to 180 at -3.
    QCOMPARE(m_points.modelExtent(), QRectF(QPointF(95, 95), QPointF(115, 115)));
    QCOMPARE(m_points.extent(), QRectF(QPointF(0, -3), QPointF(180, 115)));

    quint64 file = 1;
    int row = 11;
    m_view->setSource([&] {
        LayerView::Frame frame;
        frame.rows = m_rows.get();
        frame.layers = &m_layers;
        frame.checkpoints = &m_points;
        frame.extent = m_points.modelExtent();
        frame.file = file;
        frame.revision = 1;
        frame.row = row;
        return frame;
    });
    QImage image(m_view->size(), QImage::Format_RGB32);
    const auto paint = [&] {
        QPainter painter(&image);
        m_view->render(painter, image.rect());
    };
    paint();
    const QRectF fitted = m_view->shownBed();
    QVERIFY(fitted.contains(QRectF(QPointF(95, 95), QPointF(115, 115))));
    QVERIFY(!fitted.contains(QPointF(0, -3)) && !fitted.contains(QPointF(180, -3)));
    // The model fills the view: 20 mm across 500 of its 524 pixels.
    QVERIFY2(fitted.width() < 22, qPrintable(QString::number(fitted.width())));

    // Zoomed in by the wheel, then the layers above chosen: the view stays where the user put it.
    const QPointF centre = m_view->rect().center();
    QWheelEvent wheel(centre, m_view->mapToGlobal(centre), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(m_view.get(), &wheel);
    paint();
    const QRectF zoomed = m_view->shownBed();
    QVERIFY(zoomed.width() < fitted.width() * 0.7);
    for (const int next : {16, 18, 21}) {
        row = next;
        paint();
        QCOMPARE(m_view->shownBed(), zoomed);
    }
    // Another file: fitted to its model again.
    ++file;
    paint();
    QCOMPARE(m_view->shownBed(), fitted);
}

// A spiral vase: a solid first layer, then a circle of radius 10 around 50,50 in moves of 10
// degrees, Z rising 0.2 mm a turn along every move, so that every move is a layer of its own. The
// view shows the turn the selected row lies on (36 moves, the row among them, all round the circle)
// and the turn before it below, not the one move of its layer.
void TestLayerView::spiralVaseShowsTheTurnOfTheRow()
{
    QByteArray body = "G90\nM83\nG28\nG1 Z0.2 F720\nG0 X40 Y40\nG1 X60 Y40 E1\nG1 X60 Y60 E1\nG1 X40 Y60 E1\n"
                      "G1 X40 Y40 E1\nG0 X60 Y50\n";
    const int firstSpiralRow = 10;
    const int turns = 8;
    for (int k = 1; k <= turns * 36; ++k) {
        const double a = k * 10.0 * M_PI / 180.0;
        body += "G1 X" + QByteArray::number(50 + 10 * std::cos(a), 'f', 3) + " Y" +
                QByteArray::number(50 + 10 * std::sin(a), 'f', 3) + " Z" + QByteArray::number(0.2 + 0.2 * k / 36, 'f', 4) +
                " E0.05\n";
    }
    m_rows = std::make_unique<TextRows>(body);
    m_layers = LayerIndex::build(m_rows->bytes());
    m_points = Moves::Checkpoints::build(m_rows->bytes(), 1.75, 64);
    QCOMPARE(m_layers.layers().size(), std::size_t(1 + turns * 36));
    const int row = firstSpiralRow + 4 * 36 + 7; // in the fifth turn
    m_view->setSource([&] {
        LayerView::Frame frame;
        frame.rows = m_rows.get();
        frame.layers = &m_layers;
        frame.checkpoints = &m_points;
        frame.extent = m_points.modelExtent();
        frame.revision = 1;
        frame.row = row;
        return frame;
    });
    QImage image(m_view->size(), QImage::Format_RGB32);
    QPainter painter(&image);
    m_view->render(painter, image.rect());
    const std::vector<Moves::Move>& turn = m_view->shownMoves();
    QVERIFY2(turn.size() >= 36 && turn.size() <= 37, qPrintable(QString::number(turn.size())));
    QVERIFY(turn.front().row <= row && turn.back().row >= row);
    for (std::size_t k = 1; k < turn.size(); ++k)
        QCOMPARE(turn[k].row, turn[k - 1].row + 1);
    QRectF around;
    for (const Moves::Move& m : turn)
        around |= QRectF(QPointF(m.x1, m.y1), QSizeF(1e-6, 1e-6));
    QVERIFY2(around.width() > 19.5 && around.height() > 19.5, qPrintable(QStringLiteral("%1 x %2").arg(around.width()).arg(around.height())));
    // The turn before, in grey, ending where the turn begins.
    const std::vector<Moves::Move>& below = m_view->shownBelow();
    QVERIFY2(below.size() >= 36 && below.size() <= 37, qPrintable(QString::number(below.size())));
    QCOMPARE(below.back().row + 1, turn.front().row);
    // The turn is drawn in the tool's colour.
    bool drawn = false;
    for (const Moves::Move& m : turn) {
        const QPoint p = m_view->toWidget(QPointF(m.x1, m.y1)).toPoint();
        drawn = drawn || near(image.pixelColor(p), LayerView::toolColour(0));
    }
    QVERIFY(drawn);
}

QTEST_MAIN(TestLayerView)
#include "tst_layerview.moc"
