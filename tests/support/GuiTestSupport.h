#pragma once

// Driving the real window as a user would: dropping files on it, answering the message
// boxes it opens, and the files around it. Shared by the GUI tests and the benchmark.

#include <QByteArray>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>

class EditBuffer;
class QWidget;
class TEditorForBorvane5_Form1;

namespace GuiTest {

// Sends a drag enter, a drag move and a drop to the middle of target, carrying urls as a
// URI list and as plain text, one address a line, as file managers do. True when target
// accepted all three.
bool dropUrls(QWidget* target, const QList<QUrl>& urls);

// Drops the local file or folder at path onto target.
bool dropFile(QWidget* target, const QString& path);
// Drops a URI list as a file manager puts it on the clipboard, its bytes as they are
// ("file:///tmp/lat%E9n.gcode\r\n" for a Latin-1 name).
bool dropUriList(QWidget* target, const QByteArray& uriList);

// Writes bytes to path, creating its folder first; true when all of them were written.
bool writeFile(const QString& path, const QByteArray& bytes);

// The editor's text, every byte as it holds it.
QByteArray editorBytes(const EditBuffer& memo);

// A body whose layers are marked as one slicer marks its walls (";structure:shell-inner" after
// each layer's Z row), so that the print starts at row 2, Z 0.300; layers at 0.5, 0.7 and 0.9.
extern const QList<QByteArray> kStructuredBody;

// What a user sees of a loaded file: the text, the fields that the load fills and the buttons it
// enables. Two windows that loaded the same file the same way compare equal.
struct LoadedView
{
    QByteArray text;
    QString folder, fileName, startHeight, maxHeight, row;
    bool createEnabled = false;
    bool heightSearchEnabled = false;

    bool operator==(const LoadedView&) const = default;
};
LoadedView loadedView(const TEditorForBorvane5_Form1& window);

// Lines joined into a body, each ended by an LF.
QByteArray joinLines(const QList<QByteArray>& lines);

// The message area's text without the time into the print, which completes a line once the times,
// read in the background, are there (": 1 h 12 min into the print, of 3 h 05 min (the slicer's
// figures)"): for the tests of what else a message says, whenever the times come.
QString withoutTime(const QString& message);

// The bytes of the file at path, or "<cannot read>" when it cannot be opened, so that a
// missing file never compares equal to an empty one.
QByteArray readFile(const QString& path);

// Files named by their bytes, as a system with a Latin-1 locale names them ("lat\xe9n.gcode"),
// which Qt's own file classes would read as another name. Unix only.
bool writeRawFile(const QByteArray& path, const QByteArray& bytes);
// As readFile: "<cannot read>" when the file cannot be opened.
QByteArray readRawFile(const QByteArray& path);
// The names in folder as the file system has them, sorted, without "." and "..".
QList<QByteArray> rawNames(const QByteArray& folder);
// Removes path and everything under it, whatever the names' bytes; QTemporaryDir cannot.
void removeRawTree(const QByteArray& path);

// Answers the message boxes that open while it lives, each with the next queued answer,
// and records what each showed. A box with no answer left gets Esc, so an unexpected box
// shows up in the record instead of hanging the test.
//
// By default the boxes are answered where the program asks for them (Dialogs' answerer),
// without a window. With RealBoxes they are shown and answered through the event loop as
// a user would: a button clicked with the mouse, Esc typed, or the box closed; a box that
// its answer did not close is ended.
class MessageBoxAnswers : public QObject
{
public:
    // Answers besides a QMessageBox::StandardButton.
    static constexpr int PressEscape = QMessageBox::Escape;
    static constexpr int CloseBox = -1; // closes the box as its title bar's close button does

    enum class Mode { Answerer, RealBoxes };

    struct Seen
    {
        QString caption;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QWidget* owner = nullptr;
    };

    explicit MessageBoxAnswers(const QList<int>& answers = {}, Mode mode = Mode::Answerer);
    ~MessageBoxAnswers() override;

    // Queues one more answer.
    void answer(int answer) { m_answers.enqueue(answer); }
    bool allAnswered() const { return m_answers.isEmpty(); }
    // With RealBoxes, how often to look for a new box; 0 looks on every pass of the event loop.
    void setPollInterval(int milliseconds) { m_timer.setInterval(milliseconds); }

    // Every box met, in order.
    QList<Seen> seen;
    // Called with each new box as soon as it is met, before it is answered.
    std::function<void(const Seen&)> onShown;

private:
    void poll();
    QMessageBox::StandardButton answerRequest(const Seen& request);
    void record(const Seen& box);

    QQueue<int> m_answers;
    QTimer m_timer;
};

// Answers the one box that a check expects with action, and keeps what it showed. A later box
// gets Esc.
class BoxAnswer : public MessageBoxAnswers::Seen
{
public:
    enum Action {
        ClickOk = QMessageBox::Ok,
        ClickCancel = QMessageBox::Cancel,
        PressEscape = MessageBoxAnswers::PressEscape,
        CloseBox = MessageBoxAnswers::CloseBox,
    };

    explicit BoxAnswer(Action action, MessageBoxAnswers::Mode mode = MessageBoxAnswers::Mode::Answerer);

    bool seen = false;

private:
    MessageBoxAnswers m_answers;
};

} // namespace GuiTest

// How QCOMPARE prints a LoadedView.
namespace QTest {
template <> char* toString(const GuiTest::LoadedView& view);
} // namespace QTest
