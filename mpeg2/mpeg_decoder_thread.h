#pragma once

#include <cstdint>

// The one MPEG-2 decoder thread and the operations that open, play, pause, seek, process and
// stop an MPEG-2 file. Called on the GUI thread (player controls, progress dialog) or the
// processing thread; the decoder thread polls MpegDecoderControl.

// Stops any run, opens path as file 0 and starts a run that shows the first I picture (after
// counting the pictures when MpegDecoderControl::pictureCount is 0). "Could not open file" or
// "Could not create MPEG2 process" through ShowError on failure.
void OpenMpegAndStartDecoder(const char *path);
// Toggles pause of a running decoder; otherwise starts a whole-file run (play, processing).
void StartOrPauseMpegDecoding();
// Takes the player slider's percentage: stops a running decoder, else starts a run there.
void SeekMpegToSlider();
// Stops and joins the decoder thread; nothing when no file is open or no thread runs.
void StopMpegDecoder();
// The same without a word: processing the user started takes the stream from its player (a
// preview still decoding, or paused) at once.
void EndMpegDecoding();
// Forgets file 0 (closes it): the movie object closed the movie.
void ResetMpegInputFile();
int IsMpegDecoderRunning();
// MpegStreamInfo::frameRate of the open stream, frames/s (0 before a sequence extension).
double MpegFrameRate();
void ClearSequenceSeen();
// Processing mode of the next run from the conversion state and options: 9 PAL-family source,
// 4 60i to 25P, 5 3:2 pulldown removal, 6 2:3:3:2 pulldown removal. Returns 1.
int SelectProcessingModeForMpeg();

// Thread side. After the first sequence header of a run's start-up: geometry, buffers (once per
// process), preview window size.
void InitDecoderFrames();
// Fatal end of the decoder thread after the caller ran CloseOutputs: processingMode 0, preview
// frame number 0, running 0. Does not return: it unwinds to the thread function.
[[noreturn]] void ExitMpegDecoderThread();
// The thread function (argument ignored).
void MpegDecoderThread(void *);
