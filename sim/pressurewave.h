// The simulated patient: a train of heart beats and the pressure each channel
// reads during a beat. Pure arithmetic over an injected time; the only state is
// the random generator that varies one beat from the next, so a seed gives the
// same beats on every run and every platform.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
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
    std::array<bool, 2> pulmonary{false, true};  // the channel's shape: pulmonary-artery, else arterial
    // The beat's draws in [-1, 1): length, then each channel's systolic and
    // diastolic. Kept so that a new setting reshapes a beat already drawn
    // without drawing again.
    std::array<double, 5> units{};
    // Where the diastolic level glides to, when a setting changed the
    // following beat while this one was in progress; else the following
    // beat's diastolic.
    std::optional<std::array<double, 2>> glideTo;

    SimTime end() const { return start + length; }
    int pulseRate() const;  // beats per minute, rounded
};

// A channel's pulsatile shape: arterial or pulmonary-artery, between dia and sys.
struct PulseSetting {
    bool pulmonary = false;
    double sys = 120;
    double dia = 80;
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

    // The shape, rate and variation of the beats drawn from now on; reshape()
    // puts them into the following beat too. The defaults are the patient
    // the board always had: 120/80 arterial, 25/10 pulmonary, 75 a minute.
    void setPulse(int channel, PulseSetting pulse) { m_pulse[channel] = pulse; }
    void setRate(double beatsPerMinute) { m_rate = beatsPerMinute; }
    void setVariation(bool on) { m_variation = on; }
    // The following beat takes the settings, from the same draws; the beat in
    // progress keeps its course to the end.
    void reshapeFollowing();

    // Pressure in mmHg on channel (0 or 1) at time t within the current beat.
    double pressure(int channel, SimTime t) const;

    // Mean pressure of the current beat on a channel, as the waveform gives it.
    double mean(int channel) const;

private:
    Beat draw(SimTime start, WaveMode mode);
    void shape(Beat& b) const;
    double glideTo(int channel) const;

    std::mt19937_64 m_rng;
    std::array<PulseSetting, 2> m_pulse{PulseSetting{false, 120, 80}, PulseSetting{true, 25, 10}};
    double m_rate = 75;
    bool m_variation = true;
    Beat m_current;
    Beat m_next;
};

}  // namespace quorvid::sim
