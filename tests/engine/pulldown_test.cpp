#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/conversion_options.h"
#include "engine/frame_store.h"
#include "engine/picture_effects.h"
#include "engine/pulldown.h"
#include "tests/engine/engine_test_util.h"

namespace {

using Frame = std::vector<uint8_t>;

struct Clip
{
    int width = 0;
    int height = 0;
    std::vector<Frame> frames;
};

Clip LoadClip(const std::string &path, int width, int height, int bytesPerPixel = 3)
{
    Clip c;
    c.width = width;
    c.height = height;
    const auto bytes = ReadBytes(path);
    const size_t size = static_cast<size_t>(width) * height * bytesPerPixel;
    for (size_t at = 0; at + size <= bytes.size(); at += size) {
        c.frames.emplace_back(bytes.begin() + static_cast<ptrdiff_t>(at),
                              bytes.begin() + static_cast<ptrdiff_t>(at + size));
    }
    return c;
}

class PulldownTest : public EngineTest
{
protected:
    void StartMovie(int width, int height, bool yuv = false)
    {
        UseGeometry(width, height, yuv);
        ResetPulldownScores();
    }

    // Group g of a clip: slot 0 the frame before (the group's first frame at the start), slots
    // 1..5 the group, slot 6 the next frame. Every group starts from fresh copies, as the passes
    // decode every slot again.
    void FillGroup(const std::vector<Frame> &frames, int g)
    {
        for (int s = 0; s < kSlotCount; s++) {
            const int index = g == 0 && s == 0 ? 0 : g * 5 + s - 1;
            std::memcpy(gFrameStore.inputFrames[s], frames[static_cast<size_t>(index)].data(),
                        frames[0].size());
        }
    }

