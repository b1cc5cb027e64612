// Reviewing a recording without a window: statistics over a range, the
// per-column reduction, the range export, the .bytes and .csv read alike, and
// files refused naming their line.
#include "bytesreader.h"
#include "csvrows.h"
#include "framer.h"
#include "rangeexport.h"
#include "recorder.h"
#include "recording.h"
#include "reduction.h"
#include "statistics.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using namespace quorvid;
using namespace quorvid::review;

namespace {

constexpr std::int64_t kSecond = 1'000'000;

// Readings at 1..5 s; beats at 1.5..4.5 s; statuses and an identification.
Recording handMade()
{
    Recording r;
    const int ch1[] = {10, 20, 30, 40, 50};
    const int ch2[] = {0, -5, 5, -5, 100};
    for (int i = 0; i < 5; ++i) {
        r.trace.microseconds.push_back((i + 1) * kSecond);
        r.trace.ch1.push_back(std::int16_t(ch1[i]));
        r.trace.ch2.push_back(std::int16_t(ch2[i]));
    }
    r.trace.spreadBlocks();
    r.beats = {{kSecond * 3 / 2, {120, 93, 80, 25, 15, 10, 60}},
               {kSecond * 5 / 2, {130, 103, 90, 27, 17, 12, 70}},
               {kSecond * 7 / 2, {110, 83, 70, 23, 13, 8, 80}},
               {kSecond * 9 / 2, {200, 200, 200, 200, 200, 200, 200}}};
    r.statuses = {{2 * kSecond, {0, 0}}, {3 * kSecond, {0, 0}}, {4 * kSecond, {2, 6}}, {kSecond * 9 / 2, {0, 0}}};
    r.identifications = {{3 * kSecond, QStringLiteral("board")}};
    r.lastMicroseconds = 5 * kSecond;
    return r;
}

TEST(ReviewStatistics, OverARangeAsWorkedByHand)
{
    const Recording r = handMade();
    // 2..4 s, ends included: ch1 20 30 40, ch2 -5 5 -5; beats at 2.5 and 3.5 s.
    RangeStatistics s = statistics(r, {2 * kSecond, 4 * kSecond});
    EXPECT_EQ(s.channels[0].count, 3u);
    EXPECT_DOUBLE_EQ(s.channels[0].mean, 30.0);
    EXPECT_DOUBLE_EQ(s.channels[0].sd, 10.0);
    EXPECT_EQ(s.channels[0].min, 20);
    EXPECT_EQ(s.channels[0].max, 40);
    EXPECT_NEAR(s.channels[1].mean, -5.0 / 3, 1e-12);
    EXPECT_NEAR(s.channels[1].sd, std::sqrt(200.0 / 3 / 2), 1e-12);  // squares 100/9 + 400/9 + 100/9
    EXPECT_EQ(s.channels[1].min, -5);
    EXPECT_EQ(s.channels[1].max, 5);
    EXPECT_EQ(s.beats.count, 2u);
    EXPECT_DOUBLE_EQ(s.beats.sys1, 120.0);
    EXPECT_DOUBLE_EQ(s.beats.map1, 93.0);
    EXPECT_DOUBLE_EQ(s.beats.dia1, 80.0);
    EXPECT_DOUBLE_EQ(s.beats.sys2, 25.0);
    EXPECT_DOUBLE_EQ(s.beats.pulse, 75.0);
    EXPECT_EQ(s.waveformFrames, 3u);
    EXPECT_EQ(s.valuesFrames, 2u);
    EXPECT_EQ(s.statusFrames, 3u);
    EXPECT_EQ(s.identificationFrames, 1u);
    EXPECT_EQ(s.statusesSeen, (std::vector<StatusCodes>{{0, 0}, {2, 6}}));

    const QJsonObject json = QJsonDocument::fromJson(statisticsJson(s)).object();
    EXPECT_DOUBLE_EQ(json["channels"].toArray()[1].toObject()["sd_mmHg"].toDouble(), 5.774);
    EXPECT_EQ(json["frames"].toObject()["values"].toInt(), 2);
    EXPECT_EQ(json["statuses"].toArray()[1].toObject()["text"].toString(), "Zeroing... | Zeroing ok");

    // A range with nothing in it has counts of zero and no figures to invent.
    s = statistics(r, {kSecond / 10, kSecond / 2});
    EXPECT_EQ(s.channels[0].count, 0u);
    EXPECT_EQ(s.beats.count, 0u);
    EXPECT_FALSE(QJsonDocument::fromJson(statisticsJson(s)).object()["channels"].toArray()[0].toObject().contains("mean_mmHg"));
}

TEST(ReviewReduction, EveryColumnKeepsItsExtremesAtAnyZoom)
{
    // 10 s at 1 kHz, flat but for a one-sample spike and a one-sample dip.
    Trace trace;
    for (int i = 0; i < 10000; ++i) {
        trace.microseconds.push_back(i * 1000);
        trace.ch1.push_back(i == 4321 ? 250 : i == 7777 ? -50 : 0);
        trace.ch2.push_back(std::int16_t(i % 7));
    }
    trace.spreadBlocks();
    struct Span { std::int64_t from, to; };
    ReducedView view;
    for (const Span span : {Span{0, 9'999'000}, Span{4'000'000, 8'000'000}, Span{4'320'500, 4'321'500}}) {
        for (const int columns : {1, 3, 100, 997, 10000, 30000}) {
            SCOPED_TRACE(testing::Message() << span.from << ".." << span.to << " in " << columns << " columns");
            reduce(trace, span.from, span.to, columns, view);
            ASSERT_EQ(view.ch1.size(), std::size_t(columns));
            int highest = INT16_MIN, lowest = INT16_MAX;
            std::size_t k = 0;  // the times are in order: one pass for all columns
            while (k < trace.size() && trace.microseconds[k] < span.from) ++k;
            for (std::size_t i = 0; i < view.ch1.size(); ++i) {
                // Each column against every sample in its span.
                const bool last = i + 1 == view.ch1.size();
                const std::int64_t to = view.columnStart(i + 1);
                int lo = INT16_MAX, hi = INT16_MIN;
                for (; k < trace.size() && (trace.microseconds[k] < to || (last && trace.microseconds[k] <= to)); ++k)
                    lo = std::min<int>(lo, trace.ch1[k]), hi = std::max<int>(hi, trace.ch1[k]);
                const Column& c = view.ch1[i];
                ASSERT_EQ(c.empty, lo > hi) << "column " << i;
                if (c.empty) continue;
                ASSERT_EQ(c.min, lo) << "column " << i;
                ASSERT_EQ(c.max, hi) << "column " << i;
                highest = std::max<int>(highest, c.max);
                lowest = std::min<int>(lowest, c.min);
            }
            EXPECT_EQ(highest, 250);
            EXPECT_EQ(lowest, span.to >= 7'777'000 ? -50 : span.to - span.from > 2000 ? 0 : 250);
        }
    }
}

// A recording as the recorder writes it, from the framer, on a clock the test
// moves: 30 s of blocks 40 ms apart, four readings each, a beat every 0.8 s,
// a status every second and one identification.
struct RecordedPair {
    QTemporaryDir dir;
    QString csv() const { return dir.filePath("pair.csv"); }
    QString bytes() const { return dir.filePath("pair.bytes"); }

