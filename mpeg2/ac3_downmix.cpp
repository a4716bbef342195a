#include "mpeg2/ac3_downmix.h"

#include "mpeg2/wav_writer.h"

double gAc3OutputLevel = 1.0;

namespace {

constexpr double kMonoWeight = 0.7071; // a single channel heard on both sides

} // namespace

double Ac3DynamicRangeGain(int dynrng)
{
    // 1.0 to the power of the word's exponent: the word is read but never changes the level.
    (void)dynrng;
    return 1.0;
}

void Ac3Downmix(const Ac3MixParams &mix, const double (*ch)[kAc3BlockSamples], int16_t *blockOutput)
{
    // 1. Scale to 16-bit range with the output level and the block's gain.
    const double k = gAc3OutputLevel * Ac3DynamicRangeGain(mix.dynrng) * 32768.0;
    const double w = kAc3MainWeight;
    const double c = kAc3CentreWeight[mix.cmixlev & 3];
    const double s = kAc3SurroundWeight[mix.surmixlev & 3];
    const bool lfe = mix.acmod == 7 && mix.lfeon;
    // 2. Mix by channel mode; 3. convert and interleave.
    for (int i = 0; i < kAc3BlockSamples; ++i) {
        double l = 0;
        double r = 0;
        switch (mix.acmod & 7) {
        case 0: // dual mono: only the first channel is heard
        case 1:
            l = r = kMonoWeight * ch[0][i];
            break;
        case 2:
            l = ch[0][i];
            r = ch[1][i];
            break;
        case 3:
            l = w * ch[0][i] + c * ch[1][i];
            r = w * ch[2][i] + c * ch[1][i];
            break;
        case 4:
            l = w * ch[0][i] + s * ch[2][i];
            r = w * ch[1][i] + s * ch[2][i];
            break;
        case 5:
            l = w * ch[0][i] + c * ch[1][i] + s * ch[3][i];
            r = w * ch[2][i] + c * ch[1][i] + s * ch[3][i];
            break;
        case 6:
            l = w * ch[0][i] + s * ch[2][i];
            r = w * ch[1][i] + s * ch[3][i];
            break;
        default:
            l = w * ch[0][i] + c * ch[1][i] + s * ch[3][i];
            r = w * ch[2][i] + c * ch[1][i] + s * ch[4][i];
            if (lfe) {
                l += w * ch[5][i];
                r += w * ch[5][i];
            }
            break;
        }
        blockOutput[2 * i] = ClipToInt16(l * k);
        blockOutput[2 * i + 1] = ClipToInt16(r * k);
    }
}
