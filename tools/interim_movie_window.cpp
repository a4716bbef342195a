#include "tools/interim_movie_window.h"

#include <cstring>

#include <strings.h>
#include <unistd.h>

#include "formats/avi_reader.h"
#include "passes/conversion_state.h"
#include "passes/process_control.h"
#include "passes/process_movie.h"
#include "passes/source_kind.h"
#include "platform/media/image_compression.h"
#include "platform/media/movies.h"
#include "platform/media/standard_compression.h"
#include "platform/sys/text.h"

namespace {

bool EndsWith(const char *path, const char *tail)
{
    size_t n = std::strlen(path), m = std::strlen(tail);
    return n >= m && strcasecmp(path + n - m, tail) == 0;
}

} // namespace

int InterimMovieWindow::OpenMovie(const char *path)
{
    CloseMovie();
    if (!SetMoviePath(path) || access(path, R_OK) != 0) {
        ShowError("Could not open or read the movie");
        return 0;
    }
    gSourceKind.Clear();
    if (EndsWith(path, ".mxf")) {
        gSourceKind.isMxf = 1;
        gSourceKind.viaAviPlayer = 1;
        return 1;
    }
    if (EndsWith(path, ".avi")) {
        uint32_t frames = 0;
        int extended = 0;
        if (AviOpenRead(path, &frames, &extended) != 0) {
            AviCloseRead();
            ShowError("Could not open or read the AVI file");
            return 0;
        }
        gConversionState.sourceFrameCount = int32_t(frames);
        gSourceKind.isAvi = 1;
        const bool dv = gAviReadState.isDV != 0;
        AviCloseRead();
        if (!dv) {
            gSourceKind.viaAviPlayer = 1;
            isOpen = 1;
            return 1;
        }
    }
    gSourceKind.viaQuickTime = 1;
    char pascal[256];
    lc::CopyText(pascal, path);
    CToPascalString(pascal);
    FSSpec spec;
    FSMakeFSSpec(0, 0, reinterpret_cast<const unsigned char *>(pascal), &spec);
    short ref = 0;
    if (OpenMovieFile(&spec, &ref, fsRdPerm) != noErr) {
        ShowError("OpenMovieFile error: Could not open Movie");
        return 0;
    }
    OSErr err = NewMovieFromFile(&movie, ref, nullptr, nullptr, newMovieActive, nullptr);
    CloseMovieFile(ref);
    if (err != noErr || !movie) {
        ShowError("NewMovieFromFile error: Could not open Movie");
        return 0;
    }
    TimeValue t1 = FirstVideoSampleTime(movie);
    TimeValue t2 = t1 >= 0 ? NextVideoSampleTime(movie, t1) : -1;
    if (t2 > t1) {
        gConversionState.frameRateScale = GetMovieTimeScale(movie);
        gConversionState.frameRateDuration = t2 - t1;
    }
    isOpen = 1;
    return 1;
}

void InterimMovieWindow::CloseMovie()
{
    if (movie) {
        DisposeMovie(movie);
        movie = nullptr;
    }
    isOpen = 0;
    moviePath[0] = 0;
}
