#include "mp2decode/audio_output.h"

#include <cstring>

#include <strings.h>

#include "mp2decode/output_modules.h"
#include "platform/sys/text.h"

char gAudioError[kAudioErrorSize];
AudioDither gLeftDither;
AudioDither gRightDither;

void InitAudioControl(AudioControl *control, AudioCommand command)
{
    *control = AudioControl{};
    control->command = command;
}

void SetAudioError(const char *reason)
{
    (void)lc::CopyText(gAudioError, sizeof gAudioError, reason);
}

OutputModule SelectOutputModule(const char *path)
{
    if (!path) {
        return OutputModuleWaveOut;
    }
    const char *dot = std::strrchr(path, '.');
    if (!dot) {
        return nullptr;
    }
    const char *ext = dot + 1;
    static const struct
    {
        const char *extension;
        OutputModule module;
    } kTable[] = {
        {"cdr", OutputModuleCdda}, {"cda", OutputModuleCdda},  {"cdda", OutputModuleCdda},
        {"aif", OutputModuleAiff}, {"aiff", OutputModuleAiff}, {"wav", OutputModuleWave},
        {"snd", OutputModuleSnd},  {"au", OutputModuleSnd},    {"raw", OutputModuleRaw},
        {"pcm", OutputModuleRaw},  {"out", OutputModuleRaw},   {"bin", OutputModuleRaw},
    };
    for (const auto &row : kTable) {
        if (strcasecmp(ext, row.extension) == 0) {
            return row.module;
        }
    }
    return nullptr;
}

// ---- Sample conversion ----

mad_fixed_t ClipSample(int64_t sample, AudioStats *stats)
{
    if (sample >= stats->peakSample) {
        if (sample > kFixedMax) {
            ++stats->clippedSamples;
            int64_t over = sample - kFixedMax;
            if (over > stats->peakClipping) {
                stats->peakClipping = over > INT32_MAX ? INT32_MAX : mad_fixed_t(over);
            }
            sample = kFixedMax;
        }
        stats->peakSample = mad_fixed_t(sample);
    } else if (sample < -int64_t(stats->peakSample)) {
        if (sample < kFixedMin) {
            ++stats->clippedSamples;
            int64_t over = int64_t(kFixedMin) - sample;
            if (over > stats->peakClipping) {
                stats->peakClipping = over > INT32_MAX ? INT32_MAX : mad_fixed_t(over);
            }
            sample = kFixedMin;
        }
        stats->peakSample = mad_fixed_t(-sample);
    }
    return mad_fixed_t(sample);
}

int32_t LinearRound(unsigned bits, mad_fixed_t sample, AudioStats *stats)
{
    int64_t rounded = int64_t(sample) + (int64_t(1) << (28 - bits));
    return ClipSample(rounded, stats) >> (29 - bits);
}

uint32_t DitherRandom(uint32_t state)
{
    return state * 1664525u + 1013904223u;
}

int32_t LinearDither(unsigned bits, mad_fixed_t sample, AudioDither *dither, AudioStats *stats)
{
    // 1. Noise shaping. Wide sums: libmad's samples may reach the edges of 32 bits.
    int64_t shaped = int64_t(sample) + dither->error[0] - dither->error[1] + dither->error[2];
    dither->error[2] = dither->error[1];
    dither->error[1] = dither->error[0] / 2;
    // 2. Round.
    int64_t output = shaped + (int64_t(1) << (28 - bits));
    unsigned scale = 29 - bits;
    int64_t mask = (int64_t(1) << scale) - 1;
    // 3. Triangular noise from two successive random values.
    uint32_t random = DitherRandom(dither->random);
    output += int64_t(random & mask) - int64_t(dither->random & mask);
    dither->random = random;
    // 4. Clip, limiting the shaped sample too so that the error stays bounded.
    if (output > kFixedMax) {
        if (shaped > kFixedMax) {
            shaped = kFixedMax;
        }
    } else if (output < kFixedMin) {
        if (shaped < kFixedMin) {
            shaped = kFixedMin;
        }
    }
    int64_t clipped = ClipSample(output, stats);
    // 5. Quantise; the error is carried to the next sample.
    clipped &= ~mask;
    dither->error[0] = mad_fixed_t(shaped - clipped);
    return int32_t(clipped >> scale);
}

namespace {
constexpr int64_t kMuLawBias = 0x108000;
}

uint8_t LinearToMuLaw(mad_fixed_t sample)
{
    bool negative = sample < 0;
    int64_t magnitude = (negative ? -int64_t(sample) : int64_t(sample)) + kMuLawBias;
    if (magnitude >= kFixedOne) {
        return negative ? 0x00 : 0x80;
    }
    int segment = 7;
    while (segment > 0 && !(magnitude & (int64_t(1) << (20 + segment)))) {
        --segment;
    }
    unsigned mantissa = unsigned(magnitude >> (16 + segment)) & 0x0F;
    unsigned code = unsigned(segment) << 4 | mantissa;
    return uint8_t(code ^ (negative ? 0x7F : 0xFF));
}

