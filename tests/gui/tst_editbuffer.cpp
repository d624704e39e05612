// The edit buffer on its own: rows and line count, inserting and appending rows, the row
// offsets, caret and selection, and the read-only state that blocks typing but not the
// program's own edits.

#include "GuiTestSupport.h"

#include "gui/EditBuffer.h"

#include <QKeyEvent>
#include <QTest>

using GuiTest::editorBytes;

namespace {

// pieceBytes 0: the bytes in one append, as tests and short texts take them; else room for
// them first and pieces of that many bytes, as a read of a file hands them over (a CR LF may
// then be split between two pieces).
void fill(EditBuffer* memo, const QByteArray& bytes, bool crlf, qsizetype pieceBytes = 0)
{
    memo->setLineBreak(crlf ? EditBuffer::LineBreak::CRLF : EditBuffer::LineBreak::LF);
    BodyDocument body;
    if (pieceBytes == 0) {
        QVERIFY(body.append(bytes));
    } else {
        QVERIFY(body.reserve(bytes.size() + BodyDocument::kRoomForEdits));
        for (qsizetype at = 0; at < bytes.size(); at += pieceBytes)
            QVERIFY(body.append(QByteArrayView(bytes).sliced(at, qMin(pieceBytes, bytes.size() - at))));
        QCOMPARE(body.size(), bytes.size());
    }
    QVERIFY(body.finish());
    memo->takeBody(body);
}

QByteArray bytesOf(const EditBuffer* memo)
{
    return editorBytes(*memo);
}

} // namespace

class TestEditBuffer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void rowsAndLineCount_data();
    void rowsAndLineCount();
    void insertRow_data();
    void insertRow();
    void appendRow_data();
    void appendRow();
    void clearRows();
    void bodyLetGoPartWay_data();
    void bodyLetGoPartWay();
    void piecesFilledAgainKeepTheirBytes();
    void lineIndex_data();
    void lineIndex();
    void placeCaretAtRow();
    void selectRow_data();
    void selectRow();
    void missingRowChangesNothing_data();
    void missingRowChangesNothing();
    void caretRowIsTheSelectionStart();
    void setSelectionStart();
    void readOnlyRefusesTypingButNotTheProgram_data();
    void readOnlyRefusesTypingButNotTheProgram();

private:
    EditBuffer* m_memo = nullptr;
};

void TestEditBuffer::init()
{
    m_memo = new EditBuffer;
}

void TestEditBuffer::cleanup()
{
    delete m_memo;
    m_memo = nullptr;
}

void TestEditBuffer::rowsAndLineCount_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("crlf");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("empty") << QByteArray() << false << QStringList();
    QTest::newRow("one row, no break") << QByteArray("G28") << false << QStringList{"G28"};
    QTest::newRow("two rows, no final break") << QByteArray("a\nb") << false << QStringList{"a", "b"};
    QTest::newRow("two rows, final break") << QByteArray("a\nb\n") << false << QStringList{"a", "b"};
    QTest::newRow("CR LF breaks") << QByteArray("a\r\nb\r\n") << true << QStringList{"a", "b"};
    QTest::newRow("blank row inside") << QByteArray("a\n\nb\n") << false << QStringList{"a", "", "b"};
    QTest::newRow("only a break") << QByteArray("\n") << false << QStringList{""};
    QTest::newRow("two breaks") << QByteArray("\n\n") << false << QStringList{"", ""};
    QTest::newRow("lone CR") << QByteArray("a\rb") << false << QStringList{"a", "b"};
    QTest::newRow("byte above 0x7F") << QByteArray("; caf\xE9\n") << false
                                     << QStringList{QStringLiteral("; caf\u00e9")};
    QTest::newRow("row longer than 4096")
        << QByteArray(5000, 'x') + "\nG1" << false << QStringList{QString(5000, u'x'), "G1"};
}

void TestEditBuffer::rowsAndLineCount()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, crlf);
    QFETCH(QStringList, rows);

    // Whole, and in pieces of one and of two bytes through the room taken first.
    for (const qsizetype pieceBytes : {0, 1, 2}) {
        EditBuffer memo;
        fill(&memo, bytes, crlf, pieceBytes);
        QCOMPARE(bytesOf(&memo), bytes);
        QCOMPARE(memo.lineCount(), rows.size());
        QStringList actual;
        for (int r = 0; r < memo.lineCount(); ++r)
            actual << memo.rowText(r);
        QCOMPARE(actual, rows);
        // Rows the buffer does not have read as empty text.
        QCOMPARE(memo.rowText(-1), QString());
        QCOMPARE(memo.rowText(int(rows.size())), QString());
        QCOMPARE(memo.rowText(int(rows.size()) + 5), QString());
        // The load is no step to take back.
        QCOMPARE(memo.SendScintilla(QsciScintillaBase::SCI_CANUNDO), 0L);
    }
}

