// Reading a sliced file the one way the window and the batch mode share: what is read, and
// every way a read is refused with nothing but the sink touched.

#include "core/file/SlicedFileReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <new>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

const QByteArray kHeader = ";FLAVOR:Marlin\n;\xFF header \x01\n";
// Layers as the moves give them: the first extrusion at Z 0.3 (its Z row is row 1), then Z 0.5
// (row 4).
const QByteArray kBody =
    "G28\nG1 Z0.300 F420\nG1 X10 Y10 E1.0\n;LAYER:1\nG1 Z0.500 F420\nG1 X11 Y11 E2.0\nM84\n";

// A buffer that holds the body; in place or not, and one that runs out of memory on demand.
class BufferSink : public SlicedFile::BodySink
{
public:
    explicit BufferSink(bool inPlace = false, qint64 failAt = -1) : m_inPlace(inPlace), m_failAt(failAt) {}
    bool reserve(qint64 bodyBytes) override
    {
        reserved = bodyBytes;
        text.reserve(qsizetype(bodyBytes));
        return true;
    }
    bool append(QByteArrayView bytes) override
    {
        if (m_failAt >= 0 && text.size() + bytes.size() > m_failAt)
            return false;
        text.append(bytes);
        return true;
    }
    const char* bytesInPlace() const override { return m_inPlace ? text.constData() : nullptr; }
    bool finish() override
    {
        finished = true;
        return true;
    }

    QByteArray text;
    qint64 reserved = -1;
    bool finished = false;

private:
    bool m_inPlace;
    qint64 m_failAt;
};

// Reads through to a file; at stopAt bytes it ends (returns 0) or fails (-1), and, with grow,
// appends to the file once the header has been read, as a slicer still writing it would.
class ChangingRead : public QIODevice
{
public:
    enum class At { End, Fail, Grow };
    ChangingRead(QFile& file, const QString& path, At what, qint64 at)
        : m_file(file), m_path(path), m_what(what), m_at(at)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool seek(qint64 pos) override { return m_file.seek(pos) && QIODevice::seek(pos); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 pos = m_file.pos();
        if (m_what == At::Grow && pos >= m_at && !m_grown) {
            m_grown = true;
            QFile more(m_path);
            if (more.open(QIODevice::Append))
                more.write("G1 X12 Y12 E3.0\n");
        }
        if (m_what != At::Grow && pos >= m_at) {
            if (m_what == At::Fail)
                setErrorString(QStringLiteral("Input/output error"));
            return m_what == At::Fail ? -1 : 0;
        }
        const qint64 limit = m_what == At::Grow ? maxSize : qMin(maxSize, m_at - pos);
        return m_file.read(data, limit);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QFile& m_file;
    QString m_path;
    At m_what;
    qint64 m_at;
    bool m_grown = false;
};

} // namespace

class TestSlicedFileReader : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readsHeaderBodyLayersAndLineEnd_data();
    void readsHeaderBodyLayersAndLineEnd();
    void refusals_data();
    void refusals();
    void changedWhileRead_data();
    void changedWhileRead();
    void memoryRunningOutIsARefusal();
    void pipeIsRefusedWithoutWaiting();
    void lookAlike_data();
    void lookAlike();

private:
    QString fixture(const QString& name, const QByteArray& bytes);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSlicedFileReader::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestSlicedFileReader::fixture(const QString& name, const QByteArray& bytes)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestSlicedFileReader::readsHeaderBodyLayersAndLineEnd_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("inPlace");
    QTest::addColumn<LineBreaks::Style>("lineBreak");

    QByteArray crLf = kBody;
    crLf.replace("\n", "\r\n");
    QByteArray cr = kBody;
    cr.replace('\n', '\r');
    QTest::newRow("LF, the index reads a copy") << kBody << false << LineBreaks::Style::LF;
    QTest::newRow("LF, the index reads in place") << kBody << true << LineBreaks::Style::LF;
    QTest::newRow("CR LF") << crLf << true << LineBreaks::Style::CRLF;
    QTest::newRow("CR alone") << cr << false << LineBreaks::Style::CR;
}

void TestSlicedFileReader::readsHeaderBodyLayersAndLineEnd()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, inPlace);
    QFETCH(LineBreaks::Style, lineBreak);
    const QString path = fixture(QStringLiteral("part.gcode"), kHeader + body);

    BufferSink sink(inPlace);
    const SlicedFile::ReadResult result = SlicedFile::read(path, sink);

    QVERIFY2(result.ok(), qPrintable(result.reason));
    QCOMPARE(result.header, kHeader);
    QCOMPARE(sink.text, body);
    QCOMPARE(sink.reserved, qint64(body.size()));
    QVERIFY(sink.finished);
    QCOMPARE(result.bodyBytes, qint64(body.size()));
    QCOMPARE(result.lineBreak, lineBreak);
    QCOMPARE(result.layers.layers().size(), std::size_t(2));
    QCOMPARE(result.layers.layers()[0].row, 1);
    QCOMPARE(result.layers.layers()[1].row, 4);
}

