// The compressors and decompressors behind libavcodec, and the messages that drive them. Each
// open handle owns its codec context, so the processing thread and a player work side by side.

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "platform/media/internal/codec_picture.h"
#include "platform/media/internal/libav_shared.h"
#include "platform/sys/bytes.h"
#include "platform/sys/text.h"
#include "platform/vfw/internal/vfw_registry.h"
#include "platform/vfw/vfw.h"

namespace {

constexpr int kMaxSide = lc::media::kMaxPictureSide;
constexpr DWORD kMaxFormatBytes = 4136;     // largest format taken, as an AVI "strf"
constexpr DWORD kMaxFrameBytes = 64u << 20; // largest compressed frame taken
constexpr int32_t kSizeBoundSlack = 65536;  // headers of small frames

enum class DvKind {
    None,
    Dv25, // 'dvsd': 4:1:1 at 480 lines, 4:2:0 at 576
    Dv50, // 'dv50': 4:2:2
};

// Compressors in the order the chooser lists them.
struct CompressorSpec
{
    DWORD handler;
    const char *name;
    const char *description;
    AVCodecID id;
    AVPixelFormat pixFmt; // what the encoder is given
    DvKind dv;
};

const CompressorSpec kCompressors[] = {
    {mmioFOURCC('d', 'v', 's', 'd'), "DV", "DV Video (NTSC and PAL)", AV_CODEC_ID_DVVIDEO,
     AV_PIX_FMT_NONE, DvKind::Dv25},
    {mmioFOURCC('d', 'v', '5', '0'), "DVCPRO50", "DVCPRO50 Video", AV_CODEC_ID_DVVIDEO,
     AV_PIX_FMT_NONE, DvKind::Dv50},
    {mmioFOURCC('M', 'J', 'P', 'G'), "MJPEG", "Motion JPEG", AV_CODEC_ID_MJPEG, AV_PIX_FMT_YUVJ422P,
     DvKind::None},
    {mmioFOURCC('F', 'F', 'V', '1'), "FFV1", "FFV1 lossless", AV_CODEC_ID_FFV1, AV_PIX_FMT_BGR0,
     DvKind::None},
    {mmioFOURCC('H', 'F', 'Y', 'U'), "HuffYUV", "HuffYUV lossless", AV_CODEC_ID_HUFFYUV,
     AV_PIX_FMT_RGB24, DvKind::None},
    {mmioFOURCC('F', 'F', 'V', 'H'), "FFVHuff", "FFVHuff lossless", AV_CODEC_ID_FFVHUFF,
     AV_PIX_FMT_RGB24, DvKind::None},
    {mmioFOURCC('U', 'L', 'R', 'G'), "UtVideo", "Ut Video RGB", AV_CODEC_ID_UTVIDEO,
     AV_PIX_FMT_GBRP, DvKind::None},
    {mmioFOURCC('M', 'A', 'G', 'Y'), "MagicYUV", "MagicYUV RGB", AV_CODEC_ID_MAGICYUV,
     AV_PIX_FMT_GBRP, DvKind::None},
    {mmioFOURCC('M', 'P', 'N', 'G'), "PNG", "PNG frames", AV_CODEC_ID_PNG, AV_PIX_FMT_RGB24,
     DvKind::None},
};

DWORD UpperFourCC(DWORD code)
{
    DWORD out = 0;
    for (int i = 0; i < 4; i++) {
        out |= DWORD(std::toupper(int((code >> (8 * i)) & 0xff))) << (8 * i);
    }
    return out;
}

bool SameCode(DWORD a, DWORD b)
{
    return UpperFourCC(a) == UpperFourCC(b);
}

bool EncoderPresent(const CompressorSpec &c)
{
    const AVCodec *codec = avcodec_find_encoder(c.id);
    if (!codec) {
        return false;
    }
    // Encoders that can be told to make key frames only (all of these are intra coders).
    const AVCodecDescriptor *d = avcodec_descriptor_get(c.id);
    return d && (d->props & AV_CODEC_PROP_INTRA_ONLY || c.id == AV_CODEC_ID_FFV1);
}

const CompressorSpec *FindCompressor(DWORD handler)
{
    for (const CompressorSpec &c : kCompressors) {
        if (SameCode(c.handler, handler)) {
            return EncoderPresent(c) ? &c : nullptr;
        }
    }
    return nullptr;
}

// A decoder for a code: a listed compressor's, or any intra-only decoder libavformat knows under
// that AVI code.
AVCodecID DecoderIdOf(DWORD handler)
{
    for (const CompressorSpec &c : kCompressors) {
        if (SameCode(c.handler, handler)) {
            return c.id;
        }
    }
    const AVCodecTag *const tags[] = {avformat_get_riff_video_tags(), nullptr};
    const AVCodecID id = av_codec_get_id(tags, handler);
    const AVCodecDescriptor *d = avcodec_descriptor_get(id);
    if (id == AV_CODEC_ID_NONE || !d || !(d->props & AV_CODEC_PROP_INTRA_ONLY)) {
        return AV_CODEC_ID_NONE;
    }
    // Raw frames under a pixel format's code (YUY2, UYVY ...) decode; RGB frames are the
    // callers' own uncompressed path.
    const DWORD upper = UpperFourCC(handler);
    if (id == AV_CODEC_ID_RAWVIDEO
        && (handler == BI_RGB || upper == mmioFOURCC('D', 'I', 'B', ' ')
            || upper == mmioFOURCC('R', 'G', 'B', ' ')
            || upper == mmioFOURCC('R', 'A', 'W', ' '))) {
        return AV_CODEC_ID_NONE;
    }
    return id;
}

int Height(const BITMAPINFOHEADER *b)
{
    return b->biHeight < 0 ? -b->biHeight : b->biHeight;
}

bool SideOk(LONG w, int h)
{
    return w > 0 && w <= kMaxSide && h > 0 && h <= kMaxSide;
}

// An RGB frame as the callers hold it: 24 or 32 bits a pixel, B, G, R order.
bool IsRgbFrame(const BITMAPINFOHEADER *b)
{
    return b && b->biCompression == BI_RGB && (b->biBitCount == 24 || b->biBitCount == 32)
           && b->biHeight != INT32_MIN && SideOk(b->biWidth, Height(b));
}

// libswscale reads and writes whole blocks of pixels past a row's end, and the callers' frames are
// exactly width x height: conversions go through a top-down frame of our own with room to spare.
struct RgbBounce
{
    std::vector<uint8_t> bytes;
    int stride = 0;
};

uint8_t *PrepareBounce(RgbBounce &b, int width, int height, int bytesPerPixel)
{
    b.stride = FFALIGN(width * bytesPerPixel, 64) + 64;
    b.bytes.resize(size_t(b.stride) * size_t(height + 1));
    return b.bytes.data();
}

AVPixelFormat RgbFormatOf(const BITMAPINFOHEADER *b)
{
    return b->biBitCount == 32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR24;
}

// Copies the rows of a caller's frame (bottom-up for a positive biHeight) from the bounce into
// frameOut, or when that is null from frameIn into the bounce.
void CopyRgbRows(const BITMAPINFOHEADER *b, uint8_t *frameOut, const uint8_t *frameIn,
                 RgbBounce &bounce)
{
    const int h = b->biHeight < 0 ? -b->biHeight : b->biHeight;
    const size_t rowBytes = size_t(b->biWidth) * size_t(b->biBitCount / 8);
    for (int y = 0; y < h; y++) {
        const size_t at = rowBytes * size_t(b->biHeight > 0 ? h - 1 - y : y);
        uint8_t *mine = bounce.bytes.data() + size_t(bounce.stride) * size_t(y);
        if (frameOut) {
            std::memcpy(frameOut + at, mine, rowBytes);
        } else {
            std::memcpy(mine, frameIn + at, rowBytes);
        }
    }
}

// Converts between two frames of the same size; the context is remade when the pair changes.
bool Convert(SwsContext **ctx, AVPixelFormat srcFmt, int srcFull, uint8_t *const src[4],
             const int srcStride[4], AVPixelFormat dstFmt, int dstFull, uint8_t *const dst[4],
             const int dstStride[4], int w, int h)
{
    *ctx = sws_getCachedContext(*ctx, w, h, srcFmt, w, h, dstFmt, SWS_BICUBIC | SWS_ACCURATE_RND,
                                nullptr, nullptr, nullptr);
    if (!*ctx) {
        return false;
    }
    const int *coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(*ctx, coefficients, srcFull, coefficients, dstFull, 0, 1 << 16,
                             1 << 16);
    return sws_scale(*ctx, src, srcStride, 0, h, dst, dstStride) == h;
}

} // namespace

