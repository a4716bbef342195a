#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "passes/movie_window.h"
#include "passes/process_thread.h"
#include "passes_fixture.h"
#include "platform/sys/text.h"

namespace fs = std::filesystem;

namespace {

enum class Kind {
    QuickTime, // open through the media layer
    AviReader, // an AVI read by the own reader
    Mpeg,
    Mxf,
};

// What the fake open and the fake processing do for one source path.
struct FakeSource
{
    Kind kind = Kind::Mpeg;
    int32_t frameRate = 25;   // what the open leaves in ConversionState::frameRate
    int32_t rateScale = 0;    // the ratio beside it (the AVI reader's rate), 0 when not known
    int32_t rateDuration = 0; // (the AVI reader's scale)
    bool openFails = false;
    bool error = false;      // ProcessMovie shows an error
    bool stop = false;       // the user presses Stop during ProcessMovie
    bool writeOutput = true; // ProcessMovie leaves its output under the temporary name
};

// What ProcessMovie saw of the state the thread worked out.
struct Seen
{
    std::string path;
    int32_t batchItemIndex, frameRate, sourceIsPal, sourceIsNtsc, passesLeft, outputIsAvi,
        dvAviOutput, ntscOutputHeight, convert60iTo25P, ntscFrameUnits;
    std::string outputBaseName;
};

// The movie object with its readers and passes replaced: opens by a table of paths and writes a
// small output file named after the source.
class FakeMovie : public CMovieWindow
{
public:
    int OpenMovie(const char *path) override
    {
        opened.push_back(path);
        CloseMovie();
        SetMoviePath(path);
        gSourceKind.Clear();
        auto it = sources.find(path);
        if (it == sources.end() || it->second.openFails) {
            ShowError((std::string("Could not open or read ") + path).c_str());
            moviePath[0] = 0;
            return 0;
        }
        const FakeSource &s = it->second;
        switch (s.kind) {
        case Kind::QuickTime:
            gSourceKind.viaQuickTime = 1;
            break;
        case Kind::AviReader:
            gSourceKind.isAvi = 1;
            gSourceKind.viaAviPlayer = 1;
            break;
        case Kind::Mpeg:
            gSourceKind.isMpeg = 1;
            break;
        case Kind::Mxf:
            gSourceKind.isMxf = 1;
            gSourceKind.viaAviPlayer = 1;
            break;
        }
        gConversionState.frameRate = s.frameRate;
        if (s.kind == Kind::AviReader) {
            gSourceTiming.rate = uint32_t(s.rateScale);
            gSourceTiming.scale = uint32_t(s.rateDuration);
        } else {
            gConversionState.frameRateScale = s.rateScale;
            gConversionState.frameRateDuration = s.rateDuration;
        }
        mpegRate = double(s.frameRate);
        return 1;
    }

    void ProcessMovie() override
    {
        // What the real processing does before it reads the source.
        gProcessControl.paused = 0;
        gProcessControl.stopRequested = 0;
        processCalls++;
        const ConversionState &st = gConversionState;
        seen.push_back({moviePath, st.batchItemIndex, st.frameRate, st.sourceIsPal, st.sourceIsNtsc,
                        gProcessControl.passesLeft, st.outputIsAvi, st.dvAviOutput,
                        st.ntscOutputHeight, gConversionOptions.convert60iTo25P, st.ntscFrameUnits,
                        st.outputBaseName});
        while (holdProcessing.load()) {
            std::this_thread::yield();
        }
        const FakeSource &s = sources.at(moviePath);
        if (s.error) {
            ShowError("GetMediaSample Error, err# -36");
            return;
        }
        if (s.writeOutput) {
            std::string out = gConversionOptions.userSelectsOutputFolder
                                  ? std::string(gConversionOptions.outputFolder) + "/"
                                  : std::string(movieFolder);
            out += gConversionState.outputIsAvi ? "newmovie.avi" : "newmovie.mov";
            std::ofstream(out) << "made from " << moviePath;
        }
        if (s.stop) {
            gProcessControl.stopRequested = 1;
        }
    }

    void CloseMovie() override { moviePath[0] = 0; }

