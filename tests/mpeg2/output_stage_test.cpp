#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "engine/pulldown.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_picture_output.h"
#include "mpeg2/mpeg_stream_info.h"
#include "mpeg2/output_stage.h"
#include "mpeg2/output_stage_hooks.h"
#include "mpeg2/output_stage_link.h"
#include "mpeg2/yuv_to_rgb_scale.h"
#include "platform/sys/clock.h"
#include "platform/sys/worker_pool.h"
#include "tests/mpeg2/output_stage_test_support.h"

namespace {

// What a writer was given: the kind, the size, and the picture tag of the first pixel of the
// first two rows and of the first pixel of the second row as the writer's width places it.
struct Written
{
    std::string kind;
    int width, rows;
    int row0, row1;
};

struct Log
{
    std::vector<Written> written;
    std::vector<int> sound;
    std::vector<std::string> errors;
    std::vector<std::string> calls;
    int draws = 0;
    int lastDrawWidth = 0, lastDrawHeight = 0;
    int ntscOutputHeight = 480;
    int running = 1;
    int passesLeft = 1;
    int soundResult = 1;
};
Log gLog;

void Record(const char *kind, const uint8_t *frame, int width, int rows)
{
    const size_t row = size_t(width) * 3;
    gLog.written.push_back({kind, width, rows, TagOfGray(frame[0]), TagOfGray(frame[row])});
}

class OutputStageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        clock.Install();
        gLog = Log{};
        ResetConversionOptions(gConversionOptions);
        SetYuvToRgbScale();
        gEngineSettings = EngineSettings{};
        gPulldownDetector = PulldownDetector{};
        ResetCadenceCounter();
        UseRgbFrames();
        ASSERT_EQ(AllocateFrameStore(), 1);
        ASSERT_TRUE(AllocateDecodedPictureBuffers());
        gOutputStageTarget = OutputStageTarget{};
        OutputStageDecoderLink &d = gOutputStageDecoder;
        for (std::atomic<int> *f : {d.paused, d.singleStep, d.stopRequested, d.faultCode,
                                    d.showProgress, d.processingMode}) {
            f->store(0);
        }
        d.sequenceSeen->store(1);
        d.previewFrameNumber->store(1);
        OutputStageHooks &h = gOutputStageHooks;
        h = OutputStageHooks{};
        h.processRunning = [] { return gLog.running; };
        h.passesLeft = [] { return gLog.passesLeft; };
        h.ntscOutputHeight = [] { return gLog.ntscOutputHeight; };
        h.setNtscOutputHeight = [](int lines) { gLog.ntscOutputHeight = lines; };
        h.audioSamplesPerFrame = [] { return 1601; };
        h.addCompressedFrame = [](const uint8_t *f, int w, int r) {
            Record("qt", f, w, r);
            return 1;
        };
        h.compressDvFrameToAvi = [](const uint8_t *f, int w, int r) {
            Record("dv", f, w, r);
            return 1;
        };
        h.compressAviFrame = [](const uint8_t *f) {
            Record("avi", f, gOutputStageTarget.outputWidth, gOutputStageTarget.outputHeight);
            return 1;
        };
        h.endAviVideoCompression = [] { gLog.calls.push_back("EndAviVideoCompression"); };
        h.copySound = [](int n) {
            gLog.sound.push_back(n);
            return gLog.soundResult;
        };
        h.showError = [](const char *text) { gLog.errors.push_back(text); };
        h.drawPreview = [](const uint8_t *, int w, int hh) {
            gLog.draws++;
            gLog.lastDrawWidth = w;
            gLog.lastDrawHeight = hh;
        };
        h.placePreviewWindow = [](int l, int t, int w, int hh) {
            gLog.calls.push_back("Place " + std::to_string(l) + " " + std::to_string(t) + " "
                                 + std::to_string(w) + " " + std::to_string(hh));
        };
        d.closeAudioTracks = [] { gLog.calls.push_back("CloseAudioTracks"); };
    }
    void TearDown() override
    {
        gOutputStageHooks = OutputStageHooks{};
        gOutputStageDecoder.closeAudioTracks = nullptr;
        ReleaseFrameStore();
    }

    // Hands pictures 1..count (tag = picture number) over as the decoder does.
    static void Run(int count, int codedWidth, int codedHeight, int fieldFlagsStart = -1)
    {
        for (int i = 0; i < count; i++) {
            const FakePicture p = MakeFakePicture(codedWidth, codedHeight, i + 1);
            StagePictureRecord r;
            r.fieldFlags = fieldFlagsStart < 0 ? 2 : (fieldFlagsStart + i) % 4;
            StoreDecodedFrame(p.planes, r, i);
        }
    }

    lc::FakeClock clock;
};

