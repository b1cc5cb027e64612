#include "reduction.h"

#include <algorithm>
#include <cmath>

namespace quorvid::review {

std::int64_t ReducedView::columnStart(std::size_t i) const
{
    const std::size_t n = ch1.size();
    if (n == 0 || i >= n) return to;
    return from + std::llround(static_cast<double>(to - from) * static_cast<double>(i) / static_cast<double>(n));
}

namespace {

void fold(const std::int16_t* first, const std::int16_t* last, Column& c)
{
    if (first == last) {
        c = Column{};
        return;
    }
    const auto [lo, hi] = std::minmax_element(first, last);
    c = Column{false, *lo, *hi, *first, *(last - 1)};
}

}  // namespace

void reduce(const Trace& trace, std::int64_t from, std::int64_t to, int columns, ReducedView& out)
{
    const auto n = static_cast<std::size_t>(std::max(1, columns));
    out.from = from;
    out.to = std::max(from, to);
    out.ch1.resize(n);
    out.ch2.resize(n);
    std::size_t begin = trace.lowerDrawnIndex(from);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t end = i + 1 == n ? trace.upperDrawnIndex(out.to) : trace.lowerDrawnIndex(out.columnStart(i + 1));
        const std::size_t stop = std::max(begin, end);
        fold(trace.ch1.data() + begin, trace.ch1.data() + stop, out.ch1[i]);
        fold(trace.ch2.data() + begin, trace.ch2.data() + stop, out.ch2[i]);
        begin = stop;
    }
}

}  // namespace quorvid::review
