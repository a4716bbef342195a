#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/media/media_types.h"

// The movie controller: a small model of a movie being shown (current time, play, pause, step)
// that gives the frame at its time as 24-bit RGB. The view draws that frame and a control strip
// below it; time runs on lc::NowMs, so tests drive it with a fake clock.

constexpr long mcTopLeftMovie = 1;
constexpr int kControllerStripHeight = 16; // pixels of control strip below the movie
// The strip holds a play button of this width at its left, then the slider over the rest.
constexpr int kControllerButtonWidth = 16;

MovieController NewMovieController(Movie theMovie, const Rect *movieRect, long someFlags);
void DisposeMovieController(MovieController mc);

enum : short
{
    mcActionIdle = 1,
    mcActionDraw = 2,
    mcActionPlay = 8,            // params: Fixed rate as a pointer-sized value; 0 pauses
    mcActionGoToTime = 12,       // params: TimeValue * (movie time)
    mcActionStep = 18,           // params: long steps as a pointer-sized value (negative: back)
    mcActionSetKeysEnabled = 32, // params: Boolean as a pointer-sized value
    mcActionGetKeysEnabled = 33, // params: Boolean *
    mcActionGetPlayRate = 41,    // params: Fixed *
};
// 0 when done, paramErr for an unknown action or a null controller.
long MCDoAction(MovieController mc, short action, void *params);

// Advances the current time by the clock while playing; stops at the end.
long MCIdle(MovieController mc);
TimeValue MCGetCurrentTime(MovieController mc, TimeScale *scale);
// Movie box and, below it, the control strip.
long MCGetControllerBoundsRect(MovieController mc, Rect *bounds);
// Where the slider shows the current time: an x inside the strip's slider, from its left end at
// time 0 to its right end at the movie's end. -1 for a null controller.
int MCGetSliderPosition(MovieController mc);

// Native events as the user interface layer hands them over.
struct EventRecord
{
    uint16_t what = 0;    // nullEvent 0, keyDown 3, autoKey 5
    uint32_t message = 0; // keys: character code in the low byte
    uint32_t when = 0;
    int16_t whereV = 0, whereH = 0;
    uint16_t modifiers = 0;
};
constexpr uint16_t nullEvent = 0;
constexpr uint16_t mouseDown = 1;
constexpr uint16_t mouseUp = 2;
constexpr uint16_t keyDown = 3;
constexpr uint16_t autoKey = 5;
constexpr uint16_t osEvt = 15;
constexpr uint32_t mouseMovedMessage = 0xFA000000; // osEvt message: the mouse moved
constexpr uint16_t btnState = 0x0080;              // modifiers: set while the button is up
// Null events idle the controller; with keys enabled, space plays or pauses and the left and
// right arrows (0x1c, 0x1d) step one frame. A mouse press on the strip's play button plays or
// pauses; on the slider it goes to the time under the mouse and follows the mouse while the
// button is held (osEvt mouse moves), until mouseUp. where is in the movie box's coordinates.
// 1 when the event was the controller's.
long MCIsPlayerEvent(MovieController mc, const EventRecord *e);

// Decodes one video sample into 24-bit R, G, B top-down rows of width x height. Installed by the
// codec side, so the controller never includes it. noCodecErr when it cannot decode the sample.
using MovieFrameDecodeProc = OSErr (*)(const uint8_t *data, long size,
                                       ImageDescriptionHandle desc, uint8_t *rgb,
                                       ptrdiff_t rowBytes, int width, int height);
MovieFrameDecodeProc SetMovieFrameDecoder(MovieFrameDecodeProc proc); // returns the previous one

// The frame of the first enabled video track at the current time into rgb (rows of rowBytes,
// the movie box's size). noCodecErr without a decoder; invalidTime when no sample is there.
OSErr MCGetFrameRGB(MovieController mc, uint8_t *rgb, ptrdiff_t rowBytes, int width, int height);
