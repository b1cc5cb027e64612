// The per-pixel-column reduction the review draws from: for each column of a
// time span, the lowest and highest reading of each channel in it, and the
// first and last, so that a trace drawn from columns keeps every extreme (a
// single-sample spike shows at any zoom) and joins its neighbours. A redraw
// costs one pass over the samples in view and nothing per sample drawn.
#pragma once

#include "recording.h"

#include <cstdint>
#include <vector>

namespace quorvid::review {

struct Column {
    bool empty = true;
    std::int16_t min = 0, max = 0, first = 0, last = 0;
};

struct ReducedView {
    std::int64_t from = 0;  // microseconds, the left edge of column 0
    std::int64_t to = 0;    // the right edge of the last column
    std::vector<Column> ch1;
    std::vector<Column> ch2;
    // Where column i begins; column i holds the samples with times in
    // [columnStart(i), columnStart(i + 1)), the last one its right edge too.
    std::int64_t columnStart(std::size_t i) const;
};

// Reduces the samples drawn at from..to into columns (at least one) of
// equal span. Reuses out's storage.
void reduce(const Trace& trace, std::int64_t from, std::int64_t to, int columns, ReducedView& out);

}  // namespace quorvid::review
