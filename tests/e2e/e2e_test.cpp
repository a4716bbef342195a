// Movies converted from end to end: sources made by ffmpeg, outputs checked with ffprobe.

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/conversion_options.h"
#include "passes/conversion_state.h"
#include "passes/process_control.h"
#include "passes/ui_hooks.h"
#include "platform/media/standard_compression.h"
#include "platform/sys/file.h"
#include "tests/e2e/e2e_inprocess.h"

namespace e2e {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

int Int(const std::map<std::string, std::string> &p, const char *key)
{
    auto it = p.find(key);
    return it == p.end() ? -1 : std::atoi(it->second.c_str());
}
std::string Str(const std::map<std::string, std::string> &p, const char *key)
{
    auto it = p.find(key);
    return it == p.end() ? std::string() : it->second;
}

// Sound retimed from 29.97 to 25 frames/s keeps 960 of every 1001 samples.
int64_t Retimed(int64_t sourceFrames)
{
    return sourceFrames * 960 / 1001;
}

using E2e = E2eTest;

class NtscDv : public E2eTest, public ::testing::WithParamInterface<const char *>
{
};

// A movie (sound copied through the media layer) and a DV AVI file (sound through the AVI reader).
TEST_P(NtscDv, Becomes25pDvAvi)
{
    const char *source = GetParam();
    std::string out = Process(source);
    ASSERT_EQ(out, OutputPath("newmovie.avi"));
    EXPECT_THAT(Texts(), Contains("Processing completed OK"));
    auto v = Probe(out, "v:0");
    EXPECT_EQ(Str(v, "codec_name"), "dvvideo");
    EXPECT_EQ(Int(v, "width"), 720);
    EXPECT_EQ(Int(v, "height"), 576);
    EXPECT_EQ(Str(v, "r_frame_rate"), "25/1");
    EXPECT_EQ(Int(v, "nb_read_frames"), 40); // 10 groups of five
    auto a = Probe(out, "a:0");
    EXPECT_EQ(Int(a, "sample_rate"), 48000);
    EXPECT_EQ(Int(a, "channels"), 2);
    int64_t sourceSound = SoundFrames(Fixture(source));
    EXPECT_NEAR(double(SoundFrames(out)), double(Retimed(sourceSound)), 2.0);
}

INSTANTIATE_TEST_SUITE_P(E2e, NtscDv, ::testing::Values("e2e_ntsc_dv.mov", "e2e_ntsc_dv.avi"));

TEST_F(E2e, AlwaysMakeQuickTimeWritesPalDvMovie)
{
    gConversionOptions.alwaysMakeQuickTime = 1;
    // A side file left beside an older result is removed.
    FILE *side = std::fopen(OutputPath("newmovie.mov.#res").c_str(), "w");
    ASSERT_NE(side, nullptr);
    std::fclose(side);
    std::string out = Process("e2e_ntsc_dv.mov");
    ASSERT_EQ(out, OutputPath("newmovie.mov"));
    EXPECT_NE(access(OutputPath("newmovie.mov.#res").c_str(), F_OK), 0);
    auto v = Probe(out, "v:0");
    EXPECT_EQ(Str(v, "codec_tag_string"), "dvcp");
    EXPECT_EQ(Int(v, "width"), 720);
    EXPECT_EQ(Int(v, "height"), 576);
    EXPECT_EQ(Str(v, "time_base"), "1/2500");
    EXPECT_EQ(Int(v, "nb_read_frames"), 40);
    EXPECT_EQ(Int(v, "duration_ts"), 4000); // samples of 100
    int64_t source = SoundFrames(Fixture("e2e_ntsc_dv.mov"));
    EXPECT_NEAR(double(SoundFrames(out)), double(Retimed(source)), 2.0);
}

TEST_F(E2e, SourceTimeCodeBecomesTimecodeTrack)
{
    gConversionOptions.alwaysMakeQuickTime = 1;
    std::string out = Process("e2e_timecode.mov");
    ASSERT_EQ(out, OutputPath("newmovie.mov"));
    auto d = Probe(out, "d:0");
    EXPECT_EQ(Str(d, "codec_tag_string"), "tmcd");
    EXPECT_EQ(Str(d, "TAG:timecode").substr(0, 8), "01:02:03");
}

struct PalCase
{
    const char *source;
    int output486;
    const char *codec;
    int height;
    int frames;
};

class PalToNtsc : public E2eTest, public ::testing::WithParamInterface<PalCase>
{
};

TEST_P(PalToNtsc, CadenceFramesAndUnchangedSound)
{
    const PalCase &c = GetParam();
    gConversionOptions.output486Lines = c.output486;
    std::string out = Process(c.source);
    ASSERT_EQ(out, OutputPath("newmovie.avi"));
    auto v = Probe(out, "v:0");
    EXPECT_EQ(Str(v, "codec_name"), c.codec);
    EXPECT_EQ(Int(v, "width"), 720);
    EXPECT_EQ(Int(v, "height"), c.height);
    EXPECT_EQ(Str(v, "r_frame_rate"), "2997/100");
    EXPECT_EQ(Int(v, "nb_read_frames"), c.frames);
    // PAL sound is copied as it is.
    EXPECT_EQ(SoundFrames(out), SoundFrames(Fixture(c.source)));
}

INSTANTIATE_TEST_SUITE_P(E2e, PalToNtsc,
                         ::testing::Values(PalCase{"e2e_pal_dv_100.avi", 0, "dvvideo", 480, 120},
                                           PalCase{"e2e_pal_dv.mov", 0, "dvvideo", 480, 120},
                                           PalCase{"e2e_pal_dv_100.avi", 1, "rawvideo", 486, 120}));

// Flat film frames one step of 8 apart: every output frame must be one film frame (no comb of
// two), each the next one.
void ExpectEachFilmFrameOnce(const std::string &out, int expected)
{
    auto frames = GrayFrames(out, 720, 576);
    ASSERT_EQ(int(frames.size()), expected);
    double previous = -1;
    for (size_t i = 0; i < frames.size(); ++i) {
        const std::vector<uint8_t> &f = frames[i];
        double sum = 0, comb = 0;
        for (int y = 8; y < 568; ++y) {
            for (int x = 16; x < 704; x += 4) {
                sum += f[size_t(y) * 720 + size_t(x)];
                comb += std::abs(int(f[size_t(y) * 720 + size_t(x)])
                                 - int(f[size_t(y + 1) * 720 + size_t(x)]));
            }
        }
        const double n = 560.0 * 172.0;
        EXPECT_LT(comb / n, 1.5) << "frame " << i << " mixes two film frames";
        if (previous >= 0) {
            double step = sum / n - previous;
            EXPECT_GT(step, 4.5) << "frame " << i << " repeats or goes back";
            EXPECT_LT(step, 11.5) << "frame " << i << " skips a film frame";
        }
        previous = sum / n;
    }
}

struct FilmCase
{
    const char *source;
    int mode32; // else 2:3:3:2
    int twoPass;
};

class PulldownRemoval : public E2eTest, public ::testing::WithParamInterface<FilmCase>
{
};

TEST_P(PulldownRemoval, EachFilmFrameOnceInOrder)
{
    const FilmCase &c = GetParam();
    gConversionOptions.pulldown32To25P = c.mode32;
    gConversionOptions.pulldown2332To25P = !c.mode32;
    gConversionOptions.twoPassPulldownRemoval = c.twoPass;
    std::vector<std::string> texts;
    static std::vector<std::string> *progress;
    progress = &texts;
    gUiHooks.setProgress = [](const char *text, int) { progress->push_back(text); };
    std::string out = Process(c.source);
    ASSERT_EQ(out, OutputPath("newmovie.avi"));
    ExpectEachFilmFrameOnce(out, 24);
    if (c.twoPass) {
        EXPECT_THAT(texts, Contains("Pre-Processing frames 1-5..."));
    }
    EXPECT_THAT(texts, Contains("Processing frames 26-30..."));
}

INSTANTIATE_TEST_SUITE_P(E2e, PulldownRemoval,
                         ::testing::Values(FilmCase{"e2e_film_23.mov", 1, 0},
                                           FilmCase{"e2e_film_23.mov", 1, 1},
                                           FilmCase{"e2e_film_2332.mov", 0, 0},
                                           FilmCase{"e2e_film_2332.mov", 0, 1}));

// The packets' checksums of the first video stream, copied as stored.
std::vector<std::string> PacketSums(const std::string &path)
{
    std::string text;
    Run({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-c", "copy", "-f",
         "framemd5", "-"},
        &text);
    std::vector<std::string> sums;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line[0] != '#') {
            sums.push_back(line.substr(line.rfind(',') + 1));
        }
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return sums;
}

