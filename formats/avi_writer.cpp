#include "formats/avi_writer.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "formats/avi_reader.h"
#include "formats/formats_hooks.h"
#include "formats/source_audio_format.h"
#include "formats/source_timing.h"
#include "platform/sys/bytes.h"
#include "platform/sys/file.h"
#include "platform/sys/text.h"

AviWriteState gAviWriteState;

namespace {

AviWriteState &W = gAviWriteState;

constexpr uint32_t kHdrlBytes = 96768;          // "hdrl" list data, for every movie
constexpr uint32_t kInfoBytes = 8192;           // "INFO" list data
constexpr uint32_t kTdatRoomBytes = 248;        // "Tdat" list data plus the JUNK after it
constexpr uint32_t kStandardIndexBytes = 32256; // whole ix chunk with its header
constexpr int kStandardIndexEntries = 3500;
constexpr uint32_t kSuperIndexChunkBytes = 32248;
constexpr uint32_t kDmlhBytes = 248;
constexpr uint32_t kDefaultAudioSuggestedBuffer = 200000;

// Zero filler for JUNK chunks and reserved rooms: no allocation per segment.
const uint8_t kZeros[32256] = {};

void ReportWriteError()
{
    if (!W.writeErrorShown) {
        W.writeErrorShown = 1;
        gFormatsHooks.showError("Write AVI file error - disk full, or folder read-only, or file in "
                                "use by another application?");
    }
}

void WriteZeros(uint64_t n)
{
    while (n > 0) {
        uint64_t piece = std::min<uint64_t>(n, sizeof kZeros);
        AviWriteBytes(kZeros, piece);
        n -= piece;
    }
}

void WritePad(uint32_t length)
{
    if (length & 1) {
        AviWriteBytes(kZeros, 1);
    }
}

// A text chunk: the text with its NUL, padded to even length (the size does not count the pad).
void WriteTextChunk(const char *id, const char *text)
{
    uint32_t size = uint32_t(std::strlen(text)) + 1;
    AviWriteFourCC(id);
    AviWriteDword(size);
    AviWriteBytes(text, size);
    WritePad(size);
}

// A fixed-size field holding text, zero after its end (no NUL when the text fills it).
void WriteFixedText(const char *id, const char *text, uint32_t size)
{
    char field[64] = {};
    std::strncpy(field, text, std::min<size_t>(size, sizeof field));
    AviWriteFourCC(id);
    AviWriteDword(size);
    AviWriteBytes(field, size);
}

void WriteSuperIndex(const char *chunkId, int64_t &countPos, int64_t &firstEntryPos)
{
    AviWriteFourCC("indx");
    AviWriteDword(kSuperIndexChunkBytes);
    AviWriteWord(4); // wLongsPerEntry
    AviWriteWord(0); // bIndexSubType, bIndexType (index of indexes)
    // Entries in use grow with the segments written, so a reader never sees empty entries.
    countPos = AviWriteSizeField(0);
    AviWriteFourCC(chunkId);
    WriteZeros(12);
    firstEntryPos = AviWriteTell();
    WriteZeros(uint64_t(kAviSuperIndexRoom) * 16);
}

void ReserveIndexRooms()
{
    W.ix00JunkPos = AviWriteTell();
    AviWriteFourCC("JUNK");
    AviWriteDword(kAviIndexRoomBytes);
    WriteZeros(kAviIndexRoomBytes);
    W.ix01JunkPos = AviWriteTell();
    AviWriteFourCC("JUNK");
    AviWriteDword(kAviIndexRoomBytes);
    WriteZeros(kAviIndexRoomBytes);
}

void OpenNewSegment()
{
    if (W.segmentIndex >= kAviSuperIndexRoom) {
        W.failed = 1;
        gFormatsHooks.showError("AVI output too long: the index has room for 2014 segments");
        return;
    }
    AviWriteFourCC("RIFF");
    W.riffSizePos = AviWriteSizeField(0);
    W.riffSize = 0;
    AviWriteFourCC("AVIX");
    AviWriteFourCC("LIST");
    W.moviSizePos = AviWriteSizeField(0);
    W.moviSize = 0;
    AviWriteFourCC("movi");
    W.segVideoCount = 0;
    W.newSegmentDue = 0;
    ReserveIndexRooms();
}

void WriteStandardIndex(int64_t at, const char *id, const char *chunkId, int count,
                        const int64_t *off, const uint32_t *size)
{
    int entries = std::min(count, kStandardIndexEntries);
    int64_t base = entries > 0 ? off[0] - 8 : 0;
    lc::ByteWriter b;
    b.fourcc(lc::FourCC("ix00"));
    b.u32le(kAviIndexRoomBytes);
    b.u16le(2);      // wLongsPerEntry
    b.u16le(0x0100); // bIndexSubType 0, bIndexType 1 (index of chunks)
    b.u32le(uint32_t(entries));
    b.bytes(chunkId, 4);
    b.u64le(uint64_t(base));
    b.u32le(0);
    for (int k = 0; k < entries; ++k) {
        b.u32le(uint32_t(off[k] - base));
        b.u32le(size[k] & 0x7fffffff);
    }
    std::memcpy(b.buffer().data(), id, 4);
    // Written over the reserved chunk, as one positioned write.
    int64_t back = AviWriteTell();
    if (lc::FileSeek(W.fd, at, SEEK_SET) != at
        || lc::FileWrite(W.fd, b.buffer().data(), b.size()) != int64_t(b.size())) {
        ReportWriteError();
    }
    lc::FileSeek(W.fd, back, SEEK_SET);
}

void WriteSuperEntry(int64_t firstEntryPos, int64_t countPos, int &count, int64_t ixPos,
                     uint32_t duration)
{
    int64_t entry = firstEntryPos + int64_t(count) * 16;
    AviPatchQword(entry, uint64_t(ixPos));
    AviPatchDword(entry + 8, kStandardIndexBytes);
    AviPatchDword(entry + 12, duration);
    count += 1;
    AviPatchDword(countPos, uint32_t(count));
}

// The segment end rule after a chunk of either stream.
void AfterChunk(int streamCount)
{
    if (W.idx1Count > kAviIdx1Room - 1) {
        gFormatsHooks.showError("Indx1 buffer size exceeded, contact ");
        AviFinishSegment();
        W.newSegmentDue = 1;
    } else if (W.moviSize > kAviSegmentBytes || streamCount >= W.framesPerSegment) {
        AviFinishSegment();
        W.newSegmentDue = 1;
    }
}

bool Writable()
{
    return W.fd != -1 && !W.failed;
}

int BeginWithBitmap(const char *path, uint32_t totalFrames, uint32_t rate, uint32_t scale,
                    int width, int height, uint32_t compression, uint32_t sizeImage)
{
    AviBitmapHeader bih;
    bih.biWidth = width;
    bih.biHeight = height;
    bih.biCompression = compression;
    bih.biSizeImage = sizeImage;
    return AviWriteHeader(path, totalFrames, scale, rate, path, 0, &bih);
}

} // namespace

