#include "passes/pass_slots.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include "dvdecoder/cindrell.h"
#include "engine/conversion_options.h"
#include "engine/pixel_formats.h"
#include "formats/avi_reader.h"
#include "formats/avi_writer.h"
#include "formats/dv_setup.h"
#include "passes/conversion_state.h"
#include "passes/process_control.h"
#include "passes/source_kind.h"
#include "passes/ui_hooks.h"
#include "passes/vfw_output.h"
#include "platform/media/image_compression.h"
#include "platform/media/movies.h"
#include "platform/media/standard_compression.h"
#include "platform/sys/worker_pool.h"

namespace {

constexpr const char *kMemoryError =
    "Could not allocate memory\nPossible problem: system fault or memory limitation.";

// Sample buffers are locked; descriptions stay unlocked so that reads and compressions can grow
// them.
Handle NewCheckedHandle(int32_t size, bool locked)
{
    Handle h = NewHandle(size);
    if (CheckQtError(MemError(), kMemoryError) || !h) {
        if (h) {
            DisposeHandle(h);
        } else if (!gProcessControl.errorShown) {
            ShowError(kMemoryError);
        }
        return nullptr;
    }
    if (locked) {
        HUnlock(h);
        HLock(h);
    }
    return h;
}

const char *CompressError()
{
    return gConversionOptions.useYuvProcessing
               ? "CompressImage Error, Possible Problem:\nCodec does not support YUV option\n"
                 "(uncheck YUV in Advanced Options)\n"
               : "CompressImage Error, Possible problem: Codec not installed\n";
}

const char *DecompressError()
{
    return gConversionOptions.useYuvProcessing
               ? "DecompressImage Error, Possible Problem:\nCodec does not support YUV option\n"
                 "(uncheck YUV in Advanced Options)\n"
               : "DecompressImage Error, Possible problem: Codec not installed\n";
}

// The top-down output picture as bottom-up B,G,R rows, in either pixel format.
void PictureToBottomUpBgr(uint8_t *dst, const uint8_t *picture, int rows, int width, int bpp)
{
    if (bpp == 2) {
        Yuv422RowsToBottomUpBgr(dst, picture, ptrdiff_t(width) * 2, rows, width);
    } else {
        FrameRowsToBottomUpBgr(dst, picture, rows, width);
    }
}

// Bytes of one slot picture at the source size: rows are exactly width x bytes a pixel.
int32_t PictureBytes(const PassSlots &slots)
{
    return int32_t(slots.width) * slots.height * slots.bytesPerPixel;
}

// What failed (PassFault::kind).
constexpr int kFaultTooLarge = 1;  // more bytes than a picture of the frame's size
constexpr int kFaultTooSmall = 2;  // an uncompressed frame shorter than its picture
constexpr int kFaultCodec = 3;     // the decoder failed (err)
constexpr int kFaultAviRead = 4;   // the AVI reader gave nothing (frame)
constexpr int kFaultMediaRead = 5; // the media layer's read failed (err)

// Shows a failure; 1 when there was one.
int ShowPassFault(const PassFault &f)
{
    char text[128];
    switch (f.kind) {
    case 0:
        return 0;
    case kFaultTooLarge:
        ShowError("Sample size exceeds buffer size\nPossible problem: YUV option selected with "
                  "uncompressed (RGB) movie");
        return 1;
    case kFaultTooSmall:
        ShowError("Sample size is smaller than the frame size");
        return 1;
    case kFaultAviRead:
        std::snprintf(text, sizeof text,
                      "Could not read frame %u of the source movie\nIt may be damaged or "
                      "incomplete",
                      f.frame);
        ShowError(text);
        return 1;
    case kFaultMediaRead:
        CheckQtError(f.err, "GetMediaSample Error");
        return 1;
    default:
        CheckQtError(f.err, DecompressError());
        return 1;
    }
}

// A failure shown now, or kept in *kept for its turn.
void ShowOrKeep(const PassFault &f, PassFault *kept)
{
    if (kept) {
        *kept = f;
    } else {
        ShowPassFault(f);
    }
}

// The slot decodes of a group may run at the same time: every decoder they use keeps its state
// per thread (the media layer's codecs) or has none (uncompressed frames).
bool DecodesAtOnce(const PassSource &source)
{
    return source.aviUncompressed
           || (!gConversionState.cindrellSource && !(source.fromAvi && !gAviReadState.isDV));
}

// Where a slot is decoded to: its picture in the current set or in the other one.
struct SlotPicture
{
    GWorldPtr world;
    PixMapHandle pixMap;
    uint8_t *frame;
};

SlotPicture CurrentPicture(const PassSlots &slots, int s)
{
    return {slots.world[s], slots.pixMap[s], slots.frame[s]};
}

SlotPicture AheadPicture(const PassSlots &slots, int s)
{
    return {slots.aheadWorld[s], slots.aheadPixMap[s], slots.aheadFrame[s]};
}

// Decodes slot s's frame into picture p, with desc as the frame's description; shows nothing.
PassFault DecodeSlotPicture(PassSlots &slots, const PassSource &source, int s,
                            ImageDescriptionHandle desc, const SlotPicture &p)
{
    PassFault r;
    SetGWorld(p.world, nullptr);
    // Uncompressed AVI rows are bitmap rows: each padded to a multiple of four bytes.
    const long row = long(slots.width) * 3;
    const long bitmapRow = (row + 3) / 4 * 4;
    long limit = long(slots.height) * slots.width * slots.bytesPerPixel;
    if (source.aviUncompressed) {
        limit = std::max(limit, bitmapRow * slots.height);
    }
    if (slots.count[s] > limit) {
        r.kind = kFaultTooLarge;
        return r;
    }
    uint8_t *data = reinterpret_cast<uint8_t *>(*slots.sample[s]);
    if (source.aviUncompressed) {
        if (bitmapRow != row && slots.count[s] >= bitmapRow * slots.height) {
            // Packed in place, each row moving down to its unpadded place.
            for (long y = 1; y < slots.height; ++y) {
                std::memmove(data + y * row, data + y * bitmapRow, size_t(row));
            }
            slots.count[s] = row * slots.height;
        }
        // A short frame would be read past its end.
        if (slots.count[s] < row * slots.height) {
            r.kind = kFaultTooSmall;
            return r;
        }
        CopyFlipSwapRgb(p.frame, data, slots.height, slots.width, 3);
        return r;
    }
    r.kind = kFaultCodec;
    if (gConversionState.cindrellSource) {
        // Bottom-up B,G,R from the own decoder, turned over into the slot.
        lc::Status st = CindrellDecodeFrame(slots.workFrame, slots.width, slots.height, data,
                                            size_t(slots.count[s]), slots.workFrame, kCindrellFull,
                                            0, 0, gDvDecodeSetup.decoderFormat, 24, 1, 0);
        if (!st) {
            r.err = 1;
            return r;
        }
        CopyFlipSwapRgb(p.frame, slots.workFrame, slots.height, slots.width, 3);
        return PassFault{};
    }
    if (source.fromAvi && !gAviReadState.isDV) {
        if (!VfwDecompressFrame(data, int(slots.count[s]), slots.workFrame)) {
            r.err = 1;
            return r;
        }
        CopyFlipSwapRgb(p.frame, slots.workFrame, slots.height, slots.width, 4);
        return PassFault{};
    }
    (*desc)->dataSize = int32_t(slots.count[s]);
    r.err = FDecompressImage(*slots.sample[s], desc, p.pixMap, nullptr, nullptr, srcCopy, nullptr,
                             nullptr, nullptr, source.decodeQuality, bestFidelityCodec, 0, nullptr,
                             nullptr);
    return r.err != noErr ? r : PassFault{};
}

void CopyPicture(const PassSlots &slots, void *to, const void *from)
{
    std::memcpy(to, from, size_t(PictureBytes(slots)));
}

// Where the carried picture k is: carried[k], or slot k of the other set.
const void *CarriedPicture(const PassSlots &slots, int k)
{
    if (slots.carriedAhead) {
        return slots.aheadFrame[k];
    }
    return *slots.carried[k];
}

// A copy of the source description for slot s, so that slots can be decoded at the same time.
ImageDescriptionHandle SlotDescription(PassSlots &slots, int s)
{
    Handle from = reinterpret_cast<Handle>(slots.sourceDesc);
    Handle to = reinterpret_cast<Handle>(slots.slotDesc[s]);
    const int32_t bytes = GetHandleSize(from);
    if (!to) {
        to = NewHandle(bytes);
        slots.slotDesc[s] = reinterpret_cast<ImageDescriptionHandle>(to);
    } else {
        SetHandleSize(to, bytes);
    }
    if (!to || MemError() != noErr) {
        return nullptr;
    }
    std::memcpy(*to, *from, size_t(bytes));
    return slots.slotDesc[s];
}

} // namespace

