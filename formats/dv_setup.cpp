#include "formats/dv_setup.h"

#include <cstring>

#include "formats/dv_setup_hooks.h"
#include "formats/formats_hooks.h"
#include "platform/media/codec_registry.h"
#include "platform/media/image_compression.h"
#include "platform/sys/bytes.h"
#include "platform/sys/text.h"

DvDecodeSetup gDvDecodeSetup;

namespace {

using lc::FourCC;

// The DVCPRO HD extension data of a 1080-line description: shown width and height (16 bits,
// big-endian), the letter that names the line count, and the frame size of 720-line frames.
constexpr int kExtWidthAt = 156;
constexpr int kExtHeightAt = 160;
constexpr int kExtLinesLetterAt = 153;
constexpr int32_t kDvhd720FrameBytes = 240000;

void ShowQtError(const char *name, int err)
{
    char text[256];
    lc::FormatText(text, sizeof text, "%s, err# %d", name, err);
    gFormatsHooks.showError(text);
}

OSType CodecForKind(int kind)
{
    switch (kind) {
    case Dv25Ntsc:
        return FourCC("dvc ");
    case Dv25Pal:
        return FourCC("dvcp");
    default:
        return FourCC("AVd1");
    }
}

} // namespace

int DvFrameFormatForSize(int height, int width, int frameBytes)
{
    struct Row
    {
        int height, width;
        int frameBytes; // 0: any other size
        int kind;
    };
    // First matching row wins: an exact frame size before the "any other" row of its picture.
    static constexpr Row kRows[] = {
        {1080, 1920, 480000, Dvhd1080i60}, {1080, 1920, 0, Dvhd1080i50},
        {1080, 1440, 0, Dvhd1080i50},      {1080, 1280, 0, Dvhd1080i60},
        {720, 1280, 240000, Dvhd720p60},   {720, 1280, 0, Dvhd720p50},
        {480, 720, 240000, Dv50Ntsc},      {480, 720, 0, Dv25Ntsc},
        {576, 720, 288000, Dv50Pal},       {576, 720, 0, Dv25Pal},
    };
    for (const Row &r : kRows) {
        if (r.height == height && r.width == width
            && (r.frameBytes == 0 || r.frameBytes == frameBytes)) {
            return r.kind;
        }
    }
    return DvFormatNone;
}

