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

int DecodeSlot(PassSlots &slots, const PassSource &source, int s)
{
    SetGWorld(slots.world[s], nullptr);
    const long limit = long(slots.height) * slots.width * slots.bytesPerPixel;
    if (slots.count[s] > limit) {
        ShowError("Sample size exceeds buffer size\nPossible problem: YUV option selected with "
                  "uncompressed (RGB) movie");
        return 0;
    }
    const uint8_t *data = reinterpret_cast<const uint8_t *>(*slots.sample[s]);
    if (source.aviUncompressed) {
        // A short frame would be read past its end.
        if (slots.count[s] < long(slots.width) * slots.height * 3) {
            ShowError("Sample size is smaller than the frame size");
            return 0;
        }
        CopyFlipSwapRgb(slots.frame[s], data, slots.height, slots.width, 3);
        return 1;
    }
    if (gConversionState.cindrellSource) {
        // Bottom-up B,G,R from the own decoder, turned over into the slot.
        lc::Status st = CindrellDecodeFrame(slots.workFrame, slots.width, slots.height, data,
                                            size_t(slots.count[s]), slots.workFrame, kCindrellFull,
                                            0, 0, gDvDecodeSetup.decoderFormat, 24, 1, 0);
        if (!st) {
            CheckQtError(1, DecompressError());
            return 0;
        }
        CopyFlipSwapRgb(slots.frame[s], slots.workFrame, slots.height, slots.width, 3);
        return 1;
    }
    if (source.fromAvi && !gAviReadState.isDV) {
        if (!VfwDecompressFrame(data, int(slots.count[s]), slots.workFrame)) {
            CheckQtError(1, DecompressError());
            return 0;
        }
        CopyFlipSwapRgb(slots.frame[s], slots.workFrame, slots.height, slots.width, 4);
        return 1;
    }
    (*slots.sourceDesc)->dataSize = int32_t(slots.count[s]);
    OSErr err = FDecompressImage(*slots.sample[s], slots.sourceDesc, slots.pixMap[s], nullptr,
                                 nullptr, srcCopy, nullptr, nullptr, nullptr, source.decodeQuality,
                                 bestFidelityCodec, 0, nullptr, nullptr);
    return CheckQtError(err, DecompressError()) ? 0 : 1;
}

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

    int ok = 1;
    if (cs.outputIsAvi) {
        AviWriteVideoFrame(*data, uint32_t(*size));
    } else {
        OSErr err = AddMediaSample(out.media, data, 0, (unsigned long)*size, cs.sampleDuration,
                                   reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0, nullptr);
        if (err != noErr) {
            char text[128];
            std::snprintf(text, sizeof text, out.addSampleError, int(err));
            CheckQtError(err, text);
            ok = 0;
        }
    }
    DisposeHandle(reinterpret_cast<Handle>(chosenDesc));
    DisposeHandle(chosenData);
    return ok;
}

bool IsDvCodecText(const char *text)
{
    size_t n = strnlen(text, 4);
    if (n < 2) {
        return false;
    }
    return std::strncmp(text, "dv", 2) == 0 || std::strncmp(text + n - 2, "vd", 2) == 0;
}
