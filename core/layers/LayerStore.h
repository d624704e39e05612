#pragma once

// The layers of a body, kept in little more than a byte a layer when they come one per row or two,
// as a spiral vase's do.
//
// Layers are kept in blocks of kBlockLayers: a block holds its first layer whole and the others as
// the steps from the layer before, row and height, both in one byte when both are small and in
// two zig-zag varints else; the height steps are counted in the largest power of ten that they all
// are whole numbers of, so that a Z written with four decimals steps in hundreds of nanometres. The bytes are
// appended in chunks of at most kChunkBytes, so that the store never copies more than a chunk to
// grow. The last, unfinished block is held plain until it is full.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

// A spiral vase has a layer per line, millions of them, so a layer is kept as its row and its
// height in whole nanometres. A Z with up to six decimals (every slicer writes fewer) gives back
// the very double its text gives; a finer one is taken to the nanometre, as a height search and a
// relative move's sum already take it, and one beyond about 2 m is held at the bound.
struct Layer
{
    Layer() = default;
    Layer(int changeRow, double height);

    double z() const { return double(nanometres) / 1e6; } // the layer's printing height

    int row = 0; // the layer change row: 0-based body row, rows counted as RowSource counts them
    std::int32_t nanometres = 0;
};

class LayerStore
{
public:
    static constexpr std::size_t kBlockLayers = 64;
    static constexpr std::size_t kChunkBytes = 64 * 1024;

    class Iterator;

    std::size_t size() const { return m_blocks.size() * kBlockLayers + m_tail.size(); }
    bool empty() const { return size() == 0; }
    // The layer at index; index must be below size(). Decodes at most one block.
    Layer operator[](std::size_t index) const;
    Iterator begin() const;
    Iterator end() const;

    // Appends layer behind the last one.
    void append(const Layer& layer);
    void clear();
    // Room for about this many layers, so that the list of blocks does not grow by copying.
    void reserve(std::size_t layers);

    // The number of layers from the first on for which pred holds, pred holding for a first part
    // of the layers only (as std::partition_point): halving over the blocks, then one block read.
    template <class Pred> std::size_t partitionPoint(Pred pred) const;

    // Moves the rows of the layers from index first on by by.
    void shiftRows(std::size_t first, int by);

    // The bytes the layers take in memory.
    std::size_t memoryBytes() const;

private:
    struct Block
    {
        std::int32_t row;
        std::int32_t nanometres;
        std::uint32_t offset; // chunk << 16 | position in the chunk
    };
    static_assert(kChunkBytes == 1 << 16);

    // Reads a block's layers one after another.
    struct Reader
    {
        const std::uint8_t* next = nullptr;
        std::int64_t scale = 1;
        Layer layer;
        void step();
    };
    Reader readerAt(std::size_t block) const;
    // The blocks and, after them, the tail, each a group of layers.
    std::size_t groups() const { return m_blocks.size() + (m_tail.empty() ? 0 : 1); }
    Layer firstOf(std::size_t group) const;

    // Encodes layers (a whole block) into out; returns the bytes written.
    static std::size_t encode(const Layer* layers, std::uint8_t* out);
    // Decodes block into layers; returns the bytes it takes.
    std::size_t decode(std::size_t block, Layer* layers) const;
    // Puts bytes at the end of the last chunk, or of a new one; returns their offset.
    std::uint32_t place(const std::uint8_t* bytes, std::size_t count);
    void closeBlock();
    // Writes the whole store again, leaving out the bytes of blocks that moved.
    void compact();

    std::vector<Block> m_blocks;
    std::vector<std::vector<std::uint8_t>> m_chunks;
    std::vector<Layer> m_tail;   // the layers after the last block, fewer than kBlockLayers
    std::size_t m_liveBytes = 0; // bytes written to the chunks, those of moved blocks included
    std::size_t m_deadBytes = 0; // bytes of blocks that were written again elsewhere
};

// Reads the store in order from an index on, one step a layer; a jump decodes one block.
class LayerStore::Iterator
{
public:
    using iterator_concept = std::random_access_iterator_tag;
    using iterator_category = std::random_access_iterator_tag;
    using value_type = Layer;
    using difference_type = std::ptrdiff_t;
    using reference = Layer;
    using pointer = const Layer*;