// 2:3:3:2 removal from DV frames that need no line conversion, to QuickTime output: after the
// first frame (compressed to learn its size) the kept frames are the source's own, in order.
TEST_F(E2e, Pulldown2332CopiesKeptDvFramesAsTheyAre)
{
    gConversionOptions.pulldown2332To25P = 1;
    gConversionOptions.alwaysMakeQuickTime = 1;
    std::string out = Process("e2e_dvcp_2997.mov");
    ASSERT_EQ(out, OutputPath("newmovie.mov"));
    std::vector<std::string> source = PacketSums(Fixture("e2e_dvcp_2997.mov"));
    std::vector<std::string> written = PacketSums(out);
    ASSERT_EQ(written.size(), 24u);
    long previous = -1;
    for (size_t i = 1; i < written.size(); ++i) {
        auto it = std::find(source.begin(), source.end(), written[i]);
        ASSERT_NE(it, source.end()) << "frame " << i << " was recompressed";
        EXPECT_GT(it - source.begin(), previous) << "frame " << i;
        previous = it - source.begin();
    }
    EXPECT_EQ(Str(Probe(out, "v:0"), "codec_tag_string"), "dvcp");
}

// Mean absolute difference of the first frames of two movies, decoded to 64x36 RGB.
double FirstFrameDifference(const std::string &a, const std::string &b)
{
    std::string ra, rb;
    for (auto [path, raw] : {std::pair{&a, &ra}, std::pair{&b, &rb}}) {
        Run({"ffmpeg", "-nostdin", "-v", "error", "-i", *path, "-frames:v", "1", "-vf",
             "scale=64:36", "-pix_fmt", "rgb24", "-f", "rawvideo", "-"},
            raw);
    }
    if (ra.size() != rb.size() || ra.empty()) {
        return 1e9;
    }
    double sum = 0;
    for (size_t i = 0; i < ra.size(); ++i) {
        sum += std::abs(int(uint8_t(ra[i])) - int(uint8_t(rb[i])));
    }
    return sum / double(ra.size());
}

