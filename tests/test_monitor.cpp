// The terminal monitor's logic: its text lines and link figures from known
// frames, its command line, and the monitor itself over the scripted serial
// control (what it prints in each format, what it sends, what it refuses).
#include "commands.h"
#include "fakeserialcontrol.h"
#include "lines.h"
#include "monitor.h"
#include "options.h"
#include "portlink.h"

#include <QElapsedTimer>
#include <QTest>

#include "storedframes.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

using namespace quorvid;
using namespace quorvid::monitor;

namespace {

using quorvid::testframes::storedIdentification;

ByteString frameOf(std::initializer_list<int> list)
{
    ByteString out;
    for (int b : list) out.push_back(static_cast<Byte>(b));
    return out;
}

ByteString shortened(ByteString frame, std::size_t size)
{
    frame.resize(size);
    return frame;
}

const Values kValues{120, 93, 80, 25, 15, 10, 75};
const std::string kValuesText = "ch1 120/80 (93)  ch2 25/10 (15)  pulse 75";
const std::string kIdText(60, 'Q');  // 121 stored bytes: long enough to be shown

TEST(MonitorLines, TimeOfDayAndStamp)
{
    EXPECT_EQ(timeOfDay(QTime(9, 56, 2, 123)), "09:56:02.123");
    EXPECT_EQ(timeOfDay(QTime(23, 0, 0, 5)), "23:00:00.005");
    EXPECT_EQ(stamped(QTime(9, 56, 2, 123), kValuesText), "09:56:02.123  " + kValuesText);
}

// The window's length rules decide what is shown; everything else with a
// header counts as too short.
TEST(MonitorLines, DecodedFrameFollowsTheWindowsLengthRules)
{
    const ByteString values = encodeValues(kValues);
    const ByteString status = encodeStatus({0, 2});
    const ByteString wave = encodeWaveform({220, 120});
    struct Case {
        const char* name;
        ByteString frame;
        FrameKind kind;
        bool shown;
    };
    const std::vector<Case> cases = {
        {"values, 9 bytes", shortened(values, 9), FrameKind::Values, true},
        {"values, 8 bytes", shortened(values, 8), FrameKind::Values, false},
        {"status, 3 bytes", status, FrameKind::Status, true},
        {"status, 2 bytes", shortened(status, 2), FrameKind::Status, false},
        {"waveform, 3 bytes", wave, FrameKind::Waveform, true},
        {"waveform, 2 bytes", shortened(wave, 2), FrameKind::Waveform, false},
        {"identification, 101 stored bytes", storedIdentification(std::string(50, 'a')), FrameKind::Identification, true},
        {"identification, 99 stored bytes", storedIdentification(std::string(49, 'a')), FrameKind::Identification, false},
        {"identification, 100 stored bytes", shortened(storedIdentification(std::string(50, 'a')), 100),
         FrameKind::Identification, false},
        {"no header", frameOf({0x10, 0x20, 0x30}), FrameKind::None, false},
        {"empty", {}, FrameKind::None, false},
    };
    for (const Case& c : cases) {
        const DecodedFrame use = decodeFrame(c.frame);
        EXPECT_EQ(use.kind, c.kind) << c.name;
        EXPECT_EQ(use.shown, c.shown) << c.name;
    }
}

TEST(MonitorLines, ValuesStatusAndIdentificationText)
{
    EXPECT_EQ(valuesText(kValues), kValuesText);
    EXPECT_EQ(valuesText(Values{-5, 0, -20, 300, 200, 100, 0}), "ch1 -5/-20 (0)  ch2 300/100 (200)  pulse 0");
    EXPECT_EQ(statusText({0, 2}), "status  Normal Operation | Zeroing...");
    EXPECT_EQ(statusText({7, 4}), "status  No Sensor !!! | Zeroing Failed !!!");
    // Codes the table has no text for name their number.
    EXPECT_EQ(statusText({12, 127}), "status  code 12 | code 127");
    EXPECT_EQ(identificationText(u"Board v2"), "identification  Board v2");
    // A line break in the text would break the line format.
    EXPECT_EQ(identificationText(u"Board\nv2\t\r  "), "identification  Board v2");
    EXPECT_EQ(identificationText(u"Druck \u00fc"), "identification  Druck \xc3\xbc");
}

// A sequence of frames as they complete, and the lines they give.
TEST(MonitorLines, TextLinesShowValuesIdentificationAndStatusChangesOnly)
{
    struct Step {
        ByteString frame;
        std::optional<std::string> line;
    };
    const std::vector<Step> steps = {
        {encodeWaveform({220, 120}), std::nullopt},
        {encodeStatus({0, 0}), "status  Normal Operation | Normal Operation"},
        {encodeStatus({0, 0}), std::nullopt},  // unchanged
        {encodeValues(kValues), kValuesText},
        {encodeValues(kValues), kValuesText},  // every values frame is a line
        {shortened(encodeValues(kValues), 8), std::nullopt},
        {shortened(encodeStatus({2, 2}), 2), std::nullopt},  // too short: no change seen
        {encodeStatus({2, 0}), "status  Zeroing... | Normal Operation"},
        {encodeStatus({2, 0}, 0xD5), std::nullopt},  // another header, same codes
        {encodeStatus({0, 0}), "status  Normal Operation | Normal Operation"},
        {storedIdentification(kIdText), "identification  " + kIdText},
        {storedIdentification("short"), std::nullopt},
    };
    TextLines lines;
    for (std::size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(lines.lineFor(decodeFrame(steps[i].frame)), steps[i].line) << "step " << i;
}

TEST(MonitorLines, LinkCountsAndTheirLine)
{
    LinkCounts counts;
    for (const ByteString& f : {encodeWaveform({1, 2}), encodeWaveform({3, 4}), encodeValues(kValues),
                                encodeStatus({0, 0}), storedIdentification(kIdText),
                                shortened(encodeValues(kValues), 5), shortened(encodeWaveform({1, 2}), 1),
                                frameOf({0x05})})
        counts.countFrame(decodeFrame(f));
    EXPECT_EQ(counts.waveform, 2u);
    EXPECT_EQ(counts.values, 1u);
    EXPECT_EQ(counts.status, 1u);
    EXPECT_EQ(counts.identification, 1u);
    EXPECT_EQ(counts.tooShort, 2u);  // the headless one is no frame at all

    LinkCounts now;
    now.bytes = 9605;
    now.waveform = 1003;
    now.values = 13;
    now.status = 10;
    now.outsideFrames = 4;
    now.tooShort = 1;
    LinkCounts before;
    before.bytes = 5;
    before.waveform = 3;
    EXPECT_EQ(linkText(now, before, 10.0),
              "link  960 B/s  100 waveform/s  frames: 1003 waveform, 13 values, 10 status, 0 identification  "
              "outside frames 4 B  too short 1");
    // No time passed, or totals that went back: no rate rather than nonsense.
    EXPECT_EQ(linkText(now, before, 0.0).substr(0, 23), "link  0 B/s  0 waveform");
    EXPECT_EQ(linkText(before, now, 5.0).substr(0, 23), "link  0 B/s  0 waveform");
}

TEST(MonitorOptions, CommandsFromTheBoardsTable)
{
    EXPECT_EQ(commandList(), "I, O, M, 5, 6, Z1, Z2, Z3, S0, S1, S2");
    for (const Command& c : kCommands) {
        const QString text = QString::fromLatin1(c.text.data(), qsizetype(c.text.size()));
        EXPECT_EQ(commandNamed(text), c.text);
        EXPECT_EQ(commandNamed(QStringLiteral("  %1 ").arg(text.toLower())), c.text);
    }
    for (const char* refused : {"", "Z", "Z4", "S3", "IO", "X", "Z 1", "7"})
        EXPECT_EQ(commandNamed(QString::fromLatin1(refused)), std::nullopt) << refused;
}

TEST(MonitorOptions, AcceptedCommandLines)
{
    {
        const auto p = parseOptions({});
        ASSERT_TRUE(p.options) << p.error.toStdString();
        EXPECT_EQ(p.options->port, Options::Port::Probe);
        EXPECT_TRUE(p.options->setup);
        EXPECT_EQ(p.options->format, Format::Text);
        EXPECT_FALSE(p.options->milliseconds);
    }
    {
        const auto p = parseOptions({"--port", "/dev/pts/9", "--send", "Z3", "--send", "i", "--no-setup",
                                     "--format", "csv", "--waveform", "--record", "a.csv", "--seconds", "1.5"});
        ASSERT_TRUE(p.options) << p.error.toStdString();
        EXPECT_EQ(p.options->port, Options::Port::Device);
        EXPECT_EQ(p.options->device, "/dev/pts/9");
        EXPECT_EQ(p.options->sends, (std::vector<std::string_view>{"Z3", "I"}));
        EXPECT_FALSE(p.options->setup);
        EXPECT_EQ(p.options->format, Format::Csv);
        EXPECT_TRUE(p.options->waveform);
        EXPECT_EQ(p.options->record, "a.csv");
        EXPECT_EQ(p.options->milliseconds, 1500);
    }
    {
        const auto p = parseOptions({"--com=8"});
        ASSERT_TRUE(p.options);
        EXPECT_EQ(p.options->port, Options::Port::Com);
        EXPECT_EQ(p.options->com, 8);
    }
    EXPECT_TRUE(parseOptions({"--help"}).options->help);
    EXPECT_TRUE(parseOptions({"-h"}).options->help);
    EXPECT_TRUE(parseOptions({"--version"}).options->version);
    EXPECT_TRUE(parseOptions({"-v"}).options->version);
}

TEST(MonitorOptions, UsageErrorsNameTheProblem)
{
    struct Case {
        QStringList args;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "bogus"},
        {{"extra"}, "extra"},
        {{"--port"}, "port"},
        {{"--port", ""}, "--port wants a device"},
        {{"--port", "/dev/a", "--com", "1"}, "exclude"},
        {{"--port", "/dev/a", "--port", "/dev/b"}, "more than once"},
        {{"--com", "0"}, "1 to 8"},
        {{"--com", "9"}, "1 to 8"},
        {{"--com", "x"}, "1 to 8"},
        {{"--send", "Z4"}, "Z4"},
        {{"--send", "I", "--send", "hello"}, "hello"},
        {{"--format", "json"}, "text or csv"},
        {{"--waveform"}, "--format csv"},
        {{"--format", "text", "--waveform"}, "--format csv"},
        {{"--record", ""}, "file name"},
        {{"--seconds", "0"}, "above 0"},
        {{"--seconds", "-1"}, "above 0"},
        {{"--seconds", "soon"}, "soon"},
        {{"--seconds", "1e12"}, "at most"},
    };
    for (const Case& c : cases) {
        const auto p = parseOptions(c.args);
        EXPECT_FALSE(p.options) << c.args.join(' ').toStdString();
        EXPECT_TRUE(p.error.contains(QLatin1String(c.says)))
            << c.args.join(' ').toStdString() << ": " << p.error.toStdString();
        EXPECT_FALSE(p.error.contains(u'\n')) << p.error.toStdString();
    }
}

// Several ports with --evaluate are a station's boards, each ID after its port.
TEST(MonitorOptions, StationPortsAndTheirBoardIds)
{
    struct Accepted {
        QStringList args;
        QStringList ports, ids;
    };
    const QStringList ev{"--evaluate", "--report", "r"};
    const Accepted accepted[] = {
        {ev + QStringList{"--port", "/dev/a", "--board-id", "SN1", "--port", "/dev/b", "--port", "/dev/c", "--board-id", " SN3 "},
         {"/dev/a", "/dev/b", "/dev/c"}, {"SN1", "", "SN3"}},
        {ev + QStringList{"--operator", "--port", "--port=/dev/a", "--board-id=X"}, {"/dev/a"}, {"X"}},
        {ev + QStringList{"--board-id", "SN9"}, {}, {"SN9"}},
        {ev + QStringList{"--port", "/dev/a"}, {"/dev/a"}, {""}},
    };
    for (const Accepted& a : accepted) {
        const auto p = parseOptions(a.args);
        ASSERT_TRUE(p.options) << a.args.join(' ').toStdString() << ": " << p.error.toStdString();
        EXPECT_EQ(p.options->ports, a.ports) << a.args.join(' ').toStdString();
        EXPECT_EQ(p.options->boardIds, a.ids) << a.args.join(' ').toStdString();
    }
    struct Refused {
        QStringList args;
        const char* says;
    };
    QStringList nine = ev;
    for (int i = 1; i <= 9; ++i) nine << "--port" << QStringLiteral("/dev/p%1").arg(i);
    const Refused refused[] = {
        {{"--port", "/dev/a", "--board-id", "X"}, "--board-id goes with --evaluate"},
        {ev + QStringList{"--board-id", "X", "--port", "/dev/a"}, "comes before any --port"},
        {ev + QStringList{"--port", "/dev/a", "--board-id", "X", "--board-id", "Y"}, "--port /dev/a has two board IDs"},
        {ev + QStringList{"--board-id", "X", "--board-id", "Y"}, "more than once for one board"},
        {ev + QStringList{"--port", "/dev/a", "--port", "/dev/a"}, "--port /dev/a given twice"},
        {ev + QStringList{"--port", "/dev/a", "--board-id", " "}, "wants an ID"},
        {nine, "at most 8 boards"},
    };
    for (const Refused& r : refused) {
        const auto p = parseOptions(r.args);
        EXPECT_FALSE(p.options) << r.args.join(' ').toStdString();
        EXPECT_TRUE(p.error.contains(QLatin1String(r.says))) << r.args.join(' ').toStdString() << ": " << p.error.toStdString();
    }
}

// --board-id is one option: a board's ID with --evaluate, one board's runs
// with --history, refused elsewhere; the reference equipment goes with a
// station as with one board.
TEST(MonitorOptions, BoardIdWithEvaluateOrHistoryAndEquipmentWithAStation)
{
    const auto history = parseOptions({"--history", "d", "--summary", "s", "--board-id", " SN-1 "});
    ASSERT_TRUE(history.options) << history.error.toStdString();
    EXPECT_EQ(history.options->historyBoardId, u"SN-1");
    const auto station = parseOptions({"--evaluate", "--report", "r", "--port", "/dev/a", "--board-id", "S1", "--port", "/dev/b",
                                       "--board-id", "S2", "--reference-equipment", "Cal 9, due 2027-01"});
    ASSERT_TRUE(station.options) << station.error.toStdString();
    EXPECT_EQ(station.options->boardIds, (QStringList{"S1", "S2"}));
    EXPECT_EQ(station.options->referenceEquipment, u"Cal 9, due 2027-01");
    EXPECT_TRUE(station.options->historyBoardId.isEmpty());

    struct Refused {
        QStringList args;
        const char* says;
    };
    const Refused refused[] = {
        {{"--board-id", "X"}, "--board-id goes with --evaluate (a board's ID, after its --port) or with --history (only that board's runs)"},
        {{"--history", "d", "--summary", "s", "--board-id", "A", "--board-id", "B"}, "--board-id given more than once: --history takes one board's runs"},
        {{"--history", "d", "--summary", "s", "--board-id", " "}, "--board-id wants an ID, e.g. --board-id SN-0042"},
        {{"--rescore", "r.json", "--report", "x", "--board-id", "S"}, "--board-id does not go with --rescore (which takes --report)"},
        {{"--port", "/dev/a", "--reference-equipment", "Cal 9"}, "--reference-equipment goes with --evaluate"},
    };
    for (const Refused& r : refused) {
        const auto p = parseOptions(r.args);
        EXPECT_FALSE(p.options) << r.args.join(' ').toStdString();
        EXPECT_EQ(p.error.toStdString(), r.says);
    }
}

TEST(MonitorOptions, HelpNamesEveryOptionAndExitStatus)
{
    const QString help = helpText();
    for (const char* word : {"--port DEVICE", "--com N", "--no-setup", "--send CMD", "--format text", "--format csv",
                             "--waveform", "--record NAME.csv", "--seconds N", "--help", "--version", "QUORVID_COM",
                             "--board-id ID",
                             "  0  ", "  1  ", "  2  ", "  3  "})
        EXPECT_TRUE(help.contains(QLatin1String(word))) << word;
}

// The monitor over the scripted control: bytes in, lines out, commands out.
class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        comm.setOpenablePorts({1});
        NoPortMenu menu;
        ASSERT_TRUE(OpenPort(comm, menu, 1));
        comm.clearJournal();
    }

    std::unique_ptr<Monitor> make(Format format, bool waveform)
    {
        auto m = std::make_unique<Monitor>(
            comm, format, waveform, [this](std::string_view l) { out.emplace_back(l); },
            [this](std::string_view l) { err.emplace_back(l); });
        m->start();
        return m;
    }

    void deliver(const std::vector<ByteString>& frames)
    {
        QByteArray block;
        for (const ByteString& f : frames) block.append(reinterpret_cast<const char*>(f.data()), qsizetype(f.size()));
        comm.deliver(block);
    }

    // The part of each line after the time.
    std::vector<std::string> bodies() const
    {
        std::vector<std::string> b;
        for (const std::string& l : out) b.push_back(l.substr(14));
        return b;
    }

    FakeSerialControl comm;
    std::vector<std::string> out, err;
};