    std::map<std::string, FakeSource> sources;
    std::vector<std::string> opened;
    std::vector<Seen> seen;
    std::atomic<bool> holdProcessing{false};
    std::atomic<int> processCalls{0};
    static inline double mpegRate = 0;
};

std::string ReadFile(const fs::path &p)
{
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ProcessThreadTest : public PassesTest
{
protected:
    void SetUp() override
    {
        PassesTest::SetUp();
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::path(LC_BINARY_DIR) / "passes_thread_test" / info->name();
        fs::remove_all(dir);
        fs::create_directories(dir / "clips");
        clips = (dir / "clips").string();
        gMovieWindow = &movie;
        gLowerHooks.mpegFrameRate = [] { return FakeMovie::mpegRate; };
    }
    void TearDown() override
    {
        gMovieWindow = nullptr;
        PassesTest::TearDown();
    }

    // Adds a source in the clips folder (or at an absolute path) and returns its path.
    std::string Source(const std::string &name, FakeSource s = {})
    {
        std::string path = name[0] == '/' ? name : clips + "/" + name;
        movie.sources[path] = s;
        return path;
    }
    void RunBatch(const std::string &text)
    {
        ASSERT_TRUE(lc::CopyText(gUiState.batchText, text.c_str()));
        gProcessControl.batchRunning = 1;
        ProcessThreadProc(nullptr);
        EXPECT_EQ(gProcessControl.batchRunning, 0);
        EXPECT_EQ(gProcessControl.running, 0);
    }
    void RunSingle(const std::string &path)
    {
        ASSERT_EQ(movie.OpenMovie(path.c_str()), 1);
        movie.opened.clear();
        ProcessThreadProc(nullptr);
        EXPECT_EQ(gProcessControl.running, 0);
    }
    std::string ReopenPath() const
    {
        return gProcessControl.reopenPending ? gProcessControl.reopenPath : "";
    }

    fs::path dir;
    std::string clips;
    FakeMovie movie;
};

TEST_F(ProcessThreadTest, EmptyBatchHasNothingToProcess)
{
    RunBatch("");
    EXPECT_TRUE(movie.opened.empty());
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Nothing to process - batch empty"});
    EXPECT_EQ(ReopenPath(), "");
    // Players are stopped first; the guide moves on at the end.
    ASSERT_GE(calls().size(), 3u);
    EXPECT_EQ(calls()[0], "EndMpegDecoding");
    EXPECT_EQ(calls()[1], "StopAviPlayback");
    EXPECT_EQ(CountCalls("ShowGuidePage 5"), 1);
}

TEST_F(ProcessThreadTest, TrailingLineBreakAndEmptyLinesAreNoItems)
{
    std::string a = Source("a.m2p"), b = Source("b.m2p");
    RunBatch(a + "\r\n\r\n" + b + "\r\n");
    EXPECT_EQ(movie.opened, (std::vector<std::string>{a, b}));
    ASSERT_EQ(movie.seen.size(), 2u);
    EXPECT_EQ(movie.seen[0].batchItemIndex, 1);
    EXPECT_EQ(movie.seen[1].batchItemIndex, 3); // the line number in the list
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Batch processing completed OK"});
    EXPECT_EQ(ReopenPath(), clips + "/b.avi");
}

TEST_F(ProcessThreadTest, OnlyTheFirstHundredLinesAreTaken)
{
    std::string text;
    for (int i = 1; i <= 101; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "m%03d.m2p", i);
        text += Source(name) + "\n";
    }
    RunBatch(text);
    ASSERT_EQ(movie.opened.size(), 100u);
    EXPECT_EQ(movie.opened.back(), clips + "/m100.m2p");
    EXPECT_TRUE(fs::exists(clips + "/m100.avi"));
    EXPECT_FALSE(fs::exists(clips + "/m101.avi"));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Batch processing completed OK"});
    EXPECT_EQ(ReopenPath(), clips + "/m100.avi");
}

TEST_F(ProcessThreadTest, NamesOfTwoHundredFiftyFiveCharactersAreRefused)
{
    // Paths of 254 and 255 characters in the clips folder.
    auto named = [&](size_t length) {
        std::string prefix = clips + "/";
        return Source(prefix + std::string(length - prefix.size() - 4, 'n') + ".m2p");
    };
    std::string fits = named(254), tooLong = named(255);
    ASSERT_EQ(fits.size(), 254u);

    RunBatch(fits + "\n");
    EXPECT_EQ(movie.opened, std::vector<std::string>{fits});
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Batch processing completed OK"});

    messages.Clear();
    movie.opened.clear();
    RunBatch(tooLong + "\n");
    EXPECT_TRUE(movie.opened.empty());
    auto texts = messages.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].rfind("Path is too long:\n" + clips, 0), 0u);
    EXPECT_EQ(texts[1], "Batch processing completed with errors");
}

