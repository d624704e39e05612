#include "core/layers/LayerStore.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

// A step in one byte: the row's zig-zag step in the high bits, the height's in the low ones. A
// byte at or above kLongStep starts a step in two varints.
constexpr std::uint8_t kLongStep = 0x80;
constexpr std::uint64_t kShortRowSteps = 8;
constexpr std::uint64_t kShortHeightSteps = 16;
// A scale in a varint and every step in its long form.
constexpr std::size_t kMostBlockBytes = 5 + (LayerStore::kBlockLayers - 1) * 11;

std::uint64_t zigZag(std::int64_t value)
{
    return (std::uint64_t(value) << 1) ^ std::uint64_t(value >> 63);
}

std::int64_t unZigZag(std::uint64_t value)
{
    return std::int64_t(value >> 1) ^ -std::int64_t(value & 1);
}

std::uint8_t* putVarint(std::uint8_t* out, std::uint64_t value)
{
    while (value >= 0x80) {
        *out++ = std::uint8_t(value | 0x80);
        value >>= 7;
    }
    *out++ = std::uint8_t(value);
    return out;
}

std::uint64_t getVarint(const std::uint8_t*& in)
{
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        const std::uint8_t byte = *in++;
        value |= std::uint64_t(byte & 0x7f) << shift;
        if (byte < 0x80)
            return value;
    }
}

Layer layerOf(std::int32_t row, std::int32_t nanometres)
{
    Layer layer;
    layer.row = row;
    layer.nanometres = nanometres;
    return layer;
}

} // namespace

void LayerStore::Reader::step()
{
    std::uint64_t rowStep = 0;
    std::uint64_t heightStep = 0;
    const std::uint8_t first = *next++;
    if (first < kLongStep) {
        rowStep = first >> 4;
        heightStep = first & 0x0f;
    } else {
        rowStep = getVarint(next);
        heightStep = getVarint(next);
    }
    layer.row = int(layer.row + unZigZag(rowStep));
    layer.nanometres = std::int32_t(layer.nanometres + unZigZag(heightStep) * scale);
}

LayerStore::Reader LayerStore::readerAt(std::size_t block) const
{
    const Block& b = m_blocks[block];
    Reader reader;
    reader.next = m_chunks[b.offset >> 16].data() + (b.offset & 0xffff);
    reader.scale = std::int64_t(getVarint(reader.next));
    reader.layer = layerOf(b.row, b.nanometres);
    return reader;
}

Layer LayerStore::firstOf(std::size_t group) const
{
    if (group < m_blocks.size())
        return layerOf(m_blocks[group].row, m_blocks[group].nanometres);
    return m_tail.front();
}

Layer LayerStore::operator[](std::size_t index) const
{
    const std::size_t block = index / kBlockLayers;
    if (block >= m_blocks.size())
        return m_tail[index - m_blocks.size() * kBlockLayers];
    Reader reader = readerAt(block);
    for (std::size_t i = block * kBlockLayers; i < index; ++i)
        reader.step();
    return reader.layer;
}

const Layer& LayerStore::Iterator::current() const
{
    if (m_decoded == m_index)
        return m_reader.layer;
    const auto index = std::size_t(m_index);
    const std::size_t block = index / kBlockLayers;
    if (block >= m_store->m_blocks.size()) {
        m_reader.layer = m_store->m_tail[index - m_store->m_blocks.size() * kBlockLayers];
    } else if (m_decoded >= 0 && m_decoded + 1 == m_index && index % kBlockLayers != 0) {
        m_reader.step(); // the next layer of the same block
    } else {
        m_reader = m_store->readerAt(block);
        for (std::size_t i = block * kBlockLayers; i < index; ++i)
            m_reader.step();
    }
    m_decoded = m_index;
    return m_reader.layer;
}

