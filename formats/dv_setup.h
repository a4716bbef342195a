#pragma once

#include <cstdint>

#include "platform/media/gworld.h"
#include "platform/media/media_types.h"

// The decoder set-up chosen by the compressed frame size, the 720p image description rewrite,
// the DV subcode time code and the timecode track of the output movie.

// The compressed frame kinds; 1 to 4 go to the Cindrell decoder.
enum DvFrameFormat : int {
    DvFormatNone = 0,
    Dvhd1080i60 = 1,
    Dvhd720p60 = 2,
    Dvhd1080i50 = 3,
    Dvhd720p50 = 4,
    Dv25Ntsc = 5,
    Dv25Pal = 6,
    Dv50Pal = 7,
    Dv50Ntsc = 8,
};

constexpr int32_t kDvFrameBufferBytes = 9216000; // the largest compressed frame read

// One instance, process-wide. Set up and torn down on the main thread or the processing thread,
// never both at once.
struct DvDecodeSetup
{
    int decoderFormat = DvFormatNone;                  // 0 when the frame size is not supported
    Handle frameBufferHandle = nullptr;                // locked, kDvFrameBufferBytes
    uint8_t *frameBuffer = nullptr;                    // compressed-frame read buffer
    GWorldPtr gworld = nullptr;                        // frame size; 24-bit, 32-bit for DVCPRO50
    PixMapHandle pixMap = nullptr;                     // locked
    uint8_t *pixels = nullptr;                         // top-down rows of width x 3 (or 4) bytes
    ImageDescriptionHandle imageDescription = nullptr; // of the compressed frames
    SoundDescriptionHandle soundDescription = nullptr; // default output sound (36 bytes)
    // The DVCPRO50 decompressor: a description of the media layer's 'dv5p' / 'dv5n' codec, made
    // only when that codec can decode (kinds 7 and 8).
    ImageDescriptionHandle dv50Codec = nullptr;
};

extern DvDecodeSetup gDvDecodeSetup;

// Frame kind of a frame size (table of sizes); 0 when the size is not supported.
int DvFrameFormatForSize(int height, int width, int frameBytes);

// Chooses the kind and prepares its buffers and descriptions. 1 ready, 0 failed (shown): an
// unsupported size ("This format/frame size is not supported."), no pixel buffer, or no
// DVCPRO50 decoder. A second call first releases what the first made.
int SetupDecoderForFrameSize(int height, int width, int frameBytes);
// Releases what the set-up made; each part only when it exists. The kind returns to 0.
void TeardownDecoder();

// A 1080-line DVCPRO HD description rewritten for 720 lines (1280 wide), where the codec's
// extension data say 1920 x 1080; descriptions too short to hold them are left alone.
void PatchImageDescription720p(ImageDescriptionHandle desc, int height, int width);

// Reads the time code pack of a DV frame of frameBytes bytes into out (hours, minutes, seconds,
// frames) and sets gMxfClipState's drop-frame and found flags. Only mode 0 reads; a frame too
// short to hold the pack or another pack id leaves everything as it was.
void ReadDvTimecode(uint8_t out[4], const uint8_t *frame, int32_t frameBytes, int mode);

// Adds a disabled 'tmcd' track holding gMxfClipState.sourceTimecode to movie, referenced by its
// first track of mediaType ('vide'). 0 ok, -2030 no such track, else the failing call's code.
OSErr AddTimecodeTrack(Movie movie, OSType mediaType);
