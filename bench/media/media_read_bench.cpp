// Read-and-decode speed of a DV movie through the movie services: every video sample read with
// GetMediaSample and decoded to RGB, timed beside `ffmpeg -threads 1 -i same.mov -f null -`.
// Usage: media_read_bench [movie.mov]; without a movie it makes a 20 s NTSC DV one with ffmpeg.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/media/movie_controller.h"
#include "platform/media/movies.h"

#ifdef LC_BENCH_DECODES
void InstallMovieFrameDecoder(); // the codec side's, in lc_media
#endif

namespace {

int Run(const std::vector<std::string> &argv)
{
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char *> args;
        for (const auto &a : argv) {
            args.push_back(const_cast<char *>(a.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main(int argc, char **argv)
{
    std::string path;
    if (argc > 1) {
        path = argv[1];
    } else {
        const char *dir = std::getenv("TMPDIR");
        path = std::string(dir && *dir ? dir : "/tmp") + "/media_read_bench_ntsc_dv.mov";
        if (access(path.c_str(), R_OK) != 0
            && Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc=size=720x480:rate=30000/1001", "-f", "lavfi", "-i",
                    "sine=frequency=440:sample_rate=48000", "-t", "20", "-c:v", "dvvideo",
                    "-pix_fmt", "yuv411p", "-c:a", "pcm_s16le", "-ac", "2", path})
                   != 0) {
            std::fprintf(stderr, "could not make %s with ffmpeg\n", path.c_str());
            return 1;
        }
    }

    unsigned char name[256];
    name[0] = uint8_t(std::min<size_t>(path.size(), 255));
    std::copy(path.begin(), path.begin() + name[0], name + 1);
    FSSpec spec;
    short ref = 0;
    Movie movie = nullptr;
    FSMakeFSSpec(0, 0, name, &spec);
    if (OpenMovieFile(&spec, &ref, fsRdPerm) != noErr
        || NewMovieFromFile(&movie, ref, nullptr, nullptr, newMovieActive, nullptr) != noErr) {
        std::fprintf(stderr, "cannot open %s (%d)\n", path.c_str(), GetMoviesError());
        return 1;
    }
    CloseMovieFile(ref);
    Media media = GetTrackMedia(GetMovieIndTrackType(movie, 1, VisualMediaCharacteristic,
                                                     movieTrackCharacteristic));
    if (!media) {
        std::fprintf(stderr, "no video in %s\n", path.c_str());
        return 1;
    }

#ifdef LC_BENCH_DECODES
    InstallMovieFrameDecoder();
#endif
    // The installed frame decoder (none: reading alone is timed).
    MovieFrameDecodeProc decode = SetMovieFrameDecoder(nullptr);
    SetMovieFrameDecoder(decode);

    Handle data = NewHandle(9216000);
    HLock(data);
    Handle desc = NewHandle(4);
    std::vector<uint8_t> rgb;
    auto start = std::chrono::steady_clock::now();
    long frames = 0;
    for (TimeValue t = 0; t >= 0;) {
        long size = 0;
        if (GetMediaSample(media, data, 0, &size, t, nullptr, nullptr,
                           reinterpret_cast<SampleDescriptionHandle>(desc), nullptr, 1, nullptr,
                           nullptr)
            != noErr) {
            std::fprintf(stderr, "GetMediaSample failed at %d\n", int(t));
            return 1;
        }
        if (decode) {
            auto id = reinterpret_cast<ImageDescriptionHandle>(desc);
            int w = (**id).width, h = (**id).height;
            rgb.resize(size_t(w) * size_t(h) * 3);
            if (decode(reinterpret_cast<uint8_t *>(*data), size, id, rgb.data(), w * 3, w, h)
                != noErr) {
                std::fprintf(stderr, "decoding failed at %d\n", int(t));
                return 1;
            }
        }
        ++frames;
        TimeValue next = -1;
        GetMediaNextInterestingTime(media, nextTimeMediaSample, t, FixedOne, &next, nullptr);
        t = next >= 1 ? next : -1;
    }
    double ours = Seconds(start);
    DisposeHandle(data);
    DisposeHandle(desc);
    DisposeMovie(movie);

    start = std::chrono::steady_clock::now();
    int rc = Run({"ffmpeg", "-nostdin", "-v", "error", "-threads", "1", "-i", path, "-an", "-f",
                  "null", "-"});
    double theirs = Seconds(start);

    std::printf("%s: %ld frames\n", path.c_str(), frames);
    std::printf("movie services, read%s: %.1f frames/s\n", decode ? " and decode" : " only",
                frames / ours);
    if (rc == 0) {
        std::printf("ffmpeg -threads 1 -f null: %.1f frames/s\n", frames / theirs);
    }
    return 0;
}
