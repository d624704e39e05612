#include "core/machine/PrintTimes.h"

#include "core/gcode/GCodeWords.h"
#include "core/machine/MachineState.h"
#include "core/text/LineBreaks.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>

namespace {

// The estimate is kept at a row start at least this often (seconds of print): a row's time
// between two such samples is interpolated by bytes, within this much.
constexpr double kSampleEvery = 0.5;
// Marlin's MINIMUM_PLANNER_SPEED: the least speed at a junction, mm/s.
constexpr double kLeastJunctionSpeed = 0.05;

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (GCodeWords::upper(text[i]) != GCodeWords::upper(prefix[i]))
            return false;
    }
    return true;
}

std::size_t findNoCase(std::string_view text, std::string_view what)
{
    for (std::size_t i = 0; i + what.size() <= text.size(); ++i) {
        if (startsWithNoCase(text.substr(i), what))
            return i;
    }
    return std::string_view::npos;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (GCodeWords::isBlank(text.front()) || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (GCodeWords::isBlank(text.back()) || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// A plain decimal number (digits and at most one point), the whole text.
std::optional<double> plainNumber(std::string_view text)
{
    if (text.empty() || text.front() == '-' || text.front() == '+')
        return std::nullopt;
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value,
                                              std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A number of seconds after a separator ("= 812", ": 812.5"), or none.
std::optional<double> secondsAfter(std::string_view text)
{
    text = trimmed(text);
    if (!text.empty() && (text.front() == '=' || text.front() == ':'))
        text.remove_prefix(1);
    return plainNumber(trimmed(text));
}

// A duration after a separator.
std::optional<double> durationAfter(std::string_view text)
{
    text = trimmed(text);
    if (!text.empty() && (text.front() == '=' || text.front() == ':'))
        text.remove_prefix(1);
    if (const std::size_t semicolon = text.find(';'); semicolon != std::string_view::npos)
        text = text.substr(0, semicolon);
    return parseDuration(text);
}

// The slicer's figures a comment row carries.
struct CommentFigures
{
    std::optional<double> elapsed;   // seconds into the print at this row
    std::optional<double> remaining; // seconds left at this row
    std::optional<double> total;     // the whole print
    std::optional<double> model;     // the moves alone, where the total adds a preparation to them
};

// comment: the text after ";".
CommentFigures readComment(std::string_view comment)
{
    CommentFigures figures;
    // Cura and ideaMaker write their keys without a blank after ";"; the totals in words have one.
    if (comment.empty())
        return figures;
    switch (GCodeWords::upper(comment.front())) {
    case 'T':
        if (comment.starts_with("TIME_ELAPSED:")) // Cura, at each layer's end
            figures.elapsed = secondsAfter(comment.substr(13));
        else if (comment.starts_with("TIME:")) // Cura, the whole print
            figures.total = secondsAfter(comment.substr(5));
        return figures;
    case 'P':
        if (comment.starts_with("PRINTING_TIME:")) // ideaMaker, at each layer
            figures.elapsed = secondsAfter(comment.substr(14));
        else if (startsWithNoCase(comment, "PRINT.TIME:")) // Cura's Griffin header
            figures.total = secondsAfter(comment.substr(11));
        else if (comment.starts_with("Print Time:")) // ideaMaker's total, in seconds
            figures.total = secondsAfter(comment.substr(11));
        return figures;
    case 'R':
        if (comment.starts_with("REMAINING_TIME:")) // ideaMaker, at each layer
            figures.remaining = secondsAfter(comment.substr(15));
        return figures;
    case ' ':
    case '\t':
        break;
    default:
        return figures;
    }
    const std::string_view text = trimmed(comment);
    if (text.empty())
        return figures;
    switch (GCodeWords::upper(text.front())) {
    case 'E':
        if (startsWithNoCase(text, "estimated printing time (normal mode)")) // PrusaSlicer, OrcaSlicer
            figures.total = durationAfter(text.substr(37));
        else if (startsWithNoCase(text, "Estimated Build Time:")) // KISSlicer
            figures.total = durationAfter(text.substr(21));
        return figures;
    case 'M':
    case 'T':
        // Bambu Studio and OrcaSlicer: "; model printing time: 1h 0m 1s; total estimated time: 1h 6m 2s".
        if (const std::size_t at = findNoCase(text.substr(0, 160), "total estimated time:");
            at != std::string_view::npos) {
            figures.total = durationAfter(text.substr(at + 21));
            if (startsWithNoCase(text, "model printing time:"))
                figures.model = durationAfter(text.substr(20, at - 20));
        }
        else if (startsWithNoCase(text, "total print time (s)"))
            figures.total = secondsAfter(text.substr(20));
        return figures;
    case 'B':
        if (startsWithNoCase(text, "Build time:")) // Simplify3D
            figures.total = durationAfter(text.substr(11));
        return figures;
    default:
        return figures;
    }
}

// One move in the planner's buffer.
struct Block
{
    std::size_t offset;  // the row's start
    double length;       // mm
    double nominal;      // mm/s
    double accel;        // mm/s²
    double maxEntry;     // the junction's limit, mm/s
    double entry = 0.0;  // as planned so far
    double safe = 0.0;   // the speed it may stop from at once (the jerk's; 0 by junction deviation)
    double minTime = 0.0; // M205 B
};

// The time of a trapezoid: from entry up to at most nominal, down to exit, over length.
double trapezoidTime(double length, double entry, double exit, double nominal, double accel)
{
    if (length <= 0.0)
        return 0.0;
    if (accel <= 0.0 || !std::isfinite(accel))
        return length / nominal;
    const double accelDistance = (nominal * nominal - entry * entry) / (2 * accel);
    const double decelDistance = (nominal * nominal - exit * exit) / (2 * accel);
    if (accelDistance + decelDistance <= length)
        return (nominal - entry) / accel + (nominal - exit) / accel +
               (length - accelDistance - decelDistance) / nominal;
    // No cruise: the peak where the two ramps meet.
    const double peak = std::sqrt(std::max(0.0, (2 * accel * length + entry * entry + exit * exit) / 2));
    return std::max(0.0, (peak - entry) / accel) + std::max(0.0, (peak - exit) / accel);
}

} // namespace

std::optional<double> parseDuration(std::string_view text)
{
    text = trimmed(text);
    if (text.empty())
        return std::nullopt;
    if (text.find(':') != std::string_view::npos) {
        // "1:30:00" or "90:00": whole hours and minutes, seconds with a fraction if any.
        std::vector<std::string_view> parts;
        for (std::size_t start = 0;;) {
            const std::size_t colon = text.find(':', start);
            parts.push_back(text.substr(start, colon == std::string_view::npos ? colon : colon - start));
            if (colon == std::string_view::npos)
                break;
            start = colon + 1;
        }
        if (parts.size() > 3)
            return std::nullopt;
        double seconds = 0.0;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const std::optional<double> value = plainNumber(parts[i]);
            if (!value || parts[i].empty())
                return std::nullopt;
            const bool last = i + 1 == parts.size();
            if (!last && *value != std::floor(*value))
                return std::nullopt;
            if (i > 0 && *value >= 60)
                return std::nullopt;
            seconds = seconds * 60 + *value;
        }
        return seconds;
    }
    double seconds = 0.0;
    int terms = 0;
    bool bare = false;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t numberStart = i;
        while (i < text.size() && (GCodeWords::isDigit(text[i]) || text[i] == '.'))
            ++i;
        const std::optional<double> value = plainNumber(text.substr(numberStart, i - numberStart));
        if (!value)
            return std::nullopt;
        while (i < text.size() && GCodeWords::isBlank(text[i]))
            ++i;
        const std::size_t unitStart = i;
        while (i < text.size() && GCodeWords::isLetter(text[i]))
            ++i;
        const std::string_view unit = text.substr(unitStart, i - unitStart);
        while (i < text.size() && (GCodeWords::isBlank(text[i]) || text[i] == ','))
            ++i;
        const auto is = [&unit](std::initializer_list<std::string_view> names) {
            return std::any_of(names.begin(), names.end(), [&unit](std::string_view name) {
                return unit.size() == name.size() && startsWithNoCase(unit, name);
            });
        };
        double scale = 0.0;
        if (unit.empty())
            bare = true, scale = 1.0;
        else if (is({"d", "day", "days"}))
            scale = 86400.0;
        else if (is({"h", "hr", "hrs", "hour", "hours"}))
            scale = 3600.0;
        else if (is({"m", "min", "mins", "minute", "minutes"}))
            scale = 60.0;
        else if (is({"s", "sec", "secs", "second", "seconds"}))
            scale = 1.0;
        else
            return std::nullopt;
        seconds += *value * scale;
        ++terms;
    }
    // A bare number is seconds only when it stands alone.
    if (bare && terms > 1)
        return std::nullopt;
    return std::isfinite(seconds) ? std::optional<double>(seconds) : std::nullopt;
}

QString formatDuration(double seconds)
{
    const long long whole = std::llround(std::max(0.0, seconds));
    const long long hours = whole / 3600, minutes = whole / 60 % 60, rest = whole % 60;
    if (hours > 0)
        return QStringLiteral("%1 h %2 min").arg(hours).arg(minutes, 2, 10, QLatin1Char('0'));
    if (minutes > 0)
        return QStringLiteral("%1 min %2 s").arg(minutes).arg(rest);
    return QStringLiteral("%1 s").arg(rest);
}

MotionLimits MotionLimits::forFirmware(const QString& profileName)
{
    MotionLimits limits; // Marlin's Configuration.h: the member initialisers
    if (profileName.startsWith(QLatin1String("prusa"))) {
        // Prusa's MK3 firmware (Configuration_prusa.h), as PrusaSlicer writes its limits.
        limits.maxFeed = {200, 200, 12, 120};
        limits.maxAccel = {1000, 1000, 200, 5000};
        limits.printAccel = limits.retractAccel = limits.travelAccel = 1250;
        limits.jerk = {8, 8, 0.4, 1.5};
    } else if (profileName.startsWith(QLatin1String("klipper"))) {
        // Klipper requires max_velocity and max_accel in printer.cfg and has no defaults for them:
        // a common printer's figures; square_corner_velocity defaults to 5 mm/s.
        limits.maxFeed = {300, 300, 15, 120};
        limits.maxAccel = {3000, 3000, 100, 3000};
        limits.printAccel = limits.retractAccel = limits.travelAccel = 3000;
        limits.squareCornerVelocity = 5.0;
    }
    return limits;
}

void MotionLimits::readSlicerComments(std::string_view text)
{
    // "; machine_max_acceleration_x = 1000,960": the first value is the normal mode's.
    const auto first = [](std::string_view value) -> std::optional<double> {
        value = trimmed(value);
        if (const std::size_t comma = value.find(','); comma != std::string_view::npos)
            value = value.substr(0, comma);
        return plainNumber(trimmed(value));
    };
    for (std::size_t at = text.find("; machine_"); at != std::string_view::npos;
         at = text.find("; machine_", at + 1)) {
        const std::size_t end = LineBreaks::nextBreak(text, at);
        const std::string_view row = text.substr(at + 10, end - at - 10);
        const std::size_t equals = row.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = trimmed(row.substr(0, equals));
        const std::optional<double> value = first(row.substr(equals + 1));
        if (!value)
            continue;
        static constexpr std::string_view kAxes = "xyze";
        const auto axis = [&key](std::string_view prefix) -> int {
            if (key.size() != prefix.size() + 1 || !key.starts_with(prefix))
                return -1;
            const std::size_t i = kAxes.find(key.back());
            return i == std::string_view::npos ? -1 : int(i);
        };
        if (const int i = axis("max_feedrate_"); i >= 0)
            maxFeed[std::size_t(i)] = *value;
        else if (const int j = axis("max_speed_"); j >= 0)
            maxFeed[std::size_t(j)] = *value;
        else if (const int k = axis("max_acceleration_"); k >= 0)
            maxAccel[std::size_t(k)] = *value;
        else if (const int l = axis("max_jerk_"); l >= 0)
            jerk[std::size_t(l)] = *value;
        else if (key == "max_acceleration_extruding")
            printAccel = *value;
        else if (key == "max_acceleration_retracting")
            retractAccel = *value;
        else if (key == "max_acceleration_travel" && *value > 0)
            travelAccel = *value;
        else if (key == "min_extruding_rate")
            minExtrudeFeed = *value;
        else if (key == "min_travel_rate")
            minTravelFeed = *value;
    }
}

// --- The pass ------------------------------------------------------------------------------------

struct PrintTimes::Pass
{
    explicit Pass(const MotionLimits& start) : limits(start) { tracker.setMarking(false); }

    MotionLimits limits;
    MachineTracker tracker;
    std::deque<Block> blocks;
    // The last block's direction and nominal speed, for the next junction.
    std::array<double, 4> previousUnit{};
    double previousNominal = 0.0;
    double previousSafe = 0.0;
    bool hasPrevious = false;

    double elapsed = 0.0; // the finished blocks and dwells
    double feedTime = 0.0;
    std::size_t blocksAdded = 0, blocksDone = 0;
    double lastSample = -1.0;
    struct Pending
    {
        std::size_t offset;
        std::size_t block; // the sample's time is the time before this block
    };
    std::deque<Pending> pending;
    PrintTimes result;

    // ideaMaker's and M73's remaining times, turned into elapsed ones once the total is known.
    struct Remaining
    {
        std::size_t offset;
        double seconds;
        double resolution;
    };
    std::vector<Remaining> remaining;
    std::optional<int> lastM73;
    std::optional<double> firstM73;
    // Time the slicer's total counts that no move shows: Bambu Studio's and OrcaSlicer's preparation
    // before the first layer (its total less its model printing time: heating, levelling and the
    // start's moves), the least time before the first layer's change ("; CHANGE_LAYER",
    // ";LAYER_CHANGE" or "M73 L"); and the filament's unloading and loading at each tool change, as
    // their settings give them.
    double preparation = 0.0;
    bool prepared = false;
    double toolLoad = 0.0, toolUnload = 0.0;
    int toolChanges = 0;

    void prepare()
    {
        if (prepared)
            return;
        prepared = true;
        if (preparation > 0) {
            synchronise();
            elapsed = std::max(elapsed, preparation);
        }
    }

    void sampleAt(std::size_t offset, double seconds)
    {
        if (!result.m_samples.empty() && result.m_samples.back().offset >= offset) {
            result.m_samples.back().seconds = std::max(result.m_samples.back().seconds, seconds);
            return;
        }
        result.m_samples.push_back({offset, seconds});
    }
    // Asks for the estimate at offset, known once the moves before it are planned.
    void markAt(std::size_t offset) { pending.push_back({offset, blocksAdded}); }

    void settlePending()
    {
        while (!pending.empty() && pending.front().block <= blocksDone) {
            sampleAt(pending.front().offset, elapsed);
            pending.pop_front();
        }
    }

    // Plans the oldest block for good: its entry is fixed, its exit the next one's entry as far as
    // its acceleration reaches.
    void finishFront()
    {
        Block& block = blocks.front();
        const double reachable = std::sqrt(block.entry * block.entry + 2 * block.accel * block.length);
        double exit = std::min(block.safe, reachable);
        if (blocks.size() > 1) {
            Block& next = blocks[1];
            exit = std::min(next.entry, reachable);
            next.entry = exit;
        }
        settlePending();
        if (lastSample < 0 || elapsed - lastSample >= kSampleEvery) {
            sampleAt(block.offset, elapsed);
            lastSample = elapsed;
        }
        const double t = trapezoidTime(block.length, block.entry, exit, block.nominal, block.accel);
        elapsed += std::max(t, block.minTime);
        blocks.pop_front();
        ++blocksDone;
    }

    // Waits for every planned move to end (a dwell, M400, the end of the file).
    void synchronise()
    {
        while (!blocks.empty())
            finishFront();
        hasPrevious = false;
        settlePending();
    }

    void addMove(std::size_t offset, const MachineTracker::MoveStep& move)
    {
        const std::array<double, 4> d{move.dx, move.dy, move.dz, move.de};
        double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        const bool moves = length > 1e-9;
        if (!moves)
            length = std::abs(d[3]);
        if (!(length > 1e-9) || !std::isfinite(length))
            return;
        const double feed = tracker.state().feed.value_or(1500.0) / 60.0;
        if (!(feed > 0))
            return;
        feedTime += length / feed;
        double nominal = feed * limits.feedPercent / 100.0;
        nominal = std::max(nominal, d[3] != 0 ? limits.minExtrudeFeed : limits.minTravelFeed);
        std::array<double, 4> unit{};
        for (std::size_t i = 0; i < 4; ++i)
            unit[i] = d[i] / length;
        double accel = !moves ? limits.retractAccel : d[3] != 0 ? limits.printAccel : limits.travelAccel;
        for (std::size_t i = 0; i < 4; ++i) {
            const double share = std::abs(unit[i]);
            if (share < 1e-12)
                continue;
            if (limits.maxFeed[i] > 0 && nominal * share > limits.maxFeed[i])
                nominal = limits.maxFeed[i] / share;
            if (limits.maxAccel[i] > 0 && accel * share > limits.maxAccel[i])
                accel = limits.maxAccel[i] / share;
        }
        double minTime = 0.0;
        if (limits.minSegmentTime > 0 && length / nominal < limits.minSegmentTime) {
            nominal = length / limits.minSegmentTime;
            minTime = limits.minSegmentTime;
        }

        // The speed at the junction with the move before.
        double maxEntry = 0.0;
        double safe = nominal;
        const double deviation = limits.squareCornerVelocity >= 0 && accel > 0
                                     ? limits.squareCornerVelocity * limits.squareCornerVelocity *
                                           (std::sqrt(2.0) - 1.0) / accel
                                     : limits.junctionDeviation;
        if (deviation >= 0) {
            // Junction deviation: the speed of a circle through the corner that deviates by it.
            if (hasPrevious) {
                double cosTheta = 0.0;
                for (std::size_t i = 0; i < 3; ++i)
                    cosTheta -= previousUnit[i] * unit[i];
                if (!moves)
                    cosTheta = -1.0; // an E-only move after a move, or the other way: a stop is needed
                if (cosTheta > 0.999999) {
                    maxEntry = kLeastJunctionSpeed;
                } else if (cosTheta < -0.999999) {
                    maxEntry = std::min(nominal, previousNominal); // straight on
                } else {
                    const double sinHalf = std::sqrt(0.5 * (1.0 - cosTheta));
                    maxEntry = std::sqrt(accel * deviation * sinHalf / (1.0 - sinHalf));
                }
                maxEntry = std::min({maxEntry, nominal, previousNominal});
            } else {
                maxEntry = 0.0;
            }
        } else {
            // Marlin's classic jerk: the safe speed to start from a stop, and the junction's
            // speed where each axis's jump in speed stays within its jerk.
            bool limited = false;
            for (std::size_t i = 0; i < 4; ++i) {
                const double jerk = std::abs(unit[i] * nominal);
                const double most = limits.jerk[i];
                if (jerk > most) {
                    if (limited)
                        safe = std::min(safe, most * nominal / jerk);
                    else
                        limited = true, safe = std::min(safe, most);
                }
            }
            if (hasPrevious && previousNominal > 1e-9) {
                double junction = std::min(nominal, previousNominal);
                double factor = 1.0;
                for (std::size_t i = 0; i < 4; ++i) {
                    const double exitSpeed = previousUnit[i] * junction * factor;
                    const double entrySpeed = unit[i] * junction * factor;
                    const double jerk = exitSpeed > entrySpeed
                                            ? ((entrySpeed > 0 || exitSpeed < 0) ? exitSpeed - entrySpeed
                                                                                 : std::max(exitSpeed, -entrySpeed))
                                            : ((entrySpeed < 0 || exitSpeed > 0) ? entrySpeed - exitSpeed
                                                                                 : std::max(-exitSpeed, entrySpeed));
                    if (jerk > limits.jerk[i])
                        factor *= limits.jerk[i] / jerk;
                }
                junction *= factor;
                const double threshold = junction * 0.99;
                if (previousSafe > threshold && safe > threshold)
                    junction = safe;
                maxEntry = junction;
            } else {
                maxEntry = safe;
            }
        }
        previousUnit = unit;
        previousNominal = nominal;
        previousSafe = safe;
        hasPrevious = true;

        const double stop = deviation >= 0 ? 0.0 : safe;
        blocks.push_back({offset, length, nominal, accel, std::max(0.0, maxEntry), 0.0, stop, minTime});
        ++blocksAdded;
        // Backward: each entry as high as its junction allows and the moves after can slow down
        // from, the last move ending at a stop. Entries only rise as moves are added, so the pass
        // stops where one no longer changes.
        double nextEntry = stop;
        for (std::size_t i = blocks.size(); i-- > 1;) {
            Block& block = blocks[i];
            const double entry =
                std::min(block.maxEntry, std::sqrt(nextEntry * nextEntry + 2 * block.accel * block.length));
            if (i + 1 < blocks.size() && entry == block.entry)
                break;
            block.entry = entry;
            nextEntry = entry;
        }
        if (blocks.size() == 1) // from a stop: as fast as the jerk lets a move start (0 by junction deviation)
            blocks.front().entry = std::min(blocks.front().maxEntry, nominal);
        while (blocks.size() > std::size_t(kLookAhead))
            finishFront();
    }

    void setLimits(const MachineTracker::RowCommand& command)
    {
        const WordValues& w = command.words;
        static constexpr char kAxes[] = {'X', 'Y', 'Z', 'E'};
        const auto set = [](double& target, std::optional<double> value) {
            if (value && *value > 0 && std::isfinite(*value))
                target = *value;
        };
        switch (command.number) {
        case 201: // Marlin: maximum acceleration per axis, mm/s²
            for (std::size_t i = 0; i < 4; ++i)
                set(limits.maxAccel[i], w[kAxes[i]]);
            return;
        case 203: // Marlin: maximum feed rate per axis, mm/s
            for (std::size_t i = 0; i < 4; ++i)
                set(limits.maxFeed[i], w[kAxes[i]]);
            return;
        case 204: // Marlin: P printing, R retracting, T travel; S, the legacy form, printing and travel
            if (const auto s = w['S']; s && *s > 0)
                limits.printAccel = limits.travelAccel = *s;
            set(limits.printAccel, w['P']);
            set(limits.retractAccel, w['R']);
            set(limits.travelAccel, w['T']);
            return;
        case 205: // Marlin: X Y Z E jerk, J junction deviation, B minimum segment time (µs), S T minimum feeds
            for (std::size_t i = 0; i < 4; ++i) {
                if (const auto jerk = w[kAxes[i]]; jerk && *jerk >= 0 && std::isfinite(*jerk))
                    limits.jerk[i] = *jerk;
            }
            if (const auto j = w['J']; j && *j >= 0)
                limits.junctionDeviation = *j, limits.squareCornerVelocity = -1.0;
            if (const auto b = w['B']; b && *b >= 0)
                limits.minSegmentTime = *b / 1e6;
            if (const auto s = w['S']; s && *s >= 0)
                limits.minExtrudeFeed = *s;
            if (const auto t = w['T']; t && *t >= 0)
                limits.minTravelFeed = *t;
            return;
        case 220: // Marlin: feed rate percentage
            if (const auto s = w['S']; s && *s > 0)
                limits.feedPercent = *s;
            return;
        default:
            return;
        }
    }

    // Klipper's SET_VELOCITY_LIMIT [VELOCITY=] [ACCEL=] [SQUARE_CORNER_VELOCITY=].
    void setKlipperLimits(std::string_view row)
    {
        const auto parameter = [&row](std::string_view name) -> std::optional<double> {
            const std::size_t at = findNoCase(row, name);
            if (at == std::string_view::npos)
                return std::nullopt;
            std::size_t end = at + name.size();
            while (end < row.size() && !GCodeWords::isBlank(row[end]) && row[end] != ';' && row[end] != '\r')
                ++end;
            return plainNumber(row.substr(at + name.size(), end - at - name.size()));
        };
        if (const auto v = parameter(" VELOCITY="); v && *v > 0)
            limits.maxFeed[0] = limits.maxFeed[1] = *v;
        if (const auto a = parameter(" ACCEL="); a && *a > 0)
            limits.printAccel = limits.travelAccel = limits.retractAccel = limits.maxAccel[0] =
                limits.maxAccel[1] = *a;
        if (const auto s = parameter(" SQUARE_CORNER_VELOCITY="); s && *s >= 0)
            limits.squareCornerVelocity = *s;
        if (limits.squareCornerVelocity < 0 && limits.junctionDeviation < 0)
            limits.squareCornerVelocity = 5.0; // Klipper's default
    }

    // "; machine_load_filament_time = 29" and "; machine_unload_filament_time = 28" (Bambu Studio,
    // OrcaSlicer), in seconds.
    void readToolTimes(std::string_view text)
    {
        for (const auto& [key, target] : {std::pair{std::string_view("; machine_load_filament_time = "), &toolLoad},
                                          std::pair{std::string_view("; machine_unload_filament_time = "), &toolUnload}}) {
            const std::size_t at = text.find(key);
            if (at == std::string_view::npos)
                continue;
            const std::size_t end = LineBreaks::nextBreak(text, at);
            if (const auto value = plainNumber(trimmed(text.substr(at + key.size(), end - at - key.size()))))
                *target = *value;
        }
    }

    void comment(std::size_t offset, std::string_view text)
    {
        if (!prepared && preparation > 0 && (text.starts_with(" CHANGE_LAYER") || text.starts_with("LAYER_CHANGE")))
            prepare();
        const CommentFigures figures = readComment(text);
        if (figures.total && *figures.total > 0)
            result.m_slicerTotal = *figures.total;
        if (figures.total && figures.model && *figures.total > *figures.model && !prepared)
            preparation = *figures.total - *figures.model;
        if (figures.elapsed) {
            result.m_marks.push_back({offset, *figures.elapsed, 1.0});
            markAt(offset);
        }
        if (figures.remaining) {
            remaining.push_back({offset, *figures.remaining, 1.0});
            markAt(offset);
        }
    }

    void row(std::size_t offset, std::string_view text)
    {
        std::size_t first = 0;
        while (first < text.size() && GCodeWords::isBlank(text[first]))
            ++first;
        if (first < text.size() && text[first] == ';') {
            comment(offset, text.substr(first + 1));
            return;
        }
        const int toolBefore = tracker.state().tool;
        tracker.row(text);
        const MachineTracker::RowCommand& command = tracker.lastCommand();
        if (command.letter == 'T') {
            // A tool change of a multi-material unit (T255 unloads, T1000 and above are no tool).
            if (command.number < 255 && command.number != toolBefore && (toolLoad > 0 || toolUnload > 0)) {
                synchronise();
                elapsed += (toolChanges++ > 0 ? toolUnload : 0.0) + toolLoad;
            }
            return;
        }
        if (command.letter == 'G') {
            switch (command.number) {
            case 0:
            case 1:
            case 2:
            case 3: {
                MachineTracker::MoveStep move = tracker.lastMove();
                if (command.number >= 2)
                    move = arcLength(move, command.words);
                addMove(offset, move);
                return;
            }
            case 4: { // a dwell: P milliseconds or S seconds, once the moves before it end
                synchronise();
                const auto p = command.words['P'];
                const auto s = command.words['S'];
                const double seconds = s ? *s : p ? *p / 1000.0 : 0.0;
                if (seconds > 0 && std::isfinite(seconds))
                    elapsed += seconds;
                return;
            }
            case 28:
                synchronise();
                return;
            default:
                return;
            }
        }
        if (command.letter == 'M') {
            if (command.number == 73) {
                // Prusa's and Bambu Studio's progress: P percent and R minutes left in the normal mode.
                const auto p = command.words['P'];
                const auto r = command.words['R'];
                if (command.words['L'])
                    prepare();
                if (p && r && *r >= 0) {
                    const int minutes = int(std::lround(*r));
                    if (!firstM73)
                        firstM73 = minutes * 60.0;
                    if (!lastM73 || *lastM73 != minutes) {
                        remaining.push_back({offset, minutes * 60.0, 60.0});
                        markAt(offset);
                        lastM73 = minutes;
                    }
                }
                return;
            }
            if (command.number == 400 || command.number == 109 || command.number == 190)
                synchronise();
            else
                setLimits(command);
            return;
        }
        if (command.letter == 0 && first < text.size() && GCodeWords::upper(text[first]) == 'S' &&
            startsWithNoCase(text.substr(first), "SET_VELOCITY_LIMIT"))
            setKlipperLimits(text.substr(first));
    }

    // An arc's move: its length along the arc (and its height), in the direction of its chord.
    static MachineTracker::MoveStep arcLength(MachineTracker::MoveStep move, const WordValues& words)
    {
        const auto i = words['I'], j = words['J'];
        const double chord = std::hypot(move.dx, move.dy);
        double arc = chord;
        if (i || j) {
            const double ci = i.value_or(0.0), cj = j.value_or(0.0);
            const double radius = std::hypot(ci, cj);
            const double from = std::atan2(-cj, -ci);
            const double to = std::atan2(move.dy - cj, move.dx - ci);
            constexpr double kTurn = 2 * 3.14159265358979323846;
            double sweep = move.command == 2 ? from - to : to - from;
            sweep = std::fmod(sweep, kTurn);
            if (sweep <= 1e-9)
                sweep += kTurn;
            const auto p = words['P'];
            if (p && *p >= 1)
                sweep = (sweep >= kTurn - 1e-9 ? 0.0 : sweep) + kTurn * std::floor(*p);
            arc = radius * sweep;
        } else if (const auto r = words['R']; r && chord > 0) {
            const double radius = std::max(std::abs(*r), chord / 2);
            const double angle = 2 * std::asin(std::min(1.0, chord / (2 * radius)));
            arc = radius * (*r < 0 ? 2 * 3.14159265358979323846 - angle : angle);
        }
        if (arc > 0 && chord > 1e-9) {
            move.dx *= arc / chord;
            move.dy *= arc / chord;
        } else if (arc > 0) {
            move.dx = arc; // a whole circle: the length counts, its direction hardly
        }
        return move;
    }

    PrintTimes finish(std::size_t bodyBytes)
    {
        synchronise();
        pending.clear();
        result.m_estimateTotal = elapsed;
        result.m_feedTotal = feedTime;
        result.m_bodyBytes = bodyBytes;
        sampleAt(bodyBytes, elapsed);
        // Remaining times become times into the print, against the slicer's total.
        const std::optional<double> total = result.m_slicerTotal ? result.m_slicerTotal : firstM73;
        if (total && !remaining.empty()) {
            if (!result.m_slicerTotal)
                result.m_slicerTotal = total;
            for (const Remaining& r : remaining)
                result.m_marks.push_back({r.offset, std::max(0.0, *total - r.seconds), r.resolution});
        }
        std::stable_sort(result.m_marks.begin(), result.m_marks.end(),
                         [](const Mark& a, const Mark& b) { return a.offset < b.offset; });
        return std::move(result);
    }
};

PrintTimes PrintTimes::compute(std::string_view header, std::string_view body, const MotionLimits& limits)
{
    Pass pass(limits);
    // The slicer's machine limits stand in its settings, at the top or the end of the file.
    constexpr std::size_t kEnds = 256 * 1024;
    for (const std::string_view end : {body.substr(0, kEnds), body.size() > kEnds
                                                                   ? body.substr(body.size() - std::min(body.size() - kEnds, kEnds))
                                                                   : std::string_view()}) {
        pass.limits.readSlicerComments(end);
        pass.readToolTimes(end);
    }
    // The header's two rows may hold a total (Cura's ";TIME:").
    for (std::size_t start = 0; start < header.size();) {
        const std::size_t end = LineBreaks::nextBreak(header, start);
        const std::string_view row = header.substr(start, end - start);
        if (!row.empty() && row.front() == ';') {
            const CommentFigures figures = readComment(row.substr(1));
            if (figures.total && *figures.total > 0)
                pass.result.m_slicerTotal = *figures.total;
        }
        if (end == header.size())
            break;
        start = end + 1;
    }
    for (std::size_t start = 0; start < body.size();) {
        const std::size_t end = LineBreaks::nextBreak(body, start);
        pass.row(start, body.substr(start, end - start));
        if (end == body.size())
            break;
        start = end + (body[end] == '\r' && end + 1 < body.size() && body[end + 1] == '\n' ? 2 : 1);
    }
    return pass.finish(body.size());
}

double PrintTimes::estimateAt(std::size_t offset) const
{
    if (m_samples.empty())
        return 0.0;
    const auto after = std::upper_bound(m_samples.begin(), m_samples.end(), offset,
                                        [](std::size_t value, const Sample& s) { return value < s.offset; });
    if (after == m_samples.begin())
        return 0.0;
    const Sample& before = *(after - 1);
    if (after == m_samples.end() || before.offset == offset)
        return before.seconds;
    // Within kSampleEvery of both.
    const double share = double(offset - before.offset) / double(after->offset - before.offset);
    return before.seconds + share * (after->seconds - before.seconds);
}

double PrintTimes::slicerAt(std::size_t offset) const
{
    // Between two of the slicer's figures (the start at 0 s, its marks, the end at its total),
    // as far along as the estimate has come between them.
    Mark from{0, 0.0, 1.0};
    std::optional<Mark> to;
    const auto after = std::upper_bound(m_marks.begin(), m_marks.end(), offset,
                                        [](std::size_t value, const Mark& m) { return value < m.offset; });
    if (after != m_marks.begin())
        from = *(after - 1);
    if (after != m_marks.end())
        to = *after;
    else if (m_slicerTotal)
        to = Mark{m_bodyBytes, std::max(*m_slicerTotal, from.seconds), 1.0};
    const double estimateFrom = estimateAt(from.offset);
    const double estimate = estimateAt(offset);
    if (!to)
        return from.seconds + (estimate - estimateFrom);
    const double estimateTo = estimateAt(to->offset);
    if (!(estimateTo > estimateFrom))
        return offset >= to->offset ? to->seconds : from.seconds;
    const double share = std::clamp((estimate - estimateFrom) / (estimateTo - estimateFrom), 0.0, 1.0);
    return from.seconds + share * (to->seconds - from.seconds);
}

PrintTimes::Source PrintTimes::source(bool preferEstimate) const
{
    if (!preferEstimate && (m_slicerTotal || !m_marks.empty()))
        return Source::Slicer;
    return m_samples.empty() ? Source::None : Source::Estimate;
}

double PrintTimes::at(std::size_t offset, bool preferEstimate) const
{
    return source(preferEstimate) == Source::Slicer ? slicerAt(offset) : estimateAt(offset);
}

double PrintTimes::total(bool preferEstimate) const
{
    if (source(preferEstimate) != Source::Slicer)
        return m_estimateTotal;
    if (m_slicerTotal)
        return *m_slicerTotal;
    return slicerAt(m_bodyBytes);
}

QString PrintTimes::sourceText(Source source)
{
    switch (source) {
    case Source::Slicer:
        return QStringLiteral("the slicer's figures");
    case Source::Estimate:
        return QStringLiteral("the program's estimate");
    case Source::None:
        break;
    }
    return QStringLiteral("no time known");
}

void PrintTimes::bytesInserted(std::size_t offset, std::size_t count)
{
    for (Sample& sample : m_samples) {
        if (sample.offset >= offset && sample.offset > 0)
            sample.offset += count;
    }
    for (Mark& mark : m_marks) {
        if (mark.offset >= offset && mark.offset > 0)
            mark.offset += count;
    }
    m_bodyBytes += count;
}
