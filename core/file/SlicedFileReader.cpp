#include "core/file/SlicedFileReader.h"

#include "core/layers/BackgroundLayerIndex.h"
#include "core/text/PathBytes.h"
#include "core/text/Utility.h"

#include <QBuffer>
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

QString lookAlike(QByteArrayView firstBytes, const QString& path)
{
    struct Signature
    {
        QByteArrayView start;
        const char* what;
    };
    static const Signature signatures[] = {
        {QByteArrayView("PK\x03\x04", 4), "a zip archive"},
        {QByteArrayView("PK\x05\x06", 4), "a zip archive"},
        {QByteArrayView("\x89PNG\r\n\x1a\n", 8), "a PNG image"},
        {QByteArrayView("\xff\xd8\xff", 3), "a JPEG image"},
        {QByteArrayView("GIF8", 4), "a GIF image"},
        {QByteArrayView("%PDF-", 5), "a PDF document"},
        {QByteArrayView("\x1f\x8b", 2), "a gzip archive"},
        {QByteArrayView("7z\xbc\xaf\x27\x1c", 6), "a 7-Zip archive"},
        {QByteArrayView("Rar!\x1a\x07", 6), "a RAR archive"},
        {QByteArrayView("\x7f"
                        "ELF",
                        4),
         "a program"},
        {QByteArrayView("GCDE", 4), "binary G-code"},
    };
    for (const Signature& signature : signatures) {
        if (!firstBytes.startsWith(signature.start))
            continue;
        const QString what = QLatin1String(signature.what);
        if (what == u"a zip archive" && path.endsWith(QStringLiteral(".3mf"), Qt::CaseInsensitive))
            return QStringLiteral(
                "This is a 3MF project, a zip archive: export plain G-code from the slicer.");
        if (what == u"a zip archive")
            return QStringLiteral("This is a zip archive (as a 3MF project is): export plain G-code from the "
                                  "slicer, or unpack the G-code from the archive.");
        if (what == u"binary G-code")
            return QStringLiteral("This is binary G-code: export plain (text) G-code from the slicer.");
        return QStringLiteral("This is %1, not G-code: export plain G-code from the slicer.").arg(what);
    }
    return QString();
}

