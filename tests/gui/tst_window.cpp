// The real window, built fresh for each test: its control tree at start-up, the
// docked panels, the keyword list beside the program, the edit buffer, the insertion
// controls, the digits-only edits, the message boxes answered like a user would, the
// exception box and the close that ends the program with exit code 0.

#include "GuiTestSupport.h"

#include "gui/BorvaneApplication.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <map>
#include <stdexcept>

using GuiTest::BoxAnswer;

namespace {

const QString kWindowName = QStringLiteral("EditorForBorvane5_Form1");

QString captionOf(QWidget* w)
{
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* box = qobject_cast<QGroupBox*>(w))
        return box->title();
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText();
    if (auto* memo = qobject_cast<QPlainTextEdit*>(w))
        return memo->toPlainText();
    if (auto* memo = qobject_cast<QsciScintilla*>(w))
        return memo->text();
    return {};
}

bool readOnlyOf(QWidget* w)
{
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->isReadOnly();
    if (auto* memo = qobject_cast<QPlainTextEdit*>(w))
        return memo->isReadOnly();
    if (auto* memo = qobject_cast<QsciScintilla*>(w))
        return memo->isReadOnly();
    return false;
}

// The font's height in pixels; a size in points counts at 96 pixels per inch.
int pixelSizeOf(const QFont& font)
{
    return font.pixelSize() > 0 ? font.pixelSize() : qRound(font.pointSizeF() * 96.0 / 72.0);
}

QStringList itemsOf(const QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

QString keywordFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/TempFile");
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void captionEndsWithABlank();
    void startState();
    void controlTree_data();
    void controlTree();
    void labelsOfLabeledEdits_data();
    void labelsOfLabeledEdits();
    void backgrounds_data();
    void backgrounds();
    void disabledTextIsReadable_data();
    void disabledTextIsReadable();
    void glyphSizes_data();
    void glyphSizes();
    void tabOrder();
    void printerListHasAVisibleCaption();
    void fontIsTahoma();
    void panelsFollowTheWindowSize_data();
    void panelsFollowTheWindowSize();
    void opensWithinTheScreen();

    void keywordList_data();
    void keywordList();
    void unreadableKeywordListIsShownAndTheWindowOpens();

    void insertionControlsSwitchExactlyTheirGroup();
    void digitsOnlyEdits_data();
    void digitsOnlyEdits();
    void pastedTextIsNotFiltered();

    void closingEndsWithExitCodeZero();

private:
    void rebuildWindow();
    QWidget* control(const QString& name) const;
    EditBuffer* memo() const { return window->Memo1; }

    TEditorForBorvane5_Form1* window = nullptr;
};

void TestWindow::init()
{
    QDir(keywordFolder()).removeRecursively();
    window = new TEditorForBorvane5_Form1;
}

void TestWindow::cleanup()
{
    delete window;
    window = nullptr;
    QDir(keywordFolder()).removeRecursively();
}

void TestWindow::rebuildWindow()
{
    delete window;
    window = new TEditorForBorvane5_Form1;
}

QWidget* TestWindow::control(const QString& name) const
{
    return name == kWindowName ? window : window->findChild<QWidget*>(name);
}

void TestWindow::captionEndsWithABlank()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Editor For Borvane 5 Ver1.6 "));
    QCOMPARE(EditorForBorvane5_Form1, window);
    QCOMPARE(window->objectName(), kWindowName);
}

void TestWindow::startState()
{
    QCOMPARE(window->size(), QSize(874, 740));
    QCOMPARE(window->OutputFileName, QStringLiteral("Borvane.gx"));
    QCOMPARE(window->SearchKeyPath,
             QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + "/TempFile/SearchKey.txt"));
    QCOMPARE(window->WriteHeader, true);
    QCOMPARE(window->FileLoaded, false);
    QCOMPARE(window->InsertEnabled, false);
    QCOMPARE(window->CurrentRow, 0);
    QCOMPARE(window->StartRow, 0);
    QCOMPARE(window->StartHeight, 0.0);
    QCOMPARE(window->HeaderLength, 0);
    QVERIFY(window->DroppedPath.isEmpty());
    QVERIFY(window->FolderPath.isEmpty());
    QVERIFY(window->OutputPath.isEmpty());
    QCOMPARE(window->cboxHeader->isChecked(), false);
    QCOMPARE(window->rbtnBefore->isChecked(), true);
    QCOMPARE(window->rbtnAfter->isChecked(), false);
    QCOMPARE(memo()->lineCount(), 0);
    QVERIFY(memo()->bytes().empty());
    QCOMPARE(window->acceptDrops(), true);
    // The program never creates the keyword list.
    QVERIFY(!QFileInfo::exists(keywordFolder()));
}

