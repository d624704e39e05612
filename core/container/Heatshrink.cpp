#include "core/container/Heatshrink.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace Heatshrink {

bool decode(QByteArrayView in, Parameters parameters, QByteArray& out, qsizetype maxBytes)
{
    const int windowBits = parameters.windowBits;
    const int lookaheadBits = parameters.lookaheadBits;
    const int referenceBits = windowBits + lookaheadBits;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(in.data());
    const qsizetype size = in.size();
    const qsizetype start = out.size();
    // Room for the declared size at once, or for the most the input can give when that is less
    // (a reference of 17 bits gives at most 16 bytes): the copies below write into it in place.
    maxBytes = qMin(maxBytes, size * 8 + 16);
    out.resize(start + maxBytes);
    char* const base = out.data() + start;
    char* put = base;
    char* const end = put + maxBytes;
    std::uint64_t bits = 0; // the unread bits, the next one highest
    int count = 0;
    qsizetype next = 0;
    bool fits = true;
    for (;;) {
        if (count < 1 + referenceBits) {
            // Refill whole bytes while there is room for them.
            while (count <= 56 && next < size) {
                bits |= std::uint64_t(bytes[next++]) << (56 - count);
                count += 8;
            }
        }
        if (count < 1)
            break;
        const bool literal = bits >> 63;
        if (literal) {
            if (count < 9)
                break; // the padding of the last byte
            if (put == end) {
                fits = false;
                break;
            }
            *put++ = char(bits >> 55);
            bits <<= 9;
            count -= 9;
            continue;
        }
        if (count < 1 + referenceBits)
            break; // padding
        const qsizetype distance = qsizetype((bits << 1) >> (64 - windowBits)) + 1;
        qsizetype length = qsizetype((bits << (1 + windowBits)) >> (64 - lookaheadBits)) + 1;
        bits <<= 1 + referenceBits;
        count -= 1 + referenceBits;
        if (end - put < length) {
            length = end - put;
            fits = false;
        }
        const qsizetype done = put - base;
        for (qsizetype i = 0; i < length; ++i) {
            const qsizetype from = done + i - distance;
            put[i] = from >= 0 ? base[from] : '\0';
        }
        put += length;
        if (!fits)
            break;
    }
    out.resize(start + (put - base));
    return fits;
}

namespace {

class BitWriter
{
public:
    explicit BitWriter(QByteArray& out) : m_out(out) {}
    void put(std::uint32_t value, int bits)
    {
        m_bits = (m_bits << bits) | value;
        m_count += bits;
        while (m_count >= 8) {
            m_count -= 8;
            m_out.append(char(m_bits >> m_count));
        }
    }
    void finish()
    {
        if (m_count > 0)
            m_out.append(char(m_bits << (8 - m_count)));
        m_count = 0;
    }

private:
    QByteArray& m_out;
    std::uint64_t m_bits = 0;
    int m_count = 0;
};

constexpr int kHashBits = 14;
constexpr int kChainDepth = 8;
constexpr int kMinMatch = 3; // a reference of two bytes saves one bit; of three, ten

std::uint32_t hashAt(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return ((v & 0xffffffu) * 2654435761u) >> (32 - kHashBits);
}

} // namespace

void encode(QByteArrayView in, Parameters parameters, QByteArray& out)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(in.data());
    const qsizetype size = in.size();
    const qsizetype window = qsizetype(1) << parameters.windowBits;
    const qsizetype longest = qsizetype(1) << parameters.lookaheadBits;
    BitWriter writer(out);
    out.reserve(out.size() + size / 2 + 16);
    // The latest position of each hash, and for each position the one before it of the same hash.
    std::vector<std::int32_t> head(std::size_t(1) << kHashBits, -1);
    std::vector<std::int32_t> previous(std::size_t(window), -1);
    const auto insert = [&](qsizetype at) {
        if (at + 4 > size)
            return;
        const std::uint32_t h = hashAt(bytes + at);
        previous[std::size_t(at & (window - 1))] = head[h];
        head[h] = std::int32_t(at);
    };
    qsizetype at = 0;
    while (at < size) {
        qsizetype bestLength = 0;
        qsizetype bestDistance = 0;
        if (at + 4 <= size) {
            const qsizetype most = qMin(longest, size - at);
            std::int32_t candidate = head[hashAt(bytes + at)];
            for (int depth = 0; depth < kChainDepth && candidate >= 0; ++depth) {
                const qsizetype distance = at - candidate;
                if (distance > window || distance <= 0)
                    break;
                qsizetype length = 0;
                while (length < most && bytes[candidate + length] == bytes[at + length])
                    ++length;
                if (length > bestLength) {
                    bestLength = length;
                    bestDistance = distance;
                    if (length == most)
                        break;
                }
                const std::int32_t earlier = previous[std::size_t(candidate & (window - 1))];
                if (earlier >= candidate)
                    break; // the slot was taken again by a later position
                candidate = earlier;
            }
        }
        if (bestLength >= kMinMatch) {
            writer.put(0, 1);
            writer.put(std::uint32_t(bestDistance - 1), parameters.windowBits);
            writer.put(std::uint32_t(bestLength - 1), parameters.lookaheadBits);
            for (qsizetype i = 0; i < bestLength; ++i)
                insert(at + i);
            at += bestLength;
        } else {
            writer.put(0x100u | bytes[at], 9);
            insert(at);
            ++at;
        }
    }
    writer.finish();
}

} // namespace Heatshrink
