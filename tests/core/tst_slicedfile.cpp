// Splitting a sliced file into header and body, and composing the output bytes.

#include "core/gcode/SlicedFile.h"

#include <QBuffer>
#include <QDir>
#include <QTest>

namespace {

QByteArray repeated(char c, qsizetype n)
{
    return QByteArray(n, c);
}

// A device that holds `limit` bytes of 'x' for reading, or takes `limit` bytes of writing, then fails.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(qint64 limit) : m_limit(limit)
    {
        open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (m_done >= m_limit)
            return -1;
        const qint64 n = qMin(maxSize, m_limit - m_done);
        std::fill_n(data, n, 'x');
        m_done += n;
        return n;
    }
    qint64 writeData(const char*, qint64 maxSize) override
    {
        if (m_done >= m_limit)
            return -1;
        const qint64 n = qMin(maxSize, m_limit - m_done);
        m_done += n;
        return n;
    }

private:
    qint64 m_limit;
    qint64 m_done = 0;
};

} // namespace

class TestSlicedFile : public QObject
{
    Q_OBJECT

private slots:
    void headerLength_data();
    void headerLength();
    void readHeader_data();
    void readHeader();
    void readBody_data();
    void readBody();
    void readBodyReportsAFailedRead();
    void writeOutput_data();
    void writeOutput();
    void writeOutputReportsAFailedWrite_data();
    void writeOutputReportsAFailedWrite();
    void folderOf_data();
    void folderOf();
    void outputFileNameFor_data();
    void outputFileNameFor();
};

void TestSlicedFile::headerLength_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qsizetype>("expected");

    QTest::newRow("two lines and a body") << QByteArray(";a\n;b\nG1 X1\n") << qsizetype(6);
    QTest::newRow("file ends after the second LF") << QByteArray(";a\n;b\n") << qsizetype(6);
    QTest::newRow("two empty lines") << QByteArray("\n\nG1\n") << qsizetype(2);
    QTest::newRow("CR LF lines") << QByteArray(";a\r\n;b\r\nG1\r\n") << qsizetype(8);
    QTest::newRow("0x00 and 0xFF in the header") << QByteArray(";\x00\xFF\n\xFF\x00\n", 7) << qsizetype(7);
    QTest::newRow("one line") << QByteArray(";only\n") << qsizetype(-1);
    QTest::newRow("no LF") << QByteArray(";only") << qsizetype(-1);
    QTest::newRow("empty") << QByteArray() << qsizetype(-1);
    QTest::newRow("second LF is byte 35000") << (";\n" + repeated('b', 34997) + "\nG1\n") << qsizetype(35000);
    QTest::newRow("second LF is byte 35001") << (";\n" + repeated('b', 34998) + "\nG1\n") << qsizetype(-1);
}

void TestSlicedFile::headerLength()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qsizetype, expected);
    QCOMPARE(SlicedFile::headerLength(bytes), expected);
}

void TestSlicedFile::readHeader_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<SlicedFile::HeaderCheck>("expected");
    QTest::addColumn<QByteArray>("expectedHeader");
    using C = SlicedFile::HeaderCheck;

    QTest::newRow("two lines") << QByteArray(";a\n;b\nG1 X1\n") << C::Fits << QByteArray(";a\n;b\n");
    QTest::newRow("0x00 and 0xFF in the header")
        << QByteArray(";\x00\xFF\n\xFF\x00\nG1\n", 10) << C::Fits << QByteArray(";\x00\xFF\n\xFF\x00\n", 7);
    QTest::newRow("file ends right after its header")
        << QByteArray(";a\n;b\n") << C::Fits << QByteArray(";a\n;b\n");
    const QByteArray longest = ";\n" + repeated('b', 34997) + "\n";
    QTest::newRow("second LF is byte 35000") << longest + "G1\n" << C::Fits << longest;
    QTest::newRow("empty file") << QByteArray() << C::TooFewLines << QByteArray();
    QTest::newRow("one line") << QByteArray(";only\n") << C::TooFewLines << QByteArray();
    QTest::newRow("0xFF bytes only") << repeated('\xFF', 1000) << C::TooFewLines << QByteArray();
    QTest::newRow("one long line") << repeated('G', 100000) << C::TooFewLines << QByteArray();
    QTest::newRow("one LF early, none after byte 35000")
        << ("\n" + repeated('G', 100000)) << C::TooFewLines << QByteArray();
    QTest::newRow("second LF is byte 35001")
        << (";\n" + repeated('b', 34998) + "\n") << C::TooLong << QByteArray();
    QTest::newRow("second LF far past the capacity")
        << (repeated('b', 5000000) + "\n\n") << C::TooLong << QByteArray();
}

