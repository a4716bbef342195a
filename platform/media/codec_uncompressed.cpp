// Our own uncompressed codecs, and the exact pixel copies between packed formats.

#include <cstring>

#include "platform/media/gworld.h"
#include "platform/media/image_compression.h"
#include "platform/media/internal/codec_picture.h"
#include "platform/sys/bytes.h"

namespace lc::media {
namespace {

bool IsYuv(OSType f) { return f == kYUVSPixelFormat || f == k2vuyPixelFormat; }
bool IsRgb(OSType f) { return f == k24RGBPixelFormat || f == k32ARGBPixelFormat; }

// Sample rows as movies store them: 'raw ' rows of exactly width x 3 bytes (a writer may pad the
// frame, never a row), 4:2:2 rows holding whole pixel pairs.
ptrdiff_t SampleRowBytes(OSType cType, int width)
{
    if (cType == FourCC("raw ")) {
        return ptrdiff_t(width) * 3;
    }
    return (ptrdiff_t(width) + 1) / 2 * 4;
}

OSType SampleFormat(OSType cType)
{
    if (cType == FourCC("raw ")) {
        return k24RGBPixelFormat;
    }
    return cType == FourCC("2vuy") ? k2vuyPixelFormat : kYUVSPixelFormat;
}

void CopyRgbRow(const uint8_t *s, OSType sf, uint8_t *d, OSType df, int width)
{
    if (sf == df) {
        std::memcpy(d, s, size_t(width) * size_t(FormatBytesPerPixel(sf)));
    } else if (sf == k24RGBPixelFormat) {
        for (int x = 0; x < width; x++, s += 3, d += 4) {
            d[0] = 0xff;
            d[1] = s[0];
            d[2] = s[1];
            d[3] = s[2];
        }
    } else {
        for (int x = 0; x < width; x++, s += 4, d += 3) {
            d[0] = s[1];
            d[1] = s[2];
            d[2] = s[3];
        }
    }
}

// 'yuvs' holds each pixel as luma then chroma, '2vuy' as chroma then luma: a swap per pixel.
void CopyYuvRow(const uint8_t *s, OSType sf, uint8_t *d, OSType df, int width)
{
    if (sf == df) {
        std::memcpy(d, s, size_t(width) * 2);
        return;
    }
    for (int x = 0; x < width; x++, s += 2, d += 2) {
        d[0] = s[1];
        d[1] = s[0];
    }
}

} // namespace

bool ConvertPicture(const PictureView &src, const PictureView &dst)
{
    const bool sameFamily = (IsRgb(src.format) && IsRgb(dst.format))
                            || (IsYuv(src.format) && IsYuv(dst.format));
    if (!sameFamily || src.width != dst.width || src.height != dst.height) {
        return ScalePicture(src, dst);
    }
    for (int y = 0; y < src.height; y++) {
        const uint8_t *s = src.data + y * src.rowBytes;
        uint8_t *d = dst.data + y * dst.rowBytes;
        if (IsRgb(src.format)) {
            CopyRgbRow(s, src.format, d, dst.format, src.width);
        } else {
            CopyYuvRow(s, src.format, d, dst.format, src.width);
        }
    }
    return true;
}

int32_t UncompressedSampleBytes(OSType cType, int width, int height)
{
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide) {
        return 0;
    }
    return int32_t(SampleRowBytes(cType, width) * height);
}

OSErr UncompressedDecode(OSType cType, const uint8_t *data, int32_t size, int width, int height,
                         const PictureView &dst)
{
    const int32_t need = UncompressedSampleBytes(cType, width, height);
    if (need == 0) {
        return codecSizeErr;
    }
    if (size < need) {
        return codecBadDataErr;
    }
    // The view is only read from.
    PictureView src{const_cast<uint8_t *>(data), SampleRowBytes(cType, width), width, height,
                    SampleFormat(cType)};
    return ConvertPicture(src, dst) ? noErr : codecErr;
}

OSErr UncompressedEncode(OSType cType, const PictureView &src, uint8_t *out, int32_t *size)
{
    const int32_t bytes = UncompressedSampleBytes(cType, src.width, src.height);
    if (bytes == 0) {
        return codecSizeErr;
    }
    std::memset(out, 0, size_t(bytes)); // the pad pixel of odd 4:2:2 rows
    PictureView dst{out, SampleRowBytes(cType, src.width), src.width, src.height,
                    SampleFormat(cType)};
    if (!ConvertPicture(src, dst)) {
        return codecErr;
    }
    *size = bytes;
    return noErr;
}

} // namespace lc::media