void TestWindow::controlTree_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry"); // width -1: sized to its text
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("tabStop");
    QTest::addColumn<int>("fontPixels");

    const QString w = kWindowName;
    auto row = [](const char* name) -> QTestData& { return QTest::newRow(name); };
    // clang-format off
    // The left panel scrolls in the window's left column; at this height it needs no scrolling.
    row("pnlLeft")            << "QFrame"         << "qt_scrollarea_viewport" << "" << QRect(0, 0, 400, 648) << true << false << false << 17;
    row("sbtnExplorerOpen")   << "QToolButton"    << "pnlLeft"           << "" << QRect(350, 24, 39, 38)   << true  << false << false << 17;
    row("lblFolderName")      << "QLabel"         << "pnlLeft"           << "Folder Name" << QRect(16, 4, -1, -1) << true << false << false << 17;
    row("editFilePath")       << "QLineEdit"      << "pnlLeft"           << "" << QRect(10, 30, 340, 29)   << true  << false << false << 17;
    row("leditFileName")      << "LabeledEdit"    << "pnlLeft"           << "Borvane.gx" << QRect(10, 85, 210, 29) << true << false << true << 17;
    // Under the left panel, in a strip that never scrolls.
    row("cboxHeader")         << "QCheckBox"      << "pnlCreate"         << "Remove the header" << QRect(10, 22, 165, 17) << true << false << true << 17;
    row("btnCreate")          << "QPushButton"    << "pnlCreate"         << "Create" << QRect(180, 6, 210, 50) << false << false << true << 20;
    row("gboxPause")          << "QGroupBox"      << "pnlLeft"           << "Insert Position" << QRect(10, 130, 380, 235) << true << false << false << 17;
    row("lblKeyword")         << "QLabel"         << "gboxPause"         << "Search Keyword" << QRect(13, 170, -1, -1) << true << false << false << 17;
    row("sbtnBack")           << "QToolButton"    << "gboxPause"         << "" << QRect(335, 195, 30, 29)  << false << false << true  << 17;
    row("sbtnGo")             << "QToolButton"    << "gboxPause"         << "" << QRect(299, 195, 30, 29)  << false << false << true  << 17;
    row("leditStartH")        << "LabeledEdit"    << "gboxPause"         << "" << QRect(21, 50, 140, 29)   << true  << true  << false << 17;
    row("leditPause")         << "LabeledEdit"    << "gboxPause"         << "" << QRect(122, 90, 130, 29)  << true  << false << true  << 17;
    row("bbtnHeightSearch")   << "QPushButton"    << "gboxPause"         << "Serch" << QRect(265, 110, 100, 30) << false << false << true << 17;
    row("leditTime")          << "LabeledEdit"    << "gboxPause"         << "" << QRect(122, 130, 130, 29) << true  << false << true  << 17;
    row("leditMaxZ")          << "LabeledEdit"    << "gboxPause"         << "" << QRect(190, 50, 180, 29)  << true  << true  << false << 17;
    row("cboxKeyword")        << "QComboBox"      << "gboxPause"         << "" << QRect(49, 195, 240, 29)  << false << false << true  << 17;
    row("gboxInsertCommand")  << "QGroupBox"      << "pnlLeft"           << "Pause or temperature code Insert" << QRect(10, 370, 380, 272) << true << false << false << 17;
    row("sbtnGoRowNumber")    << "QToolButton"    << "gboxInsertCommand" << "" << QRect(325, 28, 50, 32)   << false << false << false << 17;
    row("leditT0Temperature") << "LabeledEdit"    << "gboxInsertCommand" << "" << QRect(26, 180, 80, 29)   << false << false << true  << 17;
    row("leditT1Temperature") << "LabeledEdit"    << "gboxInsertCommand" << "" << QRect(150, 180, 80, 29)  << false << false << true  << 17;
    row("leditBedTemperature")<< "LabeledEdit"    << "gboxInsertCommand" << "" << QRect(280, 180, 80, 29)  << false << false << true  << 17;
    row("btnPause")           << "QPushButton"    << "gboxInsertCommand" << "Pause Insert (M25)" << QRect(160, 80, 200, 40) << false << false << true << 17;
    row("TemperarureInsert")  << "QPushButton"    << "gboxInsertCommand" << "Temperarure Insert" << QRect(160, 130, 200, 40) << false << false << true << 17;
    row("leditPauseMessage")  << "LabeledEdit"    << "gboxInsertCommand" << "" << QRect(10, 236, 360, 29)  << true  << false << true  << 17;
    row("rbtnBefore")         << "QRadioButton"   << "gboxInsertCommand" << "Before cursor" << QRect(10, 79, 120, 17) << false << false << true << 17;
    row("rbtnAfter")          << "QRadioButton"   << "gboxInsertCommand" << "After cursor" << QRect(10, 98, 120, 17) << false << false << true << 17;
    row("lbleRow")            << "LabeledEdit"    << "gboxInsertCommand" << "" << QRect(240, 30, 80, 29)   << true  << false << true  << 17;
    row("leditCurrentZ")      << "LabeledEdit"    << "gboxInsertCommand" << "" << QRect(25, 30, 80, 29)    << true  << true  << false << 17;
    row("pnlTop")             << "QFrame"         << w                   << "" << QRect(0, 0, 0, 0)        << true  << false << false << 13;
    row("pnlBottom")          << "QFrame"         << w                   << "" << QRect(0, 720, 874, 20)   << true  << false << false << 13;
    row("pnlRight")           << "QFrame"         << w                   << "" << QRect(400, 0, 474, 720)  << true  << false << false << 13;
    // Until the first drop memoMessage covers the editor, whose row keeps no height; the layer
    // ruler takes the right 64 pixels of that row, the layer view (hidden) joins it behind a handle.
    row("splitEditor")        << "QSplitter"      << "pnlRight"          << "" << QRect(1, 719, 472, 0)    << true  << false << false << 13;
    row("editorPane")         << "QWidget"        << "splitEditor"       << "" << QRect(0, 0, 472, 0)      << true  << false << false << 13;
    row("Memo1")              << "EditBuffer"     << "editorPane"        << "" << QRect(0, 0, 408, 0)      << false << false << true  << 16;
    row("layerRuler")         << "LayerRuler"     << "editorPane"        << "" << QRect(408, 0, 64, 0)     << true  << false << false << 10;
    row("memoMessage")        << "QPlainTextEdit" << "pnlRight"
        << QStringLiteral("Drop the G-code file created by Borvane\n          or press Ctrl+O to open it.")
        << QRect(1, 1, 472, 718) << true << true << true << 21;
    // clang-format on
}

