// Every packed row primitive against its C version: random rows, odd lengths, guard bytes
// around what it writes, inputs exactly as long as what it may read.

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/internal/kernels.h"
#include "engine/picture_effects.h"

namespace {

constexpr int kGuard = 32;
constexpr uint8_t kGuardByte = 0xa5;

// Lengths around every vector width and step, and whole frame rows.
const int kLengths[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,   11,  13,  15,  16,  17,  23,  31,
                        32, 33, 40, 47, 63, 64, 65, 97, 129, 255, 256, 257, 511, 512, 720, 1920};

std::vector<KernelIsa> PackedIsas()
{
    std::vector<KernelIsa> isas;
    for (KernelIsa isa : {KernelIsa::Sse2, KernelIsa::Avx2}) {
        if (KernelsFor(isa)) {
            isas.push_back(isa);
        }
    }
    return isas;
}

class KernelsTest : public ::testing::TestWithParam<KernelIsa>
{
protected:
    const EngineKernels &c = kKernels_c;
    const EngineKernels &k = *KernelsFor(GetParam());
    std::mt19937 rng{1234};

    std::vector<uint8_t> Bytes(size_t n)
    {
        std::vector<uint8_t> v(n);
        for (uint8_t &b : v) {
            b = static_cast<uint8_t>(rng());
        }
        return v;
    }

    // Rows of a few values only, so that equal neighbours and extremes come up often.
    std::vector<uint8_t> Extremes(size_t n)
    {
        static const uint8_t values[] = {0, 1, 127, 128, 254, 255};
        std::vector<uint8_t> v(n);
        for (uint8_t &b : v) {
            b = values[rng() % 6];
        }
        return v;
    }

    std::vector<int32_t> MapRow(size_t n, int32_t max)
    {
        std::vector<int32_t> v(n);
        for (int32_t &m : v) {
            // Half of the values near the weights' working range, half anywhere.
            m = static_cast<int32_t>(rng() % 2 ? rng() % 24000 : rng() % (uint32_t(max) + 1));
        }
        return v;
    }

