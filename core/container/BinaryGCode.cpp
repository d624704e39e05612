#include "core/container/BinaryGCode.h"

#include "core/container/Heatshrink.h"
#include "core/container/MeatPack.h"

#include <QIODevice>

#include <zlib.h>

#include <cstring>
#include <string_view>

namespace BinaryGCode {

namespace {

constexpr qsizetype kFileHeaderBytes = 10;
constexpr std::uint32_t kVersion = 1;

std::uint16_t u16(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return std::uint16_t(b[0] | (b[1] << 8));
}

std::uint32_t u32(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) |
           (std::uint32_t(b[3]) << 24);
}

void put16(QByteArray& out, std::uint16_t value)
{
    out.append(char(value & 0xff));
    out.append(char(value >> 8));
}

void put32(QByteArray& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

std::uint32_t crcOf(QByteArrayView bytes)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    const auto* data = reinterpret_cast<const Bytef*>(bytes.data());
    qsizetype left = bytes.size();
    while (left > 0) {
        const uInt step = uInt(qMin<qsizetype>(left, 1 << 30));
        crc = crc32(crc, data, step);
        data += step;
        left -= step;
    }
    return std::uint32_t(crc);
}

// Inflates a zlib stream into exactly expected bytes; empty problem when it fits.
QString inflateInto(QByteArrayView in, qsizetype expected, QByteArray& out)
{
    out.resize(expected);
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return QStringLiteral("its deflated G-code could not be unpacked");
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream.avail_in = uInt(in.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(expected);
    const int status = inflate(&stream, Z_FINISH);
    const qsizetype produced = qsizetype(stream.total_out);
    inflateEnd(&stream);
    if (status == Z_STREAM_END && produced == expected)
        return QString();
    if (status == Z_STREAM_END)
        return QStringLiteral("a G-code block unpacks to %1 bytes where it declares %2").arg(produced).arg(expected);
    if (status == Z_BUF_ERROR && stream.avail_out == 0)
        return QStringLiteral("a G-code block unpacks past the %1 bytes it declares").arg(expected);
    return QStringLiteral("a G-code block's deflated data is damaged or cut short");
}

QString compressionName(Compression compression)
{
    switch (compression) {
    case Compression::None:
        return QStringLiteral("none");
    case Compression::Deflate:
        return QStringLiteral("deflate");
    case Compression::Heatshrink11:
        return QStringLiteral("heatshrink 11,4");
    case Compression::Heatshrink12:
        return QStringLiteral("heatshrink 12,4");
    }
    return QString();
}

Decoded refuse(const QString& problem, bool tooLarge = false)
{
    Decoded decoded;
    decoded.problem = problem;
    decoded.tooLarge = tooLarge;
    return decoded;
}

} // namespace

Decoded decode(QByteArrayView file, qint64 maxTextBytes)
{
    if (file.size() < kFileHeaderBytes || !file.startsWith(kMagic))
        return refuse(QStringLiteral("its binary G-code file header is cut short"));
    const char* data = file.data();
    const qsizetype size = file.size();
    if (const std::uint32_t version = u32(data + 4); version != kVersion)
        return refuse(QStringLiteral("it is binary G-code of version %1, which this program does not know").arg(version));
    const std::uint16_t checksumType = u16(data + 8);
    if (checksumType > 1)
        return refuse(QStringLiteral("its blocks carry a checksum of unknown kind %1").arg(checksumType));

    Decoded decoded;
    Container& container = decoded.container;
    container.fileHeader = QByteArray(data, kFileHeaderBytes);
    container.checksums = checksumType == 1;
    container.blockBytes = 0;
    enum class Where { Before, InGCode, After } where = Where::Before;
    MeatPack::Decoder meatPack;
    QByteArray packed;
    qsizetype at = kFileHeaderBytes;
    int blockNumber = 0;
    while (at < size) {
        ++blockNumber;
        const QString block = QStringLiteral("block %1").arg(blockNumber);
        if (size - at < 8)
            return refuse(QStringLiteral("%1 is cut short in its header").arg(block));
        const std::uint16_t type = u16(data + at);
        const std::uint16_t compression = u16(data + at + 2);
        const std::uint32_t uncompressed = u32(data + at + 4);
        if (type > std::uint16_t(BlockType::Thumbnail))
            return refuse(QStringLiteral("%1 is of unknown kind %2").arg(block).arg(type));
        if (compression > std::uint16_t(Compression::Heatshrink12))
            return refuse(QStringLiteral("%1 has unknown compression %2").arg(block).arg(compression));
        const qsizetype headerBytes = compression == 0 ? 8 : 12;
        if (size - at < headerBytes)
            return refuse(QStringLiteral("%1 is cut short in its header").arg(block));
        const qint64 dataBytes = compression == 0 ? uncompressed : u32(data + at + 8);
        const qint64 parameterBytes = type == std::uint16_t(BlockType::Thumbnail) ? 6 : 2;
        const qint64 checkedBytes = headerBytes + parameterBytes + dataBytes;
        const qint64 blockBytes = checkedBytes + (container.checksums ? 4 : 0);
        if (size - at < blockBytes)
            return refuse(QStringLiteral("%1 is cut short: it declares %2 bytes where the file has %3 left")
                              .arg(block)
                              .arg(blockBytes)
                              .arg(size - at));
        if (container.checksums) {
            const std::uint32_t stored = u32(data + at + checkedBytes);
            const std::uint32_t computed = crcOf(file.sliced(at, checkedBytes));
            if (stored != computed)
                return refuse(QStringLiteral("the checksum of %1 does not match its bytes (stored %2, computed %3): "
                                             "the file is damaged")
                                  .arg(block)
                                  .arg(stored, 8, 16, QLatin1Char('0'))
                                  .arg(computed, 8, 16, QLatin1Char('0')));
        }
        const QByteArrayView whole = file.sliced(at, blockBytes);
        at += blockBytes;
        if (type != std::uint16_t(BlockType::GCode)) {
            if (where == Where::Before) {
                container.before.append(whole);
            } else {
                where = Where::After;
                container.after.append(whole);
            }
            continue;
        }
        if (where == Where::After)
            return refuse(QStringLiteral("its G-code blocks are broken up by other blocks"));
        const std::uint16_t encoding = u16(whole.data() + headerBytes);
        if (encoding > std::uint16_t(Encoding::MeatPackComments))
            return refuse(QStringLiteral("%1 has G-code of unknown encoding %2").arg(block).arg(encoding));
        if (where == Where::Before) {
            container.compression = Compression(compression);
            container.encoding = Encoding(encoding);
        }
        where = Where::InGCode;
        ++container.gcodeBlocks;
        container.blockBytes = qMax(container.blockBytes, uncompressed);
        // The declared size first, so that nothing is unpacked past the limit.
        if (qint64(uncompressed) > maxTextBytes ||
            (encoding == 0 && decoded.text.size() + qint64(uncompressed) > maxTextBytes))
            return refuse(QStringLiteral("%1 declares %2 MB of G-code, over the %3 MB the editor holds")
                              .arg(block)
                              .arg(uncompressed / 1'000'000)
                              .arg(maxTextBytes / 1'000'000),
                          true);
        const QByteArrayView stored = whole.sliced(headerBytes + parameterBytes, dataBytes);
        QByteArrayView plainBytes;
        switch (Compression(compression)) {
        case Compression::None:
            plainBytes = stored;
            break;
        case Compression::Deflate:
            if (const QString problem = inflateInto(stored, uncompressed, packed); !problem.isEmpty())
                return refuse(problem);
            plainBytes = packed;
            break;
        case Compression::Heatshrink11:
        case Compression::Heatshrink12: {
            packed.clear();
            const Heatshrink::Parameters parameters{compression == 2 ? 11 : 12, 4};
            if (!Heatshrink::decode(stored, parameters, packed, uncompressed))
                return refuse(QStringLiteral("%1 unpacks past the %2 bytes it declares").arg(block).arg(uncompressed));
            if (packed.size() != qsizetype(uncompressed))
                return refuse(QStringLiteral("%1 unpacks to %2 bytes where it declares %3 (%4)")
                                  .arg(block)
                                  .arg(packed.size())
                                  .arg(uncompressed)
                                  .arg(compressionName(Compression(compression))));
            plainBytes = packed;
            break;
        }
        }
        if (encoding == 0)
            decoded.text.append(plainBytes);
        else
            meatPack.decode(plainBytes, decoded.text);
        if (decoded.text.size() > maxTextBytes)
            return refuse(QStringLiteral("its G-code is over the %1 MB the editor holds").arg(maxTextBytes / 1'000'000),
                          true);
    }
    if (container.gcodeBlocks == 0)
        return refuse(QStringLiteral("it holds no G-code block"));
    if (const QString problem = meatPack.unfinished(); !problem.isEmpty())
        return refuse(problem);
    return decoded;
}

bool startsBinary(QIODevice& device)
{
    return device.peek(kMagic.size()) == kMagic;
}

Decoded decode(QIODevice& device, qint64 maxFileBytes, qint64 maxTextBytes)
{
    QByteArray file;
    const qint64 known = device.isSequential() ? -1 : device.size() - device.pos();
    if (known > maxFileBytes)
        return refuse(QStringLiteral("it is over the %1 MB the editor holds").arg(maxFileBytes / 1'000'000), true);
    if (known > 0)
        file.reserve(known);
    QByteArray chunk(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 got = device.read(chunk.data(), chunk.size());
        if (got < 0)
            return refuse(QStringLiteral("it could not be read (%1)").arg(device.errorString()));
        if (got == 0)
            break;
        if (file.size() + got > maxFileBytes)
            return refuse(QStringLiteral("it is over the %1 MB the editor holds").arg(maxFileBytes / 1'000'000),
                          true);
        file.append(chunk.constData(), got);
    }
    return decode(file, maxTextBytes);
}

namespace {

// Appends one G-code block holding payload (the G-code, packed or not) in container's form.
void appendBlock(QByteArray& out, const Container& container, QByteArrayView payload, QByteArray& scratch)
{
    QByteArrayView stored = payload;
    switch (container.compression) {
    case Compression::None:
        break;
    case Compression::Deflate: {
        uLongf bound = compressBound(uLong(payload.size()));
        scratch.resize(qsizetype(bound));
        compress2(reinterpret_cast<Bytef*>(scratch.data()), &bound,
                  reinterpret_cast<const Bytef*>(payload.data()), uLong(payload.size()), Z_DEFAULT_COMPRESSION);
        scratch.resize(qsizetype(bound));
        stored = scratch;
        break;
    }
    case Compression::Heatshrink11:
    case Compression::Heatshrink12:
        scratch.clear();
        Heatshrink::encode(payload,
                           {container.compression == Compression::Heatshrink11 ? 11 : 12, 4}, scratch);
        stored = scratch;
        break;
    }
    const qsizetype start = out.size();
    put16(out, std::uint16_t(BlockType::GCode));
    put16(out, std::uint16_t(container.compression));
    put32(out, std::uint32_t(payload.size()));
    if (container.compression != Compression::None)
        put32(out, std::uint32_t(stored.size()));
    put16(out, std::uint16_t(container.encoding));
    out.append(stored);
    if (container.checksums)
        put32(out, crcOf(QByteArrayView(out).sliced(start)));
}

} // namespace

QByteArray encode(const Container& container, QByteArrayView text, QString* problem)
{
    QByteArray out = container.fileHeader;
    out.append(container.before);
    out.reserve(out.size() + text.size() / 2 + container.after.size());
    const bool packs = container.encoding != Encoding::None;
    const qsizetype limit = qMax<qsizetype>(container.blockBytes, 1);
    const std::string_view all(text.data(), std::size_t(text.size()));
    QByteArray payload;
    QByteArray scratch;
    const qsizetype opening = packs ? MeatPack::kPackingOn.size() : 0;
    const auto startBlock = [&] {
        payload.clear();
        if (packs)
            payload.append(MeatPack::kPackingOn);
    };
    startBlock();
    std::size_t rowStart = 0;
    bool wroteBlock = false;
    while (rowStart < all.size()) {
        const std::size_t lf = all.find('\n', rowStart);
        const std::size_t rowEnd = lf == std::string_view::npos ? all.size() : lf + 1;
        const QByteArrayView row(all.data() + rowStart, qsizetype(rowEnd - rowStart));
        const qsizetype mark = payload.size();
        if (packs) {
            if (!MeatPack::encodeRow(row, payload)) {
                if (problem)
                    *problem = QStringLiteral("The G-code holds a byte 0xFF, which packed binary G-code cannot "
                                              "carry; remove it, or write plain text with \"Remove the header\".");
                return QByteArray();
            }
        } else {
            payload.append(row);
        }
        // A block full: the row goes into the next one, unless it is the block's only row.
        if (payload.size() > limit && mark > opening) {
            const QByteArray rest = payload.sliced(mark);
            payload.truncate(mark);
            appendBlock(out, container, payload, scratch);
            wroteBlock = true;
            startBlock();
            payload.append(rest);
        }
        rowStart = rowEnd;
    }
    if (payload.size() > opening || !wroteBlock)
        appendBlock(out, container, payload, scratch);
    out.append(container.after);
    return out;
}

Container plain(Compression compression, Encoding encoding, std::uint32_t blockBytes, bool checksums)
{
    Container container;
    container.fileHeader = QByteArray(kMagic.data(), 4);
    put32(container.fileHeader, kVersion);
    put16(container.fileHeader, checksums ? 1 : 0);
    container.checksums = checksums;
    container.compression = compression;
    container.encoding = encoding;
    container.blockBytes = blockBytes;
    return container;
}

} // namespace BinaryGCode
