#include "tests/support/fixture_script.h"

#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lc_test {

namespace {

int64_t ModifiedTime(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_mtime) : -1;
}

void MakeFolders(const std::string &dir)
{
    for (size_t at = dir.find('/', 1); at != std::string::npos; at = dir.find('/', at + 1)) {
        (void)::mkdir(dir.substr(0, at).c_str(), 0755);
    }
    (void)::mkdir(dir.c_str(), 0755);
}

} // namespace

int RunCommand(const std::vector<std::string> &argv)
{
    if (argv.empty()) {
        return -1;
    }
    std::vector<char *> args;
    for (const std::string &a : argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

bool MakeFixturesOnce(const std::string &dir, const std::string &stamp, const std::string &script,
                      const std::vector<std::string> &argv)
{
    MakeFolders(dir);
    // One process makes the fixtures; the others wait for it here.
    int lock = ::open((dir + "/.lock").c_str(), O_CREAT | O_RDWR, 0644);
    if (lock >= 0) {
        (void)::flock(lock, LOCK_EX);
    }
    bool ok = true;
    if (ModifiedTime(stamp) < ModifiedTime(script)) {
        ok = RunCommand(argv) == 0;
        if (ok) {
            if (FILE *f = std::fopen(stamp.c_str(), "w")) {
                std::fclose(f);
            }
        } else {
            std::fprintf(stderr, "fixture script failed: %s\n", script.c_str());
        }
    }
    if (lock >= 0) {
        (void)::flock(lock, LOCK_UN);
        ::close(lock);
    }
    return ok;
}

std::vector<uint8_t> ReadFileBytes(const std::string &path)
{
    std::vector<uint8_t> data;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return data;
    }
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        data.insert(data.end(), buf, buf + n);
    }
    std::fclose(f);
    return data;
}

} // namespace lc_test
