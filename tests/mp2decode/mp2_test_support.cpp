#include "tests/mp2decode/mp2_test_support.h"

#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/fixture_script.h"

namespace mp2_test {

namespace {

const std::string &FixtureDir()
{
    static const std::string dir = [] {
        std::string out = std::string(LC_BINARY_DIR) + "/fixtures/mp2";
        std::string script = std::string(LC_SOURCE_DIR) + "/tests/fixtures/mp2_make_fixtures.sh";
        if (!lc_test::MakeFixturesOnce(out, out + "/.made", script, {"sh", script, out})) {
            ADD_FAILURE() << "mp2_make_fixtures.sh failed";
        }
        return out;
    }();
    return dir;
}

uint32_t Be32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

} // namespace

std::string Fixture(const char *name)
{
    return FixtureDir() + "/" + name;
}

std::string WorkDir(const char *name)
{
    std::string dir = std::string(LC_BINARY_DIR) + "/mp2_work";
    (void)mkdir(dir.c_str(), 0755);
    // Not "/" + std::string(...): GCC 12 -O2 warns falsely of an overlapping copy there.
    dir += std::string("/") + name + "_" + std::to_string(getpid());
    (void)mkdir(dir.c_str(), 0755);
    return dir;
}

std::vector<uint8_t> ReadFile(const std::string &path)
{
    return lc_test::ReadFileBytes(path);
}

void WriteFile(const std::string &path, const std::vector<uint8_t> &data)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!data.empty()) {
        ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
    }
    std::fclose(f);
}

bool RunTool(const std::vector<std::string> &argv, const std::string &stdoutPath)
{
    std::vector<char *> args;
    for (const std::string &a : argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (!stdoutPath.empty()) {
            int fd = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 1) < 0) {
                _exit(126);
            }
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)
           && WEXITSTATUS(status) == 0;
}

int CallMain(int (*entry)(int, char **), std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return entry(int(args.size()), argv.data());
}

std::vector<int16_t> S16Be(const uint8_t *data, size_t bytes)
{
    std::vector<int16_t> v(bytes / 2);
    for (size_t i = 0; i < v.size(); ++i) {
        v[i] = int16_t(uint16_t(data[2 * i] << 8 | data[2 * i + 1]));
    }
    return v;
}

Aiff ReadAiff(const std::string &path)
{
    Aiff a;
    std::vector<uint8_t> d = ReadFile(path);
    a.fileSize = d.size();
    if (d.size() < 54 || std::memcmp(d.data(), "FORM", 4) != 0
        || std::memcmp(d.data() + 8, "AIFFCOMM", 8) != 0 || Be32(&d[16]) != 18
        || std::memcmp(d.data() + 38, "SSND", 4) != 0) {
        return a;
    }
    a.formSize = Be32(&d[4]);
    a.channels = unsigned(d[20] << 8 | d[21]);
    a.frames = Be32(&d[22]);
    a.bits = unsigned(d[26] << 8 | d[27]);
    std::memcpy(a.rate, &d[28], 10);
    a.soundSize = Be32(&d[42]);
    if (a.soundSize < 8 || a.soundSize - 8 > d.size() - 54) {
        return a;
    }
    a.data.assign(d.begin() + 54, d.begin() + 54 + (a.soundSize - 8));
    a.ok = true;
    return a;
}

} // namespace mp2_test
