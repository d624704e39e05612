#pragma once

// The data rows of the tests that run on every real slicer file beside the repository.

#include "ReferenceLayers.h"

#include <QByteArray>
#include <QDir>
#include <QTest>

namespace Reference {

// A data row per real slicer file in folder, in a column named column: "path" holds the file's
// path, any other its name. False when there is none, for the caller to skip the test.
inline bool addRealFileRows(const QString& folder, const char* column)
{
    const QStringList files = realFiles(folder);
    const bool byPath = QByteArray(column) == "path";
    QTest::addColumn<QString>(column);
    for (const QString& name : files)
        QTest::newRow(qPrintable(name)) << (byPath ? QDir(folder).filePath(name) : name);
    return !files.isEmpty();
}

} // namespace Reference
