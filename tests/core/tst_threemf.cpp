// A 3MF with G-code through the reader and the batch mode: archives made by hand (ZipFixture, from
// the zip format's layout, not libzip) around real slicers' G-code are edited as the plain file of
// the plate's text is. The output, read back by hand, must hold every other entry's local header
// and stored bytes as the input had them, in the input's order, the plate's entry with the plain
// output's bytes in its compression method, and its .md5 the MD5 of that text.

#include "TestPaths.h"
#include "ZipFixture.h"

#include "core/batch/Batch.h"
#include "core/container/ThreeMF.h"
#include "core/file/SlicedFileReader.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using By = Batch::Position::By;

namespace {

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

QByteArray md5Of(const QByteArray& text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex().toUpper();
}

const QByteArray kContentTypes =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/"
    "content-types\"><Default Extension=\"gcode\" ContentType=\"text/x.gcode\"/></Types>\n";
// A PNG's first bytes, stored, with an extended-timestamp extra field (0x5455) as zip tools write it.
const QByteArray kThumbnail = QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + QByteArray(200, '\x07');
const QByteArray kTimestamp = QByteArray::fromHex("5455050003" "00e17a65");

// A slicer's plate archive: content types, the plates' G-code (each with its .md5 when md5 is
// set), a thumbnail and settings. plates holds each plate's text and compression method.
ZipFixture::Made plateArchive(const QList<std::pair<QByteArray, int>>& plates, bool md5 = true)
{
    QList<ZipFixture::Entry> entries{{"[Content_Types].xml", kContentTypes}};
    for (qsizetype i = 0; i < plates.size(); ++i) {
        const QByteArray name = "Metadata/plate_" + QByteArray::number(i + 1) + ".gcode";
        entries.append(ZipFixture::Entry{name, plates[i].first, plates[i].second});
        if (md5)
            entries.append(ZipFixture::Entry{name + ".md5", md5Of(plates[i].first), 0});
        entries.append(ZipFixture::Entry{"Metadata/plate_" + QByteArray::number(i + 1) + ".png", kThumbnail, 0, kTimestamp});
    }
    entries.append(ZipFixture::Entry{"Metadata/model_settings.config", "<config><plate><metadata key=\"index\"/></plate></config>\n"});
    return ZipFixture::make(entries);
}

const QByteArray kSmallText = ";FLAVOR:Marlin\n;made by hand\nG28\n;LAYER:0\nG1 Z0.2\nG1 X1 E1\n;LAYER:1\nG1 Z0.4\n";

} // namespace

class TestThreeMF : public QObject
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
    void streamedArchive();
    void plateChosen();
    void refusedWritesNothing_data();
    void refusedWritesNothing();

private:
    std::optional<QTemporaryDir> m_dir;
};

void TestThreeMF::init()
{
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
}

void TestThreeMF::cleanup()
{
    m_dir.reset();
}

void TestThreeMF::editedAsItsText_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("plate");
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("md5");
    QTest::newRow("slic3r on plate 1 of 2, deflated, with .md5")
        << "slic3r_small_16k.gcode" << "cura-lulzbot_small_79k.gcode" << 1 << 8 << true;
    QTest::newRow("kisslicer CR LF on plate 2 of 2, stored, with .md5")
        << "cura-lulzbot_small_79k.gcode" << "kisslicer_crlf-small_22k.gcode" << 2 << 0 << true;
    QTest::newRow("latin-1 on plate 1 of 1, deflated, no .md5")
        << "simplify3d_latin1-non-utf8_284k.gcode" << "" << 1 << 8 << false;
}

