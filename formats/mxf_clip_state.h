#pragma once

#include <cstdint>

// The open MXF clip (one at a time, process-wide) and the source time code found in a DV frame.
// MxfOpen runs on the main thread or the playback thread and the frame decoder on the playback
// thread, never at the same time; the time code belongs to the processing thread. Not locked.
constexpr int kMxfMaxAudioFiles = 2;

struct MxfClipState
{
    int parseFd = -1;     // file opened last (-1 before any); the frame decoder reads through it
    uint8_t key[16] = {}; // key read last
    int videoFd = -1;
    int64_t videoEssenceStart = 0;             // file position of the video essence value
    uint64_t videoEssenceLength = 0;           // bytes of the video essence value
    int frameBytes = 0;                        // bytes a compressed frame
    int audioFd[kMxfMaxAudioFiles] = {-1, -1}; // audio files, in the order opened
    int audioFileCount = 0;
    int64_t audioEssenceStart = 0; // of the audio file opened last
    uint64_t audioEssenceLength = 0;
    uint32_t audioBytesPerFrame = 0; // audio essence length / duration of that file

    // Time code of the source's first DV frame: hours, minutes, seconds, frames. The processing
    // flow clears the flags at the start of each movie; ReadDvTimecode sets them.
    uint8_t sourceTimecode[4] = {};
    int sourceDropFrame = 0;
    int sourceTimecodeFound = 0; // a timecode track is added to the output movie
};

extern MxfClipState gMxfClipState;
