#pragma once

// A sliced file is a header (the bytes through the second LF, kept aside untouched)
// followed by the body: every byte after it, 0x00 and 0xFF included.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <string_view>

class QIODevice;

namespace SlicedFile {

constexpr qsizetype kHeaderCapacity = 35000;
constexpr qsizetype kReadChunk = 4 * 1024 * 1024;

// The header's length (through the second LF) within the file's first bytes, or -1
// when the second LF is not among the first kHeaderCapacity bytes.
qsizetype headerLength(QByteArrayView firstBytes);

enum class HeaderCheck {
    Fits,        // the second LF lies within the first kHeaderCapacity bytes
    TooFewLines, // the file holds fewer than two LF bytes
    TooLong,     // the second LF lies past byte kHeaderCapacity
    ReadError,
};
// Why a file with this check result is refused, in the user's words; empty for Fits.
QString headerProblem(HeaderCheck check);

struct HeaderRead
{
    HeaderCheck check = HeaderCheck::ReadError;
    QByteArray bytes; // the header through its second LF; empty unless check is Fits
};
// Reads the header once from the device's start. When it fits, the device is left at the
// first body byte; otherwise the device's position is unspecified.
HeaderRead readHeader(QIODevice& device);

struct BodyRead
{
    bool ok = true;    // false when reading failed before the body's end
    bool crLf = false; // the body's first line break is CR LF
    qint64 textBytes = 0;
};
// Reads the body from the device's position to its end in chunks of chunkSize bytes and
// hands each piece to sink, in order, every byte as it is.
BodyRead readBody(QIODevice& device, const std::function<void(QByteArrayView)>& sink,
                  qsizetype chunkSize = kReadChunk);

// Writes the output: the header when given, then the rows of text, each ended by a
// line break (a last row without one gets lineBreak). Returns false when a write fails.
bool writeOutput(QIODevice& device, QByteArrayView header, std::string_view text, QByteArrayView lineBreak);

// The folder of a dropped file: the text before the last separator, without it; a file
// in a root keeps the root's separator ("/" or "C:\\").
QString folderOf(const QString& path);

// The output name for the header option: the stored name's base with ".gx" when the
// header is written, ".g" when it is removed.
QString outputFileNameFor(const QString& storedName, bool writeHeader);

} // namespace SlicedFile
