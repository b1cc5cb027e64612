// Cuts the board's byte stream into frames and routes each completed frame.
//
// A frame is complete only when the next header byte arrives. Waveform frames
// are decoded at once and handed to the waveform sink in arrival order;
// identification, status and values frames are kept in one slot per kind that
// holds only the latest frame of that kind, whatever its length, until the
// readout refresh takes it. An identification frame is stored with each
// character as two bytes (the byte, then 0x00), so n characters take 1 + 2n
// bytes. Nothing here knows about ports, timers or widgets.
#pragma once

#include "frames.h"

#include <cstdint>

namespace quorvid {

// Receives the two samples of each waveform frame. The samples are the
// receiver's to change: the framer does not look at them afterwards.
class WaveformSink {
public:
    virtual ~WaveformSink() = default;
    virtual void PlotSamples(std::int16_t& s1, std::int16_t& s2) = 0;
};

// Sees the stream as the framer takes it, for recording and link figures:
// every block as it arrives, then every frame that block completes, in arrival
// order, before any slot can be read. Frames come in their stored form (an
// identification frame's characters widened, everything capped at
// Framer::kMaxFrameBytes), whatever their length and whether or not a later
// frame of the same block replaces them in their slot.
class FrameObserver {
public:
    virtual ~FrameObserver() = default;
    virtual void blockReceived(Bytes block) = 0;
    virtual void frameCompleted(Bytes storedFrame) = 0;
    // Bytes that belong to no frame: payload before the first header byte and
    // payload past the cap. Reported as they are dropped.
    virtual void bytesOutsideFrames(std::size_t count) = 0;
};

class Framer {
public:
    // The longest frame kept while it is being assembled, in stored bytes. A
    // stream that never sends a header byte would otherwise grow it without
    // end; real frames are far shorter. Payload past the cap is dropped until
    // the next header byte.
    static constexpr std::size_t kMaxFrameBytes = 4096;

    explicit Framer(WaveformSink* sink = nullptr);

    void setWaveformSink(WaveformSink* sink) { m_sink = sink; }
    // At most one observer; null for none. Without one the receive path does
    // no extra work.
    void setFrameObserver(FrameObserver* observer) { m_observer = observer; }
    FrameObserver* frameObserver() const { return m_observer; }

    // Takes one block of received bytes. Returns true when the block stored a
    // frame in one of the three slots.
    bool feed(Bytes block);

    // Decodes a completed waveform frame and plots it; a frame too short to
    // hold both samples is dropped.
    void HandleWaveFrame(const ByteString& frame);

    ByteString FrameCur;     // being assembled: header, then the payload so far
    ByteString FrameLast;    // completed most recently
    ByteString FrameInfo;    // latest identification frame, stored form
    ByteString FrameStatus;  // latest status frame
    ByteString FrameValues;  // latest values frame
    bool TextMode = false;   // the frame being assembled is an identification frame

private:
    bool dispatch();
    void appendPayload(const Byte* first, const Byte* last);
    // A whole frame as it lies in a block, into its stored form: capped, and
    // an identification frame's characters widened to two bytes.
    static void storeFrame(ByteString& to, Bytes frame);
    // Returns how many of the bytes did not fit under the cap.
    static std::size_t appendStored(ByteString& frame, const Byte* first, const Byte* last, bool text);
    void observeFrame(Bytes frame);

    WaveformSink* m_sink = nullptr;
    FrameObserver* m_observer = nullptr;
    ByteString m_observed;  // a frame inside a block, in stored form, for the observer
};

}  // namespace quorvid
