#include "tests/formats/formats_test_support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "formats/formats_hooks.h"
#include "tests/support/fixture_script.h"

extern char **environ;

namespace fmt_test {

namespace {

std::string BuildDir()
{
    return LC_BINARY_DIR;
}
std::string SourceDir()
{
    return LC_SOURCE_DIR;
}

uint32_t Rotl(uint32_t x, int c)
{
    return (x << c) | (x >> (32 - c));
}

} // namespace

std::string FixtureDir()
{
    std::string dir = BuildDir() + "/fixtures_formats";
    std::string script = SourceDir() + "/tests/fixtures/formats_make_avi.py";
    if (!lc_test::MakeFixturesOnce(dir, dir + "/.small_done", script, {"python3", script, dir})) {
        return "";
    }
    return dir;
}

std::string LargeFixture()
{
    std::string dir = BuildDir() + "/fixtures_formats";
    std::string script = SourceDir() + "/tests/fixtures/formats_make_avi.py";
    if (!lc_test::MakeFixturesOnce(dir, dir + "/.large_done", script,
                                   {"python3", script, dir, "--large"})) {
        return "";
    }
    return dir + "/formats_large.avi";
}

std::string ScratchDir(const std::string &name)
{
    std::string base = BuildDir() + "/scratch_formats";
    ::mkdir(base.c_str(), 0755);
    std::string dir = base + "/" + name;
    ::mkdir(dir.c_str(), 0755);
    return dir;
}

namespace {
std::vector<FrameHash> ParseFrameMd5(std::istream &in)
{
    std::vector<FrameHash> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        // stream, dts, pts, duration, size, hash
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string item;
        while (std::getline(ss, item, ',')) {
            size_t a = item.find_first_not_of(' ');
            f.push_back(a == std::string::npos ? "" : item.substr(a));
        }
        if (f.size() >= 6 && f[0] == "0") {
            out.push_back({uint32_t(std::stoul(f[4])), f[5], std::stoll(f[2])});
        }
    }
    return out;
}
} // namespace

std::vector<FrameHash> ReadFrameMd5(const std::string &path)
{
    std::ifstream in(path + ".framemd5");
    return ParseFrameMd5(in);
}

std::vector<FrameHash> FfmpegFrameMd5(const std::string &path)
{
    std::string out = path + ".ours.framemd5";
    RunProgram({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i", path, "-map", "0:v",
                "-c", "copy", "-f", "framemd5", out});
    std::ifstream in(out);
    return ParseFrameMd5(in);
}

namespace {
void Md5Block(uint32_t h[4], const uint8_t *p)
{
    static const int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                   5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                   4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                   6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    static const std::vector<uint32_t> k = [] {
        std::vector<uint32_t> t(64);
        for (int i = 0; i < 64; ++i) {
            t[size_t(i)] = uint32_t(std::floor(std::fabs(std::sin(double(i + 1))) * 4294967296.0));
        }
        return t;
    }();
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) {
        const uint8_t *q = p + 4 * i;
        w[i] = uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16 | uint32_t(q[3]) << 24;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + k[size_t(i)] + w[g], kShift[i]);
        a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
}
} // namespace

std::string Md5Hex(const uint8_t *data, size_t n)
{
    uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    size_t whole = n / 64 * 64;
    for (size_t off = 0; off < whole; off += 64) {
        Md5Block(h, data + off);
    }
    std::vector<uint8_t> tail(data + whole, data + n);
    tail.push_back(0x80);
    while (tail.size() % 64 != 56) {
        tail.push_back(0);
    }
    uint64_t bits = uint64_t(n) * 8;
    for (int i = 0; i < 8; ++i) {
        tail.push_back(uint8_t(bits >> (8 * i)));
    }
    for (size_t off = 0; off < tail.size(); off += 64) {
        Md5Block(h, tail.data() + off);
    }
    char hex[33];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(hex + 2 * i, 3, "%02x", unsigned(h[i / 4] >> (8 * (i % 4))) & 0xff);
    }
    return hex;
}

