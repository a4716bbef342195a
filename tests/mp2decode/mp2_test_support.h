#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mp2_test {

// Path of a fixture made by tests/fixtures/mp2_make_fixtures.sh into the build tree; the script
// runs once per build tree (again when it changes).
std::string Fixture(const char *name);
// A fresh folder for one test's work files.
std::string WorkDir(const char *name);

std::vector<uint8_t> ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::vector<uint8_t> &data);
// Runs a program with no shell; true when it exits with status 0. Standard output goes to
// stdoutPath when given.
bool RunTool(const std::vector<std::string> &argv, const std::string &stdoutPath = "");

// Calls an entry function that takes (argc, argv) with these arguments.
int CallMain(int (*entry)(int, char **), std::vector<std::string> args);

// 16-bit samples, big-endian bytes to values.
std::vector<int16_t> S16Be(const uint8_t *data, size_t bytes);

struct Aiff
{
    bool ok = false;
    uint32_t formSize = 0;
    unsigned channels = 0;
    uint32_t frames = 0;
    unsigned bits = 0;
    uint8_t rate[10] = {};
    uint32_t soundSize = 0;
    std::vector<uint8_t> data; // the sample bytes (soundSize - 8)
    size_t fileSize = 0;
};
// Reads the fixed 54-byte layout the AIFF module writes.
Aiff ReadAiff(const std::string &path);

} // namespace mp2_test
