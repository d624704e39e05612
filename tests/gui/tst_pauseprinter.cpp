// The "Printer" choice through the window: the combo box and its remembered choice, the pause
// button's caption, the block a click inserts, its message and one undo step for all of it.

#include "GuiTestSupport.h"
#include "RealFileRows.h"
#include "ReferenceLayers.h"
#include "TestPaths.h"

#include "core/layers/LayerIndex.h"
#include "core/file/SlicedFile.h"
#include "core/text/RowSource.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/PrinterChoice.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

class TestPausePrinter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void defaultPrinterInsertsTheOneM25Line();
    void captionFollowsTheChoice_data();
    void captionFollowsTheChoice();
    void choiceIsRemembered();
    void marlinBlockIsOneUndoStep();
    void pauseOfAnotherFamilyIsWarned();
    void settingsAreUsedAndRemembered();
    void blockIsMarkedOnceAsAPause();
    void unclearParkIsAskedFor_data();
    void unclearParkIsAskedFor();
    void layersFollowTheBlock_data();
    void layersFollowTheBlock();
    void layersFollowBlocksInRealFiles_data();
    void layersFollowBlocksInRealFiles();

private:
    void rebuildWindow();
    void load(const QByteArray& body);
    void pauseAt(int row);
    void compareWithPlainReading();
    QComboBox* printers() const { return m_window->findChild<QComboBox*>(QStringLiteral("cboxPrinter")); }
    void choose(const QString& title);

    std::unique_ptr<QTemporaryDir> m_dir;
    TEditorForBorvane5_Form1* m_window = nullptr;
};

namespace {

const QByteArray kHeader = "; header one\n; header two\n";

// Rows (after the header): 0 G90, 1 M82, 2 M104, 3 travel, 4 skirt, ... layer 2 starts on row 8.
const QByteArray kBody = "G90\n"
                         "M82\n"
                         "M104 S205\n"
                         "G1 X10 Y10 Z0.2 F3000\n"
                         "G1 X60 Y10 E2 F1200\n"
                         "G1 E1.2 F2400\n"
                         "G1 X200 Y150 F6000\n"
                         "G1 X60 Y20 F6000\n"
                         "G1 Z0.4 F600\n"
                         "G1 E2\n"
                         "G1 X10 Y20 E4 F1200\n"
                         "G1 X10 Y30 E5\n";

} // namespace

void TestPausePrinter::initTestCase()
{
    // The choice and the settings are remembered in the configuration folder: the test's own.
    QStandardPaths::setTestModeEnabled(true);
    // The shipped profiles beside the program, where an installed program finds them.
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/TempFile");
    QVERIFY(QDir().mkpath(folder));
    QFile::remove(folder + QStringLiteral("/PrinterProfiles.json"));
    QVERIFY(QFile::copy(QStringLiteral(BORVANE_RESOURCES_DIR "/PrinterProfiles.json"),
                        folder + QStringLiteral("/PrinterProfiles.json")));
}

void TestPausePrinter::init()
{
    QFile::remove(PrinterChoice::settingsPath());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_window = new TEditorForBorvane5_Form1;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    // Where the window asks for a park (no position clear of the print, no bed), the user gives
    // one off to the side; the tests of the layers do not hang on the dialog.
    PrinterChoice::setParkAsker([](QDialog& dialog) {
        dialog.findChild<QCheckBox*>(QStringLiteral("park"))->setChecked(true);
        dialog.findChild<QDoubleSpinBox*>(QStringLiteral("parkX"))->setValue(300);
        dialog.findChild<QDoubleSpinBox*>(QStringLiteral("parkY"))->setValue(300);
        dialog.accept();
    });
}

void TestPausePrinter::cleanup()
{
    PrinterChoice::setParkAsker({});
    delete m_window;
    m_window = nullptr;
    QFile::remove(PrinterChoice::settingsPath());
}

