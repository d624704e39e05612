#pragma once

// The command line: which file the window opens, or an edit done without a window.
//
//   EditorForBorvane5 [FILE]
//   EditorForBorvane5 (--height H | --row N) [--pause] [--t0 C] [--t1 C] [--bed C] [--after]
//                     [--remove-header] [-o OUT] [--force] FILE
//
// Batch mode reads, edits and writes the bytes in core: it chooses the row and inserts the
// lines as the window's buttons do, and writes what "Create" would write.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

namespace Batch {

enum class Mode {
    Window,  // no option: the window, with FILE loaded when given
    Edit,    // any option besides FILE: the edit without a window
    Help,    // --help
    Version, // --version
    Refused, // the arguments do not make a request; reason says why
};

struct Request
{
    Mode mode = Mode::Window;
    QString reason; // why the arguments were refused
    QString file;   // absolute, native separators; empty when none was given

    std::optional<double> height; // above the print start, as typed into "Insert Height"
    std::optional<int> row;       // as typed into "Row Number"
    bool pause = false;
    QStringList temperatureLines; // the lines of "Temperarure Insert"; empty for none
    bool after = false;
    bool removeHeader = false;
    QString output; // absolute; empty for the name "Create" would use beside FILE
    bool force = false;
};

class CommandLine
{
public:
    CommandLine();
    // arguments[0] is the program.
    Request parse(const QStringList& arguments);
    // Needs a QCoreApplication for the program's name in the usage line.
    QString helpText() const;
    static QString versionText();

private:
    QCommandLineParser m_parser;
    QCommandLineOption m_height;
    QCommandLineOption m_row;
    QCommandLineOption m_pause;
    QCommandLineOption m_t0;
    QCommandLineOption m_t1;
    QCommandLineOption m_bed;
    QCommandLineOption m_after;
    QCommandLineOption m_removeHeader;
    QCommandLineOption m_output;
    QCommandLineOption m_force;
};

// One press of an insertion button.
struct Insertion
{
    int row = 0;              // where the first line went, counted as "Row Number" counts
    QStringList lines;        // top to bottom
    std::optional<int> layer; // 1-based, when the row lies in a layer
    std::optional<double> z;  // the height of the row's layer or Z line
};

struct Outcome
{
    bool ok = false;
    QString error; // why nothing was written
    QString outputPath;
    QList<Insertion> insertions;
};

// Runs an Edit request: reads FILE, chooses the row, inserts, writes through QSaveFile.
// On failure no output file is left and the old one, if any, is untouched.
Outcome run(const Request& request);

// The standard-output line for one insertion.
QString describe(const Insertion& insertion);

} // namespace Batch
