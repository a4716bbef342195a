#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "formats/audio_block_output.h"
#include "mpeg2/ac3_decoder.h"
#include "mpeg2/wav_writer.h"
#include "platform/sys/bytes.h"
#include "platform/sys/file.h"
#include "tests/mpeg2/ac3_test_support.h"

namespace {

std::string TempPath(const char *name)
{
    return std::string(LC_BINARY_DIR) + "/tests/mpeg2/" + name;
}

std::string Output(const std::string &cmd)
{
    std::string out;
    if (FILE *p = ::popen(cmd.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) {
            out += buf;
        }
        ::pclose(p);
    }
    return out;
}

TEST(ClipToInt16, RoundsHalfToEvenAndClamps)
{
    const struct
    {
        double in;
        int16_t out;
    } rows[] = {{32767.5, 32767}, {-32768.5, -32768}, {2.5, 2},          {3.5, 4},
                {-2.5, -2},       {-3.5, -4},         {0.49, 0},         {1e9, 32767},
                {-1e9, -32768},   {NAN, 0},           {INFINITY, 32767}, {-INFINITY, -32768}};
    for (const auto &r : rows) {
        EXPECT_EQ(ClipToInt16(r.in), r.out) << r.in;
    }
}

TEST(WavWriter, TrackFileNames)
{
    const struct
    {
        const char *base;
        int track;
        bool ok;
        const char *name;
    } rows[] = {
        {"/out/clip", 1, true, "/out/clip-Track2.wav"},
        {"/out/clip", 3, true, "/out/clip-Track4.wav"},
        {"/out/clip", 7, true, "/out/clip-Track8.wav"},
        {"/out/clip", 0, false, ""}, // the first track goes into the output movie
        {"/out/clip", 8, false, ""},
    };
    for (const auto &r : rows) {
        char name[260] = "x";
        EXPECT_EQ(MakeTrackWavName(name, sizeof name, r.base, r.track), r.ok);
        EXPECT_STREQ(name, r.name);
    }
    std::string longBase(300, 'a');
    char name[260];
    EXPECT_FALSE(MakeTrackWavName(name, sizeof name, longBase.c_str(), 1));
    EXPECT_STREQ(name, ""); // never a cut name that would make another file
    EXPECT_STREQ(kPcmWavName, "decode.wav");
}

// A file with no samples: the 44-byte header with RIFF size 36 and data size 0.
TEST(WavWriter, EmptyFileHasOnlyItsHeader)
{
    std::string path = TempPath("wav_empty.wav");
    FILE *f = OpenWavTrackFile(path.c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(FixWavHeader(f, 0));
    auto bytes = lc::ReadWholeFile(path.c_str());
    ASSERT_TRUE(bytes);
    const uint8_t expected[kWavHeaderBytes] = {
        'R',  'I', 'F', 'F', 36, 0, 0,   0,   'W', 'A',  'V',  'E', 'f', 'm',  't',
        ' ',  16,  0,   0,   0,  1, 0,   2,   0,   0x80, 0xbb, 0,   0,   0x00, 0xee,
        0x02, 0,   4,   0,   16, 0, 'd', 'a', 't', 'a',  0,    0,   0,   0};
    ASSERT_EQ(bytes->size(), size_t(kWavHeaderBytes));
    EXPECT_EQ(std::memcmp(bytes->data(), expected, kWavHeaderBytes), 0);
}

// A decoded AC-3 track written as "-TrackN.wav" through the audio block output: the sizes are
// patched at the end and other tools read it as 48000 Hz stereo 16-bit with every sample.
TEST(WavWriter, DecodedTrackFileReadsBackInOtherTools)
{
    ASSERT_FALSE(Ac3FixtureDir().empty());
    std::vector<uint8_t> stream = ReadFixture("ac3_stereo_192.ac3");
    std::vector<int16_t> samples = DecodeAc3(stream, 2025);
    ASSERT_FALSE(samples.empty());
    char name[260];
    ASSERT_TRUE(MakeTrackWavName(name, sizeof name, TempPath("wav_movie").c_str(), 2));
    FILE *f = OpenWavTrackFile(name);
    ASSERT_NE(f, nullptr);
    ResetAudioBlockOutput();
    // In pieces of one frame, as the demultiplexer hands them over.
    for (size_t at = 0; at < samples.size(); at += 2 * kAc3SamplesPerFrame) {
        WriteAudioBlock(samples.data() + at, kAc3FrameOutputBytes, f, 2);
    }
    uint32_t total = WriteAudioBlock(nullptr, 0, f, 2);
    EXPECT_EQ(total, samples.size() * 2);
    EXPECT_TRUE(FixWavHeader(f, total));

    std::string probe = Output("ffprobe -v error -show_entries stream=codec_name,sample_rate,"
                               "channels,bits_per_sample,duration_ts -of default=nw=1 '"
                               + std::string(name) + "'");
    EXPECT_NE(probe.find("codec_name=pcm_s16le"), std::string::npos) << probe;
    EXPECT_NE(probe.find("sample_rate=48000"), std::string::npos) << probe;
    EXPECT_NE(probe.find("channels=2"), std::string::npos) << probe;
    EXPECT_NE(probe.find("bits_per_sample=16"), std::string::npos) << probe;
    EXPECT_NE(probe.find("duration_ts=" + std::to_string(samples.size() / 2)), std::string::npos)
        << probe;
    std::string sox = Output("sox --i -s '" + std::string(name) + "'");
    EXPECT_EQ(std::atol(sox.c_str()), long(samples.size() / 2)) << sox;
    auto bytes = lc::ReadWholeFile(name);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), kWavHeaderBytes + samples.size() * 2);
    const auto *b = reinterpret_cast<const uint8_t *>(bytes->data());
    EXPECT_EQ(lc::LoadU32le(b + 4), total + 36);
    EXPECT_EQ(lc::LoadU32le(b + 40), total);
    EXPECT_EQ(std::memcmp(b + kWavHeaderBytes, samples.data(), total), 0);
}

// Failures are reported, not taken for success.
TEST(WavWriter, FailuresAreReported)
{
    EXPECT_EQ(OpenWavTrackFile((TempPath("no_such_folder") + "/x-Track2.wav").c_str()), nullptr);
    EXPECT_EQ(OpenWavTrackFile(""), nullptr);
    EXPECT_FALSE(WriteWavHeader(nullptr));
    EXPECT_FALSE(FixWavHeader(nullptr, 10));
    // A stream that cannot be written: the patch fails, and the stream is closed all the same.
    std::string path = TempPath("wav_readonly.wav");
    FILE *w = OpenWavTrackFile(path.c_str());
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(FixWavHeader(w, 0));
    FILE *r = std::fopen(path.c_str(), "rb");
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(FixWavHeader(r, 1000));
    // The RIFF size never wraps around for data near 4 GiB.
    w = OpenWavTrackFile(path.c_str());
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(FixWavHeader(w, 0xFFFFFFF0u));
    auto bytes = lc::ReadWholeFile(path.c_str());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(lc::LoadU32le(reinterpret_cast<const uint8_t *>(bytes->data()) + 4), 0xFFFFFFFFu);
}

} // namespace
