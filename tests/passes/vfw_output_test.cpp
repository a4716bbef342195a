#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "formats/avi_writer.h"
#include "passes/vfw_output.h"
#include "tests/passes/passes_fixture.h"
#include "tests/platform/vfw/vfw_test_support.h"

namespace {

constexpr DWORD kMjpg = mmioFOURCC('M', 'J', 'P', 'G');
constexpr const char *kError3 =
    "Codec error 3, ICCompressBegin failed, try another compression format";
constexpr const char *kError4 =
    "Codec error 4, probably cannot encode from rgb24, try another compression format";
constexpr const char *kError5 =
    "Codec error 5, probably cannot encode from rgb24, try another compression format";
constexpr const char *kCindrellError =
    "Cindrell Codec error, Cindrell output folder not configured?";

// A compressor installed for a case: what it answers is set per case.
struct FakeCompressor
{
    LRESULT formatBytes = 40; // ICM_COMPRESS_GET_FORMAT without an output format
    LRESULT formatResult = ICERR_OK;
    LRESULT beginResult = ICERR_OK;
    LRESULT compressResult = ICERR_OK;
    LRESULT frameSize = 1000;    // ICM_COMPRESS_GET_SIZE
    DWORD compressedBytes = 100; // biSizeImage left by a compression
    DWORD code = 0;
    std::vector<UINT> messages;
};
FakeCompressor gFake;

LRESULT FakeProc(UINT msg, DWORD_PTR dw1, DWORD_PTR dw2)
{
    gFake.messages.push_back(msg);
    switch (msg) {
    case ICM_COMPRESS_GET_FORMAT:
        if (!dw2) {
            return gFake.formatBytes;
        }
        if (gFake.formatResult == ICERR_OK) {
            // Writes the whole format it asked for: a block that is too small shows under ASan.
            auto *out = reinterpret_cast<uint8_t *>(dw2);
            std::memset(out, 0, size_t(gFake.formatBytes));
            BITMAPINFOHEADER f = *reinterpret_cast<const BITMAPINFOHEADER *>(dw1);
            f.biSize = DWORD(gFake.formatBytes);
            f.biCompression = gFake.code;
            std::memcpy(out, &f, 40);
        }
        return gFake.formatResult;
    case ICM_COMPRESS_BEGIN:
        return gFake.beginResult;
    case ICM_COMPRESS_GET_SIZE:
        return gFake.frameSize;
    case ICM_COMPRESS: {
        const auto *ic = reinterpret_cast<const ICCOMPRESS *>(dw1);
        ic->lpbiOutput->biSizeImage = gFake.compressedBytes;
        std::memset(ic->lpOutput, 0x5a,
                    std::min<size_t>(gFake.compressedBytes, size_t(gFake.frameSize)));
        return gFake.compressResult;
    }
    default:
        return ICERR_OK;
    }
}

class VfwOutputTest : public PassesTest
{
protected:
    void SetUp() override
    {
        PassesTest::SetUp();
        ClearScriptedCompressors();
        EndAviVideoCompression();
        gVfwOutputState.compressorVars = COMPVARS{};
        gFake = FakeCompressor{};
        path =
            VfwFixture("out_" + std::to_string(::getpid()) + "_"
                       + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".avi");
        std::remove(path.c_str());
    }
    void TearDown() override
    {
        EndAviVideoCompression();
        AviCloseOutput();
        ICRemove(ICTYPE_VIDEO, gFake.code);
        ClearScriptedCompressors();
        std::remove(path.c_str());
        PassesTest::TearDown();
    }
    void InstallFake(DWORD code)
    {
        gFake.code = code;
        ASSERT_TRUE(ICInstall(ICTYPE_VIDEO, code, FakeProc, "Fake"));
    }
    // Begins a movie of w x h as batch item `item`.
    int Begin(int item, int w, int h, uint32_t frames = 2)
    {
        gConversionState.batchItemIndex = item;
        SetOutputFrameSize(w, h);
        return BeginAviVideoCompression(path.c_str(), frames, 1, 25);
    }
    std::string Probe(const std::string &entry)
    {
        const std::string out = path + ".probe";
        RunCommand("ffprobe -v error -select_streams v:0 -show_entries stream=" + entry
                   + " -of default=nw=1:nk=1 '" + path + "' >'" + out + "'");
        const std::vector<uint8_t> b = ReadFileBytes(out);
        std::remove(out.c_str());
        std::string s(b.begin(), b.end());
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) {
            s.pop_back();
        }
        return s;
    }
    // ffmpeg's decode of the first frame as bottom-up B, G, R rows.
    std::vector<uint8_t> FfmpegFrame(int w, int h)
    {
        const std::string out = path + ".bgr";
        EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -y -i '" + path
                             + "' -frames:v 1 -vf vflip -pix_fmt bgr24 -f rawvideo '" + out + "'"),
                  0);
        std::vector<uint8_t> b = ReadFileBytes(out);
        std::remove(out.c_str());
        EXPECT_EQ(b.size(), size_t(w) * h * 3);
        return b;
    }
    std::vector<std::string> Texts() { return messages.Texts(); }

    std::string path;
};

// Every compressor the chooser offers writes an AVI that ffmpeg reads cleanly, with its code and
// the frames given.
TEST_F(VfwOutputTest, EveryCompressorWritesAnAviFfmpegDecodes)
{
    ICINFO info;
    for (DWORD i = 1; ICInfo(ICTYPE_VIDEO, i, &info); i++) {
        const DWORD code = info.fccHandler;
        SCOPED_TRACE(CodeText(code));
        int w, h;
        CompressorTestSize(code, &w, &h);
        QueueScriptedCompressor(code);
        ASSERT_EQ(Begin(0, w, h), 1);
        EXPECT_EQ(gVfwOutputState.chosenHandler, code);
        const std::vector<uint8_t> src = TestPicture(w, h, 3);
        for (int f = 0; f < 2; f++) {
            EXPECT_GT(CompressAviFrame(src.data()), 0u);
        }
        EndAviVideoCompression();
        AviCloseOutput();
        EXPECT_EQ(Probe("codec_tag_string"), CodeText(code));
        EXPECT_EQ(Probe("width,height"), std::to_string(w) + "\n" + std::to_string(h));
        std::string err;
        EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null -", &err), 0);
        EXPECT_EQ(err, "");
        const std::vector<uint8_t> decoded = FfmpegFrame(w, h);
        if (decoded.size() == src.size()) {
            const double diff = MeanDifference(src.data(), 3, decoded.data(), 3, w, h);
            EXPECT_LT(diff, IsLosslessCode(code) ? 0.01 : 4.0);
        }
    }
    EXPECT_TRUE(Texts().empty());
}

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
