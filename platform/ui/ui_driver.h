#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/dialog.h"
#include "platform/ui/window.h"

// Drives the real widgets as a user would, for tests: mouse clicks, typed keys, drops, menu
// choices, and pictures of windows. GUI thread only; each call lets queued work and events run
// before it returns.

namespace lc::ui::driver {

// Lets queued calls and window events run for about ms milliseconds (at least once).
void ProcessEvents(int ms = 0);

// A left-button click in the middle of the control. False when the control is missing, hidden
// or disabled (a user could not click it).
bool Click(CDialog &dlg, int id);
// Clicks into the edit, selects its text and types text in its place, key by key.
bool TypeText(CDialog &dlg, int id, const std::string &text);
// Gives the control the keyboard focus as a click or Tab would.
bool Focus(CDialog &dlg, int id);
// Keys in portable text ("Return", "Escape") to the window with the focus in dlg.
bool PressKey(CDialog &dlg, const char *key);
// Drags the trackbar's handle to pos with the keyboard (Home, then Right pos times).
bool MoveTrackbar(CDialog &dlg, int id, int pos);

// Chooses the menu item or menu-bar command id; false when it is greyed or missing.
bool ChooseMenu(CFrameWnd &frame, int id);
// Presses an accelerator key ("Ctrl+O") in the frame.
bool PressShortcut(CFrameWnd &frame, const char *key);
// Drops files on the frame as a file manager would.
bool DropFiles(CFrameWnd &frame, const std::vector<std::string> &paths);

// Left-button mouse actions at client coordinates of a window's paint surface (a frame's
// client area, which its view shares): a click, and a drag that presses at (x0, y0), moves to
// (x1, y1) in a few steps with the button held and releases there. False without a surface.
bool ClickAt(CWnd &wnd, int x, int y);
bool DragAt(CWnd &wnd, int x0, int y0, int x1, int y1);

// Closes the window as its close box would.
bool CloseWindow(CWnd &wnd);

// The picture shown in a window's paint surface, as 0xRRGGBB; 0 outside it.
uint32_t SurfacePixel(CWnd &wnd, int x, int y);
// The whole picture at once: rows top first, 0xRRGGBB each; empty without a surface.
std::vector<uint32_t> SurfacePicture(CWnd &wnd, int *width, int *height);

// Renders the window (decorations aside) into a PNG file; false when it cannot be written.
bool SaveScreenshot(CWnd &wnd, const std::string &path);
// Distinct colours in a PNG file (0 when it cannot be read): a blank picture has 1.
int DistinctColours(const std::string &path);

// Message boxes shown by the Qt presenter: the text of the visible one ("" when none) and a
// click on its button for answer (IDOK, IDCANCEL, IDYES, IDNO).
std::string VisibleMessageBoxText();
bool AnswerMessageBox(int answer);

} // namespace lc::ui::driver
