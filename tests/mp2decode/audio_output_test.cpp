#include <climits>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "mp2decode/audio_output.h"
#include "mp2decode/output_modules.h"

namespace {

TEST(AudioOutput, RoundingClipsAndCounts)
{
    struct Case
    {
        unsigned bits;
        mad_fixed_t sample;
        int32_t expected;
        unsigned long clipped;
    } cases[] = {
        {16, kFixedMax, 32767, 1}, // rounding pushes it over the top
        {16, kFixedMin, -32768, 0},    {16, 0, 0, 0},
        {16, kFixedOne / 2, 16384, 0}, {16, -kFixedOne / 2, -16384, 0},
        {8, kFixedOne / 4, 32, 0},     {24, kFixedOne / 2, 1 << 22, 0},
        {16, INT32_MAX, 32767, 1}, // libmad's extremes do not overflow
        {16, INT32_MIN, -32768, 1},
    };
    for (const Case &c : cases) {
        AudioStats stats;
        EXPECT_EQ(LinearRound(c.bits, c.sample, &stats), c.expected) << c.sample;
        EXPECT_EQ(stats.clippedSamples, c.clipped) << c.sample;
    }
}

TEST(AudioOutput, ClipKeepsPeaks)
{
    AudioStats stats;
    EXPECT_EQ(ClipSample(kFixedMax + 100, &stats), kFixedMax);
    EXPECT_EQ(stats.peakClipping, 100);
    EXPECT_EQ(ClipSample(kFixedMin - 300, &stats), kFixedMin);
    EXPECT_EQ(stats.peakClipping, 300);
    EXPECT_EQ(stats.clippedSamples, 2u);
    EXPECT_EQ(stats.peakSample, kFixedOne);
    EXPECT_EQ(ClipSample(1234, &stats), 1234);
    EXPECT_EQ(stats.peakSample, kFixedOne);
}

TEST(AudioOutput, DitherOfSilenceStaysNearZero)
{
    // Triangular noise alone spans one step each way; the shaped error feedback adds one more.
    AudioDither dither;
    AudioStats stats;
    long sum = 0;
    int withinOne = 0;
    for (int i = 0; i < 5000; ++i) {
        int32_t v = LinearDither(16, 0, &dither, &stats);
        ASSERT_GE(v, -2);
        ASSERT_LE(v, 2);
        sum += v;
        withinOne += v >= -1 && v <= 1;
    }
    EXPECT_LE(std::abs(sum), 100);
    EXPECT_GT(withinOne, 4000);
    EXPECT_EQ(stats.clippedSamples, 0u);
    // A sine through the dither stays within a step or two of the rounded value.
    for (int i = 0; i < 2000; ++i) {
        mad_fixed_t s = mad_fixed_t((i % 200 - 100) * (kFixedOne / 128));
        int32_t d = LinearDither(16, s, &dither, &stats);
        int32_t r = LinearRound(16, s, &stats);
        ASSERT_LE(std::abs(d - r), 2) << i;
    }
    // Full-scale and beyond: clipped, bounded, no overflow.
    for (mad_fixed_t s : {INT32_MAX, INT32_MIN, kFixedMax, kFixedMin}) {
        int32_t v = LinearDither(16, s, &dither, &stats);
        EXPECT_GE(v, -32768);
        EXPECT_LE(v, 32767);
    }
}

TEST(AudioOutput, MuLaw)
{
    struct Case
    {
        mad_fixed_t sample;
        uint8_t code;
    } cases[] = {
        {0, 0xFF}, {-1, 0x7F}, {kFixedMax, 0x80}, {kFixedMin, 0x00}, {INT32_MAX, 0x80},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(LinearToMuLaw(c.sample), c.code) << c.sample;
    }
    // Decoding a code and encoding the value gives the code back.
    for (int code = 0; code < 256; ++code) {
        uint8_t back = LinearToMuLaw(MuLawToLinear(uint8_t(code)));
        if (code == 0x7F) {
            EXPECT_EQ(back, 0xFF); // negative zero reads back as zero
        } else {
            EXPECT_EQ(back, code) << code;
        }
    }
    // The dither carries its error: the mean of a constant matches it better than rounding.
    AudioDither dither;
    AudioStats stats;
    mad_fixed_t value = kFixedOne / 10 + 12345;
    double sum = 0;
    for (int i = 0; i < 4000; ++i) {
        sum += MuLawToLinear(MuLawDither(value, &dither, &stats));
    }
    double rounded = MuLawToLinear(MuLawRound(value, &stats));
    EXPECT_LT(std::abs(sum / 4000 - value), std::abs(rounded - value));
}

TEST(AudioOutput, PackersLayOutBytes)
{
    const mad_fixed_t left[2] = {kFixedOne / 2, -kFixedOne / 2};
    const mad_fixed_t right[2] = {kFixedOne / 4, 0};
    struct Case
    {
        Packer packer;
        const mad_fixed_t *right;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {PackS16BE, right, {0x40, 0x00, 0x20, 0x00, 0xC0, 0x00, 0x00, 0x00}},
        {PackS16LE, right, {0x00, 0x40, 0x00, 0x20, 0x00, 0xC0, 0x00, 0x00}},
        {PackS16BE, nullptr, {0x40, 0x00, 0xC0, 0x00}},
        {PackU8, nullptr, {0xC0, 0x40}},
        {PackS8, nullptr, {0x40, 0xC0}},
        {PackS24BE, nullptr, {0x40, 0x00, 0x00, 0xC0, 0x00, 0x00}},
        {PackS24LE, nullptr, {0x00, 0x00, 0x40, 0x00, 0x00, 0xC0}},
        {PackS32BE, nullptr, {0x40, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00}},
        {PackS32LE, nullptr, {0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0xC0}},
    };
    for (const Case &c : cases) {
        uint8_t buffer[16];
        AudioStats stats;
        unsigned n = c.packer(buffer, 2, left, c.right, kAudioModeRound, &stats);
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + n), c.bytes);
        EXPECT_EQ(c.packer(buffer, 2, left, c.right, 7, &stats), 0u); // unknown mode
    }
}

