#pragma once

// Printer profiles: what a pause is on a printer, as data. The program ships a profile file
// beside its keyword list; files of the same form in the user's configuration folder add
// profiles or replace shipped ones of the same name.
//
//   { "printers": [ { "name": "marlin", "title": "Marlin", "pause": "M0 Click to resume",
//                     "parks": true, "lift": 10, "park": [0, 0], "standby": 170, "prime": 0 } ] }
//
// "name" (lower-case letters, digits and "-"), "title" and "pause" (one line) are required;
// "parks" says whether the inserted block parks the head itself (else it is the pause line
// alone); "lift", "park", "standby" and "prime" are the profile's default pause settings. For a
// printer that parks, optionally:
//   "bed": [X0, Y0, X1, Y1]      the bed's corners in mm, where the file describes none: a park
//                                 there keeps clear of the print when no visited position does
//   "minExtrudeTemp": 170         the firmware's cold-extrusion limit (°C): no E move below it
//   "motorsHold": "M84 S0"        a line before the pause that keeps idle motors on, and
//   "motorsRelease": "M84 S120"   one at the end of the block that gives the firmware's idle
//                                 timeout back (see docs/printers-and-pauses.md)
//
// The pause line goes into the file as it stands, so it must be one printable G-code line of at
// most kLongestPauseLine bytes; the title is shown in the window and on a terminal, so it must be
// printable text of at most kLongestTitle characters; every number lies within the range
// PauseSettings names. A profile file is a regular file of at most kLargestFile bytes; anything
// else in the printers folder (a pipe, a device, a link to one) is reported and never read.

#include "core/printer/BedShape.h"
#include "core/machine/MachineState.h"

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct PauseSettings
{
    static constexpr double kDefaultLift = 10.0;
    static constexpr double kLeastLift = 1.0;
    static constexpr double kMostLift = 1000.0;
    // A park position's X and Y lie within this many mm of the origin: room for the largest
    // beds, and a G-code number of plain digits.
    static constexpr double kParkLimit = 2000.0;
    static constexpr int kMostTemperature = 999;
    static constexpr double kMostPrime = 100.0;

    // Whether each setting lies in its range; the window, the profiles and the command line
    // take only such settings.
    static bool liftFits(double mm) { return mm >= kLeastLift && mm <= kMostLift; }
    static bool parkFits(double mm) { return mm >= -kParkLimit && mm <= kParkLimit; }
    static bool temperatureFits(double degrees)
    {
        return degrees >= 0 && degrees <= kMostTemperature && degrees == double(int(degrees));
    }
    static bool primeFits(double mm) { return mm >= 0 && mm <= kMostPrime; }

    double lift = kDefaultLift;  // mm above the nozzle's height at the row; never below kLeastLift
    std::optional<PointXY> park; // none: the visited position farthest from the print
    std::optional<int> standby;  // nozzle temperature while paused; none keeps the target
    double prime = 0.0;          // mm of filament pushed out at the park position on resume
};

struct PrinterProfile
{
    QString name;      // as the command line takes it
    QString title;     // as the window shows it
    QString pauseLine; // the line that pauses
    bool parks = false;
    PauseSettings defaults;
    std::optional<BedShape> bed;
    double minExtrudeTemp = kColdExtrusionLimit;
    QString motorsHold; // empty: the firmware keeps its motors on while paused, or it is not known
    QString motorsRelease;

    // Marlin's EXTRUDE_MINTEMP and Klipper's min_extrude_temp, by default.
    static constexpr double kColdExtrusionLimit = 170.0;
    QString source; // the file it came from; empty for the built-in default
};

// A profile file with a mistake: where, and what.
struct ProfileProblem
{
    QString path;
    int line = 0; // 1-based
    QString message;

    QString text() const;
};

namespace ProfileText {

// Why text is no pause line a profile may hold (empty when it is one): one line of printable
// characters (no control or format character, no line or paragraph separator, no space but the
// plain one), without leading or trailing blanks, of at most kLongestPauseLine bytes in UTF-8.
QString pauseLineProblem(const QString& text);
// Why text is no title (empty when it is one): printable as above, not blank, at most
// kLongestTitle characters.
QString titleProblem(const QString& text);
// The text with each character a terminal or a message could take for something else (a control
// character, an escape sequence's start, a line separator) written as \uXXXX.
QString printable(const QString& text);

// Marlin reads a line into a buffer of MAX_CMD_SIZE (96) bytes and drops what does not fit.
constexpr int kLongestPauseLine = 96;
constexpr int kLongestTitle = 80;

} // namespace ProfileText

class PrinterProfiles
{
public:
    static constexpr const char* kDefaultName = "borvane5";
    static constexpr const char* kFileName = "PrinterProfiles.json";
    static constexpr qint64 kLargestFile = 4 * 1024 * 1024;

    // The built-in default alone, so that the program pauses as it always did even without
    // a profile file.
    PrinterProfiles();

    // The shipped file (see shippedPath) when there is one, then every *.json file of
    // userFolder() by name.
    static PrinterProfiles load(const QString& exeFolder);

    // The shipped profile file: TempFile/PrinterProfiles.json beside the program when that is
    // a file, else the installed copy in the data folder, else the first path.
    static QString shippedPath(const QString& exeFolder);
    // The folder of the user's own profile files (it may not exist).
    static QString userFolder();

    // Reads one file; its profiles replace those of the same name. A file that cannot be read
    // or parsed adds one problem; an entry with a mistake adds one problem and the file's other
    // entries still load.
    void addFile(const QString& path);
    void addBytes(QByteArrayView bytes, const QString& path);

    const QList<PrinterProfile>& profiles() const { return m_profiles; }
    const QList<ProfileProblem>& problems() const { return m_problems; }
    // The profile of that name; nullptr when there is none.
    const PrinterProfile* find(const QString& name) const;
    QStringList names() const;

private:
    void put(PrinterProfile profile);

    QList<PrinterProfile> m_profiles;
    QHash<QString, qsizetype> m_byName; // each profile's place in m_profiles
    QList<ProfileProblem> m_problems;
};
