// Opening a file or folder: dropped on the window, chosen with Ctrl+O or named on the command line.

#include "core/file/SlicedFile.h"
#include "core/file/SlicedFileReader.h"
#include "core/text/PathBytes.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/EditorPrint.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopedValueRollback>
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
        // The file manager's name as the bytes it was, which toLocalFile() would lose.
        if (const QString path = PathBytes::fromUrl(url); !path.isEmpty())
            return QDir::toNativeSeparators(path);
    }
    return std::nullopt;
}

// The editor's document as the place a body is read into. A read that takes longer than a
// moment shows how far it got (bytes of the file's size) in a box whose Cancel stops it; the
// window keeps answering meanwhile.
class DocumentSink : public SlicedFile::BodySink
{
public:
    DocumentSink(BodyDocument& document, QWidget* window, const QString& path)
        : m_document(document), m_window(window), m_path(path), m_fileBytes(Utility::FileSize(path))
    {
        m_clock.start();
    }
    // Room for the whole body at once: growing by what was read would copy the text again and
    // again, 2.9 times the load time and 1.5 times the memory for an 85 MB file.
    bool reserve(qint64 bodyBytes) override
    {
        m_headerBytes = qMax<qint64>(0, m_fileBytes - bodyBytes);
        return m_document.reserve(bodyBytes + BodyDocument::kRoomForEdits);
    }
    bool append(QByteArrayView bytes) override
    {
        if (!m_document.append(bytes))
            return false;
        m_read += bytes.size();
        return !answerWhileReading();
    }
    QByteArray lastPiece() const override { return m_document.lastPiece(); }
    bool finish() override { return m_document.finish(); }
    // Whether the user cancelled the read.
    bool cancelled() const { return m_cancelled; }

private:
    // Milliseconds a read goes on before it shows its progress, and between two updates of it.
    static constexpr qint64 kQuietRead = 500;
    static constexpr qint64 kUpdateEvery = 50;
    // A megabyte step keeps the progress within an int for any file the editor takes.
    static constexpr qint64 kUnit = 1 << 20;

    // Shows the progress and lets the window answer; true when the read is to stop.
    bool answerWhileReading()
    {
        const qint64 now = m_clock.elapsed();
        if (now < kQuietRead || now - m_shownAt < kUpdateEvery)
            return false;
        m_shownAt = now;
        if (!m_progress) {
            m_progress = std::make_unique<QProgressDialog>(m_window);
            m_progress->setObjectName(QStringLiteral("readProgress"));
            m_progress->setWindowTitle(QStringLiteral("Opening"));
            m_progress->setWindowModality(Qt::WindowModal);
            m_progress->setMinimumDuration(0);
            m_progress->setAutoReset(false);
            m_progress->setAutoClose(false);
            m_progress->setRange(0, int(qMax<qint64>(1, m_fileBytes / kUnit)));
            // Cancel, Esc and closing the box all stop the read.
            QObject::connect(m_progress.get(), &QProgressDialog::canceled, [this] { m_cancelled = true; });
            QObject::connect(m_progress.get(), &QDialog::rejected, [this] { m_cancelled = true; });
        }
        const qint64 done = m_headerBytes + m_read;
        m_progress->setLabelText(QStringLiteral("Reading %1\n%2 of %3 MB")
                                     .arg(PathBytes::shown(QDir::toNativeSeparators(m_path)))
                                     .arg(double(done) / 1e6, 0, 'f', 1)
                                     .arg(double(m_fileBytes) / 1e6, 0, 'f', 1));
        m_progress->setValue(int(qMin(done / kUnit, qint64(m_progress->maximum()))));
        QCoreApplication::processEvents();
        return m_cancelled;
    }

    BodyDocument& m_document;
    QWidget* m_window;
    QString m_path;
    qint64 m_fileBytes;
    qint64 m_headerBytes = 0;
    qint64 m_read = 0;
    qint64 m_shownAt = 0;
    bool m_cancelled = false;
    QElapsedTimer m_clock;
    std::unique_ptr<QProgressDialog> m_progress;
};

// Qt's own file dialog reads a byte that is no UTF-8 in a name as U+FFFD and then finds no file of
// that name; this one takes the name when it stands for exactly one file by its bytes.
class OpenDialog : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (files.size() == 1 && !QFileInfo::exists(files.front())) {
            const QString resolved = PathBytes::resolveReplaced(files.front());
            if (resolved != files.front() && !Utility::IsDirectory(resolved)) {
                m_resolved = resolved;
                QDialog::accept();
                return;
            }
        }
        QFileDialog::accept();
    }

    // The chosen file, its bytes as the file system has them.
    QString chosen() const
    {
        if (!m_resolved.isEmpty())
            return m_resolved;
        // A portal's dialog hands over the file's URL, whose bytes fromUrl keeps.
        const QList<QUrl> urls = selectedUrls();
        const QString path = urls.isEmpty() ? QString() : PathBytes::fromUrl(urls.front());
        return path.isEmpty() ? QString() : PathBytes::resolveReplaced(QDir::toNativeSeparators(path));
    }

