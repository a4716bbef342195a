// Decoder control, header rules, stream detection, hostile input and program-stream audio.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/conversion_options.h"
#include "mpeg2/internal/demux_audio.h"
#include "mpeg2/internal/vlc_tables.h"
#include "mpeg2/mpeg2_hooks.h"
#include "mpeg2/mpeg_audio_sink.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "mpeg2/mpeg_input.h"
#include "mpeg2/mpeg_picture_decoder.h"
#include "mpeg2/mpeg_stream_info.h"
#include "mpeg2/mpeg_video_headers.h"
#include "mpeg2_test_support.h"
#include "platform/sys/file.h"

namespace {

TEST(VlcTables, EveryTableIsPrefixFree)
{
    EXPECT_EQ(FindVlcTableConflict(), nullptr);
}

TEST(FieldPictures, APairCountsOnceAndTheSecondFieldMayReferToTheFirst)
{
    DecoderHarness h;
    std::vector<CollectedPicture> got = h.DecodeWholeFile(Mpeg2Fixture("mpeg2_fields.m2v"));
    ASSERT_EQ(got.size(), 3u); // the closing I frame too, at the end of the data
    EXPECT_EQ(gMpegDecoderControl.pictureCount.load(), 5); // four fields and a frame
    EXPECT_EQ(got[2].index, 2);
    EXPECT_EQ(got[2].record.codingType, 1);
    // Frame 0: the I field pair, handed over with its own record.
    EXPECT_EQ(got[0].index, 0);
    EXPECT_EQ(got[0].record.codingType, 1);
    for (int y = 0; y < 32; ++y) {
        EXPECT_EQ(got[0].planes[0][size_t(y) * 32], y % 2 ? 96 : 160) << "line " << y;
    }
    // Frame 1: top from the reference's bottom field, bottom from this frame's top field.
    EXPECT_EQ(got[1].index, 1);
    EXPECT_EQ(got[1].record.codingType, 2);
    for (int y = 0; y < 32; ++y) {
        EXPECT_EQ(got[1].planes[0][size_t(y) * 32 + 31], 96) << "line " << y;
    }
    EXPECT_EQ(got[1].planes[1][0], 128);
}

TEST(FieldPictures, APictureWithoutSlicesLeavesTheNextPictureHeaderInPlace)
{
    DecoderHarness h;
    std::vector<CollectedPicture> got = h.DecodeWholeFile(Mpeg2Fixture("mpeg2_fields_gap.m2v"));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].index, 0);
    EXPECT_EQ(got[0].planes[0][0], 160); // frame 0, not the damaged frame 1
    EXPECT_EQ(got[0].planes[0][32], 96);
    EXPECT_EQ(got[1].index, 1);
    EXPECT_EQ(got[1].record.codingType, 2);
}

TEST(DualPrime, AveragesBothFieldsAndSurvivesADamagedReference)
{
    struct
    {
        const char *stream;
    } cases[] = {{"mpeg2_dual_prime.m2v"}, {"mpeg2_dual_prime_gap.m2v"}};
    for (const auto &c : cases) {
        DecoderHarness h;
        std::vector<CollectedPicture> got = h.DecodeWholeFile(Mpeg2Fixture(c.stream));
        ASSERT_EQ(got.size(), 3u) << c.stream;
        const std::vector<uint8_t> &p = got[1].planes[0];
        for (int y = 0; y < 16; ++y) { // copied row
            EXPECT_EQ(p[size_t(y) * 32], y % 2 ? 96 : 160) << c.stream << " line " << y;
        }
        for (int y = 16; y < 32; ++y) { // each field half its own, half the other's
            EXPECT_EQ(p[size_t(y) * 32 + 5], 128) << c.stream << " line " << y;
        }
    }
}

TEST(DecoderControl, OpenShowsTheFirstIPictureOnly)
{
    DecoderHarness h;
    OpenMpegAndStartDecoder(Mpeg2Fixture("mpeg2_ntsc_vob.vob").c_str());
    ASSERT_TRUE(DecoderHarness::WaitIdle());
    ASSERT_EQ(DecoderHarness::pictures.size(), 1u);
    EXPECT_EQ(DecoderHarness::pictures[0].record.codingType, 1);
    EXPECT_EQ(DecoderHarness::pictures[0].record.sector, 0);
    EXPECT_EQ(gMpegDecoderControl.pictureCount.load(), 15);
    EXPECT_EQ(gMpegDecoderControl.sequenceSeen.load(), 1);
    EXPECT_EQ(gMpegDecoderControl.running.load(), 0);
    EXPECT_TRUE(DecoderHarness::errors.empty());
}

