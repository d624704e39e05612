#pragma once

// A small G-code machine for the tests, written from the firmware's documentation and apart
// from the code that writes pause blocks:
//   G0/G1 move to X Y Z E at F; G2/G3 end at X Y (the arc's path is not followed here);
//   G90 "all coordinates ... as positions", this "includes the extruder position unless
//   overridden by M83"; G91 the same, relative; M82/M83 set E alone, and "G90 and G91 clear
//   this mode"; G92 "set the current position" (logical), the physical position stays;
//   G10/G11 firmware retraction, "multiple consecutive G10 ... will be ignored";
//   M104/M109 S (R) [T] a tool's target, M140/M190 the bed's, M106 [P] [S] / M107 [P] fans,
//   T<n> the tool; G20 "set units to inches", G21 millimetres: the words of a move or G92 that
//   follow are inches, which Marlin turns into mm (positions here are kept in mm, as it keeps them).
//   Words are read with a regular expression, slowly and plainly.

#include <QMap>
#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <cmath>
#include <optional>

namespace Reference {

struct Machine
{
    // Logical positions; physical = logical + shift.
    std::optional<double> x, y, z;
    double e = 0.0;
    double shiftX = 0, shiftY = 0, shiftZ = 0, shiftE = 0;
    bool relativeXyz = false;
    bool relativeE = false;
    bool inches = false;
    std::optional<double> feed;
    int tool = 0;
    QMap<int, double> toolTargets;
    std::optional<double> bed;
    QMap<int, double> fans;
    bool firmwareRetracted = false;
    // Filament pulled back from the nozzle by E moves: a push first refills the nozzle, and what
    // goes beyond that comes out of it.
    double pulledBack = 0.0;

    bool retracted() const { return firmwareRetracted || pulledBack > 1e-9; }

    // What one line did.
    struct Step
    {
        QString command; // "G1", "M104", "T1", ... ; empty for a comment or blank line
        bool moved = false;
        bool movedXy = false;
        double extruded = 0.0; // E change of a move
        std::optional<double> fromX, fromY, fromZ, toX, toY, toZ;
    };

    Step run(const QString& line)
    {
        static const QRegularExpression commandWord(
            QStringLiteral("^\\s*(?:N\\d+\\s*)?([GMT])(\\d+)(?![\\d.])"),
            QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression word(QStringLiteral("([A-Z])\\s*([-+]?[0-9]*\\.?[0-9]+)"));
        Step step;
        QString text = line;
        if (const qsizetype comment = text.indexOf(u';'); comment >= 0)
            text.truncate(comment);
        const QRegularExpressionMatch head = commandWord.match(text);
        if (!head.hasMatch())
            return step;
        const QString letter = head.captured(1).toUpper();
        const int number = head.captured(2).toInt();
        step.command = letter + QString::number(number);
        QMap<QChar, double> words;
        if (!(letter == u"M" && (number == 0 || number == 1 || number == 117 || number == 118))) {
            for (const QRegularExpressionMatch& m : word.globalMatch(text.mid(head.capturedEnd()).toUpper()))
                words.insert(m.captured(1).at(0), m.captured(2).toDouble());
        }
        if (inches && letter == u"G" && (number <= 3 || number == 92)) {
            for (auto it = words.begin(); it != words.end(); ++it) {
                if (QStringLiteral("XYZEFIJR").contains(it.key()))
                    it.value() *= 25.4;
            }
        }
        const auto has = [&](char c) { return words.contains(QChar::fromLatin1(c)); };
        const auto at = [&](char c) { return words.value(QChar::fromLatin1(c)); };
        if (letter == u"T") {
            tool = number;
        } else if (letter == u"G" && number <= 3) {
            step.moved = true;
            step.fromX = x, step.fromY = y, step.fromZ = z;
            if (has('F'))
                feed = at('F');
            const auto axis = [&](std::optional<double>& position, char c) {
                if (!has(c))
                    return;
                if (!relativeXyz)
                    position = at(c);
                else if (position)
                    position = *position + at(c);
            };
            axis(x, 'X');
            axis(y, 'Y');
            axis(z, 'Z');
            if (has('E')) {
                const double before = e;
                e = relativeE ? e + at('E') : at('E');
                step.extruded = e - before;
            }
            step.toX = x, step.toY = y, step.toZ = z;
            step.movedXy = has('X') || has('Y') || (number >= 2 && (has('I') || has('J')));
            if (step.extruded < 0)
                pulledBack -= step.extruded;
            else
                pulledBack = std::max(0.0, pulledBack - step.extruded);
        } else if (letter == u"G" && number == 10 && !has('P') && !has('L')) {
            firmwareRetracted = true;
        } else if (letter == u"G" && number == 11) {
            firmwareRetracted = false;
        } else if (letter == u"G" && (number == 20 || number == 21)) {
            inches = number == 20;
        } else if (letter == u"G" && number == 90) {
            relativeXyz = false, relativeE = false;
        } else if (letter == u"G" && number == 91) {
            relativeXyz = true, relativeE = true;
        } else if (letter == u"G" && number == 92) {
            const auto set = [&](std::optional<double>& position, double& shift, char c) {
                if (!has(c))
                    return;
                if (position)
                    shift += *position - at(c);
                position = at(c);
            };
            set(x, shiftX, 'X');
            set(y, shiftY, 'Y');
            set(z, shiftZ, 'Z');
            if (has('E')) {
                shiftE += e - at('E');
                e = at('E');
            }
        } else if (letter == u"M" && number == 82) {
            relativeE = false;
        } else if (letter == u"M" && number == 83) {
            relativeE = true;
        } else if (letter == u"M" && (number == 104 || number == 109) && (has('S') || has('R'))) {
            toolTargets[has('T') ? int(at('T')) : tool] = has('S') ? at('S') : at('R');
        } else if (letter == u"M" && (number == 140 || number == 190) && (has('S') || has('R'))) {
            bed = has('S') ? at('S') : at('R');
        } else if (letter == u"M" && number == 106) {
            fans[has('P') ? int(at('P')) : 0] = has('S') ? at('S') : 255.0;
        } else if (letter == u"M" && number == 107) {
            fans[has('P') ? int(at('P')) : 0] = 0.0;
        }
        return step;
    }
};

} // namespace Reference
