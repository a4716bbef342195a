#include "mpeg2/output_stage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/frame_feed.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "formats/avi_writer.h"
#include "mpeg2/internal/mpeg2_dsp.h"
#include "mpeg2/output_stage_hooks.h"
#include "mpeg2/yuv_to_rgb_scale.h"
#include "platform/sys/clock.h"
#include "platform/sys/debug_trace.h"
#include "platform/sys/worker_pool.h"

DecodedPictureState gDecodedPictureState;
OutputStageTarget gOutputStageTarget;
OutputStageHooks gOutputStageHooks;

namespace {

// The decoder values the stage reads until the decoder points the link at its own records.
struct OwnDecoderValues
{
    std::atomic<int> codedWidth{0}, codedHeight{0}, horizontalSize{0}, verticalSize{0};
    std::atomic<int> chromaFormat{1};
    std::atomic<int> paused{0}, singleStep{0}, stopRequested{0}, faultCode{0}, showProgress{0};
    std::atomic<int> sequenceSeen{0}, processingMode{0}, previewFrameNumber{0};
};
OwnDecoderValues gOwnDecoderValues;

} // namespace

OutputStageDecoderLink gOutputStageDecoder = {&gOwnDecoderValues.codedWidth,
                                              &gOwnDecoderValues.codedHeight,
                                              &gOwnDecoderValues.horizontalSize,
                                              &gOwnDecoderValues.verticalSize,
                                              &gOwnDecoderValues.chromaFormat,
                                              &gOwnDecoderValues.paused,
                                              &gOwnDecoderValues.singleStep,
                                              &gOwnDecoderValues.stopRequested,
                                              &gOwnDecoderValues.faultCode,
                                              &gOwnDecoderValues.showProgress,
                                              &gOwnDecoderValues.sequenceSeen,
                                              &gOwnDecoderValues.processingMode,
                                              &gOwnDecoderValues.previewFrameNumber,
                                              nullptr,
                                              nullptr};