// A stream's rate is its own: one whose sequence header has no extension (MPEG-1 syntax) does
// not report the rate of the stream opened before it.
TEST(DecoderControl, OpeningForgetsThePreviousStreamsRate)
{
    DecoderHarness h;
    OpenMpegAndStartDecoder(Mpeg2Fixture("mpeg2_hd_720p50.m2v").c_str());
    ASSERT_TRUE(DecoderHarness::WaitIdle());
    EXPECT_DOUBLE_EQ(MpegFrameRate(), 50.0);
    BitWriter b;
    PutSequenceHeader(b, 64, 64, 3, false);
    std::string path = WriteTempFile("no_extension.m2v", b.Bytes(4096));
    OpenMpegAndStartDecoder(path.c_str());
    ASSERT_TRUE(DecoderHarness::WaitIdle());
    EXPECT_EQ(gMpegStreamInfo.horizontalSize.load(), 64); // its header was read
    EXPECT_EQ(MpegFrameRate(), 0.0);
    lc::DeletePath(path.c_str());
}

TEST(DecoderControl, AStopRightAfterPlayEndsTheNewRun)
{
    DecoderHarness h;
    OpenMpegAndStartDecoder(Mpeg2Fixture("mpeg2_ntsc_vob.vob").c_str());
    ASSERT_TRUE(DecoderHarness::WaitIdle());
    DecoderHarness::pictures.clear();
    StartOrPauseMpegDecoding();
    StopMpegDecoder(); // may come before the thread has taken its first step
    EXPECT_EQ(IsMpegDecoderRunning(), 0);
    EXPECT_LT(DecoderHarness::pictures.size(), 14u); // a whole run hands over 14
    ASSERT_EQ(DecoderHarness::errors.size(), 1u);
    EXPECT_EQ(DecoderHarness::errors[0], "Click OK to load/close MPEG");
}

int gSlider = 0;
int Slider()
{
    return gSlider;
}

TEST(DecoderControl, SeekShowsOneIPictureAtThePercentage)
{
    DecoderHarness h;
    gMpeg2Hooks.playerSliderValue = Slider;
    OpenMpegAndStartDecoder(Mpeg2Fixture("mpeg2_ntsc_vob.vob").c_str());
    ASSERT_TRUE(DecoderHarness::WaitIdle());
    struct
    {
        int percent;
        bool later; // an I picture after the first
    } cases[] = {{0, false}, {25, true}};
    for (const auto &c : cases) {
        DecoderHarness::pictures.clear();
        gSlider = c.percent;
        SeekMpegToSlider();
        ASSERT_TRUE(DecoderHarness::WaitIdle());
        ASSERT_EQ(DecoderHarness::pictures.size(), 1u) << c.percent;
        EXPECT_EQ(DecoderHarness::pictures[0].record.codingType, 1);
        EXPECT_EQ(DecoderHarness::pictures[0].record.sector > 0, c.later) << c.percent;
        EXPECT_EQ(gMpegDecoderControl.locateMode.load(), 2);
    }
    // A run after a seek keeps the stream's start-up: no second transport-stream detection.
    EXPECT_EQ(gMpegStreamInfo.streamKind.load(), 1);
    // Play after the seek goes on from where that run left the input, not from the start: its
    // first picture is the next I picture after the one the seek showed.
    int64_t shown = DecoderHarness::pictures[0].record.sector;
    DecoderHarness::pictures.clear();
    StartOrPauseMpegDecoding();
    ASSERT_TRUE(DecoderHarness::WaitIdle());
    ASSERT_FALSE(DecoderHarness::pictures.empty());
    EXPECT_EQ(DecoderHarness::pictures[0].record.codingType, 1);
    EXPECT_GT(DecoderHarness::pictures[0].record.sector, shown);
    EXPECT_EQ(DecoderHarness::pictures[0].index, 0);
}

