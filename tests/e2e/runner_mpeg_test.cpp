// MPEG-2 streams converted through the application (the headless runner): every picture and
// group to the end of a stream that is not padded, the sound of transport streams and of LPCM
// against ffmpeg's decode of the source, and the refusal of a transport stream whose video is not
// where the system reads it.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

std::string StreamFixture(const std::string &name)
{
    static const std::string dir = FixtureFolder("runner_mpeg_make_fixtures.sh", "runner_mpeg");
    return dir + "/" + name;
}

// ffmpeg's decode of a source's sound, made with the fixtures: 16-bit stereo samples.
std::vector<int16_t> ReferenceSound(const std::string &name)
{
    std::ifstream f(StreamFixture(name), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<int16_t> v(bytes.size() / 2);
    for (size_t i = 0; i < v.size(); ++i) {
        v[i] = int16_t(uint8_t(bytes[2 * i]) | uint8_t(bytes[2 * i + 1]) << 8);
    }
    return v;
}

// Stereo sample frames of one output frame at 29.97.
constexpr size_t kNtscFrameSamples = 1602;

size_t FrameDifference(const std::vector<int16_t> &a, const std::vector<int16_t> &b)
{
    return a.size() > b.size() ? (a.size() - b.size()) / 2 : (b.size() - a.size()) / 2;
}

class RunnerMpeg : public RunnerTest
{
protected:
    // Converts one movie through the batch list to DV AVI; the result takes the source's name.
    RunnerResult Convert(const std::string &name)
    {
        result_ = OutputPath(name.substr(0, name.rfind('.')) + ".avi");
        return RunApp({"--batch", StreamFixture(name)});
    }
    const std::string &Result() const { return result_; }

    std::string result_;
};

int WorstDifference(const std::vector<int16_t> &a, const std::vector<int16_t> &b)
{
    int worst = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    }
    return worst;
}

class TransportStreamSound : public RunnerMpeg, public ::testing::WithParamInterface<const char *>
{
};

// 25 PAL pictures in whole groups of five give 30 NTSC frames, and the sound is ffmpeg's decode
// of the stream's from its first sample on, for every group: Layer II on a PID below the video's
// with one frame per PES packet, joint stereo above the video in PES packets that split frames
// beside packets with a damaged adaptation field, Layer I, and Layer III one frame per packet.
TEST_P(TransportStreamSound, PicturesAndSoundToTheEnd)
{
    const std::string name = GetParam();
    RunnerResult r = Convert(name + ".ts");
    ASSERT_TRUE(r.exitedOk) << r.text;
    ASSERT_EQ(r.output, Result()) << r.text;
    Fields v = Probe(Result(), "v:0");
    EXPECT_EQ(Int(v, "nb_read_frames"), 30) << r.text;
    EXPECT_EQ(Int(v, "height"), 480);
    Fields a = Probe(Result(), "a:0");
    EXPECT_EQ(Int(a, "sample_rate"), 48000);
    EXPECT_EQ(Int(a, "channels"), 2);
    const std::vector<int16_t> got = SoundSamples(Result());
    const std::vector<int16_t> want = ReferenceSound(name + ".s16le");
    ASSERT_FALSE(want.empty());
    EXPECT_LE(FrameDifference(got, want), kNtscFrameSamples);
    // libmad's fixed point and dither against ffmpeg's decoder.
    EXPECT_LE(WorstDifference(got, want), 4);
}

INSTANTIATE_TEST_SUITE_P(E2e, TransportStreamSound,
                         ::testing::Values("runner_pal_below", "runner_pal_joint_split",
                                           "runner_pal_layer1", "runner_pal_mp3"),
                         [](const auto &param) { return std::string(param.param).substr(11); });

// AAC in a transport stream is not MPEG audio, though it comes in the same PES packets: the
// movie is made without sound, with a warning, never with what the MPEG audio decoder makes of it.
TEST_F(RunnerMpeg, TransportStreamAacIsLeftOutWithAWarning)
{
    RunnerResult r = RunApp({StreamFixture("runner_pal_aac.ts")});
    ASSERT_TRUE(r.exitedOk) << r.text;
    EXPECT_THAT(r.messages, Contains("Warning: No Audio track found\nPress OK to continue."));
    EXPECT_TRUE(r.Shown("Processing completed OK")) << r.text;
    ASSERT_NE(r.output, "");
    EXPECT_EQ(Int(Probe(r.output, "v:0"), "nb_read_frames"), 30) << r.text;
    EXPECT_EQ(SoundSamples(r.output), std::vector<int16_t>{});
}

