#include <cstring>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"
#include "formats/avi_reader.h"
#include "passes/conversion_state.h"
#include "passes/movie_window.h"
#include "passes/movie_window_hooks.h"
#include "passes/process_control.h"
#include "passes/source_kind.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/media/movie_controller.h"
#include "platform/media/movies.h"
#include "platform/sys/file.h"
#include "platform/sys/path.h"
#include "platform/sys/text.h"
#include "platform/ui/message_box.h"
#include "tests/app/app_test_support.h"

using app_test::Calls;
using app_test::Fixture;
using app_test::Log;

namespace {

// Answers of the Save As chooser, taken in order.
std::vector<std::string> &SaveAnswers()
{
    static std::vector<std::string> answers;
    return answers;
}

class MovieWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lc::PathExists(Fixture(".done").c_str())) << "fixtures missing";
        InitializeQTML(0);
        EnterMovies();
        Calls().clear();
        SaveAnswers().clear();
        gSourceKind.Clear();
        gConversionState = ConversionState{};
        gUiState.batchListShown = 0;
        gProcessControl.batchRunning = 0;
        gUiHooks = UiHooks{};
        gUiHooks.showGuidePage = [](int page) { Log("guide " + std::to_string(page)); };
        gMovieWindowHooks = MovieWindowHooks{};
        gMovieWindowHooks.clearMainFramePicture = [] { Log("clear"); };
        gMovieWindowHooks.addOpenedFileToBatch = [] { Log("batch"); };
        gMovieWindowHooks.openAviPlayer = [](const char *path) {
            Log(std::string("avi player ") + lc::FileNameOf(path));
        };
        gMovieWindowHooks.chooseSaveName = [](const char *filter, const char *, char *name,
                                              int cap) {
            Log(std::string("save ") + filter);
            if (SaveAnswers().empty()) {
                return false;
            }
            lc::CopyText(name, size_t(cap), SaveAnswers().front().c_str());
            SaveAnswers().erase(SaveAnswers().begin());
            return true;
        };
    }
    void TearDown() override
    {
        mw.CloseMovie();
        gMovieWindowHooks = MovieWindowHooks{};
        gUiHooks = UiHooks{};
    }

    std::string Kinds() const
    {
        std::string s;
        s += gSourceKind.isAvi ? "avi " : "";
        s += gSourceKind.isType1Dv ? "type1 " : "";
        s += gSourceKind.viaQuickTime ? "qt " : "";
        s += gSourceKind.viaAviPlayer ? "player " : "";
        s += gSourceKind.isMpeg ? "mpeg " : "";
        s += gSourceKind.isMxf ? "mxf " : "";
        return s;
    }

    lc::ui::MessageRecorder messages;
    CMovieWindow mw;
};

TEST_F(MovieWindowTest, OpenByKind)
{
    std::string scratch = app_test::ScratchDir("open_by_kind");
    // Extensions are compared without regard to case.
    app_test::CopyFile(Fixture("app_clip.dv"), scratch + "/CLIP.DV");
    app_test::CopyFile(Fixture("app_mjpeg.avi"), scratch + "/clip.AvI");
    struct Case
    {
        std::string path;
        int result;
        const char *kinds;
        const char *message; // "" none; a trailing "%s" stands for the path
    };
    const Case cases[] = {
        {Fixture("app_clip.mov"), 1, "qt ", ""},
        {Fixture("app_clip.dv"), 1, "qt ", ""},
        {scratch + "/CLIP.DV", 1, "qt ", ""},
        {Fixture("app_dv.avi"), 1, "avi qt ", ""},
        {Fixture("app_mjpeg.avi"), 1, "avi player ", ""},
        {scratch + "/clip.AvI", 1, "avi player ", ""},
        {Fixture("app_picture.jpg"), 1, "qt ", ""},
        {Fixture("app_garbage.mov"), 0, "", "Could not open or read %s"},
        {scratch + "/missing.mov", 0, "", "Could not open or read %s"},
        {scratch + "/missing.dv", 0, "qt ", "OpenMovieFile error: Could not open Movie"},
        {scratch + "/missing.avi", 0, "", AviErrorText(kAviOpenCannotOpen)},
        {scratch + "/hwelcome.jpg", 0, "",
         "The welcome.jpg or hwelcome.jpg file must copied into\nthe same folder as Pryne or "
         "Halvorne application.\n"},
        {"", 0, "", "Empty pathname: Could not open Movie"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        messages.Clear();
        EXPECT_EQ(mw.OpenMovie(c.path.c_str()), c.result);
        EXPECT_EQ(Kinds(), c.kinds);
        std::string expected = c.message;
        if (expected.size() >= 2 && expected.compare(expected.size() - 2, 2, "%s") == 0) {
            expected = expected.substr(0, expected.size() - 2) + c.path;
        }
        if (expected.empty()) {
            EXPECT_TRUE(messages.Texts().empty());
            EXPECT_STREQ(mw.GetMoviePath(), c.path.c_str());
            EXPECT_EQ(mw.isOpen, 1);
        } else {
            EXPECT_EQ(messages.Texts(), std::vector<std::string>{expected});
            EXPECT_STREQ(mw.GetMoviePath(), ""); // a failed open leaves no path
            EXPECT_EQ(mw.isOpen, 0);
            EXPECT_EQ(mw.GetMovie(), nullptr);
        }
        // Only the media-layer opens hold a movie and a controller.
        bool viaMedia = c.result && std::string(c.kinds).find("qt") != std::string::npos;
        EXPECT_EQ(mw.GetMovie() != nullptr, viaMedia);
        EXPECT_EQ(mw.controller != nullptr, viaMedia);
    }
}

TEST_F(MovieWindowTest, Type1DvAviIsRefusedAndKeepsNoMovie)
{
    EXPECT_EQ(mw.OpenMovie(Fixture("app_type1.avi").c_str()), 0);
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"Type 1 AVI detected. Please install and use the included\n"
                                       "application dv.zip to convert to Type 2 AVI\n\nPress OK "
                                       "to continue."});
    EXPECT_EQ(Kinds(), "type1 qt ");
    EXPECT_STREQ(mw.GetMoviePath(), Fixture("app_type1.avi").c_str());
    EXPECT_EQ(mw.GetMovie(), nullptr);
    // The flags say "media layer", but there is no movie to hand it.
    mw.FitWindow();
    mw.ExportMovie();
    EXPECT_EQ(mw.IsPlayerEvent(nullptr, kWmKeyDown, kVkRight, 0), 0);
    mw.CloseMovie();
    EXPECT_EQ(messages.Texts().size(), 1u);
}

