#include "tests/platform/vfw/vfw_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

std::string FixtureDir()
{
    return std::string(LC_BINARY_DIR) + "/tests/fixtures/vfw";
}

} // namespace

std::string VfwFixture(const std::string &name)
{
    static bool made = false;
    if (!made) {
        const std::string cmd = "sh '" + std::string(LC_SOURCE_DIR)
                                + "/tests/fixtures/vfw_make_fixtures.sh' '" + FixtureDir() + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        made = true;
    }
    return FixtureDir() + "/" + name;
}

std::vector<uint8_t> ReadFileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> TestPicture(int width, int height, int bytesPerPixel)
{
    std::vector<uint8_t> p(size_t(width) * height * bytesPerPixel);
    for (int y = 0; y < height; y++) {
        const int top = height - 1 - y; // row counted from the top of the picture
        for (int x = 0; x < width; x++) {
            uint8_t *px = &p[(size_t(y) * width + x) * bytesPerPixel];
            int b = 60 + 100 * x / width;
            int g = 60 + 100 * top / height;
            int r = 90;
            if (top < height / 4) {
                r = 230; // red band at the top
            }
            if (x < width / 4) {
                b = 230; // blue band at the left
            }
            px[0] = uint8_t(b);
            px[1] = uint8_t(g);
            px[2] = uint8_t(r);
            if (bytesPerPixel == 4) {
                px[3] = 0;
            }
        }
    }
    return p;
}

double MeanDifference(const uint8_t *a, int aBpp, const uint8_t *b, int bBpp, int width, int height)
{
    double sum = 0;
    for (int i = 0; i < width * height; i++) {
        for (int c = 0; c < 3; c++) {
            sum += std::abs(int(a[i * aBpp + c]) - int(b[i * bBpp + c]));
        }
    }
    return sum / (double(width) * height * 3);
}

bool IsLosslessCode(DWORD handler)
{
    return handler != mmioFOURCC('d', 'v', 's', 'd') && handler != mmioFOURCC('d', 'v', '5', '0')
           && handler != mmioFOURCC('M', 'J', 'P', 'G');
}

std::string CodeText(DWORD handler)
{
    std::string s;
    for (int i = 0; i < 4; i++) {
        s += char((handler >> (8 * i)) & 0xff);
    }
    return s;
}

void CompressorTestSize(DWORD handler, int *width, int *height)
{
    if (handler == mmioFOURCC('d', 'v', 's', 'd') || handler == mmioFOURCC('d', 'v', '5', '0')) {
        *width = 720;
        *height = 576;
    } else {
        *width = 70;
        *height = 38;
    }
}

int RunCommand(const std::string &command, std::string *err)
{
    VfwFixture("."); // the folder exists
    const std::string errPath = FixtureDir() + "/stderr_" + std::to_string(::getpid()) + ".txt";
    const std::string full = command + " 2>'" + errPath + "'";
    const int rc = std::system(full.c_str());
    if (err) {
        const std::vector<uint8_t> bytes = ReadFileBytes(errPath);
        err->assign(bytes.begin(), bytes.end());
    }
    std::remove(errPath.c_str());
    return rc;
}