PassSlots::~PassSlots()
{
    // A next group still decoding writes into what is freed below.
    lc::SharedWorkerPool().Finish(aheadDecode);
    if (portSaved) {
        SetGWorld(savedPort, nullptr);
    }
    for (int s = 0; s < kSlotCount; ++s) {
        if (world[s]) {
            // The buffer it made goes back in place before it is freed.
            DisposeGWorld(world[s]);
        }
        DisposeHandle(sample[s]);
    }
    DisposeHandle(reinterpret_cast<Handle>(sourceDesc));
    DisposeHandle(reinterpret_cast<Handle>(outputDesc));
    DisposeHandle(outputData);
    for (Handle h : carried) {
        DisposeHandle(h);
    }
    for (ImageDescriptionHandle d : slotDesc) {
        DisposeHandle(reinterpret_cast<Handle>(d));
    }
    for (int k = 0; k < kMaxGroupOutputs; ++k) {
        DisposeHandle(madeData[k]);
        DisposeHandle(reinterpret_cast<Handle>(madeDesc[k]));
    }
    for (int s = 0; s < kSlotCount; ++s) {
        DisposeGWorld(aheadWorld[s]);
        DisposeHandle(aheadBuffer[s]);
    }
    // The history frames are the frame store's own again; the buffers lent meanwhile are
    // freed above or belong to the frame store.
    if (historyLent) {
        std::copy(std::begin(history), std::end(history), std::begin(gFrameStore.historyFrames));
    }
    // The kernels' slots go back to the frame store's own frames.
    if (aheadBuffer[0] || historyLent) {
        SetSlotFrames(gFrameStore.inputFrames, kSlotCount);
    }
}

