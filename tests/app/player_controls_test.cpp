#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/avi_playback.h"
#include "app/player_controls.h"
#include "app/player_controls_template.h"
#include "mpeg2/mpeg2_hooks.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "mpeg2/output_stage_hooks.h"
#include "passes/lower_hooks.h"
#include "passes/movie_window_hooks.h"
#include "passes/process_control.h"
#include "passes/source_kind.h"
#include "passes/ui_hooks.h"
#include "platform/ui/application.h"
#include "platform/ui/message_box.h"
#include "platform/ui/ui_driver.h"
#include "tests/app/avi_playback_test_support.h"

using namespace lc::ui;
using players_test::Fixture;
using players_test::GatedClock;
using players_test::WaitForPlaybackEnd;

namespace {

// The MPEG-2 decoder as the controls see it: every call logged.
std::vector<std::string> gLog;
int gDecoderRunning = 0;

void InstallLoggingMpegHooks()
{
    gMpegPlayerHooks = MpegPlayerHooks{};
    gMpegPlayerHooks.openAndStartDecoder = [](const char *path) {
        gLog.push_back(std::string("open ") + path);
    };
    gMpegPlayerHooks.startOrPauseDecoding = [] { gLog.push_back("startOrPause"); };
    gMpegPlayerHooks.seekToSlider = [] {
        gLog.push_back("seek " + std::to_string(gPlayerState.sliderPercent));
    };
    gMpegPlayerHooks.stopDecoder = [] { gLog.push_back("stop"); };
    gMpegPlayerHooks.usePictureWindow = [](CWnd *) { gLog.push_back("window"); };
    gMpegPlayerHooks.decoderRunning = [] { return gDecoderRunning; };
    gMpegPlayerHooks.setProcessingMode = [](int mode) {
        gLog.push_back("mode " + std::to_string(mode));
    };
    gMpegPlayerHooks.requestSingleStep = [] { gLog.push_back("singleStep"); };
    gMpegPlayerHooks.clearForProcessing = [] { gLog.push_back("clear"); };
}

class PlayerControls : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureGuiApplication();
        players_test::Windows &w = players_test::TheWindows();
        SetPlaybackWindows(&w.frame, &w.view);
        gSourceKind.Clear();
        gProcessControl.batchRunning = 0;
        gPlayerState.mpegActive = 0;
        gPlayerState.aviActive = 0;
        gPlayerState.step = 0;
        gDecoderRunning = 0;
        InstallLoggingMpegHooks();
        gLog.clear();
    }
    void TearDown() override
    {
        GatedClock::Unlimited();
        AviStopPlayback();
        gMpegPlayerHooks = MpegPlayerHooks{};
        gPlayerState.mpegActive = 0;
        gPlayerState.aviActive = 0;
        if (g_playerControls.IsCreated()) {
            g_playerControls.ShowWindow(SW_HIDE);
        }
        driver::ProcessEvents();
    }
    void OpenMpeg()
    {
        OpenMpegPlayer("/m/a.mpg");
        driver::ProcessEvents();
        gLog.clear();
    }
    GatedClock clock_;
    MessageRecorder messages_;
};

TEST_F(PlayerControls, SetPlayerSliderClampsToTheTrackbarRange)
{
    OpenMpeg();
    const int userPercent = gPlayerState.sliderPercent;
    struct Case
    {
        int percent;
        int pos;
    };
    for (const Case &c : {Case{-5, 0}, Case{250, 100}, Case{37, 37}, Case{100, 100}}) {
        SetPlayerSlider(c.percent);
        driver::ProcessEvents();
        EXPECT_EQ(g_playerControls.GetPos(IDC_PLAYER_SLIDER), c.pos) << c.percent;
    }
    // A position set from code is not the user's: no seek, and the user's position stays.
    EXPECT_TRUE(gLog.empty());
    EXPECT_EQ(gPlayerState.sliderPercent, userPercent);
}