struct HdCase
{
    const char *source;
    int yuv;
    int width;
    int height;
    const char *rate;
    int frames;
};

class HdSource : public E2eTest, public ::testing::WithParamInterface<HdCase>
{
};

TEST_P(HdSource, KeepsItsSizeAsRgb24Avi)
{
    const HdCase &c = GetParam();
    gConversionOptions.useYuvProcessing = c.yuv;
    std::string out = Process(c.source);
    ASSERT_EQ(out, OutputPath("newmovie.avi"));
    auto v = Probe(out, "v:0");
    EXPECT_EQ(Str(v, "codec_name"), "rawvideo");
    EXPECT_EQ(Str(v, "pix_fmt"), "bgr24");
    EXPECT_EQ(Int(v, "width"), c.width);
    EXPECT_EQ(Int(v, "height"), c.height);
    EXPECT_EQ(Str(v, "r_frame_rate"), c.rate);
    EXPECT_EQ(Int(v, "nb_read_frames"), c.frames);
    // The picture is the source's, in either pixel format.
    // (YUV frames keep video levels: black 16, white 235.)
    EXPECT_LT(FirstFrameDifference(out, Fixture(c.source)), 20.0);
}

INSTANTIATE_TEST_SUITE_P(E2e, HdSource,
                         ::testing::Values(HdCase{"e2e_hd_raw.mov", 0, 1920, 1080, "25/1", 8},
                                           HdCase{"e2e_hd_2vuy.mov", 1, 1920, 1080, "25/1", 8},
                                           HdCase{"e2e_hd_pal_raw.mov", 0, 1280, 720, "2997/100",
                                                  12},
                                           HdCase{"e2e_dvcprohd.mov", 0, 1280, 1080, "25/1", 8}));

// Read by the own AVI reader, turned over from bottom-up rows, written as PAL DV.
TEST_F(E2e, UncompressedAviSourceBecomesDvAvi)
{
    std::string out = Process("e2e_rgb.avi");
    ASSERT_EQ(out, OutputPath("newmovie.avi"));
    auto v = Probe(out, "v:0");
    EXPECT_EQ(Str(v, "codec_name"), "dvvideo");
    EXPECT_EQ(Int(v, "height"), 576);
    EXPECT_EQ(Int(v, "nb_read_frames"), 8);
    EXPECT_LT(FirstFrameDifference(out, Fixture("e2e_rgb.avi")), 20.0);
}

// In an output folder of their own the results keep the sources' names.
TEST_F(E2e, BatchOfThreeGetsTargetNames)
{
    ProcessBatch(
        {Fixture("e2e_batch_1.mov"), Fixture("e2e_batch_2.mov"), Fixture("e2e_batch_3.mov")});
    EXPECT_THAT(Texts(), Contains("Batch processing completed OK"));
    for (const char *name : {"e2e_batch_1.avi", "e2e_batch_2.avi", "e2e_batch_3.avi"}) {
        EXPECT_EQ(Int(Probe(OutputPath(name), "v:0"), "nb_read_frames"), 40) << name;
    }
}

// The MXF line is refused (quietly in a batch) before its compression dialog.
// The second movie has no sound: nothing of the first movie's sound may reach it.
TEST_F(E2e, BatchMovieWithoutSoundAfterOneWithSound)
{
    gConversionOptions.alwaysMakeQuickTime = 1;
    ProcessBatch({Fixture("e2e_batch_1.mov"), Fixture("e2e_timecode.mov")});
    EXPECT_THAT(Texts(), Contains("Batch processing completed OK"));
    EXPECT_EQ(Int(Probe(OutputPath("e2e_batch_1.mov"), "a:0"), "channels"), 2);
    EXPECT_TRUE(Probe(OutputPath("e2e_timecode.mov"), "a:0").empty());
    EXPECT_EQ(Int(Probe(OutputPath("e2e_timecode.mov"), "v:0"), "nb_read_frames"), 8);
}