uint32_t MakeFourCC(const char *text)
{
    uint32_t v = 0;
    for (int i = 0; i < 4 && text && text[i]; ++i) {
        v |= uint32_t(uint8_t(text[i])) << (8 * i);
    }
    return v;
}

void SetOutputFrameSize(int width, int height)
{
    gAviReadState.frameWidth = width;
    gAviReadState.frameHeight = height;
}

int AviOpenWrite(const char *path)
{
    // Truncated, so no stale tail of an older, longer file survives.
    int fd = path ? lc::FileOpen(path, lc::FileMode::Create) : lc::kNoFile;
    if (fd == lc::kNoFile) {
        char text[512];
        (void)lc::FormatText(text, sizeof text, "Could not open %s for writing.", path ? path : "");
        gFormatsHooks.showError(text);
        return -1;
    }
    return fd;
}

void AviCloseWrite()
{
    if (W.fd != -1) {
        lc::FileClose(W.fd);
        W.fd = -1;
    }
}

int64_t AviWriteTell()
{
    if (W.fd == -1) {
        return 0;
    }
    return lc::FileTell(W.fd);
}

void AviWriteBytes(const void *data, uint64_t length)
{
    if (!Writable() || length == 0) {
        return;
    }
    if (!data || lc::FileWrite(W.fd, data, size_t(length)) != int64_t(length)) {
        ReportWriteError();
        return;
    }
    W.riffSize += length;
    W.moviSize += length;
}

