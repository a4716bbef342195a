#pragma once

#include <cstddef>
#include <cstdint>

#ifndef LC_RESTRICT
#define LC_RESTRICT __restrict__
#endif

// Direct conversions between the planar pictures of the DV family's codecs and the packed
// pictures of the frame store, without libswscale: 8-bit BT.601, Y at 16..235 and colour
// differences around 128 on the planar side; RGB24 at 0..255 or 'yuvs' (Y0 Cb Y1 Cr) on the
// packed side. The colour matrices are BT.601's, in fixed point with coefficients in 1/16384 and
// rounding to nearest; the chroma is resampled as these roads always were:
//   - to packed: 4:1:1 and (to 'yuvs') 4:2:0 chroma are interpolated to 4:2:2 with the cubic of
//     parameter -0.6 (chroma sited at the middle of the pixels it covers, edges repeated);
//     4:2:0 to RGB takes each chroma row for its two lines; each pixel pair shares its chroma.
//   - to planar: RGB chroma is averaged over each pixel pair, then filtered to 4:1:1 or 4:2:0
//     with the same cubic widened to 8 taps; 'yuvs' to 4:2:0 averages each pair of lines.
// Rows in between are kept at more precision than a byte: colour differences less 128, in
// 1/64 (to packed) or 1/256 (to planar).

namespace lc::media {

enum class ChromaSampling {
    S411, // a quarter of the width, every line (NTSC DV)
    S420, // half the width, every other line (PAL DV)
    S422, // half the width, every line (DVCPRO50)
};

enum class PackedFormat {
    Rgb24, // R, G, B
    Yuyv,  // 'yuvs'
};

// Y, Cb, Cr planes; Cb and Cr are ceil(width / 4) or ceil(width / 2) wide and height or
// ceil(height / 2) high, by sampling.
struct PlanarPicture
{
    uint8_t *plane[3] = {};
    ptrdiff_t stride[3] = {};
    int width = 0;
    int height = 0;
    ChromaSampling sampling = ChromaSampling::S420;
};

// Fraction bits of the rows in between.
constexpr int kToPackedChromaBits = 6;
constexpr int kToPlanarChromaBits = 8;

// To packed, in 1/16384: 255 / 219 for Y - 16, and the colour differences' terms of R, G and B.
constexpr int kYuvY = 19077;
constexpr int kYuvRv = 26149;
constexpr int kYuvGu = -6419;
constexpr int kYuvGv = -13320;
constexpr int kYuvBu = 33050;
constexpr int kToPackedShift = 14 + kToPackedChromaBits;
// To planar, in 1/32768: Y rounded so that its sum is nearest to 219 / 255 (greys exact), the
// colour differences so that theirs is 0 (greys stay grey).
constexpr int kRgbYr = 8415, kRgbYg = 16519, kRgbYb = 3208;
constexpr int kRgbUr = -4857, kRgbUg = -9535, kRgbUb = 14392;
constexpr int kRgbVr = 14392, kRgbVg = -12052, kRgbVb = -2340;
// The chroma cubic in 1/16384: interpolating at a quarter of a sample from the nearest
// (distances 1.75, 0.75, 0.25, 1.25), and its 8-tap half-rate form (distances 3.5 .. 0.5 in
// the finer samples, each side).
constexpr int kUpTaps[4] = {-461, 3942, 14285, -1382};
constexpr int kDownTaps[8] = {-230, -691, 1971, 7142, 7142, 1971, -691, -230};

// The row primitives, one table per instruction set; each entry gives the same bytes as the C
// table's. u and v rows hold one value per pixel pair.
struct YuvRowKernels
{
    // To packed, chroma: (src - 128) in 1/64 for n values.
    void (*centerChroma)(int16_t *LC_RESTRICT dst, const uint8_t *src, int n);
    // 4:1:1 to 4:2:2 along a row of srcWidth values: dst[j] for j0 <= j < j1 (j0 even) from
    // src[j / 2 - 2 .. j / 2 + 2], the row's edge values standing for those beyond it.
    void (*upsample411)(int16_t *LC_RESTRICT dst, const uint8_t *src, int srcWidth, int j0, int j1);
    // 4:2:0 to 4:2:2 down a column: dst from four chroma rows, nearest to r1 and r2 ... in the
    // order of the filter's taps (the caller reverses them for the odd lines).
    void (*upsampleRows)(int16_t *LC_RESTRICT dst, const uint8_t *r0, const uint8_t *r1,
                         const uint8_t *r2, const uint8_t *r3, int n);
    // A row of width pixels from its Y and the pairs' u and v (1/64).
    void (*yuvToRgb24)(uint8_t *LC_RESTRICT dst, const uint8_t *y, const int16_t *u,
                       const int16_t *v, int width);
    void (*yuvToYuyv)(uint8_t *LC_RESTRICT dst, const uint8_t *y, const int16_t *u,
                      const int16_t *v, int width);