TEST(DecoderControl, IdleStopSaysNothingAndAMissingFileIsReported)
{
    DecoderHarness h;
    StopMpegDecoder();
    EXPECT_TRUE(DecoderHarness::errors.empty());
    OpenMpegAndStartDecoder((std::string(LC_BINARY_DIR) + "/no_such.m2v").c_str());
    ASSERT_EQ(DecoderHarness::errors.size(), 1u);
    EXPECT_EQ(DecoderHarness::errors[0], "Could not open file");
    EXPECT_EQ(IsMpegDecoderRunning(), 0);
    StartOrPauseMpegDecoding(); // no file: nothing
    EXPECT_EQ(IsMpegDecoderRunning(), 0);
}

TEST(DecoderControl, ProcessingModeFollowsSourceAndOptions)
{
    struct
    {
        int pal, convert60i, pd32, pd2332, mode;
    } cases[] = {{1, 1, 1, 1, 9}, {0, 1, 1, 0, 4}, {0, 0, 1, 1, 5}, {0, 0, 0, 1, 6}};
    ConversionOptions saved = gConversionOptions;
    static int pal = 0;
    gMpeg2Hooks.sourceIsPal = [] { return pal; };
    for (const auto &c : cases) {
        pal = c.pal;
        gConversionOptions.convert60iTo25P = c.convert60i;
        gConversionOptions.pulldown32To25P = c.pd32;
        gConversionOptions.pulldown2332To25P = c.pd2332;
        EXPECT_EQ(SelectProcessingModeForMpeg(), 1);
        EXPECT_EQ(gMpegDecoderControl.processingMode.load(), c.mode);
    }
    gConversionOptions = saved;
    gMpeg2Hooks = Mpeg2Hooks{};
    gMpegDecoderControl.processingMode = 0;
}

std::string gProgressText;
int gProgressPercent = -1;
int gSliderSet = -1;
int gPassesLeft = 1;

TEST(Progress, TextAndSliderFollowTheRunAndThePass)
{
    struct
    {
        int processing, passes, locate;
        const char *text; // "" = none
        int slider;       // -1 = not moved
    } cases[] = {
        {1, 1, 3, "Processing frame 7...", 25},
        {1, 2, 0, "Pre-Processing, Check pulldown frame 7...", -1},
        {0, 1, 3, "", 25},
    };
    DecoderHarness h;
    gMpegInputFiles.fileLength = 4000;
    gMpegInputFiles.filePosition = 1000;
    gMpegPictureDecoder.pictureNumber = 7;
    for (const auto &c : cases) {
        static int processing = 0;
        processing = c.processing;
        gPassesLeft = c.passes;
        gMpeg2Hooks.processRunning = [] { return processing; };
        gMpeg2Hooks.passesLeft = [] { return gPassesLeft; };
        gMpeg2Hooks.setProgress = [](const char *t, int p) {
            gProgressText = t;
            gProgressPercent = p;
        };
        gMpeg2Hooks.setPlayerSlider = [](int p) { gSliderSet = p; };
        gMpegDecoderControl.locateMode = c.locate;
        gProgressText.clear();
        gProgressPercent = gSliderSet = -1;
        ShowProcessingProgress();
        EXPECT_EQ(gProgressText, c.text);
        EXPECT_EQ(gProgressPercent, *c.text ? 25 : -1);
        EXPECT_EQ(gSliderSet, c.slider);
    }
    gMpegInputFiles.fileLength = 0; // an empty file gives 0 %, not a division by zero
    ShowProcessingProgress();
    EXPECT_EQ(gSliderSet, 0);
    gMpegDecoderControl.locateMode = 0;
    ResetPictureDecoder();
}

TEST(HeaderParsing, FrameRatesAndSizeExtensions)
{
    struct
    {
        int code, n, d, hExt, vExt;
        double rate;
        int width, height;
    } cases[] = {
        {4, 1, 0, 0, 0, 60000.0 / 1001, 1920, 1080},
        {6, 0, 0, 0, 0, 50.0, 1920, 1080},
        {7, 0, 0, 0, 0, 60000.0 / 1001, 1920, 1080},
        {8, 0, 0, 0, 0, 60.0, 1920, 1080},
        {3, 1, 1, 0, 0, 25.0, 1920, 1080},
        {1, 0, 0, 0, 0, 24000.0 / 1001, 1920, 1080},
        {4, 0, 0, 0, 1, 30000.0 / 1001, 1920, 1080 + 4096},
        {9, 0, 0, 1, 0, -1.0, 1920 + 4096, 1080},
    };
    DecoderHarness h;
    for (const auto &c : cases) {
        BitWriter b;
        PutSequenceHeader(b, 1920, 1080, c.code, true, c.hExt, c.vExt, c.n, c.d);
        std::string path = WriteTempFile("seq.m2v", b.Bytes(8192));
        OpenInputDirect(path);
        NextHeaderStartCode();
        ASSERT_EQ(GetBits(32), 0x1B3u);
        ParseSequenceHeader();
        EXPECT_DOUBLE_EQ(gMpegStreamInfo.frameRate.load(), c.rate) << c.code;
        EXPECT_EQ(gMpegStreamInfo.horizontalSize.load(), c.width);
        EXPECT_EQ(gMpegStreamInfo.verticalSize.load(), c.height);
        lc::DeletePath(path.c_str());
    }
}

