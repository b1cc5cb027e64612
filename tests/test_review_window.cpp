// The review window: the cursors' readout for known positions, moving through
// the recording, and --review opening a recording, in a window and without one.
#include "commandline.h"
#include "fakeserialcontrol.h"
#include "form1.h"
#include "recording.h"
#include "reviewcommand.h"
#include "reviewwindow.h"

#include "bytesreader.h"
#include "frames.h"

#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace quorvid;

namespace {

constexpr std::int64_t kSecond = 1'000'000;

// Readings at 1..5 s: ch1 10..50, ch2 0 -5 5 -5 100.
std::shared_ptr<review::Recording> fiveReadings()
{
    auto r = std::make_shared<review::Recording>();
    const int ch2[] = {0, -5, 5, -5, 100};
    for (int i = 0; i < 5; ++i) {
        r->trace.microseconds.push_back((i + 1) * kSecond);
        r->trace.ch1.push_back(std::int16_t(10 * (i + 1)));
        r->trace.ch2.push_back(std::int16_t(ch2[i]));
    }
    r->trace.spreadBlocks();
    r->lastMicroseconds = 10 * kSecond;
    return r;
}

struct Shown {
    ReviewWindow window;
    Shown()
    {
        window.resize(900, 560);
        window.setRecording(fiveReadings());
        window.show();
    }
    QPoint at(std::int64_t t) const { return {window.canvas()->xOf(t), window.canvas()->plotArea().center().y()}; }
};

TEST(ReviewWindow, CursorsPlacedByClickingReadTheTracesAndTheirDifference)
{
    Shown shown;
    ReviewCanvas* canvas = shown.window.canvas();
    EXPECT_EQ(shown.window.scene().to, 10 * kSecond);  // all of it at first
    QTest::mouseClick(canvas, Qt::LeftButton, {}, shown.at(kSecond * 25 / 10));
    QTest::mouseClick(canvas, Qt::LeftButton, {}, shown.at(kSecond * 45 / 10));
    ASSERT_TRUE(shown.window.scene().cursorA && shown.window.scene().cursorB);
    // One pixel is 10 s / ~840 px: the cursors lie within it of where clicked.
    EXPECT_NEAR(double(*shown.window.scene().cursorA), 2.5 * kSecond, 0.02 * kSecond);
    EXPECT_NEAR(double(*shown.window.scene().cursorB), 4.5 * kSecond, 0.02 * kSecond);
    const QString readout = shown.window.findChild<QLabel*>("readout")->text();
    EXPECT_TRUE(readout.contains("A 2.5")) << readout.toStdString();
    EXPECT_TRUE(readout.contains(": ch1 20, ch2 -5 mmHg")) << readout.toStdString();
    EXPECT_TRUE(readout.contains(": ch1 40, ch2 -5 mmHg")) << readout.toStdString();
    const double dt = double(*shown.window.scene().cursorB - *shown.window.scene().cursorA) / kSecond;
    EXPECT_TRUE(readout.contains(QString::fromUtf8("\u0394t %1 s").arg(dt, 0, 'f', 3))) << readout.toStdString();
    EXPECT_TRUE(readout.contains(QString::fromUtf8("\u0394 ch1 20, ch2 0 mmHg"))) << readout.toStdString();
    const QString statistics = shown.window.findChild<QLabel*>("statistics")->text();
    EXPECT_TRUE(statistics.contains("ch1 mean 35.0, SD 7.1, min 30, max 40 mmHg")) << statistics.toStdString();

    // Dragging cursor A by its line moves it; the readout follows.
    QTest::mousePress(canvas, Qt::LeftButton, {}, shown.at(*shown.window.scene().cursorA));
    QTest::mouseMove(canvas, shown.at(kSecond * 35 / 10));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, shown.at(kSecond * 35 / 10));
    EXPECT_NEAR(double(*shown.window.scene().cursorA), 3.5 * kSecond, 0.02 * kSecond);
    EXPECT_TRUE(shown.window.cursorReadout().contains(QString::fromUtf8("\u0394 ch1 10, ch2 -10 mmHg")))
        << shown.window.cursorReadout().toStdString();
}

