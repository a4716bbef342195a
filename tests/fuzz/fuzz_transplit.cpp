// Fuzz target for the transport-stream audio extractor: the input is the source stream.
#include <cstdint>
#include <string>
#include <vector>

#include "mp2decode/transplit.h"
#include "tests/fuzz/fuzz_command_line.h"

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
