// Whole frames: the decoder against ffmpeg's decode of the same ffmpeg-made frames, the driver's
// threads, orientation, widening, channel pairs, and hostile input.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dvdecoder/cindrell.h"
#include "dvdecoder/cindrell_hooks.h"
#include "dvdecoder/internal/cindrell_context.h"
#include "dvdecoder/internal/cindrell_state.h"
#include "dvdecoder/internal/dif_tables.h"
#include "dvdecoder/internal/pixel_kernels.h"
#include "platform/sys/thread.h"
#include "platform/sys/worker_pool.h"
#include "tests/dvdecoder/dvdec_fixtures.h"

namespace {

// PSNR floors in dB at what the decoder reaches on each fixture, so that a drift fails.
struct Floors
{
    double luma, chroma; // work picture against ffmpeg's decode
    double bgr;          // full decoding against ffmpeg's decode through the same conversion
    double widened;      // the same at the display width, through the same widening
    double fast;         // fast decoding against ffmpeg's decode averaged over 2 x 2
};

struct Kind
{
    const char *name;
    int format;
    const char *probe; // what ffprobe says of ffmpeg's frame
    Floors floors;
};

// Ordinary pictures, one with field macroblocks, and detailed ones whose blocks use the
// quantiser's coarsest pairs (the fast decoding drops what spills out of their blocks). The
// colour conversion doubles colour-difference errors, hence the lower BGR floors of the
// detailed pictures.
const Kind kKinds[] = {
    {"1080i60", 1, "1280,1080,30000/1001", {54.0, 55.4, 51.9, 51.7, 31.4}},
    {"720p60", 2, "960,720,60000/1001", {53.5, 54.2, 50.9, 50.7, 29.0}},
    {"1080i50", 3, "1440,1080,25/1", {53.9, 55.3, 51.8, 51.5, 31.3}},
    {"720p50", 4, "960,720,50/1", {53.5, 54.2, 50.9, 50.7, 29.0}},
    {"1080i60_field", 1, "1280,1080,30000/1001", {54.0, 55.4, 51.8, 51.6, 29.4}},
    {"1080i60_detail", 1, "1280,1080,30000/1001", {55.2, 52.5, 47.6, 48.6, 19.9}},
    {"720p60_detail", 2, "960,720,60000/1001", {55.2, 52.0, 47.7, 48.3, 19.7}},
    {"1080i50_detail", 3, "1440,1080,25/1", {55.2, 52.5, 47.6, 48.5, 20.1}},
    {"720p50_detail", 4, "960,720,50/1", {55.2, 52.0, 47.7, 48.3, 19.7}},
};

int Pitch(int width)
{
    return (width * 3 + 3) & ~3;
}

// Restores the decoder's process-wide settings that a test changes.
class DriverTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        savedThreads_ = lc::SharedWorkerPool().Threads();
        CindrellInit();
    }
    void TearDown() override
    {
        lc::SetSharedWorkerThreads(savedThreads_);
        CindrellInit();
        gCindrellHooks.messageBox = nullptr;
    }
    int savedThreads_ = 1;
};

class DecodeFrameTest : public DriverTest, public ::testing::WithParamInterface<Kind>
{
};

// Runs the Decode step alone, top-down, into a work picture (luminance bytes, Cr and Cb planes).
std::vector<uint8_t> DecodeWork(const std::vector<uint8_t> &frame, int format)
{
    const int width = CindrellCodedWidth(format);
    const int lines = CindrellLines(format);
    std::vector<uint8_t> work(size_t(Pitch(width)) * lines, 0);
    CindrellContext context;
    context.SetParams(0, 1, 0, 0, 24);
    std::vector<int> channels = {0, 1, 2, 3};
    if (format == 2 || format == 4) {
        channels = (frame[1] & 4) ? std::vector<int>{0, 1} : std::vector<int>{2, 3};
    }
    const int segments = format == 3 ? 297 : 270;
    for (int c : channels) {
        for (int g = 0; g < segments; ++g) {
            context.DecodeVideoSegment(c, g / 27, g % 27, work.data(), width, lines, frame.data(),
                                       0, format);
        }
    }
    if (format == 3) {
        for (int s = 0; s < 27; ++s) {
            context.DecodeVideoSegment(0, 11, s, work.data(), width, lines, frame.data(), 0, 3);
        }
    }
    return work;
}

int16_t WorkSample(const std::vector<uint8_t> &work, int pitch, int planeOffset, int y, int x)
{
    int16_t v;
    std::memcpy(&v, work.data() + size_t(y) * pitch + planeOffset + (x & ~1), 2);
    return v;
}

// The work picture's luminance for ffmpeg's sample: 29/32 gain about 112.
double WorkLuma(int y)
{
    return (y - 128) * 29.0 / 32.0 + 112.0;
}

