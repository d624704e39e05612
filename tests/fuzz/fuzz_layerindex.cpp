// The layer index, built in one pass over the bytes, agrees with the tests' plain reading of
// the rows (tests/support/ReferenceLayers.h), and every layer lookup with a walk over its layers.

#include "ReferenceLayers.h"

#include "core/gcode/LayerIndex.h"
#include "core/navigation/RowSource.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const TextRows rows(text);
    const LayerIndex index = LayerIndex::build(rows.bytes());
    const QList<Reference::LayerRow> expected = Reference::allLayers(Reference::referenceEffects(rows));
    const std::vector<Layer>& layers = index.layers();
    if (qsizetype(layers.size()) != expected.size())
        std::abort();
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (layers[std::size_t(i)].row != expected[i].row ||
            !Reference::sameZ(layers[std::size_t(i)].z, expected[i].z))
            std::abort();
    }
    for (int row = -1; row <= rows.physicalRowCount(); ++row) {
        std::optional<std::size_t> at;
        for (std::size_t i = 0; i < layers.size(); ++i) {
            if (layers[i].row <= row)
                at = i;
        }
        if (index.layerAt(row) != at)
            std::abort();
    }
    return 0;
}
