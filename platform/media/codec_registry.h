#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/media/media_types.h"

// The codecs image compression offers, keyed by four-character code:
// - own uncompressed codecs, encode and decode: 'raw ' (24-bit R, G, B rows of width x 3 bytes),
//   '2vuy' (Cb Y0 Cr Y1) and 'yuvs' (Y0 Cb Y1 Cr), rows of whole pixel pairs (4 bytes a pair);
// - the DV family through libavcodec, encode and decode, at exact frame sizes only:
//   'dvc ' 720x480 120000 bytes, 'dvcp' 720x576 144000, 'dv5n' 720x480 240000,
//   'dv5p' 720x576 288000 (the two NTSC codes also take 720x486, keeping lines 4..483);
//   DVCPRO HD at the shown or the coded width: 'dvh6' 1920 or 1280 x 1080 480000,
//   'dvh5' 1920 or 1440 x 1080 576000, 'dvhp' 1280 or 960 x 720 240000, and 'AVd1' any of
//   them (1920 x 1080 as 1080i60; decoding also takes 720p50 frames of 288000 bytes);
// - JPEG ('jpeg') through libavcodec, encode and decode;
// - decode only: every other intra-only codec libavcodec has under a QuickTime code.
// Long-GOP codecs are not offered: callers decode single samples out of order.

struct CodecNameSpec
{
    OSType cType;
    char typeName[32];  // C string, as shown in the compression chooser
    bool canEncode;
    bool canDecode;
};

// Fills out with up to capacity encoders in a fixed order, own codecs first; returns how many
// there are in all (may exceed capacity).
int ListImageEncoders(CodecNameSpec *out, int capacity);

bool HasImageEncoder(OSType cType);
bool HasImageDecoder(OSType cType);

// Exact compressed frame size of a DV-family code at width x height; 0 when the code is not DV
// or does not take that size.
int32_t DvFrameBytes(OSType cType, int width, int height);

// Decodes one video sample of size bytes into top-down R, G, B rows (width x height pixels,
// rowBytes apart), scaling the picture to that size: the movie controller's frame decoder.
// Results as DecompressImage.
OSErr DecodeSampleToRgb24(const uint8_t *data, long size, ImageDescriptionHandle desc, uint8_t *rgb,
                          ptrdiff_t rowBytes, int width, int height);

// Makes DecodeSampleToRgb24 the movie controller's frame decoder (SetMovieFrameDecoder); called
// once at start-up, after which the controller draws frames through this registry.
void InstallMovieFrameDecoder();
