// Sound made ready for the output: the track's edits played out, PCM reduced to 16 bits and
// compressed sound decoded through libavcodec. The media is first laid out in media order as
// 16-bit frames in a scratch file; the edits then pick from it into the result's own file.

#include "platform/media/played_sound.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include "platform/media/internal/libav_shared.h"
#include "platform/media/internal/movie_model.h"
#include "platform/sys/bytes.h"

namespace lc::media {
namespace {

constexpr int kDecodedRate = 48000;            // compressed sound is resampled to this
constexpr int kMaxChannels = 64;               // a description may not claim more
constexpr uint32_t kMaxPacketBytes = 1u << 24; // one compressed packet
constexpr int64_t kMaxFrames = INT32_MAX;      // a media's duration is a TimeValue
constexpr int kBlockFrames = 16384;            // frames moved at a time between the files

// Version-2 'lpcm' format flags.
constexpr uint32_t kLpcmFloat = 1u << 0;
constexpr uint32_t kLpcmBigEndian = 1u << 1;
constexpr uint32_t kLpcmSigned = 1u << 2;
constexpr uint32_t kLpcmAlignedHigh = 1u << 4;

enum class Kind {
    Pcm16,      // 16-bit 'sowt' or 'twos' under a version 0 or 1 description
    Pcm,        // other PCM this layer reduces to 16 bits
    Compressed, // decoded by libavcodec
    Untouched,  // left to the callers
};

// What one sound description says, read by its own version's fields.
struct SoundFormat
{
    OSType format = 0;
    int version = 0;
    int channels = 0;
    double rate = 0;
    Kind kind = Kind::Untouched;
    // PCM samples: container bytes, significant bits, kind and order.
    int sampleBytes = 0;
    int bits = 0;
    bool isFloat = false;
    bool bigEndian = true;
    bool isSigned = true;
    bool alignedHigh = false;
    std::vector<uint8_t> extension; // the atoms after the fixed fields
};

// The first atom of the given type among the atoms of r, looking inside 'wave' too.
bool FindAtom(ByteReader r, uint32_t type, ByteReader *body, int depth = 0)
{
    while (r.remaining() >= 8) {
        uint32_t size = r.u32be();
        uint32_t t = r.fourcc();
        if (size < 8 || size - 8 > r.remaining()) {
            return false;
        }
        ByteReader b = r.sub(size - 8);
        if (t == type) {
            *body = b;
            return true;
        }
        if (t == FourCC("wave") && depth < 2 && FindAtom(b, type, body, depth + 1)) {
            return true;
        }
    }
    return false;
}

bool IsPcmCode(OSType f)
{
    return f == FourCC("sowt") || f == FourCC("twos") || f == FourCC("in24") || f == FourCC("in32")
           || f == FourCC("fl32") || f == FourCC("fl64") || f == FourCC("lpcm");
}

bool ParseSoundFormat(const std::vector<uint8_t> &d, SoundFormat *s)
{
    if (d.size() < 36) {
        return false;
    }
    s->format = LoadU32be(&d[4]);
    s->version = LoadU16be(&d[16]);
    s->channels = LoadU16be(&d[24]);
    s->bits = LoadU16be(&d[26]);
    s->rate = LoadU32be(&d[32]) / 65536.0;
    size_t fixed = 36;
    uint32_t lpcmFlags = 0;
    if (s->version == 1 && d.size() >= 52) {
        fixed = 52;
    } else if (s->version == 2) {
        if (d.size() < 72) {
            return false;
        }
        fixed = 72;
        uint64_t rateBits = (uint64_t(LoadU32be(&d[40])) << 32) | LoadU32be(&d[44]);
        double rate;
        std::memcpy(&rate, &rateBits, sizeof rate);
        s->rate = rate;
        s->channels = int(std::min<uint32_t>(LoadU32be(&d[48]), kMaxChannels + 1));
        s->bits = int(std::min<uint32_t>(LoadU32be(&d[56]), 64));
        lpcmFlags = LoadU32be(&d[60]);
    }
    if (!(s->rate > 0 && s->rate < 1e7) || s->channels < 1 || s->channels > kMaxChannels) {
        return false;
    }
    s->extension.assign(d.begin() + std::ptrdiff_t(fixed), d.end());

    FrameLayout layout = SoundFrameLayout(d);
    const OSType f = s->format;
    if (f == FourCC("dvca") || f == FourCC("raw ") || f == FourCC("NONE")) {
        s->kind = Kind::Untouched;
        return true;
    }
    if (!IsPcmCode(f)) {
        s->kind = Kind::Compressed;
        return true;
    }
    // PCM: the byte order from 'enda' (a version-1 'in24' and its kin) or the flags.
    ByteReader enda;
    bool little =
        FindAtom(ByteReader(s->extension.data(), s->extension.size()), FourCC("enda"), &enda)
        && enda.u16be() == 1;
    if (f == FourCC("sowt")) {
        little = true;
    } else if (f == FourCC("twos")) {
        little = false;
    }
    s->isFloat = f == FourCC("fl32") || f == FourCC("fl64");
    if (f == FourCC("in24")) {
        s->bits = 24;
    } else if (f == FourCC("in32") || f == FourCC("fl32")) {
        s->bits = 32;
    } else if (f == FourCC("fl64")) {
        s->bits = 64;
    }
    if (f == FourCC("lpcm")) {
        s->isFloat = (lpcmFlags & kLpcmFloat) != 0;
        little = (lpcmFlags & kLpcmBigEndian) == 0;
        s->isSigned = s->isFloat || (lpcmFlags & kLpcmSigned) != 0;
        s->alignedHigh = (lpcmFlags & kLpcmAlignedHigh) != 0;
    }
    s->bigEndian = !little;
    // The container: what the layout gives a channel, else the significant bits rounded up.
    s->sampleBytes = (s->bits + 7) / 8;
    if (layout.framesPerPacket == 1 && layout.bytesPerPacket % uint32_t(s->channels) == 0
        && layout.bytesPerPacket / uint32_t(s->channels) >= 1) {
        s->sampleBytes = int(layout.bytesPerPacket / uint32_t(s->channels));
    }
    if (s->bits < 1 || s->sampleBytes > 8 || s->bits > 8 * s->sampleBytes
        || (s->isFloat && s->sampleBytes != 4 && s->sampleBytes != 8)) {
        return false;
    }
    if ((f == FourCC("sowt") || f == FourCC("twos")) && s->version < 2) {
        s->kind = s->bits == 16 && s->sampleBytes == 2 ? Kind::Pcm16 : Kind::Untouched;
        return true;
    }
    s->kind = Kind::Pcm;
    return true;
}

// The edits the track plays: its own, or the whole media once.
std::vector<Edit> PlayedEdits(const TrackRecord *t)
{
    if (t->hasEditList) {
        return t->edits;
    }
    Edit whole;
    whole.duration = ScaleTime(t->media->Duration(), t->movie->timeScale, t->media->timeScale);
    whole.mediaTime = 0;
    return {whole};
}

// One edit that plays the whole media from its start at movie time `from`.
bool PlaysWholeMediaFrom(const TrackRecord *t, TimeValue from)
{
    std::vector<Edit> edits = PlayedEdits(t);
    if (edits.size() != 1 || from != 0) {
        return false;
    }
    const Edit &e = edits[0];
    const int64_t movieScale = t->movie->timeScale;
    const int64_t mediaScale = t->media->timeScale;
    // One movie unit of slack: edit durations are rounded to the movie's scale.
    int64_t slack = (mediaScale + movieScale - 1) / movieScale;
    return e.trackStart == 0 && e.mediaTime == 0 && e.rate == FixedOne
           && ScaleTime(e.duration, mediaScale, movieScale) + slack >= t->media->Duration();
}

// A file of 16-bit interleaved frames written in order.
struct FrameFile
{
    std::shared_ptr<DataFile> file;
    int channels = 0;
    int64_t frames = 0;
    OSErr error = noErr;

