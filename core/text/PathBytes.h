#pragma once

// File names as the file system has them. A Unix name is bytes, not text: a file made on a
// Latin-1 system is named "lat\xe9n.gcode", which is no UTF-8, and Qt reads such a byte as
// U+FFFD, so that the name reaches no file. Here a path is a QString in which each byte that is
// not part of valid UTF-8 stands as the lone surrogate U+DC00 + byte (U+DC80..U+DCFF), which no
// valid text holds; the bytes come back exactly. A valid UTF-8 name is the text Qt makes of it.
//
// Such a string reaches the file system only through toBytes(), and a person only through
// shown(): a message box, the terminal, a field.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

class QUrl;

namespace PathBytes {

// The path with these bytes: valid UTF-8 as its text, every other byte as U+DC00 + byte.
QString fromBytes(QByteArrayView bytes);
// The bytes of a path made by fromBytes() or typed: U+DC80..U+DCFF alone give their byte back,
// everything else its UTF-8.
QByteArray toBytes(QStringView path);
// Whether the path holds a byte that is not UTF-8.
bool hasStrayBytes(QStringView path);

// The text a person reads: each byte that is not UTF-8 written as "\xE9", the rest as it is.
// The escape tells which byte it is (as a shell's $'lat\xe9n.gcode' types it), where a
// replacement character would look the same for every byte and like a missing glyph.
QString shown(QStringView text);

// The local path a file manager's URL names, its percent-encoded bytes kept; empty when the
// URL is no local file.
QString fromUrl(const QUrl& url);
// The URL of a local path, its bytes percent-encoded.
QUrl toUrl(const QString& path);

// The path a Qt file dialog or folder listing gives, back as the bytes of the entry it names. Qt
// reads a byte that is no UTF-8 in a name as U+FFFD; each part of path that names nothing and holds
// U+FFFD is matched against its folder's entries read as bytes, and replaced when exactly one of
// them reads the same. The path itself when nothing needs that or nothing matches exactly once.
QString resolveReplaced(const QString& path);

// The path made absolute against the working folder's bytes, cleaned as QDir::cleanPath does,
// with native separators.
QString absolute(const QString& path);

} // namespace PathBytes
