#include "SlicedFileGenerator.h"

#include <QFile>

#include <cmath>
#include <cstdio>
#include <random>

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

    out += ";sliced by the benchmark generator\n";
    std::mt19937 random(42);
    for (int i = 0; i < 25 * 1024; ++i) {
        char c = char(random() & 0xFF);
        if (c == '\n')
            c = 0x00;
        out += c;
    }
    out += char(0xFF);
    out += char(0x00);
    out += '\n';

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
    out += ";sliced by the benchmark generator, spiral vase\n;second header line\n";
    out += "M104 S210\nM140 S60\nG28\nG1 Z0.300 F420\n;structure:shell-inner\n";
    qint64 rows = 5;
    char line[128];
    double e = 0.0;
    for (long i = 0; written + out.size() < targetBytes; ++i) {
        const double angle = i * 0.05;
        const double z = 0.3 + i * 0.0001;
        e += 0.02;
        const int n = std::snprintf(line, sizeof line, "G1 X%.3f Y%.3f Z%.4f E%.5f\n",
                                    150.0 + 40.0 * std::cos(angle), 150.0 + 40.0 * std::sin(angle), z, e);
        out.append(line, n);
        ++rows;
        if (out.size() > 4 * 1024 * 1024) {
            written += file.write(out);
            out.clear();
        }
    }
    out += "G1 Z260 F600\nM84\n";
    rows += 2;
    written += file.write(out);
    return file.error() == QFileDevice::NoError ? rows : -1;
}
