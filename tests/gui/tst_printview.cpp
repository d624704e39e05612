// Seeing the print through the real window: the row numbers in the editor's margin, the marks
// beside pauses, temperatures, tool changes and inserted lines, the layer ruler, and the
// warnings in the message area.

#include "GuiTestSupport.h"
#include "TestPaths.h"

#include "core/text/Utility.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/LayerRuler.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

#include <memory>

using Kind = PrintEvents::Kind;

namespace {

const QByteArray kHeader = ";FLAVOR:Marlin\n;Generated for a test\n";

// A print of count layers 0.2 mm apart from 0.3 mm: each layer is a Z move and four
// extrusions, so layer n's change row is 1 + 5n (row 0 homes the printer). The model starts
// on the first layer (row 2 says so). The given rows are replaced, which must leave the Z
// moves alone.
QByteArray print(int count, const QMap<int, QByteArray>& rows = {})
{
    QList<QByteArray> lines{"G28"};
    double e = 0;
    for (int layer = 0; layer < count; ++layer) {
        lines << "G1 Z" + QByteArray::number(0.3 + 0.2 * layer, 'f', 1) + " F420";
        for (int i = 0; i < 4; ++i)
            lines << "G1 X" + QByteArray::number(10 + i) + " Y10 E" + QByteArray::number(e += 0.5, 'f', 2);
    }
    lines[2] = ";structure:shell-inner";
    for (auto row = rows.begin(); row != rows.end(); ++row)
        lines[row.key()] = row.value();
    return lines.join('\n') + '\n';
}

int changeRow(int layer)
{
    return 1 + 5 * layer;
}

QString realPath(const QString& name)
{
    return QDir(QStringLiteral(BORVANE_REAL_FIXTURES_DIR)).filePath(name);
}

} // namespace

class TestPrintView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void marginNumberIsWhatTheRowFieldSelects_data();
    void marginNumberIsWhatTheRowFieldSelects();
    void marginShowsLayerLabels();
    void rulerClickSelectsAsAHeightSearch();
    void rulerWheelStepsLayers();
    void marksOfRealFiles_data();
    void marksOfRealFiles();
    void insertedLinesAreMarkedUntilUndone();
    void temperatureSetAgainIsWarned_data();
    void temperatureSetAgainIsWarned();
    void temperatureSetAgainInARealFile();
    void pauseWarnings();
    void everyWarningCanBeRead();
    void heaterOffAfterTheLastLayer_data();
    void heaterOffAfterTheLastLayer();
    void secondInsertionOfTheSameKind();
    void undoTakesTheWarnings();
    void typedRowsAreMarkedAndListed();

private:
    bool drop(const QByteArray& body);
    bool dropReal(const QString& name);
    void type(QLineEdit* edit, const QString& text);
    void goToRow(int row);
    void searchHeight(const QString& height);
    LayerRuler* ruler() const { return m_window->findChild<LayerRuler*>(QStringLiteral("layerRuler")); }
    // The margin line drawn beside row, which must be on screen.
    std::optional<EditBuffer::MarginLine> marginAt(int row) const;
    // The margin line drawn at the caret's height.
    std::optional<EditBuffer::MarginLine> marginAtCaret() const;
    bool rulerShowsColour(const QColor& colour) const;
    QStringList messageLines() const { return GuiTest::withoutTime(m_window->memoMessage->toPlainText()).split(u'\n'); }
    void clickMessageLine(int line);

    QTemporaryDir m_dir;
    std::unique_ptr<TEditorForBorvane5_Form1> m_window;
    int m_files = 0;
};