TEST_F(OutputStageTest, ColourConversionByScale)
{
    struct Case
    {
        int yuvProcessing, y, cb, cr;
        int b, g, r;
    } cases[] = {
        {0, 16, 128, 128, 0, 0, 0},
        {0, 235, 128, 128, 255, 255, 255},
        {0, 0, 128, 128, 0, 0, 0},
        {0, 255, 128, 128, 255, 255, 255},
        {1, 100, 128, 128, 100, 100, 100},
        {1, 0, 128, 128, 0, 0, 0},
        {0, 81, 90, 240, 0, 0, 254},
        {0, 41, 240, 110, 255, 0, 0},
        // Each factor, the rounding, the shift and both chroma offsets: one step up or down
        // changes a byte of these rows. (At PC scale, blue 14515, red 11486 and rounding 4095
        // give the same bytes as the true values for every input.)
        {0, 117, 180, 231, 223, 13, 255},
        {0, 204, 188, 198, 255, 139, 255},
        {0, 188, 154, 73, 253, 235, 112},
        {0, 240, 51, 5, 106, 255, 65},
        {0, 38, 24, 210, 0, 0, 156},
        {1, 96, 105, 179, 55, 67, 168},
        {1, 130, 161, 117, 188, 126, 115},
        {1, 229, 17, 227, 32, 196, 255},
        {1, 109, 196, 112, 229, 97, 87},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.yuvProcessing << " " << c.y << " " << c.cb << " " << c.cr);
        gConversionOptions.useYuvProcessing = c.yuvProcessing;
        SetYuvToRgbScale();
        // Two lines: the top field goes to the bottom row of the bottom-up frame.
        const uint8_t luma[4] = {uint8_t(c.y), uint8_t(c.y), 16, 16};
        const uint8_t cb[4] = {uint8_t(c.cb), uint8_t(c.cb), 128, 128};
        const uint8_t cr[4] = {uint8_t(c.cr), uint8_t(c.cr), 128, 128};
        uint8_t rgb[12];
        std::memset(rgb, 0x55, sizeof rgb);
        YuvToRgbTop(luma, cb, cr, rgb, 2, 2);
        EXPECT_EQ(rgb[0], 0x55); // row 0 is picture line 1: not the top field's
        EXPECT_EQ(rgb[6], c.b);
        EXPECT_EQ(rgb[7], c.g);
        EXPECT_EQ(rgb[8], c.r);
        YuvToRgbBottom(luma, cb, cr, rgb, 2, 2);
        EXPECT_EQ(rgb[0], c.yuvProcessing ? 16 : 0);
    }
}

TEST_F(OutputStageTest, ChromaUpsampling)
{
    const uint8_t column[6] = {10, 50, 90, 130, 170, 210};
    uint8_t out[12];
    Conv420To422(column, out, 1, 6, 0);
    EXPECT_EQ(std::vector<int>(out, out + 12),
              (std::vector<int>{10, 35, 40, 60, 80, 100, 120, 140, 160, 180, 170, 205}));
    Conv420To422(column, out, 1, 4, 1);
    EXPECT_EQ(std::vector<int>(out, out + 8),
              (std::vector<int>{10, 20, 40, 60, 80, 100, 120, 130}));

    uint8_t line[10];
    for (int i = 0; i < 10; i++) {
        line[i] = uint8_t(i * 10);
    }
    uint8_t wide[20];
    UpsampleChromaHorizontal(line, wide, 10, 1);
    EXPECT_EQ(std::vector<int>(wide, wide + 20),
              (std::vector<int>{0,  5,  10, 15, 20, 20, 30, 30, 40, 40,
                                50, 50, 60, 60, 70, 70, 80, 80, 90, 90}));
}

