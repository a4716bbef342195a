#pragma once

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "formats/avi_writer.h"
#include "passes/process_movie.h"
#include "passes/vfw_output.h"
#include "tests/passes/passes_fixture.h"
#include "tests/platform/vfw/vfw_test_support.h"

// The AVI output tests' fixture: fresh records, a compressor the case sets up, ffmpeg checks.

inline constexpr DWORD kMjpg = mmioFOURCC('M', 'J', 'P', 'G');
inline constexpr const char *kError3 =
    "Codec error 3, ICCompressBegin failed, try another compression format";
inline constexpr const char *kError4 =
    "Codec error 4, probably cannot encode from rgb24, try another compression format";
inline constexpr const char *kError5 =
    "Codec error 5, probably cannot encode from rgb24, try another compression format";
inline constexpr const char *kCindrellError =
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
inline FakeCompressor gFake;

inline LRESULT FakeProc(UINT msg, DWORD_PTR dw1, DWORD_PTR dw2)
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
    // A single movie (item 0) or the first batch line starts a run, as the processing thread
    // starts one.
    int Begin(int item, int w, int h, uint32_t frames = 2)
    {
        if (item <= 1) {
            StartProcessingRun();
        }
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
