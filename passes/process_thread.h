#pragma once

// The worker of one processing run: the movie open in the movie object (single run) or every
// line of the batch list (batch run, ProcessControl::batchRunning set). One runs at a time.

// Thread entry; ignores its parameter, returns 0.
unsigned ProcessThreadProc(void *);

// Starts ProcessThreadProc on its own thread with an 8 MB stack. false when a processing
// thread still runs, no movie object exists (gMovieWindow) or the thread could not be created.
bool StartProcessThread();
// true from StartProcessThread until ProcessThreadProc has returned.
bool ProcessThreadActive();
// Waits for the processing thread to end and joins it. A caller on the GUI thread passes a pump
// that handles queued calls (the thread's message boxes), so neither side can block the other.
void WaitForProcessThread(void (*pump)() = nullptr);
