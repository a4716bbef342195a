#include <cstring>

#include "mpeg2/internal/demux_audio.h"
#include "mpeg2/mpeg2_hooks.h"
#include "mpeg2/mpeg_audio_sink.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_input.h"
#include "mpeg2/mpeg_stream_info.h"
#include "platform/sys/text.h"

MpegAudioSink gMpegAudioSink;
MpegAudioTrack gMpegAudioTracks[kMpegAudioTracks];
MpegAudioTrack gMpegPcmTrack;
DemuxState gDemuxState;

namespace {

constexpr int64_t kBytesPerMs = 192; // 48000 Hz, 2 channels, 2 bytes
// A time-stamp gap beyond a minute is damage, not a sound offset: no more silence or loss.
constexpr int64_t kMaxLeadBytes = 60 * 1000 * kBytesPerMs;
constexpr uint32_t kSilenceChunk = 3840; // one 25 frames/s frame of sound

uint8_t gPacketBytes[65536];
const int16_t kZeros[kSilenceChunk / 2] = {};
int16_t gPcmWork[65536 / 2];

// LPCM of the run: the format byte of its header, and the bytes of a sample group that a packet
// left unfinished. Samples come in groups of two stereo frames: the top 16 bits of each sample,
// big-endian, frame by frame, then the lower bits of all four (none for 16-bit samples).
constexpr int kLpcmMaxGroup = 12; // 24-bit stereo
int gLpcmFormat = -1;
uint8_t gLpcmCarry[kLpcmMaxGroup];
int gLpcmCarryBytes = 0;

// The output movie's sound is one stream: AC-3 track 1 or the LPCM, whichever starts first in the
// run. Both would interleave two sounds in one track. LPCM that comes second still goes to
// "decode.wav"; an AC-3 track 1 that comes second is not decoded.
enum class OutputSound { None, Ac3, Lpcm };
OutputSound gOutputSound = OutputSound::None;
// The track number of WriteAudioBlock for LPCM: 0 the output movie, kNoOutput nowhere.
constexpr int kNoOutput = -1;
int gLpcmTrack = 0;

// Bytes of one group for a format byte: quantisation (bits 7-6: 16, 20, 24 bits), rate (bits
// 5-4: 0 is 48 kHz) and channels - 1 (bits 2-0). 0 for what the output cannot take: sound other
// than 48 kHz stereo, or the reserved quantisation.
int LpcmGroupBytes(int format)
{
    const int quantisation = format >> 6 & 3;
    const int rate = format >> 4 & 3;
    const int channels = (format & 7) + 1;
    if (rate != 0 || channels != 2 || quantisation == 3) {
        return 0;
    }
    return quantisation == 0 ? 8 : quantisation == 1 ? 10 : 12;
}

bool Armed()
{
    return gMpegDecoderControl.audioArmed.load() != 0
           && gMpegDecoderControl.processingMode.load() != 0;
}

// The rest of the current packet, at most 65535 bytes.
int ReadPacketBytes()
{
    MpegInputFiles &in = gMpegInputFiles;
    int64_t n = in.packetEnd - in.readPos;
    if (n <= 0) {
        return 0;
    }
    if (n > int64_t(sizeof gPacketBytes)) {
        n = sizeof gPacketBytes;
    }
    for (int64_t i = 0; i < n; ++i) {
        gPacketBytes[i] = GetInputByte();
    }
    return int(n);
}

uint32_t WriteBlock(const int16_t *samples, uint32_t bytes, FILE *file, int track)
{
    if (!gMpegAudioSink.writeAudioBlock || bytes == 0 || track == kNoOutput) {
        return 0;
    }
    return gMpegAudioSink.writeAudioBlock(samples, bytes, file, track);
}

// The positive lead as zero samples, to the track's destination and, for LPCM, to copyTo.
void WriteSilence(MpegAudioTrack &tr, FILE *file, int track, FILE *copyTo)
{
    uint32_t left = uint32_t(tr.pending / 4 * 4);
    tr.totalBytes += left;
    while (left > 0) {
        uint32_t n = left < kSilenceChunk ? left : kSilenceChunk;
        WriteBlock(kZeros, n, file, track);
        if (copyTo) {
            std::fwrite(kZeros, 1, n, copyTo);
        }
        left -= n;
    }
    tr.pending = 0;
}

// Decoded bytes of one packet after the lead: a negative lead drops leading bytes first.
void DeliverDecoded(MpegAudioTrack &tr, const uint8_t *bytes, int count, FILE *file, int track,
                    FILE *copyTo)
{
    if (count + tr.pending >= 0) {
        uint32_t n = uint32_t(count + tr.pending);
        const uint8_t *from = bytes + (-tr.pending);
        WriteBlock(reinterpret_cast<const int16_t *>(from), n, file, track);
        if (copyTo && n > 0) {
            std::fwrite(from, 1, n, copyTo);
        }
        tr.totalBytes += n;
        tr.pending = 0;
    } else {
        tr.pending += count;
    }
}

void HandleAc3Packet(int t)
{
    MpegAudioTrack &tr = gMpegAudioTracks[t];
    DemuxState &dx = gDemuxState;
    if (!tr.started) {
        if (!Armed() || tr.open) {
            return;
        }
        tr.open = 1;
        if (t == 0) {
            if (gOutputSound == OutputSound::Lpcm) {
                return; // the LPCM has the output's sound
            }
            gOutputSound = OutputSound::Ac3;
        }
        // 1. Tracks 2 to 8 get their own WAV files beside the output.
        if (t >= 1) {
            const char *base = gMpeg2Hooks.outputBaseName ? gMpeg2Hooks.outputBaseName() : "";
            FILE *f = nullptr;
            if (lc::FormatText(tr.fileName, sizeof tr.fileName, "%s-Track%d.wav", base, t + 1)) {
                f = std::fopen(tr.fileName, "wb");
            }
            if (!f) {
                RaiseMpegFault(kMpegFaultTrackFile);
                return;
            }
            tr.wavFile = f;
            if (gMpegAudioSink.writeWavHeader) {
                gMpegAudioSink.writeWavHeader(f);
            }
        }
        // 2-3. Lead from the time stamps: silence now, or bytes to drop later.
        tr.pending = AudioLeadBytes(dx.audioPts, dx.videoPts);
        if (tr.pending > 0) {
            WriteSilence(tr, tr.wavFile, t, nullptr);
        }
        // 4. The decoder's track states, once per run (its tables once per process).
        if (!dx.ac3Initialized) {
            dx.ac3Initialized = true;
            if (gMpegAudioSink.ac3DecoderInit) {
                gMpegAudioSink.ac3DecoderInit();
            }
        }
    }
    int n = ReadPacketBytes();
    // A packet may hold more frames than the track buffer: deliver and go on with the rest.
    int done = 0;
    do {
        int out = 0;
        int used = n - done;
        if (gMpegAudioSink.ac3DecodeTrack && used > 0) {
            out = gMpegAudioSink.ac3DecodeTrack(gPacketBytes + done, n - done, 0, t, &used);
        }
        if (out < 0 || out > kMpegTrackBufferBytes) {
            out = out < 0 ? 0 : kMpegTrackBufferBytes;
        }
        DeliverDecoded(tr, tr.samples, out, tr.wavFile, t, nullptr);
        if (used <= 0 && out == 0) {
            break; // no progress: the decoder keeps nothing more of this packet
        }
        done += used > 0 ? used : 0;
    } while (done < n);
    tr.started = 1;
}

// LPCM sub-stream 0xA0 at 48000 Hz stereo, 16, 20 or 24 bits, as 16-bit samples (the top 16
// bits of each). It goes to the output movie's sound (unless AC-3 track 1 has it) and, complete
// with its lead, to "decode.wav". Other formats are refused once for the run: no sound rather than
// noise.
void HandleLpcmPacket(int format)
{
    MpegAudioTrack &tr = gMpegPcmTrack;
    if (!tr.started) {
        if (!Armed() || tr.open) {
            return;
        }
        tr.open = 1;
        if (LpcmGroupBytes(format) == 0) {
            gMpegStreamInfo.lpcmRefused = 1;
            DebugTrace("LPCM format 0x%02x not taken\n", format);
            return;
        }
        gLpcmFormat = format;
        lc::CopyText(tr.fileName, "decode.wav");
        FILE *f = std::fopen(tr.fileName, "wb");
        if (!f) {
            RaiseMpegFault(kMpegFaultTrackFile);
            return;
        }
        tr.wavFile = f;
        if (gMpegAudioSink.writeWavHeader) {
            gMpegAudioSink.writeWavHeader(f);
        }
        gLpcmTrack = gOutputSound == OutputSound::Ac3 ? kNoOutput : 0;
        if (gLpcmTrack == 0) {
            gOutputSound = OutputSound::Lpcm;
        }
        tr.pending = AudioLeadBytes(gDemuxState.audioPts, gDemuxState.videoPts);
        if (tr.pending > 0) {
            WriteSilence(tr, nullptr, gLpcmTrack, f);
        }
    }
    // A packet of another format cannot join the run's sound.
    if (format != gLpcmFormat) {
        return;
    }
    const int group = LpcmGroupBytes(format);
    int n = ReadPacketBytes();
    const uint8_t *src = gPacketBytes;
    uint8_t *dst = reinterpret_cast<uint8_t *>(gPcmWork);
    int out = 0;
    // Top halves of the two frames of each group, byte-swapped to little-endian.
    auto convert = [&](const uint8_t *g) {
        for (int i = 0; i < 8; i += 2) {
            dst[out + i] = g[i + 1];
            dst[out + i + 1] = g[i];
        }
        out += 8;
    };
    int at = 0;
    if (gLpcmCarryBytes > 0) {
        int take = group - gLpcmCarryBytes < n ? group - gLpcmCarryBytes : n;
        std::memcpy(gLpcmCarry + gLpcmCarryBytes, src, size_t(take));
        gLpcmCarryBytes += take;
        at = take;
        if (gLpcmCarryBytes == group) {
            convert(gLpcmCarry);
            gLpcmCarryBytes = 0;
        }
    }
    for (; at + group <= n; at += group) {
        convert(src + at);
    }
    if (at < n) {
        gLpcmCarryBytes = n - at;
        std::memcpy(gLpcmCarry, src + at, size_t(gLpcmCarryBytes));
    }
    DeliverDecoded(tr, dst, out, nullptr, gLpcmTrack, tr.wavFile);
    tr.started = 1;
}

} // namespace

