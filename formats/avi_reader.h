#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// The one AVI file open for reading (RIFF "AVI " with OpenDML "AVIX" forms and indexes).
// One thread at a time uses it: the processing thread, the playback thread or the GUI thread
// while a movie is opened; callers never overlap.

constexpr int kAviStreamSlots = 2;          // streams beyond the first two are ignored
constexpr int kAviMainHeaderBytes = 56;     // avih
constexpr int kAviStreamHeaderBytes = 56;   // strh
constexpr int kAviStreamFormatBytes = 4136; // video strf: BITMAPINFOHEADER and what follows
constexpr int kAviAudioFormatBytes = 16;    // WAVEFORMATEX without cbSize
constexpr uint32_t kAviSuperIndexEntries = 256;

struct AviSuperIndexEntry
{
    uint64_t qwOffset = 0; // file position of the standard index chunk
    uint32_t dwSize = 0;
    uint32_t dwDuration = 0; // frames the standard index covers
};

// One video entry of the legacy "idx1" index.
struct AviIdx1Frame
{
    uint32_t offset = 0; // chunk header position, as stored (relative or absolute)
    uint32_t size = 0;
};

struct AviReadState
{
    int fd = -1;        // opened read-write, as the system always has; -1 when closed
    int resultCode = 0; // result of the last AviOpenRead
    int debugLog = 0;   // "avidebug.txt" is written for this file
    FILE *debugFile = nullptr;
    int64_t fileSize = 0;

    uint32_t totalFrames = 0;  // avih dwTotalFrames, or the dmlh total; see chunksPerFrame
    uint32_t framesRead = 0;   // video chunks read by AviReadNextFrame
    int64_t lastChunkSize = 0; // before the first frame: avih dwSuggestedBufferSize
    int64_t lastFramePos = -1; // data position of the last video chunk read; -1 none yet
    int64_t riffBytesLeft = 0;
    int64_t moviBytesLeft = 0;
    int64_t moviStart = 0;     // just after the first "movi" list type
    int64_t sequentialPos = 0; // where AviReadNextFrame goes on (seeking does not move it)
    int64_t savedRiffBytesLeft = 0;
    int64_t savedMoviBytesLeft = 0;

    int frameWidth = 0; // also set by the writer (SetOutputFrameSize)
    int frameHeight = 0;
    int isInterleavedDV = 0; // the last stream header read is "iavs"/"ivas"
    int isDV = 0;
    int isOtherDV = 0;
    int isUncompressed = 0;
    int isTopDown = 0; // video biHeight < 0: rows are stored top-down (frames are turned over)
    int64_t topDownRowBytes = 0; // row length and count of such frames, taken at open
    int64_t topDownRows = 0;
    char handlerText[5] = {};
    char compressionText[5] = {};

    uint8_t mainHeader[kAviMainHeaderBytes] = {};
    uint8_t streamHeaders[kAviStreamSlots][kAviStreamHeaderBytes] = {};
    uint8_t streamFormats[kAviStreamSlots][kAviStreamFormatBytes] = {};
    int streamFormatBytes[kAviStreamSlots] = {}; // bytes of streamFormats read (0: none)
    uint8_t audioFormats[kAviStreamSlots][kAviAudioFormatBytes] = {};
    int videoStream = -1; // stream number of the first video stream ("nndc"/"nndb")
    int audioStream = -1; // stream number of the audio stream handed on ("nnwb")
    int audioFormatTag = 0;
    int audioWarningShown = 0;

    AviSuperIndexEntry superIndex[kAviSuperIndexEntries] = {};
    uint32_t superIndexCount = 0;

    int64_t idx1Pos = 0; // "idx1" data position once located; 0 = not yet
    uint32_t idx1Length = 0;
    std::vector<AviIdx1Frame> idx1Frames; // video entries, loaded with idx1Pos
    int64_t idx1Base = 0;                 // added to an entry's offset to reach its chunk
    uint32_t seekedChunkSize = 0;

    // A video time base finer than the pictures (ffmpeg copying a movie into AVI writes 1/50 for
    // 25 frames/s and 1001/60000 for 29.97, with an empty chunk for each tick without a new
    // picture): the stream is read at its pictures' rate, chunksPerFrame chunks a frame.
    uint32_t chunksPerFrame = 1;
    uint32_t firstSlotChunk = 0;       // video chunk where frame 0 starts (chunksPerFrame > 1)
    uint32_t videoChunksRead = 0;      // video chunks walked by AviReadNextFrame
    std::vector<uint32_t> frameChunks; // chunksPerFrame > 1: frame -> video chunk of its picture

    // Written by the AVI writer's header: where fccHandler and biCompression were written.
    int64_t handlerFieldPos = 0;
    int64_t compressionFieldPos = 0;
};

extern AviReadState gAviReadState;

// Result codes of AviOpenRead.
constexpr int kAviOpenOk = 0;
constexpr int kAviOpenTruncated = 1;  // end of the file before "movi"
constexpr int kAviOpenNotAvi = 2;     // not a RIFF "AVI " file
constexpr int kAviOpenCannotOpen = 4; // cannot be opened read-write
constexpr int kAviOpenDeepColor = 6;  // uncompressed video of more than 24 bits

// Opens path and reads up to the first "movi" list. totalFrames and isExtended (a second RIFF
// follows the first) may be null. The handle stays open after a failure until AviCloseRead.
int AviOpenRead(const char *path, uint32_t *totalFrames, int *isExtended);
// The text shown for result codes 1, 2, 4 and 6; "" for others.
const char *AviErrorText(int resultCode);
void AviCloseRead();
int AviGetFrameWidth();
int AviGetFrameHeight();
int AviIsInterleavedDV();
// Frees *format (malloc'd, may be null), then sets it to a malloc'd copy of the video stream's
// format (its biSize bytes, at least 40) or to null when none was read.
void AviCopyStreamFormat(void **format);
void AviRewindToMovi();
// Next video chunk into buffer; audio chunks met on the way go to the sound output. Returns the
// frame's bytes, 0 at the end, on an error, or for a chunk larger than bufferSize (then skipped).
// After the last frame (framesRead >= totalFrames) returns the last frame again; so does an empty
// (dropped-frame) chunk, which before any frame is passed over. A stream read at its pictures'
// rate (chunksPerFrame > 1) gives one frame for each chunksPerFrame video chunks.
int AviReadNextFrame(uint8_t *buffer, int bufferSize);
// Hands every audio chunk after the sequential position to the sound output: 1 done, 0 failed.
int AviReadRemainingAudio();
// Positions at video frame n (0-based) by the OpenDML or the "idx1" index: 1 found, 0 not. Frames
// count at the pictures' rate, as AviReadNextFrame counts them.
int AviSeekFrame(uint32_t n);
// Reads the chunk AviSeekFrame found; its size, or 0 (nothing found, too large, cut short).
int AviReadSeekedFrame(uint8_t *buffer, int bufferSize);
