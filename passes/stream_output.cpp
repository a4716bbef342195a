#include "passes/stream_output.h"

#include <cstdio>

#include "engine/frame_store.h"
#include "engine/pixel_formats.h"
#include "formats/avi_writer.h"
#include "passes/conversion_state.h"
#include "passes/process_control.h"
#include "platform/media/movies.h"
#include "platform/media/standard_compression.h"
#include "platform/sys/text.h"
#include "platform/sys/worker_pool.h"

OutputPicture gOutputPicture;

namespace {

constexpr const char *kMemoryText =
    "Could not allocate memory\nPossible problem: system fault or memory limitation.";
constexpr OSType kPalDvCodec = 0x64766370;  // 'dvcp'
constexpr OSType kNtscDvCodec = 0x64766320; // 'dvc '

// Steps 1 to 4 of both set-ups. A picture left by an earlier movie whose set-up failed is freed
// first, so set-ups never leak one.
int SetUpOutputPicture(int outputWidth, int outputHeight, int frameWidth, int frameHeight)
{
    OutputPicture &p = gOutputPicture;
    DisposeGWorld(p.gworld);
    p.gworld = nullptr;
    p.pixMap = nullptr;
    p.pixelBase = nullptr;
    // 1: a 24-bit offscreen picture of the output size.
    p.bounds = Rect{0, 0, static_cast<int16_t>(outputHeight), static_cast<int16_t>(outputWidth)};
    const QDErr err = NewGWorld(&p.gworld, 24, &p.bounds, nullptr, nullptr, 0);
    if (err != 0 || p.gworld == nullptr) {
        CheckQtError(err != 0 ? err : int(memFullErr),
                     "NewGWorld Error\rDisplay depth not 24 bits minimum\nOr out of memory");
        p.gworld = nullptr;
        return 0;
    }
    // 2: the frame store works in RGB.
    UseRgbFrames();
    // 3: its pixels, locked until the end.
    p.pixMap = GetGWorldPixMap(p.gworld);
    LockPixels(p.pixMap);
    p.pixelBase = reinterpret_cast<uint8_t *>(GetPixBaseAddr(p.pixMap));
    // 4: the frame size for the kernels (shows its own message).
    return ValidateFrameSize(frameHeight, frameWidth, frameWidth * 3) ? 1 : 0;
}

// The frame goes top-down R, G, B into the picture; false when it is larger than the picture.
bool CopyFrameToPicture(const uint8_t *frame, int width, int rows)
{
    const OutputPicture &p = gOutputPicture;
    if (p.pixelBase == nullptr || frame == nullptr || width < 1 || rows < 1
        || width > p.bounds.right || rows > p.bounds.bottom) {
        return false;
    }
    CopyFlipSwapRgb(p.pixelBase, frame, rows, width, 3);
    return true;
}

// The group begun last: its compressions behind the decoder thread, their results.
struct DvFrameGroup
{
    lc::WorkerPool::Background compression;
    int count = 0;
    int rows = 0;
    bool fits[kGroupPictures] = {};
    OSErr err[kGroupPictures] = {};
};
// Never destroyed: the shared worker pool may be gone by the time statics are.
DvFrameGroup &TheDvGroup()
{
    static auto *group = new DvFrameGroup;
    return *group;
}

void DisposeOutputPicture()
{
    OutputPicture &p = gOutputPicture;
    // A group still in flight (a run that ended without writing it) works on these pictures.
    if (TheDvGroup().compression.Started()) {
        lc::SharedWorkerPool().Finish(TheDvGroup().compression);
        TheDvGroup().count = 0;
    }
    DisposeGWorld(p.gworld);
    p.gworld = nullptr;
    p.pixMap = nullptr;
    p.pixelBase = nullptr;
    for (int k = 0; k < kGroupPictures; k++) {
        DisposeGWorld(p.groupWorld[k]);
        p.groupWorld[k] = nullptr;
        DisposeHandle(p.groupBuffer[k]);
        p.groupBuffer[k] = nullptr;
        DisposeHandle(reinterpret_cast<Handle>(p.groupDescription[k]));
        p.groupDescription[k] = nullptr;
    }
}

// The pictures and buffers of the first count frames of a group; false when one cannot be made.
bool MakeGroupPictures(int count)
{
    OutputPicture &p = gOutputPicture;
    for (int k = 0; k < count; k++) {
        if (!p.groupWorld[k]) {
            if (NewGWorld(&p.groupWorld[k], 24, &p.bounds, nullptr, nullptr, 0) != 0) {
                p.groupWorld[k] = nullptr;
            } else if (p.groupWorld[k]) {
                LockPixels(GetGWorldPixMap(p.groupWorld[k]));
            }
        }
        if (!p.groupBuffer[k] && (p.groupBuffer[k] = NewHandle(kDvBufferBytes))) {
            HLock(p.groupBuffer[k]);
        }
        if (!p.groupDescription[k]) {
            p.groupDescription[k] = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
        }
        if (!p.groupWorld[k] || !p.groupBuffer[k] || !p.groupDescription[k]) {
            return false;
        }
    }
    return true;
}

OSType DvCodecFor(int rows)
{
    return rows == 576 ? kPalDvCodec : kNtscDvCodec;
}

} // namespace

