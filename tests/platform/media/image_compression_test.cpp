#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "codec_test_support.h"
#include "platform/media/codec_registry.h"
#include "platform/media/image_compression.h"

namespace {

// Decodes a stored sample into a new GWorld of the given depth; returns the result code.
OSErr DecodeTo(TestGWorld &g, OSType cType, int width, int height,
               const std::vector<uint8_t> &sample, int16_t depth = 24)
{
    ImageDescriptionHandle desc = MakeDescription(cType, width, height, int32_t(sample.size()), depth);
    const OSErr err = FDecompressImage(
        reinterpret_cast<Ptr>(const_cast<uint8_t *>(sample.data())), desc, g.pm(), nullptr, nullptr,
        srcCopy, nullptr, nullptr, nullptr, codecMaxQuality, bestFidelityCodec, 0, nullptr, nullptr);
    DisposeDescription(desc);
    return err;
}

struct Compressed
{
    OSErr err = noErr;
    ImageDescription desc{};
    std::vector<uint8_t> data;
};

Compressed CompressFrom(const TestGWorld &g, OSType cType, CodecQ quality = codecMaxQuality)
{
    Compressed c;
    int32_t max = 0;
    c.err = GetMaxCompressionSize(g.pm(), &(**g.pm()).bounds, 0, quality, cType, anyCodec, &max);
    if (c.err != noErr) {
        return c;
    }
    c.data.resize(size_t(max));
    auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
    c.err = CompressImage(g.pm(), nullptr, quality, cType, desc, reinterpret_cast<Ptr>(c.data.data()));
    if (c.err == noErr) {
        EXPECT_EQ(GetHandleSize(reinterpret_cast<Handle>(desc)), 86); // no stray extension bytes
        std::memcpy(&c.desc, *desc, 86);
        c.data.resize(size_t(c.desc.dataSize));
    }
    DisposeHandle(reinterpret_cast<Handle>(desc));
    return c;
}

// Rows of width x bpp bytes out of rows stride bytes apart.
std::vector<uint8_t> Unpad(const std::vector<uint8_t> &rows, int width, int height, int bpp)
{
    const size_t stride = rows.size() / size_t(height);
    std::vector<uint8_t> out;
    for (int y = 0; y < height; y++) {
        out.insert(out.end(), rows.begin() + std::ptrdiff_t(y * stride),
                   rows.begin() + std::ptrdiff_t(y * stride + size_t(width) * bpp));
    }
    return out;
}

} // namespace

// ---- Uncompressed codecs ---------------------------------------------------------------------

TEST(UncompressedCodecs, DecodeBitExactlyAsFfmpeg)
{
    struct Case
    {
        const char *tag;
        int16_t depth;
        const char *expected; // ffmpeg's decode in the GWorld's layout
    } cases[] = {
        {"raw ", 24, "rgb24"}, {"raw ", 32, "argb"},     {"2vuy", 16, "yuyv422"},
        {"yuvs", 16, "yuyv422"}, {"raw ", 16, nullptr}, {"2vuy", 24, nullptr},
        {"yuvs", 32, nullptr},
    };
    for (const char *size : {"35x12", "64x16"}) {
        const int w = std::atoi(size), h = std::atoi(std::strchr(size, 'x') + 1);
        for (const Case &c : cases) {
            std::string tag = c.tag;
            if (tag == "raw ") {
                tag = "raw";
            }
            SCOPED_TRACE(tag + " " + size + " depth " + std::to_string(c.depth));
            const std::string base = CodecFixture("u_" + tag + "_" + size);
            const std::vector<uint8_t> sample = ReadBytes(base + ".sample");
            ASSERT_FALSE(sample.empty());
            TestGWorld g(c.depth, w, h);
            ASSERT_EQ(DecodeTo(g, Code(c.tag), w, h, sample), noErr);
            const int bpp = c.depth / 8;
            const std::vector<uint8_t> got = g.Packed(bpp);
            if (c.expected) {
                const std::vector<uint8_t> want =
                    Unpad(ReadBytes(base + "." + c.expected), w, h, bpp);
                EXPECT_EQ(got, want);
            } else {
                // Across RGB and YUV the conversion is ours: close to ffmpeg's, not equal.
                const char *fmt = c.depth == 16 ? "yuyv422" : c.depth == 24 ? "rgb24" : "argb";
                const std::vector<uint8_t> want = Unpad(ReadBytes(base + "." + fmt), w, h, bpp);
                EXPECT_GT(Psnr(got.data(), want.data(), got.size()), 30.0);
            }
        }
    }
}

