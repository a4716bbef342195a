#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/avi_playback.h"
#include "app/player_controls.h"
#include "app/player_controls_template.h"
#include "dvdecoder/cindrell.h"
#include "formats/avi_reader.h"
#include "formats/avi_writer.h"
#include "formats/dv_setup.h"
#include "formats/dv_setup_hooks.h"
#include "passes/conversion_state.h"
#include "passes/process_control.h"
#include "passes/source_kind.h"
#include "passes/ui_hooks.h"
#include "passes/vfw_output.h"
#include "platform/sys/text.h"
#include "platform/ui/application.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/message_box.h"
#include "platform/ui/ui_driver.h"
#include "tests/app/avi_playback_test_support.h"

using namespace lc::ui;
using players_test::Fixture;
using players_test::FixtureDir;
using players_test::GatedClock;
using players_test::MaxPictureDifference;
using players_test::ReadBytes;
using players_test::TheWindows;
using players_test::WaitForPlaybackEnd;
using players_test::WaitUntilBlocked;

namespace {

constexpr int kW = 64; // mjpeg.avi and raw24.avi
constexpr int kH = 48;
constexpr size_t kFrameBytes = size_t(kW) * kH * 3;

class Playback : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureGuiApplication();
        players_test::Windows &w = TheWindows();
        SetPlaybackWindows(&w.frame, &w.view);
        gSourceKind.Clear();
        gProcessControl.batchRunning = 0;
        gProcessControl.errorShown = 0;
        gPlayerState.mpegActive = 0;
        gPlayerState.aviActive = 0;
        gPlayerState.step = 0;
        driver::ProcessEvents();
    }
    void TearDown() override
    {
        GatedClock::Unlimited();
        AviStopPlayback();
        gAviPlayback.fileName[0] = 0;
        gPlayerState.aviActive = 0;
        gDvSetupHooks.cindrellDecodeFrame = nullptr;
        gDvSetupHooks.cindrellInit = nullptr;
        TeardownDecoder();
        driver::ProcessEvents();
    }

    CView &View() { return TheWindows().view; }

    void Open(const char *name, bool mxf = false)
    {
        gSourceKind.isMxf = mxf ? 1 : 0;
        gSourceKind.isAvi = mxf ? 0 : 1;
        gSourceKind.viaAviPlayer = 1;
        OpenMovieForPlayback(Fixture(name).c_str());
        WaitForPlaybackEnd();
    }

    // Frame i of a fixture's decoding (top-down B, G, R).
    const uint8_t *Frame(const std::vector<uint8_t> &frames, int i)
    {
        EXPECT_GE(frames.size(), (i + 1) * kFrameBytes);
        return frames.data() + i * kFrameBytes;
    }

    GatedClock clock_;
    MessageRecorder messages_;
};

struct Movie
{
    const char *avi;
    const char *frames;
    int tolerance; // MJPEG: our colour conversion against ffmpeg's
};
// mjpeg_copy.avi holds its frames at a time base of 1/50 (ffmpeg's copy of a movie): it plays as
// the same 10 frames at 25 frames/s.
const Movie kMovies[] = {{"mjpeg.avi", "mjpeg.bgr", 10},
                         {"raw24.avi", "raw24.bgr", 0},
                         {"mjpeg_copy.avi", "mjpeg_copy.bgr", 10}};

TEST_F(Playback, OpeningShowsFrameZeroAndLeavesNoThread)
{
    for (const Movie &m : kMovies) {
        SCOPED_TRACE(m.avi);
        View().ClearPicture();
        Open(m.avi);
        EXPECT_EQ(gAviPlayback.threadRunning, 0);
        EXPECT_EQ(gAviPlayback.frameIndex, 0);
        EXPECT_EQ(gConversionState.sourceFrameCount, 10);
        const std::vector<uint8_t> frames = ReadBytes(Fixture(m.frames));
        EXPECT_LE(MaxPictureDifference(View(), Frame(frames, 0), kW, kH), m.tolerance);
        EXPECT_TRUE(messages_.Messages().empty());
        // The main frame's client area is the picture.
        const lc::ui::Rect c = TheWindows().frame.GetClientRect();
        EXPECT_EQ(c.Width(), kW);
        EXPECT_EQ(c.Height(), kH);
    }
}

