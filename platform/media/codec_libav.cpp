// The codecs behind libavcodec (DV family, JPEG, other intra decoders) and the pixel conversions
// through libswscale. Contexts are kept per thread: the processing thread and a player decode at
// the same time.

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "platform/media/gworld.h"
#include "platform/media/image_compression.h"
#include "platform/media/internal/codec_picture.h"
#include "platform/media/internal/libav_shared.h"
#include "platform/media/internal/yuv_convert.h"
#include "platform/sys/bytes.h"

namespace lc::media {
namespace {

// Pixels as libswscale takes them.
struct Planes
{
    uint8_t *data[4] = {};
    int stride[4] = {};
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int width = 0;
    int height = 0;
    bool fullRange = false;
};

AVPixelFormat AvFormatOf(OSType f)
{
    switch (f) {
    case k24RGBPixelFormat:
        return AV_PIX_FMT_RGB24;
    case k32ARGBPixelFormat:
        return AV_PIX_FMT_ARGB;
    case kYUVSPixelFormat:
        return AV_PIX_FMT_YUYV422;
    case k2vuyPixelFormat:
        return AV_PIX_FMT_UYVY422;
    default:
        return AV_PIX_FMT_NONE;
    }
}

Planes PlanesOf(const PictureView &v)
{
    Planes p;
    p.data[0] = v.data;
    p.stride[0] = int(v.rowBytes);
    p.format = AvFormatOf(v.format);
    p.width = v.width;
    p.height = v.height;
    p.fullRange = v.format != kYUVSPixelFormat && v.format != k2vuyPixelFormat;
    return p;
}

struct SwsCache
{
    SwsContext *ctx = nullptr;
    int key[8] = {}; // sizes, formats and colour ranges ctx was made for
    ~SwsCache() { sws_freeContext(ctx); }
};

bool ScalePlanes(const Planes &s, const Planes &d, SwsCache &cache)
{
    if (!sws_isSupportedInput(s.format) || !sws_isSupportedOutput(d.format)) {
        return false;
    }
    // The same conversion as ffmpeg's command line, so our decodes sit next to its own.
    const int flags = SWS_BICUBIC;
    const int key[8] = {s.width, s.height, s.format, int(s.fullRange),
                        d.width, d.height, d.format, int(d.fullRange)};
    if (!cache.ctx || std::memcmp(key, cache.key, sizeof key) != 0) {
        sws_freeContext(cache.ctx);
        cache.ctx = sws_getContext(s.width, s.height, s.format, d.width, d.height, d.format, flags,
                                   nullptr, nullptr, nullptr);
        if (!cache.ctx) {
            return false;
        }
        const int *coefficients = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(cache.ctx, coefficients, s.fullRange, coefficients, d.fullRange, 0,
                                 1 << 16, 1 << 16);
        std::memcpy(cache.key, key, sizeof key);
    }
    return sws_scale(cache.ctx, s.data, s.stride, 0, s.height, d.data, d.stride) == d.height;
}

bool IsOddYuv(const PictureView &v)
{
    return (v.format == kYUVSPixelFormat || v.format == k2vuyPixelFormat) && (v.width & 1);
}

// A packed 4:2:2 picture of odd width padded to whole pixel pairs (libswscale reads and writes
// pairs); the last pixel is repeated.
std::vector<uint8_t> PadToPairs(const PictureView &v, PictureView *padded, bool copyIn)
{
    *padded = v;
    padded->width = v.width + 1;
    padded->rowBytes = ptrdiff_t(padded->width) * 2;
    std::vector<uint8_t> buffer(size_t(padded->rowBytes) * size_t(v.height));
    padded->data = buffer.data();
    if (copyIn) {
        for (int y = 0; y < v.height; y++) {
            uint8_t *d = padded->data + y * padded->rowBytes;
            std::memcpy(d, v.data + y * v.rowBytes, size_t(v.width) * 2);
            // The pad pixel takes the last luma, and the Cr its pair lacks from the pair before.
            const int w2 = v.width * 2;
            if (v.format == kYUVSPixelFormat) {
                d[w2] = d[w2 - 2];
                d[w2 + 1] = v.width >= 3 ? d[w2 - 3] : 128;
            } else {
                d[w2] = v.width >= 3 ? d[w2 - 4] : 128;
                d[w2 + 1] = d[w2 - 1];
            }
        }
    }
    return buffer;
}

void CopyRows(const PictureView &from, const PictureView &to)
{
    const size_t bytes = size_t(to.width) * size_t(FormatBytesPerPixel(to.format));
    for (int y = 0; y < to.height; y++) {
        std::memcpy(to.data + y * to.rowBytes, from.data + y * from.rowBytes, bytes);
    }
}

void FillBlack(const PictureView &v)
{
    for (int y = 0; y < v.height; y++) {
        uint8_t *d = v.data + y * v.rowBytes;
        for (int x = 0; x < v.width; x++) {
            switch (v.format) {
            case kYUVSPixelFormat:
                d[2 * x] = 16;
                d[2 * x + 1] = 128;
                break;
            case k2vuyPixelFormat:
                d[2 * x] = 128;
                d[2 * x + 1] = 16;
                break;
            case k32ARGBPixelFormat:
                d[4 * x] = 0xff;
                d[4 * x + 1] = d[4 * x + 2] = d[4 * x + 3] = 0;
                break;
            default:
                d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = 0;
                break;
            }
        }
    }
}

thread_local SwsCache tDecodeSws;
thread_local SwsCache tEncodeSws;

// To dst from libswscale planes, through a pair-padded picture when dst is odd 4:2:2.
bool ScaleToView(const Planes &s, const PictureView &dst, SwsCache &cache)
{
    if (!IsOddYuv(dst)) {
        return ScalePlanes(s, PlanesOf(dst), cache);
    }
    PictureView padded;
    std::vector<uint8_t> keep = PadToPairs(dst, &padded, false);
    Planes d = PlanesOf(padded);
    d.width = dst.width; // the pad pixel is only there to be written
    if (!ScalePlanes(s, d, cache)) {
        return false;
    }
    CopyRows(padded, dst);
    return true;
}

bool ScaleFromView(const PictureView &src, const Planes &d, SwsCache &cache)
{
    if (!IsOddYuv(src)) {
        return ScalePlanes(PlanesOf(src), d, cache);
    }
    PictureView padded;
    std::vector<uint8_t> keep = PadToPairs(src, &padded, true);
    Planes s = PlanesOf(padded);
    s.width = src.width; // the pad pixel is only there to be read
    return ScalePlanes(s, d, cache);
}

// The planar formats the direct conversions take (limited range only), and the packed ones.
bool DirectSampling(const Planes &p, ChromaSampling *sampling)
{
    if (p.fullRange) {
        return false;
    }
    switch (p.format) {
    case AV_PIX_FMT_YUV411P:
        *sampling = ChromaSampling::S411;
        return true;
    case AV_PIX_FMT_YUV420P:
        *sampling = ChromaSampling::S420;
        return true;
    case AV_PIX_FMT_YUV422P:
        *sampling = ChromaSampling::S422;
        return true;
    default:
        return false;
    }
}

bool DirectPacked(const PictureView &v, PackedFormat *format)
{
    switch (v.format) {
    case k24RGBPixelFormat:
        *format = PackedFormat::Rgb24;
        return true;
    case kYUVSPixelFormat:
        *format = PackedFormat::Yuyv;
        return true;
    default:
        return false;
    }
}

// Same-size conversions between the DV family's planes and the frame store's pictures go the
// direct way; false when p and v are not such a pair.
bool ConvertDirect(const Planes &p, const PictureView &v, bool toPacked)
{
    ChromaSampling sampling;
    PackedFormat format;
    if (p.width != v.width || p.height != v.height || !DirectSampling(p, &sampling)
        || !DirectPacked(v, &format)
        || (!toPacked && format == PackedFormat::Yuyv && (v.width & 1))) {
        return false;
    }
    PlanarPicture planes;
    for (int i = 0; i < 3; i++) {
        planes.plane[i] = p.data[i];
        planes.stride[i] = p.stride[i];
    }
    planes.width = p.width;
    planes.height = p.height;
    planes.sampling = sampling;
    if (toPacked) {
        PlanarToPacked(YuvKernels(), planes, v.data, v.rowBytes, format);
    } else {
        PackedToPlanar(YuvKernels(), v.data, v.rowBytes, format, planes);
    }
    return true;
}

uint32_t LeTag(OSType cType)
{
    return (cType >> 24) | ((cType >> 8) & 0xff00) | ((cType << 8) & 0xff0000) | (cType << 24);
}

AVCodecID CodecIdOf(OSType cType)
{
    if (const CodecSpec *spec = FindCodecSpec(cType)) {
        switch (spec->family) {
        case CodecFamily::Dv:
            return AV_CODEC_ID_DVVIDEO;
        case CodecFamily::Jpeg:
            return AV_CODEC_ID_MJPEG;
        default:
            return AV_CODEC_ID_NONE;
        }
    }
    const AVCodecTag *const tags[] = {avformat_get_mov_video_tags(), nullptr};
    return av_codec_get_id(tags, LeTag(cType));
}

struct DecoderCache : CodecBox
{
    int width = 0, height = 0, depth = 0;

