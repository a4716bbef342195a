#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"
#include "platform/media/movies.h"
#include "platform/media/timecode_media.h"
#include "platform/sys/bytes.h"
#include "tests/formats/dv_test_hooks.h"
#include "tests/formats/formats_test_support.h"

using dv_test::C;

namespace {

class DvTimecodeTest : public dv_test::HooksTest
{
protected:
    void SetUp() override
    {
        HooksTest::SetUp();
        savedOptions_ = gConversionOptions;
    }
    void TearDown() override
    {
        gConversionOptions = savedOptions_;
        HooksTest::TearDown();
    }

private:
    ConversionOptions savedOptions_;
};

std::string Fixture(const std::string &name)
{
    return dv_test::FixtureDir() + "/" + name;
}

std::string FirstLine(const std::string &path)
{
    std::vector<uint8_t> b = fmt_test::ReadFile(path);
    std::string s(b.begin(), b.end());
    return s.substr(0, s.find('\n'));
}

// A frame with a time code pack at 110 and nothing else.
std::vector<uint8_t> PackFrame(uint8_t id, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4)
{
    std::vector<uint8_t> f(120000, 0xff);
    f[110] = id;
    f[111] = b1;
    f[112] = b2;
    f[113] = b3;
    f[114] = b4;
    return f;
}

TEST_F(DvTimecodeTest, ReadsThePackOfFfmpegFramesInModeZeroOnly)
{
    const std::vector<uint8_t> ntsc = fmt_test::ReadFile(Fixture("ntsc_tc.dv"));
    const std::vector<uint8_t> pal = fmt_test::ReadFile(Fixture("pal_tc.dv"));
    ASSERT_GE(ntsc.size(), 120000u);
    ASSERT_GE(pal.size(), 144000u);
    struct Row
    {
        const std::vector<uint8_t> *frame;
        int32_t bytes;
        int mode;
        bool found;
        uint8_t tc[4];
        int drop;
    };
    const Row rows[] = {
        {&ntsc, 120000, 0, true, {1, 2, 3, 4}, 1},    // ffmpeg: 01:02:03;04
        {&pal, 144000, 0, true, {10, 20, 30, 12}, 0}, // ffmpeg: 10:20:30:12
        {&pal, 144000, 1, false, {}, 0},              // the flow's mode for 625-line frames
        {&ntsc, 114, 0, false, {}, 0},                // too short to hold the pack
    };
    EXPECT_EQ(FirstLine(Fixture("ntsc_tc.dv.timecode")), "01:02:03;04");
    EXPECT_EQ(FirstLine(Fixture("pal_tc.dv.timecode")), "10:20:30:12");
    for (const Row &r : rows) {
        SCOPED_TRACE(r.bytes);
        gMxfClipState = MxfClipState{};
        uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        ReadDvTimecode(out, r.frame->data(), r.bytes, r.mode);
        EXPECT_EQ(gMxfClipState.sourceTimecodeFound, r.found ? 1 : 0);
        if (r.found) {
            EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(r.tc, r.tc + 4));
            EXPECT_EQ(gMxfClipState.sourceDropFrame, r.drop);
        } else {
            EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(4, 0xAA));
        }
    }
}

TEST_F(DvTimecodeTest, FramesOfThirtyFpsSourcesCountIn24thsFor25P)
{
    struct Row
    {
        int frameRate;
        int32_t ConversionOptions::*mode;
        uint8_t frames;
    };
    const Row rows[] = {
        {30, &ConversionOptions::pulldown2332To25P, 15},
        {30, &ConversionOptions::pulldown32To25P, 15},
        {30, &ConversionOptions::convert60iTo25P, 15},
        {30, nullptr, 19},
        {25, &ConversionOptions::convert60iTo25P, 19},
    };
    // b1 0x59: drop-frame bit and 19 frames in BCD.
    const std::vector<uint8_t> frame = PackFrame(0x13, 0x59, 0x00, 0x00, 0x00);
    for (const Row &r : rows) {
        gConversionOptions.pulldown2332To25P = 0;
        gConversionOptions.pulldown32To25P = 0;
        gConversionOptions.convert60iTo25P = 0;
        if (r.mode) {
            gConversionOptions.*r.mode = 1;
        }
        C().frameRate = r.frameRate;
        uint8_t out[4] = {};
        ReadDvTimecode(out, frame.data(), int32_t(frame.size()), 0);
        EXPECT_EQ(out[3], r.frames) << r.frameRate;
        EXPECT_EQ(gMxfClipState.sourceDropFrame, 1);
    }
}

TEST_F(DvTimecodeTest, AnotherPackLeavesTimecodeAndFlagsAlone)
{
    gMxfClipState.sourceTimecodeFound = 0;
    gMxfClipState.sourceDropFrame = 1;
    const std::vector<uint8_t> frame = PackFrame(0x14, 0x12, 0x34, 0x56, 0x12);
    uint8_t out[4] = {9, 8, 7, 6};
    ReadDvTimecode(out, frame.data(), int32_t(frame.size()), 0);
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(out[3], 6);
    EXPECT_EQ(gMxfClipState.sourceTimecodeFound, 0);
    EXPECT_EQ(gMxfClipState.sourceDropFrame, 1);
}

void ToPascal(const std::string &s, unsigned char *out)
{
    out[0] = uint8_t(s.size());
    std::memcpy(out + 1, s.data(), s.size());
}

