// The receive framer, fed through the scripted serial control.
#include "fakeserialcontrol.h"
#include "framer.h"
#include "receiver.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace quorvid;

namespace {

struct PlotLog : WaveformSink {
    std::vector<std::pair<int, int>> calls;
    void PlotSamples(std::int16_t& s1, std::int16_t& s2) override
    {
        calls.emplace_back(s1, s2);
        s1 = -1;  // the framer must not care what the chart does to them
        s2 = -1;
    }
};

QByteArray qbytes(std::initializer_list<int> list)
{
    QByteArray out;
    for (int b : list) out.append(static_cast<char>(b));
    return out;
}

ByteString bytes(const QByteArray& a) { return ByteString(a.begin(), a.end()); }

class FramerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        comm.setOpenablePorts({1});
        ASSERT_TRUE(comm.setRThreshold(1));
        ASSERT_TRUE(comm.setPortOpen(true));
        QObject::connect(&comm, &SerialControl::onComm, [this] { MSComm1_OnComm(comm, framer); });
    }

    void receive(const QByteArray& block) { comm.deliver(block); }

    FakeSerialControl comm;
    PlotLog plot;
    Framer framer{&plot};
};

// A realistic stream: identification, status, values and waveform frames.
const QByteArray kStream = qbytes({0x12, 0x34,                                      // junk before the first header
                                   0xE0, 'Q', 'X', '-', '1',                        // identification
                                   0xD0, 0x06, 0x07,                                // status
                                   0xC8, 0x2C, 0x2D,                                // waveform 300, 45
                                   0x95, 0x5C, 0x41, 0x34, 0x70, 0x10, 0x73, 0x6E, 0x16,  // values
                                   0xC1, 0x10, 0x20,                                // waveform 16, 160
                                   0x80});                                          // closes the last one

}  // namespace

TEST_F(FramerTest, WholeStreamFillsSlotsAndPlotsInOrder)
{
    receive(kStream);
    EXPECT_EQ(framer.FrameInfo, bytes(qbytes({0xE0, 'Q', 0, 'X', 0, '-', 0, '1', 0})));
    EXPECT_EQ(framer.FrameStatus, bytes(qbytes({0xD0, 0x06, 0x07})));
    EXPECT_EQ(framer.FrameValues, bytes(qbytes({0x95, 0x5C, 0x41, 0x34, 0x70, 0x10, 0x73, 0x6E, 0x16})));
    EXPECT_EQ(plot.calls, (std::vector<std::pair<int, int>>{{300, 45}, {16, 160}}));
    EXPECT_EQ(framer.FrameCur, ByteString{0x80});
}

TEST_F(FramerTest, EverySplitGivesTheSameResult)
{
    Framer whole;
    PlotLog wholePlot;
    whole.setWaveformSink(&wholePlot);
    whole.feed(bytes(kStream));

    // Two blocks in one event, and two events, at every boundary.
    for (int cut = 0; cut <= kStream.size(); ++cut) {
        for (bool oneEvent : {true, false}) {
            FakeSerialControl c;
            c.setOpenablePorts({1});
            ASSERT_TRUE(c.setRThreshold(1));
            ASSERT_TRUE(c.setPortOpen(true));
            PlotLog p;
            Framer f(&p);
            QObject::connect(&c, &SerialControl::onComm, [&] { MSComm1_OnComm(c, f); });
            if (oneEvent) {
                c.queue(kStream.left(cut));
                c.deliver(kStream.mid(cut));
            } else {
                c.deliver(kStream.left(cut));
                c.deliver(kStream.mid(cut));
            }
            EXPECT_EQ(c.inBufferCount(), 0);
            EXPECT_EQ(p.calls, wholePlot.calls) << "cut " << cut;
            EXPECT_EQ(f.FrameInfo, whole.FrameInfo) << "cut " << cut;
            EXPECT_EQ(f.FrameStatus, whole.FrameStatus) << "cut " << cut;
            EXPECT_EQ(f.FrameValues, whole.FrameValues) << "cut " << cut;
            EXPECT_EQ(f.FrameCur, whole.FrameCur) << "cut " << cut;
        }
    }
}

