#include "tests/e2e/e2e_support.h"

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

namespace {

const std::string &FixtureDir()
{
    static const std::string dir = [] {
        std::string out = std::string(LC_BINARY_DIR) + "/fixtures/e2e";
        std::string script = std::string(LC_SOURCE_DIR) + "/tests/fixtures/e2e_make_fixtures.sh";
        if (!lc_test::MakeFixturesOnce(out, out + "/.made", script, {"sh", script, out})) {
            ADD_FAILURE() << "e2e_make_fixtures.sh failed";
        }
        return out;
    }();
    return dir;
}

} // namespace

std::string Fixture(const char *name)
{
    return FixtureDir() + "/" + name;
}

bool Run(const std::vector<std::string> &argv, std::string *output)
{
    std::vector<char *> args;
    for (const std::string &a : argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) {
        return false;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    char buf[65536];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) {
        if (output) {
            output->append(buf, size_t(n));
        }
    }
    close(fds[0]);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)
           && WEXITSTATUS(status) == 0;
}

std::map<std::string, std::string> Probe(const std::string &path, const char *stream)
{
    std::string out;
    std::map<std::string, std::string> fields;
    if (!Run({"ffprobe", "-v", "error", "-count_frames", "-count_packets", "-select_streams",
              stream, "-show_streams", "-of", "default=nw=1", path},
             &out)) {
        return fields;
    }
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) {
            end = out.size();
        }
        std::string line = out.substr(start, end - start);
        size_t eq = line.find('=');
        if (eq != std::string::npos) {
            fields.emplace(line.substr(0, eq), line.substr(eq + 1));
        }
        start = end + 1;
    }
    return fields;
}

int64_t SoundFrames(const std::string &path)
{
    std::string pcm;
    if (!Run({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-f", "s16le",
              "-ac", "2", "-"},
             &pcm)) {
        return -1;
    }
    return int64_t(pcm.size() / 4);
}

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
