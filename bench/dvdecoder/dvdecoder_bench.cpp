// Whole-frame DVCPRO HD decoding on all processors: full decoding at the coded and the display
// width, and the fast decoding of playback. Frames come from the decoder tests' fixture script.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "dvdecoder/cindrell.h"

namespace {

std::vector<uint8_t> Frame(const char *name)
{
    static const std::string dir = [] {
        const std::string d = std::string(LC_BINARY_DIR) + "/fixtures/dvdecoder";
        const std::string command = "sh '" + std::string(LC_SOURCE_DIR)
                                    + "/tests/fixtures/dvdec_make_frames.sh' '" + d + "'";
        if (std::system(command.c_str()) != 0) {
            std::abort();
        }
        CindrellInit();
        return d;
    }();
    std::ifstream in(dir + "/dvdec_" + name + ".dv", std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void DecodeFrame(benchmark::State &state, const char *name, int format, bool wide, int mode)
{
    const std::vector<uint8_t> frame = Frame(name);
    const int width = wide ? CindrellDisplayWidth(format) : CindrellCodedWidth(format);
    const int lines = CindrellLines(format);
    std::vector<uint8_t> out(size_t((width * 3 + 3) & ~3) * lines);
    for (auto _ : state) {
        lc::Status st = CindrellDecodeFrame(out.data(), width, lines, frame.data(), frame.size(),
                                            out.data(), mode, 0, 0, format, 24, 1, 0);
        if (!st.ok()) {
            state.SkipWithError("decode failed");
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(DecodeFrame, full_1080i60_coded, "1080i60", 1, false, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeFrame, full_1080i60_wide, "1080i60", 1, true, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeFrame, full_720p60_wide, "720p60", 2, true, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeFrame, fast_1080i60_wide, "1080i60", 1, true, 0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeFrame, fast_720p60_wide, "720p60", 2, true, 0)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