struct VfwCodec : lc::media::CodecBox
{
    ICDriverProc proc = nullptr; // an installed compressor answers for itself
    UINT mode = 0;
    DWORD handler = 0;
    const CompressorSpec *spec = nullptr; // compress mode, or a listed code
    AVCodecID decoderId = AV_CODEC_ID_NONE;

    SwsContext *sws = nullptr;
    bool begun = false;
    int64_t pts = 0; // encoders want rising times
    // What the context was made for.
    BITMAPINFOHEADER in{};
    BITMAPINFOHEADER out{};
    const lc::media::DvFormat *dv = nullptr;
    std::vector<uint8_t> padded; // decoder input with libavcodec's padding
    RgbBounce bounce;

    ~VfwCodec() { Free(); }
    void Free()
    {
        Close();
        sws_freeContext(sws);
        sws = nullptr;
        begun = false;
    }
    // A fresh context for codec (null: none) with its frame and packet, one thread.
    bool Alloc(const AVCodec *codec)
    {
        Free();
        return CodecBox::Alloc(codec);
    }
};

namespace {

// The exact DV frame a compressor makes of a picture size; null when it takes no such size.
const lc::media::DvFormat *DvFormatFor(const CompressorSpec &c, int w, int h)
{
    const bool ntsc = h != 576;
    const char *code = c.dv == DvKind::Dv25 ? (ntsc ? "dvc " : "dvcp") : (ntsc ? "dv5n" : "dv5p");
    uint32_t cType = 0;
    for (int i = 0; i < 4; i++) {
        cType = cType << 8 | uint8_t(code[i]);
    }
    return lc::media::FindDvFormat(cType, w, h);
}

// Opens the encoder for input frames of in's size (kept while the size stays).
LRESULT OpenEncoder(VfwCodec *c, const BITMAPINFOHEADER *in)
{
    if (!IsRgbFrame(in)) {
        return ICERR_BADFORMAT;
    }
    const int w = in->biWidth;
    const int h = Height(in);
    if (c->ctx && c->in.biWidth == w && Height(&c->in) == h && c->in.biBitCount == in->biBitCount
        && c->in.biHeight == in->biHeight) {
        return ICERR_OK;
    }
    c->Free();
    const CompressorSpec &spec = *c->spec;
    const lc::media::DvFormat *dv = nullptr;
    if (spec.dv != DvKind::None) {
        dv = DvFormatFor(spec, w, h);
        if (!dv) {
            return ICERR_BADFORMAT;
        }
    }
    const AVCodec *codec = avcodec_find_encoder(spec.id);
    if (!c->Alloc(codec)) {
        return ICERR_MEMORY;
    }
    AVCodecContext *ctx = c->ctx;
    ctx->gop_size = 0; // every frame a key frame
    ctx->codec_tag = spec.handler;
    if (dv) {
        ctx->width = dv->codedWidth;
        ctx->height = dv->codedHeight;
        ctx->pix_fmt = dv->sampling == lc::media::DvSampling::S411   ? AV_PIX_FMT_YUV411P
                       : dv->sampling == lc::media::DvSampling::S420 ? AV_PIX_FMT_YUV420P
                                                                     : AV_PIX_FMT_YUV422P;
        ctx->time_base = AVRational{dv->rateDen, dv->rateNum};
    } else {
        ctx->width = w;
        ctx->height = h;
        ctx->pix_fmt = spec.pixFmt;
        ctx->time_base = AVRational{1, 25};
        if (spec.id == AV_CODEC_ID_MJPEG) {
            ctx->color_range = AVCOL_RANGE_JPEG;
            ctx->flags |= AV_CODEC_FLAG_QSCALE;
            ctx->global_quality = 3 * FF_QP2LAMBDA;
        }
    }
    c->frame->format = ctx->pix_fmt;
    c->frame->width = ctx->width;
    c->frame->height = ctx->height;
    if (avcodec_open2(ctx, codec, nullptr) < 0 || av_frame_get_buffer(c->frame, 0) < 0
        || 40u + unsigned(std::max(ctx->extradata_size, 0)) > kMaxFormatBytes) {
        c->Free();
        return ICERR_BADFORMAT;
    }
    c->in = *in;
    c->dv = dv;
    return ICERR_OK;
}

int32_t CompressedBound(const VfwCodec *c)
{
    if (c->dv) {
        return c->dv->frameBytes;
    }
    // Lossless coders may pass the raw size a little on noise.
    return int32_t(c->in.biWidth) * Height(&c->in) * 4 + kSizeBoundSlack;
}

DWORD OutputFormatBytes(const VfwCodec *c)
{
    return 40u + DWORD(std::max(c->ctx->extradata_size, 0));
}

void FillCompressedFormat(const VfwCodec *c, BITMAPINFOHEADER *out)
{
    BITMAPINFOHEADER f;
    f.biSize = OutputFormatBytes(c);
    f.biWidth = c->in.biWidth;
    f.biHeight = c->dv ? c->dv->codedHeight : Height(&c->in);
    f.biBitCount = 24;
    f.biCompression = c->spec->handler;
    f.biSizeImage = DWORD(CompressedBound(c));
    std::memcpy(out, &f, sizeof f);
    if (c->ctx->extradata_size > 0) {
        std::memcpy(reinterpret_cast<uint8_t *>(out) + 40, c->ctx->extradata,
                    size_t(c->ctx->extradata_size));
    }
}

LRESULT CompressFrame(VfwCodec *c, const ICCOMPRESS *ic)
{
    if (!ic || !ic->lpbiOutput || !ic->lpOutput || !ic->lpbiInput || !ic->lpInput) {
        return ICERR_BADPARAM;
    }
    ic->lpbiOutput->biSizeImage = 0;
    const BITMAPINFOHEADER *in = ic->lpbiInput;
    if (!c->begun || !IsRgbFrame(in) || in->biWidth != c->in.biWidth
        || in->biHeight != c->in.biHeight || in->biBitCount != c->in.biBitCount) {
        return ICERR_BADFORMAT;
    }
    if (av_frame_make_writable(c->frame) < 0) {
        return ICERR_MEMORY;
    }
    uint8_t *src[4] = {};
    int srcStride[4] = {};
    AVPixelFormat srcFmt;
    BITMAPINFOHEADER view = *in;
    const uint8_t *bits = static_cast<const uint8_t *>(ic->lpInput);
    if (c->dv && c->dv->cropTop) {
        // A 486-line picture gives DV its lines cropTop.. cropTop + 479 (top-down counting).
        const int rowBytes = in->biWidth * (in->biBitCount / 8);
        const int h = Height(in);
        const int skip =
            in->biHeight > 0 ? h - c->dv->codedHeight - c->dv->cropTop : c->dv->cropTop;
        bits += ptrdiff_t(skip) * rowBytes;
        view.biHeight = in->biHeight > 0 ? c->dv->codedHeight : -c->dv->codedHeight;
    }
    src[0] = PrepareBounce(c->bounce, view.biWidth, Height(&view), view.biBitCount / 8);
    srcStride[0] = c->bounce.stride;
    srcFmt = RgbFormatOf(&view);
    CopyRgbRows(&view, nullptr, bits, c->bounce);
    bool dstFull = c->spec->id == AV_CODEC_ID_MJPEG;
    const AVPixelFormat dstFmt = lc::media::PlainFormat(AVPixelFormat(c->frame->format), &dstFull);
    if (!Convert(&c->sws, srcFmt, 1, src, srcStride, dstFmt, dstFull, c->frame->data,
                 c->frame->linesize, c->frame->width, c->frame->height)) {
        return ICERR_INTERNAL;
    }
    c->frame->pts = c->pts++;
    c->frame->pict_type = AV_PICTURE_TYPE_I;
    if (c->spec->id == AV_CODEC_ID_MJPEG) {
        c->frame->quality = c->ctx->global_quality;
    }
    int ret = avcodec_send_frame(c->ctx, c->frame);
    if (ret >= 0) {
        ret = avcodec_receive_packet(c->ctx, c->packet);
    }
    if (ret < 0) {
        c->Free(); // a context that kept the frame back must not hand it to the next call
        return ICERR_INTERNAL;
    }
    LRESULT result = ICERR_OK;
    // The caller's buffer holds ICM_COMPRESS_GET_SIZE bytes; a larger frame is refused.
    if (c->packet->size <= 0 || c->packet->size > CompressedBound(c)) {
        result = ICERR_INTERNAL;
    } else {
        std::memcpy(ic->lpOutput, c->packet->data, size_t(c->packet->size));
        ic->lpbiOutput->biSizeImage = DWORD(c->packet->size);
        if (ic->lpdwFlags) {
            *ic->lpdwFlags = AVIIF_KEYFRAME;
        }
    }
    av_packet_unref(c->packet);
    return result;
}

// Decompression formats: in names this codec and a picture size; out is an RGB frame of that
// size (null: not asked).
LRESULT DecompressQuery(const VfwCodec *c, const BITMAPINFOHEADER *in, const BITMAPINFOHEADER *out)
{
    if (!in || in->biHeight == INT32_MIN || !SideOk(in->biWidth, Height(in)) || in->biSize < 40
        || in->biSize > kMaxFormatBytes || DecoderIdOf(in->biCompression) != c->decoderId) {
        return ICERR_BADFORMAT;
    }
    if (out && (!IsRgbFrame(out) || out->biWidth != in->biWidth || Height(out) != Height(in))) {
        return ICERR_BADFORMAT;
    }
    return ICERR_OK;
}

LRESULT DecompressBegin(VfwCodec *c, const BITMAPINFOHEADER *in, const BITMAPINFOHEADER *out)
{
    if (!out) {
        return ICERR_BADPARAM;
    }
    LRESULT q = DecompressQuery(c, in, out);
    if (q != ICERR_OK) {
        return q;
    }
    const AVCodec *codec = avcodec_find_decoder(c->decoderId);
    if (!c->Alloc(codec)) {
        return ICERR_MEMORY;
    }
    AVCodecContext *ctx = c->ctx;
    ctx->width = in->biWidth;
    ctx->height = Height(in);
    ctx->codec_tag = in->biCompression;
    ctx->bits_per_coded_sample = in->biBitCount;
    ctx->max_pixels = int64_t(kMaxSide) * kMaxSide;
    const int extra = int(in->biSize) - 40;
    if (extra > 0) {
        ctx->extradata =
            static_cast<uint8_t *>(av_mallocz(size_t(extra) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!ctx->extradata) {
            c->Free();
            return ICERR_MEMORY;
        }
        std::memcpy(ctx->extradata, reinterpret_cast<const uint8_t *>(in) + 40, size_t(extra));
        ctx->extradata_size = extra;
    }
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        c->Free();
        return ICERR_BADFORMAT;
    }
    c->in = *in;
    c->out = *out;
    c->begun = true;
    return ICERR_OK;
}

LRESULT DecompressFrame(VfwCodec *c, const ICDECOMPRESS *id)
{
    if (!id || !id->lpbiInput || !id->lpInput || !id->lpbiOutput || !id->lpOutput) {
        return ICERR_BADPARAM;
    }
    const BITMAPINFOHEADER *in = id->lpbiInput;
    const BITMAPINFOHEADER *out = id->lpbiOutput;
    if (!c->begun || in->biWidth != c->in.biWidth || Height(in) != Height(&c->in)
        || in->biCompression != c->in.biCompression) {
        LRESULT r = DecompressBegin(c, in, out);
        if (r != ICERR_OK) {
            return r;
        }
    }
    if (!IsRgbFrame(out) || out->biWidth != in->biWidth || Height(out) != Height(in)) {
        return ICERR_BADFORMAT;
    }
    const DWORD size = in->biSizeImage;
    if (size == 0 || size > kMaxFrameBytes) {
        return ICERR_BADPARAM;
    }
    c->padded.assign(size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::memcpy(c->padded.data(), id->lpInput, size);
    c->packet->data = c->padded.data();
    c->packet->size = int(size);
    c->packet->flags = AV_PKT_FLAG_KEY;
    int ret = avcodec_send_packet(c->ctx, c->packet);
    if (ret >= 0) {
        ret = avcodec_receive_frame(c->ctx, c->frame);
        if (ret == AVERROR(EAGAIN)) {
            // A decoder that holds the frame back gives it up when drained.
            avcodec_send_packet(c->ctx, nullptr);
            ret = avcodec_receive_frame(c->ctx, c->frame);
            avcodec_flush_buffers(c->ctx);
        }
    }
    av_packet_unref(c->packet);
    if (ret < 0) {
        avcodec_flush_buffers(c->ctx);
        return ICERR_BADFORMAT;
    }
    AVFrame *f = c->frame;
    LRESULT result = ICERR_OK;
    // A frame of another size than the format says would not fit the caller's buffer.
    if (f->width != out->biWidth || f->height != Height(out)) {
        result = ICERR_BADFORMAT;
    } else {
        bool srcFull = f->color_range == AVCOL_RANGE_JPEG;
        const AVPixelFormat srcFmt = lc::media::PlainFormat(AVPixelFormat(f->format), &srcFull);
        uint8_t *dst[4] = {};
        int dstStride[4] = {};
        AVPixelFormat dstFmt;
        dst[0] = PrepareBounce(c->bounce, f->width, f->height, out->biBitCount / 8);
        dstStride[0] = c->bounce.stride;
        dstFmt = RgbFormatOf(out);
        if (Convert(&c->sws, srcFmt, srcFull, f->data, f->linesize, dstFmt, 1, dst, dstStride,
                    f->width, f->height)) {
            CopyRgbRows(out, static_cast<uint8_t *>(id->lpOutput), nullptr, c->bounce);
        } else {
            result = ICERR_INTERNAL;
        }
    }
    av_frame_unref(f);
    return result;
}

void FillDecompressedFormat(const BITMAPINFOHEADER *in, BITMAPINFOHEADER *out)
{
    BITMAPINFOHEADER f;
    f.biWidth = in->biWidth;
    f.biHeight = Height(in);
    f.biBitCount = 32;
    f.biSizeImage = DWORD(in->biWidth) * DWORD(Height(in)) * 4;
    *out = f;
}

LRESULT CompressMessage(VfwCodec *c, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2)
{
    auto *in = reinterpret_cast<BITMAPINFOHEADER *>(dw1);
    auto *out = reinterpret_cast<BITMAPINFOHEADER *>(dw2);
    switch (msg) {
    case ICM_COMPRESS_QUERY:
        return in ? OpenEncoder(c, in) : ICERR_BADPARAM;
    case ICM_COMPRESS_GET_FORMAT: {
        if (!in) {
            return ICERR_BADPARAM;
        }
        const LRESULT r = OpenEncoder(c, in);
        if (r != ICERR_OK) {
            return r;
        }
        if (!out) {
            return LRESULT(OutputFormatBytes(c));
        }
        FillCompressedFormat(c, out);
        return ICERR_OK;
    }
    case ICM_COMPRESS_GET_SIZE:
        if (!in || OpenEncoder(c, in) != ICERR_OK) {
            return 0;
        }
        return CompressedBound(c);
    case ICM_COMPRESS_BEGIN: {
        if (!in || !out) {
            return ICERR_BADPARAM;
        }
        const LRESULT r = OpenEncoder(c, in);
        if (r != ICERR_OK) {
            return r;
        }
        if (!SameCode(out->biCompression, c->spec->handler) || out->biWidth != in->biWidth) {
            return ICERR_BADFORMAT;
        }
        c->begun = true;
        return ICERR_OK;
    }
    case ICM_COMPRESS:
        return CompressFrame(c, reinterpret_cast<const ICCOMPRESS *>(dw1));
    case ICM_COMPRESS_END:
        c->begun = false;
        return ICERR_OK;
    default:
        return ICERR_UNSUPPORTED;
    }
}

LRESULT DecompressMessage(VfwCodec *c, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2)
{
    auto *in = reinterpret_cast<BITMAPINFOHEADER *>(dw1);
    auto *out = reinterpret_cast<BITMAPINFOHEADER *>(dw2);
    switch (msg) {
    case ICM_DECOMPRESS_QUERY:
        return DecompressQuery(c, in, out);
    case ICM_DECOMPRESS_GET_FORMAT: {
        const LRESULT r = DecompressQuery(c, in, nullptr);
        if (r != ICERR_OK) {
            return r;
        }
        if (!out) {
            return 40;
        }
        FillDecompressedFormat(in, out);
        return ICERR_OK;
    }
    case ICM_DECOMPRESS_BEGIN:
        return DecompressBegin(c, in, out);
    case ICM_DECOMPRESS:
        return DecompressFrame(c, reinterpret_cast<const ICDECOMPRESS *>(dw1));
    case ICM_DECOMPRESS_END:
        c->Free();
        return ICERR_OK;
    default:
        return ICERR_UNSUPPORTED;
    }
}

void FillInfo(DWORD handler, const char *name, const char *description, ICINFO *info)
{
    *info = ICINFO{};
    info->fccHandler = handler;
    lc::CopyText(info->szName, sizeof info->szName, name);
    lc::CopyText(info->szDescription, sizeof info->szDescription, description);
}

} // namespace

namespace {

struct InstalledCompressor
{
    DWORD handler;
    ICDriverProc proc;
    char description[128];
};

std::mutex gInstalledLock;
std::vector<InstalledCompressor> gInstalled;

ICDriverProc InstalledProc(DWORD handler)
{
    std::lock_guard<std::mutex> lock(gInstalledLock);
    for (const InstalledCompressor &c : gInstalled) {
        if (SameCode(c.handler, handler)) {
            return c.proc;
        }
    }
    return nullptr;
}

} // namespace

BOOL ICInstall(DWORD fccType, DWORD fccHandler, ICDriverProc proc, const char *description)
{
    std::lock_guard<std::mutex> lock(gInstalledLock);
    if (!proc || !description || !SameCode(fccType, ICTYPE_VIDEO)
        || gInstalled.size() >= size_t(kMaxInstalledCompressors)) {
        return 0;
    }
    InstalledCompressor c{fccHandler, proc, {}};
    lc::CopyText(c.description, description);
    gInstalled.push_back(c);
    return 1;
}

BOOL ICRemove(DWORD fccType, DWORD fccHandler)
{
    std::lock_guard<std::mutex> lock(gInstalledLock);
    for (auto it = gInstalled.begin(); it != gInstalled.end(); ++it) {
        if (SameCode(fccType, ICTYPE_VIDEO) && SameCode(it->handler, fccHandler)) {
            gInstalled.erase(it);
            return 1;
        }
    }
    return 0;
}

namespace lc::vfw {

int CompressorCount()
{
    std::lock_guard<std::mutex> lock(gInstalledLock);
    int n = 1 + int(gInstalled.size());
    for (const CompressorSpec &c : kCompressors) {
        n += EncoderPresent(c) ? 1 : 0;
    }
    return n;
}

bool CompressorInfo(int index, ICINFO *info)
{
    if (index == 0) {
        FillInfo(kFullFramesHandler, "Full Frames", "Full Frames (Uncompressed)", info);
        return true;
    }
    int n = 1;
    for (const CompressorSpec &c : kCompressors) {
        if (EncoderPresent(c) && n++ == index) {
            FillInfo(c.handler, c.name, c.description, info);
            return true;
        }
    }
    std::lock_guard<std::mutex> lock(gInstalledLock);
    if (index - n >= 0 && index - n < int(gInstalled.size())) {
        const InstalledCompressor &c = gInstalled[size_t(index - n)];
        FillInfo(c.handler, c.description, c.description, info);
        return true;
    }
    return false;
}

} // namespace lc::vfw

void AVIFileInit()
{
    // The table is fixed; asking once makes libavcodec look its encoders up before any dialog.
    (void)lc::vfw::CompressorCount();
}

void AVIFileExit() {}

HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT mode)
{
    if (!SameCode(fccType, ICTYPE_VIDEO)) {
        return nullptr;
    }
    if (ICDriverProc proc = InstalledProc(fccHandler)) {
        auto *c = new VfwCodec;
        c->proc = proc;
        c->mode = mode;
        c->handler = fccHandler;
        return c;
    }
    const CompressorSpec *spec = FindCompressor(fccHandler);
    AVCodecID decoderId = DecoderIdOf(fccHandler);
    if (decoderId != AV_CODEC_ID_NONE && !avcodec_find_decoder(decoderId)) {
        decoderId = AV_CODEC_ID_NONE;
    }
    const bool ok = mode == ICMODE_COMPRESS     ? spec != nullptr
                    : mode == ICMODE_DECOMPRESS ? decoderId != AV_CODEC_ID_NONE
                                                : false;
    if (!ok) {
        return nullptr;
    }
    auto *c = new VfwCodec;
    c->mode = mode;
    c->handler = fccHandler;
    c->spec = spec;
    c->decoderId = decoderId;
    return c;
}

