// The simulated patient: a train of heart beats and the pressure each channel
// reads during a beat. Pure arithmetic over an injected time; the only state is
// the random generator that varies one beat from the next, so a seed gives the
// same beats on every run and every platform.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <random>

namespace quorvid::sim {

// Time since the board started.
using SimTime = std::chrono::microseconds;

enum class WaveMode {
    Patient,    // arterial and pulmonary-artery pressures, beats vary a little
    Synthetic,  // the board's own test signal: a triangle and a square, exactly periodic
};

// One channel's pressures over one beat, in mmHg.
struct BeatPressure {
    double sys = 0;
    double dia = 0;
};

struct Beat {
    SimTime start{0};
    SimTime length{0};
    WaveMode mode = WaveMode::Patient;
    std::array<BeatPressure, 2> channel;  // [0] channel 1, [1] channel 2

    SimTime end() const { return start + length; }
    int pulseRate() const;  // beats per minute, rounded
};

// Uniform in [-1, 1) from the raw 64-bit output, so that the numbers do not
// depend on how a standard library implements its distributions.
double symmetricUnit(std::mt19937_64& rng);

class PressureWave {
public:
    static constexpr SimTime kNominalBeat{800'000};  // 75 beats a minute

    explicit PressureWave(std::uint64_t seed);

    // The beat in progress and the one after it; the second is drawn ahead so
    // that the diastolic level can glide from one beat into the next.
    const Beat& current() const { return m_current; }
    const Beat& following() const { return m_next; }

    // Ends the current beat: the following one starts, and one more is drawn
    // in the given mode.
    void advance(WaveMode nextMode);
    // Draws the following beat again if it is not in the given mode, so that a
    // change of mode shows from the end of the beat in progress.
    void setFollowingMode(WaveMode mode);

    // Pressure in mmHg on channel (0 or 1) at time t within the current beat.
    double pressure(int channel, SimTime t) const;

    // Mean pressure of the current beat on a channel, as the waveform gives it.
    double mean(int channel) const;

private:
    Beat draw(SimTime start, WaveMode mode);

    std::mt19937_64 m_rng;
    Beat m_current;
    Beat m_next;
};

}  // namespace quorvid::sim
