// The text, number and path helpers at their edges: empty texts, absent keys, signs,
// several points, trailing letters, blanks inside numbers, positions out of range.

#include "core/text/Utility.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

#include <climits>

using namespace Utility;

class TestUtility : public QObject
{
    Q_OBJECT

private slots:
    void indexOfText_data();
    void indexOfText();
    void replaceFirst_data();
    void replaceFirst();
    void replaceAll_data();
    void replaceAll();
    void stripBlanks_data();
    void stripBlanks();
    void copyText_data();
    void copyText();
    void midText_data();
    void midText();
    void numberAfterKey_data();
    void numberAfterKey();
    void textToNumber_data();
    void textToNumber();
    void truncateToInt_data();
    void truncateToInt();
    void intToPadded_data();
    void intToPadded();
    void formatFixed_data();
    void formatFixed();
    void splitPath_data();
    void splitPath();
    void splitPathCutsLongParts();
    void baseName_data();
    void baseName();
    void isDirectory_data();
    void isDirectory();
    void exeFolderIsTheProgramsFolder();
    void exeFolderKeepsALongPath();
    void typedNumber_data();
    void typedNumber();
    void typedNanometres_data();
    void typedNanometres();
    void toNanometres_data();
    void toNanometres();
    void decimalText_data();
    void decimalText();
};

void TestUtility::indexOfText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("sub");
    QTest::addColumn<int>("expected");

    QTest::newRow("empty sub is at 0") << "abc"
                                       << "" << 0;
    QTest::newRow("empty sub in empty text is at 0") << ""
                                                     << "" << 0;
    QTest::newRow("anything in empty text is absent") << ""
                                                      << "a" << -1;
    QTest::newRow("first of two occurrences") << "abcabc"
                                              << "c" << 2;
    QTest::newRow("longer sub") << "G1 Z0.3"
                                << "Z0" << 3;
    QTest::newRow("case matters") << "abc"
                                  << "B" << -1;
    QTest::newRow("sub longer than text") << "ab"
                                          << "abc" << -1;
}

void TestUtility::indexOfText()
{
    QFETCH(QString, text);
    QFETCH(QString, sub);
    QFETCH(int, expected);
    QCOMPARE(IndexOfText(text, sub), expected);
}

void TestUtility::replaceFirst_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("expected");

    QTest::newRow("only the first blank") << "a b c"
                                          << " "
                                          << ""
                                          << "ab c";
    QTest::newRow("absent from leaves the text") << "abc"
                                                 << "z"
                                                 << "x"
                                                 << "abc";
    QTest::newRow("longer from, first occurrence") << "abcabc"
                                                   << "bc"
                                                   << "X"
                                                   << "aXabc";
    QTest::newRow("empty from puts to in front") << "abc"
                                                 << ""
                                                 << "x"
                                                 << "xabc";
    QTest::newRow("empty from on empty text") << ""
                                              << ""
                                              << "x"
                                              << "x";
    QTest::newRow("occurrence at the end") << "abc"
                                           << "c"
                                           << ""
                                           << "ab";
}

void TestUtility::replaceFirst()
{
    QFETCH(QString, text);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, expected);
    QCOMPARE(ReplaceFirst(text, from, to), expected);
}

void TestUtility::replaceAll_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("expected");

    QTest::newRow("every blank") << "a b c"
                                 << " "
                                 << ""
                                 << "abc";
    QTest::newRow("occurrence made by a deletion goes too") << "aabb"
                                                            << "ab"
                                                            << ""
                                                            << "";
    QTest::newRow("nested three deep") << "aaabbb"
                                       << "ab"
                                       << ""
                                       << "";
    QTest::newRow("occurrence made before the last one") << "abab"
                                                         << "ab"
                                                         << "ba"
                                                         << "bbaa";
    QTest::newRow("empty text stays empty whatever from and to") << ""
                                                                 << ""
                                                                 << "x"
                                                                 << "";
    QTest::newRow("absent from") << "abc"
                                 << "x"
                                 << ""
                                 << "abc";
    QTest::newRow("to equal to from") << "abc"
                                      << "b"
                                      << "b"
                                      << "abc";
    QTest::newRow("longer to") << "aXbXc"
                               << "X"
                               << "YY"
                               << "aYYbYYc";
    QTest::newRow("whole text") << "xxxx"
                                << "x"
                                << ""
                                << "";
}

