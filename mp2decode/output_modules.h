#pragma once

#include "mp2decode/audio_output.h"

// The output modules of the decoder front end. Each keeps its own process-wide state (stream,
// counters, header positions to patch, the format fixed by its first config).

int OutputModuleAiff(AudioControl *control); // AIFF, big-endian; the converter's "temp.aiff"
int OutputModuleWave(AudioControl *control); // RIFF WAVE, little-endian
int OutputModuleSnd(AudioControl *control);  // Sun audio, 8-bit mu-law
int OutputModuleRaw(AudioControl *control);  // headerless PCM
int OutputModuleCdda(AudioControl *control); // CD audio: 44100 Hz stereo 16-bit, whole sectors
// Live playback has no device on this platform: init fails with a reason, so the front end
// reports it under "audio".
int OutputModuleWaveOut(AudioControl *control);

// The 80-bit IEEE extended form of a sample rate, as AIFF stores it.
void PutExtended80(unsigned char out[10], unsigned long rate);