    // To planar: a row of width pixels into Y and the pairs' u and v (1/256); an odd last pixel
    // is a pair of its own. 'yuvs' rows have an even width.
    void (*rgb24ToYuv)(uint8_t *LC_RESTRICT y, int16_t *LC_RESTRICT u, int16_t *LC_RESTRICT v,
                       const uint8_t *src, int width);
    void (*yuyvToYuv)(uint8_t *LC_RESTRICT y, int16_t *LC_RESTRICT u, int16_t *LC_RESTRICT v,
                      const uint8_t *src, int width);
    // 4:2:2 chroma (1/256) as bytes.
    void (*chromaToBytes)(uint8_t *LC_RESTRICT dst, const int16_t *src, int n);
    // 4:2:2 to 4:1:1 along a row: dst[i] from src[2i - 3 .. 2i + 4], i < n; the caller repeats
    // the row's edge values into the indices outside it.
    void (*downsample411)(uint8_t *LC_RESTRICT dst, const int16_t *src, int n);
    // 4:2:2 to 4:2:0: dst from eight rows, chroma row i from lines 2i - 3 .. 2i + 4.
    void (*downsampleRows)(uint8_t *LC_RESTRICT dst, const int16_t *const *rows, int n);
    // The mean of two rows, halves rounded up.
    void (*averageRows)(uint8_t *LC_RESTRICT dst, const int16_t *a, const int16_t *b, int n);
};

enum class YuvIsa {
    C,
    Sse2,
    Avx2,
};

// A table, or null when the processor lacks the instruction set.
const YuvRowKernels *YuvKernelsFor(YuvIsa isa);
// The best table for this processor, chosen on first use.
const YuvRowKernels &YuvKernels();

// Decoded planes to a packed picture of the same size (rows of dstStride bytes).
void PlanarToPacked(const YuvRowKernels &k, const PlanarPicture &src, uint8_t *dst,
                    ptrdiff_t dstStride, PackedFormat format);
// A packed picture to planes of the same size; 'yuvs' pictures have an even width.
void PackedToPlanar(const YuvRowKernels &k, const uint8_t *src, ptrdiff_t srcStride,
                    PackedFormat format, const PlanarPicture &dst);

// The C versions, which the packed ones also use for the last values of a row.
void CenterChroma_c(int16_t *LC_RESTRICT dst, const uint8_t *src, int n);
void Upsample411_c(int16_t *LC_RESTRICT dst, const uint8_t *src, int srcWidth, int j0, int j1);
void UpsampleRows_c(int16_t *LC_RESTRICT dst, const uint8_t *r0, const uint8_t *r1,
                    const uint8_t *r2, const uint8_t *r3, int n);
void YuvToRgb24_c(uint8_t *LC_RESTRICT dst, const uint8_t *y, const int16_t *u, const int16_t *v,
                  int width);
void YuvToYuyv_c(uint8_t *LC_RESTRICT dst, const uint8_t *y, const int16_t *u, const int16_t *v,
                 int width);
void Rgb24ToYuv_c(uint8_t *LC_RESTRICT y, int16_t *LC_RESTRICT u, int16_t *LC_RESTRICT v,
                  const uint8_t *src, int width);
void YuyvToYuv_c(uint8_t *LC_RESTRICT y, int16_t *LC_RESTRICT u, int16_t *LC_RESTRICT v,
                 const uint8_t *src, int width);
void ChromaToBytes_c(uint8_t *LC_RESTRICT dst, const int16_t *src, int n);
void Downsample411_c(uint8_t *LC_RESTRICT dst, const int16_t *src, int n);
void DownsampleRows_c(uint8_t *LC_RESTRICT dst, const int16_t *const *rows, int n);
void AverageRows_c(uint8_t *LC_RESTRICT dst, const int16_t *a, const int16_t *b, int n);

// Table sides of the x86 files: each fills what it has packed versions of (the AVX2 side is
// given the SSE2 table).
void FillYuvKernels_sse2(YuvRowKernels &k);
void FillYuvKernels_avx2(YuvRowKernels &k);

} // namespace lc::media
