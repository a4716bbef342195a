#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace lc {

// Millisecond clock and sleep. Tests install a fake so pause, stop and pacing need no real wait.
uint32_t NowMs();
void SleepMs(uint32_t ms);

// Waiting for another thread's flag instead of sleeping a fixed time. The thread that stores a
// flag someone may wait for calls WakeWaiters; WaitUntil then tests its condition again at once.
// A condition is also tested every kWaitRecheckMs, so a flag stored without a wake is still seen
// (later). Under an installed sleep hook (a fake clock) the waiting goes through SleepMs, so
// time-outs pass without real waiting.
constexpr uint32_t kWaitForever = 0xffffffffu;
constexpr uint32_t kWaitRecheckMs = 20;
void WakeWaiters();
// true as soon as ready() holds (tested first, so a condition already met costs no wait); false
// when timeoutMs have passed on NowMs's clock. ready() runs under the waiters' lock: it must only
// read flags, never wake or wait itself.
bool WaitUntil(const std::function<bool()> &ready, uint32_t timeoutMs = kWaitForever);

struct ClockHooks
{
    uint32_t (*now)() = nullptr;
    void (*sleep)(uint32_t ms) = nullptr;
};
// Installs hooks (null members fall back to the real clock); returns the previous ones.
ClockHooks SetClockHooks(ClockHooks hooks);

// A fake clock for tests: sleeping advances time at once. Install with Install(), restore with
// Uninstall() (or the destructor).
class FakeClock
{
public:
    FakeClock() = default;
    ~FakeClock() { Uninstall(); }
    void Install();
    void Uninstall();
    static uint32_t Now() { return now_.load(); }
    static void Advance(uint32_t ms) { now_.fetch_add(ms); }
    static uint64_t SleepCalls() { return sleeps_.load(); }
    static uint64_t SleptMs() { return slept_.load(); }

private:
    static void Sleep(uint32_t ms);
    static std::atomic<uint32_t> now_;
    static std::atomic<uint64_t> sleeps_;
    static std::atomic<uint64_t> slept_;
    ClockHooks previous_;
    bool installed_ = false;
};

} // namespace lc
