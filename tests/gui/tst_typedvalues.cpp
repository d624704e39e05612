// Values typed or pasted into the window's fields, as a user does: temperatures must be whole
// degrees from 0 to 999, heights numbers with the locale's decimal separator or "."; anything
// else gets a box and changes nothing. Also the current row after Ctrl+Z of an insertion.
// This test also runs under a decimal-comma locale (see tests/CMakeLists.txt).

#include "GuiTestSupport.h"

#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

const QByteArray kHeader = ";FLAVOR:Marlin\n;Generated for a test\n";

// Z 0.3 on row 37, 0.5 on row 60, 0.7 on row 90; the print starts at the Z line of row 37.
QByteArray layers()
{
    QByteArray text;
    for (int row = 0; row < 100; ++row) {
        if (row == 37)
            text += "G1 Z0.3 F420\n";
        else if (row == 40)
            text += ";structure:shell-inner\n";
        else if (row == 60)
            text += "G1 Z0.5 F420\n";
        else if (row == 90)
            text += "G1 Z0.7 F420\n";
        else
            text += "G1 X10.5 Y20.25 E0.0123\n";
    }
    return text;
}

QString decimalPoint()
{
    return QLocale::system().decimalPoint();
}

} // namespace

class TestTypedValues : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void refusedTemperature_data();
    void refusedTemperature();
    void blankTemperatureFieldsInsertNothing();
    void typedHeight_data();
    void typedHeight();
    void currentRowFollowsUndoOfAnInsertion_data();
    void currentRowFollowsUndoOfAnInsertion();

private:
    void paste(QLineEdit* edit, const QString& text);
    void goToRow(int row);

    QTemporaryDir m_dir;
    std::unique_ptr<TEditorForBorvane5_Form1> m_window;
    std::unique_ptr<GuiTest::MessageBoxAnswers> m_boxes;
};

void TestTypedValues::initTestCase()
{
    // The decimal-comma run must really have a comma, or it tests nothing of its own.
    if (qEnvironmentVariable("LC_ALL").startsWith(u"de"))
        QCOMPARE(decimalPoint(), QStringLiteral(","));
}

void TestTypedValues::init()
{
    QVERIFY(m_dir.isValid());
    m_window = std::make_unique<TEditorForBorvane5_Form1>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_boxes = std::make_unique<GuiTest::MessageBoxAnswers>();
    const QString path = m_dir.filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(path, kHeader + layers()));
    QVERIFY(GuiTest::dropFile(m_window.get(), path));
    QCOMPARE(m_window->StartRow, 37);
    // Heights are shown with the locale's separator.
    QCOMPARE(m_window->leditStartH->text(), u'0' + decimalPoint() + QStringLiteral("300"));
}

void TestTypedValues::cleanup()
{
    m_boxes.reset();
    m_window.reset();
}

void TestTypedValues::paste(QLineEdit* edit, const QString& text)
{
    QGuiApplication::clipboard()->setText(text);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->text(), text);
}

void TestTypedValues::goToRow(int row)
{
    m_window->lbleRow->clear();
    QTest::keyClicks(m_window->lbleRow, QString::number(row));
    QTest::mouseClick(m_window->sbtnGoRowNumber, Qt::LeftButton);
    QCOMPARE(m_window->CurrentRow, row);
    QVERIFY(m_window->TemperarureInsert->isEnabled());
}

void TestTypedValues::refusedTemperature_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("pasted");

    for (const char* field : {"T0", "T1", "Bed"}) {
        for (const char* text : {"abc", "99999999999", "-5", "1e3", "1000", "21.5", "2a0"})
            QTest::addRow("%s: \"%s\"", field, text)
                << QString::fromLatin1(field) << QString::fromLatin1(text);
    }
}

void TestTypedValues::refusedTemperature()
{
    QFETCH(QString, field);
    QFETCH(QString, pasted);
    goToRow(50);
    // The other fields hold good temperatures: nothing of them goes in either.
    LabeledEdit* const edits[] = {m_window->leditT0Temperature, m_window->leditT1Temperature,
                                  m_window->leditBedTemperature};
    const QStringList names = {"T0", "T1", "Bed"};
    for (LabeledEdit* edit : edits)
        QTest::keyClicks(edit, QStringLiteral("200"));
    LabeledEdit* const typedInto = edits[names.indexOf(field)];
    paste(typedInto, pasted);
    const QByteArray before = GuiTest::editorBytes(*m_window->Memo1);

    QTest::mouseClick(m_window->TemperarureInsert, Qt::LeftButton);

    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), before);
    QCOMPARE(m_window->CurrentRow, 50);
    QCOMPARE(m_boxes->seen.size(), 1);
    QCOMPARE(m_boxes->seen[0].caption, QStringLiteral("Temperature Error"));
    QCOMPARE(
        m_boxes->seen[0].text,
        QStringLiteral("The %1 temperature \"%2\" is not a whole number from 0 to 999 (\u00B0C). Nothing was "
                       "inserted.")
            .arg(field, pasted));
    QCOMPARE(m_window->focusWidget(), static_cast<QWidget*>(typedInto));
}

