#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/vfw/vfw.h"
#include "tests/platform/vfw/vfw_test_support.h"

namespace {

constexpr DWORD kMjpg = mmioFOURCC('M', 'J', 'P', 'G');
constexpr DWORD kDvsd = mmioFOURCC('d', 'v', 's', 'd');

std::vector<DWORD> ListedCompressors()
{
    std::vector<DWORD> codes;
    ICINFO info;
    for (DWORD i = 1; ICInfo(ICTYPE_VIDEO, i, &info); i++) {
        codes.push_back(info.fccHandler);
    }
    return codes;
}

BITMAPINFOHEADER RgbFormat(int width, int height, int bits)
{
    BITMAPINFOHEADER f;
    f.biWidth = width;
    f.biHeight = height;
    f.biBitCount = uint16_t(bits);
    f.biSizeImage = uint32_t(width) * uint32_t(height < 0 ? -height : height) * uint32_t(bits / 8);
    return f;
}

// One frame through a compressor: its output format (with any set-up bytes) and the frame.
struct Compressed
{
    std::vector<uint8_t> format;
    std::vector<uint8_t> data;
};

Compressed CompressOne(DWORD code, const BITMAPINFOHEADER &inFormat, const uint8_t *bits)
{
    Compressed c;
    HIC hic = ICOpen(ICTYPE_VIDEO, code, ICMODE_COMPRESS);
    EXPECT_NE(hic, nullptr);
    if (!hic) {
        return c;
    }
    BITMAPINFOHEADER in = inFormat;
    const LRESULT n = ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, DWORD_PTR(&in), 0);
    EXPECT_GE(n, 40);
    c.format.assign(size_t(std::max<LRESULT>(n, 40)), 0);
    auto *out = reinterpret_cast<BITMAPINFOHEADER *>(c.format.data());
    EXPECT_EQ(ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, DWORD_PTR(&in), DWORD_PTR(out)),
              ICERR_OK);
    EXPECT_EQ(out->biCompression, code);
    EXPECT_EQ(ICSendMessage(hic, ICM_COMPRESS_BEGIN, DWORD_PTR(&in), DWORD_PTR(out)), ICERR_OK);
    const LRESULT size = ICSendMessage(hic, ICM_COMPRESS_GET_SIZE, DWORD_PTR(&in), DWORD_PTR(out));
    EXPECT_GT(size, 0);
    c.data.assign(size_t(std::max<LRESULT>(size, 1)), 0);
    DWORD flags = 0;
    EXPECT_EQ(ICCompress(hic, ICCOMPRESS_KEYFRAME, out, c.data.data(), &in, bits, nullptr, &flags,
                         0, 0, 0, nullptr, nullptr),
              DWORD(ICERR_OK));
    EXPECT_EQ(flags, AVIIF_KEYFRAME);
    EXPECT_GT(out->biSizeImage, 0u);
    EXPECT_LE(out->biSizeImage, c.data.size());
    c.data.resize(out->biSizeImage);
    ICSendMessage(hic, ICM_COMPRESS_END, 0, 0);
    ICClose(hic);
    return c;
}

// Decompresses into an output of outHeight rows (negative: top-down) and bits per pixel, with
// guard bytes after it. ICERR_OK or the error.
DWORD DecompressOne(DWORD code, std::vector<uint8_t> format, const std::vector<uint8_t> &data,
                    int outHeight, int bits, std::vector<uint8_t> *pixels)
{
    auto *in = reinterpret_cast<BITMAPINFOHEADER *>(format.data());
    in->biSizeImage = uint32_t(data.size());
    HIC hic = ICOpen(ICTYPE_VIDEO, code, ICMODE_DECOMPRESS);
    EXPECT_NE(hic, nullptr);
    if (!hic) {
        return DWORD(ICERR_ERROR);
    }
    BITMAPINFOHEADER out = RgbFormat(in->biWidth, outHeight, bits);
    pixels->assign(out.biSizeImage + 64, 0xa5);
    DWORD r = DWORD(ICSendMessage(hic, ICM_DECOMPRESS_BEGIN, DWORD_PTR(in), DWORD_PTR(&out)));
    if (r == DWORD(ICERR_OK)) {
        r = ICDecompress(hic, 0, in, data.data(), &out, pixels->data());
    }
    for (size_t i = out.biSizeImage; i < pixels->size(); i++) {
        EXPECT_EQ((*pixels)[i], 0xa5) << "written past the frame at " << i;
    }
    pixels->resize(out.biSizeImage);
    ICSendMessage(hic, ICM_DECOMPRESS_END, 0, 0);
    ICClose(hic);
    return r;
}

