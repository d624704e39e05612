#include "core/batch/Batch.h"

#include "core/gcode/CommandLines.h"
#include "core/gcode/Insertion.h"
#include "core/gcode/LayerIndex.h"
#include "core/gcode/SlicedFile.h"
#include "core/gcode/SlicedFileReader.h"
#include "core/navigation/PrintAnalysis.h"
#include "core/navigation/RowScans.h"
#include "core/text/RowSource.h"
#include "core/text/Utility.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>

#include <cmath>
#include <functional>

namespace Batch {

namespace {

QString nativeAbsolute(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

std::optional<int> rowNumber(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    // The "Row Number" field's own reading of its digits.
    return Utility::TruncateToInt(Utility::TextToNumber(text, 1));
}

std::optional<double> heightNumber(const QString& text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value) || value < 0)
        return std::nullopt;
    return value;
}

} // namespace

CommandLine::CommandLine()
    : m_height(QStringLiteral("height"),
               QStringLiteral("Insert at the last layer below H mm above the print start."),
               QStringLiteral("H")),
      m_row(QStringLiteral("row"),
            QStringLiteral("Insert at row N, counted as the window's \"Row Number\" counts (from 0, "
                           "after the two header lines)."),
            QStringLiteral("N")),
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
          QStringLiteral("Leave the two header lines out and write Borvane.g instead of Borvane.gx.")),
      m_output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
               QStringLiteral("Write to OUT instead of Borvane.gx (or Borvane.g) beside FILE."),
               QStringLiteral("OUT")),
      m_force(QStringLiteral("force"), QStringLiteral("Replace the output file when it exists."))
{
    m_parser.setApplicationDescription(
        QStringLiteral("Inserts a pause or temperature lines into a sliced G-code file.\n"
                       "Without options it opens the window, with FILE loaded when given; any option "
                       "edits FILE without a window."));
    m_parser.addHelpOption();
    m_parser.addVersionOption();
    m_parser.addOptions(
        {m_height, m_row, m_pause, m_t0, m_t1, m_bed, m_after, m_removeHeader, m_output, m_force});
    m_parser.addPositionalArgument(QStringLiteral("FILE"),
                                   QStringLiteral("The sliced G-code file (a folder in "
                                                  "the window sets the output folder)."));
}

QString CommandLine::helpText() const
{
    return m_parser.helpText();
}

QString CommandLine::versionText()
{
    return QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n';
}

Request CommandLine::parse(const QStringList& arguments)
{
    Request request;
    const auto refuse = [&request](const QString& reason) {
        request.mode = Mode::Refused;
        request.reason = reason;
        return request;
    };
    if (!m_parser.parse(arguments))
        return refuse(m_parser.errorText());
    if (m_parser.isSet(QStringLiteral("help")) || m_parser.isSet(QStringLiteral("help-all")))
        return request.mode = Mode::Help, request;
    if (m_parser.isSet(QStringLiteral("version")))
        return request.mode = Mode::Version, request;

    const QStringList files = m_parser.positionalArguments();
    if (files.size() > 1)
        return refuse(QStringLiteral("Give one FILE, not %1.").arg(files.size()));
    if (!files.isEmpty())
        request.file = nativeAbsolute(files.front());
    if (m_parser.optionNames().isEmpty())
        return request; // the window

    request.mode = Mode::Edit;
    if (files.isEmpty())
        return refuse(QStringLiteral("FILE is missing: name the sliced G-code file to edit."));
    if (m_parser.isSet(m_height) == m_parser.isSet(m_row))
        return refuse(QStringLiteral("Choose the row with either --height H or --row N."));
    if (m_parser.isSet(m_height)) {
        const QString text = m_parser.value(m_height);
        request.height = heightNumber(text);
        if (!request.height)
            return refuse(QStringLiteral("--height \"%1\" is not a height in mm (a number from 0 up, "
                                         "with a point for decimals).")
                              .arg(text));
    } else {
        const QString text = m_parser.value(m_row);
        request.row = rowNumber(text);
        if (!request.row)
            return refuse(QStringLiteral("--row \"%1\" is not a row number (digits only).").arg(text));
        if (*request.row == ::Insertion::kNotFoundRow)
            return refuse(QStringLiteral("--row 1 takes no insertion: the window keeps row 1 for searches "
                                         "that find nothing. Choose another row."));
    }

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

    request.after = m_parser.isSet(m_after);
    request.removeHeader = m_parser.isSet(m_removeHeader);
    request.force = m_parser.isSet(m_force);
    if (m_parser.isSet(m_output)) {
        const QString output = m_parser.value(m_output);
        if (output.isEmpty())
            return refuse(QStringLiteral("-o needs a file name."));
        request.output = nativeAbsolute(output);
    }
    return request;
}

