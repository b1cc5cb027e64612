// Renders the review window to a PNG for the README: a recording opened, the
// view on a span, both cursors placed by clicks as a user places them, and
// their readout and statistics below the chart.
//
//   review_shot RECORDING OUT.png FROM TO A B     (all times in seconds)
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include "reviewwindow.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTextStream>

#include <cmath>

using namespace quorvid;

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvid"));
    if (argc < 7) {
        QTextStream(stderr) << "usage: review_shot RECORDING OUT.png FROM TO A B\n";
        return 2;
    }
    auto microseconds = [&](int i) { return std::llround(QString::fromLocal8Bit(argv[i]).toDouble() * 1e6); };
    ReviewWindow window;
    window.resize(1100, 640);
    window.show();
    QSignalSpy loaded(&window, &ReviewWindow::loaded);
    QSignalSpy failed(&window, &ReviewWindow::failed);
    window.load(QString::fromLocal8Bit(argv[1]));
    if (!loaded.wait(30'000)) {
        QTextStream(stderr) << (failed.isEmpty() ? QStringLiteral("not loaded") : failed[0][0].toString()) << "\n";
        return 1;
    }
    window.showSpan(microseconds(3), microseconds(4));
    ReviewCanvas* canvas = window.canvas();
    const int y = canvas->plotArea().center().y();
    QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(canvas->xOf(microseconds(5)), y));
    QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(canvas->xOf(microseconds(6)), y));
    QApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(argv[2]))) {
        QTextStream(stderr) << "cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