    RecordedPair()
    {
        std::int64_t now = 0;
        record::Recorder::Clock clock{[&] { return 1796637362123 + now / 1000; }, [&] { return now; }};
        QString error;
        auto recorder = record::Recorder::start(csv(), {"COM1", "/dev/pts/9", "quorvid test"}, &error, clock);
        EXPECT_TRUE(recorder) << error.toStdString();
        Framer framer;
        framer.setFrameObserver(recorder.get());
        for (int k = 0; k < 750; ++k) {
            now = std::int64_t(k) * 40'000 + 1234;
            ByteString block;
            auto add = [&](const ByteString& frame) { block.insert(block.end(), frame.begin(), frame.end()); };
            for (int i = 0; i < 4; ++i)
                add(encodeWaveform({std::int16_t(100 + (k * 4 + i) * 7 % 200), std::int16_t(90 + (k + i) % 40)}));
            if (k % 20 == 0) add(encodeValues({std::int16_t(110 + k % 20), 90, 70, 30, 20, 10, std::int16_t(60 + k % 30)}));
            if (k % 25 == 0) add(encodeStatus({Byte(k % 3), 0}));
            if (k == 10) add(encodeIdentification("Quorvid test board, 2 channels, firmware 1.2.3, serial 0042"));
            framer.feed(block);
        }
    }
};

// The rows of a CSV text with t_s from..to (milliseconds), the header first,
// read with nothing but string splitting.
QByteArray rowsBetween(const QByteArray& csv, int fromMs, int toMs)
{
    QList<QByteArray> lines = csv.split('\n');
    QByteArray out = lines.takeFirst() + '\n';
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() < 2) continue;
        const int ms = int(std::lround(fields[1].toDouble() * 1000));
        if (ms >= fromMs && ms <= toMs) out += line + '\n';
    }
    return out;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(ReviewExport, ARangeIsExactlyTheCsvRowsInIt)
{
    RecordedPair pair;
    QString error;
    auto fromPair = readRecording(pair.bytes(), &error);
    ASSERT_TRUE(fromPair) << error.toStdString();
    ASSERT_EQ(fromPair->csvPath, pair.csv());
    Recording bytesAlone = *fromPair;
    bytesAlone.csvPath.clear();  // the rows written again from the frames
    const QByteArray csv = contents(pair.csv());
    struct Row { const char* range; int fromMs, toMs; };
    for (const Row row : {Row{"10:20", 10000, 20000}, Row{"0:0.041", 0, 41}, Row{"29.9:40", 29900, 40000},
                          Row{"5.241:5.241", 5241, 5241}, Row{"100:200", 100000, 200000}}) {
        SCOPED_TRACE(row.range);
        const auto range = parseRange(QString::fromLatin1(row.range));
        ASSERT_TRUE(range);
        const QByteArray expected = rowsBetween(csv, row.fromMs, row.toMs);
        EXPECT_EQ(csvRange(*fromPair, *range, &error).value_or("refused"), expected);
        EXPECT_EQ(csvRange(bytesAlone, *range, &error).value_or("refused"), expected);
        // The statistics count the frames of those rows, no more, no fewer.
        const RangeStatistics s = statistics(*fromPair, *range);
        EXPECT_EQ(s.waveformFrames, std::size_t(expected.count(",waveform,")));
        EXPECT_EQ(s.valuesFrames, std::size_t(expected.count(",values,")));
        EXPECT_EQ(s.statusFrames, std::size_t(expected.count(",status,")));
    }
    EXPECT_GT(rowsBetween(csv, 10000, 20000).count('\n'), 1000);
}

