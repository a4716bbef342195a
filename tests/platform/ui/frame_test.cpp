#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sys/thread.h"
#include "platform/ui/application.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/ui_driver.h"
#include "platform/ui/window.h"

using namespace lc::ui;

namespace {

enum {
    kOpen = 0xE101,
    kClose = 0xE102,
    kOptions = 32776,
    kBatch = 32780,
    kAbout = 0xE140,
};

const MenuItem kMenu[] = {
    {0, "&File", 0, 0},          {1, "&Open...\tCtrl+O", kOpen, 0}, {1, "&Close", kClose, 0},
    {0, "&Process", 0, 0},       {1, "View Options", kOptions, 0},  {0, "Batch", kBatch, 0},
    {0, "&Help", 0, kMenuRight}, {1, "&About", kAbout, 0},
};
const Accelerator kKeys[] = {{"Ctrl+O", kOpen}};

std::vector<std::string> gLog;

class TestDoc : public CDocument
{
public:
    TestDoc()
    {
        MapCommand(kClose, [] { gLog.push_back("doc close"); });
    }
    bool OnOpenDocument(const char *path) override
    {
        gLog.push_back(std::string("open ") + path);
        return std::string(path).find("bad") == std::string::npos;
    }
};

class TestView : public CView
{
public:
    TestView()
    {
        MapCommand(kOptions, [] { gLog.push_back("view options"); });
    }
    void OnCreate() override { gLog.push_back("view created"); }
    void OnSize(int cx, int cy) override { lastSize = cx * 10000 + cy; }
    // Draws its picture on every repaint, as a movie's view does.
    void OnDraw() override
    {
        draws++;
        if (drawPicture) {
            const uint8_t green[] = {0, 255, 0, 0};
            PaintBitmap(0, 0, 1, 1, 24, green);
        }
    }
    int lastSize = 0;
    int draws = 0;
    bool drawPicture = false;
};

class TestFrame : public CFrameWnd
{
public:
    TestFrame()
    {
        MapCommand(kBatch, [] { gLog.push_back("frame batch"); });
    }
    bool PreCreateWindow(CreateStruct &cs) override
    {
        cs.cx = 300;
        cs.cy = 200;
        return true;
    }
    void OnDropFiles(const std::vector<std::string> &paths) override
    {
        for (const std::string &p : paths) {
            gLog.push_back("drop " + p);
        }
    }
};

class TestApp : public CWinApp
{
public:
    TestApp()
        : CWinApp("Test App")
    {
        MapCommand(kAbout, [] { gLog.push_back("app about"); });
        MapCommand(kOpen, [] { gLog.push_back("app open"); });
    }
};

TestApp gApp;
TestView *gView = nullptr;

class Frames : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureGuiApplication();
        if (!gApp.m_pMainWnd) {
            CSingleDocTemplate t;
            t.newDocument = [] { return new TestDoc; };
            t.newFrame = [] { return new TestFrame; };
            t.newView = [] { return gView = new TestView; };
            t.menu = kMenu;
            t.menuCount = std::size(kMenu);
            t.accelerators = kKeys;
            t.acceleratorCount = std::size(kKeys);
            t.documentString = "Kestra Halvorne\n\nKestra";
            gApp.AddDocTemplate(t);
            ASSERT_TRUE(gApp.ProcessShellCommand(CCommandLineInfo{}));
        }
        frame = gApp.m_pMainWnd;
        driver::ProcessEvents();
        gLog.clear();
    }
    CFrameWnd *frame = nullptr;
};

} // namespace

TEST_F(Frames, ShellCommandMakesFrameDocumentAndView)
{
    EXPECT_TRUE(frame->IsWindowVisible());
    EXPECT_EQ(frame->GetWindowText(), "Untitled - Kestra Halvorne");
    ASSERT_NE(gView, nullptr);
    EXPECT_EQ(frame->GetActiveView(), gView);
    EXPECT_NE(gView->GetDocument(), nullptr);
    ASSERT_NE(gApp.OpenDocumentFile("/movies/clip.mov"), nullptr);
    EXPECT_EQ(frame->GetWindowText(), "clip.mov - Kestra Halvorne");
    EXPECT_EQ(gApp.OpenDocumentFile("/movies/bad.mov"), nullptr);
    EXPECT_EQ(gLog, (std::vector<std::string>{"open /movies/clip.mov", "open /movies/bad.mov"}));
}

