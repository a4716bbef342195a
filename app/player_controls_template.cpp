#include "app/player_controls_template.h"

using lc::ui::ControlKind;
using lc::ui::ControlTemplate;

namespace {

const ControlTemplate kControls[] = {
    {IDC_PLAYER_PLAY, ControlKind::Button, "|>", 4, 7, 22, 14, 0},
    {IDC_PLAYER_STEP_BACK, ControlKind::Button, "<", 30, 7, 18, 14, 0},
    {IDC_PLAYER_STEP_AHEAD, ControlKind::Button, ">", 52, 7, 18, 14, 0},
    {IDC_PLAYER_SLIDER, ControlKind::Trackbar, nullptr, 76, 4, 422, 20, 0},
};

} // namespace

const lc::ui::DialogTemplate kPlayerControlsTemplate =
    lc::ui::MakeDialogTemplate("CONTROL", "Player Controls", 503, 29, kControls);
