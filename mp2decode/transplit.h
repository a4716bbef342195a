#pragma once

#include <cstdint>

// The transport-stream audio extractor: copies the MPEG audio elementary stream of a transport
// stream (the payloads of its PES packets, without their headers) into a work file and measures
// the offset of the audio to the video. A command-line tool called as a function; its state is
// process-wide, one run at a time.

constexpr int kTransplitBufferSize = 2048;
constexpr int kTransplitPidCount = 4096; // PIDs 0..4095 are counted, the rest not
constexpr int kTransplitAllPids = 8192;

// ---- Owned by the thread that runs TransplitMain (the processing thread) ----
struct TransplitState
{
    int input = -1;         // descriptor of the source, read only
    int output = -1;        // descriptor of the work file
    bool endOfFile = false; // set by any short read
    bool writeFailed = false;
    uint8_t buffer[kTransplitBufferSize] = {}; // read-ahead of the source
    int bufferFill = 0;
    int bufferPos = 0;
    uint32_t videoPts = 0; // low 32 bits of the 33-bit PTS, 90 kHz
    uint32_t audioPts = 0; // local to one demultiplexing run
    int32_t packetCounts[kTransplitPidCount] = {};
    // A PES packet of MPEG audio (stream id 0xC0-0xDF) or of video (0xE0-0xEF) starts on this
    // PID; set by the probe.
    bool carriesAudio[kTransplitPidCount] = {};
    bool carriesVideo[kTransplitPidCount] = {};
    // Program tables read by the probe: the PIDs the program association table names for program
    // maps, and the stream type a program map gives each PID (0: not listed).
    bool isProgramMap[kTransplitAllPids] = {};
    uint8_t streamType[kTransplitPidCount] = {};
    int videoPid = 0;
    int audioPid = 0;
    int32_t result = 0; // video PTS minus audio PTS, milliseconds
};

extern TransplitState gTransplitState;

// argv[1] the source, argv[2] the work file ("temp.mp2" when argc is below 3). Returns the
// offset in milliseconds (a true -1 as 0), or -1 when the source is not a transport stream, has
// no audio PID, or the work file could not be written.
int TransplitMain(int argc, char **argv);

// One byte of the source; a short read sets the end-of-file flag and gives 0.
uint8_t TsReadByte();
// Two bytes, the first the high byte.
uint16_t TsReadWord16();
// The audio PID, or 0 when the source is not a transport stream or has no audio PID. Counts the
// first 4096 packets, and goes on while no MPEG audio has started (at most 2^18 packets). The video
// PID has the most packets of the PIDs that carry video (of all PIDs when none does); the audio
// PID has the most packets of the others that carry MPEG audio, leaving out those a program map
// lists as another kind of stream (AAC also comes in PES packets of stream ids 0xC0-0xDF).
int TsProbePids();
// Copies the audio elementary stream to the output and sets the result.
void TsDemuxAudio(int audioPid);