namespace {

constexpr int kUserStopFault = 99;
// Pictures from this size on are converted on the worker pool. Smaller ones are quicker on the
// decoder's own thread: their planes, just decoded, and their frame stay in its core's cache,
// and waking the workers costs more than they save.
constexpr int kStagePoolPixels = 1280 * 720;
constexpr int kFlagDrivenSlots = 4;

int ProcessRunning()
{
    return gOutputStageHooks.processRunning ? gOutputStageHooks.processRunning() : 0;
}
int PassesLeft()
{
    return gOutputStageHooks.passesLeft ? gOutputStageHooks.passesLeft() : 1;
}
int NtscOutputHeight()
{
    return gOutputStageHooks.ntscOutputHeight ? gOutputStageHooks.ntscOutputHeight() : 480;
}
int AudioSamplesPerFrame()
{
    return gOutputStageHooks.audioSamplesPerFrame ? gOutputStageHooks.audioSamplesPerFrame() : 0;
}

void FillHeader(AviBitmapHeader &h, int width, int height)
{
    h = AviBitmapHeader{};
    h.biWidth = width;
    h.biHeight = height;
    h.biSizeImage = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 3;
}

void Draw(const uint8_t *frame, const AviBitmapHeader &header)
{
    lc::DebugTrace("Displaying frame %d\n", gOutputStageDecoder.previewFrameNumber->load());
    gOutputStageDecoder.previewFrameNumber->fetch_add(1);
    if (gOutputStageHooks.drawPreview) {
        gOutputStageHooks.drawPreview(frame, header.biWidth, header.biHeight);
    }
}

// One field of the colour conversion: lines first, first + 2, ...
void YuvToRgbField(const uint8_t *luma, const uint8_t *cb, const uint8_t *cr, uint8_t *rgb,
                   int width, int height, int first)
{
    const YuvToRgbFactors k = CurrentYuvToRgbFactors();
    const Mpeg2Dsp &dsp = ActiveMpeg2Dsp();
    for (int y = first; y < height; y += 2) {
        const size_t line = static_cast<size_t>(y) * width;
        dsp.yuvToRgbRow(luma + line, cb + line, cr + line,
                        rgb + static_cast<size_t>(height - 1 - y) * width * 3, width, k);
    }
}

// The decoded picture without the coded lines below it and the columns right of it: rows of
// pictureWidth pixels, bottom-up, so the lines below the picture are the frame's first rows.
const uint8_t *PictureOnly()
{
    const DecodedPictureState &s = gDecodedPictureState;
    const size_t codedRow = static_cast<size_t>(s.width) * 3;
    const uint8_t *start = s.rgbFrame + static_cast<size_t>(s.height - s.pictureHeight) * codedRow;
    if (s.pictureWidth == s.width) {
        return start;
    }
    const size_t row = static_cast<size_t>(s.pictureWidth) * 3;
    for (int y = 0; y < s.pictureHeight; y++) {
        std::memcpy(s.packedFrame + y * row, start + y * codedRow, row);
    }
    return s.packedFrame;
}

// Frames whose rows are not the output's, or taller than the core's buffers, are not written.
bool OutputFits(int pitch)
{
    const OutputStageTarget &t = gOutputStageTarget;
    return t.outputWidth >= 1 && t.outputHeight >= 1 && t.outputWidth == pitch
           && static_cast<uint64_t>(pitch) * t.outputHeight * 3 <= kFrameBufferBytes;
}

// Step 4 of the hand-over: one output frame (rows of pitch pixels) to the writer of the output.
void WriteOutputFrame(const uint8_t *frame, int pitch)
{
    const OutputStageTarget &t = gOutputStageTarget;
    const OutputStageHooks &h = gOutputStageHooks;
    if (!OutputFits(pitch)) {
        return;
    }
    if (t.outputIsAvi && t.dvOutput) {
        if (h.compressDvFrameToAvi) {
            h.compressDvFrameToAvi(frame, t.outputWidth, t.outputHeight);
        }
    } else if (t.outputIsAvi) {
        if (h.compressAviFrame) {
            h.compressAviFrame(frame);
        }
    } else if (h.addCompressedFrame) {
        h.addCompressedFrame(frame, t.outputWidth, t.outputHeight);
    }
}

// A group whose DV frames are compressed behind the decoding: its frames and then its sound are
// written at the next group's hand-over or at the end of the run, in the order of the groups.
bool gGroupPending = false;
int gPendingSoundFrames = 0;

// Step 4 for the frames of one group, in order. DV frames of the output's full width go to the
// writer's group calls: true when they are compressed behind the caller (FinishPendingGroup
// writes them); false when they were written here.
bool WriteGroupFrames(const uint8_t *const *frames, int count, int pitch)
{
    const OutputStageTarget &t = gOutputStageTarget;
    const OutputStageHooks &h = gOutputStageHooks;
    if (t.outputIsAvi && t.dvOutput && h.beginDvFrameGroup && h.endDvFrameGroup
        && OutputFits(pitch)) {
        h.beginDvFrameGroup(frames, count, t.outputWidth, t.outputHeight);
        return true;
    }
    for (int i = 0; i < count; i++) {
        WriteOutputFrame(frames[i], pitch);
    }
    return false;
}

// HD pictures keep their size; standard definition is converted between 576 and 480 lines.
bool IsHdPicture()
{
    const DecodedPictureState &s = gDecodedPictureState;
    return IsHdFrame(uint32_t(s.pictureWidth), uint32_t(s.pictureHeight));
}

// Sample frames of sound for `share` of a group whose whole holds `whole` pictures: the group's
// sound as a whole (five pictures at 29.97 hold 8008 samples, not 5 x 1601).
int GroupSoundFrames(int share, int whole)
{
    const OutputStageHooks &h = gOutputStageHooks;
    const int64_t group = h.groupSoundFrames ? h.groupSoundFrames() : 5 * AudioSamplesPerFrame();
    return static_cast<int>(group * share / whole);
}

// The sound of one group: a failed copy ends the movie as it does in the other passes.
void CopyGroupSound(int frames)
{
    const OutputStageHooks &h = gOutputStageHooks;
    DecodedPictureState &s = gDecodedPictureState;
    if (h.copySound && !h.copySound(frames) && !s.soundErrorShown) {
        s.soundErrorShown = 1;
        if (h.showError) {
            h.showError("CopySound Error");
        }
    }
}

// The group compressed behind the decoding: its frames, then its sound.
void FinishPendingGroup()
{
    if (gGroupPending) {
        gGroupPending = false;
        gOutputStageHooks.endDvFrameGroup();
        CopyGroupSound(gPendingSoundFrames);
    }
}

// A group's frames were handed to the writers: its sound follows them, now or once they are
// written.
void GroupWritten(bool pending, int soundFrames)
{
    if (pending) {
        gGroupPending = true;
        gPendingSoundFrames = soundFrames;
    } else {
        CopyGroupSound(soundFrames);
    }
}

// Mode 9, after the feed ran a group: the n frames of slots 1..n are shown and written, then the
// group's sound is copied.
void WriteNtscGroup(int n, int soundFrames)
{
    FinishPendingGroup();
    OutputStageTarget &t = gOutputStageTarget;
    FrameStore &fs = gFrameStore;
    // All are shown, then written: the writer compresses them at the same time.
    const uint8_t *frames[kSlotCount];
    for (int i = 1; i <= n; i++) {
        const uint8_t *frame = fs.inputFrames[i];
        if (!IsHdPicture()) {
            ShowNtscFrame(frame);
            t.outputHeight = NtscOutputHeight();
        } else {
            ShowFrameSized(frame, t.outputWidth, t.outputHeight);
        }
        frames[i - 1] = frame;
    }
    GroupWritten(WriteGroupFrames(frames, n, static_cast<int>(fs.sourceWidth)), soundFrames);
}

// Modes 4, 5, 6, once a group is complete (steps 3b-3d): the count (4, fewer for the end of the
// stream) frames of order[], at 576 lines for standard definition, are shown and written, then
// the group's sound is copied.
void WriteGroupOfFour(const int *order, int count, int soundFrames)
{
    OutputStageTarget &t = gOutputStageTarget;
    FrameStore &fs = gFrameStore;
    // The group before: its frames leave the writer's pictures free.
    FinishPendingGroup();
    // 3b: standard definition goes to 576 lines.
    const bool sd = !IsHdPicture();
    if (sd) {
        fs.bgrOrder = 1;
        for (int k = 0; k < count; k++) {
            StoreHistoryFrame(k, fs.inputFrames[order[k]]);
        }
        for (int k = 0; k < count; k++) {
            ConvertLines480To576(fs.inputFrames[order[k]], k);
        }
        fs.bgrOrder = 0;
    }
    // 3c: show the frames, then write them (the writer compresses them at the same time).
    const uint8_t *frames[kFlagDrivenSlots];
    for (int k = 0; k < count; k++) {
        const uint8_t *frame = fs.inputFrames[order[k]];
        if (sd) {
            Show576Frame(frame);
            t.outputHeight = 576;
        } else {
            ShowFrameSized(frame, t.outputWidth, t.outputHeight);
        }
        frames[k] = frame;
    }
    // 3d: the group's sound, after its frames.
    GroupWritten(WriteGroupFrames(frames, count, static_cast<int>(fs.sourceWidth)), soundFrames);
}

} // namespace

