// When: the time into the print at a row. Durations as people type them; the planner on small
// moves whose time follows from the kinematics of a trapezoid (worked out by hand in each row); the
// slicer's own figures on the real files, read back from the files by a plain scan here; the
// program's estimate against the slicers that plan with acceleration, and never below the moves
// timed at their own feed rates; the message a pause shows, and what it refuses.

#include "core/printer/PauseMessage.h"
#include "core/machine/PrintTimes.h"

#include "TestPaths.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <cmath>
#include <optional>

namespace {

QByteArray readFixture(const QString& name)
{
    QFile file(QStringLiteral(BORVANE_REAL_FIXTURES_DIR "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A file split as the program splits it: the header through the second LF, then the body.
struct Split
{
    QByteArray header;
    QByteArray body;
};

Split split(const QByteArray& file)
{
    const qsizetype first = file.indexOf('\n');
    const qsizetype second = first < 0 ? -1 : file.indexOf('\n', first + 1);
    if (second < 0)
        return {file, {}};
    return {file.left(second + 1), file.mid(second + 1)};
}

PrintTimes timesOf(const QByteArray& header, const QByteArray& body, const MotionLimits& limits = {})
{
    return PrintTimes::compute({header.constData(), std::size_t(header.size())},
                               {body.constData(), std::size_t(body.size())}, limits);
}

// A row of the body as a plain scan finds it: its start and its text.
struct Row
{
    std::size_t offset;
    QByteArray text;
};

QList<Row> rowsOf(const QByteArray& body)
{
    QList<Row> rows;
    qsizetype start = 0;
    while (start < body.size()) {
        qsizetype end = body.indexOf('\n', start);
        if (end < 0)
            end = body.size();
        QByteArray text = body.mid(start, end - start);
        if (text.endsWith('\r'))
            text.chop(1);
        rows.append({std::size_t(start), text});
        start = end + 1;
    }
    return rows;
}

// The slicer's time into the print at each of its marks, read from the file here: Cura's
// ";TIME_ELAPSED:" (to the second), and "M73 P.. R.." against the total in words (to the minute).
struct Expected
{
    std::size_t offset;
    double seconds;
    double resolution;
    int percent = -1; // M73's P
};

std::optional<double> prusaTotal(const QByteArray& file)
{
    static const QRegularExpression total(
        QStringLiteral("(?:estimated printing time \\(normal mode\\) =|total estimated time:) "
                       "(?:(\\d+)d )?(?:(\\d+)h )?(?:(\\d+)m )?(\\d+)s"));
    const QRegularExpressionMatch m = total.match(QString::fromLatin1(file));
    if (!m.hasMatch())
        return std::nullopt;
    return m.captured(1).toDouble() * 86400 + m.captured(2).toDouble() * 3600 + m.captured(3).toDouble() * 60 +
           m.captured(4).toDouble();
}

QList<Expected> slicerMarks(const QByteArray& file, const QByteArray& body)
{
    QList<Expected> marks;
    const std::optional<double> total = prusaTotal(file);
    static const QRegularExpression m73(QStringLiteral("^M73 P(\\d+) R(\\d+)"));
    for (const Row& row : rowsOf(body)) {
        if (row.text.startsWith(";TIME_ELAPSED:")) {
            marks.append({row.offset, row.text.mid(14).toDouble(), 1.0});
        } else if (total) {
            const QRegularExpressionMatch m = m73.match(QString::fromLatin1(row.text));
            if (m.hasMatch())
                marks.append({row.offset, *total - m.captured(2).toDouble() * 60, 60.0, m.captured(1).toInt()});
        }
    }
    return marks;
}

} // namespace

class TestPrintTimes : public QObject
{
    Q_OBJECT

private slots:
    void durations_data();
    void durations();
    void planner_data();
    void planner();
    void slicerFigures_data();
    void slicerFigures();
    void estimateAgainstSlicers_data();
    void estimateAgainstSlicers();
    void neverBelowFeedRates_data();
    void neverBelowFeedRates();
    void messages_data();
    void messages();
    void messageGoesBeforeThePause_data();
    void messageGoesBeforeThePause();
};

void TestPrintTimes::durations_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("seconds"); // below 0: refused
    QTest::newRow("seconds") << "5400" << 5400.0;
    QTest::newRow("minutes") << "90m" << 5400.0;
    QTest::newRow("hours and minutes") << "1h30m" << 5400.0;
    QTest::newRow("blanks between") << "1h 30m 5s" << 5405.0;
    QTest::newRow("clock") << "1:30:00" << 5400.0;
    QTest::newRow("minutes and seconds") << "90:30" << 5430.0;
    QTest::newRow("fraction") << "2.5 minutes" << 150.0;
    QTest::newRow("words") << "1 hour 31 minutes" << 5460.0;
    QTest::newRow("plural hours") << "0 hours 20 minutes" << 1200.0;
    QTest::newRow("days") << "1d 2h 3m 4s" << 93784.0;
    QTest::newRow("capitals") << "1H30M" << 5400.0;
    QTest::newRow("empty") << "" << -1.0;
    QTest::newRow("no number") << "h" << -1.0;
    QTest::newRow("unknown unit") << "5 weeks" << -1.0;
    QTest::newRow("negative") << "-5" << -1.0;
    QTest::newRow("bare number among units") << "1h 30" << -1.0;
    QTest::newRow("minutes of 60") << "1:60:00" << -1.0;
    QTest::newRow("four fields") << "1:2:3:4" << -1.0;
    QTest::newRow("fraction of an hour on a clock") << "1.5:00" << -1.0;
    QTest::newRow("two points") << "1.2.3" << -1.0;
}

void TestPrintTimes::durations()
{
    QFETCH(QString, text);
    QFETCH(double, seconds);
    const QByteArray bytes = text.toUtf8();
    const std::optional<double> parsed = parseDuration({bytes.constData(), std::size_t(bytes.size())});
    if (seconds < 0) {
        QVERIFY2(!parsed, qPrintable(QString::number(parsed.value_or(0))));
    } else {
        QVERIFY(parsed);
        QCOMPARE(*parsed, seconds);
    }
}

void TestPrintTimes::planner_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<double>("seconds");
    // Limits that leave acceleration alone to shape the speed: jerk 0 starts and ends each move at
    // rest, the axes' own limits far above.
    const QByteArray limits = "M201 X100000 Y100000 Z100000 E100000\nM203 X1000 Y1000 Z1000 E1000\n"
                              "M204 P1000 R1000 T1000\nM205 X0 Y0 Z0 E0\nG1 X0 Y0 Z0 F6000\n";
    // 100 mm at 100 mm/s, 1000 mm/s²: 0.1 s and 5 mm up, 0.1 s and 5 mm down, 90 mm at 100 mm/s.
    QTest::newRow("one move") << limits + "G1 X100\n" << 1.1;
    // A dwell waits for the move to end and adds its own time: P in ms, S in s.
    QTest::newRow("dwell P") << limits + "G1 X100\nG4 P500\n" << 1.6;
    QTest::newRow("dwell S") << limits + "G4 S2\n" << 2.0;
    // M220 S50: 50 mm/s; 0.05 s and 1.25 mm up and down, 97.5 mm at 50 mm/s.
    QTest::newRow("feed percentage") << limits + "M220 S50\nG1 X100\n" << 2.05;
    // Too short to reach the speed: 2 mm, a triangle to sqrt(1000 * 2) = 44.7 mm/s and back.
    QTest::newRow("no cruise") << limits + "G1 X2\n" << 2 * std::sqrt(2000.0) / 1000;
    // M203 caps X at 20 mm/s: 0.02 s and 0.2 mm each way, 99.6 mm at 20 mm/s.
    QTest::newRow("axis feed limit") << limits + "M203 X20\nG1 X100\n" << 0.04 + 99.6 / 20;
    // Klipper's ACCEL=500: 0.2 s and 10 mm each way, 80 mm at 100 mm/s; its square corner velocity
    // then shapes corners only.
    QTest::newRow("Klipper acceleration") << limits + "SET_VELOCITY_LIMIT ACCEL=500\nG1 X100\n" << 1.2;
    // The travel acceleration for a move without E, the printing one with E.
    QTest::newRow("travel acceleration") << limits + "M204 T500\nG1 X100\n" << 1.2;
    QTest::newRow("printing acceleration") << limits + "M204 P500\nG1 X100 E5\n" << 1.2;
    // Two moves on one line plan as one: the junction keeps the speed whatever the jerk.
    QTest::newRow("straight junction") << limits + "G1 X50\nG1 X100\n" << 1.1;
    // Junction deviation (M205 J) on a straight line: the same.
    QTest::newRow("straight junction, deviation") << limits + "M205 J0.02\nG1 X50\nG1 X100\n" << 1.1;
    // A half circle of radius 10 at 1 mm/s: its length, 31.416 mm, nearly all at speed.
    QTest::newRow("arc by its length") << limits + "G1 X10 F60\nG2 X-10 I-10 J0\n"
                                       << 10.0 + 0.001 + 3.14159265 * 10 + 0.001;
    // A reversal with jerk 0: each leg from rest to rest.
    QTest::newRow("reversal") << limits + "G1 X100\nG1 X0\n" << 2.2;
    // M205 X: a start and end at up to 10 mm/s (the jerk), then 1000 mm/s² to 100 mm/s:
    // 0.09 s and 4.95 mm each way, 90.1 mm at 100 mm/s.
    QTest::newRow("jerk start") << limits + "M205 X10\nG1 X100\n" << 0.18 + 90.1 / 100;
}

void TestPrintTimes::planner()
{
    QFETCH(QByteArray, body);
    QFETCH(double, seconds);
    const PrintTimes times = timesOf({}, body);
    QVERIFY2(std::abs(times.estimateTotal() - seconds) < 0.002,
             qPrintable(QStringLiteral("%1 s, expected %2 s").arg(times.estimateTotal()).arg(seconds)));
    QCOMPARE(times.source(), PrintTimes::Source::Estimate);
    QVERIFY(times.estimateTotal() + 1e-9 >= times.feedRateTotal());
}

void TestPrintTimes::slicerFigures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("total"); // from the file's own total, in its words
    QTest::newRow("Cura 4.5") << "cura_basic_256k.gcode" << 1010.0;
    QTest::newRow("Cura 3.6") << "cura_utf8-mesh-name_320k.gcode" << 1144.0;
    QTest::newRow("Cura LulzBot") << "cura-lulzbot_small_79k.gcode" << 535.0;
    QTest::newRow("PrusaSlicer 2.7") << "prusaslicer_z-hop-large_3939k.gcode" << 4561.0;
    QTest::newRow("PrusaSlicer 2.2") << "prusaslicer_utf8-comments-thumbnail_3306k.gcode" << 3877.0;
    QTest::newRow("Bambu Studio") << "bambustudio_multicolor-t0-t3-z-hop_3222k.gcode" << 3962.0;
    QTest::newRow("PrusaSlicer vase, total only") << "prusaslicer_spiral-vase-blank-lines_306k.gcode" << 4000.0;
    QTest::newRow("Simplify3D") << "simplify3d_dual-extruder-t0-t1_2352k.gcode" << 5460.0;
    QTest::newRow("Simplify3D 3.0") << "simplify3d_latin1-non-utf8_284k.gcode" << 1200.0;
    QTest::newRow("Simplify3D vase") << "simplify3d_spiral-vase-crlf_3452k.gcode" << 13500.0;
    QTest::newRow("ideaMaker") << "ideamaker_basic_747k.gcode" << 811.0;
    QTest::newRow("KISSlicer") << "kisslicer_crlf-small_22k.gcode" << 150.0;
    QTest::newRow("Slic3r 0.9, none") << "slic3r_small_16k.gcode" << 0.0;
}

