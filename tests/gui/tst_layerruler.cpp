// The layer ruler on its own, drawn from a plain list of layers: where a click, a drag and the
// wheel land, and what the tooltip says.

#include "gui/LayerRuler.h"

#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>

namespace {

// Layers of uneven heights: a thick first layer, then 0.2 mm, a 0.1 mm stretch, a jump.
std::vector<Layer> unevenLayers()
{
    std::vector<Layer> layers;
    double z = 0.3;
    for (int i = 0; i < 60; ++i) {
        layers.push_back({40 + 100 * i, z});
        z += i < 20 ? 0.2 : i < 40 ? 0.1 : 0.25;
    }
    return layers;
}

// The layer a height search takes for target: the last one below it, else the first.
std::size_t lastLayerBelow(const std::vector<Layer>& layers, double target)
{
    std::size_t found = 0;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        if (layers[i].z() < target)
            found = i;
    }
    return found;
}

} // namespace

class TestLayerRuler : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void clickChoosesTheLayerUnderTheMouse();
    void dragChoosesEachLayerOnce();
    void wheelStepsLayerByLayer();
    void tooltipNamesTheLayer();
    void manyLayersAreThinned();

private:
    void setLayers(std::vector<Layer> layers);

    std::vector<Layer> m_layers; // the reference the expectations are found in
    LayerStore m_store;          // the same layers, as the ruler reads them
    std::vector<LayerRuler::Mark> m_marks;
    std::optional<std::size_t> m_selected;
    std::unique_ptr<LayerRuler> m_ruler;
};

void TestLayerRuler::init()
{
    setLayers(unevenLayers());
    m_marks = {{5, PrintEvents::Kind::Pause, false}, {30, PrintEvents::Kind::Temperature, true}};
    m_selected.reset();
    m_ruler = std::make_unique<LayerRuler>();
    m_ruler->resize(64, 640);
    m_ruler->setSource([this] { return LayerRuler::View{LayerSpan(m_store), &m_marks, m_selected, 0}; });
    m_ruler->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_ruler.get()));
}

void TestLayerRuler::setLayers(std::vector<Layer> layers)
{
    m_layers = std::move(layers);
    m_store.clear();
    for (const Layer& layer : m_layers)
        m_store.append(layer);
}

void TestLayerRuler::cleanup()
{
    m_ruler.reset();
}

void TestLayerRuler::clickChoosesTheLayerUnderTheMouse()
{
    QSignalSpy chosen(m_ruler.get(), &LayerRuler::heightChosen);
    int previousY = m_ruler->height();
    for (std::size_t layer = 0; layer < m_layers.size(); ++layer) {
        const QRect band = m_ruler->bandOf(layer);
        QVERIFY2(band.center().y() < previousY, "bands go up the ruler as the print rises");
        previousY = band.center().y();
        QTest::mouseClick(m_ruler.get(), Qt::LeftButton, {}, QPoint(50, band.center().y()));
        QCOMPARE(chosen.size(), int(layer) + 1);
        const double height = chosen.last().at(0).toDouble();
        QCOMPARE(lastLayerBelow(m_layers, height), layer);
        // The height rounded as a typed height (three decimals) still chooses the same layer.
        QCOMPARE(lastLayerBelow(m_layers, QString::number(height, 'f', 3).toDouble()), layer);
    }
    // Beyond the ends of the track: the bottom and top layers.
    QTest::mouseClick(m_ruler.get(), Qt::LeftButton, {}, QPoint(50, m_ruler->height() - 1));
    QCOMPARE(lastLayerBelow(m_layers, chosen.last().at(0).toDouble()), std::size_t(0));
    QTest::mouseClick(m_ruler.get(), Qt::LeftButton, {}, QPoint(50, 0));
    QCOMPARE(lastLayerBelow(m_layers, chosen.last().at(0).toDouble()), m_layers.size() - 1);
}

