#include "dvdecoder/internal/cindrell_context.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>

#include "dvdecoder/internal/dif_tables.h"
#include "dvdecoder/internal/idct.h"
#include "dvdecoder/internal/run_level.h"

const uint8_t kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

const int16_t kWeights[4][64] = {
    {128, 16, 17, 18,  18, 19, 42, 44, 16, 17, 18,  18,  19, 38, 43, 45, 17,  18,  19,  19, 40, 41,
     45,  48, 18, 18,  19, 40, 41, 42, 45, 49, 18,  19,  40, 41, 42, 43, 48,  101, 19,  38, 41, 42,
     43,  44, 98, 104, 42, 43, 45, 46, 48, 98, 109, 116, 44, 45, 48, 49, 101, 104, 116, 123},
    {128, 16, 17, 25, 26,  26,  42,  44,  16, 17, 25, 25,  26,  38,  43,  91,
     17,  25, 26, 27, 40,  41,  91,  96,  25, 25, 27, 40,  41,  84,  93,  197,
     26,  26, 40, 41, 84,  86,  191, 203, 26, 38, 41, 84,  86,  177, 197, 209,
     42,  43, 91, 93, 191, 197, 219, 232, 44, 91, 96, 197, 203, 209, 232, 246},
    {128, 16, 17, 18, 18, 19,  42,  44,  16, 17, 18, 18, 19,  38,  43,  68,
     17,  18, 19, 19, 40, 41,  68,  96,  18, 18, 19, 40, 41,  63,  92,  98,
     18,  19, 40, 41, 63, 86,  96,  202, 19, 38, 41, 63, 86,  88,  196, 208,
     42,  43, 68, 92, 96, 196, 218, 232, 44, 68, 96, 98, 202, 208, 232, 246},
    {128, 24, 26,  36,  36,  38,  84,  88,  24, 26,  36,  36,  38,  76,  86,  182,
     26,  36, 38,  38,  80,  82,  182, 192, 36, 36,  38,  80,  82,  168, 186, 394,
     36,  38, 80,  82,  168, 192, 382, 406, 38, 76,  82,  168, 172, 354, 394, 418,
     84,  86, 182, 186, 382, 394, 438, 464, 88, 182, 192, 394, 406, 418, 464, 492},
};

namespace {

constexpr int kHalfRowLine = 1072; // the 8-line half row of 1080-line pictures

int AreaAcBits(int b)
{
    return b < 6 ? 68 : 52;
}

// Byte offset of DCT block b inside its DIF block.
int BlockOffset(int b)
{
    return b < 6 ? 4 + 10 * b : 64 + 8 * (b - 6);
}

uint64_t LoadBe64(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_bswap64(v);
}

int16_t Wrap16(int32_t v)
{
    return int16_t(uint16_t(uint32_t(v)));
}

const int16_t *WeightsFor(int format, int b)
{
    const bool hd1080 = format == 1 || format == 3;
    return kWeights[(hd1080 ? 0 : 2) + (b < 4 ? 0 : 1)];
}

uint8_t *PictureRow(uint8_t *target, int pitch, int height, int flip, int line)
{
    return target + ptrdiff_t(flip ? height - 1 - line : line) * pitch;
}

int Pitch(int width)
{
    return (width * 3 + 3) & ~3;
}

struct BlockPlace
{
    int x, y;     // first column and line of luminance block b
    int lineStep; // 2 when its rows lie on every other line (field macroblock)
};

// The four blocks of a half-row macroblock lie side by side (its table x is half its column);
// the others form 2 x 2, their rows on consecutive lines, or interleaved in field mode.
BlockPlace LumaBlockPlace(int x0, int y0, int b, bool halfRow, int mode)
{
    if (halfRow) {
        return {2 * x0 + 8 * b, y0, 1};
    }
    if (mode == 0) {
        return {x0 + 8 * (b % 2), y0 + 8 * (b / 2), 1};
    }
    return {x0 + 8 * (b % 2), y0 + b / 2, 2};
}

} // namespace

namespace {

// The fast decoding's codes of one area held left-aligned in hi:lo, zeros behind it.
void DecodeAreaFast(uint64_t hi, uint64_t lo, int budget, int qstep, int16_t *coefficients, int k)
{
    for (;;) {
        const uint32_t window = uint32_t(hi >> 48);
        const VlcEntry &e = kVlcLookup[window >> 3];
        if (e.length > budget) {
            return;
        }
        int run = e.run;
        int level = e.level;
        if (e.kind != VlcKind::Pair) {
            if (e.kind == VlcKind::EndOfBlock) {
                return;
            }
            if (e.kind == VlcKind::RunEscape) {
                run = int((window >> 3) & 63);
            } else {
                level = (window & 1) ? -int((window >> 1) & 255) : int((window >> 1) & 255);
            }
        }
        budget -= e.length;
        hi = hi << e.length | lo >> (64 - e.length);
        lo <<= e.length;
        k += run;
        if (k > 63) {
            return; // corrupt run: nothing is stored outside the block
        }
        // The run escape's positions stay 0 (its level is 0).
        coefficients[kZigzag[k]] = int16_t(Wrap16(qstep * level) >> 1);
        ++k;
    }
}

} // namespace

