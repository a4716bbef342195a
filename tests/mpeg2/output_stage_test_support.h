#pragma once

#include <cstdint>
#include <vector>

#include "mpeg2/output_stage.h"

// Fake decoded pictures for the output stage: flat planes whose luma names the picture.
struct FakePicture
{
    std::vector<uint8_t> luma, cb, cr;
    const uint8_t *planes[3];
};

// A 4:2:0 picture of the coded size with luma 16 + tag (tag 0..200), chroma 128. Luma lines from
// pictureLines down and columns from pictureWidth on (the coded padding) get luma 16 + padTag.
FakePicture MakeFakePicture(int codedWidth, int codedHeight, int tag, int pictureWidth = 0,
                            int pictureLines = 0, int padTag = 0);
// The gray value the TV-scale conversion gives luma 16 + tag, and back (-1 when no tag gives it).
int GrayOfTag(int tag);
int TagOfGray(int gray);
// Points the stage's decoder link at the coded and picture size (4:2:0).
void SetStream(int codedWidth, int codedHeight, int horizontalSize, int verticalSize);
