#include "GuiTestSupport.h"

#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QRegularExpression>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QStringList>
#include <QTest>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace GuiTest {

namespace {

bool sendDrop(QWidget* target, QMimeData& data)
{
    const QPoint pos = target->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return enter.isAccepted() && move.isAccepted() && drop.isAccepted();
}

} // namespace

bool dropUrls(QWidget* target, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    QStringList text;
    for (const QUrl& url : urls)
        text << url.toString();
    data.setText(text.join(u'\n'));
    return sendDrop(target, data);
}

bool dropUriList(QWidget* target, const QByteArray& uriList)
{
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"), uriList);
    return sendDrop(target, data);
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

QString withoutTime(const QString& message)
{
    static const QRegularExpression time(
        QStringLiteral("(?:: |, )(?:\\d+ h \\d+ min|\\d+ min \\d+ s|\\d+ s) into the print, of "
                       "(?:\\d+ h \\d+ min|\\d+ min \\d+ s|\\d+ s) \\([^)]*\\)"));
    return QString(message).remove(time);
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

#ifdef Q_OS_UNIX

bool writeRawFile(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
    return ::close(fd) == 0 && written;
}

QByteArray readRawFile(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QByteArrayLiteral("<cannot read>");
    QByteArray bytes;
    char buffer[65536];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, got);
    ::close(fd);
    return got < 0 ? QByteArrayLiteral("<cannot read>") : bytes;
}

QList<QByteArray> rawNames(const QByteArray& folder)
{
    QList<QByteArray> names;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << name;
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void removeRawTree(const QByteArray& path)
{
    struct stat status
    {
    };
    if (::lstat(path.constData(), &status) != 0)
        return;
    if (S_ISDIR(status.st_mode)) {
        for (const QByteArray& name : rawNames(path))
            removeRawTree(path + '/' + name);
        ::rmdir(path.constData());
    } else {
        ::unlink(path.constData());
    }
}

#endif

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
