#include "passes/movie_window.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <strings.h>

#include "engine/conversion_options.h"
#include "formats/avi_reader.h"
#include "formats/movie_sniffer.h"
#include "passes/conversion_state.h"
#include "passes/lower_hooks.h"
#include "passes/movie_window_hooks.h"
#include "passes/process_control.h"
#include "passes/sound_track.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/media/movie_controller.h"
#include "platform/media/movies.h"
#include "platform/sys/file.h"
#include "platform/sys/path.h"
#include "platform/sys/text.h"
#include "platform/ui/message_box.h"

CMovieWindow *gMovieWindow = nullptr;
MovieWindowHooks gMovieWindowHooks;

namespace {

// The AVI reader found a second RIFF segment in the movie open now.
int gOpenedExtendedAvi = 0;

template <class... A> void Call(void (*hook)(A...), A... args)
{
    if (hook) {
        hook(args...);
    }
}

void ClearMainFramePicture()
{
    Call(gMovieWindowHooks.clearMainFramePicture);
}

// The last three characters of the path, compared without regard to case.
bool EndsWithNoCase(const char *path, const char *tail)
{
    size_t n = strlen(path), m = strlen(tail);
    return n >= m && strncasecmp(path + n - m, tail, m) == 0;
}

// Start of the first video sample strictly after time, or -1.
TimeValue NextVideoSampleTime(Movie movie, TimeValue time, short flags)
{
    OSType eyes = VisualMediaCharacteristic;
    TimeValue next = -1;
    GetMovieNextInterestingTime(movie, nextTimeMediaSample | flags, 1, &eyes, time, FixedOne, &next,
                                nullptr);
    return next;
}

void ShowPathError(const char *format, const char *path)
{
    char text[256];
    lc::FormatText(text, sizeof text, format, path);
    ShowError(text);
}

// The windowing layer draws no caption of its own: the system's decorations are outside the
// window's size.
constexpr int kSystemCaptionHeight = 0;

} // namespace

// AVI files that are not DV, and MXF clips: read by the own readers, shown by the playback window.
static int OpenInAviPlayer(CMovieWindow &mw, const char *path)
{
    gSourceKind.viaAviPlayer = 1;
    Call(gMovieWindowHooks.openAviPlayer, path);
    mw.isOpen = 1;
    mw.UpdateTitle();
    return 1;
}

// Sizes of the main frame; all 0 without one.
static void ParentSizes(MovieWindowHandle parent, int *w, int *h, int *cw, int *ch)
{
    if (parent && gMovieWindowHooks.windowSizes) {
        gMovieWindowHooks.windowSizes(parent, w, h, cw, ch);
    }
}

CMovieWindow::CMovieWindow() = default;
CMovieWindow::~CMovieWindow() = default;

bool CMovieWindow::SetMoviePath(const char *path)
{
    moviePath[0] = 0;
    movieFolder[0] = 0;
    if (!path || !lc::CopyText(moviePath, path)) {
        moviePath[0] = 0;
        return false;
    }
    // A path without folder leaves the folder empty: outputs then go to the current folder.
    std::ptrdiff_t end = lc::FolderEnd(moviePath);
    if (end >= 0) {
        std::memcpy(movieFolder, moviePath, size_t(end) + 1);
        movieFolder[end + 1] = 0;
    }
    return true;
}

