#pragma once

#include <array>
#include <cstdint>

// The run/amplitude code of DV AC coefficients, decided with one lookup on 13 bits.

enum class VlcKind : uint8_t {
    Pair,            // run, amplitude (amplitude 0 for the pure-run codes), sign when amplitude > 0
    EndOfBlock,      // 0110
    RunEscape,       // 1111110 and 6 bits of run
    AmplitudeEscape, // 1111111, 8 bits of amplitude, sign
};

struct VlcCode
{
    uint32_t bits; // the code without its sign bit, right-aligned
    int length;    // bits in `bits`
    int run;       // -1 for end of block and the run escape
    int amplitude; // -1 for the amplitude escape
    int signBit;   // 1 when a sign bit follows
    VlcKind kind;
};

inline constexpr VlcCode kDvAcCodes[] = {
#include "dvdecoder/internal/dv_ac_vlc.inc"
};

// One entry per 13-bit pattern: the code that begins it.
struct VlcEntry
{
    uint8_t length; // with the sign bit; 13 for the run escape, 16 for the amplitude escape
    int8_t run;     // -1 for end of block
    int8_t level; // signed amplitude (at most 22 in the table); escapes take theirs from the window
    VlcKind kind;
};
// Four bytes an entry: the table (32 KB) stays in the first-level cache.
static_assert(sizeof(VlcEntry) == 4);

constexpr std::array<VlcEntry, 8192> BuildVlcLookup()
{
    std::array<VlcEntry, 8192> table{};
    for (const VlcCode &code : kDvAcCodes) {
        int total = code.length + (code.kind == VlcKind::Pair ? code.signBit : 0);
        for (int sign = 0; sign <= (code.kind == VlcKind::Pair ? code.signBit : 0); ++sign) {
            uint32_t prefix = code.kind == VlcKind::Pair && code.signBit
                                  ? (code.bits << 1) | uint32_t(sign)
                                  : code.bits;
            int prefixBits = code.kind == VlcKind::Pair ? total : code.length;
            int spread = 13 - prefixBits;
            for (uint32_t low = 0; low < (1u << spread); ++low) {
                VlcEntry &e = table[(prefix << spread) | low];
                e.kind = code.kind;
                e.run = int8_t(code.run);
                if (code.kind == VlcKind::Pair) {
                    e.length = uint8_t(total);
                    e.level = int8_t(sign ? -code.amplitude : code.amplitude);
                } else if (code.kind == VlcKind::EndOfBlock) {
                    e.length = 4;
                } else if (code.kind == VlcKind::RunEscape) {
                    e.length = 13;
                } else {
                    e.length = 16;
                    e.run = 0;
                }
            }
        }
    }
    return table;
}

inline constexpr std::array<VlcEntry, 8192> kVlcLookup = BuildVlcLookup();

struct RunLevel
{
    int length; // bits the code takes
    int run;    // -1 end of block, -2 the code does not fit in the bits available
    int level;
};

// Decodes the code at the top of a 16-bit window of which `available` bits are real.
inline RunLevel DecodeRunLevel(uint32_t window, int available)
{
    const VlcEntry &e = kVlcLookup[(window >> 3) & 0x1fff];
    if (e.kind == VlcKind::EndOfBlock) {
        return {4, -1, 0};
    }
    if (e.length > available) {
        return {e.length, -2, 0};
    }
    switch (e.kind) {
    case VlcKind::RunEscape:
        return {13, int((window >> 3) & 63), 0};
    case VlcKind::AmplitudeEscape: {
        int amplitude = int((window >> 1) & 255);
        return {16, 0, (window & 1) ? -amplitude : amplitude};
    }
    default:
        return {e.length, e.run, e.level};
    }
}