void TestUtility::replaceAll()
{
    QFETCH(QString, text);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, expected);
    QCOMPARE(ReplaceAll(text, from, to), expected);
}

void TestUtility::stripBlanks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("only blanks") << QStringLiteral(" \t\u3000 \t\u3000") << "";
    QTest::newRow("blanks between words") << QStringLiteral("G1 Z0.3\tF600\u3000;x") << "G1Z0.3F600;x";
    QTest::newRow("line breaks stay") << QStringLiteral("a\r\nb ") << QStringLiteral("a\r\nb");
    QTest::newRow("no-break space stays") << QStringLiteral("1\u00a02") << QStringLiteral("1\u00a02");
    QTest::newRow("empty") << ""
                           << "";
}

void TestUtility::stripBlanks()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(StripBlanks(text), expected);
}

void TestUtility::copyText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("expected");

    QTest::newRow("count past the end") << "abcdef" << 3 << 100 << "cdef";
    QTest::newRow("start just past the end") << "abcdef" << 7 << 1 << "";
    QTest::newRow("last character") << "abcdef" << 6 << 1 << "f";
    QTest::newRow("start below 1 keeps the count") << "abcdef" << -2 << 3 << "abc";
    QTest::newRow("start 0") << "abcdef" << 0 << 2 << "ab";
    QTest::newRow("count 0") << "abc" << 1 << 0 << "";
    QTest::newRow("whole text") << "abc" << 1 << 3 << "abc";
    QTest::newRow("empty text") << "" << 1 << 5 << "";
}

void TestUtility::copyText()
{
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(QString, expected);
    QCOMPARE(CopyText(text, start, count), expected);
}

void TestUtility::midText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("expected");

    QTest::newRow("start 0 includes the last character") << "abcdef" << 0 << 6 << "abcdef";
    QTest::newRow("count 0") << "abcdef" << 2 << 0 << "";
    QTest::newRow("negative count") << "abcdef" << 2 << -1 << "";
    QTest::newRow("start past the end") << "abcdef" << 7 << 1 << "";
    QTest::newRow("start below 1 keeps the count") << "abcdef" << -2 << 3 << "abc";
    QTest::newRow("count past the end") << "abcdef" << 6 << 5 << "f";
    QTest::newRow("middle") << "abcdef" << 2 << 3 << "bcd";
}

void TestUtility::midText()
{
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(QString, expected);
    QCOMPARE(MidText(text, start, count), expected);
}

