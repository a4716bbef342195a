#pragma once

#include "platform/ui/dialog.h"

// The dialogs behind the media layer's standard compression and the video compressor layer's
// chooser. Both layers ask on the processing thread; the dialogs run modally on the GUI thread
// while only the asking thread waits.

namespace lc::ui {

// Installs both dialogs in place of the scripted answers; a chooser installed before (such as a
// headless runner's) is kept.
void InstallCompressionChoosers();

// Control ids: entry i of the list is kChooserEntry + i; quality level j (minimum, low, normal,
// high, maximum, lossless) is kChooserQuality + j.
enum : int {
    kChooserEntry = 1000,
    kChooserQuality = 2000,
    kChooserQualityCount = 6,
};

// The chooser dialog on screen, null when none (GUI thread): lets tests drive it as a user would.
CDialog *OpenCompressionChooser();

} // namespace lc::ui