void TestPrintView::init()
{
    QVERIFY(m_dir.isValid());
    m_window = std::make_unique<TEditorForBorvane5_Form1>();
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestPrintView::cleanup()
{
    m_window.reset();
}

bool TestPrintView::drop(const QByteArray& body)
{
    const QString path = m_dir.filePath(QStringLiteral("print%1.gcode").arg(++m_files));
    return GuiTest::writeFile(path, kHeader + body) && GuiTest::dropFile(m_window.get(), path) &&
           m_window->DroppedPath == QDir::toNativeSeparators(path);
}

bool TestPrintView::dropReal(const QString& name)
{
    const QString path = m_dir.filePath(QStringLiteral("%1-%2").arg(++m_files).arg(name));
    return QFile::copy(realPath(name), path) && GuiTest::dropFile(m_window.get(), path);
}

void TestPrintView::type(QLineEdit* edit, const QString& text)
{
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

void TestPrintView::goToRow(int row)
{
    type(m_window->lbleRow, QString::number(row));
    QTest::mouseClick(m_window->sbtnGoRowNumber, Qt::LeftButton);
}

void TestPrintView::searchHeight(const QString& height)
{
    type(m_window->leditPause, height);
    QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);
}

std::optional<EditBuffer::MarginLine> TestPrintView::marginAt(int row) const
{
    for (const EditBuffer::MarginLine& line : m_window->Memo1->marginLines()) {
        if (line.row == row)
            return line;
    }
    return std::nullopt;
}

std::optional<EditBuffer::MarginLine> TestPrintView::marginAtCaret() const
{
    EditBuffer* memo = m_window->Memo1;
    const long caret = memo->SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS);
    const int y = int(memo->SendScintilla(QsciScintillaBase::SCI_POINTYFROMPOSITION, 0UL, caret));
    for (const EditBuffer::MarginLine& line : memo->marginLines()) {
        if (y >= line.top && y < line.top + line.height)
            return line;
    }
    return std::nullopt;
}

// The ruler as drawn once the marks of the current text were found, which happens a quarter
// of a second after the last paint that needed them.
bool TestPrintView::rulerShowsColour(const QColor& colour) const
{
    ruler()->grab();
    QTest::qWait(400);
    const QImage picture = ruler()->grab().toImage();
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (picture.pixelColor(x, y) == colour)
                return true;
        }
    }
    return false;
}

void TestPrintView::clickMessageLine(int line)
{
    QPlainTextEdit* message = m_window->memoMessage;
    const QTextBlock block = message->document()->findBlockByNumber(line);
    QTextCursor cursor(block);
    message->setTextCursor(cursor);
    const QRect at = message->cursorRect(cursor);
    QTest::mouseClick(message->viewport(), Qt::LeftButton, {}, at.center() + QPoint(4, 0));
}

void TestPrintView::marginNumberIsWhatTheRowFieldSelects_data()
{
    QTest::addColumn<int>("row");
    QTest::newRow("row 0") << 0;
    QTest::newRow("row 1") << 1;
    QTest::newRow("row 7") << 7;
    QTest::newRow("far down, scrolled") << 980;
    QTest::newRow("last row") << 1000;
}

// A number read in the margin and typed into "Row Number" goes to the row beside that number.
void TestPrintView::marginNumberIsWhatTheRowFieldSelects()
{
    QFETCH(int, row);
    QVERIFY(drop(print(200)));
    QCOMPARE(m_window->Memo1->lineCount(), 1001);
    goToRow(row);
    QCOMPARE(m_window->Memo1->CaretRow(), row);
    const std::optional<EditBuffer::MarginLine> line = marginAtCaret();
    QVERIFY(line);
    QCOMPARE(line->number, m_window->lbleRow->text());
    QCOMPARE(line->row, row);
}

void TestPrintView::marginShowsLayerLabels()
{
    QVERIFY(drop(print(100)));
    goToRow(changeRow(72));
    // Layers are counted from 1: layer 72 is the 72nd from the bottom, at 0.3 + 71 * 0.2.
    const std::optional<EditBuffer::MarginLine> change = marginAt(changeRow(71));
    QVERIFY(change);
    QCOMPARE(change->layer, QStringLiteral("72  14.500"));
    QVERIFY(marginAt(changeRow(71) + 1));
    QCOMPARE(marginAt(changeRow(71) + 1)->layer, QString());
}

