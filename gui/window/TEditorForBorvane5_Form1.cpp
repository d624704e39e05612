#include "gui/window/TEditorForBorvane5_Form1.h"

#include "core/gcode/Insertion.h"
#include "core/text/KeywordList.h"
#include "core/text/Utility.h"
#include "gui/BorvaneApplication.h"
#include "gui/Dialogs.h"
#include "gui/DigitsOnlyFilter.h"
#include "gui/EditBuffer.h"
#include "gui/Glyphs.h"
#include "gui/LabeledEdit.h"
#include "gui/PrinterChoice.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QSplitter>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolButton>
#include <QtMath>
#include <QTimer>
#include <QKeyEvent>

#include <stdexcept>

TEditorForBorvane5_Form1* EditorForBorvane5_Form1 = nullptr;

namespace {

constexpr int kClientWidth = 874;
constexpr int kClientHeight = 740;
constexpr int kBottomPanelHeight = 20;
// The left panel's controls end with the insertion group at 642; below that height the panel
// scrolls. "Create" sits under it in a strip of its own that never scrolls.
constexpr int kLeftPanelWidth = 400;
constexpr int kLeftPanelHeight = 648;
constexpr int kCreatePanelHeight = 62;
// The smallest window: the left panel (scrolling), a strip of editor and the ruler, and a few
// rows. It fits a 1024 x 576 screen with a panel and a title bar to spare.
constexpr int kMinimumWidth = 660;
constexpr int kMinimumHeight = 360;
// Room for a title bar and borders, which the window has only once it is shown.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 40;
const QString kDefaultOutputFileName = Insertion::defaultOutputFileName();

// The system's inactive-caption colour of the classic desktop scheme.
const QColor kInactiveCaption(191, 205, 219);
// "Money green".
const QColor kMoneyGreen(192, 220, 192);
// The system's grey-text colour, for disabled captions and texts. The style's own light
// grey all but vanishes on the coloured group boxes and the tooltip-coloured message.
const QColor kGrayText(109, 109, 109);

QFont tahoma(int pixelSize)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(pixelSize);
    return font;
}

// Each helper names the control it makes after the control, so that tests and style
// sheets find it by that name.
template <typename Control> Control* named(Control* control, const char* name)
{
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

QFrame* makePanel(QWidget* parent, const char* name)
{
    auto* panel = named(new QFrame(parent), name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    return panel;
}

QToolButton* makeSpeedButton(QWidget* parent, const char* name, const QPixmap& glyph, const QRect& geometry)
{
    auto* button = named(new QToolButton(parent), name);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(QIcon(glyph));
    button->setIconSize(glyph.size());
    button->setGeometry(geometry);
    return button;
}

LabeledEdit* makeLabeledEdit(QWidget* parent, const char* name, const QString& caption,
                             LabeledEdit::LabelPosition position, const QRect& geometry)
{
    return named(new LabeledEdit(caption, position, geometry, parent), name);
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QRect& geometry)
{
    auto* button = named(new QPushButton(caption, parent), name);
    button->setGeometry(geometry);
    return button;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, const QPoint& position)
{
    auto* label = named(new QLabel(caption, parent), name);
    label->move(position);
    label->adjustSize();
    return label;
}

QRadioButton* makeRadioButton(QWidget* parent, const char* name, const QString& caption,
                              const QRect& geometry)
{
    auto* button = named(new QRadioButton(caption, parent), name);
    button->setGeometry(geometry);
    return button;
}

// Read-only, outside the tab order, with the tooltip background.
void makeDisplayOnly(QLineEdit* edit, bool tooltipBackground)
{
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::ClickFocus);
    if (tooltipBackground) {
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, QApplication::palette().color(QPalette::ToolTipBase));
        edit->setPalette(palette);
    }
}