TEST_F(MonitorTest, TextLinesFromTheLineWithTheirTime)
{
    auto m = make(Format::Text, false);
    // Each frame completes with the next header; the last waits for its own.
    deliver({frameOf({0x10}), encodeWaveform({220, 120}), encodeStatus({0, 0}), encodeValues(kValues),
             shortened(encodeValues(kValues), 6), encodeIdentification("x"), encodeWaveform({1, 2})});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(bodies(), (std::vector<std::string>{"status  Normal Operation | Normal Operation", kValuesText}));
    for (const std::string& line : out)
        EXPECT_TRUE(std::regex_search(line, std::regex("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9]{3}  [a-z]"))) << line;
    EXPECT_EQ(m->counts().waveform, 1u);
    EXPECT_EQ(m->counts().tooShort, 2u);  // the short values frame and the short identification
    EXPECT_EQ(m->counts().outsideFrames, 1u);

    out.clear();
    m->finish();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NE(out[0].find("  link  "), std::string::npos) << out[0];
    EXPECT_NE(out[0].find("frames: 1 waveform, 1 values, 1 status, 0 identification  outside frames 1 B  too short 2"),
              std::string::npos)
        << out[0];
    // Nothing is read after the end.
    out.clear();
    deliver({encodeValues(kValues), encodeWaveform({1, 2})});
    EXPECT_TRUE(out.empty());
}

