#include "platform/media/image_compression.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/media/codec_registry.h"
#include "platform/media/internal/codec_picture.h"

using namespace lc::media;

namespace {

OSErr Done(OSErr err)
{
    SetMoviesError(err);
    return err;
}

int RectWidth(const Rect &r) { return r.right - r.left; }
int RectHeight(const Rect &r) { return r.bottom - r.top; }

bool Inside(const Rect &r, const Rect &bounds)
{
    return r.left >= bounds.left && r.top >= bounds.top && r.right <= bounds.right
           && r.bottom <= bounds.bottom;
}

// The pixels of r (in the pixel map's coordinates, inside its bounds) as a view.
OSErr PixMapView(PixMapHandle pm, const Rect &r, PictureView *out)
{
    if (!pm || !*pm || !(**pm).baseAddr) {
        return paramErr;
    }
    const PixMap &p = **pm;
    const int bpp = PixMapBytesPerPixel(p);
    if (bpp == 0) {
        return codecUnimpErr;
    }
    const int rowBytes = p.rowBytes & kRowBytesMask;
    if (RectWidth(p.bounds) <= 0 || RectHeight(p.bounds) <= 0
        || rowBytes < RectWidth(p.bounds) * bpp) {
        return paramErr;
    }
    const int dx = r.left - p.bounds.left;
    // A 4:2:2 picture starts on a pixel pair.
    if (RectWidth(r) <= 0 || RectHeight(r) <= 0 || !Inside(r, p.bounds) || (bpp == 2 && (dx & 1))) {
        return paramErr;
    }
    out->data = reinterpret_cast<uint8_t *>(p.baseAddr) + ptrdiff_t(r.top - p.bounds.top) * rowBytes
                + ptrdiff_t(dx) * bpp;
    out->rowBytes = rowBytes;
    out->width = RectWidth(r);
    out->height = RectHeight(r);
    out->format = p.pixelFormat;
    return noErr;
}

bool PictureSizeOk(int width, int height)
{
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide;
}

void PutPascal(char (&dst)[32], const char *text)
{
    const size_t n = std::min<size_t>(std::strlen(text), sizeof dst - 1);
    dst[0] = char(n);
    std::memcpy(dst + 1, text, n);
}

void FillDescription(ImageDescription *d, const CodecSpec &spec, int width, int height,
                     CodecQ quality, int32_t dataSize)
{
    *d = ImageDescription{};
    d->idSize = kImageDescriptionBytes;
    d->cType = spec.cType;
    d->dataRefIndex = 0;
    d->version = 1;
    d->revisionLevel = 1;
    d->temporalQuality = 0;
    d->spatialQuality = quality;
    d->width = int16_t(width);
    d->height = int16_t(height);
    d->hRes = 72 << 16;
    d->vRes = 72 << 16;
    d->dataSize = dataSize;
    d->frameCount = 1;
    PutPascal(d->name, spec.name);
    d->depth = spec.depth;
    d->clutID = -1;
}

// The handle holds exactly the fixed part, as a description read from a file does: anything
// after it would be taken for extensions (those of a previous codec are dropped).
OSErr StoreDescription(ImageDescriptionHandle desc, const ImageDescription &d)
{
    Handle h = reinterpret_cast<Handle>(desc);
    SetHandleSize(h, kImageDescriptionBytes);
    if (MemError() != noErr) {
        return MemError();
    }
    std::memcpy(*desc, &d, size_t(kImageDescriptionBytes));
    return noErr;
}

// Largest sample of spec at width x height; 0 when the codec does not take that size.
int32_t MaxSampleBytes(const CodecSpec &spec, int width, int height)
{
    switch (spec.family) {
    case CodecFamily::Uncompressed:
        return UncompressedSampleBytes(spec.cType, width, height);
    case CodecFamily::Dv:
        return DvFrameBytes(spec.cType, width, height);
    case CodecFamily::Jpeg:
        return PictureSizeOk(width, height) ? LibavMaxJpegBytes(width, height) : 0;
    default:
        return 0;
    }
}

// Decodes into the target rectangle of dst, scaled to its size; what falls outside dst's bounds
// is cut off.
OSErr DecodeInto(const ImageDescription &d, const uint8_t *data, int32_t size, PixMapHandle dst,
                 const Rect &target)
{
    if (!dst || !*dst) {
        return paramErr;
    }
    const PixMap &p = **dst;
    const int bpp = PixMapBytesPerPixel(p);
    if (bpp == 0) {
        return codecUnimpErr;
    }
    if (!PictureSizeOk(RectWidth(target), RectHeight(target))) {
        return paramErr;
    }
    PictureView view;
    if (Inside(target, p.bounds)) {
        const OSErr err = PixMapView(dst, target, &view);
        return err != noErr ? err : DecodeSample(d, data, size, view);
    }
    std::vector<uint8_t> whole(size_t(RectWidth(target)) * size_t(RectHeight(target)) * size_t(bpp));
    PictureView full{whole.data(), ptrdiff_t(RectWidth(target)) * bpp, RectWidth(target),
                     RectHeight(target), p.pixelFormat};
    OSErr err = DecodeSample(d, data, size, full);
    if (err != noErr) {
        return err;
    }
    Rect shown{std::max(target.top, p.bounds.top), std::max(target.left, p.bounds.left),
               std::min(target.bottom, p.bounds.bottom), std::min(target.right, p.bounds.right)};
    if (bpp == 2) {
        shown.left = int16_t(shown.left + ((shown.left - target.left) & 1)); // whole pixel pairs
    }
    if (RectWidth(shown) <= 0 || RectHeight(shown) <= 0) {
        return noErr;
    }
    err = PixMapView(dst, shown, &view);
    if (err != noErr) {
        return err;
    }
    for (int y = 0; y < view.height; y++) {
        const uint8_t *s = full.data + ptrdiff_t(shown.top - target.top + y) * full.rowBytes
                           + ptrdiff_t(shown.left - target.left) * bpp;
        std::memcpy(view.data + y * view.rowBytes, s, size_t(view.width) * size_t(bpp));
    }
    return noErr;
}

} // namespace

