// The simulated board's model, driven by injected time: what it sends, when,
// and how it answers commands.
#include "boardmodel.h"
#include "framer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace quorvid;
using namespace quorvid::sim;
using namespace std::chrono_literals;

namespace {

Bytes text(std::string_view s) { return {reinterpret_cast<const Byte*>(s.data()), s.size()}; }

std::vector<DueFrame> ofKind(const std::vector<DueFrame>& frames, FrameKind kind)
{
    std::vector<DueFrame> out;
    std::copy_if(frames.begin(), frames.end(), std::back_inserter(out),
                 [kind](const DueFrame& f) { return f.kind == kind; });
    return out;
}

long countIn(const std::vector<DueFrame>& frames, FrameKind kind, SimTime from, SimTime to)
{
    return std::count_if(frames.begin(), frames.end(),
                         [&](const DueFrame& f) { return f.kind == kind && f.due >= from && f.due < to; });
}

StatusCodes codes(const DueFrame& f) { return decodeStatus(f.bytes).value(); }

// Whether part is whole with some bytes left out, the rest in order.
bool isSubsequence(const ByteString& part, const ByteString& whole)
{
    auto it = whole.begin();
    for (Byte b : part) {
        it = std::find(it, whole.end(), b);
        if (it == whole.end()) return false;
        ++it;
    }
    return true;
}

// Status frames as (time in ms, codes), to compare with a timetable.
struct Timed {
    SimTime at;
    StatusCodes codes;
};

std::string sixty(std::u16string s) { return std::string(s.begin(), s.end()); }

}  // namespace

TEST(BoardModel, WaveformFrameRateFollowsTheSpeedCommand)
{
    struct Row { const char* name; const char* command; int perSecond; };
    const Row rows[] = {
        {"at start", "", 100}, {"S0", "S0", 50}, {"S1", "S1", 100}, {"S2", "S2", 150},
    };
    for (const Row& r : rows) {
        BoardModel m;
        m.takeDue(1s);
        m.feedCommandBytes(text(r.command), 1s);
        const auto frames = m.takeDue(12s);
        // Ten seconds, starting a little after the command.
        EXPECT_NEAR(countIn(frames, FrameKind::Waveform, 1100ms, 11100ms), 10 * r.perSecond, 1) << r.name;
        EXPECT_EQ(m.framesPerSecond(), r.perSecond) << r.name;
    }
}

TEST(BoardModel, NeverOutrunsTheLine)
{
    // The worst a host can do: fastest speed, and commands that each want an
    // answer or change a status, again and again.
    BoardModel m({.seed = 7});
    std::vector<DueFrame> frames;
    m.feedCommandBytes(text("S2"), 0s);
    for (SimTime t = 0s; t < 10s; t += 10ms) {
        m.feedCommandBytes(text((t / 10ms) % 2 ? "IZ1M" : "IZ2O"), t);
        auto some = m.takeDue(t + 10ms);
        for (const DueFrame& f : some) EXPECT_LE(f.due, t + 10ms);
        frames.insert(frames.end(), some.begin(), some.end());
    }
    ASSERT_FALSE(frames.empty());
    std::size_t sent = 0;
    SimTime last{0};
    for (const DueFrame& f : frames) {
        EXPECT_GE(f.due, last);
        EXPECT_GE(f.due, f.scheduled);
        last = f.due;
        sent += f.lineBytes;
        // By the time a frame goes, the bytes before it fit the line; the
        // frame itself is on its way.
        const double allowed = BoardModel::kLineBytesPerSecond * static_cast<double>(f.due.count()) / 1e6;
        ASSERT_LE(static_cast<double>(sent - f.lineBytes), allowed) << "at " << f.due.count() << " us";
        // And the backlog stays bounded: what goes out is never stale.
        if (f.kind == FrameKind::Waveform) {
            EXPECT_LE(f.due - f.scheduled, BoardModel::kMaxSampleDelay);
        }
        if (f.kind != FrameKind::Identification) {
            EXPECT_LE(f.due - f.scheduled, 250ms) << static_cast<int>(f.kind);
        }
    }
    EXPECT_GT(sent, 9400u) << "the line was not kept busy";
    EXPECT_GT(m.thinnedSamples(), 0u);
}