TEST(VfwRegistry, OffersFullFramesFirstAndTheLibavcodecCompressors)
{
    ICINFO info;
    ASSERT_TRUE(ICInfo(ICTYPE_VIDEO, 0, &info));
    EXPECT_STREQ(info.szDescription, "Full Frames (Uncompressed)");
    EXPECT_EQ(info.fccHandler, kFullFramesHandler);
    const std::vector<DWORD> codes = ListedCompressors();
    for (DWORD want : {kDvsd, mmioFOURCC('d', 'v', '5', '0'), kMjpg, mmioFOURCC('F', 'F', 'V', '1'),
                       mmioFOURCC('H', 'F', 'Y', 'U')}) {
        EXPECT_NE(std::find(codes.begin(), codes.end(), want), codes.end()) << CodeText(want);
    }
}

TEST(VfwRegistry, MissingCodesAnswerAsMissingCodecs)
{
    struct Case
    {
        DWORD type;
        DWORD code;
        UINT mode;
    } cases[] = {
        {ICTYPE_VIDEO, mmioFOURCC('x', 'y', 'z', 'w'), ICMODE_COMPRESS},
        {ICTYPE_VIDEO, mmioFOURCC('x', 'y', 'z', 'w'), ICMODE_DECOMPRESS},
        {ICTYPE_VIDEO, 0, ICMODE_DECOMPRESS},
        {ICTYPE_VIDEO, mmioFOURCC('H', '2', '6', '4'), ICMODE_DECOMPRESS}, // not intra only
        {ICTYPE_VIDEO, mmioFOURCC('c', 'i', 'n', 'd'), ICMODE_COMPRESS},
        {mmioFOURCC('a', 'u', 'd', 'c'), kMjpg, ICMODE_COMPRESS},
        {ICTYPE_VIDEO, kMjpg, 99},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ICOpen(c.type, c.code, c.mode), nullptr) << CodeText(c.code) << " " << c.mode;
    }
    EXPECT_EQ(ICSendMessage(nullptr, ICM_COMPRESS_BEGIN, 0, 0), ICERR_BADPARAM);
    EXPECT_EQ(ICClose(nullptr), ICERR_OK);
}

TEST(VfwRegistry, CodesMatchWithoutRegardToCase)
{
    for (DWORD code : {mmioFOURCC('D', 'V', 'S', 'D'), mmioFOURCC('m', 'j', 'p', 'g')}) {
        HIC hic = ICOpen(mmioFOURCC('V', 'I', 'D', 'C'), code, ICMODE_DECOMPRESS);
        EXPECT_NE(hic, nullptr) << CodeText(code);
        ICINFO info;
        EXPECT_EQ(ICGetInfo(hic, &info, sizeof info), LRESULT(sizeof info));
        ICClose(hic);
    }
}

// Every listed compressor: a 24-bit bottom-up frame in, a 32-bit bottom-up frame out.
TEST(VfwCompressors, EveryCompressorRoundTripsAFrameAndSurvivesDamage)
{
    for (DWORD code : ListedCompressors()) {
        SCOPED_TRACE(CodeText(code));
        int w, h;
        CompressorTestSize(code, &w, &h);
        const std::vector<uint8_t> src = TestPicture(w, h, 3);
        const Compressed c = CompressOne(code, RgbFormat(w, h, 24), src.data());
        ASSERT_FALSE(c.data.empty());
        std::vector<uint8_t> out;
        ASSERT_EQ(DecompressOne(code, c.format, c.data, h, 32, &out), DWORD(ICERR_OK));
        const double diff = MeanDifference(src.data(), 3, out.data(), 4, w, h);
        if (IsLosslessCode(code)) {
            EXPECT_EQ(diff, 0.0);
        } else {
            EXPECT_LT(diff, 4.0);
        }
        for (size_t i = 3; i < out.size(); i += 4) {
            ASSERT_EQ(out[i], 255) << "fourth byte at " << i;
        }
        // Damaged frames: an error or a picture, never a write past the frame (the guard bytes
        // DecompressOne checks) nor a read past the data (ASan).
        std::vector<uint8_t> damagedBytes = c.data;
        for (size_t i = 40; i < damagedBytes.size(); i += 7) {
            damagedBytes[i] ^= 0x5b;
        }
        const std::vector<uint8_t> &damaged = damagedBytes;
        const std::vector<uint8_t> cut(c.data.begin(), c.data.begin() + long(c.data.size() / 3));
        for (const std::vector<uint8_t> *data : {&damaged, &cut}) {
            (void)DecompressOne(code, c.format, *data, h, 32, &out);
        }
    }
}

