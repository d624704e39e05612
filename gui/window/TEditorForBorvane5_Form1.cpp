#include "gui/window/TEditorForBorvane5_Form1.h"

#include "core/text/KeywordList.h"
#include "core/text/Utility.h"
#include "gui/BorvaneApplication.h"
#include "gui/DigitsOnlyFilter.h"
#include "gui/EditBuffer.h"
#include "gui/Glyphs.h"
#include "gui/LabeledEdit.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QToolButton>

#include <stdexcept>

TEditorForBorvane5_Form1* EditorForBorvane5_Form1 = nullptr;

namespace {

constexpr int kClientWidth = 874;
constexpr int kClientHeight = 663;
constexpr int kTopPanelHeight = 24;
constexpr int kBottomPanelHeight = 20;
constexpr int kLeftPanelWidth = 400;
constexpr int kMessageHeightAtStart = 600;

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

QFrame* makePanel(QWidget* parent)
{
    auto* panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    return panel;
}

QToolButton* makeSpeedButton(QWidget* parent, const QPixmap& glyph, const QRect& geometry)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(QIcon(glyph));
    button->setIconSize(glyph.size());
    button->setGeometry(geometry);
    return button;
}

LabeledEdit* makeLabeledEdit(QWidget* parent, const QString& caption, LabeledEdit::LabelPosition position,
                             const QRect& geometry)
{
    return new LabeledEdit(caption, position, geometry, parent);
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
    if (EditorForBorvane5_Form1 == this)
        EditorForBorvane5_Form1 = nullptr;
}

