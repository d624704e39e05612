#include "gui/EditBuffer.h"

#include <QAccessibleWidget>

#include "core/gcode/Insertion.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

EditBuffer::EditBuffer(QWidget* parent) : QsciScintilla(parent)
{
    // A document without style bytes: no lexer runs here, and it halves the memory of a big body.
    const long document = SendScintilla(SCI_CREATEDOCUMENT, 0UL, long(SC_DOCUMENTOPTION_STYLES_NONE));
    SendScintilla(SCI_SETDOCPOINTER, 0UL, document);
    SendScintilla(SCI_RELEASEDOCUMENT, 0UL, document);

    installPlainAccessible();
    setUtf8(false); // one byte per character
    SendScintilla(SCI_SETCODEPAGE, 0L);
    setWrapMode(QsciScintilla::WrapNone);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    for (int margin = 0; margin < 5; ++margin)
        setMarginWidth(margin, 0);
    // QScintilla shows annotations, which no row here has; shown, each new body has its every row
    // asked for them: 0.02 s on an 85 MB body, a quarter of the time the file takes to read.
    SendScintilla(SCI_ANNOTATIONSETVISIBLE, long(ANNOTATION_HIDDEN));
    SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1L);
    SendScintilla(SCI_SETSCROLLWIDTH, 1L);
    setLineBreak(LineBreak::LF);
    // Of the modification events only the undo marks and the ones sent before a change (which the
    // print model follows edits by): QScintilla answers each insertion or deletion event with work
    // proportional to the text before the change (for accessibility), a fifth of a second per
    // keystroke or inserted line in the middle of an 85 MB body.
    SendScintilla(SCI_SETMODEVENTMASK, long(SC_MOD_CONTAINER | SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE));
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int, int type, const char*, int, int, int, int, int, int token, int) {
                onModified(type, token);
            });
    setUpMargins();
    // The caret's row is the chosen row, where the next lines go: it is marked whether or not the
    // editor has the focus.
    setCaretLineVisible(true);
    setCaretLineBackgroundColor(QColor(255, 236, 160));
    SendScintilla(SCI_SETCARETLINEVISIBLEALWAYS, 1L);
}

namespace {
// QScintilla's accessible editor counts the characters from the start of the text to the caret on
// every paint, a pass over half an 85 MB body per keystroke; the editor is described as a plain
// editable widget instead. Factories installed later are asked first.
QAccessibleInterface* plainEditorAccessible(const QString&, QObject* object)
{
    if (auto* buffer = qobject_cast<EditBuffer*>(object))
        return new QAccessibleWidget(buffer, QAccessible::EditableText);
    return nullptr;
}
} // namespace

