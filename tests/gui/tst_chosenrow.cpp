// After every edit, undo and redo, and every way of choosing a row, the window shows one row (the
// editor's caret, "Row Number", the Z field, the message area) and the next lines go exactly there.
// Checked against the bytes "Create" writes: the input with the pause lines before the input rows
// the test names, worked out from the input itself. Also the marks redo leaves, the undo and redo
// keys wherever the focus is, the question on closing with edits not written, and the file's name.

#include "GuiTestSupport.h"

#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QComboBox>
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <Qsci/qsciscintillabase.h>

#include <memory>
#include <optional>

namespace {

const QByteArray kHeader = ";FLAVOR:Marlin\n;Generated for a test\n";

// 120 rows, each named by a comment ";r<row>" that a keyword search finds; Z lines on rows 37
// (0.3, the print start), 60 (0.5) and 90 (0.7).
QList<QByteArray> inputRows()
{
    QList<QByteArray> rows;
    for (int row = 0; row < 120; ++row) {
        QByteArray text = row == 37   ? "G1 Z0.3 F420"
                          : row == 40 ? ";structure:shell-inner"
                          : row == 60 ? "G1 Z0.5 F420"
                          : row == 90 ? "G1 Z0.7 F420"
                                      : "G1 X10.5 Y20.25 E0.0123";
        rows.append(text + " ;r" + QByteArray::number(row));
    }
    return rows;
}

QByteArray joined(const QList<QByteArray>& rows)
{
    return GuiTest::joinLines(rows);
}

// The Z field's text for an input row: the last Z line at or before it, by a plain scan.
QString zOfInputRow(int row)
{
    const QList<QByteArray> rows = inputRows();
    for (int r = row; r >= 0; --r) {
        const QByteArray& text = rows[r];
        if (text.startsWith("G1 Z"))
            return QString::number(text.mid(4, text.indexOf(' ', 4) - 4).toDouble(), 'f', 3);
    }
    return QString();
}

} // namespace

class TestChosenRow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void undoRedoThenChooseThenInsert_data();
    void undoRedoThenChooseThenInsert();
    void redoMarksOnlyTheLinesItPutBack();
    void undoInTheRowNumberField();
    void rowNumberJumpShowsTheRow();
    void closingWithUnwrittenEdits_data();
    void closingWithUnwrittenEdits();
    void fileNameShown();

private:
    QString inputPath() const { return m_dir.filePath(QStringLiteral("part.gcode")); }
    QString outputPath() const { return m_dir.filePath(QStringLiteral("out.gcode")); }
    void goToRow(int row);
    void clickRow(int row);
    void pause() { QTest::mouseClick(m_window->btnPause, Qt::LeftButton); }
    void key(QWidget* target, const QString& keys);
    // The window shows one row: the caret's, "Row Number"'s and the current row agree.
    void checkOneRowShown(const char* step);
    QByteArray create();

    QTemporaryDir m_dir;
    std::unique_ptr<TEditorForBorvane5_Form1> m_window;
    std::unique_ptr<GuiTest::MessageBoxAnswers> m_boxes;
};

void TestChosenRow::init()
{
    QVERIFY(m_dir.isValid());
    m_window = std::make_unique<TEditorForBorvane5_Form1>();
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    m_boxes = std::make_unique<GuiTest::MessageBoxAnswers>();
    QFile::remove(outputPath());
    QVERIFY(GuiTest::writeFile(inputPath(), kHeader + joined(inputRows())));
    QVERIFY(GuiTest::dropFile(m_window.get(), inputPath()));
    QCOMPARE(m_window->StartRow, 37);
    m_window->leditFileName->setText(QStringLiteral("out.gcode"));
}

void TestChosenRow::cleanup()
{
    m_boxes.reset();
    m_window.reset();
}

void TestChosenRow::goToRow(int row)
{
    m_window->lbleRow->setFocus();
    QTest::keyClick(m_window->lbleRow, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(m_window->lbleRow, QString::number(row));
    QTest::keyClick(m_window->lbleRow, Qt::Key_Return);
}

void TestChosenRow::clickRow(int row)
{
    EditBuffer* memo = m_window->Memo1;
    memo->SendScintilla(QsciScintillaBase::SCI_SETFIRSTVISIBLELINE, long(qMax(0, row - 3)));
    const long position = memo->SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE, long(row));
    const int x = int(memo->SendScintilla(QsciScintillaBase::SCI_POINTXFROMPOSITION, 0UL, position));
    const int y = int(memo->SendScintilla(QsciScintillaBase::SCI_POINTYFROMPOSITION, 0UL, position));
    const int height = int(memo->SendScintilla(QsciScintillaBase::SCI_TEXTHEIGHT, long(row)));
    QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x + 2, y + height / 2));
}

