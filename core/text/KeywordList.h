#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

// The entries of a keyword list file: one per line, lines ending in CR LF, LF or CR;
// a last line without a break still counts, an empty line is an empty entry.
// A byte-order mark selects UTF-8 or UTF-16; without one byte n is character n.
QStringList parseKeywordList(QByteArrayView bytes);

// The keyword list the program reads: TempFile/SearchKey.txt in exeFolder (ending with a
// separator) when that is a file, otherwise the installed copy in the data folder beside
// the program's bin folder when that is a file, otherwise the first path.
QString keywordListPath(const QString& exeFolder);
