#include "tests/support/fuzz_replay.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

#include "platform/sys/file.h"

namespace lc_test {

int ReplayFuzzInputs(int argc, char **argv, size_t maxInput,
                     int (*one)(const uint8_t *data, size_t size))
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
            one(reinterpret_cast<const uint8_t *>(b.data()), b.size());
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}

std::string FuzzWorkPath(const char *name, const char *suffix)
{
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name + "_" + std::to_string(::getpid())
           + suffix;
}

} // namespace lc_test
