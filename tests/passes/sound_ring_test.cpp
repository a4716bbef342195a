#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "passes/audio_ring.h"
#include "passes/conversion_state.h"
#include "passes/sound_buffer.h"
#include "passes/sound_track.h"
#include "platform/ui/message_box.h"

namespace {

std::vector<int16_t> Ramp(uint32_t frames, int step)
{
    std::vector<int16_t> v(size_t(frames) * 2);
    for (uint32_t i = 0; i < frames; i++) {
        v[2 * i] = int16_t(int(i % 3000) * step);
        v[2 * i + 1] = int16_t(-int(i % 3000) * step);
    }
    return v;
}

// The interpolated value of output frame k over an input channel, as the ring defines it.
int16_t Expected(const std::vector<int16_t> &in, uint64_t k, int channel,
                 uint32_t step = kAudioRingReadStep)
{
    uint64_t pos = k * step;
    uint64_t f = pos / kAudioRingUnitsPerEntry;
    int32_t r = int32_t(pos % kAudioRingUnitsPerEntry);
    int32_t a = in[2 * f + channel];
    int32_t b = in[2 * (f + 1) + channel];
    return int16_t(a + (b - a) * r / 960);
}

class AudioRingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetAudioRings();
        gAudioRing.bigEndian = 0;
        gAudioRing.readStep = kAudioRingReadStep;
    }
    void TearDown() override { gAudioRing.readStep = kAudioRingReadStep; }
};

TEST_F(AudioRingTest, AvailableBytesFollowTheOneThousandAndOneStep)
{
    struct Row
    {
        uint32_t framesIn;
        uint32_t bytesOut;
    };
    const Row rows[] = {
        {0, 0},           {1, 0}, {1001, 3840}, // 960 output frames
        {8008, 7680 * 4}, // five NTSC frames' sound gives four 25P frames' worth
        {50050, 192000},  // exactly one second out
        {50051, 192000},
    };
    for (const Row &row : rows) {
        ResetAudioRings();
        std::vector<int16_t> in(size_t(row.framesIn) * 2 + 2);
        WriteAudioRing(in.data(), row.framesIn * 4, 0);
        EXPECT_EQ(AudioRingAvailableBytes(0), row.bytesOut) << row.framesIn;
    }
}

// A second of 29.97 sources' sound is 50050 frames; of 30 frames/s sources', read at the 1000
// step, 50000 (8000 a group of five frames become 7680, four frames at 25).
TEST_F(AudioRingTest, ASecondInGivesASecondOut)
{
    for (uint32_t step : {1001u, 1000u}) {
        SetUp();
        gAudioRing.readStep = step;
        const uint32_t frames = 50 * step;
        std::vector<int16_t> in = Ramp(frames + 1, 7);
        WriteAudioRing(in.data(), (frames + 1) * 4, 0);
        EXPECT_EQ(AudioRingAvailableBytes(0), 192000u) << step;
        std::vector<int16_t> out(48000 * 2);
        ReadAudioRingResampled(out.data(), 192000, 0);
        EXPECT_EQ(gAudioRing.readPosition[0], frames * 960) << step;
        for (uint64_t k = 0; k < 48000; k++) {
            ASSERT_EQ(out[2 * k], Expected(in, k, 0, step)) << k;
            ASSERT_EQ(out[2 * k + 1], Expected(in, k, 1, step)) << k;
        }
        EXPECT_EQ(AudioRingAvailableBytes(0), 0u);
    }
}

TEST_F(AudioRingTest, InterpolationTruncatesTowardZero)
{
    // Between -10 and -20 at 959/960 of the way: -10 + (-9590 / 960) = -19, not -20.
    gAudioRing.frames[0][0] = {-10, 10};
    gAudioRing.frames[0][1] = {-20, 20};
    gAudioRing.writeIndex[0] = 2;
    gAudioRing.readPosition[0] = 959;
    int16_t out[2];
    ReadAudioRingResampled(out, 4, 0);
    EXPECT_EQ(out[0], -19);
    EXPECT_EQ(out[1], 19);
}

