#include "passes/movie_window.h"

#include <cstring>

#include "passes/lower_hooks.h"
#include "passes/process_control.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/sys/path.h"
#include "platform/sys/text.h"

CMovieWindow *gMovieWindow = nullptr;

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
    // Empty path.
    if (!path || !path[0]) {
        ShowError("Empty pathname: Could not open Movie");
        return 0;
    }
    // Close the previous movie; take the path and its folder.
    CloseMovie();
    SetMoviePath(path);
    // Every open starts with no source kind.
    gSourceKind.Clear();
    // No reader is joined to this object yet: nothing can be opened.
    char text[256];
    lc::FormatText(text, sizeof text, "Could not open or read %s", path);
    ShowError(text);
    moviePath[0] = 0;
    return 0;
}

void CMovieWindow::CloseMovie()
{
    StopAviPlayback();
    if (gLowerHooks.stopMpegDecoder) {
        gLowerHooks.stopMpegDecoder();
    }
    isOpen = 0;
    movie = nullptr;
    controller = nullptr;
    moviePath[0] = 0;
    UpdateTitle();
}

void CMovieWindow::StartProcess()
{
    // No run while an option dialog holds uncommitted changes.
    if (gUiState.optionsOpen) {
        ShowWarning("Please OK or Cancel Process Options");
        return;
    }
    if (gUiState.advancedOpen) {
        ShowWarning("Please OK or Cancel Advanced Options");
        return;
    }
    if (gUiState.ntscPalOpen) {
        ShowWarning("Please OK or Cancel PAL/NTSC Options");
        return;
    }
    StartProcessingThread();
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

Movie CMovieWindow::GetMovie()
{
    return movie;
}
char *CMovieWindow::GetMoviePath()
{
    return moviePath;
}

// The operations below belong to the movie object's viewing, saving and pass work; they do
// nothing until that work is joined.
void CMovieWindow::FitWindow() {}
void CMovieWindow::NewMovie() {}
void CMovieWindow::SaveAs() {}
void CMovieWindow::ExportMovie() {}
int CMovieWindow::IsPlayerEvent(MovieWindowHandle, unsigned, uintptr_t, intptr_t)
{
    return 0;
}
int CMovieWindow::AttachWindow(MovieWindowHandle view, MovieWindowCreateRecord *)
{
    if (view) {
        viewWindow = view;
    }
    return 0;
}
void CMovieWindow::DetachWindow()
{
    CloseMovie();
}
void CMovieWindow::CreateController(Movie) {}
void CMovieWindow::ProcessAviMovie() {}
void CMovieWindow::ProcessAviFrames() {}
void CMovieWindow::ProcessFramesOneToOne() {}
void CMovieWindow::CopySoundTrack() {}
int CMovieWindow::BeginSoundTrack(Movie, Movie, Track, int)
{
    return 0;
}
void CMovieWindow::EndSoundTrack() {}
void CMovieWindow::ProcessFramesRepulldown() {}
void CMovieWindow::UpdateTitle() {}
int CMovieWindow::GetFrameWidth()
{
    return 0;
}
int CMovieWindow::GetCaptionHeight()
{
    return 0;
}
int CMovieWindow::GetTitleBarHeight()
{
    return 0;
}
void CMovieWindow::GetDesktopRect() {}
