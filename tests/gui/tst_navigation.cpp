// Finding the row to edit, through the real window: files dropped onto it, its buttons
// clicked, its fields typed into, its message boxes answered.

#include "GuiTestSupport.h"

#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/LayerRuler.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
#include <QMap>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

#include <algorithm>
#include <climits>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// The loader keeps a file's first two lines aside as its header; body row 0 is the third line.
const QByteArray kHeader = ";FLAVOR:Marlin\n;Generated for a test\n";

// A body of count rows of extrusion moves (no capital Z), with the given rows replaced.
QByteArray body(int count, const QMap<int, QByteArray>& rows)
{
    QByteArray text;
    for (int row = 0; row < count; ++row)
        text += rows.value(row, QByteArrayLiteral("G1 X10.5 Y20.25 E0.0123")) + '\n';
    return text;
}

// The worked example: Z 0.3 on row 37, 0.5 on row 60, 0.7 on row 90, the model starting on row 40.
QByteArray layers()
{
    return body(
        100,
        {{37, "G1 Z0.3 F420"}, {40, ";structure:shell-inner"}, {60, "G1 Z0.5 F420"}, {90, "G1 Z0.7 F420"}});
}

// A body of count rows of moves that each extrude 0.01 mm more (absolute E), with the given rows
// replaced: its layers are its Z lines.
QByteArray printingBody(int count, const QMap<int, QByteArray>& rows)
{
    QByteArray text;
    for (int row = 0; row < count; ++row)
        text += rows.value(row, "G1 X10.5 Y20.25 E" + QByteArray::number(0.01 * (row + 1), 'f', 2)) + '\n';
    return text;
}

// Keywords to step through, in a body whose moves print; no structure comment, so the analysis
// leaves row 1 selected.
QByteArray keywords()
{
    return printingBody(20, {{0, "M117 start"},
                             {1, "G28"},
                             {2, "G1 Z0.3 F420"},
                             {5, "M25"},
                             {8, "G1 Z0.5 F420"},
                             {10, "M25 ;pause"},
                             {12, "m25"},
                             {15, "M117 mid"}});
}

// A print in the shape one slicer writes: a start lift, G0 layer changes, a hop inside the first
// layer and a final lift. Its layers change on rows 5 (Z 0.3), 12 (0.5) and 15 (0.7).
QByteArray g0Layers()
{
    return "M82\n"
           "G28\n"
           "G1 Z15.0 F9000 ;move the platform down 15mm\n"
           "G92 E0\n"
           ";LAYER:0\n"
           "G0 F3600 X10 Y10 Z0.3\n"
           "G1 F1500 X20 Y10 E1\n"
           "G1 Z0.5 F720 ;hop\n"
           "G0 X30 Y30\n"
           "G1 Z0.3 F720\n"
           "G1 X40 Y30 E2\n"
           ";LAYER:1\n"
           "G0 F3600 X10 Y10 Z0.5\n"
           "G1 X20 Y10 E3\n"
           ";LAYER:2\n"
           "G0 F960 Z0.7\n"
           "G1 X20 Y20 E4\n"
           "G1 Z20 ;lift\n"
           "M84\n";
}

// Answers the one notice a search may show with OK, any further box with Esc, and keeps
// the text of each.
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

class TestNavigation : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void printAnalysis_data();
    void printAnalysis();
    void printAnalysisNotFound_data();
    void printAnalysisNotFound();
    void heightSearch_data();
    void heightSearch();
    void heightSearchAfterFileWithoutStart();
    void printAnalysisOnLayers();
    void maxHeightShowsThreeDigitHeightsWhole();
    void heightSearchOnLayers_data();
    void heightSearchOnLayers();
    void currentZOnLayers_data();
    void currentZOnLayers();
    void layersFollowInsertedUndoneAndTypedRows();
    void keywordScan_data();
    void keywordScan();
    void emptyKeyword();
    void rowNumber_data();
    void rowNumber();
    void click_data();
    void click();
    void keyboardMoveIsFollowed();
    void selectionShowsTheRowFromItsStart_data();
    void selectionShowsTheRowFromItsStart();
    void enterRunsTheSearch_data();
    void enterRunsTheSearch();
    void keywordArrowsFromTheKeyboard();
    void keywordNotFoundIsSaid_data();
    void keywordNotFoundIsSaid();
    void undoWhereTheFocusIs();

private:
    bool drop(const QByteArray& body);
    void type(QLineEdit* edit, const QString& text);
    void click(QWidget* button) { QTest::mouseClick(button, Qt::LeftButton); }
    void clickRow(int row);
    bool memoHasFocus() const { return m_window->focusWidget() == m_window->Memo1; }
    bool insertionControlsAre(bool enabled) const;

    QTemporaryDir m_dir;
    std::unique_ptr<TEditorForBorvane5_Form1> m_window;
    int m_files = 0;
};

void TestNavigation::init()
{
    QVERIFY(m_dir.isValid());
    m_window = std::make_unique<TEditorForBorvane5_Form1>();
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestNavigation::cleanup()
{
    m_window.reset();
}

// Writes kHeader + body into a new file and drops it onto the window as a file manager does.
bool TestNavigation::drop(const QByteArray& body)
{
    const QString path = m_dir.filePath(QStringLiteral("print%1.gcode").arg(++m_files));
    return GuiTest::writeFile(path, kHeader + body) && GuiTest::dropFile(m_window.get(), path) &&
           m_window->DroppedPath == QDir::toNativeSeparators(path);
}

// Replaces the text of an edit by typing, as the user does.
void TestNavigation::type(QLineEdit* edit, const QString& text)
{
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

void TestNavigation::clickRow(int row)
{
    EditBuffer* memo = m_window->Memo1;
    const long position = memo->SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE, long(row));
    const int x = int(memo->SendScintilla(QsciScintillaBase::SCI_POINTXFROMPOSITION, 0UL, position));
    const int y = int(memo->SendScintilla(QsciScintillaBase::SCI_POINTYFROMPOSITION, 0UL, position));
    const int height = int(memo->SendScintilla(QsciScintillaBase::SCI_TEXTHEIGHT, long(row)));
    QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x + 2, y + height / 2));
}

