#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mp2decode/audio_output.h"
#include "mp2decode/player.h"
#include "mp2decode/transplit.h"
#include "tests/mp2decode/mp2_test_support.h"

namespace {

using mp2_test::CallMain;
using mp2_test::Fixture;
using mp2_test::ReadAiff;
using mp2_test::ReadFile;
using mp2_test::S16Be;
using mp2_test::WorkDir;
using mp2_test::WriteFile;

constexpr unsigned kFrameSamples = 1152;
// libmad's fixed point against ffmpeg's float synthesis, then dither: a few steps apart.
constexpr int kSampleTolerance = 4;
// Two dithered decodes of the same frames: each is within about two steps of the exact value.
constexpr int kDitherPairTolerance = 6;

struct Decoded
{
    int result = -1;
    mp2_test::Aiff aiff;
    std::vector<int16_t> samples;
};

// The converter's call: quiet, AIFF output, the input.
Decoded Decode(const char *name, const std::string &input)
{
    std::string out = WorkDir(name) + "/temp.aiff";
    Decoded d;
    d.result = CallMain(Mp2DecodeMain, {"mp2decode", input, "-Q", "-o", out});
    d.aiff = ReadAiff(out);
    d.samples = S16Be(d.aiff.data.data(), d.aiff.data.size());
    return d;
}

std::vector<int16_t> FfmpegSamples(const char *name)
{
    std::vector<uint8_t> raw = ReadFile(Fixture(name));
    return S16Be(raw.data(), raw.size());
}

int MaxDifference(const std::vector<int16_t> &a, const std::vector<int16_t> &b, size_t stride = 1,
                  size_t offset = 0)
{
    int worst = 0;
    for (size_t i = 0; i < a.size() && (i * stride + offset) < b.size(); ++i) {
        int d = std::abs(int(a[i]) - int(b[i * stride + offset]));
        worst = d > worst ? d : worst;
    }
    return worst;
}

TEST(Mp2Decode, StereoLayerTwoMatchesFfmpeg)
{
    Decoded d = Decode("stereo", Fixture("mp2_stereo.mp2"));
    ASSERT_EQ(d.result, 0);
    ASSERT_TRUE(d.aiff.ok);
    EXPECT_EQ(d.aiff.channels, 2u);
    EXPECT_EQ(d.aiff.bits, 16u);
    const uint8_t rate48k[10] = {0x40, 0x0E, 0xBB, 0x80, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(d.aiff.rate, rate48k, 10), 0);
    EXPECT_EQ(d.aiff.formSize, d.aiff.fileSize - 8);
    std::vector<int16_t> reference = FfmpegSamples("mp2_stereo.s16be");
    ASSERT_EQ(d.samples.size(), reference.size());
    EXPECT_EQ(d.aiff.frames, reference.size() / 2);
    EXPECT_LE(MaxDifference(d.samples, reference), kSampleTolerance);
}

TEST(Mp2Decode, TransportStreamAudioDecodesLikeItsElementaryStream)
{
    std::string dir = WorkDir("ts_chain");
    std::string mp2 = dir + "/temp.mp2";
    ASSERT_NE(CallMain(TransplitMain, {"transplit", Fixture("mp2_av.ts"), mp2}), -1);
    Decoded fromTs = Decode("ts_chain_out", mp2);
    Decoded fromEs = Decode("ts_chain_es", Fixture("mp2_av_audio.mp2"));
    ASSERT_EQ(fromTs.result, 0);
    ASSERT_TRUE(fromTs.aiff.ok);
    // Every frame of the elementary stream.
    size_t frames = ReadFile(Fixture("mp2_av_audio.mp2")).size() / 576;
    EXPECT_EQ(fromTs.aiff.frames, frames * kFrameSamples);
    EXPECT_EQ(fromTs.aiff.frames, fromEs.aiff.frames);
    EXPECT_LE(MaxDifference(fromTs.samples, fromEs.samples), kDitherPairTolerance);
}

// The sample rate of the AIFF header's 80-bit number, for whole rates.
unsigned ExtendedRate(const uint8_t *r)
{
    int exponent = (r[0] << 8 | r[1]) - 16383;
    uint32_t mantissa = uint32_t(r[2]) << 24 | uint32_t(r[3]) << 16 | uint32_t(r[4]) << 8 | r[5];
    return exponent >= 0 && exponent < 32 ? mantissa >> (31 - exponent) : 0;
}

struct TsSoundCase
{
    const char *name; // NAME.ts, NAME.es and NAME.s16be of mp2_make_fixtures.sh
    int audioPid;
    unsigned channels; // of ffmpeg's decode
    unsigned rate;
    bool dual; // dual channel: the first channel alone
};

class TransportStreamSound : public ::testing::TestWithParam<TsSoundCase>
{
};

// The extractor copies out the elementary stream, and its decode is ffmpeg's decode of the
// stream's audio: sample for sample from the first, within a few steps.
TEST_P(TransportStreamSound, ExtractedAndDecodedAsFfmpegDecodesIt)
{
    const TsSoundCase &c = GetParam();
    const std::string name = c.name;
    std::string mp2 = WorkDir(c.name) + "/temp.mp2";
    ASSERT_NE(CallMain(TransplitMain, {"transplit", Fixture((name + ".ts").c_str()), mp2}), -1);
    EXPECT_EQ(gTransplitState.audioPid, c.audioPid);
    EXPECT_EQ(ReadFile(mp2), ReadFile(Fixture((name + ".es").c_str())));
    Decoded d = Decode((name + "_aiff").c_str(), mp2);
    ASSERT_EQ(d.result, 0);
    ASSERT_TRUE(d.aiff.ok);
    EXPECT_EQ(d.aiff.channels, c.dual ? 1 : c.channels);
    EXPECT_EQ(ExtendedRate(d.aiff.rate), c.rate);
    std::vector<int16_t> reference = FfmpegSamples((name + ".s16be").c_str());
    ASSERT_FALSE(reference.empty());
    if (c.dual) {
        ASSERT_EQ(d.samples.size() * 2, reference.size());
        EXPECT_LE(MaxDifference(d.samples, reference, 2, 0), kSampleTolerance);
    } else {
        ASSERT_EQ(d.samples.size(), reference.size());
        EXPECT_LE(MaxDifference(d.samples, reference), kSampleTolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TransportStreamSound,
    ::testing::Values(TsSoundCase{"ts_48k_stereo", 0x811, 2, 48000, false},
                      TsSoundCase{"ts_44k_mono_onepes", 0x811, 1, 44100, false},
                      TsSoundCase{"ts_32k_stereo_pes64", 0x811, 2, 32000, false},
                      TsSoundCase{"ts_48k_joint_below", 0x100, 2, 48000, false},
                      TsSoundCase{"ts_48k_dual_onepes", 0x100, 2, 48000, true},
                      TsSoundCase{"ts_mp3", 0x811, 2, 48000, false},
                      TsSoundCase{"ts_split_bad", 0x100, 2, 48000, false},
                      TsSoundCase{"ts_layer1", 0x100, 2, 48000, false}),
    [](const auto &param) { return std::string(param.param.name).substr(3); });

TEST(Mp2Decode, ChannelLayouts)
{
    // Mono stays mono.
    Decoded mono = Decode("mono", Fixture("mp2_mono.mp2"));
    ASSERT_EQ(mono.result, 0);
    EXPECT_EQ(mono.aiff.channels, 1u);
    EXPECT_EQ(mono.aiff.soundSize, 8 + mono.aiff.frames * 2);
    // Dual channel gives a mono file of the first channel.
    Decoded dual = Decode("dual", Fixture("mp2_dual.mp2"));
    ASSERT_EQ(dual.result, 0);
    EXPECT_EQ(dual.aiff.channels, 1u);
    std::vector<int16_t> reference = FfmpegSamples("mp2_stereo.s16be");
    ASSERT_EQ(dual.samples.size() * 2, reference.size());
    EXPECT_LE(MaxDifference(dual.samples, reference, 2, 0), kSampleTolerance);
    EXPECT_GT(MaxDifference(dual.samples, reference, 2, 1), 1000); // not the second channel
}

TEST(Mp2Decode, CdAudioResamplesAndForcesStereo)
{
    // The CD module takes only 44100 Hz stereo: the mono 48 kHz tone is resampled and doubled.
    // Both sides are dithered alike only from equal dither states, which earlier runs in this
    // process have moved apart.
    gLeftDither = AudioDither{};
    gRightDither = AudioDither{};
    std::string out = WorkDir("cdda") + "/out.cdr";
    ASSERT_EQ(CallMain(Mp2DecodeMain, {"mp2decode", "-Q", "-o", out, Fixture("mp2_mono.mp2")}), 0);
    std::vector<uint8_t> raw = ReadFile(out);
    ASSERT_EQ(raw.size() % 2352, 0u);
    size_t frames = raw.size() / 4;
    size_t expected = size_t(42) * kFrameSamples * 44100 / 48000;
    EXPECT_GE(frames, expected - 2);
    EXPECT_LT(frames, expected + 588 + 2);
    std::vector<int16_t> s = S16Be(raw.data(), raw.size());
    // Rising zero crossings of the left channel: a 1 kHz tone. The encoder's delay leaves
    // dithered silence at the start, which is passed over. Each channel has its own dither, so
    // the two copies differ by its noise alone.
    long first = -1;
    long last = -1;
    long crossings = 0;
    for (size_t i = 2000; i < 40000; ++i) {
        EXPECT_LE(std::abs(s[2 * i] - s[2 * i + 1]), kDitherPairTolerance) << i;
        if (s[2 * (i - 1)] < 0 && s[2 * i] >= 0) {
            first = first < 0 ? long(i) : first;
            last = long(i);
            ++crossings;
        }
    }
    ASSERT_GT(crossings, 100);
    EXPECT_NEAR(double(crossings - 1) * 44100 / double(last - first), 1000.0, 2.0);
}

TEST(Mp2Decode, XingFrameIsNotPlayed)
{
    Decoded d = Decode("xing", Fixture("mp2_xing.mp3"));
    ASSERT_EQ(d.result, 0);
    std::vector<uint8_t> text = ReadFile(Fixture("mp2_xing.frames"));
    unsigned long frames = std::strtoul(std::string(text.begin(), text.end()).c_str(), nullptr, 10);
    ASSERT_GT(frames, 10u);
    EXPECT_EQ(d.aiff.frames, frames * kFrameSamples);
}

TEST(Mp2Decode, DamagedAndHostileInputs)
{
    struct Case
    {
        const char *name;
        std::string input;
        int result;
        uint32_t frames;
    } cases[] = {
        // An ID3v2 tag in front is skipped on lost sync.
        {"id3", Fixture("mp2_id3.mp2"), 0, 42 * kFrameSamples},
        // A tag claiming 256 MB swallows the rest of the file, nothing more.
        {"hugeid3", Fixture("mp2_hugeid3.mp2"), 0, 0},
        // Cut inside the 21st frame: the partial frame is dropped.
        {"cut", Fixture("mp2_cut.mp2"), 0, 20 * kFrameSamples},
        // Missing input: a failure, but the AIFF header is completed.
        {"missing", WorkDir("missing") + "/none.mp2", 4, 0},
    };
    for (const Case &c : cases) {
        Decoded d = Decode(c.name, c.input);
        EXPECT_EQ(d.result, c.result) << c.name;
        ASSERT_TRUE(d.aiff.ok) << c.name;
        EXPECT_EQ(d.aiff.frames, c.frames) << c.name;
    }
    // Garbage, and PES-like junk: no frames, an empty but valid file.
    std::string dir = WorkDir("garbage");
    std::vector<uint8_t> junk(30000);
    for (size_t i = 0; i < junk.size(); ++i) {
        junk[i] = uint8_t((i * 2654435761u) >> 13);
    }
    WriteFile(dir + "/junk.mp2", junk);
    WriteFile(dir + "/empty.mp2", {});
    for (const char *name : {"junk.mp2", "empty.mp2"}) {
        Decoded d = Decode("garbage_out", dir + "/" + name);
        EXPECT_EQ(d.result, 0) << name;
        ASSERT_TRUE(d.aiff.ok) << name;
        EXPECT_EQ(d.aiff.fileSize, 54u + (d.aiff.soundSize - 8) + ((d.aiff.soundSize - 8) & 1));
    }
}

// plain with piece put in at byte `at`. Built in one sized buffer: inserts into a vector of a
// size GCC knows make it warn of a copy out of bounds that cannot happen.
std::vector<uint8_t> Spliced(const std::vector<uint8_t> &plain, size_t at,
                             const std::vector<uint8_t> &piece)
{
    std::vector<uint8_t> out(plain.size() + piece.size());
    std::copy(plain.begin(), plain.begin() + long(at), out.begin());
    std::copy(piece.begin(), piece.end(), out.begin() + long(at));
    std::copy(plain.begin() + long(at), plain.end(), out.begin() + long(at + piece.size()));
    return out;
}

TEST(Mp2Decode, TagsAreShownWhenNotQuiet)
{
    // A tag in front of the file, and one between the frames of a file without one.
    std::vector<uint8_t> plain = ReadFile(Fixture("mp2_stereo.mp2"));
    std::vector<uint8_t> front = ReadFile(Fixture("mp2_id3.mp2"));
    std::vector<uint8_t> tag(front.begin(), front.end() - long(plain.size()));
    std::vector<uint8_t> middle = Spliced(plain, 576 * 5, tag);
    std::string dir = WorkDir("tags");
    WriteFile(dir + "/middle.mp2", middle);
    for (const std::string &input : {Fixture("mp2_id3.mp2"), dir + "/middle.mp2"}) {
        testing::internal::CaptureStderr();
        int result = CallMain(Mp2DecodeMain, {"mp2decode", "-o", dir + "/out.aiff", input});
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, 0);
        EXPECT_NE(err.find("Title: Tone"), std::string::npos) << err;
        EXPECT_NE(err.find("42 frames decoded"), std::string::npos) << err;
        EXPECT_EQ(ReadAiff(dir + "/out.aiff").frames, 42 * kFrameSamples);
    }
}

TEST(Mp2Decode, HugeTagInsideTheStreamIsNotAllocated)
{
    // Shown tags are read whole; one that claims more than the file holds is skipped unread.
    std::vector<uint8_t> plain = ReadFile(Fixture("mp2_stereo.mp2"));
    const std::vector<uint8_t> huge = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    std::vector<uint8_t> input = Spliced(plain, 576 * 5, huge);
    std::string dir = WorkDir("huge_shown");
    WriteFile(dir + "/in.mp2", input);
    testing::internal::CaptureStderr();
    int result = CallMain(Mp2DecodeMain, {"mp2decode", "-o", dir + "/out.aiff", dir + "/in.mp2"});
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 0);
    EXPECT_NE(err.find("EOF while reading tag data"), std::string::npos) << err;
    EXPECT_EQ(ReadAiff(dir + "/out.aiff").frames, 5 * kFrameSamples);
}

TEST(Mp2Decode, SecondOfTwoBadCrcFramesIsMuted)
{
    Decoded d = Decode("badcrc", Fixture("mp2_badcrc.mp2"));
    ASSERT_EQ(d.result, 0);
    ASSERT_EQ(d.aiff.frames, 42 * kFrameSamples);
    auto peak = [&](size_t frame, size_t from) {
        int worst = 0;
        for (size_t i = frame * kFrameSamples + from; i < (frame + 1) * kFrameSamples; ++i) {
            worst = std::max(
                {worst, std::abs(int(d.samples[2 * i])), std::abs(int(d.samples[2 * i + 1]))});
        }
        return worst;
    };
    EXPECT_GT(peak(9, 0), 10000);
    // The synthesis filter rings out over the first samples of the muted frame; then only the
    // dither is left.
    EXPECT_LE(peak(11, 600), 8);
    EXPECT_GT(peak(13, 0), 10000);
}

TEST(Mp2Decode, ArgumentsAreScannedGnuStyle)
{
    std::string dir = WorkDir("arguments");
    std::string in = Fixture("mp2_mono.mp2");
    std::string out = dir + "/x.aiff";
    // Options after the path, fewer or more arguments than the converter passes: the path is
    // the first argument left after the options.
    const std::vector<std::vector<std::string>> forms = {
        {"mp2decode", "-o", out, in},
        {"mp2decode", "-Q", "-q", "-Q", "-o", out, in},
        {"mp2decode", in, "-o", out, "-Q"},
        {"mp2decode", "--very-quiet", "--output", out, in},
    };
    for (const auto &form : forms) {
        ASSERT_EQ(CallMain(Mp2DecodeMain, form), 0) << form.size();
        mp2_test::Aiff a = ReadAiff(out);
        ASSERT_TRUE(a.ok);
        EXPECT_EQ(a.channels, 1u);
        EXPECT_GT(a.frames, 0u);
    }
    // No -o: the live output, which this system lacks, fails the run.
    EXPECT_EQ(CallMain(Mp2DecodeMain, {"mp2decode", "-Q", in}), 4);
}

// The decoder runs inside the converter: a bad command line returns its code and the process
// (and the next run) goes on.
TEST(Mp2DecodeMainTest, UnusableCommandLinesReturnTheirCode)
{
    std::string in = Fixture("mp2_mono.mp2");
    std::string dir = WorkDir("badline");
    struct Case
    {
        std::vector<std::string> args;
        int result;
        const char *message;
    } cases[] = {
        {{"mp2decode", "-o", dir + "/x.null", in},
         kMp2DecodeBadOutput,
         "unknown output format type for \""},
        {{"mp2decode", "-o", dir + "/a.aiff", "-o", dir + "/b.wav", in},
         kMp2DecodeBadOutput,
         "multiple output destinations not supported"},
        {{"mp2decode", "-Q", "-o", dir + "/a.aiff"}, kMp2DecodeNoInput, ""},
    };
    for (const Case &c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(CallMain(Mp2DecodeMain, c.args), c.result) << c.args[2];
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
    // A good call after them still decodes.
    std::string out = dir + "/after.aiff";
    ASSERT_EQ(CallMain(Mp2DecodeMain, {"mp2decode", "-Q", "-o", out, in}), 0);
    EXPECT_TRUE(ReadAiff(out).ok);
}

} // namespace