TEST(ReviewWindow, WheelKeysAndDragMoveThroughTheRecording)
{
    Shown shown;
    ReviewCanvas* canvas = shown.window.canvas();
    const ReviewScene& scene = shown.window.scene();
    // The wheel zooms around the pointer: the time under it stays there.
    const QPoint pointer = shown.at(2 * kSecond);
    const std::int64_t under = ReviewChart::timeAt(pointer.x(), scene, canvas->plotArea());
    QWheelEvent wheel(pointer, canvas->mapToGlobal(pointer), {}, {0, 240}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas, &wheel);
    EXPECT_LT(scene.to - scene.from, 7 * kSecond);
    EXPECT_NEAR(double(ReviewChart::timeAt(pointer.x(), scene, canvas->plotArea())), double(under), 0.02 * kSecond);

    // Dragging the chart pans it by as much time as the pointer moved over.
    const std::int64_t before = scene.from;
    const std::int64_t perPixel = (scene.to - scene.from) / canvas->plotArea().width();
    QTest::mousePress(canvas, Qt::LeftButton, {}, pointer);
    QTest::mouseMove(canvas, pointer - QPoint(100, 0));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, pointer - QPoint(100, 0));
    EXPECT_NEAR(double(scene.from - before), 100.0 * perPixel, 2.0 * perPixel);
    EXPECT_FALSE(scene.cursorA);  // a drag places no cursor

    const std::int64_t span = scene.to - scene.from;
    QTest::keyClick(canvas, Qt::Key_End);
    EXPECT_EQ(scene.to, 10 * kSecond);
    QTest::keyClick(canvas, Qt::Key_Home);
    EXPECT_EQ(scene.from, 0);
    EXPECT_EQ(scene.to - scene.from, span);
    QTest::keyClick(canvas, Qt::Key_Plus);
    EXPECT_LT(scene.to - scene.from, span);
    QTest::keyClick(canvas, Qt::Key_0);
    EXPECT_EQ(scene.to - scene.from, 10 * kSecond);
}

