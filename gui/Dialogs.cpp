#include "gui/Dialogs.h"

#include "core/file/SlicedFileReader.h"
#include "core/text/PathBytes.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QSaveFile>

namespace Dialogs {

namespace {

Answerer& answerer()
{
    static Answerer instance;
    return instance;
}

int showBox(QMessageBox::Icon icon, const QString& caption, const QString& message,
            QMessageBox::StandardButtons buttons, const std::function<void(QMessageBox&)>& adjust = {})
{
    // A file name's bytes that are no UTF-8 are written as \xE9, which a person can read and type.
    const QString text = PathBytes::shown(message);
    const QPointer<QWidget> owner = QApplication::activeWindow();
    if (answerer())
        return answerer()(BoxRequest{caption, text, icon, buttons, owner});
    QMessageBox box(icon, caption, text, buttons, owner);
    if (adjust)
        adjust(box);
    const int answer = box.exec();
    // Not every window system gives the activation back when a modal box closes.
    if (owner)
        owner->activateWindow();
    return answer;
}

} // namespace

void ShowOpenError(const QString& path)
{
    showBox(QMessageBox::NoIcon, QStringLiteral("File Open Error"), QStringLiteral("No Open ") + path,
            QMessageBox::Ok);
}

void ShowNotAFile(const QString& path)
{
    showBox(QMessageBox::Warning, QStringLiteral("File Open Error"),
            QStringLiteral("This is not a file and was not opened:\n%1\n\nOnly regular files are read; this "
                           "is a pipe, a device or a socket, which could keep the window waiting.")
                .arg(path),
            QMessageBox::Ok);
}

namespace {

ReadDevice& readDevice()
{
    static ReadDevice instance;
    return instance;
}

} // namespace

bool OpenForRead(QFile& file, const QString& path)
{
    switch (SlicedFile::openRegularFile(file, path)) {
    case SlicedFile::Opened::Yes:
        return true;
    case SlicedFile::Opened::NotAFile:
        ShowNotAFile(path);
        return false;
    case SlicedFile::Opened::Failed:
        break;
    }
    ShowOpenError(path);
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
        ShowOpenError(path);
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

bool AskYesNo(const QString& caption, const QString& text)
{
    return showBox(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

Closing askClose(const QString& text)
{
    const int answer = showBox(QMessageBox::Warning, QStringLiteral("Unwritten Edits"), text,
                               QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                               [](QMessageBox& box) {
                                   box.button(QMessageBox::Save)->setText(QStringLiteral("Create"));
                                   box.setDefaultButton(QMessageBox::Save);
                               });
    return answer == QMessageBox::Save      ? Closing::Create
           : answer == QMessageBox::Discard ? Closing::Discard
                                            : Closing::Cancel;
}

namespace {

FolderChooser& folderChooser()
{
    static FolderChooser instance;
    return instance;
}

} // namespace

QString ChooseFolder(const QString& caption, const QString& start)
{
    if (folderChooser())
        return folderChooser()(caption, start);
    const QPointer<QWidget> owner = QApplication::activeWindow();
    const QString folder = QFileDialog::getExistingDirectory(owner, caption, start);
    if (owner)
        owner->activateWindow();
    // A dialog that read a byte of the folder's name as U+FFFD names no folder; its bytes are found.
    return folder.isEmpty() ? QString() : PathBytes::resolveReplaced(QDir::toNativeSeparators(folder));
}

void setFolderChooser(FolderChooser chooser)
{
    folderChooser() = std::move(chooser);
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