void AviWriteFourCC(const char *code)
{
    uint8_t b[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; i < 4 && code && code[i]; ++i) {
        b[i] = uint8_t(code[i]);
    }
    AviWriteBytes(b, 4);
}

void AviWriteDword(uint32_t value)
{
    uint8_t b[4];
    lc::StoreU32le(b, value);
    AviWriteBytes(b, 4);
}

void AviWriteWord(uint16_t value)
{
    uint8_t b[2];
    lc::StoreU16le(b, value);
    AviWriteBytes(b, 2);
}

int64_t AviWriteSizeField(uint32_t value)
{
    int64_t pos = AviWriteTell();
    AviWriteDword(value);
    return pos;
}

namespace {
void PatchBytes(int64_t pos, const uint8_t *b, size_t n)
{
    if (W.fd == -1) {
        return;
    }
    int64_t back = lc::FileTell(W.fd);
    if (back < 0 || lc::FileSeek(W.fd, pos, SEEK_SET) != pos
        || lc::FileWrite(W.fd, b, n) != int64_t(n)) {
        ReportWriteError();
    }
    if (back >= 0) {
        lc::FileSeek(W.fd, back, SEEK_SET);
    }
}
} // namespace

void AviPatchDword(int64_t pos, uint32_t value)
{
    uint8_t b[4];
    lc::StoreU32le(b, value);
    PatchBytes(pos, b, 4);
}

void AviPatchWord(int64_t pos, uint16_t value)
{
    uint8_t b[2];
    lc::StoreU16le(b, value);
    PatchBytes(pos, b, 2);
}

void AviPatchQword(int64_t pos, uint64_t value)
{
    uint8_t b[8];
    lc::StoreU64le(b, value);
    PatchBytes(pos, b, 8);
}

void AviPatchFourCC(int64_t pos, const char *code)
{
    uint8_t b[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; i < 4 && code && code[i]; ++i) {
        b[i] = uint8_t(code[i]);
    }
    PatchBytes(pos, b, 4);
}

int AviBeginDV(const char *path, uint32_t totalFrames, int isPal)
{
    int height = isPal ? 576 : gFormatsHooks.ntscOutputHeight();
    bool uncompressed = gFormatsHooks.uncompressedOutput() != 0;
    uint32_t sizeImage = uncompressed ? uint32_t(2160 * height) : (isPal ? 144000u : 120000u);
    return BeginWithBitmap(path, totalFrames, gSourceTiming.rate, gSourceTiming.scale, 720, height,
                           uncompressed ? 0 : MakeFourCC("dvsd"), sizeImage);
}

int AviBeginDV50(const char *path, uint32_t totalFrames, int isPal)
{
    int height = isPal ? 576 : gFormatsHooks.ntscOutputHeight();
    return BeginWithBitmap(path, totalFrames, gSourceTiming.rate, gSourceTiming.scale, 720, height,
                           MakeFourCC("dv50"), isPal ? 288000u : 240000u);
}

int AviBeginRGB(const char *path, uint32_t totalFrames, uint32_t rate, uint32_t scale, int height,
                int width)
{
    uint32_t sizeImage = uint32_t(std::max(width, 0)) * uint32_t(std::max(height, 0)) * 3;
    return BeginWithBitmap(path, totalFrames, rate, scale, width, height, 0, sizeImage);
}