int CMovieWindow::OpenMovie(const char *path)
{
    // 1. A name is needed.
    if (!path || !path[0]) {
        ShowError("Empty pathname: Could not open Movie");
        return 0;
    }

    // 2. Close the previous movie; keep the path and its folder.
    char name[256];
    if (!lc::CopyText(name, path)) {
        CloseMovie();
        ShowPathError("Could not open or read %s", path);
        return 0;
    }
    CloseMovie();
    SetMoviePath(name);

    // 3. Forget how the previous movie was read.
    gSourceKind.Clear();
    gOpenedExtendedAvi = 0;
    gAviReadState.isUncompressed = 0;
    gAviReadState.isDV = 0;

    // 4. While the batch list is shown, an opened movie only joins the list.
    if (gUiState.batchListShown && !gProcessControl.batchRunning) {
        Call(gMovieWindowHooks.addOpenedFileToBatch);
        return 1;
    }

    // 5. By the extension, then by the first bytes.
    if (EndsWithNoCase(name, "avi")) {
        gProcessControl.paused = 0;
        gProcessControl.stopRequested = 0;
        uint32_t frames = 0;
        int extended = 0;
        int r = AviOpenRead(name, &frames, &extended);
        gConversionState.sourceFrameCount = int32_t(frames);
        if (r != 0) {
            const char *text = AviErrorText(r);
            if (text && text[0]) {
                ShowError(text);
            } else {
                ShowPathError("Could not open or read %s", name);
            }
            AviCloseRead();
            ClearMainFramePicture();
            moviePath[0] = '\0';
            UpdateTitle();
            return 0;
        }
        if (AviIsInterleavedDV()) {
            AviCloseRead();
            ShowWarning("Type 1 AVI detected. Please install and use the included\napplication "
                        "dv.zip to convert to Type 2 AVI\n");
            gSourceKind.isType1Dv = 1;
            gSourceKind.viaQuickTime = 1;
            return 0;
        }
        if (!gAviReadState.isDV) {
            AviCloseRead();
            gSourceKind.isAvi = 1;
            return OpenInAviPlayer(*this, name);
        }
        gSourceKind.isAvi = 1;
        gSourceKind.viaQuickTime = 1;
        gOpenedExtendedAvi = extended;
        if (extended && gUiState.quickTimeVersion < 0x600) {
            ShowWarning("Extended AVI detected-- Pryne will show\nonly the first 5 minutes, but "
                        "the entire \nmovie will be processed.\n");
        }
        AviCloseRead();
    } else if (EndsWithNoCase(name, "dv")) {
        gSourceKind.viaQuickTime = 1;
    } else if (EndsWithNoCase(name, "mxf")) {
        gSourceKind.isMxf = 1;
        return OpenInAviPlayer(*this, name);
    } else {
        int kind = SniffMovieFile(name);
        if (kind == kSniffOther && gMovieWindowHooks.openMpegPlayer) {
            if (gMovieWindowHooks.mpegDecoderRunning && gMovieWindowHooks.mpegDecoderRunning()) {
                return 0;
            }
            Call(gMovieWindowHooks.resetMpegInput);
            gMovieWindowHooks.openMpegPlayer(name);
            UpdateTitle();
            isOpen = 1;
            gSourceKind.isMpeg = 1;
            return 1;
        }
        if (kind == kSniffOther || kind == kSniffUnreadable) {
            // Unreadable, or a stream no player of this build can show.
            if (kind == kSniffUnreadable && strstr(name, "welcome.jpg")) {
                ShowError("The welcome.jpg or hwelcome.jpg file must copied into\nthe same folder "
                          "as Pryne or Halvorne application.\n");
            } else {
                ShowPathError("Could not open or read %s", name);
            }
            ClearMainFramePicture();
            moviePath[0] = '\0';
            UpdateTitle();
            return 0;
        }
        gSourceKind.viaQuickTime = 1;
    }

    // 6. Through the media layer, with a controller for the view.
    Call(gMovieWindowHooks.closeMpegPlayer);
    Call(gMovieWindowHooks.closeAviPlayer);
    int result = 0;
    char pascal[256];
    lc::CopyText(pascal, moviePath);
    CToPascalString(pascal);
    FSSpec spec;
    FSMakeFSSpec(0, 0, reinterpret_cast<const unsigned char *>(pascal), &spec);
    short fileRef = 0;
    if (OpenMovieFile(&spec, &fileRef, fsRdPerm) != noErr) {
        ShowError("OpenMovieFile error: Could not open Movie");
        moviePath[0] = '\0';
    } else {
        Movie opened = nullptr;
        OSErr err = NewMovieFromFile(&opened, fileRef, nullptr, nullptr, newMovieActive, nullptr);
        CloseMovieFile(fileRef);
        if (err != noErr || !opened) {
            ShowError("NewMovieFromFile error: Could not open Movie");
            moviePath[0] = '\0';
        } else {
            movie = opened;
            // The rate from the first frame's duration; the thread rounds it from the ratio.
            TimeValue t1 = NextVideoSampleTime(movie, 0, nextTimeEdgeOK);
            TimeValue t2 = t1 >= 0 ? NextVideoSampleTime(movie, t1, 0) : -1;
            // No rate of an earlier movie stands for this one's.
            gConversionState.frameRateScale = 0;
            gConversionState.frameRateDuration = 0;
            if (t1 >= 0 && t2 > t1) {
                TimeScale scale = GetMovieTimeScale(movie);
                gConversionState.frameRate = scale / (t2 - t1);
                gConversionState.frameRateScale = scale;
                gConversionState.frameRateDuration = t2 - t1;
            }
            CreateController(movie);
            isOpen = 1;
            result = 1;
        }
    }

    // 7. High-quality playback, the title, and the picture.
    if (movie) {
        SetMoviePlayHints(movie, hintsHighQuality, 0x100100);
    }
    UpdateTitle();
    if (result && viewWindow && gMovieWindowHooks.redrawView) {
        gMovieWindowHooks.redrawView(viewWindow);
    }
    return result;
}