namespace {

void SetPixMapBounds(const PassSlots &slots, PixMapHandle pixMap, int rows)
{
    PixMap &pm = **pixMap;
    pm.bounds = Rect{0, 0, int16_t(rows), int16_t(slots.width)};
    pm.rowBytes = int16_t((slots.width * slots.bytesPerPixel) | kPixMapRowBytesFlag);
}

// A slot's pixel buffer of the allocated size, in the frame format: 0 ok, else the error.
OSErr MakeSlotWorld(const PassSlots &slots, GWorldPtr *world, PixMapHandle *pixMap)
{
    const bool yuv = slots.bytesPerPixel == 2;
    OSErr err = NewGWorld(world, yuv ? 16 : 24, &slots.allocRect, nullptr, nullptr, 0);
    if (err != noErr) {
        return err;
    }
    *pixMap = GetGWorldPixMap(*world);
    (**pixMap)->pixelFormat = yuv ? kYUVSPixelFormat : k24RGBPixelFormat;
    LockPixels(*pixMap);
    return noErr;
}

} // namespace

void HandSlotToHistory(PassSlots &slots, int s, int history)
{
    FrameStore &fs = gFrameStore;
    if (!slots.historyLent) {
        std::copy(std::begin(fs.historyFrames), std::end(fs.historyFrames),
                  std::begin(slots.history));
        slots.historyLent = true;
    }
    uint8_t *const picture = slots.frame[s];
    std::swap(slots.frame[s], fs.historyFrames[history]);
    (**slots.pixMap[s]).baseAddr = reinterpret_cast<Ptr>(slots.frame[s]);
    // The kernels' slots that named the picture now name the slot's new buffer.
    for (int i = 0; i < kSlotCount; ++i) {
        if (fs.rgbSlots[i] == picture) {
            fs.rgbSlots[i] = slots.frame[s];
        }
        if (fs.yuvSlots[i] == picture) {
            fs.yuvSlots[i] = slots.frame[s];
        }
    }
}

