#include "tests/passes/vfw_output_fixture.h"

namespace {

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
        EXPECT_EQ(Probe("codec_tag_string,width,height"),
                  CodeText(code) + "\n" + std::to_string(w) + "\n" + std::to_string(h));
        // The whole file decodes without a word, and its first frame is the picture given.
        const std::string bgr = path + ".bgr";
        std::string err;
        EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -y -i '" + path + "' -f null - -frames:v 1"
                                 + " -vf vflip -pix_fmt bgr24 -f rawvideo '" + bgr + "'",
                             &err),
                  0);
        EXPECT_EQ(err, "");
        const std::vector<uint8_t> decoded = ReadFileBytes(bgr);
        std::remove(bgr.c_str());
        EXPECT_EQ(decoded.size(), src.size());
        if (decoded.size() == src.size()) {
            const double diff = MeanDifference(src.data(), 3, decoded.data(), 3, w, h);
            EXPECT_LT(diff, IsLosslessCode(code) ? 0.01 : 4.0);
        }
    }
    EXPECT_TRUE(Texts().empty());
}

} // namespace
