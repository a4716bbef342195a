// The run-level code, the bit pool and the three passes over a segment's bits.
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "dvdecoder/cindrell.h"
#include "dvdecoder/internal/bit_pool.h"
#include "dvdecoder/internal/cindrell_context.h"
#include "dvdecoder/internal/dif_tables.h"
#include "dvdecoder/internal/run_level.h"

namespace {

// Bits "0101..." left-aligned in a 16-bit window.
uint32_t Window(const std::string &bits)
{
    uint32_t w = 0;
    for (size_t i = 0; i < 16; ++i) {
        w = (w << 1) | (i < bits.size() && bits[i] == '1' ? 1u : 0u);
    }
    return w;
}

TEST(RunLevelTest, CodesOfTheTable)
{
    struct Case
    {
        const char *bits;
        int available;
        int length, run, level;
    };
    const Case cases[] = {
        {"000", 16, 3, 0, 1},
        {"001", 16, 3, 0, -1},
        {"0100", 16, 4, 0, 2},
        {"01110", 16, 5, 1, 1},
        {"10001", 16, 5, 0, -3},
        {"0110", 16, 4, -1, 0},               // end of block
        {"0110", 2, 4, -1, 0},                // whatever is available
        {"00", 2, 3, -2, 0},                  // the 3-bit code does not fit
        {"1111110000110", 16, 13, 6, 0},      // run escape
        {"1111111000101111", 16, 16, 0, -23}, // amplitude escape
        {"1111111000101110", 15, 16, -2, 0},
        {"11111001110", 16, 11, 0, 0}, // pure run
        {"1111101111111", 16, 13, 1, -17},
    };
    for (const Case &c : cases) {
        const RunLevel rl = DecodeRunLevel(Window(c.bits), c.available);
        EXPECT_EQ(rl.length, c.length) << c.bits;
        EXPECT_EQ(rl.run, c.run) << c.bits;
        EXPECT_EQ(rl.level, c.level) << c.bits;
    }
}

TEST(RunLevelTest, LookupHasEveryPatternDefined)
{
    int pairs = 0, eob = 0, runEscape = 0, ampEscape = 0;
    for (const VlcEntry &e : kVlcLookup) {
        ASSERT_GE(e.length, 2);
        pairs += e.kind == VlcKind::Pair;
        eob += e.kind == VlcKind::EndOfBlock;
        runEscape += e.kind == VlcKind::RunEscape;
        ampEscape += e.kind == VlcKind::AmplitudeEscape;
    }
    EXPECT_EQ(pairs, 7552);
    EXPECT_EQ(eob, 512);
    EXPECT_EQ(runEscape, 64);
    EXPECT_EQ(ampEscape, 64);
}

TEST(BitPoolTest, QueuesKeepOrderAndReadAsOneStream)
{
    BitPool pool;
    for (int i = 0; i < 5; ++i) {
        pool.Reset(i, BitPool::kCapacityBits);
    }
    pool.PutBits(0, 0xa0000000u, 3); // 101
    pool.PutBits(2, 0xf0000000u, 4); // 1111
    pool.PutBits(4, 0x40000000u, 2); // 01
    int got = 0;
    EXPECT_EQ(pool.PeekBits(0, 8, &got), 0xa0000000u);
    EXPECT_EQ(got, 3);
    EXPECT_EQ(pool.PeekBits(1, 8, &got), 0u);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(pool.PeekBits(-1, 16, &got), 0xbe800000u); // 101 1111 01
    EXPECT_EQ(got, 9);
    EXPECT_EQ(pool.PeekBits(-1, 0, &got), 0u);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(pool.SkipBits(1, 5), 5); // empty queue consumes nothing
    EXPECT_EQ(pool.SkipBits(0, 5), 2); // the excess comes back
    EXPECT_EQ(pool.SkipBits(-1, 5), 0);
    EXPECT_EQ(pool.PeekBits(-1, 16, &got), 0x80000000u); // the last bit of queue 4
    EXPECT_EQ(got, 1);
    EXPECT_EQ(pool.SkipBits(-1, 4), 3);
}

// One DIF block holding given bit strings for the AC areas of its eight DCT blocks.
class SegmentBitsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { CindrellInit(); }

    // Writes the AC bits of block b (after DC, mode and class) into the macroblock at table
    // index of kind 1, channel 0, row 0, segment 0.
    void SetAc(int m, int b, const std::string &bits)
    {
        const uint32_t offset =
            gCindrellTables.difAddressTable[1][DifAddressIndex(0, 0, m, 0)].offset;
        uint8_t *block = frame_.data() + offset + (b < 6 ? 4 + 10 * b : 64 + 8 * (b - 6));
        const int area = b < 6 ? 68 : 52;
        ASSERT_LE(bits.size(), size_t(area));
        for (int i = 0; i < area; ++i) {
            const int pos = 12 + i;
            const bool one = size_t(i) < bits.size() && bits[size_t(i)] == '1';
            block[pos / 8] =
                uint8_t((block[pos / 8] & ~(0x80 >> (pos % 8))) | (one ? 0x80 >> (pos % 8) : 0));
        }
    }
    void Point(int m, int b)
    {
        context_.SetBlockPosition(frame_.data(), DifAddressIndex(0, 0, m, 0), b, 1);
    }

