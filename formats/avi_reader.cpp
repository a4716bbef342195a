#include "formats/avi_reader.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "formats/avi_writer.h"
#include "formats/formats_hooks.h"
#include "formats/source_audio_format.h"
#include "formats/source_timing.h"
#include "platform/sys/bytes.h"
#include "platform/sys/file.h"

AviReadState gAviReadState;
SourceTiming gSourceTiming;
SourceAudioFormat gSourceAudioFormat;

namespace {

using lc::ByteReader;
using lc::FourCC;

// A header list is read whole and parsed in memory; ours is 96768 bytes.
constexpr uint32_t kMaxHeaderListBytes = 16u << 20;
// Largest audio chunk read whole (one second of 8-channel 32-bit 192 kHz sound is 6 MB).
constexpr uint32_t kMaxAudioChunkBytes = 32u << 20;
// The "idx1" index is loaded whole on the first seek (16 bytes a chunk).
constexpr uint32_t kMaxIdx1Bytes = 256u << 20;
// The retimed sound leaves the ring in one-second blocks of 48000 stereo frames.
constexpr uint32_t kRingBlockBytes = 192000;
// Sound is fed to the ring in pieces well below its 2^20 frames, so nothing unread is overwritten.
constexpr uint32_t kRingPieceBytes = 65536 * 4;
constexpr int kBitmapHeaderBytes = 40;
// Widest and tallest uncompressed frame turned over.
constexpr int64_t kMaxFrameSide = 1 << 16;
// Video chunks of the OpenDML indexes looked at when the stream's frames are sought (a day of
// 60 frames/s chunks).
constexpr size_t kMaxIndexedChunks = size_t(60) * 60 * 60 * 24;
// Picture rates, frames/s: a video stream faster than the fastest may be a finer time base
// with empty chunks between its pictures; 23.976 (film) is the slowest.
constexpr uint64_t kFastestPictureRate = 31;
constexpr uint64_t kSlowestPictureRate = 23;

AviReadState &S = gAviReadState;

std::vector<uint8_t> gAudioChunk; // grow-only, up to kMaxAudioChunkBytes
std::vector<uint8_t> gRowScratch; // one row, for turning top-down frames over

// --- diagnostic log ("avidebug.txt" while a reader call runs) ---

void Log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void Log(const char *fmt, ...)
{
    if (!S.debugLog || !S.debugFile) {
        return;
    }
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(S.debugFile, fmt, ap);
    va_end(ap);
}

// Reopens the log for one reader call and closes it on every return.
class LogSession
{
public:
    LogSession()
    {
        if (S.debugLog && !S.debugFile) {
            S.debugFile = std::fopen("avidebug.txt", "a+");
            if (!S.debugFile) {
                S.debugLog = 0;
                gFormatsHooks.showError("Could not reopen debug file");
            }
        }
    }
    ~LogSession()
    {
        if (S.debugFile) {
            std::fclose(S.debugFile);
            S.debugFile = nullptr;
        }
    }
    LogSession(const LogSession &) = delete;
    LogSession &operator=(const LogSession &) = delete;
};

// --- bounded file reads ---

int64_t Tell()
{
    return lc::FileTell(S.fd);
}

bool SeekTo(int64_t pos)
{
    if (pos < 0 || pos > S.fileSize) {
        return false;
    }
    return lc::FileSeek(S.fd, pos, SEEK_SET) == pos;
}

// Exactly n bytes or a failure (the end of the file inside a unit is a failure).
bool ReadBytes(void *dst, size_t n)
{
    int64_t got = lc::FileRead(S.fd, dst, n);
    if (got < 0) {
        Log("Input File error\n");
        return false;
    }
    if (uint64_t(got) != n) {
        Log("Input End of file\n");
        return false;
    }
    return true;
}

bool ReadChunkHeader(uint32_t &id, uint32_t &size)
{
    uint8_t h[8];
    if (!ReadBytes(h, 8)) {
        return false;
    }
    id = lc::LoadU32be(h);
    size = lc::LoadU32le(h + 4);
    return true;
}

bool ReadFourCC(uint32_t &id)
{
    uint8_t h[4];
    if (!ReadBytes(h, 4)) {
        return false;
    }
    id = lc::LoadU32be(h);
    return true;
}

bool ReadDword(uint32_t &v)
{
    uint8_t h[4];
    if (!ReadBytes(h, 4)) {
        return false;
    }
    v = lc::LoadU32le(h);
    return true;
}

// Skipping past the end of the file is a failure, as reading the bytes away would be.
bool Skip(int64_t n)
{
    int64_t pos = Tell();
    if (pos < 0 || n < 0 || n > S.fileSize - pos) {
        Log("End of file - seek end of chunk\n");
        return false;
    }
    return lc::FileSeek(S.fd, pos + n, SEEK_SET) == pos + n;
}

bool IsIdChar(uint8_t c)
{
    return c >= 0x20 && c < 0x7f;
}

// Standard files pad an odd-sized chunk to even length; older writers of ours did not. After an
// odd-sized chunk a zero byte followed by a chunk id (or by the end of the file) is the pad.
// Returns the bytes consumed (0 or 1).
int SkipPadAfter(uint32_t size)
{
    if ((size & 1) == 0) {
        return 0;
    }
    int64_t pos = Tell();
    uint8_t b[5] = {};
    int64_t got = lc::FileRead(S.fd, b, sizeof b);
    bool pad =
        got >= 1 && b[0] == 0
        && (got < 5 || (IsIdChar(b[1]) && IsIdChar(b[2]) && IsIdChar(b[3]) && IsIdChar(b[4])));
    lc::FileSeek(S.fd, pos + (pad ? 1 : 0), SEEK_SET);
    return pad ? 1 : 0;
}

void CodeText(uint32_t code, char (&text)[5])
{
    for (int i = 0; i < 4; ++i) {
        text[i] = char(code >> (24 - 8 * i));
    }
    text[4] = 0;
}

bool HasDvText(const char *t)
{
    return std::strstr(t, "dvsd") || std::strstr(t, "DVSD");
}
bool IsBlankCode(const char *t)
{
    return t[0] == 0 || std::strcmp(t, "    ") == 0;
}

// Stream number of a movi chunk id "nnxx"; -1 when the first two characters are not digits.
int ChunkStream(uint32_t id)
{
    int a = int(id >> 24) - '0';
    int b = int((id >> 16) & 0xff) - '0';
    if (a < 0 || a > 9 || b < 0 || b > 9) {
        return -1;
    }
    return a * 10 + b;
}

uint32_t ChunkKind(uint32_t id)
{
    return id & 0xffff;
}
constexpr uint32_t kKindDc = ('d' << 8) | 'c';
constexpr uint32_t kKindDb = ('d' << 8) | 'b';
constexpr uint32_t kKindWb = ('w' << 8) | 'b';

bool IsVideoChunk(uint32_t id)
{
    uint32_t kind = ChunkKind(id);
    if (kind != kKindDc && kind != kKindDb) {
        return false;
    }
    return S.videoStream < 0 || ChunkStream(id) == S.videoStream;
}

bool IsHandedAudioChunk(uint32_t id)
{
    return ChunkKind(id) == kKindWb && S.audioStream >= 0 && ChunkStream(id) == S.audioStream;
}

// --- header list ---

void ReadStreamHeader(ByteReader chunk, int slot, bool &isVideo, bool &isAudio)
{
    uint8_t *strh = S.streamHeaders[slot];
    std::memset(strh, 0, kAviStreamHeaderBytes);
    size_t n = std::min<size_t>(chunk.remaining(), kAviStreamHeaderBytes);
    (void)chunk.read(strh, n);
    uint32_t type = lc::LoadU32be(strh);
    isVideo = type == FourCC("vids");
    isAudio = type == FourCC("auds");
    S.isInterleavedDV = (type == FourCC("ivas") || type == FourCC("iavs")) ? 1 : 0;
    if (!isVideo) {
        return;
    }
    CodeText(lc::LoadU32be(strh + 4), S.handlerText);
    if (HasDvText(S.handlerText)) {
        S.isDV = 1;
    }
    S.isUncompressed =
        (std::strcmp(S.handlerText, "DIB ") == 0 || IsBlankCode(S.handlerText)) ? 1 : 0;
    if (std::strcmp(S.handlerText, "dvsd") != 0
        && (std::strstr(S.handlerText, "dv") || std::strstr(S.handlerText, "DV"))) {
        S.isOtherDV = 1;
    }
    gSourceTiming.scale = lc::LoadU32le(strh + 20);
    gSourceTiming.rate = lc::LoadU32le(strh + 24);
    if (gSourceTiming.scale != 0) {
        // Rounded: 30000/1001 is the 30 frames/s family (the DV time code's 24/30 step reads it),
        // not 29.
        gFormatsHooks.setFrameRate(
            int((uint64_t(gSourceTiming.rate) + gSourceTiming.scale / 2) / gSourceTiming.scale));
    }
}

void ReadVideoFormat(ByteReader chunk, int slot)
{
    uint8_t *strf = S.streamFormats[slot];
    std::memset(strf, 0, kAviStreamFormatBytes);
    size_t n = std::min<size_t>(chunk.remaining(), kAviStreamFormatBytes);
    (void)chunk.read(strf, n);
    S.streamFormatBytes[slot] = int(n);
    CodeText(lc::LoadU32be(strf + 16), S.compressionText);
    if (HasDvText(S.compressionText)) {
        S.isDV = 1;
        S.isUncompressed = 0;
    } else if (S.isUncompressed && !IsBlankCode(S.compressionText)) {
        S.isUncompressed = 0;
    }
    int32_t height = int32_t(lc::LoadU32le(strf + 8));
    S.isTopDown = height < 0 ? 1 : 0;
    int64_t width = int32_t(lc::LoadU32le(strf + 4));
    int64_t bits = lc::LoadU16le(strf + 14);
    S.topDownRowBytes = 0;
    S.topDownRows = 0;
    if (S.isTopDown && width > 0 && width <= kMaxFrameSide && -int64_t(height) <= kMaxFrameSide
        && bits > 0 && bits <= 64) {
        S.topDownRowBytes = (width * bits + 31) / 32 * 4;
        S.topDownRows = -int64_t(height);
    }
    if (S.frameHeight <= 0 && height != INT32_MIN) {
        S.frameHeight = height < 0 ? -height : height;
    }
    if (S.frameWidth <= 0) {
        S.frameWidth = int32_t(lc::LoadU32le(strf + 4));
    }
    if (lc::LoadU16le(strf + 14) > 24 && S.isUncompressed) {
        S.resultCode = kAviOpenDeepColor;
    }
}

void ReadAudioFormat(ByteReader chunk, int slot)
{
    uint8_t *fmt = S.audioFormats[slot];
    std::memset(fmt, 0, kAviAudioFormatBytes);
    (void)chunk.read(fmt, std::min<size_t>(chunk.remaining(), kAviAudioFormatBytes));
    // The first audio stream is the one handed on; later ones are skipped.
    if (S.audioStream >= 0) {
        return;
    }
    S.audioStream = slot;
    S.audioFormatTag = lc::LoadU16le(fmt);
    gSourceAudioFormat.channels = lc::LoadU16le(fmt + 2);
    gSourceAudioFormat.samplesPerSecond = int(lc::LoadU32le(fmt + 4) & 0x7fffffff);
    gSourceAudioFormat.bitsPerSample = lc::LoadU16le(fmt + 14);
}

void ReadSuperIndex(ByteReader chunk)
{
    uint16_t longsPerEntry = chunk.u16le();
    (void)chunk.u8(); // bIndexSubType
    uint8_t indexType = chunk.u8();
    uint32_t entries = chunk.u32le();
    (void)chunk.skip(16); // dwChunkId, three reserved words
    if (!chunk.ok() || indexType != 0 || longsPerEntry != 4) {
        return;
    }
    entries = std::min<uint32_t>(entries, kAviSuperIndexEntries);
    entries = std::min<uint32_t>(entries, uint32_t(chunk.remaining() / 16));
    for (uint32_t i = 0; i < entries; ++i) {
        S.superIndex[i].qwOffset = chunk.u64le();
        S.superIndex[i].dwSize = chunk.u32le();
        S.superIndex[i].dwDuration = chunk.u32le();
    }
    S.superIndexCount = entries;
    Log("Found indx with %u entries\n", entries);
}

void ReadStreamList(ByteReader list, int slot)
{
    Log("Enter strl\n");
    bool isVideo = false;
    bool isAudio = false;
    while (list.remaining() >= 8) {
        uint32_t id = list.fourcc();
        uint32_t size = list.u32le();
        ByteReader chunk = list.sub(size);
        Log("Found %s subchunk (%02X %02X %02X %02X)\n", lc::FourCCText(id).c_str(), id >> 24,
            (id >> 16) & 0xff, (id >> 8) & 0xff, id & 0xff);
        if (id == FourCC("strh")) {
            ReadStreamHeader(chunk, slot, isVideo, isAudio);
        } else if (id == FourCC("strf") && isVideo) {
            ReadVideoFormat(chunk, slot);
        } else if (id == FourCC("strf") && isAudio) {
            ReadAudioFormat(chunk, slot);
        } else if (id == FourCC("indx") && isVideo) {
            ReadSuperIndex(chunk);
        }
        if ((size & 1) && list.remaining() > 0 && *list.cursor() == 0) {
            (void)list.skip(1);
        }
    }
    if (isVideo && S.videoStream < 0) {
        S.videoStream = slot;
    }
    Log("End get strl\n");
}

void ReadHeaderList(ByteReader list)
{
    Log("Get header list\n");
    // The first chunk is the main header, whatever its id.
    (void)list.fourcc();
    uint32_t mainSize = list.u32le();
    ByteReader avih = list.sub(mainSize);
    std::memset(S.mainHeader, 0, sizeof S.mainHeader);
    (void)avih.read(S.mainHeader, std::min<size_t>(avih.remaining(), kAviMainHeaderBytes));
    S.totalFrames = lc::LoadU32le(S.mainHeader + 16);
    S.lastChunkSize = lc::LoadU32le(S.mainHeader + 28);
    S.frameWidth = int32_t(lc::LoadU32le(S.mainHeader + 32));
    S.frameHeight = int32_t(lc::LoadU32le(S.mainHeader + 36));
    if ((mainSize & 1) && list.remaining() > 0 && *list.cursor() == 0) {
        (void)list.skip(1);
    }
    // Stream slots count "strl" lists only.
    int slot = 0;
    while (list.remaining() >= 8) {
        uint32_t id = list.fourcc();
        uint32_t size = list.u32le();
        ByteReader chunk = list.sub(size);
        Log("Length of chunk = %u\n", size);
        if (id == FourCC("LIST") && chunk.remaining() >= 4) {
            uint32_t type = chunk.fourcc();
            if (type == FourCC("strl")) {
                if (slot < kAviStreamSlots) {
                    ReadStreamList(chunk, slot);
                }
                ++slot;
            } else if (type == FourCC("odml")) {
                Log("Get Odml...\n");
                (void)chunk.skip(8); // "dmlh" and its size
                uint32_t total = chunk.u32le();
                if (chunk.ok()) {
                    S.totalFrames = total;
                    Log("Odml total frame count = %u", total);
                }
            }
        }
        if ((size & 1) && list.remaining() > 0 && *list.cursor() == 0) {
            (void)list.skip(1);
        }
    }
    Log("Number of streams = %d\n", slot);
    Log("End get header list\n");
}

// --- sound hand-off ---

bool SoundUsable()
{
    const SourceAudioFormat &f = gSourceAudioFormat;
    bool pcm16 = (S.audioFormatTag == 1 || S.audioFormatTag == 0xFFFE) && f.bitsPerSample == 16
                 && f.channels > 0;
    if (pcm16 && gFormatsHooks.sourceIsNtsc()) {
        // The ring retimes 48 kHz stereo only.
        pcm16 = f.channels == 2 && f.samplesPerSecond / 100 == 480;
    }
    if (!pcm16 && !S.audioWarningShown) {
        S.audioWarningShown = 1;
        gFormatsHooks.showWarning("AVI sound is not 16-bit PCM (48KHz Stereo for NTSC sources),\n"
                                  "output soundtrack will be silent");
    }
    return pcm16;
}

// One block of sound to the output: the AVI writer's "01wb" or the QuickTime sound track.
bool OutputSound(const uint8_t *data, uint32_t bytes, bool inSoundBuffer)
{
    int frameBytes = gSourceAudioFormat.channels * (gSourceAudioFormat.bitsPerSample / 8);
    int frames = frameBytes > 0 ? int(bytes / uint32_t(frameBytes)) : 0;
    if (gFormatsHooks.outputIsAvi()) {
        AviWriteAudioChunk("01wb", data, bytes);
        return true;
    }
    if (!inSoundBuffer) {
        uint8_t *buf = gFormatsHooks.ensureSoundBuffer(int(bytes));
        if (!buf) {
            return false;
        }
        std::memcpy(buf, data, bytes);
    }
    gFormatsHooks.setSoundSampleCount(frames);
    return gFormatsHooks.addSoundSamples() != 0;
}

// The audio chunk of `bytes` bytes in gAudioChunk goes on, retimed for NTSC-family sources.
bool HandOffAudio(uint32_t bytes)
{
    if (!SoundUsable()) {
        return true;
    }
    const uint8_t *data = gAudioChunk.data();
    if (!gFormatsHooks.sourceIsNtsc()) {
        return OutputSound(data, bytes, false);
    }
    gFormatsHooks.setAudioRingBigEndian(0);
    uint32_t whole = bytes & ~3u;
    for (uint32_t done = 0; done < whole;) {
        uint32_t piece = std::min(kRingPieceBytes, whole - done);
        gFormatsHooks.writeAudioRing(reinterpret_cast<const int16_t *>(data + done), piece, 0);
        done += piece;
        while (gFormatsHooks.audioRingAvailableBytes(0) > kRingBlockBytes) {
            uint8_t *buf = gFormatsHooks.ensureSoundBuffer(int(kRingBlockBytes));
            if (!buf) {
                return false;
            }
            gFormatsHooks.readAudioRingResampled(reinterpret_cast<int16_t *>(buf), kRingBlockBytes,
                                                 0);
            if (!OutputSound(buf, kRingBlockBytes, true)) {
                return false;
            }
        }
    }
    return true;
}

bool ReadAudioChunk(uint32_t size)
{
    if (size > kMaxAudioChunkBytes || int64_t(size) > S.fileSize - Tell()) {
        Log("End of file - read audio\n");
        return false;
    }
    if (gAudioChunk.size() < size) {
        gAudioChunk.resize(size);
    }
    if (!ReadBytes(gAudioChunk.data(), size)) {
        Log("End of file - read audio\n");
        return false;
    }
    return true;
}

// Bottom-up rows are what every caller of the reader expects of uncompressed frames.
void TurnOverTopDownFrame(uint8_t *frame, uint32_t size)
{
    // Geometry taken at open: the writer may reuse the format slot while a source is read.
    int64_t stride = S.topDownRowBytes;
    int64_t height = S.topDownRows;
    if (!S.isUncompressed || !S.isTopDown || height <= 1 || stride * height > int64_t(size)) {
        return;
    }
    if (gRowScratch.size() < size_t(stride)) {
        gRowScratch.resize(size_t(stride));
    }
    for (int64_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
        uint8_t *a = frame + top * stride;
        uint8_t *b = frame + bottom * stride;
        std::memcpy(gRowScratch.data(), a, size_t(stride));
        std::memcpy(a, b, size_t(stride));
        std::memcpy(b, gRowScratch.data(), size_t(stride));
    }
}

// Reads a video chunk of `size` bytes at the current position. For a chunk larger than the
// buffer `tooLarge` is set and no byte lands outside the buffer.
bool ReadFrameData(uint8_t *buffer, int bufferSize, uint32_t size, bool &tooLarge)
{
    tooLarge = bufferSize < 0 || size > uint32_t(bufferSize);
    if (int64_t(size) > S.fileSize - Tell()) {
        Log("End of file - read frame\n");
        return false;
    }
    if (tooLarge) {
        // The part that fits is read, the rest skipped; the caller gets 0 for this frame.
        size_t part = buffer && bufferSize > 0 ? size_t(bufferSize) : 0;
        return (part == 0 || ReadBytes(buffer, part)) && Skip(int64_t(size) - int64_t(part));
    }
    if (!buffer && size > 0) {
        return false;
    }
    if (size > 0 && !ReadBytes(buffer, size)) {
        Log("End of file - read frame\n");
        return false;
    }
    TurnOverTopDownFrame(buffer, size);
    return true;
}

// Reads the last video chunk read again into the buffer and returns its size; 0 when there is
// none yet, it does not fit, or it cannot be read. The file position is kept.
int ReadLastFrameAgain(uint8_t *buffer, int bufferSize)
{
    if (S.lastFramePos < 0 || S.lastChunkSize <= 0 || S.lastChunkSize > bufferSize || !buffer) {
        return 0;
    }
    int64_t back = Tell();
    bool ok = SeekTo(S.lastFramePos) && ReadBytes(buffer, size_t(S.lastChunkSize));
    if (ok) {
        TurnOverTopDownFrame(buffer, uint32_t(S.lastChunkSize));
    }
    lc::FileSeek(S.fd, back, SEEK_SET);
    return ok ? int(S.lastChunkSize) : 0;
}

// Frames of a stream read at its pictures' rate begin at every k-th video chunk from
// firstSlotChunk; the other (empty) chunks only continue the frame before.
bool StartsFrame(uint32_t chunk)
{
    return S.chunksPerFrame <= 1
           || (chunk >= S.firstSlotChunk && (chunk - S.firstSlotChunk) % S.chunksPerFrame == 0);
}

enum class Walk {
    Frames,         // AviReadNextFrame
    RemainingAudio, // AviReadRemainingAudio
};

// Outcome of one walk step.
constexpr int kWalkFailed = -1;
constexpr int kWalkEnded = -2; // the end of the data (remaining audio: done)

// Walks the movi lists and AVIX forms from the sequential position until a video chunk (Frames:
// returns its size, or 0 when it did not fit the buffer; an empty chunk gives the last frame) or
// the end. On a failure the counters and the position are as they were before the failed chunk.
int64_t WalkMovi(Walk mode, uint8_t *buffer, int bufferSize)
{
    // Seeking moves the handle; sequential reading goes on from its own place.
    lc::FileSeek(S.fd, S.sequentialPos, SEEK_SET);
    struct KeepPlace
    {
        ~KeepPlace() { S.sequentialPos = Tell(); }
    } keepPlace;
    for (;;) {
        if (mode == Walk::RemainingAudio && gFormatsHooks.stopRequested()) {
            return kWalkFailed;
        }
        int64_t start = Tell();
        int64_t riffBefore = S.riffBytesLeft;
        int64_t moviBefore = S.moviBytesLeft;
        auto fail = [&](const char *line) {
            if (line) {
                Log("%s", line);
            }
            S.riffBytesLeft = riffBefore;
            S.moviBytesLeft = moviBefore;
            lc::FileSeek(S.fd, start, SEEK_SET);
            return kWalkFailed;
        };
        uint32_t id = 0;
        uint32_t size = 0;
        if (S.riffBytesLeft > 0 && S.moviBytesLeft > 0) {
            // Inside "movi".
            if (!ReadChunkHeader(id, size)) {
                if (mode == Walk::RemainingAudio) {
                    return kWalkEnded; // a file cut at a chunk boundary has no more sound
                }
                return fail("End of file - read code\n");
            }
            if (id == FourCC("LIST")) {
                // "rec " lists group chunks inside movi: walk into them.
                uint32_t type = 0;
                if (!ReadFourCC(type)) {
                    return fail("End of file - read code\n");
                }
                S.moviBytesLeft -= 12;
                S.riffBytesLeft -= 12;
                continue;
            }
            int64_t used = int64_t(size) + 8;
            if (IsVideoChunk(id) && mode == Walk::Frames && size == 0
                && !StartsFrame(S.videoChunksRead)) {
                // A tick of a finer time base that only goes on showing the frame before.
                S.videoChunksRead += 1;
                S.moviBytesLeft -= used;
                S.riffBytesLeft -= used;
                continue;
            }
            if (IsVideoChunk(id) && mode == Walk::Frames && size == 0) {
                S.videoChunksRead += 1;
                // An empty chunk is a dropped frame (ffmpeg writes them when it copies a movie
                // with gaps): the previous frame again, so that the movie goes on; before any
                // frame it still counts, and the walk goes on to the next chunk.
                S.framesRead += 1;
                S.moviBytesLeft -= used;
                S.riffBytesLeft -= used;
                if (S.lastFramePos < 0) {
                    continue;
                }
                Log("Reading frame %u again\n", S.framesRead - 1);
                return ReadLastFrameAgain(buffer, bufferSize);
            }
            if (IsVideoChunk(id) && mode == Walk::Frames) {
                int64_t dataPos = Tell();
                bool tooLarge = false;
                if (!ReadFrameData(buffer, bufferSize, size, tooLarge)) {
                    return fail(nullptr);
                }
                used += SkipPadAfter(size);
                S.videoChunksRead += 1;
                S.framesRead += 1;
                S.lastFramePos = dataPos;
                S.lastChunkSize = size;
                S.moviBytesLeft -= used;
                S.riffBytesLeft -= used;
                Log("Reading frame %u at %" PRId64 "\n", S.framesRead - 1, dataPos);
                return tooLarge ? 0 : int64_t(size);
            }
            // Sound chunks beyond the cap are skipped like any other chunk.
            bool handOff = IsHandedAudioChunk(id) && size <= kMaxAudioChunkBytes
                           && (mode == Walk::RemainingAudio || gFormatsHooks.passesLeft() == 1);
            if (handOff) {
                if (!ReadAudioChunk(size)) {
                    return fail(nullptr);
                }
                used += SkipPadAfter(size);
                S.moviBytesLeft -= used;
                S.riffBytesLeft -= used;
                if (!HandOffAudio(size)) {
                    return kWalkFailed;
                }
                continue;
            }
            if (!Skip(size)) {
                return fail(nullptr);
            }
            used += SkipPadAfter(size);
            S.moviBytesLeft -= used;
            S.riffBytesLeft -= used;
            continue;
        }
        if (S.riffBytesLeft > 0) {
            // Between lists of the current form.
            if (!ReadChunkHeader(id, size)) {
                if (mode == Walk::RemainingAudio) {
                    return kWalkEnded;
                }
                return fail("End of file - read code\n");
            }
            if (id == FourCC("LIST")) {
                uint32_t type = 0;
                if (!ReadFourCC(type)) {
                    return fail("End of file - read code\n");
                }
                S.moviBytesLeft = int64_t(size) - 4;
                S.riffBytesLeft -= 12;
                Log("RIFF length %" PRId64 ", List length %" PRId64 "\n", S.riffBytesLeft,
                    S.moviBytesLeft);
                if (type != FourCC("movi")) {
                    if (S.moviBytesLeft > 0 && !Skip(S.moviBytesLeft)) {
                        return fail(nullptr);
                    }
                    S.riffBytesLeft -= std::max<int64_t>(S.moviBytesLeft, 0);
                    S.riffBytesLeft -= SkipPadAfter(size);
                    S.moviBytesLeft = 0;
                }
                continue;
            }
            if (!Skip(size)) {
                return fail(nullptr);
            }
            S.riffBytesLeft -= int64_t(size) + 8 + SkipPadAfter(size);
            continue;
        }
        // The form is used up: the next must be a RIFF "AVIX" form.
        if (!ReadFourCC(id)) {
            if (mode == Walk::RemainingAudio) {
                return kWalkEnded;
            }
            return fail("End of file - read RIFF\n");
        }
        if (id != FourCC("RIFF")) {
            if (mode == Walk::RemainingAudio) {
                return kWalkEnded;
            }
            return fail("Expecting new RIFF - not found\n");
        }
        uint32_t type = 0;
        if (!ReadDword(size) || !ReadFourCC(type)) {
            return fail("End of file - read RIFF\n");
        }
        if (type != FourCC("AVIX")) {
            return fail("Expecting AVIX RIFF - not found\n");
        }
        S.riffBytesLeft = int64_t(size) - 4;
        S.moviBytesLeft = 0;
    }
}

// --- seeking ---

// The header of the OpenDML standard index that super index entry i points to.
struct StandardIndex
{
    uint64_t at = 0;      // file position of the "ix##" chunk
    uint32_t entries = 0; // frame entries, each 8 bytes after the 32-byte header
    uint64_t base = 0;    // added to each entry's offset
};

// Reads it and checks that it is a frame index whose entries fit its chunk.
bool ReadStandardIndexHeader(uint32_t i, StandardIndex &index)
{
    index.at = S.superIndex[i].qwOffset;
    uint8_t h[32];
    if (index.at > uint64_t(S.fileSize) || !SeekTo(int64_t(index.at)) || !ReadBytes(h, sizeof h)) {
        return false;
    }
    ByteReader r(h, sizeof h);
    (void)r.fourcc();
    uint32_t chunkSize = r.u32le();
    uint16_t longsPerEntry = r.u16le();
    (void)r.u8();
    uint8_t indexType = r.u8();
    index.entries = r.u32le();
    (void)r.fourcc();
    index.base = r.u64le();
    return longsPerEntry == 2 && indexType == 1 && chunkSize >= 24
           && index.entries <= (chunkSize - 24) / 8;
}

bool SeekBySuperIndex(uint32_t n)
{
    uint64_t start = 0;
    uint32_t i = 0;
    for (; i < S.superIndexCount; ++i) {
        if (start + S.superIndex[i].dwDuration > n) {
            break;
        }
        start += S.superIndex[i].dwDuration;
    }
    if (i == S.superIndexCount) {
        return false;
    }
    StandardIndex index;
    uint64_t k = n - start;
    if (!ReadStandardIndexHeader(i, index) || k >= index.entries) {
        return false;
    }
    uint8_t e[8];
    if (!SeekTo(int64_t(index.at + 32 + 8 * k)) || !ReadBytes(e, sizeof e)) {
        return false;
    }
    uint64_t data = index.base + lc::LoadU32le(e);
    uint32_t size = lc::LoadU32le(e + 4) & 0x7fffffff;
    if (data > uint64_t(S.fileSize) || size > uint64_t(S.fileSize) - data) {
        return false;
    }
    S.seekedChunkSize = size;
    return SeekTo(int64_t(data));
}

// Finds "idx1" after the first movi list and keeps its video entries.
bool LoadIdx1()
{
    int64_t pos = S.moviStart + std::max<int64_t>(S.savedMoviBytesLeft, 0);
    if (!SeekTo(pos)) {
        return false;
    }
    pos += SkipPadAfter(uint32_t(S.savedMoviBytesLeft));
    uint32_t id = 0;
    uint32_t size = 0;
    for (;;) {
        if (!ReadChunkHeader(id, size)) {
            return false;
        }
        if (id == FourCC("idx1")) {
            break;
        }
        if (!Skip(size)) {
            return false;
        }
        SkipPadAfter(size);
    }
    if (size > kMaxIdx1Bytes || int64_t(size) > S.fileSize - Tell()) {
        return false;
    }
    std::vector<uint8_t> bytes(size);
    S.idx1Pos = Tell();
    S.idx1Length = size;
    if (size > 0 && !ReadBytes(bytes.data(), size)) {
        S.idx1Pos = 0;
        return false;
    }
    S.idx1Frames.clear();
    ByteReader r(bytes.data(), bytes.size());
    uint32_t firstId = 0;
    while (r.remaining() >= 16) {
        uint32_t entryId = r.fourcc();
        (void)r.u32le(); // flags
        AviIdx1Frame f;
        f.offset = r.u32le();
        f.size = r.u32le();
        if (IsVideoChunk(entryId) && ChunkStream(entryId) >= 0) {
            if (S.idx1Frames.empty()) {
                firstId = entryId;
            }
            S.idx1Frames.push_back(f);
        }
    }
    // Offsets count from the "movi" list type in standard files, from the file start in some
    // (ours among them): the first video entry tells which.
    S.idx1Base = S.moviStart - 4;
    if (!S.idx1Frames.empty()) {
        uint32_t seen = 0;
        int64_t relative = S.idx1Base + S.idx1Frames[0].offset;
        if (!SeekTo(relative) || !ReadFourCC(seen) || seen != firstId) {
            S.idx1Base = 0;
        }
    }
    return true;
}

bool SeekByIdx1(uint32_t n)
{
    if (S.idx1Pos == 0 && !LoadIdx1()) {
        return false;
    }
    if (n >= S.idx1Frames.size()) {
        return false;
    }
    int64_t at = S.idx1Base + S.idx1Frames[n].offset;
    uint32_t id = 0;
    uint32_t size = 0;
    if (!SeekTo(at) || !ReadChunkHeader(id, size) || !IsVideoChunk(id)
        || int64_t(size) > S.fileSize - Tell()) {
        return false;
    }
    S.seekedChunkSize = size;
    return true;
}

// Sizes of every video chunk in file order, from the OpenDML standard indexes or from "idx1";
// false when the file has neither or they cannot be read.
bool ReadVideoChunkSizes(std::vector<uint32_t> &sizes)
{
    sizes.clear();
    if (S.superIndexCount == 0) {
        if (!LoadIdx1()) {
            return false;
        }
        for (const AviIdx1Frame &f : S.idx1Frames) {
            sizes.push_back(f.size);
        }
        return true;
    }
    std::vector<uint8_t> entries;
    for (uint32_t i = 0; i < S.superIndexCount; ++i) {
        StandardIndex index;
        if (!ReadStandardIndexHeader(i, index)) {
            return false;
        }
        const uint32_t count = index.entries;
        if (int64_t(count) * 8 > S.fileSize - Tell() || sizes.size() + count > kMaxIndexedChunks) {
            return false;
        }
        entries.resize(size_t(count) * 8);
        if (count > 0 && !ReadBytes(entries.data(), entries.size())) {
            return false;
        }
        for (uint32_t k = 0; k < count; ++k) {
            sizes.push_back(lc::LoadU32le(entries.data() + 8 * k + 4) & 0x7fffffff);
        }
    }
    return true;
}

// Finds whether the video's time base is finer than its pictures: every chunk with a picture
// falls on a step of k chunks, the others are empty. Such a stream is read at rate / k, a frame
// each k chunks (an empty chunk where a step begins repeats the frame before, as a dropped frame
// does), so that its frames keep time with its sound. Only a stream faster than any picture rate
// is looked at: an ordinary stream with many dropped frames keeps its own rate.
void FindChunksPerFrame()
{
    S.chunksPerFrame = 1;
    S.firstSlotChunk = 0;
    S.frameChunks.clear();
    const uint64_t rate = gSourceTiming.rate, scale = gSourceTiming.scale;
    if (scale == 0 || rate <= kFastestPictureRate * scale) {
        return;
    }
    std::vector<uint32_t> sizes;
    if (!ReadVideoChunkSizes(sizes)) {
        return;
    }
    auto first = std::find_if(sizes.begin(), sizes.end(), [](uint32_t n) { return n > 0; });
    if (first == sizes.end()) {
        return;
    }
    const uint32_t p0 = uint32_t(first - sizes.begin());
    uint32_t step = 0;
    for (uint32_t c = p0 + 1; c < sizes.size(); ++c) {
        if (sizes[c] > 0) {
            step = std::gcd(step, c - p0);
        }
    }
    // The largest step that leaves a picture rate (a stream of every other 25 frames/s picture
    // dropped is 25 frames/s with drops, not 12.5).
    uint32_t k = 0;
    for (uint32_t d = step; d >= 2; --d) {
        if (step % d == 0 && rate >= kSlowestPictureRate * scale * d) {
            k = d;
            break;
        }
    }
    if (k < 2 || (rate % k != 0 && scale > UINT32_MAX / k)) {
        return;
    }
    S.chunksPerFrame = k;
    S.firstSlotChunk = p0 % k;
    const uint32_t frames = uint32_t((sizes.size() - S.firstSlotChunk + k - 1) / k);
    S.frameChunks.resize(frames);
    uint32_t picture = p0;
    for (uint32_t j = 0; j < frames; ++j) {
        const uint32_t c = S.firstSlotChunk + j * k;
        if (c >= p0 && sizes[c] > 0) {
            picture = c;
        }
        S.frameChunks[j] = picture;
    }
    S.totalFrames = frames;
    if (rate % k == 0) {
        gSourceTiming.rate = uint32_t(rate / k);
    } else {
        gSourceTiming.scale = uint32_t(scale * k);
    }
    gFormatsHooks.setFrameRate(
        int((uint64_t(gSourceTiming.rate) + gSourceTiming.scale / 2) / gSourceTiming.scale));
    Log("Pictures every %u video chunks: %u frames\n", k, frames);
}

} // namespace

