// Processing of one movie: the output movie or AVI file, the time base, the sound set-up and the
// video track made by the pass of the source's family.

#include "passes/process_movie.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dvdecoder/cindrell.h"
#include "engine/conversion_options.h"
#include "engine/frame_store.h"
#include "formats/avi_reader.h"
#include "formats/avi_writer.h"
#include "formats/dv_setup.h"
#include "formats/mxf_clip_state.h"
#include "formats/source_audio_format.h"
#include "formats/source_timing.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "passes/conversion_state.h"
#include "passes/lower_hooks.h"
#include "passes/movie_window.h"
#include "passes/movie_window_hooks.h"
#include "passes/mpeg_processing.h"
#include "passes/process_control.h"
#include "passes/sound_track.h"
#include "passes/source_kind.h"
#include "passes/ui_hooks.h"
#include "passes/vfw_output.h"
#include "platform/media/image_compression.h"
#include "platform/media/movies.h"
#include "platform/media/standard_compression.h"
#include "platform/sys/file.h"
#include "platform/sys/text.h"

namespace {

constexpr OSType kCodecDvNtsc = 0x64766320; // 'dvc '
constexpr OSType kCodecDvPal = 0x64766370;  // 'dvcp'
constexpr OSType kCodecAvidDv = 0x41566476; // 'AVdv'
constexpr OSType kCodecDvhp = 0x64766870;   // 'dvhp'
constexpr OSType kCodecDvh6 = 0x64766836;   // 'dvh6'
constexpr OSType kCodecDvh5 = 0x64766835;   // 'dvh5'
constexpr OSType kCodecAvd1 = 0x41566431;   // 'AVd1'
constexpr int32_t kFirstSampleBytes = 9216000;
constexpr const char *kMemoryError =
    "Could not allocate memory\nPossible problem: system fault or memory limitation.";

// Whether the compression dialog was answered in this run; a movie refused before its dialog
// leaves the dialog to the next movie.
bool gCompressionChosen = false;

// The source's player would read the source beside the run (an AVI's player shares the reader,
// an MPEG-2 preview the decoder), so it is closed for the run and shown again when the run
// stops or fails, on every way out.
struct PlayerClosedForRun
{
    void (*showAgain)() = nullptr; // set once the player is closed
    void CloseAviPlayer()
    {
        if (gLowerHooks.closeAviPlayer) {
            gLowerHooks.closeAviPlayer();
        } else {
            StopAviPlayback();
        }
        showAgain = gLowerHooks.showAviPlayer;
    }
    // SetUpMpegSource closes the MPEG-2 player.
    void MpegPlayerClosed() { showAgain = gLowerHooks.showMpegPlayer; }
    ~PlayerClosedForRun()
    {
        if (showAgain && (gProcessControl.stopRequested || gProcessControl.errorShown)) {
            showAgain();
        }
    }
};

// The standard compression dialog; a cancel stops the run quietly. 1 chosen, 0 cancelled.
int RequestCompression()
{
    ConversionState &cs = gConversionState;
    if (cs.stdCompressor) {
        CloseComponent(cs.stdCompressor);
    }
    cs.stdCompressor = OpenDefaultComponent(StandardCompressionType, StandardCompressionSubType);
    if (SCRequestImageSettings(cs.stdCompressor) != 0) {
        gProcessControl.stopRequested = 1;
        return 0;
    }
    gCompressionChosen = true;
    return 1;
}

// Standard-definition frames become 576-line PAL DV (NTSC family) or NTSC DV at the NTSC height
// (PAL family); HD frames keep their size and hdCodec.
void SetOutputFamily(int width, int height, bool ntscFamily, OSType hdCodec)
{
    ConversionState &cs = gConversionState;
    const bool sd = !IsHdFrame(uint32_t(width), uint32_t(height));
    cs.ntscSd = ntscFamily && sd;
    cs.palSd = !ntscFamily && sd;
    if (cs.ntscSd) {
        SetOutputFrameSize(width, 576);
        cs.outputCodec = kCodecDvPal;
    } else if (cs.palSd) {
        SetOutputFrameSize(width, cs.ntscOutputHeight);
        cs.outputCodec = kCodecDvNtsc;
    } else {
        SetOutputFrameSize(width, height);
        cs.outputCodec = hdCodec;
    }
}

// Opens the source AVI file with the AVI reader for its frames, count and sound. 1 ok, 0 shown.
int OpenAviSource(const char *path)
{
    uint32_t frames = 0;
    int extended = 0;
    int r = AviOpenRead(path, &frames, &extended);
    if (r != 0) {
        const char *text = AviErrorText(r);
        ShowError(text && text[0] ? text : "Could not open or read the AVI file");
        return 0;
    }
    gConversionState.sourceFrameCount = int32_t(frames);
    return 1;
}

void CodecText(OSType code, char (&text)[5])
{
    for (int i = 0; i < 4; ++i) {
        text[i] = char((code >> (24 - 8 * i)) & 0xff);
    }
    text[4] = 0;
}

// The output's rate replaces the source's in SourceTiming while the output is written (the AVI
// writer's header takes it from there); afterwards the source's own timing is back, so a second
// Start on the same movie, and its player, see the source again.
struct KeepSourceTiming
{
    SourceTiming source = gSourceTiming;
    ~KeepSourceTiming() { gSourceTiming = source; }
};

// What ProcessMovie opened for output; every way out closes what is open.
struct OutputFiles
{
    CMovieWindow *window = nullptr; // whose sound track steps end the sound
    Movie movie = nullptr;          // QuickTime output
    short fileRef = 0;
    bool fileOpen = false;
    bool aviOpen = false;
    bool soundBegun = false;
    Handle descriptionHandle = nullptr;
    Movie soundMovie = nullptr; // made from "temp.aiff" for a transport stream's sound