bool AllocateDecodedPictureBuffers()
{
    DecodedPictureState &s = gDecodedPictureState;
    if (s.rgbFrame) {
        return true;
    }
    const size_t pixels = kStageMaxPixels;
    s.rgbFrame = static_cast<uint8_t *>(std::malloc(pixels * 3));
    s.packedFrame = static_cast<uint8_t *>(std::malloc(pixels * 3));
    const size_t chromaLines = size_t(kStageMaxBands) * (kStageMaxWidth / 2);
    s.cb422 = static_cast<uint8_t *>(std::malloc(chromaLines));
    s.cr422 = static_cast<uint8_t *>(std::malloc(chromaLines));
    if (!s.rgbFrame || !s.packedFrame || !s.cb422 || !s.cr422) {
        ReleaseDecodedPictureBuffers();
        return false;
    }
    return true;
}

void ReleaseDecodedPictureBuffers()
{
    DecodedPictureState &s = gDecodedPictureState;
    for (uint8_t **p : {&s.rgbFrame, &s.packedFrame, &s.cb422, &s.cr422}) {
        std::free(*p);
        *p = nullptr;
    }
}

void StoreDecodedFrame(const uint8_t *const planes[3], const StagePictureRecord &record,
                       int pictureIndex)
{
    DecodedPictureState &s = gDecodedPictureState;
    const OutputStageDecoderLink &d = gOutputStageDecoder;
    if (!s.rgbFrame || !planes || !planes[0] || !planes[1] || !planes[2]) {
        return;
    }
    // 2: the picture's flags.
    s.progressiveFrame = record.progressiveFrame;
    s.topFieldFirst = (record.fieldFlags >> 1) & 1;
    s.repeatFirstField = record.fieldFlags & 1;
    // 3: the first picture of the run sets up the geometry and the preview headers.
    if (pictureIndex == 0) {
        s.topFieldReady = 0;
        s.bottomFieldReady = 0;
        s.width = d.codedWidth->load();
        s.height = d.codedHeight->load();
        s.chromaWidth = s.width / 2;
        // The picture's own size, inside the coded one.
        const int pictureWidth = d.horizontalSize->load();
        const int pictureHeight = d.verticalSize->load();
        s.pictureWidth = pictureWidth >= 1 && pictureWidth <= s.width ? pictureWidth : s.width;
        s.pictureHeight =
            pictureHeight >= 1 && pictureHeight <= s.height ? pictureHeight : s.height;
        s.flagSlotsFilled = 0;
        s.soundErrorShown = 0;
        FillHeader(s.previewHeader, s.width, s.height);
        FillHeader(s.ntscPreviewHeader, 720, NtscOutputHeight());
        FillHeader(s.palPreviewHeader, 720, 576);
    }
    // A size the buffers cannot hold (or a run whose first picture never came) is dropped.
    if (s.width < 16 || s.height < 2 || s.width > kStageMaxWidth || s.height > kStageMaxHeight) {
        return;
    }
    s.pictureIndex = pictureIndex;
    // 4: the 3:2 flag cycle.
    DetectFieldCadence(pictureIndex, record.fieldFlags & 3);
    // 5: colour conversion and hand-over.
    PrepareDecodedFrame(planes, pictureIndex);
}