    bool Append(const int16_t *data, int64_t n)
    {
        if (n <= 0 || error != noErr) {
            return error == noErr;
        }
        size_t bytes = size_t(n) * size_t(channels) * 2;
        if (!file->WriteAt(frames * channels * 2, data, bytes, &error)) {
            return false;
        }
        frames += n;
        return true;
    }
    bool AppendSilence(int64_t n)
    {
        std::vector<int16_t> zeros(size_t(std::min<int64_t>(n, kBlockFrames)) * size_t(channels));
        while (n > 0 && error == noErr) {
            int64_t piece = std::min<int64_t>(n, kBlockFrames);
            Append(zeros.data(), piece);
            n -= piece;
        }
        return error == noErr;
    }
    bool Read(int64_t at, int16_t *dst, int64_t n) const
    {
        return file->ReadAt(at * channels * 2, dst, size_t(n) * size_t(channels) * 2);
    }
};

OSErr NewFrameFile(int channels, FrameFile *f)
{
    f->file = DataFile::Temporary();
    f->channels = channels;
    return f->file ? noErr : ioErr;
}

// ---- PCM ---------------------------------------------------------------------------------------

int16_t PcmTo16(const uint8_t *p, const SoundFormat &s)
{
    const int n = s.sampleBytes;
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) {
        int b = s.bigEndian ? i : n - 1 - i;
        v = (v << 8) | p[b];
    }
    if (s.isFloat) {
        double x;
        if (n == 4) {
            uint32_t u = uint32_t(v);
            float fx;
            std::memcpy(&fx, &u, 4);
            x = fx;
        } else {
            std::memcpy(&x, &v, 8);
        }
        double r = std::nearbyint(x * 32768.0);
        return int16_t(std::clamp(std::isnan(r) ? 0.0 : r, -32768.0, 32767.0));
    }
    const int width = 8 * n;
    if (s.alignedHigh && s.bits < width) {
        v >>= (width - s.bits);
    }
    const int bits = s.bits;
    int64_t x;
    if (s.isSigned) {
        // Sign-extend the significant bits.
        uint64_t mask = bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
        v &= mask;
        x = bits < 64 && (v >> (bits - 1)) ? int64_t(v | ~mask) : int64_t(v);
    } else {
        x = int64_t(v & ((uint64_t(1) << std::min(bits, 63)) - 1)) - (int64_t(1) << (bits - 1));
    }
    return int16_t(bits >= 16 ? x >> (bits - 16) : x * (int64_t(1) << (16 - bits)));
}

// Every PCM frame of the media in media order, one frame a media unit.
OSErr LayOutPcm(const MediaRecord *m, const std::vector<SoundFormat> &formats, FrameFile *out)
{
    const int channels = out->channels;
    std::vector<uint8_t> in;
    std::vector<int16_t> pcm;
    auto convert = [&](uint8_t data, int64_t offset, int64_t frames, uint32_t desc) -> OSErr {
        const SoundFormat &s = formats[desc];
        if (s.channels != channels) {
            return paramErr;
        }
        const size_t frameBytes = size_t(s.sampleBytes) * size_t(channels);
        while (frames > 0) {
            int64_t piece = std::min<int64_t>(frames, kBlockFrames);
            in.resize(size_t(piece) * frameBytes);
            if (!m->files[data]->ReadAt(offset, in.data(), in.size())) {
                return ioErr;
            }
            pcm.resize(size_t(piece) * size_t(channels));
            for (size_t i = 0; i < pcm.size(); ++i) {
                pcm[i] = PcmTo16(&in[i * size_t(s.sampleBytes)], s);
            }
            if (!out->Append(pcm.data(), piece)) {
                return out->error;
            }
            offset += int64_t(in.size());
            frames -= piece;
        }
        return noErr;
    };
    if (m->frameMode) {
        for (const ChunkEntry &c : m->chunks) {
            if (m->layouts[c.desc].framesPerPacket != 1) {
                return paramErr;
            }
            OSErr err = convert(c.data, c.offset, c.frames, c.desc);
            if (err != noErr) {
                return err;
            }
        }
        return noErr;
    }
    // PCM kept as samples: each sample's duration counts its frames.
    for (const SampleEntry &s : m->samples) {
        const SoundFormat &f = formats[s.desc];
        int64_t frames = s.duration;
        if (frames <= 0 || int64_t(s.size) != frames * f.sampleBytes * f.channels) {
            return paramErr;
        }
        OSErr err = convert(s.data, s.offset, frames, s.desc);
        if (err != noErr) {
            return err;
        }
    }
    return noErr;
}

// ---- Compressed sound ----------------------------------------------------------------------

// The decoder set-up an MPEG-4 audio description carries in its 'esds' atom.
std::vector<uint8_t> EsdsDecoderConfig(ByteReader esds)
{
    auto length = [](ByteReader &r) {
        uint32_t n = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b = r.u8();
            n = (n << 7) | (b & 0x7f);
            if (!(b & 0x80)) {
                break;
            }
        }
        return n;
    };
    esds.skip(4); // version and flags
    if (esds.u8() != 3) {
        return {};
    }
    uint32_t n = length(esds);
    ByteReader es = esds.sub(std::min<size_t>(n, esds.remaining()));
    es.skip(2);
    uint8_t flags = es.u8();
    if (flags & 0x80) {
        es.skip(2);
    }
    if (flags & 0x40) {
        es.skip(es.u8());
    }
    if (flags & 0x20) {
        es.skip(2);
    }
    if (es.u8() != 4) {
        return {};
    }
    n = length(es);
    ByteReader config = es.sub(std::min<size_t>(n, es.remaining()));
    config.skip(13);
    if (config.u8() != 5) {
        return {};
    }
    n = length(config);
    auto bytes = config.bytes(std::min<size_t>(n, config.remaining()));
    if (!config.ok()) {
        return {};
    }
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// What a codec needs beside its packets, from the description's atoms.
std::vector<uint8_t> CodecExtradata(const SoundFormat &s)
{
    ByteReader ext(s.extension.data(), s.extension.size());
    ByteReader body;
    if (FindAtom(ext, FourCC("esds"), &body)) {
        return EsdsDecoderConfig(body);
    }
    if (s.format == FourCC("alac") && FindAtom(ext, FourCC("alac"), &body)) {
        auto b = body.bytes(body.remaining());
        // The decoder takes the atom whole, its header included.
        std::vector<uint8_t> atom(8);
        StoreU32be(atom.data(), uint32_t(8 + b.size()));
        StoreU32be(atom.data() + 4, FourCC("alac"));
        atom.insert(atom.end(), b.begin(), b.end());
        return atom;
    }
    return {};
}

struct SwrBox
{
    SwrContext *swr = nullptr;
    ~SwrBox() { swr_free(&swr); }
};

struct Decoding
{
    CodecBox box;
    SwrBox convert; // decoded frames to 16-bit interleaved
    AVChannelLayout outLayout{};
    int rate = 0; // of the decoded frames, the same after conversion
    int64_t mediaScale = 0;
    FrameFile *out = nullptr;
    std::vector<int16_t> pcm;

