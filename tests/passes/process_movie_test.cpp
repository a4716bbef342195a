// The time base ProcessMovie measures over a movie's video samples.

#include <cstring>
#include <filesystem>
#include <vector>

#include <gmock/gmock.h>
#include <stdlib.h>

#include "passes/conversion_state.h"
#include "passes/movie_window.h"
#include "passes/passes_setup.h"
#include "passes/process_thread.h"
#include "platform/media/image_compression.h"
#include "platform/media/movies.h"
#include "platform/media/standard_compression.h"
#include "platform/sys/text.h"
#include "tests/passes/passes_fixture.h"

namespace {

// The movie object itself on this thread, headless: it opens the movie, the processing thread's
// procedure runs here until it returns, and the results go to a folder of the test's own.
class ProcessMovieTest : public PassesTest
{
protected:
    void SetUp() override
    {
        PassesTest::SetUp();
        char pattern[] = "/tmp/lc_process_movie_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        gConversionOptions.userSelectsOutputFolder = 1;
        lc::CopyText(gConversionOptions.outputFolder, dir_.c_str());
        gUiHooks = UiHooks{};
        InstallPassesHooks();
        gMovieWindow = &window_;
    }
    void TearDown() override
    {
        window_.CloseMovie();
        gMovieWindow = nullptr;
        std::filesystem::remove_all(dir_);
        PassesTest::TearDown();
    }
    // The result the run published for reopening; "" when none.
    std::string Process(const std::string &path)
    {
        if (!window_.OpenMovie(path.c_str())) {
            return "";
        }
        ProcessThreadProc(nullptr);
        char result[256] = {};
        return TakeReopenPath(result) ? std::string(result) : std::string();
    }
    std::string OutputPath(const char *name) const { return dir_ + "/" + name; }
    std::vector<std::string> Texts() const { return messages.Texts(); }

    std::string dir_;
    CMovieWindow window_;
};

// Writes a 720 x 480 'raw ' movie (time scale 30000) whose samples last the given durations.
void WriteMovie(const std::string &path, const std::vector<TimeValue> &durations)
{
    unsigned char name[256] = {};
    name[0] = uint8_t(path.size());
    std::memcpy(name + 1, path.data(), path.size());
    FSSpec spec;
    FSMakeFSSpec(0, 0, name, &spec);
    short ref = 0;
    Movie movie = nullptr;
    ASSERT_EQ(
        CreateMovieFile(&spec, 0, smCurrentScript, createMovieFileDeleteCurFile, &ref, &movie),
        noErr);
    SetMovieTimeScale(movie, 30000);
    Track track = NewMovieTrack(movie, FixRatio(720, 1), FixRatio(480, 1), 0);
    Media media = NewTrackMedia(track, VideoMediaType, 30000, nullptr, 0);
    ASSERT_EQ(BeginMediaEdits(media), noErr);
    const int32_t bytes = 720 * 480 * 3;
    Handle data = NewHandleClear(bytes);
    auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
    (*desc)->idSize = sizeof(ImageDescription);
    (*desc)->cType = 0x72617720; // 'raw '
    (*desc)->width = 720;
    (*desc)->height = 480;
    (*desc)->depth = 24;
    (*desc)->frameCount = 1;
    (*desc)->clutID = -1;
    (*desc)->dataSize = bytes;
    for (TimeValue d : durations) {
        ASSERT_EQ(AddMediaSample(media, data, 0, bytes, d,
                                 reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0, nullptr),
                  noErr);
    }
    ASSERT_EQ(EndMediaEdits(media), noErr);
    ASSERT_EQ(InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), FixedOne), noErr);
    ASSERT_EQ(AddMovieResource(movie, ref, nullptr, nullptr), noErr);
    CloseMovieFile(ref);
    DisposeMovie(movie);
    DisposeHandle(data);
    DisposeHandle(reinterpret_cast<Handle>(desc));
}

struct DurationCase
{
    std::vector<TimeValue> durations;
    int32_t sampleDuration; // 0: refused
};

class ProcessMovieTimeBase : public ProcessMovieTest,
                             public ::testing::WithParamInterface<DurationCase>
{
};

// The first interval counts toward both the shortest and the longest; counts are never reset.
TEST_P(ProcessMovieTimeBase, SampleDurationByVote)
{
    const DurationCase &c = GetParam();
    std::string source = OutputPath("source.mov");
    WriteMovie(source, c.durations);
    std::string out = Process(source);
    if (c.sampleDuration == 0) {
        EXPECT_EQ(out, "");
        EXPECT_THAT(Texts(), ::testing::Contains("Unexpected values for sample duration"));
        return;
    }
    EXPECT_EQ(out, OutputPath("newmovie.avi"));
    EXPECT_EQ(gConversionState.sourceSampleDuration, c.sampleDuration);
    EXPECT_EQ(gConversionState.sourceFrameCount, int32_t(c.durations.size()));
    EXPECT_EQ(gConversionState.timeScale, 2500);
}

INSTANTIATE_TEST_SUITE_P(ProcessMovie, ProcessMovieTimeBase,
                         ::testing::Values(DurationCase{{1001, 1002, 1001, 1002, 1001}, 1002},
                                           DurationCase{{1002, 1001, 1002, 1001, 1002}, 1001},
                                           DurationCase{{1001, 1001, 1001, 1001, 1001}, 1001},
                                           DurationCase{{200000, 200000, 200000, 200000, 200000},
                                                        0}));

} // namespace
