#pragma once

#include <QByteArrayView>
#include <QStringList>

// The entries of a keyword list file: one per line, lines ending in CR LF, LF or CR;
// a last line without a break still counts, an empty line is an empty entry.
// A byte-order mark selects UTF-8 or UTF-16; without one byte n is character n.
QStringList parseKeywordList(QByteArrayView bytes);
