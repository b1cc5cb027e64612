#include "pressurewave.h"

#include <cmath>
#include <numbers>

namespace quorvid::sim {

namespace {

using std::numbers::pi;

// Rises from 0 to 1 along half a cosine as x goes from 0 to 1.
double ease(double x) { return 0.5 - 0.5 * std::cos(pi * x); }

// The shape of one beat, 0 at the start and end of the beat and 1 at the
// systolic peak: a quick upstroke, a fall to the dicrotic notch (the aortic
// valve closing), the small dicrotic wave after it, and the diastolic run-off.
struct PulseShape {
    double peakAt;     // end of the upstroke
    double notchAt;    // bottom of the notch
    double notch;      // level at the notch
    double waveAt;     // top of the dicrotic wave
    double wave;       // level there
    double runoff;     // steepness of the exponential run-off

    double operator()(double phi) const
    {
        if (phi < peakAt) return ease(phi / peakAt);
        if (phi < notchAt) return notch + (1 - notch) * (1 - ease((phi - peakAt) / (notchAt - peakAt)));
        if (phi < waveAt) return notch + (wave - notch) * ease((phi - notchAt) / (waveAt - notchAt));
        const double x = (phi - waveAt) / (1 - waveAt);
        return wave * (std::exp(-runoff * x) - std::exp(-runoff)) / (1 - std::exp(-runoff));
    }
};

// The arterial notch is deep enough to see at 50 samples a second; the
// pulmonary artery's is shallow, as it is in life.
constexpr PulseShape kArterial{0.13, 0.36, 0.40, 0.44, 0.50, 2.0};
constexpr PulseShape kPulmonary{0.16, 0.42, 0.34, 0.48, 0.38, 1.6};

double triangle(double phi) { return phi < 0.5 ? 2 * phi : 2 - 2 * phi; }
double square(double phi) { return phi < 0.5 ? 1.0 : 0.0; }

// Channel 0 of the patient is arterial and channel 1 pulmonary, unless a
// setting says otherwise.
double shape(WaveMode mode, int channel, double phi)
{
    if (mode == WaveMode::Synthetic) return channel == 0 ? triangle(phi) : square(phi);
    return channel == 0 ? kArterial(phi) : kPulmonary(phi);
}

double shapeOf(const Beat& b, int channel, double phi)
{
    if (b.mode == WaveMode::Synthetic) return shape(b.mode, channel, phi);
    return shape(b.mode, b.pulmonary[channel] ? 1 : 0, phi);
}

// Mean of a shape over a beat, by the midpoint rule; fine enough that the
// rounded mean pressure does not depend on it.
double shapeMean(WaveMode mode, int channel)
{
    constexpr int kSteps = 4000;
    double sum = 0;
    for (int i = 0; i < kSteps; ++i) sum += shape(mode, channel, (i + 0.5) / kSteps);
    return sum / kSteps;
}

struct ShapeMeans {
    double patient[2];
    double synthetic[2];
};

const ShapeMeans& shapeMeans()
{
    static const ShapeMeans means{
        {shapeMean(WaveMode::Patient, 0), shapeMean(WaveMode::Patient, 1)},
        {shapeMean(WaveMode::Synthetic, 0), shapeMean(WaveMode::Synthetic, 1)}};
    return means;
}

}  // namespace

double symmetricUnit(std::mt19937_64& rng)
{
    // 53 random bits make a double in [0, 1) exactly.
    const double u = static_cast<double>(rng() >> 11) * 0x1.0p-53;
    return 2 * u - 1;
}

int Beat::pulseRate() const
{
    return static_cast<int>(std::lround(60e6 / static_cast<double>(length.count())));
}

PressureWave::PressureWave(std::uint64_t seed) : m_rng(seed)
{
    m_current = draw(SimTime{0}, WaveMode::Patient);
    m_next = draw(m_current.end(), WaveMode::Patient);
}

Beat PressureWave::draw(SimTime start, WaveMode mode)
{
    Beat b;
    b.start = start;
    b.mode = mode;
    if (mode == WaveMode::Synthetic) {
        b.length = kNominalBeat;
        b.channel = {BeatPressure{120, 80}, BeatPressure{25, 10}};
        return b;
    }
    // Drawn whatever the settings, so that a channel's setting never changes
    // the other channel's beats, nor the beats after it.
    for (double& u : b.units) u = symmetricUnit(m_rng);
    shape(b);
    return b;
}

void PressureWave::shape(Beat& b) const
{
    if (b.mode == WaveMode::Synthetic) return;
    // A few per cent on the beat length and a few mmHg on the pressures,
    // centred on the set values: enough that the readouts move from beat to
    // beat, never enough to leave the ranges a bench user expects (72..78 bpm,
    // 116..124 / 77..83 arterial, 24..26 / 9..11 pulmonary at the defaults).
    const double nominal = static_cast<double>(std::lround(60e6 / m_rate));
    const double lengthScale = m_variation ? 1 + 0.04 * b.units[0] : 1.0;
    b.length = SimTime{std::lround(nominal * lengthScale)};
    for (int ch = 0; ch < 2; ++ch) {
        const PulseSetting& p = m_pulse[ch];
        const double sysSpread = p.pulmonary ? 1 : 4, diaSpread = p.pulmonary ? 1 : 3;
        const double us = b.units[1 + 2 * ch], ud = b.units[2 + 2 * ch];
        b.pulmonary[ch] = p.pulmonary;
        b.channel[ch] = {m_variation ? p.sys + sysSpread * us : p.sys, m_variation ? p.dia + diaSpread * ud : p.dia};
    }
}

void PressureWave::reshapeFollowing()
{
    if (!m_current.glideTo)
        m_current.glideTo = std::array<double, 2>{m_next.channel[0].dia, m_next.channel[1].dia};
    shape(m_next);
}

void PressureWave::advance(WaveMode nextMode)
{
    m_current = m_next;
    m_next = draw(m_current.end(), nextMode);
}

void PressureWave::setFollowingMode(WaveMode mode)
{
    if (m_next.mode != mode) m_next = draw(m_next.start, mode);
}

double PressureWave::pressure(int channel, SimTime t) const
{
    const Beat& b = m_current;
    double phi = static_cast<double>((t - b.start).count()) / static_cast<double>(b.length.count());
    if (phi < 0) phi = 0;
    if (phi > 1) phi = 1;
    const BeatPressure& p = b.channel[channel];
    double value = p.dia + (p.sys - p.dia) * shapeOf(b, channel, phi);
    // A patient's diastolic level glides into the next beat's instead of
    // stepping at the beat boundary; the synthetic signal stays exact.
    if (b.mode == WaveMode::Patient) value += (glideTo(channel) - p.dia) * phi;
    return value;
}

double PressureWave::mean(int channel) const
{
    const Beat& b = m_current;
    const BeatPressure& p = b.channel[channel];
    if (b.mode == WaveMode::Synthetic)
        return p.dia + (p.sys - p.dia) * shapeMeans().synthetic[channel];
    return p.dia + (p.sys - p.dia) * shapeMeans().patient[b.pulmonary[channel] ? 1 : 0]
           + (glideTo(channel) - p.dia) / 2;
}

double PressureWave::glideTo(int channel) const
{
    return m_current.glideTo ? (*m_current.glideTo)[static_cast<std::size_t>(channel)] : m_next.channel[channel].dia;
}

}  // namespace quorvid::sim
