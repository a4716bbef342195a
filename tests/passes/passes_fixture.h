#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"
#include "formats/avi_reader.h"
#include "formats/source_timing.h"
#include "passes/conversion_state.h"
#include "passes/lower_hooks.h"
#include "passes/process_control.h"
#include "passes/source_kind.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/ui/message_box.h"

// Fresh process-wide records for each case, a message recorder, and hooks that log the calls
// the passes make upward.
class PassesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetProcessControl();
        gUiState.optionsOpen = 0;
        gUiState.advancedOpen = 0;
        gUiState.ntscPalOpen = 0;
        gUiState.batchListShown = 0;
        gUiState.batchText[0] = 0;
        gSourceKind.Clear();
        gConversionState = ConversionState{};
        gSourceTiming = SourceTiming{};
        gAviReadState.isUncompressed = 0;
        ResetConversionOptions(gConversionOptions);
        calls().clear();
        gUiHooks = UiHooks{};
        gUiHooks.showProgress = [] { calls().push_back("ShowProgress"); };
        gUiHooks.hideProgress = [] { calls().push_back("HideProgress"); };
        gUiHooks.showGuidePage = [](int page) {
            calls().push_back("ShowGuidePage " + std::to_string(page));
        };
        gUiHooks.startProcessingThread = [] { calls().push_back("StartProcessingThread"); };
        gUiHooks.stopAviPlayback = [] { calls().push_back("StopAviPlayback"); };
        gUiHooks.resizePlaybackWindow = [] { calls().push_back("ResizePlaybackWindow"); };
        gLowerHooks = LowerHooks{};
        gLowerHooks.stopMpegDecoder = [] { calls().push_back("StopMpegDecoder"); };
        gLowerHooks.endMpegDecoding = [] { calls().push_back("EndMpegDecoding"); };
        gLowerHooks.fitVideoWindow = [] { calls().push_back("FitVideoWindow"); };
    }
    void TearDown() override
    {
        gUiHooks = UiHooks{};
        gLowerHooks = LowerHooks{};
    }

    static void ResetProcessControl()
    {
        ProcessControl &c = gProcessControl;
        c.running = 0;
        c.batchRunning = 0;
        c.reopenPending = 0;
        c.openedAfterProcessing = 0;
        c.passesLeft = 0;
        c.stopRequested = 0;
        c.paused = 0;
        c.errorShown = 0;
        c.progressPercent = 0;
        c.progressText[0] = 0;
        c.reopenPath[0] = 0;
    }

    // Hook calls in order; written only by the thread under test while the test waits.
    static std::vector<std::string> &calls()
    {
        static std::vector<std::string> log;
        return log;
    }
    static int CountCalls(const std::string &name)
    {
        int n = 0;
        for (const std::string &c : calls()) {
            n += c == name;
        }
        return n;
    }

    lc::ui::MessageRecorder messages;
};
