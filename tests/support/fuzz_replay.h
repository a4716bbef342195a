#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lc_test {

// The replay main of the fuzz targets: every file of the folders (or the files) named on the
// command line, each read up to maxInput bytes, through one. Non-zero when a file cannot be read
// or nothing was replayed.
int ReplayFuzzInputs(int argc, char **argv, size_t maxInput,
                     int (*one)(const uint8_t *data, size_t size));

// A work file of this process for the targets whose parser reads files: $TMPDIR (or /tmp), the
// name, the process id and the suffix. The same path on every call.
std::string FuzzWorkPath(const char *name, const char *suffix);

} // namespace lc_test
