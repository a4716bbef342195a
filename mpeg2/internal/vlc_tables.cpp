#include "mpeg2/internal/vlc_tables.h"

#include <cstring>
#include <mutex>

VlcEntry gMbaTable[1 << kMbaBits];
VlcEntry gMbTypeTable[3][1 << kMbTypeBits];
VlcEntry gCbpTable[1 << kCbpBits];
VlcEntry gMotionTable[1 << kMotionBits];
VlcEntry gDcLumaTable[1 << kDcLumaBits];
VlcEntry gDcChromaTable[1 << kDcChromaBits];
DctTable gDctTableZero;
DctTable gDctTableOne;

const uint8_t kZigzagScan[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

const uint8_t kAlternateScan[64] = {0,  8,  16, 24, 1, 9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49,
                                    41, 33, 26, 18, 3, 11, 4,  12, 19, 27, 34, 42, 50, 58, 35, 43,
                                    51, 59, 20, 28, 5, 13, 6,  14, 21, 29, 36, 44, 52, 60, 37, 45,
                                    53, 61, 22, 30, 7, 15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};

const uint8_t kDefaultIntraMatrix[64] = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

const uint8_t kNonLinearQuantiserScale[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10, 12,
                                              14, 16, 18, 20, 22, 24, 28, 32, 36,  40, 44,
                                              48, 52, 56, 64, 72, 80, 88, 96, 104, 112};

namespace {

struct Code
{
    const char *bits; // '0' and '1'; spaces are ignored
    int value;
};

struct DctCode
{
    const char *bits;
    int run;
    int level;
};

const Code kMba[] = {
    {"1", 1},
    {"011", 2},
    {"010", 3},
    {"0011", 4},
    {"0010", 5},
    {"00011", 6},
    {"00010", 7},
    {"0000111", 8},
    {"0000110", 9},
    {"00001011", 10},
    {"00001010", 11},
    {"00001001", 12},
    {"00001000", 13},
    {"00000111", 14},
    {"00000110", 15},
    {"0000010111", 16},
    {"0000010110", 17},
    {"0000010101", 18},
    {"0000010100", 19},
    {"0000010011", 20},
    {"0000010010", 21},
    {"00000100011", 22},
    {"00000100010", 23},
    {"00000100001", 24},
    {"00000100000", 25},
    {"00000011111", 26},
    {"00000011110", 27},
    {"00000011101", 28},
    {"00000011100", 29},
    {"00000011011", 30},
    {"00000011010", 31},
    {"00000011001", 32},
    {"00000011000", 33},
    {"00000001111", kMbaStuffing},
    {"00000001000", kMbaEscape},
};

const Code kMbTypeI[] = {{"1", kMbIntra}, {"01", kMbIntra | kMbQuant}};
const Code kMbTypeP[] = {
    {"1", kMbForward | kMbPattern},
    {"01", kMbPattern},
    {"001", kMbForward},
    {"00011", kMbIntra},
    {"00010", kMbQuant | kMbForward | kMbPattern},
    {"00001", kMbQuant | kMbPattern},
    {"000001", kMbQuant | kMbIntra},
};
const Code kMbTypeB[] = {
    {"10", kMbForward | kMbBackward},
    {"11", kMbForward | kMbBackward | kMbPattern},
    {"010", kMbBackward},
    {"011", kMbBackward | kMbPattern},
    {"0010", kMbForward},
    {"0011", kMbForward | kMbPattern},
    {"00011", kMbIntra},
    {"00010", kMbQuant | kMbForward | kMbBackward | kMbPattern},
    {"000011", kMbQuant | kMbForward | kMbPattern},
    {"000010", kMbQuant | kMbBackward | kMbPattern},
    {"000001", kMbQuant | kMbIntra},
};

const Code kCbp[] = {
    {"111", 60},       {"1101", 4},       {"1100", 8},       {"1011", 16},      {"1010", 32},
    {"10011", 12},     {"10010", 48},     {"10001", 20},     {"10000", 40},     {"01111", 28},
    {"01110", 44},     {"01101", 52},     {"01100", 56},     {"01011", 1},      {"01010", 61},
    {"01001", 2},      {"01000", 62},     {"001111", 24},    {"001110", 36},    {"001101", 3},
    {"001100", 63},    {"0010111", 5},    {"0010110", 9},    {"0010101", 17},   {"0010100", 33},
    {"0010011", 6},    {"0010010", 10},   {"0010001", 18},   {"0010000", 34},   {"00011111", 7},
    {"00011110", 11},  {"00011101", 19},  {"00011100", 35},  {"00011011", 13},  {"00011010", 49},
    {"00011001", 21},  {"00011000", 41},  {"00010111", 14},  {"00010110", 50},  {"00010101", 22},
    {"00010100", 42},  {"00010011", 15},  {"00010010", 51},  {"00010001", 23},  {"00010000", 43},
    {"00001111", 25},  {"00001110", 37},  {"00001101", 26},  {"00001100", 38},  {"00001011", 29},
    {"00001010", 45},  {"00001001", 53},  {"00001000", 57},  {"00000111", 30},  {"00000110", 46},
    {"00000101", 54},  {"00000100", 58},  {"000000111", 31}, {"000000110", 47}, {"000000101", 55},
    {"000000100", 59}, {"000000011", 27}, {"000000010", 39}, {"000000001", 0},
};

const Code kMotion[] = {
    {"1", 0},           {"01", 1},          {"001", 2},         {"0001", 3},
    {"000011", 4},      {"0000101", 5},     {"0000100", 6},     {"0000011", 7},
    {"000001011", 8},   {"000001010", 9},   {"000001001", 10},  {"0000010001", 11},
    {"0000010000", 12}, {"0000001111", 13}, {"0000001110", 14}, {"0000001101", 15},
    {"0000001100", 16},
};

const Code kDcLuma[] = {
    {"100", 0},     {"00", 1},       {"01", 2},         {"101", 3},
    {"110", 4},     {"1110", 5},     {"11110", 6},      {"111110", 7},
    {"1111110", 8}, {"11111110", 9}, {"111111110", 10}, {"111111111", 11},
};

const Code kDcChroma[] = {
    {"00", 0},       {"01", 1},        {"10", 2},          {"110", 3},
    {"1110", 4},     {"11110", 5},     {"111110", 6},      {"1111110", 7},
    {"11111110", 8}, {"111111110", 9}, {"1111111110", 10}, {"1111111111", 11},
};

// Codes shared by both coefficient tables: those beginning with eight zeros and most of the
// 0000 0001 group.
#define LC_DCT_COMMON_LONG                                                                         \
    {"000000011100", 3, 3}, {"000000010010", 4, 3}, {"000000011110", 6, 2},                        \
        {"000000010101", 7, 2}, {"000000010001", 8, 2}, {"000000011111", 17, 1},                   \
        {"000000011010", 18, 1}, {"000000011001", 19, 1}, {"000000010111", 20, 1},                 \
        {"000000010110", 21, 1}, {"0000000010110", 1, 6}, {"0000000010101", 1, 7},                 \
        {"0000000010100", 2, 5}, {"0000000010011", 3, 4}, {"0000000010010", 5, 3},                 \
        {"0000000010001", 9, 2}, {"0000000010000", 10, 2}, {"0000000011111", 22, 1},               \
        {"0000000011110", 23, 1}, {"0000000011101", 24, 1}, {"0000000011100", 25, 1},              \
        {"0000000011011", 26, 1}, {"00000000011111", 0, 16}, {"00000000011110", 0, 17},            \
        {"00000000011101", 0, 18}, {"00000000011100", 0, 19}, {"00000000011011", 0, 20},           \
        {"00000000011010", 0, 21}, {"00000000011001", 0, 22}, {"00000000011000", 0, 23},           \
        {"00000000010111", 0, 24}, {"00000000010110", 0, 25}, {"00000000010101", 0, 26},           \
        {"00000000010100", 0, 27}, {"00000000010011", 0, 28}, {"00000000010010", 0, 29},           \
        {"00000000010001", 0, 30}, {"00000000010000", 0, 31}, {"000000000011000", 0, 32},          \
        {"000000000010111", 0, 33}, {"000000000010110", 0, 34}, {"000000000010101", 0, 35},        \
        {"000000000010100", 0, 36}, {"000000000010011", 0, 37}, {"000000000010010", 0, 38},        \
        {"000000000010001", 0, 39}, {"000000000010000", 0, 40}, {"000000000011111", 1, 8},         \
        {"000000000011110", 1, 9}, {"000000000011101", 1, 10}, {"000000000011100", 1, 11},         \
        {"000000000011011", 1, 12}, {"000000000011010", 1, 13}, {"000000000011001", 1, 14},        \
        {"0000000000010011", 1, 15}, {"0000000000010010", 1, 16}, {"0000000000010001", 1, 17},     \
        {"0000000000010000", 1, 18}, {"0000000000010100", 6, 3}, {"0000000000011010", 11, 2},      \
        {"0000000000011001", 12, 2}, {"0000000000011000", 13, 2}, {"0000000000010111", 14, 2},     \
        {"0000000000010110", 15, 2}, {"0000000000010101", 16, 2}, {"0000000000011111", 27, 1},     \
        {"0000000000011110", 28, 1}, {"0000000000011101", 29, 1}, {"0000000000011100", 30, 1},     \
    {                                                                                              \
        "0000000000011011", 31, 1                                                                  \
    }

const DctCode kDctZero[] = {
    {"10", kDctEob, 0},
    {"000001", kDctEscape, 0},
    {"11", 0, 1},
    {"011", 1, 1},
    {"0100", 0, 2},
    {"0101", 2, 1},
    {"00101", 0, 3},
    {"00111", 3, 1},
    {"00110", 4, 1},
    {"000110", 1, 2},
    {"000111", 5, 1},
    {"000101", 6, 1},
    {"000100", 7, 1},
    {"0000110", 0, 4},
    {"0000100", 2, 2},
    {"0000111", 8, 1},
    {"0000101", 9, 1},
    {"00100110", 0, 5},
    {"00100001", 0, 6},
    {"00100101", 1, 3},
    {"00100100", 3, 2},
    {"00100111", 10, 1},
    {"00100011", 11, 1},
    {"00100010", 12, 1},
    {"00100000", 13, 1},
    {"0000001010", 0, 7},
    {"0000001100", 1, 4},
    {"0000001011", 2, 3},
    {"0000001111", 4, 2},
    {"0000001001", 5, 2},
    {"0000001110", 14, 1},
    {"0000001101", 15, 1},
    {"0000001000", 16, 1},
    {"000000011101", 0, 8},
    {"000000011000", 0, 9},
    {"000000010011", 0, 10},
    {"000000010000", 0, 11},
    {"000000011011", 1, 5},
    {"000000010100", 2, 4},
    {"0000000011010", 0, 12},
    {"0000000011001", 0, 13},
    {"0000000011000", 0, 14},
    {"0000000010111", 0, 15},
    LC_DCT_COMMON_LONG,
};

const DctCode kDctOne[] = {
    {"0110", kDctEob, 0},  {"000001", kDctEscape, 0}, {"10", 0, 1},         {"010", 1, 1},
    {"110", 0, 2},         {"00101", 2, 1},           {"0111", 0, 3},       {"00111", 3, 1},
    {"000110", 4, 1},      {"00110", 1, 2},           {"000111", 5, 1},     {"0000110", 6, 1},
    {"0000100", 7, 1},     {"11100", 0, 4},           {"0000111", 2, 2},    {"0000101", 8, 1},
    {"1111000", 9, 1},     {"11101", 0, 5},           {"000101", 0, 6},     {"1111001", 1, 3},
    {"00100110", 3, 2},    {"1111010", 10, 1},        {"00100001", 11, 1},  {"00100101", 12, 1},
    {"00100100", 13, 1},   {"000100", 0, 7},          {"00100111", 1, 4},   {"11111100", 2, 3},
    {"11111101", 4, 2},    {"000000100", 5, 2},       {"000000101", 14, 1}, {"000000111", 15, 1},
    {"0000001101", 16, 1}, {"1111011", 0, 8},         {"1111100", 0, 9},    {"00100011", 0, 10},
    {"00100010", 0, 11},   {"00100000", 1, 5},        {"0000001100", 2, 4}, {"11111010", 0, 12},
    {"11111011", 0, 13},   {"11111110", 0, 14},       {"11111111", 0, 15},  LC_DCT_COMMON_LONG,
};

#undef LC_DCT_COMMON_LONG

int CodeLength(const char *bits, uint32_t *pattern)
{
    int n = 0;
    uint32_t p = 0;
    for (const char *c = bits; *c; ++c) {
        if (*c == '0' || *c == '1') {
            p = (p << 1) | uint32_t(*c - '0');
            ++n;
        }
    }
    *pattern = p;
    return n;
}

// Fills every index whose top bits are the code; returns false when an index was taken.
template <typename Entry, typename Make>
bool Fill(Entry *table, int tableBits, const char *bits, Make make)
{
    uint32_t pattern = 0;
    int n = CodeLength(bits, &pattern);
    bool clean = true;
    uint32_t first = pattern << (tableBits - n);
    uint32_t count = 1u << (tableBits - n);
    for (uint32_t i = first; i < first + count; ++i) {
        if (table[i].length != 0) {
            clean = false;
        }
        table[i] = make(n);
    }
    return clean;
}

template <size_t N> bool BuildVlc(VlcEntry *table, int tableBits, const Code (&codes)[N])
{
    std::memset(table, 0, sizeof(VlcEntry) << tableBits);
    bool clean = true;
    for (const Code &c : codes) {
        clean &= Fill(table, tableBits, c.bits, [&](int n) {
            return VlcEntry{int16_t(c.value), uint8_t(n)};
        });
    }
    return clean;
}

template <size_t N> bool BuildDct(DctTable *table, const DctCode (&codes)[N])
{
    std::memset(table, 0, sizeof *table);
    bool clean = true;
    for (const DctCode &c : codes) {
        int zeros = 0;
        for (const char *b = c.bits; *b == '0'; ++b) {
            ++zeros;
        }
        DctEntry *part = table->longCodes;
        int bits = 16;
        if (zeros <= 6) {
            part = table->codes;
            bits = 10;
        }
        uint32_t pattern = 0;
        if (CodeLength(c.bits, &pattern) > bits) {
            clean = false; // the part's lookup would not see the whole code
            continue;
        }
        clean &= Fill(part, bits, c.bits, [&](int n) {
            return DctEntry{uint8_t(c.run), uint8_t(c.level), uint8_t(n)};
        });
    }
    return clean;
}

const char *gConflict = nullptr;

void Build()
{
    auto check = [](bool clean, const char *name) {
        if (!clean && !gConflict) {
            gConflict = name;
        }
    };
    check(BuildVlc(gMbaTable, kMbaBits, kMba), "macroblock_address_increment");
    check(BuildVlc(gMbTypeTable[0], kMbTypeBits, kMbTypeI), "macroblock_type I");
    check(BuildVlc(gMbTypeTable[1], kMbTypeBits, kMbTypeP), "macroblock_type P");
    check(BuildVlc(gMbTypeTable[2], kMbTypeBits, kMbTypeB), "macroblock_type B");
    check(BuildVlc(gCbpTable, kCbpBits, kCbp), "coded_block_pattern");
    check(BuildVlc(gMotionTable, kMotionBits, kMotion), "motion_code");
    check(BuildVlc(gDcLumaTable, kDcLumaBits, kDcLuma), "dct_dc_size_luminance");
    check(BuildVlc(gDcChromaTable, kDcChromaBits, kDcChroma), "dct_dc_size_chrominance");
    check(BuildDct(&gDctTableZero, kDctZero), "DCT coefficients table zero");
    check(BuildDct(&gDctTableOne, kDctOne), "DCT coefficients table one");
}

std::once_flag gBuilt;

} // namespace

void InitVlcTables()
{
    std::call_once(gBuilt, Build);
}

const char *FindVlcTableConflict()
{
    InitVlcTables();
    return gConflict;
}
