#pragma once

#include "platform/ui/dialog.h"

// Templates of the three option dialogs: "OPTIONS_DIALOG" (main), "ADVANCED_DIALOG" and
// "24P_DIALOG" (NTSC/PAL).
extern const lc::ui::DialogTemplate kOptionsDialogTemplate;
extern const lc::ui::DialogTemplate kAdvancedDialogTemplate;
extern const lc::ui::DialogTemplate kNtscPalDialogTemplate;

// Control ids the dialogs share with their code.
enum : int {
    IDC_START = 3,
    IDC_UNSQUEEZE_LETTERBOX = 1002,
    IDC_CROP_LETTERBOX = 1003,
    IDC_NO_LETTERBOX = 1004,
    IDC_DEINTERLACE = 1005,
    IDC_UPPER_FIELD_FIRST = 1006,
    IDC_OUTPUT_486_LINES = 1007,
    IDC_ADVANCED_OPTIONS = 1011,
    IDC_SHOW_MOTION_MASK = 1012,
    IDC_LINE_DETECTOR_ON = 1013,
    IDC_MOTION_SENSITIVITY = 1014,
    IDC_ADD_GRAIN = 1015,
    IDC_RED_BOOST = 1016,    // main dialog
    IDC_GRAIN_AMOUNT = 1016, // advanced dialog
    IDC_RED_BOOST_AMOUNT = 1017,
    IDC_SHOW_LINE_MASK = 1018,
    IDC_BLUR_LINES = 1019,
    IDC_PULLDOWN_2332_TO_25P = 1023,
    IDC_FLICKER_REMOVAL = 1027,
    IDC_PULLDOWN_32_TO_25P = 1028,
    IDC_CONVERT_60I_TO_25P = 1029,
    IDC_DELAY_AUDIO = 1033,
    IDC_USER_SELECTS_COMPRESSION = 1034,
    IDC_ALWAYS_MAKE_QUICKTIME = 1035,
    IDC_USE_YUV = 1036,
    IDC_BLUR_AMOUNT = 1037,
    IDC_USER_SELECTS_FOLDER = 1038,
    IDC_OUTPUT_FOLDER = 1039,    // advanced dialog
    IDC_TWO_PASS_REMOVAL = 1039, // NTSC/PAL dialog
    IDC_BROWSE = 1040,
    IDC_RESIZE_WIDTH = 1041,
    IDC_RESIZE_HEIGHT = 1042,
    IDC_RESIZE_ON = 1045,
    IDC_NTSC_PAL_OPTIONS = 2012,
};
