#include "passes/process_thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/conversion_options.h"
#include "engine/pulldown.h"
#include "formats/avi_reader.h"
#include "formats/source_timing.h"
#include "passes/conversion_state.h"
#include "passes/lower_hooks.h"
#include "passes/movie_window.h"
#include "passes/process_control.h"
#include "passes/process_movie.h"
#include "passes/source_kind.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/media/movies.h"
#include "platform/sys/clock.h"
#include "platform/sys/file.h"
#include "platform/sys/path.h"
#include "platform/sys/text.h"
#include "platform/sys/thread.h"
#include "platform/ui/message_box.h"

namespace {

constexpr size_t kStackBytes = size_t(8) << 20;
constexpr size_t kMaxBatchLines = 100; // later lines are ignored
constexpr size_t kPathBytes = 256;     // every path buffer of the run
constexpr size_t kMaxNameLength = 254; // longer batch names are refused

lc::Thread gThread;
std::atomic<int> gThreadActive{0};

// One line of the batch text: its start and its length up to "\r", "\n" or the end.
struct BatchLine
{
    const char *start;
    size_t length;
};

// A line starts at the text's start and after every "\n"; at most kMaxBatchLines are taken.
std::vector<BatchLine> SplitBatchLines(const char *text)
{
    std::vector<BatchLine> lines;
    if (!text[0]) {
        return lines;
    }
    const char *p = text;
    while (lines.size() < kMaxBatchLines) {
        size_t n = std::strcspn(p, "\r\n");
        lines.push_back({p, n});
        const char *next = std::strchr(p + n, '\n');
        if (!next) {
            break;
        }
        p = next + 1;
    }
    return lines;
}

void CallHook(void (*hook)())
{
    if (hook) {
        hook();
    }
}

// Shows that a path built for an item does not fit its buffer; the item is refused.
void RefuseLongPath(const char *what)
{
    char text[kPathBytes];
    lc::FormatText(text, sizeof text, "Path is too long:\n%s", what);
    ShowError(text);
}

// How long the decoder may look for the first sequence header of a stream just opened.
constexpr uint32_t kSequenceWaitMs = 30000;

// Waits until the decoder has read the opened stream's first sequence header, which gives its
// frame rate: 1 read, 0 the user stopped, -1 none (the decoder stopped without one; the movie's
// processing refuses the stream), -2 not in time.
int WaitForMpegSequence()
{
    if (!gLowerHooks.mpegSequenceKnown) {
        return 1;
    }
    // The decoder wakes waiters when it has read the header or stopped; Stop wakes them too.
    int known = 0;
    const bool ended = lc::WaitUntil(
        [&known] {
            known = gLowerHooks.mpegSequenceKnown();
            return known != 0 || gProcessControl.stopRequested;
        },
        kSequenceWaitMs);
    if (known != 0) {
        return known;
    }
    return ended ? 0 : -2;
}

// Nearest integer of scale / duration, as the MPEG-2 rate is rounded.
int32_t RoundedRate(int64_t scale, int64_t duration)
{
    return int32_t((scale + duration / 2) / duration);
}

// The video frame duration in the video media's own units, which a movie's coarser scale (1000
// is common) would round: 29.97 frames/s would look like 30.3. The most common of the first
// intervals, the shortest of equals, so one odd frame does not decide. Unchanged when the movie
// has no two video samples; duration 0 (no rate) for durations the processing refuses with its
// own message.
void FrameDurationInMediaUnits(Movie m, int64_t *scale, int64_t *duration)
{
    constexpr int kIntervals = 16;
    Track video = GetMovieIndTrackType(m, 1, VisualMediaCharacteristic, movieTrackCharacteristic);
    Media media = GetTrackMedia(video);
    TimeValue t = TrackTimeToMediaTime(std::max<TimeValue>(0, FirstVideoSampleTime(m)), video);
    std::map<TimeValue, int> votes;
    for (int i = 0; i < kIntervals && t >= 0; ++i) {
        TimeValue next = NextTrackSampleTime(media, t);
        if (next <= t) {
            break;
        }
        votes[next - t]++;
        t = next;
    }
    TimeValue best = 0;
    int count = 0;
    for (const auto &[d, n] : votes) {
        if (n > count) {
            best = d;
            count = n;
        }
    }
    if (count > 0) {
        *scale = GetMediaTimeScale(media);
        *duration = best <= 100000 ? best : 0;
    }
}

// Whether the passes can convert a source of this rate, and if so the length of its frames for
// the sound (1/30000 s units): the PAL pass takes 25 frames/s, the 25P pass 29.97 (1001) and
// 30 (1000) frames/s. A rate within 0.05% counts (time scales round them).
bool SetSourceRate(double rate, ConversionState &state)
{
    auto near = [rate](double r) { return std::fabs(rate - r) <= r * 0.0005; };
    if (near(25.0)) {
        state.ntscFrameUnits = kNtscFrameUnits2997;
        return true;
    }
    if (near(30000.0 / 1001.0)) {
        state.ntscFrameUnits = kNtscFrameUnits2997;
        return true;
    }
    if (near(30.0)) {
        state.ntscFrameUnits = kNtscFrameUnits30;
        return true;
    }
    return false;
}

// A rate as people write it: 23.976, 50, 59.94.
std::string RateText(double rate)
{
    char text[32];
    lc::FormatText(text, sizeof text, "%.3f", rate);
    std::string s = text;
    while (s.back() == '0') {
        s.pop_back();
    }
    if (s.back() == '.') {
        s.pop_back();
    }
    return s;
}

} // namespace

