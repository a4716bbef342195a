// Pictures converted through the application to their edges: an MPEG-2 picture whose coded size
// is larger than the picture reaches every output at its own size with its own lines, and a movie
// that is not a whole number of groups keeps its last pictures, with its sound ending with them.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

std::string EndsFixture(const char *name)
{
    static const std::string dir = FixtureFolder("e2e_ends_make_fixtures.sh", "e2e_ends");
    return dir + "/" + name;
}

// How the result is written.
enum class Output {
    Avi,        // AVI: DV for 720 x 576 and 720 x 480, else uncompressed RGB
    Compressor, // AVI through a chosen compressor (FFV1, lossless)
    QuickTime,  // QuickTime, uncompressed RGB ('raw ')
};

struct Expected
{
    int width, height;
    const char *rate;
    int frames;
};

// The result's size, rate and frame count, decoded without a word from ffmpeg.
void ExpectVideo(const std::string &path, const Expected &e)
{
    EXPECT_TRUE(DecodesClean(path));
    const Fields v = Probe(path, "v:0");
    EXPECT_EQ(Int(v, "width"), e.width);
    EXPECT_EQ(Int(v, "height"), e.height);
    EXPECT_EQ(Str(v, "r_frame_rate"), e.rate);
    EXPECT_EQ(Int(v, "nb_read_frames"), e.frames);
}

// Each output frame (or each of its fields) against ffmpeg's decode of the source near its
// place: at least floor dB, never an earlier picture than the one before. The best match of the
// last output frame.
int ExpectEachFrameIsItsSource(const std::string &path, const std::string &frames,
                               const Expected &e, double perFrame, double window, bool fields,
                               double floor)
{
    const std::vector<Picture> out = DecodeFrames(path, e.width, e.height);
    const std::vector<Picture> refs = DecodeFrames(frames, e.width, e.height);
    EXPECT_EQ(int(out.size()), e.frames);
    EXPECT_FALSE(refs.empty());
    double lowest = 99;
    int last[2] = {-1, -1};
    int lastMatch = -1;
    for (const FrameMatch &m : MatchFrames(out, refs, perFrame, window, fields)) {
        const int f = std::max(m.field, 0);
        lowest = std::min(lowest, m.psnr);
        EXPECT_GE(m.psnr, floor) << "frame " << m.frame << " field " << f << " matches " << m.match;
        EXPECT_GE(m.match, last[f]) << "frame " << m.frame << " field " << f;
        last[f] = m.match;
        lastMatch = std::max(lastMatch, m.match);
    }
    std::printf("lowest PSNR %.2f dB\n", lowest);
    return lastMatch;
}

struct SizeCase
{
    const char *name;
    const char *source;
    const char *frames; // ffmpeg's decode of the source, lossless
    Output output;
    Expected expected;
    double perFrame; // source pictures per output frame
    double window;   // how far from its place an output frame may match
    bool fields;     // PAL to NTSC: each field is a field of a source picture
    double floor;    // lowest PSNR of any output frame (or field) against its match, dB
};

void PrintTo(const SizeCase &c, std::ostream *os)
{
    *os << c.name;
}

class PictureSize : public RunnerTest, public ::testing::WithParamInterface<SizeCase>
{
};

// The coded lines below an MPEG-2 picture and the coded columns right of it are none of the
// picture's: every output road writes the picture at its own size with its own lines.
TEST_P(PictureSize, OutputIsThePictureAtItsOwnSize)
{
    const SizeCase &c = GetParam();
    std::vector<std::string> args;
    if (c.output == Output::QuickTime) {
        options.alwaysMakeQuickTime = 1;
        args = {"--codec", "raw "};
    } else if (c.output == Output::Compressor) {
        options.userSelectsCompression = 1;
        args = {"--codec", "FFV1"};
    }
    args.push_back(EndsFixture(c.source));
    const RunnerResult r = RunApp(args);
    ASSERT_EQ(r.output, OutputPath(c.output == Output::QuickTime ? "newmovie.mov" : "newmovie.avi"))
        << r.text;
    EXPECT_THAT(r.messages, ::testing::ElementsAre("Processing completed OK")) << r.text;
    ExpectVideo(r.output, c.expected);
    ExpectEachFrameIsItsSource(r.output, EndsFixture(c.frames), c.expected, c.perFrame, c.window,
                               c.fields, c.floor);
}

