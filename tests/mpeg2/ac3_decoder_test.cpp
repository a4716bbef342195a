#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mpeg2/ac3_decoder.h"
#include "mpeg2/ac3_downmix.h"
#include "platform/sys/bytes.h"
#include "tests/mpeg2/ac3_test_support.h"

namespace {

constexpr int kPacket = 2025; // AC-3 payload of a 2048-byte program-stream packet
constexpr double kMinSnrDb = 60;
// Streams of more channels mask more bins next to their tones; both decoders fill bins without
// bits with their own random dither, which bounds the agreement a little lower (54.0 to 54.8 dB
// on the fixtures).
constexpr double kMinMixSnrDb = 53.5;

struct StereoCase
{
    const char *stream;
    const char *reference;
};

class Ac3Stereo : public ::testing::TestWithParam<StereoCase>
{
};

// Stereo streams at each rate and sample rate decode as ffmpeg decodes them.
TEST_P(Ac3Stereo, MatchesReferenceDecoder)
{
    ASSERT_FALSE(Ac3FixtureDir().empty());
    std::vector<uint8_t> stream = ReadFixture(GetParam().stream);
    std::vector<int16_t> ref = ReadS16(GetParam().reference);
    ASSERT_FALSE(stream.empty());
    std::vector<int16_t> ours = DecodeAc3(stream, kPacket);
    EXPECT_EQ(ours.size(), ref.size());
    EXPECT_GE(SnrDb(ref, ours), kMinSnrDb);
}

INSTANTIATE_TEST_SUITE_P(Streams, Ac3Stereo,
                         ::testing::Values(StereoCase{"ac3_stereo_96.ac3", "ac3_stereo_96.s16"},
                                           StereoCase{"ac3_stereo_192.ac3", "ac3_stereo_192.s16"},
                                           StereoCase{"ac3_stereo_448.ac3", "ac3_stereo_448.s16"},
                                           StereoCase{"ac3_stereo_44k.ac3", "ac3_stereo_44k.s16"},
                                           StereoCase{"ac3_stereo_32k.ac3", "ac3_stereo_32k.s16"}));

struct MixCase
{
    const char *stream;
    const char *reference; // ffmpeg's decoding in the stream's own channels
    RefLayout layout;
    int cmixlev;
    int surmixlev;
};

class Ac3Downmixed : public ::testing::TestWithParam<MixCase>
{
};

// Other channel modes: our stereo equals the mix formula applied to ffmpeg's channels.
TEST_P(Ac3Downmixed, MatchesFormulaOnReferenceChannels)
{
    ASSERT_FALSE(Ac3FixtureDir().empty());
    const MixCase &c = GetParam();
    std::vector<int16_t> ref = MixReference(ReadF32(c.reference), c.layout, c.cmixlev, c.surmixlev);
    std::vector<int16_t> ours = DecodeAc3(ReadFixture(c.stream), kPacket);
    ASSERT_FALSE(ref.empty());
    EXPECT_EQ(ours.size(), ref.size());
    EXPECT_GE(SnrDb(ref, ours), kMinMixSnrDb);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Ac3Downmixed,
    ::testing::Values(MixCase{"ac3_mono.ac3", "ac3_mono.f32", RefLayout::Mono, 0, 0},
                      MixCase{"ac3_50_code0.ac3", "ac3_50_code0.f32", RefLayout::Five, 0, 0},
                      MixCase{"ac3_50_default.ac3", "ac3_50_default.f32", RefLayout::Five, 1, 1},
                      MixCase{"ac3_51.ac3", "ac3_51.f32", RefLayout::FivePoint1, 1, 1},
                      MixCase{"ac3_51_low.ac3", "ac3_51_low.f32", RefLayout::FivePoint1, 1, 1}));

// Where ffmpeg's own stereo downmix uses the same proportions (both mix levels at code 0: 1 :
// 0.707 : 0.707), ours is it scaled by the main weight, so that a full mix stays in range.
TEST(Ac3Downmix, AgreesWithReferenceDownmixAtCodeZero)
{
    ASSERT_FALSE(Ac3FixtureDir().empty());
    std::vector<float> f = ReadF32("ac3_50_code0_ac2.f32");
    std::vector<int16_t> ref;
    for (float v : f) {
        ref.push_back(
            int16_t(std::lrint(std::clamp(v * kAc3MainWeight * 32768.0, -32768.0, 32767.0))));
    }
    std::vector<int16_t> ours = DecodeAc3(ReadFixture("ac3_50_code0.ac3"), kPacket);
    EXPECT_EQ(ours.size(), ref.size());
    EXPECT_GE(SnrDb(ref, ours), kMinMixSnrDb);
}

} // namespace

