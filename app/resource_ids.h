#pragma once

// Command identifiers of the main menu and accelerators, with the values the system uses.
enum : int
{
    ID_FILE_NEW = 0xE100,
    ID_FILE_OPEN = 0xE101,
    ID_FILE_CLOSE = 0xE102,
    ID_FILE_SAVE_AS = 0xE104,
    ID_APP_ABOUT = 0xE140,
    ID_APP_EXIT = 0xE141,
    ID_NEXT_PANE = 0xE150,
    ID_PREV_PANE = 0xE151,
    ID_VIEW_OPTIONS = 32776,
    ID_START_PROCESS = 32777,
    ID_FILE_EXPORT = 32778,
    ID_QUICK_START_GUIDE = 32779,
    ID_BATCH = 32780,
    // The movie controller's keys (play or pause, step back, step forward), which the view
    // hands to the controller as key presses.
    ID_PLAYER_PLAY = 32790,
    ID_PLAYER_STEP_BACK = 32791,
    ID_PLAYER_STEP_FORWARD = 32792,
};

// Timer of the main frame that watches a processing run.
constexpr int kProcessingTimerId = 1;
