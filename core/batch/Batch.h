#pragma once

// An edit without a window, request in, outcome out: it reads, edits and writes the bytes in
// core, chooses the row and inserts the lines as the window's buttons do, and writes what
// "Create" would write. The arguments that make a request are read in app/CommandLine.

#include "core/printer/PrinterProfiles.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QIODevice;

namespace Batch {

// Where a request inserts: one position in the input, as one of the window's fields selects a row.
struct Position
{
    enum class By {
        Height, // above the print start, as typed into "Insert Height"
        Row,    // as typed into "Row Number" (from 0, after the two header lines)
        Layer,  // the layer's first row, layers counted from 1 as the margin shows them
        Hollow, // the change row of the layer that closes hollow K, counted from 1 as listed
        Time,   // the change row of the last layer that starts at or before this time into the print
    };
    By by = By::Row;
    double height = 0.0;  // for By::Height
    double seconds = 0.0; // for By::Time
    int number = 0;       // for By::Row, By::Layer and By::Hollow

    // As the command line gives it ("--height 2.5"), for messages.
    QString text() const;
};

// "-" for FILE reads standard input; "-" for the output writes standard output.
inline const QString kStandardStream = QStringLiteral("-");

// An edit without a window: the file, the rows chosen as the window's fields choose them, and
// the buttons pressed there at each.
struct Request
{
    // Every member has an initialiser, so that a request can name only what it sets.
    QString file = {}; // the sliced G-code file, or kStandardStream

    QList<Position> positions = {}; // one or more, in any order
    // The parts (from 1) that heights and layers are looked for in; empty for every part a
    // height reaches and the first part's layers.
    QList<int> parts = {};
    bool pause = false;
    QStringList temperatureLines = {}; // the lines of "Temperarure Insert"; empty for none
    bool after = false;
    bool removeHeader = false;
    QString output = {};      // kStandardStream, a path, or empty for the name "Create" would use beside FILE
    bool force = false;       // replace an existing output
    bool inPlace = false;     // replace FILE itself; output is then ignored
    bool dryRun = false;      // choose and report, write nothing
    bool listHollows = false; // find the hollows and list them; no position, nothing written
    // The printer whose pause `pause` inserts, and its pause settings: for a printer that parks
    // the head, a block built from the machine's state where it goes.
    PrinterProfile printer = PrinterProfiles().profiles().front();
    PauseSettings pauseSettings = {};
    QString message = {};  // shown on the printer's screen while the pause waits; empty for none
    bool estimate = false; // times by the program's own estimate even where the file has the slicer's
};

// One press of an insertion button.
struct Press
{
    int row = 0;       // where its first line went in the output, counted as "Row Number" counts
    QStringList lines; // top to bottom
};

// What went in at one position.
struct Insertion
{
    int inputRow = 0;         // the row the position chose in the input
    int outputRow = 0;        // the row of the first inserted line in the output
    std::optional<int> layer; // the chosen row's layer, from 1 within its part, when it lies in one
    std::optional<double> z;  // the height of the chosen row's layer or Z line
    QStringList lines;        // as they stand in the output, top to bottom
    QList<Press> presses;     // in the order pressed
    double elapsed = 0.0;     // seconds from the start of the print to where the lines go in
    QStringList notes = {};   // what the pause block left out or chose, and why, as the window notes it
    std::optional<int> part;  // the chosen row's part, from 1, when it lies in a layer
    bool manyParts = false;   // the file has more than one part, so the report names it
};

// A hollow whose roof a pause can wait for: what --list-hollows lists.
struct ListedHollow
{
    int layer = 0;           // the layer that closes it, from 1
    double z = 0.0;          // that layer's height
    int row = 0;             // that layer's change row, counted as "Row Number" counts
    double area = 0.0;       // mm², of the opening under the roof
    double x = 0.0, y = 0.0; // the opening's centre
    double elapsed = 0.0;    // seconds from the start of the print to that change row
};

struct Outcome
{
    bool ok = false;
    QString error;      // why nothing was written
    QString inputPath;  // absolute, or kStandardStream
    QString outputPath; // absolute, or kStandardStream: written, or with dryRun to be written
    bool written = false;
    std::optional<int> printStartRow; // where the print starts, as "Molding start height" shows it
    double printStartZ = 0.0;
    // The top layer of the tallest part (the first of equals), from 1 within its part, when the
    // file has layers.
    std::optional<int> topLayer;
    int topLayerRow = 0;
    double topLayerZ = 0.0;
    double printTime = 0.0; // seconds, the whole print's
    QString timeSource;     // "slicer" or "estimate"
    // One per part, in print order (a file with layers has at least one).
    struct Part
    {
        int firstRow = 0; // its first layer's change row
        int topLayer = 0; // its top layer, from 1 within the part
        int topLayerRow = 0;
        double topLayerZ = 0.0;
    };
    QList<Part> parts;
    QList<Insertion> insertions;                // top to bottom
    std::optional<QList<ListedHollow>> hollows; // lowest first, when the request listed them
};

// The devices kStandardStream stands for: the program's standard input and output, or buffers.
struct Streams
{
    QIODevice* in = nullptr;
    QIODevice* out = nullptr;
};

// Runs a request: reads FILE, chooses every position's row on it, inserts at each from the top
// down as the window's buttons would, and writes through QSaveFile (or to streams.out). On
// failure no output file is left and the old one, if any, is untouched.
Outcome run(const Request& request, const Streams& streams = {});

// The report's lines, one per press: "row 12, layer 3, Z 0.600, input row 10: M25".
QStringList describe(const Insertion& insertion);

// "layer 16, Z 3.200, row 1234: hollow of 80.0 mm² at X 25.0 Y 24.0"
QString describe(const ListedHollow& hollow);

// The report as one JSON object; its keys are listed in docs/command-line.md and stay as they are.
QJsonObject toJson(const Outcome& outcome);

} // namespace Batch
