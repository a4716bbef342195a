#include <gtest/gtest.h>

#include <cstring>

#include "movie_test_support.h"
#include "platform/media/movies.h"
#include "platform/sys/bytes.h"

// Files that are not QuickTime movies open as movies: raw DV, DV AVI of both kinds, AIFF, JPEG.

namespace {

struct ImportCase
{
    const char *file;
    OSType codec;     // 0: no video
    int width, height;
    long frameBytes;  // bytes of each video sample; 0: the whole file
    const char *pcm;  // ffmpeg format of the stored sound, null: no sound
    OSType soundFormat;
};

void PrintTo(const ImportCase &c, std::ostream *os) { *os << c.file; }

const ImportCase kImports[] = {
    {"media_ntsc.dv", lc::FourCC("dvc "), 720, 480, 120000, "s16le", lc::FourCC("sowt")},
    {"media_type1.avi", lc::FourCC("dvc "), 720, 480, 120000, "s16le", lc::FourCC("sowt")},
    {"media_type2.avi", lc::FourCC("dvcp"), 720, 576, 144000, "s16le", lc::FourCC("sowt")},
    {"media_temp.aiff", 0, 0, 0, 0, "s16be", lc::FourCC("twos")},
    {"media_pic.jpg", lc::FourCC("jpeg"), 320, 240, 0, nullptr, 0},
};

class MovieImport : public ::testing::TestWithParam<ImportCase>
{
};

TEST_P(MovieImport, OpensWithItsPicturesAndSound)
{
    const ImportCase &c = GetParam();
    std::string path = Fixture(c.file);
    Movie movie = nullptr;
    ASSERT_EQ(OpenMoviePath(path, &movie), noErr);
    Handle data = NewHandle(0);
    Track video = GetMovieIndTrackType(movie, 1, VisualMediaCharacteristic,
                                       movieTrackCharacteristic);
    EXPECT_EQ(video != nullptr, c.codec != 0);
    if (video) {
        Media media = GetTrackMedia(video);
        auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
        long size = 0;
        TimeValue duration = 0;
        ASSERT_EQ(GetMediaSample(media, data, 0, &size, 0, nullptr, &duration,
                                 reinterpret_cast<SampleDescriptionHandle>(desc), nullptr, 1,
                                 nullptr, nullptr),
                  noErr);
        EXPECT_EQ((**desc).cType, c.codec);
        EXPECT_EQ((**desc).width, c.width);
        EXPECT_EQ((**desc).height, c.height);
        EXPECT_EQ((**desc).depth, 24);
        auto file = FileBytes(path);
        if (c.frameBytes == 0) {
            EXPECT_EQ(GetMediaSampleCount(media), 1);
            ASSERT_EQ(size_t(size), file.size());
            EXPECT_EQ(std::memcmp(*data, file.data(), file.size()), 0);
        } else {
            EXPECT_EQ(size, c.frameBytes);
            EXPECT_EQ((**desc).dataSize, c.frameBytes);
            // Every frame equals ffmpeg's packet of it.
            std::string frames;
            RunProgram({"ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", "-c", "copy", "-f",
                        "rawvideo", "-"},
                       &frames);
            ASSERT_EQ(GetMediaSampleCount(media) * c.frameBytes, long(frames.size()));
            for (long i = 0; i < GetMediaSampleCount(media); ++i) {
                ASSERT_EQ(GetMediaSample(media, data, 0, &size, TimeValue(i * duration), nullptr,
                                         nullptr, nullptr, nullptr, 1, nullptr, nullptr),
                          noErr);
                ASSERT_EQ(size, c.frameBytes);
                EXPECT_EQ(std::memcmp(*data, frames.data() + i * c.frameBytes, size_t(size)), 0)
                    << i;
            }
            // The frame rate the movie object works out from two sample times.
            OSType eyes = VisualMediaCharacteristic;
            TimeValue t1 = -1, t2 = -1;
            GetMovieNextInterestingTime(movie, nextTimeMediaSample, 1, &eyes, 0, FixedOne, &t1,
                                        nullptr);
            GetMovieNextInterestingTime(movie, nextTimeMediaSample, 1, &eyes, t1, FixedOne, &t2,
                                        nullptr);
            ASSERT_GT(t2 - t1, 0);
            EXPECT_EQ(GetMovieTimeScale(movie) / (t2 - t1), c.height == 576 ? 25 : 29);
        }
        DisposeHandle(reinterpret_cast<Handle>(desc));
    }
    Track sound = GetMovieIndTrackType(movie, 1, AudioMediaCharacteristic,
                                       movieTrackCharacteristic);
    EXPECT_EQ(sound != nullptr, c.pcm != nullptr);
    if (sound) {
        std::string pcm;
        RunProgram({"ffmpeg", "-v", "error", "-i", path, "-map", "0:a:0", "-f", c.pcm, "-"}, &pcm);
        Media media = GetTrackMedia(sound);
        EXPECT_EQ(GetMediaTimeScale(media), 48000);
        auto sd = reinterpret_cast<SoundDescriptionHandle>(NewHandle(4));
        long size = 0, count = 0;
        ASSERT_EQ(GetMediaSample(media, data, 0, &size, 0, nullptr, nullptr,
                                 reinterpret_cast<SampleDescriptionHandle>(sd), nullptr,
                                 GetMediaDuration(media), &count, nullptr),
                  noErr);
        EXPECT_EQ((**sd).dataFormat, c.soundFormat);
        EXPECT_EQ((**sd).numChannels, 2);
        EXPECT_EQ((**sd).sampleSize, 16);
        EXPECT_EQ((**sd).sampleRate, 48000u << 16);
        EXPECT_EQ(count, GetMediaDuration(media));
        ASSERT_EQ(size_t(size), pcm.size());
        EXPECT_EQ(std::memcmp(*data, pcm.data(), pcm.size()), 0);
        EXPECT_EQ(GetMediaSample(media, data, 0, &size, GetMediaDuration(media), nullptr, nullptr,
                                 nullptr, nullptr, 1, nullptr, nullptr),
                  invalidTime);
        DisposeHandle(reinterpret_cast<Handle>(sd));
    }
    DisposeHandle(data);
    DisposeMovie(movie);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MovieImport, ::testing::ValuesIn(kImports),
                         [](const auto &param) { return TestNameOf(param.param.file); });

TEST(MovieImportRefusals, UnknownAndDamagedFiles)
{
    std::string dir = ScratchDir();
    struct Bad
    {
        const char *name;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> aiff = FileBytes(Fixture("media_temp.aiff"));
    std::vector<uint8_t> shortAiff(aiff.begin(), aiff.begin() + 40); // COMM cut short
    std::vector<uint8_t> jpeg = {0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1};
    std::vector<uint8_t> riff = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '};
    const Bad bad[] = {
        {"text.mov", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'}},
        {"short.aiff", shortAiff},
        {"nosof.jpg", jpeg},
        {"empty.avi", riff},
    };
    for (const Bad &b : bad) {
        std::string path = dir + b.name;
        FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(b.bytes.data(), 1, b.bytes.size(), f);
        std::fclose(f);
        Movie movie = nullptr;
        EXPECT_EQ(OpenMoviePath(path, &movie), badFormat) << b.name;
        EXPECT_EQ(movie, nullptr);
    }
}

} // namespace
