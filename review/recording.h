// A recording read back for review: both channels' readings, the beats, the
// status changes and the identifications, each with its time since the
// recording began, and the header notes. Built block by block through the
// program's own framer, so it holds exactly the frames the window would have
// shown and the CSV rows name; or, for a .csv without its .bytes, from the rows.
#pragma once

#include "framer.h"
#include "notes.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quorvid::review {

// A frame with the time of the block that completed it, as its CSV row has it.
struct Beat {
    std::int64_t microseconds = 0;
    Values values;
};
struct StatusMark {
    std::int64_t microseconds = 0;
    StatusCodes codes;
};
struct IdentificationMark {
    std::int64_t microseconds = 0;
    QString text;
};

// The waveform readings in mmHg (mmHgOf), compact: two times and two
// 16-bit readings per waveform frame, in flat arrays. Times never decrease.
//
// A block carries several readings, which all have its time (as their rows
// do); ranges, statistics and exports go by that time. Drawn at one time they
// would make a staircase of the port's reads, so each is drawn where it was
// sent: a block's readings spread evenly back from its time over the time
// since the block before, at most kMaxDrawnSpacing apart.
struct Trace {
    static constexpr std::int64_t kMaxDrawnSpacing = 20'000;  // the board's slowest pace

    std::vector<std::int64_t> microseconds;
    std::vector<std::int64_t> drawnAt;
    std::vector<std::int16_t> ch1;
    std::vector<std::int16_t> ch2;

    std::size_t size() const { return microseconds.size(); }
    // The first sample at or after t, and the first after t, by time.
    std::size_t lowerIndex(std::int64_t t) const;
    std::size_t upperIndex(std::int64_t t) const;
    // The same by where they are drawn.
    std::size_t lowerDrawnIndex(std::int64_t t) const;
    std::size_t upperDrawnIndex(std::int64_t t) const;
    // Fills drawnAt from microseconds, once all readings are in.
    void spreadBlocks();
};

struct Recording {
    QString path;       // as opened
    QString csvPath;    // the rows for a range export; empty when there are none
    QDateTime started;  // UTC; invalid when the file does not say
    QString port;       // the start notes, as written: record::StartNotes::portText()
    QString program;
    QStringList comments;  // every comment line, in order
    QStringList warnings;  // what was passed over, e.g. a torn last line

    Trace trace;
    std::vector<Beat> beats;
    std::vector<StatusMark> statuses;
    std::vector<IdentificationMark> identifications;
    std::int64_t lastMicroseconds = 0;  // the last block's or row's time

    // "port COM1 (/dev/ttyUSB0), program quorvid 1.0.1, started 2026-12-07 09:56:02 UTC"
    QString notes() const;
};

// Takes a .bytes recording one block at a time and hands every completed
// frame, decoded once, to the recording.
class RecordingBuilder : private FrameObserver {
public:
    RecordingBuilder();
    ~RecordingBuilder() override;
    void takeComment(const QString& comment);
    void takeBlock(std::int64_t microseconds, Bytes block);
    Recording& recording() { return m_recording; }

    // Sees every shown frame with its block's time, in file order, for
    // writing the rows again.
    using FrameHook = std::function<void(const DecodedFrame&, std::int64_t microseconds)>;
    void setFrameHook(FrameHook hook) { m_hook = std::move(hook); }

private:
    void blockReceived(Bytes block) override;
    void frameCompleted(Bytes storedFrame) override;
    void bytesOutsideFrames(std::size_t count) override;

    Framer m_framer;
    Recording m_recording;
    record::StartNotes m_start;
    std::int64_t m_blockTime = 0;
    FrameHook m_hook;
};

// Reads NAME.bytes (through the framer) or NAME.csv (from its rows; the rows
// of a .csv are used for a range export either way when they lie beside the
// .bytes). On failure returns nullopt with *error naming the file, and the
// line and what is wrong with it.
std::optional<Recording> readRecording(const QString& path, QString* error);

// A .bytes file alone, through builder.
bool readBytesInto(const QString& path, RecordingBuilder& builder, QString* error);

// The .csv beside a .bytes ("a/x.bytes" gives "a/x.csv") and the reverse.
QString csvBeside(const QString& bytesPath);
QString bytesBeside(const QString& csvPath);

}  // namespace quorvid::review
