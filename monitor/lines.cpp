#include "lines.h"

#include <QString>

#include <cmath>

namespace quorvid::monitor {

std::string timeOfDay(QTime time)
{
    return time.toString(QStringLiteral("hh:mm:ss.zzz")).toStdString();
}

std::string stamped(QTime time, std::string_view text)
{
    std::string line = timeOfDay(time);
    line += "  ";
    line += text;
    return line;
}

std::string valuesText(const Values& v)
{
    return QStringLiteral("ch1 %1/%2 (%3)  ch2 %4/%5 (%6)  pulse %7")
        .arg(v.sys1).arg(v.dia1).arg(v.map1)
        .arg(v.sys2).arg(v.dia2).arg(v.map2)
        .arg(v.pulse)
        .toStdString();
}

namespace {

std::string statusName(Byte code)
{
    const std::string_view text = statusTextFor(code);
    if (text.empty()) return "code " + std::to_string(code);
    return std::string(text);
}

}  // namespace

std::string statusText(StatusCodes codes)
{
    return "status  " + statusName(codes.ch1) + " | " + statusName(codes.ch2);
}

std::string identificationText(std::u16string_view text)
{
    QString shown = QString::fromStdU16String(std::u16string(text));
    for (QChar& c : shown)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) c = u' ';
    while (!shown.isEmpty() && shown.back().isSpace()) shown.chop(1);
    return "identification  " + shown.toStdString();
}

std::optional<std::string> TextLines::lineFor(const DecodedFrame& frame)
{
    if (!frame.shown) return std::nullopt;
    switch (frame.kind) {
    case FrameKind::Values:
        return valuesText(frame.values);
    case FrameKind::Status:
        if (m_lastStatus == frame.codes) return std::nullopt;
        m_lastStatus = frame.codes;
        return statusText(frame.codes);
    case FrameKind::Identification:
        return identificationText(frame.text);
    case FrameKind::Waveform:
    case FrameKind::None:
        break;
    }
    return std::nullopt;
}

void LinkCounts::countFrame(const DecodedFrame& frame)
{
    if (frame.kind == FrameKind::None) return;
    if (!frame.shown) {
        ++tooShort;
        return;
    }
    switch (frame.kind) {
    case FrameKind::Waveform: ++waveform; break;
    case FrameKind::Values: ++values; break;
    case FrameKind::Status: ++status; break;
    case FrameKind::Identification: ++identification; break;
    case FrameKind::None: break;
    }
}

namespace {

std::uint64_t perSecond(std::uint64_t now, std::uint64_t before, double seconds)
{
    if (seconds <= 0 || now < before) return 0;
    return static_cast<std::uint64_t>(std::llround(static_cast<double>(now - before) / seconds));
}

}  // namespace

std::string linkText(const LinkCounts& now, const LinkCounts& before, double seconds)
{
    auto n = [](std::uint64_t v) { return std::to_string(v); };
    return "link  " + n(perSecond(now.bytes, before.bytes, seconds)) + " B/s  " +
           n(perSecond(now.waveform, before.waveform, seconds)) + " waveform/s  frames: " + n(now.waveform) +
           " waveform, " + n(now.values) + " values, " + n(now.status) + " status, " + n(now.identification) +
           " identification  outside frames " + n(now.outsideFrames) + " B  too short " + n(now.tooShort);
}

}  // namespace quorvid::monitor
