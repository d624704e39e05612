// A drop that fails anywhere changes nothing: a read error part way, a body too big for the
// editor, a row too long to paint, a pipe, memory running out. The earlier file, its edits,
// its undo history, the header, the state record and the controls all stay, and "Create"
// still writes the earlier file with its edits.

#include "GuiTestSupport.h"

#include "gui/Dialogs.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <atomic>
#include <chrono>
#include <limits>
#include <memory>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define BORVANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BORVANE_ASAN 1
#endif
#endif

namespace {

const QByteArray kHeader = ";FLAVOR:Marlin\n;\xFF header \x01\n";
const QByteArray kBody =
    "G28\nG1 Z0.300 F420\n;structure:shell-inner\nG1 X10 Y10 E1.0\nG1 Z0.500 F420\nM84\n";

// Reads through to a file and fails once failAt bytes have been read; counts what was read.
class FailingRead : public QIODevice
{
public:
    // read, when given, counts the bytes read; it outlives the device, which the drop destroys.
    FailingRead(QFile& file, qint64 failAt, qint64* read = nullptr)
        : m_file(file), m_failAt(failAt), m_read(read)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 size() const override { return m_file.size(); }
    bool seek(qint64 pos) override { return m_file.seek(pos) && QIODevice::seek(pos); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 pos = m_file.pos();
        if (pos >= m_failAt) {
            setErrorString(QStringLiteral("Input/output error"));
            return -1;
        }
        const qint64 got = m_file.read(data, qMin(maxSize, m_failAt - pos));
        if (m_read)
            *m_read += qMax<qint64>(0, got);
        return got;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QFile& m_file;
    qint64 m_failAt;
    qint64* m_read;
};

// Reads through to a file as a file being rewritten reads: the read ends (returns 0) once
// endAt bytes were read although the file is longer, or, with grow, the file gets longer
// once the header has been read.
class ChangingRead : public QIODevice
{
public:
    ChangingRead(QFile& file, const QString& path, qint64 endAt, bool grow)
        : m_file(file), m_path(path), m_endAt(endAt), m_grow(grow)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool seek(qint64 pos) override { return m_file.seek(pos) && QIODevice::seek(pos); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 pos = m_file.pos();
        if (m_grow && pos > 0 && !m_grown) {
            m_grown = true;
            QFile more(m_path);
            if (more.open(QIODevice::Append))
                more.write("G1 X1 Y1 E9\n");
        }
        if (pos >= m_endAt)
            return 0;
        return m_file.read(data, qMin(maxSize, m_endAt - pos));
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QFile& m_file;
    QString m_path;
    qint64 m_endAt;
    bool m_grow;
    bool m_grown = false;
};

// What a failed drop must leave as it was.
struct WindowState
{
    QString droppedPath, folderPath, outputPath, outputFileName, editFilePath, row, startH, maxZ, currentZ;
    QByteArray header, body;
    bool fileLoaded = false, insertEnabled = false, readOnly = false;
    int currentRow = 0, startRow = 0, caretRow = 0;
    double startHeight = 0;
    QList<bool> enabled;
    bool operator==(const WindowState&) const = default;
};

QByteArray bodyRows(qint64 bytes)
{
    const QByteArray row = "G1 X10.5 Y20.25 E0.0123\n";
    QByteArray text;
    text.reserve(bytes + row.size());
    while (text.size() < bytes)
        text += row;
    return text;
}

} // namespace

class TestFailedLoad : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void failedDropKeepsTheEarlierFile_data();
    void failedDropKeepsTheEarlierFile();
    void changedWhileReadKeepsTheEarlierFile_data();
    void changedWhileReadKeepsTheEarlierFile();
    void bodyOverTheLimitIsRefusedBeforeItIsRead();
    void pipeIsRefusedWithoutWaiting();
    void memoryRunningOutKeepsTheEarlierFile();

private:
    // Drops the earlier file and edits it through the window: a pause after row 3.
    void loadAndEdit();
    WindowState state() const;
    // The earlier file's edits and undo history are still there, and "Create" writes them.
    void checkEarlierFileIntact(const WindowState& before);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TEditorForBorvane5_Form1> m_window;
    std::unique_ptr<GuiTest::MessageBoxAnswers> m_boxes;
    QByteArray m_edited;
};

void TestFailedLoad::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_window = std::make_unique<TEditorForBorvane5_Form1>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_boxes = std::make_unique<GuiTest::MessageBoxAnswers>();
}

