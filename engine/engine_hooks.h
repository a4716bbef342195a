#pragma once

#include <cstdint>
#include <functional>

// Calls the frame processing core makes upward. The passes install the message boxes and the
// preview installs the frame hand-over at start-up; until then each call does nothing.
using EngineMessageHook = void (*)(const char *text);
// width x height bottom-up B,G,R pixels, rows width x 3 bytes; valid only during the call.
using FramePreviewHook = void (*)(int width, int height, const uint8_t *bottomUpBgr);

// Runs task(i) for every i in [0, count) and returns when all have finished; the kernels hand it
// bands of rows. The passes install the worker pool; without it everything runs on the caller.
using ParallelForHook = void (*)(int count, const std::function<void(int)> &task);
// The threads parallelFor runs on; with one, the kernels do not cut their rows at all.
using WorkerThreadsHook = int (*)();

struct EngineHooks
{
    EngineMessageHook showWarning = nullptr;
    EngineMessageHook showError = nullptr;
    FramePreviewHook showFrameInPreview = nullptr;
    ParallelForHook parallelFor = nullptr;
    WorkerThreadsHook workerThreads = nullptr;
};

extern EngineHooks gEngineHooks;

void EngineShowWarning(const char *text);
void EngineShowError(const char *text);
// Hands one converted output frame to the "Current Frame" preview.
void ShowFrameInPreview(int width, int height, const uint8_t *bottomUpBgr);
