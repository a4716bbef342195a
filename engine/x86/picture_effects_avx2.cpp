// Blur on motion, flicker filter, grain and red boost.

#include <type_traits>

#include "engine/x86/avx2_helpers.h"
#include "engine/x86/x86_kernels.h"

namespace {

// The blur weights of a sensitivity in range.
struct BlurWeighting
{
    __m256i cap, sens, top;
    bool neutral;

    explicit BlurWeighting(int sensitivity)
        : cap(_mm256_set1_epi16(static_cast<int16_t>(WeightCap(sensitivity, 256))))
        , sens(_mm256_set1_epi16(static_cast<int16_t>(sensitivity)))
        , top(_mm256_set1_epi16(256))
        , neutral(sensitivity == 50)
    {}

    // The weights of pixels x .. x + 15 from map rows a, b, c.
    template <bool kNeutral>
    __m256i At(const int32_t *a, const int32_t *b, const int32_t *c, int x) const
    {
        const __m256i s0 =
            _mm256_add_epi32(_mm256_add_epi32(Load256(a + x), Load256(b + x)), Load256(c + x));
        const __m256i s1 = _mm256_add_epi32(
            _mm256_add_epi32(Load256(a + x + 8), Load256(b + x + 8)), Load256(c + x + 8));
        const __m256i t = Pack32To16(_mm256_srai_epi32(s0, 3), _mm256_srai_epi32(s1, 3));
        return kNeutral ? NeutralWeight16x16(t, top) : MotionWeight16x16(t, cap, sens, top);
    }

    __m256i At(const int32_t *a, const int32_t *b, const int32_t *c, int x) const
    {
        return neutral ? At<true>(a, b, c, x) : At<false>(a, b, c, x);
    }
};

void BlurWeightRow_avx2(int16_t *LC_RESTRICT w, const int32_t *a, const int32_t *b,
                        const int32_t *c, int width, int sensitivity)
{
    if (sensitivity < 0 || sensitivity > 1000) {
        kKernels_c.blurWeightRow(w, a, b, c, width, sensitivity);
        return;
    }
    const BlurWeighting k(sensitivity);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        Store256(w + x, k.At(a, b, c, x));
    }
    kKernels_c.blurWeightRow(w + x, a + x, b + x, c + x, width - x, sensitivity);
}

// The blur of sixteen bytes: sums up to 1275 divided by 3 and 5 as (n x 21846) >> 16 and
// (n x 13108) >> 16, exact there.
__m256i Blur16x16(int amount, const uint8_t *m2, const uint8_t *m1, const uint8_t *p0,
                  const uint8_t *p1, const uint8_t *p2)
{
    const __m256i a = Widen16(m1);
    const __m256i b = Widen16(p0);
    const __m256i c = Widen16(p1);
    if (amount == 1) {
        return _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(a, c), _mm256_add_epi16(b, b)),
                                 2);
    }
    if (amount == 2) {
        return _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_add_epi16(a, b), c),
                                  _mm256_set1_epi16(21846));
    }
    const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(_mm256_add_epi16(a, b), c),
                                         _mm256_add_epi16(Widen16(m2), Widen16(p2)));
    return _mm256_mulhi_epu16(sum, _mm256_set1_epi16(13108));
}

void BlurMixRow_avx2(uint8_t *LC_RESTRICT out, const uint8_t *m2, const uint8_t *m1,
                     const uint8_t *p0, const uint8_t *p1, const uint8_t *p2, const int16_t *wb,
                     int n, int amount)
{
    const bool outer = amount == 3;
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i half[2];
        for (int k = 0; k < 2; k++) {
            const int j = i + 16 * k;
            half[k] = Mix16x16(
                Blur16x16(amount, outer ? m2 + j : m2, m1 + j, p0 + j, p1 + j, outer ? p2 + j : p2),
                Widen16(p0 + j), Load256(wb + j));
        }
        Store256(out + i, PackBytes(half[0], half[1]));
    }
    kKernels_c.blurMixRow(out + i, outer ? m2 + i : m2, m1 + i, p0 + i, p1 + i, outer ? p2 + i : p2,
                          wb + i, n - i, amount);
}

