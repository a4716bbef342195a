// Fuzz target for the movie reader and importers: open the input as a movie, read every sample of
// every track and ask for the movie's times. The input is written to a file because movies are read
// from files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/media/movies.h"
#include "platform/sys/file.h"
#include "tests/support/fuzz_replay.h"

namespace {

constexpr size_t kMaxInput = 4u << 20;
constexpr int kMaxReads = 4000;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) {
        return 0;
    }
    static const std::string path = lc_test::FuzzWorkPath("fuzz_mov", ".mov");
    if (!lc::WriteWholeFile(path.c_str(), data, size).ok()) {
        return 0;
    }
    FSSpec spec;
    spec.name[0] = uint8_t(path.size());
    path.copy(reinterpret_cast<char *>(spec.name) + 1, path.size());
    short ref = 0;
    Movie movie = nullptr;
    if (OpenMovieFile(&spec, &ref, fsRdPerm) == noErr) {
        NewMovieFromFile(&movie, ref, nullptr, nullptr, newMovieActive, nullptr);
        CloseMovieFile(ref);
    }
    if (movie) {
        Handle sample = NewHandle(0);
        Handle desc = NewHandle(4);
        int reads = 0;
        for (long i = 1; i <= GetMovieTrackCount(movie); ++i) {
            Track track = GetMovieIndTrack(movie, i);
            Media media = GetTrackMedia(track);
            for (TimeValue t = 0; media && t >= 0 && reads < kMaxReads; ++reads) {
                long count = 0;
                if (GetMediaSample(media, sample, 0, nullptr, t, nullptr, nullptr,
                                   reinterpret_cast<SampleDescriptionHandle>(desc), nullptr, 1000,
                                   &count, nullptr)
                    != noErr) {
                    break;
                }
                TimeValue next = -1;
                GetMediaNextInterestingTime(media, nextTimeMediaSample, t + TimeValue(count) - 1,
                                            FixedOne, &next, nullptr);
                t = next >= 1 ? next : -1;
            }
            TrackTimeToMediaTime(GetTrackDuration(track) / 2, track);
        }
        OSType eyes = VisualMediaCharacteristic;
        TimeValue t = -1;
        GetMovieNextInterestingTime(movie, nextTimeMediaSample | nextTimeEdgeOK, 1, &eyes, 0,
                                    -FixedOne, &t, nullptr);
        GetMovieNextInterestingTime(movie, nextTimeMediaSample, 1, &eyes, t, FixedOne, &t, nullptr);
        DisposeHandle(sample);
        DisposeHandle(desc);
        DisposeMovie(movie);
    }
    lc::DeletePath(path.c_str());
    return 0;
}
