#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/media/internal/movie_model.h"
#include "platform/sys/bytes.h"

// Our own reader of QuickTime-format movies (.mov, .mp4): the movie atom, before or after the
// media data, gives every track's sample tables. Every count and size is checked against the
// bytes the atom holds and every chunk against the file's length.

namespace lc::media {
namespace {

struct Atom
{
    uint32_t type = 0;
    ByteReader body;
    size_t offset = 0; // of the header, in the parent reader
};

class Reader
{
public:
    Reader(std::shared_ptr<DataFile> file, int64_t fileSize, std::string *why)
        : file_(std::move(file)), fileSize_(fileSize), why_(why)
    {
    }
    OSErr Fail(OSErr code, const char *what, int64_t offset = -1)
    {
        if (why_ && why_->empty()) {
            char buf[160];
            if (offset >= 0) {
                std::snprintf(buf, sizeof buf, "%s at byte %" PRId64, what, offset);
            } else {
                std::snprintf(buf, sizeof buf, "%s", what);
            }
            *why_ = buf;
        }
        return code;
    }

    // The next atom of r; false at the end or on a bad header (err set).
    bool Next(ByteReader &r, Atom *a, OSErr *err, int64_t base)
    {
        *err = noErr;
        if (r.remaining() == 0) {
            return false;
        }
        size_t start = r.pos();
        if (r.remaining() < 8) {
            *err = Fail(badFormat, "truncated atom header", base + int64_t(start));
            return false;
        }
        uint64_t size = r.u32be();
        a->type = r.fourcc();
        size_t header = 8;
        if (size == 1) {
            if (r.remaining() < 8) {
                *err = Fail(badFormat, "truncated atom header", base + int64_t(start));
                return false;
            }
            size = r.u64be();
            header = 16;
        } else if (size == 0) {
            size = header + r.remaining();
        }
        if (size < header || size - header > r.remaining()) {
            *err = Fail(badFormat, "atom size past its container", base + int64_t(start));
            return false;
        }
        a->offset = start;
        a->body = r.sub(size_t(size - header));
        return true;
    }

    OSErr Read(Movie *out);

private:
    OSErr ParseMovie(ByteReader r, int64_t base, MovieRecord *movie);
    OSErr ParseTrack(ByteReader r, int64_t base, MovieRecord *movie);
    OSErr ParseSampleTable(ByteReader r, int64_t base, MediaRecord *media);
    OSErr BuildTable(MediaRecord *media, int64_t base);

    std::shared_ptr<DataFile> file_;
    int64_t fileSize_;
    std::string *why_;

