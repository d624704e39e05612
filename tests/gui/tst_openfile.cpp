// Opening without a drop: a file named on the command line and Ctrl+O's file dialog load
// the file exactly as a drop of it does.

#include "GuiTestSupport.h"

#include "app/CommandLine.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

const QByteArray kHeader(";sliced\n;header line two\n");
const QByteArray kBody(";FLAVOR:Marlin\nG28\nG1 Z0.300 F420\n;structure:shell-inner\nG1 X10 Y10 E1\n"
                       "G1 Z0.500 F420\n;structure:shell-inner\nG1 X11 Y11 E2\nM104 S0\n");

} // namespace

class TestOpenFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fileArgumentLoadsAsADrop_data();
    void fileArgumentLoadsAsADrop();
    void refusedFileArgumentChangesNothing();
    void ctrlOOpensTheChosenFile();
    void ctrlOOpensALatin1Name();
    void ctrlOCancelledChangesNothing();
    void dropHintMentionsCtrlO();

private:
    // A window shown as main shows it, and active.
    std::unique_ptr<TEditorForBorvane5_Form1> newWindow();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_file;
};

void TestOpenFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_file = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(m_file, kHeader + kBody));
}

void TestOpenFile::cleanup()
{
    m_dir.reset();
}

std::unique_ptr<TEditorForBorvane5_Form1> TestOpenFile::newWindow()
{
    auto window = std::make_unique<TEditorForBorvane5_Form1>();
    window->show();
    // Ctrl+O is the window's shortcut: it works while the window is the active one.
    window->activateWindow();
    if (!QTest::qWaitForWindowExposed(window.get()) || !QTest::qWaitForWindowActive(window.get()))
        return nullptr;
    return window;
}

void TestOpenFile::fileArgumentLoadsAsADrop_data()
{
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("relative");
    QTest::newRow("absolute file") << false << false;
    QTest::newRow("file relative to the working folder") << false << true;
    QTest::newRow("folder sets the output folder") << true << false;
}

void TestOpenFile::fileArgumentLoadsAsADrop()
{
    QFETCH(bool, folder);
    QFETCH(bool, relative);
    const QString target = folder ? m_dir->path() : m_file;

    auto dropped = newWindow();
    QVERIFY(dropped);
    QVERIFY(GuiTest::dropFile(dropped.get(), target));
    const GuiTest::LoadedView afterDrop = GuiTest::loadedView(*dropped);
    dropped.reset();
    if (!folder)
        QCOMPARE(afterDrop.text, kBody);

    // As main does: the arguments decide the mode, and the window opens the file.
    const QString oldWorkingFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    const QString argument = relative ? QFileInfo(target).fileName() : target;
    CommandLine commandLine;
    const CommandLine::Parsed parsed = commandLine.parse({QStringLiteral("EditorForBorvane5"), argument});
    QVERIFY(QDir::setCurrent(oldWorkingFolder));
    QCOMPARE(parsed.mode, CommandLine::Mode::Window);
    QCOMPARE(parsed.file, QDir::toNativeSeparators(target));

    auto window = newWindow();
    QVERIFY(window);
    window->OpenPath(parsed.file);
    QCOMPARE(GuiTest::loadedView(*window), afterDrop);
}

void TestOpenFile::refusedFileArgumentChangesNothing()
{
    const QString oneLine = m_dir->filePath(QStringLiteral("one-line.gcode"));
    QVERIFY(GuiTest::writeFile(oneLine, "G28\n"));
    auto window = newWindow();
    QVERIFY(window);
    const GuiTest::LoadedView before = GuiTest::loadedView(*window);
    GuiTest::MessageBoxAnswers answers({QMessageBox::Ok});
    window->OpenPath(oneLine);
    QCOMPARE(answers.seen.size(), 1);
    QCOMPARE(answers.seen[0].caption, QStringLiteral("File Open Error"));
    QVERIFY(answers.seen[0].text.contains(oneLine));
    QCOMPARE(GuiTest::loadedView(*window), before);
}