// The blur of sixteen bytes held in 16-bit lanes (rows l - 2 .. l + 2).
__m256i BlurLanes(int amount, __m256i m2, __m256i m1, __m256i p0, __m256i p1, __m256i p2)
{
    if (amount == 1) {
        return _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_add_epi16(m1, p1), _mm256_add_epi16(p0, p0)), 2);
    }
    if (amount == 2) {
        return _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_add_epi16(m1, p0), p1),
                                  _mm256_set1_epi16(21846));
    }
    const __m256i sum =
        _mm256_add_epi16(_mm256_add_epi16(_mm256_add_epi16(m1, p0), p1), _mm256_add_epi16(m2, p2));
    return _mm256_mulhi_epu16(sum, _mm256_set1_epi16(13108));
}

// BlurLine of two-byte pixels: each pixel's weight meets both its bytes lane by lane.
template <bool kNeutral, int kAmount>
void BlurLine2(uint8_t *LC_RESTRICT out, const uint8_t *const *rows, const int32_t *a,
               const int32_t *b, const int32_t *c, int pixels, int sensitivity)
{
    const BlurWeighting k(sensitivity);
    // The last step ends at the last pixel, over pixels an earlier step may have done: it reads
    // only the unblurred lines, so they come out the same.
    for (int x = 0;; x += 16) {
        x = MinInt(x, pixels - 16);
        const __m256i w = k.At<kNeutral>(a, b, c, x);
        const __m256i w2 = _mm256_add_epi16(w, w);
        const int at = 2 * x;
        if (kAmount == 1) {
            const __m256i own = Complement(Load256(rows[2] + at));
            const __m256i v = ComplementBlur121(Complement(Load256(rows[1] + at)), own,
                                                Complement(Load256(rows[3] + at)));
            Store256(out + at, Complement(MixComplementsTowards(v, own, w2, w2)));
            if (x + 16 >= pixels) {
                break;
            }
            continue;
        }
        const PixelBytes m1 = LoadPixels(rows[1] + at);
        const PixelBytes p0 = LoadPixels(rows[2] + at);
        const PixelBytes p1 = LoadPixels(rows[3] + at);
        PixelBytes m2 = p0;
        PixelBytes p2 = p0;
        if (kAmount == 3) {
            m2 = LoadPixels(rows[0] + at);
            p2 = LoadPixels(rows[4] + at);
        }
        const __m256i lo = BlurLanes(kAmount, m2.lo, m1.lo, p0.lo, p1.lo, p2.lo);
        const __m256i hi = BlurLanes(kAmount, m2.hi, m1.hi, p0.hi, p1.hi, p2.hi);
        Store256(out + at, JoinPixels(MixTowards(lo, p0.lo, w2), MixTowards(hi, p0.hi, w2)));
        if (x + 16 >= pixels) {
            break;
        }
    }
}

// BlurLine of three-byte pixels with the amount and the neutral weighting fixed, so that the
// loop holds no branch and its constants stay in registers.
template <bool kNeutral, int kAmount>
void BlurLine3(uint8_t *LC_RESTRICT out, const uint8_t *const *rows, const int32_t *a,
               const int32_t *b, const int32_t *c, int pixels, int sensitivity)
{
    const BlurWeighting weighting(sensitivity);
    const bool outer = kAmount == 3;
    const uint8_t *m2 = rows[0];
    const uint8_t *m1 = rows[1];
    const uint8_t *p0 = rows[2];
    const uint8_t *p1 = rows[3];
    const uint8_t *p2 = rows[4];
    // The last step ends at the last pixel, over pixels an earlier step may have done: it reads
    // only the unblurred lines, so they come out the same.
    for (int x = 0;; x += 16) {
        x = MinInt(x, pixels - 16);
        __m256i wb[3];
        SpreadWeights2(weighting.At<kNeutral>(a, b, c, x), 3, wb);
        __m256i part[3];
        for (int k = 0; k < 3; k++) {
            const int j = 3 * x + 16 * k;
            const __m256i v = Blur16x16(kAmount, outer ? m2 + j : m2, m1 + j, p0 + j, p1 + j,
                                        outer ? p2 + j : p2);
            part[k] = MixTowards(v, Widen16(p0 + j), wb[k]);
        }
        StoreBytes(out + 3 * x, part, 3);
        if (x + 16 >= pixels) {
            break;
        }
    }
}

