#include "mp2decode/transplit.h"

#include <cstdio>
#include <cstring>

#include "platform/sys/file.h"

TransplitState gTransplitState;

namespace {

constexpr int kPacketSize = 188;
constexpr uint8_t kSyncByte = 0x47;
constexpr int kProbeBytes = 1023;
constexpr int kProbeStarts = 460; // sync at i, i + 188 and i + 376 for some i below this
constexpr int kMaxPacketsCounted = 4096;
constexpr uint32_t kAudioStartCode = 0x000001C0; // PES of the first MPEG audio stream
constexpr uint32_t kVideoStartCode = 0x000001E0;

// The packet header word: transport error indicator, payload unit start indicator, PID.
constexpr uint16_t kTransportError = 0x8000;
constexpr uint16_t kPayloadUnitStart = 0x4000;
constexpr uint16_t kPidMask = 0x1FFF;

// Reads up to n bytes into dst; fewer only at the end or on an error, which set the flag.
int TsRead(uint8_t *dst, int n)
{
    TransplitState &s = gTransplitState;
    int got = 0;
    while (got < n) {
        if (s.bufferPos == s.bufferFill) {
            int64_t r = s.input >= 0 ? lc::FileRead(s.input, s.buffer, sizeof s.buffer) : -1;
            s.bufferPos = 0;
            s.bufferFill = r > 0 ? int(r) : 0;
            if (r <= 0) {
                s.endOfFile = true;
                return got;
            }
        }
        int take = s.bufferFill - s.bufferPos;
        if (take > n - got) {
            take = n - got;
        }
        std::memcpy(dst + got, s.buffer + s.bufferPos, size_t(take));
        s.bufferPos += take;
        got += take;
    }
    return got;
}

void TsSkip(int n)
{
    uint8_t scratch[kPacketSize];
    while (n > 0 && !gTransplitState.endOfFile) {
        int take = n < kPacketSize ? n : kPacketSize;
        n -= TsRead(scratch, take);
    }
}

void CloseBoth()
{
    TransplitState &s = gTransplitState;
    if (s.input >= 0) {
        (void)lc::FileClose(s.input);
    }
    if (s.output >= 0) {
        (void)lc::FileClose(s.output);
    }
    s.input = -1;
    s.output = -1;
}

void TsRewind()
{
    TransplitState &s = gTransplitState;
    if (s.input >= 0) {
        (void)lc::FileSeek(s.input, 0, SEEK_SET);
    }
    s.bufferPos = 0;
    s.bufferFill = 0;
    s.endOfFile = false;
}

// Finds the next packet by its sync byte and reads its header word and control byte, passing
// over packets with the transport error indicator. False at the end of the file.
bool NextPacket(uint16_t *word, uint8_t *control)
{
    const bool &end = gTransplitState.endOfFile;
    for (;;) {
        while (TsReadByte() != kSyncByte) {
            if (end) {
                return false;
            }
        }
        *word = TsReadWord16();
        if (!(*word & kTransportError)) {
            *control = TsReadByte();
            return !end;
        }
        TsSkip(kPacketSize - 3);
    }
}

uint32_t ReadBe32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The PTS of a PES header at the start of a payload of n bytes, when the payload begins with
// startCode. Only the bytes of this payload are looked at. Returns false without the start code;
// pts is left alone when the header carries none.
bool ReadPesStart(const uint8_t *payload, int n, uint32_t startCode, uint32_t *pts)
{
    if (n < 4 || ReadBe32(payload) != startCode) {
        return false;
    }
    // Start code, PES length, then an MPEG-2 header: '10' marker byte, flags, header length.
    if (n >= 9 && (payload[6] & 0xC0) == 0x80 && payload[7] >= 0x80 && n >= 14) {
        const uint8_t *p = payload + 9;
        uint32_t mid = uint32_t(p[1]) << 8 | p[2];
        uint32_t low = uint32_t(p[3]) << 8 | p[4];
        *pts = (uint32_t(p[0] & 0x0E) << 29) | ((mid & 0xFFFE) << 14) | (low >> 1);
    }
    return true;
}

} // namespace

uint8_t TsReadByte()
{
    uint8_t b = 0;
    return TsRead(&b, 1) == 1 ? b : 0;
}

uint16_t TsReadWord16()
{
    uint16_t hi = TsReadByte();
    return uint16_t(hi << 8 | TsReadByte());
}

