// A 3MF with G-code: any bytes are read or refused without failing, nothing unpacked past the
// limit; an archive that is read, written again with its plate's text changed, reads back to that
// text, its .md5 (where it had one) the text's, with the same plates.

#include "core/container/ThreeMF.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView in(reinterpret_cast<const char*>(data), qsizetype(size));
    constexpr qint64 kLimit = 1 << 20;
    const ThreeMF::Decoded decoded = ThreeMF::decode(in, 1, kLimit);
    if (!decoded.ok()) {
        if (decoded.problem.isEmpty() || !decoded.text.isEmpty())
            std::abort();
        return 0;
    }
    if (decoded.text.size() > kLimit || decoded.archive.plates != ThreeMF::plates(in) ||
        !decoded.archive.plates.contains(1))
        std::abort();
    const QByteArray text = decoded.text + "M25\n";
    QString problem;
    const QByteArray file = ThreeMF::encode(decoded.archive, text, &problem);
    if (file.isEmpty())
        std::abort();
    const ThreeMF::Decoded again = ThreeMF::decode(file, 1, kLimit + 4);
    if (!again.ok() || again.text != text || again.archive.plates != decoded.archive.plates ||
        (again.archive.md5.index >= 0) != (decoded.archive.md5.index >= 0))
        std::abort();
    return 0;
}
