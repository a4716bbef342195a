#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "movie_test_support.h"
#include "platform/media/movie_controller.h"
#include "platform/media/movies.h"
#include "platform/sys/bytes.h"
#include "platform/sys/clock.h"

// The controller model: time runs on the (fake) clock, play stops at the end, steps go by video
// samples, and the frame at the current time goes through the installed decoder.

namespace {

struct Decoded
{
    long size = 0;
    OSType codec = 0;
};
Decoded gLast;

OSErr FakeDecode(const uint8_t *data, long size, ImageDescriptionHandle desc, uint8_t *rgb,
                 ptrdiff_t rowBytes, int width, int height)
{
    gLast.size = size;
    gLast.codec = (**desc).cType;
    for (int y = 0; y < height; ++y) {
        std::memset(rgb + y * rowBytes, data[0], size_t(width) * 3);
    }
    return noErr;
}

class Controller : public ::testing::Test
{
protected:
    void SetUp() override
    {
        clock_.Install();
        ASSERT_EQ(OpenMoviePath(Fixture("media_dvc.mov"), &movie_), noErr);
        Rect box;
        GetMovieBox(movie_, &box);
        EXPECT_EQ(box.right, 720);
        EXPECT_EQ(box.bottom, 480);
        mc_ = NewMovieController(movie_, &box, mcTopLeftMovie);
        ASSERT_NE(mc_, nullptr);
    }
    void TearDown() override
    {
        DisposeMovieController(mc_);
        DisposeMovie(movie_);
        SetMovieFrameDecoder(nullptr);
    }
    void PlayAtRate(Fixed rate)
    {
        MCDoAction(mc_, mcActionPlay, reinterpret_cast<void *>(intptr_t(rate)));
    }
    lc::FakeClock clock_;
    Movie movie_ = nullptr;
    MovieController mc_ = nullptr;
};

TEST_F(Controller, PlaysOnTheClockAndStopsAtTheEnd)
{
    Rect bounds;
    ASSERT_EQ(MCGetControllerBoundsRect(mc_, &bounds), 0);
    EXPECT_EQ(bounds.bottom, 480 + kControllerStripHeight);
    TimeScale scale = 0;
    EXPECT_EQ(MCGetCurrentTime(mc_, &scale), 0);
    EXPECT_EQ(scale, 1000);
    PlayAtRate(FixedOne);
    lc::FakeClock::Advance(250);
    MCIdle(mc_);
    EXPECT_EQ(MCGetCurrentTime(mc_, nullptr), 250);
    PlayAtRate(0); // pause
    lc::FakeClock::Advance(250);
    MCIdle(mc_);
    EXPECT_EQ(MCGetCurrentTime(mc_, nullptr), 250);
    PlayAtRate(FixedOne);
    lc::FakeClock::Advance(60000);
    MCIdle(mc_);
    EXPECT_EQ(MCGetCurrentTime(mc_, nullptr), GetMovieDuration(movie_));
    Fixed rate = -1;
    MCDoAction(mc_, mcActionGetPlayRate, &rate);
    EXPECT_EQ(rate, 0);
}

TEST_F(Controller, StepsByVideoSamplesAndKeys)
{
    TimeValue t = 250;
    MCDoAction(mc_, mcActionGoToTime, &t);
    MCDoAction(mc_, mcActionStep, reinterpret_cast<void *>(intptr_t(1)));
    EXPECT_EQ(MCGetCurrentTime(mc_, nullptr), 267); // 8 frames of 1001/30000 s
    MCDoAction(mc_, mcActionStep, reinterpret_cast<void *>(intptr_t(-2)));
    EXPECT_EQ(MCGetCurrentTime(mc_, nullptr), 200);

    EventRecord right;
    right.what = keyDown;
    right.message = 0x1d;
    EXPECT_EQ(MCIsPlayerEvent(mc_, &right), 0); // keys not enabled yet
    MCDoAction(mc_, mcActionSetKeysEnabled, reinterpret_cast<void *>(intptr_t(1)));
    EXPECT_EQ(MCIsPlayerEvent(mc_, &right), 1);
    EXPECT_EQ(MCGetCurrentTime(mc_, nullptr), 234);
    EventRecord space = right;
    space.message = ' ';
    EXPECT_EQ(MCIsPlayerEvent(mc_, &space), 1);
    lc::FakeClock::Advance(100);
    EventRecord idle;
    MCIsPlayerEvent(mc_, &idle);
    EXPECT_EQ(MCGetCurrentTime(mc_, nullptr), 334);
    EXPECT_EQ(MCIsPlayerEvent(mc_, &space), 1); // pauses
    lc::FakeClock::Advance(100);
    MCIsPlayerEvent(mc_, &idle);
    EXPECT_EQ(MCGetCurrentTime(mc_, nullptr), 334);
}

TEST_F(Controller, FrameAtTheCurrentTimeThroughTheDecoder)
{
    std::vector<uint8_t> rgb(720 * 480 * 3, 0xee);
    EXPECT_EQ(MCGetFrameRGB(mc_, rgb.data(), 720 * 3, 720, 480), noCodecErr);
    SetMovieFrameDecoder(FakeDecode);
    TimeValue t = GetMovieDuration(movie_); // the end shows the last frame
    MCDoAction(mc_, mcActionGoToTime, &t);
    ASSERT_EQ(MCGetFrameRGB(mc_, rgb.data(), 720 * 3, 720, 480), noErr);
    EXPECT_EQ(gLast.size, 120000);
    EXPECT_EQ(gLast.codec, lc::FourCC("dvc "));
    EXPECT_EQ(MCGetFrameRGB(nullptr, rgb.data(), 720 * 3, 720, 480), paramErr);
    EXPECT_EQ(NewMovieController(nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
}

} // namespace