void TestPrintTimes::slicerFigures()
{
    QFETCH(QString, file);
    QFETCH(double, total);
    const QByteArray bytes = readFixture(file);
    if (bytes.isEmpty())
        QSKIP("the shared real fixtures are not beside the repository");
    const Split parts = split(bytes);
    const PrintTimes times = timesOf(parts.header, parts.body);
    if (total == 0.0) {
        QCOMPARE(times.source(), PrintTimes::Source::Estimate);
        return;
    }
    QCOMPARE(times.source(), PrintTimes::Source::Slicer);
    if (total > 0)
        QCOMPARE(times.total(), total);
    // Every mark of the file, and the rows between them, within the mark's resolution.
    const QList<Expected> marks = slicerMarks(bytes, parts.body);
    for (const Expected& mark : marks) {
        const double at = times.at(mark.offset);
        QVERIFY2(std::abs(at - mark.seconds) <= mark.resolution,
                 qPrintable(QStringLiteral("at byte %1: %2 s, the file says %3 s").arg(mark.offset).arg(at).arg(mark.seconds)));
    }
    // Times never fall as the rows go on.
    double last = 0.0;
    for (const Row& row : rowsOf(parts.body)) {
        const double at = times.at(row.offset);
        QVERIFY2(at + 1e-9 >= last, qPrintable(QStringLiteral("at byte %1: %2 s after %3 s").arg(row.offset).arg(at).arg(last)));
        last = at;
    }
    // The estimate, asked for, is the estimate.
    QCOMPARE(times.source(true), PrintTimes::Source::Estimate);
    QCOMPARE(times.total(true), times.estimateTotal());
}

