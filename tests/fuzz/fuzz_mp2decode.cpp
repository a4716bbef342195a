// Fuzz target for the MPEG audio decoder front end: the input is the MPEG audio file, decoded
// to AIFF with the converter's arguments.
// Built with a replay main that ctest runs over fuzz_mp2decode_corpus/; with -DLC_LIBFUZZER it
// links against libFuzzer instead.
#include <cstdint>
#include <string>
#include <vector>

#include "mp2decode/player.h"
#include "tests/fuzz/fuzz_mp2_replay.h"

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

#ifndef LC_LIBFUZZER
int main(int argc, char **argv)
{
    return ReplayFuzzInputs(argc, argv, kMaxInput);
}
#endif
