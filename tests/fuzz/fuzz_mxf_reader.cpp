// Fuzz target for the MXF clip reader: open, then decode a few frames of the essence through the
// DV25 route. The input is written to a file because the reader works on a file handle.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "formats/dv_setup.h"
#include "formats/formats_hooks.h"
#include "formats/mxf_reader.h"
#include "platform/sys/file.h"
#include "tests/support/fuzz_replay.h"

namespace {

constexpr size_t kMaxInput = 4u << 20;
constexpr int kWidth = 720, kHeight = 576;

void Quiet(const char *) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) {
        return 0;
    }
    gFormatsHooks.showError = Quiet;
    gFormatsHooks.showWarning = Quiet;
    // One set-up for every input: the frame size the file claims does not change the buffers.
    static const int ready = SetupDecoderForFrameSize(kHeight, kWidth, 144000);
    static std::vector<uint8_t> picture(size_t(kWidth) * kHeight * 3);
    static const std::string path = lc_test::FuzzWorkPath("fuzz_mxf_reader", ".mxf");
    if (!lc::WriteWholeFile(path.c_str(), data, size)) {
        return 0;
    }
    uint64_t duration = 0;
    int height = 0, width = 0, quantBits = 0, frameBytes = 0;
    float frameRate = 0, aspect = 0;
    const int kind = MxfOpen(path.c_str(), &duration, &height, &width, &quantBits, &frameRate,
                             &frameBytes, &aspect);
    if (kind == MxfVideoFile && ready) {
        for (uint64_t i : {uint64_t(0), uint64_t(1), duration - 1, duration}) {
            MxfDecodeFrameAt(int(i & 0x7fffffff), kWidth, kHeight, picture.data(), 1);
        }
    }
    MxfClose();
    while (gMxfClipState.audioFileCount > 0) {
        MxfCloseAudio();
    }
    ::unlink(path.c_str());
    return 0;
}