void TestWindow::controlTree()
{
    QFETCH(QString, kind);
    QFETCH(QString, parent);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    QFETCH(bool, enabled);
    QFETCH(bool, readOnly);
    QFETCH(bool, tabStop);
    QFETCH(int, fontPixels);

    QWidget* w = control(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), kind);
    QVERIFY(w->parentWidget());
    QCOMPARE(w->parentWidget()->objectName(), parent);
    QCOMPARE(captionOf(w), text);
    if (geometry.width() < 0) {
        QCOMPARE(w->pos(), geometry.topLeft());
        QCOMPARE(w->size(), w->sizeHint());
    } else {
        QCOMPARE(w->geometry(), geometry);
    }
    QCOMPARE(w->isEnabled(), enabled);
    QCOMPARE(readOnlyOf(w), readOnly);
    QCOMPARE(bool(w->focusPolicy() & Qt::TabFocus), tabStop);
    QCOMPARE(w->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(pixelSizeOf(w->font()), fontPixels);
}

void TestWindow::labelsOfLabeledEdits_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("above");

    QTest::newRow("leditFileName") << "Create as file name." << true;
    QTest::newRow("leditStartH") << "Molding start height" << true;
    QTest::newRow("leditPause") << "Insert Height  " << false;
    QTest::newRow("leditTime") << "Insert Time  " << false;
    QTest::newRow("leditMaxZ") << "Max Height" << true;
    QTest::newRow("leditPauseMessage") << "Message on the printer's screen" << true;
    QTest::newRow("leditT0Temperature") << "T0" << false;
    QTest::newRow("leditT1Temperature") << "T1" << false;
    QTest::newRow("leditBedTemperature") << "Bed" << false;
    QTest::newRow("lbleRow") << "Row Number" << false;
    QTest::newRow("leditCurrentZ") << "Z" << false;
}

