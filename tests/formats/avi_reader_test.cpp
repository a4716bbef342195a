#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "formats/avi_reader.h"
#include "formats/avi_writer.h"
#include "formats/formats_hooks.h"
#include "formats/source_audio_format.h"
#include "formats/source_timing.h"
#include "platform/sys/random.h"
#include "tests/formats/avi_builder.h"
#include "tests/formats/formats_test_support.h"

using namespace avi_build;
using fmt_test::Fake;

namespace {

constexpr int kBuffer = 1 << 20;

class AviReaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Fake().Install();
        Fake().outputIsAvi = 0;
        buffer_.assign(kBuffer, 0);
    }
    void TearDown() override
    {
        AviCloseRead();
        fmt_test::FakePasses::Uninstall();
    }
    std::string Fixture(const char *name)
    {
        std::string dir = fmt_test::FixtureDir();
        EXPECT_FALSE(dir.empty());
        return dir + "/" + name;
    }
    std::string Write(const char *name, const Bytes &bytes)
    {
        std::string path = fmt_test::ScratchDir("reader") + "/" + name;
        fmt_test::WriteFile(path, bytes);
        return path;
    }
    int Open(const std::string &path, uint32_t *frames = nullptr, int *extended = nullptr)
    {
        uint32_t f = 0;
        int e = 0;
        int r = AviOpenRead(path.c_str(), &f, &e);
        if (frames) {
            *frames = f;
        }
        if (extended) {
            *extended = e;
        }
        return r;
    }
    std::string FrameMd5(int n, size_t turnStride, size_t rows)
    {
        if (turnStride) {
            fmt_test::TurnOver(buffer_.data(), turnStride, rows);
        }
        return fmt_test::Md5Hex(buffer_.data(), size_t(n));
    }
    std::vector<uint8_t> buffer_;
};

// What ffmpeg's demuxer says each frame is, against what the reader returns, in order and by
// seeking (these small files have only "idx1").
struct FixtureCase
{
    const char *name;
    int result;
    size_t topDownStride; // rows stored top-down come back bottom-up
    size_t rows;
    int ticksPerFrame; // ffmpeg's time base units a frame lasts
    double rate;       // frames/s the reader publishes (0: none)
};

const FixtureCase kFixtures[] = {
    {"formats_dv_pcm.avi", 0, 0, 0, 1, 25},
    {"formats_raw_bgr24.avi", 0, 64 * 3, 48, 1, 25},
    {"formats_raw_bgra.avi", kAviOpenDeepColor, 64 * 4, 48, 1, 25},
    {"formats_mjpeg.avi", 0, 0, 0, 1, 30000.0 / 1001},
    {"formats_mp3.avi", 0, 0, 0, 1, 25},
    {"formats_two_audio.avi", 0, 0, 0, 1, 25},
    {"formats_swapped.avi", 0, 0, 0, 1, 25},
    {"formats_type1.avi", 0, 0, 0, 1, 0}, // no video stream header
    {"formats_dropped.avi", 0, 0, 0, 1, 25},
    // A time base of 1/50: read at 25 frames/s, 25 frames, the dropped one repeated.
    {"formats_fine_timebase.avi", 0, 0, 0, 2, 25},
};

TEST_F(AviReaderTest, EveryFrameInOrderAndBySeekEqualsFfmpeg)
{
    for (const FixtureCase &c : kFixtures) {
        SCOPED_TRACE(c.name);
        std::string path = Fixture(c.name);
        std::vector<fmt_test::FrameHash> want = fmt_test::ReadFrameMd5(path);
        ASSERT_FALSE(want.empty());
        uint32_t total = 0;
        ASSERT_EQ(Open(path, &total), c.result);
        if (c.rate > 0) {
            EXPECT_NEAR(double(gSourceTiming.rate) / gSourceTiming.scale, c.rate, 1e-9);
        }
        EXPECT_EQ(total, uint32_t((want.back().pts + c.ticksPerFrame) / c.ticksPerFrame));
        // ffmpeg lists no empty (dropped-frame) chunks; its pts is the frame slot. Each slot
        // reads as the last frame ffmpeg lists at or before it: an empty chunk repeats the
        // previous frame.
        std::vector<fmt_test::FrameHash> seen;
        std::vector<bool> empty;
        size_t next = 0;
        for (uint32_t i = 0; i < total; ++i) {
            int n = AviReadNextFrame(buffer_.data(), kBuffer);
            seen.push_back({uint32_t(n), FrameMd5(n, n > 0 ? c.topDownStride : 0, c.rows)});
            bool listed = next < want.size() && want[next].pts == int64_t(i) * c.ticksPerFrame;
            next += listed ? 1 : 0;
            empty.push_back(!listed);
            ASSERT_GT(next, 0u) << "frame " << i;
            ASSERT_EQ(seen[i].size, want[next - 1].size) << "frame " << i;
            ASSERT_EQ(seen[i].md5, want[next - 1].md5) << "frame " << i;
        }
        ASSERT_EQ(next, want.size());
        // Backwards, then a stride through, by the index.
        std::vector<uint32_t> order;
        for (uint32_t i = total; i-- > 0;) {
            order.push_back(i);
        }
        for (uint32_t i = 0; i < total; i += 7) {
            order.push_back(i);
        }
        for (uint32_t i : order) {
            ASSERT_EQ(AviSeekFrame(i), 1) << "seek " << i;
            int n = AviReadSeekedFrame(buffer_.data(), kBuffer);
            if (empty[i] && c.ticksPerFrame == 1) {
                ASSERT_EQ(n, 0) << "seek " << i; // the chunk found holds nothing
                continue;
            }
            ASSERT_EQ(uint32_t(n), seen[i].size) << "seek " << i;
            ASSERT_EQ(FrameMd5(n, n > 0 ? c.topDownStride : 0, c.rows), seen[i].md5)
                << "seek " << i;
        }
        EXPECT_EQ(AviSeekFrame(total), 0);
        AviCloseRead();
    }
}

