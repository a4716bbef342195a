// MPEG-2 streams processed from end to end through the application: program and transport
// streams made by ffmpeg, outputs checked with ffprobe.

#include <algorithm>
#include <string>

#include <gmock/gmock.h>
#include <sys/stat.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

bool Exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

struct MpegCase
{
    const char *source;
    bool quickTime;
    int width, height;
    const char *rate;
    int frames;
    bool tsSound; // sound decoded through "temp.mp2" and "temp.aiff"
};

class MpegToOutput : public RunnerTest, public ::testing::WithParamInterface<MpegCase>
{
};

TEST_P(MpegToOutput, FramesSizeRateAndSound)
{
    const MpegCase &c = GetParam();
    options.alwaysMakeQuickTime = c.quickTime ? 1 : 0;
    const RunnerResult r = RunApp({"--codec", "dvc ", MpegFixture(c.source)});
    ASSERT_EQ(r.output, OutputPath(c.quickTime ? "newmovie.mov" : "newmovie.avi")) << r.text;
    EXPECT_TRUE(r.Shown("Processing completed OK")) << r.text;
    EXPECT_EQ(Exists(OutputPath("temp.aiff")), c.tsSound);
    EXPECT_EQ(Exists(OutputPath("temp.mp2")), c.tsSound);
    // QuickTime output asks for its compressor whatever the option says.
    EXPECT_EQ(r.choosers.size(), c.quickTime ? 1u : 0u);
    {
        auto a = Probe(r.output, "a:0");
        EXPECT_EQ(Int(a, "sample_rate"), 48000);
        EXPECT_EQ(Int(a, "channels"), 2);
        EXPECT_GT(SoundFrames(r.output), 0);
    }
    auto v = Probe(r.output, "v:0");
    EXPECT_EQ(Int(v, "width"), c.width);
    EXPECT_EQ(Int(v, "height"), c.height);
    EXPECT_EQ(Str(v, "r_frame_rate"), c.rate);
    EXPECT_EQ(Int(v, "nb_read_frames"), c.frames);
}

INSTANTIATE_TEST_SUITE_P(Streams, MpegToOutput,
                         ::testing::Values(
                             // Every whole group of the stream's pictures, the last one too: 30
                             // NTSC pictures become 24 frames at 25, 25 PAL pictures 30 at 29.97.
                             MpegCase{"e2e_mpeg_ntsc.vob", false, 720, 576, "25/1", 24, false},
                             MpegCase{"e2e_mpeg_pal.ts", false, 720, 480, "2997/100", 30, true},
                             MpegCase{"e2e_mpeg_pal.ts", true, 720, 480, "2997/100", 30, true}),
                         [](const auto &param) {
                             std::string name = param.param.source;
                             name = name.substr(9, name.find('.') - 9)
                                    + (param.param.quickTime ? "Mov" : "Avi");
                             return name;
                         });

// A transport stream without sound: no sound track comes of "temp.aiff", the video is made.
TEST_F(RunnerTest, TransportStreamWithoutSound)
{
    const RunnerResult r = RunApp({MpegFixture("e2e_mpeg_pal_silent.ts")});
    ASSERT_EQ(r.output, OutputPath("newmovie.avi")) << r.text;
    EXPECT_TRUE(r.Shown("Processing completed OK")) << r.text;
    EXPECT_TRUE(r.Shown("Warning: No Audio track found\nPress OK to continue.")) << r.text;
    EXPECT_EQ(Int(Probe(r.output, "v:0"), "nb_read_frames"), 30);
}

