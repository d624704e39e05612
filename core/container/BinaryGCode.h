#pragma once

// Binary G-code: a file header (the magic "GCDE", a version, a checksum kind) and blocks, each a
// header (kind, compression, sizes), its parameters, its data and, when the file says so, the
// CRC-32 of those three. The G-code blocks come last; their text, joined, is the body the editor
// edits. Every other block (file, printer, print and slicer metadata, thumbnails) is kept as its
// bytes and written back unchanged, in its place; the G-code is written again with the
// compression and packing the file used, in blocks of the size it used, each checksum anew.
// All numbers are little-endian.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>

class QIODevice;

namespace BinaryGCode {

inline constexpr QByteArrayView kMagic("GCDE", 4);

enum class Compression : std::uint16_t { None = 0, Deflate = 1, Heatshrink11 = 2, Heatshrink12 = 3 };
enum class Encoding : std::uint16_t { None = 0, MeatPack = 1, MeatPackComments = 2 };
enum class BlockType : std::uint16_t {
    FileMetadata = 0,
    GCode = 1,
    SlicerMetadata = 2,
    PrinterMetadata = 3,
    PrintMetadata = 4,
    Thumbnail = 5,
};

// What a file keeps around its G-code, and how its G-code is written.
struct Container
{
    QByteArray fileHeader;   // the file's first 10 bytes
    QByteArray before;       // every block before the G-code, byte for byte
    QByteArray after;        // any block after it
    bool checksums = true;   // each block ends with its CRC-32
    Compression compression = Compression::None;
    Encoding encoding = Encoding::None;
    std::uint32_t blockBytes = 65536; // the most bytes of packed G-code a block holds
    int gcodeBlocks = 0;
};

struct Decoded
{
    QString problem; // why the file is refused, in the user's words; empty when it was read
    bool tooLarge = false; // the problem is a size past maxTextBytes
    Container container;
    QByteArray text;

    bool ok() const { return problem.isEmpty(); }
};

// Reads a whole binary G-code file. A G-code text longer than maxTextBytes, or a block that
// declares more, is refused before its bytes are unpacked.
Decoded decode(QByteArrayView file, qint64 maxTextBytes);

// Whether the device's next bytes start binary G-code; nothing is taken from it.
bool startsBinary(QIODevice& device);

// Reads the device from its position to its end (at most maxFileBytes; more is refused as too
// large) and decodes it.
Decoded decode(QIODevice& device, qint64 maxFileBytes, qint64 maxTextBytes);

// The file of text in container's form: its kept blocks, and the text in G-code blocks. Empty,
// with problem set, when the text cannot be written so (a 0xFF byte, which packing cannot
// carry).
QByteArray encode(const Container& container, QByteArrayView text, QString* problem = nullptr);

// A container for text of this form, with no block but the G-code's: what tests and the bench
// make files from.
Container plain(Compression compression, Encoding encoding, std::uint32_t blockBytes = 65536,
                bool checksums = true);

} // namespace BinaryGCode
