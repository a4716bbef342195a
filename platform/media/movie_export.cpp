#include <map>
#include <mutex>

#include "platform/media/internal/movie_model.h"
#include "platform/media/movies.h"
#include "platform/sys/file.h"

// Export: a movie written again as a self-contained QuickTime movie, sample by sample, with
// progress through the movie's progress procedure.

namespace {

std::mutex gHooksLock;
MovieExportHooks gHooks;

OSErr Set(OSErr err)
{
    SetMoviesError(err);
    return err;
}

class Progress
{
public:
    explicit Progress(Movie movie) : movie_(movie)
    {
        std::lock_guard<std::mutex> lock(gHooksLock);
        hooks_ = gHooks;
    }
    void Report(short message, int percent)
    {
        MovieProgressProcPtr p = movie_->progressProc;
        if (p == StandardMovieProgressProc()) {
            if (hooks_.showProgress) {
                hooks_.showProgress(message, percent);
            }
        } else if (p) {
            p(movie_, message, progressOpFlatten, Fixed(percent * FixedOne / 100),
              movie_->progressRefcon);
        }
    }

private:
    Movie movie_;
    MovieExportHooks hooks_;
};

// Copies every sample of from into to (media edits open), with progress.
OSErr CopyMedia(Media from, Media to, int64_t *done, int64_t total, Progress *progress)
{
    Handle data = NewHandle(0);
    Handle desc = NewHandle(4);
    if (!data || !desc) {
        DisposeHandle(data);
        DisposeHandle(desc);
        return memFullErr;
    }
    OSErr err = noErr;
    auto step = [&](int64_t bytes) {
        *done += bytes;
        progress->Report(movieProgressUpdatePercent, total ? int(*done * 100 / total) : 100);
    };
    if (from->frameMode) {
        for (size_t i = 0; i < from->chunks.size() && err == noErr; ++i) {
            const auto &c = from->chunks[i];
            long size = 0, count = 0;
            err = GetMediaSample(from, data, 0, &size, TimeValue(c.firstFrame), nullptr, nullptr,
                                 reinterpret_cast<SampleDescriptionHandle>(desc), nullptr,
                                 long(c.frames), &count, nullptr);
            if (err == noErr) {
                err = AddMediaSample(to, data, 0, uint64_t(size), 1,
                                     reinterpret_cast<SampleDescriptionHandle>(desc), count, 0,
                                     nullptr);
                step(size);
            }
        }
    } else {
        for (size_t i = 0; i < from->samples.size() && err == noErr; ++i) {
            const auto &s = from->samples[i];
            long size = 0;
            short flags = 0;
            err = GetMediaSample(from, data, 0, &size, s.time, nullptr, nullptr,
                                 reinterpret_cast<SampleDescriptionHandle>(desc), nullptr, 1,
                                 nullptr, &flags);
            if (err == noErr) {
                err = AddMediaSample(to, data, 0, uint64_t(size), s.duration,
                                     reinterpret_cast<SampleDescriptionHandle>(desc), 1, flags,
                                     nullptr);
                step(size);
            }
        }
    }
    DisposeHandle(data);
    DisposeHandle(desc);
    return err;
}

int64_t MediaBytes(const MediaRecord *m)
{
    int64_t n = 0;
    if (m->frameMode) {
        for (const auto &c : m->chunks) {
            n += int64_t(c.frames / m->layouts[c.desc].framesPerPacket)
                 * m->layouts[c.desc].bytesPerPacket;
        }
    } else {
        for (const auto &s : m->samples) {
            n += s.size;
        }
    }
    return n;
}

} // namespace

MovieExportHooks SetMovieExportHooks(MovieExportHooks hooks)
{
    std::lock_guard<std::mutex> lock(gHooksLock);
    MovieExportHooks old = gHooks;
    gHooks = hooks;
    return old;
}

void SetMovieProgressProc(Movie theMovie, MovieProgressProcPtr p, long refcon)
{
    if (!theMovie) {
        Set(invalidMovie);
        return;
    }
    theMovie->progressProc = p;
    theMovie->progressRefcon = refcon;
    Set(noErr);
}

OSErr ConvertMovieToFile(Movie theMovie, Track onlyTrack, FSSpec *outputFile, OSType fileType,
                         OSType creator, int16_t scriptTag, short *resID, long flags,
                         ComponentInstance)
{
    if (!theMovie) {
        return Set(invalidMovie);
    }
    if (onlyTrack && onlyTrack->movie != theMovie) {
        return Set(invalidTrack);
    }
    FSSpec chosen;
    if (flags & showUserSettingsDialog) {
        MovieExportHooks hooks;
        {
            std::lock_guard<std::mutex> lock(gHooksLock);
            hooks = gHooks;
        }
        if (!hooks.chooseExport || !hooks.chooseExport(theMovie, &chosen, &fileType)) {
            return Set(userCanceledErr);
        }
        outputFile = &chosen;
    }
    if (!outputFile || outputFile->name[0] == 0) {
        return Set(paramErr);
    }
    if (fileType != 0 && fileType != MovieFileType) {
        return Set(paramErr); // only QuickTime movies are exported
    }
    // Writing over a file the movie reads from would destroy its samples.
    std::string path(reinterpret_cast<const char *>(outputFile->name) + 1, outputFile->name[0]);
    int64_t total = 0;
    for (const auto &t : theMovie->tracks) {
        if (!t->media || (onlyTrack && t.get() != onlyTrack)) {
            continue;
        }
        for (const auto &f : t->media->files) {
            if (!f->path().empty() && lc::SameFile(f->path().c_str(), path.c_str())) {
                return Set(paramErr);
            }
        }
        total += MediaBytes(t->media.get());
    }

    Progress progress(theMovie);
    progress.Report(movieProgressOpen, 0);
    short ref = 0;
    Movie out = nullptr;
    OSErr err = CreateMovieFile(outputFile, creator, scriptTag, createMovieFileDeleteCurFile, &ref,
                                &out);
    if (err != noErr) {
        progress.Report(movieProgressClose, 100);
        return Set(err);
    }
    SetMovieTimeScale(out, theMovie->timeScale);
    std::map<const TrackRecord *, TrackRecord *> copies;
    int64_t done = 0;
    for (const auto &t : theMovie->tracks) {
        if (!t->media || (onlyTrack && t.get() != onlyTrack) || err != noErr) {
            continue;
        }
        Track nt = NewMovieTrack(out, t->width, t->height, t->volume);
        Media nm = nt ? NewTrackMedia(nt, t->media->type, t->media->timeScale, nullptr, 0) : nullptr;
        if (!nm) {
            err = GetMoviesError();
            break;
        }
        SetTrackEnabled(nt, t->enabled);
        SetTrackMatrix(nt, &t->matrix);
        BeginMediaEdits(nm);
        err = CopyMedia(t->media.get(), nm, &done, total, &progress);
        EndMediaEdits(nm);
        nt->edits = t->edits; // same movie time scale, same media times
        copies[t.get()] = nt;
    }
    if (err == noErr) {
        for (const auto &[from, to] : copies) {
            for (const auto &r : from->references) {
                for (const TrackRecord *target : r.tracks) {
                    auto it = copies.find(target);
                    if (it != copies.end()) {
                        AddTrackReference(to, it->second, r.type, nullptr);
                    }
                }
            }
        }
        err = AddMovieResource(out, ref, resID, nullptr);
    }
    CloseMovieFile(ref);
    DisposeMovie(out);
    progress.Report(movieProgressClose, 100);
    return Set(err);
}
