#include <gtest/gtest.h>

#include <string>

#include "platform/media/movies.h"
#include "platform/media/timecode_media.h"

// Timecode counting: frame numbers and back, drop-frame only where it exists (30 and 60 frames a
// second), and the text form.

namespace {

struct TcCase
{
    long flags;
    uint8_t fps;
    TimeCodeRecord tc;
    long frame;
};

TEST(Timecode, FrameNumbersAndBack)
{
    Movie movie = NewMovie(0);
    Media media = NewTrackMedia(NewMovieTrack(movie, 0, 0, 0), TimeCodeMediaType, 600, nullptr, 0);
    MediaHandler token = GetMediaHandler(media);
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(GetMediaHandler(nullptr), nullptr);
    const TcCase cases[] = {
        {0, 25, {1, 2, 3, 4}, (3723L * 25) + 4},
        {tcDropFrame, 30, {0, 1, 0, 2}, 1800},              // 00:01:00;02 follows 00:00:59;29
        {tcDropFrame, 30, {0, 10, 0, 0}, 17982},            // every tenth minute keeps its frames
        {tcDropFrame, 30, {1, 2, 3, 4}, 111582},
        {tcDropFrame, 60, {0, 1, 0, 4}, 3600},
        {tcDropFrame, 25, {0, 1, 0, 0}, 1500},              // no drop-frame counting at 25
    };
    for (const TcCase &c : cases) {
        TimeCodeDef def;
        def.flags = c.flags;
        def.numFrames = c.fps;
        long n = -1;
        ASSERT_EQ(TCTimeCodeToFrameNumber(token, &def, &c.tc, &n), noErr);
        EXPECT_EQ(n, c.frame) << int(c.fps);
        TimeCodeRecord back;
        ASSERT_EQ(TCFrameNumberToTimeCode(token, n, &def, &back), noErr);
        EXPECT_EQ(back.hours, c.tc.hours);
        EXPECT_EQ(back.minutes, c.tc.minutes);
        EXPECT_EQ(back.seconds, c.tc.seconds);
        EXPECT_EQ(back.frames, c.tc.frames) << n;
    }
    TimeCodeDef def;
    def.flags = tcDropFrame;
    def.numFrames = 30;
    TimeCodeRecord bad{0, 0, 0, 30}; // frames must be below the rate
    long n = 0;
    EXPECT_EQ(TCTimeCodeToFrameNumber(token, &def, &bad, &n), paramErr);
    EXPECT_EQ(TCTimeCodeToFrameNumber(nullptr, &def, &bad, &n), paramErr);
    unsigned char text[256];
    TimeCodeRecord tc{1, 2, 3, 4};
    ASSERT_EQ(TCTimeCodeToString(token, &def, &tc, text), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(text + 1), text[0]), "01:02:03;04");
    def.flags = 0;
    ASSERT_EQ(TCTimeCodeToString(token, &def, &tc, text), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(text + 1), text[0]), "01:02:03:04");
    DisposeMovie(movie);
}

} // namespace
