#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <unistd.h>

#include "platform/sys/file.h"

using namespace lc;

namespace {
std::string TempDir()
{
    char tmpl[] = "/tmp/lc_sys_XXXXXX";
    return std::string(mkdtemp(tmpl)) + "/";
}
} // namespace

TEST(File, CreateTruncatesAndReadsZeroAtEnd)
{
    std::string dir = TempDir();
    std::string p = dir + "a.bin";
    ASSERT_TRUE(WriteWholeFile(p.c_str(), "0123456789", 10).ok());
    File f;
    ASSERT_TRUE(f.open(p.c_str(), FileMode::Create));
    EXPECT_EQ(f.size(), 0); // older contents gone
    EXPECT_EQ(f.write("abc", 3), 3);
    EXPECT_EQ(f.seek(int64_t(5) << 32, SEEK_SET), int64_t(5) << 32); // 64-bit positions
    EXPECT_EQ(f.seek(0, SEEK_SET), 0);
    char buf[8];
    EXPECT_EQ(f.read(buf, sizeof buf), 3);
    EXPECT_EQ(f.read(buf, sizeof buf), 0);
    f.close();
    EXPECT_EQ(FileRead(-1, buf, 1), -1);
    EXPECT_EQ(FileWrite(-1, buf, 1), -1);
    EXPECT_FALSE(ReadWholeFile((dir + "missing").c_str()).ok());
    EXPECT_EQ(ReadWholeFile((dir + "missing").c_str()).error(), Error::NotFound);
}

TEST(File, RenameReplacesAndSameFileUsesIdentity)
{
    std::string dir = TempDir();
    std::string a = dir + "a", b = dir + "b", link = dir + "l";
    ASSERT_TRUE(WriteWholeFile(a.c_str(), "new", 3).ok());
    ASSERT_TRUE(WriteWholeFile(b.c_str(), "older!", 6).ok());
    ASSERT_EQ(symlink(b.c_str(), link.c_str()), 0);
    EXPECT_TRUE(SameFile(b.c_str(), link.c_str()));
    EXPECT_TRUE(SameFile(b.c_str(), (dir + "./b").c_str()));
    EXPECT_FALSE(SameFile(a.c_str(), b.c_str()));
    EXPECT_FALSE(SameFile(a.c_str(), (dir + "none").c_str()));
    ASSERT_TRUE(RenameReplacing(a.c_str(), b.c_str()).ok());
    EXPECT_FALSE(PathExists(a.c_str()));
    EXPECT_EQ(*ReadWholeFile(b.c_str()), "new");
    EXPECT_FALSE(RenameReplacing(a.c_str(), b.c_str()).ok()); // source gone
    EXPECT_EQ(DeletePath(b.c_str()), 0);
    EXPECT_EQ(DeletePath(b.c_str()), -1);
}
