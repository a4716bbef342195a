#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/conversion_options.h"
#include "formats/avi_writer.h"
#include "formats/formats_hooks.h"
#include "formats/source_audio_format.h"
#include "passes/audio_ring.h"
#include "passes/conversion_state.h"
#include "passes/copy_sound.h"
#include "passes/sound_buffer.h"
#include "passes/sound_track.h"
#include "passes/source_kind.h"
#include "platform/media/movies.h"
#include "platform/ui/message_box.h"
#include "tests/passes/sound_test_support.h"

using sound_test::AviChunkRecorder;
using sound_test::ToneFrequency;

namespace {

const char kQtRateError[] = "QT sound must be 48000/48048 Hz Stereo,\n16-bits/sample";

// A fresh movie's state: one of the 25P modes set (the processing thread always sets one), a
// QuickTime source, 48 kHz sound.
class SoundCopyTest : public ::testing::Test
{
protected:
    // Also called again by the table tests for each row.
    void SetUp() override
    {
        DisposeMovies();
        messages_.Clear();
        ResetConversionOptions(gConversionOptions);
        gConversionOptions.convert60iTo25P = 1;
        gConversionState = ConversionState{};
        gConversionState.soundMediaRate = 48000;
        gConversionState.sampleDuration = 100;
        gConversionState.timeScale = 2500;
        gSourceKind.Clear();
        gSourceKind.viaQuickTime = 1;
        gSourceAudioFormat = SourceAudioFormat{};
        ResetMovieSound();
        gAudioRing.bigEndian = 0;
    }
    void TearDown() override
    {
        ResetMovieSound();
        DisposeMovies();
    }

    void DisposeMovies()
    {
        for (Movie m : movies_) {
            DisposeMovie(m);
        }
        movies_.clear();
    }

    // Arms copying from the movie's first sound track (and its second as the right channel).
    void Arm(const char *fixture, bool secondTrack = false)
    {
        Movie movie = sound_test::OpenMovie(fixture);
        ASSERT_NE(movie, nullptr);
        movies_.push_back(movie);
        Track first = sound_test::SoundTrack(movie, 1);
        ASSERT_NE(first, nullptr);
        if (secondTrack) {
            gSoundTrackState.secondSoundTrack = sound_test::SoundTrack(movie, 2);
            ASSERT_NE(gSoundTrackState.secondSoundTrack, nullptr);
        }
        BeginAviSoundFromQuickTime(nullptr, movie, first);
        ASSERT_EQ(gSoundTrackState.soundEnabled, 1);
    }

    // Copies as a pass does: groups of n frames until the source sound ends, then the end count
    // and, for NTSC-family sources, the drain.
    void CopyAll(int groupFrames)
    {
        for (int i = 0; i < 100000 && gSoundTrackState.soundEnabled; i++) {
            ASSERT_EQ(CopySound(groupFrames), 1);
        }
        ASSERT_EQ(CopySound(EndOfPassSoundFrames()), 1);
        ASSERT_EQ(DrainRetimedSound(), 1);
    }