void TestPrintTimes::estimateAgainstSlicers_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("printer");
    QTest::newRow("PrusaSlicer 2.7") << "prusaslicer_z-hop-large_3939k.gcode" << "prusa";
    QTest::newRow("PrusaSlicer 2.2") << "prusaslicer_utf8-comments-thumbnail_3306k.gcode" << "prusa";
    QTest::newRow("PrusaSlicer vase") << "prusaslicer_spiral-vase-blank-lines_306k.gcode" << "prusa";
    QTest::newRow("Bambu Studio") << "bambustudio_multicolor-t0-t3-z-hop_3222k.gcode" << "marlin";
}

// Within 5 % of the slicer's figure at each quarter of the print (where its M73 P first reaches
// 25, 50 and 75) and for the whole.
void TestPrintTimes::estimateAgainstSlicers()
{
    QFETCH(QString, file);
    QFETCH(QString, printer);
    const QByteArray bytes = readFixture(file);
    if (bytes.isEmpty())
        QSKIP("the shared real fixtures are not beside the repository");
    const Split parts = split(bytes);
    const PrintTimes times = timesOf(parts.header, parts.body, MotionLimits::forFirmware(printer));
    const std::optional<double> total = prusaTotal(bytes);
    QVERIFY(total);
    const QList<Expected> marks = slicerMarks(bytes, parts.body);
    QStringList figures;
    bool within = true;
    for (const int quarter : {25, 50, 75}) {
        const auto reached = std::find_if(marks.begin(), marks.end(),
                                          [quarter](const Expected& m) { return m.percent >= quarter; });
        if (reached == marks.end())
            continue;
        const double estimate = times.estimateAt(reached->offset);
        const double deviation = (estimate - reached->seconds) / reached->seconds;
        figures.append(QStringLiteral("%1 %: %2 s of %3 s (%4 %)")
                           .arg(quarter)
                           .arg(estimate, 0, 'f', 0)
                           .arg(reached->seconds, 0, 'f', 0)
                           .arg(100 * deviation, 0, 'f', 1));
        within = within && std::abs(estimate - reached->seconds) <= 0.05 * reached->seconds + reached->resolution;
    }
    const double deviation = (times.estimateTotal() - *total) / *total;
    figures.append(QStringLiteral("total: %1 s of %2 s (%3 %)")
                       .arg(times.estimateTotal(), 0, 'f', 0)
                       .arg(*total, 0, 'f', 0)
                       .arg(100 * deviation, 0, 'f', 1));
    within = within && std::abs(deviation) <= 0.05;
    qInfo("%s: %s", qPrintable(file), qPrintable(figures.join(QStringLiteral("; "))));
    QVERIFY2(within, qPrintable(figures.join(QStringLiteral("; "))));
}

