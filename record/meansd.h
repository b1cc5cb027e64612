// The mean and the sample standard deviation of a run of readings, the one
// computation behind the review's statistics over a range and the
// evaluation's figures over a measurement.
#pragma once

#include <cmath>
#include <cstddef>
#include <ranges>

namespace quorvid::record {

struct MeanSd {
    std::size_t count = 0;
    double mean = 0;
    double sd = 0;  // the sample standard deviation (n - 1); 0 for fewer than two
};

// Sums in double, so integer readings (mmHg) sum exactly: their mean is exact
// to the last bit whatever their order.
template <std::ranges::forward_range Readings>
MeanSd meanSd(const Readings& readings)
{
    MeanSd s;
    double sum = 0;
    for (const auto v : readings) {
        sum += static_cast<double>(v);
        ++s.count;
    }
    if (s.count == 0) return s;
    s.mean = sum / static_cast<double>(s.count);
    if (s.count > 1) {
        double squares = 0;
        for (const auto v : readings) squares += (static_cast<double>(v) - s.mean) * (static_cast<double>(v) - s.mean);
        s.sd = std::sqrt(squares / static_cast<double>(s.count - 1));
    }
    return s;
}

}  // namespace quorvid::record