    std::vector<uint8_t> frame_ = std::vector<uint8_t>(480000, 0);
    CindrellContext context_;
};

TEST_F(SegmentBitsTest, EndOfBlockAtTheAreaEndHandsNoBitsOn)
{
    // 16 level-1 codes (48 bits), four level-2 codes (16 bits), end of block at bit 68.
    std::string bits;
    for (int i = 0; i < 16; ++i) {
        bits += "000";
    }
    bits += "0100010001000100"; // four level-2 codes
    bits += "0110";             // ends exactly at bit 68
    SetAc(0, 0, bits);
    context_.ClearSpill();
    Point(0, 0);
    int codes = 0;
    for (;;) {
        const RunLevelResult rl = context_.GetRunLevel(0, 0, 1);
        if (rl.run < 0) {
            EXPECT_EQ(rl.run, -1);
            break;
        }
        ++codes;
    }
    EXPECT_EQ(codes, 20);
    EXPECT_EQ(context_.Pool().Held(0), 0);
}

TEST_F(SegmentBitsTest, LeftoverBitsGoToTheQueueAndPartialCodesCarry)
{
    // Block 0: one code and end of block: 68 - 3 - 4 = 61 bits go to queue 0.
    SetAc(0, 0, "0000110" + std::string(61, '1'));
    context_.ClearSpill();
    Point(0, 0);
    EXPECT_EQ(context_.GetRunLevel(0, 0, 1).run, 0);
    EXPECT_EQ(context_.GetRunLevel(0, 0, 1).run, -1);
    EXPECT_EQ(context_.Pool().Held(0), 61);
    // Block 6: 52 bits of level-1 codes "000" (17 codes = 51 bits), then "0" of an unfinished code.
    SetAc(0, 6, std::string(52, '0'));
    Point(0, 6);
    int codes = 0;
    RunLevelResult rl{};
    while ((rl = context_.GetRunLevel(0, 6, 1)).run >= 0) {
        ++codes;
    }
    EXPECT_EQ(codes, 17);
    EXPECT_EQ(rl.run, -2);
    EXPECT_EQ(context_.CarriedCount(6), 1);
    // Pass 2: the carried "0" and the queue's "1111" make 0111 with sign 1: run 1, level -1.
    rl = context_.GetRunLevel(0, 6, 2);
    EXPECT_EQ(rl.run, 1);
    EXPECT_EQ(rl.level, -1);
    EXPECT_EQ(context_.CarriedCount(6), 0);
    EXPECT_EQ(context_.Pool().Held(0), 61 - 4);
}

TEST_F(SegmentBitsTest, PassThreeTakesBitsOfAnyMacroblockQueueZeroFirst)
{
    context_.ClearSpill();
    context_.Pool().PutBits(1, 0x00000000u, 2); // "00"
    context_.Pool().PutBits(3, 0x80000000u, 1); // "1"
    // Block (0, 2) has no queue bits of its own macroblock: pass 2 gets nothing.
    EXPECT_EQ(context_.GetRunLevel(0, 2, 2).run, -2);
    const RunLevelResult rl = context_.GetRunLevel(0, 2, 3); // "001": run 0, level -1
    EXPECT_EQ(rl.run, 0);
    EXPECT_EQ(rl.level, -1);
    EXPECT_EQ(context_.Pool().Held(1) + context_.Pool().Held(3), 0);
}

std::vector<std::pair<int, int>> SixteenOnes()
{
    std::vector<std::pair<int, int>> v;
    for (int k = 1; k <= 16; ++k) {
        v.push_back({kZigzag[k], 1});
    }
    return v;
}

TEST(FastRunLevelTest, DequantisesWithoutWeightsAndStopsAtTheArea)
{
    struct Case
    {
        const char *name;
        std::string bits; // AC bits after the 4 header bits of the second byte
        int qstep;
        int acBits;
        std::vector<std::pair<int, int>> expected; // natural index, value
    };
    const Case cases[] = {
        {"level 1, step 1",
         "000"
         "0110",
         1,
         68,
         {{1, 0}}},
        {"level -1, step 1",
         "001"
         "0110",
         1,
         68,
         {{1, -1}}},
        {"step 64",
         "1000"
         "0"
         "0110",
         64,
         68,
         {{1, 96}}},
        {"run escape 6 skips 7",
         "1111110000110"
         "1000"
         "0"
         "0110",
         2,
         68,
         {{17, 3}}},
        // 16 level-1 codes fit in 50 bits; the level-3 code that crosses the end is dropped.
        {"code crossing the end", std::string(48, '0') + "10000", 2, 50, SixteenOnes()},
    };
    for (const Case &c : cases) {
        uint8_t block[16] = {};
        for (size_t i = 0; i < c.bits.size(); ++i) {
            if (c.bits[i] == '1') {
                block[(i + 4) / 8] |= uint8_t(0x80 >> ((i + 4) % 8));
            }
        }
        int16_t coef[64] = {};
        DecodeRunLevelFast(block, c.qstep, c.acBits, coef, 4, 1);
        int16_t expected[64] = {};
        for (auto [index, value] : c.expected) {
            expected[index] = int16_t(value);
        }
        EXPECT_EQ(0, std::memcmp(coef, expected, sizeof coef)) << c.name;
    }
}

} // namespace
