// File names as bytes: every byte comes back from the string it is carried in, valid UTF-8
// reads as Qt reads it, and what a person is shown tells each stray byte.

#include "core/text/PathBytes.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

#ifdef Q_OS_UNIX
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A string of UTF-16 code units, written out as the expectation.
QString units(std::initializer_list<char16_t> codes)
{
    QString text;
    for (const char16_t code : codes)
        text += QChar(code);
    return text;
}

} // namespace

class TestPathBytes : public QObject
{
    Q_OBJECT

private slots:
    void everySingleByte();
    void bytesAndString_data();
    void bytesAndString();
    void validUtf8ReadsAsQtReadsIt_data();
    void validUtf8ReadsAsQtReadsIt();
    void fileManagerUrls_data();
    void fileManagerUrls();
    void absoluteAgainstAWorkingFolderThatIsNoUtf8();
    void namesReadAsReplacementCharacters_data();
    void namesReadAsReplacementCharacters();
};

void TestPathBytes::everySingleByte()
{
    for (int byte = 0; byte < 256; ++byte) {
        const QByteArray bytes(1, char(byte));
        // ASCII is its own text; every byte from 0x80 on is no UTF-8 on its own.
        const QString expected =
            byte < 0x80 ? QString(QChar(char16_t(byte))) : QString(QChar(char16_t(0xDC00 + byte)));
        QCOMPARE(PathBytes::fromBytes(bytes), expected);
        QCOMPARE(PathBytes::toBytes(expected), bytes);
        QCOMPARE(PathBytes::hasStrayBytes(expected), byte >= 0x80);
        const QByteArray inName = "a" + bytes + "b";
        QCOMPARE(PathBytes::toBytes(PathBytes::fromBytes(inName)), inName);
    }
}

void TestPathBytes::bytesAndString_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("string");
    QTest::addColumn<QString>("shown");

    QTest::newRow("empty") << QByteArray() << QString() << QString();
    QTest::newRow("ASCII name") << QByteArray("/tmp/part.gcode") << QStringLiteral("/tmp/part.gcode")
                                << QStringLiteral("/tmp/part.gcode");
    QTest::newRow("Latin-1 e acute") << QByteArray("lat\xe9n.gcode")
                                     << QStringLiteral("lat") + units({0xDCE9}) + QStringLiteral("n.gcode")
                                     << QStringLiteral("lat\\xE9n.gcode");
    QTest::newRow("0xFE in an output name")
        << QByteArray("o\xfe.gx") << QStringLiteral("o") + units({0xDCFE}) + ".gx"
        << QStringLiteral("o\\xFE.gx");
    QTest::newRow("UTF-8 e acute") << QByteArray("lat\xc3\xa9n")
                                   << QStringLiteral("lat") + units({0x00E9}) + "n"
                                   << QStringLiteral("lat") + units({0x00E9}) + "n";
    QTest::newRow("UTF-8 and Latin-1 side by side")
        << QByteArray("\xc3\xa9\xe9") << units({0x00E9, 0xDCE9}) << units({0x00E9}) + QStringLiteral("\\xE9");
    QTest::newRow("four bytes: a face")
        << QByteArray("\xf0\x9f\x98\x80") << units({0xD83D, 0xDE00}) << units({0xD83D, 0xDE00});
    QTest::newRow("highest code point")
        << QByteArray("\xf4\x8f\xbf\xbf") << units({0xDBFF, 0xDFFF}) << units({0xDBFF, 0xDFFF});
    QTest::newRow("past the highest code point")
        << QByteArray("\xf4\x90\x80\x80") << units({0xDCF4, 0xDC90, 0xDC80, 0xDC80})
        << QStringLiteral("\\xF4\\x90\\x80\\x80");
    QTest::newRow("overlong slash") << QByteArray("a\xc0\xaf") << units({'a', 0xDCC0, 0xDCAF})
                                    << QStringLiteral("a\\xC0\\xAF");
    QTest::newRow("overlong three bytes")
        << QByteArray("\xe0\x80\xaf") << units({0xDCE0, 0xDC80, 0xDCAF}) << QStringLiteral("\\xE0\\x80\\xAF");
    // The escape's own code unit written as UTF-8 is no valid UTF-8: its three bytes stay bytes,
    // so a name can never pass for another.
    QTest::newRow("a surrogate written as UTF-8")
        << QByteArray("\xed\xb3\xa9") << units({0xDCED, 0xDCB3, 0xDCA9}) << QStringLiteral("\\xED\\xB3\\xA9");
    QTest::newRow("last code point before the surrogates")
        << QByteArray("\xed\x9f\xbf") << units({0xD7FF}) << units({0xD7FF});
    QTest::newRow("three bytes cut at the end")
        << QByteArray("a\xe2\x82") << units({'a', 0xDCE2, 0xDC82}) << QStringLiteral("a\\xE2\\x82");
    QTest::newRow("three bytes cut by ASCII")
        << QByteArray("\xe2\x82"
                      "A\xe2\x82\xac")
        << units({0xDCE2, 0xDC82, 'A', 0x20AC}) << QStringLiteral("\\xE2\\x82A") + units({0x20AC});
    QTest::newRow("lone continuation bytes")
        << QByteArray("\x80\xbf") << units({0xDC80, 0xDCBF}) << QStringLiteral("\\x80\\xBF");
    QTest::newRow("byte order mark kept")
        << QByteArray("\xef\xbb\xbfx") << units({0xFEFF, 'x'}) << units({0xFEFF, 'x'});
    QTest::newRow("a real replacement character")
        << QByteArray("\xef\xbf\xbd") << units({0xFFFD}) << units({0xFFFD});
    QTest::newRow("0xFF and a backslash")
        << QByteArray("\xff\\") << units({0xDCFF, '\\'}) << QStringLiteral("\\xFF\\");
}