void TestLayerRuler::dragChoosesEachLayerOnce()
{
    QSignalSpy chosen(m_ruler.get(), &LayerRuler::heightChosen);
    const int from = m_ruler->bandOf(10).center().y();
    const int to = m_ruler->bandOf(14).center().y();
    QTest::mousePress(m_ruler.get(), Qt::LeftButton, {}, QPoint(50, from));
    for (int y = from; y >= to; --y) {
        QMouseEvent move(QEvent::MouseMove, QPointF(50, y), m_ruler->mapToGlobal(QPointF(50, y)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_ruler.get(), &move);
    }
    QTest::mouseRelease(m_ruler.get(), Qt::LeftButton, {}, QPoint(50, to));
    QList<std::size_t> layers;
    for (const QList<QVariant>& signal : chosen)
        layers << lastLayerBelow(m_layers, signal.at(0).toDouble());
    QCOMPARE(layers, (QList<std::size_t>{10, 11, 12, 13, 14}));
}

void TestLayerRuler::wheelStepsLayerByLayer()
{
    QSignalSpy chosen(m_ruler.get(), &LayerRuler::heightChosen);
    const auto turn = [this](int delta) {
        const QPointF at(50, 300);
        QWheelEvent wheel(at, m_ruler->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_ruler.get(), &wheel);
    };
    m_selected = 20;
    turn(120);
    QCOMPARE(lastLayerBelow(m_layers, chosen.last().at(0).toDouble()), std::size_t(21));
    turn(-240);
    QCOMPARE(lastLayerBelow(m_layers, chosen.last().at(0).toDouble()), std::size_t(18));
    turn(60); // half a notch: nothing yet
    QCOMPARE(chosen.size(), 2);
    turn(60);
    QCOMPARE(lastLayerBelow(m_layers, chosen.last().at(0).toDouble()), std::size_t(21));
    m_selected = m_layers.size() - 1;
    turn(120);
    QCOMPARE(lastLayerBelow(m_layers, chosen.last().at(0).toDouble()), m_layers.size() - 1);
}

void TestLayerRuler::tooltipNamesTheLayer()
{
    const QPoint at(50, m_ruler->bandOf(24).center().y());
    QHelpEvent help(QEvent::ToolTip, at, m_ruler->mapToGlobal(at));
    QApplication::sendEvent(m_ruler.get(), &help);
    // Layer 25 counted from 1 is index 24: 20 layers of 0.2 from 0.3, then four of 0.1.
    QCOMPARE(QToolTip::text(), QStringLiteral("Layer 25\nZ 4.700\nRow 2440"));
}

// Twenty thousand layers on 640 pixels: every layer still has a place to be chosen from its
// neighbourhood, and the picture shows the marks.
void TestLayerRuler::manyLayersAreThinned()
{
    std::vector<Layer> layers;
    for (int i = 0; i < 20000; ++i)
        layers.push_back({i * 3, 0.2 + i * 0.01});
    setLayers(std::move(layers));
    m_marks = {{10000, PrintEvents::Kind::Pause, false}};
    QSignalSpy chosen(m_ruler.get(), &LayerRuler::heightChosen);
    const int y = m_ruler->bandOf(10000).center().y();
    QTest::mouseClick(m_ruler.get(), Qt::LeftButton, {}, QPoint(50, y));
    const std::size_t layer = lastLayerBelow(m_layers, chosen.last().at(0).toDouble());
    QVERIFY2(layer >= 9950 && layer <= 10050, qPrintable(QString::number(layer)));
    const QImage picture = m_ruler->grab().toImage();
    const QColor pauseRed(200, 30, 30);
    bool red = false;
    for (int x = 0; x < picture.width(); ++x)
        red = red || picture.pixelColor(x, y) == pauseRed || picture.pixelColor(x, y - 1) == pauseRed ||
              picture.pixelColor(x, y + 1) == pauseRed;
    QVERIFY2(red, "the pause is drawn at its layer's height");
}

QTEST_MAIN(TestLayerRuler)
#include "tst_layerruler.moc"
