#include "app/file_prompts.h"

#include "platform/sys/path.h"
#include "platform/ui/file_dialog.h"

std::string PromptForOutputFile()
{
    lc::ui::CFileDialog dlg(true, nullptr, "Navigate to output folder and click Open",
                            lc::ui::OFN_HIDEREADONLY);
    dlg.SetTitle("Open");
    if (dlg.DoModal() != IDOK) {
        return {};
    }
    return dlg.GetPathName();
}

std::string BrowseForOutputFolder()
{
    std::string chosen = PromptForOutputFile();
    if (chosen.empty()) {
        return chosen;
    }
    std::ptrdiff_t end = lc::FolderEnd(chosen.c_str());
    // A name without any folder names no folder.
    return end < 0 ? std::string() : chosen.substr(0, static_cast<size_t>(end));
}
