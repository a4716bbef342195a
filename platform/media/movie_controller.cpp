#include "platform/media/movie_controller.h"

#include <atomic>
#include <cstdint>
#include <new>

#include "platform/media/movies.h"
#include "platform/sys/clock.h"

struct MovieControllerRecord
{
    Movie movie = nullptr;
    Rect box;
    bool keysEnabled = false;
    Fixed rate = 0;          // 0 paused, 0x10000 normal speed
    TimeValue time = 0;      // movie time shown
    TimeValue playFrom = 0;  // movie time when playing started
    uint32_t playTick = 0;   // clock when playing started (ms)
    bool tracking = false;   // the slider follows the mouse until the button comes up
};

namespace {

std::atomic<MovieFrameDecodeProc> gDecoder{nullptr};

OSErr Set(OSErr err)
{
    SetMoviesError(err);
    return err;
}

void Pause(MovieController mc) { mc->rate = 0; }

void Play(MovieController mc, Fixed rate)
{
    TimeValue duration = GetMovieDuration(mc->movie);
    if (rate > 0 && mc->time >= duration) {
        mc->time = 0; // playing at the end starts again
    }
    mc->rate = rate;
    mc->playFrom = mc->time;
    mc->playTick = lc::NowMs();
}

// Steps by whole video samples (the next or previous sample start).
void Step(MovieController mc, long steps)
{
    Pause(mc);
    OSType eyes = VisualMediaCharacteristic;
    for (long i = 0; i < (steps < 0 ? -steps : steps); ++i) {
        TimeValue t = -1;
        GetMovieNextInterestingTime(mc->movie, nextTimeMediaSample, 1, &eyes, mc->time,
                                    steps < 0 ? -FixedOne : FixedOne, &t, nullptr);
        if (t < 0) {
            break;
        }
        mc->time = t;
    }
}

// The slider spans the strip right of the play button.
int SliderLeft(MovieController mc)
{
    return mc->box.left + kControllerButtonWidth;
}
int SliderSpan(MovieController mc)
{
    int span = mc->box.right - SliderLeft(mc) - 1;
    return span > 1 ? span : 1;
}

void GoToSliderX(MovieController mc, int x)
{
    TimeValue duration = GetMovieDuration(mc->movie);
    int64_t offset = int64_t(x) - SliderLeft(mc);
    offset = offset < 0 ? 0 : (offset > SliderSpan(mc) ? SliderSpan(mc) : offset);
    TimeValue t = TimeValue(offset * duration / SliderSpan(mc));
    MCDoAction(mc, mcActionGoToTime, &t);
}

void PlayOrPause(MovieController mc)
{
    if (mc->rate != 0) {
        MCIdle(mc);
        Pause(mc);
    } else {
        Play(mc, FixedOne);
    }
}

// A press on the strip: the play button or the slider. False outside the strip.
bool StripPress(MovieController mc, int x, int y)
{
    const Rect &b = mc->box;
    if (y < b.bottom || y >= b.bottom + kControllerStripHeight || x < b.left || x >= b.right) {
        return false;
    }
    if (x < SliderLeft(mc)) {
        PlayOrPause(mc);
    } else {
        mc->tracking = true;
        GoToSliderX(mc, x);
    }
    return true;
}

Track FirstVideoTrack(Movie movie)
{
    for (long i = 1;; ++i) {
        Track t = GetMovieIndTrackType(movie, i, VideoMediaType, movieTrackMediaType);
        if (!t || GetTrackEnabled(t)) {
            return t;
        }
    }
}

} // namespace

MovieController NewMovieController(Movie theMovie, const Rect *movieRect, long)
{
    if (!theMovie) {
        Set(invalidMovie);
        return nullptr;
    }
    auto *mc = new (std::nothrow) MovieControllerRecord();
    if (!mc) {
        Set(memFullErr);
        return nullptr;
    }
    mc->movie = theMovie;
    if (movieRect) {
        mc->box = *movieRect;
    } else {
        GetMovieBox(theMovie, &mc->box);
    }
    Set(noErr);
    return mc;
}

void DisposeMovieController(MovieController mc)
{
    delete mc;
    Set(noErr);
}

long MCIdle(MovieController mc)
{
    if (!mc) {
        return Set(paramErr);
    }
    if (mc->rate == 0) {
        return Set(noErr);
    }
    // Time follows the clock from where playing started, so no error builds up.
    int64_t elapsed = int64_t(uint32_t(lc::NowMs() - mc->playTick));
    int64_t scale = GetMovieTimeScale(mc->movie);
    int64_t moved = elapsed * scale * mc->rate / (int64_t(1000) << 16);
    int64_t t = int64_t(mc->playFrom) + moved;
    TimeValue duration = GetMovieDuration(mc->movie);
    if (t >= duration) {
        t = duration;
        Pause(mc);
    } else if (t <= 0 && mc->rate < 0) {
        t = 0;
        Pause(mc);
    }
    mc->time = TimeValue(t);
    return Set(noErr);
}

