#include "gui/LayerView.h"

#include "core/text/Utility.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

using Moves::Move;

constexpr double kMargin = 12.0;    // pixels around the fitted extent
constexpr double kWheelZoom = 1.25; // per notch
constexpr double kArcStep = 0.5;    // mm of arc per drawn piece
// Above so many moves a layer's lines are widened from a mask, up to this half width in pixels.
constexpr std::size_t kManyMoves = 5000;
constexpr int kWidestMaskRadius = 8;

QColor travelColour()
{
    return QColor(60, 110, 200);
}

// The points an arc passes, start and end included.
std::vector<QPointF> arcPoints(const Move& m)
{
    const double r = std::hypot(m.x0 - m.cx, m.y0 - m.cy);
    const double a0 = std::atan2(m.y0 - m.cy, m.x0 - m.cx);
    double sweep = std::atan2(m.y1 - m.cy, m.x1 - m.cx) - a0;
    if (m.clockwise && sweep >= 0)
        sweep -= 2 * M_PI;
    else if (!m.clockwise && sweep <= 0)
        sweep += 2 * M_PI;
    const int pieces = std::clamp(int(std::ceil(std::abs(sweep) * r / kArcStep)), 2, 720);
    std::vector<QPointF> points;
    points.reserve(std::size_t(pieces) + 1);
    for (int k = 0; k <= pieces; ++k) {
        const double a = a0 + sweep * k / pieces;
        points.emplace_back(m.cx + r * std::cos(a), m.cy + r * std::sin(a));
    }
    return points;
}

} // namespace

LayerView::LayerView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("LayerView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
    setToolTip(QStringLiteral("The selected layer from above. Wheel: zoom; drag: pan; double-click: fit."));
}

void LayerView::setSource(Source source)
{
    m_source = std::move(source);
    update();
}

void LayerView::setTravelShown(bool shown)
{
    m_travelShown = shown;
    update();
}

QSize LayerView::sizeHint() const
{
    return {380, 380};
}

QColor LayerView::toolColour(int tool)
{
    static const QColor colours[] = {QColor(230, 120, 20), QColor(30, 140, 60),  QColor(170, 40, 170),
                                     QColor(200, 30, 40),  QColor(20, 150, 170), QColor(140, 110, 20)};
    return colours[std::size_t(tool) % std::size(colours)];
}

QColor LayerView::belowColour()
{
    return QColor(215, 215, 215);
}

QPointF LayerView::toWidget(QPointF bed) const
{
    return {m_offset.x() + bed.x() * m_scale, m_offset.y() - bed.y() * m_scale};
}

void LayerView::fit(const QRectF& extent, const QRect& area)
{
    const QRectF bed = extent.isValid() ? extent : QRectF(0, 0, 200, 200);
    const double sx = (area.width() - 2 * kMargin) / std::max(bed.width(), 1.0);
    const double sy = (area.height() - 2 * kMargin) / std::max(bed.height(), 1.0);
    m_scale = std::max(1e-3, std::min(sx, sy));
    const QPointF centre = bed.center();
    m_offset = QPointF(area.center().x() - centre.x() * m_scale, area.center().y() + centre.y() * m_scale);
    m_userMoved = false;
}

void LayerView::readRows(const Frame& frame, int first, int last, const std::function<void(const Move&)>& sink)
{
    const RowSource& rows = *frame.rows;
    const Moves::Checkpoint start = frame.checkpoints ? frame.checkpoints->before(first) : Moves::Checkpoint{};
    const std::string_view bytes = rows.bytes();
    const qsizetype from = rows.rowStart(std::min(start.row, rows.physicalRowCount() - 1));
    const qsizetype to = last < rows.physicalRowCount() ? rows.rowStart(last) : qsizetype(bytes.size());
    Moves::MoveReader reader(frame.filamentDiameter, start.state);
    // Where the nozzle is when the selected row starts: where the last move before it ended.
    QPointF before(start.state.x, start.state.y);
    reader.read(bytes.substr(std::size_t(from), std::size_t(to - from)), start.row, [&](const Move& m) {
        if (m.row < frame.row)
            before = QPointF(m.x1, m.y1);
        if (m.row >= first)
            sink(m);
    });
    m_read.nozzle = before;
}

