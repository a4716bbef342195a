#include "platform/media/movies.h"

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/media/internal/movie_model.h"
#include "platform/sys/bytes.h"

using lc::media::ChunkEntry;
using lc::media::DataFile;
using lc::media::Edit;
using lc::media::SampleEntry;
using lc::media::ScaleTime;

namespace {

OSErr Set(OSErr err)
{
    SetMoviesError(err);
    return err;
}

// File references handed out by OpenMovieFile and CreateMovieFile.
struct FileRef
{
    std::shared_ptr<DataFile> file;
};
std::mutex gRefsLock;
std::map<short, FileRef> gRefs;
short gNextRef = 1;

short AddRef(FileRef ref)
{
    std::lock_guard<std::mutex> lock(gRefsLock);
    while (gRefs.count(gNextRef) || gNextRef <= 0) {
        gNextRef = short(gNextRef <= 0 ? 1 : gNextRef + 1);
    }
    short n = gNextRef++;
    gRefs[n] = std::move(ref);
    return n;
}

bool FindRef(short n, FileRef *out)
{
    std::lock_guard<std::mutex> lock(gRefsLock);
    auto it = gRefs.find(n);
    if (it == gRefs.end()) {
        return false;
    }
    *out = it->second;
    return true;
}

std::string SpecPath(const FSSpec *spec)
{
    return std::string(reinterpret_cast<const char *>(spec->name) + 1, spec->name[0]);
}

OSErr OpenErrorFromErrno()
{
    switch (errno) {
    case ENOENT:
    case ENOTDIR:
        return fnfErr;
    case ENOMEM:
        return memFullErr;
    case ENOSPC:
        return dskFulErr;
    default:
        return ioErr;
    }
}

// The file that media added to this movie go into: its output file, or a scratch file.
std::shared_ptr<DataFile> WritableFile(MovieRecord *movie, OSErr *err)
{
    if (!movie->outFile) {
        movie->outFile = DataFile::Temporary();
        if (!movie->outFile) {
            *err = ioErr;
            return nullptr;
        }
        movie->appendAt = 0;
        movie->mdatHeader = -1;
    }
    return movie->outFile;
}

bool IsVisual(const TrackRecord *t) { return t->media && t->media->type == VideoMediaType; }

bool MatchesType(const TrackRecord *t, OSType type, long flags)
{
    if ((flags & movieTrackEnabledOnly) && !t->enabled) {
        return false;
    }
    OSType media = t->media ? t->media->type : 0;
    if (flags & movieTrackCharacteristic) {
        if (type == VisualMediaCharacteristic) {
            return media == VideoMediaType;
        }
        if (type == AudioMediaCharacteristic) {
            return media == SoundMediaType;
        }
        return false;
    }
    return media == type;
}

// ---- Sample lookup on one media (media units) ------------------------------------------------

constexpr int64_t kNone = INT64_MIN;

// Index of the sample containing time, or -1.
int64_t SampleIndexAt(const MediaRecord *m, int64_t time)
{
    const auto &s = m->samples;
    if (s.empty() || time < 0) {
        return -1;
    }
    auto it = std::upper_bound(s.begin(), s.end(), time,
                               [](int64_t t, const SampleEntry &e) { return t < e.time; });
    if (it == s.begin()) {
        return -1;
    }
    --it;
    if (time >= int64_t(it->time) + it->duration && it + 1 == s.end()) {
        return -1;
    }
    return int64_t(it - s.begin());
}

// Smallest sample start >= time, or kNone.
int64_t StartAtOrAfter(const MediaRecord *m, int64_t time)
{
    if (time < 0) {
        time = 0;
    }
    if (m->frameMode) {
        return time < m->frameCount ? time : kNone;
    }
    const auto &s = m->samples;
    auto it = std::lower_bound(s.begin(), s.end(), time,
                               [](const SampleEntry &e, int64_t t) { return e.time < t; });
    return it == s.end() ? kNone : int64_t(it->time);
}

// Largest sample start <= time, or kNone.
int64_t StartAtOrBefore(const MediaRecord *m, int64_t time)
{
    if (time < 0) {
        return kNone;
    }
    if (m->frameMode) {
        if (m->frameCount == 0) {
            return kNone;
        }
        return std::min(time, m->frameCount - 1);
    }
    const auto &s = m->samples;
    auto it = std::upper_bound(s.begin(), s.end(), time,
                               [](int64_t t, const SampleEntry &e) { return t < e.time; });
    if (it == s.begin()) {
        return kNone;
    }
    return int64_t((it - 1)->time);
}

int64_t SampleDurationAt(const MediaRecord *m, int64_t start)
{
    if (m->frameMode) {
        return 1;
    }
    int64_t i = SampleIndexAt(m, start);
    return i < 0 ? 0 : m->samples[size_t(i)].duration;
}

// Movie time of media time x inside edit e.
int64_t EditMovieTime(const TrackRecord *t, const Edit &e, int64_t x)
{
    return e.trackStart + ScaleTime(x - e.mediaTime, t->movie->timeScale, t->media->timeScale);
}

struct Interesting
{
    int64_t time = kNone;
    int64_t duration = 0;
};

// Next sample boundary of one track after (forward) or before (backward) movie time T.
Interesting TrackInteresting(const TrackRecord *t, int64_t T, bool forward, bool edgeOK)
{
    Interesting best;
    const MediaRecord *m = t->media.get();
    if (!m) {
        return best;
    }
    auto better = [&](int64_t cand) {
        if (forward ? (edgeOK ? cand >= T : cand > T) : (edgeOK ? cand <= T : cand < T)) {
            return best.time == kNone || (forward ? cand < best.time : cand > best.time);
        }
        return false;
    };
    for (const Edit &e : t->edits) {
        if (e.mediaTime < 0 || e.duration <= 0) {
            continue;
        }
        int64_t mediaEnd = e.mediaTime + ScaleTime(e.duration, m->timeScale, t->movie->timeScale);
        int64_t editEnd = e.trackStart + e.duration;
        auto consider = [&](int64_t movieTime, int64_t x) {
            if (better(movieTime)) {
                int64_t next = StartAtOrAfter(m, x + 1);
                int64_t endMovie = (next == kNone || next >= mediaEnd)
                                       ? editEnd
                                       : std::min(editEnd, EditMovieTime(t, e, next));
                best.time = movieTime;
                best.duration = endMovie - movieTime;
            }
        };
        // The edit's start shows the sample that contains its media time.
        consider(e.trackStart, e.mediaTime);
        // Movie time grows with media time, so the wanted media time is found by bisection.
        auto passes = [&](int64_t y) {
            int64_t mv = EditMovieTime(t, e, y);
            return forward ? (edgeOK ? mv >= T : mv > T) : (edgeOK ? mv <= T : mv < T);
        };
        if (forward) {
            int64_t lo = e.mediaTime + 1, hi = mediaEnd; // first y in [lo, hi) that passes
            while (lo < hi) {
                int64_t mid = lo + (hi - lo) / 2;
                if (passes(mid)) {
                    hi = mid;
                } else {
                    lo = mid + 1;
                }
            }
            int64_t x = lo < mediaEnd ? StartAtOrAfter(m, lo) : kNone;
            if (x != kNone && x < mediaEnd) {
                consider(EditMovieTime(t, e, x), x);
            }
        } else {
            int64_t lo = e.mediaTime + 1, hi = mediaEnd; // last y in [lo, hi) that passes
            while (lo < hi) {
                int64_t mid = lo + (hi - lo) / 2;
                if (passes(mid)) {
                    lo = mid + 1;
                } else {
                    hi = mid;
                }
            }
            int64_t x = lo - 1 > e.mediaTime ? StartAtOrBefore(m, lo - 1) : kNone;
            if (x != kNone && x > e.mediaTime) {
                consider(EditMovieTime(t, e, x), x);
            }
        }
    }
    return best;
}

} // namespace

