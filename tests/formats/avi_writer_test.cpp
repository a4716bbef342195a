#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/avi_reader.h"
#include "formats/avi_writer.h"
#include "formats/source_audio_format.h"
#include "formats/source_timing.h"
#include "platform/sys/bytes.h"
#include "tests/formats/formats_test_support.h"

using fmt_test::Fake;

namespace {

using Bytes = std::vector<uint8_t>;

class AviWriterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Fake().Install();
        Fake().outputIsAvi = 1;
        gSourceTiming = {25, 1};
        gSourceAudioFormat = {2, 48000, 16};
    }
    void TearDown() override
    {
        AviCloseOutput();
        AviCloseRead();
        fmt_test::FakePasses::Uninstall();
    }
    std::string Path(const char *name) { return fmt_test::ScratchDir("writer") + "/" + name; }

    static std::string Text(const Bytes &b, size_t at, size_t n = 4)
    {
        return at + n <= b.size()
                   ? std::string(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + n))
                   : "";
    }
    static uint32_t U32(const Bytes &b, size_t at)
    {
        return at + 4 <= b.size() ? lc::LoadU32le(&b[at]) : 0xDEADBEEF;
    }
    static uint16_t U16(const Bytes &b, size_t at)
    {
        return at + 2 <= b.size() ? lc::LoadU16le(&b[at]) : 0xBEEF;
    }

    // Frames of a fixture, in file order, to write again.
    std::vector<Bytes> FixtureFrames(const char *name)
    {
        std::string path = fmt_test::FixtureDir() + "/" + name;
        uint32_t total = 0;
        EXPECT_EQ(AviOpenRead(path.c_str(), &total, nullptr), 0);
        std::vector<Bytes> frames;
        Bytes buffer(1 << 20);
        Fake().outputIsAvi = 0; // keep the reader's sound away from the writer
        for (uint32_t i = 0; i < total; ++i) {
            int n = AviReadNextFrame(buffer.data(), int(buffer.size()));
            if (n > 0) {
                frames.emplace_back(buffer.begin(), buffer.begin() + n);
            }
        }
        Fake().outputIsAvi = 1;
        AviCloseRead();
        return frames;
    }

    // The outside checkers: ffprobe in every index mode, a full decode, mediainfo.
    void ExpectOthersRead(const std::string &path, size_t frames)
    {
        const std::vector<std::vector<std::string>> modes = {
            {}, {"-use_odml", "0"}, {"-use_odml", "1"}, {"-fflags", "+ignidx"}};
        for (const auto &mode : modes) {
            std::vector<std::string> argv = {"ffprobe", "-v", "error"};
            argv.insert(argv.end(), mode.begin(), mode.end());
            for (const char *a : {"-select_streams", "v:0", "-count_packets", "-show_entries",
                                  "stream=nb_read_packets", "-of", "csv=p=0"}) {
                argv.push_back(a);
            }
            argv.push_back(path);
            std::string out;
            EXPECT_EQ(fmt_test::RunProgram(argv, &out), 0) << out;
            EXPECT_EQ(out, std::to_string(frames) + "\n") << (mode.empty() ? "" : mode[1]);
        }
        std::string out;
        EXPECT_EQ(
            fmt_test::RunProgram(
                {"ffmpeg", "-hide_banner", "-v", "error", "-i", path, "-f", "null", "-"}, &out),
            0);
        EXPECT_EQ(out, "");
        EXPECT_EQ(fmt_test::RunProgram({"mediainfo", "--Inform=Video;%FrameCount%", path}, &out),
                  0);
        EXPECT_EQ(out, std::to_string(frames) + "\n");
    }

    // Our reader returns the frames written, in order and by seeking.
    void ExpectReadBack(const std::string &path, const std::vector<Bytes> &frames,
                        const std::vector<uint32_t> &seeks)
    {
        uint32_t total = 0;
        ASSERT_EQ(AviOpenRead(path.c_str(), &total, nullptr), 0);
        ASSERT_EQ(total, frames.size());
        Bytes buffer(1 << 20);
        for (size_t i = 0; i < frames.size(); ++i) {
            int n = AviReadNextFrame(buffer.data(), int(buffer.size()));
            ASSERT_EQ(size_t(n), frames[i].size()) << "frame " << i;
            ASSERT_EQ(std::memcmp(buffer.data(), frames[i].data(), size_t(n)), 0) << i;
        }
        for (uint32_t i : seeks) {
            ASSERT_EQ(AviSeekFrame(i), 1) << "seek " << i;
            int n = AviReadSeekedFrame(buffer.data(), int(buffer.size()));
            ASSERT_EQ(size_t(n), frames[i].size()) << "seek " << i;
            ASSERT_EQ(std::memcmp(buffer.data(), frames[i].data(), size_t(n)), 0) << i;
        }
        AviCloseRead();
    }
};

