#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mp2decode/output_modules.h"
#include "tests/mp2decode/mp2_test_support.h"

namespace {

using mp2_test::ReadAiff;
using mp2_test::ReadFile;
using mp2_test::RunTool;
using mp2_test::WorkDir;

int Init(OutputModule m, const std::string &path)
{
    AudioControl c;
    InitAudioControl(&c, kAudioInit);
    c.init.path = path.c_str();
    return m(&c);
}

AudioControl Config(OutputModule m, unsigned channels, unsigned rate, unsigned precision,
                    int *result)
{
    AudioControl c;
    InitAudioControl(&c, kAudioConfig);
    c.config.channels = channels;
    c.config.rate = rate;
    c.config.precision = precision;
    *result = m(&c);
    return c;
}

int Play(OutputModule m, const std::vector<mad_fixed_t> &left,
         const std::vector<mad_fixed_t> *right, AudioStats *stats)
{
    AudioControl c;
    InitAudioControl(&c, kAudioPlay);
    c.play.count = unsigned(left.size());
    c.play.left = left.data();
    c.play.right = right ? right->data() : nullptr;
    c.play.mode = kAudioModeRound;
    c.play.stats = stats;
    return m(&c);
}

int Finish(OutputModule m)
{
    AudioControl c;
    InitAudioControl(&c, kAudioFinish);
    return m(&c);
}

std::vector<mad_fixed_t> Ramp(unsigned n)
{
    std::vector<mad_fixed_t> v(n);
    for (unsigned i = 0; i < n; ++i) {
        v[i] = mad_fixed_t((int(i % 64) - 32) * (kFixedOne / 64));
    }
    return v;
}

std::string Probe(const std::string &path, const char *entries)
{
    std::string out = path + ".probe";
    if (!RunTool({"ffprobe", "-v", "error", "-show_entries", entries, "-of",
                  "default=noprint_wrappers=1", path},
                 out)) {
        return "ffprobe failed";
    }
    std::vector<uint8_t> text = ReadFile(out);
    return std::string(text.begin(), text.end());
}

TEST(OutputModules, ExtendedRate)
{
    struct Case
    {
        unsigned long rate;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {48000, {0x40, 0x0E, 0xBB, 0x80, 0, 0, 0, 0, 0, 0}},
        {44100, {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}},
        {1, {0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}},
        {0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        unsigned char out[10];
        PutExtended80(out, c.rate);
        EXPECT_EQ(std::vector<uint8_t>(out, out + 10), c.bytes) << c.rate;
    }
}

TEST(OutputModules, EmptyAiffIsAValidHeader)
{
    std::string path = WorkDir("aiff_empty") + "/temp.aiff";
    ASSERT_EQ(Init(OutputModuleAiff, path), 0);
    ASSERT_EQ(Finish(OutputModuleAiff), 0);
    std::vector<uint8_t> d = ReadFile(path);
    const uint8_t expected[54] = {
        'F', 'O', 'R', 'M', 0,   0,   0, 46, 'A', 'I', 'F',  'F',  'C',  'O',  'M', 'M', 0, 0,
        0,   18,  0,   2,   0,   0,   0, 0,  0,   16,  0x40, 0x0E, 0xAC, 0x44, 0,   0,   0, 0,
        0,   0,   'S', 'S', 'N', 'D', 0, 0,  0,   8,   0,    0,    0,    0,    0,   0,   0, 0};
    EXPECT_EQ(d, std::vector<uint8_t>(expected, expected + 54));
    EXPECT_NE(Probe(path, "stream=channels,sample_rate").find("channels=2"), std::string::npos);
}

TEST(OutputModules, AiffKeepsItsFirstFormat)
{
    std::string path = WorkDir("aiff_mono") + "/temp.aiff";
    AudioStats stats;
    int r = 0;
    ASSERT_EQ(Init(OutputModuleAiff, path), 0);
    AudioControl first = Config(OutputModuleAiff, 1, 48000, 0, &r);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(first.config.precision, 16u);
    std::vector<mad_fixed_t> left = Ramp(1000);
    ASSERT_EQ(Play(OutputModuleAiff, left, nullptr, &stats), 0);
    // A later config with other channels and rate answers the first format.
    AudioControl second = Config(OutputModuleAiff, 2, 44100, 24, &r);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(second.config.channels, 1u);
    EXPECT_EQ(second.config.rate, 48000u);
    EXPECT_EQ(second.config.precision, 16u);
    ASSERT_EQ(Play(OutputModuleAiff, left, nullptr, &stats), 0);
    ASSERT_EQ(Finish(OutputModuleAiff), 0);

    mp2_test::Aiff a = ReadAiff(path);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.channels, 1u);
    EXPECT_EQ(a.frames, 2000u);
    EXPECT_EQ(a.bits, 16u);
    const uint8_t rate48k[10] = {0x40, 0x0E, 0xBB, 0x80, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(a.rate, rate48k, 10), 0);
    EXPECT_EQ(a.soundSize, 8u + 4000u);
    EXPECT_EQ(a.formSize, a.fileSize - 8);
    std::vector<int16_t> s = mp2_test::S16Be(a.data.data(), a.data.size());
    ASSERT_EQ(s.size(), 2000u);
    EXPECT_EQ(s[0], -16384);
    EXPECT_EQ(s[33], 512);
    std::string probe = Probe(path, "stream=channels,sample_rate,codec_name:stream=duration_ts");
    EXPECT_NE(probe.find("codec_name=pcm_s16be"), std::string::npos) << probe;
    EXPECT_NE(probe.find("sample_rate=48000"), std::string::npos) << probe;
    EXPECT_NE(probe.find("channels=1"), std::string::npos) << probe;
}

TEST(OutputModules, OddDataGetsAPadByte)
{
    // 8-bit mono with an odd frame count.
    std::string path = WorkDir("aiff_odd") + "/temp.aiff";
    AudioStats stats;
    int r = 0;
    ASSERT_EQ(Init(OutputModuleAiff, path), 0);
    Config(OutputModuleAiff, 1, 22050, 8, &r);
    ASSERT_EQ(r, 0);
    ASSERT_EQ(Play(OutputModuleAiff, Ramp(101), nullptr, &stats), 0);
    ASSERT_EQ(Finish(OutputModuleAiff), 0);
    mp2_test::Aiff a = ReadAiff(path);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.bits, 8u);
    EXPECT_EQ(a.soundSize, 8u + 101u); // the pad is not in the chunk
    EXPECT_EQ(a.fileSize, 54u + 102u);
    EXPECT_EQ(a.formSize, a.fileSize - 8); // but is in the form
    EXPECT_EQ(ReadFile(path).back(), 0);
    EXPECT_NE(Probe(path, "stream=codec_name").find("pcm_s8"), std::string::npos);
}

