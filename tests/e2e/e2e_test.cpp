// Movies converted from end to end through the application: sources made by ffmpeg, outputs
// checked with ffprobe and ffmpeg.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

bool Exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Sound retimed from 29.97 to 25 frames/s keeps 960 of every 1001 samples.
int64_t Retimed(int64_t sourceFrames)
{
    return sourceFrames * 960 / 1001;
}

using E2e = RunnerTest;

TEST_F(E2e, AlwaysMakeQuickTimeWritesPalDvMovie)
{
    options.alwaysMakeQuickTime = 1;
    // A side file left beside an older result is removed.
    FILE *side = std::fopen(OutputPath("newmovie.mov.#res").c_str(), "w");
    ASSERT_NE(side, nullptr);
    std::fclose(side);
    const RunnerResult r = RunApp({Fixture("e2e_ntsc_dv.mov")});
    ASSERT_EQ(r.output, OutputPath("newmovie.mov")) << r.text;
    EXPECT_FALSE(Exists(OutputPath("newmovie.mov.#res")));
    auto v = Probe(r.output, "v:0");
    EXPECT_EQ(Str(v, "codec_tag_string"), "dvcp");
    EXPECT_EQ(Int(v, "width"), 720);
    EXPECT_EQ(Int(v, "height"), 576);
    EXPECT_EQ(Str(v, "time_base"), "1/2500");
    EXPECT_EQ(Int(v, "nb_read_frames"), 40);
    EXPECT_EQ(Int(v, "duration_ts"), 4000); // samples of 100
    const int64_t source = SoundFrames(Fixture("e2e_ntsc_dv.mov"));
    EXPECT_NEAR(double(SoundFrames(r.output)), double(Retimed(source)), 2.0);
    EXPECT_TRUE(DecodesClean(r.output));
}

TEST_F(E2e, SourceTimeCodeBecomesTimecodeTrack)
{
    options.alwaysMakeQuickTime = 1;
    const RunnerResult r = RunApp({Fixture("e2e_timecode.mov")});
    ASSERT_EQ(r.output, OutputPath("newmovie.mov")) << r.text;
    auto d = Probe(r.output, "d:0");
    EXPECT_EQ(Str(d, "codec_tag_string"), "tmcd");
    EXPECT_EQ(Str(d, "TAG:timecode").substr(0, 8), "01:02:03");
}

struct PalCase
{
    const char *source;
    int output486;
    const char *codec;
    int height;
    int frames;
};

class PalToNtsc : public RunnerTest, public ::testing::WithParamInterface<PalCase>
{
};

TEST_P(PalToNtsc, CadenceFramesAndUnchangedSound)
{
    const PalCase &c = GetParam();
    options.output486Lines = c.output486;
    const RunnerResult r = RunApp({Fixture(c.source)});
    ASSERT_EQ(r.output, OutputPath("newmovie.avi")) << r.text;
    auto v = Probe(r.output, "v:0");
    EXPECT_EQ(Str(v, "codec_name"), c.codec);
    EXPECT_EQ(Int(v, "width"), 720);
    EXPECT_EQ(Int(v, "height"), c.height);
    EXPECT_EQ(Str(v, "r_frame_rate"), "2997/100");
    EXPECT_EQ(Int(v, "nb_read_frames"), c.frames);
    // PAL sound is copied as it is.
    EXPECT_EQ(SoundFrames(r.output), SoundFrames(Fixture(c.source)));
}

INSTANTIATE_TEST_SUITE_P(E2e, PalToNtsc,
                         ::testing::Values(PalCase{"e2e_pal_dv_100.avi", 0, "dvvideo", 480, 120},
                                           PalCase{"e2e_pal_dv.mov", 0, "dvvideo", 480, 120},
                                           PalCase{"e2e_pal_dv_100.avi", 1, "rawvideo", 486, 120}));