void TestOpenFile::ctrlOOpensTheChosenFile()
{
    auto dropped = newWindow();
    QVERIFY(dropped);
    QVERIFY(GuiTest::dropFile(dropped.get(), m_file));
    const GuiTest::LoadedView afterDrop = GuiTest::loadedView(*dropped);
    dropped.reset();

    auto window = newWindow();
    QVERIFY(window);
    QStringList filters;
    bool answered = false;
    // The real dialog, answered as a user would: the file name typed, then accepted.
    QTimer::singleShot(0, window.get(), [&] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        filters = dialog->nameFilters();
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        dialog->setDirectory(m_dir->path());
        name->setText(QFileInfo(m_file).fileName());
        QTest::keyClick(name, Qt::Key_Return);
        answered = true;
    });
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    QVERIFY(answered);
    QCOMPARE(filters, (QStringList{QStringLiteral("Sliced G-code files (*.gx *.g *.gcode *.gco *.bgcode *.gcode.3mf)"),
                                   QStringLiteral("All files (*)")}));
    QCOMPARE(GuiTest::loadedView(*window), afterDrop);
}

// A desktop's file dialog hands over a Latin-1 byte in a name as U+FFFD (Qt's reading of the
// name); the file picked there is still opened by its own bytes.
void TestOpenFile::ctrlOOpensALatin1Name()
{
#ifdef Q_OS_UNIX
    const QByteArray file = QFile::encodeName(m_dir->path()) + "/lat\xe9n.gcode";
    QVERIFY(GuiTest::writeRawFile(file, kHeader + kBody));
    const auto removeFile = qScopeGuard([&] { ::unlink(file.constData()); });
    auto window = newWindow();
    QVERIFY(window);
    QString listed;
    QString refusedByTheDialog;
    bool answered = false;
    QTimer::singleShot(0, window.get(), [&] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        dialog->setDirectory(m_dir->path());
        listed = QFile::decodeName("lat\xe9n.gcode");
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        name->setText(listed);
        // A dialog that finds no such file says so in a box of its own: closed, and the dialog
        // with it, so that the check fails instead of waiting.
        QTimer::singleShot(2000, dialog, [&, dialog] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                refusedByTheDialog = box->text();
                box->reject();
                QTimer::singleShot(0, dialog, &QDialog::reject);
            }
        });
        QTest::keyClick(name, Qt::Key_Return);
        answered = true;
    });
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    QVERIFY(answered);
    QVERIFY(listed.contains(QChar::ReplacementCharacter));
    QCOMPARE(refusedByTheDialog, QString());
    QCOMPARE(GuiTest::loadedView(*window).text, kBody);
    QCOMPARE(window->editFilePath->text(), m_dir->path());
#else
    QSKIP("file names are bytes on Unix only");
#endif
}

void TestOpenFile::ctrlOCancelledChangesNothing()
{
    auto window = newWindow();
    QVERIFY(window);
    QVERIFY(GuiTest::dropFile(window.get(), m_file));
    const GuiTest::LoadedView before = GuiTest::loadedView(*window);
    bool answered = false;
    QTimer::singleShot(0, window.get(), [&] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        QApplication::activeModalWidget()->close();
        answered = true;
    });
    // From inside the editor too: the shortcut belongs to the window.
    window->Memo1->setFocus();
    QTest::keyClick(window->Memo1, Qt::Key_O, Qt::ControlModifier);
    QVERIFY(answered);
    QCOMPARE(GuiTest::loadedView(*window), before);
}

void TestOpenFile::dropHintMentionsCtrlO()
{
    auto window = newWindow();
    QVERIFY(window);
    QVERIFY(window->memoMessage->toPlainText().contains(QStringLiteral("Ctrl+O")));
}

QTEST_MAIN(TestOpenFile)
#include "tst_openfile.moc"
