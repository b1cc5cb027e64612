// Frames of the board's byte stream (9600 baud, 8N1).
//
// A byte with the top bit set is a header byte: it ends the frame before it and
// begins a new one. Every other byte is payload, 7 bits of data. There is no
// length, terminator or checksum; quantities wider than 7 bits send their upper
// bits in the header or in a flag byte of the same frame.
//
// This file and frames.cpp depend on the standard library alone: the decoder, the
// encoder that the simulated board uses, and the status text table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvid {

using Byte = std::uint8_t;
using ByteString = std::vector<Byte>;
using Bytes = std::span<const Byte>;

inline constexpr Byte kIdentificationHeader = 0xE0;

enum class FrameKind { None, Identification, Status, Waveform, Values };

// Kind by first byte, tested in the board's order: 0xE0 lies inside the status
// range and is tested first. A first byte below 0x80 belongs to no kind.
constexpr FrameKind frameKind(Byte first)
{
    if (first == kIdentificationHeader) return FrameKind::Identification;
    if (first >= 0xD0) return FrameKind::Status;
    if (first >= 0xC0) return FrameKind::Waveform;
    if (first >= 0x80) return FrameKind::Values;
    return FrameKind::None;
}

constexpr bool isHeader(Byte b) { return b >= 0x80; }

// Shortest frame of each kind that the host uses.
inline constexpr std::size_t kMinWaveformLength = 3;
inline constexpr std::size_t kMinStatusLength = 3;
inline constexpr std::size_t kMinValuesLength = 9;
inline constexpr std::size_t kMinIdentificationChars = 50;

// The readout refresh takes a slot only when its stored frame is longer than
// this: an identification of 50 characters or more (1 + 2n bytes), a status
// frame of 3 bytes or more, a values frame of 9 or more.
inline constexpr std::size_t kIdentificationShownAbove = 2 * kMinIdentificationChars;
inline constexpr std::size_t kStatusShownAbove = kMinStatusLength - 1;
inline constexpr std::size_t kValuesShownAbove = kMinValuesLength - 1;

// Whether the window shows or plots a completed frame in its stored form: by
// the lengths above, and a waveform frame when it decodes. A frame without a
// header is never shown.
bool isShownFrame(Bytes storedFrame);

// Pressures travel as mmHg + 100, so that -100..411 mmHg fit in 9 bits.
inline constexpr int kPressureOffset = 100;

struct Samples {
    std::int16_t s1 = 0;  // raw: mmHg + 100
    std::int16_t s2 = 0;
    friend bool operator==(const Samples&, const Samples&) = default;
};

// A waveform sample's reading in mmHg, as the chart's scale reads it.
constexpr int mmHgOf(std::int16_t sample) { return sample - kPressureOffset; }

// Pressures in mmHg (raw - kPressureOffset), pulse rate in beats per minute (raw).
struct Values {
    std::int16_t sys1 = 0, map1 = 0, dia1 = 0;
    std::int16_t sys2 = 0, map2 = 0, dia2 = 0;
    std::int16_t pulse = 0;
    friend bool operator==(const Values&, const Values&) = default;
};

struct StatusCodes {
    Byte ch1 = 0;
    Byte ch2 = 0;
    friend bool operator==(const StatusCodes&, const StatusCodes&) = default;
};

// Decoders take a whole frame, header included, and refuse one too short for
// its kind; bytes beyond the last offset a kind uses are ignored.
std::optional<Samples> decodeWaveform(Bytes frame);
std::optional<Values> decodeValues(Bytes frame);
std::optional<StatusCodes> decodeStatus(Bytes frame);

// An identification frame as the framer stores it: the header byte, then each
// character as two bytes (the received byte, then 0x00). Returns the text as
// UTF-16 code units; a dangling half character at the end is left out.
std::u16string decodeIdentification(Bytes storedFrame);

// A completed frame in its stored form, decoded once for everything that reads
// frames after the framer: the recording's rows, the monitor's lines, the
// evaluation and the review. kind is None for a frame without a header byte;
// shown says whether the window would show or plot it (isShownFrame), and only
// a shown frame has its kind's field filled in.
struct DecodedFrame {
    FrameKind kind = FrameKind::None;
    bool shown = false;
    Samples samples;       // Waveform: the raw samples; mmHgOf() reads them
    Values values;         // Values
    StatusCodes codes;     // Status
    std::u16string text;   // Identification
};
DecodedFrame decodeFrame(Bytes storedFrame);

// The channel status texts, codes 0 to 20; 12 to 20 are empty.
inline constexpr std::size_t kStatusTextCount = 21;
extern const std::array<std::string_view, kStatusTextCount> kStatusTexts;

// Text for any code the payload byte can carry; codes past the table read as
// the empty text rather than outside it.
std::string_view statusTextFor(unsigned code);

// Encoders, the inverse of the decoders, for the simulated board and the tests.
// Inputs are clamped to what the format can carry (pressures -100..411 mmHg,
// samples 0..511, pulse 0..255, codes 0..127, text characters 0..127).
ByteString encodeWaveform(Samples samples);
ByteString encodeValues(const Values& values);
ByteString encodeStatus(StatusCodes codes, Byte header = 0xD0);
ByteString encodeIdentification(std::string_view text);

}  // namespace quorvid