// Fixed places of the header, the same for every movie.
TEST_F(AviWriterTest, HeaderLayoutOffsets)
{
    std::string path = Path("layout.avi");
    ASSERT_EQ(AviBeginDV(path.c_str(), 250, 1), 1);
    AviCloseOutput();
    Bytes f = fmt_test::ReadFile(path);
    struct Field
    {
        size_t at;
        const char *text; // a four-character code, or null for the number
        uint32_t value;
    } fields[] = {
        {0, "RIFF", 0},           {8, "AVI ", 0},
        {12, "LIST", 0},          {16, nullptr, 96768},
        {20, "hdrl", 0},          {24, "avih", 0},
        {28, nullptr, 56},        {32, nullptr, 40000},
        {36, nullptr, 3600000},   {44, nullptr, 0x810},
        {48, nullptr, 0},         {56, nullptr, 2},
        {64, nullptr, 720},       {68, nullptr, 576},
        {88, "LIST", 0},          {92, nullptr, 32372},
        {96, "strl", 0},          {100, "strh", 0},
        {108, "vids", 0},         {112, "dvsd", 0},
        {128, nullptr, 1},        {132, nullptr, 25},
        {164, "strf", 0},         {168, nullptr, 40},
        {172, nullptr, 40},       {192, nullptr, 720 * 576 * 3},
        {196, nullptr, 2835},     {212, "indx", 0},
        {216, nullptr, 32248},    {224, nullptr, 0},
        {228, "00db", 0},         {32468, "LIST", 0},
        {32472, nullptr, 32360},  {32480, "strh", 0},
        {32488, "auds", 0},       {32508, nullptr, 4},
        {32512, nullptr, 192000}, {32532, nullptr, 4},
        {32544, "strf", 0},       {32580, "indx", 0},
        {32596, "01wb", 0},       {64836, "LIST", 0},
        {64840, nullptr, 260},    {64844, "odml", 0},
        {64848, "dmlh", 0},       {64852, nullptr, 248},
        {65104, "JUNK", 0},       {96788, "LIST", 0},
        {96792, nullptr, 8192},   {96796, "INFO", 0},
        {96800, "TAPE", 0},       {104988, "LIST", 0},
        {104992, nullptr, 152},   {104996, "Tdat", 0},
        {105000, "tc_O", 0},      {105148, "JUNK", 0},
        {105152, nullptr, 96},    {105252, "LIST", 0},
        {105260, "movi", 0},      {105264, "ix00", 0},
        {105268, nullptr, 32248}, {137520, "JUNK", 0},
    };
    for (const Field &fd : fields) {
        SCOPED_TRACE(fd.at);
        if (fd.text) {
            EXPECT_EQ(Text(f, fd.at), fd.text);
        } else {
            EXPECT_EQ(U32(f, fd.at), fd.value);
        }
    }
    EXPECT_EQ(U32(f, 32552 + 4), 48000u);
    EXPECT_EQ(U16(f, 32552 + 12), 4);
    EXPECT_EQ(Text(f, 105000 + 8, 12), std::string("00:00:00:00\0", 12));
}

TEST_F(AviWriterTest, FramesPerSegmentAndTheSegmentLimit)
{
    struct Case
    {
        uint32_t sizeImage;
        uint32_t totalFrames;
        int framesPerSegment;
        int accepted;
    } cases[] = {
        {144000, 100, 3500, 1}, {1244160, 100, 863, 1},         {0, 100, 178, 1},
        {0, 0, 178, 1},         {144000, 2014 * 3500, 3500, 1}, {144000, 2014 * 3500 + 1, 3500, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sizeImage);
        SCOPED_TRACE(c.totalFrames);
        Fake().errors.clear();
        AviBitmapHeader bih;
        bih.biWidth = 720;
        bih.biHeight = 576;
        bih.biSizeImage = c.sizeImage;
        bih.biCompression = MakeFourCC("dvsd");
        EXPECT_EQ(AviWriteHeader(Path("fps.avi").c_str(), c.totalFrames, 1, 25, "r", 0, &bih),
                  c.accepted);
        EXPECT_EQ(gAviWriteState.framesPerSegment, c.framesPerSegment);
        EXPECT_EQ(Fake().errors.size(), c.accepted ? 0u : 1u);
        EXPECT_EQ(gAviWriteState.fd == -1, c.accepted == 0);
        AviCloseOutput();
    }
}

