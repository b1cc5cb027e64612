// What the terminal monitor prints for the board's frames, as pure functions
// of the frames and the times: the text lines people read and the link
// figures. The CSV rows are the recording's own (record/csvrows.h).
#pragma once

#include "frames.h"

#include <QTime>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvid::monitor {

// Local time of day with milliseconds: "09:56:02.123".
std::string timeOfDay(QTime time);

// A line as printed: the time, two spaces, the text.
std::string stamped(QTime time, std::string_view text);

// "ch1 120/80 (93)  ch2 25/10 (15)  pulse 75": systolic/diastolic (mean).
std::string valuesText(const Values& values);

// "status  Normal Operation | Zeroing...". A code the table has no text for
// reads as "code 12".
std::string statusText(StatusCodes codes);

// "identification  <text>", control characters as spaces, trailing blanks
// dropped, so the text stays on its line.
std::string identificationText(std::u16string_view text);

// Turns completed frames into text lines (without their time): every values
// frame and identification, and a status only when it differs from the last
// one shown. Frames the window ignores, and waveform frames, give none.
class TextLines {
public:
    std::optional<std::string> lineFor(const DecodedFrame& frame);

private:
    std::optional<StatusCodes> m_lastStatus;
};

// Running totals of the link since the monitor started.
struct LinkCounts {
    std::uint64_t bytes = 0;           // received, in frames or not
    std::uint64_t waveform = 0;        // frames shown or plotted, by kind
    std::uint64_t values = 0;
    std::uint64_t status = 0;
    std::uint64_t identification = 0;
    std::uint64_t outsideFrames = 0;   // bytes before a first header or past the frame cap
    std::uint64_t tooShort = 0;        // frames too short for their kind

    void countFrame(const DecodedFrame& frame);
};

// "link  960 B/s  100 waveform/s  frames: 1000 waveform, 13 values, 10 status,
// 0 identification  outside frames 0 B  too short 0": the rates between two
// readings of the totals taken seconds apart (rounded to whole numbers), then
// the totals of now.
std::string linkText(const LinkCounts& now, const LinkCounts& before, double seconds);

}  // namespace quorvid::monitor