void TestPrintTimes::neverBelowFeedRates_data()
{
    QTest::addColumn<QString>("file");
    const QDir folder(QStringLiteral(BORVANE_REAL_FIXTURES_DIR));
    for (const QString& name : folder.entryList({QStringLiteral("*.gcode")}, QDir::Files, QDir::Name))
        QTest::newRow(qPrintable(name)) << name;
}

// No planner is faster than the moves at their own feed rates: a plain sum over the rows here.
void TestPrintTimes::neverBelowFeedRates()
{
    QFETCH(QString, file);
    const QByteArray bytes = readFixture(file);
    const Split parts = split(bytes);
    const PrintTimes times = timesOf(parts.header, parts.body, MotionLimits::forFirmware(QStringLiteral("marlin")));
    QVERIFY(times.feedRateTotal() > 0);
    QVERIFY2(times.estimateTotal() >= times.feedRateTotal(),
             qPrintable(QStringLiteral("%1 s below %2 s").arg(times.estimateTotal()).arg(times.feedRateTotal())));
    QString slicer;
    if (times.slicerTotal())
        slicer = QStringLiteral(", the slicer's %1 s (%2 %)")
                     .arg(*times.slicerTotal(), 0, 'f', 0)
                     .arg(100 * (times.estimateTotal() - *times.slicerTotal()) / *times.slicerTotal(), 0, 'f', 1);
    qInfo("%s: estimate %.0f s, at feed rates %.0f s%s", qPrintable(file), times.estimateTotal(),
          times.feedRateTotal(), qPrintable(slicer));
}