void TestThreeMF::editedAsItsText()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, plate);
    QFETCH(int, method);
    QFETCH(bool, md5);
    QList<std::pair<QByteArray, int>> plates;
    for (const QString& name : {first, second}) {
        if (name.isEmpty())
            continue;
        const QByteArray text = readAll(QStringLiteral(BORVANE_REAL_FIXTURES_DIR "/") + name);
        if (text.startsWith("<cannot"))
            QSKIP("the shared fixtures are not beside the repository");
        plates.append({text, method});
    }
    const QByteArray text = plates[plate - 1].first;
    const QString plainPath = m_dir->filePath(QStringLiteral("plain.gcode"));
    QVERIFY(writeAll(plainPath, text));
    const QByteArray input = plateArchive(plates, md5).bytes;
    const QString archivePath = m_dir->filePath(QStringLiteral("part.gcode.3mf"));
    QVERIFY(writeAll(archivePath, input));

    const QList<Batch::Position> positions = {{.by = By::Layer, .number = 3}, {.by = By::Row, .number = 40}};
    Batch::Request request{.positions = positions, .pause = true, .temperatureLines = {"M104 S200"}};
    request.file = plainPath;
    request.output = m_dir->filePath(QStringLiteral("plain-out.gcode"));
    const Batch::Outcome plainOutcome = Batch::run(request);
    QVERIFY2(plainOutcome.ok, qPrintable(plainOutcome.error));
    request.file = archivePath;
    request.plate = plate;
    request.output = m_dir->filePath(QStringLiteral("out.gcode.3mf"));
    const Batch::Outcome archiveOutcome = Batch::run(request);
    QVERIFY2(archiveOutcome.ok, qPrintable(archiveOutcome.error));

    // Every answer the same as for the plain file.
    QJsonObject plainReport = Batch::toJson(plainOutcome);
    QJsonObject archiveReport = Batch::toJson(archiveOutcome);
    for (const char* key : {"input", "output"}) {
        plainReport.remove(QLatin1String(key));
        archiveReport.remove(QLatin1String(key));
    }
    QCOMPARE(archiveReport, plainReport);

    // Every other entry as it was, in its place; the plate's G-code and .md5 anew, in their methods.
    const QByteArray plainOutput = readAll(m_dir->filePath(QStringLiteral("plain-out.gcode")));
    const QList<ZipFixture::Read> before = ZipFixture::read(input);
    const QList<ZipFixture::Read> after = ZipFixture::read(readAll(request.output));
    QCOMPARE(after.size(), before.size());
    const QByteArray gcodeName = "Metadata/plate_" + QByteArray::number(plate) + ".gcode";
    for (qsizetype i = 0; i < before.size(); ++i) {
        QCOMPARE(after[i].name, before[i].name);
        QCOMPARE(after[i].method, before[i].method);
        QCOMPARE(ZipFixture::crcOf(after[i].data), after[i].crc);
        if (before[i].name == gcodeName)
            QCOMPARE(after[i].data, plainOutput);
        else if (before[i].name == gcodeName + ".md5")
            QCOMPARE(after[i].data, md5Of(plainOutput));
        else
            QCOMPARE(after[i].record, before[i].record);
    }

    // The hollows listed are the plain file's.
    Batch::Request list{.listHollows = true};
    list.file = plainPath;
    const Batch::Outcome plainHollows = Batch::run(list);
    list.file = archivePath;
    list.plate = plate;
    const Batch::Outcome archiveHollows = Batch::run(list);
    QVERIFY2(archiveHollows.ok, qPrintable(archiveHollows.error));
    QCOMPARE(Batch::toJson(archiveHollows).value(QStringLiteral("hollows")),
             Batch::toJson(plainHollows).value(QStringLiteral("hollows")));
}

void TestThreeMF::outputNames_data()
{
    QTest::addColumn<bool>("removeHeader");
    QTest::addColumn<bool>("inPlace");
    QTest::addColumn<QString>("written");
    QTest::newRow("beside the file: Borvane.gcode.3mf") << false << false << "Borvane.gcode.3mf";
    QTest::newRow("header removed: plain Borvane.g") << true << false << "Borvane.g";
    QTest::newRow("in place") << false << true << "part.gcode.3mf";
}

void TestThreeMF::outputNames()
{
    QFETCH(bool, removeHeader);
    QFETCH(bool, inPlace);
    QFETCH(QString, written);
    const QString input = m_dir->filePath(QStringLiteral("part.gcode.3mf"));
    QVERIFY(writeAll(input, plateArchive({{kSmallText, 8}}).bytes));
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
    const QList<ZipFixture::Read> entries = ZipFixture::read(output);
    QCOMPARE(entries.size(), 5);
    QCOMPARE(entries[1].name, QByteArray("Metadata/plate_1.gcode"));
    QCOMPARE(entries[1].data, ";FLAVOR:Marlin\n;made by hand\n" + body);
    QCOMPARE(entries[2].data, md5Of(entries[1].data));
    // Nothing but the output beside the input.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(), inPlace ? 1 : 2);
}

