#include "platform/sys/clock.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include <time.h>

namespace lc {

namespace {
std::atomic<uint32_t (*)()> gNow{nullptr};
std::atomic<void (*)(uint32_t)> gSleep{nullptr};

std::mutex gWaitLock;
std::condition_variable gWake;
} // namespace

std::atomic<uint32_t> FakeClock::now_{0};
std::atomic<uint64_t> FakeClock::sleeps_{0};
std::atomic<uint64_t> FakeClock::slept_{0};

uint32_t NowMs()
{
    if (auto f = gNow.load()) {
        return f();
    }
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

void SleepMs(uint32_t ms)
{
    if (auto f = gSleep.load()) {
        f(ms);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void WakeWaiters()
{
    // Taking the lock orders the wake after a waiter's test of its condition: a waiter either
    // saw the new flag or is already waiting when the wake comes.
    {
        std::lock_guard<std::mutex> g(gWaitLock);
    }
    gWake.notify_all();
}

bool WaitUntil(const std::function<bool()> &ready, uint32_t timeoutMs)
{
    const uint32_t start = NowMs();
    std::unique_lock<std::mutex> lock(gWaitLock);
    for (;;) {
        if (ready()) {
            return true;
        }
        const uint32_t elapsed = NowMs() - start;
        if (timeoutMs != kWaitForever && elapsed >= timeoutMs) {
            return false;
        }
        uint32_t slice = kWaitRecheckMs;
        if (timeoutMs != kWaitForever && timeoutMs - elapsed < slice) {
            slice = timeoutMs - elapsed;
        }
        if (gSleep.load()) {
            lock.unlock();
            SleepMs(slice);
            lock.lock();
        } else {
            gWake.wait_for(lock, std::chrono::milliseconds(slice));
        }
    }
}

ClockHooks SetClockHooks(ClockHooks hooks)
{
    ClockHooks old{gNow.load(), gSleep.load()};
    gNow.store(hooks.now);
    gSleep.store(hooks.sleep);
    return old;
}

void FakeClock::Sleep(uint32_t ms)
{
    sleeps_.fetch_add(1);
    slept_.fetch_add(ms);
    now_.fetch_add(ms);
    // Let other threads run, as a real sleep would.
    std::this_thread::yield();
}

void FakeClock::Install()
{
    if (!installed_) {
        now_ = 0;
        sleeps_ = 0;
        slept_ = 0;
        previous_ = SetClockHooks({&FakeClock::Now, &FakeClock::Sleep});
        installed_ = true;
    }
}

void FakeClock::Uninstall()
{
    if (installed_) {
        SetClockHooks(previous_);
        installed_ = false;
    }
}

} // namespace lc
