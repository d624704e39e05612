#include "core/batch/Batch.h"
#include "core/container/BinaryGCode.h"
#include "core/container/ThreeMF.h"

#include "core/file/OutputFile.h"
#include "core/file/SlicedFile.h"
#include "core/file/SlicedFileReader.h"
#include "core/gcode/CommandLines.h"
#include "core/gcode/Insertion.h"
#include "core/layers/HollowFinder.h"
#include "core/layers/LayerIndex.h"
#include "core/machine/BackgroundPauseIndex.h"
#include "core/machine/PauseIndex.h"
#include "core/machine/PrintTimes.h"
#include "core/navigation/PrintAnalysis.h"
#include "core/navigation/RowScans.h"
#include "core/print/PausePlan.h"
#include "core/printer/PauseBlock.h"
#include "core/printer/PauseMessage.h"
#include "core/system/ProcessMemory.h"
#include "core/text/PathBytes.h"
#include "core/text/RowSource.h"
#include "core/text/Utility.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLocale>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <future>
#include <limits>
#include <new>

namespace Batch {

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
    // index reads it in place. Running out of memory throws, and the reader tells why. A stream's
    // body (size -1) grows as it comes, and the index reads a copy.
    bool reserve(qint64 bodyBytes) override
    {
        m_inPlace = bodyBytes >= 0;
        if (m_inPlace) {
            m_text.reserve(qsizetype(bodyBytes));
            ProcessMemory::preferLargePages(m_text.data(), std::size_t(bodyBytes));
        }
        if (m_inPlace && m_followStates)
            m_states.emplace(m_text.constData());
        m_capacity = m_inPlace ? bodyBytes : std::numeric_limits<qint64>::max();
        return true;
    }
    bool append(QByteArrayView bytes) override
    {
        if (m_text.size() + bytes.size() > m_capacity)
            return false; // never: the reader hands over no more than it reserved
        m_text.append(bytes);
        if (m_states)
            m_states->filled(std::size_t(m_text.size()));
        return true;
    }
    const char* bytesInPlace() const override { return m_inPlace ? m_text.constData() : nullptr; }
    bool finish() override
    {
        m_whileIndexing(m_rows.emplace(m_text));
        return true;
    }

    const QByteArray& text() const { return m_text; }
    const CountedRows& rows() const { return *m_rows; }
    // Reads the machine's state beside the read (for a pause block); call before the read.
    void followStates() { m_followStates = true; }
    // The state read beside the read, when followed; it ends with the buffer.
    BackgroundPauseIndex* states() { return m_states ? &*m_states : nullptr; }

private:
    std::function<void(const RowSource&)> m_whileIndexing;
    QByteArray m_text;
    qint64 m_capacity = 0;
    bool m_inPlace = true;
    std::optional<CountedRows> m_rows;
    bool m_followStates = false;
    std::optional<BackgroundPauseIndex> m_states;
};

// Stands for the pause in a press until it is planned at the row it lands on (Pauses::plan).
const QString kBlockMark = QStringLiteral("\x01pause block");

// The lines of each press, in the order the window's buttons are pressed: temperatures first,
// then the pause.
QList<QStringList> pressedLines(const Request& request)
{
    QList<QStringList> presses;
    if (!request.temperatureLines.isEmpty())
        presses.append(request.temperatureLines);
    if (request.pause)
        presses.append(QStringList{kBlockMark});
    return presses;
}

// Binary G-code and a 3MF keep their form in the output's name too, unless the header is removed.
QString defaultOutputPath(const QString& file, bool removeHeader, const QString& suffix)
{
    const QString name = SlicedFile::outputFileNameFor(::Insertion::defaultOutputFileName(), !removeHeader, suffix);
    return SlicedFile::folderOf(file) + QDir::separator() + name;
}