void EditBuffer::installPlainAccessible()
{
    static const bool installed = [] {
        QAccessible::installFactory(plainEditorAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

void EditBuffer::markUndoStep(int token)
{
    editAsProgram([&] { SendScintilla(SCI_ADDUNDOACTION, long(token), 0L); });
}

void EditBuffer::onModified(int modificationType, int token)
{
    if (!(modificationType & SC_MOD_CONTAINER))
        return;
    if (modificationType & SC_PERFORMED_UNDO)
        emit stepTakenBack(token);
    else if (modificationType & SC_PERFORMED_REDO)
        emit stepRedone(token);
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

std::string_view EditBuffer::rangeBytes(qsizetype start, qsizetype length) const
{
    // Moves the gap only when the range straddles it, where the whole-text pointer would move
    // everything after the caret on each call.
    if (length <= 0)
        return {};
    const auto* text = reinterpret_cast<const char*>(
        intptr_t(SendScintilla(SCI_GETRANGEPOINTER, static_cast<unsigned long>(start), long(length))));
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

void EditBuffer::insertRows(int row, const QStringList& lines, std::optional<qsizetype> blockMark)
{
    const std::optional<Insertion::Placement> placement = Insertion::place(*this, row, lines, m_lineBreak);
    if (!placement)
        return;
    insertBytesAt(placement->offset, placement->bytes);
    for (qsizetype i = 0; i < lines.size(); ++i)
        markInserted(placement->offset + placement->lineStarts[i], lines[i].size(),
                     blockMark && *blockMark != i);
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
    const bool inView = rowInView(row);
    SendScintilla(SCI_GOTOPOS, long(rowStart(row)));
    showRowFromItsStart(row, inView);
}

void EditBuffer::SelectRow(int row)
{
    if (!hasRow(row))
        return;
    const bool inView = rowInView(row);
    SendScintilla(SCI_GOTOPOS, long(rowStart(row)));
    SendScintilla(SCI_SETSEL, (unsigned long)rowStart(row), long(rowEnd(row)));
    showRowFromItsStart(row, inView);
}

bool EditBuffer::rowInView(int row) const
{
    const long first = SendScintilla(SCI_GETFIRSTVISIBLELINE);
    return row >= first && row < first + SendScintilla(SCI_LINESONSCREEN);
}

void EditBuffer::showRowFromItsStart(int row, bool wasInView)
{
    // Selecting scrolls the caret, at the row's end, into view, and a long comment would leave
    // only its tail on screen: a row is shown from its first column, where the command is.
    if (!wasInView)
        SendScintilla(SCI_SETFIRSTVISIBLELINE, long(qMax(0L, row - SendScintilla(SCI_LINESONSCREEN) / 2)));
    SendScintilla(SCI_SETXOFFSET, 0L);
}

void EditBuffer::setSelectionStart(qsizetype offset)
{
    const long caret = offset < 0 ? SendScintilla(SCI_GETCURRENTPOS) : long(offset);
    SendScintilla(SCI_SETEMPTYSELECTION, caret);
}

void EditBuffer::setLineBreak(LineBreak lineBreak)
{
    m_lineBreak = lineBreak;
    const long mode = lineBreak == LineBreak::CRLF ? SC_EOL_CRLF
                      : lineBreak == LineBreak::CR ? SC_EOL_CR
                                                   : SC_EOL_LF;
    SendScintilla(SCI_SETEOLMODE, mode);
}

QByteArrayView EditBuffer::lineBreakBytes() const
{
    return LineBreaks::bytesOf(m_lineBreak);
}

quint64 EditBuffer::revision() const
{
    if (SendScintilla(SCI_GETMODIFY)) {
        ++m_revision;
        SendScintilla(SCI_SETSAVEPOINT);
    }
    return m_revision;
}

void EditBuffer::takeBody(BodyDocument& body)
{
    const bool wasReadOnly = isReadOnly();
    void* const loaded = std::exchange(body.m_document, nullptr);
    const long document =
        loaded ? long(reinterpret_cast<intptr_t>(loaded)) : body.m_view->SendScintilla(SCI_GETDOCPOINTER);
    // The editor holds its own reference; the body's view lets go of it when it goes.
    SendScintilla(SCI_SETDOCPOINTER, 0UL, document);
    if (loaded) {
        // The loader's reference goes; its document was filled without undo history.
        SendScintilla(SCI_RELEASEDOCUMENT, 0UL, document);
        SendScintilla(SCI_SETUNDOCOLLECTION, 1L);
        SendScintilla(SCI_EMPTYUNDOBUFFER);
        SendScintilla(SCI_SETSAVEPOINT);
    }
    setUtf8(false);
    SendScintilla(SCI_SETCODEPAGE, 0L);
    setLineBreak(m_lineBreak);
    SendScintilla(SCI_SETREADONLY, wasReadOnly ? 1L : 0L);
    SendScintilla(SCI_GOTOPOS, 0L);
    ++m_revision; // the body went in without undo history, so it left no save point
    // The horizontal scroll range starts anew for the new text.
    SendScintilla(SCI_SETSCROLLWIDTH, 1L);
    updateMarginWidths();
    viewport()->update();
}

// Scintilla's interface for filling a document that no view shows, from one thread at a time (its
// ILoader.h, which QScintilla does not install): SCI_CREATELOADER makes the document with its room
// taken, AddData appends to it, ConvertToDocument hands it over with one reference. Not in an
// unnamed namespace: the compiler would take the calls for calls of an interface that nothing
// implements.
class ScintillaLoader
{
public:
    virtual int Release() = 0;
    virtual int AddData(const char* data, std::ptrdiff_t length) = 0; // 0, or a SC_STATUS_ failure
    virtual void* ConvertToDocument() = 0;

protected:
    ~ScintillaLoader() = default;
};

// The calls into Scintilla's loader. The object is Scintilla's own class behind the interface
// above; the undefined-behaviour sanitizer compares a call's object with the declared class by
// its type information, which a class of Scintilla's cannot match, so these calls are exempt from
// that one check.
__attribute__((no_sanitize("vptr"))) int releaseLoader(ScintillaLoader* loader)
{
    return loader->Release();
}
__attribute__((no_sanitize("vptr"))) int addToLoader(ScintillaLoader* loader, const char* data,
                                                     std::ptrdiff_t length)
{
    return loader->AddData(data, length);
}
__attribute__((no_sanitize("vptr"))) void* loaderDocument(ScintillaLoader* loader)
{
    return loader->ConvertToDocument();
}

// Puts the pieces into a document on a thread of its own, in order.
class BodyDocument::Loader
{
public:
    // loader: a document that no view shows, as SCI_CREATELOADER made it; released when not finished.
    explicit Loader(ScintillaLoader* loader) : m_loader(loader), m_thread(&Loader::run, this) {}
    ~Loader()
    {
        stop(true);
        if (m_loader)
            releaseLoader(m_loader);
    }
    Loader(const Loader&) = delete;
    Loader& operator=(const Loader&) = delete;

    // A piece the thread has put in and nobody else holds, to be filled anew rather than a fresh
    // one taken and written page by page for every piece. Empty when there is none.
    QByteArray spentPiece()
    {
        std::lock_guard lock(m_mutex);
        while (!m_spent.empty()) {
            QByteArray piece = std::move(m_spent.back());
            m_spent.pop_back();
            // Still held by another reader (the layer index) is not ours to write into.
            if (piece.isDetached())
                return piece;
        }
        return {};
    }

    // Waits while the thread is several pieces behind; false once the memory ran out there.
    bool add(QByteArray piece)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_waiting.size() < kMaxWaiting || m_failed; });
        if (m_failed)
            return false;
        m_waiting.push_back(std::move(piece));
        m_changed.notify_all();
        return true;
    }

    // Waits until every piece is in; the document with one reference, or null when the memory ran out.
    void* finish()
    {
        stop(false);
        if (m_failed)
            return nullptr;
        void* document = loaderDocument(m_loader);
        m_loader = nullptr;
        return document;
    }

private:
    // The pieces in memory at once: the waiting ones, the one being put in and the spent ones.
    // The thread puts a piece in more slowly than the file is read, so a longer queue only
    // holds more memory.
    static constexpr std::size_t kMaxWaiting = 2;
    static constexpr std::size_t kMaxSpent = 2;

    void stop(bool discard)
    {
        {
            std::lock_guard lock(m_mutex);
            m_ended = true;
            if (discard)
                m_waiting.clear();
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return !m_waiting.empty() || m_ended; });
            if (m_waiting.empty())
                return;
            QByteArray piece = std::move(m_waiting.front());
            m_waiting.pop_front();
            m_changed.notify_all();
            if (m_failed)
                continue;
            lock.unlock();
            const bool added = addToLoader(m_loader, piece.constData(), piece.size()) == 0;
            lock.lock();
            if (!added) {
                m_failed = true;
                m_changed.notify_all();
            } else if (m_spent.size() < kMaxSpent) {
                m_spent.push_back(std::move(piece));
            }
        }
    }

    ScintillaLoader* m_loader; // until the document is handed over
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_waiting;
    std::vector<QByteArray> m_spent; // put in, kept to be filled again
    bool m_ended = false;
    bool m_failed = false;
    std::thread m_thread;
};

