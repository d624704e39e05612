#pragma once

// A sliced file is a header (the bytes through the second LF, kept aside untouched)
// followed by the body: the G-code text up to the first 0xFF or 0x00 byte.

#include <QByteArrayView>

#include <string_view>

class QIODevice;

namespace SlicedFile {

constexpr qsizetype kHeaderCapacity = 35000;

// The header's length (through the second LF) within the file's first bytes, or -1
// when the second LF is not among the first kHeaderCapacity bytes.
qsizetype headerLength(QByteArrayView firstBytes);

// How many leading bytes are body text: everything before the first 0xFF or 0x00.
qsizetype bodyTextLength(QByteArrayView bytes);

// True when the first line break of the text is CR LF.
bool usesCrLf(QByteArrayView text);

// Writes the output: the header when given, then the rows of text, each ended by a
// line break (a last row without one gets lineBreak). Returns false when a write fails.
bool writeOutput(QIODevice& device, QByteArrayView header, std::string_view text, QByteArrayView lineBreak);

} // namespace SlicedFile