void SetSlotBounds(PassSlots &slots, int s, int rows)
{
    SetPixMapBounds(slots, slots.pixMap[s], rows);
}

void SetAllSlotBounds(PassSlots &slots, int rows)
{
    for (int s = 0; s < kSlotCount; ++s) {
        SetSlotBounds(slots, s, rows);
    }
}

int SetUpPassSlots(PassSlots &slots, int width, int height, const Rect &allocRect,
                   const char *newGWorldError)
{
    const bool yuv = gConversionOptions.useYuvProcessing != 0;
    slots.width = width;
    slots.height = height;
    slots.bytesPerPixel = yuv ? 2 : 3;
    slots.allocRect = allocRect;
    if (yuv) {
        UseYuvFrames();
    } else {
        UseRgbFrames();
    }
    for (int s = 0; s < kSlotCount; ++s) {
        if (CheckQtError(MakeSlotWorld(slots, &slots.world[s], &slots.pixMap[s]), newGWorldError)) {
            return 0;
        }
        slots.frame[s] = gFrameStore.inputFrames[s];
        SetSlotBounds(slots, s, height);
    }
    // The pixels are the frame store's frames; the buffers made above stay owned by the
    // GWorlds and are freed with them.
    for (int s = 0; s < kSlotCount; ++s) {
        (*slots.pixMap[s])->baseAddr = reinterpret_cast<Ptr>(slots.frame[s]);
    }
    SetSlotFrames(slots.frame, kSlotCount);
    slots.workFrame = gFrameStore.inputFrames[kSlotCount];
    for (int s = 0; s < kSlotCount; ++s) {
        if (!(slots.sample[s] = NewCheckedHandle(kSlotSampleBytes, true))) {
            return 0;
        }
    }
    slots.sourceDesc = reinterpret_cast<ImageDescriptionHandle>(NewCheckedHandle(4, false));
    slots.outputDesc = reinterpret_cast<ImageDescriptionHandle>(NewCheckedHandle(4, false));
    slots.outputData = NewCheckedHandle(kSlotSampleBytes, true);
    if (!slots.sourceDesc || !slots.outputDesc || !slots.outputData) {
        return 0;
    }
    for (Handle &h : slots.carried) {
        if (!(h = NewCheckedHandle(PictureBytes(slots), true))) {
            return 0;
        }
    }
    GetGWorld(&slots.savedPort, nullptr);
    slots.portSaved = true;
    return 1;
}

int StartPass(PassSlots &slots, Media sourceMedia, TimeValue durationLimit)
{
    if (gProcessControl.stopRequested) {
        return 0;
    }
    // An error, not a warning: the movie ends without a frame, and a batch (which shows no
    // warnings) must not take it for a result.
    if (durationLimit == 0) {
        ShowError("Error: Zero-length Movie");
        return 0;
    }
    if (!ValidateFrameSize(slots.height, slots.width,
                           (**slots.pixMap[0]).rowBytes & kRowBytesMask)) {
        return 0;
    }
    if (gSourceKind.isAvi && gAviReadState.isDV && sourceMedia) {
        long size = 0;
        OSErr err =
            GetMediaSample(sourceMedia, slots.sample[0], kSlotSampleBytes, &size, 0, nullptr,
                           nullptr, reinterpret_cast<SampleDescriptionHandle>(slots.sourceDesc),
                           nullptr, 1, nullptr, nullptr);
        if (CheckQtError(err, "GetMediaSample Error")) {
            return 0;
        }
    }
    return 1;
}

