// Real slicers' files through the real window: each is dropped, heights halfway between two
// printing heights that the slicer announces and exactly on the upper one are searched, and a pause is
// inserted and written with "Create". The expected rows come from the slicer's layer comments and a plain
// reading of the moves (tests/support/ReferenceLayers.h), never from the program's own index.

#include "GuiTestSupport.h"
#include "RealFileRows.h"
#include "ReferenceLayers.h"
#include "TestPaths.h"

#include "core/file/SlicedFile.h"
#include "core/text/RowSource.h"
#include "gui/EditBuffer.h"
#include "gui/LabeledEdit.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <memory>

namespace {

// Layer pairs searched per file: the first, the last, and some evenly between.
constexpr int kPairsPerFile = 6;

// A height as whole nanometres: the heights in these files have at most six decimals.
qint64 nanometres(double millimetres)
{
    return std::llround(millimetres * 1e6);
}

// Whole nanometres as the shortest decimal text that says them: 3400000 -> "3.4".
QString decimalText(qint64 nanometres)
{
    QString text = QStringLiteral("%1%2.%3")
                       .arg(nanometres < 0 ? "-" : "")
                       .arg(std::abs(nanometres) / 1'000'000)
                       .arg(std::abs(nanometres) % 1'000'000, 6, 10, QLatin1Char('0'));
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

// Whole nanometres (a multiple of a micrometre) as a field shows millimetres: 3400000 -> "3.400".
QString fieldText(qint64 nanometres)
{
    return QStringLiteral("%1%2.%3")
        .arg(nanometres < 0 ? "-" : "")
        .arg(std::abs(nanometres) / 1'000'000)
        .arg(std::abs(nanometres) % 1'000'000 / 1000, 3, 10, QLatin1Char('0'));
}

// The last layer below target (in nanometres) among those changing at or after startRow; the first
// of them when none is below; none when none reaches target.
std::optional<Reference::LayerRow> expectedLayer(const QList<Reference::LayerRow>& layers, int startRow,
                                                 qint64 target)
{
    std::optional<Reference::LayerRow> below;
    for (const Reference::LayerRow& layer : layers) {
        if (layer.row < startRow)
            continue;
        if (nanometres(layer.z) >= target)
            return below ? below : layer;
        below = layer;
    }
    return std::nullopt;
}

} // namespace

class TestRealFiles : public QObject
{
    Q_OBJECT

private slots:
    void heightSearchAndPause_data();
    void heightSearchAndPause();
};

void TestRealFiles::heightSearchAndPause_data()
{
    if (!Reference::addRealFileRows(QStringLiteral(BORVANE_REAL_FIXTURES_DIR), "name"))
        QSKIP("The real slicer files are not beside the repository.");
}

void TestRealFiles::heightSearchAndPause()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(name);
    QVERIFY(QFile::copy(QDir(QStringLiteral(BORVANE_REAL_FIXTURES_DIR)).filePath(name), path));
    const QByteArray input = GuiTest::readFile(path);
    const qsizetype headerLength = SlicedFile::headerLength(input);
    QVERIFY(headerLength > 0);
    const TextRows rows(input.mid(headerLength));
    const QList<Reference::RowEffect> effects = Reference::referenceEffects(rows);
    const QList<Reference::LayerRow> layers = Reference::allLayers(effects);
    QList<Reference::LayerRow> announced = Reference::announcedLayers(rows, effects);
    const bool spiral = name.contains(u"spiral-vase");
    if (announced.isEmpty()) {
        QVERIFY(name.contains(u"slic3r_")); // no layer comments: the moves' own heights
        announced = layers;
    }
    QVERIFY(announced.size() >= 2);

    auto window = std::make_unique<TEditorForBorvane5_Form1>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(GuiTest::dropFile(window.get(), path));

    // No file tried carries the structure comment, so the print starts at the first layer.
    QCOMPARE(window->StartRow, layers.first().row);
    QCOMPARE(window->StartHeight, layers.first().z);
    QCOMPARE(window->leditStartH->text(), QString::number(layers.first().z, 'f', 3));

    // "Max Height" is the top layer by the plain reading of the moves, not the end code's lift.
    const qint64 top = nanometres(layers.last().z);
    const qint64 start = nanometres(layers.first().z);
    QCOMPARE(top % 1000, 0); // these slicers write at most three decimals
    QCOMPARE(window->leditMaxZ->text(),
             fieldText(top - start) + u'+' + fieldText(start) + u'=' + fieldText(top));

