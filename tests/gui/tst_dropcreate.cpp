// From a dropped file to the written output, through the real window: drop events
// sent to its controls, clicks on its buttons, and the message boxes answered.

#include "GuiTestSupport.h"
#include "TestPaths.h"

#include "core/container/BinaryGCode.h"
#include "core/text/Utility.h"
#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QKeySequence>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/mount.h>
#endif

using GuiTest::readFile;

namespace {

// What a message box showed.
struct Box
{
    QString caption;
    QString text;
    bool operator==(const Box&) const = default;
};

char* toString(const Box& box)
{
    return QTest::toString(QStringLiteral("[%1] %2").arg(box.caption, box.text));
}

// Answers the message boxes with the queued buttons, Esc where none is left, and keeps
// what each showed for comparison.
class BoxAnswerer : public GuiTest::MessageBoxAnswers
{
public:
    BoxAnswerer()
    {
        onShown = [this](const Seen& box) { boxes.append({box.caption, box.text}); };
    }
    QList<Box> boxes;
};

// The parts of the window that a drop may change.
struct WindowState
{
    QString droppedPath, folderPath, outputPath, editFilePath, fileName, row;
    QByteArray header, body;
    bool fileLoaded = false, memoEnabled = false, createEnabled = false, navigationEnabled = false;
    int messageHeight = 0;
};

// How a name reads in a message: each byte from 0x80 on as \xE9 (the names here hold no UTF-8).
QString escapedName(const QByteArray& bytes)
{
    QString text;
    for (const char c : bytes)
        text += uchar(c) < 0x80 ? QString(QChar(c))
                                : QStringLiteral("\\x") + QString::number(uchar(c), 16).toUpper();
    return text;
}

// The URI list a file manager drops for the file at path: its bytes percent-encoded.
QByteArray uriList(const QByteArray& path)
{
    return "file://" + path.toPercentEncoding("/") + "\r\n";
}

QByteArray repeated(char c, qsizetype n)
{
    return QByteArray(n, c);
}

// Receives the folder that the folder button asks the desktop to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

} // namespace

class TestDropCreate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void createEndsTheProgram();
    void dropReachesTheWindowFromEveryControl_data();
    void dropReachesTheWindowFromEveryControl();
    void fileDrop_data();
    void fileDrop();
    void refusedFile_data();
    void refusedFile();
    void unopenableFile_data();
    void unopenableFile();
    void severalItemsTakeTheFirstLocalFile_data();
    void severalItemsTakeTheFirstLocalFile();
    void nonLocalUrlIsIgnored_data();
    void nonLocalUrlIsIgnored();
    void folderBeforeAnyFile();
    void folderAfterFileMovesOnlyTheOutputFolder();
    void roundTrip_data();
    void roundTrip();
    void removeTheHeader();
    void headerOption_data();
    void headerOption();
    void createUsesTheTypedName();
    void overwrite_data();
    void overwrite();
    void failedOpenForWrite_data();
    void failedOpenForWrite();
    void failedWriteKeepsTheTarget();
    void diskFullSaysSo();
    void linksAndSpecialFilesAsOutput_data();
    void linksAndSpecialFilesAsOutput();
    void readOnlyFolderOffersAnother();
    void chooseFolderButton();
    void crOnlyBodyKeepsItsLineEnd();
    void refusedOutputName_data();
    void refusedOutputName();
    void namesThatAreNoUtf8_data();
    void namesThatAreNoUtf8();
    void nameThatIsNoUtf8InTheRefusal();
    void scansAndOutputPastNulAndFF();
    void realFixturesRoundTrip_data();
    void realFixturesRoundTrip();
    void folderButton_data();
    void folderButton();
    void binaryGCodeWrittenBackInItsForm_data();
    void binaryGCodeWrittenBackInItsForm();
    void damagedBinaryGCodeRefused();

private:
    QString fixture(const QString& relativePath, const QByteArray& bytes);
    QString path(const QString& relativePath) const { return m_dir->filePath(relativePath); }
    bool dropPath(const QString& path) { return GuiTest::dropFile(m_window.get(), path); }
    void clickCreate() { QTest::mouseClick(m_window->btnCreate, Qt::LeftButton); }
    WindowState state() const;
    void compareState(const WindowState& actual, const WindowState& expected);
    QWidget* dropTarget(const QString& name) const;
    QByteArray editorBytes() const { return GuiTest::editorBytes(*m_window->Memo1); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TEditorForBorvane5_Form1> m_window;
    std::unique_ptr<BoxAnswerer> m_boxes;
};

namespace {

const QByteArray kHeader = ";sliced by Borvane\n;\x01\x80\xFE binary\n";
const QByteArray kBody = "G1 Z0.300 F420\n;structure:shell-inner\nG1 X10 Y10 E1.0\nG1 Z0.500 F420\nM84\n";
const QString kCreated = QStringLiteral(" This file has been created.");

} // namespace

void TestDropCreate::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_window = std::make_unique<TEditorForBorvane5_Form1>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_boxes = std::make_unique<BoxAnswerer>();
}

void TestDropCreate::cleanup()
{
    m_boxes.reset();
    m_window.reset();
#ifdef Q_OS_UNIX
    GuiTest::removeRawTree(QFile::encodeName(m_dir->path())); // names QTemporaryDir cannot remove
#endif
    m_dir.reset();
}

QString TestDropCreate::fixture(const QString& relativePath, const QByteArray& bytes)
{
    const QString filePath = path(relativePath);
    if (!GuiTest::writeFile(filePath, bytes))
        qFatal("cannot write the fixture %s", qPrintable(filePath));
    return filePath;
}

WindowState TestDropCreate::state() const
{
    const auto& w = *m_window;
    WindowState s;
    s.droppedPath = w.DroppedPath;
    s.folderPath = w.FolderPath;
    s.outputPath = w.OutputPath;
    s.editFilePath = w.editFilePath->text();
    s.fileName = w.leditFileName->text();
    s.row = w.lbleRow->text();
    s.header = QByteArray(w.HeaderBuffer.data(), w.HeaderLength);
    s.body = editorBytes();
    s.fileLoaded = w.FileLoaded;
    s.memoEnabled = w.Memo1->isEnabled();
    s.createEnabled = w.btnCreate->isEnabled();
    s.navigationEnabled = w.bbtnHeightSearch->isEnabled() && w.cboxKeyword->isEnabled() &&
                          w.sbtnGo->isEnabled() && w.sbtnBack->isEnabled() && w.sbtnGoRowNumber->isEnabled();
    s.messageHeight = w.memoMessage->height();
    return s;
}

void TestDropCreate::compareState(const WindowState& actual, const WindowState& expected)
{
    QCOMPARE(actual.droppedPath, expected.droppedPath);
    QCOMPARE(actual.folderPath, expected.folderPath);
    QCOMPARE(actual.outputPath, expected.outputPath);
    QCOMPARE(actual.editFilePath, expected.editFilePath);
    QCOMPARE(actual.fileName, expected.fileName);
    QCOMPARE(actual.row, expected.row);
    QCOMPARE(actual.header, expected.header);
    QCOMPARE(actual.body, expected.body);
    QCOMPARE(actual.fileLoaded, expected.fileLoaded);
    QCOMPARE(actual.memoEnabled, expected.memoEnabled);
    QCOMPARE(actual.createEnabled, expected.createEnabled);
    QCOMPARE(actual.navigationEnabled, expected.navigationEnabled);
    QCOMPARE(actual.messageHeight, expected.messageHeight);
}

