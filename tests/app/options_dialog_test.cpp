#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/guide.h"
#include "app/options_dialog.h"
#include "app/options_dialog_templates.h"
#include "engine/conversion_options.h"
#include "mpeg2/yuv_to_rgb_scale.h"
#include "passes/process_control.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/ui/application.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/message_box.h"
#include "platform/ui/ui_driver.h"

using namespace lc::ui;

namespace {

int gStarts = 0;
void FakeStartProcessingThread()
{
    gStarts++;
}

std::string Warning(const char *text)
{
    return std::string(text) + "\nPress OK to continue.";
}

class OptionsDialogs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureGuiApplication();
        for (COptionsDialog *d : {&gOptionsDialog, &gAdvancedDialog, &gNtscPalDialog}) {
            ASSERT_TRUE(d->Create());
            d->ShowWindow(SW_HIDE);
        }
        ResetConversionOptions(gConversionOptions);
        gOptionsWorkingCopy = OptionsWorkingCopy{};
        for (auto *f : {&gUiState.optionsOpen, &gUiState.advancedOpen, &gUiState.ntscPalOpen,
                        &gUiState.optionsOpenAux, &gUiState.batchListShown, &gUiState.guidePage,
                        &gProcessControl.running, &gProcessControl.batchRunning}) {
            f->store(0);
        }
        InstallGuideHooks();
        gUiHooks.startProcessingThread = &FakeStartProcessingThread;
        gStarts = 0;
        driver::ProcessEvents();
    }
    void TearDown() override
    {
        for (COptionsDialog *d : {&gOptionsDialog, &gAdvancedDialog, &gNtscPalDialog}) {
            d->ShowWindow(SW_HIDE);
        }
        gUiHooks = UiHooks{};
        driver::ProcessEvents();
    }

    // The main dialog as the menu shows it, then the sub-dialog by its button.
    COptionsDialog &Open(COptionsDialog::Kind kind)
    {
        ShowOptionsDialog();
        driver::ProcessEvents();
        if (kind == COptionsDialog::Kind::Advanced) {
            EXPECT_TRUE(driver::Click(gOptionsDialog, IDC_ADVANCED_OPTIONS));
            return gAdvancedDialog;
        }
        if (kind == COptionsDialog::Kind::NtscPal) {
            EXPECT_TRUE(driver::Click(gOptionsDialog, IDC_NTSC_PAL_OPTIONS));
            return gNtscPalDialog;
        }
        return gOptionsDialog;
    }

    MessageRecorder rec;
};

using Kind = COptionsDialog::Kind;

} // namespace

