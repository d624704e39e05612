// Opening a file or folder: dropped on the window, chosen with Ctrl+O or named on the command line.

#include "core/gcode/BackgroundLayerIndex.h"
#include "core/gcode/SlicedFile.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/PrintModel.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QComboBox>
#include <QDir>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>

#include <memory>
#include <new>
#include <optional>

namespace {

// The first local file or folder of a drop; other URLs are not ours to open.
std::optional<QString> firstLocalPath(const QMimeData* drop)
{
    if (!drop || !drop->hasUrls())
        return std::nullopt;
    for (const QUrl& url : drop->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            return QDir::toNativeSeparators(url.toLocalFile());
    }
    return std::nullopt;
}

void showRefusal(const QString& path, const QString& reason)
{
    Dialogs::ShowError(QStringLiteral("File Open Error"),
                       QStringLiteral("This file is not a sliced G-code file and was not opened:\n%1\n\n%2")
                           .arg(path, reason));
}

void showUnread(const QString& path, const QString& reason)
{
    Dialogs::ShowError(QStringLiteral("File Open Error"),
                       QStringLiteral("This file was not opened:\n%1\n\n%2\n\nNothing was changed; the "
                                      "earlier file and your edits are still here.")
                           .arg(path, reason));
}

} // namespace

// Reads the dropped file whole: its header once, then its body into a document of its own.
// Tells the user why and returns nothing when any step fails; the window is not touched.
std::optional<TEditorForBorvane5_Form1::ReadFile>
TEditorForBorvane5_Form1::ReadSlicedFile(const QString& path)
{
    QFile file;
    if (!Dialogs::OpenForRead(file, path))
        return std::nullopt;
    const std::unique_ptr<QIODevice> wrapper = Dialogs::readDeviceFor(file);
    QIODevice& device = wrapper ? *wrapper : static_cast<QIODevice&>(file);

    ReadFile read;
    SlicedFile::HeaderRead header = SlicedFile::readHeader(device);
    if (header.check != SlicedFile::HeaderCheck::Fits) {
        showRefusal(path, SlicedFile::headerProblem(header.check));
        return std::nullopt;
    }
    read.header = std::move(header.bytes);
    // The size first, so that a body too big is refused before any of it is read.
    const QString tooBig = SlicedFile::bodySizeProblem(device.size() - read.header.size());
    if (!tooBig.isEmpty()) {
        showRefusal(path, tooBig);
        return std::nullopt;
    }

    try {
        read.body = std::make_unique<BodyDocument>();
        // Room for the whole body is taken once the first chunk has been read and shown to hold
        // rows (a sparse file's zeros are one endless row, refused before any room is taken):
        // growing by what was read would copy the text again and again, 2.9 times the load time
        // and 1.5 times the memory for an 85 MB file. Running out of memory ends the read at once.
        const qint64 claimed = device.size() - read.header.size();
        bool reserved = false;
        // The layers are indexed on another thread meanwhile.
        BackgroundLayerIndex layers{std::size_t(qBound<qint64>(0, claimed, SlicedFile::kMaxBodyBytes))};
        const SlicedFile::BodyRead body = SlicedFile::readBody(device, [&](QByteArrayView text) {
            layers.add(text);
            if (!reserved) {
                reserved = true;
                const qint64 room = qMax<qint64>(64 * 1024, claimed / 16);
                if (!read.body->reserve(qMin(claimed, SlicedFile::kMaxBodyBytes) + room))
                    throw std::bad_alloc();
            }
            if (!read.body->append(text))
                throw std::bad_alloc();
        });
        if (!body.ok) {
            showUnread(path,
                       QStringLiteral("It could not be read to its end (%1).").arg(device.errorString()));
            return std::nullopt;
        }
        if (body.tooLarge) {
            showRefusal(path, SlicedFile::bodySizeProblem(SlicedFile::kMaxBodyBytes + 1));
            return std::nullopt;
        }
        if (const QString tooLong = SlicedFile::rowLengthProblem(body.longestRow); !tooLong.isEmpty()) {
            showRefusal(path, tooLong);
            return std::nullopt;
        }
        if (!read.body->finish())
            throw std::bad_alloc();
        read.crLf = body.crLf;
        read.layers = layers.finish();
    } catch (const std::bad_alloc&) {
        read.body.reset();
        showUnread(path, QStringLiteral("There is not enough memory to hold it."));
        return std::nullopt;
    }
    return read;
}

