#pragma once

#include <cstdint>

// The one AVI file open for writing: RIFF "AVI " then "AVIX" forms, video "00db" and 16-bit PCM
// "01wb" chunks, a legacy "idx1" in the first form, "ix00"/"ix01" standard indexes written into
// room reserved at the start of each "movi" list, and two OpenDML super indexes in the header.
// The header has the same size for every movie; sizes known only at the end are patched.
// One thread at a time writes (the processing thread or the MPEG-2 output stage).

constexpr int kAviMaxSegmentFrames = 3500;        // video (and audio) chunks per segment
constexpr int kAviFramesPerSegmentNoSize = 178;   // when biSizeImage is 0
constexpr int kAviIdx1Room = 10501;               // chunks of one segment in "idx1"
constexpr int kAviSuperIndexRoom = 2014;          // segments the header's super indexes hold
constexpr uint32_t kAviSegmentBytes = 0x40000000; // a "movi" list ends past 1 GiB
constexpr uint32_t kAviIndexRoomBytes = 32248;    // data of a reserved standard index chunk
constexpr int kAviMaxVideoFormatBytes = 4136;     // strf of the video stream
constexpr int kAviMaxReelNameChars = 255;

// BITMAPINFOHEADER as it lies in memory and in the file (little-endian, 40 bytes).
struct AviBitmapHeader
{
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 24;
    uint32_t biCompression = 0; // MakeFourCC code, 0 for RGB
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
static_assert(sizeof(AviBitmapHeader) == 40);

struct AviWriteState
{
    int fd = -1;
    int writeErrorShown = 0;
    int failed = 0; // the file cannot go on (index room used up); nothing more is written
    int framesPerSegment = 0;
    int newSegmentDue = 0;
    uint64_t riffSize = 0; // bytes after the current form's size field
    int64_t riffSizePos = 0;
    uint64_t moviSize = 0; // bytes after the current "movi" size field (and header counts)
    int64_t moviSizePos = 0;
    int64_t ix00JunkPos = 0;
    int64_t ix01JunkPos = 0;
    int64_t firstIx00JunkPos = 0;
    int segmentIndex = 0;
    int segVideoCount = 0;
    int64_t segVideoOff[kAviMaxSegmentFrames] = {};
    uint32_t segVideoSize[kAviMaxSegmentFrames] = {};
    int segAudioCount = 0;
    int64_t segAudioOff[kAviMaxSegmentFrames] = {};
    uint32_t segAudioSize[kAviMaxSegmentFrames] = {};
    uint32_t segAudioSamples = 0;
    int idx1Count = 0;
    int64_t idx1Off[kAviIdx1Room] = {};
    uint32_t idx1Size[kAviIdx1Room] = {};
    uint8_t idx1Type[kAviIdx1Room] = {}; // 2 video, 1 audio
    uint32_t totalVideoFrames = 0;
    uint32_t totalAudioSamples = 0;
    uint32_t maxVideoChunk = 0;
    uint32_t maxAudioChunk = 0;
    int audioBlockAlign = 4; // bytes of one sample frame in the audio header
    int videoSuperCount = 0; // super index entries written so far
    int audioSuperCount = 0;
    uint8_t mainHeader[56] = {};
    uint8_t videoStreamHeader[56] = {};
    uint8_t audioStreamHeader[56] = {};
    uint8_t audioFormat[18] = {};
    // Patch positions.
    int64_t avihTotalFramesPos = 0;
    int64_t avihSuggestedBufferPos = 0;
    int64_t videoLengthPos = 0;
    int64_t videoSuggestedBufferPos = 0;
    int64_t audioLengthPos = 0;
    int64_t audioSuggestedBufferPos = 0;
    int64_t dmlhTotalFramesPos = 0;
    int64_t videoSuperCountPos = 0;
    int64_t audioSuperCountPos = 0;
    int64_t videoSuperFirstEntryPos = 0;
    int64_t audioSuperFirstEntryPos = 0;
};

extern AviWriteState gAviWriteState;

// Header set-ups. Each returns 1 when the header was written, 0 when the output was refused or
// could not be opened (the user was told).
int AviBeginDV(const char *path, uint32_t totalFrames, int isPal);
int AviBeginDV50(const char *path, uint32_t totalFrames, int isPal);
int AviBeginRGB(const char *path, uint32_t totalFrames, uint32_t rate, uint32_t scale, int height,
                int width);
// Opens path (replacing an older file) and writes everything up to the reserved index room of
// the first "movi" list. bitmapHeader: a BITMAPINFOHEADER of biSize bytes (at least 40 are read).
// startTime in 100 ns units. 1 ok, 0 refused (more than kAviSuperIndexRoom segments, a format
// larger than kAviMaxVideoFormatBytes) or not opened.
int AviWriteHeader(const char *path, uint32_t totalFrames, uint32_t scale, uint32_t rate,
                   const char *reelName, int64_t startTime, const void *bitmapHeader);
void SetOutputFrameSize(int width, int height);
uint32_t MakeFourCC(const char *text); // first character in the low byte

int AviOpenWrite(const char *path);
void AviCloseWrite();
int64_t AviWriteTell();
void AviWriteFourCC(const char *code);
void AviWriteDword(uint32_t value);
void AviWriteWord(uint16_t value);
void AviWriteBytes(const void *data, uint64_t length);
int64_t AviWriteSizeField(uint32_t value);
void AviPatchDword(int64_t pos, uint32_t value);
void AviPatchWord(int64_t pos, uint16_t value);
void AviPatchQword(int64_t pos, uint64_t value);
void AviPatchFourCC(int64_t pos, const char *code);

// Chunks, segments, indexes and closing. Odd-sized chunks get a pad byte (not counted in their
// size field or index entries). The audio stream of the file is stream 1: every audio chunk is
// written as "01wb", whatever id the caller names.
void AviWriteVideoFrame(const void *data, uint32_t length);
void AviWriteAudioChunk(const char *id, const void *data, uint32_t length);
void AviFinishSegment();
void AviPatchTotals();
void AviCloseOutput();