TEST_F(FramerTest, ByteAtATimeEqualsOneBlock)
{
    for (char b : qbytes({0xC8, 0x2C, 0x2D})) receive(QByteArray(1, b));
    EXPECT_TRUE(plot.calls.empty());
    receive(qbytes({0x80}));
    EXPECT_EQ(plot.calls, (std::vector<std::pair<int, int>>{{300, 45}}));
}

TEST_F(FramerTest, PayloadBeforeFirstHeaderIsDropped)
{
    receive(qbytes({0x12, 0x34}));
    EXPECT_EQ(framer.FrameCur, bytes(qbytes({0x12, 0x34})));
    receive(qbytes({0x95}));
    EXPECT_TRUE(framer.FrameInfo.empty());
    EXPECT_TRUE(framer.FrameStatus.empty());
    EXPECT_TRUE(framer.FrameValues.empty());
    EXPECT_TRUE(plot.calls.empty());
    EXPECT_EQ(framer.FrameLast, bytes(qbytes({0x12, 0x34})));
}

TEST_F(FramerTest, IdentificationStoredAsTwoBytesPerCharacter)
{
    receive(qbytes({0xE0, 0x41}));
    EXPECT_TRUE(framer.TextMode);
    receive(qbytes({0x42, 0xC0}));
    EXPECT_FALSE(framer.TextMode);
    EXPECT_EQ(framer.FrameInfo, bytes(qbytes({0xE0, 0x41, 0x00, 0x42, 0x00})));
}

TEST_F(FramerTest, SlotsHoldOnlyTheLatestFrameWhateverItsLength)
{
    receive(qbytes({0x95, 0x5C, 0x41, 0x34, 0x70, 0x10, 0x73, 0x6E, 0x16,
                    0xD0, 0x01, 0x02,
                    0x80, 0, 0, 0, 0, 0, 0, 0, 0,
                    0xC0}));
    EXPECT_EQ(framer.FrameValues, bytes(qbytes({0x80, 0, 0, 0, 0, 0, 0, 0, 0})));
    EXPECT_EQ(framer.FrameStatus, bytes(qbytes({0xD0, 0x01, 0x02})));

    receive(qbytes({0x80, 0x81}));  // a values frame of length 1 replaces a complete one
    EXPECT_EQ(framer.FrameValues, ByteString{0x80});
}

TEST_F(FramerTest, HeaderRouting)
{
    struct Row { int header; ByteString Framer::*slot; };
    const Row rows[] = {{0xE1, &Framer::FrameStatus}, {0xFF, &Framer::FrameStatus},
                        {0xDF, &Framer::FrameStatus}, {0xBF, &Framer::FrameValues},
                        {0xE0, &Framer::FrameInfo}};
    for (const Row& r : rows) {
        Framer f;
        f.feed(bytes(qbytes({r.header, 0x01, 0x02, 0x80})));
        EXPECT_EQ((f.*r.slot).front(), r.header) << std::hex << r.header;
    }
    receive(qbytes({0xCF, 0x01, 0x02, 0x80}));
    EXPECT_EQ(plot.calls, (std::vector<std::pair<int, int>>{{385, 386}}));
}

TEST_F(FramerTest, ShortWaveformFramesAreDroppedWithoutPlotting)
{
    receive(qbytes({0xC8, 0xC8, 0x2C, 0xC8, 0x2C, 0x2D, 0x80}));
    EXPECT_EQ(plot.calls, (std::vector<std::pair<int, int>>{{300, 45}}));
}

