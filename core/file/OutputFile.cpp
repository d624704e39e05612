#include "core/file/OutputFile.h"

#include "core/file/SlicedFile.h"
#include "core/text/PathBytes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace OutputFile {

namespace {

QString linkProblem(const QString& path, const QString& target)
{
    return QStringLiteral("%1 is a symbolic link to %2; the output is not written through a link. Remove "
                          "the link or choose another name.")
        .arg(PathBytes::shown(QDir::toNativeSeparators(path)),
             PathBytes::shown(QDir::toNativeSeparators(target)));
}

QString notAFileProblem(const QString& path, const char* what)
{
    return QStringLiteral("%1 is %2, not a file; only a regular file is replaced by the output. Choose "
                          "another name.")
        .arg(PathBytes::shown(QDir::toNativeSeparators(path)), QLatin1String(what));
}

#ifdef Q_OS_UNIX

// Where the link at path points, as an absolute path (a relative target is read from the
// link's folder), its bytes kept.
QString linkTarget(const QString& path)
{
    const QByteArray link = PathBytes::toBytes(path);
    QByteArray target(256, Qt::Uninitialized);
    for (;;) {
        const ssize_t length = ::readlink(link.constData(), target.data(), size_t(target.size()));
        if (length < 0)
            return QString();
        if (length < target.size()) {
            target.truncate(length);
            break;
        }
        target.resize(target.size() * 2);
    }
    const QString pointsTo = PathBytes::fromBytes(target);
    if (pointsTo.startsWith(u'/'))
        return QDir::cleanPath(pointsTo);
    return QDir::cleanPath(SlicedFile::folderOf(PathBytes::absolute(path)) + u'/' + pointsTo);
}

QString systemProblem(int error)
{
    if (error == ENOSPC || error == EDQUOT)
        return QStringLiteral("The disk is full: the file could not be written to its end.");
    return qt_error_string(error);
}

// The file the output is written into before it takes path's name: beside it, so that the
// rename stays on one file system, named so that a user who finds one left by a crash knows it.
int createBeside(const QByteArray& target, QByteArray& temporary)
{
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray() : target.left(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary =
            folder + ".EditorForBorvane5-" + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Makes a rename in the folder of target last through a power cut; a failure loses nothing.
void syncFolderOf(const QByteArray& target)
{
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.left(slash);
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

#endif

} // namespace

QString targetProblem(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat status
    {
    };
    if (::lstat(PathBytes::toBytes(path).constData(), &status) != 0)
        return QString(); // nothing there (or nothing to be told), so the open says why
    if (S_ISLNK(status.st_mode))
        return linkProblem(path, linkTarget(path));
    if (S_ISREG(status.st_mode))
        return QString();
    return notAFileProblem(path, S_ISDIR(status.st_mode)    ? "a folder"
                                 : S_ISFIFO(status.st_mode) ? "a pipe"
                                 : S_ISSOCK(status.st_mode) ? "a socket"
                                                            : "a device");
#else
    const QFileInfo info(path);
    if (info.isSymLink())
        return linkProblem(path, info.symLinkTarget());
    if (!info.exists() || info.isFile())
        return QString();
    return notAFileProblem(path, info.isDir() ? "a folder" : "not a regular file");
#endif
}

bool exists(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat status
    {
    };
    return ::lstat(PathBytes::toBytes(path).constData(), &status) == 0;
#else
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
#endif
}

#ifdef Q_OS_UNIX

// QSaveFile's way by the path's bytes, which QSaveFile would turn into another name: a new file
// beside the target, written, synced to the disk and renamed over the target. The rename
// replaces whatever took the target's name since it was checked, a link included, and never
// writes through it.
Written write(const QString& path, const std::function<bool(QIODevice& device, QString& problem)>& write)
{
    Written written;
    const auto failed = [&written](Written::Failed failed, const QString& problem) {
        written.failed = failed;
        written.problem = problem;
        return written;
    };
    const QByteArray target = PathBytes::toBytes(path);
    struct stat status
    {
    };
    const bool replaces = ::lstat(target.constData(), &status) == 0 && S_ISREG(status.st_mode);
    // A file its owner made read-only stays, as QSaveFile leaves it.
    if (replaces && ::access(target.constData(), W_OK) != 0)
        return failed(Written::Failed::Open,
                      QStringLiteral("Existing file %1 is not writable").arg(PathBytes::shown(path)));
    QByteArray temporary;
    const int fd = createBeside(target, temporary);
    if (fd < 0)
        return failed(Written::Failed::Open, systemProblem(errno));
    // A file that is replaced keeps its permissions.
    if (replaces)
        ::fchmod(fd, status.st_mode & 07777);

    QString problem;
    Written::Failed failure = Written::Failed::Nothing;
    {
        QFile device;
        // Unbuffered: each write reaches the file at once, so a short one (a full disk) is seen by
        // the writer that made it.
        if (!device.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle)) {
            failure = Written::Failed::Open;
            problem = device.errorString();
        } else if (!write(device, problem)) {
            failure = Written::Failed::Write;
            if (problem.isEmpty())
                problem = device.errorString();
        }
    }
    if (failure == Written::Failed::Nothing && ::fsync(fd) != 0) {
        failure = Written::Failed::Commit;
        problem = systemProblem(errno);
    }
    if (::close(fd) != 0 && failure == Written::Failed::Nothing) {
        failure = Written::Failed::Commit;
        problem = systemProblem(errno);
    }
    if (failure == Written::Failed::Nothing && ::rename(temporary.constData(), target.constData()) != 0) {
        failure = Written::Failed::Commit;
        problem = systemProblem(errno);
    }
    if (failure != Written::Failed::Nothing) {
        ::unlink(temporary.constData());
        return failed(failure, problem);
    }
    syncFolderOf(target);
    return written;
}

#else

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

#endif

} // namespace OutputFile