void TestChosenRow::key(QWidget* target, const QString& keys)
{
    QTest::keySequence(target, QKeySequence(keys));
    QCoreApplication::processEvents();
}

void TestChosenRow::checkOneRowShown(const char* step)
{
    QCoreApplication::processEvents();
    const TEditorForBorvane5_Form1& w = *m_window;
    QVERIFY2(w.Memo1->CaretRow() == w.CurrentRow,
             qPrintable(QStringLiteral("%1: caret %2, current %3").arg(step).arg(w.Memo1->CaretRow()).arg(w.CurrentRow)));
    QVERIFY2(w.lbleRow->text() == QString::number(w.CurrentRow),
             qPrintable(QStringLiteral("%1: field %2, current %3").arg(step, w.lbleRow->text()).arg(w.CurrentRow)));
}

QByteArray TestChosenRow::create()
{
    QTest::mouseClick(m_window->btnCreate, Qt::LeftButton);
    return GuiTest::readFile(outputPath());
}

void TestChosenRow::undoRedoThenChooseThenInsert_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<QString>("redo");
    QTest::addColumn<int>("inputRow"); // the input row the last pause goes before

    // After the sequence the text holds one pause line, before input row 50: input row r > 50 is
    // the editor's row r + 1.
    for (const char* redo : {"Ctrl+Y", "Ctrl+Shift+Z"}) {
        const QString keys = QString::fromLatin1(redo);
        QTest::addRow("row number, %s", redo) << QStringLiteral("row") << keys << 80;
        QTest::addRow("click, %s", redo) << QStringLiteral("click") << keys << 80;
        QTest::addRow("keyword, %s", redo) << QStringLiteral("keyword") << keys << 80;
        QTest::addRow("height search, %s", redo) << QStringLiteral("height") << keys << 60;
        QTest::addRow("arrow keys, %s", redo) << QStringLiteral("keys") << keys << 80;
        QTest::addRow("no choice after the redo, %s", redo) << QStringLiteral("none") << keys << 50;
    }
}

// Insert, insert elsewhere, undo, undo, redo, choose a row, insert, "Create": the file holds the
// pauses before the input rows the test names, nothing else moved.
void TestChosenRow::undoRedoThenChooseThenInsert()
{
    QFETCH(QString, way);
    QFETCH(QString, redo);
    QFETCH(int, inputRow);

    QVERIFY(m_window->rbtnBefore->isChecked());
    goToRow(50);
    pause();
    checkOneRowShown("first pause");
    QCOMPARE(m_window->CurrentRow, 50);
    goToRow(101); // input row 100
    pause();
    checkOneRowShown("second pause");
    QCOMPARE(m_window->Memo1->rowText(101), QStringLiteral("M25"));
    QCOMPARE(m_window->leditCurrentZ->text(), zOfInputRow(100));

    key(m_window->Memo1, QStringLiteral("Ctrl+Z"));
    checkOneRowShown("first undo");
    QCOMPARE(m_window->CurrentRow, 101);
    QCOMPARE(m_window->leditCurrentZ->text(), zOfInputRow(100));
    key(m_window->Memo1, QStringLiteral("Ctrl+Z"));
    checkOneRowShown("second undo");
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), joined(inputRows()));
    QCOMPARE(m_window->CurrentRow, 50);
    QCOMPARE(m_window->leditCurrentZ->text(), zOfInputRow(50));
    // The undone pause's message went with its lines.
    QVERIFY(!GuiTest::withoutTime(m_window->memoMessage->toPlainText()).contains(QStringLiteral("M25")));
    key(m_window->Memo1, redo);
    checkOneRowShown("redo");
    QCOMPARE(m_window->Memo1->rowText(50), QStringLiteral("M25"));
    QCOMPARE(m_window->CurrentRow, 50);
    QVERIFY(GuiTest::withoutTime(m_window->memoMessage->toPlainText()).contains(QStringLiteral("M25")));

    // Input row 80 is the editor's row 81 now.
    if (way == u"row") {
        goToRow(81);
    } else if (way == u"click") {
        clickRow(81);
    } else if (way == u"keyword") {
        m_window->cboxKeyword->setEditText(QStringLiteral(";r80"));
        QTest::mouseClick(m_window->sbtnGo, Qt::LeftButton);
    } else if (way == u"height") {
        // Above the start at 0.3: Z 0.6, whose last layer below is the Z line at 0.5.
        m_window->leditPause->setText(QStringLiteral("0.3"));
        QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);
    } else if (way == u"keys") {
        clickRow(76);
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(m_window->Memo1, Qt::Key_Down);
    }
    checkOneRowShown("chosen");
    const int editorRow = way == u"none" ? 50 : inputRow + 1;
    QCOMPARE(m_window->CurrentRow, editorRow);
    if (way != u"none")
        QCOMPARE(m_window->leditCurrentZ->text(), zOfInputRow(inputRow));
    pause();
    checkOneRowShown("last pause");

    QList<QByteArray> expected = inputRows();
    if (inputRow == 50) {
        expected.insert(50, "M25");
        expected.insert(50, "M25");
    } else {
        expected.insert(inputRow, "M25");
        expected.insert(50, "M25");
    }
    QCOMPARE(create(), kHeader + joined(expected));
}