void TestWindow::labelsOfLabeledEdits()
{
    QFETCH(QString, caption);
    QFETCH(bool, above);

    auto* edit = qobject_cast<LabeledEdit*>(control(QString::fromLatin1(QTest::currentDataTag())));
    QVERIFY(edit);
    QLabel* label = edit->label();
    QCOMPARE(label->text(), caption);
    QCOMPARE(label->parentWidget(), edit->parentWidget());
    QCOMPARE(label->isEnabled(), edit->isEnabled());
    // The whole caption shows.
    QCOMPARE(label->size(), label->sizeHint());
    const QRect l = label->geometry();
    const QRect e = edit->geometry();
    if (above) {
        QCOMPARE(l.left(), e.left());
        QCOMPARE(l.bottom() + 1 + 3, e.top());
    } else {
        QCOMPARE(l.right() + 1 + 3, e.left());
        QVERIFY2(qAbs((2 * l.top() + l.height()) - (2 * e.top() + e.height())) <= 1, "centred on the edit");
    }
}

void TestWindow::backgrounds_data()
{
    QTest::addColumn<QPalette::ColorRole>("role");
    QTest::addColumn<QColor>("colour");

    const QColor tooltip = QApplication::palette().color(QPalette::ToolTipBase);
    QTest::newRow("gboxPause") << QPalette::Window << QColor(192, 220, 192);
    QTest::newRow("gboxInsertCommand") << QPalette::Window << QColor(191, 205, 219);
    QTest::newRow("leditStartH") << QPalette::Base << tooltip;
    QTest::newRow("leditMaxZ") << QPalette::Base << tooltip;
    QTest::newRow("memoMessage") << QPalette::Base << tooltip;
}

void TestWindow::backgrounds()
{
    QFETCH(QPalette::ColorRole, role);
    QFETCH(QColor, colour);

    QWidget* w = control(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(w->palette().color(group, role), colour);
    if (role == QPalette::Window)
        QVERIFY(w->autoFillBackground());
}

void TestWindow::disabledTextIsReadable_data()
{
    QTest::addColumn<QPalette::ColorRole>("role");

    // The system's grey text, also on the coloured group boxes and the tooltip colour.
    QTest::newRow("rbtnBefore") << QPalette::WindowText;
    QTest::newRow("btnPause") << QPalette::ButtonText;
    QTest::newRow("leditT0Temperature") << QPalette::Text;
    QTest::newRow("memoMessage") << QPalette::Text;
    QTest::newRow("lblKeyword") << QPalette::WindowText;
}

void TestWindow::disabledTextIsReadable()
{
    QFETCH(QPalette::ColorRole, role);

    QWidget* w = control(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    QCOMPARE(w->palette().color(QPalette::Disabled, role), QColor(109, 109, 109));
    QCOMPARE(w->palette().color(QPalette::Active, role), QColor(Qt::black));
}

void TestWindow::glyphSizes_data()
{
    QTest::addColumn<QSize>("size");

    QTest::newRow("sbtnExplorerOpen") << QSize(32, 32);
    QTest::newRow("sbtnBack") << QSize(18, 25);
    QTest::newRow("sbtnGo") << QSize(18, 25);
    QTest::newRow("bbtnHeightSearch") << QSize(24, 22);
    QTest::newRow("sbtnGoRowNumber") << QSize(50, 29);
}

void TestWindow::glyphSizes()
{
    QFETCH(QSize, size);

    auto* button = qobject_cast<QAbstractButton*>(control(QString::fromLatin1(QTest::currentDataTag())));
    QVERIFY(button);
    QVERIFY(!button->icon().isNull());
    QCOMPARE(button->iconSize(), size);
    QCOMPARE(button->icon().availableSizes().value(0), size);
    if (auto* speed = qobject_cast<QToolButton*>(button))
        QVERIFY(speed->autoRaise());
}

void TestWindow::tabOrder()
{
    // Tab goes through the controls as the screen reads, each field before the button it feeds,
    // the temperatures before theirs, and "Create" last.
    const QStringList expected = {
        "leditFileName",
        "cboxHeader",
        "leditPause",
        "leditTime",
        "bbtnHeightSearch",
        "cboxKeyword",
        "sbtnGo",
        "sbtnBack",
        "lbleRow",
        "rbtnBefore",
        "rbtnAfter",
        "cboxPrinter",
        "sbtnPauseSettings",
        "btnPause",
        "leditT0Temperature",
        "leditT1Temperature",
        "leditBedTemperature",
        "TemperarureInsert",
        "leditPauseMessage",
        "memoMessage",
        "Memo1",
        "btnCreate",
    };
    QStringList chain;
    QWidget* start = window->leditFileName;
    QWidget* w = start;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && w->window() == window && !w->objectName().isEmpty() &&
            window->findChild<QWidget*>(w->objectName()) == w && !chain.contains(w->objectName()))
            chain << w->objectName();
        w = w->nextInFocusChain();
    } while (w != start);
    QCOMPARE(chain, expected);
}

