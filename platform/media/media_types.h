#pragma once

#include <cstddef>
#include <cstdint>

// Types and result codes of the movie, track, media and codec services, shaped after what the
// system's code calls. Results are 0 or a negative 16-bit code; the last code is kept per thread.

using OSErr = int16_t;
using OSType = uint32_t;     // four-character code, file order: 'dvc ' is 0x64766320
using TimeValue = int32_t;   // in a movie's or a media's time scale
using TimeScale = int32_t;   // units per second
using Fixed = int32_t;       // 16.16
using UnsignedFixed = uint32_t;
using Boolean = uint8_t;

enum : OSErr
{
    noErr = 0,
    paramErr = -50,
    userCanceledErr = -128,
    memFullErr = -108,
    fnfErr = -43,
    dskFulErr = -34,
    ioErr = -36,
    eofErr = -39,
    badFormat = -2002,     // file content that cannot be read as a movie
    invalidMovie = -2010,
    invalidTrack = -2009,
    invalidMedia = -2008,
    invalidTime = -2015,
    noCodecErr = -8961,
    codecErr = -8960,
};

// Last code of the calling thread; every service call sets it (noErr on success).
OSErr GetMoviesError();
OSErr MemError();
void SetMoviesError(OSErr err);

constexpr Fixed FixedOne = 0x10000;
Fixed FixRatio(int16_t numer, int16_t denom);

// Memory handles: a pointer to the data pointer. The logical size sits over a grow-only capacity;
// a locked handle never moves. `*h` is the data.
using Ptr = char *;
using Handle = char **;
Handle NewHandle(int32_t size);      // null on failure (MemError says why)
Handle NewHandleClear(int32_t size);
void DisposeHandle(Handle h);        // null is ignored
int32_t GetHandleSize(Handle h);     // 0 for null
void SetHandleSize(Handle h, int32_t size); // MemError: memFullErr when a locked handle must move
void HLock(Handle h);
void HUnlock(Handle h);

struct Rect
{
    int16_t top = 0, left = 0, bottom = 0, right = 0;
};
void OffsetRect(Rect *r, int16_t dh, int16_t dv);

// 3x3 transform of a track or a decompression; [2][2] is 2.30 fixed (1 << 30).
struct MatrixRecord
{
    Fixed matrix[3][3];
};

// Image description of a video sample ('vide'), with the codec's code in cType. Extensions follow
// the fixed part inside the same handle (idSize counts them).
struct ImageDescription
{
    int32_t idSize;      // bytes of this record and its extensions
    OSType cType;        // codec code: 'dvc ', 'dvcp', 'raw ', '2vuy', 'yuvs', 'jpeg', ...
    int32_t resvd1;
    int16_t resvd2;
    int16_t dataRefIndex;
    int16_t version;
    int16_t revisionLevel;
    OSType vendor;
    uint32_t temporalQuality;
    uint32_t spatialQuality;
    int16_t width;
    int16_t height;
    Fixed hRes;          // 72 dpi = 0x00480000
    Fixed vRes;
    int32_t dataSize;    // bytes of one compressed frame, 0 when unknown
    int16_t frameCount;  // 1
    char name[32];       // Pascal string: length byte, then text
    int16_t depth;       // 24, 32, 16 ...
    int16_t clutID;      // -1
};
using ImageDescriptionPtr = ImageDescription *;
using ImageDescriptionHandle = ImageDescription **;

// Sound description of a sound sample ('soun'), 36 bytes, rate 16.16.
struct SoundDescription
{
    int32_t descSize;    // 36
    OSType dataFormat;   // 'sowt' 16-bit little-endian PCM, 'twos' big-endian, others passed through
    int32_t resvd1;
    int16_t resvd2;
    int16_t dataRefIndex;
    int16_t version;
    int16_t revlevel;
    OSType vendor;
    int16_t numChannels;
    int16_t sampleSize;  // bits per sample
    int16_t compressionID;
    int16_t packetSize;
    UnsignedFixed sampleRate;
};
using SoundDescriptionPtr = SoundDescription *;
using SoundDescriptionHandle = SoundDescription **;

// Any sample description: begins with its size and its format code.
struct SampleDescription
{
    int32_t descSize;
    OSType dataFormat;
    int32_t resvd1;
    int16_t resvd2;
    int16_t dataRefIndex;
};
using SampleDescriptionPtr = SampleDescription *;
using SampleDescriptionHandle = SampleDescription **;

// Opaque objects of the services. A null one given to a call is an error, never a crash.
struct MovieRecord;
struct TrackRecord;
struct MediaRecord;
struct GWorldRecord;
struct ComponentRecord;
struct MovieControllerRecord;
using Movie = MovieRecord *;
using Track = TrackRecord *;
using Media = MediaRecord *;
using GWorldPtr = GWorldRecord *;
using ComponentInstance = ComponentRecord *;
using MovieController = MovieControllerRecord *;

// Media and track kinds.
constexpr OSType VideoMediaType = 0x76696465;     // 'vide'
constexpr OSType SoundMediaType = 0x736f756e;     // 'soun'
constexpr OSType TimeCodeMediaType = 0x746d6364;  // 'tmcd'
constexpr OSType VisualMediaCharacteristic = 0x65796573; // 'eyes'
constexpr OSType AudioMediaCharacteristic = 0x65617273;  // 'ears'
