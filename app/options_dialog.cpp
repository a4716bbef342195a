#include "app/options_dialog.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <string>

#include "app/file_prompts.h"
#include "app/guide.h"
#include "app/options_dialog_templates.h"
#include "engine/conversion_options.h"
#include "mpeg2/yuv_to_rgb_scale.h"
#include "passes/process_control.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/sys/text.h"

OptionsWorkingCopy gOptionsWorkingCopy;

COptionsDialog gOptionsDialog(COptionsDialog::Kind::Main, kOptionsDialogTemplate);
COptionsDialog gAdvancedDialog(COptionsDialog::Kind::Advanced, kAdvancedDialogTemplate);
COptionsDialog gNtscPalDialog(COptionsDialog::Kind::NtscPal, kNtscPalDialogTemplate);

namespace {

using Kind = COptionsDialog::Kind;
using Copy = OptionsWorkingCopy;

// The check boxes and radios of the three dialogs in guide order: the position in this table
// plus 7 is the guide page a box that turns on shows. field is what the dialog's OK commits the
// copy to (none for "No Letterbox", and for the NTSC/PAL field options, which go through the main
// dialog's copies).
struct CheckBoxEntry
{
    Kind dialog;
    int id;
    int Copy::*copy;
    int32_t ConversionOptions::*field;
};
using CO = ConversionOptions;
const CheckBoxEntry kCheckBoxes[] = {
    {Kind::Main, IDC_CROP_LETTERBOX, &Copy::cropLetterbox, &CO::cropLetterbox},
    {Kind::Main, IDC_NO_LETTERBOX, &Copy::noLetterbox, nullptr},
    {Kind::Main, IDC_UNSQUEEZE_LETTERBOX, &Copy::unsqueezeLetterbox, &CO::unsqueezeLetterbox},
    {Kind::Main, IDC_RED_BOOST, &Copy::redBoost, &CO::redBoost},
    {Kind::Main, IDC_ADD_GRAIN, &Copy::addGrain, &CO::addGrain},
    {Kind::Main, IDC_DEINTERLACE, &Copy::deinterlace, &CO::deinterlace},
    {Kind::Advanced, IDC_SHOW_MOTION_MASK, &Copy::showMotionMask, &CO::showMotionMask},
    {Kind::Advanced, IDC_SHOW_LINE_MASK, &Copy::showLineMask, &CO::showLineMask},
    {Kind::Advanced, IDC_LINE_DETECTOR_ON, &Copy::lineDetectorOn, &CO::lineDetectorOn},
    {Kind::Advanced, IDC_BLUR_LINES, &Copy::blurLinesOnMotion, &CO::blurLinesOnMotion},
    {Kind::Advanced, IDC_USE_YUV, &Copy::useYuvProcessing, &CO::useYuvProcessing},
    {Kind::Advanced, IDC_ALWAYS_MAKE_QUICKTIME, &Copy::alwaysMakeQuickTime,
     &CO::alwaysMakeQuickTime},
    {Kind::Advanced, IDC_USER_SELECTS_FOLDER, &Copy::userSelectsOutputFolder,
     &CO::userSelectsOutputFolder},
    {Kind::Advanced, IDC_USER_SELECTS_COMPRESSION, &Copy::userSelectsCompression,
     &CO::userSelectsCompression},
    {Kind::NtscPal, IDC_CONVERT_60I_TO_25P, &Copy::convert60iTo25P, &CO::convert60iTo25P},
    {Kind::NtscPal, IDC_PULLDOWN_32_TO_25P, &Copy::pulldown32To25P, &CO::pulldown32To25P},
    {Kind::NtscPal, IDC_PULLDOWN_2332_TO_25P, &Copy::pulldown2332To25P, &CO::pulldown2332To25P},
    {Kind::NtscPal, IDC_TWO_PASS_REMOVAL, &Copy::twoPassPulldownRemoval,
     &CO::twoPassPulldownRemoval},
    {Kind::NtscPal, IDC_UPPER_FIELD_FIRST, &Copy::ntscUpperFieldFirst, nullptr},
    {Kind::NtscPal, IDC_OUTPUT_486_LINES, &Copy::ntscOutput486Lines, nullptr},
};
// The hidden resize box of the advanced dialog has a copy but no guide page.
const CheckBoxEntry kResizeBox = {Kind::Advanced, IDC_RESIZE_ON, &Copy::resizeOn, &CO::resizeOn};

// Every box of one dialog, the resize box included.
template <class Fn> void ForEachBox(Kind dialog, Fn fn)
{
    for (const CheckBoxEntry &e : kCheckBoxes) {
        if (e.dialog == dialog) {
            fn(e);
        }
    }
    if (dialog == kResizeBox.dialog) {
        fn(kResizeBox);
    }
}
constexpr int kFirstCheckBoxPage = 7;

using Entry = lc::ui::CDialog::Entry<COptionsDialog>;
using lc::ui::Notify;

// One table serves the three dialogs; ids a dialog lacks never send anything there.
const Entry kCommands[] = {
    {IDC_START, Notify::Clicked, &COptionsDialog::OnStart},
    {IDC_ADVANCED_OPTIONS, Notify::Clicked, &COptionsDialog::OnAdvancedOptions},
    {IDC_NTSC_PAL_OPTIONS, Notify::Clicked, &COptionsDialog::OnNtscPalOptions},
    {IDC_BROWSE, Notify::Clicked, &COptionsDialog::OnBrowseOutputFolder},
    {1002, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1003, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1004, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1005, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1006, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1007, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1012, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1013, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1015, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1016, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1018, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1019, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1023, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1028, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1029, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1034, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1035, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1036, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1038, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1039, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1045, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1014, Notify::SetFocus, &COptionsDialog::OnSensitivityFocus},
    {1016, Notify::SetFocus, &COptionsDialog::OnGrainAmountFocus},
    {1017, Notify::SetFocus, &COptionsDialog::OnRedBoostAmountFocus},
    {1037, Notify::SetFocus, &COptionsDialog::OnBlurAmountFocus},
    {1039, Notify::SetFocus, &COptionsDialog::OnOutputFolderFocus},
    {1033, Notify::SetFocus, &COptionsDialog::OnDelayAudioFocus},
    {1027, Notify::SetFocus, &COptionsDialog::OnFlickerRemovalFocus},
};

void SetEditNumber(lc::ui::CDialog &dlg, int id, int value)
{
    dlg.SetDlgItemText(id, std::to_string(value).c_str());
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

} // namespace

COptionsDialog::COptionsDialog(Kind kind, const lc::ui::DialogTemplate &tmpl)
    : CDialog(tmpl)
    , kind_(kind)
{
    MapNotifies(kCommands);
}

bool COptionsDialog::OnInitDialog()
{
    // The folder goes into a 256-byte field.
    LimitText(IDC_OUTPUT_FOLDER, static_cast<int>(sizeof gConversionOptions.outputFolder) - 1);
    return true;
}

void COptionsDialog::ReadEdit(int id, int32_t &field) const
{
    // As "%d" reads: blanks, a sign, digits; a value past the int range is held at its end.
    std::string text = GetDlgItemText(id);
    const char *s = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*s))) {
        s++;
    }
    const char *digits = s + (*s == '+' || *s == '-');
    if (!std::isdigit(static_cast<unsigned char>(*digits))) {
        return;
    }
    long long v = std::strtoll(s, nullptr, 10);
    field = static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : (v > INT32_MAX ? INT32_MAX : v));
}

