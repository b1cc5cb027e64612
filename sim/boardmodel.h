// The simulated board as the line sees it: the commands it hears and the frames
// it sends, each with the time it is due. No I/O and no clock of its own: the
// caller says what time it is, so the same seed, commands and times give the
// same bytes, and a test can run ten simulated seconds in a few milliseconds.
//
// What it sends, all made by the frame encoder in protocol/frames.h:
// - a waveform frame per sample, 100 a second (50 after "S0", 150 after "S2");
//   a sample is the pressure in mmHg + 100;
// - a values frame at the end of every beat, with that beat's pressures and rate;
// - a status frame every second, and one at once whenever a channel's code changes;
// - an identification frame in answer to "I".
//
// The line carries 960 bytes a second (9600 baud, 8N1). Frames wait for the
// line: a frame is due no earlier than the moment the bytes before it would have
// left the wire, so by any time t at most 960 * t bytes plus the frame being
// sent have gone out. The steady load is under half the line (150 waveform
// frames of 3 bytes, a values frame a beat, a status frame a second), so an
// identification frame's burst only delays a few samples, which catch up within
// a tenth of a second. Only a host that floods the board with commands can ask
// for more than the line carries; then waiting frames are merged (one status
// frame with the newest codes, one identification) and samples that have waited
// longer than kMaxSampleDelay are thinned out, so the trace stays current and
// the backlog bounded.
#pragma once

#include "boardsettings.h"
#include "inputstage.h"
#include "pressurewave.h"

#include "frames.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace quorvid::sim {

struct BoardOptions {
    std::uint64_t seed = 1;
    double dropProbability = 0;  // each outgoing byte is lost with this probability
    int noSensorChannel = 0;     // 1 or 2: that channel has no transducer ("chN off"); 0: both have one
    // Board number of count on one bench (quorvid-board --boards); 0: the
    // lone board, which names no number.
    int number = 0, count = 0;
};

// A channel's transducer and what the board made of it by zeroing.
struct Transducer {
    double gain = 1;
    double offset = 0;       // before zeroing, as last set
    double driftPerHour = 0;
    SimTime driftSince{0};   // when the offset was last set or the drift changed
    double drifted = 0;      // what the drift added before driftSince
    double noise = 0;        // standard deviation, mmHg
    double zero = 0;         // the reading captured by the last good zeroing
    InputStage stage;        // the board's input stage; off unless a bandwidth is set

    double offsetAt(SimTime t) const
    {
        return offset + drifted + driftPerHour * static_cast<double>((t - driftSince).count()) / 3.6e9;
    }
};

struct DueFrame {
    SimTime due{0};
    SimTime scheduled{0};  // when it was made; due is later when it waited for the line
    FrameKind kind = FrameKind::None;
    ByteString bytes;           // what goes on the line: the frame less any dropped bytes
    std::size_t lineBytes = 0;  // the frame's length before dropping; the line time it takes
};

