#pragma once

#include <cstdint>

#include "platform/media/media_types.h"

// Services of the passes and of the DVCPRO HD decoder that the DV decode set-up, the DV timecode
// and the MXF frame decoder call upward or sideways. The start-up code installs them once, before
// any movie opens; the defaults keep the formats usable alone (tests, tools).
struct DvSetupHooks
{
    // ConversionState::frameRate (frames/s as an integer). Default 0.
    int (*frameRate)();
    // ConversionState::timeScale and ConversionState::sampleDuration of the output video.
    // Defaults 2500 and 100.
    int (*timeScale)();
    int (*sampleDuration)();

    // The set-up's default output sound: desc becomes the sound track's sample description, its
    // bytes per sample frame 4, its sample count 0, and ConversionState::soundMediaRate 48000.
    // Default: nothing.
    void (*useOutputSoundDescription)(SoundDescriptionHandle desc);
    // Called before the set-up disposes desc: the sound track forgets it when it still holds it.
    // Default: nothing.
    void (*forgetOutputSoundDescription)(SoundDescriptionHandle desc);

    // The Cindrell decoder (CindrellInit, CindrellDecodeFrame). Null until the decoder is
    // joined: no set-up of it, and no DVCPRO HD frame is decoded (the output stays as it was).
    void (*cindrellInit)();
    void (*cindrellDecodeFrame)(uint8_t *output, int width, int height, const uint8_t *source,
                                uint8_t *workBuffer, int mode, int yuvOutput, int fastPath,
                                int format, int bitsPerPixel, int decimation, int mirror);
};

extern DvSetupHooks gDvSetupHooks;

int DvDefaultFrameRate();
int DvDefaultTimeScale();
int DvDefaultSampleDuration();
void DvDefaultSoundDescription(SoundDescriptionHandle desc);
