#pragma once

#include <atomic>
#include <cstdint>

// The hand-over from the picture decoder to the output stage, in display order. The output stage
// (preview, feed into the frame processing core, writers) installs its part at start-up; until
// then pictures are only fault-checked and dropped.

// The picture record handed over with each picture.
struct MpegPictureRecord
{
    int codingType = 0; // 1 I, 2 P, 3 B
    int fileIndex = 0;  // input file of the latest I picture
    int64_t sector = 0; // its 2048-byte sector
    int progressiveFrame = 0;
    int fieldFlags = 0; // top_field_first x 2 + repeat_first_field
};

struct MpegPictureSink
{
    // Once per process after the first sequence header: the stage's own buffers for the largest
    // picture (1920 x 1200). false: out of memory.
    bool (*allocateBuffers)() = nullptr;
    // The picture after the fault check. planes: luma, Cb, Cr in the coded size of each component
    // (luma codedWidth x codedHeight; chroma as MpegStreamInfo::chromaFormat says). pictureIndex
    // is 0 for the first picture of a run.
    void (*prepareFrame)(const uint8_t *const planes[3], const MpegPictureRecord &record,
                         int pictureIndex) = nullptr;
    // The data of a whole-file run have ended and every picture was handed over: the stage runs
    // what it still holds (a complete last group). Called before closeOutputs.
    void (*finishStream)() = nullptr;
    // End of a decoder run: flush and close the audio outputs, finish the video output.
    void (*closeOutputs)() = nullptr;
};

extern MpegPictureSink gMpegPictureSink;

// Number shown in the preview's trace; 0 disables the preview. 1 whenever the decoder is opened,
// started or seeked, 0 after the thread's fatal exit.
extern std::atomic<int> gMpegPreviewFrameNumber;

// Fault check, then the sink: a code below 50 is cleared and the picture used as decoded; 50 or
// above closes the outputs and ends the decoder thread (ExitMpegDecoderThread, does not return).
void StoreFrame(const uint8_t *const planes[3], const MpegPictureRecord &record, int pictureIndex);
// End of every decoder run: the sink's close, then processingMode = 0.
void CloseOutputs();