    const int pairs = int(announced.size()) - 1;
    int lastRow = -1;
    {
        GuiTest::MessageBoxAnswers notices; // a "not found" notice is closed, and fails the test below
        for (int i = 0; i < std::min(pairs, kPairsPerFile); ++i) {
            const int k = pairs <= kPairsPerFile ? i : int(qint64(i) * (pairs - 1) / (kPairsPerFile - 1));
            const double halfway = (announced[k].z + announced[k + 1].z) / 2;
            const QString typed = QString::number(halfway - window->StartHeight, 'f', 6);
            const qint64 target = nanometres(typed.toDouble()) + nanometres(window->StartHeight);
            const std::optional<Reference::LayerRow> expected =
                expectedLayer(layers, window->StartRow, target);
            QVERIFY(expected);
            if (!spiral) // between two announced layers lies no other: the change row of the lower one
                QCOMPARE(expected->row, announced[k].row);

            QTest::keyClick(window->leditPause, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(window->leditPause, Qt::Key_Backspace);
            QTest::keyClicks(window->leditPause, typed);
            QTest::mouseClick(window->bbtnHeightSearch, Qt::LeftButton);
            const QByteArray step = QStringLiteral("halfway between Z %1 and %2 (typed %3)")
                                        .arg(announced[k].z)
                                        .arg(announced[k + 1].z)
                                        .arg(typed)
                                        .toUtf8();
            QVERIFY2(window->CurrentRow == expected->row,
                     step + " selected row " + QByteArray::number(window->CurrentRow) + ", expected " +
                         QByteArray::number(expected->row));
            QVERIFY2(window->leditCurrentZ->text() == QString::number(expected->z, 'f', 3), step);
            QVERIFY2(notices.seen.isEmpty(), step);
            QVERIFY2(window->btnPause->isEnabled(), step);
            lastRow = expected->row;

            // Typed as exactly the upper layer's height above the start, as the slicer announces it:
            // the layer below it.
            const qint64 exactTarget = nanometres(announced[k + 1].z);
            const QString exact = decimalText(exactTarget - nanometres(window->StartHeight));
            const std::optional<Reference::LayerRow> below =
                expectedLayer(layers, window->StartRow, exactTarget);
            QVERIFY(below);
            if (!spiral)
                QCOMPARE(below->row, announced[k].row);
            QTest::keyClick(window->leditPause, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(window->leditPause, Qt::Key_Backspace);
            QTest::keyClicks(window->leditPause, exact);
            QTest::mouseClick(window->bbtnHeightSearch, Qt::LeftButton);
            const QByteArray exactStep =
                QStringLiteral("exactly Z %1 (typed %2)").arg(announced[k + 1].z).arg(exact).toUtf8();
            QVERIFY2(window->CurrentRow == below->row, exactStep + " selected row " +
                                                           QByteArray::number(window->CurrentRow) +
                                                           ", expected " + QByteArray::number(below->row));
            QVERIFY2(window->leditCurrentZ->text() == QString::number(below->z, 'f', 3), exactStep);
            QVERIFY2(notices.seen.isEmpty(), exactStep);
            lastRow = below->row;
        }
    }

    // A pause before the last row found, written by "Create": the input with one line more.
    QVERIFY(window->rbtnBefore->isChecked());
    QTest::mouseClick(window->btnPause, Qt::LeftButton);
    QCOMPARE(window->Memo1->rowText(lastRow), QStringLiteral("M25"));
    GuiTest::MessageBoxAnswers answers({QMessageBox::Ok});
    QTimer::singleShot(0, window.get(), [&] { QTest::mouseClick(window->btnCreate, Qt::LeftButton); });
    QTimer::singleShot(60000, qApp, [] { qApp->exit(99); });
    QCOMPARE(qApp->exec(), 0);
    QCOMPARE(answers.seen.size(), 1);

    const QByteArray lineBreak = rows.rowEnd(0) < rows.rowStart(1) - 1 ? "\r\n" : "\n";
    QByteArray expectedOutput = input;
    expectedOutput.insert(headerLength + rows.rowStart(lastRow), "M25" + lineBreak);
    const QByteArray output = GuiTest::readFile(dir.filePath(QStringLiteral("Borvane.gx")));
    QCOMPARE(output.size(), expectedOutput.size());
    QVERIFY(output == expectedOutput);
}

QTEST_MAIN(TestRealFiles)
#include "tst_realfiles.moc"