TEST_F(MovieWindowTest, FrameRateFromTheFirstFrame)
{
    ASSERT_EQ(mw.OpenMovie(Fixture("app_clip.mov").c_str()), 1);
    EXPECT_EQ(gConversionState.frameRate, 25);
    ASSERT_EQ(mw.OpenMovie(Fixture("app_clip2997.mov").c_str()), 1);
    EXPECT_EQ(gConversionState.frameRate, 29); // integer division, as the open has always done
    EXPECT_EQ(gConversionState.frameRateScale, 30000);
    EXPECT_EQ(gConversionState.frameRateDuration, 1001);
}

TEST_F(MovieWindowTest, BatchListShownOnlyQueuesTheFile)
{
    gUiState.batchListShown = 1;
    EXPECT_EQ(mw.OpenMovie(Fixture("app_clip.mov").c_str()), 1);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"clear", "batch"}));
    EXPECT_STREQ(mw.GetMoviePath(), Fixture("app_clip.mov").c_str());
    EXPECT_EQ(mw.GetMovie(), nullptr);
    EXPECT_EQ(Kinds(), "");
    // While a batch runs the batch loop opens its items for real.
    gProcessControl.batchRunning = 1;
    EXPECT_EQ(mw.OpenMovie(Fixture("app_clip.mov").c_str()), 1);
    EXPECT_NE(mw.GetMovie(), nullptr);
}

TEST_F(MovieWindowTest, StreamsGoToTheMpegPlayerWhenOneIsThere)
{
    gMovieWindowHooks.openMpegPlayer = [](const char *) { Log("mpeg player"); };
    gMovieWindowHooks.resetMpegInput = [] { Log("reset mpeg"); };
    EXPECT_EQ(mw.OpenMovie(Fixture("app_garbage.mov").c_str()), 1);
    EXPECT_EQ(Kinds(), "mpeg ");
    EXPECT_EQ(Calls().back(), "mpeg player");
    EXPECT_EQ(mw.GetMovie(), nullptr);
    // A decoder thread that still runs refuses the open.
    gMovieWindowHooks.mpegDecoderRunning = [] { return 1; };
    Calls().clear();
    EXPECT_EQ(mw.OpenMovie(Fixture("app_garbage.mov").c_str()), 0);
    EXPECT_EQ(std::count(Calls().begin(), Calls().end(), "mpeg player"), 0);
}

