#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/media/media_types.h"

// What the codec files share: a view of packed pixels, the registry entry of a code, and the
// two codec families behind it (our own uncompressed codecs, libavcodec).

namespace lc::media {

// Packed top-down pixels in one of k24RGBPixelFormat, k32ARGBPixelFormat, kYUVSPixelFormat,
// k2vuyPixelFormat.
struct PictureView
{
    uint8_t *data = nullptr;
    ptrdiff_t rowBytes = 0;
    int width = 0;
    int height = 0;
    OSType format = 0;
};

int FormatBytesPerPixel(OSType format); // 0 for a format we do not hold in a view

// Largest picture side any codec call takes; bounds every buffer made from a description.
constexpr int kMaxPictureSide = 4096;

enum class CodecFamily
{
    Uncompressed, // our own
    Dv,           // libavcodec dvvideo at exact frame sizes
    Jpeg,         // libavcodec mjpeg
    OtherIntra,   // any other intra-only libavcodec decoder
};

struct CodecSpec
{
    OSType cType;
    CodecFamily family;
    const char *name;
    bool canEncode;
    int16_t depth; // depth written into descriptions
};

// The registry's own entries (not the other intra decoders); null when cType has none.
const CodecSpec *FindCodecSpec(OSType cType);

enum class DvSampling
{
    S411,
    S420,
    S422,
};

// One exact DV-family frame: the picture size callers give, the size libavcodec codes, the rate
// that picks the frame kind. A 486-line NTSC picture keeps its lines cropTop.. cropTop + 479.
struct DvFormat
{
    OSType cType;
    int width, height;
    int32_t frameBytes;
    int codedWidth, codedHeight;
    DvSampling sampling;
    int rateNum, rateDen;
    int cropTop = 0;
};
constexpr int kNtsc486CropTop = 4; // 4 lines above, 2 below: field order kept
const DvFormat *FindDvFormat(OSType cType, int width, int height);
bool IsDvFrameBytes(OSType cType, int32_t bytes); // a frame size this code decodes

// Copies the fixed part of a description out of its handle; paramErr for a null handle or one
// shorter than the fixed part.
constexpr int32_t kImageDescriptionBytes = 86; // the fixed part: every field, no tail padding
static_assert(offsetof(ImageDescription, clutID) + sizeof(int16_t) == kImageDescriptionBytes);
OSErr ReadImageDescription(ImageDescriptionHandle desc, ImageDescription *out);

// Same-size pixel copies between views, exact for same-family formats (RGB to RGB, YUV to YUV);
// any other pair or size goes through ScalePicture. False when the pair cannot be converted.
bool ConvertPicture(const PictureView &src, const PictureView &dst);

// Resizing and colour conversion between any two view formats (libswscale).
bool ScalePicture(const PictureView &src, const PictureView &dst);

// Uncompressed codecs: bytes of one sample, decode into dst (scaled to its size), encode src.
int32_t UncompressedSampleBytes(OSType cType, int width, int height);
OSErr UncompressedDecode(OSType cType, const uint8_t *data, int32_t size, int width, int height,
                         const PictureView &dst);
OSErr UncompressedEncode(OSType cType, const PictureView &src, uint8_t *out, int32_t *size);

// libavcodec codecs: decode a sample of the description's codec into dst (scaled to its size);
// encode src as cType (DV family or JPEG) at quality into out.
bool LibavHasIntraDecoder(OSType cType);
OSErr LibavDecode(const ImageDescription &desc, const uint8_t *data, int32_t size,
                  const PictureView &dst);
OSErr LibavEncode(OSType cType, const PictureView &src, uint32_t quality, uint8_t *out,
                  int32_t capacity, int32_t *size);
int32_t LibavMaxJpegBytes(int width, int height);

// Decode any registered or intra code into dst, checking the description and the size first.
OSErr DecodeSample(const ImageDescription &desc, const uint8_t *data, int32_t size,
                   const PictureView &dst);

} // namespace lc::media
