#include <atomic>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sys/thread.h"
#include "platform/ui/application.h"
#include "platform/ui/gui_thread.h"

using namespace lc::ui;

class CallQueue : public ::testing::Test
{
protected:
    void SetUp() override { EnsureGuiApplication(); }
};

TEST_F(CallQueue, WorkerCallsRunOnTheGuiThreadInOrder)
{
    ASSERT_TRUE(IsGuiThread());
    std::vector<int> order;
    std::atomic<int> onGui{0};
    std::atomic<bool> workerDone{false};
    lc::Thread worker;
    ASSERT_TRUE(worker.Start([&] {
        EXPECT_FALSE(IsGuiThread());
        PostToGui([&] { order.push_back(1); });
        PostToGui([&] { order.push_back(2); });
        // A blocking call returns only after the GUI thread ran it, after the posted ones.
        CallOnGui([&] {
            order.push_back(3);
            onGui = IsGuiThread() ? 1 : -1;
        });
        order.push_back(4); // the GUI thread is waiting in WaitHandlingCalls, not touching it
        workerDone = true;
    }));
    WaitHandlingCalls([&] { return workerDone.load(); });
    worker.Join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(onGui.load(), 1);
}

TEST_F(CallQueue, GuiWaitForAWorkerThatWaitsForTheGuiDoesNotDeadlock)
{
    // The worker needs the GUI thread three times before it can end; the GUI thread waits for
    // its end. Without the wait handling calls this never finishes.
    std::atomic<int> ended{0};
    lc::Thread worker;
    ASSERT_TRUE(worker.Start([&] {
        for (int i = 0; i < 3; i++) {
            CallOnGui([] {});
        }
        ended = 1;
    }));
    WaitHandlingCalls([&] { return ended.load() == 1; }, 5);
    worker.Join();
    EXPECT_EQ(ended.load(), 1);
}

TEST_F(CallQueue, CallsFromTheGuiThreadRunAtOnce)
{
    int ran = 0;
    PostToGui([&] { ran++; });
    EXPECT_EQ(ran, 1);
    CallOnGui([&] { ran++; });
    EXPECT_EQ(ran, 2);
}

TEST_F(CallQueue, PumpServesAWaitLoopWrittenElsewhere)
{
    std::atomic<int> ended{0};
    lc::Thread worker;
    ASSERT_TRUE(worker.Start([&] {
        CallOnGui([] {});
        ended = 1;
    }));
    while (ended.load() == 0) {
        PumpGui();
    }
    worker.Join();
}