void LayerView::readLayer(const Frame& frame, std::size_t layer)
{
    m_read = Read{};
    m_read.revision = frame.revision;
    m_read.layer = layer;
    m_read.row = frame.row;
    const LayerSpan layers = frame.layers->layers();
    const RowSource& rows = *frame.rows;
    const int first = layer > 0 ? layers[layer - 1].row : layers[layer].row;
    const int last = layer + 1 < layers.size() ? layers[layer + 1].row : rows.physicalRowCount();
    // A row holds at most one move: room for them all at once, so the list never grows by copying.
    m_read.moves.reserve(std::size_t(std::max(0, last - layers[layer].row)));
    m_read.below.reserve(std::size_t(std::max(0, layers[layer].row - first)));
    const int layerRow = layers[layer].row;
    readRows(frame, first, last, [&](const Move& m) {
        if (m.row < layerRow) {
            if (layer > 0 && m.kind == Move::Kind::Extrusion)
                m_read.below.push_back(m);
        } else {
            m_read.moves.push_back(m);
        }
    });
}

bool LayerView::isSpiralLayer(const LayerIndex& index, std::size_t layer)
{
    constexpr double kSpiralRise = 0.05; // mm; a layer of a stacked print rises more
    constexpr int kSpiralRows = 8;       // rows of a layer; blank lines and comments may lie between moves
    const LayerSpan layers = index.layers();
    const auto thin = [&](std::size_t l) {
        return l + 1 < layers.size() && layers[l + 1].z() > layers[l].z() &&
               layers[l + 1].z() - layers[l].z() < kSpiralRise && layers[l + 1].row - layers[l].row <= kSpiralRows;
    };
    return thin(layer) || (layer > 0 && thin(layer - 1) && layer + 1 == layers.size());
}

void LayerView::readTurn(const Frame& frame, std::size_t layer)
{
    constexpr std::size_t kTurnLayers = 4000; // read on either side: more moves than a turn of any vase
    m_read = Read{};
    m_read.revision = frame.revision;
    m_read.layer = layer;
    m_read.row = frame.row;
    const LayerSpan layers = frame.layers->layers();
    const std::size_t lo = layer > kTurnLayers ? layer - kTurnLayers : 0;
    const std::size_t hi = std::min(layers.size(), layer + kTurnLayers + 1);
    const int last = hi < layers.size() ? layers[hi].row : frame.rows->physicalRowCount();
    std::vector<Move> moves;
    readRows(frame, layers[lo].row, last, [&](const Move& m) {
        if (m.kind == Move::Kind::Extrusion)
            moves.push_back(m);
    });
    if (moves.empty())
        return;
    // The selected row's move: the first extrusion at or after the row.
    const auto at = std::lower_bound(moves.begin(), moves.end(), frame.row,
                                     [](const Move& m, int row) { return m.row < row; });
    const std::size_t selected = std::min(std::size_t(at - moves.begin()), moves.size() - 1);
    const QPointF centre = frame.extent.isValid() ? frame.extent.center() : QPointF();
    const auto angleOf = [&](double x, double y) { return std::atan2(y - centre.y(), x - centre.x()); };
    // The angle a move sweeps around the centre, the short way.
    const auto sweep = [&](const Move& m) {
        double d = angleOf(m.x1, m.y1) - angleOf(m.x0, m.y0);
        if (d > M_PI)
            d -= 2 * M_PI;
        else if (d < -M_PI)
            d += 2 * M_PI;
        return std::abs(d);
    };
    std::size_t begin = selected, end = selected + 1;
    for (double swept = sweep(moves[selected]) / 2; begin > 0 && swept < M_PI; swept += sweep(moves[begin]))
        --begin;
    for (double swept = sweep(moves[selected]) / 2; end < moves.size() && swept < M_PI; ++end)
        swept += sweep(moves[end]);
    std::size_t belowBegin = begin;
    for (double swept = 0; belowBegin > 0 && swept < 2 * M_PI; swept += sweep(moves[belowBegin]))
        --belowBegin;
    m_read.below.assign(moves.begin() + std::ptrdiff_t(belowBegin), moves.begin() + std::ptrdiff_t(begin));
    m_read.moves.assign(moves.begin() + std::ptrdiff_t(begin), moves.begin() + std::ptrdiff_t(end));
}

void LayerView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    render(painter, rect());
}

