#pragma once

// The one window of the editor. It owns every control, the edit buffer, the state that the
// handlers share and the header bytes of the loaded file. The handlers live in this folder, one
// file per task: DropHandlers (opening a file or folder), CreateHandlers ("Create" and the
// output name), NavigationHandlers (keyword, height, row number and click), InsertionHandlers
// (the pause and temperature lines), PrintViewHandlers (the ruler, the margins' layer labels
// and the warnings), LayerViewHandlers (the layer view and the hollows) and PrintTimeHandlers (the
// time into the print, "Insert Time"). The work itself is done in core/ and in the gui/ classes they call.

#include "core/container/BinaryGCode.h"
#include "core/container/ThreeMF.h"
#include "core/file/SlicedFile.h"
#include "core/layers/HollowFinder.h"
#include "core/layers/LayerIndex.h"
#include "core/layers/MoveReader.h"
#include "core/machine/PauseIndex.h"
#include "core/machine/PrintTimes.h"
#include "core/print/PausePlan.h"
#include "core/print/PrintModel.h"
#include "gui/LayerRuler.h"
#include "gui/LayerView.h"

#include <QWidget>

#include <array>
#include <functional>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

class BodyDocument;
class EditBuffer;
class LabeledEdit;
class PrinterChoice;
class QCheckBox;
class QComboBox;
class QFile;
class QFrame;
template <typename T> class QFutureWatcher;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMimeData;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSplitter;
class QTimer;
class QToolButton;
class EditorPrint;

class TEditorForBorvane5_Form1 : public QWidget
{
    Q_OBJECT

public:
    explicit TEditorForBorvane5_Form1(QWidget* parent = nullptr);
    ~TEditorForBorvane5_Form1() override;

    // The controls that a user works with, in the order of the window's control tree; the
    // group boxes and captions are private. Tests find every control by its object name too.
    QFrame* pnlLeft = nullptr;
    QToolButton* sbtnExplorerOpen = nullptr;
    QToolButton* sbtnChooseFolder = nullptr; // beside it: choose the output folder with a dialog
    QLineEdit* editFilePath = nullptr;
    LabeledEdit* leditFileName = nullptr;
    QFrame* pnlTop = nullptr;
    QFrame* pnlBottom = nullptr;
    QFrame* pnlCreate = nullptr; // under the left panel, never scrolled: the header choice and "Create"
    QCheckBox* cboxHeader = nullptr;
    QPushButton* btnCreate = nullptr;
    QFrame* pnlRight = nullptr;
    EditBuffer* Memo1 = nullptr;
    LabeledEdit* leditStartH = nullptr;
    LabeledEdit* leditPause = nullptr;
    LabeledEdit* leditTime = nullptr; // "Insert Time": "Serch" chooses by it when it was typed last
    QPushButton* bbtnHeightSearch = nullptr;
    LabeledEdit* leditMaxZ = nullptr;
    LabeledEdit* leditT0Temperature = nullptr;
    LabeledEdit* leditT1Temperature = nullptr;
    LabeledEdit* leditBedTemperature = nullptr;
    QPushButton* btnPause = nullptr;
    QPushButton* TemperarureInsert = nullptr;
    LabeledEdit* leditPauseMessage = nullptr; // the message on the printer's screen while it waits
    QRadioButton* rbtnBefore = nullptr;
    QRadioButton* rbtnAfter = nullptr;
    // In a file of several parts: the lines go at the row a height search chose in every part.
    QCheckBox* cboxEveryPart = nullptr;
    QComboBox* cboxKeyword = nullptr;
    QToolButton* sbtnBack = nullptr;
    QToolButton* sbtnGo = nullptr;
    LabeledEdit* lbleRow = nullptr;
    QToolButton* sbtnGoRowNumber = nullptr;
    QPlainTextEdit* memoMessage = nullptr;
    LabeledEdit* leditCurrentZ = nullptr;

    // The state record.
    QString DroppedPath;
    QString FolderPath;
    QString OutputFileName;
    QString OutputPath;
    QString SearchKeyPath;
    std::array<char, SlicedFile::kHeaderCapacity> HeaderBuffer{};
    int HeaderLength = 0;
    // The binary G-code around the file's text, which "Create" writes back; null for a text file.
    std::shared_ptr<const BinaryGCode::Container> m_container;
    // The 3MF around the file's text and the plate it came from, which "Create" writes back; null
    // for any other file.
    std::shared_ptr<const ThreeMF::Archive> m_archive;
    bool WriteHeader = false;
    bool FileLoaded = false;
    int CurrentRow = 0;
    int StartRow = 0;
    double StartHeight = 0.0;
    bool InsertEnabled = false;

