#pragma once

// Reading a sliced file, the one way the window and the batch mode both take: the file is
// opened only when it is a regular file, its header is read once, and its body exactly as long
// as the file was when opened goes straight to where it will live (the editor's document, the
// batch mode's buffer) while its layers are indexed on another thread. Whatever stops the read
// comes back as a refusal with its reason; the caller then throws away what the sink holds.

#include "core/container/BinaryGCode.h"
#include "core/layers/LayerIndex.h"
#include "core/file/SlicedFile.h"
#include "core/text/LineBreaks.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>

class QFile;
class QIODevice;

namespace SlicedFile {

// Where the body's bytes go as they are read.
class BodySink
{
public:
    virtual ~BodySink() = default;
    // Room for the whole body, asked once, after its first bytes were read and before they are
    // handed over; false when the memory ran out. -1 when the size is not known (a stream): the
    // bytes then come until the stream ends.
    virtual bool reserve(qint64 bodyBytes) = 0;
    // Takes the next bytes of the body; false when the memory ran out.
    virtual bool append(QByteArrayView bytes) = 0;
    // Where the bytes appended so far lie, when they stay there unchanged until read() returns,
    // so that the layer index reads them in place; null when the index must read a copy.
    virtual const char* bytesInPlace() const { return nullptr; }
    // Otherwise, a copy of the bytes last appended that the sink shares and never changes, so that
    // the layer index reads it instead of a copy of its own; empty when the sink keeps none.
    virtual QByteArray lastPiece() const { return {}; }
    // The body is whole; runs while the layer index finishes. False when the memory ran out.
    virtual bool finish() { return true; }
};

struct ReadOptions
{
    // The longest body taken (the editor's positions are 32-bit).
    qint64 maxBodyBytes = kMaxBodyBytes;
    // The longest row taken, its line break not counted; negative takes any row.
    qint64 maxRowBytes = kMaxRowBytes;
    // A body with no G0/G1 move is no sliced file.
    bool requireMove = true;
    // Tests put a device of their own between the file and the reader: one that fails or ends
    // part way, or counts what was read.
    std::function<std::unique_ptr<QIODevice>(QFile&)> readDevice;
};

enum class Refusal {
    None,
    CannotOpen, // the system would not open it (missing, no permission)
    NotAFile,   // a folder, a pipe, a device or a socket
    NotSliced,  // no header of two lines
    NotGCode,   // an image, an archive, a document, or text without a single G0/G1 move
    TooLarge,   // a body over maxBodyBytes
    RowTooLong, // a row over maxRowBytes
    Unread,     // a read error, the file changed while it was read, or the memory ran out
};

struct ReadResult
{
    Refusal refusal = Refusal::None;
    QString reason; // why, in the user's words, without the path; empty when the file was read
    QByteArray header;
    LineBreaks::Style lineBreak = LineBreaks::Style::LF;
    LayerIndex layers;
    qint64 bodyBytes = 0;
    // For binary G-code, what the file keeps around its G-code and how it writes it; the G-code's
    // text was read as a plain file of that text is (header, body, line break). Null for text.
    std::shared_ptr<const BinaryGCode::Container> container;

    bool ok() const { return refusal == Refusal::None; }
};

// Reads the file at path into body. Nothing but body is changed, also on a refusal.
ReadResult read(const QString& path, BodySink& body, const ReadOptions& options = {});
// Reads a sliced file from a stream (standard input) to its end, with the same checks but none
// of the file's (no size known before, no change to see).
ReadResult read(QIODevice& stream, BodySink& body, const ReadOptions& options = {});

// What a file that starts with these bytes is, when it is an image, an archive or a document
// rather than G-code, in a sentence that tells what to do; empty otherwise. path gives the name's
// suffix (a 3MF project is a zip archive).
QString lookAlike(QByteArrayView firstBytes, const QString& path);

// Whether a body holds a G0 or G1 move: a row whose first word, after blanks, is G0 or G1
// (G00, G01, either case), handed over in pieces, in order.
class MoveFinder
{
public:
    // True once a move was found; the rest of the body need not be handed over.
    bool add(QByteArrayView piece);
    bool found() const { return m_state == State::Found; }

private:
    enum class State { RowStart, AfterG, InRow, Found };
    State m_state = State::RowStart;
    int m_number = -1; // the digits after G so far, -1 before the first
};

// A refusal in one line with the file's path, as the batch mode prints it.
QString refusalText(const QString& path, const ReadResult& result);

enum class Opened { Yes, Failed, NotAFile };
// Opens path for reading bytes when it is a regular file. On Unix the file is opened without
// blocking and checked on its open handle, so that a pipe put in the file's place cannot keep
// the reader waiting. reason, when given, gets the system's words for a failure.
Opened openRegularFile(QFile& file, const QString& path, QString* reason = nullptr);

} // namespace SlicedFile