// LPCM of every depth reaches the output as 16-bit sound, ffmpeg's decode of the source reduced
// to 16 bits, from its first sample to its end.
TEST_F(RunnerMpeg, LpcmSoundOfEveryDepth)
{
    for (const char *bits : {"16", "20", "24"}) {
        SCOPED_TRACE(bits);
        RunnerResult r = Convert(std::string("runner_lpcm") + bits + ".vob");
        ASSERT_TRUE(r.exitedOk) << r.text;
        ASSERT_EQ(r.output, Result()) << r.text;
        EXPECT_EQ(Int(Probe(Result(), "v:0"), "nb_read_frames"), 30) << r.text;
        const std::vector<int16_t> got = SoundSamples(Result());
        const std::vector<int16_t> want =
            ReferenceSound(std::string("runner_lpcm") + bits + ".s16le");
        ASSERT_FALSE(want.empty());
        EXPECT_LE(FrameDifference(got, want), kNtscFrameSamples);
        EXPECT_EQ(WorstDifference(got, want), 0);
    }
}

// A VOB with AC-3 and LPCM: the output's sound is the AC-3 track that starts first, not both
// interleaved; the LPCM is kept in "decode.wav".
TEST_F(RunnerMpeg, VobWithAc3AndLpcmGivesOneSound)
{
    RunnerResult r = Convert("runner_ac3_lpcm.vob");
    ASSERT_TRUE(r.exitedOk) << r.text;
    ASSERT_EQ(r.output, Result()) << r.text;
    EXPECT_EQ(Int(Probe(Result(), "v:0"), "nb_read_frames"), 30) << r.text;
    const std::vector<int16_t> got = SoundSamples(Result());
    const std::vector<int16_t> ac3 = ReferenceSound("runner_ac3_lpcm.ac3.s16le");
    ASSERT_FALSE(ac3.empty());
    EXPECT_LE(FrameDifference(got, ac3), kNtscFrameSamples);
    double signal = 0, noise = 0;
    for (size_t i = 0; i < got.size() && i < ac3.size(); ++i) {
        const double d = double(got[i]) - double(ac3[i]);
        signal += double(ac3[i]) * double(ac3[i]);
        noise += d * d;
    }
    // The AC-3 decoder against ffmpeg's reaches 87 dB.
    EXPECT_GE(noise == 0 ? 99.0 : 10.0 * std::log10(signal / noise), 80.0);
    const std::vector<int16_t> wav = SoundSamples(OutputPath("decode.wav"));
    EXPECT_EQ(wav, ReferenceSound("runner_ac3_lpcm.lpcm.s16le"));
}

// LPCM the output cannot take (mono, 96 kHz) is refused with a warning: the movie is made
// without it, never with noise.
TEST_F(RunnerMpeg, LpcmOfAnotherLayoutIsRefusedWithAWarning)
{
    for (const char *name : {"runner_lpcm_mono.vob", "runner_lpcm96.vob"}) {
        SCOPED_TRACE(name);
        RunnerResult r = RunApp({StreamFixture(name)});
        ASSERT_TRUE(r.exitedOk) << r.text;
        EXPECT_THAT(r.messages,
                    Contains("Warning: LPCM audio in VOB file must be 48KHz Stereo,\n"
                             "output soundtrack will be silent\nPress OK to continue."));
        ASSERT_NE(r.output, "");
        EXPECT_EQ(Int(Probe(r.output, "v:0"), "nb_read_frames"), 30) << r.text;
        EXPECT_EQ(SoundSamples(r.output), std::vector<int16_t>{});
    }
}

// Film with 3:2 pulldown in 30 interlaced pictures: six groups of five, four 25P frames each, the
// last group as well, and the sound of the six groups with them to the end.
TEST_F(RunnerMpeg, PulldownVobGivesEveryGroup)
{
    options.pulldown32To25P = 1;
    RunnerResult r = Convert("runner_telecine.vob");
    ASSERT_TRUE(r.exitedOk) << r.text;
    ASSERT_EQ(r.output, Result()) << r.text;
    Fields v = Probe(Result(), "v:0");
    EXPECT_EQ(Int(v, "nb_read_frames"), 24) << r.text;
    EXPECT_EQ(Str(v, "r_frame_rate"), "25/1");
    EXPECT_EQ(Int(v, "height"), 576);
    // The sound ends with the picture, within one frame (1920 sample frames at 25 frames/s).
    const double frames = Int(v, "nb_read_frames");
    EXPECT_NEAR(double(SoundSamples(Result()).size()) / 2, frames * 1920, 1920);
}

// The system reads a transport stream's video on PID 0x810 only; ffmpeg puts it on 0x100.
TEST_F(RunnerMpeg, TransportStreamWithItsVideoElsewhereIsRefused)
{
    RunnerResult r = Convert("runner_default_pids.ts");
    EXPECT_FALSE(r.exitedOk);
    EXPECT_THAT(r.messages, Contains("No video found on PID 0x810\nThe video of a transport "
                                     "stream must be on PID 0x810 (2064)"));
    EXPECT_THAT(r.text, Not(HasSubstr("Unexpected values for sample duration")));
    EXPECT_EQ(r.output, "");
}

} // namespace
} // namespace e2e