// The output suffix of the input's form, looked at before it is read: binary G-code's, a 3MF's
// (a zip archive), or empty for text and when it cannot be opened (the read then tells why).
QString inputSuffix(const QString& file, const Streams& streams)
{
    QFile opened;
    QIODevice* input = nullptr;
    if (file == kStandardStream)
        input = streams.in;
    else if (SlicedFile::openRegularFile(opened, file) == SlicedFile::Opened::Yes)
        input = &opened;
    if (input && BinaryGCode::startsBinary(*input))
        return SlicedFile::kBinaryOutputSuffix;
    if (input && ThreeMF::startsZip(*input))
        return SlicedFile::kThreeMFOutputSuffix;
    return QString();
}

// Writes the header, then the body with each placement's bytes put in (offsets ascending): the
// same bytes as writeOutput of the edited body, without moving the body's bytes to make room.
bool writeEdited(QIODevice& device, QByteArrayView header, const QByteArray& body,
                 LineBreaks::Style lineBreak, const QList<::Insertion::Placement>& placements,
                 QString& problem)
{
    const std::string_view text(body.constData(), std::size_t(body.size()));
    const QByteArrayView breakBytes = LineBreaks::bytesOf(lineBreak);
    const auto put = [&device, &problem](std::string_view bytes) {
        return SlicedFile::writeBytes(device, QByteArrayView(bytes.data(), qsizetype(bytes.size())),
                                      &problem);
    };
    if (!put({header.data(), std::size_t(header.size())}))
        return false;
    std::size_t done = 0;
    std::string_view last;
    for (const ::Insertion::Placement& placement : placements) {
        if (!put(last) || !put(text.substr(done, std::size_t(placement.offset) - done)))
            return false;
        done = std::size_t(placement.offset);
        last = std::string_view(placement.bytes.constData(), std::size_t(placement.bytes.size()));
    }
    // Only the text's last byte decides whether writeOutput adds a line break.
    const std::string_view tail = text.substr(done);
    if (tail.empty())
        return SlicedFile::writeOutput(device, {}, last, breakBytes, &problem);
    return put(last) && SlicedFile::writeOutput(device, {}, tail, breakBytes, &problem);
}

// Writes to standard output or through a save file at path: put writes every byte.
bool writeTo(const QString& path, QIODevice* standardOutput,
             const std::function<bool(QIODevice& device, QString& problem)>& put, QString& error)
{
    if (path == kStandardStream) {
        QString problem;
        if (!standardOutput || !put(*standardOutput, problem)) {
            error = QStringLiteral("Cannot write to standard output: %1")
                        .arg(!standardOutput     ? QStringLiteral("none")
                             : problem.isEmpty() ? standardOutput->errorString()
                                                 : problem);
            return false;
        }
        return true;
    }
    // Written beside the file, synced and renamed over it: the old file stays whole until then.
    const OutputFile::Written written = OutputFile::write(path, put);
    if (!written.ok())
        error = QStringLiteral("Cannot write %1: %2").arg(PathBytes::shown(path), written.problem);
    return written.ok();
}

bool write(const QString& path, QIODevice* standardOutput, QByteArrayView header, const QByteArray& body,
           LineBreaks::Style lineBreak, const QList<::Insertion::Placement>& placements,
           const BinaryGCode::Container* container, const ThreeMF::Archive* archive, QString& error)
{
    if (!container && !archive)
        return writeTo(
            path, standardOutput,
            [&](QIODevice& device, QString& problem) {
                return writeEdited(device, header, body, lineBreak, placements, problem);
            },
            error);
    // The edited text whole, then the file in the input's form around it.
    QByteArray text;
    {
        QBuffer buffer(&text);
        buffer.open(QIODevice::WriteOnly);
        QString problem;
        if (!writeEdited(buffer, header, body, lineBreak, placements, problem)) {
            error = QStringLiteral("There is not enough memory to write %1.").arg(PathBytes::shown(path));
            return false;
        }
    }
    QString problem;
    const QByteArray file =
        container ? BinaryGCode::encode(*container, text, &problem) : ThreeMF::encode(*archive, text, &problem);
    if (file.isEmpty()) {
        error = QStringLiteral("Cannot write %1: %2").arg(PathBytes::shown(path), problem);
        return false;
    }
    text = QByteArray();
    return writeTo(
        path, standardOutput,
        [&](QIODevice& device, QString& problem) { return SlicedFile::writeBytes(device, file, &problem); },
        error);
}

