#pragma once

#include <atomic>

// One processing run is shared by the processing thread and its passes, the progress dialog's
// buttons (GUI thread), the main frame's 1-second timer and the MPEG-2 decoder thread. Nothing is
// locked: each field has one writer at a time and the readers poll. Plain flags use relaxed
// order; reopenPath is published by reopenPending (written first, then the flag stored with
// release; the timer loads the flag with acquire before it reads the path).
struct ProcessControl
{
    // --- written by the processing thread, polled by the timer and the players ---
    std::atomic<int> running{0};               // 1 from the thread's first step to its last
    std::atomic<int> batchRunning{0};          // set by Start Batch; warnings are not shown
    std::atomic<int> reopenPending{0};         // reopenPath waits to be opened (release/acquire)
    std::atomic<int> openedAfterProcessing{0}; // the next open is the reopening of a result
    std::atomic<int> passesLeft{0};            // 1, or 2 for the two-pass pulldown analysis

    // --- set by the user (progress dialog) or by an error, polled between frames ---
    std::atomic<int> stopRequested{0}; // Stop, Cancel, or a cancelled compression dialog
    std::atomic<int> paused{0};        // Pause/Resume toggles it; ProcessYield waits on it
    std::atomic<int> errorShown{0};    // ShowError ran; cleared once per run

    // --- progress convention of the passes ---
    std::atomic<int> progressPercent{0}; // 0..100
    char progressText[100] = {};         // written by the processing thread only

    char reopenPath[256] = {}; // at most 255 characters; see reopenPending
};

extern ProcessControl gProcessControl;

// Sets errorShown, hides the progress dialog and shows text in an OK box (in a batch too, so a
// batch waits at every error). Texts longer than 255 characters are cut.
void ShowError(const char *text);
// Appends "\nPress OK to continue." and shows text in an OK box, except while a batch runs.
// Leaves errorShown alone.
void ShowWarning(const char *text);
// err is a media-layer result (16-bit signed). 0: returns 0, shows nothing. Otherwise shows
// "<name>, err# <err>" through ShowError and returns 1; callers return at once.
int CheckQtError(int err, const char *name);
// The per-frame yield of every pass: returns at once unless paused; while paused and no stop is
// requested it waits, and Resume or Stop (which wake waiters) end the wait at once.
void ProcessYield();

// Progress convention: stores text (cut to 99 characters) and percent in ProcessControl and
// passes them to SetProgress.
void ReportProgress(const char *text, int percent);

// Publishes path as the result the timer opens: copies it into reopenPath, sets
// openedAfterProcessing and then releases reopenPending. A path that does not fit is refused
// (false, nothing published).
bool RequestReopen(const char *path);
// For the timer: when a result waits, copies it into out (256 bytes), clears reopenPending and
// returns true.
bool TakeReopenPath(char (&out)[256]);