TEST_F(Frames, CommandsRouteFrameViewDocumentApplication)
{
    const struct
    {
        int id;
        const char *handledBy;
    } cases[] = {
        {kBatch, "frame batch"}, {kOptions, "view options"}, {kClose, "doc close"},
        {kAbout, "app about"},   {kOpen, "app open"},
    };
    for (const auto &c : cases) {
        gLog.clear();
        ASSERT_TRUE(driver::ChooseMenu(*frame, c.id)) << c.handledBy;
        EXPECT_EQ(gLog, std::vector<std::string>{c.handledBy});
    }
    gLog.clear();
    ASSERT_TRUE(driver::PressShortcut(*frame, "Ctrl+O"));
    EXPECT_EQ(gLog, std::vector<std::string>{"app open"});
}

TEST_F(Frames, GreyedMenuPositionsSendNothingByMenuOrKey)
{
    frame->EnableMenuPosition(0, false); // File
    frame->EnableMenuPosition(2, false); // Batch
    EXPECT_FALSE(frame->IsMenuPositionEnabled(0));
    EXPECT_TRUE(frame->IsMenuPositionEnabled(1));
    EXPECT_FALSE(driver::ChooseMenu(*frame, kOpen));
    EXPECT_FALSE(driver::ChooseMenu(*frame, kBatch));
    driver::PressShortcut(*frame, "Ctrl+O");
    EXPECT_TRUE(driver::ChooseMenu(*frame, kOptions));
    EXPECT_EQ(gLog, std::vector<std::string>{"view options"});
    frame->EnableMenuPosition(0, true);
    frame->EnableMenuPosition(2, true);
    EXPECT_TRUE(driver::ChooseMenu(*frame, kOpen));
}

TEST_F(Frames, TimerRepeatsUntilKilled)
{
    int ticks = 0;
    frame->SetTimer(1, 10, [&] { ticks++; });
    EXPECT_TRUE(frame->HasTimer(1));
    WaitHandlingCalls([&] { return ticks >= 3; });
    frame->KillTimer(1);
    EXPECT_FALSE(frame->HasTimer(1));
    int at = ticks;
    driver::ProcessEvents(60);
    EXPECT_EQ(ticks, at);
}

TEST_F(Frames, DroppedFilesArriveOnlyWhenAccepted)
{
    EXPECT_FALSE(driver::DropFiles(*frame, {"/m/a.mov"}));
    frame->DragAcceptFiles(true);
    EXPECT_TRUE(driver::DropFiles(*frame, {"/m/a.mov", "/m/b c.avi"}));
    EXPECT_EQ(gLog, (std::vector<std::string>{"drop /m/a.mov", "drop /m/b c.avi"}));
    frame->DragAcceptFiles(false);
}

TEST_F(Frames, MoveWindowPlacesTheWholeWindow)
{
    frame->MoveWindow(30, 40, 320, 260);
    driver::ProcessEvents();
    Rect w = frame->GetWindowRect();
    EXPECT_EQ(w.Width(), 320);
    EXPECT_EQ(w.Height(), 260);
    Rect c = frame->GetClientRect();
    EXPECT_LE(c.Height(), 260); // the menu bar is not client area
    EXPECT_GT(c.Height(), 0);
    EXPECT_EQ(gView->lastSize, c.Width() * 10000 + c.Height());
}

