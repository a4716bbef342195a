#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "dvdecoder/internal/bit_pool.h"
#include "dvdecoder/internal/pixel_kernels.h"
#include "dvdecoder/internal/run_level.h"

// Quantisation step by QNO*4 + class: the QNO's base step doubled per class. Encoders do send
// the pairs that the format's own table leaves out (QNO 15 with class 3 is common in detailed
// pictures), and they follow the same rule. QNO 0 quantises like QNO 1.
inline constexpr int16_t kQuantBase[16] = {1, 1, 2, 3, 4, 5, 6, 7, 8, 16, 18, 20, 22, 24, 28, 52};
constexpr std::array<int16_t, 64> BuildQuantSteps()
{
    std::array<int16_t, 64> steps{};
    for (int i = 0; i < 64; ++i) {
        steps[size_t(i)] = int16_t(kQuantBase[i / 4] << (i % 4));
    }
    return steps;
}
inline constexpr std::array<int16_t, 64> kQuantStep = BuildQuantSteps();
// Zigzag scan: position k gives the natural index 8*row + column.
extern const uint8_t kZigzag[64];
// Weights in natural order: [0] 1080-line luminance, [1] 1080-line colour difference,
// [2] 720-line luminance, [3] 720-line colour difference.
extern const int16_t kWeights[4][64];

// One dequantised coefficient of the full decoding: weight x step x level / 32, the division
// truncating toward zero, stored as 16 bits.
inline int16_t Dequantise(int weight, int qstep, int level)
{
    return int16_t(uint16_t(uint32_t(weight * qstep * level / 32)));
}

struct RunLevelResult
{
    int level;
    int run; // -1 end of block, -2 more bits needed
};

// Dequantised AC coefficients of one block read only from its own area, for playback. block
// points at the block's second byte; the area is acBits (68 or 52) bits after headerSkip bits.
// Nothing past the area is read.
void DecodeRunLevelFast(const uint8_t *block, int qstep, int acBits, int16_t *coefficients,
                        int headerSkip, int firstIndex);

// One decoder per Decode thread: reads the video segments of its range into the work picture
// (full decoding) or straight into the caller's picture (fast decoding). The contexts of the
// threads lie side by side and are written all the time: none shares a cache line.
class alignas(64) CindrellContext
{
public:
    static constexpr int kBlocks = 40; // 5 macroblocks x 8 DCT blocks

    void SetParams(int flip, int decimation, int widen, int fullWidth, int bitsPerPixel);
    // The kernels the segments are decoded with (the best ones unless set).
    void SetKernels(const CindrellKernels *kernels) { kernels_ = kernels; }
    // Decodes segment (channel, r, s) of source into target (width x abs height). Returns 1.
    int DecodeVideoSegment(int channel, int r, int s, uint8_t *target, int width, int height,
                           const uint8_t *source, int yuvOutput, int format);
    int DecodeVideoSegmentFast(int channel, int r, int s, uint8_t *target, int width, int height,
                               const uint8_t *source, int yuvOutput, int fastPath, int format);

    // Steps of the decoding, public for tests.
    void ReadMacroblockHeader(int tableIndex, const uint8_t *frame, int format);
    int ReadBlockHeader(int b);
    void SetBlockPosition(const uint8_t *frame, int tableIndex, int b, int format);
    uint32_t PeekBlockBits(int n, int b, int *got) const;
    void SkipBlockBits(int n, int b);
    uint32_t PeekSpillBits(int n, int m, int b, int queue, int *got) const;
    void SkipSpillBits(int n, int m, int b, int queue);
    RunLevelResult GetRunLevel(int m, int b, int pass);
    void ClearSpill();
    BitPool &Pool() { return pool_; }
    int16_t *Coefficients() { return coefficients_; }
    int Qstep() const { return qstep_; }
    int DctMode() const { return dctMode_; }
    int Class() const { return class_; }
    int Qno() const { return qno_; }
    int CarriedCount(int mb) const { return carriedCount_[mb]; }

private:
    // Pass 1 of block (m, b) at the reading position: its codes, then its leftover bits to the
    // pool or its partial code carried.
    void ReadOwnArea(int m, int b, int16_t *coef, const int16_t *weights);
    void StoreMacroblockFast(int m, uint8_t *target, int width, int height, int x0, int y0,
                             int format);