    // Sample table atoms of the track being read.
    struct Tables
    {
        std::vector<std::pair<uint32_t, uint32_t>> stts; // count, delta
        std::vector<std::array<uint32_t, 3>> stsc;      // first chunk, samples, description
        uint32_t constantSize = 0;
        uint64_t sizeCount = 0;
        std::vector<uint32_t> sizes;
        std::vector<uint64_t> chunkOffsets;
        bool haveSizes = false, haveOffsets = false, haveSync = false;
        std::vector<uint32_t> sync;
    } t_;
};

OSErr Reader::Read(Movie *out)
{
    // Top-level atoms are walked through their headers only; the media data stay in the file.
    int64_t pos = 0;
    std::vector<uint8_t> moov;
    int64_t moovAt = -1;
    while (pos < fileSize_) {
        uint8_t h[16];
        if (fileSize_ - pos < 8 || !file_->ReadAt(pos, h, 8)) {
            return Fail(badFormat, "truncated atom header", pos);
        }
        uint64_t size = LoadU32be(h);
        uint32_t type = LoadU32be(h + 4);
        int64_t header = 8;
        if (size == 1) {
            if (fileSize_ - pos < 16 || !file_->ReadAt(pos + 8, h + 8, 8)) {
                return Fail(badFormat, "truncated atom header", pos);
            }
            size = (uint64_t(LoadU32be(h + 8)) << 32) | LoadU32be(h + 12);
            header = 16;
        } else if (size == 0) {
            size = uint64_t(fileSize_ - pos);
        }
        if (size < uint64_t(header) || size > uint64_t(fileSize_ - pos)) {
            // A last atom cut short (a truncated copy) is not needed when the movie is known.
            if (!moov.empty() && type != FourCC("moov")) {
                break;
            }
            return Fail(badFormat, "atom size past the end of the file", pos);
        }
        if (type == FourCC("moof") || type == FourCC("mfra")) {
            return Fail(invalidMovie, "fragmented movie", pos);
        }
        if (type == FourCC("moov")) {
            if (!moov.empty()) {
                return Fail(badFormat, "second movie atom", pos);
            }
            uint64_t n = size - uint64_t(header);
            if (n > kMaxMovieAtomBytes) {
                return Fail(badFormat, "movie atom too large", pos);
            }
            moov.resize(size_t(n));
            if (n && !file_->ReadAt(pos + header, moov.data(), size_t(n))) {
                return Fail(ioErr, "cannot read the movie atom", pos);
            }
            moovAt = pos + header;
            if (moov.empty()) {
                return Fail(badFormat, "empty movie atom", pos);
            }
        }
        pos += int64_t(size);
    }
    if (moov.empty()) {
        return Fail(badFormat, "no movie atom");
    }
    auto movie = std::make_unique<MovieRecord>();
    OSErr err = ParseMovie(ByteReader(moov.data(), moov.size()), moovAt, movie.get());
    if (err != noErr) {
        return err;
    }
    // Track references name tracks by id; resolve them now that every track is known.
    for (auto &track : movie->tracks) {
        for (size_t i = 0; i < track->pendingRefIds.size(); ++i) {
            for (auto &other : movie->tracks) {
                if (other->id == track->pendingRefIds[i] && other.get() != track.get()) {
                    OSType type = track->pendingRefTypes[i];
                    auto it = std::find_if(track->references.begin(), track->references.end(),
                                           [&](const auto &r) { return r.type == type; });
                    if (it == track->references.end()) {
                        track->references.push_back({type, {}});
                        it = track->references.end() - 1;
                    }
                    it->tracks.push_back(other.get());
                }
            }
        }
        track->pendingRefIds.clear();
        track->pendingRefTypes.clear();
        track->id = 0; // renumbered when written
    }
    movie->nextTrackId = 1;
    for (auto &track : movie->tracks) {
        track->id = movie->nextTrackId++;
    }
    *out = movie.release();
    return noErr;
}

OSErr Reader::ParseMovie(ByteReader r, int64_t base, MovieRecord *movie)
{
    Atom a;
    OSErr err;
    bool haveHeader = false;
    while (Next(r, &a, &err, base)) {
        int64_t at = base + int64_t(a.offset) + 8;
        switch (a.type) {
        case FourCC("mvhd"): {
            ByteReader b = a.body;
            uint8_t version = b.u8();
            b.skip(3);
            b.skip(version == 1 ? 16 : 8);
            uint32_t scale = b.u32be();
            if (!b.ok() || scale == 0 || scale > INT32_MAX) {
                return Fail(badFormat, "bad movie header", at);
            }
            movie->timeScale = TimeScale(scale);
            haveHeader = true;
            break;
        }
        case FourCC("trak"):
            if (!haveHeader) {
                return Fail(badFormat, "track before the movie header", at);
            }
            if (movie->tracks.size() >= kMaxTracks) {
                return Fail(badFormat, "too many tracks", at);
            }
            err = ParseTrack(a.body, at, movie);
            if (err != noErr) {
                return err;
            }
            break;
        case FourCC("mvex"):
            return Fail(invalidMovie, "fragmented movie", at);
        case FourCC("cmov"):
            return Fail(invalidMovie, "compressed movie atom", at);
        default:
            break;
        }
    }
    if (err != noErr) {
        return err;
    }
    if (!haveHeader) {
        return Fail(badFormat, "no movie header");
    }
    return noErr;
}

OSErr Reader::ParseTrack(ByteReader r, int64_t base, MovieRecord *movie)
{
    auto track = std::make_unique<TrackRecord>();
    track->movie = movie;
    track->media = std::make_unique<MediaRecord>();
    MediaRecord *media = track->media.get();
    media->track = track.get();
    media->files.push_back(file_);
    std::vector<Edit> edits;
    bool haveEdits = false, haveMediaHeader = false, haveHeader = false;
    t_ = Tables();

    Atom a;
    OSErr err;
    while (Next(r, &a, &err, base)) {
        int64_t at = base + int64_t(a.offset) + 8;
        if (a.type == FourCC("tkhd")) {
            ByteReader b = a.body;
            uint8_t version = b.u8();
            uint32_t flags = b.u24be();
            b.skip(version == 1 ? 16 : 8);
            track->id = b.u32be();
            b.skip(4);
            b.skip(version == 1 ? 8 : 4);
            b.skip(8 + 2 + 2);
            track->volume = b.s16be();
            b.skip(2);
            for (auto &row : track->matrix.matrix) {
                for (Fixed &v : row) {
                    v = b.s32be();
                }
            }
            track->width = b.s32be();
            track->height = b.s32be();
            if (!b.ok()) {
                return Fail(badFormat, "truncated track header", at);
            }
            track->enabled = (flags & 1) != 0;
            haveHeader = true;
        } else if (a.type == FourCC("edts")) {
            ByteReader er = a.body;
            Atom e;
            while (Next(er, &e, &err, at)) {
                if (e.type != FourCC("elst")) {
                    continue;
                }
                ByteReader b = e.body;
                uint8_t version = b.u8();
                b.skip(3);
                uint32_t count = b.u32be();
                size_t entry = version == 1 ? 20 : 12;
                if (!b.ok() || count > b.remaining() / entry || count > kMaxEdits) {
                    return Fail(badFormat, "edit count past the edit list", at);
                }
                int64_t start = 0;
                for (uint32_t i = 0; i < count; ++i) {
                    Edit ed;
                    ed.duration = version == 1 ? int64_t(b.u64be()) : int64_t(b.u32be());
                    ed.mediaTime = version == 1 ? int64_t(b.u64be()) : int64_t(b.s32be());
                    ed.rate = b.s32be();
                    if (ed.duration < 0 || ed.duration > INT32_MAX || ed.mediaTime < -1) {
                        return Fail(badFormat, "bad edit", at);
                    }
                    ed.trackStart = start;
                    start += ed.duration;
                    if (start > INT32_MAX) {
                        return Fail(badFormat, "edits longer than a movie can be", at);
                    }
                    edits.push_back(ed);
                }
                haveEdits = true;
            }
            if (err != noErr) {
                return err;
            }
        } else if (a.type == FourCC("tref")) {
            ByteReader tr = a.body;
            Atom e;
            while (Next(tr, &e, &err, at)) {
                ByteReader b = e.body;
                while (b.remaining() >= 4 && track->pendingRefIds.size() < kMaxTracks) {
                    track->pendingRefIds.push_back(b.u32be());
                    track->pendingRefTypes.push_back(e.type);
                }
            }
            if (err != noErr) {
                return err;
            }
        } else if (a.type == FourCC("mdia")) {
            ByteReader mr = a.body;
            Atom m;
            while (Next(mr, &m, &err, at)) {
                int64_t mat = at + int64_t(m.offset) + 8;
                if (m.type == FourCC("mdhd")) {
                    ByteReader b = m.body;
                    uint8_t version = b.u8();
                    b.skip(3);
                    b.skip(version == 1 ? 16 : 8);
                    uint32_t scale = b.u32be();
                    if (!b.ok() || scale == 0 || scale > INT32_MAX) {
                        return Fail(badFormat, "bad media header", mat);
                    }
                    media->timeScale = TimeScale(scale);
                    haveMediaHeader = true;
                } else if (m.type == FourCC("hdlr")) {
                    ByteReader b = m.body;
                    b.skip(8);
                    media->type = b.fourcc();
                    if (!b.ok()) {
                        return Fail(badFormat, "truncated handler", mat);
                    }
                } else if (m.type == FourCC("minf")) {
                    ByteReader ir = m.body;
                    Atom s;
                    while (Next(ir, &s, &err, mat)) {
                        if (s.type == FourCC("stbl")) {
                            err = ParseSampleTable(s.body, mat + int64_t(s.offset) + 8, media);
                            if (err != noErr) {
                                return err;
                            }
                        }
                    }
                    if (err != noErr) {
                        return err;
                    }
                }
            }
            if (err != noErr) {
                return err;
            }
        }
    }
    if (err != noErr) {
        return err;
    }
    if (!haveHeader || !haveMediaHeader) {
        return Fail(badFormat, "track without its headers", base);
    }
    err = BuildTable(media, base);
    if (err != noErr) {
        return err;
    }
    if (!haveEdits) {
        Edit whole;
        whole.duration = ScaleTime(media->Duration(), movie->timeScale, media->timeScale);
        whole.mediaTime = 0;
        edits.push_back(whole);
    }
    track->edits = std::move(edits);
    movie->tracks.push_back(std::move(track));
    return noErr;
}

OSErr Reader::ParseSampleTable(ByteReader r, int64_t base, MediaRecord *media)
{
    Atom a;
    OSErr err;
    while (Next(r, &a, &err, base)) {
        int64_t at = base + int64_t(a.offset) + 8;
        ByteReader b = a.body;
        b.skip(4); // version and flags
        switch (a.type) {
        case FourCC("stsd"): {
            uint32_t count = b.u32be();
            if (!b.ok() || count > kMaxDescriptions) {
                return Fail(badFormat, "bad description count", at);
            }
            for (uint32_t i = 0; i < count; ++i) {
                if (b.remaining() < 16) {
                    return Fail(badFormat, "description past its atom", at);
                }
                uint32_t size = LoadU32be(b.cursor());
                if (size < 16 || size > b.remaining() || size > kMaxDescriptionBytes) {
                    return Fail(badFormat, "description size past its atom", at);
                }
                auto bytes = b.bytes(size);
                media->descriptions.emplace_back(bytes.begin(), bytes.end());
            }
            break;
        }
        case FourCC("stts"): {
            uint32_t count = b.u32be();
            if (!b.ok() || count > b.remaining() / 8) {
                return Fail(badFormat, "time-to-sample count past its atom", at);
            }
            t_.stts.resize(count);
            for (auto &e : t_.stts) {
                e.first = b.u32be();
                e.second = b.u32be();
            }
            break;
        }
        case FourCC("stsc"): {
            uint32_t count = b.u32be();
            if (!b.ok() || count > b.remaining() / 12) {
                return Fail(badFormat, "sample-to-chunk count past its atom", at);
            }
            t_.stsc.resize(count);
            for (auto &e : t_.stsc) {
                e = {b.u32be(), b.u32be(), b.u32be()};
            }
            break;
        }
        case FourCC("stsz"): {
            t_.constantSize = b.u32be();
            uint32_t count = b.u32be();
            if (!b.ok()) {
                return Fail(badFormat, "truncated sample sizes", at);
            }
            t_.sizeCount = count;
            if (t_.constantSize == 0) {
                if (count > b.remaining() / 4) {
                    return Fail(badFormat, "sample size count past its atom", at);
                }
                t_.sizes.resize(count);
                for (auto &s : t_.sizes) {
                    s = b.u32be();
                }
            }
            t_.haveSizes = true;
            break;
        }
        case FourCC("stco"):
        case FourCC("co64"): {
            bool wide = a.type == FourCC("co64");
            uint32_t count = b.u32be();
            if (!b.ok() || count > b.remaining() / (wide ? 8 : 4) || count > kMaxChunks) {
                return Fail(badFormat, "chunk count past its atom", at);
            }
            t_.chunkOffsets.resize(count);
            for (auto &o : t_.chunkOffsets) {
                o = wide ? b.u64be() : b.u32be();
            }
            t_.haveOffsets = true;
            break;
        }
        case FourCC("stss"): {
            uint32_t count = b.u32be();
            if (!b.ok() || count > b.remaining() / 4) {
                return Fail(badFormat, "sync sample count past its atom", at);
            }
            t_.sync.resize(count);
            for (auto &s : t_.sync) {
                s = b.u32be();
            }
            t_.haveSync = true;
            break;
        }
        case FourCC("stz2"):
            return Fail(badFormat, "compact sample sizes are not supported", at);
        default:
            break;
        }
    }
    return err;
}

OSErr Reader::BuildTable(MediaRecord *media, int64_t base)
{
    const Tables &t = t_;
    if (!t.haveSizes && !t.haveOffsets && t.stts.empty()) {
        return noErr; // a track without samples
    }
    if (!t.haveSizes || !t.haveOffsets) {
        return Fail(badFormat, "sample table without sizes or chunk offsets", base);
    }
    uint32_t nDesc = uint32_t(media->descriptions.size());
    // Samples per chunk, checked as the entries are met.
    for (size_t i = 0; i < t.stsc.size(); ++i) {
        const auto &e = t.stsc[i];
        if (e[0] == 0 || (i == 0 && e[0] != 1) || (i > 0 && e[0] <= t.stsc[i - 1][0])) {
            return Fail(badFormat, "sample-to-chunk entries out of order", base);
        }
        if (e[2] == 0 || e[2] > nDesc) {
            return Fail(badFormat, "sample-to-chunk names a missing description", base);
        }
    }
    uint64_t nSamples = t.sizeCount;
    uint64_t sttsTotal = 0;
    bool allUnit = true;
    for (const auto &e : t.stts) {
        sttsTotal += e.first;
        allUnit = allUnit && (e.second == 1 || e.first == 0);
    }
    nSamples = std::min(nSamples, sttsTotal);

    // Sound whose frames have one size is kept as chunks of frames.
    bool frameMode = media->type == SoundMediaType && t.constantSize != 0 && allUnit && nDesc > 0;
    std::vector<FrameLayout> layouts;
    if (frameMode) {
        for (const auto &d : media->descriptions) {
            FrameLayout l = SoundFrameLayout(d);
            if (l.bytesPerPacket == 0) {
                frameMode = false;
            }
            // Uncompressed sound: the size table says what one frame holds.
            if (l.framesPerPacket == 1 && t.constantSize > 1) {
                l.bytesPerPacket = t.constantSize;
            }
            layouts.push_back(l);
        }
    }
    if (!frameMode && nSamples > uint64_t(kMaxSamples)) {
        return Fail(badFormat, "more samples than a media may hold", base);
    }

    size_t stscIndex = 0;
    uint64_t sample = 0;
    int64_t frame = 0;
    TimeValue time = 0;
    size_t sttsIndex = 0;
    uint32_t sttsLeft = t.stts.empty() ? 0 : t.stts[0].first;
    for (size_t c = 0; c < t.chunkOffsets.size() && sample < nSamples; ++c) {
        while (stscIndex + 1 < t.stsc.size() && t.stsc[stscIndex + 1][0] <= c + 1) {
            ++stscIndex;
        }
        if (t.stsc.empty()) {
            return Fail(badFormat, "no sample-to-chunk entries", base);
        }
        uint64_t inChunk = std::min<uint64_t>(t.stsc[stscIndex][1], nSamples - sample);
        uint32_t desc = t.stsc[stscIndex][2] - 1;
        int64_t offset = int64_t(std::min<uint64_t>(t.chunkOffsets[c], INT64_MAX));
        if (inChunk == 0) {
            continue;
        }
        if (frameMode) {
            const FrameLayout &l = layouts[desc];
            uint64_t packets = (inChunk + l.framesPerPacket - 1) / l.framesPerPacket;
            uint64_t bytes = packets * l.bytesPerPacket;
            if (offset > fileSize_ || bytes > uint64_t(fileSize_ - offset)) {
                return Fail(badFormat, "chunk past the end of the file", offset);
            }
            media->chunks.push_back({offset, frame, uint32_t(inChunk), desc, 0});
            frame += int64_t(inChunk);
            sample += inChunk;
            continue;
        }
        int64_t at = offset;
        for (uint64_t k = 0; k < inChunk; ++k, ++sample) {
            uint32_t size = t.constantSize ? t.constantSize : t.sizes[size_t(sample)];
            if (at > fileSize_ || size > fileSize_ - at) {
                return Fail(badFormat, "sample past the end of the file", at);
            }
            while (sttsLeft == 0 && sttsIndex + 1 < t.stts.size()) {
                sttsLeft = t.stts[++sttsIndex].first;
            }
            uint32_t delta = t.stts[sttsIndex].second;
            --sttsLeft;
            if (int64_t(time) + delta > INT32_MAX) {
                return Fail(badFormat, "media longer than a media can be", base);
            }
            SampleEntry s;
            s.offset = at;
            s.size = size;
            s.desc = desc;
            s.time = time;
            s.duration = TimeValue(delta);
            s.sync = !t.haveSync;
            media->samples.push_back(s);
            time += TimeValue(delta);
            at += size;
        }
    }
    if (frameMode) {
        if (frame > INT32_MAX) {
            return Fail(badFormat, "media longer than a media can be", base);
        }
        media->frameMode = true;
        media->frameCount = frame;
        media->layouts = std::move(layouts);
    } else if (t.haveSync) {
        for (uint32_t n : t.sync) {
            if (n >= 1 && n <= media->samples.size()) {
                media->samples[n - 1].sync = true;
            }
        }
    }
    return noErr;
}

} // namespace

OSErr ReadQuickTimeMovie(const std::shared_ptr<DataFile> &file, Movie *out, std::string *why)
{
    int64_t size = file->Size();
    if (size < 0) {
        return ioErr;
    }
    Reader r(file, size, why);
    return r.Read(out);
}

} // namespace lc::media
