// The layer index, built in one pass over the bytes, agrees with the tests' plain reading of
// the rows (tests/support/ReferenceLayers.h), and every layer lookup (by row, by height) with a
// walk over its layers.

#include "ReferenceLayers.h"

#include "core/layers/LayerIndex.h"
#include "core/text/RowSource.h"
#include "core/text/Utility.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The input chooses well-formed G-code rows: a command, words of a letter and a number, each
    // letter once, sometimes a ";" comment. The index and the reference differ on what the
    // definition leaves open or the reference does not read: stray bytes glued to a command
    // ("G91:", "G2<NUL> X1"), a letter twice in a row, comments in parentheses.
    static const char* const kCommands[] = {"G0",  "G1",  "G2",  "G3", "G92", "M82",
                                            "M83", "G90", "G91", "g1", "G01"};
    static const char kLetters[] = "XYZEIJF";
    QByteArray text;
    QByteArray lettersInRow;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const uint8_t what = data[i];
        const uint8_t value = data[i + 1];
        const QByteArray number =
            (value & 1 ? QByteArray::number((value >> 1) / 10.0, 'f', value % 3)
                       : QByteArray::number(value % 8 == 0 ? -(value >> 4) : value >> 2));
        switch (what % 6) {
        case 0: // a new row with a command
            text += '\n';
            text += kCommands[(what / 6) % std::size(kCommands)];
            lettersInRow.clear();
            break;
        case 1:
        case 2:
        case 3: { // a word
            const char letter = kLetters[(what / 6) % (sizeof kLetters - 1)];
            if (lettersInRow.contains(letter))
                break;
            lettersInRow += letter;
            text += ' ';
            text += letter;
            text += number;
            break;
        }
        case 4: // a comment
            text += " ;LAYER:" + number + (what & 8 ? " Z1" : "");
            text += '\n';
            lettersInRow.clear();
            break;
        default: // CR LF, a blank row
            text += what & 8 ? "\r\n" : "\n\n";
            lettersInRow.clear();
            break;
        }
    }
    const TextRows rows(text);
    const LayerIndex index = LayerIndex::build(rows.bytes());
    QList<int> partStarts;
    const QList<Reference::LayerRow> expected =
        Reference::allLayers(Reference::referenceEffects(rows), &partStarts);
    const LayerSpan layers = index.layers();
    if (qsizetype(layers.size()) != expected.size() || qsizetype(index.partCount()) != partStarts.size())
        std::abort();
    for (qsizetype p = 0; p < partStarts.size(); ++p) {
        if (index.partBegin(std::size_t(p)) != std::size_t(partStarts[p]))
            std::abort();
    }
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (layers[std::size_t(i)].row != expected[i].row ||
            !Reference::sameZ(layers[std::size_t(i)].z(), expected[i].z))
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
    // The height search halves over the layers' blocks: at, just below and just above each
    // layer's height, compared as whole nanometres, it picks in each part the layer a walk over
    // the part picks (the first part also at or below its first layer).
    for (std::size_t k = 0; k < layers.size(); ++k) {
        for (const double target : {layers[k].z(), layers[k].z() - 1e-6, layers[k].z() + 1e-6}) {
            const std::int64_t nanometres = Utility::ToNanometres(target);
            std::vector<std::size_t> walked;
            for (qsizetype p = 0; p < partStarts.size(); ++p) {
                const auto begin = std::size_t(partStarts[p]);
                const std::size_t end = p + 1 < partStarts.size() ? std::size_t(partStarts[p + 1]) : layers.size();
                std::size_t reaching = begin;
                while (reaching < end && layers[reaching].nanometres < nanometres)
                    ++reaching;
                if (reaching == end)
                    continue;
                if (reaching > begin)
                    walked.push_back(reaching - 1);
                else if (p == 0)
                    walked.push_back(begin);
            }
            if (index.layersForHeight(nanometres) != walked)
                std::abort();
            const std::optional<std::size_t> first =
                walked.empty() ? std::nullopt : std::optional<std::size_t>(walked.front());
            if (index.layerForHeight(target) != first)
                std::abort();
        }
    }
    return 0;
}