TEST_F(FramerTest, OtherEventsReadNothing)
{
    comm.queue(qbytes({0xC8, 0x2C, 0x2D, 0x80}));
    for (int event : {CommEvent::Send, CommEvent::Break, CommEvent::Overrun, CommEvent::Frame, 3})
        comm.raise(event);
    EXPECT_EQ(comm.inBufferCount(), 4);
    EXPECT_TRUE(plot.calls.empty());
    comm.raise(CommEvent::Receive);
    EXPECT_EQ(comm.inBufferCount(), 0);
    EXPECT_EQ(plot.calls.size(), 1u);
}

TEST_F(FramerTest, FrameBeingAssembledIsCapped)
{
    receive(qbytes({0xC8}));
    receive(QByteArray(10000, 0x11));
    EXPECT_EQ(framer.FrameCur.size(), Framer::kMaxFrameBytes);
    receive(qbytes({0x80}));
    EXPECT_EQ(framer.FrameCur, ByteString{0x80});
    ASSERT_EQ(plot.calls.size(), 1u);  // the capped frame still decodes from its first bytes
    EXPECT_EQ(plot.calls[0], (std::pair<int, int>{256 + 0x11, 0x11}));

    // Text frames are capped at the same stored size, and never split a character.
    receive(qbytes({0xE0}));
    receive(QByteArray(5000, 'x'));
    EXPECT_LE(framer.FrameCur.size(), Framer::kMaxFrameBytes);
    EXPECT_EQ(framer.FrameCur.size() % 2, 1u);
}

TEST_F(FramerTest, StateSurvivesAReopen)
{
    receive(qbytes({0xC8, 0x2C}));
    ASSERT_TRUE(comm.setPortOpen(false));
    ASSERT_TRUE(comm.setPortOpen(true));
    receive(qbytes({0x2D, 0x80}));
    EXPECT_EQ(plot.calls, (std::vector<std::pair<int, int>>{{300, 45}}));
}

