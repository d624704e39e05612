// The print model follows typed edits, undo and redo on the rows they touch; whatever it holds
// afterwards must be what a pass over the whole text finds (LayerIndex::build and
// PrintEvents::findEvents over the editor's bytes).

#include "core/layers/LayerIndex.h"
#include "core/gcode/PrintEvents.h"
#include "gui/EditBuffer.h"
#include "gui/EditorPrint.h"

#include <QTest>

namespace {

// Three layers (0.2, 0.4, 0.6), a lift undone before extruding, a temperature, a pause and
// comments between the moves.
const char* const kBody = "G90\n"
                          "M82\n"
                          "G1 Z0.2 F600 ; first layer\n"
                          "G1 X10 Y10 E1\n"
                          "M104 S210\n"
                          "G1 X20 Y10 E2 ; wall\n"
                          "G1 Z0.4\n"
                          "; layer 2\n"
                          "G1 X20 Y20 E3\n"
                          "G1 Z1.4\n"
                          "G1 Z0.6\n"
                          "M0\n"
                          "G1 X10 Y20 E4\n"
                          "G1 X10 Y10 E5\n"
                          "M140 S60\n";

bool sameLayers(const LayerIndex& a, const LayerIndex& b)
{
    const auto& x = a.layers();
    const auto& y = b.layers();
    return x.size() == y.size() &&
           std::equal(x.begin(), x.end(), y.begin(), [](const Layer& l, const Layer& r) {
               return l.row == r.row && l.nanometres == r.nanometres;
           });
}

bool sameEvents(const std::vector<PrintEvents::Event>& a, const std::vector<PrintEvents::Event>& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](const PrintEvents::Event& l, const PrintEvents::Event& r) {
                                                  return l.row == r.row && l.command.kind == r.command.kind &&
                                                         l.command.heater == r.command.heater &&
                                                         l.command.value == r.command.value;
                                              });
}

} // namespace

class TestPrintModel : public QObject
{
    Q_OBJECT

private slots:
    void followsTypingAndUndo_data();
    void followsTypingAndUndo();
};

void TestPrintModel::followsTypingAndUndo_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column"); // -1: the end of the row
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("backspaces"); // pressed before typing

    QTest::newRow("comment typed") << 7 << -1 << "abc" << 0;
    QTest::newRow("X digit of a move") << 3 << 4 << "5" << 0;
    QTest::newRow("comment after a move") << 5 << -1 << " more" << 0;
    QTest::newRow("Z of a layer row changed") << 6 << 7 << "5" << 0;
    QTest::newRow("Z of the lift lowered below the layer") << 9 << 5 << "" << 1;
    QTest::newRow("rows split above a layer") << 1 << -1 << "\n\n" << 0;
    QTest::newRow("row break taken out before a layer row") << 6 << 0 << "" << 1;
    QTest::newRow("blank rows typed in front of a layer row") << 6 << 0 << "\n\n" << 0;
    QTest::newRow("move typed as a new row") << 4 << -1 << "\nG1 Z0.3 X5 E1.5" << 0;
    QTest::newRow("temperature typed as a new row") << 7 << -1 << "\nM109 S200" << 0;
    QTest::newRow("pause made a temperature") << 11 << 2 << "04 S5" << 1;
    QTest::newRow("relative extrusion typed over M82") << 1 << -1 << "3" << 1;
}

void TestPrintModel::followsTypingAndUndo()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(int, backspaces);

    EditBuffer memo;
    memo.setText(QString::fromLatin1(kBody));
    memo.SendScintilla(QsciScintillaBase::SCI_EMPTYUNDOBUFFER);
    memo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&memo));
    EditorPrint model(memo);
    const auto check = [&](const char* when) {
        const LayerIndex reference = LayerIndex::build(memo.bytes());
        QVERIFY2(!reference.isEmpty(), when);
        QVERIFY2(sameLayers(model.layers(), reference), when);
        QVERIFY2(sameEvents(model.events(), PrintEvents::findEvents(memo)), when);
    };
    check("loaded");
    const QByteArray before = memo.text().toLatin1();

    memo.setFocus();
    memo.PlaceCaretAtRow(row);
    if (column < 0)
        QTest::keyClick(&memo, Qt::Key_End);
    else
        memo.setSelectionStart(memo.rowStart(row) + column);
    for (int i = 0; i < backspaces; ++i) {
        QTest::keyClick(&memo, Qt::Key_Backspace);
        check("after a backspace");
        if (QTest::currentTestFailed())
            return;
    }
    for (const QChar c : typed) {
        if (c == QLatin1Char('\n'))
            QTest::keyClick(&memo, Qt::Key_Return);
        else
            QTest::keyClicks(&memo, QString(c));
        check("after a typed key");
        if (QTest::currentTestFailed())
            return;
    }
    QVERIFY(memo.text().toLatin1() != before);

    while (memo.isUndoAvailable()) {
        QTest::keyClick(&memo, Qt::Key_Z, Qt::ControlModifier);
        check("after an undo");
        if (QTest::currentTestFailed())
            return;
    }
    QCOMPARE(memo.text().toLatin1(), before);
    while (memo.isRedoAvailable()) {
        QTest::keyClick(&memo, Qt::Key_Y, Qt::ControlModifier);
        check("after a redo");
    }
    QVERIFY(memo.text().toLatin1() != before);
}

QTEST_MAIN(TestPrintModel)
#include "tst_printmodel.moc"
