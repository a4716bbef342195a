#pragma once

#include <string>

// The output-folder chooser: an open-file dialog titled "Open" whose name box holds
// "Navigate to output folder and click Open"; the user walks to a folder and presses Open.
// Returns the chosen folder + "/" + the name box text, or "" when cancelled.
std::string PromptForOutputFile();
// The folder of PromptForOutputFile's answer, without a trailing "/"; "" when cancelled.
std::string BrowseForOutputFolder();
