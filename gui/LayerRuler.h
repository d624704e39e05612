#pragma once

// The print drawn from bottom to top beside the editor: a tick per layer (thinned to what
// fits), marks at the layers that pause, set a temperature, change tool or hold inserted
// lines, a roof at each layer that closes a hollow, the selected row's layer and the print start. A click or
// drag chooses the layer under the mouse, the wheel steps layer by layer, and the tooltip names the layer.

#include "core/layers/LayerIndex.h"
#include "core/gcode/PrintEvents.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class LayerRuler : public QWidget
{
    Q_OBJECT

public:
    struct Mark
    {
        std::size_t layer = 0;
        PrintEvents::Kind kind = PrintEvents::Kind::None; // None with inserted: an inserted line
        bool inserted = false;
    };
    // What the ruler draws, asked for at each paint; layers and marks must live until the next ask.
    struct View
    {
        LayerSpan layers;
        const std::vector<Mark>* marks = nullptr;
        std::optional<std::size_t> selected;
        std::optional<std::size_t> start;
        const std::vector<std::size_t>* hollows = nullptr; // layers where a hollow gets its roof
        std::function<QString(std::size_t layer)> more;     // more lines for a layer's tooltip
    };
    using Source = std::function<View()>;

    explicit LayerRuler(QWidget* parent = nullptr);

    void setSource(Source source);

    // The band of the track that stands for layer: from its height up to the next layer's.
    // Empty without layers.
    QRect bandOf(std::size_t layer) const;
    // The layer whose band holds y; the bottom or top layer beyond the track's ends.
    std::optional<std::size_t> layerAt(int y) const;
    // The height of the track at y, from the bottom layer's height to the top layer's.
    double heightAt(int y) const;
    QSize sizeHint() const override;

    // The height in the middle of layer's band: a height search for it chooses that layer.
    double heightInBand(std::size_t layer) const;

signals:
    // A click, a drag or the wheel chose a layer; height is in the middle of its band.
    void heightChosen(double height);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    struct Scale
    {
        double bottom = 0.0; // height at the track's bottom
        double top = 0.0;    // height at its top
        int y0 = 0;          // pixel row of the bottom
        int y1 = 0;          // pixel row of the top
        double yOf(double z) const;
        double zOf(double y) const;
    };
    View view() const;
    std::optional<Scale> scale(const LayerSpan& layers) const;
    void choose(std::optional<std::size_t> layer);

    Source m_source;
    std::optional<std::size_t> m_lastChosen;
    int m_wheelRemainder = 0;
};
