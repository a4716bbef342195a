// Sound, time code and source rates through the application: sound the output cannot take as
// stored comes out as ffmpeg decodes it, a transport stream's sound keeps its offset to the
// picture, DV time code is the same from every container, and a source rate is either converted
// with its beeps on their flashes or refused.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

std::string SoundFixture(const std::string &name)
{
    static const std::string dir = FixtureFolder("e2e_sound_make_fixtures.sh", "e2e_sound");
    return dir + "/" + name;
}

// The file name with another extension: where a batch leaves its result.
std::string BatchResult(const std::string &dir, const std::string &source, const char *ext)
{
    std::string name = source.substr(source.rfind('/') + 1);
    return dir + "/" + name.substr(0, name.rfind('.') + 1) + ext;
}

// ffmpeg's decode of the source's sound as the movie plays it from time 0 (silence before a late
// start), as 48 kHz 16-bit stereo.
std::vector<int16_t> PlayedSound(const std::string &path)
{
    std::string out;
    EXPECT_TRUE(Run({"ffmpeg", "-v", "error", "-i", path, "-map", "0:a:0", "-af",
                     "aresample=async=1:first_pts=0", "-ar", "48000", "-ac", "2", "-f", "s16le",
                     "-c:a", "pcm_s16le", "-"},
                    &out));
    std::vector<int16_t> s(out.size() / 2);
    std::memcpy(s.data(), out.data(), s.size() * 2);
    return s;
}

// The beeps of a source, in seconds from its first picture (a stream's sound may start before or
// after its picture).
std::vector<double> BeepsAgainstPicture(const std::string &source)
{
    const double audioStart = std::stod(Str(Probe(source, "a:0"), "start_time"));
    const double videoStart = std::stod(Str(Probe(source, "v:0"), "start_time"));
    std::vector<double> beeps = BeepTimes(source);
    for (double &t : beeps) {
        t += audioStart - videoStart;
    }
    return beeps;
}

double SnrDb(const std::vector<int16_t> &ref, const std::vector<int16_t> &got)
{
    const size_t n = std::min(ref.size(), got.size());
    double signal = 0, noise = 0;
    for (size_t i = 0; i < n; ++i) {
        const double r = ref[i], e = double(got[i]) - r;
        signal += r * r;
        noise += e * e;
    }
    return noise == 0 ? 200.0 : 10 * std::log10(signal / noise);
}

// ---- Sound the output cannot take as stored (PAL sources, whose sound is copied unchanged) ----

struct SoundCase
{
    const char *source;
    int quickTime;   // "Always Make Quicktime"
    double minSnrDb; // against ffmpeg's decode; 200: the same samples
};

void PrintTo(const SoundCase &c, std::ostream *os)
{
    *os << c.source << (c.quickTime ? " to QuickTime" : " to AVI");
}

class SoundFormats : public RunnerTest, public ::testing::WithParamInterface<SoundCase>
{
};

TEST_P(SoundFormats, OutputSoundIsTheSourceAsFfmpegDecodesIt)
{
    const SoundCase &c = GetParam();
    options.alwaysMakeQuickTime = c.quickTime;
    const std::string source = SoundFixture(c.source);
    const RunnerResult r = RunApp({"--codec", "dvc ", source});
    ASSERT_EQ(r.output, OutputPath(c.quickTime ? "newmovie.mov" : "newmovie.avi")) << r.text;
    EXPECT_TRUE(r.Shown("Processing completed OK")) << r.text;
    const Fields a = Probe(r.output, "a:0");
    EXPECT_EQ(Str(a, "codec_name"), "pcm_s16le");
    EXPECT_EQ(Int(a, "sample_rate"), 48000);
    EXPECT_EQ(Int(a, "channels"), 2);
    EXPECT_TRUE(DecodesClean(r.output));

    const std::vector<int16_t> ref = PlayedSound(source);
    const std::vector<int16_t> got = SoundSamples(r.output);
    ASSERT_FALSE(ref.empty());
    // The same length within one source frame (ffmpeg keeps the whole last packet of AAC).
    EXPECT_NEAR(double(got.size()) / 2, double(ref.size()) / 2, 48000 / 25) << r.text;
    EXPECT_GE(SnrDb(ref, got), c.minSnrDb);
}