void TestUtility::numberAfterKey_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<double>("expected");

    QTest::newRow("Z then feed rate") << "G1 Z0.2 F3000"
                                      << "Z" << 0.2;
    QTest::newRow("point first") << "G1 Z.3"
                                 << "Z" << 0.3;
    QTest::newRow("negative") << "G1 Z-0.1"
                              << "Z" << -0.1;
    QTest::newRow("plus sign") << "G1 Z+2.5"
                               << "Z" << 2.5;
    QTest::newRow("key ends the text") << "G1 Z"
                                       << "Z" << 0.0;
    QTest::newRow("key absent: walk from the start finds G1") << "G1 X10 Y5"
                                                              << "Z" << 1.0;
    QTest::newRow("second point ends the number") << "G1 Z1.2.3"
                                                  << "Z" << 1.2;
    QTest::newRow("sign before a sign") << "G1 Z+-5"
                                        << "Z" << 0.0;
    QTest::newRow("sign before a letter") << "G1 Z-F5"
                                          << "Z" << 0.0;
    QTest::newRow("point before a letter") << "G1 Z.F5"
                                           << "Z" << 0.0;
    QTest::newRow("blanks inside the number") << "G1 Z 1 0"
                                              << "Z" << 10.0;
    QTest::newRow("runs into the next word") << "G1 Z0.3 F600"
                                             << "Z" << 0.3;
    QTest::newRow("no exponent after a key") << "G1 Z0.3 E1.2"
                                             << "Z" << 0.3;
    QTest::newRow("e digits after a key are not an exponent") << "G1 Z1e2"
                                                              << "Z" << 1.0;
    QTest::newRow("trailing point") << "G1 Z7."
                                    << "Z" << 7.0;
    QTest::newRow("only the first occurrence counts") << ";Z comment G1 Z5"
                                                      << "Z" << 1.0;
    QTest::newRow("empty text") << ""
                                << "Z" << 0.0;
    QTest::newRow("only blanks") << " \t "
                                 << "Z" << 0.0;
    QTest::newRow("no digit anywhere") << "G Z F"
                                       << "Z" << 0.0;
    QTest::newRow("longer absent key skips its length less one") << "12345"
                                                                 << "XY" << 2345.0;
    QTest::newRow("longer key found") << "X1 ZZ9"
                                      << "ZZ" << 9.0;
    QTest::newRow("fullwidth digits are not digits") << QStringLiteral("G1 Z\uff11 7") << "Z" << 7.0;
    QTest::newRow("empty key reads an exponent") << "-2.5e1"
                                                 << "" << -25.0;
    QTest::newRow("empty key, E without digits") << "3E+x"
                                                 << "" << 3.0;
}

void TestUtility::numberAfterKey()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(double, expected);
    QCOMPARE(NumberAfterKey(text, key), expected);
}

void TestUtility::textToNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<double>("expected");

    QTest::newRow("last digit counts") << "210" << 1 << 210.0;
    QTest::newRow("empty") << "" << 1 << 0.0;
    QTest::newRow("only blanks") << "  \t" << 1 << 0.0;
    QTest::newRow("minus alone") << "-" << 1 << 0.0;
    QTest::newRow("point alone") << "." << 1 << 0.0;
    QTest::newRow("point first") << ".5" << 1 << 0.5;
    QTest::newRow("minus point") << "-.5" << 1 << -0.5;
    QTest::newRow("exponent") << "1e3" << 1 << 1000.0;
    QTest::newRow("negative exponent") << "2E-2" << 1 << 0.02;
    QTest::newRow("e without digits") << "1e" << 1 << 1.0;
    QTest::newRow("trailing letters") << "12abc" << 1 << 12.0;
    QTest::newRow("unit after blanks") << " 12.5mm" << 1 << 12.5;
    QTest::newRow("blank between digits") << "1 2" << 1 << 12.0;
    QTest::newRow("ideographic space before a sign") << QStringLiteral("\u3000+7") << 1 << 7.0;
    QTest::newRow("letter first") << "x12" << 1 << 0.0;
    QTest::newRow("letters first") << "abc12" << 1 << 0.0;
    QTest::newRow("fullwidth digits") << QStringLiteral("\uff11\uff12\uff13") << 1 << 0.0;
    QTest::newRow("fullwidth digit, then an ASCII digit") << QStringLiteral("\uff112") << 1 << 2.0;
    QTest::newRow("start inside the text") << "ab12" << 3 << 12.0;
    QTest::newRow("start 0 counts as 1") << "34" << 0 << 34.0;
    QTest::newRow("start past the end") << "34" << 3 << 0.0;
    QTest::newRow("below the smallest double, no exponent")
        << QStringLiteral("0.") + QString(400, u'0') + QStringLiteral("1") << 1 << 0.0;
    QTest::newRow("below the smallest double, positive exponent")
        << QStringLiteral("0.") + QString(400, u'0') + QStringLiteral("1e5") << 1 << 0.0;
    QTest::newRow("below the smallest double, negative exponent") << "-1e-400" << 1 << -0.0;
    QTest::newRow("above the largest double, negative exponent")
        << QStringLiteral("1") + QString(400, u'0') + QStringLiteral("e-5") << 1 << qInf();
    QTest::newRow("above the largest double") << "-1e400" << 1 << -qInf();
    QTest::newRow("in range only with its exponent")
        << QStringLiteral("1") + QString(400, u'0') + QStringLiteral("e-500") << 1 << 1e-100;
}

