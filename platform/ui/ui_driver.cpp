#include "platform/ui/ui_driver.h"

#include <set>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QKeySequence>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QUrl>

#include "platform/ui/gui_thread.h"
#include "platform/ui/internal/window_state.h"

namespace lc::ui::driver {

namespace {

QWidget *ControlOf(CDialog &dlg, int id)
{
    auto *d = static_cast<internal::DialogWidget *>(internal::WidgetOf(&dlg));
    if (!d) {
        return nullptr;
    }
    auto it = d->controls.find(id);
    return it == d->controls.end() ? nullptr : it->second;
}

bool Usable(QWidget *w)
{
    return w && w->isVisible() && w->isEnabled();
}

void Activate(QWidget *w)
{
    QWidget *top = w->window();
    top->activateWindow();
    QApplication::setActiveWindow(top);
}

} // namespace

void ProcessEvents(int ms)
{
    QElapsedTimer t;
    t.start();
    do {
        RunQueuedCalls();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        RunQueuedCalls();
    } while (t.elapsed() < ms);
}

bool Click(CDialog &dlg, int id)
{
    ProcessEvents();
    QWidget *w = ControlOf(dlg, id);
    if (!Usable(w)) {
        return false;
    }
    Activate(w);
    QPoint at = w->rect().center();
    if (auto *b = qobject_cast<QAbstractButton *>(w)) {
        // Check boxes and radios react to a click on their box; the left edge holds it.
        if (!qobject_cast<QPushButton *>(b)) {
            at = QPoint(b->layoutDirection() == Qt::RightToLeft ? w->width() - 6 : 6,
                        w->height() / 2);
        }
    }
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at);
    ProcessEvents();
    return true;
}

bool Focus(CDialog &dlg, int id)
{
    ProcessEvents();
    QWidget *w = ControlOf(dlg, id);
    if (!Usable(w)) {
        return false;
    }
    Activate(w);
    w->setFocus(Qt::MouseFocusReason);
    ProcessEvents();
    return true;
}

bool TypeText(CDialog &dlg, int id, const std::string &text)
{
    if (!Focus(dlg, id)) {
        return false;
    }
    QWidget *w = ControlOf(dlg, id);
    QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w, Qt::Key_Delete);
    for (char c : text) {
        if (c == '\n') {
            QTest::keyClick(w, Qt::Key_Return);
        } else if (c != '\r') {
            QTest::keyClicks(w, QString(QChar(c)));
        }
    }
    ProcessEvents();
    return true;
}

bool PressKey(CDialog &dlg, const char *key)
{
    ProcessEvents();
    QWidget *top = internal::WidgetOf(&dlg);
    if (!top || !top->isVisible()) {
        return false;
    }
    Activate(top);
    QWidget *target = top->focusWidget() ? top->focusWidget() : top;
    QKeySequence seq(QString::fromUtf8(key));
    if (seq.isEmpty()) {
        return false;
    }
    QKeyCombination k = seq[0];
    QTest::keyClick(target, k.key(), k.keyboardModifiers());
    ProcessEvents();
    return true;
}

bool MoveTrackbar(CDialog &dlg, int id, int pos)
{
    if (!Focus(dlg, id)) {
        return false;
    }
    auto *s = qobject_cast<QSlider *>(ControlOf(dlg, id));
    if (!s) {
        return false;
    }
    QTest::keyClick(s, Qt::Key_Home);
    for (int i = s->minimum(); i < pos; i++) {
        QTest::keyClick(s, Qt::Key_Right);
    }
    ProcessEvents();
    return true;
}

bool ChooseMenu(CFrameWnd &frame, int id)
{
    ProcessEvents();
    internal::WindowState *s = frame.State();
    auto *w = qobject_cast<QMainWindow *>(s->widget.data());
    if (!w) {
        return false;
    }
    auto pos = s->commandPositions.find(id);
    if (pos == s->commandPositions.end()) {
        return false;
    }
    QAction *top = s->menuPositions.at(pos->second);
    if (!top->isEnabled()) {
        return false; // a greyed menu cannot be opened
    }
    if (!top->menu()) {
        top->trigger();
    } else {
        // The item whose command is id: the layer keeps it as the action's data.
        for (QAction *a : top->menu()->actions()) {
            if (a->data().toInt() == id) {
                if (!a->isEnabled()) {
                    return false;
                }
                a->trigger();
                break;
            }
        }
    }
    ProcessEvents();
    return true;
}

bool PressShortcut(CFrameWnd &frame, const char *key)
{
    ProcessEvents();
    QWidget *w = internal::WidgetOf(&frame);
    if (!w || !w->isVisible()) {
        return false;
    }
    Activate(w);
    QKeySequence seq(QString::fromUtf8(key));
    if (seq.isEmpty()) {
        return false;
    }
    QKeyCombination k = seq[0];
    QTest::keyClick(w, k.key(), k.keyboardModifiers());
    ProcessEvents();
    return true;
}

