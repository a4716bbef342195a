#include "dvdecoder/internal/dif_tables.h"

#include <initializer_list>

CindrellTables gCindrellTables;

void MacroblockPosition(int channel, int m, int r, int s, int *x, int *y, int format)
{
    // Super-block row i and column k of macroblock m.
    const int n = format == 3 ? 11 : 10;
    static constexpr int kRowShift[5] = {2, 6, 8, 0, 4};
    static constexpr int kColumn[5] = {2, 1, 3, 0, 4};
    const int i = (r + kRowShift[m]) % n;
    const int k = kColumn[m];
    const bool oddChannel = (channel & 1) != 0;

    if (format == 1) {
        // 80 macroblock columns in rows 4..63; the surplus ten columns fill rows 0-3, 64-66
        // and the half row at line 1072.
        const int a = 3 * i + s / 9;
        const int bigX = 18 * k + s % 9 + (oddChannel ? 9 : 0);
        const int bigY = channel < 2 ? 2 * a : 2 * a + 1;
        if (bigX < 80) {
            *x = 16 * bigX;
            *y = 16 * (bigY + 4);
        } else if (bigY < 32) {
            *x = 16 * (bigX - 80 + 10 * (bigY / 4));
            *y = 16 * (bigY % 4);
        } else if (bigY < 56) {
            *x = 16 * (bigX - 80 + 10 * ((bigY - 32) / 3));
            *y = 16 * (64 + (bigY - 32) % 3);
        } else {
            *x = 16 * (bigX - 80 + 10 * (bigY - 56));
            *y = 1072;
        }
        return;
    }
    if (format == 3) {
        if (r == 11) {
            // The 12th sequence: macroblock row 0 and the half row at line 1072.
            const int col = 27 * m + s;
            *x = col < 90 ? 16 * col : 16 * (col - 90);
            *y = col < 90 ? 0 : 1072;
            return;
        }
        const int a = 3 * i + s / 9;
        const int bigX = 18 * k + s % 9 + (oddChannel ? 9 : 0);
        const int bigY = channel < 2 ? 2 * a + 1 : 2 * a + 2;
        *x = 16 * bigX;
        *y = 16 * bigY;
        return;
    }
    // 720 lines: 60 columns, 45 rows.
    int bigY;
    int col;
    if (i % 2 == 0) {
        bigY = 9 * (i / 2) + s / 6;
        col = 6 * k + s % 6;
    } else {
        bigY = 9 * (i / 2) + (s + 3) / 6 + 4;
        col = 6 * k + (s + 3) % 6;
    }
    const int bigX = 12 * (col / 6) + col % 6 + (oddChannel ? 6 : 0);
    *x = 16 * bigX;
    *y = 16 * bigY;
}

void BuildDifAddressTables()
{
    for (int kind = 1; kind <= 4; ++kind) {
        for (DifAddress &e : gCindrellTables.difAddressTable[kind]) {
            e = {};
        }
    }
    // Kinds 1, 2 and 4: ten rows per channel from two halves of 135 video blocks.
    for (int c = 0; c < 4; ++c) {
        for (int t = 0; t < 2; ++t) {
            for (int s = 0; s < 27; ++s) {
                for (int j = 0; j < 5; ++j) {
                    const int r = (4 * c + t + 2 * j) % 10;
                    const int g = 135 * t + 5 * s + j;
                    const int q = g / 27;
                    const int v = g % 27;
                    for (int m = 0; m < 5; ++m) {
                        const int b = 5 * v + m;
                        const int index = DifAddressIndex(c, r, m, s);
                        const int firstSequence[5] = {0, 10 * c, 10 * (c % 2), 0, 12 * (c % 2)};
                        for (int kind : {1, 2, 4}) {
                            gCindrellTables.difAddressTable[kind][index] = {
                                uint16_t(q), uint16_t(b),
                                VideoBlockOffset(firstSequence[kind] + q, b)};
                        }
                    }
                }
            }
        }
    }
    // Kind 3: eleven rows per channel, and the 12th sequence of channel 0 as row 11.
    for (int c = 0; c < 4; ++c) {
        for (int s = 0; s < 27; ++s) {
            for (int j = 0; j < 11; ++j) {
                const int r = (4 * c + j) % 11;
                const int g = 11 * s + j;
                const int q = g / 27;
                const int v = g % 27;
                for (int m = 0; m < 5; ++m) {
                    const int b = 5 * v + m;
                    gCindrellTables.difAddressTable[3][DifAddressIndex(c, r, m, s)] = {
                        uint16_t(q), uint16_t(b), VideoBlockOffset(12 * c + q, b)};
                }
            }
        }
    }
    for (int s = 0; s < 27; ++s) {
        for (int m = 0; m < 5; ++m) {
            const int b = 5 * s + m;
            gCindrellTables.difAddressTable[3][DifAddressIndex(0, 11, m, s)] = {
                11, uint16_t(b), VideoBlockOffset(11, b)};
        }
    }
}

void BuildPositionTables()
{
    for (int kind = 1; kind <= 4; ++kind) {
        const int rows = kind == 3 ? 11 : 10;
        for (MacroblockPlace &e : gCindrellTables.positionTable[kind]) {
            e = {};
        }
        for (int c = 0; c < 4; ++c) {
            for (int m = 0; m < 5; ++m) {
                for (int r = 0; r < rows; ++r) {
                    for (int s = 0; s < 27; ++s) {
                        MacroblockPlace &e =
                            gCindrellTables.positionTable[kind][PositionIndex(c, m, r, s)];
                        MacroblockPosition(c, m, r, s, &e.x, &e.y, kind);
                    }
                }
            }
        }
        if (kind == 3) {
            for (int m = 0; m < 5; ++m) {
                for (int s = 0; s < 27; ++s) {
                    MacroblockPlace &e =
                        gCindrellTables.positionTable[3][PositionIndex(0, m, 11, s)];
                    MacroblockPosition(0, m, 11, s, &e.x, &e.y, 3);
                }
            }
        }
    }
}
