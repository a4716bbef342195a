#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ui/application.h"
#include "platform/ui/dialog.h"

// The application: start-up in a fixed order, the File->Open and About commands, shutdown.
class CLoomcutApp : public lc::ui::CWinApp
{
public:
    CLoomcutApp();

    bool InitInstance() override;
    int ExitInstance() override;

    void OnFileOpen();
    void OnAppAbout();

    // Tests and tools name the command line here instead of the process's arguments.
    void SetCommandLine(std::vector<std::string> args) { commandLine_ = std::move(args); }
    // ... and the program folder (ending with "/") instead of the executable's.
    void SetProgramFolder(std::string folder) { programFolder_ = std::move(folder); }

private:
    std::optional<std::vector<std::string>> commandLine_;
    std::string programFolder_;
};

// The About box (template 100).
class CAboutDialog : public lc::ui::CDialog
{
public:
    CAboutDialog();
};

// Program folder + "hwelcome.jpg" during start-up, then program folder + "noguide": where the
// guide creates the options file.
extern std::string gStartupPath;

// The text of the QuickTime-version answer's low nibbles: 0x0650 gives "6.50".
std::string MediaVersionText(int version);

// Warns about a media layer older than 5.0 or of the one known-bad version 6.5.0.
void WarnAboutMediaVersion(int version);

// Asks for a movie to open; true with the path when the user chose one.
bool PromptForMovieFile(std::string &path);

// Points the hooks of the lower folders at the shell's windows.
void InstallShellHooks();
