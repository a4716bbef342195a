#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/media/internal/movie_model.h"
#include "platform/sys/bytes.h"

namespace lc::media {

DataFile::~DataFile()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::shared_ptr<DataFile> DataFile::Open(const char *path, bool writable, bool create)
{
    int flags = writable ? O_RDWR : O_RDONLY;
    if (create) {
        flags |= O_CREAT | O_TRUNC;
    }
    int fd = ::open(path, flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    auto f = std::make_shared<DataFile>();
    f->fd_ = fd;
    f->path_ = path;
    return f;
}

std::shared_ptr<DataFile> DataFile::Temporary()
{
    const char *dir = std::getenv("TMPDIR");
    std::string tmpl = std::string(dir && *dir ? dir : "/tmp") + "/lc_media_XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) {
        return nullptr;
    }
    ::unlink(name.data()); // gone from the folder; lives while open
    auto f = std::make_shared<DataFile>();
    f->fd_ = fd;
    return f;
}

bool DataFile::ReadAt(int64_t offset, void *dst, size_t n) const
{
    if (offset < 0) {
        return false;
    }
    auto *p = static_cast<uint8_t *>(dst);
    while (n > 0) {
        ssize_t r = ::pread(fd_, p, n, off_t(offset));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return false;
        }
        p += r;
        n -= size_t(r);
        offset += r;
    }
    return true;
}

bool DataFile::WriteAt(int64_t offset, const void *src, size_t n, OSErr *err)
{
    auto *p = static_cast<const uint8_t *>(src);
    while (n > 0) {
        ssize_t r = ::pwrite(fd_, p, n, off_t(offset));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            if (err) {
                *err = (r < 0 && (errno == ENOSPC || errno == EFBIG || errno == EDQUOT)) ? dskFulErr
                                                                                        : ioErr;
            }
            return false;
        }
        p += r;
        n -= size_t(r);
        offset += r;
    }
    return true;
}

bool DataFile::Truncate(int64_t size) { return ::ftruncate(fd_, off_t(size)) == 0; }

int64_t DataFile::Size() const
{
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
        return -1;
    }
    return int64_t(st.st_size);
}

__extension__ typedef __int128 Int128; // products of two 64-bit times

int64_t ScaleTime(int64_t value, int64_t toScale, int64_t fromScale)
{
    if (fromScale <= 0 || toScale == fromScale) {
        return value;
    }
    Int128 n = Int128(value) * toScale;
    Int128 half = fromScale / 2;
    Int128 q = n >= 0 ? (n + half) / fromScale : -((-n + half) / fromScale);
    if (q > INT64_MAX) {
        return INT64_MAX;
    }
    if (q < INT64_MIN) {
        return INT64_MIN;
    }
    return int64_t(q);
}

bool IsPcmSound(OSType format)
{
    switch (format) {
    case FourCC("sowt"):
    case FourCC("twos"):
    case FourCC("raw "):
    case FourCC("NONE"):
    case FourCC("in24"):
    case FourCC("in32"):
    case FourCC("fl32"):
    case FourCC("fl64"):
    case FourCC("lpcm"):
        return true;
    default:
        return false;
    }
}

