#include "frames.h"

#include <algorithm>

namespace quorvid {

namespace {

// The 2-bit fields of a header or flag byte, moved to bits 8..7 of a 9-bit value.
constexpr int high54(Byte b) { return (b & 0x30) * 8; }
constexpr int high32(Byte b) { return (b & 0x0C) * 32; }
constexpr int high10(Byte b) { return (b & 0x03) * 128; }
constexpr int pulseBit(Byte b) { return (b & 0x40) * 2; }

constexpr std::int16_t pressure(int raw) { return static_cast<std::int16_t>(raw - kPressureOffset); }

constexpr Byte low7(int v) { return static_cast<Byte>(v & 0x7F); }
constexpr int hi2(int v) { return (v >> 7) & 0x03; }

int clampRaw9(int v) { return std::clamp(v, 0, 511); }

}  // namespace

const std::array<std::string_view, kStatusTextCount> kStatusTexts = {
    "Normal Operation",
    "No Waveform",
    "Zeroing...",
    "Value out of Range !!!",
    "Zeroing Failed !!!",
    "Initializing...",
    "Zeroing ok",
    "No Sensor !!!",
    "Sensor Connected",
    "Simulated Output",
    "Not Calibrated !!!",
    "Selftest Error !!!",
    "", "", "", "", "", "", "", "", "",
};

std::string_view statusTextFor(unsigned code)
{
    return code < kStatusTexts.size() ? kStatusTexts[code] : std::string_view{};
}

bool isShownFrame(Bytes f)
{
    if (f.empty()) return false;
    switch (frameKind(f[0])) {
    case FrameKind::Identification: return f.size() > kIdentificationShownAbove;
    case FrameKind::Status: return f.size() > kStatusShownAbove;
    case FrameKind::Values: return f.size() > kValuesShownAbove;
    case FrameKind::Waveform: return f.size() >= kMinWaveformLength;
    case FrameKind::None: break;
    }
    return false;
}

std::optional<Samples> decodeWaveform(Bytes f)
{
    if (f.size() < kMinWaveformLength) return std::nullopt;
    const Byte h = f[0];
    return Samples{static_cast<std::int16_t>(f[1] + high32(h)),
                   static_cast<std::int16_t>(f[2] + high10(h))};
}

std::optional<Values> decodeValues(Bytes f)
{
    if (f.size() < kMinValuesLength) return std::nullopt;
    const Byte h = f[0];
    const Byte flags = f[4];
    Values v;
    v.sys1 = pressure(f[1] + high54(h));
    v.map1 = pressure(f[2] + high32(h));
    v.dia1 = pressure(f[3] + high10(h));
    v.sys2 = pressure(f[5] + high54(flags));
    v.map2 = pressure(f[6] + high32(flags));
    v.dia2 = pressure(f[7] + high10(flags));
    v.pulse = static_cast<std::int16_t>(f[8] + pulseBit(flags));
    return v;
}

std::optional<StatusCodes> decodeStatus(Bytes f)
{
    if (f.size() < kMinStatusLength) return std::nullopt;
    return StatusCodes{f[1], f[2]};
}

std::u16string decodeIdentification(Bytes f)
{
    std::u16string text;
    if (f.empty()) return text;
    text.reserve((f.size() - 1) / 2);
    for (std::size_t i = 1; i + 1 < f.size(); i += 2)
        text.push_back(static_cast<char16_t>(f[i] | (f[i + 1] << 8)));
    return text;
}

DecodedFrame decodeFrame(Bytes f)
{
    DecodedFrame d;
    if (f.empty()) return d;
    d.kind = frameKind(f[0]);
    if (!isShownFrame(f)) return d;
    switch (d.kind) {
    case FrameKind::Waveform: d.samples = *decodeWaveform(f); break;
    case FrameKind::Values: d.values = *decodeValues(f); break;
    case FrameKind::Status: d.codes = *decodeStatus(f); break;
    case FrameKind::Identification: d.text = decodeIdentification(f); break;
    case FrameKind::None: return d;
    }
    d.shown = true;
    return d;
}

ByteString encodeWaveform(Samples s)
{
    const int s1 = clampRaw9(s.s1);
    const int s2 = clampRaw9(s.s2);
    return {static_cast<Byte>(0xC0 | (hi2(s1) << 2) | hi2(s2)), low7(s1), low7(s2)};
}

ByteString encodeValues(const Values& v)
{
    auto raw = [](int mmHg) { return clampRaw9(mmHg + kPressureOffset); };
    const int sys1 = raw(v.sys1), map1 = raw(v.map1), dia1 = raw(v.dia1);
    const int sys2 = raw(v.sys2), map2 = raw(v.map2), dia2 = raw(v.dia2);
    const int pulse = std::clamp<int>(v.pulse, 0, 255);
    const auto header = static_cast<Byte>(0x80 | (hi2(sys1) << 4) | (hi2(map1) << 2) | hi2(dia1));
    const auto flags = static_cast<Byte>(((pulse >> 7) << 6) | (hi2(sys2) << 4) | (hi2(map2) << 2)
                                         | hi2(dia2));
    return {header, low7(sys1), low7(map1), low7(dia1), flags,
            low7(sys2), low7(map2), low7(dia2), low7(pulse)};
}

ByteString encodeStatus(StatusCodes codes, Byte header)
{
    if (header < 0xD0 || header == kIdentificationHeader) header = 0xD0;
    return {header, static_cast<Byte>(codes.ch1 & 0x7F), static_cast<Byte>(codes.ch2 & 0x7F)};
}

ByteString encodeIdentification(std::string_view text)
{
    ByteString frame;
    frame.reserve(text.size() + 1);
    frame.push_back(kIdentificationHeader);
    for (char c : text) frame.push_back(static_cast<Byte>(c) & 0x7F);
    return frame;
}

}  // namespace quorvid
