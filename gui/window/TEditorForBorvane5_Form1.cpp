#include "gui/window/TEditorForBorvane5_Form1.h"

#include "core/gcode/Insertion.h"
#include "core/text/KeywordList.h"
#include "core/text/Utility.h"
#include "gui/BorvaneApplication.h"
#include "gui/DigitsOnlyFilter.h"
#include "gui/EditBuffer.h"
#include "gui/Glyphs.h"
#include "gui/LabeledEdit.h"
#include "gui/PrinterChoice.h"

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
    setFont(tahoma(13));
    QPalette windowPalette = palette();
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        windowPalette.setColor(QPalette::Disabled, role, kGrayText);
    setPalette(windowPalette);
    resize(kClientWidth, kClientHeight);

    pnlLeft = makePanel(this, "pnlLeft");
    pnlLeft->setFont(tahoma(17));
    pnlTop = makePanel(this, "pnlTop");
    pnlBottom = makePanel(this, "pnlBottom");
    pnlRight = makePanel(this, "pnlRight");

    buildLeftPanel();
    buildInsertPositionGroup();
    buildInsertionGroup();
    buildRightPanel();
    orderTabs();
    layoutPanels();
}

void TEditorForBorvane5_Form1::buildLeftPanel()
{
    using Pos = LabeledEdit::LabelPosition;
    sbtnExplorerOpen = makeSpeedButton(pnlLeft, "sbtnExplorerOpen", Glyphs::folder(), QRect(350, 24, 39, 38));

    editFilePath = named(new QLineEdit(pnlLeft), "editFilePath");
    editFilePath->setGeometry(10, 30, 340, 29);
    editFilePath->setFocusPolicy(Qt::ClickFocus);

    lblFolderName = makeLabel(pnlLeft, "lblFolderName", QStringLiteral("Folder Name"), QPoint(16, 4));

    leditFileName = makeLabeledEdit(pnlLeft, "leditFileName", QStringLiteral("Create as file name."),
                                    Pos::Above, QRect(10, 85, 210, 29));
    leditFileName->setText(kDefaultOutputFileName);

    cboxHeader = named(new QCheckBox(QStringLiteral("Remove the header"), pnlLeft), "cboxHeader");
    cboxHeader->setGeometry(230, 91, 165, 17);

    btnCreate = makeButton(pnlLeft, "btnCreate", QStringLiteral("Create"), QRect(10, 556, 380, 50));
    btnCreate->setFont(tahoma(20));
    btnCreate->setEnabled(false);

    gboxPause = named(new QGroupBox(QStringLiteral("Insert Position"), pnlLeft), "gboxPause");
    gboxPause->setGeometry(10, 130, 380, 195);
    gboxPause->setFont(tahoma(17));
    fillBackground(gboxPause, kMoneyGreen);

    gboxInsertCommand = named(new QGroupBox(QStringLiteral("Pause or temperature code Insert"), pnlLeft),
                              "gboxInsertCommand");
    gboxInsertCommand->setGeometry(10, 330, 380, 220);
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
    bbtnHeightSearch =
        makeButton(gboxPause, "bbtnHeightSearch", QStringLiteral("Serch"), QRect(265, 90, 100, 30));
    bbtnHeightSearch->setIcon(QIcon(Glyphs::heightSearch()));
    bbtnHeightSearch->setIconSize(QSize(24, 22));
    leditMaxZ = makeLabeledEdit(gboxPause, "leditMaxZ", QStringLiteral("Max Height"), Pos::Above,
                                QRect(190, 50, 180, 29));
    makeDisplayOnly(leditMaxZ, true);

    lblKeyword = makeLabel(gboxPause, "lblKeyword", QStringLiteral("Search Keyword"), QPoint(13, 130));
    cboxKeyword = named(new QComboBox(gboxPause), "cboxKeyword");
    cboxKeyword->setEditable(true);
    cboxKeyword->setInsertPolicy(QComboBox::NoInsert);
    cboxKeyword->setGeometry(49, 155, 240, 29);
    cboxKeyword->setEnabled(false);
    sbtnBack = makeSpeedButton(gboxPause, "sbtnBack", Glyphs::keywordBack(), QRect(335, 155, 30, 29));
    sbtnBack->setEnabled(false);
    sbtnGo = makeSpeedButton(gboxPause, "sbtnGo", Glyphs::keywordGo(), QRect(299, 155, 30, 29));
    sbtnGo->setEnabled(false);
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
        makeRadioButton(group, "rbtnBefore", QStringLiteral("Before cursor"), QRect(10, 80, 120, 17));
    rbtnBefore->setChecked(true);
    rbtnAfter = makeRadioButton(group, "rbtnAfter", QStringLiteral("After cursor"), QRect(10, 110, 120, 17));
    m_printerChoice = new PrinterChoice(group, QRect(10, 140, 144, 26), btnPause);

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
    memoMessage->setEnabled(false);
    memoMessage->resize(472, kMessageHeightAfterDrop);
    buildPrintView();
}

void TEditorForBorvane5_Form1::orderTabs()
{
    // Within each parent as the control tree numbers it, parents in their own order.
    QWidget* const tabOrder[] = {
        leditFileName, cboxHeader,        btnCreate,   // pnlLeft
        leditPause,    bbtnHeightSearch,  cboxKeyword, // gboxPause
        btnPause,      TemperarureInsert, leditT0Temperature, leditT1Temperature, leditBedTemperature,
        lbleRow,       rbtnBefore,        rbtnAfter, // gboxInsertCommand
        Memo1,                                       // pnlRight
    };
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
    // The printer choice, last in its group.
    QWidget::setTabOrder(rbtnAfter, m_printerChoice->combo());
    QWidget::setTabOrder(m_printerChoice->combo(), m_printerChoice->settingsButton());
    QWidget::setTabOrder(m_printerChoice->settingsButton(), Memo1);
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
    connect(Memo1, &EditBuffer::stepTakenBack, this, &Form::insertionTakenBack);
    connect(Memo1, &EditBuffer::stepRedone, this, &Form::insertionRedone);
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
    // The layer ruler at the right edge beside the editor, which gives up its width.
    const int editorHeight = qMax(0, pnlRight->height() - 2 - messageHeight);
    const int rulerWidth = qMin(m_layerRuler->sizeHint().width(), innerWidth);
    Memo1->setGeometry(1, 1 + messageHeight, innerWidth - rulerWidth, editorHeight);
    m_layerRuler->setGeometry(1 + innerWidth - rulerWidth, 1 + messageHeight, rulerWidth, editorHeight);
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
    if (AppMessage(watched, event) || warningClicked(watched, event) || messageScrolled(watched, event))
        return true;
    return QWidget::eventFilter(watched, event);
}