BodyDocument::BodyDocument() : m_view(std::make_unique<QsciScintillaBase>())
{
    // A document without style bytes: no lexer runs here, and it halves the memory of a big body.
    const long document = m_view->SendScintilla(QsciScintillaBase::SCI_CREATEDOCUMENT, 0UL,
                                                long(QsciScintillaBase::SC_DOCUMENTOPTION_STYLES_NONE));
    m_view->SendScintilla(QsciScintillaBase::SCI_SETDOCPOINTER, 0UL, document);
    m_view->SendScintilla(QsciScintillaBase::SCI_RELEASEDOCUMENT, 0UL, document);
    m_view->SendScintilla(QsciScintillaBase::SCI_SETCODEPAGE, 0L);
    m_view->SendScintilla(QsciScintillaBase::SCI_SETMODEVENTMASK, 0L);
    // A load is no edit: nothing of it goes into the undo history.
    m_view->SendScintilla(QsciScintillaBase::SCI_SETUNDOCOLLECTION, 0L);
}

BodyDocument::~BodyDocument()
{
    if (m_document)
        m_view->SendScintilla(QsciScintillaBase::SCI_RELEASEDOCUMENT, 0UL,
                              long(reinterpret_cast<intptr_t>(m_document)));
}

bool BodyDocument::ok() const
{
    return !m_failed && m_view->SendScintilla(QsciScintillaBase::SCI_GETSTATUS) == 0;
}