TEST_F(ProcessThreadTest, BatchTargetNames)
{
    struct Row
    {
        const char *source; // in the clips folder
        Kind kind;
        bool quickTimeOutput;
        const char *outputFolder; // relative to the test folder; null: none
        const char *target;       // relative to the test folder
        const char *baseName;     // relative to the test folder
    };
    const Row rows[] = {
        // Without an output folder: MPEG-2 keeps its name, the others get "NEW".
        {"a.m2p", Kind::Mpeg, false, nullptr, "clips/a.avi", "clips/a"},
        {"a.mov", Kind::QuickTime, false, nullptr, "clips/NEWa.avi", "clips/a"},
        {"a.mov", Kind::QuickTime, true, nullptr, "clips/NEWa.mov", "clips/a"},
        {"y.avi", Kind::AviReader, false, nullptr, "clips/NEWy.avi", "clips/y"},
        // The output folder is the source folder.
        {"x.mov", Kind::QuickTime, false, "clips", "clips/NEWx.avi", "clips/x"},
        {"x.vob", Kind::Mpeg, false, "clips", "clips/x.avi", "clips/x"},
        // Another output folder.
        {"x.mov", Kind::QuickTime, false, "out", "out/x.avi", "out/x"},
        // A dot in a folder name is no extension, and a name without one gets one.
        {"dotted.v2/a", Kind::Mpeg, false, nullptr, "clips/dotted.v2/a.avi", "clips/dotted.v2/a"},
        {"dotted.v2/b.m2p", Kind::Mpeg, true, nullptr, "clips/dotted.v2/b.mov",
         "clips/dotted.v2/b"},
        {"plain", Kind::QuickTime, false, nullptr, "clips/NEWplain.avi", "clips/plain"},
        {"two.dots.mov", Kind::QuickTime, false, nullptr, "clips/NEWtwo.dots.avi",
         "clips/two.dots"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.source) + " -> " + row.target);
        SetUp();
        fs::create_directories(dir / "out");
        fs::create_directories(dir / "clips" / "dotted.v2");
        FakeSource s;
        s.kind = row.kind;
        std::string source = Source(row.source, s);
        gConversionOptions.alwaysMakeQuickTime = row.quickTimeOutput;
        if (row.outputFolder) {
            gConversionOptions.userSelectsOutputFolder = 1;
            ASSERT_TRUE(lc::CopyText(gConversionOptions.outputFolder,
                                     (dir / row.outputFolder).string().c_str()));
        }
        RunBatch(source + "\r\n");
        std::string target = (dir / row.target).string();
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Batch processing completed OK"});
        EXPECT_EQ(ReadFile(target), "made from " + source);
        EXPECT_EQ(ReopenPath(), target);
        EXPECT_EQ(gProcessControl.openedAfterProcessing, 1);
        ASSERT_EQ(movie.seen.size(), 1u);
        EXPECT_EQ(movie.seen[0].outputBaseName, (dir / row.baseName).string());
        movie.seen.clear();
        movie.opened.clear();
        messages.Clear();
    }
}

TEST_F(ProcessThreadTest, SecondItemOfTheSameNameReplacesTheFirstResult)
{
    fs::create_directories(clips + "/b");
    std::string first = Source("x.m2p"), second = Source("b/x.m2p");
    gConversionOptions.userSelectsOutputFolder = 1;
    ASSERT_TRUE(lc::CopyText(gConversionOptions.outputFolder, (dir / "out").string().c_str()));
    fs::create_directories(dir / "out");
    RunBatch(first + "\n" + second + "\n");
    EXPECT_EQ(ReadFile(dir / "out" / "x.avi"), "made from " + second);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Batch processing completed OK"});
}