void TestPausePrinter::rebuildWindow()
{
    delete m_window;
    m_window = new TEditorForBorvane5_Form1;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestPausePrinter::load(const QByteArray& body)
{
    const QString path = m_dir->filePath(QStringLiteral("part.gcode"));
    QVERIFY(GuiTest::writeFile(path, kHeader + body));
    QVERIFY(GuiTest::dropFile(m_window, path));
}

// As a user does: open the list with the mouse and pick the entry with the keys.
void TestPausePrinter::choose(const QString& title)
{
    QComboBox* combo = printers();
    QVERIFY(combo);
    const int index = combo->findText(title);
    QVERIFY2(index >= 0, qPrintable(title));
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Home);
    for (int i = 0; i < index; ++i)
        QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(combo->currentText(), title);
}

void TestPausePrinter::defaultPrinterInsertsTheOneM25Line()
{
    QCOMPARE(printers()->currentText(), QStringLiteral("Borvane 5"));
    QCOMPARE(printers()->count(), 7);
    QCOMPARE(m_window->btnPause->text(), QStringLiteral("Pause Insert (M25)"));
    load(kBody);
    m_window->lbleRow->setText(QStringLiteral("8"));
    QTest::mouseClick(m_window->sbtnGoRowNumber, Qt::LeftButton);
    const QString messageBefore = GuiTest::withoutTime(m_window->memoMessage->toPlainText());
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1),
             kBody.left(kBody.indexOf("G1 Z0.4")) + "M25\n" + kBody.mid(kBody.indexOf("G1 Z0.4")));
    QVERIFY(!GuiTest::withoutTime(m_window->memoMessage->toPlainText()).contains(QStringLiteral("Pause for")));
    Q_UNUSED(messageBefore);
}

void TestPausePrinter::captionFollowsTheChoice_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("caption");
    QTest::newRow("Marlin") << "Marlin"
                            << "Pause Insert (M0)";
    QTest::newRow("Marlin, filament change") << "Marlin, filament change"
                                             << "Pause Insert (M600)";
    QTest::newRow("Klipper") << "Klipper"
                             << "Pause Insert (PAUSE)";
    QTest::newRow("RepRapFirmware") << "RepRapFirmware"
                                    << "Pause Insert (M226)";
    QTest::newRow("Prusa") << "Prusa"
                           << "Pause Insert (M601)";
    QTest::newRow("OctoPrint host") << "OctoPrint host"
                                    << "Pause Insert (@pause)";
    QTest::newRow("back to Borvane 5") << "Borvane 5"
                                       << "Pause Insert (M25)";
}

void TestPausePrinter::captionFollowsTheChoice()
{
    QFETCH(QString, title);
    QFETCH(QString, caption);
    choose(QStringLiteral("Prusa"));
    choose(title);
    QCOMPARE(m_window->btnPause->text(), caption);
}

void TestPausePrinter::choiceIsRemembered()
{
    choose(QStringLiteral("Klipper"));
    rebuildWindow();
    QCOMPARE(printers()->currentText(), QStringLiteral("Klipper"));
    QCOMPARE(m_window->btnPause->text(), QStringLiteral("Pause Insert (PAUSE)"));
}

void TestPausePrinter::marlinBlockIsOneUndoStep()
{
    choose(QStringLiteral("Marlin"));
    load(kBody);
    m_window->lbleRow->setText(QStringLiteral("8"));
    QTest::mouseClick(m_window->sbtnGoRowNumber, Qt::LeftButton);
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    // Before row 8 the head is at X60 Y20 Z0.2, E 1.2, pulled back 0.8 mm by the file itself, so
    // the block does not pull back again. The visited X200 Y150 lies farthest from the print.
    // Marlin switches idle motors off after DEFAULT_STEPPER_DEACTIVE_TIME (120 s) unless M84 S0.
    const QByteArray block = "G1 Z10.2 F600\n"
                             "G1 X200 Y150 F6000\n"
                             "M84 S0\n"
                             "M0 Click to resume\n"
                             "G1 X60 Y20 F6000\n"
                             "G1 Z0.2 F600\n"
                             "G1 F6000\n"
                             "M84 S120\n";
    const qsizetype at = kBody.indexOf("G1 Z0.4");
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), kBody.left(at) + block + kBody.mid(at));
    QVERIFY2(GuiTest::withoutTime(m_window->memoMessage->toPlainText()).contains(QStringLiteral(
                 "Pause for Marlin before layer 2 (Z 0.400): park at X200 Y150 Z10.200, M0, back; 8 lines")),
             qPrintable(GuiTest::withoutTime(m_window->memoMessage->toPlainText())));
    QCOMPARE(m_window->CurrentRow, 8);

    // Ctrl+Z takes the whole block back.
    m_window->Memo1->setFocus();
    QTest::keyClick(m_window->Memo1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), kBody);
}