TEST_F(AviReaderTest, FixtureFlagsAndPublishedValues)
{
    ASSERT_EQ(Open(Fixture("formats_dv_pcm.avi")), 0);
    EXPECT_EQ(gAviReadState.isDV, 1);
    EXPECT_EQ(gAviReadState.isOtherDV, 0);
    EXPECT_EQ(gAviReadState.isUncompressed, 0);
    EXPECT_EQ(AviGetFrameWidth(), 720);
    EXPECT_EQ(AviGetFrameHeight(), 576);
    EXPECT_EQ(gSourceTiming.rate / gSourceTiming.scale, 25u);
    EXPECT_EQ(gSourceAudioFormat.channels, 2);
    EXPECT_EQ(gSourceAudioFormat.samplesPerSecond, 48000);
    EXPECT_EQ(gSourceAudioFormat.bitsPerSample, 16);

    ASSERT_EQ(Open(Fixture("formats_raw_bgr24.avi")), 0);
    EXPECT_EQ(gAviReadState.isUncompressed, 1);
    EXPECT_EQ(gAviReadState.isTopDown, 1);
    EXPECT_EQ(AviGetFrameHeight(), 48);
    void *format = nullptr;
    AviCopyStreamFormat(&format);
    ASSERT_NE(format, nullptr);
    int32_t height = 0;
    std::memcpy(&height, static_cast<uint8_t *>(format) + 8, 4);
    EXPECT_EQ(height, 48); // frames come back bottom-up, and the format says so
    AviCopyStreamFormat(&format);
    std::free(format);

    ASSERT_EQ(Open(Fixture("formats_type1.avi")), 0);
    EXPECT_EQ(AviIsInterleavedDV(), 1);

    ASSERT_EQ(Open(Fixture("formats_swapped.avi")), 0);
    EXPECT_EQ(gAviReadState.videoStream, 1);
    EXPECT_EQ(gAviReadState.audioStream, 0);
}

// Seeking between sequential reads leaves the sequential place alone.
TEST_F(AviReaderTest, SeekingDoesNotDisturbSequentialReading)
{
    std::string path = Fixture("formats_mjpeg.avi");
    std::vector<fmt_test::FrameHash> want = fmt_test::ReadFrameMd5(path);
    ASSERT_EQ(Open(path), 0);
    for (size_t i = 0; i < 10; ++i) {
        ASSERT_EQ(AviSeekFrame(uint32_t(50 - i)), 1);
        ASSERT_GT(AviReadSeekedFrame(buffer_.data(), kBuffer), 0);
        int n = AviReadNextFrame(buffer_.data(), kBuffer);
        ASSERT_EQ(uint32_t(n), want[i].size) << i;
        ASSERT_EQ(FrameMd5(n, 0, 0), want[i].md5) << i;
    }
}

// The writer's header reuses the reader's format slot while a source is read; top-down source
// frames still come back bottom-up.
TEST_F(AviReaderTest, TopDownFramesStayTurnedWhileTheWriterRuns)
{
    std::string path = Fixture("formats_raw_bgr24.avi");
    std::vector<fmt_test::FrameHash> want = fmt_test::ReadFrameMd5(path);
    ASSERT_EQ(Open(path), 0);
    gSourceTiming = {25, 1};
    std::string out = fmt_test::ScratchDir("reader") + "/out.avi";
    ASSERT_EQ(AviBeginRGB(out.c_str(), 10, 25, 1, 576, 720), 1);
    int n = AviReadNextFrame(buffer_.data(), kBuffer);
    ASSERT_EQ(uint32_t(n), want[0].size);
    EXPECT_EQ(FrameMd5(n, 64 * 3, 48), want[0].md5);
    AviCloseOutput();
}