TEST_F(Playback, PlayIsPacedToTheFileRateAndShowsEveryFrame)
{
    for (const Movie &m : kMovies) {
        SCOPED_TRACE(m.avi);
        Open(m.avi);
        const std::vector<uint8_t> frames = ReadBytes(Fixture(m.frames));
        // Frame by frame: each frame is painted before its 40 ms wait.
        GatedClock::ClearSleeps();
        GatedClock::Permit(0);
        StartOrPauseAviPlayback();
        for (int i = 0; i < 10; ++i) {
            WaitUntilBlocked();
            EXPECT_EQ(gAviPlayback.frameIndex, i);
            EXPECT_LE(MaxPictureDifference(View(), Frame(frames, i), kW, kH), m.tolerance)
                << "frame " << i;
            GatedClock::Permit(1);
        }
        GatedClock::Unlimited();
        WaitForPlaybackEnd();
        // 25 fps (scale 1, rate 25): 40 ms a frame; the round past the end waits too.
        EXPECT_EQ(GatedClock::Sleeps(), std::vector<uint32_t>(11, 40));
        EXPECT_EQ(gAviPlayback.frameIndex, 10);
        EXPECT_LE(MaxPictureDifference(View(), Frame(frames, 9), kW, kH), m.tolerance);
    }
}

TEST_F(Playback, PacingSubtractsTheTimeSpentOnTheFrame)
{
    struct Case
    {
        uint32_t spentMs; // between the two readings of the clock in a frame
        std::vector<uint32_t> sleeps;
    };
    const Case kCases[] = {
        {15, std::vector<uint32_t>(11, 25)},
        {40, {}}, // no time left
        {90, {}}, // late: no wait, and no wrap-around into a long one
    };
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.spentMs);
        Open("raw24.avi");
        GatedClock::ClearSleeps();
        GatedClock::SetTickPerRead(c.spentMs);
        StartOrPauseAviPlayback();
        WaitForPlaybackEnd();
        GatedClock::SetTickPerRead(0);
        EXPECT_EQ(GatedClock::Sleeps(), c.sleeps);
        EXPECT_EQ(gAviPlayback.frameIndex, 10);
    }
}

TEST_F(Playback, PlayAfterTheEndStartsAgainFromFrameZero)
{
    Open("raw24.avi");
    StartOrPauseAviPlayback();
    WaitForPlaybackEnd();
    ASSERT_EQ(gAviPlayback.frameIndex, 10);
    GatedClock::Permit(0);
    StartOrPauseAviPlayback();
    WaitUntilBlocked();
    EXPECT_EQ(gAviPlayback.frameIndex, 0);
    const std::vector<uint8_t> frames = ReadBytes(Fixture("raw24.bgr"));
    EXPECT_EQ(MaxPictureDifference(View(), Frame(frames, 0), kW, kH), 0);
}

TEST_F(Playback, StopEndsTheThreadAfterTheFrameInHand)
{
    Open("raw24.avi");
    GatedClock::Permit(3);
    StartOrPauseAviPlayback();
    WaitUntilBlocked();
    EXPECT_EQ(gAviPlayback.frameIndex, 3);
    // The flag first, while the thread still waits in frame 3, then the stop that waits for it.
    gAviPlayback.stopRequested = 1;
    GatedClock::Unlimited();
    AviStopPlayback();
    EXPECT_EQ(gAviPlayback.threadRunning, 0);
    EXPECT_EQ(gAviPlayback.frameIndex, 3);
    // The passes' hook reaches the same stop.
    InstallAviPlaybackHooks();
    EXPECT_EQ(gUiHooks.stopAviPlayback, &AviStopPlayback);
    EXPECT_EQ(gUiHooks.resizePlaybackWindow, &AviResizePlaybackWindow);
    gUiHooks = UiHooks{};
}

TEST_F(Playback, PauseHoldsTheFrameAndAStepOnlyEndsThePausedPlayback)
{
    Open("raw24.avi");
    gPlayerState.aviActive = 1;
    GatedClock::Permit(5);
    StartOrPauseAviPlayback();
    WaitUntilBlocked();        // in frame 5's wait
    StartOrPauseAviPlayback(); // pause
    GatedClock::Permit(4);
    WaitUntilBlocked(); // in the pause loop
    EXPECT_EQ(gAviPlayback.threadRunning, 1);
    EXPECT_EQ(gAviPlayback.frameIndex, 5);
    const std::vector<uint32_t> sleeps = GatedClock::Sleeps();
    EXPECT_EQ(sleeps.back(), 100u); // the pause polls every 100 ms

    GatedClock::Unlimited();
    g_playerControls.OnStepBack(); // ends the paused playback only
    WaitForPlaybackEnd();
    EXPECT_EQ(gAviPlayback.frameIndex, 5);
    g_playerControls.OnStepBack(); // now the previous frame
    WaitForPlaybackEnd();
    EXPECT_EQ(gAviPlayback.frameIndex, 4);
    const std::vector<uint8_t> frames = ReadBytes(Fixture("raw24.bgr"));
    EXPECT_EQ(MaxPictureDifference(View(), Frame(frames, 4), kW, kH), 0);
    // "|>" after that plays, not steps.
    StartOrPauseAviPlayback();
    WaitForPlaybackEnd();
    EXPECT_EQ(gAviPlayback.frameIndex, 10);
}