void TestPausePrinter::pauseOfAnotherFamilyIsWarned()
{
    choose(QStringLiteral("Klipper"));
    QByteArray body = kBody;
    body.insert(body.indexOf("G1 X10 Y30"), "M600\n");
    load(body);
    m_window->lbleRow->setText(QStringLiteral("8"));
    QTest::mouseClick(m_window->sbtnGoRowNumber, Qt::LeftButton);
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    const QString message = GuiTest::withoutTime(m_window->memoMessage->toPlainText());
    QVERIFY2(message.contains(QStringLiteral("with another command than PAUSE (M600 on row")),
             qPrintable(message));
}

void TestPausePrinter::settingsAreUsedAndRemembered()
{
    choose(QStringLiteral("OctoPrint host"));
    PauseSettings settings = m_window->printerChoice()->settings();
    QCOMPARE(settings.lift, 10.0);
    settings.lift = 3;
    settings.park = PointXY{5, 195};
    settings.standby = 170;
    m_window->printerChoice()->setSettings(settings);
    rebuildWindow();
    const PauseSettings kept = m_window->printerChoice()->settings();
    QCOMPARE(kept.lift, 3.0);
    QVERIFY(kept.park && kept.park->x == 5 && kept.park->y == 195);
    QCOMPARE(kept.standby, std::optional<int>(170));

    load(kBody);
    m_window->lbleRow->setText(QStringLiteral("8"));
    QTest::mouseClick(m_window->sbtnGoRowNumber, Qt::LeftButton);
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    const QByteArray block = "G1 Z3.2 F600\n"
                             "G1 X5 Y195 F6000\n"
                             "M104 S170\n"
                             "M84 S0\n"
                             "@pause\n"
                             "M109 S205\n"
                             "G1 X60 Y20 F6000\n"
                             "G1 Z0.2 F600\n"
                             "G1 F6000\n"
                             "M84 S120\n";
    const qsizetype at = kBody.indexOf("G1 Z0.4");
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), kBody.left(at) + block + kBody.mid(at));
    // The other printers keep their own settings.
    choose(QStringLiteral("Marlin"));
    QCOMPARE(m_window->printerChoice()->settings().lift, 10.0);
    QVERIFY(!m_window->printerChoice()->settings().standby);
}

void TestPausePrinter::unclearParkIsAskedFor_data()
{
    QTest::addColumn<bool>("given"); // the user sets a park and presses OK, else Cancel
    QTest::newRow("a park given") << true;
    QTest::newRow("cancelled: nothing inserted") << false;
}

