#pragma once

#include <cstdint>

// Stereo downmix and output level of decoded AC-3 blocks.

// Output level, a factor on every decoded sample; set to 1.0 whenever an MPEG-2 file is opened.
extern double gAc3OutputLevel;

// Centre and surround weights by the two-bit cmixlev and surmixlev codes, already multiplied
// by the main weight 0.4143, so that a full 3/2 mix stays within full scale.
inline constexpr double kAc3MainWeight = 0.4143;
inline constexpr double kAc3CentreWeight[4] = {0.2928, 0.2468, 0.2071, 0.2468};
inline constexpr double kAc3SurroundWeight[4] = {0.2928, 0.2071, 0.0, 0.2071};

constexpr int kAc3BlockSamples = 256;
constexpr int kAc3MaxChannels = 6; // five full-bandwidth channels and the LFE channel

// What the mix needs of a block's bit stream information.
struct Ac3MixParams
{
    int acmod = 2;   // audio coding mode 0..7
    int cmixlev = 0; // centre mix level code
    int surmixlev = 0;
    int lfeon = 0;
    int dynrng = 0; // dynamic range word of the block (parsed, gain 1.0 for every value)
};

// Dynamic-range gain by dynrng word; every entry is 1.0, so dynrng changes nothing.
double Ac3DynamicRangeGain(int dynrng);

// Mixes 256 samples of the channels (A/52 order of the mode, LFE at index `channels of the
// mode`, full scale 1.0) into 256 stereo frames, left then right, converted by ClipToInt16.
void Ac3Downmix(const Ac3MixParams &mix, const double (*coefficients)[kAc3BlockSamples],
                int16_t *blockOutput);
