extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <cstring>

#include "platform/media/internal/movie_model.h"
#include "platform/sys/bytes.h"

// Importers for files that are not QuickTime movies: raw DV and DV AVI files (either kind, with
// their sound; demultiplexed by libavformat), AIFF sound and JPEG pictures. Each builds the same
// model a movie file gives, with the samples left in the file wherever the bytes allow.

namespace lc::media {
namespace {

constexpr uint32_t kMaxChunkFrames = 1u << 20;
constexpr int64_t kMaxJpegScan = int64_t(16) << 20; // markers before the frame header
constexpr TimeScale kPictureScale = 600;

OSErr Fail(std::string *why, OSErr code, const char *what)
{
    if (why && why->empty()) {
        *why = what;
    }
    return code;
}

std::vector<uint8_t> SoundDescriptionBytes(OSType format, int channels, int bits, uint32_t rate)
{
    auto h = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(36));
    if (!h) {
        return {};
    }
    (**h).descSize = 36;
    (**h).dataFormat = format;
    (**h).dataRefIndex = 1;
    (**h).numChannels = int16_t(channels);
    (**h).sampleSize = int16_t(bits);
    (**h).sampleRate = rate << 16;
    auto bytes = DescriptionToFile(SoundMediaType, reinterpret_cast<SampleDescriptionHandle>(h));
    DisposeHandle(reinterpret_cast<Handle>(h));
    return bytes;
}

std::vector<uint8_t> ImageDescriptionBytes(OSType codec, int width, int height, int32_t dataSize,
                                           const char *name)
{
    auto h = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(86));
    if (!h) {
        return {};
    }
    ImageDescription &d = **h;
    d.idSize = 86;
    d.cType = codec;
    d.dataRefIndex = 1;
    d.vendor = FourCC("appl");
    d.spatialQuality = 0x200;
    d.width = int16_t(width);
    d.height = int16_t(height);
    d.hRes = 72 << 16;
    d.vRes = 72 << 16;
    d.dataSize = dataSize;
    d.frameCount = 1;
    size_t n = std::min<size_t>(std::strlen(name), 31);
    d.name[0] = char(n);
    std::memcpy(d.name + 1, name, n);
    d.depth = 24;
    d.clutID = -1;
    auto bytes = DescriptionToFile(VideoMediaType, reinterpret_cast<SampleDescriptionHandle>(h));
    DisposeHandle(reinterpret_cast<Handle>(h));
    return bytes;
}

MediaRecord *AddTrack(MovieRecord *movie, OSType type, TimeScale scale, int width, int height)
{
    TrackRecord *t = NewTrackFor(movie, width << 16, height << 16,
                                 short(type == SoundMediaType ? 0x100 : 0));
    return t ? NewMediaFor(t, type, scale) : nullptr;
}

// Appends sound frames at offset of data file `data`, extending the last chunk when they follow.
void AddFrames(MediaRecord *m, uint8_t data, int64_t offset, uint32_t frames)
{
    const FrameLayout &l = m->layouts[0];
    if (!m->chunks.empty()) {
        ChunkEntry &c = m->chunks.back();
        if (c.data == data && c.offset + int64_t(c.frames) * l.bytesPerPacket == offset
            && c.frames + frames <= kMaxChunkFrames) {
            c.frames += frames;
            m->frameCount += frames;
            return;
        }
    }
    m->chunks.push_back({offset, m->frameCount, frames, 0, data});
    m->frameCount += frames;
}

// Every track plays its whole media from time 0.
void FinishMovie(MovieRecord *movie)
{
    for (auto &t : movie->tracks) {
        Edit e;
        e.mediaTime = 0;
        e.duration = ScaleTime(t->media->Duration(), movie->timeScale, t->media->timeScale);
        if (e.duration > 0) {
            t->edits.push_back(e);
        }
    }
}

// ---- AIFF ------------------------------------------------------------------------------------