private:
    QString m_resolved;
};

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
    ReadFile read;
    std::optional<SlicedFile::ReadResult> result;
    try {
        read.body = std::make_unique<BodyDocument>();
        DocumentSink sink(*read.body, this, path);
        SlicedFile::ReadOptions options;
        options.readDevice = [](QFile& file) { return Dialogs::readDeviceFor(file); };
        // A 3MF with several plates: the user chooses one, or cancels the drop.
        bool plateCancelled = false;
        options.choosePlate = [&plateCancelled](const QList<int>& plates) {
            const int plate = Dialogs::ChoosePlate(plates);
            plateCancelled = plate == 0;
            return plate;
        };
        result = SlicedFile::read(path, sink, options);
        if (sink.cancelled() || plateCancelled)
            return std::nullopt; // the user's own choice: nothing to tell, nothing changed
    } catch (const std::bad_alloc&) {
        result.emplace();
        result->refusal = SlicedFile::Refusal::Unread;
        result->reason = QStringLiteral("There is not enough memory to hold it.");
    }
    switch (result->refusal) {
    case SlicedFile::Refusal::None:
        read.header = std::move(result->header);
        read.layers = std::move(result->layers);
        read.lineBreak = result->lineBreak;
        read.container = std::move(result->container);
        read.archive = std::move(result->archive);
        return read;
    case SlicedFile::Refusal::CannotOpen:
        Dialogs::ShowOpenError(path);
        break;
    case SlicedFile::Refusal::NotAFile:
        Dialogs::ShowNotAFile(path);
        break;
    case SlicedFile::Refusal::TooLarge:
        Dialogs::ShowError(
            QStringLiteral("File Open Error"),
            QStringLiteral("This file is too large and was not opened:\n%1\n\n%2").arg(path, result->reason));
        break;
    case SlicedFile::Refusal::NotSliced:
    case SlicedFile::Refusal::NotGCode:
    case SlicedFile::Refusal::RowTooLong:
        showRefusal(path, result->reason);
        break;
    case SlicedFile::Refusal::Unread:
        showUnread(path, result->reason);
        break;
    }
    return std::nullopt;
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
    // The window answers while a file is read: a second drop or Ctrl+O then waits for no read.
    static bool reading = false;
    if (reading)
        return;
    const QScopedValueRollback<bool> readingNow(reading, true);
    // A file that cannot be opened, has no header or cannot be read whole changes nothing.
    const bool isFolder = Utility::IsDirectory(path);
    std::optional<ReadFile> read;
    // The hollow search of the file shown so far waits while another is read, so that the two
    // do not share the disk and the processor; it goes on if this one is not taken.
    const bool searching = !isFolder && stopHollowSearch();
    if (!isFolder && !(read = ReadSlicedFile(path))) {
        if (searching)
            startHollowSearch(DroppedPath);
        return;
    }

    DroppedPath = path;
    FolderPath = isFolder ? DroppedPath : SlicedFile::folderOf(DroppedPath);
    if (read) {
        // Binary G-code and a 3MF are written back in their form, under its suffix; a text file
        // after them goes back to the text's.
        const QString suffix = read->container ? SlicedFile::kBinaryOutputSuffix
                               : read->archive ? SlicedFile::kThreeMFOutputSuffix
                                               : QString();
        if (!suffix.isEmpty() || OutputFileName.endsWith(SlicedFile::kBinaryOutputSuffix, Qt::CaseInsensitive) ||
            OutputFileName.endsWith(SlicedFile::kThreeMFOutputSuffix, Qt::CaseInsensitive))
            OutputFileName = SlicedFile::outputFileNameFor(OutputFileName, WriteHeader, suffix);
    }
    FileLoaded = !isFolder;
    editFilePath->setText(PathBytes::shown(FolderPath));
    leditFileName->setText(OutputFileName);
    OutputPath = FolderPath + QDir::separator() + OutputFileName;
    Memo1->setEnabled(true);
    btnCreate->setEnabled(true);
    LoadSlicedFile(read ? &*read : nullptr);
    if (read) {
        // The file's name before the caption, as desktop editors show it.
        setWindowTitle(QFileInfo(path).fileName() + QStringLiteral(" \u2014 ") + m_caption);
        m_written = false;
        m_insertionSteps.clear();
        // The times of the file before are no more (the print model took the new text); this
        // one's are read in the background.
        m_pendingWhen.reset();
    }
    if (read)
        startHollowSearch(path); // in the background: the window answers meanwhile
    StartHeight = AnalysePrint();
    if (read)
        startPrintTimes();
    leditPause->setFocus();
}

void TEditorForBorvane5_Form1::OpenFileDialog()
{
    OpenDialog dialog(this, QStringLiteral("Open a sliced G-code file"),
                      FolderPath.isEmpty() ? QDir::homePath() : FolderPath);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(
        {QStringLiteral("Sliced G-code files (*.gx *.g *.gcode *.gco *.bgcode *.gcode.3mf)"), QStringLiteral("All files (*)")});
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (const QString path = dialog.chosen(); !path.isEmpty())
        OpenPath(path);
}

void TEditorForBorvane5_Form1::LoadSlicedFile(ReadFile* read)
{
    if (read) {
        HeaderLength = int(read->header.size());
        m_container = std::move(read->container);
        m_archive = std::move(read->archive);
        std::copy_n(read->header.constData(), HeaderLength, HeaderBuffer.begin());
        Memo1->setLineBreak(read->lineBreak);
        Memo1->takeBody(*read->body);
        read->body.reset();
        m_print->textReplaced(std::move(read->layers));
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
