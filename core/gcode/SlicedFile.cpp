#include "core/gcode/SlicedFile.h"

#include "core/text/LineBreaks.h"
#include "core/text/Utility.h"

#include <QByteArray>
#include <QDir>
#include <QIODevice>

#include <cstring>

namespace SlicedFile {

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
    if (!device.seek(0))
        return result;
    QByteArray first(kHeaderCapacity, Qt::Uninitialized);
    const qint64 got = device.read(first.data(), first.size());
    if (got < 0)
        return result;
    first.truncate(qsizetype(got));
    const qsizetype length = headerLength(first);
    if (length >= 0) {
        if (!device.seek(length))
            return result;
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

BodyRead readBody(QIODevice& device, const std::function<void(QByteArrayView)>& sink, qsizetype chunkSize)
{
    BodyRead result;
    QByteArray chunk(chunkSize, Qt::Uninitialized);
    bool breakFound = false;
    char previous = 0; // the last text byte of the previous chunk, for a CR LF split between chunks
    for (;;) {
        const qint64 got = device.read(chunk.data(), chunk.size());
        if (got < 0)
            result.ok = false;
        if (got <= 0)
            break;
        const QByteArrayView text(chunk.constData(), qsizetype(got));
        if (!breakFound) {
            const qsizetype lf = text.indexOf('\n');
            if (lf >= 0) {
                breakFound = true;
                result.crLf = (lf > 0 ? text[lf - 1] : previous) == '\r';
            }
        }
        if (!text.isEmpty()) {
            previous = text.back();
            sink(text);
        }
        result.textBytes += text.size();
    }
    return result;
}

bool writeOutput(QIODevice& device, QByteArrayView header, std::string_view text, QByteArrayView lineBreak)
{
    auto write = [&device](const char* data, qsizetype size) {
        return size == 0 || device.write(data, size) == size;
    };
    if (!write(header.data(), header.size()) || !write(text.data(), qsizetype(text.size())))
        return false;
    const bool endsWithBreak = !text.empty() && LineBreaks::isBreak(text.back());
    if (!text.empty() && !endsWithBreak)
        return write(lineBreak.data(), lineBreak.size());
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

QString outputFileNameFor(const QString& storedName, bool writeHeader)
{
    return Utility::BaseName(storedName) + (writeHeader ? QStringLiteral(".gx") : QStringLiteral(".g"));
}

} // namespace SlicedFile
