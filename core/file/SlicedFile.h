#pragma once

// A sliced file is a header (the bytes through the second LF, kept aside untouched)
// followed by the body: every byte after it, 0x00 and 0xFF included.

#include "core/text/LineBreaks.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <string_view>

class QIODevice;

namespace SlicedFile {

constexpr qsizetype kHeaderCapacity = 35000;
// The bytes read at once. The chunk, and in the window the few pieces on their way into the
// editor's document, are held beside the body while a file is read, so they are kept small: a
// quarter of a megabyte costs no measurable time over one and keeps the window's peak 4 MB lower
// on an 85 MB file (0.05x); below the C library's bound for blocks of their own, freed pieces are
// taken again from its heap instead of being faulted in anew.
constexpr qsizetype kReadChunk = 256 * 1024;
// The largest body the editor holds. Its positions are 32-bit, so the text must stay below
// 2 GiB; what is left above this is room for inserted lines.
constexpr qint64 kMaxBodyBytes = 2'000'000'000;
// The longest row the editor shows. A repaint lays out each visible row whole, at about
// 0.8 s per MB, so a 64 KiB row keeps a repaint near 50 ms; G-code rows are short (a
// slicer's longest, a settings or thumbnail comment, is a few KB).
constexpr qint64 kMaxRowBytes = 64 * 1024;

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
    QByteArray start; // the file's first bytes (up to 16), whatever the check
};
// Reads the header once from the device's start. When it fits, the device is left at the
// first body byte; otherwise the device's position is unspecified.
HeaderRead readHeader(QIODevice& device);

struct BodyRead
{
    bool ok = true;                                      // false when reading failed before the body's end
    LineBreaks::Style lineBreak = LineBreaks::Style::LF; // the body's first line break
    qint64 textBytes = 0;
    // Bytes of the longest row, its line break not counted: exact when above maxRowBytes;
    // otherwise at most maxRowBytes (a lone CR in a short stretch may count as a byte).
    qint64 longestRow = 0;
    bool tooLarge = false;   // reading stopped once the body passed maxBytes
    bool rowTooLong = false; // reading stopped at a row longer than maxRowBytes
    bool endedEarly = false; // the device ended before expectedBytes
};
// Reads the body from the device's position in chunks of chunkSize bytes and hands each piece
// to sink, in order, every byte as it is: to the device's end, or exactly expectedBytes when
// that is not negative (a device that ends sooner gives endedEarly; bytes after them are not
// read). Stops, with tooLarge, before handing on a chunk that would take the body past maxBytes,
// and with rowTooLong before handing on a chunk where a row grows past maxRowBytes (a file of
// one endless row is not read whole); a negative maxRowBytes measures no row.
BodyRead readBody(QIODevice& device, const std::function<void(QByteArrayView)>& sink,
                  qsizetype chunkSize = kReadChunk, qint64 maxBytes = kMaxBodyBytes,
                  qint64 expectedBytes = -1, qint64 maxRowBytes = kMaxRowBytes);

// Why a body of this size or with a row this long is not opened, in the user's words;
// empty when it can be.
QString bodySizeProblem(qint64 bodyBytes, qint64 maxBytes = kMaxBodyBytes);
QString rowLengthProblem(qint64 longestRow, qint64 maxRowBytes = kMaxRowBytes);

// Writes bytes whole. Returns false when a write fails; problem, when given, then tells why in
// the user's words (a short write is a full disk).
bool writeBytes(QIODevice& device, QByteArrayView bytes, QString* problem = nullptr);

// Writes the output: the header when given, then the rows of text, each ended by a
// line break (a last row without one gets lineBreak). Returns false when a write fails;
// problem, when given, then tells why in the user's words.
bool writeOutput(QIODevice& device, QByteArrayView header, std::string_view text, QByteArrayView lineBreak,
                 QString* problem = nullptr);

// The folder of a dropped file: the text before the last separator, without it; a file
// in a root keeps the root's separator ("/" or "C:\\").
QString folderOf(const QString& path);

// The output name for the header option: the stored name's base with ".gx" (or headerSuffix,
// when given) when the header is written, ".g" when it is removed.
QString outputFileNameFor(const QString& storedName, bool writeHeader, const QString& headerSuffix = {});

// The suffix of an output in the form of binary G-code input.
inline const QString kBinaryOutputSuffix = QStringLiteral(".bgcode");

// Why a typed output name is refused, empty when it names a file in the chosen folder: a
// blank name, "." or "..", one holding a NUL character, or one holding a separator ("../x.gx", "a/b.gx",
// "/tmp/x.gx").
QString outputNameProblem(const QString& name);

} // namespace SlicedFile
