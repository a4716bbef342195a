#include "engine/conversion_options.h"

#include <climits>

ConversionOptions gConversionOptions;

namespace {
constexpr int32_t kAny = INT32_MIN;
constexpr int32_t kAll = INT32_MAX;
} // namespace

#define LC_FIELD(name, def, lo, hi)                                                                \
    {                                                                                              \
#name, &ConversionOptions::name, def, lo, hi                                               \
    }

// Check boxes and radios are 0/1; the amounts carry the dialogs' ranges.
const ConversionOptionField kConversionOptionFields[kConversionOptionCount] = {
    LC_FIELD(cropLetterbox, 0, 0, 1),
    LC_FIELD(unsqueezeLetterbox, 0, 0, 1),
    LC_FIELD(deinterlace, 0, 0, 1),
    LC_FIELD(showMotionMask, 0, 0, 1),
    LC_FIELD(showLineMask, 0, 0, 1),
    LC_FIELD(lineDetectorOn, 0, 0, 1),
    LC_FIELD(motionSensitivity, 50, 0, 1000),
    LC_FIELD(upperFieldFirst, 0, 0, 1),
    LC_FIELD(output486Lines, 0, 0, 1),
    LC_FIELD(reservedValue, 3, kAny, kAll),
    LC_FIELD(redBoost, 0, 0, 1),
    LC_FIELD(redBoostAmount, 7, 1, 100),
    LC_FIELD(addGrain, 0, 0, 1),
    LC_FIELD(grainAmount, 4, 1, 100),
    LC_FIELD(pulldown2332To25P, 0, 0, 1),
    LC_FIELD(use23976Timing, 1, 0, 1),
    LC_FIELD(add32Pulldown, 0, 0, 1),
    LC_FIELD(add2332Pulldown, 0, 0, 1),
    LC_FIELD(flickerRemoval, 0, 0, 4),
    LC_FIELD(blurLinesOnMotion, 0, 0, 1),
    LC_FIELD(delayAudioFrames, 0, kAny, kAll),
    LC_FIELD(userSelectsCompression, 0, 0, 1),
    LC_FIELD(convert60iTo25P, 0, 0, 1),
    LC_FIELD(pulldown32To25P, 0, 0, 1),
    LC_FIELD(filmMotion24P, 0, 0, 1),
    LC_FIELD(useYuvProcessing, 0, 0, 1),
    LC_FIELD(userSelectsOutputFolder, 0, 0, 1),
    LC_FIELD(alwaysMakeQuickTime, 0, 0, 1),
    LC_FIELD(blurAmount, 1, 1, 3),
    LC_FIELD(twoPassPulldownRemoval, 0, 0, 1),
    LC_FIELD(resizeOn, 0, 0, 1),
    LC_FIELD(resizeWidth, 1440, kAny, kAll),
    LC_FIELD(resizeHeight, 1080, kAny, kAll),
};

#undef LC_FIELD

int32_t ClampConversionOption(int index, int32_t value)
{
    if (index < 0 || index >= kConversionOptionCount) {
        return value;
    }
    const ConversionOptionField &f = kConversionOptionFields[index];
    if (value < f.minValue) {
        return f.minValue;
    }
    if (value > f.maxValue) {
        return f.maxValue;
    }
    return value;
}

void ResetConversionOptions(ConversionOptions &options)
{
    options = ConversionOptions{};
}
