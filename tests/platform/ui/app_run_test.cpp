#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ui/application.h"
#include "platform/ui/ui_driver.h"
#include "platform/ui/window.h"

using namespace lc::ui;

namespace {

std::vector<std::string> gEvents;

class Doc : public CDocument
{
public:
    bool OnOpenDocument(const char *path) override
    {
        gEvents.push_back(std::string("open ") + path);
        return true;
    }
};

class App : public CWinApp
{
public:
    bool InitInstance() override
    {
        CSingleDocTemplate t;
        t.newDocument = [] { return new Doc; };
        t.documentString = "Kestra Halvorne\n\nKestra";
        AddDocTemplate(t);
        CCommandLineInfo info;
        ParseCommandLine(info);
        if (!ProcessShellCommand(info)) {
            return false;
        }
        gEvents.push_back("title " + m_pMainWnd->GetWindowText());
        // The user closes the main window once the loop runs.
        m_pMainWnd->SetTimer(1, 10, [this] { driver::CloseWindow(*m_pMainWnd); });
        return true;
    }
    int ExitInstance() override
    {
        gEvents.push_back("exit");
        return 7;
    }
};

} // namespace

TEST(Application, OpensTheCommandLineFileAndQuitsWhenTheMainFrameCloses)
{
    App app;
    char arg0[] = "loomcut";
    char arg1[] = "/movies/clip.mov";
    char *argv[] = {arg0, arg1, nullptr};
    EXPECT_EQ(app.Run(2, argv), 7);
    EXPECT_EQ(gEvents, (std::vector<std::string>{"open /movies/clip.mov",
                                                 "title clip.mov - Kestra Halvorne", "exit"}));
}
