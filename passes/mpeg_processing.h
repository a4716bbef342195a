#pragma once

#include "platform/media/media_types.h"

class CMovieWindow;

// The MPEG-2 steps of CMovieWindow::ProcessMovie: the decoder thread pushes every picture through
// the output stage, so this side only sets the stage up, prepares the sound and runs the passes.
// Processing thread only.

// Points the MPEG-2 input's upward hooks (messages, progress, process control, conversion state)
// at the passes. Called by InstallPassesHooks.
void InstallMpegProcessingHooks();

// Source set-up: waits for the decoder thread to stop, chooses the processing mode, the sound
// samples per picture, the SD flags and the output size. width and height get the picture's size.
// 1 ok, 0 refused (shown).
int SetUpMpegSource(int *width, int *height);

// The stage's DV flag and size after the AVI writer chose its output.
void SetMpegOutputTarget();

// Transport streams: extracts the audio to folder + "temp.mp2", decodes it to "temp.aiff" and
// arms its sound track for copying. *soundMovie gets the movie made from "temp.aiff" (the caller
// disposes it after the sound track is ended), *soundTrack its track; *soundMark is 1 when the
// extraction failed. Program streams: the mark is 1 (the decoder brings the sound).
void PrepareMpegSound(CMovieWindow &window, const char *folder, Movie outputMovie,
                      Movie *soundMovie, Track *soundTrack, int *soundMark);

// The video: the output track or picture, then one decoder run per pass while passes are left
// and nothing stopped the run, then the track or picture is closed. 1 ok, 0 failed (shown).
int MakeMpegVideo(Movie outputMovie, int width, int height);