// A click on the ruler at a height selects the row a height search for that height selects.
void TestPrintView::rulerClickSelectsAsAHeightSearch()
{
    QVERIFY(drop(print(40)));
    QCOMPARE(m_window->leditStartH->text(), Utility::FormatFixed(0.3, 3));
    LayerRuler* r = ruler();
    QVERIFY(r);
    for (const int layer : {0, 1, 17, 38}) {
        goToRow(1); // insertion off, nothing selected
        QTest::mouseClick(r, Qt::LeftButton, {}, QPoint(50, r->bandOf(std::size_t(layer)).center().y()));
        QCOMPARE(m_window->CurrentRow, changeRow(layer));
        QCOMPARE(m_window->Memo1->CaretRow(), changeRow(layer));
        QCOMPARE(m_window->leditCurrentZ->text(), Utility::FormatFixed(0.3 + 0.2 * layer, 3));
        QVERIFY(m_window->btnPause->isEnabled());
        QCOMPARE(m_window->lbleRow->text(), QString::number(changeRow(layer)));

        // The same row from a height search typed by hand: half a layer above the layer's own height.
        goToRow(1);
        searchHeight(Utility::FormatFixed(0.2 * layer + 0.1, 1));
        QCOMPARE(m_window->CurrentRow, changeRow(layer));
    }
    // The top layer, which a height search cannot reach ("That height was not found."), is
    // selected all the same.
    goToRow(1);
    QTest::mouseClick(r, Qt::LeftButton, {}, QPoint(50, r->bandOf(39).center().y()));
    QCOMPARE(m_window->CurrentRow, changeRow(39));
    QCOMPARE(m_window->leditCurrentZ->text(), Utility::FormatFixed(8.1, 3));
    QVERIFY(m_window->btnPause->isEnabled());
}

void TestPrintView::rulerWheelStepsLayers()
{
    QVERIFY(drop(print(40)));
    searchHeight(Utility::FormatFixed(2.1, 1)); // layer 10
    QCOMPARE(m_window->CurrentRow, changeRow(10));
    const auto turn = [this](int delta) {
        const QPointF at(50, 100);
        QWheelEvent wheel(at, ruler()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(ruler(), &wheel);
    };
    turn(120);
    QCOMPARE(m_window->CurrentRow, changeRow(11));
    turn(-360);
    QCOMPARE(m_window->CurrentRow, changeRow(8));
    QCOMPARE(m_window->leditCurrentZ->text(), Utility::FormatFixed(0.3 + 0.2 * 8, 3));
}

void TestPrintView::marksOfRealFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("dual extruder, M104 S.. T1 and tool changes")
        << "simplify3d_dual-extruder-t0-t1_2352k.gcode";
    QTest::newRow("four colours, T0..T3") << "bambustudio_multicolor-t0-t3-z-hop_3222k.gcode";
    QTest::newRow("CR LF") << "kisslicer_crlf-small_22k.gcode";
    QTest::newRow("Cura") << "cura_basic_256k.gcode";
}

// Every row that pauses, sets a temperature or changes tool, found by a plain reading of the
// file's lines, carries its mark when it is on screen; a sample of other rows carries none.
void TestPrintView::marksOfRealFiles()
{
    QFETCH(QString, name);
    if (!QFile::exists(realPath(name)))
        QSKIP("the real slicer files do not stand beside the repository");
    QVERIFY(dropReal(name));
    const QRegularExpression pause(QStringLiteral("^\\s*M(0|1|25|600|601)(\\s|;|$)"));
    const QRegularExpression temperature(QStringLiteral("^\\s*M(104|109|140|190)(\\s|;|$)"));
    const QRegularExpression tool(QStringLiteral("^\\s*T\\d+(\\s|;|$)"));
    EditBuffer* memo = m_window->Memo1;
    int marked = 0;
    int checked = 0;
    for (int row = 0; row < memo->lineCount() && checked < 400; ++row) {
        const QString text = memo->rowText(row);
        const Kind expected = pause.match(text).hasMatch()         ? Kind::Pause
                              : temperature.match(text).hasMatch() ? Kind::Temperature
                              : tool.match(text).hasMatch()        ? Kind::ToolChange
                                                                   : Kind::None;
        if (expected == Kind::None && row % 997 != 0)
            continue;
        ++checked;
        memo->SendScintilla(QsciScintillaBase::SCI_SETFIRSTVISIBLELINE, long(row));
        const std::optional<EditBuffer::MarginLine> line = marginAt(row);
        QVERIFY2(line, qPrintable(QStringLiteral("row %1 on screen").arg(row)));
        QVERIFY2(line->mark == expected, qPrintable(QStringLiteral("row %1: %2").arg(row).arg(text)));
        QVERIFY(!line->inserted);
        marked += expected != Kind::None;
    }
    QVERIFY(marked > 0);
}

