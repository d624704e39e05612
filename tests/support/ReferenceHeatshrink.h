#pragma once

// A plain heatshrink decoder, one bit at a time, as the format is described: a 1 bit and eight
// bits of a literal byte, or a 0 bit, windowBits of distance - 1 and lookaheadBits of length - 1,
// most significant bit first; bytes before the start read as zeros; a reference or literal cut
// short by the end is padding. For the tests and the fuzz target to check the fast one against.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline std::string referenceHeatshrinkDecode(std::string_view in, int windowBits, int lookaheadBits)
{
    std::string out;
    std::size_t bit = 0;
    const std::size_t total = in.size() * 8;
    const auto take = [&](int count, std::uint32_t& value) {
        if (bit + std::size_t(count) > total)
            return false;
        value = 0;
        for (int i = 0; i < count; ++i, ++bit)
            value = (value << 1) | ((std::uint8_t(in[bit / 8]) >> (7 - bit % 8)) & 1u);
        return true;
    };
    for (;;) {
        std::uint32_t tag = 0;
        if (!take(1, tag))
            break;
        if (tag == 1) {
            std::uint32_t byte = 0;
            if (!take(8, byte))
                break;
            out.push_back(char(byte));
            continue;
        }
        std::uint32_t index = 0, count = 0;
        if (!take(windowBits, index) || !take(lookaheadBits, count))
            break;
        for (std::uint32_t i = 0; i <= count; ++i) {
            const std::ptrdiff_t from = std::ptrdiff_t(out.size()) - std::ptrdiff_t(index) - 1;
            out.push_back(from >= 0 ? out[std::size_t(from)] : '\0');
        }
    }
    return out;
}