LRESULT ICClose(HIC hic)
{
    delete hic;
    return ICERR_OK;
}

LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2)
{
    if (!hic) {
        return ICERR_BADPARAM;
    }
    if (hic->proc) {
        return hic->proc(msg, dw1, dw2);
    }
    if (msg == ICM_GETINFO) {
        return ICGetInfo(hic, reinterpret_cast<ICINFO *>(dw1), DWORD(dw2));
    }
    // Each handle answers only the messages of its mode: a decompressor asked for compression
    // formats leaves the caller's formats alone.
    if (hic->mode == ICMODE_COMPRESS && msg >= ICM_COMPRESS_GET_FORMAT && msg <= ICM_COMPRESS_END) {
        return CompressMessage(hic, msg, dw1, dw2);
    }
    if (hic->mode == ICMODE_DECOMPRESS && msg >= ICM_DECOMPRESS_GET_FORMAT
        && msg <= ICM_DECOMPRESS_END) {
        return DecompressMessage(hic, msg, dw1, dw2);
    }
    return ICERR_UNSUPPORTED;
}

DWORD ICCompress(HIC hic, DWORD dwFlags, BITMAPINFOHEADER *lpbiOutput, void *lpData,
                 BITMAPINFOHEADER *lpbiInput, const void *lpBits, DWORD *lpckid, DWORD *lpdwFlags,
                 LONG lFrameNum, DWORD dwFrameSize, DWORD dwQuality, BITMAPINFOHEADER *lpbiPrev,
                 const void *lpPrev)
{
    ICCOMPRESS ic;
    ic.dwFlags = dwFlags;
    ic.lpbiOutput = lpbiOutput;
    ic.lpOutput = lpData;
    ic.lpbiInput = lpbiInput;
    ic.lpInput = lpBits;
    ic.lpckid = lpckid;
    ic.lpdwFlags = lpdwFlags;
    ic.lFrameNum = lFrameNum;
    ic.dwFrameSize = dwFrameSize;
    ic.dwQuality = dwQuality;
    ic.lpbiPrev = lpbiPrev;
    ic.lpPrev = lpPrev;
    return DWORD(ICSendMessage(hic, ICM_COMPRESS, DWORD_PTR(&ic), sizeof ic));
}