// Writes the DV frames of source into a new movie at timeScale (a frame every 100 units), adds
// the timecode track, and returns AddTimecodeTrack's result.
OSErr WriteWithTimecode(const std::string &source, int32_t frameBytes, const std::string &path,
                        TimeScale timeScale)
{
    const std::vector<uint8_t> frames = fmt_test::ReadFile(source);
    const bool pal = frameBytes == 144000;
    unsigned char name[256];
    ToPascal(path, name);
    FSSpec spec;
    FSMakeFSSpec(0, 0, name, &spec);
    short ref = 0;
    Movie movie = nullptr;
    EXPECT_EQ(CreateMovieFile(&spec, lc::FourCC("TVOD"), smCurrentScript,
                              createMovieFileDeleteCurFile, &ref, &movie),
              noErr);
    SetMovieTimeScale(movie, timeScale);
    Track video = NewMovieTrack(movie, FixRatio(720, 1), FixRatio(pal ? 576 : 480, 1), 0);
    Media media = NewTrackMedia(video, VideoMediaType, timeScale, nullptr, 0);
    EXPECT_EQ(BeginMediaEdits(media), noErr);
    auto desc =
        reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(int32_t(sizeof(ImageDescription))));
    ImageDescription &d = **desc;
    d.idSize = int32_t(sizeof(ImageDescription));
    d.cType = lc::FourCC(pal ? "dvcp" : "dvc ");
    d.width = 720;
    d.height = int16_t(pal ? 576 : 480);
    d.hRes = d.vRes = 72 << 16;
    d.dataSize = frameBytes;
    d.frameCount = 1;
    d.depth = 24;
    d.clutID = -1;
    Handle frame = NewHandle(frameBytes);
    for (size_t at = 0; at + size_t(frameBytes) <= frames.size(); at += size_t(frameBytes)) {
        std::memcpy(*frame, frames.data() + at, size_t(frameBytes));
        EXPECT_EQ(AddMediaSample(media, frame, 0, frameBytes, 100,
                                 reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0, nullptr),
                  noErr);
    }
    EXPECT_EQ(EndMediaEdits(media), noErr);
    EXPECT_EQ(InsertMediaIntoTrack(video, 0, 0, GetMediaDuration(media), FixedOne), noErr);
    const OSErr result = AddTimecodeTrack(movie, VideoMediaType);

    // The track as the media layer holds it: disabled, referenced by the video track.
    Track tc = GetMovieIndTrackType(movie, 1, TimeCodeMediaType, movieTrackMediaType);
    EXPECT_NE(tc, nullptr);
    EXPECT_EQ(GetTrackReference(video, TimeCodeMediaType, 1), tc);
    EXPECT_FALSE(GetTrackEnabled(tc));
    EXPECT_EQ(AddMovieResource(movie, ref, nullptr, name), noErr);
    CloseMovieFile(ref);
    DisposeMovie(movie);
    DisposeHandle(frame);
    DisposeHandle(reinterpret_cast<Handle>(desc));
    return result;
}

// The time code of the source's first frame reaches the output movie: ffprobe reads the same
// time code from it as from the source (or the 25P-counted one).
TEST_F(DvTimecodeTest, TimecodeTrackCarriesTheSourceTimecode)
{
    struct Row
    {
        const char *source;
        int32_t frameBytes;
        TimeScale timeScale;
        int frameRate;        // ConversionState::frameRate, with "Convert 60i to 25P" on
        const char *expected; // null: the source's own, as ffprobe reads it
    };
    const Row rows[] = {
        {"ntsc_tc.dv", 120000, 2997, 0, nullptr},
        {"pal_tc.dv", 144000, 2997, 0, nullptr},
        {"pal_tc.dv", 144000, 2500, 0, nullptr},
        {"ntsc_tc.dv", 120000, 2500, 30, "01:02:03:03"},
    };
    const std::string dir = fmt_test::ScratchDir("dvset_timecode");
    int n = 0;
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.source) + " " + std::to_string(r.timeScale));
        gMxfClipState = MxfClipState{};
        gConversionOptions.convert60iTo25P = r.frameRate == 30;
        C().frameRate = r.frameRate;
        C().timeScale = r.timeScale;
        const std::vector<uint8_t> frames = fmt_test::ReadFile(Fixture(r.source));
        ASSERT_GE(frames.size(), size_t(r.frameBytes));
        ReadDvTimecode(gMxfClipState.sourceTimecode, frames.data(), r.frameBytes, 0);
        ASSERT_EQ(gMxfClipState.sourceTimecodeFound, 1);

        const std::string out = dir + "/tc" + std::to_string(n++) + ".mov";
        EXPECT_EQ(WriteWithTimecode(Fixture(r.source), r.frameBytes, out, r.timeScale), noErr);
        std::string probe;
        ASSERT_EQ(fmt_test::RunProgram({"ffprobe", "-v", "error", "-show_entries",
                                        "stream_tags=timecode", "-of", "default=nw=1:nk=1", out},
                                       &probe),
                  0);
        const std::string expected =
            r.expected ? r.expected : FirstLine(Fixture(std::string(r.source) + ".timecode"));
        EXPECT_EQ(probe.substr(0, probe.find('\n')), expected) << probe;
    }
}

TEST_F(DvTimecodeTest, MovieWithoutVideoGetsNoTimecodeTrack)
{
    Movie movie = NewMovie(0);
    Track sound = NewMovieTrack(movie, 0, 0, 256);
    NewTrackMedia(sound, SoundMediaType, 48000, nullptr, 0);
    EXPECT_EQ(AddTimecodeTrack(movie, VideoMediaType), -2030);
    EXPECT_EQ(GetMovieTrackCount(movie), 1);
    DisposeMovie(movie);
    EXPECT_EQ(AddTimecodeTrack(nullptr, VideoMediaType), -2030);
}

} // namespace