bool TEditorForBorvane5_Form1::AppMessage(QObject* target, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return false;
    auto* widget = qobject_cast<QWidget*>(target);
    if (!widget || widget->window() != this)
        return false;
    auto* drag = static_cast<QDropEvent*>(event);
    if (!drag->mimeData()->hasUrls())
        return false; // text dragged inside the editor keeps its own behaviour
    if (!firstLocalPath(drag->mimeData())) {
        drag->ignore();
        return true;
    }
    drag->acceptProposedAction();
    if (type == QEvent::Drop)
        OpenDroppedPath(*drag->mimeData());
    return true;
}

void TEditorForBorvane5_Form1::OpenDroppedPath(const QMimeData& drop)
{
    raise();
    activateWindow();
    if (const std::optional<QString> path = firstLocalPath(&drop))
        OpenPath(*path);
}

void TEditorForBorvane5_Form1::OpenPath(const QString& path)
{
    // A file that cannot be opened, has no header or cannot be read whole changes nothing.
    const bool isFolder = Utility::IsDirectory(path);
    std::optional<ReadFile> read;
    if (!isFolder && !(read = ReadSlicedFile(path)))
        return;

    DroppedPath = path;
    FolderPath = isFolder ? DroppedPath : SlicedFile::folderOf(DroppedPath);
    FileLoaded = !isFolder;
    editFilePath->setText(FolderPath);
    leditFileName->setText(OutputFileName);
    OutputPath = FolderPath + QDir::separator() + OutputFileName;
    Memo1->setEnabled(true);
    btnCreate->setEnabled(true);
    LoadSlicedFile(read ? &*read : nullptr);
    StartHeight = AnalysePrint();
    leditPause->setFocus();
}

void TEditorForBorvane5_Form1::OpenFileDialog()
{
    QFileDialog dialog(this, QStringLiteral("Open a sliced G-code file"),
                       FolderPath.isEmpty() ? QDir::homePath() : FolderPath);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(
        {QStringLiteral("Sliced G-code files (*.gx *.g *.gcode *.gco)"), QStringLiteral("All files (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    OpenPath(QDir::toNativeSeparators(dialog.selectedFiles().front()));
}

void TEditorForBorvane5_Form1::LoadSlicedFile(ReadFile* read)
{
    if (read) {
        HeaderLength = int(read->header.size());
        std::copy_n(read->header.constData(), HeaderLength, HeaderBuffer.begin());
        Memo1->setLineBreak(read->crLf ? EditBuffer::LineBreak::CRLF : EditBuffer::LineBreak::LF);
        Memo1->takeBody(*read->body);
        read->body.reset();
        m_print->adoptLayers(std::move(read->layers));
    }
    // The caret's row before it moves on to the row after it: the first row of a new body, or
    // where a folder drop puts it.
    const int caretRow = read ? 0 : kRowAfterFolderDrop;

    bbtnHeightSearch->setEnabled(true);
    cboxKeyword->setEnabled(true);
    sbtnGo->setEnabled(true);
    sbtnBack->setEnabled(true);
    sbtnGoRowNumber->setEnabled(true);
    const qsizetype caret = Memo1->lineIndex(caretRow);
    if (caret >= 0)
        Memo1->setSelectionStart(caret);
    lbleRow->setText(Utility::IntToPadded(caretRow + 1, 1));
    goToRow(caretRow + 1);
    memoMessage->setPlainText(m_dropHint); // nothing said of an earlier file's rows
    setMemoMessageHeight(kMessageHeightAfterDrop);
}