TEST(UncompressedCodecs, EncodeGivesTheStoredSampleBack)
{
    for (const char *tag : {"raw ", "2vuy", "yuvs"}) {
        for (const char *size : {"35x12", "64x16"}) {
            SCOPED_TRACE(std::string(tag) + size);
            const int w = std::atoi(size), h = std::atoi(std::strchr(size, 'x') + 1);
            std::string name = tag;
            if (name == "raw ") {
                name = "raw";
            }
            const std::vector<uint8_t> sample = ReadBytes(CodecFixture("u_" + name + "_" + size + ".sample"));
            const int16_t depth = name == "raw" ? 24 : 16;
            TestGWorld g(depth, w, h);
            ASSERT_EQ(DecodeTo(g, Code(tag), w, h, sample), noErr);
            Compressed c = CompressFrom(g, Code(tag));
            ASSERT_EQ(c.err, noErr);
            EXPECT_EQ(c.desc.cType, Code(tag));
            EXPECT_EQ(c.desc.width, w);
            EXPECT_EQ(c.desc.height, h);
            EXPECT_EQ(c.desc.idSize, 86);
            if (name == "raw") {
                // ffmpeg pads the frame (not the rows) to an even row length; we do not.
                EXPECT_EQ(c.desc.dataSize, w * h * 3);
                EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), sample.begin()));
            } else {
                EXPECT_EQ(c.desc.dataSize, int32_t(sample.size()));
                // The odd width's pad pixel is not ours to match: compare the real pixels.
                EXPECT_EQ(Unpad(c.data, w, h, 2), Unpad(sample, w, h, 2));
            }
        }
    }
}

TEST(UncompressedCodecs, ShortSampleIsAnError)
{
    const std::vector<uint8_t> sample = ReadBytes(CodecFixture("u_raw_35x12.sample"));
    TestGWorld g(24, 35, 12);
    const std::vector<uint8_t> before = g.Packed(3);
    std::vector<uint8_t> shorter(sample.begin(), sample.begin() + 35 * 12 * 3 - 1);
    EXPECT_EQ(DecodeTo(g, Code("raw "), 35, 12, shorter), codecBadDataErr);
    EXPECT_EQ(g.Packed(3), before);
}

// ---- Where the picture goes --------------------------------------------------------------------

TEST(DecompressImage, HonoursCallerRowsBaseAndClipping)
{
    const std::vector<uint8_t> sample = ReadBytes(CodecFixture("u_raw_35x12.sample"));
    const std::vector<uint8_t> want = ReadBytes(CodecFixture("u_raw_35x12.rgb24")); // 35 x 3 rows

    // A caller frame with longer rows and guard bytes around it.
    TestGWorld g(24, 35, 12);
    const int rowBytes = 35 * 3 + 7;
    std::vector<uint8_t> frame(size_t(rowBytes) * 12 + 64, 0xa5);
    (**g.pm()).baseAddr = reinterpret_cast<Ptr>(frame.data() + 32);
    (**g.pm()).rowBytes = int16_t(rowBytes | kPixMapRowBytesFlag);
    ASSERT_EQ(DecodeTo(g, Code("raw "), 35, 12, sample), noErr);
    for (int y = 0; y < 12; y++) {
        EXPECT_EQ(std::memcmp(frame.data() + 32 + y * rowBytes, want.data() + y * 105, 105), 0);
        EXPECT_EQ(frame[size_t(32 + y * rowBytes + 105)], 0xa5); // row tail untouched
    }
    EXPECT_EQ(frame[31], 0xa5);
    EXPECT_EQ(frame[size_t(32 + 12 * rowBytes)], 0xa5);

    // A smaller GWorld shows the top-left part.
    TestGWorld small(24, 20, 5);
    ASSERT_EQ(DecodeTo(small, Code("raw "), 35, 12, sample), noErr);
    const std::vector<uint8_t> part = small.Packed(3);
    for (int y = 0; y < 5; y++) {
        EXPECT_EQ(std::memcmp(part.data() + y * 60, want.data() + y * 105, 60), 0);
    }

    // A destination rectangle scales the picture into it and leaves the rest alone.
    TestGWorld big(24, 70, 24);
    std::memset(big.base(), 0x11, size_t(big.rowBytes()) * 24);
    ImageDescriptionHandle desc = MakeDescription(Code("raw "), 35, 12, int32_t(sample.size()));
    const Rect dst{0, 0, 24, 35};
    ASSERT_EQ(DecompressImage(reinterpret_cast<Ptr>(const_cast<uint8_t *>(sample.data())), desc,
                              big.pm(), nullptr, &dst, srcCopy, nullptr),
              noErr);
    DisposeDescription(desc);
    EXPECT_EQ(big.base()[35 * 3], 0x11);
    EXPECT_EQ(big.base()[big.rowBytes() * 23 + 69 * 3], 0x11);
}

