#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/frame_view.h"

// The fixture folder in the build tree, made by tests/fixtures/engine_fixtures.py on first use.
// Empty when ffmpeg is missing.
std::string EngineFixtures();
std::vector<uint8_t> ReadBytes(const std::string &path);
// Runs a shell command and returns what it printed on both streams.
std::string RunCommand(const std::string &command);

#define LC_NEED_FIXTURES(dir)                                                                      \
    const std::string dir = EngineFixtures();                                                      \
    if (dir.empty()) {                                                                             \
        GTEST_SKIP() << "ffmpeg is not installed";                                                 \
    }

struct EngineMessage
{
    bool error;
    std::string text;
};

// Options at their defaults, the frame store allocated, messages recorded.
class EngineTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    static std::vector<EngineMessage> &Messages();
    // Pixel format and a width x height source that the kernels also work at, row pitch = width;
    // both slot arrays point at the input frames.
    static void UseGeometry(int width, int height, bool yuv);
};

// A frame buffer with its view, filled with `fill`.
struct TestFrame
{
    std::vector<uint8_t> bytes;
    FrameView view;

    TestFrame(int width, int height, int bytesPerPixel, uint8_t fill = 0, int padPixels = 0);
    uint8_t &At(int x, int y, int byte) { return view.Row(y)[x * view.bytesPerPixel + byte]; }
};