// ffmpeg's decode as a work picture (its samples less 128, the luminance mapped as the decoder
// maps its own) through the C form of the Stretch conversion: the full decoding's picture had its
// samples been ffmpeg's, so that only the decoding itself differs.
std::vector<double> ReferenceBgr(const DvdecFixture &f)
{
    const int w = f.width;
    const int h = f.height;
    const uint8_t *yp = f.yuv.data();
    const uint8_t *up = yp + size_t(w) * h;
    const uint8_t *vp = up + size_t(w / 2) * h;
    std::vector<uint8_t> work(size_t(w) * 3);
    std::vector<uint8_t> bgrx(size_t(w) * 4 + kRowSlack);
    std::vector<double> out;
    out.reserve(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int v = yp[size_t(y) * w + x] - 128;
            work[size_t(x)] = uint8_t(std::clamp(((v * 29 + 16) >> 5) + 112, 0, 255));
        }
        for (int x = 0; x < w; x += 2) {
            const int16_t cr = int16_t(vp[size_t(y) * (w / 2) + x / 2] - 128);
            const int16_t cb = int16_t(up[size_t(y) * (w / 2) + x / 2] - 128);
            std::memcpy(&work[size_t(w + x)], &cr, 2);
            std::memcpy(&work[size_t(2 * w + x)], &cb, 2);
        }
        ConvertRowToBgrx_c(bgrx.data(), work.data(), w, w);
        for (int x = 0; x < w; ++x) {
            out.insert(out.end(), &bgrx[4 * size_t(x)], &bgrx[4 * size_t(x) + 3]);
        }
    }
    return out;
}

// Output rows (bottom-up when bottomUp) of width pixels as a top-down double picture.
std::vector<double> PictureOf(const std::vector<uint8_t> &out, int width, int lines, bool bottomUp)
{
    std::vector<double> pic(size_t(width) * lines * 3);
    for (int y = 0; y < lines; ++y) {
        const uint8_t *row = out.data() + size_t(bottomUp ? lines - 1 - y : y) * Pitch(width);
        for (int i = 0; i < width * 3; ++i) {
            pic[size_t(y) * width * 3 + i] = row[i];
        }
    }
    return pic;
}

std::vector<uint8_t> Decode(const std::vector<uint8_t> &frame, int format, int width, int height,
                            int mode, uint8_t fill = 0xa5)
{
    std::vector<uint8_t> out(size_t(Pitch(width)) * std::abs(height), fill);
    lc::Status st = CindrellDecodeFrame(out.data(), width, height, frame.data(), frame.size(),
                                        out.data(), mode, 0, 0, format, 24, 1, 0);
    EXPECT_TRUE(st.ok()) << st.failure().what;
    return out;
}

TEST_P(DecodeFrameTest, FfmpegFrameIsOfTheKind)
{
    const DvdecFixture f = LoadDvdecFixture(GetParam().name);
    EXPECT_EQ(f.probe, GetParam().probe);
    EXPECT_EQ(f.frame.size(), CindrellFrameBytes(GetParam().format));
    EXPECT_EQ(f.width, CindrellCodedWidth(GetParam().format));
    EXPECT_EQ(f.height, CindrellLines(GetParam().format));
    // The field fixture must hold field macroblocks (DCT mode bit of block 0), the others none.
    int fieldMacroblocks = 0;
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 10; ++r) {
            for (int s = 0; s < 27; ++s) {
                const uint32_t at =
                    gCindrellTables.difAddressTable[GetParam().format][DifAddressIndex(c, r, 0, s)]
                        .offset;
                fieldMacroblocks += (f.frame[at + 5] >> 6) & 1;
            }
        }
    }
    EXPECT_EQ(fieldMacroblocks > 0,
              std::string(GetParam().name).find("field") != std::string::npos);
    // The detailed fixtures must lean on the QNO/class pairs that the format's step table
    // leaves out (the highest class each QNO has there; QNO 0 has none).
    constexpr int kTableClasses[16] = {-1, 3, 2, 2, 1, 1, 1, 1, 0, 2, 2, 2, 2, 2, 2, 1};
    int blocks = 0;
    int outsideTable = 0;
    for (size_t q = 0; q < f.frame.size() / 12000; ++q) {
        for (int b = 0; b < 135; ++b) {
            const uint8_t *dif = f.frame.data() + VideoBlockOffset(int(q), b);
            for (int block = 0; block < 8; ++block) {
                const int cls =
                    (dif[(block < 6 ? 4 + 10 * block : 64 + 8 * (block - 6)) + 1] >> 4) & 3;
                outsideTable += cls > kTableClasses[dif[3] & 15];
                ++blocks;
            }
        }
    }
    if (std::string(GetParam().name).find("detail") != std::string::npos) {
        EXPECT_GT(outsideTable, blocks / 25) << outsideTable << " of " << blocks;
    }
}