QWidget* TestDropCreate::dropTarget(const QString& name) const
{
    auto& w = *m_window;
    if (name == u"window")
        return &w;
    if (name == u"Memo1")
        return w.Memo1->viewport();
    if (name == u"memoMessage")
        return w.memoMessage->viewport();
    if (name == u"cboxKeyword")
        return w.cboxKeyword->lineEdit();
    return w.findChild<QWidget*>(name);
}

void TestDropCreate::createEndsTheProgram()
{
    const QString input = fixture(QStringLiteral("in.gcode"), kHeader + kBody);
    m_boxes->answer(QMessageBox::Ok);
    QTimer failSafe;
    failSafe.setSingleShot(true);
    connect(&failSafe, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    failSafe.start(60000);
    QTimer::singleShot(0, this, [this, input] {
        QVERIFY(dropPath(input));
        clickCreate();
    });

    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(failSafe.isActive());
    QVERIFY(!m_window->isVisible());
    QCOMPARE(readFile(path(QStringLiteral("Borvane.gx"))), kHeader + kBody);
    QCOMPARE(m_boxes->boxes,
             QList<Box>{Box({"Message", path(QStringLiteral("Borvane.gx")) + "\n" + kCreated})});
}

void TestDropCreate::dropReachesTheWindowFromEveryControl_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("fileBefore");

    QTest::newRow("the window") << "window" << false;
    QTest::newRow("the editor, still disabled") << "Memo1" << false;
    QTest::newRow("the editor, holding a file") << "Memo1" << true;
    QTest::newRow("the drop hint above the editor") << "memoMessage" << false;
    QTest::newRow("the output name field") << "leditFileName" << false;
    QTest::newRow("the folder field") << "editFilePath" << true;
    QTest::newRow("the insert height field") << "leditPause" << false;
    QTest::newRow("the row number field") << "lbleRow" << true;
    QTest::newRow("the keyword box, still disabled") << "cboxKeyword" << false;
    QTest::newRow("the keyword box, enabled") << "cboxKeyword" << true;
    QTest::newRow("the Create button") << "btnCreate" << true;
    QTest::newRow("a label") << "lblFolderName" << false;
    QTest::newRow("the top panel") << "pnlTop" << false;
}

void TestDropCreate::dropReachesTheWindowFromEveryControl()
{
    QFETCH(QString, target);
    QFETCH(bool, fileBefore);
    if (fileBefore)
        QVERIFY(dropPath(fixture(QStringLiteral("first/first.gcode"), ";first\n;h\nG1 X1\n")));
    QWidget* widget = dropTarget(target);
    QVERIFY(widget);
    const QString input = fixture(QStringLiteral("in.gcode"), kHeader + kBody);
    m_window->leditFileName->setText(QStringLiteral("typed.gx"));

    QVERIFY(GuiTest::dropUrls(widget, {QUrl::fromLocalFile(input)}));

    QCOMPARE(m_window->DroppedPath, QDir::toNativeSeparators(input));
    QCOMPARE(QByteArray(m_window->HeaderBuffer.data(), m_window->HeaderLength), kHeader);
    QCOMPARE(editorBytes(), kBody);
    // An edit field that took the drop itself would hold the dropped address as text.
    QCOMPARE(m_window->leditFileName->text(), QStringLiteral("Borvane.gx"));
    QCOMPARE(m_window->editFilePath->text(), QDir::toNativeSeparators(m_dir->path()));
    QCOMPARE(m_window->leditPause->text(), QString());
    QCOMPARE(m_window->lbleRow->text(), QStringLiteral("1"));
    QCOMPARE(m_window->cboxKeyword->currentText(), QString());
    QCOMPARE(m_boxes->boxes, QList<Box>());
}

void TestDropCreate::fileDrop_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("LF body ending in LF: one empty row after the lines")
        << kHeader + "G1 X1\nG1 X2\n"
        << kHeader << QByteArray("G1 X1\nG1 X2\n") << QStringList{"G1 X1", "G1 X2", ""};
    QTest::newRow("last line without LF: no empty row")
        << kHeader + "G1 X1\nG1 X2" << kHeader << QByteArray("G1 X1\nG1 X2") << QStringList{"G1 X1", "G1 X2"};
    QTest::newRow("CR LF body: CR is part of the line break")
        << QByteArray(";a\r\n;b\r\nG1 X1\r\nG1 X2\r\n") << QByteArray(";a\r\n;b\r\n")
        << QByteArray("G1 X1\r\nG1 X2\r\n") << QStringList{"G1 X1", "G1 X2", ""};
    QTest::newRow("blank line in the middle")
        << kHeader + "G1\n\nG2\n"
        << kHeader << QByteArray("G1\n\nG2\n") << QStringList{"G1", "", "G2", ""};
    QTest::newRow("0xFF in the body is kept")
        << kHeader + "G1\n\xFFG2\n"
        << kHeader << QByteArray("G1\n\xFFG2\n") << QStringList{"G1", QString::fromLatin1("\xFFG2"), ""};
    QTest::newRow("0x00 in the body is kept")
        << kHeader + QByteArray("G1\nG\x00G3\n", 8) << kHeader << QByteArray("G1\nG\x00G3\n", 8)
        << QStringList{"G1", QString::fromLatin1(QByteArray("G\x00G3", 4)), ""};
    QTest::newRow("body of 0xFF bytes after a move")
        << kHeader + "G1\n" + repeated('\xFF', 100) << kHeader << "G1\n" + repeated('\xFF', 100)
        << QStringList{"G1", QString(100, QChar(0xFF))};
    QTest::newRow("0x00 and 0xFF in the header")
        << QByteArray(";\x00\xFF\n\xFF\x00\nG1\n", 10) << QByteArray(";\x00\xFF\n\xFF\x00\n", 7)
        << QByteArray("G1\n") << QStringList{"G1", ""};
    QTest::newRow("bytes 0x80 to 0xFE read as Latin-1")
        << kHeader + "G0\n;\x80\xA9\xE9\xFE\n"
        << kHeader << QByteArray("G0\n;\x80\xA9\xE9\xFE\n")
        << QStringList{"G0", QString::fromLatin1(";\x80\xA9\xE9\xFE"), ""};
    QTest::newRow("row longer than 4096 characters") << kHeader + "G1\n" + repeated('X', 10000) + "\n"
                                                     << kHeader << "G1\n" + repeated('X', 10000) + "\n"
                                                     << QStringList{"G1", QString(10000, u'X'), ""};
}

