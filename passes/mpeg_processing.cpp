#include "passes/mpeg_processing.h"

#include "engine/frame_store.h"
#include "formats/avi_reader.h"
#include "formats/avi_writer.h"
#include "formats/source_audio_format.h"
#include "mp2decode/player.h"
#include "mp2decode/transplit.h"
#include "mpeg2/mpeg2_hooks.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "mpeg2/mpeg_stream_info.h"
#include "mpeg2/output_stage.h"
#include "passes/conversion_state.h"
#include "passes/lower_hooks.h"
#include "passes/movie_window.h"
#include "passes/process_control.h"
#include "passes/process_movie.h"
#include "passes/sound_track.h"
#include "passes/stream_output.h"
#include "passes/ui_hooks.h"
#include "platform/media/movies.h"
#include "platform/sys/clock.h"
#include "platform/sys/file.h"
#include "platform/sys/text.h"

namespace {

constexpr const char *kSoundProgress = "Pre-processing MPEG2 audio stream...";

// The decoder thread wakes waiters as its last act; a Stop reaches it through its own flag.
void WaitForDecoderToStop()
{
    lc::WaitUntil([] { return !IsMpegDecoderRunning(); });
}

// The output height: SD frames become 576 lines (NTSC family) or the NTSC height (PAL family).
int OutputHeight(int pictureHeight)
{
    const ConversionState &cs = gConversionState;
    if (cs.ntscSd) {
        return 576;
    }
    if (cs.palSd) {
        return cs.ntscOutputHeight;
    }
    return pictureHeight;
}

// The stream's picture (horizontal_size x vertical_size), within its coded size.
void MpegPictureSize(int *width, int *height)
{
    const int codedWidth = gMpegStreamInfo.codedWidth;
    const int codedHeight = gMpegStreamInfo.codedHeight;
    const int w = gMpegStreamInfo.horizontalSize;
    const int h = gMpegStreamInfo.verticalSize;
    *width = w >= 1 && w <= codedWidth ? w : codedWidth;
    *height = h >= 1 && h <= codedHeight ? h : codedHeight;
}

// The player controls' resume for a processing run: a whole-file run from offset 0 with the full
// start-up, so every pass sees the stream from its first sequence header.
void ResumeMpegDecoding()
{
    if (gLowerHooks.resumeMpegForProcessing) {
        gLowerHooks.resumeMpegForProcessing();
        return;
    }
    gMpegDecoderControl.seekPercent = 0;
    ClearSequenceSeen();
    StartOrPauseMpegDecoding();
}

} // namespace

void InstallMpegProcessingHooks()
{
    Mpeg2Hooks &h = gMpeg2Hooks;
    h.processRunning = [] { return gProcessControl.running.load(); };
    h.passesLeft = [] { return gProcessControl.passesLeft.load(); };
    h.sourceIsPal = [] { return int(gConversionState.sourceIsPal); };
    h.ntscOutputHeight = [] {
        return gConversionState.ntscOutputHeight ? int(gConversionState.ntscOutputHeight) : 480;
    };
    h.showError = ShowError;
    h.setProgress = ReportProgress;
}