// Whether all seven insertion controls have the given enabled state.
bool TestNavigation::insertionControlsAre(bool enabled) const
{
    const TEditorForBorvane5_Form1& w = *m_window;
    const QList<const QWidget*> controls{w.btnPause,           w.TemperarureInsert,  w.rbtnBefore,
                                         w.rbtnAfter,          w.leditT0Temperature, w.leditT1Temperature,
                                         w.leditBedTemperature};
    return std::all_of(controls.begin(), controls.end(),
                       [enabled](const QWidget* control) { return control->isEnabled() == enabled; });
}

void TestNavigation::printAnalysis_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("startRow");
    QTest::addColumn<double>("startHeight");
    QTest::addColumn<QString>("startText");
    QTest::addColumn<QString>("maxText");
    QTest::addColumn<QString>("zText"); // of row 1, where the caret is: before every Z line, none

    QTest::newRow("shell-inner on row 40, Z0.3 on row 37")
        << layers() << 37 << 0.3 << u"0.300"_s << u"0.400+0.300=0.700"_s << u""_s;
    QTest::newRow("no shell-inner: fallback walks forward to row 14")
        << body(30, {{9, "G1 Z0.1 F420"}, {12, "M117 shell"}, {14, "G1 Z0.25 F420"}, {20, "G1 Z0.45 F420"}})
        << 14 << 0.25 << u"0.250"_s << u"0.200+0.250=0.450"_s << u""_s;
    QTest::newRow("fallback skips lines holding shells")
        << body(30, {{5, "M117 structure:shells"},
                     {6, "M117 shells ;shell"},
                     {8, "G1 Z0.2 F420"},
                     {12, "M117 structure:shell-outer"},
                     {14, "G1 Z0.4 F420"},
                     {25, "G1 Z0.6 F420"}})
        << 14 << 0.4 << u"0.400"_s << u"0.200+0.400=0.600"_s << u""_s;
    QTest::newRow("max is the last Z line, not the greatest")
        << body(100, {{37, "G1 Z0.3 F420"},
                      {40, ";structure:shell-inner"},
                      {60, "G1 Z30 F600 ;park"},
                      {90, "G1 Z20.1 F420"}})
        << 37 << 0.3 << u"0.300"_s << u"19.800+0.300=20.100"_s << u""_s;
    QTest::newRow("final lift taken as the max")
        << body(100, {{37, "G1 Z0.3 F420"},
                      {40, ";structure:shell-inner"},
                      {90, "G1 Z20.1 F420"},
                      {98, "G1 Z25 F600 ;lift"},
                      {99, "M84"}})
        << 37 << 0.3 << u"0.300"_s << u"24.700+0.300=25.000"_s << u""_s;
    QTest::newRow("walk stops at a comment holding Z")
        << body(100, {{37, "G1 Z0.3 F420"}, {39, ";Zone B"}, {40, ";structure:shell-inner"}, {90, "G1 Z0.7"}})
        << 39 << 0.0 << u"0.000"_s << u"0.700+0.000=0.700"_s << u""_s;
    QTest::newRow("vase-mode lines") << body(100, {{37, "G1 X1 Y2 Z0.3 E1.2"},
                                                   {40, ";structure:shell-inner"},
                                                   {90, "G1 X5 Y2 Z0.7 E9.5"}})
                                     << 37 << 0.3 << u"0.300"_s << u"0.400+0.300=0.700"_s << u""_s;
}

void TestNavigation::printAnalysis()
{
    QFETCH(QByteArray, body);
    QFETCH(int, startRow);
    QFETCH(double, startHeight);
    QFETCH(QString, startText);
    QFETCH(QString, maxText);
    QFETCH(QString, zText);

    QVERIFY(drop(body));
    QCOMPARE(m_window->StartRow, startRow);
    QCOMPARE(m_window->StartHeight, startHeight);
    QCOMPARE(m_window->leditStartH->text(), startText);
    QCOMPARE(m_window->leditMaxZ->text(), maxText);
    QCOMPARE(m_window->leditCurrentZ->text(), zText);

    // It ends on row 1, caret at its start, with insertion off and the buffer read-only.
    EditBuffer* memo = m_window->Memo1;
    QCOMPARE(m_window->CurrentRow, 1);
    QCOMPARE(m_window->lbleRow->text(), QStringLiteral("1"));
    QVERIFY(!m_window->InsertEnabled);
    QVERIFY(insertionControlsAre(false));
    QVERIFY(memo->isReadOnly());
    QVERIFY(!memo->hasSelectedText());
    QCOMPARE(memo->SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS), long(memo->rowStart(1)));
}

void TestNavigation::printAnalysisNotFound_data()
{
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("no structure comment") << body(50, {{10, "G1 Z0.2"}});
    QTest::newRow("shell-inner only on row 0") << body(50, {{0, ";structure:shell-inner"}, {10, "G1 Z0.2"}});
    QTest::newRow("shell-inner only on row 1") << body(50, {{1, ";structure:shell-inner"}, {10, "G1 Z0.2"}});
    QTest::newRow("walk back reaches row 0") << body(50, {{20, ";structure:shell-inner"}, {30, "G1 Z0.2"}});
    QTest::newRow("walk forward reaches the end") << body(50, {{10, "G1 Z0.2"}, {20, "M117 shell"}});
    QTest::newRow("shell only in comment rows")
        << body(50, {{10, "G1 Z0.2"}, {20, ";TYPE:shell"}, {30, "G1 Z0.4"}});
    QTest::newRow("a setting holding shell") << body(50, {{5, "; bottom_shell_layers = 3"}, {10, "G1 Z0.2"}});
}

