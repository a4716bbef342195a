#include "platform/ui/message_box_qt.h"

#include <condition_variable>
#include <mutex>
#include <string>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "platform/ui/application.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/message_box.h"

namespace lc::ui {

namespace {

std::mutex gTitleLock;
std::string &Title()
{
    static std::string title;
    return title;
}

QString BoxText(const char *text)
{
    QString t = QString::fromUtf8(text ? text : "");
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QChar('\r'), QChar('\n'));
    return t;
}

QMessageBox *MakeBox(const char *text, unsigned type)
{
    QString title;
    {
        std::lock_guard<std::mutex> g(gTitleLock);
        title = QString::fromStdString(Title());
    }
    // Without a title of its own a box carries the application's.
    if (title.isEmpty() && AfxGetApp()) {
        title = QString::fromStdString(AfxGetApp()->FrameTitle(""));
    }
    auto *box = new QMessageBox();
    box->setWindowTitle(title);
    box->setText(BoxText(text));
    switch (type & 0xf0) {
    case MB_ICONERROR:
        box->setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box->setIcon(QMessageBox::Question);
        break;
    case MB_ICONWARNING:
        box->setIcon(QMessageBox::Warning);
        break;
    case MB_ICONINFORMATION:
        box->setIcon(QMessageBox::Information);
        break;
    default:
        box->setIcon(QMessageBox::Warning); // a plain box carries the warning sign
        break;
    }
    switch (type & 0xf) {
    case MB_OKCANCEL:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MB_YESNO:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case MB_YESNOCANCEL:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    default:
        box->setStandardButtons(QMessageBox::Ok);
        break;
    }
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

int Answer(int qtButton)
{
    switch (qtButton) {
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDOK;
    }
}

int Present(const char *text, unsigned type)
{
    return ShowQtMessageBox(text, type);
}

} // namespace

int ShowQtMessageBox(const char *text, unsigned type)
{
    if (!QCoreApplication::instance()) {
        return IDOK;
    }
    if (IsGuiThread()) {
        QMessageBox *box = MakeBox(text, type);
        int r = Answer(box->exec());
        delete box;
        return r;
    }
    // A worker: the box lives on the GUI thread without a nested loop there; we wait here.
    std::mutex m;
    std::condition_variable cv;
    bool answered = false;
    int answer = IDOK;
    std::string copy = text ? text : "";
    PostToGui([&] {
        QMessageBox *box = MakeBox(copy.c_str(), type);
        QObject::connect(box, &QMessageBox::finished, box, [&, box](int result) {
            int a = Answer(result); // the standard button pressed
            box->deleteLater();
            std::lock_guard<std::mutex> g(m);
            answer = a;
            answered = true;
            cv.notify_all();
        });
        box->show();
    });
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return answered; });
    return answer;
}

void InstallQtMessagePresenter(const char *title)
{
    {
        std::lock_guard<std::mutex> g(gTitleLock);
        Title() = title ? title : "";
    }
    SetMessagePresenter(&Present);
}

} // namespace lc::ui
