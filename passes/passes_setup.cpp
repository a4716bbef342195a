#include "passes/passes_setup.h"

#include "dvdecoder/cindrell.h"
#include "dvdecoder/cindrell_hooks.h"
#include "engine/engine_hooks.h"
#include "formats/dv_setup_hooks.h"
#include "formats/formats_hooks.h"
#include "mpeg2/mpeg_audio_sink_setup.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "passes/conversion_state.h"
#include "passes/copy_sound.h"
#include "passes/lower_hooks.h"
#include "passes/mpeg_processing.h"
#include "passes/process_control.h"
#include "passes/sound_track.h"
#include "passes/stream_output_setup.h"
#include "platform/media/codec_registry.h"
#include "platform/sys/worker_pool.h"
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
    // The kernels' row bands run on the process's worker pool.
    gEngineHooks.parallelFor = [](int count, const std::function<void(int)> &task) {
        lc::SharedWorkerPool().Run(count, task);
    };
    gEngineHooks.workerThreads = [] { return lc::SharedWorkerPool().Threads(); };

    gCindrellHooks.messageBox = [](const char *text, const char *) { AfxMessageBox(text); };

    // The DV set-up and the MXF frame decoder: output time base, the default output sound
    // description (owned by the set-up) and the own DVCPRO HD decoder.
    DvSetupHooks &dv = gDvSetupHooks;
    dv.frameRate = [] { return int(gConversionState.frameRate); };
    dv.timeScale = [] {
        return gConversionState.timeScale ? int(gConversionState.timeScale) : 2500;
    };
    dv.sampleDuration = [] {
        return gConversionState.sampleDuration ? int(gConversionState.sampleDuration) : 100;
    };
    dv.useOutputSoundDescription = [](SoundDescriptionHandle desc) {
        gSoundTrackState.soundDescription = desc;
        gSoundTrackState.bytesPerFrame = 4;
        gSoundTrackState.totalSamples = 0;
        gConversionState.soundMediaRate = 48000;
    };
    dv.forgetOutputSoundDescription = [](SoundDescriptionHandle desc) {
        if (gSoundTrackState.soundDescription == desc) {
            gSoundTrackState.soundDescription = nullptr;
        }
    };
    dv.cindrellInit = CindrellInit;
    // The MXF reader hands a whole frame of the kind (it checks the size before).
    dv.cindrellDecodeFrame = [](uint8_t *output, int width, int height, const uint8_t *source,
                                uint8_t *workBuffer, int mode, int yuvOutput, int fastPath,
                                int format, int bitsPerPixel, int decimation, int mirror) {
        (void)CindrellDecodeFrame(output, width, height, source, CindrellFrameBytes(format),
                                  workBuffer, mode, yuvOutput, fastPath, format, bitsPerPixel,
                                  decimation, mirror);
    };

    // The MPEG-2 input: its stop and frame rate for the processing thread, its sound hand-off.
    gLowerHooks.stopMpegDecoder = StopMpegDecoder;
    gLowerHooks.endMpegDecoding = EndMpegDecoding;
    gLowerHooks.mpegFrameRate = MpegFrameRate;
    InstallMpegAudioSink();
    InstallStreamOutputHooks(); // the decoded-picture output stage and its writers

    InstallMovieFrameDecoder();
    InstallMpegProcessingHooks();
}
