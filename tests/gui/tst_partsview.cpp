// The window on a file that prints its objects one after another: PrusaSlicer's four boxes of
// 3, 6, 4.5 and 1.5 mm, printed in that order. The rows expected are those of the slicer's own
// layer comments; the window is driven as a user would.

#include "GuiTestSupport.h"
#include "ReferenceLayers.h"
#include "TestPaths.h"
#include "core/file/SlicedFile.h"
#include "core/text/RowSource.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>

#include <memory>

namespace {

const QString kFourBoxes =
    QStringLiteral(BORVANE_TEST_FIXTURES_DIR "/sequential/prusaslicer-complete-objects-4boxes.gcode");

// The announced layers of each part, bottom to top.
QList<QList<Reference::LayerRow>> announcedParts(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const TextRows rows(bytes.mid(SlicedFile::headerLength(bytes)));
    QList<int> starts;
    const QList<Reference::LayerRow> announced =
        Reference::announcedLayers(rows, Reference::referenceEffects(rows), &starts);
    QList<QList<Reference::LayerRow>> parts;
    for (qsizetype p = 0; p < starts.size(); ++p) {
        const qsizetype end = p + 1 < starts.size() ? starts[p + 1] : announced.size();
        parts.append(announced.mid(starts[p], end - starts[p]));
    }
    return parts;
}

} // namespace

class TestPartsView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void heightInEveryPart();
    void onePartShowsNoPartBox();

private:
    void search(const QString& height);
    void clickMessageLine(int line);
    QString marginLabel(int row);

    std::unique_ptr<TEditorForBorvane5_Form1> m_window;
};

void TestPartsView::init()
{
    m_window = std::make_unique<TEditorForBorvane5_Form1>();
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestPartsView::cleanup()
{
    m_window.reset();
}

void TestPartsView::search(const QString& height)
{
    QLineEdit* edit = m_window->leditPause;
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, height);
    QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);
}

void TestPartsView::clickMessageLine(int line)
{
    QPlainTextEdit* message = m_window->memoMessage;
    const QTextCursor cursor(message->document()->findBlockByNumber(line));
    message->setTextCursor(cursor);
    QTest::mouseClick(message->viewport(), Qt::LeftButton, {}, message->cursorRect(cursor).center() + QPoint(4, 0));
}

QString TestPartsView::marginLabel(int row)
{
    m_window->Memo1->PlaceCaretAtRow(row);
    QCoreApplication::processEvents();
    for (const EditBuffer::MarginLine& line : m_window->Memo1->marginLines()) {
        if (line.row == row)
            return line.layer;
    }
    return QStringLiteral("<row %1 not in view>").arg(row);
}

// A height is chosen in every box that reaches it: the first box's row selected, the others
// listed as links; the margins and Max Height name the parts; "in every part" pauses each box.
void TestPartsView::heightInEveryPart()
{
    const QList<QList<Reference::LayerRow>> parts = announcedParts(kFourBoxes);
    QCOMPARE(parts.size(), 4);
    QVERIFY(GuiTest::dropFile(m_window.get(), kFourBoxes));
    QVERIFY(m_window->cboxEveryPart->isVisible());
    // The 6 mm box is the tallest: 5.7 above the start at Z 0.3.
    QCOMPARE(m_window->leditMaxZ->text(), QStringLiteral("5.700+0.300=6.000"));
    // (The last Z line, the end code's lift over the last box, is told after it.)
    const QString tip = m_window->leditMaxZ->toolTip();
    QVERIFY2(tip.startsWith(QStringLiteral("Top layer 20 of part 2 of 4 at Z 6.000, row %1.").arg(parts[1].back().row)),
             qPrintable(tip));
    QCOMPARE(marginLabel(parts[1][3].row), QStringLiteral("2\u00B74  1.200"));
    QCOMPARE(marginLabel(parts[3].back().row), QStringLiteral("4\u00B75  1.500"));

    // 1.0 above the start is Z 1.3: the last layer below it is at Z 1.2, the fourth of each box.
    search(QStringLiteral("1.0"));
    QCOMPARE(m_window->CurrentRow, parts[0][3].row);
    // The time into the print, when it has arrived, is checked by the window's time tests.
    const QStringList message = GuiTest::withoutTime(m_window->memoMessage->toPlainText()).split(u'\n');
    QCOMPARE(message.value(0), QStringLiteral("Layer 4 of 10 in part 1 of 4 at Z 1.200, row %1.").arg(parts[0][3].row));
    for (int p = 1; p < 4; ++p) {
        QVERIFY2(message.contains(QStringLiteral("part %1, layer 4 at Z 1.200, row %2").arg(p + 1).arg(parts[p][3].row)),
                 qPrintable(message.join(u'|')));
    }
    // A click on a part's line goes to its row.
    const qsizetype third = message.indexOf(QStringLiteral("part 3, layer 4 at Z 1.200, row %1").arg(parts[2][3].row));
    clickMessageLine(int(third));
    QCOMPARE(m_window->CurrentRow, parts[2][3].row);

    // Chosen again, and paused in every part.
    search(QStringLiteral("1.0"));
    QTest::mouseClick(m_window->cboxEveryPart, Qt::LeftButton);
    QVERIFY(m_window->cboxEveryPart->isChecked());
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    QFile file(kFourBoxes);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const TextRows original(bytes.mid(SlicedFile::headerLength(bytes)));
    QCOMPARE(m_window->Memo1->lineCount(), original.lineCount() + 4);
    for (int p = 0; p < 4; ++p) {
        // Each pause line moved the rows after it down by one.
        const int row = parts[p][3].row + p;
        QCOMPARE(m_window->Memo1->rowText(row), QStringLiteral("M25"));
        QCOMPARE(m_window->Memo1->rowText(row + 1), original.rowText(parts[p][3].row));
    }
}

// A file of one part keeps the window as it was: no tick box, the margins and the message as before.
void TestPartsView::onePartShowsNoPartBox()
{
    const QString path = QDir(QStringLiteral(BORVANE_REAL_FIXTURES_DIR)).filePath(QStringLiteral("cura_basic_256k.gcode"));
    if (!QFile::exists(path))
        QSKIP("The real slicer files are not beside the repository.");
    QVERIFY(GuiTest::dropFile(m_window.get(), kFourBoxes));
    QVERIFY(m_window->cboxEveryPart->isVisible());
    QVERIFY(GuiTest::dropFile(m_window.get(), path));
    QVERIFY(!m_window->cboxEveryPart->isVisible());
    QCOMPARE(m_window->cboxEveryPart->focusPolicy(), Qt::NoFocus);
    search(QStringLiteral("1.0"));
    QVERIFY(m_window->memoMessage->toPlainText().startsWith(QStringLiteral("Layer ")));
    QVERIFY(!m_window->memoMessage->toPlainText().contains(QStringLiteral(" part")));
}

QTEST_MAIN(TestPartsView)
#include "tst_partsview.moc"
