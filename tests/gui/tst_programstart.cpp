// The program started as a desktop entry or a shell starts it, "EditorForBorvane5 FILE": its own
// start runs with that argument line, and once its event loop runs, the tests look at the window
// it shows. The file must be loaded there exactly as a drop of it loads it in another window.

#include "GuiTestSupport.h"

#include "app/Program.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

const QByteArray kHeader(";sliced\n;header line two\n");
const QByteArray kBody(";FLAVOR:Marlin\r\nG28\r\nG1 Z0.300 F420\r\nG1 X10 Y10 E1\r\nG1 Z0.500 F420\r\n"
                       "G1 X11 Y11 E2\r\nM104 S0\r\n");

QString g_file;            // the file named on the program's argument line
QStringList g_testOptions; // this test program's own options, for Qt Test
int g_failures = -1;       // what Qt Test reported; -1 until the tests ran

} // namespace

class TestProgramStart : public QObject
{
    Q_OBJECT

private slots:
    void fileArgumentIsLoadedAsADropLoadsIt();
};

void TestProgramStart::fileArgumentIsLoadedAsADropLoadsIt()
{
    std::vector<TEditorForBorvane5_Form1*> started;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<TEditorForBorvane5_Form1*>(widget))
            started.push_back(window);
    }
    QCOMPARE(started.size(), std::size_t(1));
    TEditorForBorvane5_Form1& window = *started.front();
    QVERIFY(window.isVisible());
    const GuiTest::LoadedView view = GuiTest::loadedView(window);
    QCOMPARE(view.text, kBody);

    TEditorForBorvane5_Form1 dropped;
    dropped.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dropped));
    QVERIFY(GuiTest::dropFile(&dropped, g_file));
    QCOMPARE(view, GuiTest::loadedView(dropped));
}

namespace {

// Runs when the program makes its application: the tests run once its event loop does, and then
// the program is asked to end.
void runTestsOnceStarted()
{
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
        TestProgramStart tests;
        g_failures = QTest::qExec(&tests, g_testOptions);
        QCoreApplication::exit(0);
    });
}
Q_COREAPP_STARTUP_FUNCTION(runTestsOnceStarted)

} // namespace

int main(int argc, char** argv)
{
    for (int i = 0; i < argc; ++i)
        g_testOptions << QString::fromLocal8Bit(argv[i]);
    const QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    g_file = dir.filePath(QStringLiteral("part.gcode"));
    if (!GuiTest::writeFile(g_file, kHeader + kBody))
        return 1;

    QByteArray program("EditorForBorvane5");
    QByteArray file = g_file.toLocal8Bit();
    char* arguments[] = {program.data(), file.data(), nullptr};
    const int exitCode = Program::run(2, arguments);
    if (g_failures < 0) {
        std::fprintf(stderr, "The program ended (exit code %d) before its event loop ran the tests.\n",
                     exitCode);
        return 1;
    }
    return g_failures > 0 || exitCode != 0 ? 1 : 0;
}

#include "tst_programstart.moc"