// A file without a start shows and keeps nothing of the file before it: the start row and
// height go back to 0 and the height fields are emptied.
void TestNavigation::printAnalysisNotFound()
{
    QFETCH(QByteArray, body);

    QVERIFY(drop(layers()));
    QCOMPARE(m_window->StartRow, 37);
    QVERIFY(drop(body));
    QCOMPARE(m_window->StartRow, 0);
    QCOMPARE(m_window->StartHeight, 0.0);
    QCOMPARE(m_window->leditStartH->text(), QString());
    QCOMPARE(m_window->leditMaxZ->text(), QString());
    QCOMPARE(m_window->leditMaxZ->toolTip(), QString());
    QCOMPARE(m_window->CurrentRow, 1);
    QCOMPARE(m_window->lbleRow->text(), QStringLiteral("1"));
    QCOMPARE(m_window->Memo1->CaretRow(), 1);
    QCOMPARE(m_window->Memo1->selectedText(), m_window->Memo1->rowText(1));
    QVERIFY(m_window->Memo1->isReadOnly());
    QVERIFY(!m_window->InsertEnabled);
}

void TestNavigation::heightSearch_data()
{
    QTest::addColumn<QString>("height");
    QTest::addColumn<bool>("insertionBefore");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("zText");
    QTest::addColumn<bool>("notice");
    QTest::addColumn<bool>("insertionAfter");

    QTest::newRow("0.3: row 60, below the target 0.6")
        << u"0.3"_s << false << 60 << u"0.500"_s << false << true;
    QTest::newRow("0.2: Z equal to the target reaches it")
        << u"0.2"_s << false << 37 << u"0.300"_s << false << true;
    QTest::newRow("1: not found") << u"1"_s << false << 37 << u"0.300"_s << true << false;
    QTest::newRow("1: not found keeps insertion on") << u"1"_s << true << 37 << u"0.300"_s << true << true;
    QTest::newRow("0: the start row reaches it") << u"0"_s << false << 37 << u"0.300"_s << false << true;
    QTest::newRow("empty: the start row reaches it") << u""_s << false << 37 << u"0.300"_s << false << true;
}

void TestNavigation::heightSearch()
{
    QFETCH(QString, height);
    QFETCH(bool, insertionBefore);
    QFETCH(int, row);
    QFETCH(QString, zText);
    QFETCH(bool, notice);
    QFETCH(bool, insertionAfter);

    QVERIFY(drop(layers()));
    QCOMPARE(m_window->StartHeight, 0.3);
    if (insertionBefore) {
        type(m_window->lbleRow, QStringLiteral("5"));
        click(m_window->sbtnGoRowNumber);
        QVERIFY(m_window->InsertEnabled);
    }
    // Row 1 or 5, before the first Z line: no height.
    QCOMPARE(m_window->leditCurrentZ->text(), QString());

    type(m_window->leditPause, height);
    BoxAnswerer boxes;
    click(m_window->bbtnHeightSearch);

    // The box tells the last height there is: the last Z line of this body without layers.
    QCOMPARE(boxes.texts,
             notice ? QStringList{QStringLiteral("That height was not found. The last Z line is at Z 0.700.")}
                    : QStringList());
    if (!notice) // no layers in this body: the Z line's row, told in the message area
        QCOMPARE(GuiTest::withoutTime(m_window->memoMessage->toPlainText()),
                 QStringLiteral("Z line at Z %1, row %2.\nA pause here stops before this move.")
                     .arg(zText)
                     .arg(row));
    QCOMPARE(m_window->CurrentRow, row);
    QCOMPARE(m_window->lbleRow->text(), QString::number(row));
    QCOMPARE(m_window->leditCurrentZ->text(), zText);
    QCOMPARE(m_window->InsertEnabled, insertionAfter);
    QVERIFY(insertionControlsAre(insertionAfter));
    QCOMPARE(m_window->Memo1->selectedText(), m_window->Memo1->rowText(row));
    QVERIFY(m_window->Memo1->isReadOnly());
    // The focus stays on the button the user pressed.
    QCOMPARE(m_window->focusWidget(), static_cast<QWidget*>(m_window->bbtnHeightSearch));
}

// After a longer file with a start, a file without one: the search walks from row 0, not from
// the earlier file's start row past this file's end.
void TestNavigation::heightSearchAfterFileWithoutStart()
{
    QVERIFY(drop(layers()));
    QVERIFY(drop(body(10, {{1, "G1 Z0.9 F420"}})));
    QCOMPARE(m_window->StartRow, 0);
    QCOMPARE(m_window->leditCurrentZ->text(), QStringLiteral("0.900"));

    type(m_window->leditPause, QStringLiteral("0.3"));
    BoxAnswerer boxes;
    click(m_window->bbtnHeightSearch);

    QCOMPARE(boxes.texts, QStringList());
    QCOMPARE(m_window->CurrentRow, 1);
    QCOMPARE(m_window->lbleRow->text(), QStringLiteral("1"));
    QCOMPARE(m_window->leditCurrentZ->text(), QStringLiteral("0.900"));
    QCOMPARE(m_window->Memo1->lineCount(), 10);
    QVERIFY(m_window->Memo1->isReadOnly());
}

