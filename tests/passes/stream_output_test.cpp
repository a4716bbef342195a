#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/frame_store.h"
#include "formats/avi_writer.h"
#include "passes/conversion_state.h"
#include "passes/process_control.h"
#include "passes/stream_output.h"
#include "platform/media/movies.h"
#include "platform/media/standard_compression.h"
#include "platform/sys/bytes.h"
#include "platform/ui/message_box.h"
#include "tests/passes/stream_output_test_support.h"

namespace {

std::string OutDir()
{
    return std::string(LC_BINARY_DIR) + "/stream_output";
}

// What ffprobe reads of the first video stream: "codec,width,height,frames".
// A bottom-up B, G, R frame with a moving gradient, so compressors get real pictures.
std::vector<uint8_t> Frame(int width, int rows, int index)
{
    std::vector<uint8_t> f(size_t(width) * rows * 3);
    for (int y = 0; y < rows; y++) {
        for (int x = 0; x < width; x++) {
            uint8_t *p = &f[(size_t(y) * width + x) * 3];
            p[0] = uint8_t(x + index * 8);
            p[1] = uint8_t(y);
            p[2] = uint8_t(128 + index);
        }
    }
    return f;
}

class StreamOutputTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string mk = "mkdir -p '" + OutDir() + "'";
        ASSERT_EQ(std::system(mk.c_str()), 0);
        gConversionState = ConversionState{};
        gConversionState.timeScale = 2500;
        gConversionState.sampleDuration = 100;
        gProcessControl.errorShown = 0;
        gEngineSettings = EngineSettings{};
        ClearScriptedImageSettings();
        FreeOutputGWorld();
        gOutputPicture = OutputPicture{};
    }
    void TearDown() override
    {
        FreeOutputGWorld();
        if (gConversionState.stdCompressor) {
            CloseComponent(gConversionState.stdCompressor);
        }
    }
    lc::ui::MessageRecorder messages;
};