    // complete: the output is finished (movie resource added); else only closed.
    void Close(bool complete, const char *sideFile)
    {
        if (soundBegun) {
            soundBegun = false;
            window->EndSoundTrack();
        }
        if (soundMovie) {
            DisposeMovie(soundMovie);
            soundMovie = nullptr;
        }
        ReleasePlayedSound();
        if (aviOpen) {
            aviOpen = false;
            AviCloseOutput();
        }
        if (movie) {
            if (complete && fileOpen) {
                short resId = 0;
                CheckQtError(AddMovieResource(movie, fileRef, &resId, nullptr),
                             "AddMovieResource Error");
            }
            if (fileOpen) {
                CloseMovieFile(fileRef);
                fileOpen = false;
            }
            // A side file may be left beside the movie.
            lc::DeletePath(sideFile);
            DisposeMovie(movie);
            movie = nullptr;
        }
        DisposeHandle(descriptionHandle);
        descriptionHandle = nullptr;
    }
};

} // namespace

TimeValue FirstVideoSampleTime(Movie movie)
{
    OSType eyes = VisualMediaCharacteristic;
    TimeValue t = -1;
    GetMovieNextInterestingTime(movie, nextTimeMediaSample | nextTimeEdgeOK, 1, &eyes, 0, -FixedOne,
                                &t, nullptr);
    return t;
}

TimeValue NextVideoSampleTime(Movie movie, TimeValue time)
{
    OSType eyes = VisualMediaCharacteristic;
    TimeValue t = -1;
    GetMovieNextInterestingTime(movie, nextTimeMediaSample, 1, &eyes, time, FixedOne, &t, nullptr);
    return t;
}

TimeValue NextTrackSampleTime(Media media, TimeValue time)
{
    TimeValue t = -1;
    GetMediaNextInterestingTime(media, nextTimeMediaSample, time, FixedOne, &t, nullptr);
    return t;
}

void StartProcessingRun()
{
    gCompressionChosen = false;
    gVfwOutputState.compressorChosen = 0;
}

bool FrameFitsStore(int width, int height, bool ntscFamily)
{
    if (width <= 0 || height <= 0) {
        return false;
    }
    int64_t lines = height;
    if (ntscFamily && !IsHdFrame(uint32_t(width), uint32_t(height)) && lines < 576) {
        lines = 576;
    }
    return lines * width * 3 <= int64_t(kFrameBufferBytes)
           && (int64_t(height) + 1) / 2 * width <= int64_t(kMapValues);
}