// What the file offers the positions: its rows, layers and print start.
struct Print
{
    const RowSource& rows;
    const LayerIndex& layers;
    const PrintStart& start;
    QString file;                           // for messages
    const std::vector<Hollow>& hollows;     // found only when a position or the request needs them
    BackgroundPauseIndex* states = nullptr; // the machine's state read beside the read, when a block needs it
    std::function<const PrintTimes&()> times; // waits for the times read beside the edit
    bool estimate = false;                    // by the program's estimate alone
    const BedShape* bed = nullptr;            // where a block may park when no visited position is clear
};

// The time from the start of the print to the row's start (the body's end past the last row).
double elapsedAt(const Print& print, int row)
{
    return timeAtRow(print.rows, print.times(), row, print.estimate);
}

QString pastTheEnd(int row, const Print& print, const Position& position)
{
    return QStringLiteral("Row %1 is past the end of %2 (its body has %3 rows), for %4.")
        .arg(row)
        .arg(print.file)
        .arg(print.rows.lineCount())
        .arg(position.text());
}

// The parts of print a request looks in, from 0: those it names, or all of them (first only for layers).
std::optional<std::vector<std::size_t>> partsOf(const Request& request, const Print& print, bool firstOnly,
                                                const Position& position, QString& error)
{
    std::vector<std::size_t> parts;
    const std::size_t count = print.layers.partCount();
    for (const int part : request.parts) {
        if (part < 1 || std::size_t(part) > count) {
            error = QStringLiteral("%1 --part %2: %3 has %4 part(s).")
                        .arg(position.text())
                        .arg(part)
                        .arg(print.file)
                        .arg(count);
            return std::nullopt;
        }
        if (std::find(parts.begin(), parts.end(), std::size_t(part - 1)) == parts.end())
            parts.push_back(std::size_t(part - 1));
    }
    std::sort(parts.begin(), parts.end());
    if (parts.empty()) {
        for (std::size_t part = 0; part < (firstOnly ? std::min<std::size_t>(count, 1) : count); ++part)
            parts.push_back(part);
    }
    return parts;
}