// Sound descriptions: version 0 gives frames from channels and bits; version 1 adds packet
// fields (offset 36: frames per packet, bytes per packet per channel, bytes per frame);
// version 2 gives constant bytes and frames per packet (offsets 64 and 68).
FrameLayout SoundFrameLayout(const std::vector<uint8_t> &d)
{
    FrameLayout l;
    if (d.size() < 36) {
        return l;
    }
    uint16_t version = LoadU16be(&d[16]);
    uint32_t channels = LoadU16be(&d[24]);
    uint32_t bits = LoadU16be(&d[26]);
    OSType format = LoadU32be(&d[4]);
    if (version == 1 && d.size() >= 52) {
        uint32_t framesPerPacket = LoadU32be(&d[36]);
        uint32_t bytesPerFrame = LoadU32be(&d[44]); // a packet of all channels
        if (IsPcmSound(format)) {
            framesPerPacket = 1;
        }
        if (framesPerPacket > 0 && bytesPerFrame > 0) {
            l.framesPerPacket = framesPerPacket;
            l.bytesPerPacket = bytesPerFrame;
            return l;
        }
    } else if (version == 2 && d.size() >= 72) {
        uint32_t ch = LoadU32be(&d[48]);
        uint32_t bytesPerPacket = LoadU32be(&d[64]);
        uint32_t framesPerPacket = LoadU32be(&d[68]);
        if (bytesPerPacket > 0 && framesPerPacket > 0) {
            l.bytesPerPacket = bytesPerPacket;
            l.framesPerPacket = framesPerPacket;
            return l;
        }
        channels = ch;
        bits = LoadU32be(&d[56]);
    }
    if (format == FourCC("in24")) {
        bits = 24;
    } else if (format == FourCC("in32") || format == FourCC("fl32")) {
        bits = 32;
    } else if (format == FourCC("fl64")) {
        bits = 64;
    }
    l.bytesPerPacket = channels * ((bits + 7) / 8);
    l.framesPerPacket = 1;
    return l;
}

namespace {

// One field of a fixed part: its width in the file (1, 2, 4 or raw n bytes) and in the handle.
struct Field
{
    int fileWidth;   // bytes in the file
    int nativeWidth; // bytes in the handle (padding included)
    bool raw;        // copied as bytes
};

// Generic header: size, format, 6 reserved bytes, data reference index.
constexpr Field kHeader[] = {{4, 4, false}, {4, 4, false}, {4, 4, false}, {2, 2, false}, {2, 2, false}};
constexpr Field kVideo[] = {{4, 4, false}, {4, 4, false}, {4, 4, false}, {2, 2, false},
                            {2, 2, false}, {2, 2, false}, {2, 2, false}, {4, 4, false},
                            {4, 4, false}, {4, 4, false}, {2, 2, false}, {2, 2, false},
                            {4, 4, false}, {4, 4, false}, {4, 4, false}, {2, 2, false},
                            {32, 32, true}, {2, 2, false}, {2, 2, false}};
constexpr Field kSound[] = {{4, 4, false}, {4, 4, false}, {4, 4, false}, {2, 2, false},
                            {2, 2, false}, {2, 2, false}, {2, 2, false}, {4, 4, false},
                            {2, 2, false}, {2, 2, false}, {2, 2, false}, {2, 2, false},
                            {4, 4, false}};
constexpr Field kTimeCode[] = {{4, 4, false}, {4, 4, false}, {4, 4, false}, {2, 2, false},
                               {2, 2, false}, {4, 4, false}, {4, 4, false}, {4, 4, false},
                               {4, 4, false}, {1, 1, false}, {1, 3, true}};

struct Layout
{
    const Field *fields;
    size_t count;
    size_t fileSize;
    size_t nativeSize;
};

Layout LayoutFor(OSType mediaType)
{
    auto make = [](const Field *f, size_t n) {
        Layout l{f, n, 0, 0};
        for (size_t i = 0; i < n; ++i) {
            l.fileSize += size_t(f[i].fileWidth);
            l.nativeSize += size_t(f[i].nativeWidth);
        }
        return l;
    };
    switch (mediaType) {
    case VideoMediaType:
        return make(kVideo, std::size(kVideo));
    case SoundMediaType:
        return make(kSound, std::size(kSound));
    case TimeCodeMediaType:
        return make(kTimeCode, std::size(kTimeCode));
    default:
        return make(kHeader, std::size(kHeader));
    }
}

} // namespace