// No structure comment: the first layer is the start; the max is the top layer, and its tooltip
// names the last Z line where that is elsewhere (the final lift, a Z in a comment).
void TestNavigation::printAnalysisOnLayers()
{
    QVERIFY(drop(g0Layers()));
    QCOMPARE(m_window->StartRow, 5);
    QCOMPARE(m_window->StartHeight, 0.3);
    QCOMPARE(m_window->leditStartH->text(), QStringLiteral("0.300"));
    QCOMPARE(m_window->leditMaxZ->text(), QStringLiteral("0.400+0.300=0.700"));
    QCOMPARE(m_window->leditMaxZ->toolTip(),
             QStringLiteral("Top layer 3 at Z 0.700, row 15. The last Z line, on row 17, is at Z 20.000."));
    QCOMPARE(m_window->leditCurrentZ->text(), QString()); // row 1, before the first layer
    QCOMPARE(m_window->CurrentRow, 1);
    QVERIFY(!m_window->InsertEnabled);

    // A last Z line in a settings comment, below the top layer.
    QVERIFY(drop(g0Layers() + "; end_gcode = G1 Z3 F720\n"));
    QCOMPARE(m_window->leditMaxZ->text(), QStringLiteral("0.400+0.300=0.700"));
    QCOMPARE(m_window->leditMaxZ->toolTip(),
             QStringLiteral("Top layer 3 at Z 0.700, row 15. The last Z line, on row 19, is at Z 3.000."));

    // A file whose last Z line is its top layer: the tooltip names the layer only.
    QVERIFY(drop(printingBody(30, {{3, "G1 Z0.2"}, {10, "G1 Z0.4"}})));
    QCOMPARE(m_window->StartRow, 3);
    QCOMPARE(m_window->leditMaxZ->text(), QStringLiteral("0.200+0.200=0.400"));
    QCOMPARE(m_window->leditMaxZ->toolTip(), QStringLiteral("Top layer 2 at Z 0.400, row 10."));

    // Relative moves after the top layer ("G1 Z+10" in G91, as Cura's end code lifts): still the top layer.
    QVERIFY(
        drop(printingBody(30, {{3, "G1 Z0.2"}, {10, "G1 Z0.4"}, {27, "G91"}, {28, "G1 Z+10"}, {29, "G90"}})));
    QCOMPARE(m_window->leditMaxZ->text(), QStringLiteral("0.200+0.200=0.400"));
}

// A three-digit height: the field keeps its place and size and shows the whole text in a smaller
// font; a short text afterwards has the field's own font again.
void TestNavigation::maxHeightShowsThreeDigitHeightsWhole()
{
    const QRect geometry = m_window->leditMaxZ->geometry();
    const QFont font = m_window->leditMaxZ->font();
    QMap<int, QByteArray> tall{{3, "G1 Z0.2"}};
    for (int layer = 1; layer < 40; ++layer)
        tall.insert(3 + 2 * layer, "G1 Z" + QByteArray::number(0.2 + 5.0 * layer, 'f', 1));
    tall.insert(3 + 2 * 40, "G1 Z199.9");
    QVERIFY(drop(printingBody(100, tall)));
    const QString text = m_window->leditMaxZ->text();
    QCOMPARE(text, QStringLiteral("199.700+0.200=199.900"));
    QCOMPARE(m_window->leditMaxZ->geometry(), geometry);
    const int frame = m_window->leditMaxZ->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const int room = m_window->leditMaxZ->width() - 2 * frame - 4; // QLineEdit keeps 2 pixels a side
    QVERIFY2(QFontMetrics(font).horizontalAdvance(text) > room, "the field's own font clips this text");
    QVERIFY2(QFontMetrics(m_window->leditMaxZ->font()).horizontalAdvance(text) <= room,
             qPrintable(QStringLiteral("%1 pixels of text in %2")
                            .arg(QFontMetrics(m_window->leditMaxZ->font()).horizontalAdvance(text))
                            .arg(room)));
    QCOMPARE(m_window->leditMaxZ->cursorPosition(), 0);

    QVERIFY(drop(printingBody(30, {{3, "G1 Z0.2"}, {10, "G1 Z0.4"}})));
    QCOMPARE(m_window->leditMaxZ->font(), font);
}

void TestNavigation::heightSearchOnLayers_data()
{
    QTest::addColumn<QString>("height");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("zText");
    QTest::addColumn<QString>("message");

    // The start is 0.3; the Z line rule would stop at the hop's return on row 9 or at the lift.
    QTest::newRow("0.3: the layer at 0.5 changes on its G0 row")
        << u"0.3"_s << 12 << u"0.500"_s
        << u"Layer 2 of 3 at Z 0.500, row 12.\nA pause here stops after Z 0.300."_s;
    QTest::newRow("0.1: the first layer, not the hop")
        << u"0.1"_s << 5 << u"0.300"_s
        << u"Layer 1 of 3 at Z 0.300, row 5.\nA pause here stops before layer 1."_s;
    QTest::newRow("0: at the first layer, the first layer")
        << u"0"_s << 5 << u"0.300"_s
        << u"Layer 1 of 3 at Z 0.300, row 5.\nA pause here stops before layer 1."_s;
    QTest::newRow("0.39: the last layer below 0.69")
        << u"0.39"_s << 12 << u"0.500"_s
        << u"Layer 2 of 3 at Z 0.500, row 12.\nA pause here stops after Z 0.300."_s;
    // Not found: a box, and the start row is shown as any chosen row is.
    QTest::newRow("0.41: above the top layer, none reaches it")
        << u"0.41"_s << 5 << u"0.300"_s << QString();
    QTest::newRow("1: above the top layer, the lift is none") << u"1"_s << 5 << u"0.300"_s << QString();
}