void fillBackground(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

TEditorForBorvane5_Form1::TEditorForBorvane5_Form1(QWidget* parent) : QWidget(parent)
{
    EditorForBorvane5_Form1 = this;
    setObjectName(QStringLiteral("EditorForBorvane5_Form1"));
    setWindowTitle(QStringLiteral("Editor For Borvane 5"));
    buildControls();
    connectHandlers();

    setWindowTitle(windowTitle() + QStringLiteral(" Ver1.6 "));
    m_caption = windowTitle();
    setAcceptDrops(true);
    qApp->installEventFilter(this);
    WriteHeader = !cboxHeader->isChecked();

    try {
        FormCreate();
    } catch (const std::exception& exception) {
        // Shown like any exception that escapes a handler; FormCreate ends where it was
        // and the window opens all the same.
        BorvaneApplication::showException(&exception);
    } catch (...) {
        BorvaneApplication::showException(nullptr);
    }
}

TEditorForBorvane5_Form1::~TEditorForBorvane5_Form1()
{
    qApp->removeEventFilter(this);
    stopHollowSearch();
    if (EditorForBorvane5_Form1 == this)
        EditorForBorvane5_Form1 = nullptr;
}

void TEditorForBorvane5_Form1::buildControls()
{
    setFont(tahoma(13));
    QPalette windowPalette = palette();
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        windowPalette.setColor(QPalette::Disabled, role, kGrayText);
    setPalette(windowPalette);
    resize(kClientWidth, kClientHeight);
    setMinimumSize(kMinimumWidth, kMinimumHeight);

    // The left panel keeps its controls where they are and scrolls when the window is lower.
    m_leftScroll = named(new QScrollArea(this), "scrlLeft");
    m_leftScroll->setFrameShape(QFrame::NoFrame);
    m_leftScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_leftScroll->setWidgetResizable(true);
    m_leftScroll->setFocusPolicy(Qt::NoFocus);
    pnlLeft = makePanel(nullptr, "pnlLeft");
    pnlLeft->setFont(tahoma(17));
    pnlLeft->setMinimumSize(kLeftPanelWidth, kLeftPanelHeight);
    // Kept for the control tree; the window has no strip at the top.
    pnlTop = makePanel(this, "pnlTop");
    pnlTop->setGeometry(0, 0, 0, 0);
    pnlTop->hide();
    pnlBottom = makePanel(this, "pnlBottom");
    // The main action is always in view, whatever the panel above it scrolls to.
    pnlCreate = makePanel(this, "pnlCreate");
    pnlCreate->setFixedHeight(kCreatePanelHeight);
    // As wide as the scrolling panel above it: its own controls ask for no width of the column.
    pnlCreate->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    pnlCreate->setFont(tahoma(17));
    pnlBottom->setFixedHeight(kBottomPanelHeight);
    pnlRight = makePanel(this, "pnlRight");

    buildLeftPanel();
    buildInsertPositionGroup();
    buildInsertionGroup();
    buildRightPanel();
    m_leftScroll->setWidget(pnlLeft);
    orderTabs();

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    grid->addWidget(m_leftScroll, 0, 0);
    grid->addWidget(pnlCreate, 1, 0);
    grid->addWidget(pnlRight, 0, 1, 2, 1);
    grid->addWidget(pnlBottom, 2, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 1);
    layoutPanels();
}

void TEditorForBorvane5_Form1::buildLeftPanel()
{
    using Pos = LabeledEdit::LabelPosition;
    sbtnExplorerOpen = makeSpeedButton(pnlLeft, "sbtnExplorerOpen", Glyphs::folder(), QRect(350, 24, 39, 38));
    sbtnChooseFolder = named(new QToolButton(pnlLeft), "sbtnChooseFolder");
    sbtnChooseFolder->setText(QStringLiteral("Choose\u2026"));
    sbtnChooseFolder->setToolTip(QStringLiteral("Choose the folder the file is created in"));
    sbtnChooseFolder->setGeometry(300, 2, 89, 21);
    sbtnChooseFolder->setFocusPolicy(Qt::NoFocus); // a speed button, as the folder button beside it

    editFilePath = named(new QLineEdit(pnlLeft), "editFilePath");
    editFilePath->setGeometry(10, 30, 340, 29);
    editFilePath->setFocusPolicy(Qt::ClickFocus);

    lblFolderName = makeLabel(pnlLeft, "lblFolderName", QStringLiteral("Folder Name"), QPoint(16, 4));

    leditFileName = makeLabeledEdit(pnlLeft, "leditFileName", QStringLiteral("Create as file name."),
                                    Pos::Above, QRect(10, 85, 210, 29));
    leditFileName->setText(kDefaultOutputFileName);

    cboxHeader = named(new QCheckBox(QStringLiteral("Remove the header"), pnlCreate), "cboxHeader");
    cboxHeader->setGeometry(10, 22, 165, 17);

    btnCreate = makeButton(pnlCreate, "btnCreate", QStringLiteral("Create"), QRect(180, 6, 210, 50));
    btnCreate->setFont(tahoma(20));
    btnCreate->setEnabled(false);

    gboxPause = named(new QGroupBox(QStringLiteral("Insert Position"), pnlLeft), "gboxPause");
    gboxPause->setGeometry(10, 130, 380, 235);
    gboxPause->setFont(tahoma(17));
    fillBackground(gboxPause, kMoneyGreen);

    gboxInsertCommand = named(new QGroupBox(QStringLiteral("Pause or temperature code Insert"), pnlLeft),
                              "gboxInsertCommand");
    gboxInsertCommand->setGeometry(10, 370, 380, 272);
    fillBackground(gboxInsertCommand, kInactiveCaption);
}

void TEditorForBorvane5_Form1::buildInsertPositionGroup()
{
    using Pos = LabeledEdit::LabelPosition;
    leditStartH = makeLabeledEdit(gboxPause, "leditStartH", QStringLiteral("Molding start height"),
                                  Pos::Above, QRect(21, 50, 140, 29));
    makeDisplayOnly(leditStartH, true);
    leditPause = makeLabeledEdit(gboxPause, "leditPause", QStringLiteral("Insert Height  "), Pos::Left,
                                 QRect(122, 90, 130, 29));
    // "Insert Time" under it: "Serch" between the two chooses by the one typed last.
    leditTime = makeLabeledEdit(gboxPause, "leditTime", QStringLiteral("Insert Time  "), Pos::Left,
                                QRect(122, 130, 130, 29));
    leditTime->setToolTip(QStringLiteral("A time into the print: 5400 (seconds), 90m, 1h30m or 1:30:00. Serch "
                                         "chooses the last layer that starts by then. Waits for heating count "
                                         "as nothing."));
    bbtnHeightSearch =
        makeButton(gboxPause, "bbtnHeightSearch", QStringLiteral("Serch"), QRect(265, 110, 100, 30));
    bbtnHeightSearch->setIcon(QIcon(Glyphs::heightSearch()));
    bbtnHeightSearch->setIconSize(QSize(24, 22));
    leditMaxZ = makeLabeledEdit(gboxPause, "leditMaxZ", QStringLiteral("Max Height"), Pos::Above,
                                QRect(190, 50, 180, 29));
    makeDisplayOnly(leditMaxZ, true);

    lblKeyword = makeLabel(gboxPause, "lblKeyword", QStringLiteral("Search Keyword"), QPoint(13, 170));
    cboxKeyword = named(new QComboBox(gboxPause), "cboxKeyword");
    cboxKeyword->setEditable(true);
    cboxKeyword->setInsertPolicy(QComboBox::NoInsert);
    cboxKeyword->setGeometry(49, 195, 240, 29);
    cboxKeyword->setEnabled(false);
    sbtnBack = makeSpeedButton(gboxPause, "sbtnBack", Glyphs::keywordBack(), QRect(335, 195, 30, 29));
    sbtnBack->setEnabled(false);
    sbtnGo = makeSpeedButton(gboxPause, "sbtnGo", Glyphs::keywordGo(), QRect(299, 195, 30, 29));
    sbtnGo->setEnabled(false);
    // The keyword arrows are the only way up a list of finds: reachable with Tab, pressed with Space.
    sbtnBack->setFocusPolicy(Qt::StrongFocus);
    sbtnGo->setFocusPolicy(Qt::StrongFocus);
}

void TEditorForBorvane5_Form1::buildInsertionGroup()
{
    using Pos = LabeledEdit::LabelPosition;
    QWidget* const group = gboxInsertCommand;
    leditT0Temperature =
        makeLabeledEdit(group, "leditT0Temperature", QStringLiteral("T0"), Pos::Left, QRect(26, 180, 80, 29));
    leditT1Temperature = makeLabeledEdit(group, "leditT1Temperature", QStringLiteral("T1"), Pos::Left,
                                         QRect(150, 180, 80, 29));
    leditBedTemperature = makeLabeledEdit(group, "leditBedTemperature", QStringLiteral("Bed"), Pos::Left,
                                          QRect(280, 180, 80, 29));
    btnPause = makeButton(group, "btnPause", QStringLiteral("Pause Insert (M25)"), QRect(160, 80, 200, 40));
    TemperarureInsert = makeButton(group, "TemperarureInsert", QStringLiteral("Temperarure Insert"),
                                   QRect(160, 130, 200, 40));
    rbtnBefore =
        makeRadioButton(group, "rbtnBefore", QStringLiteral("Before cursor"), QRect(10, 79, 120, 17));
    rbtnBefore->setChecked(true);
    // Closer together than they were, to leave room for the printer list's caption under them.
    rbtnAfter = makeRadioButton(group, "rbtnAfter", QStringLiteral("After cursor"), QRect(10, 98, 120, 17));
    cboxEveryPart = named(new QCheckBox(QStringLiteral("in every part"), group), "cboxEveryPart");
    cboxEveryPart->setGeometry(10, 61, 140, 17);
    cboxEveryPart->setToolTip(QStringLiteral("In a file that prints its objects one after another: insert at the "
                                             "height search's row in every part that reaches the height."));
    // Shown, and reached with Tab, for a file of several parts only.
    cboxEveryPart->hide();
    cboxEveryPart->setFocusPolicy(Qt::NoFocus);
    m_printerChoice = new PrinterChoice(group, QRect(10, 140, 144, 26), btnPause);
    leditPauseMessage = makeLabeledEdit(group, "leditPauseMessage", QStringLiteral("Message on the printer's screen"),
                                        Pos::Above, QRect(10, 236, 360, 29));
    leditPauseMessage->setToolTip(QStringLiteral("Shown by the printer while the pause waits (an M117 line "
                                                 "before the pause line); empty for none."));

    lbleRow =
        makeLabeledEdit(group, "lbleRow", QStringLiteral("Row Number"), Pos::Left, QRect(240, 30, 80, 29));
    sbtnGoRowNumber =
        makeSpeedButton(group, "sbtnGoRowNumber", Glyphs::goRowNumber(), QRect(325, 28, 50, 32));
    sbtnGoRowNumber->setEnabled(false);

    leditCurrentZ =
        makeLabeledEdit(group, "leditCurrentZ", QStringLiteral("Z"), Pos::Left, QRect(25, 30, 80, 29));
    makeDisplayOnly(leditCurrentZ, false);

    auto* digitsOnly = new DigitsOnlyFilter(this);
    for (QLineEdit* edit :
         {static_cast<QLineEdit*>(leditT0Temperature), static_cast<QLineEdit*>(leditT1Temperature),
          static_cast<QLineEdit*>(leditBedTemperature), static_cast<QLineEdit*>(lbleRow)})
        edit->installEventFilter(digitsOnly);
}

void TEditorForBorvane5_Form1::buildRightPanel()
{
    Memo1 = named(new EditBuffer(pnlRight), "Memo1");
    QFont memoFont(QStringLiteral("Tahoma"));
    // Scintilla takes sizes in points only: 16 pixels at the screen's logical resolution.
    memoFont.setPointSizeF(16 * 72.0 / Memo1->logicalDpiY());
    Memo1->setFont(memoFont);
    Memo1->setEnabled(false);

    memoMessage = named(new QPlainTextEdit(pnlRight), "memoMessage");
    m_dropHint =
        QStringLiteral("Drop the G-code file created by Borvane\n          or press Ctrl+O to open it.");
    memoMessage->setPlainText(m_dropHint);
    memoMessage->setFont(tahoma(21));
    QPalette messagePalette = memoMessage->palette();
    const QColor tooltip = QApplication::palette().color(QPalette::ToolTipBase);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        messagePalette.setColor(group, QPalette::Base, tooltip);
    memoMessage->setPalette(messagePalette);
    // Read-only rather than disabled: black text, a scroll bar that works, and selectable.
    memoMessage->setReadOnly(true);
    memoMessage->setTabChangesFocus(true);
    memoMessage->setFixedHeight(kMessageHeightAfterDrop);
    connect(memoMessage, &QPlainTextEdit::textChanged, this, &TEditorForBorvane5_Form1::fitMessageHeight);
    buildPrintView();

    // Inside the panel's border: the message on top, then the editor and, right of it, the layer
    // ruler; the layer view joins them behind a handle the user drags.
    auto* column = new QVBoxLayout(pnlRight);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(memoMessage);
    m_editorSplit = named(new QSplitter(Qt::Horizontal, pnlRight), "splitEditor");
    m_editorSplit->setChildrenCollapsible(false);
    auto* editorPane = named(new QWidget(m_editorSplit), "editorPane");
    m_editorRow = new QHBoxLayout(editorPane);
    m_editorRow->setContentsMargins(0, 0, 0, 0);
    m_editorRow->setSpacing(0);
    m_editorRow->addWidget(Memo1, 1);
    m_editorRow->addWidget(m_layerRuler);
    m_editorSplit->addWidget(editorPane);
    m_editorSplit->setStretchFactor(0, 1);
    column->addWidget(m_editorSplit, 1);
    buildLayerView();
}

void TEditorForBorvane5_Form1::orderTabs()
{
    // As the screen reads: the left panel from the top, each field before the button it feeds,
    // then the message and the editor, and "Create" last.
    QWidget* const tabOrder[] = {
        leditFileName,
        cboxHeader,
        leditPause,
        leditTime,
        bbtnHeightSearch,
        cboxKeyword,
        sbtnGo,
        sbtnBack,
        lbleRow,
        rbtnBefore,
        rbtnAfter,
        cboxEveryPart,
        btnPause,
        leditT0Temperature,
        leditT1Temperature,
        leditBedTemperature,
        TemperarureInsert,
        leditPauseMessage,
        memoMessage,
        Memo1,
        btnCreate,
    };
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
    // The printer choice feeds the pause button.
    QWidget::setTabOrder(rbtnAfter, m_printerChoice->combo());
    QWidget::setTabOrder(m_printerChoice->combo(), m_printerChoice->settingsButton());
    QWidget::setTabOrder(m_printerChoice->settingsButton(), btnPause);
}

void TEditorForBorvane5_Form1::connectHandlers()
{
    using Form = TEditorForBorvane5_Form1;
    connect(sbtnExplorerOpen, &QToolButton::clicked, this, &Form::sbtnExplorerOpenClick);
    connect(sbtnChooseFolder, &QToolButton::clicked, this, &Form::chooseOutputFolder);
    connect(btnCreate, &QPushButton::clicked, this, &Form::btnCreateClick);
    connect(cboxHeader, &QCheckBox::clicked, this, &Form::cboxHeaderClick);
    connect(sbtnGo, &QToolButton::clicked, this, &Form::sbtnGoClick);
    connect(sbtnBack, &QToolButton::clicked, this, &Form::sbtnBackClick);
    connect(Memo1, &EditBuffer::clicked, this, &Form::Memo1Click);
    connect(sbtnGoRowNumber, &QToolButton::clicked, this, &Form::sbtnGoRowNumberClick);
    connect(bbtnHeightSearch, &QPushButton::clicked, this, &Form::bbtnHeightSearchClick);
    connect(btnPause, &QPushButton::clicked, this, &Form::btnPauseClick);
    connect(TemperarureInsert, &QPushButton::clicked, this, &Form::TemperarureInsertClick);
    connect(Memo1, &EditBuffer::stepTakenBack, this, [this](int step) { m_takenStep = step; });
    connect(Memo1, &EditBuffer::stepRedone, this, [this](int step) { m_takenStep = step; });
    connect(Memo1, &EditBuffer::takenBack, this, &Form::textTakenBack);
    // The caret moved by a key or by typing: its row becomes the chosen row.
    connect(Memo1, &EditBuffer::userKeyed, this, &Form::followCaret);
    auto* open = new QShortcut(QKeySequence::Open, this);
    connect(open, &QShortcut::activated, this, &Form::OpenFileDialog);
    // Enter in a field runs what its button does.
    // "Serch" chooses by the field typed last, and Enter in either field by that field.
    connect(leditPause, &QLineEdit::textEdited, this, [this] { m_searchByTime = false; });
    connect(leditTime, &QLineEdit::textEdited, this, [this] { m_searchByTime = true; });
    connect(leditPause, &QLineEdit::returnPressed, this, [this] {
        m_searchByTime = false;
        if (bbtnHeightSearch->isEnabled())
            bbtnHeightSearchClick();
    });
    connect(leditTime, &QLineEdit::returnPressed, this, [this] {
        m_searchByTime = true;
        if (bbtnHeightSearch->isEnabled())
            bbtnHeightSearchClick();
    });
    connect(lbleRow, &QLineEdit::returnPressed, this, [this] {
        if (sbtnGoRowNumber->isEnabled())
            sbtnGoRowNumberClick();
    });
    connect(cboxKeyword->lineEdit(), &QLineEdit::returnPressed, this, [this] {
        if (sbtnGo->isEnabled())
            sbtnGoClick();
    });
    // Ctrl+Z takes back an insertion wherever the focus is, as it stays where the user was;
    // a field that has focus takes back its own typing first (see eventFilter). Redo is Ctrl+Y
    // and Ctrl+Shift+Z on every system.
    auto* undo = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this);
    connect(undo, &QShortcut::activated, this, [this] { Memo1->takeBackStep(false); });
    for (const QKeySequence& keys :
         {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)}) {
        auto* redo = new QShortcut(keys, this);
        connect(redo, &QShortcut::activated, this, [this] { Memo1->takeBackStep(true); });
    }
}

