#include "mpeg2/mpeg_input.h"

#include <cstring>

#include "mpeg2/internal/demux_audio.h"
#include "mpeg2/mpeg2_hooks.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_stream_info.h"

MpegInputFiles gMpegInputFiles;

namespace {

constexpr int kDetectBytes = 1023;
constexpr int kDetectOffsets = 460; // offsets 0..459 are tried
constexpr int kTsPacketBytes = 188;

bool InputEnded()
{
    return gMpegDecoderControl.faultCode.load(std::memory_order_relaxed) >= kMpegFaultEndOfData;
}

// No more bytes of the file: the demultiplexer's searches stop here.
bool SourceExhausted()
{
    return gMpegInputFiles.dataEnded || InputEnded();
}

bool IsSystemStream()
{
    return gMpegStreamInfo.streamKind.load(std::memory_order_relaxed) != 0;
}

// After the end of the data the bit reader gets the guard's zero bytes, then fault 98.
uint8_t GuardByte()
{
    MpegInputFiles &in = gMpegInputFiles;
    if (in.guardBytesGiven < kMpegEndGuardBytes) {
        ++in.guardBytesGiven;
    } else if (!InputEnded()) {
        InputReadFailed();
    }
    return 0;
}

// The next byte of the video payload: for program and transport streams the demultiplexer moves
// to the next video packet whenever the current payload is used up.
uint8_t NextPayloadByte()
{
    MpegInputFiles &in = gMpegInputFiles;
    if (IsSystemStream()) {
        while (in.readPos >= in.packetEnd) {
            if (SourceExhausted()) {
                return GuardByte();
            }
            DemuxNextPacket();
        }
    }
    uint8_t b = GetInputByte();
    return in.dataEnded ? GuardByte() : b;
}

// The PES header that begins a transport stream's video packet, skipped by its own length; what
// of it lies in the following packets is skipped there. Bytes that turn out not to start a video
// PES header are lost (a damaged packet).
struct VideoPesCut
{
    bool active = false;
    int seen = 0;
    uint8_t head[9] = {};
    int64_t skipLeft = 0; // header data bytes still to skip
};
VideoPesCut gVideoPesCut;

// Bytes of the payload (payload bytes long) taken by a PES header; unitStart: a PES packet starts
// in this packet.
int64_t CutVideoPesHeader(int64_t payload, bool unitStart)
{
    VideoPesCut &c = gVideoPesCut;
    if (unitStart) {
        c = VideoPesCut{};
        c.active = true;
    }
    int64_t used = 0;
    while (c.active && used < payload) {
        if (c.seen < 9) {
            const uint8_t b = GetInputByte();
            ++used;
            c.head[c.seen++] = b;
            // Start code 00 00 01, video stream id, the MPEG-2 header's marker bits.
            const bool fits = c.seen < 3    ? b == 0
                              : c.seen == 3 ? b == 1
                              : c.seen == 4 ? (b & 0xF0) == 0xE0
                              : c.seen == 7 ? (b & 0xC0) == 0x80
                                            : true;
            if (!fits) {
                c.active = false;
            } else if (c.seen == 9) {
                c.skipLeft = c.head[8];
                c.active = c.skipLeft > 0;
            }
            continue;
        }
        const int64_t n = c.skipLeft < payload - used ? c.skipLeft : payload - used;
        SkipInputBytes(n);
        used += n;
        c.skipLeft -= n;
        c.active = c.skipLeft > 0;
    }
    return used;
}

} // namespace

void PositionMpegInput(int64_t offset)
{
    MpegInputFiles &in = gMpegInputFiles;
    if (offset < 0) {
        offset = 0;
    }
    int64_t at = lc::FileSeek(in.fileHandle, offset, SEEK_SET);
    in.filePosition = at < 0 ? 0 : at;
    in.lastSectorRead = false;
    in.dataEnded = false;
    in.guardBytesGiven = 0;
    gVideoPesCut = VideoPesCut{};
}

void InitializeInputBuffer()
{
    MpegInputFiles &in = gMpegInputFiles;
    gMpegStreamInfo.audioKind = 0;
    in.readPos = kMpegSectorBytes;
    in.packetEnd = kMpegSectorBytes;
    uint32_t word = 0;
    if (IsSystemStream()) {
        DemuxNextPacket();
    } else {
        RefillInputBuffer();
    }
    for (int i = 0; i < 4; ++i) {
        word = (word << 8) | NextPayloadByte();
    }
    in.currentWord = word;
    in.bitsLeft = 32;
    LoadNextWord();
}