int RunProgram(const std::vector<std::string> &argv, std::string *output)
{
    std::string log = BuildDir() + "/scratch_formats_run_" + std::to_string(::getpid()) + ".log";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    std::vector<char *> args;
    for (const std::string &a : argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (output) {
        std::vector<uint8_t> b = ReadFile(log);
        output->assign(b.begin(), b.end());
    }
    ::unlink(log.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

void TurnOver(uint8_t *frame, size_t stride, size_t rows)
{
    std::vector<uint8_t> row(stride);
    for (size_t top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
        std::memcpy(row.data(), frame + top * stride, stride);
        std::memcpy(frame + top * stride, frame + bottom * stride, stride);
        std::memcpy(frame + bottom * stride, row.data(), stride);
    }
}

// --- fake passes ---

FakePasses &Fake()
{
    static FakePasses fake;
    return fake;
}

namespace {
void FakeError(const char *t)
{
    Fake().errors.push_back(t);
}
void FakeWarning(const char *t)
{
    Fake().warnings.push_back(t);
}
int FakePassesLeft()
{
    return Fake().passesLeft;
}
int FakeNtsc()
{
    return Fake().sourceIsNtsc;
}
int FakeOutputIsAvi()
{
    return Fake().outputIsAvi;
}
uint8_t *FakeEnsure(int n)
{
    if (Fake().soundBuffer.size() < size_t(n)) {
        Fake().soundBuffer.assign(size_t(n), 0xEE); // old contents are not kept
    }
    Fake().soundBuffer.resize(size_t(n));
    return Fake().soundBuffer.data();
}
void FakeSampleCount(int n)
{
    Fake().sampleCount = n;
}
int FakeAdd()
{
    FakePasses &f = Fake();
    f.addedSampleCounts.push_back(f.sampleCount);
    f.added.insert(f.added.end(), f.soundBuffer.begin(), f.soundBuffer.end());
    return f.addResult;
}
void FakeReset()
{
    Fake().writeIndex = 0;
    Fake().readPosition = 0;
}
void FakeBigEndian(int) {}
void FakeWriteRing(const int16_t *s, uint32_t bytes, int)
{
    FakePasses &f = Fake();
    f.ringBytesIn += bytes;
    for (uint32_t i = 0; i < bytes / 4; ++i) {
        f.frames[size_t(f.writeIndex) * 2] = s[2 * i];
        f.frames[size_t(f.writeIndex) * 2 + 1] = s[2 * i + 1];
        f.writeIndex = (f.writeIndex + 1) % FakePasses::kEntries;
    }
}
uint32_t FakeAvailable(int)
{
    FakePasses &f = Fake();
    uint32_t whole = f.readPosition / 960;
    uint32_t frames = (f.writeIndex + FakePasses::kEntries - whole) % FakePasses::kEntries;
    return uint32_t(uint64_t(frames) * 960 / 1001) * 4;
}
void FakeReadRing(int16_t *dst, uint32_t bytes, int)
{
    FakePasses &f = Fake();
    for (uint32_t k = 0; k < bytes / 4; ++k) {
        uint32_t whole = f.readPosition / 960;
        int r = int(f.readPosition % 960);
        uint32_t next = (whole + 1) % FakePasses::kEntries;
        for (int c = 0; c < 2; ++c) {
            int a = f.frames[size_t(whole) * 2 + size_t(c)];
            int b = f.frames[size_t(next) * 2 + size_t(c)];
            dst[2 * k + c] = int16_t(a + (b - a) * r / 960);
        }
        f.readPosition += 1001;
        if (f.readPosition >= 960u * FakePasses::kEntries) {
            f.readPosition -= 960u * FakePasses::kEntries;
        }
    }
}
} // namespace

void FakePasses::Install()
{
    FakePasses &f = Fake();
    f.errors.clear();
    f.warnings.clear();
    f.passesLeft = 1;
    f.sourceIsNtsc = 0;
    f.outputIsAvi = 0;
    f.addResult = 1;
    f.soundBuffer.clear();
    f.sampleCount = 0;
    f.addedSampleCounts.clear();
    f.added.clear();
    f.writeIndex = f.readPosition = 0;
    f.ringBytesIn = 0;
    gFormatsHooks.showError = FakeError;
    gFormatsHooks.showWarning = FakeWarning;
    gFormatsHooks.passesLeft = FakePassesLeft;
    gFormatsHooks.sourceIsNtsc = FakeNtsc;
    gFormatsHooks.outputIsAvi = FakeOutputIsAvi;
    gFormatsHooks.ensureSoundBuffer = FakeEnsure;
    gFormatsHooks.setSoundSampleCount = FakeSampleCount;
    gFormatsHooks.addSoundSamples = FakeAdd;
    gFormatsHooks.resetAudioRings = FakeReset;
    gFormatsHooks.setAudioRingBigEndian = FakeBigEndian;
    gFormatsHooks.writeAudioRing = FakeWriteRing;
    gFormatsHooks.audioRingAvailableBytes = FakeAvailable;
    gFormatsHooks.readAudioRingResampled = FakeReadRing;
}

void FakePasses::Uninstall()
{
    gFormatsHooks.showError = DefaultShowMessage;
    gFormatsHooks.showWarning = DefaultShowMessage;
    gFormatsHooks.passesLeft = DefaultPassesLeft;
    gFormatsHooks.sourceIsNtsc = DefaultZero;
    gFormatsHooks.outputIsAvi = DefaultOne;
    gFormatsHooks.ensureSoundBuffer = DefaultEnsureSoundBuffer;
    gFormatsHooks.setSoundSampleCount = DefaultSetSoundSampleCount;
    gFormatsHooks.addSoundSamples = DefaultOne;
    gFormatsHooks.resetAudioRings = DefaultResetAudioRings;
    gFormatsHooks.setAudioRingBigEndian = DefaultSetAudioRingBigEndian;
    gFormatsHooks.writeAudioRing = DefaultWriteAudioRing;
    gFormatsHooks.audioRingAvailableBytes = DefaultAudioRingAvailableBytes;
    gFormatsHooks.readAudioRingResampled = DefaultReadAudioRingResampled;
}

} // namespace fmt_test
