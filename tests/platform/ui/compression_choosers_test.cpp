#include <atomic>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/media/standard_compression.h"
#include "platform/sys/clock.h"
#include "platform/sys/thread.h"
#include "platform/ui/application.h"
#include "platform/ui/compression_choosers.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/ui_driver.h"
#include "platform/vfw/vfw.h"

using namespace lc::ui;

namespace {

// Runs ask on a worker and, once its chooser is on screen, user() on the GUI thread; the GUI
// thread keeps handling events throughout, as the application's does.
void AskFromWorker(const std::function<void()> &ask, const std::function<void(CDialog &)> &user)
{
    std::atomic<bool> returned{false};
    std::atomic<bool> seen{false};
    lc::Thread worker;
    ASSERT_TRUE(worker.Start([&] {
        ask();
        returned = true;
    }));
    // The dialog runs its own modal loop inside a queued call, so the user acts from the queue.
    lc::Thread driverThread;
    ASSERT_TRUE(driverThread.Start([&] {
        while (!seen) {
            CallOnGui([&] {
                CDialog *dlg = OpenCompressionChooser();
                if (dlg && dlg->IsWindowVisible()) {
                    seen = true;
                    EXPECT_FALSE(returned.load()); // the worker waits for the answer
                    user(*dlg);
                }
            });
            lc::SleepMs(5);
        }
    }));
    WaitHandlingCalls([&] { return returned.load() && seen.load(); });
    worker.Join();
    driverThread.Join();
    EXPECT_EQ(OpenCompressionChooser(), nullptr);
}

std::string Screenshot(CDialog &dlg, const char *name)
{
    std::string dir = std::string(LC_BINARY_DIR) + "/screenshots";
    std::filesystem::create_directories(dir);
    std::string path = dir + "/" + name + ".png";
    EXPECT_TRUE(driver::SaveScreenshot(dlg, path)) << path;
    EXPECT_GT(driver::DistinctColours(path), 1) << path;
    return path;
}

class CompressionChoosers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureGuiApplication();
        SetImageSettingsChooser(nullptr);
        SetCompressorChooser(nullptr);
        InstallCompressionChoosers();
    }
    void TearDown() override
    {
        SetImageSettingsChooser(nullptr);
        SetCompressorChooser(nullptr);
    }
};

} // namespace

TEST_F(CompressionChoosers, ImageSettingsOkTakesTheClickedEncoderAndQualityCancelKeepsThem)
{
    CodecNameSpec encoders[32];
    const int count = ListImageEncoders(encoders, 32);
    ASSERT_GT(count, 1);
    int shown = 0;
    while (shown < count && encoders[shown].cType != ScImageSettings{}.codecType) {
        shown++;
    }
    ASSERT_LT(shown, count);
    const int pick = shown == count - 1 ? 0 : count - 1;

    ComponentInstance ci =
        OpenDefaultComponent(StandardCompressionType, StandardCompressionSubType);
    ASSERT_NE(ci, nullptr);
    ComponentResult result = -1;
    AskFromWorker([&] { result = SCRequestImageSettings(ci); },
                  [&](CDialog &dlg) {
                      // The current settings are shown: 'dvc ' at maximum quality.
                      EXPECT_EQ(dlg.IsDlgButtonChecked(kChooserEntry + shown), 1);
                      EXPECT_EQ(dlg.IsDlgButtonChecked(kChooserQuality + 4), 1);
                      EXPECT_EQ(dlg.GetDlgItemText(kChooserEntry + pick), encoders[pick].typeName);
                      Screenshot(dlg, "COMPRESSION_SETTINGS");
                      EXPECT_TRUE(driver::Click(dlg, kChooserEntry + pick));
                      EXPECT_TRUE(driver::Click(dlg, kChooserQuality + 2));
                      EXPECT_TRUE(driver::Click(dlg, IDOK));
                  });
    EXPECT_EQ(result, 0);
    ScImageSettings s;
    ASSERT_EQ(SCGetImageSettings(ci, &s), 0);
    EXPECT_EQ(s.codecType, encoders[pick].cType);
    EXPECT_EQ(s.spatialQuality, codecNormalQuality);

    AskFromWorker([&] { result = SCRequestImageSettings(ci); },
                  [&](CDialog &dlg) {
                      EXPECT_EQ(dlg.IsDlgButtonChecked(kChooserEntry + pick), 1);
                      EXPECT_TRUE(driver::Click(dlg, kChooserEntry + shown));
                      EXPECT_TRUE(driver::Click(dlg, IDCANCEL));
                  });
    EXPECT_EQ(result, userCanceledErr);
    ASSERT_EQ(SCGetImageSettings(ci, &s), 0);
    EXPECT_EQ(s.codecType, encoders[pick].cType);
    EXPECT_EQ(s.spatialQuality, codecNormalQuality);
    CloseComponent(ci);
    EXPECT_EQ(ScriptedImageSettingsRequests(), 0);
}

TEST_F(CompressionChoosers, CompressorOkTakesTheClickedEntryCancelReturnsFalse)
{
    ICINFO second;
    ASSERT_TRUE(ICInfo(ICTYPE_VIDEO, 1, &second));
    struct Case
    {
        const char *title;
        int click; // -1: none
        int button;
    };
    const Case cases[] = {
        {nullptr, 1, IDOK},
        {"Choose", 0, IDCANCEL},
        {"Choose", -1, IDOK}, // OK alone keeps full frames, the entry shown first
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.button == IDOK ? c.click : 100 + c.click);
        COMPVARS cv;
        cv.cbSize = kCompVarsSize;
        BOOL result = 0;
        AskFromWorker(
            [&] { result = ICCompressorChoose(nullptr, 0, nullptr, nullptr, &cv, c.title); },
            [&](CDialog &dlg) {
                EXPECT_EQ(dlg.GetWindowText(), c.title ? c.title : "Video Compression");
                EXPECT_EQ(dlg.GetDlgItemText(kChooserEntry + 0), "Full Frames (Uncompressed)");
                EXPECT_EQ(dlg.IsDlgButtonChecked(kChooserEntry + 0), 1);
                EXPECT_FALSE(dlg.HasDlgItem(kChooserQuality));
                if (!c.title) {
                    Screenshot(dlg, "VIDEO_COMPRESSION");
                }
                if (c.click >= 0) {
                    EXPECT_TRUE(driver::Click(dlg, kChooserEntry + c.click));
                }
                EXPECT_TRUE(driver::Click(dlg, c.button));
            });
        if (c.button == IDCANCEL) {
            EXPECT_FALSE(result);
            EXPECT_EQ(cv.dwFlags, 0u);
            continue;
        }
        ASSERT_TRUE(result);
        if (c.click == 1) {
            EXPECT_EQ(cv.fccHandler, second.fccHandler);
            EXPECT_NE(cv.hic, nullptr);
        } else {
            EXPECT_EQ(cv.fccHandler, kFullFramesHandler);
            EXPECT_EQ(cv.hic, nullptr);
        }
        ICCompressorFree(&cv);
    }
    EXPECT_EQ(ScriptedCompressorRequests(), 0);
}

TEST_F(CompressionChoosers, ChooserInstalledBeforeIsKept)
{
    auto scripted = [](const CodecNameSpec *, int, const ScImageSettings &, ScImageSettings *) {
        return false;
    };
    SetImageSettingsChooser(scripted);
    InstallCompressionChoosers();
    EXPECT_EQ(SetImageSettingsChooser(nullptr), +scripted);
}
