// Takes the README's picture: the window after a drop of a small print, a temperature and a
// pause inserted at heights chosen by height searches. Run under a display, e.g.
//   xvfb-run -a ./build/bench/borvane_screenshot docs/screenshot.png
// With a sliced file and a height it takes a picture of that file instead, the layer view open on
// the layer a height search finds there, once the hollow search has ended:
//   xvfb-run -a ./build/bench/borvane_screenshot view.png part.gcode 12.5
// Or, to see the window on a whole screen at a scale,
//   QT_SCALE_FACTOR=1.25 xvfb-run -a -s "-screen 0 1366x768x24" ./build/bench/borvane_screenshot s.png screen
// ("screen-view" in place of "screen" opens the layer view first). With a sliced file after it,
// that file is dropped in place of the small print and nothing is inserted:
//   QT_SCALE_FACTOR=1.25 xvfb-run -a -s "-screen 0 1366x768x24" ./build/bench/borvane_screenshot s.png screen-view part.gcode

#include "GuiTestSupport.h"

#include "gui/BorvaneApplication.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

// A small vase-like print: 0.2 mm layers, the slicer's own temperature change at 12 mm and a
// filament change at 18 mm.
QByteArray demoPrint()
{
    QByteArray out = ";sliced for the picture\n;Printer: Borvane 5\n";
    out += "M140 S60\nM104 S210\nM190 S60\nM109 S210\nG28\nG92 E0\n";
    double e = 0.0;
    for (int layer = 0; layer < 150; ++layer) {
        const double z = 0.3 + 0.2 * layer;
        out += "G1 Z" + QByteArray::number(z, 'f', 3) + " F420\n";
        if (layer == 0)
            out += ";structure:shell-inner\n";
        if (std::abs(z - 12.1) < 1e-6)
            out += "M104 S205 ; cooler above the base\n";
        if (std::abs(z - 18.1) < 1e-6)
            out += "M600 ; change filament\n";
        for (int i = 0; i < 12; ++i) {
            const double angle = i * 3.14159265 / 6;
            out += "G1 X" + QByteArray::number(100 + 20 * std::cos(angle), 'f', 3) + " Y" +
                   QByteArray::number(100 + 20 * std::sin(angle), 'f', 3) + " E" +
                   QByteArray::number(e += 0.35, 'f', 5) + "\n";
        }
    }
    return out + "G1 Z40 F600\nM104 S0\nM140 S0\nM84\n";
}

void type(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    BorvaneApplication app(argc, argv); // with the window's Tahoma
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshot.png");
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("vase.gcode"));
    if (!dir.isValid() || !GuiTest::writeFile(input, demoPrint()))
        return 1;

    TEditorForBorvane5_Form1 window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    const bool screen = argc > 2 && QByteArray(argv[2]).startsWith("screen");
    if (screen && argc > 3) {
        if (!GuiTest::dropFile(&window, QString::fromLocal8Bit(argv[3])))
            return 1;
        QTest::qWait(1000);
        if (QByteArray(argv[2]) == "screen-view")
            QTest::keyClick(&window, Qt::Key_F3);
        QTest::qWait(300);
        return window.screen()->grabWindow(0).save(output) ? 0 : 1;
    }
    if (argc > 3) {
        window.resize(1400, 800);
        if (!GuiTest::dropFile(&window, QString::fromLocal8Bit(argv[2])))
            return 1;
        QTest::qWait(3000); // the hollow search, in the background
        type(window.leditPause, QString::fromLocal8Bit(argv[3]));
        window.bbtnHeightSearch->click();
        QTest::keyClick(&window, Qt::Key_F3);
        QTest::qWait(300);
        return window.grab().save(output) ? 0 : 1;
    }
    if (!GuiTest::dropFile(&window, input))
        return 1;
    QTest::qWait(100);

    // A warmer nozzle from 5 mm up, which the slicer's own M104 at 12 mm takes back.
    type(window.leditPause, QStringLiteral("5"));
    window.bbtnHeightSearch->click();
    type(window.leditT0Temperature, QStringLiteral("220"));
    window.TemperarureInsert->click();
    // A pause at 10 mm.
    type(window.leditPause, QStringLiteral("10"));
    window.bbtnHeightSearch->click();
    window.btnPause->click();
    // The pause in the middle of the editor rather than on its last line.
    window.Memo1->SendScintilla(QsciScintillaBase::SCI_SETFIRSTVISIBLELINE, long(window.CurrentRow - 14));
    QTest::qWait(200);
    // "screen" as a second argument takes the whole screen, to see where the window lies on it;
    // "screen-view" the same with the layer view open (F3).
    if (argc > 2 && QByteArray(argv[2]) == "screen-view") {
        QTest::keyClick(&window, Qt::Key_F3);
        QTest::qWait(300);
    }
    if (argc > 2 && QByteArray(argv[2]).startsWith("screen"))
        return window.screen()->grabWindow(0).save(output) ? 0 : 1;
    return window.grab().save(output) ? 0 : 1;
}
