#include "app/options_dialog_templates.h"

using lc::ui::ControlKind;
using lc::ui::ControlTemplate;
using lc::ui::kGroup;
using lc::ui::kHidden;

namespace {

constexpr int kStatic = -1;

const ControlTemplate kMainControls[] = {
    {kStatic, ControlKind::GroupBox, "Letterbox", 7, 5, 176, 52, 0},
    {IDC_CROP_LETTERBOX, ControlKind::RadioButton, "Crop 4:3 to 16:9 letterbox", 14, 17, 160, 10,
     kGroup},
    {IDC_UNSQUEEZE_LETTERBOX, ControlKind::RadioButton, "Unsqueeze 16:9 to letterbox", 14, 29, 160,
     10, 0},
    {IDC_NO_LETTERBOX, ControlKind::RadioButton, "No Letterbox", 14, 41, 160, 10, 0},
    {IDC_DEINTERLACE, ControlKind::CheckBox, "Deinterlace Where Motion is Present", 10, 63, 172, 10,
     kGroup},
    {IDC_RED_BOOST, ControlKind::CheckBox, "Red Boost", 10, 76, 80, 10, 0},
    {IDC_ADD_GRAIN, ControlKind::CheckBox, "Add Grain", 100, 76, 80, 10, 0},
    {IDC_ADVANCED_OPTIONS, ControlKind::Button, "Advanced Options", 10, 94, 82, 14, 0},
    {IDC_NTSC_PAL_OPTIONS, ControlKind::Button, "NTSC/PAL Options", 100, 94, 82, 14, 0},
    {IDC_START, ControlKind::Button, "Start", 10, 126, 52, 14, 0},
    {IDOK, ControlKind::DefaultButton, "Close", 70, 126, 52, 14, 0},
    {IDCANCEL, ControlKind::Button, "Cancel", 130, 126, 52, 14, 0},
};

const ControlTemplate kAdvancedControls[] = {
    {IDC_SHOW_MOTION_MASK, ControlKind::CheckBox, "Show Motion Detector Mask", 10, 8, 150, 10,
     kGroup},
    {IDC_SHOW_LINE_MASK, ControlKind::CheckBox, "Show Line Detector Mask", 10, 20, 150, 10, 0},
    {IDC_LINE_DETECTOR_ON, ControlKind::CheckBox, "Line Detector On", 10, 32, 150, 10, 0},
    {kStatic, ControlKind::Static, "Motion Detector Sensitivity:", 10, 48, 104, 9, 0},
    {IDC_MOTION_SENSITIVITY, ControlKind::Edit, nullptr, 118, 46, 40, 12, 0},
    {IDC_BLUR_LINES, ControlKind::CheckBox, "Blur horizontal lines on motion", 10, 63, 132, 10, 0},
    {kStatic, ControlKind::Static, "Amount", 146, 64, 30, 9, 0},
    {IDC_BLUR_AMOUNT, ControlKind::Edit, nullptr, 180, 62, 30, 12, 0},
    {kStatic, ControlKind::Static, "Red Boost Amount", 10, 80, 104, 9, 0},
    {IDC_RED_BOOST_AMOUNT, ControlKind::Edit, nullptr, 118, 78, 40, 12, 0},
    {kStatic, ControlKind::Static, "Grain Amount", 10, 96, 104, 9, 0},
    {IDC_GRAIN_AMOUNT, ControlKind::Edit, nullptr, 118, 94, 40, 12, 0},
    {IDC_USE_YUV, ControlKind::CheckBox, "Use YUV processing", 10, 113, 104, 10, 0},
    {IDC_ALWAYS_MAKE_QUICKTIME, ControlKind::CheckBox, "Always make Quicktime", 118, 113, 108, 10,
     0},
    {IDC_USER_SELECTS_COMPRESSION, ControlKind::CheckBox, "User selects compression", 10, 126, 104,
     10, 0},
    {IDC_USER_SELECTS_FOLDER, ControlKind::CheckBox, "User selects output folder", 118, 126, 108,
     10, 0},
    {kStatic, ControlKind::Static, "Output Folder", 10, 142, 80, 9, 0},
    {IDC_OUTPUT_FOLDER, ControlKind::Edit, nullptr, 10, 152, 164, 12, 0},
    {IDC_BROWSE, ControlKind::Button, "Browse", 178, 151, 44, 14, 0},
    {IDC_RESIZE_ON, ControlKind::CheckBox, " Resize to", 10, 169, 50, 10, kHidden},
    {IDC_RESIZE_WIDTH, ControlKind::Edit, nullptr, 62, 168, 30, 12, kHidden},
    {kStatic, ControlKind::Static, "H  x", 94, 170, 16, 9, kHidden},
    {IDC_RESIZE_HEIGHT, ControlKind::Edit, nullptr, 112, 168, 30, 12, kHidden},
    {kStatic, ControlKind::Static, "V", 144, 170, 10, 9, kHidden},
    {IDOK, ControlKind::DefaultButton, "OK", 118, 184, 50, 14, 0},
    {IDCANCEL, ControlKind::Button, "Cancel", 172, 184, 50, 14, 0},
};

const ControlTemplate kNtscPalControls[] = {
    {kStatic, ControlKind::GroupBox, "25P Conversion", 7, 5, 186, 52, 0},
    {IDC_CONVERT_60I_TO_25P, ControlKind::RadioButton, "Convert 60i to 25P", 14, 17, 170, 10,
     kGroup},
    {IDC_PULLDOWN_32_TO_25P, ControlKind::RadioButton, "Convert 3:2 pulldown to 25P", 14, 29, 170,
     10, 0},
    {IDC_PULLDOWN_2332_TO_25P, ControlKind::RadioButton, "Convert 2:3:3:2 pulldown to 25P", 14, 41,
     170, 10, 0},
    {IDC_TWO_PASS_REMOVAL, ControlKind::CheckBox, "2-pass pulldown removal", 10, 63, 180, 10,
     kGroup},
    {IDC_UPPER_FIELD_FIRST, ControlKind::CheckBox, "Output upper field first", 10, 76, 180, 10, 0},
    {IDC_OUTPUT_486_LINES, ControlKind::CheckBox, "Output 486 lines", 10, 89, 180, 10, 0},
    {kStatic, ControlKind::Static, "Flicker Removal", 10, 107, 72, 9, 0},
    {IDC_FLICKER_REMOVAL, ControlKind::Edit, nullptr, 86, 105, 30, 12, 0},
    {kStatic, ControlKind::Static, "Delay Audio", 10, 123, 72, 9, 0},
    {IDC_DELAY_AUDIO, ControlKind::Edit, nullptr, 86, 121, 30, 12, 0},
    {kStatic, ControlKind::Static, "frames", 120, 123, 40, 9, 0},
    {IDOK, ControlKind::DefaultButton, "OK", 88, 140, 50, 14, 0},
    {IDCANCEL, ControlKind::Button, "Cancel", 143, 140, 50, 14, 0},
};

} // namespace

const lc::ui::DialogTemplate kOptionsDialogTemplate =
    lc::ui::MakeDialogTemplate("OPTIONS_DIALOG", "Process Options", 190, 148, kMainControls);
const lc::ui::DialogTemplate kAdvancedDialogTemplate =
    lc::ui::MakeDialogTemplate("ADVANCED_DIALOG", "Advanced Options", 232, 206, kAdvancedControls);
const lc::ui::DialogTemplate kNtscPalDialogTemplate =
    lc::ui::MakeDialogTemplate("24P_DIALOG", "PAL/NTSC Options", 200, 162, kNtscPalControls);