// ---- Start-up --------------------------------------------------------------------------------

OSErr InitializeQTML(long) { return Set(noErr); }
void TerminateQTML() { SetMoviesError(noErr); }
OSErr EnterMovies() { return Set(noErr); }
void ExitMovies() { SetMoviesError(noErr); }

OSErr Gestalt(OSType selector, long *response)
{
    if (!response) {
        return Set(paramErr);
    }
    if (selector != gestaltQuickTime) {
        return Set(-5551);
    }
    *response = kMoviesVersion;
    return Set(noErr);
}

// ---- Files -----------------------------------------------------------------------------------

OSErr FSMakeFSSpec(int16_t vRefNum, long dirID, const unsigned char *fileName, FSSpec *spec)
{
    if (!fileName || !spec) {
        return Set(paramErr);
    }
    spec->vRefNum = vRefNum;
    spec->parID = int32_t(dirID);
    std::memcpy(spec->name, fileName, size_t(fileName[0]) + 1);
    std::string path = SpecPath(spec);
    if (path.empty()) {
        return Set(paramErr);
    }
    auto f = DataFile::Open(path.c_str(), false, false);
    return Set(f ? noErr : fnfErr);
}

OSErr OpenMovieFile(const FSSpec *fileSpec, short *resRefNum, int8_t permission)
{
    if (!fileSpec || !resRefNum) {
        return Set(paramErr);
    }
    std::string path = SpecPath(fileSpec);
    auto f = DataFile::Open(path.c_str(), (permission & fsWrPerm) != 0, false);
    if (!f) {
        return Set(OpenErrorFromErrno());
    }
    *resRefNum = AddRef({f});
    return Set(noErr);
}

OSErr CloseMovieFile(short resRefNum)
{
    std::lock_guard<std::mutex> lock(gRefsLock);
    auto it = gRefs.find(resRefNum);
    if (it == gRefs.end()) {
        return Set(paramErr);
    }
    gRefs.erase(it);
    return Set(noErr);
}

OSErr NewMovieFromFile(Movie *theMovie, short resRefNum, short *resId, unsigned char *resName,
                       short, Boolean *dataRefWasChanged)
{
    if (!theMovie) {
        return Set(paramErr);
    }
    *theMovie = nullptr;
    if (resId) {
        *resId = 0;
    }
    if (resName) {
        resName[0] = 0;
    }
    if (dataRefWasChanged) {
        *dataRefWasChanged = 0;
    }
    FileRef ref;
    if (!FindRef(resRefNum, &ref)) {
        return Set(paramErr);
    }
    // QuickTime files start with an atom whose type is one of these.
    uint8_t head[8] = {};
    bool quickTime = false;
    if (ref.file->Size() >= 8 && ref.file->ReadAt(0, head, 8)) {
        switch (lc::LoadU32be(head + 4)) {
        case lc::FourCC("ftyp"):
        case lc::FourCC("moov"):
        case lc::FourCC("mdat"):
        case lc::FourCC("wide"):
        case lc::FourCC("free"):
        case lc::FourCC("skip"):
        case lc::FourCC("pnot"):
            quickTime = true;
            break;
        default:
            break;
        }
    }
    std::string why;
    Movie m = nullptr;
    OSErr err = quickTime ? lc::media::ReadQuickTimeMovie(ref.file, &m, &why)
                          : lc::media::ImportMovie(ref.file, &m, &why);
    if (err != noErr) {
        return Set(err);
    }
    *theMovie = m;
    return Set(noErr);
}