TEST_F(AviWriterTest, TextChunksAndTimecode)
{
    struct Case
    {
        const char *reel;
        int64_t start;
        uint32_t rate, scale, frames;
        uint32_t tapeSize;
        size_t tcodAt; // where "TCOD" follows the padded "TAPE"
        const char *tcod;
        const char *tcdo;
        const char *timecode;
    } cases[] = {
        {"abcde", 0, 25, 1, 250, 6, 96800 + 8 + 6, "0", "100000000", "00:00:00:00"},
        {"abcdef", 0, 25, 1, 250, 7, 96800 + 8 + 8, "0", "100000000", "00:00:00:00"},
        {"r", 10010000, 30000, 1001, 0, 2, 96800 + 8 + 2, "10010000", "10010000", "00:00:01:00"},
        {"r", 0, 0, 0, 10, 2, 96800 + 8 + 2, "0", "0", "00:00:00:00"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reel);
        AviBitmapHeader bih;
        bih.biWidth = 64;
        bih.biHeight = 48;
        bih.biXPelsPerMeter = 3780;
        std::string path = Path("text.avi");
        ASSERT_EQ(AviWriteHeader(path.c_str(), c.frames, c.scale, c.rate, c.reel, c.start, &bih),
                  1);
        AviCloseOutput();
        Bytes f = fmt_test::ReadFile(path);
        EXPECT_EQ(U32(f, 96804), c.tapeSize);
        EXPECT_EQ(Text(f, c.tcodAt), "TCOD");
        std::string tcod = Text(f, c.tcodAt + 8, std::strlen(c.tcod) + 1);
        EXPECT_EQ(tcod, std::string(c.tcod) + '\0');
        size_t tcdoAt = c.tcodAt + 8 + ((std::strlen(c.tcod) + 2) & ~size_t(1));
        EXPECT_EQ(Text(f, tcdoAt), "TCDO");
        EXPECT_EQ(Text(f, tcdoAt + 8, std::strlen(c.tcdo)), c.tcdo);
        EXPECT_EQ(Text(f, 105008, 11), c.timecode);
        EXPECT_EQ(Text(f, 105052, 4), "rn_O");
        EXPECT_EQ(Text(f, 105060, std::strlen(c.reel)), c.reel);
        EXPECT_EQ(U32(f, 172 + 24), 3780u); // biXPelsPerMeter kept
        EXPECT_EQ(U32(f, 172 + 28), 2835u); // biYPelsPerMeter filled in
        EXPECT_EQ(Text(f, 105260), "movi"); // every text fits the fixed rooms
    }
}

// The audio header says what the chunks hold; a source without sound gets 48 kHz stereo.
TEST_F(AviWriterTest, AudioHeaderFollowsTheFormat)
{
    struct Case
    {
        SourceAudioFormat format;
        uint16_t channels;
        uint32_t rate;
        uint16_t blockAlign;
    } cases[] = {
        {{2, 48000, 16}, 2, 48000, 4},
        {{0, 0, 0}, 2, 48000, 4},
        {{1, 44100, 16}, 1, 44100, 2},
    };
    for (const Case &c : cases) {
        gSourceAudioFormat = c.format;
        std::string path = Path("audio.avi");
        ASSERT_EQ(AviBeginRGB(path.c_str(), 1, 25, 1, 48, 64), 1);
        AviCloseOutput();
        Bytes f = fmt_test::ReadFile(path);
        EXPECT_EQ(U32(f, 32508), c.blockAlign);          // dwScale
        EXPECT_EQ(U32(f, 32512), c.rate * c.blockAlign); // dwRate
        EXPECT_EQ(U32(f, 32532), c.blockAlign);          // dwSampleSize
        EXPECT_EQ(U16(f, 32552), 1);                     // PCM
        EXPECT_EQ(U16(f, 32554), c.channels);
        EXPECT_EQ(U32(f, 32556), c.rate);
        EXPECT_EQ(U32(f, 32560), c.rate * c.blockAlign); // nAvgBytesPerSec
        EXPECT_EQ(U16(f, 32564), c.blockAlign);
        EXPECT_EQ(U16(f, 32566), 16);
    }
}

