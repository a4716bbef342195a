// The direct conversions between the DV family's planes and the frame store's pictures: every
// packed table against the C one on random pictures of odd sizes with guard bytes around what
// they write, and the C one against BT.601 and the chroma filters worked out in floating point.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/media/internal/yuv_convert.h"

namespace {

using lc::media::ChromaSampling;
using lc::media::PackedFormat;
using lc::media::PlanarPicture;
using lc::media::YuvIsa;
using lc::media::YuvKernelsFor;
using lc::media::YuvRowKernels;

constexpr int kGuard = 64;
constexpr uint8_t kGuardByte = 0xa5;

const ChromaSampling kSamplings[] = {ChromaSampling::S411, ChromaSampling::S420,
                                     ChromaSampling::S422};

const char *Name(ChromaSampling s)
{
    return s == ChromaSampling::S411 ? "4:1:1" : s == ChromaSampling::S420 ? "4:2:0" : "4:2:2";
}

int ChromaWidth(ChromaSampling s, int w)
{
    return s == ChromaSampling::S411 ? (w + 3) / 4 : (w + 1) / 2;
}

int ChromaHeight(ChromaSampling s, int h)
{
    return s == ChromaSampling::S420 ? (h + 1) / 2 : h;
}

// A buffer with guard bytes on both sides; each plane exactly as large as its rows.
struct Guarded
{
    std::vector<uint8_t> buf;
    explicit Guarded(size_t n)
        : buf(n + 2 * kGuard, kGuardByte)
    {}
    uint8_t *Data() { return buf.data() + kGuard; }
    bool GuardsIntact() const
    {
        return std::all_of(buf.begin(), buf.begin() + kGuard,
                           [](uint8_t b) { return b == kGuardByte; })
               && std::all_of(buf.end() - kGuard, buf.end(),
                              [](uint8_t b) { return b == kGuardByte; });
    }
};

struct Planes
{
    std::vector<uint8_t> p[3];
    PlanarPicture pic;
    Planes(ChromaSampling s, int w, int h)
    {
        const int cw = ChromaWidth(s, w), ch = ChromaHeight(s, h);
        p[0].resize(size_t(w) * size_t(h));
        p[1].resize(size_t(cw) * size_t(ch));
        p[2].resize(size_t(cw) * size_t(ch));
        for (int i = 0; i < 3; i++) {
            pic.plane[i] = p[i].data();
            pic.stride[i] = i == 0 ? w : cw;
        }
        pic.width = w;
        pic.height = h;
        pic.sampling = s;
    }
};

// Planes with guard bytes, for a conversion to write into.
struct GuardedPlanes
{
    Guarded g[3];
    PlanarPicture pic;
    GuardedPlanes(ChromaSampling s, int w, int h)
        : g{Guarded(size_t(w) * size_t(h)),
            Guarded(size_t(ChromaWidth(s, w)) * size_t(ChromaHeight(s, h))),
            Guarded(size_t(ChromaWidth(s, w)) * size_t(ChromaHeight(s, h)))}
    {
        for (int i = 0; i < 3; i++) {
            pic.plane[i] = g[i].Data();
            pic.stride[i] = i == 0 ? w : ChromaWidth(s, w);
        }
        pic.width = w;
        pic.height = h;
        pic.sampling = s;
    }
    bool operator==(const GuardedPlanes &o) const
    {
        return g[0].buf == o.g[0].buf && g[1].buf == o.g[1].buf && g[2].buf == o.g[2].buf;
    }
};

int Bpp(PackedFormat f)
{
    return f == PackedFormat::Rgb24 ? 3 : 2;
}

std::vector<YuvIsa> PackedIsas()
{
    std::vector<YuvIsa> isas;
    for (YuvIsa isa : {YuvIsa::Sse2, YuvIsa::Avx2}) {
        if (YuvKernelsFor(isa)) {
            isas.push_back(isa);
        }
    }
    return isas;
}

// Sizes around every vector step, odd ones, and the DV frames.
const int kWidths[] = {1,  2,  3,  4,  5,  7,  8,  9,  15,  16, 17,
                       31, 33, 47, 63, 64, 65, 66, 97, 130, 721};
const int kHeights[] = {1, 2, 3, 4, 5, 8, 9, 11};

class YuvConvertPacked : public ::testing::TestWithParam<YuvIsa>
{
protected:
    const YuvRowKernels &c = *YuvKernelsFor(YuvIsa::C);
    const YuvRowKernels &k = *YuvKernelsFor(GetParam());
    std::mt19937 rng{4242};

