#pragma once

// Joins the output stage to the decoder: the stage's decoder link points at MpegStreamInfo,
// MpegDecoderControl and the preview frame number, and the decoder's picture sink at the stage
// (buffers, hand-over, close). Called once at start-up, before the first decoder run.
void InstallOutputStage();

// The audio part of the end of a final pass: what the sound retiming still holds for each AC-3
// track is written out, and the WAV files of the tracks and "decode.wav" get their headers and
// are forgotten.
void CloseMpegAudioTracks();
