// Binary G-code through the batch mode: a real slicer's G-code, put in binary G-code of each form
// by our encoder beside hand-made metadata and thumbnail blocks, is edited as the plain file of
// that text is; the output's G-code must be that plain output's bytes, every other block the
// input's bytes, each checksum right.

#include "TestPaths.h"

#include "core/batch/Batch.h"
#include "core/container/BinaryGCode.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <zlib.h>

#include <optional>

using namespace BinaryGCode;
using By = Batch::Position::By;

Q_DECLARE_METATYPE(BinaryGCode::Compression)
Q_DECLARE_METATYPE(BinaryGCode::Encoding)

namespace {

// File metadata, printer metadata and a 2x2 thumbnail, each with its CRC-32 from Python's zlib.
const QByteArray kKeptBlocks = QByteArray::fromHex(
    "00000000" "0e000000" "0000" "50726f64756365723d68616e640a" "b810125a"
    "03000000" "11000000" "0000" "7072696e7465725f6d6f64656c3d4d4b0a" "b101c40e"
    "05000000" "0a000000" "000002000200" "89504e470d0a1a0a7878" "63007eb9");

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<cannot read>");
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every block's checksum, walked by the format's own sizes, without the decoder.
bool checksumsHold(const QByteArray& file)
{
    qsizetype at = 10;
    const auto u16 = [&](qsizetype i) { return quint16(quint8(file[i]) | quint8(file[i + 1]) << 8); };
    const auto u32 = [&](qsizetype i) { return quint32(u16(i)) | quint32(u16(i + 2)) << 16; };
    while (at < file.size()) {
        const quint16 type = u16(at);
        const quint16 compression = u16(at + 2);
        const qsizetype header = compression ? 12 : 8;
        const qsizetype data = compression ? u32(at + 8) : u32(at + 4);
        const qsizetype checked = header + (type == 5 ? 6 : 2) + data;
        if (at + checked + 4 > file.size())
            return false;
        const quint32 sum = quint32(crc32(0, reinterpret_cast<const Bytef*>(file.constData() + at), uInt(checked)));
        if (sum != u32(at + checked))
            return false;
        at += checked + 4;
    }
    return at == file.size();
}

} // namespace

class TestBinaryBatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void editedAsItsText_data();
    void editedAsItsText();
    void outputNames_data();
    void outputNames();
    void standardStreams();
    void refusedWritesNothing_data();
    void refusedWritesNothing();

private:
    QString binaryOf(const QByteArray& text, Compression compression, Encoding encoding, const QString& name);
    std::optional<QTemporaryDir> m_dir;
};

void TestBinaryBatch::init()
{
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
}

void TestBinaryBatch::cleanup()
{
    m_dir.reset();
}

QString TestBinaryBatch::binaryOf(const QByteArray& text, Compression compression, Encoding encoding,
                                  const QString& name)
{
    Container container = plain(compression, encoding);
    container.before = kKeptBlocks;
    const QString path = m_dir->filePath(name);
    return writeAll(path, encode(container, text)) ? path : QString();
}

void TestBinaryBatch::editedAsItsText_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<Compression>("compression");
    QTest::addColumn<Encoding>("encoding");
    QTest::newRow("slic3r, heatshrink 12 + MeatPack with comments")
        << "slic3r_small_16k.gcode" << Compression::Heatshrink12 << Encoding::MeatPackComments;
    QTest::newRow("kisslicer CR LF, heatshrink 11 + MeatPack")
        << "kisslicer_crlf-small_22k.gcode" << Compression::Heatshrink11 << Encoding::MeatPack;
    QTest::newRow("cura, deflate") << "cura_basic_256k.gcode" << Compression::Deflate << Encoding::None;
    QTest::newRow("prusaslicer thumbnail, none + MeatPack with comments")
        << "prusaslicer_utf8-comments-thumbnail_3306k.gcode" << Compression::None << Encoding::MeatPackComments;
    QTest::newRow("latin-1, heatshrink 12") << "simplify3d_latin1-non-utf8_284k.gcode" << Compression::Heatshrink12
                                           << Encoding::None;
}

void TestBinaryBatch::editedAsItsText()
{
    QFETCH(QString, fixture);
    QFETCH(Compression, compression);
    QFETCH(Encoding, encoding);
    const QByteArray text = readAll(QStringLiteral(BORVANE_REAL_FIXTURES_DIR "/") + fixture);
    if (text.startsWith("<cannot"))
        QSKIP("the shared fixtures are not beside the repository");
    const QString plainPath = m_dir->filePath(QStringLiteral("plain.gcode"));
    QVERIFY(writeAll(plainPath, text));
    const QString binaryPath = binaryOf(text, compression, encoding, QStringLiteral("part.bgcode"));
    QVERIFY(!binaryPath.isEmpty());

    const QList<Batch::Position> positions = {{.by = By::Layer, .number = 3}, {.by = By::Row, .number = 40}};
    Batch::Request request{.positions = positions, .pause = true, .temperatureLines = {"M104 S200"}};
    request.file = plainPath;
    request.output = m_dir->filePath(QStringLiteral("plain-out.gcode"));
    const Batch::Outcome plainOutcome = Batch::run(request);
    QVERIFY2(plainOutcome.ok, qPrintable(plainOutcome.error));
    request.file = binaryPath;
    request.output = m_dir->filePath(QStringLiteral("out.bgcode"));
    const Batch::Outcome binaryOutcome = Batch::run(request);
    QVERIFY2(binaryOutcome.ok, qPrintable(binaryOutcome.error));

    // Every answer the same as for the plain file.
    QJsonObject plainReport = Batch::toJson(plainOutcome);
    QJsonObject binaryReport = Batch::toJson(binaryOutcome);
    for (const char* key : {"input", "output"}) {
        plainReport.remove(QLatin1String(key));
        binaryReport.remove(QLatin1String(key));
    }
    QCOMPARE(binaryReport, plainReport);

    const QByteArray written = readAll(request.output);
    QVERIFY(checksumsHold(written));
    const Decoded decoded = decode(written, 100'000'000);
    QVERIFY2(decoded.ok(), qPrintable(decoded.problem));
    QCOMPARE(decoded.text, readAll(m_dir->filePath(QStringLiteral("plain-out.gcode"))));
    QCOMPARE(decoded.container.before, kKeptBlocks);
    QCOMPARE(decoded.container.compression, compression);
    QCOMPARE(decoded.container.encoding, encoding);

    // The hollows listed are the plain file's.
    Batch::Request list{.listHollows = true};
    list.file = plainPath;
    const Batch::Outcome plainHollows = Batch::run(list);
    list.file = binaryPath;
    const Batch::Outcome binaryHollows = Batch::run(list);
    QVERIFY2(binaryHollows.ok, qPrintable(binaryHollows.error));
    QCOMPARE(binaryHollows.hollows->size(), plainHollows.hollows->size());
}