void TestPrintView::insertedLinesAreMarkedUntilUndone()
{
    QVERIFY(drop(print(40, {{180, "M104 S190"}})));
    const QColor pauseRed(200, 30, 30);
    const QColor temperatureOrange(230, 120, 0);
    const QColor insertedGreen(40, 160, 60);
    QVERIFY(rulerShowsColour(temperatureOrange)); // the file's own M104
    QVERIFY(!rulerShowsColour(insertedGreen));
    searchHeight(QStringLiteral("3.1")); // layer 15
    const int row = changeRow(15);
    QCOMPARE(m_window->CurrentRow, row);
    QVERIFY(!rulerShowsColour(pauseRed));

    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    QCOMPARE(m_window->Memo1->rowText(row), QStringLiteral("M25"));
    QCOMPARE(marginAt(row)->mark, Kind::Pause);
    // The layer label moved down with its change row at once.
    QCOMPARE(marginAt(row)->layer, QString());
    QCOMPARE(marginAt(row + 1)->layer, QStringLiteral("16  3.300"));
    QVERIFY(marginAt(row)->inserted);
    QVERIFY(!marginAt(row + 1)->inserted);
    QVERIFY(!marginAt(row - 1)->inserted);
    QVERIFY(rulerShowsColour(pauseRed));
    QVERIFY(rulerShowsColour(insertedGreen));

    type(m_window->leditT0Temperature, QStringLiteral("215"));
    type(m_window->leditBedTemperature, QStringLiteral("65"));
    goToRow(row + 20);
    QTest::mouseClick(m_window->TemperarureInsert, Qt::LeftButton);
    QCOMPARE(m_window->Memo1->insertedRows(), (std::vector<int>{row, row + 20, row + 21}));
    QCOMPARE(marginAt(row + 20)->mark, Kind::Temperature);
    QVERIFY(marginAt(row + 21)->inserted);

    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_window->Memo1->insertedRows(), std::vector<int>{row});
    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_window->Memo1->insertedRows(), std::vector<int>{});
    QCOMPARE(m_window->Memo1->rowText(row), QStringLiteral("G1 Z3.3 F420"));
    // The layers are found again once the text is still.
    QTRY_COMPARE(marginAt(row)->layer, QStringLiteral("16  3.300"));
    QCOMPARE(marginAt(row + 1)->layer, QString());
    QCOMPARE(marginAt(row)->mark, Kind::None);
    QVERIFY(!marginAt(row)->inserted);
    QVERIFY(!rulerShowsColour(pauseRed));
    QVERIFY(!rulerShowsColour(insertedGreen));
    QVERIFY(rulerShowsColour(temperatureOrange));
}

// An inserted temperature that the file sets again a few layers up: the warning names the row,
// its height, the new value and how many layers the inserted one holds; a click on it goes there.
void TestPrintView::temperatureSetAgainIsWarned_data()
{
    QTest::addColumn<QByteArray>("t0Again");  // row 12, while T0 is active
    QTest::addColumn<QByteArray>("t1Again");  // row 43, after the change to T1 on row 27
    QTest::addColumn<QByteArray>("bedAgain"); // row 60

    QTest::newRow("M104 and M140") << QByteArray("M104 S205") << QByteArray("M104 S190")
                                   << QByteArray("M140 S50");
    // M109 sets the active tool's temperature and waits; RepRapFirmware's G10 P1 S sets tool 1's.
    QTest::newRow("M109, G10 P1 S R and M190")
        << QByteArray("M109 S205") << QByteArray("G10 P1 S190 R150") << QByteArray("M190 S50");
}