int SetUpMpegSource(int *width, int *height)
{
    ConversionState &cs = gConversionState;
    // a. The player lets go of the stream: its controls take no click for the run, and a preview
    // still running plays to its end (one left paused by a click before the controls went
    // resumes: nothing could resume it now). A transport stream's video is read from one fixed
    // PID: without it there is nothing to convert, whatever else the stream holds.
    if (gLowerHooks.closeMpegPlayer) {
        gLowerHooks.closeMpegPlayer();
    }
    gMpegDecoderControl.paused = 0;
    WaitForDecoderToStop();
    // A stream without a sequence header has no size and rate to convert by.
    if (!gMpegDecoderControl.sequenceSeen) {
        ShowError(gMpegStreamInfo.streamKind == 2
                      ? "No video found on PID 0x810\n"
                        "The video of a transport stream must be on PID 0x810 (2064)"
                      : "No MPEG-2 video sequence found in the stream");
        return 0;
    }
    // The mode of the first pass.
    SelectProcessingModeForMpeg();
    // b. Sound samples per picture. A stream without a sequence extension has no frame rate:
    // nothing could be retimed, so it is refused rather than divided by.
    const double rate = gMpegStreamInfo.frameRate;
    int s = 2500, d = 100;
    if (rate != 25.0) {
        s = int(rate * 1001 + 0.5);
        d = 1001;
    }
    if (s <= 0) {
        ShowError("Unexpected values for sample duration");
        return 0;
    }
    cs.audioSamplesPerFrame = d * 48000 / s;
    // c. SD flags from the picture's size. The output is the picture, not the coded lines and
    // columns around it.
    int pictureWidth = 0;
    int pictureHeight = 0;
    MpegPictureSize(&pictureWidth, &pictureHeight);
    // The frame store has a fixed size, as for every other source.
    if (!FrameFitsStore(pictureWidth, pictureHeight, !cs.sourceIsPal)) {
        ShowError("Error: Movie frame > 9216000 bytes");
        return 0;
    }
    const bool sd = !IsHdFrame(uint32_t(pictureWidth), uint32_t(pictureHeight));
    cs.ntscSd = !cs.sourceIsPal && sd;
    cs.palSd = cs.sourceIsPal && sd;
    // d. The writers' frame size and the stage's copy of the output.
    *width = pictureWidth;
    *height = pictureHeight;
    SetOutputFrameSize(pictureWidth, OutputHeight(pictureHeight));
    SetMpegOutputTarget();
    // e. The decoder's sound is 16-bit stereo at 48 kHz.
    gSourceAudioFormat.channels = 2;
    gSourceAudioFormat.samplesPerSecond = 48000;
    gSourceAudioFormat.bitsPerSample = 16;
    return 1;
}

void SetMpegOutputTarget()
{
    const ConversionState &cs = gConversionState;
    const int dv =
        cs.dvAviOutput && gAviReadState.frameWidth < 800 && gAviReadState.frameHeight < 600;
    OutputStageTarget &target = gOutputStageTarget;
    target.outputIsAvi = cs.outputIsAvi ? 1 : 0;
    target.dvOutput = dv;
    MpegPictureSize(&target.outputWidth, &target.outputHeight);
}