void CMovieWindow::ProcessMovie()
{
    ProcessControl &control = gProcessControl;
    ConversionOptions &options = gConversionOptions;
    ConversionState &cs = gConversionState;

    // 1. A result must get its own name before it is processed again.
    cs.outputCreated = 0;
    control.paused = 0;
    control.stopRequested = 0;
    // The temporary output is told by its file, not only its name, so no movie overwrites
    // itself through another spelling of its path.
    if (std::strstr(moviePath, "/newmovie.") || TemporaryOutputIsSource(*this)) {
        ShowError("newmovie must be renamed with File->SaveAs before further processing.");
        return;
    }
    const KeepSourceTiming keepSourceTiming;
    // 2. No sound state, timecode or DVCPRO HD decoding of the previous movie.
    ResetMovieSound();
    gMxfClipState.sourceTimecodeFound = 0;
    gMxfClipState.sourceDropFrame = 0;
    cs.cindrellSource = 0;

    const bool qtSource = gSourceKind.viaQuickTime != 0;
    const bool aviFile = gSourceKind.isAvi != 0;
    const bool mpegSource = !qtSource && !gSourceKind.viaAviPlayer && gSourceKind.isMpeg;
    const bool ntscFamily = !cs.sourceIsPal;
    OutputFiles files;
    files.window = this;
    Track videoTrack = nullptr;
    Track soundTrack = nullptr;
    Media videoMedia = nullptr;
    int soundMark = 0;
    int width = 0;
    int height = 0;
    PlayerClosedForRun player;

    // 3. Source set-up.
    if (qtSource) {
        // a. An AVI file is also opened by the AVI reader: its frames, count and sound.
        if (aviFile && !OpenAviSource(moviePath)) {
            return;
        }
        // b. The sample description.
        files.descriptionHandle = NewHandle(4);
        if (CheckQtError(MemError(), kMemoryError)) {
            files.Close(false, "");
            return;
        }
        // c. Video and sound tracks.
        videoTrack =
            GetMovieIndTrackType(movie, 1, VisualMediaCharacteristic, movieTrackCharacteristic);
        if (!videoTrack) {
            ShowError("No Video in Movie");
            files.Close(false, "");
            return;
        }
        videoMedia = GetTrackMedia(videoTrack);
        soundTrack =
            GetMovieIndTrackType(movie, 1, AudioMediaCharacteristic, movieTrackCharacteristic);
        if (!soundTrack) {
            ShowWarning("Warning: No Audio in Movie");
        }
        gSoundTrackState.secondSoundTrack =
            GetMovieIndTrackType(movie, 2, AudioMediaCharacteristic, movieTrackCharacteristic);
        // The frame store has a fixed size: refuse larger frames before anything is read or
        // allocated for them.
        GetMediaSampleDescription(
            videoMedia, 1, reinterpret_cast<SampleDescriptionHandle>(files.descriptionHandle));
        if (GetMoviesError() == noErr) {
            const ImageDescription &first =
                **reinterpret_cast<ImageDescriptionHandle>(files.descriptionHandle);
            if (!FrameFitsStore(first.width, first.height, ntscFamily)) {
                ShowError("Error: Movie frame > 9216000 bytes");
                files.Close(false, "");
                return;
            }
        }
        // d. The first video sample.
        Handle sample = NewHandle(kFirstSampleBytes);
        if (CheckQtError(MemError(), kMemoryError) || !sample) {
            files.Close(false, "");
            return;
        }
        HUnlock(sample);
        HLock(sample);
        long size = 0;
        TimeValue duration = 0;
        OSErr err =
            GetMediaSample(videoMedia, sample, kFirstSampleBytes, &size, 0, nullptr, &duration,
                           reinterpret_cast<SampleDescriptionHandle>(files.descriptionHandle),
                           nullptr, 1, nullptr, nullptr);
        // g. A DV frame carries the source time code.
        if (err == noErr && (size == 120000 || size == 144000)) {
            ReadDvTimecode(gMxfClipState.sourceTimecode, reinterpret_cast<const uint8_t *>(*sample),
                           int32_t(size), size == 144000);
        }
        DisposeHandle(sample);
        if (CheckQtError(err, "GetMediaSample Error")) {
            files.Close(false, "");
            return;
        }
        cs.sourceSampleDuration = duration;
        const long firstSampleBytes = size;
        // e. Codec, size and depth.
        const ImageDescription &desc =
            **reinterpret_cast<ImageDescriptionHandle>(files.descriptionHandle);
        const OSType codec = desc.cType;
        width = desc.width;
        height = desc.height;
        if (desc.depth > 24) {
            ShowError("Transparency or more than 24 bits/pixel not supported,\nuse Millions of "
                      "Colors, Not Millions+");
            files.Close(false, "");
            return;
        }
        if (!FrameFitsStore(width, height, ntscFamily)) {
            ShowError("Error: Movie frame > 9216000 bytes");
            files.Close(false, "");
            return;
        }
        // f. DVCPRO HD frames go to the own decoder.
        if (codec == kCodecDvhp || codec == kCodecDvh6 || codec == kCodecDvh5) {
            cs.cindrellSource = 1;
            if (codec == kCodecDvh5) {
                gDvDecodeSetup.decoderFormat = height == 720 ? Dvhd720p50 : Dvhd1080i50;
            } else {
                gDvDecodeSetup.decoderFormat = height == 720 ? Dvhd720p60 : Dvhd1080i60;
            }
            CindrellInit();
        }
        // h-j. Standard-definition families, output codec and frame size; DVCPRO HD to
        // QuickTime output is written as 'AVd1'.
        SetOutputFamily(width, height, ntscFamily, codec);
        if (cs.cindrellSource && !cs.outputIsAvi) {
            cs.outputCodec = kCodecAvd1;
            if (!SetupDecoderForFrameSize(height, width, int(firstSampleBytes))) {
                files.Close(false, "");
                return;
            }
        }
        // k. The compression dialog, once a run, for QuickTime output.
        if (!cs.outputIsAvi && !gCompressionChosen) {
            bool ask = options.userSelectsCompression != 0;
            if (codec == kCodecAvidDv && height > 500) {
                ShowWarning("Avid PAL codec requires that you set Option for 4:2:0 sampling.");
                ask = true;
            }
            if (ask && !RequestCompression()) {
                files.Close(false, "");
                return;
            }
        }
        // l. The codec's four characters.
        CodecText(codec, cs.sourceCodecText);
    } else if (gSourceKind.viaAviPlayer && aviFile) {
        // The playback window lets go of the file; the reader opens it afresh.
        player.CloseAviPlayer();
        AviCloseRead();
        if (!OpenAviSource(moviePath)) {
            return;
        }
        width = AviGetFrameWidth();
        height = AviGetFrameHeight();
        if (!FrameFitsStore(width, height, ntscFamily)) {
            ShowError("Error: Movie frame > 9216000 bytes");
            return;
        }
        SetOutputFamily(width, height, ntscFamily, 0); // HD keeps the reader's size
        soundMark = gSourceAudioFormat.channels;
        if (!cs.outputIsAvi && !gCompressionChosen) {
            if (!RequestCompression()) {
                return;
            }
            options.userSelectsCompression = 1;
        }
        cs.sourceCodecText[0] = 0;
    } else if (gSourceKind.isMpeg) {
        player.MpegPlayerClosed();
        if (!SetUpMpegSource(&width, &height)) {
            return;
        }
        // f. The compression dialog, once a run, for QuickTime output whatever the option.
        if (!cs.outputIsAvi && !gCompressionChosen && !RequestCompression()) {
            return;
        }
        cs.sourceCodecText[0] = 0;
    } else {
        return; // nothing is open
    }
    // A source without a frame makes no movie: an AVI file whose header counts none is refused
    // before anything is written. (A stream counts its pictures in its first pass.)
    if (aviFile && cs.sourceFrameCount <= 0) {
        ShowError("Error: Zero-length Movie");
        files.Close(false, "");
        return;
    }

    // 4. Progress.
    ShowProgress();
    ReportProgress("Checking files...", 1);

    // 5. Output names, in the output folder or beside the source.
    const char *folder = movieFolder;
    char outputFolder[256] = {};
    if (options.userSelectsOutputFolder) {
        lc::FormatText(outputFolder, sizeof outputFolder, "%s/", options.outputFolder);
        folder = outputFolder;
    }
    char outputPath[256];
    char sideFile[256];
    const char *name = cs.outputIsAvi ? "newmovie.avi" : "newmovie.mov";
    if (!lc::FormatText(outputPath, sizeof outputPath, "%s%s", folder, name)
        || !lc::FormatText(sideFile, sizeof sideFile, "%snewmovie.mov.#res", folder)) {
        ShowError("Output path is too long");
        files.Close(false, "");
        control.progressPercent = 0;
        HideProgress();
        return;
    }

    // Every way out from here: close the output, hide the progress.
    auto finish = [&](bool complete) {
        files.Close(complete, sideFile);
        if (complete) {
            if (cs.outputIsAvi) {
                ShowGuidePageAfterProcessing(3);
            } else {
                ShowGuidePage(3);
            }
        }
        if (qtSource) {
            HideFramePreview();
        }
        control.progressPercent = 0;
        HideProgress();
    };

    if (!cs.outputIsAvi) {
        char pascal[256];
        lc::CopyText(pascal, outputPath);
        CToPascalString(pascal);
        FSSpec spec;
        FSMakeFSSpec(0, 0, reinterpret_cast<const unsigned char *>(pascal), &spec);
        OSErr err = CreateMovieFile(&spec, 0x54564f44 /* 'TVOD' */, smCurrentScript,
                                    createMovieFileDeleteCurFile, &files.fileRef, &files.movie);
        files.fileOpen = err == noErr;
        cs.outputCreated = files.fileOpen;
        if (CheckQtError(err, "CreateMovieFile Error\rDirectory with source movie must be "
                              "writable")) {
            finish(false);
            return;
        }
    }

    // 6. Time base: the source's sample duration, measured over every sample of a movie.
    if (qtSource && !aviFile) {
        TimeValue t = TrackTimeToMediaTime(FirstVideoSampleTime(movie), videoTrack);
        cs.firstSampleTime = t;
        TimeValue shortest = 1000000, longest = 0;
        int shortCount = 0, longCount = 0, n = 1;
        for (TimeValue u = NextTrackSampleTime(videoMedia, t); u >= 1;
             u = NextTrackSampleTime(videoMedia, t)) {
            TimeValue d = u - t;
            shortest = d < shortest ? d : shortest;
            longest = d > longest ? d : longest;
            // The first interval counts toward both; the counts are never reset.
            shortCount += d == shortest;
            longCount += d == longest;
            t = u;
            ++n;
        }
        cs.sourceFrameCount = n;
        if (shortest > 100000 || shortest < 1) {
            ShowError("Unexpected values for sample duration");
            finish(false);
            return;
        }
        cs.sourceSampleDuration = longCount > shortCount ? longest : shortest;
        // The passes read a frame each sample duration: a sample that lasts longer (the frame
        // before a gap of dropped frames, a held last frame) is read again for each duration it
        // covers, so the frames counted are those durations (to the nearest) up to the end of the
        // media, and the picture lasts as long as the movie and its sound.
        const int64_t d = cs.sourceSampleDuration;
        const int64_t durations =
            (int64_t(GetMediaDuration(videoMedia)) - cs.firstSampleTime + d / 2) / d;
        cs.sourceFrameCount = int32_t(std::clamp<int64_t>(durations, n, INT32_MAX));
    } else {
        cs.firstSampleTime = 0;
        cs.sourceSampleDuration = int32_t(gSourceTiming.scale);
    }
    cs.sampleDuration = 100;
    cs.timeScale = ntscFamily ? 2500 : 2997;
    if (!cs.outputIsAvi) {
        SetMovieTimeScale(files.movie, cs.timeScale);
    }

    // 7. Expected output frames, from the counted source frames (the decoder's pictures).
    if (mpegSource) {
        cs.sourceFrameCount = gMpegDecoderControl.pictureCount;
    }
    const int64_t m = cs.sourceFrameCount;
    const uint32_t frames = uint32_t(ntscFamily ? 4 * m / 5 : 2997 * m / 2500);
    gSourceTiming.rate = ntscFamily ? 2500 : 2997;
    gSourceTiming.scale = 100;

    // 8. Sound: a movie's own track is armed for copying; AVI files bring theirs through the
    // reader.
    // MPEG-2 streams bring 48 kHz sound from the decoder or from "temp.aiff".
    cs.soundMediaRate = soundTrack || soundMark || mpegSource ? 48000 : 0;
    if (qtSource && !aviFile && soundTrack) {
        // The sound plays from where the video's first shown sample plays, through its edits.
        if (!UsePlayedSound(&soundTrack, std::max<TimeValue>(0, FirstVideoSampleTime(movie)))) {
            finish(false);
            return;
        }
        BeginAviSoundFromQuickTime(files.movie, movie, soundTrack);
    }
    if (mpegSource) {
        PrepareMpegSound(*this, folder, files.movie, &files.soundMovie, &soundTrack, &soundMark);
    }
    const bool hasSound = soundTrack || soundMark;

    bool produce = true;
    // 9. AVI output.
    if (cs.outputIsAvi) {
        const int outWidth = gAviReadState.frameWidth;
        const int outHeight = gAviReadState.frameHeight;
        int begun = 0;
        if (options.userSelectsCompression) {
            begun = BeginAviVideoCompression(outputPath, frames, gSourceTiming.scale,
                                             gSourceTiming.rate);
            if (!begun) {
                if (!control.errorShown) {
                    ShowError("User aborted processing.");
                }
                produce = false;
            } else {
                cs.dvAviOutput = 0;
            }
        } else if (outWidth == 720 && (outHeight == 576 || outHeight == 480)) {
            cs.dvAviOutput = 1;
            cs.uncompressedOutput = 0;
            cs.outputCodec = outHeight == 576 ? kCodecDvPal : kCodecDvNtsc;
            begun = AviBeginDV(outputPath, frames, outHeight == 576 ? 1 : 0);
            if (!begun) {
                finish(false);
                return;
            }
        } else {
            cs.dvAviOutput = 0;
            cs.uncompressedOutput = 1;
            begun = AviBeginRGB(outputPath, frames, gSourceTiming.rate, gSourceTiming.scale,
                                outHeight, outWidth);
            if (!begun) {
                finish(false);
                return;
            }
        }
        files.aviOpen = begun != 0;
        cs.outputCreated = cs.outputCreated || files.aviOpen;
        if (mpegSource) {
            SetMpegOutputTarget();
        }
    }

    // 10. The current frame preview for QuickTime sources.
    if (qtSource) {
        ShowFramePreview();
    }

    // 11. A stop (the compression dialog) ends here with the output closed.
    if (control.stopRequested) {
        produce = false;
    }
    // 12. Output sound track, the frame store.
    if (produce) {
        if (hasSound && !cs.outputIsAvi) {
            if (!BeginSoundTrack(files.movie, mpegSource ? files.soundMovie : movie, soundTrack,
                                 soundMark)) {
                finish(false);
                return;
            }
            files.soundBegun = true;
        }
        if (!AllocateFrameStore()) {
            finish(false);
            return;
        }
        ReportProgress("Processing frames...", 1);
        // 13. The video.
        if (mpegSource) {
            MakeMpegVideo(files.movie, width, height);
        } else {
            MakeVideoTrack(files.movie, videoMedia, width, height);
        }
    }
    // 14, 15. Close the sound track and finish the output (an MPEG-2 stage has closed its AVI
    // at the end of the last pass; a run stopped before it is closed here).
    finish(true);
}

