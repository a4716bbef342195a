#include "app/guide.h"

#include "passes/ui_hooks.h"
#include "passes/ui_state.h"

void TurnGuidePage(int page)
{
    gUiState.guideAfterProcessing.store(0, std::memory_order_relaxed);
    gUiState.guidePage.store(page, std::memory_order_relaxed);
}

void SaveOptionsIfNoguide() {}

void InstallGuideHooks()
{
    gUiHooks.showGuidePage = &TurnGuidePage;
}
