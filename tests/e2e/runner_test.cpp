// The headless runner (the real application on the offscreen platform) as the demo and the
// benchmark use it.

#include <gmock/gmock.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Options of these cases: "Convert 3:2 Pulldown to 25P" and "User Selects Compression".
class RunnerCases : public RunnerTest
{
protected:
    void SetUp() override
    {
        RunnerTest::SetUp();
        options.pulldown32To25P = 1;
        options.userSelectsCompression = 1;
    }
};

struct RunnerCase
{
    const char *codec; // nullptr: the chooser's first entry
    int alwaysQuickTime;
    const char *expect; // a line of the output
    bool ok;
};

class Runner : public RunnerCases, public ::testing::WithParamInterface<RunnerCase>
{
};

TEST_P(Runner, ConvertsAndReports)
{
    const RunnerCase &c = GetParam();
    options.alwaysMakeQuickTime = c.alwaysQuickTime;
    std::vector<std::string> args;
    if (c.codec) {
        args.insert(args.end(), {"--codec", c.codec});
    }
    args.push_back(Fixture("e2e_ntsc_dv.mov"));
    const RunnerResult r = RunApp(args);
    const std::string &out = r.text;
    EXPECT_EQ(r.exitedOk, c.ok) << out;
    EXPECT_THAT(out, HasSubstr(c.expect));
    if (c.ok && std::string(c.expect) == "output: ") {
        const std::string result = OutputPath(c.alwaysQuickTime ? "newmovie.mov" : "newmovie.avi");
        EXPECT_THAT(out, HasSubstr("output: " + result + "\n"));
        auto v = Probe(result, "v:0");
        EXPECT_EQ(v["height"], "576") << out;
        EXPECT_EQ(v["r_frame_rate"], "25/1") << out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    E2e, Runner,
    ::testing::Values(
        RunnerCase{"dvcp", 1, "output: ", true},
        RunnerCase{"cancel", 1, "message: Processing aborted\n", true},
        // AVI output through the chooser's first compressor, and through a named one.
        RunnerCase{nullptr, 0, "output: ", true}, RunnerCase{"MJPG", 0, "output: ", true},
        // A cancelled AVI compressor is an error of the movie, unlike QuickTime's dialog.
        RunnerCase{"cancel", 0, "message: User aborted processing.\n", false}),
    [](const ::testing::TestParamInfo<RunnerCase> &param) {
        return std::string(param.param.codec ? param.param.codec : "first")
               + (param.param.alwaysQuickTime ? "_mov" : "_avi");
    });

// The kernels split their rows across the worker pool, and the passes decode a group's frames
// and compress its output frames on it at the same time: the same movie converted on one thread
// and on eight gives the same frames and sound, for both passes, both pixel formats and both
// containers, with the options whose kernels carry state between rows (the line detector, grain)
// on.
struct ThreadCase
{
    const char *source;
    bool yuv;
    bool to25p; // "Convert 60i to 25P" (the NTSC source), else PAL to NTSC
    bool quickTime = false;
};

class WorkerThreads : public RunnerTest, public ::testing::WithParamInterface<ThreadCase>
{
};

TEST_P(WorkerThreads, OneAndEightGiveTheSameResult)
{
    const ThreadCase &c = GetParam();
    options.convert60iTo25P = c.to25p ? 1 : 0;
    options.deinterlace = 1;
    options.lineDetectorOn = 1;
    options.blurLinesOnMotion = 1;
    options.flickerRemoval = 2;
    options.addGrain = 1;
    options.redBoost = 1;
    options.useYuvProcessing = c.yuv ? 1 : 0;
    options.alwaysMakeQuickTime = c.quickTime ? 1 : 0;
    const char *output = c.quickTime ? "newmovie.mov" : "newmovie.avi";
    std::vector<std::string> frames[2];
    std::vector<int16_t> sound[2];
    for (int run = 0; run < 2; run++) {
        const RunnerResult r = RunApp({"--threads", run ? "8" : "1", Fixture(c.source)});
        ASSERT_TRUE(r.exitedOk) << r.text;
        ASSERT_THAT(r.text, HasSubstr("message: Processing completed OK\n"));
        frames[run] = FrameMd5(OutputPath(output));
        sound[run] = SoundSamples(OutputPath(output));
    }
    EXPECT_FALSE(frames[0].empty());
    EXPECT_EQ(frames[0], frames[1]);
    EXPECT_FALSE(sound[0].empty());
    EXPECT_EQ(sound[0], sound[1]);
}

INSTANTIATE_TEST_SUITE_P(E2e, WorkerThreads,
                         ::testing::Values(ThreadCase{"e2e_ntsc_dv.mov", false, true},
                                           ThreadCase{"e2e_ntsc_dv.mov", true, true},
                                           ThreadCase{"e2e_pal_dv.mov", false, false},
                                           ThreadCase{"e2e_pal_dv.mov", true, false},
                                           ThreadCase{"e2e_ntsc_dv.mov", false, true, true},
                                           ThreadCase{"e2e_pal_dv.mov", true, false, true}),
                         [](const ::testing::TestParamInfo<ThreadCase> &param) {
                             return std::string(param.param.to25p ? "To25p" : "PalToNtsc")
                                    + (param.param.yuv ? "Yuv" : "Rgb")
                                    + (param.param.quickTime ? "Mov" : "");
                         });

// Two movies go through the batch list and Start Batch; each result keeps its source's name.
TEST_F(RunnerCases, BatchOfTwo)
{
    const RunnerResult r = RunApp({Fixture("e2e_batch_1.mov"), Fixture("e2e_batch_2.mov")});
    const std::string &out = r.text;
    EXPECT_TRUE(r.exitedOk) << out;
    EXPECT_THAT(out, HasSubstr("message: Batch processing completed OK\n"));
    for (const char *name : {"e2e_batch_1.avi", "e2e_batch_2.avi"}) {
        auto v = Probe(OutputPath(name), "v:0");
        EXPECT_EQ(v["codec_name"], "dvvideo") << name << "\n" << out;
        EXPECT_EQ(v["nb_read_frames"], "40") << name << "\n" << out;
    }
}

// A batch line refused for processing shows no box, but the batch does not end "completed OK";
// the good line still reaches its target.
TEST_F(RunnerCases, BatchWithARefusedLine)
{
    const RunnerResult r = RunApp({Fixture("e2e_clip.mxf"), Fixture("e2e_batch_1.mov")});
    const std::string &out = r.text;
    EXPECT_THAT(out, HasSubstr("message: Batch processing completed with errors\n"));
    EXPECT_THAT(out, Not(HasSubstr("mxf files")));
    auto v = Probe(OutputPath("e2e_batch_1.avi"), "v:0");
    EXPECT_EQ(v["codec_name"], "dvvideo") << out;
    EXPECT_EQ(v["nb_read_frames"], "40") << out;
}

// Movies the application opens but refuses to process: the box, no result. The MXF clip's box
// is a warning, not an error, so only the renamed source makes the exit status 1.
TEST_F(RunnerCases, RefusedMovies)
{
    // A source named like the default result.
    const std::string named = OutputPath("newmovie.mov");
    ASSERT_TRUE(e2e::Run({"cp", Fixture("e2e_ntsc_dv.mov"), named}));
    struct Case
    {
        std::string source;
        const char *text;
        bool ok;
    };
    for (const Case &c : {Case{named,
                               "message: newmovie must be renamed with File->SaveAs before "
                               "further processing.\n",
                               false},
                          Case{Fixture("e2e_clip.mxf"),
                               "message: Halvorne does not support .mxf files\\nPress OK to "
                               "continue.\n",
                               true}}) {
        const RunnerResult r = RunApp({c.source});
        const std::string &out = r.text;
        EXPECT_EQ(r.exitedOk, c.ok) << c.source << "\n" << out;
        EXPECT_THAT(out, HasSubstr(c.text)) << c.source;
        EXPECT_THAT(out, Not(HasSubstr("output: "))) << c.source;
        EXPECT_THAT(out, Not(HasSubstr("Processing completed OK"))) << c.source;
    }
}

// A movie that cannot be opened ends the run at start-up; a bad command line never starts it.
TEST_F(RunnerCases, UnreadableMovieAndCommandLineMistakes)
{
    RunnerResult r = RunApp({OutputPath("missing.mov")});
    EXPECT_FALSE(r.exitedOk);
    EXPECT_THAT(r.text,
                HasSubstr("message: Could not open or read " + OutputPath("missing.mov") + "\n"));
    EXPECT_THAT(r.text, Not(HasSubstr("output: ")));
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {}, {"--codec", "toolong", "a.mov"}, {"--frobnicate", "a.mov"}, {"--codec"}}) {
        r = RunApp(args);
        EXPECT_FALSE(r.exitedOk);
        EXPECT_THAT(r.text, Not(HasSubstr("message: ")));
    }
}

} // namespace
} // namespace e2e