void TestFailedLoad::cleanup()
{
    Dialogs::setReadDevice({});
    m_boxes.reset();
    m_window.reset();
    m_dir.reset();
}

void TestFailedLoad::loadAndEdit()
{
    const QString earlier = m_dir->filePath(QStringLiteral("earlier/part.gcode"));
    QVERIFY(GuiTest::writeFile(earlier, kHeader + kBody));
    QVERIFY(GuiTest::dropFile(m_window.get(), earlier));
    m_window->lbleRow->setText(QStringLiteral("3"));
    QTest::mouseClick(m_window->sbtnGoRowNumber, Qt::LeftButton);
    QTest::mouseClick(m_window->rbtnAfter, Qt::LeftButton);
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    m_edited = kBody;
    m_edited.insert(m_edited.indexOf("G1 Z0.500"), "M25\n");
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), m_edited);
}

WindowState TestFailedLoad::state() const
{
    const TEditorForBorvane5_Form1& w = *m_window;
    WindowState s;
    s.droppedPath = w.DroppedPath;
    s.folderPath = w.FolderPath;
    s.outputPath = w.OutputPath;
    s.outputFileName = w.OutputFileName;
    s.editFilePath = w.editFilePath->text();
    s.row = w.lbleRow->text();
    s.startH = w.leditStartH->text();
    s.maxZ = w.leditMaxZ->text();
    s.currentZ = w.leditCurrentZ->text();
    s.header = QByteArray(w.HeaderBuffer.data(), w.HeaderLength);
    s.body = GuiTest::editorBytes(*w.Memo1);
    s.fileLoaded = w.FileLoaded;
    s.insertEnabled = w.InsertEnabled;
    s.readOnly = w.Memo1->isReadOnly();
    s.currentRow = w.CurrentRow;
    s.startRow = w.StartRow;
    s.caretRow = w.Memo1->CaretRow();
    s.startHeight = w.StartHeight;
    for (const QWidget* control :
         {static_cast<QWidget*>(w.Memo1), static_cast<QWidget*>(w.btnCreate),
          static_cast<QWidget*>(w.bbtnHeightSearch), static_cast<QWidget*>(w.cboxKeyword),
          static_cast<QWidget*>(w.btnPause), static_cast<QWidget*>(w.sbtnGoRowNumber)})
        s.enabled << control->isEnabled();
    return s;
}

void TestFailedLoad::checkEarlierFileIntact(const WindowState& before)
{
    const WindowState after = state();
    QCOMPARE(after.droppedPath, before.droppedPath);
    QCOMPARE(after.header, before.header);
    QCOMPARE(after.body, before.body);
    QVERIFY(after == before);

    // Ctrl+Z still takes back the pause, and redo puts it back.
    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), kBody);
    QTest::keyClick(m_window->Memo1, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), m_edited);

    m_boxes->answer(QMessageBox::Ok);
    QTest::mouseClick(m_window->btnCreate, Qt::LeftButton);
    QCOMPARE(GuiTest::readFile(m_dir->filePath(QStringLiteral("earlier/Borvane.gx"))), kHeader + m_edited);
}

