#include "gui/LayerRuler.h"

#include "core/text/Utility.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kWidth = 64;
constexpr int kEnd = 10;      // pixels kept free above and below the track
constexpr int kTickLeft = 36; // ticks from here to kTickRight
constexpr int kTickRight = 46;
constexpr int kMarkLeft = 48;  // marks from here to the right edge
constexpr int kMinTickGap = 3; // thinning: at most one tick in so many pixels
constexpr int kMinLabelGap = 36;
constexpr int kLabelRight = 25; // height labels end here, left of the selected layer's pointer

const QColor kTrack(235, 238, 242);
const QColor kTick(120, 130, 140);
const QColor kLabel(60, 60, 60);
const QColor kSelected(30, 70, 200);
const QColor kStart(20, 140, 50);
const QColor kHollow(220, 0, 120);

QColor markColour(const LayerRuler::Mark& mark)
{
    switch (mark.kind) {
    case PrintEvents::Kind::Pause:
        return QColor(200, 30, 30);
    case PrintEvents::Kind::Temperature:
        return QColor(230, 120, 0);
    case PrintEvents::Kind::ToolChange:
        return QColor(40, 110, 200);
    case PrintEvents::Kind::None:
        break;
    }
    return QColor(40, 160, 60);
}

// The gap above the top layer: the one below it, or a common layer height for a single layer.
double topGap(const LayerSpan& layers)
{
    const std::size_t n = layers.size();
    return n >= 2 && layers[n - 1].z() > layers[n - 2].z() ? layers[n - 1].z() - layers[n - 2].z() : 0.2;
}

// A round step of heights that leaves at least minGap pixels between labels.
double labelStep(double pixelsPerUnit, int minGap)
{
    const double least = minGap / std::max(pixelsPerUnit, 1e-9);
    double step = std::pow(10.0, std::floor(std::log10(least)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (step * factor >= least)
            return step * factor;
    }
    return step * 10.0;
}

} // namespace

double LayerRuler::Scale::yOf(double z) const
{
    return top > bottom ? y0 + (z - bottom) / (top - bottom) * (y1 - y0) : y0;
}

double LayerRuler::Scale::zOf(double y) const
{
    return y1 != y0 ? bottom + (y - y0) / double(y1 - y0) * (top - bottom) : bottom;
}

LayerRuler::LayerRuler(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("layerRuler"));
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    QFont small = font();
    small.setPixelSize(10);
    setFont(small);
}

QSize LayerRuler::sizeHint() const
{
    return {kWidth, 200};
}

void LayerRuler::setSource(Source source)
{
    m_source = std::move(source);
    update();
}

LayerRuler::View LayerRuler::view() const
{
    return m_source ? m_source() : View{};
}

std::optional<LayerRuler::Scale> LayerRuler::scale(const LayerSpan& layers) const
{
    if (layers.empty() || height() <= 2 * kEnd)
        return std::nullopt;
    return Scale{layers.front().z(), layers.back().z() + topGap(layers), height() - kEnd, kEnd};
}

QRect LayerRuler::bandOf(std::size_t layer) const
{
    const View v = view();
    if (layer >= v.layers.size())
        return {};
    const std::optional<Scale> s = scale(v.layers);
    if (!s)
        return {};
    const LayerSpan& layers = v.layers;
    const double upper =
        layer + 1 < layers.size() ? layers[layer + 1].z() : layers[layer].z() + topGap(layers);
    const int bottom = int(std::floor(s->yOf(layers[layer].z())));
    const int top = int(std::ceil(s->yOf(upper)));
    return QRect(QPoint(0, std::min(top, bottom)), QPoint(width() - 1, std::max(top, bottom)));
}

double LayerRuler::heightAt(int y) const
{
    const View v = view();
    const std::optional<Scale> s = scale(v.layers);
    return s ? s->zOf(y + 0.5) : 0.0;
}

std::optional<std::size_t> LayerRuler::layerAt(int y) const
{
    const View v = view();
    if (v.layers.empty())
        return std::nullopt;
    const LayerSpan& layers = v.layers;
    const double h = heightAt(y);
    // The last layer below h, as a height search takes it; the bottom layer at or below it.
    const std::size_t above = layers.partitionPoint([h](const Layer& layer) { return layer.z() < h; });
    return above == 0 ? 0 : above - 1;
}

double LayerRuler::heightInBand(std::size_t layer) const
{
    const View v = view();
    if (layer >= v.layers.size())
        return 0.0;
    const LayerSpan& layers = v.layers;
    const double upper =
        layer + 1 < layers.size() ? layers[layer + 1].z() : layers[layer].z() + topGap(layers);
    return (layers[layer].z() + upper) / 2;
}

void LayerRuler::choose(std::optional<std::size_t> layer)
{
    if (!layer)
        return;
    m_lastChosen = layer;
    emit heightChosen(heightInBand(*layer));
}

void LayerRuler::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    choose(layerAt(int(event->position().y())));
}

void LayerRuler::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return QWidget::mouseMoveEvent(event);
    const std::optional<std::size_t> layer = layerAt(int(event->position().y()));
    if (layer != m_lastChosen)
        choose(layer);
}