// The sound handed on is exactly the first audio stream's PCM, whatever the stream order, and
// nothing for compressed sound.
struct SoundCase
{
    const char *name;
    bool carried;
};

TEST_F(AviReaderTest, SoundHandOffCarriesOnlyThePublishedPcmStream)
{
    const SoundCase cases[] = {
        {"formats_dv_pcm.avi", true},  {"formats_two_audio.avi", true},
        {"formats_swapped.avi", true}, {"formats_mjpeg.avi", true},
        {"formats_mp3.avi", false},
    };
    for (const SoundCase &c : cases) {
        SCOPED_TRACE(c.name);
        Fake().Install();
        std::string path = Fixture(c.name);
        std::string pcm = fmt_test::ScratchDir("reader") + "/" + c.name + ".pcm";
        ASSERT_EQ(fmt_test::RunProgram({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i",
                                        path, "-map", "0:a:0", "-c", "copy", "-f", "data", pcm}),
                  0);
        std::vector<uint8_t> want = fmt_test::ReadFile(pcm);
        uint32_t total = 0;
        ASSERT_EQ(Open(path, &total), 0);
        for (uint32_t i = 0; i < total; ++i) {
            (void)AviReadNextFrame(buffer_.data(), kBuffer);
        }
        EXPECT_EQ(AviReadRemainingAudio(), 1);
        if (c.carried) {
            EXPECT_TRUE(Fake().warnings.empty());
            EXPECT_EQ(Fake().added.size(), want.size());
            EXPECT_TRUE(Fake().added == want);
        } else {
            EXPECT_TRUE(Fake().added.empty());
            EXPECT_EQ(Fake().warnings.size(), 1u);
        }
    }
}

TEST_F(AviReaderTest, FirstPassDropsSoundAndRemainingAudioCollectsTheRest)
{
    std::string path = Fixture("formats_dv_pcm.avi");
    uint32_t total = 0;
    ASSERT_EQ(Open(path, &total), 0);
    Fake().passesLeft = 2;
    for (uint32_t i = 0; i < total / 2; ++i) {
        ASSERT_GT(AviReadNextFrame(buffer_.data(), kBuffer), 0);
    }
    EXPECT_TRUE(Fake().added.empty());
    Fake().passesLeft = 1;
    AviRewindToMovi();
    for (uint32_t i = 0; i < total; ++i) {
        ASSERT_GT(AviReadNextFrame(buffer_.data(), kBuffer), 0);
    }
    size_t duringFrames = Fake().added.size();
    EXPECT_GT(duringFrames, 0u);
    EXPECT_EQ(AviReadRemainingAudio(), 1);
    EXPECT_EQ(Fake().added.size(), 48000u * 4); // one second of 48 kHz stereo in all
}

TEST_F(AviReaderTest, NtscSoundLeavesTheRingInOneSecondBlocks)
{
    Fake().sourceIsNtsc = 1;
    uint32_t total = 0;
    ASSERT_EQ(Open(Fixture("formats_mjpeg.avi"), &total), 0); // two seconds of sound
    for (uint32_t i = 0; i < total; ++i) {
        ASSERT_GT(AviReadNextFrame(buffer_.data(), kBuffer), 0);
    }
    EXPECT_EQ(AviReadRemainingAudio(), 1);
    EXPECT_EQ(Fake().ringBytesIn, 2u * 48000 * 4);
    ASSERT_EQ(Fake().addedSampleCounts.size(), 1u);
    EXPECT_EQ(Fake().addedSampleCounts[0], 48000);
}

// --- result codes and edge cases on built files ---

Bytes DvStreams()
{
    return VideoStrl("dvsd", Bih(720, 576, 24, "dvsd"));
}
Bytes Frames(int n, uint32_t size)
{
    Bytes movi;
    for (int i = 0; i < n; ++i) {
        Append(movi, Chunk("00dc", Fill(size, uint8_t(i + 1))));
    }
    return movi;
}