TEST_F(StreamOutputTest, QuickTimeTrackHoldsEveryFrame)
{
    struct Case
    {
        const char codec[5];
        int width, height, frames;
        const char *probed;
    } cases[] = {
        {"dvc ", 720, 480, 5, "dvvideo,720,480,5"},
        {"jpeg", 960, 544, 7, "mjpeg,960,544,7"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.codec);
        gEngineSettings.sourceIsPal = c.height == 576;
        gEngineSettings.sourceIsNtsc = c.height != 576;
        gConversionState.stdCompressor =
            OpenDefaultComponent(StandardCompressionType, StandardCompressionSubType);
        QueueScriptedImageSettings({lc::FourCC(c.codec), codecMaxQuality});
        ASSERT_EQ(SCRequestImageSettings(gConversionState.stdCompressor), 0);

        const std::string path = OutDir() + "/qt_" + std::to_string(c.width) + ".mov";
        OutputMovie m;
        ASSERT_EQ(CreateOutputMovie(path, 2500, &m), noErr);
        ASSERT_EQ(BeginOutputVideoTrack(m.movie, c.width, c.height, c.width, c.height), 1);
        for (int i = 0; i < c.frames; i++) {
            const std::vector<uint8_t> f = Frame(c.width, c.height, i);
            ASSERT_EQ(AddCompressedFrame(f.data(), c.width, c.height), 1);
        }
        Media media = gOutputPicture.videoMedia;
        ASSERT_EQ(EndOutputVideoTrack(), 1);
        // The whole media from time 0: one output frame is 100 units.
        EXPECT_EQ(gOutputPicture.videoDuration, c.frames * 100);
        EXPECT_EQ(GetMediaDuration(media), c.frames * 100);
        EXPECT_EQ(GetTrackDuration(gOutputPicture.videoTrack), c.frames * 100);
        EXPECT_STREQ(gProcessControl.progressText, "Inserting video track...");
        EXPECT_EQ(gProcessControl.progressPercent.load(), 25);
        EXPECT_EQ(gOutputPicture.gworld, nullptr);
        ASSERT_EQ(FinishMovie(&m), noErr);
        EXPECT_EQ(ProbeVideo(path), c.probed);
        CloseComponent(gConversionState.stdCompressor);
        gConversionState.stdCompressor = nullptr;
    }
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(StreamOutputTest, DvAviFramesByRowCount)
{
    struct Case
    {
        int rows, isPal;
        const char *probed;
    } cases[] = {{576, 1, "dvvideo,720,576,6"}, {480, 0, "dvvideo,720,480,6"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rows);
        gEngineSettings.sourceIsPal = c.isPal;
        gEngineSettings.sourceIsNtsc = !c.isPal;
        const std::string path = OutDir() + "/dv_" + std::to_string(c.rows) + ".avi";
        SetOutputFrameSize(720, c.rows);
        ASSERT_EQ(AviBeginDV(path.c_str(), 6, c.isPal), 1);
        ASSERT_EQ(AllocOutputGWorld(720, c.rows, 720, c.rows), 1);
        for (int i = 0; i < 6; i++) {
            const std::vector<uint8_t> f = Frame(720, c.rows, i);
            ASSERT_EQ(CompressDvFrameToAvi(f.data(), 720, c.rows), 1);
            // PAL DV for 576 rows, NTSC DV otherwise, whatever the source family.
            EXPECT_EQ((*gOutputPicture.dvDescription)->dataSize, c.rows == 576 ? 144000 : 120000);
        }
        EXPECT_EQ(FreeOutputGWorld(), 1);
        AviCloseOutput();
        EXPECT_EQ(ProbeVideo(path), c.probed);
    }
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(StreamOutputTest, FailedPictureSetsUpNothing)
{
    // An empty picture cannot be made; the track is not created either.
    Movie movie = NewMovie(0);
    EXPECT_EQ(BeginOutputVideoTrack(movie, 0, 0, 720, 480), 0);
    EXPECT_EQ(gOutputPicture.gworld, nullptr);
    EXPECT_EQ(gOutputPicture.pixelBase, nullptr);
    EXPECT_EQ(gOutputPicture.videoTrack, nullptr);
    EXPECT_EQ(GetMovieTrackCount(movie), 0);
    EXPECT_EQ(AllocOutputGWorld(0, 0, 720, 480), 0);
    EXPECT_EQ(gOutputPicture.dvBuffer, nullptr);
    const std::string text = "NewGWorld Error\rDisplay depth not 24 bits minimum\nOr out of memory";
    ASSERT_EQ(messages.Texts().size(), 2u);
    EXPECT_EQ(messages.Texts()[0].rfind(text, 0), 0u) << messages.Texts()[0];
    EXPECT_EQ(gProcessControl.errorShown.load(), 1);
    DisposeMovie(movie);
}

TEST_F(StreamOutputTest, BadFramesAreNotWritten)
{
    const std::string path = OutDir() + "/dv_bad.avi";
    SetOutputFrameSize(720, 480);
    ASSERT_EQ(AviBeginDV(path.c_str(), 3, 0), 1);
    ASSERT_EQ(AllocOutputGWorld(720, 480, 720, 480), 1);
    const std::vector<uint8_t> good = Frame(720, 480, 0);
    ASSERT_EQ(CompressDvFrameToAvi(good.data(), 720, 480), 1);
    // More rows than the picture holds: refused before anything is copied.
    const std::vector<uint8_t> tall = Frame(720, 576, 0);
    EXPECT_EQ(CompressDvFrameToAvi(tall.data(), 720, 576), 0);
    EXPECT_EQ(AddCompressedFrame(tall.data(), 720, 576), 0);
    ASSERT_EQ(CompressDvFrameToAvi(good.data(), 720, 480), 1);
    FreeOutputGWorld();
    AviCloseOutput();
    EXPECT_EQ(ProbeVideo(path), "dvvideo,720,480,2");

    // A picture DV cannot take: the failure is shown, no frame chunk is written.
    const std::string odd = OutDir() + "/dv_odd.avi";
    SetOutputFrameSize(640, 480);
    ASSERT_EQ(AviBeginDV(odd.c_str(), 2, 0), 1);
    ASSERT_EQ(AllocOutputGWorld(640, 480, 640, 480), 1);
    const std::vector<uint8_t> small = Frame(640, 480, 0);
    EXPECT_EQ(CompressDvFrameToAvi(small.data(), 640, 480), 0);
    EXPECT_EQ(gProcessControl.errorShown.load(), 1);
    ASSERT_FALSE(messages.Texts().empty());
    EXPECT_EQ(messages.Texts().back().rfind("CompressImage Error", 0), 0u);
    EXPECT_EQ(gAviWriteState.totalVideoFrames, 0u);
    FreeOutputGWorld();
    AviCloseOutput();
}

std::vector<char> FileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Groups compressed behind the caller give the file that frame-by-frame compression gives, even
// when the caller reuses its frame buffers as soon as a group is begun; frames that cannot be
// compressed are shown in their place and not written.
TEST_F(StreamOutputTest, FrameGroupsWriteWhatFrameByFrameWrites)
{
    const int groups[] = {6, 4, 5};
    // One name for both: the file holds its own name.
    const std::string path = OutDir() + "/dv_groups.avi";
    std::vector<char> bytes[2];
    for (int grouped = 0; grouped < 2; grouped++) {
        SetOutputFrameSize(720, 576);
        ASSERT_EQ(AviBeginDV(path.c_str(), 15, 1), 1);
        ASSERT_EQ(AllocOutputGWorld(720, 576, 720, 576), 1);
        int index = 0;
        std::vector<std::vector<uint8_t>> frames(kGroupPictures);
        for (int count : groups) {
            const uint8_t *pointers[kGroupPictures] = {};
            for (int k = 0; k < count; k++) {
                frames[size_t(k)] = Frame(720, 576, index++);
                pointers[k] = frames[size_t(k)].data();
            }
            if (grouped) {
                BeginDvFrameGroup(pointers, count, 720, 576);
                for (std::vector<uint8_t> &f : frames) {
                    std::fill(f.begin(), f.end(), uint8_t(0));
                }
                EndDvFrameGroup();
            } else {
                for (int k = 0; k < count; k++) {
                    ASSERT_EQ(CompressDvFrameToAvi(pointers[k], 720, 576), 1);
                }
            }
        }
        FreeOutputGWorld();
        AviCloseOutput();
        bytes[grouped] = FileBytes(path);
    }
    EXPECT_EQ(ProbeVideo(path), "dvvideo,720,576,15");
    EXPECT_TRUE(bytes[0] == bytes[1]);
    EXPECT_TRUE(messages.Texts().empty());

    // A picture DV cannot take: the first frame's failure is shown (the movie ends there),
    // nothing is written.
    const std::string odd = OutDir() + "/dv_odd_group.avi";
    SetOutputFrameSize(640, 480);
    ASSERT_EQ(AviBeginDV(odd.c_str(), 2, 0), 1);
    ASSERT_EQ(AllocOutputGWorld(640, 480, 640, 480), 1);
    const std::vector<uint8_t> small = Frame(640, 480, 0);
    const uint8_t *pair[2] = {small.data(), small.data()};
    BeginDvFrameGroup(pair, 2, 640, 480);
    EndDvFrameGroup();
    ASSERT_EQ(messages.Texts().size(), 1u);
    EXPECT_EQ(messages.Texts()[0].rfind("CompressImage Error", 0), 0u);
    EXPECT_EQ(gAviWriteState.totalVideoFrames, 0u);
    FreeOutputGWorld();
    AviCloseOutput();
}

TEST_F(StreamOutputTest, FailedCompressionIsShownAndAddsNothing)
{
    // 'dvc ' takes only its own frame size: the standard compression fails on 960 x 544.
    gConversionState.stdCompressor =
        OpenDefaultComponent(StandardCompressionType, StandardCompressionSubType);
    Movie movie = NewMovie(0);
    ASSERT_EQ(BeginOutputVideoTrack(movie, 960, 544, 960, 544), 1);
    const std::vector<uint8_t> f = Frame(960, 544, 0);
    EXPECT_EQ(AddCompressedFrame(f.data(), 960, 544), 0);
    EXPECT_EQ(GetMediaSampleCount(gOutputPicture.videoMedia), 0);
    ASSERT_EQ(messages.Texts().size(), 1u);
    EXPECT_EQ(messages.Texts()[0].rfind("SCCompressImage Error", 0), 0u);
    EXPECT_EQ(EndMediaEdits(gOutputPicture.videoMedia), noErr);
    FreeOutputGWorld();
    DisposeMovie(movie);
}

} // namespace