TEST(BoardModel, IdentificationDelaysSamplesButNeverDropsThem)
{
    BoardModel m;
    auto frames = m.takeDue(1s);
    m.feedCommandBytes(text("I"), 1s);
    const auto more = m.takeDue(3s);
    frames.insert(frames.end(), more.begin(), more.end());
    const auto ids = ofKind(frames, FrameKind::Identification);
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_LT(ids[0].due - 1s, 10ms);
    EXPECT_EQ(m.thinnedSamples(), 0u);
    int waves = 0;
    for (const DueFrame& w : ofKind(frames, FrameKind::Waveform)) {
        if (w.scheduled < 1s || w.scheduled >= 2s) continue;
        ++waves;
        // The samples held back behind it catch up within a tenth of a second.
        EXPECT_LT(w.due - w.scheduled, 80ms);
        if (w.scheduled > 1100ms) {
            EXPECT_LT(w.due - w.scheduled, 4ms);
        }
    }
    EXPECT_EQ(waves, 100);
}

TEST(BoardModel, OneValuesFramePerBeatInPlausibleRanges)
{
    BoardModel m({.seed = 3});
    const auto values = ofKind(m.takeDue(60s), FrameKind::Values);
    // 75 beats a minute, give or take the variation.
    EXPECT_NEAR(static_cast<double>(values.size()), 75, 3);
    std::vector<int> sys1;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto v = decodeValues(values[i].bytes);
        ASSERT_TRUE(v) << i;
        EXPECT_TRUE(v->sys1 >= 110 && v->sys1 <= 130) << v->sys1;
        EXPECT_TRUE(v->dia1 >= 70 && v->dia1 <= 90) << v->dia1;
        EXPECT_TRUE(v->map1 > v->dia1 && v->map1 < v->sys1) << v->map1;
        EXPECT_TRUE(v->sys2 >= 20 && v->sys2 <= 30) << v->sys2;
        EXPECT_TRUE(v->dia2 >= 5 && v->dia2 <= 15) << v->dia2;
        EXPECT_TRUE(v->map2 > v->dia2 && v->map2 < v->sys2) << v->map2;
        EXPECT_TRUE(v->pulse >= 70 && v->pulse <= 80) << v->pulse;
        if (i > 0) {
            // The interval between two values frames is that beat's length.
            const double beatSeconds = static_cast<double>((values[i].due - values[i - 1].due).count()) / 1e6;
            EXPECT_NEAR(60 / beatSeconds, v->pulse, 1.0);
        }
        sys1.push_back(v->sys1);
    }
    std::sort(sys1.begin(), sys1.end());
    EXPECT_GT(sys1.back() - sys1.front(), 2) << "the beats do not vary";
}

TEST(BoardModel, SamplesArePressurePlusHundredWithADicroticNotch)
{
    BoardModel m({.seed = 5});
    const auto frames = m.takeDue(20s);
    std::vector<int> ch1, ch2;
    for (const DueFrame& f : ofKind(frames, FrameKind::Waveform)) {
        const auto s = decodeWaveform(f.bytes).value();
        ch1.push_back(s.s1);
        ch2.push_back(s.s2);
    }
    const auto [min1, max1] = std::minmax_element(ch1.begin(), ch1.end());
    const auto [min2, max2] = std::minmax_element(ch2.begin(), ch2.end());
    EXPECT_TRUE(*max1 >= 215 && *max1 <= 226) << *max1;  // 120 mmHg and a little
    EXPECT_TRUE(*min1 >= 174 && *min1 <= 185) << *min1;  // 80 mmHg
    EXPECT_TRUE(*max2 >= 123 && *max2 <= 127) << *max2;  // 25 mmHg
    EXPECT_TRUE(*min2 >= 108 && *min2 <= 112) << *min2;  // 10 mmHg

    // Each arterial beat has two peaks: the systolic one and the dicrotic wave
    // after the notch.
    int peaks = 0, rising = 0;
    for (std::size_t i = 1; i < ch1.size(); ++i) {
        const int d = ch1[i] - ch1[i - 1];
        if (d > 0) rising = 1;
        if (d < 0 && rising == 1) {
            ++peaks;
            rising = 0;
        }
    }
    const auto beats = ofKind(frames, FrameKind::Values).size();
    EXPECT_EQ(peaks, static_cast<int>(2 * beats)) << beats << " beats";
}