namespace {

// The batch mode's body: a buffer of its own, read whole, whose rows are indexed, and
// whileIndexing runs on them, while the layer index finishes.
class BodyBuffer : public SlicedFile::BodySink
{
public:
    explicit BodyBuffer(std::function<void(const RowSource&)> whileIndexing)
        : m_whileIndexing(std::move(whileIndexing))
    {
    }
    // The buffer takes the body's exact size at once, so that it never moves while the layer
    // index reads it in place. Running out of memory throws, and the reader tells why.
    bool reserve(qint64 bodyBytes) override
    {
        m_text.reserve(qsizetype(bodyBytes));
        m_capacity = bodyBytes;
        return true;
    }
    bool append(QByteArrayView bytes) override
    {
        if (m_text.size() + bytes.size() > m_capacity)
            return false; // never: the reader hands over no more than it reserved
        m_text.append(bytes);
        return true;
    }
    const char* bytesInPlace() const override { return m_text.constData(); }
    bool finish() override
    {
        m_whileIndexing(m_rows.emplace(m_text));
        return true;
    }

    const QByteArray& text() const { return m_text; }
    const CountedRows& rows() const { return *m_rows; }

private:
    std::function<void(const RowSource&)> m_whileIndexing;
    QByteArray m_text;
    qint64 m_capacity = 0;
    std::optional<CountedRows> m_rows;
};

// The lines of each press, in the order the window's buttons are pressed: temperatures first,
// then the pause.
QList<QStringList> pressedLines(const Request& request)
{
    QList<QStringList> presses;
    if (!request.temperatureLines.isEmpty())
        presses.append(request.temperatureLines);
    if (request.pause)
        presses.append({CommandLines::pauseLine()});
    return presses;
}

QString defaultOutputPath(const QString& file, bool removeHeader)
{
    const QString name = SlicedFile::outputFileNameFor(::Insertion::defaultOutputFileName(), !removeHeader);
    return SlicedFile::folderOf(file) + QDir::separator() + name;
}

// Writes the header, then the body with the placement's bytes put in: the same bytes as
// writeOutput of the edited body, without moving the body's bytes to make room.
bool writeEdited(QIODevice& device, QByteArrayView header, const QByteArray& body,
                 LineBreaks::Style lineBreak, const ::Insertion::Placement& placement)
{
    const std::string_view text(body.constData(), std::size_t(body.size()));
    const std::string_view head = text.substr(0, std::size_t(placement.offset));
    const std::string_view tail = text.substr(std::size_t(placement.offset));
    const std::string_view block(placement.bytes.constData(), std::size_t(placement.bytes.size()));
    const QByteArrayView breakBytes = LineBreaks::bytesOf(lineBreak);
    const auto put = [&device](std::string_view bytes) {
        return bytes.empty() || device.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
    };
    if (!put({header.data(), std::size_t(header.size())}) || !put(head))
        return false;
    // Only the text's last byte decides whether writeOutput adds a line break.
    if (tail.empty())
        return SlicedFile::writeOutput(device, {}, block, breakBytes);
    return put(block) && SlicedFile::writeOutput(device, {}, tail, breakBytes);
}

bool write(const QString& path, QByteArrayView header, const QByteArray& body, LineBreaks::Style lineBreak,
           const ::Insertion::Placement& placement, QString& error)
{
    QSaveFile output(path);
    if (!output.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("Cannot write %1: %2").arg(path, output.errorString());
        return false;
    }
    if (!writeEdited(output, header, body, lineBreak, placement)) {
        error = QStringLiteral("Cannot write %1: %2").arg(path, output.errorString());
        output.cancelWriting();
        return false;
    }
    if (!output.commit()) {
        error = QStringLiteral("Cannot write %1: %2").arg(path, output.errorString());
        return false;
    }
    return true;
}

// The row the window's search or "Row Number" field makes current, or none with the reason.
std::optional<int> chooseRow(const Request& request, const RowSource& rows, const LayerIndex& layers,
                             std::optional<int> structureRow, QString& error)
{
    if (request.row)
        return request.row;
    // As a drop's print analysis leaves the window: without a start, rows from 0 and height 0.
    const PrintStart start = findPrintStart(rows, layers, structureRow);
    const int startRow = start.row.value_or(0);
    const double startHeight = start.row ? start.height : 0.0;
    const double target = *request.height + startHeight;
    const HeightChoice choice = chooseRowForHeight(rows, layers, startRow, target);
    if (!choice.row) {
        const QLocale c = QLocale::c();
        error = QStringLiteral("The height %1 mm above the print start (Z %2) was not found in %3: the print "
                               "is lower.")
                    .arg(c.toString(*request.height, 'g', 10), c.toString(target, 'f', 3), request.file);
        return std::nullopt;
    }
    return choice.row;
}

// The layer and height that each press's lines went into: those of the chosen row.
void locate(QList<Insertion>& insertions, const RowSource& rows, const LayerIndex& layers, int chosenRow)
{
    std::optional<int> layer;
    std::optional<double> z;
    if (const std::optional<std::size_t> at = layers.layerAt(chosenRow)) {
        layer = int(*at) + 1;
        z = layers.layers()[*at].z;
    } else if (const RowScans::ZLookup found = RowScans::findZLineAtOrBefore(rows, chosenRow); found.row) {
        z = found.z;
    }
    for (Insertion& insertion : insertions) {
        insertion.layer = layer;
        insertion.z = z;
    }
}

} // namespace

