#pragma once

// The selected row's layer seen from above: its extrusion as lines of their width, one colour per
// tool, the layer below in light grey, travel as thin dotted lines (which can be hidden), the
// nozzle where a pause at the selected row stops it, and the outline of each hollow that closes
// at this layer or the next. It fits the model (a prime line beside it may lie outside); the wheel zooms around the pointer and a
// drag pans. The moves are read from the text's bytes where they lie, a layer at a time.

#include "core/layers/HollowFinder.h"
#include "core/layers/LayerIndex.h"
#include "core/layers/MoveReader.h"
#include "core/text/RowSource.h"

#include <QPointF>
#include <QRectF>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class LayerView : public QWidget
{
    Q_OBJECT

public:
    // What the view shows, asked for at each paint; everything must live until the next ask.
    struct Frame
    {
        const RowSource* rows = nullptr;
        const LayerIndex* layers = nullptr;
        const Moves::Checkpoints* checkpoints = nullptr;
        double filamentDiameter = Moves::kDefaultFilamentDiameter;
        QRectF extent;        // the model's extrusion, in mm: what the view fits
        quint64 file = 0;     // changes with each file opened: the view fits its model again
        quint64 revision = 0; // changes whenever the text may have
        int row = 0;          // the selected row
        const std::vector<Hollow>* hollows = nullptr;
    };
    using Source = std::function<Frame()>;

    explicit LayerView(QWidget* parent = nullptr);

    void setSource(Source source);
    void setTravelShown(bool shown);
    bool travelShown() const { return m_travelShown; }

    // Where a point of the bed (mm) is drawn, in the widget's pixels.
    QPointF toWidget(QPointF bed) const;
    // The nozzle's place at the selected row as last drawn; none before a layer was drawn.
    std::optional<QPointF> nozzle() const { return m_nozzle; }
    // The moves of the selected layer (on a spiral vase, of its turn) as last drawn, and those drawn
    // in grey below them.
    const std::vector<Moves::Move>& shownMoves() const { return m_read.moves; }
    const std::vector<Moves::Move>& shownBelow() const { return m_read.below; }
    // The part of the bed (mm) the view showed at its last paint.
    QRectF shownBed() const { return m_shownBed; }
    // Draws the view into painter over rect, as a paint does (for pictures and tests).
    void render(QPainter& painter, const QRect& rect);

    // The colour of a tool's extrusion.
    static QColor toolColour(int tool);
    static QColor belowColour();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    struct Read
    {
        quint64 revision = ~quint64(0);
        std::size_t layer = ~std::size_t(0);
        int row = -1;
        std::vector<Moves::Move> moves, below;
        std::optional<QPointF> nozzle;
    };
    void readLayer(const Frame& frame, std::size_t layer);
    // A spiral vase, whose every move rises and so is a layer of its own: a layer of a row or few,
    // rising less than kSpiralRise to the next.
    static bool isSpiralLayer(const LayerIndex& layers, std::size_t layer);
    // The turn the selected row lies on: the extrusion half a turn around the model's centre before
    // the row's move and half a turn after it, the turn before that below it.
    void readTurn(const Frame& frame, std::size_t layer);
    // Hands each move of rows first to last (exclusive) to sink; the nozzle's place at the
    // selected row into m_read.
    void readRows(const Frame& frame, int first, int last, const std::function<void(const Moves::Move&)>& sink);
    void drawMoves(QPainter& painter, const QRect& area, const std::vector<Moves::Move>& moves, bool below,
                   double scale) const;
    // Paints colour into target on every pixel within radius of a pixel drawn in mask.
    static void paintWidened(const std::vector<std::uint8_t>& mask, int radius, QColor colour,
                             QImage& target);
    // Marks the pixels a line passes in a mask of the area's pixels, a byte each.
    static void plotLine(std::vector<std::uint8_t>& mask, const QRect& area, const QLineF& line);
    void fit(const QRectF& extent, const QRect& area);

    Source m_source;
    Read m_read;
    bool m_travelShown = true;
    // Bed to widget: x' = m_offset.x + x * m_scale, y' = m_offset.y - y * m_scale (Y grows upward).
    double m_scale = 1.0;
    QPointF m_offset;
    // The user's zoom and pan hold while the layers of one file are stepped through; until the
    // user zooms or pans, and for another file, the view fits the model.
    bool m_userMoved = false;
    quint64 m_fittedFile = 0;
    QPoint m_dragFrom;
    QRectF m_shownBed;
    std::optional<QPointF> m_nozzle;
};