void CMovieWindow::FitWindow()
{
    if (!controller || !gSourceKind.viaQuickTime || !viewWindow || !gMovieWindowHooks.sizeView) {
        return;
    }
    Rect r;
    MCGetControllerBoundsRect(controller, &r);
    gMovieWindowHooks.sizeView(viewWindow, r.right, r.bottom);
}

void CMovieWindow::CloseMovie()
{
    // Players first: no thread may read the movie while it goes.
    StopAviPlayback();
    Call(gMovieWindowHooks.clearPlaybackFileName);
    if (gLowerHooks.stopMpegDecoder) {
        gLowerHooks.stopMpegDecoder();
    }
    Call(gMovieWindowHooks.resetMpegInput);
    if (gSourceKind.isMxf) {
        Call(gMovieWindowHooks.teardownDecoder);
    }
    if (isOpen == 1) {
        isOpen = 0;
        if (controller) {
            DisposeMovieController(controller);
            controller = nullptr;
        }
        if (movie) {
            DisposeMovie(movie);
            movie = nullptr;
        }
    }
    ClearMainFramePicture();
    moviePath[0] = '\0';
    UpdateTitle();
}

void CMovieWindow::NewMovie()
{
    CloseMovie();
    Movie made = ::NewMovie(newMovieActive);
    if (made) {
        movie = made;
        SetMoviePath("Untitled");
        UpdateTitle();
        CreateController(movie);
        isOpen = 1;
    }
}

void CMovieWindow::SaveAs()
{
    // 1. The new name.
    bool avi = gSourceKind.isAvi || gSourceKind.isType1Dv;
    char chosen[256] = {};
    if (!moviePath[0] || !gMovieWindowHooks.chooseSaveName
        || !gMovieWindowHooks.chooseSaveName(avi ? "AVI Files (*.avi) "
                                                 : "Quicktime Files (*.mov) ",
                                             avi ? "avi" : "mov", chosen, sizeof chosen)) {
        ShowGuidePage(5);
        return;
    }

    // 2. The extension of the movie's kind.
    const char *ext = avi ? ".avi" : ".mov";
    if (!EndsWithNoCase(chosen, ext) && !lc::AppendText(chosen, ext)) {
        ShowPathError("Could not open or read %s", chosen);
        return;
    }

    // 3. Close the movie; the same file under another spelling is not moved onto itself.
    char oldPath[256];
    lc::CopyText(oldPath, moviePath);
    CloseMovie();
    if (!lc::SameFile(oldPath, chosen)) {
        // 4. Move it, replacing what has that name; on failure the old movie comes back.
        if (!lc::RenameReplacing(oldPath, chosen)) {
            char text[256];
            lc::FormatText(text, sizeof text,
                           "Could not rename %s to %s\nVolume is read-only or file may be in "
                           "use\nby another application",
                           oldPath, chosen);
            ShowError(text);
            OpenMovie(oldPath);
            return;
        }
    }

    // 5. Open it under its new name.
    OpenMovie(chosen);
    ShowGuidePage(5);
}