Outcome run(const Request& request)
{
    Outcome outcome;
    outcome.outputPath =
        request.output.isEmpty() ? defaultOutputPath(request.file, request.removeHeader) : request.output;
    if (QFileInfo::exists(outcome.outputPath) && !request.force) {
        outcome.error = QStringLiteral("%1 exists; give --force to replace it.").arg(outcome.outputPath);
        return outcome;
    }
    std::optional<int> structureRow;
    BodyBuffer body([&](const RowSource& rows) {
        if (request.height)
            structureRow = findStructureRow(rows);
    });
    SlicedFile::ReadOptions options;
    options.maxRowBytes = -1; // no row is painted here
    SlicedFile::ReadResult read = SlicedFile::read(request.file, body, options);
    if (!read.ok()) {
        outcome.error = SlicedFile::refusalText(request.file, read);
        return outcome;
    }
    const CountedRows& rows = body.rows();
    const std::optional<int> currentRow = chooseRow(request, rows, read.layers, structureRow, outcome.error);
    if (!currentRow)
        return outcome;
    if (!rows.hasRow(*currentRow)) {
        outcome.error = QStringLiteral("Row %1 is past the end of %2 (its body has %3 rows).")
                            .arg(*currentRow)
                            .arg(request.file)
                            .arg(rows.lineCount());
        return outcome;
    }
    const QList<::Insertion::Press> presses =
        ::Insertion::pressAll(*currentRow, !request.after, rows.lineCount(), pressedLines(request));
    const std::optional<::Insertion::Placement> placement =
        ::Insertion::place(rows, presses.front().row, ::Insertion::mergedBlock(presses), read.lineBreak);
    Q_ASSERT(placement); // a row the text has, or the end of the text
    for (const ::Insertion::Press& press : presses)
        outcome.insertions.append({press.row, press.lines, {}, {}});
    locate(outcome.insertions, rows, read.layers, *currentRow);
    read.layers = LayerIndex(); // gone before the write

    const QByteArrayView header = request.removeHeader ? QByteArrayView() : QByteArrayView(read.header);
    if (!write(outcome.outputPath, header, body.text(), read.lineBreak, *placement, outcome.error))
        return outcome;
    outcome.ok = true;
    return outcome;
}

QString describe(const Insertion& insertion)
{
    QString where = QStringLiteral("row %1").arg(insertion.row);
    if (insertion.layer)
        where += QStringLiteral(", layer %1").arg(*insertion.layer);
    if (insertion.z)
        where += QStringLiteral(", Z %1").arg(QLocale::c().toString(*insertion.z, 'f', 3));
    return where + QStringLiteral(": ") + insertion.lines.join(QStringLiteral(" | "));
}

} // namespace Batch
