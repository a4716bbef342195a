#include "dvdecoder/internal/idct.h"

#include <algorithm>

#include "dvdecoder/internal/idct_vectors.h"

namespace {

constexpr IdctRowConstants kRow04 = {{16384, 21407, 8867}, {22725, 19266, 12873, 4520}, 0};
constexpr IdctRowConstants kRow17 = {{22725, 29692, 12299}, {31521, 26722, 17855, 6270}, 0};
constexpr IdctRowConstants kRow26 = {{21407, 27969, 11585}, {29692, 25172, 16819, 5906}, 0};
constexpr IdctRowConstants kRow35 = {{19266, 25172, 10426}, {26722, 22654, 15137, 5315}, 0};

constexpr IdctRowConstants WithRounder(IdctRowConstants c, int32_t rounder)
{
    c.rounder = rounder;
    return c;
}

int16_t Sat16(int32_t v)
{
    return int16_t(std::clamp(v, -32768, 32767));
}
int16_t Adds(int16_t a, int16_t b)
{
    return Sat16(int32_t(a) + b);
}
int16_t Subs(int16_t a, int16_t b)
{
    return Sat16(int32_t(a) - b);
}
int16_t MulHi(int16_t a, int16_t b)
{
    return int16_t((int32_t(a) * b) >> 16);
}
// The row sums wrap in 32 bits, as the vector form's do (corrupt blocks reach them).
int16_t RowOut(int64_t sum)
{
    return Sat16(int32_t(uint32_t(uint64_t(sum))) >> 11);
}

} // namespace

const IdctRowConstants kIdctRows[8] = {
    WithRounder(kRow04, 65536), WithRounder(kRow17, 3597), WithRounder(kRow26, 2260),
    WithRounder(kRow35, 1203),  WithRounder(kRow04, 0),    WithRounder(kRow35, 120),
    WithRounder(kRow26, 512),   WithRounder(kRow17, 512),
};

void IdctC(int16_t *block)
{
    // Row pass: 32-bit sums, shifted by 11 and saturated.
    for (int row = 0; row < 8; ++row) {
        int16_t *x = block + 8 * row;
        const IdctRowConstants &k = kIdctRows[row];
        const int64_t c4 = k.even[0], c2 = k.even[1], c6 = k.even[2];
        const int64_t c1 = k.odd[0], c3 = k.odd[1], c5 = k.odd[2], c7 = k.odd[3];
        const int64_t a0 = c4 * x[0] + c2 * x[2] + c4 * x[4] + c6 * x[6];
        const int64_t a1 = c4 * x[0] + c6 * x[2] - c4 * x[4] - c2 * x[6];
        const int64_t a2 = c4 * x[0] - c6 * x[2] - c4 * x[4] + c2 * x[6];
        const int64_t a3 = c4 * x[0] - c2 * x[2] + c4 * x[4] - c6 * x[6];
        const int64_t b0 = c1 * x[1] + c3 * x[3] + c5 * x[5] + c7 * x[7];
        const int64_t b1 = c3 * x[1] - c7 * x[3] - c1 * x[5] - c5 * x[7];
        const int64_t b2 = c5 * x[1] - c1 * x[3] + c7 * x[5] + c3 * x[7];
        const int64_t b3 = c7 * x[1] - c5 * x[3] + c3 * x[5] - c1 * x[7];
        const int64_t r = k.rounder;
        x[0] = RowOut(a0 + b0 + r);
        x[7] = RowOut(a0 - b0 + r);
        x[1] = RowOut(a1 + b1 + r);
        x[6] = RowOut(a1 - b1 + r);
        x[2] = RowOut(a2 + b2 + r);
        x[5] = RowOut(a2 - b2 + r);
        x[3] = RowOut(a3 + b3 + r);
        x[4] = RowOut(a3 - b3 + r);
    }
    // Column pass: 16-bit saturating arithmetic, outputs shifted by 6.
    for (int col = 0; col < 8; ++col) {
        int16_t *p = block + col;
        const int16_t x0 = p[0], x1 = p[8], x2 = p[16], x3 = p[24];
        const int16_t x4 = p[32], x5 = p[40], x6 = p[48], x7 = p[56];
        const int16_t tm35 = Subs(Adds(MulHi(x3, kTan3m1), x3), x5);
        const int16_t tp35 = Adds(Adds(MulHi(x5, kTan3m1), x3), x5);
        const int16_t tp17 = Adds(MulHi(x7, kTan1), x1);
        const int16_t tm17 = Subs(MulHi(x1, kTan1), x7);
        const int16_t b0 = Adds(tp17, tp35);
        const int16_t b3 = Subs(tm17, tm35);
        const int16_t t1 = Subs(tp17, tp35);
        const int16_t t2 = Adds(tm17, tm35);
        int16_t b1 = MulHi(Adds(t1, t2), kCos4);
        int16_t b2 = MulHi(Subs(t1, t2), kCos4);
        b1 = Adds(b1, b1);
        b2 = Adds(b2, b2);
        const int16_t tm26 = Subs(MulHi(x2, kTan2), x6);
        const int16_t tp26 = Adds(MulHi(x6, kTan2), x2);
        const int16_t tp04 = Adds(x0, x4);
        const int16_t tm04 = Subs(x0, x4);
        const int16_t a0 = Adds(tp04, tp26);
        const int16_t a3 = Subs(tp04, tp26);
        const int16_t a1 = Adds(tm04, tm26);
        const int16_t a2 = Subs(tm04, tm26);
        p[0] = int16_t(Adds(a0, b0) >> 6);
        p[56] = int16_t(Subs(a0, b0) >> 6);
        p[8] = int16_t(Adds(a1, b1) >> 6);
        p[48] = int16_t(Subs(a1, b1) >> 6);
        p[16] = int16_t(Adds(a2, b2) >> 6);
        p[40] = int16_t(Subs(a2, b2) >> 6);
        p[24] = int16_t(Adds(a3, b3) >> 6);
        p[32] = int16_t(Subs(a3, b3) >> 6);
    }
}

namespace {

constexpr IdctRowVectors MakeRowVectors(const IdctRowConstants &k)
{
    const int16_t c4 = k.even[0], c2 = k.even[1], c6 = k.even[2];
    const int16_t c1 = k.odd[0], c3 = k.odd[1], c5 = k.odd[2], c7 = k.odd[3];
    auto n = [](int16_t v) { return int16_t(-v); };
    return IdctRowVectors{{c4, c2, c4, c6, c4, n(c6), c4, n(c2)},
                          {c4, c6, n(c4), n(c2), n(c4), c2, c4, n(c6)},
                          {c1, c3, c3, n(c7), c5, n(c1), c7, n(c5)},
                          {c5, c7, n(c1), n(c5), c7, c3, c3, n(c1)},
                          {k.rounder, k.rounder, k.rounder, k.rounder}};
}

} // namespace

const IdctRowVectors kIdctRowVectors[8] = {
    MakeRowVectors(kIdctRows[0]), MakeRowVectors(kIdctRows[1]), MakeRowVectors(kIdctRows[2]),
    MakeRowVectors(kIdctRows[3]), MakeRowVectors(kIdctRows[4]), MakeRowVectors(kIdctRows[5]),
    MakeRowVectors(kIdctRows[6]), MakeRowVectors(kIdctRows[7])};

void IdctBlocksC(int16_t *blocks, int count)
{
    for (int i = 0; i < count; ++i) {
        IdctC(blocks + 64 * i);
    }
}