// A stream whose frames the chosen compressor cannot take (PAL DV for the NTSC frames of a PAL
// stream): one error box, and the movie ends there as it does for other sources; the next batch
// line, whose frames it takes, is converted.
TEST_F(RunnerTest, CompressorFailureEndsTheStreamsMovieOnce)
{
    options.alwaysMakeQuickTime = 1;
    const RunnerResult r = RunApp(
        {"--codec", "dvcp", MpegFixture("e2e_mpeg_pal.ts"), MpegFixture("e2e_mpeg_ntsc.vob")});
    EXPECT_EQ(r.messages, (std::vector<std::string>{"SCCompressImage Error, err# -8963",
                                                    "Batch processing completed with errors"}))
        << r.text;
    EXPECT_FALSE(Exists(OutputPath("e2e_mpeg_pal.mov")));
    EXPECT_FALSE(Exists(OutputPath("newmovie.mov")));
    const Fields v = Probe(OutputPath("e2e_mpeg_ntsc.mov"), "v:0");
    EXPECT_EQ(Str(v, "codec_tag_string"), "dvcp");
    EXPECT_EQ(Int(v, "height"), 576);
    EXPECT_EQ(Int(v, "nb_read_frames"), 24);
}

// Two-pass pulldown removal: the decoder runs over the stream once to measure the cadence, then
// again to write.
class MpegPasses : public RunnerTest
{
protected:
    void SetUp() override
    {
        RunnerTest::SetUp();
        options.pulldown32To25P = 1;
        options.twoPassPulldownRemoval = 1;
    }
};

TEST_F(MpegPasses, TwoPassPulldownRunsTheDecoderTwice)
{
    const RunnerResult r = RunApp({"--batch", "--progress", MpegFixture("e2e_mpeg_ntsc.vob")});
    ASSERT_EQ(r.output, OutputPath("e2e_mpeg_ntsc.avi")) << r.text;
    EXPECT_EQ(Int(Probe(r.output, "v:0"), "nb_read_frames"), 24);
    // The first pass reads every picture, the second writes.
    EXPECT_THAT(r.progress, Contains("Pre-Processing, Check pulldown frame 30..."));
    EXPECT_THAT(r.progress, Contains("Processing frame 30..."));
    EXPECT_LT(std::find(r.progress.begin(), r.progress.end(),
                        "Pre-Processing, Check pulldown frame 30..."),
              std::find(r.progress.begin(), r.progress.end(), "Processing frame 1..."));
}

TEST_F(MpegPasses, StopInTheFirstPassSkipsTheSecond)
{
    const RunnerResult r =
        RunApp({"--progress", "--stop-at", "Pre-Processing, Check pulldown frame 5...", "--batch",
                MpegFixture("e2e_mpeg_ntsc.vob")});
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(r.messages,
              (std::vector<std::string>{"Processing aborted", "Batch processing aborted by user"}))
        << r.text;
    EXPECT_THAT(r.progress, Not(Contains(StartsWith("Processing frame "))));
}

// A stream without a sequence extension has no frame rate to retime its sound by.
TEST_F(RunnerTest, StreamWithoutFrameRateIsRefused)
{
    const RunnerResult r = RunApp({"--batch", MpegFixture("e2e_mpeg_mpeg1.mpg")});
    EXPECT_TRUE(r.Shown("Unexpected values for sample duration")) << r.text;
    EXPECT_TRUE(r.Shown("Batch processing completed with errors")) << r.text;
    EXPECT_EQ(r.output, "");
}

// A stream that never shows a sequence header, and one whose sequence header is followed by no
// picture: refused, nothing written.
TEST_F(RunnerTest, StreamWithoutVideoIsRefused)
{
    const RunnerResult r =
        RunApp({MpegFixture("e2e_mpeg_no_header.m2v"), MpegFixture("e2e_mpeg_no_picture.m2v")});
    EXPECT_EQ(r.messages, (std::vector<std::string>{"No MPEG-2 video sequence found in the stream",
                                                    "Error: Zero-length Movie",
                                                    "Batch processing completed with errors"}))
        << r.text;
    EXPECT_FALSE(Exists(OutputPath("e2e_mpeg_no_header.avi")));
    EXPECT_FALSE(Exists(OutputPath("e2e_mpeg_no_picture.avi")));
    EXPECT_FALSE(Exists(OutputPath("newmovie.avi")));
}

} // namespace
} // namespace e2e
