#include <gtest/gtest.h>

#include "platform/sys/path.h"
#include "platform/sys/text.h"

using namespace lc;

TEST(Path, PartsIgnoreDotsInFolders)
{
    struct Case
    {
        const char *path, *folder, *name, *bare;
    };
    const Case cases[] = {
        {"/d/clips/a.m2p", "/d/clips/", "a.m2p", "/d/clips/a"},
        {"/d/v1.2/movie", "/d/v1.2/", "movie", "/d/v1.2/movie"},
        {"/d/v1.2/movie.tar.mov", "/d/v1.2/", "movie.tar.mov", "/d/v1.2/movie.tar"},
        {"plain", "", "plain", "plain"},
        {"/x/.hidden", "/x/", ".hidden", "/x/"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(FolderOf(c.path), c.folder) << c.path;
        EXPECT_EQ(FileNameOf(c.path), c.name) << c.path;
        EXPECT_EQ(WithoutExtension(c.path), c.bare) << c.path;
    }
    EXPECT_EQ(ReplaceExtension("/d/v1.2/movie", "avi"), "/d/v1.2/movie.avi");
    EXPECT_EQ(ReplaceExtension("/d/a.mov", "avi"), "/d/a.avi");
    EXPECT_EQ(ProgramFolder().back(), '/');
}

TEST(Text, BoundedCopiesReportOverflow)
{
    char buf[6];
    EXPECT_TRUE(CopyText(buf, "abcde"));
    EXPECT_FALSE(AppendText(buf, "f"));
    EXPECT_STREQ(buf, "abcde");
    EXPECT_FALSE(CopyText(buf, "abcdefgh"));
    EXPECT_STREQ(buf, "abcde");
    EXPECT_TRUE(FormatText(buf, sizeof buf, "%d", -108));
    EXPECT_FALSE(FormatText(buf, sizeof buf, "%s", "toolong"));
    EXPECT_STREQ(buf, "toolo");
}
