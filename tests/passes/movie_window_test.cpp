#include <string>

#include <gtest/gtest.h>

#include "passes/movie_window.h"
#include "passes_fixture.h"

namespace {

using MovieWindowTest = PassesTest;

TEST_F(MovieWindowTest, MoviePathGivesTheFolder)
{
    struct Row
    {
        std::string path;
        bool taken;
        const char *folder;
        const char *fileName;
    };
    const Row rows[] = {
        {"/clips/a.mov", true, "/clips/", "a.mov"},
        {"/clips.v2/b", true, "/clips.v2/", "b"},
        {"a.mov", true, "", "a.mov"}, // no folder: outputs go to the current folder
        {"/" + std::string(254, 'n'), true, "/", nullptr},
        {"/" + std::string(255, 'n'), false, "", ""},
    };
    CMovieWindow movie;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.path.substr(0, 20));
        EXPECT_EQ(movie.SetMoviePath(row.path.c_str()), row.taken);
        EXPECT_STREQ(movie.movieFolder, row.folder);
        char name[256] = "untouched";
        movie.GetFileName(name, sizeof name);
        EXPECT_EQ(std::string(name), row.fileName ? row.fileName : row.path.substr(1));
    }
}

TEST_F(MovieWindowTest, ProcessingRefusesAnUnrenamedResult)
{
    struct Row
    {
        const char *path;
        bool refused;
    };
    const Row rows[] = {
        {"/x/newmovie.mov", true},
        {"/x/newmovie.avi", true},
        {"/x/mynewmovie.mov", false},
    };
    CMovieWindow movie;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.path);
        messages.Clear();
        gProcessControl.paused = 1;
        gProcessControl.stopRequested = 1;
        ASSERT_TRUE(movie.SetMoviePath(row.path));
        movie.ProcessMovie();
        EXPECT_EQ(gProcessControl.paused, 0);
        EXPECT_EQ(gProcessControl.stopRequested, 0);
        if (row.refused) {
            EXPECT_EQ(messages.Texts(),
                      std::vector<std::string>{
                          "newmovie must be renamed with File->SaveAs before further processing."});
        } else {
            EXPECT_TRUE(messages.Texts().empty());
        }
    }
}

TEST_F(MovieWindowTest, EmptyPathIsRefused)
{
    CMovieWindow movie;
    EXPECT_EQ(movie.OpenMovie(""), 0);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Empty pathname: Could not open Movie"});
}

} // namespace
