#pragma once

// MeatPack, the packing binary G-code may put its G-code text through before compressing it:
// the fifteen characters G-code uses most ("0" to "9", ".", " ", LF, "G", "X") take four bits
// each, two to a byte, the first in the low half; the half 0xF marks a character that did not
// fit, which follows whole in the next byte (both halves 0xF: two whole bytes follow, the
// first character's first). After an LF in the low half the high half is not read, so a row of
// odd length still ends on a byte. Two 0xFF bytes and a third are a signal: 0xFB packs from
// there on, 0xFA stops packing (bytes are then taken as they are), 0xF9 resets both modes, 0xF7
// drops spaces (half 11 then stands for "E" instead of " "), 0xF6 keeps them again; others
// (0xF8 asks the printer for its settings) change nothing here.
//
// A file packed without spaces gets a space back before each capital letter of a command row
// that follows anything but a space, outside a comment: "G1X10Y2E.5" reads "G1 X10 Y2 E.5", as
// a slicer writes its rows.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace MeatPack {

// Reads a packed stream handed over in pieces (a file's blocks, in order): its state runs on
// from one piece into the next.
class Decoder
{
public:
    // Appends the text of the next piece to out.
    void decode(QByteArrayView in, QByteArray& out);
    // Whether the stream ended between the bytes of one character pair or of one signal; why.
    QString unfinished() const;

private:
    void command(unsigned char c);
    bool m_packing = false;
    bool m_noSpaces = false;
    bool m_oneFF = false;       // the last byte was a single 0xFF
    bool m_commandNext = false; // two 0xFF came: the next byte is a signal
    int m_wholeNext = 0;        // whole characters still to come for the last pair
    char m_held = 0;            // a packed second character that follows the first, whole one
    bool m_holding = false;
    char m_last = '\n';         // the last character put out
    bool m_inComment = false;
};

// The signal that starts packing; every block the encoder writes starts with it.
inline constexpr QByteArrayView kPackingOn("\xff\xff\xfb", 3);

// Appends the packed bytes of one row (through its LF, or the text's last bytes without one)
// to out. A row of odd length without LF ends with a signal that stops packing, then its last
// byte whole. False, with nothing appended, when the row holds a 0xFF byte, which no packed
// stream can carry (two of them would read as a signal).
bool encodeRow(QByteArrayView row, QByteArray& out);

} // namespace MeatPack
