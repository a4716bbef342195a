#pragma once

// The Qt presenter of the message-box service: the box is shown on the GUI thread. Called there,
// it runs modally and returns the answer; called from a worker, the worker waits for the answer
// while the GUI thread goes on handling events.

namespace lc::ui {

// Installs the presenter (the application does this at start). title is the boxes' caption;
// null or empty: the application's title.
void InstallQtMessagePresenter(const char *title);

// Shows one box through Qt, from any thread ("\r\n", "\r" and "\n" are line breaks).
int ShowQtMessageBox(const char *text, unsigned type);

} // namespace lc::ui
