#pragma once

#include <cstddef>
#include <cstdint>

#include "passes/source_kind.h"
#include "platform/media/media_types.h"

// A window of the windowing layer, as the movie object stores it; opaque here.
using MovieWindowHandle = void *;

// The view's creation record, of which the movie object sets the initial size.
struct MovieWindowCreateRecord
{
    int width = 0;
    int height = 0;
};

// The movie object: one instance, made by the view's constructor and deleted by its destructor,
// reached through gMovieWindow. It owns the movie the main window shows, the windows it draws
// into and the movie's path and folder. Called from the GUI thread and, for OpenMovie,
// GetMoviePath and the processing operations, from the processing thread; nothing is locked.
//
// The virtual operations keep a fixed order (slots 0 to 32). Operations marked "unused" are
// called by no path; their places stay.
class CMovieWindow
{
public:
    CMovieWindow();
    CMovieWindow(const CMovieWindow &) = delete;
    CMovieWindow &operator=(const CMovieWindow &) = delete;

    virtual int OpenMovie(const char *path); // 0: 1 opened (or queued to the batch), 0 failed
    virtual void FitWindow();                // 1
    virtual void CloseMovie();               // 2
    virtual void NewMovie();                 // 3
    virtual void SaveAs();                   // 4
    virtual void ExportMovie();              // 5
    virtual int IsPlayerEvent(MovieWindowHandle window, unsigned message, uintptr_t wParam,
                              intptr_t lParam);                                        // 6
    virtual int AttachWindow(MovieWindowHandle view, MovieWindowCreateRecord *record); // 7: 0
    virtual void DetachWindow();                                                       // 8
    virtual void CreateController(Movie movie);                                        // 9
    virtual void StartProcess();                                                       // 10
    virtual void ProcessMovie();                                                       // 11
    virtual void ProcessAviMovie();                                                    // 12 unused
    // 13: 1 done, 0 failed. sourceMedia is null for sources read by the own AVI reader.
    virtual int MakeVideoTrack(Movie outputMovie, Media sourceMedia, int width, int height);
    virtual void ProcessAviFrames();      // 14 unused
    virtual void ProcessFramesOneToOne(); // 15 unused
    virtual void CopySoundTrack();        // 16 unused
    // 17: the output sound track of QuickTime output (BeginOutputSoundTrack): 1 done, 0 failed
    // (shown). soundTrack is the source's sound track; a source whose sound comes by another road
    // passes a null track and a non-zero soundMark.
    virtual int BeginSoundTrack(Movie outputMovie, Movie sourceMovie, Track soundTrack,
                                int soundMark);
    virtual void EndSoundTrack(); // 18: closes that track (EndOutputSoundTrack)
    // 19, 20: 1 done, 0 failed. For AVI output the first two are not used.
    virtual int ProcessFramesTo25p(Media outputMedia, Track outputTrack, Media sourceMedia,
                                   const Rect *frame);
    virtual int ProcessFramesPalToNtsc(Media outputMedia, Track outputTrack, Media sourceMedia,
                                       const Rect *frame);
    virtual void ProcessFramesRepulldown();          // 21 unused
    virtual void UpdateTitle();                      // 22
    virtual void GetFileName(char *out, size_t cap); // 23: the path after its last "/"
    virtual void GetAppName(char *out, size_t cap);  // 24: left alone when the name is empty
    virtual void CToPascalString(char *text);        // 25: in place, at most 255 characters
    virtual void PascalToCString(char *text);        // 26: in place
    virtual int GetFrameWidth();                     // 27
    virtual int GetCaptionHeight();                  // 28
    virtual int GetTitleBarHeight();                 // 29
    virtual void GetDesktopRect();                   // 30 unused
    virtual Movie GetMovie();                        // 31
    virtual char *GetMoviePath();                    // 32: the movie-path buffer (256 bytes)

    virtual ~CMovieWindow();

    // Sets the movie path and the movie folder (the path up to and including its last "/").
    // A path longer than 255 characters is refused: false, both left empty.
    bool SetMoviePath(const char *path);

    char appName[128] = {};     // the application's name, set by the view's creation handler
    char movieFolder[256] = {}; // ends with "/"
    int isOpen = 0;             // 1 while a movie is open
    Movie movie = nullptr;
    MovieController controller = nullptr;
    Rect movieBox; // the movie's box moved to the origin
    char moviePath[256] = {};
    MovieWindowHandle parentWindow = nullptr; // the main frame
    MovieWindowHandle viewWindow = nullptr;   // the view
};

// The one movie object; null while no view exists.
extern CMovieWindow *gMovieWindow;