long MCDoAction(MovieController mc, short action, void *params)
{
    if (!mc) {
        return Set(paramErr);
    }
    switch (action) {
    case mcActionIdle:
        return MCIdle(mc);
    case mcActionDraw:
        return Set(noErr);
    case mcActionPlay: {
        Fixed rate = Fixed(reinterpret_cast<intptr_t>(params));
        if (rate == 0) {
            MCIdle(mc);
            Pause(mc);
        } else {
            Play(mc, rate);
        }
        return Set(noErr);
    }
    case mcActionGoToTime: {
        if (!params) {
            return Set(paramErr);
        }
        TimeValue t = *static_cast<TimeValue *>(params);
        TimeValue duration = GetMovieDuration(mc->movie);
        mc->time = t < 0 ? 0 : (t > duration ? duration : t);
        if (mc->rate != 0) {
            Play(mc, mc->rate);
        }
        return Set(noErr);
    }
    case mcActionStep:
        Step(mc, long(reinterpret_cast<intptr_t>(params)));
        return Set(noErr);
    case mcActionSetKeysEnabled:
        mc->keysEnabled = reinterpret_cast<intptr_t>(params) != 0;
        return Set(noErr);
    case mcActionGetKeysEnabled:
        if (!params) {
            return Set(paramErr);
        }
        *static_cast<Boolean *>(params) = mc->keysEnabled ? 1 : 0;
        return Set(noErr);
    case mcActionGetPlayRate:
        if (!params) {
            return Set(paramErr);
        }
        *static_cast<Fixed *>(params) = mc->rate;
        return Set(noErr);
    default:
        return Set(paramErr);
    }
}

TimeValue MCGetCurrentTime(MovieController mc, TimeScale *scale)
{
    if (!mc) {
        Set(paramErr);
        return 0;
    }
    if (scale) {
        *scale = GetMovieTimeScale(mc->movie);
    }
    Set(noErr);
    return mc->time;
}

long MCGetControllerBoundsRect(MovieController mc, Rect *bounds)
{
    if (!mc || !bounds) {
        return Set(paramErr);
    }
    *bounds = mc->box;
    bounds->bottom = int16_t(bounds->bottom + kControllerStripHeight);
    return Set(noErr);
}

int MCGetSliderPosition(MovieController mc)
{
    if (!mc) {
        Set(paramErr);
        return -1;
    }
    TimeValue duration = GetMovieDuration(mc->movie);
    int64_t t = mc->time < 0 ? 0 : mc->time;
    int64_t offset = duration > 0 ? t * SliderSpan(mc) / duration : 0;
    Set(noErr);
    return SliderLeft(mc) + int(offset > SliderSpan(mc) ? SliderSpan(mc) : offset);
}

long MCIsPlayerEvent(MovieController mc, const EventRecord *e)
{
    if (!mc || !e) {
        Set(paramErr);
        return 0;
    }
    if (e->what == nullEvent) {
        MCIdle(mc);
        return 0;
    }
    if (e->what == mouseDown) {
        return StripPress(mc, e->whereH, e->whereV) ? 1 : 0;
    }
    if (e->what == mouseUp || (e->what == osEvt && (e->modifiers & btnState))) {
        bool was = mc->tracking;
        mc->tracking = false;
        return was ? 1 : 0;
    }
    if (e->what == osEvt && (e->message & 0xFF000000) == mouseMovedMessage) {
        if (!mc->tracking) {
            return 0;
        }
        GoToSliderX(mc, e->whereH);
        return 1;
    }
    if ((e->what != keyDown && e->what != autoKey) || !mc->keysEnabled) {
        return 0;
    }
    switch (e->message & 0xff) {
    case ' ':
        PlayOrPause(mc);
        return 1;
    case 0x1c:
        Step(mc, -1);
        return 1;
    case 0x1d:
        Step(mc, 1);
        return 1;
    default:
        return 0;
    }
}

MovieFrameDecodeProc SetMovieFrameDecoder(MovieFrameDecodeProc proc)
{
    return gDecoder.exchange(proc);
}

OSErr MCGetFrameRGB(MovieController mc, uint8_t *rgb, ptrdiff_t rowBytes, int width, int height)
{
    if (!mc || !rgb || width <= 0 || height <= 0) {
        return Set(paramErr);
    }
    MovieFrameDecodeProc decode = gDecoder.load();
    if (!decode) {
        return Set(noCodecErr);
    }
    Track track = FirstVideoTrack(mc->movie);
    if (!track) {
        return Set(invalidTrack);
    }
    // At the end the last frame stays shown.
    TimeValue t = mc->time;
    TimeValue duration = GetMovieDuration(mc->movie);
    if (t >= duration && duration > 0) {
        t = duration - 1;
    }
    TimeValue mediaTime = TrackTimeToMediaTime(t, track);
    if (mediaTime < 0) {
        return Set(invalidTime);
    }
    Handle data = NewHandle(0);
    Handle desc = NewHandle(4);
    long size = 0;
    OSErr err = data && desc ? GetMediaSample(GetTrackMedia(track), data, 0, &size, mediaTime,
                                              nullptr, nullptr,
                                              reinterpret_cast<SampleDescriptionHandle>(desc),
                                              nullptr, 1, nullptr, nullptr)
                             : OSErr(memFullErr);
    if (err == noErr) {
        err = decode(reinterpret_cast<const uint8_t *>(*data), size,
                     reinterpret_cast<ImageDescriptionHandle>(desc), rgb, rowBytes, width, height);
    }
    DisposeHandle(data);
    DisposeHandle(desc);
    return Set(err);
}
