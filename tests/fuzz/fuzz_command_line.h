#pragma once

// The replay main of the MPEG audio fuzz targets: replays every file of the folders (or files)
// named on the command line through LLVMFuzzerTestOneInput.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/sys/file.h"
#include "tests/support/fuzz_replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

inline int ReplayFuzzInputs(int argc, char **argv, size_t maxInput)
{
    return lc_test::ReplayFuzzInputs(argc, argv, maxInput, LLVMFuzzerTestOneInput);
}

// Writes the input to a work file (the tools read files), calls entry with the arguments that
// makeArgs builds from the input and output paths, and removes both files.
template <typename MakeArgs>
void FuzzCommandLine(int (*entry)(int, char **), const char *name, const char *outSuffix,
                     const uint8_t *data, size_t size, MakeArgs makeArgs)
{
    const char *dir = std::getenv("TMPDIR");
    std::string base =
        std::string(dir ? dir : "/tmp") + "/" + name + "_" + std::to_string(::getpid());
    std::string in = base + ".in";
    std::string out = base + outSuffix;
    if (!lc::WriteWholeFile(in.c_str(), data, size)) {
        return;
    }
    std::vector<std::string> args = makeArgs(in, out);
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    (void)entry(int(args.size()), argv.data());
    ::unlink(in.c_str());
    ::unlink(out.c_str());
}