TEST(HeaderParsing, ASequenceHeaderWithoutMatricesRestoresTheDefaults)
{
    DecoderHarness h;
    std::memset(&gMpegQuantMatrices, 1, sizeof gMpegQuantMatrices);
    BitWriter b;
    PutSequenceHeader(b, 64, 64, 3, false);
    std::string path = WriteTempFile("seqm.m2v", b.Bytes(8192));
    OpenInputDirect(path);
    NextHeaderStartCode();
    ASSERT_EQ(GetBits(32), 0x1B3u);
    ParseSequenceHeader();
    EXPECT_EQ(0, std::memcmp(gMpegQuantMatrices.intra, kDefaultIntraMatrix, 64));
    EXPECT_EQ(0, std::memcmp(gMpegQuantMatrices.chromaIntra, kDefaultIntraMatrix, 64));
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(gMpegQuantMatrices.nonIntra[i], 16);
        ASSERT_EQ(gMpegQuantMatrices.chromaNonIntra[i], 16);
    }
    lc::DeletePath(path.c_str());
}

TEST(TransportDetection, ThreeSyncBytes188ApartWithinTheFirst1023)
{
    struct
    {
        std::vector<int> syncAt;
        size_t size;
        int kind;
    } cases[] = {
        {{0, 188}, 4096, 0},        // two are not enough
        {{5, 193, 381}, 4096, 2},   // any offset up to 459
        {{460, 648, 836}, 4096, 0}, // beyond the offsets tried
        {{0, 188, 376}, 1023, 2},   // a file shorter than one sector is read too
    };
    DecoderHarness h;
    for (const auto &c : cases) {
        std::vector<uint8_t> bytes(c.size + 2048, 0);
        for (int at : c.syncAt) {
            bytes[size_t(at)] = 0x47;
        }
        bytes.resize(c.size);
        std::string path = WriteTempFile("ts.bin", bytes);
        DecoderHarness::traces.clear();
        OpenInputDirect(path);
        // Detection reads from the start of the file.
        PositionMpegInput(0);
        gMpegInputFiles.readPos = kMpegSectorBytes;
        DetectTransportStream();
        EXPECT_EQ(gMpegStreamInfo.streamKind.load(), c.kind) << c.syncAt[0];
        bool traced = false;
        for (const std::string &t : DecoderHarness::traces) {
            traced |= t == "Found MPEG2TS! (stream flag 2)\n";
        }
        EXPECT_EQ(traced, c.kind == 2);
        lc::DeletePath(path.c_str());
    }
}

std::vector<uint8_t> Truncated(const std::string &name, size_t n)
{
    std::vector<uint8_t> b = ReadFileBytes(Mpeg2Fixture(name));
    b.resize(n < b.size() ? n : b.size());
    return b;
}

std::vector<uint8_t> Garbage(size_t n, uint32_t seed)
{
    std::vector<uint8_t> b(n);
    for (auto &v : b) {
        seed = seed * 1103515245u + 12345u;
        v = uint8_t(seed >> 16);
    }
    return b;
}

std::vector<uint8_t> HugeSequence()
{
    BitWriter b;
    PutSequenceHeader(b, 4095, 4095, 3, true, 3, 3);
    b.StartCode(0x00);
    b.Put(0, 10);
    b.Put(1, 3);
    return b.Bytes(16384);
}

// Bytes of a real stream with every 97th byte flipped after its headers.
std::vector<uint8_t> Damaged(const std::string &name)
{
    std::vector<uint8_t> b = ReadFileBytes(Mpeg2Fixture(name));
    for (size_t i = 200; i < b.size(); i += 97) {
        b[i] ^= 0x5A;
    }
    return b;
}