int AviOpenRead(const char *path, uint32_t *totalFrames, int *isExtended)
{
    // 1. Clear the flags and out-arguments; reset the rings.
    AviCloseRead();
    S.isDV = S.isOtherDV = S.resultCode = S.isUncompressed = S.isInterleavedDV = 0;
    S.isTopDown = 0;
    S.topDownRowBytes = S.topDownRows = 0;
    S.totalFrames = 0;
    S.superIndexCount = 0;
    S.videoStream = S.audioStream = -1;
    S.audioFormatTag = 0;
    S.audioWarningShown = 0;
    S.frameWidth = S.frameHeight = 0;
    S.lastChunkSize = 0;
    S.lastFramePos = -1;
    S.seekedChunkSize = 0;
    S.idx1Frames.clear();
    S.chunksPerFrame = 1;
    S.firstSlotChunk = 0;
    S.videoChunksRead = 0;
    S.frameChunks.clear();
    std::memset(S.streamFormatBytes, 0, sizeof S.streamFormatBytes);
    S.handlerText[0] = S.compressionText[0] = 0;
    gSourceAudioFormat = SourceAudioFormat{};
    gSourceTiming = SourceTiming{};
    if (totalFrames) {
        *totalFrames = 0;
    }
    if (isExtended) {
        *isExtended = 0;
    }
    gFormatsHooks.resetAudioRings();

    // 2. The diagnostic log.
    S.debugLog = 0;
    if (path && std::strstr(path, "kestradebug")) {
        S.debugFile = std::fopen("avidebug.txt", "w");
        if (S.debugFile) {
            gFormatsHooks.showWarning("avidebug.txt will be created");
            S.debugLog = 1;
        }
    }
    struct CloseLog
    {
        ~CloseLog()
        {
            if (S.debugFile) {
                std::fclose(S.debugFile);
                S.debugFile = nullptr;
            }
        }
    } closeLog;

    // 3. Open. The reader never writes: read-only, so movies on read-only discs and mounts open.
    S.fd = path ? lc::FileOpen(path, lc::FileMode::Read) : lc::kNoFile;
    if (S.fd == lc::kNoFile) {
        S.resultCode = kAviOpenCannotOpen;
        return S.resultCode;
    }
    S.fileSize = lc::FileSize(S.fd);

    // 4.-7. Forms and their chunks up to the first "movi".
    bool firstForm = true;
    bool foundMovi = false;
    uint32_t id = 0;
    if (!ReadFourCC(id)) {
        S.resultCode = kAviOpenTruncated;
    }
    while (S.resultCode != kAviOpenTruncated && !foundMovi) {
        if (id != FourCC("RIFF")) {
            S.resultCode = kAviOpenNotAvi;
            return S.resultCode;
        }
        uint32_t riffSize = 0;
        if (!ReadDword(riffSize)) {
            S.resultCode = kAviOpenTruncated;
            break;
        }
        S.riffBytesLeft = riffSize;
        if (firstForm) {
            firstForm = false;
            uint32_t next = 0;
            int64_t after = 8 + int64_t(riffSize);
            if (SeekTo(after) && ReadFourCC(next) && next == FourCC("RIFF") && isExtended) {
                *isExtended = 1;
            }
            SeekTo(8);
        }
        uint32_t type = 0;
        if (!ReadFourCC(type)) {
            S.resultCode = kAviOpenTruncated;
            break;
        }
        if (type != FourCC("AVI ")) {
            S.resultCode = kAviOpenNotAvi;
            return S.resultCode;
        }
        S.riffBytesLeft -= 4;
        while (S.riffBytesLeft > 0) {
            uint32_t size = 0;
            if (!ReadChunkHeader(id, size)) {
                S.resultCode = kAviOpenTruncated;
                break;
            }
            Log("Found %s chunk, ", lc::FourCCText(id).c_str());
            Log("Length is %u\n", size);
            if (id == FourCC("LIST")) {
                uint32_t listType = 0;
                if (!ReadFourCC(listType)) {
                    S.resultCode = kAviOpenTruncated;
                    break;
                }
                Log("Chunk is type %s\n", lc::FourCCText(listType).c_str());
                if (listType == FourCC("movi")) {
                    S.riffBytesLeft -= 12;
                    S.moviBytesLeft = int64_t(size) - 4;
                    foundMovi = true;
                    break;
                }
                int64_t body = int64_t(size) - 4;
                if (listType == FourCC("hdrl") && body > 0) {
                    if (uint64_t(body) > kMaxHeaderListBytes || body > S.fileSize - Tell()) {
                        S.resultCode =
                            body > S.fileSize - Tell() ? kAviOpenTruncated : kAviOpenNotAvi;
                        break;
                    }
                    std::vector<uint8_t> hdrl(size_t(body), 0);
                    if (!ReadBytes(hdrl.data(), hdrl.size())) {
                        S.resultCode = kAviOpenTruncated;
                        break;
                    }
                    ReadHeaderList(ByteReader(hdrl.data(), hdrl.size()));
                } else if (body > 0 && !Skip(body)) {
                    S.resultCode = kAviOpenTruncated;
                    break;
                }
            } else if (!Skip(size)) {
                S.resultCode = kAviOpenTruncated;
                break;
            }
            S.riffBytesLeft -= int64_t(size) + 8 + SkipPadAfter(size);
            Log("Riff length left %" PRId64 "\n", S.riffBytesLeft);
        }
        if (S.resultCode == kAviOpenTruncated || foundMovi) {
            break;
        }
        Log("End of RIFF\n");
        if (!ReadFourCC(id)) {
            S.resultCode = kAviOpenTruncated;
        }
    }

    // 9. Remember where "movi" starts.
    S.moviStart = Tell();
    S.sequentialPos = S.moviStart;
    S.savedRiffBytesLeft = S.riffBytesLeft;
    S.savedMoviBytesLeft = S.moviBytesLeft;
    S.idx1Pos = 0;
    S.framesRead = 0;
    S.videoChunksRead = 0;
    if (S.resultCode == kAviOpenOk && foundMovi) {
        FindChunksPerFrame();
        SeekTo(S.moviStart);
    }
    if (totalFrames) {
        *totalFrames = S.totalFrames;
    }
    return S.resultCode;
}

