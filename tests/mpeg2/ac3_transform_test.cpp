#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "mpeg2/ac3_transform.h"
#include "platform/sys/random.h"

namespace {

// The encoder's forward transform by its definition, for a 512-sample block already windowed:
// X[k] = -2/N sum x[n] cos(2 pi / 4N (2n + 1)(2k + 1) + pi / 4 (2k + 1)(1 + alpha)), with N 512
// and alpha 0 for a long block, or two transforms of N 256 on the halves with alpha -1 and +1,
// their coefficients interleaved.
std::vector<double> Forward(const std::vector<double> &x, bool shortBlocks)
{
    std::vector<double> c(256);
    auto mdct = [&](int offset, int n, double alpha, int k) {
        double sum = 0;
        for (int i = 0; i < n; ++i) {
            sum += x[size_t(offset + i)]
                   * std::cos(2 * M_PI / (4 * n) * (2 * i + 1) * (2 * k + 1)
                              + M_PI / 4 * (2 * k + 1) * (1 + alpha));
        }
        return -2.0 / n * sum;
    };
    for (int k = 0; k < 256; ++k) {
        c[size_t(k)] =
            shortBlocks ? mdct(k % 2 ? 256 : 0, 256, k % 2 ? 1 : -1, k / 2) : mdct(0, 512, 0, k);
    }
    return c;
}

double Window(int n) // Kaiser-Bessel-derived, alpha 5, 512 samples
{
    auto i0 = [](double v) {
        double sum = 1, term = 1;
        for (int k = 1; k < 50; ++k) {
            term *= (v / (2 * k)) * (v / (2 * k));
            sum += term;
        }
        return sum;
    };
    int m = n < 256 ? n : 511 - n;
    double acc = 0, total = 0;
    for (int j = 0; j <= 256; ++j) {
        double u = 2.0 * j / 256 - 1.0;
        double kj = i0(M_PI * 5 * std::sqrt(std::max(0.0, 1 - u * u)));
        total += kj;
        acc += j <= m ? kj : 0;
    }
    return std::sqrt(acc / total);
}

// Windowed blocks transformed forward and back overlap-add to the input again, across every
// change between long blocks and block-switched ones: only then do the short transforms'
// aliasing terms cancel those of their neighbours.
TEST(Ac3Transform, BlocksReconstructTheInputAcrossBlockSwitches)
{
    Ac3TransformInit();
    const std::vector<int> patterns[] = {
        {0, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 1, 1}, {0, 1, 0, 0, 1, 1, 0, 1, 0, 0}};
    for (const std::vector<int> &blksw : patterns) {
        size_t blocks = blksw.size();
        std::vector<double> input(256 * (blocks + 1));
        lc::CrtSrand(5);
        for (double &v : input) {
            v = lc::CrtRand() / 32768.0 - 0.5;
        }
        double delay[256] = {};
        double worst = 0;
        for (size_t b = 0; b < blocks; ++b) {
            std::vector<double> block(512);
            for (int n = 0; n < 512; ++n) {
                block[size_t(n)] = input[256 * b + size_t(n)] * Window(n);
            }
            std::vector<double> coef = Forward(block, blksw[b] != 0);
            double out[256];
            if (blksw[b]) {
                Ac3Imdct256(coef.data(), delay, out);
            } else {
                Ac3Imdct(coef.data(), delay, out);
            }
            if (b == 0) {
                continue; // its first half overlaps nothing
            }
            for (int n = 0; n < 256; ++n) {
                worst = std::max(worst, std::fabs(out[n] - input[256 * b + size_t(n)]));
            }
        }
        EXPECT_LT(worst, 1e-9);
    }
}

} // namespace
