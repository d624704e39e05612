// Writing the edited file: "Create", the header option and the folder button.

#include "core/gcode/SlicedFile.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

namespace {

void showWriteError(const QString& path, const QString& reason)
{
    Dialogs::ShowError(
        QStringLiteral("File Write Error"),
        QStringLiteral("The file was not created:\n%1\n\n%2\n\nNothing was changed; your edits are "
                       "still here.")
            .arg(QDir::toNativeSeparators(path), reason));
}

} // namespace

void TEditorForBorvane5_Form1::btnCreateClick()
{
    OutputFileName = leditFileName->text();
    OutputPath = FolderPath + QDir::separator() + OutputFileName;
    if (const QString problem = SlicedFile::outputNameProblem(OutputFileName); !problem.isEmpty()) {
        Dialogs::ShowError(QStringLiteral("File Name Error"),
                           problem + QStringLiteral("\n\nNothing was written; your edits are still here."));
        leditFileName->setFocus();
        return;
    }
    if (QFileInfo(OutputPath).isFile() &&
        Dialogs::AskOkCancel(QStringLiteral("This file exists, do you want to overwrite it?")) != 1) {
        leditFileName->setFocus();
        return;
    }

    listTypedRows();
    // The target is replaced only when every byte has been written.
    QSaveFile output;
    if (!Dialogs::OpenForWrite(output, OutputPath))
        return;
    const QByteArrayView header =
        WriteHeader ? QByteArrayView(HeaderBuffer.data(), HeaderLength) : QByteArrayView();
    QString reason;
    if (!SlicedFile::writeOutput(output, header, Memo1->bytes(), Memo1->lineBreakBytes(), &reason)) {
        output.cancelWriting();
        showWriteError(OutputPath, reason);
        return;
    }
    if (!output.commit()) {
        showWriteError(OutputPath, output.errorString());
        return;
    }

    Dialogs::ShowNotice(OutputPath + QStringLiteral("\n") + QStringLiteral(" This file has been created."));
    close();
}

void TEditorForBorvane5_Form1::cboxHeaderClick()
{
    WriteHeader = !cboxHeader->isChecked();
    OutputFileName = SlicedFile::outputFileNameFor(OutputFileName, WriteHeader);
    leditFileName->setText(OutputFileName);
}

void TEditorForBorvane5_Form1::sbtnExplorerOpenClick()
{
    const QString folder = FolderPath.isEmpty() ? Utility::ExeFolder() : FolderPath;
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}