OSErr CreateMovieFile(const FSSpec *fileSpec, OSType, int16_t, long, short *resRefNum,
                      Movie *newMovie)
{
    if (!fileSpec || !resRefNum || !newMovie) {
        return Set(paramErr);
    }
    *newMovie = nullptr;
    std::string path = SpecPath(fileSpec);
    if (path.empty()) {
        return Set(paramErr);
    }
    auto f = DataFile::Open(path.c_str(), true, true);
    if (!f) {
        return Set(OpenErrorFromErrno());
    }
    // ftyp, then 16 bytes for the media data header: 'wide' + 'mdat' now, one 64-bit 'mdat'
    // header when the data outgrow 32 bits.
    lc::ByteWriter w;
    w.u32be(20);
    w.fourcc("ftyp");
    w.fourcc("qt  ");
    w.u32be(0x20050300);
    w.fourcc("qt  ");
    w.u32be(8);
    w.fourcc("wide");
    w.u32be(8);
    w.fourcc("mdat");
    OSErr err = noErr;
    if (!f->WriteAt(0, w.buffer().data(), w.size(), &err)) {
        return Set(err);
    }
    auto movie = std::make_unique<MovieRecord>();
    movie->outFile = f;
    movie->mdatHeader = 20;
    movie->appendAt = int64_t(w.size());
    *newMovie = movie.release();
    *resRefNum = AddRef({f});
    return Set(noErr);
}

OSErr AddMovieResource(Movie theMovie, short resRefNum, short *resId, const unsigned char *)
{
    if (!theMovie) {
        return Set(invalidMovie);
    }
    FileRef ref;
    if (!FindRef(resRefNum, &ref) || ref.file != theMovie->outFile || theMovie->mdatHeader < 0) {
        return Set(paramErr);
    }
    if (resId) {
        *resId = 128;
    }
    return Set(lc::media::WriteMovieAtom(theMovie));
}

// ---- Movies ----------------------------------------------------------------------------------

Movie NewMovie(long)
{
    auto *m = new (std::nothrow) MovieRecord();
    Set(m ? noErr : memFullErr);
    return m;
}

void DisposeMovie(Movie theMovie)
{
    if (!theMovie) {
        Set(invalidMovie);
        return;
    }
    delete theMovie;
    Set(noErr);
}

TimeScale GetMovieTimeScale(Movie theMovie)
{
    if (!theMovie) {
        Set(invalidMovie);
        return 0;
    }
    Set(noErr);
    return theMovie->timeScale;
}

void SetMovieTimeScale(Movie theMovie, TimeScale timeScale)
{
    if (!theMovie) {
        Set(invalidMovie);
        return;
    }
    if (timeScale <= 0) {
        Set(paramErr);
        return;
    }
    // Edits are kept in movie units: carry them to the new scale.
    for (auto &t : theMovie->tracks) {
        for (Edit &e : t->edits) {
            e.trackStart = ScaleTime(e.trackStart, timeScale, theMovie->timeScale);
            e.duration = ScaleTime(e.duration, timeScale, theMovie->timeScale);
        }
    }
    theMovie->timeScale = timeScale;
    Set(noErr);
}

TimeValue GetMovieDuration(Movie theMovie)
{
    if (!theMovie) {
        Set(invalidMovie);
        return 0;
    }
    Set(noErr);
    return TimeValue(std::min<int64_t>(theMovie->Duration(), INT32_MAX));
}

void GetMovieBox(Movie theMovie, Rect *box)
{
    if (!box) {
        Set(paramErr);
        return;
    }
    *box = Rect();
    if (!theMovie) {
        Set(invalidMovie);
        return;
    }
    for (const auto &t : theMovie->tracks) {
        if (t->enabled && IsVisual(t.get())) {
            box->right = std::max<int16_t>(box->right, int16_t(t->width >> 16));
            box->bottom = std::max<int16_t>(box->bottom, int16_t(t->height >> 16));
        }
    }
    Set(noErr);
}

void SetMoviePlayHints(Movie theMovie, long flags, long flagsMask)
{
    if (!theMovie) {
        Set(invalidMovie);
        return;
    }
    theMovie->playHints = (theMovie->playHints & ~flagsMask) | (flags & flagsMask);
    Set(noErr);
}

OSErr UpdateMovie(Movie theMovie) { return Set(theMovie ? noErr : invalidMovie); }

long GetMovieTrackCount(Movie theMovie)
{
    if (!theMovie) {
        Set(invalidMovie);
        return 0;
    }
    Set(noErr);
    return long(theMovie->tracks.size());
}

Track GetMovieIndTrack(Movie theMovie, long index)
{
    if (!theMovie) {
        Set(invalidMovie);
        return nullptr;
    }
    if (index < 1 || size_t(index) > theMovie->tracks.size()) {
        Set(invalidTrack);
        return nullptr;
    }
    Set(noErr);
    return theMovie->tracks[size_t(index - 1)].get();
}