double Extended80(const uint8_t *p)
{
    int exponent = ((p[0] & 0x7f) << 8) | p[1];
    uint64_t mantissa = 0;
    for (int i = 0; i < 8; ++i) {
        mantissa = (mantissa << 8) | p[2 + i];
    }
    if (exponent == 0 && mantissa == 0) {
        return 0;
    }
    double v = std::ldexp(double(mantissa), exponent - 16383 - 63);
    return (p[0] & 0x80) ? -v : v;
}

OSErr ImportAiff(const std::shared_ptr<DataFile> &file, int64_t fileSize, bool aifc, Movie *out,
                 std::string *why)
{
    int channels = 0, bits = 0;
    uint32_t frames = 0;
    double rate = 0;
    OSType format = FourCC("twos");
    int64_t dataAt = -1, dataBytes = 0;
    int64_t pos = 12;
    while (fileSize - pos >= 8) {
        uint8_t h[8];
        if (!file->ReadAt(pos, h, 8)) {
            return Fail(why, ioErr, "cannot read AIFF chunk");
        }
        uint32_t type = LoadU32be(h); // chunk id, then its size
        int64_t size = LoadU32be(h + 4);
        int64_t body = pos + 8;
        int64_t avail = fileSize - body;
        if (type == FourCC("COMM")) {
            uint8_t c[22] = {};
            size_t n = size_t(std::min<int64_t>(22, std::min(size, avail)));
            if (size < 18 || avail < 18 || !file->ReadAt(body, c, n)) {
                return Fail(why, badFormat, "truncated AIFF COMM chunk");
            }
            channels = int16_t(LoadU16be(c));
            frames = LoadU32be(c + 2);
            bits = int16_t(LoadU16be(c + 6));
            rate = Extended80(c + 8);
            if (aifc) {
                if (size < 22 || avail < 22) {
                    return Fail(why, badFormat, "truncated AIFC COMM chunk");
                }
                OSType compression = LoadU32be(c + 18);
                if (compression == FourCC("sowt")) {
                    format = FourCC("sowt");
                } else if (compression != FourCC("NONE") && compression != FourCC("twos")) {
                    return Fail(why, badFormat, "compressed AIFC sound");
                }
            }
        } else if (type == FourCC("SSND")) {
            uint8_t s[8];
            if (size < 8 || avail < 8 || !file->ReadAt(body, s, 8)) {
                return Fail(why, badFormat, "truncated AIFF SSND chunk");
            }
            int64_t offset = LoadU32be(s);
            dataAt = body + 8 + offset;
            dataBytes = std::min(size, avail) - 8 - offset;
        }
        pos = body + size + (size & 1);
    }
    if (channels < 1 || channels > 16 || bits < 8 || bits > 32 || !(rate >= 1 && rate <= 768000)
        || dataAt < 0 || dataBytes <= 0) {
        return Fail(why, badFormat, "AIFF file without usable sound");
    }
    uint32_t frameBytes = uint32_t(channels * ((bits + 7) / 8));
    int64_t held = dataBytes / frameBytes;
    int64_t total = std::min<int64_t>(frames, held);
    if (total <= 0 || total > INT32_MAX) {
        return Fail(why, badFormat, "AIFF file without usable sound");
    }
    auto movie = std::make_unique<MovieRecord>();
    MediaRecord *m = AddTrack(movie.get(), SoundMediaType, TimeScale(std::lround(rate)), 0, 0);
    m->files.push_back(file);
    m->descriptions.push_back(SoundDescriptionBytes(format, channels, bits, uint32_t(std::lround(rate))));
    m->layouts.push_back({frameBytes, 1});
    for (int64_t at = 0; at < total; at += kMaxChunkFrames) {
        uint32_t n = uint32_t(std::min<int64_t>(kMaxChunkFrames, total - at));
        m->chunks.push_back({dataAt + at * frameBytes, at, n, 0, 0});
    }
    m->frameCount = total;
    FinishMovie(movie.get());
    *out = movie.release();
    return noErr;
}