TEST(AudioOutput, SelectOutputModuleByExtension)
{
    struct Case
    {
        const char *path;
        OutputModule module;
    } cases[] = {
        {"x.AIFF", OutputModuleAiff},
        {"dir.wav/x.aif", OutputModuleAiff},
        {"x.wav", OutputModuleWave},
        {"x.cdr", OutputModuleCdda},
        {"x.CDDA", OutputModuleCdda},
        {"x.au", OutputModuleSnd},
        {"x.snd", OutputModuleSnd},
        {"x.pcm", OutputModuleRaw},
        {"x.bin", OutputModuleRaw},
        {"x.null", nullptr},
        {"x", nullptr},
        {"x.", nullptr},
        {nullptr, OutputModuleWaveOut},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(SelectOutputModule(c.path), c.module) << (c.path ? c.path : "(none)");
    }
}

TEST(AudioOutput, ResampleInitKnowsNineRates)
{
    ResampleState s;
    EXPECT_EQ(ResampleInit(&s, 44100, 48000), 0);
    EXPECT_EQ(s.ratio, mad_fixed_t(((uint64_t(44100) << 28) + 24000) / 48000)); // rounded
    EXPECT_EQ(ResampleInit(&s, 48000, 48000), 0);
    EXPECT_EQ(s.ratio, kFixedOne);
    EXPECT_EQ(ResampleInit(&s, 8000, 48000), 0);
    EXPECT_EQ(ResampleInit(&s, 96000, 48000), -1);
    EXPECT_EQ(ResampleInit(&s, 48000, 44000), -1);
}