void TEditorForBorvane5_Form1::buildControls()
{
    using Pos = LabeledEdit::LabelPosition;
    setFont(tahoma(13));
    QPalette windowPalette = palette();
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        windowPalette.setColor(QPalette::Disabled, role, kGrayText);
    setPalette(windowPalette);
    resize(kClientWidth, kClientHeight);

    pnlLeft = makePanel(this);
    pnlLeft->setFont(tahoma(17));

    sbtnExplorerOpen = makeSpeedButton(pnlLeft, Glyphs::folder(), QRect(350, 24, 39, 38));

    editFilePath = new QLineEdit(pnlLeft);
    editFilePath->setGeometry(10, 30, 340, 29);
    editFilePath->setFocusPolicy(Qt::ClickFocus);

    lblFolderName = new QLabel(QStringLiteral("Folder Name"), pnlLeft);
    lblFolderName->move(16, 4);
    lblFolderName->adjustSize();

    leditFileName =
        makeLabeledEdit(pnlLeft, QStringLiteral("Create as file name."), Pos::Above, QRect(10, 85, 210, 29));
    leditFileName->setText(QStringLiteral("Borvane.gx"));

    cboxHeader = new QCheckBox(QStringLiteral("Remove the header"), pnlLeft);
    cboxHeader->setGeometry(230, 91, 165, 17);

    pnlTop = makePanel(this);
    pnlBottom = makePanel(this);

    btnCreate = new QPushButton(QStringLiteral("Create"), pnlLeft);
    btnCreate->setGeometry(10, 556, 380, 50);
    btnCreate->setFont(tahoma(20));
    btnCreate->setEnabled(false);

    pnlRight = makePanel(this);

    Memo1 = new EditBuffer(pnlRight);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    QFont memoFont(QStringLiteral("Tahoma"));
    // Scintilla takes sizes in points only: 16 pixels at the screen's logical resolution.
    memoFont.setPointSizeF(16 * 72.0 / Memo1->logicalDpiY());
    Memo1->setFont(memoFont);
    Memo1->setEnabled(false);

    gboxPause = new QGroupBox(QStringLiteral("Insert Position"), pnlLeft);
    gboxPause->setGeometry(10, 130, 380, 195);
    gboxPause->setFont(tahoma(17));
    fillBackground(gboxPause, kMoneyGreen);

    leditStartH = makeLabeledEdit(gboxPause, QStringLiteral("Molding start height"), Pos::Above,
                                  QRect(21, 50, 140, 29));
    makeDisplayOnly(leditStartH, true);
    leditPause =
        makeLabeledEdit(gboxPause, QStringLiteral("Insert Height  "), Pos::Left, QRect(122, 90, 130, 29));
    bbtnHeightSearch = new QPushButton(QIcon(Glyphs::heightSearch()), QStringLiteral("Serch"), gboxPause);
    bbtnHeightSearch->setIconSize(QSize(24, 22));
    bbtnHeightSearch->setGeometry(265, 90, 100, 30);
    leditMaxZ = makeLabeledEdit(gboxPause, QStringLiteral("Max Height"), Pos::Above, QRect(190, 50, 180, 29));
    makeDisplayOnly(leditMaxZ, true);

    gboxInsertCommand = new QGroupBox(QStringLiteral("Pause or temperature code Insert"), pnlLeft);
    gboxInsertCommand->setGeometry(10, 330, 380, 220);
    fillBackground(gboxInsertCommand, kInactiveCaption);

    auto* digitsOnly = new DigitsOnlyFilter(this);
    leditT0Temperature =
        makeLabeledEdit(gboxInsertCommand, QStringLiteral("T0"), Pos::Left, QRect(26, 180, 80, 29));
    leditT1Temperature =
        makeLabeledEdit(gboxInsertCommand, QStringLiteral("T1"), Pos::Left, QRect(150, 180, 80, 29));
    leditBedTemperature =
        makeLabeledEdit(gboxInsertCommand, QStringLiteral("Bed"), Pos::Left, QRect(280, 180, 80, 29));
    btnPause = new QPushButton(QStringLiteral("Pause Insert (M25)"), gboxInsertCommand);
    btnPause->setGeometry(160, 80, 200, 40);
    TemperarureInsert = new QPushButton(QStringLiteral("Temperarure Insert"), gboxInsertCommand);
    TemperarureInsert->setGeometry(160, 130, 200, 40);
    rbtnBefore = new QRadioButton(QStringLiteral("Before cursor"), gboxInsertCommand);
    rbtnBefore->setGeometry(10, 80, 120, 17);
    rbtnBefore->setChecked(true);
    rbtnAfter = new QRadioButton(QStringLiteral("After cursor"), gboxInsertCommand);
    rbtnAfter->setGeometry(10, 110, 120, 17);

    lblKeyword = new QLabel(QStringLiteral("Search Keyword"), gboxPause);
    lblKeyword->move(13, 130);
    lblKeyword->adjustSize();
    cboxKeyword = new QComboBox(gboxPause);
    cboxKeyword->setEditable(true);
    cboxKeyword->setInsertPolicy(QComboBox::NoInsert);
    cboxKeyword->setGeometry(49, 155, 240, 29);
    cboxKeyword->setEnabled(false);
    sbtnBack = makeSpeedButton(gboxPause, Glyphs::keywordBack(), QRect(335, 155, 30, 29));
    sbtnBack->setEnabled(false);
    sbtnGo = makeSpeedButton(gboxPause, Glyphs::keywordGo(), QRect(299, 155, 30, 29));
    sbtnGo->setEnabled(false);

    lbleRow =
        makeLabeledEdit(gboxInsertCommand, QStringLiteral("Row Number"), Pos::Left, QRect(240, 30, 80, 29));
    sbtnGoRowNumber = makeSpeedButton(gboxInsertCommand, Glyphs::goRowNumber(), QRect(325, 28, 50, 32));
    sbtnGoRowNumber->setEnabled(false);
    for (QLineEdit* edit :
         {static_cast<QLineEdit*>(leditT0Temperature), static_cast<QLineEdit*>(leditT1Temperature),
          static_cast<QLineEdit*>(leditBedTemperature), static_cast<QLineEdit*>(lbleRow)})
        edit->installEventFilter(digitsOnly);

    memoMessage = new QPlainTextEdit(pnlRight);
    memoMessage->setPlainText(
        QStringLiteral("Drop the G-code file created by Borvane\n          or press Ctrl+O to open it."));
    memoMessage->setFont(tahoma(21));
    QPalette messagePalette = memoMessage->palette();
    const QColor tooltip = QApplication::palette().color(QPalette::ToolTipBase);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        messagePalette.setColor(group, QPalette::Base, tooltip);
    memoMessage->setPalette(messagePalette);
    memoMessage->setEnabled(false);
    memoMessage->resize(472, 62);

    leditCurrentZ = makeLabeledEdit(gboxInsertCommand, QStringLiteral("Z"), Pos::Left, QRect(25, 30, 80, 29));
    makeDisplayOnly(leditCurrentZ, false);

    // Object names are the control names, so that tests and style sheets find them.
    const std::pair<QWidget*, const char*> names[] = {
        {pnlLeft, "pnlLeft"},
        {sbtnExplorerOpen, "sbtnExplorerOpen"},
        {editFilePath, "editFilePath"},
        {lblFolderName, "lblFolderName"},
        {leditFileName, "leditFileName"},
        {cboxHeader, "cboxHeader"},
        {pnlTop, "pnlTop"},
        {pnlBottom, "pnlBottom"},
        {btnCreate, "btnCreate"},
        {pnlRight, "pnlRight"},
        {gboxPause, "gboxPause"},
        {leditStartH, "leditStartH"},
        {leditPause, "leditPause"},
        {bbtnHeightSearch, "bbtnHeightSearch"},
        {leditMaxZ, "leditMaxZ"},
        {gboxInsertCommand, "gboxInsertCommand"},
        {leditT0Temperature, "leditT0Temperature"},
        {leditT1Temperature, "leditT1Temperature"},
        {leditBedTemperature, "leditBedTemperature"},
        {btnPause, "btnPause"},
        {TemperarureInsert, "TemperarureInsert"},
        {rbtnBefore, "rbtnBefore"},
        {rbtnAfter, "rbtnAfter"},
        {lblKeyword, "lblKeyword"},
        {cboxKeyword, "cboxKeyword"},
        {sbtnBack, "sbtnBack"},
        {sbtnGo, "sbtnGo"},
        {lbleRow, "lbleRow"},
        {sbtnGoRowNumber, "sbtnGoRowNumber"},
        {memoMessage, "memoMessage"},
        {leditCurrentZ, "leditCurrentZ"},
    };
    for (const auto& [widget, name] : names)
        widget->setObjectName(QString::fromLatin1(name));

    // Tab order: within each parent as the control tree numbers it, parents in their own order.
    QWidget* const tabOrder[] = {
        leditFileName, cboxHeader,        btnCreate,   // pnlLeft
        leditPause,    bbtnHeightSearch,  cboxKeyword, // gboxPause
        btnPause,      TemperarureInsert, leditT0Temperature, leditT1Temperature, leditBedTemperature,
        lbleRow,       rbtnBefore,        rbtnAfter, // gboxInsertCommand
        Memo1,                                       // pnlRight
    };
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);

    layoutPanels();
}