bool BodyDocument::append(QByteArrayView bytes)
{
    if (m_loader) {
        if (bytes.isEmpty())
            return !m_failed;
        // The reader has handed the last piece on; held here, it could not be filled again.
        m_lastPiece.clear();
        QByteArray piece = m_loader->spentPiece();
        try {
            if (piece.capacity() < bytes.size())
                piece = QByteArray(bytes.size(), Qt::Uninitialized);
            else
                piece.resize(bytes.size());
        } catch (const std::bad_alloc&) {
            m_failed = true;
            return false;
        }
        std::memcpy(piece.data(), bytes.data(), std::size_t(bytes.size()));
        m_lastPiece = piece;
        m_appended += bytes.size();
        if (!m_loader->add(std::move(piece)))
            m_failed = true;
        return !m_failed;
    }
    if (bytes.isEmpty())
        return ok();
    const qsizetype before = size();
    try {
        m_view->SendScintilla(QsciScintillaBase::SCI_APPENDTEXT, uintptr_t(bytes.size()), bytes.constData());
    } catch (const std::bad_alloc&) {
        m_failed = true;
    }
    // A text that did not grow by all of it means the memory ran out inside Scintilla.
    if (size() != before + bytes.size())
        m_failed = true;
    return ok();
}

bool BodyDocument::reserve(qint64 bytes)
{
    if (m_loader || size() != 0 || m_failed)
        return allocate(bytes);
    ScintillaLoader* loader = nullptr;
    try {
        loader = reinterpret_cast<ScintillaLoader*>(
            m_view->SendScintilla(QsciScintillaBase::SCI_CREATELOADER, (unsigned long)qMax<qint64>(bytes, 0),
                                  long(QsciScintillaBase::SC_DOCUMENTOPTION_STYLES_NONE)));
        if (!loader)
            throw std::bad_alloc();
        // A new document reads its text as UTF-8, and a change of that later indexes its lines
        // anew, which takes longer than reading the file: it is made 8-bit while it is empty, shown
        // by the view for that moment only.
        const long document = long(reinterpret_cast<intptr_t>(loaderDocument(loader)));
        m_view->SendScintilla(QsciScintillaBase::SCI_SETDOCPOINTER, 0UL, document);
        m_view->SendScintilla(QsciScintillaBase::SCI_SETCODEPAGE, 0L);
        m_view->SendScintilla(QsciScintillaBase::SCI_SETDOCPOINTER, 0UL, 0L);
        m_loader = std::make_unique<Loader>(loader);
        m_reserved = qMax<qint64>(bytes, 0);
    } catch (const std::exception&) { // no memory or no thread
        if (loader && !m_loader)
            releaseLoader(loader);
        m_failed = true;
    }
    return !m_failed;
}

