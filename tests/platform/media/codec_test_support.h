#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/media/gworld.h"
#include "platform/media/image_compression.h"

// Fixtures made by tests/fixtures/media_codec_fixtures.sh (once, on first use) and helpers the
// codec tests share.

// Four-character code from four characters of text.
inline OSType Code(const char *s)
{
    return OSType(uint8_t(s[0])) << 24 | OSType(uint8_t(s[1])) << 16 | OSType(uint8_t(s[2])) << 8
           | OSType(uint8_t(s[3]));
}

std::string CodecFixture(const std::string &name); // path in the build tree
std::vector<uint8_t> ReadBytes(const std::string &path);
void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes);
// ffmpeg's decode of a compressed frame (demuxer "dv", "mjpeg", ...) as raw pixels of pixFmt;
// empty on failure.
std::vector<uint8_t> FfmpegDecode(const std::vector<uint8_t> &frame, const std::string &demuxer,
                                  const std::string &pixFmt);

// PSNR in dB between two equal-length byte runs (99 when identical).
double Psnr(const uint8_t *a, const uint8_t *b, size_t n);

// A GWorld that goes away with the test.
struct TestGWorld
{
    GWorldPtr world = nullptr;
    TestGWorld(int16_t depth, int width, int height);
    ~TestGWorld() { DisposeGWorld(world); }
    PixMapHandle pm() const { return GetGWorldPixMap(world); }
    uint8_t *base() const { return reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm())); }
    int rowBytes() const { return GetPixRowBytes(pm()); }
    // Pixels copied in from, or out to, tightly packed rows.
    void Load(const std::vector<uint8_t> &packed, int bytesPerPixel);
    std::vector<uint8_t> Packed(int bytesPerPixel) const;
};

// An image description handle filled as the movie reader would for a stored sample.
ImageDescriptionHandle MakeDescription(OSType cType, int width, int height, int32_t dataSize,
                                       int16_t depth = 24);
void DisposeDescription(ImageDescriptionHandle desc);