// ---- JPEG ------------------------------------------------------------------------------------

OSErr ImportJpeg(const std::shared_ptr<DataFile> &file, int64_t fileSize, Movie *out,
                 std::string *why)
{
    // Walk the markers to the frame header for the picture's size.
    int64_t pos = 2;
    int width = 0, height = 0;
    int64_t limit = std::min(fileSize, kMaxJpegScan);
    while (limit - pos >= 4) {
        uint8_t m[4];
        if (!file->ReadAt(pos, m, 4)) {
            return Fail(why, ioErr, "cannot read JPEG marker");
        }
        if (m[0] != 0xff) {
            return Fail(why, badFormat, "bad JPEG marker");
        }
        if (m[1] == 0xff) {
            ++pos; // fill byte
            continue;
        }
        int64_t length = LoadU16be(m + 2);
        bool frameHeader = m[1] >= 0xc0 && m[1] <= 0xcf && m[1] != 0xc4 && m[1] != 0xc8
                           && m[1] != 0xcc;
        if (frameHeader) {
            uint8_t f[5];
            if (length < 7 || limit - pos < 9 || !file->ReadAt(pos + 4, f, 5)) {
                return Fail(why, badFormat, "truncated JPEG frame header");
            }
            height = LoadU16be(f + 1);
            width = LoadU16be(f + 3);
            break;
        }
        if (m[1] == 0xda || m[1] == 0xd9 || length < 2) {
            break;
        }
        pos += 2 + length;
    }
    if (width < 1 || height < 1 || width > 32767 || height > 32767 || fileSize > INT32_MAX) {
        return Fail(why, badFormat, "JPEG picture without a usable frame header");
    }
    auto movie = std::make_unique<MovieRecord>();
    MediaRecord *m = AddTrack(movie.get(), VideoMediaType, kPictureScale, width, height);
    m->files.push_back(file);
    m->descriptions.push_back(ImageDescriptionBytes(FourCC("jpeg"), width, height,
                                                    int32_t(fileSize), "Photo - JPEG"));
    SampleEntry s;
    s.offset = 0;
    s.size = uint32_t(fileSize);
    s.duration = kPictureScale;
    m->samples.push_back(s);
    FinishMovie(movie.get());
    *out = movie.release();
    return noErr;
}

// ---- DV, raw and in AVI ------------------------------------------------------------------------

struct DvKind
{
    OSType codec;
    const char *name;
};

DvKind DvKindFor(int frameBytes, int height)
{
    switch (frameBytes) {
    case 120000:
        return {FourCC("dvc "), "DV - NTSC"};
    case 144000:
        return {FourCC("dvcp"), "DV - PAL"};
    case 240000:
        return height >= 700 ? DvKind{FourCC("dvhp"), "DVCPRO HD 720p60"}
                             : DvKind{FourCC("dv5n"), "DVCPRO50 - NTSC"};
    case 288000:
        return {FourCC("dv5p"), "DVCPRO50 - PAL"};
    case 480000:
        return height == 720 ? DvKind{FourCC("dvhp"), "DVCPRO HD 720p60"}
                             : DvKind{FourCC("dvh6"), "DVCPRO HD 1080i60"};
    case 576000:
        return {FourCC("dvh5"), "DVCPRO HD 1080i50"};
    default:
        return {0, ""};
    }
}

struct FormatContext
{
    AVFormatContext *ctx = nullptr;
    ~FormatContext() { avformat_close_input(&ctx); }
};

struct Packet
{
    AVPacket *pkt = av_packet_alloc();
    ~Packet() { av_packet_free(&pkt); }
};