TEST_F(ProcessThreadTest, FinalMessages)
{
    struct Row
    {
        const char *what;
        std::vector<FakeSource> items; // sources i0.m2p, i1.m2p, ...
        bool batch;
        std::vector<std::string> shown;
        int processed;               // items that reached ProcessMovie
        const char *reopen;          // in the clips folder; null: nothing reopened
        std::vector<int> moved = {}; // batch items whose result reached its target name
    };
    FakeSource ok, error, stop, failsToOpen, mxf;
    error.error = true;
    stop.stop = true;
    failsToOpen.openFails = true;
    mxf.kind = Kind::Mxf;
    const std::string boxError = "GetMediaSample Error, err# -36";
    const Row rows[] = {
        {"single ok", {ok}, false, {"Processing completed OK"}, 1, "newmovie.avi"},
        {"single error", {error}, false, {boxError}, 1, nullptr},
        {"single stop", {stop}, false, {"Processing aborted"}, 1, nullptr},
        {"single mxf",
         {mxf},
         false,
         {"Halvorne does not support .mxf files\nPress OK to continue."},
         0,
         nullptr},
        {"batch ok", {ok, ok}, true, {"Batch processing completed OK"}, 2, "i1.avi", {0, 1}},
        // Each item is judged by its own errors: the later items reach their targets; the run
        // ends with errors.
        {"batch error",
         {error, ok},
         true,
         {boxError, "Batch processing completed with errors"},
         2,
         nullptr,
         {1}},
        {"batch error between two good ones",
         {ok, error, ok},
         true,
         {boxError, "Batch processing completed with errors"},
         3,
         nullptr,
         {0, 2}},
        {"batch open fails",
         {failsToOpen, ok},
         true,
         {"Could not open or read " + clips + "/i0.m2p", "Batch processing completed with errors"},
         1,
         nullptr,
         {1}},
        {"batch all refused", {mxf, mxf}, true, {"Nothing to process - batch empty"}, 0, nullptr},
        // The refusal's warning is not shown in a batch, yet the batch made no result for it.
        {"batch refused beside a good one",
         {mxf, ok},
         true,
         {"Batch processing completed with errors"},
         1,
         nullptr,
         {1}},
        {"batch stop",
         {ok, stop, ok},
         true,
         {"Processing aborted", "Batch processing aborted by user"},
         2,
         nullptr,
         {0}},
        // A stop after an earlier error still ends the batch.
        {"batch error then stop",
         {error, stop, ok},
         true,
         {boxError, "Processing aborted", "Batch processing completed with errors"},
         2,
         nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        SetUp();
        std::string text;
        for (size_t i = 0; i < row.items.size(); ++i) {
            text += Source(std::string("i") + std::to_string(i) + ".m2p", row.items[i]) + "\r\n";
        }
        if (row.batch) {
            RunBatch(text);
        } else {
            RunSingle(clips + "/i0.m2p");
        }
        EXPECT_EQ(messages.Texts(), row.shown);
        EXPECT_EQ(int(movie.seen.size()), row.processed);
        EXPECT_EQ(ReopenPath(), row.reopen ? clips + "/" + row.reopen : "");
        EXPECT_EQ(gProcessControl.openedAfterProcessing, row.reopen ? 1 : 0);
        for (size_t i = 0; row.batch && i < row.items.size(); ++i) {
            const std::string source = clips + "/i" + std::to_string(i) + ".m2p";
            const bool moved =
                std::find(row.moved.begin(), row.moved.end(), int(i)) != row.moved.end();
            EXPECT_EQ(ReadFile(clips + "/i" + std::to_string(i) + ".avi"),
                      moved ? "made from " + source : "")
                << "item " << i;
        }
        movie.seen.clear();
        movie.opened.clear();
        messages.Clear();
    }
}

TEST_F(ProcessThreadTest, FailedRenameEndsWithErrorsAndReopensNothing)
{
    // The target name is taken by a folder with a file in it, so the move must fail.
    std::string source = Source("a.m2p");
    fs::create_directories(clips + "/a.avi");
    std::ofstream(clips + "/a.avi/keep") << "keep";
    RunBatch(source + "\n");
    auto texts = messages.Texts();
    ASSERT_EQ(texts.size(), 2u);
    // Error boxes hold 255 characters: with a long checkout path the sentence is cut.
    const std::string shown = "Could not rename " + clips + "/newmovie.avi to " + clips
                              + "/a.avi\nVolume is read-only or file may be in use\nby another "
                                "application";
    EXPECT_EQ(texts[0], shown.substr(0, 255));
    EXPECT_EQ(texts[1], "Batch processing completed with errors");
    EXPECT_EQ(ReopenPath(), "");
    EXPECT_EQ(ReadFile(clips + "/newmovie.avi"), "made from " + source); // the result is kept
}

TEST_F(ProcessThreadTest, MissingResultIsAFailedRename)
{
    FakeSource s;
    s.writeOutput = false;
    RunBatch(Source("a.m2p", s) + "\n");
    auto texts = messages.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].rfind("Could not rename ", 0), 0u);
    EXPECT_EQ(texts[1], "Batch processing completed with errors");
    EXPECT_EQ(ReopenPath(), "");
}