TEST_F(AviReaderTest, OpenResultCodes)
{
    Bytes good = AviFile(Avih(2, 720, 576), DvStreams(), Frames(2, 8));
    Bytes cut(good.begin(), good.begin() + 200); // ends inside hdrl
    Bytes wave = Riff("WAVE", Chunk("fmt ", Wave(1, 2, 48000, 16)));
    Bytes deep = AviFile(Avih(1, 8, 8), VideoStrl("DIB ", Bih(8, 8, 32, nullptr)), Frames(1, 4));
    struct Case
    {
        const char *name;
        Bytes bytes;
        int result;
    } cases[] = {
        {"good.avi", good, 0},
        {"cut.avi", cut, kAviOpenTruncated},
        {"empty.avi", {}, kAviOpenTruncated},
        {"wave.wav", wave, kAviOpenNotAvi},
        {"deep.avi", deep, kAviOpenDeepColor},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Open(Write(c.name, c.bytes)), c.result);
    }
    EXPECT_EQ(Open(fmt_test::ScratchDir("reader") + "/missing.avi"), kAviOpenCannotOpen);
    EXPECT_STREQ(AviErrorText(1), "End of file - part of AVI is missing");
    EXPECT_STREQ(
        AviErrorText(6),
        "24 bit color + transparency not supported, use Millions of colors, not Millions+");
}