void TEditorForBorvane5_Form1::layoutPanels()
{
    // The scroll bar takes its width beside the panel, not out of it, and only when it shows.
    const bool scrolls = height() - kBottomPanelHeight - kCreatePanelHeight < kLeftPanelHeight;
    const int bar = scrolls ? m_leftScroll->verticalScrollBar()->sizeHint().width() : 0;
    m_leftScroll->setFixedWidth(kLeftPanelWidth + bar);
    m_leftScroll->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    // A hidden window gets no resize events: the panels are laid out now, so that their
    // controls have their places before it is shown.
    for (QWidget* laidOut : {static_cast<QWidget*>(this), static_cast<QWidget*>(pnlRight)}) {
        if (laidOut->layout())
            laidOut->layout()->activate();
    }
    // The splitter places its panes on a resize, which a hidden window does not deliver.
    if (m_editorSplit && !m_editorSplit->isVisible()) {
        m_editorSplit->refresh();
        m_editorRow->setGeometry(m_editorRow->parentWidget()->rect());
    }
}

void TEditorForBorvane5_Form1::setMemoMessageHeight(int height)
{
    // At start the message covers the editor; after a drop it takes the lines it holds.
    m_messageCovers = height == kMessageHeightAtStart;
    m_editorSplit->setMaximumHeight(m_messageCovers ? 0 : QWIDGETSIZE_MAX);
    fitMessageHeight();
}

