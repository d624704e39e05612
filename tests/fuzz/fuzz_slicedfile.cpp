// Splitting a file into header and body, then composing the output, gives the input back:
// byte for byte, with only a line break added after a last row that has none. The body's
// line break kind and longest row agree with a plain reading of the bytes.

#include "core/file/SlicedFile.h"

#include <QBuffer>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the read chunk, so that chunk ends fall everywhere.
    const qsizetype chunkSize = 1 + data[0] % 17;
    QByteArray file(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    QBuffer device(&file);
    device.open(QIODevice::ReadOnly);

    const SlicedFile::HeaderRead header = SlicedFile::readHeader(device);
    const qsizetype length = SlicedFile::headerLength(file);
    if ((header.check == SlicedFile::HeaderCheck::Fits) != (length >= 0))
        std::abort();
    if (header.check != SlicedFile::HeaderCheck::Fits)
        return 0;
    if (header.bytes != file.first(length))
        std::abort();

    QByteArray body;
    const SlicedFile::BodyRead read = SlicedFile::readBody(
        device, [&body](QByteArrayView piece) { body += piece; }, chunkSize);
    if (!read.ok || read.tooLarge || read.textBytes != body.size() || !file.sliced(length).startsWith(body))
        std::abort();
    // Plain reference: the first break byte, and for a CR the byte after it.
    LineBreaks::Style style = LineBreaks::Style::LF;
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body[i] == '\r') {
            style =
                i + 1 < body.size() && body[i + 1] == '\n' ? LineBreaks::Style::CRLF : LineBreaks::Style::CR;
            break;
        }
        if (body[i] == '\n')
            break;
    }
    if (read.lineBreak != style)
        std::abort();

    // Plain reference: rows end at LF, CR LF or a lone CR.
    qint64 longest = 0, run = 0;
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body[i] == '\r' || body[i] == '\n') {
            longest = qMax(longest, run);
            run = 0;
            if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n')
                ++i;
        } else {
            ++run;
        }
    }
    longest = qMax(longest, run);
    // A row past the limit stops the read there; otherwise the body is whole.
    if (read.rowTooLong != (longest > SlicedFile::kMaxRowBytes))
        std::abort();
    if (read.rowTooLong) {
        if (read.longestRow <= SlicedFile::kMaxRowBytes || read.longestRow > longest)
            std::abort();
        return 0;
    }
    if (body != file.sliced(length) || read.longestRow < longest ||
        read.longestRow > SlicedFile::kMaxRowBytes)
        std::abort();

    for (const QByteArray& lineBreak : {QByteArray("\n"), QByteArray("\r\n")}) {
        QByteArray written;
        QBuffer output(&written);
        output.open(QIODevice::WriteOnly);
        if (!SlicedFile::writeOutput(output, header.bytes,
                                     std::string_view(body.constData(), size_t(body.size())), lineBreak))
            std::abort();
        QByteArray expected = file;
        if (!body.isEmpty() && body.back() != '\n' && body.back() != '\r')
            expected += lineBreak;
        if (written != expected)
            std::abort();
    }
    return 0;
}