INSTANTIATE_TEST_SUITE_P(
    E2e, SoundFormats,
    ::testing::Values(SoundCase{"e2e_snd_aac.mov", 0, 200}, SoundCase{"e2e_snd_aac.mov", 1, 200},
                      SoundCase{"e2e_snd_aac44.mov", 0, 75}, SoundCase{"e2e_snd_in24.mov", 0, 200},
                      SoundCase{"e2e_snd_in24.mov", 1, 200}, SoundCase{"e2e_snd_lpcm2.mov", 1, 200},
                      SoundCase{"e2e_snd_edit.mov", 0, 200}),
    [](const auto &param) {
        std::string n = param.param.source;
        n = n.substr(8, n.size() - 12); // e2e_snd_X.mov
        return n + (param.param.quickTime ? "_mov" : "_avi");
    });

// ---- A transport stream's sound offset ------------------------------------------------------

struct OffsetCase
{
    const char *source;
    double speed;  // how much faster the output plays the source: 1001/960 for the 25P pass
    int quickTime; // "Always Make Quicktime": the sound track's own silence and skip
};

void PrintTo(const OffsetCase &c, std::ostream *os)
{
    *os << c.source << (c.quickTime ? " to QuickTime" : " to AVI");
}

class StreamSoundOffset : public RunnerTest, public ::testing::WithParamInterface<OffsetCase>
{
};

TEST_P(StreamSoundOffset, BurstWhereThePictureHadIt)
{
    const OffsetCase &c = GetParam();
    options.alwaysMakeQuickTime = c.quickTime;
    const std::string source = SoundFixture(c.source);
    const RunnerResult r = RunApp({"--batch", source});
    ASSERT_EQ(r.output, BatchResult(dir_, source, c.quickTime ? "mov" : "avi")) << r.text;
    EXPECT_TRUE(r.Shown("Batch processing completed OK")) << r.text;
    // Where the burst plays against the first picture, in the source and in the output.
    const std::vector<double> in = BeepsAgainstPicture(source);
    const std::vector<double> out = BeepTimes(r.output);
    ASSERT_EQ(in.size(), 1u);
    ASSERT_EQ(out.size(), 1u) << r.text;
    EXPECT_NEAR(out[0], in[0] / c.speed, 0.001);
}

INSTANTIATE_TEST_SUITE_P(E2e, StreamSoundOffset,
                         ::testing::Values(OffsetCase{"e2e_ts_pal_late.ts", 1.0, 0},
                                           OffsetCase{"e2e_ts_pal_early.ts", 1.0, 0},
                                           OffsetCase{"e2e_ts_ntsc_late.ts", 1001.0 / 960, 0},
                                           OffsetCase{"e2e_ts_ntsc_early.ts", 1001.0 / 960, 0},
                                           OffsetCase{"e2e_ts_pal_later.ts", 1.0, 0},
                                           OffsetCase{"e2e_ts_pal_early.ts", 1.0, 1},
                                           OffsetCase{"e2e_ts_ntsc_late.ts", 1001.0 / 960, 1}),
                         [](const auto &param) {
                             std::string n = param.param.source;
                             n = n.substr(7, n.size() - 10); // e2e_ts_X.ts
                             return n + (param.param.quickTime ? "_mov" : "_avi");
                         });

// ---- DV time code ---------------------------------------------------------------------------

class DvTimeCode : public RunnerTest
{
};

