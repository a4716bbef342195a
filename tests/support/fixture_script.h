#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lc_test {

// Runs a program (no shell) with the test's own output streams; its exit status, or -1 when
// it could not be started or did not exit.
int RunCommand(const std::vector<std::string> &argv);

// Runs a fixture script into `dir` once across the test processes ctest runs side by side: under
// a lock in `dir`, and only when `stamp` is missing or older than `script` (so an edited script
// makes its fixtures again). `dir` and its parents are made. The stamp is written when the
// command succeeds; false (with a line on the error stream) when it fails.
bool MakeFixturesOnce(const std::string &dir, const std::string &stamp, const std::string &script,
                      const std::vector<std::string> &argv);

// The whole file's bytes; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string &path);

} // namespace lc_test
