#pragma once

#include <cstddef>
#include <cstdint>

#include "dvdecoder/internal/idct.h"

// The decoder's hot kernels, in C and packed forms that give the same bytes; one table is chosen
// once, at start-up, by what the processor has.
//
// Row kernels work on rows of BGRX pixels (4 bytes: blue, green, red, 0), so that the packed
// forms can move whole pixels in 32-bit lanes; PackBgr turns a row into the caller's 24-bit
// pixels at the end.

struct CindrellKernels
{
    const char *name;
    // 8x8 inverse DCT in place of count consecutive blocks, 16-byte aligned.
    void (*idct)(int16_t *blocks, int count);
    // Work-picture luminance bytes of an inverse-transformed 8x8 block: row j of the block goes
    // to dst + j * stride (a byte stride: negative for bottom-up, doubled for field lines).
    void (*workLuma)(uint8_t *dst, ptrdiff_t stride, const int16_t *block);
    // The fast decoding's 16 colours of a luminance block: colour (j/2)*4 + c of the 2 x 2
    // group at block rows j, j+1 and columns 2c, 2c+1, as BGRX. cr and cb point at the first of
    // the four samples in row 0 of the colour-difference blocks (row pitch 8).
    void (*fastColours)(uint8_t *bgrx, const int16_t *luma, const int16_t *cr, const int16_t *cb);
    // The fast decoding's eight picture lines of a block from its 16 BGRX colours: lines 2l and
    // 2l + 1 (at dst + 2l * lineStride and dst + (2l + 1) * lineStride) show the colours of row
    // pair l, each repeated over its columns (columns: 8 at the coded width, 12 for 1080 lines
    // widened, 11 for 720 lines widened), of which the first `count` are written: exactly
    // 3 x count bytes a line, count 8 to 12.
    void (*expandColours)(uint8_t *dst, ptrdiff_t lineStride, const uint8_t *colours, int columns,
                          int count);
    // The first codedWidth pixels of one work row (picture `width` wide) as BGRX.
    void (*convertRow)(uint8_t *bgrx, const uint8_t *work, int width, int codedWidth);
    // 18/16 centre tap less the neighbours; the end pixels are copied. pixels >= 2.
    void (*sharpenRow)(uint8_t *dst, const uint8_t *src, int pixels);
    // 1280 to 1920: three outputs per input pair; pixels even, >= 4.
    void (*widen2to3)(uint8_t *dst, const uint8_t *src, int pixels);
    // 960 to 1280 or 1440 to 1920: four outputs per input triple; outWidth = pixels * 4 / 3,
    // pixels a multiple of 3, >= 6.
    void (*widen3to4)(uint8_t *dst, const uint8_t *src, int pixels, int outWidth);
    // BGRX to 3-byte BGR; writes exactly pixels * 3 bytes.
    void (*packBgr)(uint8_t *dst, const uint8_t *bgrx, int pixels);
};

extern const CindrellKernels kCindrellKernelsC;
extern const CindrellKernels kCindrellKernelsSse2;
extern const CindrellKernels kCindrellKernelsAvx2;

// The best table this processor runs; chosen on first use.
const CindrellKernels &CindrellKernelsBest();
bool CindrellCpuHasAvx2();

// Constants the kernels share. Work picture: luminance 29/32 about 112.
inline constexpr int kWorkLumaGain = 29;
inline constexpr int kWorkLumaOffset = 112;
// Colour conversion, 6 fractional bits; the fast decoding's luminance gain differs.
inline constexpr int kLumaGain = 74;
inline constexpr int kFastLumaGain = 75;
inline constexpr int kCrToRed = 102;
inline constexpr int kCbToGreen = -25;
inline constexpr int kCrToGreen = -52;
inline constexpr int kCbToBlue = 129;
// Extra bytes every row buffer has beyond its pixels, for the packed stores.
inline constexpr int kRowSlack = 64;

// C forms, the reference (IdctC is in idct.h).
void WorkLuma_c(uint8_t *dst, ptrdiff_t stride, const int16_t *block);
void FastColours_c(uint8_t *bgrx, const int16_t *luma, const int16_t *cr, const int16_t *cb);
void ExpandColours_c(uint8_t *dst, ptrdiff_t lineStride, const uint8_t *colours, int columns,
                     int count);
void ConvertRowToBgrx_c(uint8_t *bgrx, const uint8_t *work, int width, int codedWidth);
void SharpenRow_c(uint8_t *dst, const uint8_t *src, int pixels);
void WidenRow2to3_c(uint8_t *dst, const uint8_t *src, int pixels);
void WidenRow3to4_c(uint8_t *dst, const uint8_t *src, int pixels, int outWidth);
void PackBgr_c(uint8_t *dst, const uint8_t *bgrx, int pixels);

// Pieces of the C forms that the packed forms finish their rows with.
// Sharpened bytes from byte `from` to the last pixel, and the two end pixels.
void SharpenBytes_c(uint8_t *dst, const uint8_t *src, int from, int pixels);
// Input pairs starting at pixels from, from + 2, ... below to.
void WidenPairs2to3_c(uint8_t *dst, const uint8_t *src, int pixels, int from, int to);
// Triples from..to-1 (triple t starts at input pixel 3t, output 4t); WidenTriples3to4 counts
// them; the tail is the last four outputs.
int WidenTriples3to4(int outWidth);
void WidenTriples3to4_c(uint8_t *dst, const uint8_t *src, int pixels, int from, int to);
void WidenTail3to4_c(uint8_t *dst, const uint8_t *src, int pixels, int outWidth);

// Packed forms.
void WorkLuma_sse2(uint8_t *dst, ptrdiff_t stride, const int16_t *block);
void FastColours_sse2(uint8_t *bgrx, const int16_t *luma, const int16_t *cr, const int16_t *cb);
void ExpandColours_sse2(uint8_t *dst, ptrdiff_t lineStride, const uint8_t *colours, int columns,
                        int count);
void ConvertRowToBgrx_sse2(uint8_t *bgrx, const uint8_t *work, int width, int codedWidth);
void SharpenRow_sse2(uint8_t *dst, const uint8_t *src, int pixels);
void WidenRow2to3_sse2(uint8_t *dst, const uint8_t *src, int pixels);
void WidenRow3to4_sse2(uint8_t *dst, const uint8_t *src, int pixels, int outWidth);
void PackBgr_sse2(uint8_t *dst, const uint8_t *bgrx, int pixels);
void FastColours_avx2(uint8_t *bgrx, const int16_t *luma, const int16_t *cr, const int16_t *cb);
void ExpandColours_avx2(uint8_t *dst, ptrdiff_t lineStride, const uint8_t *colours, int columns,
                        int count);
void ConvertRowToBgrx_avx2(uint8_t *bgrx, const uint8_t *work, int width, int codedWidth);
void SharpenRow_avx2(uint8_t *dst, const uint8_t *src, int pixels);
void WidenRow2to3_avx2(uint8_t *dst, const uint8_t *src, int pixels);
void WidenRow3to4_avx2(uint8_t *dst, const uint8_t *src, int pixels, int outWidth);
void PackBgr_avx2(uint8_t *dst, const uint8_t *bgrx, int pixels);