void TestPathBytes::bytesAndString()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, string);
    QFETCH(QString, shown);
    QCOMPARE(PathBytes::fromBytes(bytes), string);
    QCOMPARE(PathBytes::toBytes(string), bytes);
    QCOMPARE(PathBytes::shown(string), shown);
    QCOMPARE(PathBytes::hasStrayBytes(string), shown != string);
}

void TestPathBytes::validUtf8ReadsAsQtReadsIt_data()
{
    QTest::addColumn<int>("lead");
    for (const int lead : {0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF3, 0xF4, 0xF5})
        QTest::addRow("lead byte 0x%X", lead) << lead;
}

// Every two following bytes after a lead byte: where Qt's own decoder finds valid UTF-8 the name
// is Qt's text, and where it finds none a byte is carried; either way the bytes come back.
void TestPathBytes::validUtf8ReadsAsQtReadsIt()
{
    QFETCH(int, lead);
    for (int second = 0; second < 256; ++second) {
        for (int third = 0; third < 256; ++third) {
            QByteArray bytes(1, char(lead));
            bytes += char(second);
            bytes += char(third);
            if (lead >= 0xF0)
                bytes += char(0x80); // the fourth byte of a four-byte sequence
            const QString path = PathBytes::fromBytes(bytes);
            if (PathBytes::toBytes(path) != bytes)
                QFAIL(qPrintable(
                    QStringLiteral("%1 does not come back").arg(QString::fromLatin1(bytes.toHex()))));
            const QString qt = QString::fromUtf8(bytes);
            // Qt marks each fault with U+FFFD; the bytes EF BF BD are that character itself.
            const bool qtFoundAFault = qt.count(QChar::ReplacementCharacter) > bytes.count("\xef\xbf\xbd");
            // Qt drops a byte order mark at the start, which a file name keeps.
            const QString qtText = bytes.startsWith("\xef\xbb\xbf") ? QChar(0xFEFF) + qt : qt;
            if (qtFoundAFault != PathBytes::hasStrayBytes(path) || (!qtFoundAFault && path != qtText))
                QFAIL(qPrintable(QStringLiteral("%1 read otherwise than Qt reads it")
                                     .arg(QString::fromLatin1(bytes.toHex()))));
        }
    }
}

void TestPathBytes::fileManagerUrls_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<QString>("path");

    QTest::newRow("Latin-1 byte percent-encoded") << QByteArray("file:///tmp/lat%E9n.gcode")
                                                  << QStringLiteral("/tmp/lat") + units({0xDCE9}) + "n.gcode";
    QTest::newRow("folder and file with stray bytes")
        << QByteArray("file:///tmp/d%E9p/o%FE.gx")
        << QStringLiteral("/tmp/d") + units({0xDCE9}) + "p/o" + units({0xDCFE}) + ".gx";
    QTest::newRow("UTF-8 percent-encoded") << QByteArray("file:///tmp/caf%C3%A9.gcode")
                                           << QStringLiteral("/tmp/caf") + units({0x00E9}) + ".gcode";
    QTest::newRow("blank, hash and percent")
        << QByteArray("file:///tmp/a%20b%23c%25d.gcode") << QStringLiteral("/tmp/a b#c%d.gcode");
    QTest::newRow("not a local file") << QByteArray("https://example.org/lat%E9n.gcode") << QString();
}