TEST_F(PlayerControls, TheButtonsDriveTheMpegDecoder)
{
    struct Case
    {
        int button;
        int running;
        std::vector<std::string> calls;
        int step;
    };
    const Case kCases[] = {
        {IDC_PLAYER_PLAY, 0, {"mode 0", "startOrPause"}, 0},
        {IDC_PLAYER_STEP_BACK, 0, {}, -1}, // the decoder cannot step back
        {IDC_PLAYER_STEP_AHEAD, 0, {"singleStep", "startOrPause"}, 1},
        {IDC_PLAYER_STEP_AHEAD, 1, {"singleStep"}, 1},
    };
    for (const Case &c : kCases) {
        SCOPED_TRACE(testing::Message() << c.button << " running " << c.running);
        OpenMpeg();
        gPlayerState.step = 0;
        gDecoderRunning = c.running;
        ASSERT_TRUE(driver::Click(g_playerControls, c.button));
        EXPECT_EQ(gLog, c.calls);
        EXPECT_EQ(gPlayerState.step, c.step);
    }
    // The user's slider move seeks to its position.
    OpenMpeg();
    ASSERT_TRUE(driver::MoveTrackbar(g_playerControls, IDC_PLAYER_SLIDER, 3));
    EXPECT_EQ(gLog.back(), "seek 3");
    EXPECT_EQ(gPlayerState.sliderPercent, 3);
}

TEST_F(PlayerControls, WithNoPlayerActiveNothingHappens)
{
    OpenMpeg();
    gPlayerState.mpegActive = 0;
    const int before = gPlayerState.sliderPercent;
    for (int id : {IDC_PLAYER_PLAY, IDC_PLAYER_STEP_BACK, IDC_PLAYER_STEP_AHEAD}) {
        ASSERT_TRUE(driver::Click(g_playerControls, id));
    }
    ASSERT_TRUE(driver::MoveTrackbar(g_playerControls, IDC_PLAYER_SLIDER, 7));
    EXPECT_TRUE(gLog.empty());
    EXPECT_EQ(gPlayerState.sliderPercent, before);
    EXPECT_EQ(gAviPlayback.threadRunning, 0);
}

TEST_F(PlayerControls, OpeningAndClosingThePlayersShowsAndHidesTheDialog)
{
    OpenMpegPlayer("/m/a.mpg");
    driver::ProcessEvents();
    EXPECT_EQ(gLog, (std::vector<std::string>{"window", "open /m/a.mpg"}));
    EXPECT_EQ(gPlayerState.controlsCreated, 1);
    EXPECT_TRUE(g_playerControls.IsWindowVisible());
    EXPECT_EQ(gPlayerState.mpegActive, 1);
    EXPECT_EQ(gPlayerState.aviActive, 0);

    gLog.clear();
    CloseMpegPlayer();
    driver::ProcessEvents();
    EXPECT_EQ(gLog, std::vector<std::string>{"stop"});
    EXPECT_FALSE(g_playerControls.IsWindowVisible());
    EXPECT_EQ(gPlayerState.mpegActive, 0);
    ShowMpegPlayer();
    driver::ProcessEvents();
    EXPECT_TRUE(g_playerControls.IsWindowVisible());

    gSourceKind.isAvi = 1;
    OpenAviPlayer(Fixture("raw24.avi").c_str());
    WaitForPlaybackEnd();
    EXPECT_EQ(gPlayerState.aviActive, 1);
    EXPECT_EQ(gPlayerState.mpegActive, 0);
    EXPECT_TRUE(g_playerControls.IsWindowVisible());
    CloseAviPlayer();
    driver::ProcessEvents();
    EXPECT_EQ(gPlayerState.aviActive, 0);
    EXPECT_FALSE(g_playerControls.IsWindowVisible());
    ShowAviPlayer();
    driver::ProcessEvents();
    EXPECT_TRUE(g_playerControls.IsWindowVisible());
    EXPECT_EQ(gPlayerState.aviActive, 1);

    // During a batch an AVI opens without the dialog.
    CloseAviPlayer();
    gProcessControl.batchRunning = 1;
    OpenAviPlayer(Fixture("raw24.avi").c_str());
    WaitForPlaybackEnd();
    driver::ProcessEvents();
    EXPECT_FALSE(g_playerControls.IsWindowVisible());
    EXPECT_EQ(gPlayerState.aviActive, 1);
    EXPECT_EQ(gAviPlayback.frameIndex, 0);
    EXPECT_EQ(gAviPlayback.threadRunning, 0);
    EXPECT_TRUE(messages_.Messages().empty());
}