    ~Decoding() { av_channel_layout_uninit(&outLayout); }

    // Writes one decoded frame at the time its stamp says, silence filling a gap.
    OSErr Take(const AVFrame *f)
    {
        if (!convert.swr) {
            rate = f->sample_rate;
            if (rate <= 0) {
                return noCodecErr;
            }
            av_channel_layout_default(&outLayout, f->ch_layout.nb_channels == 1 ? 1 : 2);
            AVChannelLayout inLayout{};
            if (av_channel_layout_copy(&inLayout, &f->ch_layout) < 0) {
                return memFullErr;
            }
            int r = swr_alloc_set_opts2(&convert.swr, &outLayout, AV_SAMPLE_FMT_S16, rate,
                                        &inLayout, AVSampleFormat(f->format), rate, 0, nullptr);
            av_channel_layout_uninit(&inLayout);
            if (r < 0 || swr_init(convert.swr) < 0) {
                return noCodecErr;
            }
            out->channels = outLayout.nb_channels;
        } else if (f->sample_rate != rate) {
            return noCodecErr; // a rate that changes midway is not followed
        }
        int64_t stamp = f->best_effort_timestamp;
        if (stamp != AV_NOPTS_VALUE) {
            int64_t at = ScaleTime(stamp, rate, mediaScale);
            // A packet lost to an error leaves a gap that keeps the later sound in its place.
            if (at > out->frames + 1 && !out->AppendSilence(at - out->frames)) {
                return out->error;
            }
        }
        pcm.resize(size_t(f->nb_samples) * size_t(out->channels));
        uint8_t *dst[1] = {reinterpret_cast<uint8_t *>(pcm.data())};
        int n = swr_convert(convert.swr, dst, f->nb_samples,
                            const_cast<const uint8_t **>(f->extended_data), f->nb_samples);
        if (n < 0) {
            return noCodecErr;
        }
        if (out->frames + n > kMaxFrames || !out->Append(pcm.data(), n)) {
            return out->error != noErr ? out->error : OSErr(paramErr);
        }
        return noErr;
    }

