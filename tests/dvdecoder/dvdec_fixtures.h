#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Frames made by tests/fixtures/dvdec_make_frames.sh (once, on first use) and ffmpeg's decodes.
struct DvdecFixture
{
    std::vector<uint8_t> frame; // one compressed frame
    std::vector<uint8_t> yuv;   // ffmpeg's decode, planar 4:2:2: Y, then U (Cb), then V (Cr)
    std::string probe;          // ffprobe's "width,height,rate"
    int width = 0;
    int height = 0;
};

// name: "1080i60", "720p60", "1080i50", "720p50", "1080i60_field". Fails the test when missing.
DvdecFixture LoadDvdecFixture(const std::string &name);

double Psnr(const std::vector<double> &a, const std::vector<double> &b);

// A frame of the kind's size: each byte from a 15-bit generator seeded with seed.
std::vector<uint8_t> GarbageFrame(size_t bytes, uint32_t seed);