TEST_F(PlayerControls, ResumeForProcessingRestartsTheWholeStreamWithoutTheDialog)
{
    OpenMpeg();
    ResumeMpegForProcessing();
    driver::ProcessEvents();
    EXPECT_EQ(gLog, (std::vector<std::string>{"clear", "startOrPause"}));
    EXPECT_FALSE(g_playerControls.IsWindowVisible());
    EXPECT_EQ(gPlayerState.mpegActive, 0);
}

TEST_F(PlayerControls, TheDecoderReachesTheSliderThroughItsHooks)
{
    OpenMpeg();
    InstallPlayerHooks();
    // The decoder thread moves the slider and reads the user's position through its hooks.
    gMpeg2Hooks.setPlayerSlider(250);
    driver::ProcessEvents();
    EXPECT_EQ(g_playerControls.GetPos(IDC_PLAYER_SLIDER), 100);
    gPlayerState.sliderPercent = 42;
    EXPECT_EQ(gMpeg2Hooks.playerSliderValue(), 42);
    gMpegPlayerHooks.requestSingleStep();
    EXPECT_EQ(gMpegDecoderControl.paused, 1);
    EXPECT_EQ(gMpegDecoderControl.singleStep, 1);
    gMpegDecoderControl.paused = 0;
    gMpegDecoderControl.singleStep = 0;
    gMpeg2Hooks = Mpeg2Hooks{};
    gUiHooks = UiHooks{};
    gMovieWindowHooks = MovieWindowHooks{};
    gLowerHooks = LowerHooks{};
    gOutputStageHooks = OutputStageHooks{};
}

TEST_F(PlayerControls, TheDialogIsMadeInsideTheScreen)
{
    // Below its owner, by the template's 650 dialog units, unless that leaves the screen's
    // available area (it does on a 1080-line screen): then inside its edges.
    CFrameWnd &owner = players_test::TheWindows().frame;
    const lc::ui::Rect area = owner.GetScreenWorkArea();
    ASSERT_GT(area.Width(), 0);
    struct Case
    {
        int x, y; // of the owner
    };
    for (const Case &c : {Case{area.left, area.top}, Case{area.right - 150, area.bottom - 120},
                          Case{area.left - 400, area.top}}) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        g_playerControls.DestroyWindow();
        gPlayerState.controlsCreated = 0;
        owner.MoveWindow(c.x, c.y, 300, 200);
        driver::ProcessEvents();
        OpenMpeg();
        const lc::ui::Rect r = g_playerControls.GetWindowRect();
        EXPECT_GE(r.left, area.left);
        EXPECT_GE(r.top, area.top);
        // The offscreen screen is narrower than the dialog: then its left edge is the area's.
        EXPECT_TRUE(r.right <= area.right || r.left == area.left) << r.left << " " << r.right;
        EXPECT_LE(r.bottom, area.bottom);
        EXPECT_GT(r.top, owner.GetWindowRect().top);
    }
    owner.MoveWindow(0, 0, 300, 200);
    driver::ProcessEvents();
}

TEST_F(PlayerControls, Screenshot)
{
    OpenMpeg();
    SetPlayerSlider(30);
    driver::ProcessEvents();
    EXPECT_EQ(g_playerControls.GetWindowText(), "Player Controls");
    const std::string dir = std::string(LC_BINARY_DIR) + "/screenshots";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/player_controls.png";
    ASSERT_TRUE(driver::SaveScreenshot(g_playerControls, path));
    EXPECT_GT(driver::DistinctColours(path), 2);
}

} // namespace
