#pragma once

// What the printer's state is at a row of a sliced body, read from the rows before it as a
// Marlin-style firmware reads them: G90/G91 set every axis absolute/relative, E included;
// M82/M83 then set E alone; G92 sets logical positions; F is modal; T selects the tool; G20/G21
// set the units of the words that follow (inches or mm; Marlin keeps positions in mm either way).
// This is what a park-and-resume block needs to leave the machine as it found it.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

struct BedShape;
struct PauseContext;

struct MachineState
{
    // Logical positions as the rows set them; an axis is unknown until a move or G92 sets it.
    std::optional<double> x, y, z;
    double e = 0.0;
    bool relativeXyz = false;   // G91
    bool relativeE = false;     // M83, or G91 until an M82
    bool eModeStated = false;   // an M82, M83, G90 or G91 has said what E is
    bool inches = false;        // G20 in force: the words are inches (positions here stay mm)
    std::optional<double> feed; // mm/min, the last F
    int tool = 0;
    std::map<int, double> toolTargets; // M104/M109 per tool
    std::optional<double> bedTarget;   // M140/M190
    std::map<int, double> fans;        // M106/M107 per fan index

    bool firmwareRetraction = false;     // the rows use G10/G11
    bool firmwareRetracted = false;      // a G10 not yet undone by G11
    double retracted = 0.0;              // mm of filament the E moves have pulled back since the last push
    std::optional<double> retractLength; // the file's own retraction: the latest retraction's depth
    std::optional<double> retractFeed;   // the feed rate of that retraction

    // The rows as the layer pass reads them (LayerIndex.h), where it differs from a firmware: it
    // takes Z from G0/G1 alone, not from G92 or arcs, sums relative heights to the nanometre, reads
    // E as relative under M83 or G91 alike, and a bare G92 zeroes its E. A block whose rows leave
    // this as they found it, and extrude nothing, moves no layer the pass finds after it.
    struct LayerPass
    {
        bool zKnown = false;
        double z = 0.0;
        double e = 0.0;
        bool relativeAxes = false;
        bool relativeE = false;
    } layerPass;

    std::optional<double> lastExtrusionZ; // the printing height of the latest extrusion
    double topZ = 0.0;                    // the highest printing height so far

    bool isRetracted() const { return firmwareRetracted || retracted > kRetractedAtLeast; }
    // Whether the layer pass reads the head's height, E and modes as this state has them, with
    // absolute X, Y and Z: then a block written from this state leaves the pass's state as it found it.
    bool layerPassAgrees() const;
    std::optional<double> activeTarget() const;

    static constexpr double kRetractedAtLeast = 1e-6;
    static constexpr double kMmPerInch = 25.4;
};

// The numbers of a row's words, by letter: a number only where its letter stands.
struct WordValues
{
    std::optional<double> operator[](char letter) const
    {
        const int i = letter - 'A';
        return present & (1u << i) ? std::optional<double>(values[std::size_t(i)]) : std::nullopt;
    }
    void set(char letter, double value)
    {
        const int i = letter - 'A';
        values[std::size_t(i)] = value;
        present |= 1u << i;
    }

    std::array<double, 26> values; // read only where present says
    std::uint32_t present = 0;
};

struct PointXY
{
    double x = 0.0;
    double y = 0.0;
};