TEST(OutputModules, WaveMirrorsAiffLittleEndian)
{
    std::string path = WorkDir("wave") + "/out.wav";
    AudioStats stats;
    int r = 0;
    ASSERT_EQ(Init(OutputModuleWave, path), 0);
    Config(OutputModuleWave, 2, 32000, 0, &r);
    ASSERT_EQ(r, 0);
    std::vector<mad_fixed_t> left = Ramp(300);
    std::vector<mad_fixed_t> right(300, kFixedOne / 2);
    ASSERT_EQ(Play(OutputModuleWave, left, &right, &stats), 0);
    ASSERT_EQ(Finish(OutputModuleWave), 0);
    std::vector<uint8_t> d = ReadFile(path);
    ASSERT_EQ(d.size(), 44u + 1200u);
    auto le32 = [&](size_t at) {
        return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16
               | uint32_t(d[at + 3]) << 24;
    };
    EXPECT_EQ(std::memcmp(d.data(), "RIFF", 4), 0);
    EXPECT_EQ(le32(4), d.size() - 8);
    EXPECT_EQ(std::memcmp(d.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(le32(16), 16u);
    EXPECT_EQ(le32(24), 32000u);
    EXPECT_EQ(le32(28), 32000u * 4);
    EXPECT_EQ(std::memcmp(d.data() + 36, "data", 4), 0);
    EXPECT_EQ(le32(40), 1200u);
    EXPECT_EQ(d[46], 0x00); // right channel 0.5 = 0x4000, little-endian
    EXPECT_EQ(d[47], 0x40);
    std::string probe = Probe(path, "stream=codec_name,channels,sample_rate");
    EXPECT_NE(probe.find("pcm_s16le"), std::string::npos) << probe;
    EXPECT_NE(probe.find("sample_rate=32000"), std::string::npos) << probe;
}

TEST(OutputModules, SunAudioRawAndCdda)
{
    std::string dir = WorkDir("others");
    AudioStats stats;
    int r = 0;
    std::vector<mad_fixed_t> left = Ramp(100);

    // Sun audio: 8-bit mu-law, the data size patched.
    ASSERT_EQ(Init(OutputModuleSnd, dir + "/x.au"), 0);
    AudioControl snd = Config(OutputModuleSnd, 1, 8000, 16, &r);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(snd.config.precision, 8u);
    ASSERT_EQ(Play(OutputModuleSnd, left, nullptr, &stats), 0);
    ASSERT_EQ(Finish(OutputModuleSnd), 0);
    std::vector<uint8_t> au = ReadFile(dir + "/x.au");
    ASSERT_EQ(au.size(), 24u + 100u);
    const uint8_t header[24] = {'.', 's', 'n', 'd', 0, 0, 0,    24,   0, 0, 0, 100,
                                0,   0,   0,   1,   0, 0, 0x1F, 0x40, 0, 0, 0, 1};
    EXPECT_EQ(std::memcmp(au.data(), header, 24), 0);
    std::string probe = Probe(dir + "/x.au", "stream=codec_name,sample_rate");
    EXPECT_NE(probe.find("pcm_mulaw"), std::string::npos) << probe;

    // Raw: precision rounded down to whole bytes; 12 bits are 8-bit unsigned.
    ASSERT_EQ(Init(OutputModuleRaw, dir + "/x.raw"), 0);
    AudioControl raw = Config(OutputModuleRaw, 1, 44100, 12, &r);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(raw.config.precision, 8u);
    ASSERT_EQ(Play(OutputModuleRaw, left, nullptr, &stats), 0);
    ASSERT_EQ(Finish(OutputModuleRaw), 0);
    std::vector<uint8_t> pcm = ReadFile(dir + "/x.raw");
    ASSERT_EQ(pcm.size(), 100u);
    EXPECT_EQ(pcm[0], 0x80 - 64);

    // CD audio: always 44100 Hz stereo 16-bit, padded to whole 2352-byte sectors.
    ASSERT_EQ(Init(OutputModuleCdda, dir + "/x.cdr"), 0);
    AudioControl cd = Config(OutputModuleCdda, 1, 48000, 24, &r);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(cd.config.channels, 2u);
    EXPECT_EQ(cd.config.rate, 44100u);
    EXPECT_EQ(cd.config.precision, 16u);
    EXPECT_EQ(Play(OutputModuleCdda, left, nullptr, &stats), -1); // needs a right channel
    ASSERT_EQ(Play(OutputModuleCdda, left, &left, &stats), 0);
    ASSERT_EQ(Finish(OutputModuleCdda), 0);
    EXPECT_EQ(ReadFile(dir + "/x.cdr").size(), 2352u);
}

TEST(OutputModules, FailuresLeaveTheirReason)
{
    std::string missing = WorkDir("fail") + "/no/such/folder/temp.aiff";
    for (OutputModule m :
         {OutputModuleAiff, OutputModuleWave, OutputModuleSnd, OutputModuleRaw, OutputModuleCdda}) {
        EXPECT_EQ(Init(m, missing), -1);
        EXPECT_STREQ(gAudioError, ":");
    }
    AudioControl c;
    InitAudioControl(&c, kAudioInit);
    EXPECT_EQ(OutputModuleWaveOut(&c), -1);
    EXPECT_NE(gAudioError[0], '\0');
    // A full device: the write fails and says so.
    if (FILE *probe = std::fopen("/dev/full", "wb")) {
        std::fclose(probe);
        AudioStats stats;
        int r = 0;
        ASSERT_EQ(Init(OutputModuleAiff, "/dev/full"), 0);
        Config(OutputModuleAiff, 2, 48000, 16, &r);
        std::vector<mad_fixed_t> big = Ramp(20000);
        int played = Play(OutputModuleAiff, big, &big, &stats);
        int finished = Finish(OutputModuleAiff);
        EXPECT_TRUE(r == -1 || played == -1 || finished == -1);
        EXPECT_EQ(gAudioError[0], ':');
    }
}

} // namespace