Track GetMovieIndTrackType(Movie theMovie, long index, OSType trackType, long flags)
{
    if (!theMovie) {
        Set(invalidMovie);
        return nullptr;
    }
    long n = 0;
    for (const auto &t : theMovie->tracks) {
        if (MatchesType(t.get(), trackType, flags) && ++n == index) {
            Set(noErr);
            return t.get();
        }
    }
    Set(invalidTrack);
    return nullptr;
}

void GetMovieNextInterestingTime(Movie theMovie, short flags, short numMediaTypes,
                                 const OSType *whichMediaTypes, TimeValue time, Fixed rate,
                                 TimeValue *interestingTime, TimeValue *interestingDuration)
{
    if (interestingTime) {
        *interestingTime = -1;
    }
    if (interestingDuration) {
        *interestingDuration = 0;
    }
    if (!theMovie) {
        Set(invalidMovie);
        return;
    }
    if (rate == 0 || (numMediaTypes > 0 && !whichMediaTypes)) {
        Set(paramErr);
        return;
    }
    bool forward = rate > 0;
    bool edgeOK = (flags & nextTimeEdgeOK) != 0;
    auto search = [&](bool fwd, bool edge) {
        Interesting best;
        for (const auto &t : theMovie->tracks) {
            bool wanted = numMediaTypes <= 0;
            for (short i = 0; i < numMediaTypes && !wanted; ++i) {
                wanted = MatchesType(t.get(), whichMediaTypes[i], movieTrackCharacteristic)
                         || MatchesType(t.get(), whichMediaTypes[i], movieTrackMediaType);
            }
            if (!wanted || !t->enabled) {
                continue;
            }
            Interesting r = TrackInteresting(t.get(), time, fwd, edge);
            if (r.time != kNone
                && (best.time == kNone || (fwd ? r.time < best.time : r.time > best.time))) {
                best = r;
            }
        }
        return best;
    };
    Interesting best = search(forward, edgeOK);
    // Backwards from a time before the first sample (a movie that begins with an empty edit):
    // the first sample is the one wanted.
    if (best.time == kNone && !forward && edgeOK) {
        best = search(true, true);
    }
    if (best.time != kNone && interestingTime) {
        *interestingTime = TimeValue(std::min<int64_t>(best.time, INT32_MAX));
    }
    if (best.time != kNone && interestingDuration) {
        *interestingDuration = TimeValue(std::min<int64_t>(best.duration, INT32_MAX));
    }
    Set(noErr);
}

// ---- Tracks ----------------------------------------------------------------------------------

namespace lc::media {

TrackRecord *NewTrackFor(MovieRecord *movie, Fixed width, Fixed height, short volume)
{
    if (movie->tracks.size() >= kMaxTracks) {
        return nullptr;
    }
    auto t = std::make_unique<TrackRecord>();
    t->movie = movie;
    t->id = movie->nextTrackId++;
    t->width = width;
    t->height = height;
    t->volume = volume;
    movie->tracks.push_back(std::move(t));
    return movie->tracks.back().get();
}

MediaRecord *NewMediaFor(TrackRecord *track, OSType type, TimeScale scale)
{
    track->media = std::make_unique<MediaRecord>();
    MediaRecord *m = track->media.get();
    m->track = track;
    m->type = type;
    m->timeScale = scale;
    m->frameMode = type == SoundMediaType;
    m->handler.media = m;
    return m;
}

} // namespace lc::media

Track NewMovieTrack(Movie theMovie, Fixed width, Fixed height, short trackVolume)
{
    if (!theMovie) {
        Set(invalidMovie);
        return nullptr;
    }
    Track t = lc::media::NewTrackFor(theMovie, width, height, trackVolume);
    Set(t ? noErr : memFullErr);
    return t;
}

Media GetTrackMedia(Track theTrack)
{
    if (!theTrack) {
        Set(invalidTrack);
        return nullptr;
    }
    if (!theTrack->media) {
        Set(invalidMedia);
        return nullptr;
    }
    Set(noErr);
    return theTrack->media.get();
}

Movie GetTrackMovie(Track theTrack)
{
    if (!theTrack) {
        Set(invalidTrack);
        return nullptr;
    }
    Set(noErr);
    return theTrack->movie;
}

TimeValue GetTrackDuration(Track theTrack)
{
    if (!theTrack) {
        Set(invalidTrack);
        return 0;
    }
    Set(noErr);
    return TimeValue(std::min<int64_t>(theTrack->Duration(), INT32_MAX));
}

void GetTrackDimensions(Track theTrack, Fixed *width, Fixed *height)
{
    if (!theTrack) {
        Set(invalidTrack);
        return;
    }
    if (width) {
        *width = theTrack->width;
    }
    if (height) {
        *height = theTrack->height;
    }
    Set(noErr);
}

void SetTrackDimensions(Track theTrack, Fixed width, Fixed height)
{
    if (!theTrack) {
        Set(invalidTrack);
        return;
    }
    theTrack->width = width;
    theTrack->height = height;
    Set(noErr);
}

void SetTrackEnabled(Track theTrack, Boolean isEnabled)
{
    if (!theTrack) {
        Set(invalidTrack);
        return;
    }
    theTrack->enabled = isEnabled != 0;
    Set(noErr);
}

Boolean GetTrackEnabled(Track theTrack)
{
    if (!theTrack) {
        Set(invalidTrack);
        return 0;
    }
    Set(noErr);
    return theTrack->enabled ? 1 : 0;
}