TEST_F(AviWriterTest, ReplacesALongerOldFileAndReportsAnUnwritablePath)
{
    std::string path = Path("replace.avi");
    fmt_test::WriteFile(path, Bytes(400000, 0x5A));
    ASSERT_EQ(AviBeginRGB(path.c_str(), 1, 25, 1, 2, 2), 1);
    Bytes frame(12, 1);
    AviWriteVideoFrame(frame.data(), uint32_t(frame.size()));
    AviCloseOutput();
    Bytes f = fmt_test::ReadFile(path);
    EXPECT_EQ(f.size(), 8 + U32(f, 4)); // the file ends with its form

    std::string bad = fmt_test::ScratchDir("writer") + "/missing/out.avi";
    EXPECT_EQ(AviBeginRGB(bad.c_str(), 1, 25, 1, 2, 2), 0);
    ASSERT_EQ(Fake().errors.size(), 1u);
    EXPECT_EQ(Fake().errors[0], "Could not open " + bad + " for writing.");
    AviWriteVideoFrame(frame.data(), uint32_t(frame.size())); // nothing, no crash
    EXPECT_EQ(AviWriteTell(), 0);
}

// Three segments of 178 MJPEG frames (biSizeImage 0), with sound and odd-sized frames: every
// outside reader decodes it in every index mode, and ours reads it back, seeking at the segment
// boundaries.
TEST_F(AviWriterTest, ThreeSegmentFileOpensEverywhere)
{
    std::vector<Bytes> source = FixtureFrames("formats_mjpeg.avi");
    ASSERT_FALSE(source.empty());
    std::vector<Bytes> frames;
    for (size_t i = 0; i < 500; ++i) {
        frames.push_back(source[i % source.size()]);
    }
    AviBitmapHeader bih;
    bih.biWidth = 96;
    bih.biHeight = 64;
    bih.biCompression = MakeFourCC("MJPG");
    bih.biSizeImage = 0;
    std::string path = Path("three.avi");
    ASSERT_EQ(AviWriteHeader(path.c_str(), uint32_t(frames.size()), 1, 25, "Kestra", 0, &bih), 1);
    Bytes sound(7680);
    for (size_t i = 0; i < sound.size(); ++i) {
        sound[i] = uint8_t(i * 7);
    }
    bool sawOdd = false;
    for (const Bytes &fr : frames) {
        AviWriteVideoFrame(fr.data(), uint32_t(fr.size()));
        AviWriteAudioChunk("01wb", sound.data(), uint32_t(sound.size()));
        sawOdd = sawOdd || (fr.size() & 1);
    }
    EXPECT_TRUE(sawOdd);
    AviCloseOutput();
    EXPECT_TRUE(Fake().errors.empty());

    Bytes f = fmt_test::ReadFile(path);
    EXPECT_EQ(U32(f, 224), 3u);                 // video super index entries in use
    EXPECT_EQ(U32(f, 32596 - 4), 3u);           // audio likewise
    EXPECT_EQ(U32(f, 220 + 24 + 12), 178u);     // first entry's duration
    EXPECT_EQ(U32(f, 48), 500u);                // avih dwTotalFrames patched
    EXPECT_EQ(U32(f, 64856), 500u);             // dmlh
    EXPECT_EQ(U32(f, 32488 + 32), 500u * 1920); // audio dwLength in sample frames
    ExpectOthersRead(path, frames.size());
    ExpectReadBack(path, frames, {0, 177, 178, 355, 356, 499, 1});
    std::vector<fmt_test::FrameHash> theirs = fmt_test::FfmpegFrameMd5(path);
    ASSERT_EQ(theirs.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(theirs[i].md5, fmt_test::Md5Hex(frames[i].data(), frames[i].size())) << i;
    }
}

