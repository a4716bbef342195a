#include "app/batch_dialog.h"

#include "app/main_frame.h"
#include "passes/movie_window.h"
#include "passes/process_control.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/sys/text.h"

using lc::ui::ControlKind;
using lc::ui::ControlTemplate;

namespace {

const ControlTemplate kBatchControls[] = {
    {IDC_BATCH_LIST, ControlKind::MultiLineEdit, "", 7, 7, 300, 150, 0},
    {IDC_BATCH_ADD, ControlKind::Button, "Add Current File to Batch", 7, 163, 100, 14, 0},
    {IDC_BATCH_START, ControlKind::Button, "Start Batch", 113, 163, 60, 14, 0},
    {IDC_BATCH_CLEAR, ControlKind::Button, "Clear All", 179, 163, 60, 14, 0},
    {IDCANCEL, ControlKind::Button, "Close Window", 247, 163, 60, 14, 0},
};
const lc::ui::DialogTemplate kBatchTemplate =
    lc::ui::MakeDialogTemplate("BATCH_LIST", "Batch Processing", 314, 184, kBatchControls);

constexpr size_t kBatchCapacity = sizeof(UiState::batchText);

bool IsBlank(std::string_view line)
{
    for (char c : line) {
        if (c != ' ' && c != '\t' && c != '\r') {
            return false;
        }
    }
    return true;
}

} // namespace

const char kBatchPlaceholder[] = "\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n"
                                 "                                   Drag Files Here to Create Batch";

CBatchDialog gBatchDialog;

std::string NormaliseBatchText(std::string_view text)
{
    std::string out;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (IsBlank(line)) {
            continue;
        }
        if (out.size() + line.size() + 2 >= kBatchCapacity) {
            break;
        }
        out.append(line);
        out.append("\r\n");
    }
    return out;
}

CBatchDialog::CBatchDialog() : CDialog(kBatchTemplate)
{
    static const Entry<CBatchDialog> kTable[] = {
        {IDC_BATCH_ADD, lc::ui::Notify::Clicked, &CBatchDialog::OnAddCurrentFile},
        {IDC_BATCH_START, lc::ui::Notify::Clicked, &CBatchDialog::OnStartBatch},
        {IDC_BATCH_CLEAR, lc::ui::Notify::Clicked, &CBatchDialog::OnClearAll},
    };
    MapNotifies(kTable);
}

void CBatchDialog::ShowList()
{
    SetDlgItemText(IDC_BATCH_LIST, gUiState.batchText[0] ? gUiState.batchText : kBatchPlaceholder);
}

void CBatchDialog::ReadList()
{
    if (gUiState.batchText[0]) {
        lc::CopyText(gUiState.batchText, NormaliseBatchText(GetDlgItemText(IDC_BATCH_LIST)).c_str());
    }
}

void CBatchDialog::OnAddCurrentFile()
{
    ReadList();
    // No movie, nothing to add.
    const char *path = gMovieWindow ? gMovieWindow->GetMoviePath() : nullptr;
    if (path && !IsBlank(path)) {
        size_t used = strlen(gUiState.batchText);
        if (used + strlen(path) + 2 < kBatchCapacity) {
            lc::AppendText(gUiState.batchText, path);
            lc::AppendText(gUiState.batchText, "\r\n");
        } else {
            ShowWarning("The batch list is full");
        }
    }
    ShowList();
}

void CBatchDialog::OnClearAll()
{
    gUiState.batchText[0] = '\0';
    ShowList();
}

void CBatchDialog::OnStartBatch()
{
    if (ProcessingBusy()) {
        ShowWarning("Stop current process first");
    } else if (gUiState.advancedOpen) {
        ShowWarning("Please OK or Cancel Advanced Options");
    } else if (gUiState.optionsOpen) {
        ShowWarning("Please Close or Cancel Process Options");
    } else if (gUiState.ntscPalOpen) {
        ShowWarning("Please OK or Cancel PAL/NTSC Options");
    } else {
        ReadList();
        gProcessControl.batchRunning = 1;
        StartProcessingThread();
    }
}

void CBatchDialog::OnClose()
{
    ShowWindow(lc::ui::SW_HIDE);
    gUiState.batchListShown = 0;
}

void ShowBatchList()
{
    gBatchDialog.ShowWindow(lc::ui::SW_SHOW);
    gUiState.batchListShown = 1;
    gBatchDialog.ShowList();
    ShowGuidePage(6);
}

void AddOpenedFileToBatch()
{
    if (gUiState.batchListShown && !gProcessControl.batchRunning) {
        gBatchDialog.OnAddCurrentFile();
    }
}