// The printer list's caption stands above it, clear of every other control of its group, and
// Alt+P, its mnemonic, goes to the list.
void TestWindow::printerListHasAVisibleCaption()
{
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    auto* label = window->findChild<QLabel*>(QStringLiteral("lblPrinter"));
    auto* list = window->findChild<QComboBox*>(QStringLiteral("cboxPrinter"));
    QVERIFY(label && list);
    QVERIFY(label->isVisible());
    QCOMPARE(label->text(), QStringLiteral("&Printer"));
    QCOMPARE(label->buddy(), list);
    QCOMPARE(label->parentWidget(), list->parentWidget());
    // Above the list, its whole text shown, within the group and over no other control.
    QCOMPARE(label->geometry().bottom() + 1, list->geometry().top());
    QVERIFY(label->width() >= label->sizeHint().width() && label->height() >= label->sizeHint().height());
    QVERIFY(label->parentWidget()->rect().contains(label->geometry()));
    for (QWidget* other : label->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other != label && other->isVisible())
            QVERIFY2(!other->geometry().intersects(label->geometry()), qPrintable(other->objectName()));
    }
    QTest::keyClick(window, Qt::Key_P, Qt::AltModifier);
    QTRY_COMPARE(QApplication::focusWidget(), list);
}

void TestWindow::fontIsTahoma()
{
    if (!QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf")))
        QSKIP("the free Tahoma of fonts-wine is not installed");
    QCOMPARE(QFontInfo(window->font()).family(), QStringLiteral("Tahoma"));
    QCOMPARE(QFontInfo(window->pnlLeft->font()).pixelSize(), 17);
}

void TestWindow::panelsFollowTheWindowSize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("initial size") << QSize(874, 740) << QSize(874, 740);
    QTest::newRow("larger") << QSize(1200, 900) << QSize(1200, 900);
    QTest::newRow("lower than the left panel") << QSize(700, 500) << QSize(700, 500);
    QTest::newRow("below the smallest window") << QSize(300, 200) << QSize(660, 360);
}

