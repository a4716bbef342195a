#include "mp2decode/transplit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/sys/bytes.h"
#include "platform/sys/file.h"

TransplitState gTransplitState;

namespace {

constexpr int kPacketSize = 188;
constexpr uint8_t kSyncByte = 0x47;
constexpr int kProbeBytes = 1023;
constexpr int kProbeStarts = 460; // sync at i, i + 188 and i + 376 for some i below this
constexpr int kMaxPacketsCounted = 4096;
// When no MPEG audio has started within those, the count goes on until it does, up to this many
// packets (49 MB: 16 s at 25 Mbit/s): sound that starts late in a stream of a high rate.
constexpr int kMaxPacketsSearchedForAudio = 1 << 18;
constexpr uint32_t kVideoStartCode = 0x000001E0;
// PES stream ids of MPEG audio.
constexpr uint8_t kFirstAudioStream = 0xC0;
constexpr uint8_t kLastAudioStream = 0xDF;
// The longest PES header: 9 bytes and 255 of header data (MPEG-2 syntax).
constexpr int kMaxPesHeader = 9 + 255;

// Program tables: their table ids, and the stream types a program map gives MPEG audio.
constexpr uint8_t kProgramAssociationTable = 0x00;
constexpr uint8_t kProgramMapTable = 0x02;
constexpr uint8_t kStreamTypeMpeg1Audio = 0x03;
constexpr uint8_t kStreamTypeMpeg2Audio = 0x04;

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

// The low 32 bits of a 33-bit time stamp in its five bytes.
uint32_t ReadTimeStamp(const uint8_t *p)
{
    uint32_t mid = uint32_t(p[1]) << 8 | p[2];
    uint32_t low = uint32_t(p[3]) << 8 | p[4];
    return (uint32_t(p[0] & 0x0E) << 29) | ((mid & 0xFFFE) << 14) | (low >> 1);
}

bool IsAudioStart(const uint8_t *p, int n)
{
    return n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] >= kFirstAudioStream
           && p[3] <= kLastAudioStream;
}

bool IsVideoStart(const uint8_t *p, int n)
{
    return n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1 && (p[3] & 0xF0) == 0xE0;
}

// The video PES header at the start of a payload of n bytes: its PTS, when it has one. Only the
// bytes of this payload are looked at; false without the start code.
bool ReadVideoStart(const uint8_t *payload, int n, uint32_t *pts)
{
    if (n < 4 || ReadBe32(payload) != kVideoStartCode) {
        return false;
    }
    // Start code, PES length, then an MPEG-2 header: '10' marker byte, flags, header length.
    if (n >= 14 && (payload[6] & 0xC0) == 0x80 && payload[7] >= 0x80) {
        *pts = ReadTimeStamp(payload + 9);
    }
    return true;
}

// The length of the audio PES header at the start of b (n bytes so far): 0 while more bytes are
// needed, -1 when the bytes are no MPEG audio PES header. Takes the MPEG-2 syntax and the
// MPEG-1 one (stuffing, buffer size, time stamps). *pts is set when the header carries one.
int AudioPesHeaderLength(const uint8_t *b, int n, uint32_t *pts)
{
    if (n < 4) {
        return 0;
    }
    if (!IsAudioStart(b, n)) {
        return -1;
    }
    if (n < 7) {
        return 0;
    }
    int length = 0;
    if ((b[6] & 0xC0) == 0x80) {
        if (n < 9) {
            return 0;
        }
        length = 9 + b[8];
        if (n < length) {
            return 0;
        }
        if ((b[7] & 0x80) && b[8] >= 5) {
            *pts = ReadTimeStamp(b + 9);
        }
    } else {
        constexpr int kMaxStuffing = 16;
        int at = 6;
        while (at < n && b[at] == 0xFF && at < 6 + kMaxStuffing) {
            ++at;
        }
        if (at + 1 >= n) {
            return 0;
        }
        if ((b[at] & 0xC0) == 0x40) {
            at += 2; // buffer scale and size
        }
        if (at >= n) {
            return 0;
        }
        int stamps = (b[at] & 0xF0) == 0x20 ? 5 : (b[at] & 0xF0) == 0x30 ? 10 : 0;
        if (stamps == 0 && b[at] != 0x0F) {
            return -1;
        }
        length = at + (stamps ? stamps : 1);
        if (n < length) {
            return 0;
        }
        if (stamps) {
            *pts = ReadTimeStamp(b + at);
        }
    }
    // The declared packet length must hold the header.
    int declared = b[4] << 8 | b[5];
    if (declared != 0 && declared + 6 < length) {
        return -1;
    }
    return length;
}

// The audio PID's PES packets cut down to their payloads, across transport packets.
struct PesCutter
{
    enum class Part { Header, Body, Junk } part = Part::Junk;
    uint8_t header[kMaxPesHeader] = {};
    int headerFill = 0;
    int64_t bodyLeft = -1; // payload bytes the PES packet still declares; -1 unbounded
    bool firstHeaderRead = false;