void TEditorForBorvane5_Form1::fitMessageHeight()
{
    if (m_messageCovers) {
        memoMessage->setMinimumHeight(0);
        memoMessage->setMaximumHeight(QWIDGETSIZE_MAX);
    } else {
        // Every line it holds, wrapped at the width its text has while no scroll bar shows, up to
        // a third of the panel; beyond that it scrolls. The lines are laid out here from the text
        // and the width alone, not read from the area's own layout, which wraps at whatever width
        // an earlier text's scroll bar left: so the same text at the same width always gets the
        // same height.
        const QTextDocument* text = memoMessage->document();
        const qreal margin = text->documentMargin();
        const qreal width = memoMessage->width() - 2 * memoMessage->frameWidth() - 2 * margin;
        int lines = 0;
        qreal height = 0;
        for (QTextBlock block = text->firstBlock(); block.isValid(); block = block.next()) {
            QTextLayout layout(block.text(), memoMessage->font());
            layout.setTextOption(text->defaultTextOption());
            layout.beginLayout();
            int blockLines = 0;
            for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
                line.setLineWidth(width);
                height += line.height();
                ++blockLines;
            }
            layout.endLayout();
            if (blockLines == 0)
                height += QFontMetricsF(memoMessage->font()).height();
            lines += qMax(1, blockLines);
        }
        const int frame = 2 * (memoMessage->frameWidth() + int(margin));
        // Two lines fit the strip it keeps after a drop.
        const int wanted = lines <= 2 ? kMessageHeightAfterDrop : qCeil(height) + frame;
        const int most = qMax(kMessageHeightAfterDrop, pnlRight->height() / 3);
        memoMessage->setFixedHeight(qBound(kMessageHeightAfterDrop, wanted, most));
    }
    layoutPanels();
}

