// One use of the editor from the drop to the written file, driven through the real
// window: controls clicked and typed into, message boxes answered, the output's bytes
// compared with the bytes expected.

#include "GuiTestSupport.h"

#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

using GuiTest::MessageBoxAnswers;

namespace {

// A header line, a binary line with 0x00, 0xFF and bytes from 0x80 up, then the body.
const QByteArray kHeader = QByteArray(";sliced\n") + QByteArray("\x00\xff\x80\xfe\x01 blob", 11) + '\n';

const QList<QByteArray>& kBody = GuiTest::kStructuredBody;

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void heightSearchPauseAndTemperatures_data();
    void heightSearchPauseAndTemperatures();
    void keywordThenRowNumberThenPause();
    void existingOutputFile_data();
    void existingOutputFile();
    void undoRemovesOneClick_data();
    void undoRemovesOneClick();

private:
    void dropSlicedFile();
    // Clicks "Create" and returns the program's exit code; the caller answers the boxes.
    int createAndExit();

    std::unique_ptr<QTemporaryDir> m_dir; // one per test, so no output is left from another
    TEditorForBorvane5_Form1* m_window = nullptr;
};

void TestEndToEnd::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_window = new TEditorForBorvane5_Form1;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestEndToEnd::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

void TestEndToEnd::dropSlicedFile()
{
    const QString path = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(path, kHeader + GuiTest::joinLines(kBody)));
    QVERIFY(GuiTest::dropFile(m_window, path));
    QCOMPARE(m_window->leditStartH->text(), QStringLiteral("0.300"));
    // The top layer prints at Z 0.700 (row 10); Z 0.900 is the end's lift.
    QCOMPARE(m_window->leditMaxZ->text(), QStringLiteral("0.400+0.300=0.700"));
}

int TestEndToEnd::createAndExit()
{
    QTimer::singleShot(0, m_window, [this] { QTest::mouseClick(m_window->btnCreate, Qt::LeftButton); });
    QTimer::singleShot(10000, qApp, [] { qApp->exit(99); }); // a window that stays open fails the test
    return qApp->exec();
}

void TestEndToEnd::heightSearchPauseAndTemperatures_data()
{
    QTest::addColumn<bool>("removeHeader");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<QByteArray>("expected");

    QList<QByteArray> edited = kBody;
    edited.insert(5, "M25");          // before the last Z line below 0.3 + 0.4
    edited.insert(6, "M140 S60 T0");  // after the pause row: bed first,
    edited.insert(7, "M104 S210 T0"); // then T0
    QTest::newRow("with the header") << false << "Borvane.gx" << kHeader + GuiTest::joinLines(edited);
    QTest::newRow("header removed") << true << "Borvane.g" << GuiTest::joinLines(edited);
}

void TestEndToEnd::heightSearchPauseAndTemperatures()
{
    QFETCH(bool, removeHeader);
    QFETCH(QString, outputName);
    QFETCH(QByteArray, expected);
    dropSlicedFile();

    QTest::keyClicks(m_window->leditPause, QStringLiteral("0.4"));
    QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);
    QCOMPARE(m_window->lbleRow->text(), QStringLiteral("5"));
    QCOMPARE(m_window->leditCurrentZ->text(), QStringLiteral("0.500"));
    QVERIFY(m_window->btnPause->isEnabled());

    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    QTest::keyClicks(m_window->leditT0Temperature, QStringLiteral("210"));
    QTest::keyClicks(m_window->leditBedTemperature, QStringLiteral("60"));
    QTest::mouseClick(m_window->rbtnAfter, Qt::LeftButton);
    QVERIFY(m_window->rbtnAfter->isChecked());
    QTest::mouseClick(m_window->TemperarureInsert, Qt::LeftButton);
    QCOMPARE(m_window->leditT0Temperature->text(), QStringLiteral("210")); // fields keep their text
    if (removeHeader) {
        QTest::mouseClick(m_window->cboxHeader, Qt::LeftButton);
        QCOMPARE(m_window->leditFileName->text(), outputName);
    }

    MessageBoxAnswers answers({QMessageBox::Ok});
    QCOMPARE(createAndExit(), 0);
    const QString outputPath = m_dir->filePath(outputName);
    QCOMPARE(answers.seen.size(), 1);
    QCOMPARE(answers.seen[0].caption, QStringLiteral("Message"));
    QCOMPARE(answers.seen[0].text, outputPath + QStringLiteral("\n This file has been created."));
    QVERIFY(!m_window->isVisible());
    QCOMPARE(GuiTest::readFile(outputPath), expected);
}