TEST(HostileStreams, EndWithAFaultCodeAndNoOverrun)
{
    struct
    {
        const char *name;
        std::vector<uint8_t> bytes;
        int maxPictures;
    } cases[] = {
        {"truncated_vob", Truncated("mpeg2_ntsc_vob.vob", 60000), 15},
        {"truncated_ts", Truncated("mpeg2_pal_ts.ts", 30000), 12},
        {"garbage", Garbage(200000, 7), 0},
        {"huge_size", HugeSequence(), 0},
        {"no_sequence_header", Truncated("mpeg2_fields.m2v", 0), 0},
        {"damaged_es", Damaged("mpeg2_cif_tables.m2v"), 10},
        {"damaged_vob", Damaged("mpeg2_ntsc_vob.vob"), 15},
        {"damaged_fields", Damaged("mpeg2_fields.m2v"), 3},
        {"mpeg1_system", ReadFileBytes(Mpeg2Fixture("mpeg2_wide_mpg.mpg")), 0},
    };
    for (auto &c : cases) {
        DecoderHarness h;
        std::string path = WriteTempFile(std::string(c.name) + ".bin", c.bytes);
        std::vector<CollectedPicture> got = h.DecodeWholeFile(path);
        EXPECT_LE(int(got.size()), c.maxPictures) << c.name;
        EXPECT_EQ(IsMpegDecoderRunning(), 0) << c.name;
        EXPECT_GE(gMpegDecoderControl.faultCode.load(), kMpegFaultEndPosition) << c.name;
        EXPECT_TRUE(DecoderHarness::errors.empty()) << c.name; // never shown to the user
        lc::DeletePath(path.c_str());
    }
}

// Adaptation fields whose flags or length claim more than they hold spoil only their own packet:
// the video packets after them are decoded as in the clean stream.
TEST(HostileStreams, BadAdaptationFieldsSpoilOnlyTheirPacket)
{
    const std::vector<uint8_t> clean = ReadFileBytes(Mpeg2Fixture("mpeg2_pal_ts_end.ts"));
    ASSERT_EQ(clean.size() % 188, 0u);
    std::vector<uint8_t> bad;
    for (size_t at = 0; at < clean.size(); at += 188) {
        if (at % (188 * 7) == 0) {
            // A field of length 255, and a one-byte field that claims a PCR and an OPCR.
            for (uint8_t length : {uint8_t(255), uint8_t(1)}) {
                std::vector<uint8_t> p(188, 0x47);
                p[1] = 0x1F;
                p[2] = 0xFE;
                p[3] = 0x30;
                p[4] = length;
                p[5] = 0x18;
                bad.insert(bad.end(), p.begin(), p.end());
            }
        }
        bad.insert(bad.end(), clean.begin() + long(at), clean.begin() + long(at) + 188);
    }
    std::string path = WriteTempFile("bad_adaptation.ts", bad);
    DecoderHarness h;
    std::vector<CollectedPicture> want = h.DecodeWholeFile(Mpeg2Fixture("mpeg2_pal_ts_end.ts"));
    std::vector<CollectedPicture> got = h.DecodeWholeFile(path);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].planes[0], want[i].planes[0]) << "picture " << i;
    }
    lc::DeletePath(path.c_str());
}

// --- program-stream audio ---

struct AudioCall
{
    int track;
    uint32_t bytes;
    bool toFile;
    int16_t first;
};
std::vector<AudioCall> gAudioCalls;
int gDecodeCalls[kMpegAudioTracks];
int gHeaders = 0;
std::string gBase;

int FakeDecode(const uint8_t *, int length, int outCount, int t, int *consumed)
{
    *consumed = length;
    ++gDecodeCalls[t];
    int16_t *s = reinterpret_cast<int16_t *>(gMpegAudioTracks[t].samples + outCount);
    for (int i = 0; i < 3072; ++i) {
        s[i] = int16_t(t + 1);
    }
    return outCount + 6144;
}

uint32_t FakeWrite(const int16_t *samples, uint32_t bytes, FILE *file, int track)
{
    gAudioCalls.push_back({track, bytes, file != nullptr, samples[0]});
    return 0;
}

void FakeHeader(FILE *f)
{
    ++gHeaders;
    static const uint8_t zeros[44] = {};
    std::fwrite(zeros, 1, 44, f);
}

const char *Base()
{
    return gBase.c_str();
}