void DetectTransportStream()
{
    uint8_t head[kDetectBytes];
    int got = 0;
    while (got < kDetectBytes) {
        uint8_t b = GetInputByte();
        if (gMpegDecoderControl.faultCode.load(std::memory_order_relaxed) != 0
            || gMpegInputFiles.dataEnded) {
            break;
        }
        head[got++] = b;
    }
    for (int k = 0; k < kDetectOffsets && k + 2 * kTsPacketBytes < got; ++k) {
        if (head[k] == 0x47 && head[k + kTsPacketBytes] == 0x47
            && head[k + 2 * kTsPacketBytes] == 0x47) {
            gMpegStreamInfo.streamKind = 2;
            DebugTrace("Found MPEG2TS! (stream flag %d)\n", 2);
        }
    }
    if (gMpegStreamInfo.streamKind.load() == 2) {
        PositionMpegInput(0);
        gMpegInputFiles.videoPid = 0x810;
        gMpegInputFiles.audioPid = 0x814;
    }
}

uint8_t GetInputByte()
{
    MpegInputFiles &in = gMpegInputFiles;
    while (in.readPos >= kMpegSectorBytes) {
        if (SourceExhausted()) {
            return 0;
        }
        RefillInputBuffer();
    }
    return in.readBuffer[in.readPos++];
}

uint32_t ReadInput16()
{
    uint32_t hi = GetInputByte();
    return (hi << 8) | GetInputByte();
}

void SkipInputBytes(int64_t n)
{
    if (n > 0) {
        gMpegInputFiles.readPos += n;
    }
}

void RefillInputBuffer()
{
    MpegInputFiles &in = gMpegInputFiles;
    if (in.lastSectorRead) {
        in.dataEnded = true;
        in.bytesRead = 0;
        return;
    }
    int64_t n = lc::FileRead(in.fileHandle, in.readBuffer, kMpegSectorBytes);
    in.bytesRead = n < 0 ? 0 : int(n);
    if (n < 0) {
        InputReadFailed();
        return;
    }
    if (n != kMpegSectorBytes) {
        // The last partial sector is decoded like the others; the zeros behind its bytes are
        // what a padded stream would hold.
        std::memset(in.readBuffer + in.bytesRead, 0, size_t(kMpegSectorBytes - in.bytesRead));
        in.lastSectorRead = true;
        if (in.bytesRead == 0) {
            in.dataEnded = true;
            return;
        }
    }
    in.filePosition += in.bytesRead;
    in.readPos -= kMpegSectorBytes;
    if (in.readPos < 0) {
        in.readPos = 0;
    }
    if (IsSystemStream()) {
        in.packetEnd -= kMpegSectorBytes;
    } else {
        in.elementaryBytes += uint32_t(in.bytesRead);
    }
}

void InputReadFailed()
{
    RaiseMpegFault(kMpegFaultEndOfData);
    DebugTrace("Cannot read anymore of this file!\n");
}