TEST_F(AviReaderTest, ExtendedWhenASecondRiffFollows)
{
    Bytes first = AviFile(Avih(1, 720, 576), DvStreams(), Frames(1, 8));
    Bytes withAvix = first;
    Append(withAvix, Riff("AVIX", List("LIST", "movi", Frames(1, 8))));
    Bytes withJunk = first;
    Append(withJunk, Chunk("JUNK", Fill(4, 0)));
    struct Case
    {
        const char *name;
        Bytes bytes;
        int extended;
    } cases[] = {{"x1.avi", withAvix, 1}, {"x2.avi", withJunk, 0}, {"x3.avi", first, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int extended = -1;
        ASSERT_EQ(Open(Write(c.name, c.bytes), nullptr, &extended), 0);
        EXPECT_EQ(extended, c.extended);
    }
}

TEST_F(AviReaderTest, CodecFlagsFromHandlerAndCompression)
{
    struct Case
    {
        const char *handler;
        const char *compression;
        int isDV, isOtherDV, isUncompressed;
    } cases[] = {
        {"dvsd", "dvsd", 1, 0, 0},  {"xxxx", "dvsd", 1, 0, 0}, {"cdvc", "cdvc", 0, 1, 0},
        {"DIB ", nullptr, 0, 0, 1}, {"MJPG", "MJPG", 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.handler);
        Bytes f = AviFile(Avih(1, 8, 8), VideoStrl(c.handler, Bih(8, 8, 24, c.compression)),
                          Frames(1, 4));
        ASSERT_EQ(Open(Write("flags.avi", f)), 0);
        EXPECT_EQ(gAviReadState.isDV, c.isDV);
        EXPECT_EQ(gAviReadState.isOtherDV, c.isOtherDV);
        EXPECT_EQ(gAviReadState.isUncompressed, c.isUncompressed);
    }
}

TEST_F(AviReaderTest, StreamSlotsCountStreamListsOnly)
{
    // A JUNK chunk before the stream lists, and a third stream, do not move the slots; the last
    // stream header decides the interleaved flag.
    Bytes iavs = List("LIST", "strl", Chunk("strh", Strh("iavs", "dvsd")));
    Bytes streams = Chunk("JUNK", Fill(10, 0));
    Append(streams, VideoStrl("MJPG", Bih(8, 8, 24, "MJPG")));
    Append(streams, AudioStrl(Wave(1, 2, 48000, 16)));
    Append(streams, iavs);
    Append(streams, AudioStrl(Wave(1, 1, 8000, 8)));
    Bytes movi = Chunk("00dc", Fill(6, 1));
    Append(movi, Chunk("01wb", Fill(16, 7)));
    Append(movi, Chunk("02wb", Fill(16, 9)));
    Append(movi, Chunk("00dc", Fill(6, 2)));
    ASSERT_EQ(Open(Write("slots.avi", AviFile(Avih(2, 8, 8), streams, movi))), 0);
    EXPECT_EQ(gAviReadState.videoStream, 0);
    EXPECT_EQ(gAviReadState.audioStream, 1);
    EXPECT_EQ(gSourceAudioFormat.channels, 2);
    EXPECT_EQ(gAviReadState.isInterleavedDV, 0);
    EXPECT_EQ(AviReadNextFrame(buffer_.data(), kBuffer), 6);
    EXPECT_EQ(AviReadNextFrame(buffer_.data(), kBuffer), 6);
    EXPECT_EQ(Fake().added, Fill(16, 7));
}

TEST_F(AviReaderTest, ShortAudioFormatAndHugeIndexCountsStayInBounds)
{
    Bytes indx;
    Append(indx, Bytes{4, 0, 0, 0}); // wLongsPerEntry 4, subtype 0, type 0
    Append(indx, U32(300));
    Append(indx, Id("00dc"));
    Append(indx, Fill(12, 0));
    for (int i = 0; i < 300; ++i) {
        Append(indx, Fill(8, 0));
        Append(indx, U32(32));
        Append(indx, U32(1));
    }
    Bytes streams = VideoStrl("MJPG", Bih(8, 8, 24, "MJPG"), Chunk("indx", indx));
    Bytes shortAudio = Chunk("strh", Strh("auds", "\0\0\0\0"));
    Append(shortAudio, Chunk("strf", Bytes{1, 0, 2, 0}));
    Append(streams, List("LIST", "strl", shortAudio));
    ASSERT_EQ(Open(Write("bounds.avi", AviFile(Avih(1, 8, 8), streams, Frames(1, 4)))), 0);
    EXPECT_EQ(gAviReadState.superIndexCount, 256u);
    EXPECT_EQ(gSourceAudioFormat.channels, 2);
    EXPECT_EQ(gSourceAudioFormat.samplesPerSecond, 0);

    // An "indx" that claims 300 entries but holds 2.
    Bytes cutIndx(indx.begin(), indx.begin() + 24 + 32);
    streams = VideoStrl("MJPG", Bih(8, 8, 24, "MJPG"), Chunk("indx", cutIndx));
    ASSERT_EQ(Open(Write("bounds2.avi", AviFile(Avih(1, 8, 8), streams, Frames(1, 4)))), 0);
    EXPECT_EQ(gAviReadState.superIndexCount, 2u);
}

// A stream is read slower than its header says only when it is faster than any picture rate and
// every picture falls on a step of k chunks, the rest empty (ffmpeg copying a movie into AVI);
// then each k chunks are a frame, and a step without a picture repeats the frame before.
TEST_F(AviReaderTest, FineTimeBaseIsReadAtItsPicturesRate)
{
    struct Case
    {
        const char *name;
        uint32_t scale, rate;
        const char *chunks; // a video chunk each: 'x' a picture (the n-th holds n), '.' empty
        double readRate;    // frames/s published
        const char *frames; // each frame read in order (and by seeking), by its picture
    };
    const Case cases[] = {
        {"everyOtherOf50", 1, 50, "x.x.x.x.", 25, "1234"},
        {"pictureDropped", 1, 50, "x.x...x.", 25, "1223"},
        {"everyFourthOf100", 1, 100, "x...x...", 25, "12"},
        {"everyOtherOf5994", 1001, 60000, "x.x.x.", 30000.0 / 1001, "123"},
        {"everyOtherOf100Is50", 1, 100, "x.x.x.", 50, "123"},
        // A picture off the step: every chunk is a frame, the stream keeps its rate.
        {"offTheStep", 1, 50, "x.xx.x", 50, "112334"},
        // 25 frames/s with every other frame dropped is no 12.5 frames/s stream.
        {"everyOtherOf25", 1, 25, "x.x.", 25, "1122"},
    };
    // The chunk sizes come from "idx1", or from an OpenDML super index and its standard index.
    std::vector<std::pair<Case, bool>> runs;
    for (const Case &c : cases) {
        runs.push_back({c, false});
        runs.push_back({c, true});
    }
    for (const auto &run : runs) {
        const Case &c = run.first; // not a structured binding: the lambda below captures it
        const bool openDml = run.second;
        SCOPED_TRACE(std::string(c.name) + (openDml ? " OpenDML" : " idx1"));
        const uint32_t chunks = uint32_t(std::strlen(c.chunks));
        // moviAt: file position of the "movi" list type, which the layout does not move.
        auto build = [&](uint64_t moviAt) {
            Bytes movi, idx1, ix;
            Append(ix, Bytes{2, 0, 0, 1});
            Append(ix, U32(chunks));
            Append(ix, Id("00dc"));
            Append(ix, Fill(12, 0)); // base 0: entries hold file positions; reserved
            uint32_t offset = 4, picture = 0;
            for (const char *p = c.chunks; *p; ++p) {
                const Bytes data = *p == 'x' ? Fill(4, uint8_t(++picture)) : Bytes{};
                Append(movi, Chunk("00dc", data));
                Append(idx1, Id("00dc"));
                Append(idx1, U32(0x10));
                Append(idx1, U32(offset));
                Append(idx1, U32(uint32_t(data.size())));
                Append(ix, U32(uint32_t(moviAt) + offset + 8));
                Append(ix, U32(uint32_t(data.size())));
                offset += 8 + uint32_t(data.size());
            }
            Bytes strl = Chunk("strh", Strh("vids", "MJPG", c.scale, c.rate));
            Append(strl, Chunk("strf", Bih(8, 8, 24, "MJPG")));
            if (openDml) {
                Bytes indx;
                Append(indx, Bytes{4, 0, 0, 0});
                Append(indx, U32(1));
                Append(indx, Id("00dc"));
                Append(indx, Fill(12, 0));
                Bytes at(8);
                lc::StoreU64le(at.data(), moviAt + offset); // the "ix00" after the frames
                Append(indx, at);
                Append(indx, U32(32 + 8 * chunks));
                Append(indx, U32(chunks));
                Append(strl, Chunk("indx", indx));
                Append(movi, Chunk("ix00", ix));
            }
            return AviFile(Avih(chunks, 8, 8), List("LIST", "strl", strl), movi,
                           openDml ? Bytes{} : Chunk("idx1", idx1));
        };
        const Bytes probe = build(0);
        uint64_t moviAt = 0;
        for (size_t i = 0; i + 4 <= probe.size() && !moviAt; ++i) {
            moviAt = std::memcmp(&probe[i], "movi", 4) == 0 ? i : 0;
        }
        const Bytes file = build(moviAt);
        uint32_t total = 0;
        ASSERT_EQ(Open(Write("fine.avi", file), &total), 0);
        ASSERT_EQ(gAviReadState.superIndexCount, openDml ? 1u : 0u);
        EXPECT_NEAR(double(gSourceTiming.rate) / gSourceTiming.scale, c.readRate, 1e-9);
        ASSERT_EQ(total, uint32_t(std::strlen(c.frames)));
        for (uint32_t i = 0; i < total; ++i) {
            EXPECT_EQ(AviReadNextFrame(buffer_.data(), kBuffer), 4) << i;
            EXPECT_EQ(buffer_[0], c.frames[i] - '0') << i;
        }
        if (total < chunks) {
            for (uint32_t i = total; i-- > 0;) {
                ASSERT_EQ(AviSeekFrame(i), 1) << i;
                EXPECT_EQ(AviReadSeekedFrame(buffer_.data(), kBuffer), 4) << i;
                EXPECT_EQ(buffer_[0], c.frames[i] - '0') << i;
            }
            EXPECT_EQ(AviSeekFrame(total), 0);
        }
    }
}

TEST_F(AviReaderTest, SequentialEdgeCases)
{
    // After the last frame the last frame comes again, every time.
    ASSERT_EQ(Open(Write("two.avi", AviFile(Avih(2, 720, 576), DvStreams(), Frames(2, 8)))), 0);
    EXPECT_EQ(AviReadNextFrame(buffer_.data(), kBuffer), 8);
    EXPECT_EQ(AviReadNextFrame(buffer_.data(), kBuffer), 8);
    for (int i = 0; i < 3; ++i) {
        buffer_[0] = 0;
        EXPECT_EQ(AviReadNextFrame(buffer_.data(), kBuffer), 8);
        EXPECT_EQ(buffer_[0], 2);
    }
    // Empty chunks: passed over before the first frame, the previous frame after it; the count
    // of frames stays, so the last call repeats the last frame.
    Bytes gaps = Chunk("00dc", {});
    Append(gaps, Chunk("00dc", Fill(8, 1)));
    Append(gaps, Chunk("00dc", {}));
    Append(gaps, Chunk("00dc", Fill(6, 2)));
    ASSERT_EQ(Open(Write("gaps.avi", AviFile(Avih(4, 720, 576), DvStreams(), gaps))), 0);
    const int kGapSizes[] = {8, 8, 6, 6};
    const uint8_t kGapFirst[] = {1, 1, 2, 2};
    for (int i = 0; i < 4; ++i) {
        buffer_[0] = 0;
        EXPECT_EQ(AviReadNextFrame(buffer_.data(), kBuffer), kGapSizes[i]) << i;
        EXPECT_EQ(buffer_[0], kGapFirst[i]) << i;
    }
    // No frame at all: nothing to repeat.
    ASSERT_EQ(Open(Write("none.avi", AviFile(Avih(0, 720, 576), DvStreams(), {}))), 0);
    EXPECT_EQ(AviReadNextFrame(buffer_.data(), kBuffer), 0);

    // A chunk larger than the buffer: nothing lands outside it, 0 comes back, and the next frame
    // still reads.
    Bytes movi = Chunk("00dc", Fill(64, 1));
    Append(movi, Chunk("00dc", Fill(8, 2)));
    ASSERT_EQ(Open(Write("big.avi", AviFile(Avih(2, 720, 576), DvStreams(), movi))), 0);
    std::vector<uint8_t> small(16 + 8, 0xAB);
    EXPECT_EQ(AviReadNextFrame(small.data(), 16), 0);
    EXPECT_EQ(small[16], 0xAB);
    EXPECT_EQ(AviReadNextFrame(small.data(), 16), 8);
    EXPECT_EQ(small[0], 2);
    EXPECT_EQ(AviSeekFrame(0), 0); // no index in this file
}

TEST_F(AviReaderTest, OddChunksReadWithAndWithoutPadBytes)
{
    for (bool pad : {true, false}) {
        SCOPED_TRACE(pad ? "padded" : "unpadded");
        Bytes movi = Chunk("00dc", Bytes{1, 2, 3}, pad);
        Append(movi, Chunk("01wb", Bytes{9, 9, 9, 9, 9}, pad));
        Append(movi, Chunk("00dc", Bytes{4, 5}, pad));
        Bytes idx1;
        uint32_t off = 4;
        for (auto [id, size] : {std::pair{"00dc", 3u}, {"01wb", 5u}, {"00dc", 2u}}) {
            Append(idx1, Id(id));
            Append(idx1, U32(0x10));
            Append(idx1, U32(off));
            Append(idx1, U32(size));
            off += 8 + size + (pad ? (size & 1) : 0);
        }
        Bytes streams = DvStreams();
        Append(streams, AudioStrl(Wave(1, 1, 48000, 16)));
        Bytes file = AviFile(Avih(2, 720, 576), streams, movi, Chunk("idx1", idx1));
        ASSERT_EQ(Open(Write("odd.avi", file)), 0);
        ASSERT_EQ(AviReadNextFrame(buffer_.data(), kBuffer), 3);
        EXPECT_EQ(buffer_[2], 3);
        ASSERT_EQ(AviReadNextFrame(buffer_.data(), kBuffer), 2);
        EXPECT_EQ(buffer_[0], 4);
        ASSERT_EQ(AviSeekFrame(1), 1);
        ASSERT_EQ(AviReadSeekedFrame(buffer_.data(), kBuffer), 2);
        EXPECT_EQ(buffer_[1], 5);
    }
}

TEST_F(AviReaderTest, Idx1CountsVideoEntriesOfTheVideoStream)
{
    Bytes movi = Chunk("01wb", Fill(4, 9));
    Append(movi, Chunk("00dc", Fill(4, 1)));
    Append(movi, Chunk("00dc", Fill(4, 2)));
    Bytes idx1;
    uint32_t off = 4;
    for (const char *id : {"01wb", "00dc", "00dc"}) {
        Append(idx1, Id(id));
        Append(idx1, U32(0x10));
        Append(idx1, U32(off));
        Append(idx1, U32(4));
        off += 12;
    }
    ASSERT_EQ(
        Open(Write("idx1.avi", AviFile(Avih(2, 720, 576), DvStreams(), movi, Chunk("idx1", idx1)))),
        0);
    ASSERT_EQ(AviSeekFrame(0), 1);
    ASSERT_EQ(AviReadSeekedFrame(buffer_.data(), kBuffer), 4);
    EXPECT_EQ(buffer_[0], 1);
    EXPECT_EQ(AviSeekFrame(2), 0);
}

// Two segments of 3500 frames each by super index: frame 3500 is the second index's first entry.
TEST_F(AviReaderTest, SuperIndexFindsTheSegmentOfAFrame)
{
    // Layout: hdrl (with indx), movi: ix00 A, ix00 B, chunk X (frame 0 of A), chunk Y (frame 0
    // of B). The other entries of each index point at its first chunk.
    const uint32_t kPerSegment = 3500;
    Bytes chunkX = Chunk("00dc", Fill(4, 0x11));
    Bytes chunkY = Chunk("00dc", Fill(6, 0x22));
    auto standardIndex = [&](uint64_t base, uint32_t firstOffset, uint32_t firstSize,
                             uint32_t otherOffset, uint32_t otherSize) {
        Bytes ix;
        Append(ix, Bytes{2, 0, 0, 1});
        Append(ix, U32(kPerSegment));
        Append(ix, Id("00dc"));
        Bytes b(8);
        lc::StoreU64le(b.data(), base);
        Append(ix, b);
        Append(ix, U32(0));
        for (uint32_t k = 0; k < kPerSegment; ++k) {
            Append(ix, U32(k == 0 ? firstOffset : otherOffset));
            Append(ix, U32(k == 0 ? firstSize : otherSize));
        }
        return Chunk("ix00", ix);
    };
    // Sizes do not depend on the values, so build once for the positions.
    auto build = [&](uint64_t ixA, uint64_t ixB, uint64_t xData, uint64_t yData) {
        Bytes indx;
        Append(indx, Bytes{4, 0, 0, 0});
        Append(indx, U32(2));
        Append(indx, Id("00dc"));
        Append(indx, Fill(12, 0));
        for (uint64_t at : {ixA, ixB}) {
            Bytes b(8);
            lc::StoreU64le(b.data(), at);
            Append(indx, b);
            Append(indx, U32(32 + 8 * kPerSegment));
            Append(indx, U32(kPerSegment));
        }
        Bytes streams = VideoStrl("MJPG", Bih(8, 8, 24, "MJPG"), Chunk("indx", indx));
        Bytes movi = standardIndex(xData - 8, 8, 4, 8, 4);
        Append(movi, standardIndex(yData - 8, 8, 6, 8, 6 | 0x80000000u)); // not key frames
        Append(movi, chunkX);
        Append(movi, chunkY);
        return AviFile(Avih(2 * kPerSegment, 8, 8), streams, movi);
    };
    Bytes probe = build(0, 0, 8, 8);
    // Find the positions in the probe image: the first "ix00" and the chunks after them.
    auto find = [&](const Bytes &b, const char *id, size_t from) {
        for (size_t i = from; i + 4 <= b.size(); ++i) {
            if (std::memcmp(&b[i], id, 4) == 0) {
                return i;
            }
        }
        return b.size();
    };
    size_t ixA = find(probe, "ix00", 0);
    size_t ixB = find(probe, "ix00", ixA + 4);
    size_t x = ixB + 32 + 8 * kPerSegment;
    size_t y = x + chunkX.size();
    Bytes file = build(ixA, ixB, x + 8, y + 8);
    ASSERT_EQ(Open(Write("super.avi", file)), 0);
    ASSERT_EQ(gAviReadState.superIndexCount, 2u);
    struct Case
    {
        uint32_t frame;
        int size;
        uint8_t first;
    } cases[] = {{0, 4, 0x11}, {3499, 4, 0x11}, {3500, 6, 0x22}, {6999, 6, 0x22}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.frame);
        ASSERT_EQ(AviSeekFrame(c.frame), 1);
        ASSERT_EQ(AviReadSeekedFrame(buffer_.data(), kBuffer), c.size);
        EXPECT_EQ(buffer_[0], c.first);
    }
    EXPECT_EQ(AviSeekFrame(7000), 0);
}