INSTANTIATE_TEST_SUITE_P(
    E2e, PictureSize,
    ::testing::Values(
        // 1080 of 1088 (1120 interlaced) coded lines, 60i to 25P: five pictures become four.
        SizeCase{"hd1080NtscAvi",
                 "hd1080_ntsc.vob",
                 "hd1080_ntsc_frames.mkv",
                 Output::Avi,
                 {1920, 1080, "25/1", 12},
                 1.25,
                 2.0,
                 false,
                 30.5},
        SizeCase{"hd1080NtscCompressor",
                 "hd1080_ntsc.vob",
                 "hd1080_ntsc_frames.mkv",
                 Output::Compressor,
                 {1920, 1080, "25/1", 12},
                 1.25,
                 2.0,
                 false,
                 30.5},
        SizeCase{"hd1080NtscQuickTime",
                 "hd1080_ntsc.vob",
                 "hd1080_ntsc_frames.mkv",
                 Output::QuickTime,
                 {1920, 1080, "25/1", 12},
                 1.25,
                 2.0,
                 false,
                 30.5},
        // PAL-family HD keeps its lines through the weave: five pictures become six.
        SizeCase{"hd1080PalAvi",
                 "hd1080_pal.ts",
                 "hd1080_pal_frames.mkv",
                 Output::Avi,
                 {1920, 1080, "2997/100", 18},
                 25.0 / 29.97,
                 1.5,
                 true,
                 47.0},
        // Neither size a multiple of 16: 1366 x 766 coded as 1376 x 768.
        SizeCase{"hd766PalAvi",
                 "hd766_pal.vob",
                 "hd766_pal_frames.mkv",
                 Output::Avi,
                 {1366, 766, "2997/100", 18},
                 25.0 / 29.97,
                 1.5,
                 true,
                 47.0},
        SizeCase{"hd766PalQuickTime",
                 "hd766_pal.vob",
                 "hd766_pal_frames.mkv",
                 Output::QuickTime,
                 {1366, 766, "2997/100", 18},
                 25.0 / 29.97,
                 1.5,
                 true,
                 47.0},
        // 486 lines coded as 512: all 486 become the 576 lines of PAL DV.
        SizeCase{"ntsc486DvAvi",
                 "ntsc486.vob",
                 "ntsc486_frames.mkv",
                 Output::Avi,
                 {720, 576, "25/1", 12},
                 1.25,
                 2.0,
                 false,
                 30.0}),
    [](const auto &param) { return std::string(param.param.name); });

struct EndCase
{
    const char *name;
    const char *source;
    const char *frames; // the source's pictures, lossless
    bool quickTime;     // QuickTime output ('dvc ' or 'dvcp'), else AVI
    Expected expected;
    double perFrame;
    double window;
    bool fields;
    double floor;
    int lastPicture; // the first picture of the source's last frame, which the output shows
};

void PrintTo(const EndCase &c, std::ostream *os)
{
    *os << c.name;
}

class MovieEnd : public RunnerTest, public ::testing::WithParamInterface<EndCase>
{
};

// 77 frames are 15 groups of five and two frames: the last two are converted too, on every road
// (a movie read by the media layer and an MPEG-2 stream alike), and the sound ends with the
// picture. A flash with its beep on the very last frame shows both.
TEST_P(MovieEnd, LastPicturesAreKeptAndTheSoundEndsWithThem)
{
    const EndCase &c = GetParam();
    options.alwaysMakeQuickTime = c.quickTime ? 1 : 0;
    const RunnerResult r =
        RunApp({"--codec", c.expected.height == 576 ? "dvcp" : "dvc ", EndsFixture(c.source)});
    ASSERT_EQ(r.output, OutputPath(c.quickTime ? "newmovie.mov" : "newmovie.avi")) << r.text;
    EXPECT_THAT(r.messages, ::testing::ElementsAre("Processing completed OK")) << r.text;
    ExpectVideo(r.output, c.expected);
    const int lastMatch = ExpectEachFrameIsItsSource(r.output, EndsFixture(c.frames), c.expected,
                                                     c.perFrame, c.window, c.fields, c.floor);
    EXPECT_GE(lastMatch, c.lastPicture);

    // The flashes with their beeps, the last one on the last frames; the sound as long as the
    // picture, within a frame.
    const double rate = VideoRate(r.output);
    const std::vector<int> flashes = FlashFrames(r.output);
    const std::vector<double> beeps = BeepTimes(r.output);
    ASSERT_EQ(flashes.size(), 2u);
    ASSERT_EQ(beeps.size(), 2u);
    EXPECT_GE(flashes[1], c.expected.frames - 3);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(beeps[i], flashes[i] / rate, 1.0 / rate)
            << "flash " << i << " at frame " << flashes[i];
    }
    const double picture = c.expected.frames / rate;
    const double sound = double(SoundFrames(r.output)) / 48000;
    std::printf("picture %.3f s, sound %.3f s\n", picture, sound);
    EXPECT_NEAR(sound, picture, 1.0 / rate);
}

