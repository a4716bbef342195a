#pragma once

#include "platform/media/media_types.h"

// Video sample times of a movie open through the media layer, used by the processing and the
// open.

// Start of the first video sample (searched backwards from 0, a sample at 0 counts).
TimeValue FirstVideoSampleTime(Movie movie);
// Start of the next video sample strictly after time; negative when there is none.
TimeValue NextVideoSampleTime(Movie movie, TimeValue time);
// Media time of the next sample of media strictly after time; below 1 when there is none.
TimeValue NextTrackSampleTime(Media media, TimeValue time);

// Sizes the frame store can hold for a source of the given family (NTSC-family frames below
// 576 lines are converted to 576 in place): false when the frame must be refused.
bool FrameFitsStore(int width, int height, bool ntscFamily);

// The start of a processing run: the compression choices of the run's first movie (the media
// layer's dialog and the AVI compressor) are asked for again by the next movie that needs one.
void StartProcessingRun();