void DecodeRunLevelFast(const uint8_t *block, int qstep, int acBits, int16_t *coefficients,
                        int headerSkip, int firstIndex)
{
    // The area after the header bits, left-aligned in two words; bits past it read as 0 and
    // nothing past it is read.
    const int areaBytes = std::min((headerSkip + acBits + 7) / 8, 12);
    uint8_t bytes[16] = {};
    for (int i = 0; i < areaBytes; ++i) {
        bytes[i] = block[i];
    }
    const int skip = std::clamp(headerSkip, 0, 32);
    const uint64_t rawHi = LoadBe64(bytes);
    const uint64_t rawLo = LoadBe64(bytes + 8);
    const uint64_t hi = skip == 0 ? rawHi : rawHi << skip | rawLo >> (64 - skip);
    DecodeAreaFast(hi, rawLo << skip, acBits, qstep, coefficients, firstIndex);
}

void CindrellContext::SetParams(int flip, int decimation, int widen, int fullWidth,
                                int bitsPerPixel)
{
    flip_ = flip;
    decimation_ = decimation;
    widen_ = widen;
    fullWidth_ = fullWidth;
    bitsPerPixel_ = bitsPerPixel;
}

void CindrellContext::ReadMacroblockHeader(int tableIndex, const uint8_t *frame, int format)
{
    const uint8_t byte3 = frame[gCindrellTables.difAddressTable[format][tableIndex].offset + 3];
    sta_ = byte3 >> 4;
    qno_ = byte3 & 15;
}

int CindrellContext::ReadBlockHeader(int b)
{
    int dc = (blockPtr_[-1] << 1) | (blockPtr_[0] >> 7);
    if (dc & 256) {
        dc -= 512;
    }
    if (b == 0) {
        dctMode_ = (blockPtr_[0] >> 6) & 1;
    }
    class_ = (blockPtr_[0] >> 4) & 3;
    qstep_ = kQuantStep[qno_ * 4 + class_];
    return dc;
}

void CindrellContext::SetBlockPosition(const uint8_t *frame, int tableIndex, int b, int format)
{
    const uint8_t *block =
        frame + gCindrellTables.difAddressTable[format][tableIndex].offset + BlockOffset(b);
    blockPtr_ = block + 1;
    acBits_ = AreaAcBits(b);
    // The area from the block's second byte, left-aligned; 10-byte blocks have 9 bytes of it,
    // 8-byte blocks 7 (loaded from the block's first byte, so nothing past the block is read).
    if (b < 6) {
        areaHi_ = LoadBe64(block + 1);
        areaLo_ = uint64_t(block[9]) << 56;
        areaBits_ = 72;
    } else {
        areaHi_ = LoadBe64(block) << 8;
        areaLo_ = 0;
        areaBits_ = 56;
    }
    areaBit_ = 4; // after the DC's last bit, the mode and the class
    exhausted_ = 0;
}

void CindrellContext::ClearSpill()
{
    std::memset(carriedCount_, 0, sizeof carriedCount_);
    std::memset(pending_, 0, sizeof pending_);
    for (int i = 0; i < BitPool::kQueues; ++i) {
        pool_.Reset(i, BitPool::kCapacityBits);
    }
}