void TestUtility::textToNumber()
{
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(double, expected);
    QCOMPARE(TextToNumber(text, start), expected);
}

void TestUtility::truncateToInt_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("fraction dropped") << 210.9 << 210;
    QTest::newRow("negative toward zero") << -3.7 << -3;
    QTest::newRow("above the range") << 1e11 << std::numeric_limits<int>::max();
    QTest::newRow("below the range") << -1e11 << std::numeric_limits<int>::min();
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << std::numeric_limits<int>::max();
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 0;
}

void TestUtility::truncateToInt()
{
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(Utility::TruncateToInt(value), expected);
}

void TestUtility::intToPadded_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");

    QTest::newRow("width 1") << 7 << 1 << "7";
    QTest::newRow("negative, width 1") << -7 << 1 << "-7";
    QTest::newRow("width 3") << 7 << 3 << "007";
    QTest::newRow("zeros after the sign") << -5 << 3 << "-05";
    QTest::newRow("width 8") << 123 << 8 << "00000123";
    QTest::newRow("width 0 pads to 9") << 7 << 0 << "000000007";
    QTest::newRow("width 9") << 7 << 9 << "000000007";
    QTest::newRow("width 12 is limited to 9") << 7 << 12 << "000000007";
    QTest::newRow("negative width pads to 9") << 7 << -1 << "000000007";
    QTest::newRow("longer number is not cut") << 12345 << 2 << "12345";
    QTest::newRow("smallest int") << INT_MIN << 1 << "-2147483648";
    QTest::newRow("largest int") << INT_MAX << 1 << "2147483647";
}

void TestUtility::intToPadded()
{
    QFETCH(int, value);
    QFETCH(int, width);
    QFETCH(QString, expected);
    QCOMPARE(IntToPadded(value, width), expected);
}

void TestUtility::formatFixed_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0.3") << 0.3 << 3 << "0.300";
    QTest::newRow("integer") << 12.0 << 3 << "12.000";
    QTest::newRow("all integer digits") << 123456.7 << 3 << "123456.700";
    QTest::newRow("negative") << -12.5 << 3 << "-12.500";
    QTest::newRow("half rounds away from zero") << 0.0625 << 3 << "0.063";
    QTest::newRow("negative half rounds away from zero") << -0.0625 << 3 << "-0.063";
    QTest::newRow("held just below a half") << 1.0005 << 3 << "1.000";
    QTest::newRow("negative held just above a half") << -0.0005 << 3 << "-0.001";
    QTest::newRow("rounds to zero without a sign") << -0.0004 << 3 << "0.000";
    QTest::newRow("zero") << 0.0 << 3 << "0.000";
    QTest::newRow("negative zero") << -0.0 << 3 << "0.000";
    QTest::newRow("carry into a new digit") << 9.9996 << 3 << "10.000";
    QTest::newRow("sum with a binary tail") << 0.1 + 0.2 << 3 << "0.300";
    QTest::newRow("far below the last decimal") << 0.00001 << 3 << "0.000";
    QTest::newRow("one decimal") << 0.05 << 1 << "0.1";
    QTest::newRow("large value") << 12345678901.5 << 3 << "12345678901.500";
    // Rounded once, from the double's exact value, which lies below the half for these three.
    QTest::newRow("0.0195 is held below the half") << 0.0195 << 3 << "0.019";
    QTest::newRow("0.1245 is held below the half") << 0.1245 << 3 << "0.124";
    QTest::newRow("0.3745 is held below the half") << 0.3745 << 3 << "0.374";
    QTest::newRow("exact half, no decimals") << 2.5 << 0 << "3";
    QTest::newRow("negative exact half, no decimals") << -2.5 << 0 << "-3";
    QTest::newRow("exact half of an even digit") << 0.125 << 2 << "0.13";
    QTest::newRow("largest double")
        << 1.7976931348623157e308 << 0
        << "1797693134862315708145274237317043567980705675258449965989174768031572607800285387605895586327668"
           "7817154045895351438246423432132688946418276846754670353751698604991057655128207624549009038932894"
           "4075868508455133942304583236903222948165808559332123348274797826204144723168738177180919299881250"
           "404026184124858368";
    QTest::newRow("smallest double") << 5e-324 << 3 << "0.000";
}

