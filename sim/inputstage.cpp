#include "inputstage.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quorvid::sim {

std::complex<double> notchResponse(double hz, double notchHz, double q)
{
    // (s^2 + w0^2) / (s^2 + s w0 / Q + w0^2) at s = j w.
    const double w = 2 * std::numbers::pi * hz, w0 = 2 * std::numbers::pi * notchHz;
    const double across = w0 * w0 - w * w;
    return across / std::complex<double>(across, w * w0 / q);
}

void InputStage::setCorner(double hz)
{
    m_cornerHz = hz;
    m_designedFor = 0;
    m_rest = true;
}

void InputStage::design(int sampleHz)
{
    // The bilinear transform, prewarped so the digital stage is 3 dB down at
    // the corner itself. A corner at or past half the rate cannot be drawn at
    // that rate: the stage then rounds off just below it, as sampling would.
    const double fc = std::min(m_cornerHz, 0.45 * sampleHz);
    const double k = std::tan(std::numbers::pi * fc / sampleHz);
    const double q = std::numbers::sqrt2;
    const double norm = 1 / (1 + q * k + k * k);
    m_b0 = k * k * norm;
    m_b1 = 2 * m_b0;
    m_b2 = m_b0;
    m_a1 = 2 * (k * k - 1) * norm;
    m_a2 = (1 - q * k + k * k) * norm;
    m_designedFor = sampleHz;
}

double InputStage::step(double x, int sampleHz)
{
    if (!on()) return x;
    if (sampleHz != m_designedFor) design(sampleHz);
    if (m_rest) {
        // The state of a stage that has read x for ever: its output is x.
        m_z1 = x - m_b0 * x;
        m_z2 = m_b2 * x - m_a2 * x;
        m_rest = false;
    }
    const double y = m_b0 * x + m_z1;
    m_z1 = m_b1 * x - m_a1 * y + m_z2;
    m_z2 = m_b2 * x - m_a2 * y;
    return y;
}

}  // namespace quorvid::sim
