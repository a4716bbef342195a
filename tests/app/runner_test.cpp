#include <string>

#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"
#include "tests/formats/formats_test_support.h"

namespace {

std::string Runner() { return std::string(LC_BINARY_DIR) + "/bin/loomcut-run"; }

struct RunResult
{
    int status;
    std::string output;
};

RunResult RunRunner(std::vector<std::string> args)
{
    args.insert(args.begin(), Runner());
    RunResult r;
    r.status = fmt_test::RunProgram(args, &r.output);
    return r;
}

TEST(Runner, CommandLineMistakes)
{
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {}, {"--codec", "toolong", "a.mov"}, {"--frobnicate", "a.mov"}, {"--dir"}}) {
        RunResult r = RunRunner(args);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.output.find("usage: loomcut-run"), std::string::npos) << r.output;
    }
}

TEST(Runner, AMovieThatCannotBeOpenedIsAnError)
{
    std::string dir = app_test::ScratchDir("runner_missing");
    RunResult r = RunRunner({"--dir", dir, dir + "/missing.mov"});
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("message: Could not open or read " + dir + "/missing.mov\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("output: "), std::string::npos);
}

TEST(Runner, BatchMessagesArePrinted)
{
    // A batch whose only item cannot be read: the open's box, then the batch's closing one.
    std::string dir = app_test::ScratchDir("runner_batch");
    RunResult r = RunRunner({"--dir", dir, "--batch", app_test::Fixture("app_garbage.mov")});
    EXPECT_NE(r.output.find("message: Could not open or read " + app_test::Fixture("app_garbage.mov")
                            + "\n"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("message: Batch processing"), std::string::npos) << r.output;
    EXPECT_EQ(r.status, 1) << r.output;
}

} // namespace