void TestWindow::panelsFollowTheWindowSize()
{
    QFETCH(QSize, size);
    QFETCH(QSize, expected);

    // A file loaded, so that the message keeps a strip and the editor has the rest.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("print.gcode"));
    QVERIFY(GuiTest::writeFile(path, "header 1\nheader 2\n" + GuiTest::joinLines(GuiTest::kStructuredBody)));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(GuiTest::dropFile(window, path));
    window->resize(size);
    QTRY_COMPARE(window->size(), expected);

    const int w = expected.width();
    const int h = expected.height();
    const int middle = h - 20;
    // The left column: the panel at its width, and the scroll bar beside it when it scrolls; under
    // it the strip with "Create", 62 pixels high, which never scrolls.
    auto* scroll = window->findChild<QScrollArea*>(QStringLiteral("scrlLeft"));
    QVERIFY(scroll);
    const int panel = middle - 62;
    const bool scrolls = panel < 648;
    QCOMPARE(scroll->verticalScrollBar()->isVisible(), scrolls);
    const int left = 400 + (scrolls ? scroll->verticalScrollBar()->width() : 0);
    QTRY_COMPARE(scroll->geometry(), QRect(0, 0, left, panel));
    QCOMPARE(window->pnlCreate->geometry(), QRect(0, panel, left, 62));
    QCOMPARE(window->pnlLeft->width(), 400);
    QCOMPARE(window->pnlLeft->height(), qMax(648, panel));
    QCOMPARE(window->pnlBottom->geometry(), QRect(0, h - 20, w, 20));
    QCOMPARE(window->pnlRight->geometry(), QRect(left, 0, w - left, middle));
    QVERIFY(!window->pnlTop->isVisible());

    // "Create" is in view wherever the panel is scrolled; every control of the panel can be
    // scrolled into view, the insertion group last.
    for (const int value : {scroll->verticalScrollBar()->minimum(), scroll->verticalScrollBar()->maximum()}) {
        scroll->verticalScrollBar()->setValue(value);
        const QRect create(window->btnCreate->mapTo(window, QPoint(0, 0)), window->btnCreate->size());
        QVERIFY2(window->rect().contains(create), "Create in view");
    }
    QWidget* const lastGroup = window->findChild<QWidget*>(QStringLiteral("gboxInsertCommand"));
    const QRect group(lastGroup->mapTo(scroll->viewport(), QPoint(0, 0)), lastGroup->size());
    QVERIFY2(scroll->viewport()->rect().contains(group), "the insertion group in view");

    // Inside the right panel's border: the message keeps its height, the editor takes the rest
    // but for the layer ruler's 64 pixels at the right edge.
    const int inner = w - left - 2;
    const int message = window->memoMessage->height();
    QCOMPARE(window->memoMessage->geometry(), QRect(1, 1, inner, message));
    const auto inPanel = [this](QWidget* w) { return QRect(w->mapTo(window->pnlRight, QPoint(0, 0)), w->size()); };
    QCOMPARE(inPanel(window->Memo1), QRect(1, 1 + message, inner - 64, middle - 2 - message));
    QWidget* layerRuler = window->pnlRight->findChild<QWidget*>(QStringLiteral("layerRuler"));
    QVERIFY(layerRuler);
    QCOMPARE(inPanel(layerRuler), QRect(1 + inner - 64, 1 + message, 64, middle - 2 - message));
}

void TestWindow::opensWithinTheScreen()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QRect area = window->screen()->availableGeometry();
    QVERIFY2(area.contains(window->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                    .arg(window->frameGeometry().x())
                                                                    .arg(window->frameGeometry().y())
                                                                    .arg(window->frameGeometry().width())
                                                                    .arg(window->frameGeometry().height())));
    // Where the screen has room, it keeps its size.
    if (area.width() >= 874 + 16 && area.height() >= 740 + 40)
        QCOMPARE(window->size(), QSize(874, 740));
    QVERIFY(window->width() >= window->minimumWidth() && window->height() >= window->minimumHeight());
}

void TestWindow::keywordList_data()
{
    QTest::addColumn<QByteArray>("bytes"); // empty: no file
    QTest::addColumn<bool>("folder");      // a folder named SearchKey.txt instead of the file
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("no file") << QByteArray() << false << QStringList();
    QTest::newRow("folder of that name") << QByteArray() << true << QStringList();
    QTest::newRow("list beside the program")
        << QByteArray("first\r\nsecond\n") << false << QStringList{"first", "second"};
    QTest::newRow("UTF-8 mark") << QByteArray("\xEF\xBB\xBF"
                                              "first\r\nZ\xC3\xA9\r\n")
                                << false << QStringList{"first", QStringLiteral("Z\u00e9")};
}