TEST(DecompressImage, UndeliverableFormatFailsAndLeavesPixels)
{
    const std::vector<uint8_t> sample = ReadBytes(CodecFixture("dv_dvc.sample"));
    struct Case
    {
        int16_t depth;
        OSType format;
    } cases[] = {
        {16, k2vuyPixelFormat},   // only a sample layout
        {16, k24RGBPixelFormat},  // format and depth disagree
        {32, kYUVSPixelFormat},
        {16, 16},                 // 16-bit RGB is not offered
        {24, Code("b48r")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        TestGWorld g(c.depth, 720, 480);
        (**g.pm()).pixelFormat = c.format;
        std::memset(g.base(), 0x5a, size_t(g.rowBytes()) * 480);
        EXPECT_EQ(DecodeTo(g, Code("dvc "), 720, 480, sample), codecUnimpErr);
        EXPECT_EQ(g.base()[0], 0x5a);
        EXPECT_EQ(g.base()[g.rowBytes() * 480 - 1], 0x5a);
    }
}

// ---- The installed-codec test ------------------------------------------------------------------

TEST(GetMaxCompressionSize, AnswersPerCodeAndSize)
{
    struct Case
    {
        const char *code;
        int width, height;
        OSErr result;
        int32_t size;
    } cases[] = {
        {"dvc ", 720, 480, noErr, 120000},     {"dvc ", 720, 486, noErr, 120000},
        {"dvcp", 720, 576, noErr, 144000},     {"dv5n", 720, 480, noErr, 240000},
        {"dv5p", 720, 576, noErr, 288000},     {"dvh6", 1920, 1080, noErr, 480000},
        {"dvh5", 1920, 1080, noErr, 576000},   {"dvhp", 1280, 720, noErr, 240000},
        {"AVd1", 1920, 1080, noErr, 480000},   {"AVd1", 1440, 1080, noErr, 576000},
        {"raw ", 35, 12, noErr, 1260},         {"2vuy", 35, 12, noErr, 864},
        {"jpeg", 720, 480, noErr, 720 * 480 * 3},
        {"dvc ", 640, 480, codecSizeErr, 0},   {"dvcp", 720, 480, codecSizeErr, 0},
        {"zzzz", 720, 480, noCodecErr, 0},     {"apcn", 720, 480, noCodecErr, 0},
        {"mp4v", 720, 480, noCodecErr, 0},     {"avc1", 720, 480, noCodecErr, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.code) + " " + std::to_string(c.width));
        const Rect r{0, 0, int16_t(c.height), int16_t(c.width)};
        int32_t size = -1;
        EXPECT_EQ(GetMaxCompressionSize(nullptr, &r, 0, codecMaxQuality, Code(c.code), anyCodec,
                                        &size),
                  c.result);
        EXPECT_EQ(GetMoviesError(), c.result);
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(DvFrameBytes(Code(c.code), c.width, c.height),
                  c.code[0] == 'd' || c.code[0] == 'A' ? c.size : 0);
    }
    EXPECT_EQ(GetMaxCompressionSize(nullptr, nullptr, 0, 0, Code("dvc "), anyCodec, nullptr),
              paramErr);
}