void COptionsDialog::LoadControls()
{
    const ConversionOptions &o = gConversionOptions;
    Copy &w = gOptionsWorkingCopy;
    ForEachBox(kind_, [&](const CheckBoxEntry &e) {
        if (e.field) {
            w.*e.copy = o.*e.field;
        }
    });
    switch (kind_) {
    case Kind::Main:
        w.upperFieldFirst = o.upperFieldFirst;
        w.output486Lines = o.output486Lines;
        w.filmMotion24P = o.filmMotion24P;
        w.noLetterbox = (o.cropLetterbox == 0 && o.unsqueezeLetterbox == 0) ? 1 : 0;
        break;
    case Kind::Advanced:
        SetEditNumber(*this, IDC_MOTION_SENSITIVITY, o.motionSensitivity);
        SetEditNumber(*this, IDC_RED_BOOST_AMOUNT, o.redBoostAmount);
        SetEditNumber(*this, IDC_GRAIN_AMOUNT, o.grainAmount);
        SetEditNumber(*this, IDC_BLUR_AMOUNT, o.blurAmount);
        SetEditNumber(*this, IDC_RESIZE_WIDTH, o.resizeWidth);
        SetEditNumber(*this, IDC_RESIZE_HEIGHT, o.resizeHeight);
        SetDlgItemText(IDC_OUTPUT_FOLDER, o.outputFolder);
        break;
    case Kind::NtscPal:
        w.use23976Timing = o.use23976Timing;
        w.add32Pulldown = o.add32Pulldown;
        w.add2332Pulldown = o.add2332Pulldown;
        // The field options start from the main dialog's copies (loaded when it was shown).
        w.ntscUpperFieldFirst = w.upperFieldFirst;
        w.ntscOutput486Lines = w.output486Lines;
        SetEditNumber(*this, IDC_FLICKER_REMOVAL, o.flickerRemoval);
        SetEditNumber(*this, IDC_DELAY_AUDIO, o.delayAudioFrames);
        break;
    }
    ForEachBox(kind_, [&](const CheckBoxEntry &e) { CheckDlgButton(e.id, w.*e.copy); });
}

