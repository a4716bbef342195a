#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/vfw/vfw.h"

// Fixtures made by tests/fixtures/vfw_make_fixtures.sh (once, on first use), test pictures and
// ffmpeg run as a black box.
std::string VfwFixture(const std::string &name); // path in the build tree
std::vector<uint8_t> ReadFileBytes(const std::string &path);

// A bottom-up B, G, R picture (bytesPerPixel 3, or 4 with the fourth byte 0) that is smooth enough
// for lossy coders, with a red band along its top and a blue band along its left side, so
// flips and swapped channels show.
std::vector<uint8_t> TestPicture(int width, int height, int bytesPerPixel);

// Mean absolute difference of the B, G, R bytes of two pictures of the same size (strides in
// bytes a pixel: 3 or 4).
double MeanDifference(const uint8_t *a, int aBytesPerPixel, const uint8_t *b, int bBytesPerPixel,
                      int width, int height);

// Lossless compressors give back exactly what they were given.
bool IsLosslessCode(DWORD handler);
std::string CodeText(DWORD handler);
// A picture size the compressor takes: DV sizes for the DV codes, else a small odd size.
void CompressorTestSize(DWORD handler, int *width, int *height);

// Runs a shell command; its standard error goes to *err when given.
int RunCommand(const std::string &command, std::string *err = nullptr);
