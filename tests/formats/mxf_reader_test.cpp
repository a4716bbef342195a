#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sys/file.h"
#include "tests/formats/dv_test_hooks.h"
#include "tests/formats/formats_test_support.h"
#include "tests/formats/mxf_builder.h"

using dv_test::C;
using mxf_test::Bytes;

namespace {

class MxfReaderTest : public dv_test::HooksTest
{
protected:
    std::string Write(const std::string &name, const Bytes &bytes)
    {
        const std::string path = fmt_test::ScratchDir("dvset_mxf") + "/" + name;
        fmt_test::WriteFile(path, bytes);
        return path;
    }
};

struct Opened
{
    int result = -1;
    uint64_t duration = 777;
    int height = -7, width = -7, quantBits = -7, frameBytes = -7;
    float frameRate = -7.0f, aspect = -7.0f;
};

Opened Open(const std::string &path)
{
    Opened o;
    o.result = MxfOpen(path.c_str(), &o.duration, &o.height, &o.width, &o.quantBits, &o.frameRate,
                       &o.frameBytes, &o.aspect);
    return o;
}

TEST_F(MxfReaderTest, BerLengths)
{
    constexpr uint64_t kError = UINT64_MAX;
    struct Row
    {
        Bytes bytes;
        uint64_t length;
        const char *message;
    };
    const Row rows[] = {
        {{0x05}, 5, nullptr},
        {{0x7F}, 127, nullptr},
        {{0x80}, 0, nullptr},
        {{0x83, 0x00, 0x01, 0x00}, 256, nullptr},
        {{0x88, 0, 0, 0, 0x01, 0, 0, 0, 0x02}, 0x100000002ull, nullptr},
        {{0x90, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x02}, 0x102, nullptr},
        {{0x91}, kError, "BER length exceeds maximum bytes "},
        // Nine significant bytes do not fit in 64 bits.
        {{0x89, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, kError, "BER length exceeds maximum bytes "},
        {{0x88, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         kError,
         "BER length exceeds maximum bytes "},
        {{}, kError, "Incomplete BER length in file "},
        {{0x83, 0x00, 0x01}, kError, "Incomplete BER length in file "},
    };
    int n = 0;
    for (const Row &r : rows) {
        SCOPED_TRACE(n);
        C().errors.clear();
        const std::string path = Write("ber" + std::to_string(n++), r.bytes);
        gMxfClipState.parseFd = lc::FileOpen(path.c_str(), lc::FileMode::Read);
        ASSERT_NE(gMxfClipState.parseFd, -1);
        EXPECT_EQ(MxfReadBerLength(), r.length);
        if (r.message) {
            ASSERT_EQ(C().errors.size(), 1u);
            EXPECT_EQ(C().errors[0], r.message);
        } else {
            EXPECT_TRUE(C().errors.empty());
        }
        MxfClose();
    }
}

// The descriptor's values as the player takes them: field heights doubled for SD, 1080 lines for
// a 1920-wide card, the frame size rounded down to whole thousands.
TEST_F(MxfReaderTest, VideoDescriptorValues)
{
    struct Row
    {
        uint32_t width, storedHeight;
        bool withDuration;
        uint64_t duration, essenceLength;
        int height, frameBytes;
    };
    const Row rows[] = {
        {720, 288, true, 10, 1440000, 576, 144000},
        {720, 288, true, 10, 1440500, 576, 144000},
        {720, 240, true, 10, 1200000, 480, 120000},
        {1280, 720, true, 10, 2400000, 720, 240000},
        {1920, 540, true, 10, 5760000, 1080, 576000},
        {1440, 1080, true, 10, 5760000, 1080, 576000},
        // No duration, or 0: no frame size (no frame is read).
        {720, 288, false, 0, 1440000, 576, 0},
        {720, 288, true, 0, 1440000, 576, 0},
        // Frames larger than the read buffer cannot be read.
        {720, 288, true, 1, 9217000, 576, 0},
    };
    int n = 0;
    for (const Row &r : rows) {
        SCOPED_TRACE(n);
        mxf_test::Items items;
        items.U32(0x3203, r.width).U32(0x3202, r.storedHeight);
        if (r.withDuration) {
            items.U64(0x3002, r.duration);
        }
        const std::string path =
            Write("video" + std::to_string(n++), mxf_test::Clip(items.bytes, r.essenceLength, 64));
        const Opened o = Open(path);
        EXPECT_EQ(o.result, MxfVideoFile);
        EXPECT_EQ(o.width, int(r.width));
        EXPECT_EQ(o.height, r.height);
        EXPECT_EQ(o.frameBytes, r.frameBytes);
        EXPECT_EQ(gMxfClipState.frameBytes, r.frameBytes);
        EXPECT_EQ(gMxfClipState.videoEssenceLength, r.essenceLength);
        EXPECT_EQ(gMxfClipState.videoFd, gMxfClipState.parseFd);
        EXPECT_EQ(o.duration, r.withDuration ? r.duration : 777u);
        // Items that are not there leave their out-arguments alone.
        EXPECT_EQ(o.quantBits, -7);
        EXPECT_EQ(o.frameRate, -7.0f);
        EXPECT_EQ(o.aspect, -7.0f);
        MxfClose();
        EXPECT_EQ(gMxfClipState.videoFd, -1);
    }
}

TEST_F(MxfReaderTest, RationalItems)
{
    struct Row
    {
        Bytes rate, aspect;
        float frameRate, aspectValue;
        int roundedRate;
    };
    auto rational = [](uint32_t a, uint32_t b) {
        Bytes v;
        mxf_test::PutU32(v, a);
        mxf_test::PutU32(v, b);
        return v;
    };
    Bytes longRate = rational(25, 1);
    longRate.insert(longRate.end(), {1, 2, 3, 4, 5, 6, 7, 8}); // only the first 8 bytes count
    // Rates no clip has are refused before conversion: not written (-7), not stored (-1).
    const Row rows[] = {
        {rational(30000, 1001), rational(16, 9), 30000.0f / 1001.0f, 16.0f / 9.0f, 30},
        {rational(25, 0), rational(4, 0), 0.0f, 1.0f, 0},
        {longRate, rational(4, 3), 25.0f, 4.0f / 3.0f, 25},
        {rational(60000, 1001), rational(16, 9), 60000.0f / 1001.0f, 16.0f / 9.0f, 60},
        {rational(24000, 1001), rational(16, 9), 24000.0f / 1001.0f, 16.0f / 9.0f, 24},
        {rational(50, 1), rational(16, 9), 50.0f, 16.0f / 9.0f, 50},
        {rational(0xfffffffe, 1), rational(16, 9), -7.0f, 16.0f / 9.0f, -1},
        {rational(0xffffffff, 0xffffffff), rational(16, 9), -7.0f, 16.0f / 9.0f, -1},
        {rational(1000, 1), rational(16, 9), -7.0f, 16.0f / 9.0f, -1},
        {rational(2997, 100), rational(16, 9), 29.97f, 16.0f / 9.0f, 30},
    };
    int n = 0;
    for (const Row &r : rows) {
        SCOPED_TRACE(n);
        C().setFrameRate = -1;
        mxf_test::Items items;
        items.Raw(0x3001, r.rate).Raw(0x320E, r.aspect).U32(0x3D01, 8).U64(0x3002, 10);
        const std::string path =
            Write("rational" + std::to_string(n++), mxf_test::Clip(items.bytes, 1440000, 16));
        const Opened o = Open(path);
        EXPECT_EQ(o.result, MxfVideoFile);
        EXPECT_FLOAT_EQ(o.frameRate, r.frameRate);
        EXPECT_FLOAT_EQ(o.aspect, r.aspectValue);
        EXPECT_EQ(o.quantBits, 8);
        EXPECT_EQ(C().setFrameRate, r.roundedRate);
        MxfClose();
    }
}

TEST_F(MxfReaderTest, FilesWithoutEssenceGiveZeroAndAreClosed)
{
    mxf_test::Items items;
    items.U32(0x3203, 720).U32(0x3202, 288).U64(0x3002, 10);
    Bytes notMxf = mxf_test::Clip(items.bytes, 1440000, 16);
    notMxf[1] = 0x0F;
    Bytes noEssence = mxf_test::Klv(mxf_test::kPartitionKey, Bytes(88, 0));
    Bytes zeroLength = mxf_test::Klv(mxf_test::kPartitionKey, {});
    Bytes cdci = mxf_test::Klv(mxf_test::kCdciKey, items.bytes);
    zeroLength.insert(zeroLength.end(), cdci.begin(), cdci.end());
    const Bytes files[] = {notMxf, noEssence, zeroLength, {}};
    int n = 0;
    for (const Bytes &f : files) {
        SCOPED_TRACE(n);
        const Opened o = Open(Write("none" + std::to_string(n++), f));
        EXPECT_EQ(o.result, MxfNoEssence);
        EXPECT_EQ(o.frameBytes, -7);
        EXPECT_EQ(gMxfClipState.parseFd, -1);
    }
    EXPECT_EQ(Open("/nonexistent/clip.mxf").result, MxfNoEssence);
}

// Sound files are recorded in the order opened and closed most recent first; a file closed by
// MxfClose is no longer recorded, so MxfCloseAudio never closes a handle that is not its own.
TEST_F(MxfReaderTest, AudioFilesAreRecordedAndClosedMostRecentFirst)
{
    mxf_test::Items items;
    items.U64(0x3002, 19200).U32(0x3D01, 16).U64(0x3001, uint64_t(48000) << 32 | 1);
    const Bytes audio = mxf_test::AudioFile(items.bytes, 38400, 38400);
    std::string paths[3];
    for (int i = 0; i < 3; ++i) {
        paths[i] = Write("audio" + std::to_string(i), audio);
    }
    int fds[3];
    for (int i = 0; i < 3; ++i) {
        const Opened o = Open(paths[i]);
        EXPECT_EQ(o.result, MxfAudioFile);
        EXPECT_EQ(o.frameBytes, 2);
        EXPECT_EQ(o.quantBits, 16);
        EXPECT_EQ(o.height, -7); // no picture item, nothing doubled
        EXPECT_EQ(o.frameRate, 48000.0f);
        EXPECT_EQ(C().setFrameRate, -1); // the sample rate is not the clip's frame rate
        fds[i] = gMxfClipState.parseFd;
        EXPECT_EQ(gMxfClipState.audioBytesPerFrame, 2u);
    }
    // Two are recorded; the third stays the parse file only.
    EXPECT_EQ(gMxfClipState.audioFileCount, 2);
    EXPECT_EQ(gMxfClipState.audioFd[0], fds[0]);
    EXPECT_EQ(gMxfClipState.audioFd[1], fds[1]);
    MxfClose();
    EXPECT_EQ(gMxfClipState.audioFileCount, 2);
    MxfCloseAudio();
    EXPECT_EQ(gMxfClipState.audioFileCount, 1);
    EXPECT_EQ(lc::FileSeek(fds[1], 0, SEEK_SET), -1); // closed
    EXPECT_EQ(lc::FileSeek(fds[0], 0, SEEK_SET), 0);  // still open

    // The parse file is a recorded one: closing it forgets it.
    EXPECT_EQ(Open(paths[2]).result, MxfAudioFile);
    EXPECT_EQ(gMxfClipState.audioFileCount, 2);
    MxfClose();
    EXPECT_EQ(gMxfClipState.audioFileCount, 1);
    EXPECT_EQ(gMxfClipState.audioFd[0], fds[0]);
    MxfCloseAudio();
    MxfCloseAudio();
    EXPECT_EQ(gMxfClipState.audioFileCount, 0);
}

// Camera-card clips made from ffmpeg's OP-Atom files: the values the player needs, every frame
// read as ffmpeg stored it, the pictures as ffmpeg decodes them, and each sound channel.
TEST_F(MxfReaderTest, CameraCardClipsFromFfmpeg)
{
    struct Row
    {
        const char *clip;
        int width, height, frameBytes, kind;
        float frameRate;
    };
    const Row rows[] = {
        {"dv25pal", 720, 576, 144000, Dv25Pal, 25.0f},
        {"dv25ntsc", 720, 480, 120000, Dv25Ntsc, 30000.0f / 1001.0f},
        {"dv50pal", 720, 576, 288000, Dv50Pal, 25.0f},
        {"dvhd1080i50", 1920, 1080, 576000, Dvhd1080i50, 25.0f},
    };
    const std::string dir = dv_test::FixtureDir();
    ASSERT_FALSE(dir.empty());
    for (const Row &r : rows) {
        SCOPED_TRACE(r.clip);
        const std::string base = dir + "/" + r.clip;
        // The player's open: values, close, set-up for the frame size.
        Opened o = Open(base + "_v.mxf");
        ASSERT_EQ(o.result, MxfVideoFile);
        EXPECT_EQ(o.duration, 10u);
        EXPECT_EQ(o.width, r.width);
        EXPECT_EQ(o.height, r.height);
        EXPECT_EQ(o.frameBytes, r.frameBytes);
        EXPECT_FLOAT_EQ(o.frameRate, r.frameRate);
        MxfClose();
        ASSERT_EQ(SetupDecoderForFrameSize(o.height, o.width, o.frameBytes), 1);
        EXPECT_EQ(gDvDecodeSetup.decoderFormat, r.kind);

        // The playback thread's open, then every frame and one past the end.
        ASSERT_EQ(Open(base + "_v.mxf").result, MxfVideoFile);
        const std::vector<fmt_test::FrameHash> hashes = fmt_test::ReadFrameMd5(base + "_v.mxf");
        ASSERT_EQ(hashes.size(), 10u);
        const std::vector<uint8_t> ffmpegPictures = fmt_test::ReadFile(base + "_v.bgr");
        const size_t pictureBytes = size_t(r.width) * r.height * 3;
        std::vector<uint8_t> picture(pictureBytes, 0x5A);
        for (int i = 0; i <= 10; ++i) {
            SCOPED_TRACE(i);
            C().decodes.clear();
            std::memset(gDvDecodeSetup.frameBuffer, 0, size_t(r.frameBytes));
            MxfDecodeFrameAt(i, r.width, r.height, picture.data(), 1);
            if (i == 10) {
                // Past the essence: nothing read, nothing decoded.
                EXPECT_EQ(fmt_test::Md5Hex(gDvDecodeSetup.frameBuffer, size_t(r.frameBytes)),
                          fmt_test::Md5Hex(std::vector<uint8_t>(size_t(r.frameBytes)).data(),
                                           size_t(r.frameBytes)));
                EXPECT_TRUE(C().decodes.empty());
                continue;
            }
            EXPECT_EQ(fmt_test::Md5Hex(gDvDecodeSetup.frameBuffer, size_t(r.frameBytes)),
                      hashes[size_t(i)].md5);
            if (r.kind <= Dvhd720p50) {
                // The decoder gets the one fixed set of arguments.
                ASSERT_EQ(C().decodes.size(), 1u);
                const dv_test::Calls::Decode &d = C().decodes[0];
                EXPECT_EQ(d.output, picture.data());
                EXPECT_EQ(d.work, picture.data());
                EXPECT_EQ(d.source, gDvDecodeSetup.frameBuffer);
                EXPECT_EQ(d.width, 1920);
                EXPECT_EQ(d.height, 1080);
                EXPECT_EQ(d.mode, 1);
                EXPECT_EQ(d.format, r.kind);
                EXPECT_EQ(d.yuvOutput + d.fastPath + d.mirror, 0);
                EXPECT_EQ(d.bitsPerPixel, 24);
                EXPECT_EQ(d.decimation, 1);
            } else if (size_t(i + 1) * pictureBytes <= ffmpegPictures.size()) {
                // Bottom-up B, G, R as ffmpeg decodes it (colour conversions differ a little).
                const uint8_t *want = ffmpegPictures.data() + size_t(i) * pictureBytes;
                double sum = 0;
                for (size_t k = 0; k < pictureBytes; ++k) {
                    sum += std::abs(int(picture[k]) - int(want[k]));
                }
                EXPECT_LT(sum / double(pictureBytes), 3.0);
            }
        }
        MxfClose();
        TeardownDecoder();

        // Each sound channel: its samples where the reader says the essence is.
        for (int ch = 0; ch < 2; ++ch) {
            SCOPED_TRACE(ch);
            const std::string a = base + "_a" + std::to_string(ch);
            o = Open(a + ".mxf");
            ASSERT_EQ(o.result, MxfAudioFile);
            EXPECT_EQ(o.frameBytes, 2);
            EXPECT_EQ(o.quantBits, 16);
            const std::vector<uint8_t> pcm = fmt_test::ReadFile(a + ".pcm");
            ASSERT_EQ(gMxfClipState.audioEssenceLength, pcm.size());
            std::vector<uint8_t> got(pcm.size());
            const int fd = gMxfClipState.audioFd[gMxfClipState.audioFileCount - 1];
            ASSERT_EQ(lc::FileSeek(fd, gMxfClipState.audioEssenceStart, SEEK_SET),
                      gMxfClipState.audioEssenceStart);
            ASSERT_EQ(lc::FileRead(fd, got.data(), got.size()), int64_t(got.size()));
            EXPECT_EQ(got, pcm);
        }
        EXPECT_EQ(gMxfClipState.audioFileCount, 2);
        MxfCloseAudio();
        MxfCloseAudio();
    }
}

// A set-up made for another frame size decodes nothing of a clip: the codec would read the
// stale rest of the buffer, the DVCPRO HD decoder more than was read.
TEST_F(MxfReaderTest, FramesOfAnotherSizeThanTheSetUpAreNotDecoded)
{
    struct Row
    {
        int height, width, setupBytes;
        uint32_t storedWidth, storedHeight;
        uint64_t essence; // two frames
    };
    const Row rows[] = {
        {576, 720, 144000, 720, 288, 240000},    // DV25 set-up, 120000-byte frames
        {1080, 1920, 576000, 1920, 540, 960000}, // 1080i50 set-up, 480000-byte frames
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.setupBytes);
        ASSERT_EQ(SetupDecoderForFrameSize(r.height, r.width, r.setupBytes), 1);
        mxf_test::Items items;
        items.U32(0x3203, r.storedWidth).U32(0x3202, r.storedHeight).U64(0x3002, 2);
        const std::string path =
            Write("other_size.mxf", mxf_test::Clip(items.bytes, r.essence, size_t(r.essence)));
        ASSERT_EQ(Open(path).result, MxfVideoFile);
        std::vector<uint8_t> picture(size_t(r.width) * r.height * 3, 0x5A);
        MxfDecodeFrameAt(0, r.width, r.height, picture.data(), 1);
        EXPECT_TRUE(
            std::all_of(picture.begin(), picture.end(), [](uint8_t b) { return b == 0x5A; }));
        EXPECT_TRUE(C().decodes.empty());
        MxfClose();
    }
}

// Cut or damaged files: parsing stops with an error or without essence, and a frame the file
// does not hold leaves the picture alone.
TEST_F(MxfReaderTest, TruncatedAndDamagedFilesAreSafe)
{
    mxf_test::Items items;
    items.U32(0x3203, 720).U32(0x3202, 288).U64(0x3002, 2).U32(0x3D01, 8);
    const Bytes clip = mxf_test::Clip(items.bytes, 288000, 288000);
    ASSERT_EQ(SetupDecoderForFrameSize(576, 720, 144000), 1);
    std::vector<uint8_t> picture(720 * 576 * 3, 0x5A);
    const std::string path = fmt_test::ScratchDir("dvset_mxf") + "/cut.mxf";
    const size_t essenceAt = clip.size() - 288000;
    for (size_t cut = 0; cut < clip.size(); cut += cut < essenceAt + 64 ? 1 : 50000) {
        fmt_test::WriteFile(path, Bytes(clip.begin(), clip.begin() + ptrdiff_t(cut)));
        const int result =
            MxfOpen(path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(result, cut >= essenceAt ? MxfVideoFile : MxfNoEssence) << cut;
        // The frames are all zero bytes: a read that got them decodes to something, a short
        // read leaves the picture as it was.
        MxfDecodeFrameAt(1, 720, 576, picture.data(), 1);
        MxfClose();
    }
    EXPECT_TRUE(std::all_of(picture.begin(), picture.end(), [](uint8_t b) { return b == 0x5A; }));

    // Lengths that run past the file, inside and outside a descriptor.
    for (const Bytes &key : {mxf_test::kCdciKey, mxf_test::kPartitionKey}) {
        Bytes bad = key;
        bad.insert(bad.end(), {0x88, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
        bad.insert(bad.end(), clip.begin(), clip.end());
        fmt_test::WriteFile(path, bad);
        EXPECT_EQ(Open(path).result, MxfNoEssence);
    }
}

} // namespace
