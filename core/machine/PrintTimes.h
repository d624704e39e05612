#pragma once

// When: the time from the start of a file to each of its rows, and the whole print's time, as
// slicers count them: moves and dwells; waits for heating, whose length a file cannot know, count
// as nothing. Two sources:
//  - the slicer's own figures, where the file carries them: Cura's ";TIME_ELAPSED:" at each layer's
//    end and ";TIME:" for the whole, "M73 P<percent> R<minutes left>" (the normal mode; Q and S are
//    the quiet mode's and are passed over), ideaMaker's ";PRINTING_TIME:" and ";REMAINING_TIME:",
//    and the totals written in words ("; estimated printing time (normal mode) = 1h 2m 3s",
//    "; total estimated time: 1h 6m 2s", ";Print Time: 811", ";   Build time: 1 hours 31 minutes",
//    "; Estimated Build Time:   2.50 minutes", "total print time (s)"). Between two of them a
//    row's time is interpolated by the estimate below, not by rows (docs/print-time.md);
//  - the program's own estimate: a motion planner as firmwares plan, on the machine state of
//    MachineState.h (positions and modes read once, there): trapezoidal speed profiles with the
//    move's acceleration, the speed at each junction by jerk (Marlin's classic jerk) or by junction
//    deviation (Marlin's M205 J, Klipper's square corner velocity), a look-ahead of kLookAhead
//    moves, and the limits the file sets as it goes (M201, M203, M204 P/R/T/S, M205 X/Y/Z/E/J/B/S/T,
//    M220, Klipper's SET_VELOCITY_LIMIT), else its slicer's machine-limit comments, else the
//    printer's defaults (MotionLimits::forFirmware).

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include <QString>

// A machine's motion limits, in mm and seconds.
struct MotionLimits
{
    std::array<double, 4> maxFeed{300, 300, 5, 25};            // X Y Z E, mm/s (M203)
    std::array<double, 4> maxAccel{3000, 3000, 100, 10000};    // mm/s² (M201)
    double printAccel = 3000, retractAccel = 3000, travelAccel = 3000; // M204 P R T
    std::array<double, 4> jerk{10, 10, 0.3, 5};                 // mm/s (M205 X Y Z E)
    double junctionDeviation = -1.0;                            // mm (M205 J); below 0: by jerk
    double minSegmentTime = 0.0;                                // s (M205 B, given in µs)
    double minExtrudeFeed = 0.0, minTravelFeed = 0.0;           // mm/s (M205 S T)
    double feedPercent = 100.0;                                 // M220 S
    double squareCornerVelocity = -1.0; // Klipper's, mm/s; at or above 0 it sets the junction deviation

    // The defaults of a printer profile's firmware, by the profile's name: "prusa" as Prusa's MK3
    // firmware ships, "klipper" with Klipper's documented square corner velocity, every other as
    // Marlin's Configuration.h ships (docs/print-time.md cites each).
    static MotionLimits forFirmware(const QString& profileName);
    // Reads the slicer's machine-limit comments ("; machine_max_acceleration_x = 1000,960", the
    // first value being the normal mode's) from the text.
    void readSlicerComments(std::string_view text);
};

// Durations as people write them: "5400" (seconds), "90m", "1h30m", "1h 30m 5s", "1 hour 31 minutes",
// "2.50 minutes", "1d 2h", "1:30:00" or "90:00" (minutes and seconds). None for anything else.
std::optional<double> parseDuration(std::string_view text);
// "1 h 12 min", "12 min 5 s", "45 s": seconds to the nearest second, as the window shows a time.
QString formatDuration(double seconds);

class PrintTimes
{
public:
    static constexpr int kLookAhead = 16; // moves planned together, as Marlin's default buffer holds

    enum class Source { None, Slicer, Estimate };

    // A time the slicer wrote at a row.
    struct Mark
    {
        std::size_t offset = 0; // the row's start in the body
        double seconds = 0.0;   // from the start of the print to that row
        double resolution = 1.0;
    };

    // Reads a file's times: the header's and body's slicer figures and the estimate over the body.
    // Reads the body once; the limits start as given and follow the file.
    static PrintTimes compute(std::string_view header, std::string_view body, const MotionLimits& limits);

    // The time from the start of the file to the row that starts at offset, and the source of it:
    // the slicer's figures when the file has them and preferEstimate is false, else the estimate.
    double at(std::size_t offset, bool preferEstimate = false) const;
    // The whole print's time, by the same choice.
    double total(bool preferEstimate = false) const;
    Source source(bool preferEstimate = false) const;

    // The estimate alone at offset.
    double estimateAt(std::size_t offset) const;
    double estimateTotal() const { return m_estimateTotal; }
    // The moves timed at their own feed rates alone (no planner is faster).
    double feedRateTotal() const { return m_feedTotal; }
    // The slicer's figures: its marks, lowest offset first, and its total, when it wrote them.
    const std::vector<Mark>& marks() const { return m_marks; }
    std::optional<double> slicerTotal() const { return m_slicerTotal; }
    // What the source is, in words ("the slicer's figures", "the program's estimate").
    static QString sourceText(Source source);

    // For count bytes put in at offset that take no time (a pause block: its wait is the user's).
    void bytesInserted(std::size_t offset, std::size_t count);

private:
    struct Pass;
    friend struct Pass;
    struct Sample
    {
        std::size_t offset;
        double seconds;
    };
    double slicerAt(std::size_t offset) const;

    std::vector<Sample> m_samples; // the estimate at row starts, a sample at least every kSampleEvery s
    std::vector<Mark> m_marks;
    std::optional<double> m_slicerTotal;
    double m_estimateTotal = 0.0;
    double m_feedTotal = 0.0;
    std::size_t m_bodyBytes = 0;
};
