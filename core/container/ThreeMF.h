#pragma once

// A 3MF with G-code (".gcode.3mf"): a zip archive whose entries "Metadata/plate_N.gcode" hold
// each plate's G-code, most beside "Metadata/plate_N.gcode.md5", the upper-case hex MD5 of it.
// One plate's G-code is the body the editor edits. The archive is kept whole and written back
// through libzip: every other entry keeps its stored (compressed) bytes, name, place, compression,
// time and extra fields; the plate's entry gets the new G-code under its name, in its compression
// method and with its time, and its .md5 entry, where there is one, the new text's MD5.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstdint>
#include <ctime>
#include <functional>

class QIODevice;

namespace ThreeMF {

// The start of a zip archive's first entry, "PK\3\4".
inline constexpr QByteArrayView kMagic("PK\x03\x04", 4);

// An entry written anew on output: where it is and how it was stored.
struct Entry
{
    std::int64_t index = -1; // in the archive's central directory; -1 for none
    std::int32_t method = 0; // the zip compression method (0 stored, 8 deflate, ...)
    std::time_t time = 0;    // its modification time
};

// What an archive keeps around the plate's G-code.
struct Archive
{
    QByteArray file;   // the input archive, byte for byte
    QList<int> plates; // every plate with G-code, ascending
    int plate = 1;     // the plate read
    Entry gcode;       // Metadata/plate_N.gcode
    Entry md5;         // Metadata/plate_N.gcode.md5; index -1 when the archive has none
};

struct Decoded
{
    QString problem;       // why the file is refused, in the user's words; empty when it was read
    bool tooLarge = false; // the problem is a size past the limit or the memory left
    bool noGCode = false;  // the problem is an archive without any plate's G-code
    bool cancelled = false; // the problem is that no plate was chosen
    Archive archive;
    QByteArray text;

    bool ok() const { return problem.isEmpty(); }
};

// The plates with G-code in a zip archive, ascending; empty, with problem set, when the archive
// cannot be read or holds no plate's G-code. Only the central directory is read.
QList<int> plates(QByteArrayView file, QString* problem = nullptr);

// Reads plate's G-code from a whole zip archive. Every entry is checked first: a name with ".."
// or an absolute path, encryption, an unknown compression, or (read through) a CRC or size that
// does not match its bytes refuses the archive, and so does a plate entry that declares more than
// maxTextBytes or the memory left. Nothing is unpacked past an entry's declared size.
// With choose given and more than one plate, choose(plates) names the plate instead; 0 refuses
// the archive with cancelled set.
using PlateChooser = std::function<int(const QList<int>& plates)>;
Decoded decode(QByteArrayView file, int plate, qint64 maxTextBytes, const PlateChooser& choose = {});

// Whether the device's next bytes start a zip archive; nothing is taken from it.
bool startsZip(QIODevice& device);

// Reads the device from its position to its end (at most maxFileBytes; more is refused as too
// large) and decodes it.
Decoded decode(QIODevice& device, int plate, qint64 maxFileBytes, qint64 maxTextBytes,
               const PlateChooser& choose = {});

// The archive with text as the plate's G-code and its MD5 anew; empty, with problem set, when it
// cannot be written.
QByteArray encode(const Archive& archive, QByteArrayView text, QString* problem = nullptr);

// The upper-case hex MD5 of text, as the .md5 entry holds it.
QByteArray md5Hex(QByteArrayView text);

// "Metadata/plate_N.gcode".
QString gcodeEntryName(int plate);

} // namespace ThreeMF
