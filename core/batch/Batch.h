#pragma once

// An edit without a window, request in, outcome out: it reads, edits and writes the bytes in
// core, chooses the row and inserts the lines as the window's buttons do, and writes what
// "Create" would write. The arguments that make a request are read in app/CommandLine.

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace Batch {

// An edit without a window: the file, the row chosen as one of the window's fields chooses it,
// and the buttons pressed there.
struct Request
{
    // Every member has an initialiser, so that a request can name only what it sets.
    QString file = {}; // the sliced G-code file

    std::optional<double> height = {}; // above the print start, as typed into "Insert Height"
    std::optional<int> row = {};       // as typed into "Row Number"; one of the two is set
    bool pause = false;
    // The temperatures as canonical digits, empty for no line.
    QString t0 = {};
    QString t1 = {};
    QString bed = {};
    bool after = false;
    bool removeHeader = false;
    QString output = {}; // empty for the name "Create" would use beside FILE
    bool force = false;
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
