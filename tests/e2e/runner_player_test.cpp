// The runner with movies named on its command line, and the Player Controls during a run.

#include <fstream>

#include <gmock/gmock.h>

#include "tests/e2e/e2e_support.h"
#include "tests/support/fixture_script.h"

namespace e2e {
namespace {

using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::Not;

std::string PlayerFixture(const char *name)
{
    static const std::string dir = [] {
        std::string out = std::string(LC_BINARY_DIR) + "/fixtures/e2e_player";
        std::string script =
            std::string(LC_SOURCE_DIR) + "/tests/fixtures/e2e_player_make_fixtures.sh";
        if (!lc_test::MakeFixturesOnce(out, out + "/.made", script, {"sh", script, out})) {
            ADD_FAILURE() << "e2e_player_make_fixtures.sh failed";
        }
        return out;
    }();
    return dir + "/" + name;
}

class RunnerPlayerTest : public E2eTest
{
protected:
    // Options file: defaults, results into `folder` (made here).
    void WriteOptions(const std::string &folder)
    {
        ASSERT_TRUE(e2e::Run({"mkdir", "-p", folder}));
        int values[33] = {0, 0, 0, 0, 0, 0, 50, 0, 0, 3, 0, 7, 0, 4, 0,    1,   0,
                          0, 0, 0, 0, 0, 0, 0,  0, 0, 1, 0, 1, 0, 0, 1440, 1080};
        std::ofstream f(outDir_ + "/noguide");
        f << "This file prevents the quick-start guide from appearing, and stores options.\n";
        for (int v : values) {
            f << v << ' ';
        }
        f << "\n" << folder << "\n";
    }
    bool RunRunner(std::vector<std::string> args, std::string *out)
    {
        args.insert(args.begin(),
                    {std::string(LC_BINARY_DIR) + "/bin/loomcut-run", "--dir", outDir_});
        return e2e::Run(args, out);
    }
    // ffmpeg's per-frame checksums of every stream, without the header.
    static std::string FrameMd5(const std::string &path)
    {
        std::string out;
        EXPECT_TRUE(e2e::Run(
            {"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "framemd5", "-"}, &out))
            << path;
        std::string body;
        size_t start = 0;
        while (start < out.size()) {
            size_t end = out.find('\n', start);
            end = end == std::string::npos ? out.size() : end + 1;
            if (out[start] != '#') {
                body += out.substr(start, end - start);
            }
            start = end;
        }
        return body;
    }
};

// "|>" in the Player Controls while an AVI read by the own reader is converted: the controls
// are out of the user's reach for the run, and the result is the one of a run without the
// click, frame for frame and sample for sample.
TEST_F(RunnerPlayerTest, PlayPressedDuringARunChangesNothing)
{
    std::string results[2];
    for (int pressed = 0; pressed < 2; ++pressed) {
        SCOPED_TRACE(pressed ? "pressed" : "plain");
        const std::string folder = OutputPath(pressed ? "pressed" : "plain");
        WriteOptions(folder);
        std::vector<std::string> args;
        if (pressed) {
            args.push_back("--press-play");
        }
        args.push_back(PlayerFixture("player_raw.avi"));
        std::string out;
        EXPECT_TRUE(RunRunner(args, &out)) << out;
        EXPECT_THAT(out, HasSubstr("message: Processing completed OK\n"));
        if (pressed) {
            EXPECT_THAT(out, AnyOf(HasSubstr("action: play not available\n"),
                                   HasSubstr("action: play pressed\n")));
        }
        const std::string result = folder + "/newmovie.avi";
        auto v = Probe(result, "v:0");
        EXPECT_EQ(v["codec_name"], "dvvideo");
        EXPECT_EQ(v["height"], "576");
        EXPECT_EQ(v["nb_read_frames"], "32"); // 4 of every 5 of the 40 source frames
        results[pressed] = FrameMd5(result);
    }
    EXPECT_FALSE(results[0].empty());
    EXPECT_EQ(results[0], results[1]);
}

// A movie named on the command line opens in its player and converts.
struct CommandLineCase
{
    const char *name;
    bool e2eFixture;    // from the main end-to-end fixtures
    const char *frames; // expected output frames; nullptr: not checked here
};

class RunnerCommandLine : public RunnerPlayerTest,
                          public ::testing::WithParamInterface<CommandLineCase>
{
};

TEST_P(RunnerCommandLine, OpensAndConverts)
{
    const CommandLineCase &c = GetParam();
    const std::string folder = OutputPath("out");
    WriteOptions(folder);
    std::string out;
    EXPECT_TRUE(RunRunner({c.e2eFixture ? Fixture(c.name) : PlayerFixture(c.name)}, &out)) << out;
    EXPECT_THAT(out, Not(HasSubstr("Could not open or read")));
    EXPECT_THAT(out, HasSubstr("message: Processing completed OK\n"));
    const std::string result = folder + "/newmovie.avi";
    EXPECT_THAT(out, HasSubstr("output: " + result + "\n"));
    auto v = Probe(result, "v:0");
    EXPECT_EQ(v["codec_name"], "dvvideo") << out;
    EXPECT_EQ(v["width"], "720");
    EXPECT_EQ(v["height"], "576");
    EXPECT_EQ(v["r_frame_rate"], "25/1");
    if (c.frames) {
        EXPECT_EQ(v["nb_read_frames"], c.frames);
    }
    // Decoded clean.
    std::string errors;
    EXPECT_TRUE(
        e2e::Run({"ffmpeg", "-nostdin", "-v", "error", "-i", result, "-f", "null", "-"}, &errors));
}

// The MPEG-2 streams' frame counts belong to the stream timing, checked with the stream table.
INSTANTIATE_TEST_SUITE_P(E2e, RunnerCommandLine,
                         ::testing::Values(CommandLineCase{"player_raw.avi", false, "32"},
                                           CommandLineCase{"e2e_ntsc_dv.avi", true, "40"},
                                           CommandLineCase{"player_ntsc.vob", false, nullptr},
                                           CommandLineCase{"player_ntsc.ts", false, nullptr}),
                         [](const ::testing::TestParamInfo<CommandLineCase> &p) {
                             std::string name = p.param.name;
                             for (char &ch : name) {
                                 ch = ch == '.' ? '_' : ch;
                             }
                             return name;
                         });

} // namespace
} // namespace e2e