void LoadNextWord()
{
    MpegInputFiles &in = gMpegInputFiles;
    if (!IsSystemStream() && in.readPos + 4 <= kMpegSectorBytes) {
        const uint8_t *p = in.readBuffer + in.readPos;
        in.nextWord =
            (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        in.readPos += 4;
        return;
    }
    if (IsSystemStream() && in.readPos + 4 <= in.packetEnd && in.readPos + 4 <= kMpegSectorBytes) {
        const uint8_t *p = in.readBuffer + in.readPos;
        in.nextWord =
            (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        in.readPos += 4;
        return;
    }
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
        word = (word << 8) | NextPayloadByte();
    }
    in.nextWord = word;
}

void AdvanceWord(int n)
{
    MpegInputFiles &in = gMpegInputFiles;
    in.bitsLeft += 32 - n;
    in.currentWord = in.nextWord;
    LoadNextWord();
}

uint32_t GetBitsAcrossWord(int n)
{
    MpegInputFiles &in = gMpegInputFiles;
    uint32_t value = ShowBits(n);
    in.bitsLeft = 32 - (n - in.bitsLeft);
    in.currentWord = in.nextWord;
    LoadNextWord();
    return value;
}

void NextHeaderStartCode()
{
    MpegInputFiles &in = gMpegInputFiles;
    FlushBits(in.bitsLeft & 7);
    while (!InputEnded() && ShowBits(24) != 0x000001) {
        // A prefix begins with a zero byte: the bytes of the current word before its first zero
        // byte are passed at once (at least one byte). The mask may also mark a byte just
        // before a zero byte, which only stops the skip early.
        const uint32_t rest = in.currentWord << (32 - in.bitsLeft);
        const uint32_t zeros = (rest - 0x01010101u) & ~rest & 0x80808080u;
        int bytes = in.bitsLeft / 8;
        if (zeros != 0) {
            const int first = __builtin_clz(zeros) / 8;
            bytes = first < bytes ? first : bytes;
        }
        FlushBits(8 * (bytes > 0 ? bytes : 1));
    }
}

void NextTransportPacket()
{
    MpegInputFiles &in = gMpegInputFiles;
    for (;;) {
        // 1. Sync byte; anything else between packets is skipped byte by byte.
        while (GetInputByte() != 0x47) {
            if (SourceExhausted()) {
                return;
            }
        }
        if (SourceExhausted()) {
            return;
        }
        // 2. PID; a packet flagged as damaged is skipped whole.
        uint32_t head = ReadInput16();
        int pid = int(head & 0x1FFF);
        if (head & 0x8000) {
            SkipInputBytes(kTsPacketBytes - 3);
            continue;
        }
        // 3. Adaptation field.
        int control = (GetInputByte() >> 4) & 3;
        int payload = kTsPacketBytes - 4;
        if (control == 0) {
            SkipInputBytes(payload);
            continue;
        }
        if (control >= 2) {
            // The field's length alone says how far to skip: flags that claim more (a PCR in a
            // short field) cannot reach into the payload, and a length beyond the packet spoils
            // only this packet, not the next.
            int length = GetInputByte();
            if (length > kTsPacketBytes - 5) {
                length = kTsPacketBytes - 5;
            }
            SkipInputBytes(length);
            payload = kTsPacketBytes - 5 - length;
            if (payload <= 0) {
                if (SourceExhausted()) {
                    return;
                }
                continue;
            }
        }
        if (SourceExhausted()) {
            return;
        }
        // 4. The video payload goes to the bit reader without its PES headers, which may lie
        // inside a picture; others are skipped.
        if (pid == in.videoPid) {
            payload -= CutVideoPesHeader(payload, (head & 0x4000) != 0);
            if (payload <= 0) {
                continue;
            }
            in.packetEnd = in.readPos + payload;
            return;
        }
        SkipInputBytes(payload);
    }
}

void DemuxNextPacket()
{
    if (gMpegStreamInfo.streamKind.load(std::memory_order_relaxed) == 2) {
        NextTransportPacket();
        return;
    }
    MpegInputFiles &in = gMpegInputFiles;
    DemuxState &dx = gDemuxState;
    for (;;) {
        // 1. The next start code.
        uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            code = (code << 8) | GetInputByte();
        }
        while ((code & 0xFFFFFF00u) != 0x100u) {
            if (SourceExhausted()) {
                return;
            }
            code = (code << 8) | GetInputByte();
        }
        if (SourceExhausted()) {
            return;
        }
        dx.lastStartCode = code;
        // 2. By start code.
        if (code == 0x1BA) {
            // The rest of an MPEG-2 pack header and its stuffing pass the start-code search.
            SkipInputBytes(8);
            dx.privateStream2Count = 0;
            continue;
        }
        if (code < 0x1BB) {
            continue;
        }
        int length = int(ReadInput16());
        in.packetEnd = in.readPos + length;
        if (code == 0x1E0) {
            int flags1 = GetInputByte();
            if ((flags1 & 0xC0) != 0x80) {
                // Not an MPEG-2 PES header (MPEG-1 system stream): no video from it.
                SkipToPacketEnd();
                continue;
            }
            int flags2 = GetInputByte();
            int headerLength = GetInputByte();
            if ((flags2 & 0x80) && gMpegDecoderControl.audioArmed.load() == 0) {
                dx.videoPts = ReadPts();
                SkipInputBytes(headerLength - 5);
            } else {
                SkipInputBytes(headerLength);
            }
            if (in.packetEnd > in.readPos) {
                in.elementaryBytes += uint32_t(in.packetEnd - in.readPos);
            }
            return;
        }
        if (code == 0x1BD) {
            DemuxPrivateStream1();
            SkipToPacketEnd();
            continue;
        }
        if (code == 0x1BF) {
            ++dx.privateStream2Count;
        } else if (code >= 0x1C0 && code <= 0x1C7) {
            gMpegStreamInfo.audioKind = 3;
        }
        SkipToPacketEnd();
    }
}