void TestNavigation::heightSearchOnLayers()
{
    QFETCH(QString, height);
    QFETCH(int, row);
    QFETCH(QString, zText);
    QFETCH(QString, message);

    QVERIFY(drop(g0Layers()));
    const QString hint = GuiTest::withoutTime(m_window->memoMessage->toPlainText());
    type(m_window->leditPause, height);
    BoxAnswerer boxes;
    click(m_window->bbtnHeightSearch);

    // The box names the top layer's height, above the start and in all.
    QCOMPARE(boxes.texts, message.isEmpty() ? QStringList{QStringLiteral(
                                                  "That height was not found. The top layer is at Z 0.700 "
                                                  "(0.400 above the start).")}
                                            : QStringList());
    QCOMPARE(m_window->CurrentRow, row);
    QCOMPARE(m_window->lbleRow->text(), QString::number(row));
    QCOMPARE(m_window->Memo1->selectedText(), m_window->Memo1->rowText(row));
    QCOMPARE(m_window->leditCurrentZ->text(), zText);
    QCOMPARE(m_window->InsertEnabled, !message.isEmpty());
    QCOMPARE(GuiTest::withoutTime(m_window->memoMessage->toPlainText()),
             message.isEmpty() ? u"Layer 1 of 3 at Z 0.300, row 5.\nA pause here stops before layer 1."_s : message);
    QVERIFY(hint.contains(u"19 rows, 3 layers from Z 0.300 to Z 0.700"_s));

    // The next drop says nothing of this file's rows.
    QVERIFY(drop(layers()));
    QVERIFY(!GuiTest::withoutTime(m_window->memoMessage->toPlainText()).contains(u"row 5"_s));
    QVERIFY(!GuiTest::withoutTime(m_window->memoMessage->toPlainText()).contains(u"row 12"_s));
}

void TestNavigation::currentZOnLayers_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("zText");

    QTest::newRow("start G-code: no layer yet") << 3 << u""_s;
    QTest::newRow("travel after the hop: still the first layer") << 8 << u"0.300"_s;
    QTest::newRow("G0 layer change row") << 12 << u"0.500"_s;
    QTest::newRow("extrusion of the second layer") << 13 << u"0.500"_s;
    QTest::newRow("after the final lift: the top layer") << 18 << u"0.700"_s;
}

// A click shows the height of the layer the row belongs to.
void TestNavigation::currentZOnLayers()
{
    QFETCH(int, row);
    QFETCH(QString, zText);
    QVERIFY(drop(g0Layers()));
    clickRow(row);
    QCOMPARE(m_window->CurrentRow, row);
    QCOMPARE(m_window->leditCurrentZ->text(), zText);
}

// The layers follow the text: a pause line inserted before a layer change moves it a row down,
// Ctrl+Z moves it back, and rows typed into the editor make a layer of their own.
void TestNavigation::layersFollowInsertedUndoneAndTypedRows()
{
    const auto searchRow = [this](const QString& height) {
        type(m_window->leditPause, height);
        click(m_window->bbtnHeightSearch);
        return m_window->CurrentRow;
    };
    QVERIFY(drop(g0Layers()));
    QCOMPARE(searchRow(QStringLiteral("0.3")), 12);
    QVERIFY(m_window->rbtnBefore->isChecked());
    click(m_window->btnPause);
    QCOMPARE(m_window->Memo1->rowText(12), QStringLiteral("M25"));
    QCOMPARE(searchRow(QStringLiteral("0.3")), 13);
    clickRow(15); // ";LAYER:2", a row down: still the layer at 0.5
    QCOMPARE(m_window->leditCurrentZ->text(), QStringLiteral("0.500"));

    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_window->Memo1->rowText(12), QStringLiteral("G0 F3600 X10 Y10 Z0.5"));
    QCOMPARE(searchRow(QStringLiteral("0.3")), 12);

    // Typed in front of ";LAYER:2" (row 14): a layer at 0.6 of its own.
    clickRow(14);
    QVERIFY(!m_window->Memo1->isReadOnly());
    QTest::keyClick(m_window->Memo1, Qt::Key_Home);
    QTest::keyClicks(m_window->Memo1, QStringLiteral("G1 Z0.6"));
    QTest::keyClick(m_window->Memo1, Qt::Key_Return);
    QTest::keyClicks(m_window->Memo1, QStringLiteral("G1 X1 Y1 E3.5"));
    QTest::keyClick(m_window->Memo1, Qt::Key_Return);
    QCOMPARE(m_window->Memo1->rowText(14), QStringLiteral("G1 Z0.6"));
    QCOMPARE(searchRow(QStringLiteral("0.35")), 14);
    QCOMPARE(m_window->leditCurrentZ->text(), QStringLiteral("0.600"));
    QCOMPARE(searchRow(QStringLiteral("0.25")), 12);
    clickRow(17);
    QCOMPARE(m_window->leditCurrentZ->text(), QStringLiteral("0.700"));
}

void TestNavigation::keywordScan_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("buttons"); // G: forward, B: backward
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QStringList>("zTexts");

    QTest::newRow("forward steps, then the wrap to row 1")
        << u"M25"_s << u"GGGG"_s << QList<int>{5, 10, 1, 5} << QStringList{"0.300", "0.500", "", "0.300"};
    QTest::newRow("forward, then backward")
        << u"M25"_s << u"GGB"_s << QList<int>{5, 10, 5} << QStringList{"0.300", "0.500", "0.300"};
    QTest::newRow("backward from row 1 without a match above")
        << u"M25"_s << u"B"_s << QList<int>{1} << QStringList{""};
    QTest::newRow("match on row 0, before the first layer: no Z")
        << u"M117"_s << u"GB"_s << QList<int>{15, 0} << QStringList{"0.500", ""};
    QTest::newRow("forward never reaches rows 0 and 1 again")
        << u"M117"_s << u"GGG"_s << QList<int>{15, 1, 15} << QStringList{"0.500", "", "0.500"};
    QTest::newRow("lower-case keyword") << u"m25"_s << u"G"_s << QList<int>{12} << QStringList{"0.500"};
    QTest::newRow("lower case does not match capitals")
        << u"g28"_s << u"G"_s << QList<int>{1} << QStringList{""};
}

