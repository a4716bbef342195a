#include "app/player_controls.h"

#include <algorithm>

#include "app/avi_playback.h"
#include "app/player_controls_template.h"
#include "mpeg2/mpeg2_hooks.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "passes/movie_window_hooks.h"
#include "passes/process_control.h"
#include "platform/ui/window.h"

PlayerState gPlayerState;
MpegPlayerHooks gMpegPlayerHooks;
CPlayerControlsDialog g_playerControls;

namespace {

// Makes the dialog window on first use, owned by the main frame, placed below the picture.
bool EnsureControls()
{
    if (gPlayerState.controlsCreated) {
        return true;
    }
    lc::ui::CFrameWnd *owner = PlaybackMainFrame();
    if (!g_playerControls.Create(owner)) {
        ShowError("Could not create slider control");
        return false;
    }
    gPlayerState.controlsCreated = 1;
    if (owner && owner->IsCreated()) {
        // Dialog units from the dialog's own size in pixels.
        const lc::ui::Rect client = g_playerControls.GetClientRect();
        const lc::ui::Rect outer = g_playerControls.GetWindowRect();
        const lc::ui::Rect at = owner->GetWindowRect();
        const int x = at.left + kPlayerControlsX * client.Width() / 503;
        const int y = at.top + kPlayerControlsY * client.Height() / 29;
        g_playerControls.MoveWindow(x, y, outer.Width(), outer.Height());
    }
    return true;
}

void ShowControls(int command)
{
    if (gPlayerState.controlsCreated) {
        g_playerControls.ShowWindow(command);
    }
}

} // namespace

CPlayerControlsDialog::CPlayerControlsDialog()
    : CDialog(kPlayerControlsTemplate)
{
    static const Entry<CPlayerControlsDialog> kMap[] = {
        {IDC_PLAYER_SLIDER, lc::ui::Notify::Scroll, &CPlayerControlsDialog::OnHScroll},
        {IDC_PLAYER_PLAY, lc::ui::Notify::Clicked, &CPlayerControlsDialog::OnPlay},
        {IDC_PLAYER_STEP_BACK, lc::ui::Notify::Clicked, &CPlayerControlsDialog::OnStepBack},
        {IDC_PLAYER_STEP_AHEAD, lc::ui::Notify::Clicked, &CPlayerControlsDialog::OnStepForward},
    };
    MapNotifies(kMap);
}

void CPlayerControlsDialog::SetSliderPos(int percent)
{
    if (IsCreated()) {
        SetPos(IDC_PLAYER_SLIDER, std::clamp(percent, 0, 100));
    }
}

void CPlayerControlsDialog::OnHScroll()
{
    if (!gPlayerState.mpegActive && !gPlayerState.aviActive) {
        return;
    }
    gPlayerState.sliderPercent = std::clamp(GetPos(IDC_PLAYER_SLIDER), 0, 100);
    if (gPlayerState.mpegActive) {
        if (gMpegPlayerHooks.seekToSlider) {
            gMpegPlayerHooks.seekToSlider();
        }
    } else {
        RestartAviPlayback();
    }
}

void CPlayerControlsDialog::OnPlay()
{
    if (gPlayerState.mpegActive) {
        if (gMpegPlayerHooks.setProcessingMode) {
            gMpegPlayerHooks.setProcessingMode(0); // plain viewing
        }
        if (gMpegPlayerHooks.startOrPauseDecoding) {
            gMpegPlayerHooks.startOrPauseDecoding();
        }
    } else if (gPlayerState.aviActive) {
        StartOrPauseAviPlayback();
    }
}

void CPlayerControlsDialog::OnStepBack()
{
    if (gPlayerState.mpegActive) {
        gPlayerState.step = -1; // the MPEG-2 decoder cannot step back
    } else if (gPlayerState.aviActive) {
        gPlayerState.step = -1;
        RestartAviPlayback();
    }
}

void CPlayerControlsDialog::OnStepForward()
{
    if (gPlayerState.mpegActive) {
        gPlayerState.step = 1;
        if (gMpegPlayerHooks.requestSingleStep) {
            gMpegPlayerHooks.requestSingleStep();
        }
        const int running = gMpegPlayerHooks.decoderRunning ? gMpegPlayerHooks.decoderRunning() : 0;
        if (!running && gMpegPlayerHooks.startOrPauseDecoding) {
            gMpegPlayerHooks.startOrPauseDecoding();
        }
    } else if (gPlayerState.aviActive) {
        gPlayerState.step = 1;
        RestartAviPlayback();
    }
}

