#include "app/CommandLine.h"

#include "core/printer/PauseMessage.h"
#include "core/machine/PrintTimes.h"

#include "core/printer/PrinterProfiles.h"

#include "core/gcode/CommandLines.h"
#include "core/gcode/Insertion.h"
#include "core/text/PathBytes.h"
#include "core/text/Utility.h"

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace {

// The working folder is read as bytes: a folder named in Latin-1 keeps its name.
QString nativeAbsolute(const QString& path)
{
    return PathBytes::absolute(path);
}

// The tallest height taken: far above any printer, low enough to print as a plain number.
constexpr double kMaxHeight = 100000.0;

// A number of digits only, or none; outOfRange tells a number past the int range.
std::optional<int> rowNumber(const QString& text, bool* outOfRange = nullptr)
{
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = qMin<qint64>(value * 10 + (c.unicode() - u'0'), qint64(1) << 40);
    }
    if (value > std::numeric_limits<int>::max()) {
        if (outOfRange)
            *outOfRange = true;
        return std::nullopt;
    }
    return int(value);
}

std::optional<double> heightNumber(const QString& text, bool* outOfRange = nullptr)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || std::isnan(value) || value < 0)
        return std::nullopt;
    if (value > kMaxHeight) {
        if (outOfRange)
            *outOfRange = true;
        return std::nullopt;
    }
    return value;
}

} // namespace

CommandLine::CommandLine()
    : m_height(QStringLiteral("height"),
               QStringLiteral("Insert at the last layer below H mm above the print start. --height, --row, "
                              "--layer and --hollow may be given several times and mixed."),
               QStringLiteral("H")),
      m_row(QStringLiteral("row"),
            QStringLiteral("Insert at row N, counted as the window's \"Row Number\" counts (from 0, "
                           "after the two header lines)."),
            QStringLiteral("N")),
      m_layer(QStringLiteral("layer"),
              QStringLiteral("Insert at the first row of layer N, counted from 1 as the window's margin "
                             "counts."),
              QStringLiteral("N")),
      m_hollow(QStringLiteral("hollow"),
               QStringLiteral("Insert before the layer that closes hollow K, counted from 1 as "
                              "--list-hollows lists them."),
               QStringLiteral("K")),
      m_part(QStringLiteral("part"),
             QStringLiteral("In a file that prints its objects one after another, look for --height and "
                            "--layer in part N only (from 1; may be given several times). Without it a "
                            "height is looked for in every part and a layer in the first."),
             QStringLiteral("N")),
      m_listHollows(QStringLiteral("list-hollows"),
                    QStringLiteral("List the hollows of FILE a pause can wait for, one per line: the layer "
                                   "that closes each, its Z and change row, the opening's area and centre. "
                                   "Writes nothing.")),
      m_pause(QStringLiteral("pause"), QStringLiteral("Insert the pause line (M25).")),
      m_t0(QStringLiteral("t0"), QStringLiteral("Insert the T0 nozzle temperature C (0 to 999)."),
           QStringLiteral("C")),
      m_t1(QStringLiteral("t1"), QStringLiteral("Insert the T1 nozzle temperature C (0 to 999)."),
           QStringLiteral("C")),
      m_bed(QStringLiteral("bed"), QStringLiteral("Insert the bed temperature C (0 to 999)."),
            QStringLiteral("C")),
      m_after(QStringLiteral("after"), QStringLiteral("Insert after the row instead of before it.")),
      m_removeHeader(
          QStringLiteral("remove-header"),
          QStringLiteral("Leave the two header lines out and write Borvane.g instead of Borvane.gx "
                         "(or Borvane.bgcode): plain text, also from binary G-code.")),
      m_output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
               QStringLiteral("Write to OUT instead of Borvane.gx (or Borvane.g) beside FILE; - writes to "
                              "standard output, and the report goes to standard error."),
               QStringLiteral("OUT")),
      m_inPlace(QStringLiteral("in-place"),
                QStringLiteral("Replace FILE with the edited file, through a file beside it that is "
                               "written, synced and renamed over FILE; on failure FILE stays as it was.")),
      m_force(QStringLiteral("force"), QStringLiteral("Replace the output file when it exists.")),
      m_dryRun(QStringLiteral("dry-run"), QStringLiteral("Choose the rows and report them; write nothing.")),
      m_json(QStringLiteral("json"),
             QStringLiteral("Report as one JSON object instead of a line per insertion.")),
      m_printer(QStringLiteral("printer"),
                QStringLiteral("The printer whose pause --pause inserts (default borvane5: the M25 line); "
                               "--list-printers names them."),
                QStringLiteral("NAME")),
      m_lift(QStringLiteral("lift"),
             QStringLiteral("For a printer whose pause parks the head: lift it MM above the print (at "
                            "least 1; default 10)."),
             QStringLiteral("MM")),
      m_park(QStringLiteral("park"),
             QStringLiteral("For a printer whose pause parks the head: park at X,Y, each from -2000 to 2000 "
                            "(default: the position the file visits farthest from the print)."),
             QStringLiteral("X,Y")),
      m_standby(QStringLiteral("standby"),
                QStringLiteral("For a printer whose pause parks the head: hold the nozzle at C while paused "
                               "and heat it back before the print goes on."),
                QStringLiteral("C")),
      m_listPrinters(QStringLiteral("list-printers"),
                     QStringLiteral("List the printers --printer knows: name and title, one per line.")),
      m_time(QStringLiteral("time"),
             QStringLiteral("Insert at the change row of the last layer that starts at or before T into the "
                            "print: seconds (5400), 1h30m, 90m or 1:30:00. Mixes with --height and the others."),
             QStringLiteral("T")),
      m_estimate(QStringLiteral("estimate"),
                 QStringLiteral("Time the print by the program's own estimate, even where the file carries "
                                "the slicer's figures.")),
      m_message(QStringLiteral("message"),
                QStringLiteral("With --pause: show TEXT on the printer's screen while it waits (M117), one line "
                               "of printable ASCII without \";\"."),
                QStringLiteral("TEXT"))
{
    m_parser.setApplicationDescription(
        QStringLiteral("Inserts a pause or temperature lines into a sliced G-code file.\n"
                       "Without options it opens the window, with FILE loaded when given; any option "
                       "edits FILE without a window, and needs no display.\n"
                       "Exit status: 0 when the edit was written, even if its report could not be "
                       "printed (a warning on standard error says so); with --dry-run, --list-hollows "
                       "and --list-printers, when the report was printed. 1 when nothing was written "
                       "(the edit failed, or such a report could not be printed) or no display was "
                       "found for the window. 2 when the arguments were refused."));
    m_parser.addHelpOption();
    m_parser.addVersionOption();
    m_parser.addOptions({m_height,  m_row,     m_layer,       m_hollow, m_part,         m_listHollows,  m_pause,
                         m_t0,      m_t1,      m_bed,         m_after,  m_removeHeader, m_output,
                         m_inPlace, m_force,   m_dryRun,      m_json,   m_printer,      m_lift,
                         m_park,    m_standby, m_listPrinters, m_time, m_estimate, m_message});
    m_parser.addPositionalArgument(QStringLiteral("FILE"),
                                   QStringLiteral("The sliced G-code file, text or binary (.bgcode, written back "
                                                  "as Borvane.bgcode); - reads it from standard input "
                                                  "(a folder in the window sets the output folder)."));
}

