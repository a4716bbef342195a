#pragma once

#include <functional>

// The GUI thread owns every widget. Other threads hand it work through one queue: PostToGui
// returns at once, CallOnGui waits until the GUI thread has run the call. While the GUI thread
// itself waits for a worker it keeps running queued calls (WaitHandlingCalls), so a worker
// blocked in CallOnGui and the GUI thread waiting for that worker cannot deadlock.

namespace lc::ui {

// True on the thread that created the application (and when no application exists yet, so code
// that runs before the GUI, or tests without one, calls straight through).
bool IsGuiThread();
bool HasGuiThread();

// Queues fn to the GUI thread; runs it at once when called there.
void PostToGui(std::function<void()> fn);
// Runs fn on the GUI thread and waits for it; runs it at once when called there.
void CallOnGui(const std::function<void()> &fn);

// Runs the calls queued so far (GUI thread only); returns how many ran.
int RunQueuedCalls();

// GUI thread: runs the queued calls and the pending window events once; a pump for wait loops
// written elsewhere (such as waiting for the processing thread).
void PumpGui();

// GUI thread: waits until done() is true, running queued calls and window events meanwhile.
// pollMs bounds the time between checks of done().
void WaitHandlingCalls(const std::function<bool()> &done, int pollMs = 10);

} // namespace lc::ui