short GetTrackVolume(Track theTrack)
{
    if (!theTrack) {
        Set(invalidTrack);
        return 0;
    }
    Set(noErr);
    return theTrack->volume;
}

void GetTrackMatrix(Track theTrack, MatrixRecord *matrix)
{
    if (!theTrack || !matrix) {
        Set(theTrack ? paramErr : invalidTrack);
        return;
    }
    *matrix = theTrack->matrix;
    Set(noErr);
}

void SetTrackMatrix(Track theTrack, const MatrixRecord *matrix)
{
    if (!theTrack) {
        Set(invalidTrack);
        return;
    }
    theTrack->matrix = matrix ? *matrix : TrackRecord().matrix;
    Set(noErr);
}

void SetTrackLoadSettings(Track theTrack, TimeValue, TimeValue, long, long defaultHints)
{
    if (!theTrack) {
        Set(invalidTrack);
        return;
    }
    theTrack->loadHints = defaultHints;
    Set(noErr);
}

OSErr AddTrackReference(Track theTrack, Track refTrack, OSType refType, long *addedIndex)
{
    if (!theTrack || !refTrack) {
        return Set(invalidTrack);
    }
    if (theTrack == refTrack || theTrack->movie != refTrack->movie) {
        return Set(paramErr);
    }
    auto it = std::find_if(theTrack->references.begin(), theTrack->references.end(),
                           [&](const auto &r) { return r.type == refType; });
    if (it == theTrack->references.end()) {
        theTrack->references.push_back({refType, {}});
        it = theTrack->references.end() - 1;
    }
    auto found = std::find(it->tracks.begin(), it->tracks.end(), refTrack);
    if (found == it->tracks.end()) {
        it->tracks.push_back(refTrack);
        found = it->tracks.end() - 1;
    }
    if (addedIndex) {
        *addedIndex = long(found - it->tracks.begin()) + 1;
    }
    return Set(noErr);
}

Track GetTrackReference(Track theTrack, OSType refType, long index)
{
    if (!theTrack) {
        Set(invalidTrack);
        return nullptr;
    }
    for (const auto &r : theTrack->references) {
        if (r.type == refType && index >= 1 && size_t(index) <= r.tracks.size()) {
            Set(noErr);
            return r.tracks[size_t(index - 1)];
        }
    }
    Set(noErr);
    return nullptr;
}

long GetTrackReferenceCount(Track theTrack, OSType refType)
{
    if (!theTrack) {
        Set(invalidTrack);
        return 0;
    }
    Set(noErr);
    for (const auto &r : theTrack->references) {
        if (r.type == refType) {
            return long(r.tracks.size());
        }
    }
    return 0;
}

OSErr InsertMediaIntoTrack(Track theTrack, TimeValue trackStart, TimeValue mediaTime,
                           TimeValue mediaDuration, Fixed mediaRate)
{
    if (!theTrack) {
        return Set(invalidTrack);
    }
    MediaRecord *m = theTrack->media.get();
    if (!m) {
        return Set(invalidMedia);
    }
    if (mediaRate != FixedOne || mediaDuration < 0 || trackStart < -1
        || (mediaTime < 0 && mediaTime != -1)) {
        return Set(paramErr);
    }
    if (mediaTime >= 0 && int64_t(mediaTime) + mediaDuration > m->Duration()) {
        return Set(invalidTime);
    }
    if (mediaDuration == 0) {
        return Set(noErr);
    }
    int64_t movieScale = theTrack->movie->timeScale;
    Edit e;
    e.mediaTime = mediaTime;
    e.duration = ScaleTime(mediaDuration, movieScale, m->timeScale);
    if (e.duration <= 0) {
        e.duration = 1;
    }
    int64_t end = theTrack->Duration();
    int64_t start = trackStart < 0 ? end : trackStart;
    auto &edits = theTrack->edits;
    if (start >= end) {
        if (start > end) {
            edits.push_back({end, start - end, -1, FixedOne}); // a gap before the new edit
        }
        e.trackStart = start;
        edits.push_back(e);
    } else {
        // Inside the track: split the edit there and move everything after it.
        std::vector<Edit> out;
        for (const Edit &old : edits) {
            if (old.trackStart + old.duration <= start) {
                out.push_back(old);
                continue;
            }
            if (old.trackStart < start) {
                Edit head = old;
                head.duration = start - old.trackStart;
                Edit tail = old;
                tail.trackStart = start;
                tail.duration = old.duration - head.duration;
                if (tail.mediaTime >= 0) {
                    tail.mediaTime += ScaleTime(head.duration, m->timeScale, movieScale);
                }
                out.push_back(head);
                out.push_back(tail);
            } else {
                out.push_back(old);
            }
        }
        for (Edit &x : out) {
            if (x.trackStart >= start) {
                x.trackStart += e.duration;
            }
        }
        e.trackStart = start;
        out.push_back(e);
        std::sort(out.begin(), out.end(),
                  [](const Edit &a, const Edit &b) { return a.trackStart < b.trackStart; });
        edits = std::move(out);
    }
    return Set(noErr);
}

