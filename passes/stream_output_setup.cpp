#include "passes/stream_output_setup.h"

#include "mpeg2/output_stage_hooks.h"
#include "mpeg2/output_stage_link.h"
#include "passes/conversion_state.h"
#include "passes/copy_sound.h"
#include "passes/process_control.h"
#include "passes/stream_output.h"
#include "passes/vfw_output.h"

void InstallStreamOutputHooks()
{
    OutputStageHooks &h = gOutputStageHooks;
    h.processRunning = [] { return gProcessControl.running.load(); };
    h.passesLeft = [] { return gProcessControl.passesLeft.load(); };
    h.ntscOutputHeight = [] { return static_cast<int>(gConversionState.ntscOutputHeight); };
    h.setNtscOutputHeight = [](int lines) { gConversionState.ntscOutputHeight = lines; };
    h.audioSamplesPerFrame = [] { return static_cast<int>(gConversionState.audioSamplesPerFrame); };
    h.addCompressedFrame = AddCompressedFrame;
    h.compressDvFrameToAvi = CompressDvFrameToAvi;
    h.beginDvFrameGroup = BeginDvFrameGroup;
    h.endDvFrameGroup = EndDvFrameGroup;
    h.compressAviFrame = [](const uint8_t *frame) { return CompressAviFrame(frame) != 0 ? 1 : 0; };
    h.endAviVideoCompression = EndAviVideoCompression;
    h.groupSoundFrames = FiveFrameSoundFrames;
    h.copySound = CopySound;
    h.showError = ShowError;
    InstallOutputStage();
}
