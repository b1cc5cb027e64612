// The simulated board as a bench, on simulated time: the settings it takes and
// refuses, the transducer's errors as the frames carry them, zeroing, and the
// beats a setting shapes.
#include "boardmodel.h"
#include "measure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using namespace quorvid;
using namespace quorvid::sim;
using namespace std::chrono_literals;

namespace {

Bytes text(std::string_view s) { return {reinterpret_cast<const Byte*>(s.data()), s.size()}; }

BoardModel boardWith(std::initializer_list<const char*> settings)
{
    BoardModel m;
    for (const char* s : settings) EXPECT_EQ(m.applySetting(s, 0s), "") << s;
    return m;
}

std::vector<Values> valuesIn(const std::vector<DueFrame>& frames)
{
    std::vector<Values> out;
    for (const DueFrame& f : frames)
        if (f.kind == FrameKind::Values) out.push_back(decodeValues(f.bytes).value());
    return out;
}

// Channel 1's samples in mmHg (the frames carry mmHg + 100).
std::vector<int> channel1Samples(const std::vector<DueFrame>& frames)
{
    std::vector<int> out;
    for (const DueFrame& f : frames)
        if (f.kind == FrameKind::Waveform) out.push_back(decodeWaveform(f.bytes).value().s1 - 100);
    return out;
}

// Channel 1's reading as the last values frame up to `until` gives it.
int readingAt(BoardModel& m, SimTime until)
{
    const auto v = valuesIn(m.takeDue(until));
    EXPECT_FALSE(v.empty());
    return v.empty() ? -999 : v.back().sys1;
}

}  // namespace

TEST(BoardSettings, BadLinesAreRefusedWithTheReasonAndChangeNothing)
{
    struct Row { const char* line; const char* reasonHas; };
    const Row rows[] = {
        {"", "empty"},
        {"ch3 static 100", "\"ch3\""},
        {"ch1", "wants what to set"},
        {"ch1 static", "wants a pressure"},
        {"ch1 static 301", "outside -50 to 300"},
        {"ch1 static -51", "outside"},
        {"ch1 static 1e999", "wants a number"},
        {"ch1 static nan", "wants a number"},
        {"ch1 static 100 mmHg", "wants a pressure"},
        {"ch1 arterial 120", "S/D"},
        {"ch1 arterial 80/120", "above the systolic"},
        {"ch2 pa 25/x", "wants a number"},
        {"ch1 sine 100 20", "frequency"},
        {"ch1 sine 100 20 0.4", "outside 0.5 to 40"},
        {"ch1 sine 100 20 40.5", "outside 0.5 to 40"},
        {"ch2 bandwidth 0.4", "outside 0.5 to 100"},
        {"ch1 sine 290 20 1", "leaves -50 to 300"},
        {"ch1 gain 0", "outside"},
        {"ch1 noise -1", "outside"},
        {"ch1 statik 100", "\"statik\" is not a setting"},
        {"rate 29", "outside 30 to 250"},
        {"rate 251", "outside"},
        {"variation maybe", "on or off"},
        {"pressure 100", "\"pressure\" is not a setting"},
        {"ch1 mains 39 20", "outside 40 to 70"},
        {"ch1 static 100 mains 50 101", "outside 0 to 100"},
        {"ch2 filter 55", "sound, broken, 50 or 60"},
    };
    BoardModel plain;
    const auto expected = plain.takeDue(5s);
    BoardModel m;
    m.takeDue(1s);
    for (const Row& r : rows) {
        const std::string why = m.applySetting(r.line, 1s);
        EXPECT_NE(why.find(r.reasonHas), std::string::npos) << r.line << ": " << why;
    }
    const auto rest = m.takeDue(5s);
    std::size_t i = 0;
    while (i < expected.size() && expected[i].due <= 1s) ++i;
    ASSERT_EQ(expected.size() - i, rest.size());
    for (std::size_t j = 0; j < rest.size(); ++j) EXPECT_EQ(rest[j].bytes, expected[i + j].bytes) << j;

    // And the forms that are taken, spaces and signs as a hand types them.
    for (const char* good : {"ch1 static 100", " ch2  static -50 ", "ch1 arterial 120/80", "ch2 pa 25/10",
                             "ch1 sine 100 20 2", "ch2 off", "ch1 gain 1.06", "ch1 offset +7", "ch2 drift -3",
                             "ch1 noise 0.5", "rate 60", "variation off", "variation on", "ch1 sine 100 50 40",
                             "ch2 bandwidth 6", "ch2 bandwidth off", "ch1 mains 60 20", "mains off",
                             "ch2 static 100 mains 50 20", "ch1 filter broken", "ch1 filter sound"})
        EXPECT_EQ(m.applySetting(good, 6s), "") << good;
}

