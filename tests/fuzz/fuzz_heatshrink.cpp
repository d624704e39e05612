// Heatshrink: the fast decoder gives, for any bytes and either window, what the plain bit-by-bit
// reference decoder gives, cut at the size declared; the encoder's output of any bytes decodes
// back to them through the reference.

#include "ReferenceHeatshrink.h"

#include "core/container/Heatshrink.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int windowBits = (data[0] & 1) ? 12 : 11;
    const qsizetype limit = qsizetype(data[0] >> 1) * 64; // 0 to 8128 bytes declared
    const QByteArrayView in(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    const std::string reference = referenceHeatshrinkDecode({in.data(), std::size_t(in.size())}, windowBits, 4);
    QByteArray fast;
    const bool fits = Heatshrink::decode(in, {windowBits, 4}, fast, limit);
    if (fits != (qsizetype(reference.size()) <= limit))
        std::abort();
    const qsizetype expected = fits ? qsizetype(reference.size()) : limit;
    if (fits ? fast.size() != expected : fast.size() > limit)
        std::abort();
    if (QByteArrayView(fast) != QByteArrayView(reference.data(), fast.size()))
        std::abort();

    QByteArray packed;
    Heatshrink::encode(in, {windowBits, 4}, packed);
    const std::string back = referenceHeatshrinkDecode({packed.constData(), std::size_t(packed.size())}, windowBits, 4);
    if (QByteArrayView(back.data(), qsizetype(back.size())) != in)
        std::abort();
    return 0;
}
