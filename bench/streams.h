// Byte streams for the benchmarks and the fuzzer's seeds: what the board sends
// in a given number of seconds at a given waveform rate.
#pragma once

#include "frames.h"

#include <cmath>
#include <random>

namespace quorvid::bench {

inline ByteString boardStream(double seconds, int framesPerSecond = 150)
{
    ByteString out;
    const int frames = static_cast<int>(seconds * framesPerSecond);
    const int perBeat = framesPerSecond * 4 / 5;  // 75 beats a minute
    for (int i = 0; i < frames; ++i) {
        const double phase = double(i % perBeat) / perBeat;
        const auto s1 = static_cast<std::int16_t>(200 + 40 * std::sin(6.2832 * phase));
        const auto s2 = static_cast<std::int16_t>(117 + 8 * std::sin(6.2832 * phase));
        const ByteString w = encodeWaveform({s1, s2});
        out.insert(out.end(), w.begin(), w.end());
        if (i % perBeat == 0) {
            const ByteString v = encodeValues({120, 93, 80, 25, 15, 10, 75});
            out.insert(out.end(), v.begin(), v.end());
        }
        if (i % framesPerSecond == 0) {
            const ByteString s = encodeStatus({0, 0});
            out.insert(out.end(), s.begin(), s.end());
        }
    }
    return out;
}

inline ByteString randomStream(std::size_t size, unsigned seed = 42)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    ByteString out(size);
    for (Byte& b : out) b = static_cast<Byte>(byte(rng));
    return out;
}

}  // namespace quorvid::bench