OSErr ImportWithDemuxer(const std::shared_ptr<DataFile> &file, Movie *out, std::string *why)
{
    if (file->path().empty()) {
        return Fail(why, badFormat, "no path for the demultiplexer");
    }
    FormatContext f;
    if (avformat_open_input(&f.ctx, file->path().c_str(), nullptr, nullptr) < 0) {
        return Fail(why, badFormat, "not a movie the importers know");
    }
    if (avformat_find_stream_info(f.ctx, nullptr) < 0) {
        return Fail(why, badFormat, "no streams found");
    }
    int video = -1, audio = -1;
    for (unsigned i = 0; i < f.ctx->nb_streams; ++i) {
        const AVCodecParameters *p = f.ctx->streams[i]->codecpar;
        if (video < 0 && p->codec_id == AV_CODEC_ID_DVVIDEO) {
            video = int(i);
        }
        if (audio < 0 && (p->codec_id == AV_CODEC_ID_PCM_S16LE || p->codec_id == AV_CODEC_ID_PCM_S16BE)
            && p->ch_layout.nb_channels >= 1 && p->ch_layout.nb_channels <= 16
            && p->sample_rate >= 1 && p->sample_rate <= 768000) {
            audio = int(i);
        }
    }
    if (video < 0) {
        return Fail(why, badFormat, "no DV video");
    }
    const AVStream *vs = f.ctx->streams[video];
    AVRational rate = vs->r_frame_rate.num > 0 && vs->r_frame_rate.den > 0 ? vs->r_frame_rate
                                                                            : vs->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0 || rate.num > 1000000 || rate.den > 100000) {
        return Fail(why, badFormat, "DV video without a frame rate");
    }
    // Whole-number rates get a scale of 100 units a frame (25 frames/s: 2500 and 100).
    int k = rate.den == 1 ? 100 : 1;
    TimeScale scale = TimeScale(int64_t(rate.num) * k);
    TimeValue frameDuration = TimeValue(int64_t(rate.den) * k);

    auto movie = std::make_unique<MovieRecord>();
    movie->timeScale = scale;
    int width = vs->codecpar->width, height = vs->codecpar->height;
    MediaRecord *vm = AddTrack(movie.get(), VideoMediaType, scale, width, height);
    vm->files.push_back(file);
    MediaRecord *am = nullptr;
    std::shared_ptr<DataFile> scratch;
    int64_t scratchEnd = 0;
    int frameBytes = 0;
    if (audio >= 0) {
        const AVCodecParameters *p = f.ctx->streams[audio]->codecpar;
        am = AddTrack(movie.get(), SoundMediaType, p->sample_rate, 0, 0);
        bool little = p->codec_id == AV_CODEC_ID_PCM_S16LE;
        am->descriptions.push_back(SoundDescriptionBytes(FourCC(little ? "sowt" : "twos"),
                                                         p->ch_layout.nb_channels, 16,
                                                         uint32_t(p->sample_rate)));
        am->layouts.push_back({uint32_t(2 * p->ch_layout.nb_channels), 1});
    }
    auto needScratch = [&](MediaRecord *m) -> uint8_t {
        if (!scratch) {
            scratch = DataFile::Temporary();
        }
        for (uint8_t i = 0; i < m->files.size(); ++i) {
            if (m->files[i] == scratch) {
                return i;
            }
        }
        m->files.push_back(scratch);
        return uint8_t(m->files.size() - 1);
    };

    Packet packet;
    std::vector<uint8_t> check;
    int64_t posDelta = -1; // packet data = file bytes at pos + delta
    OSErr err = noErr;
    while (av_read_frame(f.ctx, packet.pkt) >= 0) {
        AVPacket *pkt = packet.pkt;
        if (pkt->stream_index == video && pkt->size > 0) {
            if (frameBytes == 0) {
                frameBytes = pkt->size;
            }
            if (vm->samples.size() >= size_t(kMaxSamples)
                || int64_t(vm->samples.size() + 1) * frameDuration > INT32_MAX) {
                av_packet_unref(pkt);
                break;
            }
            // Frames stay in the file when its bytes are the packet's; else they are copied.
            // Head and tail are compared: DV headers repeat from frame to frame, the tail not.
            size_t probe = std::min<size_t>(size_t(pkt->size), 128);
            size_t tail = size_t(pkt->size) - probe;
            check.resize(2 * probe);
            int64_t at = -1;
            for (int64_t delta : {posDelta, int64_t(0), int64_t(8)}) {
                if (delta >= 0 && pkt->pos >= 0
                    && file->ReadAt(pkt->pos + delta, check.data(), probe)
                    && file->ReadAt(pkt->pos + delta + int64_t(tail), check.data() + probe, probe)
                    && std::memcmp(check.data(), pkt->data, probe) == 0
                    && std::memcmp(check.data() + probe, pkt->data + tail, probe) == 0) {
                    at = pkt->pos + delta;
                    posDelta = delta;
                    break;
                }
            }
            SampleEntry s;
            s.size = uint32_t(pkt->size);
            s.time = TimeValue(int64_t(vm->samples.size()) * frameDuration);
            s.duration = frameDuration;
            if (at >= 0) {
                s.offset = at;
            } else {
                s.data = needScratch(vm);
                if (!scratch || !scratch->WriteAt(scratchEnd, pkt->data, size_t(pkt->size), &err)) {
                    av_packet_unref(pkt);
                    return Fail(why, err != noErr ? err : OSErr(ioErr), "cannot keep DV frames");
                }
                s.offset = scratchEnd;
                scratchEnd += pkt->size;
            }
            vm->samples.push_back(s);
        } else if (am && pkt->stream_index == audio && pkt->size > 0) {
            uint32_t bytesPerFrame = am->layouts[0].bytesPerPacket;
            uint32_t frames = uint32_t(pkt->size) / bytesPerFrame;
            if (frames > 0 && am->frameCount + frames <= INT32_MAX) {
                uint8_t data = needScratch(am);
                if (!scratch
                    || !scratch->WriteAt(scratchEnd, pkt->data, size_t(frames) * bytesPerFrame, &err)) {
                    av_packet_unref(pkt);
                    return Fail(why, err != noErr ? err : OSErr(ioErr), "cannot keep DV sound");
                }
                AddFrames(am, data, scratchEnd, frames);
                scratchEnd += int64_t(frames) * bytesPerFrame;
            }
        }
        av_packet_unref(pkt);
    }
    if (vm->samples.empty()) {
        return Fail(why, badFormat, "no DV frames");
    }
    DvKind kind = DvKindFor(frameBytes, height);
    if (kind.codec == 0) {
        return Fail(why, badFormat, "DV frames of an unknown size");
    }
    vm->descriptions.push_back(ImageDescriptionBytes(kind.codec, width, height, frameBytes,
                                                     kind.name));
    if (am && am->chunks.empty()) {
        movie->tracks.pop_back(); // a sound stream without samples
    }
    FinishMovie(movie.get());
    *out = movie.release();
    return noErr;
}

} // namespace

OSErr ImportMovie(const std::shared_ptr<DataFile> &file, Movie *out, std::string *why)
{
    int64_t size = file->Size();
    uint8_t h[12] = {};
    if (size < 12 || !file->ReadAt(0, h, 12)) {
        return Fail(why, badFormat, "file too short for a movie");
    }
    uint32_t a = LoadU32be(h), b = LoadU32be(h + 8);
    if (a == FourCC("FORM") && (b == FourCC("AIFF") || b == FourCC("AIFC"))) {
        return ImportAiff(file, size, b == FourCC("AIFC"), out, why);
    }
    if (h[0] == 0xff && h[1] == 0xd8 && h[2] == 0xff) {
        return ImportJpeg(file, size, out, why);
    }
    bool avi = a == FourCC("RIFF") && b == FourCC("AVI ");
    // A DV file starts with the header block of the first DIF sequence.
    bool dv = (h[0] & 0xe0) == 0 && (h[1] >> 4) == 0 && h[2] == 0 && size >= 120000;
    if (avi || dv) {
        return ImportWithDemuxer(file, out, why);
    }
    return Fail(why, badFormat, "not a movie the importers know");
}

} // namespace lc::media