void TestPrintView::temperatureSetAgainIsWarned()
{
    QFETCH(QByteArray, t0Again);
    QFETCH(QByteArray, t1Again);
    QFETCH(QByteArray, bedAgain);
    // T1 becomes active on row 27 (layer 5), so the bare setting on row 43 (layer 8) sets T1, and
    // the bare one on row 12 (layer 2) still sets T0.
    QVERIFY(drop(print(20, {{12, t0Again}, {27, "T1"}, {43, t1Again}, {60, bedAgain}})));
    searchHeight(QStringLiteral("0.1")); // layer 0
    QCOMPARE(m_window->CurrentRow, changeRow(0));
    type(m_window->leditT0Temperature, QStringLiteral("215"));
    type(m_window->leditT1Temperature, QStringLiteral("200"));
    type(m_window->leditBedTemperature, QStringLiteral("70"));
    QTest::mouseClick(m_window->TemperarureInsert, Qt::LeftButton);
    // Three lines went in at row 1: every later row moved down by three.
    const QStringList lines = messageLines().mid(1); // after what went in
    QCOMPARE(messageLines().front(),
             QStringLiteral("Inserted at row 1: 3 lines."));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0],
             QStringLiteral(
                 "the bed 70 on row 1 is set again on row 63 (Z 2.500) to 50: it holds for 11 layers."));
    QCOMPARE(
        lines[1],
        QStringLiteral("T0 215 on row 2 is set again on row 15 (Z 0.700) to 205: it holds for 2 layers."));
    QCOMPARE(
        lines[2],
        QStringLiteral("T1 200 on row 3 is set again on row 46 (Z 1.900) to 190: it holds for 8 layers."));

    clickMessageLine(3); // under what went in
    QCOMPARE(m_window->CurrentRow, 46);
    QCOMPARE(m_window->Memo1->CaretRow(), 46);
    QCOMPARE(m_window->Memo1->rowText(46), QString::fromLatin1(t1Again));
}

// On the dual-extruder file: a T1 temperature inserted low in the print is set again where a
// plain reading of the following lines, following the tool changes, says; where that is the end
// code switching the heater off after the last layer, nothing is said.
void TestPrintView::temperatureSetAgainInARealFile()
{
    const QString name = QStringLiteral("simplify3d_dual-extruder-t0-t1_2352k.gcode");
    if (!QFile::exists(realPath(name)))
        QSKIP("the real slicer files do not stand beside the repository");
    QVERIFY(dropReal(name));
    searchHeight(QStringLiteral("1"));
    QVERIFY(m_window->btnPause->isEnabled());
    const int at = m_window->CurrentRow;
    type(m_window->leditT1Temperature, QStringLiteral("230"));
    QTest::mouseClick(m_window->TemperarureInsert, Qt::LeftButton);
    QCOMPARE(m_window->Memo1->rowText(at), QStringLiteral("M104 S230 T1"));

    // The plain reading: the active tool from the last "T<n>" line before, then forward.
    EditBuffer* memo = m_window->Memo1;
    const QRegularExpression toolLine(QStringLiteral("^T(\\d+)"));
    const QRegularExpression setting(QStringLiteral("^M10[49] .*S(\\d+)"));
    const QRegularExpression toolWord(QStringLiteral(" T(\\d+)"));
    int active = 0;
    for (int row = 0; row < at; ++row) {
        const auto m = toolLine.match(memo->rowText(row));
        if (m.hasMatch())
            active = m.captured(1).toInt();
    }
    int expected = -1;
    QString value;
    for (int row = at + 1; row < memo->lineCount() && expected < 0; ++row) {
        const QString text = memo->rowText(row).section(u';', 0, 0);
        if (const auto m = toolLine.match(text); m.hasMatch()) {
            active = m.captured(1).toInt();
            continue;
        }
        const auto s = setting.match(text);
        if (!s.hasMatch())
            continue;
        const auto t = toolWord.match(text);
        if ((t.hasMatch() ? t.captured(1).toInt() : active) == 1) {
            expected = row;
            value = s.captured(1);
        }
    }
    QVERIFY2(expected > 0, "the file sets T1 again after the insertion");
    // The slicer's own comment before its last layer ("; layer 324, Z = 48.000"): a heater
    // switched off after it belongs to the end code and undoes nothing.
    int lastLayerComment = -1;
    const QRegularExpression layerComment(QStringLiteral("^; layer \\d+, Z = "));
    for (int row = memo->lineCount() - 1; row > at && lastLayerComment < 0; --row) {
        if (layerComment.match(memo->rowText(row)).hasMatch())
            lastLayerComment = row;
    }
    QVERIFY(lastLayerComment > 0);
    // Under the line that tells what went in.
    const QString warning = messageLines().mid(1).join(u'\n');
    if (value == QStringLiteral("0") && expected > lastLayerComment) {
        QVERIFY2(!warning.contains(QStringLiteral("is set again")), qPrintable(warning));
        return;
    }
    QVERIFY2(warning.startsWith(
                 QStringLiteral("T1 230 on row %1 is set again on row %2 (Z ").arg(at).arg(expected)),
             qPrintable(warning));
    QVERIFY2(warning.contains(QStringLiteral(") to %1: it holds for ").arg(value)), qPrintable(warning));
    clickMessageLine(1);
    QCOMPARE(m_window->Memo1->CaretRow(), expected);
}

