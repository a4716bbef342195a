// The main of the fuzz targets outside the libFuzzer build: replays the inputs named on the
// command line. Each target drops inputs above its own size cap.
#include <cstddef>
#include <cstdint>

#include "tests/support/fuzz_replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    return lc_test::ReplayFuzzInputs(argc, argv, size_t(64) << 20, LLVMFuzzerTestOneInput);
}
