#include "platform/ui/window.h"

#include <algorithm>
#include <cstring>
#include <set>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QUrl>

#include "platform/ui/application.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/internal/bgr_rows.h"
#include "platform/ui/internal/window_state.h"

namespace lc::ui {

namespace internal {

namespace {
std::mutex gWindowsLock;
std::set<CWnd *> &Windows()
{
    // Never destroyed: exit handlers still walk it.
    static auto *windows = new std::set<CWnd *>;
    return *windows;
}
} // namespace

void RegisterWindow(CWnd *wnd)
{
    std::lock_guard<std::mutex> g(gWindowsLock);
    Windows().insert(wnd);
}

void UnregisterWindow(CWnd *wnd)
{
    std::lock_guard<std::mutex> g(gWindowsLock);
    Windows().erase(wnd);
}

void DestroyAllWindows()
{
    std::vector<CWnd *> all;
    {
        std::lock_guard<std::mutex> g(gWindowsLock);
        all.assign(Windows().begin(), Windows().end());
    }
    for (CWnd *w : all) {
        if (WindowState *s = w->State()) {
            s->paintTarget.store(nullptr);
            delete s->widget.data();
            s->widget = nullptr;
        }
    }
}

void ForgetAllWindows()
{
    std::lock_guard<std::mutex> g(gWindowsLock);
    for (CWnd *w : Windows()) {
        if (WindowState *s = w->State()) {
            s->paintTarget.store(nullptr);
            s->widget = nullptr;
            s->surface = nullptr;
        }
    }
}

QWidget *WidgetOf(const CWnd *wnd)
{
    return wnd && wnd->State() ? wnd->State()->widget : nullptr;
}

QImage ImageFromBottomUp(int width, int height, int bitsPerPixel, const void *bits, int rowBytes)
{
    if (width <= 0 || height <= 0 || !bits || (bitsPerPixel != 24 && bitsPerPixel != 32)) {
        return {};
    }
    const int bpp = bitsPerPixel / 8;
    const int packed = (width * bpp + 3) & ~3;
    if (rowBytes == 0) {
        rowBytes = packed;
    }
    if (rowBytes < width * bpp) {
        return {};
    }
    QImage img(width, height, QImage::Format_RGB32);
    if (img.isNull()) {
        return {};
    }
    const auto *src = static_cast<const uint8_t *>(bits);
    for (int y = 0; y < height; y++) {
        const uint8_t *row = src + static_cast<ptrdiff_t>(height - 1 - y) * rowBytes;
        BgrRowToRgb32_sse2(reinterpret_cast<uint32_t *>(img.scanLine(y)), row, width, bpp);
    }
    return img;
}

Surface::Surface(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool Surface::PaintBits(int x, int y, int width, int height, int bitsPerPixel, const void *bits,
                        int rowBytes)
{
    if (width <= 0 || height <= 0 || !bits || (bitsPerPixel != 24 && bitsPerPixel != 32)) {
        return false;
    }
    const int bpp = bitsPerPixel / 8;
    if (rowBytes == 0) {
        rowBytes = (width * bpp + 3) & ~3;
    }
    if (rowBytes < width * bpp) {
        return false;
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        const size_t rowBytesKept = size_t(width) * size_t(bpp);
        pending_.resize(rowBytesKept * size_t(height));
        const auto *src = static_cast<const uint8_t *>(bits);
        for (int r = 0; r < height; r++) {
            std::memcpy(pending_.data() + size_t(r) * rowBytesKept,
                        src + ptrdiff_t(r) * ptrdiff_t(rowBytes), rowBytesKept);
        }
        hasPending_ = true;
        pendingWidth_ = width;
        pendingHeight_ = height;
        pendingBytesPerPixel_ = bpp;
        pendingRowBytes_ = int(rowBytesKept);
        at_ = QPoint(x, y);
    }
    // Painted from OnDraw: the repaint under way shows it.
    if (drawing_.load() && IsGuiThread()) {
        return true;
    }
    if (!repaintAsked_.exchange(true)) {
        QPointer<Surface> self(this);
        PostToGui([self] {
            if (self) {
                self->ScheduleRepaint();
            }
        });
    }
    return true;
}

void Surface::ScheduleRepaint()
{
    const qint64 since = lastPaint_.isValid() ? lastPaint_.elapsed() : qint64(kRepaintMs);
    if (since >= kRepaintMs) {
        update();
        return;
    }
    QPointer<Surface> self(this);
    QTimer::singleShot(int(kRepaintMs - since), this, [self] {
        if (self) {
            self->update();
        }
    });
}

void Surface::TakePending() const
{
    if (!hasPending_) {
        return;
    }
    picture_ = ImageFromBottomUp(pendingWidth_, pendingHeight_, pendingBytesPerPixel_ * 8,
                                 pending_.data(), pendingRowBytes_);
    hasPending_ = false;
}

bool Surface::HasPending() const
{
    std::lock_guard<std::mutex> g(lock_);
    return hasPending_;
}

void Surface::Clear()
{
    {
        std::lock_guard<std::mutex> g(lock_);
        picture_ = QImage();
        hasPending_ = false;
    }
    QPointer<Surface> self(this);
    PostToGui([self] {
        if (self) {
            self->update();
        }
    });
}

QImage Surface::Picture() const
{
    QImage shown(size(), QImage::Format_RGB32);
    shown.fill(Qt::white);
    QPainter p(&shown);
    std::lock_guard<std::mutex> g(lock_);
    TakePending();
    if (!picture_.isNull()) {
        p.drawImage(at_, picture_);
    }
    return shown;
}

void Surface::paintEvent(QPaintEvent *)
{
    // Pictures painted from here on ask for a repaint of their own.
    repaintAsked_.store(false);
    lastPaint_.restart();
    // The view draws first (it may paint a new picture), then the picture is shown.
    if (onDraw && !drawing_.load()) {
        drawing_.store(true);
        onDraw();
        drawing_.store(false);
    }
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    std::lock_guard<std::mutex> g(lock_);
    TakePending();
    if (!picture_.isNull()) {
        p.drawImage(at_, picture_);
    }
}

void Surface::mousePressEvent(QMouseEvent *e)
{
    if (onMouse) {
        onMouse(0, e->position().toPoint().x(), e->position().toPoint().y());
    }
}

void Surface::mouseMoveEvent(QMouseEvent *e)
{
    if (onMouse && (e->buttons() & Qt::LeftButton)) {
        onMouse(1, e->position().toPoint().x(), e->position().toPoint().y());
    }
}

void Surface::mouseReleaseEvent(QMouseEvent *e)
{
    if (onMouse) {
        onMouse(2, e->position().toPoint().x(), e->position().toPoint().y());
    }
}

void Surface::resizeEvent(QResizeEvent *)
{
    if (onSize) {
        onSize(width(), height());
    }
}

FrameWidget::FrameWidget(CFrameWnd *o, QWidget *parent)
    : QMainWindow(parent)
    , owner(o)
{}

void FrameWidget::closeEvent(QCloseEvent *e)
{
    e->ignore();
    owner->OnClose();
}

void FrameWidget::dragEnterEvent(QDragEnterEvent *e)
{
    if (acceptDrops && e->mimeData()->hasUrls()) {
        e->acceptProposedAction();
    }
}

void FrameWidget::dropEvent(QDropEvent *e)
{
    if (!acceptDrops) {
        return;
    }
    std::vector<std::string> paths;
    for (const QUrl &u : e->mimeData()->urls()) {
        if (u.isLocalFile()) {
            paths.push_back(u.toLocalFile().toStdString());
        }
    }
    e->acceptProposedAction();
    if (!paths.empty()) {
        owner->OnDropFiles(paths);
    }
}

} // namespace internal

using internal::WindowState;

// ---- CCmdTarget

void CCmdTarget::MapCommand(int id, std::function<void()> handler)
{
    commands_[id] = std::move(handler);
}

bool CCmdTarget::OnCmdMsg(int id)
{
    auto it = commands_.find(id);
    if (it == commands_.end()) {
        return false;
    }
    it->second();
    return true;
}

// ---- CWnd

CWnd::CWnd()
    : state_(std::make_unique<WindowState>())
{
    internal::RegisterWindow(this);
}

CWnd::~CWnd()
{
    internal::UnregisterWindow(this);
    // Without Qt (after it has gone) the widget can no longer be deleted.
    state_->paintTarget.store(nullptr);
    if (state_->widget && QCoreApplication::instance()) {
        QWidget *w = state_->widget;
        CallOnGui([w] { delete w; });
    }
}

bool CWnd::IsCreated() const
{
    bool made = false;
    CallOnGui([&] { made = !state_->widget.isNull(); });
    return made;
}

void CWnd::DestroyWindow()
{
    state_->paintTarget.store(nullptr);
    CallOnGui([this] {
        delete state_->widget.data();
        state_->widget = nullptr;
        state_->surface = nullptr;
        state_->timers.clear();
        state_->menuPositions.clear();
        state_->commandPositions.clear();
    });
}

void CWnd::ShowWindow(int command)
{
    PostToGui([this, command] {
        QWidget *w = state_->widget;
        if (!w) {
            return;
        }
        switch (command) {
        case SW_HIDE:
            w->hide();
            break;
        case SW_MINIMIZE:
        case SW_SHOWMINIMIZED:
            w->showMinimized();
            break;
        case SW_RESTORE:
            if (w->isMinimized()) {
                w->showNormal();
            }
            break;
        default:
            w->show();
            w->raise();
            break;
        }
    });
}

bool CWnd::IsWindowVisible() const
{
    bool v = false;
    CallOnGui([&] { v = state_->widget && state_->widget->isVisible(); });
    return v;
}

void CWnd::SetWindowText(const char *text)
{
    QString t = QString::fromUtf8(text ? text : "");
    PostToGui([this, t] {
        if (state_->widget) {
            state_->widget->setWindowTitle(t);
        }
    });
}

std::string CWnd::GetWindowText() const
{
    std::string t;
    CallOnGui([&] {
        if (state_->widget) {
            t = state_->widget->windowTitle().toStdString();
        }
    });
    return t;
}

Rect CWnd::GetWindowRect() const
{
    Rect r;
    CallOnGui([&] {
        if (QWidget *w = state_->widget) {
            QRect g = w->frameGeometry();
            r = {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
        }
    });
    return r;
}

Rect CWnd::GetClientRect() const
{
    Rect r;
    CallOnGui([&] {
        QWidget *c = state_->surface ? static_cast<QWidget *>(state_->surface.data())
                                     : state_->widget.data();
        if (c) {
            r = {0, 0, c->width(), c->height()};
        }
    });
    return r;
}

void CWnd::MoveWindow(int x, int y, int width, int height)
{
    PostToGui([this, x, y, width, height] {
        QWidget *w = state_->widget;
        if (!w) {
            return;
        }
        // Decorations: what the whole window adds to the widget, and what the widget adds to
        // its client area (a frame's menu bar).
        QRect f = w->frameGeometry();
        int dw = f.width() - w->width();
        int dh = f.height() - w->height();
        w->move(x, y);
        w->resize(std::max(1, width - dw), std::max(1, height - dh));
    });
}

Rect CWnd::GetScreenWorkArea() const
{
    Rect r;
    CallOnGui([&] {
        QScreen *screen = state_->widget ? state_->widget->screen() : nullptr;
        if (!screen) {
            screen = QGuiApplication::primaryScreen();
        }
        if (screen) {
            QRect a = screen->availableGeometry();
            r = {a.left(), a.top(), a.left() + a.width(), a.top() + a.height()};
        }
    });
    return r;
}

void CWnd::BringWindowToTop()
{
    PostToGui([this] {
        if (QWidget *w = state_->widget) {
            w->raise();
            w->activateWindow();
        }
    });
}

void CWnd::EnableWindow(bool enable)
{
    PostToGui([this, enable] {
        if (QWidget *w = state_->widget) {
            w->setEnabled(enable);
        }
    });
}

void CWnd::SetTimer(int id, unsigned periodMs, std::function<void()> proc)
{
    PostToGui([this, id, periodMs, proc = std::move(proc)] {
        QWidget *w = state_->widget;
        if (!w) {
            return;
        }
        QPointer<QTimer> &t = state_->timers[id];
        if (t) {
            t->stop();
            delete t.data();
        }
        t = new QTimer(w);
        t->setInterval(static_cast<int>(periodMs));
        QObject::connect(t.data(), &QTimer::timeout, t.data(), proc);
        t->start();
    });
}

void CWnd::KillTimer(int id)
{
    PostToGui([this, id] {
        auto it = state_->timers.find(id);
        if (it != state_->timers.end()) {
            if (it->second) {
                it->second->stop();
                it->second->deleteLater();
            }
            state_->timers.erase(it);
        }
    });
}

bool CWnd::HasTimer(int id) const
{
    bool has = false;
    CallOnGui([&] {
        auto it = state_->timers.find(id);
        has = it != state_->timers.end() && it->second && it->second->isActive();
    });
    return has;
}

bool CWnd::PaintBitmap(int x, int y, int width, int height, int bitsPerPixel, const void *bits,
                       int rowBytes)
{
    internal::Surface *s = state_->paintTarget.load();
    return s && s->PaintBits(x, y, width, height, bitsPerPixel, bits, rowBytes);
}

bool CWnd::PicturePending() const
{
    const internal::Surface *s = state_->paintTarget.load();
    return s && s->HasPending();
}

void CWnd::ClearPicture()
{
    if (internal::Surface *s = state_->paintTarget.load()) {
        s->Clear();
    }
}

void CWnd::Invalidate()
{
    PostToGui([this] {
        if (state_->widget) {
            state_->widget->update();
        }
        if (state_->surface) {
            state_->surface->update();
        }
    });
}

// ---- CFrameWnd

CFrameWnd::CFrameWnd() = default;
CFrameWnd::~CFrameWnd() = default;

bool CFrameWnd::PreCreateWindow(CreateStruct &)
{
    return true;
}

bool CFrameWnd::Create(const char *title, const CreateStruct &cs, const MenuItem *menu,
                       int menuCount, const Accelerator *accelerators, int acceleratorCount,
                       CView *view)
{
    bool ok = false;
    CallOnGui([&] {
        if (state_->widget) {
            ok = true;
            return;
        }
        QWidget *ownerWidget = internal::WidgetOf(cs.owner);
        auto *w = new internal::FrameWidget(this, ownerWidget);
        Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                                | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint;
        if (cs.style & WS_MAXIMIZEBOX) {
            flags |= Qt::WindowMaximizeButtonHint;
        }
        w->setWindowFlags(flags);
        w->setWindowTitle(QString::fromUtf8(title ? title : ""));
        state_->widget = w;

        // Menu bar: depth-0 items in order; right-aligned ones go to a bar in the corner.
        QMenuBar *right = nullptr;
        QMenu *current = nullptr;
        int position = 0;
        for (int i = 0; i < menuCount; i++) {
            const MenuItem &m = menu[i];
            if (m.depth == 0) {
                QMenuBar *bar = w->menuBar();
                if (m.flags & kMenuRight) {
                    if (!right) {
                        right = new QMenuBar(w->menuBar());
                        w->menuBar()->setCornerWidget(right, Qt::TopRightCorner);
                    }
                    bar = right;
                }
                QAction *a;
                if (m.id == 0) {
                    current = bar->addMenu(QString::fromUtf8(m.text ? m.text : ""));
                    a = current->menuAction();
                } else {
                    current = nullptr;
                    a = bar->addAction(QString::fromUtf8(m.text ? m.text : ""));
                    int id = m.id;
                    a->setData(id);
                    QObject::connect(a, &QAction::triggered, w, [this, id] { SendCommand(id); });
                    state_->commandPositions[id] = position;
                }
                state_->menuPositions[position++] = a;
            } else if (current) {
                if (!m.text) {
                    current->addSeparator();
                    continue;
                }
                QAction *a = current->addAction(QString::fromUtf8(m.text));
                int id = m.id;
                a->setData(id);
                state_->commandPositions[id] = position - 1;
                QObject::connect(a, &QAction::triggered, w, [this, id] { SendCommand(id); });
            }
        }
        for (int i = 0; i < acceleratorCount; i++) {
            auto *sc = new QShortcut(QKeySequence(QString::fromUtf8(accelerators[i].key)), w);
            sc->setContext(Qt::WindowShortcut);
            int id = accelerators[i].id;
            QObject::connect(sc, &QShortcut::activated, w, [this, id] {
                // A key whose menu is greyed sends nothing, as its item cannot be chosen.
                auto pos = state_->commandPositions.find(id);
                if (pos != state_->commandPositions.end()) {
                    auto item = state_->menuPositions.find(pos->second);
                    if (item != state_->menuPositions.end() && !item->second->isEnabled()) {
                        return;
                    }
                }
                SendCommand(id);
            });
        }

        if (view) {
            view_ = view;
            view->Attach(view->GetDocument(), this);
        }
        auto *surface = new internal::Surface(w);
        w->setCentralWidget(surface);
        state_->surface = surface;
        state_->paintTarget.store(surface);
        if (view) {
            // The view draws in the frame's client area; both share the surface.
            view->State()->widget = surface;
            view->State()->surface = surface;
            view->State()->paintTarget.store(surface);
            surface->onDraw = [view] { view->OnDraw(); };
            surface->onMouse = [view](int kind, int x, int y) {
                if (kind == 0) {
                    view->OnLButtonDown(x, y);
                } else if (kind == 1) {
                    view->OnMouseDrag(x, y);
                } else {
                    view->OnLButtonUp(x, y);
                }
            };
            surface->onSize = [view](int cx, int cy) { view->OnSize(cx, cy); };
        }

        int cx = cs.cx > 0 ? cs.cx : 640;
        int cy = cs.cy > 0 ? cs.cy : 480;
        w->move(cs.x, cs.y);
        w->resize(cx, cy);
        if (view) {
            view->OnCreate();
        }
        if (cs.style & WS_VISIBLE) {
            w->show();
        }
        ok = true;
    });
    return ok;
}

void CFrameWnd::EnableMenuPosition(int position, bool enable)
{
    PostToGui([this, position, enable] {
        auto it = state_->menuPositions.find(position);
        if (it != state_->menuPositions.end()) {
            it->second->setEnabled(enable);
        }
    });
}

bool CFrameWnd::IsMenuPositionEnabled(int position) const
{
    bool en = false;
    CallOnGui([&] {
        auto it = state_->menuPositions.find(position);
        en = it != state_->menuPositions.end() && it->second->isEnabled();
    });
    return en;
}

void CFrameWnd::DragAcceptFiles(bool accept)
{
    PostToGui([this, accept] {
        if (auto *w = static_cast<internal::FrameWidget *>(state_->widget.data())) {
            w->acceptDrops = accept;
            w->setAcceptDrops(accept);
        }
    });
}

void CFrameWnd::OnDropFiles(const std::vector<std::string> &paths)
{
    if (CWinApp *app = AfxGetApp()) {
        for (const std::string &p : paths) {
            app->OpenDocumentFile(p.c_str());
        }
    }
}

void CFrameWnd::OnClose()
{
    if (CWinApp *app = AfxGetApp(); app && app->m_pMainWnd == this) {
        app->Quit(0);
        return;
    }
    ShowWindow(SW_HIDE);
}

bool CFrameWnd::OnCmdMsg(int id)
{
    if (CCmdTarget::OnCmdMsg(id)) {
        return true;
    }
    if (view_ && view_->OnCmdMsg(id)) {
        return true;
    }
    if (view_ && view_->GetDocument() && view_->GetDocument()->OnCmdMsg(id)) {
        return true;
    }
    if (CWinApp *app = AfxGetApp()) {
        return app->OnCmdMsg(id);
    }
    return false;
}

void CFrameWnd::SendCommand(int id)
{
    PostToGui([this, id] { OnCmdMsg(id); });
}

// ---- CView

CView::CView() = default;

CView::~CView()
{
    // The frame owns the shared surface widget.
    state_->paintTarget.store(nullptr);
    state_->widget = nullptr;
    state_->surface = nullptr;
}

void CView::Attach(CDocument *document, CFrameWnd *frame)
{
    document_ = document;
    frame_ = frame;
}

// ---- CDocument

bool CDocument::OnNewDocument()
{
    SetTitle("Untitled");
    path_.clear();
    return true;
}

bool CDocument::OnOpenDocument(const char *)
{
    return true;
}

void CDocument::SetTitle(const char *title)
{
    title_ = title ? title : "";
    CView *v = GetFirstView();
    CWinApp *app = AfxGetApp();
    if (v && v->GetParentFrame() && app) {
        v->GetParentFrame()->SetWindowText(app->FrameTitle(title_).c_str());
    }
}

void CDocument::AddView(CView *view)
{
    if (std::find(views_.begin(), views_.end(), view) == views_.end()) {
        views_.push_back(view);
    }
}

} // namespace lc::ui
