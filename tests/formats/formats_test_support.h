#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Helpers shared by the formats tests: fixture files, ffmpeg's frame hashes, MD5, fake hooks of
// the passes, and running the command-line checkers.

namespace fmt_test {

// Folder of the fixtures made by tests/fixtures/formats_make_avi.py (made once, under a lock,
// by whichever test process needs them first). Empty when they could not be made.
std::string FixtureDir();
// The OpenDML file over 1 GB (made on first use; slow).
std::string LargeFixture();
// A fresh scratch folder for one test.
std::string ScratchDir(const std::string &name);

struct FrameHash
{
    uint32_t size = 0;
    std::string md5;
    int64_t pts = 0; // in the stream's time base: the frame slot for AVI
};
// The "<file>.framemd5" written beside a fixture.
std::vector<FrameHash> ReadFrameMd5(const std::string &path);
// ffmpeg's frame hashes of a file we wrote (video stream, -c copy).
std::vector<FrameHash> FfmpegFrameMd5(const std::string &path);

std::string Md5Hex(const uint8_t *data, size_t n);

// Runs a program with arguments (no shell); returns its exit status and stdout+stderr.
int RunProgram(const std::vector<std::string> &argv, std::string *output = nullptr);

std::vector<uint8_t> ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes);

// Turns a frame of `rows` rows of `stride` bytes over in place.
void TurnOver(uint8_t *frame, size_t stride, size_t rows);

// Fake hooks of the passes: records messages and sound, with a ring that retimes by 1001/960.
struct FakePasses
{
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    int passesLeft = 1;
    int sourceIsNtsc = 0;
    int outputIsAvi = 0;
    int addResult = 1;
    std::vector<uint8_t> soundBuffer;
    int sampleCount = 0;
    std::vector<int> addedSampleCounts;
    std::vector<uint8_t> added; // every byte given to addSoundSamples

    // The ring.
    static constexpr uint32_t kEntries = 1u << 20;
    std::vector<int16_t> frames = std::vector<int16_t>(size_t(kEntries) * 2);
    uint32_t writeIndex = 0;
    uint32_t readPosition = 0;
    uint64_t ringBytesIn = 0;

    void Install();
    static void Uninstall();
};

FakePasses &Fake();

} // namespace fmt_test