TEST_F(OptionsDialogs, TypedValuesAreCommittedClampedOrRefused)
{
    struct Row
    {
        Kind dialog;
        int edit;
        const char *typed;
        int32_t ConversionOptions::*field;
        int32_t committed;
        const char *message; // null: none, and the dialog closes
    };
    const Row rows[] = {
        {Kind::Advanced, IDC_MOTION_SENSITIVITY, "5000", &ConversionOptions::motionSensitivity,
         1000, nullptr},
        {Kind::Advanced, IDC_MOTION_SENSITIVITY, "-3", &ConversionOptions::motionSensitivity, 0,
         nullptr},
        {Kind::Advanced, IDC_MOTION_SENSITIVITY, "abc", &ConversionOptions::motionSensitivity, 50,
         nullptr},
        {Kind::Advanced, IDC_MOTION_SENSITIVITY, " 70x", &ConversionOptions::motionSensitivity, 70,
         nullptr},
        {Kind::Advanced, IDC_MOTION_SENSITIVITY, "99999999999",
         &ConversionOptions::motionSensitivity, 1000, nullptr},
        {Kind::Advanced, IDC_GRAIN_AMOUNT, "0", &ConversionOptions::grainAmount, 1, nullptr},
        {Kind::Advanced, IDC_GRAIN_AMOUNT, "250", &ConversionOptions::grainAmount, 100, nullptr},
        {Kind::Advanced, IDC_RED_BOOST_AMOUNT, "0", &ConversionOptions::redBoostAmount, 1, nullptr},
        {Kind::Advanced, IDC_RED_BOOST_AMOUNT, "55", &ConversionOptions::redBoostAmount, 55,
         nullptr},
        {Kind::Advanced, IDC_BLUR_AMOUNT, "0", &ConversionOptions::blurAmount, 1,
         "Blur Amount must be 1, 2 or 3"},
        {Kind::Advanced, IDC_BLUR_AMOUNT, "9", &ConversionOptions::blurAmount, 3,
         "Blur Amount must be 1, 2 or 3"},
        {Kind::Advanced, IDC_BLUR_AMOUNT, "2", &ConversionOptions::blurAmount, 2, nullptr},
        {Kind::NtscPal, IDC_FLICKER_REMOVAL, "7", &ConversionOptions::flickerRemoval, 4,
         "Flicker Removal must be 0-4"},
        {Kind::NtscPal, IDC_FLICKER_REMOVAL, "-1", &ConversionOptions::flickerRemoval, 0,
         "Flicker Removal must be 0-4"},
        {Kind::NtscPal, IDC_FLICKER_REMOVAL, "3", &ConversionOptions::flickerRemoval, 3, nullptr},
        {Kind::NtscPal, IDC_DELAY_AUDIO, "-12", &ConversionOptions::delayAudioFrames, -12, nullptr},
        {Kind::NtscPal, IDC_DELAY_AUDIO, "12 frames", &ConversionOptions::delayAudioFrames, 12,
         nullptr},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.typed) + " into " + std::to_string(r.edit));
        SetUp();
        rec.Clear();
        COptionsDialog &dlg = Open(r.dialog);
        ASSERT_TRUE(driver::TypeText(dlg, r.edit, r.typed));
        ASSERT_TRUE(driver::Click(dlg, IDOK));
        EXPECT_EQ(gConversionOptions.*r.field, r.committed);
        if (r.message) {
            EXPECT_EQ(rec.Texts(), std::vector<std::string>{Warning(r.message)});
            EXPECT_TRUE(dlg.IsWindowVisible());
        } else {
            EXPECT_TRUE(rec.Texts().empty());
            EXPECT_FALSE(dlg.IsWindowVisible());
        }
    }
}

TEST_F(OptionsDialogs, RefusedValuesLeaveTheRestAsTheOrderSays)
{
    // Flicker 7: the delay after it is not read.
    COptionsDialog &n = Open(Kind::NtscPal);
    ASSERT_TRUE(driver::TypeText(n, IDC_DELAY_AUDIO, "5"));
    ASSERT_TRUE(driver::TypeText(n, IDC_FLICKER_REMOVAL, "7"));
    ASSERT_TRUE(driver::Click(n, IDOK));
    EXPECT_EQ(gConversionOptions.delayAudioFrames, 0);
    EXPECT_EQ(gUiState.ntscPalOpen.load(), 1);
    // Blur 9: what came before is committed, the folder is not taken.
    COptionsDialog &a = Open(Kind::Advanced);
    ASSERT_TRUE(driver::TypeText(a, IDC_GRAIN_AMOUNT, "9"));
    ASSERT_TRUE(driver::TypeText(a, IDC_OUTPUT_FOLDER, "/media/out"));
    ASSERT_TRUE(driver::TypeText(a, IDC_BLUR_AMOUNT, "9"));
    ASSERT_TRUE(driver::Click(a, IDOK));
    EXPECT_EQ(gConversionOptions.grainAmount, 9);
    EXPECT_STREQ(gConversionOptions.outputFolder, "");
    EXPECT_EQ(gUiState.advancedOpen.load(), 1);
    // Mended in the edit, OK goes through and takes the folder.
    ASSERT_TRUE(driver::TypeText(a, IDC_BLUR_AMOUNT, "3"));
    ASSERT_TRUE(driver::Click(a, IDOK));
    EXPECT_STREQ(gConversionOptions.outputFolder, "/media/out");
    EXPECT_EQ(gUiState.advancedOpen.load(), 0);
}

