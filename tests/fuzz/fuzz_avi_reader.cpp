// Fuzz target for the AVI reader: open, read every frame and the sound, seek. The input is written
// to a file because the reader works on a file handle.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "formats/avi_reader.h"
#include "formats/formats_hooks.h"
#include "platform/sys/file.h"
#include "tests/support/fuzz_replay.h"

namespace {

constexpr size_t kMaxInput = 4u << 20;
constexpr uint32_t kMaxFramesRead = 2000;

void Quiet(const char *) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) {
        return 0;
    }
    gFormatsHooks.showError = Quiet;
    gFormatsHooks.showWarning = Quiet;
    gFormatsHooks.outputIsAvi = DefaultZero; // sound goes to the default sound buffer
    static const std::string path = lc_test::FuzzWorkPath("fuzz_avi_reader", ".avi");
    if (!lc::WriteWholeFile(path.c_str(), data, size)) {
        return 0;
    }
    static std::vector<uint8_t> buffer(1 << 18);
    uint32_t total = 0;
    int extended = 0;
    AviOpenRead(path.c_str(), &total, &extended);
    uint32_t frames = total < kMaxFramesRead ? total : kMaxFramesRead;
    for (uint32_t i = 0; i <= frames; ++i) {
        (void)AviReadNextFrame(buffer.data(), int(buffer.size()));
    }
    (void)AviReadRemainingAudio();
    AviRewindToMovi();
    (void)AviReadNextFrame(buffer.data(), int(buffer.size()));
    for (uint32_t i = 0; i < frames + 2; i += 1 + frames / 16) {
        if (AviSeekFrame(i)) {
            (void)AviReadSeekedFrame(buffer.data(), int(buffer.size()));
        }
    }
    void *format = nullptr;
    AviCopyStreamFormat(&format);
    std::free(format);
    AviCloseRead();
    ::unlink(path.c_str());
    return 0;
}
