// The replay's schedule over a hand-moved clock: recorded timing, the speed,
// the line rate that no speed gets past, and starting over; then its server on
// a recording line.
#include "boardmodel.h"
#include "replay.h"

#include <gtest/gtest.h>

using namespace quorvid;
using namespace quorvid::sim;
using namespace std::chrono_literals;
using quorvid::record::RecordedBlock;

namespace {

RecordedBlock block(std::int64_t us, int size, char fill = 'a')
{
    return {us, QByteArray(size, fill)};
}

// Takes every block the schedule gives when the clock is moved in steps of
// `step` up to `until`, with the time each was taken.
std::vector<std::pair<SimTime, QByteArray>> run(ReplaySchedule& s, SimTime until, SimTime step)
{
    std::vector<std::pair<SimTime, QByteArray>> taken;
    for (SimTime now = 0us; now <= until; now += step)
        while (const QByteArray* b = s.take(now)) taken.emplace_back(now, *b);
    return taken;
}

}  // namespace

TEST(ReplaySchedule, BlocksGoAtTheirRecordedTimesScaledByTheSpeed)
{
    // The first block's recorded time is where the replay starts, not a wait.
    const std::vector<RecordedBlock> blocks = {block(2'000'000, 3, 'a'), block(2'010'000, 3, 'b'),
                                               block(2'500'000, 9, 'c'), block(4'000'000, 3, 'd')};
    struct Case {
        double speed;
        std::array<SimTime, 4> due;
    };
    for (const Case& c : {Case{1.0, {0us, 10'000us, 500'000us, 2'000'000us}},
                          Case{2.0, {0us, 5'000us, 250'000us, 1'000'000us}},
                          Case{0.5, {0us, 20'000us, 1'000'000us, 4'000'000us}}}) {
        SCOPED_TRACE(c.speed);
        ReplaySchedule s(blocks, c.speed, false);
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            ASSERT_EQ(s.nextDue(), c.due[i]) << i;
            EXPECT_EQ(s.take(c.due[i] - 1us), nullptr) << "early, block " << i;
            const QByteArray* b = s.take(c.due[i]);
            ASSERT_NE(b, nullptr) << i;
            EXPECT_EQ(*b, blocks[i].bytes);
        }
        EXPECT_TRUE(s.ended());
        EXPECT_EQ(s.nextDue(), std::nullopt);
        EXPECT_EQ(s.take(10s), nullptr);
        EXPECT_EQ(s.blocksTaken(), 4u);
    }
}

TEST(ReplaySchedule, NoSpeedAndNoLateClockGetsPastTheLineRate)
{
    // Fifty 48-byte blocks recorded within a tenth of a second: far more than
    // 960 bytes a second can carry, even before the speed-up.
    std::vector<RecordedBlock> blocks;
    for (int i = 0; i < 50; ++i) blocks.push_back(block(i * 2'000, 48));
    for (const double speed : {1.0, 10.0}) {
        for (const SimTime step : {1us, 7'000us, 130'000us}) {  // an exact clock, late timers
            SCOPED_TRACE(testing::Message() << "speed " << speed << ", step " << step.count());
            ReplaySchedule s(blocks, speed, false);
            const auto taken = run(s, 10s, step);
            ASSERT_EQ(taken.size(), blocks.size());
            // Each block starts no sooner than the one before has left the line.
            for (std::size_t i = 1; i < taken.size(); ++i)
                EXPECT_GE(taken[i].first - taken[i - 1].first, BoardModel::lineTime(48)) << i;
        }
    }
    // With an exact clock the line is never idle while a block waits: 50 ms a block.
    ReplaySchedule s(blocks, 1.0, false);
    const auto taken = run(s, 5s, 1us);
    EXPECT_EQ(taken.back().first, 49 * BoardModel::lineTime(48));
}

TEST(ReplaySchedule, LoopStartsOverOnceTheLastBlockHasLeftTheLine)
{
    const std::vector<RecordedBlock> blocks = {block(100, 2, 'x'), block(300'100, 4, 'y')};
    ReplaySchedule s(blocks, 1.0, true);
    const auto taken = run(s, 1'300'000us, 1us);
    // Each pass takes 300 ms plus the last block's 4 bytes on the line.
    const SimTime pass = 300'000us + BoardModel::lineTime(4);
    ASSERT_EQ(taken.size(), 9u);
    for (std::size_t i = 0; i < taken.size(); ++i) {
        const SimTime start = static_cast<int>(i / 2) * pass;
        EXPECT_EQ(taken[i].first, i % 2 == 0 ? start : start + 300'000us) << i;
        EXPECT_EQ(taken[i].second, blocks[i % 2].bytes) << i;
    }
    EXPECT_FALSE(s.ended());
    EXPECT_EQ(s.passes(), 4);
}

TEST(ReplaySchedule, AnEmptyRecordingHasEndedAtOnce)
{
    ReplaySchedule s(std::vector<RecordedBlock>{}, 1.0, true);
    EXPECT_TRUE(s.ended());
    EXPECT_EQ(s.take(0us), nullptr);
    EXPECT_EQ(s.nextDue(), std::nullopt);
}

namespace {

class RecordingLink : public BoardLink {
public:
    bool writeFrame(Bytes frame) override
    {
        writes.emplace_back(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size()));
        return true;
    }
    void hostSends(const char* s) { emit commandBytes(QByteArray(s)); }
    std::vector<QByteArray> writes;
};

}  // namespace

TEST(ReplayServer, WritesEachBlockWhenDueEndsOnceAndPassesCommandsOnUnheeded)
{
    SimTime now{0};
    RecordingLink link;
    ReplaySchedule schedule({block(0, 1, 'p'), block(1'000, 1, 'q'), block(50'000, 2, 'r')}, 1.0, false);
    ReplayServer server(schedule, link, [&now] { return now; });
    int finished = 0;
    QList<QByteArray> heard;
    QObject::connect(&server, &ReplayServer::finished, [&finished] { ++finished; });
    QObject::connect(&server, &ReplayServer::heard, [&heard](const QByteArray& b) { heard << b; });

    server.start();
    EXPECT_EQ(link.writes, std::vector<QByteArray>{"p"});
    // The second block is due at 1 ms, but the first byte holds the line until 1.042 ms.
    now = 1'000us;
    server.serviceDue();
    EXPECT_EQ(link.writes.size(), 1u);
    now = 1'042us;
    server.serviceDue();
    EXPECT_EQ(link.writes.size(), 2u);
    link.hostSends("Z3");
    EXPECT_EQ(heard, QList<QByteArray>{"Z3"});
    EXPECT_EQ(link.writes.size(), 2u) << "a command makes the replay send nothing";
    EXPECT_EQ(finished, 0);
    now = 60'000us;
    server.serviceDue();
    server.serviceDue();
    EXPECT_EQ(link.writes, (std::vector<QByteArray>{"p", "q", "rr"}));
    EXPECT_EQ(finished, 1);
}

TEST(ReplayServer, AWaitLongerThanATimerHoldsIsTakenInSteps)
{
    // A recording with a pause of 30 days, and one of a day played at the slowest speed.
    struct Case { std::int64_t gapUs; double speed; SimTime due; };
    const Case cases[] = {
        {30LL * 86'400'000'000, 1.0, SimTime{30LL * 86'400'000'000}},
        {86'400'000'000, 0.01, SimTime{100LL * 86'400'000'000}},
    };
    for (const Case& c : cases) {
        SimTime now{0};
        RecordingLink link;
        ReplaySchedule schedule({block(0, 1, 'p'), block(c.gapUs, 1, 'q')}, c.speed, false);
        ReplayServer server(schedule, link, [&now] { return now; });
        server.start();
        ASSERT_EQ(link.writes.size(), 1u);
        EXPECT_EQ(server.timerWait(), ReplayServer::kMaxTimerWait) << "an overflowed wait stalls or spins";
        now = c.due - 1ms;
        server.serviceDue();
        EXPECT_EQ(link.writes.size(), 1u);
        EXPECT_EQ(server.timerWait(), 1ms);
        now = c.due;
        server.serviceDue();
        EXPECT_EQ(link.writes, (std::vector<QByteArray>{"p", "q"}));
    }
}
