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

#include <cstdint>
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
};

// Parses a whole .bytes text. On the first line it cannot take returns nullopt
// and sets *error to "line N: <what is wrong>" (N counted from 1). Refused: a
// time that is not a non-negative decimal, a time before the previous block's,
// a missing tab, anything but hex byte pairs separated by single spaces (a
// line with no bytes included). Upper-case hex digits and fewer than six
// decimals are taken, for files edited by hand. Absurd input is refused rather
// than trusted: more than 9 digits before the point or 6 after it, a line
// longer than 4 MiB; readBytesFile also refuses a file larger than 1 GiB.
std::optional<BytesRecording> parseBytes(QByteArrayView text, QString* error);

// Reads and parses a file; the error names the file, and the line or the
// system's reason.
std::optional<BytesRecording> readBytesFile(const QString& path, QString* error);

// Appends one block's line as the recorder writes it, "\n" included: the time
// with six decimals, a tab, the bytes. parseBytes reads it back exactly.
void appendBytesLine(QByteArray& to, std::int64_t microseconds, QByteArrayView bytes);

}  // namespace quorvid::record
