// The time into the print in the window: the message after a height search and after "Insert
// Time" names the slicer's own figure for the row chosen, read from the file's ;TIME_ELAPSED: and
// ;TIME: marks here; the message on the printer's screen goes in before the pause line, and a
// message the printer cannot show inserts nothing.

#include "GuiTestSupport.h"
#include "TestPaths.h"

#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// The Cura file of the shared fixtures: ";TIME:1010" in its header and ";TIME_ELAPSED:" at each
// layer's end, just before the next ";LAYER:".
QString curaFile()
{
    return QStringLiteral(BORVANE_REAL_FIXTURES_DIR "/cura_basic_256k.gcode");
}

// Seconds as the window words them, written out here: "4 min 40 s", "1 h 05 min".
QString words(double seconds)
{
    const long long whole = qRound64(seconds);
    if (whole >= 3600)
        return QStringLiteral("%1 h %2 min").arg(whole / 3600).arg(whole / 60 % 60, 2, 10, QLatin1Char('0'));
    if (whole >= 60)
        return QStringLiteral("%1 min %2 s").arg(whole / 60).arg(whole % 60);
    return QStringLiteral("%1 s").arg(whole);
}

class BoxAnswerer : public GuiTest::MessageBoxAnswers
{
public:
    BoxAnswerer() : MessageBoxAnswers({QMessageBox::Ok})
    {
        onShown = [this](const Seen& box) { texts << box.text; };
    }
    QStringList texts;
};

} // namespace

class TestWindowTimes : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void heightSearchTellsTheSlicersTime_data();
    void heightSearchTellsTheSlicersTime();
    void insertTimeChoosesTheLayerTheMarksSay_data();
    void insertTimeChoosesTheLayerTheMarksSay();
    void messageGoesBeforeThePauseLine();
    void redoTellsTheTimeAgain();
    void refusedMessageInsertsNothing();

private:
    void type(QLineEdit* edit, const QString& text);
    // Each ";LAYER:" comment's row and the time its layer starts: the ";TIME_ELAPSED:" above it
    // (0 for the first).
    struct CuraLayer
    {
        int row = 0;
        double start = 0.0;
    };
    std::vector<CuraLayer> curaLayers() const;
    // The message names seconds into the print, within the marks' resolution of a second.
    static bool saysTime(const QString& message, double seconds);
    std::unique_ptr<TEditorForBorvane5_Form1> m_window;
};

void TestWindowTimes::init()
{
    m_window = std::make_unique<TEditorForBorvane5_Form1>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QVERIFY(QFileInfo::exists(curaFile()));
    QVERIFY(GuiTest::dropFile(m_window.get(), curaFile()));
}

void TestWindowTimes::cleanup()
{
    m_window.reset();
}

void TestWindowTimes::type(QLineEdit* edit, const QString& text)
{
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

std::vector<TestWindowTimes::CuraLayer> TestWindowTimes::curaLayers() const
{
    std::vector<CuraLayer> layers;
    double elapsed = 0.0;
    for (int r = 0; r < m_window->Memo1->lineCount(); ++r) {
        const QString text = m_window->Memo1->rowText(r);
        if (text.startsWith(QLatin1String(";TIME_ELAPSED:")))
            elapsed = text.mid(14).toDouble();
        else if (text.startsWith(QLatin1String(";LAYER:")) && text.mid(7).toInt() >= 0)
            layers.push_back({r, elapsed});
    }
    return layers;
}

bool TestWindowTimes::saysTime(const QString& message, double seconds)
{
    for (const double s : {seconds - 1, seconds, seconds + 1})
        if (message.contains(words(s) + QStringLiteral(" into the print")))
            return true;
    return false;
}

void TestWindowTimes::heightSearchTellsTheSlicersTime_data()
{
    QTest::addColumn<QString>("height");
    QTest::addColumn<bool>("timesFirst"); // the times there before the search, or completing its message

    QTest::newRow("low, times there") << "1" << true;
    QTest::newRow("higher, times there") << "4.5" << true;
    QTest::newRow("message completed when they come") << "3" << false;
}

void TestWindowTimes::heightSearchTellsTheSlicersTime()
{
    QFETCH(QString, height);
    QFETCH(bool, timesFirst);
    if (timesFirst)
        QTRY_VERIFY(m_window->printTimes());
    type(m_window->leditPause, height);
    QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);
    const int row = m_window->CurrentRow;
    // The layer chosen is the one whose ";LAYER:" follows the row; it starts when the layer before
    // it ends, at the ";TIME_ELAPSED:" just above that comment.
    const std::vector<CuraLayer> layers = curaLayers();
    const auto next = std::find_if(layers.begin(), layers.end(), [row](const CuraLayer& l) { return l.row > row; });
    QVERIFY(next != layers.end());
    QVERIFY(next == layers.begin() || std::prev(next)->row < row);
    QTRY_VERIFY2(saysTime(m_window->memoMessage->toPlainText(), next->start),
                 qPrintable(m_window->memoMessage->toPlainText()));
    QVERIFY(m_window->memoMessage->toPlainText().contains(QStringLiteral(", of %1 (the slicer's figures)").arg(words(1010))));
    QCOMPARE(m_window->CurrentRow, row);
}

