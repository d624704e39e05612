// Every view of the window describes the text as it is after pauses inserted, undone and redone:
// the Z field and the message area name the selected row's layer, the ruler steps from that layer,
// the layer view puts the nozzle where the moves before the row left it, and "Create" writes what
// a window that only made the pauses still standing writes. The print is a box with a closed
// cavity that PrusaSlicer sliced (tests/fixtures/sliced/README.md); the layers are its own
// ";LAYER_CHANGE" and ";Z:" comments, the nozzle's place a plain scan of the X and Y words.

#include "GuiTestSupport.h"
#include "TestPaths.h"

#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/LayerRuler.h"
#include "gui/LayerView.h"
#include "gui/PrinterChoice.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <memory>

namespace {

QByteArray fixture()
{
    QFile file(QStringLiteral(BORVANE_SLICED_FIXTURES_DIR "/prusaslicer_cavity-box.gcode"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A layer as the slicer named it: the row of the "G1 Z" to its ";Z:" after ";LAYER_CHANGE", and that Z.
struct SlicerLayer
{
    int row = -1;
    QString z;
};

std::vector<SlicerLayer> slicerLayers(const QByteArray& text)
{
    std::vector<SlicerLayer> layers;
    const QList<QByteArray> rows = text.split('\n');
    bool changing = false;
    for (int row = 0; row < rows.size(); ++row) {
        const QByteArray& line = rows[row];
        if (line.startsWith(";LAYER_CHANGE")) {
            changing = true;
            layers.push_back({});
        } else if (changing && line.startsWith(";Z:")) {
            layers.back().z = QString::number(line.mid(3).toDouble(), 'f', 3);
        } else if (changing && line.startsWith("G1 Z") &&
                   QString::number(line.mid(4, line.indexOf(' ', 4) - 4).toDouble(), 'f', 3) ==
                       layers.back().z) {
            // The move to the layer's own height: a pause block in front of it lifts and comes
            // back down to the height before.
            layers.back().row = row;
            changing = false;
        }
    }
    return layers;
}

// The slicer's layer that holds row: the last one changing at or before it (from 0).
std::size_t layerOfRow(const std::vector<SlicerLayer>& layers, int row)
{
    std::size_t at = 0;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        if (layers[i].row <= row)
            at = i;
    }
    return at;
}

// Where the last G0/G1 before row left the head in X and Y (the file moves in absolute XY).
QPointF nozzleBefore(const QByteArray& text, int row)
{
    QPointF at;
    const QList<QByteArray> rows = text.split('\n');
    for (int r = 0; r < row; ++r) {
        QByteArray line = rows[r];
        if (const qsizetype comment = line.indexOf(';'); comment >= 0)
            line.truncate(comment);
        if (!line.startsWith("G1 ") && !line.startsWith("G0 "))
            continue;
        for (const QByteArray& word : line.split(' ')) {
            if (word.startsWith('X'))
                at.setX(word.mid(1).toDouble());
            else if (word.startsWith('Y'))
                at.setY(word.mid(1).toDouble());
        }
    }
    return at;
}

} // namespace

class TestPrintFollows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void viewsFollowUndoAndRedo();

private:
    std::unique_ptr<TEditorForBorvane5_Form1> openWindow();
    void goToRow(TEditorForBorvane5_Form1& window, int row);
    void pause(TEditorForBorvane5_Form1& window) { QTest::mouseClick(window.btnPause, Qt::LeftButton); }
    void key(TEditorForBorvane5_Form1& window, const QString& keys);
    // The Z field, the message area, the ruler and the layer view against the selected row.
    void checkViews(TEditorForBorvane5_Form1& window, const char* step);
    QByteArray create(TEditorForBorvane5_Form1& window, const QString& name);

    QTemporaryDir m_dir;
    QString inputPath() const { return m_dir.filePath(QStringLiteral("box.gcode")); }
};

void TestPrintFollows::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // The shipped profiles beside the program, where an installed program finds them.
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/TempFile");
    QVERIFY(QDir().mkpath(folder));
    QFile::remove(folder + QStringLiteral("/PrinterProfiles.json"));
    QVERIFY(QFile::copy(QStringLiteral(BORVANE_RESOURCES_DIR "/PrinterProfiles.json"),
                        folder + QStringLiteral("/PrinterProfiles.json")));
    QVERIFY(m_dir.isValid());
    QVERIFY(GuiTest::writeFile(inputPath(), fixture()));
}