// The stage runs the upsampling and the conversion line by line, in bands of lines (on the
// worker pool for HD pictures); the frame must be the one the plane-by-plane steps give, for each
// chroma format and both 4:2:0 upsamplings, whatever the number of threads. 100 lines: several
// bands, the last one short.
TEST_F(OutputStageTest, LineByLineFrameEqualsThePlaneSteps)
{
    struct Case
    {
        int chromaFormat, progressive, w, h, threads;
    } cases[] = {{1, 0, 48, 100, 1},   {1, 1, 48, 100, 1},   {2, 0, 48, 100, 1},
                 {3, 0, 48, 100, 1},   {1, 0, 1280, 720, 1}, {1, 0, 1280, 720, 3},
                 {1, 1, 1280, 720, 8}, {2, 0, 1280, 720, 8}, {3, 0, 1280, 720, 8}};
    const int savedThreads = lc::SharedWorkerPool().Threads();
    static std::vector<uint8_t> drawn;
    gLog.running = 0;
    gOutputStageHooks.drawPreview = [](const uint8_t *f, int dw, int dh) {
        drawn.assign(f, f + size_t(dw) * dh * 3);
    };
    uint32_t seed = 1;
    auto random = [&] {
        seed = seed * 1103515245u + 12345u;
        return uint8_t(seed >> 16);
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "chroma " << c.chromaFormat << " progressive " << c.progressive << " "
                     << c.w << " x " << c.h << " threads " << c.threads);
        lc::SetSharedWorkerThreads(c.threads);
        const int w = c.w, h = c.h;
        const int cw = c.chromaFormat == 3 ? w : w / 2;
        const int ch = c.chromaFormat == 1 ? h / 2 : h;
        std::vector<uint8_t> y(size_t(w) * h), cb(size_t(cw) * ch), cr(size_t(cw) * ch);
        for (auto *plane : {&y, &cb, &cr}) {
            for (uint8_t &v : *plane) {
                v = random();
            }
        }
        // The steps one plane at a time.
        std::vector<uint8_t> cb422(size_t(w / 2) * h), cr422(cb422.size());
        std::vector<uint8_t> cb444(size_t(w) * h), cr444(cb444.size());
        const uint8_t *u = cb.data(), *v = cr.data();
        if (c.chromaFormat != 3) {
            if (c.chromaFormat == 1) {
                Conv420To422(cb.data(), cb422.data(), cw, ch, c.progressive);
                Conv420To422(cr.data(), cr422.data(), cw, ch, c.progressive);
                u = cb422.data();
                v = cr422.data();
            }
            UpsampleChromaHorizontal(u, cb444.data(), cw, h);
            UpsampleChromaHorizontal(v, cr444.data(), cw, h);
            u = cb444.data();
            v = cr444.data();
        }
        std::vector<uint8_t> expected(size_t(w) * h * 3);
        YuvToRgbBottom(y.data(), u, v, expected.data(), w, h);
        YuvToRgbTop(y.data(), u, v, expected.data(), w, h);
        // The stage.
        SetStream(w, h, w, h);
        *gOutputStageDecoder.chromaFormat = c.chromaFormat;
        const uint8_t *planes[3] = {y.data(), cb.data(), cr.data()};
        StagePictureRecord r;
        r.progressiveFrame = c.progressive;
        drawn.clear();
        StoreDecodedFrame(planes, r, 0);
        ASSERT_EQ(drawn.size(), expected.size());
        const auto diff = std::mismatch(drawn.begin(), drawn.end(), expected.begin());
        EXPECT_TRUE(diff.first == drawn.end())
            << "first difference at byte " << (diff.first - drawn.begin());
    }
    lc::SetSharedWorkerThreads(savedThreads);
}

