#pragma once

#include <cstdint>

#include "mpeg2/mpeg_picture_output.h"

// Joins the output stage to the decoder: the stage's decoder link points at MpegStreamInfo,
// MpegDecoderControl and the preview frame number, and the decoder's picture sink at the stage
// (buffers, hand-over, close). Called once at start-up, before the first decoder run.
void InstallOutputStage();

// The stage's part of the decoder's hand-over (the picture sink's prepareFrame).
void PrepareStageFrame(const uint8_t *const planes[3], const MpegPictureRecord &record,
                       int pictureIndex);

// The audio part of the end of a final pass: what the sound retiming still holds for each AC-3
// track is written out, and the WAV files of the tracks and "decode.wav" get their headers and
// are forgotten.
void CloseMpegAudioTracks();