// The rows a position selects in the input, as the window's field selects them (a height or a
// layer in each part asked for), or none with the reason.
std::optional<QList<int>> chooseRows(const Request& request, const Position& position, const Print& print,
                                     QString& error)
{
    switch (position.by) {
    case Position::By::Row:
        if (!print.rows.hasRow(position.number)) {
            error = pastTheEnd(position.number, print, position);
            return std::nullopt;
        }
        return QList<int>{position.number};
    case Position::By::Layer: {
        const LayerSpan layers = print.layers.layers();
        if (print.layers.partCount() <= 1 && request.parts.isEmpty()) {
            if (position.number < 1 || std::size_t(position.number) > layers.size()) {
                error = QStringLiteral("%1: %2 has %3 layers.")
                            .arg(position.text(), print.file)
                            .arg(layers.size());
                return std::nullopt;
            }
            return QList<int>{layers[std::size_t(position.number) - 1].row};
        }
        const std::optional<std::vector<std::size_t>> parts = partsOf(request, print, true, position, error);
        if (!parts)
            return std::nullopt;
        if (parts->empty()) {
            error = QStringLiteral("%1: %2 has 0 layers.").arg(position.text(), print.file);
            return std::nullopt;
        }
        QList<int> rows;
        for (const std::size_t part : *parts) {
            const std::size_t begin = print.layers.partBegin(part);
            const std::size_t count = print.layers.partEnd(part) - begin;
            if (position.number < 1 || std::size_t(position.number) > count) {
                error = QStringLiteral("%1: part %2 of %3 has %4 layers.")
                            .arg(position.text())
                            .arg(part + 1)
                            .arg(print.file)
                            .arg(count);
                return std::nullopt;
            }
            rows.append(layers[begin + std::size_t(position.number) - 1].row);
        }
        return rows;
    }
    case Position::By::Hollow: {
        if (position.number < 1 || std::size_t(position.number) > print.hollows.size()) {
            error = QStringLiteral("%1: %2 has %3 hollow(s) a pause can wait for; --list-hollows lists them.")
                        .arg(position.text(), print.file)
                        .arg(print.hollows.size());
            return std::nullopt;
        }
        return QList<int>{print.hollows[std::size_t(position.number) - 1].row};
    }
    case Position::By::Time: {
        const LayerSpan layers = print.layers.layers();
        const PrintTimes& times = print.times();
        const std::optional<std::size_t> layer =
            chooseLayerForTime(print.rows, print.layers, times, position.seconds, print.estimate);
        const std::optional<int> row = layer ? std::optional<int>(layers[*layer].row) : std::nullopt;
        if (!row) {
            error = QStringLiteral("%1: %2 prints for %3 (%4)%5.")
                        .arg(position.text(), print.file, formatDuration(times.total(print.estimate)),
                             PrintTimes::sourceText(times.source(print.estimate)),
                             layers.empty() ? QStringLiteral(" and has no layers")
                             : row          ? QString()
                                            : QStringLiteral("; its first layer starts at %1")
                                         .arg(formatDuration(elapsedAt(print, layers[0].row))));
            return std::nullopt;
        }
        return QList<int>{*row};
    }
    case Position::By::Height:
        break;
    }
    // As a drop's print analysis leaves the window: without a start, rows from 0 and height 0.
    const int startRow = print.start.row.value_or(0);
    const double startHeight = print.start.row ? print.start.height : 0.0;
    // Compared as whole nanometres, as the window compares a typed height.
    const std::int64_t target = Utility::ToNanometres(position.height) + Utility::ToNanometres(startHeight);
    const std::optional<std::vector<std::size_t>> parts = partsOf(request, print, false, position, error);
    if (!parts)
        return std::nullopt;
    QList<int> rows;
    for (const HeightChoice& choice : chooseRowsForHeight(print.rows, print.layers, startRow, target)) {
        if (request.parts.isEmpty() || std::find(parts->begin(), parts->end(), choice.part) != parts->end())
            rows.append(*choice.row);
    }
    if (rows.isEmpty()) {
        const QLocale c = QLocale::c();
        QString where = print.file;
        if (!request.parts.isEmpty()) {
            QStringList named;
            for (const std::size_t part : *parts)
                named.append(QString::number(part + 1));
            where = QStringLiteral("part %1 of %2").arg(named.join(QStringLiteral(", ")), print.file);
        }
        error = QStringLiteral("%1: the height %2 mm above the print start (Z %3) was not found in %4: the "
                               "print is lower.")
                    .arg(position.text(), c.toString(position.height, 'g', 10),
                         c.toString(Utility::FromNanometres(target), 'f', 3), where);
        return std::nullopt;
    }
    return rows;
}

// The layer and height of a chosen row.
void locate(Insertion& insertion, const Print& print)
{
    if (const std::optional<std::size_t> at = print.layers.layerAt(insertion.inputRow)) {
        const std::size_t part = print.layers.partOf(*at);
        insertion.layer = int(*at - print.layers.partBegin(part)) + 1;
        insertion.part = int(part) + 1;
        insertion.manyParts = print.layers.partCount() > 1;
        insertion.z = print.layers.layers()[*at].z();
    } else if (const RowScans::ZLookup found = RowScans::findZLineAtOrBefore(print.rows, insertion.inputRow);
               found.row) {
        insertion.z = found.z;
    }
}

