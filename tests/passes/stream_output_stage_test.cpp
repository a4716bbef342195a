#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "formats/avi_writer.h"
#include "mpeg2/output_stage.h"
#include "mpeg2/output_stage_hooks.h"
#include "mpeg2/yuv_to_rgb_scale.h"
#include "passes/conversion_state.h"
#include "passes/process_control.h"
#include "passes/stream_output.h"
#include "passes/stream_output_setup.h"
#include "platform/media/movies.h"
#include "platform/media/standard_compression.h"
#include "platform/sys/bytes.h"
#include "platform/sys/clock.h"
#include "platform/ui/message_box.h"
#include "tests/mpeg2/output_stage_test_support.h"
#include "tests/passes/stream_output_test_support.h"

namespace {

// Fake decoded pictures pushed through the output stage into the real writers, set up and
// closed as ProcessMovie does for an MPEG-2 source.
class StreamOutputStageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        clock.Install();
        dir = std::string(LC_BINARY_DIR) + "/stream_output";
        ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
        ResetConversionOptions(gConversionOptions);
        SetYuvToRgbScale();
        gEngineSettings = EngineSettings{};
        ResetCadenceCounter();
        gConversionState = ConversionState{};
        gConversionState.sampleDuration = 100;
        gConversionState.ntscOutputHeight = 480;
        gProcessControl.running = 1;
        gProcessControl.passesLeft = 1;
        gProcessControl.errorShown = 0;
        InstallStreamOutputHooks();
        ASSERT_EQ(AllocateFrameStore(), 1);
        ASSERT_TRUE(AllocateDecodedPictureBuffers());
        OutputStageDecoderLink &d = gOutputStageDecoder;
        *d.sequenceSeen = 1;
        *d.previewFrameNumber = 1;
        *d.paused = 0;
        *d.faultCode = 0;
    }
    void TearDown() override
    {
        gOutputStageHooks = OutputStageHooks{};
        gProcessControl.running = 0;
        ReleaseFrameStore();
    }
    void Push(int pictures, int width, int height)
    {
        for (int i = 0; i < pictures; i++) {
            const FakePicture p = MakeFakePicture(width, height, 20 + i);
            StoreDecodedFrame(p.planes, StagePictureRecord{}, i);
        }
        CloseStageOutputs();
    }

    lc::FakeClock clock;
    lc::ui::MessageRecorder messages;
    std::string dir;
};

TEST_F(StreamOutputStageTest, NtscStreamTo25pDvAvi)
{
    gEngineSettings.sourceIsNtsc = 1;
    gEngineSettings.sourceIsPal = 0;
    gConversionState.sourceIsNtsc = 1;
    gConversionState.audioSamplesPerFrame = 1601;
    SetStream(720, 480, 720, 480);
    *gOutputStageDecoder.processingMode = 4;
    gOutputStageTarget = {1, 1, 720, 480};
    const std::string path = dir + "/stage_25p.avi";
    SetOutputFrameSize(720, 576);
    ASSERT_EQ(AviBeginDV(path.c_str(), 20, 1), 1);
    ASSERT_EQ(AllocOutputGWorld(720, 576, 720, 480), 1);
    Push(26, 720, 480);
    FreeOutputGWorld();
    EXPECT_EQ(gAviWriteState.fd, -1); // closed by the stage at the end of the final pass
    EXPECT_EQ(ProbeVideo(path), "dvvideo,720,576,20");
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(StreamOutputStageTest, PalStreamToNtscQuickTime)
{
    gEngineSettings.sourceIsPal = 1;
    gEngineSettings.sourceIsNtsc = 0;
    gConversionState.sourceIsPal = 1;
    gConversionState.audioSamplesPerFrame = 1920;
    gConversionState.timeScale = 2997;
    gConversionState.stdCompressor =
        OpenDefaultComponent(StandardCompressionType, StandardCompressionSubType);
    SetStream(720, 576, 720, 576);
    *gOutputStageDecoder.processingMode = 9;
    gOutputStageTarget = {0, 0, 720, 576};

    const std::string path = dir + "/stage_ntsc.mov";
    OutputMovie m;
    ASSERT_EQ(CreateOutputMovie(path, 2997, &m), noErr);
    ASSERT_EQ(BeginOutputVideoTrack(m.movie, 720, 480, 720, 576), 1);
    Push(31, 720, 576);
    ASSERT_EQ(EndOutputVideoTrack(), 1);
    ASSERT_EQ(FinishMovie(&m), noErr);
    CloseComponent(gConversionState.stdCompressor);
    gConversionState.stdCompressor = nullptr;
    EXPECT_EQ(ProbeVideo(path), "dvvideo,720,480,36");
    EXPECT_TRUE(messages.Texts().empty());
}

} // namespace
