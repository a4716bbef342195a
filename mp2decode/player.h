#pragma once

#include <cstdarg>
#include <cstdint>

#include <mad.h>

#include "mp2decode/audio_output.h"

// The MPEG audio decoder front end: a command-line decoder over libmad, called as a function.
// One Player lives on the caller's stack for a run; the option scanner, the equalizer, the dither
// states and the output modules' state are process-wide, so one run at a time is possible.

enum PlayerOption {
    kOptionHalfRate = 0x02,
    kOptionIgnoreCrc = 0x04,
    kOptionTimedStart = 0x10,
    kOptionTimeLimit = 0x20,
    kOptionTtyControl = 0x40,
    kOptionShowTagsOnly = 0x80, // show ID3 tags met inside the stream
    kOptionFadeIn = 0x100,
    kOptionGap = 0x400,
    kOptionCrossFade = 0x800,
};

enum PlayerControl {
    kControlDefault = 0,
    kControlNext,
    kControlPrevious,
    kControlReplay,
    kControlStop,
};

enum ChannelSelect {
    kSelectNone = 0,
    kSelectLeft = 1,
    kSelectRight = 2,
    kSelectMix = 3,
    kSelectForceStereo = 4,
};

constexpr unsigned kInputBufferSize = 40000;
constexpr unsigned kResampleBufferSize = 27648; // bytes: 2 channels of 3456 samples
constexpr unsigned kResampleMaxSamples = kResampleBufferSize / (2 * sizeof(mad_fixed_t));

struct Player
{
    int verbosity = 0; // 0 normal, -1 quiet (-q), -2 very quiet (-Q), positive verbose
    int options = 0;   // PlayerOption bits
    int repeat = 1;
    int control = kControlDefault;

    struct
    {
        char **entries = nullptr;
        int length = 0;
        int current = 0;
    } playlist;

    mad_timer_t globalStart = mad_timer_zero;
    mad_timer_t globalStop = mad_timer_zero;
    mad_timer_t fadeIn = mad_timer_zero;
    mad_timer_t fadeOut = mad_timer_zero;
    mad_timer_t gap = mad_timer_zero;

    struct
    {
        const char *path = nullptr;
        int fd = -1;
        unsigned char *data = nullptr;
        unsigned length = 0;
        bool eof = false;
        XingHeader xing;
    } input;

    struct
    {
        int mode = kAudioModeDither;
        mad_fixed_t attenuation = kFixedOne;
        Filter *filters = nullptr;
        unsigned channelsIn = 0;
        unsigned channelsOut = 0;
        unsigned rateIn = 0;
        unsigned rateOut = 0;
        unsigned precisionIn = 0;
        unsigned precisionOut = 0;
        int select = kSelectNone;
        const char *path = nullptr;
        OutputModule module = nullptr;
        ResampleState resample[2];
        mad_fixed_t (*resampled)[2][kResampleMaxSamples] = nullptr;
    } output;

    struct
    {
        unsigned long totalBytes = 0; // what remains of the input
        unsigned long totalTime = 0;
        mad_timer_t absoluteTimer = mad_timer_zero;
        mad_timer_t globalTimer = mad_timer_zero;
        mad_timer_t playTimer = mad_timer_zero;
        unsigned long absoluteFrames = 0;
        unsigned long globalFrames = 0;
        unsigned long playFrames = 0;
        long errorFrame = -1;
        long muteFrame = 0;
        AudioStats audio;
    } stats;
};

// Results of Mp2DecodeMain besides 0. A bad command line returns (with its message) rather than
// ending the process, which is the converter's.
constexpr int kMp2DecodeBadOutput = 1; // a second -o, or an -o whose type has no output module
constexpr int kMp2DecodeNoInput = 2;   // no path after the options
constexpr int kMp2DecodeRunFailed = 4;

// Returns 0, or one of the codes above.
int Mp2DecodeMain(int argc, char **argv);

void PlayerInit(Player *player);
int PlayerRun(Player *player, int count, char **paths);
void PlayerFinish(Player *player);

// "program: message\n" on the error stream.
void Mp2DecodeWarn(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Mp2DecodeVWarn(const char *format, va_list args);
[[noreturn]] void Mp2DecodeDie(const char *format, ...) __attribute__((format(printf, 1, 2)));
// "label: message\n"; a message beginning with ':' is a system error: ":" alone prints the
// system error text for the next argument, ":name" for that name.
// Not marked printf-like: ":" takes the path as an argument the format does not name.
void Mp2DecodeError(const char *label, const char *format, ...);

// The libmad callbacks of one decode, exposed for the tests.
enum mad_flow DecodeInput(void *data, mad_stream *stream);
enum mad_flow DecodeHeader(void *data, const mad_header *header);
enum mad_flow DecodeFilter(void *data, const mad_stream *stream, mad_frame *frame);
enum mad_flow DecodeOutput(void *data, const mad_header *header, mad_pcm *pcm);
enum mad_flow DecodeError(void *data, mad_stream *stream, mad_frame *frame);