void ResetMpegAudioTracks()
{
    gDemuxState.ac3Initialized = false;
    for (MpegAudioTrack *tr = gMpegAudioTracks; tr != gMpegAudioTracks + kMpegAudioTracks; ++tr) {
        if (tr->wavFile) {
            std::fclose(tr->wavFile); // a run whose outputs were never closed
        }
        tr->started = tr->open = 0;
        tr->wavFile = nullptr;
        tr->fileName[0] = 0;
        tr->pending = 0;
        tr->totalBytes = 0;
    }
    MpegAudioTrack &pcm = gMpegPcmTrack;
    if (pcm.wavFile) {
        std::fclose(pcm.wavFile);
    }
    pcm.started = pcm.open = 0;
    pcm.wavFile = nullptr;
    pcm.fileName[0] = 0;
    pcm.pending = 0;
    pcm.totalBytes = 0;
    gLpcmFormat = -1;
    gLpcmCarryBytes = 0;
    gMpegStreamInfo.lpcmRefused = 0;
    gOutputSound = OutputSound::None;
    gLpcmTrack = 0;
}

int64_t AudioLeadBytes(uint32_t audioPts, uint32_t videoPts)
{
    int64_t ms = int64_t(int32_t(audioPts - videoPts)) / 90;
    int64_t bytes = ms * kBytesPerMs;
    if (bytes > kMaxLeadBytes) {
        return kMaxLeadBytes;
    }
    if (bytes < -kMaxLeadBytes) {
        return -kMaxLeadBytes;
    }
    return bytes;
}