    // Opens a sliced file (or, for a folder, sets the output folder) exactly as dropping it does.
    void OpenPath(const QString& path);

    // The "Printer" choice beside the pause button: what the pause inserts.
    PrinterChoice* printerChoice() const { return m_printerChoice; }

    // Switches btnPause, TemperarureInsert, rbtnBefore, rbtnAfter and the three temperature edits.
    void SetInsertionControlsEnabled(bool enabled);

    // The layers of the editor's current text: built again when the text changed since they
    // were built (rows inserted, taken back or typed). Everything that needs layers asks here.
    const LayerIndex& layerIndex();

    // The times of the editor's text as it is (from the start of the print to each row), or none
    // while they are being read on their own thread: asking starts that when the text or the
    // printer changed since they were read.
    const PrintTimes* printTimes();

private slots:
    // Event handlers, named after their control and event.
    void FormCreate();
    void FormClose();
    void sbtnExplorerOpenClick();
    // Chooses the output folder with a dialog; false when the user cancels.
    bool chooseOutputFolder();
    void btnCreateClick();
    void cboxHeaderClick();
    void sbtnGoClick();
    void sbtnBackClick();
    void Memo1Click();
    void sbtnGoRowNumberClick();
    void bbtnHeightSearchClick();
    void btnPauseClick();
    void TemperarureInsertClick();
    // press at the current row, and first, with "in every part" ticked, at the rows the height
    // search chose in the later parts (from the last up, so that the rows above stay where they are).
    void pressInEveryPart(const std::function<void()>& press);
    void pressPause(const QString& message);
    // Ctrl+O: asks for a sliced file and opens it as a drop would.
    void OpenFileDialog();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QLabel* lblFolderName = nullptr;
    QGroupBox* gboxPause = nullptr;
    QGroupBox* gboxInsertCommand = nullptr;
    QLabel* lblKeyword = nullptr;
    LayerRuler* m_layerRuler = nullptr;
    QScrollArea* m_leftScroll = nullptr;
    QHBoxLayout* m_editorRow = nullptr; // the editor and the ruler
    QSplitter* m_editorSplit = nullptr; // the editor and the ruler, then the layer view when shown
    bool m_messageCovers = false;
    bool m_fittedToScreen = false;

    void buildControls();
    void buildLeftPanel();
    void buildInsertPositionGroup();
    void buildInsertionGroup();
    void buildRightPanel();
    void buildPrintView();
    void orderTabs();
    void connectHandlers();
    void loadKeywordList();
    void layoutPanels();
    void setMemoMessageHeight(int height);
    void fitMessageHeight();

    PrinterChoice* m_printerChoice = nullptr;
    // The pause for the chosen printer at the row it goes to (see Pauses::plan), with the message
    // on the printer's screen (checked by the caller); none when a park over the print was asked
    // for and the user gave none.
    std::optional<PausePlan> pausePlan(int row, const QString& message);

    // The times into the print (PrintTimeHandlers.cpp). They are read on a thread of their own from
    // a copy of the text, one reading at a time; a result is kept only for the text and printer it
    // was read for, and a reading wanted meanwhile starts when the running one ends.
    void startPrintTimes();
    void printTimesRead();
    // "1 h 12 min into the print, of 3 h 05 min (the slicer's figures)" for row, or empty while
    // the times are not there.
    QString whenText(int row);
    // text(when), with when the time of row; while the times are not there, text("") and, if the
    // message area still begins with it and row is still shown when they come, it is completed.
    QString withWhen(int row, std::function<QString(const QString& when)> text);
    // The tooltip's lines for a layer: its time and what the time counts.
    QString layerTimeTip(std::size_t layer);
    bool marginToolTip(QObject* watched, QEvent* event);
    // "Serch" by "Insert Time": the change row of the last layer that starts at or before it.
    void searchTime();
    QFutureWatcher<PrintTimes>* m_timesWatcher = nullptr;
    PrintModel::TimesReading m_timesReading; // what the running reading reads, for the print model
    struct PendingWhen
    {
        int row = 0;
        QString shown;
        std::function<QString(const QString&)> text;
    };
    std::optional<PendingWhen> m_pendingWhen;
    bool m_searchByTime = false; // "Insert Time" was typed after "Insert Height"

