#pragma once

#include <atomic>

// Flags of the user interface that other subsystems read. Written on the GUI thread; read by the
// processing thread and the players.
struct UiState
{
    std::atomic<int> ready{0};                // 1 once start-up has created every dialog
    std::atomic<int> quickTimeVersion{0};     // high 16 bits of the version answer, sign-extended
    std::atomic<int> batchListShown{0};       // 1 while the batch list is shown
    std::atomic<int> progressShown{0};        // 1 while the progress dialog is shown
    std::atomic<int> optionsOpen{0};          // 1 while the main options dialog is shown
    std::atomic<int> advancedOpen{0};         // 1 while the advanced options dialog is shown
    std::atomic<int> ntscPalOpen{0};          // 1 while the NTSC/PAL options dialog is shown
    std::atomic<int> optionsOpenAux{0};       // the fourth main-dialog flag; only ever cleared
    std::atomic<int> guidePage{0};            // page of the quick-start guide shown, 0 at start
    std::atomic<int> guideAfterProcessing{0}; // 1 when the page was chosen after processing

    // The batch list, lines separated by "\r\n" (or "\n"); at most 25599 characters. Written by
    // the GUI thread while no processing runs; the processing thread reads it at its start.
    char batchText[25600] = {};
};

extern UiState gUiState;
