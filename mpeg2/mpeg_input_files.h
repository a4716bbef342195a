#pragma once

#include <cstdint>

#include "platform/sys/file.h"

constexpr int kMpegSectorBytes = 2048;
// Zero bytes after the end of the data, so that the bit reader's look-ahead lets the last picture
// finish before the end becomes a fault.
constexpr int kMpegEndGuardBytes = 64;
constexpr int kMpegFileNameBytes = 260;

// The MPEG-2 input read as one stream. The list always holds one file; a handle of kNoFile means
// no MPEG-2 file is open. Owned by the decoder thread while it runs, by the starter otherwise.
struct MpegInputFiles
{
    char fileName[kMpegFileNameBytes] = {};
    int fileHandle = lc::kNoFile;
    int fileCount = 0;        // 1 once a file is open
    int64_t fileLength = 0;   // bytes
    int64_t totalLength = 0;  // sum of the lengths (one file)
    int currentFile = 0;      // always 0
    int64_t filePosition = 0; // file offset of the byte after the buffer's last sector

    uint8_t readBuffer[kMpegSectorBytes] = {};
    int bytesRead = 0; // count returned by the last read
    // Offsets into readBuffer. readPos may lie past the buffer after a skip: the next byte read
    // refills until it is inside. packetEnd is the end of the current PES or transport payload;
    // both move back by 2048 with every refill.
    int64_t readPos = kMpegSectorBytes;
    int64_t packetEnd = kMpegSectorBytes;

    // The end of the data: the last sector was read (its missing bytes as zeros) and then
    // nothing more; the bit reader then gets zero bytes, at most kMpegEndGuardBytes of them,
    // before the end of data becomes fault 98. Reset by every positioning.
    bool lastSectorRead = false;
    bool dataEnded = false;
    int guardBytesGiven = 0;

    uint16_t videoPid = 0x810;    // transport-stream PIDs
    uint16_t audioPid = 0x814;    // recorded only; transport-stream audio is taken elsewhere
    uint32_t elementaryBytes = 0; // video bytes consumed in this run

    // Bit reader: the current word with its count of unread bits, and the next word.
    uint32_t currentWord = 0;
    int bitsLeft = 0; // 1..32
    uint32_t nextWord = 0;
};

extern MpegInputFiles gMpegInputFiles;
