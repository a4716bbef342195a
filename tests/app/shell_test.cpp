#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/avi_playback.h"
#include "app/batch_dialog.h"
#include "app/frame_preview.h"
#include "app/guide.h"
#include "app/guide_pages.h"
#include "app/loomcut_app.h"
#include "app/loomcut_doc.h"
#include "app/loomcut_view.h"
#include "app/lower_hooks_setup.h"
#include "app/main_frame.h"
#include "app/options_dialog.h"
#include "app/options_file.h"
#include "app/player_controls.h"
#include "app/player_controls_template.h"
#include "app/progress_dialog.h"
#include "app/resource_ids.h"
#include "dvdecoder/cindrell_hooks.h"
#include "engine/conversion_options.h"
#include "engine/engine_hooks.h"
#include "formats/dv_setup_hooks.h"
#include "formats/formats_hooks.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "passes/conversion_state.h"
#include "passes/lower_hooks.h"
#include "passes/movie_window.h"
#include "passes/movie_window_hooks.h"
#include "passes/process_control.h"
#include "passes/process_thread.h"
#include "passes/source_kind.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/media/movie_controller.h"
#include "platform/media/movies.h"
#include "platform/sys/clock.h"
#include "platform/sys/file.h"
#include "platform/sys/path.h"
#include "platform/sys/text.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/message_box.h"
#include "platform/ui/ui_driver.h"
#include "tests/app/app_test_support.h"

namespace drv = lc::ui::driver;
using app_test::Fixture;

namespace {

constexpr char kTitle[] = "Kestra Halvorne";

// A movie object whose processing is a stand-in: it waits for the test, then leaves a result
// where the processing thread looks for it.
class FakeProcessingMovieWindow : public CMovieWindow
{
public:
    static std::atomic<int> release;
    static std::atomic<int> processing;
    static std::atomic<int> resultOpens;

    int OpenMovie(const char *path) override
    {
        if (path && strstr(path, "newmovie.avi")) {
            ++resultOpens;
        }
        return CMovieWindow::OpenMovie(path);
    }
    void ProcessMovie() override
    {
        processing = 1;
        while (!release) {
            usleep(1000);
        }
        app_test::CopyFile(Fixture("app_dv.avi"), std::string(movieFolder) + "newmovie.avi");
    }
};
std::atomic<int> FakeProcessingMovieWindow::release{0};
std::atomic<int> FakeProcessingMovieWindow::processing{0};
std::atomic<int> FakeProcessingMovieWindow::resultOpens{0};

CMovieWindow *MakeFake()
{
    return new FakeProcessingMovieWindow;
}

// Runs window events until done() holds, for at most ms; true when it held.
bool WaitFor(const std::function<bool()> &done, int ms = 10000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return done();
        }
        drv::ProcessEvents();
        usleep(1000);
    }
    return true;
}

// Runs fn on a thread of its own, as the processing thread calls the shell, while this (GUI)
// thread keeps handling the calls it hands over.
void RunOnWorker(const std::function<void()> &fn)
{
    std::atomic<bool> done{false};
    std::thread worker([&] {
        fn();
        done = true;
    });
    lc::ui::WaitHandlingCalls([&] { return done.load(); });
    worker.join();
    drv::ProcessEvents();
}

// A record of atomics made afresh.
template <class T> void Renew(T &record)
{
    record.~T();
    new (&record) T();
}

class ShellTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lc::PathExists(Fixture(".done").c_str())) << "fixtures missing";
        lc::ui::EnsureGuiApplication();
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        scratch_ = app_test::ScratchDir(std::string("shell_") + info->name());
        oldCwd_ = lc::CurrentFolder();
        ASSERT_EQ(chdir(scratch_.c_str()), 0);
        // The program folder and the user's configuration folder of this test: no options file
        // of the machine's is read, none is written there.
        programFolder_ = scratch_ + "/program/";
        configHome_ = scratch_ + "/config";
        mkdir(programFolder_.c_str(), 0755);
        ASSERT_TRUE(app_test::CopyFile(lc::ProgramFolder() + "hwelcome.jpg",
                                       programFolder_ + "hwelcome.jpg"));
        app_.SetProgramFolder(programFolder_);
        setenv("XDG_CONFIG_HOME", configHome_.c_str(), 1);
        makeMovieWindow_ = gMakeMovieWindow;
    }
    void TearDown() override
    {
        // Nothing of this test reaches the next: its run and players end, its windows go, and
        // the records and hooks start afresh.
        EXPECT_TRUE(WaitFor([] { return !ProcessingBusy(); }, 60000));
        WaitForProcessThread();
        if (gMovieWindow) {
            gMovieWindow->CloseMovie();
        }
        app_.DestroyDocumentWindows();
        for (lc::ui::CWnd *wnd : std::initializer_list<lc::ui::CWnd *>{
                 &gOptionsDialog, &gAdvancedDialog, &gNtscPalDialog, &gProgressDialog,
                 &gBatchDialog, &gGuideDialog, &g_playerControls}) {
            wnd->DestroyWindow();
        }
        delete gFramePreview;
        gFramePreview = nullptr;
        drv::ProcessEvents();
        gMakeMovieWindow = makeMovieWindow_;
        ResetConversionOptions(gConversionOptions);
        gConversionState = ConversionState{};
        Renew(gProcessControl);
        Renew(gUiState);
        Renew(gPlayerState);
        gOptionsFile = {};
        gSourceKind.Clear();
        gUiHooks = UiHooks{};
        gMovieWindowHooks = MovieWindowHooks{};
        gLowerHooks = LowerHooks{};
        unsetenv("XDG_CONFIG_HOME");
        (void)!chdir(oldCwd_.c_str());
    }

    // Start-up as the program does it, in the scratch folder, with the test's program folder.
    void Start(std::vector<std::string> args = {"loomcut"})
    {
        app_.SetCommandLine(std::move(args));
        ASSERT_TRUE(app_.InitInstance());
        drv::ProcessEvents();
    }
    std::string Copy(const char *fixture, const char *name)
    {
        std::string to = scratch_ + "/" + name;
        app_test::CopyFile(Fixture(fixture), to);
        return to;
    }
    static uint32_t Pixel(const std::vector<uint8_t> &rgb, int width, int x, int y)
    {
        const uint8_t *p = rgb.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    static int Distance(uint32_t a, uint32_t b)
    {
        int d = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            d = std::max(d, std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)));
        }
        return d;
    }
    // Mean colour distance between the view's picture and frame `index` of a fixture's
    // R, G, B frames (width x height), over a grid; -1 when the fixture holds no such frame.
    static int MeanDistance(const char *reference, int index, int width, int height)
    {
        auto ref = lc::ReadWholeFile(Fixture(reference).c_str());
        const size_t frameBytes = size_t(width) * size_t(height) * 3;
        if (!ref || ref->size() < frameBytes * size_t(index + 1)) {
            return -1;
        }
        std::vector<uint8_t> rgb(ref->begin() + long(frameBytes * size_t(index)),
                                 ref->begin() + long(frameBytes * size_t(index + 1)));
        int shownWidth = 0, shownHeight = 0;
        std::vector<uint32_t> shown = drv::SurfacePicture(*gMainFrame, &shownWidth, &shownHeight);
        if (shownWidth < width || shownHeight < height) {
            return 1000;
        }
        int sum = 0, n = 0;
        for (int y = 0; y < height; y += 3) {
            for (int x = 0; x < width; x += 5) {
                sum += Distance(shown[size_t(y) * size_t(shownWidth) + size_t(x)],
                                Pixel(rgb, width, x, y));
                ++n;
            }
        }
        return sum / n;
    }
    std::string Screenshot(lc::ui::CWnd &wnd, const char *name)
    {
        std::string dir = std::string(LC_BINARY_DIR) + "/screenshots_app";
        mkdir(dir.c_str(), 0755);
        std::string path = dir + "/" + name;
        EXPECT_TRUE(drv::SaveScreenshot(wnd, path));
        EXPECT_GT(drv::DistinctColours(path), 1) << path;
        return path;
    }

    lc::ui::MessageRecorder messages_;
    CLoomcutApp app_;
    std::string scratch_;
    std::string oldCwd_;
    std::string programFolder_;
    std::string configHome_;
    CMovieWindow *(*makeMovieWindow_)() = nullptr;
};

