// Block addresses and macroblock places of the four frame kinds.
#include <set>
#include <utility>

#include <gtest/gtest.h>

#include "dvdecoder/cindrell.h"
#include "dvdecoder/internal/dif_tables.h"

namespace {

class DifTablesTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { CindrellInit(); }
};

TEST_F(DifTablesTest, PlacesOfSingleMacroblocks)
{
    struct Case
    {
        int format, c, m, r, s, x, y;
    };
    const Case cases[] = {
        {1, 0, 3, 0, 0, 0, 64},     // first macroblock of the first segment
        {3, 0, 3, 11, 9, 0, 1072},  // 12th sequence, i = 90: the half row
        {3, 0, 0, 11, 0, 0, 0},     // 12th sequence, i = 0: macroblock row 0
        {2, 1, 3, 1, 26, 176, 128}, // odd super-block row, odd channel
        {4, 1, 3, 1, 26, 176, 128},
    };
    for (const Case &c : cases) {
        const MacroblockPlace p =
            gCindrellTables.positionTable[c.format][PositionIndex(c.c, c.m, c.r, c.s)];
        EXPECT_EQ(p.x, c.x) << c.format << " " << c.m << " " << c.r << " " << c.s;
        EXPECT_EQ(p.y, c.y) << c.format << " " << c.m << " " << c.r << " " << c.s;
    }
    // Format 1, X = 85, Y = 5 (a surplus column): channel 3, macroblock 4 (k = 4).
    int x = 0;
    int y = 0;
    bool found = false;
    for (int r = 0; r < 10 && !found; ++r) {
        for (int s = 0; s < 27 && !found; ++s) {
            const int i = (r + 4) % 10;
            const int a = 3 * i + s / 9;
            if (18 * 4 + s % 9 + 9 == 85 && 2 * a + 1 == 5) {
                MacroblockPosition(3, 4, r, s, &x, &y, 1);
                EXPECT_EQ(x, 240);
                EXPECT_EQ(y, 16);
                found = true;
            }
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(DifTablesTest, AddressOfTheFirstMacroblock)
{
    const DifAddress a = gCindrellTables.difAddressTable[1][DifAddressIndex(0, 0, 3, 0)];
    EXPECT_EQ(a.sequence, 0);
    EXPECT_EQ(a.block, 3);
    EXPECT_EQ(a.offset, 800u);
}

// Every kind covers its picture once, and every segment is five video blocks of one sequence.
TEST_F(DifTablesTest, TablesCoverEachPictureOnce)
{
    struct Case
    {
        int format;
        std::set<int> channels;
        int rows;
        size_t places;
    };
    const Case cases[] = {
        {1, {0, 1, 2, 3}, 10, 5400}, {3, {0, 1, 2, 3}, 11, 6075}, {2, {0, 1}, 10, 2700},
        {2, {2, 3}, 10, 2700},       {4, {0, 1}, 10, 2700},       {4, {2, 3}, 10, 2700},
    };
    for (const Case &k : cases) {
        const int width = CindrellCodedWidth(k.format);
        const int lines = CindrellLines(k.format);
        std::set<std::pair<int, int>> places;
        std::set<uint32_t> blocks;
        auto visit = [&](int c, int r, int m, int s) {
            const MacroblockPlace p =
                gCindrellTables.positionTable[k.format][PositionIndex(c, m, r, s)];
            const bool half = p.y == 1072;
            const int x = half ? 2 * p.x : p.x;
            EXPECT_TRUE(x >= 0 && x + (half ? 32 : 16) <= width && p.y >= 0
                        && p.y + (half ? 8 : 16) <= lines)
                << k.format << ": " << x << "," << p.y;
            places.insert({x, p.y});
            const DifAddress a =
                gCindrellTables.difAddressTable[k.format][DifAddressIndex(c, r, m, s)];
            EXPECT_LT(a.offset + 80, CindrellFrameBytes(k.format) + 1);
            blocks.insert(a.offset);
            if (m > 0) {
                const DifAddress first =
                    gCindrellTables.difAddressTable[k.format][DifAddressIndex(c, r, 0, s)];
                EXPECT_EQ(a.block, first.block + m);
                EXPECT_EQ(a.sequence, first.sequence);
            }
        };
        for (int c : k.channels) {
            for (int r = 0; r < k.rows; ++r) {
                for (int m = 0; m < 5; ++m) {
                    for (int s = 0; s < 27; ++s) {
                        visit(c, r, m, s);
                    }
                }
            }
        }
        if (k.format == 3) {
            for (int m = 0; m < 5; ++m) {
                for (int s = 0; s < 27; ++s) {
                    visit(0, 11, m, s);
                }
            }
        }
        EXPECT_EQ(places.size(), k.places) << k.format;
        EXPECT_EQ(blocks.size(), k.places) << k.format;
    }
}

TEST_F(DifTablesTest, SeventwentyFiftyReadsTenOfTwelveSequencesPerChannel)
{
    std::set<int> sequences;
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 10; ++r) {
            for (int m = 0; m < 5; ++m) {
                for (int s = 0; s < 27; ++s) {
                    sequences.insert(
                        int(gCindrellTables.difAddressTable[4][DifAddressIndex(c, r, m, s)].offset
                            / 12000));
                }
            }
        }
    }
    std::set<int> expected;
    for (int q = 0; q < 10; ++q) {
        expected.insert(q);
        expected.insert(12 + q);
    }
    EXPECT_EQ(sequences, expected);
}

} // namespace
