#include "tests/mpeg2/output_stage_test_support.h"

#include "mpeg2/output_stage_hooks.h"

FakePicture MakeFakePicture(int codedWidth, int codedHeight, int tag, int pictureWidth,
                            int pictureLines, int padTag)
{
    FakePicture p;
    p.luma.assign(size_t(codedWidth) * codedHeight, uint8_t(16 + tag));
    for (int y = 0; y < codedHeight; y++) {
        for (int x = 0; x < codedWidth; x++) {
            if ((pictureLines && y >= pictureLines) || (pictureWidth && x >= pictureWidth)) {
                p.luma[size_t(y) * codedWidth + x] = uint8_t(16 + padTag);
            }
        }
    }
    p.cb.assign(size_t(codedWidth / 2) * (codedHeight / 2), 128);
    p.cr = p.cb;
    p.planes[0] = p.luma.data();
    p.planes[1] = p.cb.data();
    p.planes[2] = p.cr.data();
    return p;
}

int GrayOfTag(int tag)
{
    const int v = (tag * 9539 + 4096) >> 13;
    return v > 255 ? 255 : v;
}

int TagOfGray(int gray)
{
    for (int t = 0; t <= 219; t++) {
        if (GrayOfTag(t) == gray) {
            return t;
        }
    }
    return -1;
}

void SetStream(int codedWidth, int codedHeight, int horizontalSize, int verticalSize)
{
    OutputStageDecoderLink &d = gOutputStageDecoder;
    *d.codedWidth = codedWidth;
    *d.codedHeight = codedHeight;
    *d.horizontalSize = horizontalSize;
    *d.verticalSize = verticalSize;
    *d.chromaFormat = 1;
}