TEST(MediaVersion, TextAndWarnings)
{
    lc::ui::MessageRecorder messages;
    struct Case
    {
        int version;
        const char *text;
        const char *warning; // "" none
    };
    const Case cases[] = {
        {0x0650, "6.50",
         "Quicktime Version 6.50 installed. This version has known problems\nwith the DV codec, "
         "you will notice specks in the output movie\nPlease install version 6.5.1 or later"},
        {0x0410, "4.10",
         "Old Quicktime Version 4.10 installed.\nPlease install version 6.5.1 or later if "
         "possible"},
        {0x0700, "7.00", ""},
        {0x0760, "7.60", ""},
        {0x04a0, "4.:0", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        messages.Clear();
        EXPECT_EQ(MediaVersionText(c.version), c.text);
        WarnAboutMediaVersion(c.version);
        if (c.warning && !c.warning[0]) {
            EXPECT_TRUE(messages.Texts().empty());
        } else if (c.warning) {
            EXPECT_EQ(messages.Texts(),
                      std::vector<std::string>{std::string(c.warning) + "\nPress OK to continue."});
        }
    }
}

// Shutdown stops the MPEG decoder and waits until it has stopped, a second at most.
TEST(Shutdown, StopsTheMpegDecoderAndWaitsUntilItHasStopped)
{
    static int checksRunning; // the decoder answers "running" to this many checks
    struct Case
    {
        int checksRunning;
        uint32_t sleptMs;
    } cases[] = {
        {0, 0},                      // already stopped: no wait
        {3, 3 * lc::kWaitRecheckMs}, // stopped at the fourth check
        {1000000, 1000},             // never stops: the bound
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.checksRunning);
        lc::FakeClock clock;
        clock.Install();
        app_test::Calls().clear();
        checksRunning = c.checksRunning;
        gMovieWindowHooks.silenceMpegProgress = [] { app_test::Log("silence"); };
        gMovieWindowHooks.requestMpegStop = [] { app_test::Log("stop"); };
        gMovieWindowHooks.mpegDecoderRunning = [] { return --checksRunning >= 0 ? 1 : 0; };
        CLoomcutApp app;
        app.ExitInstance();
        EXPECT_EQ(app_test::Calls(), (std::vector<std::string>{"silence", "stop"}));
        EXPECT_EQ(lc::FakeClock::SleptMs(), c.sleptMs);
        gMovieWindowHooks = MovieWindowHooks{};
    }
}

TEST(LowerFolderHooks, ReportAndReadThroughThePasses)
{
    lc::ui::MessageRecorder messages;
    InstallLowerFolderHooks();
    gProcessControl.errorShown = 0;
    gFormatsHooks.showError("reader error");
    EXPECT_EQ(gProcessControl.errorShown, 1);
    gFormatsHooks.showWarning("reader warning");
    gCindrellHooks.messageBox("decoder failure", kCindrellCaption);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"reader error", "reader warning\nPress OK to continue.",
                                        "decoder failure"}));
    // Outside a run the formats get the values they would assume alone.
    gConversionState = ConversionState{};
    EXPECT_EQ(gFormatsHooks.ntscOutputHeight(), 480);
    EXPECT_EQ(gDvSetupHooks.timeScale(), 2500);
    EXPECT_EQ(gDvSetupHooks.sampleDuration(), 100);
    gFormatsHooks.setFrameRate(30);
    EXPECT_EQ(gDvSetupHooks.frameRate(), 30);
    gProcessControl.errorShown = 0;

    // The progress dialog's buttons reach the MPEG-2 decoder's flags, also with no stream open.
    gMpegDecoderControl.paused = 0;
    gMovieWindowHooks.toggleMpegPause();
    EXPECT_EQ(gMpegDecoderControl.paused, 1);
    gMovieWindowHooks.toggleMpegPause();
    EXPECT_EQ(gMpegDecoderControl.paused, 0);
    gMovieWindowHooks.requestMpegStop();
    EXPECT_EQ(gMpegDecoderControl.stopRequested, 1);
    gMpegDecoderControl.stopRequested = 0;
}

TEST_F(ShellTest, StartUpWithoutOptionsFile)
{
    Start();
    ASSERT_NE(gMainFrame, nullptr);
    EXPECT_EQ(gUiState.ready, 1);
    EXPECT_TRUE(messages_.Texts().empty());
    // The dialogs exist, hidden; the guide shows itself when there is no options file.
    for (lc::ui::CDialog *dlg : std::initializer_list<lc::ui::CDialog *>{
             &gOptionsDialog, &gAdvancedDialog, &gNtscPalDialog, &gProgressDialog, &gBatchDialog}) {
        EXPECT_TRUE(dlg->IsCreated()) << dlg->Template().name;
        EXPECT_FALSE(dlg->IsWindowVisible()) << dlg->Template().name;
    }
    EXPECT_TRUE(gGuideDialog.IsWindowVisible());
    EXPECT_EQ(gGuideDialog.GetDlgItemText(IDC_GUIDE_TEXT), GuidePageText(0, 0));
    ASSERT_NE(gFramePreview, nullptr);
    EXPECT_TRUE(gFramePreview->IsCreated());
    EXPECT_FALSE(gFramePreview->IsWindowVisible());
    EXPECT_EQ(gFramePreview->GetWindowText(), "Current Frame");
    EXPECT_EQ(gStartupPath, programFolder_ + "noguide");

    // The start picture, painted in the view above the control strip.
    EXPECT_EQ(gMainFrame->GetWindowText(), std::string(kTitle) + " - hwelcome.jpg");
    auto ref = lc::ReadWholeFile(Fixture("app_welcome.rgb").c_str());
    ASSERT_TRUE(ref);
    std::vector<uint8_t> rgb(ref->begin(), ref->end());
    ASSERT_EQ(rgb.size(), 640u * 480u * 3u);
    lc::ui::Rect client = gMainFrame->GetClientRect();
    EXPECT_EQ(client.Width(), 640);
    EXPECT_EQ(client.Height(), 480 + kControllerStripHeight);
    int worst = 0;
    for (int y = 0; y < 480; y += 37) {
        for (int x = 0; x < 640; x += 41) {
            worst = std::max(worst,
                             Distance(drv::SurfacePixel(*gMainFrame, x, y), Pixel(rgb, 640, x, y)));
        }
    }
    EXPECT_LE(worst, 8); // decoders may round differently, never flip or swap
    Screenshot(*gMainFrame, "main_window.png");
    Screenshot(gGuideDialog, "guide.png");
}