// Chooses every position's row on the input and makes the presses at each, from the top of the
// file down, as the window would: each position's row has moved down by the lines put in above
// it. Fills outcome.insertions and returns where their bytes go, or none with outcome.error.
std::optional<QList<::Insertion::Placement>> plan(const Request& request, const Print& print,
                                                  LineBreaks::Style lineBreak, Outcome& outcome)
{
    QList<std::pair<int, const Position*>> chosen;
    for (const Position& position : request.positions) {
        const std::optional<QList<int>> rows = chooseRows(request, position, print, outcome.error);
        if (!rows)
            return std::nullopt;
        for (const int row : *rows) {
            if (!::Insertion::canInsertAt(print.rows, row)) {
                outcome.error = QStringLiteral("Row %1 takes no insertion: the window keeps it for searches "
                                               "that find nothing (%2 chose it).")
                                    .arg(row)
                                    .arg(position.text());
                return std::nullopt;
            }
            chosen.append({row, &position});
        }
    }
    std::stable_sort(chosen.begin(), chosen.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (qsizetype i = 1; i < chosen.size(); ++i) {
        if (chosen[i].first == chosen[i - 1].first) {
            outcome.error = QStringLiteral("%1 and %2 both choose row %3: give each row once.")
                                .arg(chosen[i - 1].second->text(), chosen[i].second->text())
                                .arg(chosen[i].first);
            return std::nullopt;
        }
    }

    QList<::Insertion::Placement> placements;
    const QList<QStringList> lines = pressedLines(request);
    int shift = 0; // the lines put in above the current position
    // The machine read from the top down to each position, the lines put in above it included.
    MachineTracker machine;
    std::size_t read = 0;
    for (const auto& [row, position] : chosen) {
        QList<::Insertion::Press> presses =
            ::Insertion::pressAll(row + shift, !request.after, print.rows.lineCount() + shift, lines);
        Insertion insertion;
        insertion.inputRow = row;
        insertion.lines = ::Insertion::mergedBlock(presses);
        insertion.outputRow = presses.front().row;
        if (const qsizetype mark = insertion.lines.indexOf(kBlockMark); mark >= 0) {
            const bool needsState = Pauses::needsState(request.printer);
            if (needsState) {
                const int inputRow = insertion.outputRow - shift;
                const std::string_view text = print.rows.bytes();
                const std::size_t offset = inputRow < print.rows.physicalRowCount()
                                               ? std::size_t(print.rows.rowStart(inputRow))
                                               : text.size();
                if (read == 0 && print.states) {
                    // The first block: read on from the checkpoint the thread beside the read left.
                    machine = print.states->finishAt(offset, text.size()).trackerAt(text, offset);
                } else {
                    machine.rows(text.substr(read, offset - read));
                }
                read = offset;
                for (qsizetype i = 0; i < mark; ++i)
                    machine.row(insertion.lines[i].toStdString());
            }
            const PausePlan pause =
                Pauses::plan({request.printer, request.pauseSettings, request.message},
                             needsState ? machine.pauseContext(print.bed) : PauseContext(), print.bed);
            if (!pause.parkClear()) {
                outcome.error =
                    QStringLiteral("%1 (row %2): %3. Give --park X,Y, or a \"bed\" in the printer's "
                                   "profile where the file describes none.")
                        .arg(position->text())
                        .arg(row)
                        .arg(pause.refusal());
                return std::nullopt;
            }
            insertion.notes = pause.notes;
            if (needsState) {
                for (const QString& line : pause.lines)
                    machine.row(line.toStdString());
                for (qsizetype i = mark + 1; i < insertion.lines.size(); ++i)
                    machine.row(insertion.lines[i].toStdString());
            }
            insertion.lines.remove(mark);
            for (qsizetype i = 0; i < pause.lines.size(); ++i)
                insertion.lines.insert(mark + i, pause.lines[i]);
            for (::Insertion::Press& press : presses) {
                if (press.lines == QStringList{kBlockMark})
                    press.lines = pause.lines;
            }
        }
        for (const ::Insertion::Press& press : presses)
            insertion.presses.append({press.row, press.lines});
        const std::optional<::Insertion::Placement> placement =
            ::Insertion::place(print.rows, insertion.outputRow - shift, insertion.lines, lineBreak);
        if (!placement) {
            outcome.error = pastTheEnd(insertion.outputRow - shift, print, *position);
            return std::nullopt;
        }
        locate(insertion, print);
        insertion.elapsed = elapsedAt(print, insertion.outputRow - shift);
        placements.append(*placement);
        shift += int(insertion.lines.size());
        outcome.insertions.append(std::move(insertion));
    }
    return placements;
}

} // namespace

