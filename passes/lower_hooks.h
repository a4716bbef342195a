#pragma once

// Functions and reader states of the lower folders that the processing thread needs. They are
// reached through pointers so that this folder builds before those parts are joined; the
// start-up code points them at the real functions. A null hook does nothing and reads 0.
struct LowerHooks
{
    void (*stopMpegDecoder)() = nullptr;     // stops the MPEG-2 decoder thread and waits
    void (*fitVideoWindow)() = nullptr;      // refits the main window to the MPEG-2 picture
    void (*resetPulldownScores)() = nullptr; // fresh pulldown phase decision for a new movie
    int (*aviIsUncompressed)() = nullptr;    // the open AVI's video is uncompressed
    double (*mpegFrameRate)() = nullptr;     // the open MPEG-2 stream's frame rate, frames/s
};

extern LowerHooks gLowerHooks;
