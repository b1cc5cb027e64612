// The recording: CSV rows from completed frames, the two files the recorder
// writes through the framer, refused writes, and reading .bytes files back.
#include "bytesreader.h"
#include "csvrows.h"
#include "framer.h"
#include "frames.h"
#include "notes.h"
#include "recorder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include "platform.h"
#include "storedframes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>

using namespace quorvid;
using namespace quorvid::record;

namespace {

using quorvid::testframes::storedIdentification;

ByteString bytes(std::initializer_list<int> values)
{
    ByteString out;
    for (int v : values) out.push_back(static_cast<Byte>(v));
    return out;
}

ByteString operator+(ByteString a, const ByteString& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

QByteArray qbytes(const ByteString& b)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<unreadable: " + f.errorString().toUtf8() + ">";
    return f.readAll();
}

// A clock the test moves by hand.
struct ManualClock {
    static constexpr std::int64_t kUtcStart = 1796637362123;  // 2026-12-07T09:56:02.123Z
    static constexpr std::int64_t kMonoStart = 5'000'000;
    std::int64_t monoUs = kMonoStart;

    // Both clocks move on together.
    Recorder::Clock clock()
    {
        return {[this] { return kUtcStart + (monoUs - kMonoStart) / 1000; }, [this] { return monoUs; }};
    }
    void advanceUs(std::int64_t us) { monoUs += us; }
};

const RecordingStart kWhere{QStringLiteral("COM1"), QStringLiteral("/dev/pts/4"),
                            QStringLiteral("quorvid 1.0.1")};

// Fifty characters, with a comma and quotes for the CSV to protect.
constexpr std::string_view kIdText = "QX-1 board, firmware \"2.4\", serial 000123, built 7";
static_assert(kIdText.size() == 50);

}  // namespace

