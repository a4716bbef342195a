// Blur on motion, flicker filter, grain and red boost.

#include "engine/x86/sse2_helpers.h"
#include "engine/x86/x86_kernels.h"
#include "platform/sys/random.h"

namespace {

void BlurWeightRow_sse2(int16_t *LC_RESTRICT w, const int32_t *a, const int32_t *b,
                        const int32_t *c, int width, int sensitivity)
{
    if (sensitivity < 0 || sensitivity > 1000) {
        kKernels_c.blurWeightRow(w, a, b, c, width, sensitivity);
        return;
    }
    const __m128i cap = _mm_set1_epi16(static_cast<int16_t>(WeightCap(sensitivity, 256)));
    const __m128i sens = _mm_set1_epi16(static_cast<int16_t>(sensitivity));
    const __m128i top = _mm_set1_epi16(256);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i s0 =
            _mm_add_epi32(_mm_add_epi32(Load128(a + x), Load128(b + x)), Load128(c + x));
        const __m128i s1 = _mm_add_epi32(_mm_add_epi32(Load128(a + x + 4), Load128(b + x + 4)),
                                         Load128(c + x + 4));
        const __m128i t = _mm_packs_epi32(_mm_srai_epi32(s0, 3), _mm_srai_epi32(s1, 3));
        Store128(w + x, MotionWeight16(t, cap, sens, top));
    }
    kKernels_c.blurWeightRow(w + x, a + x, b + x, c + x, width - x, sensitivity);
}

// (a x w + b x (256 - w)) >> 8 on 16-bit lanes; a, b <= 255 and w <= 256 keep it in 16 bits.
__m128i Mix16(__m128i a, __m128i b, __m128i w)
{
    const __m128i wb = _mm_sub_epi16(_mm_set1_epi16(256), w);
    return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(a, w), _mm_mullo_epi16(b, wb)), 8);
}

// Sums up to 1275 divided by 3 and 5: (n x 21846) >> 16 and (n x 13108) >> 16 are exact there.
__m128i Blur16(int amount, const uint8_t *m2, const uint8_t *m1, const uint8_t *p0,
               const uint8_t *p1, const uint8_t *p2)
{
    const __m128i a = Widen8(m1);
    const __m128i b = Widen8(p0);
    const __m128i c = Widen8(p1);
    if (amount == 1) {
        return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(a, c), _mm_add_epi16(b, b)), 2);
    }
    if (amount == 2) {
        return _mm_mulhi_epu16(_mm_add_epi16(_mm_add_epi16(a, b), c), _mm_set1_epi16(21846));
    }
    const __m128i sum =
        _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(a, b), c), _mm_add_epi16(Widen8(m2), Widen8(p2)));
    return _mm_mulhi_epu16(sum, _mm_set1_epi16(13108));
}

void BlurMixRow_sse2(uint8_t *LC_RESTRICT out, const uint8_t *m2, const uint8_t *m1,
                     const uint8_t *p0, const uint8_t *p1, const uint8_t *p2, const int16_t *wb,
                     int n, int amount)
{
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i lo = Mix16(Blur16(amount, m2 + i, m1 + i, p0 + i, p1 + i, p2 + i),
                                 Widen8(p0 + i), Load128(wb + i));
        const int j = i + 8;
        const __m128i hi = Mix16(Blur16(amount, m2 + j, m1 + j, p0 + j, p1 + j, p2 + j),
                                 Widen8(p0 + j), Load128(wb + j));
        Store128(out + i, _mm_packus_epi16(lo, hi));
    }
    kKernels_c.blurMixRow(out + i, amount == 3 ? m2 + i : m2, m1 + i, p0 + i, p1 + i,
                          amount == 3 ? p2 + i : p2, wb + i, n - i, amount);
}

// The weights of a chunk of pixels at a time, on the stack.
constexpr int kBlurChunk = 512;