PassSource MakePassSource(Media media, TimeValue durationLimit, CodecQ decodeQuality)
{
    PassSource source;
    source.media = media;
    source.durationLimit = durationLimit;
    source.fromAvi = gSourceKind.isAvi != 0;
    source.aviUncompressed = source.fromAvi && gAviReadState.isUncompressed;
    source.decodeQuality = decodeQuality;
    return source;
}

int OpenPassDecompressor(int width, int height)
{
    if (gSourceKind.isAvi && gSourceKind.viaAviPlayer && !OpenVfwDecompressor(width, height)) {
        ShowError("Decompress error");
        return 0;
    }
    return 1;
}

int ReadSlot(PassSlots &slots, PassSource &source, int s, PassFault *fault)
{
    PassFault kept;
    if (source.fromAvi) {
        // Past the last frame the reader gives the last frame again; nothing at all is a frame
        // that cannot be read (a file cut short or damaged), which ends the movie.
        const int n =
            AviReadNextFrame(reinterpret_cast<uint8_t *>(*slots.sample[s]), kSlotSampleBytes);
        if (n <= 0) {
            kept.kind = kFaultAviRead;
            kept.frame = unsigned(gAviReadState.framesRead + 1);
            ShowOrKeep(kept, fault);
            return 0;
        }
        slots.count[s] = n;
        return 1;
    }
    // Past the end the last frame repeats.
    TimeValue time = source.readTime;
    if (time >= source.durationLimit) {
        time = source.durationLimit - 1;
    }
    long size = 0;
    OSErr err = GetMediaSample(
        source.media, slots.sample[s], kSlotSampleBytes, &size, time, nullptr, nullptr,
        reinterpret_cast<SampleDescriptionHandle>(slots.sourceDesc), nullptr, 1, nullptr, nullptr);
    if (err != noErr) {
        kept.kind = kFaultMediaRead;
        kept.err = err;
        ShowOrKeep(kept, fault);
        return 0;
    }
    slots.count[s] = size;
    source.readTime += gConversionState.sourceSampleDuration;
    return 1;
}

int FillGroupSlots(PassSlots &slots, PassSource &source, bool firstGroup, PassFault *fault)
{
    if (!firstGroup) {
        for (int k = 0; k < 2; ++k) {
            std::memcpy(*slots.sample[k], *slots.sample[k + 5], size_t(slots.count[k + 5]));
            slots.count[k] = slots.count[k + 5];
        }
    }
    for (int s = firstGroup ? 1 : 2; s < kSlotCount; ++s) {
        if (!ReadSlot(slots, source, s, fault)) {
            return 0;
        }
    }
    if (firstGroup) {
        std::memcpy(*slots.sample[0], *slots.sample[1], size_t(slots.count[1]));
        slots.count[0] = slots.count[1];
    }
    return 1;
}

