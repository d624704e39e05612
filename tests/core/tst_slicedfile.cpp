// Splitting a sliced file into header and body, and composing the output bytes.

#include "core/file/SlicedFile.h"

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
    void writeOutputTellsWhy_data();
    void writeOutputTellsWhy();
    void longestRow_data();
    void longestRow();
    void readBodyStopsPastTheLimit();
    void readBodyStopsAtARowTooLong();
    void bodySizeProblem_data();
    void bodySizeProblem();
    void outputNameProblem_data();
    void outputNameProblem();
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
    QTest::addColumn<LineBreaks::Style>("expectedLineBreak");
    using LineBreaks::Style;

    QTest::newRow("LF body, one chunk")
        << QByteArray("G1 X1\nG1 X2\n") << qsizetype(1024) << QByteArray("G1 X1\nG1 X2\n") << Style::LF;
    QTest::newRow("LF body, small chunks") << QByteArray("G1 X1\nG1 X2\nM84\n") << qsizetype(4)
                                           << QByteArray("G1 X1\nG1 X2\nM84\n") << Style::LF;
    QTest::newRow("CR alone") << QByteArray("G1\rG2\r") << qsizetype(1024) << QByteArray("G1\rG2\r")
                              << Style::CR;
    QTest::newRow("CR alone at a chunk's end, then a row")
        << QByteArray("G1\rG2\r") << qsizetype(3) << QByteArray("G1\rG2\r") << Style::CR;
    QTest::newRow("CR at a chunk's end, LF the next chunk's first byte")
        << QByteArray("G1\r\nG2") << qsizetype(3) << QByteArray("G1\r\nG2") << Style::CRLF;
    QTest::newRow("the body ends in its first break, a CR")
        << QByteArray("G1\r") << qsizetype(3) << QByteArray("G1\r") << Style::CR;
    QTest::newRow("CR LF body") << QByteArray("G1\r\nG2\r\n") << qsizetype(1024) << QByteArray("G1\r\nG2\r\n")
                                << Style::CRLF;
    QTest::newRow("CR LF split between chunks")
        << QByteArray("G1 X\r\nG2\r\n") << qsizetype(5) << QByteArray("G1 X\r\nG2\r\n") << Style::CRLF;
    QTest::newRow("first break in a later chunk")
        << QByteArray("G1 X1 Y2 Z3\r\n") << qsizetype(4) << QByteArray("G1 X1 Y2 Z3\r\n") << Style::CRLF;
    QTest::newRow("lone CR before a later LF")
        << QByteArray("G1\rX\nG2\r\n") << qsizetype(1024) << QByteArray("G1\rX\nG2\r\n") << Style::CR;
    QTest::newRow("0xFF in a later chunk is kept")
        << QByteArray("G1\nG2\nG3\xFFG4\n") << qsizetype(3) << QByteArray("G1\nG2\nG3\xFFG4\n") << Style::LF;
    QTest::newRow("0x00 is kept") << QByteArray("G1\nG\x00G3\n", 8) << qsizetype(1024)
                                  << QByteArray("G1\nG\x00G3\n", 8) << Style::LF;
    QTest::newRow("0xFF at a chunk start")
        << QByteArray("G1\n\xFF\n", 5) << qsizetype(3) << QByteArray("G1\n\xFF\n", 5) << Style::LF;
    QTest::newRow("no line break") << QByteArray("G1 X1") << qsizetype(2) << QByteArray("G1 X1") << Style::LF;
    QTest::newRow("empty body") << QByteArray() << qsizetype(16) << QByteArray() << Style::LF;
}

void TestSlicedFile::readBody()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qsizetype, chunkSize);
    QFETCH(QByteArray, expectedText);
    QFETCH(LineBreaks::Style, expectedLineBreak);

    QBuffer device(&bytes);
    QVERIFY(device.open(QIODevice::ReadOnly));
    QByteArray text;
    const SlicedFile::BodyRead result = SlicedFile::readBody(
        device, [&text](QByteArrayView piece) { text += piece; }, chunkSize);
    QVERIFY(result.ok);
    QCOMPARE(text, expectedText);
    QCOMPARE(result.textBytes, qint64(expectedText.size()));
    QCOMPARE(result.lineBreak, expectedLineBreak);
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

