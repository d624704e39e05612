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

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A spiral vase has a layer per line, millions of them, so a layer is kept in eight bytes: its row
// and its height in whole nanometres. A Z with up to six decimals (every slicer writes fewer) gives
// back the very double its text gives; a finer one is taken to the nanometre, as a height search
// and a relative move's sum already take it, and one beyond about 2 m is held at the bound.
struct Layer
{
    Layer() = default;
    Layer(int changeRow, double height);

    double z() const { return double(nanometres) / 1e6; } // the layer's printing height

    int row = 0; // the layer change row: 0-based body row, rows counted as RowSource counts them
    std::int32_t nanometres = 0;
};

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
    const std::vector<Layer>& layers() const { return m_layers; } // bottom to top, rows ascending
    // The layer a row belongs to: the last layer whose change row is at or before row; none before the first.
    std::optional<std::size_t> layerAt(int row) const;
    // The last layer whose height is below target; the first layer when target is at or below
    // the first layer's height; none when no layer reaches target.
    std::optional<std::size_t> layerForHeight(double target) const;
    // Whether the first layer whose change row is at or after row lies at height (compared in
    // whole nanometres).
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

private:
    std::vector<Layer> m_layers;
};