TEST(BoardModel, StatusEverySecondAndAtOnceOnChange)
{
    BoardModel m;
    auto frames = m.takeDue(2500ms);
    m.feedCommandBytes(text("M"), 2500ms);
    const auto more = m.takeDue(6s);
    frames.insert(frames.end(), more.begin(), more.end());
    const auto status = ofKind(frames, FrameKind::Status);
    const Timed expected[] = {
        {0ms, {0, 0}}, {1000ms, {0, 0}}, {2000ms, {0, 0}},
        {2500ms, {9, 9}}, {3500ms, {9, 9}}, {4500ms, {9, 9}}, {5500ms, {9, 9}},
    };
    ASSERT_EQ(status.size(), std::size(expected));
    for (std::size_t i = 0; i < status.size(); ++i) {
        // A frame may wait a few milliseconds for the one ahead of it on the line.
        EXPECT_GE(status[i].due, expected[i].at) << i;
        EXPECT_LT(status[i].due, expected[i].at + 12ms) << i;
        EXPECT_EQ(codes(status[i]), expected[i].codes) << i;
    }
}

TEST(BoardModel, ZeroingSequence)
{
    struct Row { const char* command; StatusCodes zeroing, zeroed; };
    const Row rows[] = {
        {"Z1", {2, 0}, {6, 0}},
        {"Z2", {0, 2}, {0, 6}},
        {"Z3", {2, 2}, {6, 6}},
    };
    for (const Row& r : rows) {
        BoardModel m;
        m.takeDue(10200ms);
        m.feedCommandBytes(text(r.command), 10200ms);
        const auto status = ofKind(m.takeDue(20s), FrameKind::Status);
        // The code of each status frame, by its time since the command.
        auto codeAt = [&](SimTime sinceCommand) {
            const SimTime t = 10200ms + sinceCommand;
            StatusCodes c{99, 99};
            for (const DueFrame& f : status)
                if (f.due <= t) c = codes(f);
            return c;
        };
        EXPECT_LT(status.front().due - 10200ms, 12ms) << r.command << ": not reported at once";
        EXPECT_EQ(codeAt(12ms), r.zeroing) << r.command;
        EXPECT_EQ(codeAt(995ms), r.zeroing) << r.command;
        EXPECT_EQ(codeAt(1012ms), r.zeroed) << r.command;
        EXPECT_EQ(codeAt(2995ms), r.zeroed) << r.command;
        EXPECT_EQ(codeAt(3012ms), (StatusCodes{0, 0})) << r.command;
        EXPECT_EQ(m.statusAt(20s), (StatusCodes{0, 0})) << r.command;
        for (std::size_t i = 1; i < status.size(); ++i)
            EXPECT_LE(status[i].due - status[i - 1].due, 1s + 12ms) << r.command;
    }
}

