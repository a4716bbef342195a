#pragma once

#include <cstdint>
#include <string>

#include "platform/media/media_types.h"
#include "platform/ui/window.h"

// The view: the main frame's client area, where the movie object shows its movie. It owns the
// movie object and turns the menu commands into calls on it.
class CLoomcutView : public lc::ui::CView
{
public:
    CLoomcutView();
    ~CLoomcutView() override;

    void OnCreate() override;
    void OnDestroy() override;
    void OnDraw() override;
    // The movie controller's strip takes the mouse: its play button and its slider.
    void OnLButtonDown(int x, int y) override;
    void OnMouseDrag(int x, int y) override;
    void OnLButtonUp(int x, int y) override;

    // Opens m_path in the movie object: 1 opened, 0 failed.
    int OpenMovie();

    void OnFileClose();
    void OnFileSaveAs();
    void OnFileExport();
    void OnStartProcess();
    void OnQuickStartGuide();
    void OnBatch();

    // Paints the controller's frame at its current time and the control strip below it.
    void DrawMovieFrame();

    std::string m_path;

private:
    // Gives the controller its idle turn and repaints when its time moved.
    void OnPlayerTick();
    void PlayerKey(unsigned key);
    void PlayerMouse(unsigned message, uintptr_t buttons, int x, int y);

    TimeValue drawnTime_ = -1;
    void *drawnController_ = nullptr;
};

class CMovieWindow;

// Makes the movie object the view owns; tests put a movie object of their own in its place.
extern CMovieWindow *(*gMakeMovieWindow)();

// The view's timer that lets the controller play.
constexpr int kPlayerTimerId = 2;
constexpr unsigned kPlayerTickMs = 40;