    bool Open(const ImageDescription &desc)
    {
        if (ctx && cType == desc.cType && width == desc.width && height == desc.height
            && depth == desc.depth) {
            return true;
        }
        const AVCodec *codec = avcodec_find_decoder(CodecIdOf(desc.cType));
        if (!Alloc(codec)) {
            return false;
        }
        ctx->width = desc.width;
        ctx->height = desc.height;
        ctx->codec_tag = LeTag(desc.cType);
        ctx->bits_per_coded_sample = desc.depth;
        // A sample that claims a vast picture is refused before it is allocated.
        ctx->max_pixels = int64_t(kMaxPictureSide) * kMaxPictureSide;
        if (avcodec_open2(ctx, codec, nullptr) < 0) {
            Close();
            return false;
        }
        cType = desc.cType;
        width = desc.width;
        height = desc.height;
        depth = desc.depth;
        return true;
    }
};

thread_local DecoderCache tDecoder;

struct EncoderCache : CodecBox
{
    int width = 0, height = 0;
    int64_t pts = 0;

    // DV: the exact format's coded size, pixel layout and rate; JPEG: the picture's size.
    bool Open(OSType code, int w, int h, const DvFormat *dv)
    {
        if (ctx && cType == code && width == w && height == h) {
            return true;
        }
        if (!Alloc(avcodec_find_encoder(dv ? AV_CODEC_ID_DVVIDEO : AV_CODEC_ID_MJPEG))) {
            return false;
        }
        if (dv) {
            ctx->width = dv->codedWidth;
            ctx->height = dv->codedHeight;
            ctx->pix_fmt = dv->sampling == DvSampling::S411   ? AV_PIX_FMT_YUV411P
                           : dv->sampling == DvSampling::S420 ? AV_PIX_FMT_YUV420P
                                                              : AV_PIX_FMT_YUV422P;
            ctx->time_base = AVRational{dv->rateDen, dv->rateNum};
            ctx->framerate = AVRational{dv->rateNum, dv->rateDen};
        } else {
            ctx->width = w;
            ctx->height = h;
            ctx->pix_fmt = AV_PIX_FMT_YUVJ420P;
            ctx->color_range = AVCOL_RANGE_JPEG;
            ctx->time_base = AVRational{1, 25};
            ctx->flags |= AV_CODEC_FLAG_QSCALE;
            ctx->qmin = 1;
            ctx->qmax = 31;
        }
        frame->format = ctx->pix_fmt;
        frame->width = ctx->width;
        frame->height = ctx->height;
        if (avcodec_open2(ctx, nullptr, nullptr) < 0 || av_frame_get_buffer(frame, 0) < 0) {
            Close();
            return false;
        }
        cType = code;
        width = w;
        height = h;
        pts = 0;
        return true;
    }
};

thread_local EncoderCache tEncoder;

// JPEG quantiser scale for a quality: 1023 (max) gives 2, 0 gives 31, lossless asks for 1.
int JpegScale(uint32_t quality)
{
    if (quality >= codecLosslessQuality) {
        return 1;
    }
    return 2
           + int((codecMaxQuality - std::min<uint32_t>(quality, codecMaxQuality)) * 29
                 / codecMaxQuality);
}

} // namespace

bool ScalePicture(const PictureView &src, const PictureView &dst)
{
    if (!IsOddYuv(src)) {
        return ScaleToView(PlanesOf(src), dst, tDecodeSws);
    }
    PictureView padded;
    std::vector<uint8_t> keep = PadToPairs(src, &padded, true);
    Planes s = PlanesOf(padded);
    s.width = src.width;
    return ScaleToView(s, dst, tDecodeSws);
}

bool LibavHasIntraDecoder(OSType cType)
{
    const AVCodecID id = CodecIdOf(cType);
    const AVCodecDescriptor *d = avcodec_descriptor_get(id);
    return id != AV_CODEC_ID_NONE && d && (d->props & AV_CODEC_PROP_INTRA_ONLY)
           && avcodec_find_decoder(id);
}

OSErr LibavDecode(const ImageDescription &desc, const uint8_t *data, int32_t size,
                  const PictureView &dst)
{
    DecoderCache &dec = tDecoder;
    if (!dec.Open(desc)) {
        return noCodecErr;
    }
    // The sample goes into a packet of libavcodec's own, with the padding it reads past the
    // end: one copy, which the decoder then only references (a packet of borrowed bytes it
    // would copy again).
    if (size < 0) {
        return codecBadDataErr;
    }
    if (av_new_packet(dec.packet, size) < 0) {
        return memFullErr;
    }
    std::memcpy(dec.packet->data, data, size_t(size));
    dec.packet->flags = AV_PKT_FLAG_KEY;
    int ret = avcodec_send_packet(dec.ctx, dec.packet);
    if (ret >= 0) {
        ret = avcodec_receive_frame(dec.ctx, dec.frame);
        if (ret == AVERROR(EAGAIN)) {
            // A decoder that holds the frame back gives it up when drained.
            avcodec_send_packet(dec.ctx, nullptr);
            ret = avcodec_receive_frame(dec.ctx, dec.frame);
            avcodec_flush_buffers(dec.ctx);
        }
    }
    av_packet_unref(dec.packet);
    if (ret < 0) {
        avcodec_flush_buffers(dec.ctx);
        return codecBadDataErr;
    }
    AVFrame *f = dec.frame;
    OSErr err = noErr;
    if (f->width <= 0 || f->height <= 0 || f->width > kMaxPictureSide
        || f->height > kMaxPictureSide) {
        err = codecBadDataErr;
    } else {
        Planes s;
        for (int i = 0; i < 4; i++) {
            s.data[i] = f->data[i];
            s.stride[i] = f->linesize[i];
        }
        s.fullRange = f->color_range == AVCOL_RANGE_JPEG;
        s.format = PlainFormat(AVPixelFormat(f->format), &s.fullRange);
        s.width = f->width;
        s.height = f->height;
        PictureView target = dst;
        const CodecSpec *spec = FindCodecSpec(desc.cType);
        if (spec && spec->family == CodecFamily::Dv && s.height == 480 && dst.height == 486
            && dst.width == s.width) {
            // A 486-line NTSC picture: the DV lines in place, black above and below.
            FillBlack(dst);
            target.data += kNtsc486CropTop * dst.rowBytes;
            target.height = s.height;
        }
        if (!ConvertDirect(s, target, true) && !ScaleToView(s, target, tDecodeSws)) {
            err = codecUnimpErr;
        }
    }
    av_frame_unref(f);
    return err;
}

OSErr LibavEncode(OSType cType, const PictureView &src, uint32_t quality, uint8_t *out,
                  int32_t capacity, int32_t *size)
{
    const CodecSpec *spec = FindCodecSpec(cType);
    if (!spec || !spec->canEncode) {
        return noCodecErr;
    }
    const DvFormat *dv = nullptr;
    if (spec->family == CodecFamily::Dv) {
        dv = FindDvFormat(cType, src.width, src.height);
        if (!dv) {
            return codecSizeErr;
        }
    }
    EncoderCache &enc = tEncoder;
    if (!enc.Open(cType, src.width, src.height, dv)) {
        return codecErr;
    }
    if (av_frame_make_writable(enc.frame) < 0) {
        enc.Close();
        return memFullErr;
    }
    Planes d;
    for (int i = 0; i < 4; i++) {
        d.data[i] = enc.frame->data[i];
        d.stride[i] = enc.frame->linesize[i];
    }
    d.fullRange = !dv;
    d.format = PlainFormat(AVPixelFormat(enc.frame->format), &d.fullRange);
    d.width = enc.frame->width;
    d.height = enc.frame->height;
    PictureView picture = src;
    if (dv && dv->cropTop) {
        picture.data += dv->cropTop * picture.rowBytes;
        picture.height = dv->codedHeight;
    }
    if (!ConvertDirect(d, picture, false) && !ScaleFromView(picture, d, tEncodeSws)) {
        return codecUnimpErr;
    }
    enc.frame->pts = enc.pts++;
    if (!dv) {
        enc.frame->quality = JpegScale(quality) * FF_QP2LAMBDA;
    }
    int ret = avcodec_send_frame(enc.ctx, enc.frame);
    if (ret >= 0) {
        ret = avcodec_receive_packet(enc.ctx, enc.packet);
    }
    if (ret < 0) {
        enc.Close(); // a context that kept the frame back must not hand it to the next call
        return codecErr;
    }
    OSErr err = noErr;
    if (enc.packet->size > capacity || (dv && enc.packet->size != dv->frameBytes)) {
        err = codecErr;
    } else {
        std::memcpy(out, enc.packet->data, size_t(enc.packet->size));
        *size = enc.packet->size;
    }
    av_packet_unref(enc.packet);
    return err;
}

int32_t LibavMaxJpegBytes(int width, int height)
{
    // Three bytes a pixel is more than a JPEG frame takes at the finest scale the encoder uses,
    // and fits the callers' frame buffers; small pictures need room for the headers.
    return std::max<int32_t>(int32_t(width) * height * 3, 65536);
}

} // namespace lc::media
