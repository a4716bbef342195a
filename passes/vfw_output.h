#pragma once

#include <cstdint>

// Video for Windows output and the decompressor of AVI sources read by the own reader, as the
// passes call them. Until the compressor registry is joined, compression is refused with a message
// and only uncompressed AVI sources can be decoded.

// Chooses the compressor (first movie of a run) and writes the AVI header. 1 ready, 0 failed or
// cancelled (a failure was shown; a cancel was not).
int BeginAviVideoCompression(const char *path, uint32_t totalFrames, uint32_t scale, uint32_t rate);
// Compresses one bottom-up B,G,R frame (output size) and writes it; the bytes written, 0 failed.
int CompressAviFrame(const uint8_t *bits);
// Ends the compression of the movie; nothing when none is open.
void EndAviVideoCompression();

// The source decompressor for AVI files read by the own reader. 1 ready, 0 not available.
int OpenVfwDecompressor();
// Decodes one frame into out (bottom-up B,G,R,X, width x height x 4). 1 ok, 0 failed.
int VfwDecompressFrame(const uint8_t *data, int size, uint8_t *out);
void CloseVfwDecompressor();