void TestEditBuffer::insertRow_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("crlf");
    QTest::addColumn<int>("row");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty buffer, row 0") << QByteArray() << false << 0 << QByteArray("M25\n");
    QTest::newRow("empty buffer, row 1") << QByteArray() << false << 1 << QByteArray();
    QTest::newRow("empty buffer, row -1") << QByteArray() << false << -1 << QByteArray();
    QTest::newRow("first row") << QByteArray("a\nb") << false << 0 << QByteArray("M25\na\nb");
    QTest::newRow("middle row") << QByteArray("a\nb") << false << 1 << QByteArray("a\nM25\nb");
    QTest::newRow("line count, no final break")
        << QByteArray("a\nb") << false << 2 << QByteArray("a\nb\nM25");
    QTest::newRow("line count, final break")
        << QByteArray("a\nb\n") << false << 2 << QByteArray("a\nb\nM25\n");
    QTest::newRow("past the line count") << QByteArray("a\nb\n") << false << 3 << QByteArray("a\nb\n");
    QTest::newRow("below 0") << QByteArray("a\nb\n") << false << -1 << QByteArray("a\nb\n");
    QTest::newRow("CR LF, middle row")
        << QByteArray("a\r\nb\r\n") << true << 1 << QByteArray("a\r\nM25\r\nb\r\n");
    QTest::newRow("CR LF, line count") << QByteArray("a\r\nb") << true << 2 << QByteArray("a\r\nb\r\nM25");
    QTest::newRow("CR LF, empty buffer") << QByteArray() << true << 0 << QByteArray("M25\r\n");
}

void TestEditBuffer::insertRow()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, crlf);
    QFETCH(int, row);
    QFETCH(QByteArray, expected);

    fill(m_memo, bytes, crlf);
    m_memo->insertRow(row, QStringLiteral("M25"));
    QCOMPARE(bytesOf(m_memo), expected);
    if (expected != bytes)
        QCOMPARE(m_memo->rowText(row), QStringLiteral("M25"));
}

void TestEditBuffer::appendRow_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("crlf");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("lineCount");

    QTest::newRow("empty buffer") << QByteArray() << false << "M25" << QByteArray("M25\n") << 1;
    QTest::newRow("empty buffer, CR LF") << QByteArray() << true << "M25" << QByteArray("M25\r\n") << 1;
    QTest::newRow("empty text on empty buffer") << QByteArray() << false << "" << QByteArray("\n") << 1;
    QTest::newRow("after a final break")
        << QByteArray("a\n") << false << "M25" << QByteArray("a\nM25\n") << 2;
    QTest::newRow("no final break") << QByteArray("a") << false << "M25" << QByteArray("a\nM25") << 2;
    QTest::newRow("text with a break gives two rows")
        << QByteArray() << false << "M25\nG1" << QByteArray("M25\nG1\n") << 2;
}

void TestEditBuffer::appendRow()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, crlf);
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QFETCH(int, lineCount);

    fill(m_memo, bytes, crlf);
    m_memo->appendRow(text);
    QCOMPARE(bytesOf(m_memo), expected);
    QCOMPARE(m_memo->lineCount(), lineCount);
}

void TestEditBuffer::clearRows()
{
    fill(m_memo, "a\nb\n", false);
    m_memo->setReadOnly(true);
    m_memo->clearRows();
    QCOMPARE(m_memo->lineCount(), 0);
    QVERIFY(m_memo->bytes().empty());
    QCOMPARE(m_memo->isReadOnly(), true);
}

// A read that stops part way (refused, cancelled) lets its document go unfinished, with pieces
// still waiting, or finished (refused after its last byte); the text shown stays as it was.
void TestEditBuffer::bodyLetGoPartWay_data()
{
    QTest::addColumn<bool>("finished");
    QTest::newRow("pieces still waiting") << false;
    QTest::newRow("finished, never taken") << true;
}

