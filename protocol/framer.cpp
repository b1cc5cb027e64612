#include "framer.h"

#include <algorithm>
#include <cstring>

namespace quorvid {

namespace {

// Slots and frames keep their capacity, so a copy is a plain byte copy.
inline void copyFrame(ByteString& to, const ByteString& from)
{
    to.resize(from.size());
    std::memcpy(to.data(), from.data(), from.size());
}

}  // namespace

Framer::Framer(WaveformSink* sink)
    : m_sink(sink)
{
    // Enough for any frame the board sends, so the receive path does not allocate.
    for (ByteString* s : {&FrameCur, &FrameLast, &FrameInfo, &FrameStatus, &FrameValues})
        s->reserve(256);
}

bool Framer::feed(Bytes block)
{
    bool stored = false;
    const Byte* p = block.data();
    const Byte* const end = p + block.size();
    while (p != end) {
        if (isHeader(*p)) {
            const Byte b = *p++;
            FrameLast.swap(FrameCur);
            FrameCur.clear();
            FrameCur.push_back(b);
            TextMode = (b == kIdentificationHeader);
            stored |= dispatch();
            continue;
        }
        // A run of payload bytes goes into the frame in one step.
        const Byte* run = p;
        while (p != end && !isHeader(*p)) ++p;
        appendPayload(run, p);
    }
    return stored;
}

void Framer::appendPayload(const Byte* first, const Byte* last)
{
    const std::size_t room = kMaxFrameBytes - FrameCur.size();
    if (!TextMode) {
        const auto n = std::min<std::size_t>(room, static_cast<std::size_t>(last - first));
        FrameCur.insert(FrameCur.end(), first, first + n);
        return;
    }
    const auto n = std::min<std::size_t>(room / 2, static_cast<std::size_t>(last - first));
    for (const Byte* b = first; b != first + n; ++b) {
        FrameCur.push_back(*b);
        FrameCur.push_back(0x00);
    }
}

bool Framer::dispatch()
{
    if (FrameLast.empty()) return false;
    switch (frameKind(FrameLast.front())) {
    case FrameKind::Identification:
        copyFrame(FrameInfo, FrameLast);
        return true;
    case FrameKind::Status:
        copyFrame(FrameStatus, FrameLast);
        return true;
    case FrameKind::Waveform:
        HandleWaveFrame(FrameLast);
        return false;
    case FrameKind::Values:
        copyFrame(FrameValues, FrameLast);
        return true;
    case FrameKind::None:
        break;  // payload that came before the first header
    }
    return false;
}

void Framer::HandleWaveFrame(const ByteString& frame)
{
    auto samples = decodeWaveform(frame);
    if (samples && m_sink) m_sink->PlotSamples(samples->s1, samples->s2);
}

}  // namespace quorvid