DWORD ICDecompress(HIC hic, DWORD dwFlags, BITMAPINFOHEADER *lpbiFormat, const void *lpData,
                   BITMAPINFOHEADER *lpbi, void *lpBits)
{
    ICDECOMPRESS id;
    id.dwFlags = dwFlags;
    id.lpbiInput = lpbiFormat;
    id.lpInput = lpData;
    id.lpbiOutput = lpbi;
    id.lpOutput = lpBits;
    return DWORD(ICSendMessage(hic, ICM_DECOMPRESS, DWORD_PTR(&id), sizeof id));
}

LRESULT ICGetInfo(HIC hic, ICINFO *info, DWORD cb)
{
    if (!hic || !info || cb < sizeof(ICINFO)) {
        return 0;
    }
    if (hic->proc) {
        return hic->proc(ICM_GETINFO, DWORD_PTR(info), cb);
    }
    if (hic->spec) {
        FillInfo(hic->spec->handler, hic->spec->name, hic->spec->description, info);
    } else {
        const AVCodecDescriptor *d = avcodec_descriptor_get(hic->decoderId);
        FillInfo(hic->handler, d ? d->name : "", d && d->long_name ? d->long_name : "", info);
    }
    return sizeof(ICINFO);
}

BOOL ICInfo(DWORD fccType, DWORD index, ICINFO *info)
{
    if (!info || !SameCode(fccType, ICTYPE_VIDEO) || index > 1000) {
        return 0;
    }
    return lc::vfw::CompressorInfo(int(index), info) ? 1 : 0;
}
