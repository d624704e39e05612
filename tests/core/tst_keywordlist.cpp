// The keyword list file: its line breaks, its encodings, and where the program finds it.

#include "core/text/KeywordList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestKeywordList : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void keywordListPath_data();
    void keywordListPath();
};

void TestKeywordList::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("entries");

    const QStringList two = {"first", "second"};
    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("LF, final break") << QByteArray("first\nsecond\n") << two;
    QTest::newRow("LF, no final break") << QByteArray("first\nsecond") << two;
    QTest::newRow("CR, final break") << QByteArray("first\rsecond\r") << two;
    QTest::newRow("CR, no final break") << QByteArray("first\rsecond") << two;
    QTest::newRow("CR LF, final break") << QByteArray("first\r\nsecond\r\n") << two;
    QTest::newRow("CR LF, no final break") << QByteArray("first\r\nsecond") << two;
    QTest::newRow("UTF-8 mark") << QByteArray("\xEF\xBB\xBF"
                                              "first\r\nZ\xC3\xA9\r\n")
                                << QStringList{"first", QStringLiteral("Z\u00e9")};
    QTest::newRow("UTF-16 LE mark") << QByteArray("\xFF\xFE"
                                                  "a\0\r\0\n\0\xE9\0",
                                                  10)
                                    << QStringList{"a", QStringLiteral("\u00e9")};
    QTest::newRow("UTF-16 BE mark") << QByteArray("\xFE\xFF\0a\0\n\x30\x00", 8)
                                    << QStringList{"a", QStringLiteral("\u3000")};
    QTest::newRow("Latin-1 without a mark")
        << QByteArray("caf\xE9\n") << QStringList{QStringLiteral("caf\u00e9")};
    QTest::newRow("UTF-8 without a mark reads byte by byte")
        << QByteArray("\xC3\xA9") << QStringList{QStringLiteral("\u00c3\u00a9")};
    QTest::newRow("empty line is an empty entry") << QByteArray("a\n\nb\n") << QStringList{"a", "", "b"};
    QTest::newRow("blanks are kept") << QByteArray(" ;Z \t\n") << QStringList{" ;Z \t"};
}

void TestKeywordList::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, entries);
    QCOMPARE(parseKeywordList(bytes), entries);
}

void TestKeywordList::keywordListPath_data()
{
    QTest::addColumn<bool>("beside");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("expected"); // relative to the temporary prefix
    const QString besidePath = QStringLiteral("bin/TempFile/SearchKey.txt");
    const QString installedPath = QStringLiteral("share/EditorForBorvane5/SearchKey.txt");
    QTest::newRow("beside the program") << true << false << besidePath;
    QTest::newRow("only in the installed data folder") << false << true << installedPath;
    QTest::newRow("beside the program comes first") << true << true << besidePath;
    QTest::newRow("neither: the path beside the program") << false << false << besidePath;
}

void TestKeywordList::keywordListPath()
{
    QFETCH(bool, beside);
    QFETCH(bool, installed);
    QFETCH(QString, expected);
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    const QDir root(prefix.path());
    QVERIFY(root.mkpath(QStringLiteral("bin")));
    for (const auto& [wanted, path] : {std::pair{beside, QStringLiteral("bin/TempFile")},
                                       std::pair{installed, QStringLiteral("share/EditorForBorvane5")}}) {
        if (!wanted)
            continue;
        QVERIFY(root.mkpath(path));
        QFile file(root.filePath(path + QStringLiteral("/SearchKey.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QString exeFolder =
        QDir::toNativeSeparators(root.filePath(QStringLiteral("bin"))) + QDir::separator();
    QCOMPARE(::keywordListPath(exeFolder), QDir::toNativeSeparators(root.filePath(expected)));
}

QTEST_GUILESS_MAIN(TestKeywordList)

#include "tst_keywordlist.moc"