// BlurLine of three-byte pixels at amount 1, 32 a step: the blur on the bytes themselves, the
// mix on each 32 bytes split by parity into 16-bit lanes, so no byte is widened by a shuffle.
template <bool kNeutral>
void BlurLine3Amount1(uint8_t *LC_RESTRICT out, const uint8_t *const *rows, const int32_t *a,
                      const int32_t *b, const int32_t *c, int pixels, int sensitivity)
{
    const BlurWeighting weighting(sensitivity);
    const uint8_t *m1 = rows[1];
    const uint8_t *p0 = rows[2];
    const uint8_t *p1 = rows[3];
    // The last step ends at the last pixel, over pixels an earlier step may have done: it reads
    // only the unblurred lines, so they come out the same.
    for (int x = 0;; x += 32) {
        x = MinInt(x, pixels - 32);
        __m256i wb[6];
        SpreadWeightsSplit3(weighting.At<kNeutral>(a, b, c, x),
                            weighting.At<kNeutral>(a, b, c, x + 16), wb);
        for (int k = 0; k < 3; k++) {
            const int j = 3 * x + 32 * k;
            const __m256i own = Complement(Load256(p0 + j));
            const __m256i v =
                ComplementBlur121(Complement(Load256(m1 + j)), own, Complement(Load256(p1 + j)));
            Store256(out + j,
                     Complement(MixComplementsTowards(v, own, wb[2 * k], wb[2 * k + 1])));
        }
        if (x + 32 >= pixels) {
            break;
        }
    }
}

// One line of the blur, sixteen pixels a step, the weights never leaving the registers.
void BlurLine_avx2(uint8_t *LC_RESTRICT out, const uint8_t *const *rows, const int32_t *a,
                   const int32_t *b, const int32_t *c, int pixels, int bpp, int amount,
                   int sensitivity)
{
    if (sensitivity < 0 || sensitivity > 1000 || pixels < 16 || (bpp != 2 && bpp != 3)) {
        kKernels_c.blurLine(out, rows, a, b, c, pixels, bpp, amount, sensitivity);
        return;
    }
    // Each loop is made for its amount and weighting (neutral at sensitivity 50).
    auto blur = [&](auto neutral, auto fixedAmount) {
        constexpr bool kNeutral = decltype(neutral)::value;
        constexpr int kAmount = decltype(fixedAmount)::value;
        if (bpp == 2) {
            BlurLine2<kNeutral, kAmount>(out, rows, a, b, c, pixels, sensitivity);
        } else if (kAmount == 1 && pixels >= 32) {
            BlurLine3Amount1<kNeutral>(out, rows, a, b, c, pixels, sensitivity);
        } else {
            BlurLine3<kNeutral, kAmount>(out, rows, a, b, c, pixels, sensitivity);
        }
    };
    auto withAmount = [&](auto neutral) {
        if (amount == 1) {
            blur(neutral, std::integral_constant<int, 1>{});
        } else if (amount == 2) {
            blur(neutral, std::integral_constant<int, 2>{});
        } else {
            blur(neutral, std::integral_constant<int, 3>{});
        }
    };
    if (sensitivity == 50) {
        withAmount(std::true_type{});
    } else {
        withAmount(std::false_type{});
    }
}

// Rows 1..4 of the flicker table (above, centre, below, divisor) and (n x m) >> 16 == n / divisor
// for n <= 7 x 255.
constexpr int kFlickerTaps[5][5] = {
    {0, 1, 0, 1, 0},     {1, 4, 1, 6, 10923}, {1, 3, 1, 5, 13108},
    {1, 2, 1, 4, 16384}, {2, 3, 2, 7, 9363},
};

