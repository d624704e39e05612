#include "gcodefile/SlicedFile.h"

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

qsizetype bodyTextLength(QByteArrayView bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = std::size_t(bytes.size());
    const void* ff = std::memchr(data, 0xFF, size);
    const std::size_t limit = ff ? std::size_t(static_cast<const unsigned char*>(ff) - data) : size;
    const void* nul = std::memchr(data, 0x00, limit);
    return qsizetype(nul ? std::size_t(static_cast<const unsigned char*>(nul) - data) : limit);
}

bool usesCrLf(QByteArrayView text)
{
    const qsizetype lf = text.indexOf('\n');
    return lf > 0 && text[lf - 1] == '\r';
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

} // namespace SlicedFile