TEST_F(ProcessThreadTest, TargetThatIsTheSourceIsRefused)
{
    // An MPEG-2 stream named .mov keeps its name when the output is a QuickTime movie; the
    // second row names the source folder another way.
    const char *outputFolders[] = {nullptr, "clips/."};
    for (const char *outputFolder : outputFolders) {
        SCOPED_TRACE(outputFolder ? outputFolder : "no output folder");
        SetUp();
        std::string source = Source("a.mov");
        std::ofstream(source) << "the source";
        gConversionOptions.alwaysMakeQuickTime = 1;
        if (outputFolder) {
            gConversionOptions.userSelectsOutputFolder = 1;
            ASSERT_TRUE(lc::CopyText(gConversionOptions.outputFolder,
                                     (dir / outputFolder).string().c_str()));
        }
        RunBatch(source + "\n");
        auto texts = messages.Texts();
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0].rfind("The batch target is the source movie:\n", 0), 0u);
        EXPECT_EQ(texts[1], "Batch processing completed with errors");
        EXPECT_EQ(ReadFile(source), "the source");
        EXPECT_EQ(ReopenPath(), "");
        messages.Clear();
    }
}

TEST_F(ProcessThreadTest, FrameRateFamilyAndPasses)
{
    struct Row
    {
        const char *what;
        Kind kind;
        int32_t openRate, scale, duration; // the open's integer rate and its ratio
        bool twoPass;
        int32_t rate, pal, passes, frameUnits;
        const char *refusedAs = nullptr; // the rate as the refusal names it
    };
    const Row rows[] = {
        {"29.97 movie read as 29", Kind::QuickTime, 29, 30000, 1001, true, 30, 0, 2, 1001},
        {"29.97 movie, one pass", Kind::QuickTime, 29, 30000, 1001, false, 30, 0, 1, 1001},
        {"30 movie", Kind::QuickTime, 30, 600, 20, true, 30, 0, 2, 1000},
        {"25 movie", Kind::QuickTime, 25, 2500, 100, true, 25, 1, 1, 1001},
        {"29.97 AVI", Kind::AviReader, 29, 30000, 1001, true, 30, 0, 2, 1001},
        {"30 AVI", Kind::AviReader, 30, 30, 1, true, 30, 0, 2, 1000},
        {"ratio unknown", Kind::AviReader, 29, 0, 0, true, 29, 0, 1, 1001},
        {"MPEG-2 at 25", Kind::Mpeg, 25, 0, 0, true, 25, 1, 1, 1001},
        // Rates the passes cannot keep in sync.
        {"23.976 movie", Kind::QuickTime, 23, 24000, 1001, true, 0, 0, 0, 0, "23.976"},
        {"24 movie", Kind::QuickTime, 24, 24, 1, true, 0, 0, 0, 0, "24"},
        {"50 movie", Kind::QuickTime, 50, 50, 1, true, 0, 0, 0, 0, "50"},
        {"59.94 movie", Kind::QuickTime, 59, 60000, 1001, true, 0, 0, 0, 0, "59.94"},
        {"23.976 AVI", Kind::AviReader, 23, 24000, 1001, true, 0, 0, 0, 0, "23.976"},
        {"15 AVI", Kind::AviReader, 15, 15, 1, true, 0, 0, 0, 0, "15"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        SetUp();
        messages.Clear();
        gConversionOptions.twoPassPulldownRemoval = row.twoPass;
        gConversionOptions.pulldown32To25P = 1;
        FakeSource s;
        s.kind = row.kind;
        s.frameRate = row.openRate;
        s.rateScale = row.scale;
        s.rateDuration = row.duration;
        RunSingle(Source("m.mov", s));
        if (row.refusedAs) {
            EXPECT_TRUE(movie.seen.empty());
            EXPECT_EQ(messages.Texts(),
                      std::vector<std::string>{std::string("The movie runs at ") + row.refusedAs
                                               + " frames/s and cannot be converted:\nonly 25, "
                                                 "29.97 and 30 frames/s movies can be processed."});
            EXPECT_EQ(ReopenPath(), "");
            continue;
        }
        ASSERT_EQ(movie.seen.size(), 1u);
        const Seen &seen = movie.seen[0];
        EXPECT_EQ(seen.frameRate, row.rate);
        EXPECT_EQ(seen.sourceIsPal, row.pal);
        EXPECT_EQ(seen.sourceIsNtsc, !row.pal);
        EXPECT_EQ(seen.passesLeft, row.passes);
        EXPECT_EQ(seen.ntscFrameUnits, row.frameUnits);
        EXPECT_EQ(seen.batchItemIndex, 0);
        movie.seen.clear();
    }
}

TEST_F(ProcessThreadTest, MpegRatesRoundToTheNearestInteger)
{
    const double rates[] = {29.97, 30.0, 25.0, 23.976, 50.0, 59.94};
    const int32_t expected[] = {30, 30, 25, 0, 0, 0}; // 0: refused
    for (int i = 0; i < 6; ++i) {
        SetUp();
        messages.Clear();
        static double rate;
        rate = rates[i];
        gLowerHooks.mpegFrameRate = [] { return rate; };
        RunSingle(Source("m.m2p"));
        if (!expected[i]) {
            EXPECT_TRUE(movie.seen.empty()) << rates[i];
            ASSERT_EQ(messages.Texts().size(), 1u);
            EXPECT_EQ(messages.Texts()[0].rfind("The movie runs at ", 0), 0u);
            continue;
        }
        ASSERT_EQ(movie.seen.size(), 1u);
        EXPECT_EQ(movie.seen[0].frameRate, expected[i]);
        EXPECT_EQ(movie.seen[0].sourceIsPal, expected[i] == 25);
        movie.seen.clear();
    }
}

TEST_F(ProcessThreadTest, OptionsWrittenForTheRun)
{
    gConversionOptions.resizeOn = 1;
    gConversionOptions.output486Lines = 1;
    gConversionOptions.userSelectsCompression = 1;
    RunSingle(Source("m.m2p"));
    ASSERT_EQ(movie.seen.size(), 1u);
    EXPECT_EQ(gConversionOptions.resizeOn, 0);
    EXPECT_EQ(movie.seen[0].convert60iTo25P, 1); // no 25P mode chosen
    EXPECT_EQ(movie.seen[0].ntscOutputHeight, 486);
    EXPECT_EQ(movie.seen[0].outputIsAvi, 1);
    EXPECT_EQ(movie.seen[0].dvAviOutput, 0);
}

TEST_F(ProcessThreadTest, YuvRefusals)
{
    struct Row
    {
        const char *what;
        Kind kind;
        int uncompressed;
        const char *warning;
    };
    const Row rows[] = {
        {"uncompressed AVI", Kind::AviReader, 1,
         "YUV processing (in Advanced Options) cannot be used with\nuncompressed AVI source "
         "movie\nPress OK to continue."},
        {"codec AVI", Kind::AviReader, 0,
         "YUV processing (in Advanced Options) not supported\nwith VfW-compressed AVI's\nPress "
         "OK to continue."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        SetUp();
        gConversionOptions.useYuvProcessing = 1;
        gAviReadState.isUncompressed = row.uncompressed;
        FakeSource s;
        s.kind = row.kind;
        RunSingle(Source("m.avi", s));
        EXPECT_TRUE(movie.seen.empty());
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{row.warning});
        messages.Clear();
    }
}

TEST_F(ProcessThreadTest, NothingReopenedRefitsTheShownPlayer)
{
    FakeSource s;
    s.error = true;
    RunSingle(Source("m.m2p", s));
    EXPECT_EQ(CountCalls("FitVideoWindow"), 1);
    EXPECT_EQ(CountCalls("ResizePlaybackWindow"), 0);
}

TEST_F(ProcessThreadTest, OneThreadAtATime)
{
    std::string source = Source("m.m2p");
    ASSERT_EQ(movie.OpenMovie(source.c_str()), 1);
    movie.holdProcessing = true;
    ASSERT_TRUE(StartProcessThread());
    while (movie.processCalls == 0) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(ProcessThreadActive());
    EXPECT_FALSE(StartProcessThread());
    movie.holdProcessing = false;
    WaitForProcessThread();
    EXPECT_FALSE(ProcessThreadActive());
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Processing completed OK"});

    // A finished run is reaped by the next start.
    messages.Clear();
    ASSERT_TRUE(StartProcessThread());
    WaitForProcessThread();
    EXPECT_EQ(movie.seen.size(), 2u);
}

} // namespace