    void StartPacket()
    {
        part = Part::Header;
        headerFill = 0;
        bodyLeft = -1;
    }

    // Hands the elementary-stream bytes of one transport payload to write (data, count); the
    // first header's PTS, when it has one, goes to *firstPts.
    template <typename Write> void Cut(const uint8_t *p, int n, uint32_t *firstPts, Write write)
    {
        if (part == Part::Header) {
            int take = n < kMaxPesHeader - headerFill ? n : kMaxPesHeader - headerFill;
            std::memcpy(header + headerFill, p, size_t(take));
            headerFill += take;
            uint32_t pts = *firstPts;
            int length = AudioPesHeaderLength(header, headerFill, &pts);
            if (length == 0 && headerFill < kMaxPesHeader) {
                return; // the header goes on in the next packet
            }
            if (length <= 0) {
                part = Part::Junk; // nothing of it until the next PES packet
                return;
            }
            if (!firstHeaderRead) {
                firstHeaderRead = true;
                *firstPts = pts;
            }
            int declared = header[4] << 8 | header[5];
            bodyLeft = declared ? declared + 6 - length : -1;
            part = Part::Body;
            // What of this payload lies behind the header.
            int used = take - (headerFill - length);
            p += used;
            n -= used;
        }
        if (part != Part::Body || n <= 0) {
            return;
        }
        if (bodyLeft >= 0 && n > bodyLeft) {
            n = int(bodyLeft); // bytes behind the declared end are not audio
        }
        if (bodyLeft >= 0) {
            bodyLeft -= n;
        }
        if (n > 0) {
            write(p, n);
        }
    }
};

// The section of table tableId that starts in a payload (behind its pointer field), as far as
// this packet holds it: what follows its 8-byte header, without the CRC. False when none starts.
bool SectionBody(lc::ByteReader r, uint8_t tableId, lc::ByteReader *body)
{
    const uint8_t pointer = r.u8();
    if (!r.skip(pointer) || r.u8() != tableId) {
        return false;
    }
    // The length counts the 5 header bytes after it and the 4 of the CRC.
    const size_t length = r.u16be() & 0x0FFF;
    if (!r.ok() || length < 9 || !r.skip(5)) {
        return false;
    }
    *body = r.sub(std::min(r.remaining(), length - 9));
    return true;
}

// Program association: every PID it names for a program map (program 0 names the network PID).
void ReadProgramAssociation(const uint8_t *payload, int size)
{
    lc::ByteReader body(nullptr, 0);
    if (!SectionBody(lc::ByteReader(payload, size_t(size)), kProgramAssociationTable, &body)) {
        return;
    }
    while (body.remaining() >= 4) {
        const uint16_t program = body.u16be();
        const uint16_t pid = body.u16be() & kPidMask;
        if (program != 0) {
            gTransplitState.isProgramMap[pid] = true;
        }
    }
}

// Program map: the stream type of every elementary stream it lists.
void ReadProgramMap(const uint8_t *payload, int size)
{
    lc::ByteReader body(nullptr, 0);
    if (!SectionBody(lc::ByteReader(payload, size_t(size)), kProgramMapTable, &body)) {
        return;
    }
    (void)body.u16be(); // PCR PID
    if (!body.skip(body.u16be() & 0x0FFF)) {
        return; // program descriptors
    }
    while (body.remaining() >= 5) {
        const uint8_t type = body.u8();
        const uint16_t pid = body.u16be() & kPidMask;
        if (!body.skip(body.u16be() & 0x0FFF)) {
            return; // the entry's descriptors go on in another packet
        }
        if (pid < kTransplitPidCount) {
            gTransplitState.streamType[pid] = type;
        }
    }
}

// A PID may be taken for MPEG audio unless a program map lists it as another kind of stream.
bool ListedAsOther(int pid)
{
    const uint8_t type = gTransplitState.streamType[pid];
    return type != 0 && type != kStreamTypeMpeg1Audio && type != kStreamTypeMpeg2Audio;
}