void TestEndToEnd::keywordThenRowNumberThenPause()
{
    dropSlicedFile();

    QTest::keyClicks(m_window->cboxKeyword->lineEdit(), QStringLiteral("G1 X11"));
    QTest::mouseClick(m_window->sbtnGo, Qt::LeftButton);
    QCOMPARE(m_window->lbleRow->text(), QStringLiteral("7"));
    QCOMPARE(m_window->leditCurrentZ->text(), QStringLiteral("0.500"));

    m_window->lbleRow->clear();
    QTest::keyClicks(m_window->lbleRow, QStringLiteral("9"));
    QTest::mouseClick(m_window->sbtnGoRowNumber, Qt::LeftButton);
    QVERIFY(m_window->btnPause->isEnabled());
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);

    QList<QByteArray> edited = kBody;
    edited.insert(9, "M25");
    MessageBoxAnswers answers({QMessageBox::Ok});
    QCOMPARE(createAndExit(), 0);
    QCOMPARE(GuiTest::readFile(m_dir->filePath(QStringLiteral("Borvane.gx"))),
             kHeader + GuiTest::joinLines(edited));
}

void TestEndToEnd::existingOutputFile_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("OK replaces the file") << int(QMessageBox::Ok);
    QTest::newRow("Cancel leaves it") << int(QMessageBox::Cancel);
    QTest::newRow("Esc leaves it") << int(QMessageBox::Escape);
}

void TestEndToEnd::existingOutputFile()
{
    QFETCH(int, answer);
    dropSlicedFile();
    const QString outputPath = m_dir->filePath(QStringLiteral("Borvane.gx"));
    const QByteArray old("an older output\n");
    QVERIFY(GuiTest::writeFile(outputPath, old));

    QTest::mouseClick(m_window->sbtnGoRowNumber, Qt::LeftButton); // row 1: nothing to insert
    if (answer == QMessageBox::Ok) {
        MessageBoxAnswers answers({QMessageBox::Ok, QMessageBox::Ok});
        QCOMPARE(createAndExit(), 0);
        QCOMPARE(answers.seen[0].text,
                 QStringLiteral("This file exists, do you want to overwrite it?\n") + outputPath);
        QCOMPARE(GuiTest::readFile(outputPath), kHeader + GuiTest::joinLines(kBody));
    } else {
        MessageBoxAnswers answers({answer});
        QTest::mouseClick(m_window->btnCreate, Qt::LeftButton);
        QVERIFY(answers.allAnswered());
        QCOMPARE(answers.seen.size(), 1);
        QCOMPARE(GuiTest::readFile(outputPath), old);
        QVERIFY(m_window->isVisible());
        QCOMPARE(m_window->focusWidget(), m_window->leditFileName);
    }
}

void TestEndToEnd::undoRemovesOneClick_data()
{
    QTest::addColumn<bool>("byHeightSearch");
    QTest::addColumn<int>("row");
    QTest::newRow("row number: the editor is writable") << false << 4;
    QTest::newRow("height search: the editor is read-only") << true << 5;
}

void TestEndToEnd::undoRemovesOneClick()
{
    QFETCH(bool, byHeightSearch);
    QFETCH(int, row);
    dropSlicedFile();
    QVERIFY(!m_window->Memo1->isUndoAvailable()); // loading is not an edit

    if (byHeightSearch) {
        QTest::keyClicks(m_window->leditPause, QStringLiteral("0.4"));
        QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);
    } else {
        m_window->lbleRow->clear();
        QTest::keyClicks(m_window->lbleRow, QString::number(row));
        QTest::mouseClick(m_window->sbtnGoRowNumber, Qt::LeftButton);
    }
    QCOMPARE(m_window->Memo1->isReadOnly(), byHeightSearch);
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    QTest::keyClicks(m_window->leditT0Temperature, QStringLiteral("205"));
    QTest::keyClicks(m_window->leditT1Temperature, QStringLiteral("200"));
    QTest::mouseClick(m_window->TemperarureInsert, Qt::LeftButton);

    QList<QByteArray> edited = kBody;
    edited.insert(row, "M25");
    edited.insert(row, "M104 S200 T1");
    edited.insert(row, "M104 S205 T0");
    const auto text = [this] { return GuiTest::editorBytes(*m_window->Memo1); };
    QCOMPARE(text(), GuiTest::joinLines(edited));

    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier);
    edited.remove(row, 2);
    QCOMPARE(text(), GuiTest::joinLines(edited));
    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(text(), GuiTest::joinLines(kBody));

    // Undo leaves the editor as it was: typing is still blocked after a height search.
    QCOMPARE(m_window->Memo1->isReadOnly(), byHeightSearch);
    QTest::keyClicks(m_window->Memo1, QStringLiteral("x"));
    QCOMPARE(text() == GuiTest::joinLines(kBody), byHeightSearch);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