int AviWriteHeader(const char *path, uint32_t totalFrames, uint32_t scale, uint32_t rate,
                   const char *reelName, int64_t startTime, const void *bitmapHeader)
{
    // 1. Segment size, announced segments, refusals, the file.
    AviCloseWrite();
    W.writeErrorShown = 0;
    W.failed = 0;
    if (!bitmapHeader) {
        return 0;
    }
    const auto *bh = static_cast<const uint8_t *>(bitmapHeader);
    uint32_t biSize = lc::LoadU32le(bh);
    int32_t biWidth = int32_t(lc::LoadU32le(bh + 4));
    int32_t biHeight = int32_t(lc::LoadU32le(bh + 8));
    uint32_t biCompression = lc::LoadU32le(bh + 16);
    uint32_t biSizeImage = lc::LoadU32le(bh + 20);
    uint32_t fps = biSizeImage == 0
                       ? kAviFramesPerSegmentNoSize
                       : std::min<uint32_t>(kAviSegmentBytes / biSizeImage, kAviMaxSegmentFrames);
    fps = std::max<uint32_t>(fps, 1); // frames above 1 GiB: one a segment
    W.framesPerSegment = int(fps);
    uint64_t announced = totalFrames == 0 ? 1 : (uint64_t(totalFrames) - 1) / fps + 1;
    if (announced > uint64_t(kAviSuperIndexRoom)) {
        gFormatsHooks.showError("AVI output too long: the index has room for 2014 segments");
        return 0;
    }
    uint32_t formatBytes = std::max<uint32_t>(40, biSize);
    if (formatBytes > uint32_t(kAviMaxVideoFormatBytes)) {
        gFormatsHooks.showError("AVI video format too large for the AVI header");
        return 0;
    }
    W.fd = AviOpenWrite(path);
    if (W.fd == -1) {
        return 0;
    }
    int width = biWidth;
    int height = biHeight < 0 ? -biHeight : biHeight;

    // The audio format of the conversion; a source without sound still gets 48 kHz stereo.
    int channels = gSourceAudioFormat.channels;
    int sampleRate = gSourceAudioFormat.samplesPerSecond;
    int bits = gSourceAudioFormat.bitsPerSample;
    if (channels <= 0 || sampleRate <= 0 || bits <= 0 || channels * bits / 8 <= 0) {
        channels = 2;
        sampleRate = 48000;
        bits = 16;
    }
    int blockAlign = channels * ((bits + 7) / 8);
    W.audioBlockAlign = blockAlign;

    // 2. The form.
    AviWriteFourCC("RIFF");
    W.riffSizePos = AviWriteSizeField(0);
    W.riffSize = 0;
    AviWriteFourCC("AVI ");

    // 3. The header list.
    AviWriteFourCC("LIST");
    AviWriteDword(kHdrlBytes);
    W.moviSize = 0;
    AviWriteFourCC("hdrl");

    // 4. Main header.
    uint64_t microSec = rate == 0 ? 0 : (uint64_t(scale) * 1000000 + rate / 2) / rate;
    uint64_t maxBytes = scale == 0 ? 0 : uint64_t(biSizeImage) * rate / scale;
    lc::ByteWriter avih;
    avih.u32le(uint32_t(microSec));
    avih.u32le(uint32_t(std::min<uint64_t>(maxBytes, UINT32_MAX)));
    avih.u32le(0);
    avih.u32le(0x810);
    avih.u32le(totalFrames);
    avih.u32le(0);
    avih.u32le(2);
    avih.u32le(uint32_t(std::min<uint64_t>(uint64_t(biSizeImage) * 2, UINT32_MAX)));
    avih.u32le(uint32_t(width));
    avih.u32le(uint32_t(biHeight));
    avih.zeros(16);
    std::memcpy(W.mainHeader, avih.buffer().data(), 56);
    gAviReadState.frameWidth = width;
    gAviReadState.frameHeight = height;
    AviWriteFourCC("avih");
    AviWriteDword(56);
    int64_t avihPos = AviWriteTell();
    W.avihTotalFramesPos = avihPos + 16;
    W.avihSuggestedBufferPos = avihPos + 28;
    AviWriteBytes(W.mainHeader, 56);

    // 5. Video stream list.
    uint32_t paddedFormat = (formatBytes + 1) & ~1u;
    AviWriteFourCC("LIST");
    AviWriteDword(paddedFormat + 32332);
    AviWriteFourCC("strl");
    lc::ByteWriter strh;
    strh.fourcc(lc::FourCC("vids"));
    strh.u32le(biCompression == 0 ? MakeFourCC("DIB ") : biCompression);
    strh.u32le(0);
    strh.u16le(0);
    strh.u16le(0);
    strh.u32le(0);
    strh.u32le(scale);
    strh.u32le(rate);
    strh.u32le(0);
    strh.u32le(totalFrames);
    strh.u32le(biSizeImage + 45);
    strh.u32le(0);
    strh.u32le(0);
    strh.u16le(0);
    strh.u16le(0);
    strh.u16le(uint16_t(width));
    strh.u16le(uint16_t(height));
    std::memcpy(W.videoStreamHeader, strh.buffer().data(), 56);
    AviWriteFourCC("strh");
    AviWriteDword(56);
    int64_t strhPos = AviWriteTell();
    gAviReadState.handlerFieldPos = strhPos + 4;
    W.videoLengthPos = strhPos + 32;
    W.videoSuggestedBufferPos = strhPos + 36;
    AviWriteBytes(W.videoStreamHeader, 56);

    uint8_t *strf = gAviReadState.streamFormats[0];
    std::memset(strf, 0, kAviStreamFormatBytes);
    std::memcpy(strf, bh, std::min<uint32_t>(std::max<uint32_t>(biSize, 40), formatBytes));
    lc::StoreU32le(strf, formatBytes);
    lc::StoreU32le(strf + 20, uint32_t(width) * uint32_t(height) * 3);
    if (lc::LoadU32le(strf + 24) == 0) {
        lc::StoreU32le(strf + 24, 2835);
    }
    if (lc::LoadU32le(strf + 28) == 0) {
        lc::StoreU32le(strf + 28, 2835);
    }
    gAviReadState.streamFormatBytes[0] = int(formatBytes);
    AviWriteFourCC("strf");
    AviWriteDword(formatBytes);
    gAviReadState.compressionFieldPos = AviWriteTell() + 16;
    AviWriteBytes(strf, formatBytes);
    WritePad(formatBytes);
    WriteSuperIndex("00db", W.videoSuperCountPos, W.videoSuperFirstEntryPos);

    // 6. Audio stream list.
    AviWriteFourCC("LIST");
    AviWriteDword(32360);
    AviWriteFourCC("strl");
    lc::ByteWriter ash;
    ash.fourcc(lc::FourCC("auds"));
    ash.u32le(0);
    ash.u32le(0);
    ash.u16le(0);
    ash.u16le(0);
    ash.u32le(0);
    ash.u32le(uint32_t(blockAlign));
    ash.u32le(uint32_t(blockAlign * sampleRate));
    ash.u32le(0);
    ash.u32le(0);
    ash.u32le(kDefaultAudioSuggestedBuffer);
    ash.u32le(0);
    ash.u32le(uint32_t(blockAlign));
    ash.zeros(8);
    std::memcpy(W.audioStreamHeader, ash.buffer().data(), 56);
    AviWriteFourCC("strh");
    AviWriteDword(56);
    int64_t ashPos = AviWriteTell();
    W.audioLengthPos = ashPos + 32;
    W.audioSuggestedBufferPos = ashPos + 36;
    AviWriteBytes(W.audioStreamHeader, 56);
    lc::ByteWriter wf;
    wf.u16le(1);
    wf.u16le(uint16_t(channels));
    wf.u32le(uint32_t(sampleRate));
    wf.u32le(uint32_t(sampleRate * blockAlign));
    wf.u16le(uint16_t(blockAlign));
    wf.u16le(uint16_t(bits));
    wf.u16le(0);
    std::memcpy(W.audioFormat, wf.buffer().data(), 18);
    AviWriteFourCC("strf");
    AviWriteDword(18);
    AviWriteBytes(W.audioFormat, 18);
    AviWriteFourCC("JUNK");
    AviWriteDword(2);
    WriteZeros(2);
    WriteSuperIndex("01wb", W.audioSuperCountPos, W.audioSuperFirstEntryPos);

    // 7. OpenDML header.
    AviWriteFourCC("LIST");
    AviWriteDword(kDmlhBytes + 12);
    AviWriteFourCC("odml");
    AviWriteFourCC("dmlh");
    AviWriteDword(kDmlhBytes);
    W.dmlhTotalFramesPos = AviWriteSizeField(totalFrames);
    WriteZeros(kDmlhBytes - 4);

    // 8. Fill the header list to its fixed size.
    uint32_t junk = uint32_t(kHdrlBytes - 8 - W.moviSize);
    AviWriteFourCC("JUNK");
    AviWriteDword(junk);
    WriteZeros(junk);

    // 9. INFO: tape name, start and end time, version.
    char reel[kAviMaxReelNameChars + 1];
    (void)lc::CopyText(reel, sizeof reel, reelName ? reelName : "");
    AviWriteFourCC("LIST");
    AviWriteDword(kInfoBytes);
    W.moviSize = 0;
    AviWriteFourCC("INFO");
    WriteTextChunk("TAPE", reel);
    char text[32];
    (void)lc::FormatText(text, sizeof text, "%" PRId64, startTime);
    WriteTextChunk("TCOD", text);
    int64_t endTime = startTime;
    if (rate != 0) {
        endTime += int64_t(__int128(totalFrames) * scale * 10000000 / rate);
    }
    (void)lc::FormatText(text, sizeof text, "%" PRId64, endTime);
    WriteTextChunk("TCDO", text);
    WriteTextChunk("VMAJ", "4");
    WriteTextChunk("VMIN", "0");
    junk = uint32_t(kInfoBytes - 8 - W.moviSize);
    AviWriteFourCC("JUNK");
    AviWriteDword(junk);
    WriteZeros(junk);

    // 10. Timecode text of the start time.
    int64_t tcFps = scale == 0 ? 0 : (int64_t(rate) + scale / 2) / scale;
    uint32_t frames = 0;
    if (tcFps == 25) {
        frames = uint32_t(startTime * 25 / 10000000);
    } else if (tcFps > 0) {
        frames = uint32_t(int64_t(__int128(startTime) * tcFps / 10010000));
    }
    uint32_t fpsDiv = tcFps > 0 ? uint32_t(tcFps) : 1;
    uint32_t seconds = frames / fpsDiv;
    uint32_t minutes = seconds / 60;
    uint32_t hours = minutes / 60;
    char timecode[32];
    (void)lc::FormatText(timecode, sizeof timecode, "%02u:%02u:%02u:%02u", hours, minutes % 60,
                         seconds % 60, frames % fpsDiv);

    // 11. Tdat: timecode and reel name, then JUNK to the room of a 256-byte list.
    AviWriteFourCC("LIST");
    int64_t tdatSizePos = AviWriteSizeField(256);
    W.moviSize = 0;
    AviWriteFourCC("Tdat");
    WriteFixedText("tc_O", timecode, 18);
    WriteFixedText("tc_A", timecode, 18);
    WriteFixedText("rn_O", reel, 40);
    WriteFixedText("rn_A", reel, 40);
    uint32_t tdat = uint32_t(W.moviSize);
    AviPatchDword(tdatSizePos, tdat);
    AviWriteFourCC("JUNK");
    AviWriteDword(kTdatRoomBytes - tdat);
    WriteZeros(kTdatRoomBytes - tdat);

    // 12. The first movi list.
    AviWriteFourCC("LIST");
    W.moviSizePos = AviWriteSizeField(0);
    W.moviSize = 0;
    AviWriteFourCC("movi");

    // 13. Chunk bookkeeping.
    W.idx1Count = 0;
    W.totalVideoFrames = 0;
    W.segAudioCount = 0;
    W.segVideoCount = 0;
    W.maxAudioChunk = 0;
    W.maxVideoChunk = 0;
    W.newSegmentDue = 0;
    W.segmentIndex = 0;
    W.segAudioSamples = 0;
    W.totalAudioSamples = 0;
    W.videoSuperCount = 0;
    W.audioSuperCount = 0;

    // 14. Room for the first standard indexes.
    ReserveIndexRooms();
    W.firstIx00JunkPos = W.ix00JunkPos;
    return W.writeErrorShown ? 0 : 1;
}

