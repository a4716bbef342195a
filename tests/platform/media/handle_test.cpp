#include <gtest/gtest.h>

#include <cstring>

#include "platform/media/media_types.h"

TEST(Handle, GrowsAndKeepsStorageWhenShrunk)
{
    Handle h = NewHandleClear(16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetHandleSize(h), 16);
    std::memcpy(*h, "abcdefghijklmnop", 16);
    char *before = *h;
    SetHandleSize(h, 4);
    EXPECT_EQ(MemError(), noErr);
    EXPECT_EQ(*h, before); // shrinking never moves
    SetHandleSize(h, 16);
    EXPECT_EQ(std::memcmp(*h, "abcdefghijklmnop", 16), 0);
    HLock(h);
    SetHandleSize(h, 1 << 20); // a locked handle cannot move to grow
    EXPECT_EQ(MemError(), memFullErr);
    EXPECT_EQ(*h, before);
    HUnlock(h);
    SetHandleSize(h, 1 << 20);
    EXPECT_EQ(MemError(), noErr);
    EXPECT_EQ(GetHandleSize(h), 1 << 20);
    DisposeHandle(h);
    EXPECT_EQ(GetHandleSize(nullptr), 0);
    EXPECT_EQ(MemError(), paramErr);
    EXPECT_EQ(NewHandle(-1), nullptr);
}

TEST(FixRatio, SixteenSixteen)
{
    EXPECT_EQ(FixRatio(1, 1), FixedOne);
    EXPECT_EQ(FixRatio(1001, 1000), 0x10041);
    EXPECT_EQ(FixRatio(-1, 2), -0x8000);
}