void TestDropCreate::fileDrop()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, rows);
    const QString input = fixture(QStringLiteral("sub/in.gcode"), file);
    m_window->leditFileName->setText(QStringLiteral("typed.gx"));

    QVERIFY(dropPath(input));

    const QString folder = QDir::toNativeSeparators(path(QStringLiteral("sub")));
    WindowState expected;
    expected.droppedPath = QDir::toNativeSeparators(input);
    expected.folderPath = folder;
    expected.outputPath = folder + QDir::separator() + "Borvane.gx";
    expected.editFilePath = folder;
    expected.fileName = QStringLiteral("Borvane.gx");
    expected.row = QStringLiteral("1");
    expected.header = header;
    expected.body = body;
    expected.fileLoaded = true;
    expected.memoEnabled = expected.createEnabled = expected.navigationEnabled = true;
    expected.messageHeight = 62;
    compareState(state(), expected);
    if (QTest::currentTestFailed())
        return;

    QStringList actualRows;
    for (int row = 0; row < m_window->Memo1->physicalRowCount(); ++row)
        actualRows << m_window->Memo1->rowText(row);
    QCOMPARE(actualRows, rows);
    // The go-to-row handler ran on row 1; the focus ends on the insert height field.
    QCOMPARE(m_window->CurrentRow, 1);
    QCOMPARE(m_window->focusWidget(), static_cast<QWidget*>(m_window->leditPause));
    QCOMPARE(m_boxes->boxes, QList<Box>());
}

void TestDropCreate::refusedFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("fileBefore");
    QTest::addColumn<QString>("reason");

    const QString fewLines = QStringLiteral("It has fewer than two lines, so it has no header.");
    const QString tooLong = QStringLiteral("Its header (the first two lines) is longer than 35000 bytes.");
    QTest::newRow("empty file") << QByteArray() << true << fewLines;
    QTest::newRow("one line") << QByteArray(";only one line\n") << true << fewLines;
    QTest::newRow("one long line") << repeated('G', 200000) << true << fewLines;
    QTest::newRow("0xFF bytes only") << repeated('\xFF', 5000) << true << fewLines;
    QTest::newRow("second LF at byte 35001") << ";\n" + repeated('b', 34998) + "\nG1\n" << true << tooLong;
    QTest::newRow("empty file before any other") << QByteArray() << false << fewLines;
    QTest::newRow("second LF at byte 35001 before any other") << ";\n" + repeated('b', 34998) + "\nG1\n"
                                                              << false << tooLong;
    const QString noMove =
        QStringLiteral("It has no G0 or G1 move, so it is no sliced G-code: open the G-code "
                       "file the slicer exported.");
    QTest::newRow("file ends right after its header") << kHeader << true << noMove;
    QTest::newRow("a text without a move") << kHeader + "# Notes\n\nG28 is home; G10 retracts\nM84\n"
                                           << true << noMove;
    QTest::newRow("G1 only in a comment") << kHeader + ";G1 X1\n M104 S200 ; G1\n" << false << noMove;
    QTest::newRow("a PNG image") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\nG1\n", 21) << true
                                 << QStringLiteral(
                                        "This is a PNG image, not G-code: export plain G-code from the "
                                        "slicer.");
    QTest::newRow("a PDF document") << QByteArray("%PDF-1.7\n%\xe2\xe3\n1 0 obj\nG1\n") << false
                                    << QStringLiteral(
                                           "This is a PDF document, not G-code: export plain G-code "
                                           "from the slicer.");
    QTest::newRow("a zip archive") << QByteArray("PK\x03\x04\x14\0\0\0\nG1\nG1\n", 15) << true
                                   << QStringLiteral(
                                          "This is a zip archive (as a 3MF project is): export plain "
                                          "G-code from the slicer, or unpack the G-code from the "
                                          "archive.");
}

void TestDropCreate::refusedFile()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, fileBefore);
    QFETCH(QString, reason);
    if (fileBefore) {
        QVERIFY(dropPath(fixture(QStringLiteral("good/in.gcode"), kHeader + kBody)));
        m_window->Memo1->appendRow(QStringLiteral("M25"));
    }
    const WindowState before = state();
    const QString bad = fixture(QStringLiteral("bad/bad.gcode"), file);

    QVERIFY(dropPath(bad));

    compareState(state(), before);
    QCOMPARE(m_boxes->boxes, QList<Box>{Box({"File Open Error",
                                             "This file is not a sliced G-code file and was not opened:\n" +
                                                 QDir::toNativeSeparators(bad) + "\n\n" + reason})});
}

void TestDropCreate::unopenableFile_data()
{
    QTest::addColumn<bool>("fileBefore");

    QTest::newRow("after a file") << true;
    QTest::newRow("before any file") << false;
}

void TestDropCreate::unopenableFile()
{
    QFETCH(bool, fileBefore);
    if (fileBefore)
        QVERIFY(dropPath(fixture(QStringLiteral("good/in.gcode"), kHeader + kBody)));
    const WindowState before = state();
    const QString missing = path(QStringLiteral("gone/missing.gcode"));

    QVERIFY(dropPath(missing));

    compareState(state(), before);
    QCOMPARE(m_boxes->boxes,
             QList<Box>{Box({"File Open Error", "No Open " + QDir::toNativeSeparators(missing)})});
}

void TestDropCreate::severalItemsTakeTheFirstLocalFile_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QString>("expected");

    const QUrl first = QUrl::fromLocalFile(QStringLiteral("first.gcode"));
    const QUrl second = QUrl::fromLocalFile(QStringLiteral("second.gcode"));
    const QUrl web(QStringLiteral("https://example.com/third.gcode"));
    QTest::newRow("two files") << QList<QUrl>{first, second} << "first.gcode";
    QTest::newRow("two files, other order") << QList<QUrl>{second, first} << "second.gcode";
    QTest::newRow("web address before a file") << QList<QUrl>{web, second, first} << "second.gcode";
}

void TestDropCreate::severalItemsTakeTheFirstLocalFile()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(QString, expected);
    fixture(QStringLiteral("first.gcode"), ";first\n;h\nG1 X1\n");
    fixture(QStringLiteral("second.gcode"), ";second\n;h\nG1 X2\n");
    for (QUrl& url : urls) {
        if (url.isLocalFile())
            url = QUrl::fromLocalFile(path(url.toLocalFile()));
    }

    QVERIFY(GuiTest::dropUrls(m_window.get(), urls));

    QCOMPARE(m_window->DroppedPath, QDir::toNativeSeparators(path(expected)));
    const QByteArray header =
        expected == u"first.gcode" ? QByteArray(";first\n;h\n") : QByteArray(";second\n;h\n");
    QCOMPARE(QByteArray(m_window->HeaderBuffer.data(), m_window->HeaderLength), header);
    QCOMPARE(m_boxes->boxes, QList<Box>());
}

void TestDropCreate::nonLocalUrlIsIgnored_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("fileBefore");

    QTest::newRow("on the window, before any file") << "window" << false;
    QTest::newRow("on the window, after a file") << "window" << true;
    QTest::newRow("on the output name field") << "leditFileName" << true;
    QTest::newRow("on the editor") << "Memo1" << true;
}

