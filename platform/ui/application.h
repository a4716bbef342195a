#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/window.h"

// The application object: owns Qt's application, runs start-up and the message loop, and holds
// the one single-document template (frame, document, view and their menu). It quits when the main
// frame closes.

namespace lc::ui {

struct CCommandLineInfo
{
    enum Command {
        FileNew,
        FileOpen,
    };
    Command m_nShellCommand = FileNew;
    std::string m_strFileName;
};

// The resources and factories of the single document kind.
struct CSingleDocTemplate
{
    std::function<CDocument *()> newDocument;
    std::function<CFrameWnd *()> newFrame;
    std::function<CView *()> newView;
    const MenuItem *menu = nullptr;
    int menuCount = 0;
    const Accelerator *accelerators = nullptr;
    int acceleratorCount = 0;
    // "Title\n\nName\n..." as a document string: its first part is the window title.
    std::string documentString;
};

class CWinApp : public CCmdTarget
{
public:
    explicit CWinApp(const char *appName = nullptr);
    ~CWinApp() override;

    // Start-up; false ends the program before the loop.
    virtual bool InitInstance() { return true; }
    virtual int ExitInstance() { return 0; }

    // Makes Qt's application, runs InitInstance, the loop and ExitInstance; returns the exit
    // code. Windows are destroyed before Qt goes.
    int Run(int argc, char **argv);
    void Quit(int code = 0);

    void AddDocTemplate(CSingleDocTemplate tmpl);
    void ParseCommandLine(CCommandLineInfo &info) const;
    // Makes the frame, document and view (once) and opens the named file or a new document.
    bool ProcessShellCommand(const CCommandLineInfo &info);
    // Opens path in the one document (making the frame first when needed); null on failure.
    CDocument *OpenDocumentFile(const char *path);
    void OnFileNew();
    // Ends the document windows as the end of the program would: the view's OnDestroy, then the
    // frame's window, the view, the frame and the document. A later shell command makes them
    // anew (tests start the application more than once in a process).
    void DestroyDocumentWindows();

    const std::vector<std::string> &Arguments() const { return arguments_; }
    // The program folder, ending with "/".
    std::string ProgramFolder() const;
    const std::string &AppName() const { return appName_; }
    void SetAppName(const char *name) { appName_ = name ? name : ""; }

    CFrameWnd *m_pMainWnd = nullptr;
    CDocument *Document() const { return document_; }

    // Layer-internal: the frame title for a document title.
    std::string FrameTitle(const std::string &docTitle) const;

private:
    bool MakeDocumentWindows();
    std::vector<std::string> arguments_;
    std::string appName_;
    CSingleDocTemplate template_;
    bool hasTemplate_ = false;
    CDocument *document_ = nullptr;
    CView *view_ = nullptr;
};

CWinApp *AfxGetApp();
CFrameWnd *AfxGetMainWnd();

// For tests and tools: makes Qt's application on the calling thread once, if none exists, and
// binds the call queue to that thread. It lives until the process ends.
void EnsureGuiApplication();

} // namespace lc::ui
