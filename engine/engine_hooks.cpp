#include "engine/engine_hooks.h"

EngineHooks gEngineHooks;

void EngineShowWarning(const char *text)
{
    if (gEngineHooks.showWarning) {
        gEngineHooks.showWarning(text);
    }
}

void EngineShowError(const char *text)
{
    if (gEngineHooks.showError) {
        gEngineHooks.showError(text);
    }
}

void ShowFrameInPreview(int width, int height, const uint8_t *bottomUpBgr)
{
    if (gEngineHooks.showFrameInPreview) {
        gEngineHooks.showFrameInPreview(width, height, bottomUpBgr);
    }
}