TEST(GetCodecInfo, KnowsEncodersAndIntraDecodersOnly)
{
    CodecInfo info;
    EXPECT_EQ(GetCodecInfo(&info, Code("dvc "), anyCodec), noErr);
    EXPECT_GT(info.typeName[0], 0);
    EXPECT_EQ(info.compressFlags, 1);
    EXPECT_EQ(GetCodecInfo(&info, Code("apcn"), anyCodec), noErr); // decoder only
    EXPECT_EQ(info.compressFlags, 0);
    EXPECT_EQ(GetCodecInfo(&info, Code("mp4v"), anyCodec), noCodecErr); // long-GOP
    EXPECT_EQ(GetCodecInfo(&info, Code("avc1"), anyCodec), noCodecErr);
    EXPECT_EQ(GetCodecInfo(&info, Code("zzzz"), anyCodec), noCodecErr);
    EXPECT_EQ(GetCodecInfo(nullptr, Code("dvc "), anyCodec), paramErr);
    EXPECT_TRUE(HasImageDecoder(Code("apcn")));
    EXPECT_FALSE(HasImageEncoder(Code("apcn")));
}

// ---- DV family -------------------------------------------------------------------------------

TEST(DvCodecs, DecodeMatchesFfmpeg)
{
    struct Case
    {
        const char *code;
        int width, height;
    } cases[] = {
        {"dvc ", 720, 480},   {"dvcp", 720, 576},  {"dv5n", 720, 480}, {"dv5p", 720, 576},
        {"dvh6", 1280, 1080}, {"dvh5", 1440, 1080}, {"dvhp", 960, 720},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        std::string name = c.code;
        if (name.back() == ' ') {
            name.pop_back();
        }
        const std::vector<uint8_t> sample = ReadBytes(CodecFixture("dv_" + name + ".sample"));
        const std::vector<uint8_t> want = ReadBytes(CodecFixture("dv_" + name + ".yuyv"));
        TestGWorld g(16, c.width, c.height);
        ASSERT_EQ(DecodeTo(g, Code(c.code), c.width, c.height, sample), noErr);
        const std::vector<uint8_t> got = g.Packed(2);
        ASSERT_EQ(got.size(), want.size());
        EXPECT_GT(Psnr(got.data(), want.data(), got.size()), 45.0);
    }
}

TEST(DvCodecs, EncodeThenFfmpegDecodeKeepsThePicture)
{
    struct Case
    {
        const char *code;
        int width, height;
        int32_t bytes;
    } cases[] = {
        {"dvc ", 720, 480, 120000},    {"dvcp", 720, 576, 144000},  {"dv5n", 720, 480, 240000},
        {"dv5p", 720, 576, 288000},    {"dvh6", 1280, 1080, 480000}, {"dvh5", 1440, 1080, 576000},
        {"dvhp", 960, 720, 240000},    {"AVd1", 1440, 1080, 576000}, {"AVd1", 960, 720, 240000},
    };
    for (const Case &c : cases) {
        const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
        SCOPED_TRACE(std::string(c.code) + " " + size);
        const std::vector<uint8_t> source = ReadBytes(CodecFixture("src_" + size + ".yuyv"));
        TestGWorld g(16, c.width, c.height);
        g.Load(source, 2);
        Compressed out = CompressFrom(g, Code(c.code));
        ASSERT_EQ(out.err, noErr);
        EXPECT_EQ(out.desc.cType, Code(c.code));
        EXPECT_EQ(out.desc.dataSize, c.bytes);
        EXPECT_EQ(out.desc.width, c.width);
        EXPECT_EQ(out.desc.height, c.height);
        const std::vector<uint8_t> back = FfmpegDecode(out.data, "dv", "yuyv422");
        ASSERT_EQ(back.size(), source.size());
        EXPECT_GE(Psnr(back.data(), source.data(), back.size()), 35.0);
    }
}