void DetectFieldCadence(int pictureIndex, int fieldFlags)
{
    DecodedPictureState &s = gDecodedPictureState;
    if (pictureIndex == 0) {
        s.flagCadenceCount = 0;
    } else if (fieldFlags == (s.previousFieldFlags + 1) % 4) {
        s.flagCadenceCount++;
    }
    s.previousFieldFlags = fieldFlags;
}

void PrepareDecodedFrame(const uint8_t *const planes[3], int /*pictureIndex*/)
{
    DecodedPictureState &s = gDecodedPictureState;
    // Steps 1 and 2 line by line, so that the upsampled chroma stays in the cache; the bytes
    // are those of Conv420To422, UpsampleChromaHorizontal and YuvToRgbTop / YuvToRgbBottom.
    // The lines of both fields go in picture order, so that the reads stream through the
    // planes; the hand-over's first call finds one field flag set and does nothing, as it does
    // after the bottom field alone. Each line depends on the planes alone, so the bands of
    // lines of a large picture run on the worker pool, and the frame is the same for any
    // number of threads.
    struct Band
    {
        const uint8_t *const *planes;
        int chromaFormat;
        const Mpeg2Dsp *dsp;
        YuvToRgbFactors k;
    } band{planes, gOutputStageDecoder.chromaFormat->load(), &ActiveMpeg2Dsp(),
           CurrentYuvToRgbFactors()};
    const int bands = (s.height + kStageBandLines - 1) / kStageBandLines;
    auto convertBand = [&band](int b) {
        const DecodedPictureState &st = gDecodedPictureState;
        const uint8_t *const *p = band.planes;
        const size_t w = static_cast<size_t>(st.width);
        const size_t cw = static_cast<size_t>(st.chromaWidth);
        uint8_t *cbLine = st.cb422 + static_cast<size_t>(b) * (kStageMaxWidth / 2);
        uint8_t *crLine = st.cr422 + static_cast<size_t>(b) * (kStageMaxWidth / 2);
        const int end = std::min(st.height, (b + 1) * kStageBandLines);
        for (int y = b * kStageBandLines; y < end; y++) {
            const uint8_t *luma = p[0] + y * w;
            // 2: picture line y to bitmap row height - 1 - y.
            uint8_t *row = st.rgbFrame + (st.height - 1 - y) * w * 3;
            if (band.chromaFormat != 1 && band.chromaFormat != 2) {
                // 4:4:4 planes are at full resolution already.
                band.dsp->yuvToRgbRow(luma, p[1] + y * w, p[2] + y * w, row, st.width, band.k);
                continue;
            }
            // 1: this line's chroma, upsampled vertically for 4:2:0, widened by the conversion.
            const uint8_t *u = p[1] + y * cw;
            const uint8_t *v = p[2] + y * cw;
            if (band.chromaFormat == 1) {
                Conv420To422Line(p[1], cbLine, st.chromaWidth, st.height / 2, st.progressiveFrame,
                                 y);
                Conv420To422Line(p[2], crLine, st.chromaWidth, st.height / 2, st.progressiveFrame,
                                 y);
                u = cbLine;
                v = crLine;
            }
            band.dsp->yuv422ToRgbRow(luma, u, v, row, st.width, st.chromaWidth, band.k);
        }
    };
    if (s.width * s.height >= kStagePoolPixels) {
        lc::SharedWorkerPool().Run(bands, convertBand);
    } else {
        for (int b = 0; b < bands; b++) {
            convertBand(b);
        }
    }
    // 2: the bottom field's flag, then the top field's; the hand-over runs once both are in.
    s.bottomFieldReady = 1;
    ProcessDecodedFrame();
    s.topFieldReady = 1;
    ProcessDecodedFrame();
}