TEST_F(MonitorTest, CsvRowsWaveformOnlyWhenAsked)
{
    const std::vector<ByteString> frames = {encodeWaveform({220, 120}), encodeValues(kValues), encodeStatus({2, 0}),
                                            encodeStatus({2, 0}), encodeWaveform({1, 2})};
    for (const bool waveform : {false, true}) {
        out.clear();
        auto m = make(Format::Csv, waveform);
        deliver(frames);
        m->finish();
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out[0], record::kCsvHeader);
        std::vector<std::string> kinds;
        for (std::size_t i = 1; i < out.size(); ++i) {
            const QStringList fields = QString::fromStdString(out[i]).split(u',');
            ASSERT_GE(fields.size(), 3) << out[i];
            kinds.push_back(fields[2].toStdString());
        }
        // Every status frame is a row (the CSV is the recording's); no link
        // figures in CSV, not even at the end.
        const std::vector<std::string> expected =
            waveform ? std::vector<std::string>{"waveform", "values", "status", "status"}
                     : std::vector<std::string>{"values", "status", "status"};
        EXPECT_EQ(kinds, expected) << "waveform " << waveform;
    }
}

TEST_F(MonitorTest, CommandsGoOutInOrderAFrameTimeApart)
{
    auto m = make(Format::Text, false);
    m->sendNow("S1");
    m->enqueue("Z3");
    m->enqueue("I");
    m->typed(QStringLiteral("m"));
    m->typed(QStringLiteral("   "));
    m->typed(QStringLiteral("hello"));
    EXPECT_EQ(comm.written(), "S1");  // the queue waits its gap
    ASSERT_EQ(err.size(), 1u);
    EXPECT_NE(err[0].find("\"hello\""), std::string::npos) << err[0];
    EXPECT_NE(err[0].find("not sent"), std::string::npos) << err[0];

    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return comm.written() == "S1Z3IM"; }, 5000)) << comm.written().toStdString();
    EXPECT_GE(clock.elapsed(), 3 * kCommandGapMs - 2);  // three gaps, less timer slack
}

TEST_F(MonitorTest, ARefusedCommandIsReportedAndTheLossSignalled)
{
    auto m = make(Format::Text, false);
    bool lost = false;
    QObject::connect(m.get(), &Monitor::portLost, [&](const CommResult& r) {
        lost = true;
        EXPECT_TRUE(r.reason.contains(QLatin1String("unplugged")));
    });
    comm.lose(QStringLiteral("unplugged"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return lost; }, 5000));
    m->sendNow("Z1");
    ASSERT_EQ(err.size(), 1u);
    EXPECT_EQ(err[0].rfind("not sent: Z1 (", 0), 0u) << err[0];
}

}  // namespace