void TestSlicedFile::readHeader()
{
    QFETCH(QByteArray, bytes);
    QFETCH(SlicedFile::HeaderCheck, expected);
    QFETCH(QByteArray, expectedHeader);
    QBuffer device(&bytes);
    QVERIFY(device.open(QIODevice::ReadOnly));
    const SlicedFile::HeaderRead header = SlicedFile::readHeader(device);
    QCOMPARE(header.check, expected);
    QCOMPARE(header.bytes, expectedHeader);
    if (expected == SlicedFile::HeaderCheck::Fits) // the body follows from the same handle
        QCOMPARE(device.readAll(), bytes.mid(expectedHeader.size()));
    QCOMPARE(SlicedFile::headerProblem(expected).isEmpty(), expected == SlicedFile::HeaderCheck::Fits);
}

void TestSlicedFile::readBody_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qsizetype>("chunkSize");
    QTest::addColumn<QByteArray>("expectedText");
    QTest::addColumn<bool>("expectedCrLf");

    QTest::newRow("LF body, one chunk")
        << QByteArray("G1 X1\nG1 X2\n") << qsizetype(1024) << QByteArray("G1 X1\nG1 X2\n") << false;
    QTest::newRow("LF body, small chunks")
        << QByteArray("G1 X1\nG1 X2\nM84\n") << qsizetype(4) << QByteArray("G1 X1\nG1 X2\nM84\n") << false;
    QTest::newRow("CR LF body") << QByteArray("G1\r\nG2\r\n") << qsizetype(1024) << QByteArray("G1\r\nG2\r\n")
                                << true;
    QTest::newRow("CR LF split between chunks")
        << QByteArray("G1 X\r\nG2\r\n") << qsizetype(5) << QByteArray("G1 X\r\nG2\r\n") << true;
    QTest::newRow("first break in a later chunk")
        << QByteArray("G1 X1 Y2 Z3\r\n") << qsizetype(4) << QByteArray("G1 X1 Y2 Z3\r\n") << true;
    QTest::newRow("lone CR before a later LF")
        << QByteArray("G1\rX\nG2\r\n") << qsizetype(1024) << QByteArray("G1\rX\nG2\r\n") << false;
    QTest::newRow("0xFF in a later chunk is kept")
        << QByteArray("G1\nG2\nG3\xFFG4\n") << qsizetype(3) << QByteArray("G1\nG2\nG3\xFFG4\n") << false;
    QTest::newRow("0x00 is kept") << QByteArray("G1\nG\x00G3\n", 8) << qsizetype(1024)
                                  << QByteArray("G1\nG\x00G3\n", 8) << false;
    QTest::newRow("0xFF at a chunk start")
        << QByteArray("G1\n\xFF\n", 5) << qsizetype(3) << QByteArray("G1\n\xFF\n", 5) << false;
    QTest::newRow("no line break") << QByteArray("G1 X1") << qsizetype(2) << QByteArray("G1 X1") << false;
    QTest::newRow("empty body") << QByteArray() << qsizetype(16) << QByteArray() << false;
}

void TestSlicedFile::readBody()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qsizetype, chunkSize);
    QFETCH(QByteArray, expectedText);
    QFETCH(bool, expectedCrLf);

    QBuffer device(&bytes);
    QVERIFY(device.open(QIODevice::ReadOnly));
    QByteArray text;
    const SlicedFile::BodyRead result = SlicedFile::readBody(
        device, [&text](QByteArrayView piece) { text += piece; }, chunkSize);
    QVERIFY(result.ok);
    QCOMPARE(text, expectedText);
    QCOMPARE(result.textBytes, qint64(expectedText.size()));
    QCOMPARE(result.crLf, expectedCrLf);
}

void TestSlicedFile::readBodyReportsAFailedRead()
{
    FailingDevice device(10);
    QByteArray text;
    const SlicedFile::BodyRead result = SlicedFile::readBody(
        device, [&text](QByteArrayView piece) { text += piece; }, 4);
    QVERIFY(!result.ok);
    QCOMPARE(text, QByteArray("xxxxxxxxxx"));
}

