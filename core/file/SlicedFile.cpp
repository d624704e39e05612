#include "core/file/SlicedFile.h"

#include "core/text/LineBreaks.h"
#include "core/text/Utility.h"

#include <QByteArray>
#include <QDir>
#include <QIODevice>

#include <cstring>

namespace SlicedFile {

namespace {

// The longest row in text, given the bytes of a row still open before it (run) and the byte
// before text; returns the bytes of the row left open at its end. Rows end at LF, CR LF or a
// lone CR. G-code rows are short, so a search for LF finds the ends; only a stretch that
// would pass the limit, or is left open at the end, is searched for lone CRs.
qint64 longestRowIn(QByteArrayView text, char before, qint64 run, qint64 limit, qint64& longest)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const auto* lf = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        const char* const stop = lf ? lf : end;
        // A row left open at the chunk's end is searched too, so that a row carried on into
        // the next chunk holds no CR.
        if (!lf || run + qint64(stop - p) > limit) {
            while (const auto* cr = static_cast<const char*>(std::memchr(p, '\r', std::size_t(stop - p)))) {
                longest = qMax(longest, run + qint64(cr - p));
                run = 0;
                p = cr + 1;
            }
        }
        run += qint64(stop - p);
        if (!lf)
            return run;
        // A CR just before the LF is part of the line break.
        if (run > 0 && (stop > text.data() ? stop[-1] : before) == '\r')
            --run;
        longest = qMax(longest, run);
        run = 0;
        p = lf + 1;
    }
    return run;
}

// As longestRowIn, but where every stretch of limit bytes holds an LF it only looks for the last
// LF of each stretch from its end, instead of for each row: the figure it gives is then the
// longest stretch between two such LFs, at least the longest row and at most the limit, as the
// caller takes it. Stretches without an LF (a lone CR's rows, a long row) and the row left open
// at the end are measured row by row.
qint64 rowsWithinLimit(QByteArrayView text, char before, qint64 run, qint64 limit, qint64& longest)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end && run <= limit) {
        const qsizetype stretch = qsizetype(qMin<qint64>(end - p, limit - run + 1));
        const qsizetype lf = QByteArrayView(p, stretch).lastIndexOf('\n');
        if (lf < 0)
            break;
        longest = qMax(longest, run + lf);
        run = 0;
        p += lf + 1;
    }
    if (p == end)
        return run;
    const char previous = p > text.data() ? p[-1] : before;
    return longestRowIn(QByteArrayView(p, end - p), previous, run, limit, longest);
}

} // namespace

qsizetype headerLength(QByteArrayView firstBytes)
{
    const QByteArrayView head = firstBytes.first(qMin(firstBytes.size(), kHeaderCapacity));
    const qsizetype first = head.indexOf('\n');
    if (first < 0)
        return -1;
    const qsizetype second = head.indexOf('\n', first + 1);
    return second < 0 ? -1 : second + 1;
}

HeaderRead readHeader(QIODevice& device)
{
    HeaderRead result;
    // A stream (standard input) cannot seek: what was read past the header is given back to it.
    const bool stream = device.isSequential();
    if (stream)
        device.startTransaction();
    else if (!device.seek(0))
        return result;
    QByteArray first(kHeaderCapacity, Qt::Uninitialized);
    qint64 got = 0;
    // A stream hands over what it has at the moment: read on to the header, the capacity or its end.
    do {
        const qint64 n = device.read(first.data() + got, first.size() - got);
        if (n < 0)
            return result;
        if (n == 0)
            break;
        got += n;
    } while (stream && got < first.size() && headerLength({first.constData(), qsizetype(got)}) < 0);
    first.truncate(qsizetype(got));
    result.start = first.first(qMin<qsizetype>(first.size(), 16));
    const qsizetype length = headerLength(first);
    // The body starts after the header; without one, reading goes on where it stopped.
    const qint64 next = length >= 0 ? length : got;
    if (stream)
        device.rollbackTransaction();
    if (stream ? device.skip(next) != next : !device.seek(next))
        return result;
    if (length >= 0) {
        first.truncate(length);
        result.bytes = std::move(first);
        result.check = HeaderCheck::Fits;
        return result;
    }
    // Past the capacity only the count of LF bytes still matters, for the reason given.
    qsizetype lineFeeds = first.count('\n');
    QByteArray chunk(kReadChunk, Qt::Uninitialized);
    qint64 more = 0;
    while (lineFeeds < 2 && (more = device.read(chunk.data(), chunk.size())) > 0)
        lineFeeds += QByteArrayView(chunk.constData(), qsizetype(more)).count('\n');
    if (more < 0)
        return result;
    result.check = lineFeeds < 2 ? HeaderCheck::TooFewLines : HeaderCheck::TooLong;
    return result;
}

QString headerProblem(HeaderCheck check)
{
    switch (check) {
    case HeaderCheck::Fits:
        return QString();
    case HeaderCheck::TooFewLines:
        return QStringLiteral("It has fewer than two lines, so it has no header.");
    case HeaderCheck::TooLong:
        return QStringLiteral("Its header (the first two lines) is longer than %1 bytes.")
            .arg(kHeaderCapacity);
    case HeaderCheck::ReadError:
        break;
    }
    return QStringLiteral("It could not be read.");
}