void FlickerRow_avx2(uint8_t *LC_RESTRICT out, const uint8_t *a, const uint8_t *c, const uint8_t *b,
                     int n, int level)
{
    if (level < 1 || level > 4) {
        kKernels_c.flickerRow(out, a, c, b, n, level);
        return;
    }
    const int *t = kFlickerTaps[level];
    const __m256i ta = _mm256_set1_epi16(static_cast<int16_t>(t[0]));
    const __m256i tc = _mm256_set1_epi16(static_cast<int16_t>(t[1]));
    const __m256i tb = _mm256_set1_epi16(static_cast<int16_t>(t[2]));
    const __m256i m = _mm256_set1_epi16(static_cast<int16_t>(t[4]));
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i half[2];
        for (int k = 0; k < 2; k++) {
            const int j = i + 16 * k;
            const __m256i sum =
                _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(Widen16(a + j), ta),
                                                  _mm256_mullo_epi16(Widen16(c + j), tc)),
                                 _mm256_mullo_epi16(Widen16(b + j), tb));
            half[k] = _mm256_mulhi_epu16(sum, m);
        }
        Store256(out + i, PackBytes(half[0], half[1]));
    }
    kKernels_c.flickerRow(out + i, a + i, c + i, b + i, n - i, level);
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

// The C runtime generator, x -> 214013 x + 2531011, in eight lanes: lane k holds the state after
// `skip` + k + 1 further calls, and each step moves every lane on by `stride` calls. Two of them
// with stride 16 run side by side, so that the multiplications of one wait less on the other's.
struct Generator8
{
    __m256i state;
    __m256i mulStep;
    __m256i addStep;

    explicit Generator8(uint32_t s, int skip = 0, int stride = 8)
    {
        alignas(32) uint32_t lanes[8];
        uint32_t a = 1;
        uint32_t c = 0;
        for (int i = 0; i < skip; i++) {
            a *= 214013u;
            c = c * 214013u + 2531011u;
        }
        for (uint32_t &l : lanes) {
            a *= 214013u;
            c = c * 214013u + 2531011u;
            l = a * s + c;
        }
        state = _mm256_load_si256(reinterpret_cast<const __m256i *>(lanes));
        a = 1;
        c = 0;
        for (int i = 0; i < stride; i++) {
            a *= 214013u;
            c = c * 214013u + 2531011u;
        }
        mulStep = _mm256_set1_epi32(static_cast<int>(a));
        addStep = _mm256_set1_epi32(static_cast<int>(c));
    }
    void Step() { state = _mm256_add_epi32(_mm256_mullo_epi32(state, mulStep), addStep); }
    // The state after the last of the eight calls.
    uint32_t Last() const { return static_cast<uint32_t>(_mm256_extract_epi32(state, 7)); }
};

// The grain values of the eight lanes: bits 27..30 of the state index the table's first 16
// entries, as the number of a call shifted right by 11.
__m256i GrainOf(const Generator8 &g, __m256i lowTable, __m256i highTable)
{
    const __m256i idx = _mm256_and_si256(_mm256_srli_epi32(g.state, 27), _mm256_set1_epi32(15));
    const __m256i lo = _mm256_permutevar8x32_epi32(lowTable, idx);
    const __m256i hi = _mm256_permutevar8x32_epi32(highTable, idx);
    const __m256i upper = _mm256_cmpgt_epi32(idx, _mm256_set1_epi32(7));
    return _mm256_blendv_epi8(lo, hi, upper);
}