// DV keeps lines 4 to 483 of a 486-line picture, bottom-up or top-down.
TEST(VfwCompressors, DvTakesTheMiddleLinesOfA486LinePicture)
{
    const std::vector<uint8_t> src = TestPicture(720, 486, 3);
    // The 480 kept lines, bottom-up: memory rows 2 to 481.
    const std::vector<uint8_t> kept(src.begin() + 2 * 720 * 3, src.begin() + 482 * 720 * 3);
    std::vector<uint8_t> flipped(src.size());
    for (int y = 0; y < 486; y++) {
        std::memcpy(&flipped[size_t(y) * 2160], &src[size_t(485 - y) * 2160], 2160);
    }
    for (int height : {486, -486}) {
        SCOPED_TRACE(height);
        const Compressed c = CompressOne(kDvsd, RgbFormat(720, height, 24),
                                         height > 0 ? src.data() : flipped.data());
        ASSERT_EQ(c.data.size(), 120000u);
        EXPECT_EQ(reinterpret_cast<const BITMAPINFOHEADER *>(c.format.data())->biHeight, 480);
        std::vector<uint8_t> out;
        ASSERT_EQ(DecompressOne(kDvsd, c.format, c.data, 480, 24, &out), DWORD(ICERR_OK));
        EXPECT_LT(MeanDifference(kept.data(), 3, out.data(), 3, 720, 480), 4.0);
    }
}

TEST(VfwCompressors, TakeThirtyTwoBitAndTopDownFrames)
{
    const int w = 70, h = 38;
    const std::vector<uint8_t> src24 = TestPicture(w, h, 3);
    const std::vector<uint8_t> src32 = TestPicture(w, h, 4);
    const DWORD ffv1 = mmioFOURCC('F', 'F', 'V', '1');
    const Compressed a = CompressOne(ffv1, RgbFormat(w, h, 24), src24.data());
    const Compressed b = CompressOne(ffv1, RgbFormat(w, h, 32), src32.data());
    EXPECT_EQ(a.data, b.data);
    // The same rows given top-down.
    std::vector<uint8_t> flipped(src24.size());
    for (int y = 0; y < h; y++) {
        std::memcpy(&flipped[size_t(y) * w * 3], &src24[size_t(h - 1 - y) * w * 3], size_t(w) * 3);
    }
    const Compressed t = CompressOne(ffv1, RgbFormat(w, -h, 24), flipped.data());
    EXPECT_EQ(a.data, t.data);
}

TEST(VfwCompressors, RefuseFormatsTheyCannotTake)
{
    struct Case
    {
        DWORD code;
        BITMAPINFOHEADER in;
    } cases[] = {
        {kDvsd, RgbFormat(640, 480, 24)}, // DV takes its own sizes only
        {kMjpg, RgbFormat(64, 48, 16)},
        {kMjpg, RgbFormat(0, 48, 24)},
        {kMjpg, RgbFormat(64, 5000, 24)},
        {kMjpg,
         [] {
             BITMAPINFOHEADER f = RgbFormat(64, 48, 24);
             f.biCompression = kMjpg;
             return f;
         }()},
    };
    for (const Case &c : cases) {
        HIC hic = ICOpen(ICTYPE_VIDEO, c.code, ICMODE_COMPRESS);
        ASSERT_NE(hic, nullptr);
        BITMAPINFOHEADER in = c.in;
        EXPECT_LT(ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, DWORD_PTR(&in), 0), 0);
        EXPECT_NE(ICSendMessage(hic, ICM_COMPRESS_QUERY, DWORD_PTR(&in), 0), ICERR_OK);
        EXPECT_EQ(ICSendMessage(hic, ICM_COMPRESS_GET_SIZE, DWORD_PTR(&in), 0), 0);
        ICClose(hic);
    }
}

