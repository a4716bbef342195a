#pragma once

#include <cstdint>

#include "platform/vfw/vfw.h"

// AVI output through a compressor the user chooses ("User selects compression"), or as
// uncompressed RGB24 frames when the user picks "Full Frames (Uncompressed)". The choice is made
// once per single movie or batch (the first movie's) and kept for the later movies of a batch.
// Used on the processing thread only (and the MPEG-2 output stage, which runs while it waits).
struct VfwOutputState
{
    COMPVARS compressorVars{};      // hic: the open compressor or null; fccHandler: the chosen code
    BITMAPINFOHEADER inputFormat{}; // bottom-up RGB24 frames of the output frame size
    // The compressor's output format (malloc), outputFormatBytes large; grown when a later movie's
    // format needs more; kept for the run.
    BITMAPINFOHEADER *outputFormat = nullptr;
    uint32_t outputFormatBytes = 0;
    int isCindrellCodec = 0; // the chosen code is 'cind'
    DWORD chosenHandler = 0; // code chosen in the dialog (read by ProcessMovie)
    // The dialog was answered in this run (cleared when a run starts): later movies reuse the
    // choice, also when the first line of a batch never reached the dialog.
    int compressorChosen = 0;
};

extern VfwOutputState gVfwOutputState;

// Chooses the compressor (the first movie of a run that needs one), sets up the formats, begins
// compression and writes the AVI header through the AVI writer. scale and rate: the output frame
// rate. 1 ready, 0 cancelled (no message; the caller tells the user) or failed (the user was told).
int BeginAviVideoCompression(const char *path, uint32_t totalFrames, uint32_t scale, uint32_t rate);
// Compresses one bottom-up B, G, R frame of the output frame size (width x height x 3 bytes) and
// writes it as the next video chunk. Bytes written; 0 when the frame could not be compressed
// (nothing is written then).
uint32_t CompressAviFrame(const void *bits);
// Ends compression and closes the compressor; nothing when none is open.
void EndAviVideoCompression();

// The source decompressor for AVI files read by the own reader, from the video format the open
// copied (the writer's header has replaced the reader's by the time a pass runs), for frames of
// the source size width x height. 1 ready (uncompressed sources need none), 0 when no
// decompressor takes the movie.
int OpenVfwDecompressor(int width, int height);
// Decodes one frame of size bytes into out: bottom-up B,G,R,X, width x height x 4. 1 ok, 0 failed.
int VfwDecompressFrame(const uint8_t *data, int size, uint8_t *out);
void CloseVfwDecompressor();