class BoardModel {
public:
    static constexpr int kLineBytesPerSecond = 960;
    static constexpr SimTime kStatusPeriod{1'000'000};
    static constexpr SimTime kZeroingTime{1'000'000};    // "Zeroing..." (2)
    static constexpr SimTime kZeroedTime{2'000'000};     // then "Zeroing ok" (6)
    static constexpr SimTime kMaxSampleDelay{100'000};

    explicit BoardModel(BoardOptions options = {});

    // How long n bytes take on the line at kLineBytesPerSecond.
    static SimTime lineTime(std::size_t n);

    // Bytes heard from the host at time now. Two-letter commands may arrive
    // split over several calls; bytes that make no command are ignored.
    void feedCommandBytes(Bytes bytes, SimTime now);

    // The frames due up to and including time until, in order, each once.
    std::vector<DueFrame> takeDue(SimTime until);

    // When the next frame may fall due; takeDue at that time may still return
    // nothing (a timer that found no change of status).
    SimTime nextDue() const;

    int framesPerSecond() const { return m_rate; }
    WaveMode mode() const { return m_mode; }
    int filterHz() const { return m_filterHz; }
    StatusCodes statusAt(SimTime t) const;
    // Samples left out because the line was full for too long.
    std::uint64_t thinnedSamples() const { return m_thinned; }

    // The answer to "I": names the simulated board and its version, and its
    // number when it is one of several.
    static std::string identificationText();
    static std::string identificationText(int number, int count);

    // One setting in the control line's words ("ch1 static 100", "ch2 gain 1.06", "rate 60",
    // "variation off", "ch1 mains 60 20", ...), in effect from now (a pulsatile shape from the next beat).
    // Returns the empty string when it is taken, else what is wrong with it (nothing changes then).
    //
    // The channel reads gain x applied pressure + offset (+ drift x time) + noise - zero.
    // Zeroing ("Z1", "Z2", "Z3") captures a static input's reading as the zero; it
    // fails on a pulsatile or sine input, without a transducer, and beyond +-50 mmHg.
    // While neither channel has a pulsatile input there are no beats: a values frame
    // comes once a second, each static channel's three pressures its reading
    // averaged over that second, the pulse 0 (a sine's frequency when one is set).
    std::string applySetting(std::string_view line, SimTime now);
    void applySetting(const Setting& setting, SimTime now);

    const ChannelInput& input(int channel) const { return m_input[channel - 1]; }
    const Interference& mains(int channel) const { return m_mains[channel - 1]; }
    const Transducer& transducer(int channel) const { return m_transducer[channel - 1]; }

private:

    void execute(char command, char argument, SimTime now);
    void generate(SimTime until);
    SimTime nextWaveTime() const;
    SimTime nextStatusTime() const;
    void queue(SimTime at, FrameKind kind, const ByteString& frame);
    DueFrame* waiting(FrameKind kind, SimTime now);
    void sendWaveform(SimTime t);
    void sendValues();
    void sendStatus(SimTime t);
    void statusMayHaveChanged(SimTime now);
    void startZeroing(int channel, SimTime now);
    bool channelHasSignal(int channel) const;
    bool beating() const;
    void beatingMayHaveChanged(SimTime now);
    SimTime nextValuesTick() const;
    void sendTickValues();
    void channelValues(int channel, SimTime t, std::int16_t (&p)[3]);
    // A channel with a bandwidth: its three values from its trace since the
    // last values frame, a beat's or a second's.
    bool shownValues(int channel, std::int16_t (&p)[3], bool beat) const;
    double applied(int channel, SimTime t) const;
    // The channel's mains interference as the board's filter leaves it.
    double interference(int channel, SimTime t) const;
    double transduce(int channel, double pressure, SimTime t) const;
    double gaussian();
    double averageReading(int channel, SimTime t) const;
    void restartAverage(int channel);
    ByteString dropBytes(const ByteString& frame);

    BoardOptions m_options;
    PressureWave m_wave;
    std::mt19937_64 m_dropRng;
    std::mt19937_64 m_noiseRng;

    std::array<ChannelInput, 2> m_input;
    std::array<std::optional<ChannelInput>, 2> m_pendingInput;  // a pulsatile shape waits for the next beat
    std::array<Transducer, 2> m_transducer;
    bool m_zeroFailed[2] = {false, false};
    bool m_beating = true;
    SimTime m_valuesTick{0};  // the next once-a-second values frame while there are no beats
    double m_readingSum[2] = {0, 0};
    int m_readings[2] = {0, 0};
    // What a channel with a bandwidth sent since its last values frame: its
    // values are what its rounded trace showed, not what was applied.
    std::vector<double> m_shown[2];

    // Interference on each input, and what each channel's filter makes of
    // "5" and "6"; none and sound unless a setting says otherwise.
    std::array<Interference, 2> m_mains{};
    std::array<NotchFault, 2> m_notch{NotchFault::Sound, NotchFault::Sound};

    WaveMode m_mode = WaveMode::Patient;
    int m_filterHz = 50;
    int m_rate = 100;
    char m_prefix = 0;  // 'Z' or 'S' while waiting for the second letter

    // Sample k of the current rate falls at m_waveEpoch + k / rate.
    SimTime m_waveEpoch{0};
    std::int64_t m_waveIndex = 0;

    SimTime m_nextStatus{0};
    StatusCodes m_lastCodes{};
    std::vector<SimTime> m_codeChanges;  // future ends of zeroing phases
    SimTime m_zeroingEnd[2] = {SimTime{-1}, SimTime{-1}};
    SimTime m_zeroedEnd[2] = {SimTime{-1}, SimTime{-1}};

    SimTime m_generatedUntil{-1};
    std::deque<DueFrame> m_queue;  // made, given their time on the line, not yet taken
    SimTime m_lineFreeAt{0};
    std::uint64_t m_thinned = 0;
};

}  // namespace quorvid::sim
