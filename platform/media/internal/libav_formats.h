#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace lc::media {

// The full-range JPEG formats are their plain twins with a full-range flag: libswscale is given
// the plain format and the range. Shared with the video compressor layer.
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

} // namespace lc::media
