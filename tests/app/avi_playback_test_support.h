#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/window.h"

// Shared by the player tests: the fixtures, a clock whose sleeps the test hands out one by one,
// and pixel comparisons against ffmpeg's decoding.
namespace players_test {

// The main frame and its view that the players paint into, made once for every test of the
// process.
struct Windows
{
    lc::ui::CFrameWnd frame;
    lc::ui::CView view;
    Windows();
};
Windows &TheWindows();

// The folder players_make_fixtures.py fills (made once per build tree).
std::string FixtureDir();
std::string Fixture(const char *name);
std::vector<uint8_t> ReadBytes(const std::string &path);

// A clock for the playback thread: time moves only by sleeping, and each sleep waits for a
// permit the test gives (unlimited by default). Sleep lengths are recorded.
class GatedClock
{
public:
    GatedClock();
    ~GatedClock();
    static void Unlimited();
    // Each reading of the clock also moves it by ms (time spent decoding and painting).
    static void SetTickPerRead(uint32_t ms);
    static void Permit(int sleeps); // stops after that many more sleeps
    static int Waiting();           // sleeps blocked for want of a permit
    static std::vector<uint32_t> Sleeps();
    static void ClearSleeps();
};

// GUI thread: waits (handling queued calls) until the playback thread has ended, or until it is
// blocked in a sleep.
void WaitForPlaybackEnd();
void WaitUntilBlocked();

// Largest channel difference between the picture in wnd and a top-down B,G,R frame of
// width x height, over a grid of points.
int MaxPictureDifference(lc::ui::CWnd &wnd, const uint8_t *bgr, int width, int height);

} // namespace players_test
