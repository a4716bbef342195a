#pragma once

#include <string>

#include "platform/media/movies.h"

// What ffprobe reads of the first video stream: "codec,width,height,frames".
std::string ProbeVideo(const std::string &path);

// A new movie file at path (replacing an older one) with the given time scale, as ProcessMovie
// creates it. FinishMovie adds the movie resource, closes the file and disposes the movie.
struct OutputMovie
{
    Movie movie = nullptr;
    short ref = 0;
    unsigned char name[256] = {};
};
OSErr CreateOutputMovie(const std::string &path, TimeScale timeScale, OutputMovie *out);
OSErr FinishMovie(OutputMovie *m);