TEST(BoardSettings, AStaticInputReadsBackThroughGainAndOffset)
{
    struct Row { std::initializer_list<const char*> settings; int reading; };
    const Row rows[] = {
        {{"ch1 static 100"}, 100},
        {{"ch1 static 100", "ch1 offset 7"}, 107},
        {{"ch1 static 300", "ch1 gain 1.06"}, 318},
        {{"ch1 static -20", "ch1 gain 0.5", "ch1 offset 3"}, -7},
    };
    for (const Row& r : rows) {
        BoardModel m = boardWith(r.settings);
        m.applySetting("ch2 static 20", 0s);
        const auto frames = m.takeDue(5500ms);
        const auto values = valuesIn(frames);
        // No beats: a values frame once a second, the three pressures the reading.
        ASSERT_EQ(values.size(), 5u) << *r.settings.begin();
        for (const Values& v : values)
            EXPECT_EQ(v, (Values{static_cast<std::int16_t>(r.reading), static_cast<std::int16_t>(r.reading),
                                 static_cast<std::int16_t>(r.reading), 20, 20, 20, 0}))
                << *r.settings.begin();
        for (int s : channel1Samples(frames)) ASSERT_EQ(s, r.reading) << *r.settings.begin();
    }
}

TEST(BoardSettings, ZeroingCapturesAStaticReadingAndRefusesTheRest)
{
    // The bench's routine: open to air, zero, then apply the pressure.
    BoardModel m = boardWith({"ch1 offset 7", "ch1 static 0"});
    EXPECT_EQ(readingAt(m, 2500ms), 7);
    m.feedCommandBytes(text("Z1"), 2500ms);
    EXPECT_EQ(m.statusAt(3600ms).ch1, 6) << "Zeroing ok";
    EXPECT_EQ(readingAt(m, 5s), 0);
    m.applySetting("ch1 static 100", 5s);
    EXPECT_EQ(readingAt(m, 7s), 100);

    struct Row { std::initializer_list<const char*> settings; const char* why; };
    const Row refused[] = {
        {{"ch1 arterial 120/80"}, "a pulsatile input"},
        {{"ch1 sine 50 10 1"}, "a sine"},
        {{"ch1 off"}, "no transducer"},
        {{"ch1 static 0", "ch1 offset 51"}, "an offset beyond 50 mmHg"},
        {{"ch1 static 60"}, "a pressure applied"},
    };
    for (const Row& r : refused) {
        BoardModel z = boardWith(r.settings);
        z.takeDue(2s);
        const Transducer before = z.transducer(1);
        z.feedCommandBytes(text("Z3"), 2s);
        EXPECT_EQ(z.statusAt(3500ms).ch1, 4) << r.why << ": not \"Zeroing Failed !!!\"";
        EXPECT_EQ(z.statusAt(3500ms).ch2, 6) << r.why << ": channel 2's patient zeroes as always";
        EXPECT_EQ(z.transducer(1).zero, before.zero) << r.why;
    }
}

TEST(BoardSettings, DriftGrowsAsStated)
{
    // 600 mmHg an hour is 10 mmHg a minute.
    BoardModel m = boardWith({"ch1 static 50", "ch1 drift 600"});
    EXPECT_EQ(readingAt(m, 1100ms), 50);
    EXPECT_EQ(readingAt(m, 61100ms), 60);
    // Stopping it keeps what it added.
    m.applySetting("ch1 drift 0", 61100ms);
    EXPECT_EQ(readingAt(m, 125s), 60);
}

TEST(BoardSettings, NoiseHasTheStatedDeviationAndLeavesTheBeatsAlone)
{
    BoardModel m = boardWith({"ch1 static 100", "ch1 noise 2"});
    const auto samples = channel1Samples(m.takeDue(60s));
    double sum = 0, squares = 0;
    for (int s : samples) sum += s;
    const double mean = sum / static_cast<double>(samples.size());
    for (int s : samples) squares += (s - mean) * (s - mean);
    const double sd = std::sqrt(squares / static_cast<double>(samples.size() - 1));
    EXPECT_NEAR(mean, 100, 0.1);
    EXPECT_NEAR(sd, 2.0, 0.15) << "over " << samples.size() << " samples";

    // Noise on channel 1 changes nothing in channel 2's beats.
    BoardModel quiet, noisy = boardWith({"ch1 noise 3"});
    const auto a = valuesIn(quiet.takeDue(30s)), b = valuesIn(noisy.takeDue(30s));
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].sys2, b[i].sys2) << i;
        EXPECT_EQ(a[i].pulse, b[i].pulse) << i;
    }
}

