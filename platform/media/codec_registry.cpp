#include "platform/media/codec_registry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/media/gworld.h"
#include "platform/media/image_compression.h"
#include "platform/media/internal/codec_picture.h"
#include "platform/sys/bytes.h"

namespace lc::media {
namespace {

// Encoders in the order the chooser lists them: own codecs first.
constexpr CodecSpec kCodecs[] = {
    {FourCC("raw "), CodecFamily::Uncompressed, "None (RGB 24-bit)", true, 24},
    {FourCC("2vuy"), CodecFamily::Uncompressed, "Component Y'CbCr 4:2:2 (2vuy)", true, 24},
    {FourCC("yuvs"), CodecFamily::Uncompressed, "Component Y'CbCr 4:2:2 (yuvs)", true, 24},
    {FourCC("dvc "), CodecFamily::Dv, "DV - NTSC", true, 24},
    {FourCC("dvcp"), CodecFamily::Dv, "DV - PAL", true, 24},
    {FourCC("dv5n"), CodecFamily::Dv, "DVCPRO50 - NTSC", true, 24},
    {FourCC("dv5p"), CodecFamily::Dv, "DVCPRO50 - PAL", true, 24},
    {FourCC("dvh6"), CodecFamily::Dv, "DVCPRO HD 1080i60", true, 24},
    {FourCC("dvh5"), CodecFamily::Dv, "DVCPRO HD 1080i50", true, 24},
    {FourCC("dvhp"), CodecFamily::Dv, "DVCPRO HD 720p60", true, 24},
    {FourCC("AVd1"), CodecFamily::Dv, "DV100 (DVCPRO HD)", true, 24},
    {FourCC("jpeg"), CodecFamily::Jpeg, "Photo - JPEG", true, 24},
};

// Exact frames of the DV family: the size a caller compresses (shown or coded) and the frame.
constexpr DvFormat kDvFormats[] = {
    {FourCC("dvc "), 720, 480, 120000, 720, 480, DvSampling::S411, 30000, 1001},
    {FourCC("dvc "), 720, 486, 120000, 720, 480, DvSampling::S411, 30000, 1001, kNtsc486CropTop},
    {FourCC("dvcp"), 720, 576, 144000, 720, 576, DvSampling::S420, 25, 1},
    {FourCC("dv5n"), 720, 480, 240000, 720, 480, DvSampling::S422, 30000, 1001},
    {FourCC("dv5n"), 720, 486, 240000, 720, 480, DvSampling::S422, 30000, 1001, kNtsc486CropTop},
    {FourCC("dv5p"), 720, 576, 288000, 720, 576, DvSampling::S422, 25, 1},
    {FourCC("dvh6"), 1920, 1080, 480000, 1280, 1080, DvSampling::S422, 30000, 1001},
    {FourCC("dvh6"), 1280, 1080, 480000, 1280, 1080, DvSampling::S422, 30000, 1001},
    {FourCC("dvh5"), 1920, 1080, 576000, 1440, 1080, DvSampling::S422, 25, 1},
    {FourCC("dvh5"), 1440, 1080, 576000, 1440, 1080, DvSampling::S422, 25, 1},
    {FourCC("dvhp"), 1280, 720, 240000, 960, 720, DvSampling::S422, 60000, 1001},
    {FourCC("dvhp"), 960, 720, 240000, 960, 720, DvSampling::S422, 60000, 1001},
    // 'AVd1' carries every DVCPRO HD kind; 1920 x 1080 compresses as 1080i60, the coded
    // 1440-wide size as 1080i50, and 720-line pictures as 720p60.
    {FourCC("AVd1"), 1920, 1080, 480000, 1280, 1080, DvSampling::S422, 30000, 1001},
    {FourCC("AVd1"), 1280, 1080, 480000, 1280, 1080, DvSampling::S422, 30000, 1001},
    {FourCC("AVd1"), 1440, 1080, 576000, 1440, 1080, DvSampling::S422, 25, 1},
    {FourCC("AVd1"), 1280, 720, 240000, 960, 720, DvSampling::S422, 60000, 1001},
    {FourCC("AVd1"), 960, 720, 240000, 960, 720, DvSampling::S422, 60000, 1001},
};

// Frames 'AVd1' decodes beside those it compresses: 720p50.
constexpr int32_t kAvd1ExtraFrameBytes = 288000;

} // namespace

const CodecSpec *FindCodecSpec(OSType cType)
{
    for (const CodecSpec &c : kCodecs) {
        if (c.cType == cType) {
            return &c;
        }
    }
    return nullptr;
}

const DvFormat *FindDvFormat(OSType cType, int width, int height)
{
    for (const DvFormat &f : kDvFormats) {
        if (f.cType == cType && f.width == width && f.height == height) {
            return &f;
        }
    }
    return nullptr;
}

bool IsDvFrameBytes(OSType cType, int32_t bytes)
{
    if (cType == FourCC("AVd1") && bytes == kAvd1ExtraFrameBytes) {
        return true;
    }
    for (const DvFormat &f : kDvFormats) {
        if (f.cType == cType && f.frameBytes == bytes) {
            return true;
        }
    }
    return false;
}

OSErr ReadImageDescription(ImageDescriptionHandle desc, ImageDescription *out)
{
    *out = ImageDescription{};
    const int32_t bytes = desc ? GetHandleSize(reinterpret_cast<Handle>(desc)) : 0;
    if (!desc || !*desc || bytes < kImageDescriptionBytes) {
        return paramErr;
    }
    std::memcpy(out, *desc, std::min<size_t>(size_t(bytes), sizeof *out));
    return noErr;
}

int FormatBytesPerPixel(OSType format)
{
    switch (format) {
    case k24RGBPixelFormat:
        return 3;
    case k32ARGBPixelFormat:
        return 4;
    case kYUVSPixelFormat:
    case k2vuyPixelFormat:
        return 2;
    default:
        return 0;
    }
}

OSErr DecodeSample(const ImageDescription &desc, const uint8_t *data, int32_t size,
                   const PictureView &dst)
{
    if (!data || size <= 0) {
        return codecBadDataErr;
    }
    if (desc.width <= 0 || desc.height <= 0 || desc.width > kMaxPictureSide
        || desc.height > kMaxPictureSide) {
        return codecSizeErr;
    }
    if (!dst.data || dst.width <= 0 || dst.height <= 0 || dst.width > kMaxPictureSide
        || dst.height > kMaxPictureSide) {
        return paramErr;
    }
    if (dst.format == k2vuyPixelFormat || FormatBytesPerPixel(dst.format) == 0) {
        return codecUnimpErr;
    }
    const CodecSpec *spec = FindCodecSpec(desc.cType);
    if (spec && spec->family == CodecFamily::Uncompressed) {
        return UncompressedDecode(desc.cType, data, size, desc.width, desc.height, dst);
    }
    if (spec && spec->family == CodecFamily::Dv && !IsDvFrameBytes(desc.cType, size)) {
        return codecBadDataErr;
    }
    if (!spec && !LibavHasIntraDecoder(desc.cType)) {
        return noCodecErr;
    }
    return LibavDecode(desc, data, size, dst);
}

} // namespace lc::media