void TestDropCreate::nonLocalUrlIsIgnored()
{
    QFETCH(QString, target);
    QFETCH(bool, fileBefore);
    if (fileBefore)
        QVERIFY(dropPath(fixture(QStringLiteral("in.gcode"), kHeader + kBody)));
    const WindowState before = state();

    QVERIFY(
        !GuiTest::dropUrls(dropTarget(target), {QUrl(QStringLiteral("https://example.com/print.gcode"))}));

    compareState(state(), before);
    QCOMPARE(m_boxes->boxes, QList<Box>());
}

void TestDropCreate::folderBeforeAnyFile()
{
    const QString folder = path(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(folder));

    QVERIFY(dropPath(folder));

    WindowState expected;
    expected.droppedPath = expected.folderPath = expected.editFilePath = QDir::toNativeSeparators(folder);
    expected.outputPath = expected.folderPath + QDir::separator() + "Borvane.gx";
    expected.fileName = QStringLiteral("Borvane.gx");
    // The drop writes "16", then print analysis finds no start in the empty buffer and leaves row 1.
    expected.row = QStringLiteral("1");
    expected.memoEnabled = expected.createEnabled = expected.navigationEnabled = true;
    // The strip holds the drop hint whole: its two lines.
    expected.messageHeight = 62;
    compareState(state(), expected);
    QCOMPARE(m_window->Memo1->lineCount(), 0);
    QCOMPARE(m_window->HeaderLength, 0);
    QCOMPARE(m_boxes->boxes, QList<Box>());

    // "Create" then has nothing to write, says so and writes nothing.
    m_boxes->answer(QMessageBox::Ok);
    clickCreate();
    QCOMPARE(m_boxes->boxes, QList<Box>{Box({"Nothing to Create",
                                             "There is nothing to write yet: drop or open a sliced G-code "
                                             "file first. Nothing was written."})});
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    QVERIFY(m_window->isVisible());
}

void TestDropCreate::folderAfterFileMovesOnlyTheOutputFolder()
{
    const QString input = fixture(QStringLiteral("a/in.gcode"), kHeader + kBody);
    QVERIFY(dropPath(input));
    m_window->Memo1->insertRow(2, QStringLiteral("M25"));
    const WindowState loaded = state();
    const QString folder = path(QStringLiteral("b"));
    QVERIFY(QDir().mkpath(folder));
    m_window->leditFileName->setText(QStringLiteral("typed.gx"));

    QVERIFY(dropPath(folder));

    WindowState expected = loaded;
    expected.droppedPath = expected.folderPath = expected.editFilePath = QDir::toNativeSeparators(folder);
    expected.outputPath = expected.folderPath + QDir::separator() + "Borvane.gx";
    expected.fileLoaded = false;
    // Print analysis runs after the folder drop too and ends on row 1, as after the file drop.
    expected.row = QStringLiteral("1");
    // The message area shows the drop hint again in place of the file's name and rows, whose
    // lines may wrap to another height.
    expected.messageHeight = state().messageHeight;
    QVERIFY(m_window->memoMessage->toPlainText().startsWith(QStringLiteral("Drop the G-code file")));
    compareState(state(), expected);
    if (QTest::currentTestFailed())
        return;

    m_boxes->answer(QMessageBox::Ok);
    clickCreate();
    QByteArray edited = kBody;
    edited.insert(edited.indexOf("G1 X10"), "M25\n");
    QCOMPARE(readFile(folder + "/Borvane.gx"), kHeader + edited);
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("a/Borvane.gx"))));
}

void TestDropCreate::roundTrip_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray high = QByteArray::fromHex("808182a9c0e9f0fe");
    QTest::newRow("LF line ends") << kHeader + kBody << kHeader + kBody;
    QTest::newRow("bytes 0x80 to 0xFE in header and body")
        << ";" + high + "\n;" + high + "\nG1 X1 ;" + high + "\n"
        << ";" + high + "\n;" + high + "\nG1 X1 ;" + high + "\n";
    QTest::newRow("0x00 and 0xFF in the header") << QByteArray(";\x00\xFF\n\xFF\x00\nG1 X1\nM84\n", 17)
                                                 << QByteArray(";\x00\xFF\n\xFF\x00\nG1 X1\nM84\n", 17);
    QTest::newRow("CR LF line ends") << QByteArray(";a\r\n;b\r\nG1 X1\r\n\r\nM84\r\n")
                                     << QByteArray(";a\r\n;b\r\nG1 X1\r\n\r\nM84\r\n");
    QTest::newRow("blank line in the middle") << kHeader + "G1 X1\n\n\nG1 X2\n\n"
                                              << kHeader + "G1 X1\n\n\nG1 X2\n\n";
    QTest::newRow("header of exactly 35000 bytes") << ";\n" + repeated('b', 34997) + "\nG1\n"
                                                   << ";\n" + repeated('b', 34997) + "\nG1\n";
    QTest::newRow("row longer than 4096 characters") << kHeader + "G1\n" + repeated('X', 10000) + "\nM84\n"
                                                     << kHeader + "G1\n" + repeated('X', 10000) + "\nM84\n";
    QTest::newRow("last line without LF gets one") << kHeader + "G1 X1\nM84" << kHeader + "G1 X1\nM84\n";
    QTest::newRow("CR LF body, last line without a break gets CR LF")
        << QByteArray(";a\r\n;b\r\nG1\r\nM84") << QByteArray(";a\r\n;b\r\nG1\r\nM84\r\n");
    QTest::newRow("0xFF in the body is kept") << kHeader + "G1 X1\n\xFFrest\n"
                                              << kHeader + "G1 X1\n\xFFrest\n";
    QTest::newRow("0x00 in the body is kept")
        << kHeader + QByteArray("G1 X1\nM8\x00rest\n", 14) << kHeader + QByteArray("G1 X1\nM8\x00rest\n", 14);
    QTest::newRow("Latin-1 comment with 0xE9 and 0xFF mid-body")
        << kHeader + "G1 X1\n;mesh caf\xe9 \xff end\nG1 X2\nM84\n"
        << kHeader + "G1 X1\n;mesh caf\xe9 \xff end\nG1 X2\nM84\n";
}

void TestDropCreate::roundTrip()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, expected);
    const QString input = fixture(QStringLiteral("in.gcode"), file);
    QVERIFY(dropPath(input));
    m_boxes->answer(QMessageBox::Ok);

    clickCreate();

    const QString output = QDir::toNativeSeparators(path(QStringLiteral("Borvane.gx")));
    QCOMPARE(m_boxes->boxes, QList<Box>{Box({"Message", output + "\n" + kCreated})});
    QCOMPARE(readFile(output), expected);
    QCOMPARE(readFile(input), file);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"Borvane.gx", "in.gcode"}));
    QVERIFY(!m_window->isVisible());
}

void TestDropCreate::removeTheHeader()
{
    QVERIFY(dropPath(fixture(QStringLiteral("in.gcode"), kHeader + kBody)));

    QTest::mouseClick(m_window->cboxHeader, Qt::LeftButton);
    QVERIFY(m_window->cboxHeader->isChecked());
    QCOMPARE(m_window->leditFileName->text(), QStringLiteral("Borvane.g"));
    m_boxes->answer(QMessageBox::Ok);
    clickCreate();

    QCOMPARE(readFile(path(QStringLiteral("Borvane.g"))), kBody);
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("Borvane.gx"))));
    QCOMPARE(m_boxes->boxes,
             QList<Box>{Box({"Message", QDir::toNativeSeparators(path(QStringLiteral("Borvane.g"))) + "\n" +
                                            kCreated})});
}