namespace {

// Opens a due segment and writes the chunk header; the data position, or -1 when nothing can be
// written.
int64_t BeginChunk(const char *id, uint32_t length)
{
    if (!Writable()) {
        return -1;
    }
    if (W.newSegmentDue) {
        OpenNewSegment();
        if (!Writable()) {
            return -1;
        }
    }
    AviWriteFourCC(id);
    AviWriteDword(length);
    return AviWriteTell();
}

// The chunk in "idx1" order: type 2 video, 1 audio.
void RecordIdx1(int64_t pos, uint32_t length, uint8_t type)
{
    W.idx1Off[W.idx1Count] = pos;
    W.idx1Size[W.idx1Count] = length;
    W.idx1Type[W.idx1Count] = type;
    W.idx1Count += 1;
}

} // namespace

void AviWriteVideoFrame(const void *data, uint32_t length)
{
    int64_t p = BeginChunk("00db", length);
    if (p < 0) {
        return;
    }
    AviWriteBytes(data, length);
    WritePad(length);
    W.maxVideoChunk = std::max(W.maxVideoChunk, length);
    W.segVideoOff[W.segVideoCount] = p;
    W.segVideoSize[W.segVideoCount] = length;
    W.segVideoCount += 1;
    W.totalVideoFrames += 1;
    RecordIdx1(p, length, 2);
    AfterChunk(W.segVideoCount);
}