const char *AviErrorText(int resultCode)
{
    switch (resultCode) {
    case kAviOpenTruncated:
        return "End of file - part of AVI is missing";
    case kAviOpenNotAvi:
        return "AVI Format error\nThe DV-AVI does not conform to standard";
    case kAviOpenCannotOpen:
        return "Cannot open input file for read & write\nIf the file exists, check if the file is "
               "read-only\nand close any applications that may have created\nor are using this "
               "file";
    case kAviOpenDeepColor:
        return "24 bit color + transparency not supported, use Millions of colors, not Millions+";
    default:
        return "";
    }
}

void AviCloseRead()
{
    if (S.fd != lc::kNoFile) {
        lc::FileClose(S.fd);
        S.fd = lc::kNoFile;
    }
}

int AviGetFrameWidth()
{
    return S.frameWidth;
}
int AviGetFrameHeight()
{
    return S.frameHeight;
}
int AviIsInterleavedDV()
{
    return S.isInterleavedDV;
}

void AviCopyStreamFormat(void **format)
{
    if (!format) {
        return;
    }
    std::free(*format);
    *format = nullptr;
    int slot = S.videoStream < 0 ? 0 : S.videoStream;
    int have = S.streamFormatBytes[slot];
    if (have <= 0) {
        return;
    }
    uint32_t biSize = lc::LoadU32le(S.streamFormats[slot]);
    size_t copy = std::min<size_t>(biSize, size_t(have));
    size_t bytes = std::max<size_t>(copy, kBitmapHeaderBytes);
    auto *block = static_cast<uint8_t *>(std::calloc(1, bytes));
    if (!block) {
        return;
    }
    std::memcpy(block, S.streamFormats[slot], std::min<size_t>(bytes, size_t(have)));
    // Frames are handed on bottom-up (see TurnOverTopDownFrame).
    if (S.isUncompressed && S.isTopDown) {
        int32_t h = int32_t(lc::LoadU32le(block + 8));
        if (h < 0 && h != INT32_MIN) {
            lc::StoreU32le(block + 8, uint32_t(-h));
        }
    }
    *format = block;
}

