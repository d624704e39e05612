#include "core/batch/Batch.h"

#include "core/gcode/CommandLines.h"
#include "core/gcode/LayerIndex.h"
#include "core/gcode/SlicedFile.h"
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
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace Batch {

namespace {

// The row that searches land on when they find nothing; the window takes no insertion there.
constexpr int kNoInsertionRow = 1;

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
        if (*request.row == kNoInsertionRow)
            return refuse(QStringLiteral("--row 1 takes no insertion: the window keeps row 1 for searches "
                                         "that find nothing. Choose another row."));
    }

    const std::pair<const QCommandLineOption*, QString*> temperatures[] = {
        {&m_t0, &request.t0}, {&m_t1, &request.t1}, {&m_bed, &request.bed}};
    for (const auto& [option, canonical] : temperatures) {
        const QString text = m_parser.value(*option);
        if (Utility::StripBlanks(text).isEmpty())
            continue; // as an empty field: no line
        const std::optional<int> value = CommandLines::checkedTemperature(text);
        if (!value)
            return refuse(QStringLiteral("--%1 \"%2\" is not a temperature (a whole number from 0 to 999).")
                              .arg(option->names().front(), text));
        *canonical = QString::number(*value);
    }
    request.pause = m_parser.isSet(m_pause);
    if (!request.pause && request.t0.isEmpty() && request.t1.isEmpty() && request.bed.isEmpty())
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

struct Body
{
    QByteArray header;
    QByteArray text;
    QByteArrayView lineBreak;
};

// Indexes the layers of a body on a thread of its own while the body is read, from the bytes
// where they lie: the reader says how far the text is complete and never moves it meanwhile.
class LayerIndexBeside
{
public:
    LayerIndexBeside(const QByteArray& text, std::size_t expectedBytes)
        : m_text(text), m_builder(expectedBytes), m_thread([this] { run(); })
    {
    }
    ~LayerIndexBeside() { finish(); }

    // The text is complete up to bytes.
    void readUpTo(qsizetype bytes)
    {
        {
            std::lock_guard lock(m_mutex);
            m_readUpTo = bytes;
        }
        m_changed.notify_one();
    }
    // Waits for the index of every byte read; the text may move again afterwards.
    LayerIndex finish()
    {
        if (m_thread.joinable()) {
            {
                std::lock_guard lock(m_mutex);
                m_ended = true;
            }
            m_changed.notify_one();
            m_thread.join();
        }
        return m_builder.finish();
    }

private:
    void run()
    {
        qsizetype done = 0;
        for (;;) {
            qsizetype upTo = 0;
            bool ended = false;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] { return m_readUpTo > done || m_ended; });
                upTo = m_readUpTo;
                ended = m_ended;
            }
            if (upTo > done)
                m_builder.add(std::string_view(m_text.constData() + done, std::size_t(upTo - done)));
            done = upTo;
            if (ended)
                return;
        }
    }

    const QByteArray& m_text;
    LayerIndex::Builder m_builder;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    qsizetype m_readUpTo = 0;
    bool m_ended = false;
    std::thread m_thread;
};