TEST_F(OptionsDialogs, OutputFolderIsHeldTo255Characters)
{
    COptionsDialog &a = Open(Kind::Advanced);
    std::string longFolder = "/" + std::string(300, 'f');
    ASSERT_TRUE(driver::TypeText(a, IDC_OUTPUT_FOLDER, longFolder));
    ASSERT_TRUE(driver::Click(a, IDOK));
    EXPECT_EQ(std::string(gConversionOptions.outputFolder), longFolder.substr(0, 255));
}

TEST_F(OptionsDialogs, ClicksChangeWorkingCopiesCommittedByOk)
{
    COptionsDialog &m = Open(Kind::Main);
    EXPECT_EQ(m.IsDlgButtonChecked(IDC_NO_LETTERBOX), 1);
    ASSERT_TRUE(driver::Click(m, IDC_UNSQUEEZE_LETTERBOX));
    EXPECT_EQ(gUiState.guidePage.load(), 9);
    ASSERT_TRUE(driver::Click(m, IDC_DEINTERLACE));
    EXPECT_EQ(gUiState.guidePage.load(), 12);
    ASSERT_TRUE(driver::Click(m, IDC_RED_BOOST));
    EXPECT_EQ(gUiState.guidePage.load(), 10);
    // Clicking a radio that is already on shows no page.
    ASSERT_TRUE(driver::Click(m, IDC_UNSQUEEZE_LETTERBOX));
    EXPECT_EQ(gUiState.guidePage.load(), 10);
    EXPECT_EQ(gConversionOptions.unsqueezeLetterbox, 0); // nothing before OK
    ASSERT_TRUE(driver::Click(m, IDOK));
    EXPECT_EQ(gConversionOptions.unsqueezeLetterbox, 1);
    EXPECT_EQ(gConversionOptions.cropLetterbox, 0);
    EXPECT_EQ(gConversionOptions.deinterlace, 1);
    EXPECT_EQ(gConversionOptions.redBoost, 1);
    EXPECT_EQ(gUiState.guidePage.load(), 2);
    EXPECT_EQ(gUiState.optionsOpen.load(), 0);

    // Shown again it loads the record; "No Letterbox" clears both letterbox options.
    Open(Kind::Main);
    EXPECT_EQ(m.IsDlgButtonChecked(IDC_UNSQUEEZE_LETTERBOX), 1);
    EXPECT_EQ(m.IsDlgButtonChecked(IDC_NO_LETTERBOX), 0);
    ASSERT_TRUE(driver::Click(m, IDC_NO_LETTERBOX));
    ASSERT_TRUE(driver::Click(m, IDCANCEL));
    EXPECT_EQ(gConversionOptions.unsqueezeLetterbox, 1); // Cancel commits nothing
    Open(Kind::Main);
    ASSERT_TRUE(driver::Click(m, IDC_NO_LETTERBOX));
    ASSERT_TRUE(driver::Click(m, IDOK));
    EXPECT_EQ(gConversionOptions.unsqueezeLetterbox + gConversionOptions.cropLetterbox, 0);
}