int CMovieWindow::MakeVideoTrack(Movie outputMovie, Media sourceMedia, int width, int height)
{
    ConversionState &cs = gConversionState;
    Track track = nullptr;
    Media media = nullptr;
    // 1. The output video track (QuickTime output).
    if (!cs.outputIsAvi) {
        int trackHeight = height;
        if (cs.ntscSd) {
            trackHeight = 576;
        } else if (cs.palSd) {
            trackHeight = cs.ntscOutputHeight;
        }
        track = NewMovieTrack(outputMovie, FixRatio(int16_t(width), 1),
                              FixRatio(int16_t(trackHeight), 1), 0);
        if (CheckQtError(GetMoviesError(), "NewMovieTrack Error")) {
            return 0;
        }
        media = NewTrackMedia(track, VideoMediaType, cs.timeScale, nullptr, 0);
        if (CheckQtError(GetMoviesError(), "NewTrackMedia Error")) {
            return 0;
        }
        if (CheckQtError(BeginMediaEdits(media), "BeginMediaEdits Error")) {
            return 0;
        }
    }
    // 2. The pass of the source's family.
    const Rect frame{0, 0, int16_t(height), int16_t(width)};
    int ok = cs.sourceIsPal ? ProcessFramesPalToNtsc(media, track, sourceMedia, &frame)
                            : ProcessFramesTo25p(media, track, sourceMedia, &frame);
    if (!ok) {
        // The edits are closed so the movie can still be closed in order.
        if (media) {
            EndMediaEdits(media);
        }
        return 0;
    }
    // 3. The media goes into the track.
    if (!cs.outputIsAvi) {
        if (CheckQtError(EndMediaEdits(media), "EndMediaEdits Error")) {
            return 0;
        }
        TimeValue duration = GetMediaDuration(media);
        lc::CopyText(gProcessControl.progressText, "Inserting video track...");
        gProcessControl.progressPercent = 25;
        if (CheckQtError(InsertMediaIntoTrack(track, 0, 0, duration, FixedOne),
                         "InsertMediaIntoTrack Error\rOut of Memory?")) {
            return 0;
        }
        SetTrackLoadSettings(track, 0, 0, 0, 256);
        if (gMxfClipState.sourceTimecodeFound) {
            AddTimecodeTrack(outputMovie, VideoMediaType);
        }
    }
    return 1;
}