// Hostile files: every cut and scattered damage give errors or short results, never an overrun
// (the sanitizers watch).
TEST_F(AviReaderTest, DamagedFilesFailCleanly)
{
    std::vector<uint8_t> good = fmt_test::ReadFile(Fixture("formats_mjpeg.avi"));
    ASSERT_GT(good.size(), 20000u);
    auto exercise = [&](const Bytes &bytes) {
        std::string path = Write("damaged.avi", bytes);
        uint32_t total = 0;
        Open(path, &total);
        for (uint32_t i = 0; i < std::min<uint32_t>(total, 80) + 2; ++i) {
            if (AviReadNextFrame(buffer_.data(), kBuffer) == 0) {
                break;
            }
        }
        (void)AviReadRemainingAudio();
        for (uint32_t i = 0; i < 70; i += 9) {
            if (AviSeekFrame(i)) {
                (void)AviReadSeekedFrame(buffer_.data(), kBuffer);
            }
        }
        void *format = nullptr;
        AviCopyStreamFormat(&format);
        std::free(format);
        AviCloseRead();
    };
    for (size_t cut : {size_t(0), size_t(3), size_t(11), size_t(100), size_t(4000), size_t(9000),
                       good.size() / 2, good.size() - 9000, good.size() - 17}) {
        SCOPED_TRACE(cut);
        exercise(Bytes(good.begin(), good.begin() + std::ptrdiff_t(cut)));
    }
    lc::CrtSrand(7);
    auto next = [] { return lc::CrtRand(); };
    for (int round = 0; round < 30; ++round) {
        Bytes bad = good;
        for (int k = 0; k < 12; ++k) {
            size_t at = (size_t(next()) << 15 | size_t(next())) % bad.size();
            if (round % 3 == 0) {
                at %= 12000; // the header
            }
            bad[at] = uint8_t(next());
            if (round % 2 == 0 && at + 4 <= bad.size()) {
                lc::StoreU32le(&bad[at], 0xFFFFFFF0u - uint32_t(next()));
            }
        }
        exercise(bad);
    }
}

TEST_F(AviReaderTest, DebugLogIsWrittenForMarkedPaths)
{
    std::string dir = fmt_test::ScratchDir("reader_log");
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    std::string path = dir + "/kestradebug.avi";
    fmt_test::WriteFile(path, AviFile(Avih(1, 720, 576), DvStreams(), Frames(1, 8)));
    ASSERT_EQ(Open(path), 0);
    ASSERT_EQ(Fake().warnings.size(), 1u);
    EXPECT_EQ(Fake().warnings[0], "avidebug.txt will be created");
    EXPECT_EQ(AviReadNextFrame(buffer_.data(), kBuffer), 8);
    std::vector<uint8_t> log = fmt_test::ReadFile(dir + "/avidebug.txt");
    std::string text(log.begin(), log.end());
    EXPECT_NE(text.find("Get header list\n"), std::string::npos);
    EXPECT_NE(text.find("Reading frame 0 at "), std::string::npos);
}

} // namespace