void ProcessDecodedFrame()
{
    DecodedPictureState &s = gDecodedPictureState;
    const OutputStageDecoderLink &d = gOutputStageDecoder;
    if (!s.topFieldReady || !s.bottomFieldReady) {
        return;
    }
    FrameStore &fs = gFrameStore;
    const int pictureNumber = s.pictureIndex + 1;
    const int mode = d.processingMode->load();
    s.picturesHandedOver = pictureNumber;
    if (!ProcessRunning()) {
        // 2: the player: show the picture, then honour pause, step and stop.
        PreviewDecodedFrame(s.rgbFrame);
        while (d.paused->load()) {
            if (d.stopRequested->load()) {
                d.paused->store(0);
                d.faultCode->store(kUserStopFault);
                break;
            }
            if (d.singleStep->load()) {
                d.singleStep->store(0);
                break;
            }
            lc::SleepMs(10);
        }
    } else if (!fs.allocated) {
        // No frame store: nothing can be converted or written.
    } else if (mode == 9 || mode == 4 || mode == 5 || mode == 6) {
        // 1: the core and the writers take the picture at its own size: the coded lines and
        // columns outside it are none of the picture's.
        const uint8_t *picture = PictureOnly();
        const int width = s.pictureWidth;
        const int height = s.pictureHeight;
        const size_t bytes = static_cast<size_t>(width) * height * 3;
        if (mode == 9) {
            // 3, mode 9: a PAL-family source through the PAL-to-NTSC weave.
            if (IsHdPicture()) {
                if (gOutputStageHooks.setNtscOutputHeight) {
                    gOutputStageHooks.setNtscOutputHeight(height);
                }
                gEngineSettings.ntscOutputHeight = height;
            }
            fs.bgrOrder = 1;
            const int n = FeedFrameGroup(picture, height, width, 3, pictureNumber);
            fs.bgrOrder = 0;
            if (n > 0) {
                WriteNtscGroup(n, GroupSoundFrames(5, 5));
            }
        } else if (s.flagCadenceCount != 0) {
            // 3a, modes 4, 5, 6 with pulldown flags: each coded picture is one film frame, four
            // to a group.
            const int slot = pictureNumber % kFlagDrivenSlots;
            std::memcpy(fs.inputFrames[slot], picture, bytes);
            s.flagSlotsFilled |= 1 << slot;
            fs.sourceWidth = static_cast<uint32_t>(width);
            fs.sourceHeight = static_cast<uint32_t>(height);
            fs.rowPitch = static_cast<uint32_t>(width);
            if (slot == kFlagDrivenSlots - 1) {
                // The first group of a run may start late: its earlier slots repeat its first
                // picture instead of showing what an earlier movie left there.
                int firstFilled = 0;
                while (!(s.flagSlotsFilled & (1 << firstFilled))) {
                    firstFilled++;
                }
                for (int k = 0; k < firstFilled; k++) {
                    std::memcpy(fs.inputFrames[k], fs.inputFrames[firstFilled], bytes);
                }
                s.flagSlotsFilled = 0;
                const int order[kFlagDrivenSlots] = {0, 1, 2, 3};
                WriteGroupOfFour(order, kFlagDrivenSlots, GroupSoundFrames(5, 5));
            }
        } else {
            // 3a, modes 4, 5, 6: five pictures in, four frames out.
            int order[kFlagDrivenSlots] = {0, 1, 2, 3};
            fs.bgrOrder = 1;
            const int r = FeedPulldownRemoval(picture, height, width, 3, order, pictureNumber - 1);
            fs.bgrOrder = 0;
            if (r != 0) {
                WriteGroupOfFour(order, kFlagDrivenSlots, GroupSoundFrames(5, 5));
            }
        }
    }
    // 5: progress, and the next picture starts with no field in.
    if (d.showProgress->load() && d.showProcessingProgress) {
        d.showProcessingProgress();
    }
    s.topFieldReady = 0;
    s.bottomFieldReady = 0;
}

