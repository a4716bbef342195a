// Pictures/s of the MPEG-2 decoder on whole streams (SD NTSC program stream, PAL transport
// stream) and blocks/s of the inverse DCT.
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "mpeg2/mpeg_idct.h"
#include "mpeg2/mpeg_picture_output.h"
#include "platform/sys/clock.h"
#include "platform/sys/file.h"

namespace {

int gPictures = 0;
void Count(const uint8_t *const[3], const MpegPictureRecord &, int)
{
    ++gPictures;
}

std::string Stream(const char *name)
{
    std::string dir = std::string(LC_BINARY_DIR) + "/fixtures/mpeg2";
    std::string path = dir + "/" + name;
    if (!lc::IsDirectory(dir.c_str())) {
        std::string cmd =
            std::string("sh ") + LC_SOURCE_DIR + "/tests/fixtures/mpeg2_make_fixtures.sh " + dir;
        if (std::system(cmd.c_str()) != 0) {
            return {};
        }
    }
    return path;
}

void DecodeStream(benchmark::State &state, const char *name)
{
    std::string path = Stream(name);
    if (path.empty()) {
        state.SkipWithError("ffmpeg could not make the stream");
        return;
    }
    gMpegPictureSink.prepareFrame = Count;
    OpenMpegAndStartDecoder(path.c_str());
    while (IsMpegDecoderRunning()) {
        lc::SleepMs(1);
    }
    int64_t pictures = 0;
    for (auto _ : state) {
        gPictures = 0;
        StartOrPauseMpegDecoding();
        while (IsMpegDecoderRunning()) {
            lc::SleepMs(1);
        }
        pictures += gPictures;
    }
    state.counters["pictures/s"] =
        benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
    ResetMpegInputFile();
}

void BM_DecodeNtscProgramStream(benchmark::State &state)
{
    DecodeStream(state, "mpeg2_ntsc_vob.vob");
}
BENCHMARK(BM_DecodeNtscProgramStream)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DecodePalTransportStream(benchmark::State &state)
{
    DecodeStream(state, "mpeg2_pal_ts.ts");
}
BENCHMARK(BM_DecodePalTransportStream)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IdctBlock(benchmark::State &state)
{
    std::mt19937 rng(1);
    alignas(16) int16_t blocks[64][64];
    for (auto &b : blocks) {
        for (int i = 0; i < 64; ++i) {
            b[i] = int16_t(i < 10 ? int(rng() % 512) - 256 : 0);
        }
    }
    alignas(16) int16_t work[64];
    size_t n = 0;
    for (auto _ : state) {
        for (int i = 0; i < 64; ++i) {
            work[i] = blocks[n & 63][i];
        }
        IdctBlock(work);
        benchmark::DoNotOptimize(work);
        ++n;
    }
    state.SetItemsProcessed(int64_t(n));
}
BENCHMARK(BM_IdctBlock);

} // namespace

BENCHMARK_MAIN();