void TestTypedValues::blankTemperatureFieldsInsertNothing()
{
    goToRow(50);
    paste(m_window->leditT0Temperature, QStringLiteral("\t"));
    paste(m_window->leditT1Temperature, QStringLiteral(" "));
    paste(m_window->leditBedTemperature, QStringLiteral(" 6 0 "));
    QByteArray expected = GuiTest::editorBytes(*m_window->Memo1);
    expected.insert(m_window->Memo1->rowStart(50), "M140 S60 T0\n");

    QTest::mouseClick(m_window->TemperarureInsert, Qt::LeftButton);

    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), expected);
    QCOMPARE(m_boxes->seen.size(), 0);
}

void TestTypedValues::typedHeight_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("row"); // -1: refused with a box, nothing selected

    const bool comma = decimalPoint() == u",";
    QTest::newRow("point") << "0.4" << 60;
    QTest::newRow("point, blanks around") << " 0.4 " << 60;
    QTest::newRow("the locale's separator") << u'0' + decimalPoint() + u'4' << 60;
    QTest::newRow("comma: a number only where it is the separator") << "0,4" << (comma ? 60 : -1);
    QTest::newRow("leading separator") << ".25" << 60;
    QTest::newRow("whole number") << "0" << 37;
    QTest::newRow("empty means 0") << "" << 37;
    QTest::newRow("letters") << "abc" << -1;
    QTest::newRow("trailing letters") << "0.4mm" << -1;
    QTest::newRow("two separators") << "0.4.1" << -1;
    QTest::newRow("sign only") << "-" << -1;
    QTest::newRow("exponent") << "4e-1" << -1;
    QTest::newRow("infinity") << "inf" << -1;
}

void TestTypedValues::typedHeight()
{
    QFETCH(QString, typed);
    QFETCH(int, row);
    goToRow(50);
    m_window->leditPause->clear();
    QTest::keyClicks(m_window->leditPause, typed);
    const QString selectedBefore = m_window->Memo1->selectedText();

    QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);

    if (row >= 0) {
        QCOMPARE(m_boxes->seen.size(), 0);
        QCOMPARE(m_window->CurrentRow, row);
        QCOMPARE(m_window->lbleRow->text(), QString::number(row));
        QCOMPARE(m_window->Memo1->selectedText(), m_window->Memo1->rowText(row));
    } else {
        QCOMPARE(m_boxes->seen.size(), 1);
        QCOMPARE(m_boxes->seen[0].caption, QStringLiteral("Insert Height"));
        QVERIFY2(m_boxes->seen[0].text.startsWith(u'"' + typed + QStringLiteral("\" is not a height.")),
                 qPrintable(m_boxes->seen[0].text));
        QCOMPARE(m_window->CurrentRow, 50);
        QCOMPARE(m_window->lbleRow->text(), QStringLiteral("50"));
        QCOMPARE(m_window->Memo1->selectedText(), selectedBefore);
    }
}

void TestTypedValues::currentRowFollowsUndoOfAnInsertion_data()
{
    QTest::addColumn<bool>("after");

    QTest::newRow("after cursor") << true;
    QTest::newRow("before cursor") << false;
}

void TestTypedValues::currentRowFollowsUndoOfAnInsertion()
{
    QFETCH(bool, after);
    goToRow(50);
    QTest::mouseClick(after ? m_window->rbtnAfter : m_window->rbtnBefore, Qt::LeftButton);
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    const QByteArray once = GuiTest::editorBytes(*m_window->Memo1);
    const int rowAfterOnce = m_window->CurrentRow;
    QCOMPARE(rowAfterOnce, after ? 51 : 50);

    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), layers());
    QCOMPARE(m_window->CurrentRow, 50);
    QTest::keyClick(m_window->Memo1, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), once);
    QCOMPARE(m_window->CurrentRow, rowAfterOnce);
    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier);

    // The same click again lands where the first one did.
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), once);
    QCOMPARE(m_window->CurrentRow, rowAfterOnce);
}

QTEST_MAIN(TestTypedValues)
#include "tst_typedvalues.moc"
