#include "engine/conversion_options.h"
#include "formats/dv_setup.h"
#include "formats/dv_setup_hooks.h"
#include "formats/mxf_clip_state.h"
#include "platform/media/movies.h"
#include "platform/media/timecode_media.h"
#include "platform/sys/bytes.h"

// The DV subcode time code and the output movie's timecode track. Apart from the set-up because
// the movie and image compression headers cannot be included together.

namespace {

using lc::FourCC;

// AddTimecodeTrack's result when the movie has no track of the asked type.
constexpr OSErr kNoTrackOfType = -2030;

// The time code pack: fourth subcode sync block of the first subcode DIF block.
constexpr int kTimecodePackAt = 110;
constexpr uint8_t kTimecodePackId = 0x13;

} // namespace

void ReadDvTimecode(uint8_t out[4], const uint8_t *frame, int32_t frameBytes, int mode)
{
    // 1. Only mode 0 reads (the processing flow passes 1 for 625-line frames).
    if (mode != 0 || !frame || frameBytes < kTimecodePackAt + 5) {
        return;
    }
    // 2. The time code pack, in BCD.
    const uint8_t *pack = frame + kTimecodePackAt;
    if (pack[0] != kTimecodePackId) {
        return;
    }
    const uint8_t b1 = pack[1], b2 = pack[2], b3 = pack[3], b4 = pack[4];
    gMxfClipState.sourceDropFrame = (b1 & 0x40) ? 1 : 0;
    int frames = ((b1 >> 4) & 3) * 10 + (b1 & 15);
    const int seconds = ((b2 >> 4) & 7) * 10 + (b2 & 15);
    const int minutes = ((b3 >> 4) & 7) * 10 + (b3 & 15);
    const int hours = ((b4 >> 4) & 3) * 10 + (b4 & 15);
    // A 30 frames/s source made into 25P counts its frames in 24ths.
    const ConversionOptions &o = gConversionOptions;
    if (gDvSetupHooks.frameRate() == 30
        && (o.pulldown2332To25P || o.pulldown32To25P || o.convert60iTo25P)) {
        frames = frames * 24 / 30;
    }
    out[0] = uint8_t(hours);
    out[1] = uint8_t(minutes);
    out[2] = uint8_t(seconds);
    out[3] = uint8_t(frames);
    gMxfClipState.sourceTimecodeFound = 1;
}

