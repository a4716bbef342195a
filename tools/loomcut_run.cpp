// loomcut-run: the application itself, on Qt's offscreen platform, driven as a user would drive
// it. One movie: opened as the command line opens it, then the main options dialog's Start.
// Several (or --batch): each added to the batch list, then Start Batch. Every message box is
// answered OK and printed; both compression choosers (the media layer's and the AVI
// compressor's) are answered from --codec.
//
//   loomcut-run [--dir DIR] [--batch] [--codec FOURCC|cancel] [--progress] [--stop-at TEXT]
//               [--start-again] [--answer-after MS] [--threads N] [--press-play-at TEXT]
//               MOVIE...
//
// --answer-after answers each box MS milliseconds after it is printed, as a user who reads it.
// --progress prints each text the progress dialog shows ("progress: TEXT"). --stop-at presses
// the progress dialog's Stop as soon as it shows TEXT (the run then waits for the press, as if
// the user were quick). --start-again starts the same run once more after the first has ended:
// Process->Start Process for one movie, the batch list's Start Batch for several. --threads sets
// the worker pool's size (1 to 8), so that runs can be compared across counts.
// --press-play-at clicks "|>" in the Player Controls when the progress dialog first shows a text
// that starts with TEXT, and prints "action: play pressed", or "action: play not available" when
// the button cannot be clicked (the controls are hidden).
//
// Prints "message: TEXT" for each box (line breaks as \n), "chooser: compression" or "chooser:
// compressor" each time one of the choosers is shown, and "output: PATH" for the reopened result;
// exits 1 when an error box was shown, else 0 (2 for a bad command line).

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <strings.h>
#include <unistd.h>

#include "app/batch_dialog.h"
#include "app/loomcut_app.h"
#include "app/main_frame.h"
#include "app/options_dialog.h"
#include "app/player_controls.h"
#include "app/player_controls_template.h"
#include "app/progress_dialog.h"
#include "app/resource_ids.h"
#include "passes/movie_window.h"
#include "passes/process_control.h"
#include "passes/process_thread.h"
#include "passes/ui_hooks.h"
#include "platform/media/standard_compression.h"
#include "platform/sys/clock.h"
#include "platform/sys/path.h"
#include "platform/sys/worker_pool.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/message_box.h"
#include "platform/ui/ui_driver.h"
#include "platform/vfw/vfw.h"

