#pragma once

#include <cstdint>
#include <functional>

#include "engine/frame_store.h"
#include "platform/media/gworld.h"
#include "platform/media/image_compression.h"
#include "platform/media/media_types.h"
#include "platform/sys/worker_pool.h"

// The seven frame slots of the per-frame passes: per slot a pixel buffer whose pixels are the
// frame store's frame of that slot, and a sample buffer for the slot's compressed source frame.
// Owns everything it allocated and releases it on every path (destructor), so a failed movie in a
// batch leaves nothing behind.

// Bytes of one slot's compressed source frame.
constexpr int32_t kSlotSampleBytes = 9216000;
// Output frames of one group: 4 for NTSC-family sources, 5 or 6 for PAL-family ones.
constexpr int kMaxGroupOutputs = 6;

// A failure met before its turn (reading or decoding the next group while this one is
// written), shown in its turn.
struct PassFault
{
    int kind = 0; // 0 none; what failed (pass_slots.cpp)
    OSErr err = noErr;
    unsigned frame = 0; // the AVI frame that could not be read
};

struct PassSlots
{
    GWorldPtr world[kSlotCount] = {};
    PixMapHandle pixMap[kSlotCount] = {};
    Handle sample[kSlotCount] = {};
    long count[kSlotCount] = {};     // bytes of each slot's compressed frame
    uint8_t *frame[kSlotCount] = {}; // the slot pictures (frame store frames)
    // Separate descriptions: the source's (decode, and frames copied as they are) and the
    // output's (filled by each compression).
    ImageDescriptionHandle sourceDesc = nullptr;
    ImageDescriptionHandle outputDesc = nullptr;
    Handle outputData = nullptr;  // one compressed or uncompressed output frame
    uint8_t *workFrame = nullptr; // bottom-up work picture (frame store's spare input frame)
    CGrafPtr savedPort = nullptr;
    bool portSaved = false;
    // The pictures slots 5 and 6 had when decoded: the next group's slots 0 and 1 (the kernels
    // change slot pictures in place).
    Handle carried[2] = {};
    // Per-slot copies of the source description, for slots decoded at the same time.
    ImageDescriptionHandle slotDesc[kSlotCount] = {};
    // Output frames made at the same time (MakeOutputFrames), each with its own buffer and
    // description; made on first use.
    Handle madeData[kMaxGroupOutputs] = {};
    ImageDescriptionHandle madeDesc[kMaxGroupOutputs] = {};
    long madeSize[kMaxGroupOutputs] = {};
    OSErr madeErr[kMaxGroupOutputs] = {};
    int width = 0; // source size
    int height = 0;
    int bytesPerPixel = 3; // 3 RGB, 2 YUV 4:2:2
    Rect allocRect{};      // the allocated size of the pixel buffers
    // The other set of slot pictures (StartNextGroup): the next group is decoded into it while
    // this group's frames are compressed; TakeNextGroup swaps the two sets. Made on first use.
    GWorldPtr aheadWorld[kSlotCount] = {};
    PixMapHandle aheadPixMap[kSlotCount] = {};
    uint8_t *aheadFrame[kSlotCount] = {}; // the other set's pictures
    Handle aheadBuffer[kSlotCount] = {};  // frames of the frame store's size, owned here
    PassFault aheadFault[kSlotCount];     // the next group's read (slot 0) and decodes (2 to 6)
    // The carried pictures are already in slots 0 and 1 of the other set (TakeNextGroup puts
    // them there, the set being free), not in carried[].
    bool carriedAhead = false;
    // The frame store's history frames as they were before HandSlotToHistory exchanged any
    // (their buffers then move between the history and the slots); put back at the end.
    uint8_t *history[kHistoryFrameCount] = {};
    bool historyLent = false;
    lc::WorkerPool::Background aheadDecode; // finished before anything above is freed

    PassSlots() = default;
    PassSlots(const PassSlots &) = delete;
    PassSlots &operator=(const PassSlots &) = delete;
    ~PassSlots();
};

// Makes the seven pixel buffers (allocRect: their allocated size) over the frame store's frames,
// in the pixel format of the options, with bounds of the source size; newGWorldError names the
// failure. Then the sample buffers, the descriptions and the output buffer. 1 ok, 0 failed (shown).
int SetUpPassSlots(PassSlots &slots, int width, int height, const Rect &allocRect,
                   const char *newGWorldError);

// The checks that open both passes: a stop request (0, nothing shown), a zero duration limit
// (an error), the frame store's geometry for this movie (ValidateFrameSize), and for a DV AVI
// source the description of its DV frames, read through the media layer. 1 go on, 0 return.
int StartPass(PassSlots &slots, Media sourceMedia, TimeValue durationLimit);

// The history frame `history` takes slot s's picture and the slot takes the history frame's
// buffer, as StoreHistoryFrame followed by a slot that is written before it is read, without the
// copy.
void HandSlotToHistory(PassSlots &slots, int s, int history);

