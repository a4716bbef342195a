#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/movies.h"
#include "platform/media/timecode_media.h"
#include "platform/sys/result.h"

// The in-memory model behind Movie, Track and Media: sample tables, edits and where the bytes
// live. The reader, the importers and the writer fill it; movies.cpp answers the calls from it.

namespace lc::media {

// Caps on what a file may declare, so hostile counts cannot make us allocate without bound.
constexpr int64_t kMaxSamples = int64_t(1) << 24;     // per media, sample-table entries
constexpr int64_t kMaxChunks = int64_t(1) << 24;
constexpr size_t kMaxMovieAtomBytes = size_t(256) << 20;
constexpr size_t kMaxDescriptions = 1024;
constexpr size_t kMaxDescriptionBytes = 1 << 20;
constexpr size_t kMaxTracks = 1024;
constexpr size_t kMaxEdits = 1 << 20;

// A file that sample bytes are read from (and, for a movie being written, written to).
class DataFile
{
public:
    ~DataFile();
    static std::shared_ptr<DataFile> Open(const char *path, bool writable, bool create);
    static std::shared_ptr<DataFile> Temporary(); // anonymous, removed when closed
    // Exactly n bytes at offset, or false.
    bool ReadAt(int64_t offset, void *dst, size_t n) const;
    bool WriteAt(int64_t offset, const void *src, size_t n, OSErr *err);
    bool Truncate(int64_t size);
    int64_t Size() const;
    int fd() const { return fd_; }
    const std::string &path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

struct SampleEntry
{
    int64_t offset = 0;
    uint32_t size = 0;
    uint32_t desc = 0; // 0-based description index
    TimeValue time = 0;
    TimeValue duration = 0;
    uint8_t data = 0; // index into MediaRecord::files
    bool sync = true;
};

// Sound whose frames all have one size: kept as chunks of frames, each frame one media unit.
struct ChunkEntry
{
    int64_t offset = 0;
    int64_t firstFrame = 0;
    uint32_t frames = 0;
    uint32_t desc = 0;
    uint8_t data = 0;
};

// Bytes of `frames` sound frames: frames / framesPerPacket packets of bytesPerPacket each.
struct FrameLayout
{
    uint32_t bytesPerPacket = 0;
    uint32_t framesPerPacket = 1;
};

struct Edit
{
    int64_t trackStart = 0; // movie units
    int64_t duration = 0;   // movie units
    int64_t mediaTime = -1; // media units; -1 an empty edit
    Fixed rate = FixedOne;
};

} // namespace lc::media

struct MediaHandlerRecord
{
    MediaRecord *media = nullptr;
    TCTextOptions textOptions;
    long tcFlags = tcdfShowTimeCode;
};

struct MediaRecord
{
    TrackRecord *track = nullptr;
    OSType type = 0;
    TimeScale timeScale = 600;
    std::vector<std::vector<uint8_t>> descriptions; // stsd entries as the file holds them
    bool frameMode = false;                         // sound kept as chunks of frames
    std::vector<lc::media::FrameLayout> layouts;    // per description, frame mode only
    std::vector<lc::media::SampleEntry> samples;
    std::vector<lc::media::ChunkEntry> chunks;
    int64_t frameCount = 0;                         // frame mode: total frames
    std::vector<std::shared_ptr<lc::media::DataFile>> files;
    bool editing = false;
    long playHints = 0;
    MediaHandlerRecord handler;

    int64_t Duration() const; // media units
};

struct TrackRecord
{
    MovieRecord *movie = nullptr;
    uint32_t id = 0;
    Fixed width = 0, height = 0;
    short volume = 0;
    bool enabled = true;
    MatrixRecord matrix = {{{FixedOne, 0, 0}, {0, FixedOne, 0}, {0, 0, 1 << 30}}};
    std::vector<lc::media::Edit> edits;
    bool hasEditList = true; // false: the media plays once from time 0
    std::unique_ptr<MediaRecord> media;
    struct Reference
    {
        OSType type;
        std::vector<TrackRecord *> tracks;
    };
    std::vector<Reference> references;
    std::vector<uint32_t> pendingRefIds; // reader: ids resolved once every track is known
    std::vector<OSType> pendingRefTypes;
    long loadHints = 0;

    int64_t Duration() const; // movie units
};

struct MovieRecord
{
    TimeScale timeScale = 600;
    std::vector<std::unique_ptr<TrackRecord>> tracks;
    uint32_t nextTrackId = 1;
    long playHints = 0;
    MovieProgressProcPtr progressProc = nullptr;
    long progressRefcon = 0;

    // A movie made by CreateMovieFile: its file and where media data go.
    std::shared_ptr<lc::media::DataFile> outFile;
    int64_t mdatHeader = 0;    // offset of the 16 bytes reserved for the mdat header
    int64_t appendAt = 0;      // next media byte goes here
    int64_t movieAtomAt = -1;  // offset of a movie atom already written

    int64_t Duration() const; // movie units
};

namespace lc::media {

// Rounds a * b / c to nearest (c > 0), in 64 bits.
int64_t ScaleTime(int64_t value, int64_t toScale, int64_t fromScale);

// Reads a QuickTime movie (.mov, .mp4) from file. Failures: a code of media_types.h and a text.
OSErr ReadQuickTimeMovie(const std::shared_ptr<DataFile> &file, Movie *out, std::string *why);
// Importers for other content; see movie_import.cpp.
OSErr ImportMovie(const std::shared_ptr<DataFile> &file, Movie *out, std::string *why);

// The file-order bytes of a description handle, and back. Fixed parts of video, sound and
// timecode descriptions are native fields in a handle and big-endian in a file; the rest is kept
// byte for byte.
std::vector<uint8_t> DescriptionToFile(OSType mediaType, SampleDescriptionHandle h);
bool DescriptionFromFile(OSType mediaType, const std::vector<uint8_t> &file,
                         SampleDescriptionHandle h);
FrameLayout SoundFrameLayout(const std::vector<uint8_t> &fileDescription);
bool IsPcmSound(OSType format);

// Writes the movie atom of movie into its output file (see movie_writer.cpp).
OSErr WriteMovieAtom(MovieRecord *movie);
// Offsets above this use 64-bit chunk offsets (tests lower it).
void SetChunkOffset64Threshold(uint64_t threshold);

MediaRecord *NewMediaFor(TrackRecord *track, OSType type, TimeScale scale);
TrackRecord *NewTrackFor(MovieRecord *movie, Fixed width, Fixed height, short volume);

} // namespace lc::media