// The payload of a packet whose header word and control byte were read: the other 184 bytes
// are read into body, and the payload's offset and size in it are returned through at and size
// (size 0: none). A packet whose adaptation field claims more than the packet holds has no
// payload; damaged is then set. randomAccess: the adaptation field's indicator.
void ReadPacketBody(uint8_t control, uint8_t *body, int *got, int *at, int *size,
                    bool *randomAccess, bool *damaged)
{
    constexpr int kBody = kPacketSize - 4;
    *got = TsRead(body, kBody);
    *at = 0;
    *size = 0;
    *randomAccess = false;
    *damaged = false;
    int adaptation = (control >> 4) & 3;
    if (adaptation == 0) {
        return;
    }
    if (adaptation >= 2) {
        int length = body[0];
        if (length > kBody - 1) {
            *damaged = true;
            return;
        }
        // Only the random access indicator is used; the length alone says how far to skip, so
        // bad PCR flags cannot reach into the payload.
        if (length > 0) {
            *randomAccess = (body[1] & 0x40) != 0;
        }
        *at = 1 + length;
    }
    // As far as the file holds it.
    *size = *got > *at ? *got - *at : 0;
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

    // 2. Count the packets with payload of each PID, and note the PIDs on which PES packets of
    // MPEG audio or video start: 4096 packets, or more until MPEG audio starts.
    std::memset(s.packetCounts, 0, sizeof s.packetCounts);
    std::memset(s.carriesAudio, 0, sizeof s.carriesAudio);
    std::memset(s.carriesVideo, 0, sizeof s.carriesVideo);
    std::memset(s.isProgramMap, 0, sizeof s.isProgramMap);
    std::memset(s.streamType, 0, sizeof s.streamType);
    int counted = 0;
    bool audioSeen = false;
    uint16_t word = 0;
    uint8_t control = 0;
    uint8_t body[kPacketSize];
    while ((counted < kMaxPacketsCounted || (!audioSeen && counted < kMaxPacketsSearchedForAudio))
           && NextPacket(&word, &control)) {
        int adaptation = (control >> 4) & 3;
        int pid = word & kPidMask;
        int read = 0, at = 0, size = 0;
        bool randomAccess = false, damaged = false;
        ReadPacketBody(control, body, &read, &at, &size, &randomAccess, &damaged);
        if ((word & kPayloadUnitStart) && size > 0) {
            if (pid == 0) {
                ReadProgramAssociation(body + at, size);
            } else if (s.isProgramMap[pid]) {
                ReadProgramMap(body + at, size);
            }
        }
        if ((adaptation == 1 || adaptation == 3) && pid < kTransplitPidCount) {
            ++s.packetCounts[pid];
            ++counted;
            if (word & kPayloadUnitStart) {
                if (IsAudioStart(body + at, size)) {
                    s.carriesAudio[pid] = true;
                    audioSeen = audioSeen || !ListedAsOther(pid);
                }
                s.carriesVideo[pid] |= IsVideoStart(body + at, size);
            }
        }
    }

    // 3. Video: the most packets, ties to the later PID; of the PIDs that carry video when there
    // are any, so that sound of a higher rate than the picture is not taken for it.
    bool anyVideo = false;
    for (bool v : s.carriesVideo) {
        anyVideo |= v;
    }
    int32_t best = 0;
    s.videoPid = 0;
    for (int pid = 0; pid < kTransplitPidCount; ++pid) {
        if ((!anyVideo || s.carriesVideo[pid]) && s.packetCounts[pid] >= best) {
            s.videoPid = pid;
            best = s.packetCounts[pid];
        }
    }
    // 4. Audio: of the other PIDs that carry MPEG audio, the most packets, ties to the earlier
    // PID. Tables (PAT, SDT) and other streams carry none, whatever their PIDs; AAC, which comes
    // in the same PES packets, is known by its program map entry.
    best = 0;
    s.audioPid = 0;
    for (int pid = 0; pid < kTransplitPidCount; ++pid) {
        if (pid != s.videoPid && s.carriesAudio[pid] && !ListedAsOther(pid)
            && s.packetCounts[pid] > best) {
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
    PesCutter cutter;
    auto write = [&](const uint8_t *p, int n) {
        if (s.writeFailed) {
            return;
        }
        if (lc::FileWrite(s.output, p, size_t(n)) != n) {
            s.writeFailed = true;
        } else {
            totalBytes += n;
        }
    };
    uint8_t body[kPacketSize];
    uint16_t word = 0;
    uint8_t control = 0;
    for (;;) {
        // 1.-3. Resynchronise byte by byte; packets with the error indicator are skipped.
        if (!NextPacket(&word, &control)) {
            break;
        }
        // 4. The adaptation field. One that claims more than the packet holds spoils only its
        // own packet: it is passed over and the extraction goes on.
        int got = 0, at = 0, size = 0;
        bool randomAccess = false, damaged = false;
        ReadPacketBody(control, body, &got, &at, &size, &randomAccess, &damaged);
        if (damaged) {
            std::printf("Header size exceeds packet size\n");
        }
        const uint8_t *payload = body + at;
        int pid = word & kPidMask;
        bool pesStart = (word & kPayloadUnitStart) != 0;
        if (size > 0 && pid == audioPid) {
            // 5. Audio starts at its first PES packet of MPEG audio; from then on the payloads
            // of its PES packets are written, each header skipped by its own length.
            if (!audioStarted && (pesStart || randomAccess) && IsAudioStart(payload, size)) {
                audioStarted = true;
                pesStart = true;
            }
            if (audioStarted) {
                if (pesStart) {
                    cutter.StartPacket();
                }
                cutter.Cut(payload, size, &s.audioPts, write);
            }
        } else if (size > 0 && pid == s.videoPid) {
            // 6.
            if (!videoStarted && (pesStart || randomAccess)
                && ReadVideoStart(payload, size, &s.videoPts)) {
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
    // Audio that could not be written is no audio, whatever the offset. -1 tells the caller
    // there is none, so a true offset of -1 ms is given as 0: 1 ms off rather than silent.
    if (s.writeFailed) {
        return -1;
    }
    return s.result == -1 ? 0 : s.result;
}
