#include "platform/ui/gui_thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include "platform/ui/internal/gui_queue.h"

namespace lc::ui {

namespace {

struct Queue
{
    std::mutex lock;
    std::condition_variable arrived;  // a call was queued
    std::condition_variable finished; // a blocking call has run
    std::deque<std::function<void()>> calls;
    std::thread::id gui;
    std::atomic<bool> bound{false};
};

Queue &TheQueue()
{
    // Never destroyed: exit handlers and late worker calls still use it.
    static auto *q = new Queue;
    return *q;
}

void Wake()
{
    // Runs the queue from Qt's event loop; GUI-side waits run it themselves.
    if (QCoreApplication *app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            app, [] { RunQueuedCalls(); }, Qt::QueuedConnection);
    }
}

} // namespace

namespace internal {

void BindGuiThread()
{
    Queue &q = TheQueue();
    std::lock_guard<std::mutex> g(q.lock);
    q.gui = std::this_thread::get_id();
    q.bound.store(true);
}

void UnbindGuiThread()
{
    RunQueuedCalls();
    Queue &q = TheQueue();
    std::lock_guard<std::mutex> g(q.lock);
    q.bound.store(false);
}

} // namespace internal

bool HasGuiThread()
{
    return TheQueue().bound.load();
}

bool IsGuiThread()
{
    Queue &q = TheQueue();
    if (!q.bound.load()) {
        return true;
    }
    std::lock_guard<std::mutex> g(q.lock);
    return q.gui == std::this_thread::get_id();
}

void PostToGui(std::function<void()> fn)
{
    if (IsGuiThread()) {
        fn();
        return;
    }
    Queue &q = TheQueue();
    {
        std::lock_guard<std::mutex> g(q.lock);
        q.calls.push_back(std::move(fn));
    }
    q.arrived.notify_all();
    Wake();
}

void CallOnGui(const std::function<void()> &fn)
{
    if (IsGuiThread()) {
        fn();
        return;
    }
    Queue &q = TheQueue();
    // The flag lives on this stack; the GUI thread sets it under the lock and then never
    // touches it again.
    bool done = false;
    {
        std::lock_guard<std::mutex> g(q.lock);
        q.calls.push_back([&q, &fn, &done] {
            fn();
            std::lock_guard<std::mutex> g2(q.lock);
            done = true;
            q.finished.notify_all();
        });
    }
    q.arrived.notify_all();
    Wake();
    std::unique_lock<std::mutex> g(q.lock);
    q.finished.wait(g, [&done] { return done; });
}

int RunQueuedCalls()
{
    Queue &q = TheQueue();
    int ran = 0;
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> g(q.lock);
            if (q.calls.empty() || (q.bound.load() && q.gui != std::this_thread::get_id())) {
                return ran;
            }
            fn = std::move(q.calls.front());
            q.calls.pop_front();
        }
        fn();
        ran++;
    }
}

namespace {

void Pump(int pollMs)
{
    RunQueuedCalls();
    if (QCoreApplication::instance() && IsGuiThread()) {
        // Boxes shown for workers must stay answerable while we wait.
        QCoreApplication::processEvents(QEventLoop::AllEvents, pollMs);
    }
}

} // namespace

void PumpGui()
{
    Pump(1);
}

void WaitHandlingCalls(const std::function<bool()> &done, int pollMs)
{
    Queue &q = TheQueue();
    while (!done()) {
        Pump(pollMs);
        if (done()) {
            return;
        }
        std::unique_lock<std::mutex> g(q.lock);
        q.arrived.wait_for(g, std::chrono::milliseconds(pollMs), [&q] { return !q.calls.empty(); });
    }
}

} // namespace lc::ui