void TestThreeMF::standardStreams()
{
    QBuffer in;
    in.setData(plateArchive({{kSmallText, 8}, {"; second\n; plate\nG1 X2\n", 0}}).bytes);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QBuffer out;
    QVERIFY(out.open(QIODevice::WriteOnly));
    const Batch::Outcome outcome = Batch::run({.file = Batch::kStandardStream, .plate = 2,
                                               .positions = {{.by = By::Row, .number = 0}}, .pause = true,
                                               .output = Batch::kStandardStream},
                                              {.in = &in, .out = &out});
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    const QList<ZipFixture::Read> entries = ZipFixture::read(out.data());
    QCOMPARE(entries.size(), 8);
    QCOMPARE(entries[4].name, QByteArray("Metadata/plate_2.gcode"));
    QCOMPARE(entries[4].data, QByteArray("; second\n; plate\nM25\nG1 X2\n"));
    QCOMPARE(entries[4].method, 0);
    QCOMPARE(entries[5].data, md5Of(entries[4].data));
    QCOMPARE(entries[1].data, kSmallText);
}

// An archive Python's zipfile wrote to a stream, each entry's sizes in a data descriptor: every
// other entry keeps its name, method, CRC and stored bytes; its local header gets the sizes.
void TestThreeMF::streamedArchive()
{
    const QByteArray input = readAll(QStringLiteral(BORVANE_TEST_FIXTURES_DIR "/3mf/streamed-two-plates.gcode.3mf"));
    const QList<ZipFixture::Read> before = ZipFixture::read(input);
    QCOMPARE(before.size(), 7);
    QCOMPARE(before[4].name, QByteArray("Metadata/plate_2.gcode"));
    QVERIFY(before[4].flags & 0x08);
    const QString plainPath = m_dir->filePath(QStringLiteral("plain.gcode"));
    QVERIFY(writeAll(plainPath, before[4].data));
    const QString archivePath = m_dir->filePath(QStringLiteral("two.gcode.3mf"));
    QVERIFY(writeAll(archivePath, input));

    Batch::Request request{.positions = {{.by = By::Layer, .number = 4}}, .pause = true};
    request.file = plainPath;
    request.output = m_dir->filePath(QStringLiteral("plain-out.gcode"));
    QVERIFY(Batch::run(request).ok);
    request.file = archivePath;
    request.plate = 2;
    request.output = m_dir->filePath(QStringLiteral("out.gcode.3mf"));
    const Batch::Outcome outcome = Batch::run(request);
    QVERIFY2(outcome.ok, qPrintable(outcome.error));

    const QByteArray plainOutput = readAll(m_dir->filePath(QStringLiteral("plain-out.gcode")));
    QVERIFY(plainOutput.contains("M25"));
    const QList<ZipFixture::Read> after = ZipFixture::read(readAll(request.output));
    QCOMPARE(after.size(), before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        QCOMPARE(after[i].name, before[i].name);
        QCOMPARE(after[i].method, before[i].method);
        if (i == 4) {
            QCOMPARE(after[i].data, plainOutput);
        } else if (i == 5) {
            QCOMPARE(after[i].data, md5Of(plainOutput));
        } else {
            QCOMPARE(after[i].crc, before[i].crc);
            QCOMPARE(after[i].stored, before[i].stored);
        }
    }
}

// The window's way: with several plates, the chooser names one; 0 refuses the file.
void TestThreeMF::plateChosen()
{
    const QString path = m_dir->filePath(QStringLiteral("two.gcode.3mf"));
    QVERIFY(writeAll(path, plateArchive({{kSmallText, 8}, {"; second\n; plate\nG1 X2\n", 8}}).bytes));
    QCOMPARE(ThreeMF::plates(readAll(path)), (QList<int>{1, 2}));

    struct Sink : SlicedFile::BodySink
    {
        QByteArray bytes;
        bool reserve(qint64) override { return true; }
        bool append(QByteArrayView piece) override { return bytes.append(piece), true; }
    };
    QList<int> offered;
    SlicedFile::ReadOptions options;
    options.choosePlate = [&offered](const QList<int>& plates) {
        offered = plates;
        return 2;
    };
    Sink sink;
    SlicedFile::ReadResult result = SlicedFile::read(path, sink, options);
    QVERIFY2(result.ok(), qPrintable(result.reason));
    QCOMPARE(offered, (QList<int>{1, 2}));
    QCOMPARE(result.header, QByteArray("; second\n; plate\n"));
    QCOMPARE(sink.bytes, QByteArray("G1 X2\n"));
    QVERIFY(result.archive);
    QCOMPARE(result.archive->plate, 2);

    options.choosePlate = [](const QList<int>&) { return 0; };
    Sink none;
    result = SlicedFile::read(path, none, options);
    QVERIFY(!result.ok());
    QVERIFY2(result.reason.contains(QStringLiteral("no plate was chosen")), qPrintable(result.reason));
}