    OSErr Drain()
    {
        int r;
        while ((r = avcodec_receive_frame(box.ctx, box.frame)) >= 0) {
            OSErr err = Take(box.frame);
            av_frame_unref(box.frame);
            if (err != noErr) {
                return err;
            }
        }
        (void)r; // EAGAIN, the end, or a frame that failed: the stamps keep the time
        return noErr;
    }
};

// Every packet of the media decoded in media order, as 16-bit frames at the decoder's rate.
OSErr DecodeCompressed(const MediaRecord *m, const SoundFormat &s, FrameFile *out, int *rate)
{
    const AVCodecTag *tags[] = {avformat_get_mov_audio_tags(), nullptr};
    AVCodecID id = av_codec_get_id(tags, __builtin_bswap32(s.format));
    const AVCodec *codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    // Linear PCM is this layer's own; the companded kinds are decoded like the rest.
    bool linearPcm = id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT
                     && id != AV_CODEC_ID_PCM_MULAW && id != AV_CODEC_ID_PCM_ALAW;
    if (!codec || linearPcm) {
        return noCodecErr;
    }
    Decoding d;
    d.out = out;
    d.mediaScale = m->timeScale;
    if (!d.box.Alloc(codec)) {
        return memFullErr;
    }
    AVCodecContext *ctx = d.box.ctx;
    ctx->sample_rate = int(std::lround(s.rate));
    av_channel_layout_default(&ctx->ch_layout, s.channels);
    ctx->pkt_timebase = AVRational{1, int(m->timeScale)};
    if (m->frameMode && !m->layouts.empty()) {
        ctx->block_align = int(m->layouts[0].bytesPerPacket);
    }
    std::vector<uint8_t> extra = CodecExtradata(s);
    if (!extra.empty()) {
        ctx->extradata =
            static_cast<uint8_t *>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!ctx->extradata) {
            return memFullErr;
        }
        std::memcpy(ctx->extradata, extra.data(), extra.size());
        ctx->extradata_size = int(extra.size());
    }
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        return noCodecErr;
    }
    auto send = [&](uint8_t data, int64_t offset, uint32_t size, int64_t time) -> OSErr {
        if (size == 0 || size > kMaxPacketBytes) {
            return noErr; // nothing to decode; the next stamp keeps the time
        }
        AVPacket *p = d.box.packet;
        if (av_new_packet(p, int(size)) < 0) {
            return memFullErr;
        }
        if (!m->files[data]->ReadAt(offset, p->data, size)) {
            av_packet_unref(p);
            return ioErr;
        }
        p->pts = p->dts = time;
        int r = avcodec_send_packet(ctx, p);
        av_packet_unref(p);
        if (r < 0 && r != AVERROR(EAGAIN)) {
            return noErr; // a bad packet: its time stays silent
        }
        return d.Drain();
    };
    OSErr err = noErr;
    if (m->frameMode) {
        // Packets of one size, each a fixed number of frames.
        for (const ChunkEntry &c : m->chunks) {
            const FrameLayout &l = m->layouts[c.desc];
            int64_t packets = (int64_t(c.frames) + l.framesPerPacket - 1) / l.framesPerPacket;
            for (int64_t k = 0; k < packets && err == noErr; ++k) {
                err = send(c.data, c.offset + k * l.bytesPerPacket, l.bytesPerPacket,
                           c.firstFrame + k * l.framesPerPacket);
            }
        }
    } else {
        for (size_t k = 0; k < m->samples.size() && err == noErr; ++k) {
            const SampleEntry &e = m->samples[k];
            err = send(e.data, e.offset, e.size, e.time);
        }
    }
    if (err == noErr && avcodec_send_packet(ctx, nullptr) >= 0) {
        err = d.Drain();
    }
    if (err != noErr) {
        return err;
    }
    if (!d.convert.swr || out->frames == 0) {
        return noCodecErr; // nothing came out
    }
    *rate = d.rate;
    return noErr;
}