void LayerView::render(QPainter& painter, const QRect& area)
{
    painter.fillRect(area, Qt::white);
    const Frame frame = m_source ? m_source() : Frame{};
    if (!frame.rows || !frame.layers || frame.layers->isEmpty()) {
        painter.setPen(Qt::darkGray);
        painter.drawText(area, Qt::AlignCenter, QStringLiteral("No layers to show"));
        m_nozzle.reset();
        return;
    }
    const LayerSpan layers = frame.layers->layers();
    const std::size_t layer = frame.layers->layerAt(frame.row).value_or(0);
    if (m_read.revision != frame.revision || m_read.layer != layer || m_read.row != frame.row) {
        if (isSpiralLayer(*frame.layers, layer))
            readTurn(frame, layer);
        else
            readLayer(frame, layer);
    }
    if (!m_userMoved || m_fittedFile != frame.file)
        fit(frame.extent, area);
    m_fittedFile = frame.file;
    m_shownBed = QRectF(QPointF((area.left() - m_offset.x()) / m_scale, (m_offset.y() - area.bottom()) / m_scale),
                        QPointF((area.right() - m_offset.x()) / m_scale, (m_offset.y() - area.top()) / m_scale));

    painter.save();
    painter.setClipRect(area);
    drawMoves(painter, area, m_read.below, true, m_scale);
    drawMoves(painter, area, m_read.moves, false, m_scale);

    // Hollows closing at this layer or the next: the opening below the roof.
    if (frame.hollows) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(QColor(220, 0, 120), 2, Qt::DashLine));
        painter.setBrush(QColor(220, 0, 120, 40));
        for (const Hollow& hollow : *frame.hollows) {
            if (hollow.layer != layer && hollow.layer != layer + 1)
                continue;
            QPolygonF outline;
            for (const Hollow::Point& p : hollow.outline)
                outline << toWidget(QPointF(p.x, p.y));
            painter.drawPolygon(outline);
        }
    }

    m_nozzle.reset();
    if (m_read.nozzle) {
        const QPointF at = toWidget(*m_read.nozzle);
        m_nozzle = at;
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(QColor(200, 0, 0));
        painter.drawEllipse(at, 5.0, 5.0);
    }
    painter.restore();

    // In a file of several parts, the layer counted within its part.
    const LayerIndex& index = *frame.layers;
    const std::size_t part = index.partCount() > 1 ? index.partOf(layer) : 0;
    const QString corner =
        (index.partCount() > 1 ? QStringLiteral("Part %1 of %2, layer %3 of %4   Z %5   Row %6")
                                     .arg(part + 1)
                                     .arg(index.partCount())
                                     .arg(layer - index.partBegin(part) + 1)
                                     .arg(index.partEnd(part) - index.partBegin(part))
                               : QStringLiteral("Layer %1 of %2   Z %3   Row %4").arg(layer + 1).arg(layers.size()))
            .arg(Utility::FormatFixed(layers[layer].z(), 3))
            .arg(frame.row);
    // In a narrow view it wraps between its parts rather than running past the edge, the words of
    // a part held together where they fit on a line.
    QString held = corner;
    for (qsizetype k = 1; k + 1 < held.size(); ++k) {
        if (held[k] == u' ' && held[k + 1] != u' ' && held[k - 1] != u' ' && held[k - 1] != u',')
            held[k] = QChar(0x00A0);
    }
    const QRect room = area.adjusted(8, 6, -8, -6);
    const int flags = Qt::TextWordWrap | Qt::AlignLeft;
    QRect text = painter.fontMetrics().boundingRect(room, flags, held);
    if (text.width() > room.width())
        text = painter.fontMetrics().boundingRect(room, flags, held = corner);
    painter.fillRect(text.adjusted(-4, -2, 4, 2), QColor(255, 255, 255, 220));
    painter.setPen(Qt::black);
    painter.drawText(room, flags, held);
}

