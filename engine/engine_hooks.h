#pragma once

#include <cstdint>

// Calls the frame processing core makes upward. The passes install the message boxes and the
// preview installs the frame hand-over at start-up; until then each call does nothing.
using EngineMessageHook = void (*)(const char *text);
// width x height bottom-up B,G,R pixels, rows width x 3 bytes; valid only during the call.
using FramePreviewHook = void (*)(int width, int height, const uint8_t *bottomUpBgr);

struct EngineHooks
{
    EngineMessageHook showWarning = nullptr;
    EngineMessageHook showError = nullptr;
    FramePreviewHook showFrameInPreview = nullptr;
};

extern EngineHooks gEngineHooks;

void EngineShowWarning(const char *text);
void EngineShowError(const char *text);
// Hands one converted output frame to the "Current Frame" preview.
void ShowFrameInPreview(int width, int height, const uint8_t *bottomUpBgr);