TEST_F(AviWriterTest, DvAndRgbFilesOpenEverywhere)
{
    std::vector<Bytes> dv = FixtureFrames("formats_dv_pcm.avi");
    ASSERT_EQ(dv.size(), 25u);
    std::string path = Path("dv.avi");
    ASSERT_EQ(AviBeginDV(path.c_str(), uint32_t(dv.size()), 1), 1);
    Bytes sound(7680, 0);
    for (const Bytes &fr : dv) {
        AviWriteVideoFrame(fr.data(), uint32_t(fr.size()));
        AviWriteAudioChunk("01wb", sound.data(), uint32_t(sound.size()));
    }
    AviCloseOutput();
    ExpectOthersRead(path, dv.size());
    ExpectReadBack(path, dv, {24, 0, 12});

    std::vector<Bytes> rgb;
    for (int i = 0; i < 10; ++i) {
        rgb.push_back(Bytes(64 * 48 * 3, uint8_t(i * 20)));
    }
    path = Path("rgb.avi");
    ASSERT_EQ(AviBeginRGB(path.c_str(), uint32_t(rgb.size()), 25, 1, 48, 64), 1);
    for (const Bytes &fr : rgb) {
        AviWriteVideoFrame(fr.data(), uint32_t(fr.size()));
    }
    AviCloseOutput();
    ExpectOthersRead(path, rgb.size());
    ExpectReadBack(path, rgb, {9, 3});
}

TEST_F(AviWriterTest, SegmentEdges)
{
    AviBitmapHeader bih;
    bih.biWidth = 8;
    bih.biHeight = 8;
    Bytes frame(5, 3); // odd: padded in the file, unpadded in the indexes
    Bytes sound(4, 1);

    // Closing right after the chunk that ended a segment adds no empty form.
    std::string path = Path("edge1.avi");
    ASSERT_EQ(AviWriteHeader(path.c_str(), 356, 1, 25, "r", 0, &bih), 1);
    for (int i = 0; i < 356; ++i) {
        AviWriteVideoFrame(frame.data(), uint32_t(frame.size()));
    }
    EXPECT_EQ(gAviWriteState.newSegmentDue, 1);
    AviCloseOutput();
    Bytes f = fmt_test::ReadFile(path);
    size_t second = 8 + U32(f, 4);
    ASSERT_EQ(Text(f, second), "RIFF");
    EXPECT_EQ(Text(f, second + 8), "AVIX");
    EXPECT_EQ(second + 8 + U32(f, second + 4), f.size());
    EXPECT_EQ(U32(f, 224), 2u);
    // The first chunk after the two rooms, and its pad.
    EXPECT_EQ(Text(f, 169776), "00db");
    EXPECT_EQ(U32(f, 169780), 5u);
    EXPECT_EQ(Text(f, 169776 + 8 + 6), "00db");
    // idx1 of the first form: the "7Fxx" entry and 178 frames, absolute offsets.
    size_t idx1 = 105256 + 4 + U32(f, 105256);
    ASSERT_EQ(Text(f, idx1), "idx1");
    EXPECT_EQ(U32(f, idx1 + 4), 179u * 16);
    EXPECT_EQ(Text(f, idx1 + 8), "7Fxx");
    EXPECT_EQ(U32(f, idx1 + 8 + 8), 105264u);
    EXPECT_EQ(U32(f, idx1 + 24 + 8), 169776u);
    EXPECT_EQ(U32(f, idx1 + 24 + 12), 5u);
    // ix00 of the first segment.
    EXPECT_EQ(Text(f, 105264), "ix00");
    EXPECT_EQ(U32(f, 105264 + 12), 178u);
    EXPECT_EQ(U32(f, 105264 + 32 + 8 + 4), 5u);

    // A segment that holds only sound: ix00 with no entries, no video super index entry.
    path = Path("edge2.avi");
    ASSERT_EQ(AviWriteHeader(path.c_str(), 178, 1, 25, "r", 0, &bih), 1);
    for (int i = 0; i < 178; ++i) {
        AviWriteVideoFrame(frame.data(), uint32_t(frame.size()));
    }
    AviWriteAudioChunk("00wb", sound.data(), uint32_t(sound.size()));
    AviCloseOutput();
    f = fmt_test::ReadFile(path);
    second = 8 + U32(f, 4);
    EXPECT_EQ(Text(f, second + 24), "ix00");
    EXPECT_EQ(U32(f, second + 24 + 12), 0u);
    EXPECT_EQ(Text(f, second + 24 + 32256), "ix01");
    EXPECT_EQ(Text(f, second + 24 + 2 * 32256), "01wb"); // always "01wb"
    EXPECT_EQ(U32(f, 224), 1u);
    EXPECT_EQ(U32(f, 32592), 1u);
    EXPECT_EQ(U32(f, 32600 + 12 + 12), 1u); // audio super entry 0: one sample frame
}

} // namespace
