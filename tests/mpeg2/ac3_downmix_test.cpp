#include <vector>

#include <gtest/gtest.h>

#include "mpeg2/ac3_downmix.h"

namespace {

struct MixRow
{
    int acmod;
    int cmixlev;
    int surmixlev;
    int lfeon;
    double channels[kAc3MaxChannels]; // one value for the whole block, A/52 order, LFE last
    int16_t left;
    int16_t right;
};

// Each mode's mix of constant channels, converted to 16 bits.
TEST(Ac3Downmix, ModesMixAsTabled)
{
    const MixRow rows[] = {
        // Dual mono: only the first channel, on both sides.
        {0, 0, 0, 0, {0.5, -0.9}, 11585, 11585},
        {1, 0, 0, 0, {0.5}, 11585, 11585},
        // 2/0 passes at full scale; beyond it clamps.
        {2, 0, 0, 0, {0.25, -0.5}, 8192, -16384},
        {2, 0, 0, 0, {1.5, -1.5}, 32767, -32768},
        // 3/2 at full scale with centre and surround at code 0: 0.9999 of full scale.
        {7, 0, 0, 0, {1, 1, 1, 1, 1}, 32765, 32765},
        {7, 0, 0, 0, {-1, -1, -1, -1, -1}, -32765, -32765},
        // A surround level code of 2 silences the surrounds.
        {7, 0, 2, 0, {0, 0, 0, 1, -1}, 0, 0},
        {6, 0, 2, 0, {0, 0, 1, 1}, 0, 0},
        // LFE is heard in 3/2 only.
        {7, 0, 0, 1, {0, 0, 0, 0, 0, 0.5}, 6788, 6788},
        {6, 0, 0, 1, {0, 0, 0, 0, 0.5}, 0, 0},
        // Centre and single surround weights by code.
        {3, 1, 0, 0, {0, 1, 0}, 8087, 8087},
        {4, 0, 1, 0, {0, 0, 1}, 6786, 6786},
        {5, 2, 3, 0, {0.5, 0, -0.5, 1}, 13574, -2},
    };
    for (const MixRow &r : rows) {
        double ch[kAc3MaxChannels][kAc3BlockSamples];
        for (int c = 0; c < kAc3MaxChannels; ++c) {
            for (double &v : ch[c]) {
                v = r.channels[c];
            }
        }
        Ac3MixParams mix;
        mix.acmod = r.acmod;
        mix.cmixlev = r.cmixlev;
        mix.surmixlev = r.surmixlev;
        mix.lfeon = r.lfeon;
        std::vector<int16_t> out(2 * kAc3BlockSamples);
        Ac3Downmix(mix, ch, out.data());
        EXPECT_EQ(out[0], r.left) << "acmod " << r.acmod;
        EXPECT_EQ(out[1], r.right) << "acmod " << r.acmod;
        EXPECT_EQ(out[2 * kAc3BlockSamples - 2], r.left);
        EXPECT_EQ(out[2 * kAc3BlockSamples - 1], r.right);
    }
}

// The output level scales every sample; dynamic-range words change nothing.
TEST(Ac3Downmix, OutputLevelScalesAndDynamicRangeDoesNot)
{
    double ch[kAc3MaxChannels][kAc3BlockSamples] = {};
    for (double &v : ch[0]) {
        v = 0.5;
    }
    Ac3MixParams mix;
    std::vector<int16_t> out(2 * kAc3BlockSamples);
    for (int dynrng : {0, 0x7f, 0x80, 0xff}) {
        mix.dynrng = dynrng;
        Ac3Downmix(mix, ch, out.data());
        EXPECT_EQ(out[0], 16384);
    }
    gAc3OutputLevel = 0.5;
    Ac3Downmix(mix, ch, out.data());
    gAc3OutputLevel = 1.0;
    EXPECT_EQ(out[0], 8192);
}

} // namespace