void TestDropCreate::headerOption_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("writeHeader");

    QTest::newRow("tick with the default name") << QString() << 1 << "Borvane.g" << false;
    QTest::newRow("tick and untick") << QString() << 2 << "Borvane.gx" << true;
    QTest::newRow("typed name is replaced by the stored one") << "mine.gcode" << 1 << "Borvane.g" << false;
}

void TestDropCreate::headerOption()
{
    QFETCH(QString, typed);
    QFETCH(int, clicks);
    QFETCH(QString, expected);
    QFETCH(bool, writeHeader);
    if (!typed.isEmpty()) {
        m_window->leditFileName->clear();
        QTest::keyClicks(m_window->leditFileName, typed);
    }

    for (int i = 0; i < clicks; ++i)
        QTest::mouseClick(m_window->cboxHeader, Qt::LeftButton);

    QCOMPARE(m_window->leditFileName->text(), expected);
    QCOMPARE(m_window->OutputFileName, expected);
    QCOMPARE(m_window->WriteHeader, writeHeader);
}

void TestDropCreate::createUsesTheTypedName()
{
    QVERIFY(dropPath(fixture(QStringLiteral("in.gcode"), kHeader + kBody)));
    m_window->leditFileName->clear();
    QTest::keyClicks(m_window->leditFileName, QStringLiteral(" my print "));
    m_boxes->answer(QMessageBox::Ok);

    clickCreate();

    QCOMPARE(m_window->OutputFileName, QStringLiteral(" my print "));
    QCOMPARE(readFile(path(QStringLiteral(" my print "))), kHeader + kBody);
}

void TestDropCreate::overwrite_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");

    QTest::newRow("OK replaces the file") << QMessageBox::Ok;
    QTest::newRow("Cancel leaves the file") << QMessageBox::Cancel;
}

void TestDropCreate::overwrite()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QVERIFY(dropPath(fixture(QStringLiteral("in.gcode"), kHeader + kBody)));
    const QString output = fixture(QStringLiteral("Borvane.gx"), "old contents\n");
    m_boxes->answer(answer);
    m_boxes->answer(QMessageBox::Ok);

    clickCreate();

    // The question names the file it would replace.
    const Box question{"Message", "This file exists, do you want to overwrite it?\n" + output};
    if (answer == QMessageBox::Ok) {
        QCOMPARE(readFile(output), kHeader + kBody);
        QCOMPARE(m_boxes->boxes, (QList<Box>{question, Box({"Message", output + "\n" + kCreated})}));
        QVERIFY(!m_window->isVisible());
    } else {
        QCOMPARE(readFile(output), QByteArray("old contents\n"));
        QCOMPARE(m_boxes->boxes, QList<Box>{question});
        QVERIFY(m_window->isVisible());
        QCOMPARE(m_window->focusWidget(), static_cast<QWidget*>(m_window->leditFileName));
    }
}

void TestDropCreate::failedOpenForWrite_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("removeFolder");
    QTest::addColumn<QString>("box");

    QTest::newRow("output folder removed after the drop")
        << "Borvane.gx" << true
        << "[File Write Error] The file cannot be created in this folder:\nOUT\n\nNo such file or "
           "directory\n\n"
           "Nothing was written; your edits are still here. Choose another folder and create the file there?";
    QTest::newRow("name of an existing folder")
        << "sub" << false
        << "[File Write Error] The file was not created:\nOUT\n\nOUT is a folder, not a file; only a regular "
           "file is replaced by the output. Choose another name.\n\nNothing was changed; your edits are "
           "still "
           "here.";
}

void TestDropCreate::failedOpenForWrite()
{
    QFETCH(QString, name);
    QFETCH(bool, removeFolder);
    QFETCH(QString, box);
    const QString folder = path(QStringLiteral("in"));
    QVERIFY(dropPath(fixture(QStringLiteral("in/in.gcode"), kHeader + kBody)));
    QVERIFY(QDir().mkpath(folder + "/sub"));
    m_window->Memo1->appendRow(QStringLiteral("M25"));
    const WindowState edited = state();
    if (removeFolder)
        QVERIFY(QDir(folder).removeRecursively());
    m_window->leditFileName->setText(name);
    m_boxes->answer(QMessageBox::No); // no other folder

    clickCreate();

    const QString output = QDir::toNativeSeparators(folder) + QDir::separator() + name;
    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(QStringLiteral("[%1] %2").arg(m_boxes->boxes[0].caption, m_boxes->boxes[0].text),
             box.replace(QStringLiteral("OUT"), output));
    QVERIFY(m_window->isVisible());
    QCOMPARE(state().body, edited.body);
    QCOMPARE(state().header, edited.header);
    if (removeFolder)
        QVERIFY(!QFileInfo::exists(folder));
    else
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 (QStringList{"in.gcode", "sub"}));
}

void TestDropCreate::failedWriteKeepsTheTarget()
{
#ifdef Q_OS_UNIX
    // A file size limit makes the write fail part way, even for root.
    const QByteArray body = "G1 " + repeated('X', 97) + "\n";
    QByteArray bigBody;
    for (int i = 0; i < 3000; ++i)
        bigBody += body;
    QVERIFY(dropPath(fixture(QStringLiteral("in.gcode"), kHeader + bigBody)));
    const QString output = fixture(QStringLiteral("Borvane.gx"), "old contents\n");
    m_boxes->answer(QMessageBox::Ok); // overwrite
    m_boxes->answer(QMessageBox::Ok); // the error

    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    clickCreate();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(m_boxes->boxes.size(), 2);
    const Box error = m_boxes->boxes.at(1);
    QCOMPARE(error.caption, QStringLiteral("File Write Error"));
    QVERIFY2(error.text.startsWith("The file was not created:\n" + QDir::toNativeSeparators(output) + "\n\n"),
             qPrintable(error.text));
    QVERIFY2(error.text.endsWith("\n\nNothing was changed; your edits are still here."),
             qPrintable(error.text));
    QVERIFY(m_window->isVisible());
    QCOMPARE(readFile(output), QByteArray("old contents\n"));
    QCOMPARE(editorBytes(), bigBody);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"Borvane.gx", "in.gcode"}));
#else
    QSKIP("needs a file size limit");
#endif
}