void TestEditBuffer::bodyLetGoPartWay()
{
    QFETCH(bool, finished);
    fill(m_memo, "G1 X1\n", false);
    {
        BodyDocument body;
        QVERIFY(body.reserve(4 * 1024 * 1024));
        const QByteArray piece(256 * 1024, '\n');
        for (int i = 0; i < 8; ++i)
            QVERIFY(body.append(piece));
        if (finished) {
            QVERIFY(body.finish());
            QCOMPARE(body.size(), 8 * piece.size());
        }
    }
    QCOMPARE(bytesOf(m_memo), QByteArray("G1 X1\n"));
    QVERIFY(!m_memo->isUndoAvailable());
}

// The document fills the pieces it has put in again with later bytes, never one that another
// reader still holds (as the layer index holds the last piece while it reads it): the text and
// every piece held stay the bytes they were given.
void TestEditBuffer::piecesFilledAgainKeepTheirBytes()
{
    constexpr qsizetype kPieceBytes = 4096;
    QByteArray bytes;
    for (int row = 0; bytes.size() < 64 * kPieceBytes; ++row)
        bytes += "G1 X" + QByteArray::number(row) + " Y" + QByteArray::number(row % 97) + "\n";
    BodyDocument body;
    QVERIFY(body.reserve(bytes.size() + BodyDocument::kRoomForEdits));
    std::vector<std::pair<qsizetype, QByteArray>> held; // where each held piece starts, and it
    for (qsizetype at = 0; at < bytes.size(); at += kPieceBytes) {
        const QByteArrayView piece = QByteArrayView(bytes).sliced(at, qMin(kPieceBytes, bytes.size() - at));
        QVERIFY(body.append(piece));
        if ((at / kPieceBytes) % 3 == 0)
            held.emplace_back(at, body.lastPiece());
    }
    QVERIFY(body.finish());
    m_memo->takeBody(body);
    QCOMPARE(bytesOf(m_memo), bytes);
    for (const auto& [at, piece] : held)
        QCOMPARE(piece, bytes.mid(at, kPieceBytes));
    // The load itself is no step to take back; an edit after it is.
    QVERIFY(!m_memo->isUndoAvailable());
    m_memo->insertRows(1, {QStringLiteral("M117 inserted")}, std::nullopt);
    QVERIFY(bytesOf(m_memo).contains("\nM117 inserted\n"));
    QVERIFY(m_memo->isUndoAvailable());
    m_memo->takeBackStep(false);
    QCOMPARE(bytesOf(m_memo), bytes);
}

void TestEditBuffer::lineIndex_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("row");
    QTest::addColumn<qsizetype>("expected");

    QTest::newRow("first row") << QByteArray("ab\ncd\n") << 0 << qsizetype(0);
    QTest::newRow("second row") << QByteArray("ab\ncd\n") << 1 << qsizetype(3);
    QTest::newRow("empty row after the final break") << QByteArray("ab\ncd\n") << 2 << qsizetype(6);
    QTest::newRow("past the end") << QByteArray("ab\ncd\n") << 3 << qsizetype(-1);
    QTest::newRow("below -1") << QByteArray("ab\ncd\n") << -2 << qsizetype(-1);
    QTest::newRow("CR LF counts two") << QByteArray("ab\r\ncd") << 1 << qsizetype(4);
    QTest::newRow("empty buffer, row 0") << QByteArray() << 0 << qsizetype(0);
    QTest::newRow("empty buffer, row 1") << QByteArray() << 1 << qsizetype(-1);
}

void TestEditBuffer::lineIndex()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, row);
    QFETCH(qsizetype, expected);

    fill(m_memo, bytes, bytes.contains('\r'));
    QCOMPARE(m_memo->lineIndex(row), expected);
}

void TestEditBuffer::placeCaretAtRow()
{
    fill(m_memo, "ab\r\ncd\r\nef", true);
    m_memo->SelectRow(0);
    m_memo->PlaceCaretAtRow(2);
    int line = -1, index = -1;
    m_memo->getCursorPosition(&line, &index);
    QCOMPARE(line, 2);
    QCOMPARE(index, 0);
    QVERIFY(!m_memo->hasSelectedText());
    QCOMPARE(m_memo->CaretRow(), 2);
    QCOMPARE(m_memo->lineIndex(-1), qsizetype(8));
}