TEST_F(OutputStageTest, PreviewShowsEachPictureOnceAndHonoursPause)
{
    gLog.running = 0;
    SetStream(32, 32, 32, 32);
    Run(3, 32, 32);
    EXPECT_EQ(gLog.draws, 3);
    EXPECT_EQ(gOutputStageDecoder.previewFrameNumber->load(), 4);
    EXPECT_TRUE(gLog.written.empty());

    // Paused with a single step: the picture passes and the step is used up.
    OutputStageDecoderLink &d = gOutputStageDecoder;
    *d.paused = 1;
    *d.singleStep = 1;
    Run(1, 32, 32);
    EXPECT_EQ(d.singleStep->load(), 0);
    EXPECT_EQ(d.paused->load(), 1);
    // Stop while paused ends the wait as a user stop.
    *d.stopRequested = 1;
    Run(1, 32, 32);
    EXPECT_EQ(d.paused->load(), 0);
    EXPECT_EQ(d.faultCode->load(), 99);

    // No preview before the first sequence header or with the frame number at 0.
    const int draws = gLog.draws;
    *d.stopRequested = 0;
    *d.sequenceSeen = 0;
    Run(1, 32, 32);
    *d.sequenceSeen = 1;
    *d.previewFrameNumber = 0;
    Run(1, 32, 32);
    EXPECT_EQ(gLog.draws, draws);
}