    // Random bytes; now and then only extremes, so that clamping and saturation come up.
    void Fill(uint8_t *p, size_t n, bool extremes)
    {
        static const uint8_t values[] = {0, 1, 16, 127, 128, 235, 240, 254, 255};
        for (size_t i = 0; i < n; i++) {
            p[i] = extremes ? values[rng() % 9] : static_cast<uint8_t>(rng());
        }
    }
};

TEST_P(YuvConvertPacked, PlanesToPackedAsC)
{
    for (ChromaSampling s : kSamplings) {
        for (PackedFormat f : {PackedFormat::Rgb24, PackedFormat::Yuyv}) {
            for (int w : kWidths) {
                for (int h : kHeights) {
                    for (bool extremes : {false, true}) {
                        Planes in(s, w, h);
                        for (auto &p : in.p) {
                            Fill(p.data(), p.size(), extremes);
                        }
                        const size_t bytes = size_t(w) * size_t(Bpp(f)) * size_t(h);
                        Guarded want(bytes), got(bytes);
                        lc::media::PlanarToPacked(c, in.pic, want.Data(), w * Bpp(f), f);
                        lc::media::PlanarToPacked(k, in.pic, got.Data(), w * Bpp(f), f);
                        ASSERT_TRUE(got.GuardsIntact()) << Name(s) << " " << w << "x" << h;
                        ASSERT_TRUE(want.buf == got.buf)
                            << Name(s) << (f == PackedFormat::Rgb24 ? " RGB " : " yuvs ") << w
                            << "x" << h << (extremes ? " extremes" : "");
                    }
                }
            }
        }
    }
}

TEST_P(YuvConvertPacked, PackedToPlanesAsC)
{
    for (ChromaSampling s : kSamplings) {
        for (PackedFormat f : {PackedFormat::Rgb24, PackedFormat::Yuyv}) {
            for (int w : kWidths) {
                if (f == PackedFormat::Yuyv && (w & 1)) {
                    continue; // 'yuvs' pictures are whole pixel pairs
                }
                for (int h : kHeights) {
                    for (bool extremes : {false, true}) {
                        std::vector<uint8_t> in(size_t(w) * size_t(Bpp(f)) * size_t(h));
                        Fill(in.data(), in.size(), extremes);
                        GuardedPlanes want(s, w, h), got(s, w, h);
                        lc::media::PackedToPlanar(c, in.data(), w * Bpp(f), f, want.pic);
                        lc::media::PackedToPlanar(k, in.data(), w * Bpp(f), f, got.pic);
                        for (const Guarded &g : got.g) {
                            ASSERT_TRUE(g.GuardsIntact()) << Name(s) << " " << w << "x" << h;
                        }
                        ASSERT_TRUE(want == got)
                            << Name(s) << (f == PackedFormat::Rgb24 ? " RGB " : " yuvs ") << w
                            << "x" << h << (extremes ? " extremes" : "");
                    }
                }
            }
        }
    }
}

// Rows of other pictures around the one converted (strides beyond the width) are left alone.
TEST_P(YuvConvertPacked, StridesWiderThanTheRows)
{
    const int w = 77, h = 9, pad = 13;
    Planes in(ChromaSampling::S411, w, h);
    for (auto &p : in.p) {
        Fill(p.data(), p.size(), false);
    }
    std::vector<uint8_t> want(size_t(w * 3 + pad) * h, 7), got = want;
    lc::media::PlanarToPacked(c, in.pic, want.data(), w * 3 + pad, PackedFormat::Rgb24);
    lc::media::PlanarToPacked(k, in.pic, got.data(), w * 3 + pad, PackedFormat::Rgb24);
    EXPECT_EQ(want, got);
    for (int y = 0; y < h; y++) {
        EXPECT_EQ(got[size_t(y * (w * 3 + pad) + w * 3)], 7) << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Isa, YuvConvertPacked, ::testing::ValuesIn(PackedIsas()),
                         [](const auto &p) {
                             return std::string(p.param == YuvIsa::Sse2 ? "Sse2" : "Avx2");
                         });

// BT.601 in floating point.
constexpr double kKr = 0.299, kKb = 0.114, kKg = 1 - kKr - kKb;

void ExactRgb(double y, double u, double v, double rgb[3])
{
    const double l = (y - 16) * 255 / 219, cb = (u - 128) * 255 / 224, cr = (v - 128) * 255 / 224;
    rgb[0] = l + 2 * (1 - kKr) * cr;
    rgb[1] = l - 2 * (1 - kKb) * kKb / kKg * cb - 2 * (1 - kKr) * kKr / kKg * cr;
    rgb[2] = l + 2 * (1 - kKb) * cb;
}

void ExactYuv(double r, double g, double b, double yuv[3])
{
    const double l = kKr * r + kKg * g + kKb * b;
    yuv[0] = 16 + l * 219 / 255;
    yuv[1] = 128 + (b - l) / (2 * (1 - kKb)) * 224 / 255;
    yuv[2] = 128 + (r - l) / (2 * (1 - kKr)) * 224 / 255;
}

int RoundClamp(double v)
{
    return std::clamp(int(std::floor(v + 0.5)), 0, 255);
}

// The chroma cubic (parameter -0.6).
double Cubic(double x)
{
    const double a = -0.6;
    x = std::fabs(x);
    return x < 1 ? (a + 2) * x * x * x - (a + 3) * x * x + 1
                 : (x < 2 ? a * x * x * x - 5 * a * x * x + 8 * a * x - 4 * a : 0);
}

// Sample at pos of a row of n values, edges repeated.
double Interpolate(const std::vector<double> &row, double pos)
{
    const int base = int(std::floor(pos)) - 1;
    double acc = 0;
    for (int t = base; t < base + 4; t++) {
        acc += row[size_t(std::clamp(t, 0, int(row.size()) - 1))] * Cubic(pos - t);
    }
    return acc;
}

// Value i of a row filtered to half its rate, centred between values 2i and 2i + 1.
double Halve(const std::vector<double> &row, int i)
{
    double acc = 0;
    for (int t = 2 * i - 3; t <= 2 * i + 4; t++) {
        acc +=
            row[size_t(std::clamp(t, 0, int(row.size()) - 1))] * Cubic((t - 2 * i - 0.5) / 2) / 2;
    }
    return acc;
}

// How far a C conversion is from the exact one: the largest difference, and how many values
// differ at all.
struct Misses
{
    int largest = 0;
    long count = 0;
    long total = 0;
    void Add(int got, int want)
    {
        largest = std::max(largest, std::abs(got - want));
        count += got != want;
        total++;
    }
};

TEST(YuvConvertC, MatrixToRgbIsBt601RoundedToNearest)
{
    // Every Y, U and V with 4:2:2 planes (no filter): a row per Y, a pixel pair per (U, V).
    const int w = 2 * 256, h = 256;
    const YuvRowKernels &c = *YuvKernelsFor(YuvIsa::C);
    Misses m;
    for (int v = 0; v < 256; v++) {
        Planes in(ChromaSampling::S422, w, h);
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                in.p[0][size_t(y * w + x)] = uint8_t(y);
            }
            for (int j = 0; j < w / 2; j++) {
                in.p[1][size_t(y * (w / 2) + j)] = uint8_t(j);
                in.p[2][size_t(y * (w / 2) + j)] = uint8_t(v);
            }
        }
        std::vector<uint8_t> out(size_t(w) * 3 * h);
        lc::media::PlanarToPacked(c, in.pic, out.data(), w * 3, PackedFormat::Rgb24);
        for (int y = 0; y < h; y++) {
            for (int j = 0; j < w / 2; j++) {
                double rgb[3];
                ExactRgb(y, j, v, rgb);
                for (int ch = 0; ch < 3; ch++) {
                    m.Add(out[size_t((y * w + 2 * j + 1) * 3 + ch)], RoundClamp(rgb[ch]));
                }
            }
        }
    }
    // Coefficients in 1/16384 miss only values within a few thousandths of a half.
    EXPECT_LE(m.largest, 1);
    EXPECT_LT(double(m.count) / double(m.total), 0.004) << m.count << " of " << m.total;
}