void TestSlicedFile::writeOutput_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("lineBreak");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray header(";h\x00\xFF\n\x80\xFE\n", 8);
    QTest::newRow("LF body ending in LF")
        << header << QByteArray("G1 X1\nG1 X2\n") << QByteArray("\n") << header + "G1 X1\nG1 X2\n";
    QTest::newRow("last row without a line break gets LF")
        << header << QByteArray("G1 X1\nG1 X2") << QByteArray("\n") << header + "G1 X1\nG1 X2\n";
    QTest::newRow("CR LF body") << header << QByteArray("G1\r\nG2\r\n") << QByteArray("\r\n")
                                << header + "G1\r\nG2\r\n";
    QTest::newRow("CR LF body, last row without a line break gets CR LF")
        << header << QByteArray("G1\r\nG2") << QByteArray("\r\n") << header + "G1\r\nG2\r\n";
    QTest::newRow("blank line in the middle")
        << header << QByteArray("G1\n\nG2\n\n\nM84\n") << QByteArray("\n") << header + "G1\n\nG2\n\n\nM84\n";
    QTest::newRow("body ending in a lone CR")
        << header << QByteArray("G1\rG2\r") << QByteArray("\n") << header + "G1\rG2\r";
    QTest::newRow("empty body writes only the header")
        << header << QByteArray() << QByteArray("\n") << header;
    QTest::newRow("header removed") << QByteArray() << QByteArray("G1\nG2\n") << QByteArray("\n")
                                    << QByteArray("G1\nG2\n");
    QTest::newRow("nothing at all") << QByteArray() << QByteArray() << QByteArray("\n") << QByteArray();
    QTest::newRow("row longer than 4096 characters")
        << header << repeated('X', 10000) + "\nM84" << QByteArray("\n")
        << header + repeated('X', 10000) + "\nM84\n";
    QTest::newRow("bytes 0x80 to 0xFE in the body")
        << header << QByteArray(";\x80\xA9\xE9\xFE\n") << QByteArray("\n") << header + ";\x80\xA9\xE9\xFE\n";
}

void TestSlicedFile::writeOutput()
{
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, lineBreak);
    QFETCH(QByteArray, expected);

    QByteArray written;
    QBuffer device(&written);
    QVERIFY(device.open(QIODevice::WriteOnly));
    QVERIFY(SlicedFile::writeOutput(device, header,
                                    std::string_view(text.constData(), std::size_t(text.size())), lineBreak));
    QCOMPARE(written, expected);
}

void TestSlicedFile::writeOutputReportsAFailedWrite_data()
{
    QTest::addColumn<qint64>("limit");

    QTest::newRow("fails in the header") << qint64(2);
    QTest::newRow("fails in the body") << qint64(10);
    QTest::newRow("fails on the last line break") << qint64(14);
}

void TestSlicedFile::writeOutputReportsAFailedWrite()
{
    QFETCH(qint64, limit);
    FailingDevice device(limit);
    QVERIFY(!SlicedFile::writeOutput(device, ";h\n;i\n", "G1 X1\nM84", "\n"));
}

void TestSlicedFile::folderOf_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("file in a folder") << "/home/user/prints/part.gcode"
                                      << "/home/user/prints";
    QTest::newRow("file in the root keeps the separator") << "/part.gcode"
                                                          << "/";
    QTest::newRow("dots in folder names") << "/a.b/c.d/part"
                                          << "/a.b/c.d";
    QTest::newRow("no separator") << "part.gcode"
                                  << "";
}

void TestSlicedFile::folderOf()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(SlicedFile::folderOf(QDir::toNativeSeparators(path)), QDir::toNativeSeparators(expected));
}

void TestSlicedFile::outputFileNameFor_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("writeHeader");
    QTest::addColumn<QString>("expected");

    QTest::newRow("default name, header removed") << "Borvane.gx" << false << "Borvane.g";
    QTest::newRow("default name, header written") << "Borvane.g" << true << "Borvane.gx";
    QTest::newRow("several dots") << "part.b.gx" << false << "part.b.g";
    QTest::newRow("no extension") << "print" << true << "print.gx";
    QTest::newRow("other extension") << "print.gcode" << false << "print.g";
    QTest::newRow("only an extension") << ".gx" << false << ".g";
}

void TestSlicedFile::outputFileNameFor()
{
    QFETCH(QString, stored);
    QFETCH(bool, writeHeader);
    QFETCH(QString, expected);
    QCOMPARE(SlicedFile::outputFileNameFor(stored, writeHeader), expected);
}

QTEST_GUILESS_MAIN(TestSlicedFile)
#include "tst_slicedfile.moc"
