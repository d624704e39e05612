#include "core/gcode/PauseBlock.h"

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
        block.note = QStringLiteral("the head's position is not known at this row, so the pause line stands "
                                    "alone, without a park");
        return block;
    }
    const double resumeX = *s.x;
    const double resumeY = *s.y;
    const double resumeZ = *s.z;
    block.parked = true;
    block.park = settings.park ? *settings.park : context.park.value_or(PointXY{resumeX, resumeY});
    if (!settings.park && context.parkClearance < kNearPrint)
        block.note = QStringLiteral("no position the file visits lies %1 mm or more from the print; the park "
                                    "is %2 mm from it: set a park position")
                         .arg(kNearPrint)
                         .arg(context.parkClearance, 0, 'f', 1);
    const double lift = std::max(settings.lift, PauseSettings::kLeastLift);
    block.parkZ = ceilToMicrometre(std::max(resumeZ, s.topZ) + lift);

    const bool useFirmware = s.firmwareRetraction;
    const bool alreadyRetracted = s.isRetracted();
    const double retraction =
        s.retractLength && *s.retractLength >= kShallowestRetraction ? *s.retractLength : kDefaultRetraction;
    const double retractFeed = s.retractFeed.value_or(kRetractFeed);

    double e = s.e; // the logical E as the block leaves it
    const auto eMove = [&](double amount, double feed) {
        const double target = e + amount;
        out << QStringLiteral("G1 E%1 F%2").arg(number(s.relativeE ? amount : target), number(feed));
        e = target;
    };
    const auto line = [&](const QString& text) { out << text; };

    // Off the print.
    const bool blockRetractsByE = !alreadyRetracted && !useFirmware;
    if (!alreadyRetracted)
        useFirmware ? line(QStringLiteral("G10")) : eMove(-retraction, retractFeed);
    if (s.relativeXyz) {
        // G90 makes E absolute as well on Marlin: the E mode is set again right after it.
        line(QStringLiteral("G90"));
        line(eModeLine(s.relativeE));
    }
    line(QStringLiteral("G1 Z%1 F%2").arg(number(block.parkZ), number(kZFeed)));
    line(QStringLiteral("G1 X%1 Y%2 F%3")
             .arg(number(block.park.x), number(block.park.y), number(kTravelFeed)));
    const std::optional<double> target = s.activeTarget();
    const bool standby = settings.standby && target;
    if (settings.standby && !target)
        block.note +=
            QStringLiteral("no standby temperature: the file sets no nozzle temperature to return to");
    if (standby)
        line(QStringLiteral("M104 S%1").arg(*settings.standby));

    line(profile.pauseLine);

    // Back to the print.
    if (standby)
        line(QStringLiteral("M109 S%1").arg(number(*target)));
    const bool primes = settings.prime > 0;
    if (primes) {
        const double pulledBack = (blockRetractsByE ? retraction : 0.0) + s.retracted;
        const bool firmwareBack = s.firmwareRetracted || (useFirmware && !alreadyRetracted);
        if (firmwareBack)
            line(QStringLiteral("G11"));
        eMove(pulledBack + settings.prime, kPrimeFeed);
        eMove(-pulledBack, retractFeed);
        if (firmwareBack)
            line(QStringLiteral("G10"));
    }
    line(QStringLiteral("G1 X%1 Y%2 F%3").arg(number(resumeX), number(resumeY), number(kTravelFeed)));
    line(QStringLiteral("G1 Z%1 F%2").arg(number(resumeZ), number(kZFeed)));
    if (!alreadyRetracted) {
        if (useFirmware) {
            line(QStringLiteral("G11"));
        } else if (!s.relativeE && !primes) {
            out << QStringLiteral("G1 E%1 F%2").arg(number(s.e), number(retractFeed));
            e = s.e;
        } else {
            eMove(retraction, retractFeed);
        }
    }
    if (e != s.e)
        line(QStringLiteral("G92 E%1").arg(number(s.e)));
    if (s.relativeXyz) {
        line(QStringLiteral("G91"));
        line(eModeLine(s.relativeE));
    }
    if (s.feed)
        line(QStringLiteral("G1 F%1").arg(number(*s.feed)));
    return block;
}

} // namespace PauseBlocks
