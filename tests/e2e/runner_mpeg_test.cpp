// MPEG-2 streams converted through the application (the headless runner): every picture and
// group to the end of a stream that is not padded, and the refusal of a transport stream whose
// video is not where the system reads it.

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "tests/e2e/e2e_support.h"
#include "tests/support/fixture_script.h"

namespace e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::string StreamFixture(const std::string &name)
{
    static const std::string dir = [] {
        std::string out = std::string(LC_BINARY_DIR) + "/fixtures/runner_mpeg";
        std::string script =
            std::string(LC_SOURCE_DIR) + "/tests/fixtures/runner_mpeg_make_fixtures.sh";
        if (!lc_test::MakeFixturesOnce(out, out + "/.made", script, {"sh", script, out})) {
            ADD_FAILURE() << "runner_mpeg_make_fixtures.sh failed";
        }
        return out;
    }();
    return dir + "/" + name;
}

class RunnerMpeg : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/lc_runner_mpeg_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        if (!std::getenv("LC_E2E_KEEP")) {
            e2e::Run({"rm", "-rf", dir_});
        }
    }
    // Options file: defaults, results into the test's folder, DV AVI output; pulldown32 switches
    // "Convert 3:2 Pulldown to 25P" on (else the processing thread takes 60i to 25P).
    void WriteOptions(int pulldown32)
    {
        int values[33] = {0, 0, 0, 0, 0, 0, 50, 0, 0, 3, 0, 7, 0, 4, 0,    1,   0,
                          0, 0, 0, 0, 0, 0, 0,  0, 0, 1, 0, 0, 1, 0, 1440, 1080};
        values[23] = pulldown32;
        std::ofstream f(dir_ + "/noguide");
        f << "This file prevents the quick-start guide from appearing, and stores options.\n";
        for (int v : values) {
            f << v << ' ';
        }
        f << "\n" << dir_ << "\n";
    }
    // Converts one movie through the batch list; the runner's output lines. The result takes
    // the source's name.
    std::string Convert(const std::string &name, bool *ok)
    {
        std::string out;
        *ok = e2e::Run({std::string(LC_BINARY_DIR) + "/bin/loomcut-run", "--dir", dir_, "--batch",
                        StreamFixture(name)},
                       &out);
        result_ = dir_ + "/" + name.substr(0, name.rfind('.')) + ".avi";
        return out;
    }
    const std::string &Result() const { return result_; }

    std::string dir_;
    std::string result_;
};

// Film with 3:2 pulldown in 30 interlaced pictures: six groups of five, four 25P frames each, the
// last group as well.
TEST_F(RunnerMpeg, PulldownVobGivesEveryGroup)
{
    WriteOptions(1);
    bool ok = false;
    std::string out = Convert("runner_telecine.vob", &ok);
    ASSERT_TRUE(ok) << out;
    ASSERT_THAT(out, HasSubstr("output: " + Result() + "\n"));
    auto v = Probe(Result(), "v:0");
    EXPECT_EQ(v["nb_read_frames"], "24") << out;
    EXPECT_EQ(v["r_frame_rate"], "25/1");
    EXPECT_EQ(v["height"], "576");
}

// The system reads a transport stream's video on PID 0x810 only; ffmpeg puts it on 0x100.
TEST_F(RunnerMpeg, TransportStreamWithItsVideoElsewhereIsRefused)
{
    WriteOptions(0);
    bool ok = true;
    std::string out = Convert("runner_default_pids.ts", &ok);
    EXPECT_FALSE(ok);
    EXPECT_THAT(out, HasSubstr("message: No video found on PID 0x810\\nThe video of a transport "
                               "stream must be on PID 0x810 (2064)\n"));
    EXPECT_THAT(out, Not(HasSubstr("Unexpected values for sample duration")));
    EXPECT_THAT(out, Not(HasSubstr("output: ")));
}

} // namespace
} // namespace e2e
