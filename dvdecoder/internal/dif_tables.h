#pragma once

#include <cstdint>

// Where each compressed macroblock lies in the frame and where it goes in the picture, per
// frame kind, indexed by (channel c, decoder row r, macroblock m of the segment, segment s).

struct DifAddress
{
    uint16_t sequence; // DIF sequence within the channel's group
    uint16_t block;    // video block 0..134 of the sequence
    uint32_t offset;   // byte offset of the DIF block from the start of the frame
};

struct MacroblockPlace
{
    int32_t x;
    int32_t y; // for the half row at line 1072, x is half the picture column
};

inline constexpr int kDifTableEntries = 16384;
inline constexpr int kDifBlockBytes = 80;
inline constexpr int kDifSequenceBlocks = 150;

// Entry index of the DIF address table.
constexpr int DifAddressIndex(int c, int r, int m, int s)
{
    return ((c * 16 + r) * 8 + m) * 32 + s;
}
// Entry index of the position table.
constexpr int PositionIndex(int c, int m, int r, int s)
{
    return ((c * 8 + m) * 16 + r) * 32 + s;
}

// Byte offset of video block b in DIF sequence q (counted from the frame start).
constexpr uint32_t VideoBlockOffset(int q, int b)
{
    return uint32_t(kDifBlockBytes * (kDifSequenceBlocks * q + 7 + 16 * (b / 15) + (b % 15)));
}

struct CindrellTables
{
    DifAddress difAddressTable[5][kDifTableEntries];    // [kind 1..4]
    MacroblockPlace positionTable[5][kDifTableEntries]; // [kind 1..4]
};

// Read-only after CindrellInit; empty (all zero) before.
extern CindrellTables gCindrellTables;

void MacroblockPosition(int channel, int m, int r, int s, int *x, int *y, int format);
void BuildDifAddressTables();
void BuildPositionTables();