// Reads FILE once, as a drop reads it: the header, then every body byte, straight into the
// body's own bytes. The layers are indexed beside the read; the rows are indexed, and
// whileIndexing runs on them, while the layer index finishes.
std::optional<Body> readSlicedFile(const QString& path, QString& error, LayerIndex& layers,
                                   std::optional<CountedRows>& rows,
                                   const std::function<void(const RowSource&)>& whileIndexing)
{
    if (QFileInfo(path).isDir()) {
        error = QStringLiteral("%1 is a folder, not a sliced G-code file.").arg(path);
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        error = QStringLiteral("Cannot open %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    SlicedFile::HeaderRead header = SlicedFile::readHeader(file);
    if (header.check != SlicedFile::HeaderCheck::Fits) {
        error = QStringLiteral("%1 is not a sliced G-code file: %2")
                    .arg(path, SlicedFile::headerProblem(header.check));
        return std::nullopt;
    }
    Body body;
    body.header = std::move(header.bytes);
    // Room for the body as the file's size gives it; a file that grows meanwhile is read on
    // once the index has what fits.
    const qsizetype expected = qMax<qint64>(0, file.size() - body.header.size());
    body.text.resize(expected);
    qsizetype got = 0;
    bool failed = false;
    {
        LayerIndexBeside index(body.text, std::size_t(expected));
        while (got < expected) {
            const qint64 n = file.read(body.text.data() + got, qMin(expected - got, SlicedFile::kReadChunk));
            if (n <= 0) {
                failed = n < 0;
                break;
            }
            got += qsizetype(n);
            index.readUpTo(got);
        }
        if (got == expected)
            whileIndexing(rows.emplace(body.text));
        layers = index.finish();
        body.text.truncate(got);
        if (!failed && got == expected) {
            // Whatever the file gained since its size was taken.
            const SlicedFile::BodyRead more =
                SlicedFile::readBody(file, [&body](QByteArrayView bytes) { body.text.append(bytes); });
            failed = !more.ok;
            if (body.text.size() > got)
                layers =
                    LayerIndex::build(std::string_view(body.text.constData(), std::size_t(body.text.size())));
        }
        if (!rows || rows->bytes().size() != std::size_t(body.text.size()))
            whileIndexing(rows.emplace(body.text));
    }
    if (failed) {
        error = QStringLiteral("Cannot read %1 to its end: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const qsizetype lf = body.text.indexOf('\n');
    const bool crLf = lf > 0 && body.text.at(lf - 1) == '\r'; // at(): operator[] would copy the shared text
    body.lineBreak = crLf ? QByteArrayView("\r\n") : QByteArrayView("\n");
    return body;
}

// The window's presses as steps: temperatures first, then the pause; before each press the
// current row moves to the insertion row, and the press inserts its lines there.
QList<Insertion> pressButtons(const Request& request, int currentRow)
{
    QList<Insertion> presses;
    const bool before = !request.after;
    const QStringList temperatures = CommandLines::temperatureLines(request.t0, request.t1, request.bed);
    if (!temperatures.isEmpty()) {
        currentRow = CommandLines::insertionRow(currentRow, before);
        presses.append({currentRow, temperatures, {}, {}});
    }
    if (request.pause) {
        currentRow = CommandLines::insertionRow(currentRow, before);
        presses.append({currentRow, {CommandLines::pauseLine()}, {}, {}});
    }
    return presses;
}

// Every press lands inside the block of lines the first one made, so the result is that
// block, put in as the editor puts in rows at the first press's row.
QStringList mergedBlock(const QList<Insertion>& presses)
{
    QStringList block;
    const int first = presses.front().row;
    for (const Insertion& press : presses) {
        const qsizetype at = qBound(qsizetype(0), qsizetype(press.row - first), block.size());
        for (qsizetype i = 0; i < press.lines.size(); ++i)
            block.insert(at + i, press.lines[i]);
    }
    return block;
}

struct Placement
{
    qsizetype offset = 0;
    QByteArray bytes;
};

// Where and what the editor inserts to make block rows row.. of the text, or none when
// the text has no such row (the editor then inserts nothing).
std::optional<Placement> place(const RowSource& rows, int row, const QStringList& block,
                               QByteArrayView lineBreak)
{
    const int count = rows.lineCount();
    if (row < 0 || row > count)
        return std::nullopt;
    const QByteArray lineBreakBytes = lineBreak.toByteArray();
    QByteArray lines;
    for (qsizetype i = 0; i < block.size(); ++i) {
        if (i > 0)
            lines += lineBreakBytes;
        lines += block[i].toLatin1();
    }
    const auto length = qsizetype(rows.bytes().size());
    if (row < count)
        return Placement{rows.rowStart(row), lines + lineBreakBytes};
    const bool endsWithBreak = count < rows.physicalRowCount();
    if (length == 0 || endsWithBreak)
        return Placement{length, lines + lineBreakBytes};
    return Placement{length, lineBreakBytes + lines};
}

QString defaultOutputPath(const QString& file, bool removeHeader)
{
    const QString name = SlicedFile::outputFileNameFor(QStringLiteral("Borvane.gx"), !removeHeader);
    return SlicedFile::folderOf(file) + QDir::separator() + name;
}

// Writes the header, then the body with the placement's bytes put in: the same bytes as
// writeOutput of the edited body, without moving the body's bytes to make room.
bool writeEdited(QIODevice& device, QByteArrayView header, const Body& body, const Placement& placement)
{
    const std::string_view text(body.text.constData(), std::size_t(body.text.size()));
    const std::string_view head = text.substr(0, std::size_t(placement.offset));
    const std::string_view tail = text.substr(std::size_t(placement.offset));
    const std::string_view block(placement.bytes.constData(), std::size_t(placement.bytes.size()));
    const auto put = [&device](std::string_view bytes) {
        return bytes.empty() || device.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
    };
    if (!put({header.data(), std::size_t(header.size())}) || !put(head))
        return false;
    // Only the text's last byte decides whether writeOutput adds a line break.
    if (tail.empty())
        return SlicedFile::writeOutput(device, {}, block, body.lineBreak);
    return put(block) && SlicedFile::writeOutput(device, {}, tail, body.lineBreak);
}

bool write(const QString& path, const Body& body, const Placement& placement, bool withHeader, QString& error)
{
    QSaveFile output(path);
    if (!output.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("Cannot write %1: %2").arg(path, output.errorString());
        return false;
    }
    const QByteArrayView header = withHeader ? QByteArrayView(body.header) : QByteArrayView();
    if (!writeEdited(output, header, body, placement)) {
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
    std::optional<Body> body;
    std::optional<Placement> placement;
    {
        // The indexes are gone before the write.
        LayerIndex layers;
        std::optional<CountedRows> rowIndex;
        std::optional<int> structureRow;
        body = readSlicedFile(request.file, outcome.error, layers, rowIndex, [&](const RowSource& rows) {
            if (request.height)
                structureRow = findStructureRow(rows);
        });
        if (!body)
            return outcome;
        const CountedRows& rows = *rowIndex;
        const std::optional<int> currentRow = chooseRow(request, rows, layers, structureRow, outcome.error);
        if (!currentRow)
            return outcome;
        const auto pastTheEnd = [&](int row) {
            outcome.error = QStringLiteral("Row %1 is past the end of %2 (its body has %3 rows).")
                                .arg(row)
                                .arg(request.file)
                                .arg(rows.lineCount());
            return outcome;
        };
        if (*currentRow > rows.lineCount())
            return pastTheEnd(*currentRow); // before counting on from it
        outcome.insertions = pressButtons(request, *currentRow);
        const int row = outcome.insertions.front().row;
        placement = place(rows, row, mergedBlock(outcome.insertions), body->lineBreak);
        if (!placement)
            return pastTheEnd(row);
        locate(outcome.insertions, rows, layers, *currentRow);
    }
    if (!write(outcome.outputPath, *body, *placement, !request.removeHeader, outcome.error))
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
