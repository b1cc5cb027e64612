// Draws a recording under review with QPainter: both channels' readings over
// time from the per-column reduction (a minimum and maximum per pixel column,
// never every sample), the beats' systolic, mean and diastolic as marks on
// their traces, status changes and identifications as labelled marks on the
// time axis, cursors A and B, and an overview strip of the whole recording
// marking the visible range. Qt Gui only: the window paints through it and the
// headless --export-png renders a QImage with it, with no display.
#pragma once

#include "reduction.h"
#include "recording.h"

#include <QImage>
#include <QRect>

#include <cstdint>
#include <optional>

class QPainter;

namespace quorvid {

struct ReviewScene {
    std::int64_t from = 0;  // the visible span, microseconds
    std::int64_t to = 1;
    bool fitScale = false;  // to the visible readings, else the chart's 0..300 mmHg
    std::optional<std::int64_t> cursorA;
    std::optional<std::int64_t> cursorB;
};

class ReviewChart {
public:
    static constexpr int kOverviewHeight = 48;
    static constexpr int kAxisHeight = 34;   // seconds, then the time of day
    static constexpr int kMarksHeight = 16;  // status and identification labels
    static constexpr int kLeftMargin = 44;   // the mmHg scale

    void setRecording(const review::Recording* recording);

    // The areas of a chart drawn into whole.
    static QRect plotArea(QRect whole);
    static QRect overviewArea(QRect whole);

    // Positions in the plot area and the overview, both ways.
    static double xOf(std::int64_t t, const ReviewScene& scene, QRect plot);
    static std::int64_t timeAt(double x, const ReviewScene& scene, QRect plot);
    std::int64_t overviewTimeAt(double x, QRect overview) const;

    void paint(QPainter& painter, QRect whole, const ReviewScene& scene);

    // The whole recording: from 0 to its last block's time (at least 1 s).
    std::int64_t length() const;

private:
    void paintTraces(QPainter& p, QRect plot, const ReviewScene& scene, double low, double high);
    void paintMarks(QPainter& p, QRect plot, QRect whole, const ReviewScene& scene, double low, double high);
    void paintAxis(QPainter& p, QRect plot, const ReviewScene& scene);
    void paintOverview(QPainter& p, QRect overview, const ReviewScene& scene);

    const review::Recording* m_recording = nullptr;
    review::ReducedView m_view;
    review::ReducedView m_overview;
    QImage m_overviewImage;  // the whole recording's traces, kept while the size stays
};

// The chart of a scene as a picture of the given size (PNG export, headless
// or from the window).
QImage renderReview(const review::Recording& recording, const ReviewScene& scene, QSize size);

}  // namespace quorvid
