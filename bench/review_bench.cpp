// The review's figures on a one-hour recording at speed 150: makes the file
// with the simulated board's model on simulated time (no waiting), then opens
// it in the review window offscreen and prints the time to the first picture,
// the slowest zoom and pan redraw at each zoom, and the resident memory; and,
// when built with Qt Charts, the same recording as one line series, the
// figure that decided between the two.
//
//   quorvid_review_bench [FILE.bytes] [--seconds N]
//
// FILE.bytes is made (replaced) by it; review-bench.bytes when not given.
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include "boardmodel.h"
#include "bytesreader.h"
#include "reviewwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QSignalSpy>
#include <QTextStream>

#ifdef QUORVID_BENCH_CHARTS
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QValueAxis>
#endif

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace quorvid;

namespace {

struct Made {
    qint64 bytes = 0;
    std::int64_t waveformFrames = 0;
};

Made makeRecording(const QString& path, std::int64_t seconds)
{
    sim::BoardModel board;
    board.feedCommandBytes(Bytes(reinterpret_cast<const Byte*>("S2"), 2), sim::SimTime{0});
    board.feedCommandBytes(Bytes(reinterpret_cast<const Byte*>("I"), 1), sim::SimTime{500'000});
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    QByteArray text = "# recording started 2026-12-07T09:00:00.000Z\n# program quorvid_review_bench\n"
                      "# port COM1 (simulated board, speed 150)\n";
    Made made;
    // Each frame a block of its own at the time it is due, as a port with a
    // short latency timer hands them over.
    for (sim::SimTime t = board.nextDue(); t.count() <= seconds * 1'000'000; t = board.nextDue()) {
        for (const sim::DueFrame& frame : board.takeDue(t)) {
            record::appendBytesLine(text, frame.due.count(),
                                    QByteArrayView(reinterpret_cast<const char*>(frame.bytes.data()), qsizetype(frame.bytes.size())));
            if (frame.kind == FrameKind::Waveform) ++made.waveformFrames;
        }
        if (text.size() > (1 << 20)) {
            made.bytes += file.write(text);
            text.clear();
        }
    }
    made.bytes += file.write(text);
    return made;
}

// Resident memory now and at its peak, in MiB; 0 where /proc is not there.
std::pair<double, double> residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    double now = 0, peak = 0;
    if (!status.open(QIODevice::ReadOnly)) return {0, 0};
    for (const QByteArray& line : status.readAll().split('\n')) {
        const auto kib = [&] { return line.simplified().split(' ').value(1).toDouble() / 1024; };
        if (line.startsWith("VmRSS:")) now = kib();
        if (line.startsWith("VmHWM:")) peak = kib();
    }
    return {now, peak};
}

double ms(const QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = QApplication::arguments().mid(1);
    std::int64_t seconds = 3600;
    if (const auto i = args.indexOf(QStringLiteral("--seconds")); i >= 0 && i + 1 < args.size()) {
        seconds = args[i + 1].toLongLong();
        args.remove(i, 2);
    }
    const QString path = args.value(0, QStringLiteral("review-bench.bytes"));
    QTextStream out(stdout);
    {
        QFile load(QStringLiteral("/proc/loadavg"));
        if (load.open(QIODevice::ReadOnly)) out << "load average: " << load.readLine();
    }

    QElapsedTimer timer;
    timer.start();
    const Made made = makeRecording(path, seconds);
    out << QStringLiteral("recording: %1, %2 s at speed 150, %3 bytes (%4 MB), %5 waveform frames, made in %6 ms\n")
               .arg(path).arg(seconds).arg(made.bytes).arg(made.bytes / 1e6, 0, 'f', 1).arg(made.waveformFrames)
               .arg(ms(timer), 0, 'f', 0);
    out.flush();

    // Open to the first picture: read, framed, reduced and painted.
    ReviewWindow window;
    window.resize(1100, 640);
    window.show();
    QSignalSpy loaded(&window, &ReviewWindow::loaded);
    timer.start();
    window.load(path);
    if (!loaded.wait(60'000)) {
        std::fprintf(stderr, "the recording did not load\n");
        return 1;
    }
    const QImage first = window.canvas()->grab().toImage();
    const double openMs = ms(timer);
    out << QStringLiteral("open to first picture: %1 ms (target <= 2000); %2 readings, %3 beats; canvas %4 x %5\n")
               .arg(openMs, 0, 'f', 0).arg(window.recording()->trace.size()).arg(window.recording()->beats.size())
               .arg(first.width()).arg(first.height());
    out.flush();

    // Redraws: at each zoom, ten pan steps and a zoom step in and out, each
    // timed as the canvas's full paint.
    double worst = 0;
    double worstCpu = 0;
    QImage canvasImage(window.canvas()->size(), QImage::Format_RGB32);
    const std::int64_t length = window.canvas()->chart().length();
    for (const double span : {3600.0, 600.0, 60.0, 10.0, 1.0, 0.1}) {
        std::vector<double> times;
        std::vector<double> cpuTimes;
        std::vector<double> repaints;
        const auto spanUs = std::int64_t(span * 1e6);
        std::int64_t from = std::max<std::int64_t>(0, length / 2 - spanUs / 2);
        for (int step = 0; step < 12; ++step) {
            if (step < 10) {
                from += spanUs / 10;
                window.showSpan(from, from + spanUs);
            } else {
                const std::int64_t zoomed = step == 10 ? spanUs * 4 / 5 : spanUs;
                window.showSpan(from, from + zoomed);
            }
            // The canvas's paint, into an image of its size as into the
            // window's backing store; then the whole repaint through the
            // offscreen platform, which adds its own copy of the window.
            timer.start();
            const std::clock_t cpu = std::clock();
            {
                QPainter painter(&canvasImage);
                window.canvas()->chart().paint(painter, canvasImage.rect(), window.scene());
            }
            times.push_back(ms(timer));
            cpuTimes.push_back((std::clock() - cpu) * 1000.0 / CLOCKS_PER_SEC);
            timer.start();
            window.canvas()->repaint();
            repaints.push_back(ms(timer));
        }
        std::sort(times.begin(), times.end());
        std::sort(cpuTimes.begin(), cpuTimes.end());
        std::sort(repaints.begin(), repaints.end());
        worst = std::max(worst, times.back());
        worstCpu = std::max(worstCpu, cpuTimes.back());
        out << QStringLiteral("redraw at %1 s visible: median %2 ms, slowest %3 ms (CPU: median %4 ms, most %5 ms); "
                              "whole offscreen repaint: median %6 ms, slowest %7 ms\n")
                   .arg(span).arg(times[times.size() / 2], 0, 'f', 2).arg(times.back(), 0, 'f', 2)
                   .arg(cpuTimes[cpuTimes.size() / 2], 0, 'f', 2).arg(cpuTimes.back(), 0, 'f', 2)
                   .arg(repaints[repaints.size() / 2], 0, 'f', 2).arg(repaints.back(), 0, 'f', 2);
    }
    const auto [rss, peak] = residentMiB();
    out << QStringLiteral("slowest redraw: %1 ms wall, %2 ms CPU (target <= 16)\n").arg(worst, 0, 'f', 2).arg(worstCpu, 0, 'f', 2);
    out << QStringLiteral("resident: %1 MiB now, %2 MiB at the peak (target <= 80 MB)\n")
               .arg(rss, 0, 'f', 1).arg(peak, 0, 'f', 1);
    out.flush();

#ifdef QUORVID_BENCH_CHARTS
    // The alternative: Qt Charts, one line series per channel of every reading.
    {
        const review::Trace& trace = window.recording()->trace;
        QList<QPointF> points1, points2;
        points1.reserve(qsizetype(trace.size()));
        points2.reserve(qsizetype(trace.size()));
        timer.start();
        for (std::size_t i = 0; i < trace.size(); ++i) {
            points1.append(QPointF(trace.microseconds[i] / 1e6, trace.ch1[i]));
            points2.append(QPointF(trace.microseconds[i] / 1e6, trace.ch2[i]));
        }
        auto* chart = new QChart;
        auto* s1 = new QLineSeries;
        auto* s2 = new QLineSeries;
        s1->replace(points1);
        s2->replace(points2);
        chart->addSeries(s1);
        chart->addSeries(s2);
        auto* x = new QValueAxis;
        auto* y = new QValueAxis;
        y->setRange(0, 300);
        x->setRange(0, length / 1e6);
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(y, Qt::AlignLeft);
        for (auto* s : {s1, s2}) s->attachAxis(x), s->attachAxis(y);
        QChartView view(chart);
        view.resize(window.canvas()->size());
        view.show();
        (void)view.grab();
        const double chartsFirst = ms(timer);
        double chartsWorst = 0;
        for (const double span : {3600.0, 60.0, 1.0}) {
            timer.start();
            x->setRange(length / 2e6, length / 2e6 + span);
            (void)view.grab();
            chartsWorst = std::max(chartsWorst, ms(timer));
        }
        const auto [chartsRss, chartsPeak] = residentMiB();
        out << QStringLiteral("Qt Charts, two QLineSeries of %1 points: first picture %2 ms, slowest zoom redraw %3 ms, "
                              "resident %4 MiB now, %5 MiB at the peak\n")
                   .arg(trace.size()).arg(chartsFirst, 0, 'f', 0).arg(chartsWorst, 0, 'f', 1)
                   .arg(chartsRss, 0, 'f', 1).arg(chartsPeak, 0, 'f', 1);
    }
#else
    out << "Qt Charts: not measured (CMake did not find Qt6::Charts; see RESULTS.md)\n";
#endif
    return 0;
}
