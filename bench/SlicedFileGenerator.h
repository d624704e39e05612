#pragma once

#include <QString>

// Writes a sliced file of about targetBytes: a text line, a binary line of about 25 KB
// (0x00 and 0xFF, no LF), then layers of "G1 Z<z> F420", ";structure:" comments and
// thousands of extrusion moves. Returns the number of rows of the body, or -1 on failure.
qint64 writeSlicedFile(const QString& path, qint64 targetBytes);

// Writes a spiral vase of about targetBytes: the same two header lines, a start block, then
// extruding moves "G1 X Y Z E" whose Z rises on every line, so that every line starts a layer.
// Returns the number of rows of the body, or -1 on failure.
qint64 writeSpiralVaseFile(const QString& path, qint64 targetBytes);
