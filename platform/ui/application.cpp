#include "platform/ui/application.h"

#include <cstdlib>

#include <QApplication>

#include "platform/sys/path.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/internal/gui_queue.h"
#include "platform/ui/internal/window_state.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_box_qt.h"

namespace lc::ui {

namespace {

CWinApp *gApp = nullptr;

// Qt keeps argc by reference for the life of the application.
int gQtArgc = 1;
char gQtArg0[] = "loomcut";
char *gQtArgv[] = {gQtArg0, nullptr};

} // namespace

CWinApp *AfxGetApp()
{
    return gApp;
}

CFrameWnd *AfxGetMainWnd()
{
    return gApp ? gApp->m_pMainWnd : nullptr;
}

void EnsureGuiApplication()
{
    if (!QCoreApplication::instance()) {
        // Never deleted: windows of global objects may outlive any scope here.
        new QApplication(gQtArgc, gQtArgv);
        QApplication::setQuitOnLastWindowClosed(false);
        // At exit, windows of global objects are left alone; Qt's statics may be gone.
        std::atexit([] {
            internal::ForgetAllWindows();
            internal::UnbindGuiThread();
        });
    }
    if (!HasGuiThread()) {
        internal::BindGuiThread();
    }
}

CWinApp::CWinApp(const char *appName)
    : appName_(appName ? appName : "")
{
    gApp = this;
}

CWinApp::~CWinApp()
{
    if (gApp == this) {
        gApp = nullptr;
    }
}

int CWinApp::Run(int argc, char **argv)
{
    arguments_.assign(argv, argv + argc);
    gQtArgc = argc;
    int code = 0;
    {
        QApplication qt(gQtArgc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        internal::BindGuiThread();
        InstallQtMessagePresenter(nullptr); // titled by the application
        if (InitInstance()) {
            QApplication::exec();
        }
        code = ExitInstance();
        internal::DestroyAllWindows();
        internal::UnbindGuiThread();
        SetMessagePresenter(nullptr);
    }
    return code;
}

void CWinApp::Quit(int code)
{
    PostToGui([code] { QCoreApplication::exit(code); });
}

void CWinApp::AddDocTemplate(CSingleDocTemplate tmpl)
{
    template_ = std::move(tmpl);
    hasTemplate_ = true;
}

void CWinApp::ParseCommandLine(CCommandLineInfo &info) const
{
    info = CCommandLineInfo{};
    for (size_t i = 1; i < arguments_.size(); i++) {
        const std::string &a = arguments_[i];
        if (a.empty() || a[0] == '-') {
            continue; // options are Qt's or the shell's, not a file
        }
        info.m_nShellCommand = CCommandLineInfo::FileOpen;
        info.m_strFileName = a;
        break;
    }
}

std::string CWinApp::FrameTitle(const std::string &docTitle) const
{
    std::string app = template_.documentString.substr(0, template_.documentString.find('\n'));
    if (app.empty()) {
        app = appName_;
    }
    return docTitle.empty() ? app : docTitle + " - " + app;
}

bool CWinApp::MakeDocumentWindows()
{
    if (m_pMainWnd) {
        return true;
    }
    if (!hasTemplate_) {
        return false;
    }
    document_ = template_.newDocument ? template_.newDocument() : new CDocument;
    CFrameWnd *frame = template_.newFrame ? template_.newFrame() : new CFrameWnd;
    view_ = template_.newView ? template_.newView() : new CView;
    view_->Attach(document_, frame);
    document_->AddView(view_);
    CreateStruct cs;
    cs.style |= WS_VISIBLE;
    if (!frame->PreCreateWindow(cs)) {
        return false;
    }
    if (!frame->Create(FrameTitle("").c_str(), cs, template_.menu, template_.menuCount,
                       template_.accelerators, template_.acceleratorCount, view_)) {
        return false;
    }
    m_pMainWnd = frame;
    return true;
}

bool CWinApp::ProcessShellCommand(const CCommandLineInfo &info)
{
    if (!MakeDocumentWindows()) {
        return false;
    }
    if (info.m_nShellCommand == CCommandLineInfo::FileOpen) {
        return OpenDocumentFile(info.m_strFileName.c_str()) != nullptr;
    }
    OnFileNew();
    return true;
}

CDocument *CWinApp::OpenDocumentFile(const char *path)
{
    if (!path || !MakeDocumentWindows()) {
        return nullptr;
    }
    if (!document_->OnOpenDocument(path)) {
        return nullptr;
    }
    document_->SetPathName(path);
    document_->SetTitle(FileNameOf(path).c_str());
    return document_;
}

void CWinApp::OnFileNew()
{
    if (MakeDocumentWindows()) {
        document_->OnNewDocument();
    }
}

void CWinApp::DestroyDocumentWindows()
{
    // Calls queued for these windows run while they still exist.
    RunQueuedCalls();
    if (view_) {
        view_->OnDestroy();
        // The surface it shares with the frame goes with the frame's window.
        view_->State()->paintTarget.store(nullptr);
    }
    if (m_pMainWnd) {
        m_pMainWnd->DestroyWindow();
    }
    delete view_;
    delete m_pMainWnd;
    delete document_;
    view_ = nullptr;
    m_pMainWnd = nullptr;
    document_ = nullptr;
}

std::string CWinApp::ProgramFolder() const
{
    return lc::ProgramFolder();
}

} // namespace lc::ui
