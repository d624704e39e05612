#pragma once

// Heatshrink, the LZSS variant binary G-code compresses its blocks with: a stream of bits, most
// significant first in each byte, the last byte padded with zeros. A 1 bit is followed by a
// literal byte (8 bits); a 0 bit by a back reference: W bits of distance - 1, then L bits of
// length - 1, copying from the bytes already put out (those before the start read as zeros, as
// the encoder's window starts zeroed). Binary G-code uses W 11 or 12 and L 4.

#include <QByteArray>
#include <QByteArrayView>

namespace Heatshrink {

struct Parameters
{
    int windowBits = 12;
    int lookaheadBits = 4;
};

// Appends the decompressed bytes to out. Stops with false, what was put out so far kept, once
// out would pass maxBytes (the size the block declares).
bool decode(QByteArrayView in, Parameters parameters, QByteArray& out, qsizetype maxBytes);

// Appends the compressed bytes to out.
void encode(QByteArrayView in, Parameters parameters, QByteArray& out);

} // namespace Heatshrink
