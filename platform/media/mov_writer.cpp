#include <algorithm>
#include <cstring>
#include <atomic>

#include "platform/media/internal/movie_model.h"
#include "platform/sys/bytes.h"

// Our own writer of the movie atom. The media data are already in the file (AddMediaSample puts
// them there); this builds the sample tables from the model and closes the media data atom.

namespace lc::media {
namespace {

std::atomic<uint64_t> gCo64Threshold{UINT32_MAX};

// Starts an atom; End patches its size.
size_t Begin(ByteWriter &w, const char (&type)[5])
{
    size_t at = w.size();
    w.u32be(0);
    w.fourcc(type);
    return at;
}
void End(ByteWriter &w, size_t at) { w.patchU32be(at, uint32_t(w.size() - at)); }

void Matrix(ByteWriter &w, const MatrixRecord &m)
{
    for (const auto &row : m.matrix) {
        for (Fixed v : row) {
            w.u32be(uint32_t(v));
        }
    }
}

void PascalName(ByteWriter &w, const char *text)
{
    size_t n = std::strlen(text);
    w.u8(uint8_t(n));
    w.bytes(text, n);
}

struct Chunk
{
    int64_t offset;
    uint32_t samples;
    uint32_t desc;
};

// Chunks of one media: runs of samples that follow each other in the file.
std::vector<Chunk> ChunksOf(const MediaRecord &m)
{
    std::vector<Chunk> out;
    if (m.frameMode) {
        for (const auto &c : m.chunks) {
            out.push_back({c.offset, c.frames, c.desc});
        }
        return out;
    }
    int64_t end = -1;
    for (const auto &s : m.samples) {
        if (!out.empty() && s.offset == end && s.desc == out.back().desc) {
            out.back().samples++;
        } else {
            out.push_back({s.offset, 1, s.desc});
        }
        end = s.offset + s.size;
    }
    return out;
}

void SampleTable(ByteWriter &w, const MediaRecord &m)
{
    size_t stbl = Begin(w, "stbl");

    size_t stsd = Begin(w, "stsd");
    w.u32be(0);
    w.u32be(uint32_t(m.descriptions.size()));
    for (const auto &d : m.descriptions) {
        w.bytes(d.data(), d.size());
    }
    End(w, stsd);

    // Time to sample, run-length coded.
    size_t stts = Begin(w, "stts");
    w.u32be(0);
    size_t countAt = w.size();
    w.u32be(0);
    uint32_t entries = 0;
    if (m.frameMode) {
        if (m.frameCount > 0) {
            w.u32be(uint32_t(m.frameCount));
            w.u32be(1);
            entries = 1;
        }
    } else {
        for (size_t i = 0; i < m.samples.size();) {
            size_t j = i;
            while (j < m.samples.size() && m.samples[j].duration == m.samples[i].duration) {
                ++j;
            }
            w.u32be(uint32_t(j - i));
            w.u32be(uint32_t(m.samples[i].duration));
            ++entries;
            i = j;
        }
    }
    w.patchU32be(countAt, entries);
    End(w, stts);

    if (!m.frameMode) {
        bool allSync = std::all_of(m.samples.begin(), m.samples.end(),
                                   [](const SampleEntry &s) { return s.sync; });
        if (!allSync) {
            size_t stss = Begin(w, "stss");
            w.u32be(0);
            size_t at = w.size();
            w.u32be(0);
            uint32_t n = 0;
            for (size_t i = 0; i < m.samples.size(); ++i) {
                if (m.samples[i].sync) {
                    w.u32be(uint32_t(i + 1));
                    ++n;
                }
            }
            w.patchU32be(at, n);
            End(w, stss);
        }
    }

    std::vector<Chunk> chunks = ChunksOf(m);
    size_t stsc = Begin(w, "stsc");
    w.u32be(0);
    countAt = w.size();
    w.u32be(0);
    entries = 0;
    for (size_t i = 0; i < chunks.size(); ++i) {
        if (i == 0 || chunks[i].samples != chunks[i - 1].samples
            || chunks[i].desc != chunks[i - 1].desc) {
            w.u32be(uint32_t(i + 1));
            w.u32be(chunks[i].samples);
            w.u32be(chunks[i].desc + 1);
            ++entries;
        }
    }
    w.patchU32be(countAt, entries);
    End(w, stsc);

    size_t stsz = Begin(w, "stsz");
    w.u32be(0);
    if (m.frameMode) {
        uint32_t frameBytes = m.layouts.empty() ? 1 : m.layouts[0].bytesPerPacket;
        if (m.layouts.empty() || m.layouts[0].framesPerPacket != 1) {
            frameBytes = 1;
        }
        w.u32be(frameBytes);
        w.u32be(uint32_t(m.frameCount));
    } else {
        bool same = !m.samples.empty()
                    && std::all_of(m.samples.begin(), m.samples.end(), [&](const SampleEntry &s) {
                           return s.size == m.samples[0].size;
                       });
        w.u32be(same ? m.samples[0].size : 0);
        w.u32be(uint32_t(m.samples.size()));
        if (!same) {
            for (const auto &s : m.samples) {
                w.u32be(s.size);
            }
        }
    }
    End(w, stsz);

    bool wide = std::any_of(chunks.begin(), chunks.end(), [](const Chunk &c) {
        return uint64_t(c.offset) > gCo64Threshold.load(std::memory_order_relaxed);
    });
    size_t stco = wide ? Begin(w, "co64") : Begin(w, "stco");
    w.u32be(0);
    w.u32be(uint32_t(chunks.size()));
    for (const auto &c : chunks) {
        if (wide) {
            w.u64be(uint64_t(c.offset));
        } else {
            w.u32be(uint32_t(c.offset));
        }
    }
    End(w, stco);
    End(w, stbl);
}

void MediaInfo(ByteWriter &w, const MediaRecord &m)
{
    size_t minf = Begin(w, "minf");
    if (m.type == VideoMediaType) {
        size_t vmhd = Begin(w, "vmhd");
        w.u32be(1); // flags: no lean ahead
        w.u16be(0x40); // dither copy
        w.u16be(0x8000);
        w.u16be(0x8000);
        w.u16be(0x8000);
        End(w, vmhd);
    } else if (m.type == SoundMediaType) {
        size_t smhd = Begin(w, "smhd");
        w.u32be(0);
        w.u16be(0); // balance
        w.u16be(0);
        End(w, smhd);
    } else {
        size_t gmhd = Begin(w, "gmhd");
        size_t gmin = Begin(w, "gmin");
        w.u32be(0);
        w.u16be(0x40);
        w.u16be(0x8000);
        w.u16be(0x8000);
        w.u16be(0x8000);
        w.u16be(0);
        w.u16be(0);
        End(w, gmin);
        if (m.type == TimeCodeMediaType) {
            size_t tmcd = Begin(w, "tmcd");
            size_t tcmi = Begin(w, "tcmi");
            const TCTextOptions &o = m.handler.textOptions;
            w.u32be(0);
            w.u16be(uint16_t(o.txFont));
            w.u16be(uint16_t(o.txFace));
            w.u16be(uint16_t(o.txSize));
            w.u16be(0);
            for (uint16_t c : o.foreColor) {
                w.u16be(c);
            }
            for (uint16_t c : o.backColor) {
                w.u16be(c);
            }
            PascalName(w, "");
            End(w, tcmi);
            End(w, tmcd);
        }
        End(w, gmhd);
    }
    size_t hdlr = Begin(w, "hdlr");
    w.u32be(0);
    w.fourcc("dhlr");
    w.fourcc("alis");
    w.u32be(0);
    w.u32be(0);
    w.u32be(0);
    PascalName(w, "DataHandler");
    End(w, hdlr);
    size_t dinf = Begin(w, "dinf");
    size_t dref = Begin(w, "dref");
    w.u32be(0);
    w.u32be(1);
    w.u32be(12);
    w.fourcc("alis");
    w.u32be(1); // self reference: the data are in this file
    End(w, dref);
    End(w, dinf);
    SampleTable(w, m);
    End(w, minf);
}

const char *HandlerName(OSType type)
{
    switch (type) {
    case VideoMediaType:
        return "VideoHandler";
    case SoundMediaType:
        return "SoundHandler";
    case TimeCodeMediaType:
        return "TimeCodeHandler";
    default:
        return "MediaHandler";
    }
}

void TrackAtom(ByteWriter &w, const MovieRecord &movie, const TrackRecord &t)
{
    const MediaRecord &m = *t.media;
    size_t trak = Begin(w, "trak");
    size_t tkhd = Begin(w, "tkhd");
    // Flags: enabled, in movie, in preview.
    w.u32be(t.enabled ? 0x0f : 0x0e);
    w.u32be(0);
    w.u32be(0);
    w.u32be(t.id);
    w.u32be(0);
    w.u32be(uint32_t(t.Duration()));
    w.zeros(8);
    w.u16be(0); // layer
    w.u16be(0); // alternate group
    w.u16be(uint16_t(m.type == SoundMediaType ? t.volume : 0));
    w.u16be(0);
    Matrix(w, t.matrix);
    w.u32be(uint32_t(t.width));
    w.u32be(uint32_t(t.height));
    End(w, tkhd);

    if (!t.edits.empty()) {
        size_t edts = Begin(w, "edts");
        size_t elst = Begin(w, "elst");
        w.u32be(0);
        w.u32be(uint32_t(t.edits.size()));
        for (const auto &e : t.edits) {
            w.u32be(uint32_t(e.duration));
            w.u32be(uint32_t(int32_t(e.mediaTime)));
            w.u32be(uint32_t(e.rate));
        }
        End(w, elst);
        End(w, edts);
    }
    if (!t.references.empty()) {
        size_t tref = Begin(w, "tref");
        for (const auto &r : t.references) {
            size_t at = w.size();
            w.u32be(0);
            w.fourcc(r.type);
            for (const TrackRecord *other : r.tracks) {
                w.u32be(other->id);
            }
            End(w, at);
        }
        End(w, tref);
    }

    size_t mdia = Begin(w, "mdia");
    size_t mdhd = Begin(w, "mdhd");
    w.u32be(0);
    w.u32be(0);
    w.u32be(0);
    w.u32be(uint32_t(m.timeScale));
    w.u32be(uint32_t(m.Duration()));
    w.u16be(0); // language
    w.u16be(0); // quality
    End(w, mdhd);
    size_t hdlr = Begin(w, "hdlr");
    w.u32be(0);
    w.fourcc("mhlr");
    w.fourcc(m.type);
    w.u32be(0);
    w.u32be(0);
    w.u32be(0);
    PascalName(w, HandlerName(m.type));
    End(w, hdlr);
    MediaInfo(w, m);
    End(w, mdia);
    End(w, trak);
    (void)movie;
}

} // namespace

void SetChunkOffset64Threshold(uint64_t threshold)
{
    gCo64Threshold.store(threshold, std::memory_order_relaxed);
}

OSErr WriteMovieAtom(MovieRecord *movie)
{
    if (!movie->outFile || movie->mdatHeader < 0) {
        return paramErr;
    }
    // Only tracks with media data, all of it in this file, are written.
    std::vector<TrackRecord *> tracks;
    uint32_t nextId = 1;
    for (const auto &t : movie->tracks) {
        const MediaRecord *m = t->media.get();
        if (!m || (m->samples.empty() && m->chunks.empty())) {
            continue;
        }
        for (const auto &f : m->files) {
            if (f != movie->outFile) {
                return paramErr;
            }
        }
        tracks.push_back(t.get());
    }
    // Written tracks are numbered from 1 in movie order; references follow the numbers.
    for (TrackRecord *t : tracks) {
        t->id = nextId++;
    }
    movie->nextTrackId = nextId;

    ByteWriter w;
    size_t moov = Begin(w, "moov");
    size_t mvhd = Begin(w, "mvhd");
    w.u32be(0);
    w.u32be(0);
    w.u32be(0);
    w.u32be(uint32_t(movie->timeScale));
    w.u32be(uint32_t(std::min<int64_t>(movie->Duration(), UINT32_MAX)));
    w.u32be(FixedOne); // rate
    w.u16be(0x100);    // volume
    w.zeros(10);
    Matrix(w, TrackRecord().matrix);
    w.zeros(24); // preview, poster, selection, current time
    w.u32be(nextId);
    End(w, mvhd);
    for (const TrackRecord *t : tracks) {
        TrackAtom(w, *movie, *t);
    }
    End(w, moov);

    // Close the media data atom: 'wide' + 32-bit 'mdat', or one 64-bit 'mdat' header.
    OSErr err = noErr;
    int64_t dataEnd = movie->appendAt;
    uint8_t h[16];
    uint64_t mdatSize = uint64_t(dataEnd - (movie->mdatHeader + 8));
    if (mdatSize <= UINT32_MAX) {
        StoreU32be(h, 8);
        StoreU32be(h + 4, FourCC("wide"));
        StoreU32be(h + 8, uint32_t(mdatSize));
        StoreU32be(h + 12, FourCC("mdat"));
    } else {
        StoreU32be(h, 1);
        StoreU32be(h + 4, FourCC("mdat"));
        StoreU64be(h + 8, uint64_t(dataEnd - movie->mdatHeader));
    }
    if (!movie->outFile->WriteAt(movie->mdatHeader, h, sizeof h, &err)
        || !movie->outFile->WriteAt(dataEnd, w.buffer().data(), w.size(), &err)) {
        return err;
    }
    if (!movie->outFile->Truncate(dataEnd + int64_t(w.size()))) {
        return ioErr;
    }
    movie->movieAtomAt = dataEnd;
    return noErr;
}

} // namespace lc::media
