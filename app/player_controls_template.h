#pragma once

#include "platform/ui/dialog.h"

// The "CONTROL" template of the Player Controls dialog.
enum : int {
    IDC_PLAYER_PLAY = 1043,       // "|>"
    IDC_PLAYER_STEP_BACK = 1044,  // "<"
    IDC_PLAYER_STEP_AHEAD = 1045, // ">"
    IDC_PLAYER_SLIDER = 1061,     // position, 0..100
};

extern const lc::ui::DialogTemplate kPlayerControlsTemplate;

// Where the dialog goes, in dialog units from its owner's top left corner.
constexpr int kPlayerControlsX = 1;
constexpr int kPlayerControlsY = 650;
