// The message boxes as a user meets them (real boxes answered through the event loop):
// their captions, texts, icons, buttons and owner, the answers of OK, Cancel, Esc and the
// close button, file opening that reports through them, and the exception box.

#include "GuiTestSupport.h"

#include "gui/BorvaneApplication.h"
#include "gui/Dialogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QSaveFile>
#include <QTest>

#include <stdexcept>

namespace {

// The real modal box that a check expects, answered through the event loop the way a user
// would.
class BoxAnswer : public GuiTest::BoxAnswer
{
public:
    explicit BoxAnswer(Action action)
        : GuiTest::BoxAnswer(action, GuiTest::MessageBoxAnswers::Mode::RealBoxes)
    {
    }
};

// An object whose event handler throws, as a faulty handler would.
class ThrowingObject : public QObject
{
public:
    explicit ThrowingObject(bool standardException) : m_standard(standardException) {}

    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        if (m_standard)
            throw std::runtime_error("Cannot read the list");
        throw 42;
    }

private:
    bool m_standard;
};

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void askOkCancel_data();
    void askOkCancel();
    void showNotice();
    void openForReadFailure_data();
    void openForReadFailure();
    void openForReadSuccessShowsNothing();
    void openForWriteIntoMissingFolder();
    void exceptionText_data();
    void exceptionText();
    void escapedExceptionIsShownAndTheProgramGoesOn_data();
    void escapedExceptionIsShownAndTheProgramGoesOn();

private:
    QWidget* m_window = nullptr;
    QLineEdit* m_edit = nullptr;
};

void TestDialogs::init()
{
    m_window = new QWidget;
    m_window->resize(300, 100);
    m_edit = new QLineEdit(m_window);
}

void TestDialogs::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

void TestDialogs::askOkCancel_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("expected");

    QTest::newRow("OK button") << int(BoxAnswer::ClickOk) << 1;
    QTest::newRow("Cancel button") << int(BoxAnswer::ClickCancel) << 2;
    QTest::newRow("Esc key") << int(BoxAnswer::PressEscape) << 2;
    QTest::newRow("closed") << int(BoxAnswer::CloseBox) << 2;
}

void TestDialogs::askOkCancel()
{
    QFETCH(int, action);
    QFETCH(int, expected);

    BoxAnswer answer{BoxAnswer::Action(action)};
    QCOMPARE(Dialogs::AskOkCancel(QStringLiteral("Overwrite the file?")), expected);
    QVERIFY(answer.seen);
    QCOMPARE(answer.caption, QStringLiteral("Message"));
    QCOMPARE(answer.text, QStringLiteral("Overwrite the file?"));
    QCOMPARE(answer.icon, QMessageBox::NoIcon);
    QCOMPARE(answer.buttons, QMessageBox::Ok | QMessageBox::Cancel);
}

void TestDialogs::showNotice()
{
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));

    BoxAnswer answer(BoxAnswer::PressEscape);
    Dialogs::ShowNotice(QStringLiteral("Not found"));
    QVERIFY(answer.seen);
    QCOMPARE(answer.caption, QStringLiteral("Message"));
    QCOMPARE(answer.text, QStringLiteral("Not found"));
    QCOMPARE(answer.icon, QMessageBox::NoIcon);
    QCOMPARE(answer.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Owned by the active window, which is active again afterwards.
    QCOMPARE(answer.owner, m_window);
    QTRY_COMPARE(QApplication::activeWindow(), m_window);
}

void TestDialogs::openForReadFailure_data()
{
    QTest::addColumn<QString>("path");

    QTest::newRow("missing file") << QDir::tempPath() + QStringLiteral("/no such folder/missing.gcode");
    QTest::newRow("empty path") << QString();
}