TEST_F(OutputStageTest, ModesWriteTheirGroups)
{
    struct Case
    {
        const char *name;
        int mode, width, height, pictures, dv, isAvi;
        int frames, groups, rows;
        const char *kind;
    } cases[] = {
        // 25 frames/s to 29.97: each group of five gives six frames.
        {"mode 9", 9, 720, 576, 31, 1, 1, 36, 6, 480, "dv"},
        // NTSC-family to 25P: five pictures in, four 576-line frames out.
        {"mode 4", 4, 720, 480, 26, 0, 0, 20, 5, 576, "qt"},
        {"mode 5", 5, 720, 480, 16, 0, 1, 12, 3, 576, "avi"},
        {"mode 6", 6, 720, 480, 11, 1, 1, 8, 2, 576, "dv"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        gConversionOptions.pulldown32To25P = c.mode == 5;
        gConversionOptions.pulldown2332To25P = c.mode == 6;
        gEngineSettings.sourceIsPal = c.mode == 9;
        gEngineSettings.sourceIsNtsc = c.mode != 9;
        gOutputStageTarget = {c.isAvi, c.dv, c.width, c.height};
        *gOutputStageDecoder.processingMode = c.mode;
        SetStream(c.width, c.height, c.width, c.height);
        Run(c.pictures, c.width, c.height);
        ASSERT_EQ(int(gLog.written.size()), c.frames);
        for (const Written &w : gLog.written) {
            EXPECT_EQ(w.kind, c.kind);
            EXPECT_EQ(w.width, 720);
            EXPECT_EQ(w.rows, c.rows);
        }
        EXPECT_EQ(gLog.sound, std::vector<int>(c.groups, 5 * 1601));
        EXPECT_EQ(gLog.lastDrawHeight, c.rows);
        if (c.mode == 9) {
            // Flat pictures weave unchanged: every picture is shown, none goes back in time.
            // The kernels take row 0 of the bottom-up frame as their top line.
            const bool upperFirst = gConversionOptions.upperFieldFirst != 0;
            std::vector<int> seen;
            for (const Written &w : gLog.written) {
                for (int t : {upperFirst ? w.row0 : w.row1, upperFirst ? w.row1 : w.row0}) {
                    ASSERT_TRUE(seen.empty() || seen.back() <= t);
                    if (seen.empty() || seen.back() != t) {
                        seen.push_back(t);
                    }
                }
            }
            EXPECT_EQ(seen.size(), 30u);
            EXPECT_EQ(seen.front(), 1);
        }
        TearDown();
    }
}

// The feeds run a group when the next group's first picture arrives; at the end of the stream
// the last group is written with its sound all the same. A group cut short keeps the frames and
// the sound of the pictures it holds, so no picture is lost; the player writes nothing.
TEST_F(OutputStageTest, TheLastGroupIsWrittenAtTheEndOfTheStream)
{
    struct Case
    {
        const char *name;
        int mode, height, pictures, fieldFlagsStart, running;
        int framesBefore, framesAfter, groups, lastSound, lastPicture;
    } cases[] = {
        {"mode 9", 9, 576, 30, -1, 1, 30, 36, 6, 5 * 1601, 30},
        // Two pictures of a group of five: three of its six frames, two fifths of its sound.
        {"mode 9, two left over", 9, 576, 32, -1, 1, 36, 39, 7, 2 * 1601, 32},
        {"mode 9, one picture", 9, 576, 1, -1, 1, 0, 2, 1, 1601, 1},
        {"mode 4", 4, 480, 25, -1, 1, 16, 20, 5, 5 * 1601, -1},
        {"mode 4, three left over", 4, 480, 23, -1, 1, 16, 19, 5, 3 * 1601, -1},
        {"mode 6", 6, 480, 10, -1, 1, 4, 8, 2, 5 * 1601, -1},
        {"mode 4, HD", 4, 1088, 15, -1, 1, 8, 12, 3, 5 * 1601, -1},
        // Film pictures after the last group of four: one frame each, a quarter of its sound.
        {"pulldown flags", 5, 480, 12, 3, 1, 12, 13, 4, 5 * 1601 / 4, 12},
        {"player", 9, 576, 30, -1, 0, 0, 0, 0, 0, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        gLog.running = c.running;
        gConversionOptions.pulldown2332To25P = c.mode == 6;
        gEngineSettings.sourceIsPal = c.mode == 9;
        gEngineSettings.sourceIsNtsc = c.mode != 9;
        gOutputStageTarget = {1, 0, 720, c.height};
        *gOutputStageDecoder.processingMode = c.mode;
        SetStream(720, c.height, 720, c.height);
        Run(c.pictures, 720, c.height, c.fieldFlagsStart);
        EXPECT_EQ(int(gLog.written.size()), c.framesBefore);
        FinishDecodedStream();
        ASSERT_EQ(int(gLog.written.size()), c.framesAfter);
        ASSERT_EQ(int(gLog.sound.size()), c.groups);
        if (c.groups > 0) {
            EXPECT_EQ(gLog.sound.back(), c.lastSound);
        }
        if (c.lastPicture > 0) {
            // The last frame shows the last picture.
            EXPECT_EQ(gLog.written.back().row0, c.lastPicture);
        }
        // Finishing twice writes nothing more.
        FinishDecodedStream();
        EXPECT_EQ(int(gLog.written.size()), c.framesAfter);
        TearDown();
    }
}

TEST_F(OutputStageTest, PulldownFlagsGroupFourCodedPictures)
{
    // Flags 3, 0, 1, 2 ... from picture 1: the cadence is seen from picture 2 on, and each
    // group is four coded pictures, written after the 480-to-576 conversion.
    *gOutputStageDecoder.processingMode = 5;
    gOutputStageTarget = {0, 0, 720, 480};
    SetStream(720, 480, 720, 480);
    // What an earlier movie left in the slots must not be written.
    std::memset(gFrameStore.inputFrames[0], 0xee, 720 * 480 * 3);
    std::memset(gFrameStore.inputFrames[1], 0xee, 720 * 480 * 3);
    Run(11, 720, 480, 3);
    std::vector<int> tags;
    for (const Written &w : gLog.written) {
        EXPECT_EQ(w.rows, 576);
        EXPECT_EQ(w.row0, w.row1);
        tags.push_back(w.row0);
    }
    EXPECT_EQ(tags, (std::vector<int>{2, 2, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    EXPECT_EQ(gLog.sound.size(), 3u);
    EXPECT_GT(gDecodedPictureState.flagCadenceCount, 0);

    // A stream without repeat_first_field never takes that road.
    SetUp();
    *gOutputStageDecoder.processingMode = 5;
    gConversionOptions.pulldown32To25P = 1;
    gOutputStageTarget = {0, 0, 720, 480};
    SetStream(720, 480, 720, 480);
    Run(9, 720, 480);
    EXPECT_EQ(gDecodedPictureState.flagCadenceCount, 0);
    EXPECT_EQ(gLog.written.size(), 4u);
}

TEST_F(OutputStageTest, CodedLinesAndColumnsOutsideThePictureAreNotWritten)
{
    struct Case
    {
        const char *name;
        int codedWidth, codedHeight, width, height;
        int ntscAfter;
    } cases[] = {
        // 1088 coded lines for 1080: the 8 lines below the picture are not the picture's.
        {"1080 of 1088", 1920, 1088, 1920, 1080, 1080},
        // 712 of 720 columns: rows reach the writer 712 pixels wide.
        {"712 of 720", 720, 576, 712, 576, 480},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        gEngineSettings.sourceIsPal = 1;
        gEngineSettings.sourceIsNtsc = 0;
        *gOutputStageDecoder.processingMode = 9;
        gOutputStageTarget = {0, 0, c.width, c.height};
        SetStream(c.codedWidth, c.codedHeight, c.width, c.height);
        for (int i = 0; i < 6; i++) {
            const FakePicture p =
                MakeFakePicture(c.codedWidth, c.codedHeight, 40, c.width, c.height, 90);
            StoreDecodedFrame(p.planes, StagePictureRecord{}, i);
        }
        ASSERT_EQ(gLog.written.size(), 6u);
        EXPECT_EQ(gLog.ntscOutputHeight, c.ntscAfter);
        for (const Written &w : gLog.written) {
            EXPECT_EQ(w.width, c.width);
            EXPECT_EQ(w.row0, 40);
            EXPECT_EQ(w.row1, 40);
        }
        TearDown();
    }
}

TEST_F(OutputStageTest, FailuresOfTheRun)
{
    // A failed sound copy is reported once per run.
    gLog.soundResult = 0;
    *gOutputStageDecoder.processingMode = 4;
    gOutputStageTarget = {1, 1, 720, 480};
    SetStream(720, 480, 720, 480);
    Run(16, 720, 480);
    EXPECT_EQ(gLog.sound.size(), 3u);
    EXPECT_EQ(gLog.errors, std::vector<std::string>{"CopySound Error"});

    // A coded size the buffers cannot hold is dropped before any conversion.
    gLog = Log{};
    SetStream(4096, 2160, 4096, 2160);
    Run(6, 32, 32);
    EXPECT_TRUE(gLog.written.empty());
    EXPECT_EQ(gLog.draws, 0);
}

TEST_F(OutputStageTest, CloseOutputsOnlyEndsAFinalPass)
{
    struct Case
    {
        int running, passesLeft, isAvi, dv;
        std::vector<std::string> calls;
    } cases[] = {
        {1, 1, 1, 0, {"CloseAudioTracks", "EndAviVideoCompression"}},
        {1, 1, 1, 1, {"CloseAudioTracks"}},
        {1, 1, 0, 0, {"CloseAudioTracks"}},
        {1, 2, 1, 0, {}},
        {0, 1, 1, 0, {}},
    };
    for (const Case &c : cases) {
        gLog.calls.clear();
        gLog.running = c.running;
        gLog.passesLeft = c.passesLeft;
        gOutputStageTarget = {c.isAvi, c.dv, 720, 576};
        *gOutputStageDecoder.processingMode = 4;
        CloseStageOutputs();
        EXPECT_EQ(gLog.calls, c.calls);
        EXPECT_EQ(gOutputStageDecoder.processingMode->load(), 0);
    }
    // The preview fits the coded picture, keeping its left edge.
    gLog.calls.clear();
    SetStream(1920, 1088, 1920, 1080);
    FitVideoWindow();
    EXPECT_EQ(gLog.calls, std::vector<std::string>{"Place -1 0 1920 1088"});
}

} // namespace

namespace {

TEST_F(OutputStageTest, DecoderHandOverReachesTheStage)
{
    // Joined to the decoder: a picture with a recoverable fault is still shown, the code cleared.
    InstallOutputStage();
    gLog.running = 0;
    gMpegDecoderControl.sequenceSeen = 1;
    gMpegPreviewFrameNumber = 1;
    SetStream(32, 32, 32, 32);
    EXPECT_EQ(gMpegStreamInfo.codedWidth.load(), 32);
    gMpegDecoderControl.faultCode = kMpegFaultSliceOrMotionCode;
    const FakePicture p = MakeFakePicture(32, 32, 5);
    StoreFrame(p.planes, MpegPictureRecord{}, 0);
    EXPECT_EQ(gMpegDecoderControl.faultCode.load(), 0);
    EXPECT_EQ(gLog.draws, 1);
    EXPECT_EQ(gMpegPictureSink.allocateBuffers, &AllocateDecodedPictureBuffers);
    gMpegDecoderControl.processingMode = 4;
    CloseOutputs();
    EXPECT_EQ(gMpegDecoderControl.processingMode.load(), 0);
}

} // namespace