TEST_P(DecodeFrameTest, WorkPictureMatchesFfmpegDecode)
{
    const DvdecFixture f = LoadDvdecFixture(GetParam().name);
    const std::vector<uint8_t> work = DecodeWork(f.frame, GetParam().format);
    const int w = f.width;
    const int h = f.height;
    const int pitch = Pitch(w);
    std::vector<double> ours, theirs, oursCr, theirsCr, oursCb, theirsCb;
    const uint8_t *up = f.yuv.data() + size_t(w) * h;
    const uint8_t *vp = up + size_t(w / 2) * h;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // ffmpeg clamps its samples to bytes; the work picture keeps what lies beyond.
            ours.push_back(std::clamp(double(work[size_t(y) * pitch + x]), 0.0, WorkLuma(255)));
            theirs.push_back(std::clamp(WorkLuma(f.yuv[size_t(y) * w + x]), 0.0, 255.0));
        }
        for (int x = 0; x < w; x += 2) {
            oursCr.push_back(
                std::clamp(WorkSample(work, pitch, w, y, x), int16_t(-128), int16_t(127)));
            theirsCr.push_back(vp[size_t(y) * (w / 2) + x / 2] - 128.0);
            oursCb.push_back(
                std::clamp(WorkSample(work, pitch, 2 * w, y, x), int16_t(-128), int16_t(127)));
            theirsCb.push_back(up[size_t(y) * (w / 2) + x / 2] - 128.0);
        }
    }
    const Floors &floors = GetParam().floors;
    EXPECT_GE(Psnr(ours, theirs), floors.luma);
    EXPECT_GE(Psnr(oursCr, theirsCr), floors.chroma);
    EXPECT_GE(Psnr(oursCb, theirsCb), floors.chroma);
}

TEST_P(DecodeFrameTest, FullDecodeMatchesFfmpegAfterColourConversion)
{
    const DvdecFixture f = LoadDvdecFixture(GetParam().name);
    const int format = GetParam().format;
    const std::vector<double> reference = ReferenceBgr(f);
    // Bottom-up (the callers' DIB order) and top-down give the same picture.
    const auto up = Decode(f.frame, format, f.width, f.height, kCindrellFull);
    const auto down = Decode(f.frame, format, f.width, -f.height, kCindrellFull);
    EXPECT_GE(Psnr(PictureOf(up, f.width, f.height, true), reference), GetParam().floors.bgr);
    EXPECT_EQ(PictureOf(up, f.width, f.height, true), PictureOf(down, f.width, f.height, false));
    const auto fastUp = Decode(f.frame, format, f.width, f.height, kCindrellFast);
    const auto fastDown = Decode(f.frame, format, f.width, -f.height, kCindrellFast);
    EXPECT_EQ(PictureOf(fastUp, f.width, f.height, true),
              PictureOf(fastDown, f.width, f.height, false));
}

TEST_P(DecodeFrameTest, WidenedDecodeMatchesWidenedReference)
{
    const DvdecFixture f = LoadDvdecFixture(GetParam().name);
    const int format = GetParam().format;
    const int wide = CindrellDisplayWidth(format);
    const std::vector<double> reference = ReferenceBgr(f);
    // Reference rows through the sharpening and widening kernels.
    std::vector<double> expected;
    std::vector<uint8_t> row(size_t(f.width) * 4), sharp(row.size()), out(size_t(wide) * 4);
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                row[4 * x + c] = uint8_t(std::lround(reference[(size_t(y) * f.width + x) * 3 + c]));
            }
        }
        SharpenRow_c(sharp.data(), row.data(), f.width);
        if (format == 1) {
            WidenRow2to3_c(out.data(), sharp.data(), f.width);
        } else {
            WidenRow3to4_c(out.data(), sharp.data(), f.width, wide);
        }
        for (int x = 0; x < wide; ++x) {
            expected.insert(expected.end(), &out[4 * x], &out[4 * x + 3]);
        }
    }
    const auto decoded = Decode(f.frame, format, wide, -f.height, kCindrellFull);
    EXPECT_GE(Psnr(PictureOf(decoded, wide, f.height, false), expected), GetParam().floors.widened);
}