void TestPrintFollows::init()
{
    QFile::remove(PrinterChoice::settingsPath());
    // Where no visited position is clear of the print, the user gives a park off to the side.
    PrinterChoice::setParkAsker([](QDialog& dialog) {
        dialog.findChild<QCheckBox*>(QStringLiteral("park"))->setChecked(true);
        dialog.findChild<QDoubleSpinBox*>(QStringLiteral("parkX"))->setValue(190);
        dialog.findChild<QDoubleSpinBox*>(QStringLiteral("parkY"))->setValue(190);
        dialog.accept();
    });
}

void TestPrintFollows::cleanup()
{
    PrinterChoice::setParkAsker({});
    QFile::remove(PrinterChoice::settingsPath());
}

std::unique_ptr<TEditorForBorvane5_Form1> TestPrintFollows::openWindow()
{
    auto window = std::make_unique<TEditorForBorvane5_Form1>();
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get()) || !GuiTest::dropFile(window.get(), inputPath()))
        return nullptr;
    // A printer that parks: its block is made from the machine's state at the row.
    auto* printers = window->findChild<QComboBox*>(QStringLiteral("cboxPrinter"));
    const int marlin = printers->findText(QStringLiteral("Marlin"));
    if (marlin < 0)
        return nullptr;
    printers->setFocus();
    QTest::keyClick(printers, Qt::Key_Home);
    for (int i = 0; i < marlin; ++i)
        QTest::keyClick(printers, Qt::Key_Down);
    return window;
}