TEST_F(Playback, StepsStayInsideTheMovie)
{
    struct Case
    {
        int from; // frame shown before the step
        int step;
        int shown;
    };
    const Case kCases[] = {{0, -1, 0}, {0, 1, 1}, {5, -1, 4}, {9, 1, 9}, {9, -1, 8}};
    const std::vector<uint8_t> frames = ReadBytes(Fixture("raw24.bgr"));
    for (const Case &c : kCases) {
        SCOPED_TRACE(testing::Message() << c.from << " step " << c.step);
        Open("raw24.avi");
        gPlayerState.aviActive = 1;
        for (int i = 0; i < c.from; ++i) {
            g_playerControls.OnStepForward();
            WaitForPlaybackEnd();
        }
        ASSERT_EQ(gAviPlayback.frameIndex, c.from);
        if (c.step > 0) {
            g_playerControls.OnStepForward();
        } else {
            g_playerControls.OnStepBack();
        }
        WaitForPlaybackEnd();
        EXPECT_EQ(gAviPlayback.frameIndex, c.shown);
        EXPECT_EQ(MaxPictureDifference(View(), Frame(frames, c.shown), kW, kH), 0);
        EXPECT_EQ(gPlayerState.step, 0);
    }
}

// A decompressor whose end waits while held: the playback thread is caught as it ends.
std::atomic<int> gHoldEnd{0};
std::atomic<int> gInEnd{0};
void HeldEnd(void *ic)
{
    gInEnd = 1;
    while (gHoldEnd) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    MediaLayerDecompressor().end(ic);
}

TEST_F(Playback, AStepAskedWhileThePlaybackEndsIsNotLost)
{
    const PlaybackDecompressor saved = gPlaybackDecompressor;
    gPlaybackDecompressor.end = &HeldEnd;
    Open("mjpeg.avi");
    gPlayerState.aviActive = 1;
    gHoldEnd = 1;
    gInEnd = 0;
    g_playerControls.OnStepForward(); // frame 1, then the thread ends...
    WaitHandlingCalls([] { return gInEnd == 1; });
    EXPECT_EQ(gAviPlayback.frameIndex, 1);
    g_playerControls.OnStepForward(); // ...and sees this one while it still runs
    gHoldEnd = 0;
    gAviPlayback.thread.Join();
    driver::ProcessEvents();
    EXPECT_EQ(gAviPlayback.threadRunning, 0);
    EXPECT_EQ(gAviPlayback.frameIndex, 2);
    const std::vector<uint8_t> frames = ReadBytes(Fixture("mjpeg.bgr"));
    EXPECT_LE(MaxPictureDifference(View(), Frame(frames, 2), kW, kH), 10);
    gPlaybackDecompressor = saved;
}

TEST_F(Playback, TheSliderShowsItsShareOfTheMovie)
{
    OpenAviPlayer(Fixture("long.avi").c_str());
    WaitForPlaybackEnd();
    ASSERT_EQ(gConversionState.sourceFrameCount, 1001);
    // The user drags the handle key by key; every move asks for a frame on the way.
    ASSERT_TRUE(driver::MoveTrackbar(g_playerControls, IDC_PLAYER_SLIDER, 50));
    WaitForPlaybackEnd();
    EXPECT_EQ(gPlayerState.sliderPercent, 50);
    EXPECT_EQ(gAviPlayback.frameIndex, 500);
    const std::vector<uint8_t> f500 = ReadBytes(Fixture("long_500.bgr"));
    ASSERT_EQ(f500.size(), 16u * 16 * 3);
    EXPECT_EQ(MaxPictureDifference(View(), f500.data(), 16, 16), 0);
    // The right end is the last frame.
    gPlayerState.sliderPercent = 100;
    RestartAviPlayback();
    WaitForPlaybackEnd();
    EXPECT_EQ(gAviPlayback.frameIndex, 1000);
    // Playing moves the slider with the frame (as a position set from code, which seeks nothing).
    GatedClock::Permit(0);
    StartOrPauseAviPlayback();
    WaitUntilBlocked();
    GatedClock::Permit(250);
    WaitUntilBlocked();
    driver::ProcessEvents();
    EXPECT_EQ(gAviPlayback.frameIndex, 250);
    EXPECT_EQ(g_playerControls.GetPos(IDC_PLAYER_SLIDER), 250 * 100 / 1001);
    EXPECT_EQ(gPlayerState.sliderPercent, 100);
}

