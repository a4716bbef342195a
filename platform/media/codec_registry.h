#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/media/media_types.h"

// The codecs image compression offers, keyed by four-character code:
// - own uncompressed codecs, encode and decode: 'raw ' (24-bit R, G, B rows of width x 3 bytes),
//   '2vuy' (Cb Y0 Cr Y1) and 'yuvs' (Y0 Cb Y1 Cr), rows of width x 2 bytes;
// - the DV family through libavcodec, encode and decode, at exact frame sizes only:
//   'dvc ' 720x480 120000 bytes, 'dvcp' 720x576 144000, 'dv5n' 720x480 240000,
//   'dv5p' 720x576 288000, DVCPRO HD 'dvh6' 1920x1080 480000, 'dvh5' 1920x1080 576000,
//   'dvhp' 1280x720 240000, and 'AVd1' any of those three at its own size;
// - JPEG ('jpeg', 'mjpa'), encode and decode through libavcodec;
// - decode only: every other intra-only codec libavcodec has under a QuickTime code.
// Long-GOP codecs are not offered: callers decode single samples out of order.

struct CodecNameSpec
{
    OSType cType;
    char typeName[32];  // C string, as shown in the compression chooser
    bool canEncode;
    bool canDecode;
};

// Fills out with up to capacity entries (encoders only when encodersOnly) in a fixed order,
// own codecs first; returns how many there are in all (may exceed capacity).
int ListImageCodecs(CodecNameSpec *out, int capacity, bool encodersOnly);

bool HasImageEncoder(OSType cType);
bool HasImageDecoder(OSType cType);

// Exact compressed frame size of a DV-family code at width x height; 0 when the code is not DV
// or does not take that size.
int32_t DvFrameBytes(OSType cType, int width, int height);

// Decodes one video sample into top-down R, G, B rows (width x height pixels, rowBytes apart),
// scaling the picture to that size. For the movie controller's frame at a time.
// Results as DecompressImage.
OSErr DecodeSampleToRgb24(const uint8_t *data, int32_t size, const ImageDescription *desc,
                          uint8_t *rgb, ptrdiff_t rowBytes, int width, int height);
