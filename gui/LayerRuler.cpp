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

constexpr int kPartGap = 8; // pixels between the stretches of two parts

// The gap above the top layer of [first, end): the one below it, or a common layer height for a
// single layer.
double topGap(const LayerSpan& layers, std::size_t first, std::size_t end)
{
    return end - first >= 2 && layers[end - 1].z() > layers[end - 2].z() ? layers[end - 1].z() - layers[end - 2].z()
                                                                         : 0.2;
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

std::vector<LayerRuler::Stretch> LayerRuler::stretches(const View& v) const
{
    const LayerSpan& layers = v.layers;
    if (layers.empty() || height() <= 2 * kEnd)
        return {};
    std::vector<std::size_t> begins = v.partBegins;
    if (begins.empty() || begins.front() != 0)
        begins.insert(begins.begin(), 0);
    std::vector<Stretch> all;
    double total = 0.0;
    for (std::size_t p = 0; p < begins.size(); ++p) {
        const std::size_t end = p + 1 < begins.size() ? begins[p + 1] : layers.size();
        if (begins[p] >= end || end > layers.size())
            return {};
        Stretch stretch{begins[p], end, {}};
        stretch.scale.bottom = layers[begins[p]].z();
        stretch.scale.top = layers[end - 1].z() + topGap(layers, begins[p], end);
        total += std::max(stretch.scale.top - stretch.scale.bottom, 1e-6);
        all.push_back(stretch);
    }
    // Each part as tall as its heights, on what the gaps between them leave.
    const double room = double(height() - 2 * kEnd - kPartGap * int(all.size() - 1));
    double y = height() - kEnd;
    for (Stretch& stretch : all) {
        const double share = std::max(stretch.scale.top - stretch.scale.bottom, 1e-6) / total * std::max(room, 1.0);
        stretch.scale.y0 = int(std::lround(y));
        stretch.scale.y1 = int(std::lround(y - share));
        y -= share + kPartGap;
    }
    return all;
}

const LayerRuler::Stretch* LayerRuler::stretchOf(const std::vector<Stretch>& all, std::size_t layer)
{
    for (const Stretch& stretch : all) {
        if (layer >= stretch.first && layer < stretch.end)
            return &stretch;
    }
    return nullptr;
}

double LayerRuler::upperOf(const LayerSpan& layers, const Stretch& stretch, std::size_t layer)
{
    return layer + 1 < stretch.end ? layers[layer + 1].z()
                                   : layers[layer].z() + topGap(layers, stretch.first, stretch.end);
}

QRect LayerRuler::bandOf(std::size_t layer) const
{
    const View v = view();
    const std::vector<Stretch> all = stretches(v);
    const Stretch* stretch = stretchOf(all, layer);
    if (!stretch)
        return {};
    const LayerSpan& layers = v.layers;
    const int bottom = int(std::floor(stretch->scale.yOf(layers[layer].z())));
    const int top = int(std::ceil(stretch->scale.yOf(upperOf(layers, *stretch, layer))));
    return QRect(QPoint(0, std::min(top, bottom)), QPoint(width() - 1, std::max(top, bottom)));
}

double LayerRuler::heightAt(int y) const
{
    const View v = view();
    const std::vector<Stretch> all = stretches(v);
    if (all.empty())
        return 0.0;
    for (const Stretch& stretch : all) {
        if (y + 0.5 >= stretch.scale.y1 - kPartGap / 2.0)
            return stretch.scale.zOf(y + 0.5);
    }
    return all.back().scale.zOf(y + 0.5);
}

std::optional<std::size_t> LayerRuler::layerAt(int y) const
{
    const View v = view();
    return layerAt(v, stretches(v), y);
}

std::optional<std::size_t> LayerRuler::layerAt(const View& v, const std::vector<Stretch>& all, int y) const
{
    if (all.empty())
        return std::nullopt;
    // The part whose stretch holds y, a gap counted half to the part on either side of it.
    const Stretch* stretch = &all.back();
    for (const Stretch& s : all) {
        if (y + 0.5 >= s.scale.y1 - kPartGap / 2.0) {
            stretch = &s;
            break;
        }
    }
    const double h = stretch->scale.zOf(y + 0.5);
    // The last layer of the part below h, as a height search takes it; its bottom layer at or
    // below it.
    const LayerSpan& layers = v.layers;
    std::size_t above = stretch->first, count = stretch->end - stretch->first;
    while (count > 0) { // heights rise within a part
        const std::size_t half = count / 2;
        if (layers[above + half].z() < h)
            above += half + 1, count -= half + 1;
        else
            count = half;
    }
    return above == stretch->first ? stretch->first : above - 1;
}

double LayerRuler::heightInBand(std::size_t layer) const
{
    const View v = view();
    if (layer >= v.layers.size())
        return 0.0;
    const std::vector<Stretch> all = stretches(v);
    const Stretch* stretch = stretchOf(all, layer);
    if (!stretch)
        return 0.0;
    return (v.layers[layer].z() + upperOf(v.layers, *stretch, layer)) / 2;
}

void LayerRuler::choose(std::optional<std::size_t> layer)
{
    if (!layer)
        return;
    m_lastChosen = layer;
    if (view().partBegins.size() > 1)
        emit layerChosen(*layer);
    else
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
    // In a file of several parts, the part and the layer within it, as the margin counts them.
    QString name = QStringLiteral("Layer %1").arg(*layer + 1);
    if (v.partBegins.size() > 1) {
        const auto part = std::upper_bound(v.partBegins.begin(), v.partBegins.end(), *layer) - 1;
        name = QStringLiteral("Part %1 \u00B7 layer %2")
                   .arg(part - v.partBegins.begin() + 1)
                   .arg(*layer - *part + 1);
    }
    QToolTip::showText(help->globalPos(),
                       QStringLiteral("%1\nZ %2\nRow %3").arg(name, Utility::FormatFixed(l.z(), 3)).arg(l.row) +
                           (v.more ? v.more(*layer) : QString()),
                       this, bandOf(*layer));
    return true;
}

void LayerRuler::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const View v = view();
    const std::vector<Stretch> all = stretches(v);
    if (all.empty())
        return;
    const LayerSpan& layers = v.layers;
    // Where layer's height stands on the track, in its part's stretch.
    const auto yOfLayer = [&](std::size_t layer) {
        const Stretch* stretch = stretchOf(all, layer);
        return stretch ? stretch->scale.yOf(layers[layer].z()) : 0.0;
    };

    for (const Stretch& stretch : all) {
        const Scale& s = stretch.scale;
        painter.fillRect(QRect(kTickLeft - 2, s.y1, width() - kTickLeft + 2, s.y0 - s.y1), kTrack);

        // Ticks: the layer under every few pixels, found by height, so the cost follows the
        // ruler's height and not the number of layers.
        painter.setPen(kTick);
        std::optional<std::size_t> lastTick;
        for (int y = s.y0; y >= s.y1; y -= kMinTickGap) {
            const std::optional<std::size_t> layer = layerAt(v, all, y);
            if (!layer || layer == lastTick)
                continue;
            lastTick = layer;
            const int ty = int(std::lround(s.yOf(layers[*layer].z())));
            painter.drawLine(kTickLeft + 4, ty, kTickRight, ty);
        }

        // Height labels at round steps.
        const double pixelsPerUnit = (s.y0 - s.y1) / std::max(s.top - s.bottom, 1e-9);
        const double step = labelStep(pixelsPerUnit, kMinLabelGap);
        painter.setPen(kLabel);
        for (double z = std::ceil(s.bottom / step) * step; z <= s.top; z += step) {
            const int y = int(std::lround(s.yOf(z)));
            painter.drawLine(kTickLeft - 2, y, kTickRight, y);
            painter.drawText(QRect(0, y - 7, kLabelRight, 14), Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(z, 'g', 6));
        }
    }
    // Each part's number at the top of its stretch, when there are several.
    if (all.size() > 1) {
        painter.setPen(kLabel);
        QFont bold = font();
        bold.setBold(true);
        painter.setFont(bold);
        for (std::size_t p = 0; p < all.size(); ++p)
            painter.drawText(QRect(kMarkLeft, all[p].scale.y1 - kPartGap, width() - kMarkLeft, kPartGap + 4),
                             Qt::AlignLeft | Qt::AlignVCenter, QString::number(p + 1));
        painter.setFont(font());
    }

    // The print start: a green line with a flag.
    if (v.start && *v.start < layers.size()) {
        const int y = int(std::lround(yOfLayer(*v.start)));
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
            const double y = yOfLayer(mark.layer);
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
            const double y = yOfLayer(layer);
            painter.drawPolyline(
                QPolygonF({QPointF(kTickLeft - 1, y + 1), QPointF((kTickLeft + kTickRight) / 2.0, y - 5),
                           QPointF(kTickRight + 1, y + 1)}));
            painter.drawLine(QPointF(kTickLeft - 1, y + 1), QPointF(kTickRight + 1, y + 1));
        }
    }

    // The selected row's layer: its band and a pointer.
    if (v.selected && *v.selected < layers.size()) {
        const QRect band = bandOf(*v.selected);
        const int y = int(std::lround(yOfLayer(*v.selected)));
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
