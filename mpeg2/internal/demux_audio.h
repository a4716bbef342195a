#pragma once

#include <cstdint>

// Demultiplexer state shared by the packet loop and the audio handling (decoder thread only).
struct DemuxState
{
    uint32_t lastStartCode = 0;
    uint32_t audioPts = 0; // low 32 bits, 90 kHz
    uint32_t videoPts = 0;
    int privateStream2Count = 0; // since the last pack header; nothing uses the packets
    // The AC-3 decoder was set up in this run: its track states cleared (a frame half collected
    // when the last run was stopped must not spoil this one's first) and its dither seeded, so
    // that every run of a stream gives the same sound. Its tables are built once per process.
    bool ac3Initialized = false;
};

extern DemuxState gDemuxState;

// The 33-bit time stamp of a PES header (5 bytes), low 32 bits.
uint32_t ReadPts();
// Read position to the end of the current packet (never backwards).
void SkipToPacketEnd();
// Private stream 1 after its length: header, sub-stream id, AC-3 or LPCM handling.
void DemuxPrivateStream1();
// Leading silence (positive) or bytes to drop (negative) from the audio and video time stamps:
// whole milliseconds at 48000 Hz 16-bit stereo, bounded to a minute either way.
int64_t AudioLeadBytes(uint32_t audioPts, uint32_t videoPts);