BodyRead readBody(QIODevice& device, const std::function<void(QByteArrayView)>& sink, qsizetype chunkSize,
                  qint64 maxBytes, qint64 expectedBytes, qint64 maxRowBytes)
{
    BodyRead result;
    QByteArray chunk(expectedBytes >= 0 ? qMin<qint64>(chunkSize, qMax<qint64>(expectedBytes, 1)) : chunkSize,
                     Qt::Uninitialized);
    LineBreaks::StyleFinder lineBreak;
    char previous = 0; // the last text byte of the previous chunk, for a CR LF split between chunks
    qint64 run = 0;    // bytes of the row that is still open at the end of the text so far
    for (;;) {
        qint64 wanted = chunk.size();
        if (expectedBytes >= 0) {
            wanted = qMin(wanted, expectedBytes - result.textBytes);
            if (wanted == 0)
                break;
        }
        const qint64 got = device.read(chunk.data(), wanted);
        if (got < 0)
            result.ok = false;
        if (got <= 0) {
            result.endedEarly = got == 0 && expectedBytes >= 0;
            break;
        }
        if (got > maxBytes - result.textBytes) {
            result.tooLarge = true;
            break;
        }
        const QByteArrayView text(chunk.constData(), qsizetype(got));
        lineBreak.add(text);
        if (maxRowBytes >= 0) {
            run = rowsWithinLimit(text, previous, run, maxRowBytes, result.longestRow);
            if (qMax(run, result.longestRow) > maxRowBytes) {
                result.longestRow = qMax(run, result.longestRow);
                result.rowTooLong = true;
                break;
            }
        }
        previous = text.back();
        sink(text);
        result.textBytes += text.size();
    }
    result.longestRow = qMax(result.longestRow, run);
    result.lineBreak = lineBreak.style();
    return result;
}

QString bodySizeProblem(qint64 bodyBytes, qint64 maxBytes)
{
    if (bodyBytes <= maxBytes)
        return QString();
    const auto amount = [](qint64 bytes) {
        if (bytes >= 1'000'000)
            return QStringLiteral("%1 MB").arg(bytes / 1'000'000);
        return bytes == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(bytes);
    };
    return QStringLiteral("It is too large: its body is %1, %2 more than the %3 the editor holds.")
        .arg(amount(bodyBytes), amount(bodyBytes - maxBytes), amount(maxBytes));
}

QString rowLengthProblem(qint64 longestRow, qint64 maxRowBytes)
{
    if (longestRow <= maxRowBytes)
        return QString();
    return QStringLiteral("It has a line longer than %1 bytes; G-code lines are short, and the editor "
                          "would freeze the window painting a longer one.")
        .arg(maxRowBytes);
}

bool writeBytes(QIODevice& device, QByteArrayView bytes, QString* problem)
{
    if (bytes.isEmpty())
        return true;
    const qint64 written = device.write(bytes.data(), bytes.size());
    if (written == bytes.size())
        return true;
    // A write that takes fewer bytes than given without an error is what a full disk (or a
    // file size limit) gives.
    if (problem)
        *problem = written >= 0 ? QStringLiteral("The disk is full: the file could not be written to its "
                                                 "end (%1 of %2 bytes were taken).")
                                      .arg(written)
                                      .arg(bytes.size())
                                : device.errorString();
    return false;
}

bool writeOutput(QIODevice& device, QByteArrayView header, std::string_view text, QByteArrayView lineBreak,
                 QString* problem)
{
    if (!writeBytes(device, header, problem) ||
        !writeBytes(device, QByteArrayView(text.data(), qsizetype(text.size())), problem))
        return false;
    const bool endsWithBreak = !text.empty() && LineBreaks::isBreak(text.back());
    if (!text.empty() && !endsWithBreak)
        return writeBytes(device, lineBreak, problem);
    return true;
}

QString folderOf(const QString& path)
{
    const QString generic = QDir::fromNativeSeparators(path);
    const qsizetype separator = generic.lastIndexOf(u'/');
    if (separator < 0)
        return QString();
    const bool root = separator == 0 || (separator == 2 && generic[1] == u':');
    return QDir::toNativeSeparators(generic.left(root ? separator + 1 : separator));
}

QString outputFileNameFor(const QString& storedName, bool writeHeader, const QString& headerSuffix)
{
    const QString suffix = headerSuffix.isEmpty() ? QStringLiteral(".gx") : headerSuffix;
    return Utility::BaseName(storedName) + (writeHeader ? suffix : QStringLiteral(".g"));
}

QString outputNameProblem(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return QStringLiteral("The file name is empty.");
    // The file system would end the name at the NUL, and another file would be written.
    if (name.contains(QChar(0)))
        return QStringLiteral("The file name holds a NUL character, which no file name can hold; type the "
                              "name again.");
    if (trimmed == u"." || trimmed == u".." || name.contains(u'/') || name.contains(u'\\'))
        return QStringLiteral("The file name \"%1\" leads outside the chosen folder; type a name without "
                              "\"/\" or \"\\\", or drop another folder to write there.")
            .arg(name);
    return QString();
}

} // namespace SlicedFile
