// The program's arguments read into a request, without starting anything: which positions, which
// file and output, which switches. What a refused line prints is checked by running the program
// (tests/gui/tst_batchmode); here the request the edit gets.

#include "app/CommandLine.h"

#include <QDir>
#include <QTest>

using By = Batch::Position::By;

Q_DECLARE_METATYPE(CommandLine::Mode)

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void positions_data();
    void positions();
    void filesAndSwitches_data();
    void filesAndSwitches();
    void parts_data();
    void parts();
    void plate_data();
    void plate();
};

void TestCommandLine::positions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("positions"); // "h0.25 r6 l3 k1": by and value, in the order read
    QTest::newRow("one height") << QStringList{"--height", "12.5"} << "h12.5";
    QTest::newRow("a height with '='") << QStringList{"--height=0.25"} << "h0.25";
    QTest::newRow("three heights, each kept")
        << QStringList{"--height", "5", "--height", "1", "--height", "9"} << "h5 h1 h9";
    QTest::newRow("mixed and given in any order")
        << QStringList{"--layer", "3", "--row", "40", "--height", "2", "--row", "7"} << "h2 r40 r7 l3";
    QTest::newRow("row 0 and the first layer") << QStringList{"--row", "0", "--layer", "1"} << "r0 l1";
    QTest::newRow("a hollow") << QStringList{"--hollow", "2"} << "k2";
    QTest::newRow("hollows read after the other positions")
        << QStringList{"--hollow", "1", "--row", "7", "--hollow", "3"} << "r7 k1 k3";
    // Times in seconds, in each form the help names, mixed with heights; read after rows and layers.
    QTest::newRow("a time in seconds") << QStringList{"--time", "5400"} << "t5400";
    QTest::newRow("hours and minutes") << QStringList{"--time", "1h30m"} << "t5400";
    QTest::newRow("minutes") << QStringList{"--time=90m"} << "t5400";
    QTest::newRow("a clock") << QStringList{"--time", "1:30:00"} << "t5400";
    QTest::newRow("times mixed with a height")
        << QStringList{"--time", "10m", "--height", "2", "--time", "1h"} << "h2 t600 t3600";
}

void TestCommandLine::positions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, positions);
    CommandLine commandLine;
    const CommandLine::Parsed parsed = commandLine.parse(QStringList{"EditorForBorvane5"} + arguments +
                                                         QStringList{"--pause", "part.gcode"});
    QCOMPARE(parsed.mode, CommandLine::Mode::Edit);
    QStringList read;
    for (const Batch::Position& position : parsed.request.positions) {
        switch (position.by) {
        case By::Height:
            read << u'h' + QString::number(position.height);
            break;
        case By::Row:
            read << u'r' + QString::number(position.number);
            break;
        case By::Layer:
            read << u'l' + QString::number(position.number);
            break;
        case By::Hollow:
            read << u'k' + QString::number(position.number);
            break;
        case By::Time:
            read << u't' + QString::number(position.seconds);
            break;
        }
    }
    QCOMPARE(read.join(u' '), positions);
}

void TestCommandLine::filesAndSwitches_data()
{
    QTest::addColumn<QStringList>("arguments"); // after "--row 4 --pause"
    QTest::addColumn<QString>("file");          // relative to the working folder, or "-"
    QTest::addColumn<QString>("output");        // the same; empty for the default
    QTest::addColumn<QString>("switches");      // of in-place, dry-run, json, force, after, remove-header
    QTest::newRow("a file") << QStringList{"part.gcode"} << "part.gcode"
                            << ""
                            << "";
    QTest::newRow("an output beside it") << QStringList{"-o", "out/x.gx", "part.gcode"} << "part.gcode"
                                         << "out/x.gx"
                                         << "";
    QTest::newRow("standard input to standard output") << QStringList{"-o", "-", "-"} << "-"
                                                       << "-"
                                                       << "";
    QTest::newRow("standard input to a file") << QStringList{"--output=x.gx", "-"} << "-"
                                              << "x.gx"
                                              << "";
    QTest::newRow("every switch") << QStringList{"--in-place", "--dry-run",       "--json", "--force",
                                                 "--after",    "--remove-header", "p.gcode"}
                                  << "p.gcode"
                                  << ""
                                  << "in-place dry-run json force after remove-header";
}