QString Position::text() const
{
    switch (by) {
    case By::Height:
        return QStringLiteral("--height ") + QLocale::c().toString(height, 'g', 10);
    case By::Row:
        return QStringLiteral("--row %1").arg(number);
    case By::Layer:
        return QStringLiteral("--layer %1").arg(number);
    case By::Hollow:
        return QStringLiteral("--hollow %1").arg(number);
    case By::Time:
        return QStringLiteral("--time ") + QLocale::c().toString(seconds, 'g', 10);
    }
    return {};
}

static QString timeSourceName(PrintTimes::Source source)
{
    return source == PrintTimes::Source::Slicer ? QStringLiteral("slicer") : QStringLiteral("estimate");
}

// The edit behind run(), which turns running out of memory into a message.
static Outcome edit(const Request& request, const Streams& streams)
{
    Outcome outcome;
    outcome.inputPath = request.file;
    if (request.inPlace)
        outcome.outputPath = request.file;
    else if (request.output.isEmpty())
        outcome.outputPath =
            defaultOutputPath(request.file, request.removeHeader, inputSuffix(request.file, streams));
    else
        outcome.outputPath = request.output;
    if (request.listHollows)
        outcome.outputPath.clear(); // nothing is written
    if (request.positions.isEmpty() && !request.listHollows) {
        outcome.error = QStringLiteral("No row chosen: give --height H, --row N or --layer N.");
        return outcome;
    }
    if (!request.message.isEmpty()) {
        if (const QString problem = PauseMessage::problem(request.message); !problem.isEmpty()) {
            outcome.error = problem;
            return outcome;
        }
    }
    // A link or a special file is refused whatever --force says.
    if (!request.listHollows && outcome.outputPath != kStandardStream) {
        if (const QString problem = OutputFile::targetProblem(outcome.outputPath); !problem.isEmpty()) {
            outcome.error = problem;
            return outcome;
        }
    }
    if (!request.listHollows && !request.inPlace && !request.force && outcome.outputPath != kStandardStream &&
        OutputFile::exists(outcome.outputPath)) {
        outcome.error = QStringLiteral("%1 exists; give --force to replace it.")
                            .arg(PathBytes::shown(outcome.outputPath));
        return outcome;
    }
    std::optional<int> structureRow;
    BodyBuffer body([&](const RowSource& rows) { structureRow = findStructureRow(rows); });
    if (request.pause && request.printer.parks && !request.listHollows)
        body.followStates();
    SlicedFile::ReadOptions options;
    options.maxRowBytes = -1; // no row is painted here
    options.plate = request.plate;
    const bool fromStream = request.file == kStandardStream;
    if (fromStream && !streams.in) {
        outcome.error = QStringLiteral("No standard input to read the sliced file from.");
        return outcome;
    }
    SlicedFile::ReadResult read = fromStream ? SlicedFile::read(*streams.in, body, options)
                                             : SlicedFile::read(request.file, body, options);
    if (!read.ok()) {
        outcome.error =
            SlicedFile::refusalText(fromStream ? QStringLiteral("Standard input") : request.file, read);
        return outcome;
    }
    const CountedRows& rows = body.rows();
    const PrintStart start = findPrintStart(rows, read.layers, structureRow);
    outcome.printStartRow = start.row;
    outcome.printStartZ = start.row ? start.height : 0.0;
    if (const LayerSpan layers = read.layers.layers(); !layers.empty()) {
        for (std::size_t part = 0; part < read.layers.partCount(); ++part) {
            const std::size_t begin = read.layers.partBegin(part);
            const std::size_t end = read.layers.partEnd(part);
            const Layer top = layers[end - 1];
            outcome.parts.append({layers[begin].row, int(end - begin), top.row, top.z()});
            if (!outcome.topLayer || top.nanometres > Layer(0, outcome.topLayerZ).nanometres) {
                outcome.topLayer = int(end - begin);
                outcome.topLayerRow = top.row;
                outcome.topLayerZ = top.z();
            }
        }
    }
    // The times, on a thread of their own beside the rest of the edit.
    std::shared_future<PrintTimes> timesFuture =
        std::async(std::launch::async, [&] {
            return PrintTimes::compute({read.header.constData(), std::size_t(read.header.size())},
                                       rows.bytes(), MotionLimits::forFirmware(request.printer.name));
        }).share();
    const auto times = [&timesFuture]() -> const PrintTimes& { return timesFuture.get(); };
    // The same search as the window runs after a drop, on the body as read.
    std::vector<Hollow> hollows;
    if (request.listHollows || std::any_of(request.positions.begin(), request.positions.end(),
                                           [](const Position& p) { return p.by == Position::By::Hollow; }))
        hollows = HollowFinder::find(rows.bytes(), read.layers);
    if (request.listHollows) {
        QList<ListedHollow> listed;
        for (const Hollow& hollow : hollows) {
            const std::size_t offset = std::size_t(rows.rowStart(hollow.row));
            listed.append({int(hollow.layer) + 1, hollow.z, hollow.row, hollow.area, hollow.x, hollow.y,
                           times().at(offset, request.estimate)});
        }
        outcome.hollows = std::move(listed);
        outcome.printTime = times().total(request.estimate);
        outcome.timeSource = timeSourceName(times().source(request.estimate));
        outcome.ok = true;
        return outcome;
    }
    std::optional<BedShape> bed;
    if (request.pause && request.printer.parks)
        bed = PauseBlocks::bedFor(request.printer, rows.bytes());
    const std::optional<QList<::Insertion::Placement>> placements =
        plan(request,
             {rows, read.layers, start, PathBytes::shown(request.file), hollows, body.states(), times,
              request.estimate, bed ? &*bed : nullptr},
             read.lineBreak, outcome);
    if (!placements)
        return outcome;
    outcome.printTime = times().total(request.estimate);
    outcome.timeSource = timeSourceName(times().source(request.estimate));
    read.layers = LayerIndex(); // gone before the write
    if (request.dryRun) {
        outcome.ok = true;
        return outcome;
    }
    const QByteArrayView header = request.removeHeader ? QByteArrayView() : QByteArrayView(read.header);
    // The header removed, the output is plain text whatever the input's form.
    const BinaryGCode::Container* container = request.removeHeader ? nullptr : read.container.get();
    const ThreeMF::Archive* archive = request.removeHeader ? nullptr : read.archive.get();
    if (!write(outcome.outputPath, streams.out, header, body.text(), read.lineBreak, *placements, container,
               archive, outcome.error))
        return outcome;
    outcome.ok = outcome.written = true;
    return outcome;
}