TEST(YuvConvertC, RgbToPlanesIsBt601RoundedToNearest)
{
    // Every R and G with B in steps, pixel pairs of equal colour into 4:2:2 (no filter).
    const int w = 2 * 256, h = 256;
    const YuvRowKernels &c = *YuvKernelsFor(YuvIsa::C);
    Misses luma, chroma;
    for (int b = 0; b < 256; b += 3) {
        std::vector<uint8_t> in(size_t(w) * 3 * h);
        for (int r = 0; r < h; r++) {
            for (int x = 0; x < w; x++) {
                uint8_t *p = &in[size_t((r * w + x) * 3)];
                p[0] = uint8_t(r);
                p[1] = uint8_t(x / 2);
                p[2] = uint8_t(b);
            }
        }
        Planes out(ChromaSampling::S422, w, h);
        lc::media::PackedToPlanar(c, in.data(), w * 3, PackedFormat::Rgb24, out.pic);
        for (int r = 0; r < h; r++) {
            for (int g = 0; g < 256; g++) {
                double yuv[3];
                ExactYuv(r, g, b, yuv);
                luma.Add(out.p[0][size_t(r * w + 2 * g)], RoundClamp(yuv[0]));
                chroma.Add(out.p[1][size_t(r * 256 + g)], RoundClamp(yuv[1]));
                chroma.Add(out.p[2][size_t(r * 256 + g)], RoundClamp(yuv[2]));
            }
        }
    }
    EXPECT_LE(luma.largest, 1);
    EXPECT_LE(chroma.largest, 1);
    EXPECT_LT(double(luma.count) / double(luma.total), 0.004) << luma.count;
    EXPECT_LT(double(chroma.count) / double(chroma.total), 0.004) << chroma.count;
}

