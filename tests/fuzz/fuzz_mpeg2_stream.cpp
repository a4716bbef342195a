// Fuzz target for the MPEG-2 input: stream detection, demultiplexer, headers and picture decoding,
// in a preview run and then a processing run with program-stream audio taken. The input is written
// to a file because the decoder reads a file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "mpeg2/mpeg2_hooks.h"
#include "mpeg2/mpeg_audio_sink.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "mpeg2/mpeg_picture_output.h"
#include "mpeg2/mpeg_stream_info.h"
#include "platform/sys/clock.h"
#include "platform/sys/file.h"
#include "tests/support/fuzz_replay.h"

namespace {

constexpr size_t kMaxInput = 1u << 20;

std::string TempBase()
{
    return lc_test::FuzzWorkPath("fuzz_mpeg2", "");
}

const char *BaseName()
{
    static const std::string base = TempBase();
    return base.c_str();
}

// Reads every sample of the handed-over planes, so a wrong geometry shows under ASan.
volatile unsigned gSink = 0;
void TouchPlanes(const uint8_t *const planes[3], const MpegPictureRecord &, int)
{
    const MpegStreamInfo &si = gMpegStreamInfo;
    size_t luma = size_t(si.codedWidth.load()) * size_t(si.codedHeight.load());
    unsigned sum = 0;
    for (size_t i = 0; i < luma; i += 61) {
        sum += planes[0][i];
    }
    gSink = gSink + sum;
}

// An AC-3 stand-in that appends one frame of silence per packet, as the real one may.
int FakeDecode(const uint8_t *, int length, int outCount, int, int *consumed)
{
    *consumed = length;
    return outCount + 6144 <= kMpegTrackBufferBytes ? outCount + 6144 : outCount;
}

void WaitIdle()
{
    while (IsMpegDecoderRunning()) {
        lc::SleepMs(1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) {
        return 0;
    }
    gMpegPictureSink.prepareFrame = TouchPlanes;
    gMpegAudioSink.ac3DecodeTrack = FakeDecode;
    gMpeg2Hooks.outputBaseName = BaseName;
    gMpeg2Hooks.sourceIsPal = [] { return 1; };
    std::string path = TempBase() + ".mpg";
    if (!lc::WriteWholeFile(path.c_str(), data, size)) {
        return 0;
    }
    gMpegDecoderControl.pictureCount = 0;
    OpenMpegAndStartDecoder(path.c_str());
    WaitIdle();
    SelectProcessingModeForMpeg();
    gMpegDecoderControl.seekPercent = 0;
    ClearSequenceSeen();
    StartOrPauseMpegDecoding();
    WaitIdle();
    ResetMpegAudioTracks(); // closes the track files the run made
    ResetMpegInputFile();
    for (int t = 2; t <= 8; ++t) {
        ::unlink((TempBase() + "-Track" + std::to_string(t) + ".wav").c_str());
    }
    ::unlink("decode.wav");
    ::unlink(path.c_str());
    return 0;
}
