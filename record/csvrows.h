// The recording's CSV rows: one per completed frame that the window would show
// or plot, for spreadsheets and pandas (RFC 4180, UTF-8, "\n" line ends).
#pragma once

#include "frames.h"

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvid::record {

inline constexpr std::string_view kCsvHeader =
    "time_utc,t_s,kind,ch1_mmHg,ch2_mmHg,sys1,map1,dia1,sys2,map2,dia2,pulse,status1,status2,text";

// The columns, in header order; a row has kCsvColumnCount fields. A waveform
// row fills Ch1 and Ch2, a values row Sys1 to Pulse, a status row Status1,
// Status2 and Text, an identification row Text.
enum CsvColumn : int {
    TimeUtcColumn,  // isoUtc of the block that completed the frame
    SecondsColumn,  // t_s: writeSeconds with three decimals
    KindColumn,     // kindName
    Ch1Column,
    Ch2Column,
    Sys1Column,
    Map1Column,
    Dia1Column,
    Sys2Column,
    Map2Column,
    Dia2Column,
    PulseColumn,
    Status1Column,
    Status2Column,
    TextColumn,  // csvText; textFromCsv reads it back
    kCsvColumnCount
};

// When the block that completed a frame arrived. The row's t_s is the elapsed
// time cut down (never rounded up) to the millisecond.
struct RowTime {
    std::int64_t utcMilliseconds = 0;      // since the epoch, UTC
    std::int64_t elapsedMicroseconds = 0;  // since the recording began
};

// "2026-12-07T09:56:02.123Z"
std::string isoUtc(std::int64_t utcMilliseconds);
// The inverse, for any ISO 8601 time with milliseconds (an offset is taken
// into account); nullopt when the text is not one.
std::optional<std::int64_t> parseIsoUtc(QByteArrayView text);

// Seconds with `decimals` (1 to 6) decimals, cut down, never rounded up, so
// that a time in a row is never later than the same time in the .bytes file:
// "12.345678" or "12.345" for 12 345 678 us. A negative time counts as 0.
// Writes at most kSecondsTextMax characters at `to`; returns the end.
inline constexpr int kSecondsTextMax = 28;
char* writeSeconds(char* to, std::int64_t microseconds, int decimals);

// The same as text for messages, reports and windows. A time may be rounded
// to the nearest instead (half away from zero), and a negative one (a span
// backwards) gets a minus sign: "12.345", "-0.500".
enum class SecondsRounding { Down, Nearest };
QString secondsText(std::int64_t microseconds, int decimals,
                    SecondsRounding rounding = SecondsRounding::Down);

// "12.345" or "10" (seconds, up to nine digits and six decimals, not
// negative) in microseconds, as t_s and the command line write them; nullopt
// for anything else.
std::optional<std::int64_t> parseSeconds(QByteArrayView text);

// The kind column of a frame kind: "waveform", "values", "status",
// "identification"; empty for FrameKind::None.
std::string_view kindName(FrameKind kind);

// One field, quoted as RFC 4180 asks when it holds a comma, a quote, CR or LF.
std::string csvField(std::string_view text);

// The text column's field: readable, and inert in a spreadsheet. A control
// character becomes \xHH (two lower-case hex digits) and a backslash is
// doubled, so the board's text can be had back exactly; a text that starts
// with '=', '+', '-' or '@' (which a spreadsheet runs as a formula), after
// any apostrophes, gets one more apostrophe in front. Then quoted as
// csvField does.
std::string csvText(std::string_view text);

// The text a text column's field (already unquoted) was written from: the
// inverse of csvText. A field that csvText cannot have written (a control
// character or a lone backslash in it, or a formula character at its start)
// comes from a row written before the text was escaped, and is the text as
// it stands.
std::string textFromCsv(std::string_view field);

// The row (without its line end) of a completed frame in its stored form, as
// FrameObserver hands it over; nullopt for a frame the window ignores (too
// short for its kind, or no header).
std::optional<std::string> csvRow(Bytes storedFrame, const RowTime& at);
std::optional<std::string> csvRow(const DecodedFrame& frame, const RowTime& at);

}  // namespace quorvid::record
