#include "core/text/KeywordList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestKeywordList : public QObject
{
    Q_OBJECT

private slots:
    void keywordListPath_data();
    void keywordListPath();
};

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
