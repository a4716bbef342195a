// The headless runner (the real application on the offscreen platform) as the demo and the
// benchmark use it.

#include <fstream>

#include <gmock/gmock.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class RunnerTest : public E2eTest
{
protected:
    // Options file: defaults with "Convert 3:2 Pulldown to 25P" and "User Selects Compression",
    // results into the test's own folder (the file's last line).
    void WriteOptions(int alwaysQuickTime)
    {
        int values[33] = {0, 0, 0, 0, 0, 0, 50, 0, 0, 3, 0, 7, 0, 4, 0,    1,   0,
                          0, 0, 0, 0, 1, 0, 1,  0, 0, 0, 0, 1, 0, 0, 1440, 1080};
        values[26] = 1;
        values[27] = alwaysQuickTime;
        std::ofstream f(OutputPath("noguide"));
        f << "This file prevents the quick-start guide from appearing, and stores options.\n";
        for (int v : values) {
            f << v << ' ';
        }
        f << "\n" << outDir_ << "\n";
    }
    // Runs the runner in the test's folder; true when it exited with 0.
    bool RunRunner(std::vector<std::string> args, std::string *out)
    {
        args.insert(args.begin(),
                    {std::string(LC_BINARY_DIR) + "/bin/loomcut-run", "--dir", outDir_});
        return e2e::Run(args, out);
    }
};

struct RunnerCase
{
    const char *codec; // nullptr: the chooser's first entry
    int alwaysQuickTime;
    const char *expect; // a line of the output
    bool ok;
};

class Runner : public RunnerTest, public ::testing::WithParamInterface<RunnerCase>
{
};

TEST_P(Runner, ConvertsAndReports)
{
    const RunnerCase &c = GetParam();
    WriteOptions(c.alwaysQuickTime);
    std::vector<std::string> args;
    if (c.codec) {
        args.insert(args.end(), {"--codec", c.codec});
    }
    args.push_back(Fixture("e2e_ntsc_dv.mov"));
    std::string out;
    EXPECT_EQ(RunRunner(args, &out), c.ok) << out;
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

// Two movies go through the batch list and Start Batch; each result keeps its source's name.
TEST_F(RunnerTest, BatchOfTwo)
{
    WriteOptions(0);
    std::string out;
    EXPECT_TRUE(RunRunner({Fixture("e2e_batch_1.mov"), Fixture("e2e_batch_2.mov")}, &out)) << out;
    EXPECT_THAT(out, HasSubstr("message: Batch processing completed OK\n"));
    for (const char *name : {"e2e_batch_1.avi", "e2e_batch_2.avi"}) {
        auto v = Probe(OutputPath(name), "v:0");
        EXPECT_EQ(v["codec_name"], "dvvideo") << name << "\n" << out;
        EXPECT_EQ(v["nb_read_frames"], "40") << name << "\n" << out;
    }
}

// Movies the application opens but refuses to process: the box, no result. The MXF clip's box
// is a warning, not an error, so only the renamed source makes the exit status 1.
TEST_F(RunnerTest, RefusedMovies)
{
    WriteOptions(0);
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
        std::string out;
        EXPECT_EQ(RunRunner({c.source}, &out), c.ok) << c.source << "\n" << out;
        EXPECT_THAT(out, HasSubstr(c.text)) << c.source;
        EXPECT_THAT(out, Not(HasSubstr("output: "))) << c.source;
        EXPECT_THAT(out, Not(HasSubstr("Processing completed OK"))) << c.source;
    }
}

// A movie that cannot be opened ends the run at start-up; a bad command line never starts it.
TEST_F(RunnerTest, UnreadableMovieAndCommandLineMistakes)
{
    WriteOptions(0);
    std::string out;
    EXPECT_FALSE(RunRunner({OutputPath("missing.mov")}, &out));
    EXPECT_THAT(out,
                HasSubstr("message: Could not open or read " + OutputPath("missing.mov") + "\n"));
    EXPECT_THAT(out, Not(HasSubstr("output: ")));
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {}, {"--codec", "toolong", "a.mov"}, {"--frobnicate", "a.mov"}, {"--codec"}}) {
        out.clear();
        EXPECT_FALSE(RunRunner(args, &out));
        EXPECT_THAT(out, Not(HasSubstr("message: ")));
    }
}

} // namespace
} // namespace e2e
