#include "core/printer/PauseBlock.h"

#include "core/text/Utility.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace PauseBlocks {

QString number(double value)
{
    return Utility::DecimalText(value);
}

QString commandWord(const QString& pauseLine)
{
    const QString trimmed = pauseLine.trimmed();
    const qsizetype blank = trimmed.indexOf(u' ');
    return blank < 0 ? trimmed : trimmed.left(blank);
}

QString pauseFamily(const QString& word)
{
    const QString upper = word.toUpper();
    return upper == u"M1" || upper == u"M01" || upper == u"M00" ? QStringLiteral("M0") : upper;
}

namespace {

// A default park nearer to the print than this is reported.
constexpr double kNearPrint = 5.0;

// A retraction shallower than this is a slicer's rounding, not a retraction to copy.
constexpr double kShallowestRetraction = 0.05;

// Rounded up to the micrometre, so that a lift prints short and never ends below its height.
double ceilToMicrometre(double z)
{
    return std::ceil(z * 1000.0 - 1e-6) / 1000.0;
}

QString eModeLine(bool relativeE)
{
    return relativeE ? QStringLiteral("M83") : QStringLiteral("M82");
}

} // namespace

std::optional<BedShape> bedFor(const PrinterProfile& profile, std::string_view body)
{
    if (std::optional<BedShape> bed = BedShape::fromFile(body))
        return bed;
    return profile.bed;
}