    std::vector<Movie> movies_;
    lc::ui::MessageRecorder messages_;
};

// The 25 s tone of an NTSC-family source, copied by groups of five frames (8008 sample frames) or
// in one end-of-pass read that is larger than the ring: either way every source frame is retimed
// once, so 1 kHz plays at 1000 x 1001 / 960 = 1042.7 Hz and 1,200,000 frames become 1,150,849.
TEST_F(SoundCopyTest, NtscToneIsRetimedByTheOneThousandAndOneStep)
{
    for (int groupFrames : {8008, 0}) {
        SetUp();
        AviChunkRecorder avi;
        gConversionState.sourceIsNtsc = 1;
        gConversionState.outputIsAvi = 1;
        Arm("sound_tone_sowt.mov");
        if (groupFrames > 0) {
            CopyAll(groupFrames);
        } else {
            EXPECT_EQ(EndOfPassSoundFrames(), 1920000);
            ASSERT_EQ(CopySound(EndOfPassSoundFrames()), 1);
            ASSERT_EQ(DrainRetimedSound(), 1);
        }
        const uint64_t expected = 1200000ull * 960 / 1001;
        EXPECT_NEAR(double(avi.Frames()), double(expected), 2.0) << groupFrames;
        // Blocks leave whole: every chunk but the drained rest is one second.
        for (size_t i = 0; i + 1 < avi.sizes.size(); i++) {
            ASSERT_EQ(avi.sizes[i], kRetimedBlockBytes) << i;
        }
        for (const std::string &id : avi.ids) {
            ASSERT_EQ(id, "01wb");
        }
        EXPECT_NEAR(ToneFrequency(avi.Samples(), avi.Frames(), 0, 48000), 1042.7, 0.1);
        EXPECT_NEAR(ToneFrequency(avi.Samples(), avi.Frames(), 1, 48000), 1042.7, 0.1);
        // The second half too: nothing unread was written over.
        size_t half = avi.Frames() / 2;
        EXPECT_NEAR(ToneFrequency(avi.Samples() + 2 * half, avi.Frames() - half, 0, 48000), 1042.7,
                    0.1);
        EXPECT_LT(AudioRingAvailableBytes(0), 4u);
        EXPECT_TRUE(messages_.Texts().empty());
    }
}

// The same through the AVI writer into a file, as a player's decoder reads it back.
TEST_F(SoundCopyTest, RetimedSoundPlaysRetimedFromTheWrittenAvi)
{
    std::string path =
        std::string(LC_BINARY_DIR) + "/fixtures/sound_out_" + std::to_string(getpid()) + ".avi";
    std::string raw = path + ".raw";
    gConversionState.sourceIsNtsc = 1;
    gConversionState.outputIsAvi = 1;
    Arm("sound_tone_sowt.mov");
    ASSERT_EQ(AviBeginRGB(path.c_str(), 80, 2500, 100, 16, 16), 1);
    std::vector<uint8_t> frame(16 * 16 * 3, 128);
    for (int group = 0; group < 20; group++) {
        for (int i = 0; i < 4; i++) {
            AviWriteVideoFrame(frame.data(), uint32_t(frame.size()));
        }
        ASSERT_EQ(CopySound(8008), 1);
    }
    ASSERT_EQ(DrainRetimedSound(), 1);
    AviCloseOutput();
    ASSERT_TRUE(sound_test::RunTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", path, "-map",
                                     "0:a", "-f", "s16le", "-c:a", "pcm_s16le", raw}));
    std::vector<uint8_t> pcm = sound_test::ReadFile(raw);
    const auto *samples = reinterpret_cast<const int16_t *>(pcm.data());
    size_t frames = pcm.size() / 4;
    EXPECT_NEAR(double(frames), 160160.0 * 960 / 1001, 2.0); // 20 groups of 8008 frames
    EXPECT_NEAR(ToneFrequency(samples, frames, 0, 48000), 1042.7, 0.1);
    EXPECT_NEAR(ToneFrequency(samples, frames, 1, 48000), 1042.7, 0.1);
    std::remove(path.c_str());
    std::remove(raw.c_str());
}

TEST_F(SoundCopyTest, EndOfPassCountIsFormedInSixtyFourBits)
{
    struct Row
    {
        int rate, duration, scale, frames;
    };
    const Row rows[] = {
        {48000, 100, 2500, 1920000}, // 4,800,000,000 before the division
        {48000, 100, 2997, 1601601},
        {48000, 100, 0, 0},
    };
    for (const Row &r : rows) {
        gConversionState.soundMediaRate = r.rate;
        gConversionState.sampleDuration = r.duration;
        gConversionState.timeScale = r.scale;
        EXPECT_EQ(EndOfPassSoundFrames(), r.frames) << r.scale;
    }
}