QString CommandLine::helpText() const
{
    return m_parser.helpText();
}

QString CommandLine::version()
{
    return QStringLiteral(BORVANE_VERSION);
}

QString CommandLine::versionText()
{
    return QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n';
}

CommandLine::Parsed CommandLine::parse(const QStringList& arguments)
{
    Parsed parsed;
    const auto refuse = [&parsed](const QString& reason) {
        parsed.mode = Mode::Refused;
        parsed.reason = reason;
        return parsed;
    };
    if (!m_parser.parse(arguments))
        return refuse(m_parser.errorText());
    if (m_parser.isSet(QStringLiteral("help")) || m_parser.isSet(QStringLiteral("help-all")))
        return parsed.mode = Mode::Help, parsed;
    if (m_parser.isSet(QStringLiteral("version")))
        return parsed.mode = Mode::Version, parsed;
    if (m_parser.isSet(m_listPrinters))
        return parsed.mode = Mode::ListPrinters, parsed;

    const QStringList files = m_parser.positionalArguments();
    if (files.size() > 1)
        return refuse(QStringLiteral("Give one FILE, not %1.").arg(files.size()));
    if (!files.isEmpty())
        parsed.file = nativeAbsolute(files.front());
    if (m_parser.optionNames().isEmpty())
        return parsed; // the window

    parsed.mode = Mode::Edit;
    Batch::Request& request = parsed.request;
    request.file = parsed.file;
    if (files.isEmpty())
        return refuse(QStringLiteral("FILE is missing: name the sliced G-code file to edit."));
    if (!readPositions(request.positions, parsed.reason))
        return refuse(parsed.reason);
    for (const QString& text : m_parser.values(m_part)) {
        const std::optional<int> part = rowNumber(text);
        if (!part || *part < 1)
            return refuse(QStringLiteral("--part \"%1\" is not a part number (digits, from 1).").arg(text));
        request.parts.append(*part);
    }
    if (!request.parts.isEmpty() &&
        std::none_of(request.positions.begin(), request.positions.end(), [](const Batch::Position& position) {
            return position.by == Batch::Position::By::Height || position.by == Batch::Position::By::Layer;
        }))
        return refuse(QStringLiteral("--part chooses where --height and --layer look: give one of them."));
    if (m_parser.isSet(m_listHollows)) {
        if (!request.positions.isEmpty() || m_parser.isSet(m_pause) || m_parser.isSet(m_t0) ||
            m_parser.isSet(m_t1) || m_parser.isSet(m_bed) || m_parser.isSet(m_output) ||
            m_parser.isSet(m_inPlace))
            return refuse(QStringLiteral("--list-hollows only lists and writes nothing: leave out the rows, "
                                         "the lines to insert and the output."));
        request.listHollows = true;
        request.estimate = m_parser.isSet(m_estimate);
        if (!readPrinter(parsed)) // the program looks the printer up even when it only lists
            return refuse(parsed.reason);
        parsed.json = m_parser.isSet(m_json);
        if (files.front() == Batch::kStandardStream)
            request.file = Batch::kStandardStream;
        return parsed;
    }
    if (request.positions.isEmpty())
        return refuse(
            QStringLiteral("Choose the rows with --height H, --row N, --layer N, --hollow K or --time T (each "
                           "may be given several times)."));

    const CommandLines::TemperatureCheck temperatures =
        CommandLines::checkTemperatures(m_parser.value(m_t0), m_parser.value(m_t1), m_parser.value(m_bed));
    if (temperatures.wrong) {
        const QCommandLineOption* options[] = {&m_t0, &m_t1, &m_bed};
        const QCommandLineOption& option = *options[int(*temperatures.wrong)];
        return refuse(QStringLiteral("--%1 \"%2\" is not a temperature (a whole number from 0 to 999).")
                          .arg(option.names().front(), m_parser.value(option)));
    }
    request.temperatureLines = temperatures.lines;
    request.pause = m_parser.isSet(m_pause);
    if (!request.pause && request.temperatureLines.isEmpty())
        return refuse(QStringLiteral("Nothing to insert: give --pause, --t0 C, --t1 C or --bed C."));
    request.estimate = m_parser.isSet(m_estimate);
    if (m_parser.isSet(m_message)) {
        if (!request.pause)
            return refuse(QStringLiteral("--message goes with --pause: it is shown while the printer waits."));
        request.message = m_parser.value(m_message);
        if (const QString problem = PauseMessage::problem(request.message); !problem.isEmpty())
            return refuse(QStringLiteral("--message \"%1\": %2").arg(request.message, problem));
    }

    if (!readPrinter(parsed))
        return refuse(parsed.reason);

    request.after = m_parser.isSet(m_after);
    request.removeHeader = m_parser.isSet(m_removeHeader);
    request.force = m_parser.isSet(m_force);
    request.inPlace = m_parser.isSet(m_inPlace);
    request.dryRun = m_parser.isSet(m_dryRun);
    parsed.json = m_parser.isSet(m_json);
    if (m_parser.isSet(m_output)) {
        const QString output = m_parser.value(m_output);
        if (output.isEmpty())
            return refuse(QStringLiteral("-o needs a file name, or - for standard output."));
        if (request.inPlace)
            return refuse(QStringLiteral("--in-place writes FILE itself: leave -o out."));
        request.output = output == Batch::kStandardStream ? output : nativeAbsolute(output);
    }
    if (files.front() == Batch::kStandardStream) {
        request.file = Batch::kStandardStream;
        if (request.inPlace)
            return refuse(QStringLiteral("--in-place needs FILE by name, not - (standard input)."));
        if (request.output.isEmpty())
            return refuse(QStringLiteral("FILE - (standard input) has no folder to write Borvane.gx to: "
                                         "give -o OUT, or -o - for standard output."));
    }
    return parsed;
}