TEST_P(DecodeFrameTest, FastDecodeIsHalfResolutionOfFfmpegDecode)
{
    const DvdecFixture f = LoadDvdecFixture(GetParam().name);
    const int format = GetParam().format;
    const std::vector<double> reference = ReferenceBgr(f);
    // Each 2 x 2 group of the reference averaged, compared with the fast picture's pixels.
    const auto fast = Decode(f.frame, format, f.width, -f.height, kCindrellFast);
    const std::vector<double> pic = PictureOf(fast, f.width, f.height, false);
    std::vector<double> a, b;
    for (int y = 0; y + 1 < f.height; y += 2) {
        for (int x = 0; x < f.width; x += 2) {
            for (int c = 0; c < 3; ++c) {
                auto at = [&](const std::vector<double> &p, int yy, int xx) {
                    return p[(size_t(yy) * f.width + xx) * 3 + c];
                };
                a.push_back(at(pic, y, x));
                // Field macroblocks pair lines of one field; the picture is smooth enough that
                // the frame pair stays close.
                b.push_back((at(reference, y, x) + at(reference, y, x + 1) + at(reference, y + 1, x)
                             + at(reference, y + 1, x + 1))
                            / 4);
            }
        }
    }
    EXPECT_GE(Psnr(a, b), GetParam().floors.fast);
}

// The half-row macroblocks (line 1072) whose DCT mode bit is set: the fast decoding leaves
// their pixels alone.
std::vector<MacroblockPlace> HalfRowFieldMacroblocks(const std::vector<uint8_t> &frame, int format)
{
    std::vector<MacroblockPlace> places;
    if (format != 1 && format != 3) {
        return places;
    }
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 12; ++r) {
            for (int m = 0; m < 5; ++m) {
                for (int s = 0; s < 27; ++s) {
                    const MacroblockPlace p =
                        gCindrellTables.positionTable[format][PositionIndex(c, m, r, s)];
                    const uint32_t at =
                        gCindrellTables.difAddressTable[format][DifAddressIndex(c, r, m, s)].offset;
                    if (p.y == 1072 && at != 0 && (frame[at + 5] & 0x40) != 0) {
                        places.push_back(p);
                    }
                }
            }
        }
    }
    return places;
}

// Every pixel of the fast picture is written, at both widths, but for those of half-row field
// macroblocks, and nothing outside it (the buffers are exact).
TEST_P(DecodeFrameTest, FastDecodeFillsThePicture)
{
    const DvdecFixture f = LoadDvdecFixture(GetParam().name);
    const int format = GetParam().format;
    const std::vector<MacroblockPlace> untouched = HalfRowFieldMacroblocks(f.frame, format);
    for (int w : {CindrellCodedWidth(format), CindrellDisplayWidth(format)}) {
        const auto zeros = Decode(f.frame, format, w, -f.height, kCindrellFast, 0x00);
        const auto ones = Decode(f.frame, format, w, -f.height, kCindrellFast, 0xff);
        // Coded columns of a display column: the half-row macroblock spans 32 of them.
        const double scale = double(w) / CindrellCodedWidth(format);
        for (int y = 0; y < f.height; ++y) {
            for (int x = 0; x < w; ++x) {
                const size_t at = size_t(y) * Pitch(w) + 3 * size_t(x);
                bool kept = false;
                for (const MacroblockPlace &p : untouched) {
                    // Display columns of a widened block may start a column or two early.
                    const double from = 2 * p.x * scale - (w == CindrellCodedWidth(format) ? 0 : 2);
                    kept = kept || (y >= 1072 && x >= from && x < (2 * p.x + 32) * scale);
                }
                if (!kept) {
                    ASSERT_EQ(zeros[at], ones[at]) << w << ": " << x << "," << y;
                } else if (w == CindrellCodedWidth(format)) {
                    ASSERT_NE(zeros[at], ones[at]) << w << ": " << x << "," << y;
                }
            }
        }
    }
}

// One pool thread and one job against several: the same bytes.
TEST_P(DecodeFrameTest, ThreadCountDoesNotChangeThePicture)
{
    const DvdecFixture f = LoadDvdecFixture(GetParam().name);
    const int format = GetParam().format;
    const int wide = CindrellDisplayWidth(format);
    for (int mode : {kCindrellFull, kCindrellFast}) {
        lc::SetSharedWorkerThreads(1);
        CindrellInit();
        ASSERT_EQ(gCindrellState.threadCount, 1);
        const auto one = Decode(f.frame, format, wide, f.height, mode);
        for (int threads : {3, 8}) {
            lc::SetSharedWorkerThreads(threads);
            CindrellInit();
            EXPECT_EQ(Decode(f.frame, format, wide, f.height, mode), one)
                << "mode " << mode << ", threads " << threads;
        }
    }
}