bool MoveFinder::add(QByteArrayView piece)
{
    for (const char c : piece) {
        switch (m_state) {
        case State::Found:
            return true;
        case State::RowStart:
            if (c == 'G' || c == 'g') {
                m_state = State::AfterG;
                m_number = -1;
            } else if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
                m_state = State::InRow;
            }
            break;
        case State::AfterG:
            if (c >= '0' && c <= '9') {
                m_number = qMin(m_number < 0 ? 0 : m_number * 10, 100) + (c - '0');
                break;
            }
            if (m_number == 0 || m_number == 1) {
                m_state = State::Found;
                return true;
            }
            m_state = c == '\n' || c == '\r' ? State::RowStart : State::InRow;
            break;
        case State::InRow:
            if (c == '\n' || c == '\r')
                m_state = State::RowStart;
            break;
        }
    }
    return m_state == State::Found;
}

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
    const int fd = ::open(PathBytes::toBytes(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
ReadResult readFrom(QIODevice& device, const QString& path, qint64 fileBytes, BodySink& body,
                    const ReadOptions& options)
{
    HeaderRead header = readHeader(device);
    if (header.check == HeaderCheck::ReadError)
        return refused(Refusal::Unread,
                       QStringLiteral("It could not be read (%1).").arg(device.errorString()));
    if (const QString looksLike = lookAlike(header.start, path); !looksLike.isEmpty())
        return refused(Refusal::NotGCode, looksLike);
    if (header.check != HeaderCheck::Fits)
        return refused(Refusal::NotSliced, headerProblem(header.check));
    const bool sized = fileBytes >= 0;
    const qint64 bodyBytes = sized ? fileBytes - header.bytes.size() : -1;
    if (sized && bodyBytes < 0)
        return refused(Refusal::Unread, changedWhileRead());
    // The size first, so that a body too big is refused before any of it is read.
    if (bodyBytes > options.maxBodyBytes)
        return refused(Refusal::TooLarge, bodySizeProblem(bodyBytes, options.maxBodyBytes));

    ReadResult result;
    try {
        // Declared after nothing the sink owns: the thread ends before read() returns, while the
        // bytes it may read in place are still there.
        BackgroundLayerIndex layers{std::size_t(qMax<qint64>(bodyBytes, 0))};
        bool reserved = false;
        qint64 handedOver = 0;
        MoveFinder moves;
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
                if (options.requireMove && !moves.found())
                    moves.add(text);
                if (const char* inPlace = body.bytesInPlace())
                    layers.addInPlace({inPlace + handedOver, text.size()});
                else if (QByteArray piece = body.lastPiece(); piece.size() == text.size())
                    layers.addShared(std::move(piece));
                else
                    layers.add(text);
                handedOver += text.size();
            },
            kReadChunk, options.maxBodyBytes, bodyBytes, options.maxRowBytes);
        if (!read.ok)
            return refused(Refusal::Unread,
                           QStringLiteral("It could not be read to its end (%1).").arg(device.errorString()));
        if (read.tooLarge)
            // A stream whose length was not known before: how much more it held is not read.
            return refused(Refusal::TooLarge,
                           QStringLiteral("It is too large: its body is over the %1 MB the "
                                          "editor holds.")
                               .arg(options.maxBodyBytes / 1'000'000));
        if (read.rowTooLong)
            return refused(Refusal::RowTooLong, rowLengthProblem(read.longestRow, options.maxRowBytes));
        if (read.endedEarly)
            return refused(Refusal::Unread, changedWhileRead());
        if (options.requireMove && !moves.found()) {
            // A move at the very end of the body: a last row "G1" without a line break.
            if (!moves.add(QByteArrayView("\n", 1)))
                return refused(Refusal::NotGCode,
                               QStringLiteral("It has no G0 or G1 move, so it is no sliced G-code: open the "
                                              "G-code file the slicer exported."));
        }
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

// Reads binary G-code whole from the device's position, then its G-code as a plain file of that
// text is read.
ReadResult readBinary(QIODevice& device, const QString& path, BodySink& body, const ReadOptions& options)
{
    std::shared_ptr<BinaryGCode::Container> container;
    QByteArray text;
    try {
        BinaryGCode::Decoded decoded = BinaryGCode::decode(device, options.maxBodyBytes, options.maxBodyBytes);
        if (!decoded.ok())
            return refused(decoded.tooLarge ? Refusal::TooLarge : Refusal::Unread,
                           QStringLiteral("It is binary G-code, but %1; nothing was read from it.").arg(decoded.problem));
        container = std::make_shared<BinaryGCode::Container>(std::move(decoded.container));
        text = std::move(decoded.text);
    } catch (const std::bad_alloc&) {
        return refused(Refusal::Unread, QStringLiteral("There is not enough memory to hold it."));
    }
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    ReadResult result = readFrom(buffer, path, text.size(), body, options);
    if (result.ok())
        result.container = std::move(container);
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
            Utility::IsDirectory(path)
                ? QStringLiteral("It is a folder.")
                : QStringLiteral("Only regular files are read; this is a pipe, a device or a socket, "
                                 "which could keep the program waiting."));
    }
    // The body is read to the size the file had here, and the file must still have it after.
    const FileStamp opened = stampOf(file);
    // Its first bytes looked at on the file itself, which goes back to its start.
    const bool binary = BinaryGCode::startsBinary(file);
    const std::unique_ptr<QIODevice> wrapper = options.readDevice ? options.readDevice(file) : nullptr;
    QIODevice& device = wrapper ? *wrapper : static_cast<QIODevice&>(file);
    ReadResult result = binary ? readBinary(device, path, body, options)
                               : readFrom(device, path, opened.size, body, options);
    if (result.ok() && stampOf(file) != opened)
        return refused(Refusal::Unread, changedWhileRead());
    return result;
}

ReadResult read(QIODevice& stream, BodySink& body, const ReadOptions& options)
{
    if (BinaryGCode::startsBinary(stream))
        return readBinary(stream, QString(), body, options);
    return readFrom(stream, QString(), -1, body, options);
}

QString refusalText(const QString& file, const ReadResult& result)
{
    const QString path = PathBytes::shown(file);
    switch (result.refusal) {
    case Refusal::None:
        return QString();
    case Refusal::CannotOpen:
        return QStringLiteral("Cannot open %1: %2").arg(path, result.reason);
    case Refusal::NotAFile:
    case Refusal::NotSliced:
    case Refusal::NotGCode:
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
