#pragma once

#include <string>
#include <string_view>

#include "platform/ui/dialog.h"

// The batch list: the movies of one batch run, one path per line, as editable text.
class CBatchDialog : public lc::ui::CDialog
{
public:
    CBatchDialog();

    // Puts UiState::batchText, or the placeholder when it is empty, into the edit.
    void ShowList();
    // Takes the edit's text into UiState::batchText, unless the list is empty (the edit then
    // shows the placeholder).
    void ReadList();

    void OnAddCurrentFile();
    void OnClearAll();
    void OnStartBatch();
    // Close Window (and Enter, Esc): hides the list.
    void OnClose();
    void OnOK() override { OnClose(); }
    void OnCancel() override { OnClose(); }
};

extern CBatchDialog gBatchDialog;

enum : int
{
    IDC_BATCH_ADD = 1029,
    IDC_BATCH_LIST = 1030,
    IDC_BATCH_START = 1031,
    IDC_BATCH_CLEAR = 1028,
};

extern const char kBatchPlaceholder[];

// The list as the processing thread reads it: each non-blank line ended by "\r\n", cut so that
// it fits UiState::batchText with its terminator (a line that does not fit whole is left out).
std::string NormaliseBatchText(std::string_view text);

// Menu "Batch": shows the list and turns the guide to its page.
void ShowBatchList();
// Called by the movie object for every movie opened while the list is shown.
void AddOpenedFileToBatch();
