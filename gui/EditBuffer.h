#pragma once

// The edit buffer: the rows of the G-code body in an 8-bit Scintilla editor, one byte
// per character (byte n is character n). Rows are numbered from 0 and never wrap.
// Every other part of the program reads and changes the text through these operations.

#include "core/gcode/PrintEvents.h"
#include "core/text/LineBreaks.h"
#include "core/text/RowSource.h"

#include <Qsci/qsciscintilla.h>

#include <QByteArrayView>
#include <QFont>

#include <functional>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

class QsciScintillaBase;

// A body read into a Scintilla document of its own, off screen, while the editor keeps
// showing its text; the editor takes it with EditBuffer::takeBody only once it is whole.
class BodyDocument
{
public:
    BodyDocument();
    ~BodyDocument();
    BodyDocument(const BodyDocument&) = delete;
    BodyDocument& operator=(const BodyDocument&) = delete;

    // Appends bytes as they are; false when the memory ran out (the document is then unusable).
    // After reserve, a copy of them goes into the document on a thread of its own.
    bool append(QByteArrayView bytes);
    // That copy of the bytes last appended, shared and never changed, so that another reader
    // (the layer index) need not copy them again; empty before reserve.
    QByteArray lastPiece() const { return m_lastPiece; }
    // Room for a body of this many bytes in all, taken at once, so that the text is not copied
    // into a bigger block again and again as it grows. Scintilla reads every byte put into a
    // document to find the line ends, which takes longer than reading the file: from here to
    // finish() that is done on a thread of its own, while the file is read. False when the
    // memory ran out.
    bool reserve(qint64 bytes);
    // The body is whole: room for inserted lines, and an undo history from here on (for a body
    // read after reserve, from when the editor takes it); false when the memory ran out.
    bool finish();
    // The room beyond the body for edits. Scintilla grows its text by copying all of it into a
    // new block, which takes a tenth of a second on a big file; a megabyte holds thousands of
    // inserted pause blocks. The room is resident (Scintilla fills it), so it is not a share of
    // the body.
    static constexpr qint64 kRoomForEdits = 1024 * 1024;
    qsizetype size() const;

private:
    friend class EditBuffer;
    class Loader;
    bool ok() const;
    bool allocate(qint64 bytes);
    std::unique_ptr<QsciScintillaBase> m_view; // never shown: it only holds the document
    bool m_failed = false;
    std::unique_ptr<Loader> m_loader; // from reserve to finish
    // The loaded document and its one reference, from finish until the editor takes it.
    void* m_document = nullptr;
    QByteArray m_lastPiece;
    qint64 m_reserved = 0; // the room the loader's document took
    qint64 m_appended = 0; // bytes handed to the loader
};

class EditBuffer : public QsciScintilla, public RowSource
{
    Q_OBJECT

public:
    using LineBreak = LineBreaks::Style;

    explicit EditBuffer(QWidget* parent = nullptr);

    // RowSource: the text where it lies, and Scintilla's own line index.
    int lineCount() const override;
    int physicalRowCount() const override;
    std::string_view bytes() const override;
    qsizetype rowStart(int row) const override;
    qsizetype rowEnd(int row) const override;
    int rowAt(qsizetype offset) const override;

private:
    static void installPlainAccessible();

protected:
    std::string_view rangeBytes(qsizetype start, qsizetype length) const override;

public:
    // Puts lines in front of row r so that they become rows r, r+1, ...; r == lineCount() appends
    // them. Any other r changes nothing. Works in the read-only state too. blockMark: the lines
    // make one block (a pause that parks) whose line blockMark alone carries a mark in the
    // margin and on the ruler; its other lines are inserted lines with no mark of their own.
    void insertRows(int row, const QStringList& lines, std::optional<qsizetype> blockMark = std::nullopt);
    void insertRow(int row, const QString& s) { insertRows(row, {s}); }
    void appendRow(const QString& s);
    void clearRows();

    // Offset of row r's first character, -1 when the text has no row r; r == -1 asks for the caret row.
    qsizetype lineIndex(int row) const;
    // The row of the caret or, with a selection, of the selection start.
    int CaretRow() const;
    // Caret to the start of row r, nothing selected. No change for a missing row.
    void PlaceCaretAtRow(int row);
    // Selects row r's text without its line break, caret at its end. No change for a missing row.
    void SelectRow(int row);
    // Both show the row from its first column, and in the middle of the view when it was out of it.
    // Caret to offset, nothing selected, not scrolled; -1 only removes the selection.
    void setSelectionStart(qsizetype offset);

    // The line break that new rows get: the one the loaded body uses.
    void setLineBreak(LineBreak lineBreak);
    QByteArrayView lineBreakBytes() const;

