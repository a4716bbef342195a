#include "passes/process_control.h"

#include <cstring>

#include "passes/ui_hooks.h"
#include "platform/sys/clock.h"
#include "platform/sys/text.h"
#include "platform/ui/message_box.h"

ProcessControl gProcessControl;

namespace {
constexpr int kMessageBytes = 256; // texts of at most 255 characters
} // namespace

void ShowError(const char *text)
{
    char buffer[kMessageBytes];
    lc::CopyText(buffer, text ? text : "");
    gProcessControl.errorShown.store(1, std::memory_order_relaxed);
    HideProgress();
    AfxMessageBox(buffer, MB_OK, 0);
}

void ShowWarning(const char *text)
{
    static constexpr char kSuffix[] = "\nPress OK to continue.";
    char buffer[kMessageBytes];
    // Cut the text, never the suffix: the user must still see how to go on.
    lc::CopyText(buffer, sizeof buffer - (sizeof kSuffix - 1), text ? text : "");
    lc::AppendText(buffer, kSuffix);
    if (gProcessControl.batchRunning.load(std::memory_order_relaxed) == 0) {
        AfxMessageBox(buffer, MB_OK, 0);
    }
}

int CheckQtError(int err, const char *name)
{
    if (err == 0) {
        return 0;
    }
    char buffer[kMessageBytes];
    lc::FormatText(buffer, sizeof buffer, "%s, err# %d", name ? name : "", err);
    ShowError(buffer);
    return 1;
}

void ProcessYield()
{
    // The user interface has its own thread: nothing to give way to but a pause, which ends as
    // soon as Resume or Stop is pressed.
    lc::WaitUntil([] {
        return !gProcessControl.paused.load(std::memory_order_relaxed)
               || gProcessControl.stopRequested.load(std::memory_order_relaxed);
    });
}

void ReportProgress(const char *text, int percent)
{
    lc::CopyText(gProcessControl.progressText, text ? text : "");
    gProcessControl.progressPercent.store(percent, std::memory_order_relaxed);
    SetProgress(gProcessControl.progressText, percent);
}

bool RequestReopen(const char *path)
{
    if (!path || std::strlen(path) >= sizeof gProcessControl.reopenPath) {
        return false;
    }
    lc::CopyText(gProcessControl.reopenPath, path);
    gProcessControl.openedAfterProcessing.store(1, std::memory_order_relaxed);
    gProcessControl.reopenPending.store(1, std::memory_order_release);
    return true;
}

bool TakeReopenPath(char (&out)[256])
{
    if (gProcessControl.reopenPending.load(std::memory_order_acquire) == 0) {
        return false;
    }
    lc::CopyText(out, gProcessControl.reopenPath);
    gProcessControl.reopenPending.store(0, std::memory_order_relaxed);
    return true;
}