TEST_F(MovieWindowTest, NoMovieNeverReachesTheMediaLayer)
{
    // Player movies and a closed object: export, events, fit and play hints do nothing.
    ASSERT_EQ(mw.OpenMovie(Fixture("app_mjpeg.avi").c_str()), 1);
    bool exportAsked = false;
    static bool *asked = &exportAsked;
    MovieExportHooks old = SetMovieExportHooks(
        {nullptr, [](Movie, FSSpec *, OSType *) { return *asked = true, false; }});
    mw.ExportMovie();
    EXPECT_FALSE(exportAsked);
    EXPECT_EQ(mw.IsPlayerEvent(nullptr, kWmKeyDown, kVkSpace, 0), 0);
    mw.FitWindow();
    mw.CloseMovie();
    mw.ExportMovie();
    EXPECT_EQ(mw.IsPlayerEvent(nullptr, kWmTimer, 0, 0), 0);
    SetMovieExportHooks(old);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(MovieWindowTest, SaveAsNames)
{
    struct Case
    {
        const char *source;
        const char *chosen; // relative to the scratch folder
        const char *result;
        const char *filter;
    };
    const Case cases[] = {
        {"app_clip.mov", "out", "out.mov", "Quicktime Files (*.mov) "},
        {"app_clip.mov", "x.MOV", "x.MOV", "Quicktime Files (*.mov) "},
        {"app_dv.avi", "out", "out.avi", "AVI Files (*.avi) "},
        {"app_mjpeg.avi", "clip.AVI", "clip.AVI", "AVI Files (*.avi) "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.chosen);
        std::string dir = app_test::ScratchDir("save_as");
        std::string ext = std::string(c.source).substr(std::strlen(c.source) - 4);
        std::string source = dir + "/source" + ext;
        ASSERT_TRUE(app_test::CopyFile(Fixture(c.source), source));
        ASSERT_EQ(mw.OpenMovie(source.c_str()), 1);
        Calls().clear();
        SaveAnswers() = {dir + "/" + c.chosen};
        mw.SaveAs();
        std::string result = dir + "/" + c.result;
        EXPECT_STREQ(mw.GetMoviePath(), result.c_str());
        EXPECT_TRUE(lc::PathExists(result.c_str()));
        EXPECT_FALSE(lc::PathExists(source.c_str()));
        EXPECT_EQ(Calls().front(), std::string("save ") + c.filter);
        EXPECT_EQ(Calls().back(), "guide 5");
        EXPECT_TRUE(messages.Texts().empty());
    }
}

TEST_F(MovieWindowTest, SaveAsOntoItselfKeepsTheMovie)
{
    std::string dir = app_test::ScratchDir("save_same");
    std::string source = dir + "/same.mov";
    ASSERT_TRUE(app_test::CopyFile(Fixture("app_clip.mov"), source));
    auto size = lc::ReadWholeFile(source.c_str())->size();
    ASSERT_EQ(mw.OpenMovie(source.c_str()), 1);
    // The same file by another spelling must not be deleted as "the old name".
    SaveAnswers() = {dir + "/./same.mov"};
    mw.SaveAs();
    ASSERT_TRUE(lc::PathExists(source.c_str()));
    EXPECT_EQ(lc::ReadWholeFile(source.c_str())->size(), size);
    EXPECT_NE(mw.GetMovie(), nullptr);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(MovieWindowTest, SaveAsFailureReopensTheOldMovie)
{
    std::string dir = app_test::ScratchDir("save_fail");
    std::string source = dir + "/old.mov";
    ASSERT_TRUE(app_test::CopyFile(Fixture("app_clip.mov"), source));
    ASSERT_EQ(mw.OpenMovie(source.c_str()), 1);
    std::string target = dir + "/no/such/folder/new.mov";
    SaveAnswers() = {target};
    mw.SaveAs();
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"Could not rename " + source + " to " + target
                                       + "\nVolume is read-only or file may be in use\nby "
                                         "another application"});
    EXPECT_STREQ(mw.GetMoviePath(), source.c_str());
    EXPECT_NE(mw.GetMovie(), nullptr);
}

TEST_F(MovieWindowTest, SaveAsCancelled)
{
    ASSERT_EQ(mw.OpenMovie(Fixture("app_clip.mov").c_str()), 1);
    Calls().clear();
    mw.SaveAs();
    EXPECT_EQ(Calls(), (std::vector<std::string>{"save Quicktime Files (*.mov) ", "guide 5"}));
    EXPECT_STREQ(mw.GetMoviePath(), Fixture("app_clip.mov").c_str());
}

TEST_F(MovieWindowTest, ExportWritesANewMovie)
{
    std::string dir = app_test::ScratchDir("export");
    static std::string target;
    target = dir + "/exported.mov";
    MovieExportHooks old = SetMovieExportHooks(
        {nullptr, [](Movie, FSSpec *spec, OSType *type) {
             lc::CopyText(reinterpret_cast<char *>(spec->name) + 1, 255, target.c_str());
             spec->name[0] = uint8_t(target.size());
             *type = MovieFileType;
             return true;
         }});
    ASSERT_EQ(mw.OpenMovie(Fixture("app_clip.mov").c_str()), 1);
    Calls().clear();
    mw.ExportMovie();
    SetMovieExportHooks(old);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"guide 4", "guide 5"}));
    ASSERT_TRUE(lc::PathExists(target.c_str()));
    CMovieWindow other;
    EXPECT_EQ(other.OpenMovie(target.c_str()), 1);
    EXPECT_EQ(gConversionState.frameRate, 25);
    other.CloseMovie();
}

