#include <cstring>
#include <new>
#include <vector>

#include "app/avi_playback.h"
#include "passes/ui_hooks.h"
#include "platform/media/codec_registry.h"
#include "platform/media/media_types.h"
#include "platform/sys/bytes.h"
#include "platform/vfw/vfw.h"

// The player's decompressor through the media layer's codec registry: AVI codes are looked up
// under the media layer's code for the same format.

namespace {

struct MediaDecoder
{
    OSType code = 0;
    ImageDescriptionHandle desc = nullptr;
    std::vector<uint8_t> rgb; // top-down R, G, B rows of one frame
};

// biCompression as stored (little-endian) to a file-order code, with AVI's names of formats the
// registry knows by another.
OSType MediaCode(uint32_t biCompression)
{
    const OSType code = (biCompression & 0xff) << 24 | (biCompression >> 8 & 0xff) << 16
                        | (biCompression >> 16 & 0xff) << 8 | biCompression >> 24;
    if (code == lc::FourCC("MJPG") || code == lc::FourCC("mjpg") || code == lc::FourCC("JPEG")) {
        return lc::FourCC("jpeg");
    }
    return code;
}

void *Open(uint32_t biCompression)
{
    const OSType code = MediaCode(biCompression);
    if (!HasImageDecoder(code)) {
        return nullptr;
    }
    auto *d = new (std::nothrow) MediaDecoder;
    if (d) {
        d->code = code;
    }
    return d;
}

int Begin(void *ic, const void *input, const AviBitmapHeader *output)
{
    auto *d = static_cast<MediaDecoder *>(ic);
    if (!d || !input || !output || output->biWidth <= 0 || output->biHeight <= 0
        || output->biWidth > kPlaybackMaxFrameSide || output->biHeight > kPlaybackMaxFrameSide
        || output->biBitCount != 32) {
        return -1;
    }
    const auto *in = static_cast<const uint8_t *>(input);
    const int32_t inWidth = int32_t(lc::LoadU32le(in + 4));
    const int32_t inHeight = int32_t(lc::LoadU32le(in + 8));
    if (inWidth <= 0 || inWidth > kPlaybackMaxFrameSide || inHeight == 0
        || inHeight < -kPlaybackMaxFrameSide || inHeight > kPlaybackMaxFrameSide) {
        return -1;
    }
    DisposeHandle(reinterpret_cast<Handle>(d->desc));
    d->desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
    if (!d->desc) {
        return -1;
    }
    ImageDescription &id = **d->desc;
    id.idSize = sizeof(ImageDescription);
    id.cType = d->code;
    id.width = int16_t(inWidth);
    id.height = int16_t(inHeight < 0 ? -inHeight : inHeight);
    id.hRes = id.vRes = 0x00480000;
    id.frameCount = 1;
    id.depth = 24;
    id.clutID = -1;
    d->rgb.assign(size_t(output->biWidth) * size_t(output->biHeight) * 3, 0);
    return 0;
}

int Decompress(void *ic, const void *input, const uint8_t *data, const AviBitmapHeader *output,
               uint8_t *out)
{
    auto *d = static_cast<MediaDecoder *>(ic);
    if (!d || !d->desc || !input || !data || !output || !out) {
        return -1;
    }
    const int w = output->biWidth;
    const int h = output->biHeight;
    if (d->rgb.size() != size_t(w) * size_t(h) * 3) {
        return -1;
    }
    const uint32_t bytes = lc::LoadU32le(static_cast<const uint8_t *>(input) + 20);
    (**d->desc).dataSize = int32_t(bytes);
    if (DecodeSampleToRgb24(data, long(bytes), d->desc, d->rgb.data(), ptrdiff_t(w) * 3, w, h)
        != noErr) {
        return -1;
    }
    // Top-down R, G, B to bottom-up B, G, R, X.
    for (int y = 0; y < h; ++y) {
        const uint8_t *src = d->rgb.data() + size_t(y) * size_t(w) * 3;
        uint8_t *dst = out + size_t(h - 1 - y) * size_t(w) * 4;
        for (int x = 0; x < w; ++x) {
            dst[4 * x + 0] = src[3 * x + 2];
            dst[4 * x + 1] = src[3 * x + 1];
            dst[4 * x + 2] = src[3 * x + 0];
            dst[4 * x + 3] = 0;
        }
    }
    return 0;
}

void End(void *ic)
{
    auto *d = static_cast<MediaDecoder *>(ic);
    if (d) {
        DisposeHandle(reinterpret_cast<Handle>(d->desc));
        d->desc = nullptr;
        d->rgb.clear();
    }
}

void Close(void *ic)
{
    auto *d = static_cast<MediaDecoder *>(ic);
    if (d) {
        DisposeHandle(reinterpret_cast<Handle>(d->desc));
        delete d;
    }
}

} // namespace

