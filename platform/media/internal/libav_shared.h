#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "platform/media/media_types.h"

// libavcodec pieces the codec registry shares with the video compressor layer.

namespace lc::media {

// The full-range JPEG formats are their plain twins with a full-range flag: libswscale is given
// the plain format and the range.
inline AVPixelFormat PlainFormat(AVPixelFormat f, bool *fullRange)
{
    switch (f) {
    case AV_PIX_FMT_YUVJ420P:
        *fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        *fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        *fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        *fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        *fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return f;
    }
}

// A codec context with its frame and packet, made for one code.
struct CodecBox
{
    AVCodecContext *ctx = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    OSType cType = 0;

    CodecBox() = default;
    CodecBox(const CodecBox &) = delete;
    CodecBox &operator=(const CodecBox &) = delete;
    ~CodecBox() { Close(); }
    void Close()
    {
        avcodec_free_context(&ctx);
        av_frame_free(&frame);
        av_packet_free(&packet);
        cType = 0;
    }
    bool Alloc(const AVCodec *codec)
    {
        Close();
        ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
        frame = av_frame_alloc();
        packet = av_packet_alloc();
        if (!ctx || !frame || !packet) {
            Close();
            return false;
        }
        ctx->thread_count = 1;
        return true;
    }
};

} // namespace lc::media
