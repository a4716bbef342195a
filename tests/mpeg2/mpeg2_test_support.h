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

// Builds a bit stream most significant bit first.
class BitWriter
{
public:
    void Put(uint32_t value, int n);
    void StartCode(uint8_t code); // byte-aligns, then 00 00 01 code
    void Align();
    std::vector<uint8_t> Bytes(size_t zeroPadding = 0);

private:
    std::vector<uint8_t> bits_;
};

// A sequence header (no matrices) and, when extension is set, a sequence extension.
void PutSequenceHeader(BitWriter &b, int width, int height, int frameRateCode, bool extension,
                       int hExt = 0, int vExt = 0, int rateN = 0, int rateD = 0);

// Opens path as file 0 for direct calls into the input layer (no decoder thread); the stream is
// read as an elementary stream.
void OpenInputDirect(const std::string &path);
