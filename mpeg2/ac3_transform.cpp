#include "mpeg2/ac3_transform.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr int kBins = 256;

double gWindow[kBins];
double gCos1[128], gSin1[128];   // 512-sample transform twiddles
double gShortCos[2][256][128];   // the two 256-sample transforms, by output and coefficient
double gFftCos[64], gFftSin[64]; // e^(2 pi i k / 128)

double BesselI0(double x)
{
    double sum = 1;
    double term = 1;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

// In-place inverse DFT of n complex values (n a power of two up to 128), no scaling.
void InverseFft(double *re, double *im, int n)
{
    for (int i = 1, j = 0; i < n; ++i) {
        int bit = n >> 1;
        for (; j & bit; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    for (int len = 2; len <= n; len <<= 1) {
        int step = 128 / len; // n is at most 128
        for (int i = 0; i < n; i += len) {
            for (int k = 0; k < len / 2; ++k) {
                double wr = gFftCos[k * step];
                double wi = gFftSin[k * step];
                int a = i + k;
                int b = a + len / 2;
                double tr = re[b] * wr - im[b] * wi;
                double ti = re[b] * wi + im[b] * wr;
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
            }
        }
    }
}

// Overlap-adds the windowed block x (512 samples) with the delay line into out (256 samples).
void OverlapAdd(const double *x, double *delay, double *out)
{
    for (int n = 0; n < kBins; ++n) {
        out[n] = 2 * (x[n] + delay[n]);
        delay[n] = x[kBins + n];
    }
}

} // namespace

void Ac3Imdct(const double *coef, double *delay, double *out)
{
    constexpr int N = 512;
    double zr[128], zi[128];
    for (int k = 0; k < N / 4; ++k) {
        double a = coef[N / 2 - 2 * k - 1];
        double b = coef[2 * k];
        zr[k] = a * gCos1[k] - b * gSin1[k];
        zi[k] = b * gCos1[k] + a * gSin1[k];
    }
    InverseFft(zr, zi, N / 4);
    double yr[128], yi[128];
    for (int n = 0; n < N / 4; ++n) {
        yr[n] = zr[n] * gCos1[n] - zi[n] * gSin1[n];
        yi[n] = zi[n] * gCos1[n] + zr[n] * gSin1[n];
    }
    const double *w = gWindow;
    double x[N];
    for (int n = 0; n < N / 8; ++n) {
        x[2 * n] = -yi[N / 8 + n] * w[2 * n];
        x[2 * n + 1] = yr[N / 8 - n - 1] * w[2 * n + 1];
        x[N / 4 + 2 * n] = -yr[n] * w[N / 4 + 2 * n];
        x[N / 4 + 2 * n + 1] = yi[N / 4 - n - 1] * w[N / 4 + 2 * n + 1];
        x[N / 2 + 2 * n] = -yr[N / 8 + n] * w[N / 2 - 2 * n - 1];
        x[N / 2 + 2 * n + 1] = yi[N / 8 - n - 1] * w[N / 2 - 2 * n - 2];
        x[3 * N / 4 + 2 * n] = yi[n] * w[N / 4 - 2 * n - 1];
        x[3 * N / 4 + 2 * n + 1] = -yr[N / 4 - n - 1] * w[N / 4 - 2 * n - 2];
    }
    OverlapAdd(x, delay, out);
}

// Block-switched channels: two 256-sample transforms, the even coefficients making the
// first half of the block and the odd ones the second, each time-shifted by its own phase.
void Ac3Imdct256(const double *coef, double *delay, double *out)
{
    constexpr int N = 512;
    double x[N];
    for (int half = 0; half < 2; ++half) {
        double *dst = x + half * (N / 2);
        for (int n = 0; n < N / 2; ++n) {
            double sum = 0;
            for (int k = 0; k < N / 4; ++k) {
                sum += coef[2 * k + half] * gShortCos[half][n][k];
            }
            dst[n] = -sum;
        }
    }
    for (int n = 0; n < N / 2; ++n) {
        x[n] *= gWindow[n];
        x[N / 2 + n] *= gWindow[N / 2 - 1 - n];
    }
    OverlapAdd(x, delay, out);
}

void Ac3TransformInit()
{
    static bool built = false;
    if (built) {
        return;
    }
    built = true;
    // Kaiser-Bessel-derived window, alpha 5, first half of 512 samples.
    double kernel[kBins + 1];
    double total = 0;
    for (int j = 0; j <= kBins; ++j) {
        double x = 2.0 * j / kBins - 1.0;
        kernel[j] = BesselI0(M_PI * 5.0 * std::sqrt(std::max(0.0, 1.0 - x * x)));
        total += kernel[j];
    }
    double acc = 0;
    for (int n = 0; n < kBins; ++n) {
        acc += kernel[n];
        gWindow[n] = std::sqrt(acc / total);
    }
    for (int k = 0; k < 64; ++k) {
        gFftCos[k] = std::cos(2 * M_PI * k / 128);
        gFftSin[k] = std::sin(2 * M_PI * k / 128);
    }
    for (int k = 0; k < 128; ++k) {
        gCos1[k] = -std::cos(2 * M_PI * (8 * k + 1) / (8 * 512));
        gSin1[k] = -std::sin(2 * M_PI * (8 * k + 1) / (8 * 512));
    }
    for (int half = 0; half < 2; ++half) {
        // Phase (2k + 1)(1 + alpha) pi / 4 with alpha -1 for the first, +1 for the second.
        for (int n = 0; n < 256; ++n) {
            for (int k = 0; k < 128; ++k) {
                gShortCos[half][n][k] = std::cos(2 * M_PI / 1024 * (2 * n + 1) * (2 * k + 1)
                                                 + M_PI / 4 * (2 * k + 1) * (2 * half));
            }
        }
    }
}