int BeginOutputVideoTrack(Movie outputMovie, int outputWidth, int outputHeight, int frameWidth,
                          int frameHeight)
{
    OutputPicture &p = gOutputPicture;
    p.videoTrack = nullptr; // a track of an earlier movie is not this one's
    p.videoMedia = nullptr;
    p.videoDuration = 0;
    if (!SetUpOutputPicture(outputWidth, outputHeight, frameWidth, frameHeight)) {
        return 0;
    }
    // 5: the track of the output size.
    p.videoTrack = NewMovieTrack(outputMovie, FixRatio(static_cast<int16_t>(outputWidth), 1),
                                 FixRatio(static_cast<int16_t>(outputHeight), 1), 0);
    if (CheckQtError(p.videoTrack ? 0 : GetMoviesError(), "NewMovieTrack Error")
        || p.videoTrack == nullptr) {
        return 0;
    }
    // 6: its video media at the output time scale.
    p.videoMedia =
        NewTrackMedia(p.videoTrack, VideoMediaType, gConversionState.timeScale, nullptr, 0);
    if (CheckQtError(p.videoMedia ? 0 : GetMoviesError(), "NewTrackMedia Error")
        || p.videoMedia == nullptr) {
        return 0;
    }
    // 7: samples may be added from here on.
    return CheckQtError(BeginMediaEdits(p.videoMedia), "BeginMediaEdits Error") ? 0 : 1;
}

int AllocOutputGWorld(int outputWidth, int outputHeight, int frameWidth, int frameHeight)
{
    OutputPicture &p = gOutputPicture;
    if (!SetUpOutputPicture(outputWidth, outputHeight, frameWidth, frameHeight)) {
        return 0;
    }
    // 5: the DV frame buffer, locked for the whole run.
    DisposeHandle(p.dvBuffer);
    p.dvData = nullptr;
    p.dvBuffer = NewHandle(kDvBufferBytes);
    if (CheckQtError(p.dvBuffer ? MemError() : int(memFullErr), kMemoryText)
        || p.dvBuffer == nullptr) {
        p.dvBuffer = nullptr;
        return 0;
    }
    HUnlock(p.dvBuffer);
    HLock(p.dvBuffer);
    p.dvData = reinterpret_cast<uint8_t *>(*p.dvBuffer);
    // 6: the description CompressImage fills.
    DisposeHandle(reinterpret_cast<Handle>(p.dvDescription));
    p.dvDescription = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
    if (CheckQtError(p.dvDescription ? MemError() : int(memFullErr), kMemoryText)
        || p.dvDescription == nullptr) {
        return 0;
    }
    return 1;
}

int AddCompressedFrame(const uint8_t *frame, int width, int rows)
{
    OutputPicture &p = gOutputPicture;
    // 1: the bottom-up B, G, R frame becomes the top-down R, G, B picture.
    if (!CopyFrameToPicture(frame, width, rows)) {
        return 0;
    }
    // 2: the user's compression settings. A failure leaves no handles to add.
    ImageDescriptionHandle description = nullptr;
    Handle data = nullptr;
    const ComponentResult compressed =
        SCCompressImage(gConversionState.stdCompressor, p.pixMap, nullptr, &description, &data);
    if (compressed != 0 || description == nullptr || data == nullptr) {
        CheckQtError(compressed != 0 ? static_cast<int>(compressed) : int(paramErr),
                     "SCCompressImage Error");
        DisposeHandle(data);
        DisposeHandle(reinterpret_cast<Handle>(description));
        return 0;
    }
    // 3: one sample of the output frame duration.
    const OSErr added = AddMediaSample(
        p.videoMedia, data, 0, (*description)->dataSize, gConversionState.sampleDuration,
        reinterpret_cast<SampleDescriptionHandle>(description), 1, 0, nullptr);
    // 4: the handles are the caller's.
    DisposeHandle(data);
    DisposeHandle(reinterpret_cast<Handle>(description));
    if (added != 0) {
        char text[64];
        lc::FormatText(text, sizeof text, "AddMediaSample Error %d\rOut of disk space?", added);
        CheckQtError(added, text);
        return 0;
    }
    return 1;
}