TEST_P(DecodeFrameTest, SequenceBySequenceDecodesTheFrame)
{
    // Every sequence decoded on its own gives the frame's picture: fast decoding at both widths
    // into the output, full decoding into the work picture.
    const DvdecFixture f = LoadDvdecFixture(GetParam().name);
    const int format = GetParam().format;
    const int sequences = int(CindrellFrameBytes(format) / 12000);
    auto bySequence = [&](int width, int height, int mode) {
        std::vector<uint8_t> out(size_t(Pitch(width)) * std::abs(height), 0xa5);
        for (int q = 0; q < sequences; ++q) {
            lc::Status st = CindrellDecodeSequence(out.data(), width, height, f.frame.data(),
                                                   f.frame.size(), out.data(), mode, format, q);
            EXPECT_TRUE(st.ok()) << q;
        }
        return out;
    };
    for (int w : {CindrellCodedWidth(format), CindrellDisplayWidth(format)}) {
        EXPECT_EQ(bySequence(w, f.height, kCindrellFast),
                  Decode(f.frame, format, w, f.height, kCindrellFast))
            << w;
    }
    EXPECT_EQ(bySequence(CindrellCodedWidth(format), -f.height, kCindrellFull),
              DecodeWork(f.frame, format));
    // A sequence outside the frame is refused.
    std::vector<uint8_t> out(size_t(Pitch(CindrellCodedWidth(format))) * f.height);
    for (int q : {-1, sequences}) {
        EXPECT_EQ(CindrellDecodeSequence(out.data(), CindrellCodedWidth(format), f.height,
                                         f.frame.data(), f.frame.size(), out.data(), kCindrellFast,
                                         format, q)
                      .error(),
                  lc::Error::InvalidArgument);
    }
}

