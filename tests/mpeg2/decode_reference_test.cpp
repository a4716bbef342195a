// Pictures decoded by the system against ffmpeg's decode of the same streams.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mpeg2/internal/mpeg2_dsp.h"
#include "mpeg2/mpeg_stream_info.h"
#include "mpeg2_test_support.h"

namespace {

double Psnr(const uint8_t *a, const uint8_t *b, size_t n)
{
    double se = 0;
    for (size_t i = 0; i < n; ++i) {
        double d = double(a[i]) - double(b[i]);
        se += d * d;
    }
    if (se == 0) {
        return 99.0;
    }
    return 10.0 * std::log10(255.0 * 255.0 * double(n) / se);
}

struct ReferenceCase
{
    const char *stream;
    int width;
    int height;
    int chromaFormat;
    int streamKind;
    double frameRate;
    // The lowest PSNR (dB) any picture's luma and chroma planes may have: just under what the
    // decoder reaches, so that a drift of the arithmetic (an inverse DCT factor, a rounding of
    // the prediction) fails. 99 is an exact match.
    double lumaFloor;
    double chromaFloor;
};

class DecodeReference : public ::testing::TestWithParam<ReferenceCase>
{
};

TEST_P(DecodeReference, EveryPictureMatchesFfmpeg)
{
    const ReferenceCase &c = GetParam();
    DecoderHarness h;
    std::vector<CollectedPicture> got = h.DecodeWholeFile(Mpeg2Fixture(c.stream));
    std::string base = std::string(c.stream).substr(0, std::string(c.stream).rfind('.'));
    std::vector<uint8_t> ref = ReadFileBytes(Mpeg2Fixture(base + ".yuv"));
    EXPECT_EQ(gMpegStreamInfo.horizontalSize.load(), c.width);
    EXPECT_EQ(gMpegStreamInfo.verticalSize.load(), c.height);
    EXPECT_EQ(gMpegStreamInfo.chromaFormat.load(), c.chromaFormat);
    EXPECT_EQ(gMpegStreamInfo.streamKind.load(), c.streamKind);
    size_t cw = c.chromaFormat == 3 ? c.width : (c.width + 1) / 2;
    size_t ch = c.chromaFormat == 1 ? (c.height + 1) / 2 : c.height;
    size_t frameBytes = size_t(c.width) * c.height + 2 * cw * ch;
    ASSERT_GT(frameBytes, 0u);
    size_t refFrames = ref.size() / frameBytes;
    EXPECT_DOUBLE_EQ(gMpegStreamInfo.frameRate.load(), c.frameRate);
    // Every picture, the last ones of the stream too.
    ASSERT_GT(refFrames, 0u);
    ASSERT_EQ(got.size(), refFrames);
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].index, int(i));
        const uint8_t *r = ref.data() + i * frameBytes;
        size_t sizes[3] = {size_t(c.width) * c.height, cw * ch, cw * ch};
        const char *names[3] = {"Y", "Cb", "Cr"};
        for (int p = 0; p < 3; ++p) {
            ASSERT_EQ(got[i].planes[p].size(), sizes[p]);
            double psnr = Psnr(got[i].planes[p].data(), r, sizes[p]);
            EXPECT_GE(psnr, p == 0 ? c.lumaFloor : c.chromaFloor)
                << c.stream << " picture " << i << " " << names[p];
            r += sizes[p];
        }
    }
}

constexpr double kNtscRate = 30000.0 / 1001;

INSTANTIATE_TEST_SUITE_P(
    Streams, DecodeReference,
    ::testing::Values(
        ReferenceCase{"mpeg2_ntsc_vob.vob", 720, 480, 1, 1, kNtscRate, 65.5, 62.5},
        ReferenceCase{"mpeg2_pal_ts.ts", 720, 576, 1, 2, 25, 63.5, 58.5},
        ReferenceCase{"mpeg2_cif_tables.m2v", 352, 288, 1, 0, 25, 62.5, 60.5},
        ReferenceCase{"mpeg2_wide_vob.vob", 320, 180, 1, 1, kNtscRate, 61.0, 59.5},
        ReferenceCase{"mpeg2_yuv422.m2v", 352, 288, 2, 0, 25, 61.0, 59.0},
        ReferenceCase{"mpeg2_yuv422_576i.m2v", 720, 576, 2, 0, 25, 64.0, 61.0},
        ReferenceCase{"mpeg2_fields.m2v", 32, 32, 1, 0, 25, 99, 99},
        ReferenceCase{"mpeg2_fields_16x8.m2v", 32, 32, 1, 0, 25, 99, 99},
        ReferenceCase{"mpeg2_dual_prime.m2v", 32, 64, 1, 0, 25, 99, 99},
        // Streams that end with their data, no padding after them.
        ReferenceCase{"mpeg2_ntsc_vob_end.vob", 720, 480, 1, 1, kNtscRate, 65.5, 62.5},
        ReferenceCase{"mpeg2_pal_ts_end.ts", 720, 576, 1, 2, 25, 65.5, 62.5},
        ReferenceCase{"mpeg2_pal_ts_split.ts", 720, 576, 1, 2, 25, 65.5, 62.5},
        ReferenceCase{"mpeg2_small_end.m2v", 176, 144, 1, 0, 25, 60.5, 57.5},
        ReferenceCase{"mpeg2_hd_720p50.m2v", 1280, 720, 1, 0, 50, 66.0, 64.0},
        ReferenceCase{"mpeg2_hd_1080i.ts", 1920, 1080, 1, 2, kNtscRate, 67.0, 65.0},
        ReferenceCase{"mpeg2_hd_1080i_gop.ts", 1920, 1080, 1, 2, kNtscRate, 65.5, 62.5},
        // Sixty pictures in one group: the drift of 19 P pictures in a row.
        ReferenceCase{"mpeg2_hd_1080i_long.ts", 1920, 1080, 1, 2, kNtscRate, 63.5, 58.5}),
    [](const auto &param) {
        std::string s = param.param.stream;
        return s.substr(6, s.find('.') - 6);
    });

// The packed kernels decode every picture to the bytes of the C ones: frame and field
// pictures, field and frame prediction, dual prime, 4:2:2, both scans and VLC tables.
TEST(DecodeInstructionSets, PicturesEqualTheCKernels)
{
    for (const char *stream :
         {"mpeg2_ntsc_vob.vob", "mpeg2_hd_1080i_gop.ts", "mpeg2_yuv422_576i.m2v",
          "mpeg2_cif_tables.m2v", "mpeg2_fields_16x8.m2v", "mpeg2_dual_prime.m2v"}) {
        std::vector<CollectedPicture> reference;
        for (Mpeg2Isa isa : {Mpeg2Isa::C, Mpeg2Isa::Sse2, Mpeg2Isa::Avx2}) {
            if (!Mpeg2IsaSupported(isa)) {
                continue;
            }
            SCOPED_TRACE(testing::Message() << stream << " " << Mpeg2IsaName(isa));
            SelectMpeg2Isa(isa);
            DecoderHarness h;
            std::vector<CollectedPicture> got = h.DecodeWholeFile(Mpeg2Fixture(stream));
            if (isa == Mpeg2Isa::C) {
                ASSERT_FALSE(got.empty());
                reference = std::move(got);
                continue;
            }
            ASSERT_EQ(got.size(), reference.size());
            for (size_t i = 0; i < got.size(); ++i) {
                for (int p = 0; p < 3; ++p) {
                    ASSERT_EQ(got[i].planes[p], reference[i].planes[p]) << "picture " << i;
                }
            }
        }
    }
    SelectMpeg2Isa(BestMpeg2Isa());
}

} // namespace