// A device that takes at most `room` bytes in all and then nothing more, without an error,
// as a file on a full disk does; with failHard it fails with an error instead.
class ShortWriteDevice : public QIODevice
{
public:
    ShortWriteDevice(qint64 room, bool failHard) : m_room(room), m_failHard(failHard)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 maxSize) override
    {
        if (m_room == 0 && m_failHard) {
            setErrorString(QStringLiteral("Input/output error"));
            return -1;
        }
        const qint64 n = qMin(maxSize, m_room);
        m_room -= n;
        return n;
    }

private:
    qint64 m_room;
    bool m_failHard;
};

void TestSlicedFile::writeOutputTellsWhy_data()
{
    QTest::addColumn<qint64>("room");
    QTest::addColumn<bool>("failHard");
    QTest::addColumn<QString>("problem");

    QTest::newRow("disk full in the body")
        << qint64(10) << false
        << "The disk is full: the file could not be written to its end (4 of 9 bytes were taken).";
    QTest::newRow("disk full at the first byte")
        << qint64(0) << false
        << "The disk is full: the file could not be written to its end (0 of 6 bytes were taken).";
    QTest::newRow("an error of the device") << qint64(0) << true << "Input/output error";
}

void TestSlicedFile::writeOutputTellsWhy()
{
    QFETCH(qint64, room);
    QFETCH(bool, failHard);
    QFETCH(QString, problem);
    ShortWriteDevice device(room, failHard);
    QString why;
    QVERIFY(!SlicedFile::writeOutput(device, ";h\n;i\n", "G1 X1\nM84", "\n", &why));
    QCOMPARE(why, problem);
}

void TestSlicedFile::longestRow_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<qsizetype>("chunkSize");

    const QByteArray longRow(70000, 'X');
    QTest::newRow("short rows") << QByteArray("G1\nG1 X1\nM84\n") << qsizetype(4);
    QTest::newRow("empty body") << QByteArray() << qsizetype(4);
    QTest::newRow("one row without a break") << QByteArray("G1 X1") << qsizetype(2);
    QTest::newRow("long row across chunks") << "G1\n" + longRow + "\nM84\n" << qsizetype(4096);
    QTest::newRow("long row at the end without a break") << "G1\n" + longRow << qsizetype(5000);
    QTest::newRow("CR LF not counted") << "G1\r\n" + longRow + "\r\nM84\r\n" << qsizetype(3);
    QTest::newRow("CR LF split between chunks") << QByteArray(9, 'a') + "\r\nb\n" << qsizetype(10);
    QTest::newRow("lone CRs end rows") << QByteArray(60000, 'a') + "\r" + QByteArray(60000, 'b') + "\rc\n"
                                       << qsizetype(4096);
    QTest::newRow("lone CRs, one row too long")
        << QByteArray(60000, 'a') + "\r" + longRow + "\r" << qsizetype(7);
    QTest::newRow("0x00 and 0xFF are row bytes") << QByteArray("a\0\xff\0b\n", 6) + longRow << qsizetype(64);
    // Whole in one chunk, as a file is read, the short rows before and after in the same stretch.
    const QByteArray shortRows = QByteArray("G1 X1 Y2\n").repeated(9000);
    const QByteArray rowAtLimit(SlicedFile::kMaxRowBytes, 'X');
    const qsizetype wholeChunk = SlicedFile::kReadChunk;
    QTest::newRow("row at the limit among short rows")
        << shortRows + rowAtLimit + "\n" + shortRows << wholeChunk;
    QTest::newRow("row one past the limit among short rows")
        << shortRows + rowAtLimit + "X\n" + shortRows << wholeChunk;
    QTest::newRow("row at the limit and its CR LF among short rows")
        << shortRows + rowAtLimit + "\r\n" + shortRows << wholeChunk;
    QTest::newRow("lone CRs end rows, one chunk")
        << shortRows + QByteArray(60000, 'a') + "\r" + QByteArray(60000, 'b') + "\r" + shortRows
        << wholeChunk;
}