bool BodyDocument::allocate(qint64 bytes)
{
    try {
        m_view->SendScintilla(QsciScintillaBase::SCI_ALLOCATE, long(bytes));
    } catch (const std::bad_alloc&) {
        m_failed = true;
    }
    return ok();
}

bool BodyDocument::finish()
{
    if (m_loader) {
        void* const document = m_loader->finish();
        m_loader.reset();
        m_lastPiece.clear();
        if (!document) {
            m_failed = true;
            return false;
        }
        // A view takes as long to show a new document as a pass over its rows (3.5 ms on the
        // 2.4 M rows of an 85 MB file), so the document goes to the editor alone, which takes it
        // as it is: with its room for edits, taken at once. Only a body that outgrew its room (a
        // stream's) is shown here first, to make room.
        if (m_appended + kRoomForEdits <= m_reserved) {
            m_document = document;
            return ok();
        }
        // The view takes a reference of its own and the loader's goes.
        m_view->SendScintilla(QsciScintillaBase::SCI_SETDOCPOINTER, 0UL,
                              long(reinterpret_cast<intptr_t>(document)));
        m_view->SendScintilla(QsciScintillaBase::SCI_RELEASEDOCUMENT, 0UL,
                              long(reinterpret_cast<intptr_t>(document)));
        if (size() != m_appended)
            m_failed = true;
    }
    allocate(size() + kRoomForEdits);
    m_view->SendScintilla(QsciScintillaBase::SCI_SETUNDOCOLLECTION, 1L);
    m_view->SendScintilla(QsciScintillaBase::SCI_EMPTYUNDOBUFFER);
    m_view->SendScintilla(QsciScintillaBase::SCI_SETSAVEPOINT);
    return ok();
}

qsizetype BodyDocument::size() const
{
    return m_loader || m_document ? m_appended : m_view->SendScintilla(QsciScintillaBase::SCI_GETLENGTH);
}

void EditBuffer::mouseReleaseEvent(QMouseEvent* event)
{
    QsciScintilla::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        emit clicked();
}

void EditBuffer::takeBackStep(bool redoIt)
{
    editAsProgram([&] { redoIt ? QsciScintilla::redo() : QsciScintilla::undo(); });
    emit takenBack(redoIt);
}

void EditBuffer::undo()
{
    takeBackStep(false);
}

void EditBuffer::redo()
{
    takeBackStep(true);
}

bool EditBuffer::isUndoKey(const QKeyEvent* event)
{
    return event->matches(QKeySequence::Undo) ||
           QKeySequence(event->keyCombination()) == QKeySequence(Qt::CTRL | Qt::Key_Z);
}

bool EditBuffer::isRedoKey(const QKeyEvent* event)
{
    const QKeySequence pressed(event->keyCombination());
    return event->matches(QKeySequence::Redo) || pressed == QKeySequence(Qt::CTRL | Qt::Key_Y) ||
           pressed == QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
}

void EditBuffer::keyPressEvent(QKeyEvent* event)
{
    // Undo and redo are never typing: Scintilla's own Ctrl+Y would otherwise be marked as typed,
    // from the caret before it to the caret after it.
    const bool undoKey = isUndoKey(event);
    if (undoKey || isRedoKey(event)) {
        takeBackStep(!undoKey);
        event->accept();
        return;
    }
    markTyping([&] { QsciScintilla::keyPressEvent(event); });
    emit userKeyed();
}

void EditBuffer::inputMethodEvent(QInputMethodEvent* event)
{
    markTyping([&] { QsciScintilla::inputMethodEvent(event); });
    emit userKeyed();
}

void EditBuffer::dropEvent(QDropEvent* event)
{
    markTyping([&] { QsciScintilla::dropEvent(event); });
    emit userKeyed();
}

void EditBuffer::paste()
{
    markTyping([&] { QsciScintilla::paste(); });
    emit userKeyed();
}
