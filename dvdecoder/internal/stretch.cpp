#include "dvdecoder/internal/stretch.h"

#include <algorithm>
#include <cstring>

namespace {

int16_t Wrap16(int32_t v)
{
    return int16_t(uint16_t(uint32_t(v)));
}
int16_t Sat16(int32_t v)
{
    return int16_t(std::clamp(v, -32768, 32767));
}
uint8_t Clamp255(int v)
{
    return uint8_t(std::clamp(v, 0, 255));
}

// Colour conversion gains, 6 fractional bits.
constexpr int kLumaGain = 74;
constexpr int kCrToRed = 102;
constexpr int kCbToGreen = -25;
constexpr int kCrToGreen = -52;
constexpr int kCbToBlue = 129;

int16_t Sample(const uint8_t *plane, int pair)
{
    int16_t v;
    std::memcpy(&v, plane + 2 * pair, sizeof v);
    return v;
}

} // namespace

void ConvertRowToBgr_c(uint8_t *bgr, const uint8_t *work, int width, int codedWidth)
{
    const uint8_t *crPlane = work + width;
    const uint8_t *cbPlane = work + 2 * width;
    const int pairs = codedWidth / 2;
    for (int x = 0; x < codedWidth; ++x) {
        const int pair = x / 2;
        int16_t cr = Sample(crPlane, pair);
        int16_t cb = Sample(cbPlane, pair);
        if (x % 2 == 1) {
            // Odd pixels take the mean of their pair and the next; the row's last pair repeats.
            const int next = std::min(pair + 1, pairs - 1);
            cr = int16_t(Sat16(cr + Sample(crPlane, next)) >> 1);
            cb = int16_t(Sat16(cb + Sample(cbPlane, next)) >> 1);
        }
        const int y = work[x];
        const int16_t luma = Wrap16(kLumaGain * y);
        bgr[3 * x + 0] = Clamp255(Wrap16(luma + Wrap16(kCbToBlue * cb)) >> 6);
        bgr[3 * x + 1] =
            Clamp255(Wrap16(luma + Wrap16(kCbToGreen * cb) + Wrap16(kCrToGreen * cr)) >> 6);
        bgr[3 * x + 2] = Clamp255(Wrap16(luma + Wrap16(kCrToRed * cr)) >> 6);
    }
}

void SharpenRow_c(uint8_t *dst, const uint8_t *src, int pixels)
{
    std::memcpy(dst, src, 3);
    std::memcpy(dst + 3 * (pixels - 1), src + 3 * (pixels - 1), 3);
    for (int i = 1; i < pixels - 1; ++i) {
        for (int c = 0; c < 3; ++c) {
            const int p = src[3 * i + c];
            const int v = Sat16(Sat16(18 * p - src[3 * (i - 1) + c]) - src[3 * (i + 1) + c]);
            dst[3 * i + c] = Clamp255(v >> 4);
        }
    }
}

void WidenRow2to3_c(uint8_t *dst, const uint8_t *src, int pixels)
{
    auto at = [&](int i, int c) { return int(src[3 * std::clamp(i, 0, pixels - 1) + c]); };
    for (int i = 0; i < pixels; i += 2) {
        uint8_t *out = dst + 3 * (i / 2 * 3);
        for (int c = 0; c < 3; ++c) {
            out[c] = Clamp255((11 * at(i - 1, c) + 53 * at(i, c)) >> 6);
            out[3 + c] = Clamp255((at(i, c) + at(i + 1, c) + 1) >> 1);
            out[6 + c] = Clamp255((53 * at(i + 1, c) + 11 * at(i + 2, c)) >> 6);
        }
    }
}

void WidenRow3to4_c(uint8_t *dst, const uint8_t *src, int pixels, int outWidth)
{
    auto at = [&](int i, int c) { return int(src[3 * std::clamp(i, 0, pixels - 1) + c]); };
    int outputs = 0;
    for (int i = 0; outputs < outWidth - 4; i += 3, outputs += 4) {
        uint8_t *out = dst + 3 * outputs;
        for (int c = 0; c < 3; ++c) {
            out[c] = Clamp255((at(i - 1, c) + 7 * at(i, c)) >> 3);
            out[3 + c] = Clamp255((3 * at(i, c) + 5 * at(i + 1, c)) >> 3);
            out[6 + c] = Clamp255((5 * at(i + 1, c) + 3 * at(i + 2, c)) >> 3);
            out[9 + c] = Clamp255((7 * at(i + 2, c) + at(i + 3, c)) >> 3);
        }
    }
    // The last four outputs: the last three inputs and the last once more.
    uint8_t *tail = dst + 3 * (outWidth - 4);
    std::memcpy(tail, src + 3 * (pixels - 3), 9);
    std::memcpy(tail + 9, src + 3 * (pixels - 1), 3);
}
