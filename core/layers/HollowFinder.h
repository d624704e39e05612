#pragma once

// Where a hollow in the print gets its roof, so that a pause just before it lets the user drop
// something in (a magnet, a nut, a weight).
//
// A loop is a closed path of extrusion: consecutive extrusion moves of one tool and one feature,
// with no travel between them, that come back to where they started within half their width.
// A hollow's wall is a loop that is a wall of the model: where the file names its features
// (Moves::featureComment), a loop extruded as an outer or inner perimeter; where it names none,
// a loop that is its whole chain of extrusion, from a travel to the next (up to a seam's overlap
// of 2 mm), for an infill pattern that closes a cell goes on from it without a travel, layer
// after layer. Its hollow is what the loop encloses beyond half a width inside its line. A
// hollow counts when it is at least kMinArea and no other extrusion of its layer lies in it
// (loops around infill or inner walls are no hollows). It closes at the first later layer whose
// extrusion, drawn at its width, covers at least kCoveredShare of it; a hollow no layer covers
// (a cup, open at the top) is not listed. Where the same hollow goes on from layer to layer,
// the highest loop under the roof is the one reported: it is the opening the user sees when the
// print pauses. Every hollow is listed, however many.
//
// The search takes time near in proportion to the extrusion: a layer's segments are indexed by
// the cells of the bed they pass, and the open hollows by squares of the bed, so that each
// loop and each open hollow meets only the extrusion near it. An open hollow keeps its opening
// as runs of cells along its rows.

#include "core/layers/LayerIndex.h"
#include "core/layers/MoveReader.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

class QIODevice;

struct Hollow
{
    int roofRow = 0;         // the first extrusion of the roof, a body row
    std::size_t layer = 0;   // the layer that closes it (an index into LayerIndex::layers())
    int row = 0;             // that layer's change row: a pause goes in front of it
    double z = 0.0;          // that layer's height
    double area = 0.0;       // mm², of the opening below the roof
    double x = 0.0, y = 0.0; // the opening's centre
    struct Point
    {
        float x = 0, y = 0;
    };
    std::vector<Point> outline; // the wall around the opening, along its line
};

class HollowFinder
{
public:
    static constexpr double kMinArea = 4.0; // mm²
    static constexpr double kCoveredShare = 0.8;

    // Every hollow of a whole body, lowest closing layer first; layers: the body's layer index.
    static std::vector<Hollow> find(std::string_view body, const LayerIndex& layers);

    // Reads a sliced file from the device's start (its two header lines set aside, as a drop
    // sets them aside) and finds the hollows of its body, with their roof rows only (see
    // resolve()). Widths worked out from E use a filament diameter named in the first piece read.
    // None when the file has no header, cannot be read, or cancel was set meanwhile.
    static std::optional<std::vector<Hollow>> findInFile(QIODevice& device, const std::atomic<bool>& cancel);

    // Fills in each hollow's layer, change row and height from the layer its roof row lies in,
    // drops those before the first layer and puts them in order, lowest layer first.
    static void resolve(std::vector<Hollow>& hollows, const LayerIndex& layers);

    // The same over a body handed over in pieces, in order, as it is read.
    class Builder
    {
    public:
        // Once cancel is set, the bytes added are no longer looked at and finish() finds what it
        // found so far.
        explicit Builder(double filamentDiameter = Moves::kDefaultFilamentDiameter,
                         const std::atomic<bool>* cancel = nullptr);
        ~Builder();
        Builder(const Builder&) = delete;
        Builder& operator=(const Builder&) = delete;

        void add(std::string_view bytes);
        // The hollows of all bytes added, numbered by the layers of the same bytes.
        std::vector<Hollow> finish(const LayerIndex& layers);
        // The same with their roof rows only, to be resolved against the layers later.
        std::vector<Hollow> finish();

    private:
        struct State;
        const std::atomic<bool>* m_cancel = nullptr;
        std::unique_ptr<State> m_state;
    };
};