int CompressDvFrameToAvi(const uint8_t *frame, int width, int rows)
{
    OutputPicture &p = gOutputPicture;
    // 1: into the picture.
    if (p.dvData == nullptr || p.dvDescription == nullptr
        || !CopyFrameToPicture(frame, width, rows)) {
        return 0;
    }
    // 2: one DV frame, PAL for 576 rows. A failed compression writes nothing: the buffer would
    // hold the previous frame or nothing at all.
    const OSErr err = CompressImage(p.pixMap, &p.bounds, codecMaxQuality, DvCodecFor(rows),
                                    p.dvDescription, reinterpret_cast<Ptr>(p.dvData));
    const int32_t size = err == 0 ? (*p.dvDescription)->dataSize : 0;
    if (err != 0 || size <= 0 || size > kDvBufferBytes) {
        CheckQtError(err != 0 ? err : int(paramErr), "CompressImage Error");
        return 0;
    }
    // 3: the frame chunk.
    AviWriteVideoFrame(p.dvData, static_cast<uint32_t>(size));
    return 1;
}

void BeginDvFrameGroup(const uint8_t *const *frames, int count, int width, int rows)
{
    OutputPicture &p = gOutputPicture;
    EndDvFrameGroup();
    if (count > kGroupPictures || p.dvData == nullptr || !MakeGroupPictures(count)) {
        for (int k = 0; k < count && !gProcessControl.errorShown; k++) {
            CompressDvFrameToAvi(frames[k], width, rows);
        }
        return;
    }
    // Into the pictures now: the frame store's slots take the next pictures.
    DvFrameGroup &g = TheDvGroup();
    g.count = count;
    g.rows = rows;
    const bool fits = width >= 1 && rows >= 1 && width <= p.bounds.right && rows <= p.bounds.bottom;
    lc::SharedWorkerPool().Run(count, [&](int k) {
        g.fits[k] = fits && frames[k] != nullptr;
        g.err[k] = 0;
        if (g.fits[k]) {
            CopyFlipSwapRgb(
                reinterpret_cast<uint8_t *>(GetPixBaseAddr(GetGWorldPixMap(p.groupWorld[k]))),
                frames[k], rows, width, 3);
        }
    });
    // Runs after this returns: it reaches the records by their names, not through this call's
    // references.
    lc::SharedWorkerPool().Start(g.compression, count, [](int k) {
        const OutputPicture &out = gOutputPicture;
        DvFrameGroup &group = TheDvGroup();
        if (group.fits[k]) {
            group.err[k] =
                CompressImage(GetGWorldPixMap(out.groupWorld[k]), &out.bounds, codecMaxQuality,
                              DvCodecFor(group.rows), out.groupDescription[k], *out.groupBuffer[k]);
        }
    });
}

void EndDvFrameGroup()
{
    OutputPicture &p = gOutputPicture;
    DvFrameGroup &g = TheDvGroup();
    if (!g.compression.Started()) {
        return;
    }
    lc::SharedWorkerPool().Finish(g.compression);
    // In order; the first failure is shown and ends the movie: nothing after it is written.
    for (int k = 0; k < g.count; k++) {
        if (!g.fits[k]) {
            continue;
        }
        const int32_t size = g.err[k] == 0 ? (*p.groupDescription[k])->dataSize : 0;
        if (g.err[k] != 0 || size <= 0 || size > kDvBufferBytes) {
            CheckQtError(g.err[k] != 0 ? g.err[k] : int(paramErr), "CompressImage Error");
            break;
        }
        AviWriteVideoFrame(reinterpret_cast<uint8_t *>(*p.groupBuffer[k]),
                           static_cast<uint32_t>(size));
    }
    g.count = 0;
}

int EndOutputVideoTrack()
{
    OutputPicture &p = gOutputPicture;
    // 1: no more samples.
    if (CheckQtError(EndMediaEdits(p.videoMedia), "EndMediaEdits Error")) {
        return 0;
    }
    // 2: the media's duration, and the progress text for the next update.
    p.videoDuration = GetMediaDuration(p.videoMedia);
    lc::CopyText(gProcessControl.progressText, "Inserting video track...");
    gProcessControl.progressPercent = 25;
    // 3: all of the media from time 0 at rate 1.0.
    if (CheckQtError(InsertMediaIntoTrack(p.videoTrack, 0, 0, p.videoDuration, FixedOne),
                     "InsertMediaIntoTrack Error\rOut of Memory?")) {
        return 0;
    }
    // 4: load hints; the picture is done.
    SetTrackLoadSettings(p.videoTrack, 0, 0, 0, hintsHighQuality);
    DisposeOutputPicture();
    return 1;
}

int FreeOutputGWorld()
{
    OutputPicture &p = gOutputPicture;
    DisposeOutputPicture();
    DisposeHandle(p.dvBuffer);
    p.dvBuffer = nullptr;
    p.dvData = nullptr;
    DisposeHandle(reinterpret_cast<Handle>(p.dvDescription));
    p.dvDescription = nullptr;
    return 1;
}
