// Fuzz target for the DVCPRO HD decoder. The first byte picks the frame kind, the decode mode
// and the width; the rest is the frame. The frame goes in once as it is (short inputs must fail
// cleanly) and once repeated to the kind's frame size, in exact-size buffers. Built with a replay
// main that ctest runs over fuzz_dv_corpus/; with -DLC_LIBFUZZER it links against libFuzzer.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dvdecoder/cindrell.h"
#include "platform/sys/file.h"
#include "tests/support/fuzz_replay.h"

namespace {

constexpr size_t kMaxInput = 1u << 20;

void Decode(const std::vector<uint8_t> &frame, int format, int mode, int width)
{
    const int lines = CindrellLines(format);
    std::vector<uint8_t> out(size_t((width * 3 + 3) & ~3) * lines);
    (void)CindrellDecodeFrame(out.data(), width, lines, frame.data(), frame.size(), out.data(),
                              mode, 0, 0, format, 24, 1, 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > kMaxInput) {
        return 0;
    }
    static const bool ready = [] {
        CindrellInit();
        return true;
    }();
    (void)ready;
    const int format = 1 + (data[0] & 3);
    const int mode = (data[0] >> 2) & 1;
    const int width = (data[0] & 8) ? CindrellDisplayWidth(format) : CindrellCodedWidth(format);
    std::vector<uint8_t> frame(data + 1, data + size);
    Decode(frame, format, mode, width);
    if (!frame.empty()) {
        std::vector<uint8_t> full(CindrellFrameBytes(format));
        for (size_t i = 0; i < full.size(); ++i) {
            full[i] = frame[i % frame.size()];
        }
        Decode(full, format, mode, width);
    }
    return 0;
}

#ifndef LC_LIBFUZZER
int main(int argc, char **argv)
{
    return lc_test::ReplayFuzzInputs(argc, argv, kMaxInput, LLVMFuzzerTestOneInput);
}
#endif