TEST_P(DecodeFrameTest, HostileFramesFailOrDecodeWithoutHarm)
{
    const DvdecFixture f = LoadDvdecFixture(GetParam().name);
    const int format = GetParam().format;
    const int width = CindrellCodedWidth(format);
    const int wide = CindrellDisplayWidth(format);
    const size_t bytes = CindrellFrameBytes(format);
    std::vector<uint8_t> out(size_t(Pitch(wide)) * f.height, 0x5a);
    const std::vector<uint8_t> untouched = out;
    // Short frames, copied to exact-size buffers: an error, and the picture is left alone.
    for (size_t size : {size_t(0), size_t(1), size_t(80), bytes / 2, bytes - 1}) {
        std::vector<uint8_t> cut(f.frame.begin(), f.frame.begin() + ptrdiff_t(size));
        for (int mode : {kCindrellFull, kCindrellFast}) {
            lc::Status st = CindrellDecodeFrame(out.data(), wide, f.height, cut.data(), cut.size(),
                                                out.data(), mode, 0, 0, format, 24, 1, 0);
            EXPECT_EQ(st.error(), lc::Error::BadData) << size;
        }
    }
    EXPECT_EQ(out, untouched);
    // Garbage of the right size, and the real frame with damaged bytes: decoded, no overrun.
    std::vector<std::vector<uint8_t>> frames = {GarbageFrame(bytes, 1), GarbageFrame(bytes, 77),
                                                std::vector<uint8_t>(bytes, 0xff), f.frame};
    for (size_t i = 0; i < bytes; i += 97) {
        frames.back()[i] ^= uint8_t(0x5a + i);
    }
    for (const auto &frame : frames) {
        for (int mode : {kCindrellFull, kCindrellFast}) {
            for (int w : {width, wide}) {
                std::vector<uint8_t> exact(size_t(Pitch(w)) * f.height);
                lc::Status st =
                    CindrellDecodeFrame(exact.data(), w, f.height, frame.data(), frame.size(),
                                        exact.data(), mode, 0, 0, format, 24, 1, 0);
                EXPECT_TRUE(st.ok());
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DecodeFrameTest, ::testing::ValuesIn(kKinds),
                         [](const auto &p) { return std::string(p.param.name); });

TEST_F(DriverTest, FastDecodeLeavesHalfRowFieldMacroblocksAlone)
{
    const DvdecFixture f = LoadDvdecFixture("1080i60");
    // A half-row macroblock, its mode bit set.
    std::vector<uint8_t> frame = f.frame;
    MacroblockPlace place{};
    for (int s = 0; s < 27 && place.y != 1072; ++s) {
        for (int r = 0; r < 10 && place.y != 1072; ++r) {
            for (int m = 0; m < 5 && place.y != 1072; ++m) {
                place = gCindrellTables.positionTable[1][PositionIndex(3, m, r, s)];
                if (place.y == 1072) {
                    frame[gCindrellTables.difAddressTable[1][DifAddressIndex(3, r, m, s)].offset
                          + 5] |= 0x40;
                }
            }
        }
    }
    ASSERT_EQ(place.y, 1072);
    const auto zeros = Decode(frame, 1, 1280, -1080, kCindrellFast, 0x00);
    const auto ones = Decode(frame, 1, 1280, -1080, kCindrellFast, 0xff);
    for (int y = 0; y < 1080; ++y) {
        for (int x = 0; x < 1280; ++x) {
            const bool inside = y >= 1072 && x >= 2 * place.x && x < 2 * place.x + 32;
            const size_t at = size_t(y) * Pitch(1280) + 3 * size_t(x);
            ASSERT_EQ(zeros[at] != ones[at], inside) << x << "," << y;
        }
    }
}

// The fast decoding widens by repeating colours: display column -> the coded column whose colour
// it shows. A 4/3 block's columns that reach into its right neighbour belong to the neighbour.
TEST_F(DriverTest, FastWideningRepeatsColoursIntoTheirColumns)
{
    struct Case
    {
        const char *name;
        int format;
        int display, coded;
    };
    const Case cases[] = {
        {"1080i60", 1, 0, 0},       {"1080i60", 1, 1, 0},       {"1080i60", 1, 3, 2},
        {"1080i60", 1, 12, 8},      {"1080i60", 1, 15, 10},     {"1080i60", 1, 23, 14},
        {"1080i60", 1, 1919, 1278}, {"720p60", 2, 9, 6},        {"720p60", 2, 10, 8},
        {"720p60", 2, 13, 10},      {"720p60", 2, 14, 10},      {"720p60", 2, 15, 12},
        {"720p60", 2, 20, 14},      {"720p60", 2, 21, 16},      {"720p60", 2, 1279, 958},
        {"1080i50", 3, 9, 6},       {"1080i50", 3, 10, 8},      {"1080i50", 3, 20, 14},
        {"1080i50", 3, 21, 16},     {"1080i50", 3, 1919, 1438},
    };
    for (const Case &c : cases) {
        const DvdecFixture f = LoadDvdecFixture(c.name);
        const int wide = CindrellDisplayWidth(c.format);
        const auto coded = Decode(f.frame, c.format, f.width, -f.height, kCindrellFast);
        const auto widened = Decode(f.frame, c.format, wide, -f.height, kCindrellFast);
        for (int y = 0; y < f.height; y += 7) {
            ASSERT_EQ(0, std::memcmp(&widened[size_t(y) * Pitch(wide) + 3 * size_t(c.display)],
                                     &coded[size_t(y) * Pitch(f.width) + 3 * size_t(c.coded)], 3))
                << c.name << " column " << c.display << " line " << y;
        }
    }
}

// Two callers at once (the player and a conversion) take turns on the process-wide contexts.
TEST_F(DriverTest, ConcurrentCallersGetTheirOwnPictures)
{
    const DvdecFixture a = LoadDvdecFixture("720p60");
    const DvdecFixture b = LoadDvdecFixture("1080i50");
    const auto expectA = Decode(a.frame, 2, 1280, 720, kCindrellFull);
    const auto expectB = Decode(b.frame, 3, 1920, 1080, kCindrellFast);
    std::vector<uint8_t> gotA, gotB;
    lc::Thread other;
    ASSERT_TRUE(other.Start([&] {
        for (int i = 0; i < 3; ++i) {
            gotB = Decode(b.frame, 3, 1920, 1080, kCindrellFast);
        }
    }));
    for (int i = 0; i < 3; ++i) {
        gotA = Decode(a.frame, 2, 1280, 720, kCindrellFull);
        CindrellInit();
    }
    other.Join();
    EXPECT_EQ(gotA, expectA);
    EXPECT_EQ(gotB, expectB);
}

TEST_F(DriverTest, SegmentRangesSplitEvenly)
{
    struct Case
    {
        int k, n, count, base, first, last;
    };
    const Case cases[] = {
        {0, 1, 270, 0, 0, 269},     {0, 1, 297, 0, 0, 296},      {0, 1, 27, 297, 297, 323},
        {0, 3, 270, 0, 0, 89},      {1, 3, 270, 0, 90, 179},     {2, 3, 270, 0, 180, 269},
        {0, 16, 27, 297, 297, 297}, {1, 16, 27, 297, 298, 299},  {2, 16, 27, 297, 300, 301},
        {3, 16, 27, 297, 302, 302}, {15, 16, 27, 297, 322, 323}, {7, 8, 1080, 0, 945, 1079},
    };
    for (const Case &c : cases) {
        int first = 0;
        int last = 0;
        CindrellSplit(c.k, c.n, c.count, c.base, &first, &last);
        EXPECT_EQ(first, c.first) << c.k << "/" << c.n;
        EXPECT_EQ(last, c.last) << c.k << "/" << c.n;
    }
}

TEST_F(DriverTest, InitTakesOneJobPerPoolThreadUpToTheJobs)
{
    for (int threads : {1, 5, 8}) {
        lc::SetSharedWorkerThreads(threads);
        CindrellInit();
        EXPECT_EQ(gCindrellState.threadCount, threads);
    }
}

TEST_F(DriverTest, BadArgumentsAreRefused)
{
    const std::vector<uint8_t> frame(480000, 0);
    std::vector<uint8_t> out(size_t(Pitch(1920)) * 1080);
    struct Case
    {
        int width, height, mode, format, bits, decimation, mirror;
    };
    const Case cases[] = {
        {1280, 1080, 1, 0, 24, 1, 0}, {1280, 1080, 1, 5, 24, 1, 0}, {1280, 720, 1, 1, 24, 1, 0},
        {1279, 1080, 1, 1, 24, 1, 0}, {960, 1080, 1, 1, 24, 1, 0},  {1921, 1080, 1, 1, 24, 1, 0},
        {1280, 1080, 2, 1, 24, 1, 0}, {1280, 1080, 1, 1, 32, 1, 0}, {1280, 1080, 1, 1, 24, 2, 0},
        {1280, 1080, 1, 1, 24, 1, 1}, {1280, 0, 1, 1, 24, 1, 0},
    };
    for (const Case &c : cases) {
        lc::Status st =
            CindrellDecodeFrame(out.data(), c.width, c.height, frame.data(), frame.size(),
                                out.data(), c.mode, 0, 0, c.format, c.bits, c.decimation, c.mirror);
        EXPECT_EQ(st.error(), lc::Error::InvalidArgument) << c.width << "x" << c.height;
    }
}

TEST_F(DriverTest, SeventwentyLineFramesChooseTheirChannelPairByTheSecondByte)
{
    const DvdecFixture f = LoadDvdecFixture("720p60");
    ASSERT_TRUE(f.frame[1] & 4);
    std::vector<uint8_t> other = f.frame;
    other[1] &= uint8_t(~4);
    const std::vector<uint8_t> a = DecodeWork(f.frame, 2);
    const std::vector<uint8_t> b = DecodeWork(other, 2);
    EXPECT_NE(a, b);
    // Channels 2 and 3 read the same DIF blocks as 0 and 1, placed elsewhere.
    std::map<uint32_t, MacroblockPlace> placeOfBlock;
    for (int c = 0; c < 2; ++c) {
        for (int r = 0; r < 10; ++r) {
            for (int m = 0; m < 5; ++m) {
                for (int s = 0; s < 27; ++s) {
                    placeOfBlock[gCindrellTables.difAddressTable[2][DifAddressIndex(c, r, m, s)]
                                     .offset] =
                        gCindrellTables.positionTable[2][PositionIndex(c, m, r, s)];
                }
            }
        }
    }
    const int pitch = Pitch(960);
    int compared = 0;
    for (int c = 2; c < 4; ++c) {
        for (int r = 0; r < 10; ++r) {
            for (int m = 0; m < 5; ++m) {
                for (int s = 0; s < 27; ++s) {
                    const uint32_t offset =
                        gCindrellTables.difAddressTable[2][DifAddressIndex(c, r, m, s)].offset;
                    ASSERT_EQ(placeOfBlock.count(offset), 1u);
                    const MacroblockPlace pa = placeOfBlock[offset];
                    const MacroblockPlace pb =
                        gCindrellTables.positionTable[2][PositionIndex(c, m, r, s)];
                    for (int line = 0; line < 16; ++line) {
                        ASSERT_EQ(0, std::memcmp(&a[size_t(pa.y + line) * pitch + pa.x],
                                                 &b[size_t(pb.y + line) * pitch + pb.x], 16));
                    }
                    ++compared;
                }
            }
        }
    }
    EXPECT_EQ(compared, 2700);
}

} // namespace

namespace {

// A frame whose every DCT block holds DC 0 and an end of block first (second byte 0000 0110):
// all samples are 0, the picture is the offset grey.
std::vector<uint8_t> ZeroSampleFrame(int format)
{
    std::vector<uint8_t> frame(CindrellFrameBytes(format), 0);
    frame[1] = 4; // 720-line frames: channels 0 and 1
    for (size_t q = 0; q < frame.size() / 12000; ++q) {
        for (int b = 0; b < 135; ++b) {
            uint8_t *dif = frame.data() + VideoBlockOffset(int(q), b);
            dif[3] = 9; // QNO 9
            for (int block = 0; block < 8; ++block) {
                dif[(block < 6 ? 4 + 10 * block : 64 + 8 * (block - 6)) + 1] = 0x06;
            }
        }
    }
    return frame;
}

TEST_F(DriverTest, ZeroSamplesGiveEachPathsGrey)
{
    struct Case
    {
        int format;
        int mode;
        bool wide;
        uint8_t grey;
    };
    // Full: luminance 112 in the work picture, (74 x 112) >> 6; fast: (75 x 112) >> 6.
    const Case cases[] = {
        {1, kCindrellFull, false, 129}, {1, kCindrellFull, true, 129},
        {2, kCindrellFull, true, 129},  {3, kCindrellFull, false, 129},
        {4, kCindrellFull, false, 129}, {1, kCindrellFast, false, 131},
        {1, kCindrellFast, true, 131},  {2, kCindrellFast, false, 131},
        {3, kCindrellFast, true, 131},  {4, kCindrellFast, false, 131},
    };
    for (const Case &c : cases) {
        const int width = c.wide ? CindrellDisplayWidth(c.format) : CindrellCodedWidth(c.format);
        const auto out = Decode(ZeroSampleFrame(c.format), c.format, width,
                                -CindrellLines(c.format), c.mode, 0x00);
        // The fast decoding leaves the last columns of a widened row to the caller.
        const int written = c.mode == kCindrellFast && c.wide ? width - 3 : width;
        for (int y = 0; y < CindrellLines(c.format); y += 5) {
            for (int x = 0; x < written * 3; ++x) {
                ASSERT_EQ(out[size_t(y) * Pitch(width) + size_t(x)], c.grey)
                    << c.format << " mode " << c.mode << " width " << width << " at " << x / 3
                    << "," << y;
            }
        }
    }
}

// 720-line pictures have no field macroblocks: the mode bit changes nothing.
TEST_F(DriverTest, SeventwentyLineModeBitIsIgnored)
{
    for (const char *name : {"720p60", "720p50_detail"}) {
        const DvdecFixture f = LoadDvdecFixture(name);
        const int format = std::string(name).find("50") != std::string::npos ? 4 : 2;
        std::vector<uint8_t> marked = f.frame;
        for (size_t q = 0; q < marked.size() / 12000; ++q) {
            for (int b = 0; b < 135; ++b) {
                marked[VideoBlockOffset(int(q), b) + 5] |= 0x40;
            }
        }
        for (int mode : {kCindrellFull, kCindrellFast}) {
            for (int width : {960, 1280}) {
                EXPECT_EQ(Decode(marked, format, width, 720, mode),
                          Decode(f.frame, format, width, 720, mode))
                    << name << " mode " << mode << " width " << width;
            }
        }
    }
}

TEST(QuantiserTest, StepsAndTruncation)
{
    struct Step
    {
        int qno, cls, step;
    };
    // The format's table, and the pairs it leaves out, which encoders send all the same.
    const Step steps[] = {{1, 0, 1},    {1, 3, 8},    {2, 2, 8},    {8, 0, 8},    {9, 2, 64},
                          {14, 2, 112}, {15, 1, 104}, {15, 2, 208}, {15, 3, 416}, {8, 3, 64},
                          {2, 3, 16},   {0, 0, 1},    {0, 3, 8}};
    CindrellInit();
    for (const Step &c : steps) {
        // A DCT block: DC 0, mode 0, the class, in a DIF block of the QNO.
        std::vector<uint8_t> frame(480000, 0);
        const uint32_t at = gCindrellTables.difAddressTable[1][DifAddressIndex(0, 0, 0, 0)].offset;
        frame[at + 3] = uint8_t(c.qno);
        frame[at + 5] = uint8_t(c.cls << 4);
        CindrellContext context;
        context.ReadMacroblockHeader(DifAddressIndex(0, 0, 0, 0), frame.data(), 1);
        context.SetBlockPosition(frame.data(), DifAddressIndex(0, 0, 0, 0), 0, 1);
        context.ReadBlockHeader(0);
        EXPECT_EQ(context.Qstep(), c.step) << "QNO " << c.qno << " class " << c.cls;
    }
    struct Product
    {
        int weight, qstep, level, value;
    };
    const Product products[] = {
        {16, 64, 1, 32},          // QNO 9 class 2, zigzag 1 of a 1080-line luminance block
        {17, 1, -1, 0},           // -17 / 32 truncates toward zero
        {16, 1, -3, -1},          // -48 / 32: -1, not -2
        {16, 416, 5, 1040},       // the coarsest step
        {246, 416, -255, -29058}, // -815490 wraps to 16 bits
    };
    for (const Product &c : products) {
        EXPECT_EQ(Dequantise(c.weight, c.qstep, c.level), c.value)
            << c.weight << " x " << c.qstep << " x " << c.level;
    }
}

// The packed kernels give the C kernels' pictures, every path.
TEST_F(DriverTest, PackedKernelsGiveTheSamePictures)
{
    for (const char *name : {"1080i60_field", "720p50_detail", "1080i50_detail"}) {
        const DvdecFixture f = LoadDvdecFixture(name);
        const int format = std::string(name).find("720") != std::string::npos  ? 4
                           : std::string(name).find("50") != std::string::npos ? 3
                                                                               : 1;
        for (int mode : {kCindrellFull, kCindrellFast}) {
            for (int width : {CindrellCodedWidth(format), CindrellDisplayWidth(format)}) {
                gCindrellState.kernels = &kCindrellKernelsC;
                const auto reference = Decode(f.frame, format, width, f.height, mode);
                gCindrellState.kernels = &CindrellKernelsBest();
                EXPECT_EQ(Decode(f.frame, format, width, f.height, mode), reference)
                    << name << " mode " << mode << " width " << width;
            }
        }
    }
}

} // namespace