class ProgramStreamAudio : public ::testing::Test
{
protected:
    void SetUp() override
    {
        gAudioCalls.clear();
        std::memset(gDecodeCalls, 0, sizeof gDecodeCalls);
        gHeaders = 0;
        gMpegAudioSink.ac3DecodeTrack = FakeDecode;
        gMpegAudioSink.writeAudioBlock = FakeWrite;
        gMpegAudioSink.writeWavHeader = FakeHeader;
        gBase = std::string(LC_BINARY_DIR) + "/mpeg2_audio_" + std::to_string(::getpid());
    }
    void TearDown() override
    {
        gMpegAudioSink = MpegAudioSink{};
        ResetMpegAudioTracks(); // closes what the run left open
    }
    // Opens, then runs the whole file as a processing pass would.
    std::vector<CollectedPicture> Process(DecoderHarness &h, const std::string &path,
                                          int passesLeft)
    {
        static int passes = 1;
        passes = passesLeft;
        gMpeg2Hooks.outputBaseName = Base;
        gMpeg2Hooks.sourceIsPal = [] { return 1; };
        gMpeg2Hooks.passesLeft = [] { return passes; };
        OpenMpegAndStartDecoder(path.c_str());
        EXPECT_TRUE(DecoderHarness::WaitIdle());
        EXPECT_TRUE(gAudioCalls.empty()); // the preview run takes no audio
        DecoderHarness::pictures.clear();
        SelectProcessingModeForMpeg();
        gMpegDecoderControl.seekPercent = 0;
        ClearSequenceSeen();
        StartOrPauseMpegDecoding();
        EXPECT_TRUE(DecoderHarness::WaitIdle());
        (void)h;
        return DecoderHarness::pictures;
    }
};

TEST_F(ProgramStreamAudio, Ac3TracksGoToTheMovieAndToNumberedWavFiles)
{
    DecoderHarness h;
    Process(h, Mpeg2Fixture("mpeg2_ac3_tracks.vob"), 1);
    EXPECT_EQ(gMpegStreamInfo.audioKind.load(), 1);
    for (int t = 0; t < 3; ++t) {
        EXPECT_GT(gDecodeCalls[t], 0) << t;
    }
    EXPECT_EQ(gDecodeCalls[3], 0);
    EXPECT_EQ(gHeaders, 2);
    EXPECT_EQ(std::string(gMpegAudioTracks[1].fileName), gBase + "-Track2.wav");
    EXPECT_EQ(std::string(gMpegAudioTracks[2].fileName), gBase + "-Track3.wav");
    EXPECT_EQ(gMpegAudioTracks[0].wavFile, nullptr);
    // Every block reaches its destination; track 0 has no file. Decoded bytes of each track
    // carry its mark (silence before them is zeros).
    uint32_t total[3] = {};
    for (const AudioCall &c : gAudioCalls) {
        ASSERT_LT(c.track, 3);
        EXPECT_EQ(c.toFile, c.track > 0);
        EXPECT_TRUE(c.first == 0 || c.first == c.track + 1);
        EXPECT_EQ(c.bytes % 4, 0u);
        total[c.track] += c.bytes;
    }
    for (int t = 0; t < 3; ++t) {
        EXPECT_EQ(total[t], gMpegAudioTracks[t].totalBytes) << t;
        EXPECT_GT(total[t], 0u);
    }
    for (int t = 1; t < 3; ++t) {
        std::fclose(gMpegAudioTracks[t].wavFile);
        gMpegAudioTracks[t].wavFile = nullptr;
        EXPECT_TRUE(lc::PathExists(gMpegAudioTracks[t].fileName));
        lc::DeletePath(gMpegAudioTracks[t].fileName);
    }
}

TEST_F(ProgramStreamAudio, TheFirstOfTwoPassesTakesNoAudio)
{
    DecoderHarness h;
    Process(h, Mpeg2Fixture("mpeg2_ac3_tracks.vob"), 2);
    EXPECT_TRUE(gAudioCalls.empty());
    EXPECT_EQ(gDecodeCalls[0], 0);
    EXPECT_EQ(gHeaders, 0);
}

TEST_F(ProgramStreamAudio, ATrackFileThatCannotBeMadeEndsTheRun)
{
    DecoderHarness h;
    gBase = std::string(LC_BINARY_DIR) + "/no_such_folder/x";
    std::vector<CollectedPicture> got = Process(h, Mpeg2Fixture("mpeg2_ac3_tracks.vob"), 1);
    EXPECT_EQ(gMpegDecoderControl.faultCode.load(), kMpegFaultTrackFile);
    EXPECT_LT(got.size(), 3u);
    EXPECT_TRUE(DecoderHarness::errors.empty());
}