void CindrellContext::ReadOwnArea(int m, int b, int16_t *coef, const int16_t *weights)
{
    // GetRunLevel's pass 1 with the area held in two words, shifted as codes are consumed.
    const int mb = m * 8 + b;
    uint64_t hi = areaHi_ << areaBit_ | areaLo_ >> (64 - areaBit_);
    uint64_t lo = areaLo_ << areaBit_;
    int left = areaBits_ - areaBit_;
    auto consume = [&](int n) {
        hi = hi << n | lo >> (64 - n);
        lo <<= n;
        left -= n;
    };
    for (int k = 1;;) {
        const uint32_t window = uint32_t(hi >> 48);
        const VlcEntry &e = kVlcLookup[window >> 3];
        if (e.length > left) {
            // Incomplete (an end of block too, with fewer than 4 bits): the partial code waits
            // for the pool.
            carried_[mb] = window << 16;
            carriedCount_[mb] = uint16_t(std::min(left, 16));
            pending_[mb] = uint16_t(k);
            return;
        }
        int run = e.run;
        int level = e.level;
        if (e.kind != VlcKind::Pair) {
            if (e.kind == VlcKind::EndOfBlock) {
                // The rest of the area goes to the macroblock's queue.
                consume(4);
                pool_.PutBits(m, uint32_t(hi >> 32), std::min(left, 32));
                if (left > 32) {
                    pool_.PutBits(m, uint32_t(hi), left - 32);
                }
                return;
            }
            if (e.kind == VlcKind::RunEscape) {
                run = int((window >> 3) & 63);
            } else {
                level = (window & 1) ? -int((window >> 1) & 255) : int((window >> 1) & 255);
            }
        }
        consume(e.length);
        k += run;
        if (k > 63) {
            return;
        }
        coef[kZigzag[k]] = Dequantise(weights[kZigzag[k]], qstep_, level);
        ++k;
    }
}

int CindrellContext::DecodeVideoSegment(int channel, int r, int s, uint8_t *target, int width,
                                        int height, const uint8_t *source, int yuvOutput,
                                        int format)
{
    (void)yuvOutput; // only BGR output is built
    // 1. Clear the coefficients, the carried codes and the bit pool.
    std::memset(coefficients_, 0, sizeof coefficients_);
    ClearSpill();

    // 2. Pass 1: headers, DC and the codes inside each block's own area.
    for (int m = 0; m < 5; ++m) {
        const int tableIndex = DifAddressIndex(channel, r, m, s);
        ReadMacroblockHeader(tableIndex, source, format);
        for (int b = 0; b < 8; ++b) {
            const int16_t *weights = WeightsFor(format, b);
            int16_t *coef = coefficients_ + (m * 8 + b) * 64;
            SetBlockPosition(source, tableIndex, b, format);
            coef[0] = Wrap16(ReadBlockHeader(b) * 4);
            blockQstep_[m * 8 + b] = qstep_;
            if (b == 0) {
                macroblockMode_[m] = uint8_t(dctMode_);
            }
            ReadOwnArea(m, b, coef, weights);
        }
    }

    // 3. Passes 2 and 3: unfinished blocks continue in their macroblock's, then the segment's
    // leftover bits.
    for (int pass = 2; pass <= 3; ++pass) {
        // A pass with no unfinished block reads nothing.
        if (std::none_of(pending_, pending_ + kBlocks, [](uint16_t k) { return k != 0; })) {
            break;
        }
        if (pass == 3) {
            pool_.Gather();
        }
        for (int m = 0; m < 5; ++m) {
            for (int b = 0; b < 8; ++b) {
                const int mb = m * 8 + b;
                if (pending_[mb] == 0) {
                    continue;
                }
                const int16_t *weights = WeightsFor(format, b);
                int16_t *coef = coefficients_ + mb * 64;
                const int qstep = blockQstep_[mb];
                int k = pending_[mb];
                for (;;) {
                    const RunLevelResult rl = GetRunLevel(m, b, pass);
                    if (rl.run == -2) {
                        pending_[mb] = uint16_t(k);
                        break;
                    }
                    if (rl.run == -1) {
                        pending_[mb] = 0;
                        break;
                    }
                    k += rl.run;
                    if (k > 63) {
                        break; // corrupt run: the pending index stays as it was
                    }
                    coef[kZigzag[k]] = Dequantise(weights[kZigzag[k]], qstep, rl.level);
                    ++k;
                }
            }
        }
    }

    // 4. Inverse transform and store each macroblock at its place.
    const int pitch = Pitch(width);
    const CindrellKernels &k = *kernels_;
    for (int m = 0; m < 5; ++m) {
        const MacroblockPlace place =
            gCindrellTables.positionTable[format][PositionIndex(channel, m, r, s)];
        int16_t *mbCoef = coefficients_ + m * 8 * 64;
        k.idct(mbCoef, 8);
        const bool hd1080 = format == 1 || format == 3;
        const bool halfRow = hd1080 && place.y == kHalfRowLine;
        const int mode = (!hd1080 || halfRow) ? 0 : macroblockMode_[m];
        for (int b = 0; b < 4; ++b) {
            const int16_t *block = mbCoef + b * 64;
            const BlockPlace at = LumaBlockPlace(place.x, place.y, b, halfRow, mode);
            assert(at.x + 8 <= width && at.y + 7 * at.lineStep < height);
            uint8_t *row = PictureRow(target, pitch, height, flip_, at.y);
            const ptrdiff_t stride = ptrdiff_t(flip_ ? -pitch : pitch) * at.lineStep;
            k.workLuma(row + at.x, stride, block);
            const int16_t *cr = mbCoef + (4 + b / 2) * 64 + 4 * (b % 2);
            const int16_t *cb = mbCoef + (6 + b / 2) * 64 + 4 * (b % 2);
            for (int j = 0; j < 8; ++j, row += stride) {
                std::memcpy(row + width + at.x, cr + 8 * j, 4 * sizeof(int16_t));
                std::memcpy(row + 2 * width + at.x, cb + 8 * j, 4 * sizeof(int16_t));
            }
        }
    }
    return 1;
}

