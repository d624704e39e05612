// MeatPack: any bytes decode without failing, the same whole as handed over in two pieces; any
// text without a 0xFF byte, packed row by row, decodes back to itself.

#include "core/container/MeatPack.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView in(reinterpret_cast<const char*>(data), qsizetype(size));

    MeatPack::Decoder whole;
    QByteArray wholeText;
    whole.decode(in, wholeText);
    const qsizetype cut = size ? qsizetype(data[0]) % qsizetype(size + 1) : 0;
    MeatPack::Decoder pieces;
    QByteArray piecesText;
    pieces.decode(in.first(cut), piecesText);
    pieces.decode(in.sliced(cut), piecesText);
    if (wholeText != piecesText || whole.unfinished() != pieces.unfinished())
        std::abort();

    if (in.contains('\xff'))
        return 0;
    QByteArray packed(MeatPack::kPackingOn.data(), MeatPack::kPackingOn.size());
    qsizetype start = 0;
    while (start < in.size()) {
        const qsizetype lf = in.indexOf('\n', start);
        const qsizetype end = lf < 0 ? in.size() : lf + 1;
        if (!MeatPack::encodeRow(in.sliced(start, end - start), packed))
            std::abort();
        start = end;
    }
    MeatPack::Decoder decoder;
    QByteArray text;
    decoder.decode(packed, text);
    if (text != in || !decoder.unfinished().isEmpty())
        std::abort();
    return 0;
}