void TestSlicedFile::longestRow()
{
    QFETCH(QByteArray, body);
    QFETCH(qsizetype, chunkSize);
    // The reference: rows split at LF, CR LF and lone CR, plainly.
    qint64 expected = 0;
    qint64 run = 0;
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body[i] == '\r' || body[i] == '\n') {
            expected = qMax(expected, run);
            run = 0;
            if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n')
                ++i;
        } else {
            ++run;
        }
    }
    expected = qMax(expected, run);

    QBuffer device(&body);
    QVERIFY(device.open(QIODevice::ReadOnly));
    const SlicedFile::BodyRead result = SlicedFile::readBody(
        device, [](QByteArrayView) {}, chunkSize);
    QVERIFY(result.ok);
    // Past the limit the read stops there; below it, the figure lies within the limit and not
    // below the longest row.
    QCOMPARE(result.rowTooLong, expected > SlicedFile::kMaxRowBytes);
    if (result.rowTooLong)
        QVERIFY(result.longestRow > SlicedFile::kMaxRowBytes && result.longestRow <= expected);
    else
        QVERIFY2(result.longestRow >= expected && result.longestRow <= SlicedFile::kMaxRowBytes,
                 qPrintable(QStringLiteral("%1 for %2").arg(result.longestRow).arg(expected)));
}

void TestSlicedFile::readBodyStopsAtARowTooLong()
{
    // One endless row, as a sparse file of zeros reads: reading stops within a chunk of the limit.
    QByteArray bytes = "G1\n" + QByteArray(1 << 20, '\0');
    QBuffer device(&bytes);
    QVERIFY(device.open(QIODevice::ReadOnly));
    qint64 handedOn = 0;
    const SlicedFile::BodyRead result = SlicedFile::readBody(
        device, [&handedOn](QByteArrayView piece) { handedOn += piece.size(); }, 4096);
    QVERIFY(result.ok);
    QVERIFY(result.rowTooLong);
    QVERIFY(handedOn <= SlicedFile::kMaxRowBytes + 4096);
}

void TestSlicedFile::readBodyStopsPastTheLimit()
{
    QByteArray bytes(100, 'x');
    QBuffer device(&bytes);
    QVERIFY(device.open(QIODevice::ReadOnly));
    QByteArray text;
    const SlicedFile::BodyRead result = SlicedFile::readBody(
        device, [&text](QByteArrayView piece) { text += piece; }, 30, 64);
    QVERIFY(result.tooLarge);
    QCOMPARE(text, QByteArray(60, 'x')); // no chunk that would pass the limit is handed on
}

void TestSlicedFile::bodySizeProblem_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("problem");

    QTest::newRow("empty") << qint64(0) << "";
    QTest::newRow("at the limit") << SlicedFile::kMaxBodyBytes << "";
    QTest::newRow("one byte over") << SlicedFile::kMaxBodyBytes + 1
                                   << "It is too large: its body is 2000 MB, 1 byte more than the 2000 MB "
                                      "the editor holds.";
    QTest::newRow("a few hundred bytes over") << SlicedFile::kMaxBodyBytes + 300
                                              << "It is too large: its body is 2000 MB, 300 bytes more than "
                                                 "the 2000 MB the editor holds.";
    QTest::newRow("past 2 GiB") << (qint64(1) << 31)
                                << "It is too large: its body is 2147 MB, 147 MB more than the 2000 MB the "
                                   "editor holds.";
}

void TestSlicedFile::bodySizeProblem()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, problem);
    QCOMPARE(SlicedFile::bodySizeProblem(bytes), problem);
}

void TestSlicedFile::outputNameProblem_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("refused");

    QTest::newRow("plain name") << "Borvane.gx" << false;
    QTest::newRow("a NUL in the name") << QString::fromUtf8("Borvane.gx\0.txt", 15) << true;
    QTest::newRow("a NUL first") << QString::fromUtf8("\0x.gx", 5) << true;
    QTest::newRow("blanks around") << " my print " << false;
    QTest::newRow("dots inside") << "a..b.gx" << false;
    QTest::newRow("starts with two dots") << "..x.gx" << false;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("blanks only") << "  " << true;
    QTest::newRow("the folder") << "." << true;
    QTest::newRow("the folder above") << ".." << true;
    QTest::newRow("up a folder") << "../x.gx" << true;
    QTest::newRow("down a folder") << "a/b.gx" << true;
    QTest::newRow("absolute") << "/tmp/x.gx" << true;
    QTest::newRow("backslash") << "..\\x.gx" << true;
    QTest::newRow("drive") << "C:\\x.gx" << true;
}

void TestSlicedFile::outputNameProblem()
{
    QFETCH(QString, name);
    QFETCH(bool, refused);
    QCOMPARE(!SlicedFile::outputNameProblem(name).isEmpty(), refused);
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
