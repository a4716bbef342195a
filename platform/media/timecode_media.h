#pragma once

#include <cstdint>

#include "platform/media/media_types.h"

// The timecode media handler and the small text, font and user-data calls the timecode track
// set-up makes. A 'tmcd' sample is one big-endian 32-bit frame number.

struct MediaHandlerRecord;
using MediaHandler = MediaHandlerRecord *;
struct UserDataRecord;
using UserData = UserDataRecord *;

// Handler of a media; null (invalidMedia) for a null media. Owned by the media.
MediaHandler GetMediaHandler(Media theMedia);

constexpr long tcDropFrame = 1 << 0;
constexpr long tc24HourMax = 1 << 1;
constexpr long tcNegTimesOK = 1 << 2;

struct TimeCodeDef
{
    long flags = 0;          // tcDropFrame, tc24HourMax, tcNegTimesOK
    TimeScale fTimeScale = 0;
    TimeValue frameDuration = 0;
    uint8_t numFrames = 0;   // frames per second
};

struct TimeCodeRecord
{
    uint8_t hours = 0, minutes = 0, seconds = 0, frames = 0; // frames bit 7: negative
};

// Description of a 'tmcd' sample. In the handle: these fields (native order), then any
// extensions as the file holds them (the file's entry is 2 bytes shorter: 34-byte fixed part).
struct TimeCodeDescription
{
    int32_t descSize;
    OSType dataFormat; // 'tmcd'
    int32_t resvd1;
    int16_t resvd2;
    int16_t dataRefIndex;
    int32_t flags;     // reserved, 0
    int32_t tcFlags;   // TimeCodeDef::flags
    int32_t fTimeScale;
    int32_t frameDuration;
    uint8_t numFrames;
    uint8_t padding[3];
};
using TimeCodeDescriptionPtr = TimeCodeDescription *;
using TimeCodeDescriptionHandle = TimeCodeDescription **;
constexpr int32_t kTimeCodeDescriptionFixedSize = 36; // in a handle

struct TCTextOptions
{
    short txFont = 0;
    short txFace = 0;
    short txSize = 12;
    short pad = 0;
    uint16_t foreColor[3] = {0xffff, 0xffff, 0xffff};
    uint16_t backColor[3] = {0, 0, 0};
};

constexpr long tcdfShowTimeCode = 1 << 0;

OSErr TCGetDisplayOptions(MediaHandler mh, TCTextOptions *textOptions);
OSErr TCSetDisplayOptions(MediaHandler mh, const TCTextOptions *textOptions);
OSErr TCSetTimeCodeFlags(MediaHandler mh, long flags, long flagsMask);
OSErr TCGetTimeCodeFlags(MediaHandler mh, long *flags);
// "hh:mm:ss:ff" (";" before the frames for drop frame) as a length-prefixed text.
OSErr TCTimeCodeToString(MediaHandler mh, const TimeCodeDef *tcdef, const TimeCodeRecord *tcrec,
                         unsigned char *tcStr);
// Frame count since 00:00:00:00, with drop-frame counting when tcdef says so.
OSErr TCTimeCodeToFrameNumber(MediaHandler mh, const TimeCodeDef *tcdef,
                              const TimeCodeRecord *tcrec, long *frameNumber);
OSErr TCFrameNumberToTimeCode(MediaHandler mh, long frameNumber, const TimeCodeDef *tcdef,
                              TimeCodeRecord *tcrec);
// Stores the user data's 'name' text (the tape name) in the description as a 'name' extension.
OSErr TCSetSourceRef(MediaHandler mh, TimeCodeDescriptionHandle tcdH, UserData srefH);

// User data: texts keyed by type.
OSErr NewUserData(UserData *theUserData);
OSErr DisposeUserData(UserData theUserData);
OSErr AddUserDataText(UserData theUserData, Handle data, OSType udType, long index,
                      short itlRegionTag);
OSErr PtrToHand(const void *srcPtr, Handle *dstHndl, long size);

// Text settings of the current port, as the timecode display asks for them; there is one font.
struct FontInfo
{
    short ascent, descent, widMax, leading;
};
void GetFNum(const unsigned char *name, short *familyID);
void TextFont(short font);
void TextFace(short face);
void TextSize(short size);
void GetFontInfo(FontInfo *info);