void TestPrintView::pauseWarnings()
{
    QVERIFY(drop(print(30, {{30, "M600"}, {110, "M25"}})));
    // A height search tells of the pauses already there.
    searchHeight(QStringLiteral("2.1")); // layer 10, row 51
    QCOMPARE(m_window->CurrentRow, changeRow(10));
    QVERIFY2(GuiTest::withoutTime(m_window->memoMessage->toPlainText()).contains(
                 QStringLiteral("The file already pauses 2 times; the nearest on row 30 (Z 1.300).")),
             qPrintable(GuiTest::withoutTime(m_window->memoMessage->toPlainText())));

    // The area shows two lines: the warning, last, is in view, and the wheel scrolls back.
    QPlainTextEdit* message = m_window->memoMessage;
    const QTextBlock last = message->document()->lastBlock();
    QVERIFY(message->viewport()->rect().contains(message->cursorRect(QTextCursor(last)).center()));
    const QPointF at = message->viewport()->rect().center();
    QWheelEvent up(at, message->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 360), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(message->viewport(), &up);
    QCOMPARE(message->verticalScrollBar()->value(), 0);
    QVERIFY(message->viewport()->rect().contains(
        message->cursorRect(QTextCursor(message->document()->firstBlock())).center()));

    // A pause there: the two others are told; a second press puts a pause beside the first,
    // at the same place.
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    QCOMPARE(messageLines(),
             (QStringList{"Pause line M25 inserted before layer 11 (Z 2.300), row 51.",
                          "The file already pauses 2 times; the nearest on row 30 (Z 1.300)."}));
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    QCOMPARE(m_window->Memo1->rowText(51), QStringLiteral("M25"));
    QCOMPARE(m_window->Memo1->rowText(52), QStringLiteral("M25"));
    QCOMPARE(messageLines(),
             (QStringList{"Pause line M25 inserted in layer 10 (Z 2.100), row 51.",
                          "The pause on row 51 stands directly beside another pause on row 52.",
                          "The file already pauses 3 times; the nearest on row 52 (Z 2.100).",
                          "Row 51 already had lines inserted: this is a second insertion there."}));
    clickMessageLine(1);
    QCOMPARE(m_window->Memo1->CaretRow(), 52);
    // Nothing was refused: both pauses stand, and Ctrl+Z takes them back one by one.
    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_window->Memo1->rowText(51), QStringLiteral("G1 Z2.3 F420"));
}