TEST(YuvConvertC, GreysStayGreyBothWays)
{
    const YuvRowKernels &c = *YuvKernelsFor(YuvIsa::C);
    for (ChromaSampling s : kSamplings) {
        const int w = 256, h = 6;
        std::vector<uint8_t> rgb(size_t(w) * 3 * h);
        for (size_t i = 0; i < rgb.size(); i++) {
            rgb[i] = uint8_t(i / 3 % 256);
        }
        Planes planes(s, w, h);
        lc::media::PackedToPlanar(c, rgb.data(), w * 3, PackedFormat::Rgb24, planes.pic);
        for (int i = 1; i < 3; i++) {
            EXPECT_TRUE(std::all_of(planes.p[i].begin(), planes.p[i].end(), [](uint8_t v) {
                return v == 128;
            })) << Name(s);
        }
        for (int x = 0; x < w; x++) {
            EXPECT_EQ(planes.p[0][size_t(x)], RoundClamp(16 + x * 219.0 / 255)) << x;
        }
        std::vector<uint8_t> back(rgb.size());
        lc::media::PlanarToPacked(c, planes.pic, back.data(), w * 3, PackedFormat::Rgb24);
        for (int x = 0; x < w; x++) {
            // Through 8-bit Y and back: within one level, R = G = B.
            const uint8_t *p = &back[size_t(x) * 3];
            EXPECT_EQ(p[0], p[1]);
            EXPECT_EQ(p[1], p[2]);
            EXPECT_LE(std::abs(p[0] - x), 1) << Name(s) << " " << x;
        }
    }
}

