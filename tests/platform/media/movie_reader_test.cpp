#include <gtest/gtest.h>

#include <cstring>

#include "movie_test_support.h"
#include "platform/media/movies.h"
#include "platform/sys/bytes.h"

// Movies made by ffmpeg, read by our reader and checked against ffprobe's view of the same file.

namespace {

struct ReaderCase
{
    const char *file;
    OSType codec;
    int width, height;
    int soundTracks;
    OSType soundFormat;
    int channels;
};

const ReaderCase kCases[] = {
    {"media_dvc.mov", lc::FourCC("dvc "), 720, 480, 1, lc::FourCC("sowt"), 2},
    {"media_dvc_fast.mov", lc::FourCC("dvc "), 720, 480, 1, lc::FourCC("sowt"), 2},
    {"media_dvc_co64.mov", lc::FourCC("dvc "), 720, 480, 1, lc::FourCC("sowt"), 2},
    {"media_dvcp.mov", lc::FourCC("dvcp"), 720, 576, 1, lc::FourCC("twos"), 2},
    {"media_dv5p.mov", lc::FourCC("dv5p"), 720, 576, 0, 0, 0},
    {"media_dvh6.mov", lc::FourCC("dvh6"), 1280, 1080, 0, 0, 0},
    {"media_raw.mov", lc::FourCC("raw "), 64, 48, 0, 0, 0},
    {"media_2vuy.mov", lc::FourCC("2vuy"), 64, 48, 0, 0, 0},
    {"media_yuvs.mov", lc::FourCC("yuvs"), 64, 48, 0, 0, 0},
    {"media_mono2.mov", lc::FourCC("dvc "), 720, 480, 2, lc::FourCC("sowt"), 1},
    {"media_tc.mov", lc::FourCC("dvc "), 720, 480, 0, 0, 0},
};

void PrintTo(const ReaderCase &c, std::ostream *os) { *os << c.file; }

class MovieReader : public ::testing::TestWithParam<ReaderCase>
{
protected:
    void SetUp() override
    {
        path_ = Fixture(GetParam().file);
        ASSERT_EQ(OpenMoviePath(path_, &movie_), noErr) << path_;
        ASSERT_NE(movie_, nullptr);
        video_ = GetMovieIndTrackType(movie_, 1, VisualMediaCharacteristic, movieTrackCharacteristic);
        ASSERT_NE(video_, nullptr);
        bytes_ = FileBytes(path_);
    }
    void TearDown() override { DisposeMovie(movie_); }

