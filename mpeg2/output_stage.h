#pragma once

#include <cstdint>

#include "formats/avi_writer.h"

// The output stage of the MPEG-2 decoder thread: each decoded picture becomes one bottom-up
// B, G, R frame, which is shown in the preview (player) or fed through the frame processing core
// into the writers with its sound (processing run). Decoder thread only.

// The largest picture the decoder takes: 1920 x 1200.
constexpr int kStageMaxWidth = 1920;
constexpr int kStageMaxHeight = 1200;
constexpr int kStageMaxPixels = kStageMaxWidth * kStageMaxHeight;
// The colour conversion runs in bands of lines on the worker pool; each band has its own chroma
// line.
constexpr int kStageBandLines = 16;
constexpr int kStageMaxBands = (kStageMaxHeight + kStageBandLines - 1) / kStageBandLines;

struct DecodedPictureState
{
    // --- buffers, allocated once for the largest picture ---
    uint8_t *rgbFrame = nullptr; // width x height x 3, bottom-up B, G, R
    // The chroma of the line being converted after vertical upsampling (4:2:0, chromaWidth),
    // one line for each band (kStageMaxBands x kStageMaxWidth / 2): a line at a time, so that
    // it never leaves the cache; the colour conversion widens it to full resolution on the way.
    uint8_t *cb422 = nullptr;
    uint8_t *cr422 = nullptr;
    uint8_t *packedFrame = nullptr; // the picture with its rows cut to its own width

    // --- the picture being stored ---
    int topFieldReady = 0; // set when that field's lines are in rgbFrame
    int bottomFieldReady = 0;
    int progressiveFrame = 0;
    int topFieldFirst = 0;
    int repeatFirstField = 0;
    int pictureIndex = 0; // 0 for the first picture of the run

    // --- geometry, taken at the first picture of each run ---
    int width = 0;  // codedWidth
    int height = 0; // codedHeight
    int chromaWidth = 0;
    // The picture inside the coded frame (horizontal_size x vertical_size): what the core and
    // the writers take.
    int pictureWidth = 0;
    int pictureHeight = 0;

    AviBitmapHeader previewHeader;     // width x height; reused at the output size
    AviBitmapHeader ntscPreviewHeader; // 720 x ntscOutputHeight
    AviBitmapHeader palPreviewHeader;  // 720 x 576

    // --- field cadence ---
    int flagCadenceCount = 0; // pictures whose field flags follow the 3:2 flag cycle
    int previousFieldFlags = 0;
    int flagSlotsFilled = 0;    // bit s: flag-driven slot s holds a picture of this run
    int soundErrorShown = 0;    // a failed sound copy was reported in this run
    int picturesHandedOver = 0; // pictures of this run that reached the hand-over
};

extern DecodedPictureState gDecodedPictureState;

// Set by ProcessMovie for each MPEG-2 movie before the decoder runs.
struct OutputStageTarget
{
    int outputIsAvi = 0; // ConversionState::outputIsAvi
    int dvOutput = 0;    // AVI output compressed to DV
    int outputWidth = 0; // the writers' frame size: the picture's width, and its height (SD: the
                         // stage sets 576 or the NTSC height)
    int outputHeight = 0;
};

extern OutputStageTarget gOutputStageTarget;

// The picture as the stage needs it of the header parser's record.
struct StagePictureRecord
{
    int progressiveFrame = 0;
    int fieldFlags = 0; // top_field_first x 2 + repeat_first_field
};

// Allocates the buffers once per process; false when memory ran out.
bool AllocateDecodedPictureBuffers();
void ReleaseDecodedPictureBuffers();

// The stage's part of the hand-over, after the decoder's fault check: first-picture set-up,
// cadence count, then PrepareDecodedFrame. planes: luma, Cb, Cr in the coded size of each
// component. A picture whose coded size is outside 1..1920 x 1..1200 is dropped.
void StoreDecodedFrame(const uint8_t *const planes[3], const StagePictureRecord &record,
                       int pictureIndex);
void PrepareDecodedFrame(const uint8_t *const planes[3], int pictureIndex);
void ProcessDecodedFrame();
void DetectFieldCadence(int pictureIndex, int fieldFlags);

// Kernels. Planes are packed (rows as wide as the plane).
// chromaWidth x lines in, chromaWidth x 2 lines out.
void Conv420To422(const uint8_t *src, uint8_t *dst, int chromaWidth, int lines, int progressive);
// Line j (0 .. 2 lines - 1) of the same into out; false when j has no line.
bool Conv420To422Line(const uint8_t *src, uint8_t *out, int chromaWidth, int lines, int progressive,
                      int j);
// chromaWidth x lines in, 2 chromaWidth x lines out.
void UpsampleChromaHorizontal(const uint8_t *src, uint8_t *dst, int chromaWidth, int lines);
// The lines of one field (top: 0, 2, ..; bottom: 1, 3, ..) of width x height planes into the
// bottom-up B, G, R frame (picture line y is row height - 1 - y).
void YuvToRgbTop(const uint8_t *luma, const uint8_t *cb, const uint8_t *cr, uint8_t *rgb, int width,
                 int height);
void YuvToRgbBottom(const uint8_t *luma, const uint8_t *cb, const uint8_t *cr, uint8_t *rgb,
                    int width, int height);

void PreviewDecodedFrame(const uint8_t *frame);
void ShowNtscFrame(const uint8_t *frame);
void Show576Frame(const uint8_t *frame);
void ShowFrameSized(const uint8_t *frame, int width, int height);

// The data of a whole-file run have ended: during processing, the last group that the feed driver
// or the flag-driven grouping still holds, whole or cut short, is converted and written with the
// sound of the pictures it holds.
void FinishDecodedStream();
// End of a decoder run: closes the outputs of a final processing pass; processingMode = 0.
void CloseStageOutputs();
// Processing thread: the preview keeps its left edge, goes to the top and shows the coded size.
void FitVideoWindow();