// The options file is read from the first of the current folder, the program folder and the
// user's configuration folder that holds one.
struct OptionsFileCase
{
    const char *name;
    bool inCurrent, inProgram, inConfig;
    const char *readFrom; // "current", "program" or "config"
};

class OptionsFileLocation : public ShellTest, public ::testing::WithParamInterface<OptionsFileCase>
{
protected:
    std::string Folder(const std::string &which)
    {
        return which == "current"   ? scratch_ + "/"
               : which == "program" ? programFolder_
                                    : configHome_ + "/loomcut/";
    }
};

TEST_P(OptionsFileLocation, StartUpReadsTheFirstFound)
{
    const OptionsFileCase &c = GetParam();
    mkdir(configHome_.c_str(), 0755);
    mkdir((configHome_ + "/loomcut").c_str(), 0755);
    // Each folder's file carries its own sensitivity and output folder.
    const struct
    {
        const char *which;
        bool present;
        int sensitivity;
    } files[] = {
        {"current", c.inCurrent, 101}, {"program", c.inProgram, 202}, {"config", c.inConfig, 303}};
    int expected = 0;
    for (const auto &f : files) {
        if (f.present) {
            ConversionOptions stored;
            stored.deinterlace = 1;
            stored.motionSensitivity = f.sensitivity;
            lc::CopyText(stored.outputFolder, (std::string("/media/") + f.which).c_str());
            ASSERT_TRUE(WriteOptionsFile((Folder(f.which) + "noguide").c_str(), stored));
            if (!expected && std::string(f.which) == c.readFrom) {
                expected = f.sensitivity;
            }
        }
    }
    gOptionsFile = {};
    Start();
    EXPECT_FALSE(gGuideDialog.IsWindowVisible());
    EXPECT_EQ(gConversionOptions.deinterlace, 1);
    EXPECT_EQ(gConversionOptions.motionSensitivity, expected);
    EXPECT_STREQ(gConversionOptions.outputFolder, (std::string("/media/") + c.readFrom).c_str());
    EXPECT_EQ(gOptionsFile.open, 1);
    EXPECT_EQ(gOptionsFile.path, Folder(c.readFrom) + "noguide");

    // "Close Guide" with the box checked writes it back where it was read.
    gGuideDialog.ShowWindow(lc::ui::SW_SHOW);
    ASSERT_TRUE(drv::Click(gGuideDialog, IDC_GUIDE_DONT_SHOW));
    gConversionOptions.motionSensitivity = 404;
    ASSERT_TRUE(drv::Click(gGuideDialog, IDOK));
    ConversionOptions back;
    ASSERT_TRUE(LoadOptionsFile((Folder(c.readFrom) + "noguide").c_str(), back));
    EXPECT_EQ(back.motionSensitivity, 404);
    EXPECT_TRUE(messages_.Texts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Shell, OptionsFileLocation,
    ::testing::Values(OptionsFileCase{"CurrentFolderFirst", true, true, true, "current"},
                      OptionsFileCase{"ProgramFolderNext", false, true, true, "program"},
                      OptionsFileCase{"ConfigurationFolderLast", false, false, true, "config"}),
    [](const ::testing::TestParamInfo<OptionsFileCase> &p) { return p.param.name; });

// A movie named on the command line opens in its own player before the dialogs exist, and its
// picture reaches the view.
struct CommandLineCase
{
    const char *fixture;
    const char *reference; // R, G, B frames of ffmpeg's decoding
    int width, height;
    int tolerance; // mean colour distance to the nearest reference frame
    bool mpeg, aviPlayer;
};

class CommandLineMovie : public ShellTest, public ::testing::WithParamInterface<CommandLineCase>
{
};

TEST_P(CommandLineMovie, OpensInItsPlayer)
{
    const CommandLineCase &c = GetParam();
    std::string movie = Copy(c.fixture, (std::string("named_") + c.fixture).c_str());
    Start({"loomcut", movie});
    EXPECT_TRUE(messages_.Texts().empty());
    EXPECT_STREQ(gMovieWindow->GetMoviePath(), movie.c_str());
    EXPECT_EQ(gMainFrame->GetWindowText(), std::string(kTitle) + " - named_" + c.fixture);
    EXPECT_EQ(gUiState.guidePage, 1);
    EXPECT_EQ(gUiState.optionsOpen, 1);
    EXPECT_EQ(gSourceKind.isMpeg, c.mpeg ? 1 : 0);
    EXPECT_EQ(gSourceKind.viaAviPlayer, c.aviPlayer ? 1 : 0);
    EXPECT_EQ(gPlayerState.mpegActive, c.mpeg ? 1 : 0);
    EXPECT_EQ(gPlayerState.aviActive, c.aviPlayer ? 1 : 0);
    EXPECT_EQ(g_playerControls.IsWindowVisible(), c.mpeg || c.aviPlayer);
    // The player has shown its pictures (an MPEG-2 stream plays through once) in a view of the
    // movie's size; a movie controller adds its strip.
    const int w = c.width;
    const int h = c.height + (c.mpeg || c.aviPlayer ? 0 : kControllerStripHeight);
    EXPECT_TRUE(WaitFor([&] {
        return gAviPlayback.threadRunning == 0 && IsMpegDecoderRunning() == 0
               && gMainFrame->GetClientRect().Width() == w
               && gMainFrame->GetClientRect().Height() == h;
    }));
    EXPECT_EQ(gMainFrame->GetClientRect().Width(), w);
    EXPECT_EQ(gMainFrame->GetClientRect().Height(), h);
    if (c.reference) {
        int best = 1000;
        for (int i = 0, d; (d = MeanDistance(c.reference, i, c.width, c.height)) >= 0; ++i) {
            best = std::min(best, d);
        }
        EXPECT_LE(best, c.tolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shell, CommandLineMovie,
    ::testing::Values(
        CommandLineCase{"app_clip.mov", nullptr, 160, 120, 0, false, false},
        CommandLineCase{"app_dv.avi", "app_dv.rgb", 720, 480, 6, false, false},
        CommandLineCase{"app_mjpeg.avi", "app_mjpeg.rgb", 160, 120, 8, false, true},
        CommandLineCase{"app_mpeg.vob", "app_mpeg.rgb", 352, 288, 8, true, false},
        CommandLineCase{"app_mpeg.ts", "app_mpeg.rgb", 352, 288, 8, true, false},
        // The picture at its own size, not the coded 1088 lines; a picture narrower than 720.
        CommandLineCase{"app_mpeg1080.vob", "app_mpeg1080.rgb", 1920, 1080, 8, true, false},
        CommandLineCase{"app_mpeg704.vob", "app_mpeg704.rgb", 704, 480, 8, true, false}),
    [](const ::testing::TestParamInfo<CommandLineCase> &p) {
        std::string name = p.param.fixture;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

TEST_F(ShellTest, FileOpenAndClose)
{
    Start();
    std::string movie = Copy("app_clip.mov", "opened.mov");
    {
        lc::ui::FileDialogScript script({{IDOK, movie}});
        ASSERT_TRUE(drv::ChooseMenu(*gMainFrame, ID_FILE_OPEN));
        ASSERT_EQ(script.Requests().size(), 1u);
        EXPECT_EQ(script.Requests()[0].title, "Open");
        EXPECT_EQ(script.Requests()[0].filter.rfind("Movie File (*.mov, *.avi, *.mxf)|", 0), 0u);
    }
    EXPECT_STREQ(gMovieWindow->GetMoviePath(), movie.c_str());
    EXPECT_EQ(gMainFrame->GetWindowText(), std::string(kTitle) + " - opened.mov");
    EXPECT_EQ(gUiState.guidePage, 1);
    EXPECT_EQ(gUiState.optionsOpen, 1);

    ASSERT_TRUE(drv::ChooseMenu(*gMainFrame, ID_FILE_CLOSE));
    EXPECT_STREQ(gMovieWindow->GetMoviePath(), "");
    EXPECT_EQ(gMainFrame->GetWindowText(), kTitle);
    EXPECT_EQ(app_.Document()->GetTitle(), "Untitled");

    // A failed open reports the movie object's message and leaves the document alone.
    EXPECT_EQ(app_.OpenDocumentFile((scratch_ + "/missing.mov").c_str()), nullptr);
    EXPECT_EQ(messages_.Texts().back(), "Could not open or read " + scratch_ + "/missing.mov");
}

TEST_F(ShellTest, AviFilesShowTheirFirstFrame)
{
    Start();
    struct Case
    {
        const char *fixture;
        const char *reference;
        int width, height;
        int tolerance; // mean distance allowed
    };
    const Case cases[] = {
        {"app_raw.avi", "app_raw.rgb", 66, 48, 0},
        {"app_mjpeg.avi", "app_mjpeg.rgb", 160, 120, 8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fixture);
        std::string movie = Copy(c.fixture, c.fixture);
        ASSERT_TRUE(OpenMovieDocument(movie.c_str()));
        EXPECT_EQ(gSourceKind.viaAviPlayer, 1);
        EXPECT_EQ(gMainFrame->GetWindowText(), std::string(kTitle) + " - " + c.fixture);
        // The playback thread paints frame 0 and ends; the frame is fitted around it. Mean
        // colour distance over a grid: JPEG chroma differs at sharp edges between decoders; a
        // flipped or swapped picture is far off.
        const int w = c.width;
        EXPECT_TRUE(WaitFor([&] {
            return gAviPlayback.threadRunning == 0 && gMainFrame->GetClientRect().Width() == w;
        }));
        EXPECT_EQ(gMainFrame->GetClientRect().Width(), c.width);
        EXPECT_LE(MeanDistance(c.reference, 0, c.width, c.height), c.tolerance);
    }
}

TEST_F(ShellTest, ControllerKeysStepAndPlay)
{
    Start();
    std::string movie = Copy("app_clip.mov", "keys.mov");
    ASSERT_TRUE(OpenMovieDocument(movie.c_str()));
    // Opening the open movie again reaches the document again.
    ASSERT_TRUE(OpenMovieDocument(movie.c_str()));
    gOptionsDialog.ShowWindow(lc::ui::SW_HIDE);
    drv::ProcessEvents();
    TimeScale scale = 0;
    ASSERT_NE(gMovieWindow->controller, nullptr);
    EXPECT_EQ(MCGetCurrentTime(gMovieWindow->controller, &scale), 0);
    uint32_t first = drv::SurfacePixel(*gMainFrame, 80, 60);
    int stripY = 120 + kControllerStripHeight / 2;
    uint32_t markAtStart = drv::SurfacePixel(*gMainFrame, kControllerButtonWidth, stripY);

    // One step forward shows the next frame; one back the first again.
    ASSERT_TRUE(drv::PressShortcut(*gMainFrame, "Right"));
    EXPECT_GT(MCGetCurrentTime(gMovieWindow->controller, &scale), 0);
    EXPECT_NE(drv::SurfacePixel(*gMainFrame, kControllerButtonWidth, stripY), markAtStart);
    ASSERT_TRUE(drv::PressShortcut(*gMainFrame, "Left"));
    EXPECT_EQ(MCGetCurrentTime(gMovieWindow->controller, &scale), 0);
    EXPECT_EQ(drv::SurfacePixel(*gMainFrame, 80, 60), first);

    // Space plays: time runs on by itself.
    ASSERT_TRUE(drv::PressShortcut(*gMainFrame, "Space"));
    EXPECT_TRUE(WaitFor([] {
        TimeScale s = 0;
        return MCGetCurrentTime(gMovieWindow->controller, &s) > 0;
    }));
}

TEST_F(ShellTest, ControllerStripTakesTheMouse)
{
    Start();
    std::string movie = Copy("app_clip.mov", "mouse.mov");
    ASSERT_TRUE(OpenMovieDocument(movie.c_str()));
    gOptionsDialog.ShowWindow(lc::ui::SW_HIDE);
    MovieController mc = gMovieWindow->controller;
    ASSERT_NE(mc, nullptr);
    const TimeValue duration = GetMovieDuration(gMovieWindow->GetMovie());
    auto now = [mc] {
        TimeScale s = 0;
        return MCGetCurrentTime(mc, &s);
    };
    auto rate = [mc] {
        Fixed r = 0;
        MCDoAction(mc, mcActionGetPlayRate, &r);
        return r;
    };
    // The strip below the 160 x 120 picture: the play button, then the slider.
    const int stripY = 120 + kControllerStripHeight / 2;
    const int sliderLeft = kControllerButtonWidth;
    const int sliderRight = 159;
    // A point of the button's face: inked in the triangle, not between the two bars.
    const uint32_t buttonPaused = drv::SurfacePixel(*gMainFrame, 8, stripY);

    // The play button plays, and pauses again; its face changes with it.
    ASSERT_TRUE(drv::ClickAt(*gMainFrame, 8, stripY));
    EXPECT_NE(rate(), 0);
    EXPECT_NE(drv::SurfacePixel(*gMainFrame, 8, stripY), buttonPaused);
    EXPECT_TRUE(WaitFor([&] { return now() > 0; }));
    ASSERT_TRUE(drv::ClickAt(*gMainFrame, 8, stripY));
    EXPECT_EQ(rate(), 0);
    EXPECT_EQ(drv::SurfacePixel(*gMainFrame, 8, stripY), buttonPaused);

    // Dragging the slider's mark to the right end goes to the end, and it is drawn there; the
    // mouse may leave the strip while the button is held.
    ASSERT_TRUE(drv::DragAt(*gMainFrame, sliderLeft, stripY, sliderRight, 40));
    EXPECT_EQ(now(), duration);
    EXPECT_EQ(drv::SurfacePixel(*gMainFrame, sliderRight, stripY), 0x202020u);
    // A click on the slider goes to the time under the mouse.
    struct Case
    {
        int x;
        TimeValue time;
    };
    const int span = sliderRight - sliderLeft;
    for (const Case &c :
         {Case{sliderLeft, 0}, Case{sliderLeft + span / 2, duration * (span / 2) / span}}) {
        SCOPED_TRACE(c.x);
        ASSERT_TRUE(drv::ClickAt(*gMainFrame, c.x, stripY));
        EXPECT_EQ(now(), c.time);
    }
    // A click in the picture is not the strip's.
    const TimeValue before = now();
    ASSERT_TRUE(drv::ClickAt(*gMainFrame, 80, 60));
    EXPECT_EQ(now(), before);
    EXPECT_EQ(rate(), 0);
}

// An MPEG-2 stream plays through when opened, and the Player Controls step it one picture at a
// time: the view shows the real decoded pictures, as ffmpeg decodes them.
TEST_F(ShellTest, MpegPicturesStepIntoTheView)
{
    // Our decoding against ffmpeg's differs by about 6 at the test card's sharp colour edges;
    // the neighbouring pictures are 12 and more away.
    constexpr int kTolerance = 8;
    Start();
    std::string movie = Copy("app_mpeg.vob", "step.vob");
    ASSERT_TRUE(OpenMovieDocument(movie.c_str()));
    // The decoder thread hands the window's new size to the GUI thread, which may take it after
    // the decoder has stopped.
    ASSERT_TRUE(WaitFor([] {
        return IsMpegDecoderRunning() == 0 && gMainFrame->GetClientRect().Width() == 352
               && gMainFrame->GetClientRect().Height() == 288;
    }));
    EXPECT_EQ(gMainFrame->GetClientRect().Width(), 352);
    EXPECT_EQ(gMainFrame->GetClientRect().Height(), 288);
    EXPECT_LE(MeanDistance("app_mpeg.rgb", 0, 352, 288), kTolerance);
    // ">" on the stopped stream starts it paused: the first I picture, then one step on.
    for (int frame : {1, 2}) {
        SCOPED_TRACE(frame);
        ASSERT_TRUE(drv::Click(g_playerControls, IDC_PLAYER_STEP_AHEAD));
        EXPECT_TRUE(
            WaitFor([&] { return MeanDistance("app_mpeg.rgb", frame, 352, 288) <= kTolerance; }));
        EXPECT_LE(MeanDistance("app_mpeg.rgb", frame, 352, 288), kTolerance);
        EXPECT_EQ(IsMpegDecoderRunning(), 1);
    }
    // "|>" plays on to the end.
    ASSERT_TRUE(drv::Click(g_playerControls, IDC_PLAYER_PLAY));
    EXPECT_TRUE(WaitFor([] { return IsMpegDecoderRunning() == 0; }));
    EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(ShellTest, SaveAsFromTheMenu)
{
    Start();
    std::string movie = Copy("app_dv.avi", "result.avi");
    ASSERT_TRUE(OpenMovieDocument(movie.c_str()));
    {
        lc::ui::FileDialogScript script({{IDOK, scratch_ + "/final"}});
        ASSERT_TRUE(drv::ChooseMenu(*gMainFrame, ID_FILE_SAVE_AS));
        drv::ProcessEvents();
        ASSERT_EQ(script.Requests().size(), 1u);
        EXPECT_FALSE(script.Requests()[0].open);
        EXPECT_EQ(script.Requests()[0].filter.rfind("AVI Files (*.avi) |*.avi", 0), 0u);
        EXPECT_TRUE(script.Requests()[0].flags & lc::ui::OFN_OVERWRITEPROMPT);
    }
    EXPECT_TRUE(lc::PathExists((scratch_ + "/final.avi").c_str()));
    EXPECT_FALSE(lc::PathExists(movie.c_str()));
    EXPECT_EQ(gMainFrame->GetWindowText(), std::string(kTitle) + " - final.avi");
    EXPECT_EQ(gUiState.guidePage, 5);
    EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(ShellTest, DocumentWithoutViewFails)
{
    CLoomcutDoc doc;
    EXPECT_FALSE(doc.OnOpenDocument("/x.mov"));
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"GetNextView error"});
}

TEST_F(ShellTest, DroppedFilesOpenInOrderAndJoinAShownBatchList)
{
    Start();
    std::string a = Copy("app_clip.mov", "a.mov");
    std::string b = Copy("app_picture.jpg", "b.jpg");
    ASSERT_TRUE(drv::DropFiles(*gMainFrame, {a, b}));
    drv::ProcessEvents();
    EXPECT_STREQ(gMovieWindow->GetMoviePath(), b.c_str());

    ASSERT_TRUE(drv::ChooseMenu(*gMainFrame, ID_BATCH));
    drv::ProcessEvents();
    gUiState.optionsOpen = 0;
    ASSERT_TRUE(drv::DropFiles(*gMainFrame, {a, b}));
    drv::ProcessEvents();
    EXPECT_STREQ(gUiState.batchText, (a + "\r\n" + b + "\r\n").c_str());
    EXPECT_EQ(gBatchDialog.GetDlgItemText(IDC_BATCH_LIST), a + "\r\n" + b + "\r\n");
    EXPECT_EQ(gUiState.guidePage, 1);
    EXPECT_EQ(gUiState.optionsOpen, 0); // the options dialog does not pop up in batch mode
}

TEST_F(ShellTest, ProcessingRunFromTheMenu)
{
    FakeProcessingMovieWindow::release = 0;
    FakeProcessingMovieWindow::processing = 0;
    FakeProcessingMovieWindow::resultOpens = 0;
    gMakeMovieWindow = MakeFake;
    Start();
    std::string movie = Copy("app_clip.mov", "source.mov");
    ASSERT_NE(app_.OpenDocumentFile(movie.c_str()), nullptr);
    gUiState.optionsOpen = 0; // the options dialog was closed
    messages_.Clear();

    ASSERT_TRUE(drv::ChooseMenu(*gMainFrame, ID_START_PROCESS));
    ASSERT_TRUE(WaitFor([] { return FakeProcessingMovieWindow::processing.load() == 1; }));
    // During the run: menus grey, the timer ticks, closing, opening and dropping are refused.
    for (int position = 0; position < 3; ++position) {
        EXPECT_FALSE(gMainFrame->IsMenuPositionEnabled(position)) << position;
    }
    EXPECT_TRUE(gMainFrame->HasTimer(kProcessingTimerId));
    EXPECT_FALSE(drv::ChooseMenu(*gMainFrame, ID_FILE_OPEN));
    gMainFrame->OnClose();
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Stop current process first"});
    EXPECT_TRUE(gMainFrame->IsWindowVisible());
    drv::DropFiles(*gMainFrame, {Fixture("app_picture.jpg")});
    drv::ProcessEvents();
    EXPECT_STREQ(gMovieWindow->GetMoviePath(), movie.c_str());

    // The run ends; the next tick reopens the result once and gives the menus back.
    FakeProcessingMovieWindow::release = 1;
    ASSERT_TRUE(WaitFor([] { return !gMainFrame->HasTimer(kProcessingTimerId); }));
    EXPECT_EQ(FakeProcessingMovieWindow::resultOpens.load(), 1);
    EXPECT_EQ(messages_.Texts().back(), "Processing completed OK");
    EXPECT_STREQ(gMovieWindow->GetMoviePath(), (scratch_ + "/newmovie.avi").c_str());
    EXPECT_EQ(gMainFrame->GetWindowText(), std::string(kTitle) + " - newmovie.avi");
    for (int position = 0; position < 3; ++position) {
        EXPECT_TRUE(gMainFrame->IsMenuPositionEnabled(position)) << position;
    }
    EXPECT_EQ(gProcessControl.openedAfterProcessing, 0);
    EXPECT_EQ(gUiState.optionsOpen, 0); // a reopened result does not pop up the options
}

TEST_F(ShellTest, RealProcessingRunReopensTheResult)
{
    // The whole shell with the real passes: NTSC DV to the default 25P DV AVI.
    Start();
    std::string movie = Copy("app_ntsc.mov", "ntsc.mov");
    ASSERT_TRUE(OpenMovieDocument(movie.c_str()));
    gOptionsDialog.ShowWindow(lc::ui::SW_HIDE);
    gUiState.optionsOpen = 0;
    messages_.Clear();
    ASSERT_TRUE(drv::ChooseMenu(*gMainFrame, ID_START_PROCESS));
    ASSERT_TRUE(WaitFor([] { return ProcessingBusy(); }, 2000));
    ASSERT_TRUE(WaitFor(
        [] { return !ProcessingBusy() && !gMainFrame->HasTimer(kProcessingTimerId); }, 60000));
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Processing completed OK"});
    std::string result = scratch_ + "/newmovie.avi";
    EXPECT_STREQ(gMovieWindow->GetMoviePath(), result.c_str());
    EXPECT_EQ(gSourceKind.isAvi, 1);
    EXPECT_EQ(gSourceKind.viaQuickTime, 1); // a DV AVI, shown through the media layer
    EXPECT_EQ(gMainFrame->GetWindowText(), std::string(kTitle) + " - newmovie.avi");
    EXPECT_TRUE(gMainFrame->IsMenuPositionEnabled(0));
    // The "Current Frame" preview showed output frames, and is hidden again.
    EXPECT_EQ(gPreviewWidth, 720);
    EXPECT_EQ(gPreviewHeight, 576);
    EXPECT_NE(drv::SurfacePixel(*gFramePreview, 360, 288), 0xffffffu);
    EXPECT_FALSE(gFramePreview->IsWindowVisible());
}

// A stream's run shows the frames it writes in the view: a 704-pixel-wide stream's 704 x 576
// frames at their own width, row under row as the output has them.
TEST_F(ShellTest, MpegRunShowsItsFramesAtTheirOwnWidth)
{
    Start();
    std::string movie = Copy("app_mpeg704.vob", "narrow.vob");
    ASSERT_TRUE(OpenMovieDocument(movie.c_str()));
    ASSERT_TRUE(WaitFor([] { return IsMpegDecoderRunning() == 0; }));
    gOptionsDialog.ShowWindow(lc::ui::SW_HIDE);
    gUiState.optionsOpen = 0;
    messages_.Clear();
    // What the view shows each time the run reports a frame, as a user watching it sees it.
    static void (*shownProgress)(const char *, int) = nullptr;
    static std::vector<uint32_t> seen;
    static int seenStride = 0, seenHeight = 0, seenWidth = 0;
    seen.clear();
    shownProgress = gUiHooks.setProgress;
    gUiHooks.setProgress = [](const char *text, int percent) {
        shownProgress(text, percent);
        if (text && std::strncmp(text, "Processing frame", 16) == 0) {
            lc::ui::CallOnGui([] {
                seen = drv::SurfacePicture(*gMainFrame, &seenStride, &seenHeight);
                seenWidth = gMainFrame->GetClientRect().Width();
            });
        }
    };
    ASSERT_TRUE(drv::ChooseMenu(*gMainFrame, ID_START_PROCESS));
    ASSERT_TRUE(WaitFor([] { return ProcessingBusy(); }, 2000));
    ASSERT_TRUE(WaitFor(
        [] { return !ProcessingBusy() && !gMainFrame->HasTimer(kProcessingTimerId); }, 60000));
    gUiHooks.setProgress = shownProgress;
    ASSERT_EQ(messages_.Texts().back(), "Processing completed OK");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seenWidth, 704);
    // ffmpeg's decoding of the result; the view matches one of its frames.
    const std::string frames = scratch_ + "/result.rgb";
    ASSERT_EQ(std::system(("ffmpeg -v error -y -i '" + scratch_
                           + "/newmovie.avi' -f rawvideo -pix_fmt rgb24 '" + frames + "'")
                              .c_str()),
              0);
    auto rgb = lc::ReadWholeFile(frames.c_str());
    ASSERT_TRUE(rgb);
    const size_t frameBytes = size_t(704) * 576 * 3;
    int best = 1000;
    for (size_t f = 0; (f + 1) * frameBytes <= rgb->size(); ++f) {
        std::vector<uint8_t> one(rgb->begin() + long(f * frameBytes),
                                 rgb->begin() + long((f + 1) * frameBytes));
        int sum = 0, n = 0;
        for (int y = 0; y < 576 && y < seenHeight; y += 3) {
            for (int x = 0; x < 704; x += 5) {
                sum += Distance(seen[size_t(y) * size_t(seenStride) + size_t(x)],
                                Pixel(one, 704, x, y));
                ++n;
            }
        }
        best = std::min(best, sum / std::max(n, 1));
    }
    std::printf("view against the nearest output frame: mean distance %d\n", best);
    EXPECT_LE(best, 2);
}

// An AVI read by the own reader: its player steps aside for the run (its thread would read the
// same file), the run shows its frames in the view, and a stopped run gives the player back.
TEST_F(ShellTest, TheAviPlayerStepsAsideDuringARun)
{
    Start();
    std::string movie = Copy("app_raw480.avi", "raw480.avi");
    ASSERT_TRUE(OpenMovieDocument(movie.c_str()));
    gOptionsDialog.ShowWindow(lc::ui::SW_HIDE);
    gUiState.optionsOpen = 0;
    ASSERT_TRUE(WaitFor([] { return gAviPlayback.threadRunning == 0; }));
    EXPECT_TRUE(g_playerControls.IsWindowVisible());
    ASSERT_TRUE(drv::ChooseMenu(*gMainFrame, ID_START_PROCESS));
    // Held at the first frames it writes ("Processing frames 0-3...").
    ASSERT_TRUE(WaitFor([] {
        const std::string text = gProgressDialog.GetDlgItemText(IDC_PROGRESS_TEXT);
        return text.rfind("Processing frame", 0) == 0
               && text.find_first_of("0123456789") != std::string::npos;
    }));
    ASSERT_TRUE(drv::Click(gProgressDialog, IDC_PAUSE_RESUME));
    EXPECT_FALSE(g_playerControls.IsWindowVisible());
    EXPECT_EQ(gPlayerState.aviActive, 0);
    EXPECT_FALSE(drv::Click(g_playerControls, IDC_PLAYER_PLAY));
    EXPECT_EQ(gAviPlayback.threadRunning, 0);
    // The converted 720 x 576 frames are painted in the view.
    EXPECT_TRUE(WaitFor([] { return gMainFrame->GetClientRect().Height() == 576; }));
    ASSERT_TRUE(drv::Click(gProgressDialog, IDC_STOP));
    ASSERT_TRUE(WaitFor([] { return !ProcessingBusy(); }, 60000));
    EXPECT_TRUE(WaitFor([] { return g_playerControls.IsWindowVisible(); }));
    EXPECT_EQ(gPlayerState.aviActive, 1);
    EXPECT_EQ(messages_.Texts().back(), "Processing aborted");
}

TEST_F(ShellTest, StartProcessWhileBatchListShownOnlyWarns)
{
    Start();
    ShowBatchList();
    messages_.Clear();
    ASSERT_TRUE(drv::ChooseMenu(*gMainFrame, ID_START_PROCESS));
    drv::ProcessEvents();
    EXPECT_EQ(
        messages_.Texts(),
        std::vector<std::string>{"Press Start Batch to process all movies\nPress OK to continue."});
    EXPECT_EQ(gProcessControl.running, 0);
}

TEST_F(ShellTest, ProgressDialog)
{
    Start();
    int mpegStops = 0, mpegPauses = 0;
    static int *stops = &mpegStops, *pauses = &mpegPauses;
    gMovieWindowHooks.requestMpegStop = [] { ++*stops; };
    gMovieWindowHooks.toggleMpegPause = [] { ++*pauses; };

    // From the processing thread, as the passes call it.
    RunOnWorker([] {
        ShowProgress();
        SetProgress("Processing frames...", 40);
    });
    drv::ProcessEvents();
    EXPECT_TRUE(gProgressDialog.IsWindowVisible());
    EXPECT_EQ(gUiState.progressShown, 1);
    EXPECT_EQ(gProgressDialog.GetDlgItemText(IDC_PROGRESS_TEXT), "Processing frames...");
    EXPECT_EQ(gProgressDialog.GetPos(IDC_PROGRESS_BAR), 40);
    Screenshot(gProgressDialog, "progress.png");

    ASSERT_TRUE(drv::Click(gProgressDialog, IDC_PAUSE_RESUME));
    EXPECT_EQ(gProcessControl.paused, 1);
    ASSERT_TRUE(drv::Click(gProgressDialog, IDC_PAUSE_RESUME));
    EXPECT_EQ(gProcessControl.paused, 0);
    EXPECT_EQ(mpegPauses, 2);
    // Stop, and Esc as Stop does, each ending a pause.
    for (bool esc : {false, true}) {
        SCOPED_TRACE(esc ? "Esc" : "Stop");
        gProcessControl.stopRequested = 0;
        ShowProgress();
        drv::ProcessEvents();
        ASSERT_TRUE(drv::Click(gProgressDialog, IDC_PAUSE_RESUME));
        ASSERT_TRUE(esc ? drv::PressKey(gProgressDialog, "Escape")
                        : drv::Click(gProgressDialog, IDC_STOP));
        drv::ProcessEvents();
        EXPECT_EQ(gProcessControl.paused, 0);
        EXPECT_EQ(gProcessControl.stopRequested, 1);
        EXPECT_EQ(mpegStops, esc ? 2 : 1);
        EXPECT_FALSE(gProgressDialog.IsWindowVisible());
        EXPECT_EQ(gUiState.progressShown, 0);
    }
}

TEST_F(ShellTest, BatchList)
{
    Start();
    gUiState.optionsOpen = 0;
    ASSERT_TRUE(drv::ChooseMenu(*gMainFrame, ID_BATCH));
    drv::ProcessEvents();
    EXPECT_TRUE(gBatchDialog.IsWindowVisible());
    EXPECT_EQ(gUiState.batchListShown, 1);
    EXPECT_EQ(gUiState.guidePage, 6);
    EXPECT_EQ(gBatchDialog.GetDlgItemText(IDC_BATCH_LIST), kBatchPlaceholder);

    // No movie: nothing is added.
    gMovieWindow->CloseMovie();
    ASSERT_TRUE(drv::Click(gBatchDialog, IDC_BATCH_ADD));
    EXPECT_STREQ(gUiState.batchText, "");
    EXPECT_EQ(gBatchDialog.GetDlgItemText(IDC_BATCH_LIST), kBatchPlaceholder);

    // The same movie twice is listed twice.
    gMovieWindow->SetMoviePath("/m/a.mov");
    ASSERT_TRUE(drv::Click(gBatchDialog, IDC_BATCH_ADD));
    ASSERT_TRUE(drv::Click(gBatchDialog, IDC_BATCH_ADD));
    EXPECT_STREQ(gUiState.batchText, "/m/a.mov\r\n/m/a.mov\r\n");
    Screenshot(gBatchDialog, "batch_list.png");

    // Lines the user edits are taken; blank lines are no items.
    ASSERT_TRUE(drv::TypeText(gBatchDialog, IDC_BATCH_LIST, "/m/b.mov\n\n   \n/m/c.mov"));
    gMovieWindow->SetMoviePath("/m/d.mov");
    ASSERT_TRUE(drv::Click(gBatchDialog, IDC_BATCH_ADD));
    EXPECT_STREQ(gUiState.batchText, "/m/b.mov\r\n/m/c.mov\r\n/m/d.mov\r\n");

    ASSERT_TRUE(drv::Click(gBatchDialog, IDC_BATCH_CLEAR));
    EXPECT_STREQ(gUiState.batchText, "");
    EXPECT_EQ(gBatchDialog.GetDlgItemText(IDC_BATCH_LIST), kBatchPlaceholder);

    ASSERT_TRUE(drv::Click(gBatchDialog, IDCANCEL)); // "Close Window"
    EXPECT_FALSE(gBatchDialog.IsWindowVisible());
    EXPECT_EQ(gUiState.batchListShown, 0);
}

TEST(BatchText, LimitAndBlankLines)
{
    // A text that does not fit is cut at a whole line; blank lines go.
    std::string line = "/" + std::string(98, 'x') + "\r\n"; // 101 characters
    std::string many;
    for (int i = 0; i < 300; ++i) {
        many += line;
    }
    std::string cut = NormaliseBatchText(many);
    EXPECT_LT(cut.size(), sizeof(UiState::batchText));
    EXPECT_EQ(cut.size() % line.size(), 0u);
    EXPECT_EQ(cut.size(), (sizeof(UiState::batchText) - 1) / line.size() * line.size());
    EXPECT_EQ(NormaliseBatchText("a\n\r\n  \nb"), "a\r\nb\r\n");
    EXPECT_EQ(NormaliseBatchText(""), "");
}

TEST_F(ShellTest, BatchListFullRefusesAPathThatDoesNotFit)
{
    Start();
    ShowBatchList();
    std::string fill = "/" + std::string(sizeof(UiState::batchText) - 13, 'f') + "\r\n";
    lc::CopyText(gUiState.batchText, fill.c_str());
    gBatchDialog.ShowList();
    gMovieWindow->SetMoviePath("/movies/longer-than-room.mov");
    messages_.Clear();
    gBatchDialog.OnAddCurrentFile();
    EXPECT_EQ(strlen(gUiState.batchText), fill.size());
    EXPECT_EQ(messages_.Texts(),
              std::vector<std::string>{"The batch list is full\nPress OK to continue."});
}

TEST_F(ShellTest, StartBatchRefusals)
{
    Start();
    ShowBatchList();
    int started = 0;
    static int *count = &started;
    gUiHooks.startProcessingThread = [] { ++*count; };
    struct Case
    {
        std::atomic<int> *flag;
        const char *warning;
    };
    const Case cases[] = {
        {&gProcessControl.running, "Stop current process first"},
        {&gUiState.advancedOpen, "Please OK or Cancel Advanced Options"},
        {&gUiState.optionsOpen, "Please Close or Cancel Process Options"},
        {&gUiState.ntscPalOpen, "Please OK or Cancel PAL/NTSC Options"},
    };
    gUiState.optionsOpen = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.warning);
        messages_.Clear();
        *c.flag = 1;
        ASSERT_TRUE(drv::Click(gBatchDialog, IDC_BATCH_START));
        *c.flag = 0;
        EXPECT_EQ(messages_.Texts(),
                  std::vector<std::string>{std::string(c.warning) + "\nPress OK to continue."});
        EXPECT_EQ(started, 0);
        EXPECT_EQ(gProcessControl.batchRunning, 0);
    }
    ASSERT_TRUE(drv::Click(gBatchDialog, IDC_BATCH_START));
    EXPECT_EQ(started, 1);
    EXPECT_EQ(gProcessControl.batchRunning, 1);
    gProcessControl.batchRunning = 0;
}

TEST_F(ShellTest, FramePreviewDrawsAtTheTopLeftWithoutFlipOrSwap)
{
    Start();
    constexpr int w = 37, h = 21; // odd: rows are w x 3 bytes, no padding
    std::vector<uint8_t> bits(size_t(w) * h * 3);
    auto colour = [](int x, int y) { return uint32_t(x * 6) << 16 | uint32_t(y * 11) << 8 | 0x5a; };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Bottom-up: picture line y is stored in row h - 1 - y; bytes B, G, R.
            uint8_t *p = bits.data() + (size_t(h - 1 - y) * w + x) * 3;
            uint32_t c = colour(x, y);
            p[0] = uint8_t(c);
            p[1] = uint8_t(c >> 8);
            p[2] = uint8_t(c >> 16);
        }
    }
    ShowFramePreview();
    RunOnWorker([&] { ShowFrameInPreview(w, h, bits.data()); });
    drv::ProcessEvents();
    EXPECT_TRUE(gFramePreview->IsWindowVisible());
    EXPECT_EQ(gFramePreview->GetClientRect().Width(), w);
    EXPECT_EQ(gFramePreview->GetClientRect().Height(), h);
    EXPECT_EQ(gFramePreview->GetWindowRect().left, 360);
    for (int y = 0; y < h; y += 4) {
        for (int x = 0; x < w; x += 3) {
            EXPECT_EQ(drv::SurfacePixel(*gFramePreview, x, y), colour(x, y)) << x << "," << y;
        }
    }
    // The same size again is drawn where the window is.
    gFramePreview->MoveWindow(400, 380, gFramePreview->GetWindowRect().Width(),
                              gFramePreview->GetWindowRect().Height());
    ShowFrameInPreview(w, h, bits.data());
    drv::ProcessEvents();
    EXPECT_EQ(gFramePreview->GetWindowRect().left, 400);
    HideFramePreview();
    drv::ProcessEvents();
    EXPECT_FALSE(gFramePreview->IsWindowVisible());
}

