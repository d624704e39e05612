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

#include "core/gcode/BedShape.h"
#include "core/gcode/MachineState.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct PauseSettings
{
    static constexpr double kDefaultLift = 10.0;
    static constexpr double kLeastLift = 1.0;

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

class PrinterProfiles
{
public:
    static constexpr const char* kDefaultName = "borvane5";
    static constexpr const char* kFileName = "PrinterProfiles.json";

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
    QList<ProfileProblem> m_problems;
};