void TestNavigation::keywordScan()
{
    QFETCH(QString, keyword);
    QFETCH(QString, buttons);
    QFETCH(QList<int>, rows);
    QFETCH(QStringList, zTexts);

    QVERIFY(drop(keywords()));
    QCOMPARE(m_window->CurrentRow, 1);
    QTest::keyClicks(m_window->cboxKeyword, keyword);
    QCOMPARE(m_window->cboxKeyword->currentText(), keyword);
    // A click on row 1 makes the buffer writable and switches insertion on; a scan makes it
    // read-only and leaves insertion alone.
    clickRow(1);
    EditBuffer* memo = m_window->Memo1;
    QVERIFY(!memo->isReadOnly());

    for (int i = 0; i < buttons.size(); ++i) {
        click(buttons[i] == u'G' ? m_window->sbtnGo : m_window->sbtnBack);
        const QByteArray step = QByteArray("press ") + QByteArray::number(i + 1);
        QVERIFY2(m_window->CurrentRow == rows[i], step);
        QVERIFY2(m_window->lbleRow->text() == QString::number(rows[i]), step);
        QVERIFY2(memo->selectedText() == memo->rowText(rows[i]), step);
        QVERIFY2(m_window->leditCurrentZ->text() == zTexts[i], step);
        QVERIFY2(memo->isReadOnly(), step);
        QVERIFY2(m_window->focusWidget() == (buttons[i] == u'G' ? m_window->sbtnGo : m_window->sbtnBack),
                 step);
    }
    QVERIFY(m_window->InsertEnabled);
    QVERIFY(insertionControlsAre(true));
}

// An empty keyword changes nothing.
void TestNavigation::emptyKeyword()
{
    QVERIFY(drop(keywords()));
    type(m_window->lbleRow, QStringLiteral("8"));
    click(m_window->sbtnGoRowNumber);
    QCOMPARE(m_window->CurrentRow, 8);
    EditBuffer* memo = m_window->Memo1;
    const QString zText = m_window->leditCurrentZ->text();
    const QString message = GuiTest::withoutTime(m_window->memoMessage->toPlainText());
    QVERIFY(!memo->isReadOnly());

    click(m_window->sbtnGo);
    QCOMPARE(m_window->CurrentRow, 8);
    QCOMPARE(memo->CaretRow(), 8);
    QCOMPARE(m_window->lbleRow->text(), QStringLiteral("8"));
    QCOMPARE(m_window->leditCurrentZ->text(), zText);
    QCOMPARE(GuiTest::withoutTime(m_window->memoMessage->toPlainText()), message);
    QVERIFY(!memo->isReadOnly());
}

void TestNavigation::rowNumber_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("insertion");
    QTest::addColumn<int>("caretRow");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("zText"); // the row's layer: Z 0.3 from row 2, 0.5 from row 8

    QTest::newRow("row 1: insertion off, read-only") << u"1"_s << 1 << false << 1 << true << u""_s;
    QTest::newRow("row 0: insertion on, writable") << u"0"_s << 0 << true << 0 << false << u""_s;
    QTest::newRow("row 8") << u"8"_s << 8 << true << 8 << false << u"0.500"_s;
    QTest::newRow("row 5") << u"5"_s << 5 << true << 5 << false << u"0.300"_s;
    QTest::newRow("empty counts as row 0") << u""_s << 0 << true << 0 << false << u""_s;
    QTest::newRow("last row of text") << u"19"_s << 19 << true << 19 << false << u"0.500"_s;
    // No row to insert at: the insert buttons are off, so that a click cannot insert nothing.
    QTest::newRow("past the end: caret stays, insertion off")
        << u"500"_s << 500 << false << 2 << false << u""_s;
    QTest::newRow("the empty row after the last line break")
        << u"20"_s << 20 << true << 20 << false << u"0.500"_s;
    QTest::newRow("beyond the int range") << u"99999999999"_s << INT_MAX << false << 2 << false << u""_s;
}

// The jump shows the row as every choice does: the field names the row gone to, the Z field
// its height.
void TestNavigation::rowNumber()
{
    QFETCH(QString, typed);
    QFETCH(int, row);
    QFETCH(bool, insertion);
    QFETCH(int, caretRow);
    QFETCH(bool, readOnly);
    QFETCH(QString, zText);

    QVERIFY(drop(keywords()));
    clickRow(2);
    QCOMPARE(m_window->leditCurrentZ->text(), QStringLiteral("0.300"));
    type(m_window->lbleRow, typed);
    QWidget* const focus = m_window->focusWidget();
    click(m_window->sbtnGoRowNumber);

    EditBuffer* memo = m_window->Memo1;
    QCOMPARE(m_window->CurrentRow, row);
    QCOMPARE(m_window->InsertEnabled, insertion);
    QVERIFY(insertionControlsAre(insertion));
    QCOMPARE(memo->isReadOnly(), readOnly);
    QCOMPARE(memo->CaretRow(), caretRow);
    QVERIFY(!memo->hasSelectedText());
    if (memo->hasRow(row))
        QCOMPARE(memo->SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS), long(memo->rowStart(row)));
    QCOMPARE(m_window->lbleRow->text(), QString::number(row));
    QCOMPARE(m_window->leditCurrentZ->text(), zText);
    // The arrow takes no focus: it stays where the user was.
    QCOMPARE(m_window->focusWidget(), focus);
}