    // Puts a mark with token into the undo step being built (between beginUndoAction and
    // endUndoAction); undoing or redoing that step sends stepTakenBack or stepRedone with it.
    void markUndoStep(int token);
    // Undo (or redo) of the last step, also in the read-only state, as Ctrl+Z in the editor does.
    // Every undo and redo of the editor comes here (keys, its menu, the window's shortcuts), and
    // ends with takenBack.
    void takeBackStep(bool redo);
    // Ctrl+Z; Ctrl+Y and Ctrl+Shift+Z (redo on either system).
    static bool isUndoKey(const QKeyEvent* event);
    static bool isRedoKey(const QKeyEvent* event);

    // Shows body's document in place of the current one, which goes with its undo history;
    // the caret goes to the start, nothing selected, and the read-only state stays.
    void takeBody(BodyDocument& body);

    // A number that changes whenever the text may have changed since it was last asked: a new
    // body counts it up, and every other edit (the program's, typing, pasting, dropping text,
    // undo and redo) leaves Scintilla's save point, which the next call notes and sets anew.
    // Undo back to the text of the last call leaves it unchanged. Costs nothing per edit.
    quint64 revision() const;

    // The margins left of the text, drawn for the rows on screen only: each row's number as
    // the "Row Number" field counts it (from 0), the layer that starts at a row, and a mark for
    // a row that pauses, sets a temperature or changes tool, and for a line inserted since the
    // body was loaded (Ctrl+Z takes the mark back with the line).
    struct MarginLine
    {
        int row = 0;
        int top = 0; // viewport y of the row's top
        int height = 0;
        QString number;
        QString layer; // "72  14.400" on a layer change row, else empty
        PrintEvents::Kind mark = PrintEvents::Kind::None;
        bool inserted = false;
        bool typed = false; // typed, pasted or dropped by the user since the body was loaded
    };
    std::vector<MarginLine> marginLines() const;
    // The layer labels of the layer change rows from first to last, rows ascending.
    using LayerLabels = std::function<std::vector<std::pair<int, QString>>(int first, int last)>;
    void setLayerLabels(LayerLabels labels);
    // The layer labels' margin as wide as its longest label ("120  24.800" is 11 characters), so
    // that it takes no more of the text's width than its numbers need; 0 hides it.
    void setLayerLabelChars(int chars);
    // Up to the first limit bytes of a row, copied without moving the editor's gap.
    QByteArray rowHead(int row, qsizetype limit) const;
    // Marks rows row .. row+count-1 as lines inserted by the program, as insertRows marks them, and
    // as nothing typed: a redo puts lines back without their marks, or with a neighbour's.
    void markInsertedRows(int row, int count, std::optional<qsizetype> blockMark = std::nullopt);
    // A line that insertRow put in since the body was loaded and that is still there.
    bool isInsertedRow(int row) const;
    // An inserted line of a block that another of its lines marks (see insertRows).
    bool isUnmarkedBlockRow(int row) const;
    // Every such line, rows ascending.
    std::vector<int> insertedRows() const;
    // A row the user changed by typing, pasting or dropping text since the body was loaded.
    bool isTypedRow(int row) const;
    // Every such row, rows ascending.
    std::vector<int> typedRows() const;
    // The margins' widths, in pixels: row numbers, layer labels, marks.
    int marginsWidth() const;

signals:
    // A click with the left mouse button; moving the caret with the keyboard does not send it.
    void clicked();
    void stepTakenBack(int token);
    void stepRedone(int token);
    // After every undo or redo, once the text is as it left it.
    void takenBack(bool redo);
    // After a key, typed text, a paste or a drop of the user's has been handled: the caret may
    // stand on another row.
    void userKeyed();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Undo and redo work in the read-only state too: they take back inserted lines, not typing.
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void dropEvent(QDropEvent* event) override;

public slots:
    void paste() override;
    // The editor's menu undoes and redoes through these: as takeBackStep.
    void undo() override;
    void redo() override;

protected:
    void paintEvent(QPaintEvent* event) override;

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
    bool rowInView(int row) const;
    void showRowFromItsStart(int row, bool wasInView);
    void onModified(int modificationType, int token);

    // The margins (EditBufferMargins.cpp).
    void setUpMargins();
    void updateMarginWidths();
    void markInserted(qsizetype offset, qsizetype length, bool unmarkedBlockLine = false);
    // Runs a user's edit and marks the rows it changed. Modification events are not asked for:
    // QScintilla answers each with work in proportion to the text before the change.
    template <typename Edit> void markTyping(Edit edit)
    {
        const long from = qMin(SendScintilla(SCI_GETSELECTIONSTART), SendScintilla(SCI_GETCURRENTPOS));
        const quint64 before = revision();
        edit();
        if (revision() != before)
            markTyped(from, SendScintilla(SCI_GETCURRENTPOS));
    }
    // The text from the edit's start to the caret after it (what was typed or pasted), or, after
    // a deletion, the character that now stands where it happened.
    void markTyped(long from, long caret);
    void paintMargins(const QRect& area);

    LayerLabels m_layerLabels;
    QFont m_marginFont;
    int m_numberDigits = 0;

    LineBreak m_lineBreak = LineBreak::LF;
    mutable quint64 m_revision = 0;
};
