#pragma once

// The moves of a sliced body as the nozzle makes them (rows read into words by GCodeWords), read from the
// bytes where they lie: each G0/G1 with X or Y and each arc (G2 clockwise, G3 counter-clockwise; I/J centre
// or R radius) becomes a move from where the nozzle was to where the command takes it. A move that grows the
// filament (as the layer index counts it: E above the last E, or above 0 in relative extrusion)
// is an extrusion, any other a travel. G90/G91 switch absolute and relative axes (G91 makes E
// relative too), M82/M83 absolute and relative extrusion, G92 sets positions, G28 homes
// (the named axes, or all, to 0), T<n> picks a tool.
//
// An extrusion's width is the last width comment before it (";WIDTH:0.42", "; LINE_WIDTH: 0.5")
// where the file has one; otherwise it is worked out from the filament it uses: volume over
// length and layer height, with the rounded sides of a bead ((w - h) * h + pi * h^2 / 4). The
// volume is E times the filament's cross-section; after M200 D<d> (d > 0) E counts cubic
// millimetres itself, as in volumetric extrusion.
//
// An extrusion's feature is what the slicer's last feature comment before it names: a wall of
// the model (its outer or inner perimeter) or anything else (infill, skin, support, skirt), in
// each slicer's own form (see featureComment()). Before any such comment it is Unnamed.

#include <QRectF>

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace GCodeWords {
class Reader;
}

namespace Moves {

constexpr double kDefaultFilamentDiameter = 1.75;

enum class Feature : std::uint8_t {
    Unnamed, // the file has named no feature so far
    Wall,    // an outer or inner perimeter of the model
    Other,   // infill, skin, support, skirt, a bridge, a prime tower...
};

// The feature a comment row names, or Unnamed when it names none. The forms, as the slicers
// write them (the rest of each slicer's names are Other):
//   ";TYPE:WALL-OUTER", ";TYPE:WALL-INNER"                 Cura, ideaMaker
//   ";TYPE:External perimeter", ";TYPE:Perimeter",
//   ";TYPE:Overhang perimeter"                             PrusaSlicer
//   "; FEATURE: Outer wall", "; FEATURE: Inner wall",
//   "; FEATURE: Overhang wall"                             Bambu Studio
//   "; feature outer perimeter", "; feature inner perimeter" Simplify3D 4.1
//   "; outer perimeter", "; inner perimeter"               Simplify3D up to 4.0 (its names alone)
//   "; 'Perimeter', ...", "; 'Loop', ..."                  KISSlicer
// comment: the row from its ';' on.
Feature featureComment(std::string_view comment);

// Where the nozzle is and how the rows that follow are read. Copyable, so that a reader can go
// on from any row once it knows the state there.
struct MachineState
{
    double x = 0.0, y = 0.0, z = 0.0, e = 0.0;
    bool zKnown = false;
    bool relativeAxes = false;
    bool relativeE = false;
    int tool = 0;
    double commentWidth = 0.0;       // the last width comment; 0 before any
    double volumetricDiameter = 0.0; // M200 D: above 0, E counts cubic millimetres
    // The layer, as the layer index finds layers: the printing height of the last extrusion
    // that rose above all before it, and how far it rose.
    double layerZ = 0.0;
    double layerHeight = 0.0;
    bool inLayer = false;
    Feature feature = Feature::Unnamed; // the last feature comment's
};

struct Move
{
    enum class Kind : std::uint8_t { Travel, Extrusion };
    Kind kind = Kind::Travel;
    bool arc = false;
    bool clockwise = false;
    bool startsLayer = false; // the first extrusion above every layer before it
    std::uint16_t tool = 0;
    Feature feature = Feature::Unnamed;
    int row = 0;
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    float cx = 0, cy = 0; // an arc's centre
    float z = 0;
    float width = 0; // extrusions only
};

class MoveReader
{
public:
    using Sink = std::function<void(const Move&)>;

    // filamentDiameter: the file's own (see filamentDiameter()), for widths worked out from E.
    explicit MoveReader(double filamentDiameter = kDefaultFilamentDiameter, MachineState start = {});

    // Reads complete rows (each with its line break, the last one's may be missing), the first of
    // them numbered firstRow, and hands each move to sink. Returns the number of the row after them.
    int read(std::string_view rows, int firstRow, const Sink& sink);

    const MachineState& state() const { return m_state; }

private:
    void row(const char* p, const char* end, int row, const Sink& sink);
    void move(int number, GCodeWords::Reader& reader, int row, const Sink& sink);
    float widthOf(double volume, double length) const;

    MachineState m_state;
    double m_filamentArea;
};

// The filament diameter a slicer wrote in its comments ("; filament_diameter = 1.75",
// ";Filament Diameter #1: 1.750", ";   filamentDiameter,1.75", "material_diameter = 2.85",
// "; fiber_dia_mm = 2.85"),
// looked for in the first and last megabyte of the body; without one, diameterFromExtrusion() of
// the first megabyte.
double filamentDiameter(std::string_view body);

// The other filament in use beside kDefaultFilamentDiameter (sold as 2.85 and as 3 mm).
constexpr double kOtherFilamentDiameter = 2.85;
// No nozzle in common use lays a line narrower than this, mm.
constexpr double kNarrowestWidth = 0.22;

// Which of the two filaments rows extrude, where no comment names it: read as 1.75 mm, the
// extrusion of a 2.85 mm printer comes out 0.38 times its volume, lines narrower than the layer
// is high or than any nozzle lays them, which no slicer prints. kOtherFilamentDiameter when the
// middle of the rows' extrusion lines (at least 50 of a millimetre or more, widths worked out from
// E) is that narrow; kDefaultFilamentDiameter otherwise, and where the file gives its widths.
double diameterFromExtrusion(std::string_view rows);

// A state from which reading can go on at a row: the rows before it were read.
struct Checkpoint
{
    int row = 0;
    MachineState state;
};

// States at rows spread over a body, for reading any stretch of it without reading it all.
class Checkpoints
{
public:
    // One pass over the body; a checkpoint at least every spacing rows.
    static Checkpoints build(std::string_view body, double filamentDiameter, int spacing = 4096);

    bool isEmpty() const { return m_points.empty(); }
    // What the extrusion of the whole body covers, in mm; empty without extrusion.
    QRectF extent() const { return m_extent; }
    // What the extrusion of the model covers: from the second layer on (layers as the layer index
    // finds them), with the first layer's extrusion that lies within kModelReach of that, so that
    // a skirt or brim counts and a prime line along the bed's edge does not. The whole extent for
    // a body of one layer.
    QRectF modelExtent() const { return m_modelExtent; }
    static constexpr double kModelReach = 10.0; // mm
    // The last checkpoint at or before row.
    const Checkpoint& before(int row) const;
    // For count rows put in front of row that hold no move and change no mode: rows after move down.
    void rowsInserted(int row, int count);

private:
    std::vector<Checkpoint> m_points;
    QRectF m_extent;
    QRectF m_modelExtent;
};

} // namespace Moves
