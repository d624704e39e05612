// Opening a file or folder: dropped on the window, chosen with Ctrl+O or named on the command line.

#include "core/gcode/BackgroundLayerIndex.h"
#include "core/gcode/SlicedFile.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
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

// Reads the file's header once, leaving the file at its body; tells the user why and
// returns false when it has none that fits.
bool readHeader(QFile& file, const QString& path, SlicedFile::HeaderRead& header)
{
    header = SlicedFile::readHeader(file);
    if (header.check == SlicedFile::HeaderCheck::Fits)
        return true;
    Dialogs::ShowError(QStringLiteral("File Open Error"),
                       QStringLiteral("This file is not a sliced G-code file and was not opened:\n%1\n\n%2")
                           .arg(path, SlicedFile::headerProblem(header.check)));
    return false;
}

} // namespace

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
    // A file that cannot be opened or has no header changes nothing.
    const bool isFolder = Utility::IsDirectory(path);
    QFile file;
    SlicedFile::HeaderRead header;
    if (!isFolder && (!Dialogs::OpenForRead(file, path) || !readHeader(file, path, header)))
        return;

    DroppedPath = path;
    FolderPath = isFolder ? DroppedPath : SlicedFile::folderOf(DroppedPath);
    FileLoaded = !isFolder;
    editFilePath->setText(FolderPath);
    leditFileName->setText(OutputFileName);
    OutputPath = FolderPath + QDir::separator() + OutputFileName;
    Memo1->setEnabled(true);
    btnCreate->setEnabled(true);
    LoadSlicedFile(FileLoaded ? &file : nullptr, header.bytes);
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

void TEditorForBorvane5_Form1::LoadSlicedFile(QFile* file, const QByteArray& header)
{
    if (file) {
        HeaderLength = int(header.size());
        std::copy_n(header.constData(), HeaderLength, HeaderBuffer.begin());

        // The body goes in as read, chunk by chunk, every byte as it is; its layers are indexed
        // on another thread meanwhile.
        const qint64 bodyBytes = qMax<qint64>(0, Dialogs::FileLength(*file) - HeaderLength);
        Memo1->beginFill(bodyBytes);
        BackgroundLayerIndex layers{std::size_t(bodyBytes)};
        const SlicedFile::BodyRead body = SlicedFile::readBody(*file, [&](QByteArrayView text) {
            layers.add(text);
            Memo1->appendBytes(text);
        });
        Memo1->endFill();
        adoptLayerIndex(layers.finish());
        Memo1->setLineBreak(body.crLf ? EditBuffer::LineBreak::CRLF : EditBuffer::LineBreak::LF);
        if (!body.ok)
            Dialogs::ShowError(QStringLiteral("File Open Error"),
                               QStringLiteral("This file could not be read to its end:\n%1\n\n%2")
                                   .arg(DroppedPath, file->errorString()));
        file->close();
        CurrentRow = 0;
    } else {
        CurrentRow = kRowAfterFolderDrop;
    }

    bbtnHeightSearch->setEnabled(true);
    cboxKeyword->setEnabled(true);
    sbtnGo->setEnabled(true);
    sbtnBack->setEnabled(true);
    sbtnGoRowNumber->setEnabled(true);
    const qsizetype caret = Memo1->lineIndex(CurrentRow);
    if (caret >= 0)
        Memo1->setSelectionStart(caret);
    lbleRow->setText(Utility::IntToPadded(CurrentRow + 1, 1));
    sbtnGoRowNumberClick();
    memoMessage->setPlainText(m_dropHint); // nothing said of an earlier file's rows
    setMemoMessageHeight(kMessageHeightAfterDrop);
}
