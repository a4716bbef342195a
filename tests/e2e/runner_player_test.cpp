// The runner with movies named on its command line, and the Player Controls during a run.

#include <gmock/gmock.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

std::string PlayerFixture(const char *name)
{
    static const std::string dir = FixtureFolder("e2e_player_make_fixtures.sh", "e2e_player");
    return dir + "/" + name;
}

// "|>" in the Player Controls while a movie is converted: the controls are out of the user's
// reach for the run, and the result is the one of a run without the click, frame for frame and
// sample for sample. An AVI read by the own reader shares the reader with its player; an MPEG-2
// stream's preview would decode the stream beside the run while it prepares (its sound, for a
// transport stream) and before it writes.
struct PlayCase
{
    const char *source;
    const char *pressAt; // the progress text at which "|>" is pressed
    int frames;          // expected output frames
};

void PrintTo(const PlayCase &c, std::ostream *os)
{
    *os << c.source;
}

class PlayDuringARun : public RunnerTest, public ::testing::WithParamInterface<PlayCase>
{
};

TEST_P(PlayDuringARun, ChangesNothing)
{
    const PlayCase &c = GetParam();
    std::vector<std::string> frames[2];
    std::vector<int16_t> sound[2];
    for (int pressed = 0; pressed < 2; ++pressed) {
        SCOPED_TRACE(pressed ? "pressed" : "plain");
        std::vector<std::string> args;
        if (pressed) {
            args.insert(args.end(), {"--press-play-at", c.pressAt});
        }
        args.push_back(PlayerFixture(c.source));
        const RunnerResult r = RunApp(args);
        EXPECT_TRUE(r.exitedOk) << r.text;
        EXPECT_THAT(r.messages, Contains("Processing completed OK")) << r.text;
        if (pressed) {
            EXPECT_THAT(r.text, AnyOf(HasSubstr("action: play not available\n"),
                                      HasSubstr("action: play pressed\n")));
        }
        const std::string result = OutputPath("newmovie.avi");
        ASSERT_EQ(r.output, result) << r.text;
        const Fields v = Probe(result, "v:0");
        EXPECT_EQ(Str(v, "codec_name"), "dvvideo");
        EXPECT_EQ(Int(v, "height"), 576);
        EXPECT_EQ(Int(v, "nb_read_frames"), c.frames);
        frames[pressed] = FrameMd5(result);
        sound[pressed] = SoundSamples(result);
    }
    EXPECT_FALSE(frames[0].empty());
    EXPECT_EQ(frames[0], frames[1]);
    EXPECT_FALSE(sound[0].empty());
    EXPECT_EQ(sound[0], sound[1]);
}

INSTANTIATE_TEST_SUITE_P(E2e, PlayDuringARun,
                         ::testing::Values(
                             // 4 of every 5 of the 40 (30) source frames.
                             PlayCase{"player_raw.avi", "Processing frames ", 32},
                             PlayCase{"player_ntsc.vob", "Checking files...", 24},
                             PlayCase{"player_ntsc.ts", "Pre-processing MPEG2 audio stream...",
                                      24}),
                         [](const ::testing::TestParamInfo<PlayCase> &p) {
                             std::string name = p.param.source;
                             for (char &ch : name) {
                                 ch = ch == '.' ? '_' : ch;
                             }
                             return name;
                         });

// A movie named on the command line opens in its player and converts.
struct CommandLineCase
{
    const char *name;
    bool mainFixture; // from e2e_make_fixtures.sh
    int frames;       // expected output frames
};

class RunnerCommandLine : public RunnerTest, public ::testing::WithParamInterface<CommandLineCase>
{
};

TEST_P(RunnerCommandLine, OpensAndConverts)
{
    const CommandLineCase &c = GetParam();
    const RunnerResult r = RunApp({c.mainFixture ? Fixture(c.name) : PlayerFixture(c.name)});
    EXPECT_TRUE(r.exitedOk) << r.text;
    EXPECT_THAT(r.text, Not(HasSubstr("Could not open or read")));
    EXPECT_THAT(r.messages, Contains("Processing completed OK")) << r.text;
    const std::string result = OutputPath("newmovie.avi");
    EXPECT_EQ(r.output, result) << r.text;
    const Fields v = Probe(result, "v:0");
    EXPECT_EQ(Str(v, "codec_name"), "dvvideo") << r.text;
    EXPECT_EQ(Int(v, "width"), 720);
    EXPECT_EQ(Int(v, "height"), 576);
    EXPECT_EQ(Str(v, "r_frame_rate"), "25/1");
    EXPECT_EQ(Int(v, "nb_read_frames"), c.frames);
    std::string errors;
    EXPECT_TRUE(DecodesClean(result, &errors)) << errors;
}

INSTANTIATE_TEST_SUITE_P(E2e, RunnerCommandLine,
                         ::testing::Values(CommandLineCase{"player_raw.avi", false, 32},
                                           CommandLineCase{"e2e_ntsc_dv.avi", true, 40},
                                           CommandLineCase{"player_ntsc.vob", false, 24},
                                           CommandLineCase{"player_ntsc.ts", false, 24}),
                         [](const ::testing::TestParamInfo<CommandLineCase> &p) {
                             std::string name = p.param.name;
                             for (char &ch : name) {
                                 ch = ch == '.' ? '_' : ch;
                             }
                             return name;
                         });

} // namespace
} // namespace e2e