void TestPrintFollows::goToRow(TEditorForBorvane5_Form1& window, int row)
{
    window.lbleRow->setFocus();
    QTest::keyClick(window.lbleRow, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(window.lbleRow, QString::number(row));
    QTest::keyClick(window.lbleRow, Qt::Key_Return);
}

void TestPrintFollows::key(TEditorForBorvane5_Form1& window, const QString& keys)
{
    QTest::keySequence(window.Memo1, QKeySequence(keys));
    QCoreApplication::processEvents();
}

void TestPrintFollows::checkViews(TEditorForBorvane5_Form1& window, const char* step)
{
    // The refreshed views once the text has been still (the layers are found again after a pause
    // in the edits).
    QTest::qWait(400);
    const QByteArray text = GuiTest::editorBytes(*window.Memo1);
    const std::vector<SlicerLayer> layers = slicerLayers(text);
    const int row = window.CurrentRow;
    QVERIFY2(window.Memo1->CaretRow() == row, step);
    QVERIFY2(window.lbleRow->text() == QString::number(row), step);
    const std::size_t layer = layerOfRow(layers, row);
    QVERIFY2(window.leditCurrentZ->text() == layers[layer].z,
             qPrintable(QStringLiteral("%1: Z %2, the slicer's %3")
                            .arg(step, window.leditCurrentZ->text(), layers[layer].z)));
    // The message tells of the row's layer, or of the lines that went in at it.
    const QString message = GuiTest::withoutTime(window.memoMessage->toPlainText());
    const QString said =
        layers[layer].row == row
            ? QStringLiteral("Layer %1 of %2 at Z %3, row %4")
                  .arg(layer + 1)
                  .arg(layers.size())
                  .arg(layers[layer].z)
                  .arg(row)
            : QStringLiteral("before layer %1 (Z %2)").arg(layer + 2).arg(layers[layer + 1].z);
    QVERIFY2(message.contains(said),
             qPrintable(QStringLiteral("%1: \"%2\" lacks \"%3\"").arg(step, message, said)));

    // The layer view draws the nozzle where the moves before the row left it.
    auto* view = window.findChild<LayerView*>(QStringLiteral("LayerView"));
    QVERIFY(view && view->isVisible());
    QImage image(view->size(), QImage::Format_RGB32);
    QPainter painter(&image);
    view->render(painter, image.rect());
    QVERIFY2(view->nozzle(), step);
    const QPointF expected = view->toWidget(nozzleBefore(text, row));
    QVERIFY2((*view->nozzle() - expected).manhattanLength() < 1.0,
             qPrintable(QStringLiteral("%1: nozzle at %2,%3, the moves end at %4,%5")
                            .arg(step)
                            .arg(view->nozzle()->x())
                            .arg(view->nozzle()->y())
                            .arg(expected.x())
                            .arg(expected.y())));

    // The ruler steps one layer up from the selected row's layer, and back.
    auto* ruler = window.findChild<LayerRuler*>();
    const auto wheel = [&](int notches) {
        const QPoint at = ruler->rect().center();
        QWheelEvent event(at, ruler->mapToGlobal(at), {}, QPoint(0, 120 * notches), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(ruler, &event);
    };
    wheel(1);
    QVERIFY2(window.CurrentRow == layers[layer + 1].row,
             qPrintable(QStringLiteral("%1: the ruler stepped to row %2, not to layer %3's row %4")
                            .arg(step)
                            .arg(window.CurrentRow)
                            .arg(layer + 2)
                            .arg(layers[layer + 1].row)));
    wheel(-1);
    QVERIFY2(window.CurrentRow == layers[layer].row, step);
    goToRow(window, row);
    QCOMPARE(window.CurrentRow, row);
}

QByteArray TestPrintFollows::create(TEditorForBorvane5_Form1& window, const QString& name)
{
    window.leditFileName->setText(name);
    QTest::mouseClick(window.btnCreate, Qt::LeftButton);
    return GuiTest::readFile(m_dir.filePath(name));
}

// Pause, pause elsewhere, undo, undo, redo, choose a row, pause, "Create": the file is the one a
// window writes that made the two pauses still standing and nothing else, and every view agrees
// with the selected row after each step.
void TestPrintFollows::viewsFollowUndoAndRedo()
{
    GuiTest::MessageBoxAnswers boxes;
    const std::vector<SlicerLayer> input = slicerLayers(fixture());
    QVERIFY(input.size() > 40);
    std::unique_ptr<TEditorForBorvane5_Form1> window = openWindow();
    QVERIFY(window);
    QVERIFY(window->rbtnBefore->isChecked());
    QTest::keyClick(window.get(), Qt::Key_F3); // the layer view beside the ruler
    const int bodyStart = int(fixture().indexOf(GuiTest::editorBytes(*window->Memo1).left(200)));
    QVERIFY(bodyStart >= 0);
    const int headerRows = int(fixture().left(bodyStart).count('\n'));
    const auto bodyRow = [&](std::size_t layer) { return input[layer].row - headerRows; };

    goToRow(*window, bodyRow(19));
    pause(*window);
    checkViews(*window, "first pause");
    if (QTest::currentTestFailed())
        return;
    const int firstBlock =
        int(GuiTest::editorBytes(*window->Memo1).count('\n') - fixture().mid(bodyStart).count('\n'));
    QVERIFY(firstBlock > 5); // a park-and-resume block
    goToRow(*window, bodyRow(29) + firstBlock);
    pause(*window);
    checkViews(*window, "second pause");
    if (QTest::currentTestFailed())
        return;
    key(*window, QStringLiteral("Ctrl+Z"));
    checkViews(*window, "first undo");
    if (QTest::currentTestFailed())
        return;
    key(*window, QStringLiteral("Ctrl+Z"));
    checkViews(*window, "second undo");
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(GuiTest::editorBytes(*window->Memo1), fixture().mid(bodyStart));
    key(*window, QStringLiteral("Ctrl+Y"));
    checkViews(*window, "redo");
    if (QTest::currentTestFailed())
        return;
    goToRow(*window, bodyRow(39) + firstBlock);
    checkViews(*window, "chosen");
    if (QTest::currentTestFailed())
        return;
    pause(*window);
    checkViews(*window, "last pause");
    if (QTest::currentTestFailed())
        return;
    const QByteArray written = create(*window, QStringLiteral("followed.gcode"));
    window.reset();

    // The reference: the two pauses still standing, made one after the other in a fresh window.
    std::unique_ptr<TEditorForBorvane5_Form1> fresh = openWindow();
    QVERIFY(fresh);
    goToRow(*fresh, bodyRow(19));
    pause(*fresh);
    goToRow(*fresh, bodyRow(39) + firstBlock);
    pause(*fresh);
    const QByteArray reference = create(*fresh, QStringLiteral("fresh.gcode"));
    QVERIFY(reference.size() > fixture().size());
    QCOMPARE(written, reference);
}

QTEST_MAIN(TestPrintFollows)
#include "tst_printfollows.moc"
