// Every kind of source through the application, on the command line and in the batch list, and
// each result checked with ffprobe, decoded by ffmpeg and its pictures compared with the source's:
// DV movies and AVI files, AVI files decoded through a video decompressor (MJPEG, YUY2, HuffYUV,
// DV under 'dv25'), program and transport streams; NTSC and PAL, and HD.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

std::string Source(const std::string &name)
{
    static const std::string dir = FixtureFolder("e2e_make_sources.sh", "e2e_sources");
    return dir + "/" + name;
}

std::string Stem(const std::string &name)
{
    return name.substr(0, name.rfind('.'));
}

bool Exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

struct SourceKind
{
    const char *file;
    int sourceFrames;
    bool pal;          // 25 frames/s: to NTSC; else to 25P
    const char *codec; // of the output: DV for standard definition, RGB24 frames for HD
    int width, height;
    bool stream;      // MPEG-2: the sound is decoded and placed by the stream's own clock
    double floor = 0; // lowest PSNR of an output field against its source field, dB
};

void PrintTo(const SourceKind &k, std::ostream *os)
{
    *os << k.file;
}

// Output frames: whole groups of five source frames, the last one too; four 25P frames of an NTSC
// group, six NTSC frames of a PAL group (the cadence drops none in so few groups).
int OutputFrames(const SourceKind &k)
{
    const int groups = (k.sourceFrames + 4) / 5;
    return groups * (k.pal ? 6 : 4);
}

// Each field of every output frame is a field of a source frame near its place: the source's
// pictures, in order, upright, in their colours; at the HD sizes every line of them. Source
// frames are scaled to the output's size by ffmpeg.
void ExpectPicturesOfTheSource(const std::string &out, const SourceKind &k)
{
    const std::vector<Picture> frames = DecodeFrames(out, k.width, k.height);
    const std::vector<Picture> source = DecodeFrames(Source(k.file), k.width, k.height);
    ASSERT_EQ(int(frames.size()), OutputFrames(k));
    ASSERT_FALSE(source.empty());
    std::vector<Picture> fields[2];
    for (const Picture &p : source) {
        fields[0].push_back(p.Field(0));
        fields[1].push_back(p.Field(1));
    }
    // Source frames per output frame: five PAL frames become six, five NTSC frames four.
    const double perFrame = k.pal ? 25.0 / 29.97 : 5.0 / 4.0;
    double lowest = 99;
    for (size_t i = 0; i < frames.size(); ++i) {
        const double place = double(i) * perFrame;
        for (int f = 0; f < 2; ++f) {
            double psnr = 0;
            BestMatch(frames[i].Field(f), fields[f], int(std::floor(place - 1.5)),
                      int(std::ceil(place + 1.5)), &psnr);
            lowest = std::min(lowest, psnr);
            EXPECT_GE(psnr, k.floor) << "frame " << i << " field " << f;
        }
    }
    std::printf("%s: lowest PSNR %.2f dB\n", k.file, lowest);
}

// Checks one result against its source: codec, size, rate, frames, sound, and a clean decode.
void ExpectResult(const std::string &out, const SourceKind &k)
{
    SCOPED_TRACE(out);
    const Fields v = Probe(out, "v:0");
    EXPECT_EQ(Str(v, "codec_name"), k.codec);
    EXPECT_EQ(Int(v, "width"), k.width);
    EXPECT_EQ(Int(v, "height"), k.height);
    EXPECT_EQ(Str(v, "r_frame_rate"), k.pal ? "2997/100" : "25/1");
    EXPECT_EQ(Int(v, "nb_read_frames"), OutputFrames(k));
    std::string errors;
    EXPECT_TRUE(DecodesClean(out, &errors)) << errors;
    const Fields a = Probe(out, "a:0");
    EXPECT_EQ(Int(a, "sample_rate"), 48000);
    EXPECT_EQ(Int(a, "channels"), 2);
    // PAL sound is copied as it is; NTSC sound plays 960/1001 of its time with the 25P frames.
    const int64_t source = SoundFrames(Source(k.file));
    const int64_t expected = k.pal ? source : source * 960 / 1001;
    // A stream's sound starts where its clock says: within one output frame.
    EXPECT_NEAR(double(SoundFrames(out)), double(expected), k.stream ? 1920.0 : 2.0);
    ExpectPicturesOfTheSource(out, k);
}