void TestFailedLoad::failedDropKeepsTheEarlierFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<qint64>("failAt"); // -1: no read error
    QTest::addColumn<QString>("reason");

    const QString unread = QStringLiteral("It could not be read to its end (Input/output error).");
    QTest::newRow("read error after 6 of 12 MiB")
        << kHeader + bodyRows(12 << 20) << qint64(6 << 20) << unread;
    QTest::newRow("read error right after the header") << kHeader + kBody << qint64(kHeader.size()) << unread;
    QTest::newRow("read error in the header")
        << kHeader + kBody << qint64(10) << QStringLiteral("It could not be read (Input/output error).");
    QTest::newRow("row of 100000 bytes")
        << kHeader + kBody + QByteArray(100000, 'X') + "\nM84\n"
        << qint64(-1) << QStringLiteral("It has a line longer than 65536 bytes; G-code lines are short");
    QTest::newRow("row of 65537 bytes ending in CR LF")
        << kHeader + "G1\r\n" + QByteArray(65537, 'X') + "\r\nM84\r\n"
        << qint64(-1) << QStringLiteral("It has a line longer than 65536 bytes");
    QTest::newRow("lone CRs split a long stretch into rows, a later one too long")
        << kHeader + QByteArray(60000, 'X') + "\r" + QByteArray(70000, 'Y') + "\n"
        << qint64(-1) << QStringLiteral("It has a line longer than 65536 bytes");
}

void TestFailedLoad::failedDropKeepsTheEarlierFile()
{
    QFETCH(QByteArray, file);
    QFETCH(qint64, failAt);
    QFETCH(QString, reason);
    loadAndEdit();
    const WindowState before = state();
    const QString bad = m_dir->filePath(QStringLiteral("bad/bad.gcode"));
    QVERIFY(GuiTest::writeFile(bad, file));
    if (failAt >= 0)
        Dialogs::setReadDevice([failAt](QFile& f) { return std::make_unique<FailingRead>(f, failAt); });

    QVERIFY(GuiTest::dropFile(m_window.get(), bad));

    QCOMPARE(m_boxes->seen.size(), 1);
    QCOMPARE(m_boxes->seen[0].caption, QStringLiteral("File Open Error"));
    QVERIFY2(m_boxes->seen[0].text.contains(QDir::toNativeSeparators(bad)),
             qPrintable(m_boxes->seen[0].text));
    QVERIFY2(m_boxes->seen[0].text.contains(reason), qPrintable(m_boxes->seen[0].text));
    Dialogs::setReadDevice({});
    checkEarlierFileIntact(before);
}

void TestFailedLoad::changedWhileReadKeepsTheEarlierFile_data()
{
    QTest::addColumn<qint64>("endAt");
    QTest::addColumn<bool>("grow");

    // The size says 12.5 MB, the read gives 1 MiB: what a file cut short while it is dropped gives.
    QTest::newRow("the read ends at 1 MiB of 12.5 MB") << qint64(1 << 20) << false;
    QTest::newRow("the file grows while it is read") << std::numeric_limits<qint64>::max() << true;
}

void TestFailedLoad::changedWhileReadKeepsTheEarlierFile()
{
    QFETCH(qint64, endAt);
    QFETCH(bool, grow);
    loadAndEdit();
    const WindowState before = state();
    const QString changing = m_dir->filePath(QStringLiteral("changing/part.gcode"));
    QVERIFY(GuiTest::writeFile(changing, kHeader + bodyRows(12'500'000)));
    Dialogs::setReadDevice(
        [&](QFile& f) { return std::make_unique<ChangingRead>(f, changing, endAt, grow); });

    QVERIFY(GuiTest::dropFile(m_window.get(), changing));

    QCOMPARE(m_boxes->seen.size(), 1);
    QCOMPARE(m_boxes->seen[0].caption, QStringLiteral("File Open Error"));
    QVERIFY2(
        m_boxes->seen[0].text.contains(QStringLiteral("The file changed while it was read; try again when "
                                                      "the slicer has finished writing it.")),
        qPrintable(m_boxes->seen[0].text));
    Dialogs::setReadDevice({});
    checkEarlierFileIntact(before);
}

