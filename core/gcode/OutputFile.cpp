#include "core/gcode/OutputFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace OutputFile {

QString targetProblem(const QString& path)
{
    const QFileInfo info(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (info.isSymLink())
        return QStringLiteral("%1 is a symbolic link to %2; the output is not written through a link. Remove "
                              "the link or choose another name.")
            .arg(shown, QDir::toNativeSeparators(info.symLinkTarget()));
#ifdef Q_OS_UNIX
    struct stat status
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return QString(); // nothing there (or nothing to be told), so the open says why
    if (S_ISREG(status.st_mode))
        return QString();
    const char* what = S_ISDIR(status.st_mode)    ? "a folder"
                       : S_ISFIFO(status.st_mode) ? "a pipe"
                       : S_ISSOCK(status.st_mode) ? "a socket"
                                                  : "a device";
#else
    if (!info.exists() || info.isFile())
        return QString();
    const char* what = info.isDir() ? "a folder" : "not a regular file";
#endif
    return QStringLiteral(
               "%1 is %2, not a file; only a regular file is replaced by the output. Choose another "
               "name.")
        .arg(shown, QLatin1String(what));
}

bool exists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

Written write(const QString& path, const std::function<bool(QIODevice& device, QString& problem)>& write)
{
    Written written;
    QSaveFile output(path);
    // Unbuffered: each write reaches the file at once, so a short one (a full disk) is seen by
    // the writer that made it.
    if (!output.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        written.failed = Written::Failed::Open;
        written.problem = output.errorString();
        return written;
    }
    QString problem;
    if (!write(output, problem)) {
        output.cancelWriting();
        written.failed = Written::Failed::Write;
        written.problem = problem.isEmpty() ? output.errorString() : problem;
        return written;
    }
    if (!output.commit()) {
        written.failed = Written::Failed::Commit;
        written.problem = output.errorString();
    }
    return written;
}

} // namespace OutputFile