    Iterator() = default;
    Iterator(const LayerStore* store, difference_type index) : m_store(store), m_index(index) {}

    Layer operator*() const { return current(); }
    // Valid while the iterator stays where it is.
    const Layer* operator->() const { return &current(); }
    Layer operator[](difference_type n) const { return *(*this + n); }

    Iterator& operator++()
    {
        ++m_index;
        return *this;
    }
    Iterator operator++(int)
    {
        Iterator before = *this;
        ++m_index;
        return before;
    }
    Iterator& operator--()
    {
        --m_index;
        return *this;
    }
    Iterator operator--(int)
    {
        Iterator before = *this;
        --m_index;
        return before;
    }
    Iterator& operator+=(difference_type n)
    {
        m_index += n;
        return *this;
    }
    Iterator& operator-=(difference_type n)
    {
        m_index -= n;
        return *this;
    }
    friend Iterator operator+(Iterator it, difference_type n) { return it += n; }
    friend Iterator operator+(difference_type n, Iterator it) { return it += n; }
    friend Iterator operator-(Iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const Iterator& a, const Iterator& b) { return a.m_index - b.m_index; }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.m_index == b.m_index; }
    friend bool operator!=(const Iterator& a, const Iterator& b) { return a.m_index != b.m_index; }
    friend bool operator<(const Iterator& a, const Iterator& b) { return a.m_index < b.m_index; }
    friend bool operator>(const Iterator& a, const Iterator& b) { return a.m_index > b.m_index; }
    friend bool operator<=(const Iterator& a, const Iterator& b) { return a.m_index <= b.m_index; }
    friend bool operator>=(const Iterator& a, const Iterator& b) { return a.m_index >= b.m_index; }

private:
    const Layer& current() const;

    const LayerStore* m_store = nullptr;
    difference_type m_index = 0;
    // The layer last decoded, and where the next of its block starts.
    mutable difference_type m_decoded = -1;
    mutable Reader m_reader;
};

inline LayerStore::Iterator LayerStore::begin() const
{
    return Iterator(this, 0);
}

inline LayerStore::Iterator LayerStore::end() const
{
    return Iterator(this, std::ptrdiff_t(size()));
}

template <class Pred> std::size_t LayerStore::partitionPoint(Pred pred) const
{
    // The groups whose first layer passes; the point lies in the last of them.
    std::size_t low = 0;
    std::size_t high = groups();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (pred(firstOf(middle)))
            low = middle + 1;
        else
            high = middle;
    }
    if (low == 0)
        return 0;
    const std::size_t group = low - 1;
    std::size_t count = 1;
    if (group < m_blocks.size()) {
        Reader reader = readerAt(group);
        for (; count < kBlockLayers; ++count) {
            reader.step();
            if (!pred(reader.layer))
                break;
        }
    } else {
        while (count < m_tail.size() && pred(m_tail[count]))
            ++count;
    }
    return group * kBlockLayers + count;
}

// A read-only view of the layers of an index: bottom to top, rows ascending.
class LayerSpan
{
public:
    using value_type = Layer;
    using const_iterator = LayerStore::Iterator;
    using iterator = const_iterator;

    LayerSpan() = default;
    explicit LayerSpan(const LayerStore& store) : m_store(&store) {}

    std::size_t size() const { return m_store ? m_store->size() : 0; }
    bool empty() const { return size() == 0; }
    Layer operator[](std::size_t index) const { return (*m_store)[index]; }
    Layer front() const { return (*m_store)[0]; }
    Layer back() const { return (*m_store)[size() - 1]; }
    const_iterator begin() const { return m_store ? m_store->begin() : const_iterator(); }
    const_iterator end() const { return m_store ? m_store->end() : const_iterator(); }
    // As LayerStore::partitionPoint: std::partition_point's answer, as an index, reading one block.
    template <class Pred> std::size_t partitionPoint(Pred pred) const
    {
        return m_store ? m_store->partitionPoint(pred) : 0;
    }

private:
    const LayerStore* m_store = nullptr;
};
