#include "SlicedFileGenerator.h"

#include <QFile>

#include <cmath>
#include <cstdio>
#include <random>

namespace {

// The text line and the binary line of about 25 KB (0x00 and 0xFF, no LF) that every file starts with.
void appendHeader(QByteArray& out, std::mt19937& random)
{
    out += ";sliced by the benchmark generator\n";
    for (int i = 0; i < 25 * 1024; ++i) {
        char c = char(random() & 0xFF);
        if (c == '\n')
            c = 0x00;
        out += c;
    }
    out += char(0xFF);
    out += char(0x00);
    out += '\n';
}

} // namespace

qint64 writeSlicedFile(const QString& path, qint64 targetBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    QByteArray out;
    out.reserve(8 * 1024 * 1024);
    qint64 written = 0;
    auto flush = [&]() {
        written += file.write(out);
        out.clear();
    };

    std::mt19937 random(42);
    appendHeader(out, random);

    qint64 rows = 0;
    char line[128];
    const char* structures[] = {";structure:shell-outer\n", ";structure:shell-inner\n",
                                ";structure:infill-solid\n", ";structure:infill-sparse\n"};
    for (int layer = 0; written + out.size() < targetBytes; ++layer) {
        const double z = 0.3 + 0.2 * layer;
        out += QByteArray::number(z, 'f', 3).prepend("G1 Z").append(" F420\n");
        ++rows;
        for (int part = 0; part < 4; ++part) {
            out += structures[part];
            ++rows;
            for (int move = 0; move < 780; ++move) {
                const int n = std::snprintf(
                    line, sizeof line, "G1 X%.3f Y%.3f E%.5f F%d\n", 100.0 + (random() % 100000) / 1000.0,
                    100.0 + (random() % 100000) / 1000.0, (random() % 100000) / 100000.0, 1200 + 600 * part);
                out.append(line, n);
                ++rows;
            }
        }
        if (out.size() > 4 * 1024 * 1024)
            flush();
    }
    out += "G1 Z150 F600\nM84\n";
    rows += 2;
    flush();
    return file.error() == QFileDevice::NoError ? rows : -1;
}

qint64 writeSpiralVaseFile(const QString& path, qint64 targetBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    QByteArray out;
    out.reserve(8 * 1024 * 1024);
    qint64 written = 0;
    std::mt19937 random(42);
    appendHeader(out, random);
    out += "M82\nG28\nG1 Z15 F9000\nG92 E0\n";
    qint64 rows = 4;

    // A round vase: 300 lines a turn, 0.2 mm higher each turn.
    constexpr int kLinesPerTurn = 300;
    char line[128];
    double e = 0.0;
    for (qint64 i = 0; written + out.size() < targetBytes; ++i) {
        const double angle = 2 * M_PI * double(i % kLinesPerTurn) / kLinesPerTurn;
        const double z = 0.2 + 0.2 * double(i) / kLinesPerTurn;
        e += 0.02;
        const int n = std::snprintf(line, sizeof line, "G1 X%.3f Y%.3f Z%.4f E%.5f\n",
                                    110.0 + 40.0 * std::cos(angle), 110.0 + 40.0 * std::sin(angle), z, e);
        out.append(line, n);
        ++rows;
        if (out.size() > 4 * 1024 * 1024) {
            written += file.write(out);
            out.clear();
        }
    }
    out += "M84\n";
    rows += 1;
    written += file.write(out);
    return file.error() == QFileDevice::NoError ? rows : -1;
}