bool CommandLine::readPrinter(Parsed& parsed) const
{
    parsed.printer = m_parser.isSet(m_printer) ? m_parser.value(m_printer)
                                               : QString::fromLatin1(PrinterProfiles::kDefaultName);
    if (m_parser.isSet(m_lift)) {
        const std::optional<double> lift = heightNumber(m_parser.value(m_lift));
        if (!lift || !PauseSettings::liftFits(*lift)) {
            parsed.reason = QStringLiteral("--lift \"%1\" is not a lift in mm (a number from 1 to 1000).")
                                .arg(m_parser.value(m_lift));
            return false;
        }
        parsed.lift = lift;
    }
    if (m_parser.isSet(m_park)) {
        const QStringList xy = m_parser.value(m_park).split(u',');
        bool okX = false;
        bool okY = false;
        const double x = xy.size() == 2 ? QLocale::c().toDouble(xy[0].trimmed(), &okX) : 0.0;
        const double y = xy.size() == 2 ? QLocale::c().toDouble(xy[1].trimmed(), &okY) : 0.0;
        if (!okX || !okY || !std::isfinite(x) || !std::isfinite(y)) {
            parsed.reason = QStringLiteral("--park \"%1\" is not a position X,Y in mm (\"0,200\").")
                                .arg(m_parser.value(m_park));
            return false;
        }
        if (!PauseSettings::parkFits(x) || !PauseSettings::parkFits(y)) {
            parsed.reason = QStringLiteral("--park \"%1\" is out of range: X and Y lie from %2 to %3 mm.")
                                .arg(m_parser.value(m_park))
                                .arg(-PauseSettings::kParkLimit)
                                .arg(PauseSettings::kParkLimit);
            return false;
        }
        parsed.park = PointXY{x, y};
    }
    if (m_parser.isSet(m_standby)) {
        const std::optional<int> standby = CommandLines::checkedTemperature(m_parser.value(m_standby));
        if (!standby) {
            parsed.reason =
                QStringLiteral("--standby \"%1\" is not a temperature (a whole number from 0 to 999).")
                    .arg(m_parser.value(m_standby));
            return false;
        }
        parsed.standby = standby;
    }
    return true;
}