const SourceKind kNtscDvMovie{"src_ntsc_dv.mov", 60, false, "dvvideo", 720, 576, false, 29.5};
const SourceKind kNtscDvAvi{"src_ntsc_dv.avi", 60, false, "dvvideo", 720, 576, false, 29.5};
const SourceKind kPalDvMovie{"src_pal_dv.mov", 50, true, "dvvideo", 720, 480, false, 42.5};
const SourceKind kPalDvAvi{"src_pal_dv.avi", 50, true, "dvvideo", 720, 480, false, 42.5};
const SourceKind kNtscMjpeg{"src_ntsc_mjpeg.avi", 60, false, "dvvideo", 720, 576, false, 29.5};
const SourceKind kPalMjpeg{"src_pal_mjpeg.avi", 50, true, "dvvideo", 720, 480, false, 41.5};
const SourceKind kHdMjpeg{"src_hd_mjpeg.avi", 30, false, "rawvideo", 1280, 720, false, 31.0};
const SourceKind kNtscYuy2{"src_ntsc_yuy2.avi", 30, false, "dvvideo", 720, 576, false, 29.5};
const SourceKind kPalYuy2{"src_pal_yuy2.avi", 25, true, "dvvideo", 720, 480, false, 41.5};
const SourceKind kHdYuy2{"src_hd_yuy2.avi", 10, true, "rawvideo", 1280, 720, false, 46.0};
const SourceKind kNtscHuffyuv{"src_ntsc_huffyuv.avi", 30, false, "dvvideo", 720, 576, false, 29.5};
const SourceKind kPalHuffyuv{"src_pal_huffyuv.avi", 25, true, "dvvideo", 720, 480, false, 41.5};
const SourceKind kHdHuffyuv{"src_hd_huffyuv.avi", 10, false, "rawvideo", 1280, 720, false, 31.0};
const SourceKind kNtscDv25{"src_ntsc_dv25.avi", 30, false, "dvvideo", 720, 576, false, 29.5};
const SourceKind kPalDv25{"src_pal_dv25.avi", 25, true, "dvvideo", 720, 480, false, 41.5};
// PAL-family frames wide but short, or narrow but tall, are HD: their size and every line are
// kept.
const SourceKind kPal1024x576{"src_pal_1024x576.avi", 25, true, "rawvideo", 1024, 576, false, 48.0};
const SourceKind kPal960x540{"src_pal_960x540.avi", 25, true, "rawvideo", 960, 540, false, 48.0};
const SourceKind kPal720x608{"src_pal_720x608.avi", 25, true, "rawvideo", 720, 608, false, 48.0};
// Uncompressed RGB rows padded to four bytes each.
const SourceKind kNtscRgb718{"src_ntsc_rgb718.avi", 30, false, "rawvideo", 718, 576, false, 30.0};
const SourceKind kPalRgb722{"src_pal_rgb722.avi", 25, true, "rawvideo", 722, 480, false, 46.0};
const SourceKind kNtscVob{"src_ntsc.vob", 60, false, "dvvideo", 720, 576, true, 29.5};
const SourceKind kPalVob{"src_pal.vob", 50, true, "dvvideo", 720, 480, true, 41.0};
const SourceKind kNtscTs{"src_ntsc.ts", 60, false, "dvvideo", 720, 576, true, 29.5};
const SourceKind kPalTs{"src_pal.ts", 50, true, "dvvideo", 720, 480, true, 41.0};

const SourceKind kAllKinds[] = {
    kNtscDvMovie, kNtscDvAvi, kPalDvMovie, kPalDvAvi,    kNtscMjpeg,   kPalMjpeg,
    kHdMjpeg,     kNtscYuy2,  kPalYuy2,    kHdYuy2,      kNtscHuffyuv, kPalHuffyuv,
    kHdHuffyuv,   kNtscDv25,  kPalDv25,    kPal1024x576, kPal960x540,  kPal720x608,
    kNtscRgb718,  kPalRgb722, kNtscVob,    kPalVob,      kNtscTs,      kPalTs,
};

std::string CaseName(const ::testing::TestParamInfo<SourceKind> &info)
{
    std::string name = std::string(info.param.file).substr(4);
    for (char &c : name) {
        if (c == '.') {
            c = '_';
        }
    }
    return name;
}

class OneSource : public RunnerTest, public ::testing::WithParamInterface<SourceKind>
{
};

// Named on the command line: opened at start-up, Start in the options, the result reopened.
TEST_P(OneSource, OnTheCommandLine)
{
    const SourceKind &k = GetParam();
    const RunnerResult r = RunApp({Source(k.file)});
    EXPECT_TRUE(r.exitedOk) << r.text;
    EXPECT_TRUE(r.Shown("Processing completed OK")) << r.text;
    ASSERT_EQ(r.output, OutputPath("newmovie.avi")) << r.text;
    ExpectResult(r.output, k);
}