// Three warnings and more: each line can be read in the area, black on its background, and where
// they outgrow it the scroll bar's arrows move through them.
void TestPrintView::everyWarningCanBeRead()
{
    QVERIFY(drop(print(20, {{12, "M104 S205"}, {27, "T1"}, {43, "M104 S190"}, {60, "M140 S50"}})));
    searchHeight(QStringLiteral("0.1"));
    type(m_window->leditT0Temperature, QStringLiteral("215"));
    type(m_window->leditT1Temperature, QStringLiteral("200"));
    type(m_window->leditBedTemperature, QStringLiteral("70"));
    QTest::mouseClick(m_window->TemperarureInsert, Qt::LeftButton);
    QPlainTextEdit* message = m_window->memoMessage;
    QCOMPARE(message->document()->blockCount(), 4); // what went in, and three warnings
    QVERIFY(message->isEnabled());
    QCOMPARE(message->palette().color(QPalette::Active, QPalette::Text), QColor(Qt::black));
    // The last warning is in view; the lines above it are in view or a scroll away.
    const QTextBlock lastWarning = message->document()->lastBlock();
    QVERIFY2(message->viewport()->rect().contains(message->cursorRect(QTextCursor(lastWarning))),
             qPrintable(lastWarning.text()));
    message->verticalScrollBar()->setValue(0);
    QVERIFY(message->viewport()->rect().contains(
        message->cursorRect(QTextCursor(message->document()->firstBlock()))));

    // In the smallest window the lines wrap and outgrow the area: the down arrow scrolls.
    m_window->resize(m_window->minimumSize());
    QTRY_VERIFY(message->verticalScrollBar()->isVisible());
    QScrollBar* bar = message->verticalScrollBar();
    bar->setValue(0);
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - 3));
    QVERIFY(bar->value() > 0);
    const int down = bar->value();
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, 3));
    QVERIFY(bar->value() < down);
}

void TestPrintView::heaterOffAfterTheLastLayer_data()
{
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<QStringList>("expected");

    // Layer 19, the last, changes on row 96 and prints to row 100.
    QTest::newRow("the end code switches the heaters off")
        << QByteArray("G1 Z20\nM104 S0\nM140 S0\nM84\n") << QStringList{};
    QTest::newRow("the end code sets a temperature that is not off")
        << QByteArray("M104 S150 ;keep warm\nM140 S0\n")
        << QStringList{"T0 215 on row 2 is set again on row 103 (Z 4.100) to 150: it holds for 19 layers."};
}

// The end code's heaters off, after the last layer, is no setting that undoes an insertion.
void TestPrintView::heaterOffAfterTheLastLayer()
{
    QFETCH(QByteArray, end);
    QFETCH(QStringList, expected);

    QVERIFY(drop(print(20) + end));
    searchHeight(QStringLiteral("0.1"));
    type(m_window->leditT0Temperature, QStringLiteral("215"));
    type(m_window->leditBedTemperature, QStringLiteral("70"));
    QTest::mouseClick(m_window->TemperarureInsert, Qt::LeftButton);
    QCOMPARE(m_window->Memo1->rowText(2), QStringLiteral("M104 S215 T0"));
    QStringList warnings;
    for (const QString& line : messageLines()) {
        if (line.contains(QStringLiteral("set again")))
            warnings << line;
    }
    QCOMPARE(warnings, expected);
}

// A pause and a temperature at one row are the usual pair; a second temperature there is not.
void TestPrintView::secondInsertionOfTheSameKind()
{
    QVERIFY(drop(print(20)));
    searchHeight(QStringLiteral("2.1")); // layer 10
    const int row = changeRow(10);
    const QString second =
        QStringLiteral("Row %1 already had lines inserted: this is a second insertion there.");
    type(m_window->leditT0Temperature, QStringLiteral("215"));
    QTest::mouseClick(m_window->TemperarureInsert, Qt::LeftButton);
    QCOMPARE(m_window->Memo1->rowText(row), QStringLiteral("M104 S215 T0"));
    goToRow(row);
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    QCOMPARE(m_window->Memo1->rowText(row), QStringLiteral("M25"));
    QVERIFY2(!messageLines().contains(second.arg(row)), qPrintable(messageLines().join(u'\n')));

    goToRow(row);
    type(m_window->leditT0Temperature, QStringLiteral("220"));
    QTest::mouseClick(m_window->TemperarureInsert, Qt::LeftButton);
    QCOMPARE(m_window->Memo1->rowText(row + 2), QStringLiteral("M104 S215 T0"));
    QVERIFY2(messageLines().contains(second.arg(row)), qPrintable(messageLines().join(u'\n')));
}

