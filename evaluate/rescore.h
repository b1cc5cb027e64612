// Judging a past run again: its recording's .bytes, checked against the
// SHA-256 its report names, read back through the program's own framer; every
// figure computed again over each result's recorded interval by the same
// functions the live evaluation uses (measure.h), and judged against the
// limits of a plan: the run's own, or another that changes limits,
// tolerances, the marginal band and sources. Results without a figure (the
// identification, the statuses after M and O, the zeroing, a skipped
// reference, an early end) are taken over as the run judged them.
#pragma once

#include "measure.h"
#include "report.h"
#include "storedreport.h"

#include <QString>

#include <optional>
#include <vector>

namespace quorvid::evaluate {

// The shown frames of a recording in the order they came, each with the time
// of its block in milliseconds (the evaluation's clock), those within the
// intervals asked for.
class RecordedFrames {
public:
    // Frames whose time lies in [from - 1, to) of one of keep: a dynamic
    // check's first beat begins in the block of the values frame before it.
    explicit RecordedFrames(std::vector<Interval> keep = {});
    // A completed frame at tMs, in the order they came; kept when shown and
    // within the intervals.
    void take(const DecodedFrame& frame, qint64 tMs);
    // The waveform frames within the interval.
    WindowFrames window(Interval interval) const;
    // The beats a dynamic check measured over the interval, at most count.
    std::vector<Beat> beats(Interval interval, int count) const;
    std::size_t size() const { return m_frames.size(); }

private:
    struct Timed {
        qint64 tMs;
        DecodedFrame frame;
    };
    std::vector<Interval> m_keep;  // merged, in order
    std::size_t m_next = 0;        // the first of them not yet past
    std::vector<Timed> m_frames;
};

// Reads a .bytes file whose SHA-256 must be sha256 (hex); *error names the
// file and what is wrong: missing, unreadable, another recording, a line it
// cannot take.
std::optional<RecordedFrames> readRecordedFrames(const QString& path, const QString& sha256,
                                                 std::vector<Interval> keep, QString* error);

// What one kind's rejudge function is handed (checkkinds.h names one per kind).
struct Rejudging {
    const Plan& plan;          // as applied
    const Check& check;        // as applied
    const CheckOutcome& run;   // the run's results of the check, as its report gives them
    const RecordedFrames& frames;
    CheckOutcome& into;        // the results judged again, and the beats for the plot

    void add(Result r);        // with the plan's marginal band
    void keep(const Result& r) { add(r); }  // a result without a figure, as it was judged
};
void rejudgeSpeed(Rejudging& j);
void rejudgeZero(Rejudging& j);
void rejudgeStatic(Rejudging& j);
void rejudgeDynamic(Rejudging& j);
void rejudgeDrift(Rejudging& j);
void rejudgeFrequency(Rejudging& j);
void rejudgeMains(Rejudging& j);

// For each check of plan, the index of the run's check it judges again; or
// nullopt with *why naming what plan asks for that the run did not measure
// (a check, a point, a speed), or a key that decides what is measured
// (settle_s, measure_s, beats, a channel's waveform, the rate) changed.
std::optional<std::vector<std::size_t>> matchPlan(const Plan& run, const Plan& plan, const QString& planSource,
                                                  QString* why);

struct Rescored {
    std::optional<ReportInfo> report;  // to be written under the new name
    QString error;                     // why nothing can be written
};

// Judges the run of the report at reportPath again under plan (the report's
// own when nullopt; planSource names it in messages) for a report to be
// written as name: the recording's paths and rescored_from are written
// relative to name's folder.
Rescored rescoreReport(const QString& reportPath, const std::optional<Plan>& plan, const QString& planSource,
                       const QString& name);

}  // namespace quorvid::evaluate
