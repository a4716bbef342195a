// Fuzz target for the transport-stream audio extractor: the input is the source stream.
// Built with a replay main that ctest runs over fuzz_transplit_corpus/; with -DLC_LIBFUZZER it
// links against libFuzzer instead.
#include <cstdint>
#include <string>
#include <vector>

#include "mp2decode/transplit.h"
#include "tests/fuzz/fuzz_mp2_replay.h"

namespace {
constexpr size_t kMaxInput = 1u << 20;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size <= kMaxInput) {
        FuzzCommandLine(TransplitMain, "fuzz_transplit", ".mp2", data, size,
                        [](const std::string &in, const std::string &out) {
                            return std::vector<std::string>{"transplit", in, out};
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
