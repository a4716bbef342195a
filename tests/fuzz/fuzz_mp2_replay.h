#pragma once

// The replay main of the MPEG audio fuzz targets: replays every file of the folders (or files)
// named on the command line through LLVMFuzzerTestOneInput.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

#include "platform/sys/file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

inline int ReplayFuzzInputs(int argc, char **argv, size_t maxInput)
{
    int replayed = 0;
    for (int a = 1; a < argc; ++a) {
        std::vector<std::string> files;
        if (DIR *d = ::opendir(argv[a])) {
            while (dirent *e = ::readdir(d)) {
                if (e->d_name[0] != '.') {
                    files.push_back(std::string(argv[a]) + "/" + e->d_name);
                }
            }
            ::closedir(d);
        } else {
            files.push_back(argv[a]);
        }
        for (const std::string &f : files) {
            auto bytes = lc::ReadWholeFile(f.c_str(), maxInput);
            if (!bytes) {
                std::fprintf(stderr, "cannot read %s\n", f.c_str());
                return 1;
            }
            const std::string &b = *bytes;
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(b.data()), b.size());
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
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
