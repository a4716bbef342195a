#pragma once

// Calls the MPEG-2 input makes upward into the processing and the user interface. The upper
// folders install them at start-up; until then every pointer is null and the call does nothing
// (or reads 0), so the decoder runs on its own in tools and tests.
struct Mpeg2Hooks
{
    // --- ProcessControl and ConversionState (processing thread) ---
    int (*processRunning)() = nullptr;   // ProcessControl::running
    int (*passesLeft)() = nullptr;       // ProcessControl::passesLeft; null reads 1
    int (*sourceIsPal)() = nullptr;      // ConversionState::sourceIsPal
    int (*ntscOutputHeight)() = nullptr; // ConversionState::ntscOutputHeight; null reads 480
    // ConversionState::outputBaseName: output or source folder, "/", source name without
    // extension. Null reads "".
    const char *(*outputBaseName)() = nullptr;

    // --- messages and progress ---
    void (*showError)(const char *text) = nullptr;  // ShowError: OK box, ends the movie
    void (*messageBox)(const char *text) = nullptr; // a plain box owned by the preview window
    void (*setProgress)(const char *text, int percent) = nullptr; // progress dialog

    // --- player controls and preview window ---
    void (*setPlayerSlider)(int percent) = nullptr;
    int (*playerSliderValue)() = nullptr; // 0..100
    // Gives the preview window a client area of width x height: it keeps its left edge, moves
    // to top 0 and repaints.
    void (*sizePreviewWindow)(int width, int height) = nullptr;

    // --- diagnostics: one formatted line; null sends it to lc::DebugTrace ---
    void (*debugOutput)(const char *line) = nullptr;
};

extern Mpeg2Hooks gMpeg2Hooks;

// Formats printf-style (at most 2047 characters) and passes the line to debugOutput.
void DebugTrace(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Hook wrappers with their null defaults.
int MpegProcessRunning();
int MpegPassesLeft();
void MpegShowError(const char *text);
