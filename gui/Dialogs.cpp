#include "gui/Dialogs.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Dialogs {

namespace {

Answerer& answerer()
{
    static Answerer instance;
    return instance;
}

int showBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
            QMessageBox::StandardButtons buttons)
{
    const QPointer<QWidget> owner = QApplication::activeWindow();
    if (answerer())
        return answerer()(BoxRequest{caption, text, icon, buttons, owner});
    QMessageBox box(icon, caption, text, buttons, owner);
    const int answer = box.exec();
    // Not every window system gives the activation back when a modal box closes.
    if (owner)
        owner->activateWindow();
    return answer;
}

void showOpenError(const QString& path)
{
    showBox(QMessageBox::NoIcon, QStringLiteral("File Open Error"), QStringLiteral("No Open ") + path,
            QMessageBox::Ok);
}

void showNotAFile(const QString& path)
{
    showBox(QMessageBox::Warning, QStringLiteral("File Open Error"),
            QStringLiteral("This is not a file and was not opened:\n%1\n\nOnly regular files are read; this "
                           "is a pipe, a device or a socket, which could keep the window waiting.")
                .arg(path),
            QMessageBox::Ok);
}

ReadDevice& readDevice()
{
    static ReadDevice instance;
    return instance;
}

enum class Opened { Yes, Failed, NotAFile };

// Opens a regular file for reading. On Unix the file is opened without blocking and checked
// on its open handle, so a pipe put in the file's place cannot keep the window waiting.
Opened openRegularFile(QFile& file, const QString& path)
{
    if (path.isEmpty())
        return Opened::Failed;
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Opened::Failed;
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return Opened::NotAFile;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file.setFileName(path);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Opened::Failed;
    }
    return Opened::Yes;
#else
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir())
        return Opened::NotAFile;
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly) ? Opened::Yes : Opened::Failed;
#endif
}

} // namespace

bool OpenForRead(QFile& file, const QString& path)
{
    switch (openRegularFile(file, path)) {
    case Opened::Yes:
        return true;
    case Opened::NotAFile:
        showNotAFile(path);
        return false;
    case Opened::Failed:
        break;
    }
    showOpenError(path);
    return false;
}

void setReadDevice(ReadDevice next)
{
    readDevice() = std::move(next);
}

std::unique_ptr<QIODevice> readDeviceFor(QFile& file)
{
    return readDevice() ? readDevice()(file) : nullptr;
}

bool OpenForWrite(QSaveFile& file, const QString& path)
{
    file.setFileName(path);
    // Unbuffered: each write reaches the file at once, so a short one (a full disk) is seen
    // by the writer that made it.
    if (path.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        showOpenError(path);
        return false;
    }
    return true;
}

qint64 FileLength(const QFile& file)
{
    return file.isOpen() ? file.size() : -1;
}

void ShowNotice(const QString& text)
{
    showBox(QMessageBox::NoIcon, QStringLiteral("Message"), text, QMessageBox::Ok);
}

int AskOkCancel(const QString& text)
{
    const int answer =
        showBox(QMessageBox::NoIcon, QStringLiteral("Message"), text, QMessageBox::Ok | QMessageBox::Cancel);
    return answer == QMessageBox::Ok ? 1 : 2;
}

void ShowError(const QString& caption, const QString& text)
{
    showBox(QMessageBox::Warning, caption, text, QMessageBox::Ok);
}

void ShowCritical(const QString& caption, const QString& text)
{
    showBox(QMessageBox::Critical, caption, text, QMessageBox::Ok);
}

void setAnswerer(Answerer next)
{
    answerer() = std::move(next);
}

} // namespace Dialogs
