#pragma once

#include <cstdint>

#include "formats/mxf_clip_state.h"

// Camera-card MXF files: one video file of clip-wrapped DV-DIF essence and one AES3 audio file
// per channel, read as KLV triplets up to the first essence element.

enum MxfOpenResult : int {
    MxfNoEssence = 0, // no essence element, or the file cannot be opened
    MxfVideoFile = 1,
    MxfAudioFile = 2,
};

// Parses path up to its first essence element. Out-arguments are written only for the items
// found; a video file's frameRate also sets ConversionState::frameRate (rounded). A video file's
// rate other than 0 (unknown) and those of MxfIsRealFrameRate counts as not found. The parsed file
// stays open as gMxfClipState.parseFd (closed again without essence); an audio file is also
// recorded.
int MxfOpen(const char *path, uint64_t *duration, int *height, int *width, int *quantBits,
            float *frameRate, int *frameBytes, float *aspect);
// True for the frame rates clips are recorded at (23.976, 24, 25, 29.97, 30, 50, 59.94, 60).
bool MxfIsRealFrameRate(float framesPerSecond);
// Closes parseFd (and forgets it wherever it was recorded).
void MxfClose();
// Closes the audio file recorded last, when there is one.
void MxfCloseAudio();
// Decodes compressed frame frameIndex of the video essence into output: width x height 24-bit
// pixels (blue, green, red), rows bottom-up, width x 3 bytes a row. mode goes to the Cindrell
// decoder (0 fast, 1 full). A frame past the essence leaves output as it was.
void MxfDecodeFrameAt(int frameIndex, int width, int height, uint8_t *output, int mode);

// KLV helpers on parseFd. MxfReadKey: true when 16 bytes came and they start 06 0E.
bool MxfReadKey();
// The BER length that follows; UINT64_MAX on error (shown).
uint64_t MxfReadBerLength();