void TestSlicedFileReader::refusals_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<qint64>("maxBodyBytes");
    QTest::addColumn<qint64>("maxRowBytes");
    QTest::addColumn<SlicedFile::Refusal>("refusal");
    QTest::addColumn<QString>("reason");

    using SlicedFile::Refusal;
    const qint64 noLimit = -1;
    QTest::newRow("one line") << "a.gcode" << QByteArray(";only\n") << SlicedFile::kMaxBodyBytes << noLimit
                              << Refusal::NotSliced << "It has fewer than two lines";
    QTest::newRow("body one byte over the limit") << "a.gcode" << kHeader + kBody << qint64(kBody.size() - 1)
                                                  << noLimit << Refusal::TooLarge << "It is too large";
    QTest::newRow("body at the limit")
        << "a.gcode" << kHeader + kBody << qint64(kBody.size()) << noLimit << Refusal::None << "";
    QTest::newRow("row over the limit")
        << "a.gcode" << kHeader + kBody + QByteArray(101, 'X') + "\n"
        << SlicedFile::kMaxBodyBytes << qint64(100) << Refusal::RowTooLong << "It has a line longer than";
    QTest::newRow("a long row without a row limit, as the batch mode reads")
        << "a.gcode" << kHeader + kBody + QByteArray(200000, 'X') + "\n"
        << SlicedFile::kMaxBodyBytes << noLimit << Refusal::None << "";
    QTest::newRow("no move") << "a.gcode" << kHeader + "G28\nM104 S200 ; G1 X1\n;G1 Z1\nG10\nG100 X1\n"
                             << SlicedFile::kMaxBodyBytes << noLimit << Refusal::NotGCode
                             << "It has no G0 or G1 move";
    QTest::newRow("header only") << "a.gcode" << kHeader << SlicedFile::kMaxBodyBytes << noLimit
                                 << Refusal::NotGCode << "It has no G0 or G1 move";
    QTest::newRow("a last row G1 without a line break is a move")
        << "a.gcode" << kHeader + "M84\ng01" << SlicedFile::kMaxBodyBytes << noLimit << Refusal::None << "";
    QTest::newRow("a move glued to its words, indented")
        << "a.gcode" << kHeader + ";x\n \tG0X1\n"
        << SlicedFile::kMaxBodyBytes << noLimit << Refusal::None << "";
    QTest::newRow("a 3MF project")
        << "plate.gcode.3mf" << QByteArray("PK\x03\x04\x14\0\0\0\nG1\nG1\n", 15) << SlicedFile::kMaxBodyBytes
        << noLimit << Refusal::NotGCode
        << "This is a 3MF project, a zip archive: export plain G-code from the slicer.";
    QTest::newRow("a PNG image") << "a.gcode" << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\nG1\n", 21)
                                 << SlicedFile::kMaxBodyBytes << noLimit << Refusal::NotGCode
                                 << "This is a PNG image, not G-code";
}

void TestSlicedFileReader::refusals()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, file);
    QFETCH(qint64, maxBodyBytes);
    QFETCH(qint64, maxRowBytes);
    QFETCH(SlicedFile::Refusal, refusal);
    QFETCH(QString, reason);
    const QString path = fixture(name, file);

    SlicedFile::ReadOptions options;
    options.maxBodyBytes = maxBodyBytes;
    options.maxRowBytes = maxRowBytes;
    BufferSink sink;
    const SlicedFile::ReadResult result = SlicedFile::read(path, sink, options);

    QCOMPARE(result.refusal, refusal);
    if (reason.isEmpty())
        QVERIFY2(result.reason.isEmpty(), qPrintable(result.reason));
    else
        QVERIFY2(result.reason.startsWith(reason), qPrintable(result.reason));
    if (!result.ok()) {
        QVERIFY(result.header.isEmpty());
        QVERIFY(result.layers.isEmpty());
        QVERIFY(SlicedFile::refusalText(path, result).contains(path));
    }
}