void TestFailedLoad::bodyOverTheLimitIsRefusedBeforeItIsRead()
{
    loadAndEdit();
    const WindowState before = state();
    // A sparse file: 3 GiB on paper, its header and a few bytes on the disk.
    const QString huge = m_dir->filePath(QStringLiteral("huge.gcode"));
    QFile file(huge);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(kHeader + kBody), kHeader.size() + kBody.size());
    if (!file.resize(qint64(3) << 30))
        QSKIP("this file system cannot hold a sparse file of 3 GiB");
    file.close();
    qint64 read = -1;
    Dialogs::setReadDevice([&read](QFile& f) {
        read = 0;
        return std::make_unique<FailingRead>(f, std::numeric_limits<qint64>::max(), &read);
    });

    QVERIFY(GuiTest::dropFile(m_window.get(), huge));

    QVERIFY2(read >= 0 && read <= 35000, qPrintable(QString::number(read)));
    QCOMPARE(m_boxes->seen.size(), 1);
    QVERIFY2(m_boxes->seen[0].text.startsWith(QStringLiteral("This file is too large and was not opened:")),
             qPrintable(m_boxes->seen[0].text));
    QVERIFY2(m_boxes->seen[0].text.contains(
                 QStringLiteral("It is too large: its body is 3221 MB, 1221 MB more than the 2000 MB the "
                                "editor holds.")),
             qPrintable(m_boxes->seen[0].text));
    Dialogs::setReadDevice({});
    checkEarlierFileIntact(before);
}

void TestFailedLoad::pipeIsRefusedWithoutWaiting()
{
#ifdef Q_OS_UNIX
    loadAndEdit();
    const WindowState before = state();
    const QString fifo = m_dir->filePath(QStringLiteral("pipe.gcode"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Should the drop wait for a writer, this one comes after 5 s, so that the test ends and fails.
    std::atomic<bool> done = false;
    std::thread writer([&] {
        for (int i = 0; i < 50 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    });

    const bool accepted = GuiTest::dropFile(m_window.get(), fifo);
    done = true;
    writer.join();

    QVERIFY(accepted);
    QCOMPARE(m_boxes->seen.size(), 1);
    QCOMPARE(m_boxes->seen[0].caption, QStringLiteral("File Open Error"));
    QCOMPARE(
        m_boxes->seen[0].text,
        QStringLiteral("This is not a file and was not opened:\n%1\n\nOnly regular files are read; this is a "
                       "pipe, a device or a socket, which could keep the window waiting.")
            .arg(QDir::toNativeSeparators(fifo)));
    checkEarlierFileIntact(before);
#else
    QSKIP("needs mkfifo");
#endif
}

void TestFailedLoad::memoryRunningOutKeepsTheEarlierFile()
{
#if defined(Q_OS_LINUX) && !defined(BORVANE_ASAN)
    loadAndEdit();
    const WindowState before = state();
    // 400 MB: 8 MB of G-code rows, then a hole on the disk; under an address space limit of
    // 150 MB more than the program has mapped now, the body cannot be held.
    const QString big = m_dir->filePath(QStringLiteral("big.gcode"));
    QFile file(big);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(kHeader + bodyRows(8 << 20)) > 0);
    QVERIFY(file.resize(400'000'000));
    file.close();
    QFile status(QStringLiteral("/proc/self/status"));
    QVERIFY(status.open(QIODevice::ReadOnly));
    qint64 mappedKb = -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmSize:"))
            mappedKb = line.mid(7).trimmed().split(' ').value(0).toLongLong();
    }
    QVERIFY(mappedKb > 0);
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_AS, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = rlim_t(mappedKb * 1024 + 150'000'000);
    QCOMPARE(setrlimit(RLIMIT_AS, &limited), 0);
    const bool accepted = GuiTest::dropFile(m_window.get(), big);
    setrlimit(RLIMIT_AS, &saved);

    QVERIFY(accepted);
    QCOMPARE(m_boxes->seen.size(), 1);
    QVERIFY2(m_boxes->seen[0].text.contains(QStringLiteral("There is not enough memory to hold it.")),
             qPrintable(m_boxes->seen[0].text));
    checkEarlierFileIntact(before);
#else
    QSKIP("needs an address space limit, which the address sanitizer cannot run under");
#endif
}

QTEST_MAIN(TestFailedLoad)
#include "tst_failedload.moc"