// Two pauses, both taken back, both put back: only the two pause lines carry the inserted mark,
// no row is marked as typed, and "Create" lists nothing typed by hand.
void TestChosenRow::redoMarksOnlyTheLinesItPutBack()
{
    goToRow(50);
    pause();
    goToRow(101);
    pause();
    for (const char* keys : {"Ctrl+Z", "Ctrl+Z", "Ctrl+Y", "Ctrl+Y"})
        key(m_window->Memo1, QString::fromLatin1(keys));
    EditBuffer* memo = m_window->Memo1;
    QCOMPARE(memo->rowText(50), QStringLiteral("M25"));
    QCOMPARE(memo->rowText(101), QStringLiteral("M25"));
    QCOMPARE(memo->typedRows(), std::vector<int>());
    QCOMPARE(memo->insertedRows(), (std::vector<int>{50, 101}));
    checkOneRowShown("after the redos");
    QCOMPARE(m_window->CurrentRow, 101);

    // The same from the editor made writable by a click, and with the focus on a button.
    clickRow(10);
    key(memo, QStringLiteral("Ctrl+Z"));
    m_window->btnPause->setFocus();
    key(m_window->btnPause, QStringLiteral("Ctrl+Z"));
    key(memo, QStringLiteral("Ctrl+Shift+Z"));
    key(m_window->btnPause, QStringLiteral("Ctrl+Y"));
    QCOMPARE(memo->typedRows(), std::vector<int>());
    QCOMPARE(memo->insertedRows(), (std::vector<int>{50, 101}));

    QList<QByteArray> expected = inputRows();
    expected.insert(100, "M25");
    expected.insert(50, "M25");
    QCOMPARE(create(), kHeader + joined(expected));
    QVERIFY(!GuiTest::withoutTime(m_window->memoMessage->toPlainText()).contains(QStringLiteral("Typed by hand")));
}

// Ctrl+Z in "Row Number" after a jump takes back the last insertion (the field has nothing of its
// own to take back), and the field names the row the next lines go to; typing in it is taken back
// first.
void TestChosenRow::undoInTheRowNumberField()
{
    goToRow(50);
    pause();
    goToRow(81);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m_window->lbleRow));
    QTest::keyClicks(m_window->lbleRow, QStringLiteral("7"));
    QCOMPARE(m_window->lbleRow->text(), QStringLiteral("817"));
    key(m_window->lbleRow, QStringLiteral("Ctrl+Z"));
    QCOMPARE(m_window->lbleRow->text(), QStringLiteral("81"));
    QCOMPARE(m_window->Memo1->rowText(50), QStringLiteral("M25"));
    key(m_window->lbleRow, QStringLiteral("Ctrl+Z"));
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), joined(inputRows()));
    checkOneRowShown("undone from the field");
    QCOMPARE(m_window->CurrentRow, 50);
    key(m_window->lbleRow, QStringLiteral("Ctrl+Y"));
    checkOneRowShown("redone from the field");
    QCOMPARE(m_window->Memo1->rowText(50), QStringLiteral("M25"));
    pause();
    QList<QByteArray> expected = inputRows();
    expected.insert(50, "M25");
    expected.insert(50, "M25");
    QCOMPARE(create(), kHeader + joined(expected));
}