namespace {

constexpr std::uint32_t kPowersOfTen[] = {1, 10, 100, 1'000, 10'000, 100'000, 1'000'000};
constexpr int kLargestPower = 6;

// size / 10^k, by a constant divisor in each case (a multiplication); a block takes one case
// for all its steps.
std::uint32_t countOfPower(std::uint32_t size, int k)
{
    switch (k) {
    case 6:
        return size / 1'000'000;
    case 5:
        return size / 100'000;
    case 4:
        return size / 10'000;
    case 3:
        return size / 1'000;
    case 2:
        return size / 100;
    case 1:
        return size / 10;
    default:
        return size;
    }
}

} // namespace

std::size_t LayerStore::encode(const Layer* layers, std::uint8_t* out)
{
    // The height steps are counted in the largest power of ten, up to a millimetre, that each is
    // a whole number of: a Z written with d decimals steps in 10^(6-d) nanometres.
    std::uint32_t sizes[kBlockLayers];
    int k = kLargestPower;
    for (std::size_t i = 1; i < kBlockLayers; ++i) {
        const std::int64_t step = std::int64_t(layers[i].nanometres) - layers[i - 1].nanometres;
        sizes[i] = std::uint32_t(step < 0 ? -step : step);
        while (k > 0 && countOfPower(sizes[i], k) * kPowersOfTen[k] != sizes[i])
            --k;
    }
    std::uint8_t* p = putVarint(out, kPowersOfTen[k]);
    for (std::size_t i = 1; i < kBlockLayers; ++i) {
        const std::uint64_t rowStep = zigZag(std::int64_t(layers[i].row) - layers[i - 1].row);
        const std::int64_t steps = countOfPower(sizes[i], k);
        const std::uint64_t heightStep =
            zigZag(layers[i].nanometres < layers[i - 1].nanometres ? -steps : steps);
        if (rowStep < kShortRowSteps && heightStep < kShortHeightSteps) {
            *p++ = std::uint8_t(rowStep << 4 | heightStep);
        } else {
            *p++ = kLongStep;
            p = putVarint(p, rowStep);
            p = putVarint(p, heightStep);
        }
    }
    return std::size_t(p - out);
}

std::size_t LayerStore::decode(std::size_t block, Layer* layers) const
{
    Reader reader = readerAt(block);
    const std::uint8_t* start =
        m_chunks[m_blocks[block].offset >> 16].data() + (m_blocks[block].offset & 0xffff);
    layers[0] = reader.layer;
    for (std::size_t i = 1; i < kBlockLayers; ++i) {
        reader.step();
        layers[i] = reader.layer;
    }
    return std::size_t(reader.next - start);
}

std::uint32_t LayerStore::place(const std::uint8_t* bytes, std::size_t count)
{
    if (m_chunks.empty() || m_chunks.back().size() + count > kChunkBytes) {
        if (m_chunks.size() >= (std::size_t(1) << 16))
            throw std::length_error("LayerStore: too many layers");
        m_chunks.emplace_back();
    }
    std::vector<std::uint8_t>& chunk = m_chunks.back();
    // Grown by doubling up to a whole chunk: a small index stays small, a big one copies a
    // chunk at most.
    if (chunk.size() + count > chunk.capacity())
        chunk.reserve(
            std::min(kChunkBytes, std::max({chunk.capacity() * 2, chunk.size() + count, std::size_t(256)})));
    const auto offset = std::uint32_t((m_chunks.size() - 1) << 16 | chunk.size());
    chunk.insert(chunk.end(), bytes, bytes + count);
    m_liveBytes += count;
    return offset;
}

void LayerStore::closeBlock()
{
    std::uint8_t bytes[kMostBlockBytes];
    const std::size_t count = encode(m_tail.data(), bytes);
    const std::uint32_t offset = place(bytes, count);
    m_blocks.push_back({m_tail.front().row, m_tail.front().nanometres, offset});
    m_tail.clear();
}

void LayerStore::append(const Layer& layer)
{
    if (m_tail.capacity() < kBlockLayers)
        m_tail.reserve(kBlockLayers);
    m_tail.push_back(layer);
    if (m_tail.size() == kBlockLayers)
        closeBlock();
}

void LayerStore::clear()
{
    m_blocks.clear();
    m_chunks.clear();
    m_tail.clear();
    m_liveBytes = m_deadBytes = 0;
}

void LayerStore::reserve(std::size_t layers)
{
    m_blocks.reserve(layers / kBlockLayers + 1);
}

void LayerStore::shiftRows(std::size_t first, int by)
{
    if (by == 0 || first >= size())
        return;
    std::size_t block = first / kBlockLayers;
    if (block < m_blocks.size() && first % kBlockLayers != 0) {
        // Inside a block: its steps change at first, so it is written again, where it was when
        // it still fits there.
        Layer layers[kBlockLayers];
        const std::size_t before = decode(block, layers);
        for (std::size_t i = first % kBlockLayers; i < kBlockLayers; ++i)
            layers[i].row += by;
        std::uint8_t bytes[kMostBlockBytes];
        const std::size_t count = encode(layers, bytes);
        Block& b = m_blocks[block];
        if (count <= before) {
            std::memcpy(m_chunks[b.offset >> 16].data() + (b.offset & 0xffff), bytes, count);
        } else {
            b.offset = place(bytes, count);
            m_deadBytes += before;
        }
        ++block;
    }
    for (; block < m_blocks.size(); ++block)
        m_blocks[block].row += by;
    const std::size_t tailStart = m_blocks.size() * kBlockLayers;
    for (std::size_t i = first > tailStart ? first - tailStart : 0; i < m_tail.size(); ++i)
        m_tail[i].row += by;
    // Edits that keep moving blocks leave their old bytes behind; past a quarter of the store
    // they are let go.
    if (m_deadBytes > kChunkBytes && m_deadBytes * 4 > m_liveBytes)
        compact();
}

void LayerStore::compact()
{
    LayerStore fresh;
    fresh.m_blocks.reserve(m_blocks.size());
    Layer layers[kBlockLayers];
    std::uint8_t bytes[kMostBlockBytes];
    for (std::size_t block = 0; block < m_blocks.size(); ++block) {
        decode(block, layers);
        const std::size_t count = encode(layers, bytes);
        fresh.m_blocks.push_back(
            {m_blocks[block].row, m_blocks[block].nanometres, fresh.place(bytes, count)});
    }
    fresh.m_tail = std::move(m_tail);
    *this = std::move(fresh);
}

std::size_t LayerStore::memoryBytes() const
{
    // Room reserved and not yet written is not counted: the system gives its pages only when
    // they are written.
    std::size_t bytes = m_blocks.size() * sizeof(Block) + m_tail.capacity() * sizeof(Layer) +
                        m_chunks.capacity() * sizeof(std::vector<std::uint8_t>);
    for (const std::vector<std::uint8_t>& chunk : m_chunks)
        bytes += chunk.size();
    return bytes;
}