// Flat film frames one step of 8 apart: every output frame must be one film frame (no comb of
// two), each the next one.
void ExpectEachFilmFrameOnce(const std::string &out, int expected)
{
    const std::vector<Picture> frames = DecodeFrames(out, 720, 576);
    ASSERT_EQ(int(frames.size()), expected);
    double previous = -1;
    for (size_t i = 0; i < frames.size(); ++i) {
        const std::vector<uint8_t> &f = frames[i].data;
        double sum = 0, comb = 0;
        for (int y = 8; y < 568; ++y) {
            for (int x = 16; x < 704; x += 4) {
                sum += f[size_t(y) * 720 + size_t(x)];
                comb += std::abs(int(f[size_t(y) * 720 + size_t(x)])
                                 - int(f[size_t(y + 1) * 720 + size_t(x)]));
            }
        }
        const double n = 560.0 * 172.0;
        EXPECT_LT(comb / n, 1.5) << "frame " << i << " mixes two film frames";
        if (previous >= 0) {
            double step = sum / n - previous;
            EXPECT_GT(step, 4.5) << "frame " << i << " repeats or goes back";
            EXPECT_LT(step, 11.5) << "frame " << i << " skips a film frame";
        }
        previous = sum / n;
    }
}

struct FilmCase
{
    const char *source;
    int mode32; // else 2:3:3:2
    int twoPass;
};

class PulldownRemoval : public RunnerTest, public ::testing::WithParamInterface<FilmCase>
{
};

TEST_P(PulldownRemoval, EachFilmFrameOnceInOrder)
{
    const FilmCase &c = GetParam();
    options.pulldown32To25P = c.mode32;
    options.pulldown2332To25P = !c.mode32;
    options.twoPassPulldownRemoval = c.twoPass;
    const RunnerResult r = RunApp({"--progress", Fixture(c.source)});
    ASSERT_EQ(r.output, OutputPath("newmovie.avi")) << r.text;
    ExpectEachFilmFrameOnce(r.output, 24);
    if (c.twoPass) {
        EXPECT_THAT(r.progress, Contains("Pre-Processing frames 1-5..."));
    }
    EXPECT_THAT(r.progress, Contains("Processing frames 26-30..."));
}

INSTANTIATE_TEST_SUITE_P(E2e, PulldownRemoval,
                         ::testing::Values(FilmCase{"e2e_film_23.mov", 1, 0},
                                           FilmCase{"e2e_film_23.mov", 1, 1},
                                           FilmCase{"e2e_film_2332.mov", 0, 0},
                                           FilmCase{"e2e_film_2332.mov", 0, 1}));

// 2:3:3:2 removal from DV frames that need no line conversion, to QuickTime output: after the
// first frame (compressed to learn its size) the kept frames are the source's own, in order.
TEST_F(E2e, Pulldown2332CopiesKeptDvFramesAsTheyAre)
{
    options.pulldown2332To25P = 1;
    options.alwaysMakeQuickTime = 1;
    const RunnerResult r = RunApp({Fixture("e2e_dvcp_2997.mov")});
    ASSERT_EQ(r.output, OutputPath("newmovie.mov")) << r.text;
    const std::vector<std::string> source = PacketMd5(Fixture("e2e_dvcp_2997.mov"));
    const std::vector<std::string> written = PacketMd5(r.output);
    ASSERT_EQ(written.size(), 24u);
    long previous = -1;
    for (size_t i = 1; i < written.size(); ++i) {
        auto it = std::find(source.begin(), source.end(), written[i]);
        ASSERT_NE(it, source.end()) << "frame " << i << " was recompressed";
        EXPECT_GT(it - source.begin(), previous) << "frame " << i;
        previous = it - source.begin();
    }
    EXPECT_EQ(Str(Probe(r.output, "v:0"), "codec_tag_string"), "dvcp");
}

// Mean absolute difference of the first frames of two movies, decoded to 64x36 RGB.
double FirstFrameDifference(const std::string &a, const std::string &b)
{
    const std::vector<Picture> fa = DecodeFrames(a, 64, 36, true);
    const std::vector<Picture> fb = DecodeFrames(b, 64, 36, true);
    if (fa.empty() || fb.empty()) {
        return 1e9;
    }
    double sum = 0;
    for (size_t i = 0; i < fa[0].data.size(); ++i) {
        sum += std::abs(int(fa[0].data[i]) - int(fb[0].data[i]));
    }
    return sum / double(fa[0].data.size());
}

struct HdCase
{
    const char *source;
    int yuv;
    int width;
    int height;
    const char *rate;
    int frames;
};

class HdSource : public RunnerTest, public ::testing::WithParamInterface<HdCase>
{
};