TEST_F(Playback, OpenFailuresShowTheirMessages)
{
    struct Case
    {
        const char *file;
        const char *message;
    };
    const Case kCases[] = {
        {"nocodec.avi", "Could not find codec \"ZZZZ\" installed for this AVI"},
        {"huge.avi", "Could not allocate memory for AVI playback"},
    };
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.file);
        MessageRecorder rec;
        Open(c.file);
        const std::vector<RecordedMessage> got = rec.Messages();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].text, c.message);
        EXPECT_EQ(gAviPlayback.threadRunning, 0);
        EXPECT_STREQ(gAviPlayback.fileName, "");
        // Nothing is left to play.
        StartOrPauseAviPlayback();
        WaitForPlaybackEnd();
        EXPECT_TRUE(rec.Messages().size() == 1);
    }
}

TEST_F(Playback, InputThatDoesNotFitIsNotPlayed)
{
    // No path: nothing opens.
    OpenAviPlayer(nullptr);
    WaitForPlaybackEnd();
    EXPECT_STREQ(gAviPlayback.fileName, "");
    EXPECT_TRUE(messages_.Messages().empty());

    // An MXF sound file has no picture: the set-up refuses its size.
    {
        MessageRecorder rec;
        Open("mxf/dv25pal_a0.mxf", true);
        const std::vector<RecordedMessage> got = rec.Messages();
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.back().text, "Could not allocate memory for MXF playback");
        EXPECT_STREQ(gAviPlayback.fileName, "");
        EXPECT_EQ(gAviPlayback.threadRunning, 0);
    }

    // A file that became larger between the open and the play is not read into the smaller
    // buffers: the thread ends without painting.
    Open("long.avi");
    ASSERT_EQ(gAviPlayback.bufferBytes, 16u * 16 * 4);
    View().ClearPicture();
    ASSERT_TRUE(lc::CopyText(gAviPlayback.fileName, Fixture("raw24.avi").c_str()));
    StartOrPauseAviPlayback();
    WaitForPlaybackEnd();
    EXPECT_EQ(driver::SurfacePixel(View(), 3, 3), 0xffffffu);
}

// The DVCPRO HD decoder as the MXF frame decoder calls it: records the decode mode.
std::vector<int> gModes;
void RecordingCindrell(uint8_t *output, int width, int height, const uint8_t *, uint8_t *, int mode,
                       int, int, int, int, int, int)
{
    gModes.push_back(mode);
    std::memset(output, mode ? 0xff : 0x40, size_t(width) * height * 3);
}

TEST_F(Playback, MxfClipsArePacedAtTheirRateAndDecodedFastOnlyWhilePlaying)
{
    // 29.97 frames/s: rate 2997, scale 100, 33 ms a frame.
    Open("mxf/dv25ntsc_v.mxf", true);
    ASSERT_TRUE(messages_.Messages().empty());
    EXPECT_EQ(gAviPlayback.frameWidth, 720);
    const std::vector<uint8_t> first = ReadBytes(Fixture("mxf/dv25ntsc_v.bgr"));
    ASSERT_GE(first.size(), 720u * 480 * 3);
    // That file holds bottom-up rows; compare the top line region through a flipped copy.
    std::vector<uint8_t> topDown(720 * 480 * 3);
    for (int y = 0; y < 480; ++y) {
        std::memcpy(&topDown[size_t(y) * 720 * 3], &first[size_t(479 - y) * 720 * 3], 720 * 3);
    }
    EXPECT_LE(MaxPictureDifference(View(), topDown.data(), 720, 480), 12);
    GatedClock::ClearSleeps();
    StartOrPauseAviPlayback();
    WaitForPlaybackEnd();
    const std::vector<uint32_t> sleeps = GatedClock::Sleeps();
    ASSERT_FALSE(sleeps.empty());
    EXPECT_EQ(sleeps, std::vector<uint32_t>(sleeps.size(), 33));

    // DVCPRO HD: full decoding for the still first frame and a pause, fast while playing.
    gModes.clear();
    gDvSetupHooks.cindrellDecodeFrame = &RecordingCindrell;
    Open("mxf/dvhd1080i50_v.mxf", true);
    ASSERT_TRUE(messages_.Messages().empty());
    EXPECT_EQ(gModes, std::vector<int>{1});
    EXPECT_EQ(driver::SurfacePixel(View(), 5, 5), 0xffffffu);
    gModes.clear();
    GatedClock::Permit(0);
    StartOrPauseAviPlayback();
    WaitUntilBlocked();
    EXPECT_EQ(driver::SurfacePixel(View(), 5, 5), 0x404040u);
    StartOrPauseAviPlayback(); // pause
    GatedClock::Permit(1);
    WaitUntilBlocked();
    EXPECT_EQ(gModes, (std::vector<int>{0, 1}));
    EXPECT_EQ(driver::SurfacePixel(View(), 5, 5), 0xffffffu);
}