void TEditorForBorvane5_Form1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The panels have their new sizes: a message area of another width wraps its lines elsewhere.
    if (event->oldSize().width() != width())
        fitMessageHeight();
    layoutPanels();
}

void TEditorForBorvane5_Form1::showEvent(QShowEvent* event)
{
    // The first time it shows, the window fits the screen's available area.
    if (!m_fittedToScreen && !event->spontaneous()) {
        m_fittedToScreen = true;
        if (const QScreen* shown = screen()) {
            const QRect area = shown->availableGeometry();
            const QSize room(area.width() - kFrameWidth, area.height() - kFrameHeight);
            if (width() > room.width() || height() > room.height()) {
                resize(size().boundedTo(room).expandedTo(minimumSize()));
                move(area.topLeft());
            }
        }
    }
    QWidget::showEvent(event);
}

void TEditorForBorvane5_Form1::FormCreate()
{
    OutputFileName = kDefaultOutputFileName;
    SearchKeyPath = keywordListPath(Utility::ExeFolder());
    if (const QString problems = m_printerChoice->problemText(); !problems.isEmpty()) {
        m_dropHint += u'\n' + problems;
        memoMessage->setPlainText(m_dropHint);
    }
    Memo1->clearRows();
    loadKeywordList();
    FileLoaded = false;
    InsertEnabled = false;
    CurrentRow = 0;
    setMemoMessageHeight(kMessageHeightAtStart);
    bbtnHeightSearch->setEnabled(false);
    SetInsertionControlsEnabled(false);
}

