#pragma once

// The quick-start guide as far as the option dialogs need it; the guide dialog and the options
// file come later behind the same calls.

// Turns the guide to page: records it in UiState::guidePage (the guide is not shown by this).
void TurnGuidePage(int page);
// Rewrites the options file when it exists; nothing yet.
void SaveOptionsIfNoguide();
// Points the passes' ShowGuidePage at TurnGuidePage.
void InstallGuideHooks();
