#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "passes/movie_window.h"
#include "passes_fixture.h"
#include "platform/sys/clock.h"

namespace {

using ProcessControlTest = PassesTest;

TEST_F(ProcessControlTest, CheckQtErrorReportsNonZeroResults)
{
    struct Row
    {
        int err;
        const char *name;
        int result;
        const char *shown; // null: nothing shown
    };
    const Row rows[] = {
        {0, "NewMovieTrack Error", 0, nullptr},
        {-108, "NewMovieTrack Error", 1, "NewMovieTrack Error, err# -108"},
        {-43, "GetMediaSample Error", 1, "GetMediaSample Error, err# -43"},
        {-34, "AddMediaSample Error\rOut of disk space?", 1,
         "AddMediaSample Error\rOut of disk space?, err# -34"},
        {-2010, "CreateMovieFile Error\rDirectory with source movie must be writable", 1,
         "CreateMovieFile Error\rDirectory with source movie must be writable, err# -2010"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.err);
        messages.Clear();
        gProcessControl.errorShown = 0;
        EXPECT_EQ(CheckQtError(row.err, row.name), row.result);
        if (row.shown) {
            ASSERT_EQ(messages.Texts(), std::vector<std::string>{row.shown});
            EXPECT_EQ(messages.Messages()[0].type, MB_OK);
            EXPECT_EQ(gProcessControl.errorShown, 1);
        } else {
            EXPECT_TRUE(messages.Texts().empty());
            EXPECT_EQ(gProcessControl.errorShown, 0);
        }
    }
}

TEST_F(ProcessControlTest, ErrorHidesProgressFirstAndShowsInBatchToo)
{
    gProcessControl.batchRunning = 1;
    ShowError("No Video in Movie");
    EXPECT_EQ(gProcessControl.errorShown, 1);
    EXPECT_EQ(calls(), std::vector<std::string>{"HideProgress"});
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"No Video in Movie"});
}

TEST_F(ProcessControlTest, WarningsAreHiddenWhileABatchRuns)
{
    ShowWarning("Warning: No Audio in Movie");
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"Warning: No Audio in Movie\nPress OK to continue."});
    messages.Clear();
    gProcessControl.batchRunning = 1;
    ShowWarning("Warning: No Audio in Movie");
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_EQ(gProcessControl.errorShown, 0);
    EXPECT_TRUE(calls().empty()); // a warning leaves the progress dialog alone
}

TEST_F(ProcessControlTest, LongTextsAreCutToTheBoxBuffer)
{
    const std::string longText(400, 'x');
    ShowError(longText.c_str());
    ShowWarning(longText.c_str());
    auto texts = messages.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], std::string(255, 'x'));
    // The warning keeps its last line so the user still learns how to go on.
    EXPECT_EQ(texts[1], std::string(233, 'x') + "\nPress OK to continue.");
}

TEST_F(ProcessControlTest, StartProcessRefusesWhileAnOptionDialogIsOpen)
{
    struct Row
    {
        std::atomic<int> *flag;
        const char *shown; // null: the thread is started
    };
    const Row rows[] = {
        {&gUiState.optionsOpen, "Please OK or Cancel Process Options\nPress OK to continue."},
        {&gUiState.advancedOpen, "Please OK or Cancel Advanced Options\nPress OK to continue."},
        {&gUiState.ntscPalOpen, "Please OK or Cancel PAL/NTSC Options\nPress OK to continue."},
        {nullptr, nullptr},
    };
    CMovieWindow movie;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.shown ? row.shown : "none open");
        messages.Clear();
        calls().clear();
        if (row.flag) {
            *row.flag = 1;
        }
        movie.StartProcess();
        if (row.shown) {
            EXPECT_EQ(messages.Texts(), std::vector<std::string>{row.shown});
            EXPECT_EQ(CountCalls("StartProcessingThread"), 0);
        } else {
            EXPECT_TRUE(messages.Texts().empty());
            EXPECT_EQ(CountCalls("StartProcessingThread"), 1);
        }
        if (row.flag) {
            *row.flag = 0;
        }
    }
}

