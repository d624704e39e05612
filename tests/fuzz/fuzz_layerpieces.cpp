// The layer index of a body handed over in pieces, as a drop reads it, agrees with the one
// pass over the whole body: raw bytes split at points the input chooses, through the builder
// and through the indexing thread, reading copies and reading in place. A run marker stretches
// a byte into a long row, so that rows reach and pass the 64 KiB row limit.

#include "core/layers/BackgroundLayerIndex.h"
#include "core/layers/LayerIndex.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdlib>

namespace {

bool sameLayers(const LayerIndex& a, const LayerIndex& b)
{
    if (a.layers().size() != b.layers().size())
        return false;
    for (std::size_t i = 0; i < a.layers().size(); ++i) {
        // Both read the same digits the same way: equal to the bit.
        if (a.layers()[i].row != b.layers()[i].row || a.layers()[i].nanometres != b.layers()[i].nanometres)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte seeds the split points; then the body, where 0xFE n repeats the byte
    // before it n * 512 times (up to 130 560 bytes, past the 64 KiB row limit).
    std::uint32_t seed = data[0] * 2654435761u + 1;
    QByteArray body;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFE && i + 1 < size && !body.isEmpty()) {
            body.append(qsizetype(data[i + 1]) * 512, body.back());
            ++i;
        } else {
            body.append(char(data[i]));
        }
    }
    const std::string_view whole(body.constData(), std::size_t(body.size()));
    const LayerIndex expected = LayerIndex::build(whole);

    // Piece lengths from 0 to about 70 KiB, mostly short, so that breaks, CR LF pairs, words
    // and numbers are split everywhere.
    QList<qsizetype> cuts;
    for (qsizetype at = 0; at < body.size();) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype length =
            (seed >> 16) % 8 == 0 ? qsizetype((seed >> 8) % 70000) : qsizetype((seed >> 16) % 17);
        cuts.append(qMin(length, body.size() - at));
        at += cuts.back();
    }

    LayerIndex::Builder builder(whole.size());
    BackgroundLayerIndex copied(whole.size());
    BackgroundLayerIndex inPlace(whole.size());
    qsizetype at = 0;
    for (const qsizetype length : cuts) {
        const std::string_view piece = whole.substr(std::size_t(at), std::size_t(length));
        builder.add(piece);
        copied.add(QByteArrayView(piece.data(), qsizetype(piece.size())));
        inPlace.addInPlace(QByteArrayView(piece.data(), qsizetype(piece.size())));
        at += length;
    }
    if (!sameLayers(builder.finish(), expected) || !sameLayers(copied.finish(), expected) ||
        !sameLayers(inPlace.finish(), expected))
        std::abort();
    return 0;
}
