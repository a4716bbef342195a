#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>

#include <QDialog>
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
    // Any thread: copies the picture in and asks for a repaint.
    void Paint(int x, int y, const QImage &image);
    void Clear();
    QImage Picture() const; // what the area shows now, as drawn
    std::function<void()> onDraw;
    std::function<void(int, int)> onSize;
    std::function<void(int kind, int x, int y)> onMouse; // 0 press, 1 drag, 2 release

protected:
    void paintEvent(QPaintEvent *) override;
    void resizeEvent(QResizeEvent *) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;

private:
    mutable std::mutex lock_;
    QImage picture_;
    QPoint at_;
    std::atomic<bool> drawing_{false}; // the view's OnDraw runs
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
