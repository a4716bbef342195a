#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mpeg2/ac3_decoder.h"
#include "mpeg2/ac3_downmix.h"
#include "platform/sys/bytes.h"
#include "tests/mpeg2/ac3_test_support.h"

namespace {

constexpr int kPacket = 2025; // AC-3 payload of a 2048-byte program-stream packet
constexpr double kMinSnrDb = 60;
// Streams of more channels mask more bins next to their tones; both decoders fill bins without
// bits with their own random dither, which bounds the agreement a little lower.
constexpr double kMinMixSnrDb = 55;

struct StereoCase
{
    const char *stream;
    const char *reference;
};

class Ac3Stereo : public ::testing::TestWithParam<StereoCase>
{
};

// Stereo streams at each rate and sample rate decode as ffmpeg decodes them.
TEST_P(Ac3Stereo, MatchesReferenceDecoder)
{
    ASSERT_FALSE(Ac3FixtureDir().empty());
    std::vector<uint8_t> stream = ReadFixture(GetParam().stream);
    std::vector<int16_t> ref = ReadS16(GetParam().reference);
    ASSERT_FALSE(stream.empty());
    std::vector<int16_t> ours = DecodeAc3(stream, kPacket);
    EXPECT_EQ(ours.size(), ref.size());
    EXPECT_GE(SnrDb(ref, ours), kMinSnrDb);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Ac3Stereo,
    ::testing::Values(StereoCase{"ac3_stereo_96.ac3", "ac3_stereo_96.s16"},
                      StereoCase{"ac3_stereo_192.ac3", "ac3_stereo_192.s16"},
                      StereoCase{"ac3_stereo_448.ac3", "ac3_stereo_448.s16"},
                      StereoCase{"ac3_stereo_44k.ac3", "ac3_stereo_44k.s16"},
                      StereoCase{"ac3_stereo_32k.ac3", "ac3_stereo_32k.s16"}));

struct MixCase
{
    const char *stream;
    const char *reference; // ffmpeg's decoding in the stream's own channels
    RefLayout layout;
    int cmixlev;
    int surmixlev;
};

class Ac3Downmixed : public ::testing::TestWithParam<MixCase>
{
};

// Other channel modes: our stereo equals the mix formula applied to ffmpeg's channels.
TEST_P(Ac3Downmixed, MatchesFormulaOnReferenceChannels)
{
    ASSERT_FALSE(Ac3FixtureDir().empty());
    const MixCase &c = GetParam();
    std::vector<int16_t> ref = MixReference(ReadF32(c.reference), c.layout, c.cmixlev, c.surmixlev);
    std::vector<int16_t> ours = DecodeAc3(ReadFixture(c.stream), kPacket);
    ASSERT_FALSE(ref.empty());
    EXPECT_EQ(ours.size(), ref.size());
    EXPECT_GE(SnrDb(ref, ours), kMinMixSnrDb);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Ac3Downmixed,
    ::testing::Values(MixCase{"ac3_mono.ac3", "ac3_mono.f32", RefLayout::Mono, 0, 0},
                      MixCase{"ac3_50_code0.ac3", "ac3_50_code0.f32", RefLayout::Five, 0, 0},
                      MixCase{"ac3_50_default.ac3", "ac3_50_default.f32", RefLayout::Five, 1, 1},
                      MixCase{"ac3_51.ac3", "ac3_51.f32", RefLayout::FivePoint1, 1, 1},
                      MixCase{"ac3_51_low.ac3", "ac3_51_low.f32", RefLayout::FivePoint1, 1, 1}));

// Where ffmpeg's own stereo downmix uses the same proportions (both mix levels at code 0: 1 :
// 0.707 : 0.707), ours is it scaled by the main weight, so that a full mix stays in range.
TEST(Ac3Downmix, AgreesWithReferenceDownmixAtCodeZero)
{
    ASSERT_FALSE(Ac3FixtureDir().empty());
    std::vector<float> f = ReadF32("ac3_50_code0_ac2.f32");
    std::vector<int16_t> ref;
    for (float v : f) {
        ref.push_back(int16_t(std::lrint(std::clamp(v * kAc3MainWeight * 32768.0, -32768.0, 32767.0))));
    }
    std::vector<int16_t> ours = DecodeAc3(ReadFixture("ac3_50_code0.ac3"), kPacket);
    EXPECT_EQ(ours.size(), ref.size());
    EXPECT_GE(SnrDb(ref, ours), kMinMixSnrDb);
}

} // namespace