mad_fixed_t MuLawToLinear(uint8_t code)
{
    unsigned inverted = uint8_t(~code);
    unsigned mantissa = inverted & 0x0F;
    unsigned segment = (inverted >> 4) & 0x07;
    int32_t v = int32_t((2 * mantissa + 33) << segment);
    mad_fixed_t value = (v - 33) << 15;
    return (inverted & 0x80) ? -value : value;
}

uint8_t MuLawRound(mad_fixed_t sample, AudioStats *stats)
{
    return LinearToMuLaw(ClipSample(sample, stats));
}

uint8_t MuLawDither(mad_fixed_t sample, AudioDither *dither, AudioStats *stats)
{
    mad_fixed_t clipped = ClipSample(int64_t(sample) + dither->error[0], stats);
    uint8_t code = LinearToMuLaw(clipped);
    dither->error[0] = clipped - MuLawToLinear(code);
    return code;
}

namespace {

// Packs count frames with one store per sample; Store writes one converted value and returns the
// next byte position.
template <unsigned Bits, typename Store>
unsigned PackLinear(uint8_t *buffer, unsigned count, const mad_fixed_t *left,
                    const mad_fixed_t *right, int mode, AudioStats *stats, Store store)
{
    if (mode != kAudioModeRound && mode != kAudioModeDither) {
        return 0;
    }
    uint8_t *p = buffer;
    for (unsigned i = 0; i < count; ++i) {
        if (mode == kAudioModeRound) {
            p = store(p, LinearRound(Bits, left[i], stats));
            if (right) {
                p = store(p, LinearRound(Bits, right[i], stats));
            }
        } else {
            p = store(p, LinearDither(Bits, left[i], &gLeftDither, stats));
            if (right) {
                p = store(p, LinearDither(Bits, right[i], &gRightDither, stats));
            }
        }
    }
    return unsigned(p - buffer);
}

// Stores one value of Bytes bytes; four bytes hold the 24-bit value shifted left by 8.
template <unsigned Bytes, bool BigEndian> uint8_t *StoreInt(uint8_t *p, int32_t v)
{
    uint32_t u = Bytes == 4 ? uint32_t(v) << 8 : uint32_t(v);
    for (unsigned i = 0; i < Bytes; ++i) {
        unsigned shift = 8 * (BigEndian ? Bytes - 1 - i : i);
        p[i] = uint8_t(u >> shift);
    }
    return p + Bytes;
}

} // namespace

unsigned PackU8(uint8_t *buffer, unsigned count, const mad_fixed_t *left, const mad_fixed_t *right,
                int mode, AudioStats *stats)
{
    return PackLinear<8>(buffer, count, left, right, mode, stats,
                         [](uint8_t *p, int32_t v) { return StoreInt<1, false>(p, v + 0x80); });
}

unsigned PackS8(uint8_t *buffer, unsigned count, const mad_fixed_t *left, const mad_fixed_t *right,
                int mode, AudioStats *stats)
{
    return PackLinear<8>(buffer, count, left, right, mode, stats, StoreInt<1, false>);
}

unsigned PackS16LE(uint8_t *buffer, unsigned count, const mad_fixed_t *left,
                   const mad_fixed_t *right, int mode, AudioStats *stats)
{
    return PackLinear<16>(buffer, count, left, right, mode, stats, StoreInt<2, false>);
}

unsigned PackS16BE(uint8_t *buffer, unsigned count, const mad_fixed_t *left,
                   const mad_fixed_t *right, int mode, AudioStats *stats)
{
    return PackLinear<16>(buffer, count, left, right, mode, stats, StoreInt<2, true>);
}

unsigned PackS24LE(uint8_t *buffer, unsigned count, const mad_fixed_t *left,
                   const mad_fixed_t *right, int mode, AudioStats *stats)
{
    return PackLinear<24>(buffer, count, left, right, mode, stats, StoreInt<3, false>);
}

unsigned PackS24BE(uint8_t *buffer, unsigned count, const mad_fixed_t *left,
                   const mad_fixed_t *right, int mode, AudioStats *stats)
{
    return PackLinear<24>(buffer, count, left, right, mode, stats, StoreInt<3, true>);
}

unsigned PackS32LE(uint8_t *buffer, unsigned count, const mad_fixed_t *left,
                   const mad_fixed_t *right, int mode, AudioStats *stats)
{
    return PackLinear<24>(buffer, count, left, right, mode, stats, StoreInt<4, false>);
}

unsigned PackS32BE(uint8_t *buffer, unsigned count, const mad_fixed_t *left,
                   const mad_fixed_t *right, int mode, AudioStats *stats)
{
    return PackLinear<24>(buffer, count, left, right, mode, stats, StoreInt<4, true>);
}