// Ctrl+Z takes an insertion's warnings with its lines, and redo brings them back.
void TestPrintView::undoTakesTheWarnings()
{
    QVERIFY(drop(print(20, {{43, "M104 S190"}})));
    searchHeight(QStringLiteral("0.1"));
    const QString explained = GuiTest::withoutTime(m_window->memoMessage->toPlainText());
    type(m_window->leditT0Temperature, QStringLiteral("215"));
    QTest::mouseClick(m_window->TemperarureInsert, Qt::LeftButton);
    const QStringList warned = messageLines();
    QCOMPARE(warned,
             (QStringList{"Inserted at row 1: M104 S215 T0.",
                          "T0 215 on row 1 is set again on row 44 (Z 1.900) to 190: it holds for 8 layers."}));

    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_window->Memo1->rowText(1), QStringLiteral("G1 Z0.3 F420"));
    QCOMPARE(GuiTest::withoutTime(m_window->memoMessage->toPlainText()), explained);
    // A click on what is left goes nowhere: the warning's row went with it.
    const int caret = m_window->Memo1->CaretRow();
    clickMessageLine(0);
    QCOMPARE(m_window->Memo1->CaretRow(), caret);

    QTest::keySequence(m_window->Memo1, QKeySequence(QKeySequence::Redo));
    QCOMPARE(m_window->Memo1->rowText(1), QStringLiteral("M104 S215 T0"));
    QCOMPARE(messageLines(), warned);
    clickMessageLine(1);
    QCOMPARE(m_window->Memo1->CaretRow(), 44);
}

// Rows typed into the editor carry the inserted lines' mark, and "Create" lists them in the
// message area before it writes them.
void TestPrintView::typedRowsAreMarkedAndListed()
{
    QVERIFY(drop(print(20)));
    const QString row7 = m_window->Memo1->rowText(7);
    const QString row12 = m_window->Memo1->rowText(12);
    goToRow(7);
    QVERIFY(!m_window->Memo1->isReadOnly());
    QTest::keyClicks(m_window->Memo1, QStringLiteral("M117 hi"));
    QTest::keyClick(m_window->Memo1, Qt::Key_Return);
    QCOMPARE(m_window->Memo1->rowText(7), QStringLiteral("M117 hi"));
    QCOMPARE(m_window->Memo1->rowText(8), row7);
    // A change inside a row marks that row too.
    goToRow(13);
    QTest::keyClick(m_window->Memo1, Qt::Key_End);
    QTest::keyClicks(m_window->Memo1, QStringLiteral(" ;x"));
    QCOMPARE(m_window->Memo1->rowText(13), row12 + QStringLiteral(" ;x"));
    QCOMPARE(m_window->Memo1->typedRows(), (std::vector<int>{7, 13}));
    // The last row too, which ends where the text ends.
    QVERIFY(!m_window->Memo1->isTypedRow(m_window->Memo1->lineCount() - 1));
    for (const int row : {6, 7, 8, 13}) {
        const std::optional<EditBuffer::MarginLine> line = marginAt(row);
        QVERIFY(line);
        QCOMPARE(line->typed, row == 7 || row == 13);
        QVERIFY(!line->inserted);
    }
    // The typed rows' bar is the inserted lines' green.
    QImage picture = m_window->Memo1->viewport()->grab().toImage();
    const EditBuffer::MarginLine typed = *marginAt(7);
    bool green = false;
    for (int x = 0; x < m_window->Memo1->marginsWidth() && !green; ++x)
        green = picture.pixelColor(x, typed.top + typed.height / 2) == QColor(40, 160, 60);
    QVERIFY(green);

    GuiTest::BoxAnswer created(GuiTest::BoxAnswer::ClickOk);
    QTest::mouseClick(m_window->btnCreate, Qt::LeftButton);
    QVERIFY(created.text.contains(QStringLiteral("This file has been created.")));
    QCOMPARE(messageLines(), (QStringList{"Typed by hand, written as they stand:", "row 7: M117 hi",
                                          "row 13: " + row12 + " ;x"}));
    const QByteArray written = GuiTest::readFile(m_window->OutputPath);
    QVERIFY(written.contains("\nM117 hi\n" + row7.toLatin1() + "\n"));
}

QTEST_MAIN(TestPrintView)
#include "tst_printview.moc"
