#include "app/player_controls.h"

#include <algorithm>

#include "app/avi_playback.h"
#include "app/player_controls_template.h"
#include "engine/frame_store.h"
#include "mpeg2/mpeg2_hooks.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "mpeg2/mpeg_stream_info.h"
#include "mpeg2/output_stage.h"
#include "mpeg2/output_stage_hooks.h"
#include "passes/lower_hooks.h"
#include "passes/movie_window_hooks.h"
#include "passes/process_control.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/window.h"

PlayerState gPlayerState;
MpegPlayerHooks gMpegPlayerHooks;
CPlayerControlsDialog g_playerControls;

namespace {

// Makes the dialog window on first use, owned by the main frame.
bool gControlsPlaced = false;

bool EnsureControls()
{
    if (gPlayerState.controlsCreated) {
        return true;
    }
    if (!g_playerControls.Create(PlaybackMainFrame())) {
        ShowError("Could not create slider control");
        return false;
    }
    gControlsPlaced = false;
    gPlayerState.controlsCreated = 1;
    return true;
}

// Below the picture, 650 dialog units under the owner's top, but never off the screen (that
// leaves a 1080-line screen). Placed once it is shown, when its decorations are known.
void PlaceControls()
{
    lc::ui::CFrameWnd *owner = PlaybackMainFrame();
    if (gControlsPlaced || !owner || !owner->IsCreated()) {
        return;
    }
    gControlsPlaced = true;
    // Dialog units from the dialog's own size in pixels.
    const lc::ui::Rect client = g_playerControls.GetClientRect();
    const lc::ui::Rect outer = g_playerControls.GetWindowRect();
    const lc::ui::Rect at = owner->GetWindowRect();
    const lc::ui::Rect area = owner->GetScreenWorkArea();
    int x = at.left + kPlayerControlsX * client.Width() / 503;
    int y = at.top + kPlayerControlsY * client.Height() / 29;
    // A dialog wider or taller than the area keeps its top left corner on it.
    x = std::max(area.left, std::min(x, area.right - outer.Width()));
    y = std::max(area.top, std::min(y, area.bottom - outer.Height()));
    g_playerControls.MoveWindow(x, y, outer.Width(), outer.Height());
}

// The MPEG-2 decoder paints into the picture window and sizes the main frame around it from its
// own thread; neither call waits for the GUI thread, which may be joining that thread.
std::atomic<lc::ui::CWnd *> gMpegPictureWnd{nullptr};

void UseMpegPictureWindow(lc::ui::CWnd *window)
{
    gMpegPictureWnd = window;
}

// The output stage hands over two kinds of frame. The decoded picture is kept at the coded size
// (1920 x 1088 for 1080 lines), the picture's own lines at the top, its own columns at the left.
// The frames of a run are as wide as the picture, also where the stage names standard
// definition's 720 (a 704-pixel source). Each is shown as the picture, at its own size.
void DrawMpegPicture(const uint8_t *bottomUpBgr, int width, int height)
{
    lc::ui::CWnd *picture = gMpegPictureWnd.load();
    if (!picture || !bottomUpBgr) {
        return;
    }
    const DecodedPictureState &s = gDecodedPictureState;
    int rowPixels = width;
    if (bottomUpBgr == s.rgbFrame && width == s.width && height == s.height) {
        // Bottom-up: the coded lines below the picture are the first rows.
        bottomUpBgr += size_t(s.height - s.pictureHeight) * size_t(s.width) * 3;
        width = s.pictureWidth;
        height = s.pictureHeight;
    } else if (gFrameStore.sourceWidth > 0 && int(gFrameStore.sourceWidth) < width) {
        width = rowPixels = int(gFrameStore.sourceWidth);
    }
    picture->PaintBitmap(0, 0, width, height, 24, bottomUpBgr, rowPixels * 3);
}

// Places the main frame at (left, top), left -1 keeping its left edge, with a client area of
// clientWidth x clientHeight: the picture's own size where the decoder gives its coded size, and
// never wider than the picture.
void PlaceMpegPictureWindow(int left, int top, int clientWidth, int clientHeight)
{
    const int pictureWidth = gMpegStreamInfo.horizontalSize.load();
    const int pictureHeight = gMpegStreamInfo.verticalSize.load();
    if (pictureWidth > 0 && pictureHeight > 0) {
        if (clientWidth == gMpegStreamInfo.codedWidth.load()
            && clientHeight == gMpegStreamInfo.codedHeight.load()) {
            clientHeight = std::min(clientHeight, pictureHeight);
        }
        clientWidth = std::min(clientWidth, pictureWidth);
    }
    if (clientWidth <= 0 || clientHeight <= 0) {
        return;
    }
    lc::ui::PostToGui([left, top, clientWidth, clientHeight] {
        lc::ui::CFrameWnd *frame = PlaybackMainFrame();
        if (!frame || !frame->IsCreated()) {
            return;
        }
        const lc::ui::Rect w = frame->GetWindowRect();
        const lc::ui::Rect c = frame->GetClientRect();
        frame->MoveWindow(left < 0 ? w.left : left, top, clientWidth + w.Width() - c.Width(),
                          clientHeight + w.Height() - c.Height());
    });
}

void ShowControls(int command)
{
    if (gPlayerState.controlsCreated) {
        g_playerControls.ShowWindow(command);
        if (command != lc::ui::SW_HIDE) {
            PlaceControls();
        }
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
    // Posted, never waited for: the decoder and playback threads call this while the GUI thread
    // may be waiting for them. A dialog without its window takes no position.
    SetPos(IDC_PLAYER_SLIDER, std::clamp(percent, 0, 100));
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
    // Off first: a click from here on starts no playback.
    gPlayerState.aviActive = 0;
    AviStopPlayback();
    ShowControls(lc::ui::SW_HIDE);
}

void ShowAviPlayer()
{
    gPlayerState.mpegActive = 0; // one player at a time
    gPlayerState.aviActive = 1;
    ShowControls(lc::ui::SW_SHOW);
}

void CloseAviPlayerForRun()
{
    lc::ui::CallOnGui([] { CloseAviPlayer(); });
}

void ShowAviPlayerAfterRun()
{
    lc::ui::CallOnGui([] { ShowAviPlayer(); });
}

void CloseMpegPlayerForRun()
{
    lc::ui::CallOnGui([] {
        gPlayerState.mpegActive = 0;
        ShowControls(lc::ui::SW_HIDE);
    });
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
    h.usePictureWindow = &UseMpegPictureWindow;
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
    gMpeg2Hooks.sizePreviewWindow = [](int width, int height) {
        PlaceMpegPictureWindow(-1, 0, width, height);
    };
    gOutputStageHooks.drawPreview = &DrawMpegPicture;
    gOutputStageHooks.placePreviewWindow = &PlaceMpegPictureWindow;
    InstallAviPlaybackHooks();

    gMovieWindowHooks.openAviPlayer = &OpenAviPlayer;
    gMovieWindowHooks.closeAviPlayer = &CloseAviPlayer;
    gMovieWindowHooks.clearPlaybackFileName = &ClearPlaybackFileName;
    gMovieWindowHooks.openMpegPlayer = &OpenMpegPlayer;
    gMovieWindowHooks.closeMpegPlayer = &CloseMpegPlayer;

    gLowerHooks.resumeMpegForProcessing = &ResumeMpegForProcessing;
    gLowerHooks.showMpegPlayer = &ShowMpegPlayer;
    gLowerHooks.closeMpegPlayer = &CloseMpegPlayerForRun;
    gLowerHooks.fitVideoWindow = &FitVideoWindow;
    gLowerHooks.closeAviPlayer = &CloseAviPlayerForRun;
    gLowerHooks.showAviPlayer = &ShowAviPlayerAfterRun;
}
