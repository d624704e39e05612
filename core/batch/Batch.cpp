#include "core/batch/Batch.h"

#include "core/gcode/CommandLines.h"
#include "core/gcode/LayerIndex.h"
#include "core/gcode/SlicedFile.h"
#include "core/navigation/PrintAnalysis.h"
#include "core/navigation/RowScans.h"
#include "core/navigation/RowSource.h"
#include "core/text/Utility.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLocale>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace Batch {

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
QList<Press> pressButtons(const Request& request, int currentRow)
{
    QList<Press> presses;
    const bool before = !request.after;
    const QStringList temperatures = CommandLines::temperatureLines(request.t0, request.t1, request.bed);
    if (!temperatures.isEmpty()) {
        currentRow = CommandLines::insertionRow(currentRow, before);
        presses.append({currentRow, temperatures});
    }
    if (request.pause) {
        currentRow = CommandLines::insertionRow(currentRow, before);
        presses.append({currentRow, {CommandLines::pauseLine()}});
    }
    return presses;
}

// Every press lands inside the block of lines the first one made, so the result is that
// block, put in as the editor puts in rows at the first press's row.
QStringList mergedBlock(const QList<Press>& presses)
{
    QStringList block;
    const int first = presses.front().row;
    for (const Press& press : presses) {
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

// Writes the header, then the body with each placement's bytes put in (offsets ascending): the
// same bytes as writeOutput of the edited body, without moving the body's bytes to make room.
bool writeEdited(QIODevice& device, QByteArrayView header, const Body& body,
                 const QList<Placement>& placements)
{
    const std::string_view text(body.text.constData(), std::size_t(body.text.size()));
    const auto put = [&device](std::string_view bytes) {
        return bytes.empty() || device.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
    };
    if (!put({header.data(), std::size_t(header.size())}))
        return false;
    std::size_t done = 0;
    std::string_view last;
    for (const Placement& placement : placements) {
        if (!put(last) || !put(text.substr(done, std::size_t(placement.offset) - done)))
            return false;
        done = std::size_t(placement.offset);
        last = std::string_view(placement.bytes.constData(), std::size_t(placement.bytes.size()));
    }
    // Only the text's last byte decides whether writeOutput adds a line break.
    const std::string_view tail = text.substr(done);
    if (tail.empty())
        return SlicedFile::writeOutput(device, {}, last, body.lineBreak);
    return put(last) && SlicedFile::writeOutput(device, {}, tail, body.lineBreak);
}

bool write(const QString& path, QIODevice* standardOutput, QByteArrayView header, const Body& body,
           const QList<Placement>& placements, QString& error)
{
    if (path == kStandardStream) {
        if (!standardOutput || !writeEdited(*standardOutput, header, body, placements)) {
            error = QStringLiteral("Cannot write to standard output: %1")
                        .arg(standardOutput ? standardOutput->errorString() : QStringLiteral("none"));
            return false;
        }
        return true;
    }
    // Written beside the file, synced and renamed over it: the old file stays whole until then.
    QSaveFile output(path);
    if (!output.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("Cannot write %1: %2").arg(path, output.errorString());
        return false;
    }
    if (!writeEdited(output, header, body, placements)) {
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

// What the file offers the positions: its rows, layers and print start.
struct Print
{
    const RowSource& rows;
    const LayerIndex& layers;
    const PrintStart& start;
    QString file; // for messages
};

QString pastTheEnd(int row, const Print& print, const Position& position)
{
    return QStringLiteral("Row %1 is past the end of %2 (its body has %3 rows), for %4.")
        .arg(row)
        .arg(print.file)
        .arg(print.rows.lineCount())
        .arg(position.text());
}

// The row a position selects in the input, as the window's field selects it, or none with the reason.
std::optional<int> chooseRow(const Position& position, const Print& print, QString& error)
{
    switch (position.by) {
    case Position::By::Row:
        if (position.number > print.rows.lineCount()) {
            error = pastTheEnd(position.number, print, position);
            return std::nullopt;
        }
        return position.number;
    case Position::By::Layer: {
        const std::vector<Layer>& layers = print.layers.layers();
        if (position.number < 1 || std::size_t(position.number) > layers.size()) {
            error =
                QStringLiteral("%1: %2 has %3 layers.").arg(position.text(), print.file).arg(layers.size());
            return std::nullopt;
        }
        return layers[std::size_t(position.number) - 1].row;
    }
    case Position::By::Height:
        break;
    }
    // As a drop's print analysis leaves the window: without a start, rows from 0 and height 0.
    const int startRow = print.start.row.value_or(0);
    const double startHeight = print.start.row ? print.start.height : 0.0;
    const double target = position.height + startHeight;
    const HeightChoice choice = chooseRowForHeight(print.rows, print.layers, startRow, target);
    if (!choice.row) {
        const QLocale c = QLocale::c();
        error = QStringLiteral("%1: the height %2 mm above the print start (Z %3) was not found in %4: the "
                               "print is lower.")
                    .arg(position.text(), c.toString(position.height, 'g', 10), c.toString(target, 'f', 3),
                         print.file);
        return std::nullopt;
    }
    return choice.row;
}

// The layer and height of a chosen row.
void locate(Insertion& insertion, const Print& print)
{
    if (const std::optional<std::size_t> at = print.layers.layerAt(insertion.inputRow)) {
        insertion.layer = int(*at) + 1;
        insertion.z = print.layers.layers()[*at].z;
    } else if (const RowScans::ZLookup found = RowScans::findZLineAtOrBefore(print.rows, insertion.inputRow);
               found.row) {
        insertion.z = found.z;
    }
}

// Chooses every position's row on the input and makes the presses at each, from the top of the
// file down, as the window would: each position's row has moved down by the lines put in above
// it. Fills outcome.insertions and returns where their bytes go, or none with outcome.error.
std::optional<QList<Placement>> plan(const Request& request, const Print& print, QByteArrayView lineBreak,
                                     Outcome& outcome)
{
    QList<std::pair<int, const Position*>> chosen;
    for (const Position& position : request.positions) {
        const std::optional<int> row = chooseRow(position, print, outcome.error);
        if (!row)
            return std::nullopt;
        chosen.append({*row, &position});
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

    QList<Placement> placements;
    int shift = 0; // the lines put in above the current position
    for (const auto& [row, position] : chosen) {
        Insertion insertion;
        insertion.inputRow = row;
        insertion.presses = pressButtons(request, row + shift);
        insertion.lines = mergedBlock(insertion.presses);
        insertion.outputRow = insertion.presses.front().row;
        const std::optional<Placement> placement =
            place(print.rows, insertion.outputRow - shift, insertion.lines, lineBreak);
        if (!placement) {
            outcome.error = pastTheEnd(insertion.outputRow - shift, print, *position);
            return std::nullopt;
        }
        locate(insertion, print);
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
    }
    return {};
}

Outcome run(const Request& request, const Streams& streams)
{
    Outcome outcome;
    outcome.inputPath = request.file;
    if (request.inPlace)
        outcome.outputPath = request.file;
    else if (request.output.isEmpty())
        outcome.outputPath = defaultOutputPath(request.file, request.removeHeader);
    else
        outcome.outputPath = request.output;
    if (request.positions.isEmpty()) {
        outcome.error = QStringLiteral("No row chosen: give --height H, --row N or --layer N.");
        return outcome;
    }
    if (!request.inPlace && !request.force && outcome.outputPath != kStandardStream &&
        QFileInfo::exists(outcome.outputPath)) {
        outcome.error = QStringLiteral("%1 exists; give --force to replace it.").arg(outcome.outputPath);
        return outcome;
    }
    std::optional<Body> body;
    std::optional<QList<Placement>> placements;
    {
        // The indexes are gone before the write.
        LayerIndex layers;
        std::optional<CountedRows> rowIndex;
        std::optional<int> structureRow;
        body = readSlicedFile(request.file, outcome.error, layers, rowIndex,
                              [&](const RowSource& rows) { structureRow = findStructureRow(rows); });
        if (!body)
            return outcome;
        const CountedRows& rows = *rowIndex;
        const PrintStart start = findPrintStart(rows, layers, structureRow);
        outcome.printStartRow = start.row;
        outcome.printStartZ = start.row ? start.height : 0.0;
        if (!layers.layers().empty()) {
            outcome.topLayer = int(layers.layers().size());
            outcome.topLayerRow = layers.layers().back().row;
            outcome.topLayerZ = layers.layers().back().z;
        }
        placements = plan(request, {rows, layers, start, request.file}, body->lineBreak, outcome);
        if (!placements)
            return outcome;
    }
    if (request.dryRun) {
        outcome.ok = true;
        return outcome;
    }
    const QByteArrayView header = request.removeHeader ? QByteArrayView() : QByteArrayView(body->header);
    if (!write(outcome.outputPath, streams.out, header, *body, *placements, outcome.error))
        return outcome;
    outcome.ok = outcome.written = true;
    return outcome;
}

QStringList describe(const Insertion& insertion)
{
    QString where;
    if (insertion.layer)
        where += QStringLiteral(", layer %1").arg(*insertion.layer);
    if (insertion.z)
        where += QStringLiteral(", Z %1").arg(QLocale::c().toString(*insertion.z, 'f', 3));
    where += QStringLiteral(", input row %1: ").arg(insertion.inputRow);
    QStringList lines;
    for (const Press& press : insertion.presses)
        lines.append(QStringLiteral("row %1").arg(press.row) + where +
                     press.lines.join(QStringLiteral(" | ")));
    return lines;
}

QJsonObject toJson(const Outcome& outcome)
{
    const auto orNull = [](const auto& value) { return value ? QJsonValue(*value) : QJsonValue(); };
    QJsonArray insertions;
    for (const Insertion& insertion : outcome.insertions) {
        insertions.append(QJsonObject{
            {QStringLiteral("inputRow"), insertion.inputRow},
            {QStringLiteral("outputRow"), insertion.outputRow},
            {QStringLiteral("layer"), orNull(insertion.layer)},
            {QStringLiteral("z"), orNull(insertion.z)},
            {QStringLiteral("lines"), QJsonArray::fromStringList(insertion.lines)},
        });
    }
    QJsonValue printStart;
    if (outcome.printStartRow)
        printStart = QJsonObject{{QStringLiteral("row"), *outcome.printStartRow},
                                 {QStringLiteral("z"), outcome.printStartZ}};
    QJsonValue topLayer;
    if (outcome.topLayer)
        topLayer = QJsonObject{{QStringLiteral("layer"), *outcome.topLayer},
                               {QStringLiteral("row"), outcome.topLayerRow},
                               {QStringLiteral("z"), outcome.topLayerZ}};
    return QJsonObject{
        {QStringLiteral("input"), outcome.inputPath}, {QStringLiteral("output"), outcome.outputPath},
        {QStringLiteral("written"), outcome.written}, {QStringLiteral("printStart"), printStart},
        {QStringLiteral("topLayer"), topLayer},       {QStringLiteral("insertions"), insertions},
    };
}

} // namespace Batch
