// Reads a recording's NAME.bytes file back: the received blocks with their
// times, for replaying a session on the simulated board. The files come from
// other people, so nothing in them is trusted.
//
// The format, as the recorder writes it: UTF-8 text, "\n" line ends (a "\r"
// before it is accepted). A line starting with '#' is a comment. Every other
// non-empty line is one block: seconds since the recording began with six
// decimals, a tab, then the block's bytes as two lower-case hex digits each,
// separated by single spaces, e.g. "12.345678\t80 1f c3".
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

class QIODevice;

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace quorvid::record {

struct RecordedBlock {
    std::int64_t microseconds = 0;  // since the recording began
    QByteArray bytes;
    friend bool operator==(const RecordedBlock&, const RecordedBlock&) = default;
};

struct BytesRecording {
    std::vector<RecordedBlock> blocks;  // in file order; times never decrease
    QStringList comments;               // the comment lines, '#' and one space removed
    QStringList warnings;               // "line N: ...", e.g. a torn last line skipped
};

// Reads a .bytes file block by block, in memory bounded by the longest line
// (at most 4 MiB) whatever the file's size. A last line without its line end
// was torn (the disk filled, the program was killed): it is skipped with a
// warning naming it, and the blocks before it stand. Refused lines are those
// parseBytes refuses.
class BytesReader {
public:
    explicit BytesReader(QIODevice* device);  // does not own it; reads it line by line
    ~BytesReader();
    BytesReader(const BytesReader&) = delete;
    BytesReader& operator=(const BytesReader&) = delete;

    // The next block, or nullopt at the end of the file or at the first line
    // it cannot take. It reads one block ahead: error(), warnings(),
    // comments() and line() may already tell of the lines after it.
    std::optional<RecordedBlock> next();
    bool atEnd() const;            // true after the last block was returned, or after an error
    QString error() const;         // "line N: <what is wrong>", empty when none
    QStringList warnings() const;  // e.g. "line N: the last line has no line end (torn), skipped"
    QStringList comments() const;  // the comment lines read so far, '#' and one space removed
    qint64 line() const;           // the line last read, from 1
    qint64 bytesRead() const;      // from the device so far

private:
    struct State;
    std::unique_ptr<State> m;
};

// Parses a whole .bytes text with a BytesReader. On the first line it cannot take returns nullopt
// and sets *error to "line N: <what is wrong>" (N counted from 1). Refused: a
// time that is not a non-negative decimal, a time before the previous block's,
// a missing tab, anything but hex byte pairs separated by single spaces (a
// line with no bytes included). Upper-case hex digits and fewer than six
// decimals are taken, for files edited by hand. Absurd input is refused rather
// than trusted: more than 9 digits before the point or 6 after it, a line
// longer than 4 MiB; readBytesFile also refuses a file larger than 1 GiB.
std::optional<BytesRecording> parseBytes(QByteArrayView text, QString* error);

// A recording of a whole day is some hundreds of megabytes of text at most;
// a larger file (either of its two) is not one, and reading it would only
// exhaust memory.
inline constexpr qint64 kMaxRecordingBytes = 1024LL * 1024 * 1024;
// "larger than 1024 MiB, too large for a recording"
QString tooLargeText(qint64 maxBytes = kMaxRecordingBytes);

// Reads and parses a whole file into memory, for small files; a long replay
// reads with a BytesReader instead. The error names the file, and the line or
// the system's reason.
std::optional<BytesRecording> readBytesFile(const QString& path, QString* error);

// Appends one block's line as the recorder writes it, "\n" included: the time
// with six decimals, a tab, the bytes. parseBytes reads it back exactly.
void appendBytesLine(QByteArray& to, std::int64_t microseconds, QByteArrayView bytes);

}  // namespace quorvid::record