void TestUtility::formatFixed()
{
    // The tests run with LANG=C.UTF-8, whose decimal separator is the point.
    QCOMPARE(QLocale::system().decimalPoint(), QStringLiteral("."));
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QString, expected);
    QCOMPARE(FormatFixed(value, decimals), expected);
}

void TestUtility::splitPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("drive");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("extension");

    QTest::newRow("drive, folder, name with dots") << R"(C:\work\part.b.gx)"
                                                   << "C:"
                                                   << R"(\work\)"
                                                   << "part.b"
                                                   << ".gx";
    QTest::newRow("name only") << "Borvane.gx"
                               << ""
                               << ""
                               << "Borvane"
                               << ".gx";
    QTest::newRow("folder ending with a separator") << R"(C:\work\)"
                                                    << "C:"
                                                    << R"(\work\)"
                                                    << ""
                                                    << "";
    QTest::newRow("dot-dot component") << R"(C:\work\..)"
                                       << "C:"
                                       << R"(\work\..)"
                                       << ""
                                       << "";
    QTest::newRow("dot component") << R"(C:\work\.)"
                                   << "C:"
                                   << R"(\work\.)"
                                   << ""
                                   << "";
    QTest::newRow("dot-dot alone") << ".."
                                   << ""
                                   << ".."
                                   << ""
                                   << "";
    QTest::newRow("dot-dot after the drive") << "C:.."
                                             << "C:"
                                             << ".."
                                             << ""
                                             << "";
    QTest::newRow("three dots are a name and an extension") << "..."
                                                            << ""
                                                            << ""
                                                            << ".."
                                                            << ".";
    QTest::newRow("trailing point is the extension") << "name."
                                                     << ""
                                                     << ""
                                                     << "name"
                                                     << ".";
    QTest::newRow("extension only") << ".gx"
                                    << ""
                                    << ""
                                    << ""
                                    << ".gx";
    QTest::newRow("forward slashes") << "a/b/c.gx"
                                     << ""
                                     << "a/b/"
                                     << "c"
                                     << ".gx";
    QTest::newRow("mixed separators") << R"(a\b/c.gx)"
                                      << ""
                                      << R"(a\b/)"
                                      << "c"
                                      << ".gx";
    QTest::newRow("server share") << R"(\\server\share\f.gx)"
                                  << ""
                                  << R"(\\server\share\)"
                                  << "f"
                                  << ".gx";
    QTest::newRow("point in a folder is no extension") << R"(C:\a.b\file)"
                                                       << "C:"
                                                       << R"(\a.b\)"
                                                       << "file"
                                                       << "";
    QTest::newRow("name right after the drive") << "C:name.gx"
                                                << "C:"
                                                << ""
                                                << "name"
                                                << ".gx";
    QTest::newRow("drive alone") << "C:"
                                 << "C:"
                                 << ""
                                 << ""
                                 << "";
    QTest::newRow("colon elsewhere is a character") << "ab:c.gx"
                                                    << ""
                                                    << ""
                                                    << "ab:c"
                                                    << ".gx";
    QTest::newRow("wildcards are characters") << "*?.g"
                                              << ""
                                              << ""
                                              << "*?"
                                              << ".g";
    QTest::newRow("Linux path") << "/home/user/print.gx"
                                << ""
                                << "/home/user/"
                                << "print"
                                << ".gx";
    QTest::newRow("empty") << ""
                           << ""
                           << ""
                           << ""
                           << "";
}