    // Opening a file (DropHandlers.cpp).
    // Takes the drag-and-drop events aimed at this window, wherever they land on it.
    bool AppMessage(QObject* target, QEvent* event);
    void OpenDroppedPath(const QMimeData& drop);
    // A dropped file read whole, not yet shown.
    struct ReadFile
    {
        QByteArray header;
        std::unique_ptr<BodyDocument> body;
        LayerIndex layers;
        LineBreaks::Style lineBreak = LineBreaks::Style::LF;
        std::shared_ptr<const BinaryGCode::Container> container;
        std::shared_ptr<const ThreeMF::Archive> archive;
    };
    std::optional<ReadFile> ReadSlicedFile(const QString& path);
    // Shows a file read whole: its header kept aside, its body in the edit buffer (file drop),
    // or only places the caret (folder drop); then enables navigation and goes to the next row.
    void LoadSlicedFile(ReadFile* read);

    // A line of the message area, with the row a click on it goes to.
    struct Warning
    {
        QString text;
        std::optional<int> row;
    };

    // Choosing the row (NavigationHandlers.cpp). Every way of choosing a row, and every change
    // of the text (an insertion, undo, redo, typing), ends in showRow.
    //
    // How the editor shows the chosen row: Select selects its text and makes the editor
    // read-only (a search, the ruler, a hollow's name); Jump puts the caret at its start, the
    // editor writable except on the not-found row ("Row Number", a warning); Place puts the
    // caret there and leaves the read-only state (an insertion, undo, redo); Follow moves nothing
    // (the user put the caret there, by a click or a key).
    enum class RowShown { Select, Jump, Place, Follow };
    // What insertion is after it: as it was, on, or on where the text has a row to insert at.
    enum class Insertable { Keep, On, ByRow };
    // The one place that shows the row the next insertion goes by: CurrentRow, the editor's
    // selection or caret (and with it the margins, the ruler and the layer view, which follow
    // the caret), "Row Number", the Z field (z, or the height of the row's layer or Z line),
    // insertion on or off, and the message area: message, or else what the row is and what a
    // pause there does.
    void showRow(int row, RowShown how, Insertable insertable, std::optional<double> z = std::nullopt,
                 std::optional<QString> message = std::nullopt);
    // Shows row as a search shows what it found (Select). With z (a height search, the ruler or a
    // hollow's name), insertion is on and the message area tells what a pause there does (layer:
    // the layer whose change row it is; none for a Z line of a file without layers) and which
    // pauses the file already has.
    void selectRow(int row, std::optional<double> z = std::nullopt,
                   std::optional<std::size_t> layer = std::nullopt);
    // The row of the last layer below target (an absolute Z), as "Serch" chooses it; a box and
    // the print start's row when there is none.
    void searchHeight(std::int64_t target); // in nanometres, typed height plus the start
    // "Max Height": the top layer's Z (the last Z line without layers), above the start, + start = max.
    void showMaxHeight(const LayerIndex& layers, double startHeight);
    // Caret to the start of row, as the "Row Number" arrow goes there: insertion on for a row
    // of the text other than 1, the editor writable except on row 1.
    void goToRow(int row);
    void ScanForKeyword(const QString& keyword, const QString& exclusion, int step);
    // A line in the message area in place of what it said, with no row to go to.
    void showNote(const QString& text);
    // The height the Z field shows for row: its layer's, or without layers the last Z line's at
    // or before it; none before the first.
    std::optional<double> heightAt(int row);
    double ShowCurrentZ(int row);
    double AnalysePrint();
    // What the message area says after a file is opened: its name, rows and layers.
    QString fileSummary();
    // What the message area says of a chosen row: its layer and what a pause there does.
    QString rowDescription(int row, std::optional<double> z = std::nullopt,
                           std::optional<std::size_t> layer = std::nullopt);
    // Where lines inserted at row go, in words: "before layer 3 (Z 0.600)", "at row 12".
    QString placeOf(int row);
    // The caret moved by the user (a key, a click): the row it is on becomes the chosen row.
    void followCaret();
    // Ctrl+Z or redo ended: the row the step's click found or left is shown again.
    void textTakenBack(bool redo);
    std::optional<int> m_takenStep; // the insertion step that the running undo or redo met

