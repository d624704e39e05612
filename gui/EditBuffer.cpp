#include "gui/EditBuffer.h"

#include <QKeyEvent>
#include <QMouseEvent>

EditBuffer::EditBuffer(QWidget* parent) : QsciScintilla(parent)
{
    // A document without style bytes: no lexer runs here, and it halves the memory of a big body.
    const long document = SendScintilla(SCI_CREATEDOCUMENT, 0UL, long(SC_DOCUMENTOPTION_STYLES_NONE));
    SendScintilla(SCI_SETDOCPOINTER, 0UL, document);
    SendScintilla(SCI_RELEASEDOCUMENT, 0UL, document);

    setUtf8(false); // one byte per character
    SendScintilla(SCI_SETCODEPAGE, 0L);
    setWrapMode(QsciScintilla::WrapNone);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    for (int margin = 0; margin < 5; ++margin)
        setMarginWidth(margin, 0);
    SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1L);
    SendScintilla(SCI_SETSCROLLWIDTH, 1L);
    setLineBreak(LineBreak::LF);
    // No modification events: QScintilla answers each with work proportional to the text
    // before the change (for accessibility), a fifth of a second per keystroke or inserted
    // line in the middle of an 85 MB body. Nothing here listens to them.
    SendScintilla(SCI_SETMODEVENTMASK, 0L);
    setUpMargins();
}

int EditBuffer::physicalRowCount() const
{
    return int(SendScintilla(SCI_GETLINECOUNT));
}

int EditBuffer::lineCount() const
{
    const int rows = physicalRowCount();
    const long length = SendScintilla(SCI_GETLENGTH);
    return SendScintilla(SCI_POSITIONFROMLINE, long(rows - 1)) == length ? rows - 1 : rows;
}

std::string_view EditBuffer::bytes() const
{
    const long length = SendScintilla(SCI_GETLENGTH);
    if (length == 0)
        return {};
    const auto* text = static_cast<const char*>(SendScintillaPtrResult(SCI_GETCHARACTERPOINTER));
    return {text, std::size_t(length)};
}

qsizetype EditBuffer::rowStart(int row) const
{
    return SendScintilla(SCI_POSITIONFROMLINE, long(row));
}

qsizetype EditBuffer::rowEnd(int row) const
{
    return SendScintilla(SCI_GETLINEENDPOSITION, long(row));
}

int EditBuffer::rowAt(qsizetype offset) const
{
    return int(SendScintilla(SCI_LINEFROMPOSITION, long(offset)));
}

void EditBuffer::insertBytesAt(qsizetype offset, const QByteArray& bytes)
{
    editAsProgram([&] { SendScintilla(SCI_INSERTTEXT, uintptr_t(offset), bytes.constData()); });
}

void EditBuffer::insertRow(int row, const QString& s)
{
    const int count = lineCount();
    const QByteArray line = s.toLatin1();
    const QByteArray lineBreak = lineBreakBytes().toByteArray();
    if (row >= 0 && row < count) {
        insertBytesAt(rowStart(row), line + lineBreak);
        markInserted(rowStart(row), line.size());
    } else if (row == count) {
        const qsizetype length = SendScintilla(SCI_GETLENGTH);
        const bool endsWithBreak = count < physicalRowCount(); // an empty last row follows a break
        if (length == 0 || endsWithBreak) {
            insertBytesAt(length, line + lineBreak);
            markInserted(length, line.size());
        } else {
            insertBytesAt(length, lineBreak + line);
            markInserted(length + lineBreak.size(), line.size());
        }
    }
    updateMarginWidths();
}

void EditBuffer::appendRow(const QString& s)
{
    insertRow(lineCount(), s);
}

void EditBuffer::clearRows()
{
    editAsProgram([this] { SendScintilla(SCI_CLEARALL); });
}

qsizetype EditBuffer::lineIndex(int row) const
{
    if (row == -1)
        row = rowAt(SendScintilla(SCI_GETCURRENTPOS));
    return hasRow(row) ? rowStart(row) : -1;
}

int EditBuffer::CaretRow() const
{
    return rowAt(SendScintilla(SCI_GETSELECTIONSTART));
}

void EditBuffer::PlaceCaretAtRow(int row)
{
    if (!hasRow(row))
        return;
    SendScintilla(SCI_GOTOPOS, long(rowStart(row)));
}

void EditBuffer::SelectRow(int row)
{
    if (!hasRow(row))
        return;
    PlaceCaretAtRow(row);
    SendScintilla(SCI_SETSEL, (unsigned long)rowStart(row), long(rowEnd(row)));
}

void EditBuffer::setSelectionStart(qsizetype offset)
{
    const long caret = offset < 0 ? SendScintilla(SCI_GETCURRENTPOS) : long(offset);
    SendScintilla(SCI_SETEMPTYSELECTION, caret);
}

void EditBuffer::setLineBreak(LineBreak lineBreak)
{
    m_lineBreak = lineBreak;
    SendScintilla(SCI_SETEOLMODE, lineBreak == LineBreak::CRLF ? long(SC_EOL_CRLF) : long(SC_EOL_LF));
}

QByteArrayView EditBuffer::lineBreakBytes() const
{
    return m_lineBreak == LineBreak::CRLF ? QByteArrayView("\r\n") : QByteArrayView("\n");
}

quint64 EditBuffer::revision() const
{
    if (SendScintilla(SCI_GETMODIFY)) {
        ++m_revision;
        SendScintilla(SCI_SETSAVEPOINT);
    }
    return m_revision;
}

void EditBuffer::beginFill(qsizetype expectedBytes)
{
    m_fillWasReadOnly = isReadOnly();
    SendScintilla(SCI_SETREADONLY, 0L);
    // Undo off first, so that clearing an earlier body does not copy it into the undo history.
    SendScintilla(SCI_SETUNDOCOLLECTION, 0L);
    SendScintilla(SCI_CLEARALL);
    // Room beyond the body: Scintilla grows its text by copying all of it into a new block,
    // which would double the memory and take a tenth of a second on the first insertion
    // into a big file. A sixteenth more leaves room for many inserted lines.
    SendScintilla(SCI_ALLOCATE, long(expectedBytes + qMax<qsizetype>(64 * 1024, expectedBytes / 16)));
}

void EditBuffer::appendBytes(QByteArrayView bytes)
{
    if (!bytes.isEmpty())
        SendScintilla(SCI_APPENDTEXT, uintptr_t(bytes.size()), bytes.constData());
}

void EditBuffer::endFill()
{
    SendScintilla(SCI_SETUNDOCOLLECTION, 1L);
    SendScintilla(SCI_EMPTYUNDOBUFFER);
    SendScintilla(SCI_SETSAVEPOINT);
    ++m_revision; // the fill went in without undo history, so it left no save point
    SendScintilla(SCI_SETREADONLY, m_fillWasReadOnly ? 1L : 0L);
    // The horizontal scroll range starts anew for the new text.
    SendScintilla(SCI_SETSCROLLWIDTH, 1L);
    updateMarginWidths();
    viewport()->update();
}

void EditBuffer::mouseReleaseEvent(QMouseEvent* event)
{
    QsciScintilla::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        emit clicked();
}

void EditBuffer::keyPressEvent(QKeyEvent* event)
{
    const bool undoKey = event->matches(QKeySequence::Undo);
    if (isReadOnly() && (undoKey || event->matches(QKeySequence::Redo))) {
        editAsProgram([&] { undoKey ? undo() : redo(); });
        event->accept();
        return;
    }
    QsciScintilla::keyPressEvent(event);
}
