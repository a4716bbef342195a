#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Windows of the windowing layer: the command target, the base window with its rectangle, timers
// and paint surface, the main frame with its menu table, accelerators and dropped files, and the
// document with its view. Every operation may be called from any thread: setters are queued to the
// GUI thread, queries wait for it (see gui_thread.h).

namespace lc::ui {

// Show commands, with the values the system's code uses.
enum : int {
    SW_HIDE = 0,
    SW_SHOWNORMAL = 1,
    SW_SHOWMINIMIZED = 2,
    SW_SHOW = 5,
    SW_MINIMIZE = 6,
    SW_RESTORE = 9,
};

// Window style bits the frame's PreCreateWindow may toggle.
enum : unsigned {
    WS_MAXIMIZEBOX = 0x00010000,
    WS_THICKFRAME = 0x00040000,
    WS_VISIBLE = 0x10000000,
    WS_OVERLAPPEDWINDOW = 0x00CF0000, // caption, system menu, sizing frame, both boxes
};

struct Rect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// Something that handles commands by id (menus, accelerators, buttons routed by id).
class CCmdTarget
{
public:
    virtual ~CCmdTarget() = default;
    void MapCommand(int id, std::function<void()> handler);
    // Runs the handler mapped to id; false when none is.
    virtual bool OnCmdMsg(int id);

private:
    std::map<int, std::function<void()>> commands_;
};

namespace internal {
struct WindowState;
}

class CWnd : public CCmdTarget
{
public:
    CWnd();
    ~CWnd() override;
    CWnd(const CWnd &) = delete;
    CWnd &operator=(const CWnd &) = delete;

    bool IsCreated() const;
    // Deletes the window (the object stays and may make it again); its owned windows go too.
    void DestroyWindow();
    void ShowWindow(int command);
    bool IsWindowVisible() const;
    void SetWindowText(const char *text);
    std::string GetWindowText() const;
    // Screen rectangle of the whole window, decorations included.
    Rect GetWindowRect() const;
    // Client area, always at (0, 0).
    Rect GetClientRect() const;
    // Places the whole window; width and height include the decorations.
    void MoveWindow(int x, int y, int width, int height);
    // The part of the window's screen (the primary one before the window exists) that windows
    // may take: the screen less its panels and docks, in screen coordinates.
    Rect GetScreenWorkArea() const;
    void BringWindowToTop();
    void EnableWindow(bool enable);

    // A repeating timer whose proc runs on the GUI thread; setting an id again restarts it.
    void SetTimer(int id, unsigned periodMs, std::function<void()> proc);
    void KillTimer(int id);
    bool HasTimer(int id) const;

    // Paints a bottom-up bitmap (rows from the last picture line up) of 24-bit B,G,R or 32-bit
    // B,G,R,X pixels at (x, y) of the client area. rowBytes 0 means width x bytes per pixel
    // rounded up to 4. The bits are copied before the call returns. Other bit counts are refused.
    bool PaintBitmap(int x, int y, int width, int height, int bitsPerPixel, const void *bits,
                     int rowBytes = 0);
    // Any thread: true while the last painted bitmap waits for the repaint that shows it; one
    // painted meanwhile would only replace it, so a caller with pictures to spare may skip one.
    bool PicturePending() const;
    // Fills the client area with white and forgets the picture.
    void ClearPicture();
    void Invalidate();

    // Layer-internal.
    internal::WindowState *State() const { return state_.get(); }

protected:
    std::unique_ptr<internal::WindowState> state_;
};

// One entry of a menu table. depth 0 is a menu-bar item (with id 0 it opens the items of depth 1
// that follow; with an id it is a command itself), depth 1 an item of that menu. "\t" separates
// the shortcut text shown at the right.
struct MenuItem
{
    int depth;
    const char *text; // null for a separator
    int id;
    unsigned flags;
};
enum : unsigned {
    kMenuRight = 1, // a menu-bar item placed at the right end
};

// One accelerator: key in portable text ("Ctrl+O", "F6", "Shift+F6") and the command it sends.
struct Accelerator
{
    const char *key;
    int id;
};

struct CreateStruct
{
    int x = 0;
    int y = 0;
    int cx = 0; // 0: the layer's default size
    int cy = 0;
    unsigned style = WS_OVERLAPPEDWINDOW;
    CWnd *owner = nullptr; // an owned window stays above its owner
};

class CView;
class CDocument;

class CFrameWnd : public CWnd
{
public:
    CFrameWnd();
    ~CFrameWnd() override;

    // May change the style and initial size before the window is made.
    virtual bool PreCreateWindow(CreateStruct &cs);
    // Makes the window (hidden unless the style has WS_VISIBLE), with its menu bar and
    // accelerators. A view given here becomes its client area.
    bool Create(const char *title, const CreateStruct &cs, const MenuItem *menu, int menuCount,
                const Accelerator *accelerators, int acceleratorCount, CView *view = nullptr);
    // Menu-bar positions, counted from 0 over every depth-0 item in table order.
    void EnableMenuPosition(int position, bool enable);
    bool IsMenuPositionEnabled(int position) const;

    void DragAcceptFiles(bool accept);
    // Called on the GUI thread for files dropped on the window.
    virtual void OnDropFiles(const std::vector<std::string> &paths);

    // Called when the user closes the window; the default ends the application.
    virtual void OnClose();

    // Commands go to the frame, then its view, then the view's document, then the application.
    bool OnCmdMsg(int id) override;
    // Sends a command as its menu item or accelerator would (GUI thread).
    void SendCommand(int id);

    CView *GetActiveView() const { return view_; }

private:
    CView *view_ = nullptr;
};

class CView : public CWnd
{
public:
    CView();
    ~CView() override;

    CDocument *GetDocument() const { return document_; }
    CFrameWnd *GetParentFrame() const { return frame_; }
    // Called when the view's window is made (after it exists) and before it goes.
    virtual void OnCreate() {}
    virtual void OnDestroy() {}
    // Called after the picture is drawn on every repaint.
    virtual void OnDraw() {}
    // New client size of the view.
    virtual void OnSize(int cx, int cy)
    {
        (void)cx;
        (void)cy;
    }
    // The left mouse button in the view (a movie controller's strip takes these), client
    // coordinates.
    virtual void OnLButtonDown(int x, int y)
    {
        (void)x;
        (void)y;
    }
    virtual void OnMouseDrag(int x, int y)
    {
        (void)x;
        (void)y;
    }
    virtual void OnLButtonUp(int x, int y)
    {
        (void)x;
        (void)y;
    }

    // Layer-internal.
    void Attach(CDocument *document, CFrameWnd *frame);

private:
    CDocument *document_ = nullptr;
    CFrameWnd *frame_ = nullptr;
};

class CDocument : public CCmdTarget
{
public:
    virtual bool OnNewDocument();
    virtual bool OnOpenDocument(const char *path);
    void SetTitle(const char *title);
    const std::string &GetTitle() const { return title_; }
    void SetPathName(const char *path) { path_ = path ? path : ""; }
    const std::string &GetPathName() const { return path_; }

    void AddView(CView *view);
    // The first view, or null.
    CView *GetFirstView() const { return views_.empty() ? nullptr : views_.front(); }

private:
    std::string title_;
    std::string path_;
    std::vector<CView *> views_;
};

} // namespace lc::ui