void TEditorForBorvane5_Form1::connectHandlers()
{
    using Form = TEditorForBorvane5_Form1;
    connect(sbtnExplorerOpen, &QToolButton::clicked, this, &Form::sbtnExplorerOpenClick);
    connect(btnCreate, &QPushButton::clicked, this, &Form::btnCreateClick);
    connect(cboxHeader, &QCheckBox::clicked, this, &Form::cboxHeaderClick);
    connect(sbtnGo, &QToolButton::clicked, this, &Form::sbtnGoClick);
    connect(sbtnBack, &QToolButton::clicked, this, &Form::sbtnBackClick);
    connect(Memo1, &EditBuffer::clicked, this, &Form::Memo1Click);
    connect(sbtnGoRowNumber, &QToolButton::clicked, this, &Form::sbtnGoRowNumberClick);
    connect(bbtnHeightSearch, &QPushButton::clicked, this, &Form::bbtnHeightSearchClick);
    connect(btnPause, &QPushButton::clicked, this, &Form::btnPauseClick);
    connect(TemperarureInsert, &QPushButton::clicked, this, &Form::TemperarureInsertClick);
    auto* open = new QShortcut(QKeySequence::Open, this);
    connect(open, &QShortcut::activated, this, &Form::OpenFileDialog);
}

void TEditorForBorvane5_Form1::layoutPanels()
{
    const int w = width();
    const int h = height();
    const int middle = qMax(0, h - kTopPanelHeight - kBottomPanelHeight);
    pnlTop->setGeometry(0, 0, w, kTopPanelHeight);
    pnlBottom->setGeometry(0, h - kBottomPanelHeight, w, kBottomPanelHeight);
    pnlLeft->setGeometry(0, kTopPanelHeight, kLeftPanelWidth, middle);
    pnlRight->setGeometry(kLeftPanelWidth, kTopPanelHeight, qMax(0, w - kLeftPanelWidth), middle);

    // Inside the right panel's 1-pixel border: the message docked to the top, the editor below it.
    const int innerWidth = qMax(0, pnlRight->width() - 2);
    const int messageHeight = memoMessage->height();
    memoMessage->setGeometry(1, 1, innerWidth, messageHeight);
    Memo1->setGeometry(1, 1 + messageHeight, innerWidth, qMax(0, pnlRight->height() - 2 - messageHeight));
}

void TEditorForBorvane5_Form1::setMemoMessageHeight(int height)
{
    memoMessage->resize(memoMessage->width(), height);
    layoutPanels();
}

void TEditorForBorvane5_Form1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutPanels();
}

void TEditorForBorvane5_Form1::FormCreate()
{
    OutputFileName = QStringLiteral("Borvane.gx");
    SearchKeyPath = keywordListPath(Utility::ExeFolder());
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
    if (AppMessage(watched, event))
        return true;
    return QWidget::eventFilter(watched, event);
}
