#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QWidget>

// Layer-internal: the Qt side of the windows. Only files of platform/ui include this.

namespace lc::ui {
class CWnd;
class CDialog;
class CFrameWnd;
} // namespace lc::ui

namespace lc::ui::internal {

// A client area that shows the last painted picture over white.
class Surface : public QWidget
{
public:
    explicit Surface(QWidget *parent = nullptr);
    // Any thread: keeps a copy of the bottom-up rows and asks for a repaint. The rows become the
    // shown picture when it is next drawn or read, so a picture replaced before that costs only
    // the copy; repaints come at most every kRepaintMs, which no display outpaces. false for a
    // bad size or format (nothing changes).
    bool PaintBits(int x, int y, int width, int height, int bitsPerPixel, const void *bits,
                   int rowBytes);
    void Clear();
    bool HasPending() const; // kept rows not yet shown
    QImage Picture() const;  // what the area shows now, as drawn
    std::function<void()> onDraw;
    std::function<void(int, int)> onSize;
    std::function<void(int kind, int x, int y)> onMouse; // 0 press, 1 drag, 2 release

    static constexpr int kRepaintMs = 16;

protected:
    void paintEvent(QPaintEvent *) override;
    void resizeEvent(QResizeEvent *) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;

private:
    // GUI thread: a repaint now, or once kRepaintMs have passed since the last.
    void ScheduleRepaint();
    // With lock_ held: the kept rows become picture_.
    void TakePending() const;

    mutable std::mutex lock_;
    mutable QImage picture_;
    QPoint at_;
    mutable std::vector<uint8_t> pending_; // bottom-up rows of the picture to show next
    mutable bool hasPending_ = false;
    int pendingWidth_ = 0, pendingHeight_ = 0, pendingBytesPerPixel_ = 0, pendingRowBytes_ = 0;
    std::atomic<bool> repaintAsked_{false}; // a repaint is on its way
    QElapsedTimer lastPaint_;               // GUI thread
    std::atomic<bool> drawing_{false};      // the view's OnDraw runs
};

class FrameWidget : public QMainWindow
{
public:
    explicit FrameWidget(CFrameWnd *owner, QWidget *parent);
    CFrameWnd *owner;
    bool acceptDrops = false;

protected:
    void closeEvent(QCloseEvent *e) override;
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dropEvent(QDropEvent *e) override;
};

class DialogWidget : public QDialog
{
public:
    explicit DialogWidget(CDialog *owner, QWidget *parent);
    CDialog *owner;
    bool modal = false;
    std::map<int, QWidget *> controls;
    std::map<int, int> editLimits;

    void reject() override; // Esc and the close box: IDCANCEL
    void accept() override;
};

struct WindowState
{
    QPointer<QWidget> widget;  // the window
    QPointer<Surface> surface; // its paint surface, when it has one
    // The same surface for painting threads, which must not wait for the GUI thread: set when
    // the window is made, cleared before the widget goes.
    std::atomic<Surface *> paintTarget{nullptr};
    std::map<int, QPointer<QTimer>> timers;
    std::map<int, QAction *> menuPositions; // frames: depth-0 items by position
    std::map<int, int> commandPositions;    // frames: command id -> its menu-bar position
};

QWidget *WidgetOf(const CWnd *wnd);
// Deletes every window of the layer while Qt still exists (the application does this at exit).
void DestroyAllWindows();
// At process exit, when Qt's own state may be gone: drops every widget without deleting it.
void ForgetAllWindows();
void RegisterWindow(CWnd *wnd);
void UnregisterWindow(CWnd *wnd);

// Converts a bottom-up 24- or 32-bit bitmap to a top-down image; a null image when refused.
QImage ImageFromBottomUp(int width, int height, int bitsPerPixel, const void *bits, int rowBytes);

} // namespace lc::ui::internal
