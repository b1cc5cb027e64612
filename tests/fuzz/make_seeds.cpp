// Writes the seed corpus of fuzz_receive: real frames from the board's encoders,
// each file led by the two bytes that tell the target how to cut the stream
// into blocks and which blocks come with another event (see fuzz_receive.cpp).
//
//   fuzz_seeds <folder>
#include "frames.h"
#include "streams.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>

using namespace quorvid;

namespace {

// Byte 0: the block pattern (bits 7..5) and its size (bits 4..0).
constexpr Byte kOneBlock = 0x00;
constexpr Byte fixedBlocks(int size) { return static_cast<Byte>(0x20 | (size - 1)); }
constexpr Byte growingBlocks(int largest) { return static_cast<Byte>(0x40 | (largest - 1)); }
constexpr Byte kSingleBytes = 0x60;
constexpr Byte kRandomUpTo16 = 0xA0;
constexpr Byte kRandomUpTo64 = 0xC5;

// Byte 1: which blocks come with a non-receive event (bits 5..0), payload bytes
// sent twice, and the slower refresh.
constexpr Byte kReceiveOnly = 0x00;
constexpr Byte kPayloadTwice = 0x40;
constexpr Byte kRefreshEveryFourth = 0x80;

struct Seed {
    std::string name;
    Byte pattern;
    Byte events;
    ByteString stream;

    Seed& add(const ByteString& bytes)
    {
        stream.insert(stream.end(), bytes.begin(), bytes.end());
        return *this;
    }
};

bool write(const std::string& folder, const Seed& seed)
{
    std::ofstream out(folder + "/" + seed.name, std::ios::binary);
    out.put(static_cast<char>(seed.pattern));
    out.put(static_cast<char>(seed.events));
    out.write(reinterpret_cast<const char*>(seed.stream.data()),
              static_cast<std::streamsize>(seed.stream.size()));
    return bool(out);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const ByteString closer{0x80};

    Seed values{"values", kOneBlock, kReceiveOnly, {}};
    values.add(encodeValues({120, 93, 80, 300, 15, 10, 150}))
        .add(encodeValues({-100, -100, -100, -100, -100, -100, 0}))
        .add(encodeValues({411, 411, 411, 411, 411, 411, 255}))
        .add(ByteString{0x80, 0x81})  // a values frame of length 1
        .add(closer);

    Seed status{"status", fixedBlocks(3), kReceiveOnly, {}};
    status.add(encodeStatus({6, 7}))
        .add(encodeStatus({0, 8}, 0xE1))
        .add(encodeStatus({12, 20}, 0xFF))
        .add(encodeStatus({21, 127}, 0xDF))
        .add(ByteString{0xD0, 0x01})  // too short to use
        .add(closer);

    Seed identification{"identification", kSingleBytes, kReceiveOnly, {}};
    identification.add(encodeIdentification("QX-1 two-channel IBP board, firmware 2.07, 9600 8N1"))
        .add(encodeWaveform({300, 45}))
        .add(encodeIdentification(std::string(49, 'x')))
        .add(closer);

    Seed waveform{"waveform", growingBlocks(5), kReceiveOnly, {}};
    waveform.add(encodeWaveform({300, 45}))
        .add(ByteString{0xC8})        // header only
        .add(ByteString{0xC8, 0x2C})  // one sample short
        .add(encodeWaveform({511, 511}))
        .add(encodeWaveform({0, 0}))
        .add(closer);

    Seed junk{"junk-before-header", 0x80, kReceiveOnly, {0x12, 0x34, 0x00, 0x7F}};
    junk.add(encodeValues({120, 93, 80, 25, 15, 10, 75})).add(closer);

    Seed wrap{"sweep-wrap", kRandomUpTo16, kReceiveOnly, {}};
    for (int i = 0; i < 380; ++i)
        wrap.add(encodeWaveform({static_cast<std::int16_t>(80 + i % 340),
                                 static_cast<std::int16_t>(420 - i % 340)}));
    wrap.add(closer);

    Seed events{"other-events", fixedBlocks(3), static_cast<Byte>(kRefreshEveryFourth | 0x15), {}};
    events.add(encodeIdentification(std::string(60, 'I')))
        .add(encodeStatus({1, 2}))
        .add(encodeWaveform({200, 117}))
        .add(encodeValues({120, 93, 80, 25, 15, 10, 75}))
        .add(encodeWaveform({210, 120}))
        .add(closer);

    // With each payload byte sent twice, the values and identification frames
    // outgrow what the framer keeps; the whole seed stays within 4096 bytes.
    Seed oversized{"oversized-frames", kRandomUpTo64, kPayloadTwice, {}};
    const std::pair<Byte, std::size_t> frames[] = {{0x95, 2060}, {0xE0, 1030}, {0xD0, 400}, {0xC8, 400}};
    for (const auto& [header, payload] : frames) {
        oversized.add(ByteString{header});
        oversized.add(ByteString(payload, 0x2C));
    }
    oversized.add(closer);

    Seed board{"board-3s", kRandomUpTo64, kReceiveOnly, {}};
    board.add(encodeIdentification("QX-1 two-channel IBP board, firmware 2.07, 9600 8N1"))
        .add(bench::boardStream(3.0, 150))
        .add(closer);

    Seed bytewise{"board-1s-bytewise", kSingleBytes, kRefreshEveryFourth, {}};
    bytewise.add(bench::boardStream(1.0, 150)).add(closer);

    for (const Seed* seed : {&values, &status, &identification, &waveform, &junk, &wrap, &events,
                             &oversized, &board, &bytewise}) {
        if (!write(folder, *seed)) {
            std::fprintf(stderr, "cannot write %s/%s\n", folder.c_str(), seed->name.c_str());
            return 1;
        }
    }
    return 0;
}