int DecodeGroupSlots(PassSlots &slots, const PassSource &source, bool firstGroup)
{
    const int first = firstGroup ? 1 : 2;
    if (DecodesAtOnce(source)) {
        // Each slot with its own description; the carried pictures are copied meanwhile.
        ImageDescriptionHandle desc[kSlotCount] = {};
        for (int s = first; s < kSlotCount; ++s) {
            if (!source.aviUncompressed && !(desc[s] = SlotDescription(slots, s))) {
                CheckQtError(MemError() != noErr ? MemError() : OSErr(memFullErr), kMemoryError);
                return 0;
            }
        }
        PassFault result[kSlotCount];
        const int decodes = kSlotCount - first;
        const int copies = firstGroup ? 0 : 2;
        lc::SharedWorkerPool().Run(decodes + copies, [&](int i) {
            if (i < decodes) {
                const int s = first + i;
                result[s] = DecodeSlotPicture(slots, source, s, desc[s], CurrentPicture(slots, s));
            } else {
                CopyPicture(slots, slots.frame[i - decodes], CarriedPicture(slots, i - decodes));
            }
        });
        SetGWorld(slots.world[kSlotCount - 1], nullptr);
        for (int s = first; s < kSlotCount; ++s) {
            if (ShowPassFault(result[s])) {
                return 0;
            }
        }
        if (firstGroup) {
            CopyPicture(slots, slots.frame[0], slots.frame[1]);
        }
    } else {
        if (!firstGroup) {
            for (int k = 0; k < 2; ++k) {
                CopyPicture(slots, slots.frame[k], CarriedPicture(slots, k));
            }
        }
        for (int s = first; s < kSlotCount; ++s) {
            if (ShowPassFault(DecodeSlotPicture(slots, source, s, slots.sourceDesc,
                                                CurrentPicture(slots, s)))) {
                return 0;
            }
            if (s == 1) {
                CopyPicture(slots, slots.frame[0], slots.frame[1]);
            }
            if (gProcessControl.stopRequested) {
                return 1;
            }
        }
    }
    for (int k = 0; k < 2; ++k) {
        CopyPicture(slots, *slots.carried[k], slots.frame[5 + k]);
    }
    slots.carriedAhead = false;
    return 1;
}

namespace {

// The other set of pictures, as large as the frame store's frames; false when it cannot be had.
bool MakeAheadPictures(PassSlots &slots)
{
    for (int s = 0; s < kSlotCount; ++s) {
        if (slots.aheadWorld[s]) {
            continue;
        }
        Handle buffer = NewHandle(int32_t(kFrameBufferBytes));
        if (!buffer || MakeSlotWorld(slots, &slots.aheadWorld[s], &slots.aheadPixMap[s]) != noErr) {
            DisposeHandle(buffer);
            slots.aheadWorld[s] = nullptr;
            return false;
        }
        HLock(buffer);
        slots.aheadBuffer[s] = buffer;
        slots.aheadFrame[s] = reinterpret_cast<uint8_t *>(*buffer);
        (**slots.aheadPixMap[s]).baseAddr = *buffer;
        SetPixMapBounds(slots, slots.aheadPixMap[s], slots.height);
    }
    return true;
}

} // namespace

bool StartNextGroup(PassSlots &slots, PassSource &source)
{
    lc::SharedWorkerPool().Finish(slots.aheadDecode);
    if (!DecodesAtOnce(source) || !MakeAheadPictures(slots)) {
        return false;
    }
    for (PassFault &f : slots.aheadFault) {
        f = PassFault{};
    }
    // Read now, in order; a failure waits for its turn and nothing is decoded.
    if (!FillGroupSlots(slots, source, false, &slots.aheadFault[0])) {
        return true;
    }
    ImageDescriptionHandle desc[kSlotCount] = {};
    for (int s = 2; s < kSlotCount; ++s) {
        if (!source.aviUncompressed && !(desc[s] = SlotDescription(slots, s))) {
            slots.aheadFault[0] = PassFault{kFaultMediaRead, memFullErr, 0};
            return true;
        }
    }
    // Five decodes and the two carried pictures (unless already there), into the other set. The
    // source is copied: the run may outlive the caller's.
    const PassSource from = source;
    const bool carriedThere = slots.carriedAhead;
    slots.carriedAhead = false;
    lc::SharedWorkerPool().Start(
        slots.aheadDecode, kSlotCount, [&slots, from, desc, carriedThere](int i) {
            if (i < 2) {
                if (!carriedThere) {
                    CopyPicture(slots, slots.aheadFrame[i], *slots.carried[i]);
                }
            } else {
                slots.aheadFault[i] =
                    DecodeSlotPicture(slots, from, i, desc[i], AheadPicture(slots, i));
            }
        });
    return true;
}