    // Removes pulldown from the whole clip, one pass or two, and returns the output frames.
    std::vector<Frame> RemovePulldown(const std::vector<Frame> &frames, int parityFlag)
    {
        std::vector<Frame> out;
        const int groups = static_cast<int>(frames.size() - 1) / 5;
        const std::vector<int> passes = gConversionOptions.twoPassPulldownRemoval
                                            ? std::vector<int>{2, 1}
                                            : std::vector<int>{1};
        for (int pass : passes) {
            gEngineSettings.passesLeft = pass;
            for (int g = 0; g < groups; g++) {
                FillGroup(frames, g);
                int outList[4] = {-1, -1, -1, -1};
                const int n = DetectPulldownPhase(gFrameStore.inputFrames, outList, parityFlag);
                if (pass == 2) {
                    EXPECT_EQ(n, 0);
                    EXPECT_EQ(outList[0], -1) << "the analysis pass writes no output list";
                    continue;
                }
                EXPECT_EQ(n, 4);
                for (int k = 0; k < 4; k++) {
                    const uint8_t *f = gFrameStore.inputFrames[outList[k]];
                    out.emplace_back(f, f + frames[0].size());
                }
            }
        }
        return out;
    }
};

int FindFrame(const std::vector<Frame> &originals, const Frame &f)
{
    for (size_t i = 0; i < originals.size(); i++) {
        if (originals[i] == f) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Each output frame is a 24p original, in order with none left out. Only the very first may be
// a mixed frame: its other field lies before the start of the material.
void ExpectOriginals(const std::vector<Frame> &originals, const std::vector<Frame> &out,
                     size_t groups)
{
    ASSERT_EQ(out.size(), groups * 4);
    size_t first = 0;
    if (FindFrame(originals, out[0]) < 0) {
        first = 1;
    }
    ASSERT_LT(first, out.size());
    int expected = FindFrame(originals, out[first]);
    ASSERT_GE(expected, 0) << "output frame " << first;
    for (size_t k = first; k < out.size(); k++, expected++) {
        EXPECT_EQ(FindFrame(originals, out[k]), expected) << "output frame " << k;
    }
}

struct Material
{
    const char *pattern;
    const char *size;
    int width;
};

void PrintTo(const Material &m, std::ostream *os)
{
    *os << m.pattern << " " << m.size;
}

class PulldownMaterialTest : public PulldownTest, public testing::WithParamInterface<Material>
{
};

// RGB and YUV, both field orders and every phase, one pass and two: the 24p originals come back
// exactly. The
// caller's parity flag names the material's field order: flag 1 for bottom field first up to
// 900 pixels wide and top field first above, flag 0 for the other order.
TEST_P(PulldownMaterialTest, OriginalsComeBack)
{
    LC_NEED_FIXTURES(dir);
    const Material m = GetParam();
    const bool hd = m.width > 900;
    for (bool yuv : {false, true}) {
        const std::string ext = yuv ? ".yuv" : ".rgb";
        const int bpp = yuv ? 2 : 3;
        const Clip film = LoadClip(dir + "/film_" + m.size + ext, m.width, 24, bpp);
        ASSERT_EQ(film.frames.size(), 44u);
        for (const char *order : {"tff", "bff"}) {
            const Clip tc =
                LoadClip(dir + "/telecine_" + m.pattern + "_" + order + "_" + m.size + ext, m.width,
                         24, bpp);
            ASSERT_EQ(tc.frames.size(), 55u);
            const bool tff = std::string(order) == "tff";
            const int parityFlag = (tff == hd) ? 1 : 0;
            for (int twoPass : {0, 1}) {
                std::set<int> phases;
                for (int skip = 0; skip < 5; skip++) {
                    SCOPED_TRACE(testing::Message() << ext << " " << order << " skip " << skip
                                                    << " two-pass " << twoPass);
                    StartMovie(m.width, 24, yuv);
                    gConversionOptions.pulldown2332To25P = std::string(m.pattern) == "2332";
                    gConversionOptions.pulldown32To25P = !gConversionOptions.pulldown2332To25P;
                    gConversionOptions.twoPassPulldownRemoval = twoPass;
                    const std::vector<Frame> material(tc.frames.begin() + skip, tc.frames.end());
                    const auto out = RemovePulldown(material, parityFlag);
                    ExpectOriginals(film.frames, out, (material.size() - 1) / 5);
                    phases.insert(gPulldownDetector.phase);
                }
                EXPECT_EQ(phases.size(), 5u) << "the five starts give the five phases";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Telecine, PulldownMaterialTest,
                         testing::Values(Material{"23", "sd", 720}, Material{"23", "hd", 1920},
                                         Material{"2332", "sd", 720}, Material{"2332", "hd", 1920}),
                         [](const testing::TestParamInfo<Material> &i) {
                             return std::string("p") + i.param.pattern + "_" + i.param.size;
                         });

// Slots whose fields are tagged: frame s has value 10 s in the even lines and 10 s + 5 in the odd.
void TagSlots()
{
    const FrameStore &fs = gFrameStore;
    for (int s = 0; s < kSlotCount; s++) {
        for (uint32_t y = 0; y < fs.sourceHeight; y++) {
            std::memset(fs.inputFrames[s] + y * RowBytes(), 10 * s + (y % 2 ? 5 : 0), RowBytes());
        }
    }
}

TEST_F(PulldownTest, EqualScoresChooseTheLowerPhase)
{
    StartMovie(16, 12);
    gConversionOptions.pulldown2332To25P = 1;
    // Identical frames: every score is 0.
    for (int s = 0; s < kSlotCount; s++) {
        std::memset(gFrameStore.inputFrames[s], 50, 12 * RowBytes());
    }
    int outList[4];
    gPulldownDetector.phase = 3;
    EXPECT_EQ(DetectPulldownPhase(gFrameStore.inputFrames, outList, 1), 4);
    EXPECT_EQ(gPulldownDetector.phase, 0);
    EXPECT_EQ(std::vector<int>(outList, outList + 4), (std::vector<int>{2, 3, 4, 5}));
}

TEST_F(PulldownTest, PhaseFourRepairsSlotOneFromSlotZero)
{
    StartMovie(16, 12);
    gConversionOptions.pulldown32To25P = 1;
    gConversionOptions.twoPassPulldownRemoval = 1;
    gPulldownDetector.totals[0] = 9;
    gPulldownDetector.totals[1] = 9;
    gPulldownDetector.totals[2] = 9;
    gPulldownDetector.totals[3] = 9;
    gPulldownDetector.totals[4] = 2;
    TagSlots();
    int outList[4];
    EXPECT_EQ(DetectPulldownPhase(gFrameStore.inputFrames, outList, 1), 4);
    EXPECT_EQ(gPulldownDetector.phase, 4);
    EXPECT_EQ(std::vector<int>(outList, outList + 4), (std::vector<int>{1, 2, 3, 4}));
    // Standard definition, flag 1: the odd field repeats, so the even lines are repaired.
    EXPECT_EQ(gFrameStore.inputFrames[1][0], 0);
    EXPECT_EQ(gFrameStore.inputFrames[1][RowBytes()], 15);
    EXPECT_EQ(gFrameStore.inputFrames[2][0], 20) << "other slots keep their fields";

    // HD, flag 1: the even field repeats and the odd lines are repaired.
    StartMovie(1000, 12);
    gConversionOptions.twoPassPulldownRemoval = 1;
    gPulldownDetector.totals[4] = -1;
    TagSlots();
    EXPECT_EQ(DetectPulldownPhase(gFrameStore.inputFrames, outList, 1), 4);
    EXPECT_EQ(gFrameStore.inputFrames[1][0], 10);
    EXPECT_EQ(gFrameStore.inputFrames[1][RowBytes()], 5);
}

TEST_F(PulldownTest, TwoPassOutputWithoutAnalysisUsesPhaseZero)
{
    StartMovie(16, 12);
    gConversionOptions.pulldown2332To25P = 1;
    gConversionOptions.twoPassPulldownRemoval = 1;
    TagSlots();
    int outList[4];
    EXPECT_EQ(DetectPulldownPhase(gFrameStore.inputFrames, outList, 1), 4);
    EXPECT_EQ(gPulldownDetector.phase, 0);
    EXPECT_EQ(gPulldownDetector.outputCount, 4);
    // Not scored: the totals stay as ResetPulldownScores left them.
    for (int64_t t : gPulldownDetector.totals) {
        EXPECT_EQ(t, 0);
    }
    // 2:3:3:2 only leaves a slot out.
    EXPECT_EQ(gFrameStore.inputFrames[2][0], 20);
    EXPECT_EQ(gFrameStore.inputFrames[2][RowBytes()], 25);
}

// The widest row the maps allow at 5 lines: a line sum far above 32 bits.
TEST_F(PulldownTest, ScoresAreSixtyFourBit)
{
    constexpr int kW = 384000;
    TestFrame a(kW, 5, 3, 0);
    TestFrame b(kW, 5, 3, 255);
    const int64_t line = int64_t{kW} * 3 * 255 * 255;
    EXPECT_EQ(FieldMatchScore32_c(a.view, b.view, 0, false), line >> 8);
    EXPECT_EQ(FieldMatchScore2332_c(a.view, b.view, a.view, true, false), (line + line) >> 8);
    EXPECT_EQ(FieldMatchScore32_c(a.view, b.view, 1, true), (int64_t{kW} * 255 * 255) >> 8);
    TestFrame small(8, 4, 3, 0);
    EXPECT_EQ(FieldMatchScore32_c(small.view, b.view, 0, false), 0) << "4 lines or less score 0";
}

class SixtyToTwentyFiveTest : public PulldownTest
{
};

TEST_F(SixtyToTwentyFiveTest, StaticPictureIsUnchanged)
{
    LC_NEED_FIXTURES(dir);
    const auto still = ReadBytes(dir + "/still_sd.rgb");
    ASSERT_EQ(still.size(), 720u * 48 * 3);
    for (int yuv : {0, 1}) {
        for (int pattern : {1, 2}) {
            SCOPED_TRACE(testing::Message() << "yuv " << yuv << " pattern " << pattern);
            // The same bytes serve as a YUV frame of twice the width... of 1080 pixels.
            const int width = yuv ? 1080 : 720;
            StartMovie(width, 48, yuv);
            gConversionOptions.blurLinesOnMotion = 1;
            for (int s = 0; s < kSlotCount; s++) {
                std::memcpy(gFrameStore.inputFrames[s], still.data(), still.size());
            }
            int outList[4];
            RemovePulldownGroup(gFrameStore.inputFrames, outList, pattern);
            EXPECT_EQ(std::vector<int>(outList, outList + 4), (std::vector<int>{1, 4, 3, 5}));
            for (int k = 0; k < 4; k++) {
                EXPECT_EQ(
                    0, std::memcmp(gFrameStore.inputFrames[outList[k]], still.data(), still.size()))
                    << "output " << k;
            }
        }
    }
}

// Every output frame of a moving group is blurred, each with the motion map of its own slot, and
// the pass's BlurGroupLines afterwards does not blur a second time.
TEST_F(SixtyToTwentyFiveTest, EachOutputIsBlurredOnceWithItsOwnMap)
{
    constexpr int kW = 16;
    constexpr int kH = 24;
    auto runGroup = [&](int blur, std::vector<Frame> &out, int *outList) {
        StartMovie(kW, kH);
        gConversionOptions.blurLinesOnMotion = blur;
        for (int s = 0; s < kSlotCount; s++) {
            // Horizontal lines that change from slot to slot: motion everywhere.
            for (int y = 0; y < kH; y++) {
                std::memset(gFrameStore.inputFrames[s] + y * RowBytes(),
                            ((y + s) % 3 == 0) ? 220 : 20, RowBytes());
            }
        }
        RemovePulldownGroup(gFrameStore.inputFrames, outList, 2);
        out.clear();
        for (int k = 0; k < 4; k++) {
            const uint8_t *f = gFrameStore.inputFrames[outList[k]];
            out.emplace_back(f, f + kH * RowBytes());
        }
    };
    std::vector<Frame> sharp;
    std::vector<Frame> blurred;
    int outList[4];
    runGroup(0, sharp, outList);
    runGroup(1, blurred, outList);
    for (int k = 0; k < 4; k++) {
        EXPECT_NE(blurred[k], sharp[k]) << "output " << k << " was not blurred";
    }
    BlurGroupLines(gFrameStore.inputFrames, outList);
    for (int k = 0; k < 4; k++) {
        const uint8_t *f = gFrameStore.inputFrames[outList[k]];
        EXPECT_EQ(Frame(f, f + kH * RowBytes()), blurred[k]) << "output " << k;
        EXPECT_EQ(gFrameStore.rgbSlots[k + 1], gFrameStore.inputFrames[outList[k]]);
    }
}

struct IdetCounts
{
    int tff = -1;
    int bff = -1;
    int progressive = -1;
};

IdetCounts RunIdet(const std::string &rawPath, int width, int height)
{
    const std::string out = RunCommand("ffmpeg -hide_banner -nostdin -f rawvideo -pix_fmt rgb24 -s "
                                       + std::to_string(width) + "x" + std::to_string(height)
                                       + " -r 25 -i " + rawPath + " -vf idet -f null -");
    IdetCounts c;
    const size_t at = out.find("Multi frame detection:");
    if (at != std::string::npos) {
        std::sscanf(out.c_str() + at, "Multi frame detection: TFF: %d BFF: %d Progressive: %d",
                    &c.tff, &c.bff, &c.progressive);
    }
    return c;
}

void WriteFrames(const std::string &path, const std::vector<Frame> &frames)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (const Frame &fr : frames) {
        std::fwrite(fr.data(), 1, fr.size(), f);
    }
    std::fclose(f);
}

TEST_F(SixtyToTwentyFiveTest, InterlacedMotionComesOutProgressive)
{
    LC_NEED_FIXTURES(dir);
    constexpr int kW = 320;
    constexpr int kH = 240;
    const Clip in = LoadClip(dir + "/interlaced_bff.rgb", kW, kH);
    ASSERT_EQ(in.frames.size(), 40u);
    const IdetCounts before = RunIdet(dir + "/interlaced_bff.rgb", kW, kH);
    ASSERT_GE(before.bff, 0) << "idet printed no counts";
    EXPECT_GT(before.tff + before.bff, before.progressive) << "the input is interlaced";

    StartMovie(kW, kH);
    // Without the blur, idet calls the two blended frames of each group interlaced: their
    // neighbours carry one sharp and one interpolated field.
    gConversionOptions.blurLinesOnMotion = 1;
    std::vector<Frame> out;
    const int groups = static_cast<int>(in.frames.size() - 1) / 5;
    for (int g = 0; g < groups; g++) {
        FillGroup(in.frames, g);
        int outList[4];
        RemovePulldownGroup(gFrameStore.inputFrames, outList, 2);
        for (int k = 0; k < 4; k++) {
            const uint8_t *f = gFrameStore.inputFrames[outList[k]];
            out.emplace_back(f, f + in.frames[0].size());
        }
    }
    const std::string path = dir + "/out_60i_to_25p_" + std::to_string(::getpid()) + ".rgb";
    WriteFrames(path, out);
    const IdetCounts after = RunIdet(path, kW, kH);
    std::remove(path.c_str());
    ASSERT_GE(after.progressive, 0);
    EXPECT_GT(after.progressive, 4 * (after.tff + after.bff))
        << "tff " << after.tff << " bff " << after.bff << " progressive " << after.progressive;
}

} // namespace