void TestPathBytes::fileManagerUrls()
{
    QFETCH(QByteArray, url);
    QFETCH(QString, path);
    const QUrl dropped = QUrl::fromEncoded(url);
    QCOMPARE(PathBytes::fromUrl(dropped), path);
    if (path.isEmpty())
        return;
    // And back: the same address, so that the file manager opens the same folder.
    QCOMPARE(PathBytes::toUrl(path), dropped);
    if (!PathBytes::hasStrayBytes(path))
        QCOMPARE(PathBytes::toUrl(path), QUrl::fromLocalFile(path));
}

void TestPathBytes::absoluteAgainstAWorkingFolderThatIsNoUtf8()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray folder = QFile::encodeName(dir.path()) + "/d\xe9p";
    QCOMPARE(::mkdir(folder.constData(), 0700), 0);
    // QTemporaryDir removes what it can name, and it cannot name this folder.
    const auto removeFolder = qScopeGuard([&] { ::rmdir(folder.constData()); });
    const QString before = QDir::currentPath();
    QCOMPARE(::chdir(folder.constData()), 0);
    const QString absolute = PathBytes::absolute(QStringLiteral("x/../o") + units({0xDCFE}) + ".gx");
    QVERIFY(QDir::setCurrent(before));
    QCOMPARE(absolute, dir.path() + QStringLiteral("/d") + units({0xDCE9}) + QStringLiteral("p/o") +
                           units({0xDCFE}) + QStringLiteral(".gx"));
    QCOMPARE(PathBytes::absolute(QStringLiteral("/a/./b/../c")), QStringLiteral("/a/c"));
#else
    QSKIP("file names are bytes on Unix only");
#endif
}

void TestPathBytes::namesReadAsReplacementCharacters_data()
{
    QTest::addColumn<QByteArrayList>("entries"); // made in the test folder; a trailing / makes a folder
    QTest::addColumn<QByteArray>("picked");      // the entry a dialog hands over, read as Qt reads it
    QTest::addColumn<QByteArray>("found");       // the bytes the path resolves to; empty: unchanged

    QTest::newRow("Latin-1 file") << QByteArrayList{"lat\xe9n.gcode"} << QByteArray("lat\xe9n.gcode")
                                  << QByteArray("lat\xe9n.gcode");
    QTest::newRow("Latin-1 folder and 0xFE file")
        << QByteArrayList{"d\xe9p/", "d\xe9p/o\xfe.gx"} << QByteArray("d\xe9p/o\xfe.gx")
        << QByteArray("d\xe9p/o\xfe.gx");
    QTest::newRow("a neighbour that is valid UTF-8")
        << QByteArrayList{"lat\xc3\xa9n.gcode", "lat\xe9n.gcode"} << QByteArray("lat\xe9n.gcode")
        << QByteArray("lat\xe9n.gcode");
    // Both read as "a\uFFFD.gx": which one was meant cannot be told.
    QTest::newRow("two names that read the same")
        << QByteArrayList{"a\xe9.gx", "a\xe8.gx"} << QByteArray("a\xe9.gx") << QByteArray();
    QTest::newRow("a real replacement character")
        << QByteArrayList{"a\xef\xbf\xbd.gx"} << QByteArray("a\xef\xbf\xbd.gx")
        << QByteArray("a\xef\xbf\xbd.gx");
    QTest::newRow("no such file") << QByteArrayList{"b\xe9.gx"} << QByteArray("a\xe9.gx") << QByteArray();
}

// A desktop's file dialog gives a name as Qt reads it, each stray byte as U+FFFD; the path goes
// back to the bytes of the one entry that reads so.
void TestPathBytes::namesReadAsReplacementCharacters()
{
#ifdef Q_OS_UNIX
    QFETCH(QByteArrayList, entries);
    QFETCH(QByteArray, picked);
    QFETCH(QByteArray, found);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray root = QFile::encodeName(dir.path()) + '/';
    QByteArrayList made;
    const auto removeEntries = qScopeGuard([&] {
        for (auto it = made.crbegin(); it != made.crend(); ++it)
            ::remove(it->constData());
    });
    for (const QByteArray& entry : entries) {
        const QByteArray path = root + entry;
        if (entry.endsWith('/')) {
            QCOMPARE(::mkdir(path.constData(), 0700), 0);
        } else {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        made << path;
    }
    const QString given = dir.path() + u'/' + QFile::decodeName(picked);
    const QString resolved = PathBytes::resolveReplaced(given);
    QCOMPARE(PathBytes::toBytes(resolved), found.isEmpty() ? PathBytes::toBytes(given) : root + found);
#else
    QSKIP("file names are bytes on Unix only");
#endif
}

QTEST_GUILESS_MAIN(TestPathBytes)
#include "tst_pathbytes.moc"
