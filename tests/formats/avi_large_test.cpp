#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/avi_reader.h"
#include "formats/avi_writer.h"
#include "formats/source_audio_format.h"
#include "tests/formats/formats_test_support.h"

using fmt_test::Fake;

namespace {

// An OpenDML file over 1 GB ("AVIX" forms, super index) made by ffmpeg: every frame in order,
// the sound through every form, and seeks across the forms.
TEST(AviLargeTest, OpenDmlFileOverOneGigabyte)
{
    Fake().Install();
    std::string path = fmt_test::LargeFixture();
    ASSERT_FALSE(path.empty());
    std::vector<fmt_test::FrameHash> want = fmt_test::ReadFrameMd5(path);
    ASSERT_EQ(want.size(), 8000u);
    uint32_t total = 0;
    int extended = 0;
    ASSERT_EQ(AviOpenRead(path.c_str(), &total, &extended), 0);
    EXPECT_EQ(total, 8000u);
    EXPECT_EQ(extended, 1);
    EXPECT_GT(gAviReadState.superIndexCount, 1u);
    std::vector<uint8_t> buffer(1 << 20);
    for (uint32_t i = 0; i < total; ++i) {
        int n = AviReadNextFrame(buffer.data(), int(buffer.size()));
        ASSERT_EQ(uint32_t(n), want[i].size) << i;
        ASSERT_EQ(fmt_test::Md5Hex(buffer.data(), size_t(n)), want[i].md5) << i;
    }
    EXPECT_EQ(AviReadRemainingAudio(), 1);
    std::string pcm = fmt_test::ScratchDir("large") + "/large.pcm";
    ASSERT_EQ(fmt_test::RunProgram({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i",
                                    path, "-map", "0:a:0", "-c", "copy", "-f", "data", pcm}),
              0);
    EXPECT_TRUE(Fake().added == fmt_test::ReadFile(pcm));
    // Seeks at and around the boundaries of the standard indexes.
    std::vector<uint32_t> seeks = {7999, 0};
    uint32_t start = 0;
    for (uint32_t i = 0; i < gAviReadState.superIndexCount; ++i) {
        start += gAviReadState.superIndex[i].dwDuration;
        for (uint32_t f : {start - 1, start}) {
            if (f < total) {
                seeks.push_back(f);
            }
        }
    }
    for (uint32_t f : seeks) {
        ASSERT_EQ(AviSeekFrame(f), 1) << f;
        int n = AviReadSeekedFrame(buffer.data(), int(buffer.size()));
        ASSERT_EQ(uint32_t(n), want[f].size) << f;
        ASSERT_EQ(fmt_test::Md5Hex(buffer.data(), size_t(n)), want[f].md5) << f;
    }
    EXPECT_EQ(AviSeekFrame(8000), 0);
    AviCloseRead();
    fmt_test::FakePasses::Uninstall();
}

// More segments than the header's super indexes hold: the writer stops with one error and the
// file stays readable up to the last indexed segment.
TEST(AviLargeTest, WriterStopsWhenTheSuperIndexIsFull)
{
    Fake().Install();
    gSourceAudioFormat = {2, 48000, 16};
    AviBitmapHeader bih;
    bih.biWidth = 8;
    bih.biHeight = 8;
    std::string path = fmt_test::ScratchDir("large") + "/full.avi";
    ASSERT_EQ(AviWriteHeader(path.c_str(), 1, 1, 25, "r", 0, &bih), 1);
    const uint32_t indexed = uint32_t(kAviSuperIndexRoom) * kAviFramesPerSegmentNoSize;
    std::vector<uint8_t> frame(4, 1);
    for (uint32_t i = 0; i < indexed + 10; ++i) {
        frame[0] = uint8_t(i);
        AviWriteVideoFrame(frame.data(), uint32_t(frame.size()));
    }
    AviCloseOutput();
    ASSERT_EQ(Fake().errors.size(), 1u);
    EXPECT_EQ(Fake().errors[0], "AVI output too long: the index has room for 2014 segments");
    uint32_t total = 0;
    ASSERT_EQ(AviOpenRead(path.c_str(), &total, nullptr), 0);
    EXPECT_EQ(total, indexed);
    EXPECT_EQ(gAviReadState.superIndexCount, 256u); // the reader keeps the first 256
    ASSERT_EQ(AviSeekFrame(255 * 178 + 5), 1);
    std::vector<uint8_t> buffer(16);
    EXPECT_EQ(AviReadSeekedFrame(buffer.data(), 16), 4);
    EXPECT_EQ(buffer[0], uint8_t(255 * 178 + 5));
    AviCloseRead();
    fmt_test::FakePasses::Uninstall();
}

} // namespace