void TestCommandLine::filesAndSwitches()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);
    QFETCH(QString, output);
    QFETCH(QString, switches);
    CommandLine commandLine;
    const CommandLine::Parsed parsed =
        commandLine.parse(QStringList{"EditorForBorvane5", "--row", "4", "--pause"} + arguments);
    QCOMPARE(parsed.mode, CommandLine::Mode::Edit);
    const Batch::Request& request = parsed.request;
    // A path is taken from the working folder, as any command-line tool takes it; "-" stays "-".
    const auto absolute = [](const QString& path) {
        return path.isEmpty() || path == QStringLiteral("-")
                   ? path
                   : QDir::toNativeSeparators(QDir::current().absoluteFilePath(path));
    };
    QCOMPARE(request.file, absolute(file));
    QCOMPARE(request.output, absolute(output));
    QStringList set;
    const std::pair<bool, const char*> flags[] = {
        {request.inPlace, "in-place"}, {request.dryRun, "dry-run"}, {parsed.json, "json"},
        {request.force, "force"},      {request.after, "after"},    {request.removeHeader, "remove-header"}};
    for (const auto& [on, name] : flags) {
        if (on)
            set << QString::fromLatin1(name);
    }
    QCOMPARE(set.join(u' '), switches);
    QVERIFY(request.pause);
    QCOMPARE(request.positions.size(), 1);
}

void TestCommandLine::parts_data()
{
    QTest::addColumn<QStringList>("arguments"); // before "--pause part.gcode"
    QTest::addColumn<QString>("parts");         // as read, or "refused"
    QTest::newRow("none: every part") << QStringList{"--height", "5"} << "";
    QTest::newRow("two, in the order given") << QStringList{"--part", "4", "--height", "5", "--part", "2"} << "4 2";
    QTest::newRow("with a layer") << QStringList{"--layer", "3", "--part=1"} << "1";
    QTest::newRow("part 0") << QStringList{"--height", "5", "--part", "0"} << "refused";
    QTest::newRow("not a number") << QStringList{"--height", "5", "--part", "two"} << "refused";
    QTest::newRow("with rows only, where it chooses nothing") << QStringList{"--row", "4", "--part", "2"}
                                                              << "refused";
}

void TestCommandLine::parts()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, parts);
    CommandLine commandLine;
    const CommandLine::Parsed parsed =
        commandLine.parse(QStringList{"EditorForBorvane5"} + arguments + QStringList{"--pause", "part.gcode"});
    if (parts == u"refused") {
        QCOMPARE(parsed.mode, CommandLine::Mode::Refused);
        QVERIFY(parsed.reason.contains(QStringLiteral("--part")));
        return;
    }
    QCOMPARE(parsed.mode, CommandLine::Mode::Edit);
    QStringList read;
    for (const int part : parsed.request.parts)
        read << QString::number(part);
    QCOMPARE(read.join(u' '), parts);
}

void TestCommandLine::plate_data()
{
    QTest::addColumn<QStringList>("arguments"); // before "part.gcode.3mf"
    QTest::addColumn<int>("plate");             // as read, 0 for refused
    QTest::newRow("none: plate 1") << QStringList{"--row", "4", "--pause"} << 1;
    QTest::newRow("plate 2") << QStringList{"--row", "4", "--pause", "--plate", "2"} << 2;
    QTest::newRow("with --list-hollows") << QStringList{"--list-hollows", "--plate=3"} << 3;
    QTest::newRow("plate 0") << QStringList{"--row", "4", "--pause", "--plate", "0"} << 0;
    QTest::newRow("not a number") << QStringList{"--row", "4", "--pause", "--plate", "two"} << 0;
}

void TestCommandLine::plate()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, plate);
    CommandLine commandLine;
    const CommandLine::Parsed parsed =
        commandLine.parse(QStringList{"EditorForBorvane5"} + arguments + QStringList{"part.gcode.3mf"});
    if (plate == 0) {
        QCOMPARE(parsed.mode, CommandLine::Mode::Refused);
        QVERIFY(parsed.reason.contains(QStringLiteral("--plate")));
        return;
    }
    QCOMPARE(parsed.mode, CommandLine::Mode::Edit);
    QCOMPARE(parsed.request.plate, plate);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
