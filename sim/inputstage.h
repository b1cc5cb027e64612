// A channel's input stage as a second-order Butterworth low-pass, run once a
// sample at the board's frame rate: a board whose front end rounds off the
// pulse. Off, it passes every sample through untouched, so a board without a
// bandwidth sends exactly what it always did.
#pragma once

#include <complex>

namespace quorvid::sim {

// The board's mains filter, an analogue second-order notch at notchHz ahead of
// the input stage and the sampling: its response to a sine of hz, the
// amplitude and phase the sine leaves it with. Nothing is left at the notch
// itself; a sine a tenth off it keeps about 90 % at kNotchQ.
inline constexpr double kNotchQ = 5;
std::complex<double> notchResponse(double hz, double notchHz, double q = kNotchQ);

class InputStage {
public:
    // The corner in Hz; 0 for none.
    void setCorner(double hz);
    double corner() const { return m_cornerHz; }
    bool on() const { return m_cornerHz > 0; }

    // The next sample at sampleHz. The first after the corner or the rate
    // changed starts from rest at that input, as a stage long powered up would.
    double step(double x, int sampleHz);

private:
    void design(int sampleHz);

    double m_cornerHz = 0;
    int m_designedFor = 0;  // the rate the coefficients are for; 0: none yet
    double m_b0 = 1, m_b1 = 0, m_b2 = 0, m_a1 = 0, m_a2 = 0;
    double m_z1 = 0, m_z2 = 0;  // transposed direct form II
    bool m_rest = true;
};

}  // namespace quorvid::sim