// PAL to NTSC: the weave of the last two frames keeps three of its six frames (93 in all); 60i to
// 25P: two of four (62 in all).
constexpr Expected kPal{720, 480, "2997/100", 93};
constexpr Expected kNtsc{720, 576, "25/1", 62};

INSTANTIATE_TEST_SUITE_P(
    E2e, MovieEnd,
    ::testing::Values(EndCase{"palMovie", "ends_pal.mov", "ends_pal_frames.mkv", false, kPal,
                              25.0 / 29.97, 1.5, true, 36.5, 76},
                      // Copied into AVI by ffmpeg: a time base of 1/50, every other video
                      // chunk empty. The same frames as the movie, the sound with them.
                      EndCase{"palMovieCopiedToAvi", "ends_pal_copy.avi", "ends_pal_frames.mkv",
                              false, kPal, 25.0 / 29.97, 1.5, true, 36.5, 76},
                      EndCase{"palMjpegCopiedToAvi", "ends_pal_mjpeg_copy.avi",
                              "ends_pal_frames.mkv", false, kPal, 25.0 / 29.97, 1.5, true, 36.5,
                              76},
                      // Frames 20, 21 and 40 dropped: the frame before each gap repeats (two
                      // pictures from its place), and the movie keeps its length.
                      EndCase{"palMovieWithGaps", "ends_pal_gaps.mov", "ends_pal_frames.mkv",
                              false, kPal, 25.0 / 29.97, 3.5, true, 36.5, 76},
                      EndCase{"palProgramStream", "ends_pal.vob", "ends_pal_frames.mkv", false,
                              kPal, 25.0 / 29.97, 1.5, true, 36.5, 76},
                      EndCase{"palTransportStream", "ends_pal.ts", "ends_pal_frames.mkv", false,
                              kPal, 25.0 / 29.97, 1.5, true, 36.5, 76},
                      EndCase{"palProgramStreamToQuickTime", "ends_pal.vob", "ends_pal_frames.mkv",
                              true, kPal, 25.0 / 29.97, 1.5, true, 36.5, 76},
                      // 60i: the references are the 59.94 pictures, two to a source frame.
                      EndCase{"ntscMovie", "ends_ntsc.mov", "ends_ntsc_frames.mkv", false, kNtsc,
                              2.5, 3.0, false, 31.0, 152},
                      // Copied into AVI: a time base of 1001/60000.
                      EndCase{"ntscMovieCopiedToAvi", "ends_ntsc_copy.avi", "ends_ntsc_frames.mkv",
                              false, kNtsc, 2.5, 3.0, false, 31.0, 152},
                      EndCase{"ntscMovieWithGaps", "ends_ntsc_gaps.mov", "ends_ntsc_frames.mkv",
                              false, kNtsc, 2.5, 3.0, false, 31.0, 152},
                      EndCase{"ntscProgramStream", "ends_ntsc.vob", "ends_ntsc_frames.mkv", false,
                              kNtsc, 2.5, 3.0, false, 28.0, 152},
                      EndCase{"ntscTransportStream", "ends_ntsc.ts", "ends_ntsc_frames.mkv", false,
                              kNtsc, 2.5, 3.0, false, 28.0, 152}),
    [](const auto &param) { return std::string(param.param.name); });

// A batch line refused once its stream's rate is known leaves its preview decoding: the next
// line takes the stream from it without the player's box and is converted like any other.
TEST_F(RunnerTest, StreamRefusedInABatchLeavesTheNextLineItsTurn)
{
    const std::string next = EndsFixture("ends_pal.vob");
    const RunnerResult r = RunApp({"--batch", EndsFixture("film2398.vob"), next});
    EXPECT_THAT(r.messages, ::testing::ElementsAre(
                                "The movie runs at 23.976 frames/s and cannot be converted:\n"
                                "only 25, 29.97 and 30 frames/s movies can be processed.",
                                "Batch processing completed with errors"))
        << r.text;
    const std::string target = OutputPath("ends_pal.avi");
    ExpectVideo(target, kPal);
    EXPECT_EQ(FlashFrames(target).size(), 2u);
}

} // namespace
} // namespace e2e