void LayerView::drawMoves(QPainter& painter, const QRect& area, const std::vector<Move>& moves, bool below,
                          double scale) const
{
    // Lines of one colour and about one drawn width go out together.
    std::map<std::pair<int, int>, QVector<QLineF>> batches; // (tool or -1 for travel, width in half pixels)
    std::map<std::pair<int, int>, QPainterPath> arcs;
    for (const Move& m : moves) {
        const bool travel = m.kind != Move::Kind::Extrusion;
        if (travel && (below || !m_travelShown))
            continue;
        const int tool = travel ? -1 : (below ? -2 : int(m.tool));
        const int halfPixels = travel ? 0 : std::max(1, int(std::lround(m.width * scale * 2)));
        const std::pair<int, int> key{tool, halfPixels};
        if (m.arc) {
            const std::vector<QPointF> points = arcPoints(m);
            QPainterPath& path = arcs[key];
            path.moveTo(toWidget(points.front()));
            for (std::size_t k = 1; k < points.size(); ++k)
                path.lineTo(toWidget(points[k]));
            continue;
        }
        batches[key].append(QLineF(toWidget(QPointF(m.x0, m.y0)), toWidget(QPointF(m.x1, m.y1))));
    }
    const auto colourOf = [](int tool) { return tool == -2 ? belowColour() : toolColour(tool); };
    const auto penFor = [&](const std::pair<int, int>& key) {
        if (key.first == -1) {
            QPen pen(travelColour(), 1, Qt::DotLine);
            pen.setCosmetic(true);
            return pen;
        }
        return QPen(colourOf(key.first), key.second / 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    };
    painter.setBrush(Qt::NoBrush);
    if (moves.size() > kManyMoves) {
        // Wide lines cost the stroker several microseconds each: many of them are drawn one pixel
        // wide into a mask that is then widened to their width, as a round brush would.
        QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        for (auto it = batches.begin(); it != batches.end();) {
            const int radius = int(std::lround(it->first.second / 4.0 - 0.5));
            if (it->first.first == -1 || radius > kWidestMaskRadius) {
                ++it;
                continue;
            }
            std::vector<std::uint8_t> mask(std::size_t(area.width()) * std::size_t(area.height()));
            for (const QLineF& line : it->second)
                plotLine(mask, area, line);
            paintWidened(mask, radius, colourOf(it->first.first), layer);
            it = batches.erase(it);
        }
        painter.drawImage(area.topLeft(), layer);
    }
    painter.setRenderHint(QPainter::Antialiasing, moves.size() <= kManyMoves);
    for (const auto& [key, lines] : batches) {
        painter.setPen(penFor(key));
        painter.drawLines(lines);
    }
    for (const auto& [key, path] : arcs) {
        painter.setPen(penFor(key));
        painter.drawPath(path);
    }
}

void LayerView::plotLine(std::vector<std::uint8_t>& mask, const QRect& area, const QLineF& line)
{
    // Steps of at most a pixel along the line's longer side; pixels outside the area are left.
    const double x0 = line.x1() - area.left(), y0 = line.y1() - area.top();
    const double dx = line.dx(), dy = line.dy();
    const int w = area.width(), h = area.height();
    if ((x0 < 0 && x0 + dx < 0) || (y0 < 0 && y0 + dy < 0) || (x0 >= w && x0 + dx >= w) ||
        (y0 >= h && y0 + dy >= h))
        return;
    const int steps = std::min(100000, int(std::ceil(std::max(std::abs(dx), std::abs(dy)))));
    for (int k = 0; k <= steps; ++k) {
        const double t = steps > 0 ? double(k) / steps : 0.0;
        const int x = int(std::floor(x0 + dx * t)), y = int(std::floor(y0 + dy * t));
        if (x >= 0 && y >= 0 && x < w && y < h)
            mask[std::size_t(y) * std::size_t(w) + std::size_t(x)] = 1;
    }
}

void LayerView::paintWidened(const std::vector<std::uint8_t>& mask, int radius, QColor colour, QImage& target)
{
    // Each pixel within radius of a drawn pixel takes the colour: per row, a running count of
    // drawn pixels tells whether any lies within a given distance along the row.
    const int w = target.width(), h = target.height();
    std::vector<int> counts(std::size_t(w + 1) * std::size_t(h));
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = &mask[std::size_t(y) * std::size_t(w)];
        int* c = &counts[std::size_t(y) * std::size_t(w + 1)];
        c[0] = 0;
        for (int x = 0; x < w; ++x)
            c[x + 1] = c[x] + row[x];
    }
    std::vector<int> reach(std::size_t(radius) + 1); // along the row, at each distance across it
    for (int dy = 0; dy <= radius; ++dy)
        reach[std::size_t(dy)] = int(std::floor(std::sqrt(double(radius * radius - dy * dy)) + 0.5));
    const QRgb pixel = colour.rgba();
    for (int y = 0; y < h; ++y) {
        auto* out = reinterpret_cast<QRgb*>(target.scanLine(y));
        const int y0 = std::max(0, y - radius), y1 = std::min(h - 1, y + radius);
        // Rows with nothing drawn near are passed over whole.
        bool any = false;
        for (int yy = y0; yy <= y1 && !any; ++yy)
            any = counts[std::size_t(yy) * std::size_t(w + 1) + std::size_t(w)] != 0;
        if (!any)
            continue;
        for (int x = 0; x < w; ++x) {
            for (int yy = y0; yy <= y1; ++yy) {
                const int k = reach[std::size_t(std::abs(yy - y))];
                const int* c = &counts[std::size_t(yy) * std::size_t(w + 1)];
                if (c[std::min(w, x + k + 1)] - c[std::max(0, x - k)] != 0) {
                    out[x] = pixel;
                    break;
                }
            }
        }
    }
}

void LayerView::wheelEvent(QWheelEvent* event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0)
        return;
    const double factor = std::pow(kWheelZoom, notches);
    const QPointF at = event->position();
    // The bed point under the pointer stays under it.
    m_offset = at - (at - m_offset) * factor;
    m_scale *= factor;
    m_userMoved = true;
    update();
}

void LayerView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_dragFrom = event->position().toPoint();
}

void LayerView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint now = event->position().toPoint();
    m_offset += now - m_dragFrom;
    m_dragFrom = now;
    m_userMoved = true;
    update();
}

void LayerView::mouseDoubleClickEvent(QMouseEvent*)
{
    m_userMoved = false;
    update();
}