bool Conv420To422Line(const uint8_t *src, uint8_t *out, int chromaWidth, int lines, int progressive,
                      int j)
{
    const int w = chromaWidth;
    const int h = lines;
    if (h < 1 || w < 1 || j < 0 || j >= 2 * h) {
        return false;
    }
    const Mpeg2Dsp &dsp = ActiveMpeg2Dsp();
    auto c = [&](int line) { return src + static_cast<size_t>(line) * w; };
    // (wa x a + wb x b + rounding) >> shift, or a copy of a.
    auto blend = [&](const uint8_t *a, const uint8_t *b, int wa, int wb, int shift) {
        dsp.blendRows(out, a, b, w, wa, wb, shift);
        return true;
    };
    auto copy = [&](const uint8_t *a) {
        std::memcpy(out, a, static_cast<size_t>(w));
        return true;
    };
    if (progressive || h < 4) {
        const int i = j / 2;
        if (j % 2 == 0) {
            return i > 0 ? blend(c(i), c(i - 1), 3, 1, 2) : copy(c(0));
        }
        return i < h - 1 ? blend(c(i), c(i + 1), 3, 1, 2) : copy(c(i));
    }
    // Field-aware: each field's chroma lines are interpolated within that field, in groups of
    // two source lines (2k, 2k + 1) giving output lines 4k .. 4k + 3.
    const int k = j / 4;
    const int i = 2 * k;
    if (i + 1 >= h) {
        return false; // an odd last source line makes no group
    }
    const bool last = i + 2 >= h - 1;
    switch (j % 4) {
    case 0:
        return k == 0 ? copy(c(0)) : blend(c(i), c(i - 2), 7, 1, 3);
    case 1:
        return k == 0 ? blend(c(0), c(1), 3, 5, 3) : blend(c(i - 1), c(i + 1), 3, 5, 3);
    case 2:
        return last ? copy(c(i)) : blend(c(i), c(i + 2), 5, 3, 3);
    default:
        return last ? blend(c(i + 1), c(i), 7, 1, 3) : blend(c(i + 1), c(i + 3), 7, 1, 3);
    }
}

void Conv420To422(const uint8_t *src, uint8_t *dst, int chromaWidth, int lines, int progressive)
{
    for (int j = 0; j < 2 * lines; j++) {
        Conv420To422Line(src, dst + static_cast<size_t>(j) * chromaWidth, chromaWidth, lines,
                         progressive, j);
    }
}

void UpsampleChromaHorizontal(const uint8_t *src, uint8_t *dst, int chromaWidth, int lines)
{
    const Mpeg2Dsp &dsp = ActiveMpeg2Dsp();
    for (int y = 0; y < lines; y++) {
        dsp.upsampleRow(src + static_cast<size_t>(y) * chromaWidth,
                        dst + static_cast<size_t>(y) * chromaWidth * 2, chromaWidth);
    }
}

void YuvToRgbTop(const uint8_t *luma, const uint8_t *cb, const uint8_t *cr, uint8_t *rgb, int width,
                 int height)
{
    YuvToRgbField(luma, cb, cr, rgb, width, height, 0);
}

void YuvToRgbBottom(const uint8_t *luma, const uint8_t *cb, const uint8_t *cr, uint8_t *rgb,
                    int width, int height)
{
    YuvToRgbField(luma, cb, cr, rgb, width, height, 1);
}