// Every position the file visits is a corner of the square it prints, and it describes no bed:
// the printer's settings dialog asks for a park position, and the block parks there.
void TestPausePrinter::unclearParkIsAskedFor()
{
    QFETCH(bool, given);
    const QByteArray body = "G90\nM82\nM104 S205\nG1 X100 Y100 Z0.2 F3000\nG1 X130 Y100 E1.5 F1200\n"
                            "G1 X130 Y130 E3\nG1 X100 Y130 E4.5\nG1 X100 Y100 E6\nG1 Z0.4 F600\n"
                            "G1 X130 Y100 E7.5\n";
    choose(QStringLiteral("Marlin"));
    load(body);
    QString asked;
    PrinterChoice::setParkAsker([&](QDialog& dialog) {
        asked = dialog.findChild<QLabel*>(QStringLiteral("parkReason"))->text();
        if (!given) {
            dialog.reject();
            return;
        }
        dialog.findChild<QCheckBox*>(QStringLiteral("park"))->setChecked(true);
        dialog.findChild<QDoubleSpinBox*>(QStringLiteral("parkX"))->setValue(5);
        dialog.findChild<QDoubleSpinBox*>(QStringLiteral("parkY"))->setValue(200);
        dialog.accept();
    });
    m_window->lbleRow->setText(QStringLiteral("8"));
    QTest::mouseClick(m_window->sbtnGoRowNumber, Qt::LeftButton);
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
    QVERIFY2(asked.contains(QStringLiteral("set a park position")), qPrintable(asked));
    if (!given) {
        QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), body);
        return;
    }
    const QByteArray block = "G1 E5 F2100\nG1 Z10.2 F600\nG1 X5 Y200 F6000\nM84 S0\nM0 Click to resume\n"
                             "G1 X100 Y100 F6000\nG1 Z0.2 F600\nG1 E6 F2100\nG1 F1200\nM84 S120\n";
    const qsizetype at = body.indexOf("G1 Z0.4");
    QCOMPARE(GuiTest::editorBytes(*m_window->Memo1), body.left(at) + block + body.mid(at));
    // Kept for the next pause.
    const PauseSettings kept = m_window->printerChoice()->settings();
    QVERIFY(kept.park && kept.park->x == 5 && kept.park->y == 200);
}

// A block with a standby cools and heats the nozzle only for the pause: the margin shows the one
// pause mark, the ruler a pause and no temperature change, as the standby is the block's own.
void TestPausePrinter::blockIsMarkedOnceAsAPause()
{
    choose(QStringLiteral("Marlin"));
    PauseSettings settings = m_window->printerChoice()->settings();
    settings.standby = 150;
    m_window->printerChoice()->setSettings(settings);
    load(kBody);
    pauseAt(8);
    QVERIFY(GuiTest::editorBytes(*m_window->Memo1)
                .contains("M104 S150\nM84 S0\nM0 Click to resume\nM109 S205\n"));
    m_window->Memo1->PlaceCaretAtRow(8);
    QList<PrintEvents::Kind> marks;
    int inserted = 0;
    for (const EditBuffer::MarginLine& line : m_window->Memo1->marginLines()) {
        inserted += line.inserted;
        if (line.inserted && line.mark != PrintEvents::Kind::None)
            marks.append(line.mark);
    }
    QCOMPARE(inserted, 10);
    QCOMPARE(marks, QList<PrintEvents::Kind>{PrintEvents::Kind::Pause});

    // The ruler as drawn once the marks are found, a moment after the paint that asked for them.
    QWidget* ruler = m_window->findChild<QWidget*>(QStringLiteral("layerRuler"));
    QVERIFY(ruler);
    ruler->grab();
    QTest::qWait(400);
    const QImage picture = ruler->grab().toImage();
    const auto shows = [&](const QColor& colour) {
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                if (picture.pixelColor(x, y) == colour)
                    return true;
            }
        }
        return false;
    };
    QVERIFY(shows(QColor(200, 30, 30)));  // the pause
    QVERIFY(!shows(QColor(230, 120, 0))); // no temperature change
}