TimeValue TrackTimeToMediaTime(TimeValue value, Track theTrack)
{
    if (!theTrack) {
        Set(invalidTrack);
        return -1;
    }
    Set(noErr);
    const MediaRecord *m = theTrack->media.get();
    if (!m) {
        return -1;
    }
    for (const Edit &e : theTrack->edits) {
        if (value < e.trackStart || value >= e.trackStart + e.duration) {
            continue;
        }
        if (e.mediaTime < 0) {
            return -1;
        }
        int64_t movieScale = theTrack->movie->timeScale;
        int64_t mt = e.mediaTime + (int64_t(value - e.trackStart) * m->timeScale) / movieScale;
        // A movie time that names a sample start (rounded from media time) gives that start.
        for (int64_t start : {StartAtOrBefore(m, mt), StartAtOrAfter(m, mt)}) {
            if (start != kNone && start >= e.mediaTime
                && EditMovieTime(theTrack, e, start) == value) {
                mt = start;
                break;
            }
        }
        return TimeValue(std::min<int64_t>(mt, INT32_MAX));
    }
    return -1;
}

// ---- Media -----------------------------------------------------------------------------------

Media NewTrackMedia(Track theTrack, OSType mediaType, TimeScale timeScale, Handle, OSType)
{
    if (!theTrack) {
        Set(invalidTrack);
        return nullptr;
    }
    if (timeScale <= 0 || theTrack->media) {
        Set(paramErr);
        return nullptr;
    }
    Media m = lc::media::NewMediaFor(theTrack, mediaType, timeScale);
    Set(noErr);
    return m;
}

Track GetMediaTrack(Media theMedia)
{
    if (!theMedia) {
        Set(invalidMedia);
        return nullptr;
    }
    Set(noErr);
    return theMedia->track;
}

OSType GetMediaType(Media theMedia)
{
    if (!theMedia) {
        Set(invalidMedia);
        return 0;
    }
    Set(noErr);
    return theMedia->type;
}

TimeScale GetMediaTimeScale(Media theMedia)
{
    if (!theMedia) {
        Set(invalidMedia);
        return 0;
    }
    Set(noErr);
    return theMedia->timeScale;
}

TimeValue GetMediaDuration(Media theMedia)
{
    if (!theMedia) {
        Set(invalidMedia);
        return 0;
    }
    Set(noErr);
    return TimeValue(std::min<int64_t>(theMedia->Duration(), INT32_MAX));
}

long GetMediaSampleCount(Media theMedia)
{
    if (!theMedia) {
        Set(invalidMedia);
        return 0;
    }
    Set(noErr);
    // Sound counts sound frames, whether stored as frames or as compressed packets.
    if (theMedia->frameMode || theMedia->type == SoundMediaType) {
        return long(theMedia->Duration());
    }
    return long(theMedia->samples.size());
}

long GetMediaSampleDescriptionCount(Media theMedia)
{
    if (!theMedia) {
        Set(invalidMedia);
        return 0;
    }
    Set(noErr);
    return long(theMedia->descriptions.size());
}

void GetMediaSampleDescription(Media theMedia, long index, SampleDescriptionHandle descH)
{
    if (!theMedia) {
        Set(invalidMedia);
        return;
    }
    if (!descH || index < 1 || size_t(index) > theMedia->descriptions.size()) {
        Set(paramErr);
        return;
    }
    bool ok = lc::media::DescriptionFromFile(theMedia->type,
                                             theMedia->descriptions[size_t(index - 1)], descH);
    Set(ok ? noErr : memFullErr);
}

void SetMediaPlayHints(Media theMedia, long flags, long flagsMask)
{
    if (!theMedia) {
        Set(invalidMedia);
        return;
    }
    theMedia->playHints = (theMedia->playHints & ~flagsMask) | (flags & flagsMask);
    Set(noErr);
}

OSErr BeginMediaEdits(Media theMedia)
{
    if (!theMedia) {
        return Set(invalidMedia);
    }
    theMedia->editing = true;
    return Set(noErr);
}

OSErr EndMediaEdits(Media theMedia)
{
    if (!theMedia) {
        return Set(invalidMedia);
    }
    theMedia->editing = false;
    return Set(noErr);
}