// ---- Playing the edits ---------------------------------------------------------------------

// Writes what the edits play into `played`, resampled to outRate when the laid-out frames run at
// another rate (laidRate frames a second, media time scaled to it).
OSErr PlayEdits(const TrackRecord *t, TimeValue from, const FrameFile &laid, int laidRate,
                int outRate, FrameFile *played)
{
    const int64_t movieScale = t->movie->timeScale;
    const int64_t mediaScale = t->media->timeScale;
    const int channels = laid.channels;
    SwrBox resample;
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    if (laidRate != outRate) {
        if (swr_alloc_set_opts2(&resample.swr, &layout, AV_SAMPLE_FMT_S16, outRate, &layout,
                                AV_SAMPLE_FMT_S16, laidRate, 0, nullptr)
                < 0
            || swr_init(resample.swr) < 0) {
            av_channel_layout_uninit(&layout);
            return noCodecErr;
        }
    }
    av_channel_layout_uninit(&layout);
    std::vector<int16_t> in(size_t(kBlockFrames) * size_t(channels));
    std::vector<int16_t> out;
    // Frames go to the result, through the resampler when there is one.
    auto emit = [&](const int16_t *data, int n) {
        if (!resample.swr) {
            return played->Append(data, n);
        }
        int room = swr_get_out_samples(resample.swr, n);
        if (room < 0) {
            return false;
        }
        out.resize(size_t(room) * size_t(channels));
        uint8_t *dst[1] = {reinterpret_cast<uint8_t *>(out.data())};
        const uint8_t *src[1] = {reinterpret_cast<const uint8_t *>(data)};
        int got = swr_convert(resample.swr, dst, room, data ? src : nullptr, n);
        return got >= 0 && played->Append(out.data(), got);
    };
    int64_t owedSilence = 0; // silence written only once sound follows it
    int64_t position = 0;    // frames the edits have played so far
    std::vector<int16_t> zeros(size_t(kBlockFrames) * size_t(channels), 0);
    for (const Edit &e : PlayedEdits(t)) {
        int64_t start = std::max<int64_t>(from, e.trackStart);
        int64_t end = e.trackStart + e.duration;
        if (end <= start) {
            continue;
        }
        // Frame positions from the movie times themselves, so no rounding adds up.
        int64_t first = ScaleTime(start - from, laidRate, movieScale);
        int64_t n = ScaleTime(end - from, laidRate, movieScale) - first;
        owedSilence += std::max<int64_t>(0, first - position);
        position = first + n;
        if (e.mediaTime < 0 || e.rate == 0) {
            owedSilence += n;
            continue;
        }
        int64_t at = ScaleTime(e.mediaTime, laidRate, mediaScale)
                     + ScaleTime(start - e.trackStart, laidRate, movieScale);
        at = std::max<int64_t>(at, 0);
        // The part of the edit past the media's end plays nothing.
        int64_t take = std::clamp<int64_t>(laid.frames - at, 0, n);
        if (take > 0) {
            while (owedSilence > 0) {
                int piece = int(std::min<int64_t>(owedSilence, kBlockFrames));
                if (!emit(zeros.data(), piece)) {
                    return played->error != noErr ? played->error : OSErr(noCodecErr);
                }
                owedSilence -= piece;
            }
        }
        for (int64_t left = take; left > 0;) {
            int piece = int(std::min<int64_t>(left, kBlockFrames));
            if (!laid.Read(at, in.data(), piece)) {
                return ioErr;
            }
            if (!emit(in.data(), piece)) {
                return played->error != noErr ? played->error : OSErr(noCodecErr);
            }
            at += piece;
            left -= piece;
        }
        owedSilence += n - take;
        if (played->frames > kMaxFrames) {
            break;
        }
    }
    if (resample.swr && !emit(nullptr, 0)) {
        return played->error != noErr ? played->error : OSErr(noCodecErr);
    }
    return played->error;
}