void TestNavigation::click_data()
{
    QTest::addColumn<int>("clicked");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("zText");

    QTest::newRow("row 0") << 0 << 0 << u""_s;
    QTest::newRow("row above the first Z line") << 1 << 1 << u""_s;
    QTest::newRow("Z line") << 2 << 2 << u"0.300"_s;
    QTest::newRow("below the second Z line") << 9 << 9 << u"0.500"_s;
}

void TestNavigation::click()
{
    QFETCH(int, clicked);
    QFETCH(int, row);
    QFETCH(QString, zText);

    QVERIFY(drop(keywords()));
    QVERIFY(m_window->Memo1->isReadOnly());
    QVERIFY(!m_window->InsertEnabled);
    clickRow(clicked);

    QCOMPARE(m_window->Memo1->CaretRow(), clicked);
    QCOMPARE(m_window->CurrentRow, row);
    QCOMPARE(m_window->lbleRow->text(), QString::number(row));
    QCOMPARE(m_window->leditCurrentZ->text(), zText);
    QVERIFY(m_window->InsertEnabled);
    QVERIFY(insertionControlsAre(true));
    QVERIFY(!m_window->Memo1->isReadOnly());
    QVERIFY(memoHasFocus());

    // Going to row 1 with the button switches insertion off again.
    type(m_window->lbleRow, QStringLiteral("1"));
    click(m_window->sbtnGoRowNumber);
    QVERIFY(!m_window->InsertEnabled);
    QVERIFY(insertionControlsAre(false));
    QVERIFY(m_window->Memo1->isReadOnly());
}

// The caret moved with the keyboard takes its row along: the row shown is the row the next lines
// go to. The read-only state stays as it was.
void TestNavigation::keyboardMoveIsFollowed()
{
    QVERIFY(drop(keywords()));
    clickRow(5);
    QCOMPARE(m_window->CurrentRow, 5);
    QTest::keyClick(m_window->Memo1, Qt::Key_Down);
    QTest::keyClick(m_window->Memo1, Qt::Key_Down);
    QTRY_COMPARE(m_window->CurrentRow, 7);
    QCOMPARE(m_window->Memo1->CaretRow(), 7);
    QCOMPARE(m_window->lbleRow->text(), QStringLiteral("7"));
    QTest::keyClick(m_window->Memo1, Qt::Key_Down);
    QTRY_COMPARE(m_window->CurrentRow, 8);
    QCOMPARE(m_window->leditCurrentZ->text(), QStringLiteral("0.500"));
    QVERIFY(!m_window->Memo1->isReadOnly());
}

void TestNavigation::selectionShowsTheRowFromItsStart_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<int>("row");

    // Rows of the fixture below: layers (Z lines) at rows 37, 300 and 500, the start at 37.
    QTest::newRow("height search") << "height" << 300;
    QTest::newRow("height not found: the start row") << "not found" << 37;
    QTest::newRow("keyword search") << "keyword" << 420;
    QTest::newRow("row number") << "row" << 450;
    QTest::newRow("ruler") << "ruler" << 500;
    QTest::newRow("warning click") << "warning" << 550;
}

// Every row is a long line whose command is at its start: whatever selects a row shows that
// start, and the row in the middle of the view when it was out of view.
void TestNavigation::selectionShowsTheRowFromItsStart()
{
    QFETCH(QString, way);
    QFETCH(int, row);

    const QByteArray tail = " ;" + QByteArray(600, 'c');
    QMap<int, QByteArray> rows{
        {37, "G1 Z0.3 F420"}, {300, "G1 Z0.5 F420"}, {500, "G1 Z0.7 F420"}, {420, "M117 here"}, {550, "M25"}};
    for (int r = 0; r < 620; ++r)
        rows[r] = rows.value(r, "G1 X10.5 Y20.25 E" + QByteArray::number(0.01 * (r + 1), 'f', 2)) + tail;
    QVERIFY(drop(printingBody(620, rows)));
    QCOMPARE(m_window->StartRow, 37);
    // The times come in the background and complete the message, which may then take another line
    // of the editor's height: here they are there before the row is chosen.
    QTRY_VERIFY(m_window->printTimes());

    EditBuffer* memo = m_window->Memo1;
    // Away from the row: the view at the end of the text and scrolled right.
    const auto scrollAway = [memo] {
        memo->SendScintilla(QsciScintillaBase::SCI_SETFIRSTVISIBLELINE, 610L);
        memo->SendScintilla(QsciScintillaBase::SCI_SETXOFFSET, 3000L);
        QCOMPARE(memo->SendScintilla(QsciScintillaBase::SCI_GETXOFFSET), 3000L);
    };
    scrollAway();
    BoxAnswerer boxes;
    if (way == "height" || way == "warning") {
        type(m_window->leditPause, QStringLiteral("0.3"));
        click(m_window->bbtnHeightSearch);
        if (way == "warning") {
            QCOMPARE(m_window->CurrentRow, 300);
            scrollAway();
            // The last message line: the file's own pause, on row 550.
            QPlainTextEdit* message = m_window->memoMessage;
            const QTextBlock last = message->document()->lastBlock();
            QVERIFY2(last.text().contains(QStringLiteral("row 550")), qPrintable(last.text()));
            const QRect at = message->cursorRect(QTextCursor(last));
            QTest::mouseClick(message->viewport(), Qt::LeftButton, {}, at.center() + QPoint(4, 0));
        }
    } else if (way == "not found") {
        type(m_window->leditPause, QStringLiteral("50"));
        click(m_window->bbtnHeightSearch);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts.front().startsWith(QStringLiteral("That height was not found.")),
                 qPrintable(boxes.texts.front()));
    } else if (way == "keyword") {
        m_window->cboxKeyword->setEditText(QStringLiteral("M117"));
        click(m_window->sbtnGo);
    } else if (way == "row") {
        type(m_window->lbleRow, QString::number(row));
        click(m_window->sbtnGoRowNumber);
    } else if (way == "ruler") {
        auto* ruler = m_window->findChild<LayerRuler*>(QStringLiteral("layerRuler"));
        QVERIFY(ruler);
        QTRY_VERIFY(!ruler->bandOf(2).isEmpty());
        QTest::mouseClick(ruler, Qt::LeftButton, {},
                          QPoint(ruler->width() / 2, ruler->bandOf(2).center().y()));
    }
    QCOMPARE(m_window->CurrentRow, row);
    QCOMPARE(memo->CaretRow(), row);
    QCOMPARE(memo->SendScintilla(QsciScintillaBase::SCI_GETXOFFSET), 0L);
    QCOMPARE(memo->horizontalScrollBar()->value(), 0);
    const long first = memo->SendScintilla(QsciScintillaBase::SCI_GETFIRSTVISIBLELINE);
    const long shown = memo->SendScintilla(QsciScintillaBase::SCI_LINESONSCREEN);
    QVERIFY2(row >= first && row < first + shown,
             qPrintable(QStringLiteral("rows %1 to %2").arg(first).arg(first + shown - 1)));
    QVERIFY2(qAbs(row - (first + shown / 2)) <= 1, "in the middle of the view");
}