TEST_F(Frames, PaintSurfaceTakesBottomUpBitmaps)
{
    frame->MoveWindow(0, 0, 200, 200);
    driver::ProcessEvents();
    // 2 x 2 pictures: the first row in memory is the bottom line.
    const uint8_t rgb24[] = {
        0,   0, 255, 0,   255, 0,   0, 0, // bottom: red, green, pad to 4 bytes
        255, 0, 0,   255, 255, 255, 0, 0, // top: blue, white
    };
    ASSERT_TRUE(frame->PaintBitmap(0, 0, 2, 2, 24, rgb24));
    // Waiting for its repaint until it is shown.
    EXPECT_TRUE(frame->PicturePending());
    driver::ProcessEvents(100);
    EXPECT_FALSE(frame->PicturePending());
    EXPECT_EQ(driver::SurfacePixel(*frame, 0, 0), 0x0000ffu);
    EXPECT_EQ(driver::SurfacePixel(*frame, 1, 0), 0xffffffu);
    EXPECT_EQ(driver::SurfacePixel(*frame, 0, 1), 0xff0000u);
    EXPECT_EQ(driver::SurfacePixel(*frame, 1, 1), 0x00ff00u);
    EXPECT_EQ(driver::SurfacePixel(*frame, 5, 5), 0xffffffu); // white around it

    const uint8_t bgrx[] = {10, 20, 30, 0, 40, 50, 60, 0};
    std::atomic<bool> ok{false};
    lc::Thread worker; // players paint from their own threads
    ASSERT_TRUE(worker.Start([&] { ok = frame->PaintBitmap(3, 4, 2, 1, 32, bgrx); }));
    worker.Join();
    EXPECT_TRUE(ok.load());
    EXPECT_EQ(driver::SurfacePixel(*frame, 3, 4), 0x1e140au);
    EXPECT_EQ(driver::SurfacePixel(*frame, 4, 4), 0x3c3228u);
    EXPECT_EQ(driver::SurfacePixel(*frame, 0, 0), 0xffffffu); // the old picture is replaced

    EXPECT_FALSE(frame->PaintBitmap(0, 0, 2, 2, 16, rgb24));
    EXPECT_FALSE(frame->PaintBitmap(0, 0, 0, 2, 24, rgb24));
    frame->ClearPicture();
    EXPECT_EQ(driver::SurfacePixel(*frame, 3, 4), 0xffffffu);
}

TEST_F(Frames, PictureDrawnByTheViewShowsWithoutRepaintingForever)
{
    gView->drawPicture = true;
    gView->draws = 0;
    frame->Invalidate();
    EXPECT_EQ(driver::SurfacePixel(*frame, 0, 0), 0x00ff00u);
    driver::ProcessEvents(100);
    EXPECT_LT(gView->draws, 5); // one repaint asked for, not a loop
    EXPECT_EQ(driver::SurfacePixel(*frame, 0, 0), 0x00ff00u);
    gView->drawPicture = false;
    frame->ClearPicture();
}

TEST(FileDialogs, ScriptAnswersAndRecordsWhatWasAsked)
{
    FileDialogScript script(
        {{IDOK, "/out/Navigate to output folder and click Open"}, {IDCANCEL, ""}});
    CFileDialog open(true, nullptr, "Navigate to output folder and click Open", OFN_HIDEREADONLY,
                     "All Files (*.*)|*.*||");
    open.SetTitle("Open");
    EXPECT_EQ(open.DoModal(), IDOK);
    EXPECT_EQ(open.GetPathName(), "/out/Navigate to output folder and click Open");
    CFileDialog second(true);
    EXPECT_EQ(second.DoModal(), IDCANCEL);
    EXPECT_EQ(second.GetPathName(), "");
    CFileDialog third(true);
    EXPECT_EQ(third.DoModal(), IDCANCEL); // no answer left
    auto req = script.Requests();
    ASSERT_EQ(req.size(), 3u);
    EXPECT_EQ(req[0].title, "Open");
    EXPECT_EQ(req[0].fileName, "Navigate to output folder and click Open");
    EXPECT_EQ(req[0].flags, unsigned(OFN_HIDEREADONLY));
    EXPECT_EQ(req[0].filter, "All Files (*.*)|*.*||");
}