OSErr AddTimecodeTrack(Movie movie, OSType mediaType)
{
    // 1. Time code definition of the output video.
    const int timeScale = gDvSetupHooks.timeScale();
    const int sampleDuration = gDvSetupHooks.sampleDuration();
    if (timeScale <= 0 || sampleDuration <= 0) {
        return paramErr;
    }
    TimeCodeDef def;
    def.fTimeScale = timeScale;
    def.frameDuration = sampleDuration;
    def.numFrames = uint8_t(double(timeScale) / sampleDuration + 0.5);
    // Drop-frame counting exists only at 30 and 60 frames/s: an NTSC source made into 25P keeps
    // a plain count, which readers accept.
    const bool dropFrame = gMxfClipState.sourceDropFrame && def.numFrames % 30 == 0;
    def.flags = (dropFrame ? tcDropFrame : 0) | tcNegTimesOK;
    TimeCodeRecord rec;
    rec.hours = gMxfClipState.sourceTimecode[0];
    rec.minutes = gMxfClipState.sourceTimecode[1];
    rec.seconds = gMxfClipState.sourceTimecode[2];
    rec.frames = gMxfClipState.sourceTimecode[3];

    // 2. The video track it belongs to.
    Track videoTrack = GetMovieIndTrackType(movie, 1, mediaType, movieTrackMediaType);
    if (!videoTrack) {
        return kNoTrackOfType;
    }
    Fixed videoWidth = 0, videoHeight = 0;
    GetTrackDimensions(videoTrack, &videoWidth, &videoHeight);

    // 3. Track, media and handler; a missing one ends here with its code.
    Track track = NewMovieTrack(movie, videoWidth, 20 * FixedOne, 0);
    if (!track) {
        return GetMoviesError();
    }
    Media media = NewTrackMedia(track, TimeCodeMediaType, GetMovieTimeScale(movie), nullptr, 0);
    if (!media) {
        return GetMoviesError();
    }
    MediaHandler handler = GetMediaHandler(media);
    if (!handler) {
        return GetMoviesError();
    }

    // 4. Display settings: the track is sized for the text but neither enabled nor shown.
    TCTextOptions textOptions;
    TCGetDisplayOptions(handler, &textOptions);
    const unsigned char emptyName[1] = {0};
    GetFNum(emptyName, &textOptions.txFont);
    TCSetDisplayOptions(handler, &textOptions);
    unsigned char tcText[32];
    TCTimeCodeToString(handler, &def, &rec, tcText);
    TextFont(textOptions.txFont);
    TextFace(textOptions.txFace);
    TextSize(textOptions.txSize);
    FontInfo fontInfo{};
    GetFontInfo(&fontInfo);
    SetTrackDimensions(track, videoWidth, (fontInfo.ascent + fontInfo.descent + 2) * FixedOne);
    MatrixRecord matrix;
    GetTrackMatrix(track, &matrix);
    SetTrackMatrix(track, &matrix);
    SetTrackEnabled(track, false);
    TCSetTimeCodeFlags(handler, 0, tcdfShowTimeCode);

    // 5. Sample description holding the definition.
    const OSErr editErr = BeginMediaEdits(media);
    auto desc =
        reinterpret_cast<TimeCodeDescriptionHandle>(NewHandleClear(kTimeCodeDescriptionFixedSize));
    if (!desc) {
        return memFullErr;
    }
    (**desc).descSize = kTimeCodeDescriptionFixedSize;
    (**desc).dataFormat = TimeCodeMediaType;
    (**desc).tcFlags = int32_t(def.flags);
    (**desc).fTimeScale = def.fTimeScale;
    (**desc).frameDuration = def.frameDuration;
    (**desc).numFrames = def.numFrames;

    // 6. Source reference: an empty tape name. A failing call only drops it.
    UserData userData = nullptr;
    if (NewUserData(&userData) == noErr) {
        Handle nameHandle = nullptr;
        if (PtrToHand("", &nameHandle, 0) == noErr) {
            if (AddUserDataText(userData, nameHandle, FourCC("name"), 1, 0) == noErr) {
                TCSetSourceRef(handler, desc, userData);
            }
            DisposeHandle(nameHandle);
        }
        DisposeUserData(userData);
    }

    // 7. One sample: the frame number of the source time code, lasting the whole movie.
    OSErr err = noErr;
    const TimeValue movieDuration = GetMovieDuration(movie);
    if (editErr == noErr) {
        Handle sample = NewHandle(4);
        if (!sample) {
            DisposeHandle(reinterpret_cast<Handle>(desc));
            return memFullErr;
        }
        long frameNumber = 0;
        TCTimeCodeToFrameNumber(handler, &def, &rec, &frameNumber);
        lc::StoreU32be(reinterpret_cast<uint8_t *>(*sample), uint32_t(frameNumber));
        err = AddMediaSample(media, sample, 0, 4, movieDuration,
                             reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0, nullptr);
        DisposeHandle(sample);
        if (err != noErr) {
            DisposeHandle(reinterpret_cast<Handle>(desc));
            return err;
        }
    }

    // 8. Into the track, referenced by the video track.
    err = EndMediaEdits(media);
    if (err == noErr) {
        err = InsertMediaIntoTrack(track, 0, 0, movieDuration, FixedOne);
    }
    if (err == noErr) {
        err = AddTrackReference(videoTrack, track, TimeCodeMediaType, nullptr);
    }

    // 9. The description was copied into the media.
    DisposeHandle(reinterpret_cast<Handle>(desc));
    return err;
}
