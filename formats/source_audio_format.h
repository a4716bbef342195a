#pragma once

// The sound format of the source, published by the AVI reader (from the audio stream it hands
// on) and by the sound set-up; written into the output AVI's audio header. 0 = no sound.
struct SourceAudioFormat
{
    int channels = 0;
    int samplesPerSecond = 0; // Hz
    int bitsPerSample = 0;
};

extern SourceAudioFormat gSourceAudioFormat;
