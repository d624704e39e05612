// Writing the edited file: "Create", the header option and the folder button.

#include "core/file/OutputFile.h"
#include "core/file/SlicedFile.h"
#include "core/text/PathBytes.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QBuffer>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

void showWriteError(const QString& path, const QString& reason)
{
    Dialogs::ShowError(
        QStringLiteral("File Write Error"),
        QStringLiteral("The file was not created:\n%1\n\n%2\n\nNothing was changed; your edits are "
                       "still here.")
            .arg(PathBytes::shown(QDir::toNativeSeparators(path)), reason));
}

} // namespace

void TEditorForBorvane5_Form1::btnCreateClick()
{
    // The program ends once the file is written, as it always did.
    if (createFile())
        close();
}

bool TEditorForBorvane5_Form1::hasUnwrittenEdits() const
{
    return FileLoaded && !m_written && Memo1->isUndoAvailable();
}

bool TEditorForBorvane5_Form1::createFile()
{
    OutputFileName = leditFileName->text();
    OutputPath = FolderPath + QDir::separator() + OutputFileName;
    if (HeaderLength == 0) {
        // Only a folder was dropped: there is no file to write.
        Dialogs::ShowError(QStringLiteral("Nothing to Create"),
                           QStringLiteral("There is nothing to write yet: drop or open a sliced G-code file "
                                          "first. Nothing was written."));
        return false;
    }
    if (const QString problem = SlicedFile::outputNameProblem(OutputFileName); !problem.isEmpty()) {
        Dialogs::ShowError(QStringLiteral("File Name Error"),
                           problem + QStringLiteral("\n\nNothing was written; your edits are still here."));
        leditFileName->setFocus();
        return false;
    }
    if (const QString problem = OutputFile::targetProblem(OutputPath); !problem.isEmpty()) {
        showWriteError(OutputPath, problem);
        leditFileName->setFocus();
        return false;
    }
    if (OutputFile::exists(OutputPath) &&
        Dialogs::AskOkCancel(QStringLiteral("This file exists, do you want to overwrite it?\n%1")
                                 .arg(QDir::toNativeSeparators(OutputPath))) != 1) {
        leditFileName->setFocus();
        return false;
    }

    listTypedRows();
    // The target is replaced only when every byte has been written.
    const QByteArrayView header =
        WriteHeader ? QByteArrayView(HeaderBuffer.data(), HeaderLength) : QByteArrayView();
    // Binary G-code is written back in its form around the edited text; without the header, as text.
    const BinaryGCode::Container* container = WriteHeader ? m_container.get() : nullptr;
    const OutputFile::Written written =
        OutputFile::write(OutputPath, [&](QIODevice& device, QString& problem) {
            if (!container)
                return SlicedFile::writeOutput(device, header, Memo1->bytes(), Memo1->lineBreakBytes(), &problem);
            QByteArray text;
            QBuffer buffer(&text);
            buffer.open(QIODevice::WriteOnly);
            if (!SlicedFile::writeOutput(buffer, header, Memo1->bytes(), Memo1->lineBreakBytes(), &problem))
                return false;
            const QByteArray file = BinaryGCode::encode(*container, text, &problem);
            return !file.isEmpty() && SlicedFile::writeBytes(device, file, &problem);
        });
    if (written.failed == OutputFile::Written::Failed::Open)
        return offerAnotherFolder(written.problem);
    if (!written.ok()) {
        showWriteError(OutputPath, written.problem);
        return false;
    }

    Dialogs::ShowNotice(PathBytes::shown(OutputPath) + QStringLiteral("\n") +
                        QStringLiteral(" This file has been created."));
    m_written = true;
    return true;
}

bool TEditorForBorvane5_Form1::offerAnotherFolder(const QString& problem)
{
    const bool choose = Dialogs::AskYesNo(
        QStringLiteral("File Write Error"),
        QStringLiteral("The file cannot be created in this folder:\n%1\n\n%2\n\nNothing was written; your "
                       "edits are still here. Choose another folder and create the file there?")
            .arg(PathBytes::shown(QDir::toNativeSeparators(OutputPath)), problem));
    return choose && chooseOutputFolder() && createFile();
}

bool TEditorForBorvane5_Form1::chooseOutputFolder()
{
    const QString folder = Dialogs::ChooseFolder(QStringLiteral("Choose the folder to create the file in"),
                                                 FolderPath.isEmpty() ? QDir::homePath() : FolderPath);
    if (folder.isEmpty())
        return false;
    FolderPath = folder;
    editFilePath->setText(PathBytes::shown(FolderPath));
    OutputPath = FolderPath + QDir::separator() + OutputFileName;
    return true;
}

void TEditorForBorvane5_Form1::cboxHeaderClick()
{
    WriteHeader = !cboxHeader->isChecked();
    OutputFileName = SlicedFile::outputFileNameFor(OutputFileName, WriteHeader,
                                                   m_container ? SlicedFile::kBinaryOutputSuffix : QString());
    leditFileName->setText(OutputFileName);
}

void TEditorForBorvane5_Form1::sbtnExplorerOpenClick()
{
    const QString folder = FolderPath.isEmpty() ? Utility::ExeFolder() : FolderPath;
    QDesktopServices::openUrl(PathBytes::toUrl(folder));
}