// The rows, the keyword scan, the height search and the output treat 0x00 and 0xFF as
// ordinary bytes: rows are counted past them and nothing after them is lost.
void TestDropCreate::scansAndOutputPastNulAndFF()
{
    const QByteArray body(
        "G28\n;mesh caf\xe9 \xff"
        " end\nM8\x00x\nG1 Z0.300 F420\n;structure:shell-inner\n"
        "G1 X1 E1\n\x00\xff;M117 mark\nG1 Z0.500 F420\nG1 X2 E2\nG1 Z0.700 F420\nG1 X3 E3\nM84\n",
        138);
    QCOMPARE(body.count('\0'), 2);
    // Rows by a plain split of the bytes.
    const QList<QByteArray> rows = body.split('\n');
    const auto rowHolding = [&rows](const QByteArray& text) {
        for (int row = 0; row < rows.size(); ++row) {
            if (rows[row].contains(text))
                return row;
        }
        return -1;
    };
    QVERIFY(dropPath(fixture(QStringLiteral("in.gcode"), kHeader + body)));
    QCOMPARE(m_window->Memo1->lineCount(), rows.size() - 1);
    QCOMPARE(m_window->leditStartH->text(), QStringLiteral("0.300"));
    QCOMPARE(m_window->leditMaxZ->text(), QStringLiteral("0.400+0.300=0.700"));

    m_window->cboxKeyword->setEditText(QStringLiteral("M117 mark"));
    QTest::mouseClick(m_window->sbtnGo, Qt::LeftButton);
    QCOMPARE(m_window->CurrentRow, rowHolding("M117 mark"));
    QCOMPARE(m_window->Memo1->rowText(m_window->CurrentRow), QString::fromLatin1(rows[m_window->CurrentRow]));

    QTest::keyClicks(m_window->leditPause, QStringLiteral("0.3"));
    QTest::mouseClick(m_window->bbtnHeightSearch, Qt::LeftButton);
    const int zRow = rowHolding("G1 Z0.500");
    QCOMPARE(m_window->CurrentRow, zRow);
    QCOMPARE(m_window->leditCurrentZ->text(), QStringLiteral("0.500"));
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    m_boxes->answer(QMessageBox::Ok);
    clickCreate();

    QByteArray expected = body;
    expected.insert(expected.indexOf("G1 Z0.500"), "M25\n");
    QCOMPARE(readFile(path(QStringLiteral("Borvane.gx"))), kHeader + expected);
}

// A write to a full disk is cut short without an error code; the box says the disk is full.
void TestDropCreate::diskFullSaysSo()
{
#ifdef Q_OS_LINUX
    if (geteuid() != 0)
        QSKIP("mounting a small tmpfs as a full disk needs root; the size-limit test covers the short write");
    const QString full = path(QStringLiteral("full"));
    QVERIFY(QDir().mkpath(full));
    if (::mount("tmpfs", QFile::encodeName(full).constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("this machine does not let a test mount a tmpfs");
    const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(full).constData(), MNT_DETACH); });
    QByteArray bigBody;
    for (int i = 0; i < 3000; ++i)
        bigBody += "G1 " + repeated('X', 97) + "\n";
    QVERIFY(dropPath(fixture(QStringLiteral("in.gcode"), kHeader + bigBody)));
    QVERIFY(dropPath(full));
    m_boxes->answer(QMessageBox::Ok);

    clickCreate();

    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes[0].caption, QStringLiteral("File Write Error"));
    QVERIFY2(
        m_boxes->boxes[0].text.contains(QStringLiteral("\n\nThe disk is full: the file could not be written "
                                                       "to its end (")),
        qPrintable(m_boxes->boxes[0].text));
    QVERIFY(m_window->isVisible());
    QCOMPARE(editorBytes(), bigBody);
    QCOMPARE(QDir(full).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
#else
    QSKIP("mounts a Linux tmpfs");
#endif
}

void TestDropCreate::refusedOutputName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");

    const QString empty = QStringLiteral("The file name is empty.");
    const QString outside = QStringLiteral("leads outside the chosen folder");
    QTest::newRow("empty") << "" << empty;
    QTest::newRow("blanks only") << "   " << empty;
    QTest::newRow("the folder itself") << "." << outside;
    QTest::newRow("the folder above") << ".." << outside;
    QTest::newRow("into the folder above") << "../x.gx" << outside;
    QTest::newRow("into a folder below") << "a/b.gx" << outside;
    QTest::newRow("absolute path") << "<absolute>" << outside; // a file beside the test folder
    QTest::newRow("backslash") << "..\\x.gx" << outside;
    // No key types a NUL; it comes pasted.
    const QString nul = QStringLiteral("NUL character");
    QTest::newRow("a NUL pasted in the name") << QString::fromUtf8("Borvane.gx\0.txt", 15) << nul;
    QTest::newRow("a NUL pasted after the input's name") << QString::fromUtf8("in.gcode\0.gx", 12) << nul;
}

void TestDropCreate::refusedOutputName()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    if (name == u"<absolute>")
        name = path(QStringLiteral("elsewhere.gx"));
    const QString folder = path(QStringLiteral("in"));
    const QString input = fixture(QStringLiteral("in/in.gcode"), kHeader + kBody);
    QVERIFY(dropPath(input));
    QVERIFY(QDir().mkpath(folder + "/a"));
    m_window->Memo1->appendRow(QStringLiteral("M25"));
    const WindowState edited = state();
    m_window->leditFileName->clear();
    if (name.contains(QChar(0))) {
        QApplication::clipboard()->setText(name);
        m_window->leditFileName->setFocus();
        QTest::keySequence(m_window->leditFileName, QKeySequence::Paste);
    } else {
        QTest::keyClicks(m_window->leditFileName, name);
    }
    QCOMPARE(m_window->leditFileName->text(), name);

    clickCreate();

    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes[0].caption, QStringLiteral("File Name Error"));
    QVERIFY2(m_boxes->boxes[0].text.contains(reason), qPrintable(m_boxes->boxes[0].text));
    QVERIFY(m_window->isVisible());
    QCOMPARE(state().body, edited.body);
    QCOMPARE(m_window->focusWidget(), static_cast<QWidget*>(m_window->leditFileName));
    // Nothing was written anywhere under the test folder but the input.
    QStringList files;
    for (const QFileInfo& info : QDir(m_dir->path()).entryInfoList(QDir::Files | QDir::Hidden))
        files << info.fileName();
    QCOMPARE(files, QStringList());
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{"a", "in.gcode"}));
    QCOMPARE(QDir(folder + "/a").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(readFile(input), kHeader + kBody);
}

void TestDropCreate::namesThatAreNoUtf8_data()
{
    QTest::addColumn<QByteArray>("folder"); // in the test folder
    QTest::addColumn<QByteArray>("input");

    QTest::newRow("Latin-1 file") << QByteArray("in") << QByteArray("lat\xe9n.gcode");
    QTest::newRow("Latin-1 folder") << QByteArray("d\xe9p") << QByteArray("part.gcode");
    QTest::newRow("0xFF file in a Latin-1 folder") << QByteArray("d\xe9p") << QByteArray("x\xff.gcode");
}