TEST(DvCodecs, RgbAndOtherPictureSizesGoThroughConversion)
{
    // RGB in, ffmpeg's RGB out.
    {
        const std::vector<uint8_t> source = ReadBytes(CodecFixture("src_720x576.rgb"));
        TestGWorld g(24, 720, 576);
        g.Load(source, 3);
        Compressed out = CompressFrom(g, Code("dvcp"));
        ASSERT_EQ(out.err, noErr);
        const std::vector<uint8_t> back = FfmpegDecode(out.data, "dv", "rgb24");
        ASSERT_EQ(back.size(), source.size());
        EXPECT_GE(Psnr(back.data(), source.data(), back.size()), 30.0);
    }
    // A 486-line NTSC picture keeps lines 4..483.
    {
        const std::vector<uint8_t> source = ReadBytes(CodecFixture("src_720x486.yuyv"));
        TestGWorld g(16, 720, 486);
        g.Load(source, 2);
        Compressed out = CompressFrom(g, Code("dvc "));
        ASSERT_EQ(out.err, noErr);
        EXPECT_EQ(out.desc.dataSize, 120000);
        const std::vector<uint8_t> back = FfmpegDecode(out.data, "dv", "yuyv422");
        ASSERT_EQ(back.size(), size_t(720 * 480 * 2));
        EXPECT_GE(Psnr(back.data(), source.data() + 4 * 1440, back.size()), 35.0);
        // Decoded at 486 lines again: the same lines in place, black around them.
        TestGWorld again(16, 720, 486);
        ASSERT_EQ(DecodeTo(again, Code("dvc "), 720, 486, out.data), noErr);
        const std::vector<uint8_t> shown = again.Packed(2);
        EXPECT_GE(Psnr(shown.data() + 4 * 1440, back.data(), back.size()), 45.0);
        EXPECT_EQ(shown[0], 16);
        EXPECT_EQ(shown[1], 128);
    }
    // DVCPRO HD at its shown width: coded narrower, widened again on decode.
    for (const char *code : {"dvh6", "AVd1"}) {
        SCOPED_TRACE(code);
        const std::vector<uint8_t> source = ReadBytes(CodecFixture("src_1920x1080.yuyv"));
        TestGWorld g(16, 1920, 1080);
        g.Load(source, 2);
        Compressed out = CompressFrom(g, Code(code));
        ASSERT_EQ(out.err, noErr);
        EXPECT_EQ(out.desc.dataSize, 480000);
        EXPECT_EQ(out.desc.width, 1920);
        TestGWorld back(16, 1920, 1080);
        ASSERT_EQ(DecodeTo(back, Code(code), 1920, 1080, out.data), noErr);
        const std::vector<uint8_t> shown = back.Packed(2);
        EXPECT_GE(Psnr(shown.data(), source.data(), source.size()), 30.0);
    }
}

TEST(DvCodecs, ThreadsDecodeAndEncodeSideBySide)
{
    // The processing thread and a player each keep their own codec contexts.
    struct Job
    {
        const char *code;
        int width, height;
        std::vector<uint8_t> sample, first;
        bool same = true;
    } jobs[] = {{"dvc ", 720, 480, {}, {}}, {"dvcp", 720, 576, {}, {}}};
    for (Job &j : jobs) {
        std::string name = j.code;
        name.erase(name.find_last_not_of(' ') + 1);
        j.sample = ReadBytes(CodecFixture("dv_" + name + ".sample"));
    }
    auto run = [](Job *j) {
        TestGWorld g(16, j->width, j->height);
        for (int i = 0; i < 10; i++) {
            if (DecodeTo(g, Code(j->code), j->width, j->height, j->sample) != noErr) {
                j->same = false;
                return;
            }
            Compressed c = CompressFrom(g, Code(j->code));
            if (i == 0) {
                j->first = c.data;
            }
            j->same = j->same && c.err == noErr && c.data == j->first;
        }
    };
    std::thread a(run, &jobs[0]), b(run, &jobs[1]);
    a.join();
    b.join();
    EXPECT_TRUE(jobs[0].same);
    EXPECT_TRUE(jobs[1].same);
}