TEST_F(OptionsDialogs, AdvancedAndNtscPalCheckBoxesAndFocusPages)
{
    COptionsDialog &a = Open(Kind::Advanced);
    ASSERT_TRUE(driver::Click(a, IDC_USE_YUV));
    EXPECT_EQ(gUiState.guidePage.load(), 17);
    ASSERT_TRUE(driver::Focus(a, IDC_GRAIN_AMOUNT));
    EXPECT_EQ(gUiState.guidePage.load(), 28);
    ASSERT_TRUE(driver::Focus(a, IDC_OUTPUT_FOLDER));
    EXPECT_EQ(gUiState.guidePage.load(), 31);
    EXPECT_FALSE(driver::Click(a, IDC_RESIZE_ON)); // hidden
    SetYuvToRgbScale();
    EXPECT_EQ(gYuvToRgbCoefficients.tvScale, 1); // TV scale for RGB processing
    ASSERT_TRUE(driver::Click(a, IDOK));
    EXPECT_EQ(gConversionOptions.useYuvProcessing, 1);
    EXPECT_EQ(gYuvToRgbCoefficients.tvScale, 0); // PC scale for YUV processing
    EXPECT_EQ(gYuvToRgbCoefficients.lumaScale[0], 0x10002000u);

    COptionsDialog &n = Open(Kind::NtscPal);
    ASSERT_TRUE(driver::Click(n, IDC_PULLDOWN_32_TO_25P));
    EXPECT_EQ(gUiState.guidePage.load(), 22);
    ASSERT_TRUE(driver::Click(n, IDC_TWO_PASS_REMOVAL));
    EXPECT_EQ(gUiState.guidePage.load(), 24);
    ASSERT_TRUE(driver::Focus(n, IDC_FLICKER_REMOVAL));
    EXPECT_EQ(gUiState.guidePage.load(), 33);
    ASSERT_TRUE(driver::Click(n, IDOK));
    EXPECT_EQ(gConversionOptions.pulldown32To25P, 1);
    EXPECT_EQ(gConversionOptions.twoPassPulldownRemoval, 1);
    EXPECT_EQ(gConversionOptions.use23976Timing, 1); // carried through
}

TEST_F(OptionsDialogs, RefusalsWhileAnotherDialogIsOpenOrAProcessRuns)
{
    COptionsDialog &m = Open(Kind::Main);
    Open(Kind::Advanced);
    ASSERT_TRUE(driver::Click(m, IDOK));
    EXPECT_EQ(rec.Texts(),
              std::vector<std::string>{Warning("Please OK or Cancel Advanced Options")});
    EXPECT_TRUE(m.IsWindowVisible());
    ASSERT_TRUE(driver::Click(gAdvancedDialog, IDCANCEL));
    Open(Kind::NtscPal);
    rec.Clear();
    ASSERT_TRUE(driver::Click(m, IDC_START));
    EXPECT_EQ(rec.Texts(),
              std::vector<std::string>{Warning("Please OK or Cancel PAL/NTSC Options")});
    EXPECT_EQ(gStarts, 0);
    ASSERT_TRUE(driver::Click(gNtscPalDialog, IDCANCEL));

    // While processing runs no dialog commits.
    gProcessControl.running.store(1);
    for (Kind k : {Kind::Main, Kind::Advanced, Kind::NtscPal}) {
        rec.Clear();
        COptionsDialog &d = Open(k);
        if (k == Kind::Advanced) {
            ASSERT_TRUE(driver::Click(d, IDC_LINE_DETECTOR_ON));
        }
        ASSERT_TRUE(driver::Click(d, IDOK));
        EXPECT_EQ(rec.Texts(), std::vector<std::string>{
                                   Warning("Stop current process before changing options")});
        EXPECT_TRUE(d.IsWindowVisible());
        ASSERT_TRUE(driver::Click(d, IDCANCEL));
        if (k != Kind::Main) {
            ASSERT_TRUE(driver::Click(m, IDCANCEL));
        }
    }
    EXPECT_EQ(gConversionOptions.lineDetectorOn, 0);
    // During a batch the refusal stands but shows nothing.
    gProcessControl.batchRunning.store(1);
    rec.Clear();
    Open(Kind::Main);
    ASSERT_TRUE(driver::Click(m, IDOK));
    EXPECT_TRUE(rec.Texts().empty());
    EXPECT_TRUE(m.IsWindowVisible());
}