void COptionsDialog::OnOptionClicked()
{
    Copy &w = gOptionsWorkingCopy;
    // A box that has just turned on shows its guide page; one already on shows nothing.
    int index = 0;
    for (const CheckBoxEntry &e : kCheckBoxes) {
        if (e.dialog == kind_ && IsDlgButtonChecked(e.id) && w.*e.copy == 0) {
            ShowGuidePage(index + kFirstCheckBoxPage);
        }
        index++;
    }
    ForEachBox(kind_, [&](const CheckBoxEntry &e) { w.*e.copy = IsDlgButtonChecked(e.id); });
}

void COptionsDialog::CommitBoxes() const
{
    ForEachBox(kind_, [](const CheckBoxEntry &e) {
        if (e.field) {
            gConversionOptions.*e.field = gOptionsWorkingCopy.*e.copy;
        }
    });
}

int COptionsDialog::CommitAndClose()
{
    ConversionOptions &o = gConversionOptions;
    Copy &w = gOptionsWorkingCopy;
    // The passes read the record while they run.
    if (gProcessControl.running.load(std::memory_order_relaxed)) {
        ShowWarning("Stop current process before changing options");
        return 0;
    }
    switch (kind_) {
    case Kind::Main:
        if (gUiState.advancedOpen.load(std::memory_order_relaxed)) {
            ShowWarning("Please OK or Cancel Advanced Options");
            return 0;
        }
        if (gUiState.ntscPalOpen.load(std::memory_order_relaxed)) {
            ShowWarning("Please OK or Cancel PAL/NTSC Options");
            return 0;
        }
        CommitBoxes();
        o.filmMotion24P = w.filmMotion24P;
        o.output486Lines = w.output486Lines;
        o.upperFieldFirst = w.upperFieldFirst;
        ShowGuidePage(2);
        SaveOptionsIfNoguide();
        gUiState.optionsOpen.store(0, std::memory_order_relaxed);
        gUiState.optionsOpenAux.store(0, std::memory_order_relaxed);
        break;
    case Kind::Advanced:
        // Every box is committed even when the blur amount is refused below.
        CommitBoxes();
        ReadEdit(IDC_MOTION_SENSITIVITY, o.motionSensitivity);
        o.motionSensitivity = Clamp(o.motionSensitivity, 0, 1000);
        ReadEdit(IDC_RED_BOOST_AMOUNT, o.redBoostAmount);
        o.redBoostAmount = Clamp(o.redBoostAmount, 1, 100);
        ReadEdit(IDC_GRAIN_AMOUNT, o.grainAmount);
        o.grainAmount = Clamp(o.grainAmount, 1, 100);
        ReadEdit(IDC_RESIZE_WIDTH, o.resizeWidth);
        ReadEdit(IDC_RESIZE_HEIGHT, o.resizeHeight);
        SetYuvToRgbScale();
        ReadEdit(IDC_BLUR_AMOUNT, o.blurAmount);
        if (o.blurAmount < 1 || o.blurAmount > 3) {
            ShowWarning("Blur Amount must be 1, 2 or 3");
            o.blurAmount = o.blurAmount < 1 ? 1 : 3;
            return 0;
        }
        lc::CopyText(o.outputFolder, GetDlgItemText(IDC_OUTPUT_FOLDER).c_str());
        gUiState.advancedOpen.store(0, std::memory_order_relaxed);
        break;
    case Kind::NtscPal:
        CommitBoxes();
        o.use23976Timing = w.use23976Timing;
        o.add32Pulldown = w.add32Pulldown;
        o.add2332Pulldown = w.add2332Pulldown;
        ReadEdit(IDC_FLICKER_REMOVAL, o.flickerRemoval);
        if (o.flickerRemoval < 0 || o.flickerRemoval > 4) {
            ShowWarning("Flicker Removal must be 0-4");
            o.flickerRemoval = o.flickerRemoval < 0 ? 0 : 4;
            return 0;
        }
        ReadEdit(IDC_DELAY_AUDIO, o.delayAudioFrames);
        // The field options go to the main dialog, whose OK commits them.
        w.upperFieldFirst = w.ntscUpperFieldFirst;
        w.output486Lines = w.ntscOutput486Lines;
        gUiState.ntscPalOpen.store(0, std::memory_order_relaxed);
        break;
    }
    ShowWindow(lc::ui::SW_HIDE);
    return 1;
}