int SetupDecoderForFrameSize(int height, int width, int frameBytes)
{
    // A set-up still in place (a movie opened over another) is released first.
    TeardownDecoder();
    DvDecodeSetup &s = gDvDecodeSetup;

    // 1. Frame kind. An unsupported size fails: its frames could never be decoded.
    const int kind = DvFrameFormatForSize(height, width, frameBytes);
    if (kind == DvFormatNone) {
        gFormatsHooks.showError("This format/frame size is not supported.");
        return 0;
    }

    // 2. The compressed-frame read buffer.
    s.frameBufferHandle = NewHandle(kDvFrameBufferBytes);
    if (!s.frameBufferHandle) {
        return 0;
    }
    HLock(s.frameBufferHandle);
    s.frameBuffer = reinterpret_cast<uint8_t *>(*s.frameBufferHandle);

    // 3. The pixel buffer of the frame size.
    const bool dv50 = kind == Dv50Pal || kind == Dv50Ntsc;
    const Rect rect{0, 0, int16_t(height), int16_t(width)};
    const QDErr gwErr = NewGWorld(&s.gworld, dv50 ? 32 : 24, &rect, nullptr, nullptr, 0);
    if (gwErr != noErr) {
        ShowQtError("NewGWorld Error\rDisplay depth not 24 bits minimum\nOr out of memory", gwErr);
        TeardownDecoder();
        return 0;
    }

    // 4. Its pixel map, locked.
    s.pixMap = GetGWorldPixMap(s.gworld);
    LockPixels(s.pixMap);
    s.pixels = reinterpret_cast<uint8_t *>(GetPixBaseAddr(s.pixMap));

    // 5. The description of the compressed frames, as the codec fills it in.
    s.imageDescription = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
    if (!s.imageDescription) {
        TeardownDecoder();
        return 0;
    }
    (void)CompressImage(s.pixMap, &rect, codecMaxQuality, CodecForKind(kind), s.imageDescription,
                        reinterpret_cast<Ptr>(s.frameBuffer));

    // 6. 720-line DVCPRO HD.
    if (kind == Dvhd720p60 || kind == Dvhd720p50) {
        PatchImageDescription720p(s.imageDescription, height, width);
    }

    // 7. Output sound defaults: 16-bit little-endian stereo at 48 kHz.
    s.soundDescription =
        reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(int32_t(sizeof(SoundDescription))));
    if (!s.soundDescription) {
        TeardownDecoder();
        return 0;
    }
    SoundDescription &sd = **s.soundDescription;
    sd.descSize = int32_t(sizeof(SoundDescription));
    sd.dataFormat = FourCC("sowt");
    sd.dataRefIndex = 1;
    sd.numChannels = 2;
    sd.sampleSize = 16;
    sd.sampleRate = 48000u << 16;
    gDvSetupHooks.useOutputSoundDescription(s.soundDescription);

    // 8. DVCPRO50: the media layer's decoder stands in for the installed codec.
    if (dv50) {
        const OSType code = kind == Dv50Pal ? FourCC("dv5p") : FourCC("dv5n");
        s.dv50Codec = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
        if (!s.dv50Codec || !HasImageDecoder(code)
            || CompressImage(s.pixMap, &rect, codecMaxQuality, code, s.dv50Codec,
                             reinterpret_cast<Ptr>(s.frameBuffer))
                   != noErr) {
            gFormatsHooks.showError("Could not find Matrox DVCPRO50 codec installed");
            TeardownDecoder();
            return 0;
        }
    }

    // 9. The DVCPRO HD decoder's tables.
    if (gDvSetupHooks.cindrellInit) {
        gDvSetupHooks.cindrellInit();
    }
    s.decoderFormat = kind;
    return 1;
}

void TeardownDecoder()
{
    DvDecodeSetup &s = gDvDecodeSetup;
    if (s.gworld) {
        DisposeGWorld(s.gworld);
        s.gworld = nullptr;
    }
    s.pixMap = nullptr;
    s.pixels = nullptr;
    if (s.imageDescription) {
        DisposeHandle(reinterpret_cast<Handle>(s.imageDescription));
        s.imageDescription = nullptr;
    }
    if (s.soundDescription) {
        gDvSetupHooks.forgetOutputSoundDescription(s.soundDescription);
        DisposeHandle(reinterpret_cast<Handle>(s.soundDescription));
        s.soundDescription = nullptr;
    }
    if (s.frameBufferHandle) {
        DisposeHandle(s.frameBufferHandle);
        s.frameBufferHandle = nullptr;
    }
    s.frameBuffer = nullptr;
    if (s.dv50Codec) {
        DisposeHandle(reinterpret_cast<Handle>(s.dv50Codec));
        s.dv50Codec = nullptr;
    }
    s.decoderFormat = DvFormatNone;
}

void PatchImageDescription720p(ImageDescriptionHandle desc, int height, int width)
{
    (void)height;
    if (width != 1280 || !desc || !*desc) {
        return;
    }
    // Only a description that holds the extension data is rewritten.
    if (GetHandleSize(reinterpret_cast<Handle>(desc)) < kExtHeightAt + 2) {
        return;
    }
    auto *p = reinterpret_cast<uint8_t *>(*desc);
    if (lc::LoadU16be(p + kExtWidthAt) != 1920 || lc::LoadU16be(p + kExtHeightAt) != 1080) {
        return;
    }
    lc::StoreU16be(p + kExtWidthAt, 1280);
    lc::StoreU16be(p + kExtHeightAt, 720);
    p[kExtLinesLetterAt] = 'b';
    (**desc).dataSize = kDvhd720FrameBytes;
}
