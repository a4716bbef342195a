#pragma once

#include <atomic>

#include "platform/ui/dialog.h"

// The Player Controls: one modeless dialog with a position slider and three buttons that drives
// whichever of the two players is active, the MPEG-2 decoder thread or the AVI/MXF playback
// window.

// Process-wide. The handlers (GUI thread) write the fields; the playback and decoder threads read
// sliderPercent and step and clear step.
struct PlayerState
{
    std::atomic<int> controlsCreated{0}; // the dialog window exists
    std::atomic<int> mpegActive{0};      // the controls drive the MPEG-2 player
    std::atomic<int> aviActive{0};       // the controls drive the AVI/MXF playback window
    std::atomic<int> sliderPercent{0};   // last slider position the user set, 0..100
    std::atomic<int> step{0};            // -1, 0, +1: one-frame step asked by "<" or ">"
};

extern PlayerState gPlayerState;

// The MPEG-2 decoder thread and its control record as the controls use them. Installed by the
// start-up code; a null hook does nothing and reads 0.
struct MpegPlayerHooks
{
    void (*openAndStartDecoder)(const char *path) = nullptr; // OpenMpegAndStartDecoder
    void (*startOrPauseDecoding)() = nullptr;                // StartOrPauseMpegDecoding
    void (*seekToSlider)() = nullptr;                        // SeekMpegToSlider
    void (*stopDecoder)() = nullptr;                         // StopMpegDecoder
    // The window the decoder paints its pictures into (the view, filling the main frame).
    void (*usePictureWindow)(lc::ui::CWnd *window) = nullptr;
    int (*decoderRunning)() = nullptr;             // MpegDecoderControl::running
    void (*setProcessingMode)(int mode) = nullptr; // MpegDecoderControl::processingMode
    // MpegDecoderControl::paused = 1 and MpegDecoderControl::singleStep = 1.
    void (*requestSingleStep)() = nullptr;
    // MpegDecoderControl::seekPercent = 0 and MpegDecoderControl::sequenceSeen = 0.
    void (*clearForProcessing)() = nullptr;
};

extern MpegPlayerHooks gMpegPlayerHooks;

class CPlayerControlsDialog : public lc::ui::CDialog
{
public:
    CPlayerControlsDialog();

    // Sets the slider to percent clamped to 0..100, when the window exists. Not a user's move.
    void SetSliderPos(int percent);

    void OnHScroll();
    void OnPlay();
    void OnStepBack();
    void OnStepForward();
};

extern CPlayerControlsDialog g_playerControls;

// Called by the movie object's open and close, movie processing and the players' threads.
void OpenMpegPlayer(const char *path);
void OpenAviPlayer(const char *path);
void CloseMpegPlayer();
void ShowMpegPlayer();
void CloseAviPlayer();
void ShowAviPlayer();
// From any thread: moves the slider when the dialog exists.
void SetPlayerSlider(int percent);
// Restarts the MPEG-2 decoder over the whole stream for a processing pass.
void ResumeMpegForProcessing();

// Start-up, before any movie opens (the command line's included): points gMpegPlayerHooks at the
// MPEG-2 decoder thread, gives the decoder the slider and the picture window (drawing, sizing
// and placing it), installs the playback window's hooks of the passes (InstallAviPlaybackHooks)
// and the movie object's and the processing run's player hooks. The windows themselves come
// later, when the view is made (SetPlaybackWindows).
void InstallPlayerHooks();

// For a processing run, on the GUI thread so that no click of the controls slips in between:
// the AVI player lets go of its file and the controls drive nothing until ShowAviPlayer.
void CloseAviPlayerForRun();
void ShowAviPlayerAfterRun();
// The same for an MPEG-2 stream: the controls drive nothing until ShowMpegPlayer, so that "|>"
// cannot start a preview over the stream the run decodes.
void CloseMpegPlayerForRun();