void TestUtility::splitPath()
{
    QFETCH(QString, path);
    QFETCH(QString, drive);
    QFETCH(QString, directory);
    QFETCH(QString, name);
    QFETCH(QString, extension);

    QString d = "stale", dir = "stale", n = "stale", e = "stale";
    QCOMPARE(SplitPath(path, d, dir, n, e), path);
    QCOMPARE(d, drive);
    QCOMPARE(dir, directory);
    QCOMPARE(n, name);
    QCOMPARE(e, extension);
    QCOMPARE(d + dir + n + e, path);
}

void TestUtility::splitPathCutsLongParts()
{
    // The split looks at the first 260 characters; each part keeps at most 255.
    const QString longName = QString(300, u'n');
    QString drive, directory, name, extension;
    SplitPath(QStringLiteral("C:\\d\\") + longName + QStringLiteral(".gx"), drive, directory, name,
              extension);
    QCOMPARE(drive, QStringLiteral("C:"));
    QCOMPARE(directory, QStringLiteral("\\d\\"));
    QCOMPARE(name, QString(255, u'n'));
    QCOMPARE(extension, QString());

    // Cut to 260 characters, the path loses its last separator and extension.
    SplitPath(QStringLiteral("\\") + QString(270, u'f') + QStringLiteral("\\x.gx"), drive, directory, name,
              extension);
    QCOMPARE(directory, QStringLiteral("\\"));
    QCOMPARE(name, QString(255, u'f'));
    QCOMPARE(extension, QString());
}

void TestUtility::baseName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << "Borvane.gx"
                           << "Borvane";
    QTest::newRow("several dots") << "a.b.gx"
                                  << "a.b";
    QTest::newRow("extension only") << ".gx"
                                    << "";
    QTest::newRow("with folders") << R"(C:\work\part.b.gx)"
                                  << "part.b";
    QTest::newRow("no extension") << "/tmp/plain"
                                  << "plain";
}

void TestUtility::baseName()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(BaseName(path), expected);
}

void TestUtility::isDirectory_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("expected");

    QTest::newRow("existing folder") << "folder" << true;
    QTest::newRow("folder with a final separator") << "folder/" << true;
    QTest::newRow("existing file") << "file.gx" << false;
    QTest::newRow("missing path") << "missing" << false;
    QTest::newRow("missing path in a missing folder") << "missing/deeper/" << false;
}

void TestUtility::isDirectory()
{
    QFETCH(QString, relative);
    QFETCH(bool, expected);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir(root.path()).mkdir(QStringLiteral("folder")));
    QFile file(root.filePath(QStringLiteral("file.gx")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    const QString path = QDir::toNativeSeparators(root.path() + u'/' + relative);
    QCOMPARE(IsDirectory(path), expected);
    QCOMPARE(IsDirectory(QString()), false);
}

void TestUtility::exeFolderIsTheProgramsFolder()
{
    const QString folder = ExeFolder();
    QVERIFY(folder.endsWith(QDir::separator()));
    QCOMPARE(folder, QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) + QDir::separator());
}

// The program's folder is used whole, however long: the keyword list stands in it.
void TestUtility::exeFolderKeepsALongPath()
{
    if (qEnvironmentVariableIsSet("BORVANE_EXE_FOLDER_CHILD")) {
        // This is the copy in the long folder.
        QVERIFY(QCoreApplication::applicationDirPath().size() > 300);
        QCOMPARE(ExeFolder(),
                 QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) + QDir::separator());
        return;
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder =
        dir.path() + u'/' + QString(100, u'a') + u'/' + QString(100, u'b') + u'/' + QString(100, u'c');
    QVERIFY(QDir().mkpath(folder));
    const QString copy = folder + QStringLiteral("/tst_utility");
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
    QVERIFY(QFile::setPermissions(copy, QFile::permissions(copy) | QFile::ExeOwner));

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("BORVANE_EXE_FOLDER_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(copy, {QStringLiteral("exeFolderKeepsALongPath")});
    QVERIFY(child.waitForFinished(120000));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             child.readAll().constData());
}

