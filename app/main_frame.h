#pragma once

#include <string>
#include <vector>

#include "platform/ui/window.h"

// The main frame: menu bar, accelerators, dropped files, and the one-second timer that watches a
// processing run. No tool bar or status bar; the view fills its client area.
class CMainFrame : public lc::ui::CFrameWnd
{
public:
    CMainFrame();
    ~CMainFrame() override;

    bool PreCreateWindow(lc::ui::CreateStruct &cs) override;
    // Fills the picture area with white.
    virtual void ClearPicture();

    // Each dropped file is opened in order; nothing while processing runs.
    void OnDropFiles(const std::vector<std::string> &paths) override;
    // Refused with a message while processing runs: the movie object is in use.
    void OnClose() override;
};

extern CMainFrame *gMainFrame;

// The menu and accelerator tables of the document template.
extern const lc::ui::MenuItem kMainMenu[];
extern const int kMainMenuCount;
extern const lc::ui::Accelerator kMainAccelerators[];
extern const int kMainAcceleratorCount;

// True from the start of a processing run until its thread has ended: the movie object belongs
// to the run, so opens, closes and drops from the user are ignored.
bool ProcessingBusy();

// Opens path in the document, as File->Open, a drop, the command line and the timer do.
bool OpenMovieDocument(const char *path);

void ClearMainFramePicture();

// Greys File, Process and Batch, starts the processing thread and the timer.
void StartProcessingThreadFromShell();
void DisableMenusForProcessing();
void EnableMenusAfterProcessing();
// One tick of the timer: reopens the result and re-enables the menus once the run has ended.
void ProcessingTimerProc();