unsigned ProcessThreadProc(void *)
{
    if (!gMovieWindow) {
        return 0;
    }
    ProcessControl &control = gProcessControl;
    ConversionOptions &options = gConversionOptions;
    ConversionState &state = gConversionState;
    CMovieWindow &movie = *gMovieWindow;

    // No player may read the source while it is processed. An MPEG-2 stream opened a moment
    // ago first lets its decoder read the sequence header, which gives its frame rate.
    if (control.batchRunning == 0 && gSourceKind.isMpeg) {
        control.stopRequested = 0; // a stop of an earlier run does not end this wait
        (void)WaitForMpegSequence();
    }
    // A preview the open started may still be decoding: it ends without the player's box, which
    // is for a stream being loaded or closed, not for a run the user started.
    CallHook(gLowerHooks.endMpegDecoding);
    StopAviPlayback();
    control.running = 1;

    // Items: the lines of the batch text, or the one open movie. The text is copied so that
    // edits of the list during the run cannot reach the loop.
    const bool batch = control.batchRunning != 0;
    std::string batchText(gUiState.batchText,
                          strnlen(gUiState.batchText, sizeof gUiState.batchText));
    std::vector<BatchLine> lines = SplitBatchLines(batchText.c_str());
    const size_t itemCount = batch ? lines.size() : 1;

    control.errorShown = 0;
    control.stopRequested = 0;
    char lastTarget[kPathBytes] = {}; // also tells whether any item reached its target name
    bool reopen = false;              // a result was handed to the timer
    state.uncompressedOutput = 0;
    StartProcessingRun();
    // Each item is judged by its own errors (errorShown is cleared before it); the run's final
    // message by all of them.
    bool runHadErrors = false;
    // A batch shows no warnings, so an item refused with one must still keep the batch from
    // ending "completed OK": it made no result.
    bool itemRefused = false;

    for (size_t item = 0; item < itemCount; ++item) {
        runHadErrors = runHadErrors || control.errorShown;
        control.errorShown = 0;
        // 1. Source name: the batch line, or the open movie's path.
        char name[kPathBytes] = {};
        if (batch) {
            const BatchLine &line = lines[item];
            if (line.length == 0) {
                continue; // an empty line (or the list's trailing line break) is no item
            }
            state.batchItemIndex = int32_t(item + 1);
            if (line.length > kMaxNameLength) {
                RefuseLongPath(std::string(line.start, line.length).c_str());
                continue;
            }
            std::memcpy(name, line.start, line.length);
            // A stream refused after its open may still be decoding its preview: it ends as
            // quietly as at the start of the run.
            CallHook(gLowerHooks.endMpegDecoding);
            if (!movie.OpenMovie(name)) {
                continue;
            }
        } else {
            state.batchItemIndex = 0;
            lc::CopyText(name, movie.GetMoviePath());
            if (!gSourceKind.AnyOpen() && !movie.OpenMovie(name)) {
                continue;
            }
        }

        // 2. Name parts: the folder end and the start of the file name's extension.
        const std::ptrdiff_t folderEnd = lc::FolderEnd(name);
        const std::ptrdiff_t extStart = lc::ExtensionStart(name);
        const char *fileName = name + folderEnd + 1;
        const std::string stem(fileName, size_t(extStart - (folderEnd + 1)));

        // 3. The base name that the MPEG-2 sound writers use.
        std::string baseName = options.userSelectsOutputFolder
                                   ? std::string(options.outputFolder) + "/" + stem
                                   : std::string(name, size_t(extStart));
        if (!lc::CopyText(state.outputBaseName, baseName.c_str())) {
            RefuseLongPath(baseName.c_str());
            continue;
        }

        // 4. Refusals of YUV processing.
        if (options.useYuvProcessing && gAviReadState.isUncompressed) {
            ShowWarning("YUV processing (in Advanced Options) cannot be used with\n"
                        "uncompressed AVI source movie");
            itemRefused = true;
            continue;
        }
        if (options.useYuvProcessing && gSourceKind.isAvi && gSourceKind.viaAviPlayer) {
            ShowWarning("YUV processing (in Advanced Options) not supported\n"
                        "with VfW-compressed AVI's");
            itemRefused = true;
            continue;
        }

        // 5. Frame rate to the nearest integer: from the stream for MPEG-2 sources, from the
        // open's ratio for the others (a 29.97 source must count as 30, not 29).
        const bool viaReader = gSourceKind.viaQuickTime || gSourceKind.viaAviPlayer;
        double sourceRate = 0; // frames/s; 0 when the open could not tell
        if (!viaReader) {
            // The decoder thread reads the stream's sequence header, and its rate, after the
            // open returned.
            const int known = WaitForMpegSequence();
            if (known == 0) {
                AfxMessageBox("Processing aborted", MB_OK);
                break;
            }
            if (known == -2) {
                ShowError("No MPEG-2 video sequence found in the stream");
                continue;
            }
            sourceRate = gLowerHooks.mpegFrameRate ? gLowerHooks.mpegFrameRate() : 0.0;
            state.frameRate = int32_t(sourceRate + 0.5);
        } else {
            // The own AVI reader keeps the file's rate and scale; the media-layer open stores
            // its ratio beside frameRate.
            int64_t scale = state.frameRateScale, duration = state.frameRateDuration;
            if (gSourceKind.viaAviPlayer && gSourceTiming.scale != 0) {
                scale = gSourceTiming.rate;
                duration = gSourceTiming.scale;
            } else if (gSourceKind.viaQuickTime) {
                FrameDurationInMediaUnits(movie.movie, &scale, &duration);
            }
            if (duration > 0) {
                state.frameRate = RoundedRate(scale, duration);
                sourceRate = double(scale) / double(duration);
            }
        }

        // 6. MXF clips are for viewing only.
        if (gSourceKind.isMxf) {
            ShowWarning("Halvorne does not support .mxf files");
            itemRefused = true;
            continue;
        }

        // The passes keep picture and sound together at three rates only; any other would come
        // out at the wrong speed or with its sound drifting away.
        if (sourceRate > 0 && !SetSourceRate(sourceRate, state)) {
            char text[kPathBytes];
            lc::FormatText(text, sizeof text,
                           "The movie runs at %s frames/s and cannot be converted:\n"
                           "only 25, 29.97 and 30 frames/s movies can be processed.",
                           RateText(sourceRate).c_str());
            ShowError(text);
            continue;
        }

        // 7. Source family and output height; processing never resizes.
        options.resizeOn = 0;
        state.sourceIsPal = state.frameRate == 25;
        state.sourceIsNtsc = !state.sourceIsPal;
        state.ntscSd = state.sourceIsNtsc;
        state.palSd = state.sourceIsPal;
        state.ntscOutputHeight = options.output486Lines ? 486 : 480;

        // 8. Without a 25P mode, plain 60i to 25P conversion.
        if (!options.pulldown2332To25P && !options.pulldown32To25P && !options.convert60iTo25P) {
            options.convert60iTo25P = 1;
        }

        // 9. Passes: two for the two-pass pulldown analysis of 30 frames/s sources.
        control.passesLeft = 1;
        ResetPulldownScores();
        if (state.frameRate == 30 && options.twoPassPulldownRemoval
            && (options.pulldown2332To25P || options.pulldown32To25P)) {
            control.passesLeft = 2;
        }

        // 10. Output container.
        state.outputIsAvi = !options.alwaysMakeQuickTime;
        state.dvAviOutput = state.outputIsAvi && !options.userSelectsCompression;

        // 11. Process the movie.
        state.outputCreated = 0;
        movie.ProcessMovie();

        // 16. Temporary output path.
        std::string tempPath = options.userSelectsOutputFolder
                                   ? std::string(options.outputFolder) + "/"
                                   : std::string(movie.movieFolder);
        tempPath += state.outputIsAvi ? "newmovie.avi" : "newmovie.mov";

        // 12. A stop ends the loop, even after an item that ended with an error.
        if (control.stopRequested) {
            AfxMessageBox("Processing aborted", MB_OK);
            break;
        }
        // 13. An item with an error gets no message of its own. In a batch its incomplete output
        // goes, so nothing of it is taken for a result or moved by a later item.
        if (control.errorShown) {
            if (batch && state.outputCreated && !lc::SameFile(tempPath.c_str(), name)) {
                lc::DeletePath(tempPath.c_str());
            }
            continue;
        }

        // 14. Single run: the outcome.
        if (!batch) {
            AfxMessageBox("Processing completed OK", MB_OK);
        }

        // 15. The movie shown next is the result.
        gSourceKind.isAvi = state.outputIsAvi;

        if (tempPath.size() >= kPathBytes) {
            RefuseLongPath(tempPath.c_str());
            continue;
        }

        // 17. Single run: the timer reopens the result under its temporary name.
        if (!batch) {
            reopen = RequestReopen(tempPath.c_str());
            continue;
        }

        // 18. Batch target: the source's folder (or the output folder), "NEW" for sources whose
        // name would otherwise be kept, the source's file name with the output's extension.
        std::string target;
        if (options.userSelectsOutputFolder) {
            size_t n = folderEnd > 0 ? size_t(folderEnd) : 0;
            bool sameStart = std::strncmp(options.outputFolder, name, n) == 0;
            target = options.outputFolder;
            target += sameStart && viaReader ? "/NEW" : "/";
        } else {
            target.assign(name, size_t(folderEnd + 1));
            if (viaReader) {
                target += "NEW";
            }
        }
        target += fileName;
        target = lc::ReplaceExtension(target.c_str(), state.outputIsAvi ? "avi" : "mov");
        if (target.size() >= kPathBytes) {
            RefuseLongPath(target.c_str());
            continue;
        }

        // 19. Move the result to its target, replacing an older one, never over the source.
        char text[kPathBytes];
        if (lc::SameFile(target.c_str(), name)) {
            lc::FormatText(text, sizeof text,
                           "The batch target is the source movie:\n%s\nThe result stays in %s",
                           target.c_str(), tempPath.c_str());
            ShowError(text);
            continue;
        }
        if (!lc::RenameReplacing(tempPath.c_str(), target.c_str())) {
            lc::FormatText(text, sizeof text,
                           "Could not rename %s to %s\nVolume is read-only or file may be in "
                           "use\nby another application",
                           tempPath.c_str(), target.c_str());
            ShowError(text);
            continue;
        }
        lc::CopyText(lastTarget, target.c_str());
    }

    // End of the run: the batch outcome, and what the timer opens. errorShown tells again whether
    // any item of the run showed an error.
    runHadErrors = runHadErrors || control.errorShown;
    control.errorShown = runHadErrors ? 1 : 0;
    if (batch) {
        if (runHadErrors) {
            AfxMessageBox("Batch processing completed with errors", MB_OK);
        } else if (control.stopRequested) {
            AfxMessageBox("Batch processing aborted by user", MB_OK);
        } else if (!lastTarget[0]) {
            AfxMessageBox("Nothing to process - batch empty", MB_OK);
        } else if (itemRefused) {
            AfxMessageBox("Batch processing completed with errors", MB_OK);
        } else {
            AfxMessageBox("Batch processing completed OK", MB_OK);
            reopen = RequestReopen(lastTarget);
        }
        control.batchRunning = 0;
    }
    ShowGuidePage(5);
    control.running = 0;

    // Nothing to reopen: refit the window of the movie still shown.
    if (!reopen) {
        if (!gSourceKind.viaQuickTime && !gSourceKind.viaAviPlayer) {
            CallHook(gLowerHooks.fitVideoWindow);
        }
        if (gSourceKind.isAvi && gSourceKind.viaAviPlayer) {
            ResizePlaybackWindow();
        }
    }
    return 0;
}

bool StartProcessThread()
{
    if (!gMovieWindow) {
        return false;
    }
    int idle = 0;
    if (!gThreadActive.compare_exchange_strong(idle, 1)) {
        return false;
    }
    gThread.Join(); // the previous run has returned; reap it
    bool started = gThread.Start(
        [] {
            ProcessThreadProc(nullptr);
            gThreadActive.store(0, std::memory_order_release);
            if (gUiHooks.processingThreadEnded) {
                gUiHooks.processingThreadEnded();
            }
        },
        kStackBytes);
    if (!started) {
        gThreadActive = 0;
    }
    return started;
}

bool ProcessThreadActive()
{
    return gThreadActive.load(std::memory_order_acquire) != 0;
}

void WaitForProcessThread(void (*pump)())
{
    while (ProcessThreadActive()) {
        if (pump) {
            pump();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    gThread.Join();
}