TEST_F(SoundCopyTest, TwoMonoTracksBecomeLeftAndRightOverTheShorterTrack)
{
    AviChunkRecorder avi;
    gConversionState.outputIsAvi = 1;
    Arm("sound_mono2.mov", true);
    EXPECT_EQ(gSourceAudioFormat.channels, 2);
    EXPECT_EQ(gSoundTrackState.bytesPerFrame, 4);
    CopyAll(9600);
    EXPECT_EQ(avi.Frames(), 24000u); // the right track lasts half a second
    EXPECT_NEAR(ToneFrequency(avi.Samples(), avi.Frames(), 0, 48000), 1000.0, 0.5);
    EXPECT_NEAR(ToneFrequency(avi.Samples(), avi.Frames(), 1, 48000), 500.0, 0.5);
    EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(SoundCopyTest, TwoStereoTracksAreNotMerged)
{
    AviChunkRecorder avi;
    gConversionState.outputIsAvi = 1;
    Arm("sound_stereo2.mov", true);
    CopyAll(9600);
    EXPECT_EQ(avi.bytes, sound_test::ReadFile(sound_test::Fixture("sound_tone_1s.raw")));
}

// AVI output is little-endian: 'twos' is swapped on the way; 'sowt' stays as it is.
TEST_F(SoundCopyTest, BigEndianSoundIsSwappedForAviOutput)
{
    std::vector<uint8_t> want = sound_test::ReadFile(sound_test::Fixture("sound_tone_1s.raw"));
    ASSERT_EQ(want.size(), 192000u);
    AviChunkRecorder avi;
    gConversionState.outputIsAvi = 1;
    Arm("sound_tone_twos.mov");
    CopyAll(9600);
    EXPECT_EQ(avi.bytes, want);
}

TEST_F(SoundCopyTest, SoundThatCannotBeRetimedIsRefusedOnce)
{
    for (const char *fixture : {"sound_44k.mov", "sound_mono.mov"}) {
        SetUp();
        AviChunkRecorder avi;
        gConversionState.outputIsAvi = 1;
        Arm(fixture);
        EXPECT_EQ(CopySound(9600), 0) << fixture;
        EXPECT_EQ(CopySound(9600), 0) << fixture;
        EXPECT_EQ(messages_.Texts(), std::vector<std::string>{kQtRateError}) << fixture;
        EXPECT_TRUE(avi.bytes.empty());
    }
}

// AVI output of sound in a format other than 16-bit PCM: warned once, copying stops, no sound.
TEST_F(SoundCopyTest, UnknownFormatOnAviOutputLeavesTheSoundSilent)
{
    AviChunkRecorder avi;
    gConversionState.outputIsAvi = 1;
    Arm("sound_none.mov");
    EXPECT_EQ(CopySound(9600), 1);
    EXPECT_EQ(gSoundTrackState.soundEnabled, 0);
    EXPECT_EQ(CopySound(9600), 1);
    EXPECT_EQ(messages_.Texts(),
              std::vector<std::string>{"Unknown audio sample format, output soundtrack will be "
                                       "silent\nPress OK to continue."});
    EXPECT_TRUE(avi.bytes.empty());
}

// Arming is per movie: a movie whose sound does not come through the media layer must not read
// the sound of the movie before it.
TEST_F(SoundCopyTest, TheNextMovieStartsDisarmed)
{
    AviChunkRecorder avi;
    gConversionState.outputIsAvi = 1;
    gConversionState.sourceIsNtsc = 1;
    Arm("sound_tone_twos.mov");
    ASSERT_EQ(CopySound(8008), 1);
    EXPECT_GT(gAudioRing.writeIndex[0], 0u);

    ResetMovieSound();
    EXPECT_EQ(gSoundTrackState.soundEnabled, 0);
    EXPECT_EQ(gSoundTrackState.firstCall, 1);
    EXPECT_EQ(gSoundTrackState.sourceSoundMedia, nullptr);
    EXPECT_EQ(gAudioRing.writeIndex[0], 0u);
    EXPECT_EQ(gAudioRing.readPosition[0], 0u);
    EXPECT_EQ(CopySound(8008), 1);
    EXPECT_EQ(DrainRetimedSound(), 1);
    EXPECT_TRUE(avi.bytes.empty());
}

// The "Delay Audio" option on AVI output: silence first, or source bytes dropped, carried from
// block to block.
TEST_F(SoundCopyTest, DelayOnAviOutputInsertsSilenceOrDropsSound)
{
    std::vector<uint8_t> tone = sound_test::ReadFile(sound_test::Fixture("sound_tone_1s.raw"));
    ASSERT_EQ(tone.size(), 192000u);
    struct Row
    {
        int delayFrames;
        std::vector<int> copies; // sample frames per CopySound call
        std::vector<uint32_t> chunks;
        size_t toneStart; // byte of the tone the sound starts with
        size_t silence;   // bytes of silence before it
    };
    const Row rows[] = {
        {0, {1500, 9600}, {6000, 38400}, 0, 0},
        {1, {9600}, {8000, 38400}, 0, 8000},
        {-1, {1500, 9600}, {36400}, 8000, 0}, // 6000 dropped whole, then 2000 more
        {-1, {1500, 500, 9600}, {38400}, 8000, 0},
    };
    for (const Row &row : rows) {
        SetUp();
        AviChunkRecorder avi;
        gConversionState.outputIsAvi = 1;
        gConversionOptions.delayAudioFrames = row.delayFrames;
        Arm("sound_tone_sowt.mov");
        EXPECT_EQ(gSoundTrackState.pendingSkipBytes, -int64_t(row.delayFrames) * 8000);
        size_t total = 0;
        for (int n : row.copies) {
            ASSERT_EQ(CopySound(n), 1);
            total += size_t(n) * 4;
        }
        EXPECT_EQ(avi.sizes, row.chunks) << row.delayFrames;
        ASSERT_EQ(avi.bytes.size(), total - row.toneStart + row.silence) << row.delayFrames;
        EXPECT_EQ(std::vector<uint8_t>(avi.bytes.begin(), avi.bytes.begin() + long(row.silence)),
                  std::vector<uint8_t>(row.silence, 0));
        EXPECT_EQ(0, std::memcmp(avi.bytes.data() + row.silence, tone.data() + row.toneStart,
                                 avi.bytes.size() - row.silence))
            << row.delayFrames;
    }
}

// The output sound track of QuickTime output, in a movie file of its own.
class SoundTrackTest : public SoundCopyTest
{
protected:
    void SetUp() override
    {
        CloseOutput();
        SoundCopyTest::SetUp();
        path_ =
            std::string(LC_BINARY_DIR) + "/fixtures/sound_out_" + std::to_string(getpid()) + ".mov";
        unsigned char pascal[256] = {};
        pascal[0] = static_cast<unsigned char>(path_.size());
        std::memcpy(pascal + 1, path_.data(), path_.size());
        FSSpec spec;
        (void)FSMakeFSSpec(0, 0, pascal, &spec);
        ASSERT_EQ(CreateMovieFile(&spec, 0x54564f44, smCurrentScript, createMovieFileDeleteCurFile,
                                  &ref_, &out_),
                  noErr);
    }
    void TearDown() override
    {
        CloseOutput();
        SoundCopyTest::TearDown();
    }

    void CloseOutput()
    {
        if (out_) {
            DisposeMovie(out_);
            out_ = nullptr;
        }
        if (ref_) {
            CloseMovieFile(ref_);
            ref_ = 0;
        }
        if (!path_.empty()) {
            std::remove(path_.c_str());
        }
    }

    // An AVI file read by the system's reader, whose sound the reader published.
    void AviSource(int rate, int channels, int bits)
    {
        gSourceKind.Clear();
        gSourceKind.isAvi = 1;
        gSourceKind.viaAviPlayer = 1;
        gSourceAudioFormat = {channels, rate, bits};
    }

    // Adds one block of n bytes (byte i = i & 0xff) as a producer does.
    int AddBlock(int32_t n)
    {
        EXPECT_TRUE(EnsureSoundBuffer(n));
        for (int32_t i = 0; i < n; i++) {
            gSoundBuffer.data[i] = char(i & 0xff);
        }
        gSoundBuffer.sampleCount = n / 4;
        return AddSoundSamples();
    }

    std::string path_;
    short ref_ = 0;
    Movie out_ = nullptr;
};

TEST_F(SoundTrackTest, DelayAddsSilenceOrDropsTheFirstBytes)
{
    struct Row
    {
        int delayFrames;
        int samplesAfterFirstBlock;
        int samplesAfterSecondBlock;
    };
    // Blocks of 6000 and 4000 bytes (1500 and 1000 sample frames).
    const Row rows[] = {
        {0, 1500, 2500},
        {1, 3500, 4500}, // 2000 silent frames first
        {-1, 0, 500},    // 8000 bytes dropped: the first block whole, 2000 of the second
        {-2, 0, 0},
    };
    for (const Row &row : rows) {
        SetUp();
        AviSource(48000, 2, 16);
        gConversionOptions.delayAudioFrames = row.delayFrames;
        ASSERT_EQ(BeginOutputSoundTrack(out_), 1);
        EXPECT_EQ(gConversionState.soundMediaRate, 48000);
        EXPECT_EQ(AddBlock(6000), 1);
        EXPECT_EQ(gSoundTrackState.totalSamples, row.samplesAfterFirstBlock) << row.delayFrames;
        EXPECT_EQ(AddBlock(4000), 1);
        EXPECT_EQ(gSoundTrackState.totalSamples, row.samplesAfterSecondBlock) << row.delayFrames;
        Media media = gSoundTrackState.outputSoundMedia;
        ASSERT_EQ(EndOutputSoundTrack(), 1);
        EXPECT_EQ(GetMediaSampleCount(media), row.samplesAfterSecondBlock);
        if (row.delayFrames == -1) {
            // What is left of the second block starts at its byte 2000.
            Handle h = NewHandle(0);
            long size = 0;
            long count = 0;
            ASSERT_EQ(GetMediaSample(media, h, 0, &size, 0, nullptr, nullptr, nullptr, nullptr, 500,
                                     &count, nullptr),
                      noErr);
            ASSERT_EQ(size, 2000);
            EXPECT_EQ(uint8_t((*h)[0]), 2000 & 0xff);
            DisposeHandle(h);
        }
        EXPECT_TRUE(messages_.Texts().empty());
    }
}

TEST_F(SoundTrackTest, EndingWithoutSamplesInsertsNothing)
{
    AviSource(48000, 2, 16);
    ASSERT_EQ(BeginOutputSoundTrack(out_), 1);
    ASSERT_EQ(EndOutputSoundTrack(), 1);
    EXPECT_EQ(GetTrackDuration(gSoundTrackState.outputSoundTrack), 0);
}

// The AVI check tests the sound the reader found in the file, not the description built for the
// output (which always says 48 kHz stereo 16-bit).
TEST_F(SoundTrackTest, AviSoundIsCheckedByItsOwnFormat)
{
    struct Row
    {
        int rate, channels, bits, ok;
    };
    const Row rows[] = {
        {48000, 2, 16, 1}, {48048, 2, 16, 1}, {44100, 2, 16, 0},
        {48000, 1, 16, 0}, {48000, 2, 0, 0},  {48000, 2, 24, 0},
    };
    for (const Row &r : rows) {
        SetUp();
        AviSource(r.rate, r.channels, r.bits);
        EXPECT_EQ(BeginOutputSoundTrack(out_), r.ok) << r.rate << r.channels;
        if (r.ok) {
            EXPECT_TRUE(messages_.Texts().empty());
        } else {
            EXPECT_EQ(messages_.Texts(),
                      std::vector<std::string>{"AVI sound must be 48KHz Stereo,\n16-bits/sample"});
        }
    }
}

TEST_F(SoundTrackTest, QuickTimeSoundMustBeStereo48k)
{
    struct Row
    {
        const char *fixture;
        int ok;
    };
    const Row rows[] = {
        {"sound_tone_twos.mov", 1}, {"sound_44k.mov", 0},
        {"sound_mono.mov", 0},      {"sound_mono2.mov", 0}, // the first, one-channel track decides
        {"sound_none.mov", 0},
    };
    for (const Row &r : rows) {
        SetUp();
        gConversionState.sourceIsNtsc = 1;
        Arm(r.fixture);
        EXPECT_EQ(BeginOutputSoundTrack(out_), r.ok) << r.fixture;
        const char *want = std::strcmp(r.fixture, "sound_none.mov") == 0
                               ? "Sound format is NONE\nFor NTSC to PAL conversion, Quicktime "
                                 "sound must be\n16-bit uncompressed (Format = \"None\")"
                               : "Quicktime sound must be 48KHz Stereo,\n16-bits/sample";
        if (!r.ok) {
            EXPECT_EQ(messages_.Texts(), std::vector<std::string>{want}) << r.fixture;
        }
    }
}

// QuickTime output of an NTSC 'twos' source keeps its byte order through the ring, and the sound
// track holds the retimed frames.
TEST_F(SoundTrackTest, RetimedSoundGoesIntoTheSoundTrack)
{
    gConversionState.sourceIsNtsc = 1;
    Arm("sound_tone_twos.mov");
    ASSERT_EQ(BeginOutputSoundTrack(out_), 1);
    CopyAll(8008);
    EXPECT_EQ(gAudioRing.bigEndian, 1);
    EXPECT_NEAR(double(gSoundTrackState.totalSamples), 48000.0 * 960 / 1001, 2.0);
    ASSERT_EQ(EndOutputSoundTrack(), 1);
    EXPECT_EQ((**gSoundTrackState.soundDescription).dataFormat, kSoundFormatTwos);
    EXPECT_TRUE(messages_.Texts().empty());
}

// The reader's hook: a chunk larger than the ring's room hands out whole blocks first.
TEST_F(SoundCopyTest, CompressedSoundIsDecodedOrRefused)
{
    struct Row
    {
        const char *fixture;
        bool decoded;
    };
    for (const Row &row : {Row{"sound_aac.mov", true}, Row{"sound_undecodable.mov", false}}) {
        SetUp();
        Movie movie = sound_test::OpenMovie(row.fixture);
        ASSERT_NE(movie, nullptr);
        movies_.push_back(movie);
        Track track = sound_test::SoundTrack(movie, 1);
        Track used = track;
        EXPECT_EQ(UsePlayedSound(&used, 0), row.decoded) << row.fixture;
        if (!row.decoded) {
            EXPECT_EQ(messages_.Texts(),
                      std::vector<std::string>{"Sound format is qz9x\nThe sound could not be "
                                               "decoded for the output sound track, err# -8961"});
            EXPECT_EQ(gSoundTrackState.playedSoundMovies[0], nullptr);
            continue;
        }
        // Copied from the decoded track as 48 kHz 16-bit stereo.
        ASSERT_NE(used, track);
        BeginAviSoundFromQuickTime(nullptr, movie, used);
        AviChunkRecorder avi;
        gConversionState.outputIsAvi = 1;
        ASSERT_EQ(CopySound(48000), 1);
        EXPECT_EQ(avi.bytes.size(), 192000u);
        EXPECT_TRUE(messages_.Texts().empty());
        // The next movie reads nothing of it.
        ResetMovieSound();
        EXPECT_EQ(gSoundTrackState.playedSoundMovies[0], nullptr);
        EXPECT_EQ(CopySound(9600), 1);
        EXPECT_EQ(avi.bytes.size(), 192000u);
    }
}

TEST_F(SoundCopyTest, HookedRingWritesMakeRoomInsteadOfOverwriting)
{
    FormatsHooks hooks = gFormatsHooks;
    InstallSoundFormatsHooks(hooks);
    AviChunkRecorder avi;
    gConversionState.outputIsAvi = 1;
    const uint32_t frames = kAudioRingEntries + 100000;
    std::vector<int16_t> in(size_t(frames) * 2, 5);
    hooks.writeAudioRing(in.data(), frames * 4, 0);
    EXPECT_GT(avi.sizes.size(), 0u);
    uint64_t out = avi.Frames() + AudioRingAvailableBytes(0) / 4;
    EXPECT_NEAR(double(out), double(frames) * 960 / 1001, 2.0);
    EXPECT_EQ(hooks.audioRingAvailableBytes(0), AudioRingAvailableBytes(0));
    uint8_t *b = hooks.ensureSoundBuffer(16);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(reinterpret_cast<char *>(b), gSoundBuffer.data);
}

} // namespace