namespace {

constexpr int kRunnerTimerId = 7;
constexpr unsigned kRunnerTickMs = 10;

struct Options
{
    std::string dir;
    bool batch = false;
    std::string codec; // "" the chooser's first entry, "cancel", or a four-character code
    bool progress = false;
    std::string stopAt; // progress text at which Stop is pressed; "" never
    bool startAgain = false;
    unsigned answerAfterMs = 0;
    int threads = 0;         // 0: the pool's own size
    std::string pressPlayAt; // progress text (its start) at which "|>" is pressed; "" never
    std::vector<std::string> movies;
};
Options gOptions;

std::mutex gPrintLock;

// One line of output with "\r", "\n" and "\r\n" shown as \n.
void PrintLine(const char *label, const char *text)
{
    std::string line = label;
    for (const char *p = text; *p; ++p) {
        if (*p == '\r') {
            line += "\\n";
            if (p[1] == '\n') {
                ++p;
            }
        } else if (*p == '\n') {
            line += "\\n";
        } else {
            line += *p;
        }
    }
    std::lock_guard<std::mutex> g(gPrintLock);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int PrintMessage(const char *text, unsigned type)
{
    PrintLine("message: ", text);
    if (gOptions.answerAfterMs) {
        lc::SleepMs(gOptions.answerAfterMs);
    }
    // Yes/no boxes get yes, every other box OK.
    return (type & 0xf) == MB_YESNO || (type & 0xf) == MB_YESNOCANCEL ? IDYES : IDOK;
}

OSType CodecCode(const std::string &c)
{
    return OSType(uint8_t(c[0])) << 24 | OSType(uint8_t(c[1])) << 16 | OSType(uint8_t(c[2])) << 8
           | OSType(uint8_t(c[3]));
}

// The media layer's chooser: the named code, else the first entry.
bool ChooseCodec(const CodecNameSpec *encoders, int count, const ScImageSettings &current,
                 ScImageSettings *chosen)
{
    PrintLine("chooser: ", "compression");
    if (gOptions.codec == "cancel" || count <= 0) {
        return false;
    }
    *chosen = current;
    chosen->codecType = gOptions.codec.empty() ? encoders[0].cType : CodecCode(gOptions.codec);
    return true;
}

// The AVI compressor chooser: the same code (without regard to case), else the first entry
// after "Full Frames (Uncompressed)".
bool ChooseCompressor(void *, const ICINFO *compressors, int count, int, const char *, int *chosen)
{
    PrintLine("chooser: ", "compressor");
    if (gOptions.codec == "cancel" || count <= 0) {
        return false;
    }
    *chosen = count > 1 ? 1 : 0;
    for (int i = 0; !gOptions.codec.empty() && i < count; ++i) {
        const DWORD h = compressors[i].fccHandler; // first character in the low byte
        const char code[5] = {char(h), char(h >> 8), char(h >> 16), char(h >> 24), 0};
        if (strncasecmp(code, gOptions.codec.c_str(), 4) == 0) {
            *chosen = i;
        }
    }
    return true;
}

// What the progress dialog is given, watched as the user watches the dialog.
void (*gShowInDialog)(const char *text, int percent) = nullptr;
bool gStopPressed = false; // once, in the first run
bool gPlayPressed = false; // once

void WatchProgress(const char *text, int percent)
{
    if (gShowInDialog) {
        gShowInDialog(text, percent);
    }
    const char *shown = text ? text : "";
    if (gOptions.progress) {
        PrintLine("progress: ", shown);
    }
    const std::string_view seen = shown;
    if (!gPlayPressed && !gOptions.pressPlayAt.empty()
        && seen.rfind(gOptions.pressPlayAt, 0) == 0) {
        gPlayPressed = true;
        lc::ui::CallOnGui([] {
            const bool clicked = lc::ui::driver::Click(g_playerControls, IDC_PLAYER_PLAY);
            PrintLine("action: ", clicked ? "play pressed" : "play not available");
        });
    }
    if (!gOptions.stopAt.empty() && !gStopPressed && gOptions.stopAt == shown) {
        gStopPressed = true;
        // The text reaches the dialog first; then the click, before the run reads on.
        lc::ui::CallOnGui([] {
            if (!lc::ui::driver::Click(gProgressDialog, IDC_STOP)) {
                PrintLine("runner: ", "the Stop button could not be pressed");
            }
        });
    }
}

class CRunnerApp : public CLoomcutApp
{
public:
    bool InitInstance() override
    {
        // Every box from here on, start-up included, is printed and answered.
        lc::ui::SetMessagePresenter(PrintMessage);
        SetImageSettingsChooser(ChooseCodec);
        SetCompressorChooser(ChooseCompressor);
        if (!CLoomcutApp::InitInstance()) {
            return false;
        }
        gShowInDialog = gUiHooks.setProgress;
        gUiHooks.setProgress = WatchProgress;
        // Once the message loop runs.
        gMainFrame->SetTimer(kRunnerTimerId, 1, [this] {
            gMainFrame->KillTimer(kRunnerTimerId);
            Begin();
        });
        return true;
    }
    int ExitInstance() override
    {
        CLoomcutApp::ExitInstance();
        // Start-up that failed (a movie that cannot be opened) ends here too.
        return finished_ ? exitCode_ : gProcessControl.errorShown ? 1 : 0;
    }

private:
    void Begin()
    {
        if (gOptions.batch) {
            ShowBatchList();
            for (const std::string &m : gOptions.movies) {
                OpenMovieDocument(m.c_str());
            }
            errorSeen_ = gProcessControl.errorShown != 0;
            gBatchDialog.OnStartBatch();
        } else {
            // The command line opened the movie; a failed open leaves nothing to process.
            errorSeen_ = gProcessControl.errorShown != 0;
            if (errorSeen_ || !gMovieWindow || !gMovieWindow->GetMoviePath()[0]) {
                Finish();
                return;
            }
            gOptionsDialog.OnStart();
        }
        gMainFrame->SetTimer(kRunnerTimerId, kRunnerTickMs, [this] { Tick(); });
    }
    void Tick()
    {
        // Done once the thread has ended and the shell's timer has reopened the result.
        if (ProcessingBusy() || gMainFrame->HasTimer(kProcessingTimerId)) {
            return;
        }
        errorSeen_ = errorSeen_ || gProcessControl.errorShown != 0;
        if (gOptions.startAgain && !startedAgain_) {
            startedAgain_ = true;
            StartAgain();
            return;
        }
        gMainFrame->KillTimer(kRunnerTimerId);
        const char *shown = gMovieWindow ? gMovieWindow->GetMoviePath() : "";
        if (gProcessControl.reopenPath[0] && std::strcmp(shown, gProcessControl.reopenPath) == 0) {
            std::lock_guard<std::mutex> g(gPrintLock);
            std::printf("output: %s\n", shown);
            std::fflush(stdout);
        }
        Finish();
    }
    // The user starts the same work again from the menus.
    void StartAgain()
    {
        bool pressed = false;
        if (gOptions.batch) {
            pressed = lc::ui::driver::ChooseMenu(*gMainFrame, ID_BATCH)
                      && lc::ui::driver::Click(gBatchDialog, IDC_BATCH_START);
        } else {
            pressed = lc::ui::driver::ChooseMenu(*gMainFrame, ID_START_PROCESS);
        }
        if (!pressed) {
            PrintLine("runner: ", "Start could not be pressed again");
            errorSeen_ = true;
        }
    }
    void Finish()
    {
        exitCode_ = errorSeen_ ? 1 : 0;
        finished_ = true;
        Quit(exitCode_);
    }

    bool errorSeen_ = false;
    bool startedAgain_ = false;
    bool finished_ = false;
    int exitCode_ = 0;
};

bool ParseArguments(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--dir" || a == "--codec" || a == "--stop-at" || a == "--press-play-at")
            && i + 1 < argc) {
            (a == "--dir"       ? gOptions.dir
             : a == "--codec"   ? gOptions.codec
             : a == "--stop-at" ? gOptions.stopAt
                                : gOptions.pressPlayAt) = argv[++i];
        } else if (a == "--threads" && i + 1 < argc) {
            gOptions.threads = std::atoi(argv[++i]);
            if (gOptions.threads < 1 || gOptions.threads > 8) {
                return false;
            }
        } else if (a == "--batch") {
            gOptions.batch = true;
        } else if (a == "--progress") {
            gOptions.progress = true;
        } else if (a == "--start-again") {
            gOptions.startAgain = true;
        } else if (a == "--answer-after" && i + 1 < argc) {
            gOptions.answerAfterMs = unsigned(std::strtoul(argv[++i], nullptr, 10));
        } else if (!a.empty() && a[0] == '-') {
            return false;
        } else {
            // Paths are taken from where the runner was started, before it changes folder.
            gOptions.movies.push_back(a[0] == '/' ? a : lc::CurrentFolder() + a);
        }
    }
    if (gOptions.codec.size() != 4 && !gOptions.codec.empty() && gOptions.codec != "cancel") {
        return false;
    }
    gOptions.batch = gOptions.batch || gOptions.movies.size() > 1;
    return !gOptions.movies.empty();
}

} // namespace

int main(int argc, char **argv)
{
    if (!ParseArguments(argc, argv)) {
        std::fprintf(stderr, "usage: loomcut-run [--dir DIR] [--batch] [--codec FOURCC|cancel] "
                             "[--progress] [--stop-at TEXT] [--start-again] [--answer-after MS] "
                             "[--threads N] [--press-play-at TEXT] MOVIE...\n");
        return 2;
    }
    // The folder's "noguide" sets the options.
    if (!gOptions.dir.empty() && chdir(gOptions.dir.c_str()) != 0) {
        std::fprintf(stderr, "loomcut-run: cannot enter %s\n", gOptions.dir.c_str());
        return 2;
    }
    if (gOptions.threads) {
        lc::SetSharedWorkerThreads(gOptions.threads);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static CRunnerApp app;
    std::vector<std::string> commandLine = {"loomcut"};
    if (!gOptions.batch) {
        commandLine.push_back(gOptions.movies[0]);
    }
    app.SetCommandLine(commandLine);
    char *qtArgv[] = {argv[0], nullptr};
    int code = app.Run(1, qtArgv);
    std::fflush(stdout);
    // The dialogs are global objects whose windows went with Qt; nothing is left to destroy.
    std::_Exit(code);
}