int TsProbePids()
{
    TransplitState &s = gTransplitState;
    // 1. Three sync bytes 188 apart within the first 1023 bytes.
    uint8_t head[kProbeBytes];
    int got = TsRead(head, kProbeBytes);
    bool isTs = false;
    for (int i = 0; i < kProbeStarts && i + 2 * kPacketSize < got; ++i) {
        if (head[i] == kSyncByte && head[i + kPacketSize] == kSyncByte
            && head[i + 2 * kPacketSize] == kSyncByte) {
            isTs = true;
            break;
        }
    }
    TsRewind();
    if (!isTs) {
        return 0;
    }

    // 2. Count the packets with payload of each PID.
    std::memset(s.packetCounts, 0, sizeof s.packetCounts);
    int counted = 0;
    uint16_t word = 0;
    uint8_t control = 0;
    while (counted < kMaxPacketsCounted && NextPacket(&word, &control)) {
        int adaptation = (control >> 4) & 3;
        int pid = word & kPidMask;
        if ((adaptation == 1 || adaptation == 3) && pid < kTransplitPidCount) {
            ++s.packetCounts[pid];
            ++counted;
        }
        TsSkip(kPacketSize - 4);
    }

    // 3. Video: the most packets, ties to the later PID. Every PID that was once the running
    // best leaves the audio choice.
    int32_t best = 0;
    s.videoPid = 0;
    for (int pid = 0; pid < kTransplitPidCount; ++pid) {
        if (s.packetCounts[pid] >= best) {
            s.videoPid = pid;
            best = s.packetCounts[pid];
            s.packetCounts[pid] = -1;
        }
    }
    // 4. Audio: the most of the rest, ties to the earlier PID.
    best = 0;
    s.audioPid = 0;
    for (int pid = 0; pid < kTransplitPidCount; ++pid) {
        if (s.packetCounts[pid] > best) {
            s.audioPid = pid;
            best = s.packetCounts[pid];
        }
    }
    // 5.
    std::printf("Using PID %d for video and %d for audio\n", s.videoPid, s.audioPid);
    TsRewind();
    return s.audioPid;
}

void TsDemuxAudio(int audioPid)
{
    TransplitState &s = gTransplitState;
    s.audioPts = 0;
    s.videoPts = 0;
    int64_t totalBytes = 0;
    bool audioStarted = false;
    bool videoStarted = false;
    uint8_t payload[kPacketSize];
    uint16_t word = 0;
    uint8_t control = 0;
    for (;;) {
        // 1.-3. Resynchronise byte by byte; packets with the error indicator are skipped.
        if (!NextPacket(&word, &control)) {
            break;
        }
        int adaptation = (control >> 4) & 3;
        if (adaptation == 0) {
            TsSkip(kPacketSize - 4);
            continue;
        }
        int payloadSize = kPacketSize - 4;
        // 4. The adaptation field; only its random access indicator is used. Its length alone
        // says how far to skip, so bad PCR flags cannot reach into the payload.
        bool randomAccess = false;
        if (adaptation >= 2) {
            int length = TsReadByte();
            if (length > kPacketSize - 5) {
                std::printf("Header size exceeds packet size\n");
                break;
            }
            payloadSize = kPacketSize - 5 - length;
            if (length > 0) {
                uint8_t flags = TsReadByte();
                randomAccess = (flags & 0x40) != 0;
                TsSkip(length - 1);
            }
            if (payloadSize == 0) {
                continue;
            }
        }
        // The payload, as far as the file holds it.
        int got = TsRead(payload, payloadSize);
        int pid = word & kPidMask;
        bool unitStart = (word & kPayloadUnitStart) != 0 || randomAccess;
        if (pid == audioPid) {
            // 5. Audio starts at its first PES packet of stream 0xC0; from then on every payload
            // is copied unchanged, PES headers included.
            if (!audioStarted && unitStart
                && ReadPesStart(payload, got, kAudioStartCode, &s.audioPts)) {
                audioStarted = true;
            }
            if (audioStarted && got > 0 && !s.writeFailed) {
                if (lc::FileWrite(s.output, payload, size_t(got)) != got) {
                    s.writeFailed = true;
                } else {
                    totalBytes += got;
                }
            }
        } else if (pid == s.videoPid) {
            // 6.
            if (!videoStarted && unitStart
                && ReadPesStart(payload, got, kVideoStartCode, &s.videoPts)) {
                videoStarted = true;
            }
        }
        // 7. A short read ends the loop after its packet.
        if (s.endOfFile) {
            break;
        }
    }
    // 8. Milliseconds at 90 kHz, truncating toward zero.
    s.result = int32_t(s.videoPts - s.audioPts) / 90;
    std::printf("Total bytes out = %d\n", int(totalBytes));
    std::printf("VideoPTS-AudioPTS = %d msec\n", int(s.result));
    CloseBoth();
}

int TransplitMain(int argc, char **argv)
{
    TransplitState &s = gTransplitState;
    // 1.
    std::printf("Kestra Pryne is PreProcessing Audio...\n");
    // 2. Descriptors of an earlier run are never left open.
    CloseBoth();
    s.input = argc > 1 ? lc::FileOpen(argv[1], lc::FileMode::Read) : -1;
    if (s.input < 0) {
        std::printf("Could not open input file\n");
    }
    s.bufferPos = 0;
    s.bufferFill = 0;
    // 3. The work file is truncated: a longer one from an earlier movie must not leave its tail.
    s.endOfFile = false;
    s.writeFailed = false;
    const char *outputPath = argc < 3 ? "temp.mp2" : argv[2];
    s.output = lc::FileOpen(outputPath, lc::FileMode::Create);
    if (s.output < 0) {
        std::printf("Could not open output file\n");
    }
    // 4.
    int audioPid = s.output >= 0 ? TsProbePids() : 0;
    if (audioPid == 0) {
        CloseBoth();
        return -1;
    }
    TsDemuxAudio(audioPid);
    // Audio that could not be written is no audio, whatever the offset.
    return s.writeFailed ? -1 : s.result;
}