void TEditorForBorvane5_Form1::loadKeywordList()
{
    if (!QFileInfo(SearchKeyPath).isFile())
        return;
    QFile file(SearchKeyPath);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("Cannot open file \"%1\". %2")
                                     .arg(SearchKeyPath, file.errorString())
                                     .toStdString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw std::runtime_error(QStringLiteral("Cannot read file \"%1\". %2")
                                     .arg(SearchKeyPath, file.errorString())
                                     .toStdString());
    cboxKeyword->clear();
    cboxKeyword->addItems(parseKeywordList(bytes));
    cboxKeyword->setEditText(QString());
}

void TEditorForBorvane5_Form1::FormClose()
{
    // The header buffer is a member: it lives exactly as long as the window, so a drop
    // still queued at this point cannot reach freed memory and nothing is released here.
}

void TEditorForBorvane5_Form1::closeEvent(QCloseEvent* event)
{
    // Edits not yet written are not lost without a question, as in every desktop editor.
    if (hasUnwrittenEdits()) {
        const Dialogs::Closing answer = Dialogs::askClose(
            QStringLiteral("The edits of %1 are not written yet.\n\nCreate %2 with them before closing?")
                .arg(QFileInfo(DroppedPath).fileName(), QDir::toNativeSeparators(FolderPath + QDir::separator() +
                                                                                  leditFileName->text())));
        if (answer == Dialogs::Closing::Cancel || (answer == Dialogs::Closing::Create && !createFile())) {
            event->ignore();
            return;
        }
    }
    FormClose();
    QWidget::closeEvent(event);
}

