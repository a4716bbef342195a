// loomcut-run: converts movies headless, answering every box itself.
//
//   loomcut-run [--dir DIR] [--batch] [--codec FOURCC|cancel] MOVIE...
//
// DIR (default: the current folder) becomes the current folder, so DIR/noguide sets the options.
// One movie is processed as a single run, several (or --batch) as a batch. Every message box is
// answered OK and printed as "message: TEXT"; the compression chooser takes FOURCC, is cancelled
// with "cancel", or takes its first entry. Prints "output: PATH" for the result reopened at the
// end; exits 1 when an error box was shown, 2 for bad arguments, else 0.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <strings.h>
#include <unistd.h>

#include "engine/conversion_options.h"
#include "passes/conversion_state.h"
#include "passes/passes_setup.h"
#include "passes/process_control.h"
#include "passes/process_thread.h"
#include "passes/ui_state.h"
#include "platform/media/standard_compression.h"
#include "platform/sys/bytes.h"
#include "platform/sys/text.h"
#include "platform/vfw/vfw.h"
#include "platform/ui/message_box.h"
#include "tools/interim_movie_window.h"

namespace {

OSType gCodec = 0; // 0: the chooser's first entry
bool gCancelCodec = false;

int PrintMessage(const char *text, unsigned)
{
    std::string line;
    for (const char *p = text; *p; ++p) {
        if (*p == '\r' || *p == '\n') {
            line += "\\n";
            if (*p == '\r' && p[1] == '\n') {
                ++p;
            }
        } else {
            line += *p;
        }
    }
    std::printf("message: %s\n", line.c_str());
    std::fflush(stdout);
    return IDOK;
}

bool ChooseCompression(const CodecNameSpec *encoders, int count, const ScImageSettings &current,
                       ScImageSettings *chosen)
{
    if (gCancelCodec || count < 1) {
        return false;
    }
    *chosen = current;
    chosen->codecType = gCodec ? gCodec : encoders[0].cType;
    return true;
}

// The AVI compressor chooser: the same answer by code (without regard to case), else the first
// entry after "Full Frames (Uncompressed)".
bool ChooseCompressor(void *, const ICINFO *compressors, int count, int, const char *, int *chosen)
{
    if (gCancelCodec || count < 1) {
        return false;
    }
    *chosen = count > 1 ? 1 : 0;
    for (int i = 0; gCodec && i < count; ++i) {
        const DWORD h = compressors[i].fccHandler; // first character in the low byte
        const char code[5] = {char(h), char(h >> 8), char(h >> 16), char(h >> 24), 0};
        if (strncasecmp(code, lc::FourCCText(gCodec).c_str(), 4) == 0) {
            *chosen = i;
        }
    }
    return true;
}

// The options file: a first line of its own, the 33 values, then the output folder.
void ReadOptionsFile(const char *path)
{
    FILE *f = std::fopen(path, "r");
    if (!f) {
        return;
    }
    char line[512];
    if (std::fgets(line, sizeof line, f)) {
        for (int i = 0; i < kConversionOptionCount; ++i) {
            int value = 0;
            if (std::fscanf(f, "%d ", &value) != 1) {
                break;
            }
            gConversionOptions.*kConversionOptionFields[i].field = ClampConversionOption(i, value);
        }
        if (std::fgets(line, sizeof line, f)) {
            line[std::strcspn(line, "\r\n")] = 0;
            lc::CopyText(gConversionOptions.outputFolder, line);
        }
    }
    std::fclose(f);
}

int Usage()
{
    std::fprintf(stderr, "usage: loomcut-run [--dir DIR] [--batch] [--codec FOURCC|cancel] "
                         "MOVIE...\n");
    return 2;
}

// Paths are taken as given from the starting folder, before DIR becomes the current one.
std::string Absolute(const std::string &path)
{
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
}

} // namespace

int main(int argc, char **argv)
{
    std::string dir = ".";
    bool batch = false;
    std::vector<std::string> movies;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (a == "--batch") {
            batch = true;
        } else if (a == "--codec" && i + 1 < argc) {
            std::string c = argv[++i];
            if (c == "cancel") {
                gCancelCodec = true;
            } else if (c.size() == 4) {
                gCodec = OSType(uint8_t(c[0])) << 24 | OSType(uint8_t(c[1])) << 16
                         | OSType(uint8_t(c[2])) << 8 | OSType(uint8_t(c[3]));
            } else {
                return Usage();
            }
        } else if (!a.empty() && a[0] == '-') {
            return Usage();
        } else {
            movies.push_back(Absolute(a));
        }
    }
    if (movies.empty()) {
        return Usage();
    }
    if (chdir(dir.c_str()) != 0) {
        std::fprintf(stderr, "loomcut-run: cannot enter %s\n", dir.c_str());
        return 2;
    }

    lc::ui::SetMessagePresenter(PrintMessage);
    SetImageSettingsChooser(ChooseCompression);
    SetCompressorChooser(ChooseCompressor);
    InstallPassesHooks();
    ResetConversionOptions(gConversionOptions);
    ReadOptionsFile("noguide");
    InterimMovieWindow window;
    gMovieWindow = &window;

    bool error = false;
    if (batch || movies.size() > 1) {
        std::string text;
        for (const std::string &m : movies) {
            text += m + "\r\n";
        }
        if (!lc::CopyText(gUiState.batchText, text.c_str())) {
            std::fprintf(stderr, "loomcut-run: too many movies\n");
            return 2;
        }
        gProcessControl.batchRunning = 1;
    } else if (!window.OpenMovie(movies[0].c_str())) {
        return 1;
    }
    if (!StartProcessThread()) {
        std::fprintf(stderr, "loomcut-run: the processing thread did not start\n");
        return 1;
    }
    WaitForProcessThread(nullptr);
    error = gProcessControl.errorShown != 0;

    // The result is reopened as the application does at the end of processing.
    char result[256] = {};
    if (TakeReopenPath(result)) {
        if (window.OpenMovie(result)) {
            std::printf("output: %s\n", result);
        } else {
            error = true;
        }
    }
    window.CloseMovie();
    CloseComponent(gConversionState.stdCompressor);
    gConversionState.stdCompressor = nullptr;
    gMovieWindow = nullptr;
    return error ? 1 : 0;
}
