#pragma once

#include <cstddef>
#include <cstdint>

// The processing choices every pass reads. The user edits them in the three option dialogs; the
// options file stores the 33 integers by position, so the field order is part of that format.
// Written on the GUI thread only while no processing runs; the workers only read.
struct ConversionOptions
{
    int32_t cropLetterbox = 0;           // 0  crop 4:3 to 16:9 letterbox
    int32_t unsqueezeLetterbox = 0;      // 1  unsqueeze anamorphic 16:9 to letterbox
    int32_t deinterlace = 0;             // 2  deinterlace where motion is present
    int32_t showMotionMask = 0;          // 3
    int32_t showLineMask = 0;            // 4
    int32_t lineDetectorOn = 0;          // 5
    int32_t motionSensitivity = 50;      // 6  0..1000
    int32_t upperFieldFirst = 0;         // 7  output upper field first
    int32_t output486Lines = 0;          // 8
    int32_t reservedValue = 3;           // 9  stored and restored only
    int32_t redBoost = 0;                // 10
    int32_t redBoostAmount = 7;          // 11 1..100
    int32_t addGrain = 0;                // 12
    int32_t grainAmount = 4;             // 13 1..100
    int32_t pulldown2332To25P = 0;       // 14
    int32_t use23976Timing = 1;          // 15
    int32_t add32Pulldown = 0;           // 16
    int32_t add2332Pulldown = 0;         // 17
    int32_t flickerRemoval = 0;          // 18 0..4
    int32_t blurLinesOnMotion = 0;       // 19
    int32_t delayAudioFrames = 0;        // 20 frames, any value
    int32_t userSelectsCompression = 0;  // 21
    int32_t convert60iTo25P = 0;         // 22
    int32_t pulldown32To25P = 0;         // 23
    int32_t filmMotion24P = 0;           // 24
    int32_t useYuvProcessing = 0;        // 25
    int32_t userSelectsOutputFolder = 0; // 26
    int32_t alwaysMakeQuickTime = 0;     // 27
    int32_t blurAmount = 1;              // 28 1..3
    int32_t twoPassPulldownRemoval = 0;  // 29
    int32_t resizeOn = 0;                // 30 processing sets it to 0 before every movie
    int32_t resizeWidth = 1440;          // 31
    int32_t resizeHeight = 1080;         // 32
    char outputFolder[256] = {};         // at most 255 characters
};

extern ConversionOptions gConversionOptions;

constexpr int kConversionOptionCount = 33;

// One row per integer field, in file order.
struct ConversionOptionField
{
    const char *name;
    int32_t ConversionOptions::*field;
    int32_t defaultValue;
    int32_t minValue; // the range the dialogs and the file reader clamp to
    int32_t maxValue;
};

extern const ConversionOptionField kConversionOptionFields[kConversionOptionCount];

// Clamps one value to its field's range (index in file order).
int32_t ClampConversionOption(int index, int32_t value);
// Restores every field, the folder included, to its default.
void ResetConversionOptions(ConversionOptions &options);