void TestPrintTimes::messages_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("why"); // a word of the refusal; empty: taken
    QTest::newRow("plain") << "Insert the magnets" << "";
    QTest::newRow("digits and signs") << "Change to PLA #2 (red) - 45%" << "";
    QTest::newRow("empty") << "" << "empty";
    QTest::newRow("blanks") << "   " << "empty";
    QTest::newRow("line break") << "Insert\nmagnets" << "line break";
    QTest::newRow("carriage return") << "Insert\rmagnets" << "line break";
    QTest::newRow("semicolon") << "Insert; then resume" << "comment";
    QTest::newRow("asterisk") << "Insert * magnets" << "checksum";
    QTest::newRow("accent") << QString::fromUtf8("Aimants à insérer") << "ASCII";
    QTest::newRow("tab") << "Insert\tmagnets" << "ASCII";
}

void TestPrintTimes::messages()
{
    QFETCH(QString, message);
    QFETCH(QString, why);
    const QString problem = PauseMessage::problem(message);
    if (why.isEmpty())
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    else
        QVERIFY2(problem.contains(why), qPrintable(problem));
}

void TestPrintTimes::messageGoesBeforeThePause_data()
{
    QTest::addColumn<QStringList>("block");
    QTest::addColumn<QString>("pauseLine");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("expected");

    const QStringList park = {"G91", "G1 Z10 F600", "G90", "PAUSE_LINE", "G1 Z-10", "M82"};
    // The block with the pause line's place taken by the lines at.
    const auto parked = [&](const QStringList& at) {
        QStringList lines = park;
        lines.removeAt(3);
        for (qsizetype i = 0; i < at.size(); ++i)
            lines.insert(3 + i, at[i]);
        return lines;
    };
    const auto with = [&](const QString& pause) {
        QStringList lines = park;
        lines[3] = pause;
        return lines;
    };
    // M0/M1 show their own text while they wait (Marlin's M0_M1.cpp: the status becomes the
    // command's text, or "Click to resume"), which would hide an M117 set before them.
    QTest::newRow("Marlin M0 with a text of its own") << with("M0 Click to resume") << "M0 Click to resume"
                                                      << "Insert the magnets"
                                                      << parked({"M0 Insert the magnets"});
    QTest::newRow("bare M1") << with("M1") << "M1" << "Go" << parked({"M1 Go"});
    QTest::newRow("lower case m0, spelling kept") << with("m0 wait") << "m0 wait" << "Go" << parked({"m0 Go"});
    QTest::newRow("M600 keeps the screen: M117 before it")
        << with("M600") << "M600" << "Insert the magnets" << parked({"M117 Insert the magnets", "M600"});
    QTest::newRow("M25") << QStringList{"M25"} << "M25" << "Go" << QStringList{"M117 Go", "M25"};
    QTest::newRow("M01 is not M10") << QStringList{"M10"} << "M10" << "Go" << QStringList{"M117 Go", "M10"};
    QTest::newRow("no message") << with("M0 Click to resume") << "M0 Click to resume" << ""
                                << with("M0 Click to resume");
}

void TestPrintTimes::messageGoesBeforeThePause()
{
    QFETCH(QStringList, block);
    QFETCH(QString, pauseLine);
    QFETCH(QString, message);
    QFETCH(QStringList, expected);
    const QStringList lines = PauseMessage::withMessage(block, pauseLine, message);
    QCOMPARE(lines, expected);
    // The block's pause line is still found where it now stands (the block is marked there).
    const QString command = pauseLine.section(u' ', 0, 0);
    qsizetype expectedAt = -1;
    for (qsizetype i = 0; i < expected.size() && expectedAt < 0; ++i)
        if (expected[i].section(u' ', 0, 0) == command)
            expectedAt = i;
    QCOMPARE(PauseMessage::pauseLineAt(lines, pauseLine), expectedAt);
}

QTEST_GUILESS_MAIN(TestPrintTimes)
#include "tst_printtimes.moc"
