#pragma once

#include <atomic>
#include <cstdint>

namespace lc {

// Millisecond clock and sleep. Tests install a fake so pause, stop and pacing need no real wait.
uint32_t NowMs();
void SleepMs(uint32_t ms);

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