TEST(DvCodecs, HostileSamplesGiveErrors)
{
    const std::vector<uint8_t> frame = ReadBytes(CodecFixture("dv_dvc.sample"));
    ASSERT_EQ(frame.size(), 120000u);
    struct Case
    {
        const char *what;
        const char *code;
        int32_t size;
        int width, height;
        OSErr result;
    } cases[] = {
        {"truncated", "dvc ", 119999, 720, 480, codecBadDataErr},
        {"half a frame", "dvc ", 60000, 720, 480, codecBadDataErr},
        {"one byte", "dvc ", 1, 720, 480, codecBadDataErr},
        {"empty", "dvc ", 0, 720, 480, codecBadDataErr},
        {"negative size", "dvc ", -5, 720, 480, codecBadDataErr},
        {"NTSC frame as PAL", "dvcp", 120000, 720, 576, codecBadDataErr},
        {"NTSC frame as DVCPRO HD", "dvh6", 120000, 1280, 1080, codecBadDataErr},
        {"no width", "dvc ", 120000, 0, 480, codecSizeErr},
        {"huge size", "dvc ", 120000, 30000, 30000, codecSizeErr},
        {"negative height", "dvc ", 120000, 720, -480, codecSizeErr},
    };
    TestGWorld g(24, 720, 480);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ImageDescriptionHandle desc = MakeDescription(Code(c.code), c.width, c.height, c.size);
        EXPECT_EQ(DecompressImage(reinterpret_cast<Ptr>(const_cast<uint8_t *>(frame.data())), desc,
                                  g.pm(), nullptr, nullptr, srcCopy, nullptr),
                  c.result);
        DisposeDescription(desc);
    }
    // A frame of the right size with damaged or random content: any result, never a crash.
    std::vector<uint8_t> damaged = frame;
    for (size_t i = 0; i < damaged.size(); i += 7) {
        damaged[i] = uint8_t(damaged[i] * 31 + i);
    }
    (void)DecodeTo(g, Code("dvc "), 720, 480, damaged);
    std::vector<uint8_t> zeros(120000, 0);
    (void)DecodeTo(g, Code("dvc "), 720, 480, zeros);
    // Broken descriptions.
    ImageDescriptionHandle tiny = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(4));
    EXPECT_EQ(DecompressImage(reinterpret_cast<Ptr>(const_cast<uint8_t *>(frame.data())), tiny,
                              g.pm(), nullptr, nullptr, srcCopy, nullptr),
              paramErr);
    DisposeDescription(tiny);
    EXPECT_EQ(DecompressImage(nullptr, nullptr, g.pm(), nullptr, nullptr, srcCopy, nullptr),
              paramErr);
    ImageDescriptionHandle desc = MakeDescription(Code("dvc "), 720, 480, 120000);
    EXPECT_EQ(DecompressImage(nullptr, desc, g.pm(), nullptr, nullptr, srcCopy, nullptr),
              codecBadDataErr);
    EXPECT_EQ(DecompressImage(reinterpret_cast<Ptr>(const_cast<uint8_t *>(frame.data())), desc,
                              nullptr, nullptr, nullptr, srcCopy, nullptr),
              paramErr);
    DisposeDescription(desc);
}

TEST(DvCodecs, CompressRefusesWrongSizesAndMissingArguments)
{
    TestGWorld g(16, 640, 480);
    EXPECT_EQ(CompressFrom(g, Code("dvc ")).err, codecSizeErr);
    std::vector<uint8_t> buffer(200000);
    auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
    EXPECT_EQ(CompressImage(g.pm(), nullptr, codecMaxQuality, Code("zzzz"), desc,
                            reinterpret_cast<Ptr>(buffer.data())),
              noCodecErr);
    EXPECT_EQ(CompressImage(nullptr, nullptr, codecMaxQuality, Code("dvc "), desc,
                            reinterpret_cast<Ptr>(buffer.data())),
              paramErr);
    EXPECT_EQ(CompressImage(g.pm(), nullptr, codecMaxQuality, Code("dvc "), nullptr,
                            reinterpret_cast<Ptr>(buffer.data())),
              paramErr);
    const Rect outside{0, 0, 481, 640};
    EXPECT_EQ(CompressImage(g.pm(), &outside, codecMaxQuality, Code("raw "), desc,
                            reinterpret_cast<Ptr>(buffer.data())),
              paramErr);
    DisposeHandle(reinterpret_cast<Handle>(desc));
}

// ---- JPEG and other intra codecs --------------------------------------------------------------