void TEditorForBorvane5_Form1::SetInsertionControlsEnabled(bool enabled)
{
    btnPause->setEnabled(enabled);
    TemperarureInsert->setEnabled(enabled);
    rbtnBefore->setEnabled(enabled);
    rbtnAfter->setEnabled(enabled);
    leditT0Temperature->setEnabled(enabled);
    leditT1Temperature->setEnabled(enabled);
    leditBedTemperature->setEnabled(enabled);
}

bool TEditorForBorvane5_Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (AppMessage(watched, event) || hollowClicked(watched, event) || warningClicked(watched, event) ||
        marginToolTip(watched, event))
        return true;
    if (watched == m_editorSplit && event->type() == QEvent::Resize)
        limitLayerViewShare();

    // Ctrl+Z or redo in a field with nothing of its own to take back is the window's: it takes
    // back an insertion, and the fields follow. A field never undoes to a text that names
    // another row than the one shown.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* const edit = qobject_cast<QLineEdit*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        if (edit && isAncestorOf(edit)) {
            const bool undoKey = EditBuffer::isUndoKey(key);
            if ((undoKey && !edit->isUndoAvailable()) ||
                (EditBuffer::isRedoKey(key) && !edit->isRedoAvailable()))
                return true; // not taken by the field: the window's shortcut runs
        }
    }
    return QWidget::eventFilter(watched, event);
}
