#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mpeg2/mpeg_picture_output.h"

// One picture handed to the output stage: the planes cropped to the display size.
struct CollectedPicture
{
    MpegPictureRecord record;
    int index = 0;
    std::vector<uint8_t> planes[3];
};

// Installs a sink that keeps every handed-over picture (null hooks elsewhere), and restores the
// process-wide decoder records to their start-up state on destruction.
class DecoderHarness
{
public:
    DecoderHarness();
    ~DecoderHarness();
    // Opens path (shows the first I picture), then plays the whole file; returns the pictures
    // of the whole-file run.
    std::vector<CollectedPicture> DecodeWholeFile(const std::string &path);
    // Waits until the decoder thread has ended (bounded).
    static bool WaitIdle();

    static std::vector<CollectedPicture> pictures;
    static std::vector<std::string> traces;
    static std::vector<std::string> errors;
};

// The folder with the streams made by tests/fixtures/mpeg2_make_fixtures.sh (made once per run).
const std::string &Mpeg2FixtureDir();
std::string Mpeg2Fixture(const std::string &name);
// Writes bytes to a file in the build tree; returns its path.
std::string WriteTempFile(const std::string &name, const std::vector<uint8_t> &bytes);
std::vector<uint8_t> ReadFileBytes(const std::string &path);
