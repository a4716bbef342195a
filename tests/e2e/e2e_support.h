#pragma once

// Helpers of the end-to-end tests: sources made by the fixture scripts, the application run as a
// user runs it (loomcut-run), and the checks of what it wrote, made with ffprobe and ffmpeg as
// black boxes.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"

namespace e2e {

// ---- sources ----

// Path of a source made by tests/fixtures/e2e_make_fixtures.sh into the build tree (made once
// for every test process).
std::string Fixture(const char *name);
// The same for tests/fixtures/e2e_mpeg_make_fixtures.sh.
std::string MpegFixture(const char *name);
// Runs a fixture script once into build/fixtures/<folder> and gives that folder.
std::string FixtureFolder(const char *script, const char *folder);

// ---- programs ----

// Called with each line of a program's standard output as it comes (without its end).
using LineWatcher = std::function<void(const std::string &line)>;

// Runs a program found on PATH (no shell); its standard output and error, and whether it exited
// with 0.
bool Run(const std::vector<std::string> &argv, std::string *output = nullptr,
         std::string *errors = nullptr, const LineWatcher &onLine = {});

// ---- the application ----

struct RunnerResult
{
    bool exitedOk = false;             // exit status 0: no error box was shown
    std::string text;                  // everything it printed
    std::vector<std::string> messages; // each box's text, line breaks as "\n"
    std::vector<std::string> progress; // with --progress: each text the progress dialog showed
    std::vector<std::string> choosers; // "compression" or "compressor", each time one was shown
    std::string output;                // the result it reopened ("" when none)

    bool Shown(const std::string &message) const;
};

// Writes the options file "noguide" into folder as the application writes it.
void WriteOptionsFile(const std::string &folder, const ConversionOptions &options);
// Runs build/test/bin/loomcut-run in folder (whose "noguide" sets the options) with args; prefix
// runs it through another program (such as {"unshare", "-m", ...}), which gets the runner's
// command line after its own arguments.
RunnerResult RunLoomcut(const std::string &folder, const std::vector<std::string> &args,
                        const std::vector<std::string> &prefix = {},
                        const LineWatcher &onLine = {});

// A test folder of its own, an options record written before each run (defaults, results into
// the test folder), and the runner.
class RunnerTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes `options` to the folder's options file, then runs loomcut-run there.
    RunnerResult RunApp(const std::vector<std::string> &args,
                        const std::vector<std::string> &prefix = {},
                        const LineWatcher &onLine = {});
    std::string OutputPath(const std::string &name) const { return dir_ + "/" + name; }

    std::string dir_;
    ConversionOptions options;
};

// ---- what a file holds ----

using Fields = std::map<std::string, std::string>;

// ffprobe's fields of one stream ("v:0", "a:0", "d:0"), frames and packets counted; empty when
// the file or the stream is missing.
Fields Probe(const std::string &path, const char *stream);
int Int(const Fields &fields, const char *key); // -1 when missing
std::string Str(const Fields &fields, const char *key);

// ffmpeg decodes every stream of the file without a word on its error output.
bool DecodesClean(const std::string &path, std::string *errors = nullptr);

// md5 of each decoded frame of the first video stream (ffmpeg's framemd5), in order.
std::vector<std::string> FrameMd5(const std::string &path);
// md5 of each packet of the first video stream as stored.
std::vector<std::string> PacketMd5(const std::string &path);

// One picture: 8-bit samples, width x height x channels, rows top-down.
struct Picture
{
    int width = 0;
    int height = 0;
    int channels = 1; // 1 luminance, 3 R, G, B
    std::vector<uint8_t> data;

    double Mean() const;
    // Lines of one field (0: lines 0, 2, 4, ..; 1: lines 1, 3, ..).
    Picture Field(int parity) const;
};

// Every frame of the first video stream, scaled by ffmpeg to width x height when it has another
// size; luminance only unless rgb.
std::vector<Picture> DecodeFrames(const std::string &path, int width, int height, bool rgb = false);

// PSNR of two pictures of one size, in dB (99 when equal, 0 for different sizes).
double Psnr(const Picture &a, const Picture &b);
// The reference picture in [first, last] that out matches best, and its PSNR.
int BestMatch(const Picture &out, const std::vector<Picture> &refs, int first, int last,
              double *psnr);

// One output frame (or one field of it) and the reference picture it matches best.
struct FrameMatch
{
    int frame;
    int field; // -1 the whole frame
    int match; // index of the reference picture
    double psnr;
};
// Output frame k stands for the reference pictures around k x perFrame: each output frame (or,
// with fields, each field against the same field of the references) is matched against the
// references within `window` pictures of that place.
std::vector<FrameMatch> MatchFrames(const std::vector<Picture> &out,
                                    const std::vector<Picture> &refs, double perFrame,
                                    double window, bool fields);

// ---- sound ----

// Decoded sound of the first audio stream as 48 kHz 16-bit stereo, interleaved.
std::vector<int16_t> SoundSamples(const std::string &path);
// Sample frames (pairs) of the first audio stream; -1 when it cannot be decoded.
int64_t SoundFrames(const std::string &path);

// ---- a flash with a beep ----

// Fixtures with white frames and 1 kHz beeps at the same moments (e2e_make_fixtures.sh: the
// e2e_flash_* sources) show whether pictures and sound stay together.

// Frame rate of the first video stream, frames/s.
double VideoRate(const std::string &path);
// First frame of each flash: frames clearly brighter than the rest, each run of them once.
std::vector<int> FlashFrames(const std::string &path);
// Start of each beep, in seconds of the first audio stream: sound after a tenth of a second of
// silence.
std::vector<double> BeepTimes(const std::string &path);

} // namespace e2e