void TestWindowTimes::insertTimeChoosesTheLayerTheMarksSay_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("seconds");

    // The forms --time takes.
    QTest::newRow("minutes and seconds") << "4:00" << 240.0;
    QTest::newRow("minutes") << "9m" << 540.0;
    QTest::newRow("seconds") << "700" << 700.0;
    QTest::newRow("hours, minutes, seconds") << "0:12:30" << 750.0;
}

void TestWindowTimes::insertTimeChoosesTheLayerTheMarksSay()
{
    QFETCH(QString, typed);
    QFETCH(double, seconds);
    QTRY_VERIFY(m_window->printTimes());
    // From the file: the last layer that starts at or before the time.
    const std::vector<CuraLayer> layers = curaLayers();
    std::size_t k = 0;
    while (k + 1 < layers.size() && layers[k + 1].start <= seconds)
        ++k;
    QVERIFY(k > 0);

    type(m_window->leditPause, QStringLiteral("1"));
    QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);
    const int byHeight = m_window->CurrentRow;
    // Typed after the height: the time decides.
    type(m_window->leditTime, typed);
    QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);
    // The layer's change row: after the layer before it began, before its own ";LAYER:" comment.
    QVERIFY2(m_window->CurrentRow > layers[k - 1].row && m_window->CurrentRow < layers[k].row,
             qPrintable(QStringLiteral("row %1, the file's layer %2 from row %3")
                            .arg(m_window->CurrentRow)
                            .arg(k + 1)
                            .arg(layers[k].row)));
    const QString message = m_window->memoMessage->toPlainText();
    QVERIFY2(message.startsWith(QStringLiteral("Layer %1 of ").arg(k + 1)), qPrintable(message));
    QVERIFY2(saysTime(message, layers[k].start), qPrintable(message));

    // The height typed after it decides again.
    type(m_window->leditPause, QStringLiteral("1"));
    QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);
    QCOMPARE(m_window->CurrentRow, byHeight);
}

void TestWindowTimes::messageGoesBeforeThePauseLine()
{
    type(m_window->leditPause, QStringLiteral("1"));
    QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);
    const int row = m_window->CurrentRow;
    const QString before = m_window->Memo1->rowText(row);
    type(m_window->leditPauseMessage, QStringLiteral("Insert the magnets"));
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    QCOMPARE(m_window->Memo1->rowText(row), QStringLiteral("M117 Insert the magnets"));
    QCOMPARE(m_window->Memo1->rowText(row + 1), QStringLiteral("M25"));
    QCOMPARE(m_window->Memo1->rowText(row + 2), before);
    // What "Create" writes is the editor's text.
    QVERIFY(GuiTest::editorBytes(*m_window->Memo1).contains("\nM117 Insert the magnets\nM25\n"));
}

// An insertion's message names its time once the times are read; undone and done again, the
// insertion is told as it was, time and all.
void TestWindowTimes::redoTellsTheTimeAgain()
{
    const std::vector<CuraLayer> layers = curaLayers();
    QVERIFY(layers.size() > 3);
    const CuraLayer& layer = layers[3];
    m_window->lbleRow->setFocus();
    type(m_window->lbleRow, QString::number(layer.row));
    QTest::keyClick(m_window->lbleRow, Qt::Key_Return);
    QCOMPARE(m_window->CurrentRow, layer.row);
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    QTRY_VERIFY2(saysTime(m_window->memoMessage->toPlainText(), layer.start),
                 qPrintable(m_window->memoMessage->toPlainText()));
    const QString told = m_window->memoMessage->toPlainText();

    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_window->Memo1->rowText(layer.row), QStringLiteral(";LAYER:3"));
    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(m_window->Memo1->rowText(layer.row), QStringLiteral("M25"));
    QCOMPARE(m_window->memoMessage->toPlainText(), told);
}

void TestWindowTimes::refusedMessageInsertsNothing()
{
    type(m_window->leditPause, QStringLiteral("1"));
    QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);
    const QByteArray before = GuiTest::editorBytes(*m_window->Memo1);
    BoxAnswerer boxes;
    type(m_window->leditPauseMessage, QStringLiteral("Insert; the magnets"));
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY2(boxes.texts.front().contains(QLatin1String("\";\"")), qPrintable(boxes.texts.front()));
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), before);
}

QTEST_MAIN(TestWindowTimes)
#include "tst_windowtimes.moc"