TEST(BoardModel, IdentificationNamesTheSimulatedBoard)
{
    BoardModel m;
    m.feedCommandBytes(text("I"), 300ms);
    const auto ids = ofKind(m.takeDue(1s), FrameKind::Identification);
    ASSERT_EQ(ids.size(), 1u);

    // As the program sees it: through the framer, in the stored form.
    Framer framer;
    framer.feed(ids[0].bytes);
    framer.feed(ByteString{0xD0});
    const std::string id = sixty(decodeIdentification(framer.FrameInfo));
    EXPECT_GE(id.size(), kMinIdentificationChars);
    EXPECT_NE(id.find("simulated"), std::string::npos) << id;
    EXPECT_NE(id.find("quorvid-board"), std::string::npos) << id;
    EXPECT_NE(id.find(QUORVID_BOARD_VERSION), std::string::npos) << id;
}

TEST(BoardModel, RepeatedIdentifyWhileAnAnswerWaitsGetsOneAnswer)
{
    BoardModel m;
    m.feedCommandBytes(text("IIIII"), 300ms);
    m.feedCommandBytes(text("I"), 301ms);
    EXPECT_EQ(ofKind(m.takeDue(1s), FrameKind::Identification).size(), 1u);
    m.feedCommandBytes(text("I"), 1s);
    EXPECT_EQ(ofKind(m.takeDue(2s), FrameKind::Identification).size(), 1u);
}

TEST(BoardModel, CommandsSplitAcrossReadsAndAmongJunk)
{
    struct Row {
        const char* name;
        std::vector<std::string> reads;
        int rate;
        WaveMode mode;
        int filter;
        bool zeroing1, zeroing2;
    };
    const Row rows[] = {
        {"whole", {"S2MZ36"}, 150, WaveMode::Synthetic, 60, true, true},
        {"byte by byte", {"S", "2", "M", "Z", "3", "6"}, 150, WaveMode::Synthetic, 60, true, true},
        {"split letters", {"S", "0Z", "2"}, 50, WaveMode::Patient, 50, false, true},
        {"junk between", {"\x01\xff", "S", "1", "?x", "Z", "1", "\x80"}, 100, WaveMode::Patient, 50, true, false},
        {"bad second letter", {"Z9S5"}, 100, WaveMode::Patient, 50, false, false},
        {"letter restarts", {"SZ", "2", "ZS", "0"}, 50, WaveMode::Patient, 50, false, true},
        {"doubled prefix", {"ZZ1SS2"}, 150, WaveMode::Patient, 50, true, false},
        {"lower case is not a command", {"s2z3m"}, 100, WaveMode::Patient, 50, false, false},
        {"prefix then one-letter command", {"Z", "M", "S", "6"}, 100, WaveMode::Synthetic, 60, false, false},
    };
    for (const Row& r : rows) {
        BoardModel m;
        SimTime t = 1s;
        for (const std::string& read : r.reads) {
            m.feedCommandBytes(text(read), t);
            t += 3ms;
        }
        EXPECT_EQ(m.framesPerSecond(), r.rate) << r.name;
        EXPECT_EQ(m.mode(), r.mode) << r.name;
        EXPECT_EQ(m.filterHz(), r.filter) << r.name;
        const StatusCodes c = m.statusAt(t);
        EXPECT_EQ(c.ch1 == 2, r.zeroing1) << r.name;
        EXPECT_EQ(c.ch2 == 2, r.zeroing2) << r.name;
    }
}

TEST(BoardModel, FilterCommandsChangeNothingOnTheLine)
{
    BoardModel plain, filtered;
    plain.feedCommandBytes(text(""), 1s);
    filtered.feedCommandBytes(text("6565"), 1s);
    EXPECT_EQ(filtered.filterHz(), 50);
    const auto a = plain.takeDue(5s), b = filtered.takeDue(5s);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].bytes, b[i].bytes) << i;
}

