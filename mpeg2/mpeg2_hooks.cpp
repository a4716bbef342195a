#include "mpeg2/mpeg2_hooks.h"

#include <cstdarg>
#include <cstdio>

#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_stream_info.h"
#include "platform/sys/debug_trace.h"

Mpeg2Hooks gMpeg2Hooks;
MpegDecoderControl gMpegDecoderControl;
MpegStreamInfo gMpegStreamInfo;

void DebugTrace(const char *fmt, ...)
{
    char line[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    if (gMpeg2Hooks.debugOutput) {
        gMpeg2Hooks.debugOutput(line);
    } else {
        lc::DebugTrace("%s", line);
    }
}

int MpegProcessRunning()
{
    return gMpeg2Hooks.processRunning ? gMpeg2Hooks.processRunning() : 0;
}

int MpegPassesLeft()
{
    return gMpeg2Hooks.passesLeft ? gMpeg2Hooks.passesLeft() : 1;
}

void MpegShowError(const char *text)
{
    if (gMpeg2Hooks.showError) {
        gMpeg2Hooks.showError(text);
    }
}

void RaiseMpegFault(int code)
{
    std::atomic<int> &f = gMpegDecoderControl.faultCode;
    int now = f.load(std::memory_order_relaxed);
    if (code > now) {
        f.store(code, std::memory_order_relaxed);
    }
}

void ClearRecoverableMpegFault()
{
    std::atomic<int> &f = gMpegDecoderControl.faultCode;
    if (f.load(std::memory_order_relaxed) < kMpegFaultRunEnds) {
        f.store(0, std::memory_order_relaxed);
    }
}