// Bounds of every slot (or of slot s) at width x rows, rows exactly width x bytes a pixel.
void SetSlotBounds(PassSlots &slots, int s, int rows);
void SetAllSlotBounds(PassSlots &slots, int rows);

// Where the source frames come from, as the passes read and decode them.
struct PassSource
{
    Media media = nullptr;       // QuickTime sources
    TimeValue readTime = 0;      // next media time to read
    TimeValue durationLimit = 0; // the read time is held at limit - 1 once it reaches it
    bool fromAvi = false;        // frames read by the AVI reader (AVI files)
    bool aviUncompressed = false;
    CodecQ decodeQuality = codecMaxQuality;
};

// The source of this movie (SourceKind and the AVI reader's flags), read from time 0.
PassSource MakePassSource(Media media, TimeValue durationLimit, CodecQ decodeQuality);
// An AVI source read by the own reader: opens its decompressor for frames of the source size.
// 1 ready (or none needed), 0 failed ("Decompress error" shown).
int OpenPassDecompressor(int width, int height);

// Reads the next source frame into slot s. 1 ok, 0 failed (shown, or kept in *fault when given).
int ReadSlot(PassSlots &slots, PassSource &source, int s, PassFault *fault = nullptr);
// Group fill: slots 0 and 1 take 5 and 6 (every group but the first), then the new frames.
// A stop request while reading is left to the caller. 1 ok, 0 failed (shown, or kept in *fault
// when given).
int FillGroupSlots(PassSlots &slots, PassSource &source, bool firstGroup,
                   PassFault *fault = nullptr);
// Decodes the group filled last into the slot pictures: slots 1 to 6 of the first group (slot 0
// then takes slot 1's picture), else 2 to 6, slots 0 and 1 taking the pictures that slots 5 and 6
// had when decoded: the same pictures, decoded once. Frames of the media layer's codecs and
// uncompressed AVI frames decode at the same time on the worker pool; the own DVCPRO HD decoder
// and AVI decompressors take them one by one, and a stop request between two ends the decoding
// (the slots after it keep what they held). 1 ok, 0 failed (the first failing slot's error shown).
int DecodeGroupSlots(PassSlots &slots, const PassSource &source, bool firstGroup);
// The next group ahead of its turn, for sources whose frames decode at the same time: its frames
// are read now (a failure is kept) and decoded into the other set of pictures on the worker pool
// behind the caller, which meanwhile compresses and writes the group in hand. false: nothing was
// done (another source, or no memory for the other set): the next group is read and decoded in
// its turn.
bool StartNextGroup(PassSlots &slots, PassSource &source);
// The group StartNextGroup began becomes the slots' group (the two sets of pictures swap), as
// FillGroupSlots and DecodeGroupSlots would have made it. 1 ok, 0 its failure shown.
int TakeNextGroup(PassSlots &slots);
// The group in the slots: the one StartNextGroup began when *nextStarted (then cleared), else
// read and decoded now, after the pass's yield. 1 ok, 0 failed (shown).
int BringInGroup(PassSlots &slots, PassSource &source, bool firstGroup, bool *nextStarted);

// How one output frame is written.
struct PassOutput
{
    Media media = nullptr; // QuickTime output
    Rect rect;             // the output frame
    // Formatted with the result when it holds "%d" (the PAL-to-NTSC text).
    const char *addSampleError = "AddMediaSample Error\rOut of disk space?";
};

// Compresses and writes slot s; copyFrom >= 0 writes that slot's compressed source frame as it
// is, with the source description and its own byte count. *size gets the compressed size.
// 1 ok, 0 failed (shown).
int WriteSlotFrame(PassSlots &slots, const PassOutput &out, int s, int copyFrom, long *size);
// The n output slots of list[] compressed at the same time on the worker pool, while preview(k)
// shows them one after another: for outputs compressed through the media layer's codecs and for
// uncompressed AVI. A chosen compressor (standard compression or an AVI compressor) takes one
// frame at a time: nothing is done and the result is false; WriteSlotFrame then makes and writes
// each frame. true: WriteMadeFrame (k) writes frame k, in order.
bool MakeOutputFrames(PassSlots &slots, const PassOutput &out, const int *list, int n,
                      const std::function<void(int)> &preview);
// Writes frame k of MakeOutputFrames; *size gets its size. 1 ok, 0 failed (shown: that frame's
// compression error, or the write's).
int WriteMadeFrame(PassSlots &slots, const PassOutput &out, int k, long *size);
// An AVI source read by the own reader shows each output picture in its playback window,
// converted through the work frame.
void PaintSlotInPlayer(PassSlots &slots, const PassOutput &out, int s);

// The first four characters of text begin with "dv" or end with "vd".
bool IsDvCodecText(const char *text);