TEST_F(E2e, RefusedFirstBatchLineLeavesTheCompressionDialogToTheNext)
{
    gConversionOptions.alwaysMakeQuickTime = 1;
    gConversionOptions.userSelectsCompression = 1;
    ClearScriptedImageSettings();
    QueueScriptedImageSettings(ScImageSettings{0x64766370 /* 'dvcp' */, codecMaxQuality});
    ProcessBatch({Fixture("e2e_clip.mxf"), Fixture("e2e_batch_1.mov"), Fixture("e2e_batch_2.mov")});
    EXPECT_EQ(ScriptedImageSettingsRequests(), 1);
    for (const char *name : {"e2e_batch_1.mov", "e2e_batch_2.mov"}) {
        auto v = Probe(OutputPath(name), "v:0");
        EXPECT_EQ(Str(v, "codec_tag_string"), "dvcp") << name;
        EXPECT_EQ(Int(v, "nb_read_frames"), 40) << name;
    }
}

TEST_F(E2e, CancelledCompressionDialogStopsQuietly)
{
    gConversionOptions.alwaysMakeQuickTime = 1;
    gConversionOptions.userSelectsCompression = 1;
    ClearScriptedImageSettings();
    QueueScriptedImageSettings(ScImageSettings{}, true);
    EXPECT_EQ(Process("e2e_ntsc_dv.mov"), "");
    EXPECT_EQ(Texts(), std::vector<std::string>{"Processing aborted"});
}

struct RefusalCase
{
    const char *source;
    const char *text;
    int yuv = 0;
};

class Refused : public E2eTest, public ::testing::WithParamInterface<RefusalCase>
{
};

// Refused before or during the pass; what the pass allocated is released (the leak checker
// of the test build sees the rest).
TEST_P(Refused, WithItsText)
{
    gConversionOptions.useYuvProcessing = GetParam().yuv;
    EXPECT_EQ(Process(GetParam().source), "");
    EXPECT_THAT(Texts(), Contains(HasSubstr(GetParam().text)));
    // A refusal in the pass leaves the closed, partial output; earlier ones make none.
    if (!GetParam().yuv) {
        EXPECT_NE(access(OutputPath("newmovie.avi").c_str(), F_OK), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    E2e, Refused,
    ::testing::Values(RefusalCase{"newmovie.mov",
                                  "newmovie must be renamed with File->SaveAs before further "
                                  "processing."},
                      RefusalCase{"e2e_clip.mxf", "Halvorne does not support .mxf files"},
                      RefusalCase{"e2e_too_large.mov", "Error: Movie frame > 9216000 bytes"},
                      RefusalCase{"e2e_hd_raw.mov", "Sample size exceeds buffer size", 1}));

// A source that is the temporary output under another name (a hard link) is refused like the
// result itself, before anything is written over it.
TEST_F(E2e, SourceThatIsTheTemporaryOutputIsRefused)
{
    const std::string output = OutputPath("newmovie.avi");
    const std::string source = OutputPath("clip.mov");
    auto movie = lc::ReadWholeFile(Fixture("e2e_ntsc_dv.mov").c_str());
    ASSERT_TRUE(movie.ok());
    ASSERT_TRUE(lc::WriteWholeFile(output.c_str(), movie->data(), movie->size()).ok());
    ASSERT_EQ(link(output.c_str(), source.c_str()), 0);
    struct stat before;
    ASSERT_EQ(stat(source.c_str(), &before), 0);
    EXPECT_EQ(Process(source), "");
    EXPECT_THAT(Texts(), Contains(HasSubstr("newmovie must be renamed with File->SaveAs")));
    struct stat after;
    ASSERT_EQ(stat(source.c_str(), &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtime, before.st_mtime);
}

TEST_F(E2e, StopDuringRunLeavesReadablePartialAvi)
{
    gUiHooks.setProgress = [](const char *text, int) {
        if (std::string(text) == "Processing frames 11-15...") {
            gProcessControl.stopRequested = 1;
        }
    };
    EXPECT_EQ(Process("e2e_ntsc_dv.mov"), "");
    EXPECT_THAT(Texts(), Contains("Processing aborted"));
    auto v = Probe(OutputPath("newmovie.avi"), "v:0");
    EXPECT_EQ(Str(v, "codec_name"), "dvvideo");
    EXPECT_EQ(Int(v, "nb_read_frames"), 12);
}

} // namespace
} // namespace e2e
