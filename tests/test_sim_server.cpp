// The board's server over a recording line and a hand-moved clock: one write
// per frame, nothing early, commands answered at once.
#include "boardserver.h"
#include "symboliclink.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <system_error>

using namespace quorvid;
using namespace quorvid::sim;
using namespace std::chrono_literals;

namespace {

class RecordingLink : public BoardLink {
public:
    bool writeFrame(Bytes frame) override
    {
        writes.emplace_back(frame.begin(), frame.end());
        return accept;
    }
    void hostSends(const char* s) { emit commandBytes(QByteArray(s)); }

    std::vector<ByteString> writes;
    bool accept = true;
};

struct ServerTest : ::testing::Test {
    SimTime now{0};
    RecordingLink link;
    BoardModel model{BoardOptions{.seed = 4}};
    BoardServer server{model, link, [this] { return now; }};
};

}  // namespace

TEST_F(ServerTest, EachFrameIsOneWriteOfWhatIsDueByNow)
{
    BoardModel lossy({.seed = 4, .dropProbability = 0.3}), twin({.seed = 4, .dropProbability = 0.3});
    BoardServer lossyServer(lossy, link, [this] { return now; });
    lossyServer.start();
    for (now = 0ms; now < 3s; now += 7ms) lossyServer.serviceDue();
    now = 3s;
    lossyServer.serviceDue();

    std::vector<ByteString> expected;
    for (const DueFrame& f : twin.takeDue(3s))
        if (!f.bytes.empty()) expected.push_back(f.bytes);
    EXPECT_EQ(link.writes, expected);
    EXPECT_EQ(lossyServer.framesWritten(), expected.size());
    // By kind, as the board reports them on its way out.
    quint64 byKind = 0;
    for (const FrameKind kind : {FrameKind::Waveform, FrameKind::Values, FrameKind::Status, FrameKind::Identification})
        byKind += lossyServer.framesWritten(kind);
    EXPECT_EQ(byKind, expected.size());
    EXPECT_GT(lossyServer.framesWritten(FrameKind::Values), 0u);
    EXPECT_GT(lossyServer.framesWritten(FrameKind::Status), 0u);
    // Dropped bytes shorten frames; frames with nothing left are not written.
    for (const ByteString& w : link.writes) EXPECT_FALSE(w.empty());
}

TEST_F(ServerTest, CommandsTakeEffectWhenHeardAndWaitForTheLine)
{
    now = 1005ms;  // the frames of 1 s have left; the line is free from 1006.25 ms
    server.serviceDue();
    link.writes.clear();
    now = 1008ms;
    link.hostSends("Z");
    link.hostSends("3I");
    // The status change goes at once; the identification waits until the
    // status frame's three bytes have left the line.
    ASSERT_EQ(link.writes.size(), 1u);
    EXPECT_EQ(link.writes[0], encodeStatus({2, 2}));
    now = 1011ms;
    server.serviceDue();
    EXPECT_EQ(link.writes.size(), 1u);
    now = 1012ms;
    server.serviceDue();
    ASSERT_EQ(link.writes.size(), 2u);
    EXPECT_EQ(link.writes[1], encodeIdentification(BoardModel::identificationText()));
}

TEST_F(ServerTest, RefusedWritesAreCountedNotRetried)
{
    link.accept = false;
    for (now = 0ms; now <= 1s; now += 10ms) server.serviceDue();
    now = 1s;
    const auto refused = server.framesRefused();
    EXPECT_GT(refused, 90u);
    link.accept = true;
    link.writes.clear();
    server.serviceDue();
    EXPECT_TRUE(link.writes.empty());
    EXPECT_EQ(server.framesWritten(), 0u);
}

TEST_F(ServerTest, AfterAStallTheBoardGoesOnFromNow)
{
    now = 1s;
    server.serviceDue();
    const auto before = server.framesWritten();
    link.writes.clear();
    now = 61s;  // stopped for a minute
    server.serviceDue();
    // Only what fell due in the last half second, not a minute of frames at once.
    EXPECT_LE(server.framesWritten() - before, 55u);
    EXPECT_GT(server.framesSkipped(), 5900u);
    std::size_t bytes = 0;
    for (const ByteString& w : link.writes) bytes += w.size();
    EXPECT_LE(bytes, 960u / 2 + 9);
}

TEST(SymbolicLink, ReplacesAnOldLinkNeverAFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path base = dir.path().toStdString();
    const auto link = base / "board", file = base / "notes.txt";
    std::error_code made;
    std::filesystem::create_symlink("/nonexistent/old-pty", link, made);
    // MinGW's standard library makes no symbolic links on Windows, and the
    // board has no pseudo-terminal there to link to: --link is refused with
    // the reason before a link is tried.
    if (made == std::errc::function_not_supported)
        GTEST_SKIP() << "this system's library makes no symbolic links: " << made.message();
    ASSERT_FALSE(made) << made.message();
    std::ofstream(file) << "keep me";

    std::string error;
    {
        auto made = SymbolicLink::create(link, "/dev/null", &error);
        ASSERT_TRUE(made) << error;
        EXPECT_EQ(std::filesystem::read_symlink(link), "/dev/null");
        EXPECT_FALSE(SymbolicLink::create(file, "/dev/null", &error));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(file)));
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));

    // Someone else's link at that path by the time the board ends stays.
    {
        auto made = SymbolicLink::create(link, "/dev/null", &error);
        ASSERT_TRUE(made);
        std::filesystem::remove(link);
        std::filesystem::create_symlink("/dev/zero", link);
    }
    EXPECT_EQ(std::filesystem::read_symlink(link), "/dev/zero");
}

// The load figures time a values frame from the write that completes it on
// the line, the next frame's; the hook marks that write and no other.
TEST_F(ServerTest, ValuesCompleteHookRunsJustBeforeTheWriteAfterEachValuesFrame)
{
    std::vector<std::size_t> hookedAt;  // writes made when the hook ran
    server.setValuesCompleteHook([&] { hookedAt.push_back(link.writes.size()); });
    server.start();
    for (now = 0ms; now < 5s; now += 3ms) server.serviceDue();

    std::vector<std::size_t> expected;
    for (std::size_t i = 0; i + 1 < link.writes.size(); ++i)
        if (frameKind(link.writes[i].front()) == FrameKind::Values) expected.push_back(i + 1);
    ASSERT_GE(expected.size(), 4u);  // a beat lasts under a second
    EXPECT_EQ(hookedAt, expected);
}

TEST_F(ServerTest, ASettingOnTheControlLineGivesTheBytesOfTheSameSettingOnTheCommandLine)
{
    // --set applies to the model before the server starts; the control pipe
    // goes through the server at the clock's time. At the same time, the same bytes.
    BoardModel given({.seed = 4});
    ASSERT_EQ(given.applySetting("ch1 static 100", 0s), "");
    ASSERT_EQ(given.applySetting("ch1 noise 1", 0s), "");
    EXPECT_EQ(server.applySetting("ch1 static 100"), "");
    EXPECT_EQ(server.applySetting("ch1 noise 1"), "");
    EXPECT_NE(server.applySetting("ch1 noise loud"), "");
    server.start();
    for (now = 0ms; now < 3s; now += 10ms) server.serviceDue();
    now = 3s;
    server.serviceDue();
    std::vector<ByteString> expected;
    for (const DueFrame& f : given.takeDue(3s)) expected.push_back(f.bytes);
    EXPECT_EQ(link.writes, expected);
}