TEST(CsvRows, IsoUtcWithMilliseconds)
{
    EXPECT_EQ(isoUtc(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(isoUtc(1796637362123), "2026-12-07T09:56:02.123Z");
    EXPECT_EQ(isoUtc(951868799999), "2000-02-29T23:59:59.999Z");
    EXPECT_EQ(isoUtc(-1), "1969-12-31T23:59:59.999Z");
}

TEST(CsvRows, FieldsAreQuotedAsRfc4180Asks)
{
    const struct {
        std::string_view in, out;
    } cases[] = {
        {"", ""},
        {"Zeroing ok | ", "Zeroing ok | "},
        {"tab\there", "tab\there"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"\"", "\"\"\"\""},
        {"line\nbreak", "\"line\nbreak\""},
        {"cr\rhere", "\"cr\rhere\""},
    };
    for (const auto& c : cases) EXPECT_EQ(csvField(c.in), c.out) << c.in;
}

TEST(CsvRows, OneRowPerFrameTheWindowWouldShowOrPlot)
{
    const RowTime at{1796637362123, 1'234'999};  // t_s cut down to the millisecond
    const std::string time = "2026-12-07T09:56:02.123Z,1.234,";
    const std::string id49(49, 'x');
    const struct {
        const char* what;
        ByteString frame;
        std::optional<std::string> row;
    } cases[] = {
        // Samples less 100: 0x10 and 0x20 + 128 from the header's low bits.
        {"waveform", bytes({0xC1, 0x10, 0x20}), time + "waveform,-84,60,,,,,,,,,,"},
        {"waveform, extra byte ignored", bytes({0xCC, 0x7F, 0x00, 0x55}), time + "waveform,411,-100,,,,,,,,,,"},
        {"waveform too short", bytes({0xC1, 0x10}), std::nullopt},
        {"values", encodeValues({120, 93, 80, -100, 411, 0, 255}),
         time + "values,,,120,93,80,-100,411,0,255,,,"},
        {"values too short", bytes({0x80, 1, 2, 3, 4, 5, 6, 7}), std::nullopt},
        {"status", bytes({0xD0, 6, 7}), time + "status,,,,,,,,,,6,7,Zeroing ok | No Sensor !!!"},
        {"status without text", bytes({0xD3, 0, 127}), time + "status,,,,,,,,,,0,127,Normal Operation | "},
        {"status too short", bytes({0xD0, 6}), std::nullopt},
        {"identification", storedIdentification(kIdText),
         time + "identification,,,,,,,,,,,,\"QX-1 board, firmware \"\"2.4\"\", serial 000123, built 7\""},
        {"identification of 49 characters", storedIdentification(id49), std::nullopt},
        // Readable, and never a formula in a spreadsheet.
        {"identification with control characters",
         storedIdentification(std::string(46, 'y') + "\\\x7f\r\n"),
         time + "identification,,,,,,,,,,,," + std::string(46, 'y') + "\\\\\\x7f\\x0d\\x0a"},
        {"identification like a formula", storedIdentification("=HYPERLINK(\"http://x\",\"y\")" + std::string(24, ' ')),
         time + "identification,,,,,,,,,,,,\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")" + std::string(24, ' ') + "\""},
        {"identification starting with @", storedIdentification("@SUM(1)" + std::string(43, '-')),
         time + "identification,,,,,,,,,,,,'@SUM(1)" + std::string(43, '-')},
        {"no header", bytes({0x12, 0x34, 0x56}), std::nullopt},
        {"empty", ByteString{}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(csvRow(c.frame, at), c.row) << c.what;
}

// The field as a CSV reader hands it over: RFC 4180 quotes removed.
std::string unquoted(const std::string& field)
{
    if (field.size() < 2 || field.front() != '"') return field;
    std::string out;
    for (std::size_t i = 1; i + 1 < field.size(); ++i) {
        out.push_back(field[i]);
        if (field[i] == '"') ++i;  // the second of a doubled quote
    }
    return out;
}

// Whatever the board sends comes back from the text column exactly, and the
// column stays readable and inert in a spreadsheet.
TEST(CsvRows, TextColumnReadsBackExactly)
{
    const std::string_view texts[] = {
        "",
        "Normal Operation | Zeroing...",
        std::string_view("nul\0inside", 10),
        "\x01\x02\x1f\x7f",
        "line\r\nbreak\tand tab\n",
        "back\\slash",
        "\\",
        "ends with \\",
        "\\\\ two",
        "\\x41 looks escaped",
        "\\x0d looks escaped too",
        "=HYPERLINK(\"http://x\",\"y\")",
        "+1",
        "-1",
        "@SUM(1)",
        "=",
        "'=already protected",
        "''+two apostrophes",
        "'plain apostrophe",
        "'",
        "say \"hi\", twice, \"hi\"",
        ",",
        "Druck 120 mmHg \xe2\x80\x93 gr\xc3\xbc\xc3\x9f \xe2\x82\xac",
        "\x1b[31mred\x1b[0m",
    };
    for (const std::string_view text : texts) {
        SCOPED_TRACE(::testing::PrintToString(std::string(text)));
        const std::string field = csvText(text);
        EXPECT_EQ(textFromCsv(unquoted(field)), text);
        EXPECT_EQ(field.find_first_of(std::string_view("\0\x01\x1f\x7f\r\n", 6)), std::string::npos);
        const std::string inner = unquoted(field);
        EXPECT_TRUE(inner.empty() || std::string_view("=+-@").find(inner.front()) == std::string_view::npos);
    }
}

// Rows written before the text column was escaped hold the text as it was:
// a field the escaping cannot have written reads as it stands. One that it
// can have written reads as escaped text, the older reading being the rarer.
TEST(CsvRows, OlderTextColumnsReadAsWritten)
{
    const struct {
        std::string_view field, text;
    } cases[] = {
        {"=1+2", "=1+2"},
        {"-5 mmHg", "-5 mmHg"},
        {"C:\\board\\fw", "C:\\board\\fw"},
        {"tab\there", "tab\there"},
        {"line\nbreak \\\\", "line\nbreak \\\\"},
        {"\\x41", "\\x41"},
        {"\\x0D upper case", "\\x0D upper case"},
        {"\\x0", "\\x0"},
        {"trailing \\", "trailing \\"},
        // Written alike by both.
        {"plain text, firmware 2.4", "plain text, firmware 2.4"},
        {"'apostrophe", "'apostrophe"},
        // Taken as escaped.
        {"a\\\\b", "a\\b"},
        {"\\x0d", "\r"},
        {"'=x", "=x"},
    };
    for (const auto& c : cases) EXPECT_EQ(textFromCsv(c.field), c.text) << c.field;
}

// Times in seconds for messages, reports and windows, and the t_s reader.
TEST(CsvRows, SecondsAsTextAndBack)
{
    const struct {
        std::int64_t microseconds;
        int decimals;
        SecondsRounding rounding;
        const char* text;
    } cases[] = {
        {12'345'678, 3, SecondsRounding::Down, "12.345"},
        {12'345'678, 3, SecondsRounding::Nearest, "12.346"},
        {12'345'500, 3, SecondsRounding::Nearest, "12.346"},
        {12'345'499, 3, SecondsRounding::Nearest, "12.345"},
        {9'950'000, 1, SecondsRounding::Nearest, "10.0"},
        {9'999'999, 1, SecondsRounding::Down, "9.9"},
        {5, 6, SecondsRounding::Down, "0.000005"},
        {0, 3, SecondsRounding::Down, "0.000"},
        {-1'500'000, 3, SecondsRounding::Down, "-1.500"},
        {-2'500, 3, SecondsRounding::Nearest, "-0.003"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(secondsText(c.microseconds, c.decimals, c.rounding), QString::fromLatin1(c.text)) << c.microseconds;

    EXPECT_EQ(parseSeconds("12.345"), 12'345'000);
    EXPECT_EQ(parseSeconds("10"), 10'000'000);
    EXPECT_EQ(parseSeconds("999999999.999999"), 999'999'999'999'999);
    for (const char* bad : {"", "-1", "1.", ".5", "1.2345678", "1234567890", "1,5", "1.5 "})
        EXPECT_FALSE(parseSeconds(bad)) << bad;
}

// The start notes read back to what was written, whatever the names hold.
TEST(Notes, StartNotesReadBackAsWritten)
{
    const RecordingStart cases[] = {
        kWhere,
        {QStringLiteral("COM3"), {}, QStringLiteral("quorvid 1.0.1")},
        {{}, {}, QStringLiteral("quorvid-monitor 1.0.1")},
        {{}, QStringLiteral("/dev/ttyUSB0"), QStringLiteral("quorvid 1.0.1")},
        {QStringLiteral("board (left)"), QStringLiteral("/dev/serial/by-id/usb-x (1)"), QStringLiteral("q")},
    };
    for (const RecordingStart& where : cases) {
        SCOPED_TRACE(where.port.toStdString() + " / " + where.device.toStdString());
        const QByteArray text = startNotes(where, ManualClock::kUtcStart);
        const auto read = parseBytes(text, nullptr);
        ASSERT_TRUE(read);
        ASSERT_EQ(read->comments.size(), 3);
        StartNotes notes;
        for (const QString& comment : read->comments) EXPECT_TRUE(notes.take(comment)) << comment.toStdString();
        EXPECT_FALSE(notes.take(read->comments[2]));  // a later port note is a change, not the start
        EXPECT_EQ(notes.started, QDateTime::fromMSecsSinceEpoch(ManualClock::kUtcStart, Qt::UTC));
        EXPECT_EQ(notes.where.program, where.program);
        EXPECT_EQ(notes.portText(), read->comments[2].mid(5));
        if (!where.device.isEmpty() || !where.port.contains(u'(')) {
            EXPECT_EQ(notes.where.port, where.port);
            EXPECT_EQ(notes.where.device, where.device);
        }
    }
    // A name with a line end in it stays on its line.
    const RecordingStart broken{QStringLiteral("COM1"), {}, QStringLiteral("quorvid\n# port COM9")};
    StartNotes notes;
    const auto read = parseBytes(startNotes(broken, 0), nullptr);
    ASSERT_TRUE(read);
    for (const QString& comment : read->comments) notes.take(comment);
    EXPECT_EQ(notes.portText(), QStringLiteral("COM1"));
    EXPECT_EQ(StartNotes().portText(), QString());  // no port note: the review says "not noted"

    // The timed notes the window and the monitor hand to Recorder::note().
    EXPECT_EQ(portNote(QStringLiteral("COM2 (/dev/ttyUSB1)")), QStringLiteral("port COM2 (/dev/ttyUSB1)"));
    EXPECT_EQ(portNotOpenedNote(QStringLiteral("COM2"), QStringLiteral("Permission denied")),
              QStringLiteral("port COM2 not opened: Permission denied"));
    EXPECT_EQ(portLostNote(QStringLiteral("Input/output error")), QStringLiteral("port lost: Input/output error"));
}

TEST(Recorder, PathsOfBothFiles)
{
    const struct {
        QString chosen, csv, bytes;
    } cases[] = {
        {"a/x.csv", "a/x.csv", "a/x.bytes"},
        {"a/x", "a/x.csv", "a/x.bytes"},
        {"a/x.CSV", "a/x.CSV", "a/x.bytes"},
        {"a/x.txt", "a/x.txt.csv", "a/x.txt.bytes"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Recorder::csvPathFor(c.chosen), c.csv);
        EXPECT_EQ(Recorder::bytesPathFor(c.chosen), c.bytes);
    }
}

// A short session through the framer with the recorder as its observer: both
// files' exact text. Covers junk before the first header, a values frame
// replaced by another in the same block, a frame split across blocks, frames
// too short for a row, and a note.
TEST(Recorder, ScriptedSessionGivesExactFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ManualClock clock;
    QString error;
    auto recorder = Recorder::start(dir.filePath("s"), kWhere, &error, clock.clock());
    ASSERT_TRUE(recorder) << error.toStdString();
    EXPECT_EQ(recorder->csvPath(), dir.filePath("s.csv"));
    EXPECT_EQ(recorder->bytesPath(), dir.filePath("s.bytes"));

    Framer framer;
    framer.setFrameObserver(recorder.get());

    const ByteString blockA = bytes({0x12, 0x34}) + encodeIdentification(kIdText) + bytes({0xD0, 6, 7})
        + encodeValues({120, 93, 80, 25, 12, 8, 72}) + encodeValues({-100, 0, 411, 300, 5, -5, 255})
        + bytes({0xC1, 0x10});
    const ByteString blockB =
        bytes({0x20, 0xD1, 0x03, 0xC0, 0x05, 0x85, 0x01, 0x02, 0xD0, 0x00, 0x0C, 0x80});
    const ByteString blockC = bytes({0xC2, 0x00, 0x00});

    clock.advanceUs(1234);
    framer.feed(blockA);
    clock.advanceUs(1'500'000 - 1234);
    framer.feed(blockB);
    clock.advanceUs(500'000);
    recorder->note(QStringLiteral("port lost: Input/output\nerror"));
    clock.advanceUs(499'999);
    framer.feed(blockC);
    recorder.reset();

    const QByteArray csv = readAll(dir.filePath("s.csv"));
    EXPECT_EQ(csv.toStdString(),
              "time_utc,t_s,kind,ch1_mmHg,ch2_mmHg,sys1,map1,dia1,sys2,map2,dia2,pulse,status1,status2,text\n"
              "2026-12-07T09:56:02.124Z,0.001,identification,,,,,,,,,,,,"
              "\"QX-1 board, firmware \"\"2.4\"\", serial 000123, built 7\"\n"
              "2026-12-07T09:56:02.124Z,0.001,status,,,,,,,,,,6,7,Zeroing ok | No Sensor !!!\n"
              "2026-12-07T09:56:02.124Z,0.001,values,,,120,93,80,25,12,8,72,,,\n"
              "2026-12-07T09:56:02.124Z,0.001,values,,,-100,0,411,300,5,-5,255,,,\n"
              "2026-12-07T09:56:03.623Z,1.500,waveform,-84,60,,,,,,,,,,\n"
              "2026-12-07T09:56:03.623Z,1.500,status,,,,,,,,,,0,12,Normal Operation | \n");

    const QByteArray expectedBytes = "# recording started 2026-12-07T09:56:02.123Z\n"
                                     "# program quorvid 1.0.1\n"
                                     "# port COM1 (/dev/pts/4)\n"
                                     "0.001234\t" + qbytes(blockA).toHex(' ') + "\n"
                                     "1.500000\t20 d1 03 c0 05 85 01 02 d0 00 0c 80\n"
                                     "# 2.000000 port lost: Input/output error\n"
                                     "2.499999\tc2 00 00\n";
    EXPECT_EQ(readAll(dir.filePath("s.bytes")).toStdString(), expectedBytes.toStdString());
}

TEST(Recorder, StartCommentWithoutAPort)
{
    QTemporaryDir dir;
    ManualClock clock;
    QString error;
    auto recorder = Recorder::start(dir.filePath("n.csv"), {{}, {}, QStringLiteral("quorvid-monitor 1.0.1")},
                                    &error, clock.clock());
    ASSERT_TRUE(recorder) << error.toStdString();
    recorder.reset();
    EXPECT_EQ(readAll(dir.filePath("n.bytes")).toStdString(),
              "# recording started 2026-12-07T09:56:02.123Z\n"
              "# program quorvid-monitor 1.0.1\n"
              "# port none\n");
}

TEST(Recorder, MissingFolderRefusesTheStart)
{
    QTemporaryDir dir;
    const QString chosen = dir.filePath("no-such-folder/x.csv");
    QString error;
    EXPECT_FALSE(Recorder::start(chosen, kWhere, &error));
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(chosen))) << error.toStdString();
    EXPECT_TRUE(error.contains(test::noSuchFolderText())) << error.toStdString();
}

// An earlier recording stays whole when either new file cannot be opened.
TEST(Recorder, AFileThatCannotBeOpenedLeavesTheEarlierRecording)
{
    for (const char* blocked : {"x.csv", "x.bytes"}) {
        QTemporaryDir dir;
        for (const char* name : {"x.csv", "x.bytes"}) {
            QFile old(dir.filePath(name));
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("earlier\n");
        }
        // Unopenable for writing whoever runs the test: a folder of that name.
        ASSERT_TRUE(QFile::remove(dir.filePath(blocked)));
        ASSERT_TRUE(QDir(dir.path()).mkdir(blocked));
        QString error;
        EXPECT_FALSE(Recorder::start(dir.filePath("x"), kWhere, &error)) << blocked;
        EXPECT_TRUE(error.contains(QDir::toNativeSeparators(dir.filePath(blocked)))) << error.toStdString();
        for (const char* name : {"x.csv", "x.bytes"}) {
            if (name != std::string_view(blocked)) {
                EXPECT_EQ(readAll(dir.filePath(name)), "earlier\n") << name;
            }
        }
    }
}

// A device that refuses every write: recording stops at the flush that meets
// it, says so once with the file and the reason, and writes nothing more.
TEST(Recorder, RefusedWriteStopsRecordingOnce)
{
    if (!QFile::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    for (const bool csvRefused : {false, true}) {
        QTemporaryDir dir;
        const QString good = dir.filePath("good");
        const QString csvPath = csvRefused ? QStringLiteral("/dev/full") : good;
        const QString bytesPath = csvRefused ? good : QStringLiteral("/dev/full");
        ManualClock clock;
        QString error;
        auto recorder = Recorder::startOn(csvPath, bytesPath, kWhere, &error, clock.clock());
        ASSERT_TRUE(recorder) << error.toStdString();
        QSignalSpy spy(recorder.get(), &Recorder::failed);
        Framer framer;
        framer.setFrameObserver(recorder.get());
        framer.feed(bytes({0xD0, 6, 7, 0x80}));
        EXPECT_FALSE(recorder->hasFailed());

        recorder->flush();
        ASSERT_EQ(spy.count(), 1) << csvRefused;
        const QString message = spy.at(0).at(0).toString();
        EXPECT_TRUE(message.contains("/dev/full")) << message.toStdString();
        EXPECT_TRUE(message.contains("No space left on device")) << message.toStdString();
        EXPECT_TRUE(recorder->hasFailed());

        // The CSV goes first: when it is refused, the other file gets nothing.
        const QByteArray kept = readAll(good);
        EXPECT_EQ(kept.startsWith("time_utc,"), !csvRefused);
        EXPECT_EQ(kept.isEmpty(), csvRefused);
        framer.feed(bytes({0xC1, 0x10, 0x20, 0x80}));
        recorder->note(QStringLiteral("port COM2"));
        recorder->flush();
        recorder.reset();
        EXPECT_EQ(spy.count(), 1);
        EXPECT_EQ(readAll(good), kept);
    }
}

// A refusal met inside the framer's call is reported from the event loop,
// never from inside the framer.
TEST(Recorder, RefusalInsideTheFramerIsReportedAfterIt)
{
    if (!QFile::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    QTemporaryDir dir;
    QString error;
    auto recorder = Recorder::startOn(dir.filePath("c.csv"), "/dev/full", kWhere, &error);
    ASSERT_TRUE(recorder) << error.toStdString();
    QSignalSpy spy(recorder.get(), &Recorder::failed);
    Framer framer;
    framer.setFrameObserver(recorder.get());
    const ByteString junk(30'000, 0x01);  // about 90 KiB of hex
    framer.feed(junk);
    EXPECT_TRUE(recorder->hasFailed());
    EXPECT_EQ(spy.count(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(spy.count(), 1);
}

// What is buffered reaches the file at the timer's tick, at a full buffer,
// and on destruction; always as whole lines.
TEST(Recorder, FlushesOnTheTimerWhenFullAndAtTheEnd)
{
    QTemporaryDir dir;
    ManualClock clock;
    QString error;
    auto recorder = Recorder::start(dir.filePath("f"), kWhere, &error, clock.clock());
    ASSERT_TRUE(recorder) << error.toStdString();
    auto* timer = recorder->findChild<QTimer*>(QStringLiteral("flushTimer"));
    ASSERT_TRUE(timer);
    EXPECT_TRUE(timer->isActive());
    EXPECT_LE(timer->interval(), 1000);

    Framer framer;
    framer.setFrameObserver(recorder.get());
    framer.feed(bytes({0xD0, 6, 7, 0x80}));
    EXPECT_EQ(readAll(dir.filePath("f.csv")), "");
    EXPECT_EQ(readAll(dir.filePath("f.bytes")), "");

    ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout"));
    EXPECT_EQ(readAll(dir.filePath("f.csv")).count('\n'), 2);
    EXPECT_EQ(readAll(dir.filePath("f.bytes")).count('\n'), 4);

    // 1000 bytes make a line of about 3 KiB; the 22nd passes 64 KiB.
    const ByteString block(1000, 0x01);
    int fed = 0;
    while (readAll(dir.filePath("f.bytes")).count('\n') == 4 && fed < 100) {
        framer.feed(block);
        ++fed;
    }
    EXPECT_GE(fed, 20);
    EXPECT_LE(fed, 23);
    const QByteArray written = readAll(dir.filePath("f.bytes"));
    EXPECT_GE(written.size(), 64 * 1024);
    EXPECT_TRUE(written.endsWith('\n'));

    framer.feed(bytes({0xC1, 0x10, 0x20, 0x80}));
    recorder.reset();
    EXPECT_TRUE(readAll(dir.filePath("f.csv")).endsWith(",waveform,-84,60,,,,,,,,,,\n"));
    EXPECT_TRUE(readAll(dir.filePath("f.bytes")).endsWith("\tc1 10 20 80\n"));
}

// What the recorder writes, the reader gives back: every block with its bytes
// and its time to the microsecond, and the comments.
TEST(BytesReader, ReadsBackWhatTheRecorderWrote)
{
    QTemporaryDir dir;
    ManualClock clock;
    QString error;
    auto recorder = Recorder::start(dir.filePath("r"), kWhere, &error, clock.clock());
    ASSERT_TRUE(recorder) << error.toStdString();
    std::vector<RecordedBlock> sent;
    std::uint32_t state = 12345;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (int i = 0; i < 2000; ++i) {
        // Steps of 0 to about 4 ms, every byte value, blocks of 1 to 300 bytes.
        clock.advanceUs(next() % 4000);
        QByteArray block(static_cast<qsizetype>(next() % 300 + 1), Qt::Uninitialized);
        for (char& c : block) c = static_cast<char>(next() >> 24);
        recorder->blockReceived(Bytes(reinterpret_cast<const Byte*>(block.constData()),
                                      static_cast<std::size_t>(block.size())));
        sent.push_back({clock.monoUs - ManualClock::kMonoStart, block});
        if (i == 700) recorder->note(QStringLiteral("port COM2 (/dev/ttyUSB1)"));
    }
    recorder.reset();

    const auto read = readBytesFile(dir.filePath("r.bytes"), &error);
    ASSERT_TRUE(read) << error.toStdString();
    EXPECT_TRUE(read->blocks == sent);
    const QStringList comments = {"recording started 2026-12-07T09:56:02.123Z", "program quorvid 1.0.1",
                                  "port COM1 (/dev/pts/4)",
                                  QStringLiteral("%1 port COM2 (/dev/ttyUSB1)")
                                      .arg(QString::fromLatin1(QByteArray::number(
                                          double(sent[700].microseconds) / 1e6, 'f', 6)))};
    EXPECT_EQ(read->comments, comments);
}

TEST(BytesReader, TakesWhatTheFormatAllows)
{
    const QByteArray text = "# a comment\r\n"
                            "#no space\n"
                            "\n"
                            "0\t00\n"
                            "0.5\tff 0A\r\n"
                            "0.500000\t7f\n"
                            "999999999.999999\t80\n"
                            "999999999.999999\t8";  // torn: the disk filled
    QString error;
    const auto read = parseBytes(text, &error);
    ASSERT_TRUE(read) << error.toStdString();
    const std::vector<RecordedBlock> expected = {
        {0, QByteArray("\x00", 1)},
        {500000, QByteArray("\xff\x0a")},
        {500000, QByteArray("\x7f")},
        {999999999999999, QByteArray("\x80")},
    };
    EXPECT_TRUE(read->blocks == expected);
    EXPECT_EQ(read->comments, QStringList({"a comment", "no space"}));
    EXPECT_EQ(read->warnings, QStringList({"line 8: the last line has no line end (torn), skipped"}));
    EXPECT_TRUE(parseBytes("", &error).has_value());
}

// Block by block: atEnd() as the last block is returned; an error ends it.
TEST(BytesReader, StreamsBlockByBlock)
{
    for (const bool bad : {false, true}) {
        QByteArray text = "# start\n0.5\t01\n# between\n1\t02 03\n" + QByteArray(bad ? "2\tzz\n" : "\n");
        QBuffer device(&text);
        ASSERT_TRUE(device.open(QIODevice::ReadOnly));
        BytesReader reader(&device);
        EXPECT_FALSE(reader.atEnd());
        EXPECT_EQ(reader.next(), (RecordedBlock{500000, "\x01"}));
        EXPECT_FALSE(reader.atEnd());
        EXPECT_EQ(reader.next(), (RecordedBlock{1000000, "\x02\x03"}));
        EXPECT_TRUE(reader.atEnd());
        EXPECT_EQ(reader.next(), std::nullopt);
        EXPECT_EQ(reader.comments(), QStringList({"start", "between"}));
        EXPECT_EQ(reader.error(), bad ? QStringLiteral("line 5: byte 1 is not two hex digits") : QString());
        EXPECT_EQ(reader.line(), 5);
    }
}

TEST(BytesReader, RefusesMalformedLinesNamingThem)
{
    const struct {
        QByteArray line;
        const char* error;
    } cases[] = {
        {"x\t00", "the line starts with neither a time nor '#'"},
        {"-1\t00", "the line starts with neither a time nor '#'"},
        {" 1\t00", "the line starts with neither a time nor '#'"},
        {"1.5 00", "the time is not a non-negative decimal followed by a tab"},
        {"1.5", "the time is not a non-negative decimal followed by a tab"},
        {"1e3\t00", "the time is not a non-negative decimal followed by a tab"},
        {"1.\t00", "no decimals after the point"},
        {"1.1234567\t00", "the time has more than six decimals"},
        {"1234567890\t00", "the time has more than 9 digits before the point"},
        {"1\t", "no bytes after the tab"},
        {"1\t0", "byte 1 is not two hex digits"},
        {"1\t000", "byte 1 is not two hex digits"},
        {"1\tzz", "byte 1 is not two hex digits"},
        {"1\t00 0", "byte 2 is not two hex digits"},
        {"1\t00  01", "byte 2 is not two hex digits"},
        {"1\t00\t01", "byte 2 is not preceded by a single space"},
        {"1\t00,01", "byte 2 is not preceded by a single space"},
        {"1\t00 ", "a space at the end of the line"},
        {"1\t00\r\r", "a carriage return inside the line"},
        {"1\t0\r0", "a carriage return inside the line"},
        {"0.000001\t00", "the time 0.000001 is before the previous block's 0.000002"},
    };
    for (const auto& c : cases) {
        const QByteArray text = "# start\n0.000002\t01\n" + c.line + "\n4\t00\n";
        QString error;
        EXPECT_FALSE(parseBytes(text, &error).has_value()) << c.line.toStdString();
        EXPECT_EQ(error.toStdString(), std::string("line 3: ") + c.error) << c.line.toStdString();
    }

    // A line beyond any block a port read gives.
    QString error;
    const QByteArray huge = "# fine\n" + QByteArray(5 * 1024 * 1024, '#');
    EXPECT_FALSE(parseBytes(huge, &error).has_value());
    EXPECT_EQ(error.toStdString(), "line 2: longer than 4194304 bytes");
}

TEST(BytesReader, FileErrorsNameTheFile)
{
    QTemporaryDir dir;
    QString error;
    const QString missing = dir.filePath("missing.bytes");
    EXPECT_FALSE(readBytesFile(missing, &error).has_value());
    EXPECT_EQ(error, QDir::toNativeSeparators(missing) + ": " + test::noSuchFileText());

    const QString bad = dir.filePath("bad.bytes");
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("0.1\t00\n0.2\t0g\n");
    file.close();
    EXPECT_FALSE(readBytesFile(bad, &error).has_value());
    EXPECT_EQ(error, QDir::toNativeSeparators(bad) + ": line 2: byte 1 is not two hex digits");

    // Sparse, so it costs no disk; refused before a byte is read.
    const QString huge = dir.filePath("huge.bytes");
    QFile big(huge);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(1024LL * 1024 * 1024 + 1));
    big.close();
    EXPECT_FALSE(readBytesFile(huge, &error).has_value());
    EXPECT_EQ(error, QDir::toNativeSeparators(huge) + ": larger than 1024 MiB, too large for a recording");
}

// Tens of megabytes read in one pass: a quadratic step would take minutes
// here, the bound is generous for sanitizer builds.
TEST(BytesReader, LargeFilesReadInLinearTime)
{
    QByteArray text;
    text.reserve(40 * 1024 * 1024);
    std::int64_t blocks = 0;
    while (text.size() < 32 * 1024 * 1024) appendBytesLine(text, blocks++ * 1667, QByteArray(16, '\x5a'));
    QElapsedTimer timer;
    timer.start();
    QString error;
    const auto read = parseBytes(text, &error);
    const qint64 ms = timer.elapsed();
    ASSERT_TRUE(read) << error.toStdString();
    EXPECT_EQ(static_cast<std::int64_t>(read->blocks.size()), blocks);
    EXPECT_EQ(read->blocks.back().microseconds, (blocks - 1) * 1667);
    EXPECT_LT(ms, 10000);
    RecordProperty("parse_ms", static_cast<int>(ms));
    std::printf("parsed %lld blocks, %lld bytes in %lld ms\n", static_cast<long long>(blocks),
                static_cast<long long>(text.size()), static_cast<long long>(ms));
}
