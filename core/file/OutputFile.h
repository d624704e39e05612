#pragma once

// Writing the output file, the one way the window's "Create" and the batch mode both take: only
// where nothing stands yet or a regular file does, through a save file that replaces the
// target only once every byte was written, with the reason in the user's words when it fails.

#include <QString>

#include <functional>

class QIODevice;

namespace OutputFile {

// Why path cannot take the output, empty when nothing stands there or a regular file does: a
// symbolic link (dangling or not; the text names where it points), a folder, a pipe, a device
// or a socket. Such a path is never written, whatever the user answers or passes.
QString targetProblem(const QString& path);

// Whether anything stands at path, a dangling symbolic link included.
bool exists(const QString& path);

struct Written
{
    enum class Failed { Nothing, Open, Write, Commit };
    Failed failed = Failed::Nothing;
    QString problem; // why, in the user's words: a full disk, no permission, a read-only file system

    bool ok() const { return failed == Failed::Nothing; }
};
// Writes path through a save file: write puts every byte into the device and returns false, with
// its problem set, when a write fails. Nothing is left at path unless every byte was written.
Written write(const QString& path, const std::function<bool(QIODevice& device, QString& problem)>& write);

} // namespace OutputFile
