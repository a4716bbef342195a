#pragma once

#include <string>
#include <vector>

#include "platform/ui/message_box.h"

// The standard file chooser. Under test a script answers instead: each DoModal takes the next
// scripted answer and records what the program asked for.

namespace lc::ui {

enum : unsigned {
    OFN_READONLY = 0x1,
    OFN_OVERWRITEPROMPT = 0x2,
    OFN_HIDEREADONLY = 0x4,
};

class CFileDialog
{
public:
    // filter: "label|patterns|label|patterns||" with patterns separated by ";".
    CFileDialog(bool openFileDialog, const char *defaultExt = nullptr,
                const char *fileName = nullptr, unsigned flags = 0, const char *filter = nullptr);

    void SetTitle(const char *title) { title_ = title ? title : ""; }
    // IDOK with a chosen path, or IDCANCEL.
    int DoModal();
    const std::string &GetPathName() const { return path_; }

private:
    bool open_;
    std::string title_;
    std::string fileName_;
    unsigned flags_;
    std::string filter_;
    std::string path_;
};

struct FileDialogRequest
{
    bool open;
    std::string title;
    std::string fileName; // the text the name box started with
    unsigned flags;
    std::string filter;
};

struct FileDialogAnswer
{
    int result;       // IDOK or IDCANCEL
    std::string path; // taken when IDOK
};

// While one exists, file dialogs are answered from it (IDCANCEL when no answer is left).
class FileDialogScript
{
public:
    explicit FileDialogScript(std::vector<FileDialogAnswer> answers = {});
    ~FileDialogScript();
    FileDialogScript(const FileDialogScript &) = delete;
    FileDialogScript &operator=(const FileDialogScript &) = delete;
    std::vector<FileDialogRequest> Requests() const;
};

} // namespace lc::ui