void TestThreeMF::refusedWritesNothing_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<int>("plate");
    QTest::addColumn<QString>("reason");

    const ZipFixture::Made good = plateArchive({{kSmallText, 8}});
    // The G-code entry is the second, the thumbnail the fourth; the fields at APPNOTE's offsets
    // (4.3.7, 4.3.12), changed alike in the local and the central header.
    const auto changed = [&good](int entry, int localAt, int centralAt, quint32 value, bool wide) {
        QByteArray bytes = good.bytes;
        for (const qsizetype at : {good.local[entry] + localAt, good.central[entry] + centralAt})
            wide ? ZipFixture::set32(bytes, at, value) : ZipFixture::set16(bytes, at, value);
        return bytes;
    };
    QTest::newRow("archive cut short") << good.bytes.chopped(10) << 1 << "no zip directory at its end";
    // The entry's stored bytes declared to run past the end of the archive.
    QTest::newRow("entry cut short") << changed(1, 18, 20, 5000, true) << 1 << "cut short";
    QTest::newRow("G-code CRC does not match") << changed(1, 14, 16, 0x12345678, true) << 1 << "CRC";
    QTest::newRow("thumbnail CRC does not match") << changed(3, 14, 16, 0x12345678, true) << 1 << "CRC";
    // Method 19, IBM's LZ77 z, which no slicer writes.
    QTest::newRow("unknown compression") << changed(1, 8, 10, 19, false) << 1 << "compression method 19";
    QTest::newRow("encrypted") << changed(1, 6, 8, 1, false) << 1 << "encrypted";
    QTest::newRow("declared size past the limit")
        << changed(1, 22, 24, 0xfffffff0u, true) << 1 << "over the 2000 MB the editor holds";
    QTest::newRow("inflates past its declared size") << changed(1, 22, 24, 10, true) << 1
                                                     << "unpacks past the 10 bytes it declares";
    // 4 MB of zeros deflate to some 4 KB; the entry declares 100 bytes.
    const ZipFixture::Made bomb =
        ZipFixture::make({{"Metadata/plate_1.gcode", kSmallText}, {"bomb.bin", QByteArray(4'000'000, '\0')}});
    QByteArray bombBytes = bomb.bytes;
    ZipFixture::set32(bombBytes, bomb.local[1] + 22, 100);
    ZipFixture::set32(bombBytes, bomb.central[1] + 24, 100);
    QTest::newRow("a small entry that inflates far") << bombBytes << 1 << "unpacks past the 100 bytes it declares";
    QTest::newRow("name with ..")
        << ZipFixture::make({{"Metadata/plate_1.gcode", kSmallText}, {"Metadata/../../evil.txt", "x"}}).bytes << 1
        << "named with \"..\" or an absolute path";
    QTest::newRow("absolute name") << ZipFixture::make({{"/etc/evil", "x"}, {"Metadata/plate_1.gcode", kSmallText}}).bytes
                                   << 1 << "named with \"..\" or an absolute path";
    QTest::newRow("no G-code plate") << ZipFixture::make({{"3D/3dmodel.model", "<model/>"}}).bytes << 1
                                     << "without G-code (no Metadata/plate_N.gcode";
    QTest::newRow("plate not present") << good.bytes << 3 << "no plate 3 with G-code (its plates: 1)";
}

void TestThreeMF::refusedWritesNothing()
{
    QFETCH(QByteArray, archive);
    QFETCH(int, plate);
    QFETCH(QString, reason);
    const QString path = m_dir->filePath(QStringLiteral("part.gcode.3mf"));
    QVERIFY(writeAll(path, archive));
    for (const bool inPlace : {false, true}) {
        Batch::Request request{.plate = plate, .positions = {{.by = By::Row, .number = 2}}, .pause = true,
                               .inPlace = inPlace};
        request.file = path;
        const Batch::Outcome outcome = Batch::run(request);
        QVERIFY(!outcome.ok);
        QVERIFY2(outcome.error.contains(reason), qPrintable(outcome.error));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"part.gcode.3mf"});
        QCOMPARE(readAll(path), archive);
    }
}

QTEST_GUILESS_MAIN(TestThreeMF)
#include "tst_threemf.moc"
