#include "passes/pass_slots.h"

#include <cstdio>
#include <cstring>

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

// How decoding one slot went: what to show when it failed.
enum class DecodeFault {
    None,
    TooLarge, // more bytes than a picture of the frame's size
    TooSmall, // an uncompressed frame shorter than its picture
    Codec     // the decoder failed (err)
};
struct DecodeResult
{
    DecodeFault fault = DecodeFault::None;
    OSErr err = noErr;
};

// The slot decodes of a group may run at the same time: every decoder they use keeps its state
// per thread (the media layer's codecs) or has none (uncompressed frames).
bool DecodesAtOnce(const PassSource &source)
{
    return source.aviUncompressed
           || (!gConversionState.cindrellSource && !(source.fromAvi && !gAviReadState.isDV));
}

// Decodes slot s into its picture, with desc as the frame's description; shows nothing.
DecodeResult DecodeSlotPicture(PassSlots &slots, const PassSource &source, int s,
                               ImageDescriptionHandle desc)
{
    DecodeResult r;
    SetGWorld(slots.world[s], nullptr);
    const long limit = long(slots.height) * slots.width * slots.bytesPerPixel;
    if (slots.count[s] > limit) {
        r.fault = DecodeFault::TooLarge;
        return r;
    }
    const uint8_t *data = reinterpret_cast<const uint8_t *>(*slots.sample[s]);
    if (source.aviUncompressed) {
        // A short frame would be read past its end.
        if (slots.count[s] < long(slots.width) * slots.height * 3) {
            r.fault = DecodeFault::TooSmall;
            return r;
        }
        CopyFlipSwapRgb(slots.frame[s], data, slots.height, slots.width, 3);
        return r;
    }
    if (gConversionState.cindrellSource) {
        // Bottom-up B,G,R from the own decoder, turned over into the slot.
        lc::Status st = CindrellDecodeFrame(slots.workFrame, slots.width, slots.height, data,
                                            size_t(slots.count[s]), slots.workFrame, kCindrellFull,
                                            0, 0, gDvDecodeSetup.decoderFormat, 24, 1, 0);
        if (!st) {
            r.fault = DecodeFault::Codec;
            r.err = 1;
            return r;
        }
        CopyFlipSwapRgb(slots.frame[s], slots.workFrame, slots.height, slots.width, 3);
        return r;
    }
    if (source.fromAvi && !gAviReadState.isDV) {
        if (!VfwDecompressFrame(data, int(slots.count[s]), slots.workFrame)) {
            r.fault = DecodeFault::Codec;
            r.err = 1;
            return r;
        }
        CopyFlipSwapRgb(slots.frame[s], slots.workFrame, slots.height, slots.width, 4);
        return r;
    }
    (*desc)->dataSize = int32_t(slots.count[s]);
    OSErr err = FDecompressImage(*slots.sample[s], desc, slots.pixMap[s], nullptr, nullptr, srcCopy,
                                 nullptr, nullptr, nullptr, source.decodeQuality, bestFidelityCodec,
                                 0, nullptr, nullptr);
    if (err != noErr) {
        r.fault = DecodeFault::Codec;
        r.err = err;
    }
    return r;
}

// Shows the error of a failed decode. 1 when it had failed.
int ShowDecodeFault(const DecodeResult &r)
{
    switch (r.fault) {
    case DecodeFault::None:
        return 0;
    case DecodeFault::TooLarge:
        ShowError("Sample size exceeds buffer size\nPossible problem: YUV option selected with "
                  "uncompressed (RGB) movie");
        return 1;
    case DecodeFault::TooSmall:
        ShowError("Sample size is smaller than the frame size");
        return 1;
    case DecodeFault::Codec:
        CheckQtError(r.err, DecompressError());
        return 1;
    }
    return 1;
}

void CopyPicture(const PassSlots &slots, void *to, const void *from)
{
    std::memcpy(to, from, size_t(PictureBytes(slots)));
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
}

void SetSlotBounds(PassSlots &slots, int s, int rows)
{
    PixMap &pm = **slots.pixMap[s];
    pm.bounds = Rect{0, 0, int16_t(rows), int16_t(slots.width)};
    pm.rowBytes = int16_t((slots.width * slots.bytesPerPixel) | kPixMapRowBytesFlag);
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
    if (yuv) {
        UseYuvFrames();
    } else {
        UseRgbFrames();
    }
    for (int s = 0; s < kSlotCount; ++s) {
        OSErr err = NewGWorld(&slots.world[s], yuv ? 16 : 24, &allocRect, nullptr, nullptr, 0);
        if (CheckQtError(err, newGWorldError)) {
            return 0;
        }
        slots.pixMap[s] = GetGWorldPixMap(slots.world[s]);
        PixMap &pm = **slots.pixMap[s];
        pm.pixelFormat = yuv ? kYUVSPixelFormat : k24RGBPixelFormat;
        LockPixels(slots.pixMap[s]);
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

int ReadSlot(PassSlots &slots, PassSource &source, int s)
{
    if (source.fromAvi) {
        // Past the last frame the reader gives the last frame again; nothing at all is a frame
        // that cannot be read (a file cut short or damaged), which ends the movie.
        const int n =
            AviReadNextFrame(reinterpret_cast<uint8_t *>(*slots.sample[s]), kSlotSampleBytes);
        if (n <= 0) {
            char text[128];
            std::snprintf(text, sizeof text,
                          "Could not read frame %u of the source movie\nIt may be damaged or "
                          "incomplete",
                          unsigned(gAviReadState.framesRead + 1));
            ShowError(text);
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
    if (CheckQtError(err, "GetMediaSample Error")) {
        return 0;
    }
    slots.count[s] = size;
    source.readTime += gConversionState.sourceSampleDuration;
    return 1;
}

int FillGroupSlots(PassSlots &slots, PassSource &source, bool firstGroup)
{
    if (!firstGroup) {
        for (int k = 0; k < 2; ++k) {
            std::memcpy(*slots.sample[k], *slots.sample[k + 5], size_t(slots.count[k + 5]));
            slots.count[k] = slots.count[k + 5];
        }
    }
    for (int s = firstGroup ? 1 : 2; s < kSlotCount; ++s) {
        if (!ReadSlot(slots, source, s)) {
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
        DecodeResult result[kSlotCount];
        const int decodes = kSlotCount - first;
        const int copies = firstGroup ? 0 : 2;
        lc::SharedWorkerPool().Run(decodes + copies, [&](int i) {
            if (i < decodes) {
                result[first + i] = DecodeSlotPicture(slots, source, first + i, desc[first + i]);
            } else {
                CopyPicture(slots, slots.frame[i - decodes], *slots.carried[i - decodes]);
            }
        });
        SetGWorld(slots.world[kSlotCount - 1], nullptr);
        for (int s = first; s < kSlotCount; ++s) {
            if (ShowDecodeFault(result[s])) {
                return 0;
            }
        }
        if (firstGroup) {
            CopyPicture(slots, slots.frame[0], slots.frame[1]);
        }
    } else {
        if (!firstGroup) {
            for (int k = 0; k < 2; ++k) {
                CopyPicture(slots, slots.frame[k], *slots.carried[k]);
            }
        }
        for (int s = first; s < kSlotCount; ++s) {
            if (ShowDecodeFault(DecodeSlotPicture(slots, source, s, slots.sourceDesc))) {
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
    return 1;
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