int TakeNextGroup(PassSlots &slots)
{
    lc::SharedWorkerPool().Finish(slots.aheadDecode);
    for (const PassFault &f : slots.aheadFault) {
        if (ShowPassFault(f)) {
            return 0;
        }
    }
    // The pixel maps keep their pictures: the three change hands together.
    for (int s = 0; s < kSlotCount; ++s) {
        std::swap(slots.world[s], slots.aheadWorld[s]);
        std::swap(slots.pixMap[s], slots.aheadPixMap[s]);
        std::swap(slots.frame[s], slots.aheadFrame[s]);
    }
    SetSlotFrames(slots.frame, kSlotCount);
    SetGWorld(slots.world[kSlotCount - 1], nullptr);
    // The group before is written: its pictures are free to take the carried ones, where the
    // next group's read ahead wants them.
    for (int k = 0; k < 2; ++k) {
        CopyPicture(slots, slots.aheadFrame[k], slots.frame[5 + k]);
    }
    slots.carriedAhead = true;
    return 1;
}

int BringInGroup(PassSlots &slots, PassSource &source, bool firstGroup, bool *nextStarted)
{
    if (*nextStarted) {
        *nextStarted = false;
        return TakeNextGroup(slots);
    }
    ProcessYield();
    return FillGroupSlots(slots, source, firstGroup) && DecodeGroupSlots(slots, source, firstGroup)
               ? 1
               : 0;
}

namespace {

// Writes one compressed frame to the output: the AVI file, or a sample of the output media.
// 1 ok, 0 failed (shown).
int WriteCompressedFrame(const PassOutput &out, Handle data, ImageDescriptionHandle desc, long size)
{
    const ConversionState &cs = gConversionState;
    if (cs.outputIsAvi) {
        AviWriteVideoFrame(*data, uint32_t(size));
        return 1;
    }
    OSErr err = AddMediaSample(out.media, data, 0, (unsigned long)size, cs.sampleDuration,
                               reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0, nullptr);
    if (err != noErr) {
        char text[128];
        std::snprintf(text, sizeof text, out.addSampleError, int(err));
        CheckQtError(err, text);
        return 0;
    }
    return 1;
}

} // namespace

void PaintSlotInPlayer(PassSlots &slots, const PassOutput &out, int s)
{
    const int outWidth = out.rect.right - out.rect.left;
    const int outRows = out.rect.bottom - out.rect.top;
    PictureToBottomUpBgr(slots.workFrame, slots.frame[s], outRows, outWidth, slots.bytesPerPixel);
    PaintPlayerFrame(slots.workFrame, outRows, outWidth);
}

int WriteSlotFrame(PassSlots &slots, const PassOutput &out, int s, int copyFrom, long *size)
{
    const ConversionState &cs = gConversionState;
    const int outWidth = out.rect.right - out.rect.left;
    const int outRows = out.rect.bottom - out.rect.top;
    const uint8_t *picture = slots.frame[s];
    uint8_t *buffer = reinterpret_cast<uint8_t *>(*slots.outputData);
    *size = 0;

    // Uncompressed AVI: bottom-up B,G,R rows of the converted picture.
    if (cs.outputIsAvi && cs.uncompressedOutput) {
        PictureToBottomUpBgr(buffer, picture, outRows, outWidth, slots.bytesPerPixel);
        *size = long(outWidth) * outRows * 3;
        AviWriteVideoFrame(buffer, uint32_t(*size));
        return 1;
    }
    // A chosen AVI compressor writes the frame itself.
    if (cs.outputIsAvi && !cs.dvAviOutput) {
        PictureToBottomUpBgr(slots.workFrame, picture, outRows, outWidth, slots.bytesPerPixel);
        *size = CompressAviFrame(slots.workFrame);
        return CheckQtError(*size == 0 ? 1 : 0, CompressError()) ? 0 : 1;
    }

    Handle data = slots.outputData;
    ImageDescriptionHandle desc = slots.outputDesc;
    ImageDescriptionHandle chosenDesc = nullptr;
    Handle chosenData = nullptr;
    if (copyFrom >= 0) {
        // Without recompression: the source's own frame with its description and size.
        data = slots.sample[copyFrom];
        desc = slots.sourceDesc;
        (*desc)->dataSize = int32_t(slots.count[copyFrom]);
        *size = slots.count[copyFrom];
    } else if (!cs.outputIsAvi && gConversionOptions.userSelectsCompression) {
        ComponentResult r =
            SCCompressImage(cs.stdCompressor, slots.pixMap[s], nullptr, &chosenDesc, &chosenData);
        if (CheckQtError(int(r), CompressError())) {
            DisposeHandle(reinterpret_cast<Handle>(chosenDesc));
            DisposeHandle(chosenData);
            return 0;
        }
        data = chosenData;
        desc = chosenDesc;
        *size = (*desc)->dataSize;
    } else {
        OSErr err = CompressImage(slots.pixMap[s], &out.rect, codecMaxQuality, cs.outputCodec, desc,
                                  *slots.outputData);
        if (CheckQtError(err, CompressError())) {
            return 0;
        }
        *size = (*desc)->dataSize;
    }

    const int ok = WriteCompressedFrame(out, data, desc, *size);
    DisposeHandle(reinterpret_cast<Handle>(chosenDesc));
    DisposeHandle(chosenData);
    return ok;
}