void CMovieWindow::ExportMovie()
{
    if (gSourceKind.isAvi && gOpenedExtendedAvi
        && AfxMessageBox("Exporting an Extended AVI\nWarning: only first 5 minutes can be "
                         "exported\nUse File->SaveAs to save a full-length Extended AVI\nClick OK "
                         "to proceed",
                         MB_OKCANCEL)
               != IDOK) {
        return;
    }
    ShowGuidePage(4);
    // Movies shown by the AVI/MXF and MPEG-2 players have no media-layer movie to export.
    if (movie) {
        SetMovieProgressProc(movie, StandardMovieProgressProc(), 0);
        ConvertMovieToFile(movie, nullptr, nullptr, 0, 0, -1, nullptr,
                           createMovieFileDeleteCurFileFlag | showUserSettingsDialog
                               | movieToFileOnlyExport,
                           nullptr);
    }
    ShowGuidePage(5);
}

int CMovieWindow::IsPlayerEvent(MovieWindowHandle window, unsigned message, uintptr_t wParam,
                                intptr_t lParam)
{
    (void)window;
    if (!controller) {
        return 0;
    }
    EventRecord e;
    if (message == kWmLButtonDown || message == kWmLButtonUp || message == kWmMouseMove) {
        e.whereH = int16_t(uint16_t(uintptr_t(lParam) & 0xffff));
        e.whereV = int16_t(uint16_t((uintptr_t(lParam) >> 16) & 0xffff));
        e.what = message == kWmLButtonDown ? mouseDown : message == kWmLButtonUp ? mouseUp : osEvt;
        if (message == kWmMouseMove) {
            e.message = mouseMovedMessage;
        }
        // The button's state as the controller expects it: the bit is set while it is up.
        const bool held =
            message == kWmLButtonDown || (message == kWmMouseMove && (wParam & kMkLButton));
        e.modifiers = held ? 0 : btnState;
    } else if (message == kWmKeyDown) {
        e.what = keyDown;
        switch (wParam) {
        case kVkSpace:
            e.message = ' ';
            break;
        case kVkLeft:
            e.message = 0x1c;
            break;
        case kVkRight:
            e.message = 0x1d;
            break;
        default:
            e.message = uint32_t(wParam & 0xff);
            break;
        }
    }
    return int(MCIsPlayerEvent(controller, &e));
}

int CMovieWindow::AttachWindow(MovieWindowHandle view, MovieWindowCreateRecord *record)
{
    if (view) {
        viewWindow = view;
        parentWindow = gMovieWindowHooks.parentOf ? gMovieWindowHooks.parentOf(view) : nullptr;
        if (record) {
            record->width = 100;
            record->height = GetFrameWidth() + GetCaptionHeight() + GetTitleBarHeight();
        }
        UpdateTitle();
    }
    return 0;
}

void CMovieWindow::DetachWindow()
{
    CloseMovie();
}

void CMovieWindow::CreateController(Movie theMovie)
{
    if (!theMovie) {
        return;
    }
    GetMovieBox(theMovie, &movieBox);
    OffsetRect(&movieBox, int16_t(-movieBox.left), int16_t(-movieBox.top));
    controller = NewMovieController(theMovie, &movieBox, mcTopLeftMovie);
    MCDoAction(controller, mcActionSetKeysEnabled, reinterpret_cast<void *>(intptr_t(1)));
}

void CMovieWindow::StartProcess()
{
    if (gUiState.optionsOpen) {
        ShowWarning("Please OK or Cancel Process Options");
    } else if (gUiState.advancedOpen) {
        ShowWarning("Please OK or Cancel Advanced Options");
    } else if (gUiState.ntscPalOpen) {
        ShowWarning("Please OK or Cancel PAL/NTSC Options");
    } else {
        StartProcessingThread();
    }
}

