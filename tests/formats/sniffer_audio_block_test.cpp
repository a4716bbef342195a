#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/audio_block_output.h"
#include "formats/avi_writer.h"
#include "formats/movie_sniffer.h"
#include "formats/source_audio_format.h"
#include "formats/source_timing.h"
#include "tests/formats/formats_test_support.h"

using fmt_test::Fake;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Head(const char *text, size_t n)
{
    return Bytes(reinterpret_cast<const uint8_t *>(text),
                 reinterpret_cast<const uint8_t *>(text) + n);
}

TEST(MovieSnifferTest, FileHeads)
{
    struct Case
    {
        const char *name;
        Bytes bytes;
        int result;
    } cases[] = {
        {"moov.mov", Head("\0\0\0\x10moovxxxxxxxx", 16), kSniffQuickTime},
        {"ftyp.mp4",
         Head("\0\0\0\x14"
              "ftypqt  ",
              12),
         kSniffQuickTime},
        {"free.mov",
         Head("\0\0\0\x08"
              "free",
              8),
         kSniffQuickTime},
        {"skip.mov",
         Head("\0\0\0\x08"
              "skip",
              8),
         kSniffQuickTime},
        {"wide.mov",
         Head("\0\0\0\x08"
              "wide",
              8),
         kSniffQuickTime},
        {"pnot.mov",
         Head("\0\0\0\x14"
              "pnot",
              8),
         kSniffQuickTime},
        {"mdat.mov",
         Head("\0\0\0\x08"
              "mdat",
              8),
         kSniffQuickTime},
        {"pic.jpg", Head("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11), kSniffQuickTime},
        {"riff.avi", Head("RIFF\x10\0\0\0AVI LIST", 16), kSniffOther},
        {"ps.mpg", Head("\0\0\x01\xBA\x44\0\x04\0\x04\x01", 10), kSniffOther},
        {"exif.jpg",
         Head("\xFF\xD8\xFF\xE1\0\x10"
              "Exif\0\0",
              12),
         kSniffOther},
        {"short7", Head("RIFFxxx", 7), kSniffUnreadable},
        {"short10", Head("RIFFxxxxxx", 10), kSniffOther},
        {"empty", {}, kSniffUnreadable},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = fmt_test::ScratchDir("sniffer") + "/" + c.name;
        fmt_test::WriteFile(path, c.bytes);
        EXPECT_EQ(SniffMovieFile(path.c_str()), c.result);
    }
    EXPECT_EQ(SniffMovieFile((fmt_test::ScratchDir("sniffer") + "/missing").c_str()),
              kSniffUnreadable);
    EXPECT_EQ(SniffMovieFile(nullptr), kSniffUnreadable);
}

class AudioBlockTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Fake().Install();
        gSourceAudioFormat = {2, 48000, 16};
        ResetAudioBlockOutput();
    }
    void TearDown() override
    {
        ResetAudioBlockOutput();
        fmt_test::FakePasses::Uninstall();
    }
};

// 3840-byte calls (one NTSC frame of sound): the first block leaves at the 53rd call, when more
// than 200200 bytes went in; the flush releases the rest.
TEST_F(AudioBlockTest, RetimedSoundLeavesInOneSecondBlocks)
{
    Fake().sourceIsNtsc = 1;
    std::vector<int16_t> samples(1920, 1000); // 960 stereo frames
    for (int call = 1; call <= 53; ++call) {
        uint32_t total = WriteAudioBlock(samples.data(), 3840, nullptr, 0);
        ASSERT_EQ(total, call < 53 ? 0u : 192000u) << call;
    }
    ASSERT_EQ(Fake().addedSampleCounts.size(), 1u);
    EXPECT_EQ(Fake().addedSampleCounts[0], 48000);
    uint32_t flushed = WriteAudioBlock(nullptr, 0, nullptr, 0);
    // 50880 frames went in; the block took 50050 of them, the 830 left give 796 out.
    EXPECT_EQ(flushed, 192000u + 796u * 4);
    EXPECT_EQ(Fake().addedSampleCounts.size(), 2u);
    EXPECT_EQ(WriteAudioBlock(nullptr, 0, nullptr, 0), 0u);

    // A large block is fed in pieces and every whole second leaves at once: nothing is lost to
    // the ring's wrap.
    Fake().addedSampleCounts.clear();
    ResetAudioBlockOutput();
    std::vector<int16_t> big(size_t(5) * 1024 * 1024, 7); // 10 MB, more than the ring holds
    uint32_t total = WriteAudioBlock(big.data(), uint32_t(big.size() * 2), nullptr, 0);
    uint32_t inFrames = uint32_t(big.size() / 2);
    uint32_t outFrames = uint32_t(uint64_t(inFrames) * 960 / 1001);
    EXPECT_EQ(total, outFrames / 48000 * 192000);
    total = WriteAudioBlock(nullptr, 0, nullptr, 0);
    EXPECT_NEAR(double(total), double(outFrames) * 4, 8.0);
}

TEST_F(AudioBlockTest, DirectSoundToFilesAndTracks)
{
    std::FILE *wav = std::tmpfile();
    ASSERT_NE(wav, nullptr);
    std::vector<int16_t> samples(200, 3);
    EXPECT_EQ(WriteAudioBlock(samples.data(), 400, wav, 3), 400u);
    EXPECT_EQ(WriteAudioBlock(samples.data(), 100, wav, 3), 500u);
    EXPECT_EQ(std::ftell(wav), 500);
    EXPECT_EQ(WriteAudioBlock(nullptr, 0, wav, 3), 500u); // flush: the total, then 0
    EXPECT_EQ(WriteAudioBlock(nullptr, 0, wav, 3), 0u);
    std::fclose(wav);

    // A track without a file writes nothing; track numbers outside 0-7 do nothing.
    EXPECT_EQ(WriteAudioBlock(samples.data(), 400, nullptr, 5), 0u);
    EXPECT_EQ(WriteAudioBlock(samples.data(), 400, nullptr, 8), 0u);
    EXPECT_EQ(WriteAudioBlock(samples.data(), 400, nullptr, -1), 0u);
    EXPECT_EQ(WriteAudioBlock(nullptr, 0, nullptr, 6), 0u);

    // Track 0 to the QuickTime sound track: sample frames of 4 bytes; a refusal gives 0.
    EXPECT_EQ(WriteAudioBlock(samples.data(), 400, nullptr, 0), 400u);
    ASSERT_EQ(Fake().addedSampleCounts.size(), 1u);
    EXPECT_EQ(Fake().addedSampleCounts[0], 100);
    Fake().addResult = 0;
    EXPECT_EQ(WriteAudioBlock(samples.data(), 400, nullptr, 0), 0u);

    // Track 0 to the AVI writer as "01wb".
    Fake().outputIsAvi = 1;
    gSourceTiming = {25, 1};
    std::string path = fmt_test::ScratchDir("audio_block") + "/out.avi";
    ASSERT_EQ(AviBeginRGB(path.c_str(), 1, 25, 1, 2, 2), 1);
    ResetAudioBlockOutput();
    EXPECT_EQ(WriteAudioBlock(samples.data(), 400, nullptr, 0), 400u);
    EXPECT_EQ(gAviWriteState.segAudioCount, 1);
    EXPECT_EQ(gAviWriteState.totalAudioSamples, 100u);
    AviCloseOutput();
}

} // namespace