// Alone in the batch list: the result gets the source's name.
TEST_P(OneSource, InTheBatchList)
{
    const SourceKind &k = GetParam();
    const RunnerResult r = RunApp({"--batch", Source(k.file)});
    EXPECT_TRUE(r.exitedOk) << r.text;
    EXPECT_TRUE(r.Shown("Batch processing completed OK")) << r.text;
    const std::string target = OutputPath(Stem(k.file) + ".avi");
    ASSERT_EQ(r.output, target) << r.text;
    EXPECT_FALSE(Exists(OutputPath("newmovie.avi")));
    ExpectResult(target, k);
}

INSTANTIATE_TEST_SUITE_P(E2e, OneSource, ::testing::ValuesIn(kAllKinds), CaseName);

// Video for Windows sources reach QuickTime output too, decoded at their own size whatever the
// output's size.
class CompressedAviToQuickTime : public OneSource
{
};

TEST_P(CompressedAviToQuickTime, OnTheCommandLine)
{
    SourceKind k = GetParam();
    k.codec = "rawvideo"; // the QuickTime movie of an AVI source holds uncompressed frames
    options.alwaysMakeQuickTime = 1;
    const RunnerResult r = RunApp({Source(k.file)});
    EXPECT_TRUE(r.Shown("Processing completed OK")) << r.text;
    ASSERT_EQ(r.output, OutputPath("newmovie.mov")) << r.text;
    ExpectResult(r.output, k);
}

INSTANTIATE_TEST_SUITE_P(E2e, CompressedAviToQuickTime,
                         ::testing::Values(kNtscMjpeg, kPalHuffyuv, kHdMjpeg), CaseName);

struct Pair
{
    const char *name;
    SourceKind first, second;
};

void PrintTo(const Pair &p, std::ostream *os)
{
    *os << p.name;
}

class TwoSources : public RunnerTest, public ::testing::WithParamInterface<Pair>
{
};

// Each movie of a batch is worked out from its own source, whatever came before it.
TEST_P(TwoSources, EachGetsItsOwnFamily)
{
    const Pair &p = GetParam();
    const RunnerResult r = RunApp({Source(p.first.file), Source(p.second.file)});
    EXPECT_TRUE(r.exitedOk) << r.text;
    EXPECT_EQ(r.messages, std::vector<std::string>{"Batch processing completed OK"}) << r.text;
    ExpectResult(OutputPath(Stem(p.first.file) + ".avi"), p.first);
    ExpectResult(OutputPath(Stem(p.second.file) + ".avi"), p.second);
}

INSTANTIATE_TEST_SUITE_P(E2e, TwoSources,
                         ::testing::Values(Pair{"PalVobThenNtscVob", kPalVob, kNtscVob},
                                           Pair{"NtscVobThenPalVob", kNtscVob, kPalVob},
                                           Pair{"PalTsThenNtscTs", kPalTs, kNtscTs},
                                           Pair{"NtscTsThenPalTs", kNtscTs, kPalTs},
                                           Pair{"NtscDvThenPalMjpeg", kNtscDvAvi, kPalMjpeg},
                                           Pair{"PalMjpegThenNtscHuffyuv", kPalMjpeg,
                                                kNtscHuffyuv}),
                         [](const auto &param) { return std::string(param.param.name); });

// Broken files between two good ones: an error box for each, the two good results under their
// own names, nothing of the broken ones, and the run ends with errors. The movie after the errors
// goes through the 25P pass, which an earlier error once kept from reading any frame.
TEST_F(RunnerTest, BrokenFilesBetweenTwoGoodOnes)
{
    const RunnerResult r = RunApp({Source(kPalMjpeg.file), Source("src_cut.avi"),
                                   Source("src_cut.mov"), Source(kNtscDvMovie.file)});
    EXPECT_FALSE(r.exitedOk);
    ASSERT_EQ(r.messages.size(), 3u) << r.text;
    EXPECT_THAT(r.messages[0], HasSubstr("of the source movie\nIt may be damaged or incomplete"));
    EXPECT_EQ(r.messages[1], "NewMovieFromFile error: Could not open Movie");
    EXPECT_EQ(r.messages[2], "Batch processing completed with errors");
    EXPECT_EQ(r.output, "");
    ExpectResult(OutputPath(Stem(kNtscDvMovie.file) + ".avi"), kNtscDvMovie);
    ExpectResult(OutputPath(Stem(kPalMjpeg.file) + ".avi"), kPalMjpeg);
    EXPECT_FALSE(Exists(OutputPath("src_cut.avi")));
    EXPECT_FALSE(Exists(OutputPath("newmovie.avi")));
}

