#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"
#include "engine/frame_feed.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "tests/engine/engine_test_util.h"

namespace {

constexpr int kWidth = 2;

// Every pixel of a tagged frame carries the tag in its three bytes: flat frames pass the line
// converters and the weave unchanged, so each output field names its source frame.
std::vector<uint8_t> TaggedFrame(int tag, int height)
{
    std::vector<uint8_t> f(size_t(kWidth) * height * 3);
    for (size_t i = 0; i < f.size(); i += 3) {
        f[i] = uint8_t(tag);
        f[i + 1] = uint8_t(tag >> 8);
        f[i + 2] = uint8_t(tag >> 16);
    }
    return f;
}

int TagOf(const uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16);
}

int SlotTag(int slot, int line = 0)
{
    return TagOf(gFrameStore.inputFrames[slot] + size_t(line) * kWidth * 3);
}

class FrameFeedTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        gSingleFrameFeed = SingleFrameFeedState{};
    }
    void Start(bool pal, int height)
    {
        UseGeometry(kWidth, height, false);
        gEngineSettings.sourceIsPal = pal;
        gEngineSettings.sourceIsNtsc = !pal;
        ResetCadenceCounter();
    }
};

// The weave of group g in phase 0 without a drop, as (even, odd) source frames of each output
// frame (history 5 is the previous group's last frame); the feed numbers frames from 1.
const int kPhase0[6][2] = {{0, 0}, {0, 1}, {1, 2}, {2, 2}, {3, 3}, {4, 4}};

TEST_F(FrameFeedTest, FrameGroupFeedRunsEachGroupWhenTheNextBegins)
{
    Start(true, 576);
    gConversionOptions.upperFieldFirst = 1;
    int written = 0;
    std::vector<int> fields;
    for (int number = 1; number <= 5 * 50 + 1; number++) {
        const std::vector<uint8_t> f = TaggedFrame(number, 576);
        const int n = FeedFrameGroup(f.data(), 576, kWidth, 3, number);
        if (number < 6 || (number - 1) % 5 != 0) {
            ASSERT_EQ(n, 0) << "frame " << number;
            continue;
        }
        const int g = (number - 6) / 5;
        // The next group's first and the group's last frame survive the weave in 8 and 7.
        EXPECT_EQ(SlotTag(8), number);
        EXPECT_EQ(SlotTag(7), number - 1);
        std::vector<int> groupFields;
        for (int i = 1; i <= n; i++) {
            groupFields.push_back(SlotTag(i, 0));
            groupFields.push_back(SlotTag(i, 1));
        }
        if (g < 42) {
            std::vector<int> expected;
            for (const auto &pair : kPhase0) {
                for (int h : pair) {
                    expected.push_back(g * 5 + h + 1);
                }
            }
            ASSERT_EQ(groupFields, expected) << "group " << g + 1;
        }
        written += n;
        fields.insert(fields.end(), groupFields.begin(), groupFields.end());
    }
    // 50 groups: one drops a frame (the PAL-to-NTSC cadence), no frame goes back in time.
    EXPECT_EQ(written, 50 * 6 - 1);
    for (size_t i = 1; i < fields.size(); i++) {
        ASSERT_LE(fields[i - 1], fields[i]) << "field " << i;
    }
    EXPECT_EQ(fields.back(), 250);
}

TEST_F(FrameFeedTest, PulldownFeedHandsTheWholeWindowToTheKernel)
{
    // The analysis pass of a two-pass run only scores, so the slots show what the kernel got.
    Start(false, 480);
    gConversionOptions.pulldown32To25P = 1;
    gEngineSettings.passesLeft = 2;
    int outList[4] = {-1, -1, -1, -1};
    for (int n = 0; n <= 20; n++) {
        const std::vector<uint8_t> f = TaggedFrame(100 + n, 480);
        const int r = FeedPulldownRemoval(f.data(), 480, kWidth, 3, outList, n);
        EXPECT_EQ(r, 0) << "frame " << n;
        if (n % 5 == 0 && n > 0) {
            const int first = n - 5;
            EXPECT_EQ(SlotTag(0), 100 + (first == 0 ? 0 : first - 1)) << "frame " << n;
            for (int s = 1; s <= 5; s++) {
                EXPECT_EQ(SlotTag(s), 100 + first + s - 1) << "frame " << n << " slot " << s;
            }
            EXPECT_EQ(SlotTag(6), 100 + n);
        }
    }
    EXPECT_EQ(outList[0], -1);
}