TEST(BoardModel, DroppedBytes)
{
    BoardModel clean({.seed = 9}), none({.seed = 9, .dropProbability = 0}),
        all({.seed = 9, .dropProbability = 1}), half({.seed = 9, .dropProbability = 0.5});
    const auto c = clean.takeDue(10s), n = none.takeDue(10s), a = all.takeDue(10s), h = half.takeDue(10s);
    ASSERT_EQ(c.size(), n.size());
    ASSERT_EQ(c.size(), a.size());
    ASSERT_EQ(c.size(), h.size());
    std::size_t total = 0, kept = 0;
    for (std::size_t i = 0; i < c.size(); ++i) {
        EXPECT_EQ(n[i].bytes, c[i].bytes);
        EXPECT_TRUE(a[i].bytes.empty());
        // Dropping is on the wire: the board sends the same frames at the same times.
        EXPECT_EQ(h[i].due, c[i].due);
        EXPECT_EQ(h[i].lineBytes, c[i].bytes.size());
        EXPECT_TRUE(isSubsequence(h[i].bytes, c[i].bytes)) << i;
        total += c[i].bytes.size();
        kept += h[i].bytes.size();
    }
    EXPECT_NEAR(static_cast<double>(kept) / static_cast<double>(total), 0.5, 0.05);
}

TEST(BoardModel, ChannelWithoutSensor)
{
    for (int channel : {1, 2}) {
        BoardModel m({.noSensorChannel = channel});
        const auto frames = m.takeDue(5s);
        for (const DueFrame& f : ofKind(frames, FrameKind::Waveform)) {
            const auto s = decodeWaveform(f.bytes).value();
            EXPECT_EQ(channel == 1 ? s.s1 : s.s2, 100) << "channel " << channel << ": not flat at 0 mmHg";
            EXPECT_GT(channel == 1 ? s.s2 : s.s1, 100) << "channel " << channel << ": the other one is flat too";
        }
        for (const DueFrame& f : ofKind(frames, FrameKind::Status))
            EXPECT_EQ(codes(f), channel == 1 ? (StatusCodes{7, 0}) : (StatusCodes{0, 7}));
        for (const DueFrame& f : ofKind(frames, FrameKind::Values)) {
            const auto v = decodeValues(f.bytes).value();
            EXPECT_EQ(channel == 1 ? v.sys1 : v.sys2, 0);
            EXPECT_GT(channel == 1 ? v.sys2 : v.sys1, 0);
        }
        // Zeroing a channel with nothing attached fails, and it is back to "No Sensor".
        m.feedCommandBytes(text("Z3"), 5s);
        const StatusCodes failed = m.statusAt(5s + 1500ms), after = m.statusAt(8100ms);
        EXPECT_EQ(channel == 1 ? failed.ch1 : failed.ch2, 4);
        EXPECT_EQ(channel == 1 ? failed.ch2 : failed.ch1, 6);
        EXPECT_EQ(after, channel == 1 ? (StatusCodes{7, 0}) : (StatusCodes{0, 7}));
    }
}

TEST(BoardModel, SimulatedOutputIsACleanSyntheticSignal)
{
    BoardModel m({.noSensorChannel = 2});
    m.feedCommandBytes(text("M"), 1s);
    EXPECT_EQ(m.statusAt(1s), (StatusCodes{9, 9}));
    const auto frames = m.takeDue(10s);
    // From the second beat after the command on, the shape is the board's own.
    const SimTime from = 3s;
    std::vector<int> ch1, ch2;
    for (const DueFrame& f : ofKind(frames, FrameKind::Waveform)) {
        if (f.due < from) continue;
        const auto s = decodeWaveform(f.bytes).value();
        ch1.push_back(s.s1);
        ch2.push_back(s.s2);
    }
    for (int s : ch2) EXPECT_TRUE(s == 110 || s == 125) << s;  // a square, 10 and 25 mmHg
    // A triangle from 80 to 120 mmHg: 1 mmHg a sample, one peak a beat.
    EXPECT_EQ(*std::min_element(ch1.begin(), ch1.end()), 180);
    EXPECT_EQ(*std::max_element(ch1.begin(), ch1.end()), 220);
    int peaks = 0;
    for (std::size_t i = 1; i < ch1.size(); ++i) {
        EXPECT_LE(std::abs(ch1[i] - ch1[i - 1]), 2) << i;
        if (i + 1 < ch1.size() && ch1[i] >= 219 && ch1[i] > ch1[i + 1] && ch1[i] >= ch1[i - 1]) ++peaks;
    }
    EXPECT_NEAR(peaks, 7 / 0.8, 1);
    for (const DueFrame& f : ofKind(frames, FrameKind::Values)) {
        if (f.due < from) continue;
        EXPECT_EQ(decodeValues(f.bytes).value(), (Values{120, 100, 80, 25, 18, 10, 75}));
    }
    m.feedCommandBytes(text("O"), 10s);
    EXPECT_EQ(m.statusAt(10s), (StatusCodes{0, 7}));
}