// A file manager drops a file named in Latin-1 as the URL of its bytes: the window opens that
// file, shows its folder readably, and "Create" writes beside it under the name given.
void TestDropCreate::namesThatAreNoUtf8()
{
#ifdef Q_OS_UNIX
    QFETCH(QByteArray, folder);
    QFETCH(QByteArray, input);
    const QByteArray dir = QFile::encodeName(m_dir->path()) + '/' + folder;
    QCOMPARE(::mkdir(dir.constData(), 0700), 0);
    QVERIFY(GuiTest::writeRawFile(dir + '/' + input, kHeader + kBody));

    QVERIFY(GuiTest::dropUriList(m_window->Memo1, uriList(dir + '/' + input)));
    QCOMPARE(m_boxes->boxes, QList<Box>());
    QCOMPARE(editorBytes(), kBody);
    QCOMPARE(m_window->editFilePath->text(), escapedName(dir));
    m_window->Memo1->appendRow(QStringLiteral("M25"));
    m_boxes->answer(QMessageBox::Ok);

    clickCreate();

    QCOMPARE(m_boxes->boxes,
             QList<Box>{Box({"Message", escapedName(dir + "/Borvane.gx") + "\n" + kCreated})});
    QCOMPARE(GuiTest::rawNames(dir), (QList<QByteArray>{"Borvane.gx", input}));
    QCOMPARE(GuiTest::readRawFile(dir + "/Borvane.gx"), kHeader + kBody + "M25\n");
    QCOMPARE(GuiTest::readRawFile(dir + '/' + input), kHeader + kBody);
#else
    QSKIP("file names are bytes on Unix only");
#endif
}

// The box that refuses such a file names it with each stray byte as \xE9, not as a character
// that looks the same for every byte.
void TestDropCreate::nameThatIsNoUtf8InTheRefusal()
{
#ifdef Q_OS_UNIX
    const QByteArray file = QFile::encodeName(m_dir->path()) + "/lat\xe9n.gcode";
    QVERIFY(GuiTest::writeRawFile(file, "G28\n"));
    const WindowState before = state();

    QVERIFY(GuiTest::dropUriList(m_window->Memo1, uriList(file)));

    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes[0].caption, QStringLiteral("File Open Error"));
    QVERIFY2(m_boxes->boxes[0].text.contains(QStringLiteral("\n") + escapedName(file) + QStringLiteral("\n")),
             qPrintable(m_boxes->boxes[0].text));
    compareState(state(), before);
#else
    QSKIP("file names are bytes on Unix only");
#endif
}

void TestDropCreate::realFixturesRoundTrip_data()
{
    QTest::addColumn<QString>("file");
    const QDir real(QStringLiteral(BORVANE_REAL_FIXTURES_DIR));
    if (!real.exists())
        QSKIP("the real slicer files do not stand beside the repository");
    const QStringList files = real.entryList({QStringLiteral("*.gcode")}, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QString& name : files)
        QTest::newRow(qPrintable(name)) << real.filePath(name);
}

void TestDropCreate::realFixturesRoundTrip()
{
    QFETCH(QString, file);
    const QByteArray original = readFile(file);
    const QString input = path(QStringLiteral("in.gcode"));
    QVERIFY(QFile::copy(file, input));
    QVERIFY(dropPath(input));
    m_boxes->answer(QMessageBox::Ok);

    clickCreate();

    QCOMPARE(readFile(path(QStringLiteral("Borvane.gx"))), original);
    QCOMPARE(m_boxes->boxes.size(), 1);
}

void TestDropCreate::folderButton_data()
{
    QTest::addColumn<QString>("dropped");
    QTest::addColumn<QString>("expected");

    QTest::newRow("before any drop") << QString() << "exe";
    QTest::newRow("after a file drop") << "in/in.gcode"
                                       << "in";
    QTest::newRow("after a folder drop") << "out"
                                         << "out";
}

void TestDropCreate::folderButton()
{
    QFETCH(QString, dropped);
    QFETCH(QString, expected);
    fixture(QStringLiteral("in/in.gcode"), kHeader + kBody);
    QDir().mkpath(path(QStringLiteral("out")));
    if (!dropped.isEmpty())
        QVERIFY(dropPath(path(dropped)));
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");

    QTest::mouseClick(m_window->sbtnExplorerOpen, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

    const QString folder = expected == u"exe" ? QCoreApplication::applicationDirPath() + "/" : path(expected);
    QCOMPARE(recorder.urls, QList<QUrl>{QUrl::fromLocalFile(folder)});
}

void TestDropCreate::linksAndSpecialFilesAsOutput_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");

    QTest::newRow("dangling link named Borvane.gx")
        << "dangling"
        << "OUT is a symbolic link to TARGET; the output is not written through a link.";
    QTest::newRow("link to a file named Borvane.gx")
        << "link"
        << "OUT is a symbolic link to TARGET; the output is not written through a link.";
    QTest::newRow("pipe named Borvane.gx")
        << "pipe"
        << "OUT is a pipe, not a file; only a regular file is replaced by the output.";
}

// A link or a pipe at the output's name is refused without the overwrite question, and nothing
// is written through it.
void TestDropCreate::linksAndSpecialFilesAsOutput()
{
#ifdef Q_OS_UNIX
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QVERIFY(dropPath(fixture(QStringLiteral("out/in.gcode"), kHeader + kBody)));
    const QString output = QDir::toNativeSeparators(path(QStringLiteral("out/Borvane.gx")));
    const QString target = path(QStringLiteral("elsewhere/planted.txt"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("elsewhere"))));
    if (kind == u"link")
        fixture(QStringLiteral("elsewhere/planted.txt"), "planted\n");
    if (kind == u"pipe")
        QCOMPARE(::mkfifo(QFile::encodeName(output).constData(), 0600), 0);
    else
        QVERIFY(QFile::link(QStringLiteral("../elsewhere/planted.txt"), output));
    m_boxes->answer(QMessageBox::Ok);

    clickCreate();

    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes[0].caption, QStringLiteral("File Write Error"));
    const QString expected =
        reason.replace(QStringLiteral("OUT"), output).replace(QStringLiteral("TARGET"), target);
    QVERIFY2(m_boxes->boxes[0].text.contains(expected), qPrintable(m_boxes->boxes[0].text));
    QVERIFY(m_window->isVisible());
    if (kind == u"link")
        QCOMPARE(readFile(target), QByteArray("planted\n"));
    else
        QVERIFY(!QFileInfo::exists(target));
    struct stat status
    {
    };
    QCOMPARE(::lstat(QFile::encodeName(output).constData(), &status), 0);
    QVERIFY(kind == u"pipe" ? S_ISFIFO(status.st_mode) : S_ISLNK(status.st_mode));
#else
    QSKIP("links and pipes as Unix has them");
#endif
}