PauseBlock build(const PrinterProfile& profile, const PauseSettings& settings, const PauseContext& context)
{
    PauseBlock block;
    QStringList& out = block.lines;
    if (!profile.parks) {
        out << profile.pauseLine;
        return block;
    }
    const MachineState& s = context.state;
    if (!s.x || !s.y || !s.z) {
        out << profile.pauseLine;
        block.notes << QStringLiteral(
            "the head's position is not known at this row, so the pause line stands "
            "alone, without a park");
        return block;
    }
    // Lengths are written in the units in force: Marlin reads G20 words as inches. Back in inches,
    // a length is rounded to the nanoinch, which gives back the file's own digits.
    const auto length = [&](double mm) {
        return s.inches ? std::round(mm / MachineState::kMmPerInch * 1e9) / 1e9 : mm;
    };
    const auto len = [&](double mm) { return number(length(mm)); };
    const double resumeX = *s.x;
    const double resumeY = *s.y;
    const double resumeZ = *s.z;
    block.parked = true;
    block.park = settings.park ? *settings.park : context.park.value_or(PointXY{resumeX, resumeY});
    block.parkClear = settings.park || context.parkClear;
    const QString unit = s.inches ? QStringLiteral(" (in inches, as G20 is in force)") : QString();
    if (!settings.park && !context.parkClear)
        block.notes << QStringLiteral(
                           "no position the file visits or the bed offers is clear of the print; the "
                           "park at X%1 Y%2%3 is %4 mm from it: set a park position")
                           .arg(len(block.park.x), len(block.park.y), unit)
                           .arg(context.parkClearance, 0, 'f', 1);
    else if (!settings.park && context.parkOnBed)
        block.notes << QStringLiteral(
                           "no position the file visits is clear of the print: the park at X%1 Y%2%3 "
                           "is a point of the bed, %4 mm from the print")
                           .arg(len(block.park.x), len(block.park.y), unit)
                           .arg(context.parkClearance, 0, 'f', 1);
    const double lift = std::max(settings.lift, PauseSettings::kLeastLift);
    block.parkZ = ceilToMicrometre(std::max(resumeZ, s.topZ) + lift);

    // A nozzle below the firmware's cold-extrusion limit takes no E move; one that is off is
    // neither set to a standby nor heated back.
    const std::optional<double> target = s.activeTarget();
    const bool hot = target && *target >= profile.minExtrudeTemp;
    const bool nozzleOn = target && *target > 0;
    const bool useFirmware = s.firmwareRetraction;
    // Where the file never says what E is, its E moves may be relative as much as absolute: what
    // they pulled back is not known, and the block's own moves say M83.
    const bool eStated = s.eModeStated;
    const bool alreadyRetracted = eStated ? s.isRetracted() : s.firmwareRetracted;
    const double retraction = eStated && s.retractLength && *s.retractLength >= kShallowestRetraction
                                  ? *s.retractLength
                                  : kDefaultRetraction;
    const double retractFeed = eStated ? s.retractFeed.value_or(kRetractFeed) : kRetractFeed;
    const bool relativeE = s.relativeE || !eStated;
    if (!hot && (!alreadyRetracted || settings.prime > 0))
        block.notes << (target ? QStringLiteral("the nozzle's target is %1 \u00B0C").arg(number(*target))
                               : QStringLiteral("the file sets no nozzle temperature before this row"))
                           .append(QStringLiteral(", below the cold-extrusion limit of %1 \u00B0C: no "
                                                  "filament is pulled back, primed or pushed")
                                       .arg(number(profile.minExtrudeTemp)));

    double e = s.e; // the logical E as the block leaves it
    bool eModeSaid = false;
    const auto eMove = [&](double amount, double feed) {
        if (!eStated && !eModeSaid) {
            out << QStringLiteral("M83");
            eModeSaid = true;
        }
        const double target = e + amount;
        out << QStringLiteral("G1 E%1 F%2").arg(len(relativeE ? amount : target), len(feed));
        e = target;
    };
    const auto line = [&](const QString& text) { out << text; };

    // Off the print.
    const bool blockRetractsByE = hot && !alreadyRetracted && !useFirmware;
    if (hot && !alreadyRetracted)
        useFirmware ? line(QStringLiteral("G10")) : eMove(-retraction, retractFeed);
    if (s.relativeXyz) {
        // G90 makes E absolute as well on Marlin: the E mode is set again right after it.
        line(QStringLiteral("G90"));
        line(eModeLine(s.relativeE));
    }
    line(QStringLiteral("G1 Z%1 F%2").arg(len(block.parkZ), len(kZFeed)));
    line(QStringLiteral("G1 X%1 Y%2 F%3").arg(len(block.park.x), len(block.park.y), len(kTravelFeed)));
    const bool standby = settings.standby && nozzleOn;
    if (settings.standby && !target)
        block.notes << QStringLiteral(
            "no standby temperature: the file sets no nozzle temperature to return to");
    else if (settings.standby && !nozzleOn)
        block.notes << QStringLiteral(
            "no standby temperature and no reheat: the file has switched the nozzle off");
    if (standby)
        line(QStringLiteral("M104 S%1").arg(*settings.standby));
    if (!profile.motorsHold.isEmpty())
        line(profile.motorsHold);

    line(profile.pauseLine);

    // Back to the print.
    if (standby)
        line(QStringLiteral("M109 S%1").arg(number(*target)));
    const bool primes = settings.prime > 0 && hot;
    if (primes) {
        const double pulledBack = (blockRetractsByE ? retraction : 0.0) + (eStated ? s.retracted : 0.0);
        const bool firmwareBack = s.firmwareRetracted || (useFirmware && !alreadyRetracted);
        if (firmwareBack)
            line(QStringLiteral("G11"));
        eMove(pulledBack + settings.prime, kPrimeFeed);
        eMove(-pulledBack, retractFeed);
        if (firmwareBack)
            line(QStringLiteral("G10"));
    }
    line(QStringLiteral("G1 X%1 Y%2 F%3").arg(len(resumeX), len(resumeY), len(kTravelFeed)));
    line(QStringLiteral("G1 Z%1 F%2").arg(len(resumeZ), len(kZFeed)));
    if (hot && !alreadyRetracted) {
        if (useFirmware) {
            line(QStringLiteral("G11"));
        } else if (!relativeE && !primes) {
            out << QStringLiteral("G1 E%1 F%2").arg(len(s.e), len(retractFeed));
            e = s.e;
        } else {
            eMove(retraction, retractFeed);
        }
    }
    if (eModeSaid)
        line(QStringLiteral("M82")); // the firmware's default, as the file never said otherwise
    if (e != s.e)
        line(QStringLiteral("G92 E%1").arg(len(s.e)));
    if (s.relativeXyz) {
        line(QStringLiteral("G91"));
        line(eModeLine(s.relativeE));
    }
    if (s.feed)
        line(QStringLiteral("G1 F%1").arg(len(*s.feed)));
    if (!profile.motorsRelease.isEmpty())
        line(profile.motorsRelease);
    if (!eStated && eModeSaid)
        block.notes << QStringLiteral(
            "the file never states its E mode: the block's own E moves are relative "
            "(M83) and E is left absolute (M82), the firmware's default");
    return block;
}

} // namespace PauseBlocks
