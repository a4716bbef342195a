#include "app/lower_hooks_setup.h"

#include "dvdecoder/cindrell.h"
#include "formats/dv_setup_hooks.h"
#include "formats/formats_hooks.h"
#include "mpeg2/mpeg2_hooks.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "passes/conversion_state.h"
#include "passes/lower_hooks.h"
#include "passes/movie_window_hooks.h"
#include "passes/passes_setup.h"
#include "passes/process_control.h"
#include "passes/sound_track.h"
#include "passes/ui_hooks.h"
#include "platform/ui/message_box.h"

namespace {

void DecodeDvcproHd(uint8_t *output, int width, int height, const uint8_t *source,
                    uint8_t *workBuffer, int mode, int yuvOutput, int fastPath, int format,
                    int bitsPerPixel, int decimation, int mirror)
{
    // The set-up reads whole frames of the kind; the decoder checks the length itself.
    (void)CindrellDecodeFrame(output, width, height, source, CindrellFrameBytes(format), workBuffer,
                              mode, yuvOutput, fastPath, format, bitsPerPixel, decimation, mirror);
}

} // namespace

void InstallLowerFolderHooks()
{
    // Message boxes, the run's state and the sound services of the passes.
    InstallPassesHooks();

    // The DV set-up: the output time base, the sound track's description, the decoder.
    DvSetupHooks &d = gDvSetupHooks;
    d.frameRate = [] { return int(gConversionState.frameRate); };
    d.timeScale = [] {
        return gConversionState.timeScale > 0 ? int(gConversionState.timeScale) : 2500;
    };
    d.sampleDuration = [] {
        return gConversionState.sampleDuration > 0 ? int(gConversionState.sampleDuration) : 100;
    };
    d.useOutputSoundDescription = [](SoundDescriptionHandle desc) {
        gSoundTrackState.soundDescription = desc;
        gSoundTrackState.bytesPerFrame = 4;
        gSoundTrackState.totalSamples = 0;
        gConversionState.soundMediaRate = 48000;
    };
    d.forgetOutputSoundDescription = [](SoundDescriptionHandle desc) {
        if (gSoundTrackState.soundDescription == desc) {
            gSoundTrackState.soundDescription = nullptr;
        }
    };
    d.cindrellInit = CindrellInit;
    d.cindrellDecodeFrame = DecodeDvcproHd;

    // The MPEG-2 decoder thread: stopped by the movie object, the processing thread, the
    // progress dialog and shutdown. (Opening a stream waits for its player.)
    gLowerHooks.stopMpegDecoder = StopMpegDecoder;
    gLowerHooks.endMpegDecoding = EndMpegDecoding;
    gLowerHooks.mpegFrameRate = MpegFrameRate;
    gLowerHooks.mpegSequenceKnown = [] {
        // Running read first: a decoder that has stopped has set sequenceSeen, or never will.
        const bool running = IsMpegDecoderRunning() != 0;
        if (gMpegDecoderControl.sequenceSeen) {
            return 1;
        }
        return running ? 0 : -1;
    };
    gMovieWindowHooks.mpegDecoderRunning = IsMpegDecoderRunning;
    gMovieWindowHooks.resetMpegInput = [] {
        ResetMpegInputFile();
        gMpegDecoderControl.pictureCount = 0;
    };
    gMovieWindowHooks.requestMpegStop = [] { gMpegDecoderControl.stopRequested = 1; };
    gMovieWindowHooks.toggleMpegPause = [] {
        gMpegDecoderControl.paused = gMpegDecoderControl.paused ? 0 : 1;
    };
    gMovieWindowHooks.silenceMpegProgress = [] { gMpegDecoderControl.showProgress = 0; };
    Mpeg2Hooks &m = gMpeg2Hooks;
    m.processRunning = [] { return int(gProcessControl.running); };
    m.passesLeft = [] {
        int left = gProcessControl.passesLeft;
        return left > 0 ? left : 1;
    };
    m.sourceIsPal = [] { return int(gConversionState.sourceIsPal); };
    m.ntscOutputHeight = gFormatsHooks.ntscOutputHeight;
    m.outputBaseName = [] { return static_cast<const char *>(gConversionState.outputBaseName); };
    m.showError = ShowError;
    m.messageBox = [](const char *text) { AfxMessageBox(text); };
    m.setProgress = SetProgress;
}