// Frames that lie wholly inside a block take a shorter road than the frame
// assembled across blocks; both must leave the same state. A byte at a time
// every frame goes the long way round, so it is the reference.
TEST(FramerBlocks, AnySplitMatchesByteAtATime)
{
    std::mt19937 rng(7);
    auto randomBytes = [&rng](std::size_t n, int lo, int hi) {
        std::uniform_int_distribution<int> byte(lo, hi);
        ByteString out(n);
        for (Byte& b : out) b = static_cast<Byte>(byte(rng));
        return out;
    };
    auto concat = [](std::initializer_list<ByteString> parts) {
        ByteString out;
        for (const ByteString& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const ByteString text = encodeIdentification(std::string(60, 'Q'));
    struct Row { const char* name; ByteString stream; };
    const Row rows[] = {
        {"random bytes", randomBytes(6000, 0, 255)},
        {"frames with junk first",
         concat({ByteString{0x12, 0x34}, text, encodeStatus({6, 7}), encodeWaveform({300, 45}),
                 encodeValues({120, 93, 80, 25, 15, 10, 75}), encodeWaveform({16, 160}),
                 ByteString{0x80}})},
        {"frames past the cap",
         concat({encodeWaveform({1, 2}), ByteString{0x95}, randomBytes(5000, 0, 127),
                 ByteString{0xE0}, randomBytes(3000, 0, 127), ByteString{0xD1}, randomBytes(4500, 0, 127),
                 encodeWaveform({3, 4}), ByteString{0xE0, 0x41}})},
    };
    for (const Row& row : rows) {
        for (std::size_t maxBlock : {2u, 7u, 64u, 9000u}) {
            PlotLog refPlot, plot;
            Framer ref(&refPlot), framer(&plot);
            std::uniform_int_distribution<std::size_t> size(1, maxBlock);
            for (std::size_t at = 0; at < row.stream.size();) {
                const std::size_t n = std::min(size(rng), row.stream.size() - at);
                const Bytes block(row.stream.data() + at, n);
                bool refStored = false;
                for (std::size_t i = 0; i < n; ++i) refStored |= ref.feed(block.subspan(i, 1));
                const bool stored = framer.feed(block);
                at += n;
                SCOPED_TRACE(testing::Message() << row.name << ", blocks up to " << maxBlock
                                                << ", at " << at);
                ASSERT_EQ(stored, refStored);
                ASSERT_EQ(framer.FrameCur, ref.FrameCur);
                ASSERT_EQ(framer.FrameLast, ref.FrameLast);
                ASSERT_EQ(framer.FrameInfo, ref.FrameInfo);
                ASSERT_EQ(framer.FrameStatus, ref.FrameStatus);
                ASSERT_EQ(framer.FrameValues, ref.FrameValues);
                ASSERT_EQ(framer.TextMode, ref.TextMode);
                ASSERT_EQ(plot.calls, refPlot.calls);
            }
        }
    }
}

namespace {

// What an observer is shown: blocks, frames in order, bytes outside frames.
struct ObserverLog : FrameObserver {
    std::vector<ByteString> blocks;
    std::vector<ByteString> frames;
    std::size_t outside = 0;
    void blockReceived(Bytes block) override { blocks.emplace_back(block.begin(), block.end()); }
    void frameCompleted(Bytes frame) override { frames.emplace_back(frame.begin(), frame.end()); }
    void bytesOutsideFrames(std::size_t count) override { outside += count; }
};

}  // namespace

// Every frame reaches the observer once, in order and in stored form, however
// the stream is cut, including frames that a later one replaces in their slot.
TEST(FramerObserver, SeesEveryFrameInOrderAtEveryCut)
{
    QByteArray stream = kStream;
    stream.insert(stream.size() - 1, qbytes({0x95, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}));
    const std::vector<ByteString> expected = {
        bytes(qbytes({0xE0, 'Q', 0, 'X', 0, '-', 0, '1', 0})),
        bytes(qbytes({0xD0, 0x06, 0x07})),
        bytes(qbytes({0xC8, 0x2C, 0x2D})),
        bytes(qbytes({0x95, 0x5C, 0x41, 0x34, 0x70, 0x10, 0x73, 0x6E, 0x16})),
        bytes(qbytes({0xC1, 0x10, 0x20})),
        bytes(qbytes({0x95, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08})),
    };
    for (int cut = 0; cut <= stream.size(); ++cut) {
        Framer f;
        ObserverLog log;
        f.setFrameObserver(&log);
        f.feed(bytes(stream.left(cut)));
        f.feed(bytes(stream.mid(cut)));
        EXPECT_EQ(log.frames, expected) << "cut " << cut;
        EXPECT_EQ(log.outside, 2u) << "cut " << cut;  // 0x12 0x34 before the first header
        ASSERT_EQ(log.blocks.size(), 2u);
        EXPECT_EQ(log.blocks[0], bytes(stream.left(cut)));
        // The observer changes nothing the window reads.
        EXPECT_EQ(f.FrameValues, expected.back()) << "cut " << cut;
    }
}

TEST(FramerObserver, PayloadPastTheCapIsOutsideAnyFrame)
{
    for (int header : {0x95, 0xE0}) {
        for (bool oneBlock : {true, false}) {
            Framer f;
            ObserverLog log;
            f.setFrameObserver(&log);
            QByteArray frame = qbytes({header}) + QByteArray(5000, 'a');
            if (oneBlock) {
                f.feed(bytes(frame + qbytes({0x80})));
            } else {
                f.feed(bytes(frame));
                f.feed(bytes(qbytes({0x80})));
            }
            ASSERT_EQ(log.frames.size(), 1u);
            const std::size_t kept = header == 0xE0 ? (Framer::kMaxFrameBytes - 1) / 2 : Framer::kMaxFrameBytes - 1;
            EXPECT_EQ(log.outside, 5000 - kept) << header << " " << oneBlock;
            EXPECT_LE(log.frames[0].size(), Framer::kMaxFrameBytes);
        }
    }
}