TEST_F(FrameFeedTest, PulldownFeedOutputsFourFramesPerFive)
{
    struct Case
    {
        const char *name;
        int pulldown32, pulldown2332;
    } cases[] = {{"60i to 25P", 0, 0}, {"3:2", 1, 0}, {"2:3:3:2", 0, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Start(false, 480);
        gConversionOptions.pulldown32To25P = c.pulldown32;
        gConversionOptions.pulldown2332To25P = c.pulldown2332;
        int groups = 0;
        for (int n = 0; n <= 25; n++) {
            const std::vector<uint8_t> f = TaggedFrame(7, 480);
            int outList[4] = {};
            const int r = FeedPulldownRemoval(f.data(), 480, kWidth, 3, outList, n);
            ASSERT_EQ(r, n % 5 == 0 && n > 0 ? 4 : 0) << "frame " << n;
            if (r == 4) {
                groups++;
                for (int k = 0; k < 4; k++) {
                    ASSERT_GE(outList[k], 1);
                    ASSERT_LE(outList[k], 6);
                }
            }
            if (r == 4 && !c.pulldown32 && !c.pulldown2332) {
                EXPECT_EQ(std::vector<int>(outList, outList + 4), (std::vector<int>{1, 4, 3, 5}));
            }
        }
        EXPECT_EQ(groups, 5);
    }
}

// At the end of a stream the last group has no next frame to set it off: finishing runs it
// padded with its last frame, whole or cut short, and keeps the output frames that stand for the
// frames it holds.
TEST_F(FrameFeedTest, FinishingRunsTheLastGroup)
{
    for (int frames : {1, 4, 5, 6, 10, 12, 15, 24, 25}) {
        SCOPED_TRACE(frames);
        const int held = frames % 5 == 0 ? 5 : frames % 5;
        const int first = frames - held + 1; // the group's first frame, numbered from 1
        const auto tagOfGroupFrame = [&](int h) { return first + std::min(h, held - 1); };
        // The PAL-to-NTSC weave of the last group.
        Start(true, 576);
        gConversionOptions.upperFieldFirst = 1;
        for (int number = 1; number <= frames; number++) {
            const std::vector<uint8_t> f = TaggedFrame(number, 576);
            (void)FeedFrameGroup(f.data(), 576, kWidth, 3, number);
        }
        const int n = FinishFrameGroup(576, kWidth, 3, frames);
        ASSERT_EQ(n, (6 * held + 4) / 5);
        std::vector<int> got, expected;
        for (int i = 1; i <= n; i++) {
            got.push_back(SlotTag(i, 0));
            got.push_back(SlotTag(i, 1));
            for (int h : kPhase0[i - 1]) {
                expected.push_back(tagOfGroupFrame(h));
            }
        }
        EXPECT_EQ(got, expected);
        // The pulldown analysis sees the group, its last frame repeated up to the next one.
        Start(false, 480);
        gConversionOptions.pulldown32To25P = 1;
        gEngineSettings.passesLeft = 2;
        int outList[4] = {-1, -1, -1, -1};
        for (int k = 0; k < frames; k++) {
            const std::vector<uint8_t> f = TaggedFrame(k + 1, 480);
            (void)FeedPulldownRemoval(f.data(), 480, kWidth, 3, outList, k);
        }
        EXPECT_EQ(FinishPulldownRemoval(480, kWidth, 3, outList, frames), 0);
        for (int slot = 1; slot <= 6; slot++) {
            EXPECT_EQ(SlotTag(slot), tagOfGroupFrame(slot - 1)) << slot;
        }
        // Plain 60i to 25P rebuilds four frames of it, and keeps those of the frames it holds.
        gConversionOptions.pulldown32To25P = 0;
        gEngineSettings.passesLeft = 1;
        EXPECT_EQ(FinishPulldownRemoval(480, kWidth, 3, outList, frames), (4 * held + 4) / 5);
    }
}

TEST_F(FrameFeedTest, SingleFrameFeedReturnsTheFrameOfTheCallBefore)
{
    Start(false, 480);
    std::vector<int> returned;
    for (int tag = 1; tag <= 4; tag++) {
        std::vector<uint8_t> f = TaggedFrame(tag, 480);
        FeedSingleFrame(f.data(), 480, kWidth, 3);
        returned.push_back(TagOf(f.data()));
    }
    EXPECT_EQ(returned, (std::vector<int>{1, 1, 2, 3}));
    EXPECT_EQ(gSingleFrameFeed.callCount, 4);
    EXPECT_EQ(gSingleFrameFeed.firstCall, 0);
}

TEST_F(FrameFeedTest, FramesThatDoNotFitAreRefused)
{
    Start(true, 576);
    std::vector<uint8_t> small = TaggedFrame(1, 576);
    int outList[4] = {};
    struct Case
    {
        int height, width, bytesPerPixel, number;
    } cases[] = {
        {1601, 1920, 3, 1}, // one line more than the frame buffers hold
        {576, 0, 3, 1},     {0, 2, 3, 1},
        {576, 2, 0, 1},     {576, 2, 3, 0}, // frame numbers of the group feed start at 1
        {-576, -2, 3, 1},
    };
    std::memset(gFrameStore.inputFrames[1], 0xee, 16);
    std::vector<uint8_t> big(size_t(1601) * 1920 * 3);
    for (const Case &c : cases) {
        const uint8_t *frame = c.height == 1601 ? big.data() : small.data();
        EXPECT_EQ(FeedFrameGroup(frame, c.height, c.width, c.bytesPerPixel, c.number), 0);
        EXPECT_EQ(
            FeedPulldownRemoval(frame, c.height, c.width, c.bytesPerPixel, outList, c.number - 1),
            0);
    }
    EXPECT_EQ(gFrameStore.inputFrames[1][0], 0xee);
    EXPECT_EQ(FeedPulldownRemoval(small.data(), 576, 2, 3, outList, -5), 0);
    EXPECT_EQ(FeedPulldownRemoval(small.data(), 576, 2, 3, nullptr, 0), 0);
    EXPECT_EQ(gFrameStore.inputFrames[1][0], 0xee);
}

} // namespace