TEST_F(OptionsDialogs, StartCommitsThenRunsOrRefersToTheBatch)
{
    COptionsDialog &m = Open(Kind::Main);
    ASSERT_TRUE(driver::Click(m, IDC_ADD_GRAIN));
    gProcessControl.batchRunning.store(1);
    ASSERT_TRUE(driver::Click(m, IDC_START));
    EXPECT_EQ(gConversionOptions.addGrain, 1);
    EXPECT_EQ(gStarts, 1);
    EXPECT_EQ(gProcessControl.batchRunning.load(), 0);
    EXPECT_FALSE(m.IsWindowVisible());

    gUiState.batchListShown.store(1);
    Open(Kind::Main);
    ASSERT_TRUE(driver::Click(m, IDC_DEINTERLACE));
    ASSERT_TRUE(driver::Click(m, IDC_START));
    EXPECT_EQ(gConversionOptions.deinterlace, 1); // committed first
    EXPECT_EQ(rec.Texts(),
              std::vector<std::string>{Warning("Press Start Batch to process all movies")});
    EXPECT_EQ(gStarts, 1);
}

TEST_F(OptionsDialogs, NtscPalFieldOptionsReachTheRecordOnlyThroughBothOks)
{
    // Its Cancel drops the change.
    COptionsDialog &m = Open(Kind::Main);
    COptionsDialog &n = Open(Kind::NtscPal);
    ASSERT_TRUE(driver::Click(n, IDC_OUTPUT_486_LINES));
    EXPECT_EQ(gUiState.guidePage.load(), 26);
    ASSERT_TRUE(driver::Click(n, IDCANCEL));
    ASSERT_TRUE(driver::Click(m, IDOK));
    EXPECT_EQ(gConversionOptions.output486Lines, 0);
    // Its OK hands it to the main dialog, whose Close commits it.
    Open(Kind::NtscPal);
    ASSERT_TRUE(driver::Click(n, IDC_OUTPUT_486_LINES));
    ASSERT_TRUE(driver::Click(n, IDC_UPPER_FIELD_FIRST));
    ASSERT_TRUE(driver::Click(n, IDOK));
    EXPECT_EQ(gConversionOptions.output486Lines, 0);
    ASSERT_TRUE(driver::Click(m, IDOK));
    EXPECT_EQ(gConversionOptions.output486Lines, 1);
    EXPECT_EQ(gConversionOptions.upperFieldFirst, 1);
    // Shown again it starts from the main dialog's copies.
    Open(Kind::NtscPal);
    EXPECT_EQ(n.IsDlgButtonChecked(IDC_OUTPUT_486_LINES), 1);
    ASSERT_TRUE(driver::Click(n, IDCANCEL));
}

TEST_F(OptionsDialogs, BrowseFillsTheFolderAtOnceAndCancelKeepsIt)
{
    COptionsDialog &a = Open(Kind::Advanced);
    {
        FileDialogScript script(
            {{IDOK, "/media/out/Navigate to output folder and click Open"}, {IDCANCEL, ""}});
        ASSERT_TRUE(driver::Click(a, IDC_BROWSE));
        EXPECT_STREQ(gConversionOptions.outputFolder, "/media/out");
        EXPECT_EQ(a.GetDlgItemText(IDC_OUTPUT_FOLDER), "/media/out");
        ASSERT_TRUE(driver::Click(a, IDC_BROWSE));
        EXPECT_STREQ(gConversionOptions.outputFolder, "/media/out");
        auto req = script.Requests();
        ASSERT_EQ(req.size(), 2u);
        EXPECT_EQ(req[0].title, "Open");
        EXPECT_EQ(req[0].fileName, "Navigate to output folder and click Open");
    }
    ASSERT_TRUE(driver::Click(a, IDCANCEL));
}

TEST_F(OptionsDialogs, ScreenshotsOfEachDialog)
{
    std::string dir = std::string(LC_BINARY_DIR) + "/screenshots";
    std::filesystem::create_directories(dir);
    Open(Kind::Main);
    Open(Kind::Advanced);
    Open(Kind::NtscPal);
    for (COptionsDialog *d : {&gOptionsDialog, &gAdvancedDialog, &gNtscPalDialog}) {
        std::string path = dir + "/" + d->Template().name + ".png";
        ASSERT_TRUE(driver::SaveScreenshot(*d, path)) << path;
        EXPECT_GT(driver::DistinctColours(path), 1) << path;
    }
}