TEST_P(HdSource, KeepsItsSizeAsRgb24Avi)
{
    const HdCase &c = GetParam();
    options.useYuvProcessing = c.yuv;
    const RunnerResult r = RunApp({Fixture(c.source)});
    ASSERT_EQ(r.output, OutputPath("newmovie.avi")) << r.text;
    auto v = Probe(r.output, "v:0");
    EXPECT_EQ(Str(v, "codec_name"), "rawvideo");
    EXPECT_EQ(Str(v, "pix_fmt"), "bgr24");
    EXPECT_EQ(Int(v, "width"), c.width);
    EXPECT_EQ(Int(v, "height"), c.height);
    EXPECT_EQ(Str(v, "r_frame_rate"), c.rate);
    EXPECT_EQ(Int(v, "nb_read_frames"), c.frames);
    // The picture is the source's, in either pixel format.
    // (YUV frames keep video levels: black 16, white 235.)
    EXPECT_LT(FirstFrameDifference(r.output, Fixture(c.source)), 20.0);
}

INSTANTIATE_TEST_SUITE_P(E2e, HdSource,
                         ::testing::Values(HdCase{"e2e_hd_raw.mov", 0, 1920, 1080, "25/1", 8},
                                           HdCase{"e2e_hd_2vuy.mov", 1, 1920, 1080, "25/1", 8},
                                           HdCase{"e2e_hd_pal_raw.mov", 0, 1280, 720, "2997/100",
                                                  12},
                                           HdCase{"e2e_dvcprohd.mov", 0, 1280, 1080, "25/1", 8}));

// Read by the own AVI reader, turned over from bottom-up rows, written as PAL DV.
TEST_F(E2e, UncompressedAviSourceBecomesDvAvi)
{
    const RunnerResult r = RunApp({Fixture("e2e_rgb.avi")});
    ASSERT_EQ(r.output, OutputPath("newmovie.avi")) << r.text;
    auto v = Probe(r.output, "v:0");
    EXPECT_EQ(Str(v, "codec_name"), "dvvideo");
    EXPECT_EQ(Int(v, "height"), 576);
    EXPECT_EQ(Int(v, "nb_read_frames"), 8);
    EXPECT_LT(FirstFrameDifference(r.output, Fixture("e2e_rgb.avi")), 20.0);
}

// In an output folder of their own the results keep the sources' names.
TEST_F(E2e, BatchOfThreeGetsTargetNames)
{
    const RunnerResult r = RunApp(
        {Fixture("e2e_batch_1.mov"), Fixture("e2e_batch_2.mov"), Fixture("e2e_batch_3.mov")});
    EXPECT_TRUE(r.Shown("Batch processing completed OK")) << r.text;
    for (const char *name : {"e2e_batch_1.avi", "e2e_batch_2.avi", "e2e_batch_3.avi"}) {
        EXPECT_EQ(Int(Probe(OutputPath(name), "v:0"), "nb_read_frames"), 40) << name;
    }
}

// The second movie has no sound: nothing of the first movie's sound may reach it.
TEST_F(E2e, BatchMovieWithoutSoundAfterOneWithSound)
{
    options.alwaysMakeQuickTime = 1;
    const RunnerResult r = RunApp({Fixture("e2e_batch_1.mov"), Fixture("e2e_timecode.mov")});
    EXPECT_TRUE(r.Shown("Batch processing completed OK")) << r.text;
    EXPECT_EQ(Int(Probe(OutputPath("e2e_batch_1.mov"), "a:0"), "channels"), 2);
    EXPECT_TRUE(Probe(OutputPath("e2e_timecode.mov"), "a:0").empty());
    EXPECT_EQ(Int(Probe(OutputPath("e2e_timecode.mov"), "v:0"), "nb_read_frames"), 8);
}

// The MXF line is refused (quietly in a batch) before its compression dialog, which the next
// movie shows once for the rest of the run.
TEST_F(E2e, RefusedFirstBatchLineLeavesTheCompressionDialogToTheNext)
{
    options.alwaysMakeQuickTime = 1;
    options.userSelectsCompression = 1;
    const RunnerResult r = RunApp({"--codec", "dvcp", Fixture("e2e_clip.mxf"),
                                   Fixture("e2e_batch_1.mov"), Fixture("e2e_batch_2.mov")});
    EXPECT_EQ(r.choosers, std::vector<std::string>{"compression"}) << r.text;
    for (const char *name : {"e2e_batch_1.mov", "e2e_batch_2.mov"}) {
        auto v = Probe(OutputPath(name), "v:0");
        EXPECT_EQ(Str(v, "codec_tag_string"), "dvcp") << name;
        EXPECT_EQ(Int(v, "nb_read_frames"), 40) << name;
    }
}