    // Inserting (InsertionHandlers.cpp).
    // Puts lines at the current row (or after it, by the insert-position choice), top to
    // bottom, as one undo step; the caret goes to the first of them. rows: what the lines are,
    // for the print model (see PrintModel::expectInsertedRows);
    // blockMark: the lines are one pause block, marked once, on this line (see EditBuffer::insertRows).
    // summary: the first line of the message area after them (what went in, and where);
    // notes: more lines for it, asked once the lines are in.
    void insertLines(const QStringList& lines, const QString& summary,
                     const PrintModel::InsertedRows& rows = {},
                     std::optional<qsizetype> blockMark = std::nullopt,
                     const std::function<QList<Warning>()>& notes = {});
    // After the output could not be opened for the reason given: says so and offers to choose
    // another folder, then creates the file there.
    // True when it was created there.
    bool offerAnotherFolder(const QString& problem);
    // "Create" without the end of the program: true when the file was written.
    bool createFile();
    // Lines inserted or typed since the file was opened, not taken back and not written.
    bool hasUnwrittenEdits() const;
    bool m_written = false;
    QString m_caption; // the window's caption without a file's name
    // Per insertion click, by undo mark: the current row before it and after it, its lines and
    // the message area after it, so that Ctrl+Z goes back to the row the click found and redo
    // brings back its lines' marks, its row and its warnings.
    struct InsertionStep
    {
        int rowBefore = 0;
        int rowAfter = 0;
        int count = 0;
        std::optional<qsizetype> blockMark;
        QString messageAfter;
        std::map<int, int> warningRowsAfter;
    };
    std::vector<InsertionStep> m_insertionSteps;

    // Seeing the print (PrintViewHandlers.cpp): the layer ruler, the margins' layer labels,
    // and warnings in the message area, each with the row a click on it goes to.
    LayerRuler::View rulerView();
    void rulerHeightChosen(double height);
    // A layer of a file of several parts chosen on the ruler: its change row, in its own part.
    void rulerLayerChosen(std::size_t layer);
    // After count lines were inserted from firstRow on.
    void warnAfterInsertion(int firstRow, int count);
    void warnAfterHeightSearch();
    void showWarnings(const QList<Warning>& warnings, bool append);
    bool warningClicked(QObject* watched, QEvent* event);
    // Before "Create" writes: the rows typed by hand, which go out as they stand, each
    // clickable in the message area.
    void listTypedRows();

    // The message covers the editor until the first drop, then keeps a strip for the drop hint.
    static constexpr int kMessageHeightAtStart = 600;
    static constexpr int kMessageHeightAfterDrop = 62;
    // Where a folder drop puts the caret before the go-to-row handler runs.
    static constexpr int kRowAfterFolderDrop = 15;

    // The layer view and the hollows (LayerViewHandlers.cpp).
    void buildLayerView();
    void setLayerViewShown(bool shown);
    // The editor and the ruler keep their margins and kReadableCharacters of text beside the view;
    // what is left is the most the view may take, whichever way the handle is dragged.
    int editorPaneLeast() const;
    void limitLayerViewShare();
    static constexpr int kReadableCharacters = 40;
    static constexpr int kLayerViewLeast = 96;  // the view's narrowest, where the window has no more room
    LayerView::Frame layerViewFrame();
    // Finds the hollows of the file at path on a thread of its own; the result comes back to
    // hollowsFound unless another file was opened meanwhile.
    void startHollowSearch(const QString& path);
    // generation: the print model's text generation the search is for.
    void runHollowSearch(const QString& path, quint64 generation);
    // Ends the search at once; whether one was running.
    bool stopHollowSearch();
    void hollowsFound(quint64 generation, std::vector<Hollow> hollows);
    bool hollowClicked(QObject* watched, QEvent* event);

    LayerView* m_layerView = nullptr;
    QToolButton* m_layerViewButton = nullptr;
    std::vector<std::size_t>
        m_hollowLayers; // the ruler's: the layers the hollows close at, ascending, each once
    QString m_hollowMessage;
    std::vector<std::pair<int, std::size_t>>
        m_hollowMessageLayers; // where each layer's name ends, and the layer
    std::thread m_hollowThread;
    std::atomic<bool> m_hollowCancel{false};
    std::atomic<bool> m_hollowSearchEnded{false}; // the thread found what it looked for

    EditorPrint* m_print = nullptr;   // the print model of the editor's text, which every view asks
    std::map<int, int> m_warningRows; // message line to the row a click on it goes to
    // The rows the last height search chose in each part that spans it, in part order (the
    // first selected); empty for a file of one part or after another choice.
    struct PartChoice
    {
        int row = 0;
        double z = 0.0;
        std::size_t layer = 0;
    };
    std::vector<PartChoice> m_partChoices;
    QString m_dropHint;               // the message area's text until a height search tells about its row
};

// The window's component name: the one window of the program.
extern TEditorForBorvane5_Form1* EditorForBorvane5_Form1;