using namespace lc::media;

int ListImageEncoders(CodecNameSpec *out, int capacity)
{
    int n = 0;
    for (const CodecSpec &c : kCodecs) {
        if (!c.canEncode) {
            continue;
        }
        if (out && n < capacity) {
            CodecNameSpec &e = out[n];
            e.cType = c.cType;
            std::snprintf(e.typeName, sizeof e.typeName, "%s", c.name);
            e.canEncode = true;
            e.canDecode = true;
        }
        n++;
    }
    return n;
}

bool HasImageEncoder(OSType cType)
{
    const CodecSpec *spec = FindCodecSpec(cType);
    return spec && spec->canEncode;
}

bool HasImageDecoder(OSType cType) { return FindCodecSpec(cType) || LibavHasIntraDecoder(cType); }

int32_t DvFrameBytes(OSType cType, int width, int height)
{
    const DvFormat *f = FindDvFormat(cType, width, height);
    return f ? f->frameBytes : 0;
}

OSErr DecodeSampleToRgb24(const uint8_t *data, long size, ImageDescriptionHandle desc, uint8_t *rgb,
                          ptrdiff_t rowBytes, int width, int height)
{
    ImageDescription d{};
    OSErr err = ReadImageDescription(desc, &d);
    if (err == noErr && (!rgb || width <= 0 || height <= 0 || rowBytes < ptrdiff_t(width) * 3
                         || size <= 0 || size > INT32_MAX)) {
        err = paramErr;
    }
    if (err == noErr) {
        PictureView dst{rgb, rowBytes, width, height, k24RGBPixelFormat};
        err = DecodeSample(d, data, int32_t(size), dst);
    }
    SetMoviesError(err);
    return err;
}
