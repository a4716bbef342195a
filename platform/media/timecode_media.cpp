#include "platform/media/timecode_media.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/media/internal/movie_model.h"
#include "platform/sys/bytes.h"

struct UserDataRecord
{
    struct Item
    {
        OSType type;
        std::string text;
    };
    std::vector<Item> items;
};

namespace {

OSErr Set(OSErr err)
{
    SetMoviesError(err);
    return err;
}

bool ValidDef(const TimeCodeDef *d) { return d && d->numFrames > 0; }

// Frames dropped per minute in drop-frame counting: 2 at 30 frames a second, 4 at 60. Other
// rates (25, 24) have no drop-frame counting, whatever the flag says.
long DropPerMinute(const TimeCodeDef *d)
{
    if (!(d->flags & tcDropFrame) || d->numFrames % 30 != 0) {
        return 0;
    }
    return d->numFrames / 15;
}

} // namespace

MediaHandler GetMediaHandler(Media theMedia)
{
    if (!theMedia) {
        Set(invalidMedia);
        return nullptr;
    }
    theMedia->handler.media = theMedia;
    Set(noErr);
    return &theMedia->handler;
}

OSErr TCGetDisplayOptions(MediaHandler mh, TCTextOptions *textOptions)
{
    if (!mh || !textOptions) {
        return Set(paramErr);
    }
    *textOptions = mh->textOptions;
    return Set(noErr);
}

OSErr TCSetDisplayOptions(MediaHandler mh, const TCTextOptions *textOptions)
{
    if (!mh || !textOptions) {
        return Set(paramErr);
    }
    mh->textOptions = *textOptions;
    return Set(noErr);
}

OSErr TCSetTimeCodeFlags(MediaHandler mh, long flags, long flagsMask)
{
    if (!mh) {
        return Set(paramErr);
    }
    mh->tcFlags = (mh->tcFlags & ~flagsMask) | (flags & flagsMask);
    return Set(noErr);
}

OSErr TCGetTimeCodeFlags(MediaHandler mh, long *flags)
{
    if (!mh || !flags) {
        return Set(paramErr);
    }
    *flags = mh->tcFlags;
    return Set(noErr);
}

OSErr TCTimeCodeToString(MediaHandler mh, const TimeCodeDef *tcdef, const TimeCodeRecord *tcrec,
                         unsigned char *tcStr)
{
    if (!mh || !ValidDef(tcdef) || !tcrec || !tcStr) {
        return Set(paramErr);
    }
    char text[32];
    bool negative = (tcrec->frames & 0x80) != 0;
    std::snprintf(text, sizeof text, "%s%02u:%02u:%02u%c%02u", negative ? "-" : "",
                  unsigned(tcrec->hours), unsigned(tcrec->minutes), unsigned(tcrec->seconds),
                  (tcdef->flags & tcDropFrame) ? ';' : ':', unsigned(tcrec->frames & 0x7f));
    size_t n = std::strlen(text);
    tcStr[0] = uint8_t(n);
    std::memcpy(tcStr + 1, text, n);
    return Set(noErr);
}

OSErr TCTimeCodeToFrameNumber(MediaHandler mh, const TimeCodeDef *tcdef,
                              const TimeCodeRecord *tcrec, long *frameNumber)
{
    if (!mh || !ValidDef(tcdef) || !tcrec || !frameNumber) {
        return Set(paramErr);
    }
    long fps = tcdef->numFrames;
    long frames = tcrec->frames & 0x7f;
    if (tcrec->minutes > 59 || tcrec->seconds > 59 || frames >= fps) {
        return Set(paramErr);
    }
    long minutes = long(tcrec->hours) * 60 + tcrec->minutes;
    long n = (minutes * 60 + tcrec->seconds) * fps + frames;
    n -= DropPerMinute(tcdef) * (minutes - minutes / 10);
    *frameNumber = (tcrec->frames & 0x80) ? -n : n;
    return Set(noErr);
}