bool CommandLine::readPositions(QList<Batch::Position>& positions, QString& reason) const
{
    for (const QString& text : m_parser.values(m_height)) {
        bool outOfRange = false;
        const std::optional<double> height = heightNumber(text, &outOfRange);
        if (outOfRange) {
            reason = QStringLiteral("--height \"%1\" is out of range: give a height from 0 to %2 mm.")
                         .arg(text)
                         .arg(kMaxHeight, 0, 'f', 0);
            return false;
        }
        if (!height) {
            reason = QStringLiteral("--height \"%1\" is not a height in mm (a number from 0 up, with a point "
                                    "for decimals).")
                         .arg(text);
            return false;
        }
        positions.append({.by = Batch::Position::By::Height, .height = *height});
    }
    for (const QString& text : m_parser.values(m_row)) {
        bool outOfRange = false;
        const std::optional<int> row = rowNumber(text, &outOfRange);
        if (outOfRange) {
            reason = QStringLiteral("--row \"%1\" is out of range: give a row from 0 to %2.")
                         .arg(text)
                         .arg(std::numeric_limits<int>::max());
            return false;
        }
        if (!row) {
            reason = QStringLiteral("--row \"%1\" is not a row number (digits only).").arg(text);
            return false;
        }
        if (*row == Insertion::kNotFoundRow) {
            reason = QStringLiteral("--row 1 takes no insertion: the window keeps row 1 for searches that "
                                    "find nothing. Choose another row.");
            return false;
        }
        positions.append({.by = Batch::Position::By::Row, .number = *row});
    }
    for (const QString& text : m_parser.values(m_layer)) {
        const std::optional<int> layer = rowNumber(text);
        if (!layer || *layer < 1) {
            reason = QStringLiteral("--layer \"%1\" is not a layer number (digits, from 1).").arg(text);
            return false;
        }
        positions.append({.by = Batch::Position::By::Layer, .number = *layer});
    }
    for (const QString& text : m_parser.values(m_time)) {
        const QByteArray bytes = text.toUtf8();
        const std::optional<double> seconds = parseDuration({bytes.constData(), std::size_t(bytes.size())});
        if (!seconds || *seconds > 1e9) {
            reason = QStringLiteral("--time \"%1\" is not a time into the print: give seconds (5400), 1h30m, "
                                    "90m or 1:30:00.")
                         .arg(text);
            return false;
        }
        positions.append({.by = Batch::Position::By::Time, .seconds = *seconds});
    }
    for (const QString& text : m_parser.values(m_hollow)) {
        const std::optional<int> hollow = rowNumber(text);
        if (!hollow || *hollow < 1) {
            reason = QStringLiteral("--hollow \"%1\" is not a hollow number (digits, from 1).").arg(text);
            return false;
        }
        positions.append({.by = Batch::Position::By::Hollow, .number = *hollow});
    }
    return true;
}
