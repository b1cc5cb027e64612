#include "reviewcommand.h"

#include "rangeexport.h"
#include "reviewchart.h"
#include "reviewwindow.h"
#include "statistics.h"

#include <QApplication>
#include <QDir>

#include <algorithm>

namespace quorvid {

namespace {

// The picture of the range: the window's chart at a size that prints well.
constexpr QSize kPictureSize(1200, 560);

}  // namespace

int runReviewWithoutWindow(const ReviewRequest& line, std::FILE* out, std::FILE* err)
{
    auto fail = [err](const QString& message) {
        std::fprintf(err, "quorvid: %s\n", qPrintable(message));
        return 1;
    };
    QString error;
    const auto recording = review::readRecording(line.review, &error);
    if (!recording) return fail(error);
    for (const QString& warning : recording->warnings)
        std::fprintf(err, "quorvid: %s: %s\n", qPrintable(QDir::toNativeSeparators(line.review)), qPrintable(warning));

    review::TimeRange range{0, recording->lastMicroseconds};
    if (!line.range.isEmpty()) range = *review::parseRange(line.range);

    if (!line.exportCsv.isEmpty() && !review::exportCsvRange(*recording, range, line.exportCsv, &error))
        return fail(error);
    if (!line.exportPng.isEmpty()) {
        ReviewScene scene;
        scene.from = range.from;
        scene.to = std::max(range.to, range.from + 1);
        scene.cursorA = range.from;
        scene.cursorB = range.to;
        if (!renderReview(*recording, scene, kPictureSize).save(line.exportPng, "PNG"))
            return fail(QStringLiteral("%1: the picture could not be written").arg(QDir::toNativeSeparators(line.exportPng)));
    }
    if (line.stats) {
        const QByteArray json = review::statisticsJson(review::statistics(*recording, range));
        std::fwrite(json.constData(), 1, std::size_t(json.size()), out);
        std::fflush(out);
    }
    return 0;
}

int runReviewWindow(const ReviewRequest& line)
{
    ReviewWindow* window = ReviewWindow::openFile(line.review);
    bool failed = false;
    QObject::connect(window, &ReviewWindow::failed, [&failed](const QString& message) {
        std::fprintf(stderr, "quorvid: %s\n", qPrintable(message));
        failed = true;
    });
    if (const auto range = review::parseRange(line.range)) {
        QObject::connect(window, &ReviewWindow::loaded, window, [window, range] {
            const std::int64_t margin = std::max<std::int64_t>(1000, (range->to - range->from) / 10);
            window->showSpan(range->from - margin, range->to + margin);
            window->setCursors(range->from, range->to);
        });
    }
    const int status = QApplication::exec();
    return failed ? 1 : status;
}

}  // namespace quorvid
