// MPEG-2 streams converted through the application (the headless runner): every picture and
// group to the end of a stream that is not padded, and the refusal of a transport stream whose
// video is not where the system reads it.

#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

std::string StreamFixture(const std::string &name)
{
    static const std::string dir = FixtureFolder("runner_mpeg_make_fixtures.sh", "runner_mpeg");
    return dir + "/" + name;
}

class RunnerMpeg : public RunnerTest
{
protected:
    // Converts one movie through the batch list to DV AVI; the result takes the source's name.
    RunnerResult Convert(const std::string &name)
    {
        result_ = OutputPath(name.substr(0, name.rfind('.')) + ".avi");
        return RunApp({"--batch", StreamFixture(name)});
    }
    const std::string &Result() const { return result_; }

    std::string result_;
};

// Film with 3:2 pulldown in 30 interlaced pictures: six groups of five, four 25P frames each, the
// last group as well.
TEST_F(RunnerMpeg, PulldownVobGivesEveryGroup)
{
    options.pulldown32To25P = 1;
    RunnerResult r = Convert("runner_telecine.vob");
    ASSERT_TRUE(r.exitedOk) << r.text;
    ASSERT_EQ(r.output, Result()) << r.text;
    Fields v = Probe(Result(), "v:0");
    EXPECT_EQ(Int(v, "nb_read_frames"), 24) << r.text;
    EXPECT_EQ(Str(v, "r_frame_rate"), "25/1");
    EXPECT_EQ(Int(v, "height"), 576);
}

// The system reads a transport stream's video on PID 0x810 only; ffmpeg puts it on 0x100.
TEST_F(RunnerMpeg, TransportStreamWithItsVideoElsewhereIsRefused)
{
    RunnerResult r = Convert("runner_default_pids.ts");
    EXPECT_FALSE(r.exitedOk);
    EXPECT_THAT(r.messages, Contains("No video found on PID 0x810\nThe video of a transport "
                                     "stream must be on PID 0x810 (2064)"));
    EXPECT_THAT(r.text, Not(HasSubstr("Unexpected values for sample duration")));
    EXPECT_EQ(r.output, "");
}

} // namespace
} // namespace e2e
