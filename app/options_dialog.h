#pragma once

#include <cstdint>

#include "platform/ui/dialog.h"

// The three option dialogs share one class. Each edits working copies, filled from
// gConversionOptions when it is shown and committed only by its OK. They are modeless: made
// hidden at start-up, then shown and hidden.

// One integer per check box or radio of the three dialogs, plus the values a dialog carries
// through unchanged.
struct OptionsWorkingCopy
{
    // --- main dialog ---
    int cropLetterbox = 0;
    int noLetterbox = 0; // on when neither letterbox is; stores nothing
    int unsqueezeLetterbox = 0;
    int redBoost = 0;
    int addGrain = 0;
    int deinterlace = 0;
    int upperFieldFirst = 0; // committed by the main dialog's OK
    int output486Lines = 0;  // committed by the main dialog's OK
    int filmMotion24P = 0;   // carried through
    // --- advanced dialog ---
    int showMotionMask = 0;
    int showLineMask = 0;
    int lineDetectorOn = 0;
    int blurLinesOnMotion = 0;
    int useYuvProcessing = 0;
    int alwaysMakeQuickTime = 0;
    int userSelectsOutputFolder = 0;
    int userSelectsCompression = 0;
    int resizeOn = 0;
    // --- NTSC/PAL dialog ---
    int convert60iTo25P = 0;
    int pulldown32To25P = 0;
    int pulldown2332To25P = 0;
    int twoPassPulldownRemoval = 0;
    // Its own copies of the two field options: they reach the main dialog's copies only by
    // this dialog's OK, so its Cancel drops them.
    int ntscUpperFieldFirst = 0;
    int ntscOutput486Lines = 0;
    int use23976Timing = 1; // carried through
    int add32Pulldown = 0;
    int add2332Pulldown = 0;
};

extern OptionsWorkingCopy gOptionsWorkingCopy;

class COptionsDialog : public lc::ui::CDialog
{
public:
    enum class Kind {
        Main,
        Advanced,
        NtscPal,
    };
    COptionsDialog(Kind kind, const lc::ui::DialogTemplate &tmpl);

    Kind GetKind() const { return kind_; }

    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    // The controls from gConversionOptions and the working copies (on every show).
    void LoadControls();
    // OK: commits and hides; 1 when the dialog closed, 0 when it stays open after a refusal.
    int CommitAndClose();
    void OnStart();
    void OnAdvancedOptions();
    void OnNtscPalOptions();
    void OnBrowseOutputFolder();
    void OnOptionClicked();
    void OnSensitivityFocus();
    void OnGrainAmountFocus();
    void OnRedBoostAmountFocus();
    void OnBlurAmountFocus();
    void OnOutputFolderFocus();
    void OnDelayAudioFocus();
    void OnFlickerRemovalFocus();

private:
    // Each box's working copy into its field of gConversionOptions.
    void CommitBoxes() const;
    // Reads an edit as "%d" into field; text without a number leaves it unchanged.
    void ReadEdit(int id, int32_t &field) const;
    Kind kind_;
};

extern COptionsDialog gOptionsDialog;
extern COptionsDialog gAdvancedDialog;
extern COptionsDialog gNtscPalDialog;

// Menu "View Options", start-up and movie open: shows the main dialog with fresh controls.
void ShowOptionsDialog();
