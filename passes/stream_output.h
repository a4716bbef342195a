#pragma once

#include <cstdint>

#include "platform/media/gworld.h"
#include "platform/media/image_compression.h"
#include "platform/media/media_types.h"

// The output side of a pushed (MPEG-2) source: an offscreen 24-bit picture that receives each
// output frame, and a video track (QuickTime output) or a DV compression buffer (AVI output).
// Set up by ProcessMovie before the decoder runs and closed after the last pass; the frame calls
// run on the MPEG-2 decoder thread in between.

constexpr int32_t kDvBufferBytes = 9216000;
// Frames of one group compressed at the same time: a PAL group gives up to 6.
constexpr int kGroupPictures = 6;

struct OutputPicture
{
    GWorldPtr gworld = nullptr; // 24 bits a pixel, output width x output height
    Rect bounds;                // {0, 0, output height, output width}
    PixMapHandle pixMap = nullptr;
    uint8_t *pixelBase = nullptr; // top-down rows of R, G, B, locked from set-up to the end

    // QuickTime output only.
    Track videoTrack = nullptr;
    Media videoMedia = nullptr;
    TimeValue videoDuration = 0; // the media's duration when the track was inserted

    // AVI output only.
    Handle dvBuffer = nullptr;                      // kDvBufferBytes, locked: one DV frame
    uint8_t *dvData = nullptr;                      // dvBuffer's data
    ImageDescriptionHandle dvDescription = nullptr; // the description of the last DV frame
    // A picture, DV buffer and description per frame of a group compressed at the same time;
    // made on first use at the picture's size.
    GWorldPtr groupWorld[kGroupPictures] = {};
    Handle groupBuffer[kGroupPictures] = {};
    ImageDescriptionHandle groupDescription[kGroupPictures] = {};
};

extern OutputPicture gOutputPicture;

// QuickTime output: the picture, then a video track and 'vide' media at ConversionState::timeScale
// with media edits begun. 1 ok, 0 failed (shown through CheckQtError, or by ValidateFrameSize).
int BeginOutputVideoTrack(Movie outputMovie, int outputWidth, int outputHeight, int frameWidth,
                          int frameHeight);
// AVI output: the picture and the DV buffers. 1 ok, 0 failed (shown).
int AllocOutputGWorld(int outputWidth, int outputHeight, int frameWidth, int frameHeight);
// frame: `rows` bottom-up rows of `width` B, G, R pixels. Compresses it with the standard
// compression settings of ConversionState::stdCompressor and adds it to the video media.
// 1 ok, 0 failed (shown, except a frame larger than the picture, which is not written).
int AddCompressedFrame(const uint8_t *frame, int width, int rows);
// Compresses the frame to DV ('dvcp' for 576 rows, else 'dvc ') and writes it to the output AVI.
// 1 written, 0 failed (a failed compression is shown and nothing is written).
int CompressDvFrameToAvi(const uint8_t *frame, int width, int rows);
// The same for the count frames of one group, behind the caller: each frame is copied into a
// picture of its own at once, and they are compressed on the worker pool while the caller goes
// on. EndDvFrameGroup then writes them in order; a failure is shown and ends the movie there (the
// frames after it are not written). When the pictures cannot be had, the frames are compressed
// and written here, one by one, up to a failure.
void BeginDvFrameGroup(const uint8_t *const *frames, int count, int width, int rows);
// Waits for the group begun last and writes its frames. Nothing when none is in flight.
void EndDvFrameGroup();
// Ends the media edits, inserts the media into the track and frees the picture. 1 ok, 0 failed.
int EndOutputVideoTrack();
// Frees the picture and the DV buffers. Returns 1.
int FreeOutputGWorld();
