#include "core/gcode/CommandLines.h"

#include <QTest>

class TestCommandLines : public QObject
{
    Q_OBJECT

private slots:
    void temperatureLines_data();
    void temperatureLines();
};

void TestCommandLines::temperatureLines_data()
{
    QTest::addColumn<QString>("t0");
    QTest::addColumn<QString>("t1");
    QTest::addColumn<QString>("bed");
    QTest::addColumn<QStringList>("lines");

    const QString ideographicSpace(QChar(0x3000));
    QTest::newRow("all empty") << ""
                               << ""
                               << "" << QStringList();
    QTest::newRow("only spaces") << "  "
                                 << " "
                                 << "   " << QStringList();
    QTest::newRow("all three, bed on top")
        << "210"
        << "200"
        << "60" << QStringList{"M140 S60 T0", "M104 S210 T0", "M104 S200 T1"};
    QTest::newRow("T0 and a spaced bed") << "210"
                                         << ""
                                         << " 6 0" << QStringList{"M140 S60 T0", "M104 S210 T0"};
    QTest::newRow("only T1") << ""
                             << "215"
                             << "" << QStringList{"M104 S215 T1"};
    QTest::newRow("only bed ends in T0") << ""
                                         << ""
                                         << "55" << QStringList{"M140 S55 T0"};
    QTest::newRow("spaces inside") << "2 10"
                                   << ""
                                   << "" << QStringList{"M104 S210 T0"};
    QTest::newRow("tab is not removed, reads 0") << "\t"
                                                 << ""
                                                 << "" << QStringList{"M104 S0 T0"};
    QTest::newRow("ideographic space reads 0") << "" << ideographicSpace << "" << QStringList{"M104 S0 T1"};
    QTest::newRow("fraction truncated") << "215.8"
                                        << ""
                                        << "" << QStringList{"M104 S215 T0"};
    QTest::newRow("negative truncated toward zero") << "-3.7"
                                                    << ""
                                                    << "" << QStringList{"M104 S-3 T0"};
    QTest::newRow("letters read 0") << "abc"
                                    << ""
                                    << "" << QStringList{"M104 S0 T0"};
    QTest::newRow("leading zeros dropped") << "0210"
                                           << ""
                                           << "" << QStringList{"M104 S210 T0"};
    QTest::newRow("clamped high") << "99999999999"
                                  << ""
                                  << "" << QStringList{"M104 S2147483647 T0"};
    QTest::newRow("clamped low") << ""
                                 << ""
                                 << "-99999999999" << QStringList{"M140 S-2147483648 T0"};
    QTest::newRow("exponent overflow clamped") << "1e999"
                                               << ""
                                               << "" << QStringList{"M104 S2147483647 T0"};
}

void TestCommandLines::temperatureLines()
{
    QFETCH(QString, t0);
    QFETCH(QString, t1);
    QFETCH(QString, bed);
    QFETCH(QStringList, lines);
    QCOMPARE(CommandLines::temperatureLines(t0, t1, bed), lines);
}

QTEST_GUILESS_MAIN(TestCommandLines)
#include "tst_commandlines.moc"