uint32_t ReadPts()
{
    uint32_t b0 = GetInputByte();
    uint32_t b1 = GetInputByte();
    uint32_t b2 = GetInputByte();
    uint32_t b3 = GetInputByte();
    uint32_t b4 = GetInputByte();
    // 3 + 15 + 15 bits with marker bits between; bit 32 falls off.
    return ((b0 >> 1) & 7) << 30 | b1 << 22 | (b2 >> 1) << 15 | b3 << 7 | (b4 >> 1);
}

void SkipToPacketEnd()
{
    MpegInputFiles &in = gMpegInputFiles;
    if (in.packetEnd > in.readPos) {
        in.readPos = in.packetEnd;
    }
}

void DemuxPrivateStream1()
{
    DemuxState &dx = gDemuxState;
    SkipInputBytes(1);
    int flags2 = GetInputByte();
    int headerLength = GetInputByte();
    if (flags2 & 0x80) {
        dx.audioPts = ReadPts();
        SkipInputBytes(headerLength - 5);
    } else {
        SkipInputBytes(headerLength);
    }
    int id = GetInputByte();
    bool lastPass = MpegPassesLeft() == 1;
    if (id >= 0x80 && id <= 0x87 && lastPass) {
        gMpegStreamInfo.audioKind = 1;
        SkipInputBytes(3); // frame count and first access unit pointer
        HandleAc3Packet(id - 0x80);
    } else if (id >= 0xA0 && id <= 0xA7 && lastPass) {
        gMpegStreamInfo.audioKind = 2;
        // Frame count, first access unit pointer, emphasis and frame number, the format,
        // dynamic range.
        SkipInputBytes(4);
        int format = GetInputByte();
        SkipInputBytes(1);
        if (id == 0xA0) {
            HandleLpcmPacket(format);
        }
    } else if (id >= 0x88 && id <= 0x8F) {
        gMpegStreamInfo.audioKind = 4;
    }
}
