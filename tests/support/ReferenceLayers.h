#pragma once

// A plain reading of a sliced body's layers for the tests, written apart from LayerIndex and
// slowly on purpose: each row's command split into words by a regular expression, and each
// layer's change row found by walking the rows. The layers a slicer announces come from its
// own layer comments.

#include "core/text/RowSource.h"

#include <QDir>
#include <QList>
#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <optional>

namespace Reference {

struct LayerRow
{
    int row = 0;
    double z = 0.0;
};

inline bool sameZ(double a, double b)
{
    return std::abs(a - b) < 1e-9;
}

// --- A plain reference reading of the rows, written apart from the index ---------------------

// What one row does, read the slow and obvious way: the words of its command part.
struct RowEffect
{
    std::optional<double> zSet;         // a G0/G1 move that sets Z
    std::optional<double> extrusionAtZ; // an extrusion, at this printing height
};

inline QList<RowEffect> referenceEffects(const RowSource& rows)
{
    static const QRegularExpression word(QStringLiteral("([A-Z])([-+]?[0-9]*\\.?[0-9]+)"));
    QList<RowEffect> effects;
    std::optional<double> z;
    double e = 0.0;
    bool relativeE = false;
    bool relativeAll = false;
    for (int row = 0; row < rows.physicalRowCount(); ++row) {
        QString command = rows.rowText(row);
        if (const qsizetype comment = command.indexOf(u';'); comment >= 0)
            command.truncate(comment);
        command = command.toUpper();
        QMap<QChar, double> words;
        QString name;
        for (const QRegularExpressionMatch& match : word.globalMatch(command)) {
            if (name.isEmpty())
                name = match.captured(1) + QString::number(match.captured(2).toInt());
            else
                words.insert(match.captured(1)[0], match.captured(2).toDouble());
        }
        RowEffect effect;
        if (name == u"M82") {
            relativeE = false;
        } else if (name == u"M83") {
            relativeE = true;
        } else if (name == u"G90") {
            relativeAll = false;
        } else if (name == u"G91") {
            relativeAll = true;
        } else if (name == u"G28") {
            // Homing: its axes are flags, with a number or without ("G28 X", "G28 Z0"), and none
            // homes all; a homed Z is unknown until a move sets it.
            static const QRegularExpression homing(QStringLiteral("G0*28(?![0-9.])(.*)"));
            const QString axes = homing.match(command).captured(1);
            if (axes.contains(u'Z') || (!axes.contains(u'X') && !axes.contains(u'Y')))
                z.reset();
        } else if (name == u"G92") {
            if (words.contains(u'E') || words.isEmpty())
                e = words.value(u'E', 0.0);
        } else if (name == u"G0" || name == u"G1" || name == u"G2" || name == u"G3") {
            const bool linear = name == u"G0" || name == u"G1";
            if (linear && words.contains(u'Z')) {
                z = relativeAll && z ? *z + words[u'Z'] : words[u'Z'];
                effect.zSet = z;
            }
            if (words.contains(u'E')) {
                const bool relative = relativeE || relativeAll;
                const double value = words[u'E'];
                const bool grows = relative ? value > 0 : value > e;
                e = relative ? e + value : value;
                const bool travels = words.contains(u'X') || words.contains(u'Y') ||
                                     (!linear && (words.contains(u'I') || words.contains(u'J')));
                if (name != u"G0" && grows && travels && z)
                    effect.extrusionAtZ = z;
            }
        }
        effects.append(effect);
    }
    return effects;
}

// The change row of the layer at height z whose first extrusion is at or after from: the first
// move setting z after the last extrusion below z.
inline std::optional<int> referenceChangeRow(const QList<RowEffect>& effects, int from, double z)
{
    int firstAtZ = from;
    while (firstAtZ < effects.size() &&
           !(effects[firstAtZ].extrusionAtZ && sameZ(*effects[firstAtZ].extrusionAtZ, z)))
        ++firstAtZ;
    if (firstAtZ == effects.size())
        return std::nullopt;
    int lastBelow = firstAtZ - 1;
    while (lastBelow >= 0 &&
           !(effects[lastBelow].extrusionAtZ && *effects[lastBelow].extrusionAtZ < z - 1e-9))
        --lastBelow;
    for (int row = lastBelow + 1; row <= firstAtZ; ++row) {
        if (effects[row].zSet && sameZ(*effects[row].zSet, z))
            return row;
    }
    return std::nullopt;
}

// A slicer's own word on a layer: the row of its layer comment and, where it says it, the height.
struct CommentLayer
{
    int row = 0;
    std::optional<double> z;
};

// The layer comments of the slicers tried: ";LAYER:n" (with ";Z:h" on the next row where given),
// ";LAYER_CHANGE" then ";Z:h", ";AFTER_LAYER_CHANGE" then ";h", "; CHANGE_LAYER" then
// "; Z_HEIGHT: h", "; layer n, Z = h", "; BEGIN_LAYER_... z=h", and the display message
// "M117 INDICATOR-Layer n" of a layer change script, and Slic3r's "; move to next layer (n)".
inline QList<CommentLayer> commentLayers(const RowSource& rows)
{
    static const QRegularExpression heightOnNextRow(QStringLiteral("^;\\s*(?:Z:|Z_HEIGHT:|)\\s*([0-9.]+)$"));
    static const QRegularExpression heightInRow(
        QStringLiteral("^;\\s*(?:layer \\d+, Z = |BEGIN_LAYER_\\w+ z=)([0-9.]+)"));
    QList<CommentLayer> layers;
    for (int row = 0; row < rows.lineCount(); ++row) {
        const QString text = rows.rowText(row);
        if (text.startsWith(u"M117 INDICATOR-Layer")) {
            layers.append({row, std::nullopt});
            continue;
        }
        // Slic3r's commented G-code: "G1 Z0.500 F7800.000 ; move to next layer (1)".
        if (text.contains(u"; move to next layer (")) {
            static const QRegularExpression zWord(QStringLiteral("^G1 Z([0-9.]+)"));
            if (const auto match = zWord.match(text); match.hasMatch())
                layers.append({row, match.captured(1).toDouble()});
            continue;
        }
        if (!text.startsWith(u';'))
            continue;
        if (const auto match = heightInRow.match(text); match.hasMatch()) {
            layers.append({row, match.captured(1).toDouble()});
        } else if (text.startsWith(u";LAYER:") || text == u";LAYER_CHANGE" ||
                   text == u";AFTER_LAYER_CHANGE" || text == u"; CHANGE_LAYER") {
            CommentLayer layer{row, std::nullopt};
            if (const auto next = heightOnNextRow.match(rows.rowText(row + 1)); next.hasMatch())
                layer.z = next.captured(1).toDouble();
            layers.append(layer);
        }
    }
    return layers;
}

// The row of the print start: the first extrusion at the lowest printing height; -1 without one.
inline int printStartRow(const QList<RowEffect>& effects)
{
    int start = -1;
    for (int row = 0; row < effects.size(); ++row) {
        if (effects[row].extrusionAtZ &&
            (start < 0 || *effects[row].extrusionAtZ < *effects[start].extrusionAtZ - 1e-9))
            start = row;
    }
    return start;
}

// More than this below the top of the part being printed, an extrusion starts a part (mm).
constexpr double kPartDrop = 0.5;

inline bool startsPart(double z, double partTop)
{
    return z < partTop - kPartDrop - 1e-9;
}

// The change row of a part's first layer at height z, whose first extrusion is at or after from:
// the first move setting z after the last extrusion before it, whatever its height.
inline std::optional<int> referencePartChangeRow(const QList<RowEffect>& effects, int from, double z)
{
    int firstAtZ = from;
    while (firstAtZ < effects.size() &&
           !(effects[firstAtZ].extrusionAtZ && sameZ(*effects[firstAtZ].extrusionAtZ, z)))
        ++firstAtZ;
    if (firstAtZ == effects.size())
        return std::nullopt;
    int last = firstAtZ - 1;
    while (last >= 0 && !effects[last].extrusionAtZ)
        --last;
    for (int row = last + 1; row <= firstAtZ; ++row) {
        if (effects[row].zSet && sameZ(*effects[row].zSet, z))
            return row;
    }
    return std::nullopt;
}

// Every layer as defined: from the print start, each extrusion above the height so far in its
// part starts one, and each more than kPartDrop below the part's top starts a part and its first
// layer. partStarts, when given, gets the index of each part's first layer.
inline QList<LayerRow> allLayers(const QList<RowEffect>& effects, QList<int>* partStarts = nullptr)
{
    QList<LayerRow> layers;
    const int start = printStartRow(effects);
    if (partStarts)
        partStarts->clear();
    if (start < 0)
        return layers;
    if (partStarts)
        partStarts->append(0);
    for (int row = start; row < effects.size(); ++row) {
        const std::optional<double> z = effects[row].extrusionAtZ;
        if (!z)
            continue;
        // Heights rise within a part, so its top is its last layer.
        const bool newPart = !layers.isEmpty() && startsPart(*z, layers.last().z);
        if (!newPart && !layers.isEmpty() && *z <= layers.last().z + 1e-9)
            continue;
        // Walk back to the last extrusion below z (before the first layer or a part's: any, a
        // prime line at a greater height or the part before), then forward to the first move setting z.
        int below = row - 1;
        while (below >= 0 && !(effects[below].extrusionAtZ &&
                               (layers.isEmpty() || newPart || *effects[below].extrusionAtZ < *z - 1e-9)))
            --below;
        int change = below + 1;
        while (change < row && !(effects[change].zSet && sameZ(*effects[change].zSet, *z)))
            ++change;
        if (newPart && partStarts)
            partStarts->append(int(layers.size()));
        layers.append({change, *z});
    }
    return layers;
}

// The layers the slicer announces that start a layer as defined, bottom to top within each part,
// each with its change row: a comment's height above every height printed since the print start
// (since its part's start in a later part). A comment naming no height (";LAYER:n") announces the
// height of its first extrusion. A height more than kPartDrop below the part's top announced so
// far starts a part; partStarts, when given, gets the index of each part's first layer.
inline QList<LayerRow> announcedLayers(const RowSource& rows, const QList<RowEffect>& effects,
                                       QList<int>* partStarts = nullptr)
{
    QList<LayerRow> announced;
    const int start = printStartRow(effects);
    if (partStarts)
        partStarts->clear();
    if (start < 0)
        return announced;
    int partFrom = start;       // the row the part being announced starts at
    qsizetype partFirst = 0;    // its first layer in announced
    for (const CommentLayer& comment : commentLayers(rows)) {
        int firstExtrusion = comment.row;
        while (firstExtrusion < effects.size() && !effects[firstExtrusion].extrusionAtZ)
            ++firstExtrusion;
        if (firstExtrusion == effects.size())
            continue; // announced after the last extrusion
        const double z = comment.z.value_or(*effects[firstExtrusion].extrusionAtZ);
        const bool newPart = announced.size() > partFirst && startsPart(z, announced.last().z);
        if (newPart) {
            const std::optional<int> change = referencePartChangeRow(effects, comment.row, z);
            if (!change)
                continue;
            partFirst = announced.size();
            partFrom = *change;
            if (partStarts)
                partStarts->append(int(partFirst));
            announced.append({*change, z});
            continue;
        }
        if (std::any_of(announced.begin() + partFirst, announced.end(),
                        [z](const LayerRow& a) { return sameZ(a.z, z); }))
            continue;
        const std::optional<int> change = referenceChangeRow(effects, comment.row, z);
        if (!change)
            continue; // a spiral vase's announced height that no move sets exactly
        double printedBefore = -1e300;
        for (int row = partFrom; row < *change; ++row)
            printedBefore = std::max(printedBefore, effects[row].extrusionAtZ.value_or(-1e300));
        if (printedBefore >= z - 1e-9)
            continue; // not above the part's height so far: no layer starts
        if (partStarts && partStarts->isEmpty())
            partStarts->append(0);
        announced.append({*change, z});
    }
    return announced;
}

// The real slicer files beside the repository, by name; none when the folder is absent.
inline QStringList realFiles(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.gcode")}, QDir::Files, QDir::Name);
}

} // namespace Reference
