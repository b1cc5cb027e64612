// The frequency response's figures from samples made by hand: the sine fit
// against sines of known amplitude and the board's input stage against its
// design; and the plots' round ticks.
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

double db(double ratio) { return 20 * std::log10(ratio); }

// A second-order Butterworth drawn by the bilinear transform at the frame
// rate: 1 / sqrt(1 + (f / corner)^4), f warped to tan(pi f / rate).
double designDb(double hz, double corner, double rate)
{
    return db(1 / std::sqrt(1 + std::pow(std::tan(std::numbers::pi * hz / rate) / std::tan(std::numbers::pi * corner / rate), 4)));
}

// A sine of 50 mmHg about 100 as the board sends it, a frame at a time in
// whole mmHg; or what its input stage makes of it when it has a corner, the
// stage alone, the first two seconds left to settle it.
struct Made {
    double hz = 10, phase = 0, rate = 150, seconds = 4, corner = 0;
    std::set<int> lost = {};  // frames the framer never completed
    double clock = 1;  // the board's clock against the rate it was set to
};

std::vector<double> samples(const Made& m)
{
    std::vector<double> out;
    quorvid::sim::InputStage stage;
    stage.setCorner(m.corner);
    for (int i = 0; i < static_cast<int>((m.seconds + 2) * m.rate); ++i) {
        const double t = i / (m.rate * m.clock) - 2;
        const double p = stage.step(100 + 50 * std::sin(2 * std::numbers::pi * m.hz * t + m.phase), int(m.rate));
        if (t >= 0 && !m.lost.count(i)) out.push_back(m.corner > 0 ? p : std::round(p));
    }
    return out;
}

}  // namespace

TEST(FrequencyFit, GainOfSinesMadeByHandAndOfTheInputStage)
{
    struct Row {
        const char* name;
        Made made;
        double expectedDb, withinDb;
    };
    const Row rows[] = {
        {"whole mmHg at 10 Hz", {10}, 0, 0.01},
        {"a phase the fit does not know", {2, 2.2}, 0, 0.01},
        {"a board's clock 1 % fast", {10, 0.4, 150, 4, 0, {}, 1.01}, 0, 0.01},
        // 70 of 150 a second: 15 phases only, whose rounding does not average out.
        {"near half the frame rate", {70, 0.9}, 0, 0.05},
        // A lost frame moves the samples after it one frame early.
        {"three frames lost at 10 Hz", {10, 0.3, 150, 4, 0, {400, 600, 800}}, 0, 0.1},
        {"a 6 Hz stage at its corner", {6, 0, 150, 4, 6}, -3.01, 0.02},
        {"a 6 Hz stage at twice its corner", {12, 0, 150, 4, 6}, designDb(12, 6, 150), 0.02},  // not 1 / sqrt(17)
        {"a 10 Hz stage at its corner at speed 50, two periods", {10, 0, 50, 0.2, 10}, -3.01, 0.02},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::optional<SineFit> fit = fitSine(samples(r.made), r.made.rate, r.made.hz);
        ASSERT_TRUE(fit);
        EXPECT_NEAR(db(fit->amplitude / 50), r.expectedDb, r.withinDb) << fit->amplitude;
        EXPECT_NEAR(fit->offset, 100, 0.1) << "a stage passes a steady pressure as it is";
    }
    EXPECT_FALSE(fitSine(samples({1, 0, 150, 0.9}), 150, 1)) << "less than a whole period is no figure";
}

TEST(FrequencyFit, PlotsTickAtRoundNumbers)
{
    // Not 0.3984 and 1.195 as once in the history: 1, 2 or 5 x 10^n.
    const QString svg = linePlot(QStringLiteral("days"), QStringLiteral("error (mmHg)"),
                                 {{QStringLiteral("100 mmHg"), {{0, -0.3984}, {0.61, 1.195}, {1.195, 2.1}}}});
    QStringList ticks;
    for (auto m = QRegularExpression(QStringLiteral(">([-0-9.]+)</text>")).globalMatch(svg); m.hasNext();) ticks << m.next().captured(1);
    EXPECT_EQ(ticks.join(u' '), u"0 0.2 0.4 0.6 0.8 1 1.2 -1 -0.5 0 0.5 1 1.5 2 2.5");
}