OSErr GetMaxCompressionSize(PixMapHandle src, const Rect *srcRect, int16_t, CodecQ, CodecType cType,
                            CompressorComponent, int32_t *size)
{
    if (!size) {
        return Done(paramErr);
    }
    *size = 0;
    const CodecSpec *spec = FindCodecSpec(cType);
    if (!spec || !spec->canEncode) {
        return Done(noCodecErr);
    }
    const Rect *r = srcRect ? srcRect : (src && *src ? &(**src).bounds : nullptr);
    if (!r) {
        return Done(paramErr);
    }
    const int32_t bytes = MaxSampleBytes(*spec, RectWidth(*r), RectHeight(*r));
    if (bytes == 0) {
        return Done(codecSizeErr);
    }
    *size = bytes;
    return Done(noErr);
}

OSErr GetCodecInfo(CodecInfo *info, CodecType cType, CodecComponent)
{
    if (!info) {
        return Done(paramErr);
    }
    *info = CodecInfo{};
    const CodecSpec *spec = FindCodecSpec(cType);
    if (!spec && !HasImageDecoder(cType)) {
        return Done(noCodecErr);
    }
    char fallback[16];
    std::snprintf(fallback, sizeof fallback, "%c%c%c%c", char(cType >> 24), char(cType >> 16),
                  char(cType >> 8), char(cType));
    PutPascal(info->typeName, spec ? spec->name : fallback);
    info->version = 1;
    info->revisionLevel = 1;
    info->decompressFlags = 1;
    info->compressFlags = spec && spec->canEncode ? 1 : 0;
    info->compressionAccuracy = 128;
    info->decompressionAccuracy = 128;
    info->minimumHeight = 1;
    info->minimumWidth = 1;
    return Done(noErr);
}

OSErr CompressImage(PixMapHandle src, const Rect *srcRect, CodecQ quality, CodecType cType,
                    ImageDescriptionHandle desc, Ptr data)
{
    const CodecSpec *spec = FindCodecSpec(cType);
    if (!spec || !spec->canEncode) {
        return Done(noCodecErr);
    }
    if (!src || !*src || !desc || !data) {
        return Done(paramErr);
    }
    const Rect r = srcRect ? *srcRect : (**src).bounds;
    PictureView view;
    OSErr err = PixMapView(src, r, &view);
    if (err != noErr) {
        return Done(err);
    }
    const int32_t capacity = MaxSampleBytes(*spec, view.width, view.height);
    if (capacity == 0) {
        return Done(codecSizeErr);
    }
    int32_t size = 0;
    uint8_t *out = reinterpret_cast<uint8_t *>(data);
    err = spec->family == CodecFamily::Uncompressed
              ? UncompressedEncode(cType, view, out, &size)
              : LibavEncode(cType, view, quality, out, capacity, &size);
    if (err != noErr) {
        return Done(err);
    }
    ImageDescription d;
    FillDescription(&d, *spec, view.width, view.height, quality, size);
    return Done(StoreDescription(desc, d));
}

OSErr DecompressImage(Ptr data, ImageDescriptionHandle desc, PixMapHandle dst, const Rect *srcRect,
                      const Rect *dstRect, int16_t mode, RgnHandle mask)
{
    ImageDescription d;
    OSErr err = ReadImageDescription(desc, &d);
    if (err != noErr) {
        return Done(err);
    }
    if (!PictureSizeOk(d.width, d.height)) {
        return Done(codecSizeErr);
    }
    if (!dst || !*dst || mode != srcCopy || mask) {
        return Done(paramErr);
    }
    if (srcRect && (srcRect->top != 0 || srcRect->left != 0 || srcRect->bottom != d.height
                    || srcRect->right != d.width)) {
        return Done(paramErr); // parts of a picture are not offered
    }
    const Rect &b = (**dst).bounds;
    const Rect target = dstRect ? *dstRect
                                : Rect{b.top, b.left, int16_t(b.top + d.height),
                                       int16_t(b.left + d.width)};
    return Done(DecodeInto(d, reinterpret_cast<const uint8_t *>(data), d.dataSize, dst, target));
}

OSErr FDecompressImage(Ptr data, ImageDescriptionHandle desc, PixMapHandle dst, const Rect *srcRect,
                       const MatrixRecord *matrix, int16_t mode, RgnHandle mask, PixMapHandle matte,
                       const Rect *matteRect, CodecQ, DecompressorComponent, int32_t bufferSize,
                       void *, void *)
{
    if (matrix) {
        const MatrixRecord identity{{{FixedOne, 0, 0}, {0, FixedOne, 0}, {0, 0, 1 << 30}}};
        if (std::memcmp(matrix, &identity, sizeof identity) != 0) {
            return Done(paramErr);
        }
    }
    if (matte || matteRect) {
        return Done(paramErr);
    }
    ImageDescription d;
    OSErr err = ReadImageDescription(desc, &d);
    if (err != noErr) {
        return Done(err);
    }
    if (bufferSize > 0 && bufferSize < d.dataSize) {
        // Read no more than the caller's buffer holds.
        const int32_t saved = (**desc).dataSize;
        (**desc).dataSize = bufferSize;
        err = DecompressImage(data, desc, dst, srcRect, nullptr, mode, mask);
        (**desc).dataSize = saved;
        return Done(err);
    }
    return DecompressImage(data, desc, dst, srcRect, nullptr, mode, mask);
}