TEST(BoardModel, SameSeedSameBytesWhateverTheCallPattern)
{
    BoardModel once({.seed = 11, .dropProbability = 0.1}), stepped({.seed = 11, .dropProbability = 0.1}),
        other({.seed = 12});
    const auto a = once.takeDue(8s);
    std::vector<DueFrame> b;
    for (SimTime t = 0s; t <= 8s; t += 1ms) {
        auto some = stepped.takeDue(t);
        b.insert(b.end(), some.begin(), some.end());
    }
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].due, b[i].due) << i;
        EXPECT_EQ(a[i].bytes, b[i].bytes) << i;
    }
    const auto c = other.takeDue(8s);
    EXPECT_FALSE(std::equal(a.begin(), a.end(), c.begin(), c.end(),
                            [](const DueFrame& x, const DueFrame& y) { return x.bytes == y.bytes; }));
}

TEST(BoardModel, NextDueIsWhenTheNextFrameComes)
{
    BoardModel m;
    SimTime t{0};
    for (int i = 0; i < 500; ++i) {
        const SimTime next = m.nextDue();
        EXPECT_TRUE(m.takeDue(next - 1us).empty()) << i;
        if (next > t) t = next;
        m.takeDue(t);
        if (i == 200) m.feedCommandBytes(text("IZ1S2"), t);
    }
    EXPECT_GT(t, 2s);
}

TEST(BoardModel, EveryKindRoundTripsThroughTheFramer)
{
    struct Log : WaveformSink {
        std::vector<Samples> plotted;
        void PlotSamples(std::int16_t& s1, std::int16_t& s2) override { plotted.push_back({s1, s2}); }
    } log;
    Framer framer(&log);
    BoardModel m;
    m.feedCommandBytes(text("IZ3"), 500ms);
    m.feedCommandBytes(text("M"), 4s);
    auto frames = m.takeDue(6s);
    // A frame is complete when the next header arrives: one more closes the last.
    frames.push_back({6s, 6s, FrameKind::Status, encodeStatus({0, 0}), 3});

    std::vector<Samples> sent;
    int kinds[5] = {};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frameKind(frames[i].bytes.front()), frames[i].kind) << i;
        framer.feed(frames[i].bytes);
        if (i == 0) continue;
        const DueFrame& done = frames[i - 1];
        ++kinds[static_cast<int>(done.kind)];
        switch (done.kind) {
        case FrameKind::Waveform:
            sent.push_back(decodeWaveform(done.bytes).value());
            break;
        case FrameKind::Values:
            EXPECT_EQ(framer.FrameValues, done.bytes) << i;
            break;
        case FrameKind::Status:
            EXPECT_EQ(framer.FrameStatus, done.bytes) << i;
            break;
        case FrameKind::Identification:
            EXPECT_EQ(sixty(decodeIdentification(framer.FrameInfo)), BoardModel::identificationText()) << i;
            break;
        case FrameKind::None:
            ADD_FAILURE() << "a frame of no kind at " << i;
        }
    }
    EXPECT_EQ(log.plotted, sent);
    for (FrameKind k : {FrameKind::Waveform, FrameKind::Values, FrameKind::Status, FrameKind::Identification})
        EXPECT_GT(kinds[static_cast<int>(k)], 0) << static_cast<int>(k);
}
