#pragma once

#include "passes/movie_window.h"

// A movie object that opens sources for processing as the application's open records them: DV
// AVI files and movies through the media layer (a DV AVI also probed by the AVI reader), other AVI
// files by the own reader, MXF clips for viewing only. It serves the headless runner and the
// end-to-end tests until the application's own open is joined.
class InterimMovieWindow : public CMovieWindow
{
public:
    int OpenMovie(const char *path) override; // 1 opened, 0 failed (shown)
    void CloseMovie() override;
};