uint32_t EffectsRow_avx2(uint8_t *row, int width, const EffectParams &p, uint32_t state)
{
    if (!p.addGrain && !p.redBoost) {
        return state;
    }
    if (!FitsLanes(p)) {
        return kKernels_c.effectsRow(row, width, p, state);
    }
    const int boost = p.redBoost ? p.redBoostAmount : 0;
    const bool grain = p.addGrain;
    const __m256i lowTable = grain ? Load256(p.noiseTable) : _mm256_setzero_si256();
    const __m256i highTable = grain ? Load256(p.noiseTable + 8) : _mm256_setzero_si256();
    Generator8 g(state);
    int x = 0;
    if (p.yuv) {
        // Per pixel one 32-bit lane of two 16-bit adds: grain on the luminance, the boost on the
        // colour difference of odd (V) columns.
        const __m256i vBoost =
            _mm256_setr_epi32(0, boost << 16, 0, boost << 16, 0, boost << 16, 0, boost << 16);
        const __m256i low16 = _mm256_set1_epi32(0xffff);
        if (grain) {
            Generator8 g0(state, 0, 16);
            Generator8 g1(state, 8, 16);
            for (; x + 16 <= width; x += 16) {
                const __m256i adds[2] = {
                    _mm256_or_si256(_mm256_and_si256(GrainOf(g0, lowTable, highTable), low16),
                                    vBoost),
                    _mm256_or_si256(_mm256_and_si256(GrainOf(g1, lowTable, highTable), low16),
                                    vBoost)};
                state = g1.Last();
                g0.Step();
                g1.Step();
                uint8_t *px = row + 2 * x;
                const __m256i v0 = _mm256_add_epi16(Widen16(px), adds[0]);
                const __m256i v1 = _mm256_add_epi16(Widen16(px + 16), adds[1]);
                Store256(px, PackBytes(v0, v1));
            }
            g.state = g0.state;
        }
        for (; x + 8 <= width; x += 8) {
            __m256i adds = vBoost;
            if (grain) {
                adds = _mm256_or_si256(_mm256_and_si256(GrainOf(g, lowTable, highTable), low16),
                                       vBoost);
                state = g.Last();
                g.Step();
            }
            uint8_t *px = row + 2 * x;
            const __m256i v = _mm256_add_epi16(Widen16(px), adds);
            const __m256i packed = PackBytes(v, v);
            Store128(px, _mm256_castsi256_si128(packed));
        }
    } else {
        // Per byte: the pixel's grain and +boost on red, -boost on the other two.
        int16_t pattern[24];
        for (int i = 0; i < 24; i++) {
            pattern[i] = static_cast<int16_t>(i % 3 == p.redIndex ? boost : -boost);
        }
        const __m128i b0 = Load128(pattern);
        const __m128i b1 = Load128(pattern + 8);
        const __m128i b2 = Load128(pattern + 16);
        const __m128i kTriple0 = _mm_setr_epi8(0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 4, 5, 4, 5);
        const __m128i kTriple1 = _mm_setr_epi8(4, 5, 6, 7, 6, 7, 6, 7, 8, 9, 8, 9, 8, 9, 10, 11);
        const __m128i kTriple2 =
            _mm_setr_epi8(10, 11, 10, 11, 12, 13, 12, 13, 12, 13, 14, 15, 14, 15, 14, 15);
        for (; x + 8 <= width; x += 8) {
            __m128i n16 = _mm_setzero_si128();
            if (grain) {
                const __m256i n32 = GrainOf(g, lowTable, highTable);
                n16 =
                    _mm_packs_epi32(_mm256_castsi256_si128(n32), _mm256_extracti128_si256(n32, 1));
                state = g.Last();
                g.Step();
            }
            uint8_t *px = row + 3 * x;
            const __m128i v0 =
                _mm_add_epi16(Widen8(px), _mm_add_epi16(_mm_shuffle_epi8(n16, kTriple0), b0));
            const __m128i v1 =
                _mm_add_epi16(Widen8(px + 8), _mm_add_epi16(_mm_shuffle_epi8(n16, kTriple1), b1));
            const __m128i v2 =
                _mm_add_epi16(Widen8(px + 16), _mm_add_epi16(_mm_shuffle_epi8(n16, kTriple2), b2));
            Store128(px, _mm_packus_epi16(v0, v1));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(px + 16), _mm_packus_epi16(v2, v2));
        }
    }
    // The last pixels one by one, on the same generator.
    const int bpp = p.yuv ? 2 : 3;
    for (; x < width; x++) {
        GrainAndRedBoostPixel(row + x * bpp, x, p, state);
    }
    return state;
}

} // namespace

void FillPictureEffects_avx2(EngineKernels &k)
{
    k.blurWeightRow = BlurWeightRow_avx2;
    k.blurMixRow = BlurMixRow_avx2;
    k.blurLine = BlurLine_avx2;
    k.flickerRow = FlickerRow_avx2;
    k.effectsRow = EffectsRow_avx2;
}