std::vector<uint8_t> DescriptionToFile(OSType mediaType, SampleDescriptionHandle h)
{
    std::vector<uint8_t> out;
    if (!h || !*h) {
        return out;
    }
    Layout l = LayoutFor(mediaType);
    size_t have = size_t(GetHandleSize(reinterpret_cast<Handle>(h)));
    const auto *p = reinterpret_cast<const uint8_t *>(*h);
    if (have < l.nativeSize) {
        // Shorter than the fixed part: zero-fill to it, as a fresh description would be.
        std::vector<uint8_t> padded(l.nativeSize, 0);
        std::memcpy(padded.data(), p, have);
        SampleDescriptionHandle tmp = reinterpret_cast<SampleDescriptionHandle>(
            NewHandle(int32_t(l.nativeSize)));
        if (!tmp) {
            return out;
        }
        std::memcpy(*tmp, padded.data(), padded.size());
        out = DescriptionToFile(mediaType, tmp);
        DisposeHandle(reinterpret_cast<Handle>(tmp));
        return out;
    }
    size_t at = 0;
    for (size_t i = 0; i < l.count; ++i) {
        const Field &f = l.fields[i];
        if (f.raw) {
            out.insert(out.end(), p + at, p + at + f.fileWidth);
        } else {
            uint32_t v = 0;
            if (f.nativeWidth == 4) {
                std::memcpy(&v, p + at, 4);
            } else if (f.nativeWidth == 2) {
                uint16_t s;
                std::memcpy(&s, p + at, 2);
                v = s;
            } else {
                v = p[at];
            }
            for (int b = f.fileWidth - 1; b >= 0; --b) {
                out.push_back(uint8_t(v >> (8 * b)));
            }
        }
        at += size_t(f.nativeWidth);
    }
    out.insert(out.end(), p + at, p + have);
    StoreU32be(out.data(), uint32_t(out.size()));
    return out;
}

bool DescriptionFromFile(OSType mediaType, const std::vector<uint8_t> &file,
                         SampleDescriptionHandle h)
{
    if (!h) {
        return false;
    }
    Layout l = LayoutFor(mediaType);
    std::vector<uint8_t> src = file;
    if (src.size() < l.fileSize) {
        src.resize(l.fileSize, 0);
    }
    size_t total = l.nativeSize + (src.size() - l.fileSize);
    SetHandleSize(reinterpret_cast<Handle>(h), int32_t(total));
    if (MemError() != noErr) {
        return false;
    }
    auto *p = reinterpret_cast<uint8_t *>(*h);
    std::memset(p, 0, total);
    size_t at = 0, from = 0;
    for (size_t i = 0; i < l.count; ++i) {
        const Field &f = l.fields[i];
        if (f.raw) {
            std::memcpy(p + at, &src[from], size_t(f.fileWidth));
        } else {
            uint32_t v = 0;
            for (int b = 0; b < f.fileWidth; ++b) {
                v = (v << 8) | src[from + size_t(b)];
            }
            if (f.nativeWidth == 4) {
                std::memcpy(p + at, &v, 4);
            } else if (f.nativeWidth == 2) {
                uint16_t s = uint16_t(v);
                std::memcpy(p + at, &s, 2);
            } else {
                p[at] = uint8_t(v);
            }
        }
        at += size_t(f.nativeWidth);
        from += size_t(f.fileWidth);
    }
    std::memcpy(p + at, src.data() + from, src.size() - from);
    int32_t size = int32_t(total);
    std::memcpy(p, &size, 4);
    return true;
}

} // namespace lc::media

int64_t MediaRecord::Duration() const
{
    if (frameMode) {
        return frameCount;
    }
    if (samples.empty()) {
        return 0;
    }
    return int64_t(samples.back().time) + samples.back().duration;
}

int64_t TrackRecord::Duration() const
{
    if (!hasEditList) {
        return media ? lc::media::ScaleTime(media->Duration(), movie->timeScale, media->timeScale)
                     : 0;
    }
    int64_t end = 0;
    for (const auto &e : edits) {
        end = std::max(end, e.trackStart + e.duration);
    }
    return end;
}

int64_t MovieRecord::Duration() const
{
    int64_t d = 0;
    for (const auto &t : tracks) {
        d = std::max(d, t->Duration());
    }
    return d;
}