void AviRewindToMovi()
{
    if (S.fd == lc::kNoFile) {
        return;
    }
    lc::FileSeek(S.fd, S.moviStart, SEEK_SET);
    S.sequentialPos = S.moviStart;
    S.riffBytesLeft = S.savedRiffBytesLeft;
    S.moviBytesLeft = S.savedMoviBytesLeft;
    S.framesRead = 0;
    S.videoChunksRead = 0;
}

int AviReadNextFrame(uint8_t *buffer, int bufferSize)
{
    if (S.fd == lc::kNoFile) {
        return 0;
    }
    LogSession log;
    // 1. Past the last frame: the last frame again (nothing when there was none).
    if (S.framesRead >= S.totalFrames) {
        return ReadLastFrameAgain(buffer, bufferSize);
    }
    // 2. The next video chunk.
    int64_t got = WalkMovi(Walk::Frames, buffer, bufferSize);
    return got > 0 ? int(got) : 0;
}

int AviReadRemainingAudio()
{
    if (S.fd == lc::kNoFile) {
        return 0;
    }
    LogSession log;
    return WalkMovi(Walk::RemainingAudio, nullptr, 0) == kWalkEnded ? 1 : 0;
}

int AviSeekFrame(uint32_t n)
{
    if (S.fd == lc::kNoFile) {
        return 0;
    }
    S.seekedChunkSize = 0;
    if (S.chunksPerFrame > 1) {
        if (n >= S.frameChunks.size()) {
            return 0;
        }
        n = S.frameChunks[n];
    }
    bool found = S.superIndexCount > 0 ? SeekBySuperIndex(n) : SeekByIdx1(n);
    if (!found) {
        S.seekedChunkSize = 0;
    }
    return found ? 1 : 0;
}

int AviReadSeekedFrame(uint8_t *buffer, int bufferSize)
{
    if (S.fd == lc::kNoFile || S.seekedChunkSize == 0 || !buffer || bufferSize < 0
        || S.seekedChunkSize > uint32_t(bufferSize)) {
        return 0;
    }
    if (!ReadBytes(buffer, S.seekedChunkSize)) {
        return 0;
    }
    TurnOverTopDownFrame(buffer, S.seekedChunkSize);
    return int(S.seekedChunkSize);
}
