#pragma once

// The program's arguments: which file the window opens, or an edit done without a window.
//
//   EditorForBorvane5 [FILE]
//   EditorForBorvane5 (--height H | --row N | --layer N | --hollow K | --time T)... [--estimate] [--message TEXT] [--pause] [--t0 C] [--t1 C] [--bed
//   C]
//                     [--after] [--remove-header] [-o OUT | --in-place] [--force] [--dry-run]
//                     [--json] [--printer NAME] [--lift MM] [--park X,Y] [--standby C] FILE
//   EditorForBorvane5 --list-printers
//   EditorForBorvane5 --list-hollows [--json] FILE
//
// Only the arguments are read here; the edit itself is Batch::run's, in core.

#include "core/batch/Batch.h"
#include "core/machine/MachineState.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

class CommandLine
{
public:
    enum class Mode {
        Window,       // no option: the window, with FILE loaded when given
        Edit,         // any option besides FILE: the edit without a window
        Help,         // --help
        Version,      // --version
        ListPrinters, // --list-printers
        Refused,      // the arguments do not make a request; reason says why
    };

    struct Parsed
    {
        Mode mode = Mode::Window;
        QString reason;         // why the arguments were refused
        QString file;           // absolute, native separators; empty when none was given
        Batch::Request request; // the edit, for Mode::Edit
        bool json = false;      // report as one JSON object instead of a line per press
        // The printer whose pause --pause inserts, and the settings given for it; the profile
        // itself is looked up once the program runs (see Program).
        QString printer;
        std::optional<double> lift;
        std::optional<PointXY> park;
        std::optional<int> standby;
    };

    CommandLine();
    // arguments[0] is the program.
    Parsed parse(const QStringList& arguments);
    // Needs a QCoreApplication for the program's name in the usage line.
    QString helpText() const;
    // The build's version (the project's version in CMake).
    static QString version();
    // Needs a QCoreApplication with the name and version set.
    static QString versionText();

private:
    // Reads every --height, --row, --layer and --hollow; false with reason when one is not a position.
    bool readPositions(QList<Batch::Position>& positions, QString& reason) const;
    // Reads --printer, --lift, --park and --standby; false with parsed.reason when one is wrong.
    bool readPrinter(Parsed& parsed) const;

    QCommandLineParser m_parser;
    QCommandLineOption m_height;
    QCommandLineOption m_row;
    QCommandLineOption m_layer;
    QCommandLineOption m_hollow;
    QCommandLineOption m_part;
    QCommandLineOption m_listHollows;
    QCommandLineOption m_pause;
    QCommandLineOption m_t0;
    QCommandLineOption m_t1;
    QCommandLineOption m_bed;
    QCommandLineOption m_after;
    QCommandLineOption m_removeHeader;
    QCommandLineOption m_output;
    QCommandLineOption m_inPlace;
    QCommandLineOption m_force;
    QCommandLineOption m_dryRun;
    QCommandLineOption m_json;
    QCommandLineOption m_printer;
    QCommandLineOption m_lift;
    QCommandLineOption m_park;
    QCommandLineOption m_standby;
    QCommandLineOption m_listPrinters;
    QCommandLineOption m_time;
    QCommandLineOption m_estimate;
    QCommandLineOption m_message;
};