void TestDialogs::openForReadFailure()
{
    QFETCH(QString, path);

    BoxAnswer answer(BoxAnswer::ClickOk);
    QFile file;
    QCOMPARE(Dialogs::OpenForRead(file, path), false);
    QVERIFY(!file.isOpen());
    QVERIFY(answer.seen);
    QCOMPARE(answer.caption, QStringLiteral("File Open Error"));
    QCOMPARE(answer.text, QStringLiteral("No Open ") + path);
    QCOMPARE(answer.icon, QMessageBox::NoIcon);
    QCOMPARE(answer.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(Dialogs::FileLength(file), qint64(-1));
}

void TestDialogs::openForReadSuccessShowsNothing()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("part.gcode"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(";header\n;x\nG1 Z0.3\n");
    out.close();

    BoxAnswer answer(BoxAnswer::ClickOk);
    QFile file;
    QCOMPARE(Dialogs::OpenForRead(file, path), true);
    QVERIFY(!answer.seen);
    QCOMPARE(Dialogs::FileLength(file), qint64(19));
    QCOMPARE(file.read(3), QByteArray(";he"));
    QCOMPARE(Dialogs::FileLength(file), qint64(19));
    QCOMPARE(file.pos(), qint64(3));
}

void TestDialogs::openForWriteIntoMissingFolder()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = QDir::toNativeSeparators(folder.path() + QStringLiteral("/missing/Borvane.gx"));

    BoxAnswer answer(BoxAnswer::ClickOk);
    QSaveFile file;
    QCOMPARE(Dialogs::OpenForWrite(file, path), false);
    QVERIFY(answer.seen);
    QCOMPARE(answer.caption, QStringLiteral("File Open Error"));
    QCOMPARE(answer.text, QStringLiteral("No Open ") + path);
    QVERIFY(!QFileInfo::exists(path));
}

void TestDialogs::exceptionText_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty stays empty") << ""
                                       << "";
    QTest::newRow("letter gets a point") << "Cannot open"
                                         << "Cannot open.";
    QTest::newRow("digit gets a point") << "Error 5"
                                        << "Error 5.";
    QTest::newRow("slash is above the point") << "C:/"
                                              << "C:/.";
    QTest::newRow("point stays") << "Done."
                                 << "Done.";
    QTest::newRow("hyphen is below the point") << "a-"
                                               << "a-";
    QTest::newRow("exclamation mark is below the point") << "Stop!"
                                                         << "Stop!";
    QTest::newRow("blank is below the point") << "a "
                                              << "a ";
    QTest::newRow("non-ASCII letter gets a point")
        << QStringLiteral("caf\u00e9") << QStringLiteral("caf\u00e9.");
}

void TestDialogs::exceptionText()
{
    QFETCH(QString, message);
    QFETCH(QString, expected);
    QCOMPARE(BorvaneApplication::exceptionText(message), expected);
}

void TestDialogs::escapedExceptionIsShownAndTheProgramGoesOn_data()
{
    QTest::addColumn<bool>("standardException");
    QTest::addColumn<QString>("text");

    QTest::newRow("standard exception") << true << "Cannot read the list.";
    QTest::newRow("anything else shows an empty box") << false << "";
}

void TestDialogs::escapedExceptionIsShownAndTheProgramGoesOn()
{
    QFETCH(bool, standardException);
    QFETCH(QString, text);

    ThrowingObject thrower(standardException);
    BoxAnswer answer(BoxAnswer::ClickOk);
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&thrower, &event);
    QVERIFY(answer.seen);
    QCOMPARE(answer.icon, QMessageBox::Critical);
    // The program file's name up to its first ".", lower case after the first character.
    QCOMPARE(answer.caption, QStringLiteral("tst_dialogs"));
    QCOMPARE(answer.text, text);

    // Events go on being delivered.
    m_edit->setText(QStringLiteral("7"));
    QTest::keyClick(m_edit, Qt::Key_8);
    QCOMPARE(m_edit->text(), QStringLiteral("78"));
}

int main(int argc, char** argv)
{
    // The program's own application object: it shows exceptions that escape a handler.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    BorvaneApplication app(argc, argv);
    TestDialogs test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dialogs.moc"