void OpenMpegPlayer(const char *path)
{
    gPlayerState.aviActive = 0;
    if (gMpegPlayerHooks.usePictureWindow) {
        gMpegPlayerHooks.usePictureWindow(PlaybackPictureWindow());
    }
    if (!gProcessControl.batchRunning) {
        if (EnsureControls()) {
            ShowControls(lc::ui::SW_SHOW);
        }
    }
    gPlayerState.mpegActive = 1;
    if (gMpegPlayerHooks.openAndStartDecoder) {
        gMpegPlayerHooks.openAndStartDecoder(path);
    }
}

void OpenAviPlayer(const char *path)
{
    gPlayerState.aviActive = 1;
    gPlayerState.mpegActive = 0;
    if (!gProcessControl.batchRunning) {
        if (EnsureControls()) {
            ShowControls(lc::ui::SW_SHOW);
        }
    }
    ReopenAviPlayback(path);
}

void CloseMpegPlayer()
{
    if (gMpegPlayerHooks.stopDecoder) {
        gMpegPlayerHooks.stopDecoder();
    }
    gPlayerState.mpegActive = 0;
    ShowControls(lc::ui::SW_HIDE);
}

void ShowMpegPlayer()
{
    gPlayerState.aviActive = 0; // one player at a time
    gPlayerState.mpegActive = 1;
    ShowControls(lc::ui::SW_SHOW);
}

void CloseAviPlayer()
{
    AviStopPlayback();
    gPlayerState.aviActive = 0;
    ShowControls(lc::ui::SW_HIDE);
}

void ShowAviPlayer()
{
    gPlayerState.mpegActive = 0; // one player at a time
    gPlayerState.aviActive = 1;
    ShowControls(lc::ui::SW_SHOW);
}

void SetPlayerSlider(int percent)
{
    if (gPlayerState.controlsCreated) {
        g_playerControls.SetSliderPos(percent);
    }
}

void ResumeMpegForProcessing()
{
    if (gMpegPlayerHooks.clearForProcessing) {
        gMpegPlayerHooks.clearForProcessing();
    }
    ShowControls(lc::ui::SW_HIDE);
    gPlayerState.mpegActive = 0;
    if (gMpegPlayerHooks.startOrPauseDecoding) {
        gMpegPlayerHooks.startOrPauseDecoding();
    }
}

void InstallPlayerHooks()
{
    MpegPlayerHooks &h = gMpegPlayerHooks;
    h.openAndStartDecoder = &OpenMpegAndStartDecoder;
    h.startOrPauseDecoding = &StartOrPauseMpegDecoding;
    h.seekToSlider = &SeekMpegToSlider;
    h.stopDecoder = &StopMpegDecoder;
    h.decoderRunning = &IsMpegDecoderRunning;
    h.setProcessingMode = [](int mode) { gMpegDecoderControl.processingMode = mode; };
    h.requestSingleStep = [] {
        gMpegDecoderControl.paused = 1;
        gMpegDecoderControl.singleStep = 1;
    };
    h.clearForProcessing = [] {
        gMpegDecoderControl.seekPercent = 0;
        ClearSequenceSeen();
    };
    gMpeg2Hooks.setPlayerSlider = &SetPlayerSlider;
    gMpeg2Hooks.playerSliderValue = [] { return gPlayerState.sliderPercent.load(); };
    InstallAviPlaybackHooks();
}

void InstallPlayers(lc::ui::CFrameWnd *mainFrame, lc::ui::CWnd *picture)
{
    SetPlaybackWindows(mainFrame, picture);
    InstallPlayerHooks();
    gMovieWindowHooks.openAviPlayer = &OpenAviPlayer;
    gMovieWindowHooks.closeAviPlayer = &CloseAviPlayer;
    gMovieWindowHooks.clearPlaybackFileName = &ClearPlaybackFileName;
    gMovieWindowHooks.openMpegPlayer = &OpenMpegPlayer;
    gMovieWindowHooks.closeMpegPlayer = &CloseMpegPlayer;
}
