#pragma once

#include "platform/ui/message_box.h"
#include "tests/e2e/e2e_support.h"
#include "tools/interim_movie_window.h"

namespace e2e {

// Every frame of the first video stream as 8-bit luminance, width x height bytes each.
std::vector<std::vector<uint8_t>> GrayFrames(const std::string &path, int width, int height);

// Fresh records, the passes' hooks, a recorder for every box and a temporary output folder.
class E2eTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens source (a fixture name or a path) and runs the processing thread's procedure on this
    // thread until it returns. The result path is what the run published for reopening.
    std::string Process(const std::string &source);
    // Runs a batch of the given paths.
    void ProcessBatch(const std::vector<std::string> &paths);
    std::vector<std::string> Texts() const { return recorder_.Texts(); }
    std::string OutputPath(const char *name) const { return outDir_ + "/" + name; }

    std::string outDir_;
    InterimMovieWindow window_;
    lc::ui::MessageRecorder recorder_;
};

} // namespace e2e
