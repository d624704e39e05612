#include "core/gcode/SlicedFileReader.h"

#include "core/gcode/BackgroundLayerIndex.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <new>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace SlicedFile {

namespace {

// What tells that a file changed: its size and its modification time.
struct FileStamp
{
    qint64 size = -1;
    qint64 modified = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const QFile& file)
{
#ifdef Q_OS_UNIX
    struct stat status
    {
    };
    if (::fstat(file.handle(), &status) != 0)
        return {};
    return {qint64(status.st_size), qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
#else
    const QFileInfo info(file.fileName());
    return {info.size(), info.lastModified().toMSecsSinceEpoch()};
#endif
}

QString changedWhileRead()
{
    return QStringLiteral("The file changed while it was read; try again when the slicer has finished "
                          "writing it.");
}

} // namespace

Opened openRegularFile(QFile& file, const QString& path, QString* reason)
{
    const auto failed = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return Opened::Failed;
    };
    if (path.isEmpty())
        return failed(QStringLiteral("No file was named."));
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failed(qt_error_string(errno));
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return Opened::NotAFile;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file.setFileName(path);
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failed(file.errorString());
    }
    return Opened::Yes;
#else
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return Opened::NotAFile;
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ? Opened::Yes : failed(file.errorString());
#endif
}

namespace {

ReadResult refused(Refusal refusal, const QString& reason)
{
    ReadResult result;
    result.refusal = refusal;
    result.reason = reason;
    return result;
}

// Reads the header and the body from the device's start: exactly fileBytes in all when that is
// not negative (a file), or to the device's end (a stream, whose size is not known before).
ReadResult readFrom(QIODevice& device, qint64 fileBytes, BodySink& body, const ReadOptions& options)
{
    HeaderRead header = readHeader(device);
    if (header.check == HeaderCheck::ReadError)
        return refused(Refusal::Unread,
                       QStringLiteral("It could not be read (%1).").arg(device.errorString()));
    if (header.check != HeaderCheck::Fits)
        return refused(Refusal::NotSliced, headerProblem(header.check));
    const bool sized = fileBytes >= 0;
    const qint64 bodyBytes = sized ? fileBytes - header.bytes.size() : -1;
    if (sized && bodyBytes < 0)
        return refused(Refusal::Unread, changedWhileRead());
    // The size first, so that a body too big is refused before any of it is read.
    if (bodyBytes > options.maxBodyBytes)
        return refused(Refusal::TooLarge, bodySizeProblem(bodyBytes));

    ReadResult result;
    try {
        // Declared after nothing the sink owns: the thread ends before read() returns, while the
        // bytes it may read in place are still there.
        BackgroundLayerIndex layers{std::size_t(qMax<qint64>(bodyBytes, 0))};
        bool reserved = false;
        qint64 handedOver = 0;
        const BodyRead read = readBody(
            device,
            [&](QByteArrayView text) {
                // Room is taken once the first chunk has shown to hold rows: a sparse file's zeros
                // are one endless row, refused before any room is taken.
                if (!reserved) {
                    reserved = true;
                    if (!body.reserve(bodyBytes))
                        throw std::bad_alloc();
                }
                if (!body.append(text))
                    throw std::bad_alloc();
                if (const char* inPlace = body.bytesInPlace())
                    layers.addInPlace({inPlace + handedOver, text.size()});
                else
                    layers.add(text);
                handedOver += text.size();
            },
            kReadChunk, options.maxBodyBytes, bodyBytes, options.maxRowBytes);
        if (!read.ok)
            return refused(Refusal::Unread,
                           QStringLiteral("It could not be read to its end (%1).").arg(device.errorString()));
        if (read.tooLarge)
            return refused(Refusal::TooLarge, bodySizeProblem(read.textBytes));
        if (read.rowTooLong)
            return refused(Refusal::RowTooLong, rowLengthProblem(read.longestRow));
        if (read.endedEarly)
            return refused(Refusal::Unread, changedWhileRead());
        if (!body.finish())
            throw std::bad_alloc();
        result.layers = layers.finish();
        result.lineBreak = read.lineBreak;
        result.bodyBytes = read.textBytes;
    } catch (const std::bad_alloc&) {
        return refused(Refusal::Unread, QStringLiteral("There is not enough memory to hold it."));
    }
    result.header = std::move(header.bytes);
    return result;
}

} // namespace

ReadResult read(const QString& path, BodySink& body, const ReadOptions& options)
{
    QFile file;
    QString openProblem;
    switch (openRegularFile(file, path, &openProblem)) {
    case Opened::Yes:
        break;
    case Opened::Failed:
        return refused(Refusal::CannotOpen, openProblem);
    case Opened::NotAFile:
        return refused(
            Refusal::NotAFile,
            QFileInfo(path).isDir()
                ? QStringLiteral("It is a folder.")
                : QStringLiteral("Only regular files are read; this is a pipe, a device or a socket, "
                                 "which could keep the program waiting."));
    }
    // The body is read to the size the file had here, and the file must still have it after.
    const FileStamp opened = stampOf(file);
    const std::unique_ptr<QIODevice> wrapper = options.readDevice ? options.readDevice(file) : nullptr;
    ReadResult result =
        readFrom(wrapper ? *wrapper : static_cast<QIODevice&>(file), opened.size, body, options);
    if (result.ok() && stampOf(file) != opened)
        return refused(Refusal::Unread, changedWhileRead());
    return result;
}

ReadResult read(QIODevice& stream, BodySink& body, const ReadOptions& options)
{
    return readFrom(stream, -1, body, options);
}

QString refusalText(const QString& path, const ReadResult& result)
{
    switch (result.refusal) {
    case Refusal::None:
        return QString();
    case Refusal::CannotOpen:
        return QStringLiteral("Cannot open %1: %2").arg(path, result.reason);
    case Refusal::NotAFile:
    case Refusal::NotSliced:
    case Refusal::RowTooLong:
        return QStringLiteral("%1 is not a sliced G-code file: %2").arg(path, result.reason);
    case Refusal::TooLarge:
        return QStringLiteral("%1 is too large: %2").arg(path, result.reason);
    case Refusal::Unread:
        break;
    }
    return QStringLiteral("Cannot read %1 to its end: %2").arg(path, result.reason);
}

} // namespace SlicedFile
