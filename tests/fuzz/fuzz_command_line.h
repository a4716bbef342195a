#pragma once

// For the targets whose entry is a command-line tool that reads and writes files.
#include <cstdint>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/sys/file.h"
#include "tests/support/fuzz_replay.h"

// Writes the input to a work file, calls entry with the arguments that makeArgs builds from the
// input and output paths, and removes both files.
template <typename MakeArgs>
void FuzzCommandLine(int (*entry)(int, char **), const char *name, const char *outSuffix,
                     const uint8_t *data, size_t size, MakeArgs makeArgs)
{
    std::string in = lc_test::FuzzWorkPath(name, ".in");
    std::string out = lc_test::FuzzWorkPath(name, outSuffix);
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