    int16_t Weight()
    {
        return static_cast<int16_t>(rng() % 4 == 0 ? (rng() % 2) * 256 : rng() % 257);
    }
};

// A destination with guard bytes on both sides; Out() is where the kernel writes.
template <typename T> struct Guarded
{
    std::vector<T> buf;
    explicit Guarded(size_t n)
        : buf(n + 2 * kGuard)
    {
        std::memset(buf.data(), kGuardByte, buf.size() * sizeof(T));
    }
    T *Out() { return buf.data() + kGuard; }
    bool operator==(const Guarded &o) const { return buf == o.buf; }
};

TEST_P(KernelsTest, LerpRowEveryStepOfTheLineConverters)
{
    // The divisors of the 576/480/486 conversions, the squeeze and the unsqueeze; every byte pair.
    std::vector<uint8_t> s0(65536), s1(65536);
    for (int i = 0; i < 65536; i++) {
        s0[i] = static_cast<uint8_t>(i);
        s1[i] = static_cast<uint8_t>(i >> 8);
    }
    for (int d : {1, 3, 5, 6, 8, 9, 27, 32, 256}) {
        for (int f = 0; f<d; f += d> 40 ? 7 : 1) {
            Guarded<uint8_t> want(65536), got(65536);
            c.lerpRow(want.Out(), s0.data(), s1.data(), 65536, f, d);
            k.lerpRow(got.Out(), s0.data(), s1.data(), 65536, f, d);
            ASSERT_TRUE(want == got) << f << " / " << d;
        }
    }
    for (int n : kLengths) {
        const auto a = Bytes(n), b = Bytes(n);
        Guarded<uint8_t> want(n), got(n);
        c.lerpRow(want.Out(), a.data(), b.data(), n, 3, 5);
        k.lerpRow(got.Out(), a.data(), b.data(), n, 3, 5);
        ASSERT_TRUE(want == got) << n;
    }
}

TEST_P(KernelsTest, SquaredDifferences)
{
    for (int n : kLengths) {
        for (int round = 0; round < 3; round++) {
            const auto a = round == 2 ? Extremes(3 * n) : Bytes(3 * n);
            const auto b = round == 2 ? Extremes(3 * n) : Bytes(3 * n);
            ASSERT_EQ(c.sqDiffBytes(a.data(), b.data(), 3 * n),
                      k.sqDiffBytes(a.data(), b.data(), 3 * n))
                << n;
            const auto ya = Bytes(2 * n), yb = Bytes(2 * n);
            ASSERT_EQ(c.sqDiffLuma(ya.data(), yb.data(), n), k.sqDiffLuma(ya.data(), yb.data(), n))
                << n;
        }
    }
    // Long rows of the largest differences, past the packed sums' flush interval.
    std::vector<uint8_t> zeros(200000, 0), full(200000, 255);
    EXPECT_EQ(k.sqDiffBytes(zeros.data(), full.data(), 200000), int64_t(200000) * 65025);
    EXPECT_EQ(k.sqDiffLuma(zeros.data(), full.data(), 100000), int64_t(100000) * 65025);
}

TEST_P(KernelsTest, MotionRows)
{
    for (bool yuv : {false, true}) {
        const int bpp = yuv ? 2 : 3;
        for (int n : kLengths) {
            std::vector<std::vector<uint8_t>> rows;
            for (int r = 0; r < 6; r++) {
                rows.push_back(r % 3 == 1 ? Extremes(size_t(n) * bpp) : Bytes(size_t(n) * bpp));
            }
            Guarded<int32_t> want(n), got(n);
            auto run = [&](const EngineKernels &t, int32_t *out) {
                (yuv ? t.motionRowYuv : t.motionRowRgb)(out, rows[0].data(), rows[1].data(),
                                                        rows[2].data(), rows[3].data(),
                                                        rows[4].data(), rows[5].data(), n);
            };
            run(c, want.Out());
            run(k, got.Out());
            ASSERT_TRUE(want == got) << (yuv ? "yuv " : "rgb ") << n;
        }
    }
}

TEST_P(KernelsTest, GroupMotionRows)
{
    for (bool yuv : {false, true}) {
        const int bpp = yuv ? 2 : 3;
        for (int frames : {3, 7}) {
            for (int n : kLengths) {
                std::vector<std::vector<uint8_t>> rows;
                std::vector<const uint8_t *> line0, line1;
                for (int j = 0; j < 2 * frames; j++) {
                    rows.push_back(j % 4 == 1 ? Extremes(size_t(n) * bpp) : Bytes(size_t(n) * bpp));
                }
                for (int j = 0; j < frames; j++) {
                    line0.push_back(rows[2 * j].data());
                    line1.push_back(rows[2 * j + 1].data());
                }
                std::vector<Guarded<int32_t>> want, got;
                std::vector<int32_t *> outWant, outGot;
                for (int i = 0; i + 2 < frames; i++) {
                    want.emplace_back(n);
                    got.emplace_back(n);
                }
                for (int i = 0; i + 2 < frames; i++) {
                    outWant.push_back(want[i].Out());
                    outGot.push_back(got[i].Out());
                }
                c.groupMotionRows(outWant.data(), line0.data(), line1.data(), frames, n, yuv);
                k.groupMotionRows(outGot.data(), line0.data(), line1.data(), frames, n, yuv);
                for (int i = 0; i + 2 < frames; i++) {
                    ASSERT_TRUE(want[i] == got[i])
                        << (yuv ? "yuv " : "rgb ") << frames << " frames, map " << i << ", " << n;
                }
            }
        }
    }
}

TEST_P(KernelsTest, BlendsAndWeightExpansion)
{
    for (int n : kLengths) {
        for (int bpp : {2, 3}) {
            std::vector<int16_t> w(n);
            for (int16_t &v : w) {
                v = Weight();
            }
            Guarded<int16_t> want(size_t(n) * bpp), got(size_t(n) * bpp);
            c.expandWeights(want.Out(), w.data(), n, bpp);
            k.expandWeights(got.Out(), w.data(), n, bpp);
            ASSERT_TRUE(want == got) << n << " x " << bpp;
        }
        std::vector<int16_t> wb(n);
        for (int16_t &v : wb) {
            v = Weight();
        }
        const auto up = Bytes(n), mid = Extremes(n), dn = Bytes(n);
        Guarded<uint8_t> want(n), got(n);
        std::memcpy(want.Out(), mid.data(), n);
        std::memcpy(got.Out(), mid.data(), n);
        c.fieldBlendRow(want.Out(), up.data(), dn.data(), wb.data(), n);
        k.fieldBlendRow(got.Out(), up.data(), dn.data(), wb.data(), n);
        ASSERT_TRUE(want == got) << "field " << n;
        Guarded<uint8_t> want2(n), got2(n);
        c.fromFrameBlendRow(want2.Out(), up.data(), mid.data(), dn.data(), wb.data(), n);
        k.fromFrameBlendRow(got2.Out(), up.data(), mid.data(), dn.data(), wb.data(), n);
        ASSERT_TRUE(want2 == got2) << "from frame " << n;
    }
}

TEST_P(KernelsTest, BlurFlickerRows)
{
    for (int n : kLengths) {
        std::vector<std::vector<uint8_t>> rows;
        for (int r = 0; r < 5; r++) {
            rows.push_back(r == 2 ? Extremes(n) : Bytes(n));
        }
        std::vector<int16_t> wb(n);
        for (int16_t &v : wb) {
            v = Weight();
        }
        for (int amount = 1; amount <= 3; amount++) {
            // Amounts 1 and 2 are given no outer lines.
            const uint8_t *m2 = amount == 3 ? rows[0].data() : nullptr;
            const uint8_t *p2 = amount == 3 ? rows[4].data() : nullptr;
            Guarded<uint8_t> want(n), got(n);
            c.blurMixRow(want.Out(), m2, rows[1].data(), rows[2].data(), rows[3].data(), p2,
                         wb.data(), n, amount);
            k.blurMixRow(got.Out(), m2, rows[1].data(), rows[2].data(), rows[3].data(), p2,
                         wb.data(), n, amount);
            ASSERT_TRUE(want == got) << "blur " << amount << " " << n;
        }
        for (int level = 1; level <= 4; level++) {
            Guarded<uint8_t> want(n), got(n);
            c.flickerRow(want.Out(), rows[1].data(), rows[2].data(), rows[3].data(), n, level);
            k.flickerRow(got.Out(), rows[1].data(), rows[2].data(), rows[3].data(), n, level);
            ASSERT_TRUE(want == got) << "flicker " << level << " " << n;
        }
    }
}

TEST_P(KernelsTest, BlurWeightsForEverySensitivity)
{
    const int n = 257;
    for (int sensitivity = 0; sensitivity <= 1000; sensitivity += sensitivity < 60 ? 1 : 13) {
        const auto a = MapRow(n, 780300), b = MapRow(n, 780300), m = MapRow(n, 780300);
        Guarded<int16_t> want(n), got(n);
        c.blurWeightRow(want.Out(), a.data(), b.data(), m.data(), n, sensitivity);
        k.blurWeightRow(got.Out(), a.data(), b.data(), m.data(), n, sensitivity);
        ASSERT_TRUE(want == got) << sensitivity;
    }
}

TEST_P(KernelsTest, BlurLines)
{
    for (int bpp : {2, 3}) {
        for (int n : kLengths) {
            std::vector<std::vector<uint8_t>> rows;
            for (int r = 0; r < 5; r++) {
                rows.push_back(r == 2 ? Extremes(size_t(n) * bpp) : Bytes(size_t(n) * bpp));
            }
            const auto a = MapRow(n, 780300), b = MapRow(n, 780300), m = MapRow(n, 780300);
            for (int amount = 1; amount <= 3; amount++) {
                for (int sensitivity : {0, 1, 50, 999}) {
                    const uint8_t *lines[5];
                    for (int r = 0; r < 5; r++) {
                        // Amounts 1 and 2 are given no outer lines.
                        lines[r] = (amount == 3 || (r > 0 && r < 4)) ? rows[r].data() : nullptr;
                    }
                    Guarded<uint8_t> want(size_t(n) * bpp), got(size_t(n) * bpp);
                    c.blurLine(want.Out(), lines, a.data(), b.data(), m.data(), n, bpp, amount,
                               sensitivity);
                    k.blurLine(got.Out(), lines, a.data(), b.data(), m.data(), n, bpp, amount,
                               sensitivity);
                    ASSERT_TRUE(want == got)
                        << n << " x " << bpp << " amount " << amount << " sens " << sensitivity;
                }
            }
        }
    }
}

TEST_P(KernelsTest, LineDetectorBoxSums)
{
    for (bool yuv : {false, true}) {
        const int bpp = yuv ? 2 : 3;
        for (int n : kLengths) {
            // The row holds exactly the pixels the sums read: 3 either side.
            const auto row = Bytes(size_t(n + 6) * bpp);
            Guarded<int16_t> want(n), got(n);
            c.lineBoxRow(want.Out(), row.data(), 3, n, yuv);
            k.lineBoxRow(got.Out(), row.data(), 3, n, yuv);
            ASSERT_TRUE(want == got) << (yuv ? "yuv " : "rgb ") << n;
        }
    }
}

// Weights of every option combination and sensitivity class, with and without line values and
// the rows around; the line values written beside them.
TEST_P(KernelsTest, DeinterlaceWeightRows)
{
    for (int n : {1, 7, 8, 15, 16, 17, 33, 720}) {
        for (bool yuv : {false, true}) {
            const int boxMax = yuv ? 7 * 255 : 7 * 765;
            std::vector<std::vector<int16_t>> boxes(3, std::vector<int16_t>(n));
            for (auto &b : boxes) {
                for (int16_t &v : b) {
                    // Often near one another, so that small differences come up.
                    v = static_cast<int16_t>(rng() % 2 ? rng() % (boxMax + 1)
                                                       : boxMax / 2 + rng() % 64);
                }
            }
            const auto motion = MapRow(n, 780300);
            std::vector<std::vector<int32_t>> previous(3, std::vector<int32_t>(n));
            for (auto &row : previous) {
                for (int32_t &v : row) {
                    v = static_cast<int32_t>(rng() % 256);
                }
            }
            for (int flags = 0; flags < 32; flags++) {
                for (int sensitivity : {0, 1, 7, 50, 333, 1000}) {
                    WeightRowInput in;
                    in.motion = motion.data();
                    in.params.motionSensitivity = sensitivity;
                    in.params.lineDetectorOn = flags & 1;
                    in.params.showMotionMask = flags & 2;
                    in.params.showLineMask = flags & 4;
                    in.params.yuv = yuv;
                    if (flags & 8) {
                        in.boxA = boxes[0].data();
                        in.boxB = boxes[1].data();
                        in.boxC = boxes[2].data();
                    }
                    in.prev = previous[1].data();
                    if (flags & 16) {
                        in.above = previous[0].data();
                        in.below = previous[2].data();
                    }
                    Guarded<int16_t> want(n), got(n);
                    Guarded<int32_t> sumWant(n), sumGot(n);
                    in.sum = sumWant.Out();
                    c.weightRow(want.Out(), in, n);
                    in.sum = sumGot.Out();
                    k.weightRow(got.Out(), in, n);
                    ASSERT_TRUE(want == got) << n << (yuv ? " yuv" : " rgb") << " flags " << flags
                                             << " sens " << sensitivity;
                    ASSERT_TRUE(sumWant == sumGot) << "line values, flags " << flags;
                }
            }
        }
    }
}

// The lines made in one pass: the bytes and line values of weightRow, expandWeights and the
// blends, with and without the line detector.
TEST_P(KernelsTest, FieldAndFilteredLines)
{
    for (int bpp : {2, 3}) {
        for (int n : kLengths) {
            const auto motion = MapRow(n, 780300);
            std::vector<std::vector<int16_t>> boxes(3, std::vector<int16_t>(n));
            for (auto &b : boxes) {
                for (int16_t &v : b) {
                    v = static_cast<int16_t>(rng() % (7 * 255 * (bpp == 2 ? 1 : 3) + 1));
                }
            }
            std::vector<int32_t> previous(size_t(n) * 3);
            for (int32_t &v : previous) {
                v = static_cast<int32_t>(rng() % 256);
            }
            std::vector<std::vector<uint8_t>> lines;
            for (int r = 0; r < 4; r++) {
                lines.push_back(r == 1 ? Extremes(size_t(n) * bpp) : Bytes(size_t(n) * bpp));
            }
            // Bit 0 the line detector, bits 1 and 2 the motion and line masks.
            for (int flags = 0; flags < 8; flags++) {
                for (int sensitivity : {0, 50, 700}) {
                    WeightRowInput in;
                    in.motion = motion.data();
                    in.params.motionSensitivity = sensitivity;
                    in.params.lineDetectorOn = flags & 1;
                    in.params.showMotionMask = flags & 2;
                    in.params.showLineMask = flags & 4;
                    in.params.yuv = bpp == 2;
                    in.boxA = boxes[0].data();
                    in.boxB = boxes[1].data();
                    in.boxC = boxes[2].data();
                    in.prev = previous.data() + n;
                    in.above = previous.data();
                    in.below = previous.data() + 2 * n;
                    const size_t bytes = size_t(n) * bpp;
                    Guarded<uint8_t> want(bytes), got(bytes);
                    Guarded<int32_t> sumWant(n), sumGot(n);
                    std::memcpy(want.Out(), lines[1].data(), bytes);
                    std::memcpy(got.Out(), lines[1].data(), bytes);
                    in.sum = sumWant.Out();
                    c.fieldLine(want.Out(), lines[0].data(), lines[2].data(), in, n, bpp);
                    in.sum = sumGot.Out();
                    k.fieldLine(got.Out(), lines[0].data(), lines[2].data(), in, n, bpp);
                    ASSERT_TRUE(want == got) << "field " << n << " x " << bpp << " sens "
                                             << sensitivity << " flags " << flags;
                    ASSERT_TRUE(!(flags & 1) || sumWant == sumGot);
                    Guarded<uint8_t> want0(bytes), want1(bytes), got0(bytes), got1(bytes);
                    const uint8_t *src[4] = {lines[0].data(), lines[1].data(), lines[2].data(),
                                             lines[3].data()};
                    uint8_t *outWant[2] = {want0.Out(), want1.Out()};
                    uint8_t *outGot[2] = {got0.Out(), got1.Out()};
                    in.sum = sumWant.Out();
                    c.fromFrameLines(outWant, src, in, n, bpp);
                    in.sum = sumGot.Out();
                    k.fromFrameLines(outGot, src, in, n, bpp);
                    ASSERT_TRUE(want0 == got0 && want1 == got1)
                        << "filtered " << n << " x " << bpp << " sens " << sensitivity << " flags "
                        << flags;
                }
            }
        }
    }
}

// The (above + 2 x own + below) >> 2 filter of the blur at amount 1 and of the filtered lines,
// over every triple of byte values, each at weights from none to full.
TEST_P(KernelsTest, QuarterFilterOfEveryByteTriple)
{
    for (int bpp : {2, 3}) {
        // Every pair of above and below values once per own value, in whole pixels.
        const int n = (65536 + bpp - 1) / bpp;
        const size_t bytes = size_t(n) * bpp;
        std::vector<uint8_t> above(bytes), below(bytes), own(bytes), after(bytes);
        for (size_t i = 0; i < bytes; i++) {
            above[i] = static_cast<uint8_t>(i);
            below[i] = static_cast<uint8_t>(i >> 8);
        }
        after = Bytes(bytes);
        // The blur weighs (3m >> 3) - 100 and the filtered lines (m >> 3) - 100: both run over
        // every weight, from none to full, and past them.
        std::vector<int32_t> map(n), motion(n);
        for (int i = 0; i < n; i++) {
            map[i] = static_cast<int32_t>(rng() % 1000);
            motion[i] = static_cast<int32_t>(rng() % 3000);
        }
        for (int value = 0; value < 256; value++) {
            std::fill(own.begin(), own.end(), static_cast<uint8_t>(value));
            const uint8_t *rows[5] = {nullptr, above.data(), own.data(), below.data(), nullptr};
            Guarded<uint8_t> want(bytes), got(bytes);
            c.blurLine(want.Out(), rows, map.data(), map.data(), map.data(), n, bpp, 1, 50);
            k.blurLine(got.Out(), rows, map.data(), map.data(), map.data(), n, bpp, 1, 50);
            ASSERT_TRUE(want == got) << "blur, own " << value << " x " << bpp;
            WeightRowInput in;
            in.motion = motion.data();
            in.params.motionSensitivity = 50;
            in.params.yuv = bpp == 2;
            const uint8_t *src[4] = {above.data(), own.data(), below.data(), after.data()};
            Guarded<uint8_t> want0(bytes), want1(bytes), got0(bytes), got1(bytes);
            uint8_t *outWant[2] = {want0.Out(), want1.Out()};
            uint8_t *outGot[2] = {got0.Out(), got1.Out()};
            c.fromFrameLines(outWant, src, in, n, bpp);
            k.fromFrameLines(outGot, src, in, n, bpp);
            ASSERT_TRUE(want0 == got0 && want1 == got1) << "filtered, own " << value << " x " << bpp;
        }
    }
}

TEST_P(KernelsTest, GrainAndRedBoostKeepTheGeneratorSequence)
{
    std::vector<int32_t> table(64);
    for (int amount : {1, 4, 100}) {
        BuildGrainTable_c(table.data(), 64, amount);
        for (int n : kLengths) {
            for (int mode = 0; mode < 16; mode++) {
                EffectParams p;
                p.addGrain = mode & 1;
                p.redBoost = mode & 2;
                p.yuv = mode & 4;
                p.redIndex = mode & 8 ? 2 : 0;
                p.redBoostAmount = 1 + static_cast<int>(rng() % 100);
                p.noiseTable = table.data();
                const int bpp = p.yuv ? 2 : 3;
                const auto row = mode % 3 ? Bytes(size_t(n) * bpp) : Extremes(size_t(n) * bpp);
                Guarded<uint8_t> want(row.size()), got(row.size());
                std::memcpy(want.Out(), row.data(), row.size());
                std::memcpy(got.Out(), row.data(), row.size());
                const uint32_t state = static_cast<uint32_t>(rng());
                const uint32_t endWant = c.effectsRow(want.Out(), n, p, state);
                const uint32_t endGot = k.effectsRow(got.Out(), n, p, state);
                ASSERT_TRUE(want == got) << "amount " << amount << " mode " << mode << " " << n;
                ASSERT_EQ(endWant, endGot);
            }
        }
    }
}

TEST_P(KernelsTest, PixelFormatRows)
{
    for (int n : kLengths) {
        for (int round = 0; round < 2; round++) {
            const auto yuv = round ? Extremes(size_t(n) * 2) : Bytes(size_t(n) * 2);
            Guarded<uint8_t> want(size_t(n) * 3), got(size_t(n) * 3);
            c.yuvToBgrRow(want.Out(), yuv.data(), n);
            k.yuvToBgrRow(got.Out(), yuv.data(), n);
            ASSERT_TRUE(want == got) << "yuv " << n;
            const auto rgb = Bytes(size_t(n) * 3);
            Guarded<uint8_t> want3(size_t(n) * 3), got3(size_t(n) * 3);
            c.swapRgbRow(want3.Out(), rgb.data(), n);
            k.swapRgbRow(got3.Out(), rgb.data(), n);
            ASSERT_TRUE(want3 == got3) << "swap " << n;
            const auto rgbx = Bytes(size_t(n) * 4);
            Guarded<uint8_t> want4(size_t(n) * 3), got4(size_t(n) * 3);
            c.swapRgbxRow(want4.Out(), rgbx.data(), n);
            k.swapRgbxRow(got4.Out(), rgbx.data(), n);
            ASSERT_TRUE(want4 == got4) << "swap x " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Isa, KernelsTest, ::testing::ValuesIn(PackedIsas()),
                         [](const auto &param) { return std::string(KernelIsaName(param.param)); });

} // namespace
