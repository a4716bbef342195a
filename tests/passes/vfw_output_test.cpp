#include "tests/passes/vfw_output_fixture.h"

namespace {

TEST_F(VfwOutputTest, CancelReturnsZeroAndShowsNothing)
{
    QueueScriptedCompressor(kMjpg, true);
    EXPECT_EQ(Begin(1, 64, 48), 0);
    EXPECT_TRUE(Texts().empty());
    EXPECT_EQ(gVfwOutputState.compressorVars.hic, nullptr);
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST_F(VfwOutputTest, FullFramesWriteRgb24ForTheWholeBatch)
{
    QueueScriptedCompressor(kFullFramesHandler);
    ASSERT_EQ(Begin(1, 64, 48), 1);
    EXPECT_EQ(gConversionState.uncompressedOutput, 1);
    EXPECT_EQ(gVfwOutputState.inputFormat.biSize, 40u);
    EXPECT_EQ(gVfwOutputState.inputFormat.biBitCount, 24);
    const std::vector<uint8_t> src = TestPicture(64, 48, 3);
    EXPECT_EQ(CompressAviFrame(src.data()), 64u * 48 * 3);
    EXPECT_EQ(CompressAviFrame(src.data()), 64u * 48 * 3);
    EndAviVideoCompression();
    AviCloseOutput();
    EXPECT_EQ(Probe("codec_name"), "rawvideo");
    EXPECT_EQ(FfmpegFrame(64, 48), src);
    // The next batch movie asks nothing and stays uncompressed.
    const int asked = ScriptedCompressorRequests();
    ASSERT_EQ(Begin(2, 32, 16), 1);
    EXPECT_EQ(ScriptedCompressorRequests(), asked);
    EXPECT_EQ(CompressAviFrame(src.data()), 32u * 16 * 3);
    EndAviVideoCompression();
    AviCloseOutput();
    EXPECT_EQ(Probe("codec_name"), "rawvideo");
    EXPECT_TRUE(Texts().empty());
}

TEST_F(VfwOutputTest, LaterBatchMoviesReuseTheFirstChoiceWithoutAsking)
{
    QueueScriptedCompressor(kMjpg);
    ASSERT_EQ(Begin(1, 64, 48), 1);
    const std::vector<uint8_t> a = TestPicture(64, 48, 3);
    EXPECT_GT(CompressAviFrame(a.data()), 0u);
    EndAviVideoCompression();
    AviCloseOutput();
    EXPECT_EQ(gVfwOutputState.compressorVars.hic, nullptr);
    const int asked = ScriptedCompressorRequests();
    ASSERT_EQ(Begin(2, 96, 64), 1);
    EXPECT_EQ(ScriptedCompressorRequests(), asked);
    const std::vector<uint8_t> b = TestPicture(96, 64, 3);
    EXPECT_GT(CompressAviFrame(b.data()), 0u);
    EndAviVideoCompression();
    AviCloseOutput();
    EXPECT_EQ(Probe("codec_tag_string"), "MJPG");
    EXPECT_EQ(Probe("width,height"), "96\n64");
    EXPECT_LT(MeanDifference(b.data(), 3, FfmpegFrame(96, 64).data(), 3, 96, 64), 4.0);
}

// A batch whose first line was refused before it reached the chooser: the next movie asks, and
// the movies after it reuse that answer.
TEST_F(VfwOutputTest, FirstMovieThatNeedsTheChooserAsksWhateverItsLine)
{
    StartProcessingRun();
    QueueScriptedCompressor(kMjpg);
    const int asked = ScriptedCompressorRequests();
    gConversionState.batchItemIndex = 2;
    SetOutputFrameSize(64, 48);
    ASSERT_EQ(BeginAviVideoCompression(path.c_str(), 2, 1, 25), 1);
    EXPECT_EQ(ScriptedCompressorRequests(), asked + 1);
    EndAviVideoCompression();
    AviCloseOutput();
    EXPECT_EQ(Probe("codec_tag_string"), "MJPG");
    ASSERT_EQ(Begin(3, 64, 48), 1);
    EXPECT_EQ(ScriptedCompressorRequests(), asked + 1);
    EndAviVideoCompression();
    AviCloseOutput();
}

// The codec errors: message, compressor closed, result 0.
TEST_F(VfwOutputTest, CodecErrorsCloseTheCompressor)
{
    struct Case
    {
        const char *name;
        DWORD code;
        LRESULT formatBytes, formatResult, beginResult;
        const char *text;
    } cases[] = {
        {"no format size", mmioFOURCC('f', 'a', 'k', 'e'), 0, ICERR_OK, ICERR_OK, kError5},
        {"format refused", mmioFOURCC('f', 'a', 'k', 'e'), 40, ICERR_BADFORMAT, ICERR_OK, kError4},
        {"begin refused", mmioFOURCC('f', 'a', 'k', 'e'), 40, ICERR_OK, ICERR_ERROR, kError3},
        {"Cindrell begin refused", mmioFOURCC('c', 'i', 'n', 'd'), 40, ICERR_OK, ICERR_ERROR,
         kCindrellError},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        messages.Clear();
        gFake = FakeCompressor{};
        InstallFake(c.code);
        gFake.formatBytes = c.formatBytes;
        gFake.formatResult = c.formatResult;
        gFake.beginResult = c.beginResult;
        QueueScriptedCompressor(c.code);
        EXPECT_EQ(Begin(0, 64, 48), 0);
        EXPECT_EQ(Texts(), std::vector<std::string>{c.text});
        EXPECT_EQ(gVfwOutputState.compressorVars.hic, nullptr);
        EXPECT_EQ(gVfwOutputState.isCindrellCodec, c.code == mmioFOURCC('c', 'i', 'n', 'd'));
        EXPECT_TRUE(ICRemove(ICTYPE_VIDEO, c.code));
    }
}

TEST_F(VfwOutputTest, CompressorGoneForALaterBatchMovieFailsWithError4)
{
    InstallFake(mmioFOURCC('f', 'a', 'k', 'e'));
    QueueScriptedCompressor(gFake.code);
    ASSERT_EQ(Begin(1, 64, 48), 1);
    EndAviVideoCompression();
    AviCloseOutput();
    ASSERT_TRUE(ICRemove(ICTYPE_VIDEO, gFake.code));
    EXPECT_EQ(Begin(2, 64, 48), 0);
    EXPECT_EQ(Texts(), std::vector<std::string>{kError4});
}

// A later movie whose output format is larger than the first one's gets a block that holds it.
TEST_F(VfwOutputTest, OutputFormatGrowsForALaterMovie)
{
    InstallFake(mmioFOURCC('f', 'a', 'k', 'e'));
    QueueScriptedCompressor(gFake.code);
    ASSERT_EQ(Begin(1, 64, 48), 1);
    EndAviVideoCompression();
    AviCloseOutput();
    gFake.formatBytes = 400;
    ASSERT_EQ(Begin(2, 640, 480), 1);
    EXPECT_GE(gVfwOutputState.outputFormatBytes, 400u);
    EXPECT_EQ(gVfwOutputState.outputFormat->biSize, 400u);
    EXPECT_TRUE(Texts().empty());
}

// A frame the compressor fails on, or claims more bytes for than the buffer it was given, is not
// written and counts as an error (0).
TEST_F(VfwOutputTest, FailedFramesWriteNothing)
{
    struct Case
    {
        LRESULT compressResult;
        DWORD compressedBytes;
        LRESULT frameSize;
        uint32_t written;
    } cases[] = {
        {ICERR_OK, 100, 1000, 100}, {ICERR_INTERNAL, 100, 1000, 0}, {ICERR_OK, 0, 1000, 0},
        {ICERR_OK, 5000, 1000, 0},  {ICERR_OK, 100, 0, 0},
    };
    InstallFake(mmioFOURCC('f', 'a', 'k', 'e'));
    QueueScriptedCompressor(gFake.code);
    ASSERT_EQ(Begin(1, 64, 48, 10), 1);
    const std::vector<uint8_t> src = TestPicture(64, 48, 3);
    for (const Case &c : cases) {
        gFake.compressResult = c.compressResult;
        gFake.compressedBytes = c.compressedBytes;
        gFake.frameSize = c.frameSize;
        const uint32_t before = gAviWriteState.totalVideoFrames;
        EXPECT_EQ(CompressAviFrame(src.data()), c.written);
        EXPECT_EQ(gAviWriteState.totalVideoFrames - before, c.written ? 1u : 0u);
    }
}

// A header the AVI writer refuses is no ready output: compression is ended.
TEST_F(VfwOutputTest, RefusedHeaderEndsCompression)
{
    InstallFake(mmioFOURCC('f', 'a', 'k', 'e'));
    gFake.formatBytes = kAviMaxVideoFormatBytes + 4;
    QueueScriptedCompressor(gFake.code);
    EXPECT_EQ(Begin(1, 64, 48), 0);
    EXPECT_EQ(gVfwOutputState.compressorVars.hic, nullptr);
    EXPECT_EQ(gFake.messages.back(), ICM_COMPRESS_END);
}

} // namespace