void TestUtility::typedNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("decimalPoint");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<double>("expected");

    QTest::newRow("point") << "2.4"
                           << "." << true << 2.4;
    QTest::newRow("comma where it is the separator") << "2,4"
                                                     << "," << true << 2.4;
    QTest::newRow("point where the separator is a comma") << "2.4"
                                                          << "," << true << 2.4;
    QTest::newRow("comma where the separator is a point") << "2,4"
                                                          << "." << false << 0.0;
    QTest::newRow("empty reads 0") << ""
                                   << "." << true << 0.0;
    QTest::newRow("blanks only read 0") << " \t"
                                        << "." << true << 0.0;
    QTest::newRow("blanks around and inside") << " 1 0.5 "
                                              << "." << true << 10.5;
    QTest::newRow("whole number") << "12"
                                  << "." << true << 12.0;
    QTest::newRow("leading separator") << ",5"
                                       << "," << true << 0.5;
    QTest::newRow("trailing separator") << "5."
                                        << "." << true << 5.0;
    QTest::newRow("plus sign") << "+1.5"
                               << "." << true << 1.5;
    QTest::newRow("minus sign") << "-0.5"
                                << "." << true << -0.5;
    QTest::newRow("letters") << "abc"
                             << "." << false << 0.0;
    QTest::newRow("digits then letters") << "2.4mm"
                                         << "." << false << 0.0;
    QTest::newRow("two separators") << "2.4.1"
                                    << "." << false << 0.0;
    QTest::newRow("point and comma") << "1.000,5"
                                     << "," << false << 0.0;
    QTest::newRow("separator only") << "."
                                    << "." << false << 0.0;
    QTest::newRow("sign only") << "-"
                               << "." << false << 0.0;
    QTest::newRow("two signs") << "+-1"
                               << "." << false << 0.0;
    QTest::newRow("exponent") << "1e3"
                              << "." << false << 0.0;
    QTest::newRow("infinity") << "inf"
                              << "." << false << 0.0;
    QTest::newRow("not a number") << "nan"
                                  << "." << false << 0.0;
    QTest::newRow("hexadecimal") << "0x10"
                                 << "." << false << 0.0;
}

void TestUtility::typedNumber()
{
    QFETCH(QString, text);
    QFETCH(QString, decimalPoint);
    QFETCH(bool, isNumber);
    QFETCH(double, expected);
    const std::optional<double> value = TypedNumber(text, decimalPoint);
    QCOMPARE(value.has_value(), isNumber);
    if (value)
        QCOMPARE(*value, expected);
}