// The same for AVI output through the compressor chooser.
TEST_F(E2e, RefusedFirstBatchLineLeavesTheCompressorChooserToTheNext)
{
    options.userSelectsCompression = 1;
    const RunnerResult r = RunApp({"--codec", "MJPG", Fixture("e2e_clip.mxf"),
                                   Fixture("e2e_batch_1.mov"), Fixture("e2e_batch_2.mov")});
    EXPECT_EQ(r.choosers, std::vector<std::string>{"compressor"}) << r.text;
    // The refused line made no result, so the batch does not end "completed OK".
    EXPECT_TRUE(r.Shown("Batch processing completed with errors")) << r.text;
    for (const char *name : {"e2e_batch_1.avi", "e2e_batch_2.avi"}) {
        auto v = Probe(OutputPath(name), "v:0");
        EXPECT_EQ(Str(v, "codec_tag_string"), "MJPG") << name;
        EXPECT_EQ(Int(v, "nb_read_frames"), 40) << name;
    }
}

TEST_F(E2e, CancelledCompressionDialogStopsQuietly)
{
    options.alwaysMakeQuickTime = 1;
    options.userSelectsCompression = 1;
    const RunnerResult r = RunApp({"--codec", "cancel", Fixture("e2e_ntsc_dv.mov")});
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(r.messages, std::vector<std::string>{"Processing aborted"}) << r.text;
}

struct RefusalCase
{
    const char *source;
    const char *text;
    int yuv = 0;
};

class Refused : public RunnerTest, public ::testing::WithParamInterface<RefusalCase>
{
};

// Refused before or during the pass; what the pass allocated is released (the leak checker
// of the test build sees the rest).
TEST_P(Refused, WithItsText)
{
    options.useYuvProcessing = GetParam().yuv;
    const RunnerResult r = RunApp({Fixture(GetParam().source)});
    EXPECT_EQ(r.output, "");
    EXPECT_THAT(r.messages, Contains(HasSubstr(GetParam().text))) << r.text;
    // A refusal in the pass leaves the closed, partial output; earlier ones make none.
    if (!GetParam().yuv) {
        EXPECT_FALSE(Exists(OutputPath("newmovie.avi")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    E2e, Refused,
    ::testing::Values(RefusalCase{"newmovie.mov",
                                  "newmovie must be renamed with File->SaveAs before further "
                                  "processing."},
                      RefusalCase{"e2e_clip.mxf", "Halvorne does not support .mxf files"},
                      RefusalCase{"e2e_too_large.mov", "Error: Movie frame > 9216000 bytes"},
                      RefusalCase{"e2e_hd_raw.mov", "Sample size exceeds buffer size", 1}));

// A source that is the temporary output under another name (a hard link) is refused like the
// result itself, before anything is written over it.
TEST_F(E2e, SourceThatIsTheTemporaryOutputIsRefused)
{
    const std::string output = OutputPath("newmovie.avi");
    const std::string source = OutputPath("clip.mov");
    ASSERT_TRUE(e2e::Run({"cp", Fixture("e2e_ntsc_dv.mov"), output}));
    ASSERT_EQ(link(output.c_str(), source.c_str()), 0);
    struct stat before;
    ASSERT_EQ(stat(source.c_str(), &before), 0);
    const RunnerResult r = RunApp({source});
    EXPECT_EQ(r.output, "");
    EXPECT_THAT(r.messages, Contains(HasSubstr("newmovie must be renamed with File->SaveAs")))
        << r.text;
    struct stat after;
    ASSERT_EQ(stat(source.c_str(), &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtime, before.st_mtime);
}

// Stop pressed once the third group is shown: the run ends there, and what was written is a
// whole AVI file of those groups.
TEST_F(E2e, StopDuringRunLeavesReadablePartialAvi)
{
    const RunnerResult r =
        RunApp({"--stop-at", "Processing frames 11-15...", Fixture("e2e_ntsc_dv.mov")});
    EXPECT_EQ(r.messages, std::vector<std::string>{"Processing aborted"}) << r.text;
    EXPECT_EQ(r.output, "");
    auto v = Probe(OutputPath("newmovie.avi"), "v:0");
    EXPECT_EQ(Str(v, "codec_name"), "dvvideo");
    EXPECT_EQ(Int(v, "nb_read_frames"), 12);
    EXPECT_TRUE(DecodesClean(OutputPath("newmovie.avi")));
}

} // namespace
} // namespace e2e