void CMovieWindow::UpdateTitle()
{
    // At most 31 characters of the name and 63 of the file name.
    char title[31 + 3 + 63 + 1] = {};
    char fileName[256];
    GetFileName(fileName, sizeof fileName);
    if (appName[0]) {
        snprintf(title, sizeof title, "%.31s", appName);
    }
    if (fileName[0]) {
        if (title[0]) {
            lc::AppendText(title, " - ");
        }
        char shortName[64];
        lc::CopyText(shortName, fileName);
        lc::AppendText(title, shortName);
    }
    if (parentWindow && gMovieWindowHooks.setTitle) {
        gMovieWindowHooks.setTitle(parentWindow, title);
    }
}

void CMovieWindow::GetFileName(char *out, size_t cap)
{
    lc::CopyText(out, cap, moviePath + lc::FileNameStart(moviePath));
}

void CMovieWindow::GetAppName(char *out, size_t cap)
{
    if (appName[0]) {
        lc::CopyText(out, cap, appName);
    }
}

void CMovieWindow::CToPascalString(char *text)
{
    size_t n = std::strlen(text);
    if (n > 255) {
        n = 255;
    }
    std::memmove(text + 1, text, n);
    text[0] = char(uint8_t(n));
}

void CMovieWindow::PascalToCString(char *text)
{
    size_t n = uint8_t(text[0]);
    std::memmove(text, text + 1, n);
    text[n] = 0;
}

int CMovieWindow::GetFrameWidth()
{
    int w = 0, h = 0, cw = 0, ch = 0;
    ParentSizes(parentWindow, &w, &h, &cw, &ch);
    return w - cw;
}

int CMovieWindow::GetCaptionHeight()
{
    int w = 0, h = 0, cw = 0, ch = 0;
    ParentSizes(parentWindow, &w, &h, &cw, &ch);
    return h - ch - GetTitleBarHeight();
}

int CMovieWindow::GetTitleBarHeight()
{
    return parentWindow ? kSystemCaptionHeight : 0;
}

Movie CMovieWindow::GetMovie()
{
    return movie;
}

char *CMovieWindow::GetMoviePath()
{
    return moviePath;
}

// Operations no path calls keep their places.
void CMovieWindow::GetDesktopRect() {}

// The processing entry points no path calls.
void CMovieWindow::ProcessAviMovie() {}
void CMovieWindow::ProcessAviFrames() {}
void CMovieWindow::ProcessFramesOneToOne() {}
void CMovieWindow::CopySoundTrack() {}
void CMovieWindow::ProcessFramesRepulldown() {}

// The output sound track of QuickTime output. Which source sound it carries was armed before
// (BeginAviSoundFromQuickTime, or the sound that comes by another road).
int CMovieWindow::BeginSoundTrack(Movie outputMovie, Movie, Track, int)
{
    return BeginOutputSoundTrack(outputMovie);
}

void CMovieWindow::EndSoundTrack()
{
    EndOutputSoundTrack();
}

bool TemporaryOutputIsSource(const CMovieWindow &movieWindow)
{
    std::string folder = gConversionOptions.userSelectsOutputFolder
                             ? std::string(gConversionOptions.outputFolder) + "/"
                             : std::string(movieWindow.movieFolder);
    for (const char *name : {"newmovie.avi", "newmovie.mov"}) {
        if (lc::SameFile(movieWindow.moviePath, (folder + name).c_str())) {
            return true;
        }
    }
    return false;
}

void ShowGuidePageAfterProcessing(int page)
{
    if (gMovieWindowHooks.showGuidePageAfterProcessing) {
        gMovieWindowHooks.showGuidePageAfterProcessing(page);
    }
}

void ShowFramePreview()
{
    Call(gMovieWindowHooks.showFramePreview);
}

void HideFramePreview()
{
    Call(gMovieWindowHooks.hideFramePreview);
}

bool FramePreviewBusy()
{
    return gMovieWindowHooks.framePreviewBusy && gMovieWindowHooks.framePreviewBusy();
}