TEST_F(ShellTest, GuideCheckBoxWritesTheOptionsFile)
{
    Start();
    std::string file = scratch_ + "/noguide";
    // Unchecked: "Close Guide" writes nothing.
    ASSERT_TRUE(drv::Click(gGuideDialog, IDOK));
    EXPECT_FALSE(lc::PathExists(file.c_str()));
    EXPECT_FALSE(gGuideDialog.IsWindowVisible());

    gGuideDialog.ShowWindow(lc::ui::SW_SHOW);
    ASSERT_TRUE(drv::Click(gGuideDialog, IDC_GUIDE_DONT_SHOW));
    lc::CopyText(gConversionOptions.outputFolder, "/a/much/longer/output/folder");
    ASSERT_TRUE(drv::Click(gGuideDialog, IDOK));
    ASSERT_TRUE(lc::PathExists(file.c_str()));
    EXPECT_EQ(*lc::ReadWholeFile(file.c_str()),
              std::string(kOptionsFileFirstLine) + FormatOptionLines(gConversionOptions));

    // Later saves rewrite it whole.
    lc::CopyText(gConversionOptions.outputFolder, "/b");
    SaveOptionsIfNoguide();
    EXPECT_EQ(*lc::ReadWholeFile(file.c_str()),
              std::string(kOptionsFileFirstLine) + FormatOptionLines(gConversionOptions));
}