    int qstep_ = 0;
    int qno_ = 0;
    int sta_ = 0;
    int dctMode_ = 0;
    int class_ = 0;
    uint32_t carried_[kBlocks] = {};
    uint16_t carriedCount_[kBlocks] = {};
    uint16_t pending_[kBlocks] = {};
    int acBits_ = 68;
    const uint8_t *blockPtr_ = nullptr; // the block's second byte
    // The block's area from its second byte, left-aligned; areaBit_ bits of it are read.
    uint64_t areaHi_ = 0;
    uint64_t areaLo_ = 0;
    int areaBit_ = 0;
    int areaBits_ = 72; // 9 bytes (blocks 0-5) or 7 (blocks 6-7)
    int exhausted_ = 0; // -2 once the area is used up
    BitPool pool_;
    int blockQstep_[kBlocks] = {};
    uint8_t macroblockMode_[5] = {};
    int flip_ = 0;
    int bitsPerPixel_ = 24;
    int decimation_ = 1;
    int fullWidth_ = 0;
    int widen_ = 0;
    const CindrellKernels *kernels_ = &CindrellKernelsBest();
    alignas(16) int16_t coefficients_[kBlocks * 64] = {};
};

// The bit reading steps, here so that the segment loop inlines them.

inline uint32_t CindrellContext::PeekBlockBits(int n, int b, int *got) const
{
    (void)b;
    if (exhausted_) {
        *got = 0;
        return 0;
    }
    *got = std::min(n, areaBits_ - areaBit_);
    const int off = areaBit_;
    const uint64_t window =
        off < 64 ? areaHi_ << off | (off ? areaLo_ >> (64 - off) : 0) : areaLo_ << (off - 64);
    return uint32_t(window >> (64 - n));
}

inline void CindrellContext::SkipBlockBits(int n, int b)
{
    (void)b;
    const int off = areaBit_ + n;
    if (off >= areaBits_) {
        exhausted_ = -2;
        return;
    }
    areaBit_ = off;
}

inline uint32_t CindrellContext::PeekSpillBits(int n, int m, int b, int queue, int *got) const
{
    const int mb = m * 8 + b;
    const int c = carriedCount_[mb];
    int fetched = 0;
    const uint32_t more = pool_.PeekBits(queue, n - c, &fetched);
    const uint32_t window = c == 0 ? more : carried_[mb] | (more >> c);
    *got = c + fetched;
    return window >> 16;
}

inline void CindrellContext::SkipSpillBits(int n, int m, int b, int queue)
{
    const int mb = m * 8 + b;
    const int c = carriedCount_[mb];
    if (c == 0) {
        pool_.SkipBits(queue, n);
        return;
    }
    if (n - c > 0) {
        pool_.SkipBits(queue, n - c);
    }
    carriedCount_[mb] = 0;
}

inline RunLevelResult CindrellContext::GetRunLevel(int m, int b, int pass)
{
    const int mb = m * 8 + b;
    const int queue = pass == 2 ? m : -1;
    int got = 0;
    const uint32_t window =
        pass == 1 ? PeekBlockBits(16, b, &got) : PeekSpillBits(16, m, b, queue, &got);
    if (got > 0) {
        const RunLevel code = DecodeRunLevel(window, got);
        if (code.run >= 0 && code.length <= got) {
            if (pass == 1) {
                SkipBlockBits(code.length, b);
            } else {
                SkipSpillBits(code.length, m, b, queue);
            }
            return {code.level, code.run};
        }
        if (code.run == -1 && got >= 4) {
            if (pass != 1) {
                SkipSpillBits(4, m, b, queue);
                return {0, -1};
            }
            // The rest of the block's area goes to its macroblock's queue.
            SkipBlockBits(4, b);
            int n = 0;
            uint32_t rest = PeekBlockBits(32, b, &n);
            if (n == 32) {
                pool_.PutBits(m, rest, 32);
                SkipBlockBits(32, b);
                rest = PeekBlockBits(32, b, &n);
                SkipBlockBits(n, b);
            }
            pool_.PutBits(m, rest, n);
            return {0, -1};
        }
    }
    // Incomplete: keep the partial code for the next pass.
    if (pass != 1) {
        SkipSpillBits(got, m, b, queue);
    }
    carried_[mb] = window << 16;
    carriedCount_[mb] = uint16_t(got);
    return {0, -2};
}