TEST_F(AudioRingTest, PositionsWrap)
{
    gAudioRing.readPosition[0] = kAudioRingPositionWrap - 1;
    int16_t out[2];
    ReadAudioRingResampled(out, 4, 0);
    EXPECT_EQ(gAudioRing.readPosition[0], 1000u);

    // The last entry interpolates towards the first.
    gAudioRing.frames[0][kAudioRingEntries - 1] = {100, 0};
    gAudioRing.frames[0][0] = {200, 0};
    gAudioRing.readPosition[0] = kAudioRingPositionWrap - 480;
    ReadAudioRingResampled(out, 4, 0);
    EXPECT_EQ(out[0], 150);

    gAudioRing.writeIndex[0] = kAudioRingEntries - 1;
    const int16_t three[6] = {1, 2, 3, 4, 5, 6};
    WriteAudioRing(three, sizeof three, 0);
    EXPECT_EQ(gAudioRing.writeIndex[0], 2u);
    EXPECT_EQ(gAudioRing.frames[0][kAudioRingEntries - 1].left, 1);
    EXPECT_EQ(gAudioRing.frames[0][1].right, 6);
}

TEST_F(AudioRingTest, BigEndianSoundKeepsItsByteOrderThroughTheRing)
{
    gAudioRing.bigEndian = 1;
    // Sample 0x0102 in big-endian order, on both channels, twice.
    const uint8_t in[8] = {0x01, 0x02, 0x01, 0x02, 0x01, 0x02, 0x01, 0x02};
    WriteAudioRing(in, sizeof in, 0);
    EXPECT_EQ(gAudioRing.frames[0][0].left, 0x0102);
    EXPECT_EQ(gAudioRing.frames[0][0].right, 0x0102);
    uint8_t out[4] = {};
    ReadAudioRingResampled(out, sizeof out, 0);
    EXPECT_EQ(out[0], 0x01);
    EXPECT_EQ(out[1], 0x02);
    EXPECT_EQ(out[2], 0x01);
    EXPECT_EQ(out[3], 0x02);
    gAudioRing.bigEndian = 0;
    EXPECT_EQ(SwapSampleIfBigEndian(0x0102), 0x0102);
    gAudioRing.bigEndian = 1;
    EXPECT_EQ(SwapSampleIfBigEndian(0x0102), 0x0201);
    uint8_t s[2] = {0xAA, 0xBB};
    SwapBytes16(s);
    EXPECT_EQ(s[0], 0xBB);
    EXPECT_EQ(s[1], 0xAA);
}

TEST_F(AudioRingTest, StreamsOutsideTheEightAreIgnored)
{
    const int16_t in[2] = {1, 2};
    for (int stream : {-1, 8, 1000}) {
        WriteAudioRing(in, 4, stream);
        EXPECT_EQ(AudioRingAvailableBytes(stream), 0u);
        EXPECT_EQ(AudioRingFreeFrames(stream), 0u);
        int16_t out[2] = {7, 7};
        ReadAudioRingResampled(out, 4, stream);
        EXPECT_EQ(out[0], 7);
    }
    // Each stream keeps its own positions.
    WriteAudioRing(in, 4, 7);
    EXPECT_EQ(gAudioRing.writeIndex[7], 1u);
    EXPECT_EQ(gAudioRing.writeIndex[0], 0u);
}

TEST_F(AudioRingTest, ResetKeepsSamplesAndByteOrder)
{
    gAudioRing.bigEndian = 1;
    gAudioRing.frames[3][5] = {9, 9};
    gAudioRing.writeIndex[3] = 77;
    gAudioRing.readPosition[3] = 960 * 12;
    ResetAudioRings();
    EXPECT_EQ(gAudioRing.writeIndex[3], 0u);
    EXPECT_EQ(gAudioRing.readPosition[3], 0u);
    EXPECT_EQ(gAudioRing.frames[3][5].left, 9);
    EXPECT_EQ(gAudioRing.bigEndian, 1);
}