OSErr AddMediaSample(Media theMedia, Handle dataIn, long inOffset, unsigned long size,
                     TimeValue durationPerSample, SampleDescriptionHandle sampleDescriptionH,
                     long numberOfSamples, short sampleFlags, TimeValue *sampleTime)
{
    if (!theMedia) {
        return Set(invalidMedia);
    }
    if (!dataIn || !*dataIn || !sampleDescriptionH || !*sampleDescriptionH || inOffset < 0
        || numberOfSamples < 1 || durationPerSample < 0) {
        return Set(paramErr);
    }
    if (!theMedia->editing) {
        return Set(paramErr);
    }
    int32_t have = GetHandleSize(dataIn);
    if (size > uint64_t(have) || uint64_t(inOffset) > uint64_t(have) - size) {
        return Set(paramErr);
    }
    MovieRecord *movie = theMedia->track->movie;
    std::vector<uint8_t> desc = lc::media::DescriptionToFile(theMedia->type, sampleDescriptionH);
    if (desc.size() < 16) {
        return Set(paramErr);
    }

    // Reuse a byte-identical description, else add it.
    uint32_t descIndex = 0;
    while (descIndex < theMedia->descriptions.size() && theMedia->descriptions[descIndex] != desc) {
        ++descIndex;
    }
    bool newDesc = descIndex == theMedia->descriptions.size();
    if (newDesc && theMedia->descriptions.size() >= lc::media::kMaxDescriptions) {
        return Set(paramErr);
    }

    lc::media::FrameLayout layout;
    int64_t duration = int64_t(durationPerSample) * numberOfSamples;
    if (theMedia->frameMode) {
        // Sound: numberOfSamples frames of one size, one media unit each.
        if (size % uint64_t(numberOfSamples) != 0 || size == 0) {
            return Set(paramErr);
        }
        layout = lc::media::SoundFrameLayout(desc);
        if (layout.framesPerPacket <= 1) {
            layout.framesPerPacket = 1;
            layout.bytesPerPacket = uint32_t(size / uint64_t(numberOfSamples));
        }
        if (!newDesc && theMedia->layouts[descIndex].bytesPerPacket != layout.bytesPerPacket) {
            return Set(paramErr);
        }
        duration = numberOfSamples;
    }
    int64_t start = theMedia->Duration();
    if (start + duration > INT32_MAX) {
        return Set(paramErr);
    }

    OSErr err = noErr;
    auto file = WritableFile(movie, &err);
    if (!file) {
        return Set(err);
    }
    int64_t at = movie->appendAt;
    if (!file->WriteAt(at, *dataIn + inOffset, size, &err)) {
        return Set(err);
    }
    movie->appendAt = at + int64_t(size);

    uint8_t dataIndex = 0;
    while (dataIndex < theMedia->files.size() && theMedia->files[dataIndex] != file) {
        ++dataIndex;
    }
    if (dataIndex == theMedia->files.size()) {
        if (theMedia->files.size() >= 255) {
            return Set(paramErr);
        }
        theMedia->files.push_back(file);
    }
    if (newDesc) {
        theMedia->descriptions.push_back(desc);
        theMedia->layouts.push_back(layout);
    }

    if (theMedia->frameMode) {
        // Frames that follow the media's last chunk in the file extend it.
        if (!theMedia->chunks.empty()) {
            ChunkEntry &c = theMedia->chunks.back();
            const auto &l = theMedia->layouts[c.desc];
            int64_t endOfChunk = c.offset + int64_t(c.frames / l.framesPerPacket) * l.bytesPerPacket;
            if (c.desc == descIndex && c.data == dataIndex && endOfChunk == at
                && uint64_t(c.frames) + uint64_t(numberOfSamples) <= UINT32_MAX) {
                c.frames += uint32_t(numberOfSamples);
                theMedia->frameCount += numberOfSamples;
                if (sampleTime) {
                    *sampleTime = TimeValue(start);
                }
                return Set(noErr);
            }
        }
        if (theMedia->chunks.size() >= size_t(lc::media::kMaxChunks)) {
            return Set(paramErr);
        }
        theMedia->chunks.push_back({at, start, uint32_t(numberOfSamples), descIndex, dataIndex});
        theMedia->frameCount += numberOfSamples;
    } else {
        if (theMedia->samples.size() + size_t(numberOfSamples) > size_t(lc::media::kMaxSamples)) {
            return Set(paramErr);
        }
        // Several samples in one call share the bytes evenly.
        uint64_t each = size / uint64_t(numberOfSamples);
        for (long i = 0; i < numberOfSamples; ++i) {
            SampleEntry s;
            s.offset = at + int64_t(each) * i;
            s.size = uint32_t(i + 1 == numberOfSamples ? size - each * uint64_t(i) : each);
            s.desc = descIndex;
            s.data = dataIndex;
            s.time = TimeValue(start + int64_t(durationPerSample) * i);
            s.duration = durationPerSample;
            s.sync = (sampleFlags & mediaSampleNotSync) == 0;
            theMedia->samples.push_back(s);
        }
    }
    if (sampleTime) {
        *sampleTime = TimeValue(start);
    }
    return Set(noErr);
}

