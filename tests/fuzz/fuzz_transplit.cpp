// Fuzz target for the transport-stream audio extractor: the input is the source stream, written
// to a file because the extractor reads a file.
// Built with a replay main that ctest runs over fuzz_transplit_corpus/; with -DLC_LIBFUZZER it links
// against libFuzzer instead.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

#include "mp2decode/transplit.h"
#include "platform/sys/file.h"

namespace {

constexpr size_t kMaxInput = 1u << 20;

std::string WorkPath(const char *suffix)
{
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/fuzz_transplit_" + std::to_string(::getpid()) + suffix;
}

int Call(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return TransplitMain(int(args.size()), argv.data());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) {
        return 0;
    }
    std::string in = WorkPath(".in");
    std::string out = WorkPath(".mp2");
    if (!lc::WriteWholeFile(in.c_str(), data, size)) {
        return 0;
    }
    (void)Call({"transplit", in, out});
    ::unlink(in.c_str());
    ::unlink(out.c_str());
    return 0;
}

#ifndef LC_LIBFUZZER
// Replays every file of the folders (or files) named on the command line.
int main(int argc, char **argv)
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
            auto bytes = lc::ReadWholeFile(f.c_str(), kMaxInput);
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
#endif