PlaybackDecompressor MediaLayerDecompressor()
{
    PlaybackDecompressor p;
    p.open = &Open;
    p.begin = &Begin;
    p.decompress = &Decompress;
    p.end = &End;
    p.close = &Close;
    return p;
}

namespace {

// The compressor layer's decompressors: every AVI code it knows, straight by biCompression.
void *VfwOpen(uint32_t biCompression)
{
    return ICOpen(ICTYPE_VIDEO, biCompression, ICMODE_DECOMPRESS);
}

BITMAPINFOHEADER *AsVfwHeader(const void *header)
{
    return const_cast<BITMAPINFOHEADER *>(static_cast<const BITMAPINFOHEADER *>(header));
}

int VfwBegin(void *ic, const void *input, const AviBitmapHeader *output)
{
    return ICSendMessage(static_cast<HIC>(ic), ICM_DECOMPRESS_BEGIN,
                         reinterpret_cast<DWORD_PTR>(AsVfwHeader(input)),
                         reinterpret_cast<DWORD_PTR>(AsVfwHeader(output)))
                   == ICERR_OK
               ? 0
               : 1;
}

int VfwDecompress(void *ic, const void *input, const uint8_t *data, const AviBitmapHeader *output,
                  uint8_t *out)
{
    return ICDecompress(static_cast<HIC>(ic), 0, AsVfwHeader(input), data, AsVfwHeader(output), out)
                   == ICERR_OK
               ? 0
               : 1;
}

void VfwEnd(void *ic)
{
    ICSendMessage(static_cast<HIC>(ic), ICM_DECOMPRESS_END, 0, 0);
}
void VfwClose(void *ic)
{
    ICClose(static_cast<HIC>(ic));
}

} // namespace

PlaybackDecompressor VfwPlaybackDecompressor()
{
    static_assert(sizeof(AviBitmapHeader) == sizeof(BITMAPINFOHEADER));
    return PlaybackDecompressor{VfwOpen, VfwBegin, VfwDecompress, VfwEnd, VfwClose};
}

namespace {

// A pass's decompressor: the player's, over the format copied when the movie was opened. The
// reader's own copy is the writer's header by the time a pass runs, and the reader's frame size
// the output's.
struct PassDecompressor
{
    bool begun = false;
    AviBitmapHeader output{}; // 32-bit bottom-up at the source size
};
PassDecompressor gPass;

void PassClose()
{
    AviPlayback &p = gAviPlayback;
    if (p.decompressor) {
        if (gPass.begun && gPlaybackDecompressor.end) {
            gPlaybackDecompressor.end(p.decompressor);
        }
        if (gPlaybackDecompressor.close) {
            gPlaybackDecompressor.close(p.decompressor);
        }
        p.decompressor = nullptr;
    }
    gPass.begun = false;
}

int PassOpen(int width, int height)
{
    AviPlayback &p = gAviPlayback;
    PassClose();
    const auto *input = static_cast<const uint8_t *>(p.inputFormat);
    // The movie the player opened, at the size the pass reads.
    if (!input || !gPlaybackDecompressor.open || !gPlaybackDecompressor.begin || width <= 0
        || height <= 0 || width > kPlaybackMaxFrameSide || height > kPlaybackMaxFrameSide
        || width != p.frameWidth || height != p.frameHeight) {
        return 0;
    }
    gPass.output = AviBitmapHeader{};
    gPass.output.biWidth = width;
    gPass.output.biHeight = height;
    gPass.output.biBitCount = 32;
    gPass.output.biSizeImage = uint32_t(width) * uint32_t(height) * 4;
    p.decompressor = gPlaybackDecompressor.open(lc::LoadU32le(input + 16));
    if (!p.decompressor) {
        return 0;
    }
    if (gPlaybackDecompressor.begin(p.decompressor, p.inputFormat, &gPass.output) != 0) {
        PassClose();
        return 0;
    }
    gPass.begun = true;
    return 1;
}

int PassDecompress(const uint8_t *data, int size, uint8_t *out)
{
    AviPlayback &p = gAviPlayback;
    if (!gPass.begun || !p.decompressor || !data || !out || size <= 0) {
        return 0;
    }
    lc::StoreU32le(static_cast<uint8_t *>(p.inputFormat) + 20, uint32_t(size));
    return gPlaybackDecompressor.decompress(p.decompressor, p.inputFormat, data, &gPass.output, out)
                   == 0
               ? 1
               : 0;
}

} // namespace

void InstallPassDecompressor()
{
    gUiHooks.openVfwDecompressor = &PassOpen;
    gUiHooks.vfwDecompressFrame = &PassDecompress;
    gUiHooks.closeVfwDecompressor = &PassClose;
}