TEST(SoundInterleave, TwoMonoBlocksBecomeLeftAndRight)
{
    const int16_t left[3] = {1, 2, 3};
    const int16_t right[3] = {-1, -2, -3};
    int16_t out[6] = {};
    InterleaveStereo(out, left, right, sizeof left);
    const int16_t want[6] = {1, -1, 2, -2, 3, -3};
    EXPECT_EQ(0, std::memcmp(out, want, sizeof want));
}

// Counts the blocks a sink receives and keeps their bytes.
struct BlockCollector
{
    int blocks = 0;
    std::vector<int16_t> samples;
    std::vector<int32_t> sampleCounts;

    static bool Sink(void *context)
    {
        auto *c = static_cast<BlockCollector *>(context);
        c->blocks++;
        const auto *p = reinterpret_cast<const int16_t *>(gSoundBuffer.data);
        c->samples.insert(c->samples.end(), p, p + gSoundBuffer.byteCount / 2);
        c->sampleCounts.push_back(gSoundBuffer.sampleCount);
        return true;
    }
};

TEST_F(AudioRingTest, TheFirstBlockLeavesAtTheFiftyThirdSmallCall)
{
    BlockCollector c;
    std::vector<int16_t> in(960 * 2);
    int firstBlockCall = 0;
    for (int call = 1; call <= 60; call++) {
        ASSERT_TRUE(FeedAudioRing(0, in.data(), 3840, 4, BlockCollector::Sink, &c));
        ASSERT_TRUE(ReleaseRetimedBlocks(0, 4, BlockCollector::Sink, &c));
        if (c.blocks == 1 && firstBlockCall == 0) {
            firstBlockCall = call;
        }
    }
    EXPECT_EQ(firstBlockCall, 53);
    EXPECT_EQ(c.blocks, 1);
    ASSERT_EQ(c.sampleCounts.size(), 1u);
    EXPECT_EQ(c.sampleCounts[0], 48000);
}

TEST_F(AudioRingTest, EveryWholeBlockIsReleasedAtOnce)
{
    BlockCollector c;
    std::vector<int16_t> in = Ramp(160000, 3);
    ASSERT_TRUE(FeedAudioRing(0, in.data(), 160000 * 4, 4, BlockCollector::Sink, &c));
    ASSERT_TRUE(ReleaseRetimedBlocks(0, 4, BlockCollector::Sink, &c));
    EXPECT_EQ(c.blocks, 3);
    EXPECT_LE(AudioRingAvailableBytes(0), kRetimedBlockBytes);
}

// More sound than the ring holds, given at once (also from the sound buffer itself): it goes in
// in pieces and nothing unread is written over.
TEST_F(AudioRingTest, LargeFeedsOverwriteNothing)
{
    const uint32_t frames = 2600000; // about 2.5 rings' worth
    std::vector<int16_t> in = Ramp(frames, 9);
    for (bool fromSoundBuffer : {false, true}) {
        ResetAudioRings();
        BlockCollector c;
        const void *src = in.data();
        if (fromSoundBuffer) {
            ASSERT_TRUE(EnsureSoundBuffer(int32_t(frames * 4)));
            std::memcpy(gSoundBuffer.data, in.data(), frames * 4);
            src = gSoundBuffer.data;
        }
        ASSERT_TRUE(FeedAudioRing(0, src, frames * 4, 4, BlockCollector::Sink, &c));
        ASSERT_TRUE(ReleaseRetimedBlocks(0, 4, BlockCollector::Sink, &c));
        ASSERT_TRUE(DrainAudioRing(0, 4, BlockCollector::Sink, &c));
        uint64_t outFrames = c.samples.size() / 2;
        // All but the last entry's worth comes out.
        EXPECT_LE(outFrames, uint64_t(frames) * 960 / 1001) << fromSoundBuffer;
        EXPECT_GE(outFrames, uint64_t(frames) * 960 / 1001 - 2) << fromSoundBuffer;
        for (uint64_t k = 0; (k * 1001 / 960) + 1 < frames && k < outFrames; k++) {
            ASSERT_EQ(c.samples[2 * k], Expected(in, k, 0)) << k << " " << fromSoundBuffer;
            ASSERT_EQ(c.samples[2 * k + 1], Expected(in, k, 1)) << k << " " << fromSoundBuffer;
        }
        EXPECT_EQ(AudioRingAvailableBytes(0), 0u);
    }
}