namespace {

std::vector<int16_t> FramesOf(const std::vector<int16_t> &s, size_t first, size_t count,
                              size_t skipSamples = 0)
{
    size_t per = size_t(kAc3SamplesPerFrame) * 2;
    size_t from = std::min(s.size(), first * per + skipSamples * 2);
    size_t to = std::min(s.size(), (first + count) * per);
    return std::vector<int16_t>(s.begin() + long(from), s.begin() + long(to));
}

// Sets the frame's last two bytes so that the CRC over the frame less its sync word is 0 again.
void FixFrameCrc(uint8_t *frame, size_t size)
{
    uint16_t crc = 0;
    for (size_t i = 2; i + 2 < size; ++i) {
        crc ^= uint16_t(frame[i] << 8);
        for (int b = 0; b < 8; ++b) {
            crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
        }
    }
    lc::StoreU16be(frame + size - 2, crc);
}

constexpr size_t kFrame192 = 768; // bytes of a 192 kbit/s frame at 48 kHz

// However the bytes are cut into packets (one byte each, a packet ending right after a sync
// word, odd sizes, sector-sized), the decoded samples are the same.
TEST(Ac3Decoder, PacketBoundariesDoNotChangeTheOutput)
{
    ASSERT_FALSE(Ac3FixtureDir().empty());
    std::vector<uint8_t> stream = ReadFixture("ac3_stereo_192.ac3");
    std::vector<int16_t> whole = DecodeAc3(stream, int(stream.size()));
    ASSERT_EQ(whole.size(), stream.size() / kFrame192 * kAc3SamplesPerFrame * 2);
    for (int chunk : {1, 2, 7, int(kFrame192) + 2, 2048}) {
        EXPECT_EQ(DecodeAc3(stream, chunk), whole) << "pieces of " << chunk;
    }
}

// A 2048-byte packet of the smallest frames holds 16 of them, twice what a track's output
// buffer takes: decoding stops when the buffer is full and goes on with the rest, losing none.
TEST(Ac3Decoder, FullOutputBufferStopsAndResumesWithoutLoss)
{
    ASSERT_FALSE(Ac3FixtureDir().empty());
    std::vector<uint8_t> stream = ReadFixture("ac3_mono_32.ac3");
    ASSERT_GE(stream.size(), 2048u + 128u);
    std::vector<int16_t> whole = DecodeAc3(stream, int(stream.size()), 0, 1 << 22);
    Ac3DecoderInit();
    std::vector<uint8_t> packet(stream.begin(), stream.begin() + 2048);
    std::vector<uint8_t> out(kAc3TrackOutputBytes);
    int used = 0;
    int count = Ac3DecodeTrack(packet.data(), 2048, out.data(), 0, int(out.size()), 0, &used);
    EXPECT_EQ(count, kAc3TrackOutputBytes);
    EXPECT_LT(used, 2048);
    std::vector<int16_t> got(reinterpret_cast<int16_t *>(out.data()),
                             reinterpret_cast<int16_t *>(out.data()) + count / 2);
    int used2 = 0;
    int count2 = Ac3DecodeTrack(packet.data() + used, 2048 - used, out.data(), 0, int(out.size()),
                                0, &used2);
    EXPECT_EQ(used + used2, 2048);
    got.insert(got.end(), reinterpret_cast<int16_t *>(out.data()),
               reinterpret_cast<int16_t *>(out.data()) + count2 / 2);
    EXPECT_EQ(got.size(), 16u * kAc3SamplesPerFrame * 2);
    EXPECT_EQ(got, FramesOf(whole, 0, 16));
}

// A damaged frame is skipped and the search goes on: a failed CRC, the reserved sample-rate
// code (which gives no frame size at all) and frame-size codes beyond the table. The frames
// after it decode as before, also when the damaged frame holds a false sync word announcing
// the largest frame, which would swallow the next five.
TEST(Ac3Decoder, DamagedFrameIsSkipped)
{
    ASSERT_FALSE(Ac3FixtureDir().empty());
    const std::vector<uint8_t> original = ReadFixture("ac3_stereo_192.ac3");
    std::vector<int16_t> ref = ReadS16("ac3_stereo_192.s16");
    const struct
    {
        const char *what;
        size_t offset; // in the fourth frame
        uint8_t flip;  // XOR-ed into the byte
        uint8_t set;   // then OR-ed
        uint8_t keep;  // then AND-ed
        size_t falseSyncAt; // in the fourth frame, 0 for none
    } rows[] = {
        {"bad CRC", 400, 0x10, 0, 0xFF, 0},
        {"reserved sample rate", 4, 0, 0xC0, 0xFF, 0},
        {"frame size code 38", 4, 0, 38, 0xC0 | 38, 0},
        {"frame size code 63", 4, 0, 63, 0xFF, 0},
        {"bad CRC, false sync word", 400, 0x10, 0, 0xFF, 200},
        {"reserved sample rate, false sync word", 4, 0, 0xC0, 0xFF, 200},
    };
    for (const auto &r : rows) {
        std::vector<uint8_t> stream = original;
        uint8_t &b = stream[3 * kFrame192 + r.offset];
        b = uint8_t(((b ^ r.flip) | r.set) & r.keep);
        if (r.falseSyncAt) {
            // 32 kHz, 640 kbit/s: 3840 bytes.
            const uint8_t sync[] = {0x0B, 0x77, 0x12, 0x34, 2 << 6 | 37};
            std::memcpy(&stream[3 * kFrame192 + r.falseSyncAt], sync, sizeof sync);
        }
        std::vector<int16_t> ours = DecodeAc3(stream, kPacket);
        size_t frames = stream.size() / kFrame192;
        ASSERT_EQ(ours.size(), (frames - 1) * kAc3SamplesPerFrame * 2) << r.what;
        EXPECT_GE(SnrDb(FramesOf(ref, 0, 3), FramesOf(ours, 0, 3)), kMinSnrDb) << r.what;
        // After the gap only the first block overlaps a different predecessor.
        EXPECT_GE(SnrDb(FramesOf(ref, 4, frames, 256), FramesOf(ours, 3, frames, 256)), kMinSnrDb)
            << r.what;
    }
}

// A frame with a valid CRC whose contents cannot be decoded costs that frame only: the next
// frame is decoded, not dropped along with it.
TEST(Ac3Decoder, UndecodableFrameCostsOnlyItself)
{
    ASSERT_FALSE(Ac3FixtureDir().empty());
    std::vector<uint8_t> original = ReadFixture("ac3_stereo_192.ac3");
    original.resize(5 * kFrame192);
    bool found = false;
    for (size_t at = 100; at + 4 < kFrame192 && !found; at += 7) {
        std::vector<uint8_t> stream = original;
        uint8_t *frame = stream.data() + 2 * kFrame192;
        frame[at] = frame[at + 1] = 0xFF;
        FixFrameCrc(frame, kFrame192);
        std::vector<int16_t> ours = DecodeAc3(stream, kPacket);
        if (ours.size() < 5u * kAc3SamplesPerFrame * 2) {
            found = true;
            EXPECT_EQ(ours.size(), 4u * kAc3SamplesPerFrame * 2) << "damage at " << at;
        }
    }
    EXPECT_TRUE(found);
}

// Two tracks of a program stream, their packets in file order: separate sync states and partial
// frames, each decoding as ffmpeg decodes it.
TEST(Ac3Decoder, InterleavedTracksOfAProgramStream)
{
    ASSERT_FALSE(Ac3FixtureDir().empty());
    std::vector<Ac3Packet> packets = Ac3PacketsOf(ReadFixture("ac3_two.vob"));
    ASSERT_GT(packets.size(), 4u);
    Ac3DecoderInit();
    std::vector<int16_t> tracks[2];
    std::vector<uint8_t> out(kAc3TrackOutputBytes);
    for (const Ac3Packet &p : packets) {
        int t = p.substream - 0x80;
        ASSERT_TRUE(t == 0 || t == 1);
        int done = 0;
        int n = int(p.payload.size());
        while (done < n) {
            int used = 0;
            int count = Ac3DecodeTrack(p.payload.data() + done, n - done, out.data(), 0,
                                       int(out.size()), t, &used);
            const auto *s = reinterpret_cast<const int16_t *>(out.data());
            tracks[t].insert(tracks[t].end(), s, s + count / 2);
            ASSERT_GT(used + count, 0);
            done += used;
        }
    }
    std::vector<int16_t> ref0 = ReadS16("ac3_two_a0.s16");
    EXPECT_EQ(tracks[0].size(), ref0.size());
    EXPECT_GE(SnrDb(ref0, tracks[0]), kMinSnrDb);
    std::vector<int16_t> ref1 =
        MixReference(ReadF32("ac3_two_a1.f32"), RefLayout::FivePoint1, 1, 1);
    EXPECT_EQ(tracks[1].size(), ref1.size());
    EXPECT_GE(SnrDb(ref1, tracks[1]), kMinMixSnrDb);
}

// Bad arguments change nothing and take nothing.
TEST(Ac3Decoder, BadArgumentsAreRefused)
{
    uint8_t in[16] = {0x0b, 0x77};
    uint8_t out[kAc3FrameOutputBytes];
    struct Row
    {
        const uint8_t *bytes;
        int length;
        uint8_t *out;
        int outCount;
        int capacity;
        int track;
    } rows[] = {
        {in, 16, out, 0, int(sizeof out), -1},    {in, 16, out, 0, int(sizeof out), kAc3Tracks},
        {in, -1, out, 0, int(sizeof out), 0},     {nullptr, 16, out, 0, int(sizeof out), 0},
        {in, 16, nullptr, 0, int(sizeof out), 0}, {in, 16, out, 8, 4, 0},
        {in, 16, out, -4, int(sizeof out), 0},
    };
    for (const Row &r : rows) {
        int used = 99;
        EXPECT_EQ(Ac3DecodeTrack(r.bytes, r.length, r.out, r.outCount, r.capacity, r.track, &used),
                  r.outCount);
        EXPECT_EQ(used, 0);
    }
}

} // namespace