TEST_F(DvTimeCode, SameFromEveryContainer)
{
    options.alwaysMakeQuickTime = 1;
    std::vector<std::string> codes;
    for (const char *source : {"e2e_tc.dv", "e2e_tc.mov", "e2e_tc.avi"}) {
        SCOPED_TRACE(source);
        const RunnerResult r = RunApp({SoundFixture(source)});
        ASSERT_EQ(r.output, OutputPath("newmovie.mov")) << r.text;
        const Fields d = Probe(r.output, "d:0");
        EXPECT_EQ(Str(d, "codec_tag_string"), "tmcd");
        codes.push_back(Str(d, "TAG:timecode"));
    }
    // 01:02:03;04 at 30 frames a second is frame 3 of 24 at 25P.
    ASSERT_EQ(codes[0].size(), 11u);
    EXPECT_EQ(codes[0].substr(0, 8), "01:02:03");
    EXPECT_EQ(codes[0].substr(9), "03");
    EXPECT_EQ(codes[1], codes[0]);
    EXPECT_EQ(codes[2], codes[0]);
}

// ---- Source rates ---------------------------------------------------------------------------

struct RateCase
{
    const char *source;
    const char *refusedAs; // the rate as the refusal names it; null: converted
};

void PrintTo(const RateCase &c, std::ostream *os)
{
    *os << c.source;
}

class SourceRates : public RunnerTest, public ::testing::WithParamInterface<RateCase>
{
};

TEST_P(SourceRates, ConvertedInSyncOrRefused)
{
    const RateCase &c = GetParam();
    const std::string source = SoundFixture(c.source);
    const RunnerResult r = RunApp({"--batch", source});
    if (c.refusedAs) {
        EXPECT_TRUE(r.Shown(std::string("The movie runs at ") + c.refusedAs
                            + " frames/s and cannot be converted:\nonly 25, 29.97 and 30 "
                              "frames/s movies can be processed."))
            << r.text;
        EXPECT_TRUE(r.Shown("Batch processing completed with errors")) << r.text;
        EXPECT_EQ(r.output, "");
        return;
    }
    ASSERT_EQ(r.output, BatchResult(dir_, source, "avi")) << r.text;
    EXPECT_TRUE(r.Shown("Batch processing completed OK")) << r.text;
    const Fields v = Probe(r.output, "v:0");
    EXPECT_EQ(Str(v, "r_frame_rate"), "25/1");
    // Six seconds of source: 180 frames become 144.
    EXPECT_EQ(Int(v, "nb_read_frames"), 144);
    // A flash and a beep each second, together from the first to the last.
    const double rate = VideoRate(r.output);
    const std::vector<int> flashes = FlashFrames(r.output);
    const std::vector<double> beeps = BeepTimes(r.output);
    ASSERT_EQ(flashes.size(), 6u);
    ASSERT_EQ(beeps.size(), 6u);
    for (size_t i = 0; i < flashes.size(); ++i) {
        EXPECT_NEAR(beeps[i], flashes[i] / rate, 1.0 / rate) << "flash " << i;
    }
    // And each beep where its source beep was, the picture having been sped up by 1000 / 960
    // (five frames of 1/30 s play as four of 1/25 s): sound retimed as if from 29.97 frames/s
    // lies 1 ms further off each second. (A stream's offset to its picture is whole ms.)
    const std::vector<double> in = BeepsAgainstPicture(source);
    ASSERT_EQ(in.size(), beeps.size());
    for (size_t i = 0; i < beeps.size(); ++i) {
        EXPECT_NEAR(beeps[i], in[i] * 960 / 1000, 0.002) << "beep " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    E2e, SourceRates,
    ::testing::Values(RateCase{"e2e_rate_30.mov", nullptr}, RateCase{"e2e_rate_30.ts", nullptr},
                      RateCase{"e2e_rate_2398.mov", "23.976"},
                      RateCase{"e2e_rate_2398.ts", "23.976"}, RateCase{"e2e_rate_50.mov", "50"},
                      RateCase{"e2e_rate_50.ts", "50"}, RateCase{"e2e_rate_5994.mov", "59.94"},
                      RateCase{"e2e_rate_5994.ts", "59.94"}),
    [](const auto &param) {
        std::string n = param.param.source;
        n = n.substr(9); // e2e_rate_X.ext
        n[n.find('.')] = '_';
        return n;
    });

} // namespace
} // namespace e2e