Outcome run(const Request& request, const Streams& streams)
{
    try {
        return edit(request, streams);
    } catch (const std::bad_alloc&) {
        Outcome outcome;
        outcome.error = QStringLiteral("There is not enough memory to edit %1.").arg(request.file);
        return outcome;
    }
}

QStringList describe(const Insertion& insertion)
{
    QString where;
    if (insertion.part && insertion.manyParts)
        where += QStringLiteral(", part %1").arg(*insertion.part);
    if (insertion.layer)
        where += QStringLiteral(", layer %1").arg(*insertion.layer);
    if (insertion.z)
        where += QStringLiteral(", Z %1").arg(QLocale::c().toString(*insertion.z, 'f', 3));
    where += QStringLiteral(", %1 into the print, input row %2: ")
                 .arg(formatDuration(insertion.elapsed))
                 .arg(insertion.inputRow);
    QStringList lines;
    for (const Press& press : insertion.presses)
        lines.append(QStringLiteral("row %1").arg(press.row) + where +
                     press.lines.join(QStringLiteral(" | ")));
    return lines;
}

QString describe(const ListedHollow& hollow)
{
    const QLocale c = QLocale::c();
    return QStringLiteral("layer %1, Z %2, row %3: hollow of %4 mm² at X %5 Y %6, %7 into the print")
        .arg(hollow.layer)
        .arg(c.toString(hollow.z, 'f', 3))
        .arg(hollow.row)
        .arg(c.toString(hollow.area, 'f', 1), c.toString(hollow.x, 'f', 1), c.toString(hollow.y, 'f', 1),
             formatDuration(hollow.elapsed));
}

