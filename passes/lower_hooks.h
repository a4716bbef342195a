#pragma once

// Functions and states of the MPEG-2 input that the processing thread needs. They are reached
// through pointers so that this folder builds before that part is joined; the start-up code
// points them at the real functions. A null hook does nothing and reads 0.
struct LowerHooks
{
    void (*stopMpegDecoder)() = nullptr; // stops the MPEG-2 decoder thread and waits
    void (*fitVideoWindow)() = nullptr;  // refits the main window to the MPEG-2 picture
    double (*mpegFrameRate)() = nullptr; // the open MPEG-2 stream's frame rate, frames/s
};

extern LowerHooks gLowerHooks;