// A folder that cannot be written (here a read-only file system) says why and offers another
// folder; the file is then created there.
void TestDropCreate::readOnlyFolderOffersAnother()
{
#ifdef Q_OS_LINUX
    if (geteuid() != 0)
        QSKIP("mounting a read-only tmpfs needs root");
    const QString readOnly = path(QStringLiteral("readonly"));
    QVERIFY(QDir().mkpath(readOnly));
    if (::mount("tmpfs", QFile::encodeName(readOnly).constData(), "tmpfs", MS_RDONLY, "size=64k") != 0)
        QSKIP("this machine does not let a test mount a tmpfs");
    const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(readOnly).constData(), MNT_DETACH); });
    QVERIFY(dropPath(fixture(QStringLiteral("in.gcode"), kHeader + kBody)));
    QVERIFY(dropPath(readOnly));
    const QString other = path(QStringLiteral("other"));
    QVERIFY(QDir().mkpath(other));
    QStringList asked;
    Dialogs::setFolderChooser([&](const QString&, const QString& start) {
        asked << start;
        return QDir::toNativeSeparators(other);
    });
    const auto noChooser = qScopeGuard([] { Dialogs::setFolderChooser({}); });
    m_boxes->answer(QMessageBox::Yes); // choose another folder
    m_boxes->answer(QMessageBox::Ok);  // created

    clickCreate();

    QCOMPARE(m_boxes->boxes.size(), 2);
    QCOMPARE(m_boxes->boxes[0].caption, QStringLiteral("File Write Error"));
    QVERIFY2(m_boxes->boxes[0].text.startsWith("The file cannot be created in this folder:\n" +
                                               QDir::toNativeSeparators(readOnly) + "/Borvane.gx\n\n" +
                                               "Read-only file system\n\n"),
             qPrintable(m_boxes->boxes[0].text));
    QCOMPARE(asked, QStringList{QDir::toNativeSeparators(readOnly)});
    QCOMPARE(readFile(other + "/Borvane.gx"), kHeader + kBody);
    QCOMPARE(m_window->editFilePath->text(), QDir::toNativeSeparators(other));
#else
    QSKIP("mounts a Linux tmpfs");
#endif
}

// The button beside the folder button chooses the output folder with a dialog; the folder
// button itself still opens the folder in the file manager.
void TestDropCreate::chooseFolderButton()
{
    QVERIFY(dropPath(fixture(QStringLiteral("in/in.gcode"), kHeader + kBody)));
    const QString other = QDir::toNativeSeparators(path(QStringLiteral("chosen")));
    QVERIFY(QDir().mkpath(other));
    auto* button = m_window->findChild<QToolButton*>(QStringLiteral("sbtnChooseFolder"));
    QVERIFY(button);
    Dialogs::setFolderChooser([&](const QString&, const QString&) { return other; });
    const auto noChooser = qScopeGuard([] { Dialogs::setFolderChooser({}); });

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(m_window->editFilePath->text(), other);
    m_boxes->answer(QMessageBox::Ok);
    clickCreate();
    QCOMPARE(readFile(other + "/Borvane.gx"), kHeader + kBody);
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("in/Borvane.gx"))));

    // Cancelling the dialog keeps the folder.
    Dialogs::setFolderChooser([](const QString&, const QString&) { return QString(); });
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(m_window->editFilePath->text(), other);
}

// A body whose rows end in CR alone gets inserted lines ending in CR alone.
void TestDropCreate::crOnlyBodyKeepsItsLineEnd()
{
    const QByteArray body = "G28\rG1 Z0.300 F420\rG1 X10 Y10 E1.0\rM84\r";
    QVERIFY(dropPath(fixture(QStringLiteral("in.gcode"), kHeader + body)));
    m_window->lbleRow->setText(QStringLiteral("2"));
    QTest::mouseClick(m_window->sbtnGoRowNumber, Qt::LeftButton);
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    m_boxes->answer(QMessageBox::Ok);
    clickCreate();
    QCOMPARE(readFile(path(QStringLiteral("Borvane.gx"))),
             kHeader + "G28\rG1 Z0.300 F420\rM25\rG1 X10 Y10 E1.0\rM84\r");
}

// Binary G-code dropped: its text shown and edited as a plain file of that text; "Create"
// writes Borvane.bgcode in the input's form, its other blocks unchanged; with the header removed,
// plain text Borvane.g; a text file dropped after it goes back to Borvane.gx.
void TestDropCreate::binaryGCodeWrittenBackInItsForm_data()
{
    QTest::addColumn<bool>("removeHeader");
    QTest::newRow("written back as binary G-code") << false;
    QTest::newRow("header removed: plain text") << true;
}

void TestDropCreate::binaryGCodeWrittenBackInItsForm()
{
    QFETCH(bool, removeHeader);
    BinaryGCode::Container container =
        BinaryGCode::plain(BinaryGCode::Compression::Heatshrink12, BinaryGCode::Encoding::MeatPackComments, 40);
    // A printer metadata block, its CRC-32 from Python's zlib.
    container.before = QByteArray::fromHex("03000000110000000000" "7072696e7465725f6d6f64656c3d4d4b0a" "b101c40e");
    const QString input = fixture(QStringLiteral("in.bgcode"), BinaryGCode::encode(container, kHeader + kBody));

    QVERIFY(dropPath(input));
    QCOMPARE(QByteArray(m_window->HeaderBuffer.data(), m_window->HeaderLength), kHeader);
    QCOMPARE(editorBytes(), kBody);
    QCOMPARE(m_window->leditFileName->text(), QStringLiteral("Borvane.bgcode"));
    m_window->Memo1->appendRow(QStringLiteral("M25"));
    const QByteArray edited = editorBytes();
    if (removeHeader) {
        QTest::mouseClick(m_window->cboxHeader, Qt::LeftButton);
        QCOMPARE(m_window->leditFileName->text(), QStringLiteral("Borvane.g"));
    }
    m_boxes->answer(QMessageBox::Ok);
    clickCreate();

    if (removeHeader) {
        QCOMPARE(readFile(path(QStringLiteral("Borvane.g"))), edited);
        return;
    }
    const BinaryGCode::Decoded written = BinaryGCode::decode(readFile(path(QStringLiteral("Borvane.bgcode"))), 1'000'000);
    QVERIFY2(written.ok(), qPrintable(written.problem));
    QCOMPARE(written.text, kHeader + edited);
    QCOMPARE(written.container.before, container.before);
    QCOMPARE(written.container.compression, BinaryGCode::Compression::Heatshrink12);
    QCOMPARE(written.container.encoding, BinaryGCode::Encoding::MeatPackComments);
    QVERIFY(written.container.gcodeBlocks > 1);
}

void TestDropCreate::damagedBinaryGCodeRefused()
{
    QVERIFY(dropPath(fixture(QStringLiteral("good/in.bgcode"),
                             BinaryGCode::encode(BinaryGCode::plain(BinaryGCode::Compression::Deflate,
                                                                    BinaryGCode::Encoding::MeatPack),
                                                 kHeader + kBody))));
    const WindowState before = state();
    QByteArray damaged = BinaryGCode::encode(
        BinaryGCode::plain(BinaryGCode::Compression::None, BinaryGCode::Encoding::None), kHeader + kBody);
    damaged[30] = '#';
    const QString bad = fixture(QStringLiteral("bad/bad.bgcode"), damaged);

    QVERIFY(dropPath(bad));

    compareState(state(), before);
    QCOMPARE(m_boxes->boxes.size(), 1);
    QVERIFY2(m_boxes->boxes.front().text.contains(QStringLiteral("checksum of block 1 does not match")),
             qPrintable(m_boxes->boxes.front().text));

    // A text file after binary G-code is written under the text's name again.
    m_boxes->boxes.clear();
    QVERIFY(dropPath(fixture(QStringLiteral("good/in.gcode"), kHeader + kBody)));
    QCOMPARE(m_window->leditFileName->text(), QStringLiteral("Borvane.gx"));
}

QTEST_MAIN(TestDropCreate)
#include "tst_dropcreate.moc"
