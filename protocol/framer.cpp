#include "framer.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quorvid {

namespace {

// Slots and frames keep their capacity, so a copy is a plain byte copy.
inline void copyFrame(ByteString& to, const ByteString& from)
{
    to.resize(from.size());
    std::memcpy(to.data(), from.data(), from.size());
}

// The first header byte in [p, end), or end. Eight bytes are tested at a
// time: a header is a byte with its top bit set, and on a noisy line every
// second byte is one, where a byte-by-byte scan would mispredict at each.
const Byte* findHeader(const Byte* p, const Byte* end)
{
    constexpr std::uint64_t kTopBits = 0x8080808080808080u;
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        word &= kTopBits;
        if (word != 0) {
            const int bit = std::endian::native == std::endian::little ? std::countr_zero(word)
                                                                       : std::countl_zero(word);
            return p + bit / 8;
        }
        p += 8;
    }
    while (p != end && !isHeader(*p)) ++p;
    return p;
}

}  // namespace

Framer::Framer(WaveformSink* sink)
    : m_sink(sink)
{
    // Enough for any frame the board sends, so the receive path does not allocate.
    for (ByteString* s : {&FrameCur, &FrameLast, &FrameInfo, &FrameStatus, &FrameValues})
        s->reserve(256);
}

// Only the frame that straddles a block's edge is assembled in FrameCur.
// Frames that begin and end inside the block are taken where they lie: a
// waveform frame is plotted at once, in order; of the other kinds only the
// last one in the block can be left in its slot, so each slot is written once
// per block, after the scan. Nobody reads the slots while a block is being
// taken, so the result is the same as storing every frame as it ends.
bool Framer::feed(Bytes block)
{
    if (m_observer) m_observer->blockReceived(block);
    const Byte* const end = block.data() + block.size();
    const Byte* head = findHeader(block.data(), end);
    appendPayload(block.data(), head);
    if (head == end) return false;

    // The frame assembled across blocks ends here.
    FrameLast.swap(FrameCur);
    if (m_observer && !FrameLast.empty() && isHeader(FrameLast.front()))
        m_observer->frameCompleted(FrameLast);
    bool stored = dispatch();

    struct Span {
        const Byte* first = nullptr;
        const Byte* last = nullptr;
    };
    Span latest[3];  // identification, status, values
    Span lastFrame;
    for (;;) {
        const Byte* next = findHeader(head + 1, end);
        if (next == end) break;
        const Span frame{head, next};
        if (m_observer) observeFrame(Bytes(head, next));
        switch (frameKind(*head)) {
        case FrameKind::Waveform:
            if (m_sink) {
                if (auto samples = decodeWaveform(Bytes(head, next)))
                    m_sink->PlotSamples(samples->s1, samples->s2);
            }
            break;
        case FrameKind::Identification:
            latest[0] = frame;
            break;
        case FrameKind::Status:
            latest[1] = frame;
            break;
        case FrameKind::Values:
            latest[2] = frame;
            break;
        case FrameKind::None:
            break;  // cannot happen: every frame here starts with a header
        }
        lastFrame = frame;
        head = next;
    }

    ByteString* const slots[3] = {&FrameInfo, &FrameStatus, &FrameValues};
    for (int kind = 0; kind < 3; ++kind) {
        if (!latest[kind].first) continue;
        storeFrame(*slots[kind], Bytes(latest[kind].first, latest[kind].last));
        stored = true;
    }
    if (lastFrame.first) storeFrame(FrameLast, Bytes(lastFrame.first, lastFrame.last));

    // The frame still open at the end of the block.
    FrameCur.clear();
    FrameCur.push_back(*head);
    TextMode = (*head == kIdentificationHeader);
    appendPayload(head + 1, end);
    return stored;
}

void Framer::storeFrame(ByteString& to, Bytes frame)
{
    to.clear();
    to.push_back(frame.front());
    appendStored(to, frame.data() + 1, frame.data() + frame.size(),
                 frame.front() == kIdentificationHeader);
}

void Framer::appendPayload(const Byte* first, const Byte* last)
{
    const std::size_t dropped = appendStored(FrameCur, first, last, TextMode);
    if (!m_observer || first == last) return;
    // Before the first header everything is outside a frame, kept or not.
    const bool headless = FrameCur.empty() || !isHeader(FrameCur.front());
    const std::size_t outside = headless ? static_cast<std::size_t>(last - first) : dropped;
    if (outside > 0) m_observer->bytesOutsideFrames(outside);
}

void Framer::observeFrame(Bytes frame)
{
    // Only an identification frame differs from its stored form, or one past the cap.
    if (frame.front() != kIdentificationHeader && frame.size() <= kMaxFrameBytes) {
        m_observer->frameCompleted(frame);
        return;
    }
    m_observed.clear();
    m_observed.push_back(frame.front());
    const std::size_t dropped = appendStored(m_observed, frame.data() + 1, frame.data() + frame.size(),
                                             frame.front() == kIdentificationHeader);
    if (dropped > 0) m_observer->bytesOutsideFrames(dropped);
    m_observer->frameCompleted(m_observed);
}

std::size_t Framer::appendStored(ByteString& frame, const Byte* first, const Byte* last, bool text)
{
    const std::size_t room = kMaxFrameBytes - frame.size();
    const auto count = static_cast<std::size_t>(last - first);
    if (!text) {
        const auto n = std::min<std::size_t>(room, count);
        frame.insert(frame.end(), first, first + n);
        return count - n;
    }
    const auto n = std::min<std::size_t>(room / 2, count);
    for (const Byte* b = first; b != first + n; ++b) {
        frame.push_back(*b);
        frame.push_back(0x00);
    }
    return count - n;
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