// A clip whose descriptor gives an edit rate no camera records (near 2^32 frames/s): the rate
// is refused before it is ever turned into an integer, and the clip plays unpaced.
TEST_F(Playback, MxfClipWithAnUnrealRatePlaysUnpaced)
{
    std::vector<uint8_t> clip = ReadBytes(Fixture("mxf/dv25ntsc_v.mxf"));
    const uint8_t rateItem[] = {0x30, 0x01, 0x00, 0x08};
    auto at = std::search(clip.begin(), clip.end(), std::begin(rateItem), std::end(rateItem));
    ASSERT_NE(at, clip.end());
    const uint8_t hostile[8] = {0xff, 0xff, 0xff, 0xfe, 0x00, 0x00, 0x00, 0x01};
    std::copy(std::begin(hostile), std::end(hostile), at + 4);
    const std::string path = FixtureDir() + "/mxf/unreal_rate_v.mxf";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(clip.data()), std::streamsize(clip.size()));
    }
    gSourceKind.isMxf = 1;
    gSourceKind.isAvi = 0;
    gSourceKind.viaAviPlayer = 1;
    OpenMovieForPlayback(path.c_str());
    WaitForPlaybackEnd();
    ASSERT_TRUE(messages_.Messages().empty());
    EXPECT_EQ(gAviPlayback.frameWidth, 720);
    GatedClock::ClearSleeps();
    StartOrPauseAviPlayback();
    WaitForPlaybackEnd();
    EXPECT_TRUE(GatedClock::Sleeps().empty());
}

TEST_F(Playback, DvcproHdClipsPlayThroughTheOwnDecoder)
{
    // The decoder as the shell's start-up hooks it in.
    gDvSetupHooks.cindrellInit = &CindrellInit;
    gDvSetupHooks.cindrellDecodeFrame =
        [](uint8_t *output, int width, int height, const uint8_t *source, uint8_t *work, int mode,
           int yuv, int fastPath, int format, int bits, int decimation, int mirror) {
            (void)CindrellDecodeFrame(output, width, height, source, CindrellFrameBytes(format),
                                      work, mode, yuv, fastPath, format, bits, decimation, mirror);
        };
    Open("mxf/dvhd1080i50_v.mxf", true);
    ASSERT_TRUE(messages_.Messages().empty());
    ASSERT_EQ(gAviPlayback.frameWidth, 1920);
    // Frame 0 three times: full (opened), fast (playing), full again (paused).
    std::vector<uint32_t> pictures[3];
    auto grab = [&](std::vector<uint32_t> &out) {
        for (int y = 20; y < 1080; y += 263) {
            for (int x = 30; x < 1920; x += 211) {
                out.push_back(driver::SurfacePixel(View(), x, y));
            }
        }
    };
    grab(pictures[0]);
    GatedClock::Permit(0);
    StartOrPauseAviPlayback();
    WaitUntilBlocked();
    grab(pictures[1]);
    StartOrPauseAviPlayback(); // pause
    GatedClock::Permit(1);
    WaitUntilBlocked();
    grab(pictures[2]);
    EXPECT_EQ(pictures[2], pictures[0]);
    // The fast picture is the same picture at half the resolution: close, not equal.
    long total = 0;
    for (size_t i = 0; i < pictures[0].size(); ++i) {
        for (int shift : {0, 8, 16}) {
            total +=
                std::abs(int(pictures[0][i] >> shift & 0xff) - int(pictures[1][i] >> shift & 0xff));
        }
    }
    EXPECT_LT(total / long(pictures[0].size() * 3), 12);
    EXPECT_NE(pictures[1], pictures[0]);
    int distinct = 0;
    for (uint32_t p : pictures[0]) {
        distinct += p != pictures[0][0];
    }
    EXPECT_GT(distinct, 10); // a picture, not a blank
}