// Cells that extrusions passed, each with the part of the text where it was first passed:
// a dense grid that grows to hold them (a long extrusion passes a cell every half millimetre, and
// a hash lookup per step would cost seconds on a large file), and a map for cells far outside it.
class CellGrid
{
public:
    // Marks the cell with part unless an earlier part marked it; true when it was not marked yet.
    bool mark(std::int32_t cx, std::int32_t cy, std::uint32_t part)
    {
        const std::int64_t x = std::int64_t(cx) - m_x0;
        const std::int64_t y = std::int64_t(cy) - m_y0;
        if (x < 0 || y < 0 || x >= m_width || y >= m_height)
            return markOutside(cx, cy, part);
        std::uint32_t& first = m_first[std::size_t(y * m_width + x)];
        const bool unmarked = first == kUnmarked;
        first = first < part ? first : part;
        return unmarked;
    }
    // Whether the grid holds every cell of the box from (x0, y0) to (x1, y1).
    bool holds(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) const
    {
        return x0 >= m_x0 && y0 >= m_y0 && x1 < m_x0 + m_width && y1 < m_y0 + m_height;
    }
    // mark() for a cell the grid holds.
    void markInside(std::int32_t cx, std::int32_t cy, std::uint32_t part)
    {
        std::uint32_t& first = m_first[std::size_t((cy - m_y0) * m_width + (cx - m_x0))];
        first = first < part ? first : part;
    }
    // markInside() for the cells of count points in whole 2^-20 cells, from (fx, fy) on by (dx, dy).
    void markInsideAlong(std::int64_t fx, std::int64_t fy, std::int64_t dx, std::int64_t dy, int count,
                         std::uint32_t part)
    {
        std::uint32_t* const cells = m_first.data();
        const std::int64_t x0 = m_x0, y0 = m_y0, width = m_width;
        for (int i = 0; i < count; ++i, fx += dx, fy += dy) {
            std::uint32_t& first = cells[std::size_t(((fy >> 20) - y0) * width + ((fx >> 20) - x0))];
            first = first < part ? first : part;
        }
    }
    // f(cell key, part) for every marked cell.
    template <typename F> void forEach(F f) const
    {
        for (std::int64_t y = 0; y < m_height; ++y) {
            for (std::int64_t x = 0; x < m_width; ++x) {
                const std::uint32_t part = m_first[std::size_t(y * m_width + x)];
                if (part != kUnmarked)
                    f(key(std::int32_t(m_x0 + x), std::int32_t(m_y0 + y)), part);
            }
        }
        for (const auto& [cell, part] : m_far)
            f(cell, part);
    }
    static std::uint64_t key(std::int32_t cx, std::int32_t cy)
    {
        return (std::uint64_t(std::uint32_t(cx)) << 32) | std::uint32_t(cy);
    }

private:
    static constexpr std::uint32_t kUnmarked = ~std::uint32_t(0);
    static constexpr std::int64_t kMostCells = 2048 * 2048;
    bool markOutside(std::int32_t cx, std::int32_t cy, std::uint32_t part);
    bool grow(std::int32_t cx, std::int32_t cy);

    std::int64_t m_x0 = 0, m_y0 = 0, m_width = 0, m_height = 0;
    std::vector<std::uint32_t> m_first;
    std::unordered_map<std::uint64_t, std::uint32_t> m_far;
};

// Reads rows one by one and keeps the state, the X/Y positions the moves visited and the cells
// that extrusions covered, so that a park position can be chosen away from the print. Each
// visited position and covered cell carries the part (see setPart) in which it was first met.
class MachineTracker
{
public:
    // A row's command as the tracker read it: G, M or T and its number, and its words' numbers
    // (none for M0, M1, M117 and M118, whose text is a message).
    struct RowCommand
    {
        char letter = 0; // G, M or T; 0 for anything else
        int number = -1;
        WordValues words;
        bool anyWord = false; // a word stands, with a number or not (a Z or E without one is none)
    };
    // What the latest G0-G3 row moved: each axis from its position before to after (0 where the
    // position before or after is unknown), and E as the filament it pushed (negative: pulled).
    struct MoveStep
    {
        int command = -1; // 0 to 3
        double dx = 0.0, dy = 0.0, dz = 0.0, de = 0.0;
    };

    MachineTracker() = default;
    explicit MachineTracker(const MachineState& start) : m_state(start) {}

    // One row, without its line break.
    void row(std::string_view text);
    // Every row of bytes (breaks LF, CR LF or CR).
    void rows(std::string_view bytes);
    // The part that later marks belong to.
    void setPart(std::uint32_t part) { m_part = part; }
    // Whether rows mark visited positions and printed cells (for a park position); a reader that
    // wants positions and modes alone, as the time estimate, turns it off and reads twice as fast.
    void setMarking(bool marking) { m_marking = marking; }
    // The latest row's command, and the latest move (see MoveStep).
    const RowCommand& lastCommand() const { return m_command; }
    const MoveStep& lastMove() const { return m_move; }

    const MachineState& state() const { return m_state; }
    // Of the X/Y positions the moves visited (a G28 of X and Y visits X0 Y0), the one farthest from
    // every extrusion so far, measured on a grid of 2 mm cells; of equals, the earliest visited.
    // None before any X/Y position is known.
    // clearance: set to the park's distance from the nearest extrusion on that grid (mm).
    std::optional<PointXY> farthestVisited(double* clearance = nullptr) const;

    struct Visited
    {
        std::uint64_t cell;
        PointXY point;
        std::uint32_t part;
    };
    // The first position visited in each cell, in the order they were met.
    const std::vector<Visited>& visited() const { return m_visitedOrder; }
    // Takes the visited positions (in the order met) and the printed cells of parts before part,
    // as met by another tracker that read the rows before this one's start.
    void adopt(const std::vector<Visited>& visited, const CellGrid& printed, std::uint32_t part);
    // Each cell an extrusion passed, with the part it was first passed in.
    const CellGrid& printed() const { return m_printed; }