void TestUtility::typedNanometres_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("decimalPoint");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<qint64>("nanometres");

    QTest::newRow("whole") << "3"
                           << "." << true << qint64(3'000'000);
    QTest::newRow("3.2, whose double is below 3.2") << "3.2"
                                                    << "." << true << qint64(3'200'000);
    QTest::newRow("0.1") << "0.1"
                         << "." << true << qint64(100'000);
    QTest::newRow("comma as the locale's point") << "0,3"
                                                 << "," << true << qint64(300'000);
    QTest::newRow("point beside a comma locale") << "0.3"
                                                 << "," << true << qint64(300'000);
    QTest::newRow("blanks inside") << " 1 2 . 5 "
                                   << "." << true << qint64(12'500'000);
    QTest::newRow("point first") << ".25"
                                 << "." << true << qint64(250'000);
    QTest::newRow("point last") << "7."
                                << "." << true << qint64(7'000'000);
    QTest::newRow("plus sign") << "+1.5"
                               << "." << true << qint64(1'500'000);
    QTest::newRow("minus sign") << "-0.5"
                                << "." << true << qint64(-500'000);
    QTest::newRow("six decimals exactly") << "0.000001"
                                          << "." << true << qint64(1);
    QTest::newRow("a seventh decimal rounds up") << "1.0000001"
                                                 << "." << true << qint64(1'000'001);
    QTest::newRow("zeros past the sixth change nothing") << "1.2000000"
                                                         << "." << true << qint64(1'200'000);
    QTest::newRow("negative: past the sixth rounds up, toward zero") << "-0.0000009"
                                                                     << "." << true << qint64(0);
    QTest::newRow("blank field reads 0") << "  "
                                         << "." << true << qint64(0);
    QTest::newRow("leading zeros") << "0003.5"
                                   << "." << true << qint64(3'500'000);
    QTest::newRow("beyond any printer: the largest height") << "99999999999999999999"
                                                            << "." << true << qint64(kMaxNanometres);
    QTest::newRow("letters") << "abc"
                             << "." << false << qint64(0);
    QTest::newRow("exponent") << "1e3"
                              << "." << false << qint64(0);
    QTest::newRow("two separators") << "2.4.1"
                                    << "." << false << qint64(0);
    QTest::newRow("sign only") << "-"
                               << "." << false << qint64(0);
}

void TestUtility::typedNanometres()
{
    QFETCH(QString, text);
    QFETCH(QString, decimalPoint);
    QFETCH(bool, isNumber);
    QFETCH(qint64, nanometres);
    const std::optional<std::int64_t> value = TypedNanometres(text, decimalPoint);
    QCOMPARE(value.has_value(), isNumber);
    if (value)
        QCOMPARE(qint64(*value), nanometres);
}

void TestUtility::toNanometres_data()
{
    QTest::addColumn<double>("millimetres");
    QTest::addColumn<qint64>("nanometres");

    // Each double is the one its decimal text reads as; the sums are those that come out just off.
    QTest::newRow("0.3") << 0.3 << qint64(300'000);
    QTest::newRow("0.2 + 3.2 is 3.4000000000000004") << 0.2 + 3.2 << qint64(3'400'000);
    QTest::newRow("0.1 + 0.2 is 0.30000000000000004") << 0.1 + 0.2 << qint64(300'000);
    QTest::newRow("0.7 - 0.6 is 0.09999999999999998") << 0.7 - 0.6 << qint64(100'000);
    QTest::newRow("negative") << -0.25 << qint64(-250'000);
    QTest::newRow("six decimals") << 123.456789 << qint64(123'456'789);
    QTest::newRow("infinity: the largest height") << qInf() << qint64(kMaxNanometres);
}

void TestUtility::toNanometres()
{
    QFETCH(double, millimetres);
    QFETCH(qint64, nanometres);
    QCOMPARE(qint64(ToNanometres(millimetres)), nanometres);
}

// Numbers written for the file and the reports: the decimal the file would hold, to the nanometre.
void TestUtility::decimalText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("rounded"); // the double a JSON report prints

    QTest::newRow("E after a retraction and its prime") << 1.65814 - 0.8 + 0.8 << "1.65814" << 1.65814;
    QTest::newRow("a hollow's centre") << 100.00000000000146 << "100" << 100.0;
    QTest::newRow("0.1 + 0.2") << 0.1 + 0.2 << "0.3" << 0.3;
    QTest::newRow("negative") << -12.5 << "-12.5" << -12.5;
    QTest::newRow("negative zero") << -0.0 << "0" << 0.0;
    QTest::newRow("below half a nanometre") << -0.0000004 << "0" << 0.0;
    QTest::newRow("one nanometre") << 0.000001 << "0.000001" << 0.000001;
    QTest::newRow("a feed") << 2400.0 << "2400" << 2400.0;
    QTest::newRow("beyond the nanometres' range") << 1e13 << "10000000000000" << 1e13;
}

void TestUtility::decimalText()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QFETCH(double, rounded);
    QCOMPARE(Utility::DecimalText(value), text);
    QCOMPARE(Utility::RoundedToNanometres(value), rounded);
}

QTEST_MAIN(TestUtility)
#include "tst_utility.moc"