void BlurLine_sse2(uint8_t *LC_RESTRICT out, const uint8_t *const *rows, const int32_t *a,
                   const int32_t *b, const int32_t *c, int pixels, int bpp, int amount,
                   int sensitivity)
{
    alignas(16) int16_t w[kBlurChunk];
    alignas(16) int16_t wb[3 * kBlurChunk];
    for (int x0 = 0; x0 < pixels; x0 += kBlurChunk) {
        const int n = MinInt(kBlurChunk, pixels - x0);
        BlurWeightRow_sse2(w, a + x0, b + x0, c + x0, n, sensitivity);
        for (int x = 0; x < n; x++) {
            for (int t = 0; t < bpp; t++) {
                wb[bpp * x + t] = w[x];
            }
        }
        const int i = bpp * x0;
        BlurMixRow_sse2(out + i, amount == 3 ? rows[0] + i : nullptr, rows[1] + i, rows[2] + i,
                        rows[3] + i, amount == 3 ? rows[4] + i : nullptr, wb, bpp * n, amount);
    }
}

struct FlickerTaps
{
    int above, centre, below, divisor;
    int16_t multiplier; // (n x multiplier) >> 16 == n / divisor for n <= 7 x 255
};

// The flicker table's rows 1..4 with their exact reciprocals.
constexpr FlickerTaps kFlickerTaps[5] = {
    {0, 1, 0, 1, 0},     {1, 4, 1, 6, 10923}, {1, 3, 1, 5, 13108},
    {1, 2, 1, 4, 16384}, {2, 3, 2, 7, 9363},
};

__m128i Flicker16(const FlickerTaps &t, const uint8_t *a, const uint8_t *c, const uint8_t *b)
{
    const __m128i sum = _mm_add_epi16(
        _mm_add_epi16(_mm_mullo_epi16(Widen8(a), _mm_set1_epi16(static_cast<int16_t>(t.above))),
                      _mm_mullo_epi16(Widen8(c), _mm_set1_epi16(static_cast<int16_t>(t.centre)))),
        _mm_mullo_epi16(Widen8(b), _mm_set1_epi16(static_cast<int16_t>(t.below))));
    return _mm_mulhi_epu16(sum, _mm_set1_epi16(t.multiplier));
}

void FlickerRow_sse2(uint8_t *LC_RESTRICT out, const uint8_t *a, const uint8_t *c, const uint8_t *b,
                     int n, int level)
{
    if (level < 1 || level > 4) {
        kKernels_c.flickerRow(out, a, c, b, n, level);
        return;
    }
    const FlickerTaps &t = kFlickerTaps[level];
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i lo = Flicker16(t, a + i, c + i, b + i);
        const __m128i hi = Flicker16(t, a + i + 8, c + i + 8, b + i + 8);
        Store128(out + i, _mm_packus_epi16(lo, hi));
    }
    kKernels_c.flickerRow(out + i, a + i, c + i, b + i, n - i, level);
}

