// The headless runner as the demo and the benchmark use it.

#include <fstream>

#include <gmock/gmock.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

using ::testing::HasSubstr;

struct RunnerCase
{
    const char *codec; // nullptr: the chooser's first entry
    int alwaysQuickTime;
    const char *expect; // a line of the output
    bool ok;
};

class Runner : public E2eTest, public ::testing::WithParamInterface<RunnerCase>
{
};

TEST_P(Runner, ConvertsAndReports)
{
    const RunnerCase &c = GetParam();
    // Options file: defaults with "Convert 3:2 Pulldown to 25P" and "User Selects Compression".
    int values[33] = {0, 0, 0, 0, 0, 0, 50, 0, 0, 3, 0, 7, 0, 4, 0,    1,   0,
                      0, 0, 0, 0, 1, 0, 1,  0, 0, 0, 0, 1, 0, 0, 1440, 1080};
    values[26] = 1; // results into the test's own folder (the file's last line)
    values[27] = c.alwaysQuickTime;
    {
        std::ofstream f(OutputPath("noguide"));
        f << "This file prevents the quick-start guide from appearing, and stores options.\n";
        for (int v : values) {
            f << v << ' ';
        }
        f << "\n" << outDir_ << "\n";
    }
    std::vector<std::string> argv = {std::string(LC_BINARY_DIR) + "/bin/loomcut-run", "--dir",
                                     outDir_};
    if (c.codec) {
        argv.insert(argv.end(), {"--codec", c.codec});
    }
    argv.push_back(Fixture("e2e_ntsc_dv.mov"));
    std::string out;
    EXPECT_EQ(e2e::Run(argv, &out), c.ok) << out;
    EXPECT_THAT(out, HasSubstr(c.expect));
    if (c.ok && std::string(c.expect) == "output: ") {
        EXPECT_THAT(out, HasSubstr("output: " + OutputPath(c.alwaysQuickTime ? "newmovie.mov"
                                                                               : "newmovie.avi")));
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
        RunnerCase{"cancel", 0, "message: User aborted processing.\n", false}));

} // namespace
} // namespace e2e
