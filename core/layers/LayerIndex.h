#pragma once

// The layers of a sliced body, found from its moves rather than from a slicer's comments.
//
// A move is a G0 or G1 command (G00/G01, either case), its command and words read as GCodeWords
// reads them (";" and parenthesised comments skipped). An extrusion is a G1, G2
// or G3 with X or Y (I or J for an arc) whose E grows the filament: above the previous E with
// absolute extrusion (M82, the default; G92 E sets it), above 0 with relative extrusion (M83 or
// G91). Its printing height is the last Z set by a G0/G1 move; an extrusion before any Z is set
// has none. The print starts at the first extrusion at the lowest printing height; from there a
// layer starts wherever the printing height rises above the current layer's. A layer's change
// row is the first G0/G1 move setting its height after the last extrusion below it, so lifts
// undone before extruding, start and end moves and the final lift make no layer.
//
// A file that prints its objects one after another is read as parts: a part starts where the
// printing height drops more than kPartDrop below the top layer of the part before it (a second
// object starts back at its first layer). A bed-levelling correction, which lowers Z by
// hundredths along a layer, a Z-hop, a raft's gap, a spiral vase and variable layer heights
// never drop that far, so they make no part. The layers of all parts are kept in row order;
// within a part heights rise.

#include "core/layers/LayerStore.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class LayerIndex
{
public:
    // One pass over the body bytes. A body with no extrusion gives an empty index.
    static LayerIndex build(std::string_view body);

    // The same pass over a body handed over in pieces, in order, as it is read.
    class Builder
    {
    public:
        // expectedBytes: about how long the body is, so that the index never has to grow by copying.
        explicit Builder(std::size_t expectedBytes = 0);
        ~Builder();
        Builder(const Builder&) = delete;
        Builder& operator=(const Builder&) = delete;

        void add(std::string_view bytes);
        // The index of all bytes added; the builder starts anew.
        LayerIndex finish();

    private:
        struct State;
        std::unique_ptr<State> m_state;
    };

    bool isEmpty() const { return m_layers.empty(); }
    LayerSpan layers() const { return LayerSpan(m_layers); } // bottom to top, rows ascending
    // More than this far below a part's top layer, in nanometres, the printing height starts a part.
    static constexpr std::int64_t kPartDrop = 500'000;

    // The parts, counted from 0: 1 for a body with layers and no drop, 0 for one with no layers.
    std::size_t partCount() const { return isEmpty() ? 0 : m_partStarts.size() + 1; }
    // The index of a part's first layer, and one past its last.
    std::size_t partBegin(std::size_t part) const { return part == 0 ? 0 : m_partStarts[part - 1]; }
    std::size_t partEnd(std::size_t part) const
    {
        return part < m_partStarts.size() ? m_partStarts[part] : m_layers.size();
    }
    // The part a layer belongs to.
    std::size_t partOf(std::size_t layer) const;

    // The layer a row belongs to: the last layer whose change row is at or before row; none before the first.
    std::optional<std::size_t> layerAt(int row) const;
    // The last layer whose height is below target; the first layer when target is at or below
    // the first layer's height; none when no layer reaches target. With parts, in the first part
    // that target picks a layer of (see layersForHeight).
    std::optional<std::size_t> layerForHeight(double target) const;
    // Whether the first layer whose change row is at or after row lies at height (compared in
    // whole nanometres).
    // One layer in each part that spans target, in part order: the part's last layer below
    // target. A part spans target when it has a layer below it and its top layer is not below
    // it; the first part also when target is at or below its first layer, whose first layer is
    // then taken. Layers before fromLayer are passed over. Heights are compared in whole nanometres.
    std::vector<std::size_t> layersForHeight(std::int64_t target, std::size_t fromLayer = 0) const;

    bool nextLayerIsAt(int row, double height) const;

    // For count rows put in front of row that hold no move and change no extrusion mode (a pause,
    // a temperature): the change rows at or after row move down by count.
    void rowsInserted(int row, int count);
    // For an edit of the rows up to last that changed no layer (see rowEffect): the change rows
    // after last move by by rows (down when positive, up when rows were taken out).
    void rowsShifted(int last, int by);

    // What a row does to the layers: empty for a row the pass passes over (a comment, a
    // temperature, a pause), else its command and the words the pass reads. Rows whose effects
    // are the same, row by row, give the same layers.
    static std::string rowEffect(std::string_view row);

    // The bytes the layers take in memory.
    std::size_t memoryBytes() const
    {
        return m_layers.memoryBytes() + m_partStarts.capacity() * sizeof(std::size_t);
    }

private:
    LayerStore m_layers;
    std::vector<std::size_t> m_partStarts; // the first layer of each part after the first

};