void TestBinaryBatch::outputNames_data()
{
    QTest::addColumn<bool>("removeHeader");
    QTest::addColumn<bool>("inPlace");
    QTest::addColumn<QString>("written");
    QTest::newRow("beside the file: Borvane.bgcode") << false << false << "Borvane.bgcode";
    QTest::newRow("header removed: plain Borvane.g") << true << false << "Borvane.g";
    QTest::newRow("in place") << false << true << "part.bgcode";
}

void TestBinaryBatch::outputNames()
{
    QFETCH(bool, removeHeader);
    QFETCH(bool, inPlace);
    QFETCH(QString, written);
    const QByteArray text = ";FLAVOR:Marlin\n;made by hand\nG28\n;LAYER:0\nG1 Z0.2\nG1 X1 E1\n;LAYER:1\nG1 Z0.4\n";
    const QString input = binaryOf(text, Compression::Heatshrink12, Encoding::MeatPackComments,
                                   QStringLiteral("part.bgcode"));
    Batch::Request request{.positions = {{.by = By::Row, .number = 4}}, .pause = true, .removeHeader = removeHeader,
                           .inPlace = inPlace};
    request.file = input;
    const Batch::Outcome outcome = Batch::run(request);
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.outputPath, m_dir->filePath(written));
    const QByteArray body = "G28\n;LAYER:0\nG1 Z0.2\nG1 X1 E1\nM25\n;LAYER:1\nG1 Z0.4\n";
    const QByteArray output = readAll(outcome.outputPath);
    if (removeHeader) {
        QCOMPARE(output, body);
        return;
    }
    QCOMPARE(decode(output, 1'000'000).text, ";FLAVOR:Marlin\n;made by hand\n" + body);
}

void TestBinaryBatch::standardStreams()
{
    const QByteArray text = ";FLAVOR:Marlin\n;made by hand\nG28\nG1 Z0.2\nG1 X1 E1\n";
    Container container = plain(Compression::Deflate, Encoding::MeatPack);
    container.before = kKeptBlocks;
    QBuffer in;
    in.setData(encode(container, text));
    QVERIFY(in.open(QIODevice::ReadOnly));
    QBuffer out;
    QVERIFY(out.open(QIODevice::WriteOnly));
    const Batch::Outcome outcome =
        Batch::run({.file = Batch::kStandardStream, .positions = {{.by = By::Row, .number = 2}}, .pause = true,
                    .output = Batch::kStandardStream},
                   {.in = &in, .out = &out});
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(decode(out.data(), 1'000'000).text, ";FLAVOR:Marlin\n;made by hand\nG28\nG1 Z0.2\nM25\nG1 X1 E1\n");
    QVERIFY(checksumsHold(out.data()));
}

void TestBinaryBatch::refusedWritesNothing_data()
{
    QTest::addColumn<int>("damage"); // the byte changed, counted from the end
    QTest::addColumn<int>("cut");    // bytes cut off the end
    QTest::addColumn<QString>("reason");
    QTest::newRow("a G-code byte changed") << 10 << 0 << "does not match";
    QTest::newRow("cut short") << 0 << 7 << "cut short";
}

void TestBinaryBatch::refusedWritesNothing()
{
    QFETCH(int, damage);
    QFETCH(int, cut);
    QFETCH(QString, reason);
    const QByteArray text = ";FLAVOR:Marlin\n;made by hand\nG28\nG1 Z0.2\nG1 X1 E1\n";
    Container container = plain(Compression::None, Encoding::None);
    QByteArray file = encode(container, text);
    if (damage)
        file[file.size() - damage] = '#';
    file.chop(cut);
    const QString path = m_dir->filePath(QStringLiteral("part.bgcode"));
    QVERIFY(writeAll(path, file));
    Batch::Request request{.positions = {{.by = By::Row, .number = 2}}, .pause = true};
    request.file = path;
    const Batch::Outcome outcome = Batch::run(request);
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.error.contains(reason), qPrintable(outcome.error));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"part.bgcode"});
}

QTEST_GUILESS_MAIN(TestBinaryBatch)
#include "tst_binarybatch.moc"