// The filters of each sampling against the cubic in floating point, on random pictures.
TEST(YuvConvertC, ChromaFiltersAreTheCubic)
{
    const YuvRowKernels &c = *YuvKernelsFor(YuvIsa::C);
    std::mt19937 rng(99);
    const int w = 45, h = 14;
    for (ChromaSampling s : kSamplings) {
        const int cw = ChromaWidth(s, w), ch = ChromaHeight(s, h), pairs = (w + 1) / 2;
        // To 'yuvs': each pair's colour differences interpolated (or taken) from the planes.
        Planes in(s, w, h);
        for (auto &p : in.p) {
            for (uint8_t &b : p) {
                b = uint8_t(rng());
            }
        }
        std::vector<uint8_t> out(size_t(w) * 2 * h);
        lc::media::PlanarToPacked(c, in.pic, out.data(), w * 2, PackedFormat::Yuyv);
        Misses up;
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                const int plane = 1 + (x & 1);
                const int j = x / 2;
                double want = 0;
                if (s == ChromaSampling::S411) {
                    std::vector<double> row(static_cast<size_t>(cw));
                    for (int i = 0; i < cw; i++) {
                        row[size_t(i)] = in.p[plane][size_t(y * cw + i)];
                    }
                    want = Interpolate(row, j / 2.0 - 0.25);
                } else if (s == ChromaSampling::S420) {
                    std::vector<double> col(static_cast<size_t>(ch));
                    for (int i = 0; i < ch; i++) {
                        col[size_t(i)] = in.p[plane][size_t(i * cw + j)];
                    }
                    want = Interpolate(col, y / 2.0 - 0.25);
                } else {
                    want = in.p[plane][size_t(y * cw + j)];
                }
                up.Add(out[size_t((y * w + x) * 2 + 1)], RoundClamp(want));
            }
        }
        EXPECT_LE(up.largest, 1) << Name(s);
        EXPECT_LT(double(up.count) / double(up.total), 0.02) << Name(s);

        // From RGB: pair means (u, v of each pair), then halved along the row or down the column.
        std::vector<uint8_t> rgb(size_t(w) * 3 * h);
        for (uint8_t &b : rgb) {
            b = uint8_t(rng());
        }
        Planes planes(s, w, h);
        lc::media::PackedToPlanar(c, rgb.data(), w * 3, PackedFormat::Rgb24, planes.pic);
        std::vector<double> pairU(size_t(pairs) * h), pairV(size_t(pairs) * h);
        for (int y = 0; y < h; y++) {
            for (int j = 0; j < pairs; j++) {
                double sum[3] = {0, 0, 0};
                for (int x : {2 * j, std::min(2 * j + 1, w - 1)}) {
                    double yuv[3];
                    const uint8_t *p = &rgb[size_t((y * w + x) * 3)];
                    ExactYuv(p[0], p[1], p[2], yuv);
                    for (int i = 0; i < 3; i++) {
                        sum[i] += yuv[i] / 2;
                    }
                }
                pairU[size_t(y * pairs + j)] = sum[1];
                pairV[size_t(y * pairs + j)] = sum[2];
            }
        }
        Misses down;
        for (int y = 0; y < ch; y++) {
            for (int i = 0; i < cw; i++) {
                for (int plane = 1; plane < 3; plane++) {
                    const std::vector<double> &pair = plane == 1 ? pairU : pairV;
                    double want = 0;
                    if (s == ChromaSampling::S411) {
                        std::vector<double> row(pair.begin() + y * pairs,
                                                pair.begin() + (y + 1) * pairs);
                        want = Halve(row, i);
                    } else if (s == ChromaSampling::S420) {
                        std::vector<double> col(static_cast<size_t>(h));
                        for (int r = 0; r < h; r++) {
                            col[size_t(r)] = pair[size_t(r * pairs + i)];
                        }
                        want = Halve(col, y);
                    } else {
                        want = pair[size_t(y * pairs + i)];
                    }
                    down.Add(planes.p[plane][size_t(y * cw + i)], RoundClamp(want));
                }
            }
        }
        EXPECT_LE(down.largest, 1) << Name(s);
        EXPECT_LT(double(down.count) / double(down.total), 0.02) << Name(s);
    }
}

// 'yuvs' to 4:2:0 averages the two lines of each chroma row, halves rounded up; to 4:2:2 and
// back the colour differences are copied.
TEST(YuvConvertC, YuvsToPlanes)
{
    const YuvRowKernels &c = *YuvKernelsFor(YuvIsa::C);
    const int w = 6, h = 3;
    std::vector<uint8_t> in(size_t(w) * 2 * h);
    for (size_t i = 0; i < in.size(); i++) {
        in[i] = uint8_t(i * 37 + 11);
    }
    Planes p420(ChromaSampling::S420, w, h);
    lc::media::PackedToPlanar(c, in.data(), w * 2, PackedFormat::Yuyv, p420.pic);
    for (int row = 0; row < 2; row++) {
        const int a = 2 * row, b = std::min(2 * row + 1, h - 1);
        for (int j = 0; j < w / 2; j++) {
            for (int plane = 1; plane < 3; plane++) {
                const int off = 4 * j + (plane == 1 ? 1 : 3);
                EXPECT_EQ(p420.p[plane][size_t(row * 3 + j)],
                          (in[size_t(a * w * 2 + off)] + in[size_t(b * w * 2 + off)] + 1) / 2);
            }
        }
    }
    Planes p422(ChromaSampling::S422, w, h);
    lc::media::PackedToPlanar(c, in.data(), w * 2, PackedFormat::Yuyv, p422.pic);
    std::vector<uint8_t> back(in.size());
    lc::media::PlanarToPacked(c, p422.pic, back.data(), w * 2, PackedFormat::Yuyv);
    EXPECT_EQ(back, in);
}

} // namespace