void AviWriteAudioChunk(const char *, const void *data, uint32_t length)
{
    int64_t p = BeginChunk("01wb", length);
    if (p < 0) {
        return;
    }
    W.maxAudioChunk = std::max(W.maxAudioChunk, length);
    RecordIdx1(p, length, 1);
    W.segAudioOff[W.segAudioCount] = p;
    W.segAudioSize[W.segAudioCount] = length;
    W.segAudioCount += 1;
    AviWriteBytes(data, length);
    WritePad(length);
    if (W.audioBlockAlign > 0) {
        uint32_t samples = length / uint32_t(W.audioBlockAlign);
        W.segAudioSamples += samples;
        W.totalAudioSamples += samples;
    }
    AfterChunk(W.segAudioCount);
}

void AviFinishSegment()
{
    if (!Writable()) {
        return;
    }
    // 1. The movi list size.
    AviPatchDword(W.moviSizePos, uint32_t(W.moviSize));
    // 2. The legacy index of the first form (offsets are absolute file positions).
    if (W.segmentIndex == 0) {
        AviWriteFourCC("idx1");
        AviWriteDword(uint32_t(W.idx1Count + 1) * 16);
        lc::ByteWriter b;
        b.fourcc(lc::FourCC("7Fxx"));
        b.u32le(0);
        b.u32le(uint32_t(W.firstIx00JunkPos));
        b.u32le(0);
        for (int i = 0; i < W.idx1Count; ++i) {
            bool video = W.idx1Type[i] == 2;
            b.fourcc(video ? lc::FourCC("00db") : lc::FourCC("01wb"));
            b.u32le(video ? 0x10 : 0);
            b.u32le(uint32_t(W.idx1Off[i] - 8));
            b.u32le(W.idx1Size[i]);
        }
        AviWriteBytes(b.buffer().data(), b.size());
    }
    // 3.-4. Standard indexes over the reserved rooms.
    WriteStandardIndex(W.ix00JunkPos, "ix00", "00db", W.segVideoCount, W.segVideoOff,
                       W.segVideoSize);
    if (W.segAudioCount > 0) {
        WriteStandardIndex(W.ix01JunkPos, "ix01", "01wb", W.segAudioCount, W.segAudioOff,
                           W.segAudioSize);
    }
    // 5. The form size.
    AviPatchDword(W.riffSizePos, uint32_t(W.riffSize));
    // 6.-7. Super index entries, numbered per stream so no empty entry is left between them.
    if (W.segVideoCount > 0) {
        WriteSuperEntry(W.videoSuperFirstEntryPos, W.videoSuperCountPos, W.videoSuperCount,
                        W.ix00JunkPos, uint32_t(W.segVideoCount));
    }
    if (W.segAudioCount > 0) {
        WriteSuperEntry(W.audioSuperFirstEntryPos, W.audioSuperCountPos, W.audioSuperCount,
                        W.ix01JunkPos, W.segAudioSamples);
    }
    // 8. Next segment.
    W.segVideoCount = 0;
    W.segAudioSamples = 0;
    W.segAudioCount = 0;
    W.idx1Count = 0;
    W.segmentIndex += 1;
}

void AviPatchTotals()
{
    AviPatchDword(W.avihTotalFramesPos, W.totalVideoFrames);
    AviPatchDword(W.videoLengthPos, W.totalVideoFrames);
    AviPatchDword(W.dmlhTotalFramesPos, W.totalVideoFrames);
    AviPatchDword(W.videoSuggestedBufferPos, W.maxVideoChunk + 16);
    AviPatchDword(W.avihSuggestedBufferPos, 2 * std::max(W.maxVideoChunk, W.maxAudioChunk));
    AviPatchDword(W.audioLengthPos, W.totalAudioSamples);
    AviPatchDword(W.audioSuggestedBufferPos, W.maxAudioChunk + 16);
}

void AviCloseOutput()
{
    if (W.fd == -1) {
        return;
    }
    if (!W.newSegmentDue) {
        AviFinishSegment();
    }
    AviPatchTotals();
    AviCloseWrite();
}
