// The print model told of a sequence of changes (pauses and command lines inserted, typed rows,
// rows pasted over or taken out, undo and redo, as an editor tells of them: each removal and
// insertion before it is made) must answer every question as a model built fresh from the
// resulting text does: a pass over the whole text is the reference. The texts are PrusaSlicer's
// (tests/fixtures/sliced/README.md), so that the layers, pauses, moves and hollows are a real
// slicer's: a box with a closed cavity, and a cylinder long enough (470 kB) that the machine's
// checkpoints for a pause (one each 256 kB) are more than the one at the start.

#include "TestPaths.h"
#include "core/gcode/PrintEvents.h"
#include "core/layers/HollowFinder.h"
#include "core/layers/LayerIndex.h"
#include "core/print/PrintModel.h"
#include "core/text/RowSource.h"

#include <QFile>
#include <QTest>

#include <memory>
#include <vector>

namespace {

// A text in memory that tells the model of each change before making it, and takes changes back
// and makes them again step by step, as the editor's undo and redo do.
class EditedText : public RowSource
{
public:
    explicit EditedText(QByteArray text) : m_rows(std::make_unique<TextRows>(std::move(text))) {}

    int lineCount() const override { return m_rows->lineCount(); }
    int physicalRowCount() const override { return m_rows->physicalRowCount(); }
    std::string_view bytes() const override { return m_rows->bytes(); }
    qsizetype rowStart(int row) const override { return m_rows->rowStart(row); }
    qsizetype rowEnd(int row) const override { return m_rows->rowEnd(row); }
    int rowAt(qsizetype offset) const override { return m_rows->rowAt(offset); }
    QByteArray text() const { return QByteArray(bytes().data(), qsizetype(bytes().size())); }

    void tell(PrintModel* model) { m_model = model; }

    // One step: the bytes from position for length replaced by inserted.
    void replace(qsizetype position, qsizetype length, const QByteArray& inserted,
                 std::optional<PrintModel::InsertedRows> expected = std::nullopt)
    {
        Change change{position, text().mid(position, length), inserted};
        apply(change, expected);
        m_done.push_back(change);
        m_undone.clear();
    }
    bool undo()
    {
        if (m_done.empty())
            return false;
        const Change change = m_done.back();
        m_done.pop_back();
        apply({change.position, change.inserted, change.removed}, std::nullopt);
        m_undone.push_back(change);
        return true;
    }
    bool redo()
    {
        if (m_undone.empty())
            return false;
        const Change change = m_undone.back();
        m_undone.pop_back();
        apply(change, std::nullopt);
        m_done.push_back(change);
        return true;
    }

private:
    struct Change
    {
        qsizetype position = 0;
        QByteArray removed;
        QByteArray inserted;
    };
    // A removal, then an insertion, each told before it is made.
    void apply(const Change& change, std::optional<PrintModel::InsertedRows> expected)
    {
        QByteArray now = text();
        if (!change.removed.isEmpty()) {
            m_model->aboutToChange(change.position, change.removed.size(), true);
            now.remove(change.position, change.removed.size());
            m_rows = std::make_unique<TextRows>(now);
        }
        if (!change.inserted.isEmpty()) {
            if (expected)
                m_model->expectInsertedRows(*expected);
            m_model->aboutToChange(change.position, change.inserted.size(), false);
            now.insert(change.position, change.inserted);
            m_rows = std::make_unique<TextRows>(now);
        }
    }