// A "Row Number" jump marks the row, tells its height and says what it is; the message of an
// earlier height search goes.
void TestChosenRow::rowNumberJumpShowsTheRow()
{
    m_window->leditPause->setText(QStringLiteral("0.3"));
    QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);
    QCOMPARE(m_window->CurrentRow, 60);
    const QString searched = GuiTest::withoutTime(m_window->memoMessage->toPlainText());
    QVERIFY(searched.contains(QStringLiteral("row 60")));
    goToRow(100);
    checkOneRowShown("jump");
    QCOMPARE(m_window->leditCurrentZ->text(), zOfInputRow(100));
    QVERIFY(!GuiTest::withoutTime(m_window->memoMessage->toPlainText()).contains(QStringLiteral("row 60")));
    QVERIFY(GuiTest::withoutTime(m_window->memoMessage->toPlainText()).contains(QStringLiteral("Row 100")));
    // The caret's row is marked whether or not the editor has the focus.
    QVERIFY(m_window->Memo1->SendScintilla(QsciScintillaBase::SCI_GETCARETLINEVISIBLEALWAYS));
    clickRow(20);
    QCOMPARE(m_window->leditCurrentZ->text(), QString()); // before the first Z line
    QVERIFY(GuiTest::withoutTime(m_window->memoMessage->toPlainText()).contains(QStringLiteral("Row 20")));
}

void TestChosenRow::closingWithUnwrittenEdits_data()
{
    QTest::addColumn<bool>("edit");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<bool>("written");

    QTest::newRow("nothing changed: closes at once") << false << -2 << true << false;
    QTest::newRow("an edit taken back: closes at once") << true << -3 << true << false;
    QTest::newRow("Create") << true << int(QMessageBox::Save) << true << true;
    QTest::newRow("Discard") << true << int(QMessageBox::Discard) << true << false;
    QTest::newRow("Cancel") << true << int(QMessageBox::Cancel) << false << false;
    QTest::newRow("Esc") << true << int(GuiTest::MessageBoxAnswers::PressEscape) << false << false;
}

// The close button asks before edits not yet written are lost: "Create" writes them and closes,
// "Discard" closes, Cancel keeps the window. With nothing changed it closes at once.
void TestChosenRow::closingWithUnwrittenEdits()
{
    QFETCH(bool, edit);
    QFETCH(int, answer);
    QFETCH(bool, closed);
    QFETCH(bool, written);

    if (edit) {
        goToRow(50);
        pause();
    }
    if (answer == -3)
        key(m_window->Memo1, QStringLiteral("Ctrl+Z"));
    const bool asks = answer >= 0 || answer == GuiTest::MessageBoxAnswers::PressEscape;
    m_boxes.reset(); // its end lets go of the answerer: before the next one takes it
    m_boxes = std::make_unique<GuiTest::MessageBoxAnswers>(asks ? QList<int>{answer} : QList<int>{});
    if (written)
        m_boxes->answer(QMessageBox::Ok); // "This file has been created."
    m_window->close();
    QCOMPARE(!m_window->isVisible(), closed);
    QCOMPARE(m_boxes->seen.isEmpty(), !asks);
    if (asks) {
        QCOMPARE(m_boxes->seen.front().caption, QStringLiteral("Unwritten Edits"));
        QVERIFY(m_boxes->seen.front().text.contains(QStringLiteral("part.gcode")));
        QVERIFY(m_boxes->seen.front().buttons.testFlag(QMessageBox::Discard));
    }
    QList<QByteArray> expected = inputRows();
    expected.insert(50, "M25");
    QCOMPARE(GuiTest::readFile(outputPath()), written ? kHeader + joined(expected) : QByteArray("<cannot read>"));
    QVERIFY(m_boxes->allAnswered());
}

// The opened file's name is in the title before the caption, and the drop hint gives way to it.
void TestChosenRow::fileNameShown()
{
    QVERIFY(m_window->windowTitle().startsWith(QStringLiteral("part.gcode")));
    QVERIFY(m_window->windowTitle().contains(QStringLiteral("Editor For Borvane 5")));
    const QString message = GuiTest::withoutTime(m_window->memoMessage->toPlainText());
    QVERIFY2(message.startsWith(QStringLiteral("part.gcode: 120 rows")), qPrintable(message));
    QVERIFY(!message.contains(QStringLiteral("Drop the G-code file")));
}

QTEST_MAIN(TestChosenRow)
#include "tst_chosenrow.moc"
