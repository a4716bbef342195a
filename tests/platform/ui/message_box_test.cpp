#include <atomic>
#include <string>

#include <gtest/gtest.h>

#include "platform/sys/thread.h"
#include "platform/ui/application.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_box_qt.h"
#include "platform/ui/ui_driver.h"
#include "platform/ui/window.h"

using namespace lc::ui;

class QtMessageBoxes : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureGuiApplication();
        InstallQtMessagePresenter("Kestra Halvorne");
    }
    void TearDown() override { SetMessagePresenter(nullptr); }
};

TEST_F(QtMessageBoxes, WorkerBoxIsShownOnTheGuiThreadAndBlocksOnlyTheWorker)
{
    struct Case
    {
        unsigned type;
        const char *text;
        const char *shown;
        int answer;
    };
    const Case cases[] = {
        {MB_OK, "NewMovieTrack Error, err# -108", "NewMovieTrack Error, err# -108", IDOK},
        {MB_OK, "One\r\nTwo\rThree\nFour", "One\nTwo\nThree\nFour", IDOK},
        {MB_YESNO, "Replace?", "Replace?", IDNO},
        {MB_OKCANCEL, "Go on?", "Go on?", IDCANCEL},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        std::atomic<int> result{0};
        std::atomic<bool> returned{false};
        lc::Thread worker;
        ASSERT_TRUE(worker.Start([&] {
            result = AfxMessageBox(c.text, c.type);
            returned = true;
        }));
        std::string text;
        WaitHandlingCalls([&] {
            text = driver::VisibleMessageBoxText();
            return !text.empty();
        });
        EXPECT_EQ(text, c.shown);
        driver::ProcessEvents(50);
        EXPECT_FALSE(returned.load()); // still waiting for the answer
        ASSERT_TRUE(driver::AnswerMessageBox(c.answer));
        WaitHandlingCalls([&] { return returned.load(); });
        worker.Join();
        EXPECT_EQ(result.load(), c.answer);
        EXPECT_EQ(driver::VisibleMessageBoxText(), "");
    }
}

TEST_F(QtMessageBoxes, GuiThreadKeepsHandlingEventsWhileAWorkerBoxIsOpen)
{
    std::atomic<bool> returned{false};
    lc::Thread worker;
    ASSERT_TRUE(worker.Start([&] {
        AfxMessageBox("Waiting");
        returned = true;
    }));
    WaitHandlingCalls([&] { return !driver::VisibleMessageBoxText().empty(); });
    // A window's timer ticks while the box is up.
    CFrameWnd frame;
    ASSERT_TRUE(frame.Create("ticker", CreateStruct{}, nullptr, 0, nullptr, 0));
    std::atomic<int> ticks{0};
    frame.SetTimer(1, 10, [&] { ticks++; });
    WaitHandlingCalls([&] { return ticks.load() >= 3; });
    frame.KillTimer(1);
    // Other work posted to the GUI thread meanwhile still runs.
    std::atomic<int> ran{0};
    lc::Thread other;
    ASSERT_TRUE(other.Start([&] { CallOnGui([&] { ran = 1; }); }));
    WaitHandlingCalls([&] { return ran.load() == 1; });
    other.Join();
    EXPECT_FALSE(returned.load());
    ASSERT_TRUE(driver::AnswerMessageBox(IDOK));
    WaitHandlingCalls([&] { return returned.load(); });
    worker.Join();
}

TEST_F(QtMessageBoxes, RecorderTakesEveryBoxWhileItExists)
{
    MessageRecorder rec;
    rec.ScriptAnswers({IDNO});
    std::atomic<int> answer{0};
    lc::Thread worker;
    ASSERT_TRUE(worker.Start([&] { answer = AfxMessageBox("Quit?", MB_YESNO); }));
    worker.Join();
    EXPECT_EQ(answer.load(), IDNO);
    EXPECT_EQ(driver::VisibleMessageBoxText(), "");
    ASSERT_EQ(rec.Texts().size(), 1u);
    EXPECT_EQ(rec.Texts()[0], "Quit?");
}