unsigned PackMuLaw(uint8_t *buffer, unsigned count, const mad_fixed_t *left,
                   const mad_fixed_t *right, int mode, AudioStats *stats)
{
    if (mode != kAudioModeRound && mode != kAudioModeDither) {
        return 0;
    }
    uint8_t *p = buffer;
    for (unsigned i = 0; i < count; ++i) {
        if (mode == kAudioModeRound) {
            *p++ = MuLawRound(left[i], stats);
            if (right) {
                *p++ = MuLawRound(right[i], stats);
            }
        } else {
            *p++ = MuLawDither(left[i], &gLeftDither, stats);
            if (right) {
                *p++ = MuLawDither(right[i], &gRightDither, stats);
            }
        }
    }
    return unsigned(p - buffer);
}

// ---- Resampling ----

namespace {

constexpr unsigned kResampleRates[9] = {48000, 44100, 32000, 24000, 22050,
                                        16000, 12000, 11025, 8000};

int RateIndex(unsigned rate)
{
    for (int i = 0; i < 9; ++i) {
        if (kResampleRates[i] == rate) {
            return i;
        }
    }
    return -1;
}

// old / new in 4.28, rounded; every entry is at most 6.0, within the 4.28 range.
constexpr auto kResampleRatios = [] {
    struct Table
    {
        mad_fixed_t v[9][9];
    } t{};
    for (int o = 0; o < 9; ++o) {
        for (int n = 0; n < 9; ++n) {
            uint64_t num = uint64_t(kResampleRates[o]) << 28;
            t.v[o][n] = mad_fixed_t((num + kResampleRates[n] / 2) / kResampleRates[n]);
        }
    }
    return t;
}();

constexpr int64_t kFracMask = kFixedOne - 1;

} // namespace

int ResampleInit(ResampleState *state, unsigned oldRate, unsigned newRate)
{
    int o = RateIndex(oldRate);
    int n = RateIndex(newRate);
    if (o < 0 || n < 0) {
        return -1;
    }
    state->ratio = kResampleRatios.v[o][n];
    state->step = 0;
    state->last = 0;
    return 0;
}

unsigned ResampleBlock(ResampleState *state, unsigned count, const mad_fixed_t *in,
                       mad_fixed_t *out)
{
    if (state->ratio == kFixedOne) {
        std::memcpy(out, in, count * sizeof *in);
        return count;
    }
    if (count == 0) {
        return 0;
    }
    // Positions are 64-bit 4.28 from the block's first sample; -1 is the previous block's last.
    int64_t pos = state->step;
    const int64_t end = int64_t(count - 1) << 28;
    unsigned produced = 0;
    while (pos < end) {
        int64_t index = pos >> 28;
        int64_t frac = pos & kFracMask;
        mad_fixed_t here = index < 0 ? state->last : in[index];
        mad_fixed_t next = in[index + 1];
        // Wide throughout: the step between libmad's extremes exceeds 32 bits; the result lies
        // between here and next.
        out[produced++] = mad_fixed_t(here + ((frac * (int64_t(next) - here)) >> 28));
        pos += state->ratio;
        // Drop the rounding drift of the ratio when the position is within 2^-20 of a whole one.
        if (((pos + 128) & 0x0FFFFF00) == 0) {
            pos = (pos + 128) & ~kFracMask;
        }
    }
    state->last = in[count - 1];
    state->step = mad_fixed_t(pos - (int64_t(count) << 28));
    return produced;
}

// ---- Xing header ----

void XingInit(XingHeader *xing)
{
    *xing = XingHeader{};
}

int XingParse(XingHeader *xing, mad_bitptr ptr, unsigned bitLength)
{
    constexpr unsigned long kXingMagic = 0x58696E67; // 'Xing'
    xing->flags = 0;
    if (bitLength < 64 || mad_bit_read(&ptr, 32) != kXingMagic) {
        return -1;
    }
    long flags = long(mad_bit_read(&ptr, 32));
    bitLength -= 64;
    if (flags & kXingFrames) {
        if (bitLength < 32) {
            return -1;
        }
        xing->frames = mad_bit_read(&ptr, 32);
        bitLength -= 32;
    }
    if (flags & kXingBytes) {
        if (bitLength < 32) {
            return -1;
        }
        xing->bytes = mad_bit_read(&ptr, 32);
        bitLength -= 32;
    }
    if (flags & kXingToc) {
        if (bitLength < 800) {
            return -1;
        }
        for (uint8_t &entry : xing->toc) {
            entry = uint8_t(mad_bit_read(&ptr, 8));
        }
        bitLength -= 800;
    }
    if (flags & kXingScale) {
        if (bitLength < 32) {
            return -1;
        }
        xing->scale = long(mad_bit_read(&ptr, 32));
        bitLength -= 32;
    }
    xing->flags = flags;
    return 0;
}