TEST(VfwCompressors, CompressingBeforeBeginFailsAndReportsNoSize)
{
    HIC hic = ICOpen(ICTYPE_VIDEO, kMjpg, ICMODE_COMPRESS);
    ASSERT_NE(hic, nullptr);
    BITMAPINFOHEADER in = RgbFormat(64, 48, 24);
    BITMAPINFOHEADER out;
    ASSERT_EQ(ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, DWORD_PTR(&in), DWORD_PTR(&out)),
              ICERR_OK);
    const std::vector<uint8_t> src = TestPicture(64, 48, 3);
    std::vector<uint8_t> buffer(
        size_t(ICSendMessage(hic, ICM_COMPRESS_GET_SIZE, DWORD_PTR(&in), DWORD_PTR(&out))));
    out.biSizeImage = 12345;
    EXPECT_NE(ICCompress(hic, ICCOMPRESS_KEYFRAME, &out, buffer.data(), &in, src.data(), nullptr,
                         nullptr, 0, 0, 0, nullptr, nullptr),
              DWORD(ICERR_OK));
    EXPECT_EQ(out.biSizeImage, 0u);
    ICClose(hic);
}

// Decompression against ffmpeg's own decodes of frames ffmpeg made: bottom-up rows, B, G, R order.
TEST(VfwDecompressors, MatchFfmpegDecodesInOrientationAndChannelOrder)
{
    struct Case
    {
        const char *name;
        DWORD code;
        int width, height;
        double limit; // mean difference; the colour conversions differ a little in rounding
    } cases[] = {
        {"mjpg_64x48", kMjpg, 64, 48, 1.5},
        {"dvsd_720x480", kDvsd, 720, 480, 1.5},
        {"dvsd_720x576", mmioFOURCC('D', 'V', 'S', 'D'), 720, 576, 1.5},
        {"dv50_720x576", mmioFOURCC('d', 'v', '5', '0'), 720, 576, 1.5},
        {"yuy2_64x48", mmioFOURCC('Y', 'U', 'Y', '2'), 64, 48, 1.5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> data = ReadFileBytes(VfwFixture(std::string(c.name) + ".bin"));
        const std::vector<uint8_t> ref = ReadFileBytes(VfwFixture(std::string(c.name) + ".bgra"));
        ASSERT_EQ(ref.size(), size_t(c.width) * c.height * 4);
        BITMAPINFOHEADER in = RgbFormat(c.width, c.height, 24);
        in.biCompression = c.code;
        in.biBitCount = c.code == mmioFOURCC('Y', 'U', 'Y', '2') ? 16 : 24;
        std::vector<uint8_t> format(40);
        std::memcpy(format.data(), &in, 40);
        // Bottom-up 32-bit: row y is ffmpeg's row height - 1 - y.
        std::vector<uint8_t> up;
        ASSERT_EQ(DecompressOne(c.code, format, data, c.height, 32, &up), DWORD(ICERR_OK));
        std::vector<uint8_t> flipped(up.size());
        const size_t row = size_t(c.width) * 4;
        for (int y = 0; y < c.height; y++) {
            std::memcpy(&flipped[size_t(y) * row], &up[size_t(c.height - 1 - y) * row], row);
        }
        EXPECT_LT(MeanDifference(flipped.data(), 4, ref.data(), 4, c.width, c.height), c.limit);
        // A swap of blue and red is far off.
        std::vector<uint8_t> swapped = flipped;
        for (size_t i = 0; i < swapped.size(); i += 4) {
            std::swap(swapped[i], swapped[i + 2]);
        }
        EXPECT_GT(MeanDifference(swapped.data(), 4, ref.data(), 4, c.width, c.height), 10.0);
        // Top-down 32-bit and bottom-up 24-bit give the same pixels.
        std::vector<uint8_t> down, up24;
        ASSERT_EQ(DecompressOne(c.code, format, data, -c.height, 32, &down), DWORD(ICERR_OK));
        EXPECT_EQ(down, flipped);
        ASSERT_EQ(DecompressOne(c.code, format, data, c.height, 24, &up24), DWORD(ICERR_OK));
        EXPECT_EQ(MeanDifference(up24.data(), 3, up.data(), 4, c.width, c.height), 0.0);
    }
}

TEST(VfwDecompressors, RefuseBadFramesAndFormatsWithoutWritingPastTheFrame)
{
    const std::vector<uint8_t> jpeg = ReadFileBytes(VfwFixture("mjpg_64x48.bin"));
    BITMAPINFOHEADER in = RgbFormat(64, 48, 24);
    in.biCompression = kMjpg;
    std::vector<uint8_t> format(40);
    std::memcpy(format.data(), &in, 40);
    std::vector<uint8_t> out;
    // A picture larger than the format says: refused, nothing written past the buffer.
    BITMAPINFOHEADER small = in;
    small.biWidth = 32;
    small.biHeight = 24;
    std::vector<uint8_t> smallFormat(40);
    std::memcpy(smallFormat.data(), &small, 40);
    EXPECT_EQ(DecompressOne(kMjpg, smallFormat, jpeg, 24, 32, &out), DWORD(ICERR_BADFORMAT));
    // A cut frame and an empty one.
    const std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + 100);
    EXPECT_NE(DecompressOne(kMjpg, format, cut, 48, 32, &out), DWORD(ICERR_OK));
    EXPECT_NE(DecompressOne(kMjpg, format, {}, 48, 32, &out), DWORD(ICERR_OK));
    const std::vector<uint8_t> dv = ReadFileBytes(VfwFixture("dvsd_720x480.bin"));
    BITMAPINFOHEADER dvIn = RgbFormat(720, 480, 24);
    dvIn.biCompression = kDvsd;
    std::vector<uint8_t> dvFormat(40);
    std::memcpy(dvFormat.data(), &dvIn, 40);
    const std::vector<uint8_t> half(dv.begin(), dv.begin() + long(dv.size() / 2));
    EXPECT_NE(DecompressOne(kDvsd, dvFormat, half, 480, 32, &out), DWORD(ICERR_OK));
    // Output of another size, or not RGB, is refused at begin.
    HIC hic = ICOpen(ICTYPE_VIDEO, kMjpg, ICMODE_DECOMPRESS);
    BITMAPINFOHEADER wrong = RgbFormat(64, 40, 32);
    EXPECT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_BEGIN, DWORD_PTR(&in), DWORD_PTR(&wrong)),
              ICERR_BADFORMAT);
    wrong = RgbFormat(64, 48, 16);
    EXPECT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_QUERY, DWORD_PTR(&in), DWORD_PTR(&wrong)),
              ICERR_BADFORMAT);
    BITMAPINFOHEADER got;
    EXPECT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_GET_FORMAT, DWORD_PTR(&in), 0), 40);
    EXPECT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_GET_FORMAT, DWORD_PTR(&in), DWORD_PTR(&got)),
              ICERR_OK);
    EXPECT_EQ(got.biBitCount, 32);
    EXPECT_EQ(got.biHeight, 48);
    EXPECT_EQ(got.biSizeImage, 64u * 48 * 4);
    ICClose(hic);
}

