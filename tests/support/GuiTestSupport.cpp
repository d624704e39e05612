#include "GuiTestSupport.h"

#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QStringList>
#include <QTest>

namespace GuiTest {

bool dropUrls(QWidget* target, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    QStringList text;
    for (const QUrl& url : urls)
        text << url.toString();
    data.setText(text.join(u'\n'));
    const QPoint pos = target->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return enter.isAccepted() && move.isAccepted() && drop.isAccepted();
}

bool dropFile(QWidget* target, const QString& path)
{
    return dropUrls(target, {QUrl::fromLocalFile(path)});
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const QList<QByteArray> kStructuredBody = {
    ";FLAVOR:Marlin",         // row 0
    "G28",                    // row 1
    "G1 Z0.300 F420",         // row 2: print start
    ";structure:shell-inner", // row 3
    "G1 X10 Y10 E1",          // row 4
    "G1 Z0.500 F420",         // row 5
    ";structure:shell-inner", // row 6
    "G1 X11 Y11 E2",          // row 7
    "G1 Z0.700 F420",         // row 8
    ";structure:shell-inner", // row 9
    "G1 X12 Y12 E3",          // row 10
    "G1 Z0.900 F420",         // row 11
    "M104 S0",                // row 12
};

QByteArray editorBytes(const EditBuffer& memo)
{
    const std::string_view bytes = memo.bytes();
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

LoadedView loadedView(const TEditorForBorvane5_Form1& window)
{
    return {editorBytes(*window.Memo1),    window.editFilePath->text(),
            window.leditFileName->text(),  window.leditStartH->text(),
            window.leditMaxZ->text(),      window.lbleRow->text(),
            window.btnCreate->isEnabled(), window.bbtnHeightSearch->isEnabled()};
}

QByteArray joinLines(const QList<QByteArray>& lines)
{
    QByteArray text;
    for (const QByteArray& line : lines)
        text += line + '\n';
    return text;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("<cannot read>");
}

namespace {

// Set on a box once it is met. Boxes on the stack often reuse one address, so the
// address cannot tell a new box from an answered one.
constexpr char kMet[] = "guiTestMet";

} // namespace

MessageBoxAnswers::MessageBoxAnswers(const QList<int>& answers, Mode mode)
{
    for (const int answer : answers)
        m_answers.enqueue(answer);
    if (mode == Mode::RealBoxes) {
        connect(&m_timer, &QTimer::timeout, this, &MessageBoxAnswers::poll);
        m_timer.start(5);
        return;
    }
    Dialogs::setAnswerer([this](const Dialogs::BoxRequest& request) {
        return answerRequest({request.caption, request.text, request.icon, request.buttons, request.owner});
    });
}

MessageBoxAnswers::~MessageBoxAnswers()
{
    if (!m_timer.isActive())
        Dialogs::setAnswerer({});
}

void MessageBoxAnswers::record(const Seen& box)
{
    seen.append(box);
    if (onShown)
        onShown(box);
}

QMessageBox::StandardButton MessageBoxAnswers::answerRequest(const Seen& request)
{
    record(request);
    const int answer = m_answers.isEmpty() ? PressEscape : m_answers.dequeue();
    if (answer != PressEscape && answer != CloseBox &&
        request.buttons.testFlag(QMessageBox::StandardButton(answer)))
        return QMessageBox::StandardButton(answer);
    // Esc, the close button, or a button the box does not have: what Esc gives on a real box.
    return request.buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::Ok;
}

void MessageBoxAnswers::poll()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    if (box->property(kMet).toBool()) {
        // Its answer did not close it: end it, so that the test fails instead of hanging.
        box->done(-1);
        return;
    }
    box->setProperty(kMet, true);
    record({box->windowTitle(), box->text(), box->icon(), box->standardButtons(), box->parentWidget()});

    const int answer = m_answers.isEmpty() ? PressEscape : m_answers.dequeue();
    QAbstractButton* button = nullptr;
    if (answer != PressEscape && answer != CloseBox)
        button = box->button(QMessageBox::StandardButton(answer));
    if (answer == CloseBox)
        box->close();
    else if (button)
        QTest::mouseClick(button, Qt::LeftButton);
    else
        QTest::keyClick(box, Qt::Key_Escape); // also for a button the box does not have
}

BoxAnswer::BoxAnswer(Action action, MessageBoxAnswers::Mode mode) : m_answers({action}, mode)
{
    m_answers.onShown = [this](const Seen& box) {
        if (!seen)
            Seen::operator=(box);
        seen = true;
    };
}

} // namespace GuiTest

template <> char* QTest::toString(const GuiTest::LoadedView& view)
{
    return QTest::toString(
        QStringLiteral("text %1 bytes, folder %2, name %3, start %4, max %5, row %6, create %7, search %8")
            .arg(view.text.size())
            .arg(view.folder, view.fileName, view.startHeight, view.maxHeight, view.row)
            .arg(view.createEnabled)
            .arg(view.heightSearchEnabled));
}