bool DropFiles(CFrameWnd &frame, const std::vector<std::string> &paths)
{
    ProcessEvents();
    QWidget *w = internal::WidgetOf(&frame);
    if (!w) {
        return false;
    }
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string &p : paths) {
        urls << QUrl::fromLocalFile(QString::fromStdString(p));
    }
    data.setUrls(urls);
    QPointF at(w->width() / 2.0, w->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &drop);
    ProcessEvents();
    return drop.isAccepted();
}

bool ClickAt(CWnd &wnd, int x, int y)
{
    ProcessEvents();
    QWidget *w = wnd.State()->surface;
    if (!w || !w->isVisible()) {
        return false;
    }
    Activate(w);
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
    ProcessEvents();
    return true;
}

bool DragAt(CWnd &wnd, int x0, int y0, int x1, int y1)
{
    ProcessEvents();
    QWidget *w = wnd.State()->surface;
    if (!w || !w->isVisible()) {
        return false;
    }
    Activate(w);
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(x0, y0));
    ProcessEvents();
    constexpr int kSteps = 4;
    for (int i = 1; i <= kSteps; ++i) {
        QTest::mouseMove(w, QPoint(x0 + (x1 - x0) * i / kSteps, y0 + (y1 - y0) * i / kSteps));
        ProcessEvents();
    }
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(x1, y1));
    ProcessEvents();
    return true;
}

bool CloseWindow(CWnd &wnd)
{
    QWidget *w = internal::WidgetOf(&wnd);
    if (!w) {
        return false;
    }
    w->close();
    ProcessEvents();
    return true;
}

uint32_t SurfacePixel(CWnd &wnd, int x, int y)
{
    ProcessEvents();
    internal::Surface *s = wnd.State()->surface;
    if (!s) {
        return 0;
    }
    QImage img = s->Picture();
    if (x < 0 || y < 0 || x >= img.width() || y >= img.height()) {
        return 0;
    }
    return img.pixel(x, y) & 0xffffff;
}

std::vector<uint32_t> SurfacePicture(CWnd &wnd, int *width, int *height)
{
    ProcessEvents();
    *width = 0;
    *height = 0;
    internal::Surface *s = wnd.State()->surface;
    if (!s) {
        return {};
    }
    QImage img = s->Picture();
    std::vector<uint32_t> pixels(size_t(img.width()) * size_t(img.height()));
    for (int y = 0; y < img.height(); y++) {
        const auto *row = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < img.width(); x++) {
            pixels[size_t(y) * size_t(img.width()) + size_t(x)] = row[x] & 0xffffff;
        }
    }
    *width = img.width();
    *height = img.height();
    return pixels;
}

bool SaveScreenshot(CWnd &wnd, const std::string &path)
{
    ProcessEvents();
    QWidget *w = internal::WidgetOf(&wnd);
    if (!w) {
        return false;
    }
    QImage img = w->grab().toImage();
    return !img.isNull() && img.save(QString::fromStdString(path), "PNG");
}

int DistinctColours(const std::string &path)
{
    QImage img(QString::fromStdString(path));
    if (img.isNull()) {
        return 0;
    }
    img = img.convertToFormat(QImage::Format_RGB32);
    std::set<QRgb> seen;
    for (int y = 0; y < img.height(); y++) {
        const auto *row = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < img.width(); x++) {
            seen.insert(row[x]);
        }
    }
    return static_cast<int>(seen.size());
}

namespace {

QMessageBox *VisibleBox()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *b = qobject_cast<QMessageBox *>(w); b && b->isVisible()) {
            return b;
        }
    }
    return nullptr;
}

} // namespace

std::string VisibleMessageBoxText()
{
    ProcessEvents();
    QMessageBox *b = VisibleBox();
    return b ? b->text().toStdString() : std::string();
}

bool AnswerMessageBox(int answer)
{
    ProcessEvents();
    QMessageBox *b = VisibleBox();
    if (!b) {
        return false;
    }
    QMessageBox::StandardButton which = QMessageBox::Ok;
    switch (answer) {
    case IDCANCEL:
        which = QMessageBox::Cancel;
        break;
    case IDYES:
        which = QMessageBox::Yes;
        break;
    case IDNO:
        which = QMessageBox::No;
        break;
    default:
        break;
    }
    QAbstractButton *button = b->button(which);
    if (!button) {
        return false;
    }
    QTest::mouseClick(button, Qt::LeftButton);
    ProcessEvents();
    return true;
}

} // namespace lc::ui::driver
