#include "tests/dvdecoder/dvdec_fixtures.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

#include <gtest/gtest.h>

namespace {

std::string FixtureDir()
{
    return std::string(LC_BINARY_DIR) + "/fixtures/dvdecoder";
}

std::vector<uint8_t> ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

DvdecFixture LoadDvdecFixture(const std::string &name)
{
    static std::once_flag made;
    std::call_once(made, [] {
        const std::string command = "sh '" + std::string(LC_SOURCE_DIR)
                                    + "/tests/fixtures/dvdec_make_frames.sh' '" + FixtureDir()
                                    + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    });
    DvdecFixture f;
    const std::string base = FixtureDir() + "/dvdec_" + name;
    f.frame = ReadAll(base + ".dv");
    f.yuv = ReadAll(base + ".yuv");
    std::vector<uint8_t> probe = ReadAll(base + ".probe");
    f.probe.assign(probe.begin(), probe.end());
    while (!f.probe.empty() && (f.probe.back() == '\n' || f.probe.back() == '\r')) {
        f.probe.pop_back();
    }
    std::sscanf(f.probe.c_str(), "%d,%d", &f.width, &f.height);
    EXPECT_FALSE(f.frame.empty()) << base;
    EXPECT_EQ(f.yuv.size(), size_t(f.width) * f.height * 2) << base;
    return f;
}

double Psnr(const std::vector<double> &a, const std::vector<double> &b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        sum += (a[i] - b[i]) * (a[i] - b[i]);
    }
    const double mse = sum / double(a.size());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::vector<uint8_t> GarbageFrame(size_t bytes, uint32_t seed)
{
    std::vector<uint8_t> frame(bytes);
    uint32_t state = seed;
    for (uint8_t &b : frame) {
        state = state * 214013u + 2531011u;
        b = uint8_t(state >> 16);
    }
    return frame;
}
