// Measuring a recording over a range of time: each channel's readings, the
// beats that lie in it, the frames of each kind and the statuses seen; and
// the reading under a cursor.
#pragma once

#include "csvtable.h"
#include "recording.h"

#include <QByteArray>

#include <array>
#include <optional>

namespace quorvid::review {

struct ChannelStatistics {
    std::size_t count = 0;
    double mean = 0;
    double sd = 0;  // the sample standard deviation (n - 1); 0 for one reading
    int min = 0;
    int max = 0;
};

struct BeatStatistics {
    std::size_t count = 0;
    // Means over the beats in the range, in mmHg and beats per minute.
    double sys1 = 0, map1 = 0, dia1 = 0, sys2 = 0, map2 = 0, dia2 = 0, pulse = 0;
};

struct RangeStatistics {
    TimeRange range;
    std::array<ChannelStatistics, 2> channels;
    BeatStatistics beats;
    std::size_t waveformFrames = 0, valuesFrames = 0, statusFrames = 0, identificationFrames = 0;
    std::vector<StatusCodes> statusesSeen;  // each pair once, in the order first seen
};

// Everything with a time in the range, both ends included, taken as the rows
// are: by their t_s, to the millisecond.
RangeStatistics statistics(const Recording& recording, TimeRange range);

// The statistics as one JSON object, for --stats.
QByteArray statisticsJson(const RangeStatistics& s);

// The readings under a cursor at time t: the last sample drawn at or before t
// (the first one when t lies before it); nullopt for a recording without
// samples.
struct Reading {
    std::int64_t microseconds = 0;  // where the sample is drawn
    int ch1 = 0;
    int ch2 = 0;
};
std::optional<Reading> readingAt(const Trace& trace, std::int64_t t);

}  // namespace quorvid::review