void TestNavigation::enterRunsTheSearch_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("row");

    // In layers(): Z 0.3 on row 37, 0.5 on row 60, 0.7 on row 90, the structure comment on row 40.
    // clang-format off
    QTest::newRow("Insert Height")  << "leditPause"  << "0.3"         << 60;
    QTest::newRow("Row Number")     << "lbleRow"     << "9"           << 9;
    QTest::newRow("Search Keyword") << "cboxKeyword" << "shell-inner" << 40;
    // clang-format on
}

// Enter in a field does what its button does, and the focus stays in the field.
void TestNavigation::enterRunsTheSearch()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(int, row);

    QVERIFY(drop(layers()));
    BoxAnswerer boxes;
    QWidget* target = m_window->findChild<QWidget*>(field);
    QVERIFY(target);
    target->setFocus(Qt::TabFocusReason);
    QWidget* typedInto = QApplication::focusWidget();
    QVERIFY(typedInto == target || typedInto->parentWidget() == target);
    QTest::keyClick(typedInto, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(typedInto, typed);
    QTest::keyClick(typedInto, Qt::Key_Return);
    QCOMPARE(boxes.texts, QStringList());
    QCOMPARE(m_window->CurrentRow, row);
    QCOMPARE(m_window->Memo1->CaretRow(), row);
    QCOMPARE(QApplication::focusWidget(), typedInto);
}

// Tab reaches the keyword arrows after the keyword box; Space presses them.
void TestNavigation::keywordArrowsFromTheKeyboard()
{
    QVERIFY(drop(keywords()));
    m_window->cboxKeyword->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("M25"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m_window->sbtnGo));
    QTest::keyClick(m_window->sbtnGo, Qt::Key_Space);
    QCOMPARE(m_window->CurrentRow, 5);
    QTest::keyClick(m_window->sbtnGo, Qt::Key_Space);
    QCOMPARE(m_window->CurrentRow, 10);
    QTest::keyClick(m_window->sbtnGo, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m_window->sbtnBack));
    QTest::keyClick(m_window->sbtnBack, Qt::Key_Space);
    QCOMPARE(m_window->CurrentRow, 5);
}

void TestNavigation::keywordNotFoundIsSaid_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("said");

    QTest::newRow("nowhere in the text")
        << "M999"
        << "sbtnGo" << 1
        << R"("M999" was not found below row 1. Row 1 is selected: choose a row to insert at.)";
    QTest::newRow("not above the caret")
        << "M117 mid"
        << "sbtnBack" << 12
        << R"("M117 mid" was not found above row 12. Row 1 is selected: choose a row to insert at.)";
}

// A keyword that is not found selects row 1 as before, and the message area says why.
void TestNavigation::keywordNotFoundIsSaid()
{
    QFETCH(QString, keyword);
    QFETCH(QString, button);
    QFETCH(int, from);
    QFETCH(QString, said);

    QVERIFY(drop(keywords()));
    type(m_window->lbleRow, QString::number(from));
    click(m_window->sbtnGoRowNumber);
    m_window->cboxKeyword->setEditText(keyword);
    click(m_window->findChild<QWidget*>(button));
    QCOMPARE(m_window->CurrentRow, 1);
    QCOMPARE(GuiTest::withoutTime(m_window->memoMessage->toPlainText()), said);
}

// After a pause pressed from the keyboard, Ctrl+Z takes it back though the focus is on the button.
void TestNavigation::undoWhereTheFocusIs()
{
    QVERIFY(drop(keywords()));
    type(m_window->lbleRow, QStringLiteral("9"));
    QTest::keyClick(m_window->lbleRow, Qt::Key_Return);
    const QString before = m_window->Memo1->rowText(9);
    m_window->btnPause->setFocus(Qt::TabFocusReason);
    QTest::keyClick(m_window->btnPause, Qt::Key_Space);
    QCOMPARE(m_window->Memo1->rowText(9), QStringLiteral("M25"));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m_window->btnPause));
    QTest::keyClick(m_window->btnPause, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_window->Memo1->rowText(9), before);
    QTest::keySequence(m_window->btnPause, QKeySequence(QKeySequence::Redo));
    QCOMPARE(m_window->Memo1->rowText(9), QStringLiteral("M25"));
    // In a field, Ctrl+Z takes back the field's own typing and leaves the lines alone.
    type(m_window->leditT0Temperature, QStringLiteral("215"));
    QTest::keyClick(m_window->leditT0Temperature, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_window->Memo1->rowText(9), QStringLiteral("M25"));
}

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
