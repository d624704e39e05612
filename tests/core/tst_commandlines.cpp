#include "core/gcode/CommandLines.h"

#include <QTest>

#include <climits>
#include <optional>

class TestCommandLines : public QObject
{
    Q_OBJECT

private slots:
    void temperatureLines_data();
    void temperatureLines();
    void checkedTemperature_data();
    void checkedTemperature();
    void checkTemperatures_data();
    void checkTemperatures();
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

void TestCommandLines::checkedTemperature_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // -1: refused

    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("top of the range") << "999" << 999;
    QTest::newRow("one past the range") << "1000" << -1;
    QTest::newRow("spaces removed") << " 2 10 " << 210;
    QTest::newRow("leading zeros") << "0210" << 210;
    QTest::newRow("many leading zeros") << "0000000000000210" << 210;
    QTest::newRow("huge") << "99999999999999999999" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("blanks only") << "   " << -1;
    QTest::newRow("fraction") << "215.5" << -1;
    QTest::newRow("negative") << "-5" << -1;
    QTest::newRow("plus sign") << "+5" << -1;
    QTest::newRow("letters") << "abc" << -1;
    QTest::newRow("digits then letters") << "200C" << -1;
    QTest::newRow("tab and ideographic space removed") << QString("\t2") + QChar(0x3000) + "00" << 200;
    QTest::newRow("Arabic-Indic digits") << QString(QChar(0x0662)) + QChar(0x0660) << -1;
    QTest::newRow("out of the int range") << "99999999999" << -1;
    QTest::newRow("exponent") << "1e3" << -1;
    QTest::newRow("fullwidth digits") << QStringLiteral("\uff12\uff11\uff10") << -1;
}

void TestCommandLines::checkedTemperature()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    const std::optional<int> checked = CommandLines::checkedTemperature(text);
    QCOMPARE(checked.value_or(-1), value);
}

void TestCommandLines::checkTemperatures_data()
{
    QTest::addColumn<QString>("t0");
    QTest::addColumn<QString>("t1");
    QTest::addColumn<QString>("bed");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("wrong"); // -1 for none, else 0 T0, 1 T1, 2 Bed

    QTest::newRow("all blank") << ""
                               << " "
                               << "\t" << QStringList() << -1;
    QTest::newRow("every field, canonical digits")
        << "0215"
        << " 2 0 5 "
        << "60" << QStringList{"M140 S60 T0", "M104 S215 T0", "M104 S205 T1"} << -1;
    QTest::newRow("T0 too hot") << "1000"
                                << ""
                                << "60" << QStringList() << 0;
    QTest::newRow("T1 with letters, bed fine") << ""
                                               << "hot"
                                               << "60" << QStringList() << 1;
    QTest::newRow("bed with a fraction") << ""
                                         << ""
                                         << "60.5" << QStringList() << 2;
    QTest::newRow("the first wrong field is named") << "-5"
                                                    << "x"
                                                    << "y" << QStringList() << 0;
}

void TestCommandLines::checkTemperatures()
{
    QFETCH(QString, t0);
    QFETCH(QString, t1);
    QFETCH(QString, bed);
    QFETCH(QStringList, lines);
    QFETCH(int, wrong);
    const CommandLines::TemperatureCheck check = CommandLines::checkTemperatures(t0, t1, bed);
    QCOMPARE(check.lines, lines);
    QCOMPARE(check.wrong ? int(*check.wrong) : -1, wrong);
}

QTEST_GUILESS_MAIN(TestCommandLines)
#include "tst_commandlines.moc"