TEST(ReviewRecording, BytesAndTheirCsvGiveTheSameReadings)
{
    RecordedPair pair;
    QString error;
    const auto fromBytes = readRecording(pair.bytes(), &error);
    ASSERT_TRUE(fromBytes) << error.toStdString();
    ASSERT_TRUE(QFile::remove(pair.bytes()));
    const auto fromCsv = readRecording(pair.csv(), &error);
    ASSERT_TRUE(fromCsv) << error.toStdString();

    EXPECT_EQ(fromBytes->trace.size(), 2999u);  // the last frame waits for a header that never came
    EXPECT_EQ(fromCsv->trace.ch1, fromBytes->trace.ch1);
    EXPECT_EQ(fromCsv->trace.ch2, fromBytes->trace.ch2);
    std::vector<std::int64_t> milliseconds;
    for (const std::int64_t t : fromBytes->trace.microseconds) milliseconds.push_back(t / 1000 * 1000);
    EXPECT_EQ(fromCsv->trace.microseconds, milliseconds);
    ASSERT_EQ(fromCsv->beats.size(), fromBytes->beats.size());
    for (std::size_t i = 0; i < fromCsv->beats.size(); ++i) EXPECT_EQ(fromCsv->beats[i].values, fromBytes->beats[i].values);
    ASSERT_EQ(fromCsv->statuses.size(), fromBytes->statuses.size());
    EXPECT_EQ(fromCsv->statuses.back().codes, fromBytes->statuses.back().codes);
    ASSERT_EQ(fromBytes->identifications.size(), 1u);
    ASSERT_EQ(fromCsv->identifications.size(), 1u);
    EXPECT_EQ(fromCsv->identifications[0].text, fromBytes->identifications[0].text);
    EXPECT_EQ(fromBytes->port, "COM1 (/dev/pts/9)");
    EXPECT_EQ(fromCsv->started, fromBytes->started);
}

