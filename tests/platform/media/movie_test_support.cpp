#include "movie_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/fixture_script.h"

int RunProgram(const std::vector<std::string> &argv, std::string *out, std::string *err)
{
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
        return -1;
    }
    pid_t pid = fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        std::vector<char *> args;
        for (const auto &a : argv) {
            args.push_back(const_cast<char *>(a.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    // Drain both pipes; stderr is small, so read stdout first then stderr.
    std::string o, e;
    char buf[65536];
    ssize_t n;
    while ((n = read(outPipe[0], buf, sizeof buf)) > 0) {
        o.append(buf, size_t(n));
    }
    while ((n = read(errPipe[0], buf, sizeof buf)) > 0) {
        e.append(buf, size_t(n));
    }
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (out) {
        *out = o;
    }
    if (err) {
        *err = e;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string &MediaFixtureDir()
{
    // Made again when the script is newer than what it made.
    static const std::string dir = [] {
        std::string out = std::string(LC_BINARY_DIR) + "/fixtures/media/";
        std::string script = std::string(LC_SOURCE_DIR) + "/tests/fixtures/media_make_fixtures.sh";
        if (!lc_test::MakeFixturesOnce(out, out + ".made", script, {"sh", script, out})) {
            std::fprintf(stderr, "media_make_fixtures.sh failed\n");
        }
        return out;
    }();
    return dir;
}

std::string Fixture(const char *name) { return MediaFixtureDir() + name; }

std::vector<ProbePacket> ProbePackets(const std::string &path, int stream)
{
    std::string out;
    RunProgram({"ffprobe", "-v", "error", "-select_streams", std::to_string(stream), "-show_entries",
                "packet=pts,duration,size,pos", "-of", "csv=p=0", path},
               &out);
    std::vector<ProbePacket> packets;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        ProbePacket p;
        long long a = 0, b = 0, c = 0, d = 0;
        if (std::sscanf(line.c_str(), "%lld,%lld,%lld,%lld", &a, &b, &c, &d) == 4) {
            p.pts = a;
            p.duration = b;
            p.size = c;
            p.pos = d;
            packets.push_back(p);
        }
    }
    return packets;
}

void ToPascal(const std::string &path, unsigned char out[256])
{
    size_t n = std::min<size_t>(path.size(), 255);
    out[0] = uint8_t(n);
    std::memcpy(out + 1, path.data(), n);
}

OSErr OpenMoviePath(const std::string &path, Movie *movie)
{
    *movie = nullptr;
    unsigned char name[256];
    ToPascal(path, name);
    FSSpec spec;
    OSErr err = FSMakeFSSpec(0, 0, name, &spec);
    if (err != noErr) {
        return err;
    }
    short ref = 0;
    err = OpenMovieFile(&spec, &ref, fsRdPerm);
    if (err != noErr) {
        return err;
    }
    err = NewMovieFromFile(movie, ref, nullptr, nullptr, newMovieActive, nullptr);
    CloseMovieFile(ref);
    return err;
}

std::vector<uint8_t> FileBytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::string ScratchDir()
{
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string dir = std::string(LC_BINARY_DIR) + "/scratch/";
    mkdir(dir.c_str(), 0755);
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char &c : name) {
        if (c == '/') {
            c = '_'; // parameterised names
        }
    }
    dir += name;
    RunProgram({"rm", "-rf", dir}, nullptr);
    mkdir(dir.c_str(), 0755);
    return dir + "/";
}

std::string TestNameOf(const char *file)
{
    std::string n = file;
    for (char &ch : n) {
        if (!isalnum(static_cast<unsigned char>(ch))) {
            ch = '_';
        }
    }
    return n;
}
