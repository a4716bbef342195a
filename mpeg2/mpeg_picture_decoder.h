#pragma once

#include <cstdint>

#include "mpeg2/mpeg_picture_output.h"

// Frame buffers and geometry of the picture decoder, set up after the first sequence header.
// Decoder thread only.
struct MpegPictureDecoder
{
    // [frame][component]: forward reference, backward reference, auxiliary (B pictures); each
    // plane holds kMpegMaxPlaneBytes.
    uint8_t *frames[3][3] = {};
    int forward = 0; // index of the forward reference in frames
    int backward = 1;
    int auxiliary = 2;

    int mbWidth = 0; // macroblocks of a frame
    int mbHeight = 0;
    int codedWidth = 0;
    int codedHeight = 0;
    int chromaWidth = 0;
    int chromaHeight = 0;
    int chromaFormat = 1; // 1 4:2:0, 2 4:2:2, 3 4:4:4
    int blockCount = 6;

    // Picture records: for every I or P frame, previous = last and last = current.
    MpegPictureRecord lastReference;
    MpegPictureRecord previousReference;
    int secondField = 0;   // between the two fields of a field-picture frame
    int pictureNumber = 0; // whole frames decoded in this run
    // The last reference frame was not finished (cut off by the end of the data, or its second
    // field never came): the reference before it is the one still due for display.
    int unfinishedReference = 0;
};

extern MpegPictureDecoder gMpegPictureDecoder;

// Allocates the three frames once per process; false when memory ran out.
bool AllocateDecoderFrames();
// Sets the geometry from the sequence; false when the picture does not fit the frame buffers.
bool SetDecoderGeometry(int horizontalSize, int verticalSize, int progressiveSequence,
                        int chromaFormat);
// Clears the per-run state (records, field state, picture number).
void ResetPictureDecoder();
// Decodes the picture whose header GetHeader has just read and hands over at most one frame, in
// display order, through StoreFrame.
void DecodePicture();
// At the end of a whole-file run's data: hands over the reference frame still due for display
// (DecodePicture hands each reference over only when the next one is decoded).
void HandOverLastPicture();
