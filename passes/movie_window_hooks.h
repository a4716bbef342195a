#pragma once

#include <cstdint>

#include "passes/movie_window.h"

// Calls the movie object and the passes make into the application shell, and the shell's calls
// into the players and decoders that show AVI, MXF and MPEG-2 movies. The application installs them
// at start-up; a hook left null does nothing (an open that needs a missing player fails with a
// message), so the movie object also runs headless in tests.
struct MovieWindowHooks
{
    // The windows the movie object draws into, which it keeps as opaque handles.
    // The frame that holds the view; null when none.
    MovieWindowHandle (*parentOf)(MovieWindowHandle view) = nullptr;
    // Sets the frame's title and lets it accept dropped files.
    void (*setTitle)(MovieWindowHandle frame, const char *title) = nullptr;
    // Outer size (decorations included) and client size of a window.
    void (*windowSizes)(MovieWindowHandle window, int *width, int *height, int *clientWidth,
                        int *clientHeight) = nullptr;
    // Makes the view's client area width x height (the frame around it follows).
    void (*sizeView)(MovieWindowHandle view, int width, int height) = nullptr;
    // The view's picture changed.
    void (*redrawView)(MovieWindowHandle view) = nullptr;

    // Main frame: fill the picture area with white.
    void (*clearMainFramePicture)() = nullptr;
    // Batch list: append the path of the movie just opened (while the list is shown).
    void (*addOpenedFileToBatch)() = nullptr;
    // Save As: ask for the new name. filter is the label shown ("AVI Files (*.avi) " or
    // "Quicktime Files (*.mov) "); the pattern the extension ("avi" or "mov"). name gets the
    // chosen path; false when the user cancelled.
    bool (*chooseSaveName)(const char *filter, const char *extension, char *name,
                           int cap) = nullptr;

    // AVI/MXF playback window.
    void (*openAviPlayer)(const char *path) = nullptr;
    void (*closeAviPlayer)() = nullptr;
    void (*clearPlaybackFileName)() = nullptr;
    // MPEG-2 player and decoder thread.
    void (*openMpegPlayer)(const char *path) = nullptr;
    void (*closeMpegPlayer)() = nullptr;
    int (*mpegDecoderRunning)() = nullptr;
    // Forgets the open MPEG-2 input and its picture count, so the next open counts again.
    void (*resetMpegInput)() = nullptr;
    // MPEG-2 decoder control: the progress dialog's Stop and Pause/Resume, and shutdown.
    void (*requestMpegStop)() = nullptr;
    void (*toggleMpegPause)() = nullptr;
    void (*silenceMpegProgress)() = nullptr;
    // Releases the DV decode set-up of an MXF clip.
    void (*teardownDecoder)() = nullptr;

    // Calls of the passes into the shell.
    void (*showGuidePageAfterProcessing)(int page) = nullptr;
    void (*showFramePreview)() = nullptr;
    void (*hideFramePreview)() = nullptr;
    // The preview still waits to show the last frame it was given.
    bool (*framePreviewBusy)() = nullptr;
};

extern MovieWindowHooks gMovieWindowHooks;

// True when a temporary output of processing ("newmovie.avi" or "newmovie.mov" in the output
// folder or the movie's folder) is the source file itself, by file identity: writing it would
// destroy the source.
bool TemporaryOutputIsSource(const CMovieWindow &movieWindow);

// For the passes: the guide's page after processing, and the "Current Frame" preview window.
void ShowGuidePageAfterProcessing(int page);
void ShowFramePreview();
void HideFramePreview();
// True while the preview has not shown the last frame it was given: a frame given now would
// only replace it unseen, so the passes make none (the preview shows as many frames as it can
// paint).
bool FramePreviewBusy();

// Window messages the view hands to CMovieWindow::IsPlayerEvent, with the values the system's
// code uses. Any other message gives the controller an idle turn.
enum : unsigned {
    kWmKeyDown = 0x0100, // wParam: the key
    kWmTimer = 0x0113,
    // lParam: x in the low 16 bits, y in the high 16 bits (client coordinates, signed).
    kWmMouseMove = 0x0200, // wParam: kMkLButton while the left button is held
    kWmLButtonDown = 0x0201,
    kWmLButtonUp = 0x0202,
};
enum : uintptr_t {
    kMkLButton = 0x0001,
    kVkSpace = 0x20,
    kVkLeft = 0x25,
    kVkRight = 0x27,
};

// The lParam of a mouse message.
constexpr intptr_t MouseLParam(int x, int y)
{
    return intptr_t((uint32_t(uint16_t(y)) << 16) | uint16_t(x));
}
