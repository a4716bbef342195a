#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "movie_test_support.h"
#include "platform/media/movies.h"
#include "platform/sys/bytes.h"

// Export writes a self-contained copy with its progress; the file chooser is a hook.

namespace {

std::vector<int> gPercents;
std::string gChosenPath;

OSErr RecordProgress(Movie, short message, short, Fixed percentDone, long refcon)
{
    EXPECT_EQ(refcon, 77);
    if (message == movieProgressUpdatePercent) {
        gPercents.push_back(int(percentDone * 100LL / FixedOne));
    }
    return noErr;
}

bool ChooseScripted(Movie, FSSpec *spec, OSType *fileType)
{
    ToPascal(gChosenPath, spec->name);
    *fileType = MovieFileType;
    return true;
}

void ExpectSameSamples(Movie a, Movie b)
{
    ASSERT_EQ(GetMovieTrackCount(a), GetMovieTrackCount(b));
    EXPECT_EQ(GetMovieDuration(a), GetMovieDuration(b));
    Handle x = NewHandle(0), y = NewHandle(0);
    for (long i = 1; i <= GetMovieTrackCount(a); ++i) {
        Media ma = GetTrackMedia(GetMovieIndTrack(a, i));
        Media mb = GetTrackMedia(GetMovieIndTrack(b, i));
        ASSERT_EQ(GetMediaType(ma), GetMediaType(mb));
        ASSERT_EQ(GetMediaDuration(ma), GetMediaDuration(mb));
        long n = GetMediaSampleCount(ma);
        ASSERT_EQ(n, GetMediaSampleCount(mb));
        for (TimeValue t = 0; t >= 0;) {
            long sa = 0, sb = 0;
            ASSERT_EQ(GetMediaSample(ma, x, 0, &sa, t, nullptr, nullptr, nullptr, nullptr, 4000,
                                     nullptr, nullptr),
                      noErr);
            ASSERT_EQ(GetMediaSample(mb, y, 0, &sb, t, nullptr, nullptr, nullptr, nullptr, 4000,
                                     nullptr, nullptr),
                      noErr);
            ASSERT_EQ(sa, sb);
            EXPECT_EQ(std::memcmp(*x, *y, size_t(sa)), 0);
            TimeValue next = -1;
            GetMediaNextInterestingTime(ma, nextTimeMediaSample, t + (GetMediaType(ma) == SoundMediaType ? 3999 : 0),
                                        FixedOne, &next, nullptr);
            t = next >= 1 ? next : -1;
        }
    }
    DisposeHandle(x);
    DisposeHandle(y);
}

TEST(MovieExport, CopyWithProgressAndReferences)
{
    std::string out = ScratchDir() + "export.mov";
    Movie movie = nullptr;
    ASSERT_EQ(OpenMoviePath(Fixture("media_tc.mov"), &movie), noErr);
    gPercents.clear();
    SetMovieProgressProc(movie, RecordProgress, 77);
    FSSpec spec;
    ToPascal(out, spec.name);
    ASSERT_EQ(ConvertMovieToFile(movie, nullptr, &spec, MovieFileType, 0, 0, nullptr,
                                 createMovieFileDeleteCurFile, nullptr),
              noErr);
    ASSERT_FALSE(gPercents.empty());
    EXPECT_EQ(gPercents.back(), 100);
    EXPECT_TRUE(std::is_sorted(gPercents.begin(), gPercents.end()));
    Movie copy = nullptr;
    ASSERT_EQ(OpenMoviePath(out, &copy), noErr);
    ExpectSameSamples(movie, copy);
    Track video = GetMovieIndTrackType(copy, 1, VideoMediaType, movieTrackMediaType);
    Track tc = GetMovieIndTrackType(copy, 1, TimeCodeMediaType, movieTrackMediaType);
    EXPECT_EQ(GetTrackReference(video, TimeCodeMediaType, 1), tc);
    DisposeMovie(copy);

    // Writing over the movie's own file is refused.
    ToPascal(Fixture("media_tc.mov"), spec.name);
    EXPECT_EQ(ConvertMovieToFile(movie, nullptr, &spec, MovieFileType, 0, 0, nullptr,
                                 createMovieFileDeleteCurFile, nullptr),
              paramErr);
    DisposeMovie(movie);
}

TEST(MovieExport, UserChoosesTheFile)
{
    Movie movie = nullptr;
    ASSERT_EQ(OpenMoviePath(Fixture("media_dvcp.mov"), &movie), noErr);
    SetMovieProgressProc(movie, StandardMovieProgressProc(), 0);
    const long flags = createMovieFileDeleteCurFile | showUserSettingsDialog | movieToFileOnlyExport;
    // Without a chooser the export is cancelled.
    MovieExportHooks none = SetMovieExportHooks({});
    EXPECT_EQ(ConvertMovieToFile(movie, nullptr, nullptr, 0, 0, -1, nullptr, flags, nullptr),
              userCanceledErr);
    gChosenPath = ScratchDir() + "chosen.mov";
    MovieExportHooks hooks;
    hooks.chooseExport = ChooseScripted;
    SetMovieExportHooks(hooks);
    EXPECT_EQ(ConvertMovieToFile(movie, nullptr, nullptr, 0, 0, -1, nullptr, flags, nullptr),
              noErr);
    SetMovieExportHooks(none);
    Movie copy = nullptr;
    ASSERT_EQ(OpenMoviePath(gChosenPath, &copy), noErr);
    ExpectSameSamples(movie, copy);
    DisposeMovie(copy);
    DisposeMovie(movie);
    std::string err;
    EXPECT_EQ(RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", gChosenPath, "-f", "null", "-"},
                         nullptr, &err),
              0);
    EXPECT_EQ(err, "");
}

} // namespace