// A DV AVI file cut in the middle: the next group is read while a group is written, and a frame
// that cannot be read is shown only after the groups before it are written, each as it is in the
// whole movie's result.
TEST_F(RunnerTest, CutDvAviKeepsTheGroupsBeforeTheCut)
{
    RunnerResult r = RunApp({Source(kNtscDvAvi.file)});
    ASSERT_TRUE(r.exitedOk) << r.text;
    const std::vector<std::string> whole = PacketMd5(OutputPath("newmovie.avi"));
    r = RunApp({Source("src_cut_dv.avi")});
    EXPECT_FALSE(r.exitedOk);
    ASSERT_EQ(r.messages.size(), 1u) << r.text;
    EXPECT_EQ(r.messages[0],
              "Could not read frame 31 of the source movie\nIt may be damaged or incomplete");
    // Frames 1 to 30 fill the first five groups of four output frames.
    const std::vector<std::string> cut = PacketMd5(OutputPath("newmovie.avi"));
    ASSERT_EQ(cut.size(), 20u);
    ASSERT_GE(whole.size(), cut.size());
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), whole.begin()));
}

// Every result is complete and has its name when the batch's last box shows, not only once the
// program has ended. The runner holds the box for a while, as a user who reads it; each target is
// copied the moment the box is printed, and the copies are checked.
class BatchEnd : public RunnerTest, public ::testing::WithParamInterface<Pair>
{
};

TEST_P(BatchEnd, ResultsAreCompleteWhenTheLastBoxShows)
{
    const Pair &p = GetParam();
    constexpr int kHoldMs = 3000;
    const SourceKind kinds[] = {p.first, p.second};
    bool seen = false, temporaryLeft = true;
    long copyMs = 0;
    std::vector<std::string> missing; // targets that could not be read at the box
    const RunnerResult r = RunApp(
        {"--answer-after", std::to_string(kHoldMs), Source(p.first.file), Source(p.second.file)},
        {}, [&](const std::string &line) {
            if (line != "message: Batch processing completed OK") {
                return;
            }
            seen = true;
            const auto start = std::chrono::steady_clock::now();
            for (const SourceKind &k : kinds) {
                std::error_code error;
                if (!std::filesystem::copy_file(OutputPath(Stem(k.file) + ".avi"),
                                                OutputPath("shown_" + Stem(k.file) + ".avi"),
                                                error)) {
                    missing.push_back(Stem(k.file) + ".avi: " + error.message());
                }
            }
            temporaryLeft = Exists(OutputPath("newmovie.avi"));
            copyMs = long(std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count());
        });
    EXPECT_TRUE(r.exitedOk) << r.text;
    ASSERT_TRUE(seen) << r.text;
    EXPECT_LT(copyMs, kHoldMs); // the copies were made while the box showed
    EXPECT_FALSE(temporaryLeft);
    ASSERT_EQ(missing, std::vector<std::string>{}) << r.text;
    for (const SourceKind &k : kinds) {
        ExpectResult(OutputPath("shown_" + Stem(k.file) + ".avi"), k);
    }
}

INSTANTIATE_TEST_SUITE_P(E2e, BatchEnd,
                         ::testing::Values(Pair{"NtscDvMovieThenPalDvAvi", kNtscDvMovie, kPalDvAvi},
                                           Pair{"PalTsThenNtscVob", kPalTs, kNtscVob}),
                         [](const auto &param) { return std::string(param.param.name); });

// Sources on a read-only file system open and convert (the reader never writes).
TEST_F(RunnerTest, SourceOnReadOnlyFileSystem)
{
    const std::string folder = OutputPath("readonly");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    for (const SourceKind &k : {kNtscMjpeg, kPalDvAvi}) {
        ASSERT_TRUE(e2e::Run({"cp", Source(k.file), folder + "/"}));
    }
    // The folder is bound read-only over itself in a mount namespace of the runner's own.
    const std::string mount = "mount --bind '" + folder + "' '" + folder
                              + "' && mount -o "
                                "remount,ro,bind '"
                              + folder + "' '" + folder + "' && exec \"$@\"";
    if (!e2e::Run({"unshare", "-m", "sh", "-c", mount, "sh", "true"})) {
        GTEST_SKIP() << "no mount namespace for a read-only folder";
    }
    const RunnerResult r = RunApp({folder + "/" + kNtscMjpeg.file, folder + "/" + kPalDvAvi.file},
                                  {"unshare", "-m", "sh", "-c", mount, "sh"});
    EXPECT_TRUE(r.exitedOk) << r.text;
    EXPECT_EQ(r.messages, std::vector<std::string>{"Batch processing completed OK"}) << r.text;
    ExpectResult(OutputPath(Stem(kNtscMjpeg.file) + ".avi"), kNtscMjpeg);
    ExpectResult(OutputPath(Stem(kPalDvAvi.file) + ".avi"), kPalDvAvi);
}

} // namespace
} // namespace e2e