OSErr TCFrameNumberToTimeCode(MediaHandler mh, long frameNumber, const TimeCodeDef *tcdef,
                              TimeCodeRecord *tcrec)
{
    if (!mh || !ValidDef(tcdef) || !tcrec) {
        return Set(paramErr);
    }
    bool negative = frameNumber < 0;
    long n = negative ? -frameNumber : frameNumber;
    long fps = tcdef->numFrames;
    long drop = DropPerMinute(tcdef);
    if (drop) {
        // Ten-minute blocks keep every frame number in their first minute.
        long perTen = fps * 600 - drop * 9;
        long perMinute = fps * 60 - drop;
        long tens = n / perTen;
        long rest = n % perTen;
        n += drop * 9 * tens;
        if (rest >= drop) {
            n += drop * ((rest - drop) / perMinute);
        }
    }
    long frames = n % fps;
    long seconds = n / fps;
    tcrec->frames = uint8_t(frames | (negative ? 0x80 : 0));
    tcrec->seconds = uint8_t(seconds % 60);
    tcrec->minutes = uint8_t(seconds / 60 % 60);
    long hours = seconds / 3600;
    if (tcdef->flags & tc24HourMax) {
        hours %= 24;
    }
    tcrec->hours = uint8_t(hours);
    return Set(noErr);
}

OSErr TCSetSourceRef(MediaHandler mh, TimeCodeDescriptionHandle tcdH, UserData srefH)
{
    if (!mh || !tcdH || !*tcdH || !srefH) {
        return Set(paramErr);
    }
    std::string name;
    for (const auto &item : srefH->items) {
        if (item.type == lc::FourCC("name")) {
            name = item.text;
            break;
        }
    }
    if (name.size() > 255) {
        name.resize(255);
    }
    // The source reference follows the fixed part as a 'name' extension.
    lc::ByteWriter w;
    w.u32be(uint32_t(12 + name.size()));
    w.fourcc("name");
    w.u16be(uint16_t(name.size()));
    w.u16be(0);
    w.bytes(name.data(), name.size());
    Handle h = reinterpret_cast<Handle>(tcdH);
    SetHandleSize(h, int32_t(kTimeCodeDescriptionFixedSize + w.size()));
    if (MemError() != noErr) {
        return Set(memFullErr);
    }
    std::memcpy(*h + kTimeCodeDescriptionFixedSize, w.buffer().data(), w.size());
    (**tcdH).descSize = int32_t(kTimeCodeDescriptionFixedSize + w.size());
    return Set(noErr);
}

OSErr NewUserData(UserData *theUserData)
{
    if (!theUserData) {
        return Set(paramErr);
    }
    *theUserData = new (std::nothrow) UserDataRecord();
    return Set(*theUserData ? noErr : memFullErr);
}

OSErr DisposeUserData(UserData theUserData)
{
    delete theUserData;
    return Set(noErr);
}

OSErr AddUserDataText(UserData theUserData, Handle data, OSType udType, long, short)
{
    if (!theUserData || !data) {
        return Set(paramErr);
    }
    theUserData->items.push_back({udType, std::string(*data, size_t(GetHandleSize(data)))});
    return Set(noErr);
}

OSErr PtrToHand(const void *srcPtr, Handle *dstHndl, long size)
{
    if (!dstHndl || size < 0 || (size > 0 && !srcPtr) || size > INT32_MAX) {
        return Set(paramErr);
    }
    *dstHndl = NewHandle(int32_t(size));
    if (!*dstHndl) {
        return Set(memFullErr);
    }
    if (size > 0) {
        std::memcpy(**dstHndl, srcPtr, size_t(size));
    }
    return Set(noErr);
}

// One built-in font: the timecode display only asks for its metrics.
void GetFNum(const unsigned char *, short *familyID)
{
    if (familyID) {
        *familyID = 0;
    }
}
void TextFont(short) {}
void TextFace(short) {}
void TextSize(short) {}
void GetFontInfo(FontInfo *info)
{
    if (info) {
        *info = FontInfo{9, 3, 8, 0};
    }
}