// A movie of one 'sowt' track holding the frames of `played`.
OSErr MakeSoundMovie(const FrameFile &played, int rate, Movie *out)
{
    auto movie = std::make_unique<MovieRecord>();
    movie->timeScale = rate;
    TrackRecord *t = NewTrackFor(movie.get(), 0, 0, 256);
    if (!t) {
        return memFullErr;
    }
    MediaRecord *m = NewMediaFor(t, SoundMediaType, rate);
    m->files.push_back(played.file);
    std::vector<uint8_t> d(36, 0);
    StoreU32be(&d[0], 36);
    StoreU32be(&d[4], FourCC("sowt"));
    StoreU16be(&d[14], 1); // data reference index
    StoreU16be(&d[24], uint16_t(played.channels));
    StoreU16be(&d[26], 16);
    StoreU32be(&d[32], rate <= 0xffff ? uint32_t(rate) << 16 : 0);
    m->descriptions.push_back(d);
    m->layouts.push_back({uint32_t(2 * played.channels), 1});
    int64_t frames = std::min(played.frames, kMaxFrames);
    if (frames > 0) {
        m->chunks.push_back({0, 0, uint32_t(frames), 0, 0});
    }
    m->frameCount = frames;
    Edit whole;
    whole.duration = frames;
    whole.mediaTime = 0;
    t->edits = {whole};
    *out = movie.release();
    return noErr;
}

} // namespace
} // namespace lc::media