    std::unique_ptr<TextRows> m_rows;
    PrintModel* m_model = nullptr;
    std::vector<Change> m_done;
    std::vector<Change> m_undone;
};

QByteArray fixture(const QString& name = QStringLiteral("prusaslicer_cavity-box.gcode"))
{
    QFile file(QStringLiteral(BORVANE_SLICED_FIXTURES_DIR "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A printer that parks: its block depends on the machine's state at the row.
PauseRequest parkingPause()
{
    PrinterProfile printer;
    printer.name = QStringLiteral("marlin");
    printer.title = QStringLiteral("Marlin");
    printer.pauseLine = QStringLiteral("M0");
    printer.parks = true;
    return {printer, printer.defaults, QStringLiteral("Insert the magnets")};
}

// The change row of layer (from 1) in text, by a pass over it.
int layerRow(const EditedText& text, int layer)
{
    return LayerIndex::build(text.bytes()).layers()[std::size_t(layer - 1)].row;
}

QByteArray joined(const QStringList& lines)
{
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLatin1();
}

// The rows the answers are compared at: every layer's change row and the rows around some.
std::vector<int> probeRows(const RowSource& text, const LayerIndex& layers)
{
    std::vector<int> rows;
    for (const Layer& layer : layers.layers())
        rows.push_back(layer.row);
    for (int row = 0; row < text.physicalRowCount(); row += 97)
        rows.push_back(row);
    return rows;
}

QString planText(const PausePlan& plan)
{
    return plan.lines.join(QLatin1Char('|')) + QStringLiteral(" / ") + plan.notes.join(QLatin1Char('|')) +
           QStringLiteral(" / lift %1 keeps %2")
               .arg(plan.restoringLift ? QString::number(*plan.restoringLift, 'g', 17) : QStringLiteral("-"))
               .arg(plan.keepsMachine);
}

} // namespace

class TestPrintChanges : public QObject
{
    Q_OBJECT

private slots:
    void answersAsBuiltFresh_data();
    void answersAsBuiltFresh();
    void timesKeptOnlyForTheirText();
    void hollowsOfAnEarlierTextDropped();
};

void TestPrintChanges::answersAsBuiltFresh_data()
{
    // Steps, one a line: "pause L<layer>" (a parking pause planned by the model at that layer's
    // change row and put in front of it, as the window does), "temp L<layer>" (a command line put
    // in), "type R<row> <text>" (typed at the end of a row), "paste R<row> <count>" (rows pasted
    // over count rows), "remove R<row> <count>", "undo", "redo".
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("hollowsKept"); // no step changes a move that prints
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("hollows"); // what HollowFinder finds in it (see tst_hollowfinder)

    for (const auto& [file, hollows] :
         {std::pair{"prusaslicer_cavity-box.gcode", 1}, std::pair{"prusaslicer_cylinder.gcode", 0}}) {
        QTest::addRow("%s: pause, pause elsewhere, undo, undo, redo", file)
            << QStringList{"pause L20", "pause L5", "undo", "undo", "redo"} << true
            << QString::fromLatin1(file) << hollows;
        QTest::addRow("%s: pause, temperature below it, undo both, redo both", file)
            << QStringList{"pause L30", "temp L35", "undo", "undo", "redo", "redo"} << true
            << QString::fromLatin1(file) << hollows;
        QTest::addRow("%s: pause above a pause, then a pause between", file)
            << QStringList{"pause L40", "pause L10", "pause L25"} << true << QString::fromLatin1(file)
            << hollows;
        QTest::addRow("%s: typed comment, then a pause below it", file)
            << QStringList{"type R40 ; checked", "pause L15"} << true << QString::fromLatin1(file) << hollows;
        QTest::addRow("%s: typed row break above a layer, pause, undo", file)
            << QStringList{"type R30 \nM117 hi", "pause L12", "undo"} << true << QString::fromLatin1(file)
            << hollows;
        QTest::addRow("%s: lift typed after a layer's change, pause after it, undo, pause again", file)
            << QStringList{"type L8 \nG1 Z9", "pause L9", "undo", "pause L9"} << false
            << QString::fromLatin1(file) << hollows;
        QTest::addRow("%s: rows pasted over a layer change, pause, undo, undo, redo", file)
            << QStringList{"paste L18 3", "pause L22", "undo", "undo", "redo"} << false
            << QString::fromLatin1(file) << hollows;
        QTest::addRow("%s: rows taken out, temperature, pause", file)
            << QStringList{"remove R200 5", "temp L3", "pause L4"} << false << QString::fromLatin1(file)
            << hollows;
        QTest::addRow("%s: pause at the second layer, undo, redo, pause at the last", file)
            << QStringList{"pause L2", "undo", "redo", "pause L-1"} << true << QString::fromLatin1(file)
            << hollows;
    }
}

void TestPrintChanges::answersAsBuiltFresh()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, hollowsKept);
    QFETCH(QString, file);
    QFETCH(int, hollows);
    const QByteArray original = fixture(file);
    QVERIFY(!original.isEmpty());
    EditedText text(original);
    PrintModel model(text);
    text.tell(&model);
    model.textReplaced(LayerIndex::build(text.bytes()));
    const std::vector<Hollow> found = HollowFinder::find(text.bytes(), LayerIndex::build(text.bytes()));
    QCOMPARE(int(found.size()), hollows);
    model.setHollows(found, model.textGeneration());
    const PauseRequest request = parkingPause();
    // Every answer asked once at the start, so that each is followed through the steps.
    model.events();
    model.moveCheckpoints();
    model.hollows();
    model.pauseAt(layerRow(text, 2), request);

    for (const QString& step : steps) {
        const QStringList words = step.split(QLatin1Char(' '));
        // "L3": layer 3's change row ("L-1": the top layer's); "R40": row 40.
        const auto rowOf = [&](const QString& word) {
            const int n = word.mid(1).toInt();
            if (!word.startsWith(u'L'))
                return n;
            return layerRow(text, n > 0 ? n : int(LayerIndex::build(text.bytes()).layers().size()) + n + 1);
        };
        if (words[0] == u"pause") {
            const int row = rowOf(words[1]);
            const PausePlan plan = model.pauseAt(row, request);
            // The plan from the followed checkpoints is the plan a fresh model makes.
            PrintModel fresh(text);
            QCOMPARE(planText(plan), planText(fresh.pauseAt(row, request)));
            QVERIFY2(plan.lines.size() > 5, qPrintable(planText(plan))); // a park-and-resume block
            text.replace(text.rowStart(row), 0, joined(plan.lines),
                         PrintModel::InsertedRows{plan.restoringLift, plan.keepsMachine});
        } else if (words[0] == u"temp") {
            const int row = rowOf(words[1]);
            text.replace(text.rowStart(row), 0, "M104 S215\n", PrintModel::InsertedRows{});
        } else if (words[0] == u"type") {
            const int row = rowOf(words[1]);
            QString typed = step.section(QLatin1Char(' '), 2);
            text.replace(text.rowEnd(row), 0,
                         typed.replace(QStringLiteral("\\n"), QStringLiteral("\n")).toLatin1());
        } else if (words[0] == u"paste") {
            const int row = rowOf(words[1]);
            const int count = words[2].toInt();
            text.replace(text.rowStart(row), text.rowStart(row + count) - text.rowStart(row),
                         "G0 X230 Y230 F7800\n; pasted: farther from the print than the home\nG1 Z5.2\nG0 "
                         "X100 Y100\n");
        } else if (words[0] == u"remove") {
            const int row = rowOf(words[1]);
            const int count = words[2].toInt();
            text.replace(text.rowStart(row), text.rowStart(row + count) - text.rowStart(row), {});
        } else if (words[0] == u"undo") {
            QVERIFY(text.undo());
        } else if (words[0] == u"redo") {
            QVERIFY(text.redo());
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
        QVERIFY2(text.text() != original || step == u"undo", qPrintable(step));

        // Every answer against a pass over the text as it is now.
        const LayerIndex layers = LayerIndex::build(text.bytes());
        const LayerSpan want = layers.layers();
        const LayerSpan have = model.layers().layers();
        QCOMPARE(have.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            QCOMPARE(have[i].row, want[i].row);
            QCOMPARE(have[i].nanometres, want[i].nanometres);
        }
        const std::vector<PrintEvents::Event> events = PrintEvents::findEvents(text);
        QCOMPARE(model.events().size(), events.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            QCOMPARE(model.events()[i].row, events[i].row);
            QCOMPARE(int(model.events()[i].command.kind), int(events[i].command.kind));
            QCOMPARE(model.events()[i].command.value, events[i].command.value);
        }
        PrintModel fresh(text);
        const Moves::Checkpoints& moves = model.moveCheckpoints();
        const Moves::Checkpoints& freshMoves = fresh.moveCheckpoints();
        QCOMPARE(moves.extent(), freshMoves.extent());
        for (const int row : probeRows(text, layers)) {
            // The state a reader starts from at row, read on to row: the same position and modes.
            const Moves::Checkpoint& a = moves.before(row);
            const Moves::Checkpoint& b = freshMoves.before(row);
            Moves::MoveReader readerA(model.filamentDiameter(), a.state);
            Moves::MoveReader readerB(fresh.filamentDiameter(), b.state);
            const auto upTo = [&](const Moves::Checkpoint& from) {
                return text.bytes().substr(std::size_t(text.rowStart(from.row)),
                                           std::size_t(text.rowStart(row) - text.rowStart(from.row)));
            };
            readerA.read(upTo(a), a.row, [](const Moves::Move&) {});
            readerB.read(upTo(b), b.row, [](const Moves::Move&) {});
            const Moves::ReaderState& sa = readerA.state();
            const Moves::ReaderState& sb = readerB.state();
            QVERIFY2(sa.x == sb.x && sa.y == sb.y && sa.z == sb.z && sa.e == sb.e &&
                         sa.relativeE == sb.relativeE && sa.relativeXyz == sb.relativeXyz &&
                         sa.layerZ == sb.layerZ,
                     qPrintable(QStringLiteral("%1 at row %2").arg(step).arg(row)));
        }
        for (const int row : {want[1].row, want[want.size() / 2].row, want.back().row})
            QCOMPARE(planText(model.pauseAt(row, request)), planText(fresh.pauseAt(row, request)));
        if (hollowsKept) {
            const std::vector<Hollow> hollows = HollowFinder::find(text.bytes(), layers);
            QCOMPARE(model.hollows().size(), hollows.size());
            for (std::size_t i = 0; i < hollows.size(); ++i) {
                QCOMPARE(model.hollows()[i].roofRow, hollows[i].roofRow);
                QCOMPARE(model.hollows()[i].layer, hollows[i].layer);
                QCOMPARE(model.hollows()[i].row, hollows[i].row);
                QCOMPARE(model.hollows()[i].z, hollows[i].z);
            }
        }
    }
}

// A reading of the times made of an older text is not kept; one of the text as it is, for the
// printer asked, is.
void TestPrintChanges::timesKeptOnlyForTheirText()
{
    EditedText text("G1 Z0.2\nG1 X10 E1\nG1 Z0.4\nG1 X0 E2\n");
    PrintModel model(text);
    text.tell(&model);
    model.textReplaced();
    const QString printer = QStringLiteral("marlin");
    const std::optional<PrintModel::TimesReading> first = model.timesToRead(printer);
    QVERIFY(first);
    QVERIFY(!model.timesToRead(printer)); // one reading at a time
    const QByteArray body = text.text();
    const PrintTimes times = PrintTimes::compute({}, text.bytes(), MotionLimits::forFirmware(printer));
    text.replace(0, 0, "M117 typed meanwhile\n");
    QVERIFY(!model.timesRead(times, *first));
    QVERIFY(!model.times(printer));
    const std::optional<PrintModel::TimesReading> second = model.timesToRead(printer);
    QVERIFY(second);
    QVERIFY(
        model.timesRead(PrintTimes::compute({}, text.bytes(), MotionLimits::forFirmware(printer)), *second));
    QVERIFY(model.times(printer));
    QVERIFY(!model.times(QStringLiteral("klipper"))); // another printer's limits
    QVERIFY(!model.timesToRead(printer));
    text.undo();
    QVERIFY(!model.times(printer));
    QVERIFY(body == text.text());
}

// Hollows found in the file of a text replaced since are not taken; those of the text as
// replaced move with the rows put in before they arrive.
void TestPrintChanges::hollowsOfAnEarlierTextDropped()
{
    const QByteArray original = fixture();
    QVERIFY(!original.isEmpty());
    EditedText text(original);
    PrintModel model(text);
    text.tell(&model);
    model.textReplaced();
    const quint64 first = model.textGeneration();
    const std::vector<Hollow> found = HollowFinder::find(text.bytes(), LayerIndex::build(text.bytes()));
    QCOMPARE(found.size(), std::size_t(1));
    model.textReplaced();
    model.setHollows(found, first);
    QVERIFY(model.hollows().empty());
    // Rows put in above the roof before the search ends: it arrives with the rows of the text as
    // replaced, and is told in the rows of the text as it is.
    text.replace(0, 0, "M117 one\nM117 two\nM117 three\n");
    model.setHollows(found, model.textGeneration());
    QCOMPARE(model.hollows().size(), std::size_t(1));
    QCOMPARE(model.hollows().front().roofRow, found.front().roofRow + 3);
    QCOMPARE(model.hollows().front().row, found.front().row + 3);
    QCOMPARE(model.hollows().front().z, found.front().z);
}

QTEST_GUILESS_MAIN(TestPrintChanges)
#include "tst_printchanges.moc"