TEST_F(AudioRingTest, AFullRingWithNoSinkRefusesTheRest)
{
    std::vector<int16_t> in(size_t(kAudioRingEntries) * 2);
    EXPECT_FALSE(FeedAudioRing(1, in.data(), kAudioRingEntries * 4, 4, nullptr, nullptr));
    EXPECT_EQ(AudioRingFreeFrames(1), 0u);
}

TEST(SoundDelay, BytesAreFormedInSixtyFourBits)
{
    struct Row
    {
        int32_t frames;
        int bytesPerFrame;
        int64_t bytes;
    };
    const Row rows[] = {
        {0, 4, 0},
        {1, 4, 8000},   // 2000 sample frames of silence
        {-1, 4, -8000}, // 8000 source bytes dropped
        {3, 2, 12000},
        {12000, 4, 96000000}, // beyond 32 bits in the product
        {-2000000000, 4, -16000000000000LL},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(AudioDelayBytes(r.frames, r.bytesPerFrame), r.bytes) << r.frames;
    }
    // A transport stream's offset, in source time: the 25P pass plays NTSC-family sources
    // faster, so their offset shrinks with the picture, to whole sample frames.
    struct OffsetRow
    {
        int ntsc, frameUnits, offsetMs;
        int64_t bytes;
    };
    const OffsetRow offsets[] = {
        {0, 1001, 100, 19200},       {0, 1001, -100, -19200},  {1, 1001, 100, 4603 * 4},
        {1, 1001, -300, -13810 * 4}, {1, 1000, 100, 4608 * 4},
    };
    for (const OffsetRow &r : offsets) {
        gConversionState.sourceIsNtsc = r.ntsc;
        gConversionState.ntscFrameUnits = r.frameUnits;
        EXPECT_EQ(AudioOffsetBytes(r.offsetMs, 4), r.bytes) << r.offsetMs;
    }
    gConversionState = ConversionState();
}

TEST(SoundRate, WholeHundredsOfHertz)
{
    struct Row
    {
        uint32_t hz;
        bool is48k;
    };
    const Row rows[] = {{48000, true},  {48048, true},  {48099, true}, {47999, false},
                        {48100, false}, {44100, false}, {96000, false}};
    for (const Row &r : rows) {
        EXPECT_EQ(Is48kRate(r.hz << 16), r.is48k) << r.hz;
    }
}

TEST(SoundBufferGrowth, AFailedGrowthLeavesNoStorage)
{
    lc::ui::MessageRecorder recorder;
    ASSERT_TRUE(EnsureSoundBuffer(1000));
    EXPECT_EQ(gSoundBuffer.byteCount, 1000);
    Handle kept = gSoundBuffer.handle;
    ASSERT_TRUE(EnsureSoundBuffer(500)); // fits: the same storage
    EXPECT_EQ(gSoundBuffer.handle, kept);
    EXPECT_EQ(gSoundBuffer.byteCount, 500);

    EXPECT_FALSE(EnsureSoundBuffer(-1));
    EXPECT_EQ(gSoundBuffer.handle, nullptr);
    EXPECT_EQ(gSoundBuffer.data, nullptr);
    EXPECT_EQ(gSoundBuffer.capacity, 0);
    EXPECT_EQ(gSoundBuffer.byteCount, 0);
    EXPECT_EQ(EnsureSoundBuffer2(-1), nullptr);
    EXPECT_EQ(gSoundBuffer2.data, nullptr);
    ASSERT_EQ(recorder.Texts().size(), 2u);
    EXPECT_EQ(recorder.Texts()[0], "Could not allocate sound buffer memory");
}

} // namespace