void PrepareMpegSound(CMovieWindow &window, const char *folder, Movie outputMovie,
                      Movie *soundMovie, Track *soundTrack, int *soundMark)
{
    *soundMovie = nullptr;
    *soundTrack = nullptr;
    *soundMark = 0;
    if (gMpegStreamInfo.streamKind != 2) {
        *soundMark = 1; // the decoder's own audio path
        return;
    }
    ReportProgress(kSoundProgress, 33);
    char mp2Path[256];
    char aiffPath[256];
    char sourcePath[256];
    if (!lc::FormatText(mp2Path, sizeof mp2Path, "%stemp.mp2", folder)
        || !lc::FormatText(aiffPath, sizeof aiffPath, "%stemp.aiff", folder)
        || !lc::CopyText(sourcePath, window.moviePath)) {
        *soundMark = 1;
        return;
    }
    lc::DeletePath(mp2Path);
    char program[] = "transplit";
    char *splitArgs[] = {program, sourcePath, mp2Path, nullptr};
    // The measured offset (video PTS - audio PTS) becomes silence or dropped sound.
    const int offsetMs = TransplitMain(3, splitArgs);
    if (offsetMs == -1) {
        // No PID carries MPEG audio: the stream is converted without sound, as one whose sound
        // could not be decoded.
        ShowWarning("Warning: No Audio track found");
        return;
    }
    gConversionState.audioOffsetMs = offsetMs;
    ReportProgress(kSoundProgress, 66);
    lc::DeletePath(aiffPath);
    // The decoder's scanner may move its arguments about: every word is its own writable copy.
    char decoder[] = "mp2decode";
    char quiet[] = "-Q";
    char output[] = "-o";
    char mp2Arg[256];
    char aiffArg[256];
    lc::CopyText(mp2Arg, mp2Path);
    lc::CopyText(aiffArg, aiffPath);
    char *decodeArgs[] = {decoder, mp2Arg, quiet, output, aiffArg, nullptr};
    Mp2DecodeMain(5, decodeArgs);
    char pascal[256];
    lc::CopyText(pascal, aiffPath);
    window.CToPascalString(pascal);
    FSSpec spec;
    FSMakeFSSpec(0, 0, reinterpret_cast<const unsigned char *>(pascal), &spec);
    ReportProgress(kSoundProgress, 99);
    short ref = 0;
    if (OpenMovieFile(&spec, &ref, fsRdPerm) != noErr) {
        ShowWarning("Warning: No Audio track found");
        return;
    }
    Movie movie = nullptr;
    OSErr err = NewMovieFromFile(&movie, ref, nullptr, nullptr, newMovieActive, nullptr);
    CloseMovieFile(ref);
    if (err != noErr || !movie) {
        ShowWarning("Warning: No Audio track found");
        return;
    }
    *soundMovie = movie;
    Track track =
        GetMovieIndTrackType(movie, 1, AudioMediaCharacteristic, movieTrackCharacteristic);
    if (!track) {
        ShowWarning("Warning: No Audio in Mpeg-2");
        return;
    }
    *soundTrack = track;
    BeginAviSoundFromQuickTime(outputMovie, movie, track);
}

int MakeMpegVideo(Movie outputMovie, int width, int height)
{
    ProcessControl &control = gProcessControl;
    const ConversionState &cs = gConversionState;
    // The kernels' view of the source family, as the passes of the other sources set it.
    gEngineSettings.sourceIsPal = cs.sourceIsPal ? 1 : 0;
    gEngineSettings.sourceIsNtsc = cs.sourceIsPal ? 0 : 1;
    gEngineSettings.ntscOutputHeight = cs.ntscOutputHeight;
    // The output track (QuickTime) or picture (AVI) at the output size.
    const int trackHeight = OutputHeight(height);
    int ok = cs.outputIsAvi ? AllocOutputGWorld(width, trackHeight, width, height)
                            : BeginOutputVideoTrack(outputMovie, width, trackHeight, width, height);
    if (!ok) {
        return 0;
    }
    // One decoder run per pass; a stop or an error skips the passes left.
    while (control.passesLeft != 0 && !control.stopRequested && !control.errorShown) {
        gEngineSettings.passesLeft = control.passesLeft; // 2: the analysis pass
        ResumeMpegDecoding();
        WaitForDecoderToStop();
        if (control.passesLeft > 1) {
            SelectProcessingModeForMpeg();
        }
        control.passesLeft = control.passesLeft - 1;
    }
    ok = cs.outputIsAvi ? FreeOutputGWorld() : EndOutputVideoTrack();
    // The passes counted the stream's pictures: none is no movie, whatever was written.
    if (!control.stopRequested && !control.errorShown && gMpegDecoderControl.pictureCount <= 0) {
        ShowError("Error: Zero-length Movie");
        ok = 0;
    }
    if (gMpegStreamInfo.lpcmRefused) {
        ShowWarning("Warning: LPCM audio in VOB file must be 48KHz Stereo,\n"
                    "output soundtrack will be silent");
    } else if (gMpegStreamInfo.audioKind == 3) {
        ShowWarning("Warning: Mp2 audio in VOB file not yet supported");
    } else if (gMpegStreamInfo.audioKind == 4) {
        ShowWarning("Warning: DTS audio in VOB file not yet supported");
    }
    return ok;
}
