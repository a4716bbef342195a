// MPEG-2 streams processed from end to end: program and transport streams made by ffmpeg,
// outputs checked with ffprobe.

#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/conversion_options.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "mpeg2/mpeg_picture_output.h"
#include "mpeg2/mpeg_stream_info.h"
#include "passes/lower_hooks.h"
#include "passes/process_control.h"
#include "platform/media/standard_compression.h"
#include "tests/e2e/e2e_inprocess.h"

namespace e2e {
namespace {

using ::testing::Contains;
using ::testing::Not;

int64_t ModifiedTime(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? int64_t(st.st_mtime) : -1;
}

std::string MpegFixture(const char *name)
{
    static const std::string dir = [] {
        std::string out = std::string(LC_BINARY_DIR) + "/fixtures/e2e_mpeg";
        std::string script =
            std::string(LC_SOURCE_DIR) + "/tests/fixtures/e2e_mpeg_make_fixtures.sh";
        (void)mkdir((std::string(LC_BINARY_DIR) + "/fixtures").c_str(), 0755);
        (void)mkdir(out.c_str(), 0755);
        // Test processes run at once: one makes the streams, the others wait for it.
        int lock = open((out + "/.lock").c_str(), O_CREAT | O_RDWR, 0644);
        if (lock >= 0) {
            (void)flock(lock, LOCK_EX);
        }
        std::string stamp = out + "/.made";
        if (ModifiedTime(stamp) < ModifiedTime(script)) {
            if (Run({"sh", script, out})) {
                if (FILE *f = std::fopen(stamp.c_str(), "w")) {
                    std::fclose(f);
                }
            } else {
                ADD_FAILURE() << "e2e_mpeg_make_fixtures.sh failed";
            }
        }
        if (lock >= 0) {
            (void)flock(lock, LOCK_UN);
            close(lock);
        }
        return out;
    }();
    return dir + "/" + name;
}

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

bool Exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

struct MpegCase
{
    const char *source;
    bool quickTime;
    const char *output;
    int width, height;
    const char *rate;
    int frames;
    bool tsSound; // sound decoded through "temp.mp2" and "temp.aiff"
};

class MpegToOutput : public E2eTest, public ::testing::WithParamInterface<MpegCase>
{
};

TEST_P(MpegToOutput, FramesSizeRateAndSound)
{
    const MpegCase &c = GetParam();
    gConversionOptions.alwaysMakeQuickTime = c.quickTime ? 1 : 0;
    // QuickTime output asks for its compressor whatever the option says.
    ClearScriptedImageSettings();
    if (c.quickTime) {
        QueueScriptedImageSettings(ScImageSettings{0x64766320 /* 'dvc ' */, codecMaxQuality});
    }
    std::string out = Process(MpegFixture(c.source));
    ASSERT_EQ(out, OutputPath(c.output));
    EXPECT_THAT(Texts(), Contains("Processing completed OK"));
    EXPECT_EQ(Exists(OutputPath("temp.aiff")), c.tsSound);
    EXPECT_EQ(Exists(OutputPath("temp.mp2")), c.tsSound);
    if (c.quickTime) {
        EXPECT_EQ(ScriptedImageSettingsRequests(), 1);
    }
    {
        auto a = Probe(out, "a:0");
        EXPECT_EQ(Int(a, "sample_rate"), 48000);
        EXPECT_EQ(Int(a, "channels"), 2);
        EXPECT_GT(SoundFrames(out), 0);
    }
    auto v = Probe(out, "v:0");
    EXPECT_EQ(Int(v, "width"), c.width);
    EXPECT_EQ(Int(v, "height"), c.height);
    EXPECT_EQ(Str(v, "r_frame_rate"), c.rate);
    EXPECT_EQ(Int(v, "nb_read_frames"), c.frames);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, MpegToOutput,
    ::testing::Values(
        // Every whole group of the stream's pictures, the last one too: 30 NTSC pictures become
        // 24 frames at 25, 25 PAL pictures 30 at 29.97.
        MpegCase{"e2e_mpeg_ntsc.vob", false, "newmovie.avi", 720, 576, "25/1", 24, false},
        MpegCase{"e2e_mpeg_pal.ts", false, "newmovie.avi", 720, 480, "2997/100", 30, true},
        MpegCase{"e2e_mpeg_pal.ts", true, "newmovie.mov", 720, 480, "2997/100", 30, true}),
    [](const auto &param) {
        std::string name = param.param.source;
        name = name.substr(9, name.find('.') - 9) + (param.param.quickTime ? "Mov" : "Avi");
        return name;
    });

// A transport stream without sound: no sound track comes of "temp.aiff", the video is made.
TEST_F(E2eTest, TransportStreamWithoutSound)
{
    std::string out = Process(MpegFixture("e2e_mpeg_pal_silent.ts"));
    ASSERT_EQ(out, OutputPath("newmovie.avi"));
    EXPECT_THAT(Texts(), Contains("Processing completed OK"));
    EXPECT_THAT(Texts(), Contains("Warning: No Audio track found\nPress OK to continue."));
    EXPECT_EQ(Int(Probe(out, "v:0"), "nb_read_frames"), 30);
}

// Every decoder run ends with the sink's close: the open's run, then one per pass.
int gRunsEnded = 0;
int gStopAfterRun = 0;
void (*gStageClose)() = nullptr;

void CountRunEnd()
{
    ++gRunsEnded;
    if (gStopAfterRun && gRunsEnded == gStopAfterRun) {
        gProcessControl.stopRequested = 1;
    }
    if (gStageClose) {
        gStageClose();
    }
}

class MpegPasses : public E2eTest
{
protected:
    void SetUp() override
    {
        E2eTest::SetUp();
        gConversionOptions.pulldown32To25P = 1;
        gConversionOptions.twoPassPulldownRemoval = 1;
        gRunsEnded = 0;
        gStopAfterRun = 0;
        gStageClose = gMpegPictureSink.closeOutputs;
        gMpegPictureSink.closeOutputs = CountRunEnd;
    }
    void TearDown() override
    {
        gLowerHooks.resumeMpegForProcessing = nullptr;
        gLowerHooks.showMpegPlayer = nullptr;
        gMpegPictureSink.closeOutputs = gStageClose;
        E2eTest::TearDown();
    }
};

int gResumes = 0;
int gPlayerShown = 0;

TEST_F(MpegPasses, TwoPassPulldownRunsTheDecoderTwice)
{
    // The player controls' resume starts each pass when the application installed it.
    gResumes = 0;
    gLowerHooks.resumeMpegForProcessing = [] {
        ++gResumes;
        gMpegDecoderControl.seekPercent = 0;
        ClearSequenceSeen();
        StartOrPauseMpegDecoding();
    };
    std::string out = Process(MpegFixture("e2e_mpeg_ntsc.vob"));
    ASSERT_EQ(out, OutputPath("newmovie.avi"));
    EXPECT_EQ(gRunsEnded, 3);
    EXPECT_EQ(gResumes, 2);
    EXPECT_EQ(gProcessControl.passesLeft, 0);
    EXPECT_EQ(gMpegDecoderControl.processingMode, 0); // a run's end leaves preview
}

TEST_F(MpegPasses, StopInTheFirstPassSkipsTheSecond)
{
    gStopAfterRun = 2;
    gPlayerShown = 0;
    gLowerHooks.showMpegPlayer = [] { ++gPlayerShown; };
    Process(MpegFixture("e2e_mpeg_ntsc.vob"));
    EXPECT_EQ(gRunsEnded, 2);
    EXPECT_EQ(gPlayerShown, 1); // the stopped stream's player comes back
    EXPECT_THAT(Texts(), Contains("Processing aborted"));
    EXPECT_THAT(Texts(), Not(Contains("Processing completed OK")));
}

// A stream without a sequence extension has no frame rate to retime its sound by.
TEST_F(E2eTest, StreamWithoutFrameRateIsRefused)
{
    gMpegStreamInfo.frameRate = 0.0f; // the stream's open leaves the last stream's rate
    Process(MpegFixture("e2e_mpeg_mpeg1.mpg"));
    EXPECT_THAT(Texts(), Contains("Unexpected values for sample duration"));
    EXPECT_THAT(Texts(), Not(Contains("Processing completed OK")));
}

} // namespace
} // namespace e2e
