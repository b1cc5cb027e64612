#include "framer.h"

namespace quorvid {

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
    for (const Byte b : block) {
        if (isHeader(b)) {
            FrameLast.swap(FrameCur);
            FrameCur.assign(1, b);
            TextMode = (b == kIdentificationHeader);
            stored |= dispatch();
        } else if (FrameCur.size() + (TextMode ? 2 : 1) <= kMaxFrameBytes) {
            FrameCur.push_back(b);
            if (TextMode) FrameCur.push_back(0x00);
        }
    }
    return stored;
}

bool Framer::dispatch()
{
    if (FrameLast.empty()) return false;
    switch (frameKind(FrameLast.front())) {
    case FrameKind::Identification:
        FrameInfo.assign(FrameLast.begin(), FrameLast.end());
        return true;
    case FrameKind::Status:
        FrameStatus.assign(FrameLast.begin(), FrameLast.end());
        return true;
    case FrameKind::Waveform:
        HandleWaveFrame(FrameLast);
        return false;
    case FrameKind::Values:
        FrameValues.assign(FrameLast.begin(), FrameLast.end());
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
