#include "core/gcode/SlicedFile.h"

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

HeaderCheck checkHeader(QIODevice& device)
{
    if (!device.seek(0))
        return HeaderCheck::ReadError;
    QByteArray first(kHeaderCapacity, Qt::Uninitialized);
    const qint64 got = device.read(first.data(), first.size());
    if (got < 0)
        return HeaderCheck::ReadError;
    first.truncate(qsizetype(got));
    HeaderCheck result = HeaderCheck::Fits;
    if (headerLength(first) < 0) {
        // Past the capacity only the count of LF bytes still matters, for the reason given.
        qsizetype lineFeeds = first.count('\n');
        QByteArray chunk(kReadChunk, Qt::Uninitialized);
        qint64 more = 0;
        while (lineFeeds < 2 && (more = device.read(chunk.data(), chunk.size())) > 0)
            lineFeeds += QByteArrayView(chunk.constData(), qsizetype(more)).count('\n');
        if (more < 0)
            return HeaderCheck::ReadError;
        result = lineFeeds < 2 ? HeaderCheck::TooFewLines : HeaderCheck::TooLong;
    }
    return device.seek(0) ? result : HeaderCheck::ReadError;
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

qsizetype bodyTextLength(QByteArrayView bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = std::size_t(bytes.size());
    const void* ff = std::memchr(data, 0xFF, size);
    const std::size_t limit = ff ? std::size_t(static_cast<const unsigned char*>(ff) - data) : size;
    const void* nul = std::memchr(data, 0x00, limit);
    return qsizetype(nul ? std::size_t(static_cast<const unsigned char*>(nul) - data) : limit);
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
        const QByteArrayView bytes(chunk.constData(), qsizetype(got));
        const QByteArrayView text = bytes.first(bodyTextLength(bytes));
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
        if (text.size() < bytes.size())
            break;
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
    const bool endsWithBreak = !text.empty() && (text.back() == '\n' || text.back() == '\r');
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