bool MakeOutputFrames(PassSlots &slots, const PassOutput &out, const int *list, int n,
                      const std::function<void(int)> &preview)
{
    const ConversionState &cs = gConversionState;
    const bool rows = cs.outputIsAvi && cs.uncompressedOutput;
    const bool codec = cs.outputIsAvi ? cs.dvAviOutput && !cs.uncompressedOutput
                                      : !gConversionOptions.userSelectsCompression;
    if ((!rows && !codec) || n > kMaxGroupOutputs) {
        return false;
    }
    for (int k = 0; k < n; ++k) {
        if (!slots.madeData[k]) {
            slots.madeData[k] = NewCheckedHandle(kSlotSampleBytes, true);
            slots.madeDesc[k] =
                reinterpret_cast<ImageDescriptionHandle>(NewCheckedHandle(4, false));
            if (!slots.madeData[k] || !slots.madeDesc[k]) {
                // Shown; each frame then fails again on its own and ends the pass.
                return false;
            }
        }
    }
    const int outWidth = out.rect.right - out.rect.left;
    const int outRows = out.rect.bottom - out.rect.top;
    // Task n shows the frames in order while the others compress them.
    lc::SharedWorkerPool().Run(n + 1, [&](int k) {
        if (k == n) {
            for (int i = 0; i < n; ++i) {
                preview(i);
            }
            return;
        }
        uint8_t *buffer = reinterpret_cast<uint8_t *>(*slots.madeData[k]);
        slots.madeErr[k] = noErr;
        if (rows) {
            PictureToBottomUpBgr(buffer, slots.frame[list[k]], outRows, outWidth,
                                 slots.bytesPerPixel);
            slots.madeSize[k] = long(outWidth) * outRows * 3;
            return;
        }
        slots.madeErr[k] = CompressImage(slots.pixMap[list[k]], &out.rect, codecMaxQuality,
                                         cs.outputCodec, slots.madeDesc[k], *slots.madeData[k]);
        slots.madeSize[k] = slots.madeErr[k] == noErr ? (*slots.madeDesc[k])->dataSize : 0;
    });
    return true;
}

int WriteMadeFrame(PassSlots &slots, const PassOutput &out, int k, long *size)
{
    *size = slots.madeSize[k];
    if (CheckQtError(slots.madeErr[k], CompressError())) {
        return 0;
    }
    if (gConversionState.outputIsAvi && gConversionState.uncompressedOutput) {
        AviWriteVideoFrame(*slots.madeData[k], uint32_t(*size));
        return 1;
    }
    return WriteCompressedFrame(out, slots.madeData[k], slots.madeDesc[k], *size);
}

bool IsDvCodecText(const char *text)
{
    size_t n = strnlen(text, 4);
    if (n < 2) {
        return false;
    }
    return std::strncmp(text, "dv", 2) == 0 || std::strncmp(text + n - 2, "vd", 2) == 0;
}