TEST(JpegCodec, DecodesFfmpegJpegAndRoundTrips)
{
    const std::vector<uint8_t> sample = ReadBytes(CodecFixture("jpeg.sample"));
    const std::vector<uint8_t> want = ReadBytes(CodecFixture("jpeg.rgb24"));
    TestGWorld g(24, 64, 48);
    ASSERT_EQ(DecodeTo(g, Code("jpeg"), 64, 48, sample), noErr);
    std::vector<uint8_t> got = g.Packed(3);
    EXPECT_GT(Psnr(got.data(), want.data(), want.size()), 35.0);

    const std::vector<uint8_t> source = ReadBytes(CodecFixture("src_64x48.rgb"));
    g.Load(source, 3);
    Compressed best = CompressFrom(g, Code("jpeg"), codecMaxQuality);
    Compressed low = CompressFrom(g, Code("jpeg"), codecLowQuality);
    ASSERT_EQ(best.err, noErr);
    ASSERT_EQ(low.err, noErr);
    EXPECT_LT(low.data.size(), best.data.size());
    const std::vector<uint8_t> back = FfmpegDecode(best.data, "mjpeg", "rgb24");
    ASSERT_EQ(back.size(), source.size());
    EXPECT_GT(Psnr(back.data(), source.data(), source.size()), 35.0);
    TestGWorld ours(32, 64, 48);
    ASSERT_EQ(DecodeTo(ours, Code("jpeg"), 64, 48, best.data), noErr);
    EXPECT_EQ(ours.base()[0], 0xff); // alpha
    std::vector<uint8_t> truncated(best.data.begin(), best.data.begin() + 20);
    EXPECT_NE(DecodeTo(ours, Code("jpeg"), 64, 48, truncated), noErr);

    // A frame header claiming 65535 x 65535 pixels is refused, not allocated.
    std::vector<uint8_t> vast = sample;
    bool patched = false;
    for (size_t i = 0; i + 9 < vast.size() && !patched; i++) {
        if (vast[i] == 0xff && vast[i + 1] == 0xc0) { // start of frame: length, precision, h, w
            vast[i + 5] = vast[i + 6] = vast[i + 7] = vast[i + 8] = 0xff;
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    EXPECT_NE(DecodeTo(ours, Code("jpeg"), 64, 48, vast), noErr);
}

TEST(IntraDecoders, OtherIntraDecodesAndLongGopIsRefused)
{
    const std::vector<uint8_t> prores = ReadBytes(CodecFixture("apcn.sample"));
    const std::vector<uint8_t> want = ReadBytes(CodecFixture("apcn.yuyv"));
    TestGWorld g(16, 64, 48);
    ASSERT_EQ(DecodeTo(g, Code("apcn"), 64, 48, prores), noErr);
    const std::vector<uint8_t> got = g.Packed(2);
    EXPECT_GT(Psnr(got.data(), want.data(), want.size()), 40.0);

    const std::vector<uint8_t> mpeg4 = ReadBytes(CodecFixture("mp4v.sample"));
    EXPECT_EQ(DecodeTo(g, Code("mp4v"), 64, 48, mpeg4), noCodecErr);
    EXPECT_EQ(DecodeTo(g, Code("zzzz"), 64, 48, mpeg4), noCodecErr);
}

TEST(ControllerDecoder, DecodesIntoScaledRgbRows)
{
    const std::vector<uint8_t> sample = ReadBytes(CodecFixture("u_2vuy_64x16.sample"));
    const std::vector<uint8_t> want = ReadBytes(CodecFixture("u_2vuy_64x16.rgb24"));
    ImageDescriptionHandle desc = MakeDescription(Code("2vuy"), 64, 16, int32_t(sample.size()));
    std::vector<uint8_t> rgb(64 * 16 * 3);
    EXPECT_EQ(DecodeSampleToRgb24(sample.data(), long(sample.size()), desc, rgb.data(), 64 * 3, 64, 16),
              noErr);
    EXPECT_GT(Psnr(rgb.data(), want.data(), want.size()), 30.0);
    std::vector<uint8_t> half(32 * 8 * 3 + 1, 0x77);
    EXPECT_EQ(DecodeSampleToRgb24(sample.data(), long(sample.size()), desc, half.data(), 32 * 3, 32, 8),
              noErr);
    EXPECT_EQ(half.back(), 0x77);
    EXPECT_EQ(DecodeSampleToRgb24(sample.data(), long(sample.size()), desc, half.data(), 10, 32, 8),
              paramErr);
    DisposeDescription(desc);
}