    // The park position for a pause here: the visited position farthest from the print when it
    // is clear of it, else a point of bed clear of the print and the bed's edge (see PauseContext).
    PauseContext pauseContext(const BedShape* bed) const;

    // Of candidates, the one farthest from the printed cells (see farthestVisited).
    static std::optional<PointXY> farthest(const std::vector<PointXY>& candidates,
                                           const std::vector<std::uint64_t>& printedCells, double* clearance);

private:
    void move(int command, const WordValues& words);
    void followLayerPass(char letter, int number, const WordValues& words, bool anyWord);
    void markVisited(double x, double y);
    void markPrinted(double x0, double y0, double x1, double y1);
    // An arc from (x0, y0) to (x1, y1) around (cx, cy), clockwise or not; a whole circle when
    // whole or when it ends where it starts.
    void markArc(double x0, double y0, double x1, double y1, double cx, double cy, bool clockwise,
                 bool whole);
    void markArcMove(int command, double x0, double y0, double x1, double y1, const WordValues& words);

    MachineState m_state;
    RowCommand m_command;
    MoveStep m_move;
    bool m_marking = true;
    std::uint32_t m_part = 0;
    CellGrid m_visitedCells;
    std::vector<Visited> m_visitedOrder;
    CellGrid m_printed;
    std::uint64_t m_lastVisited = ~std::uint64_t(0);
    std::uint64_t m_lastPrinted = ~std::uint64_t(0);
};

// The state and the default park position at the end of bytes (the rows before a pause).
struct PauseContext
{
    // A park this far from every printed cell, as the 2 mm cells measure it, is at least 5 mm from
    // every extrusion: the cells' distance may exceed the true one by 8 % (their diagonal steps),
    // the park and an extrusion's sample each lie up to a half diagonal (1.4 mm) from their cell's
    // centre, and an extrusion up to 1 mm from its nearest sample: 5 mm + 3.8 mm, plus 8 %.
    static constexpr double kClearOfPrint = 10.0;
    // A park on the bed keeps this far from its edge (clips, the frame).
    static constexpr double kClearOfEdge = 10.0;

    MachineState state;
    std::optional<PointXY> park;
    double parkClearance = 0.0; // the park's distance from the print on the 2 mm cells
    bool parkClear = false;     // parkClearance is at least kClearOfPrint (or nothing is printed)
    bool parkOnBed = false;     // the park is a point of the bed, as no visited position is clear
    bool bedRefused = false;    // a bed was given but the print lies outside it: not used
};
// bed: where to park when no visited position is clear of the print; may be null.
PauseContext pauseContextAt(std::string_view bytesBefore, const BedShape* bed = nullptr);

// The state at every row of a body without reading it from the start each time: the state
// at a row start every kSpacing bytes, and the visited positions and printed cells by the part
// of the body they were first met in. A row's state is the nearest checkpoint's, read on to it.
class PauseIndex
{
    struct Checkpoint
    {
        std::size_t offset;
        MachineState state;
    };

public:
    static constexpr std::size_t kSpacing = 256 * 1024;

    static PauseIndex build(std::string_view body);

    // The same pass over a text that grows at its end, as it is read: the rows are read as their
    // breaks come.
    class Builder
    {
    public:
        Builder();
        // Reads on through the rows of text (the whole text so far, from its first byte) whose
        // break it holds, or through its end when it is complete.
        void advance(std::string_view text, bool complete);
        // Where the next row to read starts.
        std::size_t position() const { return m_start; }
        PauseIndex finish();

    private:
        MachineTracker m_tracker;
        std::vector<Checkpoint> m_checkpoints;
        std::size_t m_start = 0;
        std::size_t m_next = kSpacing;
    };

    // The context at offset (a row start) of body, the text the index was built on (or followed).
    PauseContext contextAt(std::string_view body, std::size_t offset, const BedShape* bed = nullptr) const;
    // A tracker that has read body up to offset (a row start), as if from the first row: the state,
    // the visited positions and the printed cells there, read on from the nearest checkpoint.
    MachineTracker trackerAt(std::string_view body, std::size_t offset) const;
    // For count bytes put in at offset that leave the machine as it was (a pause block): the
    // checkpoints after offset move with the text.
    void bytesInserted(std::size_t offset, std::size_t count);
    bool isEmpty() const { return m_checkpoints.empty(); }

private:
    // The checkpoint at or before offset, and its part.
    std::pair<const Checkpoint*, std::uint32_t> checkpointFor(std::size_t offset) const;

    std::vector<Checkpoint> m_checkpoints;
    std::vector<MachineTracker::Visited> m_visited;
    CellGrid m_printed;
};
