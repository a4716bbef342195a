#include "mpeg2/mpeg_idct.h"

#include <cstdint>
#include <mutex>

namespace {

// Column outputs -512..511 clamp to -256..255; values beyond clamp the same way.
int16_t gClip[1024];
std::once_flag gClipBuilt;

inline int Clip(int v)
{
    if (v < -512) {
        v = -512;
    } else if (v > 511) {
        v = 511;
    }
    return gClip[v + 512];
}

// 181/256 = 1/sqrt(2), in 64 bits: extreme coefficients of a damaged block must not overflow.
inline int Half(int v)
{
    return int((181 * int64_t(v) + 128) >> 8);
}

void Row(int16_t *b)
{
    int x1 = b[4] * 2048;
    int x2 = b[6];
    int x3 = b[2];
    int x4 = b[1];
    int x5 = b[7];
    int x6 = b[5];
    int x7 = b[3];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        int16_t dc = int16_t(b[0] * 8);
        for (int i = 0; i < 8; ++i) {
            b[i] = dc;
        }
        return;
    }
    int x0 = b[0] * 2048 + 128;
    // First stage.
    int x8 = kIdctW7 * (x4 + x5);
    x4 = x8 + (kIdctW1 - kIdctW7) * x4;
    x5 = x8 - (kIdctW1 + kIdctW7) * x5;
    x8 = kIdctW3 * (x6 + x7);
    x6 = x8 - (kIdctW3 - kIdctW5) * x6;
    x7 = x8 - (kIdctW3 + kIdctW5) * x7;
    // Second stage.
    x8 = x0 + x1;
    x0 -= x1;
    x1 = kIdctW6 * (x3 + x2);
    x2 = x1 - (kIdctW2 + kIdctW6) * x2;
    x3 = x1 + (kIdctW2 - kIdctW6) * x3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    // Third stage.
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = Half(x4 + x5);
    x4 = Half(x4 - x5);
    // Fourth stage.
    b[0] = int16_t((x7 + x1) >> 8);
    b[1] = int16_t((x3 + x2) >> 8);
    b[2] = int16_t((x0 + x4) >> 8);
    b[3] = int16_t((x8 + x6) >> 8);
    b[4] = int16_t((x8 - x6) >> 8);
    b[5] = int16_t((x0 - x4) >> 8);
    b[6] = int16_t((x3 - x2) >> 8);
    b[7] = int16_t((x7 - x1) >> 8);
}

void Column(int16_t *b)
{
    int x1 = b[8 * 4] * 256;
    int x2 = b[8 * 6];
    int x3 = b[8 * 2];
    int x4 = b[8 * 1];
    int x5 = b[8 * 7];
    int x6 = b[8 * 5];
    int x7 = b[8 * 3];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        int16_t v = int16_t(Clip((b[0] + 32) >> 6));
        for (int i = 0; i < 8; ++i) {
            b[8 * i] = v;
        }
        return;
    }
    int x0 = b[0] * 256 + 8192;
    // First stage.
    int x8 = kIdctW7 * (x4 + x5) + 4;
    x4 = (x8 + (kIdctW1 - kIdctW7) * x4) >> 3;
    x5 = (x8 - (kIdctW1 + kIdctW7) * x5) >> 3;
    x8 = kIdctW3 * (x6 + x7) + 4;
    x6 = (x8 - (kIdctW3 - kIdctW5) * x6) >> 3;
    x7 = (x8 - (kIdctW3 + kIdctW5) * x7) >> 3;
    // Second stage.
    x8 = x0 + x1;
    x0 -= x1;
    x1 = kIdctW6 * (x3 + x2) + 4;
    x2 = (x1 - (kIdctW2 + kIdctW6) * x2) >> 3;
    x3 = (x1 + (kIdctW2 - kIdctW6) * x3) >> 3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    // Third stage.
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = Half(x4 + x5);
    x4 = Half(x4 - x5);
    // Fourth stage.
    b[8 * 0] = int16_t(Clip((x7 + x1) >> 14));
    b[8 * 1] = int16_t(Clip((x3 + x2) >> 14));
    b[8 * 2] = int16_t(Clip((x0 + x4) >> 14));
    b[8 * 3] = int16_t(Clip((x8 + x6) >> 14));
    b[8 * 4] = int16_t(Clip((x8 - x6) >> 14));
    b[8 * 5] = int16_t(Clip((x0 - x4) >> 14));
    b[8 * 6] = int16_t(Clip((x3 - x2) >> 14));
    b[8 * 7] = int16_t(Clip((x7 - x1) >> 14));
}

void BuildClip()
{
    for (int i = -512; i < 512; ++i) {
        gClip[i + 512] = int16_t(i < -256 ? -256 : i > 255 ? 255 : i);
    }
}

} // namespace

void InitIdctClipTable()
{
    std::call_once(gClipBuilt, BuildClip);
}

void IdctBlock(int16_t *block)
{
    InitIdctClipTable();
    for (int i = 0; i < 8; ++i) {
        Row(block + 8 * i);
    }
    for (int i = 0; i < 8; ++i) {
        Column(block + i);
    }
}