OSErr GetMediaSample(Media theMedia, Handle dataOut, long maxSizeToGrow, long *size,
                     TimeValue time, TimeValue *sampleTime, TimeValue *durationPerSample,
                     SampleDescriptionHandle sampleDescriptionH, long *sampleDescriptionIndex,
                     long maxNumberOfSamples, long *numberOfSamples, short *sampleFlags)
{
    if (size) {
        *size = 0;
    }
    if (numberOfSamples) {
        *numberOfSamples = 0;
    }
    if (!theMedia) {
        return Set(invalidMedia);
    }
    if (time < 0 || int64_t(time) >= theMedia->Duration()) {
        return Set(invalidTime);
    }
    uint32_t desc = 0;
    int64_t start = 0, duration = 0, count = 0;
    short flags = 0;
    // Pieces to read: (data file, offset, bytes).
    struct Piece
    {
        uint8_t data;
        int64_t offset;
        uint64_t bytes;
    };
    std::vector<Piece> pieces;
    uint64_t total = 0;
    if (theMedia->frameMode) {
        const auto &chunks = theMedia->chunks;
        auto it = std::upper_bound(chunks.begin(), chunks.end(), int64_t(time),
                                   [](int64_t t, const ChunkEntry &c) { return t < c.firstFrame; });
        if (it == chunks.begin()) {
            return Set(invalidTime);
        }
        --it;
        desc = it->desc;
        const auto &l = theMedia->layouts[desc];
        // Whole packets only: start at the packet holding the time.
        int64_t inChunk = (int64_t(time) - it->firstFrame) / l.framesPerPacket * l.framesPerPacket;
        start = it->firstFrame + inChunk;
        int64_t want = maxNumberOfSamples > 0 ? maxNumberOfSamples : int64_t(it->frames) - inChunk;
        for (; it != chunks.end() && want > 0 && it->desc == desc; ++it, inChunk = 0) {
            int64_t take = std::min<int64_t>(want, int64_t(it->frames) - inChunk);
            if (l.framesPerPacket > 1) {
                int64_t left = int64_t(it->frames) - inChunk;
                take = take < left ? take / l.framesPerPacket * l.framesPerPacket : left;
            }
            uint64_t bytes = uint64_t((take + l.framesPerPacket - 1) / l.framesPerPacket)
                             * l.bytesPerPacket;
            if (maxSizeToGrow > 0 && total + bytes > uint64_t(maxSizeToGrow)) {
                int64_t packets = int64_t((uint64_t(maxSizeToGrow) - total) / l.bytesPerPacket);
                take = std::min(take, packets * l.framesPerPacket);
                bytes = uint64_t(take / l.framesPerPacket) * l.bytesPerPacket;
                want = take; // the last piece
            }
            if (take <= 0) {
                break;
            }
            int64_t offset = it->offset + inChunk / l.framesPerPacket * l.bytesPerPacket;
            pieces.push_back({it->data, offset, bytes});
            total += bytes;
            count += take;
            want -= take;
        }
        if (count == 0) {
            return Set(paramErr); // maxSizeToGrow below one packet
        }
        duration = 1;
    } else if (theMedia->type == SoundMediaType) {
        // Packets of compressed sound (each its own size and duration), counted in sound frames
        // as the media's time runs: whole packets from the one holding the time, as many as the
        // frames asked for reach into (at least one), under one description.
        int64_t i = SampleIndexAt(theMedia, time);
        if (i < 0) {
            return Set(invalidTime);
        }
        const auto &samples = theMedia->samples;
        desc = samples[size_t(i)].desc;
        start = samples[size_t(i)].time;
        for (size_t k = size_t(i); k < samples.size() && samples[k].desc == desc; ++k) {
            const SampleEntry &s = samples[k];
            if (count > 0 && maxNumberOfSamples > 0 && count >= maxNumberOfSamples) {
                break;
            }
            if (maxSizeToGrow > 0 && total + s.size > uint64_t(maxSizeToGrow)) {
                break;
            }
            if (!pieces.empty() && pieces.back().data == s.data
                && pieces.back().offset + int64_t(pieces.back().bytes) == s.offset) {
                pieces.back().bytes += s.size;
            } else {
                pieces.push_back({s.data, s.offset, s.size});
            }
            total += s.size;
            count += s.duration;
        }
        if (pieces.empty()) {
            return Set(paramErr); // maxSizeToGrow below one packet
        }
        duration = 1;
    } else {
        int64_t i = SampleIndexAt(theMedia, time);
        if (i < 0) {
            return Set(invalidTime);
        }
        const SampleEntry &s = theMedia->samples[size_t(i)];
        if (maxSizeToGrow > 0 && s.size > uint64_t(maxSizeToGrow)) {
            return Set(paramErr);
        }
        desc = s.desc;
        start = s.time;
        duration = s.duration;
        count = 1;
        flags = s.sync ? 0 : mediaSampleNotSync;
        pieces.push_back({s.data, s.offset, s.size});
        total = s.size;
    }
    if (total > uint64_t(INT32_MAX)) {
        return Set(paramErr);
    }
    if (dataOut) {
        SetHandleSize(dataOut, int32_t(total));
        if (MemError() != noErr) {
            return Set(memFullErr);
        }
        uint64_t at = 0;
        for (const Piece &p : pieces) {
            if (!theMedia->files[p.data]->ReadAt(p.offset, *dataOut + at, size_t(p.bytes))) {
                return Set(ioErr);
            }
            at += p.bytes;
        }
    }
    if (sampleDescriptionH
        && !lc::media::DescriptionFromFile(theMedia->type, theMedia->descriptions[desc],
                                           sampleDescriptionH)) {
        return Set(memFullErr);
    }
    if (size) {
        *size = long(total);
    }
    if (sampleTime) {
        *sampleTime = TimeValue(start);
    }
    if (durationPerSample) {
        *durationPerSample = TimeValue(duration);
    }
    if (sampleDescriptionIndex) {
        *sampleDescriptionIndex = long(desc) + 1;
    }
    if (numberOfSamples) {
        *numberOfSamples = long(count);
    }
    if (sampleFlags) {
        *sampleFlags = flags;
    }
    return Set(noErr);
}

void GetMediaNextInterestingTime(Media theMedia, short interestingTimeFlags, TimeValue time,
                                 Fixed rate, TimeValue *interestingTime,
                                 TimeValue *interestingDuration)
{
    if (interestingTime) {
        *interestingTime = -1;
    }
    if (interestingDuration) {
        *interestingDuration = 0;
    }
    if (!theMedia) {
        Set(invalidMedia);
        return;
    }
    if (rate == 0) {
        Set(paramErr);
        return;
    }
    bool edgeOK = (interestingTimeFlags & nextTimeEdgeOK) != 0;
    int64_t t = rate > 0 ? StartAtOrAfter(theMedia, int64_t(time) + (edgeOK ? 0 : 1))
                         : StartAtOrBefore(theMedia, int64_t(time) - (edgeOK ? 0 : 1));
    if (t != kNone) {
        if (interestingTime) {
            *interestingTime = TimeValue(t);
        }
        if (interestingDuration) {
            *interestingDuration = TimeValue(SampleDurationAt(theMedia, t));
        }
    }
    Set(noErr);
}