namespace e2e {
namespace {

struct AgainCase
{
    const char *source;
    const char *stopAt; // the progress text at which Stop is pressed
    bool batch;
    bool mpeg = false; // from e2e_mpeg_make_fixtures.sh
};

void PrintTo(const AgainCase &c, std::ostream *os)
{
    *os << c.source;
}

class StartAgain : public RunnerTest, public ::testing::WithParamInterface<AgainCase>
{
};

// Stop, then Start on the same movie: the result is the one a fresh run makes.
TEST_P(StartAgain, GivesTheFreshRunsResult)
{
    const AgainCase &c = GetParam();
    const std::string source = c.mpeg ? MpegFixture(c.source) : Fixture(c.source);
    std::vector<std::string> args;
    if (c.batch) {
        args.push_back("--batch");
    }
    args.push_back(source);
    const RunnerResult fresh = RunApp(args);
    ASSERT_FALSE(fresh.output.empty()) << fresh.text;
    const std::string kept = OutputPath("fresh.avi");
    ASSERT_EQ(std::rename(fresh.output.c_str(), kept.c_str()), 0);

    args.insert(args.begin(), {"--stop-at", c.stopAt, "--start-again"});
    const RunnerResult again = RunApp(args);
    ASSERT_EQ(again.output, fresh.output) << again.text;
    EXPECT_TRUE(again.Shown("Processing aborted")) << again.text;
    EXPECT_TRUE(DecodesClean(again.output));
    const std::vector<std::string> frames = FrameMd5(kept);
    EXPECT_FALSE(frames.empty());
    EXPECT_EQ(FrameMd5(again.output), frames);
    EXPECT_EQ(SoundSamples(again.output), SoundSamples(kept));
}

INSTANTIATE_TEST_SUITE_P(
    E2e, StartAgain,
    ::testing::Values(AgainCase{"e2e_ntsc_dv.mov", "Processing frames 11-15...", false},
                      // Read by the own reader (raw frames), and as DV through the media layer.
                      AgainCase{"e2e_rgb.avi", "Processing frames 1-5...", false},
                      AgainCase{"e2e_pal_dv_100.avi", "Processing frame 12...", false},
                      // Decoded through the player's decompressor.
                      AgainCase{"e2e_flash_pal.avi", "Processing frame 12...", true},
                      // A program stream's AC-3 sound: the stopped run's half-read frame does not
                      // reach the next run.
                      AgainCase{"e2e_mpeg_ntsc.vob", "Processing frame 12...", false, true}),
    [](const auto &param) {
        std::string name = param.param.source + 4;
        name = name.substr(0, name.find('.'));
        return name + (param.param.batch ? "_batch" : "");
    });

} // namespace
} // namespace e2e
