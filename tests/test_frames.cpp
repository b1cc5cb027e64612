// Frame kinds, decode vectors and the encoder round trip.
#include "frames.h"

#include <gtest/gtest.h>

#include <random>

using namespace quorvid;

namespace {

ByteString bytes(std::initializer_list<int> list)
{
    ByteString out;
    for (int b : list) out.push_back(static_cast<Byte>(b));
    return out;
}

}  // namespace

TEST(FrameKind, HeaderRangesInTheBoardsOrder)
{
    struct Row { int header; FrameKind kind; };
    const Row rows[] = {
        {0xE0, FrameKind::Identification},
        {0xE1, FrameKind::Status},   {0xDF, FrameKind::Status},
        {0xD0, FrameKind::Status},   {0xFF, FrameKind::Status},
        {0xCF, FrameKind::Waveform}, {0xC0, FrameKind::Waveform},
        {0xBF, FrameKind::Values},   {0x80, FrameKind::Values},
        {0x7F, FrameKind::None},     {0x00, FrameKind::None},
    };
    for (const Row& r : rows)
        EXPECT_EQ(frameKind(static_cast<Byte>(r.header)), r.kind) << std::hex << r.header;
}

TEST(DecodeValues, Vectors)
{
    struct Row { const char* name; ByteString frame; Values expected; };
    const Row rows[] = {
        {"mixed", bytes({0x95, 0x5C, 0x41, 0x34, 0x70, 0x10, 0x73, 0x6E, 0x16}),
         {120, 93, 80, 300, 15, 10, 150}},
        {"all low", bytes({0x80, 0, 0, 0, 0, 0, 0, 0, 0}), {-100, -100, -100, -100, -100, -100, 0}},
        {"all high", bytes({0xBF, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F}),
         {411, 411, 411, 411, 411, 411, 255}},
        {"trailing bytes ignored", bytes({0x95, 0x5C, 0x41, 0x34, 0x70, 0x10, 0x73, 0x6E, 0x16, 0x7F, 0x01}),
         {120, 93, 80, 300, 15, 10, 150}},
    };
    for (const Row& r : rows) {
        const auto v = decodeValues(r.frame);
        ASSERT_TRUE(v.has_value()) << r.name;
        EXPECT_EQ(*v, r.expected) << r.name;
    }
}

TEST(DecodeValues, TooShortIsRefused)
{
    EXPECT_FALSE(decodeValues(bytes({0x95, 0x5C, 0x41, 0x34, 0x70, 0x10, 0x73, 0x6E})));
    EXPECT_FALSE(decodeValues(ByteString{}));
}

TEST(DecodeWaveform, VectorsAndLength)
{
    EXPECT_EQ(decodeWaveform(bytes({0xC8, 0x2C, 0x2D})), (Samples{300, 45}));
    EXPECT_EQ(decodeWaveform(bytes({0xCF, 0x7F, 0x7F, 0x55})), (Samples{511, 511}));
    EXPECT_EQ(decodeWaveform(bytes({0xC0, 0x00, 0x00})), (Samples{0, 0}));
    EXPECT_FALSE(decodeWaveform(bytes({0xC8, 0x2C})));
    EXPECT_FALSE(decodeWaveform(bytes({0xC8})));
}

TEST(DecodeStatus, CodesAndTexts)
{
    const auto codes = decodeStatus(bytes({0xD0, 0x00, 0x08}));
    ASSERT_TRUE(codes);
    EXPECT_EQ(statusTextFor(codes->ch1), "Normal Operation");
    EXPECT_EQ(statusTextFor(codes->ch2), "Sensor Connected");
    EXPECT_FALSE(decodeStatus(bytes({0xD0, 0x00})));
}

TEST(StatusText, TableAndCodesPastIt)
{
    ASSERT_EQ(kStatusTexts.size(), 21u);
    EXPECT_EQ(statusTextFor(2), "Zeroing...");
    EXPECT_EQ(statusTextFor(6), "Zeroing ok");
    EXPECT_EQ(statusTextFor(7), "No Sensor !!!");
    EXPECT_EQ(statusTextFor(11), "Selftest Error !!!");
    for (unsigned code = 12; code <= 127; ++code) EXPECT_EQ(statusTextFor(code), "") << code;
}

TEST(DecodeIdentification, StoredFormIsTwoBytesPerCharacter)
{
    EXPECT_EQ(decodeIdentification(bytes({0xE0, 0x41, 0x00, 0x42, 0x00})), u"AB");
    EXPECT_EQ(decodeIdentification(bytes({0xE0, 0x0D, 0x00, 0x20, 0x00})), u"\r ");
    EXPECT_EQ(decodeIdentification(bytes({0xE0, 0x41, 0x00, 0x42})), u"A");  // dangling half
    EXPECT_EQ(decodeIdentification(ByteString{}), u"");
}

TEST(Encode, RoundTripsEveryKind)
{
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> raw9(0, 511), pulse(0, 255), code(0, 127);
    for (int i = 0; i < 2000; ++i) {
        const Samples s{static_cast<std::int16_t>(raw9(rng)), static_cast<std::int16_t>(raw9(rng))};
        const ByteString w = encodeWaveform(s);
        ASSERT_EQ(frameKind(w[0]), FrameKind::Waveform);
        ASSERT_EQ(decodeWaveform(w), s);

        Values v;
        for (std::int16_t* p : {&v.sys1, &v.map1, &v.dia1, &v.sys2, &v.map2, &v.dia2})
            *p = static_cast<std::int16_t>(raw9(rng) - 100);
        v.pulse = static_cast<std::int16_t>(pulse(rng));
        const ByteString f = encodeValues(v);
        ASSERT_EQ(frameKind(f[0]), FrameKind::Values);
        ASSERT_EQ(decodeValues(f), v);

        const StatusCodes c{static_cast<Byte>(code(rng)), static_cast<Byte>(code(rng))};
        const ByteString st = encodeStatus(c, static_cast<Byte>(0xD0 + i % 0x30));
        ASSERT_EQ(frameKind(st[0]), FrameKind::Status);
        ASSERT_EQ(decodeStatus(st), c);

        for (const ByteString* frame : {&w, &f, &st})
            for (std::size_t k = 1; k < frame->size(); ++k) ASSERT_LT((*frame)[k], 0x80);
    }
    const ByteString id = encodeIdentification("QX board");
    EXPECT_EQ(id, bytes({0xE0, 'Q', 'X', ' ', 'b', 'o', 'a', 'r', 'd'}));
}

TEST(Encode, ClampsWhatTheFormatCannotCarry)
{
    EXPECT_EQ(decodeWaveform(encodeWaveform({-5, 900})), (Samples{0, 511}));
    const Values v = *decodeValues(encodeValues({500, -300, 0, 0, 0, 0, 999}));
    EXPECT_EQ(v.sys1, 411);
    EXPECT_EQ(v.map1, -100);
    EXPECT_EQ(v.pulse, 255);
    EXPECT_EQ(encodeStatus({1, 2}, 0xE0)[0], 0xD0);  // 0xE0 would start an identification frame
}