void TestWindow::keywordList()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, folder);
    QFETCH(QStringList, entries);

    const QString path = keywordFolder() + QStringLiteral("/SearchKey.txt");
    if (folder) {
        QVERIFY(QDir().mkpath(path));
    } else if (!bytes.isEmpty()) {
        QVERIFY(QDir().mkpath(keywordFolder()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
        file.close();
    }

    BoxAnswer answer(BoxAnswer::ClickOk);
    rebuildWindow();
    QVERIFY2(!answer.seen, qPrintable(answer.text));
    QCOMPARE(itemsOf(window->cboxKeyword), entries);
    QCOMPARE(window->cboxKeyword->currentText(), QString());
    QCOMPARE(window->memoMessage->height(), window->pnlRight->height() - 2); // covers the editor
}

void TestWindow::unreadableKeywordListIsShownAndTheWindowOpens()
{
    // A list that exists but cannot be read: a link to a file whose reading fails.
    const QString unreadable = QStringLiteral("/proc/self/mem");
    if (!QFileInfo(unreadable).isFile())
        QSKIP("no unreadable file to link to on this system");
    QVERIFY(QDir().mkpath(keywordFolder()));
    QVERIFY(QFile::link(unreadable, keywordFolder() + QStringLiteral("/SearchKey.txt")));

    BoxAnswer answer(BoxAnswer::ClickOk);
    rebuildWindow();
    QVERIFY(answer.seen);
    QCOMPARE(answer.icon, QMessageBox::Critical);
    QCOMPARE(answer.caption, BorvaneApplication::applicationTitle());
    QVERIFY(answer.text.contains(QStringLiteral("SearchKey.txt")));
    // The rest of FormCreate is skipped: the message keeps its first height and the
    // controls that FormCreate disables stay enabled.
    QVERIFY(window->isEnabled());
    QCOMPARE(window->OutputFileName, QStringLiteral("Borvane.gx"));
    QCOMPARE(window->memoMessage->height(), 62);
    QCOMPARE(window->bbtnHeightSearch->isEnabled(), true);
    QCOMPARE(window->btnPause->isEnabled(), true);
    QCOMPARE(itemsOf(window->cboxKeyword), QStringList());
}

void TestWindow::insertionControlsSwitchExactlyTheirGroup()
{
    auto describe = [](QWidget* w) {
        if (auto* label = qobject_cast<QLabel*>(w); label && w->objectName().isEmpty())
            return QStringLiteral("label ") + label->text();
        return w->objectName();
    };
    auto enabledStates = [&] {
        std::map<QString, bool> states;
        for (QWidget* w : window->findChildren<QWidget*>())
            states[describe(w)] = w->isEnabled();
        return states;
    };

    const std::map<QString, bool> before = enabledStates();
    window->SetInsertionControlsEnabled(true);
    const std::map<QString, bool> after = enabledStates();

    QStringList changed;
    for (const auto& [name, enabled] : after) {
        if (before.at(name) != enabled) {
            QVERIFY2(enabled, qPrintable(name));
            changed << name;
        }
    }
    changed.sort();
    QStringList expected = {"btnPause",           "TemperarureInsert",  "rbtnBefore",          "rbtnAfter",
                            "leditT0Temperature", "leditT1Temperature", "leditBedTemperature", "label T0",
                            "label T1",           "label Bed"};
    expected.sort();
    QCOMPARE(changed, expected);

    window->SetInsertionControlsEnabled(false);
    QVERIFY(enabledStates() == before);
}

void TestWindow::digitsOnlyEdits_data()
{
    QTest::addColumn<QString>("expected");

    // Typed: "2a1-0.5 x", then a fullwidth nine.
    QTest::newRow("leditT0Temperature") << "2105";
    QTest::newRow("leditT1Temperature") << "2105";
    QTest::newRow("leditBedTemperature") << "2105";
    QTest::newRow("lbleRow") << "2105";
    // Heights and names take any character.
    QTest::newRow("leditPause") << QStringLiteral("2a1-0.5 x\uff19");
    QTest::newRow("leditFileName") << QStringLiteral("Borvane.gx2a1-0.5 x\uff19");
}

void TestWindow::digitsOnlyEdits()
{
    QFETCH(QString, expected);

    window->SetInsertionControlsEnabled(true);
    auto* edit = qobject_cast<QLineEdit*>(control(QString::fromLatin1(QTest::currentDataTag())));
    QVERIFY(edit);
    edit->end(false);
    QTest::keyClicks(edit, QStringLiteral("2a1-0.5 x"));
    QKeyEvent fullwidthNine(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("\uff19"));
    QApplication::sendEvent(edit, &fullwidthNine);
    QCOMPARE(edit->text(), expected);
    // Editing keys still work.
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), expected.chopped(1));
}

void TestWindow::pastedTextIsNotFiltered()
{
    QGuiApplication::clipboard()->setText(QStringLiteral("2a0"));
    QLineEdit* edit = window->lbleRow;
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->text(), QStringLiteral("2a0"));
}

void TestWindow::closingEndsWithExitCodeZero()
{
    QVERIFY(QApplication::quitOnLastWindowClosed());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTimer::singleShot(0, window, [this] { window->close(); });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window->isVisible());
}

int main(int argc, char** argv)
{
    // The program's own application object: it registers the free Tahoma and shows
    // exceptions that escape a handler.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    BorvaneApplication app(argc, argv);
    TestWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