// A decompressor handle asked for compression formats (the DV50 set-up sends one) leaves the
// caller's formats alone.
TEST(VfwDecompressors, IgnoreCompressionMessages)
{
    HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('d', 'v', '5', '0'), ICMODE_DECOMPRESS);
    ASSERT_NE(hic, nullptr);
    BITMAPINFOHEADER out = RgbFormat(720, 576, 32);
    BITMAPINFOHEADER in = RgbFormat(720, 576, 24);
    in.biCompression = mmioFOURCC('d', 'v', '5', '0');
    const BITMAPINFOHEADER before = in;
    EXPECT_EQ(ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, DWORD_PTR(&out), DWORD_PTR(&in)),
              ICERR_UNSUPPORTED);
    EXPECT_EQ(std::memcmp(&in, &before, sizeof in), 0);
    EXPECT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_GET_FORMAT, DWORD_PTR(&in), DWORD_PTR(&out)),
              ICERR_OK);
    EXPECT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_BEGIN, DWORD_PTR(&in), DWORD_PTR(&out)), ICERR_OK);
    ICClose(hic);
}

// The chooser, scripted and installed.
class VfwChooser : public ::testing::Test
{
protected:
    void SetUp() override { ClearScriptedCompressors(); }
    void TearDown() override
    {
        ClearScriptedCompressors();
        SetCompressorChooser(nullptr);
    }
    static COMPVARS Fresh()
    {
        COMPVARS cv;
        cv.cbSize = kCompVarsSize;
        return cv;
    }
};