void PreviewDecodedFrame(const uint8_t *frame)
{
    if (!gOutputStageDecoder.sequenceSeen->load()
        || gOutputStageDecoder.previewFrameNumber->load() == 0) {
        return;
    }
    Draw(frame, gDecodedPictureState.previewHeader);
}

void ShowNtscFrame(const uint8_t *frame)
{
    AviBitmapHeader &h = gDecodedPictureState.ntscPreviewHeader;
    FillHeader(h, 720, NtscOutputHeight());
    Draw(frame, h);
}

void Show576Frame(const uint8_t *frame)
{
    Draw(frame, gDecodedPictureState.palPreviewHeader);
}

void ShowFrameSized(const uint8_t *frame, int width, int height)
{
    AviBitmapHeader &h = gDecodedPictureState.previewHeader;
    if (width != h.biWidth || height != h.biHeight) {
        FillHeader(h, width, height);
        if (gOutputStageHooks.placePreviewWindow) {
            gOutputStageHooks.placePreviewWindow(30, 30, width, height);
        }
    }
    Draw(frame, h);
}

void FinishDecodedStream()
{
    DecodedPictureState &s = gDecodedPictureState;
    const OutputStageDecoderLink &d = gOutputStageDecoder;
    FrameStore &fs = gFrameStore;
    const int frames = s.picturesHandedOver;
    s.picturesHandedOver = 0;
    if (!ProcessRunning() || !fs.allocated || frames == 0) {
        return;
    }
    // The group feeds run a group when the next one's first frame comes: the last group, whole
    // or cut short, is run here, and keeps the frames and the sound of the pictures it holds.
    const int mode = d.processingMode->load();
    const int held = frames % 5 == 0 ? 5 : frames % 5;
    if (mode == 9) {
        fs.bgrOrder = 1;
        const int n = FinishFrameGroup(s.pictureHeight, s.pictureWidth, 3, frames);
        fs.bgrOrder = 0;
        if (n > 0) {
            WriteNtscGroup(n, GroupSoundFrames(held, 5));
        }
    } else if ((mode == 4 || mode == 5 || mode == 6) && s.flagCadenceCount == 0) {
        int order[kFlagDrivenSlots] = {0, 1, 2, 3};
        fs.bgrOrder = 1;
        const int r = FinishPulldownRemoval(s.pictureHeight, s.pictureWidth, 3, order, frames);
        fs.bgrOrder = 0;
        if (r > 0) {
            WriteGroupOfFour(order, r, GroupSoundFrames(held, 5));
        }
    } else if (mode == 4 || mode == 5 || mode == 6) {
        // Film pictures after the last group of four, each one output frame with its share of
        // the group's sound.
        int order[kFlagDrivenSlots];
        int count = 0;
        for (int slot = 0; slot < kFlagDrivenSlots - 1; slot++) {
            if (s.flagSlotsFilled & (1 << slot)) {
                order[count++] = slot;
            }
        }
        s.flagSlotsFilled = 0;
        if (count > 0) {
            WriteGroupOfFour(order, count, GroupSoundFrames(count, kFlagDrivenSlots));
        }
    }
}

void CloseStageOutputs()
{
    // The last group's frames and sound go before anything is closed.
    FinishPendingGroup();
    gDecodedPictureState.picturesHandedOver = 0;
    const OutputStageHooks &h = gOutputStageHooks;
    const bool finalPass = ProcessRunning() && PassesLeft() == 1;
    // 1: the audio tracks and the AVI output of a final pass.
    if (finalPass) {
        if (gOutputStageDecoder.closeAudioTracks) {
            gOutputStageDecoder.closeAudioTracks();
        }
        if (gAviWriteState.fd >= 0) {
            AviCloseOutput();
        }
    }
    // 2: a compressor's output ends with its movie.
    if (finalPass && gOutputStageTarget.outputIsAvi && !gOutputStageTarget.dvOutput
        && h.endAviVideoCompression) {
        h.endAviVideoCompression();
    }
    // 3: back to preview.
    gOutputStageDecoder.processingMode->store(0);
}

void FitVideoWindow()
{
    if (gOutputStageHooks.placePreviewWindow) {
        gOutputStageHooks.placePreviewWindow(-1, 0, gOutputStageDecoder.codedWidth->load(),
                                             gOutputStageDecoder.codedHeight->load());
    }
}
