#pragma once

#include <cstddef>
#include <cstdint>

#include <mad.h>

// The output side of the MPEG audio decoder front end: the command protocol between the front
// end and its output modules, the conversion of libmad's 4.28 fixed-point samples to integer PCM,
// the per-frame filters, the resampler and the Xing header reader.

// 4.28 fixed point: 1.0 is 0x10000000; the valid range is [-1.0, 1.0).
constexpr mad_fixed_t kFixedOne = 0x10000000;
constexpr mad_fixed_t kFixedMax = 0x0FFFFFFF;
constexpr mad_fixed_t kFixedMin = -0x10000000;

// ---- The module protocol ----
enum AudioCommand {
    kAudioInit = 0,
    kAudioConfig = 1,
    kAudioPlay = 2,
    kAudioStop = 3,
    kAudioFinish = 4,
};

enum AudioMode {
    kAudioModeRound = 0,
    kAudioModeDither = 1,
};

struct AudioStats
{
    unsigned long clippedSamples = 0;
    mad_fixed_t peakClipping = 0; // largest amount beyond the range
    mad_fixed_t peakSample = 0;   // largest magnitude seen
};

struct AudioControl
{
    AudioCommand command = kAudioInit;
    struct
    {
        const char *path = nullptr; // none: the module's default
    } init;
    struct
    {
        unsigned channels = 0;  // in on the call, the module's choice on return
        unsigned rate = 0;      // Hz
        unsigned precision = 0; // bits; 0 = the module's default
    } config;
    struct
    {
        unsigned count = 0; // samples per channel
        const mad_fixed_t *left = nullptr;
        const mad_fixed_t *right = nullptr; // none for mono
        int mode = kAudioModeDither;
        AudioStats *stats = nullptr;
    } play;
    struct
    {
        int flush = 0;
    } stop;
};

// 0, or -1 with the reason in gAudioError.
using OutputModule = int (*)(AudioControl *control);

// The reason of the last failing module call: a plain message, ":" and the failing call's name
// (":fwrite"), or ":" alone for the system error of the path. Every module clears it when called.
constexpr size_t kAudioErrorSize = 128;
extern char gAudioError[kAudioErrorSize];

void InitAudioControl(AudioControl *control, AudioCommand command);
void SetAudioError(const char *reason);

// The module for an output path by its extension; none for no path is the live module. Returns
// none (nullptr) when the extension is unknown.
OutputModule SelectOutputModule(const char *path);

// ---- Sample conversion ----
struct AudioDither
{
    mad_fixed_t error[3] = {};
    uint32_t random = 0;
};

// Process-wide, one per channel, shared by every packer and never reset.
extern AudioDither gLeftDither;
extern AudioDither gRightDither;

// Clips to [kFixedMin, kFixedMax], counting and measuring in stats. Takes a wide value so that
// sums near the edge of libmad's range cannot overflow.
mad_fixed_t ClipSample(int64_t sample, AudioStats *stats);
int32_t LinearRound(unsigned bits, mad_fixed_t sample, AudioStats *stats);
int32_t LinearDither(unsigned bits, mad_fixed_t sample, AudioDither *dither, AudioStats *stats);
uint32_t DitherRandom(uint32_t state);

uint8_t LinearToMuLaw(mad_fixed_t sample);
mad_fixed_t MuLawToLinear(uint8_t code);
uint8_t MuLawRound(mad_fixed_t sample, AudioStats *stats);
uint8_t MuLawDither(mad_fixed_t sample, AudioDither *dither, AudioStats *stats);

// Packers: count samples per channel, interleaved left, right; right none for mono. Return the
// bytes written; a mode other than round or dither writes nothing.
using Packer = unsigned (*)(uint8_t *buffer, unsigned count, const mad_fixed_t *left,
                            const mad_fixed_t *right, int mode, AudioStats *stats);
unsigned PackU8(uint8_t *, unsigned, const mad_fixed_t *, const mad_fixed_t *, int, AudioStats *);
unsigned PackS8(uint8_t *, unsigned, const mad_fixed_t *, const mad_fixed_t *, int, AudioStats *);
unsigned PackS16LE(uint8_t *, unsigned, const mad_fixed_t *, const mad_fixed_t *, int,
                   AudioStats *);
unsigned PackS16BE(uint8_t *, unsigned, const mad_fixed_t *, const mad_fixed_t *, int,
                   AudioStats *);
unsigned PackS24LE(uint8_t *, unsigned, const mad_fixed_t *, const mad_fixed_t *, int,
                   AudioStats *);
unsigned PackS24BE(uint8_t *, unsigned, const mad_fixed_t *, const mad_fixed_t *, int,
                   AudioStats *);
unsigned PackS32LE(uint8_t *, unsigned, const mad_fixed_t *, const mad_fixed_t *, int,
                   AudioStats *);
unsigned PackS32BE(uint8_t *, unsigned, const mad_fixed_t *, const mad_fixed_t *, int,
                   AudioStats *);
unsigned PackMuLaw(uint8_t *, unsigned, const mad_fixed_t *, const mad_fixed_t *, int,
                   AudioStats *);

// ---- Filters ----
struct Player;

// A flow code of libmad (MAD_FLOW_*); non-zero stops the chain and is the frame's result.
using FilterFunction = int (*)(void *data, mad_frame *frame);

constexpr int kFilterOwned = 1; // the data is freed with the chain

struct Filter
{
    int flags = 0;
    FilterFunction function = nullptr;
    void *data = nullptr;
    Filter *next = nullptr;
};

int FilterRun(Filter *chain, mad_frame *frame);
void FilterFree(Filter *chain);
// Appends to the player's chain; -1 when out of memory.
int AddFilter(Player *player, FilterFunction function, void *data);
// Builds the chain the player's options ask for; -1 when out of memory.
int SetupFilters(Player *player);

mad_fixed_t FixedMul(mad_fixed_t a, mad_fixed_t b);

// 2 channels x 32 subbands; 1.0 leaves a subband alone.
extern mad_fixed_t gEqualizerGains[2][32];
void EqualizerInit();
int EqualizerFilter(void *data, mad_frame *frame);
int FadeInFilter(void *data, mad_frame *frame); // data: the player
int MonoFilter(void *data, mad_frame *frame);

// ---- Resampling ----
struct ResampleState
{
    mad_fixed_t ratio = kFixedOne; // old rate / new rate, 4.28
    mad_fixed_t step = 0;          // position of the next output from the next block, 4.28
    mad_fixed_t last = 0;          // the last input sample of the previous block
};

// 0, or -1 when either rate is not one of 48000, 44100, 32000, 24000, 22050, 16000, 12000,
// 11025, 8000.
int ResampleInit(ResampleState *state, unsigned oldRate, unsigned newRate);
// Returns the output count; out must hold count * new / old + 2 samples.
unsigned ResampleBlock(ResampleState *state, unsigned count, const mad_fixed_t *in,
                       mad_fixed_t *out);

// ---- Xing header ----
enum XingFlags {
    kXingFrames = 1,
    kXingBytes = 2,
    kXingToc = 4,
    kXingScale = 8,
};

struct XingHeader
{
    long flags = 0;
    unsigned long frames = 0;
    unsigned long bytes = 0;
    uint8_t toc[100] = {};
    long scale = 0;
};

void XingInit(XingHeader *xing);
// Reads a header from a frame's ancillary bits: 0 when found, -1 otherwise (flags then 0).
int XingParse(XingHeader *xing, mad_bitptr ptr, unsigned bitLength);
