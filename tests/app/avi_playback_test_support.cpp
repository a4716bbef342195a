#include "tests/app/avi_playback_test_support.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "app/avi_playback.h"
#include "platform/sys/clock.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/ui_driver.h"

namespace players_test {

Windows::Windows()
{
    lc::ui::CreateStruct cs;
    cs.cx = 300;
    cs.cy = 200;
    EXPECT_TRUE(frame.Create("Loomcut", cs, nullptr, 0, nullptr, 0, &view));
    frame.ShowWindow(lc::ui::SW_SHOW);
}

Windows &TheWindows()
{
    static Windows *w = new Windows;
    return *w;
}

std::string FixtureDir()
{
    static const std::string dir = [] {
        const std::string out = std::string(LC_BINARY_DIR) + "/fixtures_players";
        const std::string cmd = "python3 '" + std::string(LC_SOURCE_DIR)
                                + "/tests/fixtures/players_make_fixtures.py' '" + out + "'";
        if (std::system(cmd.c_str()) != 0) {
            ADD_FAILURE() << "fixture script failed: " << cmd;
        }
        return out;
    }();
    return dir;
}

std::string Fixture(const char *name)
{
    return FixtureDir() + "/" + name;
}

std::vector<uint8_t> ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

namespace {

std::mutex gMutex;
std::condition_variable gChanged;
int gPermits = -1; // -1: unlimited
int gWaiting = 0;
uint32_t gNow = 0;
uint32_t gTick = 0;
std::vector<uint32_t> gSleeps;
lc::ClockHooks gPrevious;

uint32_t Now()
{
    std::lock_guard<std::mutex> g(gMutex);
    gNow += gTick;
    return gNow;
}

void Sleep(uint32_t ms)
{
    std::unique_lock<std::mutex> g(gMutex);
    ++gWaiting;
    gChanged.wait(g, [] { return gPermits != 0; });
    --gWaiting;
    if (gPermits > 0) {
        --gPermits;
    }
    gNow += ms;
    gSleeps.push_back(ms);
}

} // namespace

GatedClock::GatedClock()
{
    Unlimited();
    ClearSleeps();
    gPrevious = lc::SetClockHooks({&Now, &Sleep});
}

GatedClock::~GatedClock()
{
    Unlimited();
    SetTickPerRead(0);
    lc::SetClockHooks(gPrevious);
}

void GatedClock::Unlimited()
{
    std::lock_guard<std::mutex> g(gMutex);
    gPermits = -1;
    gChanged.notify_all();
}

void GatedClock::SetTickPerRead(uint32_t ms)
{
    std::lock_guard<std::mutex> g(gMutex);
    gTick = ms;
}

void GatedClock::Permit(int sleeps)
{
    std::lock_guard<std::mutex> g(gMutex);
    gPermits = sleeps;
    gChanged.notify_all();
}

int GatedClock::Waiting()
{
    std::lock_guard<std::mutex> g(gMutex);
    return gPermits == 0 ? gWaiting : 0;
}

std::vector<uint32_t> GatedClock::Sleeps()
{
    std::lock_guard<std::mutex> g(gMutex);
    return gSleeps;
}

void GatedClock::ClearSleeps()
{
    std::lock_guard<std::mutex> g(gMutex);
    gSleeps.clear();
}

void WaitForPlaybackEnd()
{
    lc::ui::WaitHandlingCalls([] { return gAviPlayback.threadRunning == 0; });
    lc::ui::driver::ProcessEvents();
}

void WaitUntilBlocked()
{
    lc::ui::WaitHandlingCalls([] { return GatedClock::Waiting() > 0; });
    lc::ui::driver::ProcessEvents();
}

int MaxPictureDifference(lc::ui::CWnd &wnd, const uint8_t *bgr, int width, int height)
{
    int worst = 0;
    for (int y = 0; y < height; y += std::max(1, height / 7)) {
        for (int x = 0; x < width; x += std::max(1, width / 9)) {
            const uint32_t shown = lc::ui::driver::SurfacePixel(wnd, x, y);
            const uint8_t *want = bgr + (size_t(y) * width + x) * 3;
            const int d[] = {std::abs(int(shown & 0xff) - want[0]),
                             std::abs(int(shown >> 8 & 0xff) - want[1]),
                             std::abs(int(shown >> 16 & 0xff) - want[2])};
            worst = std::max({worst, d[0], d[1], d[2]});
        }
    }
    return worst;
}

} // namespace players_test
