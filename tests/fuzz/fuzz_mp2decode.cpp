// Fuzz target for the MPEG audio decoder front end: the input is the MPEG audio file, decoded to
// AIFF with the converter's arguments.
#include <cstdint>
#include <string>
#include <vector>

#include "mp2decode/player.h"
#include "tests/fuzz/fuzz_command_line.h"

namespace {
constexpr size_t kMaxInput = 1u << 20;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size <= kMaxInput) {
        FuzzCommandLine(Mp2DecodeMain, "fuzz_mp2decode", ".aiff", data, size,
                        [](const std::string &in, const std::string &out) {
                            return std::vector<std::string>{"mp2decode", in, "-Q", "-o", out};
                        });
    }
    return 0;
}
