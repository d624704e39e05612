#pragma once

// The message boxes and the file opening that reports through them: the only place that opens
// message boxes. Each box is modal, owned by the active window, and has no icon.

#include <QList>
#include <QMessageBox>
#include <QString>

#include <functional>
#include <memory>

class QFile;
class QIODevice;
class QSaveFile;

namespace Dialogs {

// Opens path for reading bytes. On failure shows "No Open " + path ("File Open Error") and returns false.
// Only a regular file is opened: a pipe, device or socket is refused with its own box, and
// opening never waits for a writer at a pipe's other end.
bool OpenForRead(QFile& file, const QString& path);
// "No Open " + path ("File Open Error"): a file the system would not open.
void ShowOpenError(const QString& path);
// A box for a path that is a pipe, device or socket, which is not read.
void ShowNotAFile(const QString& path);
// The device that an opened file is read through: the file itself, unless a test has put a
// device of its own in between (one that fails part way, or counts what was read).
using ReadDevice = std::function<std::unique_ptr<QIODevice>(QFile& file)>;
void setReadDevice(ReadDevice readDevice);
std::unique_ptr<QIODevice> readDeviceFor(QFile& file);
// Opens path for writing through a save file; the target is replaced only on commit.
// On failure shows "No Open " + path ("File Open Error") and returns false.
bool OpenForWrite(QSaveFile& file, const QString& path);
// The file's length in bytes, -1 when it cannot be told.
qint64 FileLength(const QFile& file);

void ShowNotice(const QString& text);
// 1 for OK, 2 for Cancel, Esc or the close button.
int AskOkCancel(const QString& text);
// A notice with a warning icon, for errors that have their own wording (refused files, failed writes).
void ShowError(const QString& caption, const QString& text);
// A warning box that asks a question with Yes and No; true for Yes.
bool AskYesNo(const QString& caption, const QString& text);
// Closing with edits not yet written: "Create" (Save), Discard, or Cancel (Esc, the close button).
enum class Closing { Create, Discard, Cancel };
Closing askClose(const QString& text);
// A dialog that chooses an existing folder, starting at start; empty when the user cancels.
QString ChooseFolder(const QString& caption, const QString& start);
// While a chooser is set, ChooseFolder asks it instead of showing a dialog. Tests set one.
using FolderChooser = std::function<QString(const QString& caption, const QString& start)>;
void setFolderChooser(FolderChooser chooser);
// A list of a 3MF's plates ("Plate 1", "Plate 2", ...) to choose the one whose G-code is edited;
// the plate chosen, 0 when the user cancels.
int ChoosePlate(const QList<int>& plates);
// A box with the critical icon, for what escaped a handler.
void ShowCritical(const QString& caption, const QString& text);

// What a box asks: its caption, text, icon, buttons and the window that owns it.
struct BoxRequest
{
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QWidget* owner = nullptr;
};
// While an answerer is set, every box is handed to it instead of being shown, and the
// button it returns is taken as the user's answer. Tests set one; the program never does.
using Answerer = std::function<QMessageBox::StandardButton(const BoxRequest&)>;
void setAnswerer(Answerer answerer);

} // namespace Dialogs