TEST(AudioOutput, ResampledBlocksJoinSeamlessly)
{
    std::vector<mad_fixed_t> in(1152 * 3);
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = mad_fixed_t((int64_t(i) * 7919 % 20000 - 10000) * 1000);
    }
    for (auto rates : {std::pair{44100u, 48000u}, {16000u, 48000u}, {48000u, 22050u}}) {
        ResampleState whole;
        ResampleState pieces;
        ASSERT_EQ(ResampleInit(&whole, rates.first, rates.second), 0);
        ASSERT_EQ(ResampleInit(&pieces, rates.first, rates.second), 0);
        std::vector<mad_fixed_t> a(in.size() * 4);
        unsigned na = ResampleBlock(&whole, unsigned(in.size()), in.data(), a.data());
        std::vector<mad_fixed_t> b;
        for (size_t at = 0; at < in.size(); at += 1152) {
            mad_fixed_t out[1152 * 4];
            unsigned n = ResampleBlock(&pieces, 1152, in.data() + at, out);
            EXPECT_LE(n, 1152u * rates.second / rates.first + 2);
            b.insert(b.end(), out, out + n);
        }
        // The whole block ends one sample short of where the pieces can reach with the carry.
        ASSERT_GE(b.size(), na);
        EXPECT_LE(b.size() - na, 4u);
        for (unsigned i = 0; i < na; ++i) {
            ASSERT_NEAR(double(a[i]), double(b[i]), 2.0) << i;
        }
        double expected = double(in.size()) * rates.second / rates.first;
        EXPECT_NEAR(double(b.size()), expected, 3.0);
    }
    // Between libmad's extremes the interpolated values stay between their neighbours.
    std::vector<mad_fixed_t> extremes(576);
    for (size_t i = 0; i < extremes.size(); ++i) {
        extremes[i] = i % 2 ? INT32_MIN : INT32_MAX;
    }
    ResampleState up;
    ASSERT_EQ(ResampleInit(&up, 12000, 48000), 0);
    std::vector<mad_fixed_t> upOut(576 * 4 + 2);
    unsigned n = ResampleBlock(&up, 576, extremes.data(), upOut.data());
    EXPECT_NEAR(double(n), 576.0 * 4, 4.0);
    EXPECT_GT(upOut[2], INT32_MIN / 4); // halfway between the two extremes
    EXPECT_LT(upOut[2], INT32_MAX / 4);
    // A ratio of 1.0 copies.
    ResampleState same;
    ASSERT_EQ(ResampleInit(&same, 32000, 32000), 0);
    std::vector<mad_fixed_t> copy(in.size());
    EXPECT_EQ(ResampleBlock(&same, unsigned(in.size()), in.data(), copy.data()), in.size());
    EXPECT_EQ(copy, in);
}

// Ancillary bits for XingParse from bytes.
int ParseXing(const std::vector<uint8_t> &bytes, XingHeader *xing)
{
    mad_bitptr ptr;
    mad_bit_init(&ptr, bytes.data());
    return XingParse(xing, ptr, unsigned(bytes.size() * 8));
}

TEST(AudioOutput, XingHeader)
{
    std::vector<uint8_t> full = {'X', 'i', 'n', 'g', 0, 0, 0, 0x0F, 0, 0, 0x01, 0x00, 0, 1, 0, 0};
    for (int i = 0; i < 100; ++i) {
        full.push_back(uint8_t(i));
    }
    full.insert(full.end(), {0, 0, 0, 50});
    XingHeader xing;
    ASSERT_EQ(ParseXing(full, &xing), 0);
    EXPECT_EQ(xing.flags, 0x0F);
    EXPECT_EQ(xing.frames, 256u);
    EXPECT_EQ(xing.bytes, 65536u);
    EXPECT_EQ(xing.toc[99], 99);
    EXPECT_EQ(xing.scale, 50);

    struct Case
    {
        std::vector<uint8_t> bytes;
        int expected;
    } cases[] = {
        {{'X', 'i', 'n', 'g', 0, 0, 0, 0}, 0},
        {{'X', 'i', 'n', 'g', 0, 0, 0}, -1},                   // under 64 bits
        {{'I', 'n', 'f', 'o', 0, 0, 0, 0}, -1},                // not 'Xing'
        {{'X', 'i', 'n', 'g', 0, 0, 0, 1, 0, 0}, -1},          // frames cut short
        {{'X', 'i', 'n', 'g', 0, 0, 0, 4, 1, 2, 3, 4, 5}, -1}, // table of contents cut
    };
    for (const Case &c : cases) {
        XingHeader x;
        x.flags = 99;
        EXPECT_EQ(ParseXing(c.bytes, &x), c.expected);
        if (c.expected != 0) {
            EXPECT_EQ(x.flags, 0);
        }
    }
}

} // namespace