// A small recording of 20 s: a reading every 10 ms, in 40 ms blocks.
QString writeSmallRecording(const QTemporaryDir& dir)
{
    QByteArray text = "# recording started 2026-12-07T09:56:02.123Z\n# program quorvid test\n# port COM3 (/dev/pts/4)\n";
    for (int k = 1; k <= 500; ++k) {
        QByteArray block;
        const ByteString reading = encodeWaveform({164, 112});  // 64 and 12 mmHg
        for (int i = 0; i < 4; ++i) block.append(reinterpret_cast<const char*>(reading.data()), qsizetype(reading.size()));
        record::appendBytesLine(text, k * 40'000, block);
    }
    const QString path = dir.filePath("small.bytes");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(text);
    return path;
}

TEST(ReviewWindow, ReviewOpensARecordingInAWindowOfItsOwn)
{
    QTemporaryDir dir;
    const QString path = writeSmallRecording(dir);
    ReviewWindow* window = ReviewWindow::openFile(path);
    QSignalSpy loaded(window, &ReviewWindow::loaded);
    ASSERT_TRUE(loaded.wait(10'000));
    EXPECT_EQ(window->windowTitle(), "Quorvid Review - small.bytes");
    ASSERT_NE(window->recording(), nullptr);
    EXPECT_EQ(window->recording()->trace.size(), 1999u);
    EXPECT_EQ(window->recording()->trace.ch1.front(), 64);
    EXPECT_TRUE(window->infoText().contains("port COM3 (/dev/pts/4), program quorvid test")) << window->infoText().toStdString();
    EXPECT_TRUE(window->isVisible());
    window->close();

    // A file that cannot be read: the message names it and its line, and the
    // empty window goes once the message is closed.
    QFile bad(dir.filePath("bad.bytes"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("0.1\tc4 40 70\nhello\n");
    bad.close();
    QPointer<ReviewWindow> refused = ReviewWindow::openFile(bad.fileName());
    QSignalSpy failed(refused.data(), &ReviewWindow::failed);
    ASSERT_TRUE(failed.wait(10'000));
    EXPECT_TRUE(failed[0][0].toString().contains("bad.bytes: line 2: the line starts with neither a time nor '#'"))
        << failed[0][0].toString().toStdString();
    auto* message = refused->findChild<QMessageBox*>("reviewMessage");
    ASSERT_NE(message, nullptr);
    message->accept();
    QTRY_VERIFY_WITH_TIMEOUT(refused.isNull(), 5000);
}

TEST(ReviewWindow, FileOpenRecordingOpensItBesideTheMainWindow)
{
    QTemporaryDir dir;
    const QString path = writeSmallRecording(dir);
    FakeSerialControl comm;
    Form1 form{comm};
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    auto* dialog = form.findChild<QFileDialog*>("openRecordingDialog");
    ASSERT_NE(dialog, nullptr);
    EXPECT_NE(dialog->windowModality(), Qt::ApplicationModal);
    dialog->selectFile(path);
    QMetaObject::invokeMethod(dialog, "accept");
    ReviewWindow* review = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* r = qobject_cast<ReviewWindow*>(w); r && r->windowTitle() == "Quorvid Review - small.bytes") review = r;
    ASSERT_NE(review, nullptr);
    QSignalSpy loaded(review, &ReviewWindow::loaded);
    ASSERT_TRUE(loaded.wait(10'000));
    EXPECT_EQ(review->recording()->trace.size(), 1999u);
    review->close();
}

TEST(ReviewCommandLine, RangeExportsAndStatisticsWithoutAWindow)
{
    QTemporaryDir dir;
    const QString path = writeSmallRecording(dir);
    const CommandLine line = parseCommandLine({"quorvid", "--review", path, "--range", "10:12", "--export-csv",
                                               dir.filePath("out.csv"), "--export-png", dir.filePath("out.png"), "--stats"});
    ASSERT_EQ(line.action, CommandLine::Action::Run) << line.error.toStdString();
    ASSERT_TRUE(line.reviewWithoutWindow());
    std::FILE* out = std::tmpfile();
    ASSERT_EQ(runReviewWithoutWindow(line.reviewRequest(), out, stderr), 0);
    std::rewind(out);
    QFile stats;
    ASSERT_TRUE(stats.open(out, QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(stats.readAll()).object();
    std::fclose(out);
    // No .csv beside it: the rows are written from the frames, 51 blocks of 4.
    QFile csv(dir.filePath("out.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csv.readAll().split('\n');
    EXPECT_EQ(rows.size(), 1 + 204 + 1);
    EXPECT_TRUE(rows[1].startsWith("2026-12-07T09:56:12.123Z,10.000,waveform,64,12,")) << rows[1].toStdString();
    EXPECT_EQ(json["frames"].toObject()["waveform"].toInt(), 204);
    EXPECT_EQ(QImage(dir.filePath("out.png")).size(), QSize(1200, 560));

    for (const QStringList& wrong : {QStringList{"quorvid", "--stats"}, QStringList{"quorvid", "--review", path, "--range", "12:10"},
                                     QStringList{"quorvid", "--review", path, "--range", "ten"}})
        EXPECT_EQ(parseCommandLine(wrong).action, CommandLine::Action::Error) << wrong.join(' ').toStdString();
}

#ifdef QUORVID_PROGRAM_PATH
TEST(ReviewCommandLine, TheProgramExportsWithNoDisplayAtAll)
{
    QTemporaryDir dir;
    const QString path = writeSmallRecording(dir);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    program.setProcessEnvironment(env);
    program.start(QUORVID_PROGRAM_PATH, {"--review", path, "--range", "1:2", "--export-png", dir.filePath("p.png"), "--stats"});
    ASSERT_TRUE(program.waitForFinished(30'000));
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(program.readAllStandardOutput()).object()["frames"].toObject()["waveform"].toInt(), 104);
    EXPECT_FALSE(QImage(dir.filePath("p.png")).isNull());
}
#endif

}  // namespace
