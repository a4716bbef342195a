#include "tests/e2e/e2e_inprocess.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/conversion_options.h"
#include "formats/avi_reader.h"
#include "formats/source_timing.h"
#include "passes/conversion_state.h"
#include "passes/passes_setup.h"
#include "passes/process_control.h"
#include "passes/process_movie.h"
#include "passes/process_thread.h"
#include "passes/source_kind.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/media/image_compression.h"
#include "platform/media/movies.h"
#include "platform/media/standard_compression.h"
#include "platform/sys/text.h"
#include "tests/support/fixture_script.h"

namespace e2e {

std::vector<std::vector<uint8_t>> GrayFrames(const std::string &path, int width, int height)
{
    std::string raw;
    std::vector<std::vector<uint8_t>> frames;
    if (!Run({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-vf",
              "format=gray", "-f", "rawvideo", "-"},
             &raw)) {
        return frames;
    }
    const size_t frameBytes = size_t(width) * size_t(height);
    for (size_t pos = 0; pos + frameBytes <= raw.size(); pos += frameBytes) {
        frames.emplace_back(raw.begin() + long(pos), raw.begin() + long(pos + frameBytes));
    }
    return frames;
}

void E2eTest::SetUp()
{
    char pattern[] = "/tmp/lc_e2e_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    outDir_ = pattern;
    gSourceKind.Clear();
    gConversionState = ConversionState{};
    gSourceTiming = SourceTiming{};
    ResetConversionOptions(gConversionOptions);
    gConversionOptions.userSelectsOutputFolder = 1;
    lc::CopyText(gConversionOptions.outputFolder, outDir_.c_str());
    gProcessControl.stopRequested = 0;
    gProcessControl.errorShown = 0;
    gProcessControl.batchRunning = 0;
    gProcessControl.reopenPending = 0;
    gUiState.batchText[0] = 0;
    gUiHooks = UiHooks{};
    InstallPassesHooks();
    gMovieWindow = &window_;
}

void E2eTest::TearDown()
{
    if (HasFailure()) {
        for (const std::string &t : Texts()) {
            std::printf("message: %s\n", t.c_str());
        }
    }
    window_.CloseMovie();
    CloseComponent(gConversionState.stdCompressor); // kept by a run for its batch
    gConversionState.stdCompressor = nullptr;
    gMovieWindow = nullptr;
    gUiHooks = UiHooks{};
    if (!std::getenv("LC_E2E_KEEP")) {
        e2e::Run({"rm", "-rf", outDir_});
    }
}

std::string E2eTest::Process(const std::string &source)
{
    std::string path = source.find('/') == std::string::npos ? Fixture(source.c_str()) : source;
    if (!window_.OpenMovie(path.c_str())) {
        return "";
    }
    ProcessThreadProc(nullptr);
    char result[256] = {};
    return TakeReopenPath(result) ? std::string(result) : std::string();
}

void E2eTest::ProcessBatch(const std::vector<std::string> &paths)
{
    std::string text;
    for (const std::string &p : paths) {
        text += p + "\r\n";
    }
    lc::CopyText(gUiState.batchText, text.c_str());
    gProcessControl.batchRunning = 1;
    ProcessThreadProc(nullptr);
}

} // namespace e2e