void COptionsDialog::OnOK()
{
    CommitAndClose();
}

void COptionsDialog::OnCancel()
{
    switch (kind_) {
    case Kind::Main:
        gUiState.optionsOpen.store(0, std::memory_order_relaxed);
        gUiState.optionsOpenAux.store(0, std::memory_order_relaxed);
        break;
    case Kind::Advanced:
        gUiState.advancedOpen.store(0, std::memory_order_relaxed);
        break;
    case Kind::NtscPal:
        gUiState.ntscPalOpen.store(0, std::memory_order_relaxed);
        break;
    }
    ShowWindow(lc::ui::SW_HIDE);
}

void COptionsDialog::OnStart()
{
    if (!CommitAndClose()) {
        return;
    }
    if (gUiState.batchListShown.load(std::memory_order_relaxed)) {
        ShowWarning("Press Start Batch to process all movies");
        return;
    }
    gProcessControl.batchRunning.store(0, std::memory_order_relaxed);
    StartProcessingThread();
}

void COptionsDialog::OnAdvancedOptions()
{
    gAdvancedDialog.ShowWindow(lc::ui::SW_SHOW);
    gAdvancedDialog.LoadControls();
    gUiState.advancedOpen.store(1, std::memory_order_relaxed);
}

void COptionsDialog::OnNtscPalOptions()
{
    gNtscPalDialog.ShowWindow(lc::ui::SW_SHOW);
    gNtscPalDialog.LoadControls();
    gUiState.ntscPalOpen.store(1, std::memory_order_relaxed);
}

void COptionsDialog::OnBrowseOutputFolder()
{
    std::string folder = BrowseForOutputFolder();
    // A cancelled chooser keeps the folder the user had.
    if (!folder.empty()) {
        lc::CopyText(gConversionOptions.outputFolder, folder.c_str());
        gAdvancedDialog.SetDlgItemText(IDC_OUTPUT_FOLDER, gConversionOptions.outputFolder);
    }
    gAdvancedDialog.BringWindowToTop();
}

void COptionsDialog::OnSensitivityFocus()
{
    ShowGuidePage(27);
}
void COptionsDialog::OnGrainAmountFocus()
{
    ShowGuidePage(28);
}
void COptionsDialog::OnRedBoostAmountFocus()
{
    ShowGuidePage(29);
}
void COptionsDialog::OnBlurAmountFocus()
{
    ShowGuidePage(30);
}
void COptionsDialog::OnOutputFolderFocus()
{
    ShowGuidePage(31);
}
void COptionsDialog::OnDelayAudioFocus()
{
    ShowGuidePage(32);
}
void COptionsDialog::OnFlickerRemovalFocus()
{
    ShowGuidePage(33);
}

void ShowOptionsDialog()
{
    gOptionsDialog.ShowWindow(lc::ui::SW_SHOW);
    gOptionsDialog.LoadControls();
    gUiState.optionsOpen.store(1, std::memory_order_relaxed);
}
