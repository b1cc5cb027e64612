// The figures of each measurement, computed from the decoded frames of its
// interval: the live evaluation calls these as its measurements end, and
// judging a past run again calls them on the frames read back from its
// recording, so both give the same numbers from the same frames.
#pragma once

#include "evaluation.h"
#include "frames.h"
#include "plan.h"

#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace quorvid::evaluate {

// [from, to) in the recording's t_s, milliseconds.
struct Interval {
    qint64 fromMs = 0, toMs = 0;
};

// The waveform frames of a measurement in the order they came: both
// channels in mmHg, and their times.
struct WindowFrames {
    std::vector<double> ch[2];
    std::vector<qint64> times;
    void clear();
    void take(const DecodedFrame& frame, qint64 tMs);  // a shown waveform frame; others are passed over
};

// A beat of a dynamic check: the board's values frame that closed it, and its
// own waveform's maximum over the beat and minimum over the beat's first half.
struct Beat {
    qint64 tMs = 0;
    Values values;
    double max[2] = {0, 0}, min[2] = {0, 0};
};

// Beats from frames in the order they came. The first values frame is a
// boundary: the beat in progress began before, and is left out. From there
// the waveform samples that follow a values frame, in its block too, belong
// to the next beat, which the next values frame closes; a beat without
// samples is left out.
class BeatCollector {
public:
    enum class Took { Nothing, Boundary, Beat };
    Took take(const DecodedFrame& frame, qint64 tMs);
    bool started() const { return m_started; }
    const std::vector<Beat>& beats() const { return m_beats; }
    void clear();

private:
    std::vector<Beat> m_beats;
    std::vector<double> m_samples[2];
    bool m_started = false;
};

// The two rows of a pressure held on both channels: mean, SD and n of the
// waveform, error = mean - reference, against the limit.
std::array<Result, 2> pressureRows(const WindowFrames& frames, const QString& quantity, double reference,
                                   double limit, Interval interval);
// Waveform frames a second at a speed, within tolerancePercent of it.
Result frameRateRow(const WindowFrames& frames, int rate, double tolerancePercent, Interval interval);
// A dynamic check's rows from its beats, against the check's references and
// limits and the plan's rate; the beats as the report plots them go to *plot.
std::vector<Result> dynamicRows(const std::vector<Beat>& beats, const Check& check, int planRate,
                                Interval interval, std::vector<BeatPoint>* plot);
// The drift of each channel: the mean of the last tenth of the time against
// the first, in mmHg an hour.
std::array<Result, 2> driftRows(const WindowFrames& frames, const Check& check, Interval interval);

// A sine of a known frequency fitted by least squares, with its offset, to a
// channel's samples over the whole periods at the start of the interval. The
// samples are a frame each at sampleHz (the speed the check set), counted,
// not timed: the frames come in blocks whose times say when the host read
// them, and a host that stalls for a moment would turn a fit on them.
struct SineFit {
    double amplitude = 0, offset = 0;
    double residualSd = 0;  // of the samples about the fitted sine, mmHg
    int n = 0, periods = 0;  // the samples fitted and the whole periods they span
};
// Nothing when the samples do not span a whole period.
std::optional<SineFit> fitSine(const std::vector<double>& samples, double sampleHz, double frequencyHz);

// "gain at 10 Hz"
QString gainQuantity(double frequencyHz);
// A channel's response to the check's sine at one frequency: the amplitude
// read and its gain in dB; the first row of a channel is the others'
// reference (*lowest is set to its gain, and its error is 0), the error of
// the rest their gain against it, within the check's limit_db either way.
Result frequencyRow(const WindowFrames& frames, int channel, double frequencyHz, const Check& check,
                    std::optional<LowestGain>* lowest, Interval interval);

// "rejection at 50 Hz"
QString rejectionQuantity(double frequencyHz);
// What a channel's mains filter, told for frequencyHz, leaves of the check's
// interference of that frequency: the sine of the frequency response fitted,
// its rejection against the check's rejection_db; passing with no figure
// when nothing of it is left.
Result mainsRow(const WindowFrames& frames, int channel, double frequencyHz, const Check& check, Interval interval);

// Marks a passing result whose |error| is above percent of its limit as
// marginal; nothing without a band, a figure or a limit.
void markMarginal(Result& result, std::optional<double> percent);

// A check's verdict from its results: fail when any failed, else skipped when
// any was skipped, else pass.
Verdict checkVerdict(const std::vector<Result>& results);

// A run's verdict: pass only when it was not ended early, every check of its
// plan has an outcome and every outcome passed.
Verdict runVerdict(const std::vector<CheckOutcome>& outcomes, std::size_t planChecks, const QString& aborted);

}  // namespace quorvid::evaluate