// 32-bit products of four lanes, low halves.
__m128i MulLo32(__m128i a, __m128i b)
{
    const __m128i even = _mm_mul_epu32(a, b);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

// Grain values and red boost amounts this large would not fit the 16-bit lanes.
constexpr int kMaxLaneAdd = 4096;

bool FitsLanes(const EffectParams &p)
{
    if (p.redBoostAmount < -kMaxLaneAdd || p.redBoostAmount > kMaxLaneAdd) {
        return false;
    }
    if (p.addGrain) {
        for (int i = 0; i < 16; i++) {
            if (p.noiseTable[i] < -kMaxLaneAdd || p.noiseTable[i] > kMaxLaneAdd) {
                return false;
            }
        }
    }
    return true;
}

// Pixels a row is worked in at a time.
constexpr int kGrainChunk = 256;

// The grain values of `count` pixels (a multiple of 4) and the generator state after them. The
// C runtime's number of one call is (state >> 16) & 0x7fff; shifted by 11 it indexes the first
// 16 table entries: bits 27..30 of the state.
uint32_t GrainValues(int16_t *values, int count, const int32_t *table, uint32_t state)
{
    uint32_t first[4];
    for (uint32_t &f : first) {
        lc::CrtRandNext(state);
        f = state;
    }
    uint32_t a4 = 1;
    uint32_t c4 = 0;
    for (int i = 0; i < 4; i++) {
        a4 *= lc::kCrtRandMultiplier;
        c4 = c4 * lc::kCrtRandMultiplier + lc::kCrtRandIncrement;
    }
    const __m128i mul = _mm_set1_epi32(static_cast<int>(a4));
    const __m128i add = _mm_set1_epi32(static_cast<int>(c4));
    __m128i s = _mm_setr_epi32(static_cast<int>(first[0]), static_cast<int>(first[1]),
                               static_cast<int>(first[2]), static_cast<int>(first[3]));
    alignas(16) uint32_t idx[4];
    for (int i = 0; i < count; i += 4) {
        _mm_store_si128(reinterpret_cast<__m128i *>(idx),
                        _mm_and_si128(_mm_srli_epi32(s, 27), _mm_set1_epi32(15)));
        for (int k = 0; k < 4; k++) {
            values[i + k] = static_cast<int16_t>(table[idx[k]]);
        }
        if (i + 4 < count) {
            s = _mm_add_epi32(MulLo32(s, mul), add);
        }
    }
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(s, _MM_SHUFFLE(3, 3, 3, 3))));
}

uint32_t EffectsRow_sse2(uint8_t *row, int width, const EffectParams &p, uint32_t state)
{
    if (!p.addGrain && !p.redBoost) {
        return state;
    }
    if (!FitsLanes(p)) {
        return kKernels_c.effectsRow(row, width, p, state);
    }
    const int bpp = p.yuv ? 2 : 3;
    const int boost = p.redBoost ? p.redBoostAmount : 0;
    alignas(16) int16_t grain[kGrainChunk];
    int x = 0;
    while (x + 4 <= width) {
        const int count = MinInt(kGrainChunk, (width - x) & ~3);
        if (p.addGrain) {
            state = GrainValues(grain, count, p.noiseTable, state);
        } else {
            __builtin_memset(grain, 0, sizeof grain);
        }
        uint8_t *px = row + x * bpp;
        if (p.yuv) {
            // 16-bit lanes: luminance + grain, colour difference + boost on odd (V) columns.
            const __m128i vBoost = _mm_setr_epi16(0, 0, 0, static_cast<int16_t>(boost), 0, 0, 0,
                                                  static_cast<int16_t>(boost));
            for (int i = 0; i < count; i += 4) {
                const __m128i g = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(grain + i));
                const __m128i lanes =
                    _mm_add_epi16(_mm_unpacklo_epi16(g, _mm_setzero_si128()), vBoost);
                const __m128i v = _mm_add_epi16(Widen8(px + 2 * i), lanes);
                _mm_storel_epi64(reinterpret_cast<__m128i *>(px + 2 * i), _mm_packus_epi16(v, v));
            }
        } else {
            for (int i = 0; i < count; i++) {
                uint8_t *q = px + 3 * i;
                for (int b = 0; b < 3; b++) {
                    const int add = grain[i] + (b == p.redIndex ? boost : -boost);
                    const int v = q[b] + add;
                    q[b] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
                }
            }
        }
        x += count;
    }
    // The last pixels one by one, on the same generator.
    for (; x < width; x++) {
        GrainAndRedBoostPixel(row + x * bpp, x, p, state);
    }
    return state;
}

} // namespace

void FillPictureEffects_sse2(EngineKernels &k)
{
    k.blurWeightRow = BlurWeightRow_sse2;
    k.blurMixRow = BlurMixRow_sse2;
    k.blurLine = BlurLine_sse2;
    k.flickerRow = FlickerRow_sse2;
    k.effectsRow = EffectsRow_sse2;
}