void TestPausePrinter::layersFollowTheBlock_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("row");
    // Before the change row of layer 2 and inside layer 2: the block's moves make no layer.
    QTest::newRow("before a layer") << kBody << 8;
    QTest::newRow("inside a layer") << kBody << 10;
    // The lift (10 mm over Z0.2) is the next layer's height: lifted there after the last extrusion
    // below it, the head has set that height first, so the block's lift row starts the layer.
    QTest::newRow("lift onto the next layer")
        << QByteArray("G90\nM82\nG1 X10 Y10 Z0.2 F3000\nG1 X60 Y10 E2 F1200\nG1 X60 Y60 E4\n"
                      "G1 Z10.2 F600\nG1 X10 Y60 E6 F1200\nG1 X10 Y10 E8\n")
        << 5;
    // A G92 Z renames the height without a move: the layers are read from the moves' own Z, which
    // the block's way back down (to the renamed height) would change.
    QTest::newRow("height renamed by G92")
        << QByteArray("G90\nM82\nG1 X10 Y10 Z0.2 F3000\nG1 X60 Y10 E2 F1200\nG92 Z5\n"
                      "G1 X60 Y60 E4\nG1 Z0.4 F600\nG1 X10 Y60 E6 F1200\n")
        << 5;
    // E is relative under G91 alone: the block, written with absolute moves, sets M83 to keep E
    // relative, which outlasts the file's own G90 below. Read absolute, E1 after E8 pulls back;
    // read relative, it prints a layer at Z0.6.
    QTest::newRow("relative moves")
        << QByteArray("G90\nM82\nG1 X10 Y10 Z0.2 F3000\nG91\nG1 X50 E2 F1200\nG1 Y50 E2\nG1 Z0.2 F600\n"
                      "G1 X-50 E2 F1200\nG1 Y-50 E2\nG90\nG1 Z0.6 F600\nG1 X20 Y20 E1 F1200\n")
        << 8;
}

void TestPausePrinter::pauseAt(int row)
{
    m_window->lbleRow->setText(QString::number(row));
    QTest::mouseClick(m_window->sbtnGoRowNumber, Qt::LeftButton);
    QTest::mouseClick(m_window->btnPause, Qt::LeftButton);
}

// The layers the window knows are the layers a plain reading of its text finds.
void TestPausePrinter::compareWithPlainReading()
{
    const TextRows rows(GuiTest::editorBytes(*m_window->Memo1));
    const QList<Reference::LayerRow> expected = Reference::allLayers(Reference::referenceEffects(rows));
    const auto& found = m_window->layerIndex().layers();
    QCOMPARE(qsizetype(found.size()), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(found[std::size_t(i)].row, expected[i].row);
        QVERIFY(Reference::sameZ(found[std::size_t(i)].z(), expected[i].z));
    }
}

void TestPausePrinter::layersFollowTheBlock()
{
    QFETCH(QByteArray, body);
    QFETCH(int, row);
    choose(QStringLiteral("Marlin"));
    load(body);
    QVERIFY(!m_window->layerIndex().isEmpty());
    pauseAt(row);
    QVERIFY(GuiTest::editorBytes(*m_window->Memo1).size() > body.size());
    compareWithPlainReading();
}

void TestPausePrinter::layersFollowBlocksInRealFiles_data()
{
    if (!Reference::addRealFileRows(QStringLiteral(BORVANE_REAL_FIXTURES_DIR), "name"))
        QSKIP("The real slicer files are not beside the repository.");
}

// Blocks before the change row of a layer halfway up and inside a layer a quarter up, in files
// of real slicers.
void TestPausePrinter::layersFollowBlocksInRealFiles()
{
    QFETCH(QString, name);
    const QString path = m_dir->filePath(name);
    QVERIFY(QFile::copy(QDir(QStringLiteral(BORVANE_REAL_FIXTURES_DIR)).filePath(name), path));
    const QByteArray input = GuiTest::readFile(path);
    const TextRows rows(input.mid(SlicedFile::headerLength(input)));
    const QList<Reference::LayerRow> layers = Reference::allLayers(Reference::referenceEffects(rows));
    QVERIFY(layers.size() >= 2);
    choose(QStringLiteral("Marlin"));
    QVERIFY(GuiTest::dropFile(m_window, path));
    pauseAt(layers[layers.size() / 2].row);
    QVERIFY(GuiTest::withoutTime(m_window->memoMessage->toPlainText()).contains(QStringLiteral("park at")));
    compareWithPlainReading();
    pauseAt(layers[layers.size() / 4].row + 3);
    compareWithPlainReading();
}

QTEST_MAIN(TestPausePrinter)
#include "tst_pauseprinter.moc"
