#pragma once

#include <cstdint>

#include "mpeg2/mpeg_input_files.h"

// The input layer of the MPEG-2 decoder: 2048-byte sectors of file 0, the program- and
// transport-stream demultiplexer that feeds the video payload to the bit reader (taking program-
// stream audio on the way), and the bit reader itself. Runs on the decoder thread only.

// Seeks file 0 to offset (bytes). The buffer is not touched: call InitializeInputBuffer next.
void PositionMpegInput(int64_t offset);
// Empties the buffer and loads the bit reader's two words from the current position.
void InitializeInputBuffer();
// Reads the first 1023 bytes; three 0x47 bytes 188 apart make it a transport stream
// (MpegStreamInfo::streamKind = 2), and then file 0 is positioned at 0.
void DetectTransportStream();

// Bytes of file 0 at the read position. At the end of data the fault code becomes 98 and the
// byte returned means nothing.
uint8_t GetInputByte();
uint32_t ReadInput16();
void SkipInputBytes(int64_t n); // n below 0 counts as 0
void RefillInputBuffer();
void InputReadFailed();

// Moves the input to the next payload of the video stream.
void DemuxNextPacket();
void NextTransportPacket();

// Bit reader slow paths (the fast paths are the inline functions below).
void LoadNextWord();
void AdvanceWord(int n);
uint32_t GetBitsAcrossWord(int n);

// The next n bits (1..32), most significant first, without consuming them.
inline uint32_t ShowBits(int n)
{
    const MpegInputFiles &in = gMpegInputFiles;
    uint64_t window = (uint64_t(in.currentWord) << 32) | in.nextWord;
    return uint32_t((window << (32 - in.bitsLeft)) >> (64 - n));
}

inline uint32_t GetBits(int n)
{
    MpegInputFiles &in = gMpegInputFiles;
    if (n < in.bitsLeft) {
        uint32_t v = uint32_t((uint64_t(in.currentWord) << (64 - in.bitsLeft)) >> (64 - n));
        in.bitsLeft -= n;
        return v;
    }
    return GetBitsAcrossWord(n);
}

inline void FlushBits(int n)
{
    MpegInputFiles &in = gMpegInputFiles;
    if (n < in.bitsLeft) {
        in.bitsLeft -= n;
    } else {
        AdvanceWord(n);
    }
}

// The bit reader's words held in locals for a hot loop, so that they stay in registers; the
// slow path (a word consumed) goes through the shared reader. Write back with Sync() before
// anything else reads the stream.
class LocalBitReader
{
public:
    LocalBitReader() { Load(); }
    // The next 32 bits without consuming them.
    uint32_t Show32() const
    {
        const uint64_t window = (uint64_t(current_) << 32) | next_;
        return uint32_t((window << (32 - left_)) >> 32);
    }
    // n: 1..31.
    void Flush(int n)
    {
        if (n < left_) {
            left_ -= n;
            return;
        }
        Sync();
        AdvanceWord(n);
        Load();
    }
    void Sync() const { gMpegInputFiles.bitsLeft = left_; }

private:
    void Load()
    {
        const MpegInputFiles &in = gMpegInputFiles;
        current_ = in.currentWord;
        next_ = in.nextWord;
        left_ = in.bitsLeft;
    }
    uint32_t current_;
    uint32_t next_;
    int left_;
};

inline uint32_t GetBit()
{
    return GetBits(1);
}

// Byte-aligns and skips bytes until the next 0x000001 prefix; stops early at fault 98.
void NextHeaderStartCode();
inline void NextStartCode()
{
    NextHeaderStartCode();
}

// Progress text and slider for the frame just handed over; the count shown is the pictures
// decoded in this run.
void ShowProcessingProgress();