// A .csv without its .bytes shows what the board sent, not the CSV's escaped
// form of it; older rows, written before the text was escaped, as they stand.
TEST(ReviewRecording, ACsvAloneGivesTheExactIdentification)
{
    const std::string sent = "=cmd|' /C calc'!A0 \\\\share\\fw \"2.4\", v\\x41\x01\t\x7f\r\nserial 0042";
    ASSERT_GE(sent.size(), kMinIdentificationChars);
    QTemporaryDir dir;
    const QString csv = dir.filePath("id.csv");
    {
        std::int64_t now = 0;
        record::Recorder::Clock clock{[&] { return 1796637362123 + now / 1000; }, [&] { return now; }};
        QString error;
        auto recorder = record::Recorder::start(csv, {"COM1", "", "quorvid test"}, &error, clock);
        ASSERT_TRUE(recorder) << error.toStdString();
        Framer framer;
        framer.setFrameObserver(recorder.get());
        now = 250'000;
        ByteString block = encodeIdentification(sent);
        const ByteString wave = encodeWaveform({150, 90});
        block.insert(block.end(), wave.begin(), wave.end());
        framer.feed(block);
        now = 260'000;
        framer.feed(wave);
    }
    QString error;
    const auto fromBytes = readRecording(record::Recorder::bytesPathFor(csv), &error);
    ASSERT_TRUE(fromBytes) << error.toStdString();
    ASSERT_EQ(fromBytes->identifications.size(), 1u);
    EXPECT_EQ(fromBytes->identifications[0].text.toStdString(), sent);
    ASSERT_TRUE(QFile::remove(record::Recorder::bytesPathFor(csv)));
    const auto fromCsv = readRecording(csv, &error);
    ASSERT_TRUE(fromCsv) << error.toStdString();
    ASSERT_EQ(fromCsv->identifications.size(), 1u);
    EXPECT_EQ(fromCsv->identifications[0].text.toStdString(), sent);
    EXPECT_EQ(fromCsv->identifications[0].microseconds, 250'000);

    QFile older(csv);
    ASSERT_TRUE(older.open(QIODevice::WriteOnly | QIODevice::Truncate));
    older.write(QByteArray(record::kCsvHeader.data()) + "\n2026-12-07T09:56:02.123Z,0.000,identification,,,,,,,,,,,,"
                "\"=board\tC:\\fw, \"\"2.4\"\"\"\n");
    older.close();
    const auto fromOlder = readRecording(csv, &error);
    ASSERT_TRUE(fromOlder) << error.toStdString();
    ASSERT_EQ(fromOlder->identifications.size(), 1u);
    EXPECT_EQ(fromOlder->identifications[0].text, QStringLiteral("=board\tC:\\fw, \"2.4\""));
}

TEST(ReviewRecording, ABadFileIsRefusedNamingItsLine)
{
    QByteArray longFile = "# recording started 2026-12-07T09:56:02.123Z\n";
    for (int i = 1; i < 120000; ++i) record::appendBytesLine(longFile, i * 1000, "\xc4\x10\x20");
    QByteArray longCsv = QByteArray(record::kCsvHeader.data()) + '\n';
    for (int i = 1; i < 60000; ++i) longCsv += "2026-12-07T09:56:02.123Z," + QByteArray::number(i) + ".000,waveform,1,2,,,,,,,,,,\n";
    struct Case { const char* name; QByteArray text; const char* file; const char* error; const char* warning; };
    const Case cases[] = {
        {"bad hex", "# c\n0.1\tc4 10 20\n0.2\tc4 zz\n", "x.bytes", "line 3: byte 2 is not two hex digits", ""},
        {"time going back", "0.5\tc4 10 20\n\n0.2\tc4 10 20\n", "x.bytes", "line 3: the time 0.200000 is before", ""},
        {"far into the file", longFile + "12\tc4\n", "x.bytes", "line 120001: the time 12.000000 is before", ""},
        {"torn last line", "0.1\tc4 10 20\n0.2\tc4 1", "x.bytes", "", "line 2: the last line"},
        {"torn far into the file", longFile + "120.1\tc", "x.bytes", "", "line 120001: the last line"},
        {"not a recording's rows", "a,b\n1,2\n", "x.csv", "line 1: not the header", ""},
        {"empty rows", "", "x.csv", "line 1: not the header", ""},
        {"rows far into the file", longCsv + "Z,1.5,waveform,1,2,,,,,,,,,,\n", "x.csv", "line 60001: t_s 1.5 is before", ""},
        {"short row", QByteArray(record::kCsvHeader.data()) + "\n2026-12-07T09:56:02.123Z,0.1,waveform,1\n", "x.csv",
         "line 2: 4 fields where a row has 15", ""},
        {"bad time", QByteArray(record::kCsvHeader.data()) + "\nZ,0.1,status,,,,,,,,,,0,0,a\nZ,x,waveform,1,2,,,,,,,,,,\n",
         "x.csv", "line 3: t_s 'x' is not a time", ""},
        {"bad reading", QByteArray(record::kCsvHeader.data()) + "\nZ,0.1,waveform,1,?,,,,,,,,,,\n", "x.csv",
         "line 2: a waveform row with a field that is not a number", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(c.file);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.text);
        file.close();
        QString error;
        const auto r = readRecording(path, &error);
        if (*c.error) {
            EXPECT_FALSE(r);
            EXPECT_TRUE(error.startsWith(QDir::toNativeSeparators(path) + ": ")) << error.toStdString();
            EXPECT_TRUE(error.contains(c.error)) << error.toStdString();
        } else {
            ASSERT_TRUE(r) << error.toStdString();
            ASSERT_EQ(r->warnings.size(), 1);
            EXPECT_TRUE(r->warnings[0].startsWith(c.warning)) << r->warnings[0].toStdString();
            EXPECT_GE(r->lastMicroseconds, 100'000);
        }
    }
}

}  // namespace