void TestEditBuffer::selectRow_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("selected");

    QTest::newRow("first row") << QByteArray("G1 Z0.3\nG1 X5\n") << 0 << "G1 Z0.3";
    QTest::newRow("last row without a break") << QByteArray("a\nG1 X5") << 1 << "G1 X5";
    QTest::newRow("CR LF row, no break selected") << QByteArray("a\r\nG1 Z2\r\nb\r\n") << 1 << "G1 Z2";
    QTest::newRow("empty row") << QByteArray("a\n\nb") << 1 << "";
}

void TestEditBuffer::selectRow()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, row);
    QFETCH(QString, selected);

    fill(m_memo, bytes, bytes.contains('\r'));
    m_memo->SelectRow(row);
    QCOMPARE(m_memo->selectedText(), selected);
    int line = -1, index = -1;
    m_memo->getCursorPosition(&line, &index);
    QCOMPARE(line, row);
    QCOMPARE(index, int(selected.size()));
    QCOMPARE(m_memo->CaretRow(), row);
}

void TestEditBuffer::missingRowChangesNothing_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("select"); // SelectRow, else PlaceCaretAtRow

    QTest::newRow("SelectRow past the end") << 5 << true;
    QTest::newRow("SelectRow below 0") << -1 << true;
    QTest::newRow("PlaceCaretAtRow past the end") << 5 << false;
    QTest::newRow("PlaceCaretAtRow below 0") << -1 << false;
}

void TestEditBuffer::missingRowChangesNothing()
{
    QFETCH(int, row);
    QFETCH(bool, select);

    fill(m_memo, "ab\ncd\nef\n", false);
    m_memo->SelectRow(1);
    if (select)
        m_memo->SelectRow(row);
    else
        m_memo->PlaceCaretAtRow(row);
    QCOMPARE(m_memo->selectedText(), QStringLiteral("cd"));
    int line = -1, index = -1;
    m_memo->getCursorPosition(&line, &index);
    QCOMPARE(line, 1);
    QCOMPARE(index, 2);
}

void TestEditBuffer::caretRowIsTheSelectionStart()
{
    fill(m_memo, "ab\ncd\nef\n", false);
    // Anchor in row 0, caret in row 2.
    m_memo->setSelection(0, 1, 2, 1);
    int line = -1, index = -1;
    m_memo->getCursorPosition(&line, &index);
    QCOMPARE(line, 2);
    QCOMPARE(m_memo->CaretRow(), 0);
    // Anchor in row 2, caret in row 1: the start is still the smaller offset.
    m_memo->setSelection(2, 1, 1, 0);
    QCOMPARE(m_memo->CaretRow(), 1);
}

void TestEditBuffer::setSelectionStart()
{
    fill(m_memo, "ab\ncd\nef\n", false);
    m_memo->setSelectionStart(4);
    int line = -1, index = -1;
    m_memo->getCursorPosition(&line, &index);
    QCOMPARE(line, 1);
    QCOMPARE(index, 1);
    QVERIFY(!m_memo->hasSelectedText());

    m_memo->SelectRow(2);
    m_memo->setSelectionStart(-1);
    QVERIFY(!m_memo->hasSelectedText());
    m_memo->getCursorPosition(&line, &index);
    QCOMPARE(line, 2);
    QCOMPARE(index, 2);
}

void TestEditBuffer::readOnlyRefusesTypingButNotTheProgram_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QByteArray>("afterTyping");

    QTest::newRow("writable") << false << QByteArray("xyG1\n");
    QTest::newRow("read-only") << true << QByteArray("G1\n");
}

void TestEditBuffer::readOnlyRefusesTypingButNotTheProgram()
{
    QFETCH(bool, readOnly);
    QFETCH(QByteArray, afterTyping);

    fill(m_memo, "G1\n", false);
    m_memo->setEnabled(true);
    m_memo->setReadOnly(readOnly);
    m_memo->PlaceCaretAtRow(0);
    QTest::keyClicks(m_memo, QStringLiteral("xy"));
    QCOMPARE(bytesOf(m_memo), afterTyping);

    m_memo->insertRow(0, QStringLiteral("M25"));
    m_memo->appendRow(QStringLiteral("M140 S60 T0"));
    QCOMPARE(bytesOf(m_memo), "M25\n" + afterTyping + "M140 S60 T0\n");
    QCOMPARE(m_memo->isReadOnly(), readOnly);
}

QTEST_MAIN(TestEditBuffer)

#include "tst_editbuffer.moc"