TEST_F(Playback, PassHelpersDecodePaintAndRefit)
{
    // A pass decodes a compressed AVI through the player, from the format the open copied: by the
    // time a pass runs the reader holds the output's header and frame size.
    InstallAviPlaybackHooks();
    Open("mjpeg.avi");
    ASSERT_EQ(AviOpenRead(Fixture("mjpeg.avi").c_str(), nullptr, nullptr), kAviOpenOk);
    std::vector<uint8_t> chunk(256 * 1024);
    const int bytes = AviReadNextFrame(chunk.data(), int(chunk.size()));
    ASSERT_GT(bytes, 0);
    SetOutputFrameSize(720, 576);
    EXPECT_EQ(OpenVfwDecompressor(kW + 2, kH), 0); // not the size the movie was opened at
    ASSERT_EQ(OpenVfwDecompressor(kW, kH), 1);
    std::vector<uint8_t> out(size_t(kW) * kH * 4);
    EXPECT_EQ(VfwDecompressFrame(chunk.data(), bytes, out.data()), 1);
    CloseVfwDecompressor();
    EXPECT_EQ(gAviPlayback.decompressor, nullptr);
    EXPECT_EQ(VfwDecompressFrame(chunk.data(), bytes, out.data()), 0); // closed
    AviCloseRead();
    // PaintRgbFrame takes bottom-up 24-bit frames: the 32-bit one repacked.
    std::vector<uint8_t> rgb(kFrameBytes);
    for (size_t i = 0; i < size_t(kW) * kH; ++i) {
        std::memcpy(&rgb[i * 3], &out[i * 4], 3);
    }
    View().ClearPicture();
    // A width that is not a multiple of 4: rows of exactly width x 3 bytes, bottom-up.
    std::vector<uint8_t> odd(5 * 3 * 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            const uint8_t v[3] = {uint8_t(10 * x), uint8_t(100 + y), 200}; // B, G, R
            std::memcpy(&odd[size_t(y * 5 + x) * 3], v, 3);
        }
    }
    PaintRgbFrame(odd.data(), 3, 5);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(driver::SurfacePixel(View(), x, 2 - y),
                      0xc80000u | uint32_t(100 + y) << 8 | uint32_t(10 * x))
                << x << "," << y;
        }
    }
    // Another size than the last paint refits the frame.
    PaintRgbFrame(rgb.data(), kH, kW);
    const std::vector<uint8_t> frames = ReadBytes(Fixture("mjpeg.bgr"));
    EXPECT_LE(MaxPictureDifference(View(), Frame(frames, 0), kW, kH), 10);
    EXPECT_EQ(TheWindows().frame.GetClientRect().Width(), kW);

    // Uncompressed AVI needs no decompressor; an unknown code has none, and a frame is then
    // refused, not handed to a null one.
    struct Case
    {
        const char *file;
        int opened;
    };
    for (const Case &c : {Case{"raw24.avi", 1}, Case{"nocodec.avi", 0}}) {
        messages_.Clear();
        Open(c.file);
        ASSERT_EQ(AviOpenRead(Fixture(c.file).c_str(), nullptr, nullptr), kAviOpenOk) << c.file;
        EXPECT_EQ(OpenVfwDecompressor(kW, kH), c.opened) << c.file;
        if (!c.opened) {
            EXPECT_EQ(VfwDecompressFrame(chunk.data(), bytes, out.data()), 0);
        }
        CloseVfwDecompressor();
        AviCloseRead();
    }

    // The processing thread's refit keeps the left edge and puts the top at 0.
    Open("raw24.avi");
    TheWindows().frame.MoveWindow(70, 90, 400, 300);
    driver::ProcessEvents();
    const int left = TheWindows().frame.GetWindowRect().left;
    AviResizePlaybackWindow();
    driver::ProcessEvents();
    const lc::ui::Rect w = TheWindows().frame.GetWindowRect();
    EXPECT_EQ(w.left, left);
    EXPECT_EQ(w.top, 0);
    EXPECT_EQ(TheWindows().frame.GetClientRect().Width(), kW);
    EXPECT_EQ(TheWindows().frame.GetClientRect().Height(), kH);
}

} // namespace
