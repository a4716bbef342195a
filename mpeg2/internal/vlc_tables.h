#pragma once

#include <cstdint>

// Code tables of MPEG-2 video (ISO/IEC 13818-2 Annex B), as direct lookup tables indexed by the
// next bits of the stream. An entry of length 0 is no valid code.

struct VlcEntry
{
    int16_t value;
    uint8_t length; // bits of the code, without a sign bit that follows
};

// Macroblock address increment: 11-bit lookup; values 1..33, or these two.
constexpr int kMbaStuffing = 34;
constexpr int kMbaEscape = 35;
constexpr int kMbaBits = 11;
extern VlcEntry gMbaTable[1 << kMbaBits];

// Macroblock type flags.
constexpr int kMbQuant = 1;
constexpr int kMbForward = 2;
constexpr int kMbBackward = 4;
constexpr int kMbPattern = 8;
constexpr int kMbIntra = 16;
constexpr int kMbTypeBits = 6;
extern VlcEntry gMbTypeTable[3][1 << kMbTypeBits]; // I, P, B pictures

constexpr int kCbpBits = 9;
extern VlcEntry gCbpTable[1 << kCbpBits];

// Motion code magnitude (a sign bit follows every non-zero code).
constexpr int kMotionBits = 10;
extern VlcEntry gMotionTable[1 << kMotionBits];

constexpr int kDcLumaBits = 9;
constexpr int kDcChromaBits = 10;
extern VlcEntry gDcLumaTable[1 << kDcLumaBits];
extern VlcEntry gDcChromaTable[1 << kDcChromaBits];

// DCT coefficients: run 0..31 with level, or these runs. Looked up by the next 16 bits in two
// parts, so that the tables stay small: codes with at most six leading zeros are at most 10 bits
// long, the rest (rare: long runs and large levels) at most 16.
struct DctEntry
{
    uint8_t run;
    uint8_t level;
    uint8_t length; // without the sign bit
};
constexpr int kDctEob = 64;
constexpr int kDctEscape = 65;
struct DctTable
{
    DctEntry codes[1024];    // next 16 bits >= 0x0200: by the top 10 bits
    DctEntry longCodes[512]; // below 0x0200: by all 16 bits
};
extern DctTable gDctTableZero; // B-14
extern DctTable gDctTableOne;  // B-15

inline const DctEntry &LookUpDct(const DctTable &t, uint32_t next16)
{
    if (next16 >= 0x0200) {
        return t.codes[next16 >> 6];
    }
    return t.longCodes[next16];
}

// Scan orders (scan position to natural position) and the default intra matrix (natural order).
extern const uint8_t kZigzagScan[64];
extern const uint8_t kAlternateScan[64];
extern const uint8_t kDefaultIntraMatrix[64];
extern const uint8_t kNonLinearQuantiserScale[32];

// Builds the lookup tables once; safe to call again.
void InitVlcTables();

// For tests: every table's codes are prefix-free (no code is the start of another). Returns the
// name of the first table that breaks it, or null.
const char *FindVlcTableConflict();