// A new options file goes into the first of the current folder, the program folder and the
// user's configuration folder that can take it; with none, the guide says so.
struct NewOptionsFileCase
{
    const char *name;
    bool currentGone, programGone, configBlocked;
    const char *writtenTo; // "current", "program", "config" or "" (none)
};

class NewOptionsFile : public ShellTest, public ::testing::WithParamInterface<NewOptionsFileCase>
{
};

TEST_P(NewOptionsFile, GoesToTheFirstWritableFolder)
{
    const NewOptionsFileCase &c = GetParam();
    if (c.currentGone) {
        // The process stays in a folder that no longer exists.
        const std::string gone = scratch_ + "/gone";
        ASSERT_EQ(mkdir(gone.c_str(), 0755), 0);
        ASSERT_EQ(chdir(gone.c_str()), 0);
        ASSERT_EQ(rmdir(gone.c_str()), 0);
    }
    if (c.configBlocked) {
        // A configuration folder below a plain file cannot be made.
        const std::string file = scratch_ + "/plain";
        ASSERT_TRUE(lc::WriteWholeFile(file.c_str(), "x", 1));
        configHome_ = file + "/config";
        setenv("XDG_CONFIG_HOME", configHome_.c_str(), 1);
    }
    Start();
    EXPECT_TRUE(gGuideDialog.IsWindowVisible());
    if (c.programGone) {
        std::filesystem::remove_all(programFolder_);
    }
    gGuideDialog.ShowWindow(lc::ui::SW_SHOW);
    ASSERT_TRUE(drv::Click(gGuideDialog, IDC_GUIDE_DONT_SHOW));
    ASSERT_TRUE(drv::Click(gGuideDialog, IDOK));
    EXPECT_FALSE(gGuideDialog.IsWindowVisible());
    const std::string where = c.writtenTo;
    const std::string folders[][2] = {{"current", scratch_ + "/"},
                                      {"program", programFolder_},
                                      {"config", configHome_ + "/loomcut/"}};
    for (const auto &f : folders) {
        EXPECT_EQ(lc::PathExists((f[1] + "noguide").c_str()), f[0] == where) << f[0];
    }
    if (where.empty()) {
        EXPECT_EQ(messages_.Texts(),
                  std::vector<std::string>{
                      "Could not create noguide file -- application on read-only drive?"});
        EXPECT_EQ(gOptionsFile.open, 0);
    } else {
        EXPECT_TRUE(messages_.Texts().empty());
        EXPECT_EQ(gOptionsFile.open, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shell, NewOptionsFile,
    ::testing::Values(
        NewOptionsFileCase{"CurrentFolder", false, false, false, "current"},
        NewOptionsFileCase{"ProgramFolderWhenTheCurrentIsGone", true, false, false, "program"},
        NewOptionsFileCase{"ConfigurationFolderWhenBothAreGone", true, true, false, "config"},
        NewOptionsFileCase{"NoneWritable", true, true, true, ""}),
    [](const ::testing::TestParamInfo<NewOptionsFileCase> &p) { return p.param.name; });

TEST_F(ShellTest, GuidePagesFromAnyThread)
{
    Start();
    RunOnWorker([] {
        ShowGuidePage(2);
        ShowGuidePageAfterProcessing(3);
    });
    drv::ProcessEvents();
    EXPECT_EQ(gUiState.guideAfterProcessing, 1);
    EXPECT_EQ(gGuideDialog.GetDlgItemText(IDC_GUIDE_TEXT), kGuidePages[kGuidePageAfterProcessing]);
    ShowGuidePage(3);
    drv::ProcessEvents();
    EXPECT_EQ(gGuideDialog.GetDlgItemText(IDC_GUIDE_TEXT), kGuidePages[3]);
}

} // namespace

// The shell's dialogs are global objects, as in the program. The program destroys their windows
// before Qt goes (CWinApp::Run); a test process has no such moment, so it checks for leaks and
// ends without running the global destructors.
extern "C" void __lsan_do_leak_check() __attribute__((weak));

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    if (__lsan_do_leak_check) {
        __lsan_do_leak_check();
    }
    std::fflush(nullptr);
    std::_Exit(result);
}