TEST_F(VfwChooser, ScriptedAnswers)
{
    struct Case
    {
        bool queue;
        DWORD code;
        bool cancel;
        BOOL result;
        bool open;
    } cases[] = {
        {true, kMjpg, false, 1, true},
        {true, kFullFramesHandler, false, 1, false},
        {true, kMjpg, true, 0, false},
        {false, 0, false, 0, false}, // nothing queued: cancelled
        {true, mmioFOURCC('n', 'o', 'n', 'e'), false, 0, false},
    };
    int requests = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(CodeText(c.code));
        if (c.queue) {
            QueueScriptedCompressor(c.code, c.cancel);
        }
        COMPVARS cv = Fresh();
        EXPECT_EQ(ICCompressorChoose(nullptr, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, nullptr,
                                     nullptr, &cv, nullptr),
                  c.result);
        EXPECT_EQ(ScriptedCompressorRequests(), ++requests);
        EXPECT_EQ(cv.hic != nullptr, c.open);
        if (c.result) {
            EXPECT_EQ(cv.fccHandler, c.code);
            EXPECT_EQ(cv.dwFlags, ICMF_COMPVARS_VALID);
        } else {
            EXPECT_EQ(cv.fccHandler, 0u); // unchanged
        }
        ICCompressorFree(&cv);
    }
    COMPVARS bad;
    bad.cbSize = 12;
    QueueScriptedCompressor(kMjpg);
    EXPECT_EQ(ICCompressorChoose(nullptr, 0, nullptr, nullptr, &bad, nullptr), 0);
    EXPECT_EQ(ICCompressorChoose(nullptr, 0, nullptr, nullptr, nullptr, nullptr), 0);
}

TEST_F(VfwChooser, InstalledChooserSeesTheListAndTheCurrentChoice)
{
    static std::vector<std::string> seen;
    static int seenCurrent = -1;
    seen.clear();
    SetCompressorChooser(
        [](void *, const ICINFO *list, int count, int current, const char *, int *chosen) {
            for (int i = 0; i < count; i++) {
                seen.push_back(list[i].szDescription);
            }
            seenCurrent = current;
            *chosen = current;
            return true;
        });
    COMPVARS cv = Fresh();
    cv.dwFlags = ICMF_COMPVARS_VALID;
    cv.fccHandler = kMjpg;
    ASSERT_EQ(ICCompressorChoose(nullptr, 0, nullptr, nullptr, &cv, "Title"), 1);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0], "Full Frames (Uncompressed)");
    ICINFO info;
    ASSERT_TRUE(ICInfo(ICTYPE_VIDEO, DWORD(seenCurrent), &info));
    EXPECT_EQ(info.fccHandler, kMjpg);
    EXPECT_NE(cv.hic, nullptr);
    ICCompressorFree(&cv);
    EXPECT_EQ(cv.hic, nullptr);
}

TEST(VfwInstall, InstalledCompressorAnswersItsMessagesAndIsListed)
{
    const DWORD code = mmioFOURCC('t', 'e', 's', 't');
    static std::vector<UINT> messages;
    messages.clear();
    ASSERT_TRUE(ICInstall(
        ICTYPE_VIDEO, code,
        [](UINT msg, DWORD_PTR, DWORD_PTR) -> LRESULT {
            messages.push_back(msg);
            return 7;
        },
        "Test compressor"));
    const std::vector<DWORD> codes = ListedCompressors();
    EXPECT_EQ(codes.back(), code);
    HIC hic = ICOpen(ICTYPE_VIDEO, code, ICMODE_COMPRESS);
    ASSERT_NE(hic, nullptr);
    EXPECT_EQ(ICSendMessage(hic, ICM_COMPRESS_BEGIN, 0, 0), 7);
    ICClose(hic);
    EXPECT_EQ(messages, std::vector<UINT>{ICM_COMPRESS_BEGIN});
    EXPECT_TRUE(ICRemove(ICTYPE_VIDEO, code));
    EXPECT_FALSE(ICRemove(ICTYPE_VIDEO, code));
    EXPECT_EQ(ICOpen(ICTYPE_VIDEO, code, ICMODE_COMPRESS), nullptr);
    EXPECT_FALSE(ICInstall(ICTYPE_VIDEO, code, nullptr, "x"));
}

} // namespace
