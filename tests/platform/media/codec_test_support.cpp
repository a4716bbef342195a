#include "codec_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include <unistd.h>

namespace {
std::string FixtureDir() { return std::string(LC_BINARY_DIR) + "/tests/fixtures/media_codec"; }

void MakeFixtures()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const std::string cmd = "sh '" + std::string(LC_SOURCE_DIR)
                                + "/tests/fixtures/media_codec_fixtures.sh' '" + FixtureDir() + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    });
}
} // namespace

std::string CodecFixture(const std::string &name)
{
    MakeFixtures();
    return FixtureDir() + "/" + name;
}

std::vector<uint8_t> ReadBytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> FfmpegDecode(const std::vector<uint8_t> &frame, const std::string &demuxer,
                                  const std::string &pixFmt)
{
    static int serial = 0;
    const std::string stem = CodecFixture("ffmpeg_" + std::to_string(::getpid()) + "_"
                                          + std::to_string(serial++));
    WriteBytes(stem + ".in", frame);
    const std::string cmd = "ffmpeg -nostdin -v error -y -f " + demuxer + " -i '" + stem
                            + ".in' -frames:v 1 -f rawvideo -pix_fmt " + pixFmt + " '" + stem
                            + ".raw'";
    std::vector<uint8_t> bytes;
    if (std::system(cmd.c_str()) == 0) {
        bytes = ReadBytes(stem + ".raw");
    }
    std::remove((stem + ".in").c_str());
    std::remove((stem + ".raw").c_str());
    return bytes;
}

double Psnr(const uint8_t *a, const uint8_t *b, size_t n)
{
    double sum = 0;
    for (size_t i = 0; i < n; i++) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0 || n == 0) {
        return 99;
    }
    return 10 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

TestGWorld::TestGWorld(int16_t depth, int width, int height)
{
    const Rect r{0, 0, int16_t(height), int16_t(width)};
    EXPECT_EQ(NewGWorld(&world, depth, &r, nullptr, nullptr, 0), noErr);
}

void TestGWorld::Load(const std::vector<uint8_t> &packed, int bytesPerPixel)
{
    const PixMap &p = **pm();
    const int w = p.bounds.right - p.bounds.left, h = p.bounds.bottom - p.bounds.top;
    ASSERT_GE(packed.size(), size_t(w) * h * bytesPerPixel);
    for (int y = 0; y < h; y++) {
        std::memcpy(base() + y * rowBytes(), packed.data() + size_t(y) * w * bytesPerPixel,
                    size_t(w) * bytesPerPixel);
    }
}

std::vector<uint8_t> TestGWorld::Packed(int bytesPerPixel) const
{
    const PixMap &p = **pm();
    const int w = p.bounds.right - p.bounds.left, h = p.bounds.bottom - p.bounds.top;
    std::vector<uint8_t> out(size_t(w) * h * bytesPerPixel);
    for (int y = 0; y < h; y++) {
        std::memcpy(out.data() + size_t(y) * w * bytesPerPixel, base() + y * rowBytes(),
                    size_t(w) * bytesPerPixel);
    }
    return out;
}

ImageDescriptionHandle MakeDescription(OSType cType, int width, int height, int32_t dataSize,
                                       int16_t depth)
{
    auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(86));
    ImageDescription &d = **desc;
    d.idSize = 86;
    d.cType = cType;
    d.width = int16_t(width);
    d.height = int16_t(height);
    d.dataSize = dataSize;
    d.frameCount = 1;
    d.depth = depth;
    d.clutID = -1;
    return desc;
}

void DisposeDescription(ImageDescriptionHandle desc) { DisposeHandle(reinterpret_cast<Handle>(desc)); }
