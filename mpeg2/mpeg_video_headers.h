#pragma once

#include <cstdint>

#include "mpeg2/mpeg_picture_output.h"

// Coding parameters of the current picture (picture header and picture coding extension).
// Decoder thread only.
struct MpegPictureHeader
{
    int codingType = 0;       // 1 I, 2 P, 3 B
    int fCode[2][2] = {};     // [forward/backward][horizontal/vertical]
    int intraDcPrecision = 0; // 0..3: 8 to 11 bits
    int pictureStructure = 0; // 1 top field, 2 bottom field, 3 frame
    int topFieldFirst = 0;
    int framePredFrameDct = 0;
    int concealmentMotionVectors = 0;
    int qScaleType = 0;
    int intraVlcFormat = 0;
    int alternateScan = 0;
    int repeatFirstField = 0;
    int progressiveFrame = 0;
    MpegPictureRecord record; // handed to the output stage with the picture
};

extern MpegPictureHeader gMpegPictureHeader;

// Quantiser matrices in natural order.
struct MpegQuantMatrices
{
    uint8_t intra[64];
    uint8_t nonIntra[64];
    uint8_t chromaIntra[64];
    uint8_t chromaNonIntra[64];
};

extern MpegQuantMatrices gMpegQuantMatrices;

// Reads headers up to and including the next picture header: 1 when one was read, 0 when
// decoding must end (end of data).
int GetHeader();
// The sequence header after its start code, with the extension and user data that follow.
void ParseSequenceHeader();
// Slice header after the slice start code: the vertical position extension (pictures above 2800
// lines) and the quantiser scale.
void ReadSliceHeader(int *verticalExtension, int *quantiserScale);
// The quantiser scale of a quantiser_scale_code under the current picture's q_scale_type.
int QuantiserScale(int code);