TEST_F(MovieWindowTest, ProcessingNeverWritesOverItsSource)
{
    // A temporary output that is the source under another name must be refused, not truncated.
    std::string dir = app_test::ScratchDir("process_same");
    std::string source = dir + "/clip.mov";
    ASSERT_TRUE(app_test::CopyFile(Fixture("app_clip.mov"), source));
    auto size = lc::ReadWholeFile(source.c_str())->size();
    ASSERT_EQ(symlink("clip.mov", (dir + "/newmovie.mov").c_str()), 0);
    ASSERT_EQ(mw.OpenMovie(source.c_str()), 1);
    EXPECT_TRUE(TemporaryOutputIsSource(mw));
    EXPECT_EQ(lc::ReadWholeFile(source.c_str())->size(), size);
    // Another output folder: no clash.
    gConversionOptions.userSelectsOutputFolder = 1;
    lc::CopyText(gConversionOptions.outputFolder, app_test::ScratchDir("process_other").c_str());
    EXPECT_FALSE(TemporaryOutputIsSource(mw));
    ResetConversionOptions(gConversionOptions);
}

TEST_F(MovieWindowTest, NewMovieIsUntitled)
{
    mw.NewMovie();
    EXPECT_STREQ(mw.GetMoviePath(), "Untitled");
    EXPECT_NE(mw.GetMovie(), nullptr);
    EXPECT_NE(mw.controller, nullptr);
    EXPECT_EQ(mw.isOpen, 1);
}

TEST_F(MovieWindowTest, PascalStrings)
{
    char text[256];
    std::string longest(255, 'p');
    for (const std::string &s : {std::string(), std::string("/a/b.mov"), longest}) {
        lc::CopyText(text, s.c_str());
        mw.CToPascalString(text);
        EXPECT_EQ(uint8_t(text[0]), s.size());
        EXPECT_EQ(std::string(text + 1, s.size()), s);
        mw.PascalToCString(text);
        EXPECT_EQ(std::string(text), s);
    }
}

TEST_F(MovieWindowTest, TitleOfTheMainWindow)
{
    // The frame and view as the shell hands them over: opaque handles.
    static int frame, view;
    static std::string title;
    gMovieWindowHooks.parentOf = [](MovieWindowHandle v) -> MovieWindowHandle {
        return v == &view ? &frame : nullptr;
    };
    gMovieWindowHooks.setTitle = [](MovieWindowHandle f, const char *t) {
        EXPECT_EQ(f, &frame);
        title = t;
    };
    gMovieWindowHooks.windowSizes = [](MovieWindowHandle, int *w, int *h, int *cw, int *ch) {
        *w = 210, *h = 250, *cw = 200, *ch = 220;
    };
    lc::CopyText(mw.appName, "Kestra Halvorne");
    MovieWindowCreateRecord record;
    EXPECT_EQ(mw.AttachWindow(&view, &record), 0);
    EXPECT_EQ(mw.parentWindow, &frame);
    EXPECT_EQ(record.width, 100);
    EXPECT_EQ(record.height, 10 + 30); // frame width and caption height
    EXPECT_EQ(title, "Kestra Halvorne");

    ASSERT_EQ(mw.OpenMovie(Fixture("app_clip.mov").c_str()), 1);
    EXPECT_EQ(title, "Kestra Halvorne - app_clip.mov");
    mw.CloseMovie();
    EXPECT_EQ(title, "Kestra Halvorne");

    // At most 31 characters of the name and 63 of the file name.
    std::string longName(40, 'n');
    std::string longFile(70, 'f');
    lc::CopyText(mw.appName, longName.c_str());
    mw.SetMoviePath(("/x/" + longFile).c_str());
    mw.UpdateTitle();
    EXPECT_EQ(title, std::string(31, 'n') + " - " + std::string(63, 'f'));
    mw.appName[0] = '\0';
    mw.UpdateTitle();
    EXPECT_EQ(title, std::string(63, 'f'));
    mw.DetachWindow();
}

TEST_F(MovieWindowTest, FitWindowSizesTheViewToTheController)
{
    static int view;
    static int fitW, fitH;
    gMovieWindowHooks.sizeView = [](MovieWindowHandle, int w, int h) { fitW = w, fitH = h; };
    mw.AttachWindow(&view, nullptr);
    ASSERT_EQ(mw.OpenMovie(Fixture("app_clip.mov").c_str()), 1);
    mw.FitWindow();
    EXPECT_EQ(fitW, 160);
    EXPECT_EQ(fitH, 120 + kControllerStripHeight);
}

} // namespace