QJsonObject toJson(const Outcome& outcome)
{
    // Numbers as the file writes them, without a double's binary noise (100.00000000000146).
    const auto exact = [](double value) { return QJsonValue(Utility::RoundedToNanometres(value)); };
    const auto orNull = [](const auto& value) { return value ? QJsonValue(*value) : QJsonValue(); };
    QJsonArray insertions;
    for (const Insertion& insertion : outcome.insertions) {
        insertions.append(QJsonObject{
            {QStringLiteral("inputRow"), insertion.inputRow},
            {QStringLiteral("outputRow"), insertion.outputRow},
            {QStringLiteral("layer"), orNull(insertion.layer)},
            {QStringLiteral("part"), orNull(insertion.part)},
            {QStringLiteral("z"), insertion.z ? exact(*insertion.z) : QJsonValue()},
            {QStringLiteral("elapsed"), insertion.elapsed},
            {QStringLiteral("lines"), QJsonArray::fromStringList(insertion.lines)},
            {QStringLiteral("notes"), QJsonArray::fromStringList(insertion.notes)},
        });
    }
    QJsonValue printStart;
    if (outcome.printStartRow)
        printStart = QJsonObject{{QStringLiteral("row"), *outcome.printStartRow},
                                 {QStringLiteral("z"), exact(outcome.printStartZ)}};
    QJsonValue topLayer;
    if (outcome.topLayer)
        topLayer = QJsonObject{{QStringLiteral("layer"), *outcome.topLayer},
                               {QStringLiteral("row"), outcome.topLayerRow},
                               {QStringLiteral("z"), exact(outcome.topLayerZ)}};
    QJsonArray parts;
    for (qsizetype i = 0; i < outcome.parts.size(); ++i) {
        const Outcome::Part& part = outcome.parts[i];
        parts.append(QJsonObject{{QStringLiteral("part"), int(i) + 1},
                                 {QStringLiteral("firstRow"), part.firstRow},
                                 {QStringLiteral("topLayer"), QJsonObject{{QStringLiteral("layer"), part.topLayer},
                                                                          {QStringLiteral("row"), part.topLayerRow},
                                                                          {QStringLiteral("z"), exact(part.topLayerZ)}}}});
    }
    QJsonObject report{
        {QStringLiteral("input"), PathBytes::shown(outcome.inputPath)},
        // A run that writes nothing (a list) names no output.
        {QStringLiteral("output"), outcome.outputPath.isEmpty() ? QJsonValue()
                                                                 : QJsonValue(PathBytes::shown(outcome.outputPath))},
        {QStringLiteral("written"), outcome.written},
        {QStringLiteral("printStart"), printStart},
        {QStringLiteral("topLayer"), topLayer},
        {QStringLiteral("parts"), parts},
        {QStringLiteral("insertions"), insertions},
    };
    if (!outcome.timeSource.isEmpty()) {
        report.insert(QStringLiteral("printTime"), outcome.printTime);
        report.insert(QStringLiteral("timeSource"), outcome.timeSource);
    }
    if (outcome.hollows) {
        QJsonArray hollows;
        for (const ListedHollow& hollow : *outcome.hollows)
            hollows.append(QJsonObject{{QStringLiteral("layer"), hollow.layer},
                                       {QStringLiteral("z"), exact(hollow.z)},
                                       {QStringLiteral("row"), hollow.row},
                                       {QStringLiteral("area"), exact(hollow.area)},
                                       {QStringLiteral("x"), exact(hollow.x)},
                                       {QStringLiteral("y"), exact(hollow.y)},
                                       {QStringLiteral("elapsed"), hollow.elapsed}});
        report.insert(QStringLiteral("hollows"), hollows);
    }
    return report;
}

} // namespace Batch