int CindrellContext::DecodeVideoSegmentFast(int channel, int r, int s, uint8_t *target, int width,
                                            int height, const uint8_t *source, int yuvOutput,
                                            int fastPath, int format)
{
    (void)yuvOutput;
    (void)fastPath;
    // 1. Clear the coefficients.
    std::memset(coefficients_, 0, sizeof coefficients_);

    // 2. Headers and the codes inside each block's own area; no bit pool.
    for (int m = 0; m < 5; ++m) {
        const int tableIndex = DifAddressIndex(channel, r, m, s);
        ReadMacroblockHeader(tableIndex, source, format);
        for (int b = 0; b < 8; ++b) {
            int16_t *coef = coefficients_ + (m * 8 + b) * 64;
            SetBlockPosition(source, tableIndex, b, format);
            coef[0] = Wrap16(ReadBlockHeader(b) * 4);
            if (b == 0) {
                macroblockMode_[m] = uint8_t(dctMode_);
            }
            // DecodeRunLevelFast (block, qstep, 68 or 52, coef, 4, 1) on the area already loaded.
            DecodeAreaFast(areaHi_ << 4 | areaLo_ >> 60, areaLo_ << 4, AreaAcBits(b), qstep_, coef,
                           1);
        }
    }

    // 3. Store every macroblock, a colour per 2 x 2 luminance samples.
    for (int m = 0; m < 5; ++m) {
        const MacroblockPlace place =
            gCindrellTables.positionTable[format][PositionIndex(channel, m, r, s)];
        StoreMacroblockFast(m, target, width, height, place.x, place.y, format);
    }
    return 1;
}

void CindrellContext::StoreMacroblockFast(int m, uint8_t *target, int width, int height, int x0,
                                          int y0, int format)
{
    const bool hd1080 = format == 1 || format == 3;
    const bool halfRow = hd1080 && y0 == kHalfRowLine;
    const int mode = hd1080 ? macroblockMode_[m] : 0;
    if (halfRow && mode == 1) {
        return; // not drawn: those lines keep the picture's previous content
    }
    const CindrellKernels &k = *kernels_;
    int16_t *mbCoef = coefficients_ + m * 8 * 64;
    k.idct(mbCoef, 8);
    const int pitch = Pitch(width);
    const int displayWidth = hd1080 ? 1920 : 1280;
    const int columns = !fullWidth_ ? 8 : hd1080 ? 12 : 11; // written per block row
    for (int b = 0; b < 4; ++b) {
        const int16_t *v = mbCoef + b * 64;
        const BlockPlace at = LumaBlockPlace(x0, y0, b, halfRow, mode);
        // Widening: a 4/3 block reaches into its right neighbour's columns, which belong to
        // the neighbour; the last block of a row is kept inside the row.
        int first = at.x;
        int end = at.x + 8;
        if (fullWidth_) {
            const int codedWidth = format == 1 ? 1280 : format == 3 ? 1440 : 960;
            auto start = [&](int col) {
                return std::min(format == 1 ? col * 3 / 2 : col * 4 / 3, displayWidth - columns);
            };
            first = start(at.x);
            end = at.x + 8 >= codedWidth ? first + columns
                                         : std::min(first + columns, start(at.x + 8));
        }
        const int n = end - first;
        assert(n >= 8 && n <= 12 && end <= width && at.y + 7 * at.lineStep < height);
        alignas(16) uint8_t colours[16 * 4];
        k.fastColours(colours, v, mbCoef + (4 + b / 2) * 64 + 4 * (b % 2),
                      mbCoef + (6 + b / 2) * 64 + 4 * (b % 2));
        // Block rows j and j+1 share their colours; field blocks lie on every other line.
        const ptrdiff_t lineStride = ptrdiff_t(flip_ ? -pitch : pitch) * at.lineStep;
        uint8_t *row = PictureRow(target, pitch, height, flip_, at.y) + 3 * ptrdiff_t(first);
        k.expandColours(row, lineStride, colours, columns, n);
    }
}