void LayerRuler::wheelEvent(QWheelEvent* event)
{
    const View v = view();
    if (v.layers.empty())
        return QWidget::wheelEvent(event);
    // One layer per notch (120 units), up the print for a wheel turned away from the user.
    m_wheelRemainder += event->angleDelta().y();
    const int steps = m_wheelRemainder / 120;
    m_wheelRemainder -= steps * 120;
    event->accept();
    if (steps == 0)
        return;
    const long last = long(v.layers.size()) - 1;
    const long from = v.selected ? long(*v.selected) : (steps > 0 ? -1 : last + 1);
    choose(std::size_t(std::clamp(from + steps, 0L, last)));
}

bool LayerRuler::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const View v = view();
    const std::optional<std::size_t> layer = layerAt(help->pos().y());
    if (!layer) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    const Layer l = v.layers[*layer];
    QToolTip::showText(help->globalPos(),
                       QStringLiteral("Layer %1\nZ %2\nRow %3")
                               .arg(*layer + 1)
                               .arg(Utility::FormatFixed(l.z(), 3))
                               .arg(l.row) +
                           (v.more ? v.more(*layer) : QString()),
                       this, bandOf(*layer));
    return true;
}

void LayerRuler::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const View v = view();
    const std::optional<Scale> s = scale(v.layers);
    if (!s)
        return;
    const LayerSpan& layers = v.layers;
    painter.fillRect(QRect(kTickLeft - 2, kEnd, width() - kTickLeft + 2, height() - 2 * kEnd), kTrack);

    // Ticks: the layer under every few pixels, found by height, so the cost follows the
    // ruler's height and not the number of layers.
    painter.setPen(kTick);
    std::optional<std::size_t> lastTick;
    for (int y = s->y0; y >= s->y1; y -= kMinTickGap) {
        const std::optional<std::size_t> layer = layerAt(y);
        if (!layer || layer == lastTick)
            continue;
        lastTick = layer;
        const int ty = int(std::lround(s->yOf(layers[*layer].z())));
        painter.drawLine(kTickLeft + 4, ty, kTickRight, ty);
    }

    // Height labels at round steps.
    const double pixelsPerUnit = (s->y0 - s->y1) / std::max(s->top - s->bottom, 1e-9);
    const double step = labelStep(pixelsPerUnit, kMinLabelGap);
    painter.setPen(kLabel);
    for (double z = std::ceil(s->bottom / step) * step; z <= s->top; z += step) {
        const int y = int(std::lround(s->yOf(z)));
        painter.drawLine(kTickLeft - 2, y, kTickRight, y);
        painter.drawText(QRect(0, y - 7, kLabelRight, 14), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(z, 'g', 6));
    }

    // The print start: a green line with a flag.
    if (v.start && *v.start < layers.size()) {
        const int y = int(std::lround(s->yOf(layers[*v.start].z())));
        painter.setPen(QPen(kStart, 2));
        painter.drawLine(kTickLeft - 2, y, width(), y);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kStart);
        painter.drawPolygon(QPolygon({QPoint(0, y - 5), QPoint(8, y), QPoint(0, y + 5)}));
    }

    // Marks at their layers' heights, one per pixel row and kind.
    painter.setRenderHint(QPainter::Antialiasing);
    if (v.marks) {
        for (const Mark& mark : *v.marks) {
            if (mark.layer >= layers.size())
                continue;
            const double y = s->yOf(layers[mark.layer].z());
            painter.setPen(Qt::NoPen);
            painter.setBrush(markColour(mark));
            if (mark.inserted)
                painter.drawRect(QRectF(kMarkLeft - 2, y - 2, 3, 4));
            if (mark.kind == PrintEvents::Kind::None)
                continue;
            // A pause also crosses the track, where it is seen from afar.
            if (mark.kind == PrintEvents::Kind::Pause) {
                painter.setPen(QPen(markColour(mark), 1.5));
                painter.drawLine(QPointF(kTickLeft - 2, y), QPointF(kMarkLeft, y));
                painter.setPen(Qt::NoPen);
            }
            painter.drawEllipse(QPointF(kMarkLeft + 3 + 5 * (int(mark.kind) - 1), y), 3, 3);
        }
    }

    // A layer that closes a hollow: a roof over the track, in the colour the layer view outlines
    // hollows with.
    if (v.hollows) {
        painter.setPen(QPen(kHollow, 1.5));
        painter.setBrush(Qt::NoBrush);
        for (const std::size_t layer : *v.hollows) {
            if (layer >= layers.size())
                continue;
            const double y = s->yOf(layers[layer].z());
            painter.drawPolyline(
                QPolygonF({QPointF(kTickLeft - 1, y + 1), QPointF((kTickLeft + kTickRight) / 2.0, y - 5),
                           QPointF(kTickRight + 1, y + 1)}));
            painter.drawLine(QPointF(kTickLeft - 1, y + 1), QPointF(kTickRight + 1, y + 1));
        }
    }

    // The selected row's layer: its band and a pointer.
    if (v.selected && *v.selected < layers.size()) {
        const QRect band = bandOf(*v.selected);
        const int y = int(std::lround(s->yOf(layers[*v.selected].z())));
        painter.setPen(Qt::NoPen);
        QColor fill = kSelected;
        fill.setAlpha(60);
        painter.setBrush(fill);
        painter.drawRect(
            QRect(kTickLeft - 2, band.top(), width() - kTickLeft + 2, std::max(band.height(), 2)));
        painter.setBrush(kSelected);
        painter.drawPolygon(QPolygon(
            {QPoint(kTickLeft - 10, y - 5), QPoint(kTickLeft - 2, y), QPoint(kTickLeft - 10, y + 5)}));
    }
}
