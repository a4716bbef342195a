#include "passes/stream_output_setup.h"

#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/output_stage_hooks.h"
#include "mpeg2/output_stage_link.h"
#include "passes/conversion_state.h"
#include "passes/copy_sound.h"
#include "passes/process_control.h"
#include "passes/stream_output.h"
#include "passes/vfw_output.h"

namespace {

// The movie ends at its first error, as in the other passes: the writer that failed has shown
// it, the decoder is asked to end its run, and the pictures it still hands over are neither
// written nor failed again (a box for every picture left).
bool MovieFailed()
{
    if (gProcessControl.errorShown.load() == 0) {
        return false;
    }
    gMpegDecoderControl.stopRequested = 1;
    return true;
}

int Written(int ok)
{
    (void)MovieFailed();
    return ok;
}

} // namespace

void InstallStreamOutputHooks()
{
    OutputStageHooks &h = gOutputStageHooks;
    h.processRunning = [] { return gProcessControl.running.load(); };
    h.passesLeft = [] { return gProcessControl.passesLeft.load(); };
    h.ntscOutputHeight = [] { return static_cast<int>(gConversionState.ntscOutputHeight); };
    h.setNtscOutputHeight = [](int lines) { gConversionState.ntscOutputHeight = lines; };
    h.audioSamplesPerFrame = [] { return static_cast<int>(gConversionState.audioSamplesPerFrame); };
    h.addCompressedFrame = [](const uint8_t *frame, int width, int rows) {
        return MovieFailed() ? 0 : Written(AddCompressedFrame(frame, width, rows));
    };
    h.compressDvFrameToAvi = [](const uint8_t *frame, int width, int rows) {
        return MovieFailed() ? 0 : Written(CompressDvFrameToAvi(frame, width, rows));
    };
    h.beginDvFrameGroup = [](const uint8_t *const *frames, int count, int width, int rows) {
        if (!MovieFailed()) {
            BeginDvFrameGroup(frames, count, width, rows);
        }
    };
    h.endDvFrameGroup = [] {
        EndDvFrameGroup();
        (void)MovieFailed();
    };
    h.compressAviFrame = [](const uint8_t *frame) {
        return MovieFailed() ? 0 : Written(CompressAviFrame(frame) != 0 ? 1 : 0);
    };
    h.endAviVideoCompression = EndAviVideoCompression;
    h.groupSoundFrames = FiveFrameSoundFrames;
    // No sound is owed to a movie that has ended: not a failure of its own.
    h.copySound = [](int frames) { return MovieFailed() ? 1 : Written(CopySound(frames)); };
    h.showError = ShowError;
    InstallOutputStage();
}