using namespace lc::media;

namespace {

OSErr Result(OSErr err)
{
    SetMoviesError(err);
    return err;
}

// The formats of every description of a sound media; false when one cannot be read.
bool ReadFormats(const MediaRecord *m, std::vector<SoundFormat> *formats)
{
    for (const auto &d : m->descriptions) {
        SoundFormat s;
        if (!ParseSoundFormat(d, &s)) {
            return false;
        }
        formats->push_back(std::move(s));
    }
    return !formats->empty();
}

} // namespace

bool SoundNeedsConversion(Track soundTrack, TimeValue from)
{
    if (!soundTrack || !soundTrack->media || soundTrack->media->type != SoundMediaType) {
        return false;
    }
    std::vector<SoundFormat> formats;
    if (!ReadFormats(soundTrack->media.get(), &formats)) {
        return false;
    }
    bool pcm16 = true;
    for (const SoundFormat &s : formats) {
        if (s.kind == Kind::Untouched) {
            return false;
        }
        pcm16 = pcm16 && s.kind == Kind::Pcm16;
    }
    return !pcm16 || !PlaysWholeMediaFrom(soundTrack, from);
}

OSErr NewPlayedSoundMovie(Track soundTrack, TimeValue from, Movie *out)
{
    if (!out) {
        return Result(paramErr);
    }
    *out = nullptr;
    if (!soundTrack || !soundTrack->media || soundTrack->media->type != SoundMediaType) {
        return Result(paramErr);
    }
    const MediaRecord *m = soundTrack->media.get();
    std::vector<SoundFormat> formats;
    if (!ReadFormats(m, &formats)) {
        return Result(noCodecErr);
    }
    const SoundFormat &first = formats[0];
    FrameFile laid;
    OSErr err = NewFrameFile(first.channels, &laid);
    if (err != noErr) {
        return Result(err);
    }
    int laidRate = int(m->timeScale); // PCM: one frame a media unit
    int outRate = laidRate;           // PCM keeps its pace: never resampled
    if (first.kind == Kind::Compressed) {
        if (formats.size() != 1) {
            return Result(noCodecErr); // one decoder for the whole media
        }
        err = DecodeCompressed(m, first, &laid, &laidRate);
        outRate = kDecodedRate;
    } else if (first.kind == Kind::Untouched) {
        err = noCodecErr;
    } else {
        for (const SoundFormat &s : formats) {
            if (s.kind != Kind::Pcm && s.kind != Kind::Pcm16) {
                return Result(noCodecErr);
            }
        }
        err = LayOutPcm(m, formats, &laid);
    }
    if (err != noErr) {
        return Result(err);
    }
    FrameFile played;
    err = NewFrameFile(laid.channels, &played);
    if (err == noErr) {
        err = PlayEdits(soundTrack, std::max<TimeValue>(from, 0), laid, laidRate, outRate, &played);
    }
    if (err == noErr) {
        err = MakeSoundMovie(
            played, first.kind == Kind::Compressed ? outRate : int(std::lround(first.rate)), out);
    }
    return Result(err);
}