// LPCM of 16, 20 and 24 bits reaches the movie and "decode.wav" as 16-bit little-endian samples,
// as ffmpeg decodes them to 16 bits; formats the output cannot take give no sound at all.
TEST_F(ProgramStreamAudio, LpcmBecomes16BitStereoOrIsRefused)
{
    struct
    {
        const char *name;
        bool taken;
    } cases[] = {{"lpcm", true},
                 {"lpcm20", true},
                 {"lpcm24", true},
                 {"lpcm_mono", false},
                 {"lpcm96", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        DecoderHarness h;
        gAudioCalls.clear();
        std::string dir = std::string(LC_BINARY_DIR) + "/mpeg2_lpcm_" + std::to_string(::getpid());
        ::mkdir(dir.c_str(), 0755);
        char cwd[4096];
        ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
        ASSERT_EQ(::chdir(dir.c_str()), 0);
        Process(h, Mpeg2Fixture(std::string("mpeg2_") + c.name + ".vob"), 1);
        ASSERT_EQ(::chdir(cwd), 0);
        EXPECT_EQ(gMpegStreamInfo.audioKind.load(), 2);
        EXPECT_EQ(gMpegStreamInfo.lpcmRefused.load(), c.taken ? 0 : 1);
        if (!c.taken) {
            EXPECT_EQ(gMpegPcmTrack.wavFile, nullptr);
            EXPECT_FALSE(lc::PathExists((dir + "/decode.wav").c_str()));
            EXPECT_TRUE(gAudioCalls.empty());
            ::rmdir(dir.c_str());
            continue;
        }
        ASSERT_NE(gMpegPcmTrack.wavFile, nullptr);
        std::fclose(gMpegPcmTrack.wavFile);
        gMpegPcmTrack.wavFile = nullptr;
        std::vector<uint8_t> wav = ReadFileBytes(dir + "/decode.wav");
        ASSERT_EQ(wav.size(), 44 + gMpegPcmTrack.totalBytes);
        uint32_t movieBytes = 0;
        for (const AudioCall &call : gAudioCalls) {
            EXPECT_EQ(call.track, 0);
            EXPECT_FALSE(call.toFile);
            movieBytes += call.bytes;
        }
        EXPECT_EQ(movieBytes, gMpegPcmTrack.totalBytes);
        // The samples after the lead (silence, or sound dropped before the first picture) are
        // ffmpeg's, byte for byte.
        std::vector<uint8_t> ref =
            ReadFileBytes(Mpeg2Fixture(std::string("mpeg2_") + c.name + ".s16le"));
        ASSERT_FALSE(ref.empty());
        const int64_t lead = int64_t(wav.size() - 44) - int64_t(ref.size());
        EXPECT_LT(lead < 0 ? -lead : lead, 48000 * 4);
        EXPECT_EQ(lead % 4, 0);
        const uint8_t *ours = wav.data() + 44 + (lead > 0 ? lead : 0);
        const uint8_t *theirs = ref.data() + (lead < 0 ? -lead : 0);
        const size_t n = ref.size() - size_t(lead < 0 ? -lead : 0);
        EXPECT_EQ(std::memcmp(ours, theirs, n), 0);
        lc::DeletePath((dir + "/decode.wav").c_str());
        ::rmdir(dir.c_str());
    }
}

TEST(AudioLead, WholeMillisecondsOfStereoAt48kBoundedToAMinute)
{
    struct
    {
        uint32_t audio, video;
        int64_t bytes;
    } cases[] = {
        {90000 + 900, 900, 192000},      // one second of silence
        {900, 90000 + 900, -192000},     // one second dropped
        {100 + 179, 100, 192},           // 1.99 ms truncates to 1
        {100, 100 + 179, -192},          // toward zero
        {0x10, 0xFFFFFF10u, 2 * 192},    // the low 32 bits wrapped between them: 256 ticks
        {900000000, 0, 60 * 1000 * 192}, // far apart: bounded
        {0, 900000000, -60 * 1000 * 192},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(AudioLeadBytes(c.audio, c.video), c.bytes) << c.audio << " " << c.video;
    }
}

} // namespace