void TestSlicedFileReader::changedWhileRead_data()
{
    QTest::addColumn<int>("what");
    QTest::addColumn<qint64>("at");
    QTest::addColumn<QString>("reason");

    const QString changed = QStringLiteral("The file changed while it was read");
    QTest::newRow("the read ends before the size the file had")
        << int(ChangingRead::At::End) << qint64(kHeader.size() + 10) << changed;
    QTest::newRow("the read ends right after the header")
        << int(ChangingRead::At::End) << qint64(kHeader.size()) << changed;
    QTest::newRow("the file grows while it is read")
        << int(ChangingRead::At::Grow) << qint64(kHeader.size()) << changed;
    QTest::newRow("a read error part way")
        << int(ChangingRead::At::Fail) << qint64(kHeader.size() + 10)
        << QStringLiteral("It could not be read to its end (Input/output error).");
}

void TestSlicedFileReader::changedWhileRead()
{
    QFETCH(int, what);
    QFETCH(qint64, at);
    QFETCH(QString, reason);
    const QString path = fixture(QStringLiteral("part.gcode"), kHeader + kBody);

    SlicedFile::ReadOptions options;
    options.readDevice = [&](QFile& file) {
        return std::make_unique<ChangingRead>(file, path, ChangingRead::At(what), at);
    };
    BufferSink sink;
    const SlicedFile::ReadResult result = SlicedFile::read(path, sink, options);

    QCOMPARE(result.refusal, SlicedFile::Refusal::Unread);
    QVERIFY2(result.reason.startsWith(reason), qPrintable(result.reason));
    QVERIFY(SlicedFile::refusalText(path, result).startsWith("Cannot read " + path));
}

void TestSlicedFileReader::memoryRunningOutIsARefusal()
{
    const QString path = fixture(QStringLiteral("part.gcode"), kHeader + kBody);
    BufferSink sink(false, 10);
    const SlicedFile::ReadResult result = SlicedFile::read(path, sink);
    QCOMPARE(result.refusal, SlicedFile::Refusal::Unread);
    QCOMPARE(result.reason, QStringLiteral("There is not enough memory to hold it."));
}

void TestSlicedFileReader::pipeIsRefusedWithoutWaiting()
{
#ifdef Q_OS_UNIX
    const QString fifo = m_dir->filePath(QStringLiteral("pipe.gcode"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    BufferSink sink;
    // No writer ever comes: a read that waited for one would hang the test until its timeout.
    const SlicedFile::ReadResult result = SlicedFile::read(fifo, sink);
    QCOMPARE(result.refusal, SlicedFile::Refusal::NotAFile);
    QCOMPARE(sink.reserved, qint64(-1));
    BufferSink folderSink;
    QCOMPARE(SlicedFile::read(m_dir->path(), folderSink).reason, QStringLiteral("It is a folder."));
    const SlicedFile::ReadResult missing =
        SlicedFile::read(m_dir->filePath(QStringLiteral("none")), folderSink);
    QCOMPARE(missing.refusal, SlicedFile::Refusal::CannotOpen);
    QCOMPARE(missing.reason, QStringLiteral("No such file or directory"));
#else
    QSKIP("pipes in the file system are a Unix thing");
#endif
}

void TestSlicedFileReader::lookAlike_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("G-code") << QByteArray(";FLAVOR:Marlin\n") << "a.gcode"
                            << "";
    QTest::newRow("zip named .3mf")
        << QByteArray("PK\x03\x04", 4) << "a.3MF"
        << "This is a 3MF project, a zip archive: export plain G-code from the slicer.";
    QTest::newRow("zip")
        << QByteArray("PK\x03\x04", 4) << "a.gcode"
        << "This is a zip archive (as a 3MF project is): export plain G-code from the slicer, "
           "or unpack the G-code from the archive.";
    QTest::newRow("PDF") << QByteArray("%PDF-1.4") << "a.gcode"
                         << "This is a PDF document, not G-code: export plain G-code from the slicer.";
    QTest::newRow("JPEG") << QByteArray("\xff\xd8\xff\xe0") << "a.gcode"
                          << "This is a JPEG image, not G-code: export plain G-code from the slicer.";
    QTest::newRow("gzip") << QByteArray("\x1f\x8b\x08") << "a.gcode.gz"
                          << "This is a gzip archive, not G-code: export plain G-code from the slicer.";
    QTest::newRow("binary G-code") << QByteArray("GCDE\x01\0\0\0", 8) << "a.bgcode"
                                   << "This is binary G-code: export plain (text) G-code from the slicer.";
    QTest::newRow("too short to tell") << QByteArray("PK") << "a.gcode"
                                       << "";
}

void TestSlicedFileReader::lookAlike()
{
    QFETCH(QByteArray, start);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(SlicedFile::lookAlike(start, name), expected);
}

QTEST_GUILESS_MAIN(TestSlicedFileReader)
#include "tst_slicedfilereader.moc"
