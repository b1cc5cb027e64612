// The frequency response's figures from samples made by hand: the sine fit
// against sines whose amplitude is known, the simulated board's input stage
// against its design, and the plots' round ticks.
#include "inputstage.h"
#include "measure.h"
#include "report.h"

#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <set>

using namespace quorvid::evaluate;

namespace {

// A sine as the board sends it: a sample per frame at rate, handed over in
// blocks of a port read every 40 ms, each stamped with the time of its read.
struct Made {
    double amplitude = 50, hz = 10, phase = 0;
    double rate = 150;  // the board's real frame rate
    double seconds = 4;
    bool wholeMmHg = true;
    std::set<int> lost;  // frames the framer never completed
};

WindowFrames frames(const Made& m)
{
    WindowFrames w;
    const int n = static_cast<int>(m.seconds * m.rate);
    for (int i = 0; i < n; ++i) {
        if (m.lost.count(i)) continue;
        const double t = i / m.rate;
        double p = 100 + m.amplitude * std::sin(2 * std::numbers::pi * m.hz * t + m.phase);
        if (m.wholeMmHg) p = std::round(p);
        w.ch[0].push_back(p);
        w.ch[1].push_back(p);
        w.times.push_back((static_cast<qint64>(t * 1000) / 40 + 1) * 40);
    }
    return w;
}

double db(double ratio) { return 20 * std::log10(ratio); }

}  // namespace

TEST(FrequencyFit, AmplitudeOfSinesMadeByHand)
{
    struct Row {
        const char* name;
        Made made;
        double withinDb;
    };
    const Row rows[] = {
        {"whole mmHg at 10 Hz", {50, 10}, 0.01},
        {"a phase the fit does not know", {50, 2, 2.2}, 0.01},
        {"a small sine in whole mmHg", {3, 5, 0.7}, 0.1},
        {"a board 1 % fast", {50, 10, 0.4, 151.5}, 0.01},
        // 70 of 150 a second: 15 phases only, whose rounding does not average out.
        {"near half the frame rate", {50, 70, 0.9, 150, 4}, 0.05},
        {"the least: two periods of 1 Hz", {50, 1, 1.0, 150, 2.1}, 0.01},
        // A lost frame moves the samples after it one frame early: at 10 Hz
        // and 150 frames a second a little less than a twelfth of a period.
        {"three frames lost at 2 Hz", {50, 2, 0.3, 150, 4, true, {100, 300, 500}}, 0.03},
        {"three frames lost at 10 Hz", {50, 10, 0.3, 150, 4, true, {100, 300, 500}}, 0.1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const WindowFrames w = frames(r.made);
        const std::optional<SineFit> fit = fitSine(w.ch[0], w.times, r.made.hz);
        ASSERT_TRUE(fit);
        EXPECT_NEAR(db(fit->amplitude / r.made.amplitude), 0, r.withinDb) << fit->amplitude;
        EXPECT_NEAR(fit->offset, 100, 0.1);
        EXPECT_GE(fit->periods, 2);
    }
    // Less than a whole period is no figure.
    const WindowFrames shortOne = frames({50, 1, 0, 150, 0.9});
    EXPECT_FALSE(fitSine(shortOne.ch[0], shortOne.times, 1));
}

TEST(FrequencyFit, InputStageIsThreeDecibelsDownAtItsCorner)
{
    // A second-order Butterworth: 1 / sqrt(1 + (f / corner)^4), drawn by the
    // bilinear transform at the frame rate, which warps f to tan(pi f / rate).
    auto warped = [](double hz, double corner, int rate) {
        const double ratio = std::tan(std::numbers::pi * hz / rate) / std::tan(std::numbers::pi * corner / rate);
        return db(1 / std::sqrt(1 + std::pow(ratio, 4)));
    };
    struct Row {
        const char* name;
        double corner, hz;
        int rate;
        double expectedDb, withinDb;
    };
    const Row rows[] = {
        {"at its corner", 6, 6, 150, -3.01, 0.02},
        {"at twice its corner", 6, 12, 150, warped(12, 6, 150), 0.02},  // -12.57, not the -12.30 of 1 / sqrt(17)
        {"the 6 Hz board at 10 Hz", 6, 10, 150, warped(10, 6, 150), 0.02},
        {"a decade below", 6, 0.6, 150, 0, 0.01},
        {"at its corner at speed 50", 10, 10, 50, -3.01, 0.02},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        quorvid::sim::InputStage stage;
        stage.setCorner(r.corner);
        std::vector<double> out;
        std::vector<qint64> times;
        const int settled = 2 * r.rate, n = 4 * r.rate + settled;
        for (int i = 0; i < n; ++i) {
            const double y = stage.step(100 + 50 * std::sin(2 * std::numbers::pi * r.hz * i / r.rate), r.rate);
            if (i < settled) continue;
            out.push_back(y);
            times.push_back(std::llround(i * 1000.0 / r.rate));
        }
        const std::optional<SineFit> fit = fitSine(out, times, r.hz);
        ASSERT_TRUE(fit);
        EXPECT_NEAR(db(fit->amplitude / 50), r.expectedDb, r.withinDb);
        EXPECT_NEAR(fit->offset, 100, 0.01) << "a stage passes a steady pressure as it is";
    }
    // Off, it leaves every sample as it was.
    quorvid::sim::InputStage off;
    for (double x : {0.0, 123.4, -50.0}) EXPECT_EQ(off.step(x, 100), x);
}

TEST(FrequencyFit, PlotsTickAtRoundNumbers)
{
    // Once ticks such as 0.3984 and 1.195; now 1, 2 or 5 x 10^n, on a
    // logarithmic axis 1, 2 and 5 of each decade.
    auto ticks = [](const QString& svg, const char* anchor) {
        QStringList out;
        const QRegularExpression text(QStringLiteral("<text x=\"[^\"]*\" y=\"[^\"]*\" text-anchor=\"%1\">([^<]*)</text>").arg(QLatin1String(anchor)));
        for (auto m = text.globalMatch(svg); m.hasNext();) out << m.next().captured(1);
        return out;
    };
    const QString history = linePlot(QStringLiteral("days since 2026-12-01 10:00 UTC"), QStringLiteral("error (mmHg)"),
                                     {{QStringLiteral("100 mmHg"), {{0, -0.3984}, {0.61, 1.195}, {1.195, 2.1}}}});
    EXPECT_EQ(ticks(history, "middle").join(u' '), u"0 0.2 0.4 0.6 0.8 1 1.2 days since 2026-12-01 10:00 UTC");
    EXPECT_EQ(ticks(history, "end").join(u' '), u"-1 -0.5 0 0.5 1 1.5 2 2.5");

    CheckOutcome o{QStringLiteral("frequency"), CheckKind::Frequency, Verdict::Fail, {}, {}};
    for (double hz : {1.0, 2.0, 5.0, 10.0}) {
        Result r;
        r.channel = 1, r.frequencyHz = hz, r.error = hz == 10 ? -9.4 : -0.1 * hz, r.limit = 3;
        r.verdict = hz == 10 ? Verdict::Fail : Verdict::Pass;
        o.results.push_back(r);
    }
    const QString response = frequencyPlot(o);
    EXPECT_EQ(ticks(response, "middle").join(u' '), u"1 2 5 10 frequency (Hz)");
    EXPECT_EQ(ticks(response, "end").join(u' '), u"-12 -10 -8 -6 -4 -2 0 2 4");
    EXPECT_EQ(response.count(QStringLiteral("fill=\"#b3261e\"")), 2) << "the failed point and its legend";
}
