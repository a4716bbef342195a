#include "passes/passes_setup.h"

#include "dvdecoder/cindrell_hooks.h"
#include "engine/engine_hooks.h"
#include "formats/formats_hooks.h"
#include "passes/conversion_state.h"
#include "passes/copy_sound.h"
#include "passes/process_control.h"
#include "platform/media/codec_registry.h"
#include "platform/ui/message_box.h"

void InstallPassesHooks()
{
    FormatsHooks &f = gFormatsHooks;
    f.showError = ShowError;
    f.showWarning = ShowWarning;
    f.passesLeft = [] { return gProcessControl.passesLeft.load(); };
    f.stopRequested = [] { return gProcessControl.stopRequested.load(); };
    f.sourceIsNtsc = [] { return int(gConversionState.sourceIsNtsc); };
    f.outputIsAvi = [] { return int(gConversionState.outputIsAvi); };
    f.ntscOutputHeight = [] {
        return gConversionState.ntscOutputHeight ? int(gConversionState.ntscOutputHeight) : 480;
    };
    f.uncompressedOutput = [] { return int(gConversionState.uncompressedOutput); };
    f.setFrameRate = [](int framesPerSecond) { gConversionState.frameRate = framesPerSecond; };
    InstallSoundFormatsHooks(f);

    gEngineHooks.showWarning = ShowWarning;
    gEngineHooks.showError = ShowError;

    gCindrellHooks.messageBox = [](const char *text, const char *) { AfxMessageBox(text); };

    InstallMovieFrameDecoder();
}