TEST(BoardSettings, PulsatileShapesCentreOnTheSetValuesFromTheNextBeat)
{
    // Over 30 beats the means come within 1 mmHg and 1 /min of the settings.
    for (std::uint64_t seed : {1, 2, 3}) {
        BoardModel m({.seed = seed});
        m.takeDue(1s);
        m.applySetting("ch1 arterial 150/90", 1s);
        m.applySetting("rate 60", 1s);
        auto values = valuesIn(m.takeDue(40s));
        // The beat in progress ends as it began, and the one drawn ahead takes the settings.
        ASSERT_GT(values.size(), 32u);
        EXPECT_LT(values[0].sys1, 130) << "the beat in progress changed";
        values.erase(values.begin());
        values.resize(30);
        double sys = 0, dia = 0, rate = 0;
        for (const Values& v : values) sys += v.sys1, dia += v.dia1, rate += v.pulse;
        EXPECT_NEAR(sys / 30, 150, 1) << seed;
        EXPECT_NEAR(dia / 30, 90, 1) << seed;
        EXPECT_NEAR(rate / 30, 60, 1) << seed;
    }
    BoardModel same = boardWith({"variation off", "ch1 pa 40/15"});
    auto values = valuesIn(same.takeDue(20s));
    values.erase(values.begin());
    for (const Values& v : values) EXPECT_EQ(v, values.front());
    EXPECT_EQ(values.front().sys1, 40);
    EXPECT_EQ(values.front().dia1, 15);
    EXPECT_EQ(values.front().pulse, 75);
}

TEST(BoardSettings, ABandwidthSwitchedOffChangesNoByte)
{
    // Off, before a corner or after one, the board sends what it always sent.
    BoardModel plain;
    BoardModel off = boardWith({"ch1 bandwidth off", "ch2 bandwidth 6", "ch2 bandwidth off"});
    const auto expected = plain.takeDue(10s), got = off.takeDue(10s);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].bytes, expected[i].bytes) << i;
}

TEST(BoardSettings, MainsInterferenceIsWhatTheFilterAndTheSamplingLeave)
{
    // Channel 1's sine as it lands in the frames, static 100 with 20 mmHg of
    // interference (the filter's faults: test_evaluate.cpp). A notch of Q 5
    // at 50 Hz keeps 1100 / hypot(1100, 600) of 60 Hz; sampled at 50 a
    // second, 60 Hz folds to 10 Hz whole.
    struct Row {
        const char* name;
        std::initializer_list<const char*> settings;
        const char* commands;
        double rate, seenHz, amplitude;
    };
    const Row rows[] = {
        {"told 60 Hz, 60 Hz", {"ch1 static 100 mains 60 20"}, "S26", 150, 60, 0},
        {"told 50 Hz, 60 Hz leaks", {"ch1 static 100 mains 60 20"}, "S265", 150, 60, 20 * 0.878},
        {"broken, 60 Hz at 50 frames a second", {"ch1 static 100", "mains 60 20", "ch1 filter broken"}, "S0", 50, 10, 20},
        {"an input without it carries none", {"ch1 static 100 mains 60 20", "ch1 filter broken", "ch1 static 100"}, "S2", 150, 60, 0},
        {"mains off", {"ch1 static 100", "ch1 mains 60 20", "ch1 filter broken", "ch1 mains off"}, "S2", 150, 60, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        BoardModel m = boardWith(r.settings);
        m.feedCommandBytes(text(r.commands), 0s);
        m.takeDue(1s);
        std::vector<double> samples;
        for (int v : channel1Samples(m.takeDue(3s))) samples.push_back(v);
        const std::optional<evaluate::SineFit> fit = evaluate::fitSine(samples, r.rate, r.seenHz);
        ASSERT_TRUE(fit);
        EXPECT_NEAR(fit->amplitude, r.amplitude, 0.3);
        EXPECT_NEAR(fit->offset, 100, 0.3);
    }
}
