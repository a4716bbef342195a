// Pictures and sound through the application: every output frame is the source frame it stands
// for, and a flash keeps its beep from the first second to the last.

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <gmock/gmock.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

enum class Match {
    Frames, // each output frame is one source frame (pulldown removed, or 60i to 25P)
    Fields, // each field of an output frame is a field of a source frame (PAL to NTSC)
};

struct SyncCase
{
    const char *name;
    const char *source;
    const char *frames; // the source's pictures, lossless
    int pulldown32;     // "Convert 3:2 Pulldown to 25P" with "2-Pass Removal", else "Convert
                        // 60i to 25P"
    int outFrames;
    const char *rate;
    int width, height;
    Match match;
    double perFrame;    // source pictures per output frame
    double window;      // how far from its place an output frame may match
    double floor;       // lowest PSNR of any output frame (or field) against its match, dB
    bool batch = false; // through the batch list, else the command line
};

void PrintTo(const SyncCase &c, std::ostream *os)
{
    *os << c.name;
}

class Sync : public RunnerTest, public ::testing::WithParamInterface<SyncCase>
{
};

TEST_P(Sync, EachFrameIsItsSourceAndBeepsStayWithFlashes)
{
    const SyncCase &c = GetParam();
    options.pulldown32To25P = c.pulldown32;
    options.twoPassPulldownRemoval = c.pulldown32;
    const std::string source = Fixture(c.source);
    const RunnerResult r = c.batch ? RunApp({"--batch", source}) : RunApp({source});
    const std::string name = source.substr(source.rfind('/') + 1);
    ASSERT_EQ(r.output,
              OutputPath(c.batch ? name.substr(0, name.size() - 3) + "avi" : "newmovie.avi"))
        << r.text;
    EXPECT_TRUE(r.Shown(c.batch ? "Batch processing completed OK" : "Processing completed OK"))
        << r.text;
    EXPECT_TRUE(DecodesClean(r.output));
    const Fields v = Probe(r.output, "v:0");
    EXPECT_EQ(Str(v, "r_frame_rate"), c.rate);
    EXPECT_EQ(Int(v, "width"), c.width);
    EXPECT_EQ(Int(v, "height"), c.height);
    ASSERT_EQ(Int(v, "nb_read_frames"), c.outFrames);

    // Pictures: each output frame (or field) against the source pictures near its place.
    const std::vector<Picture> out = DecodeFrames(r.output, c.width, c.height);
    const std::vector<Picture> refs = DecodeFrames(Fixture(c.frames), c.width, c.height);
    ASSERT_EQ(int(out.size()), c.outFrames);
    ASSERT_FALSE(refs.empty());
    double lowest = 99;
    int last[2] = {-1, -1};
    for (const FrameMatch &m :
         MatchFrames(out, refs, c.perFrame, c.window, c.match == Match::Fields)) {
        const int f = std::max(m.field, 0);
        lowest = std::min(lowest, m.psnr);
        EXPECT_GE(m.psnr, c.floor)
            << "frame " << m.frame << " field " << f << " matches " << m.match;
        // Time runs forward: never an earlier picture than the one before.
        EXPECT_GE(m.match, last[f]) << "frame " << m.frame << " field " << f;
        last[f] = m.match;
    }
    std::printf("lowest PSNR %.2f dB\n", lowest);

    // Sound: the beeps at the flashes, within a frame, at the start and at the end.
    const double rate = VideoRate(r.output);
    const std::vector<int> flashes = FlashFrames(r.output);
    const std::vector<double> beeps = BeepTimes(r.output);
    ASSERT_EQ(flashes.size(), 2u);
    ASSERT_EQ(beeps.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(beeps[i], flashes[i] / rate, 1.0 / rate)
            << "flash " << i << " at frame " << flashes[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    E2e, Sync,
    ::testing::Values(
        // Film: output frame k is film frame k.
        SyncCase{"film", "e2e_flash_film.mov", "e2e_flash_film_frames.mkv", 1, 48, "25/1", 720, 576,
                 Match::Frames, 1.0, 1.0, 38.0},
        // 60i: five source frames (ten pictures) become four.
        SyncCase{"ntsc60i", "e2e_flash_60i.mov", "e2e_flash_60i_frames.mkv", 0, 48, "25/1", 720,
                 576, Match::Frames, 2.5, 3.0, 30.5},
        SyncCase{"ntsc60iMjpegAvi", "e2e_flash_60i.avi", "e2e_flash_60i_frames.mkv", 0, 48, "25/1",
                 720, 576, Match::Frames, 2.5, 3.0, 31.0, true},
        // PAL: five frames become six; each field is a field of one of them.
        SyncCase{"palMovie", "e2e_flash_pal.mov", "e2e_flash_pal_frames.mkv", 0, 60, "2997/100",
                 720, 480, Match::Fields, 25.0 / 29.97, 1.5, 36.0},
        SyncCase{"palMjpegAvi", "e2e_flash_pal.avi", "e2e_flash_pal_frames.mkv", 0, 60, "2997/100",
                 720, 480, Match::Fields, 25.0 / 29.97, 1.5, 36.0, true}),
    [](const auto &param) { return std::string(param.param.name); });

} // namespace
} // namespace e2e
