#include <gtest/gtest.h>

#include "platform/sys/bytes.h"

using namespace lc;

TEST(ByteReader, ReadsBothEndiansAndStopsAtEnd)
{
    const uint8_t d[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    ByteReader r(d, sizeof d);
    EXPECT_EQ(r.u16le(), 0x0201);
    EXPECT_EQ(r.u32be(), 0x03040506u);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.remaining(), 1u);
    EXPECT_EQ(r.u32le(), 0u); // short: nothing read
    EXPECT_TRUE(r.overread());
    EXPECT_EQ(r.remaining(), 0u);
}

TEST(ByteReader, SubIsBoundedByParentAndDeclaredSize)
{
    const uint8_t d[] = {1, 2, 3, 4, 5, 6};
    ByteReader r(d, sizeof d);
    r.skip(1);
    ByteReader child = r.sub(3);
    EXPECT_EQ(child.size(), 3u);
    EXPECT_EQ(child.u8(), 2);
    EXPECT_EQ(r.u8(), 5);
    ByteReader tooBig = r.sub(100); // claims more than the parent holds
    EXPECT_TRUE(tooBig.overread());
    EXPECT_EQ(tooBig.size(), 1u);
    EXPECT_TRUE(r.overread());
}

TEST(ByteReader, HugeSkipDoesNotWrap)
{
    const uint8_t d[4] = {};
    ByteReader r(d, sizeof d);
    EXPECT_FALSE(r.skip(SIZE_MAX));
    EXPECT_TRUE(r.overread());
    EXPECT_TRUE(r.bytes(SIZE_MAX - 1).empty());
}

TEST(BitReader, MsbFirstAcrossBytes)
{
    const uint8_t d[] = {0b10110011, 0b01010101};
    BitReader b(d, sizeof d);
    EXPECT_EQ(b.bits(3), 0b101u);
    EXPECT_EQ(b.peek(7), 0b1001101u);
    EXPECT_EQ(b.bits(9), 0b100110101u);
    EXPECT_EQ(b.bitsLeft(), 4u);
    b.alignByte();
    EXPECT_EQ(b.bitsLeft(), 0u);
    EXPECT_EQ(b.bits(5), 0u);
    EXPECT_TRUE(b.overread());
}

TEST(ByteWriter, PatchesEarlierFields)
{
    ByteWriter w;
    w.fourcc("RIFF");
    w.u32le(0);
    w.u16be(0x1234);
    w.patchU32le(4, 0xdeadbeef);
    const std::vector<uint8_t> want = {'R', 'I', 'F', 'F', 0xef, 0xbe, 0xad, 0xde, 0x12, 0x34};
    EXPECT_EQ(w.buffer(), want);
    EXPECT_EQ(FourCCText(FourCC("dvc ")), "dvc ");
}
