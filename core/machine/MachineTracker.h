#pragma once

// Reading the rows before a pause: the printer's state there (MachineState), and where the moves
// went and the extrusions printed, for a park position clear of the print.

#include "core/machine/CellGrid.h"
#include "core/gcode/GCodeWords.h"
#include "core/machine/MachineState.h"
#include "core/machine/PauseContext.h"
#include "core/printer/PointXY.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

struct BedShape;

// Reads rows one by one and keeps the state, the X/Y positions the moves visited and the cells
// that extrusions covered, so that a park position can be chosen away from the print. Each
// visited position and covered cell carries the stretch (see setStretch) in which it was first met.
class MachineTracker
{
public:
    // A row's command as the tracker read it: G, M or T and its number, and its words' numbers
    // (none for M0, M1, M117 and M118, whose text is a message).
    struct RowCommand
    {
        char letter = 0; // G, M or T; 0 for anything else
        int number = -1;
        GCodeWords::Words words;
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
    // The stretch that later marks belong to.
    void setStretch(std::uint32_t stretch) { m_stretch = stretch; }
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
        std::uint32_t stretch;
    };
    // The first position visited in each cell, in the order they were met.
    const std::vector<Visited>& visited() const { return m_visitedOrder; }
    // Takes the visited positions (in the order met) and the printed cells of stretches before stretch,
    // as met by another tracker that read the rows before this one's start.
    void adopt(const std::vector<Visited>& visited, const CellGrid& printed, std::uint32_t stretch);
    // Each cell an extrusion passed, with the stretch it was first passed in.
    const CellGrid& printed() const { return m_printed; }

    // The park position for a pause here: the visited position farthest from the print when it
    // is clear of it, else a point of bed clear of the print and the bed's edge (see PauseContext).
    PauseContext pauseContext(const BedShape* bed) const;

    // Of candidates, the one farthest from the printed cells (see farthestVisited).
    static std::optional<PointXY> farthest(const std::vector<PointXY>& candidates,
                                           const std::vector<std::uint64_t>& printedCells, double* clearance);

private:
    void move(int command, const Motion::Change& change, const std::optional<double>& fromX,
              const std::optional<double>& fromY, const std::optional<double>& fromZ);
    void markVisited(double x, double y);
    void markPrinted(double x0, double y0, double x1, double y1);
    // An arc from (x0, y0) to (x1, y1) around (cx, cy), clockwise or not; a whole circle when
    // whole or when it ends where it starts.
    void markArc(double x0, double y0, double x1, double y1, double cx, double cy, bool clockwise,
                 bool whole);
    void markArcMove(int command, double x0, double y0, double x1, double y1, const GCodeWords::Words& words);

    MachineState m_state;
    RowCommand m_command;
    MoveStep m_move;
    bool m_marking = true;
    std::uint32_t m_stretch = 0;
    CellGrid m_visitedCells;
    std::vector<Visited> m_visitedOrder;
    CellGrid m_printed;
    std::uint64_t m_lastVisited = ~std::uint64_t(0);
    std::uint64_t m_lastPrinted = ~std::uint64_t(0);
};