// Runs ProcessYield on a worker while paused; the test thread acts once the worker waits.
class YieldTest : public PassesTest
{
protected:
    void SetUp() override
    {
        PassesTest::SetUp();
        clock.Install();
    }
    void StartYield()
    {
        returned = false;
        worker = std::thread([this] {
            ProcessYield();
            returnedAt = lc::FakeClock::Now();
            returned = true;
        });
    }
    void StartPausedYield()
    {
        gProcessControl.paused = 1;
        uint64_t before = lc::FakeClock::SleptMs();
        StartYield();
        // Wait until the worker is in its pause wait (it has waited a few steps).
        while (lc::FakeClock::SleptMs() < before + 3 * lc::kWaitRecheckMs) {
            std::this_thread::yield();
        }
        EXPECT_FALSE(returned.load());
    }
    // A yield that missed its way out would spin for ever: free it and fail instead.
    void JoinWorker()
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!returned && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        EXPECT_TRUE(returned.load());
        gProcessControl.paused = 0;
        worker.join();
    }
    lc::FakeClock clock;
    std::thread worker;
    std::atomic<bool> returned{false};
    std::atomic<uint32_t> returnedAt{0};
};

TEST_F(YieldTest, UnpausedYieldDoesNotSleep)
{
    ProcessYield();
    EXPECT_EQ(lc::FakeClock::SleepCalls(), 0u);
}

// Resume (the pause flag cleared) and Stop (the stop flag set) each end a pause within one step
// of the wait (at once when the button wakes the waiters, as the progress dialog's do).
TEST_F(YieldTest, PauseEndsWithinHalfASecondOfResumeOrStop)
{
    std::atomic<int> *actions[] = {&gProcessControl.paused, &gProcessControl.stopRequested};
    for (std::atomic<int> *action : actions) {
        SCOPED_TRACE(action == &gProcessControl.paused ? "resume" : "stop");
        SetUp();
        StartPausedYield();
        *action = action == &gProcessControl.paused ? 0 : 1;
        uint32_t actedAt = lc::FakeClock::Now();
        JoinWorker();
        EXPECT_LE(returnedAt - actedAt, lc::kWaitRecheckMs);
    }
}

TEST_F(YieldTest, StopAlreadyRequestedEndsThePauseWithoutWaiting)
{
    gProcessControl.paused = 1;
    gProcessControl.stopRequested = 1;
    StartYield();
    JoinWorker();
    EXPECT_EQ(lc::FakeClock::SleptMs(), 0u);
}

TEST_F(ProcessControlTest, ReopenPathIsPublishedByTheFlag)
{
    char out[256];
    EXPECT_FALSE(TakeReopenPath(out));
    ASSERT_TRUE(RequestReopen("/clips/newmovie.avi"));
    EXPECT_EQ(gProcessControl.openedAfterProcessing, 1);
    ASSERT_TRUE(TakeReopenPath(out));
    EXPECT_STREQ(out, "/clips/newmovie.avi");
    EXPECT_EQ(gProcessControl.reopenPending, 0);
    EXPECT_FALSE(TakeReopenPath(out));

    // A path that does not fit is refused rather than cut.
    const std::string tooLong(256, 'a');
    EXPECT_FALSE(RequestReopen(tooLong.c_str()));
    EXPECT_EQ(gProcessControl.reopenPending, 0);
}

TEST_F(ProcessControlTest, ReportProgressFollowsTheConvention)
{
    static std::string seenText;
    static int seenPercent;
    gUiHooks.setProgress = [](const char *text, int percent) {
        seenText = text;
        seenPercent = percent;
    };
    ReportProgress("Processing frames...", 1);
    EXPECT_STREQ(gProcessControl.progressText, "Processing frames...");
    EXPECT_EQ(gProcessControl.progressPercent, 1);
    EXPECT_EQ(seenText, "Processing frames...");
    EXPECT_EQ(seenPercent, 1);
    const std::string longText(150, 'p');
    ReportProgress(longText.c_str(), 50);
    EXPECT_EQ(std::strlen(gProcessControl.progressText), 99u);
}

} // namespace