    std::string path_;
    Movie movie_ = nullptr;
    Track video_ = nullptr;
    std::vector<uint8_t> bytes_;
};

TimeValue FirstVideoSampleTime(Movie m)
{
    OSType eyes = VisualMediaCharacteristic;
    TimeValue t = -1;
    GetMovieNextInterestingTime(m, nextTimeMediaSample | nextTimeEdgeOK, 1, &eyes, 0, -FixedOne,
                                &t, nullptr);
    return t;
}

TimeValue NextVideoSampleTime(Movie m, TimeValue time)
{
    OSType eyes = VisualMediaCharacteristic;
    TimeValue t = -1;
    GetMovieNextInterestingTime(m, nextTimeMediaSample, 1, &eyes, time, FixedOne, &t, nullptr);
    return t;
}

TEST_P(MovieReader, TracksAndDescriptions)
{
    const ReaderCase &c = GetParam();
    Media media = GetTrackMedia(video_);
    ASSERT_NE(media, nullptr);
    EXPECT_EQ(GetMediaType(media), VideoMediaType);
    EXPECT_EQ(GetMovieTimeScale(movie_), 1000); // ffmpeg's movie time scale

    ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
    long size = 0;
    ASSERT_EQ(GetMediaSample(media, nullptr, 0, &size, 0, nullptr, nullptr,
                             reinterpret_cast<SampleDescriptionHandle>(desc), nullptr, 1, nullptr,
                             nullptr),
              noErr);
    EXPECT_EQ((**desc).cType, c.codec);
    EXPECT_EQ((**desc).width, c.width);
    EXPECT_EQ((**desc).height, c.height);
    EXPECT_EQ((**desc).depth, 24);
    // The description is the file's entry: its size is the entry's and its tail is kept.
    EXPECT_GE((**desc).idSize, 86);
    EXPECT_EQ(GetHandleSize(reinterpret_cast<Handle>(desc)), (**desc).idSize);
    DisposeHandle(reinterpret_cast<Handle>(desc));

    for (int i = 1; i <= 2; ++i) {
        Track sound = GetMovieIndTrackType(movie_, i, AudioMediaCharacteristic,
                                           movieTrackCharacteristic);
        EXPECT_EQ(sound != nullptr, i <= c.soundTracks) << i;
        if (!sound) {
            EXPECT_EQ(GetMoviesError(), invalidTrack);
            continue;
        }
        Media sm = GetTrackMedia(sound);
        EXPECT_EQ(GetMediaTimeScale(sm), 48000);
        SoundDescriptionHandle sd = reinterpret_cast<SoundDescriptionHandle>(NewHandle(4));
        ASSERT_EQ(GetMediaSample(sm, nullptr, 0, nullptr, 0, nullptr, nullptr,
                                 reinterpret_cast<SampleDescriptionHandle>(sd), nullptr, 4,
                                 nullptr, nullptr),
                  noErr);
        EXPECT_EQ((**sd).dataFormat, c.soundFormat);
        EXPECT_EQ((**sd).numChannels, c.channels);
        EXPECT_EQ((**sd).sampleSize, 16);
        EXPECT_EQ((**sd).sampleRate, 48000u << 16);
        DisposeHandle(reinterpret_cast<Handle>(sd));
    }
}

TEST_P(MovieReader, VideoSampleWalkEqualsProbePackets)
{
    Media media = GetTrackMedia(video_);
    auto packets = ProbePackets(path_, 0);
    ASSERT_FALSE(packets.empty());
    Handle data = NewHandle(0);
    TimeValue t = 0;
    size_t n = 0;
    while (t >= 0 && n < packets.size() + 1) {
        long size = 0;
        TimeValue start = -1, duration = -1;
        ASSERT_EQ(GetMediaSample(media, data, 0, &size, t, &start, &duration, nullptr, nullptr, 1,
                                 nullptr, nullptr),
                  noErr);
        ASSERT_LT(n, packets.size());
        const ProbePacket &p = packets[n];
        EXPECT_EQ(start, p.pts) << n;
        EXPECT_EQ(duration, p.duration) << n;
        ASSERT_EQ(size, p.size) << n;
        ASSERT_LE(size_t(p.pos + p.size), bytes_.size());
        EXPECT_EQ(std::memcmp(*data, bytes_.data() + p.pos, size_t(size)), 0) << n;
        // A time inside the sample gives the same sample.
        TimeValue inside = -1;
        ASSERT_EQ(GetMediaSample(media, nullptr, 0, nullptr, t + duration - 1, &inside, nullptr,
                                 nullptr, nullptr, 1, nullptr, nullptr),
                  noErr);
        EXPECT_EQ(inside, start);
        ++n;
        TimeValue next = -1;
        GetMediaNextInterestingTime(media, nextTimeMediaSample, t, FixedOne, &next, nullptr);
        if (next >= 1) {
            EXPECT_GT(next, t);
        }
        t = next >= 1 ? next : -1;
    }
    EXPECT_EQ(n, packets.size());
    EXPECT_EQ(GetMediaSampleCount(media), long(packets.size()));
    EXPECT_EQ(GetMediaSample(media, data, 0, nullptr, GetMediaDuration(media), nullptr, nullptr,
                             nullptr, nullptr, 1, nullptr, nullptr),
              invalidTime);
    DisposeHandle(data);
}

TEST_P(MovieReader, MovieTimesOfVideoSamples)
{
    Media media = GetTrackMedia(video_);
    TimeValue first = FirstVideoSampleTime(movie_);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(TrackTimeToMediaTime(first, video_), 0);
    // Each next movie time maps back to the next media sample.
    TimeValue t = first;
    TimeValue mediaTime = 0;
    long count = 1;
    for (;;) {
        TimeValue next = NextVideoSampleTime(movie_, t);
        if (next < 0) {
            break;
        }
        ASSERT_GT(next, t);
        TimeValue nextMedia = -1;
        GetMediaNextInterestingTime(media, nextTimeMediaSample, mediaTime, FixedOne, &nextMedia,
                                    nullptr);
        EXPECT_EQ(TrackTimeToMediaTime(next, video_), nextMedia);
        t = next;
        mediaTime = nextMedia;
        ++count;
    }
    EXPECT_EQ(count, GetMediaSampleCount(media));
    EXPECT_NEAR(GetMovieDuration(movie_),
                double(GetMediaDuration(media)) * 1000 / GetMediaTimeScale(media), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MovieReader, ::testing::ValuesIn(kCases),
                         [](const auto &param) { return TestNameOf(param.param.file); });

// ---- Sound reads -----------------------------------------------------------------------------

struct SoundCase
{
    const char *file;
    int track;        // 1-based sound track
    const char *pcm;  // ffmpeg output format that keeps the stored byte order
    int channels;
};

void PrintTo(const SoundCase &c, std::ostream *os) { *os << c.file << " track " << c.track; }

class SoundReads : public ::testing::TestWithParam<SoundCase>
{
};

std::vector<uint8_t> DecodedPcm(const SoundCase &c)
{
    std::string out;
    RunProgram({"ffmpeg", "-v", "error", "-i", Fixture(c.file), "-map",
                "0:a:" + std::to_string(c.track - 1), "-f", c.pcm, "-"},
               &out);
    return std::vector<uint8_t>(out.begin(), out.end());
}

TEST_P(SoundReads, FramesAcrossChunksAndErrorAtTheEnd)
{
    const SoundCase &c = GetParam();
    Movie movie = nullptr;
    ASSERT_EQ(OpenMoviePath(Fixture(c.file), &movie), noErr);
    Track track = GetMovieIndTrackType(movie, c.track, AudioMediaCharacteristic,
                                       movieTrackCharacteristic);
    ASSERT_NE(track, nullptr);
    Media media = GetTrackMedia(track);
    std::vector<uint8_t> pcm = DecodedPcm(c);
    const long frameBytes = 2 * c.channels;
    ASSERT_EQ(long(pcm.size()), GetMediaDuration(media) * frameBytes);

    Handle data = NewHandle(4);
    for (long step : {8008L, 9600L}) {
        long at = 0;
        for (;;) {
            long size = 0, count = 0;
            OSErr err = GetMediaSample(media, data, 0, &size, TimeValue(at), nullptr, nullptr,
                                       nullptr, nullptr, step, &count, nullptr);
            if (at >= GetMediaDuration(media)) {
                EXPECT_EQ(err, invalidTime);
                break;
            }
            ASSERT_EQ(err, noErr) << at;
            long expected = std::min(step, GetMediaDuration(media) - at);
            ASSERT_EQ(count, expected) << at;
            ASSERT_EQ(size, count * frameBytes);
            EXPECT_EQ(std::memcmp(*data, pcm.data() + at * frameBytes, size_t(size)), 0) << at;
            at += count;
        }
    }
    // A bounded handle takes only what fits.
    long size = 0, count = 0;
    ASSERT_EQ(GetMediaSample(media, data, 1000 * frameBytes, &size, 0, nullptr, nullptr, nullptr,
                             nullptr, 8008, &count, nullptr),
              noErr);
    EXPECT_EQ(count, 1000);
    DisposeHandle(data);
    DisposeMovie(movie);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SoundReads,
                         ::testing::Values(SoundCase{"media_dvc.mov", 1, "s16le", 2},
                                           SoundCase{"media_dvc_fast.mov", 1, "s16le", 2},
                                           SoundCase{"media_dvcp.mov", 1, "s16be", 2},
                                           SoundCase{"media_mono2.mov", 1, "s16le", 1},
                                           SoundCase{"media_mono2.mov", 2, "s16le", 1}));

// ---- Edits, timecode, refusals ---------------------------------------------------------------

TEST(MovieReaderEdits, EmptyEditBeforeTheVideo)
{
    Movie movie = nullptr;
    ASSERT_EQ(OpenMoviePath(Fixture("media_edit.mov"), &movie), noErr);
    Track video = GetMovieIndTrackType(movie, 1, VideoMediaType, movieTrackMediaType);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(TrackTimeToMediaTime(0, video), -1); // inside the empty edit
    TimeValue first = FirstVideoSampleTime(movie);
    EXPECT_EQ(first, 500);
    EXPECT_EQ(TrackTimeToMediaTime(first, video), 0);
    Media media = GetTrackMedia(video);
    TimeValue frame = GetMediaDuration(media) / 5;
    EXPECT_EQ(TrackTimeToMediaTime(first + 40, video), frame); // 25 frames/s
    EXPECT_EQ(NextVideoSampleTime(movie, first), first + 40);
    EXPECT_EQ(GetMovieDuration(movie), 500 + 200);
    EXPECT_EQ(TrackTimeToMediaTime(GetMovieDuration(movie), video), -1);
    DisposeMovie(movie);
}

TEST(MovieReaderTimecode, TimecodeTrackReferencedByVideo)
{
    Movie movie = nullptr;
    ASSERT_EQ(OpenMoviePath(Fixture("media_tc.mov"), &movie), noErr);
    Track video = GetMovieIndTrackType(movie, 1, VideoMediaType, movieTrackMediaType);
    Track tc = GetMovieIndTrackType(movie, 1, TimeCodeMediaType, movieTrackMediaType);
    ASSERT_NE(video, nullptr);
    ASSERT_NE(tc, nullptr);
    EXPECT_EQ(GetTrackReference(video, TimeCodeMediaType, 1), tc);
    EXPECT_EQ(GetMovieIndTrackType(movie, 2, VisualMediaCharacteristic, movieTrackCharacteristic),
              nullptr);
    Handle data = NewHandle(0);
    Handle desc = NewHandle(4);
    long size = 0;
    ASSERT_EQ(GetMediaSample(GetTrackMedia(tc), data, 0, &size, 0, nullptr, nullptr,
                             reinterpret_cast<SampleDescriptionHandle>(desc), nullptr, 1, nullptr,
                             nullptr),
              noErr);
    ASSERT_EQ(size, 4);
    const auto *d = reinterpret_cast<const int32_t *>(*desc);
    EXPECT_EQ(uint32_t(d[1]), TimeCodeMediaType);
    EXPECT_EQ(d[5] & 1, 1); // drop frame
    // 01:02:03;04 in drop-frame counting at 30 frames a second.
    long minutes = 62;
    long expected = (3600 + 120 + 3) * 30 + 4 - 2 * (minutes - minutes / 10);
    EXPECT_EQ(long(lc::LoadU32be(reinterpret_cast<uint8_t *>(*data))), expected);
    DisposeHandle(data);
    DisposeHandle(desc);
    DisposeMovie(movie);
}

TEST(MovieReaderRefusals, FragmentedMovieIsRefused)
{
    Movie movie = nullptr;
    EXPECT_EQ(OpenMoviePath(Fixture("media_frag.mp4"), &movie), invalidMovie);
    EXPECT_EQ(movie, nullptr);
}

TEST(MovieReaderRefusals, MissingFile)
{
    Movie movie = nullptr;
    EXPECT_EQ(OpenMoviePath(MediaFixtureDir() + "no_such.mov", &movie), fnfErr);
}

TEST(MovieReaderNulls, NullObjectsAreErrors)
{
    EXPECT_EQ(GetMovieTimeScale(nullptr), 0);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
    EXPECT_EQ(GetTrackMedia(nullptr), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidTrack);
    EXPECT_EQ(GetMediaTimeScale(nullptr), 0);
    EXPECT_EQ(GetMoviesError(), invalidMedia);
    EXPECT_EQ(GetMediaSample(nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 1,
                             nullptr, nullptr),
              invalidMedia);
    EXPECT_EQ(AddMediaSample(nullptr, nullptr, 0, 0, 1, nullptr, 1, 0, nullptr), invalidMedia);
    EXPECT_EQ(InsertMediaIntoTrack(nullptr, 0, 0, 1, FixedOne), invalidTrack);
    EXPECT_EQ(TrackTimeToMediaTime(0, nullptr), -1);
    EXPECT_EQ(GetMoviesError(), invalidTrack);
    TimeValue t = 5;
    GetMovieNextInterestingTime(nullptr, 1, 0, nullptr, 0, FixedOne, &t, nullptr);
    EXPECT_EQ(t, -1);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
    DisposeMovie(nullptr);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
    // The last code is the calling thread's own.
    SetMoviesError(noErr);
    EXPECT_EQ(GetMoviesError(), noErr);
}

TEST(MovieStartup, VersionAtLeastSeven)
{
    EXPECT_EQ(InitializeQTML(0), noErr);
    EXPECT_EQ(EnterMovies(), noErr);
    long version = 0;
    EXPECT_EQ(Gestalt(gestaltQuickTime, &version), noErr);
    EXPECT_GE((version >> 16) & 0xffff, 0x0700);
    EXPECT_NE(Gestalt(lc::FourCC("xxxx"), &version), noErr);
    ExitMovies();
    TerminateQTML();
}

} // namespace
