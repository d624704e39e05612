#pragma once

// The edit buffer: the rows of the G-code body in an 8-bit Scintilla editor, one byte
// per character (byte n is character n). Rows are numbered from 0 and never wrap.
// Every other part of the program reads and changes the text through these operations.

#include "core/navigation/RowSource.h"

#include <Qsci/qsciscintilla.h>

#include <QByteArrayView>
#include <string_view>

class EditBuffer : public QsciScintilla, public RowSource
{
    Q_OBJECT

public:
    enum class LineBreak { LF, CRLF };

    explicit EditBuffer(QWidget* parent = nullptr);

    // RowSource: the text where it lies, and Scintilla's own line index.
    int lineCount() const override;
    int physicalRowCount() const override;
    std::string_view bytes() const override;
    qsizetype rowStart(int row) const override;
    qsizetype rowEnd(int row) const override;
    int rowAt(qsizetype offset) const override;

    // Puts s in front of row r so that s becomes row r; r == lineCount() appends a row.
    // Any other r changes nothing. Works in the read-only state too.
    void insertRow(int row, const QString& s);
    void appendRow(const QString& s);
    void clearRows();

    // Offset of row r's first character, -1 when the text has no row r; r == -1 asks for the caret row.
    qsizetype lineIndex(int row) const;
    // The row of the caret or, with a selection, of the selection start.
    int CaretRow() const;
    // Caret to the start of row r, scrolled into view, nothing selected. No change for a missing row.
    void PlaceCaretAtRow(int row);
    // Selects row r's text without its line break, caret at its end. No change for a missing row.
    void SelectRow(int row);
    // Caret to offset, nothing selected, not scrolled; -1 only removes the selection.
    void setSelectionStart(qsizetype offset);

    // The line break that new rows get: the one the loaded body uses.
    void setLineBreak(LineBreak lineBreak);
    QByteArrayView lineBreakBytes() const;

    // A number that changes whenever the text may have changed since it was last asked: fills
    // count it up, and every other edit (the program's, typing, pasting, dropping text, undo and
    // redo) leaves Scintilla's save point, which the next call notes and sets anew. Undo back to
    // the text of the last call leaves it unchanged. Costs nothing per edit.
    quint64 revision() const;

    // Filling with a whole body: no undo history while the bytes go in.
    void beginFill(qsizetype expectedBytes);
    void appendBytes(QByteArrayView bytes);
    void endFill();

signals:
    // A click with the left mouse button; moving the caret with the keyboard does not send it.
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Undo and redo work in the read-only state too: they take back inserted lines, not typing.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Runs an edit of the program's own: the read-only state blocks only the user's typing.
    template <typename Edit> void editAsProgram(Edit edit)
    {
        const bool wasReadOnly = isReadOnly();
        SendScintilla(SCI_SETREADONLY, 0L);
        edit();
        SendScintilla(SCI_SETREADONLY, wasReadOnly ? 1L : 0L);
    }
    void insertBytesAt(qsizetype offset, const QByteArray& bytes);

    LineBreak m_lineBreak = LineBreak::LF;
    mutable quint64 m_revision = 0;
    bool m_fillWasReadOnly = false;
};
